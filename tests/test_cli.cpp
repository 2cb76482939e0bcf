// The real program, run in a temporary folder: console text, exit status
// and which files exist afterwards.
#include "las_reader.h"
#include "las_writer.h"
#include "laz_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include <sys/stat.h>

using testutil::banner;
using testutil::run_tessaline;
using testutil::TempDir;

namespace {

const std::string kUsageLine = "Tessaline <LAS file>\n";
const std::string kUsage = "\nMissing or excessive number of arguments\nUsage:\n" + kUsageLine;

std::string startup(const std::string &in, const std::string &shp) {
    return banner() + "Input LAS file:    " + in + "\nOutput Shapefile:  " + shp + "\n\nProcessing ...";
}

void write_type(const std::string &path, int type, uint64_t points = 3) {
    lastest::write_las(path, lastest::options_for_type(type), points, lastest::varied_point);
}

}  // namespace

// No input prints the usage; several need --output, before the banner.
TEST(Cli, WrongArgumentCountPrintsUsageThenBanner) {
    TempDir dir;
    const std::string several = "\nSeveral inputs go into one shapefile: --output NAME.shp names it\n";
    for (const auto &args : {std::vector<std::string>{}, std::vector<std::string>{"a.las", "b.las"},
                             std::vector<std::string>{"--help", "--version"}}) {
        const testutil::RunResult r = run_tessaline(args, dir.path());
        EXPECT_EQ(r.out, args.empty() ? kUsage + banner() : several);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
    }
}

