// Colour: a symbol says which bytes of the three channels differ from the
// last colour and whether the colour is grey (bit 6 clear: green and blue
// equal red). Red's bytes are coded as differences; green's and blue's are
// predicted from the last value moved by red's change (blue: by the mean of
// red's and green's), clamped to a byte. Near infrared codes its two bytes
// as differences, in a layer of its own.
#include "rgb14.h"

#include "item_common.h"

#include <cstring>

namespace laz {

struct Rgb14Decoder::Models {
    SymbolModel changed{128};
    // Low and high byte of red, green and blue, in that order.
    SymbolModel byte[6] = {SymbolModel(256), SymbolModel(256), SymbolModel(256),
                           SymbolModel(256), SymbolModel(256), SymbolModel(256)};
    SymbolModel nir_changed{4};
    SymbolModel nir_byte[2] = {SymbolModel(256), SymbolModel(256)};

    void reset() {
        changed.reset();
        for (SymbolModel &m : byte) m.reset();
        nir_changed.reset();
        for (SymbolModel &m : nir_byte) m.reset();
    }
};

Rgb14Decoder::Rgb14Decoder(uint16_t version, bool nir) : switch_(version), nir_(nir) {}
Rgb14Decoder::Rgb14Decoder(Rgb14Decoder &&) noexcept = default;
Rgb14Decoder::~Rgb14Decoder() = default;

void Rgb14Decoder::start_models(uint32_t context) {
    if (models_[context]) models_[context]->reset();
    else models_[context] = std::make_unique<Models>();
}

void Rgb14Decoder::first(const uint8_t *record, uint32_t context) {
    switch_.first(context);
    start_models(context);
    Colour &c = last_[context];
    std::memcpy(&c, record, nir_ ? 8 : 6);
}

void Rgb14Decoder::start_layer(uint32_t layer, const uint8_t *data, size_t size) {
    present_[layer] = size != 0;
    if (present_[layer]) layer_[layer].start(data, size);
}

bool Rgb14Decoder::damaged() const {
    for (uint32_t i = 0; i < layers(); ++i)
        if (present_[i] && layer_[i].overrun()) return true;
    return false;
}

void Rgb14Decoder::decode(uint8_t *record, uint32_t context) {
    if (!switch_.born(context)) start_models(context);
    Colour &last = last_[switch_.enter(context, last_)];
    Models &m = *models_[context];

    if (present_[0]) {
        ArithmeticDecoder &dec = layer_[0];
        const uint32_t changed = dec.decode_symbol(m.changed);
        // Byte `shift` (0 low, 8 high) of a value, and a byte coded as its difference from a prediction.
        auto byte_of = [](uint32_t v, int shift) { return static_cast<int32_t>(v >> shift & 0xFF); };
        auto coded = [&](int i, int32_t predicted) {
            return (dec.decode_symbol(m.byte[i]) + predicted) & 0xFF;
        };

        // Both bytes of red first, then green and blue byte by byte (low, then high).
        uint32_t red[2], green[2], blue[2];
        for (int h = 0; h < 2; ++h)
            red[h] = changed & 1u << h ? coded(h, byte_of(last.red, 8 * h)) : byte_of(last.red, 8 * h);
        for (int h = 0; h < 2; ++h) {
            const int shift = 8 * h;
            if (changed & 1 << 6) {
                int32_t diff = static_cast<int32_t>(red[h]) - byte_of(last.red, shift);
                green[h] = changed & 4u << h ? coded(2 + h, clamp_byte(diff + byte_of(last.green, shift)))
                                             : byte_of(last.green, shift);
                if (changed & 16u << h) {
                    diff = (diff + static_cast<int32_t>(green[h]) - byte_of(last.green, shift)) / 2;
                    blue[h] = coded(4 + h, clamp_byte(diff + byte_of(last.blue, shift)));
                } else {
                    blue[h] = byte_of(last.blue, shift);
                }
            } else {
                green[h] = blue[h] = red[h];
            }
        }
        last.red = static_cast<uint16_t>(red[0] | red[1] << 8);
        last.green = static_cast<uint16_t>(green[0] | green[1] << 8);
        last.blue = static_cast<uint16_t>(blue[0] | blue[1] << 8);
    }
    if (nir_ && present_[1]) {
        ArithmeticDecoder &dec = layer_[1];
        const uint32_t changed = dec.decode_symbol(m.nir_changed);
        uint32_t nir = last.nir;
        for (int h = 0; h < 2; ++h) {
            if (changed & 1u << h) {
                const int shift = 8 * h;
                const uint32_t b = (dec.decode_symbol(m.nir_byte[h]) + (nir >> shift)) & 0xFF;
                nir = (nir & ~(0xFFu << shift)) | b << shift;
            }
        }
        last.nir = static_cast<uint16_t>(nir);
    }
    std::memcpy(record, &last, nir_ ? 8 : 6);
}

}  // namespace laz
