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
//
// Every point writes up to twelve of these numbers, so they are built from
// digit tables and integer arithmetic rather than a general conversion.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

inline constexpr int kGpsTimeWidth = 16;
inline constexpr int kGpsTimeDecimals = 8;

namespace dbf_text_detail {

// Numbers as text, for one memory copy per group of digits: two digits and
// four digits with leading zeros; three and four places right-aligned with
// blanks; and -1 to -99 right-aligned in three places (negative3[k] is -k).
struct DigitTables {
    char pairs[100][2];
    char zero4[10000][4];
    char blank4[10000][4];
    char blank3[1000][3];
    char negative3[100][3];
};

constexpr DigitTables make_digit_tables() {
    DigitTables t{};
    for (int v = 0; v < 10000; ++v) {
        const char digits[4] = {static_cast<char>('0' + v / 1000), static_cast<char>('0' + v / 100 % 10),
                                static_cast<char>('0' + v / 10 % 10), static_cast<char>('0' + v % 10)};
        const int leading = v >= 1000 ? 0 : v >= 100 ? 1 : v >= 10 ? 2 : 3;  // blanks of the aligned text
        for (int k = 0; k < 4; ++k) {
            t.zero4[v][k] = digits[k];
            t.blank4[v][k] = k < leading ? ' ' : digits[k];
            if (v < 1000 && k > 0) t.blank3[v][k - 1] = t.blank4[v][k];
            if (v < 100 && k > 1) t.pairs[v][k - 2] = digits[k];
        }
        if (v < 100) {
            t.negative3[v][0] = v >= 10 ? '-' : ' ';
            t.negative3[v][1] = v >= 10 ? digits[2] : '-';
            t.negative3[v][2] = digits[3];
        }
    }
    return t;
}

inline constexpr DigitTables kDigits = make_digit_tables();

// The number of digits of `v`, below 10000.
constexpr int digits_below_10000(uint32_t v) { return 1 + (v >= 10) + (v >= 100) + (v >= 1000); }

inline constexpr uint64_t kPow10[17] = {1,
                                        10,
                                        100,
                                        1000,
                                        10000,
                                        100000,
                                        1000000,
                                        10000000,
                                        100000000,
                                        1000000000,
                                        10000000000,
                                        100000000000,
                                        1000000000000,
                                        10000000000000,
                                        100000000000000,
                                        1000000000000000,
                                        10000000000000000};

// The digits of `v` (below 10^count), exactly `count` of them with leading
// zeros, ending just before `end`; returns where they begin.
inline char *put_digits_before(char *end, uint32_t v, int count) {
    for (; count >= 2; count -= 2) {
        end -= 2;
        std::memcpy(end, kDigits.pairs[v % 100], 2);
        v /= 100;
    }
    if (count > 0) *--end = static_cast<char>('0' + v);
    return end;
}

// The digits of `v`, as many as it has (one for zero), ending just before `end`.
inline char *put_number_before(char *end, uint64_t v) {
    for (; v >= 100000000; v /= 100) {  // only integer parts of more than eight digits
        end -= 2;
        std::memcpy(end, kDigits.pairs[v % 100], 2);
    }
    uint32_t w = static_cast<uint32_t>(v);
    for (; w >= 100; w /= 100) {
        end -= 2;
        std::memcpy(end, kDigits.pairs[w % 100], 2);
    }
    if (w >= 10) {
        end -= 2;
        std::memcpy(end, kDigits.pairs[w], 2);
    } else {
        *--end = static_cast<char>('0' + w);
    }
    return end;
}

__extension__ typedef unsigned __int128 Wide;

// round(m x 2^e x 10^d) for a double's significand m (below 2^53) and
// exponent e with m x 2^e below 10^16, and 0 <= d <= 8: printf's rounding of
// the exact binary value, half-way cases to the even neighbour. The result is
// below 10^24, hence the 128-bit arithmetic: m x 5^d < 2^72, and the power of
// two then left to apply is at most 2^9.
inline Wide scaled_by_power_of_ten(uint64_t m, int e, int d) {
    const Wide x = Wide{m} * (kPow10[d] >> d);  // 10^d = 5^d x 2^d
    const int shift = e + d;
    if (shift >= 0) return x << shift;
    const int s = -shift;
    if (s >= 100) return 0;  // x < 2^72 is far below half of 2^s
    const Wide q = x >> s;
    bool up;
    if (s < 64) {  // the usual case; the part shifted out fits 64 bits
        const uint64_t rest = static_cast<uint64_t>(x) & ((uint64_t{1} << s) - 1), half = uint64_t{1} << (s - 1);
        up = rest > half || (rest == half && (q & 1) != 0);
    } else {
        const Wide rest = x & ((Wide{1} << s) - 1), half = Wide{1} << (s - 1);
        up = rest > half || (rest == half && (q & 1) != 0);
    }
    return q + (up ? 1 : 0);
}

// round(magnitude x 10^8), half-way cases to even, into `n` by one
// multiplication and one conversion, for a magnitude below 10^7; false when
// it cannot be had that way (NaN and infinities included). The product y is the exact one rounded to a
// double, and rounding is monotonic, so the nearest integer to y is the
// nearest to the exact product unless y lies half-way between two integers,
// where the exact product may lie on either side: that case is left to
// scaled_by_power_of_ten.
inline bool quick_eight_decimals(double magnitude, uint64_t &n) {
#if defined(__SSE2__)
    if (!(magnitude < 1e7)) return false;
    const double y = magnitude * 1e8;  // below 10^15 < 2^53: integers near it are exact doubles
    // Rounds to nearest, half-way to even, in the default rounding mode.
    const long long k = _mm_cvtsd_si64(_mm_set_sd(y));
    const double off = y - static_cast<double>(k);  // exact (the two are within 1/2 of each other)
    if (std::fabs(off) == 0.5) return false;
    n = static_cast<uint64_t>(k);
    return true;
#else
    (void)magnitude;
    (void)n;
    return false;
#endif
}

// The usual GPS time text, `n` units of 10^-8 (below 10^15, or 10^14 with a
// sign), in fixed places: up to seven integer digits (at most six after a
// sign), the point at 7, then eight decimals, in groups of four digits.
inline void put_eight_decimals(char *at, uint64_t n, bool negative) {
    static_assert(kGpsTimeWidth == 16 && kGpsTimeDecimals == 8, "the places below");
    std::memset(at, ' ', kGpsTimeWidth);  // the digits overwrite all but the leading blanks
    const uint64_t whole = n / kPow10[8];
    const auto decimals = static_cast<uint32_t>(n % kPow10[8]);
    std::memcpy(at + 8, kDigits.zero4[decimals / 10000], 4);
    std::memcpy(at + 12, kDigits.zero4[decimals % 10000], 4);
    at[7] = '.';
    const auto low = static_cast<uint32_t>(whole % 10000), high = static_cast<uint32_t>(whole / 10000);
    if (high == 0) {
        std::memcpy(at + 3, kDigits.blank4[low], 4);
        if (negative) at[6 - digits_below_10000(low)] = '-';
    } else {
        std::memcpy(at + 3, kDigits.zero4[low], 4);
        std::memcpy(at, kDigits.blank3[high], 3);
        if (negative) at[2 - digits_below_10000(high)] = '-';
    }
}

// `text` of `length` characters right-aligned in the GPS time's 16 places.
inline void put_right_aligned(char *at, const char *text, size_t length) {
    std::memset(at, ' ', kGpsTimeWidth - length);
    std::memcpy(at + (kGpsTimeWidth - length), text, length);
}

}  // namespace dbf_text_detail

