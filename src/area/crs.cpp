// The polygons' coordinate systems with PROJ: whether a text is one, whether
// two are the same, and the move of the vertices from one into another.
#include "area.h"
#include "proj_handles.h"
#include "reading.h"
#include "reprojection.h"

#include <proj_experimental.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <limits>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

namespace area {

namespace {

// The coordinate system of `text` as a whole; null when it is none.
Pj whole_crs(PJ_CONTEXT *ctx, const std::string &text) {
    if (ctx == nullptr || text.empty()) return nullptr;
    // A PROJ text ("+proj=utm +zone=30") names a coordinate system only with
    // "+type=crs"; the users' texts seldom carry it.
    const size_t first = text.find_first_not_of(" \t");
    const bool proj_text = first != std::string::npos && text[first] == '+' && text.find("+type=crs") == std::string::npos;
    Pj crs(proj_create(ctx, proj_text ? (text + " +type=crs").c_str() : text.c_str()));
    if (crs && !proj_is_crs(crs.get())) crs.reset();
    return crs;
}

// The coordinate system of `text`, its horizontal part where it has a
// vertical one too (a compound system's first, a bound system's source):
// the polygons have X and Y only.
Pj horizontal_crs(PJ_CONTEXT *ctx, const std::string &text) {
    Pj crs = whole_crs(ctx, text);
    for (int step = 0; crs && step < 4; ++step) {
        const PJ_TYPE type = proj_get_type(crs.get());
        if (type == PJ_TYPE_COMPOUND_CRS) crs.reset(proj_crs_get_sub_crs(ctx, crs.get(), 0));
        else if (type == PJ_TYPE_BOUND_CRS) crs.reset(proj_get_source_crs(ctx, crs.get()));
        else break;
    }
    if (crs && !proj_is_crs(crs.get())) crs.reset();
    return crs;
}

}  // namespace

bool proj_reads(const std::string &text, PJ_CONTEXT *ctx) {
    if (ctx != nullptr) return horizontal_crs(ctx, text) != nullptr;
    BorrowedProjContext own;
    return horizontal_crs(own.get(), text) != nullptr;
}

bool same_crs(const std::string &a, const std::string &b) {
    BorrowedProjContext ctx;
    Pj pa = horizontal_crs(ctx.get(), a), pb = horizontal_crs(ctx.get(), b);
    return pa && pb &&
           proj_is_equivalent_to_with_ctx(ctx.get(), pa.get(), pb.get(),
                                          PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0;
}

std::string transform_polygons(Polygons &p, const std::string &target, const std::string &name,
                               const std::string &into) {
    const std::string refusal = "Cannot clip by " + name + ": its vertices cannot be moved into " + into;
    BorrowedProjContext ctx;
    Pj from = horizontal_crs(ctx.get(), p.crs), to = horizontal_crs(ctx.get(), target);
    if (!from || !to) return refusal;
    Pj chosen(proj_create_crs_to_crs_from_pj(ctx.get(), from.get(), to.get(), nullptr, nullptr));
    if (!chosen) return refusal;
    // East then north on both sides, whatever order the systems define.
    Pj op(proj_normalize_for_visualization(ctx.get(), chosen.get()));
    if (!op) return refusal;
    Polygons moved = p;
    for (Polygon &polygon : moved.polygons) {
        for (Ring &ring : polygon.rings) {
            const size_t n = std::min(ring.x.size(), ring.y.size());
            if (n == 0) continue;
            proj_trans_generic(op.get(), PJ_FWD, ring.x.data(), sizeof(double), n, ring.y.data(), sizeof(double), n,
                               nullptr, 0, 0, nullptr, 0, 0);
            for (size_t i = 0; i < n; ++i)
                if (!std::isfinite(ring.x[i]) || !std::isfinite(ring.y[i])) return refusal;
        }
    }
    moved.crs = target;
    p = std::move(moved);
    return "";
}

namespace {

// Whether a system states heights of its own: a compound system, a 3D
// geographic one, or a bound system over either.
bool has_vertical(PJ_CONTEXT *ctx, const PJ *crs) {
    switch (proj_get_type(crs)) {
        case PJ_TYPE_COMPOUND_CRS:
        case PJ_TYPE_GEOGRAPHIC_3D_CRS: return true;
        case PJ_TYPE_BOUND_CRS: {
            Pj source(proj_get_source_crs(ctx, crs));
            return source && has_vertical(ctx, source.get());
        }
        default: return false;
    }
}

bool is_prj_name(const std::string &value) {
    if (value.size() < 5) return false;
    std::string ext = value.substr(value.size() - 4);
    for (char &c : ext) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return ext == ".prj";
}

}  // namespace

// PROJ's context and the operation in it, used by one thread at a time.
struct Reprojection::Handles {
    ProjContext ctx;
    Pj op;
    std::vector<double> heights;  // a block's Z, for an operation that does not write it
    std::mutex lock;  // the boxes' handles only
};

Reprojection::Reprojection() = default;
Reprojection::~Reprojection() = default;

std::string read_target_crs(const std::string &value, TargetCrs &out) {
    const std::string refusal = "--crs \"" + value + "\" is no coordinate system PROJ knows";
    std::string text = value;
    if (is_prj_name(value)) {
        std::FILE *file = platform::fopen(value.c_str(), "rb");
        if (file == nullptr) return "Cannot open " + value + " for reading";
        text.clear();
        char piece[4096];
        for (size_t got; (got = std::fread(piece, 1, sizeof piece, file)) > 0;) text.append(piece, got);
        std::fclose(file);
        while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.pop_back();
    }
    BorrowedProjContext ctx;
    Pj crs = whole_crs(ctx.get(), text);
    Pj flat = horizontal_crs(ctx.get(), text);
    if (!crs || !flat) return refusal;
    if (proj_get_type(flat.get()) == PJ_TYPE_GEOGRAPHIC_3D_CRS)
        flat.reset(proj_crs_demote_to_2D(ctx.get(), nullptr, flat.get()));
    const char *const options[] = {"MULTILINE=NO", nullptr};
    const char *esri = flat ? proj_as_wkt(ctx.get(), flat.get(), PJ_WKT1_ESRI, options) : nullptr;
    if (esri == nullptr) return "--crs \"" + value + "\" has no ESRI WKT form for the .prj";
    const char *name = proj_get_name(crs.get());
    out.text = text;
    out.esri = esri;
    out.name = name != nullptr ? name : value;
    return "";
}

bool Reprojection::make(const std::string &source, const TargetCrs &target) {
    // The first handle keeps the context borrowed, database open, for the run.
    std::unique_ptr<Handles> made[3];
    for (int k = 0; k < 3; ++k) {
        made[k].reset(new Handles);
        made[k]->ctx = k == 0 ? borrow_proj_context() : quiet_proj_context();
        if (!made[k]->ctx) return false;
    }
    bool vertical = false;
    const auto choose = [&](PJ_CONTEXT *ctx) -> Pj {
        Pj from = whole_crs(ctx, source), to = whole_crs(ctx, target.text);
        if (!from || !to) return nullptr;
        // Heights are transformed only between two systems that state them.
        vertical = has_vertical(ctx, from.get()) && has_vertical(ctx, to.get());
        if (!vertical) {
            from = horizontal_crs(ctx, source);
            to = horizontal_crs(ctx, target.text);
            if (!from || !to) return nullptr;
        }
        Pj chosen(proj_create_crs_to_crs_from_pj(ctx, from.get(), to.get(), nullptr, nullptr));
        // East then north on both sides, whatever order the systems define.
        return chosen ? Pj(proj_normalize_for_visualization(ctx, chosen.get())) : nullptr;
    };
    made[0]->op = choose(made[0]->ctx.get());
    if (!made[0]->op) return false;
    // The other handles are copies in contexts of their own, without
    // choosing the operation again where PROJ can copy it.
    for (int k = 1; k < 3; ++k) {
        made[k]->op.reset(proj_clone(made[k]->ctx.get(), made[0]->op.get()));
        if (!made[k]->op) made[k]->op = choose(made[k]->ctx.get());
        if (!made[k]->op) return false;
    }
    points_[0] = std::move(made[0]);
    points_[1] = std::move(made[1]);
    boxes_ = std::move(made[2]);
    vertical_ = vertical;
    return true;
}

size_t Reprojection::transform(double *x, double *y, double *z, size_t n, bool two_threads) const {
    const auto part = [this, x, y, z](int k, size_t from, size_t to) {
        const size_t count = to - from;
        if (count == 0) return to;
        // The heights take part even where Z is kept as it stands: a datum
        // shift through geocentric coordinates moves X and Y by them, as
        // cs2cs has it.
        double *heights = z + from;
        if (!vertical_) {
            std::vector<double> &copy = points_[k]->heights;
            copy.assign(z + from, z + to);
            heights = copy.data();
        }
        proj_trans_generic(points_[k]->op.get(), PJ_FWD, x + from, sizeof(double), count, y + from, sizeof(double),
                           count, heights, sizeof(double), count, nullptr, 0, 0);
        for (size_t i = from; i < to; ++i)
            if (!std::isfinite(x[i]) || !std::isfinite(y[i]) || !std::isfinite(z[i])) return i;
        return to;
    };
    // Small blocks are not worth a thread.
    constexpr size_t kShared = 4096;
    if (!two_threads || n < kShared) return part(0, 0, n);
    const size_t half = n / 2;
    size_t first_bad = n;
    std::thread helper;
    try {
        helper = std::thread([&] { first_bad = part(1, half, n); });
    } catch (const std::system_error &) {
        return part(0, 0, n);  // no thread to be had: all of them here
    }
    const size_t own = part(0, 0, half);
    helper.join();
    return own < half ? own : first_bad;
}

Box Reprojection::reach(const Box &b) const {
    constexpr double inf = std::numeric_limits<double>::infinity();
    const Box everywhere{-inf, -inf, inf, inf};
    if (!boxes_) return everywhere;
    Box r;
    {
        std::lock_guard<std::mutex> hold(boxes_->lock);
        constexpr int kDensify = 21;  // points along each edge
        if (!proj_trans_bounds(boxes_->ctx.get(), boxes_->op.get(), PJ_FWD, b.xmin, b.ymin, b.xmax, b.ymax, &r.xmin,
                               &r.ymin, &r.xmax, &r.ymax, kDensify))
            return everywhere;
    }
    // Across the antimeridian the bounds wrap: no narrower box then.
    if (!(r.xmin <= r.xmax && r.ymin <= r.ymax) || !std::isfinite(r.xmin) || !std::isfinite(r.xmax) ||
        !std::isfinite(r.ymin) || !std::isfinite(r.ymax))
        return everywhere;
    // The edges bend between the densified points: a margin of a thousandth
    // of the box, and of the rounding of its coordinates.
    const double margin = 1e-3 * std::max(r.xmax - r.xmin, r.ymax - r.ymin) +
                          1e-9 * std::max({std::fabs(r.xmin), std::fabs(r.xmax), std::fabs(r.ymin), std::fabs(r.ymax), 1.0});
    return {r.xmin - margin, r.ymin - margin, r.xmax + margin, r.ymax + margin};
}

}  // namespace area
