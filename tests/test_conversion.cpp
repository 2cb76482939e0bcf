// The real program converting generated LAS files in a temporary folder:
// console text (progress included, the elapsed figure aside), exit status
// and every byte of the three outputs, checked against the tests' own model
// of them (las_reader.h) with the points decoded from the LAS bytes.
#include "las_reader.h"
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>

using lastest::LasOptions;
using lastest::Point;
using testutil::run_tessaline;
using testutil::TempDir;

namespace {

struct Converted {
    testutil::RunResult run;
    lasread::LasFile las;
};

// Writes `name` in `dir`, converts it there and decodes the input.
Converted convert(const TempDir &dir, const std::string &name, const LasOptions &opts, uint64_t count,
                  const std::function<Point(uint64_t)> &gen) {
    lastest::write_las(dir / name, opts, count, gen);
    Converted c{run_tessaline({name}, dir.path()), lasread::read_las(dir / name)};
    return c;
}

std::string shp_of(const std::string &las) { return las.substr(0, las.size() - 4) + ".shp"; }

void expect_complete_conversion(const TempDir &dir, const std::string &name, const Converted &c) {
    EXPECT_EQ(c.run.status, 0);
    EXPECT_EQ(c.run.err, "");
    EXPECT_EQ(lasread::mask_elapsed(c.run.out), lasread::console_of(name, shp_of(name), c.las.las_type, c.las.count));
    EXPECT_EQ(lasread::compare_outputs(dir / name, c.las), "");
    EXPECT_FALSE(testutil::exists(dir / (name.substr(0, name.size() - 4) + ".cpg")));
}

struct RunCase {
    int type;
    uint32_t count;
};

std::string case_name(const testing::TestParamInfo<RunCase> &info) {
    return "Type" + std::to_string(info.param.type) + "_" + std::to_string(info.param.count) + "Points";
}

class ConversionRun : public testing::TestWithParam<RunCase> {};

}  // namespace

TEST_P(ConversionRun, ConsoleStatusAndEveryOutputByte) {
    const RunCase rc = GetParam();
    TempDir dir;
    const Converted c = convert(dir, "run.las", lastest::options_for_type(rc.type), rc.count, lastest::varied_point);
    ASSERT_EQ(c.las.las_type, rc.type);
    expect_complete_conversion(dir, "run.las", c);
    const uint64_t n = rc.count;
    EXPECT_EQ(testutil::file_size(dir / "run.shp"), 100 + 36 * n);
    EXPECT_EQ(testutil::file_size(dir / "run.shx"), 100 + 8 * n);
    EXPECT_EQ(testutil::file_size(dir / "run.dbf"),
              static_cast<uint64_t>(33 + 32 * lasread::fields_of(rc.type).size() + lasread::record_length(rc.type) * n));
}

// Every type with no point, one, a few thousand and one past a full chunk.
INSTANTIATE_TEST_SUITE_P(EveryType, ConversionRun,
                         testing::ValuesIn([] {
                             std::vector<RunCase> v;
                             for (int t = 1; t <= 8; ++t)
                                 for (uint32_t n : {0u, 1u, 2500u, 1000001u}) v.push_back({t, n});
                             return v;
                         }()),
                         case_name);

// Around the chunk size, for the type with the one-decimal progress and the
// type with the longest records.
INSTANTIATE_TEST_SUITE_P(ChunkBoundaries, ConversionRun,
                         testing::Values(RunCase{1, 999999}, RunCase{1, 1000000}, RunCase{1, 2600000},
                                         RunCase{8, 999999}, RunCase{8, 1000000}, RunCase{8, 2600000}),
                         case_name);

TEST(Conversion, ProgressLinesOfALongRun) {
    // The console picture of 2,600,000 points, spelled out.
    const std::string tail = "\rProcessing ... 38.46% done\rProcessing ... 76.92% done\r" + std::string(78, ' ') +
                             "\rElapsed time # seconds\n";
    const std::string model = lasread::console_of("a.las", "a.shp", 8, 2600000);
    EXPECT_EQ(model.substr(model.size() - tail.size()), tail);
    const std::string one = lasread::console_of("a.las", "a.shp", 1, 1000000);
    EXPECT_NE(one.find("\rProcessing ... 100.0% done\r"), std::string::npos);
}

