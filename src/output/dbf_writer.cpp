#include "dbf_writer.h"

#include "dbf_text.h"
#include "end_run.h"
#include "extra_values.h"
#include "output.h"
#include "platform.h"

#include <array>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <utility>

namespace {

// Shapelib writes the table through these hooks: the library's own file
// functions, with every write, flush and close checked, since the library
// itself does not report a failed write. Error messages of the library are
// not printed; the table's own message says what went wrong.
SAHooks g_library_io;
bool g_dbf_io_failed = false;

SAOffset checked_write(void *p, SAOffset size, SAOffset nmemb, SAFile file) {
    const SAOffset n = g_library_io.FWrite(p, size, nmemb, file);
    if (n != nmemb) g_dbf_io_failed = true;
    return n;
}
int checked_flush(SAFile file) {
    const int r = g_library_io.FFlush(file);
    if (r != 0) g_dbf_io_failed = true;
    return r;
}
// Names are opened as the rest of the run opens them (UTF-8 on Windows).
SAFile open_by_name(const char *name, const char *mode) { return reinterpret_cast<SAFile>(platform::fopen(name, mode)); }
int remove_by_name(const char *name) { return platform::remove(name); }
int checked_close(SAFile file) {
    const int r = g_library_io.FClose(file);
    if (r != 0) g_dbf_io_failed = true;
    return r;
}
void quiet_error(const char *) {}

SAHooks checking_hooks() {
    SASetupDefaultHooks(&g_library_io);
    SAHooks hooks = g_library_io;
    hooks.FOpen = open_by_name;
    hooks.Remove = remove_by_name;
    hooks.FWrite = checked_write;
    hooks.FFlush = checked_flush;
    hooks.FClose = checked_close;
    hooks.Error = quiet_error;
    return hooks;
}

// The fixed date of last update, year since 1900, month, day.
constexpr int kDbfDate[3] = {95, 7, 26};
// Language driver 87 (ANSI); given this way, the library writes no .cpg and
// removes one left by an earlier run.
constexpr const char *kCodePage = "LDID/87";

struct DbfCloser {
    void operator()(DBFInfo *h) const { DBFClose(h); }
};

void add_field(DBFInfo *table, const char *dbfname, const char *name, DBFFieldType type, int width, int decimals,
               const char *reported) {
    if (DBFAddField(table, name, type, width, decimals) == -1) {
        std::printf("Failed to add field %s to %s\n", reported, dbfname);
        end_run(-1);
    }
}

}  // namespace

template <int N>
void create_table(const char *dbfname, const ExtraColumns &extras, const ColumnChoice &choice) {
    constexpr Schema schema = schema_of(N);
    SAHooks hooks = checking_hooks();
    g_dbf_io_failed = false;
    std::unique_ptr<DBFInfo, DbfCloser> table(DBFCreateLL(dbfname, kCodePage, &hooks));
    if (!table) {
        std::printf("DBFCreate(%s) failed.\n", dbfname);
        end_run(-1);
    }
    // Column k of the whole table: the schema's, then the extra columns.
    const auto add_column = [&](size_t k) {
        if (k < static_cast<size_t>(schema.count)) {
            const ColumnInfo &c = info_of(schema.columns[k]);
            add_field(table.get(), dbfname, c.name, c.type, c.width, c.decimals, c.reported);
            return;
        }
        const ExtraColumn &c = extras[k - static_cast<size_t>(schema.count)];
        add_field(table.get(), dbfname, c.name.c_str(), c.decimals > 0 ? FTDouble : FTInteger, c.width, c.decimals,
                  c.name.c_str());
    };
    if (choice.picked.empty())
        for (size_t k = 0; k < static_cast<size_t>(schema.count) + extras.size(); ++k) add_column(k);
    for (const int k : choice.picked) add_column(static_cast<size_t>(k));
    DBFSetLastModifiedDate(table.get(), kDbfDate[0], kDbfDate[1], kDbfDate[2]);
    // Rows are appended at the end of the file: nothing may follow the header.
    DBFSetWriteEndOfFileChar(table.get(), 0);
    DBFClose(table.release());
    if (g_dbf_io_failed) fail_writing(dbfname);
    // A code page file would tell readers to decode the table otherwise.
    platform::remove(cpg_name_of(dbfname).c_str());
}

