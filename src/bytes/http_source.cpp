#include "http_source.h"

#include <curl/curl.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <mutex>
#include <strings.h>
#include <thread>

namespace {

// Requests in flight ahead of the reads, and the most bytes fetched (or being
// fetched) ahead of them and not read yet.
constexpr unsigned kParallelRequests = 6;
constexpr uint64_t kAheadBytes = uint64_t{64} << 20;
// Announced ranges that touch are merged into requests of up to this many
// bytes; a longer range is cut into requests of this size.
constexpr uint64_t kLargestRequest = uint64_t{8} << 20;
// A read shorter than this that nobody announced fetches this much from its
// offset on, kept for the reads that follow (the header's records).
constexpr uint64_t kSmallReadBytes = uint64_t{16} << 10;
constexpr size_t kSmallBlocks = 4;
// A request that meets a transient fault is tried this many times in all,
// the pause before the second try doubling before each next one.
constexpr int kTries = 5;
constexpr int kFirstPauseMs = 250;
// A server's Retry-After is heeded up to this many seconds.
constexpr long kLongestPauseSeconds = 60;
constexpr long kConnectSeconds = 15;
constexpr long kMaxRedirects = 5;
// Seconds without a byte after which a transfer counts as stalled;
// TESSALINE_STALL_SECONDS sets another.
constexpr long kStallSeconds = 20;

long stall_seconds() {
    if (const char *v = std::getenv("TESSALINE_STALL_SECONDS")) {
        char *end = nullptr;
        const long n = std::strtol(v, &end, 10);
        if (end != v && *end == '\0' && n >= 1 && n <= 3600) return n;
    }
    return kStallSeconds;
}

// The answers a range request may get other than 206, and what they mean.
struct StatusMeaning {
    long status;
    const char *words;
    bool transient;
};
constexpr StatusMeaning kStatuses[] = {
    {200, "the server answers a range request with the whole file", false},
    {401, "the server answers 401 Unauthorized", false},
    {403, "the server answers 403 Forbidden", false},
    {404, "the server answers 404 Not Found", false},
    {410, "the server answers 410 Gone", false},
    {416, "the server answers 416 Range Not Satisfiable", false},
    {429, "the server answers 429 Too Many Requests", true},
    {500, "the server answers 500 Internal Server Error", true},
    {502, "the server answers 502 Bad Gateway", true},
    {503, "the server answers 503 Service Unavailable", true},
    {504, "the server answers 504 Gateway Timeout", true},
};

// The faults of a transfer that are worth another try.
bool transient_fault(CURLcode rc) {
    switch (rc) {
        case CURLE_COULDNT_CONNECT:
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_OPERATION_TIMEDOUT:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM: return true;
        default: return false;
    }
}

std::string transfer_fault(CURLcode rc, const char *detail) {
    switch (rc) {
        case CURLE_UNSUPPORTED_PROTOCOL: return "the server redirects to a URL that is neither http nor https";
        case CURLE_TOO_MANY_REDIRECTS:
            return "the server redirects more than " + std::to_string(kMaxRedirects) + " times";
        case CURLE_PEER_FAILED_VERIFICATION:
        case CURLE_SSL_CACERT_BADFILE: return std::string("the server's certificate cannot be verified: ") + detail;
        case CURLE_COULDNT_RESOLVE_HOST: return "the server's name cannot be resolved";
        case CURLE_COULDNT_RESOLVE_PROXY: return "the proxy's name cannot be resolved";
        case CURLE_COULDNT_CONNECT: return "the server cannot be reached";
        case CURLE_OPERATION_TIMEDOUT: return "the transfer stalled";
        case CURLE_SEND_ERROR:
        case CURLE_RECV_ERROR:
        case CURLE_PARTIAL_FILE:
        case CURLE_GOT_NOTHING:
        case CURLE_HTTP2:
        case CURLE_HTTP2_STREAM: return "the connection broke off";
        default: return curl_easy_strerror(rc);
    }
}

// What one answer said, gathered by the callbacks. Its body goes straight
// to `into`, at most `room` bytes.
struct Answer {
    long status = 0;
    std::string content_range, etag, last_modified;
    long retry_after = -1;  // seconds, when the answer says
    unsigned char *into = nullptr;
    uint64_t room = 0, got = 0;
    bool overlong = false;
};

std::string trimmed(std::string s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.pop_back();
    size_t i = 0;
    while (i < s.size() && std::isspace(static_cast<unsigned char>(s[i]))) ++i;
    return s.substr(i);
}

size_t on_header(char *data, size_t size, size_t count, void *user) {
    auto &a = *static_cast<Answer *>(user);
    const size_t bytes = size * count;
    const std::string line(data, bytes);
    if (line.compare(0, 5, "HTTP/") == 0) {
        // Each answer of a redirected request starts anew.
        a.status = 0;
        a.content_range.clear(), a.etag.clear(), a.last_modified.clear();
        a.retry_after = -1;
        const size_t space = line.find(' ');
        if (space != std::string::npos) a.status = std::strtol(line.c_str() + space + 1, nullptr, 10);
        return bytes;
    }
    const size_t colon = line.find(':');
    if (colon == std::string::npos) return bytes;
    const std::string name = line.substr(0, colon), value = trimmed(line.substr(colon + 1));
    if (strcasecmp(name.c_str(), "content-range") == 0) a.content_range = value;
    if (strcasecmp(name.c_str(), "etag") == 0) a.etag = value;
    if (strcasecmp(name.c_str(), "last-modified") == 0) a.last_modified = value;
    if (strcasecmp(name.c_str(), "retry-after") == 0 && !value.empty() &&
        value.find_first_not_of("0123456789") == std::string::npos)
        a.retry_after = value.size() > 6 ? kLongestPauseSeconds : std::strtol(value.c_str(), nullptr, 10);
    return bytes;
}

size_t on_body(char *data, size_t size, size_t count, void *user) {
    auto &a = *static_cast<Answer *>(user);
    const size_t bytes = size * count;
    // Only the bytes of the range asked for are taken: neither a whole
    // file nor an error page is read further.
    if (a.status != 206) return 0;
    if (a.room - a.got < bytes) {
        a.overlong = true;
        return 0;
    }
    std::memcpy(a.into + a.got, data, bytes);
    a.got += bytes;
    return bytes;
}

int on_progress(void *stop, curl_off_t, curl_off_t, curl_off_t, curl_off_t) {
    return static_cast<const std::atomic<bool> *>(stop)->load() ? 1 : 0;
}

bool parse_content_range(const std::string &v, uint64_t &first, uint64_t &last, uint64_t &total) {
    unsigned long long a = 0, b = 0, t = 0;
    int used = 0;
    if (std::sscanf(v.c_str(), "bytes %llu-%llu/%llu%n", &a, &b, &t, &used) != 3 ||
        static_cast<size_t>(used) != v.size() || a > b || b >= t)
        return false;
    first = a, last = b, total = t;
    return true;
}

}  // namespace


