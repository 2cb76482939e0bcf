// byte (extra bytes), version 1: each byte predicted by its last value
// through an integer corrector with one context per byte.
#pragma once

#include "integer_decoder.h"
#include "item_common.h"

#include <vector>

namespace laz {

class ByteV1 {
 public:
    explicit ByteV1(uint32_t count);
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        for (uint32_t i = 0; i < last_.size(); ++i) {
            last_[i] = static_cast<uint8_t>(bytes_.decode(dec, last_[i], i));
            out[i] = last_[i];
        }
    }

 private:
    std::vector<uint8_t> last_;
    IntegerDecoder bytes_;
};

}  // namespace laz
