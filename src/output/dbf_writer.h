// Attribute table output: the dBASE table (.dbf) of the points' attributes.
//
// The table is created empty with the schema of the run's LAS type through
// Shapelib; its rows are appended by this code, one fixed-width text row per
// point, to the end of the file the library left.
#pragma once

#include "LiDAR.h"
#include "extra_bytes.h"
#include "las_model.hpp"
#include "output.h"
#include "record_types.h"

#include <cstdint>
#include <string>
#include <vector>

#include <shapefil.h>

// Every column of every schema: its name as passed to the library, its type,
// width and decimals, and the name that its failure message uses.
// The columns of point formats 6 to 10 that share a name with an older one
// but not its source or width carry the suffix 14.
enum class Column : uint8_t {
    Intensity, ReturnNumber, NumberReturns, ScanDirection, EdgeOfFlightLine, Classification, ScanAngleRank,
    FileMarker, UserBitField, UserData, PointSourceID, GPSTime, Red, Green, Blue,
    ReturnNumber14, NumberReturns14, Synthetic, KeyPoint, Withheld, Overlap, ScannerChannel, ScanDirection14,
    EdgeOfFlightLine14, ScanAngle, NIR,
};

struct ColumnInfo {
    const char *name;
    DBFFieldType type;
    int width;
    int decimals;
    const char *reported;  // in "Failed to add field %s to %s\n"
};

inline constexpr ColumnInfo kColumnInfo[] = {
    {"Intensity", FTInteger, 5, 0, "Intensity"},
    {"ReturnNumber", FTInteger, 1, 0, "ReturnNumber"},
    {"NumberReturns", FTInteger, 1, 0, "NumberOfReturns"},
    {"ScanDirection", FTInteger, 1, 0, "ScanDirection"},
    {"EdgeOfFlightLine", FTInteger, 1, 0, "EdgeOfFlightLine"},
    {"Classification", FTInteger, 3, 0, "Classification"},
    {"ScanAngleRank", FTInteger, 3, 0, "ScanAngleRank"},
    {"FileMarker", FTInteger, 3, 0, "FileMarker"},
    {"UserBitField", FTInteger, 5, 0, "UserBitField"},
    {"UserData", FTInteger, 3, 0, "UserData"},
    {"PointSourceID", FTInteger, 5, 0, "PointSourceID"},
    {"GPSTime", FTDouble, 16, 8, "GPSTime"},
    {"Red", FTInteger, 5, 0, "Red"},
    {"Green", FTInteger, 5, 0, "Green"},
    {"Blue", FTInteger, 5, 0, "Blue"},
    {"ReturnNumber", FTInteger, 2, 0, "ReturnNumber"},
    {"NumberReturns", FTInteger, 2, 0, "NumberReturns"},
    {"Synthetic", FTInteger, 1, 0, "Synthetic"},
    {"KeyPoint", FTInteger, 1, 0, "KeyPoint"},
    {"Withheld", FTInteger, 1, 0, "Withheld"},
    {"Overlap", FTInteger, 1, 0, "Overlap"},
    {"ScannerChannel", FTInteger, 1, 0, "ScannerChannel"},
    {"ScanDirection", FTInteger, 1, 0, "ScanDirection"},
    {"EdgeOfFlightLine", FTInteger, 1, 0, "EdgeOfFlightLine"},
    {"ScanAngle", FTDouble, 8, 3, "ScanAngle"},
    {"NIR", FTInteger, 5, 0, "NIR"},
};

constexpr const ColumnInfo &info_of(Column c) { return kColumnInfo[static_cast<int>(c)]; }

// The columns of a type's table, in order. LAS 1.0 to 1.2: seven common
// ones, two that LAS 1.0 names differently from 1.1 and 1.2, then GPS time
// and colour where the point format has them. Point formats 6 to 8: the
// return and flag bits, classification, user data, scan angle, source and
// GPS time, then colour and near infrared where the format has them.
struct Schema {
    Column columns[19];
    int count;
};

inline constexpr Column kCommonColumns[] = {
    Column::Intensity,        Column::ReturnNumber,   Column::NumberReturns, Column::ScanDirection,
    Column::EdgeOfFlightLine, Column::Classification, Column::ScanAngleRank,
};
inline constexpr Column kFormat6Columns[] = {
    Column::Intensity,     Column::ReturnNumber14,  Column::NumberReturns14,    Column::Synthetic,
    Column::KeyPoint,      Column::Withheld,        Column::Overlap,            Column::ScannerChannel,
    Column::ScanDirection14, Column::EdgeOfFlightLine14, Column::Classification, Column::UserData,
    Column::ScanAngle,     Column::PointSourceID,   Column::GPSTime,
};
inline constexpr Column kColourColumns[] = {Column::Red, Column::Green, Column::Blue};

