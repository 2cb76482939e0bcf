// Conversion speed against the I/O floor.
//
// For each LAS type measured, the benchmark writes a survey of N points with
// the tests' LAS writer into a private temporary folder, then alternates, R
// times each:
//   (a) Tessaline converting the file, as a whole process, wall-clock;
//   (b) the I/O floor for the same file: reading the input into memory and
//       writing the three outputs' byte counts (100 + 36n, 100 + 8n, the
//       table's header + n x its record length) from memory in 1 MiB blocks
//       into the same folder, in one thread.
// Before each timed part, untimed, the outputs of both parts are removed and
// the dirty pages written back (sync), so that neither part pays for the
// other's writes; the floor's input buffer is allocated and touched once per
// type, so that it times the transfers alone. Both parts start with the input
// in the page cache (it was just written).
//
// It prints the median and spread of both, points and output megabytes per
// second, the ratio (a)/(b) of the medians and of the fastest runs ("best":
// work that lands on some runs, from other programs or a virtual machine's
// host, makes the medians noisy, the fastest runs much less so), the CPU time
// of (a) in user and kernel mode and its peak resident memory. Finally it
// converts a survey five times as large once, for linear cost and bounded
// memory, and measures that file's floor once. It prints figures; it does
// not pass or fail. Megabytes are 10^6 bytes.
//
// Besides the LAS types 1 to 8, rows of LAS 1.4 point formats 6 and 8 (f6,
// f8) are measured the same way. The LAZ rows (laz8: type 8, lazf6: LAS 1.4
// format 6) compress the same survey with the tests' LAZ writer and alternate
// three conversions of the same points: the LAS file, the LAZ file with one
// decoding thread, the LAZ file with the default of one per core. The
// selection row (sel8) converts the type-8 survey without an option and
// with selections: one that keeps every point (--extent around all), the
// ground (--class 2), a third and a quarter of the area (--extent) and a thinned cloud
// (--thin 1). The COPC row (copc) writes a square survey of format 6 as a
// plain LAZ file and as a COPC file and alternates four conversions: each
// file whole, and each with --extent over 1/16 of the survey's area. The web
// row (web) serves that COPC file (at most 5M points) on 127.0.0.1 with 20 ms
// added to every answer and alternates: --extent from its URL, a download
// with curl followed by --extent from the disk, and the whole file from its
// URL. The clip row (clip) converts the type-8 survey clipped by a polygon
// of 10,000 vertices that holds a quarter of its points (--clip with a
// GeoJSON file) and with --extent over the polygon's bounding box, in turn,
// with the points kept read from the console; a program that refuses --clip
// has its refusal printed and the extent timed alone. The tiles row (tiles)
// writes 16 LAZ tiles of type 8 of min(N, 1M) points each in a grid of 4 x 4
// and alternates, with 1 and with 2 decoding threads, the 16 single
// conversions one after another (summed) and one run over all 16 into one
// shapefile; then, on 2 threads, one run over the 16 with --extent inside
// one tile and that tile's conversion with the same extent. A program that
// takes one input at a time runs the single conversions alone. The columns
// row (columns) converts the type-8 survey whole and with --columns
// Classifica,Intensity, in turn, and prints the ratio of the two; a program
// that refuses --columns has its refusal printed. The coordinate system
// row (crs) gives the type-8 survey a system, WGS 84 / UTM
// zone 11N (EPSG:32611, where its coordinates lie), and alternates its
// conversion without an option, with --crs EPSG:4326, with --crs EPSG:32612
// (the next UTM zone) and with --crs EPSG:4326 and --extent over the first
// quarter of its width in longitude; a program without --crs has its refusal
// printed and the row is left out. The parts row (parts) alternates the
// type-8 survey's plain conversion and the same with --max-size 200M into
// parts, whose records must add up to the whole's.
//
//   tessaline_bench [--points N] [--repeat R] [--large N]
//                   [--types 8,6,1,f6,f8,laz8,lazf6,sel8,copc,web,clip,tiles,columns,crs,parts] [--dir PARENT] [--exe PROGRAM]
#include "dbf_writer.h"
#include "las_writer.h"
#include "laz_writer.h"
#include "shp_writer.h"

#include <algorithm>
#include <cmath>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <stdexcept>
#include <string>
#include <vector>

#include <fcntl.h>
#include <ftw.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;

struct Options {
    uint64_t points = 10000000;
    uint64_t large = 50000000;
    int repeat = 5;
    std::vector<std::string> rows = {"8", "6", "1", "f6", "f8", "laz8", "lazf6", "sel8", "copc", "web", "clip", "tiles", "columns", "crs", "parts"};
    std::string parent = "/tmp";
    std::string exe = TESSALINE_EXE;
};

struct Run {
    double seconds = 0;
    double user = 0, system = 0;  // CPU seconds
    long peak_kib = 0;
};

double seconds_of(const struct timeval &t) { return static_cast<double>(t.tv_sec) + t.tv_usec / 1e6; }

// Runs Tessaline on `las` in `dir` with its console output discarded, with
// `threads` decoding threads for a LAZ file (0: the program's default) and
// the options `args` before the file.
Run convert(const Options &o, const std::string &dir, const std::string &las, unsigned threads = 0,
            const std::vector<std::string> &args = {}) {
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        const int devnull = ::open("/dev/null", O_WRONLY);
        ::dup2(devnull, 1);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        if (threads != 0) ::setenv("TESSALINE_THREADS", std::to_string(threads).c_str(), 1);
        else ::unsetenv("TESSALINE_THREADS");
        std::vector<char *> argv = {const_cast<char *>(o.exe.c_str())};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(const_cast<char *>(las.c_str()));
        argv.push_back(nullptr);
        ::execv(o.exe.c_str(), argv.data());
        ::_exit(127);
    }
    int status = 0;
    struct rusage ru;
    if (::wait4(pid, &status, 0, &ru) != pid) throw std::runtime_error("wait4 failed");
    Run r;
    r.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    r.user = seconds_of(ru.ru_utime);
    r.system = seconds_of(ru.ru_stime);
    r.peak_kib = ru.ru_maxrss;
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error("Tessaline failed on " + las + " (status " + std::to_string(status) + ")");
    return r;
}

uint64_t size_of(const std::string &path) {
    struct stat st;
    if (::stat(path.c_str(), &st) != 0) throw std::runtime_error("cannot stat " + path);
    return static_cast<uint64_t>(st.st_size);
}

void write_bytes(const std::string &path, uint64_t bytes, const std::vector<char> &block) {
    FILE *f = std::fopen(path.c_str(), "wb");
    if (f == nullptr) throw std::runtime_error("cannot create " + path);
    std::setvbuf(f, nullptr, _IONBF, 0);
    for (uint64_t done = 0; done < bytes;) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(block.size(), bytes - done));
        if (std::fwrite(block.data(), 1, n, f) != n) throw std::runtime_error("cannot write " + path);
        done += n;
    }
    if (std::fclose(f) != 0) throw std::runtime_error("cannot close " + path);
}

const char *const kOutputExtensions[3] = {".shp", ".shx", ".dbf"};
const char *const kFloorStem = "floor";

// The byte counts of the three outputs of `points` points of LAS type `type`.
void output_sizes(int type, uint64_t points, uint64_t sizes[3]) {
    sizes[0] = kShapeHeaderBytes + kPointZRecordBytes * points;
    sizes[1] = kShapeHeaderBytes + kIndexEntryBytes * points;
    sizes[2] = static_cast<uint64_t>(header_length_of(type)) + static_cast<uint64_t>(record_length_of(type)) * points;
}

// Removes the outputs of the conversion of `stem` and of the floor, then
// writes every dirty page back: the next timed part starts from a quiet page
// cache, with the memory of both parts' outputs free for it to reuse.

void settle(const std::string &dir, const std::string &stem) {
    for (const std::string &name : {stem, std::string(kFloorStem)})
        for (const char *ext : kOutputExtensions) std::remove((dir + "/" + name + ext).c_str());
    ::sync();
}

