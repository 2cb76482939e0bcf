// byte (extra bytes), version 2: each byte's difference from its last value
// as a symbol of the byte's own model.
#pragma once

#include "item_common.h"

#include <vector>

namespace laz {

class ByteV2 {
 public:
    explicit ByteV2(uint32_t count);
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        for (size_t i = 0; i < last_.size(); ++i) {
            last_[i] = fold_byte(static_cast<int32_t>(last_[i] + dec.decode_symbol(models_[i])));
            out[i] = last_[i];
        }
    }

 private:
    std::vector<uint8_t> last_;
    std::vector<SymbolModel> models_;
};

}  // namespace laz