constexpr Schema schema_of(int type) {
    const unsigned format = records::point_format_of(type);
    Schema s{{}, 0};
    if (format >= 6) {
        for (Column c : kFormat6Columns) s.columns[s.count++] = c;
        if (format >= 7)
            for (Column c : kColourColumns) s.columns[s.count++] = c;
        if (format >= 8) s.columns[s.count++] = Column::NIR;
        return s;
    }
    const bool las10 = records::is_las10(type);
    for (Column c : kCommonColumns) s.columns[s.count++] = c;
    s.columns[s.count++] = las10 ? Column::FileMarker : Column::UserData;
    s.columns[s.count++] = las10 ? Column::UserBitField : Column::PointSourceID;
    if (format == 1 || format == 3) s.columns[s.count++] = Column::GPSTime;
    if (format == 2 || format == 3)
        for (Column c : kColourColumns) s.columns[s.count++] = c;
    return s;
}

// dBASE III: a 32-byte table header, 32 bytes per field descriptor and a
// terminator byte; a row is a deletion flag and the fields' widths.
constexpr int header_length_of(int type) { return 33 + 32 * schema_of(type).count; }
constexpr int record_length_of(int type) {
    const Schema s = schema_of(type);
    int length = 1;
    for (int k = 0; k < s.count; ++k) length += info_of(s.columns[k]).width;
    return length;
}

static_assert(header_length_of(1) == 321 && record_length_of(1) == 24, "LAS 1.0 format 0");
static_assert(header_length_of(2) == 353 && record_length_of(2) == 40, "LAS 1.0 format 1");
static_assert(header_length_of(3) == 321 && record_length_of(3) == 24, "LAS 1.1 format 0");
static_assert(header_length_of(4) == 353 && record_length_of(4) == 40, "LAS 1.1 format 1");
static_assert(header_length_of(5) == 321 && record_length_of(5) == 24, "LAS 1.2 format 0");
static_assert(header_length_of(6) == 353 && record_length_of(6) == 40, "LAS 1.2 format 1");
static_assert(header_length_of(7) == 417 && record_length_of(7) == 39, "LAS 1.2 format 2");
static_assert(header_length_of(8) == 449 && record_length_of(8) == 55, "LAS 1.2 format 3");
static_assert(header_length_of(9) == 513 && record_length_of(9) == 52, "point format 6");
static_assert(header_length_of(10) == 609 && record_length_of(10) == 67, "point format 7");
static_assert(header_length_of(11) == 641 && record_length_of(11) == 72, "point format 8");

// The schema's column names as the table stores them (ten characters at most).
std::vector<std::string> stored_names_of(int type);

// A column as the table's header stores it.
struct StoredColumn {
    std::string name;  // ten characters at most
    int width, decimals;
    bool operator==(const StoredColumn &o) const { return name == o.name && width == o.width && decimals == o.decimals; }
};

// The columns of the table of type `type` with the extra columns `extras`, in order.
std::vector<StoredColumn> stored_columns_of(int type, const ExtraColumns &extras);

// The code page file that creating the table `dbfname` removes: `dbfname`
// less its last four characters, plus ".cpg".
std::string cpg_name_of(const char *dbfname);

// Create the table `dbfname` with the type's schema and no records, and
// remove a code page file of the same name.
void createDBF1(const char *dbfname);
void createDBF2(const char *dbfname);
void createDBF3(const char *dbfname);
void createDBF4(const char *dbfname);
void createDBF5(const char *dbfname);
void createDBF6(const char *dbfname);
void createDBF7(const char *dbfname);
void createDBF8(const char *dbfname);

// Append one row per point of the chunk. `ph` is not read.
void addtoDBF1(const char *dbfname, const LAS10fm0 *p, const LAS10Header *ph, int32_t nRecords);
void addtoDBF2(const char *dbfname, const LAS10fm1 *p, const LAS10Header *ph, int32_t nRecords);
void addtoDBF3(const char *dbfname, const LAS11fm0 *p, const LAS11Header *ph, int32_t nRecords);
void addtoDBF4(const char *dbfname, const LAS11fm1 *p, const LAS11Header *ph, int32_t nRecords);
void addtoDBF5(const char *dbfname, const LAS12fm0 *p, const LAS12Header *ph, int32_t nRecords);
void addtoDBF6(const char *dbfname, const LAS12fm1 *p, const LAS12Header *ph, int32_t nRecords);
void addtoDBF7(const char *dbfname, const LAS12fm2 *p, const LAS12Header *ph, int32_t nRecords);
void addtoDBF8(const char *dbfname, const LAS12fm3 *p, const LAS12Header *ph, int32_t nRecords);

// The row of one point, record_length_of(N) characters, into `row`.
template <int N>
void format_row(char *row, const records::PointOf<N> &p);

// The table of any type, with extra columns after the schema's: created
// empty, and its rows appended from `nRecords` point records that lie
// `stride` bytes apart (the type's layout at the start of each).
template <int N>
void create_table(const char *dbfname, const ExtraColumns &extras);
template <int N>
void append_rows(const char *dbfname, const unsigned char *records, size_t stride, int32_t nRecords,
                 const ExtraColumns &extras);

// The table `dbfname` that create_table made, opened to append its rows
// through `dbf` for the rest of the run, its header's record count set to
// `records`.
void open_table(Output &dbf, const std::string &dbfname, uint32_t records);
// Sets the header's record count of the open table.
void set_table_count(Output &dbf, uint32_t records);
template <int N>
void append_rows(Output &dbf, const unsigned char *records, size_t stride, int32_t nRecords,
                 const ExtraColumns &extras);
