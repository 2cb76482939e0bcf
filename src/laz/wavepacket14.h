// The wave packet item of the layered chunk (versions 3 and 4): the 29 bytes
// that locate a point's waveform, in one layer.
#pragma once

#include "arithmetic_decoder.h"
#include "layered_chunk.h"

#include <cstddef>
#include <cstdint>
#include <memory>

namespace laz {

#pragma pack(push, 1)
struct WavePacketRecord {
    uint8_t descriptor;     // index of the wave packet descriptor
    uint64_t offset;        // of the waveform data, in bytes
    uint32_t size;          // of the waveform data, in bytes
    uint32_t return_point;  // the float's bits, as the coder predicts them; likewise dx, dy, dz
    uint32_t dx, dy, dz;
};
#pragma pack(pop)
static_assert(sizeof(WavePacketRecord) == 29, "the wave packet item is 29 bytes");
static_assert(offsetof(WavePacketRecord, size) == 9 && offsetof(WavePacketRecord, dz) == 25,
              "wave packet item offsets");

class WavePacket14Decoder {
 public:
    explicit WavePacket14Decoder(uint16_t version);
    WavePacket14Decoder(WavePacket14Decoder &&) noexcept;
    ~WavePacket14Decoder();

    static uint32_t layers() { return 1; }
    void first(const uint8_t *record, uint32_t context);
    void start_layer(uint32_t layer, const uint8_t *data, size_t size);
    void decode(uint8_t *record, uint32_t context);
    bool damaged() const { return present_ && layer_.overrun(); }

 private:
    struct Models;
    void start_models(uint32_t context);
    ContextSwitch switch_;
    ArithmeticDecoder layer_;
    bool present_ = false;
    WavePacketRecord last_[kContexts] = {};
    std::unique_ptr<Models> models_[kContexts];  // made when first used, reset when a later chunk uses them
};

}  // namespace laz
