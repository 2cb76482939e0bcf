#include "test_util.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <sstream>
#include <stdexcept>

#include <fcntl.h>
#include <grp.h>
#include <poll.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <ftw.h>

namespace testutil {

TempDir::TempDir() {
    const char *base = std::getenv("TMPDIR");
    std::string pattern = std::string(base && *base ? base : "/tmp") + "/tessaline-test-XXXXXX";
    std::vector<char> buf(pattern.begin(), pattern.end());
    buf.push_back('\0');
    if (::mkdtemp(buf.data()) == nullptr) throw std::runtime_error("mkdtemp failed");
    path_ = buf.data();
}

TempDir::~TempDir() {
    // Restore write permission first: some tests make folders read-only.
    ::nftw(
        path_.c_str(),
        [](const char *p, const struct stat *sb, int type, struct FTW *) {
            if (type == FTW_D || type == FTW_DNR) ::chmod(p, sb->st_mode | S_IRWXU);
            return 0;
        },
        16, FTW_PHYS);
    ::nftw(
        path_.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

RunResult run(const std::string &program, const std::vector<std::string> &args, const std::string &cwd,
              bool unprivileged, const std::vector<std::string> &env) {
    int out_pipe[2], err_pipe[2];
    if (::pipe(out_pipe) != 0 || ::pipe(err_pipe) != 0) throw std::runtime_error("pipe failed");
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_RDONLY);
        ::dup2(devnull, 0);
        ::dup2(out_pipe[1], 1);
        ::dup2(err_pipe[1], 2);
        ::close(out_pipe[0]);
        ::close(err_pipe[0]);
        if (unprivileged && ::geteuid() == 0 &&
            (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0))
            ::_exit(125);
        if (::chdir(cwd.c_str()) != 0) ::_exit(126);
        for (const std::string &setting : env) ::putenv(const_cast<char *>(setting.c_str()));
        std::vector<char *> argv;
        argv.push_back(const_cast<char *>(program.c_str()));
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(program.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(out_pipe[1]);
    ::close(err_pipe[1]);
    RunResult r;
    struct pollfd fds[2] = {{out_pipe[0], POLLIN, 0}, {err_pipe[0], POLLIN, 0}};
    int open_fds = 2;
    char buf[65536];
    while (open_fds > 0) {
        if (::poll(fds, 2, -1) < 0) {
            if (errno == EINTR) continue;
            break;
        }
        for (int k = 0; k < 2; ++k) {
            if (fds[k].fd < 0 || !(fds[k].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            const ssize_t n = ::read(fds[k].fd, buf, sizeof buf);
            if (n > 0) {
                (k == 0 ? r.out : r.err).append(buf, static_cast<size_t>(n));
            } else {
                ::close(fds[k].fd);
                fds[k].fd = -1;
                --open_fds;
            }
        }
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

RunResult run_tessaline(const std::vector<std::string> &args, const std::string &cwd) {
    return run(TESSALINE_EXE, args, cwd);
}

RunResult run_tessaline_tiles(const std::vector<std::string> &args, const std::string &cwd) {
    const std::string exe = TESSALINE_EXE;
    return run(exe.substr(0, exe.rfind('/') + 1) + "Tessaline-tiles", args, cwd);
}

RunResult run_tessaline_unprivileged(const std::vector<std::string> &args, const std::string &cwd,
                                     const TempDir &tools) {
    const std::string exe = tools / "Tessaline";
    write_file(exe, read_file(TESSALINE_EXE));
    write_file(tools / LIDAR_SONAME, read_file(LIDAR_LIBRARY));
    if (::chmod(exe.c_str(), 0755) != 0 || ::chmod(tools.path().c_str(), 0755) != 0)
        throw std::runtime_error("chmod failed in " + tools.path());
    return run(exe, args, cwd, true, {"LD_LIBRARY_PATH=" + tools.path()});
}

RunResult run_tessaline_with_fault(const std::vector<std::string> &args, const std::string &cwd,
                                   const std::string &fault) {
    // A sanitized program wants its runtime first among the libraries; the
    // preloaded one comes before it here, which is harmless.
    return run(TESSALINE_EXE, args, cwd, false,
               {std::string("LD_PRELOAD=") + FAULT_SHIM, fault, "ASAN_OPTIONS=verify_asan_link_order=0"});
}

std::string tessaline_exe() { return TESSALINE_EXE; }

std::string capture_stdout(const std::function<void()> &body) {
    std::fflush(stdout);
    FILE *tmp = std::tmpfile();
    if (tmp == nullptr) throw std::runtime_error("tmpfile failed");
    const int saved = ::dup(1);
    ::dup2(::fileno(tmp), 1);
    body();
    std::fflush(stdout);
    ::dup2(saved, 1);
    ::close(saved);
    std::string text;
    std::rewind(tmp);
    char buf[4096];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, tmp)) > 0) text.append(buf, n);
    std::fclose(tmp);
    return text;
}

RunResult run_in_child(const std::function<void()> &body) {
    int out_pipe[2];
    if (::pipe(out_pipe) != 0) throw std::runtime_error("pipe failed");
    std::fflush(stdout);
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(out_pipe[1], 1);
        ::close(out_pipe[0]);
        body();
        std::fflush(stdout);
        ::_exit(0);
    }
    ::close(out_pipe[1]);
    RunResult r;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(out_pipe[0], buf, sizeof buf)) > 0 || (n < 0 && errno == EINTR))
        if (n > 0) r.out.append(buf, static_cast<size_t>(n));
    ::close(out_pipe[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    r.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    return r;
}

ScopedChdir::ScopedChdir(const std::string &dir) {
    char buf[4096];
    if (::getcwd(buf, sizeof buf) == nullptr || ::chdir(dir.c_str()) != 0)
        throw std::runtime_error("chdir failed");
    old_ = buf;
}

ScopedChdir::~ScopedChdir() {
    if (::chdir(old_.c_str()) != 0) std::perror("chdir back");
}

std::vector<uint8_t> read_file(const std::string &path) {
    std::ifstream in(path, std::ios::binary);
    if (!in) throw std::runtime_error("cannot read " + path);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::string read_text(const std::string &path) {
    const std::vector<uint8_t> b = read_file(path);
    return std::string(b.begin(), b.end());
}

void write_file(const std::string &path, const std::vector<uint8_t> &bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    if (!out) throw std::runtime_error("cannot write " + path);
}

bool exists(const std::string &path) {
    struct stat st;
    return ::lstat(path.c_str(), &st) == 0;
}

uint64_t file_size(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
    return static_cast<uint64_t>(st.st_size);
}

std::string shared_testdata() {
    const std::string dir = TESSALINE_SHARED_TESTDATA;
    struct stat st;
    return ::stat((dir + "/simple.las").c_str(), &st) == 0 ? dir : std::string();
}

std::string banner() {
    return "\nOxbrae LiDAR Utilities"
           "\n\nDeveloped and maintained by Corvandel"
           "\nBrennock Research Station"
           "\n14 Quarry Lane, Brennock, BR7 2LX"
           "\n\n** No warranty regarding script behavior is given or implied **"
           "\n** Acknowledging the author's efforts ensures script updates and availability **\n";
}

}  // namespace testutil
