// FmChip: the register-level face of the FM synthesizer, an OPN-family chip
// with the YM2612 register map, plus its mixer (fm/mixer.cpp).
//
// Two ports of 256 addresses: 0x000-0x0FF is port 0, 0x100-0x1FF port 1
// (the address is taken modulo 0x200). Channels are numbered 0-5. A
// channel-addressed register reaches channel (address & 3) on port 0 and
// (address & 3) + 3 on port 1; low bits 3 reach no channel. Operator
// registers sit four apart in the order operator 0, 2, 1, 3 (offsets +0, +4,
// +8, +0xC).
//
// Register map (addr  bits      field):
//   022   ----x---  LFO on
//   022   -----xxx  LFO rate (0-7)
//   024   xxxxxxxx  timer A high bits        accepted, drives nothing
//   025   ------xx  timer A low bits         accepted, drives nothing
//   026   xxxxxxxx  timer B                  accepted, drives nothing
//   027   xx------  channel-2 mode: 01 special frequencies, 1x CSM
//   027   --x-----  clear status bit 1 (timer B flag)
//   027   ---x----  clear status bit 0 (timer A flag)
//   027   ------xx  timer start              accepted, drives nothing
//   028   xxxx----  key on, operators 3 2 1 0
//   028   -----xxx  channel: 0-2, 4-6 for channels 3-5 (3 and 7: none)
//   029   x-------  channels 3-5 take part in mixing (when clear they are
//                   silent, though channel 3 runs beside a sounding channel 2)
//   029   ---xxxxx  interrupt enables (masks the interrupt line)
//   02A   xxxxxxxx  PCM sample, 128 = zero level: queued, up to 8192 per stretch;
//                   dropped while PCM is off or when there is no queue
//   02B   x-------  PCM enable
//   02D   (write)   select prescaler 0: clock / 6
//   02E   (write)   select prescaler 1: clock / 3
//   02F   (write)   select prescaler 2: clock / 2
//   03x   -xxx----  detune (0-7)
//   03x   ----xxxx  frequency multiple (0-15)
//   04x   -xxxxxxx  total level (0-127, 0.75 dB steps)
//   05x   xx------  key scale (0-3)
//   05x   ---xxxxx  attack rate (0-31)
//   06x   x-------  amplitude modulation on
//   06x   ---xxxxx  decay rate (0-31)
//   07x   ---xxxxx  sustain rate (0-31)
//   08x   xxxx----  sustain level (0-15)
//   08x   ----xxxx  release rate (0-15)
//   09x   ----xxxx  SSG-type envelope (stored, never heard)
//   0A0-2 xxxxxxxx  F-number low byte; latches 0A4-6 into the channel's word
//   0A4-6 --xxx---  block (0-7)              waits for the next 0A0-2 write
//   0A4-6 -----xxx  F-number high bits       waits for the next 0A0-2 write
//   0A8-A xxxxxxxx  channel-2 operator F-number low (0A9 op 0, 0AA op 1,
//                   0A8 op 2; op 3 uses the channel's own 0A2/0A6)
//   0AC-E --xxxxxx  channel-2 operator block / F-number high
//   0B0-2 --xxx---  feedback (0-7)
//   0B0-2 -----xxx  algorithm (0-7)
//   0B4-6 x-------  left output
//   0B4-6 -x------  right output
//   0B4-6 --xx----  amplitude modulation sensitivity (0-3)
//   0B4-6 -----xxx  pitch modulation sensitivity (0-7)
//   110   x-------  clear all status flags
//   110   ---xxxxx  (bit 7 clear) status flags that may not be raised
//   1xx   port 1 repeats 030-0B6 for channels 3-5; 1A8-1AF are unused
// Every other address is ignored.
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

// Register fields and scales that both halves of the chip use: the register
// decoder (chip.cpp) and the mixer (mixer.cpp).
namespace fm_chip {
constexpr uint8_t LfoOnBit = 0x08;        // register 0x22 bit 3: the LFO runs
constexpr int32_t PcmZeroLevel = 128;     // PCM byte of the zero level
constexpr int32_t ResampleUnit = 0x4000;  // one output frame, in resampler weight units
constexpr int32_t ResamplePhaseStart = ResampleUnit - 1;  // uncovered part of a fresh frame
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

    uint32_t clock = 0;           // master clock, Hz
    uint32_t synthesisRate = 0;   // rate the channels are computed at, Hz
    uint32_t rateRatio = 0;       // chip sample rate / synthesisRate, 8.8 fixed point
    uint8_t status = 0;           // bit 0 timer A flag, bit 1 timer B flag
    uint8_t mode = 0;             // register 0x27 as last written
    uint8_t prescaler = 255;      // selected prescaler 0-2; 255 = none selected
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
    void MixInto(int32_t* buffer, uint32_t frames);
    void SetFmGain(int32_t halfDb);
    void SetPsgGain(int32_t halfDb);
    void SetPcmGain(int32_t halfDb);
    int32_t PsgGainFactor() const { return psgGain; }
    void SetMutedChannels(uint32_t mask);
    void DiscardPcmQueue();

