// Operator: register decoding, phase step, envelope phases and transitions,
// key handling, the output stage with and without LFO.
#include "fm/operator.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdlib>

#include "chip_probe.h"
#include "operator_model.h"

namespace {

// Block 4, F-number 0x2A0: pitch 0x2A00, key code 16.
constexpr uint32_t kMiddleWord = 4 * 2048 + 0x2A0;
// Block 7, F-number 0x7FF: key code 31, the top of the detune and key-scale range.
constexpr uint32_t kTopWord = 7 * 2048 + 0x7FF;

class Operator : public ::testing::Test {
protected:
    void SetUp() override {
        BuildSynthesisTables();
        SetRateRatio(256);
    }

    // An operator at full level: TL 0, the given AR/DR/SL/RR, frequency set
    // and parameters applied, not keyed.
    static FmOperator Voice(uint8_t ar, uint8_t dr, uint8_t sl, uint8_t rr,
                            uint32_t word = kMiddleWord, uint8_t ks = 0) {
        FmOperator op;
        op.SetDetuneMultiple(0x01);
        op.SetTotalLevel(0, false);
        op.SetKeyScaleAttack(static_cast<uint8_t>((ks << 6) | ar));
        op.SetAmDecay(dr);
        op.SetSustainRate(0);
        op.SetSustainLevelRelease(static_cast<uint8_t>((sl << 4) | rr));
        op.SetFrequency(word);
        op.ApplyParameters();
        return op;
    }

    // Recomputes the derived values the way each mixed block does (a new
    // frequency always marks the parameters changed), so a level entered by
    // a key-on reaches the output.
    static void Refresh(FmOperator& op) {
        op.SetFrequency(op.keyCode == 31 ? kTopWord : kMiddleWord);
        op.ApplyParameters();
    }

