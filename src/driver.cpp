#include "driver.h"

#include "LiDAR.h"
#include "coordinate_system.h"
#include "dbf_writer.h"
#include "end_run.h"
#include "file_guard.h"
#include "area.h"
#include "file_source.h"
#include "http_source.h"
#include "input_list.h"
#include "las_input.h"
#include "las_model.hpp"
#include "laz_source.h"
#include "output.h"
#include "options.h"
#include "platform.h"
#include "point_filter.h"
#include "point_source.h"
#include "record_types.h"
#include "region.h"
#include "reprojection.h"
#include "shp_writer.h"
#include "variable_records.h"

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <new>
#include <string>
#include <vector>

namespace {

[[noreturn]] void refuse(const char *message, const char *name) {
    std::printf(message, name);
    end_run(-1);
}

// LAS 1.0 format 0 shows its progress with one decimal, every other type
// with two.
constexpr int progress_decimals(int type) { return type == 1 ? 1 : 2; }

// The point records are read, selected and formatted a block at a time, of
// at most this many bytes (a chunk of the progress lines is several): small
// enough that a block's records are still in the cache when they are
// selected and formatted, large enough to hold the longest record.
constexpr size_t kRecordBufferBytes = size_t{1} << 20;
static_assert(kRecordBufferBytes >= UINT16_MAX, "a block holds a record of any length");

// How many URLs among several inputs have their first request under way at once.
constexpr size_t kWebAhead = 8;

struct Names {
    const char *las, *shp, *dbf, *prj;
};

[[noreturn]] void refuse_point_count(const char *lasname, uint64_t points) {
    std::printf("\n%s holds %llu points, more than the %u that a shapefile can hold\n", lasname,
                static_cast<unsigned long long>(points), kMaxShapefilePoints);
    end_run(-1);
}

// The first request of a URL (HttpSource::open), made on a thread of its
// own so that the headers of many URLs are fetched several at a time.
struct WebOpening {
    std::unique_ptr<HttpSource> source;
    std::string why;
};

struct LazOpening {
    std::unique_ptr<PointSource> source;
    std::string why;
};

// One input of a run, from its validation to the end of its points.
struct Input {
    InputName named;
    std::string shown;       // as messages name it: a URL without its credentials
    std::string file_name;   // what the outputs are named from: the path, or a URL's last segment
    std::unique_ptr<ByteSource> in;
    HttpSource *server = nullptr;
    platform::Handle file = platform::kNoFile;
    InputKind kind;
    int type = 0;
    InputHeader header;
    std::string prj;         // its coordinate system as ESRI WKT; "" when it states none
    ExtraColumns extras;
    bool opened = false;     // validated, its header and records read
    bool met = true;         // the region meets it: its points are read
    std::unique_ptr<PointSource> source;
    std::unique_ptr<PointFilter> filter;
    // With --crs: its operation into the target system (shared by the inputs
    // of one system), and the run's region as its coordinates meet it.
    std::shared_ptr<const area::Reprojection> moved;
    area::Region region;
    uint64_t kept = 0;
    // Work on other threads for this input, last so that it ends first,
    // before the members it uses go: its first request, made ahead (a URL),
    // and its chunk table, read ahead (a URL's LAZ file).
    std::future<WebOpening> opening;
    std::future<LazOpening> points_opening;