namespace {

// The value of an integer column of point `p` (the flag columns are below).
template <Column C, typename Point>
int32_t column_value(const Point &p) {
    if constexpr (C == Column::Intensity) return p.Intensity;
    else if constexpr (C == Column::Classification) return p.Classification;
    else if constexpr (C == Column::ScanAngleRank) return p.ScanAngleRank;  // signed
    else if constexpr (C == Column::FileMarker) return p.FileMarker;
    else if constexpr (C == Column::UserBitField) return p.UserBitField;
    else if constexpr (C == Column::UserData) return p.UserData;
    else if constexpr (C == Column::PointSourceID) return p.PointSourceID;
    else if constexpr (C == Column::Red) return p.Red;
    else if constexpr (C == Column::Green) return p.Green;
    else if constexpr (C == Column::Blue) return p.Blue;
    else return p.NIR;
}

// The four flag columns, one place each, always stand together in this
// order: their text comes from the flag byte in one step, written with the
// first of them.
constexpr Column kFlagColumns[4] = {Column::ReturnNumber, Column::NumberReturns, Column::ScanDirection,
                                    Column::EdgeOfFlightLine};

constexpr bool flags_stand_together() {
    for (int type = 1; type <= records::kTypeCount; ++type) {
        const Schema s = schema_of(type);
        for (int k = 0; k < s.count; ++k)
            if (s.columns[k] == kFlagColumns[0])
                for (int f = 0; f < 4; ++f)
                    if (k + f >= s.count || s.columns[k + f] != kFlagColumns[f] || info_of(kFlagColumns[f]).width != 1)
                        return false;
    }
    return true;
}
static_assert(flags_stand_together(), "the flag columns are adjacent, one place each, in every schema");

struct FlagText {
    char text[256][4];
};
constexpr FlagText make_flag_text() {
    FlagText t{};
    for (int b = 0; b < 256; ++b) {
        const lidar::ReturnInfo r = lidar::decode_bitfield(static_cast<int8_t>(b));
        const int values[4] = {r.return_number, r.number_of_returns, r.scan_direction, r.edge_of_flight};
        for (int f = 0; f < 4; ++f) t.text[b][f] = static_cast<char>('0' + values[f]);  // all below 10
    }
    return t;
}
inline constexpr FlagText kFlagText = make_flag_text();

// Point formats 6 to 10 keep their return numbers, two places each, in one
// byte and seven one-place columns in the next; each byte's text in one step
// too, written with the first column of its group.
constexpr Column kReturnColumns[2] = {Column::ReturnNumber14, Column::NumberReturns14};
constexpr Column kFlag14Columns[7] = {Column::Synthetic,      Column::KeyPoint,        Column::Withheld,
                                      Column::Overlap,        Column::ScannerChannel,  Column::ScanDirection14,
                                      Column::EdgeOfFlightLine14};

constexpr bool format6_groups_stand_together() {
    const Schema s = schema_of(records::kFirstFormat6Type);
    int k = 0;
    while (k < s.count && s.columns[k] != kReturnColumns[0]) ++k;
    for (int f = 0; f < 2; ++f)
        if (k + f >= s.count || s.columns[k + f] != kReturnColumns[f] || info_of(kReturnColumns[f]).width != 2)
            return false;
    for (int f = 0; f < 7; ++f)
        if (k + 2 + f >= s.count || s.columns[k + 2 + f] != kFlag14Columns[f] || info_of(kFlag14Columns[f]).width != 1)
            return false;
    return true;
}
static_assert(format6_groups_stand_together(), "the return and flag columns of formats 6 to 10 are adjacent");

struct ByteText {
    char returns[256][4];  // return number and number of returns, bits 0-3 and 4-7
    char flags[256][8];    // bits 0, 1, 2, 3, then 4-5, 6 and 7; the eighth character is spare
};
constexpr ByteText make_byte_text() {
    ByteText t{};
    for (int b = 0; b < 256; ++b) {
        const int halves[2] = {b & 0x0F, b >> 4};
        for (int h = 0; h < 2; ++h) {
            t.returns[b][2 * h] = halves[h] >= 10 ? '1' : ' ';
            t.returns[b][2 * h + 1] = static_cast<char>('0' + halves[h] % 10);
        }
        const int values[7] = {b & 1, (b >> 1) & 1, (b >> 2) & 1, (b >> 3) & 1, (b >> 4) & 3, (b >> 6) & 1, b >> 7};
        for (int f = 0; f < 7; ++f) t.flags[b][f] = static_cast<char>('0' + values[f]);
    }
    return t;
}
inline constexpr ByteText kByteText = make_byte_text();

// The scan angle of formats 6 to 10, in 0.006 degree units, as the exact
// decimal of raw x 6 / 1000 in eight places with three decimals: the
// thousandths are whole numbers, so no rounding is involved.
inline void put_scan_angle(char *at, int16_t raw) {
    static_assert(info_of(Column::ScanAngle).width == 8 && info_of(Column::ScanAngle).decimals == 3, "ScanAngle");
    const int32_t v = int32_t{raw} * 6;  // -196608 to 196602
    const uint32_t magnitude = v < 0 ? static_cast<uint32_t>(-v) : static_cast<uint32_t>(v);
    const uint32_t whole = magnitude / 1000;  // below 1000
    std::memcpy(at, "        ", 8);
    std::memcpy(at + 5, dbf_text_detail::kDigits.zero4[magnitude % 1000] + 1, 3);
    at[4] = '.';
    std::memcpy(at + 1, dbf_text_detail::kDigits.blank3[whole], 3);
    if (v < 0) at[3 - (whole >= 100 ? 3 : whole >= 10 ? 2 : 1)] = '-';
}

template <Column C, typename Point>
char *put_column(char *at, const Point &p) {
    if constexpr (C == kFlagColumns[0]) {
        std::memcpy(at, kFlagText.text[static_cast<uint8_t>(p.bitfield)], 4);
    } else if constexpr (C == kFlagColumns[1] || C == kFlagColumns[2] || C == kFlagColumns[3]) {
        // written with the first flag column
    } else if constexpr (C == kReturnColumns[0]) {
        std::memcpy(at, kByteText.returns[p.ReturnByte], 4);
    } else if constexpr (C == kFlag14Columns[0]) {
        std::memcpy(at, kByteText.flags[p.FlagByte], 8);  // the spare eighth is overwritten by the next column
    } else if constexpr (C == kReturnColumns[1] || C == kFlag14Columns[1] || C == kFlag14Columns[2] ||
                         C == kFlag14Columns[3] || C == kFlag14Columns[4] || C == kFlag14Columns[5] ||
                         C == kFlag14Columns[6]) {
        // written with the first column of its group
    } else if constexpr (C == Column::ScanAngle) {
        put_scan_angle(at, p.ScanAngle);
    } else if constexpr (C == Column::GPSTime) {
        static_assert(info_of(C).width == kGpsTimeWidth && info_of(C).decimals == kGpsTimeDecimals, "GPSTime");
        put_gps_time(at, p.GPSTime);
    } else {
        put_integer(at, info_of(C).width, column_value<C>(p));
    }
    return at + info_of(C).width;
}

template <int N, size_t... K>
void put_columns(char *at, const records::PointOf<N> &p, std::index_sequence<K...>) {
    constexpr Schema schema = schema_of(N);
    ((at = put_column<schema.columns[K]>(at, p)), ...);
}

// One column of a row on its own, for a table of chosen columns: a column
// that the whole row writes with the others of its group writes only its
// own places here.
template <size_t Count>
constexpr int place_in(const Column (&group)[Count], Column c) {
    for (size_t f = 0; f < Count; ++f)
        if (group[f] == c) return static_cast<int>(f);
    return -1;
}

template <Column C, typename Point>
void put_alone(char *at, const Point &p) {
    if constexpr (place_in(kFlagColumns, C) >= 0) {
        *at = kFlagText.text[static_cast<uint8_t>(p.bitfield)][place_in(kFlagColumns, C)];
    } else if constexpr (place_in(kReturnColumns, C) >= 0) {
        std::memcpy(at, kByteText.returns[p.ReturnByte] + 2 * place_in(kReturnColumns, C), 2);
    } else if constexpr (place_in(kFlag14Columns, C) >= 0) {
        *at = kByteText.flags[p.FlagByte][place_in(kFlag14Columns, C)];
    } else {
        put_column<C>(at, p);
    }
}

// A schema column's text from the record at `record`.
using PutField = void (*)(char *at, const unsigned char *record);

template <int N, Column C>
void put_field(char *at, const unsigned char *record) {
    put_alone<C>(at, *reinterpret_cast<const records::PointOf<N> *>(record));
}

template <int N, size_t... K>
constexpr std::array<PutField, sizeof...(K)> field_writers(std::index_sequence<K...>) {
    return {&put_field<N, schema_of(N).columns[K]>...};
}

// The writer of each schema column of type N, in the schema's order.
template <int N>
inline constexpr auto kFieldWriters = field_writers<N>(std::make_index_sequence<schema_of(N).count>{});

// A chosen column of the row: a schema column's writer, or an extra column.
struct FieldStep {
    PutField put;               // nullptr for an extra column
    const ExtraColumn *extra;
    size_t width;
};

}  // namespace

