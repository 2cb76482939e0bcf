#include "laz_reader.h"

#include "chunk_table.h"
#include "copc_hierarchy.h"
#include "byte_source.h"
#include "item_common.h"
#include "laszip_record.h"
#include "layered_chunk.h"
#include "pointwise_chunk.h"

#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <new>
#include <thread>
#include <vector>

namespace laz {

namespace {

constexpr uint32_t kLasHeaderMin = 227;
constexpr uint32_t kVlrHeaderBytes = 54;
// The most bytes that the chunks decoded ahead on worker threads may hold.
constexpr uint64_t kMaxInFlight = uint64_t{256} << 20;
// The most worker threads, whatever the caller asks for.
constexpr unsigned kMostThreads = 64;
// The refilling buffer of a streamed chunk.
constexpr size_t kStreamBuffer = size_t{1} << 20;

std::string damaged(size_t chunk) { return "chunk " + std::to_string(chunk + 1) + " is damaged"; }

std::string find_laszip_record(ByteSource &source, const LasFacts &f, LaszipRecord &record) {
    if (f.header_size < kLasHeaderMin || f.header_size > f.offset_to_data || f.offset_to_data > f.file_size)
        return "the variable length records do not lie between the header and the points";
    uint64_t at = f.header_size;
    for (uint32_t i = 0; i < f.vlr_count; ++i) {
        uint8_t head[kVlrHeaderBytes];
        if (at + kVlrHeaderBytes > f.offset_to_data || !source.read_at(at, head, sizeof head)) break;
        const uint16_t id = load16(head + 18), length = load16(head + 20);
        const uint64_t data_at = at + kVlrHeaderBytes;
        if (data_at + length > f.offset_to_data) break;
        const char *user = reinterpret_cast<const char *>(head + 2);
        if (id == kLaszipRecordId && std::string(user, strnlen(user, 16)) == kLaszipUserId) {
            std::vector<uint8_t> payload(length);
            if (!payload.empty() && !source.read_at(data_at, payload.data(), payload.size()))
                return "the LASzip record cannot be read";
            return parse_laszip_record(payload.data(), payload.size(), record);
        }
        at = data_at + length;
    }
    return "no LASzip record among the variable length records";
}

// One chunk decoded whole: its bytes read and its records decoded.
struct Job {
    size_t chunk = 0;
    std::vector<uint8_t> bytes, records;
    bool done = false, ok = false, short_of_memory = false;
    uint64_t weight = 0;  // bytes it may hold, for the bound on chunks in flight
};

}  // namespace

struct Reader::Impl {
    ByteSource *source = nullptr;
    LasFacts facts{};
    LaszipRecord record;
    std::vector<Chunk> chunks;
    unsigned threads = 1;
    uint64_t chunk_limit = 0;
    std::string failure;  // sticky once set
    std::vector<bool> skipped;  // per chunk, once an area is kept; empty: none
    size_t chunks_read = 0;     // the chunks not skipped

    size_t next_chunk = 0;  // the next chunk to hand out
    uint64_t skip_left = 0;  // the points of a skipped chunk not yet passed over
    // The chunk being handed out when it was decoded whole...
    std::unique_ptr<Job> current;
    uint64_t current_points = 0, current_used = 0;
    std::unique_ptr<PointwiseDecoder> inline_decoder;
    LayeredDecoders inline_layered;
    // ... or when it is decoded as it streams.
    size_t stream_chunk = 0;
    uint64_t stream_left = 0;  // its points not yet handed out
    bool stream_first = false;  // its first point, raw, not yet handed out
    uint64_t stream_pos = 0, stream_end = 0;
    std::vector<uint8_t> stream_buffer, stream_first_record;
    std::unique_ptr<PointwiseDecoder> stream_decoder;
    ArithmeticDecoder stream_dec;
    bool stream_read_failed = false;

    // Worker threads decoding chunks ahead, in file order.
    std::vector<std::thread> workers;
    mutable std::mutex mutex;
    std::condition_variable work_ready, job_done;
    std::deque<Job *> queue;
    std::deque<std::unique_ptr<Job>> in_flight;
    std::vector<std::unique_ptr<Job>> spare;
    uint64_t in_flight_weight = 0;
    size_t scheduled = 0;  // the next chunk to hand to the workers
    bool stopping = false;
    bool announced = false;  // the chunks to read told to the source

