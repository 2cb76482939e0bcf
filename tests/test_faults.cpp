// Refusals and failures of the real program after start-up: files that
// cannot become a shapefile, truncated files, outputs that cannot be created
// and a full disk. Each ends with its message and status 255.
#include "las_reader.h"
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using lastest::LasOptions;
using testutil::run_tessaline;
using testutil::TempDir;

namespace {

std::string startup(const std::string &in) {
    return testutil::banner() + "Input LAS file:    " + in + "\nOutput Shapefile:  " +
           in.substr(0, in.size() - 4) + ".shp\n\nProcessing ...";
}

bool any_output(const TempDir &dir, const std::string &stem) {
    for (const char *ext : {".shp", ".shx", ".dbf"})
        if (testutil::exists(dir / (stem + ext))) return true;
    return false;
}

// Each name in the folder with what it holds: a symbolic link's target
// ("-> t.las") or a file's bytes.
std::map<std::string, std::string> folder_state(const TempDir &dir) {
    std::map<std::string, std::string> state;
    DIR *d = ::opendir(dir.path().c_str());
    if (d == nullptr) return state;
    while (const dirent *e = ::readdir(d)) {
        const std::string name = e->d_name, path = dir / name;
        struct stat st;
        if (name == "." || name == ".." || ::lstat(path.c_str(), &st) != 0) continue;
        if (S_ISLNK(st.st_mode)) {
            char target[4096];
            const ssize_t n = ::readlink(path.c_str(), target, sizeof target);
            state[name] = "-> " + std::string(target, n > 0 ? static_cast<size_t>(n) : 0);
        } else {
            state[name] = testutil::read_text(path);
        }
    }
    ::closedir(d);
    return state;
}

}  // namespace

