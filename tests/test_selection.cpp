// Selection (--class, --returns, --extent, --thin) and --output, run on real
// and generated files. The expected outputs come from a model of their own:
// the full conversion's records that pass the selection, in order, renumbered,
// with the shape headers' bounds taken from the kept points.
#include "las_reader.h"
#include "las_writer.h"
#include "laz_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <geos_c.h>

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

using testutil::run_tessaline;
using testutil::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

struct Outputs {
    Bytes shp, shx, dbf;
};

Outputs outputs_of(const std::string &stem) {
    return {testutil::read_file(stem + ".shp"), testutil::read_file(stem + ".shx"), testutil::read_file(stem + ".dbf")};
}

double double_at(const Bytes &b, size_t at) {
    double d;
    std::memcpy(&d, b.data() + at, 8);
    return d;
}
void put_double(Bytes &b, size_t at, double d) { std::memcpy(b.data() + at, &d, 8); }
void put_be32(Bytes &b, size_t at, uint32_t v) {
    for (int k = 0; k < 4; ++k) b[at + k] = static_cast<uint8_t>(v >> (24 - 8 * k));
}
uint32_t le(const Bytes &b, size_t at, int size) {
    uint32_t v = 0;
    for (int k = size - 1; k >= 0; --k) v = v << 8 | b[at + k];
    return v;
}

// "" when equal, else where they first differ.
std::string difference(const Bytes &got, const Bytes &want) {
    const auto d = std::mismatch(got.begin(), got.end(), want.begin(), want.end());
    if (d.first == got.end() && d.second == want.end()) return "";
    return std::to_string(got.size()) + " bytes, " + std::to_string(want.size()) + " expected; first difference at " +
           std::to_string(d.first - got.begin());
}

// The headers' lengths, bounds (X, Y, Z from `lo` to `hi`) and record count
// of outputs that hold `kept` records.
void put_counts(Outputs &out, uint32_t kept, const double lo[3], const double hi[3]) {
    for (Bytes *b : {&out.shp, &out.shx}) {
        put_be32(*b, 24, static_cast<uint32_t>(b->size() / 2));
        for (int d = 0; d < 3; ++d) {
            put_double(*b, d < 2 ? 36 + 8 * d : 68, lo[d]);
            put_double(*b, d < 2 ? 52 + 8 * d : 76, hi[d]);
        }
    }
    for (int k = 0; k < 4; ++k) out.dbf[4 + k] = static_cast<uint8_t>(kept >> (8 * k));
}

// What the options of a run select, read from its arguments (well-formed ones).
struct Selection {
    bool by_class = false, by_return = false, by_extent = false;
    std::set<long> classes;
    std::vector<std::string> returns;
    double extent[4] = {0, 0, 0, 0};
    double thin = 0;
    bool clip = false;
    std::vector<std::string> columns;  // --columns' names: not a selection, the table's columns
    bool any() const { return by_class || by_return || by_extent || thin > 0 || clip; }
};

std::vector<std::string> items(const std::string &list) {
    std::vector<std::string> v;
    for (size_t at = 0;; at = list.find(',', at) + 1) {
        v.push_back(list.substr(at, list.find(',', at) - at));
        if (list.find(',', at) == std::string::npos) return v;
    }
}

Selection selection_of(const std::vector<std::string> &args) {
    Selection s;
    for (size_t k = 0; k < args.size(); ++k) {
        std::string name = args[k], value;
        if (name.rfind("--", 0) != 0 || name == "--") continue;
        if (name.find('=') != std::string::npos) {
            value = name.substr(name.find('=') + 1);
            name = name.substr(0, name.find('='));
        } else if (k + 1 < args.size()) {
            value = args[++k];
        }
        if (name == "--class") {
            s.by_class = true;
            for (const std::string &c : items(value)) s.classes.insert(std::stol(c));
        } else if (name == "--returns") {
            s.by_return = true;
            s.returns = items(value);
        } else if (name == "--extent") {
            s.by_extent = true;
            for (int i = 0; i < 4; ++i) s.extent[i] = std::strtod(items(value)[i].c_str(), nullptr);
        } else if (name == "--thin") {
            s.thin = std::strtod(value.c_str(), nullptr);
        } else if (name == "--clip") {
            s.clip = true;
        } else if (name == "--columns") {
            s.columns = items(value);
        }
    }
    return s;
}

// The outputs that the selection gives, from the full conversion's outputs
// and the input's LAS version and point format.
// `inside` tells whether a point lies in the area of --clip (none: no clip).
Outputs select(const Outputs &full, const Selection &s, int minor, int format,
               const std::function<bool(double, double)> &inside = nullptr) {
    const size_t n = (full.shp.size() - 100) / 36;
    const size_t header = le(full.dbf, 8, 2), row = le(full.dbf, 10, 2);
    std::vector<std::pair<std::string, size_t>> columns;  // name, where in the row
    for (size_t at = 32, pos = 1; full.dbf[at] != 0x0D; pos += full.dbf[at + 16], at += 32)
        columns.emplace_back(std::string(reinterpret_cast<const char *>(&full.dbf[at])).substr(0, 11), pos);
    const auto value = [&](size_t i, const std::string &name, size_t width) {
        for (const auto &c : columns)
            if (c.first == name)
                return std::stol(std::string(full.dbf.begin() + header + row * i + c.second,
                                             full.dbf.begin() + header + row * i + c.second + width));
        ADD_FAILURE() << "no column " << name;
        return -1L;
    };
    const size_t return_width = format >= 6 ? 2 : 1;
    std::set<std::pair<double, double>> squares;
    Outputs out{Bytes(full.shp.begin(), full.shp.begin() + 100), Bytes(full.shx.begin(), full.shx.begin() + 100),
                Bytes(full.dbf.begin(), full.dbf.begin() + header)};
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    uint32_t kept = 0;
    for (size_t i = 0; i < n; ++i) {
        const double x = double_at(full.shp, 100 + 36 * i + 12), y = double_at(full.shp, 100 + 36 * i + 20);
        const long cls = value(i, "Classifica", 3) & (minor >= 1 && format <= 5 ? 31 : 255);
        const long number = value(i, "ReturnNumb", return_width), of = value(i, "NumberRetu", return_width);
        bool pass_return = false;
        for (const std::string &r : s.returns)
            pass_return |= r == "first" ? number == 1 : r == "last" ? number == of : r == "single" ? of == 1
                                                                                                : std::stol(r) == number;
        if ((s.by_class && !s.classes.count(cls)) || (s.by_return && !pass_return) ||
            (s.by_extent && !(s.extent[0] <= x && x <= s.extent[2] && s.extent[1] <= y && y <= s.extent[3])) ||
            (inside && !inside(x, y)) || (s.thin > 0 && !squares.insert({std::floor(x / s.thin), std::floor(y / s.thin)}).second))
            continue;
        for (int d = 0; d < 3; ++d) {
            const double v = double_at(full.shp, 100 + 36 * i + 12 + 8 * d);
            lo[d] = kept == 0 ? v : std::min(lo[d], v);
            hi[d] = kept == 0 ? v : std::max(hi[d], v);
        }
        ++kept;
        out.shp.insert(out.shp.end(), full.shp.begin() + 100 + 36 * i, full.shp.begin() + 136 + 36 * i);
        put_be32(out.shp, out.shp.size() - 36, kept);
        out.shx.resize(out.shx.size() + 8);
        put_be32(out.shx, out.shx.size() - 8, 50 + 18 * (kept - 1));
        put_be32(out.shx, out.shx.size() - 4, 14);
        out.dbf.insert(out.dbf.end(), full.dbf.begin() + header + row * i, full.dbf.begin() + header + row * (i + 1));
    }
    put_counts(out, kept, lo, hi);
    out.dbf.insert(out.dbf.end(), full.dbf.begin() + header + row * n, full.dbf.end());
    return out;
}

