// The outputs read back by independent readers: GDAL (its OGR library),
// Shapelib's shpdump and dbfdump, and pyshp. Every point's coordinates and
// attributes must equal the values the test decodes itself from the LAS
// bytes. Inputs: the real files of ../shared/testdata (written by other
// software) and generated files of every type.
#include "las_reader.h"
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <unistd.h>

using testutil::TempDir;

namespace {

// A value as a reader gives it: a number, or missing (dBASE NULL).
struct Cell {
    bool null = false;
    double value = 0;
    bool operator==(const Cell &o) const {
        return null == o.null && (null || value == o.value || (std::isnan(value) && std::isnan(o.value)));
    }
};

Cell cell_of(std::string text) {
    const size_t a = text.find_first_not_of(' '), b = text.find_last_not_of(' ');
    text = a == std::string::npos ? "" : text.substr(a, b - a + 1);
    if (text.empty() || text == "None" || text == "(NULL)" || text.find_first_not_of('*') == std::string::npos)
        return Cell{true, 0};
    char *end = nullptr;
    const double v = std::strtod(text.c_str(), &end);
    if (*end != '\0') return Cell{true, -1};  // unreadable: never equal to a number
    return Cell{false, v};
}

std::string show(const Cell &c) {
    std::ostringstream s;
    s.precision(17);
    if (c.null) s << "NULL";
    else s << c.value;
    return s.str();
}

// What a reader returned: per point X, Y, Z (if it reads geometry) and the
// attributes in column order.
struct Table {
    std::vector<std::vector<Cell>> xyz, attributes;
};

std::vector<std::string> split(const std::string &line, char sep) {
    std::vector<std::string> parts;
    std::string part;
    std::istringstream in(line);
    while (std::getline(in, part, sep)) parts.push_back(part);
    if (!line.empty() && line.back() == sep) parts.push_back("");
    return parts;
}

std::vector<std::string> lines_of(const std::string &text) { return split(text, '\n'); }

// The model: coordinates from the LAS integers, attributes from the row the
// dBASE table must hold.
Table expected_table(const lasread::LasFile &las) {
    Table t;
    const std::vector<lasread::Field> fields = lasread::fields_of(las);
    for (const lastest::Point &p : las.points) {
        t.xyz.push_back({Cell{false, lasread::real_coordinate(p.x, las.scale[0], las.offset[0])},
                         Cell{false, lasread::real_coordinate(p.y, las.scale[1], las.offset[1])},
                         Cell{false, lasread::real_coordinate(p.z, las.scale[2], las.offset[2])}});
        const std::string row = lasread::row_of(las, p);
        std::vector<Cell> cells;
        size_t at = 1;
        for (const lasread::Field &f : fields) {
            cells.push_back(cell_of(row.substr(at, static_cast<size_t>(f.width))));
            at += static_cast<size_t>(f.width);
        }
        t.attributes.push_back(cells);
    }
    return t;
}

std::string run_tool(const std::string &program, const std::vector<std::string> &args, const std::string &cwd) {
    if (::access(program.c_str(), X_OK) != 0) {
        ADD_FAILURE() << program << " is missing: scripts/deps test installs it";
        return "";
    }
    const testutil::RunResult r = testutil::run(program, args, cwd);
    EXPECT_EQ(r.status, 0) << program << ": " << r.err;
    return r.out;
}

// A dump of the readers' scripts: a line of field names, then per point X,
// Y, Z and the attributes, separated by tabs.
Table read_dump(const std::string &text) {
    const std::vector<std::string> lines = lines_of(text);
    Table t;
    for (size_t k = 1; k < lines.size(); ++k) {
        std::vector<Cell> cells;
        for (const std::string &v : split(lines[k], '\t')) cells.push_back(cell_of(v));
        if (cells.size() < 3) continue;
        t.xyz.emplace_back(cells.begin(), cells.begin() + 3);
        t.attributes.emplace_back(cells.begin() + 3, cells.end());
    }
    return t;
}

Table read_gdal(const TempDir &dir, const std::string &stem) {
    return read_dump(run_tool("/usr/bin/python3", {READERS_DIR "/gdal_dump.py", stem + ".shp"}, dir.path()));
}

Table read_shapelib(const TempDir &dir, const std::string &stem) {
    Table t;
    // shpdump: each point's vertex line is "     (X,Y, Z)".
    for (const std::string &line : lines_of(run_tool("/usr/bin/shpdump", {"-precision", "17", stem + ".shp"}, dir.path()))) {
        if (line.rfind("     (", 0) != 0) continue;
        const std::vector<std::string> xyz = split(line.substr(6, line.find(')') - 6), ',');
        std::vector<Cell> cells;
        for (const std::string &v : xyz) cells.push_back(cell_of(v));
        t.xyz.push_back(cells);
    }
    // dbfdump -m: "Record: N", then one "Name: value" line per column.
    for (const std::string &line : lines_of(run_tool("/usr/bin/dbfdump", {"-m", stem + ".dbf"}, dir.path()))) {
        if (line.rfind("Record:", 0) == 0) {
            t.attributes.emplace_back();
        } else if (!t.attributes.empty() && line.find(": ") != std::string::npos) {
            t.attributes.back().push_back(cell_of(line.substr(line.find(": ") + 2)));
        }
    }
    return t;
}

Table read_pyshp(const TempDir &dir, const std::string &stem) {
    return read_dump(run_tool("/usr/bin/python3", {READERS_DIR "/pyshp_dump.py", stem + ".shp"}, dir.path()));
}

// "" when `got` holds every value of `want`, else the first difference.
std::string compare(const Table &want, const Table &got, bool geometry) {
    if (geometry && got.xyz.size() != want.xyz.size())
        return std::to_string(got.xyz.size()) + " shapes read, " + std::to_string(want.xyz.size()) + " expected";
    if (got.attributes.size() != want.attributes.size())
        return std::to_string(got.attributes.size()) + " rows read, " + std::to_string(want.attributes.size()) +
               " expected";
    for (size_t i = 0; i < want.attributes.size(); ++i) {
        if (geometry)
            for (size_t a = 0; a < 3; ++a)
                if (!(got.xyz[i][a] == want.xyz[i][a]))
                    return "point " + std::to_string(i) + " axis " + std::to_string(a) + ": " + show(got.xyz[i][a]) +
                           " read, " + show(want.xyz[i][a]) + " expected";
        if (got.attributes[i].size() != want.attributes[i].size())
            return "point " + std::to_string(i) + ": " + std::to_string(got.attributes[i].size()) + " columns";
        for (size_t c = 0; c < want.attributes[i].size(); ++c)
            if (!(got.attributes[i][c] == want.attributes[i][c]))
                return "point " + std::to_string(i) + " column " + std::to_string(c) + ": " +
                       show(got.attributes[i][c]) + " read, " + show(want.attributes[i][c]) + " expected";
    }
    return "";
}

// How GDAL reads the shapefile's coordinate system against `expected`
// (anything osr takes): "same", "different: WKT", or "none" without a .prj.
std::string read_crs(const TempDir &dir, const std::string &stem, const std::string &expected) {
    std::vector<std::string> args = {READERS_DIR "/shp_crs.py", stem + ".shp"};
    if (!expected.empty()) args.push_back(expected);
    std::string out = run_tool("/usr/bin/python3", args, dir.path());
    while (!out.empty() && out.back() == '\n') out.pop_back();
    return out;
}

// Converts `name` in `dir` and checks the outputs with every reader; `crs`
// is the coordinate system that GDAL must read, "" for none.
void convert_and_read_back(const TempDir &dir, const std::string &name, const std::string &crs = "") {
    const testutil::RunResult r = testutil::run_tessaline({name}, dir.path());
    ASSERT_EQ(r.status, 0) << r.out;
    EXPECT_EQ(r.err, "");
    const lasread::LasFile las = lasread::read_las(dir / name);
    const std::string stem = name.substr(0, name.size() - 4);
    EXPECT_EQ(lasread::mask_elapsed(r.out), lasread::console_of(name, stem + ".shp", las.las_type, las.count));
    EXPECT_EQ(lasread::compare_outputs(dir / name, las), "");
    const Table want = expected_table(las);
    EXPECT_EQ(compare(want, read_gdal(dir, stem), true), "") << "GDAL";
    EXPECT_EQ(compare(want, read_shapelib(dir, stem), true), "") << "Shapelib";
    EXPECT_EQ(compare(want, read_pyshp(dir, stem), true), "") << "pyshp";
    EXPECT_EQ(read_crs(dir, stem, crs), crs.empty() ? "none" : "same");
}

// The coordinate system of autzen_trim.las: user-defined keys for a Lambert
// conformal conic in international feet on NAD83(HARN). Its own WKT record
// says the same but names the datum in a way PROJ does not take for EPSG's.
const char kAutzenCrs[] =
    "PROJCS[\"NAD83(HARN) / Lambert conformal conic\",GEOGCS[\"NAD83(HARN)\","
    "DATUM[\"NAD83_High_Accuracy_Reference_Network\",SPHEROID[\"GRS 1980\",6378137,298.257222101]],"
    "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],PROJECTION[\"Lambert_Conformal_Conic_2SP\"],"
    "PARAMETER[\"standard_parallel_1\",43],PARAMETER[\"standard_parallel_2\",45.5],"
    "PARAMETER[\"latitude_of_origin\",41.75],PARAMETER[\"central_meridian\",-120.5],"
    "PARAMETER[\"false_easting\",1312335.958005249],PARAMETER[\"false_northing\",0],UNIT[\"foot\",0.3048]]";

struct SharedCase {
    const char *name;
    const char *crs;  // "" for none
};

void PrintTo(const SharedCase &c, std::ostream *os) { *os << c.name; }

class SharedFile : public testing::TestWithParam<SharedCase> {};

}  // namespace

