// FmChip: the register-level face of the FM synthesizer, an OPN-family chip
// with the YM2612 register map, plus its mixer (fm/mixer.cpp).
//
// The register map and the reader of each field are in fm/registers.h.
//
// The timers are modelled only as far as their status flags and interrupt
// line: nothing advances them, so no flag is ever raised by the chip itself.
//
// Operations (all on the decode thread, never while mixing; the one
// exception, Initialize, runs before any playback):
//   Initialize(clock, rate, interpolate)  clocks, allocates the 8193-byte PCM
//       queue, resets, sets all gains to 0 dB and unmutes; false only when
//       the queue cannot be allocated (then no reset and no gains).
//   SetClockAndRate(clock, rate, interpolate)  clock and output rate in Hz.
//       With interpolation the channels run at half the chip's sample rate
//       (clock / 72), halved again while the output rate is at most half of
//       it, and are resampled; without, they run at the output rate. If the
//       output rate is too high to resample down to, interpolation goes off
//       and the channels run at the output rate. Always true.
//   ResetChip()  power-on state: every register zeroed, channels 3-5 left
//       out of mixing, all operators Off with their keys up, the frequency
//       latches 0, the resampler empty, no PCM queued. Nothing of what was
//       played before survives; only clock, rates, gains and mutes stay.
//   WriteRegister(address, data)  one register write, address 0x000-0x1FF.
//   BeginPcmStretch(frames)  the next `frames` output frames, however many
//       MixInto calls render them, are one stretch: the PCM bytes queued
//       now are spread over all of it. Without it a MixInto is a stretch of
//       its own.
//   QueuePcmAt(frame, data)  a DAC byte, as a register 0x2A write would queue
//       it, but heard from output frame `frame` of the next stretch on (0 =
//       its first frame; frames never decrease from byte to byte). A stretch
//       whose bytes came this way plays each at its own frame and holds it
//       until the next, instead of spreading them.
//   MixInto(buffer, frames)  adds `frames` stereo frames of FM and PCM
//       (left, right; 32-bit) to `buffer`; never clears it.
//   SetFmGain / SetPsgGain / SetPcmGain(halfDb)  gains in half-decibel
//       steps, positive louder, 0 = unity, capped at +20.
//   PsgGainFactor()  PSG multiplier, 4095 at 0 dB: apply (sample * f) >> 12.
//   SetMutedChannels(mask)  bit i silences channel i (0-5) from the next mix.
//   DiscardPcmQueue()  drops the PCM bytes not yet mixed and ends the
//       stretch.
#pragma once

#include <cstdint>
#include <memory>

#include "fm/channel.h"
#include "fm/registers.h"

// Register fields and scales that both halves of the chip use: the register
// decoder (chip.cpp) and the mixer (mixer.cpp).
namespace fm_chip {
constexpr int32_t kPcmZeroLevel = 128;     // PCM byte of the zero level
constexpr int32_t kResampleUnit = 0x4000;  // one output frame, in resampler weight units
constexpr int32_t kResamplePhaseStart = kResampleUnit - 1;  // uncovered part of a fresh frame
}  // namespace fm_chip

// The timer and status part of an OPN-family chip. Its virtual operations,
// in slot order: the reset, RaiseStatus, ClearStatus, the destructor.
class ChipTimer {
public:
    // Returns the chip to its power-on state. The timer part alone only
    // clears the status and selects prescaler 0 (ResetTimers).
    virtual void ResetChip();
    // Sets status flags (only those statusMask lets through) unless one of
    // them is already set, then re-evaluates the interrupt line.
    virtual void RaiseStatus(uint8_t bits) = 0;
    // Clears status flags, then re-evaluates the interrupt line.
    virtual void ClearStatus(uint8_t bits) = 0;
    virtual ~ChipTimer();

    uint8_t Status() const { return status; }
    uint8_t Mode() const { return mode; }
    uint8_t Prescaler() const { return prescaler; }  // 0-2; 255 = none yet
    uint32_t Clock() const { return clock; }
    uint32_t SynthesisRate() const { return synthesisRate; }
    uint32_t RateRatio() const { return rateRatio; }

protected:
    // status = 0, then SelectPrescaler(0).
    void ResetTimers();
    // Selects clock divisor 6, 3 or 2 (index 0, 1, 2) and recomputes the
    // rate ratio and the rate tables; selecting the current one does nothing.
    void SelectPrescaler(uint8_t index);

    uint32_t clock = 0;          // master clock, Hz
    uint32_t synthesisRate = 0;  // rate the channels are computed at, Hz
    uint32_t rateRatio = 0;      // chip sample rate / synthesisRate, 8.8 fixed point
    uint8_t status = 0;          // bit 0 timer A flag, bit 1 timer B flag
    uint8_t mode = 0;            // register 0x27 as last written
    uint8_t prescaler = 255;     // selected prescaler 0-2; 255 = none selected
};

class FmChip : public ChipTimer {
public:
    FmChip();
    ~FmChip() override;
    FmChip(const FmChip&) = delete;
    FmChip& operator=(const FmChip&) = delete;

    bool Initialize(uint32_t clock, uint32_t rate, bool interpolate);
    bool SetClockAndRate(uint32_t clock, uint32_t rate, bool interpolate);
    void ResetChip() override;
    void RaiseStatus(uint8_t bits) override;
    void ClearStatus(uint8_t bits) override;
    // Notification of the interrupt line's level; nothing listens here.
    virtual void OnInterruptLine(bool asserted);

