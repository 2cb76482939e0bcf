// The LAZ writer: each item's encoder makes the decisions its decoder in
// src/laz reads back, in the same order, with the same models and contexts;
// the decoder's model classes, its return contexts and its context switch of
// the layered items are used as they are, so that their update rules are
// stated once.
#include "laz_writer.h"

#include "copc_hierarchy.h"

#include "gpstime11_v2.h"
#include "item_common.h"
#include "laszip_record.h"
#include "laz_encoder.h"
#include "layered_chunk.h"
#include "point10.h"
#include "point14.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <stdexcept>
#include <tuple>

namespace laztest {
namespace {

using laz::ArithmeticEncoder;
using laz::SymbolModel;
using laz::load16;
using laz::load32;
using laz::load64;
using laz::store16;
using laz::store32;
using laz::store64;

// ---------------------------------------------------------------- integers

using laz::IntegerEncoder;

int32_t difference(int32_t a, int32_t b) {  // a - b, wrapping as the decoder's sums wrap
    return static_cast<int32_t>(static_cast<uint32_t>(a) - static_cast<uint32_t>(b));
}
// The symbol of a byte: its difference from the predicted byte, wrapped into a byte.
uint32_t byte_difference(uint32_t real, uint32_t predicted) { return (real - predicted) & 0xFF; }

// ---------------------------------------------------------------- GPS time

// The symbols of the two GPS time codings: the point-wise one has a symbol
// for an unchanged time; the layered one codes a time only when it changed.
struct GpsCodes {
    uint32_t zero_symbols;    // the model used while the sequence's last difference is 0
    int32_t zero_unchanged;   // -1: none
    uint32_t zero_difference, zero_full;  // a switch to sequence +i is zero_full + i
    uint32_t multi_symbols;
    int32_t multi_unchanged;  // -1: none
    uint32_t multi_full;      // a switch to sequence +i is multi_full + i
};
constexpr int32_t kGpsMulti = laz::GpsTime11V2::kMulti;
constexpr int32_t kGpsMultiMinus = laz::GpsTime11V2::kMultiMinus;
constexpr GpsCodes kPointwiseGps{6, 0, 1, 2, laz::GpsTime11V2::kSymbols, laz::GpsTime11V2::kUnchanged,
                                 laz::GpsTime11V2::kWhole};
constexpr GpsCodes kLayeredGps{5, -1, 0, 1, kGpsMulti - kGpsMultiMinus + 5, -1, kGpsMulti - kGpsMultiMinus + 1};

// Four sequences of times, each predicted from its last time and difference.
class GpsEncoder {
 public:
    GpsEncoder(const GpsCodes &codes, uint64_t first)
        : codes_(codes), multi_(codes.multi_symbols), zero_(codes.zero_symbols), times_(32, 9) {
        time_[0] = first;
    }

    void encode(ArithmeticEncoder &enc, uint64_t t) {
        // A switch to another sequence is followed by the time's coding in it.
        for (;;) {
            const bool zero = diff_[last_] == 0;
            SymbolModel &model = zero ? zero_ : multi_;
            const int32_t unchanged = zero ? codes_.zero_unchanged : codes_.multi_unchanged;
            const uint32_t full = zero ? codes_.zero_full : codes_.multi_full;
            if (t == time_[last_] && unchanged >= 0) {
                enc.encode_symbol(model, static_cast<uint32_t>(unchanged));
                return;
            }
            const int64_t d64 = static_cast<int64_t>(t - time_[last_]);
            if (d64 != static_cast<int32_t>(d64)) {
                uint32_t other = 1;
                while (other < 4 && !fits(t - time_[(last_ + other) & 3])) ++other;
                if (other < 4) {
                    enc.encode_symbol(model, full + other);
                    last_ = (last_ + other) & 3;
                    continue;
                }
                enc.encode_symbol(model, full);
                next_ = (next_ + 1) & 3;
                times_.encode(enc, static_cast<int32_t>(time_[last_] >> 32), static_cast<int32_t>(t >> 32), 8);
                enc.write_bits(32, static_cast<uint32_t>(t));
                last_ = next_;
                diff_[last_] = 0;
                extremes_[last_] = 0;
                time_[last_] = t;
                return;
            }
            const int32_t d = static_cast<int32_t>(d64);
            if (zero) {
                enc.encode_symbol(model, codes_.zero_difference);
                times_.encode(enc, 0, d, 0);
                diff_[last_] = d;
            } else {
                encode_multiplied(enc, d);
            }
            time_[last_] = t;
            return;
        }
    }

 private:
    static bool fits(uint64_t difference) {
        const int64_t d = static_cast<int64_t>(difference);
        return d == static_cast<int32_t>(d);
    }
    // The difference as a multiple of the last one: the multiplier's symbol,
    // then the difference from the multiple, in the multiplier's context.
    void encode_multiplied(ArithmeticEncoder &enc, int32_t d) {
        const int32_t last = diff_[last_];
        const double q = std::round(static_cast<double>(d) / last);
        const int32_t multi = static_cast<int32_t>(std::clamp<double>(q, kGpsMultiMinus, kGpsMulti));
        enc.encode_symbol(multi_, static_cast<uint32_t>(multi >= 0 ? multi : kGpsMulti - multi));
        int32_t predicted;
        uint32_t context;
        bool extreme = false;
        if (multi == 1) {
            predicted = last, context = 1;
        } else if (multi == 0) {
            predicted = 0, context = 7, extreme = true;
        } else if (multi == kGpsMulti) {
            predicted = laz::wrap_mul(kGpsMulti, last), context = 4, extreme = true;
        } else if (multi == kGpsMultiMinus) {
            predicted = laz::wrap_mul(kGpsMultiMinus, last), context = 6, extreme = true;
        } else {
            predicted = laz::wrap_mul(multi, last), context = multi < 0 ? 5 : multi < 10 ? 2 : 3;
        }
        times_.encode(enc, predicted, d, context);
        if (multi == 1) extremes_[last_] = 0;
        if (extreme && ++extremes_[last_] > 3) {
            diff_[last_] = d;
            extremes_[last_] = 0;
        }
    }

