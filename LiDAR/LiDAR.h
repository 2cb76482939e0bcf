/*
 * LiDAR utility library: the LAS record layouts and the twenty functions that
 * the Oxbrae LiDAR tools share.
 *
 * The header compiles as C (C99 or later) and as C++. Every function has C
 * linkage and is exported from the shared library under its own name.
 *
 * The LAS records below are the file's bytes as they lie on disk: packed, with
 * no padding, little-endian. They are read from a file with one block read, so
 * the library assumes a little-endian host (checked at compile time).
 */
#ifndef LIDAR_H
#define LIDAR_H

#include <stdint.h>

#if defined(_WIN32)
#  if defined(LIDAR_BUILDING)
#    define LIDAR_API __declspec(dllexport)
#  else
#    define LIDAR_API __declspec(dllimport)
#  endif
#else
#  define LIDAR_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
#  define LIDAR_STATIC_ASSERT(cond, msg) static_assert(cond, msg)
#  define LIDAR_OFFSETOF(type, field) offsetof(type, field)
#  include <cstddef>
extern "C" {
#else
#  if defined(__STDC_VERSION__) && __STDC_VERSION__ >= 201112L
#    define LIDAR_STATIC_ASSERT(cond, msg) _Static_assert(cond, msg)
#  else
/* C99 has no _Static_assert (only some C libraries lend one): an array whose
 * size is negative where the condition fails. */
#    define LIDAR_STATIC_ASSERT(cond, msg) extern char lidar_static_assert[(cond) ? 1 : -1]
#  endif
#  define LIDAR_OFFSETOF(type, field) offsetof(type, field)
#  include <stddef.h>
#endif

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#  error "LAS records are read as they lie in the file: a little-endian host is required"
#endif

/* ------------------------------------------------------------------------ */
/* Public header block, 227 bytes. The three versions differ only in the     */
/* names of bytes 4 to 7 and 90 to 93.                                       */
/* ------------------------------------------------------------------------ */

#define LIDAR_HEADER_FIELDS_8_TO_89                                          \
    uint32_t GUIDData1;                                                      \
    uint16_t GUIDData2;                                                      \
    uint16_t GUIDData3;                                                      \
    uint8_t  GUIDData4[8];                                                   \
    uint8_t  VersionMajor;                                                   \
    uint8_t  VersionMinor;                                                   \
    char     SystemIdentifier[32];                                           \
    char     GeneratingSoftware[32];

#define LIDAR_HEADER_FIELDS_94_TO_226                                        \
    uint16_t HeaderSize;                                                     \
    uint32_t OffsetToData;                                                   \
    uint32_t NumberOfVariableLengthRecords;                                  \
    uint8_t  PointDataFormatID;                                              \
    uint16_t PointDataRecordLength;                                          \
    uint32_t NumberOfPointReturns;                                           \
    uint32_t NumberOfPointsByReturn[5];                                      \
    double   XScaleFactor;                                                   \
    double   YScaleFactor;                                                   \
    double   ZScaleFactor;                                                   \
    double   XOffset;                                                        \
    double   YOffset;                                                        \
    double   ZOffset;                                                        \
    double   MaxX;                                                           \
    double   MinX;                                                           \
    double   MaxY;                                                           \
    double   MinY;                                                           \
    double   MaxZ;                                                           \
    double   MinZ;

#pragma pack(push, 1)

typedef struct LAS10Header {
    char     LASF[4];
    uint32_t Reserved;
    LIDAR_HEADER_FIELDS_8_TO_89
    uint16_t FlightDateJulian;
    uint16_t Year;
    LIDAR_HEADER_FIELDS_94_TO_226
} LAS10Header;

typedef struct LAS11Header {
    char     LASF[4];
    uint16_t FileSourceID;
    uint16_t Reserved;
    LIDAR_HEADER_FIELDS_8_TO_89
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    LIDAR_HEADER_FIELDS_94_TO_226
} LAS11Header;

typedef struct LAS12Header {
    char     LASF[4];
    uint16_t FileSourceID;
    uint16_t GlobalEncoding;
    LIDAR_HEADER_FIELDS_8_TO_89
    uint16_t FileCreationDay;
    uint16_t FileCreationYear;
    LIDAR_HEADER_FIELDS_94_TO_226
} LAS12Header;

/* ------------------------------------------------------------------------ */
/* Point data records. The first 17 bytes are common to all eight layouts.  */
/* bitfield: bits 0-2 return number, 3-5 number of returns, 6 scan          */
/* direction, 7 edge of flight line.                                        */
/* ------------------------------------------------------------------------ */

#define LIDAR_POINT_FIELDS_0_TO_16                                           \
    int32_t  X;                                                              \
    int32_t  Y;                                                              \
    int32_t  Z;                                                              \
    uint16_t Intensity;                                                      \
    int8_t   bitfield;                                                       \
    uint8_t  Classification;                                                 \
    int8_t   ScanAngleRank;

#define LIDAR_POINT_FIELDS_LAS10                                             \
    LIDAR_POINT_FIELDS_0_TO_16                                               \
    uint8_t  FileMarker;                                                     \
    uint16_t UserBitField;

#define LIDAR_POINT_FIELDS_LAS11                                             \
    LIDAR_POINT_FIELDS_0_TO_16                                               \
    uint8_t  UserData;                                                       \
    uint16_t PointSourceID;

typedef struct LAS10fm0 { LIDAR_POINT_FIELDS_LAS10 } LAS10fm0;
typedef struct LAS10fm1 { LIDAR_POINT_FIELDS_LAS10 double GPSTime; } LAS10fm1;
typedef struct LAS11fm0 { LIDAR_POINT_FIELDS_LAS11 } LAS11fm0;
typedef struct LAS11fm1 { LIDAR_POINT_FIELDS_LAS11 double GPSTime; } LAS11fm1;
typedef struct LAS12fm0 { LIDAR_POINT_FIELDS_LAS11 } LAS12fm0;
typedef struct LAS12fm1 { LIDAR_POINT_FIELDS_LAS11 double GPSTime; } LAS12fm1;
typedef struct LAS12fm2 {
    LIDAR_POINT_FIELDS_LAS11
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm2;
typedef struct LAS12fm3 {
    LIDAR_POINT_FIELDS_LAS11
    double   GPSTime;
    uint16_t Red;
    uint16_t Green;
    uint16_t Blue;
} LAS12fm3;

#pragma pack(pop)

#define LIDAR_ASSERT_HEADER(T)                                                           \
    LIDAR_STATIC_ASSERT(sizeof(T) == 227, #T " must be 227 bytes");                      \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, VersionMajor) == 24, #T " VersionMajor");      \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, HeaderSize) == 94, #T " HeaderSize");          \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, OffsetToData) == 96, #T " OffsetToData");      \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, PointDataFormatID) == 104, #T " format");      \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, PointDataRecordLength) == 105, #T " length");  \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, NumberOfPointReturns) == 107, #T " count");    \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, NumberOfPointsByReturn) == 111, #T " by ret"); \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, XScaleFactor) == 131, #T " XScaleFactor");     \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, XOffset) == 155, #T " XOffset");               \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, MaxX) == 179, #T " MaxX");                     \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, MinZ) == 219, #T " MinZ")

LIDAR_ASSERT_HEADER(LAS10Header);
LIDAR_ASSERT_HEADER(LAS11Header);
LIDAR_ASSERT_HEADER(LAS12Header);
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS10Header, FlightDateJulian) == 90, "LAS10Header day");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12Header, GlobalEncoding) == 6, "LAS12Header encoding");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12Header, FileCreationYear) == 92, "LAS12Header year");

