// Synthesis tables: pinned entries, the shape of each whole table against an
// independent evaluation of its formula, and the rebuild rules.
#include "fm/tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>

namespace {

class SynthesisTables : public ::testing::Test {
protected:
    void SetUp() override { BuildSynthesisTables(); }
};

TEST_F(SynthesisTables, LevelTableEntries) {
    EXPECT_EQ(LevelTable[0], 268435455);
    EXPECT_EQ(LevelTable[1], -268435455);
    EXPECT_EQ(LevelTable[2], 265543871);
    EXPECT_EQ(LevelTable[128], 134217727);  // one octave down
    EXPECT_EQ(LevelTable[2046], 4140);
    EXPECT_EQ(LevelTable[2047], -4140);
    EXPECT_EQ(LevelTable[2 * 1791], 1);
    for (int n = 2 * 1792; n < LevelTableSize; ++n) {
        ASSERT_EQ(LevelTable[n], 0) << n;
    }
    // Every even entry halves per 64 steps and carries its negative beside it.
    for (int k = 0; k < LevelTableSize / 2; ++k) {
        double exact = 268435455.0 * std::exp2(-k / 64.0);
        ASSERT_NEAR(LevelTable[2 * k], exact, 1.0) << k;
        ASSERT_LE(LevelTable[2 * k], exact) << k;  // truncated, never rounded up
        ASSERT_EQ(LevelTable[2 * k + 1], -LevelTable[2 * k]) << k;
    }
}

TEST_F(SynthesisTables, LogSineTableEntriesAndSymmetry) {
    EXPECT_EQ(LogSineTable[0], 2046);
    EXPECT_EQ(LogSineTable[1], 940);
    EXPECT_EQ(LogSineTable[2], 812);
    EXPECT_EQ(LogSineTable[3], 736);  // q3 = 737 with the sign bit cleared
    EXPECT_EQ(LogSineTable[128], 64);  // q128 sits exactly on 64
    EXPECT_EQ(LogSineTable[255], 0);
    EXPECT_EQ(LogSineTable[256], 0);
    EXPECT_EQ(LogSineTable[511], 2046);
    EXPECT_EQ(LogSineTable[512], 2047);
    EXPECT_EQ(LogSineTable[513], 941);
    EXPECT_EQ(LogSineTable[767], 1);
    EXPECT_EQ(LogSineTable[768], 1);
    for (int i = 240; i < 256; ++i) {
        EXPECT_EQ(LogSineTable[i], 0) << i;
    }
    for (int i = 0; i < 256; ++i) {
        int32_t e = LogSineTable[i];
        ASSERT_EQ(e & 1, 0) << i;
        ASSERT_EQ(LogSineTable[511 - i], e) << i;
        ASSERT_EQ(LogSineTable[512 + i], e + 1) << i;
        ASSERT_EQ(LogSineTable[1023 - i], e + 1) << i;
        if (i > 0) {
            // -log2(sin) in 1/128 octave, truncated, then made even.
            double exact = -128.0 * std::log2(std::sin(i * std::acos(-1.0) / 512.0));
            ASSERT_NEAR(e, exact, 2.0) << i;
            ASSERT_LE(e, exact + 1e-9) << i;
        }
    }
}

TEST_F(SynthesisTables, LfoTables) {
    // Pitch: row 7 peaks at +1531 at a quarter period and bottoms at -1496
    // at three quarters; row 1 spans -64 ... 64; row 0 is flat.
    EXPECT_EQ(PitchLfoTable[7][64], 1531);
    EXPECT_EQ(PitchLfoTable[7][192], -1496);
    int32_t lo = 0;
    int32_t hi = 0;
    for (int j = 0; j < 256; ++j) {
        EXPECT_EQ(PitchLfoTable[0][j], 0);
        EXPECT_LE(PitchLfoTable[7][j], 1531);
        EXPECT_GE(PitchLfoTable[7][j], -1496);
        lo = std::min(lo, PitchLfoTable[1][j]);
        hi = std::max(hi, PitchLfoTable[1][j]);
    }
    EXPECT_EQ(lo, -64);
    EXPECT_EQ(hi, 64);
    // Half the listed cents: row 6 (40 cents) peaks at 2^(20/1200) - 1.
    EXPECT_NEAR(PitchLfoTable[6][64], (std::exp2(20.0 / 1200.0) - 1.0) * 65536.0, 1.0);
    // Negative entries truncate toward zero.
    EXPECT_EQ(PitchLfoTable[6][192],
              static_cast<int32_t>((std::exp2(-20.0 / 1200.0) - 1.0) * 65536.0));

    // Amplitude: row 3 holds 0, 126, 254 at 0, a quarter and half a period;
    // every entry is even and rows rise with AMS.
    EXPECT_EQ(AmpLfoTable[3][0], 0);
    EXPECT_EQ(AmpLfoTable[3][64], 126);
    EXPECT_EQ(AmpLfoTable[3][128], 254);
    EXPECT_EQ(AmpLfoTable[1][128], 30);
    EXPECT_EQ(AmpLfoTable[2][128], 126);
    for (int j = 0; j < 256; ++j) {
        EXPECT_EQ(AmpLfoTable[0][j], 0);
        for (int ams = 1; ams < 4; ++ams) {
            EXPECT_EQ(AmpLfoTable[ams][j] & 1, 0);
            EXPECT_GE(AmpLfoTable[ams][j], AmpLfoTable[ams - 1][j]);
        }
        EXPECT_EQ(AmpLfoTable[3][j], AmpLfoTable[3][(256 - j) & 255]);
    }
}

TEST_F(SynthesisTables, VolumeTableIsIndexedFromMinus32) {
    EXPECT_EQ(VolumeTable[-32], 1048575);
    EXPECT_EQ(VolumeTable[0], 65535);
    EXPECT_EQ(VolumeTable[8], 32767);
    EXPECT_EQ(VolumeTable[16], 16383);
    EXPECT_EQ(VolumeTable[127], 0);
    EXPECT_EQ(&VolumeTable[-32], &VolumeTableStorage[0]);
    for (int i = VolumeTableFirst; i <= VolumeTableLast; ++i) {
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

TEST(RateTables, EntriesForRatio256) {
    SetRateRatio(256);
    EXPECT_EQ(CachedRateRatio(), 256u);
    EXPECT_EQ(MultipleTable[0], 128u);
    EXPECT_EQ(MultipleTable[1], 256u);
    EXPECT_EQ(MultipleTable[15], 15u * 256u);
    for (int rate = 0; rate < 4; ++rate) {
        EXPECT_EQ(EnvelopeRateTable[rate], 0u) << rate;
    }
    EXPECT_EQ(EnvelopeRateTable[4], 256u * 256u);
    EXPECT_EQ(EnvelopeRateTable[5], 256u * 256u);
    EXPECT_EQ(EnvelopeRateTable[6], 384u * 256u);
    EXPECT_EQ(EnvelopeRateTable[7], 384u * 256u);
    EXPECT_EQ(EnvelopeRateTable[8], 512u * 256u);
    EXPECT_EQ(EnvelopeRateTable[11], 896u * 256u);
    for (int rate = 44; rate < 60; ++rate) {
        EXPECT_EQ(EnvelopeRateTable[rate], 65536u * 256u * (4u + rate % 4)) << rate;
    }
    for (int rate = 60; rate < 64; ++rate) {
        EXPECT_EQ(EnvelopeRateTable[rate], 524288u * 256u) << rate;
    }
    // LFO counter steps: internal rate * 0.0078 / N with the position at bit 20.
    EXPECT_EQ(LfoSpeedTable[0], 19209);
    EXPECT_EQ(LfoSpeedTable[7], 348966);
    const double divisors[8] = {109, 78, 72, 68, 63, 45, 9, 6};
    for (int code = 0; code < 8; ++code) {
        EXPECT_EQ(LfoSpeedTable[code], static_cast<int32_t>(256.0 * 0.0078 / divisors[code] * 1048576.0));
    }
}

TEST(RateTables, OddRatioAndWrapAround) {
    SetRateRatio(309);
    EXPECT_EQ(MultipleTable[0], 154u);  // half of MUL 1, truncated
    EXPECT_EQ(MultipleTable[1], 309u);
    EXPECT_EQ(EnvelopeRateTable[5], EnvelopeRateTable[4]);
    EXPECT_EQ(EnvelopeRateTable[7], EnvelopeRateTable[6]);
    EXPECT_EQ(EnvelopeRateTable[4], 256u * 309u);
    EXPECT_NE(EnvelopeRateTable[8], EnvelopeRateTable[9]);

    // The arithmetic is unsigned 32-bit and wraps.
    const uint32_t big = 0xFFFFFFFEu;
    SetRateRatio(big);
    EXPECT_EQ(MultipleTable[15], static_cast<uint32_t>(big * 30u) >> 1);
    EXPECT_EQ(EnvelopeRateTable[63], static_cast<uint32_t>(((big << 5) << 11) * 8u));
    EXPECT_EQ(EnvelopeRateTable[20], static_cast<uint32_t>(((big << 5) << 5) * 4u));
    SetRateRatio(256);
}

TEST(RateTables, SameRatioDoesNotRebuild) {
    SetRateRatio(256);
    MultipleTable[3] = 1;
    SetRateRatio(256);
    EXPECT_EQ(MultipleTable[3], 1u);
    SetRateRatio(257);
    EXPECT_EQ(MultipleTable[3], 3u * 257u);
    SetRateRatio(256);
    EXPECT_EQ(MultipleTable[3], 3u * 256u);
}

TEST(ConstantTables, KeyCodesAndSlots) {
    // Key code = 4 * block + n(F-number bits 10 ... 7).
    const uint8_t n[16] = {0, 0, 0, 0, 0, 0, 0, 1, 2, 3, 3, 3, 3, 3, 3, 3};
    for (int i = 0; i < 128; ++i) {
        ASSERT_EQ(KeyCodeTable[i], 4 * (i >> 4) + n[i & 15]) << i;
    }
    for (int dt = 1; dt < 4; ++dt) {
        for (int kc = 0; kc < 32; ++kc) {
            ASSERT_EQ(DetuneTable[dt + 4][kc], -DetuneTable[dt][kc]);
            ASSERT_EQ(DetuneTable[0][kc], 0);
            ASSERT_EQ(DetuneTable[4][kc], 0);
        }
    }
    EXPECT_EQ(DetuneTable[3][31], 44);
    EXPECT_EQ(DetuneTable[2][0], 2);
    EXPECT_EQ(SustainLevelTable[14], 56);
    EXPECT_EQ(SustainLevelTable[15], 124);
    EXPECT_EQ(FeedbackShiftTable[0], 31);
    EXPECT_EQ(FeedbackShiftTable[7], 1);
    EXPECT_EQ(OperatorSlotMap[1], 2);
    EXPECT_EQ(OperatorSlotMap[2], 1);
}

}  // namespace
