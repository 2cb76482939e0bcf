// The outputs in another coordinate system (--crs): the target system as
// read once, and each input's operation into it, which moves the points a
// block at a time and tells which boxes of the input's coordinates may reach
// a region given in the target's.
#pragma once

#include "area.h"

#include <cstddef>
#include <memory>
#include <string>

namespace area {

struct TargetCrs {
    std::string text;  // as PROJ reads it: --crs's value, or a .prj file's contents
    std::string esri;  // its horizontal part as ESRI WKT on one line, for NAME.prj
    std::string name;  // its name, as messages give it ("WGS 84")
};

// Reads --crs's value: an EPSG code, a WKT or PROJ text, or the name of a
// .prj file (any case). Returns "" with `out` filled, or the refusal's line:
//   --crs "EPSG:99999" is no coordinate system PROJ knows
std::string read_target_crs(const std::string &value, TargetCrs &out);

// One input's operation from its system into the target: the one PROJ
// chooses without the network, axis order east then north (longitude then
// latitude), Z transformed only where both systems state a vertical part.
// PROJ's objects are not shared between threads: the points go through two
// handles (this thread's and a helper's), the boxes through a third under a lock.
class Reprojection {
public:
    Reprojection();
    ~Reprojection();
    Reprojection(const Reprojection &) = delete;
    Reprojection &operator=(const Reprojection &) = delete;

    // True when PROJ reads `source` and has an operation from it into `target`.
    bool make(const std::string &source, const TargetCrs &target);

    // Transforms the `n` points of x, y and z in place, half of them on a
    // thread of its own when `two_threads`; returns the index of the first
    // that cannot be transformed (outside the operation's domain), or n. Z
    // stays as it is unless the operation has a vertical part.
    size_t transform(double *x, double *y, double *z, size_t n, bool two_threads) const;

    // A box of target coordinates holding every point of `b` once
    // transformed: its edges densified, widened by a margin; the whole plane
    // when PROJ cannot tell. May be called on several threads at once.
    Box reach(const Box &b) const;

private:
    struct Handles;
    std::unique_ptr<Handles> points_[2], boxes_;
    bool vertical_ = false;
};

}  // namespace area
