// The real program converting generated LAS files in a temporary folder:
// console text (progress included, the elapsed figure aside), exit status
// and every byte of the three outputs, checked against the tests' own model
// of them (las_reader.h) with the points decoded from the LAS bytes.
#include "driver.h"
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

namespace {

// Varied points whose scan angles (formats 6-10) reach the raw extremes and
// whose GPS times do not all fit 16 places.
Point las14_point(uint64_t i) {
    static const int16_t angles[] = {-32768, -1, 0, 15000, 32767};
    static const double times[] = {206860645.046875, 1e16, -1e15};
    Point p = lastest::varied_point(i);
    if (i < 5) p.scan_angle_raw = angles[i];
    if (i >= 5 && i < 8) p.gps_time = times[i - 5];
    return p;
}

// The same with `extra` extra bytes: all zero, all 0xFF or varied, so that
// no_data, extremes, NaN and over-wide values all occur.
Point with_extra_bytes(uint64_t i, uint16_t extra) {
    Point p = las14_point(i);
    p.extra.assign(extra, i % 4 == 0 ? 0x00 : 0xFF);
    if (i % 4 >= 2)
        for (size_t k = 0; k < p.extra.size(); ++k) p.extra[k] = static_cast<uint8_t>(las14_point(i * 64 + k).x);
    return p;
}

}  // namespace

// Every format of each version with no point, one and a few thousand, and
// one past a full chunk for LAS 1.3 format 0 (two decimals of progress, unlike
// LAS 1.0 format 0) and for the longest record.
TEST(Las14Conversion, EveryFormatOfEveryVersion) {
    struct Case {
        uint8_t minor, format;
        uint32_t count;
    };
    std::vector<Case> cases;
    for (uint8_t minor : {3, 4})
        for (uint8_t f = 0; f <= (minor == 3 ? 5 : 10); ++f)
            for (uint32_t n : {0u, 1u, 2500u}) cases.push_back({minor, f, n});
    cases.push_back({3, 0, 1000001});
    cases.push_back({4, 10, 1000001});
    for (const Case &rc : cases) {
        SCOPED_TRACE("LAS 1." + std::to_string(rc.minor) + " format " + std::to_string(rc.format) + ", " +
                     std::to_string(rc.count) + " points");
        TempDir dir;
        LasOptions opts;
        opts.version_minor = rc.minor;
        opts.point_format = rc.format;
        const Converted c = convert(dir, "run.las", opts, rc.count, las14_point);
        ASSERT_EQ(c.las.count, rc.count);
        expect_complete_conversion(dir, "run.las", c);
    }
}

TEST(Las14Conversion, FormatsZeroToThreeGiveTheOutputsOfLas12) {
    for (uint8_t format = 0; format <= 3; ++format) {
        SCOPED_TRACE(static_cast<int>(format));
        TempDir dir;
        LasOptions opts;
        opts.point_format = format;
        lastest::write_las(dir / "v12.las", opts, 300, las14_point);
        opts.version_minor = 4;
        lastest::write_las(dir / "v14.las", opts, 300, las14_point);
        ASSERT_EQ(run_tessaline({"v12.las"}, dir.path()).status, 0);
        ASSERT_EQ(run_tessaline({"v14.las"}, dir.path()).status, 0);
        for (const char *ext : {".shp", ".shx", ".dbf"})
            EXPECT_EQ(testutil::read_file(dir / (std::string("v12") + ext)),
                      testutil::read_file(dir / (std::string("v14") + ext)))
                << ext;
    }
}

