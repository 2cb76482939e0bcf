#include "projection_records.h"

#include <cstring>

namespace {

uint16_t u16_at(const unsigned char *p) { return static_cast<uint16_t>(p[0] | p[1] << 8); }

bool read_at(std::FILE *fp, uint64_t offset, void *into, size_t n) {
    // Bytes, not records: one item of n bytes would hide a short read's size.
    return std::fseek(fp, static_cast<long>(offset), SEEK_SET) == 0 && std::fread(into, 1, n, fp) == n;
}

// Little-endian values of the record's data; a trailing partial value is
// not part of the record.
template <typename T>
std::vector<T> values_of(const std::vector<unsigned char> &data) {
    std::vector<T> v(data.size() / sizeof(T));
    if (!v.empty()) std::memcpy(v.data(), data.data(), v.size() * sizeof(T));
    return v;
}

}  // namespace

ProjectionRecords read_projection_records(std::FILE *fp, const RecordArea &area) {
    ProjectionRecords found;
    // The header must be whole and the records must end before the points.
    if (area.header_size < 227 || area.header_size > area.offset_to_data) return found;
    const uint64_t end = area.offset_to_data < area.file_size ? area.offset_to_data : area.file_size;

    uint64_t at = area.header_size;
    bool have_keys = false, have_doubles = false, have_ascii = false, have_wkt = false;
    for (uint32_t r = 0; r < area.record_count && at + kVlrHeaderBytes <= end; ++r) {
        unsigned char head[kVlrHeaderBytes];
        if (!read_at(fp, at, head, sizeof head)) break;
        const uint16_t record_id = u16_at(head + 18);
        const uint16_t length = u16_at(head + 20);
        const uint64_t data_at = at + kVlrHeaderBytes;
        if (data_at + length > end) break;
        at = data_at + length;

        // The user ID is 16 bytes, padded with NULs.
        char user_id[17] = {};
        std::memcpy(user_id, head + 2, 16);
        if (std::strcmp(user_id, kProjectionUserId) != 0) continue;
        bool *have = record_id == kGeoKeyDirectoryRecord   ? &have_keys
                     : record_id == kGeoDoubleParamsRecord ? &have_doubles
                     : record_id == kGeoAsciiParamsRecord  ? &have_ascii
                     : record_id == kWktRecord             ? &have_wkt
                                                           : nullptr;
        if (have == nullptr || *have) continue;
        *have = true;

        std::vector<unsigned char> data(length);
        if (length > 0 && !read_at(fp, data_at, data.data(), length)) break;
        switch (record_id) {
            case kGeoKeyDirectoryRecord: found.keys = values_of<uint16_t>(data); break;
            case kGeoDoubleParamsRecord: found.doubles = values_of<double>(data); break;
            case kGeoAsciiParamsRecord: found.ascii.assign(data.begin(), data.end()); break;
            case kWktRecord: {
                // The text ends at its NUL; a text without one is incomplete.
                const void *nul = std::memchr(data.data(), 0, data.size());
                if (nul != nullptr)
                    found.wkt.assign(reinterpret_cast<const char *>(data.data()),
                                     static_cast<const unsigned char *>(nul) - data.data());
                break;
            }
        }
    }
    return found;
}
