// Channel: routing of all eight algorithms against a direct evaluation of
// each graph, feedback, key bits, activity flags, and the pair renderers.
#include "fm/channel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

namespace {

constexpr uint32_t Word = 4 * 2048 + 0x2A0;

class Channel : public ::testing::Test {
protected:
    void SetUp() override {
        BuildSynthesisTables();
        SetRateRatio(256);
        lfoPosition = 0;
    }

    // A keyed channel whose operators differ in multiple and level, so each
    // route leaves its own mark on the sample.
    static void Program(FmChannel& ch, int algorithm, int feedback, uint8_t lfo = 0) {
        const uint8_t multiples[4] = {0x01, 0x13, 0x52, 0x07};
        const uint8_t levels[4] = {20, 28, 12, 0};
        for (int k = 0; k < 4; ++k) {
            FmOperator& o = ch.op[k];
            o.SetDetuneMultiple(multiples[k]);
            o.SetTotalLevel(levels[k], false);
            o.SetKeyScaleAttack(0x1C);               // fast attack, audible at once
            o.SetAmDecay(k == 2 ? 0x85 : 0x05);      // AM on operator 2 only
            o.SetSustainRate(0x03);
            o.SetSustainLevelRelease(0x24);
        }
        ch.SetFeedback(feedback);
        ch.SetAlgorithm(algorithm);
        ch.SetFrequency(Word);
        ch.SetLfoSensitivity(lfo);
        ch.ApplyParameters();
        ch.ApplyKeyBits(0xF0);
        ch.SetFrequency(Word);
        ch.ApplyParameters();
    }

