// wavepacket13, version 1: the 29-byte waveform packet of LAS 1.3 formats 4
// and 5. The descriptor index is a symbol; the data offset is the last one,
// the last one plus the last packet's size, the last plus a coded difference,
// or stored whole; the other fields are predicted by their last values.
#pragma once

#include "integer_decoder.h"
#include "item_common.h"

namespace laz {

inline constexpr uint32_t kWavePacketBytes = 29;

class WavePacket13V1 {
 public:
    WavePacket13V1();
    void init(const uint8_t *first);

    void decode(ArithmeticDecoder &dec, uint8_t *out) {
        out[0] = static_cast<uint8_t>(dec.decode_symbol(index_));
        offset_kind_ = dec.decode_symbol(offset_kinds_[offset_kind_]);
        switch (offset_kind_) {
            case 0: break;
            case 1: offset_ += size_; break;
            case 2:
                offset_diff_ = offset_diff_ic_.decode(dec, offset_diff_);
                offset_ += static_cast<uint64_t>(static_cast<int64_t>(offset_diff_));
                break;
            default: offset_ = dec.read_int64(); break;
        }
        size_ = static_cast<uint32_t>(size_ic_.decode(dec, static_cast<int32_t>(size_)));
        return_point_ = return_point_ic_.decode(dec, return_point_);
        for (uint32_t i = 0; i < 3; ++i) xyz_[i] = xyz_ic_.decode(dec, xyz_[i], i);
        store(out);
    }

 private:
    // Offsets in the item: index 0, data offset 1 (8 bytes), size 9, return
    // point 13, then the x, y and z steps (4 bytes each) from 17.
    void store(uint8_t *out) const {
        store64(out + 1, offset_);
        store32(out + 9, size_);
        store32(out + 13, static_cast<uint32_t>(return_point_));
        for (int i = 0; i < 3; ++i) store32(out + 17 + 4 * i, static_cast<uint32_t>(xyz_[i]));
    }

    uint64_t offset_ = 0;
    uint32_t size_ = 0;
    int32_t return_point_ = 0, xyz_[3] = {};  // float bit patterns, predicted as integers
    int32_t offset_diff_ = 0;
    uint32_t offset_kind_ = 0;
    SymbolModel index_;
    SymbolModel offset_kinds_[4];  // by the previous point's kind
    IntegerDecoder offset_diff_ic_, size_ic_, return_point_ic_, xyz_ic_;
};

}  // namespace laz