// Anonymous memory that a forked child does not inherit, so that the peak
// resident memory of a conversion is its own.
struct Unshared {
    char *data = nullptr;
    size_t size = 0;
    explicit Unshared(size_t n) : size(n) {
        void *p = ::mmap(nullptr, n, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (p == MAP_FAILED || ::madvise(p, n, MADV_DONTFORK) != 0) throw std::runtime_error("cannot map memory");
        data = static_cast<char *>(p);
        std::memset(data, 1, n);
    }
    Unshared(const Unshared &) = delete;
    Unshared &operator=(const Unshared &) = delete;
    ~Unshared() { ::munmap(data, size); }
};

// Reads the input whole into `data` (its size, touched beforehand), then
// writes the outputs' sizes in 1 MiB blocks.
double io_floor(const std::string &dir, const std::string &stem, const uint64_t sizes[3], Unshared &data) {
    const std::string in = dir + "/" + stem + ".las";
    std::vector<char> block(size_t{1} << 20, 'x');
    settle(dir, stem);
    const auto start = Clock::now();
    FILE *f = std::fopen(in.c_str(), "rb");
    if (f == nullptr) throw std::runtime_error("cannot open " + in);
    std::setvbuf(f, nullptr, _IONBF, 0);
    const bool whole = std::fread(data.data, 1, data.size, f) == data.size;
    std::fclose(f);
    if (!whole) throw std::runtime_error("cannot read " + in);
    for (int k = 0; k < 3; ++k) write_bytes(dir + "/" + kFloorStem + kOutputExtensions[k], sizes[k], block);
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// The outputs of a conversion must be exactly the sizes the floor writes.
void check_outputs(const std::string &dir, const std::string &stem, const uint64_t sizes[3]) {
    for (int k = 0; k < 3; ++k) {
        const std::string name = dir + "/" + stem + kOutputExtensions[k];
        if (size_of(name) != sizes[k])
            throw std::runtime_error(name + " holds " + std::to_string(size_of(name)) + " bytes, not " +
                                     std::to_string(sizes[k]));
    }
}

double megabytes(long kib) { return static_cast<double>(kib) * 1024 / 1e6; }

double median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    const size_t n = v.size();
    return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

std::string spread(const std::vector<double> &v) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.3f-%.3f", *std::min_element(v.begin(), v.end()),
                  *std::max_element(v.begin(), v.end()));
    return buf;
}

// The runs of one mode of a row: their wall-clock and CPU seconds, and the
// peak memory of any.
struct Timings {
    std::vector<double> seconds, user, system;
    long peak = 0;

    void add(const Run &run) {
        seconds.push_back(run.seconds);
        user.push_back(run.user);
        system.push_back(run.system);
        peak = std::max(peak, run.peak_kib);
    }
    double best() const { return *std::min_element(seconds.begin(), seconds.end()); }
};

// One cell of a row's own columns, with the blank before it.
std::string cell(const char *format, double value) {
    char buf[64];
    std::snprintf(buf, sizeof buf, format, value);
    return buf;
}

// The table of a row's modes: the options, the median and spread of the
// runs, the row's own columns (`own`: their titles, then each mode's cells),
// the median and the fastest run against those of the mode `base` (the
// column titled `against`), the peak memory and the CPU times.
void print_modes_header(const std::string &own, const char *against) {
    std::printf("  %-32s %10s %14s%s %8s %7s %8s %7s %7s\n", "options", "convert s", "(spread)", own.c_str(), against,
                "best", "peak MB", "user s", "sys s");
}
void print_mode(const std::string &name, const Timings &m, const Timings &base, const std::string &own) {
    const double mc = median(m.seconds);
    std::printf("  %-32s %10.3f %14s%s %8.2f %7.2f %8.1f %7.3f %7.3f\n", name.c_str(), mc, spread(m.seconds).c_str(),
                own.c_str(), mc / median(base.seconds), m.best() / base.best(), megabytes(m.peak), median(m.user),
                median(m.system));
}

// A mode's options, as a table shows them.
std::string options_text(const std::vector<std::string> &args) {
    std::string name;
    for (const std::string &a : args) name += (name.empty() ? "" : " ") + a;
    return name.empty() ? "(none)" : name;
}

// A row of the benchmark: the file it converts and the table it makes.
struct RowKind {
    std::string token;  // as --types names it
    int table_type;     // the LAS type 1 to 8, or 9 to 11 for the tables of point formats 6 to 8
    bool laz;
};

RowKind row_of(const std::string &token) {
    if (token.size() == 1 && token[0] >= '1' && token[0] <= '8') return {token, token[0] - '0', false};
    const bool laz = token.compare(0, 3, "laz") == 0;
    const std::string rest = token.substr(laz ? 3 : 0);
    if (rest == "f6" || rest == "f8") return {token, rest == "f6" ? 9 : 11, laz};
    if (laz && rest.size() == 1 && rest[0] >= '1' && rest[0] <= '8') return {token, rest[0] - '0', true};
    throw std::runtime_error("unknown row " + token + " (1 to 8, f6, f8, and either with laz before it)");
}

// The survey's LAS options: a LAS type's, or LAS 1.4 with the table's point format.
lastest::LasOptions options_of(const RowKind &kind) {
    if (kind.table_type <= 8) return lastest::options_for_type(kind.table_type);
    lastest::LasOptions opts;
    opts.version_minor = 4;
    opts.point_format = static_cast<uint8_t>(records::point_format_of(kind.table_type));
    return opts;
}

std::string label_of(const RowKind &kind) {
    const lastest::LasOptions opts = options_of(kind);
    return kind.token + " (LAS 1." + std::to_string(opts.version_minor) + " format " +
           std::to_string(opts.point_format) + ")";
}

// Writes the survey as `stem`.las, and as `stem`.laz for a LAZ row.
std::string make_survey(const std::string &dir, const RowKind &kind, uint64_t points) {
    const std::string stem = "survey-" + kind.token + "-" + std::to_string(points);
    lastest::LasOptions opts = options_of(kind);
    opts.offset[0] = 512000.0;
    opts.offset[1] = 4180000.0;
    opts.vlr_payloads = {120};  // points after a variable length record, as in real files
    lastest::write_las(dir + "/" + stem + ".las", opts, points, lastest::survey_point);
    if (kind.laz) laztest::compress_las_file(dir + "/" + stem + ".las", dir + "/" + stem + ".laz");
    return stem;
}

// A row's survey, written as make_survey writes it, and the byte counts of
// its whole conversion's three outputs.
struct Survey {
    std::string stem, las;
    uint64_t sizes[3];
};

Survey written_survey(const std::string &dir, const RowKind &kind, uint64_t points) {
    Survey s;
    s.stem = make_survey(dir, kind, points);
    s.las = s.stem + ".las";
    output_sizes(kind.table_type, points, s.sizes);
    return s;
}

// A LAZ row: the LAS file and its LAZ twin converted in turn, R times each:
// the LAS file, the LAZ file with one decoding thread, with one per core.
void measure_laz(const Options &o, const std::string &dir, const RowKind &kind) {
    const auto [stem, las, sizes] = written_survey(dir, kind, o.points);
    const std::string laz = stem + ".laz";
    const unsigned cores = static_cast<unsigned>(std::max(1L, ::sysconf(_SC_NPROCESSORS_ONLN)));
    struct Mode {
        std::string name, file;
        unsigned threads;
        std::vector<double> seconds, user, system;
        long peak = 0;
    };
    Mode modes[3] = {{"LAS", las, 0, {}, {}, {}},
                     {"LAZ, 1 thread", laz, 1, {}, {}, {}},
                     {"LAZ, " + std::to_string(cores) + " threads", laz, 0, {}, {}, {}}};
    for (int r = 0; r < o.repeat; ++r)
        for (Mode &m : modes) {
            settle(dir, stem);
            const Run run = convert(o, dir, m.file, m.threads);
            m.seconds.push_back(run.seconds);
            m.user.push_back(run.user);
            m.system.push_back(run.system);
            m.peak = std::max(m.peak, run.peak_kib);
            check_outputs(dir, stem, sizes);
        }
    std::printf("\n%s: LAS file %.1f MB, LAZ file %.1f MB (%.1f times smaller)\n", label_of(kind).c_str(),
                size_of(dir + "/" + las) / 1e6, size_of(dir + "/" + laz) / 1e6,
                static_cast<double>(size_of(dir + "/" + las)) / size_of(dir + "/" + laz));
    std::printf("  %-20s %10s %14s %8s %8s %8s %7s %7s\n", "input", "convert s", "(spread)", "Mpts/s", "x LAS",
                "peak MB", "user s", "sys s");
    const double plain = median(modes[0].seconds);
    for (const Mode &m : modes) {
        const double mc = median(m.seconds);
        std::printf("  %-20s %10.3f %14s %8.2f %8.2f %8.1f %7.3f %7.3f\n", m.name.c_str(), mc,
                    spread(m.seconds).c_str(), o.points / mc / 1e6, mc / plain, megabytes(m.peak), median(m.user),
                    median(m.system));
    }
    std::fflush(stdout);
    settle(dir, stem);
    std::remove((dir + "/" + las).c_str());
    std::remove((dir + "/" + laz).c_str());
}

