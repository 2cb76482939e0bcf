// Arbitrary bytes as a LAS file, repaired in place. update_header ends the
// process on a refusal, so only inputs that the validation accepts are
// handed to it; it must then rewrite the first 227 bytes and nothing else.
#include "LiDAR.h"
#include "fuzz_common.h"

#include <cstring>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = fuzzing::write_input("input.las", data, size);
    if (check_las(path.c_str()) < 1) return 0;
    update_header(path.c_str());

    std::vector<uint8_t> after(size + 1);
    FILE *f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) __builtin_trap();
    const size_t got = std::fread(after.data(), 1, after.size(), f);
    std::fclose(f);
    if (got != size) __builtin_trap();
    if (size > 227 && std::memcmp(after.data() + 227, data + 227, size - 227) != 0) __builtin_trap();
    return 0;
}
