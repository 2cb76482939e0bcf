// The LAZ reader that the driver calls: it finds the LASzip record, checks it
// against the LAS header, reads the chunk table and hands out the point
// records in file order, exactly as they were before compression.
//
// Memory stays bounded whatever the file's size: chunks are read (at their offsets) and
// decoded one at a time, or a few at once on worker threads; a point-wise
// stream without chunks, and any chunk too large to hold, is decoded through
// a refilling buffer straight into the caller's records.
//
// On a COPC file the points of an area can be read alone: the chunks whose
// octree node lies away from it are skipped, neither read nor decoded.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

class ByteSource;

namespace laz {

struct LasFacts {  // read by the driver from the LAS header (compression bits already cleared)
    uint64_t file_size;
    uint16_t header_size;
    uint32_t offset_to_data;
    uint32_t vlr_count;
    uint8_t point_format;
    uint16_t record_length;
    uint64_t point_count;
    uint64_t evlr_start;  // LAS 1.4: where the extended records start, and how many; 0 for other versions
    uint32_t evlr_count;
};

// An area of the XY plane: the points with xmin <= X <= xmax and ymin <= Y <= ymax.
struct Area {
    double xmin, ymin, xmax, ymax;
};

class Reader {
 public:
    Reader();
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Finds the LASzip record among the variable length records of `source`, checks it against the facts,
    // reads the chunk table. "" when the points can be decoded, else the reason in plain words. Every later
    // read goes to `source`, which must outlive the reader.
    std::string open(ByteSource &source, const LasFacts &facts, unsigned threads);

    // The most bytes of one chunk, compressed or decoded, held whole (64 MiB unless set before open): a
    // larger point-wise chunk is decoded as it streams, a larger layered one refused.
    void set_chunk_limit(uint64_t bytes) { chunk_limit_ = bytes; }

    // The next `count` point records in file order into `records` (count x record_length bytes): "" or the
    // reason. A chunk that cannot be decoded, the file ending inside it included, gives "chunk N is
    // damaged", with chunks counted from 1 in file order (a point-wise stream without chunks is chunk 1).
    // After a failure every later call gives the same reason.
    std::string read(uint8_t *records, uint64_t count);

    // On a COPC file whose hierarchy agrees with its chunk table, called after open() and before any read:
    // marks as skipped every chunk whose node's square (widened by a margin against rounding) does not
    // meet `area`, and gives true; otherwise false, and every chunk is read. A skipped chunk's points
    // can have no X and Y inside the area, with X and Y computed as the header's scale and offset say.
    bool keep_chunks_meeting(const Area &area);

    // The same for any area: a chunk is skipped when `may_hold` says that its
    // node's square (widened as above, given as an Area) holds no point of it.
    bool keep_chunks_where(const std::function<bool(const Area &square)> &may_hold);

    // The next `count` points in file order: those of chunks not skipped are placed, in order, at the
    // start of `records`, and `placed` says how many; the points of skipped chunks are passed over
    // without reading their bytes. Failures as read() above, chunks counted over all of them.
    std::string read(uint8_t *records, uint64_t count, uint64_t &placed);

    // Before the first read: has the worker threads begin decoding the first
    // chunks (and a source that fetches them over a network fetching them),
    // so that they are ready when the reads come. Nothing on one thread.
    void start_early();

    // True once every chunk to read has been handed to the worker threads
    // (or there are none): they have no work left but the chunks in flight.
    bool all_handed_out() const;

    // The skipped chunks, counted from 0 in file order.
    std::vector<uint64_t> skipped_chunks() const;

 private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    uint64_t chunk_limit_ = uint64_t{64} << 20;
};

}  // namespace laz
