#include "chunk_table.h"

#include "byte_source.h"
#include "integer_decoder.h"
#include "item_common.h"
#include "laszip_record.h"

namespace laz {

namespace {

// The most bytes one coded count can take: its class symbol and up to 32
// bits, with the coder's lookahead; generous, so that a valid table is never
// cut short while a damaged count cannot make the read unbounded.
constexpr uint64_t kCodedBytesPerCount = 12;

std::string number(uint64_t v) { return std::to_string(v); }

}  // namespace

std::string read_chunk_table(ByteSource &source, const ChunkLayout &l, std::vector<Chunk> &chunks) {
    chunks.clear();
    const uint64_t first_chunk = l.points_start + 8;
    if (first_chunk > l.file_size) return "the file ends before the chunk table's offset";
    uint8_t word[8];
    if (!source.read_at(l.points_start, word, 8)) return "the chunk table's offset cannot be read";
    uint64_t table_at = load64(word);
    if (table_at == ~uint64_t{0}) {  // -1: the offset is at the file's end
        if (l.file_size < first_chunk + 8 || !source.read_at(l.file_size - 8, word, 8))
            return "the chunk table's offset cannot be read from the file's end";
        table_at = load64(word);
    }
    if (table_at < first_chunk || table_at > l.file_size || l.file_size - table_at < 8)
        return "the chunk table's offset " + number(table_at) + " lies outside the file's " + number(first_chunk) +
               " to " + number(l.file_size) + " bytes";
    if (!source.read_at(table_at, word, 8)) return "the chunk table cannot be read";
    const uint32_t version = load32(word), count = load32(word + 4);
    if (version != 0) return "chunk table version " + number(version) + " is unknown";

    // Each chunk of points holds at least its first point raw.
    const uint64_t data_bytes = table_at - first_chunk;
    const bool variable = l.chunk_size == kVariableChunkSize;
    if (!variable) {
        const uint64_t expected = (l.point_count + l.chunk_size - 1) / l.chunk_size;
        if (count != expected)
            return "the chunk table lists " + number(count) + " chunks where " + number(l.point_count) +
                   " points in chunks of " + number(l.chunk_size) + " make " + number(expected);
    } else if (count > l.point_count) {
        return "the chunk table lists " + number(count) + " chunks for " + number(l.point_count) + " points";
    }
    if (count > data_bytes / (l.record_length ? l.record_length : 1))
        return "the chunk table lists " + number(count) + " chunks, more than its " + number(data_bytes) +
               " bytes of points can hold";

    const uint64_t coded_at = table_at + 8;
    const uint64_t room = l.file_size - coded_at;
    const uint64_t want = (variable ? 2 : 1) * kCodedBytesPerCount * count + 8;
    std::vector<uint8_t> coded(want < room ? want : room);
    if (!coded.empty() && !source.read_at(coded_at, coded.data(), coded.size()))
        return "the chunk table cannot be read";

    ArithmeticDecoder dec;
    dec.start(coded.data(), coded.size());
    IntegerDecoder ic(32, 2);
    chunks.reserve(count);
    uint64_t at = first_chunk, points = 0;
    int32_t last_points = 0, last_bytes = 0;
    for (uint32_t i = 0; i < count; ++i) {
        uint64_t n;
        if (variable) {
            last_points = ic.decode(dec, last_points, 0);
            n = static_cast<uint32_t>(last_points);
        } else {
            n = i + 1 < count ? l.chunk_size : l.point_count - points;
        }
        last_bytes = ic.decode(dec, last_bytes, 1);
        const uint64_t bytes = static_cast<uint32_t>(last_bytes);
        if (dec.overrun()) return "the chunk table is cut short";
        if (bytes > table_at - at)
            return "chunk " + number(i + 1) + " of " + number(bytes) + " bytes at " + number(at) +
                   " runs past the chunk table at " + number(table_at);
        chunks.push_back({at, bytes, n});
        at += bytes;
        points += n;
    }
    if (at != table_at)
        return "the chunks end at byte " + number(at) + " but the chunk table starts at " + number(table_at);
    if (points != l.point_count)
        return "the chunks hold " + number(points) + " points, not the " + number(l.point_count) +
               " of the LAS header";
    return "";
}

}  // namespace laz
