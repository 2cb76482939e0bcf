// The encoder side of the LAZ entropy layer, for tests only: it makes the
// streams (chunk tables, corrected integers) that the decoder must read back.
#pragma once

#include "arithmetic_decoder.h"

#include <cstdint>
#include <vector>

namespace laz {

class ArithmeticEncoder {
 public:
    void encode_bit(BitModel &m, uint32_t bit) {
        const uint32_t x = m.zero_probability_ * (length_ >> kBitLengthShift);
        if (bit == 0) {
            length_ = x;
            ++m.zero_count_;
        } else {
            add(x);
            length_ -= x;
        }
        if (length_ < kMinLength) renormalise();
        if (--m.until_update_ == 0) m.update();
    }
    void encode_symbol(SymbolModel &m, uint32_t symbol) {
        uint32_t x;
        if (symbol == m.last_symbol_) {
            x = m.distribution()[symbol] * (length_ >> kSymbolLengthShift);
            add(x);
            length_ -= x;
        } else {
            length_ >>= kSymbolLengthShift;
            x = m.distribution()[symbol] * length_;
            add(x);
            length_ = m.distribution()[symbol + 1] * length_ - x;
        }
        if (length_ < kMinLength) renormalise();
        ++m.counts()[symbol];
        if (--m.until_update_ == 0) m.update();
    }
    void write_bits(uint32_t bits, uint32_t value) {
        if (bits > 19) {
            write_raw(16, value & 0xFFFF);
            value >>= 16;
            bits -= 16;
        }
        write_raw(bits, value);
    }
    // The stream's last bytes, and zeros as far as the decoder reads ahead.
    std::vector<uint8_t> done() {
        const uint32_t before = base_;
        bool another = true;
        if (length_ > 2 * kMinLength) {
            base_ += kMinLength;
            length_ = kMinLength >> 1;
        } else {
            base_ += kMinLength >> 1;
            length_ = kMinLength >> 9;
            another = false;
        }
        if (before > base_) carry();
        renormalise();
        out_.push_back(0);
        out_.push_back(0);
        if (another) out_.push_back(0);
        return out_;
    }

 private:
    void add(uint32_t x) {
        const uint32_t before = base_;
        base_ += x;
        if (before > base_) carry();
    }
    void write_raw(uint32_t bits, uint32_t value) {
        length_ >>= bits;
        add(value * length_);
        if (length_ < kMinLength) renormalise();
    }
    void carry() {
        size_t i = out_.size();
        while (i > 0 && out_[i - 1] == 0xFF) out_[--i] = 0;
        if (i > 0) ++out_[i - 1];
    }
    void renormalise() {
        do {
            out_.push_back(static_cast<uint8_t>(base_ >> 24));
            base_ <<= 8;
        } while ((length_ <<= 8) < kMinLength);
    }

    uint32_t base_ = 0, length_ = kMaxLength;
    std::vector<uint8_t> out_;
};

// The integer corrector's encoder, with the decoder's models and contexts:
// the difference of the real value from the prediction, wrapped into the
// corrector's range, as its magnitude class and its place within the class.
class IntegerEncoder {
 public:
    explicit IntegerEncoder(uint32_t bits = 16, uint32_t contexts = 1, uint32_t bits_high = 8)
        : bits_(bits), bits_high_(bits_high), classes_(contexts, SymbolModel(bits + 1)) {
        for (uint32_t i = 1; i <= bits_ && i < 32; ++i) high_.emplace_back(i <= bits_high_ ? 1u << i : 1u << bits_high_);
    }
    void encode(ArithmeticEncoder &enc, int32_t predicted, int32_t real, uint32_t context = 0) {
        int64_t c = static_cast<int64_t>(real) - predicted;
        if (bits_ < 32) {  // wrap into the corrector's range
            const int64_t range = int64_t{1} << bits_;
            if (c < -range / 2) c += range;
            else if (c > range / 2 - 1) c -= range;
        } else {
            c = static_cast<int32_t>(static_cast<uint32_t>(real) - static_cast<uint32_t>(predicted));
        }
        k_ = 0;
        for (uint64_t m = c <= 0 ? static_cast<uint64_t>(-c) : static_cast<uint64_t>(c - 1); m; m >>= 1) ++k_;
        enc.encode_symbol(classes_[context], k_);
        if (k_ == 0) {
            enc.encode_bit(zero_, static_cast<uint32_t>(c));
        } else if (k_ < 32) {
            // The lower half of the class holds the negative differences.
            const uint32_t v = static_cast<uint32_t>(c < 0 ? c + ((int64_t{1} << k_) - 1) : c - 1);
            if (k_ <= bits_high_) {
                enc.encode_symbol(high_[k_ - 1], v);
            } else {
                const uint32_t low = k_ - bits_high_;
                enc.encode_symbol(high_[k_ - 1], v >> low);
                enc.write_bits(low, v & ((1u << low) - 1));
            }
        }
    }
    uint32_t k() const { return k_; }  // the magnitude class of the last encode

 private:
    uint32_t bits_, bits_high_, k_ = 0;
    std::vector<SymbolModel> classes_;
    BitModel zero_;
    std::vector<SymbolModel> high_;
};

}  // namespace laz