    const GpsCodes &codes_;
    SymbolModel multi_, zero_;
    IntegerEncoder times_;
    uint32_t last_ = 0, next_ = 0;
    uint64_t time_[4] = {};
    int32_t diff_[4] = {};
    int32_t extremes_[4] = {};
};

// ---------------------------------------------------------------- colour

struct Colour {
    uint16_t rgb[3];  // red, green, blue
};

uint32_t byte_of(uint32_t v, int h) { return v >> (8 * h) & 0xFF; }

// Red's bytes as differences from the last; unless the colour is grey,
// green's and blue's from the last moved as red's (and green's) moved. The
// same coding in the point-wise and the layered colour items.
void encode_colour(ArithmeticEncoder &enc, SymbolModel &changed, SymbolModel *bytes, const Colour &last,
                   const Colour &c) {
    uint32_t sym = 0;
    for (int i = 0; i < 3; ++i)
        for (int h = 0; h < 2; ++h)
            sym |= static_cast<uint32_t>(byte_of(c.rgb[i], h) != byte_of(last.rgb[i], h)) << (2 * i + h);
    const bool grey = c.rgb[0] == c.rgb[1] && c.rgb[0] == c.rgb[2];
    if (!grey) sym |= 64;
    enc.encode_symbol(changed, sym);
    for (int h = 0; h < 2; ++h)
        if (sym & 1u << h) enc.encode_symbol(bytes[h], byte_difference(byte_of(c.rgb[0], h), byte_of(last.rgb[0], h)));
    if (grey) return;
    for (int h = 0; h < 2; ++h) {
        auto at = [&](const Colour &col, int i) { return static_cast<int32_t>(byte_of(col.rgb[i], h)); };
        // Byte h of channel i, against the last value moved by `move`.
        auto code = [&](int i, int32_t move) {
            const uint32_t predicted = static_cast<uint32_t>(laz::clamp_byte(move + at(last, i)));
            enc.encode_symbol(bytes[2 * i + h], byte_difference(static_cast<uint32_t>(at(c, i)), predicted));
        };
        int32_t diff = at(c, 0) - at(last, 0);
        if (sym & 4u << h) code(1, diff);
        if (sym & 16u << h) code(2, (diff + at(c, 1) - at(last, 1)) / 2);
    }
}

Colour colour_at(const uint8_t *p) { return {{load16(p), load16(p + 2), load16(p + 4)}}; }

std::vector<SymbolModel> byte_models(size_t n) { return std::vector<SymbolModel>(n, SymbolModel(256)); }

// ---------------------------------------------------------------- point-wise items, version 2

class Point10Encoder {
 public:
    explicit Point10Encoder(const uint8_t *first)
        : changed_(64), intensity_(16, 4), scan_angle_{SymbolModel(256), SymbolModel(256)}, source_(16),
          dx_(32, 2), dy_(32, 22), dz_(32, 20) {
        last_.load(first);
    }

    void encode(ArithmeticEncoder &enc, const uint8_t *record) {
        laz::Point10 p;
        p.load(record);
        const uint32_t r = p.return_number(), n = p.return_count();
        const uint32_t m = laz::kReturnContext[n][r], l = laz::return_level(n, r);
        const uint32_t changed = (p.returns != last_.returns) << 5 | (p.intensity != intensities_[m]) << 4 |
                                 (p.classification != last_.classification) << 3 |
                                 (p.scan_angle != last_.scan_angle) << 2 | (p.user_data != last_.user_data) << 1 |
                                 (p.source != last_.source);
        enc.encode_symbol(changed_, changed);
        if (changed & 32) enc.encode_symbol(returns_[last_.returns], p.returns);
        if (changed & 16) {
            intensity_.encode(enc, intensities_[m], p.intensity, m < 3 ? m : 3);
            intensities_[m] = p.intensity;
        }
        if (changed & 8) enc.encode_symbol(classification_[last_.classification], p.classification);
        if (changed & 4)
            enc.encode_symbol(scan_angle_[p.scan_direction()], byte_difference(p.scan_angle, last_.scan_angle));
        if (changed & 2) enc.encode_symbol(user_data_[last_.user_data], p.user_data);
        if (changed & 1) source_.encode(enc, last_.source, p.source);

        const int32_t dx = difference(p.x, last_.x);
        dx_.encode(enc, x_medians_[m].get(), dx, n == 1);
        x_medians_[m].add(dx);
        uint32_t k = dx_.k();
        const int32_t dy = difference(p.y, last_.y);
        dy_.encode(enc, y_medians_[m].get(), dy, (n == 1) + (k < 20 ? k & ~1u : 20));
        y_medians_[m].add(dy);
        k = (dx_.k() + dy_.k()) / 2;
        dz_.encode(enc, heights_[l], p.z, (n == 1) + (k < 18 ? k & ~1u : 18));
        heights_[l] = p.z;
        last_ = p;
    }

 private:
    laz::Point10 last_{};
    uint16_t intensities_[16] = {};
    laz::Median5 x_medians_[16], y_medians_[16];
    int32_t heights_[8] = {};
    SymbolModel changed_;
    IntegerEncoder intensity_;
    SymbolModel scan_angle_[2];
    IntegerEncoder source_, dx_, dy_, dz_;
    laz::ByteModelsByValue returns_, classification_, user_data_;
};

// The items of one record of point formats 0 to 3, fresh for each chunk.
class PointwiseEncoder {
 public:
    PointwiseEncoder(uint8_t format, uint32_t extra, const uint8_t *first)
        : point_(first),
          extra_(byte_models(extra)),
          last_extra_(first + record_bytes(format, 0), first + record_bytes(format, extra)) {
        uint32_t at = laz::kPoint10Bytes;
        if (format == 1 || format == 3) {
            gps_.emplace(kPointwiseGps, load64(first + at));
            at += 8;
        }
        if (format >= 2) {
            rgb_at_ = at;
            last_colour_ = colour_at(first + at);
        }
    }

    // The record's length: the point, the time, the colour, the extra bytes.
    static uint32_t record_bytes(uint8_t format, uint32_t extra) {
        return laz::kPoint10Bytes + (format == 1 || format == 3 ? 8 : 0) + (format >= 2 ? 6 : 0) + extra;
    }

    void encode(ArithmeticEncoder &enc, const uint8_t *record) {
        point_.encode(enc, record);
        if (gps_) gps_->encode(enc, load64(record + laz::kPoint10Bytes));
        uint32_t at = laz::kPoint10Bytes + (gps_ ? 8 : 0);
        if (rgb_at_ != 0) {
            const Colour c = colour_at(record + rgb_at_);
            encode_colour(enc, rgb_changed_, rgb_bytes_, last_colour_, c);
            last_colour_ = c;
            at += 6;
        }
        for (size_t i = 0; i < extra_.size(); ++i) {
            enc.encode_symbol(extra_[i], byte_difference(record[at + i], last_extra_[i]));
            last_extra_[i] = record[at + i];
        }
    }

