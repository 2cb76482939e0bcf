#include "json.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace json {

const Value *Value::find(const char *key) const {
    if (kind != Kind::object) return nullptr;
    for (const auto &m : members)
        if (m.first == key) return &m.second;
    return nullptr;
}

namespace {

// A recursive-descent reader over [p, end). Every read of a byte checks the
// position first; a fault is recorded once, with the byte it was found at
// (counted from 1), and every caller returns at once.
struct Reader {
    const char *start, *p, *end;
    std::string why;

    bool fail(const std::string &what, const char *at) {
        why = what + " at byte " + std::to_string(at - start + 1);
        return false;
    }
    bool unexpected() {
        if (p == end) {
            why = "unexpected end of text";
            return false;
        }
        return fail("unexpected character", p);
    }

    void blanks() {
        while (p != end && (*p == ' ' || *p == '\t' || *p == '\n' || *p == '\r')) ++p;
    }

    // The rest of `word`, whose first letter is at p.
    bool literal(const char *word) {
        for (; *word != '\0'; ++word, ++p)
            if (p == end || *p != *word) return unexpected();
        return true;
    }

    bool value(Value &v, int depth);
    bool string(std::string &s);
    bool number(double &d);
    bool hex4(uint32_t &u);
};

void put_utf8(std::string &s, uint32_t c) {
    if (c < 0x80) {
        s += static_cast<char>(c);
    } else if (c < 0x800) {
        s += static_cast<char>(0xC0 | (c >> 6));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        s += static_cast<char>(0xE0 | (c >> 12));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        s += static_cast<char>(0xF0 | (c >> 18));
        s += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        s += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        s += static_cast<char>(0x80 | (c & 0x3F));
    }
}

bool Reader::hex4(uint32_t &u) {
    if (end - p < 4) return fail("short \\u escape", p);
    u = 0;
    for (int i = 0; i < 4; ++i) {
        const char c = p[i];
        u <<= 4;
        if (c >= '0' && c <= '9') u |= static_cast<uint32_t>(c - '0');
        else if (c >= 'a' && c <= 'f') u |= static_cast<uint32_t>(c - 'a' + 10);
        else if (c >= 'A' && c <= 'F') u |= static_cast<uint32_t>(c - 'A' + 10);
        else return fail("bad \\u escape", p + i);
    }
    p += 4;
    return true;
}

// At the opening quote.
bool Reader::string(std::string &s) {
    ++p;
    for (;;) {
        if (p == end) return unexpected();
        const unsigned char c = static_cast<unsigned char>(*p);
        if (c == '"') {
            ++p;
            return true;
        }
        if (c < 0x20) return fail("control character in a string", p);
        if (c != '\\') {
            s += static_cast<char>(c);
            ++p;
            continue;
        }
        const char *escape = p++;
        if (p == end) return unexpected();
        switch (*p++) {
            case '"': s += '"'; break;
            case '\\': s += '\\'; break;
            case '/': s += '/'; break;
            case 'b': s += '\b'; break;
            case 'f': s += '\f'; break;
            case 'n': s += '\n'; break;
            case 'r': s += '\r'; break;
            case 't': s += '\t'; break;
            case 'u': {
                uint32_t u = 0;
                if (!hex4(u)) return false;
                if (u >= 0xDC00 && u <= 0xDFFF) return fail("unpaired surrogate", escape);
                if (u >= 0xD800 && u <= 0xDBFF) {
                    // A high surrogate must be followed by the escape of a low one.
                    if (end - p < 2 || p[0] != '\\' || p[1] != 'u') return fail("unpaired surrogate", escape);
                    p += 2;
                    uint32_t low = 0;
                    if (!hex4(low)) return false;
                    if (low < 0xDC00 || low > 0xDFFF) return fail("unpaired surrogate", escape);
                    u = 0x10000 + ((u - 0xD800) << 10) + (low - 0xDC00);
                }
                put_utf8(s, u);
                break;
            }
            default: return fail("bad escape", escape);
        }
    }
}

// JSON's grammar: -?(0|[1-9][0-9]*)(.[0-9]+)?([eE][+-]?[0-9]+)?. A number
// whose digits make an integer of at most 2^53 and whose decimal exponent
// is within 22 is that integer times or over an exact power of ten, one
// correctly rounded operation, as strtod would round it (coordinates as
// files write them, mostly); any other is converted by strtod from a copy
// of its span.
bool Reader::number(double &d) {
    static constexpr double kPowers[] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,  1e8,  1e9,  1e10, 1e11,
                                         1e12, 1e13, 1e14, 1e15, 1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};
    constexpr uint64_t kExact = uint64_t{1} << 53;
    const char *first = p;
    uint64_t m = 0;
    bool exact = true;
    auto digits = [&](int &count) {
        const char *from = p;
        for (; p != end && *p >= '0' && *p <= '9'; ++p) {
            if (m > (kExact - 9) / 10) exact = false;
            else m = m * 10 + static_cast<uint64_t>(*p - '0');
        }
        count = static_cast<int>(std::min<std::ptrdiff_t>(p - from, 1000));
        return p != from;
    };
    int whole = 0, fraction = 0, exponent = 0;
    const bool negative = p != end && *p == '-';
    if (negative) ++p;
    if (p != end && *p == '0') ++p;
    else if (!digits(whole)) return unexpected();
    if (p != end && *p == '.') {
        ++p;
        if (!digits(fraction)) return unexpected();
    }
    if (p != end && (*p == 'e' || *p == 'E')) {
        ++p;
        const bool down = p != end && *p == '-';
        if (p != end && (*p == '+' || *p == '-')) ++p;
        const char *from = p;
        for (; p != end && *p >= '0' && *p <= '9'; ++p)
            if (exponent < 100000) exponent = exponent * 10 + (*p - '0');
        if (p == from) return unexpected();
        if (down) exponent = -exponent;
    }
    const int e = exponent - fraction;
    if (exact && e >= -22 && e <= 22) {
        const double v = static_cast<double>(m);
        d = e >= 0 ? v * kPowers[e] : v / kPowers[-e];
        if (negative) d = -d;
    } else {
        const std::string copy(first, p);
        d = std::strtod(copy.c_str(), nullptr);
    }
    if (!std::isfinite(d)) return fail("number out of range", first);
    return true;
}

