// Header update: the count, the counts by return and the bounds of a LAS file
// recomputed from its point records and written over the first 227 bytes,
// and nothing else; and the fresh header records of the three versions.
//
// The expected summaries are computed here from the file's raw bytes at the
// offsets of the LAS standard, not through the library's record structs.
#include "LiDAR.h"
#include "las_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>

#include <csignal>

#include <sys/resource.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstring>
#include <limits>
#include <string>
#include <vector>

using lastest::LasOptions;
using lastest::Point;
using testutil::RunResult;
using testutil::TempDir;

namespace {

using Bytes = std::vector<uint8_t>;

template <typename T>
T get(const Bytes &b, size_t offset) {
    T v;
    std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}

// Byte ranges of the summary fields: the count and counts by return, and the
// six bounds.
constexpr size_t kCountsBegin = 107, kCountsEnd = 131, kBoundsBegin = 179, kHeaderEnd = 227;

struct Summary {
    uint32_t count = 0;
    uint32_t by_return[5] = {0, 0, 0, 0, 0};
    int32_t raw_min[3] = {0, 0, 0}, raw_max[3] = {0, 0, 0};
    double max_min[6] = {0, 0, 0, 0, 0, 0};  // MaxX, MinX, MaxY, MinY, MaxZ, MinZ as stored
};

// What the header should say about the records in `file`.
Summary summarise(const Bytes &file) {
    Summary s;
    const uint32_t offset = get<uint32_t>(file, 96);
    const uint16_t length = get<uint16_t>(file, 105);
    for (size_t at = offset; at + length <= file.size(); at += length) {
        for (int a = 0; a < 3; ++a) {
            const int32_t raw = get<int32_t>(file, at + 4 * a);
            if (s.count == 0 || raw < s.raw_min[a]) s.raw_min[a] = raw;
            if (s.count == 0 || raw > s.raw_max[a]) s.raw_max[a] = raw;
        }
        const int return_number = file[at + 14] & 7;
        if (return_number >= 1 && return_number <= 5) ++s.by_return[return_number - 1];
        ++s.count;
    }
    if (s.count > 0) {
        for (int a = 0; a < 3; ++a) {
            const double scale = get<double>(file, 131 + 8 * a), off = get<double>(file, 155 + 8 * a);
            s.max_min[2 * a] = s.raw_max[a] * scale + off;
            s.max_min[2 * a + 1] = s.raw_min[a] * scale + off;
        }
    }
    return s;
}

// The updated file holds the expected summary, and every other byte is the
// original's.
void expect_updated(const Bytes &before, const Bytes &after, const Summary &s) {
    ASSERT_EQ(after.size(), before.size());
    EXPECT_EQ(get<uint32_t>(after, 107), s.count);
    for (int r = 0; r < 5; ++r) EXPECT_EQ(get<uint32_t>(after, 111 + 4 * r), s.by_return[r]) << "return " << r + 1;
    const char *names[] = {"MaxX", "MinX", "MaxY", "MinY", "MaxZ", "MinZ"};
    for (int k = 0; k < 6; ++k) EXPECT_EQ(get<double>(after, kBoundsBegin + 8 * k), s.max_min[k]) << names[k];
    for (size_t k = 0; k < before.size(); ++k) {
        const bool summary = (k >= kCountsBegin && k < kCountsEnd) || (k >= kBoundsBegin && k < kHeaderEnd);
        if (!summary && before[k] != after[k]) {
            ADD_FAILURE() << "byte " << k << " changed";
            break;
        }
    }
}

std::string updated_message(const std::string &name) {
    return "\rHeader of file " + name + " has been updated    ";
}

RunResult update_in_child(const std::string &path) {
    return testutil::run_in_child([&] { update_header(path.c_str()); });
}

Point point(int32_t x, int32_t y, int32_t z, uint8_t bitfield) {
    Point p;
    p.x = x;
    p.y = y;
    p.z = z;
    p.bitfield = bitfield;
    return p;
}

std::vector<Point> varied(size_t n) {
    std::vector<Point> pts;
    for (size_t i = 0; i < n; ++i) pts.push_back(lastest::varied_point(i));
    return pts;
}

LasOptions stale_las(int type, const std::function<void(LasOptions &)> &edit) {
    LasOptions s = lastest::options_for_type(type);
    s.scale[0] = 0.01;
    s.scale[1] = 0.001;
    s.scale[2] = 0.0001;
    s.offset[0] = 500000.0;
    s.offset[1] = 4000000.0;
    s.offset[2] = -50.0;
    // Stale summary fields, so that every one of them must be rewritten.
    s.declared_points = 3;
    s.explicit_bounds = true;
    for (int a = 0; a < 3; ++a) {
        s.min[a] = -1.5;
        s.max[a] = 1.5;
    }
    edit(s);
    return s;
}

}  // namespace

