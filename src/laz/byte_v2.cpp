#include "byte_v2.h"

namespace laz {

ByteV2::ByteV2(uint32_t count) : last_(count), models_(count, SymbolModel(256)) {}

void ByteV2::init(const uint8_t *first) {
    for (auto &m : models_) m.reset();
    last_.assign(first, first + last_.size());
}

}  // namespace laz
