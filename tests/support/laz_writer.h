// A LAZ writer for tests and benchmarks: the encoding side of the project's
// LAZ decoder, so that any file the tests' LAS writer makes has a compressed
// twin whose decompression is that LAS file, byte for byte.
//
// It writes chunked files only: point-wise chunks (point10, gpstime11, rgb12
// and extra bytes, each in version 2) for point formats 0 to 3, layered
// chunks (point14, rgb14, rgbnir14 and extra bytes, each in version 3) for
// point formats 6 to 8. The waveform formats are refused.
#pragma once

#include "las_writer.h"

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace laztest {

inline constexpr uint32_t kDefaultChunkSize = 50000;

// Compresses the LAS file at `las_path` into `laz_path`, one chunk of
// `chunk_size` points at a time: the header gains the compression bit in its
// point format and the LASzip record, the offsets move with them, the
// records are compressed, the EVLRs follow the chunk table. Throws
// std::runtime_error when a file cannot be read or written or its point
// format has no encoder here.
void compress_las_file(const std::string &las_path, const std::string &laz_path,
                       uint32_t chunk_size = kDefaultChunkSize);

// The same for a whole LAS file in memory.
std::vector<uint8_t> compress_las(const std::vector<uint8_t> &las, uint32_t chunk_size = kDefaultChunkSize);

// The LAZ twin of what lastest::write_las writes for the same arguments, in
// bounded memory (the LAS file is written beside it first and removed).
void write_laz(const std::string &path, const lastest::LasOptions &opts, uint64_t count,
               const std::function<lastest::Point(uint64_t)> &gen, uint32_t chunk_size = kDefaultChunkSize);

// The LAZ twin of lastest::make_las, in memory.
std::vector<uint8_t> make_laz(const lastest::LasOptions &opts, const std::vector<lastest::Point> &points,
                              uint32_t chunk_size = kDefaultChunkSize);

// COPC files: LAS 1.4 point formats 6 to 8 in layered chunks of variable
// size, one chunk per node of an octree whose root cube is centred on the
// header's bounds. The info record comes first among the VLRs, the hierarchy
// last among the EVLRs.
enum class CopcDamage {
    kNone,
    kPageOutsideFile,    // the first child page (or else the root page) named past the file's end
    kPageLoop,           // the first child page named as the root page again (needs nested pages)
    kEntryWithoutChunk,  // the first entry with points names an offset one byte past its chunk's
    kChunkWithoutEntry,  // the first entry with points says none: its chunk belongs to no node
    kCubeMissesBounds,   // the root cube moved away by 1.5 times its side
};
struct CopcOptions {
    uint32_t depth = 3;         // of the deepest nodes, which keep every point that reaches them
    uint32_t node_points = 50;  // each node above keeps the first this many that reach it; the rest go down
    uint32_t page_depth = 0;    // 0: one hierarchy page; else the nodes at each multiple of it start a page
    uint32_t order_seed = 0;    // 0: the chunks in node order (depth, x, y, z); else shuffled with this seed
    CopcDamage damage = CopcDamage::kNone;
};

// Writes the LAS 1.4 file at `las_path` (held in memory whole) as a COPC file.
void compress_copc_file(const std::string &las_path, const std::string &copc_path, const CopcOptions &options);
std::vector<uint8_t> compress_copc(const std::vector<uint8_t> &las, const CopcOptions &options);
std::vector<uint8_t> make_copc(const lastest::LasOptions &opts, const std::vector<lastest::Point> &points,
                               const CopcOptions &options);

}  // namespace laztest