TEST(Cli, RefusalsBeforeTheBanner) {
    TempDir dir;
    lastest::LasOptions v2 = lastest::options_for_type(5);
    v2.version_major = 2;
    lastest::write_las(dir / "v2.las", v2, 2, lastest::varied_point);
    lastest::LasOptions f2 = lastest::options_for_type(3);
    f2.point_format = 2;
    lastest::write_las(dir / "old.las", f2, 2, lastest::varied_point);
    testutil::write_file(dir / "tiny.las", {'L', 'A', 'S', 'F', 1, 2});
    ASSERT_EQ(::mkdir((dir / "folder.las").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.las").c_str(), 0644), 0);

    const struct {
        const char *arg;
        std::string out;
    } cases[] = {
        {"nofile.las", "\nCannot open binary file nofile.las for reading\n\n"},
        {"-help", "\nCannot open binary file -help for reading\n\n"},
        {"v2.las", "\nCannot handle las files of version 2.x\nv2.las is not a valid LAS file\n"},
        {"old.las", "old.las is not a valid LAS file\n"},
        {"tiny.las", "\ntiny.las is not a valid .las file\n\ntiny.las is not a valid LAS file\n"},
        {"folder.las", "\nfolder.las holds no .las or .laz file\n"},
        {"pipe.las", "\npipe.las is not a regular file\npipe.las is not a valid LAS file\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.arg);
        const testutil::RunResult r = run_tessaline({c.arg}, dir.path());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 255);
        const std::string stem = dir / std::string(c.arg).substr(0, std::string(c.arg).size() - 4);
        for (const char *ext : {".shp", ".shx", ".dbf"}) EXPECT_FALSE(testutil::exists(stem + ext)) << ext;
    }
}

// LAS 1.3 and 1.4 headers and records that cannot be trusted, and records
// longer or shorter than their format's in any version: each refused
// with its reason and status 255 before any output exists, or converted
// exactly as the model says (an untrusted Extra Bytes record gives no column).
TEST(Las14Refusals, EachPrintsItsReason) {
    using lastest::LasOptions;
    const std::string not_valid = "a.las is not a valid LAS file\n";
    const std::string bad_header = "\na.las is not a valid .las file\n\n" + not_valid;
    const std::string started = startup("a.las", "a.shp") + "\na.las ";
    const lastest::Vlr extra = lastest::extra_bytes_record({{3, 0, "height"}});
    lastest::Vlr overlong = extra;
    overlong.declared_length = static_cast<int64_t>(extra.data.size() + 1);
    const struct {
        const char *label;
        std::function<void(LasOptions &)> edit;
        std::string out;  // "" for a conversion
        size_t extra_columns = 0;
    } cases[] = {
        {"1.4 HeaderSize 374", [](LasOptions &s) { s.header_size = 374; }, bad_header},
        {"1.3 HeaderSize 227", [](LasOptions &s) { s.version_minor = 3; s.point_format = 1; s.header_size = 227; },
         bad_header},
        {"file ending inside the 1.4 header", [](LasOptions &s) { s.truncate_to = 300; }, bad_header},
        {"header size before format", [](LasOptions &s) { s.header_size = 300; s.point_format = 11; }, bad_header},
        {"1.3 format 6", [](LasOptions &s) { s.version_minor = 3; },
         "\nPointDataFormatID in a.las is 6. LAS 1.3 accepts 0 to 5\n" + not_valid},
        {"1.4 format 11", [](LasOptions &s) { s.point_format = 11; },
         "\nPointDataFormatID in a.las is 11. LAS 1.4 accepts 0 to 10\n" + not_valid},
        {"format before record length", [](LasOptions &s) { s.point_format = 200; s.record_length = 10; },
         "\nPointDataFormatID in a.las is 200. LAS 1.4 accepts 0 to 10\n" + not_valid},
        {"record length below format 6's", [](LasOptions &s) { s.record_length = 29; },
         "\nData format of a.las (6) is incompatible with Length of Data Record (29)\n" + not_valid},
        {"1.3 format 4 record length 56", [](LasOptions &s) { s.version_minor = 3; s.point_format = 4; s.record_length = 56; },
         "\nData format of a.las (4) is incompatible with Length of Data Record (56)\n" + not_valid},
        {"1.2 format 4, as before", [](LasOptions &s) { s.version_minor = 2; s.point_format = 4; },
         "\nPointDataFormatID in a.las is 4. Only 0, 1, 2, or 3 is accepted\n" + not_valid},
        {"1.2 record length one byte below its format's",
         [](LasOptions &s) { s.version_minor = 2; s.point_format = 3; s.record_length = 33; },
         "\nData format of a.las (3) is incompatible with Length of Data Record (33)\n" + not_valid},
        {"1.0 record length one byte below its format's",
         [](LasOptions &s) { s.version_minor = 0; s.point_format = 1; s.record_length = 27; },
         "\nData format of a.las (1) is incompatible with Length of Data Record (27)\n" + not_valid},
        {"1.1 format 2 with extra bytes, as before", [](LasOptions &s) { s.version_minor = 1; s.point_format = 2; },
         not_valid},
        {"1.2 count beyond the limit, extra bytes",
         [](LasOptions &s) { s.version_minor = 2; s.point_format = 3; s.declared_points = 119304645; },
         started + "holds 119304645 points, more than the 119304644 that a shapefile can hold\n"},
        {"1.2 last record cut, extra bytes counted",
         [](LasOptions &s) { s.version_minor = 2; s.point_format = 3; s.truncate_to = 227 + 3 * 36 - 1; },
         started + "is truncated: 3 point records declared, 2 present\n"},
        {"version 1.5", [](LasOptions &s) { s.version_minor = 5; },
         "\nCannot handle las files of version 1.5\n" + not_valid},
        {"64-bit count beyond the limit", [](LasOptions &s) { s.declared_points = 119304645; },
         started + "holds 119304645 points, more than the 119304644 that a shapefile can hold\n"},
        {"64-bit count above 2^32, legacy count 1", [](LasOptions &s) { s.declared_points = 4294967297; s.legacy_points = 1; },
         started + "holds 4294967297 points, more than the 119304644 that a shapefile can hold\n"},
        {"more declared than written", [](LasOptions &s) { s.declared_points = 4; },
         started + "is truncated: 4 point records declared, 3 present\n"},
        {"last record cut, extra bytes counted", [](LasOptions &s) { s.truncate_to = 375 + 3 * 32 - 1; },
         started + "is truncated: 3 point records declared, 2 present\n"},
        // Converted:
        {"legacy count 0", [](LasOptions &s) { s.legacy_points = 0; }, ""},
        {"64-bit count 0: the legacy count", [](LasOptions &s) { s.declared_points = 0; s.legacy_points = 3; }, ""},
        {"legacy count above the 64-bit count", [](LasOptions &s) { s.legacy_points = 7; }, ""},
        {"HeaderSize above 375, an Extra Bytes VLR after it", [&](LasOptions &s) { s.header_size = 400; s.vlrs = {extra}; },
         "", 1},
        {"an Extra Bytes EVLR", [&](LasOptions &s) { s.evlrs = {extra}; }, "", 1},
        {"Extra Bytes records after other records",
         [&](LasOptions &s) { s.vlrs = {lastest::text_record(1, "other")}; s.evlrs = {lastest::text_record(2, "other"), extra}; },
         "", 1},
        {"more EVLRs declared than present", [&](LasOptions &s) { s.evlrs = {extra}; s.declared_evlrs = 9; }, "", 1},
        {"EVLR start past the end", [&](LasOptions &s) { s.evlrs = {extra}; s.start_of_evlrs = 1 << 20; }, ""},
        {"EVLR start far past the end", [&](LasOptions &s) { s.evlrs = {extra}; s.start_of_evlrs = INT64_MAX; }, ""},
        {"EVLR start inside the points", [&](LasOptions &s) { s.evlrs = {extra}; s.start_of_evlrs = 375 + 32; }, ""},
        {"EVLR running past the end", [&](LasOptions &s) { s.evlrs = {overlong}; }, ""},
        {"EVLR length near 2^64", [&](LasOptions &s) { s.evlrs = {extra}; s.evlrs[0].declared_length = -2; }, ""},
        {"1.2 record length above its format's: extra bytes",
         [&](LasOptions &s) { s.version_minor = 2; s.point_format = 3; s.vlrs = {extra}; }, "", 1},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        LasOptions opts;
        opts.version_minor = 4;
        opts.point_format = 6;
        opts.extra_bytes = 2;
        c.edit(opts);
        lastest::write_las(dir / "a.las", opts, 3, lastest::varied_point);
        const testutil::RunResult r = run_tessaline({"a.las"}, dir.path());
        if (!c.out.empty()) {
            EXPECT_EQ(r.out, c.out);
            EXPECT_EQ(r.status, 255);
            for (const char *ext : {".shp", ".shx", ".dbf"}) EXPECT_FALSE(testutil::exists(dir / "a" + ext)) << ext;
            continue;
        }
        const lasread::LasFile las = lasread::read_las(dir / "a.las");
        EXPECT_EQ(las.extra_columns.size(), c.extra_columns);
        EXPECT_EQ(lasread::mask_elapsed(r.out), lasread::console_of("a.las", "a.shp", 0, 3));
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(lasread::compare_outputs(dir / "a.las", las), "");
    }
}

TEST(Cli, AcceptedFileShowsBannerNamesAndProcessing) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "data.v2").c_str(), 0755), 0);
    const std::string long_dir = std::string(150, 'd');
    ASSERT_EQ(::mkdir((dir / long_dir).c_str(), 0755), 0);
    const std::string long_name = long_dir + "/" + std::string(120, 'n') + ".las";
    const struct {
        std::string in, shp;
    } cases[] = {
        {"a.las", "a.shp"},
        {"data.v2/tile.las", "data.v2/tile.shp"},
        {"--help.las", "--help.shp"},
        {long_name, long_name.substr(0, long_name.size() - 4) + ".shp"},
        {"TILE.LAS", "TILE.shp"},  // as national tile sets name them
        {"C_25GN1.LAZ", "C_25GN1.shp"},
        {"mixed.Laz", "mixed.shp"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        const std::string ext = c.in.substr(c.in.size() - 3);
        if (ext == "LAZ" || ext == "Laz")
            laztest::write_laz(dir / c.in, lastest::options_for_type(8), 3, lastest::varied_point);
        else
            write_type(dir / c.in, 8);
        const testutil::RunResult r = run_tessaline({c.in}, dir.path());
        EXPECT_EQ(r.out.substr(0, startup(c.in, c.shp).size()), startup(c.in, c.shp));
        EXPECT_EQ(r.status, 0);
        EXPECT_TRUE(testutil::exists(dir / c.shp));
    }
}

