#include "driver.h"

#include "LiDAR.h"
#include "coordinate_system.h"
#include "dbf_writer.h"
#include "end_run.h"
#include "file_guard.h"
#include "file_source.h"
#include "http_source.h"
#include "las_input.h"
#include "las_model.hpp"
#include "laz_source.h"
#include "output.h"
#include "options.h"
#include "platform.h"
#include "point_filter.h"
#include "point_source.h"
#include "record_types.h"
#include "shp_writer.h"
#include "variable_records.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#ifdef __SSE2__
#include <emmintrin.h>
#endif

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

// Writes the final record count into the table's header (bytes 4 to 7,
// little-endian), before any row is appended.
void fix_record_count(const char *dbfname, uint32_t records) {
    std::FILE *f = platform::fopen(dbfname, "rb+");
    if (f == nullptr) refuse(kUpdateFailure, dbfname);
    const bool written = std::fseek(f, 4, SEEK_SET) == 0 && std::fwrite(&records, 4, 1, f) == 1;
    if (std::fclose(f) != 0 || !written) fail_writing(dbfname);
}

struct Names {
    const char *las, *shp, *dbf, *prj;
};

[[noreturn]] void refuse_point_count(const char *lasname, uint64_t points) {
    std::printf("\n%s holds %llu points, more than the %u that a shapefile can hold\n", lasname,
                static_cast<unsigned long long>(points), kMaxShapefilePoints);
    end_run(-1);
}

// Widens `bounds` (Xmin, Ymin, Xmax, Ymax, Zmin, Zmax) to the coordinates
// just written into the coordinate buffers from `slot` on; `first` when they
// are the first points of the shapefile.
void widen_bounds(double bounds[6], bool first, int32_t slot, uint32_t count) {
    const double *v[3] = {_Xvec + slot, _Yvec + slot, _Zvec + slot};
    for (int axis = 0; axis < 3; ++axis) {
        double &lo = bounds[axis == 2 ? 4 : axis], &hi = bounds[axis == 2 ? 5 : axis + 2];
        if (first) lo = hi = v[axis][0];
        uint32_t i = 0;
#ifdef __SSE2__
        // Two at a time; a NaN value, as in the scalar steps, never replaces a bound.
        __m128d mn = _mm_set1_pd(lo), mx = _mm_set1_pd(hi);
        for (; i + 2 <= count; i += 2) {
            const __m128d a = _mm_loadu_pd(v[axis] + i);
            mn = _mm_min_pd(a, mn);
            mx = _mm_max_pd(a, mx);
        }
        double l[2], h[2];
        _mm_storeu_pd(l, mn);
        _mm_storeu_pd(h, mx);
        lo = l[1] < l[0] ? l[1] : l[0];
        hi = h[1] > h[0] ? h[1] : h[0];
#endif
        for (; i < count; ++i) {
            lo = v[axis][i] < lo ? v[axis][i] : lo;
            hi = v[axis][i] > hi ? v[axis][i] : hi;
        }
    }
}

