// LAZ round trips through the real program: points written by the tests' LAS
// writer and compressed by the tests' LAZ writer convert exactly as their
// uncompressed twin does, whatever the point format, the chunk size and the
// decoding threads.
#include "file_source.h"
#include "item_common.h"
#include "laz_reader.h"
#include "laz_writer.h"
#include "las_reader.h"
#include "test_util.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <filesystem>
#include <ostream>
#include <string>
#include <vector>

namespace {

const char kWgs84[] =
    "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],PRIMEM[\"Greenwich\",0],"
    "UNIT[\"degree\",0.0174532925199433]]";

enum class Points { kVaried, kSurvey, kInterleaved, kPulses };

// Pulses of three returns sharing a time, whose return numbers jump both
// ways, and whose scanner channel changes every few pulses. From one pulse to
// the next the time steps by a multiple of a unit: the same, small and large
// multiples, none, backwards, then four far too large (the large step becomes
// the one predicted) and four far too small (the unit is predicted again).
lastest::Point pulse(uint8_t format, uint64_t i) {
    static const int kSteps[] = {1, 1, 2, 3, 9, 40, 0, -1, -4, -30, 1, 700, 800, 900, 650, 1, 1, 1, 1, 5};
    constexpr uint64_t kCycle = sizeof kSteps / sizeof kSteps[0];
    int64_t cycle_sum = 0, into_cycle = 0;
    const uint64_t n = i / 3;
    for (uint64_t k = 0; k < kCycle; ++k) {
        cycle_sum += kSteps[k];
        if (k < n % kCycle) into_cycle += kSteps[k];
    }
    lastest::Point p = lastest::survey_point(i);
    p.gps_time = 300000.0 + static_cast<double>(static_cast<int64_t>(n / kCycle) * cycle_sum + into_cycle) * 1e-5;
    static const uint8_t kReturns[2][3] = {{1, 4, 2}, {3, 1, 5}};  // of 5, in even and odd pulses
    const uint8_t r = kReturns[n % 2][i % 3];
    p.bitfield = static_cast<uint8_t>(format < 6 ? r | 5 << 3 : r | 5 << 4);
    p.flags = static_cast<uint8_t>((p.flags & ~0x30) | (n / 4 % 3) << 4);
    return p;
}

// The points of a row; extra bytes take values of their own.
lastest::Point point(Points kind, uint8_t format, uint16_t extra, uint64_t i) {
    lastest::Point p = kind == Points::kVaried   ? lastest::varied_point(i)
                       : kind == Points::kSurvey ? lastest::survey_point(i)
                       : kind == Points::kPulses ? pulse(format, i)
                       : i % 2                   ? lastest::survey_point(i / 2)
                                                 : lastest::varied_point(i / 2);
    for (uint16_t k = 0; k < extra; ++k) p.extra.push_back(static_cast<uint8_t>(k % 2 ? i / (k + 1) : i * 37 >> k));
    return p;
}

struct RoundTrip {
    const char *name;
    uint8_t version_minor, format;
    uint16_t extra;
    Points points;
    uint64_t count;
    uint32_t chunk_size;
    const char *threads;  // TESSALINE_THREADS, or "" for the default
};

std::ostream &operator<<(std::ostream &os, const RoundTrip &c) { return os << c.name; }

class Twins : public ::testing::TestWithParam<RoundTrip> {};

// Every file a conversion leaves in `dir`, but the input.
std::vector<std::string> outputs(const testutil::TempDir &dir, const std::string &input) {
    std::vector<std::string> names;
    for (const auto &e : std::filesystem::directory_iterator(dir.path()))
        if (e.path().filename() != input) names.push_back(e.path().filename());
    std::sort(names.begin(), names.end());
    return names;
}

// The LAZ file's records as the library's reader gives them, or its reason.
std::string decompress(const std::string &path, unsigned threads, std::vector<uint8_t> &records) {
    const std::vector<uint8_t> b = testutil::read_file(path);
    laz::LasFacts f{};
    f.file_size = b.size();
    f.header_size = laz::load16(&b[94]);
    f.offset_to_data = laz::load32(&b[96]);
    f.vlr_count = laz::load32(&b[100]);
    f.point_format = b[104] & 0x3F;
    f.record_length = laz::load16(&b[105]);
    f.point_count = b[25] >= 4 ? laz::load64(&b[247]) : laz::load32(&b[107]);
    const auto file = FileSource::open(path.c_str());
    if (!file) return "cannot open " + path;
    laz::Reader reader;
    std::string why = reader.open(*file, f, threads);
    records.assign(f.point_count * f.record_length, 0);
    if (why.empty()) why = reader.read(records.data(), f.point_count);
    return why;
}

TEST_P(Twins, ConvertExactlyAsTheUncompressedFile) {
    const RoundTrip &c = GetParam();
    lastest::LasOptions opts;
    opts.version_minor = c.version_minor;
    opts.point_format = c.format;
    opts.extra_bytes = c.extra;
    opts.offset[0] = 500000, opts.offset[1] = 4000000;
    // A coordinate system before the LASzip record, or (LAS 1.4) in an EVLR after the chunk table.
    if (c.version_minor < 4) {
        opts.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}})};
        if (c.extra >= 2) opts.vlrs.push_back(lastest::extra_bytes_record({{3, 0, "first"}}));
    } else {
        opts.global_encoding = 16;  // the coordinate system is the WKT record's
        opts.evlrs = {lastest::text_record(2112, kWgs84)};
    }
    auto gen = [&](uint64_t i) { return point(c.points, c.format, c.extra, i); };

    testutil::TempDir las_dir, laz_dir;
    lastest::write_las(las_dir / "points.las", opts, c.count, gen);
    laztest::write_laz(laz_dir / "points.laz", opts, c.count, gen, c.chunk_size);

    if (c.count <= 5000) {  // the writer in memory makes the same bytes
        std::vector<lastest::Point> points;
        for (uint64_t i = 0; i < c.count; ++i) points.push_back(gen(i));
        ASSERT_TRUE(laztest::make_laz(opts, points, c.chunk_size) == testutil::read_file(laz_dir / "points.laz"));
    }
    // Every field, those that the shapefile leaves out included.
    const std::vector<uint8_t> plain = testutil::read_file(las_dir / "points.las");
    const uint32_t at = laz::load32(&plain[96]);
    std::vector<uint8_t> records;
    ASSERT_EQ(decompress(laz_dir / "points.laz", 2, records), "");
    ASSERT_TRUE(std::equal(records.begin(), records.end(), plain.begin() + at, plain.begin() + at + records.size()));

    std::vector<std::string> env;
    if (*c.threads != '\0') env.push_back(std::string("TESSALINE_THREADS=") + c.threads);
    const std::string exe = testutil::tessaline_exe();
    const testutil::RunResult las = testutil::run(exe, {"points.las"}, las_dir.path(), false, env);
    const testutil::RunResult laz = testutil::run(exe, {"points.laz"}, laz_dir.path(), false, env);
    ASSERT_EQ(las.status, 0) << las.out;
    EXPECT_EQ(laz.status, las.status) << laz.out;
    std::string console = lasread::mask_elapsed(laz.out);
    for (size_t at; (at = console.find("points.laz")) != std::string::npos;) console.replace(at, 10, "points.las");
    EXPECT_EQ(console, lasread::mask_elapsed(las.out));
    EXPECT_EQ(laz.err, las.err);

    const std::vector<std::string> names = outputs(las_dir, "points.las");
    ASSERT_EQ(outputs(laz_dir, "points.laz"), names);
    for (const std::string &name : names)
        EXPECT_TRUE(testutil::read_file(laz_dir / name) == testutil::read_file(las_dir / name)) << name;
}

