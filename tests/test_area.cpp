// The area module: the JSON reader, the polygons of a clip read from files
// that GDAL writes, their coordinate systems, and the point test judged
// against GEOS.
#include "area.h"
#include "json.h"
#include "test_util.h"

#include <geos_c.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <sstream>
#include <string>
#include <vector>

using testutil::TempDir;

namespace {

// A value written back in one canonical form, to compare with what a text means.
std::string dump(const json::Value &v) {
    using K = json::Value::Kind;
    switch (v.kind) {
        case K::null: return "null";
        case K::boolean: return v.boolean ? "true" : "false";
        case K::number: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", v.number);
            return text;
        }
        case K::string: return "<" + v.string + ">";
        case K::array: {
            std::string s = "[";
            for (const auto &i : v.items) s += (s.size() > 1 ? "," : "") + dump(i);
            return s + "]";
        }
        case K::numbers:
        case K::rows: {
            // "#[1,2]" for numbers, "#2[1,2|3,4]" for rows of two.
            std::string s = v.kind == K::rows ? "#" + std::to_string(v.width) + "[" : "#[";
            for (size_t i = 0; i < v.numbers.size(); ++i) {
                json::Value n;
                n.kind = K::number, n.number = v.numbers[i];
                s += (i == 0 ? "" : v.kind == K::rows && i % v.width == 0 ? "|" : ",") + dump(n);
            }
            return s + "]";
        }
        case K::object: {
            std::string s = "{";
            for (const auto &m : v.members) s += (s.size() > 1 ? "," : "") + m.first + ":" + dump(m.second);
            return s + "}";
        }
    }
    return "?";
}

std::string repeat(const std::string &s, int n) {
    std::string r;
    while (n-- > 0) r += s;
    return r;
}

}  // namespace

TEST(Json, TextsAndWhatTheyHold) {
    const std::string deepest = std::string(64, '[') + std::string(64, ']');
    const struct {
        std::string text, value;
    } good[] = {
        {" null ", "null"},
        {"true", "true"},
        {"\t\r\n[false ,true]\n", "[false,true]"},
        {"-0.5e+2", "-50"},
        // Arrays of numbers only hold them as numbers; another item makes values of them.
        {"[0, 12, 1E3, 2.25e-1]", "#[0,12,1000,0.22500000000000001]"},
        {"[[1, -2], [3.5,4] ,[-0,6e1]]", "#2[1,-2|3.5,4|-0,60]"},
        {"[[1, -2], [3.5,4,5] ,[]]", "[#[1,-2],#[3.5,4,5],[]]"},
        {"[[1,2],[3,4],\"a\"]", "[#[1,2],#[3,4],<a>]"},
        {"[[[1,2],[3,4]],[[5,6]]]", "[#2[1,2|3,4],#2[5,6]]"},
        {"[[], [1]]", "[[],#[1]]"},
        {"[1, 2, null, 3]", "[1,2,null,3]"},
        {"[1, [2]]", "[1,#[2]]"},
        {R"({"a":{"b":[]},"a":1})", "{a:{b:[]},a:1}"},
        {R"("\"\\\/\b\f\n\r\t")", "<\"\\/\b\f\n\r\t>"},
        {R"("\u00e9\u20AC\ud83d\ude00")", "<\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80>"},
        {"\"caf\xC3\xA9\"", "<caf\xC3\xA9>"},
        {"{}", "{}"},
        {deepest, deepest},
    };
    for (const auto &c : good) {
        SCOPED_TRACE(c.text.substr(0, 40));
        json::Value v;
        std::string why;
        ASSERT_TRUE(json::parse(c.text, v, why)) << why;
        EXPECT_EQ(dump(v), c.value);
    }

    const struct {
        std::string text, why;
    } bad[] = {
        {"", "unexpected end of text"},
        {"  ", "unexpected end of text"},
        {"[1,]", "unexpected character at byte 4"},
        {"[1 2]", "unexpected character at byte 4"},
        {"{\"a\" 1}", "unexpected character at byte 6"},
        {"{a:1}", "unexpected character at byte 2"},
        {"nul", "unexpected end of text"},
        {"nulL", "unexpected character at byte 4"},
        {"01", "unexpected character at byte 2"},
        {"1.", "unexpected end of text"},
        {"-", "unexpected end of text"},
        {"+1", "unexpected character at byte 1"},
        {".5", "unexpected character at byte 1"},
        {"1e400", "number out of range at byte 1"},
        {"[1] [2]", "unexpected character at byte 5"},
        {"\"abc", "unexpected end of text"},
        {"\"a\nb\"", "control character in a string at byte 3"},
        {R"("\x")", "bad escape at byte 2"},
        {R"("\u12G4")", "bad \\u escape at byte 6"},
        {R"("\u12")", "short \\u escape at byte 4"},
        {R"("\ud83d")", "unpaired surrogate at byte 2"},
        {R"("\ud83dx")", "unpaired surrogate at byte 2"},
        {R"("\ude00")", "unpaired surrogate at byte 2"},
        {R"("\ud83d\u0041")", "unpaired surrogate at byte 2"},
        {std::string("[\0]", 3), "unexpected character at byte 2"},
        {std::string(65, '[') + std::string(65, ']'), "nesting deeper than 64 at byte 65"},
        {std::string(40, '[') + repeat("{\"a\":", 30), "nesting deeper than 64 at byte 161"},
        {std::string(100000, '['), "nesting deeper than 64 at byte 65"},
    };
    for (const auto &c : bad) {
        SCOPED_TRACE(c.text.substr(0, 40));
        json::Value v;
        std::string why;
        EXPECT_FALSE(json::parse(c.text, v, why));
        EXPECT_EQ(why, c.why);
    }
}

