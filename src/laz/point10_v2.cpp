#include "point10_v2.h"

namespace laz {

Point10V2::Point10V2()
    : changed_(64), intensity_(16, 4), scan_angle_{SymbolModel(256), SymbolModel(256)}, source_(16), dx_(32, 2),
      dy_(32, 22), dz_(32, 20) {}

void Point10V2::init(const uint8_t *first) {
    for (int i = 0; i < 16; ++i) {
        intensities_[i] = 0;
        x_medians_[i].reset();
        y_medians_[i].reset();
    }
    for (auto &h : heights_) h = 0;
    changed_.reset();
    for (auto &m : scan_angle_) m.reset();
    for (IntegerDecoder *d : {&intensity_, &source_, &dx_, &dy_, &dz_}) d->reset();
    returns_.reset();
    classification_.reset();
    user_data_.reset();
    last_.load(first);
}

}  // namespace laz