// The bytes of one request made ahead of the reads, or by the first read
// that needs them before a worker took them.
struct Piece {
    enum class State { queued, fetching, done, failed };
    uint64_t offset = 0, length = 0;
    State state = State::queued;
    std::vector<unsigned char> bytes;
    uint64_t handed = 0;  // bytes given to reads so far
};

struct HttpSource::Impl {
    std::string url;
    uint64_t file_size = 0;
    bool size_known = false;
    std::string etag, last_modified;  // the file's identity, from the first answer
    long stall = kStallSeconds;

    std::atomic<bool> stop{false};
    std::atomic<uint64_t> fetched{0}, requests{0};

    std::mutex m;
    std::condition_variable changed;
    std::map<uint64_t, std::shared_ptr<Piece>> pieces;  // by offset; they never overlap
    std::deque<std::shared_ptr<Piece>> queue;           // in announced order
    uint64_t ahead = 0;                                 // bytes of pieces started and not all read
    std::deque<std::pair<uint64_t, std::vector<unsigned char>>> small;  // small reads' blocks, newest last
    std::vector<CURL *> idle;                           // handles for the reads' own requests
    std::vector<std::thread> workers;
    std::string fault, last_failure;

    Impl();
    ~Impl();

    // Ends the transfers under way and the workers.
    void halt() {
        std::vector<std::thread> team;
        {
            std::lock_guard<std::mutex> lock(m);
            stop = true;
            team.swap(workers);
        }
        changed.notify_all();
        for (std::thread &t : team) t.join();
    }

