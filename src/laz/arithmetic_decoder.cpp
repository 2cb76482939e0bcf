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

ArithmeticDecoder::State ArithmeticDecoder::renormalise(State s) {
    do {
        s.value = s.value << 8 | next_byte();
    } while ((s.length <<= 8) < kMinLength);
    return s;
}

void BitModel::update() {
    uint32_t count = count_ + update_cycle_, zero_count = zero_count_;
    // Halve the counts before they outgrow the probability's precision.
    if (count > kBitMaxCount) {
        count = (count + 1) >> 1;
        zero_count = (zero_count + 1) >> 1;
        if (zero_count == count) ++count;
    }
    const uint32_t scale = 0x80000000u / count;
    count_ = static_cast<uint16_t>(count);
    zero_count_ = static_cast<uint16_t>(zero_count);
    zero_probability_ = static_cast<uint16_t>((zero_count * scale) >> (31 - kBitLengthShift));
    const uint32_t cycle = (5u * update_cycle_) >> 2;
    update_cycle_ = static_cast<uint16_t>(cycle > 64 ? 64 : cycle);
    until_update_ = update_cycle_;
}

SymbolModel::SymbolModel(uint32_t symbols) : symbols_(symbols), last_symbol_(symbols - 1) {
    if (symbols < 2 || symbols > (1u << 11)) throw std::invalid_argument("a symbol model has 2 to 2048 symbols");
    if (symbols > kSymbolsSearched) {
        table_bits_ = 6;
        while (2 * symbols > (1u << table_bits_) && table_bits_ < 10) ++table_bits_;
        table_size_ = 1u << table_bits_;
        table_shift_ = kSymbolLengthShift - table_bits_;
    }
    storage_.resize(2 * symbols + (table_size_ ? table_size_ + 4 : 0));  // as the accessors lay it out
    reset();
}

void SymbolModel::reset() {
    uint16_t *c = counts();
    for (uint32_t k = 0; k < symbols_; ++k) c[k] = 1;
    total_count_ = 0;
    update_cycle_ = symbols_;
    update();
    update_cycle_ = (symbols_ + 6) >> 1;
    until_update_ = static_cast<uint16_t>(update_cycle_);
}

void SymbolModel::update() {
    if ((total_count_ += update_cycle_) > kSymbolMaxCount) {
        total_count_ = 0;
        uint16_t *c = counts();
        for (uint32_t k = 0; k < symbols_; ++k) {
            c[k] = static_cast<uint16_t>((c[k] + 1) >> 1);
            total_count_ += c[k];
        }
    }
    const uint32_t scale = 0x80000000u / total_count_;
    uint32_t sum = 0;
    uint16_t *d = distribution(), *c = counts(), *t = table();
    uint32_t likeliest = 0, most = 0;  // the first symbol of the most counts
    if (table_size_ == 0) {
        for (uint32_t k = 0; k < symbols_; ++k) {
            d[k] = static_cast<uint16_t>((scale * sum) >> (31 - kSymbolLengthShift));
            sum += c[k];
            if (c[k] > most) most = c[likeliest = k];
        }
    } else {
        // Entry e (from 1) holds the symbol before the first whose range starts at or above e's
        // share. Each symbol fills the entries after the previous symbol's start up to its own,
        // four of them whatever its start: those past it are filled again by the symbols after it
        // or at the end, and a symbol seldom spans more than four, so the loop for more is seldom
        // run and its branch seldom mispredicted.
        uint32_t s = 0;
        for (uint32_t k = 0; k < symbols_; ++k) {
            d[k] = static_cast<uint16_t>((scale * sum) >> (31 - kSymbolLengthShift));
            sum += c[k];
            if (c[k] > most) most = c[likeliest = k];
            const uint32_t w = d[k] >> table_shift_;
            const uint16_t before = static_cast<uint16_t>(k - 1);
            t[s + 1] = t[s + 2] = t[s + 3] = t[s + 4] = before;
            for (uint32_t e = s + 5; e <= w; ++e) t[e] = before;
            s = w;  // the starts never decrease
        }
        t[0] = 0;
        while (s <= table_size_) t[++s] = static_cast<uint16_t>(symbols_ - 1);
    }
    // The likeliest symbol is tried first while it holds at least half of the
    // counts: below that, a failed try costs more than a right one saves.
    likeliest_ = likeliest;
    likeliest_start_ = d[likeliest];
    likeliest_is_last_ = likeliest == last_symbol_ ? ~0u : 0u;
    likeliest_share_ = 0;
    if (2 * most >= total_count_)
        likeliest_share_ = likeliest == last_symbol_ ? 1u : d[likeliest + 1] - d[likeliest];
    update_cycle_ = (5 * update_cycle_) >> 2;
    const uint32_t max_cycle = (symbols_ + 6) << 3;
    if (update_cycle_ > max_cycle) update_cycle_ = max_cycle;
    until_update_ = static_cast<uint16_t>(update_cycle_);
}

}  // namespace laz
