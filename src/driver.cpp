#include "driver.h"

#include "LiDAR.h"
#include "coordinate_system.h"
#include "dbf_writer.h"
#include "end_run.h"
#include "file_guard.h"
#include "las_model.hpp"
#include "output.h"
#include "shp_writer.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void refuse(const char *message, const char *name) {
    std::printf(message, name);
    end_run(-1);
}

// The writers of each LAS type, picked by the type index.
template <int N> struct Writers;
#define TESSALINE_WRITERS(N)                                                      \
    template <> struct Writers<N> {                                               \
        static constexpr auto createDBF = createDBF##N;                           \
        static constexpr auto addtoSHP = addtoSHP##N;                             \
        static constexpr auto addtoDBF = addtoDBF##N;                             \
    };
TESSALINE_WRITERS(1)
TESSALINE_WRITERS(2)
TESSALINE_WRITERS(3)
TESSALINE_WRITERS(4)
TESSALINE_WRITERS(5)
TESSALINE_WRITERS(6)
TESSALINE_WRITERS(7)
TESSALINE_WRITERS(8)
#undef TESSALINE_WRITERS

// LAS 1.0 format 0 shows its progress with one decimal, every other type
// with two.
constexpr int progress_decimals(int las_type) { return las_type == 1 ? 1 : 2; }

// Writes the final record count into the table's header (bytes 4 to 7,
// little-endian), before any row is appended.
void fix_record_count(const char *dbfname, uint32_t records) {
    std::FILE *f = std::fopen(dbfname, "rb+");
    if (f == nullptr) refuse("\nUnable to open %s for updating\n", dbfname);
    const bool written = std::fseek(f, 4, SEEK_SET) == 0 && std::fwrite(&records, 4, 1, f) == 1;
    if (std::fclose(f) != 0 || !written) fail_writing(dbfname);
}

template <int N>
void convert(std::FILE *fp, const char *lasname, const char *shpname, const char *dbfname, const char *prjname) {
    using Header = typename lidar::LasType<N>::Header;
    using Point = typename lidar::LasType<N>::Point;
    constexpr uint64_t kRecordBytes = sizeof(Point);

    Header ph;
    if (std::fread(&ph, sizeof ph, 1, fp) != 1) refuse("\nUnexpected end of %s while reading the header\n", lasname);
    const uint32_t ptsInLAS = ph.NumberOfPointReturns;

    // Limits are checked before any output file exists.
    if (ptsInLAS > kMaxShapefilePoints) {
        std::printf("\n%s holds %u points, more than the %u that a shapefile can hold\n", lasname, ptsInLAS,
                    kMaxShapefilePoints);
        end_run(-1);
    }
    struct stat st;
    const uint64_t size = ::fstat(::fileno(fp), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    if (ptsInLAS > 0) {
        const uint64_t needed = ph.OffsetToData + ptsInLAS * kRecordBytes;
        if (size < needed) {
            const unsigned long long present = size > ph.OffsetToData ? (size - ph.OffsetToData) / kRecordBytes : 0;
            std::printf("\n%s is truncated: %u point records declared, %llu present\n", lasname, ptsInLAS, present);
            end_run(-1);
        }
    }
    // The coordinate system is worked out before any output exists; its
    // file is written once the shapefile is complete.
    const std::string prj = esri_wkt_of(read_projection_records(
        fp, RecordArea{ph.HeaderSize, ph.OffsetToData, ph.NumberOfVariableLengthRecords, size}));

    if (std::fseek(fp, static_cast<long>(ph.OffsetToData), SEEK_SET) != 0)
        refuse("\nUnexpected end of %s while reading point records\n", lasname);

    // One chunk's worth of records, reused for every chunk.
    const uint32_t capacity = ptsInLAS < uint32_t{kChunkRecords} ? ptsInLAS : uint32_t{kChunkRecords};
    std::unique_ptr<Point[]> points(new (std::nothrow) Point[capacity == 0 ? 1 : capacity]);
    if (!points) {
        std::puts("Failed to allocate memory for return structure");
        end_run(-1);
    }

    // Every name the run creates, truncates or removes, in the order of its outputs.
    std::vector<std::string> outputs = {shpname, shx_name_of(shpname), dbfname, cpg_name_of(dbfname)};
    if (!prj.empty()) outputs.push_back(prjname);
    refuse_same_files(::fileno(fp), lasname, outputs);
    lock_input(::fileno(fp), lasname);

    const auto count = static_cast<int32_t>(ptsInLAS);
    createSHPwHeader(shpname, count, ph.MinX, ph.MinY, ph.MaxX, ph.MaxY, ph.MinZ, ph.MaxZ);
    createSHXwHeader(shpname, count, ph.MinX, ph.MinY, ph.MaxX, ph.MaxY, ph.MinZ, ph.MaxZ);
    Writers<N>::createDBF(dbfname);
    fix_record_count(dbfname, ptsInLAS);

    const int32_t nChunks = count / kChunkRecords;
    const int32_t remainingRecords = count - nChunks * kChunkRecords;
    auto convert_chunk = [&](int32_t records, int32_t chunkID) {
        if (std::fread(points.get(), kRecordBytes, static_cast<size_t>(records), fp) != static_cast<size_t>(records))
            refuse("\nUnexpected end of %s while reading point records\n", lasname);
        Writers<N>::addtoSHP(shpname, points.get(), &ph, records, chunkID);
        Writers<N>::addtoDBF(dbfname, points.get(), &ph, records);
    };
    for (int32_t i = 0; i < nChunks; ++i) {
        // The share of points done once this chunk is written.
        std::printf("\rProcessing ... %.*f%% done", progress_decimals(N),
                    (i + 1) * 100.0 * kChunkRecords / ptsInLAS);
        std::fflush(stdout);
        convert_chunk(kChunkRecords, i);
    }
    if (remainingRecords > 0) convert_chunk(remainingRecords, nChunks);
    // Without a coordinate system no .prj is written: one already there may be the user's own.
    if (!prj.empty()) write_prj(prjname, prj);
    std::printf("\r%78s\r", " ");
}

constexpr char kUsageLine[] = "Tessaline <LAS file>";

constexpr char kHelp[] =
    "\n"
    "Converts one LAS file (version 1.0, 1.1 or 1.2, point format 0, 1, 2 or 3) into an ESRI Shapefile\n"
    "written beside it under the same name: NAME.shp with one PointZ shape per point, its index NAME.shx,\n"
    "the points' attributes in the dBASE table NAME.dbf and, when the LAS file carries a coordinate\n"
    "system, NAME.prj. Existing outputs of those names are replaced. The name must end in \".las\".\n"
    "Every message, refusals included, goes to standard output.\n"
    "\n"
    "Exit status:\n"
    "  0    the conversion completed (or --help, --version)\n"
    "  255  the file was refused or the conversion failed; a message says why\n";

}  // namespace

