#include "point10_v1.h"

namespace laz {

Point10V1::Point10V1()
    : dx_(32), dy_(32, 20), dz_(32, 20), intensity_(16), scan_angle_(8, 2), source_(16), changed_(64) {}

void Point10V1::init(const uint8_t *first) {
    for (int i = 0; i < 3; ++i) x_diffs_[i] = y_diffs_[i] = 0;
    next_ = 0;
    for (IntegerDecoder *d : {&dx_, &dy_, &dz_, &intensity_, &scan_angle_, &source_}) d->reset();
    changed_.reset();
    returns_.reset();
    classification_.reset();
    user_data_.reset();
    last_.load(first);
}

}  // namespace laz
