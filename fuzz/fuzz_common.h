// Shared by the fuzz targets: each input is written as a LAS file in a
// private folder, made once per process, and the code under test reads it
// from there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <unistd.h>

namespace fuzzing {

inline const std::string &work_dir() {
    static const std::string dir = [] {
        char pattern[] = "/tmp/tessaline-fuzz-XXXXXX";
        if (::mkdtemp(pattern) == nullptr) std::abort();
        return std::string(pattern);
    }();
    return dir;
}

// Writes the input as `name` inside the private folder and returns its path.
inline std::string write_input(const char *name, const uint8_t *data, size_t size) {
    const std::string path = work_dir() + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) std::abort();
    if (size > 0 && std::fwrite(data, 1, size, f) != size) std::abort();
    if (std::fclose(f) != 0) std::abort();
    return path;
}

}  // namespace fuzzing