namespace {

// Stages the rows, `row_length` characters each, of `nRecords` records
// lying `stride` bytes apart, in runs that fit the staging buffer; `put`
// writes the row of one record.
template <typename Put>
void stage_rows(Output &dbf, const unsigned char *records, size_t stride, int32_t nRecords, size_t row_length,
                Put put) {
    const unsigned char *record = records;
    for (int32_t i = 0; i < nRecords;) {
        const auto run = static_cast<int32_t>(output_batch(dbf, row_length, static_cast<size_t>(nRecords - i)));
        char *row = reinterpret_cast<char *>(output_reserve(dbf, static_cast<size_t>(run) * row_length));
        for (const int32_t end = i + run; i < end; ++i, row += row_length, record += stride) {
            prefetch_ahead(record, stride);
            put(row, record);
        }
    }
}

// The rows of `nRecords` records, of the chosen columns only: each field
// written on its own, in the order chosen.
template <int N>
void append_chosen_rows(Output &dbf, const unsigned char *records, size_t stride, int32_t nRecords,
                        const ExtraColumns &extras, const ColumnChoice &choice) {
    constexpr size_t kSchemaCount = static_cast<size_t>(schema_of(N).count);
    std::vector<FieldStep> steps;
    size_t row_length = 1;
    for (const int picked : choice.picked) {
        const auto k = static_cast<size_t>(picked);
        if (k < kSchemaCount)
            steps.push_back({kFieldWriters<N>[k], nullptr, static_cast<size_t>(info_of(schema_of(N).columns[k]).width)});
        else
            steps.push_back({nullptr, &extras[k - kSchemaCount], static_cast<size_t>(extras[k - kSchemaCount].width)});
        row_length += steps.back().width;
    }
    stage_rows(dbf, records, stride, nRecords, row_length, [&steps](char *row, const unsigned char *record) {
        row[0] = ' ';  // not deleted
        char *at = row + 1;
        for (const FieldStep &step : steps) {
            if (step.put != nullptr) step.put(at, record);
            else put_extra_value(at, *step.extra, record);
            at += step.width;
        }
    });
}

// The rows of `nRecords` records. Packed: records of the type's own size and
// no extra columns, every length known when compiled (the common case, and
// the fast one); otherwise the stride and the extra columns as given.
template <int N, bool Packed>
void append_rows_of(Output &dbf, const unsigned char *records, size_t stride, int32_t nRecords,
                    const ExtraColumns &extras) {
    constexpr size_t kFixed = record_length_of(N);
    using Point = records::PointOf<N>;
    if (Packed) stride = sizeof(Point);
    const size_t row_length = Packed ? kFixed : kFixed + static_cast<size_t>(extra_width(extras));
    stage_rows(dbf, records, stride, nRecords, row_length, [&extras](char *row, const unsigned char *record) {
        format_row<N>(row, *reinterpret_cast<const Point *>(record));
        if (Packed) return;
        char *extra = row + kFixed;
        for (const ExtraColumn &c : extras) {
            put_extra_value(extra, c, record);
            extra += c.width;
        }
    });
}

}  // namespace

