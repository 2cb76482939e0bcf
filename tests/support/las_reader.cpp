#include "las_reader.h"

#include "test_util.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>
#include <stdexcept>

#include <strings.h>

namespace lasread {
namespace {

template <typename T>
T get(const std::vector<uint8_t> &b, size_t at) {
    if (at + sizeof(T) > b.size()) throw std::runtime_error("LAS file too short");
    T v;
    std::memcpy(&v, b.data() + at, sizeof(T));  // the test host is little-endian, like LAS
    return v;
}

void put_be(std::vector<uint8_t> &b, uint32_t v) {
    for (int s = 24; s >= 0; s -= 8) b.push_back(static_cast<uint8_t>(v >> s));
}
void put_le(std::vector<uint8_t> &b, uint32_t v) {
    for (int s = 0; s < 32; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
}
void put_double(std::vector<uint8_t> &b, double d) {
    uint64_t v;
    std::memcpy(&v, &d, 8);
    for (int s = 0; s < 64; s += 8) b.push_back(static_cast<uint8_t>(v >> s));
}

std::string describe(const std::string &file, uint64_t at, const std::string &what) {
    return file + ": " + what + " at byte " + std::to_string(at);
}

// The first byte where `got` differs from `want` placed at `at`, or "".
std::string compare_at(const std::string &file, const std::vector<uint8_t> &got, uint64_t at,
                       const std::vector<uint8_t> &want, const std::string &what) {
    if (got.size() < at + want.size()) return describe(file, at, what + " missing (file too short)");
    if (std::memcmp(got.data() + at, want.data(), want.size()) == 0) return "";
    for (size_t k = 0; k < want.size(); ++k)
        if (got[at + k] != want[k]) return describe(file, at + k, what + " differs");
    return "";
}

}  // namespace

namespace {

// Data types 1 to 10 of extra bytes: size, kind (unsigned, signed, floating)
// and the column's width and decimals without scale and offset.
struct ExtraType {
    size_t size;
    char kind;  // 'u', 'i' or 'f'
    int width, decimals;
};
const ExtraType kExtraTypes[11] = {{0, 0, 0, 0},    {1, 'u', 3, 0},  {1, 'i', 4, 0},  {2, 'u', 5, 0},
                                   {2, 'i', 6, 0},  {4, 'u', 10, 0}, {4, 'i', 11, 0}, {8, 'u', 20, 0},
                                   {8, 'i', 20, 0}, {4, 'f', 20, 6}, {8, 'f', 24, 8}};

// The data of the first record of the user ID and record ID among the VLRs
// (inside the space before the points) and then the EVLRs (wholly after the
// points), or nothing.
bool find_record(const std::vector<uint8_t> &b, const LasFile &f, const char *user, uint16_t id,
                 std::vector<uint8_t> &data) {
    auto matches = [&](size_t at) {
        char u[17] = {};
        std::memcpy(u, &b[at + 2], 16);
        return std::strcmp(u, user) == 0 && get<uint16_t>(b, at + 18) == id;
    };
    const uint64_t end = std::min<uint64_t>(f.offset_to_data, b.size());
    uint64_t at = get<uint16_t>(b, 94);
    for (uint32_t k = 0, n = get<uint32_t>(b, 100); k < n && at + 54 <= end; ++k) {
        const uint64_t len = get<uint16_t>(b, at + 20);
        if (at + 54 + len > end) break;
        if (matches(at)) {
            data.assign(b.begin() + at + 54, b.begin() + at + 54 + len);
            return true;
        }
        at += 54 + len;
    }
    if (f.version_minor < 4) return false;
    at = get<uint64_t>(b, 235);
    if (at < f.offset_to_data + f.count * f.record_length) return false;
    for (uint32_t k = 0, n = get<uint32_t>(b, 243); k < n && at + 60 <= b.size(); ++k) {
        const uint64_t len = get<uint64_t>(b, at + 20);
        if (len > b.size() - at - 60) break;
        if (matches(at)) {
            data.assign(b.begin() + at + 60, b.begin() + at + 60 + len);
            return true;
        }
        at += 60 + len;
    }
    return false;
}

// Decimals and width of an integer column with a scale or an offset.
Field scaled_field(const std::string &name, const ExtraColumn &c) {
    const double scale = c.options & 8 ? c.scale : 1, offset = c.options & 16 ? c.offset : 0;
    int d = 0;
    for (; d < 10; ++d) {
        const double p = std::pow(10.0, d);
        if (std::fabs(scale * p - std::round(scale * p)) <= 1e-6 &&
            std::fabs(offset * p - std::round(offset * p)) <= 1e-6)
            break;
    }
    const ExtraType t = kExtraTypes[c.data_type];
    const int bits = static_cast<int>(8 * t.size);
    const double lowest = t.kind == 'u' ? 0.0 : -std::ldexp(1.0, bits - 1);
    const double highest = t.kind == 'u' ? std::ldexp(1.0, bits) - 1 : std::ldexp(1.0, bits - 1) - 1;
    const double a = lowest * scale + offset, z = highest * scale + offset;
    char digits[400];
    const int n = std::snprintf(digits, sizeof digits, "%.0f", std::floor(std::max(std::fabs(a), std::fabs(z))));
    return {name, n + (a < 0 || z < 0 ? 1 : 0) + (d > 0 ? d + 1 : 0), d};
}

void read_extra_columns(const std::vector<uint8_t> &b, LasFile &f) {
    std::vector<uint8_t> data;
    if (f.las_type != 0 || !find_record(b, f, "LASF_Spec", 4, data) || data.size() % 192 != 0) return;
    std::vector<Field> names = fields_of(f);
    std::vector<ExtraColumn> columns;
    size_t at = 0;
    for (size_t d = 0; d < data.size(); d += 192) {
        const uint8_t type = data[d + 2], options = data[d + 3];
        if (type > 30) return;
        // Type 0 takes `options` bytes; 11-20 and 21-30 are two and three of types 1-10.
        const size_t size = type == 0 ? options : kExtraTypes[(type - 1) % 10 + 1].size * ((type - 1) / 10 + 1);
        if (type >= 1 && type <= 10) {
            ExtraColumn c{{}, type, options, at, get<uint64_t>(data, d + 40), get<double>(data, d + 112),
                          get<double>(data, d + 136)};
            const std::string name = extra_column_name(std::string(data.begin() + d + 4, data.begin() + d + 36), names);
            const ExtraType &t = kExtraTypes[type];
            c.field = t.kind != 'f' && (options & 24) ? scaled_field(name, c) : Field{name, t.width, t.decimals};
            names.push_back(c.field);
            columns.push_back(c);
        }
        at += size;
    }
    if (at + lastest::natural_record_length(f.point_format) > f.record_length) return;
    f.extra_columns = columns;
}

}  // namespace

std::string extra_column_name(const std::string &raw, const std::vector<Field> &before) {
    std::string name = raw.substr(0, raw.find('\0'));
    for (char &ch : name)
        if (!std::isalnum(static_cast<unsigned char>(ch)) || static_cast<unsigned char>(ch) >= 128) ch = '_';
    if (name.empty()) name = "Extra";
    if (!std::isalpha(static_cast<unsigned char>(name[0]))) name = "X" + name;
    name = name.substr(0, 10);
    auto taken = [&](const std::string &n) {
        for (const Field &f : before)
            if (strcasecmp(f.name.c_str(), n.c_str()) == 0) return true;
        return false;
    };
    const std::string base = name;
    for (int k = 2; taken(name); ++k) {
        const std::string suffix = "_" + std::to_string(k);
        name = base.substr(0, 10 - suffix.size()) + suffix;
    }
    return name;
}

LasFile read_las(const std::string &path) {
    const std::vector<uint8_t> b = testutil::read_file(path);
    LasFile f;
    f.version_minor = get<uint8_t>(b, 25);
    f.offset_to_data = get<uint32_t>(b, 96);
    f.point_format = get<uint8_t>(b, 104);
    f.record_length = get<uint16_t>(b, 105);
    f.count = get<uint32_t>(b, 107);
    if (f.version_minor >= 4 && get<uint64_t>(b, 247) != 0) f.count = get<uint64_t>(b, 247);
    f.las_type = lastest::las_type_of(f.version_minor, f.point_format);
    if (f.record_length > lastest::natural_record_length(f.point_format)) f.las_type = 0;  // extra bytes
    for (int a = 0; a < 3; ++a) {
        f.scale[a] = get<double>(b, 131 + 8 * a);
        f.offset[a] = get<double>(b, 155 + 8 * a);
        f.max[a] = get<double>(b, 179 + 16 * a);
        f.min[a] = get<double>(b, 187 + 16 * a);
    }
    const unsigned pf = f.point_format;
    const bool wide = pf >= 6;  // formats 6-10: the 30-byte core
    const size_t natural = lastest::natural_record_length(pf);
    f.points.reserve(f.count);
    for (uint64_t i = 0; i < f.count; ++i) {
        const size_t r = f.offset_to_data + i * f.record_length;
        lastest::Point p;
        p.x = get<int32_t>(b, r);
        p.y = get<int32_t>(b, r + 4);
        p.z = get<int32_t>(b, r + 8);
        p.intensity = get<uint16_t>(b, r + 12);
        p.bitfield = get<uint8_t>(b, r + 14);
        p.user_data = get<uint8_t>(b, r + 17);
        size_t at;
        if (wide) {
            p.flags = get<uint8_t>(b, r + 15);
            p.classification = get<uint8_t>(b, r + 16);
            p.scan_angle_raw = get<int16_t>(b, r + 18);
            p.point_source_id = get<uint16_t>(b, r + 20);
            at = r + 22;
        } else {
            p.classification = get<uint8_t>(b, r + 15);
            p.scan_angle = get<int8_t>(b, r + 16);
            p.point_source_id = get<uint16_t>(b, r + 18);
            at = r + 20;
        }
        if (wide || pf == 1 || pf == 3 || pf == 4 || pf == 5) {
            p.gps_time = get<double>(b, at);
            at += 8;
        }
        if (pf == 2 || pf == 3 || pf == 5 || pf == 7 || pf == 8 || pf == 10) {
            p.red = get<uint16_t>(b, at);
            p.green = get<uint16_t>(b, at + 2);
            p.blue = get<uint16_t>(b, at + 4);
            at += 6;
        }
        if (pf == 8 || pf == 10) p.nir = get<uint16_t>(b, at);
        if (f.record_length > natural) {
            if (r + f.record_length > b.size()) throw std::runtime_error("LAS file too short");
            p.extra.assign(b.begin() + r + natural, b.begin() + r + f.record_length);
        }
        f.points.push_back(p);
    }
    read_extra_columns(b, f);
    return f;
}

double real_coordinate(int32_t raw, double scale, double offset) {
    volatile double product = static_cast<double>(raw) * scale;
    return product + offset;
}

std::vector<Field> fields_of(int las_type) {
    std::vector<Field> f = {{"Intensity", 5, 0},  {"ReturnNumb", 1, 0}, {"NumberRetu", 1, 0},
                            {"ScanDirect", 1, 0}, {"EdgeOfFlig", 1, 0}, {"Classifica", 3, 0},
                            {"ScanAngleR", 3, 0}};
    if (las_type <= 2) {
        f.push_back({"FileMarker", 3, 0});
        f.push_back({"UserBitFie", 5, 0});
    } else {
        f.push_back({"UserData", 3, 0});
        f.push_back({"PointSourc", 5, 0});
    }
    if (las_type == 2 || las_type == 4 || las_type == 6 || las_type == 8) f.push_back({"GPSTime", 16, 8});
    if (las_type == 7 || las_type == 8)
        for (const char *c : {"Red", "Green", "Blue"}) f.push_back({c, 5, 0});
    return f;
}

int record_length(int las_type) {
    int n = 1;
    for (const Field &f : fields_of(las_type)) n += f.width;
    return n;
}

std::string gps_text(double value) {
    char text[400];
    int n = std::snprintf(text, sizeof text, "%16.8f", value);
    for (int decimals = 7; n > 16 && decimals >= 0; --decimals)
        n = std::snprintf(text, sizeof text, "%16.*f", decimals, value);
    return n > 16 ? std::string(16, '*') : std::string(text);
}

std::string row_of(int las_type, const lastest::Point &p) {
    char text[128];
    const unsigned b = p.bitfield;
    std::snprintf(text, sizeof text, " %5d%1d%1d%1d%1d%3d", p.intensity, b & 7, (b >> 3) & 7, (b >> 6) & 1,
                  (b >> 7) & 1, p.classification);
    std::string row = text;
    if (p.scan_angle < -99) {
        row += "***";
    } else {
        std::snprintf(text, sizeof text, "%3d", p.scan_angle);
        row += text;
    }
    std::snprintf(text, sizeof text, "%3d%5d", p.user_data, p.point_source_id);
    row += text;
    if (las_type == 2 || las_type == 4 || las_type == 6 || las_type == 8) row += gps_text(p.gps_time);
    if (las_type == 7 || las_type == 8) {
        std::snprintf(text, sizeof text, "%5d%5d%5d", p.red, p.green, p.blue);
        row += text;
    }
    return row;
}

namespace {

// The LAS 1.2 type whose table a file uses: its own for LAS 1.0-1.2 records
// of their format's length, that of the format with the same columns for
// formats 0-5 otherwise, 0 for formats 6-10.
int table_type(const LasFile &las) {
    static const unsigned same_columns[] = {0, 1, 2, 3, 1, 3};
    if (las.las_type != 0) return las.las_type;
    return las.point_format <= 5 ? lastest::las_type_of(2, same_columns[las.point_format]) : 0;
}

std::string extra_text(const ExtraColumn &c, const std::vector<uint8_t> &extra) {
    const ExtraType t = kExtraTypes[c.data_type];
    const int w = c.field.width;
    uint64_t bits = 0;
    std::memcpy(&bits, extra.data() + c.at, t.size);  // little-endian host
    const bool integer = t.kind != 'f' && !(c.options & 24);
    char text[512];
    int n = 0;
    bool no_data;
    double value;
    if (t.kind == 'u') {
        no_data = bits == c.no_data;
        value = static_cast<double>(bits);
        if (integer) n = std::snprintf(text, sizeof text, "%*llu", w, static_cast<unsigned long long>(bits));
    } else if (t.kind == 'i') {
        const int shift = static_cast<int>(64 - 8 * t.size);
        const int64_t v = static_cast<int64_t>(bits << shift) >> shift;
        no_data = v == static_cast<int64_t>(c.no_data);
        value = static_cast<double>(v);
        if (integer) n = std::snprintf(text, sizeof text, "%*lld", w, static_cast<long long>(v));
    } else {
        float single;
        std::memcpy(&single, &bits, 4);
        double nd;
        std::memcpy(&nd, &c.no_data, 8);
        value = t.size == 4 ? static_cast<double>(single) : get<double>(extra, c.at);
        no_data = value == nd;
    }
    const std::string null(static_cast<size_t>(w), '*');
    if ((c.options & 1) && no_data) return null;
    if (!integer) {
        if (c.options & 8) value *= c.scale;
        if (c.options & 16) value += c.offset;
        if (!std::isfinite(value)) return null;
        n = std::snprintf(text, sizeof text, "%*.*f", w, c.field.decimals, value);
    }
    return n > w ? null : std::string(text);
}

}  // namespace

std::vector<Field> fields_of(const LasFile &las) {
    const unsigned pf = las.point_format;
    std::vector<Field> f;
    if (table_type(las) != 0) {
        f = fields_of(table_type(las));
    } else {
        f = {{"Intensity", 5, 0},  {"ReturnNumb", 2, 0}, {"NumberRetu", 2, 0}, {"Synthetic", 1, 0},
             {"KeyPoint", 1, 0},   {"Withheld", 1, 0},   {"Overlap", 1, 0},    {"ScannerCha", 1, 0},
             {"ScanDirect", 1, 0}, {"EdgeOfFlig", 1, 0}, {"Classifica", 3, 0}, {"UserData", 3, 0},
             {"ScanAngle", 8, 3},  {"PointSourc", 5, 0}, {"GPSTime", 16, 8}};
        if (pf == 7 || pf == 8 || pf == 10)
            for (const char *c : {"Red", "Green", "Blue"}) f.push_back({c, 5, 0});
        if (pf == 8 || pf == 10) f.push_back({"NIR", 5, 0});
    }
    for (const ExtraColumn &c : las.extra_columns) f.push_back(c.field);
    return f;
}

std::string row_of(const LasFile &las, const lastest::Point &p) {
    std::string row;
    if (table_type(las) != 0) {
        row = row_of(table_type(las), p);
    } else {
        char text[128];
        const unsigned b = p.bitfield, g = p.flags;
        std::snprintf(text, sizeof text, " %5d%2u%2u%1u%1u%1u%1u%1u%1u%1u%3d%3d", p.intensity, b & 15, b >> 4, g & 1,
                      (g >> 1) & 1, (g >> 2) & 1, (g >> 3) & 1, (g >> 4) & 3, (g >> 6) & 1, g >> 7, p.classification,
                      p.user_data);
        row = text;
        // The scan angle in degrees: raw x 0.006, as an exact decimal.
        const long thousandths = 6L * p.scan_angle_raw;
        char degrees[32];
        std::snprintf(degrees, sizeof degrees, "%s%ld.%03ld", thousandths < 0 ? "-" : "", std::labs(thousandths) / 1000,
                      std::labs(thousandths) % 1000);
        std::snprintf(text, sizeof text, "%8s%5d", degrees, p.point_source_id);
        row += text + gps_text(p.gps_time);
        const unsigned pf = las.point_format;
        if (pf == 7 || pf == 8 || pf == 10) {
            std::snprintf(text, sizeof text, "%5d%5d%5d", p.red, p.green, p.blue);
            row += text;
        }
        if (pf == 8 || pf == 10) {
            std::snprintf(text, sizeof text, "%5d", p.nir);
            row += text;
        }
    }
    for (const ExtraColumn &c : las.extra_columns) row += extra_text(c, p.extra);
    return row;
}

std::vector<uint8_t> shape_header(int32_t length_words, const double min[3], const double max[3]) {
    std::vector<uint8_t> h;
    put_be(h, 9994);
    for (int k = 0; k < 5; ++k) put_be(h, 0);
    put_be(h, static_cast<uint32_t>(length_words));
    put_le(h, 1000);
    put_le(h, 11);
    for (double d : {min[0], min[1], max[0], max[1], min[2], max[2], 0.0, 0.0}) put_double(h, d);
    return h;
}

std::vector<uint8_t> pointz_record(int32_t number, double x, double y, double z) {
    std::vector<uint8_t> r;
    put_be(r, static_cast<uint32_t>(number));
    put_be(r, 14);
    put_le(r, 11);
    for (double d : {x, y, z}) put_double(r, d);
    return r;
}

std::vector<uint8_t> index_entry(int32_t number) {
    std::vector<uint8_t> e;
    put_be(e, static_cast<uint32_t>(50 + 18 * (number - 1)));
    put_be(e, 14);
    return e;
}

std::vector<uint8_t> dbf_header(int las_type, uint32_t records) { return dbf_header(fields_of(las_type), records); }

std::vector<uint8_t> dbf_header(const std::vector<Field> &fields, uint64_t records) {
    std::vector<uint8_t> h = {0x03, 95, 7, 26};
    put_le(h, static_cast<uint32_t>(records));
    const uint32_t header_length = 33 + 32 * static_cast<uint32_t>(fields.size());
    uint32_t row = 1;
    for (const Field &f : fields) row += static_cast<uint32_t>(f.width);
    for (uint32_t v : {header_length, row}) {
        h.push_back(static_cast<uint8_t>(v));
        h.push_back(static_cast<uint8_t>(v >> 8));
    }
    h.resize(29, 0);
    h.push_back(87);
    h.resize(32, 0);
    for (const Field &f : fields) {
        std::vector<uint8_t> d(32, 0);
        std::memcpy(d.data(), f.name.data(), f.name.size());
        d[11] = 'N';
        d[16] = static_cast<uint8_t>(f.width);
        d[17] = static_cast<uint8_t>(f.decimals);
        h.insert(h.end(), d.begin(), d.end());
    }
    h.push_back(0x0D);
    return h;
}

std::string compare_outputs(const std::string &las_path, const LasFile &las) {
    const std::string stem = las_path.substr(0, las_path.size() - 4);
    const uint64_t n = las.points.size();
    const std::vector<uint8_t> shp = testutil::read_file(stem + ".shp");
    const std::vector<uint8_t> shx = testutil::read_file(stem + ".shx");
    const std::vector<uint8_t> dbf = testutil::read_file(stem + ".dbf");
    const std::vector<Field> fields = fields_of(las);
    const std::vector<uint8_t> dbf_head = dbf_header(fields, las.count);
    uint64_t row_bytes = 1;
    for (const Field &f : fields) row_bytes += static_cast<uint64_t>(f.width);

    if (shp.size() != 100 + 36 * n) return stem + ".shp: " + std::to_string(shp.size()) + " bytes";
    if (shx.size() != 100 + 8 * n) return stem + ".shx: " + std::to_string(shx.size()) + " bytes";
    if (dbf.size() != dbf_head.size() + row_bytes * n) return stem + ".dbf: " + std::to_string(dbf.size()) + " bytes";

    std::string d;
    if (!(d = compare_at(stem + ".shp", shp, 0, shape_header(static_cast<int32_t>(50 + 18 * n), las.min, las.max),
                         "header")).empty() ||
        !(d = compare_at(stem + ".shx", shx, 0, shape_header(static_cast<int32_t>(50 + 4 * n), las.min, las.max),
                         "header")).empty() ||
        !(d = compare_at(stem + ".dbf", dbf, 0, dbf_head, "header")).empty())
        return d;
    for (uint64_t i = 0; i < n; ++i) {
        const lastest::Point &p = las.points[i];
        const int32_t number = static_cast<int32_t>(i + 1);
        const std::string what = "point " + std::to_string(i);
        const std::string row = row_of(las, p);
        if (!(d = compare_at(stem + ".shp", shp, 100 + 36 * i,
                             pointz_record(number, real_coordinate(p.x, las.scale[0], las.offset[0]),
                                           real_coordinate(p.y, las.scale[1], las.offset[1]),
                                           real_coordinate(p.z, las.scale[2], las.offset[2])),
                             what)).empty() ||
            !(d = compare_at(stem + ".shx", shx, 100 + 8 * i, index_entry(number), what)).empty() ||
            !(d = compare_at(stem + ".dbf", dbf, dbf_head.size() + row_bytes * i,
                             std::vector<uint8_t>(row.begin(), row.end()), what)).empty())
            return d;
    }
    return "";
}

std::string console_of(const std::string &in, const std::string &shp, int las_type, uint64_t count) {
    std::string out = testutil::banner() + "Input LAS file:    " + in + "\nOutput Shapefile:  " + shp +
                      "\n\nProcessing ...";
    char text[64];
    for (uint64_t chunk = 1; chunk <= count / 1000000; ++chunk) {
        std::snprintf(text, sizeof text, las_type == 1 ? "\rProcessing ... %.1f%% done" : "\rProcessing ... %.2f%% done",
                      chunk * 100.0 * 1000000.0 / count);
        out += text;
    }
    return out + "\r" + std::string(78, ' ') + "\rElapsed time # seconds\n";
}

std::string mask_elapsed(const std::string &out) {
    static const std::regex figure("Elapsed time [0-9]+\\.[0-9][0-9] seconds\n$");
    return std::regex_replace(out, figure, "Elapsed time # seconds\n");
}

}  // namespace lasread
