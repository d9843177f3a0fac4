#include "psg/psg.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

namespace {

constexpr int32_t kClock = 3579530;

std::vector<int16_t> Mix(int32_t count) {
    std::vector<int16_t> out(count);
    PsgMix(out.data(), count);
    return out;
}

void Write(std::initializer_list<uint8_t> bytes) {
    for (uint8_t b : bytes)
        PsgWrite(b);
}

// The noise output bit after each of `shifts` register shifts, read by mixing
// one sample at a time (mode 0 shifts every 6.3 samples at 44100 Hz, so a
// sample never holds two shifts).
std::string NoiseBits(int shifts) {
    std::string bits;
    int16_t sample;
    int32_t last = psgChip.shiftRegister;
    for (int guard = 0; static_cast<int>(bits.size()) < shifts && guard < shifts * 8; ++guard) {
        PsgMix(&sample, 1);
        if (psgChip.shiftRegister != last) {
            bits += psgChip.output[kPsgNoiseVoice] ? '1' : '0';
            last = psgChip.shiftRegister;
        }
    }
    return bits;
}

TEST(PsgTables, LevelsAndTicks) {
    const int32_t expected[kPsgLevels] = {10922, 8675, 6891, 5473, 4348, 3453, 2743, 2179,
                                          1731,  1374, 1092, 867,  689,  547,  434,  0};
    PsgInit(kClock, 44100);
    for (int k = 0; k < kPsgLevels; ++k)
        EXPECT_EQ(psgChip.levels[k], expected[k]) << "attenuation " << k;

    const struct {
        int32_t rate, tick;
    } ticks[] = {{44100, 12918}, {48000, 14060}, {24000, 7030}, {22050, 6459}, {11025, 3229}};
    for (auto t : ticks) {
        PsgInit(kClock, t.rate);
        EXPECT_EQ(psgChip.tick, t.tick) << t.rate;
    }
}

TEST(PsgInitState, SilencesVoicesAndClearsFeedback) {
    PsgInit(kClock, 44100);
    Write({0xE4});  // white noise, attenuation still 15
    Mix(5000);
    EXPECT_EQ(psgChip.shiftRegister, 0xF35) << "a silent noise voice does not shift";
    Write({0x80, 0x10, 0x90, 0xF0});
    Mix(100);
    EXPECT_NE(psgChip.shiftRegister, 0xF35);
    PsgInit(kClock, 44100);
    EXPECT_EQ(psgChip.feedback, 0) << "a new song starts without the last noise feedback";
    EXPECT_EQ(psgChip.shiftRegister, 0xF35);
    for (int16_t s : Mix(2000))
        ASSERT_EQ(s, 0) << "every voice is silent after init";
}

TEST(PsgTone, SquareWaveAt440Hz) {
    PsgInit(kClock, 44100);
    Write({0x8E, 0x0F, 0x90});  // tone 0 period 254, full level
    std::vector<int16_t> s;
    for (int part = 0; part < 10; ++part) {
        std::vector<int16_t> piece = Mix(4410);  // one call stays below 32768 samples
        s.insert(s.end(), piece.begin(), piece.end());
    }
    EXPECT_EQ(s[0], 6576);  // turns high 12918 time units into the sample
    for (int i = 1; i < 50; ++i)
        ASSERT_EQ(s[i], 8191) << i;
    EXPECT_EQ(s[50], 2160);
    for (int i = 51; i < 90; ++i)
        ASSERT_EQ(s[i], 0) << i;

    // Only 0, 8191 and single edge values; about 440 rising edges a second.
    int rises = 0;
    for (size_t i = 1; i < s.size(); ++i) {
        ASSERT_GE(s[i], 0);
        ASSERT_LE(s[i], 8191);
        if (s[i - 1] == 0 && s[i] != 0) ++rises;
        if (s[i] != 0 && s[i] != 8191) {
            ASSERT_TRUE(s[i - 1] == 0 || s[i - 1] == 8191) << "two edge values in a row at " << i;
        }
    }
    EXPECT_NEAR(rises, 440, 1);
}

TEST(PsgTone, HighestPitchAndPeriodZero) {
    PsgInit(kClock, 44100);
    Write({0x81, 0x00, 0x90});  // period 1
    std::vector<int16_t> s = Mix(4410);
    EXPECT_EQ(s[0], 3347);
    EXPECT_EQ(s[1], 4725);
    EXPECT_EQ(s[2], 3583);
    EXPECT_EQ(s[3], 4488);
    long long total = 0;
    for (int16_t v : s) {
        ASSERT_GT(v, 2500);
        ASSERT_LT(v, 5700);
        total += v;
    }
    EXPECT_NEAR(total / static_cast<double>(s.size()), 4095.0, 40.0);

    PsgInit(kClock, 44100);
    Write({0x80, 0x00, 0x90});  // period 0 sounds as 1
    EXPECT_EQ(Mix(4410), s);
}

TEST(PsgTone, PeriodChangeFinishesTheRunningHalfCycle) {
    PsgInit(kClock, 44100);
    Write({0x8E, 0x0F, 0x90});
    Mix(10);
    int32_t counter = psgChip.counter[0];
    Write({0x81, 0x00});  // period 1
    EXPECT_EQ(psgChip.counter[0], counter);
    EXPECT_EQ(psgChip.period[0], 12918);
    std::vector<int16_t> s = Mix(45);
    // The long half-cycle still runs to sample 50 (40 more samples at 8191).
    for (int i = 0; i < 39; ++i)
        ASSERT_EQ(s[i], 8191) << i;
    EXPECT_NE(s[41], 8191);
}

TEST(PsgTone, DataBytesAfterOtherLatchesAreIgnored) {
    PsgInit(kClock, 44100);
    Write({0x80, 0x10, 0x9F, 0x05});  // tone 0 period 256, silent, then a stray data byte
    EXPECT_EQ(psgChip.registers[1], 15);
    EXPECT_EQ(psgChip.registers[0], 256);
    for (int16_t v : Mix(2000))
        ASSERT_EQ(v, 0);

    Write({0xE5, 0x3F});  // noise control latch then a data byte
    EXPECT_EQ(psgChip.registers[6], 5);

    Write({0xA3, 0x22});  // tone 1: low nibble 3, high bits 0x22
    EXPECT_EQ(psgChip.registers[2], 0x223);
    EXPECT_EQ(psgChip.period[1], 12918 * 0x223);
    Write({0xAF});  // a new latch keeps the high bits
    EXPECT_EQ(psgChip.registers[2], 0x22F);
}

TEST(PsgTone, LevelsAndClamp) {
    // One voice held high: 8191; three voices: 24574; four: the sum passes
    // 0x7FFF0000 and clamps to 24575.
    PsgInit(kClock, 44100);
    Write({0x8F, 0x3F, 0x90});
    std::vector<int16_t> s = Mix(100);
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 8191);

