#include "gpstime11_v1.h"

namespace laz {

GpsTime11V1::GpsTime11V1() : multi_(kMultiMax), zero_diff_(3), times_(32, 6) {}

void GpsTime11V1::init(const uint8_t *first) {
    last_diff_ = 0;
    extremes_ = 0;
    multi_.reset();
    zero_diff_.reset();
    times_.reset();
    last_ = load64(first);
}

}  // namespace laz
