// Text of the dBASE numeric columns, right-aligned in their width, formatted
// without printf but with exactly the text printf gives ("%Nd", "%16.8f").
//
// A value wider than its column is not allowed to spill over the next one:
// - an integer that needs more places than the width is written as that many
//   '*', the dBASE text for a numeric NULL (in practice only scan angles below
//   -99 in the 3-wide ScanAngleRank);
// - a GPS time whose "%16.8f" text is longer than 16 characters is written
//   with the most decimals, 7 down to 0, whose text fits; if none fits, as 16
//   '*'. NaN and infinities keep printf's text ("nan", "-nan", "inf", "-inf").
#pragma once

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstring>

inline constexpr int kGpsTimeWidth = 16;
inline constexpr int kGpsTimeDecimals = 8;

// `value` right-aligned in `width` places (1 to 10).
inline void put_integer(char *at, int width, int32_t value) {
    char digits[12];
    int n = 0;
    uint32_t magnitude = value < 0 ? 0u - static_cast<uint32_t>(value) : static_cast<uint32_t>(value);
    do {
        digits[n++] = static_cast<char>('0' + magnitude % 10);
        magnitude /= 10;
    } while (magnitude != 0);
    if (value < 0) digits[n++] = '-';
    if (n > width) {
        std::memset(at, '*', static_cast<size_t>(width));
        return;
    }
    std::memset(at, ' ', static_cast<size_t>(width - n));
    for (int k = 0; k < n; ++k) at[width - 1 - k] = digits[k];
}

// `text` of `length` characters right-aligned in the GPS time's 16 places.
inline void put_right_aligned(char *at, const char *text, size_t length) {
    std::memset(at, ' ', kGpsTimeWidth - length);
    std::memcpy(at + (kGpsTimeWidth - length), text, length);
}

// The GPS time in its 16 places (see above).
inline void put_gps_time(char *at, double value) {
    if (!std::isfinite(value)) {
        const char *text = std::isnan(value) ? (std::signbit(value) ? "-nan" : "nan")
                                             : (std::signbit(value) ? "-inf" : "inf");
        put_right_aligned(at, text, std::strlen(text));
        return;
    }
    // Fixed notation of a double has at most 309 integer digits.
    char text[330];
    for (int decimals = kGpsTimeDecimals; decimals >= 0; --decimals) {
        const std::to_chars_result r =
            std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals);
        const size_t length = static_cast<size_t>(r.ptr - text);
        if (length <= kGpsTimeWidth) {
            put_right_aligned(at, text, length);
            return;
        }
        // Fewer decimals cannot shorten an integer part that is too long already.
        const size_t integer_part = length - static_cast<size_t>(decimals) - (decimals > 0 ? 1 : 0);
        if (integer_part > kGpsTimeWidth) break;
    }
    std::memset(at, '*', kGpsTimeWidth);
}
