// Output files written through staging buffers.
//
// Each output (.shp, .shx, .dbf) is opened once and stays open for the whole
// run, or the whole part of a run written in parts. Its records are
// assembled in memory, in a stage of its own, and reach the file in blocks of
// kStageBytes, one write call per block, instead of one call per field. Every
// write and the close are checked: a failure prints "\nError writing NAME\n"
// and ends the run.
//
// A FormatThread lets the writers' formatting run beside the writing: the
// writers run on a thread of its own, filling blocks from a small pool, while
// the thread that asked performs their writes in the order the writers asked
// for them. Every write, every failure and its message are therefore those
// of a run on one thread. Opens, closes and the headers' updates are made by
// the thread that owns the outputs, between jobs.
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

// One output file and its stage. The stage outlives the file: a run in
// parts writes every part's file through the same one.
struct Output {
    std::FILE *fp = nullptr;
    std::string name;
    uint64_t length = 0;             // bytes the file holds, staged bytes not counted
    uint64_t reserved = 0;           // bytes the system was told the file will hold
    unsigned char *stage = nullptr;  // kStageBytes; taken at the first write
    size_t used = 0;
    FormatThread *lender = nullptr;  // whose pool `stage` belongs to; nullptr: `own`
    std::unique_ptr<unsigned char[]> own;

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

// Opens `name` with the fopen mode `mode`: "wb" creates it empty, "rb+"
// opens an existing file and places the writes at its end. When it cannot be
// opened, prints `failure` (a format with one %s, given `name`) and ends the run.
void output_open(Output &out, const std::string &name, const char *mode, const char *failure);

// Tells the system that the open file will hold `bytes` bytes in all.
// Otherwise it is told as the file grows, some way ahead, and what was set
// aside past the end is given back at the close.
void output_will_hold(Output &out, uint64_t bytes);

// Writes `n` bytes at `offset` of the open file, staged bytes first; later
// writes go on at the file's end.
void output_write_at(Output &out, uint64_t offset, const void *bytes, size_t n);

// Writes the staged bytes to the file.
void output_flush(Output &out);

// Makes `out.stage` a block to stage bytes in.
void output_take_stage(Output &out);

// Room for `n` more bytes (n <= kStageBytes) at the end of the staged data;
// earlier bytes are written out first when the stage is too full.
inline unsigned char *output_reserve(Output &out, size_t n) {
    if (out.stage == nullptr) output_take_stage(out);
    if (out.used + n > kStageBytes) output_flush(out);
    unsigned char *at = out.stage + out.used;
    out.used += n;
    return at;
}

// How many of `count` items of `size` bytes each (size <= kStageBytes) to
// stage at once: as many as the free room holds, after writing out the
// staged bytes if not even one fits. Reserving them then writes nothing.
inline size_t output_batch(Output &out, size_t size, size_t count) {
    if (out.stage == nullptr) output_take_stage(out);
    if (out.used + size > kStageBytes) output_flush(out);
    const size_t room = (kStageBytes - out.used) / size;
    return room < count ? room : count;
}

// Writes what is staged and closes the file; the stage is kept for the next file.
void output_close(Output &out);

// Closes the file of a run that cannot complete, its staged bytes unwritten,
// so that it can be removed (an open file cannot be on Windows).
void output_abandon(Output &out);

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
    // their writes; returns when all of them are done. A failed write stops
    // the thread, then ends the run as on one thread.
    void run(const std::function<void()> &job);
    // run() in two steps, so that the caller may do other work (but touch
    // none of the job's outputs) between them: the job begins, and its
    // writes are performed until it ends. `job` must last until then.
    void start(const std::function<void()> &job);
    void finish();
    // Stops the thread for good, a job in progress abandoned.
    void abandon() { stop(); }

    // The writers' side, on the thread: a block to stage bytes in, and the
    // staged block handed over to be written (an empty one is returned).
    unsigned char *take_block();
    unsigned char *post_write(Output &out, unsigned char *block, size_t size);

private:
    struct Op {
        enum Kind : uint8_t { kWrite, kDone } kind;
        Output *out;
        unsigned char *block;
        size_t size;
    };
    // One held by each of the three outputs, and two on their way to the file.
    static constexpr int kBlocks = 5;

    void work();
    void post(Op op);
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