TEST(Conversion, PointsAreReadFromOffsetToData) {
    // Longer headers and variable length records before the points, for a
    // LAS 1.0 and a LAS 1.2 type.
    for (int type : {1, 8}) {
        SCOPED_TRACE(type);
        TempDir dir;
        LasOptions opts = lastest::options_for_type(type);
        opts.header_size = 300;
        opts.vlr_payloads = {10, 333};
        const Converted c = convert(dir, "vlr.las", opts, 1234, lastest::varied_point);
        ASSERT_GT(c.las.offset_to_data, 227u + 300u);
        expect_complete_conversion(dir, "vlr.las", c);
    }
}

TEST(Conversion, HeaderBoundsAreWrittenAsTheLasHeaderHasThem) {
    TempDir dir;
    LasOptions opts = lastest::options_for_type(6);
    opts.explicit_bounds = true;  // minimum above maximum, not enclosing the points
    opts.min[0] = 50;
    opts.max[0] = -50;
    opts.min[1] = 1e9;
    opts.max[1] = 2e9;
    opts.min[2] = -0.0;
    opts.max[2] = std::numeric_limits<double>::infinity();
    const Converted c = convert(dir, "b.las", opts, 10, lastest::varied_point);
    expect_complete_conversion(dir, "b.las", c);
}

TEST(Conversion, ExistingOutputsAreReplaced) {
    TempDir dir;
    const std::vector<uint8_t> junk(300000, 0x5A);
    for (const char *ext : {".shp", ".shx", ".dbf", ".cpg"}) testutil::write_file(dir / (std::string("r") + ext), junk);
    const Converted c = convert(dir, "r.las", lastest::options_for_type(5), 7, lastest::varied_point);
    expect_complete_conversion(dir, "r.las", c);
}

TEST(Conversion, OutputsGoBesideTheInput) {
    TempDir dir;
    ASSERT_EQ(::system(("mkdir -p '" + (dir / "plots.v2") + "'").c_str()), 0);
    const Converted c = convert(dir, "plots.v2/tile7.las", lastest::options_for_type(7), 20, lastest::varied_point);
    expect_complete_conversion(dir, "plots.v2/tile7.las", c);
    EXPECT_TRUE(testutil::exists(dir / "plots.v2/tile7.shx"));
}

// Values wider than their column keep every row at its record length.
TEST(Conversion, OverWideValuesKeepTheRowLength) {
    const struct {
        int8_t scan;
        double gps;
        const char *scan_text;
        const char *gps_text;
    } cases[] = {
        {-99, 123456.5, "-99", " 123456.50000000"},
        {-100, 206860645.046875, "***", "206860645.046875"},
        {-128, 1e7, "***", "10000000.0000000"},
        {127, -1e6, "127", "-1000000.0000000"},
        {0, 1e15, "  0", "1000000000000000"},
        {0, 1e16, "  0", "****************"},
        {0, -1e300, "  0", "****************"},
        {0, std::numeric_limits<double>::quiet_NaN(), "  0", "             nan"},
        {0, -std::numeric_limits<double>::infinity(), "  0", "            -inf"},
    };
    std::vector<Point> points;
    for (const auto &c : cases) {
        Point p = lastest::varied_point(points.size());
        p.scan_angle = c.scan;
        p.gps_time = c.gps;
        points.push_back(p);
    }
    for (int type : {2, 8}) {
        SCOPED_TRACE(type);
        TempDir dir;
        const Converted conv = convert(dir, "w.las", lastest::options_for_type(type), points.size(),
                                       [&](uint64_t i) { return points[i]; });
        expect_complete_conversion(dir, "w.las", conv);
        const std::string dbf = testutil::read_text(dir / "w.dbf");
        const size_t header = 33 + 32 * lasread::fields_of(type).size(), row = lasread::record_length(type);
        ASSERT_EQ(dbf.size(), header + row * points.size());
        for (size_t i = 0; i < points.size(); ++i) {
            SCOPED_TRACE(cases[i].gps_text);
            EXPECT_EQ(dbf.substr(header + row * i + 13, 3), cases[i].scan_text);
            EXPECT_EQ(dbf.substr(header + row * i + 24, 16), cases[i].gps_text);
        }
    }
}
