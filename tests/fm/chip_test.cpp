// The chip's register side: clocks, prescalers, reset, register decoding
// (keys, frequencies, the channel-2 modes, channel enable, PCM queue, LFO)
// and the status flags with the interrupt line.
#include <gtest/gtest.h>

#include <vector>

#include "chip_probe.h"
#include "chip_support.h"
#include "fm/tables.h"

using namespace chiptest;

namespace {

// Key flags of all six channels, bit k = operator k.
std::vector<int> KeyPattern(const FmChip& chip) {
    std::vector<int> pattern(6, 0);
    for (int ch = 0; ch < 6; ++ch) {
        for (int k = 0; k < 4; ++k) {
            pattern[ch] |= FmChipProbe::Channel(chip, ch).op[k].keyOn ? 1 << k : 0;
        }
    }
    return pattern;
}

}  // namespace

TEST(ChipClock, RatesRatiosAndPrescalers) {
    struct Case {
        uint32_t rate;
        bool interpolate;
        uint32_t synthesisRate;
        int32_t step;
        uint32_t ratio;
    };
    for (const Case& c :
         {Case{44100, true, 53266, 13564, 256}, Case{48000, true, 53266, 14764, 256},
          Case{22050, true, 26633, 13564, 512}, Case{44100, false, 44100, 0, 309},
          Case{11025, false, 11025, 0, 1237}}) {
        SCOPED_TRACE(testing::Message() << c.rate << " " << c.interpolate);
        auto chip = MakeChip(c.rate, c.interpolate);
        EXPECT_EQ(chip->SynthesisRate(), c.synthesisRate);
        EXPECT_EQ(FmChipProbe::Interpolating(*chip), c.interpolate);
        EXPECT_EQ(FmChipProbe::ResampleStep(*chip), c.step);
        EXPECT_EQ(chip->RateRatio(), c.ratio);
        EXPECT_EQ(MultipleTable[1], c.ratio);  // the rate tables follow
    }

    // 0x2D-0x2F select divisors 6, 3, 2; re-selecting changes nothing, and
    // re-clocking keeps the selection.
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x2E, 0);
    EXPECT_EQ(chip->RateRatio(), 618u);
    chip->WriteRegister(0x2F, 0x55);
    chip->WriteRegister(0x2F, 0);
    EXPECT_EQ(chip->RateRatio(), 928u);
    EXPECT_EQ(MultipleTable[2], 2 * 928u);
    chip->SetClockAndRate(kPlayerClock, 22050, false);
    EXPECT_EQ(chip->Prescaler(), 2);
    EXPECT_EQ(chip->RateRatio(), (159800u * 256 + 11025) / 22050);
    chip->WriteRegister(0x2D, 0);
    EXPECT_EQ(chip->RateRatio(), 618u);

    // The settings' clock gives the same synthesis rate at twice the ratio.
    ASSERT_TRUE(chip->Initialize(7670442, 44100, true));
    EXPECT_EQ(chip->SynthesisRate(), 53266u);
    EXPECT_EQ(chip->RateRatio(), 512u);
}

TEST(ChipClock, RatesBeyondResamplingRunDirect) {
    // Nothing to down-sample from above the halved chip rate: the channels
    // run at the output rate so the pitch stays right.
    auto chip = MakeChip(96000, true);
    EXPECT_FALSE(FmChipProbe::Interpolating(*chip));
    EXPECT_EQ(chip->SynthesisRate(), 96000u);
    EXPECT_EQ(chip->RateRatio(), (53266u * 256 + 48000) / 96000);
    // Degenerate settings must not divide by zero.
    chip->SetClockAndRate(kPlayerClock, 0, true);
    EXPECT_FALSE(FmChipProbe::Interpolating(*chip));
    chip->SetClockAndRate(50, 44100, true);
    EXPECT_EQ(chip->SynthesisRate(), 44100u);
}