// The selection row (sel8: the type-8 survey): the conversion without an
// option, then with selections that keep every point, the ground (about nine
// tenths of this survey), the first third of its width (100 of its 300 m),
// the first quarter (75 m), and a thinned cloud, converted in turn, R times
// each.
void measure_selection(const Options &o, const std::string &dir) {
    const RowKind kind = row_of("8");
    const auto [stem, las, sizes] = written_survey(dir, kind, o.points);
    struct Mode {
        std::vector<std::string> args;
        Timings t{};
        uint64_t kept = 0;
    };
    Mode modes[] = {{{}},
                    {{"--extent", "-1e9,-1e9,1e9,1e9"}},
                    {{"--class", "2"}},
                    {{"--extent", "512000,-1e9,512100,1e9"}},
                    {{"--extent", "512000,-1e9,512075,1e9"}},
                    {{"--thin", "1"}}};
    // The modes run in turn, forwards and backwards in alternate rounds, each
    // round from another one: a run was seen to pay for the one before it.
    const size_t count = sizeof modes / sizeof modes[0];
    for (int r = 0; r < o.repeat; ++r)
        for (size_t k = 0; k < count; ++k) {
            const size_t turn = (k + static_cast<size_t>(r)) % count;
            Mode &m = modes[r % 2 == 0 ? turn : count - 1 - turn];
            settle(dir, stem);
            m.t.add(convert(o, dir, las, 0, m.args));
            m.kept = (size_of(dir + "/" + stem + ".shx") - kShapeHeaderBytes) / kIndexEntryBytes;
            if (m.args.empty()) check_outputs(dir, stem, sizes);
        }
    std::printf("\n%s, selections:\n", label_of(kind).c_str());
    print_modes_header(" kept %", "x none");
    for (const Mode &m : modes)
        print_mode(options_text(m.args), m.t, modes[0].t, cell(" %6.1f", 100.0 * m.kept / o.points));
    std::fflush(stdout);
    settle(dir, stem);
    std::remove((dir + "/" + las).c_str());
}

// The parts row (parts: the type-8 survey): the plain conversion and the
// same with --max-size 200M into parts, in alternate order, R times each.
// The parts' bytes, less their headers, must add up to the plain outputs'.
void measure_parts(const Options &o, const std::string &dir) {
    const RowKind kind = row_of("8");
    const auto [stem, las, sizes] = written_survey(dir, kind, o.points);
    const auto remove_parts = [&] {
        for (int k = 1;; ++k) {
            const std::string part = dir + "/parts_" + std::to_string(k);
            if (::access((part + ".shp").c_str(), F_OK) != 0) break;
            for (const char *ext : {".shp", ".shx", ".dbf", ".prj"}) std::remove((part + ext).c_str());
        }
    };
    const std::vector<std::string> modes[2] = {{}, {"--max-size", "200M", "--output", "parts.shp"}};
    Timings timings[2];
    int parts = 0;
    for (int r = 0; r < o.repeat; ++r)
        for (int k = 0; k < 2; ++k) {
            const int m = (k + r) % 2;
            settle(dir, stem);
            remove_parts();
            ::sync();
            timings[m].add(convert(o, dir, las, 0, modes[m]));
            if (m == 0) {
                check_outputs(dir, stem, sizes);
                continue;
            }
            // Every part has its own headers; the records add up to the whole's.
            const uint64_t header[3] = {kShapeHeaderBytes, kShapeHeaderBytes, static_cast<uint64_t>(header_length_of(8))};
            uint64_t body[3] = {0, 0, 0};
            for (parts = 0;; ++parts) {
                const std::string part = dir + "/parts_" + std::to_string(parts + 1);
                if (::access((part + ".shp").c_str(), F_OK) != 0) break;
                for (int e = 0; e < 3; ++e) body[e] += size_of(part + kOutputExtensions[e]) - header[e];
            }
            for (int e = 0; e < 3; ++e)
                if (body[e] != sizes[e] - header[e])
                    throw std::runtime_error(std::string("the parts' ") + kOutputExtensions[e] +
                                             " files do not add up to the whole conversion's");
        }
    std::printf("\n%s, in parts:\n", label_of(kind).c_str());
    print_modes_header("  parts", "x none");
    for (int m = 0; m < 2; ++m)
        print_mode(options_text(modes[m]), timings[m], timings[0], cell(" %6.0f", m == 0 ? 1 : parts));
    std::fflush(stdout);
    settle(dir, stem);
    remove_parts();
    std::remove((dir + "/" + las).c_str());
}

// The survey tiled into a square: the lines of 400 pulses of survey_point,
// 400 lines (300 x 300 m) to a tile, the tiles in rows of `across`.
lastest::Point tiled_survey_point(uint64_t i, uint64_t across) {
    constexpr uint64_t kTile = 400 * 400;
    constexpr int32_t kTileSide = 30000;  // centimetres
    lastest::Point p = lastest::survey_point(i);
    const uint64_t tile = i / kTile;
    p.y -= static_cast<int32_t>(tile) * kTileSide;
    p.x += static_cast<int32_t>(tile % across) * kTileSide;
    p.y += static_cast<int32_t>(tile / across) * kTileSide;
    return p;
}

// The COPC row: the same square survey of format 6 as a plain LAZ file (the
// writer's fixed chunks) and as a COPC file (an octree of depth 4 whose nodes
// above the deepest keep 5,000 points each), converted in turn, R times each:
// whole, and with --extent over 1/16 of the survey's area. When the program
// has no --extent, the whole conversions alone are measured.
// Writes the square survey of `points` points of format 6 as `las` in `dir`,
// and as the COPC file `copc` (an octree of depth 5 whose nodes above the
// deepest keep 2,000 points each); gives the --extent value of 1/16 of its
// area, away from the octree's middle lines.
std::string write_square_survey(uint64_t points, const std::string &dir, const std::string &las,
                                const std::string &copc) {
    lastest::LasOptions opts = options_of(row_of("f6"));
    opts.offset[0] = 512000.0;
    opts.offset[1] = 4180000.0;
    const auto tiles = static_cast<uint64_t>(std::ceil(static_cast<double>(points) / (400 * 400)));
    const auto across = static_cast<uint64_t>(std::ceil(std::sqrt(static_cast<double>(tiles))));
    lastest::write_las(dir + "/" + las, opts, points, [across](uint64_t i) { return tiled_survey_point(i, across); });
    laztest::CopcOptions octree;
    octree.depth = 5;
    octree.node_points = 2000;
    laztest::compress_copc_file(dir + "/" + las, dir + "/" + copc, octree);

    std::vector<uint8_t> header(227);
    FILE *f = std::fopen((dir + "/" + las).c_str(), "rb");
    const bool read = f != nullptr && std::fread(header.data(), 1, header.size(), f) == header.size();
    if (f != nullptr) std::fclose(f);
    if (!read) throw std::runtime_error("cannot read the header of " + las);
    double bound[4];  // max X, min X, max Y, min Y
    for (int k = 0; k < 4; ++k) std::memcpy(&bound[k], header.data() + 179 + 8 * k, 8);
    const double w = bound[0] - bound[1], h = bound[2] - bound[3];
    char extent[128];
    std::snprintf(extent, sizeof extent, "%.2f,%.2f,%.2f,%.2f", bound[1] + 0.6 * w, bound[3] + 0.15 * h,
                  bound[1] + 0.85 * w, bound[3] + 0.4 * h);
    return extent;
}

