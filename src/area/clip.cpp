// The clip's index: a uniform grid over the polygons' bounds. A cell that
// no edge comes near holds the winding number of its points (the number of
// polygons they lie in: outer rings are taken counter-clockwise, holes
// clockwise), so a point there is answered without an edge test. A cell
// that an edge comes near holds its own copy of those edges.
//
// A point p in such a cell is answered by the winding number of the ray
// from p eastwards, counted by the edges' crossings with exact orientation
// tests. The ray is followed cell by cell: for q on the cell's east side at
// p's height, every edge that does not come near the cell crosses the ray
// from p exactly when it crosses the ray from q, so the winding number at p
// is that at q plus what the cell's own edges make of the difference. From
// q the same holds for the next cell east, until a cell whose winding
// number is known. An edge held by several of those cells adds up to its
// own crossing with the ray from p, since the differences telescope.
//
// "Near" is the cell widened by a small margin on every side, larger than
// any rounding in placing points and edges in cells: an edge is given to
// every cell whose widened box its own part in the cell's row may meet.
#include "area.h"
#include "plane.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <limits>
#include <utility>
#include <vector>

namespace area {

namespace {

struct Edge {
    double ax, ay, bx, by;
};
static_assert(sizeof(Edge) == 32, "an edge is four doubles");

// count 0: no edge comes near, and `first` holds the winding number of the
// cell's points; else the cell's edges are edges[first, first + count).
struct Cell {
    uint32_t first, count;
};
static_assert(sizeof(Cell) == 8, "a cell is two 32-bit words");

// At most this many cells, and about kCellsPerEdge per edge, fewer when the
// edges' copies in the cells would pass kMostCopies.
constexpr uint64_t kMostCells = uint64_t{1} << 20;
constexpr uint64_t kCellsPerEdge = 4;
constexpr uint64_t kMostCopies = uint64_t{1} << 22;

int winding_of(const Cell &c) { return static_cast<int32_t>(c.first); }

// The crossing of the ray eastwards from (x, y) by an edge that spans y
// (half-open: its lower end in, its upper end out): 1 for an edge going up,
// -1 going down, 0 when the ray misses it. `o` is the orientation of the
// point against the edge.
inline int crossing(const Edge &e, int o) { return e.ay < e.by ? (o > 0) : -(o < 0); }

}  // namespace

struct Clip::Index {
    Box bounds;
    int nx = 1, ny = 1;
    double x0 = 0, y0 = 0, to_column = 0, to_row = 0;  // cell number = (v - origin) * to_column
    double mx = 0, my = 0;                               // the margins (below)
    std::vector<double> xs;                              // the columns' sides, nx + 1 of them
    std::vector<Cell> cells;                             // row by row
    std::vector<Edge> edges;                             // the cells' copies
    std::vector<uint32_t> busy;                          // sums of the cells not wholly outside, (nx+1)(ny+1)

    int column(double x) const {
        const double t = (x - x0) * to_column;
        if (!(t > 0)) return 0;  // NaN too
        return t >= nx ? nx - 1 : static_cast<int>(t);
    }
    int row(double y) const {
        const double t = (y - y0) * to_row;
        if (!(t > 0)) return 0;
        return t >= ny ? ny - 1 : static_cast<int>(t);
    }