 private:
    Point10Encoder point_;
    std::optional<GpsEncoder> gps_;
    uint32_t rgb_at_ = 0;
    Colour last_colour_{};
    SymbolModel rgb_changed_{128};
    SymbolModel rgb_bytes_[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                                 SymbolModel(256), SymbolModel(256), SymbolModel(256)};
    std::vector<SymbolModel> extra_;
    std::vector<uint8_t> last_extra_;
};

// The first record raw, then the others in one stream.
std::vector<uint8_t> pointwise_chunk(uint8_t format, uint32_t extra, const uint8_t *records, uint32_t n,
                                     uint32_t length) {
    std::vector<uint8_t> out(records, records + length);
    PointwiseEncoder items(format, extra, records);
    ArithmeticEncoder enc;
    for (uint32_t i = 1; i < n; ++i) items.encode(enc, records + size_t{i} * length);
    const std::vector<uint8_t> coded = enc.done();
    out.insert(out.end(), coded.begin(), coded.end());
    return out;
}

// ---------------------------------------------------------------- layered items, version 3

constexpr uint32_t kLayeredVersion = 3;

// Models made when a chunk first uses them.
struct LazyModels {
    explicit LazyModels(uint32_t symbols) : symbols(symbols) {}
    SymbolModel &operator[](uint32_t i) {
        auto &m = models[i];
        if (!m) m = std::make_unique<SymbolModel>(symbols);
        return *m;
    }
    uint32_t symbols;
    std::unique_ptr<SymbolModel> models[64];
};

using Layer = laz::Point14Decoder::Layer;

class Point14Encoder {
 public:
    explicit Point14Encoder(const uint8_t *first) {
        std::memcpy(&first_, first, sizeof first_);
        current_ = first_.flags >> 4 & 3;
        start_channel(current_, first_);
    }

    // Encodes a record; returns the context of the other items.
    uint32_t encode(const uint8_t *record) {
        laz::Point14Record p;
        std::memcpy(&p, record, sizeof p);
        note_changes(p);
        ArithmeticEncoder &xy = layer_[Layer::kReturnsXY];
        Channel *c = channel_[current_].get();
        const uint32_t last_r = c->last.returns & 15, last_n = c->last.returns >> 4;
        const uint32_t lpr = (last_r == 1) | (last_r >= last_n) << 1 | c->gps_time_change << 2;

        // What changed, against the last point of the point's own channel.
        const uint32_t channel = p.flags >> 4 & 3;
        const laz::Point14Record &t = channel != current_ && channel_[channel] ? channel_[channel]->last : c->last;
        const uint32_t n = p.returns >> 4, r = p.returns & 15, tn = t.returns >> 4, tr = t.returns & 15;
        const uint32_t gps_change = p.gps_time != t.gps_time;
        uint32_t changed = (channel != current_) << 6 | (p.point_source != t.point_source) << 5 | gps_change << 4 |
                           (p.scan_angle != t.scan_angle) << 3 | (n != tn) << 2;
        if (r != tr) changed |= r == (tr + 1) % 16 ? 1 : r == (tr + 15) % 16 ? 2 : 3;
        xy.encode_symbol(c->changed_values[lpr], changed);

        uint32_t context = 0;  // version 3 names a context only when the channel changes
        if (changed & 1 << 6) {
            xy.encode_symbol(c->scanner_channel, (channel - current_ + 3) % laz::kContexts);
            if (!channel_[channel]) start_channel(channel, c->last);
            current_ = channel;
            c = channel_[channel].get();
            c->last.flags = static_cast<uint8_t>((c->last.flags & ~0x30) | channel << 4);
            context = channel;
        }
        laz::Point14Record &l = c->last;

        if (changed & 1 << 2) xy.encode_symbol(c->number_of_returns[tn], n);
        if ((changed & 3) == 3) {
            if (gps_change) xy.encode_symbol(c->return_number[tr], r);
            else xy.encode_symbol(c->return_number_gps_same, (r + 32 - tr - 2) % 16);
        }
        const uint32_t cpr = (r == 1 ? 2 : 0) | (r >= n ? 1 : 0);
        const uint32_t one_return = n == 1;
        const uint32_t m = laz::kReturnMap14[n][r] << 1 | gps_change;
        int32_t diff = difference(p.x, l.x);
        c->dx.encode(xy, c->dx_median[m].get(), diff, one_return);
        c->dx_median[m].add(diff);
        uint32_t k = c->dx.k();
        diff = difference(p.y, l.y);
        c->dy.encode(xy, c->dy_median[m].get(), diff, one_return + (k < 20 ? k & ~1u : 20));
        c->dy_median[m].add(diff);

        k = (c->dx.k() + c->dy.k()) / 2;
        const uint32_t depth = std::min(laz::return_level(n, r), 7u);
        c->z.encode(layer_[Layer::kZ], c->last_z[depth], p.z, one_return + (k < 18 ? k & ~1u : 18));
        c->last_z[depth] = p.z;
        layer_[Layer::kClassification].encode_symbol(
            c->classification[(l.classification & 0x1F) << 1 | (cpr == 3)], p.classification);
        auto flag_bits = [](uint8_t f) { return static_cast<uint32_t>((f & 0x0F) | (f >> 6 & 3) << 4); };
        layer_[Layer::kFlags].encode_symbol(c->flags[flag_bits(l.flags)], flag_bits(p.flags));
        const uint32_t i = cpr << 1 | gps_change;
        c->intensity.encode(layer_[Layer::kIntensity], c->last_intensity[i], p.intensity, cpr);
        c->last_intensity[i] = p.intensity;
        if (changed & 1 << 3) c->scan_angle.encode(layer_[Layer::kScanAngle], l.scan_angle, p.scan_angle, gps_change);
        layer_[Layer::kUserData].encode_symbol(c->user_data[l.user_data / 4], p.user_data);
        if (changed & 1 << 5) c->point_source.encode(layer_[Layer::kPointSource], l.point_source, p.point_source);
        if (gps_change) c->gps.encode(layer_[Layer::kGpsTime], p.gps_time);
        c->gps_time_change = gps_change;
        l = p;
        return context;
    }

