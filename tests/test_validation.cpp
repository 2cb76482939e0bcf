// LAS validation: which files are accepted as which type, and the exact
// messages of every refusal.
#include "LiDAR.h"
#include "las_model.hpp"
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>

#include <sys/stat.h>

using lastest::LasOptions;
using lastest::Point;
using testutil::capture_stdout;

namespace {

struct Outcome {
    int16_t result;
    std::string out;
};

// Writes `bytes` as `name` in a fresh folder and validates it from there, so
// that the name passed to check_las is exactly `name`.
Outcome validate(const std::string &name, const std::vector<uint8_t> &bytes, bool present = true) {
    testutil::TempDir dir;
    if (present) testutil::write_file(dir / name, bytes);
    testutil::ScopedChdir cd(dir.path());
    Outcome o{0, ""};
    o.out = capture_stdout([&] { o.result = check_las(name.c_str()); });
    return o;
}

std::vector<uint8_t> las_with(const std::function<void(LasOptions &)> &edit) {
    LasOptions s = lastest::options_for_type(8);
    edit(s);
    return lastest::make_las(s, {Point{}, lastest::varied_point(1)});
}

struct RefusalCase {
    const char *label;
    std::string name;
    std::vector<uint8_t> bytes;
    int16_t result;
    std::string out;
};

}  // namespace

TEST(CheckLas, RefusalsPrintTheirReasonExactly) {
    const std::vector<uint8_t> good = las_with([](LasOptions &) {});
    std::vector<uint8_t> short_header(good.begin(), good.begin() + 100);
    std::vector<uint8_t> just_short(good.begin(), good.begin() + 226);
    const std::vector<RefusalCase> cases = {
        {"missing file", "absent.las", {}, -1,
         "Unable to open file absent.las in file_access()\n\nFile absent.las does NOT exist\n"},
        {"four-character name", ".las", good, -1, "\nFile name (.las) is too short\n"},
        {"no dot before the extension", "scan_las", good, -1,
         "\nExtension of file scan_las should be preceeded by a dot (.)\n"},
        {"other extension", "scan.txt", good, -1, "\nFile extension of scan.txt is not .las\n"},
        {"upper-case extension", "scan.LAS", good, -1, "\nFile extension of scan.LAS is not .las\n"},
        {"lower-case signature", "a.las", las_with([](LasOptions &s) { s.signature = "lasf"; }), -1,
         "\na.las is not a valid .las file\n\n"},
        {"empty file", "a.las", {}, -1, "\na.las is not a valid .las file\n\n"},
        {"signature only", "a.las", {'L', 'A', 'S', 'F'}, -1, "\na.las is not a valid .las file\n\n"},
        {"header cut at 100 bytes", "a.las", short_header, -1, "\na.las is not a valid .las file\n\n"},
        {"header one byte short", "a.las", just_short, -1, "\na.las is not a valid .las file\n\n"},
        {"major version 2", "a.las", las_with([](LasOptions &s) { s.version_major = 2; }), -1,
         "\nCannot handle las files of version 2.x\n"},
        {"version 3.1", "a.las",
         las_with([](LasOptions &s) { s.version_major = 3; s.version_minor = 1; }), -1,
         "\nCannot handle las files of version 3.x\n"},
        {"version 1.3 with format 7: the version alone (the library reads LAS 1.0 to 1.2)", "a.las",
         las_with([](LasOptions &s) { s.version_minor = 3; s.point_format = 7; }), -1,
         "\nCannot handle las files of version 1.3\n"},
        {"version 1.5", "a.las", las_with([](LasOptions &s) { s.version_minor = 5; }), -1,
         "\nCannot handle las files of version 1.5\n"},
        {"format 5", "a.las", las_with([](LasOptions &s) { s.point_format = 5; }), -1,
         "\nPointDataFormatID in a.las is 5. Only 0, 1, 2, or 3 is accepted\n"},
        {"format 200 shown as the byte 48 + 200", "a.las", las_with([](LasOptions &s) { s.point_format = 200; }),
         -1, std::string("\nPointDataFormatID in a.las is ") + static_cast<char>(48 + 200) +
                 ". Only 0, 1, 2, or 3 is accepted\n"},
        {"1.0 format 1 with record length 30", "a.las",
         las_with([](LasOptions &s) { s.version_minor = 0; s.point_format = 1; s.record_length = 30; }), -1,
         "\nData format of a.las (1) is incompatible with Length of Data Record (30)\n"},
        {"1.2 format 3 with record length 28", "a.las", las_with([](LasOptions &s) { s.record_length = 28; }),
         -1, "\nData format of a.las (3) is incompatible with Length of Data Record (28)\n"},
        {"1.1 format 2: no type index, silently", "a.las",
         las_with([](LasOptions &s) { s.version_minor = 1; s.point_format = 2; }), 0, ""},
        {"1.0 format 3: no type index, silently", "a.las",
         las_with([](LasOptions &s) { s.version_minor = 0; s.point_format = 3; }), 0, ""},
    };
    for (const RefusalCase &c : cases) {
        SCOPED_TRACE(c.label);
        const Outcome o = validate(c.name, c.bytes, c.name != "absent.las");
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.out, c.out);
    }
}

