// A GeoJSON area: a FeatureCollection, a Feature or a bare geometry, in
// RFC 7946's WGS 84 longitude and latitude unless the older `crs` member
// names another system.
//
// The document is read with our JSON reader, which bounds its nesting, and
// each feature's geometry is handed to GEOS's GeoJSON reader alone, its
// positions checked and cut to X and Y: that reader refuses a position with
// a third number, and a whole collection for one feature without a
// geometry, and reads past a position of no number.
#include "json.h"
#include "reading.h"

#include <cstdio>

namespace area {

namespace {

void write_value(const json::Value &v, std::string &out);

void write_string(const std::string &s, std::string &out) {
    out += '"';
    for (const char c : s) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += c;
        } else if (static_cast<unsigned char>(c) < 0x20) {
            char escape[8];
            std::snprintf(escape, sizeof escape, "\\u%04x", static_cast<unsigned>(c));
            out += escape;
        } else {
            out += c;
        }
    }
    out += '"';
}

// An array of numbers is a position: only its first two are written.
void write_value(const json::Value &v, std::string &out) {
    using K = json::Value::Kind;
    switch (v.kind) {
        case K::null: out += "null"; break;
        case K::boolean: out += v.boolean ? "true" : "false"; break;
        case K::number: {
            char text[32];
            std::snprintf(text, sizeof text, "%.17g", v.number);
            out += text;
            break;
        }
        case K::string: write_string(v.string, out); break;
        case K::array: {
            bool position = !v.items.empty();
            for (const json::Value &i : v.items) position = position && i.kind == K::number;
            const size_t n = position && v.items.size() > 2 ? 2 : v.items.size();
            out += '[';
            for (size_t i = 0; i < n; ++i) {
                if (i > 0) out += ',';
                write_value(v.items[i], out);
            }
            out += ']';
            break;
        }
        case K::object: {
            out += '{';
            for (size_t i = 0; i < v.members.size(); ++i) {
                if (i > 0) out += ',';
                write_string(v.members[i].first, out);
                out += ':';
                write_value(v.members[i].second, out);
            }
            out += '}';
            break;
        }
    }
}

// Whether `v` is an array nested `depth` deep down to positions, each of
// two numbers or more. GEOS's reader itself reads past a position of none.
bool positions_nested(const json::Value &v, int depth) {
    if (v.kind != json::Value::Kind::array) return false;
    if (depth == 0) {
        if (v.items.size() < 2) return false;
        for (const json::Value &n : v.items)
            if (n.kind != json::Value::Kind::number) return false;
        return true;
    }
    for (const json::Value &i : v.items)
        if (!positions_nested(i, depth - 1)) return false;
    return true;
}

const std::string *string_member(const json::Value *v, const char *key) {
    const json::Value *m = v != nullptr ? v->find(key) : nullptr;
    return m != nullptr && m->kind == json::Value::Kind::string ? &m->string : nullptr;
}

// The system that the document's `crs` member names, if it has one.
std::string read_crs(const json::Value &doc, Reading &r) {
    r.crs = "OGC:CRS84";
    const json::Value *crs = doc.find("crs");
    if (crs == nullptr) return "";
    if (crs->kind == json::Value::Kind::null) {  // GeoJSON 2008: no system may be assumed
        r.crs.clear();
        return "";
    }
    const std::string *type = string_member(crs, "type");
    const std::string *name = string_member(crs->find("properties"), "name");
    if (type == nullptr || *type != "name" || name == nullptr) return "its crs member names no coordinate system";
    r.crs = *name;
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

    GEOSContextHandle_t h = geos.handle();
    GEOSGeoJSONReader *reader = GEOSGeoJSONReader_create_r(h);
    if (reader == nullptr) return "it cannot be read: " + geos.error();
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
            if (c == nullptr || !positions_nested(*c, kind == "Polygon" ? 2 : 3)) {
                why = feature + " cannot be read: its coordinates are not those of a " + kind;
                break;
            }
            std::string alone = "{\"type\":\"" + kind + "\",\"coordinates\":";
            write_value(*c, alone);
            alone += '}';
            GeosGeometry read(GEOSGeoJSONReader_readGeometry_r(h, reader, alone.c_str()), GeosDeleter{h});
            Reading::Feature f{static_cast<int>(k + 1), {}};
            if (!read || !take_polygons(geos, read.get(), f.polygons))
                why = feature + " cannot be read: " + geos.error();
            else
                r.features.push_back(std::move(f));
        } else {
            why = "it is not GeoJSON: " + feature + " has no geometry type of GeoJSON's";
        }
    }
    GEOSGeoJSONReader_destroy_r(h, reader);
    return why;
}

}  // namespace area
