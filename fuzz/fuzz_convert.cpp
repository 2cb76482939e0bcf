// Arbitrary bytes as a LAS file, converted in-process as the program would
// convert them, in a private folder; the working folder is the fuzzer's own
// again after each input, for it reads its corpus folders by the names it
// was given. A run that ends early throws out of
// end_run instead of ending the fuzzer. A run that ends with status 0 must
// have written three complete outputs: the sizes and counts that their
// headers announce.
//
// An input that starts with "--" holds a command line first: up to its
// first newline, arguments separated by blanks, given before the file's
// name; the LAS file follows the newline. A run with a selection must have
// written at most the points the file declares; one with --output, which
// writes under other names, must end as any run does, whatever its status.
#include "driver.h"
#include "end_run.h"
#include "fuzz_common.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct RunEnded {
    int status;
};

uint64_t size_of(const std::string &path) {
    struct stat st;
    return ::stat(path.c_str(), &st) == 0 ? static_cast<uint64_t>(st.st_size) : ~uint64_t{0};
}

uint32_t read_u32(const std::string &path, long offset, bool big_endian) {
    uint8_t b[4] = {0, 0, 0, 0};
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) __builtin_trap();
    if (std::fseek(f, offset, SEEK_SET) != 0 || std::fread(b, 1, 4, f) != 4) __builtin_trap();
    std::fclose(f);
    return big_endian ? (uint32_t{b[0]} << 24 | uint32_t{b[1]} << 16 | uint32_t{b[2]} << 8 | b[3])
                      : (uint32_t{b[3]} << 24 | uint32_t{b[2]} << 16 | uint32_t{b[1]} << 8 | b[0]);
}

// The private folder as the working one while it lives, then the one before.
class InPrivateFolder {
public:
    InPrivateFolder() : before_(::open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
        if (before_ < 0 || ::chdir(fuzzing::work_dir()) != 0) __builtin_trap();
    }
    ~InPrivateFolder() {
        if (::fchdir(before_) != 0) __builtin_trap();
        ::close(before_);
    }
    InPrivateFolder(const InPrivateFolder &) = delete;
    InPrivateFolder &operator=(const InPrivateFolder &) = delete;

private:
    int before_;
};

}  // namespace

[[noreturn]] void end_run(int status) {
    std::fflush(stdout);
    throw RunEnded{status};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    std::vector<std::string> args = {"Tessaline"};
    bool selecting = false;
    if (size >= 2 && data[0] == '-' && data[1] == '-') {
        const auto *newline = static_cast<const uint8_t *>(std::memchr(data, '\n', size));
        if (newline == nullptr) return 0;
        const std::string line(reinterpret_cast<const char *>(data), static_cast<size_t>(newline - data));
        for (size_t from = 0; from <= line.size();) {
            const size_t blank = std::min(line.find(' ', from), line.size());
            args.push_back(line.substr(from, blank - from));
            from = blank + 1;
        }
        // Names stay inside the private folder, the working one.
        if (args.size() > 12 || line.find('/') != std::string::npos) return 0;
        selecting = true;
        size -= static_cast<size_t>(newline + 1 - data);
        data = newline + 1;
    }
    const std::string las = fuzzing::write_input("input.las", data, size);
    const std::string stem = las.substr(0, las.size() - 4);
    for (const char *ext : {".shp", ".shx", ".dbf", ".prj"}) std::remove((stem + ext).c_str());
    const InPrivateFolder in_private_folder;
    bool renamed = false;
    for (const std::string &a : args) renamed = renamed || a.rfind("--output", 0) == 0;

    args.push_back(las);
    std::vector<char *> argv;
    for (std::string &a : args) argv.push_back(&a[0]);
    argv.push_back(nullptr);
    int status = 0;
    try {
        status = tessaline_run(static_cast<int>(args.size()), argv.data());
    } catch (const RunEnded &e) {
        status = e.status;
    }
    if (status != 0 || renamed) return 0;

    // Complete outputs: every length follows from the declared point count,
    // LAS 1.4's 64-bit one where it has one.
    uint32_t legacy;
    std::memcpy(&legacy, data + 107, 4);
    uint64_t n = legacy;
    if (size >= 255 && data[24] == 1 && data[25] == 4) {
        uint64_t extended;
        std::memcpy(&extended, data + 247, 8);
        if (extended != 0) n = extended;
    }
    const std::string shp = stem + ".shp", shx = stem + ".shx", dbf = stem + ".dbf";
    if (selecting) {
        // Whatever the selection kept, the three outputs agree on it.
        const uint64_t kept = read_u32(dbf, 4, false);
        if (kept > n) __builtin_trap();
        n = kept;
    }
    if (size_of(shp) != 100 + 36ull * n || size_of(shx) != 100 + 8ull * n) __builtin_trap();
    if (read_u32(shp, 24, true) != 50 + 18ull * n || read_u32(shx, 24, true) != 50 + 4ull * n) __builtin_trap();
    const uint32_t lengths = read_u32(dbf, 8, false);
    const uint64_t header = lengths & 0xFFFF, record = lengths >> 16;
    if (read_u32(dbf, 4, false) != n || size_of(dbf) != header + record * n) __builtin_trap();
    return 0;
}
