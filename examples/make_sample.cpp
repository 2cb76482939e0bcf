// Writes the example survey: 100,000 points of rolling terrain under trees
// and a building, LAS 1.2 point format 3 (GPS time and colour), in ETRS89 /
// UTM zone 30N (EPSG:25830), stated by its GeoTIFF keys.
//   make_sample <output.las> [points]
#include "las_writer.h"

#include <cstdio>
#include <cstdlib>
#include <exception>

int main(int argc, char *argv[]) {
    if (argc < 2 || argc > 3) {
        std::puts("Usage: make_sample <output.las> [points]");
        return 2;
    }
    const unsigned long long count = argc == 3 ? std::strtoull(argv[2], nullptr, 10) : 100000ull;
    lastest::LasOptions opts = lastest::options_for_type(8);
    opts.offset[0] = 512000.0;
    opts.offset[1] = 4180000.0;
    opts.offset[2] = 0.0;
    opts.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 25830}})};
    try {
        lastest::write_las(argv[1], opts, count, [&](uint64_t i) { return lastest::survey_point(i); });
    } catch (const std::exception &e) {
        std::printf("%s\n", e.what());
        return 1;
    }
    std::printf("Wrote %llu points to %s\n", count, argv[1]);
    return 0;
}
