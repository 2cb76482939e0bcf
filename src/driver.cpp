#include "driver.h"

#include "LiDAR.h"
#include "coordinate_system.h"
#include "dbf_writer.h"
#include "end_run.h"
#include "file_guard.h"
#include "las_input.h"
#include "las_model.hpp"
#include "laz_source.h"
#include "output.h"
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

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

struct FileCloser {
    void operator()(std::FILE *f) const { std::fclose(f); }
};
using InputFile = std::unique_ptr<std::FILE, FileCloser>;

[[noreturn]] void refuse(const char *message, const char *name) {
    std::printf(message, name);
    end_run(-1);
}

// LAS 1.0 format 0 shows its progress with one decimal, every other type
// with two.
constexpr int progress_decimals(int type) { return type == 1 ? 1 : 2; }

// The point records of a chunk are read into one buffer, a block at a time:
// at most a chunk's records and at most this many bytes. It holds a whole
// chunk of every standard record of LAS 1.0 to 1.2 and of point formats 6 to
// 8; longer records (waveform packets, extra bytes) come in several blocks.
constexpr size_t kRecordBufferBytes = size_t{40} << 20;
static_assert(size_t{kChunkRecords} * sizeof(records::PointOf<11>) <= kRecordBufferBytes &&
                  size_t{kChunkRecords} * sizeof(records::PointOf<8>) <= kRecordBufferBytes,
              "a chunk of standard records is one block");

// Writes the final record count into the table's header (bytes 4 to 7,
// little-endian), before any row is appended.
void fix_record_count(const char *dbfname, uint32_t records) {
    std::FILE *f = std::fopen(dbfname, "rb+");
    if (f == nullptr) refuse("\nUnable to open %s for updating\n", dbfname);
    const bool written = std::fseek(f, 4, SEEK_SET) == 0 && std::fwrite(&records, 4, 1, f) == 1;
    if (std::fclose(f) != 0 || !written) fail_writing(dbfname);
}

struct Names {
    const char *las, *shp, *dbf, *prj;
};

template <int N>
void convert(std::FILE *fp, const InputKind &kind, const Names &names) {
    const char *lasname = names.las;
    InputHeader input;
    if (!read_input_header(fp, kind, input)) refuse("\nUnexpected end of %s while reading the header\n", lasname);
    const LAS12Header &ph = input.legacy();
    const uint64_t ptsInLAS = input.point_count;
    // The header's record length: the type's own for LAS 1.0 to 1.2, at least
    // the format's for LAS 1.3 and 1.4.
    const uint32_t stride = ph.PointDataRecordLength;

    // Limits are checked before any output file exists.
    if (ptsInLAS > kMaxShapefilePoints) {
        std::printf("\n%s holds %llu points, more than the %u that a shapefile can hold\n", lasname,
                    static_cast<unsigned long long>(ptsInLAS), kMaxShapefilePoints);
        end_run(-1);
    }
    struct stat st;
    const uint64_t size = ::fstat(::fileno(fp), &st) == 0 ? static_cast<uint64_t>(st.st_size) : 0;
    const uint64_t points_end = ph.OffsetToData + ptsInLAS * stride;
    if (!kind.laz && ptsInLAS > 0 && size < points_end) {
        const unsigned long long present = size > ph.OffsetToData ? (size - ph.OffsetToData) / stride : 0;
        std::printf("\n%s is truncated: %llu point records declared, %llu present\n", lasname,
                    static_cast<unsigned long long>(ptsInLAS), present);
        end_run(-1);
    }
    // The coordinate system and the extra columns are worked out before any
    // output exists; the coordinate system's file is written once the
    // shapefile is complete.
    RecordArea area{ph.HeaderSize, ph.OffsetToData, ph.NumberOfVariableLengthRecords, size};
    if (kind.block >= kHeaderBytes14) {
        area.points_end = kind.laz ? ph.OffsetToData : points_end;
        area.extended_start = input.h.StartOfFirstEVLR;
        area.extended_count = input.h.NumberOfEVLRs;
        area.wkt_only = (ph.GlobalEncoding & kWktGlobalEncoding) != 0;
    }
    const LasRecords found = read_las_records(fp, area);
    const std::string prj = esri_wkt_of(found.projection);
    ExtraColumns extras;
    if (kind.extended && found.has_extra_bytes)
        extras = extra_columns_of(found.extra_bytes, records::kStandardRecordLength[ph.PointDataFormatID], stride,
                                  stored_names_of(N));

    // The records are read from here on: the records above are read first,
    // through the same file.
    std::unique_ptr<PointSource> source =
        kind.laz ? laz_point_source(::fileno(fp), lasname, input, size)
                 : las_point_source(fp, lasname, ph.OffsetToData, stride);

    // One block's worth of records, reused for every block.
    const uint64_t chunk = ptsInLAS < uint64_t{kChunkRecords} ? ptsInLAS : uint64_t{kChunkRecords};
    const uint64_t by_bytes = kRecordBufferBytes / stride > 0 ? kRecordBufferBytes / stride : 1;
    const uint64_t capacity = chunk < by_bytes ? chunk : by_bytes;
    std::unique_ptr<unsigned char[]> block(new (std::nothrow) unsigned char[(capacity == 0 ? 1 : capacity) * stride]);
    if (!block) {
        std::puts("Failed to allocate memory for return structure");
        end_run(-1);
    }

    // Every name the run creates, truncates or removes, in the order of its outputs.
    std::vector<std::string> outputs = {names.shp, shx_name_of(names.shp), names.dbf, cpg_name_of(names.dbf)};
    if (!prj.empty()) outputs.push_back(names.prj);
    refuse_same_files(::fileno(fp), lasname, outputs);
    lock_input(::fileno(fp), lasname);

    const auto count = static_cast<int32_t>(ptsInLAS);
    createSHPwHeader(names.shp, count, ph.MinX, ph.MinY, ph.MaxX, ph.MaxY, ph.MinZ, ph.MaxZ);
    createSHXwHeader(names.shp, count, ph.MinX, ph.MinY, ph.MaxX, ph.MaxY, ph.MinZ, ph.MaxZ);
    create_table<N>(names.dbf, extras);
    fix_record_count(names.dbf, static_cast<uint32_t>(count));

    const CoordinateScaling scaling{{ph.XScaleFactor, ph.YScaleFactor, ph.ZScaleFactor},
                                    {ph.XOffset, ph.YOffset, ph.ZOffset}};
    const int32_t nChunks = count / kChunkRecords;
    const int32_t remainingRecords = count - nChunks * kChunkRecords;
    auto convert_chunk = [&](int32_t records, int32_t chunkID) {
        for (int32_t done = 0; done < records;) {
            const auto n = static_cast<int32_t>(std::min<uint64_t>(capacity, static_cast<uint64_t>(records - done)));
            source->read(block.get(), static_cast<uint64_t>(n));
            append_pointz_records(names.shp, block.get(), stride, scaling, n,
                                  int64_t{chunkID} * kChunkRecords + done + 1, done);
            append_rows<N>(names.dbf, block.get(), stride, n, extras);
            done += n;
        }
    };
    for (int32_t i = 0; i < nChunks; ++i) {
        // The share of points done once this chunk is written.
        std::printf("\rProcessing ... %.*f%% done", progress_decimals(N),
                    (i + 1) * 100.0 * kChunkRecords / static_cast<double>(ptsInLAS));
        std::fflush(stdout);
        convert_chunk(kChunkRecords, i);
    }
    if (remainingRecords > 0) convert_chunk(remainingRecords, nChunks);
    // Without a coordinate system no .prj is written: one already there may be the user's own.
    if (!prj.empty()) write_prj(names.prj, prj);
    std::printf("\r%78s\r", " ");
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
    "Every message, refusals included, goes to standard output.\n"
    "\n"
    "Exit status:\n"
    "  0    the conversion completed (or --help, --version)\n"
    "  255  the file was refused or the conversion failed; a message says why\n";

}  // namespace