    // Queries for tests and tools.
    int32_t FmGain() const { return fmGain; }
    int32_t PcmGain() const { return pcmGain; }
    int32_t ResampleStep() const { return resampleStep; }
    int32_t ResamplePhase() const { return resamplePhase; }
    int32_t ResampleLeft() const { return resampleLeft; }
    int32_t ResampleRight() const { return resampleRight; }
    bool Interpolating() const { return interpolate; }
    uint8_t Reg29() const { return reg29; }
    uint8_t LfoControl() const { return lfoControl; }
    uint8_t StatusMask() const { return statusMask; }
    uint32_t LfoCount() const { return lfoCount; }
    uint32_t LfoStep() const { return lfoStep; }
    uint32_t BlockFnum(int channel) const { return blockFnum[channel]; }
    uint32_t SlotBlockFnum(int entry) const { return slotBlockFnum[entry]; }
    uint8_t Pan(int channel) const { return pan[channel]; }
    bool HasPcmQueue() const { return pcmQueue != nullptr; }
    int32_t PcmCount() const { return pcmCount; }
    int32_t PcmLast() const { return pcmLast; }
    uint32_t PcmStretchLeft() const { return pcmStretchLeft; }
    uint8_t PcmQueueByte(int index) const { return pcmQueue ? pcmQueue[index] : 0; }
    const FmChannel& Channel(int index) const { return channels[index]; }

    static constexpr uint32_t PcmQueueSize = 8193;  // byte 0 carries over, 1-8192 queued

private:
    // address: 0x30-0x9F within a port, low bits 0-2 (3 reaches no channel).
    void WriteOperatorRegister(FmChannel& channel, uint32_t address, uint8_t data);
    void WriteKey(uint8_t data);
    bool CsmMode() const { return (mode & 0x80) != 0; }

    // Mixing (fm/mixer.cpp).
    void HandFrequencies();
    uint32_t PrepareChannels();
    void MixDirect(int32_t* buffer, uint32_t frames, uint32_t mask);
    void MixResampled(int32_t* buffer, uint32_t frames, uint32_t mask);
    void MixPcm(int32_t* buffer, uint32_t frames);
    void MixPcmFrames(int32_t* buffer, uint32_t frames);
    void EndPcmStretch();

    // Channel routing
    FmChannel* csmChannel;          // channel 2: the one the CSM and special modes act on

    // Output levels
    int32_t fmGain = 0;             // FM multiplier, 16384 = 0 dB (shift 14)
    int32_t psgGain = 0;            // PSG multiplier, 4095 = 0 dB (shift 12)
    int32_t pcmGain = 0;            // PCM multiplier, 4095 = 0 dB (shift 6 on byte - 128)

    // Resampler: weights in 1/16384 of an output frame
    int32_t resampleLeft = 0;       // carried weighted sum, left, sample x 2^14
    int32_t resampleRight = 0;      // carried weighted sum, right, sample x 2^14
    int32_t resamplePhase = fm_chip::ResamplePhaseStart;  // part of the current output frame not yet covered
    int32_t resampleStep = 0;       // length of one internal sample (8193-16383)
    bool interpolate = false;       // channels are resampled to the output rate

    // Control registers
    uint8_t reg29 = 0;              // register 0x29: bit 7 channels 3-5 on, bits 0-4 irq enables
    uint8_t lfoControl = 0;         // register 0x22: bit 3 LFO on, bits 0-2 rate
    uint8_t statusMask = 0;         // status bits that may be raised

    // LFO
    uint32_t lfoCount = 0;          // LFO phase, position = bits 20-27
    uint32_t lfoStep = 0;           // added to lfoCount per internal sample while it runs

    // Frequencies, handed to the channels at the start of every mix
    uint32_t blockFnum[6] = {};     // per channel: bits 0-10 F-number, bits 11-13 block
    uint32_t slotBlockFnum[3] = {}; // channel 2 per-operator words from 0xA8-0xAA
    uint8_t pan[6] = {};            // bit 1 left, bit 0 right
    uint8_t fnumHigh[6] = {};       // 0xA4-0xA6 as last written, waiting for the low byte
    uint8_t slotFnumHigh[3] = {};   // 0xAC-0xAE as last written

    // PCM (DAC) queue
    std::unique_ptr<uint8_t[]> pcmQueue;  // PcmQueueSize bytes once Initialize succeeded
    int32_t pcmCount = 0;           // bytes queued for the current or next stretch (0-8192)
    int32_t pcmLast = 0;            // last PCM value mixed, after gain
    int32_t pcmEnabled = 0;         // 0 or 0x80 (register 0x2B bit 7)
    uint32_t pcmStretchLeft = 0;    // frames of the current stretch still to mix; 0 = none open
    uint32_t pcmPosition = 0;       // read position in the stretch's bytes, 16.16; 0 = its first byte
    uint32_t pcmStep = 0;           // read position step per frame, 16.16

    FmChannel channels[6];
};

// The one chip, constructed when the program or library loads.
extern FmChip fmChip;
