// Shapefile geometry output: the .shp and .shx headers and the PointZ records.
//
// Both headers are written complete before any record: every record has the
// same size, so the file lengths follow from the point count, and the bounds
// are the LAS header's. Records are then appended one chunk at a time, both
// files staying open from their headers to their close; a run whose counts
// or bounds are known only at the end writes the headers anew then.
#pragma once

#include "LiDAR.h"
#include "output.h"

#include <cstddef>
#include <cstdint>
#include <string>

// Points per chunk: the most that the driver hands to an appender at once and
// the capacity of the coordinate buffers.
inline constexpr int32_t kChunkRecords = 1000000;

// The most points a shapefile can hold: the .shp length field, in 16-bit words
// (50 + 18 per point), must fit a signed 32-bit integer.
inline constexpr uint32_t kMaxShapefilePoints = 119304644;
static_assert(50 + 18 * int64_t{kMaxShapefilePoints} <= INT32_MAX &&
                  50 + 18 * (int64_t{kMaxShapefilePoints} + 1) > INT32_MAX,
              "the largest point count whose .shp length fits its field");

// Byte sizes of the files' parts.
inline constexpr int kShapeHeaderBytes = 100;
inline constexpr int kPointZRecordBytes = 36;  // 8-byte record header, type, X, Y, Z
inline constexpr int kIndexEntryBytes = 8;

// Coordinate buffers of one chunk (kChunkRecords doubles each), process-wide.
// The PointZ appenders fill them with the chunk's real coordinates.
extern double *_Xvec;
extern double *_Yvec;
extern double *_Zvec;

// Allocates the three buffers, those not yet allocated; false when an
// allocation fails. Allocated once, they are kept for the life of the process.
bool allocate_coordinate_buffers();

// Byte order reversal; the sign plays no part (the bit pattern is reversed).
constexpr uint16_t swap_uint16(uint16_t v) { return static_cast<uint16_t>((v >> 8) | (v << 8)); }
constexpr int16_t swap_int16(int16_t v) { return static_cast<int16_t>(swap_uint16(static_cast<uint16_t>(v))); }
constexpr uint32_t swap_uint32(uint32_t v) {
    return (v >> 24) | ((v >> 8) & 0x0000FF00u) | ((v << 8) & 0x00FF0000u) | (v << 24);
}
constexpr int32_t swap_int32(int32_t v) { return static_cast<int32_t>(swap_uint32(static_cast<uint32_t>(v))); }
constexpr uint64_t swap_uint64(uint64_t v) {
    return (uint64_t{swap_uint32(static_cast<uint32_t>(v))} << 32) | swap_uint32(static_cast<uint32_t>(v >> 32));
}
constexpr int64_t swap_int64(int64_t v) { return static_cast<int64_t>(swap_uint64(static_cast<uint64_t>(v))); }

// The index file's name: `shpname` less its last four characters, plus ".shx".
std::string shx_name_of(const char *shpname);

// Create (or truncate) the main and the index file and write their 100-byte
// headers for `nReturns` points and the given bounds, as passed.
void createSHPwHeader(const char *shpname, int32_t nReturns, double Xmin, double Ymin, double Xmax,
                      double Ymax, double Zmin, double Zmax);
void createSHXwHeader(const char *shpname, int32_t nReturns, double Xmin, double Ymin, double Xmax,
                      double Ymax, double Zmin, double Zmax);

// The main and the index file of a shapefile, open while its records are written.
struct ShapeOutputs {
    Output shp, shx;
};

// Creates (or truncates) the main and the index file of `shpname` with
// headers for `nReturns` points and `bounds` (Xmin, Ymin, Xmax, Ymax, Zmin,
// Zmax), and keeps both open for their records.
void create_shapes(ShapeOutputs &s, const std::string &shpname, int32_t nReturns, const double bounds[6]);

// Writes both headers anew, for `nReturns` points and `bounds`, once their
// records are known.
void rewrite_shape_headers(ShapeOutputs &s, int32_t nReturns, const double bounds[6]);

// Writes what is staged and closes both files.
void close_shapes(ShapeOutputs &s);

// Appends `n` PointZ records, numbered from `first` (counted from 1), of the
// real coordinates x[i], y[i], z[i], and their index entries: the bytes the
// point records' path writes for the same coordinates. With `bounds`, as
// append_pointz_records widens them.
void append_pointz_given(ShapeOutputs &s, const double *x, const double *y, const double *z, int32_t n,
                         int64_t first, double *bounds = nullptr, bool fresh = false);

// Every point layout starts with its integer X, Y and Z.
inline constexpr size_t kXAt = 0, kYAt = 4, kZAt = 8;
static_assert(offsetof(LAS10fm0, X) == kXAt && offsetof(LAS10fm0, Y) == kYAt && offsetof(LAS10fm0, Z) == kZAt &&
                  offsetof(LAS12fm3, Z) == kZAt,
              "coordinates lead every record");

// The header's scale factors and offsets of X, Y and Z.
struct CoordinateScaling {
    double scale[3];
    double offset[3];
};

// Append the PointZ records of `nRecords` point records lying `stride` bytes
// apart to the main file and their entries to the index file, numbered from
// `first` (counted from 1); their real coordinates go into the coordinate
// buffers from index `slot` (slot + nRecords <= kChunkRecords), unless
// `keep_coordinates` is false (the buffers' pages then stay untouched).
// With `bounds` (Xmin, Ymin, Xmax, Ymax, Zmin, Zmax), the records widen
// them, or make them anew when `fresh`.
void append_pointz_records(ShapeOutputs &s, const unsigned char *records, size_t stride,
                           const CoordinateScaling &scaling, int32_t nRecords, int64_t first, int32_t slot,
                           bool keep_coordinates = true, double *bounds = nullptr, bool fresh = false);

// Append the PointZ records of one chunk of `nRecords` points (at most
// kChunkRecords) to the main file and their entries to the index file. The
// point at index i of chunk `chunkID` is record chunkID x kChunkRecords + i + 1.
void addtoSHP1(const char *shpname, const LAS10fm0 *p, const LAS10Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP2(const char *shpname, const LAS10fm1 *p, const LAS10Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP3(const char *shpname, const LAS11fm0 *p, const LAS11Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP4(const char *shpname, const LAS11fm1 *p, const LAS11Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP5(const char *shpname, const LAS12fm0 *p, const LAS12Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP6(const char *shpname, const LAS12fm1 *p, const LAS12Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP7(const char *shpname, const LAS12fm2 *p, const LAS12Header *ph, int32_t nRecords, int32_t chunkID);
void addtoSHP8(const char *shpname, const LAS12fm3 *p, const LAS12Header *ph, int32_t nRecords, int32_t chunkID);
