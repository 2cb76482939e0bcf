// The real program converting the LAZ files of ../shared/testdata/laz, which
// other software compressed: each must give what converting the LAS file it
// was compressed from (its twin) gives, a file altered here what the file as
// published gives, and the damaged ones a refusal with its reason.
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include <unistd.h>

using testutil::TempDir;

namespace {

struct TwinCase {
    const char *laz;            // in laz/
    const char *twin;           // relative to the data folder
    bool same_header_bounds;    // false: the twin's header states other bounds; its records are compared
    bool chunk_size_0 = false;  // the LAZ file's LASzip record rewritten to state chunks of 0 points
    const char *threads = "";   // TESSALINE_THREADS for the LAZ file's run; "": the default
};

// Converts `source` linked into `dir` under `name`.
testutil::RunResult convert_linked(const TempDir &dir, const std::string &source, const std::string &name) {
    EXPECT_EQ(::symlink(source.c_str(), (dir / name).c_str()), 0);
    return testutil::run_tessaline({name}, dir.path());
}

// The LAZ file `b` with its LASzip record's chunk size set to 0, as an early
// writer of variable chunks states it.
std::vector<uint8_t> with_chunk_size_0(std::vector<uint8_t> b) {
    uint16_t header_size, length;
    uint32_t records;
    std::memcpy(&header_size, b.data() + 94, 2);
    std::memcpy(&records, b.data() + 100, 4);
    for (size_t at = header_size; records-- > 0 && at + 54 <= b.size(); at += 54 + length) {
        std::memcpy(&length, b.data() + at + 20, 2);
        if (std::strncmp(reinterpret_cast<const char *>(b.data() + at + 2), "laszip encoded", 16) == 0) {
            std::fill(b.begin() + at + 54 + 12, b.begin() + at + 54 + 16, 0);
            return b;
        }
    }
    ADD_FAILURE() << "no LASzip record";
    return b;
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
    if (c.chunk_size_0)
        testutil::write_file(laz_dir / "t.laz", with_chunk_size_0(testutil::read_file(data + "/laz/" + c.laz)));
    else
        ASSERT_EQ(::symlink((data + "/laz/" + c.laz).c_str(), (laz_dir / "t.laz").c_str()), 0);
    std::vector<std::string> env;
    if (*c.threads != '\0') env.push_back(std::string("TESSALINE_THREADS=") + c.threads);
    const testutil::RunResult laz = testutil::run(testutil::tessaline_exe(), {"t.laz"}, laz_dir.path(), false, env);
    // A twin that is itself a LAZ file keeps its name's ending.
    const std::string twin = c.twin;
    const testutil::RunResult las =
        convert_linked(las_dir, data + "/" + twin, twin.substr(twin.size() - 4) == ".laz" ? "t.laz" : "t.las");
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
                    TwinCase{"pdrf8-1.4.laz", "pdrf8-1.4.las", true}, TwinCase{"pdrf9-1.4.laz", "pdrf9-1.4.las", true},
                    // Variable chunks whose LASzip record states chunks of 0 points.
                    TwinCase{"autzen_clip_native.copc.laz", "laz/autzen_clip_native.copc.laz", true, true, "1"},
                    TwinCase{"autzen_clip_native.copc.laz", "laz/autzen_clip_native.copc.laz", true, true, "2"},
                    TwinCase{"lone-star.copc.laz", "laz/lone-star.copc.laz", true, true, "1"},
                    TwinCase{"lone-star.copc.laz", "laz/lone-star.copc.laz", true, true, "2"}),
    [](const testing::TestParamInfo<TwinCase> &info) {
        std::string n = info.param.laz;
        n = n.substr(0, n.size() - 4);
        if (info.param.chunk_size_0) n += "_chunk_size_0";
        if (*info.param.threads != '\0') n += std::string("_threads_") + info.param.threads;
        for (char &c : n)
            if (!std::isalnum(static_cast<unsigned char>(c))) c = '_';
        return n;
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
    std::vector<uint8_t> longer = autzen;  // a record length one byte above the items'
    longer[105] = 35;
    std::vector<uint8_t> zeroed = autzen;  // the middle of the first chunk wiped
    std::fill(zeroed.begin() + offset_to_data + 100000, zeroed.begin() + offset_to_data + 150000, 0);
    const std::string past = " lies outside the file's " + std::to_string(offset_to_data + 8) + " to ";
    // Variable chunks stated as chunks of 0 points, one point more in the header than the chunk table gives.
    std::vector<uint8_t> one_more = with_chunk_size_0(testutil::read_file(data + "/laz/autzen_clip_native.copc.laz"));
    uint64_t count;
    std::memcpy(&count, one_more.data() + 247, 8);
    ++count;
    std::memcpy(one_more.data() + 247, &count, 8);

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
        {"LAS 1.2 records longer than the items make", longer,
         "the LASzip items make records of 34 bytes, not the 35 of the LAS header", true},
        {"a chunk wiped", zeroed, "chunk 1 is damaged", false},
        {"chunks of 0 points, a point more declared", one_more,
         "the chunks hold 43 points, not the 44 of the LAS header", true},
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