template <int N>
void convert(ByteSource &in, platform::Handle file, const InputKind &kind, const Names &names,
             const Selection &selection) {
    const char *lasname = names.las;
    InputHeader input;
    if (!read_input_header(in, kind, input)) {
        refuse_failed_source(in, lasname);
        refuse("\nUnexpected end of %s while reading the header\n", lasname);
    }
    const LAS12Header &ph = input.legacy();
    const uint64_t ptsInLAS = input.point_count;
    // The header's record length: at least the format's, longer where extra
    // bytes follow.
    const uint32_t stride = ph.PointDataRecordLength;

    // Limits are checked before any output file exists. With a selection
    // the points kept are counted as they are written.
    const bool selecting = selection.selects();
    if (!selecting && ptsInLAS > kMaxShapefilePoints) refuse_point_count(lasname, ptsInLAS);
    const uint64_t size = in.size();
    const uint64_t room = size > ph.OffsetToData ? size - ph.OffsetToData : 0;
    if (!kind.laz && ptsInLAS > 0 && room / stride < ptsInLAS) {
        std::printf("\n%s is truncated: %llu point records declared, %llu present\n", lasname,
                    static_cast<unsigned long long>(ptsInLAS), static_cast<unsigned long long>(room / stride));
        end_run(-1);
    }
    // The coordinate system and the extra columns are worked out before any
    // output exists; the coordinate system's file is written once the
    // shapefile is complete.
    const uint64_t points_end = kind.laz ? ph.OffsetToData : ph.OffsetToData + ptsInLAS * stride;
    RecordArea area{ph.HeaderSize, ph.OffsetToData, ph.NumberOfVariableLengthRecords, size};
    if (kind.block >= kHeaderBytes14) {
        area.points_end = points_end;
        area.extended_start = input.h.StartOfFirstEVLR;
        area.extended_count = input.h.NumberOfEVLRs;
        area.wkt_only = (ph.GlobalEncoding & kWktGlobalEncoding) != 0;
    }
    const LasRecords found = read_las_records(in, area);
    refuse_failed_source(in, lasname);
    const std::string prj = esri_wkt_of(found.projection);
    ExtraColumns extras;
    if (kind.extra_bytes && found.has_extra_bytes)
        extras = extra_columns_of(found.extra_bytes, records::kStandardRecordLength[ph.PointDataFormatID], stride,
                                  stored_names_of(N));

    // The records are read from here on: the records above are read first,
    // through the same file.
    if (!kind.laz) in.will_read({{ph.OffsetToData, ptsInLAS * stride}});
    std::unique_ptr<PointSource> source =
        kind.laz ? laz_point_source(in, lasname, input, selection)
                 : las_point_source(in, lasname, ph.OffsetToData, stride);

    // One block's worth of records, reused for every block.
    const uint64_t chunk = ptsInLAS < uint64_t{kChunkRecords} ? ptsInLAS : uint64_t{kChunkRecords};
    const uint64_t by_bytes = kRecordBufferBytes / stride;
    const uint64_t capacity = chunk < by_bytes ? chunk : by_bytes;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[(capacity == 0 ? 1 : capacity) * stride]);
    if (!block) {
        std::puts("Failed to allocate memory for return structure");
        end_run(-1);
    }

    // Every name the run creates, truncates or removes, in the order of its outputs.
    std::vector<std::string> outputs = {names.shp, shx_name_of(names.shp), names.dbf, cpg_name_of(names.dbf)};
    if (!prj.empty()) outputs.push_back(names.prj);
    refuse_same_files(file, lasname, outputs);
    if (file != platform::kNoFile) lock_input(file, lasname);

    const CoordinateScaling scaling{{ph.XScaleFactor, ph.YScaleFactor, ph.ZScaleFactor},
                                    {ph.XOffset, ph.YOffset, ph.ZOffset}};
    PointFilter filter;
    const double header_bounds[4] = {ph.MinX, ph.MinY, ph.MaxX, ph.MaxY};
    if (selecting && !make_point_filter(filter, selection, N, scaling, header_bounds)) {
        std::puts("\nFailed to allocate memory for the squares of --thin");
        end_run(-1);
    }

    // Without a selection the headers are final from the start: the LAS
    // header's count and bounds. With one they are written anew at the end,
    // for the points kept.
    const auto count = static_cast<int32_t>(selecting ? 0 : ptsInLAS);
    double bounds[6] = {ph.MinX, ph.MinY, ph.MaxX, ph.MaxY, ph.MinZ, ph.MaxZ};
    if (selecting) std::fill(bounds, bounds + 6, 0.0);
    createSHPwHeader(names.shp, count, bounds[0], bounds[1], bounds[2], bounds[3], bounds[4], bounds[5]);
    createSHXwHeader(names.shp, count, bounds[0], bounds[1], bounds[2], bounds[3], bounds[4], bounds[5]);
    create_table<N>(names.dbf, extras);
    fix_record_count(names.dbf, static_cast<uint32_t>(count));

    // Records are numbered from 1 in the order written; a chunk's coordinates
    // fill the coordinate buffers from their start. With two threads or more
    // the writers format a block's outputs on a thread of their own while
    // this one writes them, in the same order.
    FormatThread formatter(run_threads() >= 2);
    uint64_t kept = 0;
    auto convert_chunk = [&](int32_t records) {
        int32_t slot = 0;
        for (int32_t done = 0; done < records;) {
            const auto n = static_cast<int32_t>(std::min<uint64_t>(capacity, static_cast<uint64_t>(records - done)));
            auto placed = static_cast<uint32_t>(source->read(block.get(), static_cast<uint64_t>(n)));
            done += n;
            if (selecting) placed = filter_points(filter, block.get(), stride, placed);
            if (placed == 0) continue;
            if (kept + placed > kMaxShapefilePoints) {
                // Nothing of a run that cannot complete is left behind.
                for (const char *name : {names.shp, names.dbf}) platform::remove(name);
                platform::remove(shx_name_of(names.shp).c_str());
                refuse_point_count(lasname, ptsInLAS);
            }
            const auto count = static_cast<int32_t>(placed);
            formatter.run([&] {
                // The coordinates are kept for the bounds of the points selected.
                append_pointz_records(names.shp, block.get(), stride, scaling, count, static_cast<int64_t>(kept) + 1,
                                      slot, selecting);
                if (selecting) widen_bounds(bounds, kept == 0, slot, placed);
                append_rows<N>(names.dbf, block.get(), stride, count, extras);
            });
            kept += placed;
            slot += count;
        }
    };
    const uint64_t nChunks = ptsInLAS / kChunkRecords;
    const auto remainingRecords = static_cast<int32_t>(ptsInLAS - nChunks * kChunkRecords);
    for (uint64_t i = 0; i < nChunks; ++i) {
        // The share of points done once this chunk is written.
        std::printf("\rProcessing ... %.*f%% done", progress_decimals(N),
                    (i + 1) * 100.0 * kChunkRecords / static_cast<double>(ptsInLAS));
        std::fflush(stdout);
        convert_chunk(kChunkRecords);
    }
    if (remainingRecords > 0) convert_chunk(remainingRecords);
    if (selecting) {
        rewrite_shape_headers(names.shp, static_cast<int32_t>(kept), bounds);
        fix_record_count(names.dbf, static_cast<uint32_t>(kept));
    }
    // Without a coordinate system no .prj is written: one already there may be the user's own.
    if (!prj.empty()) write_prj(names.prj, prj);
    std::printf("\r%78s\r", " ");
    if (selecting)
        std::printf("Kept %llu of %llu points\n", static_cast<unsigned long long>(kept),
                    static_cast<unsigned long long>(ptsInLAS));
}

