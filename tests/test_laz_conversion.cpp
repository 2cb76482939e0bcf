// The real program converting the LAZ files of ../shared/testdata/laz, which
// other software compressed: each must give what converting the LAS file it
// was compressed from (its twin) gives, and the damaged ones a refusal with
// its reason.
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

using testutil::TempDir;

namespace {

struct TwinCase {
    const char *laz;           // in laz/
    const char *twin;          // relative to the data folder
    bool same_header_bounds;   // false: the twin's header states other bounds; its records are compared
};

// Converts `source` linked into `dir` under `name`.
testutil::RunResult convert_linked(const TempDir &dir, const std::string &source, const std::string &name) {
    EXPECT_EQ(::symlink(source.c_str(), (dir / name).c_str()), 0);
    return testutil::run_tessaline({name}, dir.path());
}

std::string without_elapsed(std::string out) {
    const size_t at = out.rfind("Elapsed time ");
    return at == std::string::npos ? out : out.substr(0, at);
}

class LazFile : public testing::TestWithParam<TwinCase> {};

}  // namespace

TEST_P(LazFile, ConvertsAsItsTwin) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    const TwinCase c = GetParam();
    TempDir laz_dir, las_dir;
    const testutil::RunResult laz = convert_linked(laz_dir, data + "/laz/" + c.laz, "t.laz");
    const testutil::RunResult las = convert_linked(las_dir, data + "/" + c.twin, "t.las");
    EXPECT_EQ(laz.status, las.status);
    EXPECT_EQ(laz.err, "");
    std::string expected = without_elapsed(las.out);
    for (size_t at = 0; (at = expected.find("t.las", at)) != std::string::npos; at += 5) expected[at + 4] = 'z';
    EXPECT_EQ(without_elapsed(laz.out), expected);
    for (const char *ext : {".shp", ".shx", ".dbf", ".prj"}) {
        SCOPED_TRACE(ext);
        ASSERT_EQ(testutil::exists(laz_dir / ("t" + std::string(ext))), testutil::exists(las_dir / ("t" + std::string(ext))));
        if (!testutil::exists(las_dir / ("t" + std::string(ext)))) continue;
        std::vector<uint8_t> got = testutil::read_file(laz_dir / ("t" + std::string(ext)));
        std::vector<uint8_t> want = testutil::read_file(las_dir / ("t" + std::string(ext)));
        const bool shape = std::strcmp(ext, ".shp") == 0 || std::strcmp(ext, ".shx") == 0;
        if (shape && !c.same_header_bounds) {
            // The bounds, bytes 36 to 99 of both shape headers, are the headers' own.
            ASSERT_EQ(got.size(), want.size());
            std::fill(got.begin() + 36, got.begin() + 100, 0);
            std::fill(want.begin() + 36, want.begin() + 100, 0);
        }
        EXPECT_TRUE(got == want);
    }
}

INSTANTIATE_TEST_SUITE_P(
    Testdata, LazFile,
    testing::Values(TwinCase{"point10-1.0.laz", "laz/point10-1.0.las", true},
                    TwinCase{"point10-1.1.laz", "laz/point10-1.1.las", true},
                    TwinCase{"point-time.laz", "laz/point-time.las", false},
                    TwinCase{"point-color.laz", "laz/point-color.las", false},
                    TwinCase{"point-color-time.laz", "laz/point-color-time.las", false},
                    TwinCase{"1815.laz", "laz/1815.las", true}, TwinCase{"extrabytes.laz", "laz/extrabytes.las", true},
                    TwinCase{"autzen_trim.laz", "autzen_trim.las", true}, TwinCase{"simple.laz", "simple.las", true},
                    TwinCase{"simple-v1.laz", "simple.las", true},
                    TwinCase{"no-points-1.3.laz", "laz/no-points-1.3.las", true},
                    TwinCase{"pdrf4-1.3.laz", "pdrf4-1.3.las", true}, TwinCase{"evlr-1.4.laz", "evlr-1.4.las", true},
                    TwinCase{"pdrf6-1.4.laz", "laz/pdrf6-1.4.las", true},
                    TwinCase{"pdrf7-v4-1.4.laz", "laz/pdrf7-v4-1.4.las", true},
                    TwinCase{"pdrf8-1.4.laz", "pdrf8-1.4.las", true}, TwinCase{"pdrf9-1.4.laz", "pdrf9-1.4.las", true}),
    [](const testing::TestParamInfo<TwinCase> &info) {
        std::string n = info.param.laz;
        for (char &c : n)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n.substr(0, n.size() - 4);
    });

// Refusals: the four deliberately broken files, and files damaged here from
// a real one. A refusal before any output leaves none; damage found inside
// the points ends the run with status 255.
TEST(LazFile, RefusedWithTheirReason) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    const std::vector<uint8_t> autzen = testutil::read_file(data + "/laz/autzen_trim.laz");
    uint32_t offset_to_data;
    std::memcpy(&offset_to_data, autzen.data() + 96, 4);
    int64_t table;
    std::memcpy(&table, autzen.data() + offset_to_data, 8);
    const auto cut = [&](size_t n) { return std::vector<uint8_t>(autzen.begin(), autzen.begin() + n); };
    const auto table_at = [&](int64_t at) {
        std::vector<uint8_t> b = autzen;
        std::memcpy(b.data() + offset_to_data, &at, 8);
        return b;
    };
    std::vector<uint8_t> zeroed = autzen;  // the middle of the first chunk wiped
    std::fill(zeroed.begin() + offset_to_data + 100000, zeroed.begin() + offset_to_data + 150000, 0);
    const std::string past = " lies outside the file's " + std::to_string(offset_to_data + 8) + " to ";

    const struct {
        const char *label;
        std::vector<uint8_t> bytes;  // empty: the shared file of that name
        std::string reason;
        bool before_outputs;
    } cases[] = {
        {"broken_coder", {}, "unknown LASzip coder 15", true},
        {"broken_compressor", {}, "unknown LASzip compressor 16", true},
        {"broken_size", {}, "item type 6 version 6 cannot be read", true},
        {"broken_type", {}, "item type 22 version 1 cannot be read", true},
        {"cut in the records", cut(1500), "the variable length records do not lie between the header and the points", true},
        {"cut in the points", cut(offset_to_data + 300000),
         "the chunk table's offset " + std::to_string(table) + past + std::to_string(offset_to_data + 300000) + " bytes",
         true},
        {"cut in the table", cut(static_cast<size_t>(table) + 9), "the chunk table is cut short", true},
        {"table past the end", table_at(static_cast<int64_t>(autzen.size()) + 100),
         "the chunk table's offset " + std::to_string(autzen.size() + 100) + past + std::to_string(autzen.size()) +
             " bytes",
         true},
        {"a chunk wiped", zeroed, "chunk 1 is damaged", false},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        testutil::RunResult r;
        if (c.bytes.empty()) {
            r = convert_linked(dir, data + "/laz/" + c.label + ".laz", "b.laz");
        } else {
            testutil::write_file(dir / "b.laz", c.bytes);
            r = testutil::run_tessaline({"b.laz"}, dir.path());
        }
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
        const std::string message = "\nCannot decompress b.laz: " + c.reason + "\n";
        const std::string tail = c.before_outputs ? message + "b.laz is not a valid LAS file\n" : message;
        ASSERT_GE(r.out.size(), tail.size()) << r.out;
        EXPECT_EQ(r.out.substr(r.out.size() - tail.size()), tail) << r.out;
        EXPECT_EQ(testutil::exists(dir / "b.shp"), !c.before_outputs);
    }
}
