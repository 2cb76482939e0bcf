#include "shp_writer.h"

#include "las_model.hpp"
#include "output.h"

#include <cassert>
#include <cstdlib>
#include <cstring>

double *_Xvec = nullptr;
double *_Yvec = nullptr;
double *_Zvec = nullptr;

namespace {

constexpr int32_t kFileCode = 9994;
constexpr int32_t kVersion = 1000;
constexpr int32_t kPointZ = 11;
// Content of a record without a measure: shape type, X, Y, Z = 28 bytes.
constexpr int32_t kContentWords = 14;
constexpr int32_t kHeaderWords = kShapeHeaderBytes / 2;
constexpr int32_t kRecordWords = kPointZRecordBytes / 2;
constexpr int32_t kEntryWords = kIndexEntryBytes / 2;
static_assert(kPointZRecordBytes == 8 + 2 * kContentWords, "record header plus content");

constexpr const char *kAppendFailure = "Unable to open %s for appending data\n";

// Shapefile integers are 32-bit; values are taken modulo 2^32 so that no
// arithmetic overflows (the driver keeps them within range).
void put_be32(unsigned char *at, int64_t value) {
    const uint32_t v = swap_uint32(static_cast<uint32_t>(value));
    std::memcpy(at, &v, 4);
}
void put_le32(unsigned char *at, int32_t value) { std::memcpy(at, &value, 4); }
void put_le64(unsigned char *at, double value) { std::memcpy(at, &value, 8); }

// The 100-byte header shared by both files; they differ in the length only.
void fill_header(unsigned char *h, int64_t length_words, const double bounds[6]) {
    std::memset(h, 0, kShapeHeaderBytes);
    put_be32(h + 0, kFileCode);
    put_be32(h + 24, length_words);
    put_le32(h + 28, kVersion);
    put_le32(h + 32, kPointZ);
    for (int k = 0; k < 6; ++k) put_le64(h + 36 + 8 * k, bounds[k]);
    // Mmin and Mmax (bytes 84 to 99) stay zero.
}

void write_header(const char *name, const char *mode_failure, int64_t length_words, double Xmin, double Ymin,
                  double Xmax, double Ymax, double Zmin, double Zmax) {
    Output out;
    output_open(out, name, "wb", mode_failure);
    const double bounds[6] = {Xmin, Ymin, Xmax, Ymax, Zmin, Zmax};
    unsigned char h[kShapeHeaderBytes];
    fill_header(h, length_words, bounds);
    output_write_at(out, 0, h, sizeof h);
    output_close(out);
}

// Writes the header of `length_words` and `bounds` at the start of the open file.
void put_header(Output &out, int64_t length_words, const double bounds[6]) {
    unsigned char h[kShapeHeaderBytes];
    fill_header(h, length_words, bounds);
    output_write_at(out, 0, h, sizeof h);
}

int64_t shp_words(int64_t points) { return kHeaderWords + int64_t{kRecordWords} * points; }
int64_t shx_words(int64_t points) { return kHeaderWords + int64_t{kEntryWords} * points; }

void put_record(unsigned char *r, int64_t number, double x, double y, double z) {
    put_be32(r + 0, number);
    put_be32(r + 4, kContentWords);
    put_le32(r + 8, kPointZ);
    put_le64(r + 12, x);
    put_le64(r + 20, y);
    put_le64(r + 28, z);
}

// The index entries of records first to first + n - 1.
void append_entries(Output &shx, int32_t nRecords, int64_t first) {
    for (int32_t i = 0; i < nRecords;) {
        const auto run = static_cast<int32_t>(output_batch(shx, kIndexEntryBytes, static_cast<size_t>(nRecords - i)));
        unsigned char *e = output_reserve(shx, static_cast<size_t>(run) * kIndexEntryBytes);
        for (const int32_t end = i + run; i < end; ++i, e += kIndexEntryBytes) {
            put_be32(e + 0, kHeaderWords + kRecordWords * (first + i - 1));
            put_be32(e + 4, kContentWords);
        }
    }
}

int32_t raw_at(const unsigned char *p) {
    int32_t v;
    std::memcpy(&v, p, 4);
    return v;
}

}  // namespace

namespace {

// Bounds widened by values one at a time, as two lanes of a vector unit
// would widen them two values at a time: the values of even and of odd
// positions each in a lane of their own, the lanes then joined, and a last
// value of an odd count after them. A NaN value never replaces a bound.
struct Widening {
    double lo[3][2], hi[3][2];
    double tail[3];
    bool has_tail = false;

