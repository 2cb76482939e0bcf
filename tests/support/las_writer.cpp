#include "las_writer.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <limits>
#include <memory>
#include <stdexcept>

#include <unistd.h>

namespace lastest {
namespace {

template <typename T>
void put(std::vector<uint8_t> &buf, size_t offset, T value) {
    static_assert(std::is_trivially_copyable<T>::value, "scalar");
    if (buf.size() < offset + sizeof(T)) buf.resize(offset + sizeof(T));
    // Little-endian regardless of the host: bytes from the least significant.
    uint8_t bytes[sizeof(T)];
    std::memcpy(bytes, &value, sizeof(T));
    const uint16_t probe = 1;
    uint8_t first;
    std::memcpy(&first, &probe, 1);
    if (first == 0) std::reverse(bytes, bytes + sizeof(T));
    std::memcpy(buf.data() + offset, bytes, sizeof(T));
}

constexpr size_t kVlrHeaderBytes = 54;
constexpr size_t kEvlrHeaderBytes = 60;
constexpr size_t kExtraBytesDescriptor = 192;

struct Bounds {
    double min[3], max[3];
    bool any = false;
    void add(const LasOptions &opts, const Point &p) {
        const int32_t raw[3] = {p.x, p.y, p.z};
        for (int a = 0; a < 3; ++a) {
            const double v = raw[a] * opts.scale[a] + opts.offset[a];
            if (!any || v < min[a]) min[a] = v;
            if (!any || v > max[a]) max[a] = v;
        }
        any = true;
    }
};

uint32_t record_length_of(const LasOptions &opts) {
    return opts.record_length >= 0 ? static_cast<uint32_t>(opts.record_length)
                                   : natural_record_length(opts.point_format) + opts.extra_bytes;
}

uint32_t stride_of(const LasOptions &opts) {
    return std::max(record_length_of(opts), natural_record_length(opts.point_format));
}

uint16_t header_size_field(const LasOptions &opts) {
    return static_cast<uint16_t>(opts.header_size >= 0 ? opts.header_size : header_size_of(opts.version_minor));
}

uint64_t vlr_bytes(const LasOptions &opts) {
    uint64_t total = 0;
    for (uint32_t payload : opts.vlr_payloads) total += kVlrHeaderBytes + payload;
    for (const Vlr &v : opts.vlrs) total += kVlrHeaderBytes + v.data.size();
    return total;
}

uint64_t offset_to_data_of(const LasOptions &opts) {
    return opts.offset_to_data >= 0 ? static_cast<uint64_t>(opts.offset_to_data)
                                    : header_size_field(opts) + vlr_bytes(opts);
}

std::vector<uint8_t> encode_evlrs(const LasOptions &opts) {
    std::vector<uint8_t> out;
    for (const Vlr &v : opts.evlrs) {
        std::vector<uint8_t> e(kEvlrHeaderBytes, 0);
        std::memcpy(&e[2], v.user_id.data(), std::min<size_t>(16, v.user_id.size()));
        put<uint16_t>(e, 18, v.record_id);
        put<uint64_t>(e, 20, v.declared_length != -1 ? static_cast<uint64_t>(v.declared_length) : v.data.size());
        out.insert(out.end(), e.begin(), e.end());
        out.insert(out.end(), v.data.begin(), v.data.end());
    }
    return out;
}

// The public header block followed by the VLRs (and zero bytes up to the
// point data, if the offset lies further on).
std::vector<uint8_t> encode_head(const LasOptions &opts, uint64_t count, const Bounds &b) {
    const uint16_t header_size = header_size_field(opts);
    std::vector<uint8_t> h(std::max<size_t>(header_size_of(opts.version_minor), header_size), 0);
    for (size_t k = 0; k < 4; ++k) h[k] = k < opts.signature.size() ? opts.signature[k] : 0;
    put<uint16_t>(h, 4, 7);  // file source id (reserved in 1.0)
    put<uint16_t>(h, 6, opts.global_encoding);
    put<uint32_t>(h, 8, 0x01020304u);
    h[24] = opts.version_major;
    h[25] = opts.version_minor;
    std::memcpy(&h[26], "TESTS", 5);
    std::memcpy(&h[58], "las_writer", 10);
    put<uint16_t>(h, 90, 100);
    put<uint16_t>(h, 92, 2026);
    put<uint16_t>(h, 94, header_size);
    put<uint32_t>(h, 96, static_cast<uint32_t>(offset_to_data_of(opts)));
    const uint64_t records = opts.vlr_payloads.size() + opts.vlrs.size();
    put<uint32_t>(h, 100, static_cast<uint32_t>(opts.declared_vlrs >= 0 ? opts.declared_vlrs : records));
    h[104] = opts.point_format;
    put<uint16_t>(h, 105, static_cast<uint16_t>(record_length_of(opts)));
    const uint64_t declared = opts.declared_points >= 0 ? static_cast<uint64_t>(opts.declared_points) : count;
    uint64_t legacy = declared;
    if (opts.version_minor >= 4)
        legacy = opts.legacy_points >= 0 ? static_cast<uint64_t>(opts.legacy_points)
                 : opts.point_format <= 5 && declared <= UINT32_MAX ? declared : 0;
    put<uint32_t>(h, 107, static_cast<uint32_t>(legacy));
    put<uint32_t>(h, 111, static_cast<uint32_t>(legacy));  // all first returns, as far as the header says
    if (opts.version_minor >= 3) put<uint64_t>(h, 227, 0);  // no waveform data packets in the file
    if (opts.version_minor >= 4) {
        const uint64_t start = opts.start_of_evlrs >= 0 ? static_cast<uint64_t>(opts.start_of_evlrs)
                               : opts.evlrs.empty() ? 0 : offset_to_data_of(opts) + count * stride_of(opts);
        put<uint64_t>(h, 235, start);
        put<uint32_t>(h, 243, static_cast<uint32_t>(opts.declared_evlrs >= 0 ? opts.declared_evlrs : opts.evlrs.size()));
        put<uint64_t>(h, 247, declared);
        put<uint64_t>(h, 255, declared);
    }
    for (int a = 0; a < 3; ++a) {
        put<double>(h, 131 + 8 * a, opts.scale[a]);
        put<double>(h, 155 + 8 * a, opts.offset[a]);
        const double mn = opts.explicit_bounds ? opts.min[a] : (b.any ? b.min[a] : 0.0);
        const double mx = opts.explicit_bounds ? opts.max[a] : (b.any ? b.max[a] : 0.0);
        put<double>(h, 179 + 16 * a, mx);
        put<double>(h, 187 + 16 * a, mn);
    }
    for (size_t v = 0; v < opts.vlr_payloads.size(); ++v) {
        std::vector<uint8_t> vlr(kVlrHeaderBytes + opts.vlr_payloads[v], 0);
        std::memcpy(&vlr[2], "TESTS", 5);
        put<uint16_t>(vlr, 18, static_cast<uint16_t>(1000 + v));
        put<uint16_t>(vlr, 20, static_cast<uint16_t>(opts.vlr_payloads[v]));
        for (size_t k = kVlrHeaderBytes; k < vlr.size(); ++k) vlr[k] = static_cast<uint8_t>(k * 7 + v);
        h.insert(h.end(), vlr.begin(), vlr.end());
    }
    for (const Vlr &v : opts.vlrs) {
        std::vector<uint8_t> vlr(kVlrHeaderBytes, 0);
        std::memcpy(&vlr[2], v.user_id.data(), std::min<size_t>(16, v.user_id.size()));
        put<uint16_t>(vlr, 18, v.record_id);
        put<uint16_t>(vlr, 20, static_cast<uint16_t>(v.declared_length >= 0 ? static_cast<uint64_t>(v.declared_length)
                                                                             : v.data.size()));
        h.insert(h.end(), vlr.begin(), vlr.end());
        h.insert(h.end(), v.data.begin(), v.data.end());
    }
    if (h.size() < offset_to_data_of(opts)) h.resize(offset_to_data_of(opts), 0);
    return h;
}

struct FileCloser {
    void operator()(FILE *f) const { std::fclose(f); }
};

}  // namespace

Vlr geokey_directory(const std::vector<std::vector<uint16_t>> &keys, int declared_keys) {
    Vlr v;
    v.record_id = 34735;
    const uint16_t count = static_cast<uint16_t>(declared_keys >= 0 ? declared_keys : keys.size());
    for (uint16_t s : {uint16_t{1}, uint16_t{1}, uint16_t{0}, count}) put<uint16_t>(v.data, v.data.size(), s);
    for (const std::vector<uint16_t> &key : keys)
        for (uint16_t s : key) put<uint16_t>(v.data, v.data.size(), s);
    return v;
}

Vlr geo_doubles(const std::vector<double> &values) {
    Vlr v;
    v.record_id = 34736;
    for (double d : values) put<double>(v.data, v.data.size(), d);
    return v;
}

Vlr text_record(uint16_t record_id, const std::string &text, bool terminated) {
    Vlr v;
    v.record_id = record_id;
    v.data.assign(text.begin(), text.end());
    if (terminated) v.data.push_back(0);
    return v;
}

uint64_t bits_of(double d) {
    uint64_t bits;
    std::memcpy(&bits, &d, 8);
    return bits;
}

Vlr extra_bytes_record(const std::vector<ExtraBytes> &descriptors) {
    Vlr v;
    v.user_id = "LASF_Spec";
    v.record_id = 4;
    for (const ExtraBytes &e : descriptors) {
        std::vector<uint8_t> d(kExtraBytesDescriptor, 0);
        d[2] = e.data_type;
        d[3] = e.options;
        std::memcpy(&d[4], e.name.data(), std::min<size_t>(32, e.name.size()));
        put<uint64_t>(d, 40, e.no_data);
        put<double>(d, 112, e.scale);
        put<double>(d, 136, e.offset);
        std::memcpy(&d[160], "written by the tests", 20);
        v.data.insert(v.data.end(), d.begin(), d.end());
    }
    return v;
}

std::vector<Vlr> user_defined_tm_records() {
    return {geokey_directory({{1024, 0, 1, 1},
                              {1026, 34737, 13, 0},
                              {2048, 0, 1, 4269},
                              {3072, 0, 1, 32767},
                              {3074, 0, 1, 32767},
                              {3075, 0, 1, 1},
                              {3076, 0, 1, 9003},
                              {3080, 34736, 1, 0},
                              {3081, 34736, 1, 1},
                              {3082, 34736, 1, 2},
                              {3083, 34736, 1, 3},
                              {3092, 34736, 1, 4}}),
            geo_doubles({-85.5, 37.5, 3937, 0, 0.9999}), text_record(34737, "Test TM ftUS|", false)};
}

unsigned natural_record_length(unsigned point_format) {
    // The standard record length of point formats 0 to 10.
    static const unsigned length[] = {20, 28, 26, 34, 57, 63, 30, 36, 38, 59, 67};
    return point_format <= 10 ? length[point_format] : 20;
}

unsigned header_size_of(unsigned version_minor) {
    return version_minor >= 4 ? 375 : version_minor == 3 ? 235 : 227;
}

int las_type_of(unsigned version_minor, unsigned point_format) {
    if (point_format > 3 || version_minor > 2) return 0;
    if (version_minor < 2) return point_format > 1 ? 0 : 1 + 2 * version_minor + point_format;
    return 5 + point_format;
}

LasOptions options_for_type(int las_type) {
    static const uint8_t minor[] = {0, 0, 0, 1, 1, 2, 2, 2, 2};
    static const uint8_t format[] = {0, 0, 1, 0, 1, 0, 1, 2, 3};
    LasOptions s;
    s.version_minor = minor[las_type];
    s.point_format = format[las_type];
    return s;
}

std::vector<uint8_t> encode_point(const LasOptions &opts, const Point &p) {
    const unsigned f = opts.point_format;
    std::vector<uint8_t> r(stride_of(opts), 0);
    put<int32_t>(r, 0, p.x);
    put<int32_t>(r, 4, p.y);
    put<int32_t>(r, 8, p.z);
    put<uint16_t>(r, 12, p.intensity);
    r[14] = p.bitfield;
    size_t at;
    bool gps, rgb, nir = false, wave;
    if (f >= 6 && f <= 10) {
        r[15] = p.flags;
        r[16] = p.classification;
        r[17] = p.user_data;
        put<int16_t>(r, 18, p.scan_angle_raw);
        put<uint16_t>(r, 20, p.point_source_id);
        at = 22;
        gps = true;
        rgb = f == 7 || f == 8 || f == 10;
        nir = f == 8 || f == 10;
        wave = f == 9 || f == 10;
    } else {
        r[15] = p.classification;
        r[16] = static_cast<uint8_t>(p.scan_angle);
        r[17] = p.user_data;
        put<uint16_t>(r, 18, p.point_source_id);
        at = 20;
        gps = f == 1 || f == 3 || f == 4 || f == 5;
        rgb = f == 2 || f == 3 || f == 5;
        wave = f == 4 || f == 5;
    }
    if (gps) {
        put<double>(r, at, p.gps_time);
        at += 8;
    }
    if (rgb) {
        put<uint16_t>(r, at, p.red);
        put<uint16_t>(r, at + 2, p.green);
        put<uint16_t>(r, at + 4, p.blue);
        at += 6;
    }
    if (nir) {
        put<uint16_t>(r, at, p.nir);
        at += 2;
    }
    if (wave) std::memcpy(&r[at], p.wave.data(), p.wave.size());
    r.resize(stride_of(opts));
    const size_t natural = natural_record_length(f);
    for (size_t k = 0; k < p.extra.size() && natural + k < r.size(); ++k) r[natural + k] = p.extra[k];
    return r;
}

std::vector<uint8_t> make_las(const LasOptions &opts, const std::vector<Point> &points) {
    Bounds b;
    for (const Point &p : points) b.add(opts, p);
    std::vector<uint8_t> out = encode_head(opts, points.size(), b);
    for (const Point &p : points) {
        const std::vector<uint8_t> r = encode_point(opts, p);
        out.insert(out.end(), r.begin(), r.end());
    }
    const std::vector<uint8_t> evlrs = encode_evlrs(opts);
    out.insert(out.end(), evlrs.begin(), evlrs.end());
    out.resize(out.size() + opts.trailing_bytes, 0xAB);
    if (opts.truncate_to >= 0 && static_cast<uint64_t>(opts.truncate_to) < out.size())
        out.resize(static_cast<size_t>(opts.truncate_to));
    return out;
}

void write_las(const std::string &path, const LasOptions &opts, const std::vector<Point> &points) {
    const std::vector<uint8_t> bytes = make_las(opts, points);
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f || (!bytes.empty() && std::fwrite(bytes.data(), 1, bytes.size(), f.get()) != bytes.size()))
        throw std::runtime_error("cannot write " + path);
}

