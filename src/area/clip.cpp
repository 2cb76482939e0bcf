// The clip's index: a uniform grid over the polygons' bounds. A point's
// answer is its winding number, the number of polygons it lies in (outer
// rings are taken counter-clockwise, holes clockwise), unless it lies on an
// edge, where it is covered.
//
// A cell that no edge comes near holds the winding number of its points, so
// a point there is answered without an edge test. A cell that edges come
// near holds their numbers and a reference point r of the cell that lies on
// none of them, with its winding number: a point p there is answered by r's
// number plus the signed crossings of the segment from r to p by the cell's
// edges (no other edge can meet the segment, which lies in the cell). The
// crossings are counted with exact orientation tests, a vertex on the
// segment's line taken as lying left of it, so that the edges meeting at it
// are counted alike. The side of each edge's line on which r lies is kept
// with the edge: an edge whose line has p on that side too costs one test.
//
// The winding numbers are worked out row by row from the east, along the
// row's middle line, where the references lie: from q = (x, y) to q' = (x',
// y) the count of the edges' crossings of the ray eastwards changes only by
// what the edges of the cells between make of it (an edge that comes near
// none of them crosses both rays or neither). A cell for which no point of
// the middle line off its edges is found (a horizontal edge along it) has no
// reference; a point there is answered by that same count along its own
// height, through the crossed cells eastwards to the end of the row.
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

// What a cell is: wholly outside, wholly inside (no edge comes near), or
// crossed (its edges are in a block of their own).
enum : uint8_t { kOutside = 0, kInside = 1, kCrossed = 2 };

// A crossed cell's block: its edges, numbers[first, first + count), and its
// reference point, when it has one (kReferenceAt[at] of the way along the
// row's middle line through the cell), with the winding number there.
struct Block {
    uint32_t first, count;
    int32_t winding;
    uint8_t at;
};
static_assert(sizeof(Block) == 16, "a block is four 32-bit words");

constexpr uint8_t kNoReference = 0xFF;

// Where a cell's reference may lie along the row's middle line, as parts of
// the cell's width from its west side: the middle first.
constexpr double kReferenceAt[] = {0.5, 0.3819660112501051, 0.6180339887498949, 0.1458980337503154,
                                   0.8541019662496846, 0.0901699437494742, 0.9098300562505258};

// A block's edge is its number, kNumber, and in kSide the side of its line
// on which the block's reference lies: kLeft, kRight or on it (0).
constexpr uint32_t kNumber = 0x3FFFFFFF;
constexpr uint32_t kSide = 0xC0000000, kLeft = 0x40000000, kRight = 0x80000000;

// About kCellsPerEdge cells per edge, at least kFewestCells and at most
// kMostCells, more for a dense boundary; fewer while the edges' numbers in
// the cells would pass kMostNumbers plus kNumbersPerEdge for each edge (16 MB
// and 32 bytes).
constexpr uint64_t kCellsPerEdge = 8;
constexpr uint64_t kFewestCells = 1024;
constexpr uint64_t kMostCells = uint64_t{1} << 20;
constexpr uint64_t kMostNumbers = uint64_t{1} << 22;
constexpr uint64_t kNumbersPerEdge = 8;

bool outside_box(const Edge &e, double x, double y) {
    return x < std::min(e.ax, e.bx) || x > std::max(e.ax, e.bx) || y < std::min(e.ay, e.by) ||
           y > std::max(e.ay, e.by);
}

// The crossing of the ray eastwards from a point by an edge that spans its
// height (half-open: the lower end in, the upper out): 1 for an edge going
// up, -1 going down, 0 when it misses; `o` is the point's orientation
// against the edge.
int crossing(const Edge &e, int o) { return e.ay < e.by ? (o > 0) : -(o < 0); }

}  // namespace

struct Clip::Index {
    Box bounds;
    int nx = 1, ny = 1;
    double x0 = 0, y0 = 0, to_column = 0, to_row = 0;  // cell number = (v - origin) * to_column
    double mx = 0, my = 0;                               // the margins
    std::vector<double> xs, ys;                          // the columns' and rows' sides, nx + 1 and ny + 1
    std::vector<uint8_t> state;                          // of each cell, row by row
    std::vector<uint32_t> block_of;                      // of each cell, where it is crossed
    std::vector<Block> blocks;
    std::vector<Edge> edges;
    std::vector<uint32_t> numbers;                       // the blocks' edges, with kSide
    std::vector<uint32_t> busy;                          // sums of the cells not wholly outside, (nx+1)(ny+1)

