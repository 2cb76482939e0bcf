// gpstime11, version 2: as version 1, with four time sequences kept at once
// (interleaved flight lines), negative multipliers, and whole times coded as
// a new sequence whose high half is predicted from the current one's.
#pragma once

#include "integer_decoder.h"
#include "item_common.h"

namespace laz {

class GpsTime11V2 {
 public:
    // The multiplier symbol: 0 to kMulti for multipliers up to kMulti, then
    // down to kMultiMinus, then "unchanged", "whole time", and three switches
    // to another sequence.
    static constexpr int32_t kMulti = 500;
    static constexpr int32_t kMultiMinus = -10;
    static constexpr uint32_t kUnchanged = kMulti - kMultiMinus + 1;
    static constexpr uint32_t kWhole = kMulti - kMultiMinus + 2;
    static constexpr uint32_t kSymbols = kMulti - kMultiMinus + 6;

    GpsTime11V2();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        ArithmeticDecoder::State s = dec.hold();
        decode(dec, s, out);
        dec.put(s);
    }
    // The same for a caller that holds the coder's state (ArithmeticDecoder::hold).
    [[gnu::always_inline]] void decode(ArithmeticDecoder &dec, ArithmeticDecoder::State &s, uint8_t *out) {
        // A valid stream switches sequence at most once a point; a damaged
        // one may ask for more, which ends here with whatever time it gives.
        for (int switches = 0; switches < 4; ++switches) {
            if (diff_[last_] == 0) {
                const uint32_t code = dec.decode_symbol(zero_diff_, s);
                if (code == 1) {
                    diff_[last_] = times_.decode(dec, s, 0, 0);
                    time_[last_] += static_cast<uint64_t>(static_cast<int64_t>(diff_[last_]));
                    extremes_[last_] = 0;
                } else if (code == 2) {
                    start_sequence(dec, s);
                } else if (code > 2) {
                    last_ = (last_ + code - 2) & 3;
                    continue;
                }
            } else {
                const uint32_t multi = dec.decode_symbol(multi_, s);
                if (multi == 1) {
                    const int32_t diff = times_.decode_inlined(dec, s, diff_[last_], 1);
                    time_[last_] += static_cast<uint64_t>(static_cast<int64_t>(diff));
                    extremes_[last_] = 0;
                } else if (multi < kUnchanged) {
                    time_[last_] += static_cast<uint64_t>(static_cast<int64_t>(multiplied(dec, s, multi)));
                } else if (multi == kWhole) {
                    start_sequence(dec, s);
                } else if (multi > kWhole) {
                    last_ = (last_ + multi - kWhole) & 3;
                    continue;
                }
            }
            break;
        }
        store64(out, time_[last_]);
    }

 private:
    int32_t multiplied(ArithmeticDecoder &dec, ArithmeticDecoder::State &s, uint32_t multi) {
        int32_t diff;
        const int32_t d = diff_[last_];
        if (multi == 0) {
            diff = times_.decode(dec, s, 0, 7);
            count_extreme(diff);
        } else if (multi < static_cast<uint32_t>(kMulti)) {
            diff = times_.decode(dec, s, wrap_mul(static_cast<int32_t>(multi), d), multi < 10 ? 2 : 3);
        } else if (multi == static_cast<uint32_t>(kMulti)) {
            diff = times_.decode(dec, s, wrap_mul(kMulti, d), 4);
            count_extreme(diff);
        } else {
            const int32_t m = kMulti - static_cast<int32_t>(multi);
            if (m > kMultiMinus) {
                diff = times_.decode(dec, s, wrap_mul(m, d), 5);
            } else {
                diff = times_.decode(dec, s, wrap_mul(kMultiMinus, d), 6);
                count_extreme(diff);
            }
        }
        return diff;
    }
    // An extreme multiplier four times running becomes the new difference.
    void count_extreme(int32_t diff) {
        if (++extremes_[last_] > 3) {
            diff_[last_] = diff;
            extremes_[last_] = 0;
        }
    }
    void start_sequence(ArithmeticDecoder &dec, ArithmeticDecoder::State &s) {
        next_ = (next_ + 1) & 3;
        const uint32_t high =
            static_cast<uint32_t>(times_.decode(dec, s, static_cast<int32_t>(time_[last_] >> 32), 8));
        dec.put(s);
        time_[next_] = static_cast<uint64_t>(high) << 32 | dec.read_int();
        s = dec.hold();
        last_ = next_;
        diff_[last_] = 0;
        extremes_[last_] = 0;
    }

    uint32_t last_ = 0, next_ = 0;
    uint64_t time_[4] = {};
    int32_t diff_[4] = {};
    int32_t extremes_[4] = {};
    SymbolModel multi_, zero_diff_;
    IntegerDecoder times_;
};

}  // namespace laz
