#include "las_reader.h"

#include "test_util.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <regex>
#include <stdexcept>

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

LasFile read_las(const std::string &path) {
    const std::vector<uint8_t> b = testutil::read_file(path);
    LasFile f;
    f.version_minor = get<uint8_t>(b, 25);
    f.offset_to_data = get<uint32_t>(b, 96);
    f.point_format = get<uint8_t>(b, 104);
    f.record_length = get<uint16_t>(b, 105);
    f.count = get<uint32_t>(b, 107);
    f.las_type = lastest::las_type_of(f.version_minor, f.point_format);
    for (int a = 0; a < 3; ++a) {
        f.scale[a] = get<double>(b, 131 + 8 * a);
        f.offset[a] = get<double>(b, 155 + 8 * a);
        f.max[a] = get<double>(b, 179 + 16 * a);
        f.min[a] = get<double>(b, 187 + 16 * a);
    }
    f.points.reserve(f.count);
    for (uint32_t i = 0; i < f.count; ++i) {
        const size_t r = f.offset_to_data + size_t{i} * f.record_length;
        lastest::Point p;
        p.x = get<int32_t>(b, r);
        p.y = get<int32_t>(b, r + 4);
        p.z = get<int32_t>(b, r + 8);
        p.intensity = get<uint16_t>(b, r + 12);
        p.bitfield = get<uint8_t>(b, r + 14);
        p.classification = get<uint8_t>(b, r + 15);
        p.scan_angle = get<int8_t>(b, r + 16);
        p.user_data = get<uint8_t>(b, r + 17);
        p.point_source_id = get<uint16_t>(b, r + 18);
        size_t at = r + 20;
        if (f.point_format == 1 || f.point_format == 3) {
            p.gps_time = get<double>(b, at);
            at += 8;
        }
        if (f.point_format == 2 || f.point_format == 3) {
            p.red = get<uint16_t>(b, at);
            p.green = get<uint16_t>(b, at + 2);
            p.blue = get<uint16_t>(b, at + 4);
        }
        f.points.push_back(p);
    }
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

std::vector<uint8_t> dbf_header(int las_type, uint32_t records) {
    const std::vector<Field> fields = fields_of(las_type);
    std::vector<uint8_t> h = {0x03, 95, 7, 26};
    put_le(h, records);
    const uint32_t header_length = 33 + 32 * static_cast<uint32_t>(fields.size());
    h.push_back(static_cast<uint8_t>(header_length));
    h.push_back(static_cast<uint8_t>(header_length >> 8));
    h.push_back(static_cast<uint8_t>(record_length(las_type)));
    h.push_back(0);
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
    const int type = las.las_type;
    const uint64_t row_bytes = static_cast<uint64_t>(record_length(type));
    const std::vector<uint8_t> dbf_head = dbf_header(type, las.count);

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
        const std::string row = row_of(type, p);
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

std::string console_of(const std::string &in, const std::string &shp, int las_type, uint32_t count) {
    std::string out = testutil::banner() + "Input LAS file:    " + in + "\nOutput Shapefile:  " + shp +
                      "\n\nProcessing ...";
    char text[64];
    for (uint32_t chunk = 1; chunk <= count / 1000000; ++chunk) {
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
