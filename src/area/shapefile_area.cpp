// A shapefile area: the polygons of a .shp (with its .shx), the rows its
// .dbf marks deleted left out, and the .prj beside it for the coordinate
// system. A shape's rings are grouped into polygons as the format defines
// them: outer rings clockwise, holes counter-clockwise, each hole in the
// smallest outer ring that holds it; a hole that none holds is taken as an
// outer ring of its own.
#include "plane.h"
#include "platform.h"
#include "reading.h"

#include <shapefil.h>

#include <cmath>
#include <memory>

namespace area {

namespace {

// Files are opened by their UTF-8 names, as the rest of the program opens
// them; the library's messages are not printed.
SAFile open_by_name(const char *name, const char *mode) { return reinterpret_cast<SAFile>(platform::fopen(name, mode)); }
void quiet(const char *) {}

SAHooks reading_hooks() {
    SAHooks hooks;
    SASetupDefaultHooks(&hooks);
    hooks.FOpen = open_by_name;
    hooks.Error = quiet;
    return hooks;
}

struct ShpCloser {
    void operator()(SHPInfo *h) const { SHPClose(h); }
};
struct DbfCloser {
    void operator()(DBFInfo *h) const { DBFClose(h); }
};
struct ObjectDeleter {
    void operator()(SHPObject *o) const { SHPDestroyObject(o); }
};

std::string stem_of(const std::string &name) { return name.substr(0, name.size() - 4); }

// A ring's place in another: the first of its vertices that is not on the
// other's boundary decides.
bool inside(const Ring &hole, const Ring &outer) {
    for (size_t i = 0; i < hole.x.size(); ++i) {
        const int at = locate(outer, hole.x[i], hole.y[i]);
        if (at != 0) return at > 0;
    }
    return true;
}

struct Box2 {
    double xmin, ymin, xmax, ymax;
};
Box2 box_of(const Ring &r) {
    Box2 b{r.x[0], r.y[0], r.x[0], r.y[0]};
    for (size_t i = 1; i < r.x.size(); ++i) {
        b.xmin = std::fmin(b.xmin, r.x[i]);
        b.xmax = std::fmax(b.xmax, r.x[i]);
        b.ymin = std::fmin(b.ymin, r.y[i]);
        b.ymax = std::fmax(b.ymax, r.y[i]);
    }
    return b;
}
bool holds(const Box2 &a, const Box2 &b) {
    return a.xmin <= b.xmin && a.ymin <= b.ymin && a.xmax >= b.xmax && a.ymax >= b.ymax;
}

// The shape's rings as polygons.
std::vector<Polygon> polygons_of(std::vector<Ring> rings) {
    std::vector<size_t> outers, holes;
    std::vector<double> area(rings.size());
    for (size_t i = 0; i < rings.size(); ++i) {
        area[i] = signed_area2(rings[i]);
        (area[i] > 0 ? holes : outers).push_back(i);
    }
    std::vector<Box2> boxes;
    for (const Ring &r : rings) boxes.push_back(box_of(r));
    std::vector<std::vector<size_t>> held(rings.size());
    for (const size_t h : holes) {
        size_t best = rings.size();
        for (const size_t o : outers) {
            if (!holds(boxes[o], boxes[h]) || !inside(rings[h], rings[o])) continue;
            if (best == rings.size() || std::fabs(area[o]) < std::fabs(area[best])) best = o;
        }
        if (best == rings.size()) outers.push_back(h);
        else held[best].push_back(h);
    }
    std::vector<Polygon> out;
    for (const size_t o : outers) {
        Polygon p;
        p.rings.push_back(std::move(rings[o]));
        for (const size_t h : held[o]) p.rings.push_back(std::move(rings[h]));
        out.push_back(std::move(p));
    }
    return out;
}

// The .prj beside the .shp: NAME.prj or NAME.PRJ.
std::string read_prj(const std::string &name, Reading &r) {
    const std::string stem = stem_of(name);
    for (const char *ext : {".prj", ".PRJ"}) {
        std::string text;
        if (platform::kind_of((stem + ext).c_str()) != platform::Kind::regular) continue;
        if (!read_whole_file(stem + ext, text)) return "its " + std::string(ext) + " cannot be read";
        while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' ')) text.pop_back();
        r.crs = text;
        r.crs_named = "its " + std::string(ext);
        return "";
    }
    return "";
}

}  // namespace

std::string read_shapefile(const std::string &name, Reading &r) {
    SAHooks hooks = reading_hooks();
    std::unique_ptr<SHPInfo, ShpCloser> shp(SHPOpenLL(name.c_str(), "rb", &hooks));
    if (!shp) return "it cannot be read";
    // The table, where there is one, says which rows are deleted.
    std::unique_ptr<DBFInfo, DbfCloser> dbf;
    const std::string stem = stem_of(name);
    for (const char *ext : {".dbf", ".DBF"}) {
        if (platform::kind_of((stem + ext).c_str()) != platform::Kind::regular) continue;
        dbf.reset(DBFOpenLL((stem + ext).c_str(), "rb", &hooks));
        if (!dbf) return "its " + std::string(ext) + " cannot be read";
        break;
    }
    int count = 0;
    SHPGetInfo(shp.get(), &count, nullptr, nullptr, nullptr);
    const int rows = dbf ? DBFGetRecordCount(dbf.get()) : 0;
    for (int k = 0; k < count; ++k) {
        if (k < rows && DBFIsRecordDeleted(dbf.get(), k)) continue;
        std::unique_ptr<SHPObject, ObjectDeleter> shape(SHPReadObject(shp.get(), k));
        const std::string feature = "feature " + std::to_string(k + 1);
        if (!shape) return feature + " cannot be read";
        if (shape->nSHPType == SHPT_NULL || shape->nVertices == 0) continue;
        r.any_feature = true;
        switch (shape->nSHPType) {
            case SHPT_POINT: case SHPT_POINTZ: case SHPT_POINTM:
            case SHPT_MULTIPOINT: case SHPT_MULTIPOINTZ: case SHPT_MULTIPOINTM: r.points = true; continue;
            case SHPT_ARC: case SHPT_ARCZ: case SHPT_ARCM: r.lines = true; continue;
            case SHPT_POLYGON: case SHPT_POLYGONZ: case SHPT_POLYGONM: break;
            default: r.others = true; continue;
        }
        std::vector<Ring> rings;
        const int parts = shape->nParts > 0 ? shape->nParts : 1;
        for (int p = 0; p < parts; ++p) {
            const int from = shape->nParts > 0 ? shape->panPartStart[p] : 0;
            const int to = p + 1 < shape->nParts ? shape->panPartStart[p + 1] : shape->nVertices;
            if (from < 0 || to > shape->nVertices || from > to) return feature + " cannot be read";
            if (from == to) continue;
            Ring ring;
            ring.x.assign(shape->padfX + from, shape->padfX + to);
            ring.y.assign(shape->padfY + from, shape->padfY + to);
            rings.push_back(std::move(ring));
        }
        r.features.push_back(Reading::Feature{k + 1, polygons_of(std::move(rings))});
    }
    return read_prj(name, r);
}

}  // namespace area
