// The variable length records of a LAS file that the conversion reads.
//
// The records lie between the public header block (HeaderSize bytes) and the
// point data (OffsetToData), each a 54-byte header followed by its data.
// LAS 1.4 adds extended records after the point data, each a 60-byte header
// with a 64-bit length, from StartOfFirstEVLR on.
//
// Two kinds are read:
// - the coordinate system, user ID "LASF_Projection": the GeoTIFF key
//   directory (record ID 34735) with its double (34736) and ASCII (34737)
//   parameters, and an OGC WKT text (2112);
// - the Extra Bytes record (user ID "LASF_Spec", record ID 4), which
//   describes the bytes at the end of each point record.
//
// Nothing in them is trusted: a record is taken only when it lies wholly
// inside the file and inside its area (before the point data, or after it),
// and reading an area stops at the first record that does not. Whatever the
// records hold, the conversion itself is the same; at worst the file has no
// usable coordinate system and no extra columns.
#pragma once

#include "byte_source.h"

#include <cstdint>
#include <string>
#include <vector>

inline constexpr uint32_t kVlrHeaderBytes = 54;
inline constexpr uint32_t kEvlrHeaderBytes = 60;
inline constexpr char kProjectionUserId[] = "LASF_Projection";
inline constexpr uint16_t kGeoKeyDirectoryRecord = 34735;
inline constexpr uint16_t kGeoDoubleParamsRecord = 34736;
inline constexpr uint16_t kGeoAsciiParamsRecord = 34737;
inline constexpr uint16_t kWktRecord = 2112;

// The data of the first record of each kind, as stored; a kind that is
// absent is empty. With `wkt_only` (LAS 1.4's global encoding says the
// coordinate system is a WKT), the GeoTIFF keys are not read.
struct ProjectionRecords {
    std::vector<uint16_t> keys;
    std::vector<double> doubles;
    std::string ascii;
    std::string wkt;
    bool empty() const { return keys.empty() && wkt.empty(); }
};

// Where the records may lie, from the public header block, and the file's size.
struct RecordArea {
    uint16_t header_size;
    uint32_t offset_to_data;
    uint32_t record_count;
    uint64_t file_size;
    // LAS 1.4: the extended records, taken only at or after `points_end`
    // (OffsetToData plus the point records' bytes).
    uint64_t points_end = 0;
    uint64_t extended_start = 0;
    uint32_t extended_count = 0;
    bool wkt_only = false;
};

struct LasRecords {
    ProjectionRecords projection;
    bool has_extra_bytes = false;
    std::vector<uint8_t> extra_bytes;  // the Extra Bytes record's data
};

// Reads the records of the input read through `source`: the variable length
// records first, then the extended ones. Records of other user IDs and
// record IDs are skipped unread.
LasRecords read_las_records(ByteSource &source, const RecordArea &area);
