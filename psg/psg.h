// The square-wave and noise generator: three square voices and one noise
// voice of the SN76489 kind, programmed byte by byte through one data port.
//
// Data port (one byte per write):
//
//   latch byte   1 rrr dddd   selects register rrr and sets its low 4 bits
//   data byte    0 -dd dddd   sets bits 4-9 of the latched tone period;
//                             ignored after an attenuation or noise latch
//
// Registers (rrr):
//
//   0  tone 0 period       10 bits: output flips every period x 16 clocks
//   1  voice 0 attenuation  4 bits: 2 dB steps, 15 = silent
//   2  tone 1 period
//   3  voice 1 attenuation
//   4  tone 2 period
//   5  voice 2 attenuation
//   6  noise control        ---- -wmm
//                             w  1 = white noise (feedback 0x12000),
//                                0 = periodic (feedback 0x8000)
//                             mm shift every 512, 1024, 2048 clocks, or
//                                3 = once per full cycle of tone 2
//                           any write reloads the shift register with 0xF35
//   7  noise attenuation
//
// A tone period of 0 sounds as 1. Changing a period never cuts the running
// half-cycle short: the new length applies from the next output change.
//
// Output: unipolar mono samples, 0 for silence, 8191 for one voice held high
// at full level, 24575 at most. Each sample weighs every voice's level by
// the time it was high inside that sample, so edges between samples come out
// as intermediate values instead of aliasing steps.
//
// Time inside the generator is counted in units of 1/65536 of an output
// sample.
//
// Operations (all on the decode thread, no locks):
//   PsgInit(clock, rate)   clock in Hz, output rate in Hz; the power-on
//                          state: every voice silent, the noise register
//                          reloaded and its feedback 0 (until the first
//                          noise-control write it runs empty), tick and
//                          levels rebuilt. Returns 0.
//   PsgWrite(b)            one byte to the data port; takes effect for the
//                          next PsgMix.
//   PsgMix(buffer, count)  writes `count` samples (count < 32768, so that
//                          count x 65536 fits 32 bits), each 0 ... 24575.
//   SetTick(clock)         tick from the current rate and this clock.
//   BuildLevels()          fills `levels`.
#pragma once

#include <cstdint>

constexpr int32_t kPsgVoices = 4;  // tones 0-2, noise 3
constexpr int32_t kPsgNoiseVoice = 3;
constexpr int32_t kPsgRegisters = 8;
constexpr int32_t kPsgLevels = 16;
constexpr int32_t kPsgMaxMix = 32767;  // samples in one PsgMix at most

struct PsgChip {
    int32_t rate;                      // output rate, Hz
    int32_t tick;                      // 16 input clocks, time units (1/65536 sample)
    int32_t levels[kPsgLevels];        // attenuation 0-15 -> level, 10922 ... 0
    int32_t registers[kPsgRegisters];  // register file, see the map above
    int32_t latched;                   // register 0-7 chosen by the last latch byte

    // Voices: 0-2 square, 3 noise
    int32_t amplitude[kPsgVoices];  // levels[attenuation]
    int32_t shiftRegister;          // noise shift register, 17 bits
    int32_t feedback;               // 0x12000 white, 0x8000 periodic; 0 from
                                    //   PsgInit to the first noise-control write
    int32_t period[kPsgVoices];     // time between output changes, time units
    int32_t counter[kPsgVoices];    // time units left to the next change
    int32_t output[kPsgVoices];     // current output bit, 0 or 1
};

// The one generator. Zero at load; written only by the operations below.
extern PsgChip psgChip;

int32_t PsgInit(int32_t clock, int32_t rate);
void PsgWrite(uint8_t data);
void PsgMix(int16_t* buffer, int32_t count);
void SetTick(int32_t clock);
void BuildLevels();