TEST(Cli, HelpAndVersionAloneAnswerWithStatusZero) {
    TempDir dir;
    const testutil::RunResult version = run_tessaline({"--version"}, dir.path());
    EXPECT_EQ(version.out, "Tessaline " TESSALINE_VERSION "\n");
    EXPECT_EQ(version.status, 0);

    const testutil::RunResult help = run_tessaline({"--help"}, dir.path());
    EXPECT_EQ(help.out.rfind("Usage: " + kUsageLine, 0), 0u) << help.out;
    for (const char *fact : {"NAME.shp", "NAME.shx", "NAME.dbf", "NAME.prj", "\n  0 ", "\n  255 "})
        EXPECT_NE(help.out.find(fact), std::string::npos) << fact;
    EXPECT_EQ(help.status, 0);
    EXPECT_EQ(help.err + version.err, "");
}

// A folder of tiles: good ones of three types (one with a space in its name,
// one without points), one refused, one truncated, and files that are no tiles.
TEST(Tiles, ConvertsEveryTileAndNamesTheRefusedOnes) {
    TempDir dir;
    for (const char *folder : {"survey", "survey/north", "more", "direct"})
        ASSERT_EQ(::mkdir((dir / folder).c_str(), 0755), 0);
    const struct {
        std::string stem;
        int type;
        uint64_t points;
    } good[] = {{"survey/a", 8, 5}, {"survey/north/b c", 1, 3}, {"more/d", 4, 0}};
    for (const auto &g : good) write_type(dir / (g.stem + ".las"), g.type, g.points);
    lastest::LasOptions v2 = lastest::options_for_type(5);
    v2.version_major = 2;
    lastest::write_las(dir / "survey/north/v2.las", v2, 2, lastest::varied_point);
    lastest::LasOptions cut = lastest::options_for_type(8);
    cut.truncate_to = 227 + 2 * 34 + 10;
    lastest::write_las(dir / "survey/cut.las", cut, 4, lastest::varied_point);
    testutil::write_file(dir / "survey/notes.txt", {'x'});
    testutil::write_file(dir / "survey/UPPER.LAS", {'x'});

    const testutil::RunResult r = testutil::run_tessaline_tiles({"-j", "2", "survey", "more"}, dir.path());
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.out.find("\nConverted 3 of 5 tiles in "), std::string::npos) << r.out;
    const std::string cut_reason = "survey/cut.las is truncated: 4 point records declared, 2 present";
    const std::string v2_reason = "Cannot handle las files of version 2.x";
    const std::string refused = "Refused or failed: 2\n  survey/cut.las: " + cut_reason +
                                "\n  survey/north/v2.las: " + v2_reason + "\n";
    ASSERT_GE(r.out.size(), refused.size());
    EXPECT_EQ(r.out.substr(r.out.size() - refused.size()), refused) << r.out;
    EXPECT_EQ(r.err, "");

    // Each good tile: its line, and the outputs that Tessaline alone makes of it.
    for (const auto &g : good) {
        SCOPED_TRACE(g.stem);
        EXPECT_NE(r.out.find("] " + g.stem + ".las: converted\n"), std::string::npos);
        const std::string log = testutil::read_text(dir / (g.stem + ".log"));
        EXPECT_EQ(log.rfind(startup(g.stem + ".las", g.stem + ".shp"), 0), 0u) << log;
        const std::string alone = dir / ("direct/" + std::to_string(g.type));
        write_type(alone + ".las", g.type, g.points);
        ASSERT_EQ(run_tessaline({alone + ".las"}, dir.path()).status, 0);
        for (const char *ext : {".shp", ".shx", ".dbf"})
            EXPECT_EQ(testutil::read_file(dir / (g.stem + ext)), testutil::read_file(alone + ext)) << ext;
    }
    // The refused tiles: their console text in the log, no outputs.
    EXPECT_EQ(testutil::read_text(dir / "survey/cut.log"),
              startup("survey/cut.las", "survey/cut.shp") + "\n" + cut_reason + "\n");
    EXPECT_EQ(testutil::read_text(dir / "survey/north/v2.log"),
              "\n" + v2_reason + "\nsurvey/north/v2.las is not a valid LAS file\n");
    for (const char *stem : {"survey/cut", "survey/north/v2"})
        for (const char *ext : {".shp", ".shx", ".dbf"})
            EXPECT_FALSE(testutil::exists(dir / (stem + std::string(ext)))) << stem << ext;
    EXPECT_FALSE(testutil::exists(dir / "survey/notes.log"));
    EXPECT_FALSE(testutil::exists(dir / "survey/UPPER.log"));
}