#define LIDAR_ASSERT_POINT(T, size)                                                 \
    LIDAR_STATIC_ASSERT(sizeof(T) == size, #T " record size");                      \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, Intensity) == 12, #T " Intensity");       \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, bitfield) == 14, #T " bitfield");         \
    LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(T, ScanAngleRank) == 16, #T " ScanAngleRank")

LIDAR_ASSERT_POINT(LAS10fm0, 20);
LIDAR_ASSERT_POINT(LAS10fm1, 28);
LIDAR_ASSERT_POINT(LAS11fm0, 20);
LIDAR_ASSERT_POINT(LAS11fm1, 28);
LIDAR_ASSERT_POINT(LAS12fm0, 20);
LIDAR_ASSERT_POINT(LAS12fm1, 28);
LIDAR_ASSERT_POINT(LAS12fm2, 26);
LIDAR_ASSERT_POINT(LAS12fm3, 34);
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS10fm0, UserBitField) == 18, "LAS10fm0 UserBitField");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12fm0, PointSourceID) == 18, "LAS12fm0 PointSourceID");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS10fm1, GPSTime) == 20, "LAS10fm1 GPSTime");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12fm1, GPSTime) == 20, "LAS12fm1 GPSTime");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12fm2, Red) == 20, "LAS12fm2 Red");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12fm3, GPSTime) == 20, "LAS12fm3 GPSTime");
LIDAR_STATIC_ASSERT(LIDAR_OFFSETOF(LAS12fm3, Red) == 28, "LAS12fm3 Red");

