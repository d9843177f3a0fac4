// Channel: the renderer's routing of all eight algorithms against their
// graphs evaluated on the plain operator model, the envelope tick,
// feedback, key bits and activity flags.
#include "fm/channel.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <set>
#include <vector>

#include "chip_probe.h"
#include "fm/render.h"
#include "operator_model.h"

namespace {

constexpr uint32_t kWord = 4 * 2048 + 0x2A0;

class Channel : public ::testing::Test {
protected:
    void SetUp() override {
        BuildSynthesisTables();
        SetRateRatio(256);
    }

    // Renders `count` samples of the pair through the product's renderer;
    // returns channel 0's and channel 1's samples (into accumulators that
    // start at 0).
    static void RenderPair(FmChannel* pair, bool lfo, uint32_t lfoCount, uint32_t lfoStep,
                           uint32_t count, std::vector<int32_t>& a, std::vector<int32_t>& b) {
        a.assign(count, 0);
        b.assign(count, 0);
        FmChannel* channels[2] = {&pair[0], &pair[1]};
        int32_t* sums[2] = {a.data(), b.data()};
        RenderChannels(channels, sums, 2, lfo, lfoCount, lfoStep, count);
    }

    // One sample of the pair, without the LFO; returns channel 0's sample.
    static int32_t RenderOne(FmChannel* pair) {
        std::vector<int32_t> a, b;
        RenderPair(pair, false, 0, 0, 1, a, b);
        return a[0];
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
            o.SetKeyScaleAttack(0x1C);           // fast attack, audible at once
            o.SetAmDecay(k == 2 ? 0x85 : 0x05);  // AM on operator 2 only
            o.SetSustainRate(0x03);
            o.SetSustainLevelRelease(0x24);
        }
        ch.SetFeedback(feedback);
        ch.SetAlgorithm(algorithm);
        ch.SetFrequency(kWord);
        ch.SetLfoSensitivity(lfo);
        ch.ApplyParameters();
        ch.ApplyKeyBits(0xF0);
        ch.SetFrequency(kWord);
        ch.ApplyParameters();
    }

    // One sample of one channel on stand-alone operators, routed by the
    // algorithm's graph written out here, op(k, m) being operator k
    // modulated by m, apart from the table the renderer is built from.
    static int32_t Expected(const FmChannel& ch, FmOperator ops[4], bool lfo, int32_t position) {
        const int32_t o0 = opmodel::FeedbackSample(ops[0], ch.feedbackShift, position, lfo);
        auto op = [&](int k, int32_t input) {
            return opmodel::Sample(ops[k], static_cast<uint32_t>(input) << 3, position, lfo);
        };
        switch (ch.algorithm) {
            case 0:
                return op(3, op(2, op(1, o0)));
            case 1:
                return op(3, op(2, o0 + op(1, 0)));
            case 2:
                return op(3, o0 + op(2, op(1, 0)));
            case 3:
                return op(3, op(1, o0) + op(2, 0));
            case 4:
                return op(1, o0) + op(3, op(2, 0));
            case 5:
                return op(1, o0) + op(2, o0) + op(3, o0);
            case 6:
                return op(1, o0) + op(2, 0) + op(3, 0);
            default:  // 7
                return o0 + op(1, 0) + op(2, 0) + op(3, 0);
        }
    }
};

