#include "output.h"

#include "end_run.h"
#include "platform.h"

#include <cassert>
#include <cstring>
#include <new>

namespace {

// The shared staging buffer and whether an Output holds it.
alignas(64) unsigned char g_stage[kStageBytes];
bool g_stage_taken = false;

// The FormatThread whose thread this is, on that thread.
thread_local FormatThread *t_format_thread = nullptr;

// Ends a job of a FormatThread that is stopping.
struct Abandoned {};

// The stage is the only buffer: blocks go straight to the file.
std::FILE *open_unbuffered(const char *name, const char *mode) {
    std::FILE *fp = platform::fopen(name, mode);
    if (fp != nullptr) std::setvbuf(fp, nullptr, _IONBF, 0);
    return fp;
}

struct FileCloser {
    void operator()(std::FILE *fp) const { std::fclose(fp); }
};

}  // namespace

[[noreturn]] void fail_writing(const char *name) {
    std::printf("\nError writing %s\n", name);
    end_run(-1);
}

void output_open(Output &out, const char *name, const char *mode, const char *failure) {
    out.name = name;
    if (t_format_thread != nullptr) {
        out.queue = t_format_thread;
        out.stage = out.queue->post_open(name, mode, failure);
        out.used = 0;
        return;
    }
    out.fp = open_unbuffered(name, mode);
    if (out.fp == nullptr) {
        std::printf(failure, name);
        end_run(-1);
    }
    assert(!g_stage_taken && "one output at a time");
    out.stage = g_stage;
    out.used = 0;
    g_stage_taken = true;
}

void output_flush(Output &out) {
    if (out.used == 0) return;
    const size_t n = out.used;
    out.used = 0;
    if (out.queue != nullptr) {
        out.stage = out.queue->post_write(out.stage, n);
        return;
    }
    if (std::fwrite(out.stage, 1, n, out.fp) != n) fail_writing(out.name);
}

void output_close(Output &out) {
    if (out.queue != nullptr) {
        out.queue->post_close(out.stage, out.used);
        out.queue = nullptr;
        out.stage = nullptr;
        return;
    }
    output_flush(out);
    std::FILE *fp = out.fp;
    out.fp = nullptr;
    out.stage = nullptr;
    g_stage_taken = false;
    if (std::fclose(fp) != 0) fail_writing(out.name);
}

Output::~Output() {
    if (fp != nullptr) std::fclose(fp);
    if (stage != nullptr && queue == nullptr) g_stage_taken = false;
}

FormatThread::FormatThread(bool threaded) {
    if (!threaded) return;
    // The blocks are touched once here, not at each first use.
    pool_.reset(new (std::nothrow) unsigned char[kBlocks * kStageBytes]);
    if (!pool_) return;
    std::memset(pool_.get(), 0, kBlocks * kStageBytes);
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
        post(Op{Op::kDone, nullptr, 0, nullptr, nullptr, {}});
    }
}

void FormatThread::post(Op op) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        ops_.push_back(std::move(op));
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

unsigned char *FormatThread::post_open(const char *name, const char *mode, const char *failure) {
    post(Op{Op::kOpen, nullptr, 0, mode, failure, name});
    return take_block();
}

unsigned char *FormatThread::post_write(unsigned char *block, size_t size) {
    post(Op{Op::kWrite, block, size, nullptr, nullptr, {}});
    return take_block();
}

void FormatThread::post_close(unsigned char *block, size_t size) {
    post(Op{Op::kClose, block, size, nullptr, nullptr, {}});
}

void FormatThread::run(const std::function<void()> &job) {
    if (!worker_.joinable()) {
        job();
        return;
    }
    {
        std::lock_guard<std::mutex> lock(mutex_);
        job_ = &job;
    }
    to_worker_.notify_one();
    std::unique_ptr<std::FILE, FileCloser> fp;
    std::string name;
    for (;;) {
        Op op;
        {
            std::unique_lock<std::mutex> lock(mutex_);
            to_writer_.wait(lock, [&] { return !ops_.empty(); });
            op = std::move(ops_.front());
            ops_.pop_front();
        }
        switch (op.kind) {
            case Op::kOpen:
                name = std::move(op.name);
                fp.reset(open_unbuffered(name.c_str(), op.mode));
                if (!fp) {
                    stop();
                    std::printf(op.failure, name.c_str());
                    end_run(-1);
                }
                break;
            case Op::kWrite:
            case Op::kClose: {
                const bool written = op.size == 0 || std::fwrite(op.block, 1, op.size, fp.get()) == op.size;
                {
                    std::lock_guard<std::mutex> lock(mutex_);
                    free_.push_back(op.block);
                }
                to_worker_.notify_one();
                if (written && op.kind == Op::kClose && std::fclose(fp.release()) == 0) break;
                if (written && op.kind == Op::kWrite) break;
                stop();
                fail_writing(name.c_str());
            }
            case Op::kDone:
                return;
        }
    }
}
