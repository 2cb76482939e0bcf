// The .shp and .shx writers, called directly: header bytes, PointZ records
// and index entries, record numbering across chunks, coordinate scaling.
#include "las_reader.h"
#include "shp_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <limits>
#include <string>
#include <vector>

using testutil::read_file;
using testutil::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

Bytes slice(const Bytes &b, size_t at, size_t n) { return Bytes(b.begin() + at, b.begin() + at + n); }

Bytes le_double(double d) {
    Bytes b(8);
    std::memcpy(b.data(), &d, 8);
    return b;
}

struct ShapeFiles {
    Bytes shp, shx;
};

// Headers for `n` points, then the given chunks of points of LAS type 8.
ShapeFiles write_shapes(const TempDir &dir, int32_t n, const std::vector<std::vector<LAS12fm3>> &chunks,
                        const LAS12Header &ph) {
    const std::string shp = dir / "s.shp";
    createSHPwHeader(shp.c_str(), n, 1, 2, 3, 4, 5, 6);
    createSHXwHeader(shp.c_str(), n, 1, 2, 3, 4, 5, 6);
    EXPECT_TRUE(allocate_coordinate_buffers());
    for (size_t k = 0; k < chunks.size(); ++k)
        addtoSHP8(shp.c_str(), chunks[k].data(), &ph, static_cast<int32_t>(chunks[k].size()), static_cast<int32_t>(k));
    return {read_file(shp), read_file(dir / "s.shx")};
}

LAS12Header unit_header() {
    LAS12Header ph{};
    ph.XScaleFactor = ph.YScaleFactor = ph.ZScaleFactor = 1.0;
    return ph;
}

}  // namespace

TEST(ByteOrder, SwapHelpersReverseTheBitPattern) {
    EXPECT_EQ(swap_uint16(0x1234), 0x3412);
    EXPECT_EQ(swap_int16(static_cast<int16_t>(0x80FF)), static_cast<int16_t>(0xFF80));
    EXPECT_EQ(swap_uint32(0x01020304u), 0x04030201u);
    EXPECT_EQ(swap_int32(9994), 0x0A270000);
    EXPECT_EQ(swap_int32(-2), static_cast<int32_t>(0xFEFFFFFFu));
    EXPECT_EQ(swap_uint64(0x0102030405060708ull), 0x0807060504030201ull);
    EXPECT_EQ(swap_int64(INT64_MIN), 0x80);
    for (int32_t v : {0, 1, -1, INT32_MIN, INT32_MAX, 18000050}) EXPECT_EQ(swap_int32(swap_int32(v)), v);
}

TEST(ShapeHeaders, LengthsForZeroAndAMillionPoints) {
    const struct {
        int32_t n;
        Bytes shp_length, shx_length;
    } cases[] = {
        {0, {0, 0, 0, 0x32}, {0, 0, 0, 0x32}},
        {1, {0, 0, 0, 0x44}, {0, 0, 0, 0x36}},
        {1000000, {0x01, 0x12, 0xA8, 0xB2}, {0x00, 0x3D, 0x09, 0x32}},
        {119304644, {0x7F, 0xFF, 0xFF, 0xFA}, {0x1C, 0x71, 0xC7, 0x42}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.n);
        TempDir dir;
        const ShapeFiles f = write_shapes(dir, c.n, {}, unit_header());
        ASSERT_EQ(f.shp.size(), 100u);
        ASSERT_EQ(f.shx.size(), 100u);
        EXPECT_EQ(slice(f.shp, 24, 4), c.shp_length);
        EXPECT_EQ(slice(f.shx, 24, 4), c.shx_length);
        for (const Bytes *h : {&f.shp, &f.shx}) {
            EXPECT_EQ(slice(*h, 0, 24), Bytes({0, 0, 0x27, 0x0A, 0, 0, 0, 0, 0, 0, 0, 0,
                                               0, 0, 0, 0,    0, 0, 0, 0, 0, 0, 0, 0}));
            EXPECT_EQ(slice(*h, 28, 8), Bytes({0xE8, 0x03, 0, 0, 0x0B, 0, 0, 0}));
            for (int k = 0; k < 6; ++k) EXPECT_EQ(slice(*h, 36 + 8 * k, 8), le_double(k + 1.0)) << k;
            EXPECT_EQ(slice(*h, 84, 16), Bytes(16, 0));
        }
    }
}

