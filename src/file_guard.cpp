#include "file_guard.h"

#include "end_run.h"

#include <cstdio>
#include <map>
#include <utility>

void refuse_same_inputs(const std::vector<NamedFile> &inputs) {
    std::map<std::pair<uint64_t, uint64_t>, const char *> seen;
    for (const NamedFile &f : inputs) {
        const auto placed = seen.emplace(std::make_pair(f.id.volume, f.id.index), f.name);
        if (!placed.second) {
            std::printf("\n%s and %s are the same file\n", f.name, placed.first->second);
            end_run(-1);
        }
    }
}

void refuse_same_files(const std::vector<NamedFile> &inputs, const std::vector<std::string> &outputs) {
    // The files seen so far: the inputs first, then each output that exists.
    std::vector<NamedFile> seen = inputs;
    seen.reserve(outputs.size() + inputs.size());
    for (const std::string &name : outputs) {
        NamedFile output{name.c_str(), {}};
        if (!platform::identity_of(output.name, output.id)) continue;
        for (const NamedFile &earlier : seen) {
            if (output.id == earlier.id) {
                std::printf("\n%s and %s are the same file\n", output.name, earlier.name);
                end_run(-1);
            }
        }
        seen.push_back(output);
    }
}

void lock_input(platform::Handle input, const char *lasname) {
    if (platform::lock_exclusive(input) == platform::Lock::held_elsewhere) {
        std::printf("\n%s is being converted by another run\n", lasname);
        end_run(-1);
    }
    // Any other failure means locks are not to be had here (a file system
    // without them): refusing would leave such a user without a conversion.
}
