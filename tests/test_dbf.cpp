// The attribute table: the header bytes the library leaves for each schema,
// the rows, and the number formatting checked against printf.
#include "dbf_text.h"
#include "dbf_writer.h"
#include "las_reader.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <limits>
#include <random>
#include <string>
#include <vector>

using testutil::read_file;
using testutil::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

const std::function<void(const char *)> kCreate[9] = {
    nullptr, createDBF1, createDBF2, createDBF3, createDBF4, createDBF5, createDBF6, createDBF7, createDBF8,
};

// The row of a point given in the LAS bytes' terms, through the converter.
template <int N>
std::string row_via_converter(const lastest::Point &q) {
    typename lidar::LasType<N>::Point p{};
    p.X = q.x;
    p.Intensity = q.intensity;
    p.bitfield = static_cast<int8_t>(q.bitfield);
    p.Classification = q.classification;
    p.ScanAngleRank = q.scan_angle;
    if constexpr (N <= 2) {
        p.FileMarker = q.user_data;
        p.UserBitField = q.point_source_id;
    } else {
        p.UserData = q.user_data;
        p.PointSourceID = q.point_source_id;
    }
    if constexpr (N == 2 || N == 4 || N == 6 || N == 8) p.GPSTime = q.gps_time;
    if constexpr (N >= 7) {
        p.Red = q.red;
        p.Green = q.green;
        p.Blue = q.blue;
    }
    std::string row(record_length_of(N) + 8, '#');
    format_row<N>(&row[0], p);
    EXPECT_EQ(row.substr(record_length_of(N)), std::string(8, '#')) << "written past the row";
    return row.substr(0, record_length_of(N));
}

std::string row_of_type(int type, const lastest::Point &q) {
    switch (type) {
        case 1: return row_via_converter<1>(q);
        case 2: return row_via_converter<2>(q);
        case 3: return row_via_converter<3>(q);
        case 4: return row_via_converter<4>(q);
        case 5: return row_via_converter<5>(q);
        case 6: return row_via_converter<6>(q);
        case 7: return row_via_converter<7>(q);
        default: return row_via_converter<8>(q);
    }
}

std::string gps_via_converter(double v) {
    char text[kGpsTimeWidth];
    put_gps_time(text, v);
    return std::string(text, kGpsTimeWidth);
}

}  // namespace

TEST(DbfSchema, EachTypeLeavesExactlyItsHeader) {
    const struct {
        int type, header_length, record_length;
    } cases[] = {{1, 321, 24}, {2, 353, 40}, {3, 321, 24}, {4, 353, 40},
                 {5, 321, 24}, {6, 353, 40}, {7, 417, 39}, {8, 449, 55}};
    for (const auto &c : cases) {
        SCOPED_TRACE(c.type);
        TempDir dir;
        const std::string dbf = dir / "a.dbf";
        testutil::write_file(dir / "a.cpg", {'U', 'T', 'F', '-', '8'});  // left by an earlier run
        testutil::write_file(dbf, Bytes(5000, 0x41));
        kCreate[c.type](dbf.c_str());
        const Bytes b = read_file(dbf);
        ASSERT_EQ(b.size(), static_cast<size_t>(c.header_length)) << "no end-of-file byte, no rows";
        EXPECT_EQ(b, lasread::dbf_header(c.type, 0));
        EXPECT_EQ(b[8] | (b[9] << 8), c.header_length);
        EXPECT_EQ(b[10] | (b[11] << 8), c.record_length);
        EXPECT_EQ(Bytes(b.begin() + 1, b.begin() + 4), Bytes({95, 7, 26}));
        EXPECT_EQ(b[29], 87);
        EXPECT_EQ(b.back(), 0x0D);
        EXPECT_FALSE(testutil::exists(dir / "a.cpg"));
        EXPECT_EQ(header_length_of(c.type), c.header_length);
        EXPECT_EQ(record_length_of(c.type), c.record_length);
        EXPECT_EQ(table_header_length(c.type, {}), c.header_length);
        EXPECT_EQ(table_record_length(c.type, {}), c.record_length);
    }
    // Two columns chosen, Classifica and Intensity: two descriptors, rows of their widths.
    TempDir dir;
    const std::string dbf = dir / "c.dbf";
    const ColumnChoice two{{5, 0}};
    create_table<8>(dbf.c_str(), {}, two);
    const Bytes b = read_file(dbf);
    EXPECT_EQ(b.size(), 33u + 2 * 32);
    EXPECT_EQ(table_header_length(8, {}, two), 33 + 2 * 32);
    EXPECT_EQ(b[10] | (b[11] << 8), 1 + 3 + 5);
    EXPECT_EQ(table_record_length(8, {}, two), 1 + 3 + 5);
}