TEST(ShapeHeaders, BoundsAreWrittenAsPassed) {
    TempDir dir;
    const std::string shp = dir / "b.shp";
    const double inf = std::numeric_limits<double>::infinity();
    createSHPwHeader(shp.c_str(), 3, 10, -0.0, -10, 1e300, inf, -inf);
    const Bytes h = read_file(shp);
    const double want[6] = {10, -0.0, -10, 1e300, inf, -inf};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(slice(h, 36 + 8 * k, 8), le_double(want[k])) << k;
}

TEST(ShapeHeaders, ExistingFilesAreTruncated) {
    TempDir dir;
    testutil::write_file(dir / "t.shp", Bytes(5000, 0xEE));
    testutil::write_file(dir / "t.shx", Bytes(5000, 0xEE));
    const std::string shp = dir / "t.shp";
    createSHPwHeader(shp.c_str(), 0, 0, 0, 0, 0, 0, 0);
    createSHXwHeader(shp.c_str(), 0, 0, 0, 0, 0, 0, 0);
    EXPECT_EQ(testutil::file_size(dir / "t.shp"), 100u);
    EXPECT_EQ(testutil::file_size(dir / "t.shx"), 100u);
}

TEST(ShapeHeaders, IndexNameReplacesTheLastFourCharacters) {
    const struct {
        const char *shp, *shx;
    } cases[] = {
        {"tile.shp", "tile.shx"},   {"TILE.SHP", "TILE.shx"},     {"a.shape", "a.s.shx"},
        {"d.v2/t.shp", "d.v2/t.shx"}, {".shp", ".shx"},
    };
    for (const auto &c : cases) EXPECT_EQ(shx_name_of(c.shp), c.shx) << c.shp;
}

TEST(PointZRecords, OnePointFiles) {
    TempDir dir;
    LAS12fm3 p{};
    p.X = 150;
    p.Y = -1;
    p.Z = 7;
    LAS12Header ph = unit_header();
    ph.XScaleFactor = 0.01;
    ph.XOffset = 1000.0;
    ph.YScaleFactor = 0.001;
    const ShapeFiles f = write_shapes(dir, 1, {{p}}, ph);
    ASSERT_EQ(f.shp.size(), 136u);
    ASSERT_EQ(f.shx.size(), 108u);
    EXPECT_EQ(slice(f.shp, 100, 12), Bytes({0, 0, 0, 1, 0, 0, 0, 0x0E, 0x0B, 0, 0, 0}));
    EXPECT_EQ(slice(f.shp, 112, 8), Bytes({0, 0, 0, 0, 0, 0x4C, 0x8F, 0x40}));  // exactly 1001.5
    EXPECT_EQ(slice(f.shp, 120, 8), le_double(-0.001));
    EXPECT_EQ(slice(f.shp, 128, 8), le_double(7.0));
    EXPECT_EQ(slice(f.shx, 100, 8), Bytes({0, 0, 0, 0x32, 0, 0, 0, 0x0E}));
}

TEST(PointZRecords, ScalingIsAProductThenASum) {
    const struct {
        int32_t raw;
        double scale, offset, want;
    } cases[] = {
        {-1, 0.001, 0.0, -0.001},
        {-1, 0.01, 500000.0, 499999.99},
        {150, 0.01, 1000.0, 1001.5},
        {INT32_MIN, 0.01, 0.0, -21474836.48},
        // A fused multiply-add would give 2.7755575615628914e-17.
        {3, 0.1, -0.3, 5.551115123125783e-17},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.raw);
        TempDir dir;
        LAS12fm3 p{};
        p.X = p.Y = p.Z = c.raw;
        LAS12Header ph{};
        ph.XScaleFactor = ph.YScaleFactor = ph.ZScaleFactor = c.scale;
        ph.XOffset = ph.YOffset = ph.ZOffset = c.offset;
        const ShapeFiles f = write_shapes(dir, 1, {{p}}, ph);
        for (int a = 0; a < 3; ++a) EXPECT_EQ(slice(f.shp, 112 + 8 * a, 8), le_double(c.want)) << a;
    }
}

