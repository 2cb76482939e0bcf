// Where the chunks of a chunked LAZ file lie.
//
// The point data starts with the 8-byte offset of the chunk table; a writer
// that could not seek back leaves -1 there and puts the offset in the file's
// last 8 bytes instead. The chunks follow that offset one after another, up to
// the table. The table holds its version (0) and chunk count (u32 each), then,
// arithmetic-coded through one integer corrector of two contexts, each
// chunk's point count (only when the LASzip record's chunk size says they
// vary) and its compressed byte count, each predicted by the previous chunk's.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

class ByteSource;

namespace laz {

struct Chunk {
    uint64_t offset;  // of its first byte in the file
    uint64_t bytes;
    uint64_t points;
};

struct ChunkLayout {
    uint64_t file_size;
    uint64_t points_start;   // the LAS header's offset to the point data
    uint32_t chunk_size;     // points per chunk, or kVariableChunkSize
    uint64_t point_count;    // the LAS header's
    uint16_t record_length;  // the least a chunk of points can take: its first point raw
};

// Reads and checks the chunk table of `source`: "" with `chunks` filled, else the
// reason in plain words.
std::string read_chunk_table(ByteSource &source, const ChunkLayout &layout, std::vector<Chunk> &chunks);

}  // namespace laz
