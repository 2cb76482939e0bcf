// The layered chunk of LAS 1.4 point formats 6 to 10.
//
// A chunk holds its first point raw (every item's bytes, in item order), then
// the chunk's point count (32 bits), then the byte count of every layer (32
// bits each, item by item), then the layers themselves in the same order. Each
// layer is an arithmetic-coded stream of its own: the point item splits into
// nine (returns and X/Y, Z, classification, flags, intensity, scan angle, user
// data, point source, GPS time), colour into one and NIR into another, each
// extra byte into one, the wave packet into one. A layer of zero bytes is a
// field that never changed within the chunk: it keeps the first point's value.
//
// The point item keeps four sets of models and predictions, one per scanner
// channel, and names the channel each point uses (its context); the other
// items follow that context with models and last values of their own.
#pragma once

#include "laszip_record.h"
#include "point14.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

namespace laz {

class LayeredDecoder;

// The decoders of the items that one thread decoded last, kept for its next chunk: a file's chunks are
// decoded without allocating anew for each. Each decoding thread owns one (not a thread_local: some
// systems' threads end without running such destructors safely).
class LayeredDecoders {
 public:
    LayeredDecoders();
    ~LayeredDecoders();
    std::unique_ptr<LayeredDecoder> kept;
};

// Decodes one layered chunk: `points` records of the items' total size into `records`; false when the
// chunk's bytes do not hold its points. Never reads outside [data, data + size).
bool decode_layered_chunk(LayeredDecoders &decoders, const std::vector<Item> &items, const uint8_t *data,
                          size_t size, uint32_t points, uint8_t *records);
// The same with decoders of its own.
bool decode_layered_chunk(const std::vector<Item> &items, const uint8_t *data, size_t size,
                          uint32_t points, uint8_t *records);

// How an item other than the point follows the point's context: which
// context's models code a point and which context's last value predicts it.
// A context is born with a copy of the last value in use. In version 3 a
// switch back to a context already born still predicts that one point from
// the value in use before the switch; version 4 predicts from the context's
// own value.
class ContextSwitch {
 public:
    explicit ContextSwitch(uint16_t version) : own_value_on_return_(version >= 4) {}

    // The chunk's first point, in `context`.
    void first(uint32_t context) {
        for (bool &b : born_) b = false;
        born_[context] = true;
        current_ = context;
    }

    // Whether the chunk has used `context` yet.
    bool born(uint32_t context) const { return born_[context]; }

    // Enters `context` for the next point and returns the index of the last
    // value that predicts it; `last` holds one value per context.
    template <typename Value>
    uint32_t enter(uint32_t context, Value *last) {
        uint32_t predictor = current_;
        if (context != current_) {
            current_ = context;
            if (!born_[context]) {
                born_[context] = true;
                last[context] = last[predictor];
                predictor = context;
            } else if (own_value_on_return_) {
                predictor = context;
            }
        }
        return predictor;
    }

 private:
    bool own_value_on_return_;
    bool born_[kContexts] = {};
    uint32_t current_ = 0;
};

}  // namespace laz