    Widening(const double bounds[6], bool fresh, const double first[3]) {
        for (int axis = 0; axis < 3; ++axis) {
            const double l = fresh ? first[axis] : bounds[axis == 2 ? 4 : axis];
            const double h = fresh ? first[axis] : bounds[axis == 2 ? 5 : axis + 2];
            lo[axis][0] = lo[axis][1] = l;
            hi[axis][0] = hi[axis][1] = h;
        }
    }
    // The lane a constant, so that the bounds can stay in registers.
    template <int Lane>
    void take(const double v[3]) {
        for (int axis = 0; axis < 3; ++axis) {
            lo[axis][Lane] = v[axis] < lo[axis][Lane] ? v[axis] : lo[axis][Lane];
            hi[axis][Lane] = v[axis] > hi[axis][Lane] ? v[axis] : hi[axis][Lane];
        }
    }
    // The value at position i of `n`, as the lanes take it.
    void take_at(int32_t i, int32_t n, const double v[3]) {
#ifdef __SSE2__
        const int32_t paired = n & ~1;  // the last of an odd count comes after the lanes are joined
#else
        const int32_t paired = 0;  // one value at a time, in order
#endif
        if (i < paired && (i & 1) != 0) {
            take<1>(v);
        } else if (i < paired || paired == 0) {
            take<0>(v);
        } else {
            std::memcpy(tail, v, sizeof tail);
            has_tail = true;
        }
    }
    void put(double bounds[6]) const {
        for (int axis = 0; axis < 3; ++axis) {
            double l = lo[axis][1] < lo[axis][0] ? lo[axis][1] : lo[axis][0];
            double h = hi[axis][1] > hi[axis][0] ? hi[axis][1] : hi[axis][0];
            if (has_tail) {
                l = tail[axis] < l ? tail[axis] : l;
                h = tail[axis] > h ? tail[axis] : h;
            }
            bounds[axis == 2 ? 4 : axis] = l;
            bounds[axis == 2 ? 5 : axis + 2] = h;
        }
    }
};

template <bool Keep, bool Widen>
void pointz_records(ShapeOutputs &s, const unsigned char *records, size_t stride, const CoordinateScaling &scaling,
                    int32_t nRecords, int64_t first, int32_t slot, double *bounds, bool fresh) {
    // The coordinates are scaled straight into the records (and into the
    // buffers or the bounds), in one pass over the points, and records are
    // staged in runs that fit the staging buffer.
    const double sx = scaling.scale[0], ox = scaling.offset[0], sy = scaling.scale[1], oy = scaling.offset[1],
                 sz = scaling.scale[2], oz = scaling.offset[2];
    double *xs = _Xvec + slot, *ys = _Yvec + slot, *zs = _Zvec + slot;
    const unsigned char *p = records;
    const double start[3] = {lidar::scale_coordinate(raw_at(p + kXAt), sx, ox),
                             lidar::scale_coordinate(raw_at(p + kYAt), sy, oy),
                             lidar::scale_coordinate(raw_at(p + kZAt), sz, oz)};
    const double unused[6] = {0, 0, 0, 0, 0, 0};
    Widening widening(Widen ? bounds : unused, fresh, start);
    for (int32_t i = 0; i < nRecords;) {
        const auto run = static_cast<int32_t>(output_batch(s.shp, kPointZRecordBytes, static_cast<size_t>(nRecords - i)));
        unsigned char *r = output_reserve(s.shp, static_cast<size_t>(run) * kPointZRecordBytes);
        for (const int32_t end = i + run; i < end; ++i, r += kPointZRecordBytes, p += stride) {
            prefetch_ahead(p, stride);
            const double v[3] = {lidar::scale_coordinate(raw_at(p + kXAt), sx, ox),
                                 lidar::scale_coordinate(raw_at(p + kYAt), sy, oy),
                                 lidar::scale_coordinate(raw_at(p + kZAt), sz, oz)};
            if (Keep) {
                xs[i] = v[0];
                ys[i] = v[1];
                zs[i] = v[2];
            }
            if (Widen) widening.take_at(i, nRecords, v);
            put_record(r, first + i, v[0], v[1], v[2]);
        }
    }
    if (Widen) widening.put(bounds);
}

}  // namespace

void append_pointz_records(ShapeOutputs &s, const unsigned char *records, size_t stride,
                           const CoordinateScaling &scaling, int32_t nRecords, int64_t first, int32_t slot,
                           bool keep_coordinates, double *bounds, bool fresh) {
    assert(slot >= 0 && nRecords <= kChunkRecords - slot && _Xvec != nullptr && "within the coordinate buffers");
    if (nRecords > 0) {
        if (bounds != nullptr && keep_coordinates)
            pointz_records<true, true>(s, records, stride, scaling, nRecords, first, slot, bounds, fresh);
        else if (bounds != nullptr)
            pointz_records<false, true>(s, records, stride, scaling, nRecords, first, slot, bounds, fresh);
        else if (keep_coordinates)
            pointz_records<true, false>(s, records, stride, scaling, nRecords, first, slot, bounds, fresh);
        else
            pointz_records<false, false>(s, records, stride, scaling, nRecords, first, slot, bounds, fresh);
    }
    append_entries(s.shx, nRecords, first);
}