TEST_P(SharedFile, ConvertsAndReadsBackEqual) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    TempDir dir;
    const std::string path = GetParam().name, name = path.substr(path.rfind('/') + 1);
    // The data folder is read-only and the outputs go beside the input.
    ASSERT_EQ(::symlink((data + "/" + path).c_str(), (dir / name).c_str()), 0);
    convert_and_read_back(dir, name, GetParam().crs);
}

INSTANTIATE_TEST_SUITE_P(Testdata, SharedFile,
                         testing::Values(SharedCase{"1.0_0.las", "EPSG:26915"}, SharedCase{"1.0_1.las", "EPSG:26915"},
                                         SharedCase{"1.1_0.las", "EPSG:26915"}, SharedCase{"1.1_1.las", "EPSG:26915"},
                                         SharedCase{"1.2_0.las", "EPSG:26915"}, SharedCase{"1.2_1.las", "EPSG:26915"},
                                         SharedCase{"1.2_2.las", "EPSG:26915"}, SharedCase{"1.2_3.las", "EPSG:26915"},
                                         SharedCase{"simple.las", ""}, SharedCase{"autzen_trim.las", kAutzenCrs},
                                         SharedCase{"mvk-thin.las", "EPSG:26995"},
                                         SharedCase{"epsg_4326.las", "EPSG:4326"},
                                         SharedCase{"no-points.las", "EPSG:4269"},
                                         SharedCase{"vegetation-1.3.las", ""}, SharedCase{"no-points-1.3.las", ""},
                                         SharedCase{"pdrf4-1.3.las", ""}, SharedCase{"extrabytes-1.4.las", ""},
                                         SharedCase{"laz/extrabytes.las", ""},
                                         SharedCase{"test1_4.las", "EPSG:2903"},
                                         SharedCase{"evlr-1.4.las", "EPSG:2903"},
                                         SharedCase{"wkt-in-evlr-1.4.las", "EPSG:2903"},
                                         SharedCase{"autzen_trim_7.las", kAutzenCrs}, SharedCase{"pdrf8-1.4.las", ""},
                                         SharedCase{"pdrf9-1.4.las", ""}, SharedCase{"pdrf10-1.4.las", ""}),
                         [](const testing::TestParamInfo<SharedCase> &info) {
                             std::string n = info.param.name;
                             for (char &c : n)
                                 if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
                             return n.substr(0, n.size() - 4);
                         });

