#include "arithmetic_decoder.h"

#include <stdexcept>

namespace laz {

uint32_t ArithmeticDecoder::next_byte_refilled() {
    if (refill_ != nullptr) {
        const uint8_t *data = nullptr;
        const size_t n = refill_(refill_context_, &data);
        if (n != 0) {
            at_ = data;
            end_ = data + n;
            return *at_++;
        }
    }
    ++overrun_bytes_;
    return 0;
}

void BitModel::update() {
    // Halve the counts before they outgrow the probability's precision.
    if ((count_ += update_cycle_) > kBitMaxCount) {
        count_ = (count_ + 1) >> 1;
        zero_count_ = (zero_count_ + 1) >> 1;
        if (zero_count_ == count_) ++count_;
    }
    const uint32_t scale = 0x80000000u / count_;
    zero_probability_ = (zero_count_ * scale) >> (31 - kBitLengthShift);
    update_cycle_ = (5 * update_cycle_) >> 2;
    if (update_cycle_ > 64) update_cycle_ = 64;
    until_update_ = update_cycle_;
}

SymbolModel::SymbolModel(uint32_t symbols) : symbols_(symbols), last_symbol_(symbols - 1) {
    if (symbols < 2 || symbols > (1u << 11)) throw std::invalid_argument("a symbol model has 2 to 2048 symbols");
    if (symbols > 16) {
        table_bits_ = 3;
        while (symbols > (1u << (table_bits_ + 2))) ++table_bits_;
        table_size_ = 1u << table_bits_;
        table_shift_ = kSymbolLengthShift - table_bits_;
    }
    storage_.resize(2 * symbols + (table_size_ ? table_size_ + 2 : 0));  // as the accessors lay it out
    reset();
}

void SymbolModel::reset() {
    uint32_t *c = counts();
    for (uint32_t k = 0; k < symbols_; ++k) c[k] = 1;
    total_count_ = 0;
    update_cycle_ = symbols_;
    update();
    update_cycle_ = until_update_ = (symbols_ + 6) >> 1;
}

void SymbolModel::update() {
    if ((total_count_ += update_cycle_) > kSymbolMaxCount) {
        total_count_ = 0;
        uint32_t *c = counts();
        for (uint32_t k = 0; k < symbols_; ++k) {
            c[k] = (c[k] + 1) >> 1;
            total_count_ += c[k];
        }
    }
    const uint32_t scale = 0x80000000u / total_count_;
    uint32_t sum = 0;
    uint32_t *d = distribution(), *c = counts(), *t = table();
    if (table_size_ == 0) {
        for (uint32_t k = 0; k < symbols_; ++k) {
            d[k] = (scale * sum) >> (31 - kSymbolLengthShift);
            sum += c[k];
        }
    } else {
        uint32_t s = 0;
        for (uint32_t k = 0; k < symbols_; ++k) {
            d[k] = (scale * sum) >> (31 - kSymbolLengthShift);
            sum += c[k];
            const uint32_t w = d[k] >> table_shift_;
            while (s < w) t[++s] = k - 1;
        }
        t[0] = 0;
        while (s <= table_size_) t[++s] = symbols_ - 1;
    }
    update_cycle_ = (5 * update_cycle_) >> 2;
    const uint32_t max_cycle = (symbols_ + 6) << 3;
    if (update_cycle_ > max_cycle) update_cycle_ = max_cycle;
    until_update_ = update_cycle_;
}

}  // namespace laz
