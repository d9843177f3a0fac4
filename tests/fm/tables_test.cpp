// Synthesis tables: pinned entries, each whole table against an independent
// evaluation of its formula, and the rebuild rules.
#include "fm/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class SynthesisTables : public ::testing::Test {
protected:
    void SetUp() override { BuildSynthesisTables(); }
};

TEST_F(SynthesisTables, LevelTable) {
    EXPECT_EQ(LevelTable[0], 268435455);
    EXPECT_EQ(LevelTable[1], -268435455);
    EXPECT_EQ(LevelTable[2], 265543871);
    EXPECT_EQ(LevelTable[128], 134217727);
    EXPECT_EQ(LevelTable[2046], 4140);
    EXPECT_EQ(LevelTable[2 * 1791], 1);
    for (int k = 0; k < kLevelTableSize / 2; ++k) {
        double exact = 268435455.0 * std::exp2(-k / 64.0);
        ASSERT_NEAR(LevelTable[2 * k], exact, 1.0) << k;
        ASSERT_LE(LevelTable[2 * k], exact) << k;  // truncated, never rounded up
        ASSERT_EQ(LevelTable[2 * k + 1], -LevelTable[2 * k]) << k;
        if (k >= 1792) {
            ASSERT_EQ(LevelTable[2 * k], 0) << k;
        }
    }
}

TEST_F(SynthesisTables, LogSineTable) {
    const int pinned[][2] = {{0, 2046}, {1, 940},    {2, 812},    {3, 736},   {128, 64}, {255, 0},
                             {256, 0},  {511, 2046}, {512, 2047}, {513, 941}, {767, 1},  {768, 1}};
    for (const auto& p : pinned) {
        EXPECT_EQ(LogSineTable[p[0]], p[1]) << p[0];
    }
    const double pi = std::acos(-1.0);
    for (int i = 0; i < 256; ++i) {
        int32_t e = LogSineTable[i];
        ASSERT_EQ(e & 1, 0) << i;
        ASSERT_EQ(LogSineTable[511 - i], e) << i;
        ASSERT_EQ(LogSineTable[512 + i], e + 1) << i;
        ASSERT_EQ(LogSineTable[1023 - i], e + 1) << i;
        if (i > 0) {
            double exact = -128.0 * std::log2(std::sin(i * pi / 512.0));  // 1/128 octave
            ASSERT_NEAR(e, exact, 2.0) << i;
            ASSERT_LE(e, exact + 1e-9) << i;
        }
        if (i >= 240) {
            ASSERT_EQ(e, 0) << i;
        }
    }
}

TEST_F(SynthesisTables, LfoAndVolumeTables) {
    // Pitch: row 7 spans -1496 ... 1531, row 1 -64 ... 64, half the listed cents.
    int32_t lo7 = 0, hi7 = 0, lo1 = 0, hi1 = 0;
    for (int j = 0; j < 256; ++j) {
        EXPECT_EQ(PitchLfoTable[0][j], 0);
        lo7 = std::min(lo7, PitchLfoTable[7][j]);
        hi7 = std::max(hi7, PitchLfoTable[7][j]);
        lo1 = std::min(lo1, PitchLfoTable[1][j]);
        hi1 = std::max(hi1, PitchLfoTable[1][j]);
    }
    EXPECT_EQ(PitchLfoTable[7][64], 1531);
    EXPECT_EQ(PitchLfoTable[7][192], -1496);
    EXPECT_EQ(lo7, -1496);
    EXPECT_EQ(hi7, 1531);
    EXPECT_EQ(lo1, -64);
    EXPECT_EQ(hi1, 64);
    EXPECT_NEAR(PitchLfoTable[6][64], (std::exp2(20.0 / 1200.0) - 1.0) * 65536.0, 1.0);
    EXPECT_EQ(PitchLfoTable[6][192],
              static_cast<int32_t>((std::exp2(-20.0 / 1200.0) - 1.0) * 65536.0));

    // Amplitude: even offsets rising from 0 to 2 * depth at half a period.
    EXPECT_EQ(AmpLfoTable[3][0], 0);
    EXPECT_EQ(AmpLfoTable[3][64], 126);
    EXPECT_EQ(AmpLfoTable[3][128], 254);
    EXPECT_EQ(AmpLfoTable[1][128], 30);
    EXPECT_EQ(AmpLfoTable[2][128], 126);
    for (int j = 0; j < 256; ++j) {
        EXPECT_EQ(AmpLfoTable[0][j], 0);
        EXPECT_EQ(AmpLfoTable[3][j] & 1, 0);
        EXPECT_EQ(AmpLfoTable[3][j], AmpLfoTable[3][(256 - j) & 255]);
    }

    // Volume: indexed from -32 in 1/8-octave steps.
    EXPECT_EQ(VolumeTable[-32], 1048575);
    EXPECT_EQ(VolumeTable[0], 65535);
    EXPECT_EQ(VolumeTable[8], 32767);
    EXPECT_EQ(VolumeTable[127], 0);
    EXPECT_EQ(&VolumeTable[-32], &VolumeTableStorage[0]);
    for (int i = kVolumeTableFirst; i <= kVolumeTableLast; ++i) {
        ASSERT_EQ(VolumeTable[i], static_cast<int32_t>(65536.0 * std::exp2(-i / 8.0)) - 1) << i;
    }
}