TEST(ChipReset, PowersOnButKeepsGains) {
    auto chip = MakeChip(44100, true);
    chip->SetFmGain(-20);
    LoadPatch(*chip, 0, 7, 3);
    SetNote(*chip, 0, 4, 0x269);
    KeyOn(*chip, 0);
    chip->WriteRegister(0x22, 0x0B);
    chip->WriteRegister(0x27, 0x40);
    chip->WriteRegister(0x2F, 0);
    chip->WriteRegister(0xB5, 0x40);
    Render(*chip, 100);
    ASSERT_NE(FmChipProbe::ResamplePhase(*chip), 0x3FFF);

    chip->ResetChip();
    // The latched high byte is gone before 0xA0 is zeroed.
    EXPECT_EQ(FmChipProbe::BlockFnum(*chip, 0), 0u);
    chip->WriteRegister(0xA0, 0x05);
    EXPECT_EQ(FmChipProbe::BlockFnum(*chip, 0), 0x0005u);
    EXPECT_EQ(chip->Mode(), 0);
    EXPECT_EQ(FmChipProbe::LfoStep(*chip), 0u);
    EXPECT_EQ(FmChipProbe::Reg29(*chip), 0x1F);
    EXPECT_EQ(FmChipProbe::StatusMask(*chip), 0xE3);
    EXPECT_EQ(chip->RateRatio(), 256u);  // prescaler 0 again
    for (int ch = 0; ch < 6; ++ch) {
        EXPECT_EQ(FmChipProbe::Pan(*chip, ch), 3);
        for (const FmOperator& op : FmChipProbe::Channel(*chip, ch).op) {
            EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
            EXPECT_EQ(op.totalLevel, 127);  // the channel reset wins over the zero writes
        }
    }
    EXPECT_EQ(FmChipProbe::FmGain(*chip), 5181);
    EXPECT_EQ(FmChipProbe::ResamplePhase(*chip), 0x3FFF);
    EXPECT_EQ(FmChipProbe::ResampleLeft(*chip), 0);
    EXPECT_EQ(FmChipProbe::ResampleRight(*chip), 0);

    // A key held when the reset came is up: the next key-on starts a note.
    EXPECT_EQ(KeyPattern(*chip)[0], 0);
    KeyOn(*chip, 0);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 0).op[3].envPhase, EnvelopePhase::Attack);
}

TEST(ChipRegisters, KeyRegisterAndCsmMode) {
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x28, 0xF3);  // low bits 3: no channel
    chip->WriteRegister(0x28, 0xF7);
    chip->WriteRegister(0x128, 0xF0);  // port 1 has no key register
    EXPECT_EQ(KeyPattern(*chip), std::vector<int>(6, 0));
    chip->WriteRegister(0x28, 0xF4);
    chip->WriteRegister(0x28, 0xF6);
    chip->WriteRegister(0x28, 0x11);
    chip->WriteRegister(0x28, 0x24);  // channel 3 again: only operator 1 stays
    EXPECT_EQ(KeyPattern(*chip), (std::vector<int>{0, 0x1, 0, 0x2, 0, 0xF}));

    // CSM: channel 2 cannot be keyed on and its total levels are latched.
    chip->WriteRegister(0x27, 0x80);
    chip->WriteRegister(0x28, 0xF2);
    chip->WriteRegister(0x28, 0xF0);
    EXPECT_EQ(KeyPattern(*chip)[2], 0);
    EXPECT_EQ(KeyPattern(*chip)[0], 0xF);
    chip->WriteRegister(OperatorAddress(0x40, 2, 1), 0x10);
    chip->WriteRegister(OperatorAddress(0x40, 1, 1), 0x11);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 2).op[1].totalLevel, 127);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 1).op[1].totalLevel, 0x11);

    // Special mode alone keys normally; the latched level arrives.
    chip->WriteRegister(0x27, 0x40);
    chip->WriteRegister(0x28, 0xF2);
    EXPECT_EQ(KeyPattern(*chip)[2], 0xF);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 2).op[1].totalLevel, 0x10);

    // In CSM mode a clear bit keys off, a set bit leaves the operator alone.
    chip->WriteRegister(0x27, 0x80);
    chip->WriteRegister(0x28, 0x52);
    EXPECT_EQ(KeyPattern(*chip)[2], 0x5);
    chip->WriteRegister(0x28, 0x02);
    EXPECT_EQ(KeyPattern(*chip)[2], 0x0);
}

