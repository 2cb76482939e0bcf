// Arbitrary bytes as a LAS file, converted in-process as the program would
// convert them, in a private folder. A run that ends early throws out of
// end_run instead of ending the fuzzer. A run that ends with status 0 must
// have written three complete outputs: the sizes and counts that their
// headers announce.
#include "driver.h"
#include "end_run.h"
#include "fuzz_common.h"

#include <cstring>
#include <vector>

#include <sys/stat.h>

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

}  // namespace

[[noreturn]] void end_run(int status) {
    std::fflush(stdout);
    throw RunEnded{status};
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string las = fuzzing::write_input("input.las", data, size);
    const std::string stem = las.substr(0, las.size() - 4);
    for (const char *ext : {".shp", ".shx", ".dbf", ".prj"}) std::remove((stem + ext).c_str());

    std::string arg = las;
    char program[] = "Tessaline";
    char *argv[] = {program, &arg[0], nullptr};
    int status = 0;
    try {
        status = tessaline_run(2, argv);
    } catch (const RunEnded &e) {
        status = e.status;
    }
    if (status != 0) return 0;

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
    if (size_of(shp) != 100 + 36ull * n || size_of(shx) != 100 + 8ull * n) __builtin_trap();
    if (read_u32(shp, 24, true) != 50 + 18ull * n || read_u32(shx, 24, true) != 50 + 4ull * n) __builtin_trap();
    const uint32_t lengths = read_u32(dbf, 8, false);
    const uint64_t header = lengths & 0xFFFF, record = lengths >> 16;
    if (read_u32(dbf, 4, false) != n || size_of(dbf) != header + record * n) __builtin_trap();
    return 0;
}
