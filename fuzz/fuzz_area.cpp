// Arbitrary bytes as the area of a clip, read by read_polygons. The first
// byte chooses the kind: a WKT POLYGON or MULTIPOLYGON (the bytes follow
// the word and a blank, up to a zero byte), a GeoJSON file, a GeoPackage, or a shapefile, whose .shp,
// .shx and .dbf lengths are three little-endian 16-bit numbers before their
// bytes, the rest being its .prj (a .dbf or .prj of no bytes is left out).
// The second byte's bits name a layer (--clip-layer lakes), a coordinate
// system (--clip-crs EPSG:25830), and whether the polygons read are moved
// into EPSG:3857. An area that is read must be one the clip indexes: its
// vertices (covered, as they were read), its bounds' corners and middle are
// tested, and boxes about them.
// A refusal must be one line that names the area.
#include "area.h"
#include "fuzz_common.h"

#include <cstring>
#include <string>

namespace {

enum Kind { kWktPolygon, kWktMultipolygon, kGeoJson, kGeoPackage, kShapefile, kKinds };

// Writes the bytes, or none at all, under `name` in the private folder.
std::string write_or_remove(const char *name, const uint8_t *data, size_t size, bool keep_empty) {
    const std::string path = std::string(fuzzing::work_dir()) + "/" + name;
    if (size == 0 && !keep_empty) {
        std::remove(path.c_str());
        return path;
    }
    return fuzzing::write_input(name, data, size);
}

std::string shapefile(const uint8_t *data, size_t size) {
    size_t lengths[3] = {0, 0, 0};
    for (int i = 0; i < 3 && size >= 2; ++i) {
        lengths[i] = data[0] | size_t{data[1]} << 8;
        data += 2;
        size -= 2;
    }
    const char *names[3] = {"area.shp", "area.shx", "area.dbf"};
    std::string shp;
    for (int i = 0; i < 3; ++i) {
        const size_t n = lengths[i] < size ? lengths[i] : size;
        const std::string path = write_or_remove(names[i], data, n, i < 2);
        if (i == 0) shp = path;
        data += n;
        size -= n;
    }
    write_or_remove("area.prj", data, size, false);
    return shp;
}

// `as_read`: the vertices are those read (moved ones may fall together).
void test_clip(const area::Polygons &p, bool as_read) {
    const area::Clip clip(p);
    const area::Box b = clip.bounds();
    volatile bool sink = false;
    const double xs[] = {b.xmin, (b.xmin + b.xmax) / 2, b.xmax}, ys[] = {b.ymin, (b.ymin + b.ymax) / 2, b.ymax};
    for (const double x : xs)
        for (const double y : ys) {
            sink = clip.covers(x, y);
            sink = clip.meets(area::Box{x - 1, y - 1, x, y});
        }
    int tested = 0;
    for (const area::Polygon &polygon : p.polygons)
        for (const area::Ring &r : polygon.rings)
            for (size_t i = 0; i < r.x.size() && i < r.y.size() && tested < 256; ++i, ++tested) {
                // A vertex lies on its polygon's boundary: covered.
                if (!clip.covers(r.x[i], r.y[i]) && as_read) __builtin_trap();
                sink = clip.covers(r.x[i] + 0.5, r.y[i] - 0.25);
            }
    (void)sink;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 2) return 0;
    const int kind = data[0] % kKinds;
    const uint8_t options = data[1];
    data += 2;
    size -= 2;
    std::string source, name;
    switch (kind) {
        case kWktPolygon:
        case kWktMultipolygon:
            source = (kind == kWktPolygon ? "POLYGON " : "MULTIPOLYGON ") +
                     std::string(reinterpret_cast<const char *>(data), strnlen(reinterpret_cast<const char *>(data), size));
            name = "the WKT text";
            break;
        case kGeoJson: source = name = fuzzing::write_input("area.geojson", data, size); break;
        case kGeoPackage: source = name = fuzzing::write_input("area.gpkg", data, size); break;
        default: source = name = shapefile(data, size); break;
    }
    const std::string layer = (options & 1) != 0 ? "lakes" : "";
    const std::string crs = (options & 2) != 0 ? "EPSG:25830" : "";
    area::Polygons p;
    std::string why = area::read_polygons(source, layer, crs, p);
    if (why.empty() && (options & 4) != 0 && !p.crs.empty()) why = area::transform_polygons(p, "EPSG:3857", name);
    if (!why.empty()) {
        const std::string start = "Cannot clip by " + name + ": ";
        if (why.compare(0, start.size(), start) != 0 || why.find('\n') != std::string::npos) __builtin_trap();
        return 0;
    }
    if (p.polygons.empty()) __builtin_trap();
    test_clip(p, (options & 4) == 0);
    return 0;
}
