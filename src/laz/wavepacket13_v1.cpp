#include "wavepacket13_v1.h"

namespace laz {

WavePacket13V1::WavePacket13V1()
    : index_(256), offset_kinds_{SymbolModel(4), SymbolModel(4), SymbolModel(4), SymbolModel(4)}, offset_diff_ic_(32),
      size_ic_(32), return_point_ic_(32), xyz_ic_(32, 3) {}

void WavePacket13V1::init(const uint8_t *first) {
    offset_diff_ = 0;
    offset_kind_ = 0;
    index_.reset();
    for (auto &m : offset_kinds_) m.reset();
    for (IntegerDecoder *d : {&offset_diff_ic_, &size_ic_, &return_point_ic_, &xyz_ic_}) d->reset();
    offset_ = load64(first + 1);
    size_ = load32(first + 9);
    return_point_ = static_cast<int32_t>(load32(first + 13));
    for (int i = 0; i < 3; ++i) xyz_[i] = static_cast<int32_t>(load32(first + 17 + 4 * i));
}

}  // namespace laz
