#include "rgb12_v2.h"

namespace laz {

Rgb12V2::Rgb12V2()
    : used_(128), diff_{SymbolModel(256), SymbolModel(256), SymbolModel(256), SymbolModel(256), SymbolModel(256),
                        SymbolModel(256)} {}

void Rgb12V2::init(const uint8_t *first) {
    used_.reset();
    for (auto &m : diff_) m.reset();
    for (int i = 0; i < 3; ++i) last_[i] = load16(first + 2 * i);
}

}  // namespace laz
