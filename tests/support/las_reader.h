// The tests' own reading of a LAS file and their own model of the outputs
// that converting it must give, both written from the file formats' byte
// offsets and printf, without the converter's structs or formatting code.
#pragma once

#include "las_writer.h"

#include <cstdint>
#include <string>
#include <vector>

namespace lasread {

// The attribute columns of a LAS type: names as stored (10 characters at
// most), widths and decimals.
struct Field {
    std::string name;
    int width;
    int decimals;
};

// A column that an Extra Bytes descriptor of data type 1 to 10 gives.
struct ExtraColumn {
    Field field;
    uint8_t data_type, options;
    size_t at;           // where its value lies in the point's extra bytes
    uint64_t no_data;    // the descriptor's eight no_data bytes
    double scale, offset;
};

struct LasFile {
    uint8_t version_minor = 0;
    uint8_t point_format = 0;
    int las_type = 0;                   // 0 for LAS 1.3 and 1.4, and for records with extra bytes
    uint32_t offset_to_data = 0;
    uint16_t record_length = 0;
    uint64_t count = 0;                 // LAS 1.4: the 64-bit count, else the legacy one
    double scale[3] = {0, 0, 0}, offset[3] = {0, 0, 0}, min[3] = {0, 0, 0}, max[3] = {0, 0, 0};
    std::vector<lastest::Point> points;  // decoded from the records at offset_to_data
    std::vector<ExtraColumn> extra_columns;
};

// Reads the header and every point record of a LAS 1.0 to 1.4 file, and the
// columns of its Extra Bytes record.
LasFile read_las(const std::string &path);

// X x scale + offset, rounded after each operation.
double real_coordinate(int32_t raw, double scale, double offset);

std::vector<Field> fields_of(int las_type);
int record_length(int las_type);  // deletion flag plus widths

// The attribute row of a point, with printf: " %5d%1d%1d%1d%1d%3d%3d%3d%5d",
// then "%16.8f" and "%5d%5d%5d" where the type has them. A scan angle below
// -99 is "***"; a GPS time too wide for 16 places gets fewer decimals, or
// 16 '*' (gps_text).
std::string row_of(int las_type, const lastest::Point &p);
std::string gps_text(double value);

// The same for any file: formats 0-5 of LAS 1.3 and 1.4 (and of LAS 1.0-1.2
// with extra bytes) as the LAS 1.2 format with their columns, formats 6-10
// their own, then the extra columns.
std::vector<Field> fields_of(const LasFile &las);
std::string row_of(const LasFile &las, const lastest::Point &p);

// The column name an extra bytes descriptor's 32 name bytes give, beside the
// names already in the table.
std::string extra_column_name(const std::string &raw, const std::vector<Field> &before);

// Golden bytes of the outputs' headers and records.
std::vector<uint8_t> shape_header(int32_t length_words, const double min[3], const double max[3]);
std::vector<uint8_t> pointz_record(int32_t number, double x, double y, double z);
std::vector<uint8_t> index_entry(int32_t number);
std::vector<uint8_t> dbf_header(int las_type, uint32_t records);
std::vector<uint8_t> dbf_header(const std::vector<Field> &fields, uint64_t records);

// Compares the .shp, .shx and .dbf beside `las_path` with what converting the
// LAS file must give. Returns "" when all three match byte for byte, else a
// description of the first difference.
std::string compare_outputs(const std::string &las_path, const LasFile &las);

// The console text of a completed run, with the elapsed figure as "#".
std::string console_of(const std::string &in, const std::string &shp, int las_type, uint64_t count);
// Console text with the elapsed figure replaced by "#".
std::string mask_elapsed(const std::string &out);

}  // namespace lasread
