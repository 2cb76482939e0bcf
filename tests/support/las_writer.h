// A small LAS writer for tests, benchmarks and the bundled example.
//
// It lays out every byte itself, field by field at the offsets of the ASPRS
// LAS 1.0-1.2 standard, without the project's own record structs, so that a
// misreading in those structs is not mirrored here. It writes well-formed
// files of every version and point format and, through the options of
// LasOptions, deliberately broken ones.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lastest {

struct Point {
    int32_t  x = 0, y = 0, z = 0;
    uint16_t intensity = 0;
    uint8_t  bitfield = 0;
    uint8_t  classification = 0;
    int8_t   scan_angle = 0;
    uint8_t  user_data = 0;           // FileMarker in LAS 1.0
    uint16_t point_source_id = 0;     // UserBitField in LAS 1.0
    double   gps_time = 0.0;          // formats 1 and 3
    uint16_t red = 0, green = 0, blue = 0;  // formats 2 and 3
};

// A variable length record: a 54-byte header, then its data.
struct Vlr {
    std::string user_id = "LASF_Projection";  // 16 bytes at most
    uint16_t record_id = 0;
    std::vector<uint8_t> data;
    int32_t declared_length = -1;  // header field; -1: the size of the data
};

// Projection records: a GeoTIFF key directory of (key ID, location, count,
// value or offset) entries, whose header declares `declared_keys` keys (-1:
// as many as given); the double parameters; a text (the ASCII parameters or
// a WKT), with its terminating NUL or without.
Vlr geokey_directory(const std::vector<std::vector<uint16_t>> &keys, int declared_keys = -1);
Vlr geo_doubles(const std::vector<double> &values);
Vlr text_record(uint16_t record_id, const std::string &text, bool terminated = true);

// User-defined GeoTIFF keys of a transverse Mercator on NAD83 (EPSG 4269) in
// US survey feet: latitude of origin 37.5, central meridian -85.5, scale
// 0.9999, false easting 3937 US feet (1200 m); the directory, its doubles
// and its ASCII citation (without a terminator, as many writers store it).
std::vector<Vlr> user_defined_tm_records();

struct LasOptions {
    std::string signature = "LASF";   // only the first four bytes are written
    uint8_t  version_major = 1;
    uint8_t  version_minor = 2;
    uint8_t  point_format = 3;
    int      record_length = -1;      // header field; -1: the format's own size
    uint16_t header_size = 227;       // bytes of header written (extra ones are zero)
    std::vector<uint32_t> vlr_payloads;  // one variable length record per entry
    std::vector<Vlr> vlrs;            // further records, after those of vlr_payloads
    int64_t  declared_vlrs = -1;      // header's record count; -1: the records written
    int64_t  offset_to_data = -1;     // -1: right after the header and the VLRs
    int64_t  declared_points = -1;    // -1: the number of points written
    double   scale[3] = {0.01, 0.01, 0.01};
    double   offset[3] = {0.0, 0.0, 0.0};
    bool     explicit_bounds = false; // false: bounds computed from the points
    double   min[3] = {0, 0, 0};
    double   max[3] = {0, 0, 0};
    uint32_t trailing_bytes = 0;      // bytes after the last record
    int64_t  truncate_to = -1;        // cut the finished file to this size
};

// The size of a point record of the format (20, 28, 26 or 34; 20 for others).
unsigned natural_record_length(unsigned point_format);

// The LAS type index (1 to 8) that a version and format pair is, or 0.
int las_type_of(unsigned version_minor, unsigned point_format);

// The options of a file of LAS type index 1 to 8, with everything else left at its default.
LasOptions options_for_type(int las_type);

// The whole file in memory.
std::vector<uint8_t> make_las(const LasOptions &opts, const std::vector<Point> &points);

// Writes a file; the points come from gen(0) ... gen(count - 1), so that files
// of any size are written in bounded memory. Throws std::runtime_error when
// the file cannot be written.
void write_las(const std::string &path, const LasOptions &opts, uint64_t count,
               const std::function<Point(uint64_t)> &gen);
void write_las(const std::string &path, const LasOptions &opts, const std::vector<Point> &points);

// One encoded point record of the format and record length the options give.
std::vector<uint8_t> encode_point(const LasOptions &opts, const Point &p);

// Deterministic, varied points: every field takes many values, including the
// extremes of the narrow ones.
Point varied_point(uint64_t i);

// Points of a plausible airborne survey: rolling terrain under scattered
// trees and a few buildings, scanned in lines, with several returns per pulse
// under the canopy, GPS week seconds and colour. Coordinates are in
// centimetres with a scale of 0.01 around the file's offsets.
Point survey_point(uint64_t i);

}  // namespace lastest