    // The layers' bytes: a field that kept the chunk's first value has none.
    std::vector<std::vector<uint8_t>> layers() {
        std::vector<std::vector<uint8_t>> out;
        for (uint32_t i = 0; i < Layer::kLayers; ++i)
            out.push_back(i == Layer::kReturnsXY || changed_[i] ? layer_[i].done() : std::vector<uint8_t>());
        return out;
    }

 private:
    struct Channel {
        explicit Channel(const laz::Point14Record &from) : last(from), gps(kLayeredGps, from.gps_time) {
            for (int32_t &z : last_z) z = from.z;
            for (uint16_t &v : last_intensity) v = from.intensity;
        }
        laz::Point14Record last;
        bool gps_time_change = false;
        std::vector<SymbolModel> changed_values = std::vector<SymbolModel>(8, SymbolModel(128));
        SymbolModel scanner_channel{laz::kContexts - 1};
        LazyModels number_of_returns{16}, return_number{16};
        SymbolModel return_number_gps_same{13};
        IntegerEncoder dx{32, 2}, dy{32, 22}, z{32, 20};
        laz::Median5 dx_median[12], dy_median[12];
        int32_t last_z[8];
        LazyModels classification{256}, flags{64}, user_data{256};
        IntegerEncoder intensity{16, 4};
        uint16_t last_intensity[8];
        IntegerEncoder scan_angle{16, 2}, point_source{16};
        GpsEncoder gps;
    };

    void start_channel(uint32_t channel, const laz::Point14Record &from) {
        channel_[channel] = std::make_unique<Channel>(from);
    }
    void note_changes(const laz::Point14Record &p) {
        const laz::Point14Record &f = first_;
        changed_[Layer::kZ] |= p.z != f.z;
        changed_[Layer::kClassification] |= p.classification != f.classification;
        changed_[Layer::kFlags] |= (p.flags & 0xCF) != (f.flags & 0xCF);
        changed_[Layer::kIntensity] |= p.intensity != f.intensity;
        changed_[Layer::kScanAngle] |= p.scan_angle != f.scan_angle;
        changed_[Layer::kUserData] |= p.user_data != f.user_data;
        changed_[Layer::kPointSource] |= p.point_source != f.point_source;
        changed_[Layer::kGpsTime] |= p.gps_time != f.gps_time;
    }

    laz::Point14Record first_;
    uint32_t current_ = 0;
    ArithmeticEncoder layer_[Layer::kLayers];
    bool changed_[Layer::kLayers] = {};
    std::unique_ptr<Channel> channel_[laz::kContexts];
};

// Colour (one layer) and near infrared (a second), following the point's context.
class Rgb14Encoder {
 public:
    Rgb14Encoder(bool nir, const uint8_t *first, uint32_t context) : nir_(nir), switch_(kLayeredVersion) {
        switch_.first(context);
        first_ = last_[context] = value_at(first);
        models_[context] = std::make_unique<Models>();
    }

    void encode(const uint8_t *record, uint32_t context) {
        if (!switch_.born(context)) models_[context] = std::make_unique<Models>();
        Value &last = last_[switch_.enter(context, last_)];
        Models &m = *models_[context];
        const Value v = value_at(record);
        encode_colour(layer_[0], m.changed, m.bytes, last.colour, v.colour);
        changed_[0] |= std::memcmp(&v.colour, &first_.colour, sizeof v.colour) != 0;
        if (nir_) {
            uint32_t sym = 0;
            for (int h = 0; h < 2; ++h) sym |= static_cast<uint32_t>(byte_of(v.nir, h) != byte_of(last.nir, h)) << h;
            layer_[1].encode_symbol(m.nir_changed, sym);
            for (int h = 0; h < 2; ++h)
                if (sym & 1u << h)
                    layer_[1].encode_symbol(m.nir_bytes[h], byte_difference(byte_of(v.nir, h), byte_of(last.nir, h)));
            changed_[1] |= v.nir != first_.nir;
        }
        last = v;
    }

    std::vector<std::vector<uint8_t>> layers() {
        std::vector<std::vector<uint8_t>> out;
        for (int i = 0; i < (nir_ ? 2 : 1); ++i) out.push_back(changed_[i] ? layer_[i].done() : std::vector<uint8_t>());
        return out;
    }

 private:
    struct Value {
        Colour colour;
        uint16_t nir;
    };
    struct Models {
        SymbolModel changed{128};
        SymbolModel bytes[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                                SymbolModel(256), SymbolModel(256), SymbolModel(256)};
        SymbolModel nir_changed{4};
        SymbolModel nir_bytes[2] = {SymbolModel(256), SymbolModel(256)};
    };
    Value value_at(const uint8_t *p) const { return {colour_at(p), nir_ ? load16(p + 6) : uint16_t{0}}; }

    bool nir_;
    laz::ContextSwitch switch_;
    Value first_{}, last_[laz::kContexts] = {};
    std::unique_ptr<Models> models_[laz::kContexts];
    ArithmeticEncoder layer_[2];
    bool changed_[2] = {};
};

// Extra bytes: each byte its own layer, as its difference from the last.
class Byte14Encoder {
 public:
    Byte14Encoder(uint32_t count, const uint8_t *first, uint32_t context)
        : switch_(kLayeredVersion), first_(first, first + count), layer_(count), changed_(count) {
        switch_.first(context);
        last_[context] = first_;
        models_[context] = byte_models(count);
    }

    void encode(const uint8_t *record, uint32_t context) {
        if (!switch_.born(context)) models_[context] = byte_models(first_.size());
        std::vector<uint8_t> &last = last_[switch_.enter(context, last_)];
        std::vector<SymbolModel> &models = models_[context];
        for (size_t i = 0; i < first_.size(); ++i) {
            layer_[i].encode_symbol(models[i], byte_difference(record[i], last[i]));
            last[i] = record[i];
            changed_[i] = changed_[i] || record[i] != first_[i];
        }
    }

    std::vector<std::vector<uint8_t>> layers() {
        std::vector<std::vector<uint8_t>> out;
        for (size_t i = 0; i < first_.size(); ++i)
            out.push_back(changed_[i] ? layer_[i].done() : std::vector<uint8_t>());
        return out;
    }

