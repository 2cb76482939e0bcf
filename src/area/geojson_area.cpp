// A GeoJSON area: a FeatureCollection, a Feature or a bare geometry, in
// RFC 7946's WGS 84 longitude and latitude unless the older `crs` member
// names another system.
//
// The document is read with our JSON reader, which bounds its nesting, and
// each feature's polygons are built from it with GEOS's constructors, its
// positions cut to X and Y; GEOS then judges the rings as it would its own.
#include "json.h"
#include "reading.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <iterator>
#include <vector>

namespace area {

namespace {

// The geometry that GeoJSON coordinates describe, built through GEOS's own
// constructors straight from the document already read (positions cut to X
// and Y); null with `why` when they describe none.
class Builder {
public:
    explicit Builder(Geos &geos) : geos_(geos), h_(geos.handle()) {}

    // The geometry of GeoJSON type `kind` ("Polygon" or "MultiPolygon").
    GEOSGeometry *geometry(const std::string &kind, const json::Value &coordinates, std::string &why) {
        kind_ = kind;
        return kind == "Polygon" ? polygon(coordinates, why) : multipolygon(coordinates, why);
    }

    GEOSGeometry *polygon(const json::Value &rings, std::string &why) {
        if (rings.kind != json::Value::Kind::array) return fail(why);
        if (rings.items.empty()) return GEOSGeom_createEmptyPolygon_r(h_);
        std::vector<GEOSGeometry *> made;
        for (const json::Value &r : rings.items) {
            GEOSGeometry *ring = this->ring(r, why);
            if (ring == nullptr) return destroy(made);
            made.push_back(ring);
        }
        GEOSGeometry *p = GEOSGeom_createPolygon_r(h_, made[0], made.data() + 1, static_cast<unsigned>(made.size() - 1));
        if (p == nullptr) {
            why = geos_.error();
            return destroy(made);
        }
        return p;
    }

    GEOSGeometry *multipolygon(const json::Value &polygons, std::string &why) {
        if (polygons.kind != json::Value::Kind::array) return fail(why);
        std::vector<GEOSGeometry *> made;
        for (const json::Value &p : polygons.items) {
            GEOSGeometry *polygon = this->polygon(p, why);
            if (polygon == nullptr) return destroy(made);
            made.push_back(polygon);
        }
        GEOSGeometry *m = GEOSGeom_createCollection_r(h_, GEOS_MULTIPOLYGON, made.data(),
                                                      static_cast<unsigned>(made.size()));
        if (m == nullptr) {
            why = geos_.error();
            return destroy(made);
        }
        return m;
    }

private:
    GEOSGeometry *ring(const json::Value &positions, std::string &why) {
        // Positions of one length are rows of numbers; others are values, each
        // an array of numbers or of values. Their first two numbers are X and
        // Y (a third, Z, is not used).
        using Kind = json::Value::Kind;
        const bool rows = positions.kind == Kind::rows;
        if (!rows && positions.kind != Kind::array) return fail(why);
        if (rows && positions.width < 2) return fail(why);
        const size_t n = rows ? positions.numbers.size() / positions.width : positions.items.size();
        GEOSCoordSequence *s = GEOSCoordSeq_create_r(h_, static_cast<unsigned>(n), 2);
        if (s == nullptr) {
            why = geos_.error();
            return nullptr;
        }
        for (size_t i = 0; i < n; ++i) {
            double x = 0, y = 0;
            if (rows) {
                x = positions.numbers[i * positions.width], y = positions.numbers[i * positions.width + 1];
            } else if (const json::Value &p = positions.items[i]; p.kind == Kind::numbers && p.numbers.size() >= 2) {
                x = p.numbers[0], y = p.numbers[1];
            } else if (p.kind == Kind::array && p.items.size() >= 2 && p.items[0].kind == Kind::number &&
                       p.items[1].kind == Kind::number) {
                x = p.items[0].number, y = p.items[1].number;
            } else {
                GEOSCoordSeq_destroy_r(h_, s);
                return fail(why);
            }
            GEOSCoordSeq_setXY_r(h_, s, static_cast<unsigned>(i), x, y);
        }
        GEOSGeometry *ring = GEOSGeom_createLinearRing_r(h_, s);  // takes the sequence, also on failure
        if (ring == nullptr) why = geos_.error();
        return ring;
    }

    GEOSGeometry *fail(std::string &why) const {
        why = "its coordinates are not those of a " + kind_;
        return nullptr;
    }

    GEOSGeometry *destroy(std::vector<GEOSGeometry *> &made) {
        for (GEOSGeometry *g : made) GEOSGeom_destroy_r(h_, g);
        return nullptr;
    }

