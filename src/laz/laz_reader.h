// The LAZ reader that the driver calls: it finds the LASzip record, checks it
// against the LAS header, reads the chunk table and hands out the point
// records in file order, exactly as they were before compression.
//
// Memory stays bounded whatever the file's size: chunks are read (pread) and
// decoded one at a time, or a few at once on worker threads; a point-wise
// stream without chunks, and any chunk too large to hold, is decoded through
// a refilling buffer straight into the caller's records.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

namespace laz {

struct LasFacts {  // read by the driver from the LAS header (compression bits already cleared)
    uint64_t file_size;
    uint16_t header_size;
    uint32_t offset_to_data;
    uint32_t vlr_count;
    uint8_t point_format;
    uint16_t record_length;
    uint64_t point_count;
};

class Reader {
 public:
    Reader();
    ~Reader();
    Reader(const Reader &) = delete;
    Reader &operator=(const Reader &) = delete;

    // Finds the LASzip record among the variable length records, checks it against the facts, reads the
    // chunk table. "" when the points can be decoded, else the reason in plain words.
    std::string open(int fd, const LasFacts &facts, unsigned threads);

    // The most bytes of one chunk, compressed or decoded, held whole (64 MiB unless set before open): a
    // larger point-wise chunk is decoded as it streams, a larger layered one refused.
    void set_chunk_limit(uint64_t bytes) { chunk_limit_ = bytes; }

    // The next `count` point records in file order into `records` (count x record_length bytes): "" or the
    // reason. A chunk that cannot be decoded, the file ending inside it included, gives "chunk N is
    // damaged", with chunks counted from 1 in file order (a point-wise stream without chunks is chunk 1).
    // After a failure every later call gives the same reason.
    std::string read(uint8_t *records, uint64_t count);

 private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
    uint64_t chunk_limit_ = uint64_t{64} << 20;
};

}  // namespace laz