TEST(DbfSchema, Descriptors) {
    TempDir dir;
    const std::string dbf = dir / "d.dbf";
    createDBF8(dbf.c_str());
    const Bytes b = read_file(dbf);
    // Fifth column: the name cut to ten characters and a zero byte.
    EXPECT_EQ(std::string(b.begin() + 32 + 4 * 32, b.begin() + 32 + 4 * 32 + 11), std::string("EdgeOfFlig\0", 11));
    // Tenth column: GPSTime, numeric, 16 wide, 8 decimals.
    const uint8_t *gps = b.data() + 32 + 9 * 32;
    EXPECT_EQ(std::string(reinterpret_cast<const char *>(gps)), "GPSTime");
    EXPECT_EQ(gps[11], 'N');
    EXPECT_EQ(gps[16], 16);
    EXPECT_EQ(gps[17], 8);
}

TEST(DbfSchema, FailuresNameTheColumnAsTheMessagesDo) {
    // The column names the library is given and those its messages use.
    EXPECT_STREQ(info_of(Column::NumberReturns).name, "NumberReturns");
    EXPECT_STREQ(info_of(Column::NumberReturns).reported, "NumberOfReturns");
    TempDir dir;
    ASSERT_EQ(::system(("mkdir '" + (dir / "x.dbf") + "'").c_str()), 0);
    const std::string dbf = dir / "x.dbf";
    const testutil::RunResult r = testutil::run_in_child([&] { createDBF3(dbf.c_str()); });
    EXPECT_EQ(r.out, "DBFCreate(" + dbf + ") failed.\n");
    EXPECT_EQ(r.status, 255);
}

TEST(DbfRows, FieldsInTheirPlaces) {
    lastest::Point p;
    p.intensity = 7;
    p.bitfield = 0xC9;
    p.classification = 2;
    p.scan_angle = -90;
    p.user_data = 255;
    p.point_source_id = 65535;
    p.gps_time = 123456.5;
    p.red = 1;
    p.green = 22;
    p.blue = 65535;
    const struct {
        int type;
        std::string row;
    } cases[] = {
        {1, "     71111  2-9025565535"},
        {4, "     71111  2-9025565535 123456.50000000"},
        {7, "     71111  2-9025565535    1   2265535"},
        {8, "     71111  2-9025565535 123456.50000000    1   2265535"},
    };
    for (const auto &c : cases) EXPECT_EQ(row_of_type(c.type, p), c.row) << c.type;
}