    // Steps the envelope until it leaves `phase`; returns the number of steps.
    static int StepsUntilLeaving(FmOperator& op, EnvelopePhase phase,
                                 int32_t* lastLevel = nullptr) {
        int steps = 0;
        while (op.envPhase == phase && steps < 100000) {
            if (lastLevel != nullptr) {
                *lastLevel = op.envLevel;
            }
            op.StepEnvelope();
            ++steps;
        }
        return steps;
    }
};

TEST_F(Operator, PowerOnAndRegisterDecoding) {
    FmOperator op;
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    EXPECT_EQ(op.envLevel, 1023);
    EXPECT_EQ(op.totalLevel, 127);
    EXPECT_TRUE(op.paramsChanged);

    op.SetSustainLevelRelease(0xF3);  // SL 15 drops to the bottom, RR 3
    EXPECT_EQ(op.sustainLevel, 124);
    EXPECT_EQ(op.releaseRate, 14);
    op.SetAmDecay(0x9F);
    EXPECT_EQ(op.decayRate, 62);
    EXPECT_TRUE(op.ampLfoOn);
    op.SetTotalLevel(0xFF, false);
    EXPECT_EQ(op.totalLevel, 127);

    // Bits above the block are ignored; the key code follows the top F-number bits.
    op.SetFrequency(0xC000 | kMiddleWord);
    EXPECT_EQ(op.pitch, 0x2A0u << 4);
    EXPECT_EQ(op.keyCode, 16u);
    op.SetFrequency(4 * 2048 + 0x380);
    EXPECT_EQ(op.keyCode, 17u);
    op.SetFrequency(kTopWord);
    EXPECT_EQ(op.pitch, 0x7FFu << 7);
    EXPECT_EQ(op.keyCode, 31u);

    // The SSG-type envelope is stored and changes nothing else.
    op.ApplyParameters();
    FmOperator twin = op;
    op.SetSsgEg(0xFF);
    EXPECT_EQ(op.ssgEg, 15);
    EXPECT_FALSE(op.paramsChanged);
    op.KeyOn();
    twin.KeyOn();
    for (int i = 0; i < 200; ++i) {
        ASSERT_EQ(opmodel::Sample(op, 0), opmodel::Sample(twin, 0));
    }
}

TEST_F(Operator, PhaseStepFromPitchDetuneAndMultiple) {
    FmOperator op;
    op.SetFrequency(kMiddleWord);
    op.SetDetuneMultiple(0x01);
    op.ApplyParameters();
    uint32_t mul1 = op.phaseStep;
    EXPECT_EQ(mul1, (0x2A0u << 4) * 256u);
    EXPECT_EQ(op.pitchLfoScale, mul1 >> 11);
    op.SetDetuneMultiple(0x00);
    op.ApplyParameters();
    EXPECT_EQ(op.phaseStep * 2, mul1);  // MUL 0 is half of MUL 1
    op.SetDetuneMultiple(0x0C);
    op.ApplyParameters();
    EXPECT_EQ(op.phaseStep, mul1 * 12);

    // Detune by key code: +44 / -44 at the top of the range, before the multiple.
    op.SetFrequency(kTopWord);
    op.SetDetuneMultiple(0x32);
    op.ApplyParameters();
    EXPECT_EQ(op.phaseStep, ((0x7FFu << 7) + 44u) * 512u);
    op.SetDetuneMultiple(0x72);
    op.ApplyParameters();
    EXPECT_EQ(op.phaseStep, ((0x7FFu << 7) - 44u) * 512u);

    // A negative detune below pitch 0 wraps; the LFO scale is a logical shift.
    op.SetFrequency(0);
    op.SetDetuneMultiple(0x61);
    op.ApplyParameters();
    EXPECT_EQ(op.phaseStep, static_cast<uint32_t>(-2 * 256));
    EXPECT_EQ(op.pitchLfoScale, op.phaseStep >> 11);

    op.SetFrequency(kTopWord);
    op.SetKeyScaleAttack(0x80);
    op.ApplyParameters();
    EXPECT_EQ(op.keyScaleRate, 15);
}

TEST_F(Operator, AttackCurve) {
    // AR 10 (rate 20): shift 4, the level falls by 1 + level / 16 per step.
    FmOperator op = Voice(10, 5, 5, 5);
    op.KeyOn();
    ASSERT_EQ(op.envPhase, EnvelopePhase::Attack);
    EXPECT_EQ(op.envLevel, 1023);  // the attack starts from silence
    EXPECT_EQ(op.attackShift, 4);
    op.StepEnvelope();
    EXPECT_EQ(op.envLevel, 959);
    EXPECT_EQ(op.envOutput, 959 * 2);
    op.StepEnvelope();
    EXPECT_EQ(op.envLevel, 899);
    op.StepEnvelope();
    EXPECT_EQ(op.envLevel, 842);
    int32_t previous = op.envLevel;
    int32_t last = 0;
    StepsUntilLeaving(op, EnvelopePhase::Attack, &last);
    EXPECT_EQ(last, 1);  // small levels fall by one; the step to 0 ends the attack
    EXPECT_EQ(op.envPhase, EnvelopePhase::Decay);
    EXPECT_EQ(op.envLevel, 0);
    EXPECT_EQ(op.envEnd, 160u);  // SL 5 = 20 * 8 envelope units
    EXPECT_LT(last, previous);

    // AR 28 (rate 56): shift 1, the level halves per step.
    op = Voice(28, 5, 5, 5);
    op.KeyOn();
    const int32_t halving[] = {511, 255, 127, 63, 31, 15, 7, 3, 1};
    for (int32_t expected : halving) {
        op.StepEnvelope();
        ASSERT_EQ(op.envLevel, expected);
        ASSERT_EQ(op.envPhase, EnvelopePhase::Attack);
    }
    op.StepEnvelope();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Decay);
    EXPECT_EQ(op.envLevel, 0);

    // AR 0 holds the attack whatever the key scaling.
    op = Voice(0, 5, 5, 5, kTopWord, 3);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Attack);
    EXPECT_EQ(op.envCounterStep, 0u);
}