void write_las(const std::string &path, const LasOptions &opts, uint64_t count,
               const std::function<Point(uint64_t)> &gen) {
    std::unique_ptr<FILE, FileCloser> f(std::fopen(path.c_str(), "wb"));
    if (!f) throw std::runtime_error("cannot create " + path);
    // The header goes first with provisional bounds and is rewritten at the
    // end, once the points have been seen.
    Bounds b;
    std::vector<uint8_t> head = encode_head(opts, count, b);
    bool ok = std::fwrite(head.data(), 1, head.size(), f.get()) == head.size();
    const uint32_t stride = stride_of(opts);
    std::vector<uint8_t> block;
    block.reserve(size_t{1} << 20);
    for (uint64_t i = 0; i < count && ok; ++i) {
        const Point p = gen(i);
        b.add(opts, p);
        const std::vector<uint8_t> r = encode_point(opts, p);
        block.insert(block.end(), r.begin(), r.end());
        if (block.size() + stride > (size_t{1} << 20) || i + 1 == count) {
            ok = std::fwrite(block.data(), 1, block.size(), f.get()) == block.size();
            block.clear();
        }
    }
    std::vector<uint8_t> tail = encode_evlrs(opts);
    tail.resize(tail.size() + opts.trailing_bytes, 0xAB);
    ok = ok && (tail.empty() || std::fwrite(tail.data(), 1, tail.size(), f.get()) == tail.size());
    head = encode_head(opts, count, b);
    ok = ok && std::fseek(f.get(), 0, SEEK_SET) == 0 &&
         std::fwrite(head.data(), 1, 227, f.get()) == 227;
    ok = std::fclose(f.release()) == 0 && ok;
    if (!ok) throw std::runtime_error("cannot write " + path);
    if (opts.truncate_to >= 0 && ::truncate(path.c_str(), opts.truncate_to) != 0)
        throw std::runtime_error("cannot truncate " + path);
}

