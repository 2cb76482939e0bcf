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

// Symbol models of up to this many symbols are bisected, larger ones searched through a table.
inline constexpr uint32_t kSymbolsSearched = 4;
inline constexpr uint32_t kSymbolsSearchedSteps = 2;  // halvings from kSymbolsSearched symbols to one
static_assert(1u << kSymbolsSearchedSteps == kSymbolsSearched);

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

    // 16 bits each, as the symbol model's tables (counts stay below 2^13 + 64).
    uint16_t zero_count_, count_, zero_probability_;
    uint16_t update_cycle_, until_update_;
};

// An adaptive model of one of `symbols` symbols (2 to 2048). Models of more
// than kSymbolsSearched symbols keep a table from the top bits of a scaled
// value (a division) to the first symbol to search from; it holds at least
// twice as many entries as symbols (up to 1024), so that a likely symbol is
// mostly found at once. Smaller models are bisected with multiplications.
// Before either, a symbol that holds at least half of the counts is tried on
// its own: two multiplications, off the chain of dependent decisions that
// the division and the look-ups lengthen.
class SymbolModel {
 public:
    explicit SymbolModel(uint32_t symbols);
    void reset();
    uint32_t symbols() const { return symbols_; }

 private:
    friend class ArithmeticDecoder;
    friend class ArithmeticEncoder;
    void update();

    // One block, so that what a decode reads lies together: the cumulative
    // probability of each symbol (15 bits), each symbol's occurrences since
    // the last rescaling, then the table (table_size_ + 2 entries and two
    // more that update() may fill past them, or none).
    // All fit 16 bits (counts stay below 2^15 plus one update cycle, symbols
    // below 2^11), which halves what a decode touches; and a store to a count
    // cannot be the coder's own 32-bit state, so the compiler keeps that in
    // registers from one decision to the next.
    uint16_t *distribution() { return storage_.data(); }
    uint16_t *counts() { return storage_.data() + symbols_; }
    uint16_t *table() { return storage_.data() + 2 * symbols_; }

    uint32_t symbols_;
    uint32_t last_symbol_;
    uint32_t table_bits_ = 0, table_size_ = 0, table_shift_ = 0;
    uint32_t total_count_ = 0, update_cycle_ = 0;
    uint16_t until_update_ = 0;  // below 2^15, as the tables
    // The likeliest symbol and its cumulative probability; its share, or 1
    // for the last symbol, whose share runs to the interval's end (then
    // likeliest_is_last_ is all ones); a share of 0 when no symbol is likely
    // enough to be tried first.
    uint32_t likeliest_ = 0, likeliest_start_ = 0, likeliest_share_ = 0, likeliest_is_last_ = 0;
    std::vector<uint16_t> storage_;
};