// Opens an input named by an http:// or https:// URL (shown as `shown`, its
// credentials left out) and validates it as a file of that name would be;
// prints the refusal and ends the run when it cannot be converted.
std::unique_ptr<HttpSource> open_web_input(const char *url, const char *shown, InputKind &kind, int &type) {
    const std::string file = url_file_name(url);
    const bool laz = is_laz_name(file.c_str());
    if (file.size() < 5 || (!laz && file.compare(file.size() - 4, 4, ".las") != 0)) {
        std::printf("\nThe path of %s does not end in .las or .laz\n", shown);
        refuse("%s is not a valid LAS file\n", shown);
    }
    std::string why;
    std::unique_ptr<HttpSource> source = HttpSource::open(url, why);
    if (!source) {
        std::printf("\nCannot read %s: %s\n", shown, why.c_str());
        end_run(-1);
    }
    type = input_type(shown, *source, laz, kind);
    if (type <= 0) {
        refuse_failed_source(*source, shown);
        refuse("%s is not a valid LAS file\n", shown);
    }
    return source;
}

constexpr char kUsageLine[] = "Tessaline <LAS file>";

constexpr char kHelp[] =
    "\n"
    "Converts one LAS file of version 1.0 to 1.4 (point formats 0 to 3 in LAS 1.0 to 1.2, 0 to 5 in\n"
    "LAS 1.3, 0 to 10 in LAS 1.4) into an ESRI Shapefile written beside it under the same name:\n"
    "NAME.shp with one PointZ shape per point, its index NAME.shx, the points' attributes (extra bytes\n"
    "included) in the dBASE table NAME.dbf and, when the LAS file carries a coordinate system,\n"
    "NAME.prj. Existing outputs of those names are replaced. The name must end in \".las\".\n"
    "A LAZ file (name ending in \".laz\") converts exactly as the LAS file it decompresses to; its\n"
    "chunks are decoded on every core (TESSALINE_THREADS=N sets the number of threads).\n"
    "The file may be an http:// or https:// URL whose path ends in \".las\" or \".laz\" (a ?query\n"
    "allowed): it is read with range requests, fetching only what the conversion reads (on a COPC\n"
    "file with --extent, the chunks that meet it), and the outputs go to the current folder.\n"
    "Every message, refusals included, goes to standard output.\n"
    "\n"
    "Options (before or after the file; the value after a blank or \"=\"; \"--\" ends them):\n"
    "  --class LIST      keep the points of these classes (0 to 255, e.g. 2,9); in LAS 1.1 to 1.4\n"
    "                    formats 0 to 5 the class is the classification's low five bits\n"
    "  --returns LIST    keep these returns: numbers 0 to 15, first, last, single (e.g. first,2)\n"
    "  --extent XMIN,YMIN,XMAX,YMAX\n"
    "                    keep the points inside this rectangle (edges included), in the file's own\n"
    "                    coordinates; on a COPC file only the chunks that meet it are decoded\n"
    "  --thin SIZE       keep the first point of each SIZE x SIZE square\n"
    "  --output NAME.shp write NAME.shp, NAME.shx, NAME.dbf (and NAME.prj) instead\n"
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
           "makes it smaller\n";
}

