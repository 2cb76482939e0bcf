// The extra bytes item of the layered chunk (versions 3 and 4): each byte is
// coded as its difference from the byte before it, in a layer of its own.
#pragma once

#include "arithmetic_decoder.h"
#include "layered_chunk.h"

#include <cstddef>
#include <cstdint>
#include <vector>

namespace laz {

class Byte14Decoder {
 public:
    Byte14Decoder(uint16_t version, uint32_t count);

    uint32_t layers() const { return count_; }
    void first(const uint8_t *record, uint32_t context);
    void start_layer(uint32_t layer, const uint8_t *data, size_t size);
    void decode(uint8_t *record, uint32_t context);
    bool damaged() const;

 private:
    void start_models(uint32_t context);
    ContextSwitch switch_;
    uint32_t count_;
    std::vector<ArithmeticDecoder> layer_;
    std::vector<uint8_t> present_;
    std::vector<uint8_t> last_[kContexts];
    // One model per byte and context, made when first used, reset when a later chunk uses them.
    std::vector<SymbolModel> models_[kContexts];
};

}  // namespace laz
