// Output files written through a staging buffer.
//
// Records are assembled in memory and reach the file in blocks of about
// 1 MiB, one write call per block, instead of one call per field. Every write
// and the close are checked: a failure prints "\nError writing NAME\n" and
// ends the run.
//
// Only one output is open at a time (the writers open, fill and close their
// file within one call), so the staging buffer is shared.
//
// A FormatThread lets the writers' formatting run beside the writing: the
// writers run on a thread of its own, filling blocks from a small pool, while
// the thread that asked performs their opens, writes and closes in the order
// the writers asked for them. Every file operation, every failure and its
// message are therefore those of a run on one thread.
#pragma once

#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

inline constexpr size_t kStageBytes = size_t{1} << 20;

// How many point records ahead of the one being written the writers ask for
// the next ones: a chunk's records are read whole before they are written,
// so by then most have left the caches, and the processor's own prefetching
// does not keep up with the writers.
inline constexpr size_t kPrefetchRecords = 96;

// Asks for the record kPrefetchRecords after `record`, of records lying
// `stride` bytes apart, to be brought into the caches. Addresses past the end
// of the records are harmless: a prefetch never faults (and integer
// arithmetic forms no out-of-range pointer).
inline void prefetch_ahead(const void *record, size_t stride) {
    __builtin_prefetch(reinterpret_cast<const void *>(reinterpret_cast<uintptr_t>(record) + kPrefetchRecords * stride));
}

class FormatThread;

struct Output {
    std::FILE *fp = nullptr;
    const char *name = nullptr;
    unsigned char *stage = nullptr;
    size_t used = 0;
    FormatThread *queue = nullptr;  // set while a FormatThread performs this output's operations

    Output() = default;
    Output(const Output &) = delete;
    Output &operator=(const Output &) = delete;
    // Only reached with the file still open when a run is abandoned; the
    // normal path closes it through output_close, which checks the close.
    ~Output();
};

// The failure to create an output that stands on its own: the main shapefile
// and the coordinate system file.
inline constexpr char kCreateFailure[] = "\nUnable to open file %s for writing\n";

// The failure to reopen an output to set its header's counts.
inline constexpr char kUpdateFailure[] = "\nUnable to open %s for updating\n";

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

class FormatThread {
public:
    // With `threaded` false, jobs run on the caller's thread, as plain writes.
    explicit FormatThread(bool threaded);
    FormatThread(const FormatThread &) = delete;
    FormatThread &operator=(const FormatThread &) = delete;
    // Stops the thread (a job in progress is abandoned) and joins it.
    ~FormatThread();

    // Runs `job`, whose writers format on the thread while this one performs
    // their file operations; returns when all of them are done. A failed
    // open, write or close stops the thread, then ends the run as on one thread.
    void run(const std::function<void()> &job);

    // The writers' side, on the thread: opening and writing return an empty
    // block to stage the next bytes in.
    unsigned char *post_open(const char *name, const char *mode, const char *failure);
    unsigned char *post_write(unsigned char *block, size_t size);
    void post_close(unsigned char *block, size_t size);

private:
    struct Op {
        enum Kind : uint8_t { kOpen, kWrite, kClose, kDone } kind;
        unsigned char *block;
        size_t size;
        const char *mode, *failure;
        std::string name;
    };
    static constexpr int kBlocks = 3;

    void work();
    void post(Op op);
    unsigned char *take_block();
    void stop();

    std::unique_ptr<unsigned char[]> pool_;
    std::mutex mutex_;
    std::condition_variable to_worker_, to_writer_;
    std::deque<Op> ops_;
    std::vector<unsigned char *> free_;
    const std::function<void()> *job_ = nullptr;
    bool stopping_ = false;
    std::thread worker_;
};