    const char *name() const { return shown.c_str(); }
};

// What the outputs hold over every input, and how far the run has come.
struct Run {
    Names names;
    const Selection &selection;
    const area::Clip *clip;
    bool selecting;
    bool several;            // more than one input
    bool recount;            // the headers are written anew at the end, for the points written
    uint64_t kept = 0;
    double bounds[6] = {0, 0, 0, 0, 0, 0};
    uint64_t total = 0, done = 0;  // points of the inputs read, for the progress
    int decimals = 2;
    std::unique_ptr<unsigned char[]> block{}, spare{};  // the records read, in turn
    FormatThread *formatter = nullptr;
    uint64_t shown = 0;      // the points done that the progress shows
    // The shapefile being written, and its points so far.
    ShapeOutputs shapes{};
    Output dbf{};
    uint64_t written = 0;
    // In parts (--max-size): the name before the part's number, the most
    // points of a part, and the part being written (from 1).
    bool in_parts = false;
    std::string stem{};
    uint64_t part_points = 0;
    int part = 0;
    const Input *first = nullptr;  // whose table and coordinate system the outputs take
    uint32_t row_length = 0;       // of the table's rows
    ColumnChoice columns{};  // the table's columns, --columns' choice (empty: all)
    const area::TargetCrs *crs = nullptr;  // --crs's system, or null
    std::string prj{};       // the outputs' coordinate system as ESRI WKT, or ""
};

[[noreturn]] void refuse_total_count(uint64_t points) {
    std::printf("\nThe inputs hold %llu points, more than the %u that a shapefile can hold\n",
                static_cast<unsigned long long>(points), kMaxShapefilePoints);
    end_run(-1);
}

// The records of one input after the header's checks, before any output
// exists: a LAS file's length against its point count, a LAZ file's chunk
// table (and, with a region, a COPC file's cells).
void open_points(Input &input, const area::Region &region) {
    const LAS12Header &ph = input.header.legacy();
    const uint64_t ptsInLAS = input.header.point_count;
    const uint32_t stride = ph.PointDataRecordLength;
    const uint64_t size = input.in->size();
    const uint64_t room = size > ph.OffsetToData ? size - ph.OffsetToData : 0;
    if (!input.kind.laz && ptsInLAS > 0 && room / stride < ptsInLAS) {
        std::printf("\n%s is truncated: %llu point records declared, %llu present\n", input.name(),
                    static_cast<unsigned long long>(ptsInLAS), static_cast<unsigned long long>(room / stride));
        end_run(-1);
    }
    if (!input.kind.laz) {
        input.source = las_point_source(*input.in, input.name(), ph.OffsetToData, stride);
    } else if (input.points_opening.valid()) {
        LazOpening o = input.points_opening.get();
        if (!o.source) refuse_laz_points(*input.in, input.name(), o.why);
        input.source = std::move(o.source);
    } else {
        input.source = laz_point_source(*input.in, input.name(), input.header, region);
    }
}

// A web server's LAZ file's chunk table (and COPC hierarchy) read on a
// thread of its own, so that those of many URLs are fetched several at a time.
std::future<LazOpening> open_laz_soon(Input &input, const area::Region &region) {
    return std::async(std::launch::async, [&input, &region] {
        LazOpening o;
        o.source = open_laz_points(*input.in, input.name(), input.header, region, o.why);
        return o;
    });
}

CoordinateScaling scaling_of(const LAS12Header &ph) {
    return {{ph.XScaleFactor, ph.YScaleFactor, ph.ZScaleFactor}, {ph.XOffset, ph.YOffset, ph.ZOffset}};
}

void make_filter(Input &input, const Run &run) {
    const LAS12Header &ph = input.header.legacy();
    double header_bounds[4] = {ph.MinX, ph.MinY, ph.MaxX, ph.MaxY};
    if (input.moved) {
        // The thinning grid over the header's bounds as transformed.
        const area::Box b = input.moved->reach({ph.MinX, ph.MinY, ph.MaxX, ph.MaxY});
        header_bounds[0] = b.xmin, header_bounds[1] = b.ymin, header_bounds[2] = b.xmax, header_bounds[3] = b.ymax;
    }
    input.filter.reset(new (std::nothrow) PointFilter);
    if (!input.filter || !make_point_filter(*input.filter, run.selection, run.clip, input.type, scaling_of(ph),
                                            header_bounds, input.moved != nullptr)) {
        std::puts("\nFailed to allocate memory for the squares of --thin");
        end_run(-1);
    }
}

// The records a block of `stride`-byte records holds for an input of `points` points.
uint64_t block_records(uint64_t points, uint32_t stride) {
    const uint64_t chunk = points < uint64_t{kChunkRecords} ? points : uint64_t{kChunkRecords};
    const uint64_t by_bytes = kRecordBufferBytes / stride;
    return chunk < by_bytes ? chunk : by_bytes;
}

// The real coordinates of `n` records lying `stride` bytes apart.
void scale_coordinates(const unsigned char *records, size_t stride, const CoordinateScaling &c, uint32_t n, double *x,
                       double *y, double *z) {
    for (uint32_t i = 0; i < n; ++i, records += stride) {
        int32_t raw[3];
        std::memcpy(raw, records + kXAt, sizeof raw);
        x[i] = lidar::scale_coordinate(raw[0], c.scale[0], c.offset[0]);
        y[i] = lidar::scale_coordinate(raw[1], c.scale[1], c.offset[1]);
        z[i] = lidar::scale_coordinate(raw[2], c.scale[2], c.offset[2]);
    }
}
static_assert(kYAt == kXAt + 4 && kZAt == kXAt + 8, "X, Y and Z lie side by side");

void print_progress(Run &run, uint64_t done) {
    run.shown = done;
    std::printf("\rProcessing ... %.*f%% done", run.decimals, done * 100.0 / static_cast<double>(run.total));
    std::fflush(stdout);
}

void create_table_of(int type, const char *dbfname, const ExtraColumns &extras, const ColumnChoice &columns);

// The header and row lengths of the table the run writes, of the columns it stores.
struct TableLengths {
    uint64_t header, row;
};

// The most points of one part of a run in parts: the most that keep both
// the .shp (its header and 36 bytes a point) and the .dbf (its header and a
// row a point, no end byte) within `size` bytes, within a shapefile's limit.
uint64_t part_points_of(uint64_t size, const TableLengths &table) {
    const uint64_t shp = (size - kShapeHeaderBytes) / kPointZRecordBytes;
    const uint64_t dbf = size > table.header ? (size - table.header) / table.row : 0;
    return std::max<uint64_t>(1, std::min<uint64_t>({shp, dbf, kMaxShapefilePoints}));
}

// The names of part `k` of a run in parts.
std::string part_name(const std::string &stem, int k, const char *ext) { return stem + "_" + std::to_string(k) + ext; }

// Creates the shapefile the points go into next: the run's, or its next
// part, whose name the console shows as it begins. Headers whose counts
// and bounds come at the end start with none.
void begin_output(Run &run, int32_t count, const double bounds[6]) {
    std::string shp = run.names.shp, dbf = run.names.dbf;
    if (run.in_parts) {
        ++run.part;
        shp = part_name(run.stem, run.part, ".shp");
        dbf = part_name(run.stem, run.part, ".dbf");
        std::printf("\r%78s\r", " ");
        std::printf("Part %d: %s\n", run.part, shp.c_str());
        if (run.shown > 0) print_progress(run, run.shown);
        std::fflush(stdout);  // shown as it begins, also where the console is a pipe
    }
    create_shapes(run.shapes, shp, count, bounds);
    create_table_of(run.first->type, dbf.c_str(), run.first->extras, run.columns);
    open_table(run.dbf, dbf, static_cast<uint32_t>(count));
    // Without a selection every point is written: the files' lengths are
    // known, and the system may place them at once.
    if (!run.selecting) {
        const uint64_t left = run.total - run.kept;
        const uint64_t points = run.in_parts ? std::min(run.part_points, left) : left;
        output_will_hold(run.shapes.shp, kShapeHeaderBytes + uint64_t{kPointZRecordBytes} * points);
        output_will_hold(run.shapes.shx, kShapeHeaderBytes + uint64_t{kIndexEntryBytes} * points);
        output_will_hold(run.dbf, run.dbf.length + uint64_t{run.row_length} * points);
    }
    run.written = 0;
    std::fill(run.bounds, run.bounds + 6, 0.0);
}

// Completes the shapefile being written: its headers' counts and bounds
// where they come at the end, and its coordinate system.
void finish_output(Run &run) {
    if (run.recount) {
        rewrite_shape_headers(run.shapes, static_cast<int32_t>(run.written), run.bounds);
        set_table_count(run.dbf, static_cast<uint32_t>(run.written));
    }
    close_shapes(run.shapes);
    output_close(run.dbf);
    // Without a coordinate system no .prj is written: one already there may be the user's own.
    const std::string prj = run.in_parts ? part_name(run.stem, run.part, ".prj") : run.names.prj;
    if (!run.prj.empty()) write_prj(prj.c_str(), run.prj);
}

void next_part(Run &run) {
    finish_output(run);
    const double none[6] = {0, 0, 0, 0, 0, 0};
    begin_output(run, 0, none);
}

// Nothing of a run that cannot complete is left behind: the shapefile being
// written is abandoned, and its files (in parts, those of every part so far)
// removed.
void remove_outputs(Run &run) {
    for (Output *out : {&run.shapes.shp, &run.shapes.shx, &run.dbf}) output_abandon(*out);
    std::vector<std::string> stems = {run.stem};
    if (run.in_parts) {
        stems.clear();
        for (int k = 1; k <= run.part; ++k) stems.push_back(part_name(run.stem, k, ""));
    }
    for (const std::string &stem : stems) {
        for (const char *ext : {".shp", ".shx", ".dbf"}) platform::remove((stem + ext).c_str());
        // A part's coordinate system is written once it is complete.
        if (run.in_parts && stem != stems.back() && !run.prj.empty()) platform::remove((stem + ".prj").c_str());
    }
}

// A job of the formatting thread that may still be under way: finished
// before the next begins; abandoned with the thread when the run ends early,
// before what it formats from goes.
struct PendingJob {
    FormatThread &formatter;
    bool running = false;

