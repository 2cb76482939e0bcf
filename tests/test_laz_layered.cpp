// The layered chunk of LAS 1.4 point formats 6 to 10 against files written by
// other software: every decoded record equals its uncompressed twin's, and
// damaged chunks, and items that a layered chunk cannot hold, decode to false
// without reading outside the chunk's bytes (the sanitizer build checks the
// reads).
#include "chunk_table.h"
#include "file_source.h"
#include "laszip_record.h"
#include "layered_chunk.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <cctype>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>


namespace {

template <typename T>
T at(const std::vector<uint8_t> &b, size_t offset) {
    T v{};
    if (offset + sizeof v <= b.size()) std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// What the test needs of a LAS 1.4 file: where its records start, their
// length and count.
struct Las14 {
    uint32_t data_at;
    uint16_t record_bytes;
    uint64_t points;
};

Las14 las14_of(const std::vector<uint8_t> &b) {
    return {at<uint32_t>(b, 96), at<uint16_t>(b, 105), at<uint64_t>(b, 247)};
}

// A LAZ file's items and chunks, found through its LASzip record and chunk table.
struct Laz {
    std::vector<laz::Item> items;
    std::vector<laz::Chunk> chunks;
};

Laz laz_of(const std::string &path, const std::vector<uint8_t> &b) {
    Laz z;
    const Las14 las = las14_of(b);
    laz::LaszipRecord record;
    for (size_t vlr = at<uint16_t>(b, 94), i = 0; i < at<uint32_t>(b, 100) && vlr + 54 <= b.size(); ++i) {
        const uint16_t length = at<uint16_t>(b, vlr + 20);
        if (at<uint16_t>(b, vlr + 18) == laz::kLaszipRecordId && vlr + 54 + length <= b.size()) {
            EXPECT_EQ(laz::parse_laszip_record(b.data() + vlr + 54, length, record), "");
            z.items = record.items;
        }
        vlr += 54 + length;
    }
    const auto file = FileSource::open(path.c_str());
    EXPECT_TRUE(file) << path;
    const laz::ChunkLayout layout{b.size(), las.data_at, record.chunk_size, las.points, las.record_bytes};
    if (file) {
        EXPECT_EQ(laz::read_chunk_table(*file, layout, z.chunks), "") << path;
    }
    return z;
}

uint32_t record_bytes(const std::vector<laz::Item> &items) {
    uint32_t n = 0;
    for (const laz::Item &i : items) n += i.size;
    return n;
}

// Each layered file and its twin: every record decodes to the twin's bytes.
struct TwinCase {
    const char *laz;
    const char *twin;  // relative to the shared folder
    size_t chunks;
};

class LayeredChunk : public ::testing::TestWithParam<TwinCase> {};

TEST_P(LayeredChunk, RecordsEqualTheTwinsBytes) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    const std::string path = data + "/laz/" + GetParam().laz;
    const std::vector<uint8_t> b = testutil::read_file(path);
    const std::vector<uint8_t> twin = testutil::read_file(data + "/" + GetParam().twin);
    const Laz z = laz_of(path, b);
    const Las14 t = las14_of(twin);
    ASSERT_EQ(z.chunks.size(), GetParam().chunks);
    ASSERT_EQ(record_bytes(z.items), t.record_bytes);

    // Last chunk first: the decoders that one chunk leaves behind must not change the next one's records.
    std::vector<uint8_t> records;
    uint64_t done = t.points;
    for (size_t i = z.chunks.size(); i-- > 0;) {
        const laz::Chunk &c = z.chunks[i];
        ASSERT_LE(c.offset + c.bytes, b.size());
        ASSERT_LE(c.points, done);
        done -= c.points;
        records.assign(c.points * t.record_bytes, 0);
        ASSERT_TRUE(laz::decode_layered_chunk(z.items, b.data() + c.offset, c.bytes, static_cast<uint32_t>(c.points),
                                               records.data()))
            << "chunk " << i;
        for (uint32_t p = 0; p < c.points; ++p) {
            const uint8_t *want = twin.data() + t.data_at + (done + p) * t.record_bytes;
            ASSERT_EQ(std::memcmp(records.data() + size_t{p} * t.record_bytes, want, t.record_bytes), 0)
                << "point " << done + p;
        }
    }
    EXPECT_EQ(done, 0u);
}

INSTANTIATE_TEST_SUITE_P(RealFiles, LayeredChunk,
                         ::testing::Values(TwinCase{"evlr-1.4.laz", "evlr-1.4.las", 1},
                                           TwinCase{"pdrf6-1.4.laz", "laz/pdrf6-1.4.las", 4},
                                           TwinCase{"pdrf7-v4-1.4.laz", "laz/pdrf7-v4-1.4.las", 4},
                                           TwinCase{"pdrf8-1.4.laz", "pdrf8-1.4.las", 4},
                                           TwinCase{"pdrf9-1.4.laz", "pdrf9-1.4.las", 4}),
                         [](const ::testing::TestParamInfo<TwinCase> &info) {
                             std::string name = info.param.laz;
                             for (char &ch : name)
                                 if (!std::isalnum(static_cast<unsigned char>(ch))) ch = '_';
                             return name;
                         });

// Damage done to a file's first chunk, which then must decode to false. The
// chunk is copied to a buffer of exactly its size, so that a read past it
// stops the sanitizer build.
enum class Damage {
    CountUp,          // the largest layer's byte count one more
    CountDown,        // one less
    CountHuge,        // near 2^32
    CutShort,         // the chunk's last byte gone
    CutInFirstPoint,  // only ten bytes left
    LayerHalved,      // the largest layer's second half gone, its count halved to match
    CountMismatch,    // the chunk said to hold one point more than it does
};

struct DamageCase {
    const char *name;
    Damage damage;
};

class DamagedChunk : public ::testing::TestWithParam<DamageCase> {};

TEST_P(DamagedChunk, DecodesToFalseWithinItsBytes) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    for (const char *file : {"evlr-1.4.laz", "pdrf7-v4-1.4.laz", "pdrf8-1.4.laz", "pdrf9-1.4.laz"}) {
        const std::string path = data + "/laz/" + file;
        const std::vector<uint8_t> b = testutil::read_file(path);
        const Laz z = laz_of(path, b);
        ASSERT_FALSE(z.chunks.empty()) << file;
        const laz::Chunk c = z.chunks[0];
        std::vector<uint8_t> chunk(b.begin() + c.offset, b.begin() + c.offset + c.bytes);
        uint32_t points = static_cast<uint32_t>(c.points);

        // The layers' byte counts follow the first point and the point count;
        // their number is the one that makes the chunk add up.
        const size_t counts_at = record_bytes(z.items) + 4;
        size_t layers = 0, sum = 0;
        while (counts_at + 4 * layers + sum != chunk.size()) {
            ASSERT_LT(counts_at + 4 * (layers + 1), chunk.size()) << file;
            sum += at<uint32_t>(chunk, counts_at + 4 * layers++);
        }
        size_t largest = 0, largest_at = counts_at + 4 * layers, layer_at = largest_at;
        for (size_t i = 0; i < layers; ++i) {
            const uint32_t n = at<uint32_t>(chunk, counts_at + 4 * i);
            if (n > at<uint32_t>(chunk, counts_at + 4 * largest)) largest = i, largest_at = layer_at;
            layer_at += n;
        }
        const size_t count_at = counts_at + 4 * largest;
        const uint32_t count = at<uint32_t>(chunk, count_at);
        auto set_count = [&](uint32_t v) { std::memcpy(chunk.data() + count_at, &v, 4); };

        switch (GetParam().damage) {
            case Damage::CountUp: set_count(count + 1); break;
            case Damage::CountDown: set_count(count - 1); break;
            case Damage::CountHuge: set_count(0xFFFFFFF0u); break;
            case Damage::CutShort: chunk.pop_back(); break;
            case Damage::CutInFirstPoint: chunk.resize(10); break;
            case Damage::LayerHalved:
                set_count(count / 2);
                chunk.erase(chunk.begin() + largest_at + count / 2, chunk.begin() + largest_at + count);
                break;
            case Damage::CountMismatch: ++points; break;
        }
        chunk.shrink_to_fit();
        std::vector<uint8_t> records(size_t{points} * record_bytes(z.items));
        EXPECT_FALSE(laz::decode_layered_chunk(z.items, chunk.data(), chunk.size(), points, records.data()))
            << file;
        // and the intact chunk still decodes after it.
        records.resize(c.points * record_bytes(z.items));
        EXPECT_TRUE(laz::decode_layered_chunk(z.items, b.data() + c.offset, c.bytes, static_cast<uint32_t>(c.points),
                                              records.data()))
            << file;
    }
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, DamagedChunk,
    ::testing::Values(DamageCase{"CountUp", Damage::CountUp}, DamageCase{"CountDown", Damage::CountDown},
                      DamageCase{"CountHuge", Damage::CountHuge}, DamageCase{"CutShort", Damage::CutShort},
                      DamageCase{"CutInFirstPoint", Damage::CutInFirstPoint},
                      DamageCase{"LayerHalved", Damage::LayerHalved},
                      DamageCase{"CountMismatch", Damage::CountMismatch}),
    [](const ::testing::TestParamInfo<DamageCase> &info) { return std::string(info.param.name); });

