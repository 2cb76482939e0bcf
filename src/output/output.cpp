#include "output.h"

#include "end_run.h"
#include "platform.h"

#include <algorithm>
#include <new>

namespace {

// The FormatThread whose thread this is, on that thread.
thread_local FormatThread *t_format_thread = nullptr;

// Ends a job of a FormatThread that is stopping.
struct Abandoned {};

// The stages are the only buffers: blocks go straight to the file.
std::FILE *open_unbuffered(const char *name, const char *mode) {
    std::FILE *fp = platform::fopen(name, mode);
    if (fp != nullptr) std::setvbuf(fp, nullptr, _IONBF, 0);
    return fp;
}

// How far ahead of a growing file's end the system is told of it: in
// proportion to its length, within these bounds.
constexpr uint64_t kLeastAhead = uint64_t{4} << 20, kMostAhead = uint64_t{64} << 20;

// Before `n` more bytes reach the end of the file.
void will_grow(Output &out, size_t n) {
    if (out.length + n <= out.reserved) return;
    const uint64_t ahead = std::min(std::max(out.length, kLeastAhead), kMostAhead);
    out.reserved = out.length + n + ahead;
    platform::will_write(out.fp, out.reserved);
}

// Writes `n` bytes at the file's current position.
void write_through(Output &out, const unsigned char *bytes, size_t n) {
    will_grow(out, n);
    if (n != 0 && std::fwrite(bytes, 1, n, out.fp) != n) fail_writing(out.name.c_str());
    out.length += n;
}

}  // namespace

[[noreturn]] void fail_writing(const char *name) {
    std::printf("\nError writing %s\n", name);
    end_run(-1);
}

void output_open(Output &out, const std::string &name, const char *mode, const char *failure) {
    out.name = name;
    out.length = 0;
    out.reserved = 0;
    out.used = 0;
    out.fp = open_unbuffered(name.c_str(), mode);
    if (out.fp == nullptr) {
        std::printf(failure, name.c_str());
        end_run(-1);
    }
    if (mode[0] != 'w') {
        // Writes go on at the end of what the file holds.
        if (!platform::size_of(name.c_str(), out.length) || !platform::seek(out.fp, out.length))
            fail_writing(out.name.c_str());
    }
}

void output_will_hold(Output &out, uint64_t bytes) {
    out.reserved = bytes;
    platform::will_write(out.fp, bytes);
}

void output_take_stage(Output &out) {
    if (t_format_thread != nullptr) {
        out.stage = t_format_thread->take_block();
        out.lender = t_format_thread;
        return;
    }
    if (!out.own) {
        out.own.reset(new (std::nothrow) unsigned char[kStageBytes]);
        if (!out.own) {
            std::puts("\nFailed to allocate memory for the output buffers");
            end_run(-1);
        }
    }
    out.stage = out.own.get();
    out.lender = nullptr;
}

void output_flush(Output &out) {
    if (out.used == 0) return;
    const size_t n = out.used;
    out.used = 0;
    if (out.lender != nullptr && out.lender == t_format_thread) {
        out.stage = out.lender->post_write(out, out.stage, n);
        return;
    }
    // Between jobs the stage is this thread's to write, whoever lent it.
    write_through(out, out.stage, n);
}

void output_write_at(Output &out, uint64_t offset, const void *bytes, size_t n) {
    output_flush(out);
    const bool written = platform::seek(out.fp, offset) && std::fwrite(bytes, 1, n, out.fp) == n &&
                         platform::seek(out.fp, out.length > offset + n ? out.length : offset + n);
    if (!written) fail_writing(out.name.c_str());
    if (offset + n > out.length) out.length = offset + n;
}

void output_close(Output &out) {
    output_flush(out);
    if (out.fp != nullptr) platform::wont_write(out.fp, out.length, out.reserved);
    std::FILE *fp = out.fp;
    out.fp = nullptr;
    if (fp != nullptr && std::fclose(fp) != 0) fail_writing(out.name.c_str());
}

void output_abandon(Output &out) {
    if (out.fp != nullptr) std::fclose(out.fp);
    out.fp = nullptr;
    out.used = 0;
}

Output::~Output() {
    if (fp != nullptr) std::fclose(fp);
}

FormatThread::FormatThread(bool threaded) {
    if (!threaded) return;
    // The blocks' pages are first touched where they are first filled, on
    // the formatting thread while this one reads, not all of them here
    // before the run can start: a run that writes little would wait for
    // pages it never uses.
    pool_.reset(new (std::nothrow) unsigned char[kBlocks * kStageBytes]);
    if (!pool_) return;
    for (int k = 0; k < kBlocks; ++k) free_.push_back(pool_.get() + k * kStageBytes);
    try {
        worker_ = std::thread(&FormatThread::work, this);
    } catch (const std::system_error &) {
        // Without a thread the jobs run as plain writes.
    }
}

FormatThread::~FormatThread() { stop(); }

void FormatThread::stop() {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopping_ = true;
    }
    to_worker_.notify_all();
    if (worker_.joinable()) worker_.join();
}

void FormatThread::work() {
    t_format_thread = this;
    for (;;) {
        const std::function<void()> *job = nullptr;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            to_worker_.wait(lock, [&] { return job_ != nullptr || stopping_; });
            if (stopping_) return;
            std::swap(job, job_);
        }
        try {
            (*job)();
        } catch (const Abandoned &) {
            return;
        }
        post(Op{Op::kDone, nullptr, nullptr, 0});
    }
}

void FormatThread::post(Op op) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ops_.push_back(op);
    }
    to_writer_.notify_one();
}

unsigned char *FormatThread::take_block() {
    std::unique_lock<std::mutex> lock(mutex_);
    to_worker_.wait(lock, [&] { return !free_.empty() || stopping_; });
    if (stopping_) throw Abandoned{};
    unsigned char *block = free_.back();
    free_.pop_back();
    return block;
}

unsigned char *FormatThread::post_write(Output &out, unsigned char *block, size_t size) {
    post(Op{Op::kWrite, &out, block, size});
    return take_block();
}

void FormatThread::run(const std::function<void()> &job) {
    start(job);
    finish();
}

void FormatThread::start(const std::function<void()> &job) {
    if (!worker_.joinable()) {
        job();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
    }
    to_worker_.notify_one();
}

void FormatThread::finish() {
    if (!worker_.joinable()) return;
    for (;;) {
        Op op;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            to_writer_.wait(lock, [&] { return !ops_.empty(); });
            op = ops_.front();
            ops_.pop_front();
        }
        if (op.kind == Op::kDone) return;
        will_grow(*op.out, op.size);
        const bool written = std::fwrite(op.block, 1, op.size, op.out->fp) == op.size;
        if (written) op.out->length += op.size;
        {
            std::lock_guard<std::mutex> lock(mutex_);
            free_.push_back(op.block);
        }
        to_worker_.notify_one();
        if (!written) {
            stop();
            fail_writing(op.out->name.c_str());
        }
    }
}