// The renderer against the model, sample by sample, over stretches of
// uneven length (the renderer keeps its state in locals over a stretch and
// counts envelope ticks ahead), with the LFO moving every sample and every
// few samples.
TEST_F(Channel, EveryAlgorithmRoutesAsDrawn) {
    static constexpr uint32_t StretchTable[] = {1, 37, 200, 2, 150, 210};
    std::set<std::vector<int32_t>> distinct;
    for (bool lfo : {false, true}) {
        for (int algorithm = 0; algorithm < 8; ++algorithm) {
            FmChannel pair[2];
            Program(pair[0], algorithm, 5, 0x37);
            Program(pair[1], 7 - algorithm, 3, 0x22);
            FmOperator ops[4] = {pair[0].op[0], pair[0].op[1], pair[0].op[2], pair[0].op[3]};
            // Seven positions a sample in the first half, a quarter of a
            // position a sample after.
            uint32_t lfoCount = 0x0123456u;
            std::vector<int32_t> samples;
            for (int s = 0; s < 6; ++s) {
                const uint32_t lfoStep = s < 3 ? 7u << 20 : 1u << 18;
                std::vector<int32_t> a, b;
                RenderPair(pair, lfo, lfoCount, lfoStep, StretchTable[s], a, b);
                for (uint32_t i = 0; i < StretchTable[s]; ++i) {
                    const int32_t position = static_cast<int32_t>((lfoCount >> 20) & 255);
                    lfoCount += lfoStep;
                    ASSERT_EQ(a[i], Expected(pair[0], ops, lfo, position))
                        << "algorithm " << algorithm << " lfo " << lfo << " stretch " << s
                        << " sample " << i;
                    samples.push_back(a[i]);
                }
                if (s == 3) {  // key off: the release phases run in the rest
                    pair[0].ApplyKeyBits(0x00);
                    for (FmOperator& o : ops) {
                        o.KeyOff();
                    }
                }
            }
            for (int k = 0; k < 4; ++k) {
                ASSERT_EQ(pair[0].op[k].envCounter, ops[k].envCounter) << k;
                ASSERT_EQ(pair[0].op[k].envLevel, ops[k].envLevel) << k;
                ASSERT_EQ(pair[0].op[k].phase, ops[k].phase) << k;
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
            o.SetKeyScaleAttack(0x1F);       // instant attack
            o.SetSustainLevelRelease(0x04);  // SL 0: full level while held
            o.KeyOff();
            o.KeyOn();
            o.SetFrequency(kWord);
            o.ApplyParameters();
            o.envCounter = 1;
            o.envCounterStep = 0;
            o.phaseStep = 0;
            o.phase = 256u << 19;  // the sine's peak
        }
    }
    int32_t accA = 0;
    int32_t accB = 2147483647 - 10;
    FmChannel* channels[2] = {&pair[0], &pair[1]};
    int32_t* sums[2] = {&accA, &accB};
    RenderChannels(channels, sums, 2, false, 0, 0, 1);
    EXPECT_EQ(accA, 4 * 268435455);
    EXPECT_EQ(accB, static_cast<int32_t>(2147483637u + 4u * 268435455u));

    // Both channels into one accumulator.
    int32_t shared = 0;
    int32_t* one[2] = {&shared, &shared};
    RenderChannels(channels, one, 2, false, 0, 0, 1);
    EXPECT_EQ(shared, 8 * 268435455);
}

// Six channels side by side, four and two, and pair by pair: the same
// samples, since the channels share nothing but the LFO counter.
TEST_F(Channel, ChannelsSideBySideEqualEachPairAlone) {
    FmChannel together[6];
    for (int i = 0; i < 6; ++i) {
        Program(together[i], (3 * i + 1) & 7, (5 * i) & 7, static_cast<uint8_t>(0x11 * i + 2));
    }
    FmChannel apart[6];
    for (int i = 0; i < 6; ++i) {
        apart[i] = together[i];
    }
    FmChannel* all[6];
    FmChannel* each[6];
    for (int i = 0; i < 6; ++i) {
        all[i] = &together[i];
        each[i] = &apart[i];
    }
    const uint32_t lfoStep = 3u << 18;
    uint32_t lfoCount = 0;
    for (int round = 0; round < 6; ++round) {
        const bool lfo = round % 2 != 0;
        const uint32_t count = 300;
        std::vector<int32_t> sideBySide(6 * count, 0), alone(6 * count, 0);
        int32_t* sumsAll[6];
        int32_t* sumsEach[6];
        for (int i = 0; i < 6; ++i) {
            sumsAll[i] = &sideBySide[i * count];
            sumsEach[i] = &alone[i * count];
        }
        RenderChannels(all, sumsAll, 6, lfo, lfoCount, lfoStep, count);
        // Four and two in the odd rounds, three pairs in the even ones.
        if (round % 2 != 0) {
            RenderChannels(each, sumsEach, 4, lfo, lfoCount, lfoStep, count);
            RenderChannels(each + 4, sumsEach + 4, 2, lfo, lfoCount, lfoStep, count);
        } else {
            for (int p = 0; p < 6; p += 2) {
                RenderChannels(each + p, sumsEach + p, 2, lfo, lfoCount, lfoStep, count);
            }
        }
        lfoCount += lfoStep * count;
        ASSERT_EQ(sideBySide, alone) << "round " << round;
        if (round == 2) {
            together[1].ApplyKeyBits(0x00);
            apart[1].ApplyKeyBits(0x00);
        }
    }
}

// The renderer ticks each envelope once per sample and steps it at most
// once, however large the step, and it hands the counter back as it stands.
TEST_F(Channel, EnvelopeTickTakesAtMostOneStepPerSample) {
    FmChannel pair[2];
    Program(pair[0], 7, 0);
    Program(pair[1], 7, 0);
    FmOperator& op = pair[0].op[3];
    for (FmOperator& o : pair[0].op) {
        o.SetKeyScaleAttack(0x1F);
        o.SetSustainLevelRelease(0x05);  // SL 0: straight to sustain
        o.SetSustainRate(0);
        o.KeyOff();
        o.KeyOn();
        o.ApplyParameters();
    }
    ASSERT_EQ(op.envPhase, EnvelopePhase::Sustain);
    ASSERT_EQ(op.envCounterStep, 0u);  // SR 0
    std::vector<int32_t> a, b;

    // A step of 0 freezes the envelope, except that a counter of exactly 0
    // fires once.
    op.envCounter = 0;
    const int32_t start = op.envLevel;
    RenderPair(pair, false, 0, 0, 1, a, b);
    EXPECT_EQ(op.envLevel, start + 1);
    RenderPair(pair, false, 0, 0, 500, a, b);
    EXPECT_EQ(op.envLevel, start + 1);
    EXPECT_EQ(op.envCounter, 3u << 27);

    // A step larger than the reload still takes one step per sample.
    op.envCounterStep = 0xF0000000u;
    RenderPair(pair, false, 0, 0, 10, a, b);
    EXPECT_EQ(op.envLevel, start + 11);

    // Rate 63 at ratio 256 steps 2^27 per sample against a reload of 3 *
    // 2^27: a step every third sample, whether the samples come one at a
    // time or thirty at once, and the counter comes back the same.
    FmOperatorProbe::SelectEnvelopeRate(op, 63);
    EXPECT_EQ(op.envIncrement, 8);
    op.envCounter = 3u << 27;
    FmChannel twin[2] = {pair[0], pair[1]};
    RenderPair(pair, false, 0, 0, 30, a, b);
    for (int i = 0; i < 30; ++i) {
        RenderOne(twin);
    }
    EXPECT_EQ(op.envLevel, start + 11 + 10 * 8);
    EXPECT_EQ(twin[0].op[3].envLevel, op.envLevel);
    EXPECT_EQ(twin[0].op[3].envCounter, op.envCounter);
}

// A channel's four envelopes step on their own beats, sometimes on the same
// sample: over one long stretch every step lands on the sample it lands on
// when the samples come one at a time, and each counter comes back the same.
TEST_F(Channel, EnvelopesOnDifferentBeatsStepAsSampleBySample) {
    FmChannel pair[2];
    Program(pair[0], 4, 3);
    Program(pair[1], 0, 0);
    // Rates 63 and 62 step every third sample, 55 and 47 more slowly; the
    // counters start out of phase.
    const uint32_t rates[4] = {55, 47, 62, 63};
    const uint32_t counters[4] = {3u << 27, 5u << 26, 1u << 27, 2u << 27};
    int32_t start[4];
    for (int k = 0; k < 4; ++k) {
        FmOperatorProbe::SelectEnvelopeRate(pair[0].op[k], rates[k]);
        pair[0].op[k].envCounter = counters[k];
        start[k] = pair[0].op[k].envLevel;
    }
    FmChannel twin[2] = {pair[0], pair[1]};
    std::vector<int32_t> whole, other;
    RenderPair(pair, false, 0, 0, 512, whole, other);
    for (int i = 0; i < 512; ++i) {
        ASSERT_EQ(RenderOne(twin), whole[i]) << "sample " << i;
    }
    for (int k = 0; k < 4; ++k) {
        EXPECT_NE(pair[0].op[k].envLevel, start[k]) << "operator " << k << " never stepped";
        EXPECT_EQ(twin[0].op[k].envLevel, pair[0].op[k].envLevel) << "operator " << k;
        EXPECT_EQ(twin[0].op[k].envCounter, pair[0].op[k].envCounter) << "operator " << k;
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
        RenderOne(pair);
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
    EXPECT_EQ(ch.algorithm, 4);
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
