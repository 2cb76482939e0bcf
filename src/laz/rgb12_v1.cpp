#include "rgb12_v1.h"

namespace laz {

Rgb12V1::Rgb12V1() : changed_(64), bytes_(8, 6) {}

void Rgb12V1::init(const uint8_t *first) {
    changed_.reset();
    bytes_.reset();
    for (int i = 0; i < 6; ++i) last_[i] = first[i];
}

}  // namespace laz
