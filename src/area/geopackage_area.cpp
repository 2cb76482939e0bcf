// A GeoPackage area: the polygons of one feature layer, opened read-only
// with SQLite. The layers are the `features` tables of gpkg_contents with
// their geometry columns; a layer is one of polygons when its declared type
// is (POLYGON, MULTIPOLYGON and their curved kinds) or, declared GEOMETRY or
// a collection, when a feature of it is. Each feature is a GeoPackage
// geometry blob: a header that we read here, with its bounds checked, then
// WKB, whose frame we walk before GEOS reads it so that GEOS is only given
// a polygon or a multipolygon of polygons that fits in the blob.
#include "platform.h"
#include "reading.h"

#include <sqlite3.h>

#include <cstdint>
#include <cstring>
#include <memory>

namespace area {

namespace {

struct DbCloser {
    void operator()(sqlite3 *db) const { sqlite3_close_v2(db); }
};
struct StatementFinalizer {
    void operator()(sqlite3_stmt *s) const { sqlite3_finalize(s); }
};
using Statement = std::unique_ptr<sqlite3_stmt, StatementFinalizer>;

Statement prepare(sqlite3 *db, const std::string &sql) {
    sqlite3_stmt *s = nullptr;
    if (sqlite3_prepare_v2(db, sql.c_str(), static_cast<int>(sql.size()), &s, nullptr) != SQLITE_OK) {
        sqlite3_finalize(s);
        return nullptr;
    }
    return Statement(s);
}

std::string text_of(sqlite3_stmt *s, int column) {
    const unsigned char *t = sqlite3_column_text(s, column);
    return t != nullptr ? std::string(reinterpret_cast<const char *>(t), sqlite3_column_bytes(s, column)) : "";
}

std::string upper(std::string s) {
    for (char &c : s)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return s;
}

// An SQL identifier, quoted.
std::string quoted(const std::string &name) {
    std::string q = "\"";
    for (const char c : name) q += c == '"' ? std::string("\"\"") : std::string(1, c);
    return q + '"';
}

// What a feature's geometry is.
enum class Kind { polygon, curved, points, lines, collection, other, damaged };

// The kind that WKB's base type number gives (GEOS's reading of the number:
// ISO's thousands and the extended form's high bits are dimensions).
Kind kind_of_type(uint32_t base) {
    switch (base) {
        case 3: case 6: return Kind::polygon;
        case 10: case 12: case 14: return Kind::curved;
        case 1: case 4: return Kind::points;
        case 2: case 5: case 8: case 9: case 11: case 13: return Kind::lines;
        case 7: return Kind::collection;
        default: return Kind::other;
    }
}

// A walk over WKB's frame, every read checked against the end.
struct Wkb {
    const uint8_t *p;
    size_t n, at = 0;
    bool little = true;

