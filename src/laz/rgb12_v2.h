// rgb12, version 2: red's bytes predicted by their last values; green's and
// blue's, unless all three are equal, by their last values moved as red's
// (and green's) moved.
#pragma once

#include "item_common.h"

namespace laz {

class Rgb12V2 {
 public:
    Rgb12V2();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        ArithmeticDecoder::State s = dec.hold();
        decode(dec, s, out);
        dec.put(s);
    }
    // The same for a caller that holds the coder's state (ArithmeticDecoder::hold).
    [[gnu::always_inline]] void decode(ArithmeticDecoder &dec, ArithmeticDecoder::State &s, uint8_t *out) {
        const uint32_t used = dec.decode_symbol(used_, s);
        uint32_t c[3];  // red, green, blue
        uint32_t lo = last_[0] & 0xFF, hi = last_[0] >> 8;
        if (used & 1) lo = fold_byte(static_cast<int32_t>(dec.decode_symbol(diff_[0], s) + lo));
        if (used & 2) hi = fold_byte(static_cast<int32_t>(dec.decode_symbol(diff_[1], s) + hi));
        c[0] = hi << 8 | lo;
        if (used & 64) {
            // Low bytes: green follows red's move, blue the mean of red's and green's.
            int32_t diff = static_cast<int32_t>(c[0] & 0xFF) - static_cast<int32_t>(last_[0] & 0xFF);
            uint32_t g = last_[1] & 0xFF, b = last_[2] & 0xFF;
            if (used & 4) g = predicted(dec, s, diff_[2], diff + static_cast<int32_t>(last_[1] & 0xFF));
            if (used & 16) {
                diff = (diff + static_cast<int32_t>(g) - static_cast<int32_t>(last_[1] & 0xFF)) / 2;
                b = predicted(dec, s, diff_[4], diff + static_cast<int32_t>(last_[2] & 0xFF));
            }
            // High bytes alike.
            diff = static_cast<int32_t>(c[0] >> 8) - static_cast<int32_t>(last_[0] >> 8);
            uint32_t gh = last_[1] >> 8, bh = last_[2] >> 8;
            if (used & 8) gh = predicted(dec, s, diff_[3], diff + static_cast<int32_t>(last_[1] >> 8));
            if (used & 32) {
                diff = (diff + static_cast<int32_t>(gh) - static_cast<int32_t>(last_[1] >> 8)) / 2;
                bh = predicted(dec, s, diff_[5], diff + static_cast<int32_t>(last_[2] >> 8));
            }
            c[1] = gh << 8 | g;
            c[2] = bh << 8 | b;
        } else {
            c[1] = c[2] = c[0];
        }
        for (int i = 0; i < 3; ++i) {
            last_[i] = static_cast<uint16_t>(c[i]);
            store16(out + 2 * i, c[i]);
        }
    }

 private:
    [[gnu::always_inline]] static uint32_t predicted(ArithmeticDecoder &dec, ArithmeticDecoder::State &s,
                                                     SymbolModel &m, int32_t prediction) {
        return fold_byte(static_cast<int32_t>(dec.decode_symbol(m, s)) + clamp_byte(prediction));
    }

    uint16_t last_[3] = {};
    SymbolModel used_;
    SymbolModel diff_[6];  // per byte: red low, red high, green low, green high, blue low, blue high
};

}  // namespace laz