// Numbers read exactly as strtod reads them, whatever their digits and
// exponents: coordinates as writers print them, and any other.
TEST(Json, NumbersAsStrtodReadsThem) {
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> magnitude(-30, 30);
    const char *const formats[] = {"%.3f", "%.7f", "%.15g", "%.17g", "%.6e", "%.20e", "%.0f"};
    std::vector<std::string> texts = {"0", "-0", "9007199254740992", "9007199254740993", "123456789012345678901",
                                      "1e22", "1e23", "-1.5e-22", "4.9e-324", "0.000000000000000000000001234",
                                      "1E5", "2.5e+3"};
    for (int i = 0; i < 20000; ++i) {
        char text[64];
        std::snprintf(text, sizeof text, formats[i % 7], std::pow(10.0, magnitude(random)) * (i % 2 ? -1 : 1));
        texts.push_back(text);
    }
    for (const std::string &t : texts) {
        json::Value v;
        std::string why;
        ASSERT_TRUE(json::parse("[" + t + "]", v, why)) << t << ": " << why;
        const double want = std::strtod(t.c_str(), nullptr), got = v.numbers.at(0);
        EXPECT_TRUE(got == want && std::signbit(got) == std::signbit(want)) << t;
    }
}

TEST(Json, FindsTheFirstMemberOfAnObject) {
    json::Value v;
    std::string why;
    ASSERT_TRUE(json::parse(R"({"type":"name","type":"other","n":1})", v, why));
    ASSERT_NE(v.find("type"), nullptr);
    EXPECT_EQ(v.find("type")->string, "name");
    EXPECT_EQ(v.find("missing"), nullptr);
    EXPECT_EQ(v.find("n")->find("n"), nullptr);  // a number has no members
}

