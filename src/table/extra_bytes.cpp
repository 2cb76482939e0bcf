#include "extra_bytes.h"

#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

constexpr int kPlainTypes = 10;

// Bytes of data types 1 to 10, and the widest text of the integer ones.
constexpr uint32_t kTypeSize[kPlainTypes + 1] = {0, 1, 1, 2, 2, 4, 4, 8, 8, 4, 8};
constexpr int kIntegerWidth[9] = {0, 3, 4, 5, 6, 10, 11, 20, 20};
// Floating types' places, whatever their scale.
constexpr int kFloatWidth = 20, kFloatDecimals = 6;
constexpr int kDoubleWidth = 24, kDoubleDecimals = 8;
// The widest dBASE field.
constexpr int kMaxWidth = 254;
constexpr int kMaxDecimals = 10;
constexpr size_t kMaxName = 10;

// The room a descriptor of `type` takes (0: a type that cannot be laid out).
// Type 0 is `options` undocumented bytes; 11 to 20 and 21 to 30 are the
// deprecated two- and three-element arrays of types 1 to 10.
uint32_t room_of(uint8_t type, uint8_t options) {
    if (type == 0) return options;
    if (type <= kPlainTypes) return kTypeSize[type];
    if (type <= 2 * kPlainTypes) return 2 * kTypeSize[type - kPlainTypes];
    if (type <= 3 * kPlainTypes) return 3 * kTypeSize[type - 2 * kPlainTypes];
    return 0;
}

bool is_taken(const std::vector<std::string> &taken, const std::string &name) {
    for (const std::string &t : taken)
        if (same_column_name(t, name)) return true;
    return false;
}

// The descriptor's name made a dBASE column name: letters, digits and '_'
// only, starting with a letter, at most ten characters, and not one of
// `taken` (a clash gets "_2", "_3", ... in its last places).
std::string column_name(const char (&raw)[32], const std::vector<std::string> &taken) {
    std::string name(raw, strnlen(raw, sizeof raw));
    for (char &c : name)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '_') c = '_';
    if (name.empty()) name = "Extra";
    if (!std::isalpha(static_cast<unsigned char>(name[0]))) name = "X" + name;
    if (name.size() > kMaxName) name.resize(kMaxName);
    for (unsigned k = 2; is_taken(taken, name); ++k) {
        const std::string suffix = "_" + std::to_string(k);
        name = name.substr(0, kMaxName - suffix.size()) + suffix;
    }
    return name;
}

// Whether x is written exactly, to within 10^-6, with `d` decimals.
bool whole_with_decimals(double x, int d) {
    const double scaled = x * std::pow(10.0, d);
    return std::fabs(scaled - std::nearbyint(scaled)) <= 1e-6;
}

// The characters of `value` with `decimals` decimals as printf writes it.
int text_length(double value, int decimals) { return std::snprintf(nullptr, 0, "%.*f", decimals, value); }

// The lowest and highest raw value of an integer type.
void range_of(ExtraType t, double &lo, double &hi) {
    switch (t) {
        case ExtraType::U8: lo = 0; hi = 255; break;
        case ExtraType::I8: lo = -128; hi = 127; break;
        case ExtraType::U16: lo = 0; hi = 65535; break;
        case ExtraType::I16: lo = -32768; hi = 32767; break;
        case ExtraType::U32: lo = 0; hi = 4294967295.0; break;
        case ExtraType::I32: lo = -2147483648.0; hi = 2147483647.0; break;
        case ExtraType::U64: lo = 0; hi = 18446744073709551615.0; break;
        default: lo = -9223372036854775808.0; hi = 9223372036854775807.0; break;
    }
}

// Width and decimals of a column (false when its scale or offset is unusable).
bool place_column(ExtraColumn &c) {
    if (c.type == ExtraType::F32 || c.type == ExtraType::F64) {
        c.width = c.type == ExtraType::F32 ? kFloatWidth : kDoubleWidth;
        c.decimals = c.type == ExtraType::F32 ? kFloatDecimals : kDoubleDecimals;
        return std::isfinite(c.scale) && std::isfinite(c.offset);
    }
    if (!c.scaled) {
        c.width = kIntegerWidth[static_cast<int>(c.type)];
        c.decimals = 0;
        return true;
    }
    if (!std::isfinite(c.scale) || !std::isfinite(c.offset)) return false;
    int d = 0;
    while (d < kMaxDecimals && !(whole_with_decimals(c.scale, d) && whole_with_decimals(c.offset, d))) ++d;
    double lo, hi;
    range_of(c.type, lo, hi);
    const double a = lo * c.scale + c.offset, b = hi * c.scale + c.offset;
    if (!std::isfinite(a) || !std::isfinite(b)) return false;
    const double largest = std::fabs(a) > std::fabs(b) ? std::fabs(a) : std::fabs(b);
    const int width = text_length(largest, d) + (a < 0 || b < 0 ? 1 : 0);
    c.width = width < kMaxWidth ? width : kMaxWidth;
    c.decimals = d;
    return true;
}

}  // namespace

bool same_column_name(const std::string &a, const std::string &b) {
    if (a.size() != b.size()) return false;
    for (size_t k = 0; k < a.size(); ++k)
        if (std::toupper(static_cast<unsigned char>(a[k])) != std::toupper(static_cast<unsigned char>(b[k])))
            return false;
    return true;
}

ExtraColumns extra_columns_of(const std::vector<uint8_t> &data, uint32_t standard_length, uint32_t record_length,
                              const std::vector<std::string> &taken) {
    ExtraColumns columns;
    if (data.empty() || data.size() % sizeof(ExtraBytesDescriptor) != 0) return {};
    std::vector<std::string> names = taken;
    uint64_t at = standard_length;
    for (size_t k = 0; k < data.size(); k += sizeof(ExtraBytesDescriptor)) {
        ExtraBytesDescriptor d;
        std::memcpy(&d, data.data() + k, sizeof d);
        const uint32_t room = room_of(d.data_type, d.options);
        if (room == 0 && d.data_type != 0) return {};
        if (at + room > record_length) return {};
        if (d.data_type >= 1 && d.data_type <= kPlainTypes) {
            ExtraColumn c{};
            c.type = static_cast<ExtraType>(d.data_type);
            c.at = static_cast<uint32_t>(at);
            c.scaled = (d.options & (kScaleIsValid | kOffsetIsValid)) != 0;
            c.scale = (d.options & kScaleIsValid) != 0 ? d.scale : 1.0;
            c.offset = (d.options & kOffsetIsValid) != 0 ? d.offset : 0.0;
            c.options = d.options;
            c.has_no_data = (d.options & kNoDataIsValid) != 0;
            std::memcpy(c.no_data, d.no_data, sizeof c.no_data);
            if (!place_column(c)) return {};
            c.name = column_name(d.name, names);
            names.push_back(c.name);
            columns.push_back(c);
        }
        at += room;
    }
    return columns;
}

int extra_width(const ExtraColumns &columns) {
    int width = 0;
    for (const ExtraColumn &c : columns) width += c.width;
    return width;
}
