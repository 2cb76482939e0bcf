#include "coordinate_system.h"

#include "output.h"
#include "proj_handles.h"

#include <cstring>
#include <memory>

#include <geo_normalize.h>
#include <geo_simpletags.h>
#include <geo_tiffp.h>
#include <geotiff.h>
#include <geovalues.h>
#include <proj.h>
#include <proj_experimental.h>

namespace {

// GeoTIFF key values: an EPSG code lies between 1 and 32766; 32767 says the
// keys define the item themselves.
constexpr int kUserDefined = KvUserDefined;
bool is_code(int value) { return value > 0 && value < kUserDefined; }

constexpr uint16_t kGeoKeyInline = 0;  // TIFFTagLocation of a value held in the key itself

// A key directory is a header of four shorts (version, revision, minor
// revision, key count) and four shorts per key (ID, location, count, value
// or offset). Its frame is sound when the version is 1 and the declared keys
// fit the record.
bool frame_is_sound(const std::vector<uint16_t> &k) { return k.size() >= 4 && k[0] == 1 && k.size() >= 4 + 4 * size_t{k[3]}; }

// Whether a key's value lies where its location says.
bool key_is_sound(const ProjectionRecords &r, const uint16_t *key) {
    const size_t location = key[1], n = key[2], offset = key[3];
    if (location == kGeoKeyInline) return n <= 1;
    if (location == kGeoDoubleParamsRecord) return offset + n <= r.doubles.size();
    if (location == kGeoAsciiParamsRecord) return offset + n <= r.ascii.size();
    return false;
}

// A directory is sound when its frame and every key are.
bool directory_is_sound(const ProjectionRecords &r) {
    if (!frame_is_sound(r.keys)) return false;
    for (size_t i = 0; i < r.keys[3]; ++i)
        if (!key_is_sound(r, &r.keys[4 + 4 * i])) return false;
    return true;
}

// The value of a key held in the directory itself, or 0 when it is absent.
int inline_key(const std::vector<uint16_t> &k, uint16_t id) {
    for (size_t i = 0; i < k[3]; ++i)
        if (k[4 + 4 * i] == id && k[5 + 4 * i] == kGeoKeyInline) return k[7 + 4 * i];
    return 0;
}

// The horizontal part of a coordinate system: a compound system's first
// component, a bound system's source, a 3D geographic system's 2D form.
// Anything but a projected or 2D geographic system gives none.
Pj horizontal(PJ_CONTEXT *ctx, Pj crs) {
    for (int step = 0; crs && step < 4; ++step) {
        switch (proj_get_type(crs.get())) {
            case PJ_TYPE_PROJECTED_CRS:
            case PJ_TYPE_GEOGRAPHIC_2D_CRS: return crs;
            case PJ_TYPE_COMPOUND_CRS: crs.reset(proj_crs_get_sub_crs(ctx, crs.get(), 0)); break;
            case PJ_TYPE_BOUND_CRS: crs.reset(proj_get_source_crs(ctx, crs.get())); break;
            case PJ_TYPE_GEOGRAPHIC_3D_CRS: crs.reset(proj_crs_demote_to_2D(ctx, nullptr, crs.get())); break;
            default: return nullptr;
        }
    }
    return nullptr;
}

Pj from_epsg(PJ_CONTEXT *ctx, int code) {
    const std::string text = std::to_string(code);
    return horizontal(ctx, Pj(proj_create_from_database(ctx, "EPSG", text.c_str(), PJ_CATEGORY_CRS, 0, nullptr)));
}

void quiet(GTIF *, int, const char *, ...) {}

struct GeoTiffKeys {
    ST_TIFF *tags = nullptr;
    GTIF *gtif = nullptr;
    GTIFDefn *defn = nullptr;
    ~GeoTiffKeys() {
        if (defn != nullptr) GTIFFreeDefn(defn);
        if (gtif != nullptr) GTIFFree(gtif);
        if (tags != nullptr) ST_Destroy(tags);
    }
};

// The name a citation key gives, up to its '|'; none for "NAME = value"
// lists, which name parts rather than the whole.
std::string citation(GTIF *gtif, geokey_t key) {
    char text[256] = {};
    if (GTIFKeyGetASCII(gtif, key, text, sizeof text) <= 0) return "";
    std::string s(text, strnlen(text, sizeof text));
    s = s.substr(0, s.find('|'));
    return s.find('=') == std::string::npos ? s : "";
}

// The system that user-defined keys describe, as libgeotiff normalises
// them: its projection and units through the PROJ string libgeotiff derives,
// on the EPSG geographic system or datum that the keys name, when they do.
Pj from_user_defined_keys(PJ_CONTEXT *ctx, const ProjectionRecords &r) {
    GeoTiffKeys g;
    g.tags = ST_Create();
    if (g.tags == nullptr) return nullptr;
    std::vector<uint16_t> keys = r.keys;
    std::vector<double> doubles = r.doubles;
    std::string ascii = r.ascii;  // c_str() adds the terminator the tag needs
    ST_SetKey(g.tags, kGeoKeyDirectoryRecord, static_cast<int>(keys.size()), STT_SHORT, keys.data());
    if (!doubles.empty())
        ST_SetKey(g.tags, kGeoDoubleParamsRecord, static_cast<int>(doubles.size()), STT_DOUBLE, doubles.data());
    if (!ascii.empty())
        ST_SetKey(g.tags, kGeoAsciiParamsRecord, static_cast<int>(ascii.size() + 1), STT_ASCII, &ascii[0]);

    TIFFMethod methods;
    GTIFSetSimpleTagsMethods(&methods);
    g.gtif = GTIFNewWithMethodsEx(g.tags, &methods, quiet, nullptr);
    if (g.gtif == nullptr) return nullptr;
    GTIFAttachPROJContext(g.gtif, ctx);
    g.defn = GTIFAllocDefn();
    if (g.defn == nullptr || !GTIFGetDefn(g.gtif, g.defn)) return nullptr;
    const GTIFDefn &d = *g.defn;
    const bool projected = d.Model == ModelTypeProjected;
    if (!projected && d.Model != ModelTypeGeographic) return nullptr;

    char *proj4 = GTIFGetProj4Defn(g.defn);
    if (proj4 == nullptr) return nullptr;
    const std::string definition = std::string(proj4) + " +type=crs";
    GTIFFreeMemory(proj4);
    Pj crs = horizontal(ctx, Pj(proj_create(ctx, definition.c_str())));
    if (!crs || (proj_get_type(crs.get()) == PJ_TYPE_PROJECTED_CRS) != projected) return nullptr;

    // A PROJ string knows the ellipsoid, not the datum: put back the
    // geographic system that the keys name.
    Pj geographic;
    if (is_code(d.GCS)) {
        geographic = from_epsg(ctx, d.GCS);
    } else if (is_code(d.Datum)) {
        // The EPSG geographic system of the named datum.
        const std::string code = std::to_string(d.Datum);
        PJ_OBJ_LIST *found = proj_query_geodetic_crs_from_datum(ctx, "EPSG", "EPSG", code.c_str(), "geographic 2D");
        if (found != nullptr && proj_list_get_count(found) > 0) geographic.reset(proj_list_get(ctx, found, 0));
        proj_list_destroy(found);
    }
    if (geographic && proj_get_type(geographic.get()) == PJ_TYPE_GEOGRAPHIC_2D_CRS)
        crs = projected ? Pj(proj_crs_alter_geodetic_crs(ctx, crs.get(), geographic.get())) : std::move(geographic);
    if (!crs) return nullptr;

    std::string name = projected ? citation(g.gtif, PCSCitationGeoKey) : citation(g.gtif, GeogCitationGeoKey);
    if (name.empty()) name = citation(g.gtif, GTCitationGeoKey);
    if (!name.empty()) {
        Pj named(proj_alter_name(ctx, crs.get(), name.c_str()));
        if (named) crs = std::move(named);
    }
    return crs;
}

// An EPSG code held in a key itself needs only a sound frame: a key elsewhere
// whose value lies outside its parameters (as some writers leave a citation)
// makes that key unusable, not the code. What user-defined keys describe
// needs every key.
Pj from_keys(PJ_CONTEXT *ctx, const ProjectionRecords &r) {
    if (!frame_is_sound(r.keys)) return nullptr;
    const int pcs = inline_key(r.keys, ProjectedCSTypeGeoKey);
    if (is_code(pcs)) {
        if (Pj crs = from_epsg(ctx, pcs)) return crs;
    }
    const int gcs = inline_key(r.keys, GeographicTypeGeoKey);
    if (inline_key(r.keys, GTModelTypeGeoKey) == ModelTypeGeographic && is_code(gcs)) {
        if (Pj crs = from_epsg(ctx, gcs)) return crs;
    }
    if (!directory_is_sound(r)) return nullptr;
    return from_user_defined_keys(ctx, r);
}

Pj from_wkt(PJ_CONTEXT *ctx, const std::string &wkt) {
    if (wkt.empty()) return nullptr;
    PROJ_STRING_LIST warnings = nullptr, errors = nullptr;
    Pj crs(proj_create_from_wkt(ctx, wkt.c_str(), nullptr, &warnings, &errors));
    proj_string_list_destroy(warnings);
    proj_string_list_destroy(errors);
    return horizontal(ctx, std::move(crs));
}

}  // namespace

std::string esri_wkt_of(const ProjectionRecords &records) {
    // Most files carry no records at all: PROJ is not started for them.
    if (records.empty()) return "";
    const BorrowedProjContext ctx;
    if (!ctx) return "";

    Pj crs = records.keys.empty() ? nullptr : from_keys(ctx.get(), records);
    if (!crs) crs = from_wkt(ctx.get(), records.wkt);
    if (!crs) return "";
    const char *const options[] = {"MULTILINE=NO", nullptr};
    const char *text = proj_as_wkt(ctx.get(), crs.get(), PJ_WKT1_ESRI, options);
    return text != nullptr ? text : "";
}

void write_prj(const char *name, const std::string &text) {
    Output out;
    output_open(out, name, "wb", kCreateFailure);
    output_write_at(out, 0, text.data(), text.size());
    output_close(out);
}
