// Whole conversions driven in-process, as a fuzz target will drive them:
// this program links its own end_run, which throws instead of ending the
// process. Runs that end early must leave no file open (an input left open
// would also keep its lock, and the next run of it would be refused), and
// repeated runs must give the same outputs as the program.
#include "driver.h"
#include "end_run.h"
#include "las_reader.h"
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <dirent.h>

#include <string>
#include <vector>

namespace {

struct RunEnded {
    int status;
};

int open_descriptors() {
    int n = 0;
    if (DIR *d = ::opendir("/proc/self/fd")) {
        while (::readdir(d) != nullptr) ++n;
        ::closedir(d);
    }
    return n;
}

// The status of a run of tessaline_run on `args`, and what it printed.
std::pair<int, std::string> run(std::vector<std::string> args) {
    args.insert(args.begin(), "Tessaline");
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int status = 0;
    const std::string out = testutil::capture_stdout([&] {
        try {
            status = tessaline_run(static_cast<int>(args.size()), argv.data());
        } catch (const RunEnded &e) {
            status = e.status;
        }
    });
    return {status, out};
}

}  // namespace

[[noreturn]] void end_run(int status) { throw RunEnded{status}; }

TEST(InProcess, RunsEndingEarlyLeaveNoFileOpen) {
    testutil::TempDir dir;
    testutil::ScopedChdir cd(dir.path());
    lastest::LasOptions truncated = lastest::options_for_type(4);
    truncated.truncate_to = 227 + 28 * 3 + 5;
    lastest::write_las("short.las", truncated, 10, lastest::varied_point);
    lastest::write_las("good.las", lastest::options_for_type(8), 2500, lastest::varied_point);
    testutil::write_file("full.las", testutil::read_file("good.las"));
    ASSERT_EQ(::symlink("/dev/full", "full.dbf"), 0);

    const int before = open_descriptors();
    for (int round = 0; round < 3; ++round) {
        SCOPED_TRACE(round);
        EXPECT_EQ(run({}).first, -1);
        EXPECT_EQ(run({"absent.las"}).first, -1);
        const auto s = run({"short.las"});
        EXPECT_EQ(s.first, -1);
        EXPECT_NE(s.second.find("short.las is truncated: 10 point records declared, 3 present"), std::string::npos);
        const auto f = run({"full.las"});
        EXPECT_EQ(f.first, -1);
        EXPECT_NE(f.second.find("\nError writing full.dbf\n"), std::string::npos);
        const auto g = run({"good.las"});
        EXPECT_EQ(g.first, 0);
        EXPECT_EQ(lasread::mask_elapsed(g.second), lasread::console_of("good.las", "good.shp", 8, 2500));
        EXPECT_EQ(lasread::compare_outputs("good.las", lasread::read_las("good.las")), "");
        EXPECT_EQ(open_descriptors(), before);
    }
}
