// Where a run's point records come from: the input side fills buffers with
// LAS point records exactly as an uncompressed file holds them, in file
// order; the writers take them from there and do not care where they came
// from.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>

class PointSource {
public:
    virtual ~PointSource() = default;
    // The next `count` records into `records` (count x the record length
    // bytes). A source that cannot deliver them prints why and ends the run.
    virtual void read(unsigned char *records, uint64_t count) = 0;
};

// The records of an uncompressed LAS file `fp` (named `name`) from
// `offset_to_data` on, each `record_length` bytes.
std::unique_ptr<PointSource> las_point_source(std::FILE *fp, const char *name, uint64_t offset_to_data,
                                              uint32_t record_length);
