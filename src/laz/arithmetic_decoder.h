// The entropy layer of LAZ: an adaptive binary arithmetic decoder with its two
// kinds of models.
//
// The coder keeps a 32-bit interval [0, length) and the 32-bit value read from
// the stream so far; each decision splits the interval by a model's
// probability, and the interval is renormalised a byte at a time whenever its
// length drops below 2^24. Models adapt as they are used, at intervals that
// grow from a few decisions to a fixed ceiling.
//
// The decoder reads only the bytes it is given: past their end it reads zero
// bytes and remembers that it did (overrun()), so damage shows as a count,
// never as a read outside the buffer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace laz {

// The coder's interval: renormalised below kMinLength, started at kMaxLength.
inline constexpr uint32_t kMinLength = 0x01000000u;
inline constexpr uint32_t kMaxLength = 0xFFFFFFFFu;
// Probabilities of a binary model are kept in 13 bits, of a symbol model in 15.
inline constexpr uint32_t kBitLengthShift = 13;
inline constexpr uint32_t kBitMaxCount = 1u << kBitLengthShift;
inline constexpr uint32_t kSymbolLengthShift = 15;
inline constexpr uint32_t kSymbolMaxCount = 1u << kSymbolLengthShift;

class ArithmeticDecoder;
class ArithmeticEncoder;  // the tests' encoder, which makes streams to decode

// An adaptive model of one binary decision.
class BitModel {
 public:
    BitModel() { reset(); }
    void reset() {
        zero_count_ = 1;
        count_ = 2;
        zero_probability_ = 1u << (kBitLengthShift - 1);
        update_cycle_ = until_update_ = 4;
    }

 private:
    friend class ArithmeticDecoder;
    friend class ArithmeticEncoder;
    void update();

    uint32_t zero_count_, count_, zero_probability_;
    uint32_t update_cycle_, until_update_;
};

// An adaptive model of one of `symbols` symbols (2 to 2048). Models of more
// than 16 symbols keep a table from the top bits of a scaled value to the
// first symbol to search from.
class SymbolModel {
 public:
    explicit SymbolModel(uint32_t symbols);
    void reset();
    uint32_t symbols() const { return symbols_; }

 private:
    friend class ArithmeticDecoder;
    friend class ArithmeticEncoder;
    void update();

    uint32_t symbols_;
    uint32_t last_symbol_;
    uint32_t table_bits_ = 0, table_size_ = 0, table_shift_ = 0;
    uint32_t total_count_ = 0, update_cycle_ = 0, until_update_ = 0;
    std::vector<uint32_t> distribution_;  // cumulative probability of each symbol, 15 bits
    std::vector<uint32_t> counts_;        // occurrences since the last rescaling
    std::vector<uint32_t> table_;         // table_size_ + 2 entries, or none
};

class ArithmeticDecoder {
 public:
    // Where a long stream's next bytes come from once [data, data + size) is
    // read: the function points `data` at them and returns their count, 0 at
    // the stream's end.
    using Refill = size_t (*)(void *context, const uint8_t **data);
    void set_refill(Refill refill, void *context) {
        refill_ = refill;
        refill_context_ = context;
    }

    // Decodes the bytes [data, data + size); reading past their end yields zero bytes and sets overrun().
    void start(const uint8_t *data, size_t size) {
        at_ = data;
        end_ = data + size;
        overrun_bytes_ = 0;
        length_ = kMaxLength;
        value_ = 0;
        for (int i = 0; i < 4; ++i) value_ = value_ << 8 | next_byte();
    }

    uint32_t decode_bit(BitModel &m) {
        const uint32_t x = m.zero_probability_ * (length_ >> kBitLengthShift);
        const uint32_t bit = value_ >= x;
        if (bit == 0) {
            length_ = x;
            ++m.zero_count_;
        } else {
            value_ -= x;
            length_ -= x;
        }
        if (length_ < kMinLength) renormalise();
        if (--m.until_update_ == 0) m.update();
        return bit;
    }

    uint32_t decode_symbol(SymbolModel &m) {
        uint32_t symbol, x, y = length_;
        if (!m.table_.empty()) {
            length_ >>= kSymbolLengthShift;
            const uint32_t scaled = value_ / length_;
            uint32_t t = scaled >> m.table_shift_;
            if (t > m.table_size_) t = m.table_size_;  // only a damaged stream gets here
            symbol = m.table_[t];
            uint32_t n = m.table_[t + 1] + 1;
            while (n > symbol + 1) {  // bisect between the table's bounds
                const uint32_t k = (symbol + n) >> 1;
                if (m.distribution_[k] > scaled) n = k;
                else symbol = k;
            }
            x = m.distribution_[symbol] * length_;
            if (symbol != m.last_symbol_) y = m.distribution_[symbol + 1] * length_;
        } else {
            x = symbol = 0;
            length_ >>= kSymbolLengthShift;
            uint32_t n = m.symbols_;
            uint32_t k = n >> 1;
            do {
                const uint32_t z = length_ * m.distribution_[k];
                if (z > value_) {
                    n = k;
                    y = z;
                } else {
                    symbol = k;
                    x = z;
                }
            } while ((k = (symbol + n) >> 1) != symbol);
        }
        value_ -= x;
        length_ = y - x;
        if (length_ < kMinLength) renormalise();
        ++m.counts_[symbol];
        if (--m.until_update_ == 0) m.update();
        return symbol;
    }

    // 1 to 32 raw bits, coded with equal probabilities.
    uint32_t read_bits(uint32_t bits) {
        if (bits > 19) {
            const uint32_t low = read_short();
            return read_bits(bits - 16) << 16 | low;
        }
        return read_raw(bits) & ((1u << bits) - 1);
    }
    uint8_t read_byte() { return static_cast<uint8_t>(read_raw(8)); }
    uint16_t read_short() { return static_cast<uint16_t>(read_raw(16)); }
    uint32_t read_int() {
        const uint32_t low = read_short();
        return static_cast<uint32_t>(read_short()) << 16 | low;
    }
    uint64_t read_int64() {
        const uint64_t low = read_int();
        return static_cast<uint64_t>(read_int()) << 32 | low;
    }

    bool overrun() const { return overrun_bytes_ != 0; }
    // How many zero bytes were read past the end.
    size_t overrun_bytes() const { return overrun_bytes_; }
    // How many of the given bytes are not read yet.
    size_t unread() const { return static_cast<size_t>(end_ - at_); }

 private:
    uint32_t next_byte() {
        if (at_ < end_) return *at_++;
        return next_byte_refilled();
    }
    uint32_t next_byte_refilled();
    void renormalise() {
        do {
            value_ = value_ << 8 | next_byte();
        } while ((length_ <<= 8) < kMinLength);
    }
    uint32_t read_raw(uint32_t bits) {
        length_ >>= bits;
        const uint32_t v = value_ / length_;
        value_ -= length_ * v;
        if (length_ < kMinLength) renormalise();
        return v;
    }

    const uint8_t *at_ = nullptr, *end_ = nullptr;
    Refill refill_ = nullptr;
    void *refill_context_ = nullptr;
    size_t overrun_bytes_ = 0;
    uint32_t value_ = 0, length_ = kMaxLength;
};

}  // namespace laz