void measure_copc(const Options &o, const std::string &dir) {
    const RowKind kind = row_of("f6");
    const std::string stem = "survey-copc-" + std::to_string(o.points);
    const std::string las = stem + ".las", laz = stem + ".laz", copc = "octree-" + std::to_string(o.points) + ".laz";
    const std::string extent = write_square_survey(o.points, dir, las, copc);
    laztest::compress_las_file(dir + "/" + las, dir + "/" + laz);
    const std::vector<std::string> area = {"--extent", extent};
    settle(dir, stem);
    bool extents = true;
    try {
        convert(o, dir, laz, 0, area);
    } catch (const std::exception &) {
        extents = false;
    }

    uint64_t sizes[3];
    output_sizes(kind.table_type, o.points, sizes);
    struct Mode {
        std::string name, file;
        bool extent;
        std::vector<double> seconds, user, system;
        long peak = 0;
    };
    std::vector<Mode> modes = {{"LAZ", laz, false, {}, {}, {}}, {"COPC", copc, false, {}, {}, {}}};
    if (extents) {
        modes.push_back({"LAZ, --extent", laz, true, {}, {}, {}});
        modes.push_back({"COPC, --extent", copc, true, {}, {}, {}});
    }
    uint64_t kept[3] = {0, 0, 0}, copc_kept[3] = {0, 0, 0};
    for (int r = 0; r < o.repeat; ++r)
        for (Mode &m : modes) {
            const std::string out = m.file.substr(0, m.file.size() - 4);
            settle(dir, out);
            const Run run = convert(o, dir, m.file, 0, m.extent ? area : std::vector<std::string>{});
            m.seconds.push_back(run.seconds);
            m.user.push_back(run.user);
            m.system.push_back(run.system);
            m.peak = std::max(m.peak, run.peak_kib);
            if (!m.extent) check_outputs(dir, out, sizes);
            for (int k = 0; m.extent && k < 3; ++k)
                (m.file == copc ? copc_kept : kept)[k] = size_of(dir + "/" + out + kOutputExtensions[k]);
            settle(dir, out);
        }
    for (int k = 0; extents && k < 3; ++k)
        if (kept[k] != copc_kept[k])
            throw std::runtime_error("the extent's outputs differ in size between the LAZ and the COPC file");
    std::printf("\ncopc (LAS 1.4 format 6): %llu points, LAZ file %.1f MB, COPC file %.1f MB\n",
                static_cast<unsigned long long>(o.points), size_of(dir + "/" + laz) / 1e6, size_of(dir + "/" + copc) / 1e6);
    if (extents)
        std::printf("  --extent %s keeps %llu points\n", extent.c_str(),
                    static_cast<unsigned long long>((kept[1] - kShapeHeaderBytes) / kIndexEntryBytes));
    else
        std::printf("  the program refuses --extent: the whole conversions alone\n");
    std::printf("  %-20s %10s %14s %8s %8s %8s %7s %7s\n", "input", "convert s", "(spread)", "Mpts/s", "x LAZ",
                "peak MB", "user s", "sys s");
    for (size_t i = 0; i < modes.size(); ++i) {
        const Mode &m = modes[i];
        const double mc = median(m.seconds), plain = median(modes[i < 2 ? 0 : 2].seconds);
        std::printf("  %-20s %10.3f %14s %8.2f %8.2f %8.1f %7.3f %7.3f\n", m.name.c_str(), mc,
                    spread(m.seconds).c_str(), o.points / mc / 1e6, mc / plain, megabytes(m.peak), median(m.user),
                    median(m.system));
    }
    std::fflush(stdout);
    for (const std::string &name : {las, laz, copc}) std::remove((dir + "/" + name).c_str());
}

// Runs `argv` in `dir` with its output discarded (or kept in `out`); its
// wall-clock seconds. Anything but status 0 stops the benchmark.
double timed(const std::vector<std::string> &argv, const std::string &dir, std::string *out = nullptr) {
    int p[2];
    if (::pipe(p) != 0) throw std::runtime_error("pipe failed");
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid == 0) {
        ::dup2(out != nullptr ? p[1] : ::open("/dev/null", O_WRONLY), 1);
        ::close(p[0]);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        std::vector<char *> args;
        for (const std::string &a : argv) args.push_back(const_cast<char *>(a.c_str()));
        args.push_back(nullptr);
        ::execv(args[0], args.data());
        ::_exit(127);
    }
    ::close(p[1]);
    char buf[4096];
    ssize_t n;
    while ((n = ::read(p[0], buf, sizeof buf)) > 0)
        if (out != nullptr) out->append(buf, static_cast<size_t>(n));
    ::close(p[0]);
    int status = 0;
    ::waitpid(pid, &status, 0);
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        throw std::runtime_error(argv[0] + " failed (status " + std::to_string(status) + ")");
    return seconds;
}

// The web row: the square survey of the COPC row, of at most 5,000,000
// points, served on 127.0.0.1 by the tests' server of faults with 20 ms
// added to every answer, over loopback as it is and through an emulated
// link of 100 Mbit/s. R times in turn, on each: Tessaline with --extent over
// 1/16 of its area from its URL; the same file downloaded whole with curl
// (same delay and link) and then converted with the extent from the disk;
// and Tessaline converting the whole file from its URL.
void measure_web(const Options &o, const std::string &dir) {
    const uint64_t points = std::min<uint64_t>(o.points, 5000000);
    const std::string las = "survey-web.las", copc = "octree-web.laz", download = "download.laz";
    const std::vector<std::string> area = {"--extent", write_square_survey(points, dir, las, copc)};
    std::remove((dir + "/" + las).c_str());

    int from[2];
    if (::pipe(from) != 0) throw std::runtime_error("pipe failed");
    const pid_t server = ::fork();
    if (server == 0) {
        ::dup2(from[1], 1);
        ::close(from[0]);
        const std::string file = dir + "/" + copc;
        ::execl("/usr/bin/python3", "python3", FAULT_SERVER, file.c_str(), "3600", static_cast<char *>(nullptr));
        ::_exit(127);
    }
    ::close(from[1]);
    std::string port;
    char c;
    while (::read(from[0], &c, 1) == 1 && c != '\n') port += c;
    ::close(from[0]);
    // Loopback as it is, and a link of 100 Mbit/s that all the answers share.
    const std::string base = "http://127.0.0.1:" + port + "/";
    const std::string links[2] = {"delay-20", "link-20-100"};

    struct Mode {
        std::string name;
        std::vector<double> seconds;
    };
    std::vector<Mode> modes;
    for (const std::string &link : links)
        for (const char *name : {"URL, --extent", "curl, then the file with --extent", "URL, whole"})
            modes.push_back({link + ": " + name, {}});
    std::string fetched_extent, fetched_whole;
    try {
        for (int r = 0; r < o.repeat; ++r)
            for (int l = 0; l < 2; ++l) {
                const std::string url = base + links[l] + "/web/" + copc;
                std::vector<std::string> args = {o.exe, area[0], area[1], url};
                settle(dir, "octree-web");
                modes[3 * l].seconds.push_back(timed(args, dir, &fetched_extent));
                settle(dir, "download");
                args.back() = download;
                const double got = timed({"/usr/bin/curl", "-sS", "--noproxy", "*", "-o", download, url}, dir);
                modes[3 * l + 1].seconds.push_back(got + timed(args, dir));
                std::remove((dir + "/" + download).c_str());
                settle(dir, "octree-web");
                modes[3 * l + 2].seconds.push_back(timed({o.exe, url}, dir, &fetched_whole));
            }
    } catch (...) {
        ::kill(server, SIGTERM);
        ::waitpid(server, nullptr, 0);
        throw;
    }
    ::kill(server, SIGTERM);
    ::waitpid(server, nullptr, 0);
    settle(dir, "octree-web");
    const auto fetched_of = [](const std::string &out) {
        const size_t at = out.rfind("Fetched ");
        return at == std::string::npos ? std::string("(no fetched line)") : out.substr(at, out.find('\n', at) - at);
    };
    std::printf("\nweb (COPC, LAS 1.4 format 6, 20 ms added to every answer): %llu points, %.1f MB\n",
                static_cast<unsigned long long>(points), size_of(dir + "/" + copc) / 1e6);
    std::printf("  --extent %s: %s\n  whole: %s\n", area[1].c_str(), fetched_of(fetched_extent).c_str(),
                fetched_of(fetched_whole).c_str());
    std::printf("  %-48s %10s %14s %10s\n", "input", "seconds", "(spread)", "x curl");
    for (size_t i = 0; i < modes.size(); ++i) {
        const Mode &m = modes[i];
        const double curl = median(modes[i / 3 * 3 + 1].seconds);
        std::printf("  %-48s %10.3f %14s %10.2f\n", m.name.c_str(), median(m.seconds), spread(m.seconds).c_str(),
                    median(m.seconds) / curl);
    }
    std::fflush(stdout);
    std::remove((dir + "/" + copc).c_str());
}

// One run of the program, its console kept: the clip and tiles rows read
// what it kept from it, and say why a run was refused rather than stop.
struct Outcome {
    Run run;
    int status = 0;        // the exit status; -1 when it did not exit
    std::string console;   // its standard output
    bool ok() const { return status == 0; }
};

