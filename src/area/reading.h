// What the readers of polygon files share: a GEOS context that keeps its
// last error, the features a file holds, and the coordinate systems PROJ
// reads. Each reader returns "" or the reason of its refusal, without the
// "Cannot clip by NAME: " that read_polygons puts before it.
#pragma once

#include "area.h"
#include "proj_handles.h"

#include <geos_c.h>
#include <proj.h>

#include <memory>
#include <string>
#include <vector>

namespace area {

// A GEOS context of its own (reentrant API); its error and notice messages
// are kept rather than printed.
class Geos {
public:
    Geos();
    ~Geos();
    Geos(const Geos &) = delete;
    Geos &operator=(const Geos &) = delete;
    GEOSContextHandle_t handle() const { return handle_; }
    // GEOS's last error ("ParseException: ..."), then forgotten.
    std::string error();

private:
    GEOSContextHandle_t handle_;
    std::string error_;
};

struct GeosDeleter {
    GEOSContextHandle_t handle;
    void operator()(GEOSGeometry *g) const { GEOSGeom_destroy_r(handle, g); }
};
using GeosGeometry = std::unique_ptr<GEOSGeometry, GeosDeleter>;

// The polygon features of a source, and what its other features are.
struct Reading {
    struct Feature {
        int number;                       // counted from 1 in the source's order
        std::vector<Polygon> polygons;    // none: an empty geometry
    };
    std::vector<Feature> features;

    // The kinds of the features that are not polygons.
    bool points = false, lines = false, collections = false, others = false;
    bool any_feature = false;             // a feature with a geometry, of any kind

    std::string crs;                      // the source's own system, "" when it states none
    std::string crs_named;                // what states it, for a refusal: "its .prj"

    // "it holds points and lines, no polygon", "it holds no feature".
    std::string no_polygon() const;
};

// Appends the polygons of `g`, a Polygon or a MultiPolygon, to `out`, Z
// dropped. False for any other geometry.
bool take_polygons(Geos &geos, const GEOSGeometry *g, std::vector<Polygon> &out);

// Whether PROJ reads `text` as a coordinate system, in the context `ctx`
// (null: one made for the question).
bool proj_reads(const std::string &text, PJ_CONTEXT *ctx = nullptr);

// The file's bytes, or false when it cannot be read.
bool read_whole_file(const std::string &name, std::string &bytes);

std::string read_geojson(Geos &geos, const std::string &name, Reading &r);
std::string read_shapefile(const std::string &name, Reading &r);
std::string read_geopackage(Geos &geos, const std::string &name, const std::string &layer, Reading &r);

}  // namespace area
