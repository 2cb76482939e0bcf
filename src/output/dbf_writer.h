// Attribute table output: the dBASE table (.dbf) of the points' attributes.
//
// The table is created empty with the schema of the run's LAS type through
// Shapelib; its rows are appended by this code, one fixed-width text row per
// point, to the end of the file the library left.
#pragma once

#include "LiDAR.h"
#include "columns.h"
#include "las_model.hpp"
#include "output.h"
#include "record_types.h"

#include <cstdint>
#include <string>
#include <vector>

#include <shapefil.h>

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
// With a choice of columns, the table holds those only, in the order chosen.
template <int N>
void create_table(const char *dbfname, const ExtraColumns &extras, const ColumnChoice &choice = {});
template <int N>
void append_rows(const char *dbfname, const unsigned char *records, size_t stride, int32_t nRecords,
                 const ExtraColumns &extras, const ColumnChoice &choice = {});

// The table `dbfname` that create_table made, opened to append its rows
// through `dbf` for the rest of the run, its header's record count set to
// `records`.
void open_table(Output &dbf, const std::string &dbfname, uint32_t records);
// Sets the header's record count of the open table.
void set_table_count(Output &dbf, uint32_t records);
template <int N>
void append_rows(Output &dbf, const unsigned char *records, size_t stride, int32_t nRecords,
                 const ExtraColumns &extras, const ColumnChoice &choice = {});