TEST(ChipRegisters, OperatorSlotsAndIgnoredAddresses) {
    auto chip = MakeChip(44100, false);
    // Offsets +0, +4, +8, +0xC reach operators 0, 2, 1, 3; port 1 channels 3-5.
    chip->WriteRegister(0x31, 0x71);
    chip->WriteRegister(0x35, 0x02);
    chip->WriteRegister(0x39, 0x03);
    chip->WriteRegister(0x3D, 0x04);
    chip->WriteRegister(0x156, 0xC5);
    const FmChannel& ch1 = FmChipProbe::Channel(*chip, 1);
    EXPECT_EQ(ch1.op[0].detuneRow, 7u * 32);
    EXPECT_EQ((std::vector<uint32_t>{ch1.op[0].multiple, ch1.op[1].multiple, ch1.op[2].multiple,
                                     ch1.op[3].multiple}),
              (std::vector<uint32_t>{1, 3, 2, 4}));
    EXPECT_EQ(FmChipProbe::Channel(*chip, 5).op[2].keyScale, 3);

    const std::vector<FmChannel> before(&FmChipProbe::Channel(*chip, 0),
                                        &FmChipProbe::Channel(*chip, 0) + 6);
    for (uint32_t address : {0x33u, 0x47u, 0x13Fu, 0x1A3u, 0xB3u, 0xB7u, 0x1B7u, 0xC0u, 0x1D6u}) {
        chip->WriteRegister(address, 0xFF);
    }
    for (int ch = 0; ch < 6; ++ch) {
        for (int k = 0; k < 4; ++k) {
            EXPECT_EQ(before[ch].op[k].multiple, FmChipProbe::Channel(*chip, ch).op[k].multiple);
            EXPECT_EQ(before[ch].op[k].totalLevelLatch,
                      FmChipProbe::Channel(*chip, ch).op[k].totalLevelLatch);
            EXPECT_EQ(before[ch].op[k].lfoSensitivity,
                      FmChipProbe::Channel(*chip, ch).op[k].lfoSensitivity);
        }
        EXPECT_EQ(before[ch].feedbackShift, FmChipProbe::Channel(*chip, ch).feedbackShift);
        EXPECT_EQ(FmChipProbe::Pan(*chip, ch), 3);
    }
}

TEST(ChipRegisters, FrequencyHighByteWaitsForTheLowByte) {
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0xA4, 0x22);
    chip->WriteRegister(0xA0, 0x69);
    Render(*chip, 4);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 0).op[0].pitch, PitchOf(0x2269));

    chip->WriteRegister(0xA4, 0x13);  // alone: nothing, not even after a mix
    Render(*chip, 4);
    EXPECT_EQ(FmChipProbe::BlockFnum(*chip, 0), 0x2269u);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 0).op[3].pitch, PitchOf(0x2269));

    chip->WriteRegister(0x1A5, 0x0C);  // port 1 latches per channel
    chip->WriteRegister(0xA0, 0x00);
    chip->WriteRegister(0x1A1, 0x34);
    Render(*chip, 4);
    EXPECT_EQ(FmChipProbe::Channel(*chip, 0).op[1].pitch, PitchOf(0x1300));
    EXPECT_EQ(FmChipProbe::Channel(*chip, 4).op[2].pitch, PitchOf(0x0C34));
    EXPECT_EQ(FmChipProbe::BlockFnum(*chip, 1), 0u);
}