template <int N>
void append_rows(Output &dbf, const unsigned char *records, size_t stride, int32_t nRecords,
                 const ExtraColumns &extras, const ColumnChoice &choice) {
    if (!choice.picked.empty())
        append_chosen_rows<N>(dbf, records, stride, nRecords, extras, choice);
    else if (extras.empty() && stride == sizeof(records::PointOf<N>))
        append_rows_of<N, true>(dbf, records, stride, nRecords, extras);
    else
        append_rows_of<N, false>(dbf, records, stride, nRecords, extras);
}

template <int N>
void append_rows(const char *dbfname, const unsigned char *records, size_t stride, int32_t nRecords,
                 const ExtraColumns &extras, const ColumnChoice &choice) {
    Output dbf;
    output_open(dbf, dbfname, "ab", "Unable to open %s for appending data\n");
    append_rows<N>(dbf, records, stride, nRecords, extras, choice);
    output_close(dbf);
}

void open_table(Output &dbf, const std::string &dbfname, uint32_t records) {
    output_open(dbf, dbfname, "rb+", kUpdateFailure);
    set_table_count(dbf, records);
}

void set_table_count(Output &dbf, uint32_t records) {
    // Bytes 4 to 7 of the header, little-endian.
    unsigned char count[4];
    std::memcpy(count, &records, 4);
    output_write_at(dbf, 4, count, 4);
}