// The table `dbf` with the columns `names` only, in their order, each found
// in any letter case: its header's descriptors and each row's fields, as
// they stand in `dbf`.
Bytes chosen_columns(const Bytes &dbf, const std::vector<std::string> &names) {
    const auto upper = [](std::string t) {
        for (char &c : t) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
        return t;
    };
    const size_t header = le(dbf, 8, 2), row = le(dbf, 10, 2), n = le(dbf, 4, 4);
    std::vector<size_t> descriptor, pos, width;
    for (const std::string &name : names) {
        size_t at = 32, p = 1;
        while (dbf[at] != 0x0D && upper(reinterpret_cast<const char *>(&dbf[at])) != upper(name)) p += dbf[at + 16], at += 32;
        EXPECT_NE(dbf[at], 0x0D) << "no column " << name;
        descriptor.push_back(at), pos.push_back(p), width.push_back(dbf[at + 16]);
    }
    Bytes out(dbf.begin(), dbf.begin() + 32);
    for (size_t at : descriptor) out.insert(out.end(), dbf.begin() + at, dbf.begin() + at + 32);
    out.push_back(0x0D);
    size_t length = 1;
    for (size_t w : width) length += w;
    out[8] = static_cast<uint8_t>(out.size()), out[9] = static_cast<uint8_t>(out.size() >> 8);
    out[10] = static_cast<uint8_t>(length), out[11] = static_cast<uint8_t>(length >> 8);
    for (size_t i = 0; i < n; ++i) {
        out.push_back(dbf[header + row * i]);
        for (size_t k = 0; k < pos.size(); ++k)
            out.insert(out.end(), dbf.begin() + header + row * i + pos[k], dbf.begin() + header + row * i + pos[k] + width[k]);
    }
    out.insert(out.end(), dbf.begin() + header + row * n, dbf.end());
    return out;
}

// The console of a run: that of the full run under the run's output name,
// with the count of kept points before the elapsed time.
std::string console_with(std::string full, const std::string &shp, const Selection &s, size_t kept, size_t count) {
    full = lasread::mask_elapsed(full);
    const std::string names = "Output Shapefile:  ";
    const size_t at = full.find(names) + names.size();
    full.replace(at, full.find('\n', at) - at, shp);
    if (s.any()) {
        const std::string line = "Kept " + std::to_string(kept) + " of " + std::to_string(count) + " points\n";
        full.insert(full.rfind("Elapsed time "), line);
    }
    return full;
}

// "@XLO,YLO,XHI,YHI" stands for an extent whose edges are points' own
// coordinates: the X and Y values at those fractions of the sorted values.
std::string extent_at(const std::string &token, const Bytes &shp) {
    std::vector<double> xs, ys;
    for (size_t at = 100; at < shp.size(); at += 36) {
        xs.push_back(double_at(shp, at + 12));
        ys.push_back(double_at(shp, at + 20));
    }
    std::sort(xs.begin(), xs.end());
    std::sort(ys.begin(), ys.end());
    const std::vector<std::string> f = items(token.substr(1));
    const auto at = [&](const std::vector<double> &v, int k) {
        return v[static_cast<size_t>(std::stod(f[k]) * static_cast<double>(v.size() - 1))];
    };
    char text[128];
    std::snprintf(text, sizeof text, "%.17g,%.17g,%.17g,%.17g", at(xs, 0), at(ys, 1), at(xs, 2), at(ys, 3));
    return text;
}

// A 40 by 40 grid of 0.25 spacing around the origin, walked three times less
// a bit; the classes run through every byte value, flag bits included, and
// the return bits through every pair.
lastest::Point grid_point(uint64_t i) {
    lastest::Point p = lastest::varied_point(i);
    p.x = static_cast<int32_t>(i % 40) * 25 - 500;
    p.y = static_cast<int32_t>(i / 40 % 40) * 25 - 500;
    p.classification = static_cast<uint8_t>(i * 37);
    p.bitfield = static_cast<uint8_t>(i * 7);
    return p;
}

std::vector<std::string> listing(const std::string &dir) {
    std::vector<std::string> names;
    DIR *d = ::opendir(dir.c_str());
    while (const dirent *e = d ? ::readdir(d) : nullptr) names.push_back(e->d_name);
    if (d) ::closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// The outputs of several inputs converted into one shapefile: the parts'
// records in order, numbered on, the headers' counts and bounds those of
// every point, the table's header that of the first part.
Outputs concatenate(const std::vector<Outputs> &parts) {
    const Outputs &first = parts.front();
    const size_t header = le(first.dbf, 8, 2), row = le(first.dbf, 10, 2);
    Outputs out{Bytes(first.shp.begin(), first.shp.begin() + 100), Bytes(first.shx.begin(), first.shx.begin() + 100),
                Bytes(first.dbf.begin(), first.dbf.begin() + header)};
    double lo[3] = {0, 0, 0}, hi[3] = {0, 0, 0};
    uint32_t kept = 0;
    for (const Outputs &part : parts) {
        for (size_t at = 100; at < part.shp.size(); at += 36, ++kept) {
            for (int d = 0; d < 3; ++d) {
                const double v = double_at(part.shp, at + 12 + 8 * d);
                lo[d] = kept == 0 ? v : std::min(lo[d], v);
                hi[d] = kept == 0 ? v : std::max(hi[d], v);
            }
            out.shp.insert(out.shp.end(), part.shp.begin() + at, part.shp.begin() + at + 36);
            put_be32(out.shp, out.shp.size() - 36, kept + 1);
            out.shx.resize(out.shx.size() + 8);
            put_be32(out.shx, out.shx.size() - 8, 50 + 18 * kept);
            put_be32(out.shx, out.shx.size() - 4, 14);
        }
        const size_t rows = (part.shp.size() - 100) / 36, part_header = le(part.dbf, 8, 2);
        out.dbf.insert(out.dbf.end(), part.dbf.begin() + part_header, part.dbf.begin() + part_header + row * rows);
    }
    put_counts(out, kept, lo, hi);
    const size_t first_rows = (first.shp.size() - 100) / 36;
    out.dbf.insert(out.dbf.end(), first.dbf.begin() + header + row * first_rows, first.dbf.end());
    return out;
}

void write_text(const std::string &path, const std::string &text) {
    testutil::write_file(path, Bytes(text.begin(), text.end()));
}

// The lines of a console that stay on the screen: those the progress does
// not overwrite, the elapsed time masked.
std::vector<std::string> lasting_lines(const std::string &console) {
    std::vector<std::string> lines;
    std::string line;
    for (const char c : lasread::mask_elapsed(console) + "\n") {
        if (c != '\n' && c != '\r') {
            line += c;
            continue;
        }
        if (line.find_first_not_of(' ') != std::string::npos && line.rfind("Processing ...", 0) != 0)
            lines.push_back(line);
        line.clear();
    }
    return lines;
}

}  // namespace

