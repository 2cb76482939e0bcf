#include "las_input.h"

#include "las_model.hpp"
#include "platform.h"
#include "record_types.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstring>
#include <iterator>

namespace {

constexpr uint8_t kFirstExtendedMinor = 3;
constexpr uint8_t kLastExtendedMinor = 4;

bool is_extended(const LAS12Header &h) {
    return h.VersionMajor == 1 && h.VersionMinor >= kFirstExtendedMinor && h.VersionMinor <= kLastExtendedMinor;
}

// Records longer than the format's standard length: extra bytes follow each
// record's own fields. A format past the table has no length here; the
// checks refuse it whatever its records.
bool has_longer_records(const LAS12Header &h) {
    return h.PointDataFormatID < std::size(records::kStandardRecordLength) &&
           h.PointDataRecordLength > records::kStandardRecordLength[h.PointDataFormatID];
}

// Whether `name` is a file that this side validates itself, looked at without
// a word: a LAS 1.3 or 1.4 file, or an older one whose records carry extra
// bytes. Every other file goes to check_las, which says what is wrong with it.
bool validated_here(const char *name) {
    if (platform::kind_of(name) != platform::Kind::regular) return false;
    std::FILE *f = platform::fopen(name, "rb");
    if (f == nullptr) return false;
    LAS12Header h;
    const bool whole = std::fread(&h, sizeof h, 1, f) == 1;
    std::fclose(f);
    return whole && std::memcmp(h.LASF, "LASF", 4) == 0 && (is_extended(h) || has_longer_records(h));
}

// The checks of check_las on a header that is not LAS 1.3 or 1.4, with its
// messages, but for a record length above the format's: the records then
// carry extra bytes, and are written as LAS 1.3 writes the same format.
int check_legacy(const char *name, const LAS12Header &h, InputKind &kind) {
    LAS12Header checked = h;
    const bool longer = has_longer_records(h);
    if (longer) checked.PointDataRecordLength = records::kStandardRecordLength[h.PointDataFormatID];
    const int type = lidar::check_header_content(name, checked);
    if (type <= 0 || !longer) return type;
    kind.extra_bytes = true;
    return records::kTypeOfLas14Format[h.PointDataFormatID];
}

// The checks of a LAS 1.3 or 1.4 header: its block, its point format and
// its record length.
int check_extended(const char *name, const LAS14Header &h, size_t got) {
    const LAS12Header &l = h.legacy;
    const bool v13 = l.VersionMinor == kFirstExtendedMinor;
    const uint16_t block = v13 ? kHeaderBytes13 : kHeaderBytes14;
    if (l.HeaderSize < block || got < block) {
        std::printf("\n%s is not a valid .las file\n\n", name);
        return -1;
    }
    const unsigned highest = v13 ? 5 : records::kHighestFormat;
    if (l.PointDataFormatID > highest) {
        std::printf("\nPointDataFormatID in %s is %u. LAS 1.%u accepts 0 to %u\n", name, l.PointDataFormatID,
                    l.VersionMinor, highest);
        return -1;
    }
    if (l.PointDataRecordLength < records::kStandardRecordLength[l.PointDataFormatID]) {
        std::printf("\nData format of %s (%u) is incompatible with Length of Data Record (%u)\n", name,
                    l.PointDataFormatID, l.PointDataRecordLength);
        return -1;
    }
    return records::kTypeOfLas14Format[l.PointDataFormatID];
}

}  // namespace

namespace {

// Whether `name` ends in "." and `extension` (three lower-case letters), in
// any letter case.
bool ends_in(const char *name, const char *extension) {
    const size_t length = std::strlen(name);
    if (length < 4 || name[length - 4] != '.') return false;
    for (size_t i = 0; i < 3; ++i)
        if (std::tolower(static_cast<unsigned char>(name[length - 3 + i])) != extension[i]) return false;
    return true;
}

// The extension that the name checks hold `name` to: its own, where it is
// ".las" or ".laz" in another letter case (TILE.LAS, as many tile sets are
// named), else `usual`, whose refusal then names the fault.
const char *extension_of(const char *name, const char *usual) {
    return ends_in(name, usual) ? name + std::strlen(name) - 3 : usual;
}

}  // namespace

bool is_laz_name(const char *name) { return ends_in(name, "laz"); }

namespace {

// The checks of a header block of which `got` bytes were read, after those of
// the file and its name.
int type_of_header(const char *name, LAS14Header &h, size_t got, InputKind &kind) {
    LAS12Header &l = h.legacy;
    if (kind.laz) l.PointDataFormatID &= static_cast<uint8_t>(~kCompressionBits);
    kind.extended = is_extended(l);
    if (!kind.extended) {
        kind.block = lidar::kHeaderBytes;
        return kind.type = check_legacy(name, l, kind);
    }
    kind.extra_bytes = true;
    kind.block = l.VersionMinor == kFirstExtendedMinor ? kHeaderBytes13 : kHeaderBytes14;
    return kind.type = check_extended(name, h, got);
}

}  // namespace

int input_type(const char *name, InputKind &kind) {
    kind.laz = is_laz_name(name);
    const char *extension = extension_of(name, kind.laz ? "laz" : "las");
    if (!kind.laz && !validated_here(name)) {
        kind.block = lidar::kHeaderBytes;
        // check_las holds its callers to ".las" in lower case; an upper-case
        // name takes the same checks with its own extension.
        if (std::strcmp(extension, "las") == 0) return kind.type = check_las(name);
        LAS12Header h;
        size_t got = 0;
        if (!lidar::check_file_and_header(name, extension, &h, sizeof h, got)) return -1;
        return kind.type = lidar::check_header_content(name, h);
    }
    LAS14Header h;
    size_t got = 0;
    if (!lidar::check_file_and_header(name, extension, &h, sizeof h, got)) return -1;
    return type_of_header(name, h, got, kind);
}

int input_type(const char *name, ByteSource &source, bool laz, InputKind &kind) {
    kind.laz = laz;
    LAS14Header h{};
    const size_t got = static_cast<size_t>(std::min<uint64_t>(source.size(), sizeof h));
    if (!source.read_at(0, &h, got)) return -1;
    if (got < lidar::kHeaderBytes || std::memcmp(h.legacy.LASF, "LASF", 4) != 0) {
        std::printf("\n%s is not a valid .las file\n\n", name);
        return -1;
    }
    return type_of_header(name, h, got, kind);
}

bool read_input_header(ByteSource &source, const InputKind &kind, InputHeader &input) {
    input = InputHeader{};
    if (!source.read_at(0, &input.h, kind.block)) return false;
    LAS14Header &h = input.h;
    if (kind.laz) h.legacy.PointDataFormatID &= static_cast<uint8_t>(~kCompressionBits);
    input.point_count = h.legacy.NumberOfPointReturns;
    // LAS 1.4 counts in 64 bits; its legacy count may be 0 beside it.
    if (kind.block == kHeaderBytes14 && h.NumberOfPointRecords != 0) input.point_count = h.NumberOfPointRecords;
    return true;
}