    void start(const std::function<void()> &job) {
        formatter.start(job);
        running = true;
    }
    void finish() {
        if (running) formatter.finish();
        running = false;
    }
    ~PendingJob() {
        if (running) formatter.abandon();
    }
};

// Reads, selects and writes the points of one input, records numbered on
// from those of the inputs before it.
template <int N>
void convert_points(Input &input, Input *next, Run &run) {
    const LAS12Header &ph = input.header.legacy();
    const uint64_t ptsInLAS = input.header.point_count;
    const uint32_t stride = ph.PointDataRecordLength;
    if (!input.kind.laz) input.in->will_read({{ph.OffsetToData, ptsInLAS * stride}});
    if (run.selecting && !input.filter) make_filter(input, run);
    const CoordinateScaling scaling = scaling_of(ph);
    const uint64_t capacity = block_records(ptsInLAS, stride);
    const uint64_t kept_before = run.kept;

    // Records are numbered from 1 in the order written; a chunk's coordinates
    // fill the coordinate buffers from their start. With two threads or more
    // the writers format a block's outputs on a thread of their own while
    // this one writes them, in the same order.
    uint64_t read_before = 0;  // the input's points read before the block
    const bool transform_on_two = run_threads() >= 2;
    // With a formatting thread, a block's last job runs while the next block
    // is read (and selected) into the other buffer; it ends before that
    // block's own jobs begin.
    unsigned char *const blocks[2] = {run.block.get(), run.spare.get()};
    std::function<void()> jobs[2];
    auto convert_chunk = [&](int32_t records) {
        int32_t slot = 0;
        int cur = 0;
        PendingJob pending{*run.formatter};
        for (int32_t done = 0; done < records;) {
            const auto n = static_cast<int32_t>(std::min<uint64_t>(capacity, static_cast<uint64_t>(records - done)));
            unsigned char *const block = blocks[cur];
            auto placed = static_cast<uint32_t>(input.source->read(block, static_cast<uint64_t>(n)));
            done += n;
            double *xs = _Xvec + slot, *ys = _Yvec + slot, *zs = _Zvec + slot;
            if (input.moved) {
                // Into the target system before the selection, which is in it.
                scale_coordinates(block, stride, scaling, placed, xs, ys, zs);
                const size_t bad = input.moved->transform(xs, ys, zs, placed, transform_on_two);
                if (bad < placed) {
                    pending.finish();  // the last block's records go on to the outputs, then they go
                    remove_outputs(run);
                    std::printf("\nPoint %llu of %s cannot be transformed into %s\n",
                                static_cast<unsigned long long>(read_before + bad + 1), input.name(),
                                run.crs->name.c_str());
                    end_run(-1);
                }
            }
            read_before += placed;
            // No idle core at a tile's edge: the next input's chunks are
            // decoded once this one's are all under way.
            if (next != nullptr && input.source->all_handed_out()) {
                next->source->start_early();
                next = nullptr;
            }
            if (run.selecting)
                placed = input.moved ? filter_given_points(*input.filter, block, stride, placed, xs, ys, zs)
                                     : filter_points(*input.filter, block, stride, placed);
            pending.finish();
            if (placed == 0) continue;
            if (!run.in_parts && run.kept + placed > kMaxShapefilePoints) {
                remove_outputs(run);
                if (run.several) refuse_total_count(run.total);
                refuse_point_count(input.name(), ptsInLAS);
            }
            // In parts, the records go into the part being written up to its
            // edge, the rest into the next.
            for (uint32_t at = 0; at < placed;) {
                if (run.in_parts && run.written == run.part_points) next_part(run);
                const uint64_t room = run.in_parts ? run.part_points - run.written : placed;
                const auto count = static_cast<int32_t>(std::min<uint64_t>(room, placed - at));
                const unsigned char *records = block + size_t{at} * stride;
                const uint64_t written = run.written;
                const double *x = xs + at, *y = ys + at, *z = zs + at;
                const bool moved = input.moved != nullptr;
                jobs[cur] = [&run, &input, &scaling, stride, records, count, written, slot, moved, x, y, z] {
                    // The records (or their coordinates in --crs's system)
                    // widen the bounds of the points written.
                    double *bounds = run.recount ? run.bounds : nullptr;
                    if (moved)
                        append_pointz_given(run.shapes, x, y, z, count, static_cast<int64_t>(written) + 1, bounds,
                                            written == 0);
                    else
                        append_pointz_records(run.shapes, records, stride, scaling, count,
                                              static_cast<int64_t>(written) + 1, slot, false, bounds, written == 0);
                    append_rows<N>(run.dbf, records, stride, count, input.extras, run.columns);
                };
                run.written += static_cast<uint64_t>(count);
                run.kept += static_cast<uint64_t>(count);
                slot += count;
                at += static_cast<uint32_t>(count);
                if (at < placed) run.formatter->run(jobs[cur]);
                else pending.start(jobs[cur]);
            }
            cur ^= 1;
        }
        pending.finish();
    };
    const uint64_t nChunks = ptsInLAS / kChunkRecords;
    const auto remainingRecords = static_cast<int32_t>(ptsInLAS - nChunks * kChunkRecords);
    for (uint64_t i = 0; i < nChunks; ++i) {
        // The share of points done once this chunk is written.
        print_progress(run, run.done + (i + 1) * kChunkRecords);
        convert_chunk(kChunkRecords);
    }
    if (remainingRecords > 0) convert_chunk(remainingRecords);
    run.done += ptsInLAS;
    input.kept = run.kept - kept_before;
    // Its decoder's threads and buffers, and its filter's squares, go now;
    // the input stays open, and locked, to the end of the run.
    input.source.reset();
    input.filter.reset();
}

void convert_input(Input &input, Input *next, Run &run) {
    switch (input.type) {
        case 1: convert_points<1>(input, next, run); break;
        case 2: convert_points<2>(input, next, run); break;
        case 3: convert_points<3>(input, next, run); break;
        case 4: convert_points<4>(input, next, run); break;
        case 5: convert_points<5>(input, next, run); break;
        case 6: convert_points<6>(input, next, run); break;
        case 7: convert_points<7>(input, next, run); break;
        case 8: convert_points<8>(input, next, run); break;
        case 9: convert_points<9>(input, next, run); break;
        case 10: convert_points<10>(input, next, run); break;
        case 11: convert_points<11>(input, next, run); break;
    }
}

void create_table_of(int type, const char *dbfname, const ExtraColumns &extras, const ColumnChoice &columns) {
    switch (type) {
        case 1: create_table<1>(dbfname, extras, columns); break;
        case 2: create_table<2>(dbfname, extras, columns); break;
        case 3: create_table<3>(dbfname, extras, columns); break;
        case 4: create_table<4>(dbfname, extras, columns); break;
        case 5: create_table<5>(dbfname, extras, columns); break;
        case 6: create_table<6>(dbfname, extras, columns); break;
        case 7: create_table<7>(dbfname, extras, columns); break;
        case 8: create_table<8>(dbfname, extras, columns); break;
        case 9: create_table<9>(dbfname, extras, columns); break;
        case 10: create_table<10>(dbfname, extras, columns); break;
        case 11: create_table<11>(dbfname, extras, columns); break;
    }
}

// Reads an accepted input's header and the records that state its
// coordinate system and extra bytes.
void read_header(Input &input) {
    const char *lasname = input.name();
    ByteSource &in = *input.in;
    if (!read_input_header(in, input.kind, input.header)) {
        refuse_failed_source(in, lasname);
        refuse("\nUnexpected end of %s while reading the header\n", lasname);
    }
    const LAS12Header &ph = input.header.legacy();
    const uint64_t ptsInLAS = input.header.point_count;
    const uint32_t stride = ph.PointDataRecordLength;
    const uint64_t size = in.size();
    const uint64_t points_end = input.kind.laz ? ph.OffsetToData : ph.OffsetToData + ptsInLAS * stride;
    RecordArea area{ph.HeaderSize, ph.OffsetToData, ph.NumberOfVariableLengthRecords, size};
    if (input.kind.block >= kHeaderBytes14) {
        area.points_end = points_end;
        area.extended_start = input.header.h.StartOfFirstEVLR;
        area.extended_count = input.header.h.NumberOfEVLRs;
        area.wkt_only = (ph.GlobalEncoding & kWktGlobalEncoding) != 0;
    }
    const LasRecords found = read_las_records(in, area);
    refuse_failed_source(in, lasname);
    input.prj = esri_wkt_of(found.projection);
    if (input.kind.extra_bytes && found.has_extra_bytes)
        input.extras = extra_columns_of(found.extra_bytes, records::kStandardRecordLength[ph.PointDataFormatID],
                                        stride, stored_names_of(input.type));
    input.opened = true;
}

// The name a coordinate system's ESRI WKT gives itself: its first quoted text.
std::string crs_name(const std::string &wkt) {
    const size_t open = wkt.find('"');
    const size_t close = open == std::string::npos ? open : wkt.find('"', open + 1);
    return close == std::string::npos ? wkt : wkt.substr(open + 1, close - open - 1);
}

// Refuses an input whose table or coordinate system is not that of the
// first input read, `first`; with `reprojecting` (--crs) only the table.
void refuse_other_table(const Input &input, const Input &first, bool reprojecting) {
    const std::vector<StoredColumn> a = stored_columns_of(input.type, input.extras);
    const std::vector<StoredColumn> b = stored_columns_of(first.type, first.extras);
    std::string why;
    for (size_t k = 0; k < a.size() && k < b.size() && why.empty(); ++k) {
        if (a[k].name != b[k].name)
            why = "its column " + std::to_string(k + 1) + " is " + a[k].name + ", not " + b[k].name;
        else if (!(a[k] == b[k]))
            why = "its column " + a[k].name + " has " + std::to_string(a[k].width) + " places and " +
                  std::to_string(a[k].decimals) + " decimals, not " + std::to_string(b[k].width) + " and " +
                  std::to_string(b[k].decimals);
    }
    if (why.empty() && a.size() != b.size())
        why = "it has " + std::to_string(a.size()) + " columns, not " + std::to_string(b.size()) + " (" +
              (a.size() > b.size() ? a[b.size()].name + " is one more" : "it has no " + b[a.size()].name) + ")";
    if (!why.empty()) {
        std::printf("\n%s has another table than %s: %s\n", input.name(), first.name(), why.c_str());
        end_run(-1);
    }
    if (reprojecting || input.prj == first.prj ||
        (!input.prj.empty() && !first.prj.empty() && area::same_crs(input.prj, first.prj)))
        return;
    if (input.prj.empty() || first.prj.empty()) {
        const Input &stating = input.prj.empty() ? first : input;
        const Input &other = input.prj.empty() ? input : first;
        std::printf("\n%s states no coordinate system, and %s states one (%s)\n", other.name(), stating.name(),
                    crs_name(stating.prj).c_str());
    } else {
        std::printf("\n%s is in another coordinate system than %s: %s, not %s\n", input.name(), first.name(),
                    crs_name(input.prj).c_str(), crs_name(first.prj).c_str());
    }
    end_run(-1);
}

// With --crs: the operation from the input's system into `target`, one per
// system among the inputs (`made`), and the region as the input's
// coordinates meet it; refuses an input that states no system, or whose
// system PROJ has no operation from.
void reproject(Input &input, const area::TargetCrs &target, const area::Region &region,
               std::map<std::string, std::shared_ptr<const area::Reprojection>> &made) {
    if (input.prj.empty()) refuse("\n%s states no coordinate system: --crs needs one to start from\n", input.name());
    std::shared_ptr<const area::Reprojection> &op = made[input.prj];
    if (!op) {
        auto fresh = std::make_shared<area::Reprojection>();
        if (!fresh->make(input.prj, target)) {
            std::printf("\nPROJ has no operation from the coordinate system of %s (%s) into %s\n", input.name(),
                        crs_name(input.prj).c_str(), target.name.c_str());
            end_run(-1);
        }
        op = std::move(fresh);
    }
    input.moved = op;
    input.region = region;
    input.region.moved = op.get();
}

// The bounds a tile states, widened against the rounding of its
// coordinates' scaling.
area::Box widened(area::Box b, const LAS12Header *ph) {
    double margin = 1e-9 * std::max({std::fabs(b.xmin), std::fabs(b.xmax), std::fabs(b.ymin), std::fabs(b.ymax), 1.0});
    if (ph != nullptr) margin += std::max(std::fabs(ph->XScaleFactor), std::fabs(ph->YScaleFactor));
    return {b.xmin - margin, b.ymin - margin, b.xmax + margin, b.ymax + margin};
}

// Opens an input named by an http:// or https:// URL (shown as `shown`, its
// credentials left out) and validates it as a file of that name would be;
// prints the refusal and ends the run when it cannot be converted.
// Whether a URL's path ends in ".las" or ".laz", as an input's must.
bool has_input_path(const std::string &url) {
    const std::string file = url_file_name(url);
    return file.size() >= 5 && (is_laz_name(file.c_str()) || has_extension(file, ".las"));
}

std::future<WebOpening> open_web_soon(const std::string &url) {
    return std::async(std::launch::async, [url] {
        WebOpening o;
        o.source = HttpSource::open(url, o.why);
        return o;
    });
}

// Validates an input named by an http:// or https:// URL (shown as `shown`,
// its credentials left out) as a file of that name would be, from its first
// request `opening` (none yet: made here); prints the refusal and ends the
// run when it cannot be converted.
std::unique_ptr<HttpSource> open_web_input(const char *url, const char *shown, std::future<WebOpening> *opening,
                                           InputKind &kind, int &type) {
    if (!has_input_path(url)) {
        std::printf("\nThe path of %s does not end in .las or .laz\n", shown);
        refuse("%s is not a valid LAS file\n", shown);
    }
    WebOpening o;
    if (opening != nullptr && opening->valid()) o = opening->get();
    else o.source = HttpSource::open(url, o.why);
    if (!o.source) {
        std::printf("\nCannot read %s: %s\n", shown, o.why.c_str());
        end_run(-1);
    }
    type = input_type(shown, *o.source, is_laz_name(url_file_name(url).c_str()), kind);
    if (type <= 0) {
        refuse_failed_source(*o.source, shown);
        refuse("%s is not a valid LAS file\n", shown);
    }
    return std::move(o.source);
}

constexpr char kUsageLine[] = "Tessaline <LAS file>";

constexpr char kHelp[] =
    "\n"
    "Converts a LAS file of version 1.0 to 1.4 (point formats 0 to 3 in LAS 1.0 to 1.2, 0 to 5 in\n"
    "LAS 1.3, 0 to 10 in LAS 1.4) into an ESRI Shapefile written beside it under the same name:\n"
    "NAME.shp with one PointZ shape per point, its index NAME.shx, the points' attributes (extra bytes\n"
    "included) in the dBASE table NAME.dbf and, when the LAS file carries a coordinate system,\n"
    "NAME.prj. Existing outputs of those names are replaced. The name ends in \".las\" (any case).\n"
    "A LAZ file (name ending in \".laz\") converts exactly as the LAS file it decompresses to; its\n"
    "chunks are decoded on every core (TESSALINE_THREADS=N sets the number of threads).\n"
    "The file may be an http:// or https:// URL whose path ends in \".las\" or \".laz\" (a ?query\n"
    "allowed): it is read with range requests, fetching only what the conversion reads (on a COPC\n"
    "file with --extent or --clip, the chunks that meet it), and the outputs go to the current folder.\n"
    "Every message, refusals included, goes to standard output.\n"
    "\n"
    "Several inputs go into one shapefile, named by --output, in the order given, records numbered\n"
    "on across them. An INPUT is a LAS or LAZ file, a URL, a folder (its .las and .laz files in name\n"
    "order, not its subfolders'), @LIST (a text file naming one input per line; blank lines and lines\n"
    "starting with # are skipped) or a virtual point cloud (.vpc). All must have the same table and\n"
    "the same coordinate system (with --crs, each its own). Inputs whose bounds do not meet --extent\n"
    "or --clip are not read. The console names each input, with its points, as it is converted,\n"
    "one line each, then \"Kept N of M points from K of T files\".\n"
    "\n"
    "Options (before or after the inputs; the value after a blank or \"=\"; \"--\" ends them):\n"
    "  --class LIST      keep the points of these classes (0 to 255, e.g. 2,9); in LAS 1.1 to 1.4\n"
    "                    formats 0 to 5 the class is the classification's low five bits\n"
    "  --returns LIST    keep these returns: numbers 0 to 15, first, last, single (e.g. first,2)\n"
    "  --extent XMIN,YMIN,XMAX,YMAX\n"
    "                    keep the points inside this rectangle (edges included), in the file's own\n"
    "                    coordinates (--crs's with --crs); on a COPC file only the chunks that meet it\n"
    "                    are decoded\n"
    "  --clip AREA       keep the points inside these polygons or on their edges, not in their holes:\n"
    "                    a shapefile (.shp), GeoPackage (.gpkg), GeoJSON (.geojson, .json) or a WKT\n"
    "                    POLYGON or MULTIPOLYGON text; moved into the survey's coordinate system (or\n"
    "                    --crs's)\n"
    "  --clip-layer NAME the GeoPackage layer to take, where it has several\n"
    "  --clip-crs CRS    the area's coordinate system (EPSG:4326, a WKT or PROJ text), for WKT or\n"
    "                    in place of the file's own\n"
    "  --thin SIZE       keep the first point of each SIZE x SIZE square (in --crs's units with --crs)\n"
    "  --crs CRS         write the points in this coordinate system (e.g. --crs EPSG:4326: longitude,\n"
    "                    latitude): an EPSG code, a WKT or PROJ text or a .prj file; X and Y (and Z\n"
    "                    where both systems have heights) transformed with PROJ from the input's\n"
    "                    system, which it must state; NAME.prj is then this system's\n"
    "  --output NAME.shp write NAME.shp, NAME.shx, NAME.dbf (and NAME.prj) instead\n"
    "  --columns LIST    the table holds only these columns, in this order, named as it stores them\n"
    "                    in any case (e.g. Classifica,Intensity); the .shp, .shx and .prj are the same\n"
    "  --max-size SIZE   write the outputs in parts NAME_1.shp, NAME_2.shp, ..., each a shapefile whose\n"
    "                    .shp and .dbf hold at most SIZE bytes (1M to 4G; k, M, G: 10^3, 10^6, 10^9)\n"
    "A point is kept when it passes every option given; the shapefile then holds the kept points,\n"
    "its bounds theirs, and the console says how many were kept.\n"
    "\n"
    "Exit status:\n"
    "  0    the conversion completed (or --help, --version)\n"
    "  255  the file was refused or the conversion failed; a message says why\n";

}  // namespace

