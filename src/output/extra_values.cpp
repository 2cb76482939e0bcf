#include "extra_values.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

bool is_integer(ExtraType t) { return t < ExtraType::F32; }
bool is_signed(ExtraType t) {
    return t == ExtraType::I8 || t == ExtraType::I16 || t == ExtraType::I32 || t == ExtraType::I64;
}

template <typename T>
T load(const unsigned char *p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

void put_null(char *at, int width) { std::memset(at, '*', static_cast<size_t>(width)); }

// `text` of `length` characters right-aligned in `width` places, or a NULL
// when it is wider.
void put_text(char *at, int width, const char *text, int length) {
    if (length < 0 || length > width) {
        put_null(at, width);
        return;
    }
    std::memset(at, ' ', static_cast<size_t>(width - length));
    std::memcpy(at + (width - length), text, static_cast<size_t>(length));
}

void put_unsigned(char *at, int width, uint64_t v, bool negative) {
    char digits[21];
    char *p = digits + sizeof digits;
    do {
        *--p = static_cast<char>('0' + v % 10);
        v /= 10;
    } while (v != 0);
    if (negative) *--p = '-';
    put_text(at, width, p, static_cast<int>(digits + sizeof digits - p));
}

// The raw value times the scale, then plus the offset, each only where the
// descriptor's options say so: one rounding per operation.
double scaled_value(const ExtraColumn &c, double raw) {
    double value = raw;
    if ((c.options & kScaleIsValid) != 0) value = value * c.scale;
    if ((c.options & kOffsetIsValid) != 0) value = value + c.offset;
    return value;
}

}  // namespace

void put_extra_value(char *at, const ExtraColumn &c, const unsigned char *record) {
    const unsigned char *p = record + c.at;
    if (is_integer(c.type)) {
        // Every integer type widened to its 64-bit kind, as no_data is stored.
        uint64_t u = 0;
        int64_t s = 0;
        switch (c.type) {
            case ExtraType::U8: u = p[0]; break;
            case ExtraType::I8: s = static_cast<int8_t>(p[0]); break;
            case ExtraType::U16: u = load<uint16_t>(p); break;
            case ExtraType::I16: s = load<int16_t>(p); break;
            case ExtraType::U32: u = load<uint32_t>(p); break;
            case ExtraType::I32: s = load<int32_t>(p); break;
            case ExtraType::U64: u = load<uint64_t>(p); break;
            default: s = load<int64_t>(p); break;
        }
        const bool sign = is_signed(c.type);
        if (c.has_no_data && (sign ? s == load<int64_t>(c.no_data) : u == load<uint64_t>(c.no_data))) {
            put_null(at, c.width);
            return;
        }
        if (!c.scaled) {
            if (!sign) put_unsigned(at, c.width, u, false);
            else put_unsigned(at, c.width, s < 0 ? 0 - static_cast<uint64_t>(s) : static_cast<uint64_t>(s), s < 0);
            return;
        }
        const double value = scaled_value(c, sign ? static_cast<double>(s) : static_cast<double>(u));
        char text[400];
        put_text(at, c.width, text, std::snprintf(text, sizeof text, "%.*f", c.decimals, value));
        return;
    }
    const double raw = c.type == ExtraType::F32 ? static_cast<double>(load<float>(p)) : load<double>(p);
    if ((c.has_no_data && raw == load<double>(c.no_data)) || !std::isfinite(raw)) {
        put_null(at, c.width);
        return;
    }
    const double value = scaled_value(c, raw);
    if (!std::isfinite(value)) {
        put_null(at, c.width);
        return;
    }
    // Long enough for any finite double's digits; a longer text is a NULL anyway.
    char text[400];
    put_text(at, c.width, text, std::snprintf(text, sizeof text, "%.*f", c.decimals, value));
}