    bool u32(uint32_t &v) {
        if (n - at < 4) return false;
        const uint8_t *b = p + at;
        v = little ? uint32_t{b[0]} | uint32_t{b[1]} << 8 | uint32_t{b[2]} << 16 | uint32_t{b[3]} << 24
                   : uint32_t{b[3]} | uint32_t{b[2]} << 8 | uint32_t{b[1]} << 16 | uint32_t{b[0]} << 24;
        at += 4;
        return true;
    }
    // A geometry's byte order and type: its base type and its ordinates per point.
    bool header(uint32_t &base, uint32_t &dims) {
        if (n - at < 1 || p[at] > 1) return false;
        little = p[at++] == 1;
        uint32_t type;
        if (!u32(type)) return false;
        base = (type & 0xffff) % 1000;
        const uint32_t iso = (type & 0xffff) / 1000;
        const bool z = iso == 1 || iso == 3 || (type & 0x80000000u) != 0;
        const bool m = iso == 2 || iso == 3 || (type & 0x40000000u) != 0;
        dims = 2 + z + m;
        uint32_t srid;
        return (type & 0x20000000u) == 0 || u32(srid);
    }
    bool polygon(uint32_t dims) {
        uint32_t rings;
        if (!u32(rings)) return false;
        for (uint32_t i = 0; i < rings; ++i) {
            uint32_t points;
            if (!u32(points)) return false;
            const uint64_t bytes = uint64_t{points} * dims * 8;
            if (bytes > n - at) return false;
            at += static_cast<size_t>(bytes);
        }
        return true;
    }
};

// The kind of a WKB geometry; `damaged` when a polygon's frame does not fit.
Kind kind_of_wkb(const uint8_t *p, size_t n) {
    Wkb w{p, n};
    uint32_t base, dims;
    if (!w.header(base, dims)) return Kind::damaged;
    if (base == 3) return w.polygon(dims) ? Kind::polygon : Kind::damaged;
    if (base != 6) return kind_of_type(base);
    uint32_t parts;
    if (!w.u32(parts)) return Kind::damaged;
    for (uint32_t i = 0; i < parts; ++i)
        if (!w.header(base, dims) || base != 3 || !w.polygon(dims)) return Kind::damaged;
    return Kind::polygon;
}

// The WKB inside a GeoPackage geometry blob: "GP", version 0 (1.0), flags
// (bit 0 the header's byte order, bits 1-3 the envelope's kind, bit 5 an
// extended geometry), the srs_id, the envelope, then WKB. Null when the
// header is not one.
const uint8_t *wkb_of(const uint8_t *blob, size_t n, size_t &wkb_size) {
    constexpr size_t kHeader = 8;
    constexpr size_t kEnvelope[] = {0, 32, 48, 48, 64};
    if (n < kHeader || blob[0] != 'G' || blob[1] != 'P' || blob[2] != 0) return nullptr;
    const uint8_t flags = blob[3];
    const unsigned envelope = (flags >> 1) & 7;
    if ((flags & 0x20) != 0 || envelope >= sizeof kEnvelope / sizeof kEnvelope[0]) return nullptr;
    const size_t start = kHeader + kEnvelope[envelope];
    if (n < start) return nullptr;
    wkb_size = n - start;
    return blob + start;
}

struct Layer {
    std::string table, column, type;
    int64_t srs_id = 0;
};

bool declared_polygons(const Layer &l) {
    const std::string t = upper(l.type);
    return t == "POLYGON" || t == "MULTIPOLYGON" || t == "CURVEPOLYGON" || t == "MULTISURFACE" || t == "SURFACE";
}
bool declared_other(const Layer &l, Reading &r) {
    const std::string t = upper(l.type);
    if (t == "POINT" || t == "MULTIPOINT") return r.points = r.any_feature = true;
    if (t == "LINESTRING" || t == "MULTILINESTRING" || t == "CIRCULARSTRING" || t == "COMPOUNDCURVE" ||
        t == "CURVE" || t == "MULTICURVE")
        return r.lines = r.any_feature = true;
    return false;
}

class GeoPackage {
public:
    explicit GeoPackage(sqlite3 *db) : db_(db) {}

    // The feature layers, by name; "" or the reason they cannot be had.
    std::string layers(std::vector<Layer> &out) {
        Statement s = prepare(db_,
                              "SELECT c.table_name, g.column_name, g.geometry_type_name, g.srs_id "
                              "FROM gpkg_contents c JOIN gpkg_geometry_columns g ON g.table_name = c.table_name "
                              "WHERE c.data_type = 'features' ORDER BY c.table_name");
        if (!s) return unreadable() ? "it cannot be read" : "it is not a GeoPackage";
        int rc;
        while ((rc = sqlite3_step(s.get())) == SQLITE_ROW)
            out.push_back(Layer{text_of(s.get(), 0), text_of(s.get(), 1), text_of(s.get(), 2),
                                sqlite3_column_int64(s.get(), 3)});
        return rc == SQLITE_DONE ? "" : "it cannot be read";
    }