// Choices without branches: which way a bisection goes follows no pattern
// that a branch predictor could learn.
inline uint32_t all_when(bool c) { return 0u - static_cast<uint32_t>(c); }
inline uint32_t pick(uint32_t mask, uint32_t when_set, uint32_t otherwise) {
    return (when_set & mask) | (otherwise & ~mask);
}

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

    // The coder's value and length while a run of decisions is decoded. A
    // caller that decodes several in a row holds them in a local (hold(),
    // then put() when done), which the compiler keeps in registers: held in
    // the decoder, they would go through memory at every call a decision may
    // make (a model's update, a refill) and at every store that could be
    // theirs, for all the compiler knows.
    struct State {
        uint32_t value, length;
    };
    State hold() const { return {value_, length_}; }
    void put(State s) {
        value_ = s.value;
        length_ = s.length;
    }

    [[gnu::always_inline]] uint32_t decode_bit(BitModel &m, State &s) {
        const uint32_t x = m.zero_probability_ * (s.length >> kBitLengthShift);
        const uint32_t bit = s.value >= x;
        if (bit == 0) {
            s.length = x;
        } else {
            s.value -= x;
            s.length -= x;
        }
        normalise(s);
        m.zero_count_ += bit ^ 1;
        if (--m.until_update_ == 0) m.update();
        return bit;
    }

    [[gnu::always_inline]] uint32_t decode_symbol(SymbolModel &m, State &s) {
        uint32_t symbol, x, y = s.length;
        const uint32_t value = s.value, length = s.length >> kSymbolLengthShift;
        if (m.likeliest_share_ != 0) {
            // Two multiplications tell whether the value lies in the likeliest
            // symbol's share, sparing the division and the search.
            const uint32_t start = m.likeliest_start_ * length;
            const uint32_t share = pick(m.likeliest_is_last_, s.length - start, m.likeliest_share_ * length);
            if (value - start < share) {
                s.value = value - start;
                s.length = share;
                normalise(s);
                symbol = m.likeliest_;
                ++m.counts()[symbol];
                if (--m.until_update_ == 0) m.update();
                return symbol;
            }
        }
        const uint16_t *distribution = m.distribution();
        if (m.table_size_ != 0) {
            const uint16_t *table = distribution + 2 * m.symbols_;
            const uint32_t scaled = value / length;
            uint32_t t = scaled >> m.table_shift_;
            if (t > m.table_size_) t = m.table_size_;  // only a damaged stream gets here
            symbol = table[t];
            uint32_t n = table[t + 1] + 1u;
            while (n > symbol + 1) {  // bisect between the table's bounds
                const uint32_t k = (symbol + n) >> 1;
                const uint32_t above = all_when(distribution[k] > scaled);
                n = pick(above, k, n);
                symbol = pick(above, symbol, k);
            }
        } else {
            // length x distribution[k] > value, as distribution[k] > value / length above. As many steps
            // as the largest such model needs, whatever this one's size: a step with nothing left to
            // halve looks at the symbol found, which is never above, and changes nothing.
            symbol = 0;
            uint32_t n = m.symbols_;
            for (uint32_t step = 0; step < kSymbolsSearchedSteps; ++step) {
                const uint32_t k = (symbol + n) >> 1;
                const uint32_t above = all_when(length * distribution[k] > value);
                n = pick(above, k, n);
                symbol = pick(above, symbol, k);
            }
        }
        // The symbol's share of the interval; the last symbol's runs to its end.
        x = distribution[symbol] * length;
        if (symbol != m.last_symbol_) y = distribution[symbol + 1] * length;
        s.value = value - x;
        s.length = y - x;
        normalise(s);
        ++m.counts()[symbol];
        if (--m.until_update_ == 0) m.update();
        return symbol;
    }

    // 1 to 32 raw bits, coded with equal probabilities.
    [[gnu::always_inline]] uint32_t read_bits(uint32_t bits, State &s) {
        if (bits > 19) {  // more than 19 at once would lose precision: 16, then the rest
            const uint32_t low = read_raw(16, s) & 0xFFFFu;
            bits -= 16;
            return (read_raw(bits, s) & ((1u << bits) - 1)) << 16 | low;
        }
        return read_raw(bits, s) & ((1u << bits) - 1);
    }

    // The same, one at a time, with the state held in the decoder.
    uint32_t decode_bit(BitModel &m) { return held([&](State &s) { return decode_bit(m, s); }); }
    uint32_t decode_symbol(SymbolModel &m) { return held([&](State &s) { return decode_symbol(m, s); }); }
    uint32_t read_bits(uint32_t bits) { return held([&](State &s) { return read_bits(bits, s); }); }
    uint8_t read_byte() { return static_cast<uint8_t>(held([&](State &s) { return read_raw(8, s); })); }
    uint16_t read_short() { return static_cast<uint16_t>(held([&](State &s) { return read_raw(16, s); })); }
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
    template <typename F>
    [[gnu::always_inline]] uint32_t held(F f) {
        State s = hold();
        const uint32_t r = f(s);
        put(s);
        return r;
    }
    uint32_t next_byte() {
        if (at_ < end_) return *at_++;
        return next_byte_refilled();
    }
    uint32_t next_byte_refilled();
    // Renormalises a byte at a time through the careful path; out of line,
    // and given and giving the state by value, so that a caller's held state
    // never has its address taken.
    State renormalise(State s);
    // Renormalises when the interval needs it: the bytes wanted (1 to 3)
    // follow from the length's leading zeros, and are taken from the next
    // four whenever four remain.
    [[gnu::always_inline]] void normalise(State &s) {
        if (s.length >= kMinLength) return;
        if (end_ - at_ >= 4) {
            const uint32_t shift = (static_cast<uint32_t>(__builtin_clz(s.length)) >> 3) << 3;
            const uint64_t next = static_cast<uint64_t>(at_[0]) << 24 | static_cast<uint64_t>(at_[1]) << 16 |
                                  static_cast<uint64_t>(at_[2]) << 8 | at_[3];
            s.value = static_cast<uint32_t>(static_cast<uint64_t>(s.value) << shift | next >> (32 - shift));
            s.length <<= shift;
            at_ += shift >> 3;
        } else {
            s = renormalise(s);
        }
    }
    [[gnu::always_inline]] uint32_t read_raw(uint32_t bits, State &s) {
        s.length >>= bits;
        const uint32_t v = s.value / s.length;
        s.value -= s.length * v;
        normalise(s);
        return v;
    }

    const uint8_t *at_ = nullptr, *end_ = nullptr;
    Refill refill_ = nullptr;
    void *refill_context_ = nullptr;
    size_t overrun_bytes_ = 0;
    uint32_t value_ = 0, length_ = kMaxLength;
};

}  // namespace laz
