// gpstime11, version 1: the GPS time as a 64-bit integer, predicted from the
// last integer difference times a small multiplier, or stored whole when no
// multiplier reaches it.
#pragma once

#include "integer_decoder.h"
#include "item_common.h"

namespace laz {

class GpsTime11V1 {
 public:
    // Multipliers 0 to kMultiMax - 3; kMultiMax - 2 says the time is stored whole.
    static constexpr uint32_t kMultiMax = 512;

    GpsTime11V1();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        if (last_diff_ == 0) {
            const uint32_t code = dec.decode_symbol(zero_diff_);
            if (code == 1) {
                last_diff_ = times_.decode(dec, 0, 0);
                last_ += static_cast<uint64_t>(static_cast<int64_t>(last_diff_));
            } else if (code == 2) {
                last_ = dec.read_int64();
            }
        } else {
            const uint32_t multi = dec.decode_symbol(multi_);
            if (multi < kMultiMax - 2) {
                int32_t diff;
                const int32_t m = static_cast<int32_t>(multi);
                if (multi == 1) {
                    diff = times_.decode(dec, last_diff_, 1);
                    last_diff_ = diff;
                    extremes_ = 0;
                } else if (multi == 0) {
                    diff = times_.decode(dec, last_diff_ / 4, 2);
                    if (++extremes_ > 3) {
                        last_diff_ = diff;
                        extremes_ = 0;
                    }
                } else {
                    diff = times_.decode(dec, wrap_mul(m, last_diff_), multi < 10 ? 3 : multi < 50 ? 4 : 5);
                    if (multi == kMultiMax - 3 && ++extremes_ > 3) {
                        last_diff_ = diff;
                        extremes_ = 0;
                    }
                }
                last_ += static_cast<uint64_t>(static_cast<int64_t>(diff));
            } else if (multi < kMultiMax - 1) {
                last_ = dec.read_int64();
            }
        }
        store64(out, last_);
    }

 private:
    uint64_t last_ = 0;
    int32_t last_diff_ = 0;
    int32_t extremes_ = 0;
    SymbolModel multi_, zero_diff_;
    IntegerDecoder times_;
};

}  // namespace laz
