// Where the input's bytes come from: a file on this machine, or a web
// server's byte ranges. The input side reads everything through this one
// interface: the header and its records, the point records, a LAZ file's
// chunk table, hierarchy and chunks. Nothing above it knows which it is.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

// `length` bytes from `offset` on.
struct ByteRange {
    uint64_t offset = 0;
    uint64_t length = 0;
};

class ByteSource {
public:
    virtual ~ByteSource() = default;

    // The input's length in bytes.
    virtual uint64_t size() const = 0;

    // Reads exactly `n` bytes at `offset` into `into`. False when they cannot
    // be had: the input ends first, or a fault (then failure() says which).
    // Several threads may read at once.
    virtual bool read_at(uint64_t offset, void *into, size_t n) = 0;

    // Announces the ranges that will be read next, in the order they will be
    // read, so that a source that fetches over a network can fetch them ahead
    // of the reads; a file has no use for it.
    virtual void will_read(const std::vector<ByteRange> &ranges) { (void)ranges; }

    // Why the last failed read failed, for the run's message; "" when the
    // input simply ended before the bytes asked for.
    virtual std::string failure() const { return {}; }
};
