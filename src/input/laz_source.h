// The point records of a LAZ file, decompressed.
#pragma once

#include "las_input.h"
#include "point_source.h"
#include "region.h"

#include <cstdint>
#include <memory>
#include <string>

// The threads a run may use: one per core, or as many as TESSALINE_THREADS
// says (1: the run's own thread alone). They decode a LAZ file's chunks, and
// with two or more the writers format beside the writing.
unsigned run_threads();

// A source of the LAZ file read through `source` (named `name`) whose header
// is `input`. When its points cannot be decoded it refuses the
// file before any output exists: "\nCannot decompress NAME: REASON\n", then
// "NAME is not a valid LAS file\n". Damage found later, while the points are
// decoded, ends the run with "\nCannot decompress NAME: chunk N is damaged\n".
// With a region less than the whole plane, the chunks of a COPC file whose
// octree cells lie away from it are passed over unread: no point of theirs
// can be kept.
std::unique_ptr<PointSource> laz_point_source(ByteSource &source, const char *name, const InputHeader &input,
                                              const area::Region &region);

// The same without a word, for a source opened on another thread: null with
// the reason in `why` when the points cannot be decoded, which
// refuse_laz_points then prints before it ends the run.
std::unique_ptr<PointSource> open_laz_points(ByteSource &source, const char *name, const InputHeader &input,
                                             const area::Region &region, std::string &why);
[[noreturn]] void refuse_laz_points(ByteSource &source, const char *name, const std::string &why);