// LAZ tiles convert beside LAS ones; a LAZ tile whose LAS twin lies beside it
// is left out, since both would write the same outputs at once.
TEST(Tiles, LazTilesConvertAndTheirTwinsBesideLasAreLeftOut) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "t").c_str(), 0755), 0);
    const lastest::LasOptions opts = lastest::options_for_type(8);
    lastest::write_las(dir / "t/a.las", opts, 5, lastest::varied_point);
    laztest::write_laz(dir / "t/a.laz", opts, 5, lastest::varied_point);
    laztest::write_laz(dir / "t/b.laz", opts, 7, lastest::survey_point);
    lastest::write_las(dir / "b.las", opts, 7, lastest::survey_point);  // b.laz's twin, elsewhere

    const testutil::RunResult r = testutil::run_tessaline_tiles({"t"}, dir.path());
    EXPECT_EQ(r.status, 0) << r.out;
    EXPECT_NE(r.out.find("] t/b.laz: converted\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.out.find("t/a.laz"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nConverted 2 of 2 tiles in "), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("\nLeft out: 1 .laz tiles with a .las of the same name beside them\n"), std::string::npos);
    EXPECT_EQ(testutil::read_text(dir / "t/b.log").rfind(startup("t/b.laz", "t/b.shp"), 0), 0u);
    ASSERT_EQ(run_tessaline({"b.las"}, dir.path()).status, 0);
    for (const char *ext : {".shp", ".shx", ".dbf"})
        EXPECT_EQ(testutil::read_file(dir / ("t/b" + std::string(ext))), testutil::read_file(dir / ("b" + std::string(ext))))
            << ext;
}

