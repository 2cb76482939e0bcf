#include "pointwise_chunk.h"

#include <cstring>
#include <stdexcept>
#include <tuple>
#include <utility>

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
    choose_if_these<Point10V2>() || choose_if_these<Point10V2, GpsTime11V2>() ||
        choose_if_these<Point10V2, Rgb12V2>() || choose_if_these<Point10V2, GpsTime11V2, Rgb12V2>();
}

void PointwiseDecoder::any_items(PointwiseDecoder &d, ArithmeticDecoder &dec, uint8_t *records, uint64_t count) {
    for (uint64_t i = 0; i < count; ++i, records += d.record_length_)
        for (Slot &slot : d.slots_)
            std::visit([&](auto &item) { item.decode(dec, records + slot.offset); }, slot.item);
}

template <typename... Items, size_t... I>
void PointwiseDecoder::these_items_at(PointwiseDecoder &d, ArithmeticDecoder &dec, uint8_t *records, uint64_t count,
                                      std::index_sequence<I...>) {
    const std::tuple<Items &...> items{std::get<Items>(d.slots_[I].item)...};
    const uint32_t offsets[] = {d.slots_[I].offset...};
    ArithmeticDecoder::State s = dec.hold();  // in registers for the whole run
    for (uint64_t i = 0; i < count; ++i, records += d.record_length_)
        (std::get<I>(items).decode(dec, s, records + offsets[I]), ...);
    dec.put(s);
}

template <typename... Items>
void PointwiseDecoder::these_items(PointwiseDecoder &d, ArithmeticDecoder &dec, uint8_t *records, uint64_t count) {
    these_items_at<Items...>(d, dec, records, count, std::index_sequence_for<Items...>{});
}

template <typename... Items>
bool PointwiseDecoder::choose_if_these() {
    if (slots_.size() != sizeof...(Items)) return false;
    size_t k = 0;
    if (!(std::holds_alternative<Items>(slots_[k++].item) && ...)) return false;
    loop_ = these_items<Items...>;
    return true;
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
    decoder.decode(dec, records + length, points - 1);
    // The encoder ends a stream with as many bytes as the decoder reads
    // ahead: a chunk that holds other points than it is said to hold leaves
    // bytes unread or reads past its end.
    return !dec.overrun() && dec.unread() == 0;
}

}  // namespace laz
