#include "output.h"

#include "end_run.h"
#include "platform.h"

#include <cassert>

namespace {

// The shared staging buffer and whether an Output holds it.
alignas(64) unsigned char g_stage[kStageBytes];
bool g_stage_taken = false;

}  // namespace

[[noreturn]] void fail_writing(const char *name) {
    std::printf("\nError writing %s\n", name);
    end_run(-1);
}

void output_open(Output &out, const char *name, const char *mode, const char *failure) {
    out.name = name;
    out.fp = platform::fopen(name, mode);
    if (out.fp == nullptr) {
        std::printf(failure, name);
        end_run(-1);
    }
    assert(!g_stage_taken && "one output at a time");
    // The stage is the only buffer: blocks go straight to the file.
    std::setvbuf(out.fp, nullptr, _IONBF, 0);
    out.stage = g_stage;
    out.used = 0;
    g_stage_taken = true;
}

void output_flush(Output &out) {
    if (out.used == 0) return;
    const size_t n = out.used;
    out.used = 0;
    if (std::fwrite(out.stage, 1, n, out.fp) != n) fail_writing(out.name);
}

void output_close(Output &out) {
    output_flush(out);
    std::FILE *fp = out.fp;
    out.fp = nullptr;
    out.stage = nullptr;
    g_stage_taken = false;
    if (std::fclose(fp) != 0) fail_writing(out.name);
}

Output::~Output() {
    if (fp != nullptr) std::fclose(fp);
    if (stage != nullptr) g_stage_taken = false;
}
