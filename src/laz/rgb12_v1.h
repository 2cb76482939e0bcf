// rgb12, version 1: each byte of the three 16-bit colours that changed,
// predicted by its last value.
#pragma once

#include "integer_decoder.h"
#include "item_common.h"

namespace laz {

class Rgb12V1 {
 public:
    Rgb12V1();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        const uint32_t changed = dec.decode_symbol(changed_);
        for (uint32_t i = 0; i < 6; ++i)  // low byte of red, high byte of red, ... as they lie
            if (changed & (1u << i)) last_[i] = static_cast<uint8_t>(bytes_.decode(dec, last_[i], i));
        for (uint32_t i = 0; i < 6; ++i) out[i] = last_[i];
    }

 private:
    uint8_t last_[6] = {};
    SymbolModel changed_;
    IntegerDecoder bytes_;
};

}  // namespace laz
