// The conversion run: start-up, the outputs' headers, the points in chunks
// and the elapsed time. Returns 0 after a completed conversion; every
// refusal or failure ends the run through end_run(-1) instead.
#pragma once

#include <cstdint>
#include <string>

int tessaline_run(int argc, char *argv[]);

// The line that follows a completed conversion whose output `name` has
// `bytes` bytes, past what some readers open (2 GB); "" when it has fewer.
std::string large_output_note(const char *name, uint64_t bytes);