TEST(ChipRegisters, ChannelTwoSpecialModeGivesEachOperatorItsOwnWord) {
    auto chip = MakeChip(44100, false);
    const uint32_t writes[][2] = {{0xAD, 0x11},  {0xA9, 0x01}, {0xAE, 0x12}, {0xAA, 0x02},
                                  {0xAC, 0x13},  {0xA8, 0x03}, {0xA6, 0x14}, {0xA2, 0x04},
                                  {0x1A9, 0x77}, {0x1AD, 0x77}};
    for (const auto& w : writes) {
        chip->WriteRegister(w[0], static_cast<uint8_t>(w[1]));
    }
    Render(*chip, 1);
    for (const FmOperator& op : FmChipProbe::Channel(*chip, 2).op) {
        EXPECT_EQ(op.pitch, PitchOf(0x1404));
    }
    for (uint8_t mode : {0x40, 0x80, 0xC0}) {
        SCOPED_TRACE(static_cast<int>(mode));
        chip->WriteRegister(0x27, mode);
        Render(*chip, 1);
        const FmChannel& ch2 = FmChipProbe::Channel(*chip, 2);
        EXPECT_EQ(ch2.op[0].pitch, PitchOf(0x1101));
        EXPECT_EQ(ch2.op[1].pitch, PitchOf(0x1202));
        EXPECT_EQ(ch2.op[2].pitch, PitchOf(0x1303));
        EXPECT_EQ(ch2.op[3].pitch, PitchOf(0x1404));
        EXPECT_EQ(ch2.op[0].keyCode, KeyCodeTable[(0x1101 >> 7) & 127]);
    }
}

TEST(ChipRegisters, ChannelsThreeToFiveNeedTheEnableBit) {
    // Channel 2 left, channel 3 right, channel 4 right. With 0x29 bit 7
    // clear, channel 4 is not rendered, and channel 3 is computed beside
    // channel 2 but must not be heard: the chip still holding channel 3's
    // note must sound like the one whose channel 3 was released.
    auto build = [](bool holdChannel3) {
        auto chip = MakeChip(44100, false);
        for (int ch : {2, 3, 4}) {
            LoadPatch(*chip, ch, 7, 0, 0x7F, ch == 2 ? 0x80 : 0x40);
            SetNote(*chip, ch, 4, 0x300 + 0x100 * static_cast<uint32_t>(ch - 2));
            KeyOn(*chip, ch);
        }
        Render(*chip, 50);
        if (!holdChannel3) {
            KeyOff(*chip, 3);  // release rate 15: Off at once
        }
        Render(*chip, 1);
        chip->WriteRegister(0x29, 0x1F);
        return chip;
    };
    auto held = build(true);
    auto released = build(false);
    const uint32_t phaseBefore = FmChipProbe::Channel(*held, 3).op[3].phase;
    const auto a = Render(*held, 500);
    EXPECT_GT(PeakOf(a, 0), 1000);
    EXPECT_EQ(PeakOf(a, 1), 0);
    EXPECT_EQ(a, Render(*released, 500));
    EXPECT_NE(FmChipProbe::Channel(*held, 3).op[3].phase, phaseBefore);  // computed all the same

    held->WriteRegister(0x29, 0x80);
    EXPECT_GT(PeakOf(Render(*held, 500), 1), 1000);
}

TEST(ChipRegisters, PcmQueueLimits) {
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x2A, 0x11);  // PCM off: lost
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 0);
    chip->WriteRegister(0x2B, 0x80);
    for (int i = 0; i < 8193; ++i) {
        chip->WriteRegister(0x2A, static_cast<uint8_t>(i));
    }
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 8192);  // the 8193rd is lost
    EXPECT_EQ(FmChipProbe::PcmQueueByte(*chip, 8192), 0xFF);
    chip->DiscardPcmQueue();
    chip->WriteRegister(0x2A, 0x33);
    chip->WriteRegister(0x12A, 0x44);  // port 1 has no PCM register
    chip->WriteRegister(0x2B, 0x7F);
    chip->WriteRegister(0x2A, 0x44);
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 1);
    EXPECT_EQ(FmChipProbe::PcmQueueByte(*chip, 1), 0x33);

    // A chip that was never initialised has no queue and refuses bytes.
    auto bare = std::make_unique<FmChip>();
    bare->SetClockAndRate(kPlayerClock, 44100, true);
    bare->ResetChip();
    bare->SetPcmGain(0);
    bare->WriteRegister(0x2B, 0x80);
    bare->WriteRegister(0x2A, 0xFF);
    EXPECT_EQ(FmChipProbe::PcmCount(*bare), 0);
    EXPECT_EQ(Render(*bare, 64), std::vector<int32_t>(128, 0));
}