TEST(Tiles, RefusesToStartWithStatusTwo) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "empty").c_str(), 0755), 0);
    write_type(dir / "a.las", 8);
    const struct {
        std::vector<std::string> args;
        std::string first_line;
        int status;
    } cases[] = {
        {{}, "Tessaline-tiles: no FOLDER given", 2},
        {{"a.las"}, "Tessaline-tiles: a.las is not a folder", 2},
        {{"empty"}, "Tessaline-tiles: no .las or .laz file under empty", 2},
        {{"-j", "0", "."}, "Tessaline-tiles: JOBS must be a whole number above 0, not '0'", 2},
        {{"--jobz", "."}, "Tessaline-tiles: unknown option --jobz", 2},
        {{"--help"}, "Usage: Tessaline-tiles [-j JOBS] [--sshloginfile FILE] FOLDER...", 0},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.first_line);
        const testutil::RunResult r = testutil::run_tessaline_tiles(c.args, dir.path());
        EXPECT_EQ(r.out.substr(0, r.out.find('\n')), c.first_line);
        EXPECT_EQ(r.status, c.status);
    }
    EXPECT_FALSE(testutil::exists(dir / "a.log"));
}

// Selection options reach every tile, LAS and LAZ, in either spelling: each
// tile's outputs are those of Tessaline run on it with the same options,
// an area among them (a GeoPackage that ogr2ogr writes, of two layers, so that
// only --clip-layer makes it one area; a WKT text with its coordinate system).
// A bad value is refused once, before any tile runs; --output, which would
// send every tile to one name, is refused too.
TEST(Tiles, SelectionOptionsReachEveryTile) {
    TempDir dir;
    for (const char *folder : {"t", "alone"}) ASSERT_EQ(::mkdir((dir / folder).c_str(), 0755), 0);
    lastest::LasOptions v14 = lastest::options_for_type(8);
    v14.version_minor = 4;
    v14.point_format = 7;
    for (const char *at : {"t/", "alone/"}) {
        lastest::write_las(dir / (at + std::string("a.las")), lastest::options_for_type(8), 4000, lastest::survey_point);
        laztest::write_laz(dir / (at + std::string("b.laz")), v14, 4000, lastest::survey_point);
    }
    // The tiles cover 0 to 300 by 0 to 7.5; the shore is a ring around a hole.
    const struct {
        const char *layer, *polygon;
    } layers[] = {{"shore", "[[[10,-1],[120,-1],[120,9],[10,9],[10,-1]],[[40,2],[60,2],[60,5],[40,5],[40,2]]]"},
                  {"other", "[[[250,-1],[290,-1],[290,9],[250,-1]]]"}};
    for (const auto &l : layers) {
        const std::string json = std::string("{\"type\":\"Feature\",\"properties\":{},\"geometry\":"
                                             "{\"type\":\"Polygon\",\"coordinates\":") + l.polygon + "}}";
        testutil::write_file(dir / "layer.geojson", std::vector<uint8_t>(json.begin(), json.end()));
        std::vector<std::string> ogr = {"-f", "GPKG", "-a_srs", "EPSG:32610", "-nln", l.layer, "area.gpkg", "layer.geojson"};
        if (testutil::exists(dir / "area.gpkg")) ogr.insert(ogr.begin(), "-update");
        const testutil::RunResult made = testutil::run("/usr/bin/ogr2ogr", ogr, dir.path());
        ASSERT_EQ(made.status, 0) << "ogr2ogr (scripts/deps test installs it): " << made.out << made.err;
    }
    const std::vector<std::vector<std::string>> selections = {
        {"--class", "2", "--thin=1.5"},
        {"--clip", dir / "area.gpkg", "--clip-layer", "shore"},
        {"--clip=POLYGON ((0 -1, 200 -1, 200 9, 0 -1))", "--clip-crs=EPSG:32610", "--class=2"},
        {"--columns", "classifica,Intensity", "--class", "2"},
    };
    for (const std::vector<std::string> &selection : selections) {
        SCOPED_TRACE(selection.front());
        for (const char *stem : {"a", "b"})
            for (const char *ext : {".shp", ".shx", ".dbf", ".log"}) ::remove((dir / "t/" + stem + ext).c_str());
        std::vector<std::string> args = selection;
        args.push_back("t");
        const testutil::RunResult r = testutil::run_tessaline_tiles(args, dir.path());
        EXPECT_EQ(r.status, 0) << r.out;
        EXPECT_NE(r.out.find("\nConverted 2 of 2 tiles in "), std::string::npos) << r.out;
        for (const char *tile : {"a.las", "b.laz"}) {
            SCOPED_TRACE(tile);
            args = selection;
            args.push_back(tile);
            const testutil::RunResult alone = run_tessaline(args, dir / "alone");
            EXPECT_EQ(alone.status, 0) << alone.out;
            const std::string stem = std::string(tile).substr(0, 1);
            if (alone.status != 0 || !testutil::exists(dir / ("t/" + stem + ".dbf"))) continue;
            for (const char *ext : {".shp", ".shx", ".dbf"})
                EXPECT_EQ(testutil::read_file(dir / ("t/" + stem + ext)), testutil::read_file(dir / ("alone/" + stem + ext)))
                    << ext;
            const std::vector<uint8_t> dbf = testutil::read_file(dir / ("t/" + stem + ".dbf"));
            const uint32_t kept = dbf[4] | dbf[5] << 8 | dbf[6] << 16 | static_cast<uint32_t>(dbf[7]) << 24;
            EXPECT_GT(kept, 0u);
            EXPECT_LT(kept, 4000u);
        }
    }

    const testutil::RunResult help = testutil::run_tessaline_tiles({"--help"}, dir.path());
    for (const char *option : {"--class", "--returns", "--extent", "--thin", "--clip AREA", "--clip-layer", "--clip-crs",
                               "--crs CRS", "--columns LIST", "--max-size SIZE"})
        EXPECT_NE(help.out.find(option), std::string::npos) << option;
    // Each refusal's first line names what it refuses.
    const struct {
        std::vector<std::string> args;
        const char *named;
    } refused[] = {
        {{"--output", "x.shp", "t"}, "--output"},
        {{"--class=2", "--output=x.shp", "t"}, "--output"},
        {{"--clip", "missing.gpkg", "t"}, "missing.gpkg"},
        {{"--class", "2", "--clip=nowhere.geojson", "t"}, "nowhere.geojson"},
        {{"--columns=a,,b", "t"}, "--columns"},
        {{"--clip", dir / "area.gpkg", "t"}, "area.gpkg"},  // two layers, none picked
    };
    for (const auto &c : refused) {
        SCOPED_TRACE(c.named);
        ::remove((dir / "t/a.log").c_str());
        const testutil::RunResult o = testutil::run_tessaline_tiles(c.args, dir.path());
        EXPECT_EQ(o.status, 2);
        EXPECT_EQ(o.out.rfind("Tessaline-tiles: ", 0), 0u) << o.out;
        EXPECT_NE(o.out.substr(0, o.out.find('\n')).find(c.named), std::string::npos) << o.out;
        EXPECT_FALSE(testutil::exists(dir / "t/a.log"));
        EXPECT_FALSE(testutil::exists(dir / "x.shp"));
    }
}
