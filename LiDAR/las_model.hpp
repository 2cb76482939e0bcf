// The LAS type index and what hangs off it, stated once for the library and
// the converter: which version and point format each of the eight types is,
// its header and point layouts, its record size; the decoding of the packed
// return byte and the scaling of integer coordinates.
//
// C++ only and header-only: nothing here is exported from the library.
#pragma once

#include "LiDAR.h"
#include "platform.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>


namespace lidar {

// Version minor number, point format and record size of each LAS type index
// (1 to 8). Index 0 is unused so that the table reads by type.
struct LasTypeInfo {
    uint8_t  version_minor;
    uint8_t  point_format;
    uint16_t record_length;
};

inline constexpr int kLasTypeCount = 8;
inline constexpr LasTypeInfo kLasTypes[kLasTypeCount + 1] = {
    {0, 0, 0},
    {0, 0, 20}, {0, 1, 28},                           // LAS 1.0
    {1, 0, 20}, {1, 1, 28},                           // LAS 1.1
    {2, 0, 20}, {2, 1, 28}, {2, 2, 26}, {2, 3, 34},   // LAS 1.2
};

// The type index of a (minor version, point format) pair of LAS 1.x, or 0
// where the pair has none (LAS 1.0 and 1.1 with formats 2 and 3).
constexpr int16_t las_type_of(unsigned version_minor, unsigned point_format) {
    for (int t = 1; t <= kLasTypeCount; ++t)
        if (kLasTypes[t].version_minor == version_minor && kLasTypes[t].point_format == point_format)
            return static_cast<int16_t>(t);
    return 0;
}

// Layouts by type index.
template <int T> struct LasType;
template <> struct LasType<1> { using Header = LAS10Header; using Point = LAS10fm0; };
template <> struct LasType<2> { using Header = LAS10Header; using Point = LAS10fm1; };
template <> struct LasType<3> { using Header = LAS11Header; using Point = LAS11fm0; };
template <> struct LasType<4> { using Header = LAS11Header; using Point = LAS11fm1; };
template <> struct LasType<5> { using Header = LAS12Header; using Point = LAS12fm0; };
template <> struct LasType<6> { using Header = LAS12Header; using Point = LAS12fm1; };
template <> struct LasType<7> { using Header = LAS12Header; using Point = LAS12fm2; };
template <> struct LasType<8> { using Header = LAS12Header; using Point = LAS12fm3; };

template <int T>
constexpr bool layout_matches_table() {
    return sizeof(typename LasType<T>::Point) == kLasTypes[T].record_length &&
           sizeof(typename LasType<T>::Header) == 227;
}
static_assert(layout_matches_table<1>() && layout_matches_table<2>() && layout_matches_table<3>() &&
                  layout_matches_table<4>() && layout_matches_table<5>() && layout_matches_table<6>() &&
                  layout_matches_table<7>() && layout_matches_table<8>(),
              "point layouts must have the record sizes of the type table");

inline constexpr uint32_t kHeaderBytes = 227;

// The tool suite's name: the banner's first line and the generating software
// of the LAS headers that the suite's tools initialise.
inline constexpr char kSuiteName[] = "Oxbrae LiDAR Utilities";

// Return information packed in a point's bitfield byte. The byte is held
// signed; the masks work on its bit pattern.
struct ReturnInfo {
    int return_number;      // bits 0-2
    int number_of_returns;  // bits 3-5
    int scan_direction;     // bit 6
    int edge_of_flight;     // bit 7
};

constexpr ReturnInfo decode_bitfield(int8_t bitfield) {
    const unsigned b = static_cast<uint8_t>(bitfield);
    return ReturnInfo{static_cast<int>(b & 7u), static_cast<int>((b & 0x38u) >> 3),
                      static_cast<int>((b & 0x40u) >> 6), static_cast<int>((b & 0x80u) >> 7)};
}

// check_las's checks of the file and its name, then its reading of the
// public header block: the file must be a regular one that can be opened,
// its name must end in "." and `extension`, and it must start with the
// signature and hold at least the 227 bytes of a LAS 1.0-1.2 header. Up to
// `size` bytes are read into `header` and their count into `got`. Returns
// false after printing the reason.
inline bool check_file_and_header(const char *filename, const char *extension, void *header, size_t size,
                                  size_t &got) {
    // A folder or a device is refused before anything opens it: opening a
    // named pipe for reading would wait for a writer that never comes.
    const platform::Kind kind = platform::kind_of(filename);
    if (kind != platform::Kind::none && kind != platform::Kind::regular) {
        std::printf("\n%s is not a regular file\n", filename);
        return false;
    }
    if (file_access(filename) != 0) {
        error_msg(1, filename);
        return false;
    }
    if (check_file_extension(filename, extension) != 0) return false;

    std::FILE *f = platform::fopen(filename, "rb");
    if (f == nullptr) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        return false;
    }
    // The whole public header block is read at once: a file that carries the
    // signature but ends before byte 227 is no LAS file either.
    got = std::fread(header, 1, size, f);
    std::fclose(f);
    if (got < 4 || std::memcmp(header, "LASF", 4) != 0 || got < kHeaderBytes) {
        std::printf("\n%s is not a valid .las file\n\n", filename);
        return false;
    }
    return true;
}

// Versions and formats are shown as the character 48 + the byte's value,
// a digit for the values 0 to 9.
constexpr char as_digit(uint8_t value) { return static_cast<char>('0' + value); }

// The checks of check_las on the content of a whole public header block:
// the version (1.0 to 1.2), the point format (0 to 3) and the record length
// of the format. Returns the type index, 0 for a version and format pair
// without one, or -1 after printing the reason.
inline int16_t check_header_content(const char *filename, const LAS12Header &h) {
    if (h.VersionMajor != 1) {
        std::printf("\nCannot handle las files of version %c.x\n", as_digit(h.VersionMajor));
        return -1;
    }
    if (h.VersionMinor > 2) {
        std::printf("\nCannot handle las files of version %c.%c\n", as_digit(h.VersionMajor), as_digit(h.VersionMinor));
        return -1;
    }
    if (h.PointDataFormatID > 3) {
        std::printf("\nPointDataFormatID in %s is %c. Only 0, 1, 2, or 3 is accepted\n", filename,
                    as_digit(h.PointDataFormatID));
        return -1;
    }
    const int16_t type = las_type_of(h.VersionMinor, h.PointDataFormatID);
    if (type == 0) return 0;
    if (h.PointDataRecordLength != kLasTypes[type].record_length) {
        std::printf("\nData format of %s (%c) is incompatible with Length of Data Record (%d)\n", filename,
                    as_digit(h.PointDataFormatID), h.PointDataRecordLength);
        return -1;
    }
    return type;
}

// Real coordinate of an integer one: the product is rounded before the
// offset is added (two operations, never a fused multiply-add; the build
// passes -ffp-contract=off so that the compiler does not fuse them).
inline double scale_coordinate(int32_t raw, double scale, double offset) {
    const double product = static_cast<double>(raw) * scale;
    return product + offset;
}

}  // namespace lidar
