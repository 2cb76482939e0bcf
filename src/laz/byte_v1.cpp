#include "byte_v1.h"

namespace laz {

ByteV1::ByteV1(uint32_t count) : last_(count), bytes_(8, count) {}

void ByteV1::init(const uint8_t *first) {
    bytes_.reset();
    last_.assign(first, first + last_.size());
}

}  // namespace laz