// Items that a layered chunk cannot hold, in place of a file's own items of
// the same record size: the chunk, intact, decodes to false.
struct ItemsCase {
    const char *name;
    const char *laz;
    size_t item;
    laz::Item replacement;
};

class ItemsRefused : public ::testing::TestWithParam<ItemsCase> {};

TEST_P(ItemsRefused, TheIntactChunkDecodesToFalse) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    const std::string path = data + "/laz/" + GetParam().laz;
    const std::vector<uint8_t> b = testutil::read_file(path);
    Laz z = laz_of(path, b);
    ASSERT_FALSE(z.chunks.empty());
    ASSERT_LT(GetParam().item, z.items.size());
    z.items[GetParam().item] = GetParam().replacement;
    const laz::Chunk c = z.chunks[0];
    std::vector<uint8_t> records(c.points * record_bytes(z.items));
    EXPECT_FALSE(laz::decode_layered_chunk(z.items, b.data() + c.offset, c.bytes, static_cast<uint32_t>(c.points),
                                           records.data()));
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, ItemsRefused,
    ::testing::Values(ItemsCase{"PointVersion2", "pdrf7-v4-1.4.laz", 0, {laz::kPoint14, 30, 2}},
                      ItemsCase{"PointOfLas10", "evlr-1.4.laz", 0, {laz::kPoint10, 30, 3}},
                      ItemsCase{"ColourOfLas12", "pdrf7-v4-1.4.laz", 1, {laz::kRgb12, 6, 2}},
                      ItemsCase{"ColourVersion5", "pdrf7-v4-1.4.laz", 1, {laz::kRgb14, 6, 5}},
                      ItemsCase{"WavePacketOfLas13", "pdrf9-1.4.laz", 1, {laz::kWavePacket13, 29, 1}}),
    [](const ::testing::TestParamInfo<ItemsCase> &info) { return std::string(info.param.name); });

}  // namespace