TEST_F(Operator, FastAttackStartsDecayOrSustainAtOnce) {
    FmOperator op = Voice(31, 5, 5, 5);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Decay);
    EXPECT_EQ(op.envLevel, 0);

    op = Voice(31, 5, 0, 5);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Sustain);
    EXPECT_EQ(op.envLevel, 0);
    EXPECT_EQ(op.envEnd, 1024u);

    // The 62 threshold counts the key scaling: AR 29 (58) + 3 stays an
    // attack, AR 30 (60) + 3 does not.
    op = Voice(29, 5, 5, 5, kTopWord, 0);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Attack);
    EXPECT_EQ(op.envCounterStep, EnvelopeRateTable[61]);
    op = Voice(30, 5, 5, 5, kTopWord, 0);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Decay);
}

TEST_F(Operator, DecaySustainAndReleaseRunToOff) {
    // SL 15: the decay runs to 992 before the sustain starts.
    FmOperator op = Voice(31, 31, 15, 5);
    op.KeyOn();
    ASSERT_EQ(op.envPhase, EnvelopePhase::Decay);
    EXPECT_EQ(op.envEnd, 992u);
    EXPECT_EQ(op.envIncrement, 8);  // rate 62
    EXPECT_EQ(StepsUntilLeaving(op, EnvelopePhase::Decay), 124);
    EXPECT_EQ(op.envPhase, EnvelopePhase::Sustain);
    EXPECT_EQ(op.envLevel, 992);
    // SR 0 selects rate 0; the sustain ends at the floor and goes straight Off.
    EXPECT_EQ(op.envIncrement, 1);
    EXPECT_EQ(StepsUntilLeaving(op, EnvelopePhase::Sustain), 32);
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    EXPECT_EQ(op.envLevel, 1023);
    EXPECT_EQ(op.envOutput, 2046);

    // A sustain level lowered below the decaying level ends the decay at
    // the next step, on the new level exactly.
    op = Voice(31, 1, 3, 5);
    op.KeyOn();
    EXPECT_EQ(op.envEnd, 96u);
    for (int i = 0; i < 90; ++i) {
        op.StepEnvelope();
    }
    op.SetSustainLevelRelease(0x25);
    op.ApplyParameters();
    EXPECT_EQ(op.envEnd, 64u);
    op.StepEnvelope();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Sustain);
    EXPECT_EQ(op.envLevel, 64);

    // Release from the middle of a decay keeps the level and climbs to Off.
    op = Voice(31, 1, 15, 8);
    op.KeyOn();
    for (int i = 0; i < 100; ++i) {
        op.StepEnvelope();
    }
    op.KeyOff();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Release);
    EXPECT_EQ(op.envLevel, 100);
    EXPECT_EQ(op.envEnd, 1024u);
    EXPECT_EQ(StepsUntilLeaving(op, EnvelopePhase::Release), 924);
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    EXPECT_EQ(op.envLevel, 1023);
}

TEST_F(Operator, KeyOffWithInstantRelease) {
    // RR 15 (62) ends the note at once, whatever the key scaling.
    FmOperator op = Voice(31, 5, 5, 15);
    op.KeyOn();
    op.KeyOff();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    EXPECT_EQ(op.envLevel, 1023);
    EXPECT_FALSE(op.keyOn);

    // RR 14 (58): key scale 3 at key code 4 brings it to 62.
    const uint32_t keyCode4 = 1 * 2048 + 0x100;
    op = Voice(31, 5, 5, 14, keyCode4, 3);
    ASSERT_EQ(op.keyScaleRate, 4);
    op.KeyOn();
    op.KeyOff();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    op = Voice(31, 5, 5, 14, keyCode4, 2);
    ASSERT_EQ(op.keyScaleRate, 2);
    op.KeyOn();
    op.KeyOff();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Release);
    EXPECT_EQ(op.envCounterStep, EnvelopeRateTable[60]);
    // A higher key code during the release raises its rate, capped at 63.
    op.SetFrequency(kTopWord);
    op.ApplyParameters();
    EXPECT_EQ(op.keyScaleRate, 15);
    EXPECT_EQ(op.envPhase, EnvelopePhase::Release);
    EXPECT_EQ(op.envCounterStep, EnvelopeRateTable[63]);
    EXPECT_EQ(op.attackShift, 1);

    // Key-off during the attack releases from the attack's level.
    op = Voice(10, 5, 5, 5);
    op.KeyOn();
    op.StepEnvelope();
    op.KeyOff();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Release);
    EXPECT_EQ(op.envLevel, 959);
}