// Runs `o.exe` with `args` in `dir`, with `threads` decoding threads (0: the
// program's default).
Outcome run_program(const Options &o, const std::string &dir, const std::vector<std::string> &args,
                    unsigned threads) {
    int p[2];
    if (::pipe(p) != 0) throw std::runtime_error("pipe failed");
    const auto start = Clock::now();
    const pid_t pid = ::fork();
    if (pid < 0) throw std::runtime_error("fork failed");
    if (pid == 0) {
        ::dup2(p[1], 1);
        ::close(p[0]);
        ::close(p[1]);
        if (::chdir(dir.c_str()) != 0) ::_exit(126);
        if (threads != 0) ::setenv("TESSALINE_THREADS", std::to_string(threads).c_str(), 1);
        else ::unsetenv("TESSALINE_THREADS");
        std::vector<char *> argv = {const_cast<char *>(o.exe.c_str())};
        for (const std::string &a : args) argv.push_back(const_cast<char *>(a.c_str()));
        argv.push_back(nullptr);
        ::execv(o.exe.c_str(), argv.data());
        ::_exit(127);
    }
    ::close(p[1]);
    Outcome out;
    char buf[4096];
    ssize_t n;
    while ((n = ::read(p[0], buf, sizeof buf)) > 0) out.console.append(buf, static_cast<size_t>(n));
    ::close(p[0]);
    int status = 0;
    struct rusage ru;
    if (::wait4(pid, &status, 0, &ru) != pid) throw std::runtime_error("wait4 failed");
    out.run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
    out.run.user = seconds_of(ru.ru_utime);
    out.run.system = seconds_of(ru.ru_stime);
    out.run.peak_kib = ru.ru_maxrss;
    out.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return out;
}

// The first line the program printed (a refusal's reason).
std::string first_line(const std::string &console) {
    const size_t b = console.find_first_not_of(" \t\r\n");
    if (b == std::string::npos) return "(nothing printed)";
    return console.substr(b, console.find_first_of("\r\n", b) - b);
}

// The run must have succeeded; otherwise the benchmark stops, saying why.
const Outcome &must(const Outcome &out, const std::string &what) {
    if (!out.ok())
        throw std::runtime_error("Tessaline failed on " + what + " (status " + std::to_string(out.status) +
                                 "): " + first_line(out.console));
    return out;
}

// "Kept N of M points" and, after several inputs, "from K of T files".
struct Kept {
    bool found = false;
    unsigned long long points = 0, of = 0;
    unsigned long files = 0, of_files = 0;
};

Kept kept_of(const std::string &console) {
    Kept k;
    const size_t at = console.rfind("Kept ");
    if (at == std::string::npos) return k;
    const int n = std::sscanf(console.c_str() + at, "Kept %llu of %llu points from %lu of %lu files", &k.points,
                              &k.of, &k.files, &k.of_files);
    k.found = n >= 2;
    return k;
}

// The points written into `stem`.shp, from its index's size.
uint64_t written(const std::string &dir, const std::string &stem) {
    return (size_of(dir + "/" + stem + ".shx") - kShapeHeaderBytes) / kIndexEntryBytes;
}

// Removes a conversion's outputs.
void remove_outputs(const std::string &dir, const std::string &stem) {
    for (const char *ext : {".shp", ".shx", ".dbf", ".cpg", ".prj"}) std::remove((dir + "/" + stem + ext).c_str());
}

// The header's bounds of a LAS or LAZ file: min X, min Y, max X, max Y.
void bounds_of(const std::string &path, double bounds[4]) {
    std::vector<uint8_t> header(227);
    FILE *f = std::fopen(path.c_str(), "rb");
    const bool read = f != nullptr && std::fread(header.data(), 1, header.size(), f) == header.size();
    if (f != nullptr) std::fclose(f);
    if (!read) throw std::runtime_error("cannot read the header of " + path);
    double b[4];  // max X, min X, max Y, min Y
    for (int k = 0; k < 4; ++k) std::memcpy(&b[k], header.data() + 179 + 8 * k, 8);
    bounds[0] = b[1];
    bounds[1] = b[3];
    bounds[2] = b[0];
    bounds[3] = b[2];
}

// A number as the area's file states it, and as read back from there.
double as_written(double v, std::string &text) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.3f", v);
    text = buf;
    return std::strtod(buf, nullptr);
}

// The clip row: the type-8 survey of the selection row (a strip 300 m wide,
// its scan lines along X), clipped by a polygon of 10,000 vertices: a band
// along the strip, 75 m wide on average (a quarter of the points), whose two
// banks wave by up to 4.2 m with 5,000 vertices each, from 1 m before the
// first line to 1 m after the last. It is written as GeoJSON with a `crs`
// member (the survey states no coordinate system, so nothing is transformed:
// the console notes it). R times in turn, in alternate order: --clip by the
// file, and --extent over the polygon's bounding box (about 28% of the
// points). The benchmark counts the points inside the polygon itself (each
// point's Y finds the banks' edges beside it) and compares the clip's count.
void measure_clip(const Options &o, const std::string &dir) {
    const RowKind kind = row_of("8");
    const std::string stem = make_survey(dir, kind, o.points);
    const std::string las = stem + ".las";
    const double x0 = 512000.0, y0 = 4180000.0;  // the survey's offsets
    const uint64_t lines = (o.points + 399) / 400;
    const double length = static_cast<double>(lines) * 0.75;
    constexpr int kSide = 5000;  // vertices per bank
    const double pi = std::acos(-1.0);
    std::vector<double> ys(kSide), left(kSide), right(kSide);
    std::vector<std::string> yt(kSide), lt(kSide), rt(kSide);
    for (int k = 0; k < kSide; ++k) {
        const double y = -1.0 + (length + 2.0) * k / (kSide - 1);
        ys[k] = as_written(y0 + y, yt[k]);
        left[k] = as_written(x0 + 112.5 + 3.0 * std::sin(2 * pi * y / 17.3) + 1.2 * std::sin(2 * pi * y / 5.9 + 1.0),
                             lt[k]);
        right[k] = as_written(
            x0 + 187.5 + 3.0 * std::sin(2 * pi * y / 13.1 + 2.0) + 1.2 * std::sin(2 * pi * y / 4.7), rt[k]);
    }
    // Anticlockwise: up the right bank, down the left one, closed.
    std::string json =
        "{\"type\": \"FeatureCollection\", \"name\": \"band\",\n"
        " \"crs\": {\"type\": \"name\", \"properties\": {\"name\": \"urn:ogc:def:crs:EPSG::32611\"}},\n"
        " \"features\": [{\"type\": \"Feature\", \"properties\": {}, \"geometry\": {\"type\": \"Polygon\", "
        "\"coordinates\": [[";
    for (int k = 0; k < kSide; ++k) json += "[" + rt[k] + "," + yt[k] + "],";
    for (int k = kSide - 1; k >= 0; --k) json += "[" + lt[k] + "," + yt[k] + "],";
    json += "[" + rt[0] + "," + yt[0] + "]]]}}]}\n";
    const std::string area = "area.geojson";
    FILE *f = std::fopen((dir + "/" + area).c_str(), "wb");
    if (f == nullptr || std::fwrite(json.data(), 1, json.size(), f) != json.size() || std::fclose(f) != 0)
        throw std::runtime_error("cannot write " + area);
    const double xmin = *std::min_element(left.begin(), left.end());
    const double xmax = *std::max_element(right.begin(), right.end());
    char box[160];
    std::snprintf(box, sizeof box, "%.3f,%.3f,%.3f,%.3f", xmin, ys.front(), xmax, ys.back());

    // The points inside, counted here: X and Y as the .shp holds them.
    uint64_t inside = 0;
    const double step = (ys.back() - ys.front()) / (kSide - 1);
    for (uint64_t i = 0; i < o.points; ++i) {
        const lastest::Point p = lastest::survey_point(i);
        const double px = static_cast<double>(p.x) * 0.01 + x0, py = static_cast<double>(p.y) * 0.01 + y0;
        auto k = static_cast<long>((py - ys.front()) / step);
        k = std::max(0L, std::min<long>(k, kSide - 2));
        while (k > 0 && py < ys[k]) --k;
        while (k < kSide - 2 && py > ys[k + 1]) ++k;
        const double t = (py - ys[k]) / (ys[k + 1] - ys[k]);
        const double l = left[k] + t * (left[k + 1] - left[k]), r = right[k] + t * (right[k + 1] - right[k]);
        if (px >= l && px <= r) ++inside;
    }

    struct Mode {
        std::string name;
        std::vector<std::string> args;
        Timings t{};
        Kept kept{};
    };
    std::vector<Mode> modes = {{"--clip " + area, {"--clip", area}},
                               {"--extent (its bounding box)", {"--extent", box}}};
    // Whether the program clips at all: a refusal is reported, not fatal.
    settle(dir, stem);
    const Outcome probe = run_program(o, dir, {"--clip", area, las}, 0);
    const bool clips = probe.ok();
    const std::string refusal = clips ? "" : first_line(probe.console);
    std::string note;  // what the console said of the coordinate systems
    if (clips) {
        const size_t at = probe.console.find("Note: ");
        if (at != std::string::npos) note = first_line(probe.console.substr(at));
    } else {
        modes.erase(modes.begin());
    }
    for (int r = 0; r < o.repeat; ++r)
        for (size_t k = 0; k < modes.size(); ++k) {
            Mode &m = modes[r % 2 == 0 ? k : modes.size() - 1 - k];
            settle(dir, stem);
            std::vector<std::string> args = m.args;
            args.push_back(las);
            const Outcome out = run_program(o, dir, args, 0);
            must(out, las + " with " + m.name);
            m.t.add(out.run);
            m.kept = kept_of(out.console);
            if (!m.kept.found || m.kept.points != written(dir, stem))
                throw std::runtime_error("the console's Kept line and " + stem + ".shp disagree with " + m.name);
        }
    settle(dir, stem);
    std::printf("\n%s, clipped by a polygon of %d vertices (a band along the survey, %.1f KB of GeoJSON):\n",
                label_of(kind).c_str(), 2 * kSide, json.size() / 1e3);
    std::printf("  the polygon holds %llu points (%.1f%%), as counted by the benchmark\n",
                static_cast<unsigned long long>(inside), 100.0 * inside / o.points);
    if (clips && modes[0].kept.points != inside)
        std::printf("  NOTE: --clip kept %llu points, not %llu\n", modes[0].kept.points,
                    static_cast<unsigned long long>(inside));
    if (!clips)
        std::printf("  the program refuses --clip (status %d): %s\n  --extent alone:\n", probe.status,
                    refusal.c_str());
    else if (!note.empty())
        std::printf("  console: %s\n", note.c_str());
    print_modes_header("       kept  kept %", "x extent");
    for (const Mode &m : modes)
        print_mode(m.name, m.t, modes.back().t,
                   cell(" %10.0f", static_cast<double>(m.kept.points)) + cell(" %7.1f", 100.0 * m.kept.points / o.points));
    std::printf("  --extent %s\n", box);
    std::fflush(stdout);
    std::remove((dir + "/" + las).c_str());
    std::remove((dir + "/" + area).c_str());
}