    Geos &geos_;
    GEOSContextHandle_t h_;
    std::string kind_;
};

const std::string *string_member(const json::Value *v, const char *key) {
    const json::Value *m = v != nullptr ? v->find(key) : nullptr;
    return m != nullptr && m->kind == json::Value::Kind::string ? &m->string : nullptr;
}

// GeoJSON's longitude and latitude on WGS 84 (RFC 7946's, and the CRS84
// of the older crs member), given to PROJ as EPSG:4326: PROJ's database holds
// WGS 84's transformations into other datums for EPSG:4326, and from
// OGC:CRS84 finds only a ballpark offset, over a metre off for a survey in
// NAD83. The axis order is east then north either way.
constexpr char kLongitudeLatitude[] = "EPSG:4326";

bool names_crs84(const std::string &name) {
    static const char *const kNames[] = {"urn:ogc:def:crs:OGC:1.3:CRS84", "urn:ogc:def:crs:OGC::CRS84",
                                         "http://www.opengis.net/def/crs/OGC/1.3/CRS84", "OGC:CRS84"};
    const auto same_letter = [](char a, char b) {
        return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
    };
    return std::any_of(std::begin(kNames), std::end(kNames), [&](const std::string &n) {
        return n.size() == name.size() && std::equal(n.begin(), n.end(), name.begin(), same_letter);
    });
}

// The system that the document's `crs` member names, if it has one.
std::string read_crs(const json::Value &doc, Reading &r) {
    r.crs = kLongitudeLatitude;
    const json::Value *crs = doc.find("crs");
    if (crs == nullptr) return "";
    if (crs->kind == json::Value::Kind::null) {  // GeoJSON 2008: no system may be assumed
        r.crs.clear();
        return "";
    }
    const std::string *type = string_member(crs, "type");
    const std::string *name = string_member(crs->find("properties"), "name");
    if (type == nullptr || *type != "name" || name == nullptr) return "its crs member names no coordinate system";
    r.crs = names_crs84(*name) ? kLongitudeLatitude : *name;
    r.crs_named = "its crs \"" + *name + "\"";
    return "";
}

}  // namespace

std::string read_geojson(Geos &geos, const std::string &name, Reading &r) {
    std::string text;
    if (!read_whole_file(name, text)) return "it cannot be read";
    json::Value doc;
    std::string why;
    if (!json::parse(text, doc, why)) return "it is not JSON: " + why;
    text.clear();
    const std::string *type = string_member(&doc, "type");
    if (type == nullptr) return "it is not GeoJSON: it has no type";
    why = read_crs(doc, r);
    if (!why.empty()) return why;

    // The features, or the one geometry.
    std::vector<const json::Value *> geometries;
    if (*type == "FeatureCollection" || *type == "Feature") {
        std::vector<const json::Value *> features;
        if (*type == "Feature") {
            features.push_back(&doc);
        } else {
            const json::Value *list = doc.find("features");
            if (list == nullptr || list->kind != json::Value::Kind::array)
                return "it is not GeoJSON: its FeatureCollection has no features";
            for (const json::Value &f : list->items) features.push_back(&f);
        }
        for (size_t k = 0; k < features.size(); ++k) {
            const json::Value *g = features[k]->find("geometry");
            const std::string *t = string_member(features[k], "type");
            if (t == nullptr || *t != "Feature" || g == nullptr)
                return "it is not GeoJSON: feature " + std::to_string(k + 1) + " is no Feature with a geometry";
            geometries.push_back(g);
        }
    } else {
        geometries.push_back(&doc);
    }

    Builder build(geos);
    for (size_t k = 0; k < geometries.size() && why.empty(); ++k) {
        const json::Value &g = *geometries[k];
        if (g.kind == json::Value::Kind::null) continue;  // a feature without a geometry
        const std::string feature = "feature " + std::to_string(k + 1);
        const std::string *t = string_member(&g, "type");
        const std::string kind = t != nullptr ? *t : "";
        r.any_feature = true;
        if (kind == "Point" || kind == "MultiPoint") {
            r.points = true;
        } else if (kind == "LineString" || kind == "MultiLineString") {
            r.lines = true;
        } else if (kind == "GeometryCollection") {
            r.collections = true;
        } else if (kind == "Polygon" || kind == "MultiPolygon") {
            const json::Value *c = g.find("coordinates");
            std::string reason = "it has no coordinates";
            GeosGeometry read(c == nullptr ? nullptr : build.geometry(kind, *c, reason), GeosDeleter{geos.handle()});
            Reading::Feature f{static_cast<int>(k + 1), {}};
            if (!read)
                why = feature + " cannot be read: " + reason;
            else if (!take_polygons(geos, read.get(), f.polygons))
                why = feature + " cannot be read: " + geos.error();
            else
                r.features.push_back(std::move(f));
        } else {
            why = "it is not GeoJSON: " + feature + " has no geometry type of GeoJSON's";
        }
    }
    return why;
}

}  // namespace area
