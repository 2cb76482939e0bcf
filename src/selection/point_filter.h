// Point selection between the input and the writers: a block of point
// records is compacted in place to the records that pass the run's
// selection, in their order, before the writers see it.
#pragma once

#include "area.h"
#include "options.h"
#include "shp_writer.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <unordered_set>
#include <utility>

// The squares of --thin already taken by a kept point.
//
// Memory: one bit per square of the LAS header's extent, when that is at most
// kThinGridBits squares (128 MiB; pages no point reaches are never touched);
// squares outside the header's extent, or all of them when the extent needs
// more bits, are kept in a hash set, about 50 bytes per square taken.
inline constexpr uint64_t kThinGridBits = uint64_t{1} << 30;

struct ThinSquares {
    double size = 1;
    double i0 = 0, j0 = 0;                    // the grid's first square in X and in Y
    uint64_t columns = 0, rows = 0;           // 0 when there is no grid
    std::unique_ptr<uint64_t, void (*)(void *)> bits{nullptr, nullptr};

    struct KeyHash {
        size_t operator()(const std::pair<uint64_t, uint64_t> &k) const {
            return static_cast<size_t>(k.first * 0x9E3779B97F4A7C15ull ^ (k.second + (k.first >> 29)));
        }
    };
    std::unordered_set<std::pair<uint64_t, uint64_t>, KeyHash> outside;
};

// The raw integer coordinates whose scaled value lies within an extent's
// edges: scaling (raw x scale + offset, rounded at each step) never reverses
// the order of two values, so they are one interval, lo to hi (none when lo > hi).
struct RawRange {
    int64_t lo = 1, hi = 0;
};

// Everything a block's selection needs, set up once for a run.
struct PointFilter {
    const Selection *selection = nullptr;
    bool class_passes[256];                   // by the record's classification byte
    bool return_passes[256];                  // by the record's return byte
    size_t class_at = 0, return_at = 0;       // byte offsets in the record
    CoordinateScaling scaling{};
    RawRange x_range, y_range;                // of --extent, and of --clip's bounds within it
    bool by_range = false;                    // the ranges apply
    bool extent_by_value = false;             // --extent tested on the scaled values instead
    const area::Clip *clip = nullptr;         // --clip's polygons, in the survey's system
    bool given = false;                       // the geometry is tested on given coordinates (--crs)
    ThinSquares thin;
};

// The filter of `selection` for records of type `type` (1 to 11) scaled by
// `scaling`, with --clip's polygons `clip` (null without --clip);
// `header_bounds` (MinX, MinY, MaxX, MaxY) place the thinning grid. False
// when the thinning grid cannot be allocated. With `given` the extent, the
// clip and the thinning apply to coordinates given with each block
// (filter_given_points), in whatever system they are.
bool make_point_filter(PointFilter &filter, const Selection &selection, const area::Clip *clip, int type,
                       const CoordinateScaling &scaling, const double header_bounds[4], bool given = false);

// The raw values r whose scale_coordinate(r, scale, offset) lies in [min, max].
RawRange raw_range_within(double scale, double offset, double min, double max);

// Moves the records of the `count` at `records` (each `stride` bytes) that
// pass to the front, in order, and returns how many pass.
uint32_t filter_points(PointFilter &filter, unsigned char *records, size_t stride, uint32_t count);

// As filter_points, for a filter made with `given`: the extent, the clip and
// the thinning test the points' coordinates x[i], y[i] (those of record i),
// and the coordinates x, y and z are moved to the front with their records.
uint32_t filter_given_points(PointFilter &filter, unsigned char *records, size_t stride, uint32_t count, double *x,
                             double *y, double *z);