 private:
    laz::ContextSwitch switch_;
    std::vector<uint8_t> first_;
    std::vector<uint8_t> last_[laz::kContexts];
    std::vector<SymbolModel> models_[laz::kContexts];
    std::vector<ArithmeticEncoder> layer_;
    std::vector<bool> changed_;
};

// The first record raw, the point count, every layer's byte count, the layers.
std::vector<uint8_t> layered_chunk(uint8_t format, uint32_t extra, const uint8_t *records, uint32_t n,
                                   uint32_t length) {
    const uint32_t colour_at_byte = sizeof(laz::Point14Record);
    const uint32_t extra_at = colour_at_byte + (format == 7 ? 6 : format == 8 ? 8 : 0);
    Point14Encoder point(records);
    const uint32_t context = records[15] >> 4 & 3;
    std::optional<Rgb14Encoder> colour;
    if (format >= 7) colour.emplace(format == 8, records + colour_at_byte, context);
    std::optional<Byte14Encoder> bytes;
    if (extra != 0) bytes.emplace(extra, records + extra_at, context);
    for (uint32_t i = 1; i < n; ++i) {
        const uint8_t *record = records + size_t{i} * length;
        const uint32_t ctx = point.encode(record);
        if (colour) colour->encode(record + colour_at_byte, ctx);
        if (bytes) bytes->encode(record + extra_at, ctx);
    }
    std::vector<std::vector<uint8_t>> layers = point.layers();
    auto append = [&](const std::vector<std::vector<uint8_t>> &more) {
        layers.insert(layers.end(), more.begin(), more.end());
    };
    if (colour) append(colour->layers());
    if (bytes) append(bytes->layers());

    std::vector<uint8_t> out(records, records + length);
    uint8_t word[4];
    store32(word, n);
    out.insert(out.end(), word, word + 4);
    for (const auto &layer : layers) {
        store32(word, static_cast<uint32_t>(layer.size()));
        out.insert(out.end(), word, word + 4);
    }
    for (const auto &layer : layers) out.insert(out.end(), layer.begin(), layer.end());
    return out;
}

// ---------------------------------------------------------------- the file

// What the compressor needs of a LAS file's header.
struct LasLayout {
    std::vector<uint8_t> header;
    uint8_t version_minor, format;
    uint16_t record_length;
    uint32_t offset_to_data, vlr_count;
    uint64_t point_count, vlr_end, evlr_start;
};

// Where the LAS 1.4 header keeps the start of its EVLRs.
constexpr size_t kStartOfEvlrs = 235;

class Source {
 public:
    virtual ~Source() = default;
    virtual void read(uint64_t at, uint8_t *to, size_t n) = 0;
    virtual uint64_t size() = 0;
};
class Sink {
 public:
    virtual ~Sink() = default;
    virtual void write(const uint8_t *p, size_t n) = 0;
    virtual void patch(uint64_t at, const uint8_t *p, size_t n) = 0;
    virtual uint64_t size() = 0;
    void write(const std::vector<uint8_t> &b) { write(b.data(), b.size()); }
};

LasLayout layout_of(Source &in) {
    LasLayout l;
    l.header.resize(96);
    in.read(0, l.header.data(), 96);
    l.header.resize(load16(l.header.data() + 94));
    if (l.header.size() < 227) throw std::runtime_error("a LAS header of fewer than 227 bytes");
    in.read(0, l.header.data(), l.header.size());
    const uint8_t *h = l.header.data();
    l.version_minor = h[25];
    l.format = h[104];
    l.record_length = load16(h + 105);
    l.offset_to_data = load32(h + 96);
    l.vlr_count = load32(h + 100);
    l.point_count = load32(h + 107);
    l.evlr_start = 0;
    if (l.version_minor >= 4 && l.header.size() >= 375) {
        l.point_count = load64(h + 247);
        l.evlr_start = load64(h + kStartOfEvlrs);
    }
    l.vlr_end = l.header.size();
    for (uint32_t i = 0; i < l.vlr_count; ++i) {
        uint8_t v[54];
        in.read(l.vlr_end, v, sizeof v);
        l.vlr_end += sizeof v + load16(v + 20);  // the record length after its header
    }
    if (l.vlr_end > l.offset_to_data) throw std::runtime_error("the VLRs run past the point data");
    return l;
}

// The items that make a record of `format` with `extra` bytes after it.
std::vector<laz::Item> items_of(uint8_t format, uint32_t extra) {
    std::vector<laz::Item> items;
    if (format <= 3) {
        items.push_back({laz::kPoint10, 20, 2});
        if (format == 1 || format == 3) items.push_back({laz::kGpsTime11, 8, 2});
        if (format >= 2) items.push_back({laz::kRgb12, 6, 2});
        if (extra != 0) items.push_back({laz::kByte, static_cast<uint16_t>(extra), 2});
    } else if (format >= 6 && format <= 8) {
        items.push_back({laz::kPoint14, 30, kLayeredVersion});
        if (format == 7) items.push_back({laz::kRgb14, 6, kLayeredVersion});
        if (format == 8) items.push_back({laz::kRgbNir14, 8, kLayeredVersion});
        if (extra != 0) items.push_back({laz::kByte14, static_cast<uint16_t>(extra), kLayeredVersion});
    } else {
        throw std::runtime_error("point format " + std::to_string(format) + " has no LAZ encoder here");
    }
    return items;
}

// The LASzip record, its 54-byte VLR header included.
std::vector<uint8_t> laszip_vlr(uint16_t compressor, uint32_t chunk_size, const std::vector<laz::Item> &items) {
    const size_t payload = laz::kLaszipFixedBytes + items.size() * laz::kLaszipItemBytes;
    std::vector<uint8_t> v(54 + payload, 0);
    std::copy_n(laz::kLaszipUserId, sizeof laz::kLaszipUserId - 1, v.begin() + 2);
    store16(v.data() + 18, laz::kLaszipRecordId);
    store16(v.data() + 20, static_cast<uint32_t>(payload));
    const char description[] = "compressed by the tests";
    std::memcpy(v.data() + 22, description, sizeof description - 1);
    uint8_t *p = v.data() + 54;
    store16(p, compressor);
    store16(p + 2, laz::kArithmeticCoder);
    p[4] = 3, p[5] = 4, store16(p + 6, 3);  // the coder's version that these items belong to
    store32(p + 8, 0);
    store32(p + 12, chunk_size);
    store64(p + 16, ~uint64_t{0});  // no special EVLRs
    store64(p + 24, ~uint64_t{0});
    store16(p + 32, static_cast<uint32_t>(items.size()));
    for (size_t i = 0; i < items.size(); ++i) {
        uint8_t *q = p + laz::kLaszipFixedBytes + i * laz::kLaszipItemBytes;
        store16(q, items[i].type);
        store16(q + 2, items[i].size);
        store16(q + 4, items[i].version);
    }
    return v;
}

void copy(Source &in, Sink &out, uint64_t from, uint64_t to) {
    std::vector<uint8_t> buffer(1 << 20);
    while (from < to) {
        const size_t n = static_cast<size_t>(std::min<uint64_t>(buffer.size(), to - from));
        in.read(from, buffer.data(), n);
        out.write(buffer.data(), n);
        from += n;
    }
}

// The chunk table, its offset patched in at `table_pointer`: version 0, the
// count, then each chunk's point count (when `chunk_points` is not empty) and
// bytes, each predicted by the last chunk's.
void write_chunk_table(Sink &out, uint64_t table_pointer, const std::vector<uint32_t> &chunk_bytes,
                       const std::vector<uint32_t> &chunk_points) {
    uint8_t word[8];
    store64(word, out.size());
    out.patch(table_pointer, word, 8);
    store32(word, 0);
    store32(word + 4, static_cast<uint32_t>(chunk_bytes.size()));
    out.write(word, 8);
    ArithmeticEncoder enc;
    IntegerEncoder counts(32, 2);
    for (size_t i = 0; i < chunk_bytes.size(); ++i) {
        if (!chunk_points.empty())
            counts.encode(enc, i ? static_cast<int32_t>(chunk_points[i - 1]) : 0, static_cast<int32_t>(chunk_points[i]), 0);
        counts.encode(enc, i ? static_cast<int32_t>(chunk_bytes[i - 1]) : 0, static_cast<int32_t>(chunk_bytes[i]), 1);
    }
    out.write(enc.done());
}

void compress(Source &in, Sink &out, uint32_t chunk_size) {
    if (chunk_size == 0) throw std::runtime_error("chunks of 0 points");
    LasLayout l = layout_of(in);
    if (l.format & 0xC0) throw std::runtime_error("the LAS file is compressed already");
    const uint32_t standard = lastest::natural_record_length(l.format);
    if (l.record_length < standard) throw std::runtime_error("records shorter than their point format");
    const uint32_t extra = l.record_length - standard;
    const std::vector<laz::Item> items = items_of(l.format, extra);
    const bool layered = l.format >= 6;
    const std::vector<uint8_t> vlr =
        laszip_vlr(layered ? laz::kLayeredChunked : laz::kPointwiseChunked, chunk_size, items);

    uint8_t *h = l.header.data();
    h[104] = static_cast<uint8_t>(l.format | 0x80);
    store32(h + 100, l.vlr_count + 1);
    store32(h + 96, l.offset_to_data + static_cast<uint32_t>(vlr.size()));
    out.write(l.header);
    copy(in, out, l.header.size(), l.vlr_end);
    out.write(vlr);
    copy(in, out, l.vlr_end, l.offset_to_data);

    // The chunk table's offset, known once the chunks are written.
    const uint64_t table_pointer = out.size();
    out.write(std::vector<uint8_t>(8, 0));
    std::vector<uint32_t> chunk_bytes;
    std::vector<uint8_t> records;
    for (uint64_t done = 0; done < l.point_count;) {
        const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>(chunk_size, l.point_count - done));
        records.resize(size_t{n} * l.record_length);
        in.read(l.offset_to_data + done * l.record_length, records.data(), records.size());
        const auto encode = layered ? layered_chunk : pointwise_chunk;
        const std::vector<uint8_t> chunk = encode(l.format, extra, records.data(), n, l.record_length);
        out.write(chunk);
        chunk_bytes.push_back(static_cast<uint32_t>(chunk.size()));
        done += n;
    }

