// FM operator: one of the four sine oscillators of a channel. A phase
// generator, an envelope generator and an output stage that turns phase,
// modulation and attenuation into a signed sample through the tables.
//
// Registers (one byte per operator; the chip's decoder calls the setter with
// the data byte; offsets +0, +4, +8, +12 of a channel reach operators 0, 2,
// 1, 3 through OperatorSlotMap):
//   30  -xxx----  detune DT (0-7)               SetDetuneMultiple
//       ----xxxx  multiple MUL (0-15, 0 = 1/2)
//   40  -xxxxxxx  total level TL (0-127)        SetTotalLevel
//   50  xx------  key scale KS (0-3)            SetKeyScaleAttack
//       ---xxxxx  attack rate AR (0-31)
//   60  x-------  amplitude modulation on       SetAmDecay
//       ---xxxxx  decay rate DR (0-31)
//   70  ---xxxxx  sustain rate SR (0-31)        SetSustainRate
//   80  xxxx----  sustain level SL (0-15)       SetSustainLevelRelease
//       ----xxxx  release rate RR (0-15)
//   90  ----xxxx  SSG-type envelope             SetSsgEg (stored, never used)
// Channel-wide values the channel hands to each operator:
//   frequency word  --xxx-----------  block (0-7)   SetFrequency
//                   -----xxxxxxxxxxx  F-number (0-2047)
//   B4              --xx-xxx  AMS (bits 4-5), PMS (bits 0-2)  SetLfoSensitivity
//
// Every setter except SetSsgEg and a latch-only total level marks the
// parameters changed; ApplyParameters recomputes the derived values (phase
// step, key scaling, output level, current envelope rate, LFO rows) once,
// outside the per-sample path.
//
// The per-sample path (envelope tick, phase, log-sine and level lookups) is
// in fm/render.cpp; the envelope steps at most once per sample. The step
// itself (StepEnvelope) is inline for the renderer; only a phase's end goes
// out of line.
//
// All run-time arithmetic is 32-bit and wraps; right shifts of signed values
// are arithmetic.
#pragma once

#include <cstdint>

#include "fm/tables.h"

// Envelope phases, in the order a note runs through them.
enum class EnvelopePhase : int32_t {
    Attack = 1,
    Decay = 2,
    Sustain = 3,
    Release = 4,
    Off = 5,
};

struct FmOperator {
    // Output history (operator 0 of a channel only, for feedback)
    int32_t output = 0;          // last sample, linear, full scale 268435455
    int32_t previousOutput = 0;  // the sample before output

    // Phase generator
    uint32_t pitch = 0;          // F-number << block
    uint32_t keyCode = 0;        // key code 0 ... 31
    uint32_t detuneRow = 0;      // DT * 32, row offset into DetuneTable
    uint32_t multiple = 0;       // MUL 0 ... 15
    uint32_t phase = 0;          // phase; bits 19 ... 28 index LogSineTable, period 2^29
    uint32_t phaseStep = 0;      // phase units per sample
    uint32_t pitchLfoScale = 0;  // phaseStep >> 11, factor for pitch modulation

    // Envelope generator
    int32_t envLevel = 0;         // attenuation 0 (loudest) ... 1023, envelope units (1/64 octave)
    uint32_t envEnd = 0;          // level at which the current phase ends, envelope units
    uint32_t envCounter = 0;      // countdown; a step is taken when it runs out
    uint32_t envCounterStep = 0;  // subtracted per sample (EnvelopeRateTable entry)
    int32_t attackShift = 0;      // 1 ... 4, shift of the attack curve
    int32_t envIncrement = 0;     // 16 >> attackShift, level increase per step outside attack
    int32_t envOutput = 0;        // even attenuation index 2 * min(envLevel + totalLevelOut, 1023)
    int32_t totalLevelOut = 0;    // totalLevel * 8 envelope units, or 1023 when muted
    int32_t keyScaleRate = 0;     // keyCode >> (3 - keyScale), added to every rate
    EnvelopePhase envPhase = EnvelopePhase::Off;  // current envelope phase

    // LFO
    const int32_t* ampLfoRow = AmpLfoTable[0];  // row of AmpLfoTable (attenuation index offsets)
    const int32_t* pitchLfoRow = PitchLfoTable[0];  // row of PitchLfoTable (1/65536 of the step)