    ~Impl() { stop(); }

    // Tells the source which chunks will be read, in file order, so that one
    // that fetches over a network has them on their way before they are needed.
    void announce() {
        announced = true;
        std::vector<ByteRange> ranges;
        for (size_t i = 0; i < chunks.size(); ++i)
            if (!is_skipped(i) && chunks[i].bytes > 0) ranges.push_back({chunks[i].offset, chunks[i].bytes});
        source->will_read(ranges);
    }

    uint64_t record_bytes(const Chunk &c) const { return c.points * facts.record_length; }
    bool is_skipped(size_t i) const { return !skipped.empty() && skipped[i]; }
    bool whole(const Chunk &c) const {
        return record.compressor != kPointwise && c.bytes <= chunk_limit && record_bytes(c) <= chunk_limit;
    }

    // Reads and decodes the job's chunk; a worker thread runs it too, so
    // nothing may leave it by an exception.
    void decode(Job &job, PointwiseDecoder *decoder, LayeredDecoders &layered) {
        const Chunk &c = chunks[job.chunk];
        job.ok = job.short_of_memory = false;
        try {
            job.bytes.resize(c.bytes);
            job.records.resize(record_bytes(c));
            if (!job.bytes.empty() && !source->read_at(c.offset, job.bytes.data(), job.bytes.size())) return;
            const auto points = static_cast<uint32_t>(c.points);
            if (record.compressor == kLayeredChunked)
                job.ok = decode_layered_chunk(layered, record.items, job.bytes.data(), job.bytes.size(), points,
                                              job.records.data());
            else if (decoder != nullptr)
                job.ok = decode_pointwise_chunk(*decoder, job.bytes.data(), job.bytes.size(), points,
                                                job.records.data());
            else
                job.short_of_memory = true;
        } catch (const std::bad_alloc &) {
            job.short_of_memory = true;
        }
    }

    std::unique_ptr<PointwiseDecoder> make_decoder() const {
        if (record.compressor == kLayeredChunked) return nullptr;
        try {
            return std::make_unique<PointwiseDecoder>(record.items);
        } catch (const std::bad_alloc &) {
            return nullptr;
        }
    }

    void work() {
        const std::unique_ptr<PointwiseDecoder> decoder = make_decoder();
        LayeredDecoders layered;
        for (;;) {
            Job *job;
            {
                std::unique_lock<std::mutex> lock(mutex);
                work_ready.wait(lock, [&] { return stopping || !queue.empty(); });
                if (stopping) return;
                job = queue.front();
                queue.pop_front();
            }
            decode(*job, decoder.get(), layered);
            {
                std::lock_guard<std::mutex> lock(mutex);
                job->done = true;
            }
            job_done.notify_all();
        }
    }

    void stop() {
        {
            std::lock_guard<std::mutex> lock(mutex);
            stopping = true;
        }
        work_ready.notify_all();
        for (auto &w : workers) w.join();
        workers.clear();
    }

    // Hands the chunks after the ones in flight to the workers, in file order,
    // while they fit the bound; called with the mutex held.
    void schedule() {
        while (scheduled < chunks.size() && is_skipped(scheduled)) ++scheduled;
        while (scheduled < chunks.size() && whole(chunks[scheduled]) && in_flight.size() < 2 * threads) {
            const Chunk &c = chunks[scheduled];
            const uint64_t weight = c.bytes + record_bytes(c);
            if (!in_flight.empty() && in_flight_weight + weight > kMaxInFlight) break;
            std::unique_ptr<Job> job;
            if (spare.empty()) {
                job = std::make_unique<Job>();
            } else {
                job = std::move(spare.back());
                spare.pop_back();
            }
            job->chunk = scheduled++;
            job->done = false;
            job->weight = weight;
            in_flight_weight += weight;
            queue.push_back(job.get());
            in_flight.push_back(std::move(job));
            work_ready.notify_one();
            while (scheduled < chunks.size() && is_skipped(scheduled)) ++scheduled;
        }
    }

