// Where a run's point records come from: the input side fills buffers with
// LAS point records exactly as an uncompressed file holds them, in file
// order; the writers take them from there and do not care where they came
// from.
#pragma once

#include "byte_source.h"

#include <cstdint>
#include <memory>

class PointSource {
public:
    virtual ~PointSource() = default;
    // Passes over the next `count` records of the input and puts them into
    // `records` (count x the record length bytes), in order; returns how many
    // it put there. That is all of them, unless the source was told that the
    // records of some parts of the input cannot be selected (a LAZ file's
    // chunks outside an area): those are passed over unread. A source that
    // cannot deliver them prints why and ends the run.
    virtual uint64_t read(unsigned char *records, uint64_t count) = 0;

    // A source that decodes on threads of its own: begin decoding before the
    // first read (the input before it is nearly done), and whether its
    // threads have no work left but what is in flight.
    virtual void start_early() {}
    virtual bool all_handed_out() const { return true; }
};

// When `source` failed for a reason of its own (a web server's fault, not
// the input's end), prints "\nCannot read NAME: REASON\n" and ends the run;
// otherwise returns, for the caller's own message.
void refuse_failed_source(const ByteSource &source, const char *name);

// The records of an uncompressed LAS file read through `source` (named
// `name`) from `offset_to_data` on, each `record_length` bytes.
std::unique_ptr<PointSource> las_point_source(ByteSource &source, const char *name, uint64_t offset_to_data,
                                              uint32_t record_length);
