// The platform functions on Linux (and any POSIX system): names are bytes,
// passed to the system as they are.
#include "platform.h"

#include <algorithm>
#include <cerrno>

#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {

int fd_of(Handle file) { return static_cast<int>(file); }

FileId id_of(const struct stat &st) {
    FileId id;
    id.volume = static_cast<uint64_t>(st.st_dev);
    id.index = static_cast<uint64_t>(st.st_ino);
    return id;
}

}  // namespace

Handle open_read(const char *name) {
    const int fd = ::open(name, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? kNoFile : Handle{fd};
}

void close(Handle file) {
    if (file != kNoFile) ::close(fd_of(file));
}

bool read_at(Handle file, uint64_t offset, void *into, size_t n) {
    auto *p = static_cast<unsigned char *>(into);
    while (n > 0) {
        const ssize_t got = ::pread(fd_of(file), p, n, static_cast<off_t>(offset));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
        offset += static_cast<uint64_t>(got);
    }
    return true;
}

bool size_of(Handle file, uint64_t &size) {
    struct stat st;
    if (::fstat(fd_of(file), &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

bool identity(Handle file, FileId &id) {
    struct stat st;
    if (::fstat(fd_of(file), &st) != 0) return false;
    id = id_of(st);
    return true;
}

bool identity_of(const char *name, FileId &id) {
    struct stat st;
    if (::stat(name, &st) != 0) return false;
    id = id_of(st);
    return true;
}

Lock lock_exclusive(Handle file) {
    int locked;
    do locked = ::flock(fd_of(file), LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked == 0) return Lock::taken;
    return errno == EWOULDBLOCK ? Lock::held_elsewhere : Lock::unavailable;
}

Kind kind_of(const char *name) {
    struct stat st;
    if (::stat(name, &st) != 0) return Kind::none;
    return S_ISREG(st.st_mode) ? Kind::regular : S_ISDIR(st.st_mode) ? Kind::folder : Kind::other;
}

bool size_of(const char *name, uint64_t &size) {
    struct stat st;
    if (::stat(name, &st) != 0) return false;
    size = static_cast<uint64_t>(st.st_size);
    return true;
}

std::FILE *fopen(const char *name, const char *mode) { return std::fopen(name, mode); }

int remove(const char *name) { return std::remove(name); }

bool seek(std::FILE *f, uint64_t offset) {
    return offset <= static_cast<uint64_t>(INT64_MAX) && ::fseeko(f, static_cast<off_t>(offset), SEEK_SET) == 0;
}

void will_write(std::FILE *f, uint64_t bytes) {
    const int fd = ::fileno(f);
    if (fd < 0 || bytes == 0 || bytes > static_cast<uint64_t>(INT64_MAX)) return;
    // Blocks reserved without changing the length: a run that fails leaves
    // the bytes it wrote, no more. A file system that cannot does nothing.
    (void)::fallocate(fd, FALLOC_FL_KEEP_SIZE, 0, static_cast<off_t>(bytes));
}

void wont_write(std::FILE *f, uint64_t length, uint64_t reserved) {
    const int fd = ::fileno(f);
    if (fd < 0 || reserved <= length || reserved > static_cast<uint64_t>(INT64_MAX)) return;
    // Cutting the file to the length it has frees the blocks past its end
    // (punching them out is not done past the end on every file system).
    (void)::ftruncate(fd, static_cast<off_t>(length));
}

bool folder_files(const char *folder, std::vector<std::string> &names) {
    names.clear();
    DIR *dir = ::opendir(folder);
    if (dir == nullptr) return false;
    std::string path = folder;
    if (path.empty() || path.back() != '/') path += '/';
    const size_t stem = path.size();
    while (const dirent *entry = ::readdir(dir)) {
        path.replace(stem, std::string::npos, entry->d_name);
        struct stat st;
        if (::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode)) names.emplace_back(entry->d_name);
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return true;
}

bool expand_pattern(const std::string &arg, std::vector<std::string> &paths) {
    paths.assign(1, arg);
    return true;
}

void allow_many_open_files() {
    struct rlimit limit;
    if (::getrlimit(RLIMIT_NOFILE, &limit) != 0 || limit.rlim_cur >= limit.rlim_max) return;
    limit.rlim_cur = limit.rlim_max;
    if (::setrlimit(RLIMIT_NOFILE, &limit) == 0 || limit.rlim_max != RLIM_INFINITY) return;
    // An unlimited hard limit is still bounded by the kernel's (fs.nr_open,
    // 2^20 unless raised); where even that is refused, the limit stays.
    limit.rlim_cur = rlim_t{1} << 20;
    ::setrlimit(RLIMIT_NOFILE, &limit);
}

bool is_separator(char c) { return c == '/'; }

std::string folder_of(const std::string &path) {
    const size_t slash = path.rfind('/');
    return slash == std::string::npos ? "." : slash == 0 ? "/" : path.substr(0, slash);
}

std::string proj_folder() { return ""; }

void start_program(int &, char **&) {}

}  // namespace platform
