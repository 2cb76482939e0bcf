// The 20-byte core of a LAS 1.0-1.3 point record as the point10 items hold it.
#pragma once

#include "item_common.h"

#include <cstdint>

namespace laz {

inline constexpr uint32_t kPoint10Bytes = 20;

struct Point10 {
    int32_t x, y, z;
    uint16_t intensity;
    uint8_t returns;         // return number (bits 0-2), number of returns (3-5), scan direction (6), edge (7)
    uint8_t classification;
    uint8_t scan_angle;      // signed in the record; the predictors treat it as a byte
    uint8_t user_data;
    uint16_t source;

    uint32_t return_number() const { return returns & 7u; }
    uint32_t return_count() const { return returns >> 3 & 7u; }
    uint32_t scan_direction() const { return returns >> 6 & 1u; }

    void load(const uint8_t *p) {
        x = static_cast<int32_t>(load32(p));
        y = static_cast<int32_t>(load32(p + 4));
        z = static_cast<int32_t>(load32(p + 8));
        intensity = load16(p + 12);
        returns = p[14];
        classification = p[15];
        scan_angle = p[16];
        user_data = p[17];
        source = load16(p + 18);
    }
    void store(uint8_t *p) const {
        store32(p, static_cast<uint32_t>(x));
        store32(p + 4, static_cast<uint32_t>(y));
        store32(p + 8, static_cast<uint32_t>(z));
        store16(p + 12, intensity);
        p[14] = returns;
        p[15] = classification;
        p[16] = scan_angle;
        p[17] = user_data;
        store16(p + 18, source);
    }
};

}  // namespace laz
