// point10, version 1: x and y predicted by the median of the last three
// differences, z by the last z, the other fields coded when a mask says they
// changed.
#pragma once

#include "integer_decoder.h"
#include "point10.h"

namespace laz {

class Point10V1 {
 public:
    Point10V1();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        const int32_t dx = dx_.decode(dec, median3(x_diffs_));
        last_.x = wrap_add(last_.x, dx);
        uint32_t k = dx_.k();
        const int32_t dy = dy_.decode(dec, median3(y_diffs_), k < 19 ? k : 19);
        last_.y = wrap_add(last_.y, dy);
        k = (k + dy_.k()) / 2;
        last_.z = dz_.decode(dec, last_.z, k < 19 ? k : 19);

        const uint32_t changed = dec.decode_symbol(changed_);
        if (changed != 0) {
            if (changed & 32) last_.intensity = static_cast<uint16_t>(intensity_.decode(dec, last_.intensity));
            if (changed & 16) last_.returns = static_cast<uint8_t>(dec.decode_symbol(returns_[last_.returns]));
            if (changed & 8)
                last_.classification = static_cast<uint8_t>(dec.decode_symbol(classification_[last_.classification]));
            if (changed & 4) last_.scan_angle = static_cast<uint8_t>(scan_angle_.decode(dec, last_.scan_angle, k < 3));
            if (changed & 2) last_.user_data = static_cast<uint8_t>(dec.decode_symbol(user_data_[last_.user_data]));
            if (changed & 1) last_.source = static_cast<uint16_t>(source_.decode(dec, last_.source));
        }
        x_diffs_[next_] = dx;
        y_diffs_[next_] = dy;
        next_ = next_ == 2 ? 0 : next_ + 1;
        last_.store(out);
    }

 private:
    static int32_t median3(const int32_t d[3]) {
        if (d[0] < d[1]) return d[1] < d[2] ? d[1] : d[0] < d[2] ? d[2] : d[0];
        return d[0] < d[2] ? d[0] : d[1] < d[2] ? d[2] : d[1];
    }

    Point10 last_{};
    int32_t x_diffs_[3] = {0, 0, 0}, y_diffs_[3] = {0, 0, 0};
    uint32_t next_ = 0;
    IntegerDecoder dx_, dy_, dz_, intensity_, scan_angle_, source_;
    SymbolModel changed_;
    ByteModelsByValue returns_, classification_, user_data_;
};

}  // namespace laz