std::string large_output_note(const char *name, uint64_t bytes) {
    if (bytes <= static_cast<uint64_t>(INT32_MAX)) return "";
    return std::string("Note: ") + name + " is " + std::to_string(bytes) +
           " bytes; ArcGIS opens shapefile files up to 2 GB: a selection (--class, --returns, --extent, --thin) "
           "makes it smaller, --max-size 2G writes it in parts\n";
}

namespace {

// Opens and validates one input, as a single input always was: a URL from
// its web server, a file from the disk.
void open_input(Input &input) {
    const std::string &given = input.named.path;
    const bool web = is_http_url(given);
    input.shown = web ? printable_url(given) : given;
    input.file_name = web ? url_file_name(given) : given;
    if (web) {
        std::unique_ptr<HttpSource> source =
            open_web_input(given.c_str(), input.name(), &input.opening, input.kind, input.type);
        input.server = source.get();
        input.in = std::move(source);
        return;
    }
    // Opened without waiting: a named pipe given as input must be refused by
    // the validation below, not wait here for a writer that never comes.
    std::unique_ptr<FileSource> fp = FileSource::open(input.name());
    if (!fp) refuse("\nCannot open binary file %s for reading\n\n", input.name());
    input.type = input_type(input.name(), input.kind);
    if (input.type <= 0) refuse("%s is not a valid LAS file\n", input.name());
    input.file = fp->handle();
    input.in = std::move(fp);
}

// The name messages give --clip's area: its file, or its WKT text.
std::string clip_name(const std::string &value) {
    const size_t first = value.find_first_not_of(" \t\r\n");
    std::string head = value.substr(first == std::string::npos ? 0 : first, 12);
    for (char &c : head) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return head.compare(0, 7, "POLYGON") == 0 || head.compare(0, 12, "MULTIPOLYGON") == 0 ? "the WKT text" : value;
}

}  // namespace