    double columns = 1, rows = 1;                        // nx and ny

    int column(double x) const {
        const double t = (x - x0) * to_column;
        if (!(t > 0)) return 0;  // NaN too
        return t < columns ? static_cast<int>(t) : nx - 1;
    }
    int row(double y) const {
        const double t = (y - y0) * to_row;
        if (!(t > 0)) return 0;
        return t < rows ? static_cast<int>(t) : ny - 1;
    }

    // The same for a point within the bounds, where (x - x0) * to_column
    // lies between 0 and nx (a hair more at most, by rounding).
    int column_within(double x) const { return std::min(static_cast<int>((x - x0) * to_column), nx - 1); }
    int row_within(double y) const { return std::min(static_cast<int>((y - y0) * to_row), ny - 1); }

    bool covered_in_crossed_cell(size_t row, int i, double x, double y) const;

    // The change of the count of crossings of the ray eastwards from (xb, y)
    // to (xa, y), made by the edges of `c`. With `on`, a point (xa, y) on an
    // edge makes it true.
    int difference(const Block &c, double xa, double xb, double y, bool *on) const {
        int w = 0;
        for (const uint32_t *k = numbers.data() + c.first, *end = k + c.count; k != end; ++k) {
            const Edge &e = edges[*k & kNumber];
            const double ylo = std::min(e.ay, e.by), yhi = std::max(e.ay, e.by);
            if (y < ylo || y > yhi) continue;
            const int oa = orientation(e.ax, e.ay, e.bx, e.by, xa, y);
            if (on != nullptr && oa == 0 && xa >= std::min(e.ax, e.bx) && xa <= std::max(e.ax, e.bx)) {
                *on = true;
                return 0;
            }
            if (y == yhi) continue;  // the upper end is not crossed, from either point
            // East of the whole edge, the ray from xb misses it.
            const int ob = xb >= std::max(e.ax, e.bx) ? (e.ay < e.by ? -1 : 1)
                                                      : orientation(e.ax, e.ay, e.bx, e.by, xb, y);
            w += crossing(e, oa) - crossing(e, ob);
        }
        return w;
    }

    // Whether (x, y) lies on none of the cell's edges.
    bool off_edges(const Block &c, double x, double y) const {
        for (const uint32_t *k = numbers.data() + c.first, *end = k + c.count; k != end; ++k) {
            const Edge &e = edges[*k & kNumber];
            if (!outside_box(e, x, y) && orientation(e.ax, e.ay, e.bx, e.by, x, y) == 0) return false;
        }
        return true;
    }

    // The reference of the cell of column i and row j at kReferenceAt[at].
    double reference_x(int i, uint8_t at) const { return xs[i] + (xs[i + 1] - xs[i]) * kReferenceAt[at]; }
    double middle_y(int j) const { return (ys[j] + ys[j + 1]) / 2; }

