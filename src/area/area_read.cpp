// read_polygons: the source's kind, its reader, and what every source must
// pass: at least one polygon, each valid for GEOS, and a coordinate system
// PROJ reads.
#include "area.h"
#include "platform.h"
#include "reading.h"

#include <algorithm>
#include <cstdio>
#include <future>
#include <memory>
#include <new>

namespace area {

namespace {

void keep_error(const char *message, void *userdata) { *static_cast<std::string *>(userdata) = message; }
void ignore_notice(const char *, void *) {}

// The source's name in a refusal.
constexpr const char *kWktName = "the WKT text";

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

bool starts_with_word(const std::string &s, size_t at, const char *word) {
    size_t i = at;
    for (; *word != '\0'; ++word, ++i)
        if (i >= s.size() || lower(s[i]) != lower(*word)) return false;
    return i == s.size() || s[i] == ' ' || s[i] == '\t' || s[i] == '\r' || s[i] == '\n' || s[i] == '(';
}

// A WKT text rather than a file's name: after blanks, POLYGON or
// MULTIPOLYGON in any letter case, then a blank, "(" or the end.
bool is_wkt(const std::string &s) {
    size_t at = 0;
    while (at < s.size() && (s[at] == ' ' || s[at] == '\t' || s[at] == '\r' || s[at] == '\n')) ++at;
    return starts_with_word(s, at, "POLYGON") || starts_with_word(s, at, "MULTIPOLYGON");
}

// The extension of the name's last part, in lower case, without its dot.
std::string extension_of(const std::string &name) {
    size_t dot = std::string::npos;
    for (size_t i = name.size(); i-- > 0;) {
        if (platform::is_separator(name[i])) break;
        if (name[i] == '.') {
            dot = i;
            break;
        }
    }
    std::string e = dot == std::string::npos ? "" : name.substr(dot + 1);
    for (char &c : e) c = lower(c);
    return e;
}

std::string read_wkt(Geos &geos, const std::string &text, Reading &r) {
    GEOSContextHandle_t h = geos.handle();
    GEOSWKTReader *reader = GEOSWKTReader_create_r(h);
    GeosGeometry g(reader != nullptr ? GEOSWKTReader_read_r(h, reader, text.c_str()) : nullptr, GeosDeleter{h});
    GEOSWKTReader_destroy_r(h, reader);
    if (!g) return "it cannot be read: " + geos.error();
    r.any_feature = true;
    Reading::Feature f{1, {}};
    if (!take_polygons(geos, g.get(), f.polygons)) return "it is not a POLYGON or MULTIPOLYGON";
    r.features.push_back(std::move(f));
    return "";
}

// A GEOS polygon of the rings, or null with GEOS's reason.
GeosGeometry geos_polygon(Geos &geos, const Polygon &p) {
    GEOSContextHandle_t h = geos.handle();
    std::vector<GEOSGeometry *> rings;
    for (const Ring &ring : p.rings) {
        const unsigned n = static_cast<unsigned>(std::min(ring.x.size(), ring.y.size()));
        GEOSCoordSequence *seq = GEOSCoordSeq_copyFromArrays_r(h, ring.x.data(), ring.y.data(), nullptr, nullptr, n);
        GEOSGeometry *g = seq != nullptr ? GEOSGeom_createLinearRing_r(h, seq) : nullptr;
        if (g == nullptr) {
            for (GEOSGeometry *made : rings) GEOSGeom_destroy_r(h, made);
            return GeosGeometry(nullptr, GeosDeleter{h});
        }
        rings.push_back(g);
    }
    // Takes the rings, whatever comes of it.
    GEOSGeometry *polygon =
        GEOSGeom_createPolygon_r(h, rings[0], rings.data() + 1, static_cast<unsigned>(rings.size() - 1));
    return GeosGeometry(polygon, GeosDeleter{h});
}

// Every polygon not empty and valid; `wkt` numbers them by polygon alone.
std::string check_polygons(Geos &geos, const Reading &r, bool wkt) {
    int counted = 0;
    for (const Reading::Feature &f : r.features) {
        const std::string feature = "feature " + std::to_string(f.number);
        if (f.polygons.empty()) return wkt ? "it is empty" : feature + " is empty";
        for (size_t k = 0; k < f.polygons.size(); ++k) {
            ++counted;
            const std::string which = wkt ? "polygon " + std::to_string(counted)
                                      : f.polygons.size() == 1
                                          ? feature
                                          : "polygon " + std::to_string(k + 1) + " of " + feature;
            const Polygon &p = f.polygons[k];
            if (p.rings.empty() || p.rings[0].x.empty()) return which + " is empty";
            GeosGeometry g = geos_polygon(geos, p);
            if (!g) return which + " is not valid: " + geos.error();
            if (GEOSisValid_r(geos.handle(), g.get()) == 1) continue;
            char *reason = GEOSisValidReason_r(geos.handle(), g.get());
            const std::string why = reason != nullptr ? reason : geos.error();
            GEOSFree_r(geos.handle(), reason);
            return which + " is not valid: " + why;
        }
    }
    return "";
}

// A reason on one line: names and texts from the file may hold line ends.
std::string one_line(std::string s) {
    for (char &c : s)
        if (static_cast<unsigned char>(c) < 0x20) c = ' ';
    return s;
}

std::string read_source(Geos &geos, const std::string &source, const std::string &layer, bool wkt,
                        Reading &r) {
    const std::string ext = wkt ? "" : extension_of(source);
    if (!wkt && ext != "shp" && ext != "gpkg" && ext != "geojson" && ext != "json")
        return "it is none of a shapefile (.shp), a GeoPackage (.gpkg), GeoJSON (.geojson, .json) or a WKT "
               "POLYGON or MULTIPOLYGON";
    if (!layer.empty() && ext != "gpkg") return "--clip-layer names a layer of a GeoPackage, and it is none";
    if (wkt) return read_wkt(geos, source, r);
    if (platform::kind_of(source.c_str()) != platform::Kind::regular) return "it cannot be read";
    if (ext == "shp") return read_shapefile(source, r);
    if (ext == "gpkg") return read_geopackage(geos, source, layer, r);
    return read_geojson(geos, source, r);
}

}  // namespace

Geos::Geos() : handle_(GEOS_init_r()) {
    GEOSContext_setErrorMessageHandler_r(handle_, keep_error, &error_);
    GEOSContext_setNoticeMessageHandler_r(handle_, ignore_notice, nullptr);
}
Geos::~Geos() { GEOS_finish_r(handle_); }
std::string Geos::error() {
    std::string e;
    e.swap(error_);
    return e.empty() ? "GEOS gives no reason" : e;
}

bool take_polygons(Geos &geos, const GEOSGeometry *g, std::vector<Polygon> &out) {
    GEOSContextHandle_t h = geos.handle();
    const int type = GEOSGeomTypeId_r(h, g);
    if (type == GEOS_MULTIPOLYGON) {
        const int n = GEOSGetNumGeometries_r(h, g);
        for (int i = 0; i < n; ++i) {
            const GEOSGeometry *part = GEOSGetGeometryN_r(h, g, i);
            if (part == nullptr || !take_polygons(geos, part, out)) return false;
        }
        return true;
    }
    if (type != GEOS_POLYGON) return false;
    Polygon p;
    if (GEOSisEmpty_r(h, g) == 1) {
        out.push_back(std::move(p));
        return true;
    }
    const int holes = GEOSGetNumInteriorRings_r(h, g);
    for (int i = -1; i < holes; ++i) {
        const GEOSGeometry *ring = i < 0 ? GEOSGetExteriorRing_r(h, g) : GEOSGetInteriorRingN_r(h, g, i);
        const GEOSCoordSequence *seq = ring != nullptr ? GEOSGeom_getCoordSeq_r(h, ring) : nullptr;
        unsigned n = 0;
        if (seq == nullptr || GEOSCoordSeq_getSize_r(h, seq, &n) == 0) return false;
        Ring r;
        r.x.resize(n);
        r.y.resize(n);
        if (n > 0 && GEOSCoordSeq_copyToArrays_r(h, seq, r.x.data(), r.y.data(), nullptr, nullptr) == 0)
            return false;
        p.rings.push_back(std::move(r));
    }
    out.push_back(std::move(p));
    return true;
}

std::string Reading::no_polygon() const {
    if (!any_feature) return "it holds no feature";
    std::vector<const char *> kinds;
    if (points) kinds.push_back("points");
    if (lines) kinds.push_back("lines");
    if (collections) kinds.push_back("geometry collections");
    if (others) kinds.push_back("other geometries");
    std::string s = "it holds ";
    for (size_t i = 0; i < kinds.size(); ++i) {
        if (i > 0) s += i + 1 == kinds.size() ? " and " : ", ";
        s += kinds[i];
    }
    return s + ", no polygon";
}

bool read_whole_file(const std::string &name, std::string &bytes) {
    std::FILE *f = platform::fopen(name.c_str(), "rb");
    if (f == nullptr) return false;
    bytes.clear();
    char block[65536];
    size_t n;
    while ((n = std::fread(block, 1, sizeof block, f)) > 0) bytes.append(block, n);
    const bool ok = std::ferror(f) == 0;
    std::fclose(f);
    return ok;
}

std::string read_polygons(const std::string &source, const std::string &layer, const std::string &crs,
                          Polygons &out, Clip *indexed) {
    out = Polygons();
    if (indexed != nullptr) *indexed = Clip();
    const bool wkt = is_wkt(source);
    // Opening PROJ's database takes longer than reading and checking most
    // areas, so a thread of its own (where one can be had) opens it, then
    // reads the area's coordinate system once the source has told it, while
    // the polygons are checked. A WKT text has one only by --clip-crs.
    std::future<bool> readable;      // whether PROJ reads the system told
    std::promise<std::string> told;  // the system to read, "" for none; gone first, so that
                                     // a thread still waiting for it ends before `readable` waits for it
    bool telling = !wkt || !crs.empty();
    if (telling)
        readable = std::async(std::launch::async | std::launch::deferred, [text = told.get_future()]() mutable {
            BorrowedProjContext ctx;
            if (ctx) Pj(proj_create(ctx.get(), "EPSG:4326"));
            const std::string system = text.get();
            return system.empty() || proj_reads(system, ctx.get());
        });
    const auto tell = [&](const std::string &system) {
        if (telling) told.set_value(system);
        telling = false;
    };
    if (!crs.empty()) tell(crs);
    const std::string refusal = std::string("Cannot clip by ") + (wkt ? kWktName : source.c_str()) + ": ";
    try {
        Geos geos;
        Reading r;
        std::string why = read_source(geos, source, layer, wkt, r);
        tell(why.empty() ? r.crs : "");
        if (why.empty() && r.features.empty()) why = r.no_polygon();
        if (why.empty()) why = check_polygons(geos, r, wkt);
        if (!why.empty()) return refusal + one_line(why);
        for (Reading::Feature &f : r.features)
            for (Polygon &p : f.polygons) out.polygons.push_back(std::move(p));
        // The index too, while PROJ may still be opening its database.
        if (indexed != nullptr) *indexed = Clip(out);
        if (readable.valid() && !readable.get()) {
            out = Polygons();
            if (indexed != nullptr) *indexed = Clip();
            return refusal + one_line(!crs.empty() ? "--clip-crs \"" + crs + "\" is no coordinate system PROJ knows"
                                                   : r.crs_named + " is no coordinate system PROJ knows");
        }
        out.crs = crs.empty() ? r.crs : crs;
        return "";
    } catch (const std::bad_alloc &) {
        out = Polygons();
        if (indexed != nullptr) *indexed = Clip();
        return refusal + "it is too large to read";
    }
}

}  // namespace area