TEST(Selection, KeepsTheFullConversionsRecordsThatPass) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    TempDir made;
    lastest::LasOptions v14f1;
    v14f1.version_minor = 4;
    v14f1.point_format = 1;
    for (const auto &m : {std::make_pair("las10.las", lastest::options_for_type(1)),
                          std::make_pair("las11.las", lastest::options_for_type(3)), std::make_pair("v14f1.las", v14f1)})
        lastest::write_las(made / m.first, m.second, 3000, grid_point);
    lastest::LasOptions neg = lastest::options_for_type(8);  // coordinates falling as the raw values rise
    neg.scale[0] = -0.01;
    neg.scale[1] = -0.5;
    neg.offset[0] = 12.3;
    lastest::write_las(made / "neg.las", neg, 3000, grid_point);
    // Two blocks of points, the first reaching further west.
    lastest::write_las(made / "big.las", lastest::options_for_type(5), 1200000, [](uint64_t i) {
        lastest::Point p = grid_point(i);
        p.x -= i < 100000 ? 1000 : 0;
        return p;
    });

    using Args = std::vector<std::string>;
    const struct {
        std::string file;
        std::vector<Args> runs;
    } cases[] = {
        {made / "las10.las",  // the whole byte is the class: 5 is not 37
         {{"--class", "5"}, {"--class", "0,37,200"}, {"--returns", "0,7"}, {"--returns", "last", "--thin", "0.25"},
          {"--columns", "userbitfie,ReturnNumb,FileMarker"}}},
        {made / "las11.las",  // the low five bits are the class: 5 is also 37, 69, ...
         {{"--class", "5"}, {"--class=0,31"}, {"--returns", "single,first"}, {"--thin", "0.5"}, {"--thin", "1e3"},
          {"--extent", "@0,0,1,1"}, {"--extent", "-0.25,-1e3,0,1e3", "--thin", "0.5"}, {"--extent", "100,100,200,200"}}},
        {made / "v14f1.las", {{"--class", "5"}, {"--class", "2", "--returns", "last"}}},
        {made / "neg.las", {{"--extent", "@0.25,0.25,0.75,0.75"}, {"--extent", "@0,0,1,1", "--thin", "0.5"}}},
        {made / "big.las", {{"--class", "5"}, {"--class", "5", "--thin", "0.25"}, {"--columns", "Classifica,Intensity"}}},
        {data + "/no-points.las", {{"--class", "2"}}},
        {data + "/mvk-thin.las", {{"--class", "2,9"}, {"--thin", "50"}}},
        {data + "/autzen_trim.las",
         {{"--output", "out/o.shp"}, {"--class", "2", "--output", "out/o.shp"}, {"--returns", "last", "--class", "1"},
          {"--extent", "@0.25,0.25,0.75,0.75", "--thin", "1"}}},
        {data + "/simple.las", {{"--returns", "single"}, {"--extent", "@0,0,1,1"}}},
        {data + "/epsg_4326.las", {{"--thin", "0.001"}, {"--extent", "@0,0,1,1"}}},
        {data + "/vegetation-1.3.las", {{"--thin", "0.5"}}},
        {data + "/pdrf4-1.3.las", {{"--class", "0,31"}, {"--extent", "-1e3,-1e3,-1e2,-1e2"}}},
        {data + "/test1_4.las", {{"--returns", "2,3,4"}, {"--thin", "50"}}},
        {data + "/autzen_trim_7.las", {{"--class", "2", "--thin", "2"}}},
        {data + "/pdrf8-1.4.las",
         {{"--class", "37,200"}, {"--returns", "0,15"}, {"--returns", "last"},
          {"--columns", "Overlap,NIR,scanangle,NumberRetu,KeyPoint,GPSTime,ReturnNumb", "--class", "37,200"}}},
        {data + "/pdrf10-1.4.las", {{"--returns", "single", "--extent", "@0.25,0.25,0.75,0.75"}}},
        {data + "/extrabytes-1.4.las", {{"--class", "2", "--returns", "first"}, {"--columns=time,Classifica,Intensit_2"}}},
        {data + "/laz/autzen_trim.laz",
         {{"--class", "2", "--thin", "1"}, {"--extent", "@0.9,0.02,0.98,0.1"}, {"--columns", "EdgeOfFlig,ScanDirect"}}},
        {data + "/laz/pdrf7-v4-1.4.laz", {{"--class", "100,200"}, {"--returns", "last"}}},
        // COPC: an extent in one corner of the octree, off its diagonal.
        {data + "/laz/lone-star.copc.laz",
         {{"--extent", "@0.25,0.25,0.75,0.75", "--thin", "0.5"}, {"--extent", "@0.9,0.02,0.98,0.1"}}},
        {data + "/laz/autzen_clip_native.copc.laz", {{"--extent", "@0.5,0,1,0.5"}}},
    };
    for (const auto &c : cases) {
        const std::string name = "t" + c.file.substr(c.file.size() - 4);
        TempDir full_dir;
        ASSERT_EQ(::symlink(c.file.c_str(), (full_dir / name).c_str()), 0);
        const testutil::RunResult full_run = run_tessaline({name}, full_dir.path());
        ASSERT_EQ(full_run.status, 0) << c.file;
        const Outputs full = outputs_of(full_dir / "t");
        const bool prj = testutil::exists(full_dir / "t.prj");
        Bytes head(105);
        std::ifstream(c.file, std::ios::binary).read(reinterpret_cast<char *>(head.data()), 105);
        for (Args args : c.runs) {
            std::string trace = c.file;
            for (std::string &a : args) {
                if (a[0] == '@') a = extent_at(a, full.shp);
                trace += " " + a;
            }
            SCOPED_TRACE(trace);
            TempDir dir;
            ASSERT_EQ(::symlink(c.file.c_str(), (dir / name).c_str()), 0);
            ASSERT_EQ(::mkdir((dir / "out").c_str(), 0755), 0);
            const auto output = std::find(args.begin(), args.end(), "--output");
            const bool renamed = output != args.end();
            const std::string shp = renamed ? output[1] : "t.shp";
            const std::string stem = dir / shp.substr(0, shp.size() - 4);
            testutil::write_file(stem + ".cpg", {'x'});

            const Selection s = selection_of(args);
            Outputs want = s.any() ? select(full, s, head[25], head[104] & 0x3F) : full;
            if (!s.columns.empty()) want.dbf = chosen_columns(want.dbf, s.columns);
            args.push_back(name);
            const testutil::RunResult r = run_tessaline(args, dir.path());
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.err, "");
            EXPECT_EQ(lasread::mask_elapsed(r.out),
                      console_with(full_run.out, shp, s, (want.shp.size() - 100) / 36, (full.shp.size() - 100) / 36));
            const Outputs got = outputs_of(stem);
            EXPECT_EQ(difference(got.shp, want.shp), "") << ".shp";
            EXPECT_EQ(difference(got.shx, want.shx), "") << ".shx";
            EXPECT_EQ(difference(got.dbf, want.dbf), "") << ".dbf";
            ASSERT_EQ(testutil::exists(stem + ".prj"), prj);
            if (prj) {
                EXPECT_EQ(testutil::read_file(stem + ".prj"), testutil::read_file(full_dir / "t.prj"));
            }
            EXPECT_FALSE(testutil::exists(stem + ".cpg"));
            if (renamed) {
                EXPECT_EQ(listing(dir.path()), (std::vector<std::string>{".", "..", "out", name}));
            }
        }
    }
}

// Spellings of one selection: the value after "=" or as the next argument,
// options after the file name, "--" before a file name that looks like an
// option. Each gives what `--class 2,9 a.las` gives.
TEST(SelectionOptions, EverySpellingSelectsAlike) {
    TempDir dir;
    lastest::write_las(dir / "a.las", lastest::options_for_type(8), 3000, grid_point);
    ASSERT_EQ(::symlink("a.las", (dir / "--thin=1.las").c_str()), 0);
    const testutil::RunResult first = run_tessaline({"--class", "2,9", "a.las"}, dir.path());
    ASSERT_EQ(first.status, 0) << first.out;
    const Outputs want = outputs_of(dir / "a");
    ASSERT_GT(le(want.dbf, 4, 4), 0u);
    ASSERT_LT(le(want.dbf, 4, 4), 3000u);
    const struct {
        std::vector<std::string> args;
        std::string stem;
    } cases[] = {
        {{"--class=2,9", "a.las"}, "a"},
        {{"a.las", "--class", "2,9"}, "a"},
        {{"a.las", "--class=2,9"}, "a"},
        {{"--class", "2,9", "--", "--thin=1.las"}, "--thin=1"},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.args[0] + " " + c.args[1]);
        for (const char *ext : {".shp", ".shx", ".dbf"}) ::remove((dir / (c.stem + ext)).c_str());
        const testutil::RunResult r = run_tessaline(c.args, dir.path());
        EXPECT_EQ(r.status, 0);
        std::string out = lasread::mask_elapsed(first.out);
        if (c.stem != "a") {
            out.replace(out.find("a.las"), 5, "--thin=1.las");
            out.replace(out.find("a.shp"), 5, "--thin=1.shp");
        }
        EXPECT_EQ(lasread::mask_elapsed(r.out), out);
        const Outputs got = outputs_of(dir / c.stem);
        EXPECT_EQ(difference(got.shp, want.shp) + difference(got.shx, want.shx) + difference(got.dbf, want.dbf), "");
    }
}

