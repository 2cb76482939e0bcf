// Areas of the XY plane that select points: a rectangle (--extent) and the
// polygons of a clip (--clip), and the tests of a point, of a tile's bounds
// and of a COPC cell against them.
//
// The polygons are read from a file or a WKT text in their own coordinate
// system, moved into the survey's with PROJ where the two differ, and then
// indexed so that a point's test costs little whatever the number of
// vertices. GEOS reads WKT, WKB and GeoJSON and judges validity; Shapelib
// reads shapefiles; SQLite reads GeoPackages.
#pragma once

#include <string>
#include <vector>

namespace area {

// A rectangle, edges included.
struct Box {
    double xmin, ymin, xmax, ymax;
};

inline bool boxes_meet(const Box &a, const Box &b) {
    return a.xmin <= b.xmax && b.xmin <= a.xmax && a.ymin <= b.ymax && b.ymin <= a.ymax;
}

// A ring's vertices in order, closed: the last equals the first.
struct Ring {
    std::vector<double> x, y;
};

// The outer ring first, then its holes.
struct Polygon {
    std::vector<Ring> rings;
};

// Polygons as read, in the coordinate system `crs`: a text PROJ reads (a WKT,
// "EPSG:25830", "EPSG:4326"), or "" where the source states none.
struct Polygons {
    std::vector<Polygon> polygons;
    std::string crs;
};

class Clip;

// Reads --clip's value `source`: a polygon file (an ESRI Shapefile .shp with
// its .prj, a GeoPackage .gpkg, GeoJSON .geojson or .json; the extension in
// any letter case) or a WKT text (POLYGON or MULTIPOLYGON, with or without Z,
// which is dropped). Every polygon feature of the file is part of the area.
// `layer` is --clip-layer's value ("" when not given: a GeoPackage with
// several polygon layers is then refused); `crs` is --clip-crs's value (""
// when not given), which states the system of a WKT text and overrides a
// file's. Returns "" with `out` filled, or the line that refuses it, without
// line ends, naming the file and the reason:
//   Cannot clip by lake.gpkg: it holds lines, no polygon
// With `indexed`, that is also the polygons' Clip as read (an empty one on
// a refusal), built while PROJ reads their coordinate system.
std::string read_polygons(const std::string &source, const std::string &layer, const std::string &crs,
                          Polygons &out, Clip *indexed = nullptr);

// Whether PROJ takes the coordinate-system texts `a` and `b` (each non-empty)
// for equivalent systems, the axis order of a geographic system aside. Only
// their horizontal parts are compared (a compound system's first, a bound
// system's source), as the polygons have no heights: EPSG:25830+5782 is
// EPSG:25830 here.
bool same_crs(const std::string &a, const std::string &b);

// Moves every vertex of `p` from its system into `target` (a text PROJ reads,
// named `into` in the refusal),
// between their horizontal parts, axis order east then north (longitude then
// latitude in a geographic system), with the operation PROJ chooses without
// the network. Edges stay straight lines between the moved vertices. Returns
// "" (p.crs is then `target`; p is untouched otherwise), or the refusal's
// line (`name` as read_polygons names the source):
//   Cannot clip by lake.gpkg: its vertices cannot be moved into the survey's coordinate system
std::string transform_polygons(Polygons &p, const std::string &target, const std::string &name,
                               const std::string &into = "the survey's coordinate system");

// The polygons indexed for the tests below. Built once; the tests are const
// and may run on several threads at once.
class Clip {
public:
    Clip();
    explicit Clip(const Polygons &p);
    ~Clip();
    Clip(Clip &&) noexcept;
    Clip &operator=(Clip &&) noexcept;

    // True when (x, y) lies inside a polygon or on its boundary, and not
    // inside one of its holes (a hole's edge is the polygon's boundary).
    bool covers(double x, double y) const;

    // False only when no point of `b` is covered: a tile or a COPC cell
    // for which this is false need not be read.
    bool meets(const Box &b) const;

    // The polygons' bounds.
    Box bounds() const;

private:
    struct Index;
    Index *index_ = nullptr;
};

}  // namespace area