TEST_F(Operator, KeyOnRestartsOnlyAReleasedOperatorAndResetKeepsKeyOn) {
    FmOperator op = Voice(31, 2, 15, 1);
    op.KeyOn();
    for (int i = 0; i < 50; ++i) {
        opmodel::FeedbackSample(op, 1);
    }
    ASSERT_NE(op.phase, 0u);
    ASSERT_NE(op.output, 0);

    // A second key-on without a key-off changes nothing.
    FmOperator before = op;
    op.KeyOn();
    EXPECT_EQ(op.envPhase, before.envPhase);
    EXPECT_EQ(op.envLevel, before.envLevel);
    EXPECT_EQ(op.phase, before.phase);
    EXPECT_EQ(op.output, before.output);

    op.KeyOff();
    ASSERT_EQ(op.envPhase, EnvelopePhase::Release);
    op.StepEnvelope();
    int32_t releasedLevel = op.envLevel;
    ASSERT_GT(releasedLevel, 0);
    op.SetKeyScaleAttack(10);
    op.ApplyParameters();
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Attack);
    EXPECT_EQ(op.envLevel, releasedLevel);  // the attack starts from here
    EXPECT_EQ(op.phase, 0u);
    EXPECT_EQ(op.output, 0);
    EXPECT_EQ(op.previousOutput, 0);

    // Reset leaves keyOn set: key-ons are ignored until a key-off.
    op.Reset();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    EXPECT_EQ(op.totalLevel, 127);
    EXPECT_TRUE(op.keyOn);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
    op.KeyOff();
    EXPECT_FALSE(op.keyOn);
    op.KeyOn();
    EXPECT_EQ(op.envPhase, EnvelopePhase::Attack);
}

TEST_F(Operator, LatchOnlyTotalLevelWaitsForKeyOn) {
    FmOperator op = Voice(31, 0, 0, 5);
    op.SetTotalLevel(20, false);
    op.ApplyParameters();
    op.KeyOn();
    EXPECT_EQ(op.totalLevelOut, 160);

    op.SetTotalLevel(100, true);
    EXPECT_EQ(op.totalLevelLatch, 100);
    EXPECT_EQ(op.totalLevel, 20);
    EXPECT_FALSE(op.paramsChanged);
    op.ApplyParameters();
    EXPECT_EQ(op.totalLevelOut, 160);

    // The key-on copies the latch; the next parameter pass makes it audible.
    op.KeyOff();
    op.KeyOn();
    EXPECT_EQ(op.totalLevel, 100);
    EXPECT_EQ(op.totalLevelOut, 160);
    op.SetFrequency(kMiddleWord);
    op.ApplyParameters();
    EXPECT_EQ(op.totalLevelOut, 800);
    EXPECT_EQ(op.envOutput, 2 * (op.envLevel + 800));
}