// Arguments refused before the banner: a bad value names its option and what
// it takes; a run without a known option, or with a wrong number of other
// arguments, is answered with the usage as before. No file is created.
TEST(SelectionOptions, RefusedBeforeTheBannerWithTheirReason) {
    TempDir dir;
    lastest::write_las(dir / "a.las", lastest::options_for_type(8), 10, grid_point);
    lastest::LasOptions utm = lastest::options_for_type(8);
    utm.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}})};
    lastest::write_las(dir / "utm.las", utm, 10, grid_point);
    const std::string usage =
        "\nMissing or excessive number of arguments\nUsage:\nTessaline <LAS file>\n" + testutil::banner();
    const std::map<std::string, std::string> takes = {
        {"--class", "class numbers from 0 to 255 separated by commas"},
        {"--returns", "return numbers from 0 to 15, first, last or single, separated by commas"},
        {"--extent", "XMIN,YMIN,XMAX,YMAX, four numbers with each minimum at most its maximum"},
        {"--thin", "the size of a square, a finite number above 0"},
        {"--output", "a name ending in .shp in a folder that exists"},
        {"--clip", "a polygon file (.shp, .gpkg, .geojson, .json) or a WKT POLYGON or MULTIPOLYGON"},
        {"--clip-layer", "the name of a layer of --clip's GeoPackage"},
        {"--clip-crs", "the clip area's coordinate system: an EPSG code (EPSG:4326), a WKT or PROJ text"},
        {"--columns", "the names of columns of the table separated by commas"},
        {"--crs", "the outputs' coordinate system: an EPSG code (EPSG:4326), a WKT or PROJ text or a .prj file"},
        {"--max-size", "a number of bytes from 1M to 4G, with an optional k, M or G (10^3, 10^6, 10^9)"}};
    // option "": the usage; "!": the line `value`; `again`: given twice, as `value` and as `again`.
    const struct {
        std::vector<std::string> args;
        std::string option, value = "", again = "";
    } cases[] = {
        {{"--frobnicate", "a.las"}, "!", "Several inputs go into one shapefile: --output NAME.shp names it"},
        {{"--class", "2", "a.las", "b.las"}, "!", "Several inputs go into one shapefile: --output NAME.shp names it"},
        {{"--clip=", "a.las"}, "--clip", ""},
        {{"--clip-layer", "", "--clip", "x.gpkg", "a.las"}, "--clip-layer", ""},
        {{"--clip-crs=", "a.las"}, "--clip-crs", ""},
        {{"--clip-layer", "lakes", "a.las"}, "!", "--clip-layer is given without --clip"},
        {{"--clip-crs", "EPSG:4326", "a.las"}, "!", "--clip-crs is given without --clip"},
        {{"--clip", "a.las", "--clip", "b.gpkg", "a.las"}, "--clip", "a.las", "b.gpkg"},
        // A clip area that cannot be used, whatever the inputs.
        {{"--clip", "area.txt", "a.las"}, "!", "Cannot clip by area.txt: it is none of a shapefile (.shp), a GeoPackage "
                                               "(.gpkg), GeoJSON (.geojson, .json) or a WKT POLYGON or MULTIPOLYGON"},
        {{"--clip", "nofile.gpkg", "a.las"}, "!", "Cannot clip by nofile.gpkg: it cannot be read"},
        {{"--clip", "points.geojson", "a.las"}, "!", "Cannot clip by points.geojson: it holds points, no polygon"},
        {{"--clip", "POLYGON ((0 0, 1 1, 1 0, 0 1, 0 0))", "nofile.las"}, "!",
         "Cannot clip by the WKT text: polygon 1 is not valid: Self-intersection[0.5 0.5]"},
        {{"--clip", "POLYGON EMPTY", "a.las"}, "!", "Cannot clip by the WKT text: polygon 1 is empty"},
        {{"--clip", "POLYGON ((0 0, 1 0, 1 1, 0 0))", "--clip-crs", "EPSG:99999", "a.las"}, "!",
         "Cannot clip by the WKT text: --clip-crs \"EPSG:99999\" is no coordinate system PROJ knows"},
        {{"--crs=", "a.las"}, "--crs", ""},
        {{"--crs", "EPSG:99999", "nofile.las"}, "!", "--crs \"EPSG:99999\" is no coordinate system PROJ knows"},
        {{"--crs", "none.prj", "a.las"}, "!", "Cannot open none.prj for reading"},
        {{"--crs", "EPSG:4326", "a.las"}, "!", "a.las states no coordinate system: --crs needs one to start from"},
        {{"--crs", "IAU_2015:49900", "utm.las"}, "!",
         "PROJ has no operation from the coordinate system of utm.las (WGS_1984_UTM_Zone_33N) into Mars (2015) - "
         "Sphere / Ocentric"},
        {{"--class", "2"}, ""},
        {{"--class", "2,x", "a.las"}, "--class", "2,x"},
        {{"--class", "256", "a.las"}, "--class", "256"},
        {{"--class=", "a.las"}, "--class", ""},
        {{"--class", "2,,9", "a.las"}, "--class", "2,,9"},
        {{"--class", "+2", "a.las"}, "--class", "+2"},
        {{"--returns", "16", "a.las"}, "--returns", "16"},
        {{"--returns", "First", "a.las"}, "--returns", "First"},
        {{"--returns", "last,", "a.las"}, "--returns", "last,"},
        {{"--extent", "0,0,1", "a.las"}, "--extent", "0,0,1"},
        {{"--extent", "0,0,1,1,1", "a.las"}, "--extent", "0,0,1,1,1"},
        {{"--extent", "1,0,0,1", "a.las"}, "--extent", "1,0,0,1"},
        {{"--extent", "0,1,1,0.5", "a.las"}, "--extent", "0,1,1,0.5"},
        {{"--extent", "0,0,nan,1", "a.las"}, "--extent", "0,0,nan,1"},
        {{"--extent", "-inf,0,1,1", "a.las"}, "--extent", "-inf,0,1,1"},
        {{"--extent", "0,1x,1,2", "a.las"}, "--extent", "0,1x,1,2"},
        {{"--thin", "0", "a.las"}, "--thin", "0"},
        {{"--thin", "-1", "a.las"}, "--thin", "-1"},
        {{"--thin", "inf", "a.las"}, "--thin", "inf"},
        {{"--thin", "nan", "a.las"}, "--thin", "nan"},
        {{"--thin", "1x", "a.las"}, "--thin", "1x"},
        {{"a.las", "--thin"}, "--thin", ""},
        {{"--output", "o.shx", "a.las"}, "--output", "o.shx"},
        {{"--output", "o.SHP", "a.las"}, "--output", "o.SHP"},
        {{"--output", "nofolder/o.shp", "a.las"}, "--output", "nofolder/o.shp"},
        {{"--max-size", "999999", "a.las"}, "--max-size", "999999"},
        {{"--max-size", "999k", "a.las"}, "--max-size", "999k"},
        {{"--max-size", "4000000001", "a.las"}, "--max-size", "4000000001"},
        {{"--max-size", "5G", "a.las"}, "--max-size", "5G"},
        {{"--max-size", "1.5M", "a.las"}, "--max-size", "1.5M"},
        {{"--max-size", "2m", "a.las"}, "--max-size", "2m"},
        {{"--max-size", "2MB", "a.las"}, "--max-size", "2MB"},
        {{"--max-size", "-2M", "a.las"}, "--max-size", "-2M"},
        {{"--max-size=", "a.las"}, "--max-size", ""},
        {{"--max-size", "2M", "--max-size", "4G", "a.las"}, "--max-size", "2M", "4G"},
        {{"--class", "2", "--class=3", "a.las"}, "--class", "2", "3"},
        {{"--returns", "first", "a.las", "--returns", "first"}, "--returns", "first", "first"},
        {{"--extent=0,0,1,1", "--extent", "0,0,2,2", "a.las"}, "--extent", "0,0,1,1", "0,0,2,2"},
        {{"--thin", "1", "--thin", "2", "a.las"}, "--thin", "1", "2"},
        {{"--output", "o.shp", "--output", "p.shp", "a.las"}, "--output", "o.shp", "p.shp"},
        // The first fault in argument order; values before the argument count
        // and before the input is opened.
        {{"--thin", "0", "--class", "x", "a.las"}, "--thin", "0"},
        {{"--class", "x", "--thin", "0", "a.las"}, "--class", "x"},
        {{"--class", "x", "a.las", "b.las"}, "--class", "x"},
        {{"--returns", "16", "nofile.las"}, "--returns", "16"},
        {{"--columns", "", "a.las"}, "--columns", ""},
        {{"--columns", "a,,b", "a.las"}, "--columns", "a,,b"},
        {{"--columns", "Intensity,", "nofile.las"}, "--columns", "Intensity,"},
        {{"--columns", "x", "--columns", "y", "a.las"}, "--columns", "x", "y"},
        // The table's names, once the input's header is read.
        {{"--columns", "Intensity,Classification", "a.las"}, "!",
         "--columns: the table of a.las has no column \"Classification\"; its columns are Intensity, ReturnNumb, "
         "NumberRetu, ScanDirect, EdgeOfFlig, Classifica, ScanAngleR, UserData, PointSourc, GPSTime, Red, Green, Blue"},
        {{"--columns", "GPSTime,Red,gpstime", "a.las"}, "!",
         "--columns names the column GPSTime twice, as \"GPSTime\" and as \"gpstime\""},
        {{"--columns", "Foo", "nofile.las"}, "!", "Cannot open binary file nofile.las for reading\n"},
    };
    write_text(dir / "area.txt", "x");
    write_text(dir / "points.geojson", "{\"type\":\"Point\",\"coordinates\":[1,2]}");
    const std::vector<std::string> before = listing(dir.path());
    for (const auto &c : cases) {
        std::string trace;
        for (const std::string &a : c.args) trace += a + " ";
        SCOPED_TRACE(trace);
        const testutil::RunResult r = run_tessaline(c.args, dir.path());
        const std::string want =
            c.option.empty()    ? usage
            : c.option == "!"   ? "\n" + c.value + "\n"
            : c.again.empty()   ? "\n" + c.option + " takes " + takes.at(c.option) + ", not \"" + c.value + "\"\n"
                              : "\n" + c.option + " is given twice, as \"" + c.value + "\" and as \"" + c.again + "\"\n";
        EXPECT_EQ(r.out, want);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.err, "");
        EXPECT_EQ(listing(dir.path()), before);
    }
}

