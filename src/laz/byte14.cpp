#include "byte14.h"

#include <cstring>

namespace laz {

Byte14Decoder::Byte14Decoder(uint16_t version, uint32_t count)
    : switch_(version), count_(count), layer_(count), present_(count) {}

void Byte14Decoder::start_models(uint32_t context) {
    std::vector<SymbolModel> &models = models_[context];
    if (models.empty()) models.assign(count_, SymbolModel(256));
    else for (SymbolModel &m : models) m.reset();
}

void Byte14Decoder::first(const uint8_t *record, uint32_t context) {
    switch_.first(context);
    start_models(context);
    last_[context].assign(record, record + count_);
}

void Byte14Decoder::start_layer(uint32_t layer, const uint8_t *data, size_t size) {
    present_[layer] = size != 0;
    if (present_[layer]) layer_[layer].start(data, size);
}

bool Byte14Decoder::damaged() const {
    for (uint32_t i = 0; i < count_; ++i)
        if (present_[i] && layer_[i].overrun()) return true;
    return false;
}

void Byte14Decoder::decode(uint8_t *record, uint32_t context) {
    if (!switch_.born(context)) start_models(context);
    std::vector<uint8_t> &last = last_[switch_.enter(context, last_)];
    std::vector<SymbolModel> &models = models_[context];
    for (uint32_t i = 0; i < count_; ++i)
        if (present_[i]) last[i] = static_cast<uint8_t>(last[i] + layer_[i].decode_symbol(models[i]));
    std::memcpy(record, last.data(), count_);
}

}  // namespace laz
