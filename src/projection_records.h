// The coordinate system records of a LAS file.
//
// LAS 1.0 to 1.2 state the survey's coordinate system in variable length
// records with the user ID "LASF_Projection": the GeoTIFF key directory
// (record ID 34735) with its double (34736) and ASCII (34737) parameters, and
// an OGC WKT text (2112). The records lie between the public header block
// (HeaderSize bytes) and the point data (OffsetToData), each a 54-byte header
// followed by its data.
//
// Nothing in them is trusted: a record is taken only when it lies wholly
// inside the file and before the point data, and reading stops at the first
// that does not. Whatever the records hold, the conversion itself is the same;
// at worst the file has no usable coordinate system.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

inline constexpr uint32_t kVlrHeaderBytes = 54;
inline constexpr char kProjectionUserId[] = "LASF_Projection";
inline constexpr uint16_t kGeoKeyDirectoryRecord = 34735;
inline constexpr uint16_t kGeoDoubleParamsRecord = 34736;
inline constexpr uint16_t kGeoAsciiParamsRecord = 34737;
inline constexpr uint16_t kWktRecord = 2112;

// The data of the first record of each kind, as stored; a kind that is
// absent is empty.
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
};

// Reads the projection records of the open input `fp` (any position; it is
// left anywhere). Records of other user IDs and record IDs are skipped unread.
ProjectionRecords read_projection_records(std::FILE *fp, const RecordArea &area);