    PsgInit(kClock, 44100);
    Write({0x8F, 0x3F, 0x90, 0xAF, 0x3F, 0xB0, 0xCF, 0x3F, 0xD0});
    s = Mix(100);
    EXPECT_EQ(s[50], 24574);

    Write({0xE4, 0xF0});  // add white noise at full level
    s = Mix(20000);
    EXPECT_EQ(*std::max_element(s.begin(), s.end()), 24575);
    EXPECT_EQ(*std::min_element(s.begin(), s.end()), 0);

    PsgInit(kClock, 44100);
    Write({0x8F, 0x3F, 0x91});
    s = Mix(100);
    EXPECT_EQ(s[50], (8675 * 3) >> 2);
}

TEST(PsgNoise, ShiftRegisterSequences) {
    PsgInit(kClock, 44100);
    Write({0xE4, 0xF0});
    std::vector<int16_t> s = Mix(8);
    const int16_t expected[] = {1614, 0, 0, 0, 0, 0, 4056, 8191};
    for (int i = 0; i < 8; ++i)
        EXPECT_EQ(s[i], expected[i]) << i;

    PsgInit(kClock, 44100);
    Write({0xE4, 0xF0});
    EXPECT_EQ(NoiseBits(40), "0101100111101011100101101011011100100011");

    // The white sequence returns to the seed after 57337 shifts, not before.
    PsgInit(kClock, 44100);
    Write({0xE4, 0xF0});
    int16_t sample;
    int shifts = 0;
    int samples = 0;
    int32_t last = psgChip.shiftRegister;
    do {
        PsgMix(&sample, 1);
        if (psgChip.shiftRegister != last) {
            ++shifts;
            last = psgChip.shiftRegister;
        }
    } while (last != 0xF35 && ++samples < 70000 * 7);
    EXPECT_EQ(shifts, 57337);

    PsgInit(kClock, 44100);
    Write({0xE0, 0xF0});  // periodic
    EXPECT_EQ(psgChip.feedback, 0x8000);
    const std::string periodic = "010110011110001";
    EXPECT_EQ(NoiseBits(45), periodic + periodic + periodic);
}