namespace {

// GEOS, as the judge of the point test and of what was read.
struct GeosJudge {
    GEOSContextHandle_t h = GEOS_init_r();
    std::vector<GEOSGeometry *> made;
    std::vector<const GEOSPreparedGeometry *> prepared;
    ~GeosJudge() {
        for (const GEOSPreparedGeometry *g : prepared) GEOSPreparedGeom_destroy_r(h, g);
        for (GEOSGeometry *g : made) GEOSGeom_destroy_r(h, g);
        GEOS_finish_r(h);
    }
    GEOSGeometry *keep(GEOSGeometry *g) {
        made.push_back(g);
        return g;
    }
    GEOSGeometry *wkt(const std::string &text) {
        GEOSWKTReader *r = GEOSWKTReader_create_r(h);
        GEOSGeometry *g = GEOSWKTReader_read_r(h, r, text.c_str());
        GEOSWKTReader_destroy_r(h, r);
        return keep(g);
    }
    GEOSGeometry *polygon(const area::Polygon &p) {
        std::vector<GEOSGeometry *> rings;
        for (const area::Ring &r : p.rings)
            rings.push_back(GEOSGeom_createLinearRing_r(
                h, GEOSCoordSeq_copyFromArrays_r(h, r.x.data(), r.y.data(), nullptr, nullptr, r.x.size())));
        return keep(GEOSGeom_createPolygon_r(h, rings[0], rings.data() + 1, rings.size() - 1));
    }
    bool covers(const std::vector<GEOSGeometry *> &areas, double x, double y) {
        GEOSGeometry *pt = GEOSGeom_createPointFromXY_r(h, x, y);
        bool any = false;
        for (GEOSGeometry *a : areas) any = any || GEOSCovers_r(h, a, pt) == 1;
        GEOSGeom_destroy_r(h, pt);
        return any;
    }
    // The same through GEOS's index over the edges (a prepared geometry),
    // for polygons too large for its plain test, which works out the whole
    // matrix of relations for every point.
    void prepare(const std::vector<GEOSGeometry *> &areas) {
        for (GEOSGeometry *a : areas) prepared.push_back(GEOSPrepare_r(h, a));
    }
    bool prepared_covers(double x, double y) {
        GEOSGeometry *pt = GEOSGeom_createPointFromXY_r(h, x, y);
        bool any = false;
        for (const GEOSPreparedGeometry *a : prepared) any = any || GEOSPreparedCovers_r(h, a, pt) == 1;
        GEOSGeom_destroy_r(h, pt);
        return any;
    }
};

// Writes the features (WKT, one a line) as a CSV and converts it to `name`
// in `dir` with GDAL's ogr2ogr, in coordinate system `srs`.
void write_area(const TempDir &dir, const std::string &name, const std::vector<std::string> &features,
                const std::string &srs, const std::vector<std::string> &options = {}) {
    std::string csv = "id,wkt\n";
    for (size_t i = 0; i < features.size(); ++i) csv += std::to_string(i + 1) + ",\"" + features[i] + "\"\n";
    const std::string source = dir / ("source-" + name + ".csv");
    testutil::write_file(source, std::vector<uint8_t>(csv.begin(), csv.end()));
    std::vector<std::string> args = {dir / name, source, "-oo", "GEOM_POSSIBLE_NAMES=wkt",
                                     "-oo", "KEEP_GEOM_COLUMNS=NO", "-a_srs", srs};
    args.insert(args.end(), options.begin(), options.end());
    const testutil::RunResult r = testutil::run("/usr/bin/ogr2ogr", args, dir.path());
    ASSERT_EQ(r.status, 0) << r.out << r.err;
}

const std::string kSquareWithHole = "POLYGON ((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4))";
const std::string kTriangle = "POLYGON ((20 0,30 0,25 8,20 0))";

}  // namespace

