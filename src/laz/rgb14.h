// The colour items of the layered chunk (versions 3 and 4): red, green and
// blue (6 bytes) in one layer, and near infrared (2 more bytes) in a second.
#pragma once

#include "arithmetic_decoder.h"
#include "layered_chunk.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace laz {

class Rgb14Decoder {
 public:
    // With `nir`, the item is red, green, blue and near infrared.
    Rgb14Decoder(uint16_t version, bool nir);
    Rgb14Decoder(Rgb14Decoder &&) noexcept;
    ~Rgb14Decoder();

    uint32_t layers() const { return nir_ ? 2 : 1; }
    void first(const uint8_t *record, uint32_t context);
    void start_layer(uint32_t layer, const uint8_t *data, size_t size);
    void decode(uint8_t *record, uint32_t context);
    bool damaged() const;

    struct Colour {
        uint16_t red, green, blue, nir;
    };
    static_assert(sizeof(Colour) == 8, "the colour item's bytes, near infrared last");

 private:
    struct Models;
    void start_models(uint32_t context);
    ContextSwitch switch_;
    bool nir_;
    ArithmeticDecoder layer_[2];
    bool present_[2] = {};
    Colour last_[kContexts] = {};
    std::unique_ptr<Models> models_[kContexts];  // made when first used, reset when a later chunk uses them
};

}  // namespace laz
