#include "web_server.h"

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <thread>

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

namespace testutil {
namespace {

constexpr char kNginx[] = "/usr/sbin/nginx";
constexpr char kOpenssl[] = "/usr/bin/openssl";
// No server outlives its test program by more than this.
constexpr char kLifetime[] = "600";

sockaddr_in loopback(int port) {
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_port = htons(static_cast<uint16_t>(port));
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return a;
}

int free_port() {
    const int s = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a = loopback(0);
    socklen_t len = sizeof a;
    const bool bound = ::bind(s, reinterpret_cast<sockaddr *>(&a), sizeof a) == 0 &&
                       ::getsockname(s, reinterpret_cast<sockaddr *>(&a), &len) == 0;
    ::close(s);
    return bound ? ntohs(a.sin_port) : 0;
}

bool accepts(int port) {
    for (int i = 0; i < 100; ++i) {
        const int s = ::socket(AF_INET, SOCK_STREAM, 0);
        const sockaddr_in a = loopback(port);
        const bool up = ::connect(s, reinterpret_cast<const sockaddr *>(&a), sizeof a) == 0;
        ::close(s);
        if (up) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return false;
}

// Starts `argv` under timeout(1), its output into `out` (a file) or a pipe
// whose reading end goes to `pipe_from`.
pid_t start(std::vector<std::string> argv, const std::string &out, int *pipe_from = nullptr) {
    argv.insert(argv.begin(), {"/usr/bin/timeout", kLifetime});
    int p[2] = {-1, -1};
    if (pipe_from != nullptr && ::pipe(p) != 0) return -1;
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int fd = pipe_from != nullptr ? p[1] : ::open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        ::dup2(fd, 1);
        if (pipe_from == nullptr) ::dup2(fd, 2);
        std::vector<char *> args;
        for (std::string &a : argv) args.push_back(a.data());
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    if (pipe_from != nullptr) {
        ::close(p[1]);
        *pipe_from = p[0];
    }
    return pid;
}

void stop(pid_t pid) {
    if (pid <= 0) return;
    ::kill(pid, SIGTERM);
    ::waitpid(pid, nullptr, 0);
}

}  // namespace

WebServer::WebServer(const std::string &root) {
    if (::access(kNginx, X_OK) != 0 || ::access(kOpenssl, X_OK) != 0) {
        why_ = "nginx or openssl is not installed (scripts/deps test)";
        return;
    }
    const RunResult cert = run(kOpenssl, {"req", "-x509", "-newkey", "ec", "-pkeyopt", "ec_paramgen_curve:prime256v1",
                                          "-nodes", "-keyout", dir_ / "key.pem", "-out", certificate(), "-days",
                                          "2", "-subj", "/CN=127.0.0.1", "-addext", "subjectAltName=IP:127.0.0.1"},
                               dir_.path());
    http_port_ = free_port(), https_port_ = free_port();
    if (cert.status != 0 || http_port_ == 0 || https_port_ == 0) {
        why_ = "no certificate or no free port: " + cert.err;
        return;
    }
    const std::string d = dir_.path();
    std::string conf = "daemon off;\nmaster_process off;\npid " + d + "/nginx.pid;\nerror_log " + d +
                       "/error.log;\nevents { worker_connections 64; }\nhttp {\n"
                       "  log_format ranges '$uri $http_range $status $body_bytes_sent';\n"
                       "  access_log " + d + "/access.log ranges;\n";
    for (const char *temp : {"client_body", "proxy", "fastcgi", "uwsgi", "scgi"})
        conf += std::string("  ") + temp + "_temp_path " + d + "/" + temp + ";\n";
    conf += "  default_type application/octet-stream;\n  server {\n    listen 127.0.0.1:" +
            std::to_string(http_port_) + ";\n    listen 127.0.0.1:" + std::to_string(https_port_) +
            " ssl;\n    ssl_certificate " + certificate() + ";\n    ssl_certificate_key " + d +
            "/key.pem;\n    root " + root + ";\n  }\n}\n";
    write_file(dir_ / "nginx.conf", std::vector<uint8_t>(conf.begin(), conf.end()));
    pid_ = start({kNginx, "-p", d + "/", "-c", d + "/nginx.conf", "-e", d + "/error.log"}, dir_ / "nginx.out");
    if (pid_ <= 0 || !accepts(http_port_) || !accepts(https_port_)) {
        stop(pid_);
        pid_ = -1;
        why_ = "nginx did not start: " + (exists(dir_ / "error.log") ? read_text(dir_ / "error.log") : "");
    }
}

WebServer::~WebServer() { stop(pid_); }

std::string WebServer::http(const std::string &path) const {
    return "http://127.0.0.1:" + std::to_string(http_port_) + "/" + path;
}

std::string WebServer::https(const std::string &path) const {
    return "https://127.0.0.1:" + std::to_string(https_port_) + "/" + path;
}

std::string WebServer::log(size_t lines) const {
    std::string text;
    for (int i = 0; i < 100; ++i) {
        text = exists(dir_ / "access.log") ? read_text(dir_ / "access.log") : "";
        if (static_cast<size_t>(std::count(text.begin(), text.end(), '\n')) >= lines) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return text;
}

FaultServer::FaultServer(const std::string &file) {
    int from = -1;
    pid_ = start({"/usr/bin/python3", FAULT_SERVER, file, kLifetime}, "", &from);
    if (pid_ <= 0) return;
    // Its first line is its port.
    std::string line;
    char c = 0;
    pollfd p{from, POLLIN, 0};
    while (::poll(&p, 1, 10000) > 0 && ::read(from, &c, 1) == 1 && c != '\n') line += c;
    ::close(from);
    port_ = std::atoi(line.c_str());
}

FaultServer::~FaultServer() { stop(pid_); }

std::string FaultServer::url(const std::string &mode, const std::string &name) const {
    // Each URL is a path of its own, so that a fault said to happen once
    // happens once to each.
    static int serial = 0;
    return "http://127.0.0.1:" + std::to_string(port_) + "/" + mode + "/" + std::to_string(++serial) + "/" + name;
}

}  // namespace testutil