// An array of kind `numbers` made an array of values.
void values_of_numbers(Value &v) {
    v.kind = Value::Kind::array;
    v.items.resize(v.numbers.size());
    for (size_t i = 0; i < v.numbers.size(); ++i) {
        v.items[i].kind = Value::Kind::number;
        v.items[i].number = v.numbers[i];
    }
    v.numbers = std::vector<double>();
}

// An array of kind `rows` made an array of values of kind `numbers`.
void values_of_rows(Value &v) {
    v.kind = Value::Kind::array;
    v.items.resize(v.numbers.size() / v.width);
    for (size_t i = 0; i < v.items.size(); ++i) {
        v.items[i].kind = Value::Kind::numbers;
        v.items[i].numbers.assign(v.numbers.begin() + static_cast<std::ptrdiff_t>(i * v.width),
                                  v.numbers.begin() + static_cast<std::ptrdiff_t>((i + 1) * v.width));
    }
    v.numbers = std::vector<double>();
    v.width = 0;
}

bool Reader::value(Value &v, int depth) {
    blanks();
    if (p == end) return unexpected();
    switch (*p) {
        case 'n': v.kind = Value::Kind::null; return literal("null");
        case 't': v.kind = Value::Kind::boolean; v.boolean = true; return literal("true");
        case 'f': v.kind = Value::Kind::boolean; v.boolean = false; return literal("false");
        case '"': v.kind = Value::Kind::string; return string(v.string);
        case '[': {
            if (depth == kMostDepth) return fail("nesting deeper than " + std::to_string(kMostDepth), p);
            v.kind = Value::Kind::array;
            ++p;
            blanks();
            if (p != end && *p == ']') {
                ++p;
                return true;
            }
            // Numbers go into `numbers` for as long as every item is one,
            // and rows of them for as long as every item is an array of
            // numbers as long as the first; an item of another kind turns
            // what came before into values.
            v.kind = Value::Kind::numbers;
            Value row;  // an item after the first row, its room kept from row to row
            for (;;) {
                blanks();
                if (p == end) return unexpected();
                const bool digit = *p == '-' || (*p >= '0' && *p <= '9');
                if (v.kind == Value::Kind::numbers && digit) {
                    v.numbers.emplace_back();
                    if (!number(v.numbers.back())) return false;
                } else if (v.kind == Value::Kind::numbers && v.numbers.empty() && *p == '[') {
                    if (!value(row, depth + 1)) return false;
                    if (row.kind == Value::Kind::numbers) {
                        v.kind = Value::Kind::rows;
                        v.width = row.numbers.size();
                        v.numbers = row.numbers;
                    } else {
                        v.kind = Value::Kind::array;
                        v.items.push_back(std::move(row));
                        row = Value();
                    }
                } else if (v.kind == Value::Kind::rows && *p == '[') {
                    row.kind = Value::Kind::null;
                    row.numbers.clear();
                    if (!value(row, depth + 1)) return false;
                    if (row.kind == Value::Kind::numbers && row.numbers.size() == v.width) {
                        v.numbers.insert(v.numbers.end(), row.numbers.begin(), row.numbers.end());
                    } else {
                        values_of_rows(v);
                        v.items.push_back(std::move(row));
                        row = Value();
                    }
                } else {
                    if (v.kind == Value::Kind::numbers) values_of_numbers(v);
                    else if (v.kind == Value::Kind::rows) values_of_rows(v);
                    v.items.emplace_back();
                    if (!value(v.items.back(), depth + 1)) return false;
                }
                blanks();
                if (p != end && *p == ',') {
                    ++p;
                } else if (p != end && *p == ']') {
                    ++p;
                    return true;
                } else {
                    return unexpected();
                }
            }
        }
        case '{': {
            if (depth == kMostDepth) return fail("nesting deeper than " + std::to_string(kMostDepth), p);
            v.kind = Value::Kind::object;
            ++p;
            blanks();
            if (p != end && *p == '}') {
                ++p;
                return true;
            }
            for (;;) {
                blanks();
                if (p == end || *p != '"') return unexpected();
                v.members.emplace_back();
                if (!string(v.members.back().first)) return false;
                blanks();
                if (p == end || *p != ':') return unexpected();
                ++p;
                if (!value(v.members.back().second, depth + 1)) return false;
                blanks();
                if (p != end && *p == ',') {
                    ++p;
                } else if (p != end && *p == '}') {
                    ++p;
                    return true;
                } else {
                    return unexpected();
                }
            }
        }
        default: v.kind = Value::Kind::number; return number(v.number);
    }
}

}  // namespace

bool parse(const std::string &text, Value &out, std::string &why) {
    out = Value();
    Reader r{text.data(), text.data(), text.data() + text.size(), {}};
    bool ok = r.value(out, 0);
    if (ok) {
        r.blanks();
        if (r.p != r.end) ok = r.unexpected();
    }
    if (!ok) {
        why = r.why;
        out = Value();
    }
    return ok;
}

}  // namespace json