    // The winding number's change from (xa, y) to (xb, y), xa <= xb, made by
    // the edges of `c`: the crossings of the ray from xa less those of the
    // ray from xb. With `on`, a point (xa, y) on an edge makes it true.
    int difference(const Cell &c, double xa, double xb, double y, bool *on) const {
        int w = 0;
        for (const Edge *e = edges.data() + c.first, *end = e + c.count; e != end; ++e) {
            const double ylo = std::min(e->ay, e->by), yhi = std::max(e->ay, e->by);
            if (y < ylo || y > yhi) continue;
            const int oa = orientation(e->ax, e->ay, e->bx, e->by, xa, y);
            if (on != nullptr && oa == 0 && xa >= std::min(e->ax, e->bx) && xa <= std::max(e->ax, e->bx)) {
                *on = true;
                return 0;
            }
            if (y == yhi) continue;  // the upper end is not crossed, from either point
            // East of the whole edge, the ray from xb misses it.
            const int ob = xb >= std::max(e->ax, e->bx) ? (e->ay < e->by ? -1 : 1)
                                                        : orientation(e->ax, e->ay, e->bx, e->by, xb, y);
            w += crossing(*e, oa) - crossing(*e, ob);
        }
        return w;
    }
};

namespace {

// The polygons' edges, outer rings counter-clockwise and holes clockwise,
// closed, without edges of no length.
std::vector<Edge> edges_of(const Polygons &p) {
    std::vector<Edge> out;
    for (const Polygon &polygon : p.polygons) {
        for (size_t r = 0; r < polygon.rings.size(); ++r) {
            const Ring &ring = polygon.rings[r];
            const size_t n = std::min(ring.x.size(), ring.y.size());
            if (n < 2) continue;
            const double area = signed_area2(ring);
            const bool reverse = r == 0 ? area < 0 : area > 0;
            for (size_t i = 0; i < n; ++i) {
                const size_t k = i + 1 < n ? i + 1 : 0;
                Edge e{ring.x[i], ring.y[i], ring.x[k], ring.y[k]};
                if (e.ax == e.bx && e.ay == e.by) continue;
                if (reverse) e = Edge{e.bx, e.by, e.ax, e.ay};
                out.push_back(e);
            }
        }
    }
    return out;
}

}  // namespace

Clip::Clip() = default;
Clip::~Clip() { delete index_; }
Clip::Clip(Clip &&o) noexcept : index_(o.index_) { o.index_ = nullptr; }
Clip &Clip::operator=(Clip &&o) noexcept {
    std::swap(index_, o.index_);
    return *this;
}

Clip::Clip(const Polygons &p) {
    std::vector<Edge> all = edges_of(p);
    if (all.empty()) return;
    Index ix;
    Box &b = ix.bounds;
    b = Box{all[0].ax, all[0].ay, all[0].ax, all[0].ay};
    for (const Edge &e : all) {
        b.xmin = std::min({b.xmin, e.ax, e.bx});
        b.xmax = std::max({b.xmax, e.ax, e.bx});
        b.ymin = std::min({b.ymin, e.ay, e.by});
        b.ymax = std::max({b.ymax, e.ay, e.by});
    }
    const double width = b.xmax - b.xmin, height = b.ymax - b.ymin;
    ix.x0 = b.xmin;
    ix.y0 = b.ymin;
    const bool gridded = std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
    if (gridded) {
        // Square cells as far as the bounds allow, then fewer while the
        // edges' copies would be too many.
        const double cells = static_cast<double>(std::min(kMostCells, kCellsPerEdge * all.size() + 16));
        double nx = std::sqrt(cells * width / height), ny = cells / nx;
        for (;;) {
            nx = std::min(std::max(std::floor(nx), 1.0), static_cast<double>(kMostCells));
            ny = std::min(std::max(std::floor(ny), 1.0), std::floor(static_cast<double>(kMostCells) / nx));
            double copies = 0;
            for (const Edge &e : all)
                copies += std::fabs(e.bx - e.ax) / width * nx + std::fabs(e.by - e.ay) / height * ny + 3;
            if (copies <= static_cast<double>(kMostCopies) || (nx == 1 && ny == 1)) break;
            nx /= 2;
            ny /= 2;
        }
        ix.nx = static_cast<int>(nx);
        ix.ny = static_cast<int>(ny);
        ix.to_column = ix.nx / width;
        ix.to_row = ix.ny / height;
    }
    const int nx = ix.nx, ny = ix.ny;
    const double cw = gridded ? width / nx : 0, ch = gridded ? height / ny : 0;
    ix.xs.resize(nx + 1);
    std::vector<double> ys(ny + 1);
    for (int i = 0; i < nx; ++i) ix.xs[i] = b.xmin + i * cw;
    for (int j = 0; j < ny; ++j) ys[j] = b.ymin + j * ch;
    ix.xs[nx] = b.xmax;  // the last side is the bounds' own: nothing lies east of it
    ys[ny] = b.ymax;

    // The margin: a part of a cell, and far more than the rounding of a
    // coordinate of this size.
    constexpr double kEps = std::numeric_limits<double>::epsilon();
    const double mx = ix.mx = cw / 64 + 64 * kEps * std::max(std::fabs(b.xmin), std::fabs(b.xmax));
    const double my = ix.my = ch / 64 + 64 * kEps * std::max(std::fabs(b.ymin), std::fabs(b.ymax));

    // The cells near each edge, row by row; and in every row the edges'
    // crossings of the line through the row's middle, for the winding
    // numbers of the cells that no edge comes near.
    struct Crossing {
        double x;
        int up;
    };
    std::vector<std::vector<Crossing>> crossings(ny);
    std::vector<uint32_t> count(static_cast<size_t>(nx) * ny, 0);
    auto visit = [&](bool fill, std::vector<uint32_t> &next) {
        for (const Edge &e : all) {
            const double ylo = std::min(e.ay, e.by), yhi = std::max(e.ay, e.by);
            const int j0 = ix.row(ylo - my), j1 = ix.row(yhi + my);
            for (int j = j0; j <= j1; ++j) {
                const double bottom = std::max(ylo, ys[j] - my), top = std::min(yhi, ys[j + 1] + my);
                if (bottom > top) continue;
                double xa, xb;
                if (e.ay == e.by) {
                    xa = e.ax;
                    xb = e.bx;
                } else {
                    const double slope = (e.bx - e.ax) / (e.by - e.ay);
                    xa = e.ax + (bottom - e.ay) * slope;
                    xb = e.ax + (top - e.ay) * slope;
                }
                const int i0 = ix.column(std::min(xa, xb) - mx), i1 = ix.column(std::max(xa, xb) + mx);
                for (int i = i0; i <= i1; ++i) {
                    const size_t c = static_cast<size_t>(j) * nx + i;
                    if (fill) ix.edges[next[c]++] = e;
                    else ++count[c];
                }
                if (!fill) {
                    const double middle = (ys[j] + ys[j + 1]) / 2;
                    if (ylo <= middle && middle < yhi) {
                        const double x = e.ax + (middle - e.ay) * ((e.bx - e.ax) / (e.by - e.ay));
                        crossings[j].push_back(Crossing{x, e.ay < e.by ? 1 : -1});
                    }
                }
            }
        }
    };
    std::vector<uint32_t> next;
    visit(false, next);

    ix.cells.resize(count.size());
    uint64_t total = 0;
    for (size_t c = 0; c < count.size(); ++c) {
        ix.cells[c] = Cell{static_cast<uint32_t>(total), count[c]};
        total += count[c];
    }
    ix.edges.resize(total);
    next.resize(count.size());
    for (size_t c = 0; c < count.size(); ++c) next[c] = ix.cells[c].first;
    visit(true, next);

    // Winding numbers of the cells no edge comes near, at their middles:
    // the crossings east of a middle, none of which lies near it.
    for (int j = 0; j < ny; ++j) {
        std::vector<Crossing> &row = crossings[j];
        std::sort(row.begin(), row.end(), [](const Crossing &a, const Crossing &c) { return a.x < c.x; });
        size_t k = row.size();
        int w = 0;
        for (int i = nx - 1; i >= 0; --i) {
            const double middle = (ix.xs[i] + ix.xs[i + 1]) / 2;
            while (k > 0 && row[k - 1].x > middle) w += row[--k].up;
            Cell &c = ix.cells[static_cast<size_t>(j) * nx + i];
            if (c.count == 0) c.first = static_cast<uint32_t>(w);
        }
    }

    // Sums over the cells not wholly outside, for meets().
    ix.busy.assign(static_cast<size_t>(nx + 1) * (ny + 1), 0);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const Cell &c = ix.cells[static_cast<size_t>(j) * nx + i];
            const uint32_t here = c.count > 0 || winding_of(c) != 0;
            const size_t at = static_cast<size_t>(j + 1) * (nx + 1) + (i + 1);
            ix.busy[at] = here + ix.busy[at - 1] + ix.busy[at - (nx + 1)] - ix.busy[at - (nx + 1) - 1];
        }
    index_ = new Index(std::move(ix));
}