// The coordinate system row (crs): the type-8 survey in UTM zone 11N
// converted plainly and into other systems, in turn, R times each, rounds
// alternately forwards and backwards as in the selection row.
void measure_crs(const Options &o, const std::string &dir) {
    const RowKind kind = row_of("8");
    const std::string stem = "survey-crs-" + std::to_string(o.points);
    const std::string las = stem + ".las";
    lastest::LasOptions opts = options_of(kind);
    opts.offset[0] = 512000.0;
    opts.offset[1] = 4180000.0;
    opts.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32611}})};
    lastest::write_las(dir + "/" + las, opts, o.points, lastest::survey_point);
    const auto remove_all = [&] {
        settle(dir, stem);
        std::remove((dir + "/" + stem + ".prj").c_str());
    };
    // The first quarter of the survey's width in longitude, from the bounds
    // of its conversion into EPSG:4326; a program without --crs refuses it.
    const Outcome first = run_program(o, dir, {"--crs", "EPSG:4326", las}, 0);
    if (!first.ok()) {
        std::printf("\n%s, coordinate systems: the program refuses --crs (status %d): %s\n", label_of(kind).c_str(),
                    first.status, first_line(first.console).c_str());
        remove_all();
        std::remove((dir + "/" + las).c_str());
        return;
    }
    double bounds[4];
    {
        FILE *f = std::fopen((dir + "/" + stem + ".shp").c_str(), "rb");
        if (f == nullptr || std::fseek(f, 36, SEEK_SET) != 0 || std::fread(bounds, 8, 4, f) != 4)
            throw std::runtime_error("cannot read the bounds of the --crs conversion");
        std::fclose(f);
    }
    char extent[128];
    std::snprintf(extent, sizeof extent, "%.9f,-90,%.9f,90", bounds[0], bounds[0] + (bounds[2] - bounds[0]) / 4);
    struct Mode {
        std::vector<std::string> args;
        Timings t{};
        uint64_t kept = 0;
    };
    Mode modes[] = {{{}},
                    {{"--crs", "EPSG:4326"}},
                    {{"--crs", "EPSG:32612"}},
                    {{"--crs", "EPSG:4326", "--extent", extent}}};
    const size_t count = sizeof modes / sizeof modes[0];
    for (int r = 0; r < o.repeat; ++r)
        for (size_t k = 0; k < count; ++k) {
            const size_t turn = (k + static_cast<size_t>(r)) % count;
            Mode &m = modes[r % 2 == 0 ? turn : count - 1 - turn];
            remove_all();
            m.t.add(convert(o, dir, las, 0, m.args));
            m.kept = (size_of(dir + "/" + stem + ".shx") - kShapeHeaderBytes) / kIndexEntryBytes;
        }
    std::printf("\n%s in EPSG:32611, coordinate systems:\n", label_of(kind).c_str());
    print_modes_header(" kept %", "x none");
    for (const Mode &m : modes) {
        std::vector<std::string> shown = m.args;
        std::replace(shown.begin(), shown.end(), std::string(extent), std::string("(1/4 of X)"));
        print_mode(options_text(shown), m.t, modes[0].t, cell(" %6.1f", 100.0 * m.kept / o.points));
    }
    std::fflush(stdout);
    remove_all();
    std::remove((dir + "/" + las).c_str());
}

// Point i of tile `tile` of the tiles row: the scan lines of survey_point
// from the tile's first point on, moved into its place in a grid of 4 x 4
// tiles of 300 m across and `per_tile` / 400 lines (0.75 m apart) up, with a
// gap of at least 0.45 m between neighbours.
lastest::Point tile_point(uint64_t i, uint64_t tile, uint64_t per_tile) {
    const auto lines = static_cast<int32_t>(per_tile / 400);
    const auto t = static_cast<int32_t>(tile);
    lastest::Point p = lastest::survey_point(tile * per_tile + i);
    p.y -= t * lines * 75;
    p.x += t % 4 * 30000;
    p.y += t / 4 * lines * 75;
    return p;
}