// `value` right-aligned in `width` places (1 to 10). Inlined into each
// column's writer, where the width is a constant and only its own branch
// is left: a call per column cost the table a third of its time.
[[gnu::always_inline]] inline void put_integer(char *at, int width, int32_t value) {
    using dbf_text_detail::kDigits;
    // The columns' widths, for values that fit: straight from the tables.
    if (width == 1 && value >= 0 && value < 10) {
        *at = static_cast<char>('0' + value);
        return;
    }
    if (width == 3 && value >= 0 && value < 1000) {
        std::memcpy(at, kDigits.blank3[value], 3);
        return;
    }
    if (width == 3 && value < 0 && value > -100) {
        std::memcpy(at, kDigits.negative3[-value], 3);
        return;
    }
    if (width == 5 && value >= 0 && value < 100000) {
        const uint32_t high = static_cast<uint32_t>(value) / 10000, low = static_cast<uint32_t>(value) % 10000;
        *at = high > 0 ? static_cast<char>('0' + high) : ' ';
        std::memcpy(at + 1, high > 0 ? kDigits.zero4[low] : kDigits.blank4[low], 4);
        return;
    }
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

namespace dbf_text_detail {

// The GPS times that quick_eight_decimals does not place: every other text
// of the rules above.
[[gnu::noinline]] inline void put_gps_time_otherwise(char *at, double value) {
    const bool negative = std::signbit(value);  // printf writes "-0.00000000" for -0.0 and tiny negatives
    const double magnitude = std::fabs(value);
    // With d > 0 decimals the text is the sign, the integer digits, the point
    // and d digits, so it fits when the number of units of 10^-d is below
    // 10^(15 - sign); without decimals, below 10^(16 - sign).
    const int sign = negative ? 1 : 0;
    if (!std::isfinite(value)) {
        const char *text = std::isnan(value) ? (std::signbit(value) ? "-nan" : "nan")
                                             : (std::signbit(value) ? "-inf" : "inf");
        put_right_aligned(at, text, std::strlen(text));
        return;
    }
    // 10^16 and more has at least 17 integer digits: no text fits.
    if (magnitude < 1e16) {
        uint64_t bits;
        std::memcpy(&bits, &magnitude, sizeof bits);
        const int biased = static_cast<int>(bits >> 52);
        const uint64_t fraction = bits & ((uint64_t{1} << 52) - 1);
        const uint64_t m = biased == 0 ? fraction : fraction | (uint64_t{1} << 52);
        const int e = (biased == 0 ? 1 : biased) - 1075;
        const Wide units = scaled_by_power_of_ten(m, e, kGpsTimeDecimals);
        if (units < kPow10[15 - sign]) {
            put_eight_decimals(at, static_cast<uint64_t>(units), negative);
            return;
        }
        for (int d = kGpsTimeDecimals - 1; d >= 0; --d) {
            const Wide fewer = scaled_by_power_of_ten(m, e, d);
            if (fewer >= kPow10[(d > 0 ? 15 : 16) - sign]) continue;
            const uint64_t n = static_cast<uint64_t>(fewer);
            std::memset(at, ' ', kGpsTimeWidth);  // the digits overwrite all but the leading blanks
            char *p = at + kGpsTimeWidth;
            if (d > 0) {
                p = put_digits_before(p, static_cast<uint32_t>(n % kPow10[d]), d);
                *--p = '.';
            }
            p = put_number_before(p, n / kPow10[d]);
            if (negative) *--p = '-';
            return;
        }
    }
    std::memset(at, '*', kGpsTimeWidth);
}

}  // namespace dbf_text_detail

// The GPS time in its 16 places (see above).
inline void put_gps_time(char *at, double value) {
    using namespace dbf_text_detail;
    const bool negative = std::signbit(value);
    uint64_t quick;  // units of 10^-8; with a sign, the text fits below 10^14, without, below 10^15
    if (quick_eight_decimals(std::fabs(value), quick) && quick < kPow10[15 - (negative ? 1 : 0)]) {
        put_eight_decimals(at, quick, negative);
        return;
    }
    put_gps_time_otherwise(at, value);
}