// --max-size: the outputs in parts NAME_1, NAME_2, ..., each a shapefile
// of its own whose .shp and .dbf stay within the size, each as full as that
// allows but the last. Their records, concatenated and numbered on, are the
// whole conversion's with the same options, on one thread and on two, from
// LAS and LAZ, with a selection across a part's edge and with several inputs.
TEST(MaxSize, PartsHoldTheWholeConversionsRecordsInOrder) {
    TempDir dir;
    lastest::write_las(dir / "a.las", lastest::options_for_type(8), 60000, grid_point);
    lastest::write_las(dir / "b.las", lastest::options_for_type(8), 25000, [](uint64_t i) {
        lastest::Point p = grid_point(i);
        p.x += 5000;
        return p;
    });
    laztest::compress_las_file(dir / "a.las", dir / "c.laz");
    lastest::write_las(dir / "d.las", lastest::options_for_type(1), 1000, grid_point);
    lastest::LasOptions utm33 = lastest::options_for_type(8);
    utm33.offset[0] = 500000, utm33.offset[1] = 5000000;
    utm33.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}})};
    lastest::write_las(dir / "g.las", utm33, 60000, grid_point);
    testutil::write_file(dir / "p_9.shp", {'o', 'l', 'd'});  // an earlier run's part: not this run's output
    using Args = std::vector<std::string>;
    const struct {
        Args args;  // before --max-size SIZE --output p.shp, or --output whole.shp
        const char *threads;
        std::string size = "1M";
    } cases[] = {
        {{"a.las"}, "1"},
        {{"a.las"}, "2"},
        {{"c.laz"}, "2"},
        {{"--class", "2,5", "a.las"}, "1"},
        {{"--extent", "-1e9,-1e9,1e9,1e9", "a.las", "b.las"}, "2"},
        {{"a.las", "b.las"}, "1", "2M"},
        {{"d.las"}, "2"},                  // one part
        {{"--class", "200", "a.las"}, "1"},  // no point kept: one empty part
        {{"--columns", "Intensity,classifica", "a.las"}, "2"},  // parts sized by the chosen table's rows
        {{"--crs", "EPSG:32634", "g.las"}, "2"},                // each part its own bounds and .prj
    };
    for (const auto &c : cases) {
        std::string trace = std::string("threads ") + c.threads + ", --max-size " + c.size + ":";
        for (const std::string &a : c.args) trace += " " + a;
        SCOPED_TRACE(trace);
        for (const std::string &old : listing(dir.path()))
            if ((old.rfind("p_", 0) == 0 && old != "p_9.shp") || old == "whole.prj") std::remove((dir / old).c_str());
        const auto convert = [&](Args extra) {
            Args args = {"TESSALINE_THREADS=" + std::string(c.threads), testutil::tessaline_exe()};
            args.insert(args.end(), c.args.begin(), c.args.end());
            args.insert(args.end(), extra.begin(), extra.end());
            return testutil::run("/usr/bin/env", args, dir.path());
        };
        const testutil::RunResult whole = convert({"--output", "whole.shp"});
        const testutil::RunResult parted = convert({"--max-size", c.size, "--output", "p.shp"});
        ASSERT_EQ(whole.status, 0) << whole.out;
        ASSERT_EQ(parted.status, 0) << parted.out;
        const Outputs all = outputs_of(dir / "whole");
        const uint64_t size = c.size == "1M" ? 1000000 : 2000000, header = le(all.dbf, 8, 2), row = le(all.dbf, 10, 2);
        const uint64_t most = std::min((size - 100) / 36, (size - header) / row);
        std::vector<Outputs> parts;
        std::vector<std::string> part_lines;
        while (testutil::exists(dir / ("p_" + std::to_string(parts.size() + 1) + ".shp"))) {
            const std::string name = "p_" + std::to_string(parts.size() + 1);
            parts.push_back(outputs_of(dir / name));
            part_lines.push_back("Part " + std::to_string(parts.size()) + ": " + name + ".shp");
            const Outputs &part = parts.back();
            EXPECT_LE(part.shp.size(), size) << name;
            EXPECT_LE(part.dbf.size(), size) << name;
            // Its headers are its own, its records numbered from 1.
            const Outputs own = concatenate({part});
            EXPECT_TRUE(own.shp == part.shp && own.shx == part.shx && own.dbf == part.dbf) << name;
        }
        if (parts.size() == 9) parts.pop_back();  // the earlier run's p_9.shp, not a part of this one
        ASSERT_FALSE(parts.empty());
        // Each part's coordinate system is the whole run's.
        const bool prj = testutil::exists(dir / "whole.prj");
        for (size_t k = 1; k <= parts.size(); ++k) {
            const std::string part_prj = dir / ("p_" + std::to_string(k) + ".prj");
            ASSERT_EQ(testutil::exists(part_prj), prj) << k;
            if (prj) {
                EXPECT_EQ(testutil::read_file(part_prj), testutil::read_file(dir / "whole.prj")) << k;
            }
        }
        const uint64_t points = (all.shp.size() - 100) / 36;
        EXPECT_EQ(parts.size(), std::max<uint64_t>(1, (points + most - 1) / most));
        for (size_t k = 0; k + 1 < parts.size(); ++k) EXPECT_EQ(parts[k].shp.size(), 100 + 36 * most) << k + 1;
        const Outputs joined = concatenate(parts), want = concatenate({all});
        EXPECT_EQ(difference(joined.shp, want.shp), "");
        EXPECT_EQ(difference(joined.shx, want.shx), "");
        EXPECT_EQ(difference(joined.dbf, want.dbf), "");
        EXPECT_EQ(testutil::read_text(dir / "p_9.shp"), "old");

        // The console: the whole run's, with the first part named, a line as
        // each part begins and the parts written at the end.
        std::vector<std::string> lines = lasting_lines(parted.out), others, want_lines = lasting_lines(whole.out);
        std::vector<std::string> got_parts;
        for (const std::string &l : lines) (l.rfind("Part ", 0) == 0 ? got_parts : others).push_back(l);
        EXPECT_EQ(got_parts, part_lines);
        for (std::string &l : want_lines)
            if (l == "Output Shapefile:  whole.shp") l = "Output Shapefile:  p_1.shp";
        want_lines.insert(want_lines.end() - 1, "Parts written: p_1.shp" +
                                                    (parts.size() > 1 ? " to " + part_lines.back().substr(8) : ""));
        EXPECT_EQ(others, want_lines);
    }
}