    CURL *new_handle() {
        CURL *h = curl_easy_init();
        if (h == nullptr) return nullptr;
        curl_easy_setopt(h, CURLOPT_URL, url.c_str());
        curl_easy_setopt(h, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_REDIR_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(h, CURLOPT_FOLLOWLOCATION, 1L);
        curl_easy_setopt(h, CURLOPT_MAXREDIRS, kMaxRedirects);
        curl_easy_setopt(h, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(h, CURLOPT_CONNECTTIMEOUT, kConnectSeconds);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_LIMIT, 1L);
        curl_easy_setopt(h, CURLOPT_LOW_SPEED_TIME, stall);
        curl_easy_setopt(h, CURLOPT_USERAGENT, "Tessaline");
        // As for curl: CURL_CA_BUNDLE names the certificates to trust instead of the system's.
        if (const char *bundle = std::getenv("CURL_CA_BUNDLE"); bundle != nullptr && *bundle != '\0')
            curl_easy_setopt(h, CURLOPT_CAINFO, bundle);
        // Where the TLS library checks revocation (Windows' own), a certificate
        // whose list or responder is out of reach passes; a revoked one does not.
        curl_easy_setopt(h, CURLOPT_SSL_OPTIONS, static_cast<long>(CURLSSLOPT_REVOKE_BEST_EFFORT));
        curl_easy_setopt(h, CURLOPT_HEADERFUNCTION, on_header);
        curl_easy_setopt(h, CURLOPT_WRITEFUNCTION, on_body);
        curl_easy_setopt(h, CURLOPT_XFERINFOFUNCTION, on_progress);
        curl_easy_setopt(h, CURLOPT_XFERINFODATA, &stop);
        curl_easy_setopt(h, CURLOPT_NOPROGRESS, 0L);
        return h;
    }

    CURL *take_handle() {
        {
            std::lock_guard<std::mutex> lock(m);
            if (!idle.empty()) {
                CURL *h = idle.back();
                idle.pop_back();
                return h;
            }
        }
        return new_handle();
    }

    void give_handle(CURL *h) {
        std::lock_guard<std::mutex> lock(m);
        if (h != nullptr) idle.push_back(h);
    }

    // Why the answer to a request for [offset, offset + length) cannot be
    // used, or "". Sets `transient` when another try may do better.
    std::string judge(CURLcode rc, const Answer &a, const char *detail, uint64_t offset, uint64_t length,
                      bool &transient) {
        transient = false;
        if (a.overlong) return "the server sends more bytes than the range asked for";
        const bool body_refused = rc == CURLE_WRITE_ERROR && a.status != 206;
        if (rc != CURLE_OK && !body_refused) {
            transient = transient_fault(rc);
            return transfer_fault(rc, detail);
        }
        if (a.status != 206) {
            for (const StatusMeaning &s : kStatuses)
                if (s.status == a.status) {
                    transient = s.transient;
                    return s.words;
                }
            return "the server answers HTTP " + std::to_string(a.status);
        }
        uint64_t first = 0, last = 0, total = 0;
        if (!parse_content_range(a.content_range, first, last, total))
            return "the server's Content-Range does not match the range asked for";
        if (size_known && total != file_size) return "the file changed on the server during the run (its size)";
        const uint64_t end = std::min(offset + length, total);
        if (first != offset || last + 1 != end)
            return "the server's Content-Range does not match the range asked for";
        if (a.got != end - offset)
            return "the server sends " + std::to_string(a.got) + " bytes for a range of " +
                   std::to_string(end - offset);
        if (!size_known) {
            file_size = total, size_known = true;
            etag = a.etag, last_modified = a.last_modified;
            return "";
        }
        if (a.etag != etag) return "the file changed on the server during the run (its ETag)";
        if (a.last_modified != last_modified)
            return "the file changed on the server during the run (its Last-Modified date)";
        return "";
    }

    // Fetches [offset, offset + length) into `into`: "" or why not. Before
    // the size is known (the first request) the range may run past the
    // file's end: it is then cut there, and `length` says how much came.
    std::string fetch(CURL *h, uint64_t offset, uint64_t &length, unsigned char *into) {
        if (h == nullptr) return "the transfer cannot be set up";
        char range[48];
        std::snprintf(range, sizeof range, "%llu-%llu", static_cast<unsigned long long>(offset),
                      static_cast<unsigned long long>(offset + length - 1));
        curl_easy_setopt(h, CURLOPT_RANGE, range);
        char detail[CURL_ERROR_SIZE];
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, detail);
        const std::string why = try_fetch(h, offset, length, into, detail);
        curl_easy_setopt(h, CURLOPT_ERRORBUFFER, nullptr);
        return why;
    }