// The .shp length field is a signed 32-bit count of 16-bit words; the check
// comes before the truncation check, so a bare header is enough.
TEST(TooManyPoints, RefusedBeforeAnyOutputExists) {
    const struct {
        int64_t declared;
        std::string message;
    } cases[] = {
        {119304645, "\nbig.las holds 119304645 points, more than the 119304644 that a shapefile can hold\n"},
        {4294967295, "\nbig.las holds 4294967295 points, more than the 119304644 that a shapefile can hold\n"},
        {119304644, "\nbig.las is truncated: 119304644 point records declared, 0 present\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.declared);
        TempDir dir;
        LasOptions opts = lastest::options_for_type(8);
        opts.declared_points = c.declared;
        lastest::write_las(dir / "big.las", opts, 0, lastest::varied_point);
        const testutil::RunResult r = run_tessaline({"big.las"}, dir.path());
        EXPECT_EQ(r.out, startup("big.las") + c.message);
        EXPECT_EQ(r.status, 255);
        EXPECT_FALSE(any_output(dir, "big"));
    }
}

TEST(TruncatedInput, RefusedBeforeAnyOutputExists) {
    const struct {
        const char *label;
        int type;
        uint64_t points;
        int64_t offset_to_data;  // -1: right after the header
        int64_t cut;             // bytes removed from the end; -1: cut the file to 300 bytes
        std::string message;
    } cases[] = {
        {"last record short by one byte", 8, 10, -1, 1, "\nt.las is truncated: 10 point records declared, 9 present\n"},
        {"two and a half records missing", 1, 5, -1, 50, "\nt.las is truncated: 5 point records declared, 2 present\n"},
        {"points past a full chunk", 4, 1000001, -1, 28 * 2,
         "\nt.las is truncated: 1000001 point records declared, 999999 present\n"},
        {"offset to data past the end", 5, 3, 5000, -1, "\nt.las is truncated: 3 point records declared, 0 present\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        LasOptions opts = lastest::options_for_type(c.type);
        opts.offset_to_data = c.offset_to_data;
        lastest::write_las(dir / "t.las", opts, c.points, lastest::varied_point);
        const uint64_t size = testutil::file_size(dir / "t.las");
        ASSERT_EQ(::truncate((dir / "t.las").c_str(), c.cut >= 0 ? static_cast<off_t>(size - c.cut) : 300), 0);
        const testutil::RunResult r = run_tessaline({"t.las"}, dir.path());
        EXPECT_EQ(r.out, startup("t.las") + c.message);
        EXPECT_EQ(r.status, 255);
        EXPECT_FALSE(any_output(dir, "t"));
    }
}

TEST(TruncatedInput, NoPointsNeedNoPointData) {
    // Zero points whose offset to data lies past the end: nothing is missing.
    TempDir dir;
    LasOptions opts = lastest::options_for_type(8);
    opts.offset_to_data = 4000;
    opts.truncate_to = 227;
    lastest::write_las(dir / "e.las", opts, 0, lastest::varied_point);
    const testutil::RunResult r = run_tessaline({"e.las"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lasread::mask_elapsed(r.out), lasread::console_of("e.las", "e.shp", 8, 0));
    EXPECT_EQ(testutil::file_size(dir / "e.shp"), 100u);
    EXPECT_EQ(testutil::file_size(dir / "e.dbf"), 449u);
}

TEST(TruncatedInput, TrailingBytesAfterTheRecordsAreIgnored) {
    TempDir dir;
    LasOptions opts = lastest::options_for_type(7);
    opts.trailing_bytes = 13;
    lastest::write_las(dir / "x.las", opts, 100, lastest::varied_point);
    const testutil::RunResult r = run_tessaline({"x.las"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(lasread::compare_outputs(dir / "x.las", lasread::read_las(dir / "x.las")), "");
}

// Each output in turn cannot be created (a folder holds its name).
TEST(OutputFailures, AnOutputThatCannotBeCreated) {
    const struct {
        const char *ext;
        std::string message;
        std::vector<const char *> left;  // outputs already written when the run ends
    } cases[] = {
        {".shp", "\nUnable to open file o.shp for writing\n", {}},
        {".shx", "Unable to open o.shx for appending data\n", {".shp"}},
        {".dbf", "DBFCreate(o.dbf) failed.\n", {".shp"}},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.ext);
        TempDir dir;
        lastest::write_las(dir / "o.las", lastest::options_for_type(3), 5, lastest::varied_point);
        ASSERT_EQ(::mkdir((dir / (std::string("o") + c.ext)).c_str(), 0755), 0);
        const testutil::RunResult r = run_tessaline({"o.las"}, dir.path());
        EXPECT_EQ(r.out, startup("o.las") + c.message);
        EXPECT_EQ(r.status, 255);
        for (const char *ext : c.left) EXPECT_EQ(testutil::file_size(dir / (std::string("o") + ext)), 100u) << ext;
    }
}

// Outputs that permissions protect: a read-only file holds an output's
// name, or the whole folder is read-only. The run ends at that output with
// its message; the input, the protected file and a bystander file keep every
// byte. Run as an ordinary user, since the superuser may write anything.
TEST(OutputFailures, ReadOnlyFileOrFolder) {
    const struct {
        const char *label;
        const char *protected_ext;  // nullptr: the folder itself is read-only
        std::string message;
    } cases[] = {
        {"read-only .shp", ".shp", "\nUnable to open file p.shp for writing\n"},
        {"read-only .shx", ".shx", "Unable to open p.shx for appending data\n"},
        {"read-only .dbf", ".dbf", "DBFCreate(p.dbf) failed.\n"},
        {"read-only folder", nullptr, "\nUnable to open file p.shp for writing\n"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        lastest::write_las(dir / "p.las", lastest::options_for_type(6), 40, lastest::varied_point);
        const std::vector<uint8_t> input = testutil::read_file(dir / "p.las");
        const std::vector<uint8_t> old_bytes = {'o', 'l', 'd'};
        testutil::write_file(dir / "notes.txt", old_bytes);
        if (c.protected_ext) {
            testutil::write_file(dir / (std::string("p") + c.protected_ext), old_bytes);
            ASSERT_EQ(::chmod((dir / (std::string("p") + c.protected_ext)).c_str(), 0444), 0);
        }
        for (const char *f : {"p.las", "notes.txt"}) ASSERT_EQ(::chmod((dir / f).c_str(), 0444), 0);
        ASSERT_EQ(::chmod(dir.path().c_str(), c.protected_ext ? 0777 : 0555), 0);

        TempDir tools;
        const testutil::RunResult r = testutil::run_tessaline_unprivileged({"p.las"}, dir.path(), tools);
        EXPECT_EQ(r.out, startup("p.las") + c.message);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(testutil::read_file(dir / "p.las"), input);
        EXPECT_EQ(testutil::read_file(dir / "notes.txt"), old_bytes);
        if (c.protected_ext) EXPECT_EQ(testutil::read_file(dir / (std::string("p") + c.protected_ext)), old_bytes);
        else EXPECT_FALSE(any_output(dir, "p"));
    }
}

// Faults of the machine, injected: the table cannot be reopened to set its
// record count, the input yields fewer records than its size promised (it
// shrank during the run), and memory runs out for the coordinate buffers or
// for the point buffer.
TEST(OutputFailures, InjectedFaultsOfTheRun) {
    // Records of 34 bytes are read in blocks of 30,840 (1,048,560 bytes);
    // each coordinate buffer takes 8,000,000.
    const struct {
        const char *fault;
        std::string message;
    } cases[] = {
        {"SHIM_FAIL_UPDATE=1", "\nUnable to open i.dbf for updating\n"},
        {"SHIM_SHORT_READ=1", "\nUnexpected end of i.las while reading point records\n"},
        {"SHIM_MALLOC_OVER=7999999", "\nFailed to allocate memory for X, Y, and Z coordinate vectors\n"},
        {"SHIM_MALLOC_OVER=1048559-1048560", "Failed to allocate memory for return structure\n"},
    };
    TempDir dir;
    lastest::write_las(dir / "i.las", lastest::options_for_type(8), 300000, lastest::varied_point);
    for (const auto &c : cases) {
        SCOPED_TRACE(c.fault);
        const testutil::RunResult r = testutil::run_tessaline_with_fault({"i.las"}, dir.path(), c.fault);
        const bool in_startup = c.message.find("X, Y, and Z") != std::string::npos;
        const std::string before = startup("i.las");
        // The coordinate buffers are allocated before "Processing ..." is shown.
        EXPECT_EQ(r.out, in_startup ? before.substr(0, before.size() - std::string("\nProcessing ...").size()) + c.message
                                    : before + c.message);
        EXPECT_EQ(r.status, 255);
    }
}

// A full disk: each output in turn is a link to /dev/full, where every write
// fails with "no space left".
TEST(FullDisk, EveryOutputsWritesAreChecked) {
    if (!testutil::exists("/dev/full")) GTEST_SKIP() << "no /dev/full";
    // The survey carries a coordinate system, so that a .prj is written too.
    LasOptions opts = lastest::options_for_type(8);
    opts.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}})};
    for (const char *ext : {".shp", ".shx", ".dbf", ".prj"}) {
        SCOPED_TRACE(ext);
        TempDir dir;
        lastest::write_las(dir / "f.las", opts, 3000, lastest::varied_point);
        ASSERT_EQ(::symlink("/dev/full", (dir / (std::string("f") + ext)).c_str()), 0);
        const testutil::RunResult r = run_tessaline({"f.las"}, dir.path());
        EXPECT_EQ(r.out, startup("f.las") + "\nError writing f" + ext + "\n");
        EXPECT_EQ(r.status, 255);
    }
}

// The disk fills while the records are appended: the file-size limit of the
// process (with SIGXFSZ ignored, writes past it fail with EFBIG) stops the
// writes to whichever output first grows past it. With two threads the
// failure meets the thread that writes while the other formats ahead; with
// one, the writers' own; the second chunk's progress line comes first.
TEST(FullDisk, WritesOfRecordsAreChecked) {
    const struct {
        uint64_t limit_blocks;  // of 512 bytes
        const char *failing;
        const char *threads;    // TESSALINE_THREADS
        int type = 8;
        uint64_t points = 50000;
    } cases[] = {
        {2000, "g.shp", "1"},   // 1,024,000 bytes: the .shp's records (36 per point) pass it first
        {2000, "g.shp", "2"},
        {4000, "g.dbf", "1"},   // 2,048,000 bytes: .shp (1,800,100) and .shx fit, the .dbf's rows do not
        {4000, "g.dbf", "2"},
        // 40,960,000 bytes: the first chunk's outputs fit (.shp 36,000,100), the second's .shp does not
        {80000, "g.shp", "1", 1, 1200000},
        {80000, "g.shp", "2", 1, 1200000},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(std::string(c.failing) + " with threads " + c.threads + ", points " + std::to_string(c.points));
        TempDir dir;
        lastest::write_las(dir / "g.las", lastest::options_for_type(c.type), c.points, lastest::varied_point);
        const std::string script = "trap '' XFSZ; ulimit -f " + std::to_string(c.limit_blocks) +
                                   " && TESSALINE_THREADS=" + c.threads + " exec \"$0\" g.las";
        const testutil::RunResult r = testutil::run("/bin/sh", {"-c", script, testutil::tessaline_exe()}, dir.path());
        const std::string progress = c.points > 1000000 ? "\rProcessing ... 83.3% done" : "";
        EXPECT_EQ(r.out, startup("g.las") + progress + "\nError writing " + c.failing + "\n");
        EXPECT_EQ(r.status, 255);
    }
}

// Names that lead to one file: an output name is a link to the input or to
// another output, or the input is a link to an existing output. Each is
// refused before any file is created, truncated or removed; names that lead
// to no file yet, and the names of outputs that this run does not write, are
// converted through as usual.
TEST(SameFile, RefusedBeforeAnyFileIsTouched) {
    struct Link {
        bool hard;
        const char *name, *target;
    };
    const struct {
        const char *label;
        const char *las_file;                // where the LAS file's bytes are written
        std::vector<const char *> old_files;  // other files present, holding "old"
        std::vector<Link> links;
        const char *arg;
        std::string message;  // "": converted
        bool crs = false;     // the LAS file states a coordinate system, so the run writes a .prj
        std::string output = "t.shp";  // other than t.shp: given with --output
    } cases[] = {
        {".shp a symbolic link to the input", "t.las", {}, {{false, "t.shp", "t.las"}}, "t.las",
         "\nt.shp and t.las are the same file\n"},
        {".shx a symbolic link to the input", "t.las", {}, {{false, "t.shx", "t.las"}}, "t.las",
         "\nt.shx and t.las are the same file\n"},
        {".dbf a symbolic link to the input", "t.las", {}, {{false, "t.dbf", "t.las"}}, "t.las",
         "\nt.dbf and t.las are the same file\n"},
        {".cpg a symbolic link to the input", "t.las", {}, {{false, "t.cpg", "t.las"}}, "t.las",
         "\nt.cpg and t.las are the same file\n"},
        {".dbf a hard link of the input", "t.las", {}, {{true, "t.dbf", "t.las"}}, "./t.las",
         "\n./t.dbf and ./t.las are the same file\n"},
        {".shx a link to an existing .shp", "t.las", {"t.shp", "t.cpg"}, {{false, "t.shx", "t.shp"}}, "t.las",
         "\nt.shx and t.shp are the same file\n"},
        {"the input a link to an existing .dbf", "t.dbf", {}, {{false, "t.las", "t.dbf"}}, "t.las",
         "\nt.dbf and t.las are the same file\n"},
        {".prj a link to the input, and the run writes one", "t.las", {}, {{false, "t.prj", "t.las"}}, "t.las",
         "\nt.prj and t.las are the same file\n", true},
        {".prj a link to the input, and the run writes no .prj", "t.las", {}, {{false, "t.prj", "t.las"}}, "t.las",
         ""},
        {"a dangling link as an output name", "t.las", {}, {{false, "t.shp", "elsewhere.shp"}}, "t.las", ""},
        {"--output: its .dbf a symbolic link to the input", "t.las", {}, {{false, "o.dbf", "t.las"}}, "t.las",
         "\no.dbf and t.las are the same file\n", false, "o.shp"},
        {"--output: its .cpg a link to the input", "t.las", {}, {{false, "o.cpg", "t.las"}}, "t.las",
         "\no.cpg and t.las are the same file\n", false, "o.shp"},
        {"--output: its .shx a link to an existing .shp", "t.las", {"o.shp"}, {{false, "o.shx", "o.shp"}}, "t.las",
         "\no.shx and o.shp are the same file\n", false, "o.shp"},
        {"--output: its .prj a link to the input, and the run writes one", "t.las", {}, {{false, "o.prj", "t.las"}},
         "t.las", "\no.prj and t.las are the same file\n", true, "o.shp"},
        {"--output: the names beside the input are no outputs", "t.las", {}, {{false, "t.dbf", "t.las"}}, "t.las", "",
         false, "o.shp"},
    };
    constexpr uint64_t kPoints = 20;
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        LasOptions opts = lastest::options_for_type(8);
        if (c.crs) opts.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}})};
        lastest::write_las(dir / c.las_file, opts, kPoints, lastest::varied_point);
        for (const char *f : c.old_files) testutil::write_file(dir / f, {'o', 'l', 'd'});
        for (const Link &l : c.links)
            ASSERT_EQ(l.hard ? ::link((dir / l.target).c_str(), (dir / l.name).c_str())
                             : ::symlink(l.target, (dir / l.name).c_str()),
                      0);
        const std::map<std::string, std::string> before = folder_state(dir);

        const testutil::RunResult r = run_tessaline(
            c.output == "t.shp" ? std::vector<std::string>{c.arg} : std::vector<std::string>{"--output", c.output, c.arg},
            dir.path());
        if (c.message.empty()) {
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(lasread::mask_elapsed(r.out), lasread::console_of(c.arg, c.output, 8, kPoints));
            const std::string stem = c.output.substr(0, c.output.size() - 4);
            EXPECT_EQ(lasread::compare_outputs(dir / (stem + ".las"), lasread::read_las(dir / "t.las")), "");
            const std::map<std::string, std::string> after = folder_state(dir);
            for (const auto &kept : {c.las_file, c.links[0].name}) EXPECT_EQ(after.at(kept), before.at(kept)) << kept;
        } else {
            std::string head = startup(c.arg);
            head.replace(head.find("t.shp"), 5, c.output);
            EXPECT_EQ(r.out, head + c.message);
            EXPECT_EQ(r.status, 255);
            EXPECT_EQ(folder_state(dir), before);
        }
    }
}