    write_chunk_table(out, table_pointer, chunk_bytes, {});
    uint8_t word[8];
    if (l.evlr_start != 0) {
        store64(word, out.size());
        copy(in, out, l.evlr_start, in.size());
        out.patch(kStartOfEvlrs, word, 8);
    }
}

// ---------------------------------------------------------------- COPC

constexpr size_t kEvlrCountAt = 243;
constexpr uint32_t kCopcInfoBytes = 160;
constexpr uint32_t kEntryBytes = 32;

struct NodeKey {
    int32_t depth, x, y, z;
    bool operator<(const NodeKey &o) const {
        return std::tie(depth, x, y, z) < std::tie(o.depth, o.x, o.y, o.z);
    }
    NodeKey up(int32_t to) const {
        const int32_t s = depth - to;
        return {to, x >> s, y >> s, z >> s};
    }
};

struct Entry {
    NodeKey key;
    uint64_t offset;
    int32_t bytes, points;
};

std::vector<uint8_t> record_header(const char *user, uint16_t id, uint64_t length, bool extended) {
    std::vector<uint8_t> v(extended ? 60 : 54, 0);
    std::memcpy(v.data() + 2, user, std::strlen(user));
    store16(v.data() + 18, id);
    if (extended) store64(v.data() + 20, length);
    else store16(v.data() + 20, static_cast<uint32_t>(length));
    return v;
}

double double_at(const uint8_t *p) {
    double d;
    std::memcpy(&d, p, sizeof d);
    return d;
}
void put_double(uint8_t *p, double d) { std::memcpy(p, &d, sizeof d); }

// The node of each point: its cell at the deepest depth, or the first node
// on the way down from the root that has room for it.
std::map<NodeKey, std::vector<uint32_t>> octree_of(const LasLayout &l, const std::vector<uint8_t> &records,
                                                    const double centre[3], double half, const CopcOptions &o) {
    const uint8_t *h = l.header.data();
    const auto depth = static_cast<int32_t>(o.depth);
    const int32_t cells = int32_t{1} << depth;
    const double side = 2 * half / cells;
    std::map<NodeKey, std::vector<uint32_t>> nodes;
    for (uint32_t i = 0; i < l.point_count; ++i) {
        int32_t cell[3];
        for (int a = 0; a < 3; ++a) {
            const auto raw = static_cast<int32_t>(load32(records.data() + size_t{i} * l.record_length + 4 * a));
            const double v = raw * double_at(h + 131 + 8 * a) + double_at(h + 155 + 8 * a);
            const double c = std::floor((v - (centre[a] - half)) / side);
            cell[a] = c < 0 ? 0 : c >= cells ? cells - 1 : static_cast<int32_t>(c);
        }
        const NodeKey leaf{depth, cell[0], cell[1], cell[2]};
        for (int32_t d = 0;; ++d) {
            std::vector<uint32_t> &points = nodes[leaf.up(d)];
            if (d == depth || points.size() < o.node_points) {
                points.push_back(i);
                break;
            }
        }
    }
    return nodes;
}

void compress_copc(Source &in, Sink &out, const CopcOptions &o) {
    const LasLayout l = layout_of(in);
    if (l.version_minor < 4 || l.format < 6 || l.format > 8)
        throw std::runtime_error("a COPC file holds LAS 1.4 point formats 6 to 8");
    if (o.depth > 20) throw std::runtime_error("an octree deeper than 20");
    const uint32_t standard = lastest::natural_record_length(l.format);
    if (l.record_length < standard) throw std::runtime_error("records shorter than their point format");
    if (l.point_count > UINT32_MAX) throw std::runtime_error("too many points for the COPC writer");
    const uint32_t extra = l.record_length - standard;
    std::vector<uint8_t> records(l.point_count * l.record_length);
    in.read(l.offset_to_data, records.data(), records.size());

    // The root cube: centred on the header's bounds, its half-size their largest half-extent.
    const uint8_t *h = l.header.data();
    double centre[3], half = 0;
    for (int a = 0; a < 3; ++a) {
        const double high = double_at(h + 179 + 16 * a), low = double_at(h + 187 + 16 * a);
        centre[a] = (low + high) / 2;
        half = std::max(half, (high - low) / 2);
    }
    if (!(half > 0)) half = 1;
    const std::map<NodeKey, std::vector<uint32_t>> nodes = octree_of(l, records, centre, half, o);
    std::vector<NodeKey> order;
    for (const auto &[key, points] : nodes)
        if (!points.empty()) order.push_back(key);
    if (o.order_seed != 0) std::shuffle(order.begin(), order.end(), std::mt19937(o.order_seed));

    const std::vector<uint8_t> laszip =
        laszip_vlr(laz::kLayeredChunked, laz::kVariableChunkSize, items_of(l.format, extra));
    std::vector<uint8_t> header = l.header;
    const uint64_t added = 54 + kCopcInfoBytes + laszip.size();
    header[104] = static_cast<uint8_t>(l.format | 0x80);
    store32(header.data() + 100, l.vlr_count + 2);
    store32(header.data() + 96, static_cast<uint32_t>(l.offset_to_data + added));
    out.write(header);
    const uint64_t info_at = out.size() + 54;
    out.write(record_header(laz::kCopcUserId, laz::kCopcInfoRecordId, kCopcInfoBytes, false));
    out.write(std::vector<uint8_t>(kCopcInfoBytes, 0));  // filled in once the hierarchy's place is known
    out.write(laszip);
    copy(in, out, l.header.size(), l.offset_to_data);

    // One chunk per node with points, in the chosen order.
    const uint64_t table_pointer = out.size();
    out.write(std::vector<uint8_t>(8, 0));
    std::map<NodeKey, Entry> entries;
    std::vector<uint32_t> chunk_bytes, chunk_points;
    std::vector<uint8_t> gathered;
    for (const NodeKey &key : order) {
        const std::vector<uint32_t> &points = nodes.at(key);
        gathered.resize(points.size() * l.record_length);
        for (size_t k = 0; k < points.size(); ++k)
            std::memcpy(gathered.data() + k * l.record_length, records.data() + size_t{points[k]} * l.record_length,
                        l.record_length);
        const auto n = static_cast<uint32_t>(points.size());
        const std::vector<uint8_t> chunk = layered_chunk(l.format, extra, gathered.data(), n, l.record_length);
        entries[key] = Entry{key, out.size(), static_cast<int32_t>(chunk.size()), static_cast<int32_t>(n)};
        out.write(chunk);
        chunk_bytes.push_back(static_cast<uint32_t>(chunk.size()));
        chunk_points.push_back(n);
    }
    write_chunk_table(out, table_pointer, chunk_bytes, chunk_points);

    // The input's extended records, then the hierarchy's.
    uint8_t word[8];
    const uint64_t evlr_start = out.size();
    uint32_t evlr_count = 0;
    if (l.evlr_start != 0) {
        copy(in, out, l.evlr_start, in.size());
        evlr_count = load32(h + kEvlrCountAt);
    }
    const uint64_t hierarchy_at = out.size();

    // Every node with points and every node above one: a node at a multiple
    // of page_depth starts a page of its own, named in its parent's page.
    for (const NodeKey &key : order)
        for (int32_t d = 0; d < key.depth; ++d) entries.emplace(key.up(d), Entry{key.up(d), 0, 0, 0});
    const auto p = static_cast<int32_t>(o.page_depth);
    auto page_of = [p](const NodeKey &k) { return p == 0 ? k.up(0) : k.up(k.depth / p * p); };
    std::map<NodeKey, std::vector<Entry>> pages;
    pages[NodeKey{0, 0, 0, 0}];
    for (const auto &[key, e] : entries) {
        pages[page_of(key)].push_back(e);
        if (p != 0 && key.depth > 0 && key.depth % p == 0) pages[page_of(key.up(key.depth - 1))].push_back({key, 0, 0, -1});
    }
    const uint64_t data_at = hierarchy_at + 60;
    std::map<NodeKey, uint64_t> page_at;
    uint64_t at = data_at;
    for (const auto &[key, page] : pages) {
        page_at[key] = at;
        at += kEntryBytes * page.size();
    }
    const uint64_t data_end = at;
    Entry *first_page_entry = nullptr, *first_chunk_entry = nullptr;
    std::vector<Entry> &root = pages.begin()->second;
    for (auto &[key, page] : pages)
        for (Entry &e : page) {
            if (e.points == -1) {
                e.offset = page_at.at(e.key);
                e.bytes = static_cast<int32_t>(kEntryBytes * pages.at(e.key).size());
                if (first_page_entry == nullptr) first_page_entry = &e;
            }
            if (e.points > 0 && first_chunk_entry == nullptr) first_chunk_entry = &e;
        }
    uint64_t root_offset = data_at, root_bytes = kEntryBytes * root.size();
    switch (o.damage) {
    case CopcDamage::kNone: break;
    case CopcDamage::kPageOutsideFile:
        (first_page_entry ? first_page_entry->offset : root_offset) = data_end + 4096;
        break;
    case CopcDamage::kPageLoop:
        if (first_page_entry == nullptr) throw std::runtime_error("a page loop needs nested pages");
        first_page_entry->offset = root_offset;
        first_page_entry->bytes = static_cast<int32_t>(root_bytes);
        break;
    case CopcDamage::kEntryWithoutChunk: first_chunk_entry->offset += 1; break;
    case CopcDamage::kChunkWithoutEntry: *first_chunk_entry = Entry{first_chunk_entry->key, 0, 0, 0}; break;
    case CopcDamage::kCubeMissesBounds: centre[0] += 3 * half; break;
    }

    out.write(record_header(laz::kCopcUserId, laz::kCopcHierarchyRecordId, data_end - data_at, true));
    for (const auto &[key, page] : pages)
        for (const Entry &e : page) {
            uint8_t b[kEntryBytes];
            store32(b, static_cast<uint32_t>(e.key.depth));
            store32(b + 4, static_cast<uint32_t>(e.key.x));
            store32(b + 8, static_cast<uint32_t>(e.key.y));
            store32(b + 12, static_cast<uint32_t>(e.key.z));
            store64(b + 16, e.offset);
            store32(b + 24, static_cast<uint32_t>(e.bytes));
            store32(b + 28, static_cast<uint32_t>(e.points));
            out.write(b, sizeof b);
        }

    uint8_t info[kCopcInfoBytes] = {};
    for (int a = 0; a < 3; ++a) put_double(info + 8 * a, centre[a]);
    put_double(info + 24, half);
    put_double(info + 32, 2 * half / 128);  // about 128 points across the root
    store64(info + 40, root_offset);
    store64(info + 48, root_bytes);
    out.patch(info_at, info, sizeof info);
    store64(word, evlr_count ? evlr_start : hierarchy_at);
    out.patch(kStartOfEvlrs, word, 8);
    store32(word, evlr_count + 1);
    out.patch(kEvlrCountAt, word, 4);
}

class MemorySource : public Source {
 public:
    explicit MemorySource(const std::vector<uint8_t> &b) : b_(b) {}
    void read(uint64_t at, uint8_t *to, size_t n) override {
        if (at > b_.size() || b_.size() - at < n) throw std::runtime_error("the LAS file ends early");
        std::memcpy(to, b_.data() + at, n);
    }
    uint64_t size() override { return b_.size(); }

