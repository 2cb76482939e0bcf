// PROJ's objects as this program holds them, and the context every user of
// PROJ here works in: no network, no log messages, and the database found
// where a build that carries its own keeps it (beside the program,
// wherever that was unpacked).
#pragma once

#include "platform.h"

#include <proj.h>

#include <memory>
#include <string>

struct PjDeleter {
    void operator()(PJ *p) const { proj_destroy(p); }
};
using Pj = std::unique_ptr<PJ, PjDeleter>;

struct ProjContextDeleter {
    void operator()(PJ_CONTEXT *c) const { proj_context_destroy(c); }
};
using ProjContext = std::unique_ptr<PJ_CONTEXT, ProjContextDeleter>;

// A fresh context as above; null when PROJ cannot make one.
inline ProjContext quiet_proj_context() {
    ProjContext ctx(proj_context_create());
    if (!ctx) return ctx;
    proj_log_level(ctx.get(), PJ_LOG_NONE);
    proj_context_set_enable_network(ctx.get(), 0);
    const std::string folder = platform::proj_folder();
    if (!folder.empty()) {
        const char *const paths[] = {folder.c_str()};
        proj_context_set_search_paths(ctx.get(), 1, paths);
    }
    return ctx;
}