// Every type, and LAS 1.0 and 1.2 records with described extra bytes.
TEST(GeneratedFile, EveryTypeReadsBackEqual) {
    const lastest::Vlr described =
        lastest::extra_bytes_record({{6, 0, "i32"}, {3, 1 | 8 | 16, "height", 0, 0.01, -5}, {10, 0, "f64"}});
    for (const auto &[type, extra] : std::vector<std::pair<int, uint16_t>>{
             {1, 0}, {2, 0}, {3, 0}, {4, 0}, {5, 0}, {6, 0}, {7, 0}, {8, 0}, {1, 14}, {8, 15}}) {
        SCOPED_TRACE(std::to_string(type) + ", " + std::to_string(extra) + " extra bytes");
        TempDir dir;
        lastest::LasOptions opts = lastest::options_for_type(type);
        opts.scale[2] = 0.001;
        opts.offset[0] = 512000.0;
        opts.extra_bytes = extra;
        if (extra > 0) opts.vlrs = {described};
        lastest::write_las(dir / "g.las", opts, 1500, [&](uint64_t i) {
            lastest::Point p = lastest::varied_point(i);
            for (uint16_t k = 0; k < extra; ++k) p.extra.push_back(static_cast<uint8_t>(i * 131 + k * 29));
            return p;
        });
        convert_and_read_back(dir, "g.las");
    }
}

