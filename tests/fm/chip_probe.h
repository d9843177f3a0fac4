// The tests' window on the chip's private state: resampler, LFO, latches,
// PCM queue and the channels. FmChip names this struct its friend, so the
// product headers carry no queries that only tests make.
#pragma once

#include <cstdint>

#include "fm/chip.h"

struct FmChipProbe {
    static int32_t FmGain(const FmChip& c) { return c.fmGain; }
    static int32_t PcmGain(const FmChip& c) { return c.pcmGain; }
    static int32_t ResampleStep(const FmChip& c) { return c.resampleStep; }
    static int32_t ResamplePhase(const FmChip& c) { return c.resamplePhase; }
    static int32_t ResampleLeft(const FmChip& c) { return c.resampleLeft; }
    static int32_t ResampleRight(const FmChip& c) { return c.resampleRight; }
    static bool Interpolating(const FmChip& c) { return c.interpolate; }
    static uint8_t Reg29(const FmChip& c) { return c.reg29; }
    static uint8_t StatusMask(const FmChip& c) { return c.statusMask; }
    static uint32_t LfoCount(const FmChip& c) { return c.lfoCount; }
    static uint32_t LfoStep(const FmChip& c) { return c.lfoStep; }
    static uint32_t BlockFnum(const FmChip& c, int channel) { return c.blockFnum[channel]; }
    static uint8_t Pan(const FmChip& c, int channel) { return c.pan[channel]; }
    static int32_t PcmCount(const FmChip& c) { return c.pcmCount; }
    static int32_t PcmLast(const FmChip& c) { return c.pcmLast; }
    static uint32_t PcmStretchLeft(const FmChip& c) { return c.pcmStretchLeft; }
    static uint8_t PcmQueueByte(const FmChip& c, int index) {
        return c.pcmQueue ? c.pcmQueue[index] : 0;
    }
    static const FmChannel& Channel(const FmChip& c, int index) { return c.channels[index]; }
};

// The envelope's rate selection, for tests that set a rate by hand.
struct FmOperatorProbe {
    static void SelectEnvelopeRate(FmOperator& op, uint32_t rate) { op.SelectEnvelopeRate(rate); }
};
