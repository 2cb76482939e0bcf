// Writes the seed corpus of the fuzz targets with the tests' LAS writer:
// every LAS type, with and without variable length records, longer headers,
// odd offsets to the point data, trailing bytes and short files, the
// projection records that carry a coordinate system, and LAS 1.3 and 1.4
// files of every point format with extra bytes, their descriptors and EVLRs;
// LAS 1.0 to 1.2 files of every type whose records carry extra bytes; and,
// with the tests' LAZ writer, a small COPC file with nested hierarchy pages
// and a LAS 1.2 file with extra bytes as LAZ.
//   make_seeds <folder>
#include "las_writer.h"
#include "laz_writer.h"

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

int main(int argc, char *argv[]) {
    if (argc != 2) {
        std::puts("Usage: make_seeds <folder>");
        return 2;
    }
    const std::string dir = argv[1];
    int n = 0;
    auto save = [&](const std::vector<uint8_t> &bytes, const char *extension) {
        const std::string path = dir + "/seed-" + std::to_string(n++) + extension;
        FILE *f = std::fopen(path.c_str(), "wb");
        if (f == nullptr || std::fwrite(bytes.data(), 1, bytes.size(), f) != bytes.size()) return false;
        return std::fclose(f) == 0;
    };
    auto emit = [&](const lastest::LasOptions &opts, int points) {
        std::vector<lastest::Point> pts;
        for (int i = 0; i < points; ++i) pts.push_back(lastest::varied_point(static_cast<uint64_t>(i + n)));
        return save(lastest::make_las(opts, pts), ".las");
    };
    bool ok = true;
    for (int type = 1; type <= 8; ++type) {
        lastest::LasOptions s = lastest::options_for_type(type);
        ok = ok && emit(s, 3);
        s.vlr_payloads = {16, 0};
        s.header_size = 229;
        ok = ok && emit(s, 2);
        lastest::LasOptions odd = lastest::options_for_type(type);
        odd.offset_to_data = 231;
        odd.trailing_bytes = 5;
        ok = ok && emit(odd, 1);
        lastest::LasOptions empty = lastest::options_for_type(type);
        ok = ok && emit(empty, 0);
        lastest::LasOptions cut = lastest::options_for_type(type);
        cut.declared_points = 4;
        ok = ok && emit(cut, 2);
    }
    // Coordinate systems: an EPSG code, user-defined keys, a WKT record, and
    // a key directory that declares more keys than it holds.
    const std::string wkt =
        "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
        "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
    const std::vector<std::vector<lastest::Vlr>> projections = {
        {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}})},
        lastest::user_defined_tm_records(),
        {lastest::text_record(2112, wkt)},
        {lastest::geokey_directory({{1024, 0, 1, 2}, {2048, 0, 1, 4326}}, 5), lastest::text_record(2112, wkt)},
    };
    for (size_t k = 0; k < projections.size(); ++k) {
        lastest::LasOptions p = lastest::options_for_type(static_cast<int>(1 + 2 * k));
        p.vlrs = projections[k];
        ok = ok && emit(p, 2);
    }
    // LAS 1.3 and 1.4: every format, three extra bytes described by a record
    // in a VLR (1.3) or an EVLR (1.4) that also holds the WKT.
    const lastest::Vlr extra = lastest::extra_bytes_record({{4, 1 | 8 | 16, "height", 0, 0.01, 100}, {1, 0, "b"}});
    for (uint8_t minor : {3, 4}) {
        for (uint8_t format = 0; format <= (minor == 3 ? 5 : 10); ++format) {
            lastest::LasOptions s;
            s.version_minor = minor;
            s.point_format = format;
            s.extra_bytes = 3;
            if (minor == 3) {
                s.vlrs = {extra};
            } else {
                s.evlrs = {extra, lastest::text_record(2112, wkt)};
                s.global_encoding = 16;
            }
            ok = ok && emit(s, 3);
        }
    }
    lastest::LasOptions far;  // a legacy count of 0 and an EVLR start past the end
    far.version_minor = 4;
    far.point_format = 6;
    far.legacy_points = 0;
    far.evlrs = {extra};
    far.start_of_evlrs = 1 << 20;
    ok = ok && emit(far, 2);
    lastest::LasOptions copc;  // 300 points of a survey in an octree of depth 3, a page per node
    copc.version_minor = 4;
    copc.point_format = 6;
    std::vector<lastest::Point> survey;
    for (uint64_t i = 0; i < 300; ++i) survey.push_back(lastest::survey_point(i * 37));
    laztest::CopcOptions octree;
    octree.depth = 3;
    octree.node_points = 10;
    octree.page_depth = 1;
    octree.order_seed = 5;
    ok = ok && save(laztest::make_copc(copc, survey, octree), ".copc.laz");
    // Command lines before a file (the conversion target reads them up to the
    // first newline): every option, sound and faulty values.
    const char *lines[] = {
        "--class 2,9 --returns first,last,single,3",
        "--extent=-1e3,0,1000,1e9 --thin 0.5",
        "--class=2 --output=o.shp",
        "--thin 0 --class 256,",
        "--returns last -- --extent 1,1,0,0",
    };
    for (const char *line : lines) {
        std::vector<lastest::Point> pts;
        for (int i = 0; i < 40; ++i) pts.push_back(lastest::varied_point(static_cast<uint64_t>(i)));
        std::vector<uint8_t> bytes(line, line + std::strlen(line));
        bytes.push_back('\n');
        const std::vector<uint8_t> las = lastest::make_las(lastest::options_for_type(1 + n % 8), pts);
        bytes.insert(bytes.end(), las.begin(), las.end());
        const std::string path = dir + "/seed-" + std::to_string(n++) + ".las";
        FILE *f = std::fopen(path.c_str(), "wb");
        ok = ok && f != nullptr && std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
        ok = ok && f != nullptr && std::fclose(f) == 0;
    }
    // LAS 1.0 to 1.2 records longer than their format's: every type with the
    // three bytes described, or 30 bytes undescribed; the last as LAZ too.
    for (int type = 1; type <= 8; ++type) {
        lastest::LasOptions s = lastest::options_for_type(type);
        s.extra_bytes = type % 3 == 0 ? 30 : 3;
        if (s.extra_bytes == 3) s.vlrs = {extra};
        ok = ok && emit(s, 3);
    }
    lastest::LasOptions packed = lastest::options_for_type(8);
    packed.extra_bytes = 3;
    packed.vlrs = {extra};
    std::vector<lastest::Point> few;
    for (uint64_t i = 0; i < 20; ++i) few.push_back(lastest::varied_point(i));
    ok = ok && save(laztest::make_laz(packed, few), ".laz");
    if (!ok) {
        std::printf("cannot write seeds into %s\n", dir.c_str());
        return 1;
    }
    std::printf("%d seeds in %s\n", n, dir.c_str());
    return 0;
}