TEST(PointZRecords, EveryPointFormatGivesTheSameRecords) {
    const int32_t xyz[][3] = {{0, 0, 0}, {-5, 17, INT32_MAX}, {123456789, -987654321, 42}};
    LAS10Header h10{};
    LAS11Header h11{};
    LAS12Header h12{};
    auto set_scaling = [](auto &h) {
        h.XScaleFactor = 0.01;
        h.YScaleFactor = 0.001;
        h.ZScaleFactor = 0.1;
        h.XOffset = 512000;
        h.YOffset = -4180000.5;
    };
    set_scaling(h10);
    set_scaling(h11);
    set_scaling(h12);
    TempDir dir;
    ASSERT_TRUE(allocate_coordinate_buffers());
    std::vector<Bytes> outputs;
    auto run = [&](int type, auto points, const auto *ph, auto addto) {
        for (size_t i = 0; i < 3; ++i) {
            points[i].X = xyz[i][0];
            points[i].Y = xyz[i][1];
            points[i].Z = xyz[i][2];
        }
        const std::string shp = dir / ("t" + std::to_string(type) + ".shp");
        createSHPwHeader(shp.c_str(), 3, 0, 0, 0, 0, 0, 0);
        createSHXwHeader(shp.c_str(), 3, 0, 0, 0, 0, 0, 0);
        addto(shp.c_str(), points.data(), ph, 3, 0);
        Bytes both = read_file(shp);
        const Bytes shx = read_file(shx_name_of(shp.c_str()));
        both.insert(both.end(), shx.begin(), shx.end());
        outputs.push_back(both);
    };
    run(1, std::vector<LAS10fm0>(3), &h10, addtoSHP1);
    run(2, std::vector<LAS10fm1>(3), &h10, addtoSHP2);
    run(3, std::vector<LAS11fm0>(3), &h11, addtoSHP3);
    run(4, std::vector<LAS11fm1>(3), &h11, addtoSHP4);
    run(5, std::vector<LAS12fm0>(3), &h12, addtoSHP5);
    run(6, std::vector<LAS12fm1>(3), &h12, addtoSHP6);
    run(7, std::vector<LAS12fm2>(3), &h12, addtoSHP7);
    run(8, std::vector<LAS12fm3>(3), &h12, addtoSHP8);
    ASSERT_EQ(outputs[0].size(), 100u + 3 * 36 + 100 + 3 * 8);
    for (size_t k = 1; k < outputs.size(); ++k) EXPECT_EQ(outputs[k], outputs[0]) << "type " << k + 1;
}

TEST(PointZRecords, NumbersAndOffsetsAcrossTheChunkBoundary) {
    TempDir dir;
    std::vector<LAS12fm3> full(1000000), last(2);
    for (size_t i = 0; i < full.size(); ++i) full[i].X = static_cast<int32_t>(i);
    last[0].X = -1;
    last[1].X = -2;
    const ShapeFiles f = write_shapes(dir, 1000002, {full, last}, unit_header());
    ASSERT_EQ(f.shp.size(), 100u + 36u * 1000002);
    ASSERT_EQ(f.shx.size(), 100u + 8u * 1000002);
    // Record 1,000,000 (last of chunk 0) and 1,000,001 (first of chunk 1).
    EXPECT_EQ(slice(f.shp, 100 + 36 * 999999, 4), Bytes({0x00, 0x0F, 0x42, 0x40}));
    EXPECT_EQ(slice(f.shx, 100 + 8 * 999999, 4), Bytes({0x01, 0x12, 0xA8, 0xA0}));
    EXPECT_EQ(slice(f.shp, 100 + 36 * 1000000, 4), Bytes({0x00, 0x0F, 0x42, 0x41}));
    EXPECT_EQ(slice(f.shx, 100 + 8 * 1000000, 4), Bytes({0x01, 0x12, 0xA8, 0xB2}));
    EXPECT_EQ(slice(f.shp, 100 + 36 * 1000000 + 12, 8), le_double(-1.0));
    // Every index entry points at its record, whose number is its position.
    for (uint32_t r = 1; r <= 1000002; ++r) {
        const uint8_t *e = f.shx.data() + 100 + 8 * (r - 1);
        const uint64_t words = (uint64_t{e[0]} << 24) | (e[1] << 16) | (e[2] << 8) | e[3];
        ASSERT_LE(2 * words + 8, f.shp.size()) << r;
        const uint8_t *rec = f.shp.data() + 2 * words;
        const uint32_t number = (uint32_t{rec[0]} << 24) | (rec[1] << 16) | (rec[2] << 8) | rec[3];
        ASSERT_EQ(number, r);
        ASSERT_EQ(0, std::memcmp(e + 4, rec + 4, 4)) << "content length of record " << r;
    }
}