int tessaline_run(int argc, char *argv[]) {
    CommandLine line;
    const std::string fault = parse_command_line(argc, argv, line);
    if (!fault.empty()) {
        std::printf("\n%s\n", fault.c_str());
        end_run(-1);
    }
    // Neither name ends in ".las", so neither can be a LAS file to convert.
    if (!line.has_options && argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s\n       Tessaline [OPTION]... INPUT... [--output NAME.shp]\n       Tessaline --help | --version\n%s",
                    kUsageLine, kHelp);
        return 0;
    }
    if (!line.has_options && argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Tessaline " TESSALINE_VERSION);
        return 0;
    }
    const Selection &selection = line.selection;

    // The outputs' coordinate system, when --crs gives one.
    area::TargetCrs target;
    const bool reprojecting = !line.crs.empty();
    if (reprojecting) {
        const std::string why = area::read_target_crs(line.crs, target);
        if (!why.empty()) {
            std::printf("\n%s\n", why.c_str());
            end_run(-1);
        }
    }
    std::map<std::string, std::shared_ptr<const area::Reprojection>> reprojections;

    // The clip's polygons are read, and refused, with the options' values.
    area::Polygons polygons;
    area::Clip as_read;  // their index: made as they are read, made again once moved into another system
    if (selection.clipping) {
        const std::string why =
            area::read_polygons(selection.clip, selection.clip_layer, selection.clip_crs, polygons, &as_read);
        if (!why.empty()) {
            std::printf("\n%s\n", why.c_str());
            end_run(-1);
        }
    }

    std::vector<std::string> args = line.others;
    if (!line.has_options) args.assign(argv + 1, argv + argc);
    if (args.empty()) {
        std::puts("\nMissing or excessive number of arguments");
        std::puts("Usage:");
        std::puts(kUsageLine);
        credits();
        end_run(-1);
    }
    std::vector<InputName> named;
    const std::string unnamed = expand_inputs(args, named);
    if (!unnamed.empty()) {
        std::printf("\n%s\n", unnamed.c_str());
        end_run(-1);
    }
    const bool several = named.size() > 1;
    if (several && line.output.empty()) {
        std::puts("\nSeveral inputs go into one shapefile: --output NAME.shp names it");
        end_run(-1);
    }
    if (several) platform::allow_many_open_files();

    // Every input is validated and its header read before anything else; the
    // first one read settles the coordinate system that a clip is moved into.
    // The area outlives the inputs, which threads of theirs may still be reading it for.
    area::Clip clip;
    area::Region region;
    std::vector<Input> inputs(named.size());
    const auto region_of = [&](const Input &input) -> const area::Region & {
        return reprojecting ? input.region : region;
    };
    region.has_box = selection.by_extent;
    region.box = {selection.xmin, selection.ymin, selection.xmax, selection.ymax};
    bool region_known = false;
    std::string clip_note;
    Input *first = nullptr;
    ColumnChoice columns;
    for (size_t i = 0; i < inputs.size(); ++i) inputs[i].named = named[i];
    // Whether the input's own statement of its bounds keeps it from being opened.
    // With --crs those bounds are in a system not yet known.
    const auto away = [&](const Input &input) {
        return region_known && !reprojecting && input.named.has_bounds && several &&
               !region.meets(widened(input.named.bounds, nullptr));
    };
    size_t asked = 1;  // the URLs after the first input are asked for a few ahead
    for (size_t i = 0; i < inputs.size(); ++i) {
        Input &input = inputs[i];
        for (; region_known && asked < inputs.size() && asked < i + kWebAhead; ++asked) {
            Input &next = inputs[asked];
            if (is_http_url(next.named.path) && has_input_path(next.named.path) && !away(next))
                next.opening = open_web_soon(next.named.path);
        }
        if (away(input)) {
            input.shown = is_http_url(input.named.path) ? printable_url(input.named.path) : input.named.path;
            input.met = false;
            continue;
        }
        open_input(input);
        read_header(input);
        if (first == nullptr) {
            first = &input;
            // The columns chosen are those of the first input's table.
            if (!line.columns.empty()) {
                const std::string why =
                    choose_columns(line.columns, stored_columns_of(input.type, input.extras), input.name(), columns);
                if (!why.empty()) {
                    std::printf("\n%s\n", why.c_str());
                    end_run(-1);
                }
            }
            if (selection.clipping) {
                // The area goes into the outputs' system: the survey's, or --crs's.
                const std::string name = clip_name(selection.clip);
                const std::string &into = reprojecting ? target.text : input.prj;
                if (!polygons.crs.empty() && !into.empty() && !area::same_crs(polygons.crs, into)) {
                    const std::string why =
                        reprojecting ? area::transform_polygons(polygons, into, name, target.name)
                                     : area::transform_polygons(polygons, into, name);
                    if (!why.empty()) {
                        std::printf("\n%s\n", why.c_str());
                        end_run(-1);
                    }
                    as_read = area::Clip(polygons);
                } else if (polygons.crs.empty() && reprojecting) {
                    clip_note = "Note: " + name +
                                " states no coordinate system: its coordinates are taken as those of --crs\n";
                } else if (!reprojecting && polygons.crs.empty() != input.prj.empty()) {
                    clip_note = polygons.crs.empty()
                                    ? "Note: " + name + " states no coordinate system: its coordinates are taken as the survey's\n"
                                    : "Note: the survey states no coordinate system: the coordinates of " + name +
                                          " are taken as they stand\n";
                }
                clip = std::move(as_read);
                region.clip = &clip;
            }
            region_known = true;
        } else {
            refuse_other_table(input, *first, reprojecting);
        }
        if (reprojecting) reproject(input, target, region, reprojections);
        if (several) {
            const LAS12Header &ph = input.header.legacy();
            input.met = region_of(input).meets(widened({ph.MinX, ph.MinY, ph.MaxX, ph.MaxY}, &ph));
        }
    }
    // The same file twice, by any name or link, would give its points twice.
    std::vector<NamedFile> files;
    for (const Input &input : inputs) {
        NamedFile f{input.name(), {}};
        const bool local = !is_http_url(input.named.path);
        if (local && (input.file != platform::kNoFile ? platform::identity(input.file, f.id)
                                                      : platform::identity_of(f.name, f.id)))
            files.push_back(f);
    }
    refuse_same_inputs(files);
    std::map<std::string, const Input *> urls;
    for (const Input &input : inputs) {
        if (!is_http_url(input.named.path)) continue;
        const auto placed = urls.emplace(input.named.path, &input);
        if (!placed.second) {
            std::printf("\n%s and %s are the same file\n", input.name(), placed.first->second->name());
            end_run(-1);
        }
    }

    // The name ends in ".las" or ".laz"; the outputs keep everything before
    // it, directory part included.
    // --output names them instead.
    const std::string &input_name = first->file_name;
    const std::string stem = line.output.empty() ? input_name.substr(0, input_name.size() - 4)
                                                 : line.output.substr(0, line.output.size() - 4);
    const std::string shpname = stem + ".shp";
    const std::string dbfname = stem + ".dbf";
    const std::string prjname = stem + ".prj";
    const bool in_parts = line.max_size != 0;

    credits();
    if (several)
        std::printf("Input LAS files:   %zu, each named below as it is converted\n", inputs.size());
    else
        std::printf("Input LAS file:    %s\n", first->name());
    std::printf("Output Shapefile:  %s\n", in_parts ? part_name(stem, 1, ".shp").c_str() : shpname.c_str());
    std::fputs(clip_note.c_str(), stdout);

    // Wall-clock time: waiting for the disk is part of what the user waits for.
    const auto beginTime = std::chrono::steady_clock::now();

    if (!allocate_coordinate_buffers()) {
        std::puts("\nFailed to allocate memory for X, Y, and Z coordinate vectors");
        end_run(-1);
    }

    std::printf("\nProcessing ...");
    std::fflush(stdout);

    // Limits are checked and every input's points made ready before any
    // output file exists. With a selection the points kept are counted as
    // they are written.
    const bool selecting = selection.selects();
    Run run{{first->name(), shpname.c_str(), dbfname.c_str(), prjname.c_str()}, selection, region.clip, selecting,
            several, selecting || several || reprojecting || in_parts};
    run.decimals = progress_decimals(first->type);
    run.in_parts = in_parts;
    run.stem = stem;
    run.first = first;
    run.columns = columns;
    run.crs = reprojecting ? &target : nullptr;
    run.prj = reprojecting ? target.esri : first->prj;
    const TableLengths table{static_cast<uint64_t>(table_header_length(first->type, first->extras, run.columns)),
                             static_cast<uint64_t>(table_record_length(first->type, first->extras, run.columns))};
    run.row_length = static_cast<uint32_t>(table.row);
    if (in_parts) run.part_points = part_points_of(line.max_size, table);
    uint64_t block_bytes = 0;
    size_t laz_asked = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        Input &input = inputs[i];
        for (; several && laz_asked < inputs.size() && laz_asked < i + kWebAhead; ++laz_asked) {
            Input &next = inputs[laz_asked];
            if (next.met && next.server != nullptr && next.kind.laz)
                next.points_opening = open_laz_soon(next, region_of(next));
        }
        if (!input.met) continue;
        const uint64_t points = input.header.point_count;
        run.total += points;
        if (!selecting && !several && !in_parts && points > kMaxShapefilePoints) refuse_point_count(input.name(), points);
        open_points(input, region_of(input));
        const uint32_t stride = input.header.legacy().PointDataRecordLength;
        const uint64_t capacity = block_records(points, stride);
        block_bytes = std::max(block_bytes, (capacity == 0 ? 1 : capacity) * stride);
    }
    if (!selecting && several && !in_parts && run.total > kMaxShapefilePoints) refuse_total_count(run.total);
    // One block's worth of records, reused for every block of every input.
    run.block.reset(new (std::nothrow) unsigned char[block_bytes == 0 ? 1 : block_bytes]);
    if (run.block) run.spare.reset(new (std::nothrow) unsigned char[block_bytes == 0 ? 1 : block_bytes]);
    if (!run.block || !run.spare) {
        std::puts("Failed to allocate memory for return structure");
        end_run(-1);
    }

    // Every name the run creates, truncates or removes, in the order of its outputs.
    // In parts, those of as many parts as the points could fill.
    std::vector<std::string> outputs;
    const uint64_t parts = in_parts ? std::max<uint64_t>(1, (run.total + run.part_points - 1) / run.part_points) : 1;
    for (uint64_t k = 1; k <= parts; ++k) {
        const std::string base = in_parts ? part_name(stem, static_cast<int>(k), "") : stem;
        for (const char *ext : {".shp", ".shx", ".dbf", ".cpg"}) outputs.push_back(base + ext);
        if (!run.prj.empty()) outputs.push_back(base + ".prj");
    }
    refuse_same_files(files, outputs);
    for (const Input &input : inputs)
        if (input.file != platform::kNoFile) lock_input(input.file, input.name());
    if (selecting && !several) make_filter(*first, run);

    // Without a selection, one input's headers are final from the start: the
    // LAS header's count and bounds. Otherwise they are written anew at the
    // end, for the points written.
    const LAS12Header &ph = first->header.legacy();
    const auto count = static_cast<int32_t>(run.recount ? 0 : first->header.point_count);
    double bounds[6] = {ph.MinX, ph.MinY, ph.MaxX, ph.MaxY, ph.MinZ, ph.MaxZ};
    if (run.recount) std::fill(bounds, bounds + 6, 0.0);
    FormatThread formatter(run_threads() >= 2);
    run.formatter = &formatter;
    begin_output(run, count, bounds);

    size_t read = 0;
    uint64_t points_read = 0;
    // The next input whose points are read, after each one.
    std::vector<Input *> next(inputs.size(), nullptr);
    for (size_t i = inputs.size(); i-- > 1;) next[i - 1] = inputs[i].met ? &inputs[i] : next[i];
    for (size_t i = 0; i < inputs.size(); ++i) {
        Input &input = inputs[i];
        if (input.met) {
            convert_input(input, next[i], run);
            ++read;
            points_read += input.header.point_count;
        }
        if (!several) continue;
        // Each input's line replaces the progress, which goes on after it.
        std::printf("\r%78s\r", " ");
        if (!input.met)
            std::printf("%s: away from the area, not read\n", input.name());
        else if (selecting)
            std::printf("%s: %llu of %llu points\n", input.name(), static_cast<unsigned long long>(input.kept),
                        static_cast<unsigned long long>(input.header.point_count));
        else
            std::printf("%s: %llu points\n", input.name(), static_cast<unsigned long long>(input.kept));
        if (run.total > 0) print_progress(run, run.done);
    }
    finish_output(run);
    std::printf("\r%78s\r", " ");
    if (several)
        std::printf("Kept %llu of %llu points from %zu of %zu files\n", static_cast<unsigned long long>(run.kept),
                    static_cast<unsigned long long>(points_read), read, inputs.size());
    else if (selecting)
        std::printf("Kept %llu of %llu points\n", static_cast<unsigned long long>(run.kept),
                    static_cast<unsigned long long>(first->header.point_count));
    if (in_parts && run.part == 1)
        std::printf("Parts written: %s\n", part_name(stem, 1, ".shp").c_str());
    else if (in_parts)
        std::printf("Parts written: %s to %s\n", part_name(stem, 1, ".shp").c_str(),
                    part_name(stem, run.part, ".shp").c_str());

    uint64_t fetched = 0, web_bytes = 0, requests = 0;
    bool any_web = false;
    for (Input &input : inputs) {
        if (input.server != nullptr) {
            any_web = true;
            fetched += input.server->fetched_bytes();
            web_bytes += input.server->size();
            requests += input.server->requests();
        }
    }
    const std::string fetched_text = any_web ? fetched_line(fetched, web_bytes, requests) + "\n" : "";
    inputs.clear();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - beginTime;
    std::printf("Elapsed time %.2f seconds\n", elapsed.count());
    std::fputs(fetched_text.c_str(), stdout);
    // In parts of more than 2 GB (--max-size 4G), each part's files.
    std::vector<std::string> written = {shpname, dbfname};
    if (in_parts) {
        written.clear();
        for (int k = 1; k <= run.part; ++k)
            for (const char *ext : {".shp", ".dbf"}) written.push_back(part_name(stem, k, ext));
    }
    for (const std::string &name : written) {
        uint64_t bytes;
        if (platform::size_of(name.c_str(), bytes))
            std::fputs(large_output_note(name.c_str(), bytes).c_str(), stdout);
    }
    return 0;
}