    // Reads the layer's features: only their kinds into `r`, until the
    // first polygon, when `geos` is null; every polygon feature with it.
    std::string features(const Layer &l, Geos *geos, Reading &r) {
        Statement s = prepare(db_, "SELECT " + quoted(l.column) + " FROM " + quoted(l.table));
        if (!s) return "its layer " + l.table + " cannot be read";
        GEOSWKBReader *reader = geos != nullptr ? GEOSWKBReader_create_r(geos->handle()) : nullptr;
        std::string why;
        int rc = SQLITE_DONE, number = 0;
        while (why.empty() && (rc = sqlite3_step(s.get())) == SQLITE_ROW) {
            ++number;
            if (sqlite3_column_type(s.get(), 0) == SQLITE_NULL) continue;
            const uint8_t *blob = static_cast<const uint8_t *>(sqlite3_column_blob(s.get(), 0));
            const size_t n = static_cast<size_t>(sqlite3_column_bytes(s.get(), 0));
            const std::string feature = "feature " + std::to_string(number);
            size_t size = 0;
            const uint8_t *wkb = blob != nullptr ? wkb_of(blob, n, size) : nullptr;
            const Kind kind = wkb != nullptr ? kind_of_wkb(wkb, size) : Kind::damaged;
            if (kind == Kind::damaged) {
                if (geos != nullptr) why = feature + " cannot be read: its geometry is no GeoPackage geometry";
                continue;
            }
            r.any_feature = true;
            switch (kind) {
                case Kind::points: r.points = true; continue;
                case Kind::lines: r.lines = true; continue;
                case Kind::collection: r.collections = true; continue;
                case Kind::other: r.others = true; continue;
                default: break;
            }
            if (geos == nullptr) {  // a polygon layer
                r.features.push_back(Reading::Feature{number, {}});
                break;
            }
            if (kind == Kind::curved) {
                why = feature + " is a curved polygon, which is not read";
                continue;
            }
            GEOSContextHandle_t h = geos->handle();
            GeosGeometry g(reader != nullptr ? GEOSWKBReader_read_r(h, reader, wkb, size) : nullptr, GeosDeleter{h});
            Reading::Feature f{number, {}};
            if (!g || !take_polygons(*geos, g.get(), f.polygons)) why = feature + " cannot be read: " + geos->error();
            else r.features.push_back(std::move(f));
        }
        if (reader != nullptr) GEOSWKBReader_destroy_r(geos->handle(), reader);
        if (why.empty() && rc != SQLITE_ROW && rc != SQLITE_DONE) why = "its layer " + l.table + " cannot be read";
        return why;
    }

