// The polygons' coordinate systems with PROJ: whether a text is one, whether
// two are the same, and the move of the vertices from one into another.
#include "area.h"
#include "proj_handles.h"
#include "reading.h"

#include <algorithm>
#include <cmath>
#include <memory>

namespace area {

namespace {

// The coordinate system of `text`, its horizontal part where it has a
// vertical one too (a compound system's first, a bound system's source):
// the polygons have X and Y only.
Pj horizontal_crs(PJ_CONTEXT *ctx, const std::string &text) {
    if (ctx == nullptr || text.empty()) return nullptr;
    // A PROJ text ("+proj=utm +zone=30") names a coordinate system only with
    // "+type=crs"; the users' texts seldom carry it.
    const size_t first = text.find_first_not_of(" \t");
    const bool proj_text = first != std::string::npos && text[first] == '+' && text.find("+type=crs") == std::string::npos;
    Pj crs(proj_create(ctx, proj_text ? (text + " +type=crs").c_str() : text.c_str()));
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
    ProjContext own;
    if (ctx == nullptr) own = quiet_proj_context();
    return horizontal_crs(ctx != nullptr ? ctx : own.get(), text) != nullptr;
}

bool same_crs(const std::string &a, const std::string &b) {
    ProjContext ctx = quiet_proj_context();
    Pj pa = horizontal_crs(ctx.get(), a), pb = horizontal_crs(ctx.get(), b);
    return pa && pb &&
           proj_is_equivalent_to_with_ctx(ctx.get(), pa.get(), pb.get(),
                                          PJ_COMP_EQUIVALENT_EXCEPT_AXIS_ORDER_GEOGCRS) != 0;
}

std::string transform_polygons(Polygons &p, const std::string &target, const std::string &name) {
    const std::string refusal =
        "Cannot clip by " + name + ": its vertices cannot be moved into the survey's coordinate system";
    ProjContext ctx = quiet_proj_context();
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

}  // namespace area