TEST_F(Operator, OutputTracesASine) {
    FmOperator op = Voice(31, 0, 0, 5);
    op.KeyOn();
    Refresh(op);
    op.envCounter = 1;        // keep the frozen sustain from taking its one step
    op.phaseStep = 1u << 19;  // one table entry per sample
    const double pi = std::acos(-1.0);
    for (int i = 1; i <= 1024; ++i) {
        int32_t sample = opmodel::Sample(op, 0);
        int index = i & 1023;
        double expected = 268435455.0 * std::sin(pi * (index + 0.5) / 512.0);
        ASSERT_NEAR(sample, expected, 0.02 * 268435455.0) << index;
    }
    EXPECT_EQ(op.envLevel, 0);

    // Modulation is a phase offset: 8 table entries ahead.
    FmOperator twin = op;
    int32_t ahead = opmodel::Sample(twin, 8u << 19);
    opmodel::Sample(op, 0);
    for (int i = 0; i < 7; ++i) {
        opmodel::Sample(op, 0);
    }
    EXPECT_EQ(ahead, opmodel::Sample(op, 0));

    // Full-scale peak and the total level's attenuation.
    op.phase = (256u << 19) - op.phaseStep;
    EXPECT_EQ(opmodel::Sample(op, 0), 268435455);
    op.SetTotalLevel(16, false);  // 128 envelope units = 2 octaves
    op.ApplyParameters();
    op.phase = (256u << 19) - op.phaseStep;
    EXPECT_EQ(opmodel::Sample(op, 0), LevelTable[256]);
    EXPECT_NEAR(LevelTable[256], 268435455 / 4, 1);
}

TEST_F(Operator, MutedOperatorKeepsRunningSilently) {
    FmOperator op = Voice(26, 5, 5, 5);
    op.SetMuted(true);
    op.ApplyParameters();
    EXPECT_EQ(op.totalLevelOut, 1023);
    op.KeyOn();
    for (int i = 0; i < 5000; ++i) {
        int32_t sample = opmodel::Sample(op, 0);
        ASSERT_LE(std::abs(sample), LevelTable[2046]);
    }
    EXPECT_NE(op.envPhase, EnvelopePhase::Attack);  // the envelope advanced
    EXPECT_EQ(op.phase, 5000u * op.phaseStep);
    EXPECT_EQ(op.envOutput, 2046);

    op.SetMuted(false);
    op.ApplyParameters();
    EXPECT_LT(op.envOutput, 2046);
}

TEST_F(Operator, LfoModulatesPitchAndAmplitude) {
    FmOperator op = Voice(31, 0, 0, 5, kTopWord);
    op.SetLfoSensitivity(0x37);  // AMS 3, PMS 7
    op.ApplyParameters();
    EXPECT_EQ(op.pitchLfoRow, PitchLfoTable[7]);
    EXPECT_EQ(op.ampLfoRow, AmpLfoTable[0]);  // amplitude modulation is off
    op.SetAmDecay(0x80);
    op.ApplyParameters();
    EXPECT_EQ(op.ampLfoRow, AmpLfoTable[3]);
    op.KeyOn();
    Refresh(op);
    op.envCounter = 1;

    // Pitch: phase += step + floor(scale * entry / 32), negative entries included.
    for (int position : {0, 40, 64, 150, 192}) {
        uint32_t before = op.phase;
        opmodel::Sample(op, 0, position, true);
        int64_t product = static_cast<int64_t>(op.pitchLfoScale) * PitchLfoTable[7][position];
        int64_t offset = product >= 0 ? product / 32 : -((-product + 31) / 32);
        EXPECT_EQ(op.phase - before, static_cast<uint32_t>(op.phaseStep + offset)) << position;
    }

    // The product is a wrapping signed 32-bit product.
    op.pitchLfoScale = 0x1FFFFF;
    uint32_t before = op.phase;
    opmodel::Sample(op, 0, 64, true);
    int64_t wrapped = static_cast<int64_t>(0x1FFFFF) * 1531 - (int64_t(1) << 32);
    ASSERT_LT(wrapped, 0);
    int64_t offset = -((-wrapped + 31) / 32);
    EXPECT_EQ(op.phase - before, static_cast<uint32_t>(op.phaseStep + offset));

    // Amplitude: the row's entry adds to the attenuation.
    op.phaseStep = 0;
    op.pitchLfoScale = 0;
    op.phase = 256u << 19;
    EXPECT_EQ(opmodel::Sample(op, 0, 128, true), LevelTable[254]);
    EXPECT_EQ(opmodel::Sample(op, 0, 0, true), LevelTable[0]);
}

}  // namespace
