// Shared by the fuzz targets: each input is written as a LAS file in a
// private folder, made once per process, and the code under test reads it
// from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <ftw.h>
#include <unistd.h>

namespace fuzzing {

// The private folder, removed with its files when the fuzzer ends. Its name
// lives in a plain array, which outlasts the handlers that run at exit.
inline const char *work_dir() {
    static char dir[] = "/tmp/tessaline-fuzz-XXXXXX";
    static const bool made = [] {
        if (::mkdtemp(dir) == nullptr) std::abort();
        std::atexit([] {
            ::nftw(
                dir, [](const char *p, const struct stat *, int, struct FTW *) { return ::remove(p); }, 8,
                FTW_DEPTH | FTW_PHYS);
        });
        return true;
    }();
    (void)made;
    return dir;
}

// Writes the input as `name` inside the private folder and returns its path.
inline std::string write_input(const char *name, const uint8_t *data, size_t size) {
    const std::string path = std::string(work_dir()) + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
    return path;
}

}  // namespace fuzzing