void append_pointz_given(ShapeOutputs &s, const double *x, const double *y, const double *z, int32_t n,
                         int64_t first, double *bounds, bool fresh) {
    if (n > 0 && bounds != nullptr) {
        const double start[3] = {x[0], y[0], z[0]};
        Widening widening(bounds, fresh, start);
        for (int32_t i = 0; i < n; ++i) {
            const double v[3] = {x[i], y[i], z[i]};
            widening.take_at(i, n, v);
        }
        widening.put(bounds);
    }
    for (int32_t i = 0; i < n;) {
        const auto run = static_cast<int32_t>(output_batch(s.shp, kPointZRecordBytes, static_cast<size_t>(n - i)));
        unsigned char *r = output_reserve(s.shp, static_cast<size_t>(run) * kPointZRecordBytes);
        for (const int32_t end = i + run; i < end; ++i, r += kPointZRecordBytes) put_record(r, first + i, x[i], y[i], z[i]);
    }
    append_entries(s.shx, n, first);
}

void create_shapes(ShapeOutputs &s, const std::string &shpname, int32_t nReturns, const double bounds[6]) {
    output_open(s.shp, shpname, "wb", kCreateFailure);
    put_header(s.shp, shp_words(nReturns), bounds);
    output_open(s.shx, shx_name_of(shpname.c_str()), "wb", kAppendFailure);
    put_header(s.shx, shx_words(nReturns), bounds);
}

void rewrite_shape_headers(ShapeOutputs &s, int32_t nReturns, const double bounds[6]) {
    put_header(s.shp, shp_words(nReturns), bounds);
    put_header(s.shx, shx_words(nReturns), bounds);
}

void close_shapes(ShapeOutputs &s) {
    output_close(s.shp);
    output_close(s.shx);
}

namespace {

template <typename Point, typename Header>
void append_pointz(const char *shpname, const Point *p, const Header *ph, int32_t nRecords, int32_t chunkID) {
    const CoordinateScaling scaling{{ph->XScaleFactor, ph->YScaleFactor, ph->ZScaleFactor},
                                    {ph->XOffset, ph->YOffset, ph->ZOffset}};
    ShapeOutputs s;
    output_open(s.shp, shpname, "ab", kAppendFailure);
    output_open(s.shx, shx_name_of(shpname), "ab", kAppendFailure);
    append_pointz_records(s, reinterpret_cast<const unsigned char *>(p), sizeof *p, scaling, nRecords,
                          int64_t{chunkID} * kChunkRecords + 1, 0);
    close_shapes(s);
}

}  // namespace

bool allocate_coordinate_buffers() {
    for (double **buffer : {&_Xvec, &_Yvec, &_Zvec}) {
        if (*buffer == nullptr) *buffer = static_cast<double *>(std::malloc(kChunkRecords * sizeof(double)));
        if (*buffer == nullptr) return false;
    }
    return true;
}

std::string shx_name_of(const char *shpname) {
    const size_t length = std::strlen(shpname);
    return std::string(shpname, length >= 4 ? length - 4 : 0) + ".shx";
}

void createSHPwHeader(const char *shpname, int32_t nReturns, double Xmin, double Ymin, double Xmax, double Ymax,
                      double Zmin, double Zmax) {
    write_header(shpname, kCreateFailure, shp_words(nReturns), Xmin, Ymin, Xmax, Ymax, Zmin, Zmax);
}

void createSHXwHeader(const char *shpname, int32_t nReturns, double Xmin, double Ymin, double Xmax, double Ymax,
                      double Zmin, double Zmax) {
    const std::string shxname = shx_name_of(shpname);
    write_header(shxname.c_str(), kAppendFailure, shx_words(nReturns), Xmin, Ymin, Xmax, Ymax, Zmin, Zmax);
}

// The eight appenders differ only in the point layout they step through.
#define TESSALINE_ADDTOSHP(N)                                                                              \
    void addtoSHP##N(const char *shpname, const lidar::LasType<N>::Point *p, const lidar::LasType<N>::Header *ph, \
                     int32_t nRecords, int32_t chunkID) {                                                  \
        append_pointz(shpname, p, ph, nRecords, chunkID);                                                  \
    }
TESSALINE_ADDTOSHP(1)
TESSALINE_ADDTOSHP(2)
TESSALINE_ADDTOSHP(3)
TESSALINE_ADDTOSHP(4)
TESSALINE_ADDTOSHP(5)
TESSALINE_ADDTOSHP(6)
TESSALINE_ADDTOSHP(7)
TESSALINE_ADDTOSHP(8)
#undef TESSALINE_ADDTOSHP
