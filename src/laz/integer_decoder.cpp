#include "integer_decoder.h"

#include <climits>

namespace laz {

IntegerDecoder::IntegerDecoder(uint32_t bits, uint32_t contexts, uint32_t bits_high, uint32_t range)
    : bits_high_(bits_high) {
    if (range != 0) {
        // As many bits as the range needs; a power of two needs one less.
        uint32_t n = 0;
        for (uint32_t r = range; r != 0; r >>= 1) ++n;
        if (range == (1u << (n - 1))) --n;
        bits_ = n;
        range_ = range;
        min_ = -static_cast<int32_t>(range / 2);
    } else if (bits != 0 && bits < 32) {
        bits_ = bits;
        range_ = 1u << bits;
        min_ = -static_cast<int32_t>(range_ / 2);
    } else {
        bits_ = 32;
        range_ = 0;
        min_ = INT32_MIN;
    }
    classes_.assign(contexts, SymbolModel(bits_ + 1));
    for (uint32_t i = 1; i <= bits_ && i < 32; ++i)
        high_.emplace_back(i <= bits_high_ ? 1u << i : 1u << bits_high_);
    class_epochs_.assign(classes_.size(), 0);
    high_epochs_.assign(high_.size(), 0);
}

int32_t IntegerDecoder::corrector(ArithmeticDecoder &dec, SymbolModel &classes) {
    ArithmeticDecoder::State s = dec.hold();
    const int32_t c = corrected(dec, s, classes);
    dec.put(s);
    return c;
}

void IntegerDecoder::reset() {
    zero_class_.reset();
    ++epoch_;  // every symbol model is reset when next used
}

}  // namespace laz
