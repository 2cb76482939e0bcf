// The octree of a COPC file: a LAZ 1.4 file (point formats 6 to 8, layered
// chunks of variable size) whose chunks are the cells of an octree. Its first
// variable length record (user "copc", record 1) gives the root cube's centre
// and half-size and where the root page of the hierarchy lies; the hierarchy
// is an extended record (user "copc", record 1000) of pages of 32-byte
// entries, each naming a node (depth, x, y, z) and either its chunk (offset,
// byte size, point count > 0), no points (count 0) or a child page (count -1:
// offset and byte size of the page).
//
// The hierarchy is used only when it agrees with the chunk table: every entry
// with points is exactly one chunk of the table, every chunk is claimed by
// exactly one entry, and the root cube holds the header's bounds. Otherwise
// the file is read whole, which gives the same points.
#pragma once

#include "chunk_table.h"
#include "laz_reader.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace laz {

inline constexpr char kCopcUserId[] = "copc";
inline constexpr uint16_t kCopcInfoRecordId = 1;
inline constexpr uint16_t kCopcHierarchyRecordId = 1000;

#pragma pack(push, 1)
// The payload of the info record.
struct CopcInfo {
    double center_x, center_y, center_z;
    double halfsize;             // from the centre to each face of the root cube
    double spacing;              // between points at the root, halved at each depth
    uint64_t root_page_offset;   // in the file
    uint64_t root_page_bytes;
    double gps_time_min, gps_time_max;
    uint64_t reserved[11];
};
// One entry of a hierarchy page.
struct CopcEntry {
    int32_t depth, x, y, z;  // the node: depth 0 is the root cube, each index from 0 to 2^depth - 1
    uint64_t offset;         // of its chunk, or of the child page
    int32_t bytes;           // of its chunk, or of the child page
    int32_t points;          // > 0: its chunk's; 0: none; -1: the entry names a child page
};
#pragma pack(pop)
static_assert(sizeof(CopcInfo) == 160, "the COPC info record is 160 bytes");
static_assert(offsetof(CopcInfo, halfsize) == 24 && offsetof(CopcInfo, root_page_offset) == 40 &&
                  offsetof(CopcInfo, root_page_bytes) == 48 && offsetof(CopcInfo, reserved) == 72,
              "COPC info offsets");
static_assert(sizeof(CopcEntry) == 32, "a hierarchy entry is 32 bytes");
static_assert(offsetof(CopcEntry, offset) == 16 && offsetof(CopcEntry, bytes) == 24 &&
                  offsetof(CopcEntry, points) == 28,
              "hierarchy entry offsets");

// The deepest node a hierarchy may name.
inline constexpr int32_t kCopcMostDepth = 31;

// A node's square in X and Y, widened on every side by the margin that
// copc_squares explains.
struct Square {
    double xmin, ymin, xmax, ymax;
};

// Reads the octree of the file read through `source` and checks it against its
// `chunks` (as read_chunk_table gives them): "" with `squares` holding, for
// each chunk in file order, the square of its node, else the reason the
// hierarchy is not used. Reads nothing outside the file, whatever its bytes.
std::string copc_squares(ByteSource &source, const LasFacts &facts, const std::vector<Chunk> &chunks,
                         std::vector<Square> &squares);

// Whether a point inside `s` may satisfy xmin <= X <= xmax && ymin <= Y <= ymax
// of `area`; true whenever a comparison cannot be made (a NaN).
inline bool meets(const Square &s, const Area &area) {
    return !(s.xmax < area.xmin || s.xmin > area.xmax || s.ymax < area.ymin || s.ymin > area.ymax);
}

}  // namespace laz
