// The LAZ decoder against files written by other software: the entropy layer,
// the chunk layer, every item, and damaged files refused with their reasons.
#include "arithmetic_decoder.h"
#include "integer_decoder.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

namespace {

// The shared folder beside the project, or where TESSALINE_TESTDATA names it
// (a worktree outside the project's folder); "" where neither holds it.
std::string testdata() {
    const char *env = std::getenv("TESSALINE_TESTDATA");
    if (env != nullptr && *env != '\0') return env;
    return testutil::shared_testdata();
}

std::vector<uint8_t> slurp(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

template <typename T>
T at(const std::vector<uint8_t> &b, size_t offset) {
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// The chunk tables of real files: sizes coded by the integer corrector over
// the arithmetic decoder must add up to the bytes between the points' start
// and the table.
struct ChunkTableCase {
    const char *file;
    uint32_t chunks;
};

class EntropyLayer : public ::testing::TestWithParam<ChunkTableCase> {};

TEST_P(EntropyLayer, ChunkSizesAddUpToTheCompressedPoints) {
    const std::string data = testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    const std::vector<uint8_t> b = slurp(data + "/laz/" + GetParam().file);
    ASSERT_GT(b.size(), 227u);
    const uint32_t points_at = at<uint32_t>(b, 96);
    const uint64_t table_at = at<uint64_t>(b, points_at);
    ASSERT_LT(table_at + 8, b.size());
    EXPECT_EQ(at<uint32_t>(b, table_at), 0u);
    const uint32_t chunks = at<uint32_t>(b, table_at + 4);
    EXPECT_EQ(chunks, GetParam().chunks);

    laz::ArithmeticDecoder dec;
    dec.start(b.data() + table_at + 8, b.size() - table_at - 8);
    laz::IntegerDecoder sizes(32, 2);
    int32_t last = 0;
    uint64_t total = 0;
    for (uint32_t i = 0; i < chunks; ++i) total += static_cast<uint32_t>(last = sizes.decode(dec, last, 1));
    EXPECT_EQ(total, table_at - points_at - 8);
    EXPECT_FALSE(dec.overrun());
}

INSTANTIATE_TEST_SUITE_P(RealFiles, EntropyLayer,
                         ::testing::Values(ChunkTableCase{"simple.laz", 1}, ChunkTableCase{"autzen_trim.laz", 3},
                                           ChunkTableCase{"pdrf4-1.3.laz", 4}));

TEST(EntropyLayerBounds, ReadingPastTheEndYieldsZerosAndIsCounted) {
    laz::ArithmeticDecoder dec;
    const uint8_t one = 0x80;
    dec.start(&one, 1);
    EXPECT_TRUE(dec.overrun());
    laz::SymbolModel symbols(300);
    laz::BitModel bit;
    laz::IntegerDecoder ints(32, 1);
    for (int i = 0; i < 10000; ++i) {
        dec.decode_symbol(symbols);
        dec.decode_bit(bit);
        ints.decode(dec, i);
        dec.read_bits(32);
        dec.read_int64();
    }
    EXPECT_GT(dec.overrun_bytes(), 1000u);
}

}  // namespace