// The tiles row: 16 LAZ tiles of type 8 (the tests' LAZ writer, chunks of
// 50,000 points) of min(N, 1,000,000) points each, rounded down to whole scan
// lines, side by side in a grid of 4 x 4. R times in turn, each round
// starting from another mode and in alternate directions:
//   (1) the 16 single conversions one after another, 1 thread each, summed;
//   (2) one run over the 16 tiles into all.shp, 1 thread;
//   (3) the 16 single conversions, 2 threads each, summed;
//   (4) one run, 2 threads;
//   (5) one run with --extent over the middle quarter of tile 6 (of the
//       second row and column), which no other tile meets, 2 threads;
//   (6) tile 6 alone with the same extent, 2 threads.
// The single conversions follow one another without a sync between them, as
// the one run writes all its outputs without one; their outputs stay until
// the mode ends. A program that takes one input at a time (an earlier build
// given by --exe) runs (1), (3) and (6); the others show as n/a.
void measure_tiles(const Options &o, const std::string &dir) {
    constexpr int kTiles = 16;
    const uint64_t per_tile = std::max<uint64_t>(400, std::min<uint64_t>(o.points, 1000000) / 400 * 400);
    lastest::LasOptions opts = lastest::options_for_type(8);
    opts.offset[0] = 512000.0;
    opts.offset[1] = 4180000.0;
    opts.vlr_payloads = {120};
    std::vector<std::string> stems;
    uint64_t laz_bytes = 0;
    for (int t = 0; t < kTiles; ++t) {
        char name[16];
        std::snprintf(name, sizeof name, "t%02d", t + 1);
        stems.push_back(name);
        const uint64_t tile = static_cast<uint64_t>(t);
        laztest::write_laz(dir + "/" + name + ".laz", opts, per_tile,
                           [tile, per_tile](uint64_t i) { return tile_point(i, tile, per_tile); });
        laz_bytes += size_of(dir + "/" + name + ".laz");
    }
    const int chosen = 5;  // t06.laz
    const std::string one = stems[chosen] + ".laz";
    double b[4];
    bounds_of(dir + "/" + one, b);
    char extent[160];
    std::snprintf(extent, sizeof extent, "%.2f,%.2f,%.2f,%.2f", b[0] + 0.25 * (b[2] - b[0]),
                  b[1] + 0.25 * (b[3] - b[1]), b[0] + 0.75 * (b[2] - b[0]), b[1] + 0.75 * (b[3] - b[1]));
    for (int t = 0; t < kTiles; ++t) {
        double c[4];
        bounds_of(dir + "/" + stems[t] + ".laz", c);
        const bool meets = c[0] <= b[0] + 0.75 * (b[2] - b[0]) && c[2] >= b[0] + 0.25 * (b[2] - b[0]) &&
                           c[1] <= b[1] + 0.75 * (b[3] - b[1]) && c[3] >= b[1] + 0.25 * (b[3] - b[1]);
        if (meets != (t == chosen)) throw std::runtime_error("the tiles' extent meets another tile than " + one);
    }

    // What the program takes: several inputs, --extent (two small tiles).
    {
        lastest::LasOptions small = opts;
        for (int t = 0; t < 2; ++t)
            laztest::write_laz(dir + "/probe" + std::to_string(t) + ".laz", small, 4000,
                               [t](uint64_t i) { return tile_point(i, static_cast<uint64_t>(t), 4000); });
    }
    const Outcome several_probe = run_program(o, dir, {"probe0.laz", "probe1.laz", "--output", "probe.shp"}, 0);
    const bool several = several_probe.ok();
    const Outcome extent_probe = run_program(o, dir, {"--extent", "-1e9,-1e9,1e9,1e9", "probe0.laz"}, 0);
    const bool extents = extent_probe.ok();
    for (const char *s : {"probe", "probe0"}) remove_outputs(dir, s);
    for (int t = 0; t < 2; ++t) std::remove((dir + "/probe" + std::to_string(t) + ".laz").c_str());

    std::vector<std::string> all;
    for (const std::string &s : stems) all.push_back(s + ".laz");
    all.push_back("--output");
    all.push_back("all.shp");
    struct Mode {
        std::string name;
        unsigned threads;
        bool singles, runs;
        std::vector<std::string> args;  // of the one run (singles: the options before each tile)
        uint64_t points;                // in the outputs, without an extent
        std::vector<double> seconds{}, user{}, system{};
        long peak = 0;
        Kept kept{};
        uint64_t written = 0;
    };
    std::vector<std::string> area_all = {"--extent", extent};
    area_all.insert(area_all.end(), all.begin(), all.end());
    std::vector<Mode> modes = {
        {"16 single conversions, summed", 1, true, true, {}, per_tile},
        {"one run, 16 inputs", 1, false, several, all, kTiles * per_tile},
        {"16 single conversions, summed", 2, true, true, {}, per_tile},
        {"one run, 16 inputs", 2, false, several, all, kTiles * per_tile},
        {"one run, 16 inputs, --extent", 2, false, several && extents, area_all, 0},
        {one + " alone, --extent", 2, false, extents, {"--extent", extent, one}, 0},
    };
    const auto clean = [&]() {
        for (const std::string &s : stems) remove_outputs(dir, s);
        remove_outputs(dir, "all");
        ::sync();
    };
    uint64_t sizes[3];
    output_sizes(8, per_tile, sizes);
    uint64_t all_sizes[3];
    output_sizes(8, kTiles * per_tile, all_sizes);
    const size_t count = modes.size();
    for (int r = 0; r < o.repeat; ++r)
        for (size_t k = 0; k < count; ++k) {
            const size_t turn = (k + static_cast<size_t>(r)) % count;
            Mode &m = modes[r % 2 == 0 ? turn : count - 1 - turn];
            if (!m.runs) continue;
            clean();
            Run sum;
            if (m.singles) {
                for (const std::string &s : stems) {
                    const Outcome out = must(run_program(o, dir, {s + ".laz"}, m.threads), s + ".laz");
                    sum.seconds += out.run.seconds;
                    sum.user += out.run.user;
                    sum.system += out.run.system;
                    sum.peak_kib = std::max(sum.peak_kib, out.run.peak_kib);
                    check_outputs(dir, s, sizes);
                }
            } else {
                const Outcome out = must(run_program(o, dir, m.args, m.threads), m.name);
                sum = out.run;
                m.kept = kept_of(out.console);
                const std::string stem = m.args.back() == one ? stems[chosen] : "all";
                if (m.points > 0) check_outputs(dir, stem, m.points == per_tile ? sizes : all_sizes);
                m.written = written(dir, stem);
            }
            m.seconds.push_back(sum.seconds);
            m.user.push_back(sum.user);
            m.system.push_back(sum.system);
            m.peak = std::max(m.peak, sum.peak_kib);
        }
    clean();
    for (const std::string &s : stems) std::remove((dir + "/" + s + ".laz").c_str());

    std::printf("\ntiles (LAZ, LAS 1.2 format 3): %d tiles of %llu points in a grid of 4 x 4, %.1f MB of LAZ in all\n",
                kTiles, static_cast<unsigned long long>(per_tile), laz_bytes / 1e6);
    if (!several)
        std::printf("  the program refuses several inputs (status %d): %s\n", several_probe.status,
                    first_line(several_probe.console).c_str());
    if (!extents)
        std::printf("  the program refuses --extent (status %d): %s\n", extent_probe.status,
                    first_line(extent_probe.console).c_str());
    const Mode &with = modes[4], &alone = modes[5];
    if (alone.runs)
        std::printf("  --extent %s (a quarter of %s) keeps %llu points\n", extent, one.c_str(),
                    static_cast<unsigned long long>(alone.written));
    if (with.runs) {
        std::printf("  the one run with it: %s\n", with.kept.found ? ("Kept " + std::to_string(with.kept.points) +
                                                                     " of " + std::to_string(with.kept.of) +
                                                                     " points from " + std::to_string(with.kept.files) +
                                                                     " of " + std::to_string(with.kept.of_files) + " files")
                                                                        .c_str()
                                                                  : "(no Kept line)");
        if (alone.runs && with.written != alone.written)
            std::printf("  NOTE: the one run kept %llu points, %s alone %llu\n",
                        static_cast<unsigned long long>(with.written), one.c_str(),
                        static_cast<unsigned long long>(alone.written));
    }
    std::printf("  %-36s %7s %10s %14s %8s %8s %7s %7s\n", "mode", "threads", "convert s", "(spread)", "Mpts/s",
                "peak MB", "user s", "sys s");
    for (const Mode &m : modes) {
        if (!m.runs) {
            std::printf("  %-36s %7u %10s\n", m.name.c_str(), m.threads, "n/a");
            continue;
        }
        const double mc = median(m.seconds);
        char rate[16] = "-";
        if (m.points > 0) std::snprintf(rate, sizeof rate, "%.2f", kTiles * per_tile / mc / 1e6);
        std::printf("  %-36s %7u %10.3f %14s %8s %8.1f %7.3f %7.3f\n", m.name.c_str(), m.threads, mc,
                    spread(m.seconds).c_str(), rate, megabytes(m.peak), median(m.user), median(m.system));
    }
    const auto ratio = [](const Mode &a, const Mode &b) {
        if (!a.runs || !b.runs) return std::string("n/a");
        char buf[64];
        std::snprintf(buf, sizeof buf, "%.2f (best %.2f)", median(a.seconds) / median(b.seconds),
                      *std::min_element(a.seconds.begin(), a.seconds.end()) /
                          *std::min_element(b.seconds.begin(), b.seconds.end()));
        return std::string(buf);
    };
    std::printf("  one run / singles, 1 thread: %s; 2 threads: %s; with --extent, one run / %s alone: %s\n",
                ratio(modes[1], modes[0]).c_str(), ratio(modes[3], modes[2]).c_str(), one.c_str(),
                ratio(with, alone).c_str());
    std::fflush(stdout);
}

void remove_tree(const std::string &dir) {
    ::nftw(
        dir.c_str(), [](const char *p, const struct stat *, int, struct FTW *) { return ::remove(p); }, 16,
        FTW_DEPTH | FTW_PHYS);
}

