// The input's bytes from a web server: an http:// or https:// URL read with
// range requests, so that a conversion fetches only the bytes it reads.
//
// Ranges announced by will_read() are merged where they touch and fetched
// ahead of the reads, several at once, within a bounded amount of memory;
// a read of bytes nobody announced fetches them itself (a small read brings
// a little more along, for the header's records that follow). Transient
// faults are tried again a few times with a growing pause; anything else,
// and a server that does not answer ranges exactly, fails the read with one
// reason, which failure() gives. No message holds the URL's credentials.
#pragma once

#include "byte_source.h"

#include <cstdint>
#include <memory>
#include <string>

// True for a name that starts with "http://" or "https://" (any case).
bool is_http_url(const std::string &name);

// The URL as it may be printed: without "user:password@" and with the value
// of every query parameter replaced by "***".
std::string printable_url(const std::string &url);

// The last segment of the URL's path (query and fragment left out), as
// given: "https://h/a/tile7.copc.laz?x=1" gives "tile7.copc.laz".
std::string url_file_name(const std::string &url);

// The line that closes a run read from a web server.
std::string fetched_line(uint64_t fetched_bytes, uint64_t file_bytes, uint64_t requests);

class HttpSource : public ByteSource {
public:
    // Opens `url` with a first range request, which gives the file's size and
    // identity (ETag, Last-Modified). Null with the reason in `why` when the
    // file cannot be read that way.
    static std::unique_ptr<HttpSource> open(const std::string &url, std::string &why);
    ~HttpSource() override;

    uint64_t size() const override;
    bool read_at(uint64_t offset, void *into, size_t n) override;
    void will_read(const std::vector<ByteRange> &ranges) override;
    std::string failure() const override;

    // Body bytes received and requests made so far, retries included.
    uint64_t fetched_bytes() const;
    uint64_t requests() const;

    struct Impl;

private:
    explicit HttpSource(std::unique_ptr<Impl> impl);
    std::unique_ptr<Impl> impl_;
};
