// Output files written through a staging buffer.
//
// Records are assembled in memory and reach the file in blocks of about
// 1 MiB, one write call per block, instead of one call per field. Every write
// and the close are checked: a failure prints "\nError writing NAME\n" and
// ends the run.
//
// Only one output is open at a time (the writers open, fill and close their
// file within one call), so the staging buffer is shared.
#pragma once

#include <cstddef>
#include <cstdio>

inline constexpr size_t kStageBytes = size_t{1} << 20;

struct Output {
    std::FILE *fp = nullptr;
    const char *name = nullptr;
    unsigned char *stage = nullptr;
    size_t used = 0;

    Output() = default;
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    // Only reached with the file still open when a run is abandoned; the
    // normal path closes it through output_close, which checks the close.
    ~Output();
};

// Opens `name` with the fopen mode `mode` ("wb" or "ab"). When it cannot be
// opened, prints `failure` (a format with one %s, given `name`) and ends the run.
void output_open(Output &out, const char *name, const char *mode, const char *failure);

// Writes the staged bytes to the file.
void output_flush(Output &out);

// Room for `n` more bytes (n <= kStageBytes) at the end of the staged data;
// earlier bytes are written out first when the stage is too full.
inline unsigned char *output_reserve(Output &out, size_t n) {
    if (out.used + n > kStageBytes) output_flush(out);
    unsigned char *at = out.stage + out.used;
    out.used += n;
    return at;
}

// How many of `count` items of `size` bytes each (size <= kStageBytes) to
// stage at once: as many as the free room holds, after writing out the
// staged bytes if not even one fits. Reserving them then writes nothing.
inline size_t output_batch(Output &out, size_t size, size_t count) {
    if (out.used + size > kStageBytes) output_flush(out);
    const size_t room = (kStageBytes - out.used) / size;
    return room < count ? room : count;
}

// Writes what is staged and closes the file.
void output_close(Output &out);

// Prints "\nError writing NAME\n" and ends the run.
[[noreturn]] void fail_writing(const char *name);
