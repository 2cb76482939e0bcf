#include "dbf_writer.h"

#include "dbf_text.h"
#include "end_run.h"
#include "output.h"

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
int checked_close(SAFile file) {
    const int r = g_library_io.FClose(file);
    if (r != 0) g_dbf_io_failed = true;
    return r;
}
void quiet_error(const char *) {}

SAHooks checking_hooks() {
    SASetupDefaultHooks(&g_library_io);
    SAHooks hooks = g_library_io;
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

template <int N>
void create_table(const char *dbfname) {
    constexpr Schema schema = schema_of(N);
    SAHooks hooks = checking_hooks();
    g_dbf_io_failed = false;
    std::unique_ptr<DBFInfo, DbfCloser> table(DBFCreateLL(dbfname, kCodePage, &hooks));
    if (!table) {
        std::printf("DBFCreate(%s) failed.\n", dbfname);
        end_run(-1);
    }
    for (int k = 0; k < schema.count; ++k) {
        const ColumnInfo &c = info_of(schema.columns[k]);
        if (DBFAddField(table.get(), c.name, c.type, c.width, c.decimals) == -1) {
            std::printf("Failed to add field %s to %s\n", c.reported, dbfname);
            end_run(-1);
        }
    }
    DBFSetLastModifiedDate(table.get(), kDbfDate[0], kDbfDate[1], kDbfDate[2]);
    // Rows are appended at the end of the file: nothing may follow the header.
    DBFSetWriteEndOfFileChar(table.get(), 0);
    DBFClose(table.release());
    if (g_dbf_io_failed) fail_writing(dbfname);
    // A code page file would tell readers to decode the table otherwise.
    std::remove(cpg_name_of(dbfname).c_str());
}

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
    else return p.Blue;
}

// The four flag columns, one place each, always stand together in this
// order: their text comes from the flag byte in one step, written with the
// first of them.
constexpr Column kFlagColumns[4] = {Column::ReturnNumber, Column::NumberReturns, Column::ScanDirection,
                                    Column::EdgeOfFlightLine};

constexpr bool flags_stand_together() {
    for (int type = 1; type <= lidar::kLasTypeCount; ++type) {
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

template <Column C, typename Point>
char *put_column(char *at, const Point &p) {
    if constexpr (C == kFlagColumns[0]) {
        std::memcpy(at, kFlagText.text[static_cast<uint8_t>(p.bitfield)], 4);
    } else if constexpr (C == kFlagColumns[1] || C == kFlagColumns[2] || C == kFlagColumns[3]) {
        // written with the first flag column
    } else if constexpr (C == Column::GPSTime) {
        static_assert(info_of(C).width == kGpsTimeWidth && info_of(C).decimals == kGpsTimeDecimals, "GPSTime");
        put_gps_time(at, p.GPSTime);
    } else {
        put_integer(at, info_of(C).width, column_value<C>(p));
    }
    return at + info_of(C).width;
}

template <int N, size_t... K>
void put_columns(char *at, const typename lidar::LasType<N>::Point &p, std::index_sequence<K...>) {
    constexpr Schema schema = schema_of(N);
    ((at = put_column<schema.columns[K]>(at, p)), ...);
}

template <int N>
void append_rows(const char *dbfname, const typename lidar::LasType<N>::Point *p, int32_t nRecords) {
    Output dbf;
    output_open(dbf, dbfname, "ab", "Unable to open %s for appending data\n");
    constexpr size_t kRow = record_length_of(N);
    for (int32_t i = 0; i < nRecords;) {
        const auto run = static_cast<int32_t>(output_batch(dbf, kRow, static_cast<size_t>(nRecords - i)));
        char *row = reinterpret_cast<char *>(output_reserve(dbf, static_cast<size_t>(run) * kRow));
        for (const int32_t end = i + run; i < end; ++i, row += kRow) {
            prefetch_ahead(p + i);
            format_row<N>(row, p[i]);
        }
    }
    output_close(dbf);
}

}  // namespace

std::string cpg_name_of(const char *dbfname) {
    const size_t length = std::strlen(dbfname);
    return std::string(dbfname, length >= 4 ? length - 4 : 0) + ".cpg";
}

template <int N>
void format_row(char *row, const typename lidar::LasType<N>::Point &p) {
    row[0] = ' ';  // not deleted
    put_columns<N>(row + 1, p, std::make_index_sequence<schema_of(N).count>{});
}

#define TESSALINE_DBF_FAMILY(N)                                                                            \
    template void format_row<N>(char *, const lidar::LasType<N>::Point &);                                 \
    void createDBF##N(const char *dbfname) { create_table<N>(dbfname); }                                  \
    void addtoDBF##N(const char *dbfname, const lidar::LasType<N>::Point *p, const lidar::LasType<N>::Header *, \
                     int32_t nRecords) {                                                                   \
        append_rows<N>(dbfname, p, nRecords);                                                              \
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