    void WriteRegister(uint32_t address, uint8_t data);

    void BeginPcmStretch(uint32_t frames);
    void QueuePcmAt(uint32_t frame, uint8_t data);
    void MixInto(int32_t* buffer, uint32_t frames);
    void SetFmGain(int32_t halfDb);
    void SetPsgGain(int32_t halfDb);
    void SetPcmGain(int32_t halfDb);
    int32_t PsgGainFactor() const { return psgGain; }
    void SetMutedChannels(uint32_t mask);
    void DiscardPcmQueue();

    // PCM queue bytes: byte 0 carries over from the last stretch, 1-8192 are
    // queued.
    static constexpr uint32_t kPcmQueueSize = 8193;
    // Internal samples computed at a time.
    static constexpr uint32_t kRenderChunk = 512;

private:
    // The tests read the private state through tests/fm/chip_probe.h.
    friend struct FmChipProbe;

    // address: 0x30-0x9F within a port, low bits 0-2 (3 reaches no channel).
    void WriteOperatorRegister(FmChannel& channel, uint32_t address, uint8_t data);
    void WriteKey(uint8_t data);
    bool CsmMode() const { return fm_reg::CsmMode(mode); }

    // Mixing (fm/mixer.cpp, fm/render.cpp, fm/pcm.cpp).
    void HandFrequencies();
    uint32_t PrepareChannels();
    void MixDirect(int32_t* buffer, uint32_t frames, uint32_t mask);
    void MixResampled(int32_t* buffer, uint32_t frames, uint32_t mask);
    // Computes `count` (at most kRenderChunk) internal samples of the
    // channels active in `mask` (from PrepareChannels), after pan and FM
    // gain, into left and right (fm/render.cpp).
    void RenderSamples(int32_t* left, int32_t* right, uint32_t count, uint32_t mask);
    void MixPcm(int32_t* buffer, uint32_t frames);
    void MixPcmFrames(int32_t* buffer, uint32_t frames);
    void MixTimedPcmFrames(int32_t* buffer, uint32_t frames);
    void EndPcmStretch();

    // Channel routing
    FmChannel* csmChannel;  // channel 2: the one the CSM and special modes act on

    // Output levels
    int32_t fmGain = 0;   // FM multiplier, 16384 = 0 dB (shift 14)
    int32_t psgGain = 0;  // PSG multiplier, 4095 = 0 dB (shift 12)
    int32_t pcmGain = 0;  // PCM multiplier, 4095 = 0 dB (shift 6 on byte - 128)

    // Resampler: weights in 1/16384 of an output frame
    int32_t resampleLeft = 0;   // carried weighted sum, left, sample x 2^14
    int32_t resampleRight = 0;  // carried weighted sum, right, sample x 2^14
    int32_t resamplePhase =
        fm_chip::kResamplePhaseStart;  // part of the current output frame not yet covered
    int32_t resampleStep = 0;          // length of one internal sample (8193-16383)
    bool interpolate = false;          // channels are resampled to the output rate

    // Control registers
    uint8_t reg29 = 0;       // register 0x29: bit 7 channels 3-5 on, bits 0-4 irq enables
    uint8_t lfoControl = 0;  // register 0x22: bit 3 LFO on, bits 0-2 rate
    uint8_t statusMask = 0;  // status bits that may be raised

    // LFO
    uint32_t lfoCount = 0;  // LFO phase, position = bits 20-27
    uint32_t lfoStep = 0;   // added to lfoCount per internal sample while it runs

    // Frequencies, handed to the channels at the start of every mix
    uint32_t blockFnum[6] = {};      // per channel: bits 0-10 F-number, bits 11-13 block
    uint32_t slotBlockFnum[3] = {};  // channel 2 per-operator words from 0xA8-0xAA
    uint8_t pan[6] = {};             // bit 1 left, bit 0 right
    uint8_t fnumHigh[6] = {};        // 0xA4-0xA6 as last written, waiting for the low byte
    uint8_t slotFnumHigh[3] = {};    // 0xAC-0xAE as last written

    // PCM (DAC) queue
    std::unique_ptr<uint8_t[]> pcmQueue;  // kPcmQueueSize bytes once Initialize succeeded
    int32_t pcmCount = 0;                 // bytes queued for the current or next stretch (0-8192)
    int32_t pcmLast = 0;                  // last PCM value mixed, after gain
    int32_t pcmEnabled = 0;               // 0 or 0x80 (register 0x2B bit 7)
    uint32_t pcmStretchLeft = 0;  // frames of the current stretch still to mix; 0 = none open
    uint32_t pcmPosition = 0;     // read position in the stretch's bytes, 16.16; 0 = its first byte
    uint32_t pcmStep = 0;         // read position step per frame, 16.16
    // Timed bytes: each queued byte's frame within its stretch
    std::unique_ptr<uint32_t[]> pcmFrames;  // kPcmQueueSize entries, parallel to pcmQueue
    bool pcmTimed = false;                  // the queued bytes carry their own frames
    uint32_t pcmFrameDone = 0;              // frames of a timed stretch already mixed
    int32_t pcmNext = 1;                    // next timed byte to be heard (1 ... pcmCount + 1)

    FmChannel channels[6];
};

// The one chip, constructed when the program or library loads.
extern FmChip fmChip;
