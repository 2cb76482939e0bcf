// The part of the plane a run keeps points from: the rectangle of --extent,
// the polygons of --clip (in the survey's coordinate system), both, or the
// whole plane. The input side asks it whether a tile's bounds or a COPC
// cell may hold a point it keeps; the selection tests the points themselves.
#pragma once

#include "area.h"
#include "reprojection.h"

#include <cmath>

namespace area {

struct Region {
    bool has_box = false;
    Box box{0, 0, 0, 0};          // --extent's rectangle
    const Clip *clip = nullptr;   // --clip's polygons
    // With --crs: the input's operation into the target system, in which the
    // rectangle and the polygons are; the boxes asked about are the input's.
    const Reprojection *moved = nullptr;

    bool whole() const { return !has_box && clip == nullptr; }

    // False only when no point of `given` can lie in the region; true whenever a
    // comparison cannot be made (a NaN bound).
    bool meets(const Box &given) const {
        if (std::isnan(given.xmin) || std::isnan(given.ymin) || std::isnan(given.xmax) || std::isnan(given.ymax))
            return true;
        const Box b = moved != nullptr ? moved->reach(given) : given;
        if (has_box && (b.xmax < box.xmin || b.xmin > box.xmax || b.ymax < box.ymin || b.ymin > box.ymax))
            return false;
        return clip == nullptr || clip->meets(b);
    }
};

}  // namespace area