TEST(CheckLas, RefusesWhatIsNotARegularFileWithoutWaiting) {
    testutil::TempDir dir;
    ASSERT_EQ(::mkdir((dir / "folder.las").c_str(), 0755), 0);
    ASSERT_EQ(::mkfifo((dir / "pipe.las").c_str(), 0644), 0);
    for (const char *name : {"folder.las", "pipe.las"}) {
        testutil::ScopedChdir cd(dir.path());
        int16_t r = 0;
        EXPECT_EQ(capture_stdout([&] { r = check_las(name); }), std::string("\n") + name + " is not a regular file\n");
        EXPECT_EQ(r, -1);
    }
}

TEST(CheckLas, AcceptsTheEightTypesSilently) {
    for (int type = 1; type <= 8; ++type) {
        for (const bool extras : {false, true}) {
            SCOPED_TRACE("type " + std::to_string(type) + (extras ? " with VLRs and a longer header" : ""));
            LasOptions s = lastest::options_for_type(type);
            if (extras) {
                s.header_size = 300;
                s.vlr_payloads = {10, 0, 333};
            }
            const Outcome o = validate("a.las", lastest::make_las(s, {lastest::varied_point(type)}));
            EXPECT_EQ(o.result, type);
            EXPECT_EQ(o.out, "");
            EXPECT_EQ(lidar::kLasTypes[type].record_length, lastest::natural_record_length(s.point_format));
        }
    }
}

TEST(CheckLas, ShortestNameIsAccepted) {
    const Outcome o = validate("a.las", las_with([](LasOptions &) {}));
    EXPECT_EQ(o.result, 8);
}