// The same area (a square with a hole and a triangle) from every kind of
// source, and points inside, outside and on the rings, judged by GEOS too.
TEST(Areas, ReadFromEveryKindAndTestedPointByPoint) {
    TempDir dir;
    const std::string both = "MULTIPOLYGON (((0 0,10 0,10 10,0 10,0 0),(4 4,6 4,6 6,4 6,4 4)),((20 0,30 0,25 8,20 0)))";
    write_area(dir, "two.shp", {kSquareWithHole, kTriangle}, "EPSG:25830");
    write_area(dir, "multi.shp", {both}, "EPSG:25830");
    write_area(dir, "two.gpkg", {kSquareWithHole, kTriangle}, "EPSG:25830", {"-nln", "lakes"});
    write_area(dir, "multi.gpkg", {both}, "EPSG:25830", {"-nlt", "MULTIPOLYGON"});
    write_area(dir, "two.geojson", {kSquareWithHole, kTriangle}, "EPSG:25830");
    write_area(dir, "multi.json", {both}, "EPSG:25830", {"-f", "GeoJSON"});
    const std::string triangle_z = "POLYGON Z ((20 0 1,30 0 2,25 8 3,20 0 1))";
    write_area(dir, "z.shp", {triangle_z}, "EPSG:25830");
    write_area(dir, "z.geojson", {triangle_z}, "EPSG:25830");
    write_area(dir, "z.gpkg", {triangle_z}, "EPSG:25830");
    // Positions of two lengths, as a hand-edited file may hold them.
    const std::string ragged = R"({"type":"Polygon","coordinates":[[[20,0],[30,0,2],[25,8],[20,0]]]})";
    testutil::write_file(dir / "ragged.geojson", std::vector<uint8_t>(ragged.begin(), ragged.end()));
    // The square's row marked deleted in the table, as GDAL leaves it unpacked.
    write_area(dir, "deleted.shp", {kSquareWithHole, kTriangle}, "EPSG:25830");
    const testutil::RunResult deleted = testutil::run(
        "/usr/bin/python3", {"-c", "from osgeo import gdal\n"
                                   "ds = gdal.OpenEx('deleted.shp', gdal.OF_VECTOR | gdal.OF_UPDATE, "
                                   "open_options=['AUTO_REPACK=NO'])\n"
                                   "ds.GetLayer(0).DeleteFeature(0)\n"},
        dir.path());
    ASSERT_EQ(deleted.status, 0) << deleted.err;
    const struct {
        std::string source, crs;
        bool triangle_only;
    } sources[] = {
        {dir / "two.shp", "EPSG:25830", false},     {dir / "multi.shp", "EPSG:25830", false},
        {dir / "two.gpkg", "EPSG:25830", false},    {dir / "multi.gpkg", "EPSG:25830", false},
        {dir / "two.geojson", "EPSG:25830", false}, {dir / "multi.json", "EPSG:25830", false},
        {"  " + both, "", false},                   {"polygon z ((20 0 1,30 0 2,25 8 3,20 0 1))", "", true},
        {dir / "z.shp", "EPSG:25830", true},        {dir / "z.geojson", "EPSG:25830", true},
        {dir / "z.gpkg", "EPSG:25830", true},       {dir / "deleted.shp", "EPSG:25830", true},
        {dir / "ragged.geojson", "EPSG:4326", true},
    };
    const struct {
        double x, y;
        bool covered;
    } points[] = {
        {2, 2, true},     {5, 5, false},   {4, 5, true},     {4, 4, true},    {6, 6, true},   {0, 5, true},
        {10, 10, true},   {11, 5, false},  {-0.0001, 5, false}, {25, 4, true}, {22.5, 4, true}, {25, 8, true},
        {25, 8.001, false}, {15, 5, false}, {30, 0, true},   {31, 0, false},  {20, -1, false}, {3.9999, 5, true},
    };
    GeosJudge geos;
    const std::vector<GEOSGeometry *> judged = {geos.wkt(kSquareWithHole), geos.wkt(kTriangle)};
    for (const auto &s : sources) {
        SCOPED_TRACE(s.source);
        area::Polygons p;
        ASSERT_EQ(area::read_polygons(s.source, "", "", p), "");
        const bool triangle_only = s.triangle_only;  // of the triangle alone
        EXPECT_EQ(p.polygons.size(), triangle_only ? 1u : 2u);
        if (s.crs.empty()) EXPECT_EQ(p.crs, "");
        else EXPECT_TRUE(area::same_crs(p.crs, s.crs)) << p.crs;
        const area::Clip clip(p);
        for (const auto &pt : points) {
            SCOPED_TRACE(std::to_string(pt.x) + " " + std::to_string(pt.y));
            const bool expected = triangle_only ? pt.covered && pt.x >= 20 : pt.covered;
            EXPECT_EQ(clip.covers(pt.x, pt.y), expected);
            EXPECT_EQ(geos.covers(triangle_only ? std::vector<GEOSGeometry *>{judged[1]} : judged, pt.x, pt.y),
                      expected);
        }
        const area::Box b = clip.bounds();
        EXPECT_EQ(b.xmin, triangle_only ? 20 : 0);
        EXPECT_EQ(b.xmax, 30);
        EXPECT_EQ(b.ymax, 10 - 2 * triangle_only);
        // Boxes between the polygons and beyond them, and one that touches a corner.
        EXPECT_FALSE(clip.meets({12, -5, 18, 20}));
        EXPECT_FALSE(clip.meets({31, 0, 40, 10}));
        EXPECT_TRUE(clip.meets({29, -1, 40, 0}));
    }
}