// Records from given real coordinates are those of point records that
// scale to the same values, numbered from the same first record, through
// files kept open for both; both widen the bounds alike.
TEST(PointZRecords, GivenCoordinatesWriteThePointRecordsBytes) {
    TempDir dir;
    ASSERT_TRUE(allocate_coordinate_buffers());
    std::vector<LAS12fm3> points(70001);
    std::vector<double> x, y, z;
    for (size_t i = 0; i < points.size(); ++i) {
        points[i].X = static_cast<int32_t>(i * 7) - 3000;
        points[i].Y = -static_cast<int32_t>(i);
        points[i].Z = static_cast<int32_t>(i % 97);
        x.push_back(points[i].X), y.push_back(points[i].Y), z.push_back(points[i].Z);
    }
    const CoordinateScaling unit{{1, 1, 1}, {0, 0, 0}};
    const double bounds[6] = {1, 2, 3, 4, 5, 6};
    std::vector<ShapeFiles> written;
    double widened[2][6];
    for (const bool given : {false, true}) {
        double *b = widened[given ? 1 : 0];
        const std::string shp = dir / (given ? "g.shp" : "r.shp");
        {
            ShapeOutputs s;
            create_shapes(s, shp, static_cast<int32_t>(points.size()), bounds);
            if (given)
                append_pointz_given(s, x.data(), y.data(), z.data(), static_cast<int32_t>(points.size()), 41, b, true);
            else
                append_pointz_records(s, reinterpret_cast<const unsigned char *>(points.data()), sizeof points[0], unit,
                                      static_cast<int32_t>(points.size()), 41, 0, false, b, true);
            close_shapes(s);
        }
        written.push_back({read_file(shp), read_file(shx_name_of(shp.c_str()))});
    }
    ASSERT_EQ(written[0].shp.size(), 100u + 36 * points.size());
    EXPECT_TRUE(written[0].shp == written[1].shp);
    EXPECT_TRUE(written[0].shx == written[1].shx);
    EXPECT_EQ(slice(written[1].shp, 100, 4), Bytes({0, 0, 0, 41}));
    EXPECT_EQ(std::vector<double>(widened[1], widened[1] + 6), std::vector<double>(widened[0], widened[0] + 6));
    EXPECT_EQ(std::vector<double>(widened[1], widened[1] + 6),
              std::vector<double>({-3000, -70000, 7 * 70000 - 3000, 0, 0, 96}));
}

TEST(PointZRecords, EmptyChunkAppendsNothing) {
    TempDir dir;
    const ShapeFiles f = write_shapes(dir, 0, {{}}, unit_header());
    EXPECT_EQ(f.shp.size(), 100u);
    EXPECT_EQ(f.shx.size(), 100u);
}

TEST(ShapeFailures, FilesThatCannotBeOpened) {
    TempDir dir;
    ASSERT_EQ(::system(("mkdir '" + (dir / "d.shp") + "' '" + (dir / "e.shx") + "'").c_str()), 0);
    const std::string d = dir / "d.shp", e = dir / "e.shp";
    ASSERT_TRUE(allocate_coordinate_buffers());
    LAS12fm3 p{};
    const LAS12Header ph = unit_header();
    const struct {
        const char *label;
        std::function<void()> call;
        std::string out;
    } cases[] = {
        {"main header", [&] { createSHPwHeader(d.c_str(), 0, 0, 0, 0, 0, 0, 0); },
         "\nUnable to open file " + d + " for writing\n"},
        {"index header", [&] { createSHXwHeader(e.c_str(), 0, 0, 0, 0, 0, 0, 0); },
         "Unable to open " + dir / "e.shx" + " for appending data\n"},
        {"main records", [&] { addtoSHP8(d.c_str(), &p, &ph, 1, 0); },
         "Unable to open " + d + " for appending data\n"},
        {"index records", [&] { addtoSHP8(e.c_str(), &p, &ph, 1, 0); },
         "Unable to open " + dir / "e.shx" + " for appending data\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        const testutil::RunResult r = testutil::run_in_child(c.call);
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 255);
    }
}
