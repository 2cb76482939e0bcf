// The point item of the layered chunk (versions 3 and 4): the first 30 bytes
// of every record of LAS 1.4 point formats 6 to 10.
#pragma once

#include "arithmetic_decoder.h"
#include "integer_decoder.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace laz {

// The scanner channels of a point, and so the contexts of a layered chunk.
inline constexpr uint32_t kContexts = 4;

#pragma pack(push, 1)
// The point's bytes as they lie in the record.
struct Point14Record {
    int32_t x, y, z;
    uint16_t intensity;
    uint8_t returns;         // bits 0-3 return number, 4-7 number of returns
    uint8_t flags;           // bits 0-3 classification flags, 4-5 scanner channel, 6 scan direction, 7 edge
    uint8_t classification;
    uint8_t user_data;
    int16_t scan_angle;
    uint16_t point_source;
    uint64_t gps_time;       // the double's bits, as the coder predicts them
};
#pragma pack(pop)
static_assert(sizeof(Point14Record) == 30, "the point item is 30 bytes");
static_assert(offsetof(Point14Record, returns) == 14 && offsetof(Point14Record, scan_angle) == 18 &&
                  offsetof(Point14Record, gps_time) == 22,
              "point item offsets");

class Point14Decoder {
 public:
    // The layers, in the order of their byte counts and bytes.
    enum Layer : uint32_t {
        kReturnsXY, kZ, kClassification, kFlags, kIntensity, kScanAngle, kUserData, kPointSource, kGpsTime,
        kLayers
    };

    explicit Point14Decoder(uint16_t version);
    Point14Decoder(Point14Decoder &&) noexcept;
    ~Point14Decoder();

    static uint32_t layers() { return kLayers; }
    // The chunk's first point, raw: starts the chunk over; returns the point's context for the other items.
    uint32_t first(const uint8_t *record);
    // Hands layer `layer` its bytes; a layer of no bytes is a field that keeps its value.
    void start_layer(uint32_t layer, const uint8_t *data, size_t size);
    // Decodes the next point into `record`; returns the context that the other items of the point use.
    uint32_t decode(uint8_t *record);
    // Whether a layer was read past its end or the GPS time's coding made no sense.
    bool damaged() const;

 private:
    struct Channel;
    void start_channel(uint32_t channel, const Point14Record &from);
    void read_gps_time(Channel &c);

    uint16_t version_;
    uint32_t current_ = 0;
    bool bad_gps_ = false;
    ArithmeticDecoder layer_[kLayers];
    bool present_[kLayers] = {};
    std::unique_ptr<Channel> channel_[kContexts];  // kept from chunk to chunk
    bool started_[kContexts] = {};                 // in this chunk
};

}  // namespace laz
