// A small LAS writer for tests, benchmarks and the bundled example.
//
// It lays out every byte itself, field by field at the offsets of the ASPRS
// LAS 1.0-1.4 standard, without the project's own record structs, so that a
// misreading in those structs is not mirrored here. It writes well-formed
// files of every version and point format and, through the options of
// LasOptions, deliberately broken ones.
#pragma once

#include <array>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lastest {

struct Point {
    int32_t  x = 0, y = 0, z = 0;
    uint16_t intensity = 0;
    uint8_t  bitfield = 0;            // byte 14: return bits; formats 6-10: return number, number of returns
    uint8_t  classification = 0;
    int8_t   scan_angle = 0;          // formats 0-5
    uint8_t  user_data = 0;           // FileMarker in LAS 1.0
    uint16_t point_source_id = 0;     // UserBitField in LAS 1.0
    double   gps_time = 0.0;          // formats 1, 3, 4 to 10
    uint16_t red = 0, green = 0, blue = 0;  // formats 2, 3, 5, 7, 8, 10
    // Formats 6-10 only:
    uint8_t  flags = 0;               // byte 15: classification flags, scanner channel, scan direction, edge
    int16_t  scan_angle_raw = 0;      // units of 0.006 degree
    uint16_t nir = 0;                 // formats 8 and 10
    std::array<uint8_t, 29> wave{};   // formats 4, 5, 9, 10: the waveform packet bytes
    std::vector<uint8_t> extra;       // the bytes after the format's standard length (zero-padded)
};

// A variable length record: a 54-byte header (60 for an EVLR), then its data.
struct Vlr {
    std::string user_id = "LASF_Projection";  // 16 bytes at most
    uint16_t record_id = 0;
    std::vector<uint8_t> data;
    int64_t declared_length = -1;  // header field; -1: the size of the data (an EVLR's wraps other negatives)
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

// One 192-byte descriptor of an Extra Bytes record. `no_data` holds the
// field's eight bytes (bits_of turns a double into them).
struct ExtraBytes {
    uint8_t data_type = 1;
    uint8_t options = 0;              // bit 0 no_data, bit 3 scale, bit 4 offset valid
    std::string name;                 // 32 bytes at most
    uint64_t no_data = 0;
    double scale = 0, offset = 0;
};
uint64_t bits_of(double d);
// The Extra Bytes record (user ID "LASF_Spec", record ID 4), for the VLRs or the EVLRs.
Vlr extra_bytes_record(const std::vector<ExtraBytes> &descriptors);

struct LasOptions {
    std::string signature = "LASF";   // only the first four bytes are written
    uint8_t  version_major = 1;
    uint8_t  version_minor = 2;
    uint8_t  point_format = 3;
    int      record_length = -1;      // header field; -1: the format's own size plus extra_bytes
    uint16_t extra_bytes = 0;         // bytes per record after the format's standard length
    int      header_size = -1;        // bytes of header written (extra ones are zero); -1: the version's
    uint16_t global_encoding = 0;
    std::vector<uint32_t> vlr_payloads;  // one variable length record per entry
    std::vector<Vlr> vlrs;            // further records, after those of vlr_payloads
    int64_t  declared_vlrs = -1;      // header's record count; -1: the records written
    int64_t  offset_to_data = -1;     // -1: right after the header and the VLRs
    int64_t  declared_points = -1;    // -1: the number of points written
    int64_t  legacy_points = -1;      // LAS 1.4 32-bit count; -1: the count for formats 0-5 if it fits, else 0
    std::vector<Vlr> evlrs;           // LAS 1.4: extended records (60-byte headers) after the points
    int64_t  start_of_evlrs = -1;     // -1: right after the points when there are EVLRs, else 0
    int64_t  declared_evlrs = -1;     // -1: the EVLRs written
    double   scale[3] = {0.01, 0.01, 0.01};
    double   offset[3] = {0.0, 0.0, 0.0};
    bool     explicit_bounds = false; // false: bounds computed from the points
    double   min[3] = {0, 0, 0};
    double   max[3] = {0, 0, 0};
    uint32_t trailing_bytes = 0;      // bytes after the last record
    int64_t  truncate_to = -1;        // cut the finished file to this size
};

// The standard size of a point record of formats 0 to 10 (20 for others).
unsigned natural_record_length(unsigned point_format);

// The public header block of a LAS 1.x version: 227, 235 (1.3) or 375 (1.4) bytes.
unsigned header_size_of(unsigned version_minor);

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
