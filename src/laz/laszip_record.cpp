#include "laszip_record.h"

#include "item_common.h"

namespace laz {

namespace {

// The fixed size of each item type, 0 for the extra bytes (any size); types
// not listed cannot be read.
uint16_t fixed_size(uint16_t type) {
    switch (type) {
        case kPoint10: return 20;
        case kGpsTime11: return 8;
        case kRgb12: return 6;
        case kWavePacket13: return 29;
        case kPoint14: return 30;
        case kRgb14: return 6;
        case kRgbNir14: return 8;
        case kWavePacket14: return 29;
        default: return 0;
    }
}

bool version_readable(const Item &item, uint16_t compressor) {
    const bool layered = compressor == kLayeredChunked;
    switch (item.type) {
        case kByte:
        case kPoint10:
        case kGpsTime11:
        case kRgb12: return !layered && (item.version == 1 || item.version == 2);
        case kWavePacket13: return !layered && item.version == 1;
        case kPoint14:
        case kRgb14:
        case kRgbNir14:
        case kWavePacket14:
        case kByte14: return layered && (item.version == 3 || item.version == 4);
        default: return false;
    }
}

// The items each point format's record is made of, before any extra bytes.
struct FormatItems {
    uint16_t types[4];
    int count;
};
constexpr FormatItems kFormatItems[] = {
    {{kPoint10}, 1},
    {{kPoint10, kGpsTime11}, 2},
    {{kPoint10, kRgb12}, 2},
    {{kPoint10, kGpsTime11, kRgb12}, 3},
    {{kPoint10, kGpsTime11, kWavePacket13}, 3},
    {{kPoint10, kGpsTime11, kRgb12, kWavePacket13}, 4},
    {{kPoint14}, 1},
    {{kPoint14, kRgb14}, 2},
    {{kPoint14, kRgbNir14}, 2},
    {{kPoint14, kWavePacket14}, 2},
    {{kPoint14, kRgbNir14, kWavePacket14}, 3},
};

}  // namespace

std::string parse_laszip_record(const uint8_t *p, size_t size, LaszipRecord &r) {
    if (size < kLaszipFixedBytes)
        return "the LASzip record holds " + std::to_string(size) + " bytes, fewer than its " +
               std::to_string(kLaszipFixedBytes) + " fixed ones";
    r.compressor = load16(p);
    r.coder = load16(p + 2);
    r.version_major = p[4];
    r.version_minor = p[5];
    r.version_revision = load16(p + 6);
    r.options = load32(p + 8);
    r.chunk_size = load32(p + 12);
    if (r.chunk_size == 0) r.chunk_size = kVariableChunkSize;
    r.special_evlr_count = static_cast<int64_t>(load64(p + 16));
    r.special_evlr_offset = static_cast<int64_t>(load64(p + 24));
    const uint16_t count = load16(p + 32);
    if (kLaszipFixedBytes + count * kLaszipItemBytes > size)
        return "the LASzip record lists " + std::to_string(count) + " items but has room for " +
               std::to_string((size - kLaszipFixedBytes) / kLaszipItemBytes);
    r.items.clear();
    for (uint16_t i = 0; i < count; ++i) {
        const uint8_t *q = p + kLaszipFixedBytes + i * kLaszipItemBytes;
        r.items.push_back({load16(q), load16(q + 2), load16(q + 4)});
    }
    return "";
}

std::string check_laszip_record(const LaszipRecord &r, uint8_t point_format, uint16_t record_length) {
    if (r.compressor < kPointwise || r.compressor > kLayeredChunked)
        return "unknown LASzip compressor " + std::to_string(r.compressor);
    if (r.coder != kArithmeticCoder) return "unknown LASzip coder " + std::to_string(r.coder);
    if (r.items.empty()) return "the LASzip record lists no items";

    uint32_t total = 0;
    for (const Item &item : r.items) {
        const uint16_t fixed = fixed_size(item.type);
        const bool extra = item.type == kByte || item.type == kByte14;
        if (!extra && fixed == 0)
            return "item type " + std::to_string(item.type) + " version " + std::to_string(item.version) +
                   " cannot be read";
        if ((extra && item.size == 0) || (!extra && item.size != fixed))
            return "item type " + std::to_string(item.type) + " size " + std::to_string(item.size) +
                   " cannot be read";
        if (!version_readable(item, r.compressor))
            return "item type " + std::to_string(item.type) + " version " + std::to_string(item.version) +
                   " cannot be read" + (r.compressor == kLayeredChunked ? " in layered chunks" : "");
        total += item.size;
    }
    if (total != record_length)
        return "the LASzip items make records of " + std::to_string(total) + " bytes, not the " +
               std::to_string(record_length) + " of the LAS header";

    if (point_format >= sizeof kFormatItems / sizeof kFormatItems[0])
        return "point format " + std::to_string(point_format) + " cannot be decompressed";
    const FormatItems &want = kFormatItems[point_format];
    size_t i = 0;
    for (; i < r.items.size() && static_cast<int>(i) < want.count; ++i)
        if (r.items[i].type != want.types[i]) break;
    bool fits = static_cast<int>(i) == want.count;
    for (; fits && i < r.items.size(); ++i)
        fits = r.items[i].type == (point_format < 6 ? kByte : kByte14);
    if (!fits) return "the LASzip items do not make records of point format " + std::to_string(point_format);
    return "";
}

}  // namespace laz
