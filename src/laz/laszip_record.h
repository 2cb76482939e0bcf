// The record that makes a LAS file a LAZ file: a variable length record with
// the user ID "laszip encoded" and record ID 22204, whose payload says how the
// points are compressed and which items make up each point record.
//
// Payload (little-endian): compressor u16, coder u16, version major u8, minor
// u8, revision u16, options u32, chunk size u32, special EVLR count i64,
// special EVLR offset i64, item count u16 (34 bytes), then per item its type,
// size and version, u16 each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace laz {

inline constexpr char kLaszipUserId[] = "laszip encoded";
inline constexpr uint16_t kLaszipRecordId = 22204;
inline constexpr size_t kLaszipFixedBytes = 34;
inline constexpr size_t kLaszipItemBytes = 6;

// How the points are compressed.
enum Compressor : uint16_t {
    kNone = 0,
    kPointwise = 1,         // one stream of all points
    kPointwiseChunked = 2,  // independent chunks of points, each one stream
    kLayeredChunked = 3,    // chunks whose points are coded field by field (LAS 1.4 formats)
};
inline constexpr uint16_t kArithmeticCoder = 0;
// Chunk size that says the chunks' point counts are in the chunk table. Some
// writers of such chunks state 0 instead, which is read as this.
inline constexpr uint32_t kVariableChunkSize = 0xFFFFFFFFu;

// The item types.
enum ItemType : uint16_t {
    kByte = 0,  // extra bytes
    kShort = 1,
    kInt = 2,
    kLong = 3,
    kFloat = 4,
    kDouble = 5,
    kPoint10 = 6,
    kGpsTime11 = 7,
    kRgb12 = 8,
    kWavePacket13 = 9,
    kPoint14 = 10,
    kRgb14 = 11,
    kRgbNir14 = 12,
    kWavePacket14 = 13,
    kByte14 = 14,
};

struct Item {
    uint16_t type, size, version;
};

struct LaszipRecord {
    uint16_t compressor = 0, coder = 0;
    uint8_t version_major = 0, version_minor = 0;
    uint16_t version_revision = 0;
    uint32_t options = 0;
    uint32_t chunk_size = 0;
    int64_t special_evlr_count = 0, special_evlr_offset = 0;
    std::vector<Item> items;
};

// Parses the payload; "" or the reason it cannot be read.
std::string parse_laszip_record(const uint8_t *data, size_t size, LaszipRecord &record);

// Checks the record against the LAS point format and record length: "" when
// this decoder can read every item, else the reason in plain words.
std::string check_laszip_record(const LaszipRecord &record, uint8_t point_format, uint16_t record_length);

}  // namespace laz