    // A point of a cell with a reference at (rx, ry).
    bool covered_from(const Block &r, double rx, double ry, double px, double py) const {
        int w = r.winding;
        const double sxmin = std::min(rx, px), sxmax = std::max(rx, px);
        const double symin = std::min(ry, py), symax = std::max(ry, py);
        for (const uint32_t *k = numbers.data() + r.first, *end = k + r.count; k != end; ++k) {
            const Edge &e = edges[*k & kNumber];
            const int op = orientation(e.ax, e.ay, e.bx, e.by, px, py);
            if (op == 0) {
                if (!outside_box(e, px, py)) return true;
                continue;
            }
            // The segment from r crosses the edge only if r lies on the other
            // side of its line; r lies on none of the edges, so that it then
            // crosses it between its ends, where the ends lie on either side
            // of the segment's line (an end on it taken as left).
            if ((*k & kSide) != (op > 0 ? kRight : kLeft)) continue;
            if (std::max(e.ax, e.bx) < sxmin || std::min(e.ax, e.bx) > sxmax || std::max(e.ay, e.by) < symin ||
                std::min(e.ay, e.by) > symax)
                continue;
            const bool a_left = orientation(rx, ry, px, py, e.ax, e.ay) >= 0;
            const bool b_left = orientation(rx, ry, px, py, e.bx, e.by) >= 0;
            if (a_left != b_left) w += op;  // into the edge's left side, or out of it
        }
        return w != 0;
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
    Index ix;
    ix.edges = edges_of(p);
    const std::vector<Edge> &all = ix.edges;
    if (all.empty() || all.size() > kNumber) return;
    // Vertices that are not finite numbers make no area (GEOS finds no
    // such polygon valid): nothing is covered.
    for (const Edge &e : all)
        if (!std::isfinite(e.ax) || !std::isfinite(e.ay) || !std::isfinite(e.bx) || !std::isfinite(e.by)) return;
    Box &b = ix.bounds;
    b = Box{all[0].ax, all[0].ay, all[0].ax, all[0].ay};
    for (const Edge &e : all) {
        b.xmin = std::min({b.xmin, e.ax, e.bx});
        b.xmax = std::max({b.xmax, e.ax, e.bx});
        b.ymin = std::min({b.ymin, e.ay, e.by});
        b.ymax = std::max({b.ymax, e.ay, e.by});
    }
    const double width = b.xmax - b.xmin, height = b.ymax - b.ymin;
    const bool gridded = std::isfinite(width) && std::isfinite(height) && width > 0 && height > 0;
    if (gridded) {
        ix.x0 = b.xmin;
        ix.y0 = b.ymin;
        // Square cells as far as the bounds allow; as many as may be where
        // the edges' numbers in the cells would be more than the cells (a
        // boundary as dense as the spikes of a star), then fewer while they
        // would be too many.
        auto numbers = [&](double nx, double ny) {
            double n = 0;
            for (const Edge &e : all) n += std::fabs(e.bx - e.ax) / width * nx + std::fabs(e.by - e.ay) / height * ny + 3;
            return n;
        };
        auto whole = [&](double &nx, double &ny) {
            nx = std::min(std::max(std::floor(nx), 1.0), static_cast<double>(kMostCells));
            ny = std::min(std::max(std::floor(ny), 1.0), std::floor(static_cast<double>(kMostCells) / nx));
        };
        const uint64_t wanted = std::max(kFewestCells, std::min(kMostCells, kCellsPerEdge * all.size()));
        double nx = std::sqrt(static_cast<double>(wanted) * width / height);
        double ny = static_cast<double>(wanted) / nx;
        whole(nx, ny);
        if (numbers(nx, ny) > nx * ny) {
            const double finer = std::sqrt(static_cast<double>(kMostCells) / (nx * ny));
            nx *= finer;
            ny *= finer;
            whole(nx, ny);
        }
        const double most = static_cast<double>(kMostNumbers + kNumbersPerEdge * all.size());
        while (numbers(nx, ny) > most && (nx > 1 || ny > 1)) {
            nx /= 2;
            ny /= 2;
            whole(nx, ny);
        }
        ix.nx = static_cast<int>(nx);
        ix.ny = static_cast<int>(ny);
        ix.columns = nx;
        ix.rows = ny;
        ix.to_column = ix.nx / width;
        ix.to_row = ix.ny / height;
    }
    const int nx = ix.nx, ny = ix.ny;
    const double cw = gridded ? width / nx : 0, ch = gridded ? height / ny : 0;
    ix.xs.resize(nx + 1);
    std::vector<double> &ys = ix.ys;
    ys.resize(ny + 1);
    for (int i = 0; i < nx; ++i) ix.xs[i] = b.xmin + i * cw;
    for (int j = 0; j < ny; ++j) ys[j] = b.ymin + j * ch;
    ix.xs[nx] = b.xmax;  // the last side is the bounds' own: nothing lies east of it
    ys[ny] = b.ymax;

    // The margin: a part of a cell, and far more than the rounding of a
    // coordinate of this size.
    constexpr double kEps = std::numeric_limits<double>::epsilon();
    const double mx = ix.mx = cw / 64 + 64 * kEps * std::max(std::fabs(b.xmin), std::fabs(b.xmax));
    const double my = ix.my = ch / 64 + 64 * kEps * std::max(std::fabs(b.ymin), std::fabs(b.ymax));

    // The cells near each edge, row by row: counted, then their numbers of the edges filled in.
    const size_t cells = static_cast<size_t>(nx) * ny;
    std::vector<uint32_t> count(cells, 0);
    auto visit = [&](bool fill) {
        for (uint32_t n = 0; n < all.size(); ++n) {
            const Edge &e = all[n];
            const double ylo = std::min(e.ay, e.by), yhi = std::max(e.ay, e.by);
            const int j0 = ix.row(ylo - my), j1 = ix.row(yhi + my);
            for (int j = j0; j <= j1; ++j) {
                const double bottom = std::max(ylo, ys[j] - my), top = std::min(yhi, ys[j + 1] + my);
                if (bottom > top) continue;
                double xa = e.ax, xb = e.bx;
                if (e.ay != e.by) {
                    const double slope = (e.bx - e.ax) / (e.by - e.ay);
                    xa = e.ax + (bottom - e.ay) * slope;
                    xb = e.ax + (top - e.ay) * slope;
                }
                const int i0 = ix.column(std::min(xa, xb) - mx), i1 = ix.column(std::max(xa, xb) + mx);
                for (int i = i0; i <= i1; ++i) {
                    const size_t c = static_cast<size_t>(j) * nx + i;
                    if (fill) ix.numbers[ix.blocks[ix.block_of[c]].first + count[c]++] = n;
                    else ++count[c];
                }
            }
        }
    };
    visit(false);
    ix.state.assign(cells, kOutside);
    ix.block_of.assign(cells, 0);
    uint64_t total = 0;
    for (size_t c = 0; c < cells; ++c) {
        if (count[c] == 0) continue;
        ix.state[c] = kCrossed;
        ix.block_of[c] = static_cast<uint32_t>(ix.blocks.size());
        ix.blocks.push_back(Block{static_cast<uint32_t>(total), count[c], 0, kNoReference});
        total += count[c];
        count[c] = 0;
    }
    ix.numbers.resize(total);
    visit(true);
    count = std::vector<uint32_t>();

    // The winding numbers, from the east along each row's middle line.
    for (int j = 0; j < ny; ++j) {
        const double y = ix.middle_y(j);
        int w = 0;  // of the ray from the current cell's east side
        for (int i = nx - 1; i >= 0; --i) {
            const size_t c = static_cast<size_t>(j) * nx + i;
            if (ix.state[c] != kCrossed) {
                ix.state[c] = w != 0 ? kInside : kOutside;
                continue;
            }
            Block &k = ix.blocks[ix.block_of[c]];
            for (uint8_t at = 0; at < sizeof kReferenceAt / sizeof kReferenceAt[0]; ++at) {
                const double x = ix.reference_x(i, at);
                if (!ix.off_edges(k, x, y)) continue;
                k.at = at;
                k.winding = w + ix.difference(k, x, ix.xs[i + 1], y, nullptr);
                for (uint32_t *n = ix.numbers.data() + k.first, *end = n + k.count; n != end; ++n) {
                    const Edge &e = all[*n];
                    const int side = orientation(e.ax, e.ay, e.bx, e.by, x, y);
                    *n |= side > 0 ? kLeft : side < 0 ? kRight : 0;
                }
                break;
            }
            w += ix.difference(k, ix.xs[i], ix.xs[i + 1], y, nullptr);
        }
    }

    // Sums over the cells not wholly outside, for meets().
    ix.busy.assign(static_cast<size_t>(nx + 1) * (ny + 1), 0);
    for (int j = 0; j < ny; ++j)
        for (int i = 0; i < nx; ++i) {
            const uint32_t here = ix.state[static_cast<size_t>(j) * nx + i] != kOutside;
            const size_t at = static_cast<size_t>(j + 1) * (nx + 1) + (i + 1);
            ix.busy[at] = here + ix.busy[at - 1] + ix.busy[at - (nx + 1)] - ix.busy[at - (nx + 1) - 1];
        }
    index_ = new Index(std::move(ix));
}

// Out of line, so that the call for a point of a cell that no edge comes
// near, most points, saves and restores nothing it does not use.
__attribute__((noinline)) bool Clip::Index::covered_in_crossed_cell(size_t row, int i, double x, double y) const {
    const Block &k = blocks[block_of[row + i]];
    if (k.at != kNoReference) return covered_from(k, reference_x(i, k.at), middle_y(static_cast<int>(row / nx)), x, y);
    bool on = false;
    int w = difference(k, x, xs[i + 1], y, &on);
    if (on) return true;
    for (int east = i + 1; east < nx; ++east)
        if (state[row + east] == kCrossed)
            w += difference(blocks[block_of[row + east]], xs[east], xs[east + 1], y, nullptr);
    return w != 0;
}

bool Clip::covers(double x, double y) const {
    const Index *ix = index_;
    if (ix == nullptr) return false;
    const Box &b = ix->bounds;
    if (!(x >= b.xmin && x <= b.xmax && y >= b.ymin && y <= b.ymax)) return false;
    const int i = ix->column_within(x);
    const size_t row = static_cast<size_t>(ix->row_within(y)) * ix->nx;
    const uint8_t state = ix->state[row + i];
    if (state != kCrossed) return state == kInside;
    return ix->covered_in_crossed_cell(row, i, x, y);
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
