// Wave packet: the descriptor index is a symbol; the offset is coded by a
// symbol (in a context of the last one) saying whether it is the last offset,
// the last offset plus the last size, the last offset plus a coded difference
// (predicted by the last such difference), or a raw 64-bit value; the size,
// the return point and the three steps are integers predicted by their last
// values (the floats by their bits).
#include "wavepacket14.h"

#include "integer_decoder.h"

#include <cstring>

namespace laz {

struct WavePacket14Decoder::Models {
    SymbolModel descriptor{256};
    SymbolModel offset_code[4] = {SymbolModel(4), SymbolModel(4), SymbolModel(4), SymbolModel(4)};
    IntegerDecoder offset_diff{32}, size{32}, return_point{32}, xyz{32, 3};
    uint32_t last_offset_code = 0;
    int32_t last_offset_diff = 0;

    void reset() {
        descriptor.reset();
        for (SymbolModel &m : offset_code) m.reset();
        for (IntegerDecoder *d : {&offset_diff, &size, &return_point, &xyz}) d->reset();
        last_offset_code = 0;
        last_offset_diff = 0;
    }
};

WavePacket14Decoder::WavePacket14Decoder(uint16_t version) : switch_(version) {}
WavePacket14Decoder::WavePacket14Decoder(WavePacket14Decoder &&) noexcept = default;
WavePacket14Decoder::~WavePacket14Decoder() = default;

void WavePacket14Decoder::start_models(uint32_t context) {
    if (models_[context]) models_[context]->reset();
    else models_[context] = std::make_unique<Models>();
}

void WavePacket14Decoder::first(const uint8_t *record, uint32_t context) {
    switch_.first(context);
    start_models(context);
    std::memcpy(&last_[context], record, sizeof(WavePacketRecord));
}

void WavePacket14Decoder::start_layer(uint32_t, const uint8_t *data, size_t size) {
    present_ = size != 0;
    if (present_) layer_.start(data, size);
}

void WavePacket14Decoder::decode(uint8_t *record, uint32_t context) {
    if (!switch_.born(context)) start_models(context);
    WavePacketRecord &last = last_[switch_.enter(context, last_)];
    if (present_) {
        Models &m = *models_[context];
        ArithmeticDecoder &dec = layer_;
        WavePacketRecord w;
        w.descriptor = static_cast<uint8_t>(dec.decode_symbol(m.descriptor));
        m.last_offset_code = dec.decode_symbol(m.offset_code[m.last_offset_code]);
        switch (m.last_offset_code) {
            case 0: w.offset = last.offset; break;
            case 1: w.offset = last.offset + last.size; break;
            case 2:
                m.last_offset_diff = m.offset_diff.decode(dec, m.last_offset_diff);
                w.offset = last.offset + static_cast<uint64_t>(int64_t{m.last_offset_diff});
                break;
            default: w.offset = dec.read_int64(); break;
        }
        auto predicted = [&](IntegerDecoder &d, uint32_t v, uint32_t context) {
            return static_cast<uint32_t>(d.decode(dec, static_cast<int32_t>(v), context));
        };
        w.size = predicted(m.size, last.size, 0);
        w.return_point = predicted(m.return_point, last.return_point, 0);
        w.dx = predicted(m.xyz, last.dx, 0);
        w.dy = predicted(m.xyz, last.dy, 1);
        w.dz = predicted(m.xyz, last.dz, 2);
        last = w;
    }
    std::memcpy(record, &last, sizeof last);
}

}  // namespace laz
