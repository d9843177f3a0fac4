// The FM chip's register map and one reader per field. Every part of fm/
// that looks inside a register byte or address does it through these; no
// other file masks or shifts a raw register value.
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
// A latched frequency word is the high byte (0A4-6 or 0AC-E) times 256 plus
// the low byte:
//   word  --xxx-----------  block (0-7)
//         -----xxxxxxxxxxx  F-number (0-2047)
#pragma once

#include <cstdint>

namespace fm_reg {

// ---- Addresses -------------------------------------------------------------

constexpr uint32_t kAddressMask = 0x1FF;
constexpr uint32_t kPort1 = 0x100;  // port 1's register 0
constexpr uint32_t kLfoControl = 0x22;
constexpr uint32_t kModeControl = 0x27;
constexpr uint32_t kKeyControl = 0x28;
constexpr uint32_t kChannelControl = 0x29;
constexpr uint32_t kPcmData = 0x2A;
constexpr uint32_t kPcmControl = 0x2B;
constexpr uint32_t kPrescaler0 = 0x2D;  // 0x2E, 0x2F select prescalers 1 and 2
constexpr uint32_t kPrescaler2 = 0x2F;
constexpr uint32_t kStatusControl = 0x10;  // on port 1

// Operator registers 0x30-0x9F and channel registers 0xA0-0xB6, within a port.
constexpr uint32_t kFirstOperatorRegister = 0x30;
constexpr uint32_t kLastOperatorRegister = 0x9F;
constexpr uint32_t kFirstChannelRegister = 0xA0;
constexpr uint32_t kLastChannelRegister = 0xB6;

// Channel register groups, by (register & 0xFC).
constexpr uint32_t kFrequencyLow = 0xA0;
constexpr uint32_t kFrequencyHigh = 0xA4;
constexpr uint32_t kSlotFrequencyLow = 0xA8;
constexpr uint32_t kSlotFrequencyHigh = 0xAC;
constexpr uint32_t kFeedbackAlgorithm = 0xB0;
constexpr uint32_t kPanLfoSensitivity = 0xB4;

// Operator register groups, by Group() of the register.
enum OperatorGroup : uint32_t {
    kDetuneMultiple = 3,
    kTotalLevel = 4,
    kKeyScaleAttack = 5,
    kAmDecay = 6,
    kSustainRate = 7,
    kSustainLevelRelease = 8,
    kSsgEg = 9,
};

// A channel-addressed register's low bits that reach no channel.
constexpr uint32_t kNoChannel = 3;

// One line per reader, under the drawing of its field (the formatter would make three).
// clang-format off
// address  -------x--------  port (0-1)
inline uint32_t Port(uint32_t address) { return (address >> 8) & 1u; }
// address  --------xxxxxxxx  register within the port
inline uint32_t Register(uint32_t address) { return address & 0xFFu; }
// register ------xx  channel within the port (3: none)
inline uint32_t ChannelLow(uint32_t reg) { return reg & 3u; }
// register xxxx----  operator register group (3-9)
inline uint32_t Group(uint32_t reg) { return (reg >> 4) & 0xFu; }
// register xxxxxx--  channel register group (0xA0, 0xA4, ... 0xB4)
inline uint32_t ChannelGroup(uint32_t reg) { return reg & 0xFCu; }
// register ----xx--  operator offset +0, +4, +8, +C (operators 0, 2, 1, 3)
inline uint32_t OperatorOffset(uint32_t reg) { return (reg >> 2) & 3u; }

// ---- 0x22 LFO control --------------------------------------------------------

// ----x---
inline bool LfoOn(uint8_t data) { return (data & 0x08u) != 0; }
// -----xxx
inline uint32_t LfoRate(uint8_t data) { return data & 7u; }

// ---- 0x27 mode / timer control -----------------------------------------------

// xx------  any of special frequencies (01) or CSM (1x)
inline bool SpecialFrequencies(uint8_t data) { return (data & 0xC0u) != 0; }
// x-------
inline bool CsmMode(uint8_t data) { return (data & 0x80u) != 0; }
// ---x----
inline bool ClearsTimerAFlag(uint8_t data) { return (data & 0x10u) != 0; }
// --x-----
inline bool ClearsTimerBFlag(uint8_t data) { return (data & 0x20u) != 0; }

// ---- 0x28 key on/off ---------------------------------------------------------

// xxxx----  bit k keys operator k on (k = 0-3); a clear bit keys it off
inline bool KeyOnBit(uint8_t data, int op) { return (data & (0x10u << op)) != 0; }
// -----xxx  channel 0-5, or -1 for codes 3 and 7
inline int KeyChannel(uint8_t data) {
    if ((data & 3u) == kNoChannel) {
        return -1;
    }
    return static_cast<int>((data & 3u) + ((data & 4u) ? 3u : 0u));
}

// ---- 0x29 channel control ----------------------------------------------------

// x-------
inline bool ChannelsThreeToFiveOn(uint8_t data) { return (data & 0x80u) != 0; }
// ---xxxxx
inline uint8_t InterruptEnables(uint8_t data) { return data & 0x1Fu; }

// ---- 0x2B PCM control --------------------------------------------------------

// x-------
inline bool PcmOn(uint8_t data) { return (data & 0x80u) != 0; }

// ---- 0x110 status control ----------------------------------------------------

// x-------
inline bool ClearsAllStatus(uint8_t data) { return (data & 0x80u) != 0; }
// ---xxxxx  flags that may not be raised
inline uint8_t StatusHold(uint8_t data) { return data & 0x1Fu; }

// ---- 0x30-0x9F operator registers -------------------------------------------

// 03x -xxx----
inline uint32_t Detune(uint8_t data) { return (data >> 4) & 7u; }
// 03x ----xxxx
inline uint32_t Multiple(uint8_t data) { return data & 15u; }
// 04x -xxxxxxx
inline uint8_t TotalLevel(uint8_t data) { return data & 127u; }
// 05x xx------
inline uint8_t KeyScale(uint8_t data) { return (data >> 6) & 3u; }
// 05x ---xxxxx
inline uint8_t AttackRate(uint8_t data) { return data & 31u; }
// 06x x-------
inline bool AmOn(uint8_t data) { return (data & 0x80u) != 0; }
// 06x ---xxxxx
inline uint8_t DecayRate(uint8_t data) { return data & 31u; }
// 07x ---xxxxx
inline uint8_t SustainRate(uint8_t data) { return data & 31u; }
// 08x xxxx----
inline uint32_t SustainLevel(uint8_t data) { return (data >> 4) & 15u; }
// 08x ----xxxx
inline uint8_t ReleaseRate(uint8_t data) { return data & 15u; }
// 09x ----xxxx
inline uint8_t SsgEg(uint8_t data) { return data & 15u; }

// ---- 0xA0-0xAE frequency words ----------------------------------------------

// high byte x 256 + low byte
inline uint32_t FrequencyWord(uint8_t high, uint8_t low) { return high * 256u + low; }
// word --xxx-----------
inline uint32_t Block(uint32_t word) { return (word >> 11) & 7u; }
// word -----xxxxxxxxxxx
inline uint32_t Fnumber(uint32_t word) { return word & 0x7FFu; }
// word --xxxxxxx-------  block and the top four F-number bits: the key code's source
inline uint32_t KeyCodeIndex(uint32_t word) { return (word >> 7) & 127u; }

// ---- 0xB0-0xB2 feedback / algorithm -----------------------------------------

// --xxx---
inline int Feedback(uint8_t data) { return (data >> 3) & 7; }
// -----xxx
inline int Algorithm(uint8_t data) { return data & 7; }

// ---- 0xB4-0xB6 pan / LFO sensitivity ----------------------------------------

// xx------  bit 1 left, bit 0 right
inline uint8_t Pan(uint8_t data) { return (data >> 6) & 3u; }
// --xx----
inline uint32_t AmpSensitivity(uint8_t data) { return (data >> 4) & 3u; }
// -----xxx
inline uint32_t PitchSensitivity(uint8_t data) { return data & 7u; }
// clang-format on

}  // namespace fm_reg