// Extra bytes: one numeric column per descriptor of data types 1 to 10, named,
// sized and filled as the model says.
TEST(Las14Conversion, ExtraBytesBecomeColumns) {
    using lastest::ExtraBytes;
    using lastest::Vlr;
    const std::vector<ExtraBytes> plain = {{1, 0, "u8"},  {2, 0, "i8"},  {3, 0, "u16"}, {4, 0, "i16"},
                                           {5, 0, "u32"}, {6, 0, "i32"}, {7, 0, "u64"}, {8, 0, "i64"},
                                           {9, 0, "f32"}, {10, 0, "f64"}};
    const std::vector<lasread::Field> plain_fields = {{"u8", 3, 0},   {"i8", 4, 0},   {"u16", 5, 0}, {"i16", 6, 0},
                                                      {"u32", 10, 0}, {"i32", 11, 0}, {"u64", 20, 0}, {"i64", 20, 0},
                                                      {"f32", 20, 6}, {"f64", 24, 8}};
    const std::vector<ExtraBytes> scaled = {
        {1, 8, "tenths", 0, 0.1, 0},           {4, 1 | 8 | 16, "height", 0, 0.01, -5},
        {5, 16, "offset", 0, 0, 1000.5},        {8, 8, "milli", 0, 0.001, 0},
        {7, 1, "nodata", 0},                    {9, 1 | 8 | 16, "f", 0, 2, 1},
        {10, 1 | 8, "d", lastest::bits_of(0.0), 0.5, 0}, {3, 8 | 16, "third", 0, 1.0 / 3, 0},
        {6, 16, "half", 0, 0, -0.5},
    };
    const std::vector<lasread::Field> scaled_fields = {
        {"tenths", 4, 1}, {"height", 7, 2}, {"offset", 12, 1}, {"milli", 21, 3}, {"nodata", 20, 0},
        {"f", 20, 6},     {"d", 24, 8},     {"third", 16, 10}, {"half", 13, 1}};
    const std::vector<ExtraBytes> room = {{0, 3, "undocumented"}, {11, 0, "pair"}, {25, 0, "triple"}, {3, 0, "after"}};
    const std::vector<ExtraBytes> names = {
        {1, 0, "Intensity"}, {1, 0, "intensity"}, {1, 0, "a very long name"}, {1, 0, "2nd"}, {1, 0, ""},
        {1, 0, "Extra"},     {1, 0, "h\xc3\xb6he"}, {1, 0, "abcdefghijklmnopqrstuvwxyz012345"}, {1, 0, "_x"},
        {1, 0, "GPSTime"},   {1, 0, "ReturnNumber"}};
    const std::vector<lasread::Field> name_fields = {
        {"Intensit_2", 3, 0}, {"intensit_3", 3, 0}, {"a_very_lon", 3, 0}, {"X2nd", 3, 0}, {"Extra", 3, 0},
        {"Extra_2", 3, 0},    {"h__he", 3, 0},      {"abcdefghij", 3, 0}, {"X_x", 3, 0}, {"GPSTime_2", 3, 0},
        {"ReturnNu_2", 3, 0}};
    Vlr ragged = lastest::extra_bytes_record(plain);
    ragged.data.push_back(0);

    const struct {
        const char *label;
        uint8_t minor, format;
        uint16_t extra_bytes;
        std::vector<Vlr> vlrs, evlrs;
        std::vector<lasread::Field> columns;
    } cases[] = {
        {"types 1 to 10", 4, 6, 42, {lastest::extra_bytes_record(plain)}, {}, plain_fields},
        {"types 1 to 10 in an EVLR", 4, 10, 45, {}, {lastest::extra_bytes_record(plain)}, plain_fields},
        {"scale, offset and no_data", 4, 7, 50, {lastest::extra_bytes_record(scaled)}, {}, scaled_fields},
        {"undocumented and array types take their room", 3, 4, 19, {lastest::extra_bytes_record(room)}, {},
         {{"after", 5, 0}}},
        {"names that clash, are long or odd", 4, 6, 11, {lastest::extra_bytes_record(names)}, {}, name_fields},
        {"the Intensity of format 3", 4, 3, 1, {lastest::extra_bytes_record({names[0]})}, {}, {{"Intensit_2", 3, 0}}},
        {"the VLR before the EVLR", 4, 8, 2, {lastest::extra_bytes_record({{3, 0, "first"}})},
         {lastest::extra_bytes_record({{1, 0, "second"}})}, {{"first", 5, 0}}},
        {"no record: extra bytes alone", 3, 1, 7, {}, {}, {}},
        // Unusable records: no extra columns, nothing else changed.
        {"descriptors longer than the extra bytes", 4, 6, 41, {lastest::extra_bytes_record(plain)}, {}, {}},
        {"a data type above 30", 4, 6, 42, {lastest::extra_bytes_record({{31, 0, "odd"}})}, {}, {}},
        {"data not a whole number of descriptors", 4, 6, 42, {ragged}, {}, {}},
        {"only the first record counts", 4, 6, 42,
         {lastest::extra_bytes_record({{31, 0, "bad"}}), lastest::extra_bytes_record(plain)}, {}, {}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        LasOptions opts;
        opts.version_minor = c.minor;
        opts.point_format = c.format;
        opts.extra_bytes = c.extra_bytes;
        opts.vlrs = c.vlrs;
        opts.evlrs = c.evlrs;
        const Converted conv =
            convert(dir, "x.las", opts, 400, [&](uint64_t i) { return with_extra_bytes(i, c.extra_bytes); });
        ASSERT_EQ(conv.las.extra_columns.size(), c.columns.size());
        for (size_t k = 0; k < c.columns.size(); ++k) {
            EXPECT_EQ(conv.las.extra_columns[k].field.name, c.columns[k].name);
            EXPECT_EQ(conv.las.extra_columns[k].field.width, c.columns[k].width) << c.columns[k].name;
            EXPECT_EQ(conv.las.extra_columns[k].field.decimals, c.columns[k].decimals) << c.columns[k].name;
        }
        expect_complete_conversion(dir, "x.las", conv);
    }
}

// LAS 1.0 to 1.2 records longer than their format's carry extra bytes: the
// file converts as its LAS 1.3 twin (the same header values, VLRs and records
// under a 235-byte header) does, extra columns included, and the consoles
// differ in the input's name alone: LAS 1.0 format 0 too shows its progress
// with two decimals.
TEST(Conversion, Las10To12ExtraBytesConvertAsTheirLas13Twin) {
    // 18 bytes: the undocumented type takes its room without a column.
    const lastest::Vlr described = lastest::extra_bytes_record(
        {{1, 0, "u8"}, {4, 1 | 8 | 16, "height", 0, 0.01, -5}, {9, 0, "f32"}, {0, 3, "skipped"}, {10, 1, "d", 0}});
    const lastest::Vlr crs = lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}});
    const struct {
        uint8_t minor, format;
        uint16_t extra_bytes;
        bool described;  // an Extra Bytes record and a coordinate system
        uint32_t count;
        size_t columns;
    } cases[] = {
        {0, 0, 2, false, 1000001, 0}, {0, 1, 18, true, 300, 4}, {1, 0, 30, true, 300, 4},
        {1, 1, 7, false, 300, 0},     {2, 0, 19, true, 300, 4}, {2, 1, 17, true, 300, 0},
        {2, 2, 24, true, 300, 4},     {2, 3, 30, false, 300, 0}, {2, 3, 18, true, 0, 4},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE("LAS 1." + std::to_string(c.minor) + " format " + std::to_string(c.format) + ", " +
                     std::to_string(c.extra_bytes) + " extra bytes" + (c.described ? ", described" : ""));
        TempDir dir;
        LasOptions opts;
        opts.version_minor = c.minor;
        opts.point_format = c.format;
        opts.extra_bytes = c.extra_bytes;
        if (c.described) opts.vlrs = {crs, described};
        auto gen = [&](uint64_t i) { return with_extra_bytes(i, c.extra_bytes); };
        const Converted conv = convert(dir, "v12.las", opts, c.count, gen);
        ASSERT_EQ(conv.las.extra_columns.size(), c.columns);
        expect_complete_conversion(dir, "v12.las", conv);
        opts.version_minor = 3;
        const Converted twin = convert(dir, "v13.las", opts, c.count, gen);
        std::string console = lasread::mask_elapsed(twin.run.out);
        for (size_t at; (at = console.find("v13.")) != std::string::npos;) console.replace(at, 4, "v12.");
        EXPECT_EQ(lasread::mask_elapsed(conv.run.out), console);
        for (const std::string ext : {".shp", ".shx", ".dbf", ".prj"}) {
            const std::string v12 = dir / ("v12" + ext), v13 = dir / ("v13" + ext);
            ASSERT_EQ(testutil::exists(v12), ext != ".prj" || c.described) << ext;
            ASSERT_EQ(testutil::exists(v13), testutil::exists(v12)) << ext;
            if (testutil::exists(v12)) {
                EXPECT_TRUE(testutil::read_file(v12) == testutil::read_file(v13)) << ext;
            }
        }
    }
}

// Files past 2 GB get one line more after the elapsed time; a 2 GB output
// cannot be written in a test, so the line is checked where it is made.
TEST(Conversion, OutputsPastTwoGigabytesAreNoted) {
    const struct {
        uint64_t bytes;
        std::string line;
    } cases[] = {
        {0, ""},
        {2147483647, ""},
        {2147483648, "Note: t/a.dbf is 2147483648 bytes; ArcGIS opens shapefile files up to 2 GB: a selection "
                     "(--class, --returns, --extent, --thin) makes it smaller, --max-size 2G writes it in parts\n"},
        {uint64_t{5} << 32, "Note: t/a.dbf is 21474836480 bytes; ArcGIS opens shapefile files up to 2 GB: a "
                            "selection (--class, --returns, --extent, --thin) makes it smaller, --max-size 2G writes it in parts\n"},
    };
    for (const auto &c : cases) EXPECT_EQ(large_output_note("t/a.dbf", c.bytes), c.line) << c.bytes;
}
