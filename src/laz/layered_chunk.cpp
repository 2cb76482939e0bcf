#include "layered_chunk.h"

#include "byte14.h"
#include "item_common.h"
#include "point14.h"
#include "rgb14.h"
#include "wavepacket14.h"

#include <cstring>
#include <memory>
#include <variant>

namespace laz {
namespace {

bool layered_version(uint16_t version) { return version == 3 || version == 4; }

}  // namespace

// The decoders of one list of items. Their models are made as chunks first
// need them and kept for later chunks, which start them over: a file's chunks
// are decoded without allocating anew for each.
class LayeredDecoder {
 public:
    // The decoders of `items`, or none when the layered chunk cannot hold them.
    static std::unique_ptr<LayeredDecoder> of(const std::vector<Item> &items) {
        if (items.empty() || items[0].type != kPoint14 || items[0].size != sizeof(Point14Record) ||
            !layered_version(items[0].version))
            return nullptr;
        std::unique_ptr<LayeredDecoder> d(new LayeredDecoder(items));
        for (size_t i = 1; i < items.size(); ++i) {
            const Item &it = items[i];
            if (!layered_version(it.version)) return nullptr;
            if (it.type == kRgb14 && it.size == 6) {
                d->stages_.push_back({Rgb14Decoder(it.version, false), d->record_size_});
            } else if (it.type == kRgbNir14 && it.size == 8) {
                d->stages_.push_back({Rgb14Decoder(it.version, true), d->record_size_});
            } else if (it.type == kWavePacket14 && it.size == sizeof(WavePacketRecord)) {
                d->stages_.push_back({WavePacket14Decoder(it.version), d->record_size_});
            } else if (it.type == kByte14 && it.size != 0) {
                d->stages_.push_back({Byte14Decoder(it.version, it.size), d->record_size_});
            } else {
                return nullptr;
            }
            d->record_size_ += it.size;
        }
        return d;
    }

    bool decodes(const std::vector<Item> &items) const {
        if (items.size() != items_.size()) return false;
        for (size_t i = 0; i < items.size(); ++i)
            if (items[i].type != items_[i].type || items[i].size != items_[i].size ||
                items[i].version != items_[i].version)
                return false;
        return true;
    }

    bool decode(const uint8_t *data, size_t size, uint32_t points, uint8_t *records);

 private:
    explicit LayeredDecoder(const std::vector<Item> &items) : items_(items), point_(items[0].version) {}

    using Follower = std::variant<Rgb14Decoder, Byte14Decoder, WavePacket14Decoder>;
    // An item after the point, and where its bytes lie in the record.
    struct Stage {
        Follower decoder;
        uint32_t offset;
    };

    std::vector<Item> items_;
    Point14Decoder point_;
    std::vector<Stage> stages_;
    uint32_t record_size_ = sizeof(Point14Record);
};

bool LayeredDecoder::decode(const uint8_t *data, size_t size, uint32_t points, uint8_t *records) {
    if (points == 0) return true;

    // The first point raw, then the point count.
    size_t at = 0;
    if (size < record_size_ + 4u) return false;
    std::memcpy(records, data, record_size_);
    const uint32_t context = point_.first(records);
    for (Stage &s : stages_) std::visit([&](auto &d) { d.first(records + s.offset, context); }, s.decoder);
    at += record_size_;
    if (load32(data + at) != points) return false;
    at += 4;

    // The layers' byte counts, then the layers, item by item.
    uint32_t layers = Point14Decoder::layers();
    for (Stage &s : stages_) layers += std::visit([](auto &d) { return d.layers(); }, s.decoder);
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
    if (!hand_over(point_)) return false;
    for (Stage &s : stages_)
        if (!std::visit(hand_over, s.decoder)) return false;
    if (at != size) return false;
    // A chunk of one point reads nothing from its layers, which may be empty.
    if (points == 1) return true;

    for (uint32_t p = 1; p < points; ++p) {
        uint8_t *record = records + size_t{p} * record_size_;
        const uint32_t ctx = point_.decode(record);
        for (Stage &s : stages_) std::visit([&](auto &d) { d.decode(record + s.offset, ctx); }, s.decoder);
    }
    if (point_.damaged()) return false;
    for (Stage &s : stages_)
        if (std::visit([](auto &d) { return d.damaged(); }, s.decoder)) return false;
    return true;
}

LayeredDecoders::LayeredDecoders() = default;
LayeredDecoders::~LayeredDecoders() = default;

bool decode_layered_chunk(LayeredDecoders &decoders, const std::vector<Item> &items, const uint8_t *data,
                          size_t size, uint32_t points, uint8_t *records) {
    std::unique_ptr<LayeredDecoder> &kept = decoders.kept;
    if (!kept || !kept->decodes(items)) {
        kept = LayeredDecoder::of(items);
        if (!kept) return false;
    }
    return kept->decode(data, size, points, records);
}

bool decode_layered_chunk(const std::vector<Item> &items, const uint8_t *data, size_t size, uint32_t points,
                          uint8_t *records) {
    LayeredDecoders decoders;
    return decode_layered_chunk(decoders, items, data, size, points, records);
}

}  // namespace laz
