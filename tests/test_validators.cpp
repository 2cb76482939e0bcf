// Command-line validators: they return when the argument is acceptable and
// otherwise print their messages, once each, and end the process.
#include "LiDAR.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <sys/stat.h>

#include <string>
#include <vector>

using testutil::RunResult;
using testutil::TempDir;

TEST(CheckNumericArgument, TextsThatPassAndFail) {
    const std::vector<std::string> pass = {
        "-12.5", "0.25", "12-", "", "0", "7", "-3", ".5", "5.", "-.5", "1-2.3",
        std::string(5000, '9') + "." + std::string(5000, '1')};
    const std::vector<std::string> fail = {
        "1e5", "1.2.3", "--4", ".", "-", "+1", " 1", "1 ", "1,5", "0x10", "12-.-", "..", "nan", "1\t",
        std::string(4000, '8') + "a"};
    for (const std::string &text : pass) {
        SCOPED_TRACE('"' + text.substr(0, 20) + '"');
        const RunResult r = testutil::run_in_child([&] { check_numeric_argument(text.c_str()); });
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, "");
    }
    for (const std::string &text : fail) {
        SCOPED_TRACE('"' + text.substr(0, 20) + '"');
        const RunResult r = testutil::run_in_child([&] { check_numeric_argument(text.c_str()); });
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, "\nInvalid argument value (" + text + ")\n");
    }
}

TEST(CheckDEM, NamesThatPassAndFail) {
    const std::string kExtension =
        "\nDEM file extension should be either '.asc' (ASCII) or '.flt' (floating point binary)\n";
    const std::string kNeedsHeader = "\nFloating point binary DEM files also require a ASCII header file ('.hdr')\n";
    auto not_ext = [](const std::string &name, const char *ext) {
        return "\nFile extension of " + name + " is not ." + ext + "\n";
    };

    TempDir dir;
    testutil::ScopedChdir cd(dir.path());
    testutil::write_file("with.hdr", {'n'});
    // A name far longer than any fixed work area, in a folder of its own.
    const std::string deep = std::string(150, 'd') + "/" + std::string(150, 'e');
    ASSERT_EQ(::mkdir(std::string(150, 'd').c_str(), 0755), 0);
    ASSERT_EQ(::mkdir(deep.c_str(), 0755), 0);
    const std::string long_stem = deep + "/" + std::string(200, 'g');
    testutil::write_file(long_stem + ".hdr", {'n'});
    // The truncated header name would be found if the name were cut short.
    const std::string cut_stem = deep + "/" + std::string(200, 'h');
    testutil::write_file(cut_stem.substr(0, 76) + ".hdr", {'n'});

    const struct {
        std::string name;
        int status;
        std::string out;
    } cases[] = {
        // An ASCII grid passes; the test that tells it from a binary one
        // prints its message once.
        {"dem.asc", 0, not_ext("dem.asc", "flt")},
        {"a.asc", 0, not_ext("a.asc", "flt")},
        {"with.flt", 0, not_ext("with.flt", "asc")},
        {"without.flt", 255,
         not_ext("without.flt", "asc") + "Unable to open file without.hdr in file_access()\n" + kNeedsHeader},
        {"dem.ASC", 255, not_ext("dem.ASC", "asc") + not_ext("dem.ASC", "flt") + kExtension},
        {"dem.txt", 255, not_ext("dem.txt", "asc") + not_ext("dem.txt", "flt") + kExtension},
        {"demasc", 255,
         "\nExtension of file demasc should be preceeded by a dot (.)\n"
         "\nExtension of file demasc should be preceeded by a dot (.)\n" + kExtension},
        {".flt", 255, "\nFile name (.flt) is too short\n\nFile name (.flt) is too short\n" + kExtension},
        {long_stem + ".flt", 0, not_ext(long_stem + ".flt", "asc")},
        {cut_stem + ".flt", 255,
         not_ext(cut_stem + ".flt", "asc") + "Unable to open file " + cut_stem + ".hdr in file_access()\n" +
             kNeedsHeader},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name.substr(0, 40));
        const RunResult r = testutil::run_in_child([&] { check_DEM(c.name.c_str()); });
        EXPECT_EQ(r.status, c.status);
        EXPECT_EQ(r.out, c.out);
    }
}
