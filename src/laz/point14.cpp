// The point item of the layered chunk. Each point first codes, in the returns
// and X/Y layer, which of its fields changed from the last point of its
// channel (a symbol of 7 bits: bit 6 scanner channel, 5 point source, 4 GPS
// time, 3 scan angle, 2 number of returns, 1-0 the return number's change);
// the fields of the other layers are then predicted from the channel's last
// values in contexts chosen by the returns.
#include "point14.h"

#include "item_common.h"

#include <algorithm>
#include <cstring>
#include <optional>
#include <vector>

namespace laz {
namespace {

constexpr uint32_t kReturnMapContexts = 6;

// The context of Z: how deep the return lies in its pulse, at most 7.
constexpr uint32_t kReturnLevels = 8;
uint32_t return_depth(uint32_t n, uint32_t r) { return std::min(return_level(n, r), kReturnLevels - 1); }

// GPS time: a difference from the last time of a sequence is coded as a
// multiple of that sequence's last difference: multipliers from kGpsMultiMinus
// to kGpsMulti, then a code for a new sequence (the full time), then codes to
// switch to one of the other three sequences.
constexpr int32_t kGpsMulti = 500;
constexpr int32_t kGpsMultiMinus = -10;
constexpr uint32_t kGpsCodeFull = kGpsMulti - kGpsMultiMinus + 1;
constexpr uint32_t kGpsSymbols = kGpsCodeFull + 4;
constexpr uint32_t kGpsSequences = 4;
// A valid stream switches sequence at most once before it codes the time.
constexpr int kGpsMostSwitches = 3;

// A model made when a chunk first uses it, and kept (reset) for later chunks:
// `epoch` tells whether it has been reset for its channel's current start.
struct LazyModel {
    std::optional<SymbolModel> m;
    uint32_t epoch = 0;
};

}  // namespace

// Everything a scanner channel predicts from: its last point and its models.
// Made when a chunk first uses the channel, started over (reset) when a later
// chunk does.
struct Point14Decoder::Channel {
    explicit Channel(const Point14Record &from) { reset(from); }

    void reset(const Point14Record &from) {
        ++epoch;
        last = from;
        gps_time_change = false;
        for (SymbolModel &m : changed_values) m.reset();
        scanner_channel.reset();
        return_number_gps_same.reset();
        for (IntegerDecoder *d : {&dx, &dy, &z, &intensity, &scan_angle, &point_source, &gps}) d->reset();
        for (Median5 &m : dx_median) m.reset();
        for (Median5 &m : dy_median) m.reset();
        for (int32_t &v : last_z) v = from.z;
        for (uint16_t &v : last_intensity) v = from.intensity;
        gps_multi.reset();
        gps_no_diff.reset();
        for (uint32_t i = 0; i < kGpsSequences; ++i) gps_time[i] = gps_diff[i] = gps_extreme[i] = 0;
        gps_time[0] = from.gps_time;
        gps_last = gps_next = 0;
    }

    // One of the models made on first use, fresh for this chunk.
    SymbolModel &model(LazyModel &lazy, uint32_t symbols) {
        if (lazy.epoch != epoch) {
            if (lazy.m) lazy.m->reset();
            else lazy.m.emplace(symbols);
            lazy.epoch = epoch;
        }
        return *lazy.m;
    }

    uint32_t epoch = 0;
    Point14Record last;
    bool gps_time_change;  // in the last point