// Chunks of one point, of a few, of the usual size, and a count across several.
INSTANTIATE_TEST_SUITE_P(
    Formats, Twins,
    ::testing::Values(
        RoundTrip{"Las12Format0VariedChunksOf7", 2, 0, 0, Points::kVaried, 2000, 7, ""},
        RoundTrip{"Las12Format1SurveyChunksOf1", 2, 1, 0, Points::kSurvey, 300, 1, ""},
        RoundTrip{"Las12Format2Interleaved", 2, 2, 0, Points::kInterleaved, 3000, 50000, ""},
        RoundTrip{"Las12Format3VariedChunksOf7", 2, 3, 0, Points::kVaried, 2000, 7, ""},
        RoundTrip{"Las12Format3SurveyAcrossChunks", 2, 3, 0, Points::kSurvey, 120000, 50000, ""},
        RoundTrip{"Las12Format3ExtraBytesChunksOf7", 2, 3, 9, Points::kVaried, 2000, 7, ""},
        RoundTrip{"Las13Format1ExtraBytes", 3, 1, 5, Points::kInterleaved, 5000, 50000, ""},
        RoundTrip{"Las13Format1ExtraBytesChunksOf1", 3, 1, 5, Points::kVaried, 200, 1, ""},
        RoundTrip{"Las14Format6Varied", 4, 6, 0, Points::kVaried, 5000, 50000, ""},
        RoundTrip{"Las14Format6ExtraBytesChunksOf7", 4, 6, 3, Points::kInterleaved, 2000, 7, ""},
        RoundTrip{"Las14Format6SurveyChunksOf1", 4, 6, 0, Points::kSurvey, 200, 1, ""},
        RoundTrip{"Las14Format7Survey", 4, 7, 0, Points::kSurvey, 5000, 50000, ""},
        RoundTrip{"Las14Format7ExtraBytesVaried", 4, 7, 2, Points::kVaried, 5000, 7, ""},
        RoundTrip{"Las14Format8Interleaved", 4, 8, 0, Points::kInterleaved, 5000, 50000, ""},
        RoundTrip{"Las14Format8ExtraBytesAcrossChunks", 4, 8, 4, Points::kSurvey, 120000, 50000, ""},
        RoundTrip{"Las12Format1Pulses", 2, 1, 0, Points::kPulses, 20000, 50000, ""},
        RoundTrip{"Las14Format6Pulses", 4, 6, 0, Points::kPulses, 20000, 50000, ""},
        RoundTrip{"Las14Format7ExtraBytesPulsesChunksOf7", 4, 7, 1, Points::kPulses, 3000, 7, ""},
        RoundTrip{"Las12Format3OneThread", 2, 3, 0, Points::kSurvey, 60000, 7000, "1"},
        RoundTrip{"Las12Format3ThreeThreads", 2, 3, 0, Points::kInterleaved, 60000, 7000, "3"},
        RoundTrip{"Las14Format8ExtraBytesOneThread", 4, 8, 2, Points::kVaried, 60000, 7000, "1"},
        RoundTrip{"Las14Format8ExtraBytesThreeThreads", 4, 8, 2, Points::kSurvey, 60000, 7000, "3"}),
    [](const ::testing::TestParamInfo<RoundTrip> &info) { return std::string(info.param.name); });

}  // namespace