// The columns row: the type-8 survey converted whole and with two columns
// chosen, in turn (alternating which goes first), R times each; the second's
// table must be the size of those two columns.
void measure_columns(const Options &o, const std::string &dir) {
    const RowKind kind = row_of("8");
    const auto [stem, las, sizes] = written_survey(dir, kind, o.points);
    const std::vector<std::string> names = {"Classifica", "Intensity"};
    ColumnChoice choice;
    if (!choose_columns(names, stored_columns_of(kind.table_type, {}), las, choice).empty())
        throw std::runtime_error("the table of type 8 has no Classifica and Intensity");
    const uint64_t chosen_dbf = static_cast<uint64_t>(table_header_length(kind.table_type, {}, choice)) +
                                static_cast<uint64_t>(table_record_length(kind.table_type, {}, choice)) * o.points;
    struct Mode {
        std::string name;
        std::vector<std::string> args;
        Timings t{};
    };
    std::vector<Mode> modes = {{"all columns", {}},
                               {"--columns Classifica,Intensity", {"--columns", "Classifica,Intensity"}}};
    settle(dir, stem);
    const Outcome probe = run_program(o, dir, {"--columns", "Classifica,Intensity", las}, 0);
    if (!probe.ok()) modes.pop_back();
    for (int r = 0; r < o.repeat; ++r)
        for (size_t k = 0; k < modes.size(); ++k) {
            Mode &m = modes[r % 2 == 0 ? k : modes.size() - 1 - k];
            settle(dir, stem);
            std::vector<std::string> args = m.args;
            args.push_back(las);
            const Outcome out = run_program(o, dir, args, 0);
            must(out, las + " with " + m.name);
            m.t.add(out.run);
            const uint64_t dbf = m.args.empty() ? sizes[2] : chosen_dbf;
            if (size_of(dir + "/" + stem + ".shp") != sizes[0] || size_of(dir + "/" + stem + ".dbf") != dbf)
                throw std::runtime_error(stem + "'s outputs are not the sizes of " + m.name);
        }
    settle(dir, stem);
    std::printf("\n%s, with the table's columns chosen:\n", label_of(kind).c_str());
    if (!probe.ok())
        std::printf("  the program refuses --columns (status %d): %s\n  all columns alone:\n", probe.status,
                    first_line(probe.console).c_str());
    print_modes_header("", "x all");
    for (const Mode &m : modes) print_mode(m.name, m.t, modes[0].t, "");
    std::fflush(stdout);
    std::remove((dir + "/" + las).c_str());
}

Options parse(int argc, char *argv[]) {
    Options o;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        const char *v = i + 1 < argc ? argv[i + 1] : nullptr;
        if (v == nullptr) throw std::runtime_error("missing value after " + a);
        if (a == "--points") o.points = std::strtoull(v, nullptr, 10);
        else if (a == "--large") o.large = std::strtoull(v, nullptr, 10);
        else if (a == "--repeat") o.repeat = std::atoi(v);
        else if (a == "--dir") o.parent = v;
        else if (a == "--exe") o.exe = v;
        else if (a == "--types") {
            // Rows separated by commas; digits run together name one type each, as "861".
            o.rows.clear();
            std::string rest = v;
            while (!rest.empty()) {
                const size_t comma = rest.find(',');
                const std::string token = rest.substr(0, comma);
                rest = comma == std::string::npos ? "" : rest.substr(comma + 1);
                if (!token.empty() && token.find_first_not_of("12345678") == std::string::npos)
                    for (char c : token) o.rows.push_back(std::string(1, c));
                else if (token == "sel8" || token == "copc" || token == "web" || token == "clip" || token == "tiles" ||
                         token == "columns" || token == "crs" || token == "parts")
                    o.rows.push_back(token);
                else if (!token.empty())
                    o.rows.push_back(row_of(token).token);  // checked here, before any file is written
            }
        } else throw std::runtime_error("unknown option " + a);
        ++i;
    }
    return o;
}

}  // namespace

int main(int argc, char *argv[]) {
    std::string dir;
    try {
        const Options o = parse(argc, argv);
        std::vector<char> pattern(o.parent.begin(), o.parent.end());
        const char suffix[] = "/tessaline-bench-XXXXXX";
        pattern.insert(pattern.end(), suffix, suffix + sizeof suffix);
        if (::mkdtemp(pattern.data()) == nullptr) throw std::runtime_error("cannot create a folder in " + o.parent);
        dir = pattern.data();

        std::printf("Tessaline benchmark: %llu points per file, %d alternating runs each, in %s\n",
                    static_cast<unsigned long long>(o.points), o.repeat, dir.c_str());
        Run reference{};
        double reference_floor = 0;
        bool heading = false;
        for (const std::string &token : o.rows) {
            if (token == "sel8" || token == "copc" || token == "web" || token == "clip" || token == "tiles" ||
                token == "columns" || token == "crs" || token == "parts")
                continue;
            const RowKind kind = row_of(token);
            if (kind.laz) continue;
            if (!heading)
                std::printf("%-22s %10s %14s %10s %14s %8s %9s %6s %6s %8s %7s %7s\n", "type", "convert s",
                            "(spread)", "floor s", "(spread)", "Mpts/s", "out MB/s", "ratio", "best", "peak MB",
                            "user s", "sys s");
            heading = true;
            const std::string stem = make_survey(dir, kind, o.points);
            uint64_t sizes[3];
            output_sizes(kind.table_type, o.points, sizes);
            std::vector<double> conv, floor, user, system;
            // The floor's input buffer, allocated once: memory given back
            // between runs may cost more to take again (notably in a VM).
            Unshared data(static_cast<size_t>(size_of(dir + "/" + stem + ".las")));
            long peak = 0;
            for (int r = 0; r < o.repeat; ++r) {
                settle(dir, stem);
                const Run run = convert(o, dir, stem + ".las");
                conv.push_back(run.seconds);
                user.push_back(run.user);
                system.push_back(run.system);
                peak = std::max(peak, run.peak_kib);
                check_outputs(dir, stem, sizes);
                floor.push_back(io_floor(dir, stem, sizes, data));
            }
            const double mc = median(conv), mf = median(floor);
            const double out_mb = static_cast<double>(sizes[0] + sizes[1] + sizes[2]) / 1e6;
            const double best = *std::min_element(conv.begin(), conv.end()) / *std::min_element(floor.begin(), floor.end());
            std::printf("%-22s %10.3f %14s %10.3f %14s %8.2f %9.1f %6.2f %6.2f %8.1f %7.3f %7.3f\n",
                        label_of(kind).c_str(), mc, spread(conv).c_str(), mf, spread(floor).c_str(),
                        o.points / mc / 1e6, out_mb / mc, mc / mf, best, megabytes(peak), median(user),
                        median(system));
            std::fflush(stdout);
            if (kind.table_type == 8) {
                reference = Run{mc, median(user), median(system), peak};
                reference_floor = mf;
            }
            settle(dir, stem);
            std::remove((dir + "/" + stem + ".las").c_str());
        }
        for (const std::string &token : o.rows)
            if (token == "sel8") measure_selection(o, dir);
            else if (token == "parts") measure_parts(o, dir);
            else if (token == "copc") measure_copc(o, dir);
            else if (token == "web") measure_web(o, dir);
            else if (token == "clip") measure_clip(o, dir);
            else if (token == "tiles") measure_tiles(o, dir);
            else if (token == "columns") measure_columns(o, dir);
            else if (token == "crs") measure_crs(o, dir);
            else if (row_of(token).laz) measure_laz(o, dir, row_of(token));
        if (o.large > 0) {
            const std::string stem = make_survey(dir, row_of("8"), o.large);
            uint64_t sizes[3];
            output_sizes(8, o.large, sizes);
            // An untimed floor first: the first program in a while to need
            // gigabytes of page cache may find them handed back to a virtual
            // machine's host and wait for them again (the 10M runs reuse one
            // another's); both timed parts below then find them in use.
            Unshared data(static_cast<size_t>(size_of(dir + "/" + stem + ".las")));
            io_floor(dir, stem, sizes, data);
            settle(dir, stem);
            const Run big = convert(o, dir, stem + ".las");
            check_outputs(dir, stem, sizes);
            std::printf("\n%llu points of type 8: %.3f s (user %.3f s, sys %.3f s), peak %.1f MB",
                        static_cast<unsigned long long>(o.large), big.seconds, big.user, big.system,
                        megabytes(big.peak_kib));
            if (reference.seconds > 0)
                std::printf("; %.2f times the %llu-point run (%.1f times the points)", big.seconds / reference.seconds,
                            static_cast<unsigned long long>(o.points), static_cast<double>(o.large) / o.points);
            std::printf("\n");
            // The same file's floor: whether the machine itself keeps its
            // speed over five times the bytes.
            const double big_floor = io_floor(dir, stem, sizes, data);
            std::printf("its floor: %.3f s, ratio %.2f", big_floor, big.seconds / big_floor);
            if (reference_floor > 0)
                std::printf("; the floor took %.2f times the %llu-point floor", big_floor / reference_floor,
                            static_cast<unsigned long long>(o.points));
            std::printf("\n");
            settle(dir, stem);
        }
    } catch (const std::exception &e) {
        std::printf("benchmark stopped: %s\n", e.what());
        if (!dir.empty()) remove_tree(dir);
        return 1;
    }
    remove_tree(dir);
    return 0;
}
