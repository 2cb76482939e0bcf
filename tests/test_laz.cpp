// The LAZ decoder: its entropy layer against an encoder, every LAZ file of the
// shared test data against its uncompressed twin, damaged files refused with
// their reasons, and the area read of COPC files.
#include "arithmetic_decoder.h"
#include "chunk_table.h"
#include "copc_hierarchy.h"
#include "file_source.h"
#include "integer_decoder.h"
#include "laz_encoder.h"
#include "laz_reader.h"
#include "laz_writer.h"
#include "test_util.h"

#include <gtest/gtest.h>


#include <algorithm>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <ostream>
#include <utility>
#include <random>
#include <string>
#include <vector>

namespace {

template <typename T>
T at(const std::vector<uint8_t> &b, size_t offset) {
    T v{};
    if (offset + sizeof v <= b.size()) std::memcpy(&v, b.data() + offset, sizeof v);
    return v;
}
template <typename T>
void put(std::vector<uint8_t> &b, size_t offset, T v) {
    std::memcpy(b.data() + offset, &v, sizeof v);
}

// What the driver reads from a LAS header, compression bits cleared.
laz::LasFacts facts_of(const std::vector<uint8_t> &b) {
    laz::LasFacts f{};
    f.file_size = b.size();
    f.header_size = at<uint16_t>(b, 94);
    f.offset_to_data = at<uint32_t>(b, 96);
    f.vlr_count = at<uint32_t>(b, 100);
    f.point_format = at<uint8_t>(b, 104) & 0x3F;
    f.record_length = at<uint16_t>(b, 105);
    f.point_count = at<uint32_t>(b, 107);
    if (at<uint8_t>(b, 25) >= 4 && f.header_size >= 375) {
        f.point_count = at<uint64_t>(b, 247);
        f.evlr_start = at<uint64_t>(b, 235);
        f.evlr_count = at<uint32_t>(b, 243);
    }
    return f;
}

// Opens the bytes as a file and reads every point in batches of `batch`:
// "" with the records, or the first reason given.
std::string decode_all(const std::vector<uint8_t> &b, unsigned threads, uint64_t batch, std::vector<uint8_t> &out,
                       uint64_t chunk_limit = uint64_t{64} << 20) {
    testutil::TempDir dir;
    testutil::write_file(dir / "points.laz", b);
    const auto file = FileSource::open((dir / "points.laz").c_str());
    if (!file) return "cannot open the test file";
    const laz::LasFacts f = facts_of(b);
    laz::Reader reader;
    reader.set_chunk_limit(chunk_limit);
    std::string why = reader.open(*file, f, threads);
    out.assign(f.point_count * f.record_length, 0);
    for (uint64_t done = 0; why.empty() && done < f.point_count; done += batch) {
        const uint64_t n = std::min(batch, f.point_count - done);
        why = reader.read(out.data() + done * f.record_length, n);
    }
    return why;
}

// Each file is read on one thread, on three, and with every chunk streamed
// rather than held whole (threads, largest chunk held).
constexpr std::pair<unsigned, uint64_t> kReadings[] = {{1, uint64_t{64} << 20}, {3, uint64_t{64} << 20}, {1, 100}};

// The chunk table of a chunked file: where it lies and each chunk's byte count.
struct Table {
    uint64_t at;
    std::vector<uint32_t> bytes;
};
Table table_of(const std::vector<uint8_t> &b) {
    Table t{at<uint64_t>(b, at<uint32_t>(b, 96)), {}};
    laz::ArithmeticDecoder dec;
    dec.start(b.data() + t.at + 8, b.size() - t.at - 8);
    laz::IntegerDecoder sizes(32, 2);
    int32_t last = 0;
    for (uint32_t i = 0; i < at<uint32_t>(b, t.at + 4); ++i) t.bytes.push_back(last = sizes.decode(dec, last, 1));
    return t;
}
// Replaces the table, the file's last bytes, with one of these chunks: with
// point counts when `points` is given (and the LASzip record then says so).
void recode_table(std::vector<uint8_t> &b, const Table &t, const std::vector<uint32_t> &points = {}) {
    laz::ArithmeticEncoder enc;
    laz::IntegerEncoder ic(32, 2);
    for (size_t i = 0; i < t.bytes.size(); ++i) {
        if (!points.empty()) ic.encode(enc, i ? points[i - 1] : 0, points[i], 0);
        ic.encode(enc, i ? t.bytes[i - 1] : 0, t.bytes[i], 1);
    }
    const std::vector<uint8_t> coded = enc.done();
    b.resize(t.at + 8);
    put<uint32_t>(b, t.at + 4, static_cast<uint32_t>(t.bytes.size()));
    b.insert(b.end(), coded.begin(), coded.end());
}
// The offset of the LASzip record's payload (after the header's records).
size_t laszip_payload(const std::vector<uint8_t> &b) {
    size_t p = at<uint16_t>(b, 94);
    for (uint32_t i = 0; i < at<uint32_t>(b, 100); ++i) {
        if (at<uint16_t>(b, p + 18) == 22204) return p + 54;
        p += 54 + at<uint16_t>(b, p + 20);
    }
    return 0;
}

// ---- the entropy layer

// Integers coded by the encoder, each predicted by the one before, decode to
// themselves in every corrector shape: the raw low bits past bits_high, the
// wrap of narrow correctors, 32-bit differences.
struct CorrectorCase {
    uint32_t bits, contexts, bits_high;
    int64_t low, high;  // values drawn from [low, high]
};

class Corrector : public ::testing::TestWithParam<CorrectorCase> {};

TEST_P(Corrector, DecodesWhatTheEncoderCoded) {
    const CorrectorCase c = GetParam();
    std::mt19937_64 random(7);
    std::uniform_int_distribution<int64_t> value(c.low, c.high);
    std::vector<int32_t> values(20000);
    for (auto &v : values) v = static_cast<int32_t>(value(random));
    laz::ArithmeticEncoder enc;
    laz::IntegerEncoder ie(c.bits, c.contexts, c.bits_high);
    laz::BitModel bit_in, bit_out;
    for (size_t i = 0; i < values.size(); ++i) {
        ie.encode(enc, i ? values[i - 1] : 0, values[i], static_cast<uint32_t>(i % c.contexts));
        enc.encode_bit(bit_in, values[i] & 1);
        enc.write_bits(1 + i % 32, static_cast<uint32_t>(values[i]) & static_cast<uint32_t>((uint64_t{1} << (1 + i % 32)) - 1));
    }
    const std::vector<uint8_t> stream = enc.done();

    laz::ArithmeticDecoder dec;
    dec.start(stream.data(), stream.size());
    laz::IntegerDecoder id(c.bits, c.contexts, c.bits_high);
    for (size_t i = 0; i < values.size(); ++i) {
        ASSERT_EQ(id.decode(dec, i ? values[i - 1] : 0, static_cast<uint32_t>(i % c.contexts)), values[i]) << i;
        ASSERT_EQ(dec.decode_bit(bit_out), static_cast<uint32_t>(values[i] & 1)) << i;
        ASSERT_EQ(dec.read_bits(1 + i % 32),
                  static_cast<uint32_t>(values[i]) & static_cast<uint32_t>((uint64_t{1} << (1 + i % 32)) - 1))
            << i;
    }
    EXPECT_FALSE(dec.overrun());
}

INSTANTIATE_TEST_SUITE_P(Shapes, Corrector,
                         ::testing::Values(CorrectorCase{16, 1, 8, 0, 65535}, CorrectorCase{8, 6, 8, 0, 255},
                                           CorrectorCase{32, 2, 8, -40, 40},
                                           CorrectorCase{32, 9, 8, INT32_MIN, INT32_MAX},
                                           CorrectorCase{32, 1, 4, -3000000, 3000000},
                                           CorrectorCase{12, 3, 8, 0, 4095}));

// Symbols drawn with one of them favoured decode to themselves, in bisected
// and tabled models alike: a favourite tried first (at half of the draws or
// more), one at the model's end, and none.
struct SymbolCase {
    uint32_t symbols, favourite;
    double share;  // of the draws that are the favourite; the others are uniform
};

class Symbols : public ::testing::TestWithParam<SymbolCase> {};

TEST_P(Symbols, DecodeToThemselves) {
    const SymbolCase c = GetParam();
    std::mt19937_64 random(11);
    std::bernoulli_distribution favourite(c.share);
    std::uniform_int_distribution<uint32_t> any(0, c.symbols - 1);
    std::vector<uint32_t> drawn(30000);
    for (auto &s : drawn) s = favourite(random) ? c.favourite : any(random);
    laz::ArithmeticEncoder enc;
    laz::SymbolModel in(c.symbols), out(c.symbols);
    for (const uint32_t s : drawn) enc.encode_symbol(in, s);
    const std::vector<uint8_t> stream = enc.done();

    laz::ArithmeticDecoder dec;
    dec.start(stream.data(), stream.size());
    for (size_t i = 0; i < drawn.size(); ++i) ASSERT_EQ(dec.decode_symbol(out), drawn[i]) << i;
    EXPECT_FALSE(dec.overrun());
}

INSTANTIATE_TEST_SUITE_P(Favourites, Symbols,
                         ::testing::Values(SymbolCase{2, 1, 0.9}, SymbolCase{3, 2, 0.5}, SymbolCase{4, 0, 0.6},
                                           SymbolCase{64, 63, 0.7}, SymbolCase{256, 17, 0.97},
                                           SymbolCase{256, 0, 0.45}, SymbolCase{2048, 2047, 0.999},
                                           SymbolCase{300, 0, 0.0}));

TEST(EntropyLayerBounds, ReadingPastTheEndYieldsZerosAndIsCounted) {
    laz::ArithmeticDecoder dec;
    const uint8_t one = 0x80;
    dec.start(&one, 1);
    EXPECT_TRUE(dec.overrun());
    laz::SymbolModel symbols(300);
    laz::BitModel bit;
    laz::IntegerDecoder ints(32, 1);
    for (int i = 0; i < 10000; ++i) {
        dec.decode_symbol(symbols);
        dec.decode_bit(bit);
        ints.decode(dec, i);
        dec.read_bits(32);
        dec.read_int64();
    }
    EXPECT_GT(dec.overrun_bytes(), 1000u);
}

// ---- real files

using Mutation = std::function<void(std::vector<uint8_t> &)>;

void no_change(std::vector<uint8_t> &) {}
// A writer that could not seek back: -1 where the table's offset belongs, the
// offset itself in the file's last 8 bytes.
void offset_at_the_end(std::vector<uint8_t> &b) {
    const uint32_t points_at = at<uint32_t>(b, 96);
    const uint64_t table = at<uint64_t>(b, points_at);
    put<int64_t>(b, points_at, -1);
    b.resize(b.size() + 8);
    put<uint64_t>(b, b.size() - 8, table);
}
// The same chunks, their point counts stated in the table.
void variable_chunks(std::vector<uint8_t> &b) {
    const Table t = table_of(b);
    const size_t record = laszip_payload(b);
    const uint32_t chunk_size = at<uint32_t>(b, record + 12);
    std::vector<uint32_t> points;
    uint64_t left = facts_of(b).point_count;
    for (size_t i = 0; i < t.bytes.size(); ++i, left -= points.back())
        points.push_back(static_cast<uint32_t>(std::min<uint64_t>(left, chunk_size)));
    put<uint32_t>(b, record + 12, 0xFFFFFFFFu);
    recode_table(b, t, points);
}

struct TwinCase {
    const char *laz;
    const char *twin;  // under the shared folder
    bool layered;
    Mutation mutate;
    const char *mutation;
};

void PrintTo(const TwinCase &c, std::ostream *os) { *os << c.laz << " (" << c.mutation << ")"; }

class Twin : public ::testing::TestWithParam<TwinCase> {};

TEST_P(Twin, EveryRecordEqualsTheUncompressedFile) {
    const TwinCase c = GetParam();
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    std::vector<uint8_t> laz = testutil::read_file(data + "/laz/" + c.laz);
    const std::vector<uint8_t> twin = testutil::read_file(data + "/" + c.twin);
    c.mutate(laz);
    const laz::LasFacts f = facts_of(laz);
    const uint32_t twin_at = at<uint32_t>(twin, 96);
    ASSERT_EQ(f.record_length, at<uint16_t>(twin, 105));
    ASSERT_GE(twin.size(), twin_at + f.point_count * f.record_length);
    const std::vector<uint8_t> want(twin.begin() + twin_at, twin.begin() + twin_at + f.point_count * f.record_length);
    for (const auto &[threads, limit] : kReadings) {
        std::vector<uint8_t> got;
        const std::string why = decode_all(laz, threads, 777, got, limit);
        if (c.layered && limit < 1000) {  // layered chunks are decoded whole or not at all
            EXPECT_NE(why.find("chunk 1 holds more points than this reader decodes at once"), std::string::npos) << why;
            continue;
        }
        ASSERT_EQ(why, "") << threads << " threads, chunks up to " << limit << " bytes";
        ASSERT_EQ(got.size(), want.size());
        for (size_t i = 0; i < want.size(); ++i)
            ASSERT_EQ(got[i], want[i]) << "record " << i / f.record_length << " byte " << i % f.record_length << ", "
                                       << threads << " threads";
    }
}

INSTANTIATE_TEST_SUITE_P(
    SharedFiles, Twin,
    ::testing::Values(TwinCase{"point10-1.0.laz", "laz/point10-1.0.las", false, no_change, "as written"},
                      TwinCase{"point10-1.1.laz", "laz/point10-1.1.las", false, no_change, "as written"},
                      TwinCase{"point-time.laz", "laz/point-time.las", false, no_change, "as written"},
                      TwinCase{"point-color.laz", "laz/point-color.las", false, no_change, "as written"},
                      TwinCase{"point-color-time.laz", "laz/point-color-time.las", false, no_change, "as written"},
                      TwinCase{"1815.laz", "laz/1815.las", false, no_change, "as written"},
                      TwinCase{"extrabytes.laz", "laz/extrabytes.las", false, no_change, "as written"},
                      TwinCase{"autzen_trim.laz", "autzen_trim.las", false, no_change, "as written"},
                      TwinCase{"simple.laz", "simple.las", false, no_change, "as written"},
                      TwinCase{"simple-v1.laz", "simple.las", false, no_change, "as written"},
                      TwinCase{"no-points-1.3.laz", "laz/no-points-1.3.las", false, no_change, "as written"},
                      TwinCase{"pdrf4-1.3.laz", "pdrf4-1.3.las", false, no_change, "as written"},
                      TwinCase{"simple.laz", "simple.las", false, offset_at_the_end, "table offset at the end"},
                      TwinCase{"autzen_trim.laz", "autzen_trim.las", false, variable_chunks, "variable chunks"},
                      TwinCase{"pdrf4-1.3.laz", "pdrf4-1.3.las", false, variable_chunks, "variable chunks"},
                      TwinCase{"evlr-1.4.laz", "evlr-1.4.las", true, no_change, "as written"},
                      TwinCase{"pdrf6-1.4.laz", "laz/pdrf6-1.4.las", true, no_change, "as written"},
                      TwinCase{"pdrf7-v4-1.4.laz", "laz/pdrf7-v4-1.4.las", true, no_change, "as written"},
                      TwinCase{"pdrf8-1.4.laz", "pdrf8-1.4.las", true, no_change, "as written"},
                      TwinCase{"pdrf9-1.4.laz", "pdrf9-1.4.las", true, no_change, "as written"}),
    [](const ::testing::TestParamInfo<TwinCase> &info) { return "case" + std::to_string(info.index); });

// ---- refusals

struct RefusalCase {
    const char *laz;
    Mutation mutate;
    const char *what;
    const char *reason;  // the refusal holds this text
};

void PrintTo(const RefusalCase &c, std::ostream *os) { *os << c.laz << " (" << c.what << ")"; }

class Refused : public ::testing::TestWithParam<RefusalCase> {};

TEST_P(Refused, WithItsReasonWhateverTheThreads) {
    const RefusalCase c = GetParam();
    const std::string data = testutil::shared_testdata();
    if (data.empty()) GTEST_SKIP() << "no shared test data";
    std::vector<uint8_t> laz = testutil::read_file(data + "/laz/" + c.laz);
    c.mutate(laz);
    for (const auto &[threads, limit] : kReadings) {
        std::vector<uint8_t> got;
        const std::string why = decode_all(laz, threads, 1000, got, limit);
        EXPECT_NE(why.find(c.reason), std::string::npos)
            << c.what << ", " << threads << " threads, chunks up to " << limit << " bytes: \"" << why << "\"";
    }
}

Mutation truncated_at(double fraction) {
    return [fraction](std::vector<uint8_t> &b) {
        const uint32_t points_at = at<uint32_t>(b, 96);
        b.resize(points_at + static_cast<size_t>((b.size() - points_at) * fraction));
    };
}
void table_offset_past_the_end(std::vector<uint8_t> &b) { put<uint64_t>(b, at<uint32_t>(b, 96), b.size() + 100); }
void unknown_offset_at_the_end(std::vector<uint8_t> &b) { put<int64_t>(b, at<uint32_t>(b, 96), -1); }
Mutation chunk_bytes_moved(size_t chunk, int32_t by) {
    return [chunk, by](std::vector<uint8_t> &b) {
        Table t = table_of(b);
        t.bytes[chunk] += by;
        if (chunk + 1 < t.bytes.size()) t.bytes[chunk + 1] -= by;
        recode_table(b, t);
    };
}
Mutation chunk_bytes_changed(size_t chunk, int32_t by) {
    return [chunk, by](std::vector<uint8_t> &b) {
        Table t = table_of(b);
        t.bytes[chunk] += by;
        recode_table(b, t);
    };
}
void item_count_beyond_the_record(std::vector<uint8_t> &b) { put<uint16_t>(b, laszip_payload(b) + 32, 50); }
void point10_of_21_bytes(std::vector<uint8_t> &b) { put<uint16_t>(b, laszip_payload(b) + 34 + 2, 21); }
void record_length_35(std::vector<uint8_t> &b) { put<uint16_t>(b, 105, 35); }
void point_format_1(std::vector<uint8_t> &b) { b[104] = 0x81; }
void no_laszip_record(std::vector<uint8_t> &b) { put<uint16_t>(b, laszip_payload(b) - 54 + 18, 22205); }
Mutation points_declared(int32_t more) {
    return [more](std::vector<uint8_t> &b) { put<uint32_t>(b, 107, at<uint32_t>(b, 107) + more); };
}
Mutation cut_last(size_t bytes) {
    return [bytes](std::vector<uint8_t> &b) { b.resize(b.size() - bytes); };
}

INSTANTIATE_TEST_SUITE_P(
    SharedFiles, Refused,
    ::testing::Values(
        RefusalCase{"broken_coder.laz", no_change, "unknown coder", "unknown LASzip coder 15"},
        RefusalCase{"broken_compressor.laz", no_change, "unknown compressor", "unknown LASzip compressor 16"},
        RefusalCase{"broken_size.laz", no_change, "unknown item version", "item type 6 version 6 cannot be read"},
        RefusalCase{"broken_type.laz", no_change, "unknown item type", "item type 22 version 1 cannot be read"},
        RefusalCase{"simple.laz", truncated_at(0.5), "cut in the chunk", "lies outside the file"},
        RefusalCase{"simple.laz", truncated_at(0.0), "cut before the table's offset", "before the chunk table's offset"},
        RefusalCase{"autzen_trim.laz", cut_last(6), "cut in the table", "chunk table is cut short"},
        RefusalCase{"simple-v1.laz", truncated_at(0.6), "point-wise stream cut", "chunk 1 is damaged"},
        RefusalCase{"simple-v1.laz", truncated_at(0.01), "cut in the first point", "chunk 1 is damaged"},
        RefusalCase{"simple.laz", table_offset_past_the_end, "table offset past the end", "lies outside the file"},
        RefusalCase{"simple.laz", unknown_offset_at_the_end, "-1 and no offset at the end", "lies outside the file"},
        RefusalCase{"autzen_trim.laz", chunk_bytes_moved(1, -600), "chunk 2 shortened", "chunk 2 is damaged"},
        RefusalCase{"autzen_trim.laz", chunk_bytes_changed(0, 10), "chunk 1 longer", "runs past the chunk table"},
        RefusalCase{"autzen_trim.laz", chunk_bytes_changed(2, -10), "chunk 3 shorter", "but the chunk table starts"},
        RefusalCase{"simple.laz", item_count_beyond_the_record, "item count", "lists 50 items but has room for 3"},
        RefusalCase{"simple.laz", point10_of_21_bytes, "item size", "item type 6 size 21 cannot be read"},
        RefusalCase{"simple.laz", record_length_35, "record length", "records of 34 bytes, not the 35"},
        RefusalCase{"point-color-time.laz", point_format_1, "point format", "records of point format 1"},
        RefusalCase{"simple.laz", no_laszip_record, "no LASzip record", "no LASzip record"},
        RefusalCase{"autzen_trim.laz", points_declared(+1), "one point more", "chunk 3 is damaged"},
        RefusalCase{"autzen_trim.laz", points_declared(-1), "one point less", "chunk 3 is damaged"},
        RefusalCase{"autzen_trim.laz", points_declared(-10000), "a chunk less", "3 chunks where 100000 points"}),
    [](const ::testing::TestParamInfo<RefusalCase> &info) { return "case" + std::to_string(info.index); });

// ---- COPC: the points of an area

// A COPC file, shared or made by the tests' writer, and why its hierarchy is
// not used ("": it is).
struct CopcCase {
    const char *what;
    const char *shared;  // under laz/; nullptr: written with `options` from a survey, or a lattice
    bool lattice;        // points at every scale step of a 1.2 x 1 m rectangle: some on every node's edge
    uint8_t point_format;
    laztest::CopcOptions options;
    const char *distrust;  // a part of the reason
};

void PrintTo(const CopcCase &c, std::ostream *os) { *os << c.what; }

std::vector<uint8_t> copc_file(const CopcCase &c) {
    if (c.shared != nullptr) return testutil::read_file(testutil::shared_testdata() + "/laz/" + c.shared);
    lastest::LasOptions opts;
    opts.version_minor = 4;
    opts.point_format = c.point_format;
    opts.extra_bytes = c.point_format == 7 ? 3 : 0;
    opts.offset[0] = 512000.0;
    opts.offset[1] = 4180000.0;
    std::vector<lastest::Point> points;
    for (uint64_t i = 0; i < 12000; ++i) {
        lastest::Point p = lastest::survey_point(i);
        if (c.lattice) p.x = static_cast<int32_t>(i % 120), p.y = static_cast<int32_t>(i / 120), p.z = p.x % 50;
        points.push_back(p);
    }
    return laztest::make_copc(opts, points, c.options);
}

// The areas read: fractions of the header's bounds (the whole, a quarter, a
// small square, the line of the least X), an area beside the root cube, the
// line through its centre, where the nodes of every depth meet, and what lies
// left of that line by less than a scale step.
std::vector<laz::Area> areas_of(const std::vector<uint8_t> &b) {
    const double xmin = at<double>(b, 187), xmax = at<double>(b, 179), ymin = at<double>(b, 203),
                 ymax = at<double>(b, 195);
    auto part = [&](double x0, double y0, double x1, double y1) {
        return laz::Area{xmin + x0 * (xmax - xmin), ymin + y0 * (ymax - ymin), xmin + x1 * (xmax - xmin),
                         ymin + y1 * (ymax - ymin)};
    };
    const size_t info = at<uint16_t>(b, 94) + 54;
    const double centre_x = at<double>(b, info), centre_y = at<double>(b, info + 8), half = at<double>(b, info + 24);
    return {part(0, 0, 1, 1),
            part(0.1, 0.2, 0.45, 0.6),
            part(0.6, 0.3, 0.65, 0.35),
            part(0, 0, 0, 1),
            {centre_x + 1.5 * half, centre_y - half, centre_x + 2 * half, centre_y - half / 2},
            {centre_x, ymin, centre_x, ymax},
            {xmin, ymin, centre_x - 0.4 * at<double>(b, 131), ymax}};
}
constexpr size_t kSmallSquare = 2, kBeside = 4;

// Reads the file `source` keeping the chunks that meet `area`: "" or the
// first reason given, with whether the hierarchy was used, the records
// placed and the chunks skipped.
std::string read_area(ByteSource &source, const laz::LasFacts &f, const laz::Area &area, unsigned threads, bool &used,
                      std::vector<uint8_t> &got, std::vector<uint64_t> &skipped) {
    laz::Reader reader;
    std::string why = reader.open(source, f, threads);
    used = why.empty() && reader.keep_chunks_meeting(area);
    got.assign(f.point_count * f.record_length, 0);
    uint64_t total = 0;
    for (uint64_t done = 0; why.empty() && done < f.point_count; done += 777) {
        uint64_t placed = 0;
        why = reader.read(got.data() + total * f.record_length, std::min<uint64_t>(777, f.point_count - done), placed);
        total += placed;
    }
    got.resize(total * f.record_length);
    skipped = reader.skipped_chunks();
    return why;
}

class CopcArea : public ::testing::TestWithParam<CopcCase> {};

// Reading an area gives exactly the full decode's records of the chunks not
// skipped, and those hold every point inside the area; the skipped chunks'
// bytes are not even read; a hierarchy that cannot be trusted skips nothing.
TEST_P(CopcArea, ReadsTheChunksNotSkippedAndEveryPointInside) {
    const CopcCase c = GetParam();
    if (c.shared != nullptr && testutil::shared_testdata().empty()) GTEST_SKIP() << "no shared test data";
    const std::vector<uint8_t> b = copc_file(c);
    const laz::LasFacts f = facts_of(b);
    std::vector<uint8_t> full;
    ASSERT_EQ(decode_all(b, 1, 5000, full), "");
    testutil::TempDir dir;
    testutil::write_file(dir / "points.copc.laz", b);
    const auto file = FileSource::open((dir / "points.copc.laz").c_str());
    ASSERT_TRUE(file);
    std::vector<laz::Chunk> chunks;
    const laz::ChunkLayout layout{b.size(), f.offset_to_data, at<uint32_t>(b, laszip_payload(b) + 12), f.point_count,
                                  f.record_length};
    ASSERT_EQ(laz::read_chunk_table(*file, layout, chunks), "");
    std::vector<laz::Square> squares;
    const std::string why = laz::copc_squares(*file, f, chunks, squares);
    const bool trusted = why.empty();
    if (trusted) {
        EXPECT_STREQ(c.distrust, "");
    } else {
        EXPECT_NE(why.find(c.distrust), std::string::npos) << why;
    }
    const uint32_t length = f.record_length;
    const std::vector<laz::Area> areas = areas_of(b);
    for (size_t a = 0; a < areas.size(); ++a)
        for (unsigned threads : {1u, 2u}) {
            const laz::Area area = areas[a];
            bool used = false;
            std::vector<uint8_t> got;
            std::vector<uint64_t> skipped_list;
            ASSERT_EQ(read_area(*file, f, area, threads, used, got, skipped_list), "");
            EXPECT_EQ(used, trusted) << "area " << a;
            std::vector<bool> skipped(chunks.size(), false);
            for (uint64_t i : skipped_list) skipped.at(i) = true;
            std::vector<uint8_t> want;
            uint64_t first = 0;
            for (size_t i = 0; i < chunks.size(); first += chunks[i++].points) {
                const uint8_t *p = full.data() + first * length;
                if (!skipped[i]) want.insert(want.end(), p, p + chunks[i].points * length);
                for (uint64_t k = 0; skipped[i] && k < chunks[i].points; ++k, p += length) {
                    const double x = at<int32_t>(full, (first + k) * length) * at<double>(b, 131) + at<double>(b, 155);
                    const double y = at<int32_t>(full, (first + k) * length + 4) * at<double>(b, 139) + at<double>(b, 163);
                    ASSERT_FALSE(area.xmin <= x && x <= area.xmax && area.ymin <= y && y <= area.ymax)
                        << "point " << first + k << " of skipped chunk " << i << " lies in area " << a;
                }
            }
            EXPECT_TRUE(got == want) << "area " << a << ", " << threads << " threads";
            const size_t n = skipped_list.size();
            if (!trusted) {
                EXPECT_EQ(n, 0u);
            } else if (a == kSmallSquare) {
                EXPECT_GT(n, 0u) << "nothing skipped";
            } else if (a == kBeside) {
                EXPECT_EQ(n, chunks.size());
            }
            if (!trusted || a != kSmallSquare || threads != 2) continue;
            std::vector<uint8_t> blanked = b;  // the skipped chunks' bytes zeroed: damaged, and never read
            for (uint64_t i : skipped_list)
                std::fill_n(blanked.begin() + static_cast<std::ptrdiff_t>(chunks[i].offset), chunks[i].bytes, 0);
            testutil::write_file(dir / "blanked.copc.laz", blanked);
            const auto blanked_file = FileSource::open((dir / "blanked.copc.laz").c_str());
            ASSERT_TRUE(blanked_file);
            std::vector<uint8_t> again;
            EXPECT_EQ(read_area(*blanked_file, f, area, threads, used, again, skipped_list), "");
            EXPECT_TRUE(again == want);
            EXPECT_NE(decode_all(blanked, 1, 5000, again), "");
        }
}

laztest::CopcOptions copc(uint32_t depth, uint32_t node_points, uint32_t page_depth, uint32_t seed,
                          laztest::CopcDamage damage = laztest::CopcDamage::kNone, int32_t shift_steps = 0) {
    return {depth, node_points, page_depth, seed, shift_steps, damage};
}
using laztest::CopcDamage;

INSTANTIATE_TEST_SUITE_P(
    Files, CopcArea,
    ::testing::Values(
        CopcCase{"lone-star, 15 nodes to depth 2", "lone-star.copc.laz", false, 6, {}, ""},
        CopcCase{"depth 4, node order", nullptr, false, 6, copc(4, 40, 0, 0), ""},
        CopcCase{"depth 6, shuffled, pages every 2 depths", nullptr, false, 6, copc(6, 30, 2, 7), ""},
        CopcCase{"format 7 with extra bytes, points at the leaves only, nested pages", nullptr, false, 7, copc(3, 0, 1, 3), ""},
        CopcCase{"a lattice placed one step high", nullptr, true, 6, copc(5, 20, 0, 0, CopcDamage::kNone, 1), ""},
        CopcCase{"child page outside the file", nullptr, false, 6, copc(4, 40, 2, 5, CopcDamage::kPageOutsideFile), "a child page lies outside"},
        CopcCase{"root page outside the file", nullptr, false, 6, copc(4, 40, 0, 5, CopcDamage::kPageOutsideFile), "the root page lies outside"},
        CopcCase{"child page naming the root page", nullptr, false, 6, copc(4, 40, 2, 5, CopcDamage::kPageLoop), "over another page"},
        CopcCase{"entry naming no chunk", nullptr, false, 8, copc(4, 40, 0, 5, CopcDamage::kEntryWithoutChunk), "is no chunk of the chunk table"},
        CopcCase{"chunk of no entry", nullptr, false, 6, copc(4, 40, 2, 5, CopcDamage::kChunkWithoutEntry), "1 chunks belong to no node"},
        CopcCase{"root cube away from the bounds", nullptr, false, 6, copc(4, 40, 0, 5, CopcDamage::kCubeMissesBounds), "does not hold the header's bounds"}),
    [](const ::testing::TestParamInfo<CopcCase> &info) { return "case" + std::to_string(info.index); });

}  // namespace
