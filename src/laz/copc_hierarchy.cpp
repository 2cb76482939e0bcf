#include "copc_hierarchy.h"

#include "byte_source.h"
#include "item_common.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <iterator>
#include <map>

namespace laz {

namespace {

constexpr uint32_t kVlrHeaderBytes = 54;
constexpr uint32_t kEvlrHeaderBytes = 60;
// Entries read from a page at a time.
constexpr size_t kEntriesPerRead = 1024;

#pragma pack(push, 1)
// The LAS header's scale factors, offsets and bounds, from byte 131.
struct HeaderGeometry {
    double scale[3], offset[3];
    double max_x, min_x, max_y, min_y, max_z, min_z;
};
#pragma pack(pop)
static_assert(sizeof(HeaderGeometry) == 96 && offsetof(HeaderGeometry, max_x) == 48, "header geometry layout");
constexpr uint64_t kHeaderGeometryAt = 131;

std::string user_of(const uint8_t *head) {
    const char *user = reinterpret_cast<const char *>(head + 2);
    return std::string(user, strnlen(user, 16));
}

// The extended record that holds the hierarchy: where its data lies.
bool find_hierarchy(ByteSource &source, const LasFacts &f, uint64_t &data_at, uint64_t &length) {
    uint64_t at = f.evlr_start;
    for (uint32_t i = 0; i < f.evlr_count; ++i) {
        uint8_t head[kEvlrHeaderBytes];
        if (at > f.file_size || f.file_size - at < kEvlrHeaderBytes || !source.read_at(at, head, sizeof head))
            return false;
        data_at = at + kEvlrHeaderBytes;
        length = load64(head + 20);
        if (length > f.file_size - data_at) return false;
        if (load16(head + 18) == kCopcHierarchyRecordId && user_of(head) == kCopcUserId) return true;
        at = data_at + length;
    }
    return false;
}

// The pages visited, as [start, end) ranges that may not overlap: each page
// is read once, and all of them together no more than the record's bytes.
class Pages {
 public:
    bool add(uint64_t start, uint64_t end) {
        auto next = taken_.lower_bound(start);
        if (next != taken_.end() && next->first < end) return false;
        if (next != taken_.begin() && std::prev(next)->second > start) return false;
        taken_.emplace(start, end);
        return true;
    }

