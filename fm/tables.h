// FM synthesis tables: every lookup table of the FM sound generator.
//
// The generator computes each sample with integer additions, shifts and table
// lookups; all transcendental arithmetic happens here, when the tables are
// built. The tables are process-wide: one set serves the chip and all of its
// channels and operators.
//
// Units shared by the tables:
//   - Attenuation is counted in envelope units of 1/64 octave (about 0.094 dB).
//     Envelope levels and total levels are both in these units.
//   - An attenuation index is twice an attenuation in envelope units plus a
//     sign bit in bit 0 (0 positive, 1 negative). LogSineTable entries, an
//     operator's envelope output and AmpLfoTable entries are all attenuation
//     indices or even offsets that keep bit 0 free, so they are simply added.
//   - A linear sample from LevelTable is a signed 32-bit value whose full
//     scale is 268435455 (2^28 - 1).
//   - The LFO position runs 0 ... 255; one LFO period is 256 positions.
//
// Largest attenuation index in use: LogSineTable 2047 + envelope output 2046
// + AmpLfoTable 254 = 4347, inside LevelTable's 4352 entries, so no lookup
// needs a bounds check.
//
// Who writes what:
//   - the fixed tables (Level, LogSine, PitchLfo, AmpLfo, Volume) are written
//     once by BuildSynthesisTables, which the chip's constructor calls;
//   - the rate tables (Multiple, EnvelopeRate, LfoSpeed) are rewritten by
//     SetRateRatio, which only the chip's rate-setting code calls, never while
//     a channel renders;
// Nothing here is synchronised: one thread renders.
#pragma once

#include <cstdint>

// ---------------------------------------------------------------------------
// Fixed tables, zero until BuildSynthesisTables runs.

constexpr int kLevelTableSize = 4352;

// attenuation index n = 2k + s (k = 0 ... 2175, s = sign) -> linear sample,
// full scale 268435455. L[2k] = trunc(268435455 * 2^(-k/64)), L[2k+1] = -L[2k];
// zero for every k >= 1792.
extern int32_t LevelTable[kLevelTableSize];

// phase 0 ... 1023 (one full sine period) -> attenuation index of |sin| in
// 1/128 octave, sign in bit 0: the first half period is even (positive), the
// second half odd (negative). Entry 0 is 2046, entries 255 and 256 are 0.
extern int32_t LogSineTable[1024];

// [PMS 0 ... 7][LFO position 0 ... 255] -> pitch deviation in 1/65536 of the
// phase step: trunc(65536 * (2^(sin(2 pi j / 256) * cents[PMS] / 2400) - 1)),
// cents = 0, 3.4, 6.7, 10, 14, 20, 40, 80 (the peak is half the listed cents).
extern int32_t PitchLfoTable[8][256];

// [AMS 0 ... 3][LFO position 0 ... 255] -> even attenuation offset:
// 2 * trunc(depth[AMS] * (0.5 - 0.5 cos(2 pi j / 256))), depth = 0, 15, 63, 127
// envelope units.
extern int32_t AmpLfoTable[4][256];

// Volume steps of 1/8 octave (about 0.75 dB): index i = -32 ... 127 ->
// linear gain, 65535 at i = 0: V[i] = trunc(65536 * 2^(-i/8)) - 1.
// The storage holds 32 entries ahead of index 0; read it through VolumeTable,
// which points at index 0, so VolumeTable[-32] ... VolumeTable[127] are valid.
constexpr int kVolumeTableFirst = -32;
constexpr int kVolumeTableLast = 127;
extern int32_t VolumeTableStorage[kVolumeTableLast - kVolumeTableFirst + 1];
inline constexpr const int32_t* VolumeTable = VolumeTableStorage - kVolumeTableFirst;

// ---------------------------------------------------------------------------
// Rate tables, zero (every envelope frozen, every phase step zero) until the
// first SetRateRatio. r is the rate ratio: the chip's internal sample rate
// over the rate at which channels are computed, unsigned 8.8 fixed point.

// frequency multiple MUL 0 ... 15 -> phase-step factor: r / 2 for MUL 0,
// r * MUL otherwise (unsigned, wraps).
extern uint32_t MultipleTable[16];

