// Arbitrary bytes as a list of inputs (@LIST) or a virtual point cloud
// (.vpc), expanded as the command line's arguments are: the first byte
// chooses which, the rest is the file. Whatever the bytes, the names come
// back or a refusal does; a tile's stated bounds are finite and in order.
#include "fuzz_common.h"
#include "input_list.h"

#include <cmath>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size == 0) return 0;
    const bool vpc = (data[0] & 1) != 0;
    const std::string path = fuzzing::write_input(vpc ? "tiles.vpc" : "tiles.txt", data + 1, size - 1);
    std::vector<InputName> inputs;
    const std::string why = expand_inputs({vpc ? path : "@" + path}, inputs);
    if (why.empty() && inputs.empty()) __builtin_trap();
    for (const InputName &input : inputs) {
        if (input.path.empty()) __builtin_trap();
        const area::Box &b = input.bounds;
        if (input.has_bounds && !(std::isfinite(b.xmin) && std::isfinite(b.ymax) && b.xmin <= b.xmax && b.ymin <= b.ymax))
            __builtin_trap();
    }
    return 0;
}