 private:
    const std::vector<uint8_t> &b_;
};

class MemorySink : public Sink {
 public:
    void write(const uint8_t *p, size_t n) override { b.insert(b.end(), p, p + n); }
    void patch(uint64_t at, const uint8_t *p, size_t n) override { std::memcpy(b.data() + at, p, n); }
    uint64_t size() override { return b.size(); }
    std::vector<uint8_t> b;
};

class FileSource : public Source {
 public:
    explicit FileSource(const std::string &path) : f_(std::fopen(path.c_str(), "rb")), path_(path) {
        if (!f_) throw std::runtime_error("cannot open " + path);
    }
    ~FileSource() override { std::fclose(f_); }
    void read(uint64_t at, uint8_t *to, size_t n) override {
        if (fseeko(f_, static_cast<off_t>(at), SEEK_SET) != 0 || std::fread(to, 1, n, f_) != n)
            throw std::runtime_error("cannot read " + path_);
    }
    uint64_t size() override {
        fseeko(f_, 0, SEEK_END);
        return static_cast<uint64_t>(ftello(f_));
    }

 private:
    std::FILE *f_;
    std::string path_;
};

class FileSink : public Sink {
 public:
    explicit FileSink(const std::string &path) : f_(std::fopen(path.c_str(), "wb")), path_(path) {
        if (!f_) throw std::runtime_error("cannot create " + path);
    }
    ~FileSink() override {
        if (f_) std::fclose(f_);
    }
    void write(const uint8_t *p, size_t n) override {
        if (std::fwrite(p, 1, n, f_) != n) throw std::runtime_error("cannot write " + path_);
        size_ += n;
    }
    void patch(uint64_t at, const uint8_t *p, size_t n) override {
        if (fseeko(f_, static_cast<off_t>(at), SEEK_SET) != 0 || std::fwrite(p, 1, n, f_) != n ||
            fseeko(f_, 0, SEEK_END) != 0)
            throw std::runtime_error("cannot write " + path_);
    }
    uint64_t size() override { return size_; }
    void close() {
        const bool ok = std::fclose(f_) == 0;
        f_ = nullptr;
        if (!ok) throw std::runtime_error("cannot write " + path_);
    }