    // The returns and X/Y layer.
    std::vector<SymbolModel> changed_values = std::vector<SymbolModel>(8, SymbolModel(128));
    SymbolModel scanner_channel{kContexts - 1};
    LazyModel number_of_returns[16], return_number[16];
    SymbolModel return_number_gps_same{13};
    IntegerDecoder dx{32, 2}, dy{32, 22};
    Median5 dx_median[kReturnMapContexts * 2], dy_median[kReturnMapContexts * 2];
    // The other layers.
    IntegerDecoder z{32, 20};
    int32_t last_z[kReturnLevels];
    LazyModel classification[64], flags[64], user_data[64];
    IntegerDecoder intensity{16, 4};
    uint16_t last_intensity[8];
    IntegerDecoder scan_angle{16, 2}, point_source{16};
    // GPS time: four sequences of times, each with its last difference.
    SymbolModel gps_multi{kGpsSymbols}, gps_no_diff{kGpsSequences + 1};
    IntegerDecoder gps{32, 9};
    uint64_t gps_time[kGpsSequences];
    int32_t gps_diff[kGpsSequences];
    int32_t gps_extreme[kGpsSequences];
    uint32_t gps_last, gps_next;
};

Point14Decoder::Point14Decoder(uint16_t version) : version_(version) {}
Point14Decoder::Point14Decoder(Point14Decoder &&) noexcept = default;
Point14Decoder::~Point14Decoder() = default;

void Point14Decoder::start_channel(uint32_t channel, const Point14Record &from) {
    if (channel_[channel]) channel_[channel]->reset(from);
    else channel_[channel] = std::make_unique<Channel>(from);
    started_[channel] = true;
}

uint32_t Point14Decoder::first(const uint8_t *record) {
    Point14Record p;
    std::memcpy(&p, record, sizeof p);
    current_ = p.flags >> 4 & 3;
    bad_gps_ = false;
    for (bool &s : started_) s = false;
    start_channel(current_, p);
    return current_;
}

void Point14Decoder::start_layer(uint32_t layer, const uint8_t *data, size_t size) {
    // The returns and X/Y layer is always decoded: with no bytes, it overruns.
    present_[layer] = size != 0 || layer == kReturnsXY;
    if (present_[layer]) layer_[layer].start(data, size);
}

bool Point14Decoder::damaged() const {
    if (bad_gps_) return true;
    for (uint32_t i = 0; i < kLayers; ++i)
        if (present_[i] && layer_[i].overrun()) return true;
    return false;
}

uint32_t Point14Decoder::decode(uint8_t *record) {
    ArithmeticDecoder &xy = layer_[kReturnsXY];
    Channel *c = channel_[current_].get();

    // Which fields changed, in a context of the last point: first return (1), last (2), GPS time changed (4).
    const uint32_t last_r = c->last.returns & 15, last_n = c->last.returns >> 4;
    const uint32_t lpr = (last_r == 1) | (last_r >= last_n) << 1 | c->gps_time_change << 2;
    const uint32_t changed = xy.decode_symbol(c->changed_values[lpr]);

    // Version 3 names a context for the other items only when the channel changes (otherwise 0).
    uint32_t context = 0;
    if (changed & 1 << 6) {
        const uint32_t channel = (current_ + xy.decode_symbol(c->scanner_channel) + 1) % kContexts;
        if (!started_[channel]) start_channel(channel, c->last);
        current_ = channel;
        c = channel_[channel].get();
        c->last.flags = static_cast<uint8_t>((c->last.flags & ~0x30) | channel << 4);
        context = channel;
    }
    if (version_ >= 4) context = current_;
    Point14Record &p = c->last;

    const bool point_source_change = changed >> 5 & 1;
    const uint32_t gps_change = changed >> 4 & 1;
    const bool scan_angle_change = changed >> 3 & 1;

    uint32_t n = p.returns >> 4, r = p.returns & 15;
    if (changed & 1 << 2) n = xy.decode_symbol(c->model(c->number_of_returns[n], 16));
    switch (changed & 3) {
        case 1: r = (r + 1) % 16; break;
        case 2: r = (r + 15) % 16; break;
        case 3:
            if (gps_change) r = xy.decode_symbol(c->model(c->return_number[r], 16));
            else r = (r + xy.decode_symbol(c->return_number_gps_same) + 2) % 16;
            break;
        default: break;
    }
    p.returns = static_cast<uint8_t>(r | n << 4);

    // This point's returns: first (2), last (1).
    const uint32_t cpr = (r == 1 ? 2 : 0) | (r >= n ? 1 : 0);
    const uint32_t one_return = n == 1;

    const uint32_t m = kReturnMap14[n][r] << 1 | gps_change;
    int32_t diff = c->dx.decode(xy, c->dx_median[m].get(), one_return);
    p.x = wrap_add(p.x, diff);
    c->dx_median[m].add(diff);
    uint32_t k = c->dx.k();
    diff = c->dy.decode(xy, c->dy_median[m].get(), one_return + (k < 20 ? k & ~1u : 20));
    p.y = wrap_add(p.y, diff);
    c->dy_median[m].add(diff);

    if (present_[kZ]) {
        k = (c->dx.k() + c->dy.k()) / 2;
        const uint32_t l = return_depth(n, r);
        p.z = c->z.decode(layer_[kZ], c->last_z[l], one_return + (k < 18 ? k & ~1u : 18));
        c->last_z[l] = p.z;
    }
    if (present_[kClassification]) {
        const uint32_t ccc = (p.classification & 0x1F) << 1 | (cpr == 3);
        SymbolModel &m = c->model(c->classification[ccc], 256);
        p.classification = static_cast<uint8_t>(layer_[kClassification].decode_symbol(m));
    }
    if (present_[kFlags]) {
        // Coded as 6 bits: classification flags, then scan direction (4) and edge of flight line (5).
        const uint32_t last_flags = (p.flags & 0x0F) | (p.flags >> 6 & 3) << 4;
        const uint32_t f = layer_[kFlags].decode_symbol(c->model(c->flags[last_flags], 64));
        p.flags = static_cast<uint8_t>((f & 0x0F) | (p.flags & 0x30) | (f >> 4 & 3) << 6);
    }
    if (present_[kIntensity]) {
        const uint32_t i = cpr << 1 | gps_change;
        p.intensity = static_cast<uint16_t>(c->intensity.decode(layer_[kIntensity], c->last_intensity[i], cpr));
        c->last_intensity[i] = p.intensity;
    }
    if (present_[kScanAngle] && scan_angle_change)
        p.scan_angle = static_cast<int16_t>(c->scan_angle.decode(layer_[kScanAngle], p.scan_angle, gps_change));
    if (present_[kUserData]) {
        SymbolModel &m = c->model(c->user_data[p.user_data / 4], 256);
        p.user_data = static_cast<uint8_t>(layer_[kUserData].decode_symbol(m));
    }
    if (present_[kPointSource] && point_source_change)
        p.point_source = static_cast<uint16_t>(c->point_source.decode(layer_[kPointSource], p.point_source));
    if (present_[kGpsTime] && gps_change) {
        read_gps_time(*c);
        p.gps_time = c->gps_time[c->gps_last];
    }
    c->gps_time_change = gps_change;
    std::memcpy(record, &p, sizeof p);
    return context;
}

void Point14Decoder::read_gps_time(Channel &c) {
    ArithmeticDecoder &dec = layer_[kGpsTime];
    // A new sequence: the time's high half predicted from the current one's, the low half raw.
    auto start_sequence = [&] {
        c.gps_next = (c.gps_next + 1) % kGpsSequences;
        const int32_t high = c.gps.decode(dec, static_cast<int32_t>(c.gps_time[c.gps_last] >> 32), 8);
        c.gps_time[c.gps_next] = uint64_t{static_cast<uint32_t>(high)} << 32 | dec.read_int();
        c.gps_last = c.gps_next;
        c.gps_diff[c.gps_last] = 0;
        c.gps_extreme[c.gps_last] = 0;
    };
    // A difference far from the multiples: after several, it becomes the sequence's difference.
    auto extreme = [&](int32_t diff) {
        if (++c.gps_extreme[c.gps_last] > 3) {
            c.gps_diff[c.gps_last] = diff;
            c.gps_extreme[c.gps_last] = 0;
        }
    };
    auto advance = [&](int32_t diff) { c.gps_time[c.gps_last] += static_cast<uint64_t>(int64_t{diff}); };

    for (int switches = 0; switches <= kGpsMostSwitches; ++switches) {
        const int32_t last_diff = c.gps_diff[c.gps_last];
        if (last_diff == 0) {
            const uint32_t code = dec.decode_symbol(c.gps_no_diff);
            if (code == 0) {
                const int32_t diff = c.gps.decode(dec, 0, 0);
                c.gps_diff[c.gps_last] = diff;
                advance(diff);
                c.gps_extreme[c.gps_last] = 0;
            } else if (code == 1) {
                start_sequence();
            } else {
                c.gps_last = (c.gps_last + code - 1) % kGpsSequences;
                continue;
            }
            return;
        }
        const uint32_t code = dec.decode_symbol(c.gps_multi);
        if (code == 1) {
            advance(c.gps.decode(dec, last_diff, 1));
            c.gps_extreme[c.gps_last] = 0;
        } else if (code < kGpsCodeFull) {
            int32_t diff;
            const int32_t multi = static_cast<int32_t>(code);
            if (code == 0) {
                diff = c.gps.decode(dec, 0, 7);
                extreme(diff);
            } else if (multi < kGpsMulti) {
                diff = c.gps.decode(dec, wrap_mul(multi, last_diff), multi < 10 ? 2 : 3);
            } else if (multi == kGpsMulti) {
                diff = c.gps.decode(dec, wrap_mul(kGpsMulti, last_diff), 4);
                extreme(diff);
            } else if (kGpsMulti - multi > kGpsMultiMinus) {
                diff = c.gps.decode(dec, wrap_mul(kGpsMulti - multi, last_diff), 5);
            } else {
                diff = c.gps.decode(dec, wrap_mul(kGpsMultiMinus, last_diff), 6);
                extreme(diff);
            }
            advance(diff);
        } else if (code == kGpsCodeFull) {
            start_sequence();
        } else {
            c.gps_last = (c.gps_last + code - kGpsCodeFull) % kGpsSequences;
            continue;
        }
        return;
    }
    bad_gps_ = true;
}

}  // namespace laz