// Several inputs into one shapefile: files of one table (LAS 1.2, LAS 1.4,
// LAZ), a folder, a list, a virtual point cloud, with and without a
// selection, on one thread and on two. Each gives the concatenation of the
// inputs' own conversions with the same options; inputs away from the area
// are named as not read.
TEST(SeveralInputs, GiveTheirOwnConversionsOneAfterAnother) {
    TempDir dir;
    ASSERT_EQ(::mkdir((dir / "tiles").c_str(), 0755), 0);
    ASSERT_EQ(::mkdir((dir / "folder").c_str(), 0755), 0);
    const auto shifted = [](int dx) {
        return [dx](uint64_t i) {
            lastest::Point p = grid_point(i);
            p.x += dx;
            return p;
        };
    };
    lastest::LasOptions v14 = lastest::options_for_type(8);
    v14.version_minor = 4;
    lastest::write_las(dir / "tiles/a.las", lastest::options_for_type(8), 3000, shifted(0));
    lastest::write_las(dir / "tiles/b.las", v14, 2500, shifted(2000));
    laztest::write_laz(dir / "tiles/c.laz", lastest::options_for_type(8), 70000, shifted(4000), 20000);
    laztest::write_laz(dir / "tiles/d.laz", lastest::options_for_type(8), 50000, shifted(6000), 10000);
    // A folder: an upper-case name, and a .laz beside the .las of its name left out.
    for (const std::string n : {"a.las", "b.las"})
        ASSERT_EQ(::link((dir / ("tiles/" + n)).c_str(), (dir / ("folder/" + n)).c_str()), 0);
    ASSERT_EQ(::rename((dir / "folder/b.las").c_str(), (dir / "folder/B.LAS").c_str()), 0);
    ASSERT_EQ(::link((dir / "tiles/c.laz").c_str(), (dir / "folder/B.laz").c_str()), 0);
    write_text(dir / "list.txt", "# two tiles\n\ntiles/c.laz\r\n  tiles/a.las\n");
    const std::string bbox_a = "[-5.1,-5.1,0,4.9,4.9,10]", bbox_far = "[1000,1000,0,1001,1001,10]";
    write_text(dir / "tiles/survey.vpc",
                         "{\"type\":\"FeatureCollection\",\"features\":["
                         "{\"type\":\"Feature\",\"stac_version\":\"1.0.0\",\"properties\":{\"proj:bbox\":" + bbox_a +
                             "},\"assets\":{\"data\":{\"href\":\"./a.las\",\"roles\":[\"data\"]}}},"
                         "{\"type\":\"Feature\",\"properties\":{\"proj:bbox\":" + bbox_far +
                             "},\"assets\":{\"data\":{\"href\":\"./b.las\",\"roles\":[\"data\"]}}},"
                         "{\"type\":\"Feature\",\"properties\":{},\"assets\":{\"data\":{\"href\":\"c.laz\"}}}]}");

    using Args = std::vector<std::string>;
    const char *const tiles[] = {"tiles/a.las", "tiles/b.las", "tiles/c.laz", "tiles/d.laz"};
    const struct {
        Args inputs, options;
        std::vector<int> parts;  // the tiles whose points the output holds, in order
        std::vector<bool> read;  // per part: false when the area does not meet it
    } cases[] = {
        {{"tiles/a.las", "tiles/b.las", "tiles/c.laz"}, {}, {0, 1, 2}, {}},
        {{"tiles/a.las", "tiles/b.las", "tiles/c.laz"}, {"--class", "2,5", "--thin", "0.5"}, {0, 1, 2}, {}},
        {{"folder"}, {"--returns", "first"}, {1, 0}, {}},  // byte order: B.LAS before a.las
        {{"@list.txt"}, {}, {2, 0}, {}},
        {{"tiles/c.laz", "tiles/d.laz"}, {}, {2, 3}, {}},  // the second decoded while the first is written
        {{"tiles/d.laz", "tiles/c.laz", "tiles/a.las"}, {"--thin", "1"}, {3, 2, 0}, {}},
        {{"tiles/survey.vpc"}, {"--extent", "-2,-2,2,2"}, {0, 1, 2}, {true, false, false}},
        {{"tiles/b.las", "tiles/a.las"}, {"--extent", "-2,-2,2,2", "--class", "5"}, {1, 0}, {false, true}},
        // A study area across three tiles of a folder, away from the fourth.
        {{"tiles"}, {"--clip", "POLYGON ((2 -3, 42 -3, 41 3, 2.5 3, 2 -3))"}, {0, 1, 2, 3}, {true, true, true, false}},
    };
    for (const auto &c : cases) {
        const Selection s = selection_of(c.options);
        std::vector<Outputs> parts;
        std::vector<std::string> lines;
        uint64_t kept = 0, points = 0, read = 0;
        for (size_t k = 0; k < c.parts.size(); ++k) {
            const std::string tile = tiles[c.parts[k]];
            const bool met = c.read.empty() || c.read[k];
            TempDir one;
            ASSERT_EQ(::symlink((dir / tile).c_str(), (one / ("t" + tile.substr(tile.size() - 4))).c_str()), 0);
            Args args = c.options;
            args.push_back("t" + tile.substr(tile.size() - 4));
            const testutil::RunResult r = run_tessaline(args, one.path());
            ASSERT_EQ(r.status, 0) << r.out;
            const Outputs own = outputs_of(one / "t");
            const uint64_t n = (own.shp.size() - 100) / 36, of = le(testutil::read_file(dir / tile), 107, 4);
            std::string named = tile;
            if (c.inputs[0] == "folder") named = k == 0 ? "folder/B.LAS" : "folder/a.las";
            if (c.inputs[0] == "tiles/survey.vpc") named = k < 2 ? "tiles/" + tile.substr(6) : "tiles/c.laz";
            if (!met) {
                EXPECT_EQ(n, 0u) << tile;
                lines.push_back(named + ": away from the area, not read");
                continue;
            }
            parts.push_back(own);
            kept += n, points += of, ++read;
            lines.push_back(named + ": " + (s.any() ? std::to_string(n) + " of " + std::to_string(of) : std::to_string(n)) +
                            " points");
        }
        const Outputs want = concatenate(parts);
        lines.push_back("Kept " + std::to_string(kept) + " of " + std::to_string(points) + " points from " +
                        std::to_string(read) + " of " + std::to_string(c.parts.size()) + " files");
        lines.push_back("Elapsed time # seconds");
        for (const char *threads : {"TESSALINE_THREADS=1", "TESSALINE_THREADS=2"}) {
            Args args = c.inputs;
            args.insert(args.end(), c.options.begin(), c.options.end());
            args.insert(args.end(), {"--output", "out/m.shp"});
            std::string trace = threads;
            for (const std::string &a : args) trace += " " + a;
            SCOPED_TRACE(trace);
            ::mkdir((dir / "out").c_str(), 0755);
            const testutil::RunResult r = testutil::run(testutil::tessaline_exe(), args, dir.path(), false, {threads});
            EXPECT_EQ(r.status, 0);
            std::vector<std::string> want_lines = lasting_lines(testutil::banner());
            want_lines.push_back("Input LAS files:   " + std::to_string(c.parts.size()) +
                                 ", each named below as it is converted");
            want_lines.push_back("Output Shapefile:  out/m.shp");
            want_lines.insert(want_lines.end(), lines.begin(), lines.end());
            EXPECT_EQ(lasting_lines(r.out), want_lines);
            const Outputs got = outputs_of(dir / "out/m");
            EXPECT_EQ(difference(got.shp, want.shp), "") << ".shp";
            EXPECT_EQ(difference(got.shx, want.shx), "") << ".shx";
            EXPECT_EQ(difference(got.dbf, want.dbf), "") << ".dbf";
        }
    }
}

// Several inputs refused before any output exists, the first input that
// differs named with what differs; nothing is created.
TEST(SeveralInputs, RefusedBeforeAnyOutputExists) {
    TempDir dir;
    const lastest::Vlr utm30 = lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 25830}});
    const lastest::Vlr wgs30 = lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32630}});
    lastest::LasOptions a = lastest::options_for_type(8), f1 = lastest::options_for_type(6);
    lastest::LasOptions in30 = a, other30 = a;
    in30.vlrs = {utm30};
    other30.vlrs = {wgs30};
    lastest::write_las(dir / "a.las", a, 10, grid_point);
    lastest::write_las(dir / "f1.las", f1, 10, grid_point);
    lastest::write_las(dir / "utm.las", in30, 10, grid_point);
    lastest::write_las(dir / "wgs.las", other30, 10, grid_point);
    ASSERT_EQ(::symlink("a.las", (dir / "soft.las").c_str()), 0);
    ASSERT_EQ(::link((dir / "a.las").c_str(), (dir / "hard.las").c_str()), 0);
    ASSERT_EQ(::symlink("a.las", (dir / "o.shp").c_str()), 0);
    ASSERT_EQ(::mkdir((dir / "empty").c_str(), 0755), 0);
    write_text(dir / "empty.txt", "# nothing\n\n");
    write_text(dir / "bad.vpc", "{\"type\":\"FeatureCollection\",\"features\":[{\"assets\":{}}]}");
    write_text(dir / "nojson.vpc", "{\"type\":");
    const struct {
        std::vector<std::string> args;
        std::string out;
    } cases[] = {
        {{"a.las", "f1.las"}, "\nf1.las has another table than a.las: it has 10 columns, not 13 (it has no Red)\n"},
        {{"utm.las", "wgs.las"}, "\nwgs.las is in another coordinate system than utm.las: WGS_1984_UTM_Zone_30N, not "
                                 "ETRS_1989_UTM_Zone_30N\n"},
        {{"a.las", "utm.las"}, "\na.las states no coordinate system, and utm.las states one (ETRS_1989_UTM_Zone_30N)\n"},
        {{"a.las", "nofile.las"}, "\nCannot open binary file nofile.las for reading\n\n"},
        {{"a.las", "a.las"}, "\na.las and a.las are the same file\n"},
        {{"a.las", "soft.las"}, "\nsoft.las and a.las are the same file\n"},
        {{"hard.las", "f1.las", "a.las"}, "\nf1.las has another table than hard.las: it has 10 columns, not 13 (it has no Red)\n"},
        {{"hard.las", "a.las"}, "\na.las and hard.las are the same file\n"},
        {{"@empty.txt"}, "\nempty.txt names no input\n"},
        {{"@nolist.txt"}, "\nCannot read the list nolist.txt\n"},
        {{"empty"}, "\nempty holds no .las or .laz file\n"},
        {{"bad.vpc"}, "\nCannot read the virtual point cloud bad.vpc: its tile 1 has no data asset's href\n"},
        {{"a.las", "nojson.vpc"}, "\nCannot read the virtual point cloud nojson.vpc: unexpected end of text\n"},
        {{"utm.las", "--clip", "POLYGON ((0 95, 1 95, 1 96, 0 95))", "--clip-crs", "EPSG:4326"},
         "\nCannot clip by the WKT text: its vertices cannot be moved into the survey's coordinate system\n"},
    };
    for (const auto &c : cases) {
        std::vector<std::string> args = c.args;
        args.insert(args.end(), {"--output", "m.shp"});
        SCOPED_TRACE(args[0] + " " + args[1]);
        const std::vector<std::string> before = listing(dir.path());
        const testutil::RunResult r = run_tessaline(args, dir.path());
        EXPECT_EQ(r.out, c.out);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(listing(dir.path()), before);
    }
    // An output name that leads to an input, once the inputs are read, as for one input.
    lastest::write_las(dir / "b.las", a, 10, grid_point);
    const std::vector<std::string> before = listing(dir.path());
    const testutil::RunResult r = run_tessaline({"b.las", "a.las", "--output", "o.shp"}, dir.path());
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out.substr(r.out.rfind("Processing ...")), "Processing ...\no.shp and a.las are the same file\n");
    EXPECT_EQ(listing(dir.path()), before);
}