int tessaline_run(int argc, char *argv[]) {
    // Neither name ends in ".las", so neither can be a LAS file to convert.
    if (argc == 2 && std::strcmp(argv[1], "--help") == 0) {
        std::printf("Usage: %s\n       Tessaline --help | --version\n%s", kUsageLine, kHelp);
        return 0;
    }
    if (argc == 2 && std::strcmp(argv[1], "--version") == 0) {
        std::puts("Tessaline " TESSALINE_VERSION);
        return 0;
    }
    if (argc != 2) {
        std::puts("\nMissing or excessive number of arguments");
        std::puts("Usage:");
        std::puts(kUsageLine);
        credits();
        end_run(-1);
    }
    const char *lasname = argv[1];

    // Opened without waiting: a named pipe given as input must be refused by
    // the validation below, not wait here for a writer that never comes.
    const int fd = ::open(lasname, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    InputFile fp(fd < 0 ? nullptr : ::fdopen(fd, "rb"));
    if (!fp) {
        if (fd >= 0) ::close(fd);
        refuse("\nCannot open binary file %s for reading\n\n", lasname);
    }
    InputKind kind;
    const int LASType = input_type(lasname, kind);
    if (LASType <= 0) refuse("%s is not a valid LAS file\n", lasname);

    // The name ends in ".las" or ".laz"; the outputs keep everything before
    // it, directory part included.
    const std::string stem(lasname, std::strlen(lasname) - 4);
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
    std::FILE *in = fp.get();
    switch (LASType) {
        case 1: convert<1>(in, kind, names); break;
        case 2: convert<2>(in, kind, names); break;
        case 3: convert<3>(in, kind, names); break;
        case 4: convert<4>(in, kind, names); break;
        case 5: convert<5>(in, kind, names); break;
        case 6: convert<6>(in, kind, names); break;
        case 7: convert<7>(in, kind, names); break;
        case 8: convert<8>(in, kind, names); break;
        case 9: convert<9>(in, kind, names); break;
        case 10: convert<10>(in, kind, names); break;
        case 11: convert<11>(in, kind, names); break;
    }

    std::fclose(fp.release());
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - beginTime;
    std::printf("Elapsed time %.2f seconds\n", elapsed.count());
    return 0;
}
