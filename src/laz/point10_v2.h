// point10, version 2: the fields that changed are coded first, and their
// return number and count choose the contexts of the rest: x and y are
// predicted by the median of the last five differences of points of the same
// return context, z by the last z of the same return level.
#pragma once

#include "integer_decoder.h"
#include "point10.h"

namespace laz {

class Point10V2 {
 public:
    Point10V2();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        ArithmeticDecoder::State s = dec.hold();
        decode(dec, s, out);
        dec.put(s);
    }
    // The same for a caller that holds the coder's state (ArithmeticDecoder::hold).
    [[gnu::always_inline]] void decode(ArithmeticDecoder &dec, ArithmeticDecoder::State &s, uint8_t *out) {
        const uint32_t changed = dec.decode_symbol(changed_, s);
        uint32_t r, n, m, l;
        if (changed != 0) {
            if (changed & 32) last_.returns = static_cast<uint8_t>(dec.decode_symbol(returns_[last_.returns], s));
            r = last_.return_number();
            n = last_.return_count();
            m = kReturnContext[n][r];
            l = return_level(n, r);
            if (changed & 16) {
                last_.intensity =
                    static_cast<uint16_t>(intensity_.decode_inlined(dec, s, intensities_[m], m < 3 ? m : 3));
                intensities_[m] = last_.intensity;
            } else {
                last_.intensity = intensities_[m];
            }
            if (changed & 8)
                last_.classification =
                    static_cast<uint8_t>(dec.decode_symbol(classification_[last_.classification], s));
            if (changed & 4) {
                const uint32_t d = dec.decode_symbol(scan_angle_[last_.scan_direction()], s);
                last_.scan_angle = fold_byte(static_cast<int32_t>(d + last_.scan_angle));
            }
            if (changed & 2) last_.user_data = static_cast<uint8_t>(dec.decode_symbol(user_data_[last_.user_data], s));
            if (changed & 1) last_.source = static_cast<uint16_t>(source_.decode(dec, s, last_.source));
        } else {
            r = last_.return_number();
            n = last_.return_count();
            m = kReturnContext[n][r];
            l = return_level(n, r);
            last_.intensity = intensities_[m];
        }

        const int32_t dx = dx_.decode_inlined(dec, s, x_medians_[m].get(), n == 1);
        last_.x = wrap_add(last_.x, dx);
        x_medians_[m].add(dx);

        uint32_t k = dx_.k();
        const int32_t dy = dy_.decode_inlined(dec, s, y_medians_[m].get(), (n == 1) + (k < 20 ? k & ~1u : 20));
        last_.y = wrap_add(last_.y, dy);
        y_medians_[m].add(dy);

        k = (dx_.k() + dy_.k()) / 2;
        last_.z = dz_.decode_inlined(dec, s, heights_[l], (n == 1) + (k < 18 ? k & ~1u : 18));
        heights_[l] = last_.z;

        last_.store(out);
    }

 private:
    Point10 last_{};
    uint16_t intensities_[16] = {};
    Median5 x_medians_[16], y_medians_[16];
    int32_t heights_[8] = {};
    SymbolModel changed_;
    IntegerDecoder intensity_;
    SymbolModel scan_angle_[2];
    IntegerDecoder source_, dx_, dy_, dz_;
    ByteModelsByValue returns_, classification_, user_data_;
};

}  // namespace laz