    static size_t refill(void *context, const uint8_t **data) {
        auto *self = static_cast<Impl *>(context);
        const uint64_t left = self->stream_end - self->stream_pos;
        const size_t n = left < kStreamBuffer ? static_cast<size_t>(left) : kStreamBuffer;
        if (n == 0 || self->stream_read_failed) return 0;
        self->stream_buffer.resize(kStreamBuffer);
        if (!self->source->read_at(self->stream_pos, self->stream_buffer.data(), n)) {
            self->stream_read_failed = true;  // the file ends inside the chunk: zeros follow, and damage
            return 0;
        }
        self->stream_pos += n;
        *data = self->stream_buffer.data();
        return n;
    }

    void start_stream(size_t i) {
        const Chunk &c = chunks[i];
        if (record.compressor == kLayeredChunked) {
            failure = "chunk " + std::to_string(i + 1) + " holds more points than this reader decodes at once";
            return;
        }
        stream_chunk = i;
        stream_left = c.points;
        stream_first = c.points > 0;
        if (!stream_first) return;
        stream_first_record.resize(facts.record_length);
        if (c.bytes < facts.record_length ||
            !source->read_at(c.offset, stream_first_record.data(), facts.record_length)) {
            failure = damaged(i);
            return;
        }
        if (!stream_decoder) stream_decoder = make_decoder();
        if (!stream_decoder) {
            failure = "not enough memory to decode chunk " + std::to_string(i + 1);
            return;
        }
        stream_decoder->init(stream_first_record.data());
        stream_pos = c.offset + facts.record_length;
        stream_end = c.offset + c.bytes;
        stream_read_failed = false;
        if (c.points > 1) {
            stream_dec.set_refill(&Impl::refill, this);
            stream_dec.start(nullptr, 0);
        }
    }

    // Hands out `n` records of the streamed chunk.
    void stream(uint8_t *out, uint64_t n) {
        const uint32_t length = facts.record_length;
        if (stream_first) {
            std::memcpy(out, stream_first_record.data(), length);
            stream_first = false;
            out += length;
            --n;
            --stream_left;
        }
        stream_decoder->decode(stream_dec, out, n);
        stream_left -= n;
        if (stream_dec.overrun() || stream_read_failed) failure = damaged(stream_chunk);
        // A chunk of a chunked file ends where its last point does (a point-wise
        // stream without chunks runs to the file's end, whatever follows it).
        const bool chunked = record.compressor != kPointwise;
        if (chunked && stream_left == 0 && chunks[stream_chunk].points > 1 &&
            (stream_pos != stream_end || stream_dec.unread() != 0))
            failure = damaged(stream_chunk);
    }

