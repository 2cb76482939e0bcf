// The integer corrector: an integer is coded as its difference from a
// prediction. The difference's magnitude class k (the number of bits it
// needs) is a symbol of one of several contexts' models; within the class, the
// high bits (at most bits_high of them) are a symbol of the class's model and
// the rest are raw bits. Classes above zero hold the differences
// [-(2^k - 1), -2^(k-1)] and [2^(k-1), 2^k - 1]; class 0 holds 0 and 1.
// Sums wrap into the corrector's range, as the encoder wrapped them.
#pragma once

#include "arithmetic_decoder.h"

#include <cstdint>
#include <vector>

namespace laz {

class IntegerDecoder {  // the integer corrector
 public:
    IntegerDecoder(uint32_t bits = 16, uint32_t contexts = 1, uint32_t bits_high = 8, uint32_t range = 0);
    void reset();  // fresh models, as at a chunk's start

    int32_t decode(ArithmeticDecoder &dec, int32_t predicted, uint32_t context = 0) {
        return wrapped(predicted, corrector(dec, fresh(classes_[context], class_epochs_[context])));
    }
    // The same for a caller that holds the coder's state (ArithmeticDecoder::hold).
    int32_t decode(ArithmeticDecoder &dec, ArithmeticDecoder::State &s, int32_t predicted, uint32_t context = 0) {
        dec.put(s);
        const int32_t real = decode(dec, predicted, context);
        s = dec.hold();
        return real;
    }
    // The same again, decoded in the caller's own code: for the few
    // correctors of every point, whose state then stays in registers and
    // whose branches are predicted apart from the others'.
    [[gnu::always_inline]] int32_t decode_inlined(ArithmeticDecoder &dec, ArithmeticDecoder::State &s,
                                                  int32_t predicted, uint32_t context = 0) {
        return wrapped(predicted, corrected(dec, s, fresh(classes_[context], class_epochs_[context])));
    }
    uint32_t k() const { return k_; }  // the corrector's magnitude class of the last decode

 private:
    int32_t wrapped(int32_t predicted, int32_t correction) const {
        uint32_t real = static_cast<uint32_t>(predicted) + static_cast<uint32_t>(correction);
        if (range_ != 0) {  // wrap into [0, range); a 32-bit corrector wraps by itself
            if (static_cast<int32_t>(real) < 0) real += range_;
            else if (real >= range_) real -= range_;
        }
        return static_cast<int32_t>(real);
    }
    // Out of line: most correctors are decoded here.
    int32_t corrector(ArithmeticDecoder &dec, SymbolModel &classes);
    // The class is stored last, so that no store between the decisions
    // could be the coder's state, for all the compiler knows.
    [[gnu::always_inline]] int32_t corrected(ArithmeticDecoder &dec, ArithmeticDecoder::State &s,
                                             SymbolModel &classes) {
        const uint32_t k = dec.decode_symbol(classes, s);
        uint32_t c;
        if (k == 0) {
            c = dec.decode_bit(zero_class_, s);
        } else if (k >= 32) {
            c = static_cast<uint32_t>(min_);
        } else {
            SymbolModel &high = fresh(high_[k - 1], high_epochs_[k - 1]);
            if (k <= bits_high_) {
                c = dec.decode_symbol(high, s);
            } else {
                const uint32_t low_bits = k - bits_high_;
                c = dec.decode_symbol(high, s) << low_bits;
                c |= dec.read_bits(low_bits, s);
            }
            // The upper half of the class is positive (c + 1), the lower half
            // negative (c - (2^k - 1)); chosen without a branch, as the sign
            // follows no pattern.
            c = c + 1 - (all_when(c < (1u << (k - 1))) & (1u << k));
        }
        k_ = k;
        return static_cast<int32_t>(c);
    }

    // A model is reset when a chunk first uses it: most of a corrector's
    // models go unused in a small chunk, and resetting them all costs more
    // than decoding its points.
    SymbolModel &fresh(SymbolModel &m, uint32_t &epoch) {
        if (epoch != epoch_) {
            m.reset();
            epoch = epoch_;
        }
        return m;
    }

    uint32_t bits_ = 16, bits_high_ = 8;
    uint32_t epoch_ = 0;  // counts the resets; a model of an older one is stale
    uint32_t range_ = 0;  // 0: the whole 32-bit range
    int32_t min_ = 0;
    uint32_t k_ = 0;
    std::vector<SymbolModel> classes_;  // per context: the magnitude class, bits_ + 1 symbols
    BitModel zero_class_;               // class 0: the difference 0 or 1
    std::vector<SymbolModel> high_;     // class k (from 1): its high bits
    std::vector<uint32_t> class_epochs_, high_epochs_;
};

}  // namespace laz
