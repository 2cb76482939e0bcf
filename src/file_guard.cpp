#include "file_guard.h"

#include "end_run.h"

#include <cerrno>
#include <cstdio>

#include <sys/file.h>
#include <sys/stat.h>

namespace {

struct NamedFile {
    const char *name;
    struct stat st;
};

bool same_file(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

}  // namespace

void refuse_same_files(int input_fd, const char *lasname, const std::vector<std::string> &outputs) {
    // The files seen so far: the input first, then each output that exists.
    std::vector<NamedFile> seen;
    seen.reserve(outputs.size() + 1);
    NamedFile input{lasname, {}};
    if (::fstat(input_fd, &input.st) == 0) seen.push_back(input);
    for (const std::string &name : outputs) {
        NamedFile output{name.c_str(), {}};
        if (::stat(output.name, &output.st) != 0) continue;
        for (const NamedFile &earlier : seen) {
            if (same_file(output.st, earlier.st)) {
                std::printf("\n%s and %s are the same file\n", output.name, earlier.name);
                end_run(-1);
            }
        }
        seen.push_back(output);
    }
}

void lock_input(int input_fd, const char *lasname) {
    int locked;
    do locked = ::flock(input_fd, LOCK_EX | LOCK_NB);
    while (locked != 0 && errno == EINTR);
    if (locked != 0 && errno == EWOULDBLOCK) {
        std::printf("\n%s is being converted by another run\n", lasname);
        end_run(-1);
    }
    // Any other failure means locks are not to be had here (a file system
    // without them): refusing would leave such a user without a conversion.
}
