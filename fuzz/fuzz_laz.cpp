// Arbitrary bytes as a LAZ file, read by the LAZ reader with the facts that
// the driver takes from the LAS header. The same file read on one thread and
// on two must give the same records and the same reason; a third reading
// streams every chunk that is not tiny instead of holding it whole. A fourth
// keeps the chunks of a COPC file that meet an area drawn from the header's
// bounds and the input's last byte, one point at a time on two threads:
// every point it places must be the whole reading's point at that place, and
// it may fail only where the whole reading fails.
#include "fuzz_common.h"
#include "file_source.h"
#include "laz_reader.h"

#include <cstring>
#include <string>
#include <vector>


namespace {

// Enough points to pass several small chunks (the shared files' layered ones
// hold 256), few enough that an input that claims billions stays quick.
constexpr uint64_t kMostPoints = 5000;

template <typename T>
T field(const uint8_t *data, size_t offset) {
    T v;
    std::memcpy(&v, data + offset, sizeof v);
    return v;
}

struct Reading {
    std::string why;
    std::vector<uint8_t> records;
};

Reading read_all(ByteSource &source, const laz::LasFacts &facts, unsigned threads, uint64_t chunk_limit) {
    Reading r;
    laz::Reader reader;
    reader.set_chunk_limit(chunk_limit);
    r.why = reader.open(source, facts, threads);
    if (!r.why.empty()) return r;
    const uint64_t points = facts.point_count < kMostPoints ? facts.point_count : kMostPoints;
    const uint64_t batch = facts.record_length ? (uint64_t{1} << 20) / facts.record_length + 1 : 1;
    std::vector<uint8_t> buffer(batch * facts.record_length);
    for (uint64_t done = 0; done < points && r.why.empty(); done += batch) {
        const uint64_t n = points - done < batch ? points - done : batch;
        r.why = reader.read(buffer.data(), n);
        if (r.why.empty()) r.records.insert(r.records.end(), buffer.begin(), buffer.begin() + n * facts.record_length);
    }
    return r;
}

// The points placed when the chunks meeting `area` are kept, each at its place in the file.
Reading read_area(ByteSource &source, const laz::LasFacts &facts, const laz::Area &area,
                  std::vector<uint64_t> &places) {
    Reading r;
    laz::Reader reader;
    r.why = reader.open(source, facts, 2);
    if (!r.why.empty()) return r;
    reader.keep_chunks_meeting(area);
    const uint64_t points = facts.point_count < kMostPoints ? facts.point_count : kMostPoints;
    std::vector<uint8_t> record(facts.record_length);
    for (uint64_t p = 0; p < points && r.why.empty(); ++p) {
        uint64_t placed = 0;
        r.why = reader.read(record.data(), 1, placed);
        if (r.why.empty() && placed > 1) __builtin_trap();
        if (r.why.empty() && placed == 1) {
            places.push_back(p);
            r.records.insert(r.records.end(), record.begin(), record.end());
        }
    }
    return r;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 227) return 0;  // the driver refuses it before any LAZ reading
    const std::string path = fuzzing::write_input("input.laz", data, size);
    const auto file = FileSource::open(path.c_str());
    if (!file) __builtin_trap();
    ByteSource &source = *file;

    laz::LasFacts facts{};
    facts.file_size = size;
    facts.header_size = field<uint16_t>(data, 94);
    facts.offset_to_data = field<uint32_t>(data, 96);
    facts.vlr_count = field<uint32_t>(data, 100);
    facts.point_format = data[104] & 0x3F;
    facts.record_length = field<uint16_t>(data, 105);
    facts.point_count = field<uint32_t>(data, 107);
    if (data[25] >= 4 && size >= 255) {
        facts.point_count = field<uint64_t>(data, 247);
        facts.evlr_start = field<uint64_t>(data, 235);
        facts.evlr_count = field<uint32_t>(data, 243);
    }

    const uint64_t whole = uint64_t{64} << 20;
    const Reading one = read_all(source, facts, 1, whole);
    const Reading two = read_all(source, facts, 2, whole);
    if (one.why != two.why || one.records != two.records) __builtin_trap();
    read_all(source, facts, 1, 4096);

    const double xmin = field<double>(data, 187), xmax = field<double>(data, 179);
    const double ymin = field<double>(data, 203), ymax = field<double>(data, 195);
    const uint8_t pick = data[size - 1];
    const double x0 = (pick & 3) / 4.0, y0 = (pick >> 2 & 3) / 4.0, side = ((pick >> 4 & 3) + 1) / 4.0;
    const laz::Area area{xmin + x0 * (xmax - xmin), ymin + y0 * (ymax - ymin), xmin + (x0 + side) * (xmax - xmin),
                         ymin + (y0 + side) * (ymax - ymin)};
    std::vector<uint64_t> places;
    const Reading part = read_area(source, facts, area, places);
    if (!part.why.empty() && one.why.empty()) __builtin_trap();
    const size_t length = facts.record_length;
    for (size_t k = 0; k < places.size(); ++k)
        if ((places[k] + 1) * length <= one.records.size() &&
            std::memcmp(part.records.data() + k * length, one.records.data() + places[k] * length, length) != 0)
            __builtin_trap();
    return 0;
}