TEST(UpdateHeader, RecountsEveryTypeAndTouchesNothingElse) {
    for (int type = 1; type <= 8; ++type) {
        for (const bool extras : {false, true}) {
            SCOPED_TRACE("type " + std::to_string(type) + (extras ? " with VLRs and a longer header" : ""));
            const LasOptions s = stale_las(type, [&](LasOptions &las) {
                if (extras) {
                    las.header_size = 260;
                    las.vlr_payloads = {12, 0, 77};
                }
            });
            TempDir dir;
            const Bytes before = lastest::make_las(s, varied(40 + type));
            testutil::write_file(dir / "a.las", before);
            testutil::ScopedChdir cd(dir.path());
            const RunResult r = update_in_child("a.las");
            EXPECT_EQ(r.status, 0);
            EXPECT_EQ(r.out, updated_message("a.las"));
            const Summary s_expected = summarise(before);
            EXPECT_EQ(s_expected.count, 40u + type);
            expect_updated(before, testutil::read_file("a.las"), s_expected);
        }
    }
}

TEST(UpdateHeader, EdgeCasesOfTheRecords) {
    const int32_t kMin = std::numeric_limits<int32_t>::min(), kMax = std::numeric_limits<int32_t>::max();
    struct Case {
        const char *label;
        int type;
        std::function<void(LasOptions &)> edit;
        std::vector<Point> points;
        uint32_t count;
        std::vector<uint32_t> by_return;
    };
    const std::vector<Case> cases = {
        {"12 records behind a header that says 10", 6, [](LasOptions &s) { s.declared_points = 10; }, varied(12),
         12, {}},
        {"return numbers 0, 6 and 7 are counted in no slot", 5, [](LasOptions &) {},
         {point(1, 1, 1, 0x00), point(2, 2, 2, 0x06), point(3, 3, 3, 0x07), point(4, 4, 4, 0x09),
          point(5, 5, 5, 0xD2), point(6, 6, 6, 0x0B), point(7, 7, 7, 0x0C), point(8, 8, 8, 0x2D)},
         8, {1, 1, 1, 1, 1}},
        {"trailing bytes fewer than one record are ignored", 8, [](LasOptions &s) { s.trailing_bytes = 33; },
         varied(5), 5, {}},
        {"raw Z above ten million", 5, [](LasOptions &) {},
         {point(0, 0, 390810002, 1), point(0, 0, 781190002, 1), point(0, 0, 500000000, 1)}, 3, {3, 0, 0, 0, 0}},
        {"raw Z below minus ten million", 5, [](LasOptions &) {},
         {point(0, 0, -20000000, 1), point(0, 0, -30000000, 1)}, 2, {2, 0, 0, 0, 0}},
        {"the int32 extremes of X and Y", 7, [](LasOptions &) {},
         {point(kMin, kMax, 0, 1), point(kMin, kMax, 5, 1), point(kMin + 1, kMax - 1, 7, 1)}, 3, {}},
        {"a single record", 2, [](LasOptions &) {}, {point(-12345, 678, -9, 0x12)}, 1, {0, 1, 0, 0, 0}},
        {"no records at all: six bounds of 0.0", 8, [](LasOptions &s) { s.vlr_payloads = {40}; }, {}, 0,
         {0, 0, 0, 0, 0}},
        {"no records, only bytes fewer than one record", 1, [](LasOptions &s) { s.trailing_bytes = 19; }, {}, 0,
         {0, 0, 0, 0, 0}},
    };
    for (const Case &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        const Bytes before = lastest::make_las(stale_las(c.type, c.edit), c.points);
        const std::string path = dir / "edge.las";
        testutil::write_file(path, before);
        const RunResult r = update_in_child(path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, updated_message(path));
        const Summary s = summarise(before);
        EXPECT_EQ(s.count, c.count);
        if (!c.by_return.empty()) {
            EXPECT_EQ(std::vector<uint32_t>(s.by_return, s.by_return + 5), c.by_return);
        }
        expect_updated(before, testutil::read_file(path), s);
    }
}