 private:
    std::map<uint64_t, uint64_t> taken_;
};

bool finite(double v) { return std::isfinite(v); }

}  // namespace

// Trust rests on one promise of the format: a node's points lie in its cube.
// The writer decided that with its own arithmetic, perhaps before quantising
// the coordinates; the converter computes X = raw x scale + offset. The two
// may differ by half a scale step and by the rounding of numbers of the
// coordinates' magnitude, so each square is widened on every side by one
// scale step plus a billionth of the cube's distance from 0: for
// coordinates of a million metres in millimetres, about 2 mm. A chunk kept
// that could have been skipped costs only time.
std::string copc_squares(ByteSource &source, const LasFacts &f, const std::vector<Chunk> &chunks,
                         std::vector<Square> &squares) {
    squares.clear();
    if (f.point_format < 6 || f.point_format > 8) return "point format " + std::to_string(f.point_format);
    // The info record, first of the variable length records.
    uint8_t head[kVlrHeaderBytes];
    CopcInfo info;
    if (f.vlr_count == 0 || f.header_size > f.offset_to_data ||
        f.offset_to_data - f.header_size < kVlrHeaderBytes + sizeof info || f.offset_to_data > f.file_size ||
        !source.read_at(f.header_size, head, sizeof head))
        return "no room for the COPC info record";
    if (user_of(head) != kCopcUserId || load16(head + 18) != kCopcInfoRecordId || load16(head + 20) != sizeof info)
        return "the first variable length record is no COPC info record";
    if (!source.read_at(f.header_size + kVlrHeaderBytes, &info, sizeof info))
        return "the COPC info record cannot be read";
    HeaderGeometry g;
    if (!source.read_at(kHeaderGeometryAt, &g, sizeof g)) return "the header cannot be read";

    const double centre[3] = {info.center_x, info.center_y, info.center_z};
    const double h = info.halfsize;
    if (!finite(h) || !(h > 0)) return "the root cube's half-size is not a positive number";
    double margin[3];
    for (int a = 0; a < 3; ++a) {
        margin[a] = std::fabs(g.scale[a]) + 1e-9 * (std::fabs(centre[a]) + h);
        if (!finite(centre[a]) || !finite(margin[a])) return "the root cube or the scale is not a number";
    }
    const double low[3] = {g.min_x, g.min_y, g.min_z}, high[3] = {g.max_x, g.max_y, g.max_z};
    for (int a = 0; a < 3; ++a)
        if (!(low[a] >= centre[a] - h - margin[a] && high[a] <= centre[a] + h + margin[a]))
            return "the root cube does not hold the header's bounds";

    uint64_t data_at = 0, length = 0;
    if (!find_hierarchy(source, f, data_at, length)) return "no COPC hierarchy record";
    const uint64_t data_end = data_at + length;
    auto page_fits = [&](uint64_t at, uint64_t bytes) {
        return bytes > 0 && bytes % sizeof(CopcEntry) == 0 && at >= data_at && at <= data_end &&
               bytes <= data_end - at;
    };

    Pages pages;
    std::vector<std::pair<uint64_t, uint64_t>> waiting;  // pages to read: offset, bytes
    if (!page_fits(info.root_page_offset, info.root_page_bytes) ||
        !pages.add(info.root_page_offset, info.root_page_offset + info.root_page_bytes))
        return "the root page lies outside the hierarchy record";
    waiting.emplace_back(info.root_page_offset, info.root_page_bytes);

    squares.assign(chunks.size(), Square{});
    std::vector<bool> claimed(chunks.size(), false);
    size_t claimed_count = 0;
    uint64_t points = 0;
    std::vector<CopcEntry> entries;
    while (!waiting.empty()) {
        const auto [page_at, page_bytes] = waiting.back();
        waiting.pop_back();
        for (uint64_t done = 0; done < page_bytes;) {
            const size_t n = static_cast<size_t>(std::min<uint64_t>(kEntriesPerRead, (page_bytes - done) / sizeof(CopcEntry)));
            entries.resize(n);
            if (!source.read_at(page_at + done, entries.data(), n * sizeof(CopcEntry)))
                return "a page cannot be read";
            done += n * sizeof(CopcEntry);
            for (const CopcEntry &e : entries) {
                if (e.points == -1) {
                    const auto bytes = static_cast<uint64_t>(static_cast<uint32_t>(e.bytes));
                    if (e.bytes <= 0 || !page_fits(e.offset, bytes) || !pages.add(e.offset, e.offset + bytes))
                        return "a child page lies outside the hierarchy record or over another page";
                    waiting.emplace_back(e.offset, bytes);
                    continue;
                }
                if (e.points == 0) continue;
                if (e.points < 0) return "an entry of " + std::to_string(e.points) + " points";
                if (e.depth < 0 || e.depth > kCopcMostDepth) return "a node of depth " + std::to_string(e.depth);
                const int64_t cells = int64_t{1} << e.depth;
                if (e.x < 0 || e.y < 0 || e.z < 0 || e.x >= cells || e.y >= cells || e.z >= cells)
                    return "a node outside the root cube";
                // Its chunk: the one at its offset with its byte size and point count, not yet claimed.
                auto c = std::lower_bound(chunks.begin(), chunks.end(), e.offset,
                                          [](const Chunk &k, uint64_t at) { return k.offset < at; });
                while (c != chunks.end() && c->offset == e.offset &&
                       (c->bytes != static_cast<uint64_t>(e.bytes) || c->points != static_cast<uint64_t>(e.points) ||
                        claimed[static_cast<size_t>(c - chunks.begin())]))
                    ++c;
                if (c == chunks.end() || c->offset != e.offset)
                    return "the entry of node " + std::to_string(e.depth) + "-" + std::to_string(e.x) + "-" +
                           std::to_string(e.y) + "-" + std::to_string(e.z) + " is no chunk of the chunk table";
                const size_t i = static_cast<size_t>(c - chunks.begin());
                claimed[i] = true;
                ++claimed_count;
                points += c->points;
                const double side = std::ldexp(2 * h, -e.depth);
                Square &s = squares[i];
                s.xmin = centre[0] - h + e.x * side - margin[0];
                s.xmax = centre[0] - h + (e.x + int64_t{1}) * side + margin[0];
                s.ymin = centre[1] - h + e.y * side - margin[1];
                s.ymax = centre[1] - h + (e.y + int64_t{1}) * side + margin[1];
            }
        }
    }
    if (claimed_count != chunks.size())
        return std::to_string(chunks.size() - claimed_count) + " chunks belong to no node";
    if (points != f.point_count)
        return "the nodes hold " + std::to_string(points) + " points, not the header's " + std::to_string(f.point_count);
    return "";
}

}  // namespace laz
