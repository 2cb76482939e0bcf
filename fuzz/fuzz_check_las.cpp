// Arbitrary bytes as a LAS file, handed to the validation.
#include "LiDAR.h"
#include "fuzz_common.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    const std::string path = fuzzing::write_input("input.las", data, size);
    const int16_t type = check_las(path.c_str());
    if (type < -1 || type > 8) __builtin_trap();
    return 0;
}
