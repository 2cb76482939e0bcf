// Extra bytes: the bytes of a point record after its format's standard
// length, described by an Extra Bytes record (user ID "LASF_Spec",
// record ID 4) of 192-byte descriptors. Each descriptor of a plain numeric
// type becomes one numeric column of the table, after the schema's columns
// (its text in a row: output/extra_values.h).
//
// Nothing in the record is trusted: descriptors that do not fit the extra
// bytes, or a record that is not a whole number of known descriptors, give
// no column at all, and the conversion is otherwise the same.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

inline constexpr char kExtraBytesUserId[] = "LASF_Spec";
inline constexpr uint16_t kExtraBytesRecord = 4;

#pragma pack(push, 1)
struct ExtraBytesDescriptor {
    uint8_t  reserved[2];
    uint8_t  data_type;
    uint8_t  options;
    char     name[32];
    uint8_t  unused[4];
    uint8_t  no_data[8];
    uint8_t  deprecated1[16];
    uint8_t  min[8];
    uint8_t  deprecated2[16];
    uint8_t  max[8];
    uint8_t  deprecated3[16];
    double   scale;
    uint8_t  deprecated4[16];
    double   offset;
    uint8_t  deprecated5[16];
    char     description[32];
};
#pragma pack(pop)
static_assert(sizeof(ExtraBytesDescriptor) == 192, "an extra bytes descriptor is 192 bytes");
static_assert(offsetof(ExtraBytesDescriptor, name) == 4 && offsetof(ExtraBytesDescriptor, no_data) == 40 &&
                  offsetof(ExtraBytesDescriptor, scale) == 112 && offsetof(ExtraBytesDescriptor, offset) == 136 &&
                  offsetof(ExtraBytesDescriptor, description) == 160,
              "descriptor offsets");

// Descriptor options.
inline constexpr uint8_t kNoDataIsValid = 1u << 0;
inline constexpr uint8_t kScaleIsValid = 1u << 3;
inline constexpr uint8_t kOffsetIsValid = 1u << 4;

// The data types 1 to 10 that give a column.
enum class ExtraType : uint8_t { U8 = 1, I8, U16, I16, U32, I32, U64, I64, F32, F64 };

struct ExtraColumn {
    std::string name;       // at most 10 characters, unique in the table
    int width;
    int decimals;
    ExtraType type;
    uint32_t at;            // byte offset of the value in the point record
    bool scaled;            // a scale or an offset applies
    uint8_t options;        // which of them: kScaleIsValid, kOffsetIsValid
    double scale, offset;   // 1 and 0 where the options give none
    bool has_no_data;
    uint8_t no_data[8];     // compared as the type's 64-bit kind
};

using ExtraColumns = std::vector<ExtraColumn>;

// Whether two column names are the same as a table's names go: letter case aside.
bool same_column_name(const std::string &a, const std::string &b);

// The columns that the Extra Bytes record `data` describes, for records of
// `record_length` bytes whose extra bytes start at `standard_length`.
// `taken` holds the table's other column names as stored. Empty when the
// record gives none or cannot be used.
ExtraColumns extra_columns_of(const std::vector<uint8_t> &data, uint32_t standard_length, uint32_t record_length,
                              const std::vector<std::string> &taken);

// Characters of all the columns' texts.
int extra_width(const ExtraColumns &columns);
