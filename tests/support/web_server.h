// Web servers for the tests of reading an input over HTTP, on 127.0.0.1
// only, each stopped with its object: nginx serving a folder over http and
// https (on a certificate made for it), and the tests' own server of faults.
#pragma once

#include "test_util.h"

#include <string>
#include <sys/types.h>

namespace testutil {

class WebServer {
public:
    // Serves `root`; ok() is false (and why() says why) where nginx or
    // openssl is missing or the server does not start.
    explicit WebServer(const std::string &root);
    ~WebServer();
    WebServer(const WebServer &) = delete;
    WebServer &operator=(const WebServer &) = delete;

    bool ok() const { return pid_ > 0; }
    const std::string &why() const { return why_; }
    std::string http(const std::string &path) const;
    std::string https(const std::string &path) const;
    // The certificate to trust (CURL_CA_BUNDLE) for https().
    std::string certificate() const { return dir_ / "cert.pem"; }
    // One line per request: "URI RANGE STATUS BYTES" (RANGE "-" when none),
    // once it has `lines` lines (nginx writes a line after its answer) or a
    // few seconds have passed.
    std::string log(size_t lines) const;

private:
    TempDir dir_;
    pid_t pid_ = -1;
    int http_port_ = 0, https_port_ = 0;
    std::string why_;
};

// tests/support/fault_server.py serving `file`; url("drop-once", "a.laz")
// names it with that fault.
class FaultServer {
public:
    explicit FaultServer(const std::string &file);
    ~FaultServer();
    FaultServer(const FaultServer &) = delete;
    FaultServer &operator=(const FaultServer &) = delete;

    bool ok() const { return port_ > 0; }
    std::string url(const std::string &mode, const std::string &name) const;

private:
    pid_t pid_ = -1;
    int port_ = 0;
};

}  // namespace testutil