int tessaline_run(int argc, char *argv[]) {
    // Neither name ends in ".las", so neither can be a LAS file to convert.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s\n       Tessaline --help | --version\n%s", kUsageLine, kHelp);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Tessaline " TESSALINE_VERSION);
        return 0;
    }
    if (argc != 2) {
        std::puts("\nMissing or excessive number of arguments");
        std::puts("Usage:");
        std::puts(kUsageLine);
        credits();
        end_run(-1);
    }
    const char *lasname = argv[1];

    // Opened without waiting: a named pipe given as input must be refused by
    // the validation below, not wait here for a writer that never comes.
    const int fd = ::open(lasname, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    InputFile fp(fd < 0 ? nullptr : ::fdopen(fd, "rb"));
    if (!fp) {
        if (fd >= 0) ::close(fd);
        refuse("\nCannot open binary file %s for reading\n\n", lasname);
    }
    const int16_t LASType = check_las(lasname);
    if (LASType <= 0) refuse("%s is not a valid LAS file\n", lasname);

    // check_las guarantees a name ending in ".las"; the outputs keep
    // everything before it, directory part included.
    const std::string stem(lasname, std::strlen(lasname) - 4);
    const std::string shpname = stem + ".shp";
    const std::string dbfname = stem + ".dbf";
    const std::string prjname = stem + ".prj";

    credits();
    std::printf("Input LAS file:    %s\n", lasname);
    std::printf("Output Shapefile:  %s\n", shpname.c_str());

    // Wall-clock time: waiting for the disk is part of what the user waits for.
    const auto beginTime = std::chrono::steady_clock::now();

    if (!allocate_coordinate_buffers()) {
        std::puts("\nFailed to allocate memory for X, Y, and Z coordinate vectors");
        end_run(-1);
    }

    std::printf("\nProcessing ...");
    std::fflush(stdout);

    std::FILE *in = fp.get();
    const char *shp = shpname.c_str(), *dbf = dbfname.c_str(), *prj = prjname.c_str();
    switch (LASType) {
        case 1: convert<1>(in, lasname, shp, dbf, prj); break;
        case 2: convert<2>(in, lasname, shp, dbf, prj); break;
        case 3: convert<3>(in, lasname, shp, dbf, prj); break;
        case 4: convert<4>(in, lasname, shp, dbf, prj); break;
        case 5: convert<5>(in, lasname, shp, dbf, prj); break;
        case 6: convert<6>(in, lasname, shp, dbf, prj); break;
        case 7: convert<7>(in, lasname, shp, dbf, prj); break;
        case 8: convert<8>(in, lasname, shp, dbf, prj); break;
    }

    std::fclose(fp.release());
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - beginTime;
    std::printf("Elapsed time %.2f seconds\n", elapsed.count());
    return 0;
}