    // One sample of one channel, evaluated straight from the algorithm's
    // graph on stand-alone operators.
    static int32_t Expected(int algorithm, FmOperator ops[4], int32_t feedbackShift, bool lfo) {
        int32_t position = lfoPosition;
        auto sample = [&](int k, int32_t input) {
            uint32_t m = static_cast<uint32_t>(input) << 3;
            return lfo ? ops[k].RenderWithLfo(m, position) : ops[k].Render(m);
        };
        int32_t s0 = lfo ? ops[0].RenderFeedbackWithLfo(feedbackShift, position)
                         : ops[0].RenderFeedback(feedbackShift);
        int32_t s1, s2;
        switch (algorithm) {
        case 0:  // 0 -> 1 -> 2 -> 3
            s1 = sample(1, s0);
            s2 = sample(2, s1);
            return sample(3, s2);
        case 1:  // (0 + 1) -> 2 -> 3
            s1 = sample(1, 0);
            s2 = sample(2, s0 + s1);
            return sample(3, s2);
        case 2:  // (0 + (1 -> 2)) -> 3
            s1 = sample(1, 0);
            s2 = sample(2, s1);
            return sample(3, s0 + s2);
        case 3:  // ((0 -> 1) + 2) -> 3
            s1 = sample(1, s0);
            s2 = sample(2, 0);
            return sample(3, s1 + s2);
        case 4:  // (0 -> 1) + (2 -> 3)
            s1 = sample(1, s0);
            s2 = sample(2, 0);
            return s1 + sample(3, s2);
        case 5:  // 0 -> each of 1, 2, 3
            s1 = sample(1, s0);
            s2 = sample(2, s0);
            return s1 + s2 + sample(3, s0);
        case 6:  // (0 -> 1) + 2 + 3
            s1 = sample(1, s0);
            s2 = sample(2, 0);
            return s1 + s2 + sample(3, 0);
        default:  // 0 + 1 + 2 + 3
            s1 = sample(1, 0);
            s2 = sample(2, 0);
            return s0 + s1 + s2 + sample(3, 0);
        }
    }
};

TEST_F(Channel, EveryAlgorithmRoutesAsDrawn) {
    std::set<std::vector<int32_t>> distinct;
    for (bool lfo : {false, true}) {
        for (int algorithm = 0; algorithm < 8; ++algorithm) {
            FmChannel pair[2];
            Program(pair[0], algorithm, 5, 0x37);
            Program(pair[1], 7 - algorithm, 3, 0x22);
            FmOperator ops[4] = {pair[0].op[0], pair[0].op[1], pair[0].op[2], pair[0].op[3]};
            std::vector<int32_t> samples;
            for (int i = 0; i < 600; ++i) {
                lfoPosition = (i * 7) & 255;
                int32_t accA = 0;
                int32_t accB = 0;
                if (lfo) {
                    RenderPairWithLfo(pair, accA, accB);
                } else {
                    RenderPair(pair, accA, accB);
                }
                ASSERT_EQ(accA, Expected(algorithm, ops, pair[0].feedbackShift, lfo))
                    << "algorithm " << algorithm << " lfo " << lfo << " sample " << i;
                samples.push_back(accA);
            }
            distinct.insert(samples);
        }
    }
    EXPECT_EQ(distinct.size(), 16u);  // every routing, with and without LFO, sounds different
}

TEST_F(Channel, AlgorithmSevenSumsFourCarriersAndAccumulatorsWrap) {
    FmChannel pair[2];
    Program(pair[0], 7, 0);
    Program(pair[1], 7, 0);
    for (FmChannel& ch : pair) {
        for (FmOperator& o : ch.op) {
            o.SetTotalLevel(0, false);
            o.SetKeyScaleAttack(0x1F);        // instant attack
            o.SetSustainLevelRelease(0x04);  // SL 0: full level while held
            o.KeyOff();
            o.KeyOn();
            o.SetFrequency(Word);
            o.ApplyParameters();
            o.envCounter = 1;
            o.envCounterStep = 0;
            o.phaseStep = 0;
            o.phase = 256u << 19;  // the sine's peak
        }
    }
    int32_t accA = 0;
    int32_t accB = 2147483647 - 10;
    RenderPair(pair, accA, accB);
    EXPECT_EQ(accA, 4 * 268435455);
    EXPECT_EQ(accB, static_cast<int32_t>(2147483637u + 4u * 268435455u));

    // Both channels into one accumulator.
    int32_t shared = 0;
    RenderPair(pair, shared, shared);
    EXPECT_EQ(shared, 8 * 268435455);
}

TEST_F(Channel, PairEqualsEachChannelAlone) {
    FmChannel together[2];
    Program(together[0], 4, 6, 0x12);
    Program(together[1], 1, 2, 0x35);
    FmChannel aloneA[2];
    FmChannel aloneB[2];
    aloneA[0] = together[0];
    Program(aloneA[1], 0, 0);
    Program(aloneB[0], 7, 7);
    aloneB[1] = together[1];

    for (int i = 0; i < 2000; ++i) {
        lfoPosition = (i / 3) & 255;
        int32_t a = 0, b = 0, a2 = 0, b2 = 0, unused = 0;
        if (i % 2) {
            RenderPairWithLfo(together, a, b);
            RenderPairWithLfo(aloneA, a2, unused);
            RenderPairWithLfo(aloneB, unused, b2);
        } else {
            RenderPair(together, a, b);
            RenderPair(aloneA, a2, unused);
            RenderPair(aloneB, unused, b2);
        }
        ASSERT_EQ(a, a2) << i;
        ASSERT_EQ(b, b2) << i;
        if (i == 1000) {
            together[1].ApplyKeyBits(0x00);
            aloneB[1].ApplyKeyBits(0x00);
        }
    }
}

TEST_F(Channel, FeedbackStrength) {
    FmChannel pair[2];
    Program(pair[0], 7, 0);
    Program(pair[1], 7, 0);
    FmOperator& o = pair[0].op[0];
    o.envOutput = 0;  // full level, frozen, no phase motion of its own
    o.envCounter = 1;
    o.envCounterStep = 0;
    o.phaseStep = 0;
    // Renders one sample of operator 0 from phase 0 with the given history.
    auto feedbackSample = [&](int fb, int32_t last, int32_t beforeLast) {
        pair[0].SetFeedback(fb);
        o.phase = 0;
        o.output = last;
        o.previousOutput = beforeLast;
        int32_t a = 0, b = 0;
        RenderPair(pair, a, b);
        EXPECT_EQ(o.previousOutput, last);
        return o.output;
    };
    // FB 0: no modulation for a non-negative sum, one unit back for a negative one.
    EXPECT_EQ(feedbackSample(0, 5, 0), LevelTable[2046]);
    EXPECT_EQ(feedbackSample(0, -1, 0), LevelTable[2047]);  // index 1023: the sign flips
    // FB 7 moves the phase by twice the sum, FB 6 by the sum.
    EXPECT_EQ(feedbackSample(7, 1 << 17, 1 << 17), LevelTable[LogSineTable[1]]);
    EXPECT_EQ(feedbackSample(6, 1 << 17, 1 << 17), LevelTable[LogSineTable[0]]);
    EXPECT_EQ(feedbackSample(7, -268435455, -268435455),
              LevelTable[LogSineTable[(static_cast<uint32_t>(-4 * 268435455) >> 19) & 1023]]);

    // The feedback/algorithm write clears the history even with the same values.
    o.output = 1234;
    o.previousOutput = -99;
    pair[0].SetFeedback(7);
    pair[0].SetAlgorithm(7);
    EXPECT_EQ(o.output, 0);
    EXPECT_EQ(o.previousOutput, 0);
    pair[0].SetFeedback(8);  // masked to 0
    EXPECT_EQ(pair[0].feedbackShift, 31);
}

TEST_F(Channel, KeyBitsActivityAndReset) {
    FmChannel ch;
    EXPECT_EQ(ch.ApplyParameters(), 0);  // all Off, no LFO
    ch.ApplyKeyBits(0x5F);               // operators 0 and 2; the low bits are not key bits
    EXPECT_TRUE(ch.op[0].keyOn && ch.op[2].keyOn);
    EXPECT_FALSE(ch.op[1].keyOn || ch.op[3].keyOn);
    EXPECT_EQ(ch.ApplyParameters(), 1);
    ch.ApplyKeyBits(0x80);
    EXPECT_TRUE(ch.op[3].keyOn);
    EXPECT_FALSE(ch.op[0].keyOn || ch.op[2].keyOn);

    // LFO need: PMS always counts, AMS only with some operator's AM on, the
    // pan bits never.
    Program(ch, 4, 5, 0x30);
    EXPECT_EQ(ch.ApplyParameters(), 3);  // operator 2 has AM on
    ch.op[2].SetAmDecay(0x05);
    EXPECT_EQ(ch.ApplyParameters(), 1);
    ch.SetLfoSensitivity(0xC0);
    EXPECT_EQ(ch.ApplyParameters(), 1);
    ch.SetLfoSensitivity(0xC1);
    EXPECT_EQ(ch.ApplyParameters(), 3);

    // Reset silences the operators but keeps keyOn, routing and feedback.
    ch.Reset();
    EXPECT_EQ(ch.ApplyParameters(), 2);
    EXPECT_EQ(ch.feedbackShift, 3);
    EXPECT_EQ(ch.operatorOutput[2], 1);
    for (const FmOperator& o : ch.op) {
        EXPECT_EQ(o.totalLevel, 127);
        EXPECT_TRUE(o.keyOn);
    }
    // Keying everything off after the reset leaves a silent channel.
    ch.ApplyKeyBits(0x00);
    for (const FmOperator& o : ch.op) {
        EXPECT_FALSE(o.keyOn);
        EXPECT_EQ(o.envPhase, EnvelopePhase::Off);
    }
}

}  // namespace
