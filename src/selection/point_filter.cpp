#include "point_filter.h"

#include "las_model.hpp"
#include "record_types.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <cstring>

namespace {

// Where the return byte and the classification lie, and how they read.
// LAS 1.0 to 1.2 layouts (and formats 0 to 5 of LAS 1.3 and 1.4, written
// through them): return number in bits 0-2 and number of returns in bits 3-5
// of the bitfield; from LAS 1.1 the classification's bits 5 to 7 are the
// synthetic, key-point and withheld flags. Formats 6 to 10: return number in
// bits 0-3 and number of returns in bits 4-7; the whole byte is the class.
static_assert(offsetof(LAS10fm0, bitfield) == 14 && offsetof(LAS10fm0, Classification) == 15 &&
                  offsetof(LAS12fm3, bitfield) == 14 && offsetof(LAS12fm3, Classification) == 15,
              "return byte and class of the LAS 1.0-1.2 layouts");
static_assert(offsetof(LAS14fm6, ReturnByte) == 14 && offsetof(LAS14fm6, Classification) == 16 &&
                  offsetof(LAS14fm8, Classification) == 16,
              "return byte and class of formats 6 to 8");

struct ReturnFields {
    unsigned number, count;
};

ReturnFields returns_of(int type, unsigned byte) {
    if (type >= records::kFirstFormat6Type) return {byte & 0x0Fu, byte >> 4};
    const lidar::ReturnInfo r = lidar::decode_bitfield(static_cast<int8_t>(byte));
    return {static_cast<unsigned>(r.return_number), static_cast<unsigned>(r.number_of_returns)};
}

constexpr uint8_t kClassBitsWithFlags = 0x1F;

int32_t raw_at(const unsigned char *p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

// The grid of squares over the header's extent, when it is sound and small
// enough; without it every square goes into the hash set.
bool place_grid(ThinSquares &t, const double bounds[4]) {
    const double i0 = std::floor(bounds[0] / t.size), j0 = std::floor(bounds[1] / t.size);
    const double i1 = std::floor(bounds[2] / t.size), j1 = std::floor(bounds[3] / t.size);
    if (!(std::isfinite(i0) && std::isfinite(j0) && std::isfinite(i1) && std::isfinite(j1)) || i1 < i0 ||
        j1 < j0 || i1 - i0 >= double(kThinGridBits) || j1 - j0 >= double(kThinGridBits))
        return true;
    const auto columns = static_cast<uint64_t>(i1 - i0) + 1, rows = static_cast<uint64_t>(j1 - j0) + 1;
    if (columns * rows > kThinGridBits) return true;
    // Zeroed pages come from the system untouched: memory grows only where points fall.
    void *bits = std::calloc((columns * rows + 63) / 64, sizeof(uint64_t));
    if (bits == nullptr) return false;
    t.bits = {static_cast<uint64_t *>(bits), std::free};
    t.i0 = i0, t.j0 = j0, t.columns = columns, t.rows = rows;
    return true;
}

// True when (x, y) is the first point in its square, which it then takes.
bool take_square(ThinSquares &t, double x, double y) {
    // +0.0 makes the square of -0.0 the square of 0.0.
    const double i = std::floor(x / t.size) + 0.0, j = std::floor(y / t.size) + 0.0;
    if (t.columns != 0 && i >= t.i0 && j >= t.j0 && i - t.i0 < double(t.columns) && j - t.j0 < double(t.rows)) {
        const uint64_t cell = static_cast<uint64_t>(i - t.i0) * t.rows + static_cast<uint64_t>(j - t.j0);
        uint64_t &word = t.bits.get()[cell / 64];
        const uint64_t bit = uint64_t{1} << (cell % 64);
        if (word & bit) return false;
        word |= bit;
        return true;
    }
    // NaN coordinates give NaN squares: all of them one square.
    uint64_t ki, kj;
    const double ni = std::isnan(i) ? NAN : i, nj = std::isnan(j) ? NAN : j;
    std::memcpy(&ki, &ni, 8);
    std::memcpy(&kj, &nj, 8);
    return t.outside.insert({ki, kj}).second;
}

// The first of the raw values lo..hi (lo <= hi) at which `holds`, false
// before it and true from it on, becomes true; hi + 1 when it never does.
template <typename Holds>
int64_t first_holding(int64_t lo, int64_t hi, Holds holds) {
    ++hi;
    while (lo < hi) {
        const int64_t mid = lo + (hi - lo) / 2;
        if (holds(mid)) hi = mid;
        else lo = mid + 1;
    }
    return lo;
}

// Copies a record over the slot of another: two records of one block are
// the same or lie apart, never partly over each other, so copies of 16 bytes
// in any order do (the last may cover the one before it).
inline void move_record(unsigned char *to, const unsigned char *from, size_t stride) {
    unsigned char piece[16];
    size_t at = 0;
    for (; at + 16 < stride; at += 16) {
        std::memcpy(piece, from + at, 16);
        std::memcpy(to + at, piece, 16);
    }
    std::memcpy(piece, from + stride - 16, 16);
    std::memcpy(to + stride - 16, piece, 16);
}
static_assert(sizeof(LAS10fm0) >= 16, "records span 16 bytes at least");

// Whether a record passes the classes, returns and extent asked for,
// worked out without a branch (`by_value`: the filter's extent_by_value,
// read once by the loop). With a clip, a record that passes the rest is
// tested against its polygons, on the coordinates the shapefile gets.
template <bool Tables, bool Extent, bool Clip>
inline bool passes_tests(const PointFilter &filter, const unsigned char *p, bool by_value) {
    bool passes = true;
    if (Tables) passes = filter.class_passes[p[filter.class_at]] & filter.return_passes[p[filter.return_at]];
    if (Extent) {
        const int32_t rx = raw_at(p + kXAt), ry = raw_at(p + kYAt);
        passes &= (rx >= filter.x_range.lo) & (rx <= filter.x_range.hi) & (ry >= filter.y_range.lo) &
                  (ry <= filter.y_range.hi);
    }
    if (!Extent && !Clip && !by_value) return passes;
    if (!Extent && by_value) {
        const Selection &s = *filter.selection;
        const CoordinateScaling &c = filter.scaling;
        const double x = lidar::scale_coordinate(raw_at(p + kXAt), c.scale[0], c.offset[0]);
        const double y = lidar::scale_coordinate(raw_at(p + kYAt), c.scale[1], c.offset[1]);
        if (s.by_extent) passes &= s.xmin <= x && x <= s.xmax && s.ymin <= y && y <= s.ymax;
    }
    if (Clip && passes) {
        const CoordinateScaling &c = filter.scaling;
        const double x = lidar::scale_coordinate(raw_at(p + kXAt), c.scale[0], c.offset[0]);
        const double y = lidar::scale_coordinate(raw_at(p + kYAt), c.scale[1], c.offset[1]);
        passes = filter.clip->covers(x, y);
    }
    return passes;
}

// The filter's loop, with the coordinates' tests that the selection needs.
// Without thinning, records are taken eight at a time: whether each passes
// is worked out without a branch (the classes and returns of a survey follow
// no pattern that a branch could predict); a group that none passes costs
// nothing more, nor one that all pass while none before was left out (an
// area's rows); in any other group every record is copied to the next slot,
// which only the ones that pass keep.
template <bool Tables, bool Extent, bool Clip, bool Thin>
uint32_t filter_loop(PointFilter &filter, unsigned char *records, size_t stride, uint32_t count) {
    const bool by_value = filter.extent_by_value;
    uint32_t kept = 0, i = 0;
    if (!Thin) {
        constexpr uint32_t kGroup = 8, kAll = (1u << kGroup) - 1;
        for (; count - i >= kGroup; i += kGroup) {
            const unsigned char *g = records + size_t{i} * stride;
            uint32_t passing = 0;
            for (uint32_t j = 0; j < kGroup; ++j)
                passing |= uint32_t{passes_tests<Tables, Extent, Clip>(filter, g + j * stride, by_value)} << j;
            if (passing == 0) continue;
            if (passing == kAll && kept == i) {
                kept += kGroup;
                continue;
            }
            for (uint32_t j = 0; j < kGroup; ++j) {
                move_record(records + size_t{kept} * stride, g + j * stride, stride);
                kept += (passing >> j) & 1;
            }
        }
    }
    const CoordinateScaling &c = filter.scaling;
    for (unsigned char *p = records + size_t{i} * stride; i < count; ++i, p += stride) {
        const bool passes = passes_tests<Tables, Extent, Clip>(filter, p, by_value);
        if (Thin) {
            if (!passes) continue;
            // The coordinates exactly as the shapefile gets them.
            const double x = lidar::scale_coordinate(raw_at(p + kXAt), c.scale[0], c.offset[0]);
            const double y = lidar::scale_coordinate(raw_at(p + kYAt), c.scale[1], c.offset[1]);
            if (!take_square(filter.thin, x, y)) continue;
        }
        move_record(records + size_t{kept} * stride, p, stride);
        kept += passes;
    }
    return kept;
}

}  // namespace

RawRange raw_range_within(double scale, double offset, double min, double max) {
    const auto at = [&](int64_t r) { return lidar::scale_coordinate(static_cast<int32_t>(r), scale, offset); };
    constexpr int64_t lo = INT32_MIN, hi = INT32_MAX;
    RawRange range;
    if (at(lo) <= at(hi)) {  // rising, or level
        range.lo = first_holding(lo, hi, [&](int64_t r) { return at(r) >= min; });
        range.hi = first_holding(lo, hi, [&](int64_t r) { return at(r) > max; }) - 1;
    } else if (at(lo) > at(hi)) {  // falling
        range.lo = first_holding(lo, hi, [&](int64_t r) { return at(r) <= max; });
        range.hi = first_holding(lo, hi, [&](int64_t r) { return at(r) < min; }) - 1;
    }
    // NaN coordinates lie within no extent: the range stays empty.
    return range;
}

bool make_point_filter(PointFilter &filter, const Selection &selection, const area::Clip *clip, int type,
                       const CoordinateScaling &scaling, const double header_bounds[4], bool given) {
    filter.selection = &selection;
    filter.given = given;
    filter.clip = clip;
    filter.scaling = scaling;
    const bool wide = type >= records::kFirstFormat6Type;
    filter.return_at = wide ? offsetof(LAS14fm6, ReturnByte) : offsetof(LAS10fm0, bitfield);
    filter.class_at = wide ? offsetof(LAS14fm6, Classification) : offsetof(LAS10fm0, Classification);
    const uint8_t class_mask = wide || records::is_las10(type) ? 0xFF : kClassBitsWithFlags;
    for (unsigned b = 0; b < 256; ++b) {
        filter.class_passes[b] = !selection.by_class || selection.classes[b & class_mask];
        const ReturnFields r = returns_of(type, b);
        filter.return_passes[b] = !selection.by_return || selection.return_numbers[r.number] ||
                                  (selection.first && r.number == 1) || (selection.last && r.number == r.count) ||
                                  (selection.single && r.count == 1);
    }
    // A scale or offset that is not finite can make a coordinate NaN, which
    // breaks the order the ranges rely on: such files compare every value.
    const bool scaled_in_order = std::isfinite(scaling.scale[0]) && std::isfinite(scaling.offset[0]) &&
                                 std::isfinite(scaling.scale[1]) && std::isfinite(scaling.offset[1]);
    filter.extent_by_value = selection.by_extent && !scaled_in_order;
    // The ranges hold --extent's rectangle and the clip's bounds, where they
    // apply, so that most points away from a clip never meet its polygons.
    filter.by_range = (selection.by_extent || clip != nullptr) && scaled_in_order && !given;
    if (filter.by_range) {
        double xmin = -INFINITY, ymin = -INFINITY, xmax = INFINITY, ymax = INFINITY;
        if (selection.by_extent) xmin = selection.xmin, ymin = selection.ymin, xmax = selection.xmax, ymax = selection.ymax;
        if (clip != nullptr) {
            const area::Box b = clip->bounds();
            xmin = std::max(xmin, b.xmin), ymin = std::max(ymin, b.ymin);
            xmax = std::min(xmax, b.xmax), ymax = std::min(ymax, b.ymax);
        }
        filter.x_range = raw_range_within(scaling.scale[0], scaling.offset[0], xmin, xmax);
        filter.y_range = raw_range_within(scaling.scale[1], scaling.offset[1], ymin, ymax);
    }
    if (!selection.thinning) return true;
    filter.thin.size = selection.thin_size;
    return place_grid(filter.thin, header_bounds);
}

uint32_t filter_points(PointFilter &filter, unsigned char *records, size_t stride, uint32_t count) {
    using Loop = uint32_t (*)(PointFilter &, unsigned char *, size_t, uint32_t);
    // By whether classes or returns are asked for, ranges of raw values, a clip, thinning.
    static constexpr Loop kLoops[2][2][2][2] = {
        {{{filter_loop<false, false, false, false>, filter_loop<false, false, false, true>},
          {filter_loop<false, false, true, false>, filter_loop<false, false, true, true>}},
         {{filter_loop<false, true, false, false>, filter_loop<false, true, false, true>},
          {filter_loop<false, true, true, false>, filter_loop<false, true, true, true>}}},
        {{{filter_loop<true, false, false, false>, filter_loop<true, false, false, true>},
          {filter_loop<true, false, true, false>, filter_loop<true, false, true, true>}},
         {{filter_loop<true, true, false, false>, filter_loop<true, true, false, true>},
          {filter_loop<true, true, true, false>, filter_loop<true, true, true, true>}}},
    };
    const Selection &s = *filter.selection;
    return kLoops[s.by_class || s.by_return][filter.by_range][filter.clip != nullptr][s.thinning](filter, records,
                                                                                                stride, count);
}

uint32_t filter_given_points(PointFilter &filter, unsigned char *records, size_t stride, uint32_t count, double *x,
                             double *y, double *z) {
    const Selection &s = *filter.selection;
    const bool tables = s.by_class || s.by_return;
    uint32_t kept = 0;
    for (uint32_t i = 0; i < count; ++i) {
        const unsigned char *p = records + size_t{i} * stride;
        bool passes = !tables || (filter.class_passes[p[filter.class_at]] & filter.return_passes[p[filter.return_at]]);
        if (passes && s.by_extent) passes = s.xmin <= x[i] && x[i] <= s.xmax && s.ymin <= y[i] && y[i] <= s.ymax;
        if (passes && filter.clip != nullptr) passes = filter.clip->covers(x[i], y[i]);
        if (passes && s.thinning) passes = take_square(filter.thin, x[i], y[i]);
        if (!passes) continue;
        if (kept != i) {
            move_record(records + size_t{kept} * stride, p, stride);
            x[kept] = x[i], y[kept] = y[i], z[kept] = z[i];
        }
        ++kept;
    }
    return kept;
}