    std::string try_fetch(CURL *h, uint64_t offset, uint64_t &length, unsigned char *into, char *detail) {
        for (int attempt = 1;; ++attempt) {
            Answer a;
            a.into = into, a.room = length;
            curl_easy_setopt(h, CURLOPT_HEADERDATA, &a);
            curl_easy_setopt(h, CURLOPT_WRITEDATA, &a);
            detail[0] = '\0';
            ++requests;
            const CURLcode rc = curl_easy_perform(h);
            curl_off_t got = 0;
            if (curl_easy_getinfo(h, CURLINFO_SIZE_DOWNLOAD_T, &got) == CURLE_OK && got > 0)
                fetched += static_cast<uint64_t>(got);
            if (stop) return "the run stopped";
            bool transient = false;
            const std::string why = judge(rc, a, detail, offset, length, transient);
            if (why.empty()) {
                length = a.got;
                return "";
            }
            if (!transient) return why;
            if (attempt == kTries) return why + " (" + std::to_string(kTries) + " tries)";
            long pause_ms = kFirstPauseMs << (attempt - 1);
            if (a.retry_after >= 0) pause_ms = std::max(pause_ms, std::min(a.retry_after, kLongestPauseSeconds) * 1000);
            for (long waited = 0; waited < pause_ms && !stop; waited += 50)
                std::this_thread::sleep_for(std::chrono::milliseconds(50));
        }
    }