namespace {

// GEOS's own judgement of whether a polygon covers a point.
class GeosArea {
public:
    explicit GeosArea(const std::string &wkt) {
        ctx_ = GEOS_init_r();
        GEOSWKTReader *reader = GEOSWKTReader_create_r(ctx_);
        area_ = GEOSWKTReader_read_r(ctx_, reader, wkt.c_str());
        GEOSWKTReader_destroy_r(ctx_, reader);
        prepared_ = area_ != nullptr ? GEOSPrepare_r(ctx_, area_) : nullptr;
    }
    ~GeosArea() {
        if (prepared_ != nullptr) GEOSPreparedGeom_destroy_r(ctx_, prepared_);
        if (area_ != nullptr) GEOSGeom_destroy_r(ctx_, area_);
        GEOS_finish_r(ctx_);
    }
    GeosArea(const GeosArea &) = delete;
    GeosArea &operator=(const GeosArea &) = delete;
    bool covers(double x, double y) const {
        GEOSGeometry *p = GEOSGeom_createPointFromXY_r(ctx_, x, y);
        const bool in = GEOSPreparedCovers_r(ctx_, prepared_, p) == 1;
        GEOSGeom_destroy_r(ctx_, p);
        return in;
    }

private:
    GEOSContextHandle_t ctx_;
    GEOSGeometry *area_ = nullptr;
    const GEOSPreparedGeometry *prepared_ = nullptr;
};

// Writes the polygons `wkt` (in `srs`) into `file` with GDAL's ogr2ogr,
// moved into `to` when given; false where ogr2ogr is missing or fails.
bool write_area(const TempDir &dir, const std::string &file, const std::string &wkt, const std::string &srs,
                const std::string &to = "") {
    write_text(dir / "area.csv", "id,WKT\n1,\"" + wkt + "\"\n");
    std::vector<std::string> args = {"-q", file, "area.csv", "-a_srs", srs};
    if (!to.empty()) args = {"-q", "-lco", "COORDINATE_PRECISION=15", file, "area.csv", "-s_srs", srs, "-t_srs", to};
    return testutil::run("/usr/bin/ogr2ogr", args, dir.path()).status == 0 && testutil::exists(dir / file);
}

}  // namespace

// --clip by polygons written by ogr2ogr (.shp, .gpkg, .geojson) and by WKT
// texts: the points kept are exactly those that GEOS says the polygons cover
// (edges, vertices and holes' edges included, holes' insides not), with the
// other options as they select; GeoJSON in longitude and latitude against a
// projected survey.
TEST(Clip, KeepsWhatGeosCovers) {
    if (!testutil::exists("/usr/bin/ogr2ogr")) GTEST_SKIP() << "GDAL's ogr2ogr is missing";
    TempDir made;
    lastest::write_las(made / "plain.las", lastest::options_for_type(8), 3000, grid_point);
    lastest::LasOptions utm = lastest::options_for_type(8);
    utm.offset[0] = 500000, utm.offset[1] = 4500000;
    utm.vlrs = {lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 25830}})};
    lastest::write_las(made / "utm.las", utm, 3000, grid_point);
    const std::string holed = "POLYGON ((-3 -3, 3 -3, 3 3, -3 3, -3 -3), (-1 -1, -1 1, 1 1, 1 -1, -1 -1))";
    const std::string multi = "MULTIPOLYGON (((-5 -5, -4 -5, -4.5 -4, -5 -5)), ((2 2, 4.5 2, 4.5 4.5, 2 4.5, 2 2)))";
    const std::string utm_box = "POLYGON ((499996.87 4499997.13, 500003.13 4499997.13, 500003.13 4500002.87, "
                                "499996.87 4500002.87, 499996.87 4499997.13))";
    const auto no_crs = [](const std::string &area) {
        return "Note: the survey states no coordinate system: the coordinates of " + area + " are taken as they stand\n";
    };
    const struct {
        std::string las, wkt, file;  // file "": the WKT text itself
        std::string srs, to;         // what ogr2ogr writes it in
        std::vector<std::string> options;
        std::string note;
    } cases[] = {
        {"plain.las", holed, "", "", "", {}, ""},
        {"plain.las", holed, "a.shp", "EPSG:25830", "", {"--class", "2,3,4"}, no_crs("a.shp")},
        {"plain.las", multi, "a.gpkg", "EPSG:25830", "", {"--thin", "0.5"}, no_crs("a.gpkg")},
        {"plain.las", multi, "", "", "", {"--clip-crs", "EPSG:25830", "--extent", "-5,-5,3,3"}, no_crs("the WKT text")},
        {"utm.las", utm_box, "a.geojson", "EPSG:25830", "EPSG:4326", {}, ""},
        {"utm.las", utm_box, "a.gpkg", "EPSG:25830", "", {"--returns", "first"}, ""},
        // A COPC file decodes only the cells that meet the area, and keeps the same points.
        {"lone-star.copc.laz", "POLYGON ((515371.85 4918344.44, 515378.33 4918344.44, 515371.85 4918352.59, 515371.85 "
                               "4918344.44))", "", "", "", {"--thin", "0.05"}, ""},
    };
    const std::string data = testutil::shared_testdata();
    for (const auto &c : cases) {
        SCOPED_TRACE(c.las + " " + (c.file.empty() ? c.wkt : c.file));
        const bool shared = c.las.find(".copc.") != std::string::npos;
        if (shared && data.empty()) continue;
        const std::string name = shared ? "t.laz" : "t.las";
        TempDir dir;
        ASSERT_EQ(::symlink(shared ? (data + "/laz/" + c.las).c_str() : (made / c.las).c_str(),
                            (dir / name).c_str()), 0);
        const testutil::RunResult full_run = run_tessaline({name}, dir.path());
        ASSERT_EQ(full_run.status, 0);
        const Outputs full = outputs_of(dir / "t");
        const bool prj = testutil::exists(dir / "t.prj");
        if (!c.file.empty()) {
            ASSERT_TRUE(write_area(dir, c.file, c.wkt, c.srs, c.to)) << c.file;
        }
        std::vector<std::string> args = c.options;
        args.insert(args.end(), {"--clip", c.file.empty() ? c.wkt : c.file, "--output", "c.shp", name});
        const GeosArea area(c.wkt);
        Selection s = selection_of(args);
        const int minor = shared ? 4 : 2, format = shared ? 6 : 3;
        const Outputs want = select(full, s, minor, format, [&](double x, double y) { return area.covers(x, y); });
        const testutil::RunResult r = run_tessaline(args, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        std::string console =
            console_with(full_run.out, "c.shp", s, (want.shp.size() - 100) / 36, (full.shp.size() - 100) / 36);
        console.insert(console.find('\n', console.find("Output Shapefile:")) + 1, c.note);
        EXPECT_EQ(lasread::mask_elapsed(r.out), console);
        const Outputs got = outputs_of(dir / "c");
        EXPECT_GT(got.shp.size(), 100u);
        EXPECT_EQ(difference(got.shp, want.shp), "") << ".shp";
        EXPECT_EQ(difference(got.shx, want.shx), "") << ".shx";
        EXPECT_EQ(difference(got.dbf, want.dbf), "") << ".dbf";
        EXPECT_EQ(testutil::exists(dir / "c.prj"), prj);
    }
}