 private:
    std::FILE *f_;
    std::string path_;
    uint64_t size_ = 0;
};

}  // namespace

void compress_las_file(const std::string &las_path, const std::string &laz_path, uint32_t chunk_size) {
    FileSource in(las_path);
    FileSink out(laz_path);
    compress(in, out, chunk_size);
    out.close();
}

std::vector<uint8_t> compress_las(const std::vector<uint8_t> &las, uint32_t chunk_size) {
    MemorySource in(las);
    MemorySink out;
    compress(in, out, chunk_size);
    return std::move(out.b);
}

void write_laz(const std::string &path, const lastest::LasOptions &opts, uint64_t count,
               const std::function<lastest::Point(uint64_t)> &gen, uint32_t chunk_size) {
    const std::string twin = path + ".uncompressed";
    lastest::write_las(twin, opts, count, gen);
    try {
        compress_las_file(twin, path, chunk_size);
    } catch (...) {
        std::remove(twin.c_str());
        throw;
    }
    std::remove(twin.c_str());
}

std::vector<uint8_t> make_laz(const lastest::LasOptions &opts, const std::vector<lastest::Point> &points,
                              uint32_t chunk_size) {
    return compress_las(lastest::make_las(opts, points), chunk_size);
}

void compress_copc_file(const std::string &las_path, const std::string &copc_path, const CopcOptions &options) {
    FileSource in(las_path);
    FileSink out(copc_path);
    compress_copc(in, out, options);
    out.close();
}

std::vector<uint8_t> compress_copc(const std::vector<uint8_t> &las, const CopcOptions &options) {
    MemorySource in(las);
    MemorySink out;
    compress_copc(in, out, options);
    return std::move(out.b);
}

std::vector<uint8_t> make_copc(const lastest::LasOptions &opts, const std::vector<lastest::Point> &points,
                               const CopcOptions &options) {
    return compress_copc(lastest::make_las(opts, points), options);
}

}  // namespace laztest