    // Copies what a small read's block or a piece holds of the bytes from
    // `offset` on (at most n) into `into`, fetching or waiting for the piece
    // first; 0 when neither covers `offset`, or on a fault (then `fault`).
    size_t take(uint64_t offset, unsigned char *into, size_t n) {
        std::unique_lock<std::mutex> lock(m);
        // A piece first, so that each is read whole and let go.
        auto it = pieces.upper_bound(offset);
        if (it == pieces.begin() || offset >= std::prev(it)->first + std::prev(it)->second->length) {
            for (const auto &[at, bytes] : small)
                if (offset >= at && offset - at < bytes.size()) {
                    const size_t k = static_cast<size_t>(std::min<uint64_t>(n, bytes.size() - (offset - at)));
                    std::memcpy(into, bytes.data() + (offset - at), k);
                    return k;
                }
            return 0;
        }
        std::shared_ptr<Piece> p = std::prev(it)->second;
        if (p->state == Piece::State::queued) {
            // Needed now: fetched here rather than waiting for a worker.
            start(*p);
            lock.unlock();
            CURL *h = take_handle();
            uint64_t length = p->length;
            const std::string why = fetch(h, p->offset, length, p->bytes.data());
            give_handle(h);
            lock.lock();
            finish(*p, why);
        }
        changed.wait(lock, [&] { return p->state == Piece::State::done || p->state == Piece::State::failed; });
        if (p->state == Piece::State::failed) return 0;
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n, p->offset + p->length - offset));
        std::memcpy(into, p->bytes.data() + (offset - p->offset), k);
        p->handed += k;
        if (p->handed >= p->length && pieces.count(p->offset) != 0) {
            pieces.erase(p->offset);
            ahead -= p->length;
            std::vector<unsigned char>().swap(p->bytes);
            changed.notify_all();
        }
        return k;
    }

    void start(Piece &p) {
        p.state = Piece::State::fetching;
        p.bytes.resize(p.length);
        ahead += p.length;
    }

    void finish(Piece &p, const std::string &why) {
        p.state = why.empty() ? Piece::State::done : Piece::State::failed;
        if (!why.empty() && fault.empty()) fault = why;
        changed.notify_all();
    }

    // Fetches bytes from `offset` on that no piece holds, up to the next
    // piece: a small read brings a block for the reads that follow. Gives
    // how many it placed in `into`, 0 on a fault.
    size_t fetch_direct(uint64_t offset, unsigned char *into, size_t n) {
        uint64_t limit = file_size - offset;
        {
            std::lock_guard<std::mutex> lock(m);
            const auto next = pieces.upper_bound(offset);
            if (next != pieces.end()) limit = std::min(limit, next->first - offset);
        }
        uint64_t want = std::min<uint64_t>(n, limit);
        const bool small_read = want < kSmallReadBytes;
        uint64_t at = offset;
        std::vector<unsigned char> block;
        if (small_read) {
            uint64_t end = offset + std::min(kSmallReadBytes, limit);
            // A block cut short by the file's end starts earlier instead: the
            // records at the end (EVLRs, chunk table, hierarchy) are read
            // backwards as often as forwards.
            if (end == file_size) at = std::min(offset, end > kSmallReadBytes ? end - kSmallReadBytes : 0);
            block.resize(static_cast<size_t>(end - at));
            want = block.size();
        }
        CURL *h = take_handle();
        const std::string why = fetch(h, at, want, small_read ? block.data() : into);
        give_handle(h);
        std::lock_guard<std::mutex> lock(m);
        if (!why.empty()) {
            if (fault.empty()) fault = why;
            return 0;
        }
        if (!small_read) return static_cast<size_t>(want);
        const size_t k = static_cast<size_t>(std::min<uint64_t>(n, block.size() - (offset - at)));
        std::memcpy(into, block.data() + (offset - at), k);
        small.emplace_back(at, std::move(block));
        if (small.size() > kSmallBlocks) small.pop_front();
        return k;
    }

    // Adds a piece for [offset, offset + length), which no piece overlaps,
    // merged into the last one queued where it follows it.
    void add(uint64_t offset, uint64_t length) {
        while (length > 0) {
            if (!queue.empty()) {
                Piece &last = *queue.back();
                if (last.state == Piece::State::queued && last.offset + last.length == offset &&
                    last.length < kLargestRequest) {
                    const uint64_t k = std::min(length, kLargestRequest - last.length);
                    last.length += k;
                    offset += k, length -= k;
                    continue;
                }
            }
            auto p = std::make_shared<Piece>();
            p->offset = offset, p->length = std::min(length, kLargestRequest);
            offset += p->length, length -= p->length;
            pieces.emplace(p->offset, p);
            queue.push_back(p);
        }
    }

    // As add(), but the bytes that a small read's block already holds become
    // a piece of their own, ready without a request.
    void add_unheld(uint64_t offset, uint64_t length) {
        const uint64_t end = offset + length;
        while (offset < end) {
            uint64_t next = end;  // where the next block's bytes start
            bool held = false;
            for (const auto &[at, bytes] : small) {
                if (offset >= at && offset - at < bytes.size()) {
                    const uint64_t k = std::min<uint64_t>(end - offset, bytes.size() - (offset - at));
                    auto p = std::make_shared<Piece>();
                    p->offset = offset, p->length = k, p->state = Piece::State::done;
                    p->bytes.assign(bytes.begin() + static_cast<ptrdiff_t>(offset - at),
                                    bytes.begin() + static_cast<ptrdiff_t>(offset - at + k));
                    ahead += k;
                    pieces.emplace(offset, p);
                    offset += k;
                    held = true;
                    break;
                }
                if (at > offset) next = std::min(next, at);
            }
            if (held) continue;
            add(offset, next - offset);
            offset = next;
        }
    }

    // The next queued piece that the memory allows to start, or null.
    std::shared_ptr<Piece> next_to_fetch() {
        while (!queue.empty() && queue.front()->state != Piece::State::queued) queue.pop_front();
        if (queue.empty() || !fault.empty()) return nullptr;
        const std::shared_ptr<Piece> &p = queue.front();
        if (ahead > 0 && ahead + p->length > kAheadBytes) return nullptr;
        std::shared_ptr<Piece> taken = p;
        queue.pop_front();
        return taken;
    }

    void work() {
        CURL *h = new_handle();
        std::unique_lock<std::mutex> lock(m);
        for (;;) {
            std::shared_ptr<Piece> p;
            changed.wait(lock, [&] { return stop || (p = next_to_fetch()) != nullptr; });
            if (stop) break;
            start(*p);
            lock.unlock();
            uint64_t length = p->length;
            const std::string why = fetch(h, p->offset, length, p->bytes.data());
            lock.lock();
            finish(*p, why);
        }
        lock.unlock();
        if (h != nullptr) curl_easy_cleanup(h);
    }
};