int tessaline_run(int argc, char *argv[]) {
    CommandLine line;
    const std::string fault = parse_command_line(argc, argv, line);
    if (!fault.empty()) {
        std::printf("\n%s\n", fault.c_str());
        end_run(-1);
    }
    // Neither name ends in ".las", so neither can be a LAS file to convert.
    if (!line.has_options && argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s\n       Tessaline [OPTION]... <LAS file | URL>\n       Tessaline --help | --version\n%s",
                    kUsageLine, kHelp);
        return 0;
    }
    if (!line.has_options && argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Tessaline " TESSALINE_VERSION);
        return 0;
    }
    if (line.has_options ? line.others.size() != 1 : argc != 2) {
        std::puts("\nMissing or excessive number of arguments");
        std::puts("Usage:");
        std::puts(kUsageLine);
        credits();
        end_run(-1);
    }
    const char *given = line.has_options ? line.others[0].c_str() : argv[1];
    // An http:// or https:// URL is read from its web server: messages name
    // it without its credentials, and the outputs are named from its path's
    // last segment, in the current folder.
    const bool web = is_http_url(given);
    const std::string shown = web ? printable_url(given) : given;
    const char *lasname = shown.c_str();
    std::string input_name = web ? url_file_name(given) : shown;

    std::unique_ptr<ByteSource> in;
    HttpSource *server = nullptr;
    platform::Handle file = platform::kNoFile;
    InputKind kind;
    int LASType = 0;
    if (web) {
        std::unique_ptr<HttpSource> source = open_web_input(given, lasname, kind, LASType);
        server = source.get();
        in = std::move(source);
    } else {
        // Opened without waiting: a named pipe given as input must be refused by
        // the validation below, not wait here for a writer that never comes.
        std::unique_ptr<FileSource> fp = FileSource::open(lasname);
        if (!fp) refuse("\nCannot open binary file %s for reading\n\n", lasname);
        LASType = input_type(lasname, kind);
        if (LASType <= 0) refuse("%s is not a valid LAS file\n", lasname);
        file = fp->handle();
        in = std::move(fp);
    }

    // The name ends in ".las" or ".laz"; the outputs keep everything before
    // it, directory part included.
    // --output names them instead.
    const std::string stem = line.output.empty() ? input_name.substr(0, input_name.size() - 4)
                                                 : line.output.substr(0, line.output.size() - 4);
    const std::string shpname = stem + ".shp";
    const std::string dbfname = stem + ".dbf";
    const std::string prjname = stem + ".prj";

    credits();
    std::printf("Input LAS file:    %s\n", lasname);
    std::printf("Output Shapefile:  %s\n", shpname.c_str());

    // Wall-clock time: waiting for the disk is part of what the user waits for.
    const auto beginTime = std::chrono::steady_clock::now();

    if (!allocate_coordinate_buffers()) {
        std::puts("\nFailed to allocate memory for X, Y, and Z coordinate vectors");
        end_run(-1);
    }

    std::printf("\nProcessing ...");
    std::fflush(stdout);

    const Names names{lasname, shpname.c_str(), dbfname.c_str(), prjname.c_str()};
    switch (LASType) {
        case 1: convert<1>(*in, file, kind, names, line.selection); break;
        case 2: convert<2>(*in, file, kind, names, line.selection); break;
        case 3: convert<3>(*in, file, kind, names, line.selection); break;
        case 4: convert<4>(*in, file, kind, names, line.selection); break;
        case 5: convert<5>(*in, file, kind, names, line.selection); break;
        case 6: convert<6>(*in, file, kind, names, line.selection); break;
        case 7: convert<7>(*in, file, kind, names, line.selection); break;
        case 8: convert<8>(*in, file, kind, names, line.selection); break;
        case 9: convert<9>(*in, file, kind, names, line.selection); break;
        case 10: convert<10>(*in, file, kind, names, line.selection); break;
        case 11: convert<11>(*in, file, kind, names, line.selection); break;
    }

    const std::string fetched =
        server ? fetched_line(server->fetched_bytes(), server->size(), server->requests()) + "\n" : "";
    in.reset();
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - beginTime;
    std::printf("Elapsed time %.2f seconds\n", elapsed.count());
    std::fputs(fetched.c_str(), stdout);
    for (const std::string *name : {&shpname, &dbfname}) {
        uint64_t bytes;
        if (platform::size_of(name->c_str(), bytes))
            std::fputs(large_output_note(name->c_str(), bytes).c_str(), stdout);
    }
    return 0;
}