namespace {
// A 64-bit mix (splitmix64), for repeatable pseudo-random fields.
uint64_t mix(uint64_t z) {
    z += 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}
}  // namespace

Point varied_point(uint64_t i) {
    const uint64_t h = mix(i);
    Point p;
    p.x = static_cast<int32_t>(static_cast<uint32_t>(h));
    p.y = static_cast<int32_t>(static_cast<uint32_t>(h >> 32));
    p.z = static_cast<int32_t>(static_cast<uint32_t>(mix(h)));
    const uint64_t g = mix(h + 1);
    p.intensity = static_cast<uint16_t>(g);
    p.bitfield = static_cast<uint8_t>(g >> 16);
    p.classification = static_cast<uint8_t>(g >> 24);
    p.scan_angle = static_cast<int8_t>(static_cast<int>((g >> 32) % 181) - 90);
    p.user_data = static_cast<uint8_t>(g >> 40);
    p.point_source_id = static_cast<uint16_t>(g >> 48);
    p.gps_time = static_cast<double>(mix(g) % 60480000000ull) / 100000.0;  // week seconds, 5 decimals
    const uint64_t c = mix(g + 2);
    p.red = static_cast<uint16_t>(c);
    p.green = static_cast<uint16_t>(c >> 16);
    p.blue = static_cast<uint16_t>(c >> 32);
    // The fields of formats 4 to 10 only.
    const uint64_t e = mix(c + 3);
    p.flags = static_cast<uint8_t>(e);
    p.scan_angle_raw = static_cast<int16_t>(e >> 8);
    p.nir = static_cast<uint16_t>(e >> 24);
    for (size_t k = 0; k < p.wave.size(); ++k) p.wave[k] = static_cast<uint8_t>(e >> (k % 8 * 8)) ^ static_cast<uint8_t>(k);
    return p;
}