    // The layer's coordinate system: "EPSG:n" where EPSG defines it, else
    // its definition; none for the undefined systems.
    std::string crs(const Layer &l, Reading &r) {
        Statement s = prepare(db_,
                              "SELECT organization, organization_coordsys_id, definition "
                              "FROM gpkg_spatial_ref_sys WHERE srs_id = ?");
        const std::string id = std::to_string(l.srs_id);
        if (!s) return "it is not a GeoPackage";
        sqlite3_bind_int64(s.get(), 1, l.srs_id);
        if (sqlite3_step(s.get()) != SQLITE_ROW) return "its spatial reference " + id + " is not in gpkg_spatial_ref_sys";
        const std::string organization = upper(text_of(s.get(), 0)), definition = text_of(s.get(), 2);
        const int64_t code = sqlite3_column_int64(s.get(), 1);
        if (organization == "EPSG" && code > 0) r.crs = "EPSG:" + std::to_string(code);
        else if (!definition.empty() && upper(definition) != "UNDEFINED") r.crs = definition;
        r.crs_named = "its spatial reference " + id;
        return "";
    }

private:
    bool unreadable() const {
        const int e = sqlite3_errcode(db_);
        return e == SQLITE_NOTADB || e == SQLITE_CORRUPT || e == SQLITE_CANTOPEN || e == SQLITE_IOERR;
    }
    sqlite3 *db_;
};

std::string names_of(const std::vector<const Layer *> &layers) {
    std::string s;
    for (const Layer *l : layers) s += (s.empty() ? "" : ", ") + l->table;
    return s;
}

// The file's name as an SQLite URI that opens it as a file nobody writes:
// no lock taken, and no -wal or -shm file made beside it.
std::string immutable_uri(const std::string &name) {
    // An absolute name after an empty authority, so that "//" begins none.
    std::string uri = !name.empty() && name[0] == '/' ? "file://" : "file:";
    for (const char c : name) {
        if (c == '%') uri += "%25";
        else if (c == '?') uri += "%3f";
        else if (c == '#') uri += "%23";
        else uri += c;
    }
    return uri + "?immutable=1";
}

}  // namespace

std::string read_geopackage(Geos &geos, const std::string &name, const std::string &layer, Reading &r) {
    // Read-only, and where no write-ahead log lies beside it (whose writer
    // may still be at work), as a file nobody writes.
    const bool logged = platform::kind_of((name + "-wal").c_str()) != platform::Kind::none;
    sqlite3 *raw = nullptr;
    const int rc = logged ? sqlite3_open_v2(name.c_str(), &raw, SQLITE_OPEN_READONLY, nullptr)
                          : sqlite3_open_v2(immutable_uri(name).c_str(), &raw, SQLITE_OPEN_READONLY | SQLITE_OPEN_URI,
                                            nullptr);
    std::unique_ptr<sqlite3, DbCloser> db(raw);
    if (rc != SQLITE_OK) return "it cannot be read";
    // Nothing in the file is trusted to run: no functions from its schema,
    // no writes to its own tables.
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_DEFENSIVE, 1, nullptr);
    sqlite3_db_config(db.get(), SQLITE_DBCONFIG_TRUSTED_SCHEMA, 0, nullptr);
    GeoPackage gpkg(db.get());
    std::vector<Layer> layers;
    std::string why = gpkg.layers(layers);
    if (!why.empty()) return why;
    std::vector<const Layer *> all;
    for (const Layer &l : layers) all.push_back(&l);

    const Layer *chosen = nullptr;
    if (!layer.empty()) {
        for (const Layer &l : layers)
            if (l.table == layer) chosen = &l;
        // SQLite's names are the same in any letter case.
        for (const Layer &l : layers)
            if (chosen == nullptr && upper(l.table) == upper(layer)) chosen = &l;
        if (chosen == nullptr)
            return "it holds no layer " + layer +
                   (layers.empty() ? ", and no other" : "; its layers are " + names_of(all));
    } else {
        std::vector<const Layer *> polygonal;
        for (const Layer &l : layers) {
            if (declared_polygons(l)) {
                polygonal.push_back(&l);
                continue;
            }
            if (declared_other(l, r)) continue;
            Reading kinds;
            why = gpkg.features(l, nullptr, kinds);
            if (!why.empty()) return why;
            r.points |= kinds.points;
            r.lines |= kinds.lines;
            r.collections |= kinds.collections;
            r.others |= kinds.others;
            r.any_feature |= kinds.any_feature;
            if (!kinds.features.empty()) polygonal.push_back(&l);
        }
        if (polygonal.empty()) return r.no_polygon();
        if (polygonal.size() > 1)
            return "it holds " + std::to_string(polygonal.size()) + " polygon layers (" + names_of(polygonal) +
                   "): --clip-layer names one";
        chosen = polygonal[0];
        r = Reading();
    }
    why = gpkg.features(*chosen, &geos, r);
    if (!why.empty()) return why;
    if (r.features.empty()) return "its layer " + chosen->table + " " + r.no_polygon().substr(3);
    return gpkg.crs(*chosen, r);
}

}  // namespace area
