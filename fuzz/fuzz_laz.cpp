// Arbitrary bytes as a LAZ file, read by the LAZ reader with the facts that
// the driver takes from the LAS header. The same file read on one thread and
// on two must give the same records and the same reason; a third reading
// streams every chunk that is not tiny instead of holding it whole.
#include "fuzz_common.h"
#include "laz_reader.h"

#include <cstring>
#include <string>
#include <vector>

#include <fcntl.h>
#include <unistd.h>

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

Reading read_all(int fd, const laz::LasFacts &facts, unsigned threads, uint64_t chunk_limit) {
    Reading r;
    laz::Reader reader;
    reader.set_chunk_limit(chunk_limit);
    r.why = reader.open(fd, facts, threads);
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < 227) return 0;  // the driver refuses it before any LAZ reading
    const std::string path = fuzzing::write_input("input.laz", data, size);
    const int fd = ::open(path.c_str(), O_RDONLY);
    if (fd < 0) __builtin_trap();

    laz::LasFacts facts{};
    facts.file_size = size;
    facts.header_size = field<uint16_t>(data, 94);
    facts.offset_to_data = field<uint32_t>(data, 96);
    facts.vlr_count = field<uint32_t>(data, 100);
    facts.point_format = data[104] & 0x3F;
    facts.record_length = field<uint16_t>(data, 105);
    facts.point_count = field<uint32_t>(data, 107);
    if (data[25] >= 4 && size >= 255) facts.point_count = field<uint64_t>(data, 247);

    const uint64_t whole = uint64_t{64} << 20;
    const Reading one = read_all(fd, facts, 1, whole);
    const Reading two = read_all(fd, facts, 2, whole);
    if (one.why != two.why || one.records != two.records) __builtin_trap();
    read_all(fd, facts, 1, 4096);
    ::close(fd);
    return 0;
}