// effective envelope rate R = 4q + f (0 ... 63) -> amount subtracted from the
// envelope countdown per sample: ((r << 5) << min(q, 11)) * (4 + f) for
// q = 1 ... 14, ((r << 5) << 11) * 8 for q = 15; rates 0 ... 3 are 0, rate 5
// equals rate 4 and rate 7 equals rate 6. Unsigned, wraps.
extern uint32_t EnvelopeRateTable[64];

// LFO frequency code 0 ... 7 -> LFO counter step per internal sample, the
// position being counter >> 20: trunc(r * (0.0078 / N) * 2^20),
// N = 109, 78, 72, 68, 63, 45, 9, 6.
extern int32_t LfoSpeedTable[8];

// ---------------------------------------------------------------------------
// Constant tables.

// bits 7 ... 13 of the block/F-number word (block * 16 + F-number bits
// 10 ... 7) -> key code 0 ... 31 = 4 * block + n, n from F-number bits 10 ... 7.
extern const uint8_t KeyCodeTable[128];

// [DT 0 ... 7][key code 0 ... 31] -> signed phase-step offset added to the
// pitch. Rows 0 and 4 are zero; rows 5 ... 7 are the negatives of rows 1 ... 3.
extern const int8_t DetuneTable[8][32];

// feedback value FB 0 ... 7 -> right shift of operator 0's feedback sum.
// FB 0 gives 31, which leaves only the sum's sign (0 or -1).
extern const uint8_t FeedbackShiftTable[8];

// bits 2 ... 3 of an operator register address -> operator number: the
// register at offset +0 belongs to operator 0, +4 to 2, +8 to 1, +12 to 3.
extern const int32_t OperatorSlotMap[4];

// 4-bit sustain-level field -> sustain level in units of 8 envelope units
// (3 dB steps): 0, 4, ... 56, and 124 for field 15 (992 envelope units).
extern const uint8_t SustainLevelTable[16];

// algorithm 0 ... 7 -> how the channel's four operators connect, as node
// numbers in this column order: operator 1 input, operator 1 output,
// operator 2 input, operator 2 output, operator 3 input, node added to
// operator 3. Four nodes carry the sums of one sample: node 0 holds operator
// 0's sample (algorithms 1, 2 and 7 add more to it); nodes 1 ... 3 start each
// sample at 0. Each of operators 1 ... 3 reads one node as its modulation
// input (times 8); operators 1 and 2 add their sample to a node; the
// channel's sample is operator 3's plus one node. A node nothing wrote reads
// 0, so an operator fed from it is unmodulated. The renderer is built from
// these rows (fm/render.cpp), the node numbers folded away at compile time.
// Each row's graph, "a -> b" meaning a modulates b, "+" a sum:
inline constexpr uint8_t AlgorithmRoutingTable[8][6] = {
    {0, 1, 1, 2, 2, 3},  // 0: 0 -> 1 -> 2 -> 3
    {1, 0, 0, 1, 1, 2},  // 1: (0 + 1) -> 2 -> 3
    {1, 1, 1, 0, 0, 2},  // 2: (0 + (1 -> 2)) -> 3
    {0, 1, 2, 1, 1, 2},  // 3: ((0 -> 1) + 2) -> 3
    {0, 1, 2, 2, 2, 1},  // 4: (0 -> 1) + (2 -> 3)
    {0, 1, 0, 1, 0, 1},  // 5: 0 -> each of 1, 2, 3; out 1 + 2 + 3
    {0, 1, 2, 1, 2, 1},  // 6: (0 -> 1) + 2 + 3
    {1, 0, 1, 0, 1, 0},  // 7: 0 + 1 + 2 + 3
};

// ---------------------------------------------------------------------------
// Operations.

// Builds the five fixed tables. A process-wide flag, set before building,
// makes every later call return at once.
void BuildSynthesisTables();

// Rebuilds MultipleTable, EnvelopeRateTable and LfoSpeedTable for the 8.8
// ratio, unless it equals the cached one. The cache starts at 0xFFFFFFFF,
// which no real ratio equals, so the first call always builds.
void SetRateRatio(uint32_t ratio);

// The ratio the rate tables were last built for (0xFFFFFFFF before any build).
uint32_t CachedRateRatio();
