// What the items of LAS 1.0 to 1.3 share: little-endian access to a record's
// bytes, the byte arithmetic of the predictors, the contexts drawn from a
// point's return number and count, and the running median of five.
#pragma once

#include "arithmetic_decoder.h"

#include <cstdint>
#include <memory>

namespace laz {

inline uint16_t load16(const uint8_t *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
inline uint32_t load32(const uint8_t *p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 | static_cast<uint32_t>(p[2]) << 16 |
           static_cast<uint32_t>(p[3]) << 24;
}
inline uint64_t load64(const uint8_t *p) { return load32(p) | static_cast<uint64_t>(load32(p + 4)) << 32; }
inline void store16(uint8_t *p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v);
    p[1] = static_cast<uint8_t>(v >> 8);
}
inline void store32(uint8_t *p, uint32_t v) {
    store16(p, v);
    store16(p + 2, v >> 16);
}
inline void store64(uint8_t *p, uint64_t v) {
    store32(p, static_cast<uint32_t>(v));
    store32(p + 4, static_cast<uint32_t>(v >> 32));
}

// A byte predicted plus a byte's correction, wrapped into a byte.
inline uint8_t fold_byte(int32_t v) { return static_cast<uint8_t>(v); }
// A prediction held to a byte's range.
inline int32_t clamp_byte(int32_t v) { return v <= 0 ? 0 : v >= 255 ? 255 : v; }

// Sum of two 32-bit integers as the encoder computed it, wrapping.
inline int32_t wrap_add(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}
inline int32_t wrap_mul(int32_t a, int32_t b) {
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

// The context of a point among 16, by its number of returns n (row) and its
// return number r (column), both 0 to 7 as the 3-bit fields hold them. Single
// returns, firsts, lasts and intermediates of each count get their own; the
// combinations that no well-formed file has share the high contexts.
inline constexpr uint8_t kReturnContext[8][8] = {
    {15, 14, 13, 12, 11, 10, 9, 8},   {14, 0, 1, 3, 6, 10, 10, 9},    {13, 1, 2, 4, 7, 11, 11, 10},
    {12, 3, 4, 5, 8, 12, 12, 11},     {11, 6, 7, 8, 9, 13, 13, 12},   {10, 10, 11, 12, 13, 14, 14, 13},
    {9, 10, 11, 12, 13, 14, 15, 14},  {8, 9, 10, 11, 12, 13, 14, 15},
};
// The height context among 8: how far the return is from the last, |n - r|.
inline uint32_t return_level(uint32_t n, uint32_t r) { return n > r ? n - r : r - n; }

// The context of X/Y differences for a number of returns n (row) and a return
// number r (column), 0 to 5: the layered point's fixed table, of four bits each.
inline constexpr uint8_t kReturnMap14[16][16] = {
    {0, 1, 2, 3, 4, 5, 3, 4, 4, 5, 5, 5, 5, 5, 5, 5}, {1, 0, 1, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3, 3},
    {2, 1, 2, 4, 4, 4, 4, 4, 4, 4, 4, 3, 3, 3, 3, 3}, {3, 3, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4},
    {3, 3, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4, 4}, {4, 3, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4, 4},
    {4, 3, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4, 4}, {5, 3, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4, 4},
    {5, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 4, 4, 4, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 4, 4, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4, 4}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5, 4},
    {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5, 5}, {5, 3, 3, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 4, 5, 5},
};

// The median of the last five values added, kept sorted, with the side to
// replace next alternating so that old values leave: from the high side the
// largest leaves, and the side turns once a value arrives at or above the
// median; from the low side the smallest, turning once one arrives at or
// below it. Without branches: where a value falls follows no pattern.
class Median5 {
 public:
    void reset() {
        for (auto &v : v_) v = 0;
        high_ = 1;
    }
    int32_t get() const { return v_[2]; }
    void add(int32_t x) {
        const uint32_t low = high_ ^ 1u;
        const int32_t *w = v_ + low;  // the four that stay, sorted
        const int32_t a = w[0], b = w[1], c = w[2], d = w[3];
        high_ = static_cast<int64_t>(x) < static_cast<int64_t>(v_[2]) + low;  // x < median, or x <= median
        v_[0] = min(a, x);
        v_[1] = min(b, max(a, x));
        v_[2] = min(c, max(b, x));
        v_[3] = min(d, max(c, x));
        v_[4] = max(d, x);
    }

 private:
    static int32_t min(int32_t a, int32_t b) { return b < a ? b : a; }
    static int32_t max(int32_t a, int32_t b) { return a < b ? b : a; }
    int32_t v_[5] = {0, 0, 0, 0, 0};
    uint32_t high_ = 1;
};

// 256 byte models chosen by the byte's previous value, made when first used
// and kept (reset) across chunks.
class ByteModelsByValue {
 public:
    SymbolModel &operator[](uint8_t previous) {
        auto &m = models_[previous];
        if (!m) m = std::make_unique<SymbolModel>(256);
        return *m;
    }
    void reset() {
        for (auto &m : models_)
            if (m) m->reset();
    }

 private:
    std::unique_ptr<SymbolModel> models_[256];
};

}  // namespace laz