TEST_F(SynthesisTables, SecondBuildLeavesTablesAlone) {
    int32_t saved = LevelTable[0];
    LevelTable[0] = 12345;
    BuildSynthesisTables();
    EXPECT_EQ(LevelTable[0], 12345);
    LevelTable[0] = saved;
}

TEST(RateTables, EntriesRebuildAndWrap) {
    SetRateRatio(256);
    EXPECT_EQ(CachedRateRatio(), 256u);
    EXPECT_EQ(MultipleTable[0], 128u);
    EXPECT_EQ(MultipleTable[15], 15u * 256u);
    const uint32_t expected[] = {0, 0, 0, 0, 256, 256, 384, 384, 512, 640, 768, 896};  // times r
    for (int rate = 0; rate < 12; ++rate) {
        EXPECT_EQ(EnvelopeRateTable[rate], expected[rate] * 256u) << rate;
    }
    for (int rate = 44; rate < 64; ++rate) {
        uint32_t factor = rate < 60 ? 65536u * (4u + rate % 4) : 524288u;
        EXPECT_EQ(EnvelopeRateTable[rate], factor * 256u) << rate;
    }
    const double divisors[8] = {109, 78, 72, 68, 63, 45, 9, 6};
    EXPECT_EQ(LfoSpeedTable[0], 19209);
    EXPECT_EQ(LfoSpeedTable[7], 348966);
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(LfoSpeedTable[code],
                  static_cast<int32_t>(256.0 * 0.0078 / divisors[code] * 1048576.0));
    }

    // Same ratio: untouched. New ratio: rebuilt; MUL 0 is half of MUL 1, truncated.
    MultipleTable[3] = 1;
    SetRateRatio(256);
    EXPECT_EQ(MultipleTable[3], 1u);
    SetRateRatio(309);
    EXPECT_EQ(MultipleTable[3], 927u);
    EXPECT_EQ(MultipleTable[0], 154u);
    EXPECT_EQ(EnvelopeRateTable[5], EnvelopeRateTable[4]);
    EXPECT_EQ(EnvelopeRateTable[7], EnvelopeRateTable[6]);

    // The arithmetic is unsigned 32-bit and wraps.
    const uint32_t big = 0xFFFFFFFEu;
    SetRateRatio(big);
    EXPECT_EQ(MultipleTable[15], static_cast<uint32_t>(big * 30u) >> 1);
    EXPECT_EQ(EnvelopeRateTable[63], static_cast<uint32_t>(((big << 5) << 11) * 8u));
    EXPECT_EQ(EnvelopeRateTable[20], static_cast<uint32_t>(((big << 5) << 5) * 4u));
    SetRateRatio(256);
}

}  // namespace