TEST(GeneratedFile, OverWideValuesReadAsNullOrTheirValue) {
    // A scan angle below -99 and a GPS time too wide even without decimals
    // are dBASE NULLs to every reader; a GPS time near 2e8 keeps its value.
    std::vector<lastest::Point> points;
    for (int i = 0; i < 6; ++i) points.push_back(lastest::varied_point(i));
    points[0].scan_angle = -100;
    points[1].scan_angle = -128;
    points[2].gps_time = 206860645.046875;
    points[3].gps_time = 1e16;
    points[4].gps_time = -1e6;
    points[5].gps_time = 9999999.999999999;
    TempDir dir;
    lastest::write_las(dir / "w.las", lastest::options_for_type(8), points);
    convert_and_read_back(dir, "w.las");
    const Table want = expected_table(lasread::read_las(dir / "w.las"));
    EXPECT_TRUE(want.attributes[0][6].null);
    EXPECT_EQ(want.attributes[2][9].value, 206860645.046875);
    EXPECT_TRUE(want.attributes[3][9].null);
}

// The coordinate system from the projection records: GeoTIFF keys first,
// then the WKT record. Records that cannot be trusted give no .prj, leave a
// .prj already there as it was, and change nothing else of the run.
TEST(GeneratedFile, CoordinateSystemFromProjectionRecords) {
    using lastest::geo_doubles;
    using lastest::geokey_directory;
    using lastest::text_record;
    using lastest::Vlr;
    const Vlr utm33 = geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}});
    const std::vector<Vlr> tm = lastest::user_defined_tm_records();
    const std::string tm_crs =
        "+proj=tmerc +lat_0=37.5 +lon_0=-85.5 +k=0.9999 +x_0=1200 +y_0=0 +datum=NAD83 +units=us-ft +type=crs";
    const std::string utm33_wkt =
        "PROJCS[\"WGS 84 / UTM zone 33N\",GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,"
        "298.257223563]],PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]],PROJECTION["
        "\"Transverse_Mercator\"],PARAMETER[\"latitude_of_origin\",0],PARAMETER[\"central_meridian\",15],"
        "PARAMETER[\"scale_factor\",0.9996],PARAMETER[\"false_easting\",500000],PARAMETER[\"false_northing\",0],"
        "UNIT[\"metre\",1]]";
    const std::string compound_wkt = "COMPD_CS[\"UTM 33N + EGM96 height\"," + utm33_wkt +
                                     ",VERT_CS[\"EGM96 height\",VERT_DATUM[\"EGM96 geoid\",2005],UNIT[\"metre\",1]]]";
    Vlr too_long = utm33;
    too_long.declared_length = static_cast<int32_t>(utm33.data.size() + 60);
    Vlr foreign_wkt = text_record(2112, utm33_wkt);
    foreign_wkt.user_id = "another";
    const std::string wgs84_wkt = "GEOGCS[\"WGS 84\",DATUM[\"WGS_1984\",SPHEROID[\"WGS 84\",6378137,298.257223563]],"
                                  "PRIMEM[\"Greenwich\",0],UNIT[\"degree\",0.0174532925199433]]";
    Vlr wkt_past_end = text_record(2112, utm33_wkt);
    wkt_past_end.declared_length = static_cast<int64_t>(wkt_past_end.data.size() + 1);
    const uint16_t wkt_bit = 16;  // LAS 1.4 global encoding: the CRS is the WKT record's

    const struct {
        const char *label;
        std::vector<Vlr> vlrs;
        std::string crs;           // "" for none
        int header_size = -1;      // the header's HeaderSize; -1: the version's
        int64_t offset_to_data = -1;
        int64_t declared_vlrs = -1;
        uint8_t minor = 2;
        uint16_t global_encoding = 0;
        std::vector<Vlr> evlrs = {};
    } cases[] = {
        {"projected EPSG code, vertical key left out", {geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633},
                                                                          {4096, 0, 1, 5703}})}, "EPSG:32633"},
        {"geographic EPSG code", {geokey_directory({{1024, 0, 1, 2}, {2048, 0, 1, 4258}})}, "EPSG:4258"},
        {"user-defined transverse Mercator in US survey feet", tm, tm_crs},
        {"WKT record alone", {text_record(2112, utm33_wkt)}, "EPSG:32633"},
        {"compound WKT: the horizontal part", {text_record(2112, compound_wkt)}, "EPSG:32633"},
        {"keys that give nothing, then the WKT", {geokey_directory({{1024, 0, 1, 1}}), text_record(2112, utm33_wkt)},
         "EPSG:32633"},
        {"a key past the doubles beside an inline projected code",
         {geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}, {3082, 34736, 1, 5}}), geo_doubles({1.0})},
         "EPSG:32633"},
        {"a key past absent doubles beside an inline projected code",
         {geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}, {3082, 34736, 1, 0}})}, "EPSG:32633"},
        {"a key past the ASCII text beside an inline geographic code",
         {geokey_directory({{1024, 0, 1, 2}, {2048, 0, 1, 4258}, {2049, 34737, 40, 0}}), text_record(34737, "short|", false)},
         "EPSG:4258"},
        {"LAS 1.4 with the WKT bit: the WKT, not the keys", {utm33, text_record(2112, wgs84_wkt)}, "EPSG:4326", -1, -1,
         -1, 4, wkt_bit},
        {"LAS 1.4 without the WKT bit: the keys first", {utm33, text_record(2112, wgs84_wkt)}, "EPSG:32633", -1, -1, -1,
         4},
        {"LAS 1.4 WKT record in an EVLR", {}, "EPSG:32633", -1, -1, -1, 4, wkt_bit, {text_record(2112, utm33_wkt)}},
        {"LAS 1.4: the VLR before the EVLR", {text_record(2112, wgs84_wkt)}, "EPSG:4326", -1, -1, -1, 4, wkt_bit,
         {text_record(2112, utm33_wkt)}},
        {"LAS 1.3 ignores the WKT bit: keys first", {utm33, text_record(2112, wgs84_wkt)}, "EPSG:32633", -1, -1, -1, 3,
         wkt_bit},
        // A WKT without its NUL runs to the record's end, whatever follows its last ']'.
        {"a WKT record without its terminator", {text_record(2112, utm33_wkt, false)}, "EPSG:32633"},
        {"LAS 1.4: a compound WKT without its terminator", {text_record(2112, compound_wkt, false)}, "EPSG:32633", -1,
         -1, -1, 4, wkt_bit},
        {"LAS 1.4: an EVLR WKT without its terminator, then spaces and a newline", {}, "EPSG:4326", -1, -1, -1, 4,
         wkt_bit, {text_record(2112, wgs84_wkt + "  \n", false)}},
        // Nothing usable:
        {"a WKT record of another user ID", {foreign_wkt}, ""},
        {"a WKT cut short", {text_record(2112, utm33_wkt.substr(0, utm33_wkt.size() / 2), false)}, ""},
        {"an EPSG code unknown to PROJ", {geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 1}})}, ""},
        {"garbage record count", {}, "", 227, 227 + 3 * 54, 0xFFFFFFFF},
        {"record longer than the space before the points", {too_long}, ""},
        {"HeaderSize below 227", {utm33}, "", 100, 227 + 54 + 4 * 2 + 2 * 8},
        {"HeaderSize beyond OffsetToData", {utm33}, "", 400, 300},
        {"more keys declared than the record holds", {geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}}, 3)}, ""},
        {"a key past the doubles", {tm[0], geo_doubles({-85.5, 37.5, 3937, 0}), tm[2]}, ""},
        {"a key past the ASCII text", {tm[0], tm[1], text_record(34737, "Test TM|", false)}, ""},
        {"LAS 1.4 with the WKT bit and keys alone", {utm33}, "", -1, -1, -1, 4, wkt_bit},
        {"LAS 1.4 WKT EVLR running past the end", {}, "", -1, -1, -1, 4, wkt_bit, {wkt_past_end}},
    };
    const std::string users_own = "the user's own .prj";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        lastest::LasOptions opts = lastest::options_for_type(6);
        opts.version_minor = c.minor;
        opts.global_encoding = c.global_encoding;
        opts.evlrs = c.evlrs;
        opts.vlrs = c.vlrs;
        opts.header_size = c.header_size;
        opts.offset_to_data = c.offset_to_data;
        opts.declared_vlrs = c.declared_vlrs;
        lastest::write_las(dir / "t.las", opts, 40, lastest::varied_point);
        if (!c.crs.empty()) {
            convert_and_read_back(dir, "t.las", c.crs);
            continue;
        }
        testutil::write_file(dir / "t.prj", std::vector<uint8_t>(users_own.begin(), users_own.end()));
        const testutil::RunResult r = testutil::run_tessaline({"t.las"}, dir.path());
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.err, "");
        const lasread::LasFile las = lasread::read_las(dir / "t.las");
        EXPECT_EQ(lasread::mask_elapsed(r.out), lasread::console_of("t.las", "t.shp", las.las_type, 40));
        EXPECT_EQ(lasread::compare_outputs(dir / "t.las", las), "");
        EXPECT_EQ(testutil::read_text(dir / "t.prj"), users_own);
    }
}