// A second run of a file that a first run is converting, through the same
// name or another link of it: the first holds its input when it is about to
// create its first output, and the second starts then (the fault library
// holds the first until the second has ended). The second is refused having
// created nothing; the first completes.
TEST(OneRunPerInput, ASecondRunOfTheSameFileIsRefused) {
    struct Link {
        bool hard;
        const char *name;
    };
    const struct {
        const char *second;
        std::vector<Link> links;  // to big.las
    } cases[] = {
        {"big.las", {}},
        {"copy.las", {{true, "copy.las"}}},
        {"alias.las", {{false, "alias.las"}}},
    };
    constexpr uint64_t kPoints = 20000;
    TempDir dir;
    lastest::write_las(dir / "big.las", lastest::options_for_type(8), kPoints, lastest::varied_point);
    const lasread::LasFile las = lasread::read_las(dir / "big.las");
    for (const auto &c : cases) {
        SCOPED_TRACE(c.second);
        for (const char *ext : {".shp", ".shx", ".dbf"}) std::remove((dir / (std::string("big") + ext)).c_str());
        for (const Link &l : c.links)
            ASSERT_EQ(l.hard ? ::link((dir / "big.las").c_str(), (dir / l.name).c_str())
                             : ::symlink("big.las", (dir / l.name).c_str()),
                      0);
        const std::map<std::string, std::string> names_before = folder_state(dir);

        TempDir notes;
        const std::string second = "'" + testutil::tessaline_exe() + "' " + c.second + " > '" + (notes / "out") +
                                   "'; echo $? > '" + (notes / "status") + "'";
        const testutil::RunResult first =
            testutil::run_tessaline_with_fault({"big.las"}, dir.path(), "SHIM_BEFORE_OUTPUT=" + second);

        EXPECT_EQ(testutil::read_text(notes / "out"), startup(c.second) + "\n" + c.second +
                                                         " is being converted by another run\n");
        EXPECT_EQ(testutil::read_text(notes / "status"), "255\n");
        EXPECT_EQ(first.status, 0);
        EXPECT_EQ(lasread::mask_elapsed(first.out), lasread::console_of("big.las", "big.shp", 8, kPoints));
        EXPECT_EQ(lasread::compare_outputs(dir / "big.las", las), "");
        std::map<std::string, std::string> names_after = folder_state(dir);
        for (const char *ext : {".shp", ".shx", ".dbf"}) names_after.erase(std::string("big") + ext);
        EXPECT_EQ(names_after, names_before);
        for (const Link &l : c.links) std::remove((dir / l.name).c_str());
    }
}

// The elapsed time is printed in its format whatever the run's length.
TEST(ElapsedTime, PrintedWithTwoDecimals) {
    TempDir dir;
    lastest::write_las(dir / "c.las", lastest::options_for_type(2), 10, lastest::varied_point);
    const testutil::RunResult r = run_tessaline({"c.las"}, dir.path());
    EXPECT_EQ(r.status, 0);
    EXPECT_NE(r.out, lasread::mask_elapsed(r.out)) << "no \"Elapsed time N.NN seconds\" line at the end";
}
