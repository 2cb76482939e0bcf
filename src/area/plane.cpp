#include "plane.h"

#include <algorithm>
#include <cstddef>

namespace area {

namespace {

// Error-free transformations (Dekker, Knuth): a sum and a product as the
// double nearest them plus the exact rest. They need round-to-nearest double
// arithmetic with no fused operations, which the build sets.
void two_sum(double a, double b, double &s, double &rest) {
    s = a + b;
    const double bv = s - a;
    const double av = s - bv;
    rest = (a - av) + (b - bv);
}

void split(double a, double &hi, double &lo) {
    const double c = 134217729.0 * a;  // 2^27 + 1
    hi = c - (c - a);
    lo = a - hi;
}

void two_product(double a, double b, double &p, double &rest) {
    p = a * b;
    double ahi, alo, bhi, blo;
    split(a, ahi, alo);
    split(b, bhi, blo);
    rest = alo * blo - (((p - ahi * bhi) - alo * bhi) - ahi * blo);
}

// Adds `b` to the expansion e[0..n) (non-overlapping, smallest first),
// dropping zero parts; returns the new length.
size_t grow(double *e, size_t n, double b) {
    double q = b;
    size_t m = 0;
    for (size_t i = 0; i < n; ++i) {
        double s, rest;
        two_sum(q, e[i], s, rest);
        if (rest != 0) e[m++] = rest;
        q = s;
    }
    if (q != 0) e[m++] = q;
    return m;
}

}  // namespace

int orientation_exact(double ax, double ay, double bx, double by, double cx, double cy) {
    // (ax - cx)(by - cy) - (ay - cy)(bx - cx) expanded into six products,
    // each an exact pair, summed exactly.
    const double factors[6][2] = {{ax, by}, {-ax, cy}, {-cx, by}, {-ay, bx}, {ay, cx}, {cy, bx}};
    double e[12];
    size_t n = 0;
    for (const auto &f : factors) {
        double p, rest;
        two_product(f[0], f[1], p, rest);
        n = grow(e, n, rest);
        n = grow(e, n, p);
    }
    if (n == 0) return 0;
    // The last part is the largest and carries the sign of the whole.
    return e[n - 1] > 0 ? 1 : (e[n - 1] < 0 ? -1 : 0);
}

int locate(const Ring &r, double x, double y) {
    const size_t n = std::min(r.x.size(), r.y.size());
    int winding = 0;
    for (size_t i = 0; n > 0 && i < n; ++i) {
        const size_t k = i + 1 < n ? i + 1 : 0;
        const double ax = r.x[i], ay = r.y[i], bx = r.x[k], by = r.y[k];
        if ((y < ay && y < by) || (y > ay && y > by)) continue;
        const int o = orientation(ax, ay, bx, by, x, y);
        if (o == 0 && x >= std::min(ax, bx) && x <= std::max(ax, bx)) return 0;
        if (ay <= y && y < by && o > 0) ++winding;
        else if (by <= y && y < ay && o < 0) --winding;
    }
    return winding != 0 ? 1 : -1;
}

double signed_area2(const Ring &r) {
    const size_t n = std::min(r.x.size(), r.y.size());
    if (n < 3) return 0;
    double sum = 0;
    const double x0 = r.x[0], y0 = r.y[0];
    for (size_t i = 1; i + 1 < n; ++i)
        sum += (r.x[i] - x0) * (r.y[i + 1] - y0) - (r.x[i + 1] - x0) * (r.y[i] - y0);
    return sum;
}

}  // namespace area