std::string cpg_name_of(const char *dbfname) {
    const size_t length = std::strlen(dbfname);
    return std::string(dbfname, length >= 4 ? length - 4 : 0) + ".cpg";
}

template <int N>
void format_row(char *row, const records::PointOf<N> &p) {
    row[0] = ' ';  // not deleted
    put_columns<N>(row + 1, p, std::make_index_sequence<schema_of(N).count>{});
}

#define TESSALINE_DBF_TYPE(N)                                                                              \
    template void format_row<N>(char *, const records::PointOf<N> &);                                     \
    template void create_table<N>(const char *, const ExtraColumns &, const ColumnChoice &);              \
    template void append_rows<N>(const char *, const unsigned char *, size_t, int32_t, const ExtraColumns &, \
                                 const ColumnChoice &);                                                    \
    template void append_rows<N>(Output &, const unsigned char *, size_t, int32_t, const ExtraColumns &,     \
                                 const ColumnChoice &);
TESSALINE_DBF_TYPE(1)
TESSALINE_DBF_TYPE(2)
TESSALINE_DBF_TYPE(3)
TESSALINE_DBF_TYPE(4)
TESSALINE_DBF_TYPE(5)
TESSALINE_DBF_TYPE(6)
TESSALINE_DBF_TYPE(7)
TESSALINE_DBF_TYPE(8)
TESSALINE_DBF_TYPE(9)
TESSALINE_DBF_TYPE(10)
TESSALINE_DBF_TYPE(11)
#undef TESSALINE_DBF_TYPE

// The eight LAS 1.0-1.2 families: no extra columns, records packed.
#define TESSALINE_DBF_FAMILY(N)                                                                            \
    void createDBF##N(const char *dbfname) { create_table<N>(dbfname, {}); }                              \
    void addtoDBF##N(const char *dbfname, const lidar::LasType<N>::Point *p, const lidar::LasType<N>::Header *, \
                     int32_t nRecords) {                                                                   \
        append_rows<N>(dbfname, reinterpret_cast<const unsigned char *>(p), sizeof *p, nRecords, {});      \
    }
TESSALINE_DBF_FAMILY(1)
TESSALINE_DBF_FAMILY(2)
TESSALINE_DBF_FAMILY(3)
TESSALINE_DBF_FAMILY(4)
TESSALINE_DBF_FAMILY(5)
TESSALINE_DBF_FAMILY(6)
TESSALINE_DBF_FAMILY(7)
TESSALINE_DBF_FAMILY(8)
#undef TESSALINE_DBF_FAMILY