TEST(UpdateHeader, BoundsAreTheScaledRawExtremes) {
    // One file worked by hand: X in [-1, 250], Y in [3, 3], Z in [20000000, 20000004].
    TempDir dir;
    const LasOptions s = stale_las(5, [](LasOptions &) {});
    const std::string path = dir / "hand.las";
    testutil::write_file(path, lastest::make_las(s, {point(250, 3, 20000004, 1), point(-1, 3, 20000000, 2)}));
    ASSERT_EQ(update_in_child(path).status, 0);
    const Bytes after = testutil::read_file(path);
    EXPECT_EQ(get<double>(after, 179), 250 * 0.01 + 500000.0);
    EXPECT_EQ(get<double>(after, 187), -1 * 0.01 + 500000.0);
    EXPECT_EQ(get<double>(after, 195), 3 * 0.001 + 4000000.0);
    EXPECT_EQ(get<double>(after, 203), 3 * 0.001 + 4000000.0);
    EXPECT_EQ(get<double>(after, 211), 20000004 * 0.0001 - 50.0);
    EXPECT_EQ(get<double>(after, 219), 20000000 * 0.0001 - 50.0);
    EXPECT_EQ(get<uint32_t>(after, 107), 2u);
    EXPECT_EQ(get<uint32_t>(after, 111), 1u);
    EXPECT_EQ(get<uint32_t>(after, 115), 1u);
}

TEST(UpdateHeader, NamesOfAnyLength) {
    TempDir dir;
    std::string folder = dir.path();
    for (int k = 0; k < 3; ++k) {
        folder += "/" + std::string(120, static_cast<char>('a' + k));
        ASSERT_EQ(::mkdir(folder.c_str(), 0755), 0);
    }
    const std::string path = folder + "/" + std::string(200, 'n') + ".las";
    const Bytes before = lastest::make_las(stale_las(6, [](LasOptions &) {}), varied(4));
    testutil::write_file(path, before);
    const RunResult r = update_in_child(path);
    EXPECT_EQ(r.status, 0);
    EXPECT_EQ(r.out, updated_message(path));
    expect_updated(before, testutil::read_file(path), summarise(before));
}

TEST(UpdateHeader, RefusalsEndTheProcessAndLeaveTheFile) {
    const Bytes good = lastest::make_las(stale_las(8, [](LasOptions &) {}), varied(3));
    Bytes lower_case = good;
    std::memcpy(lower_case.data(), "lasf", 4);
    const Bytes no_type = lastest::make_las(stale_las(1, [](LasOptions &s) {
        s.version_minor = 1;
        s.point_format = 2;
    }), varied(3));
    const struct {
        const char *label;
        const char *name;
        const Bytes *bytes;  // nullptr: no such file
        std::string out;
    } cases[] = {
        {"missing file", "gone.las", nullptr,
         "Unable to open file gone.las in file_access()\n\nFile gone.las does NOT exist\n"},
        {"wrong extension", "scan.txt", &good, "\nFile extension of scan.txt is not .las\n"},
        {"not a LAS file", "a.las", &lower_case, "\na.las is not a valid .las file\n\n"},
        {"a version and format without a type index, silently", "a.las", &no_type, ""},
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.label);
        TempDir dir;
        if (c.bytes) testutil::write_file(dir / c.name, *c.bytes);
        testutil::ScopedChdir cd(dir.path());
        const RunResult r = update_in_child(c.name);
        EXPECT_EQ(r.status, 255);
        EXPECT_EQ(r.out, c.out);
        if (c.bytes) {
            EXPECT_EQ(testutil::read_file(c.name), *c.bytes);
        }
    }
}

TEST(UpdateHeader, ReadOnlyFileIsRefused) {
    TempDir dir;
    ASSERT_EQ(::chmod(dir.path().c_str(), 0755), 0);
    const std::string path = dir / "ro.las";
    const Bytes before = lastest::make_las(stale_las(6, [](LasOptions &) {}), varied(3));
    testutil::write_file(path, before);
    ASSERT_EQ(::chmod(path.c_str(), 0444), 0);
    const RunResult r = testutil::run_in_child([&] {
        // The superuser may write any file: run as an ordinary user.
        if (::geteuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0)) ::_exit(99);
        update_header(path.c_str());
    });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\nCannot open binary file " + path + " for header update\n\n");
    EXPECT_EQ(testutil::read_file(path), before);
}

