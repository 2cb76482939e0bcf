// Attribute table output: the dBASE table (.dbf) of the points' attributes.
//
// The table is created empty with the schema of the run's LAS type through
// Shapelib; its rows are appended by this code, one fixed-width text row per
// point, to the end of the file the library left.
#pragma once

#include "LiDAR.h"
#include "las_model.hpp"

#include <cstdint>
#include <string>
#include <shapefil.h>

// Every column of every schema: its name as passed to the library, its type,
// width and decimals, and the name that its failure message uses.
enum class Column : uint8_t {
    Intensity, ReturnNumber, NumberReturns, ScanDirection, EdgeOfFlightLine, Classification, ScanAngleRank,
    FileMarker, UserBitField, UserData, PointSourceID, GPSTime, Red, Green, Blue,
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
};

constexpr const ColumnInfo &info_of(Column c) { return kColumnInfo[static_cast<int>(c)]; }

// The columns of a LAS type's table, in order: seven common ones, two that
// LAS 1.0 names differently from 1.1 and 1.2, then GPS time and colour where
// the point format has them.
struct Schema {
    Column columns[13];
    int count;
};

inline constexpr Column kCommonColumns[] = {
    Column::Intensity,        Column::ReturnNumber,   Column::NumberReturns, Column::ScanDirection,
    Column::EdgeOfFlightLine, Column::Classification, Column::ScanAngleRank,
};
inline constexpr Column kColourColumns[] = {Column::Red, Column::Green, Column::Blue};

constexpr Schema schema_of(int las_type) {
    const lidar::LasTypeInfo &t = lidar::kLasTypes[las_type];
    Schema s{{}, 0};
    for (Column c : kCommonColumns) s.columns[s.count++] = c;
    s.columns[s.count++] = t.version_minor == 0 ? Column::FileMarker : Column::UserData;
    s.columns[s.count++] = t.version_minor == 0 ? Column::UserBitField : Column::PointSourceID;
    if (t.point_format == 1 || t.point_format == 3) s.columns[s.count++] = Column::GPSTime;
    if (t.point_format == 2 || t.point_format == 3)
        for (Column c : kColourColumns) s.columns[s.count++] = c;
    return s;
}

// dBASE III: a 32-byte table header, 32 bytes per field descriptor and a
// terminator byte; a row is a deletion flag and the fields' widths.
constexpr int header_length_of(int las_type) { return 33 + 32 * schema_of(las_type).count; }
constexpr int record_length_of(int las_type) {
    const Schema s = schema_of(las_type);
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
void format_row(char *row, const typename lidar::LasType<N>::Point &p);