TEST(PsgNoise, ShiftRatesAndToneTwoFollowing) {
    PsgInit(kClock, 44100);
    Write({0xC0, 0x10, 0xE6});  // tone 2 period 256; shift every 2048 clocks
    EXPECT_EQ(psgChip.period[3], 12918 * 128);
    Write({0xC5});  // modes 0-2 do not follow tone 2
    EXPECT_EQ(psgChip.period[3], 12918 * 128);

    Write({0xE7});
    EXPECT_EQ(psgChip.period[3], 2 * 12918 * 0x105);
    Write({0xF0});
    Mix(3);
    int32_t counter = psgChip.counter[3];
    Write({0xC0, 0x01});  // tone 2 period 0x10: the noise follows from its next shift
    EXPECT_EQ(psgChip.period[3], 2 * 12918 * 0x10);
    EXPECT_EQ(psgChip.counter[3], counter);
    Write({0x02});  // a data byte alone changes it too
    EXPECT_EQ(psgChip.period[3], 2 * 12918 * 0x20);
}

TEST(PsgMixing, SilentVoiceRestsThroughTheCall) {
    PsgInit(kClock, 44100);
    Write({0x8F, 0x3F, 0x90});  // tone 0 period 1023: a half-cycle of about 200 samples
    Mix(2);
    Write({0x9F});
    const int32_t counter = psgChip.counter[0];
    const int32_t output = psgChip.output[0];
    ASSERT_GT(counter, 100 * 65536);

    // A counter that outlasts the call is counted down by the call's length.
    Mix(100);
    EXPECT_EQ(psgChip.counter[0], counter - 100 * 65536);
    // One that would run out inside the call, even the longest call, stays.
    const int32_t rested = psgChip.counter[0];
    for (int16_t v : Mix(kPsgMaxMix))
        ASSERT_EQ(v, 0);
    EXPECT_EQ(psgChip.counter[0], rested);
    EXPECT_EQ(psgChip.output[0], output);
}

TEST(PsgMixing, SplitCallsMatchOneCall) {
    auto setup = [] {
        PsgInit(kClock, 22050);
        Write({0x85, 0x07, 0x92, 0xA1, 0x0C, 0xB4, 0xC9, 0x02, 0xD0, 0xE7, 0xF3});
    };
    setup();
    std::vector<int16_t> whole = Mix(3000);
    setup();
    std::vector<int16_t> pieces;
    for (int32_t n : {1, 367, 368, 2, 800, 1000, 462}) {
        std::vector<int16_t> part = Mix(n);
        pieces.insert(pieces.end(), part.begin(), part.end());
    }
    ASSERT_EQ(pieces.size(), whole.size());
    EXPECT_EQ(pieces, whole);
    EXPECT_GT(*std::max_element(whole.begin(), whole.end()), 0);
}

}  // namespace