/* ------------------------------------------------------------------------ */
/* The twenty functions. Messages go to standard output. Functions that     */
/* "end the process" call exit(-1), which the shell sees as status 255.     */
/* ------------------------------------------------------------------------ */

/* File names are passed as char strings. On Windows they are taken as UTF-8
 * and opened through the system's wide-character functions, so that a name
 * in any language opens whatever the ANSI code page (an ASCII name is the
 * same text in both); a caller holding a wide name converts it with
 * WideCharToMultiByte(CP_UTF8, ...). Elsewhere the bytes are the system's
 * own name. Messages print the name as given. */

/* LAS validation. check_las returns the LAS type index 1 to 8 (LAS 1.0
 * formats 0 and 1 are 1 and 2, LAS 1.1 formats 0 and 1 are 3 and 4, LAS 1.2
 * formats 0 to 3 are 5 to 8), 0 for LAS 1.0/1.1 with format 2 or 3, and -1
 * for a refusal whose reason has been printed. */
LIDAR_API int16_t file_access(const char *filename);
LIDAR_API int16_t check_file_extension(const char *filename, const char *extension);
LIDAR_API void    error_msg(int32_t i, const char *text);
LIDAR_API int16_t check_las(const char *filename);

/* Banner and the yes/no flag. */
LIDAR_API void    credits(void);
LIDAR_API int16_t check_YN(const char *text);

/* LAS header update and fresh header records. */
LIDAR_API void update_header(const char *filename);
LIDAR_API void initialize_header10(LAS10Header *ph);
LIDAR_API void initialize_header11(LAS11Header *ph);
LIDAR_API void initialize_header12(LAS12Header *ph);

/* Index-tracking quicksorts: values sorted ascending, p_ind permuted alike. */
LIDAR_API void l_qs(int32_t *values, int32_t left, int32_t right, int32_t *p_ind);
LIDAR_API void l_quicksort(int32_t *values, int32_t count, int32_t *p_ind);
LIDAR_API void d_qs(double *values, int32_t left, int32_t right, int32_t *p_ind);
LIDAR_API void d_quicksort(double *values, int32_t count, int32_t *p_ind);
LIDAR_API void l_parallel_qs(int32_t *values, int32_t left, int32_t right, int32_t *p_ind,
                             int32_t deep);
LIDAR_API void l_parallel_quicksort(int32_t *values, int32_t count, int32_t *p_ind);
LIDAR_API void d_parallel_qs(double *values, int32_t left, int32_t right, int32_t *p_ind,
                             int32_t deep);
LIDAR_API void d_parallel_quicksort(double *values, int32_t count, int32_t *p_ind);

/* Argument validators: they return only when the argument is acceptable. */
LIDAR_API void check_numeric_argument(const char *str);
LIDAR_API void check_DEM(const char *str);

#ifdef __cplusplus
}
#endif

#endif /* LIDAR_H */