    void start_next_chunk() {
        const size_t i = next_chunk++;
        if (!whole(chunks[i])) {
            if (scheduled <= i) scheduled = i + 1;  // those between were skipped
            start_stream(i);
            return;
        }
        if (threads <= 1) {
            if (!current) current = std::make_unique<Job>();
            if (!inline_decoder) inline_decoder = make_decoder();
            current->chunk = i;
            decode(*current, inline_decoder.get(), inline_layered);
        } else {
            std::unique_lock<std::mutex> lock(mutex);
            if (workers.empty()) {
                const size_t n = threads < chunks_read ? threads : chunks_read;
                for (size_t w = 0; w < n; ++w) workers.emplace_back(&Impl::work, this);
            }
            if (current) spare.push_back(std::move(current));
            schedule();
            job_done.wait(lock, [&] { return in_flight.front()->done; });
            current = std::move(in_flight.front());
            in_flight.pop_front();
            in_flight_weight -= current->weight;
            schedule();
        }
        current_points = chunks[i].points;
        current_used = 0;
        if (current->short_of_memory)
            failure = "not enough memory to decode chunk " + std::to_string(i + 1);
        else if (!current->ok)
            failure = damaged(i);
    }
};

Reader::Reader() = default;
Reader::~Reader() = default;

std::string Reader::open(ByteSource &source, const LasFacts &facts, unsigned threads) {
    impl_ = std::make_unique<Impl>();
    Impl &r = *impl_;
    r.source = &source;
    r.facts = facts;
    r.threads = threads == 0 ? 1 : threads < kMostThreads ? threads : kMostThreads;
    r.chunk_limit = chunk_limit_;
    std::string why = find_laszip_record(source, facts, r.record);
    if (why.empty()) why = check_laszip_record(r.record, facts.point_format, facts.record_length);
    if (why.empty()) {
        if (r.record.compressor == kPointwise) {
            r.chunks.push_back({facts.offset_to_data, facts.file_size - facts.offset_to_data, facts.point_count});
        } else {
            const ChunkLayout layout{facts.file_size, facts.offset_to_data, r.record.chunk_size, facts.point_count,
                                     facts.record_length};
            why = read_chunk_table(source, layout, r.chunks);
        }
    }
    if (!why.empty()) {
        impl_.reset();
        return why;
    }
    r.chunks_read = r.chunks.size();
    return "";
}

bool Reader::keep_chunks_meeting(const Area &area) {
    return keep_chunks_where([&area](const Area &square) {
        return meets(Square{square.xmin, square.ymin, square.xmax, square.ymax}, area);
    });
}

bool Reader::keep_chunks_where(const std::function<bool(const Area &square)> &may_hold) {
    if (!impl_) return false;
    Impl &r = *impl_;
    const bool started = r.next_chunk > 0 || r.scheduled > 0 || !r.failure.empty();
    std::vector<Square> squares;
    if (started || r.record.compressor != kLayeredChunked ||
        !copc_squares(*r.source, r.facts, r.chunks, squares).empty())
        return false;
    r.skipped.assign(r.chunks.size(), false);
    r.chunks_read = 0;
    for (size_t i = 0; i < r.chunks.size(); ++i) {
        const Square &s = squares[i];
        r.skipped[i] = !may_hold(Area{s.xmin, s.ymin, s.xmax, s.ymax});
        if (!r.skipped[i]) ++r.chunks_read;
    }
    return true;
}

void Reader::start_early() {
    if (!impl_) return;
    Impl &r = *impl_;
    if (r.threads <= 1 || r.next_chunk > 0 || !r.failure.empty() || r.chunks_read == 0) return;
    if (!r.announced) r.announce();
    std::lock_guard<std::mutex> lock(r.mutex);
    if (r.workers.empty()) {
        const size_t n = r.threads < r.chunks_read ? r.threads : r.chunks_read;
        for (size_t w = 0; w < n; ++w) r.workers.emplace_back(&Impl::work, &r);
    }
    r.schedule();
}

bool Reader::all_handed_out() const {
    if (!impl_) return true;
    const Impl &r = *impl_;
    if (r.threads <= 1) return false;
    std::lock_guard<std::mutex> lock(r.mutex);
    size_t next = r.scheduled;
    while (next < r.chunks.size() && r.is_skipped(next)) ++next;
    return next >= r.chunks.size() || !r.whole(r.chunks[next]);
}

std::vector<uint64_t> Reader::skipped_chunks() const {
    std::vector<uint64_t> out;
    if (impl_)
        for (size_t i = 0; i < impl_->chunks.size(); ++i)
            if (impl_->is_skipped(i)) out.push_back(i);
    return out;
}

std::string Reader::read(uint8_t *records, uint64_t count) {
    uint64_t placed;
    return read(records, count, placed);
}

std::string Reader::read(uint8_t *records, uint64_t count, uint64_t &placed) {
    placed = 0;
    if (!impl_) return "no LAZ file is open";
    Impl &r = *impl_;
    const uint32_t length = r.facts.record_length;
    if (!r.announced) r.announce();
    while (count > 0 && r.failure.empty()) {
        if (r.skip_left > 0) {
            const uint64_t n = std::min(count, r.skip_left);
            r.skip_left -= n;
            count -= n;
        } else if (r.current && r.current_used < r.current_points) {
            const uint64_t n = std::min(count, r.current_points - r.current_used);
            std::memcpy(records, r.current->records.data() + r.current_used * length, n * length);
            r.current_used += n;
            records += n * length;
            count -= n;
            placed += n;
        } else if (r.stream_left > 0) {
            const uint64_t n = std::min(count, r.stream_left);
            r.stream(records, n);
            records += n * length;
            count -= n;
            placed += n;
        } else if (r.next_chunk < r.chunks.size() && r.is_skipped(r.next_chunk)) {
            r.skip_left = r.chunks[r.next_chunk++].points;
        } else if (r.next_chunk < r.chunks.size()) {
            r.current_points = r.current_used = 0;
            r.start_next_chunk();
        } else {
            return "the file holds only " + std::to_string(r.facts.point_count) + " points";
        }
    }
    return r.failure;
}

}  // namespace laz