namespace {

// The sources open now: a run that ends early (exit) stops their transfers
// before the libraries' own exit handlers take TLS away from under them.
std::mutex live_mutex;
std::vector<HttpSource::Impl *> live;

void halt_live_sources() {
    std::lock_guard<std::mutex> lock(live_mutex);
    for (HttpSource::Impl *s : live) s->halt();
}

}  // namespace

HttpSource::Impl::Impl() {
    std::lock_guard<std::mutex> lock(live_mutex);
    live.push_back(this);
}

HttpSource::Impl::~Impl() {
    {
        std::lock_guard<std::mutex> lock(live_mutex);
        live.erase(std::find(live.begin(), live.end(), this));
    }
    halt();
    for (CURL *h : idle) curl_easy_cleanup(h);
}

HttpSource::HttpSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpSource::~HttpSource() = default;

std::unique_ptr<HttpSource> HttpSource::open(const std::string &url, std::string &why) {
    static std::once_flag curl_ready;
    std::call_once(curl_ready, [] {
        curl_global_init(CURL_GLOBAL_DEFAULT);
        // Registered after the TLS library's own handler, so run before it.
        std::atexit(halt_live_sources);
    });
    auto impl = std::make_unique<Impl>();
    impl->url = url;
    impl->stall = stall_seconds();
    if (!is_http_url(url)) {
        why = "only http and https URLs can be read";
        return nullptr;
    }
    // The first request brings the start of the file, which the header's
    // reads take next.
    std::vector<unsigned char> block(kSmallReadBytes);
    uint64_t got = block.size();
    CURL *h = impl->new_handle();
    why = impl->fetch(h, 0, got, block.data());
    if (!why.empty()) {
        if (h != nullptr) curl_easy_cleanup(h);
        return nullptr;
    }
    impl->idle.push_back(h);
    block.resize(static_cast<size_t>(got));
    impl->small.emplace_back(0, std::move(block));
    return std::unique_ptr<HttpSource>(new HttpSource(std::move(impl)));
}

uint64_t HttpSource::size() const { return impl_->file_size; }

bool HttpSource::read_at(uint64_t offset, void *into, size_t n) {
    Impl &s = *impl_;
    if (offset > s.file_size || s.file_size - offset < n) {
        std::lock_guard<std::mutex> lock(s.m);
        s.last_failure.clear();
        return false;
    }
    auto *p = static_cast<unsigned char *>(into);
    while (n > 0) {
        size_t k = s.take(offset, p, n);
        if (k == 0) {
            {
                std::lock_guard<std::mutex> lock(s.m);
                if (!s.fault.empty()) {
                    s.last_failure = s.fault;
                    return false;
                }
            }
            k = s.fetch_direct(offset, p, n);
            if (k == 0) {
                std::lock_guard<std::mutex> lock(s.m);
                s.last_failure = s.fault;
                return false;
            }
        }
        p += k, offset += k, n -= k;
    }
    return true;
}

void HttpSource::will_read(const std::vector<ByteRange> &ranges) {
    Impl &s = *impl_;
    std::lock_guard<std::mutex> lock(s.m);
    for (const ByteRange &r : ranges) {
        if (r.offset >= s.file_size) continue;
        uint64_t at = r.offset;
        const uint64_t end = r.offset + std::min(r.length, s.file_size - r.offset);
        // Only the parts that no piece holds yet.
        while (at < end) {
            auto it = s.pieces.upper_bound(at);
            if (it != s.pieces.begin()) {
                const Piece &before = *std::prev(it)->second;
                if (at < before.offset + before.length) {
                    at = before.offset + before.length;
                    continue;
                }
            }
            const uint64_t stop_at = it == s.pieces.end() ? end : std::min(end, it->first);
            s.add_unheld(at, stop_at - at);
            at = stop_at;
        }
    }
    while (s.workers.size() < kParallelRequests && !s.queue.empty())
        s.workers.emplace_back([&s] { s.work(); });
    s.changed.notify_all();
}

std::string HttpSource::failure() const {
    std::lock_guard<std::mutex> lock(impl_->m);
    return impl_->last_failure;
}

uint64_t HttpSource::fetched_bytes() const { return impl_->fetched; }
uint64_t HttpSource::requests() const { return impl_->requests; }
