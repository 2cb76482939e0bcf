// PROJ's objects as this program holds them, and the context every user of
// PROJ here works in: no network, no log messages, and the database found
// where a build that carries its own keeps it (beside the program,
// wherever that was unpacked).
#pragma once

#include "platform.h"

#include <proj.h>

#include <memory>
#include <mutex>
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

// Opening PROJ's database (SQLite reading its schema) takes 15 ms and more
// in each context, so the program's short uses of PROJ take turns with one
// context, whose database stays open: whoever borrows it has it alone, on
// any thread, and gives it back with no object of its own left in it.
struct ProjContextShelf {
    std::mutex lock;
    ProjContext kept;
};

inline ProjContextShelf &proj_context_shelf() {
    static ProjContextShelf shelf;
    return shelf;
}

// The kept context, or a fresh one when another user has it (null when PROJ
// cannot make one).
inline ProjContext borrow_proj_context() {
    ProjContextShelf &shelf = proj_context_shelf();
    {
        std::lock_guard<std::mutex> hold(shelf.lock);
        if (shelf.kept) return std::move(shelf.kept);
    }
    return quiet_proj_context();
}

inline void give_back_proj_context(ProjContext ctx) {
    if (!ctx) return;
    ProjContextShelf &shelf = proj_context_shelf();
    std::lock_guard<std::mutex> hold(shelf.lock);
    if (!shelf.kept) shelf.kept = std::move(ctx);
}

// A context borrowed for a scope. Declared before the objects made in it,
// it outlives them: they are destroyed before it is given back.
class BorrowedProjContext {
public:
    BorrowedProjContext() : ctx_(borrow_proj_context()) {}
    ~BorrowedProjContext() { give_back_proj_context(std::move(ctx_)); }
    BorrowedProjContext(const BorrowedProjContext &) = delete;
    BorrowedProjContext &operator=(const BorrowedProjContext &) = delete;
    PJ_CONTEXT *get() const { return ctx_.get(); }
    explicit operator bool() const { return static_cast<bool>(ctx_); }

private:
    ProjContext ctx_;
};