// A header that cannot be written back is an error, never "updated": here
// the file-size limit stops the write of the 227 bytes at byte 100.
TEST(UpdateHeader, FailedWriteIsReportedNotAnnounced) {
    TempDir dir;
    const std::string path = dir / "limited.las";
    testutil::write_file(path, lastest::make_las(stale_las(8, [](LasOptions &) {}), varied(4)));
    const RunResult r = testutil::run_in_child([&] {
        std::signal(SIGXFSZ, SIG_IGN);
        const struct rlimit limit = {100, 100};
        if (::setrlimit(RLIMIT_FSIZE, &limit) != 0) ::_exit(99);
        update_header(path.c_str());
    });
    EXPECT_EQ(r.status, 255);
    EXPECT_EQ(r.out, "\nError writing " + path + "\n");
}

TEST(UpdateHeader, RealFilesFromOtherSoftware) {
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "../shared/testdata is absent";
    const char *files[] = {"epsg_4326.las", "1.0_0.las", "1.0_1.las", "1.1_0.las", "1.1_1.las",
                           "1.2_0.las",     "1.2_1.las", "1.2_2.las", "1.2_3.las", "simple.las",
                           "autzen_trim.las", "mvk-thin.las", "no-points.las"};
    for (const char *file : files) {
        SCOPED_TRACE(file);
        TempDir dir;
        const Bytes before = testutil::read_file(data + "/" + file);
        const std::string path = dir / file;
        testutil::write_file(path, before);
        const RunResult r = update_in_child(path);
        EXPECT_EQ(r.status, 0);
        EXPECT_EQ(r.out, updated_message(path));
        const Summary s = summarise(before);
        // The files' own headers were right about the count.
        EXPECT_EQ(s.count, get<uint32_t>(before, 107));
        expect_updated(before, testutil::read_file(path), s);
        if (std::string(file) == "epsg_4326.las") {
            // Every raw Z lies above ten million.
            EXPECT_EQ(s.raw_min[2], 390810002);
            EXPECT_EQ(s.raw_max[2], 781190002);
        }
    }
}

TEST(InitializeHeader, FreshRecordsOfTheThreeVersions) {
    // The expected image: every byte that the record keeps is 0xA5, the fill
    // the record held before.
    auto expected = [](uint8_t minor) {
        Bytes b(227, 0xA5);
        auto put = [&](size_t at, const void *v, size_t n) { std::memcpy(&b[at], v, n); };
        const uint32_t zero4 = 0, header_bytes = 227;
        const uint16_t zero2 = 0, header_size = 227;
        const double one = 1.0, zero = 0.0;
        put(0, "LASF", 4);
        put(4, &zero4, 4);   // bytes 4 to 7, whatever their names
        put(8, &zero4, 4);   // GUIDData1
        put(12, &zero4, 4);  // GUIDData2 and GUIDData3
        b[16] = 0;           // first byte of GUIDData4
        b[24] = 1;
        b[25] = minor;
        b[26] = 0;  // empty SystemIdentifier
        put(58, "Oxbrae LiDAR Utilities", 23);
        put(90, &zero2, 2);
        put(92, &zero2, 2);
        put(94, &header_size, 2);
        put(96, &header_bytes, 4);
        put(100, &zero4, 4);
        b[104] = 0;
        put(105, &zero2, 2);
        for (size_t at = 107; at < 131; at += 4) put(at, &zero4, 4);
        for (size_t at = 131; at < 155; at += 8) put(at, &one, 8);
        for (size_t at = 155; at < 227; at += 8) put(at, &zero, 8);
        return b;
    };
    Bytes b(227, 0xA5);
    initialize_header10(reinterpret_cast<LAS10Header *>(b.data()));
    EXPECT_EQ(b, expected(0));
    b.assign(227, 0xA5);
    initialize_header11(reinterpret_cast<LAS11Header *>(b.data()));
    EXPECT_EQ(b, expected(1));
    b.assign(227, 0xA5);
    initialize_header12(reinterpret_cast<LAS12Header *>(b.data()));
    EXPECT_EQ(b, expected(2));
}