bool Clip::covers(double x, double y) const {
    const Index *ix = index_;
    if (ix == nullptr) return false;
    const Box &b = ix->bounds;
    if (!(x >= b.xmin && x <= b.xmax && y >= b.ymin && y <= b.ymax)) return false;
    const int i = ix->column(x);
    const Cell *row = ix->cells.data() + static_cast<size_t>(ix->row(y)) * ix->nx;
    if (row[i].count == 0) return winding_of(row[i]) != 0;
    bool on = false;
    int w = ix->difference(row[i], x, ix->xs[i + 1], y, &on);
    if (on) return true;
    for (int k = i + 1; k < ix->nx; ++k) {
        if (row[k].count == 0) return w + winding_of(row[k]) != 0;
        w += ix->difference(row[k], ix->xs[k], ix->xs[k + 1], y, nullptr);
    }
    return w != 0;
}

bool Clip::meets(const Box &box) const {
    const Index *ix = index_;
    if (ix == nullptr || !boxes_meet(box, ix->bounds)) return false;
    // The cells under the box widened by the margin, which is more than the
    // rounding in placing a point in its cell.
    const int i0 = ix->column(box.xmin - ix->mx), i1 = ix->column(box.xmax + ix->mx);
    const int j0 = ix->row(box.ymin - ix->my), j1 = ix->row(box.ymax + ix->my);
    const size_t w = ix->nx + 1;
    const auto at = [&](int i, int j) { return ix->busy[static_cast<size_t>(j) * w + i]; };
    return at(i1 + 1, j1 + 1) - at(i0, j1 + 1) - at(i1 + 1, j0) + at(i0, j0) > 0;
}

Box Clip::bounds() const { return index_ != nullptr ? index_->bounds : Box{0, 0, 0, 0}; }

}  // namespace area