TEST(DbfRows, ValuesRightAligned) {
    const struct {
        const char *label;
        std::function<void(lastest::Point &)> set;
        size_t at, width;
        std::string text;
    } cases[] = {
        {"intensity 65535", [](lastest::Point &p) { p.intensity = 65535; }, 1, 5, "65535"},
        {"intensity 7", [](lastest::Point &p) { p.intensity = 7; }, 1, 5, "    7"},
        {"flag byte 0xC9", [](lastest::Point &p) { p.bitfield = 0xC9; }, 6, 4, "1111"},
        {"flag byte 0x09", [](lastest::Point &p) { p.bitfield = 0x09; }, 6, 4, "1100"},
        {"flag byte 0xFF", [](lastest::Point &p) { p.bitfield = 0xFF; }, 6, 4, "7711"},
        {"flag byte 0x80", [](lastest::Point &p) { p.bitfield = 0x80; }, 6, 4, "0001"},
        {"scan byte 0x00", [](lastest::Point &p) { p.scan_angle = 0; }, 13, 3, "  0"},
        {"scan byte 0x5A", [](lastest::Point &p) { p.scan_angle = 0x5A; }, 13, 3, " 90"},
        {"scan byte 0xA6", [](lastest::Point &p) { p.scan_angle = static_cast<int8_t>(0xA6); }, 13, 3, "-90"},
        {"scan byte 0xFF", [](lastest::Point &p) { p.scan_angle = -1; }, 13, 3, " -1"},
        {"scan angle -99", [](lastest::Point &p) { p.scan_angle = -99; }, 13, 3, "-99"},
        {"scan angle -100", [](lastest::Point &p) { p.scan_angle = -100; }, 13, 3, "***"},
        {"scan angle -128", [](lastest::Point &p) { p.scan_angle = -128; }, 13, 3, "***"},
        {"scan angle 127", [](lastest::Point &p) { p.scan_angle = 127; }, 13, 3, "127"},
        {"classification 255", [](lastest::Point &p) { p.classification = 255; }, 10, 3, "255"},
        {"GPS 123456.5", [](lastest::Point &p) { p.gps_time = 123456.5; }, 24, 16, " 123456.50000000"},
        {"GPS 0", [](lastest::Point &p) { p.gps_time = 0; }, 24, 16, "      0.00000000"},
        {"GPS -0.0", [](lastest::Point &p) { p.gps_time = -0.0; }, 24, 16, "     -0.00000000"},
        {"GPS adjusted standard time", [](lastest::Point &p) { p.gps_time = 206860645.046875; }, 24, 16,
         "206860645.046875"},
        {"GPS 9999999.999999999 rounds up", [](lastest::Point &p) { p.gps_time = 9999999.999999999; }, 24, 16,
         "10000000.0000000"},
        {"GPS -1e6", [](lastest::Point &p) { p.gps_time = -1e6; }, 24, 16, "-1000000.0000000"},
        {"GPS 1e15", [](lastest::Point &p) { p.gps_time = 1e15; }, 24, 16, "1000000000000000"},
        {"GPS -1e14", [](lastest::Point &p) { p.gps_time = -1e14; }, 24, 16, "-100000000000000"},
        {"GPS 1e16", [](lastest::Point &p) { p.gps_time = 1e16; }, 24, 16, "****************"},
        {"GPS -1e15", [](lastest::Point &p) { p.gps_time = -1e15; }, 24, 16, "****************"},
        {"GPS max", [](lastest::Point &p) { p.gps_time = std::numeric_limits<double>::max(); }, 24, 16,
         "****************"},
        {"GPS NaN", [](lastest::Point &p) { p.gps_time = std::nan(""); }, 24, 16, "             nan"},
        {"GPS -NaN", [](lastest::Point &p) { p.gps_time = -std::nan(""); }, 24, 16, "            -nan"},
        {"GPS inf", [](lastest::Point &p) { p.gps_time = HUGE_VAL; }, 24, 16, "             inf"},
        {"GPS -inf", [](lastest::Point &p) { p.gps_time = -HUGE_VAL; }, 24, 16, "            -inf"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        lastest::Point p;
        c.set(p);
        const std::string row = row_of_type(8, p);
        ASSERT_EQ(row.size(), 55u);
        EXPECT_EQ(row.substr(c.at, c.width), c.text);
        EXPECT_EQ(row, lasread::row_of(8, p)) << "the printf model";
    }
}

TEST(DbfRows, EveryTypeMatchesThePrintfModel) {
    for (int type = 1; type <= 8; ++type) {
        SCOPED_TRACE(type);
        for (uint64_t i = 0; i < 20000; ++i) {
            const lastest::Point p = lastest::varied_point(i);
            ASSERT_EQ(row_of_type(type, p), lasread::row_of(type, p)) << "point " << i;
        }
    }
}

TEST(DbfRows, AppendedAtTheEndOfTheTable) {
    TempDir dir;
    const std::string dbf = dir / "r.dbf";
    createDBF7(dbf.c_str());
    std::vector<LAS12fm2> points(3);
    for (size_t i = 0; i < points.size(); ++i) points[i].Intensity = static_cast<uint16_t>(i + 1);
    addtoDBF7(dbf.c_str(), points.data(), nullptr, 0);
    EXPECT_EQ(testutil::file_size(dbf), 417u);
    addtoDBF7(dbf.c_str(), points.data(), nullptr, 3);
    addtoDBF7(dbf.c_str(), points.data() + 2, nullptr, 1);
    const std::string text = testutil::read_text(dbf);
    ASSERT_EQ(text.size(), 417u + 4 * 39);
    EXPECT_EQ(text.substr(417, 6), "     1");
    EXPECT_EQ(text.substr(417 + 39, 6), "     2");
    EXPECT_EQ(text.substr(417 + 3 * 39, 6), "     3");
}

// The formatting without printf against printf itself.
TEST(DbfNumbers, IntegersAsPrintfGivesThem) {
    auto check = [](int width, int32_t v) {
        char want[32], text[16];
        const int n = std::snprintf(want, sizeof want, "%*d", width, v);
        put_integer(text, width, v);
        const std::string expected = n > width ? std::string(width, '*') : std::string(want);
        if (std::string(text, width) != expected) ADD_FAILURE() << v << " in " << width;
        return std::string(text, width) == expected;
    };
    // The columns' widths and two others, across each width's edges.
    for (int width : {1, 2, 3, 5, 10}) {
        for (int32_t v = -100001; v <= 200000; ++v)
            if (!check(width, v)) return;
        for (int32_t v : {INT32_MIN, INT32_MIN + 1, -999999999, 999999999, 1000000000, INT32_MAX})
            if (!check(width, v)) return;
    }
}

TEST(DbfNumbers, GpsTimesAsPrintfGivesThemOnMillionsOfDoubles) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> week(0.0, 604800.0);
    std::uniform_real_distribution<double> adjusted(-1.5e9, 1.5e9);
    std::uniform_int_distribution<int> exponent(-40, 40);
    auto check = [](double v) {
        const std::string got = gps_via_converter(v), want = lasread::gps_text(v);
        if (got != want) ADD_FAILURE() << "value " << v << ": got \"" << got << "\", printf \"" << want << "\"";
        return got == want;
    };
    uint64_t checked = 0;
    for (int k = 0; k < 500000; ++k, checked += 4) {
        if (!check(week(rng))) return;                                         // GPS week seconds
        if (!check(adjusted(rng))) return;                                     // adjusted standard time
        if (!check(std::ldexp(static_cast<double>(rng() >> 11), exponent(rng)))) return;  // any magnitude
        if (k % 16 == 0) {  // any bit pattern: mostly huge values, slow to print
            const uint64_t bits = rng();
            double any;
            std::memcpy(&any, &bits, 8);
            if (!check(any)) return;
            ++checked;
        }
        // Ties: a dyadic fraction with its ninth decimal a 5 sits exactly
        // between two 8-decimal texts (1/2^9 = 0.001953125).
        const double tie = static_cast<double>(rng() % 1000000000) + static_cast<double>(rng() % 512) / 512.0;
        if (!check(k % 2 ? tie : -tie)) return;
    }
    for (double v : {0.001953125, 0.005859375, 1e7, 9999999.999999995, 9999999.999999994, 99999999.5,
                     999999999999999.5, 9999999999999999.0, 1e16, -999999.999999995, 5e-9, -5e-9, 1.5e-8})
        check(v), ++checked;
    // Where the text loses its last decimals, and the smallest and largest magnitudes.
    for (double v : {123456789.12345678, 1234567890.123456, -123456789.12345678, 99999.999999995,
                     999999.9999999995, -99999.999999995, 4503599627370495.5, 9007199254740993.0,
                     999999999999999.4, -99999999999999.5, -999999999999999.0, 4.9406564584124654e-324,
                     -4.9406564584124654e-324, 2.2250738585072014e-308, 4.999999999e-9, 1e-9, 0.5, 1.0})
        check(v), ++checked;
    // Every power of ten and its neighbours, either sign.
    for (int k = -12; k <= 17; ++k) {
        const double v = std::pow(10.0, k);
        for (double w : {std::nextafter(v, 0.0), v, std::nextafter(v, HUGE_VAL)}) check(w), check(-w), checked += 2;
    }
    RecordProperty("doubles_checked", std::to_string(checked));
}