Point survey_point(uint64_t i) {
    constexpr uint64_t kPerLine = 400;   // pulses across a scan line
    constexpr double kSpacing = 0.75;    // metres between pulses and lines
    const uint64_t line = i / kPerLine, j = i % kPerLine;
    const uint64_t h = mix(i);
    const double jitter_x = (static_cast<double>(h & 0xFFFF) / 65535.0 - 0.5) * 0.3;
    const double jitter_y = (static_cast<double>((h >> 16) & 0xFFFF) / 65535.0 - 0.5) * 0.3;
    const double x = j * kSpacing + jitter_x, y = line * kSpacing + jitter_y;

    const double ground = 120.0 + 8.0 * std::sin(x / 40.0) + 6.0 * std::cos(y / 55.0) +
                          3.0 * std::sin((x + y) / 23.0);
    // Trees on a loose 20 m grid, some cells empty; one flat-roofed building.
    const int64_t cx = static_cast<int64_t>(std::floor(x / 20.0)), cy = static_cast<int64_t>(std::floor(y / 20.0));
    const uint64_t cell = mix(static_cast<uint64_t>(cx) * 1000003ull + static_cast<uint64_t>(cy));
    const double tx = cx * 20.0 + 5.0 + (cell & 0xFF) / 25.5, ty = cy * 20.0 + 5.0 + ((cell >> 8) & 0xFF) / 25.5;
    const double radius = 3.0 + ((cell >> 16) & 0xFF) / 64.0, height = 8.0 + ((cell >> 24) & 0xFF) / 20.0;
    const double d = std::hypot(x - tx, y - ty);
    const bool tree = (cell >> 40) % 3 != 0 && d < radius;
    const bool building = x > 180.0 && x < 225.0 && std::fmod(y, 300.0) > 60.0 && std::fmod(y, 300.0) < 90.0;

    Point p;
    double z = ground;
    int returns = 1, number = 1;
    uint8_t cls = 2;
    if (building) {
        z = 128.0 + 9.0;
        cls = 6;
    } else if (tree) {
        returns = 2 + static_cast<int>((h >> 40) % 3);
        number = 1 + static_cast<int>((h >> 44) % returns);
        const double canopy = ground + height * std::sqrt(std::max(0.0, 1.0 - (d / radius) * (d / radius)));
        z = number == returns ? ground : canopy - (canopy - ground) * (number - 1) / returns;
        const double above = z - ground;
        cls = above < 0.3 ? 2 : above < 2.0 ? 3 : above < 5.0 ? 4 : 5;
    }
    const bool forward = line % 2 == 0;
    p.x = static_cast<int32_t>(std::lround(x * 100.0));
    p.y = static_cast<int32_t>(std::lround(y * 100.0));
    p.z = static_cast<int32_t>(std::lround(z * 100.0));
    p.bitfield = static_cast<uint8_t>(number | (returns << 3) | (forward ? 0x40 : 0) |
                                      ((j == 0 || j == kPerLine - 1) ? 0x80 : 0));
    p.classification = cls;
    p.scan_angle = static_cast<int8_t>(static_cast<int>(j * 41 / kPerLine) - 20);
    p.intensity = static_cast<uint16_t>((cls == 2 ? 600 : cls == 6 ? 900 : 180) + (h >> 48) % 300 - 100 * (number - 1));
    p.point_source_id = static_cast<uint16_t>(1 + line / 50);
    p.user_data = 0;
    p.gps_time = 345600.0 + static_cast<double>(i) * 1.0e-5;
    const uint16_t shade = static_cast<uint16_t>((h >> 52) % 40);
    if (cls == 6) {
        p.red = p.green = p.blue = static_cast<uint16_t>((150 + shade) * 256);
    } else if (cls == 2) {
        p.red = static_cast<uint16_t>((120 + shade) * 256);
        p.green = static_cast<uint16_t>((110 + shade) * 256);
        p.blue = static_cast<uint16_t>((80 + shade) * 256);
    } else {
        p.red = static_cast<uint16_t>((40 + shade) * 256);
        p.green = static_cast<uint16_t>((100 + shade) * 256);
        p.blue = static_cast<uint16_t>((40 + shade / 2) * 256);
    }
    return p;
}

}  // namespace lastest
