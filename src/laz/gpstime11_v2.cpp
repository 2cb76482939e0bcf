#include "gpstime11_v2.h"

namespace laz {

GpsTime11V2::GpsTime11V2() : multi_(kSymbols), zero_diff_(6), times_(32, 9) {}

void GpsTime11V2::init(const uint8_t *first) {
    last_ = next_ = 0;
    for (int i = 0; i < 4; ++i) {
        time_[i] = 0;
        diff_[i] = 0;
        extremes_[i] = 0;
    }
    multi_.reset();
    zero_diff_.reset();
    times_.reset();
    time_[0] = load64(first);
}

}  // namespace laz
