// Exact tests of points in the plane, shared by the clip's index and the
// readers that group a shapefile's rings.
#pragma once

#include "area.h"

#include <cmath>

namespace area {

// The sign of the determinant of (b - a, c - a), computed exactly: 1 when c
// lies left of the line from a to b, -1 when right, 0 when on it. The sum in
// doubles is taken when it is surely far enough from 0 for its sign to be
// right (the bound of Shewchuk's orient2d filter); otherwise the exact sign
// is worked out from the products split into exact halves.
int orientation_exact(double ax, double ay, double bx, double by, double cx, double cy);

inline int orientation(double ax, double ay, double bx, double by, double cx, double cy) {
    const double left = (ax - cx) * (by - cy);
    const double right = (ay - cy) * (bx - cx);
    const double det = left - right;
    // 3 eps + 16 eps^2, eps = 2^-53
    constexpr double kBound = 3.3306690738754716e-16;
    const double bound = kBound * (std::fabs(left) + std::fabs(right));
    if (det > bound) return 1;
    if (-det > bound) return -1;
    return orientation_exact(ax, ay, bx, by, cx, cy);
}

// Where (x, y) lies against a closed ring: 1 inside, 0 on it, -1 outside.
int locate(const Ring &r, double x, double y);

// Twice the ring's signed area, positive when its vertices run
// counter-clockwise (in double arithmetic, relative to its first vertex).
double signed_area2(const Ring &r);

}  // namespace area