TEST(CheckLas, RealFilesFromOtherSoftware) {
    const std::string dir = testutil::shared_testdata();
    if (dir.empty()) GTEST_SKIP() << "../shared/testdata is absent";
    const struct {
        const char *file;
        int16_t type;
        const char *out;
    } cases[] = {
        {"1.0_0.las", 1, ""}, {"1.0_1.las", 2, ""}, {"1.1_0.las", 3, ""}, {"1.1_1.las", 4, ""},
        {"1.2_0.las", 5, ""}, {"1.2_1.las", 6, ""}, {"1.2_2.las", 7, ""}, {"1.2_3.las", 8, ""},
        {"simple.las", 8, ""}, {"autzen_trim.las", 8, ""}, {"mvk-thin.las", 6, ""},
        {"epsg_4326.las", 5, ""}, {"no-points.las", 8, ""},
        {"test1_4.las", -1, "\nCannot handle las files of version 1.4\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.file);
        const std::string path = dir + "/" + c.file;
        int16_t result = 0;
        const std::string out = capture_stdout([&] { result = check_las(path.c_str()); });
        EXPECT_EQ(result, c.type);
        EXPECT_EQ(out, c.out);
    }
}

TEST(FileHelpers, ExtensionAccessAndNumberedMessages) {
    struct {
        const char *name, *ext;
        int16_t result;
        const char *out;
    } ext_cases[] = {
        {"a.asc", "asc", 0, ""},
        {"dem.flt", "asc", -1, "\nFile extension of dem.flt is not .asc\n"},
        {"x.ab", "ab", -1, "\nFile name (x.ab) is too short\n"},
        {"dir.v2/file", "las", -1, "\nExtension of file dir.v2/file should be preceeded by a dot (.)\n"},
    };
    for (const auto &c : ext_cases) {
        SCOPED_TRACE(c.name);
        int16_t r = 0;
        EXPECT_EQ(capture_stdout([&] { r = check_file_extension(c.name, c.ext); }), c.out);
        EXPECT_EQ(r, c.result);
    }

    testutil::TempDir dir;
    testutil::write_file(dir / "here.txt", {'x'});
    int16_t r = -1;
    EXPECT_EQ(capture_stdout([&] { r = file_access((dir / "here.txt").c_str()); }), "");
    EXPECT_EQ(r, 0);
    const std::string gone = dir / "gone.txt";
    EXPECT_EQ(capture_stdout([&] { r = file_access(gone.c_str()); }),
              "Unable to open file " + gone + " in file_access()\n");
    EXPECT_EQ(r, -1);

    EXPECT_EQ(capture_stdout([] { error_msg(1, "f"); }), "\nFile f does NOT exist\n");
    EXPECT_EQ(capture_stdout([] { error_msg(2, "f"); }), "\nFile f already exists\n");
    EXPECT_EQ(capture_stdout([] { error_msg(3, "f"); }), "\nSame file name (f) has been specified twice\n");
    EXPECT_EQ(capture_stdout([] { error_msg(0, "f"); error_msg(4, "f"); }), "");
}

TEST(Banner, CreditsAndYesNoFlag) {
    EXPECT_EQ(capture_stdout([] { credits(); }), testutil::banner());
    for (const char *yes : {"Y", "N", "y", "n"}) {
        int16_t r = -1;
        EXPECT_EQ(capture_stdout([&] { r = check_YN(yes); }), "");
        EXPECT_EQ(r, 0) << yes;
    }
    for (const char *no : {"", "Yes", "no", "Y ", "1", "x"}) {
        int16_t r = 0;
        EXPECT_EQ(capture_stdout([&] { r = check_YN(no); }),
                  "\nASCII Header Flag should be either Y (y) or N (n)\n");
        EXPECT_EQ(r, -1) << '"' << no << '"';
    }
}

TEST(LasModel, BitfieldDecodingAndScaling) {
    const struct {
        uint8_t byte;
        int rn, nr, dir, edge;
    } bits[] = {{0xFF, 7, 7, 1, 1}, {0x09, 1, 1, 0, 0}, {0xC9, 1, 1, 1, 1}, {0x80, 0, 0, 0, 1}, {0x40, 0, 0, 1, 0}};
    for (const auto &b : bits) {
        const lidar::ReturnInfo r = lidar::decode_bitfield(static_cast<int8_t>(b.byte));
        EXPECT_EQ(r.return_number, b.rn) << int(b.byte);
        EXPECT_EQ(r.number_of_returns, b.nr) << int(b.byte);
        EXPECT_EQ(r.scan_direction, b.dir) << int(b.byte);
        EXPECT_EQ(r.edge_of_flight, b.edge) << int(b.byte);
    }
    EXPECT_EQ(lidar::scale_coordinate(-1, 0.01, 500000.0), -1 * 0.01 + 500000.0);
    EXPECT_DOUBLE_EQ(lidar::scale_coordinate(-1, 0.01, 500000.0), 499999.99);
    EXPECT_EQ(lidar::scale_coordinate(150, 0.01, 1000.0), 1001.5);
    EXPECT_EQ(lidar::scale_coordinate(-1, 0.001, 0.0), -0.001);
    for (unsigned minor = 0; minor < 3; ++minor)
        for (unsigned format = 0; format < 4; ++format)
            EXPECT_EQ(lidar::las_type_of(minor, format), lastest::las_type_of(minor, format));
}