TEST(ChipRegisters, LfoRegisterRestartsTheCounterOnlyWhenSwitched) {
    auto chip = MakeChip(44100, false);
    LoadPatch(*chip, 0, 7, 0, 0x7F, 0xC7);
    KeyOn(*chip, 0);
    chip->WriteRegister(0x22, 0x0B);
    Render(*chip, 100);
    const uint32_t count = FmChipProbe::LfoCount(*chip);
    EXPECT_EQ(count, 100u * static_cast<uint32_t>(LfoSpeedTable[3]));
    chip->WriteRegister(0x22, 0x0E);  // bit 3 unchanged: only the speed changes
    EXPECT_EQ(FmChipProbe::LfoCount(*chip), count);
    EXPECT_EQ(FmChipProbe::LfoStep(*chip), static_cast<uint32_t>(LfoSpeedTable[6]));
    chip->WriteRegister(0x22, 0x06);
    EXPECT_EQ(FmChipProbe::LfoCount(*chip), 0u);
    EXPECT_EQ(FmChipProbe::LfoStep(*chip), 0u);

    // Re-clocking re-reads the speed from the table just rebuilt.
    chip->WriteRegister(0x22, 0x0E);
    chip->SetClockAndRate(kPlayerClock, 22050, false);
    EXPECT_EQ(FmChipProbe::LfoStep(*chip), static_cast<uint32_t>(LfoSpeedTable[6]));
    EXPECT_EQ(CachedRateRatio(), 618u);
}

namespace {

class RecordingChip : public FmChip {
public:
    void OnInterruptLine(bool asserted) override { line.push_back(asserted); }
    std::vector<bool> line;
};

}  // namespace

TEST(ChipStatus, FlagsMaskAndInterruptLine) {
    auto chip = std::make_unique<RecordingChip>();
    chip->Initialize(kPlayerClock, 44100, false);
    ASSERT_EQ(chip->line, std::vector<bool>{false});  // the reset drops the line
    chip->line.clear();

    chip->RaiseStatus(1);
    chip->RaiseStatus(3);  // one of them already set: nothing
    EXPECT_EQ(chip->Status(), 1);
    chip->WriteRegister(0x27, 0x20);  // clears timer B's flag only
    EXPECT_EQ(chip->Status(), 1);
    chip->WriteRegister(0x27, 0x10);
    EXPECT_EQ(chip->Status(), 0);
    EXPECT_EQ(chip->line, (std::vector<bool>{true, true, false}));

    chip->RaiseStatus(2);
    chip->WriteRegister(0x010, 0x80);  // port 0's 0x10 is not the status register
    EXPECT_EQ(chip->Status(), 2);
    chip->WriteRegister(0x110, 0x80);
    EXPECT_EQ(chip->Status(), 0);
    EXPECT_EQ(FmChipProbe::StatusMask(*chip), 0xE3);
    chip->WriteRegister(0x110, 0x63);  // only bits 0-4 count
    EXPECT_EQ(FmChipProbe::StatusMask(*chip), 0xFC);
    chip->line.clear();
    chip->RaiseStatus(3);  // both masked
    EXPECT_EQ(chip->Status(), 0);

    // The line follows the interrupt enables of 0x29.
    chip->WriteRegister(0x110, 0x00);
    chip->WriteRegister(0x29, 0x80);
    chip->RaiseStatus(1);
    EXPECT_EQ(chip->Status(), 1);
    EXPECT_EQ(chip->line, (std::vector<bool>{false, false}));
}
