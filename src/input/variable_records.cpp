#include "variable_records.h"

#include "extra_bytes.h"

#include <cstring>

namespace {

uint16_t u16_at(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }
uint64_t u64_at(const unsigned char *p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}

// Little-endian values of the record's data; a trailing partial value is
// not part of the record.
template <typename T>
std::vector<T> values_of(const std::vector<unsigned char> &data) {
    std::vector<T> v(data.size() / sizeof(T));
    if (!v.empty()) std::memcpy(v.data(), data.data(), v.size() * sizeof(T));
    return v;
}

bool user_id_is(const unsigned char *field, const char *id) {
    // The user ID is 16 bytes, padded with NULs.
    char user_id[17] = {};
    std::memcpy(user_id, field, 16);
    return std::strcmp(user_id, id) == 0;
}

constexpr uint64_t kLongestRecordTaken = uint64_t{1} << 20;

// Which records have been taken already.
struct Taken {
    bool keys = false, doubles = false, ascii = false, wkt = false;
};

// Takes the record at `data_at` of `length` bytes if it is one the
// conversion reads and the first of its kind; false when its data cannot be
// read (the area ends there).
bool take(ByteSource &source, const unsigned char *user_id, uint16_t record_id, uint64_t data_at, uint64_t length,
          bool wkt_only, Taken &taken, LasRecords &found) {
    bool *have = nullptr;
    if (user_id_is(user_id, kProjectionUserId)) {
        have = record_id == kWktRecord                            ? &taken.wkt
               : wkt_only                                         ? nullptr
               : record_id == kGeoKeyDirectoryRecord              ? &taken.keys
               : record_id == kGeoDoubleParamsRecord              ? &taken.doubles
               : record_id == kGeoAsciiParamsRecord               ? &taken.ascii
                                                                  : nullptr;
    } else if (user_id_is(user_id, kExtraBytesUserId) && record_id == kExtraBytesRecord) {
        have = &found.has_extra_bytes;
    }
    // Far longer than any coordinate system or descriptor list: not read, so
    // that a hostile length costs no memory.
    if (have == nullptr || *have || length > kLongestRecordTaken) return true;
    *have = true;

    std::vector<unsigned char> data(length);
    if (length > 0 && !source.read_at(data_at, data.data(), length)) return false;
    ProjectionRecords &p = found.projection;
    if (have == &found.has_extra_bytes) {
        found.extra_bytes = std::move(data);
    } else if (record_id == kGeoKeyDirectoryRecord) {
        p.keys = values_of<uint16_t>(data);
    } else if (record_id == kGeoDoubleParamsRecord) {
        p.doubles = values_of<double>(data);
    } else if (record_id == kGeoAsciiParamsRecord) {
        p.ascii.assign(data.begin(), data.end());
    } else {
        // The text ends at its first NUL, or with the record where some
        // writers leave it unterminated; whether it is whole, PROJ decides.
        const void *nul = std::memchr(data.data(), 0, data.size());
        const size_t n = nul != nullptr ? static_cast<size_t>(static_cast<const unsigned char *>(nul) - data.data())
                                        : data.size();
        p.wkt.assign(reinterpret_cast<const char *>(data.data()), n);
    }
    return true;
}

}  // namespace

LasRecords read_las_records(ByteSource &source, const RecordArea &area) {
    LasRecords found;
    Taken taken;
    // The header must be whole and the records must end before the points.
    if (area.header_size >= 227 && area.header_size <= area.offset_to_data) {
        const uint64_t end = area.offset_to_data < area.file_size ? area.offset_to_data : area.file_size;
        uint64_t at = area.header_size;
        for (uint32_t r = 0; r < area.record_count && at + kVlrHeaderBytes <= end; ++r) {
            unsigned char head[kVlrHeaderBytes];
            if (!source.read_at(at, head, sizeof head)) break;
            const uint16_t length = u16_at(head + 20);
            const uint64_t data_at = at + kVlrHeaderBytes;
            if (data_at + length > end) break;
            at = data_at + length;
            if (!take(source, head + 2, u16_at(head + 18), data_at, length, area.wkt_only, taken, found)) break;
        }
    }
    // Extended records follow the point data; their 64-bit lengths are
    // checked against what is left of the file before any sum is formed.
    if (area.extended_count > 0 && area.extended_start >= area.points_end && area.extended_start <= area.file_size) {
        uint64_t at = area.extended_start;
        for (uint32_t r = 0; r < area.extended_count && area.file_size - at >= kEvlrHeaderBytes; ++r) {
            unsigned char head[kEvlrHeaderBytes];
            if (!source.read_at(at, head, sizeof head)) break;
            const uint64_t length = u64_at(head + 20);
            const uint64_t data_at = at + kEvlrHeaderBytes;
            if (length > area.file_size - data_at) break;
            at = data_at + length;
            if (!take(source, head + 2, u16_at(head + 18), data_at, length, area.wkt_only, taken, found)) break;
        }
    }
    return found;
}
