#include "layered_chunk.h"

#include "byte14.h"
#include "item_common.h"
#include "point14.h"
#include "rgb14.h"
#include "wavepacket14.h"

#include <cstring>
#include <variant>

namespace laz {
namespace {

using Follower = std::variant<Rgb14Decoder, Byte14Decoder, WavePacket14Decoder>;

// An item after the point, and where its bytes lie in the record.
struct Stage {
    Follower decoder;
    uint32_t offset;
};

bool layered_version(uint16_t version) { return version == 3 || version == 4; }

// The decoders of the items after the point, or false for an item that the layered chunk cannot hold.
bool followers_of(const std::vector<Item> &items, std::vector<Stage> &stages, uint32_t &record_size) {
    record_size = sizeof(Point14Record);
    for (size_t i = 1; i < items.size(); ++i) {
        const Item &it = items[i];
        if (!layered_version(it.version)) return false;
        if (it.type == kRgb14 && it.size == 6) {
            stages.push_back({Rgb14Decoder(it.version, false), record_size});
        } else if (it.type == kRgbNir14 && it.size == 8) {
            stages.push_back({Rgb14Decoder(it.version, true), record_size});
        } else if (it.type == kWavePacket14 && it.size == sizeof(WavePacketRecord)) {
            stages.push_back({WavePacket14Decoder(it.version), record_size});
        } else if (it.type == kByte14 && it.size != 0) {
            stages.push_back({Byte14Decoder(it.version, it.size), record_size});
        } else {
            return false;
        }
        record_size += it.size;
    }
    return true;
}

}  // namespace

bool decode_layered_chunk(const std::vector<Item> &items, const uint8_t *data, size_t size, uint32_t points,
                          uint8_t *records) {
    if (items.empty() || items[0].type != kPoint14 || items[0].size != sizeof(Point14Record) ||
        !layered_version(items[0].version))
        return false;
    Point14Decoder point(items[0].version);
    std::vector<Stage> stages;
    uint32_t record_size;
    if (!followers_of(items, stages, record_size)) return false;
    if (points == 0) return true;

    // The first point raw, then the point count.
    size_t at = 0;
    if (size - at < record_size + 4u) return false;
    std::memcpy(records, data, record_size);
    const uint32_t context = point.first(records);
    for (Stage &s : stages) std::visit([&](auto &d) { d.first(records + s.offset, context); }, s.decoder);
    at += record_size;
    if (load32(data + at) != points) return false;
    at += 4;

    // The layers' byte counts, then the layers, item by item.
    uint32_t layers = Point14Decoder::layers();
    for (Stage &s : stages) layers += std::visit([](auto &d) { return d.layers(); }, s.decoder);
    if ((size - at) / 4 < layers) return false;
    const uint8_t *count = data + at;
    at += 4u * layers;
    auto hand_over = [&](auto &d) {
        for (uint32_t i = 0; i < d.layers(); ++i, count += 4) {
            const uint32_t bytes = load32(count);
            if (size - at < bytes) return false;
            d.start_layer(i, data + at, bytes);
            at += bytes;
        }
        return true;
    };
    if (!hand_over(point)) return false;
    for (Stage &s : stages)
        if (!std::visit(hand_over, s.decoder)) return false;
    if (at != size) return false;

    for (uint32_t p = 1; p < points; ++p) {
        uint8_t *record = records + size_t{p} * record_size;
        const uint32_t ctx = point.decode(record);
        for (Stage &s : stages) std::visit([&](auto &d) { d.decode(record + s.offset, ctx); }, s.decoder);
    }
    if (point.damaged()) return false;
    for (Stage &s : stages)
        if (std::visit([](auto &d) { return d.damaged(); }, s.decoder)) return false;
    return true;
}

}  // namespace laz
