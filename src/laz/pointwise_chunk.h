// Points of LAS 1.0-1.3 formats coded point by point: the first point of a
// chunk (or of the whole stream) lies raw, the others follow in one
// arithmetic-coded stream in which each point's items are coded in turn.
#pragma once

#include "arithmetic_decoder.h"
#include "byte_v1.h"
#include "byte_v2.h"
#include "gpstime11_v1.h"
#include "gpstime11_v2.h"
#include "laszip_record.h"
#include "point10_v1.h"
#include "point10_v2.h"
#include "rgb12_v1.h"
#include "rgb12_v2.h"
#include "wavepacket13_v1.h"

#include <utility>
#include <variant>
#include <vector>

namespace laz {

// The decoders of one point record's items, in record order.
class PointwiseDecoder {
 public:
    // `items` as check_laszip_record accepts them for compressors 1 and 2.
    explicit PointwiseDecoder(const std::vector<Item> &items);
    uint32_t record_length() const { return record_length_; }

    // Starts over from a raw first record, with fresh models.
    void init(const uint8_t *first);
    // The next `count` records, into `records`.
    void decode(ArithmeticDecoder &dec, uint8_t *records, uint64_t count) { loop_(*this, dec, records, count); }

 private:
    using AnyItem = std::variant<Point10V1, Point10V2, GpsTime11V1, GpsTime11V2, Rgb12V1, Rgb12V2, ByteV1, ByteV2,
                                 WavePacket13V1>;
    struct Slot {
        uint32_t offset;
        AnyItem item;
    };
    using Loop = void (*)(PointwiseDecoder &, ArithmeticDecoder &, uint8_t *, uint64_t);
    // The records' loop: any items through the variant, or the items of the
    // LAS 1.0-1.2 point formats called directly.
    static void any_items(PointwiseDecoder &d, ArithmeticDecoder &dec, uint8_t *records, uint64_t count);
    template <typename... Items>
    static void these_items(PointwiseDecoder &d, ArithmeticDecoder &dec, uint8_t *records, uint64_t count);
    template <typename... Items, size_t... I>
    static void these_items_at(PointwiseDecoder &d, ArithmeticDecoder &dec, uint8_t *records, uint64_t count,
                               std::index_sequence<I...>);
    template <typename... Items>
    bool choose_if_these();

    std::vector<Slot> slots_;
    uint32_t record_length_ = 0;
    Loop loop_ = any_items;
};

// Decodes one chunk of compressor 2: `points` records into `records` from the
// chunk's bytes; false when the bytes do not hold its points. Never reads
// outside [data, data + size).
bool decode_pointwise_chunk(PointwiseDecoder &decoder, const uint8_t *data, size_t size, uint32_t points,
                            uint8_t *records);

}  // namespace laz