// A GeoJSON area in longitude and latitude (RFC 7946's, or the older crs
// member's CRS84, as ogr2ogr writes them), moved into a UTM survey's system:
// every vertex where PROJ's cs2cs puts it from WGS 84 (EPSG:4326), whose
// transformations into NAD83 move it by over a metre.
TEST(Areas, GeoJsonInLongitudeAndLatitudeMovedIntoUtm) {
    const struct {
        double lon0, lat0;  // the lake's south-west corner; it spans 0.02 degrees
        std::string survey, rfc7946;
    } cases[] = {
        {-3.71, 40.41, "EPSG:25830", "YES"},
        {-122.71, 45.41, "EPSG:26910", "YES"},  // NAD83 / UTM zone 10N
        {-122.71, 45.41, "EPSG:26910", "NO"},   // "urn:ogc:def:crs:OGC:1.3:CRS84"
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.survey + " RFC7946=" + c.rfc7946);
        TempDir dir;
        const double lon[] = {c.lon0, c.lon0 + 0.02, c.lon0 + 0.02, c.lon0, c.lon0};
        const double lat[] = {c.lat0, c.lat0, c.lat0 + 0.02, c.lat0 + 0.02, c.lat0};
        std::string lonlat = "POLYGON ((", input;
        for (int i = 0; i < 5; ++i) {
            lonlat += (i > 0 ? "," : "") + std::to_string(lon[i]) + " " + std::to_string(lat[i]);
            input += std::to_string(lat[i]) + " " + std::to_string(lon[i]) + "\n";
        }
        write_area(dir, "lake.geojson", {lonlat + "))"}, "EPSG:4326", {"-lco", "RFC7946=" + c.rfc7946});
        area::Polygons p;
        ASSERT_EQ(area::read_polygons(dir / "lake.geojson", "", "", p), "");
        EXPECT_EQ(p.crs, "EPSG:4326");
        // The survey's system as a .prj states it (ESRI WKT), as GDAL writes one.
        write_area(dir, "survey.shp", {kTriangle}, c.survey);
        const std::string survey = testutil::read_text(dir / "survey.prj");
        EXPECT_FALSE(area::same_crs(p.crs, survey));
        ASSERT_EQ(area::transform_polygons(p, survey, "lake.geojson"), "");
        EXPECT_EQ(p.crs, survey);

        const area::Ring &moved = p.polygons.at(0).rings.at(0);
        testutil::write_file(dir / "in.txt", std::vector<uint8_t>(input.begin(), input.end()));
        const testutil::RunResult r =
            testutil::run("/bin/sh", {"-c", "cs2cs -f %.6f EPSG:4326 " + c.survey + " < in.txt"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.err;
        std::istringstream out(r.out);
        ASSERT_EQ(moved.x.size(), 5u);
        for (size_t i = 0; i < 5; ++i) {
            double x, y, z;
            ASSERT_TRUE(out >> x >> y >> z);
            // GDAL wrote the vertices with 15 significant digits.
            EXPECT_NEAR(moved.x[i], x, 1e-3);
            EXPECT_NEAR(moved.y[i], y, 1e-3);
        }
        // The lake's middle in the survey's system, as cs2cs has it.
        const area::Clip clip(p);
        EXPECT_TRUE(clip.covers((moved.x[0] + moved.x[2]) / 2, (moved.y[0] + moved.y[2]) / 2));
        EXPECT_FALSE(clip.covers(moved.x[0] - 1, moved.y[0]));
    }
}

TEST(Areas, CoordinateSystemsThatAreTheSame) {
    TempDir dir;
    write_area(dir, "utm.shp", {kTriangle}, "EPSG:25830");
    const std::string esri = testutil::read_text(dir / "utm.prj");
    const struct {
        std::string a, b;
        bool same;
    } cases[] = {
        {"EPSG:25830", esri, true},
        {"EPSG:25830", "EPSG:25831", false},
        {"EPSG:4326", "OGC:CRS84", true},              // the axis order of a geographic system aside
        {"EPSG:4326", "EPSG:4258", false},
        {"EPSG:25830+5782", "EPSG:25830", true},       // the horizontal part of a compound system
        {"urn:ogc:def:crs:EPSG::25830", "EPSG:25830", true},
        {"EPSG:25830", "no system", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.a.substr(0, 30) + " / " + c.b.substr(0, 30));
        EXPECT_EQ(area::same_crs(c.a, c.b), c.same);
        EXPECT_EQ(area::same_crs(c.b, c.a), c.same);
    }
}

namespace {

area::Ring ring_of(const std::vector<double> &xy) {
    area::Ring r;
    for (size_t i = 0; i + 1 < xy.size(); i += 2) {
        r.x.push_back(xy[i]);
        r.y.push_back(xy[i + 1]);
    }
    r.x.push_back(r.x[0]);
    r.y.push_back(r.y[0]);
    return r;
}

// A star of `n` vertices on whole numbers, radii drawn between 0.3 and 1
// million, with a square hole at its middle.
area::Polygon star(int n, std::mt19937_64 &random) {
    std::uniform_real_distribution<double> radius(3e5, 1e6);
    std::vector<double> xy;
    for (int i = 0; i < n; ++i) {
        const double angle = 2 * M_PI * i / n, r = radius(random);
        xy.push_back(std::round(r * std::cos(angle)));
        xy.push_back(std::round(r * std::sin(angle)));
    }
    return area::Polygon{{ring_of(xy), ring_of({-1e5, -1e5, -1e5, 1e5, 1e5, 1e5, 1e5, -1e5})}};
}

// A comb of `teeth` teeth one unit high pointing east, one unit apart: rows
// of cells crossed by long edges.
area::Polygon comb(int teeth) {
    std::vector<double> xy = {0, 0};
    for (int t = 0; t < teeth; ++t) {
        const double y = 2.0 * t;
        xy.insert(xy.end(), {1000, y, 1000, y + 1, 10, y + 1, 10, y + 2});
    }
    xy.insert(xy.end(), {0, 2.0 * teeth});
    return area::Polygon{{ring_of(xy)}};
}

}  // namespace

// The point test against GEOS over large polygons: random points, whole
// numbers (often on an edge), the vertices, the edges' middles and points a
// unit in the last place off an edge; and every box that meets() turns away
// meets none of the polygons.
TEST(Clip, AgreesWithGeosOverLargePolygons) {
    std::mt19937_64 random(31);
    const struct {
        const char *what;
        std::vector<area::Polygon> polygons;
    } cases[] = {
        {"a star of 10000 vertices with a hole, and a rectangle over it",
         {star(10000, random), area::Polygon{{ring_of({5e5, -2e5, 2e6, -2e5, 2e6, 2e5, 5e5, 2e5})}}}},
        {"a comb of 400 teeth", {comb(400)}},
        // A million times wider than high: one row of cells, whose middle
        // line runs along the step, so that the cells there find no point of
        // it off their edges.
        {"a step along the middle of a row of cells",
         {area::Polygon{{ring_of({0, 0, 1e6, 0, 1e6, 1, 5e5, 1, 5e5, 2, 0, 2})}}}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.what);
        GeosJudge geos;
        std::vector<GEOSGeometry *> judged;
        for (const area::Polygon &p : c.polygons) {
            judged.push_back(geos.polygon(p));
            ASSERT_EQ(GEOSisValid_r(geos.h, judged.back()), 1);
        }
        geos.prepare(judged);
        const area::Clip clip(area::Polygons{c.polygons, ""});
        const area::Box b = clip.bounds();
        std::vector<std::pair<double, double>> points;
        std::uniform_real_distribution<double> ux(b.xmin - 10, b.xmax + 10), uy(b.ymin - 10, b.ymax + 10);
        for (int i = 0; i < 4000; ++i) points.emplace_back(ux(random), uy(random));
        for (int i = 0; i < 4000; ++i) points.emplace_back(std::round(ux(random)), std::round(uy(random)));
        const area::Ring &outer = c.polygons[0].rings[0];
        std::uniform_int_distribution<size_t> vertex(0, outer.x.size() - 2);
        for (int i = 0; i < 4000; ++i) {
            const size_t k = vertex(random);
            const double ax = outer.x[k], ay = outer.y[k], bx = outer.x[k + 1], by = outer.y[k + 1];
            switch (i % 4) {
                case 0: points.emplace_back(ax, ay); break;
                case 1: points.emplace_back((ax + bx) / 2, (ay + by) / 2); break;
                case 2: points.emplace_back(std::nextafter((ax + bx) / 2, 3e6), (ay + by) / 2); break;
                case 3: points.emplace_back((ax + bx) / 2, std::nextafter((ay + by) / 2, -3e6)); break;
            }
        }
        int covered = 0, differ = 0;
        for (const auto &pt : points) {
            const bool ours = clip.covers(pt.first, pt.second);
            covered += ours;
            if (ours != geos.prepared_covers(pt.first, pt.second) && ++differ <= 5)
                ADD_FAILURE() << "at " << pt.first << " " << pt.second << " covers() says " << ours;
        }
        EXPECT_EQ(differ, 0);
        EXPECT_GT(covered, 1000);
        EXPECT_LT(covered, 11000);

        std::uniform_real_distribution<double> size(0, (b.xmax - b.xmin) / 50);
        int met = 0;
        for (int i = 0; i < 2000; ++i) {
            const double x = ux(random), y = uy(random);
            const area::Box box{x, y, x + size(random), y + size(random)};
            if (clip.meets(box)) {
                ++met;
                continue;
            }
            GEOSGeometry *g = geos.keep(GEOSGeom_createRectangle_r(geos.h, box.xmin, box.ymin, box.xmax, box.ymax));
            for (GEOSGeometry *a : judged) EXPECT_EQ(GEOSIntersects_r(geos.h, a, g), 0);
        }
        EXPECT_GT(met, 200);
    }
}

// Every refusal, one line each.
TEST(Areas, Refusals) {
    TempDir dir;
    const std::string bowtie = "POLYGON ((0 0,10 10,10 0,0 10,0 0))";
    testutil::write_file(dir / "area.txt", {'x'});
    testutil::write_file(dir / "damaged.shp", std::vector<uint8_t>(200, 7));
    testutil::write_file(dir / "damaged.gpkg", std::vector<uint8_t>(4096, 7));
    const std::string not_json = "{\"type\": FeatureCollection}";
    testutil::write_file(dir / "bad.geojson", std::vector<uint8_t>(not_json.begin(), not_json.end()));
    const std::string far_crs =
        R"({"type":"Polygon","crs":{"type":"name","properties":{"name":"EPSG:99999"}},"coordinates":[[[0,0],[1,0],[0,1],[0,0]]]})";
    testutil::write_file(dir / "far.json", std::vector<uint8_t>(far_crs.begin(), far_crs.end()));
    // GEOS's own reader reads past a position of no number.
    const std::string no_position = R"({"type":"Polygon","coordinates":[[[0,0],[1,0],[],[0,0]]]})";
    testutil::write_file(dir / "hollow.json", std::vector<uint8_t>(no_position.begin(), no_position.end()));
    const std::string empty = R"({"type":"FeatureCollection","features":[]})";
    testutil::write_file(dir / "empty.geojson", std::vector<uint8_t>(empty.begin(), empty.end()));
    write_area(dir, "points.shp", {"POINT (1 2)", "POINT (3 4)"}, "EPSG:25830");
    write_area(dir, "lines.gpkg", {"LINESTRING (1 2,3 4)"}, "EPSG:25830");
    write_area(dir, "mixed.geojson", {"POINT (1 2)", "LINESTRING (1 2,3 4)"}, "EPSG:25830");
    write_area(dir, "bowtie.gpkg", {kTriangle, bowtie}, "EPSG:25830");
    write_area(dir, "round.gpkg", {kTriangle, "CURVEPOLYGON (CIRCULARSTRING (0 0,1 1,2 0,1 -1,0 0))"}, "EPSG:25830");
    write_area(dir, "layers.gpkg", {kTriangle}, "EPSG:25830", {"-nln", "parcels"});
    write_area(dir, "layers.gpkg", {kSquareWithHole}, "EPSG:25830", {"-update", "-nln", "lakes"});
    write_area(dir, "layers.gpkg", {"POINT (1 2)"}, "EPSG:25830", {"-update", "-nln", "wells"});
    write_area(dir, "polar.geojson", {"POLYGON ((0 80,1 80,1 95,0 80))"}, "EPSG:4326");
    write_area(dir, "shore.shp", {kTriangle}, "EPSG:25830");
    testutil::write_file(dir / "shore.prj", {'n', 'o', 'n', 'e'});

    const struct {
        std::string source, layer, crs, target, line;
    } cases[] = {
        {"area.txt", "", "", "",
         "Cannot clip by area.txt: it is none of a shapefile (.shp), a GeoPackage (.gpkg), GeoJSON (.geojson, "
         ".json) or a WKT POLYGON or MULTIPOLYGON"},
        {"polygons.shp.txt", "", "", "", "Cannot clip by polygons.shp.txt: it is none of a shapefile (.shp), a "
                                         "GeoPackage (.gpkg), GeoJSON (.geojson, .json) or a WKT POLYGON or MULTIPOLYGON"},
        {"missing.shp", "", "", "", "Cannot clip by missing.shp: it cannot be read"},
        {"damaged.shp", "", "", "", "Cannot clip by damaged.shp: it cannot be read"},
        {"damaged.gpkg", "", "", "", "Cannot clip by damaged.gpkg: it cannot be read"},
        {"bad.geojson", "", "", "", "Cannot clip by bad.geojson: it is not JSON: unexpected character at byte 10"},
        {"empty.geojson", "", "", "", "Cannot clip by empty.geojson: it holds no feature"},
        {"points.shp", "", "", "", "Cannot clip by points.shp: it holds points, no polygon"},
        {"lines.gpkg", "", "", "", "Cannot clip by lines.gpkg: it holds lines, no polygon"},
        {"mixed.geojson", "", "", "", "Cannot clip by mixed.geojson: it holds points and lines, no polygon"},
        {bowtie, "", "", "", "Cannot clip by the WKT text: polygon 1 is not valid: Self-intersection[5 5]"},
        {"POLYGON EMPTY", "", "", "", "Cannot clip by the WKT text: polygon 1 is empty"},
        {"POLYGON ((0 0,1 0,1 1))", "", "", "",
         "Cannot clip by the WKT text: it cannot be read: IllegalArgumentException: Points of LinearRing do not "
         "form a closed linestring"},
        {"bowtie.gpkg", "", "", "", "Cannot clip by bowtie.gpkg: feature 2 is not valid: Self-intersection[5 5]"},
        {"round.gpkg", "", "", "", "Cannot clip by round.gpkg: feature 2 is a curved polygon, which is not read"},
        {"layers.gpkg", "", "", "",
         "Cannot clip by layers.gpkg: it holds 2 polygon layers (lakes, parcels): --clip-layer names one"},
        {"layers.gpkg", "roads", "", "",
         "Cannot clip by layers.gpkg: it holds no layer roads; its layers are lakes, parcels, wells"},
        {"layers.gpkg", "wells", "", "", "Cannot clip by layers.gpkg: its layer wells holds points, no polygon"},
        {"shore.shp", "lakes", "", "",
         "Cannot clip by shore.shp: --clip-layer names a layer of a GeoPackage, and it is none"},
        {kTriangle, "", "EPSG:99999", "",
         "Cannot clip by the WKT text: --clip-crs \"EPSG:99999\" is no coordinate system PROJ knows"},
        {"shore.shp", "", "", "", "Cannot clip by shore.shp: its .prj is no coordinate system PROJ knows"},
        {"far.json", "", "", "", "Cannot clip by far.json: its crs \"EPSG:99999\" is no coordinate system PROJ knows"},
        {"hollow.json", "", "", "",
         "Cannot clip by hollow.json: feature 1 cannot be read: its coordinates are not those of a Polygon"},
        {"polar.geojson", "", "", "EPSG:25830",
         "Cannot clip by polar.geojson: its vertices cannot be moved into the survey's coordinate system"},
    };
    testutil::ScopedChdir cd(dir.path());
    for (const auto &c : cases) {
        SCOPED_TRACE(c.source);
        area::Polygons p;
        std::string line = area::read_polygons(c.source, c.layer, c.crs, p);
        if (line.empty() && !c.target.empty()) line = area::transform_polygons(p, c.target, c.source);
        EXPECT_EQ(line, c.line);
        EXPECT_EQ(line.find('\n'), std::string::npos);
    }
    // What the refused layers' file holds is taken when a layer is named.
    area::Polygons p;
    EXPECT_EQ(area::read_polygons("layers.gpkg", "lakes", "", p), "");
    EXPECT_EQ(p.polygons.size(), 1u);
    EXPECT_EQ(p.polygons.at(0).rings.size(), 2u);
    EXPECT_EQ(area::read_polygons("layers.gpkg", "PARCELS", "EPSG:4326", p), "");
    EXPECT_EQ(p.crs, "EPSG:4326");
}
