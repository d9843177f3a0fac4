#include "fm/tables.h"

#include <cmath>

// Fixed tables -------------------------------------------------------------

int32_t LevelTable[kLevelTableSize];
int32_t LogSineTable[1024];
int32_t PitchLfoTable[8][256];
int32_t AmpLfoTable[4][256];
int32_t VolumeTableStorage[kVolumeTableLast - kVolumeTableFirst + 1];

// Rate tables --------------------------------------------------------------

uint32_t MultipleTable[16];
uint32_t EnvelopeRateTable[64];
int32_t LfoSpeedTable[8];

// Constant tables ----------------------------------------------------------

// Entry = 4 * block + n, with n = 0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3
// for F-number bits 10 ... 7 = 0 ... 15: the top F-number bits refine the
// block by at most 3 steps.
const uint8_t KeyCodeTable[128] = {
    0,  0,  0,  0,  0,  0,  0,  1,  2,  3,  3,  3,  3,  3,  3,  3,   // block 0
    4,  4,  4,  4,  4,  4,  4,  5,  6,  7,  7,  7,  7,  7,  7,  7,   // block 1
    8,  8,  8,  8,  8,  8,  8,  9,  10, 11, 11, 11, 11, 11, 11, 11,  // block 2
    12, 12, 12, 12, 12, 12, 12, 13, 14, 15, 15, 15, 15, 15, 15, 15,  // block 3
    16, 16, 16, 16, 16, 16, 16, 17, 18, 19, 19, 19, 19, 19, 19, 19,  // block 4
    20, 20, 20, 20, 20, 20, 20, 21, 22, 23, 23, 23, 23, 23, 23, 23,  // block 5
    24, 24, 24, 24, 24, 24, 24, 25, 26, 27, 27, 27, 27, 27, 27, 27,  // block 6
    28, 28, 28, 28, 28, 28, 28, 29, 30, 31, 31, 31, 31, 31, 31, 31,  // block 7
};

// The chip's detune offsets in phase-step units by key code; negative
// detune (DT 5 ... 7) mirrors DT 1 ... 3.
const int8_t DetuneTable[8][32] = {
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0, 0, 0, 0, 2, 2, 2, 2,  2,  2,  2,  2,  4,  4,  4,  4,
     4, 6, 6, 6, 8, 8, 8, 10, 10, 12, 12, 14, 16, 16, 16, 16},
    {2,  2,  2,  2,  4,  4,  4,  4,  4,  6,  6,  6,  8,  8,  8,  10,
     10, 12, 12, 14, 16, 16, 18, 20, 22, 24, 26, 28, 32, 32, 32, 32},
    {4,  4,  4,  4,  4,  6,  6,  6,  8,  8,  8,  10, 10, 12, 12, 14,
     16, 16, 18, 20, 22, 24, 26, 28, 32, 34, 38, 40, 44, 44, 44, 44},
    {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0,
     0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0},
    {0,  0,  0,  0,  -2, -2, -2, -2,  -2,  -2,  -2,  -2,  -4,  -4,  -4,  -4,
     -4, -6, -6, -6, -8, -8, -8, -10, -10, -12, -12, -14, -16, -16, -16, -16},
    {-2,  -2,  -2,  -2,  -4,  -4,  -4,  -4,  -4,  -6,  -6,  -6,  -8,  -8,  -8,  -10,
     -10, -12, -12, -14, -16, -16, -18, -20, -22, -24, -26, -28, -32, -32, -32, -32},
    {-4,  -4,  -4,  -4,  -4,  -6,  -6,  -6,  -8,  -8,  -8,  -10, -10, -12, -12, -14,
     -16, -16, -18, -20, -22, -24, -26, -28, -32, -34, -38, -40, -44, -44, -44, -44},
};

// FB 1 ... 7 halve the feedback strength per step down from FB 7 (shift 1);
// FB 0 shifts by 31 so only the sign survives.
const uint8_t FeedbackShiftTable[8] = {31, 7, 6, 5, 4, 3, 2, 1};

const int32_t OperatorSlotMap[4] = {0, 2, 1, 3};

// Field * 4, except field 15, which drops to the bottom of the range (124:
// 992 envelope units, about 93 dB) instead of 60.
const uint8_t SustainLevelTable[16] = {0,  4,  8,  12, 16, 20, 24, 28,
                                       32, 36, 40, 44, 48, 52, 56, 124};

// Building ------------------------------------------------------------------

