#include "pointwise_chunk.h"

#include <cstring>
#include <stdexcept>

namespace laz {

PointwiseDecoder::PointwiseDecoder(const std::vector<Item> &items) {
    for (const Item &item : items) {
        const bool v1 = item.version == 1;
        Slot slot{record_length_, Point10V2()};
        switch (item.type) {
            case kPoint10:
                if (v1) slot.item.emplace<Point10V1>();
                break;
            case kGpsTime11:
                if (v1) slot.item.emplace<GpsTime11V1>();
                else slot.item.emplace<GpsTime11V2>();
                break;
            case kRgb12:
                if (v1) slot.item.emplace<Rgb12V1>();
                else slot.item.emplace<Rgb12V2>();
                break;
            case kByte:
                if (v1) slot.item.emplace<ByteV1>(item.size);
                else slot.item.emplace<ByteV2>(item.size);
                break;
            case kWavePacket13: slot.item.emplace<WavePacket13V1>(); break;
            default: throw std::invalid_argument("not an item of point-wise compression");
        }
        slots_.push_back(std::move(slot));
        record_length_ += item.size;
    }
}

void PointwiseDecoder::init(const uint8_t *first) {
    for (Slot &slot : slots_) std::visit([&](auto &item) { item.init(first + slot.offset); }, slot.item);
}

bool decode_pointwise_chunk(PointwiseDecoder &decoder, const uint8_t *data, size_t size, uint32_t points,
                            uint8_t *records) {
    if (points == 0) return true;
    const uint32_t length = decoder.record_length();
    if (size < length) return false;
    std::memcpy(records, data, length);
    if (points == 1) return true;
    decoder.init(data);
    ArithmeticDecoder dec;
    dec.start(data + length, size - length);
    for (uint32_t i = 1; i < points; ++i) decoder.decode(dec, records + static_cast<size_t>(i) * length);
    // The encoder ends a stream with as many bytes as the decoder reads
    // ahead: a chunk that holds other points than it is said to hold leaves
    // bytes unread or reads past its end.
    return !dec.overrun() && dec.unread() == 0;
}

}  // namespace laz
