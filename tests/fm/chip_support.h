// Helpers for the chip tests: a chip set up as the song player sets it up,
// register writes by channel, and renders into fresh buffers.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "fm/chip.h"
#include "player/engine.h"

namespace chiptest {

constexpr uint32_t kPlayerClock = kFmSongClock;  // the clock the song player passes

// A chip on the heap, initialised and with channels 3-5 enabled, as at song
// start. The rate tables are process-wide, so this also sets them for `rate`.
inline std::unique_ptr<FmChip> MakeChip(uint32_t rate, bool interpolate) {
    auto chip = std::make_unique<FmChip>();
    chip->Initialize(kPlayerClock, rate, interpolate);
    chip->WriteRegister(0x29, 0x9F);
    return chip;
}

// Address of a channel-addressed register (0xA0, 0xB0, ...) for channel 0-5.
inline uint32_t ChannelAddress(uint32_t base, int channel) {
    return (channel >= 3 ? 0x100u : 0u) + base + static_cast<uint32_t>(channel % 3);
}

// Address of an operator register group (0x30 ... 0x90) for channel and
// operator 0-3 (operators sit at offsets +0, +8, +4, +0xC).
inline uint32_t OperatorAddress(uint32_t base, int channel, int op) {
    static constexpr uint32_t OffsetTable[4] = {0x0, 0x8, 0x4, 0xC};
    return ChannelAddress(base, channel) + OffsetTable[op];
}

// Key register data for channel 0-5 and operator bits 0-15.
inline uint8_t KeyData(int channel, uint32_t operatorBits) {
    uint32_t code =
        channel >= 3 ? static_cast<uint32_t>(channel) + 1 : static_cast<uint32_t>(channel);
    return static_cast<uint8_t>((operatorBits << 4) | code);
}

// A plain patch: instant attack, no decay (sustain level 0, sustain rate 0),
// fastest release; carriers at full level, modulators at `modulatorLevel`.
inline void LoadPatch(FmChip& chip, int channel, int algorithm, int feedback,
                      uint8_t modulatorLevel = 0x7F, uint8_t pan = 0xC0) {
    // Carriers by algorithm: bit k set when operator k is heard.
    static constexpr uint8_t CarrierTable[8] = {0x8, 0x8, 0x8, 0x8, 0xA, 0xE, 0xE, 0xF};
    for (int op = 0; op < 4; ++op) {
        bool carrier = (CarrierTable[algorithm] >> op) & 1;
        chip.WriteRegister(OperatorAddress(0x30, channel, op), static_cast<uint8_t>(0x01 + op));
        chip.WriteRegister(OperatorAddress(0x40, channel, op), carrier ? 0x00 : modulatorLevel);
        chip.WriteRegister(OperatorAddress(0x50, channel, op), 0x1F);
        chip.WriteRegister(OperatorAddress(0x60, channel, op), 0x00);
        chip.WriteRegister(OperatorAddress(0x70, channel, op), 0x00);
        chip.WriteRegister(OperatorAddress(0x80, channel, op), 0x0F);
    }
    chip.WriteRegister(ChannelAddress(0xB0, channel),
                       static_cast<uint8_t>(feedback << 3 | algorithm));
    chip.WriteRegister(ChannelAddress(0xB4, channel), pan);
}

inline void SetNote(FmChip& chip, int channel, uint32_t block, uint32_t fnum) {
    chip.WriteRegister(ChannelAddress(0xA4, channel), static_cast<uint8_t>(block << 3 | fnum >> 8));
    chip.WriteRegister(ChannelAddress(0xA0, channel), static_cast<uint8_t>(fnum & 0xFF));
}

inline void KeyOn(FmChip& chip, int channel) {
    chip.WriteRegister(0x28, KeyData(channel, 0xF));
}

inline void KeyOff(FmChip& chip, int channel) {
    chip.WriteRegister(0x28, KeyData(channel, 0x0));
}

// Mixes `frames` stereo frames into a zeroed buffer.
inline std::vector<int32_t> Render(FmChip& chip, uint32_t frames) {
    std::vector<int32_t> buffer(2 * static_cast<size_t>(frames), 0);
    chip.MixInto(buffer.data(), frames);
    return buffer;
}

inline int32_t PeakOf(const std::vector<int32_t>& buffer, int side) {
    int32_t peak = 0;
    for (size_t i = static_cast<size_t>(side); i < buffer.size(); i += 2) {
        int32_t v = buffer[i] < 0 ? -buffer[i] : buffer[i];
        peak = v > peak ? v : peak;
    }
    return peak;
}

// Pitch an operator derives from a block/F-number word.
inline uint32_t PitchOf(uint32_t word) {
    return (word & 0x7FF) << ((word >> 11) & 7);
}

}  // namespace chiptest
