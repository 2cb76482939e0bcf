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
    // The next record, into `record`.
    void decode(ArithmeticDecoder &dec, uint8_t *record) {
        for (Slot &slot : slots_) std::visit([&](auto &item) { item.decode(dec, record + slot.offset); }, slot.item);
    }

 private:
    using AnyItem = std::variant<Point10V1, Point10V2, GpsTime11V1, GpsTime11V2, Rgb12V1, Rgb12V2, ByteV1, ByteV2,
                                 WavePacket13V1>;
    struct Slot {
        uint32_t offset;
        AnyItem item;
    };
    std::vector<Slot> slots_;
    uint32_t record_length_ = 0;
};

// Decodes one chunk of compressor 2: `points` records into `records` from the
// chunk's bytes; false when the bytes do not hold its points. Never reads
// outside [data, data + size).
bool decode_pointwise_chunk(PointwiseDecoder &decoder, const uint8_t *data, size_t size, uint32_t points,
                            uint8_t *records);

}  // namespace laz
