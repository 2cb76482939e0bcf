// The real program, run in a temporary folder: console text, exit status
// and which files exist afterwards.
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

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

TEST(Cli, WrongArgumentCountPrintsUsageThenBanner) {
    TempDir dir;
    for (const auto &args : {std::vector<std::string>{}, std::vector<std::string>{"a.las", "b.las"},
                             std::vector<std::string>{"--help", "--version"}}) {
        const testutil::RunResult r = run_tessaline(args, dir.path());
        EXPECT_EQ(r.out, kUsage + banner());
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
        {"folder.las", "\nfolder.las is not a regular file\nfolder.las is not a valid LAS file\n"},
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
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.in);
        write_type(dir / c.in, 8);
        const testutil::RunResult r = run_tessaline({c.in}, dir.path());
        EXPECT_EQ(r.out.substr(0, startup(c.in, c.shp).size()), startup(c.in, c.shp));
        EXPECT_EQ(r.status, 0);
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

