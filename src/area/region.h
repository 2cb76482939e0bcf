// The part of the plane a run keeps points from: the rectangle of --extent,
// the polygons of --clip (in the survey's coordinate system), both, or the
// whole plane. The input side asks it whether a tile's bounds or a COPC
// cell may hold a point it keeps; the selection tests the points themselves.
#pragma once

#include "area.h"

#include <cmath>

namespace area {

struct Region {
    bool has_box = false;
    Box box{0, 0, 0, 0};          // --extent's rectangle
    const Clip *clip = nullptr;   // --clip's polygons

    bool whole() const { return !has_box && clip == nullptr; }

    // False only when no point of `b` can lie in the region; true whenever a
    // comparison cannot be made (a NaN bound).
    bool meets(const Box &b) const {
        if (std::isnan(b.xmin) || std::isnan(b.ymin) || std::isnan(b.xmax) || std::isnan(b.ymax)) return true;
        if (has_box && (b.xmax < box.xmin || b.xmin > box.xmax || b.ymax < box.ymin || b.ymin > box.ymax))
            return false;
        return clip == nullptr || clip->meets(b);
    }
};

}  // namespace area
