// A build without libcurl: a URL given as the input is refused with this
// reason, and every other input is read as before.
#include "http_source.h"

struct HttpSource::Impl {};

std::unique_ptr<HttpSource> HttpSource::open(const std::string &, std::string &why) {
    why = "this build of Tessaline reads no URLs (it was built without libcurl)";
    return nullptr;
}

HttpSource::HttpSource(std::unique_ptr<Impl> impl) : impl_(std::move(impl)) {}
HttpSource::~HttpSource() = default;
uint64_t HttpSource::size() const { return 0; }
bool HttpSource::read_at(uint64_t, void *, size_t) { return false; }
void HttpSource::will_read(const std::vector<ByteRange> &) {}
std::string HttpSource::failure() const { return {}; }
uint64_t HttpSource::fetched_bytes() const { return 0; }
uint64_t HttpSource::requests() const { return 0; }