// --crs: each point where PROJ's cs2cs puts the full conversion's point (from
// its .prj into the target), exactly; the headers' bounds those of the
// points written, the table the full conversion's byte for byte, the .prj
// the target's horizontal system as GDAL reads it; --extent in the target's
// coordinates; tiles of two systems merged; a point outside the target's
// domain ends the run.
TEST(Crs, EachPointWhereCs2csPutsIt) {
    if (!testutil::exists("/usr/bin/cs2cs") || !testutil::exists("/usr/bin/gdalsrsinfo"))
        GTEST_SKIP() << "PROJ's cs2cs or GDAL's gdalsrsinfo is missing";
    const lastest::Vlr utm33 = lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32633}});
    const lastest::Vlr utm34 = lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 32634}});
    const lastest::Vlr wgs84 = lastest::geokey_directory({{1024, 0, 1, 2}, {2048, 0, 1, 4326}});
    const lastest::Vlr oregon = lastest::geokey_directory({{1024, 0, 1, 1}, {3072, 0, 1, 2994}});  // NAD83(HARN), feet
    const auto write = [](const std::string &path, const lastest::Vlr &crs, double x0, double y0, double scale) {
        lastest::LasOptions o = lastest::options_for_type(8);
        o.offset[0] = x0, o.offset[1] = y0, o.scale[0] = o.scale[1] = scale;
        o.vlrs = {crs};
        lastest::write_las(path, o, 3000, grid_point);
    };
    const struct {
        const lastest::Vlr &crs;
        double x0, y0, scale;
        std::string target, code;  // code: the system gdalsrsinfo finds in the .prj
        bool lat_first;            // cs2cs gives latitude, then longitude
        std::string extent;        // "" or fractions of the transformed points, as extent_at takes them
    } cases[] = {
        {utm33, 500000, 5000000, 0.01, "EPSG:4326", "EPSG:4326", true, "@0.2,0.3,0.7,0.6"},
        {utm33, 500000, 5000000, 0.01, "EPSG:32634", "EPSG:32634", false, ""},
        {wgs84, 15, 45, 1e-6, "EPSG:32633", "EPSG:32633", false, "@0.1,0.1,0.5,0.9"},
        // Another datum, through geocentric coordinates: the heights move X and Y.
        {oregon, 637000, 851000, 0.01, "EPSG:4326", "EPSG:4326", true, ""},
        // A compound target: its vertical part has nothing to start from, Z stays.
        {utm33, 500000, 5000000, 0.01, "EPSG:32634+5773", "EPSG:32634", false, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.target);
        TempDir dir;
        write(dir / "t.las", c.crs, c.x0, c.y0, c.scale);
        const testutil::RunResult plain_run = run_tessaline({"t.las"}, dir.path());
        ASSERT_EQ(plain_run.status, 0);
        const Outputs plain = outputs_of(dir / "t");
        const testutil::RunResult r = run_tessaline({"--crs", c.target, "--output", "c.shp", "t.las"}, dir.path());
        ASSERT_EQ(r.status, 0) << r.out;
        EXPECT_EQ(lasread::mask_elapsed(r.out), console_with(plain_run.out, "c.shp", Selection{}, 0, 0));
        const Outputs got = outputs_of(dir / "c");
        ASSERT_EQ(got.shp.size(), plain.shp.size());
        std::string points;
        for (size_t at = 112; at < plain.shp.size(); at += 36) {
            char line[96];
            std::snprintf(line, sizeof line, "%.17g %.17g %.17g\n", double_at(plain.shp, at),
                          double_at(plain.shp, at + 8), double_at(plain.shp, at + 16));
            points += line;
        }
        write_text(dir / "in.txt", points);
        const testutil::RunResult cs =
            testutil::run("/bin/sh", {"-c", "cs2cs -f %.17g \"$(cat t.prj)\" " + c.target + " < in.txt"}, dir.path());
        ASSERT_EQ(cs.status, 0) << cs.err;
        std::istringstream expected(cs.out);
        int differ = 0;
        for (size_t at = 112; at < got.shp.size(); at += 36) {
            double a, b, z;
            ASSERT_TRUE(expected >> a >> b >> z);
            const double x = c.lat_first ? b : a, y = c.lat_first ? a : b;
            if ((double_at(got.shp, at) != x || double_at(got.shp, at + 8) != y || double_at(got.shp, at + 16) != z) &&
                ++differ <= 3)
                ADD_FAILURE() << "record " << (at - 100) / 36 + 1 << ": " << double_at(got.shp, at) << " "
                              << double_at(got.shp, at + 8) << ", cs2cs " << x << " " << y;
        }
        EXPECT_EQ(differ, 0);
        const Outputs counted = select(got, Selection{}, 2, 3);
        EXPECT_EQ(difference(got.shp, counted.shp), "") << ".shp";
        EXPECT_EQ(difference(got.shx, counted.shx), "") << ".shx";
        EXPECT_EQ(difference(got.dbf, plain.dbf), "") << ".dbf";
        const testutil::RunResult srs = testutil::run("/usr/bin/gdalsrsinfo", {"-o", "epsg", "c.prj"}, dir.path());
        EXPECT_NE(srs.out.find(c.code + "\n"), std::string::npos) << srs.out;
        if (c.extent.empty()) continue;
        const std::vector<std::string> args = {"--crs", c.target, "--extent", extent_at(c.extent, got.shp),
                                               "--output", "e.shp", "t.las"};
        ASSERT_EQ(run_tessaline(args, dir.path()).status, 0);
        const Outputs want = select(got, selection_of(args), 2, 3), cut = outputs_of(dir / "e");
        EXPECT_GT(cut.shp.size(), 100 + 36 * 100u);
        EXPECT_EQ(difference(cut.shp, want.shp), "") << "extent .shp";
        EXPECT_EQ(difference(cut.dbf, want.dbf), "") << "extent .dbf";
        // The same rectangle as a clip in the target system keeps the same points.
        const std::vector<std::string> e = items(args[3]);
        const std::string box = "POLYGON ((" + e[0] + " " + e[1] + ", " + e[2] + " " + e[1] + ", " + e[2] + " " + e[3] +
                                ", " + e[0] + " " + e[3] + ", " + e[0] + " " + e[1] + "))";
        ASSERT_EQ(run_tessaline({"--crs", c.target, "--clip", box, "--clip-crs", c.target, "--output", "k.shp", "t.las"},
                                dir.path()).status, 0);
        EXPECT_EQ(difference(outputs_of(dir / "k").shp, want.shp), "") << "clip .shp";
    }

    TempDir dir;
    write(dir / "a.las", utm33, 800000, 5000000, 0.01);
    write(dir / "b.las", utm34, 200000, 5000000, 0.01);
    std::vector<Outputs> parts;
    for (const std::string name : {"a", "b"}) {
        ASSERT_EQ(run_tessaline({"--crs", "EPSG:4326", "--output", name + "4326.shp", name + ".las"}, dir.path()).status, 0);
        parts.push_back(outputs_of(dir / (name + "4326")));
    }
    ASSERT_EQ(run_tessaline({"--crs", "EPSG:4326", "--output", "m.shp", "a.las", "b.las"}, dir.path()).status, 0);
    const Outputs merged = outputs_of(dir / "m"), want = concatenate(parts);
    EXPECT_EQ(difference(merged.shp, want.shp), "") << "merged .shp";
    EXPECT_EQ(difference(merged.dbf, want.dbf), "") << "merged .dbf";

    // A COPC file decodes the cells that may meet the extent in longitude and
    // latitude: it keeps what the whole file's conversion has in it.
    lastest::LasOptions copc = lastest::options_for_type(8);
    copc.version_minor = 4, copc.point_format = 6;
    copc.offset[0] = 500000, copc.offset[1] = 5000000;
    copc.vlrs = {utm33};
    std::vector<lastest::Point> points;
    for (uint64_t i = 0; i < 3000; ++i) points.push_back(grid_point(i));
    testutil::write_file(dir / "copc.laz", laztest::make_copc(copc, points, laztest::CopcOptions{}));
    ASSERT_EQ(run_tessaline({"--crs", "EPSG:4326", "--output", "whole.shp", "copc.laz"}, dir.path()).status, 0);
    const Outputs whole = outputs_of(dir / "whole");
    const std::vector<std::string> cut_args = {"--crs", "EPSG:4326", "--extent", extent_at("@0.3,0.4,0.6,0.7", whole.shp),
                                               "--output", "cut.shp", "copc.laz"};
    ASSERT_EQ(run_tessaline(cut_args, dir.path()).status, 0);
    const Outputs want_cut = select(whole, selection_of(cut_args), 4, 6), cut = outputs_of(dir / "cut");
    EXPECT_GT(cut.shp.size(), 100 + 36 * 100u);
    EXPECT_EQ(difference(cut.shp, want_cut.shp), "") << "COPC .shp";
    EXPECT_EQ(difference(cut.dbf, want_cut.dbf), "") << "COPC .dbf";

    // Latitudes past 90 degrees have no place in a Mercator projection.
    write(dir / "pole.las", wgs84, 15, 90, 1e-6);
    const std::vector<std::string> before = listing(dir.path());
    const testutil::RunResult r = run_tessaline({"--crs", "EPSG:3857", "--output", "p.shp", "pole.las"}, dir.path());
    EXPECT_EQ(r.status, 255);
    const std::string line = "\nPoint 841 of pole.las cannot be transformed into WGS 84 / Pseudo-Mercator\n";
    EXPECT_EQ(r.out.substr(r.out.size() - std::min(r.out.size(), line.size())), line);
    EXPECT_EQ(listing(dir.path()), before);
}
