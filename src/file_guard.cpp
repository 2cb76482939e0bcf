#include "file_guard.h"

#include "end_run.h"

#include <cstdio>

namespace {

struct NamedFile {
    const char *name;
    platform::FileId id;
};

}  // namespace

void refuse_same_files(platform::Handle input, const char *lasname, const std::vector<std::string> &outputs) {
    // The files seen so far: the input first, then each output that exists.
    std::vector<NamedFile> seen;
    seen.reserve(outputs.size() + 1);
    NamedFile in{lasname, {}};
    if (input != platform::kNoFile && platform::identity(input, in.id)) seen.push_back(in);
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