namespace {

// 2 pi / 256 and pi / 512 as the exact doubles the tables were defined with.
constexpr double kLfoAngleStep = 0.02454369260617026;
constexpr double kQuarterSineAngleStep = 0.006135923151542565;

// Pitch-modulation depth by PMS in cents, and amplitude-modulation depth by
// AMS in envelope units; single-precision constants, widened when used.
constexpr float kPitchLfoCents[8] = {0.0f, 3.4f, 6.7f, 10.0f, 14.0f, 20.0f, 40.0f, 80.0f};
constexpr float kAmpLfoDepth[4] = {0.0f, 15.0f, 63.0f, 127.0f};

// LFO period divisors by frequency code: the LFO runs at
// internal rate * 0.0078 / N.
constexpr double kLfoPeriodDivisor[8] = {109, 78, 72, 68, 63, 45, 9, 6};

bool tablesBuilt = false;
uint32_t cachedRateRatio = 0xFFFFFFFFu;

void BuildVolumeTable() {
    // V[i] = trunc(65536 * 2^(-i/8)) - 1.
    for (int i = kVolumeTableFirst; i <= kVolumeTableLast; ++i) {
        double scaled = 65536.0 * std::pow(2.0, -i / 8.0);
        VolumeTableStorage[i - kVolumeTableFirst] = static_cast<int32_t>(scaled) - 1;
    }
}

void BuildLevelTable() {
    // L[2k] = trunc(268435455 * 2^(-k/64)), L[2k+1] = -L[2k].
    for (int k = 0; k < kLevelTableSize / 2; ++k) {
        int32_t level = static_cast<int32_t>(268435455.0 * std::pow(2.0, k * -0.015625));
        LevelTable[2 * k] = level;
        LevelTable[2 * k + 1] = -level;
    }
}

void BuildPitchLfoTable() {
    // trunc((2^(sin(j * 2pi/256) * cents / 2400) - 1) * 65536)
    for (int pms = 0; pms < 8; ++pms) {
        double depth = static_cast<double>(kPitchLfoCents[pms]) * 0.0004166666666666667;
        for (int j = 0; j < 256; ++j) {
            double ratio = std::pow(2.0, std::sin(j * kLfoAngleStep) * depth);
            PitchLfoTable[pms][j] = static_cast<int32_t>((ratio - 1.0) * 65536.0);
        }
    }
}

void BuildAmpLfoTable() {
    // 2 * trunc((0.5 - 0.5 cos(j * 2pi/256)) * depth)
    for (int ams = 0; ams < 4; ++ams) {
        double depth = static_cast<double>(kAmpLfoDepth[ams]);
        for (int j = 0; j < 256; ++j) {
            double swing = 0.5 - 0.5 * std::cos(j * kLfoAngleStep);
            AmpLfoTable[ams][j] = static_cast<int32_t>(swing * depth) * 2;
        }
    }
}

void BuildLogSineTable() {
    // Quarter wave: q_i = trunc(-(128 / ln 2) * ln(sin(i * pi/512))), i.e.
    // -log2(sin) in 1/128 octave, at most 2047; q_0 = 2047. The quarter is
    // mirrored into the first half period (even: positive) and the second
    // (odd: negative), each half symmetric about 255.5.
    const double scale = -(128.0 / std::log(2.0));
    for (int i = 0; i < 256; ++i) {
        int32_t q = 2047;
        if (i > 0) {
            double attenuation = scale * std::log(std::sin(i * kQuarterSineAngleStep));
            q = static_cast<int32_t>(attenuation);
            if (q > 2047) {
                q = 2047;
            }
        }
        int32_t even = q & ~1;
        LogSineTable[i] = even;
        LogSineTable[511 - i] = even;
        LogSineTable[512 + i] = even + 1;
        LogSineTable[1023 - i] = even + 1;
    }
}

}  // namespace

void BuildSynthesisTables() {
    if (tablesBuilt) {
        return;
    }
    tablesBuilt = true;
    BuildVolumeTable();
    BuildLevelTable();
    BuildPitchLfoTable();
    BuildAmpLfoTable();
    BuildLogSineTable();
}

void SetRateRatio(uint32_t ratio) {
    if (ratio == cachedRateRatio) {
        return;
    }
    cachedRateRatio = ratio;

    // MUL 0 counts as 1/2: (r * (MUL ? 2 * MUL : 1)) >> 1.
    for (uint32_t mul = 0; mul < 16; ++mul) {
        MultipleTable[mul] = (ratio * (mul == 0 ? 1u : 2u * mul)) >> 1;
    }

    // Rate 4q + f: the countdown step doubles per q up to q = 11 and is
    // scaled by 4 + f within a q; q = 15 runs at the top speed throughout.
    for (uint32_t q = 1; q <= 15; ++q) {
        for (uint32_t f = 0; f < 4; ++f) {
            uint32_t factor = q == 15 ? 8u : 4u + f;
            uint32_t shift = q == 15 ? 11u : (q < 11 ? q : 11u);
            EnvelopeRateTable[4 * q + f] = ((ratio << 5) << shift) * factor;
        }
    }
    EnvelopeRateTable[0] = EnvelopeRateTable[1] = EnvelopeRateTable[2] = EnvelopeRateTable[3] = 0;
    EnvelopeRateTable[5] = EnvelopeRateTable[4];
    EnvelopeRateTable[7] = EnvelopeRateTable[6];

    // Counter step for an LFO frequency of internal rate * 0.0078 / N with
    // the position in bits 20 ... 27. Absurd ratios wrap to 32 bits rather
    // than overflow the conversion.
    for (int code = 0; code < 8; ++code) {
        double step = static_cast<double>(ratio) * (0.0078 / kLfoPeriodDivisor[code]) * 1048576.0;
        LfoSpeedTable[code] =
            static_cast<int32_t>(static_cast<uint32_t>(static_cast<int64_t>(step)));
    }
}

uint32_t CachedRateRatio() {
    return cachedRateRatio;
}