    // Register parameters
    uint8_t lfoSensitivity = 0;   // channel's B4 byte: PMS bits 0-2, AMS bits 4-5
    bool keyOn = false;           // key state as last written
    uint8_t totalLevel = 0;       // TL 0 ... 127 in effect, 8 envelope units each
    uint8_t totalLevelLatch = 0;  // TL as last written
    uint8_t attackRate = 0;       // AR * 2 (0 ... 62)
    uint8_t decayRate = 0;        // DR * 2 (0 ... 62)
    uint8_t sustainRate = 0;      // SR * 2 (0 ... 62)
    uint8_t sustainLevel =
        0;  // SustainLevelTable entry (0 ... 56, or 124), units of 8 envelope units
    uint8_t releaseRate = 0;     // RR * 4 + 2 (2 ... 62)
    uint8_t keyScale = 0;        // KS 0 ... 3
    uint8_t ssgEg = 0;           // low four bits of register 90; stored, never used
    bool ampLfoOn = false;       // amplitude modulation enabled
    bool paramsChanged = false;  // derived values must be recomputed by ApplyParameters
    bool muted = false;          // silenced by the chip's channel mask

    // Power-on state: total levels 127, envelope Off, phase and history 0,
    // parameters marked changed.
    FmOperator();

    // Parameter setters: data is the register's data byte; bits outside a
    // field are ignored.
    void SetDetuneMultiple(uint8_t data);
    // latchOnly (CSM mode, third channel): the level waits for the next key-on.
    void SetTotalLevel(uint8_t data, bool latchOnly);
    void SetKeyScaleAttack(uint8_t data);
    void SetAmDecay(uint8_t data);
    void SetSustainRate(uint8_t data);
    void SetSustainLevelRelease(uint8_t data);
    void SetSsgEg(uint8_t data);
    // word = block * 2048 + F-number; bits above 13 are ignored. Always marks
    // the parameters changed, even when the word is unchanged.
    void SetFrequency(uint32_t word);
    // ms = the whole B4 data byte (pan bits included; they are the chip's).
    void SetLfoSensitivity(uint8_t ms);
    void SetMuted(bool flag);

    // Key transitions. A key-on while keyed, or a key-off while not keyed,
    // does nothing.
    void KeyOn();
    void KeyOff();

    // Recomputes the derived values if a parameter changed.
    void ApplyParameters();

    // Envelope Off, total levels 127, phase and history 0, parameters marked
    // changed. Rates, keyOn and the other parameters stay.
    void Reset();

    // Every field as at construction (key off, parameters and derived values
    // 0) except `muted`, which is the chip's setting, not the song's.
    void PowerOn();

    // One envelope step, taken by the renderer on the tick that finds the
    // envelope counter at most its step: the counter is reloaded, the level
    // moves (down in the attack, up otherwise), the phase advances when the
    // level reaches the phase's end, and envOutput follows. Inline, for the
    // renderer: only the phase's end goes out of line.
    void StepEnvelope();

    // Added to the envelope countdown on every step: 3 * 2^27.
    static constexpr uint32_t kEnvelopeCounterReload = 402653184u;

private:
    // Tests walk the envelope's phases through tests/fm/chip_probe.h.
    friend struct FmOperatorProbe;

    void SelectEnvelopeRate(uint32_t rate);
    void EnterEnvelopePhase(EnvelopePhase newPhase);
    void AdvanceEnvelopePhase();

    // Rate of a phase from its register rate: 0 stays 0, else + key scaling,
    // at most 63.
    uint32_t ScaledRate(uint32_t rate) const;
};

inline void FmOperator::StepEnvelope() {
    envCounter += kEnvelopeCounterReload;
    if (envPhase == EnvelopePhase::Attack) {
        // Exponential approach to full level: the step shrinks with the level.
        envLevel = envLevel - 1 - (envLevel >> attackShift);
        if (envLevel <= 0) {
            AdvanceEnvelopePhase();
        }
    } else {
        envLevel += envIncrement;
        if (static_cast<uint32_t>(envLevel) >= envEnd) {
            AdvanceEnvelopePhase();
        }
    }
    uint32_t attenuation = static_cast<uint32_t>(envLevel + totalLevelOut) * 2u;
    envOutput = attenuation >= 2048u ? 2046 : static_cast<int32_t>(attenuation);
}
