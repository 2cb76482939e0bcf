// The record types the writers know, by type index.
//
// Types 1 to 8 are the library's LAS 1.0-1.2 types (las_model.hpp). Types 9
// to 11 are the layouts of LAS 1.4 point formats 6, 7 and 8, which only the
// converter reads. Every other point format of LAS 1.3 and 1.4 is written
// through one of these: formats 0 to 5 as the LAS 1.2 type of the same format
// (4 as 1, 5 as 3; the waveform packet that follows is not an attribute),
// format 9 as 6 and format 10 as 8. The type's layout is a prefix of the
// file's record: what follows it (waveform packets, extra bytes) is stepped
// over by the record length.
#pragma once

#include "LiDAR.h"
#include "las_model.hpp"

#include <cstddef>
#include <cstdint>

#pragma pack(push, 1)

// LAS 1.4 point formats 6 to 8. The return byte holds the return number
// (bits 0-3) and the number of returns (bits 4-7); the flag byte the
// synthetic, key-point, withheld and overlap flags (bits 0-3), the scanner
// channel (bits 4-5), the scan direction (bit 6) and the edge of flight line
// (bit 7). The scan angle is in units of 0.006 degree.
#define TESSALINE_POINT_FIELDS_FORMAT6                                       \
    int32_t  X;                                                              \
    int32_t  Y;                                                              \
    int32_t  Z;                                                              \
    uint16_t Intensity;                                                      \
    uint8_t  ReturnByte;                                                     \
    uint8_t  FlagByte;                                                       \
    uint8_t  Classification;                                                 \
    uint8_t  UserData;                                                       \
    int16_t  ScanAngle;                                                      \
    uint16_t PointSourceID;                                                  \
    double   GPSTime;

struct LAS14fm6 { TESSALINE_POINT_FIELDS_FORMAT6 };
struct LAS14fm7 { TESSALINE_POINT_FIELDS_FORMAT6 uint16_t Red; uint16_t Green; uint16_t Blue; };
struct LAS14fm8 { TESSALINE_POINT_FIELDS_FORMAT6 uint16_t Red; uint16_t Green; uint16_t Blue; uint16_t NIR; };
#undef TESSALINE_POINT_FIELDS_FORMAT6

#pragma pack(pop)

static_assert(sizeof(LAS14fm6) == 30 && sizeof(LAS14fm7) == 36 && sizeof(LAS14fm8) == 38, "format 6-8 sizes");
static_assert(offsetof(LAS14fm6, ReturnByte) == 14 && offsetof(LAS14fm6, Classification) == 16 &&
                  offsetof(LAS14fm6, ScanAngle) == 18 && offsetof(LAS14fm6, PointSourceID) == 20 &&
                  offsetof(LAS14fm6, GPSTime) == 22,
              "format 6 offsets");
static_assert(offsetof(LAS14fm7, Red) == 30 && offsetof(LAS14fm8, NIR) == 36, "colour and near infrared");

namespace records {

inline constexpr int kTypeCount = 11;
inline constexpr int kFirstFormat6Type = lidar::kLasTypeCount + 1;

// The point format whose layout and table a type has.
constexpr unsigned point_format_of(int type) {
    return type <= lidar::kLasTypeCount ? lidar::kLasTypes[type].point_format
                                        : 6u + static_cast<unsigned>(type - kFirstFormat6Type);
}

// LAS 1.0 names two of its columns apart from 1.1 and later.
constexpr bool is_las10(int type) { return type <= lidar::kLasTypeCount && lidar::kLasTypes[type].version_minor == 0; }

// Layouts by type index.
template <int T> struct RecordType : lidar::LasType<T> {};
template <> struct RecordType<9> { using Header = LAS12Header; using Point = LAS14fm6; };
template <> struct RecordType<10> { using Header = LAS12Header; using Point = LAS14fm7; };
template <> struct RecordType<11> { using Header = LAS12Header; using Point = LAS14fm8; };

template <int T> using PointOf = typename RecordType<T>::Point;

// The standard record length of each point format of LAS 1.0 to 1.4: the
// attributes, the waveform packet of formats 4, 5, 9 and 10 included, and no
// extra bytes.
inline constexpr unsigned kHighestFormat = 10;
inline constexpr uint16_t kStandardRecordLength[kHighestFormat + 1] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};

// The type that writes a LAS 1.3 or 1.4 point format, and a LAS 1.0 to 1.2
// format whose records carry extra bytes.
inline constexpr int kTypeOfLas14Format[kHighestFormat + 1] = {5, 6, 7, 8, 6, 8, 9, 10, 11, 9, 11};

constexpr bool types_fit_formats() {
    for (unsigned f = 0; f <= kHighestFormat; ++f) {
        const int t = kTypeOfLas14Format[f];
        const unsigned own = point_format_of(t);
        if (kStandardRecordLength[own] > kStandardRecordLength[f]) return false;
    }
    return true;
}
static_assert(types_fit_formats(), "each type's layout is a prefix of the formats it writes");
static_assert(sizeof(PointOf<9>) == kStandardRecordLength[6] && sizeof(PointOf<10>) == kStandardRecordLength[7] &&
                  sizeof(PointOf<11>) == kStandardRecordLength[8] && sizeof(PointOf<8>) == kStandardRecordLength[3],
              "the layouts have their formats' standard lengths");

}  // namespace records
