// The chip's register side: clocks and rates, prescalers, reset, register
// decoding (keys, frequencies, the channel-2 modes, channel enable, PCM
// queue) and the status flags with the interrupt line.
#include <gtest/gtest.h>

#include <vector>

#include "chip_support.h"
#include "fm/tables.h"

using namespace chiptest;

namespace {

bool AnyKeyOn(const FmChip& chip, int channel)
{
    for (const FmOperator& op : chip.Channel(channel).op) {
        if (op.keyOn) {
            return true;
        }
    }
    return false;
}

// Key flags of all six channels, four bits each (bit k = operator k).
std::vector<int> KeyPattern(const FmChip& chip)
{
    std::vector<int> pattern;
    for (int ch = 0; ch < 6; ++ch) {
        int bits = 0;
        for (int k = 0; k < 4; ++k) {
            bits |= chip.Channel(ch).op[k].keyOn ? 1 << k : 0;
        }
        pattern.push_back(bits);
    }
    return pattern;
}

}  // namespace

TEST(ChipClock, SynthesisRateStepAndRatioAtThePlayersRates)
{
    struct Case {
        uint32_t rate;
        bool interpolate;
        uint32_t synthesisRate;
        int32_t step;        // checked only with interpolation
        uint32_t rateRatio;  // prescaler 0
    };
    const Case cases[] = {
        {44100, true, 53266, 13564, 256},
        {48000, true, 53266, 14764, 256},
        {22050, true, 26633, 13564, 512},
        {44100, false, 44100, 0, 309},
        {22050, false, 22050, 0, 618},
        {11025, false, 11025, 0, 1237},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.rate << (c.interpolate ? " resampled" : " direct"));
        auto chip = MakeChip(c.rate, c.interpolate);
        EXPECT_EQ(chip->SynthesisRate(), c.synthesisRate);
        EXPECT_EQ(chip->Interpolating(), c.interpolate);
        if (c.interpolate) {
            EXPECT_EQ(chip->ResampleStep(), c.step);
        }
        EXPECT_EQ(chip->Prescaler(), 0);
        EXPECT_EQ(chip->RateRatio(), c.rateRatio);
        EXPECT_EQ(CachedRateRatio(), c.rateRatio);
        EXPECT_EQ(MultipleTable[1], c.rateRatio);
    }
}

TEST(ChipClock, SettingsClockAndReclockingKeepThePrescaler)
{
    auto chip = std::make_unique<FmChip>();
    EXPECT_EQ(chip->Prescaler(), 255);
    ASSERT_TRUE(chip->Initialize(7670442, 44100, true));
    EXPECT_EQ(chip->SynthesisRate(), 53266u);
    EXPECT_EQ(chip->RateRatio(), 512u);
    EXPECT_TRUE(chip->HasPcmQueue());

    // Re-clocking recomputes the ratio for the selected prescaler (here 1).
    chip->WriteRegister(0x2E, 0);
    chip->SetClockAndRate(PlayerClock, 44100, false);
    EXPECT_EQ(chip->Prescaler(), 1);
    EXPECT_EQ(chip->RateRatio(), 618u);
    EXPECT_EQ(chip->Clock(), PlayerClock);
}

TEST(ChipClock, RatesThatCannotBeResampledRunDirect)
{
    // Above the halved chip rate there is nothing to down-sample from: the
    // channels run at the output rate, so the pitch is that of direct mode.
    auto chip = MakeChip(96000, true);
    EXPECT_FALSE(chip->Interpolating());
    EXPECT_EQ(chip->SynthesisRate(), 96000u);
    EXPECT_EQ(chip->RateRatio(), (53266u * 256 + 48000) / 96000);

    // Degenerate settings must not divide by zero.
    chip->SetClockAndRate(PlayerClock, 0, true);
    EXPECT_FALSE(chip->Interpolating());
    chip->SetClockAndRate(50, 44100, true);
    EXPECT_FALSE(chip->Interpolating());
    EXPECT_EQ(chip->SynthesisRate(), 44100u);
}

TEST(ChipClock, PrescalerRegistersSwitchTheRatio)
{
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x2E, 0);
    EXPECT_EQ(chip->Prescaler(), 1);
    EXPECT_EQ(chip->RateRatio(), 618u);
    EXPECT_EQ(MultipleTable[1], 618u);
    chip->WriteRegister(0x2F, 0x55);
    EXPECT_EQ(chip->Prescaler(), 2);
    EXPECT_EQ(chip->RateRatio(), 928u);
    EXPECT_EQ(MultipleTable[2], 2 * 928u);
    chip->WriteRegister(0x2F, 0);
    EXPECT_EQ(chip->Prescaler(), 2);
    EXPECT_EQ(chip->RateRatio(), 928u);
    chip->WriteRegister(0x2D, 0);
    EXPECT_EQ(chip->RateRatio(), 309u);
    EXPECT_EQ(MultipleTable[1], 309u);
}

TEST(ChipReset, ClearsRegistersButKeepsKeysGainsAndTheLatchedHighByte)
{
    auto chip = MakeChip(44100, true);
    chip->SetFmGain(-20);
    LoadPatch(*chip, 0, 7, 3);
    SetNote(*chip, 0, 4, 0x269);
    chip->WriteRegister(0xA4, 0x22);  // waits for a low byte
    KeyOn(*chip, 0);
    chip->WriteRegister(0x22, 0x0B);
    chip->WriteRegister(0x27, 0x40);
    chip->WriteRegister(0x2F, 0);
    chip->WriteRegister(0xB5, 0x40);
    Render(*chip, 100);
    ASSERT_NE(chip->ResamplePhase(), 0x3FFF);

    const int32_t phase = chip->ResamplePhase();
    chip->ResetChip();

    // 0xA0 is zeroed before 0xA4, so the word keeps the old high byte.
    EXPECT_EQ(chip->BlockFnum(0), 0x2200u);
    chip->WriteRegister(0xA0, 0x05);
    EXPECT_EQ(chip->BlockFnum(0), 0x0005u);

    EXPECT_EQ(chip->Mode(), 0);
    EXPECT_EQ(chip->LfoControl(), 0);
    EXPECT_EQ(chip->LfoCount(), 0u);
    EXPECT_EQ(chip->LfoStep(), 0u);
    EXPECT_EQ(chip->Reg29(), 0x1F);
    EXPECT_EQ(chip->StatusMask(), 0xE3);
    EXPECT_EQ(chip->Prescaler(), 0);
    EXPECT_EQ(chip->RateRatio(), 256u);
    for (int ch = 0; ch < 6; ++ch) {
        EXPECT_EQ(chip->Pan(ch), 3);
        for (const FmOperator& op : chip->Channel(ch).op) {
            EXPECT_EQ(op.envPhase, EnvelopePhase::Off);
            EXPECT_EQ(op.totalLevel, 127);  // the channel reset wins over the zero writes
        }
    }
    // Untouched: gain, resampler, the key flags (0x28 is not written).
    EXPECT_EQ(chip->FmGain(), 5181);
    EXPECT_EQ(chip->ResamplePhase(), phase);
    EXPECT_TRUE(AnyKeyOn(*chip, 0));

    // A held key ignores the next key-on until it has been keyed off.
    KeyOn(*chip, 0);
    EXPECT_EQ(chip->Channel(0).op[3].envPhase, EnvelopePhase::Off);
    KeyOff(*chip, 0);
    KeyOn(*chip, 0);
    EXPECT_NE(chip->Channel(0).op[3].envPhase, EnvelopePhase::Off);
}

TEST(ChipRegisters, KeyRegisterSelectsChannelAndOperators)
{
    auto chip = MakeChip(44100, false);
    const std::vector<int> none(6, 0);

    chip->WriteRegister(0x28, 0xF3);
    chip->WriteRegister(0x28, 0xF7);
    EXPECT_EQ(KeyPattern(*chip), none);

    chip->WriteRegister(0x28, 0xF4);
    EXPECT_EQ(KeyPattern(*chip), (std::vector<int>{0, 0, 0, 0xF, 0, 0}));
    chip->WriteRegister(0x28, 0xF6);
    EXPECT_EQ(KeyPattern(*chip), (std::vector<int>{0, 0, 0, 0xF, 0, 0xF}));
    chip->WriteRegister(0x28, 0x11);  // operator 0 of channel 1
    chip->WriteRegister(0x28, 0x82);  // operator 3 of channel 2
    chip->WriteRegister(0x128, 0xF0);  // port 1 has no key register
    EXPECT_EQ(KeyPattern(*chip), (std::vector<int>{0, 0x1, 0x8, 0xF, 0, 0xF}));
    chip->WriteRegister(0x28, 0x24);  // channel 3: only operator 1 stays on
    EXPECT_EQ(KeyPattern(*chip), (std::vector<int>{0, 0x1, 0x8, 0x2, 0, 0xF}));
}

TEST(ChipRegisters, CsmModeHoldsBackKeyOnAndTotalLevelOfChannelTwo)
{
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x27, 0x80);
    chip->WriteRegister(0x28, 0xF2);
    EXPECT_FALSE(AnyKeyOn(*chip, 2));
    chip->WriteRegister(0x28, 0xF1);  // other channels key as usual
    EXPECT_EQ(KeyPattern(*chip)[1], 0xF);

    // Total level of channel 2 is latched; channel 1's applies at once.
    chip->WriteRegister(OperatorAddress(0x40, 2, 1), 0x10);
    chip->WriteRegister(OperatorAddress(0x40, 1, 1), 0x11);
    EXPECT_EQ(chip->Channel(2).op[1].totalLevel, 127);
    EXPECT_EQ(chip->Channel(2).op[1].totalLevelLatch, 0x10);
    EXPECT_EQ(chip->Channel(1).op[1].totalLevel, 0x11);

    // Special mode alone keys channel 2 normally; the latched level arrives.
    chip->WriteRegister(0x27, 0x40);
    chip->WriteRegister(0x28, 0xF2);
    EXPECT_EQ(KeyPattern(*chip)[2], 0xF);
    EXPECT_EQ(chip->Channel(2).op[1].totalLevel, 0x10);

    // Back in CSM mode the register can still key operators off: a set bit
    // leaves its operator alone, a clear bit keys it off.
    chip->WriteRegister(0x27, 0x80);
    chip->WriteRegister(0x28, 0x52);
    EXPECT_EQ(KeyPattern(*chip)[2], 0x5);
    chip->WriteRegister(0x28, 0x02);
    EXPECT_EQ(KeyPattern(*chip)[2], 0x0);
}

TEST(ChipRegisters, OperatorRegistersReachTheirOperators)
{
    auto chip = MakeChip(44100, false);
    // Offsets +0, +4, +8, +0xC reach operators 0, 2, 1, 3.
    chip->WriteRegister(0x30, 0x71);
    chip->WriteRegister(0x34, 0x12);
    chip->WriteRegister(0x38, 0x23);
    chip->WriteRegister(0x3C, 0x34);
    EXPECT_EQ(chip->Channel(0).op[0].multiple, 1u);
    EXPECT_EQ(chip->Channel(0).op[0].detuneRow, 7u * 32);
    EXPECT_EQ(chip->Channel(0).op[2].multiple, 2u);
    EXPECT_EQ(chip->Channel(0).op[1].multiple, 3u);
    EXPECT_EQ(chip->Channel(0).op[3].multiple, 4u);

    // Port 1 reaches channels 3-5; low bits 3 reach nothing.
    chip->WriteRegister(0x155, 0xC5);  // channel 4, operator 2: KS 3, AR 5
    EXPECT_EQ(chip->Channel(4).op[2].keyScale, 3);
    EXPECT_EQ(chip->Channel(4).op[2].attackRate, 10);
    chip->WriteRegister(0x62, 0x9F);
    EXPECT_TRUE(chip->Channel(2).op[0].ampLfoOn);
    EXPECT_EQ(chip->Channel(2).op[0].decayRate, 62);
    chip->WriteRegister(0x1D6, 0x00);  // past the operator groups: ignored
    chip->WriteRegister(0x171, 0x07);
    EXPECT_EQ(chip->Channel(4).op[0].sustainRate, 14);
    chip->WriteRegister(0x18E, 0x3A);
    EXPECT_EQ(chip->Channel(5).op[3].sustainLevel, 12);
    EXPECT_EQ(chip->Channel(5).op[3].releaseRate, 42);
    chip->WriteRegister(0x9D, 0x0B);
    EXPECT_EQ(chip->Channel(1).op[3].ssgEg, 0x0B);

    const std::vector<FmChannel> before(&chip->Channel(0), &chip->Channel(0) + 6);
    for (uint32_t address : {0x33u, 0x47u, 0x5Bu, 0x13Fu, 0x1A3u, 0xB3u, 0xB7u, 0x1B7u}) {
        chip->WriteRegister(address, 0xFF);
    }
    for (int ch = 0; ch < 6; ++ch) {
        for (int k = 0; k < 4; ++k) {
            const FmOperator& a = before[ch].op[k];
            const FmOperator& b = chip->Channel(ch).op[k];
            EXPECT_EQ(a.multiple, b.multiple);
            EXPECT_EQ(a.totalLevelLatch, b.totalLevelLatch);
            EXPECT_EQ(a.attackRate, b.attackRate);
            EXPECT_EQ(a.lfoSensitivity, b.lfoSensitivity);
        }
        EXPECT_EQ(before[ch].feedbackShift, chip->Channel(ch).feedbackShift);
        EXPECT_EQ(chip->Pan(ch), 3);
    }
}

TEST(ChipRegisters, ChannelRegistersFeedbackAlgorithmPanAndSensitivity)
{
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x1B1, 0x3D);  // channel 4: FB 7, algorithm 5
    EXPECT_EQ(chip->Channel(4).feedbackShift, FeedbackShiftTable[7]);
    EXPECT_EQ(chip->Channel(4).operatorInput[1], AlgorithmRoutingTable[5][2]);
    chip->WriteRegister(0xB6, 0x75);  // channel 2: right only, AMS 3, PMS 5
    EXPECT_EQ(chip->Pan(2), 1);
    EXPECT_EQ(chip->Channel(2).op[3].lfoSensitivity, 0x75);
    chip->WriteRegister(0x1B4, 0x80);
    EXPECT_EQ(chip->Pan(3), 2);
}

TEST(ChipRegisters, FrequencyHighByteWaitsForTheLowByte)
{
    auto chip = MakeChip(44100, false);
    LoadPatch(*chip, 0, 0, 0);
    chip->WriteRegister(0xA4, 0x22);
    chip->WriteRegister(0xA0, 0x69);
    EXPECT_EQ(chip->BlockFnum(0), 0x2269u);
    Render(*chip, 4);
    EXPECT_EQ(chip->Channel(0).op[0].pitch, PitchOf(0x2269));

    // The high byte alone changes nothing, not even after a mix.
    chip->WriteRegister(0xA4, 0x13);
    EXPECT_EQ(chip->BlockFnum(0), 0x2269u);
    Render(*chip, 4);
    EXPECT_EQ(chip->Channel(0).op[3].pitch, PitchOf(0x2269));

    // The next low byte takes it; port 1 latches per channel.
    chip->WriteRegister(0x1A5, 0x0C);
    chip->WriteRegister(0xA0, 0x00);
    EXPECT_EQ(chip->BlockFnum(0), 0x1300u);
    chip->WriteRegister(0x1A1, 0x34);
    EXPECT_EQ(chip->BlockFnum(4), 0x0C34u);
    EXPECT_EQ(chip->BlockFnum(1), 0u);
    Render(*chip, 4);
    EXPECT_EQ(chip->Channel(0).op[1].pitch, PitchOf(0x1300));
    EXPECT_EQ(chip->Channel(4).op[2].pitch, PitchOf(0x0C34));
}

TEST(ChipRegisters, ChannelTwoSpecialModeGivesEachOperatorItsOwnWord)
{
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0xAD, 0x11);
    chip->WriteRegister(0xA9, 0x01);
    chip->WriteRegister(0xAE, 0x12);
    chip->WriteRegister(0xAA, 0x02);
    chip->WriteRegister(0xAC, 0x13);
    chip->WriteRegister(0xA8, 0x03);
    chip->WriteRegister(0xA6, 0x14);
    chip->WriteRegister(0xA2, 0x04);
    chip->WriteRegister(0x1A9, 0x77);  // port 1 has no such registers
    chip->WriteRegister(0x1AD, 0x77);
    EXPECT_EQ(chip->SlotBlockFnum(0), 0x1303u);
    EXPECT_EQ(chip->SlotBlockFnum(1), 0x1101u);
    EXPECT_EQ(chip->SlotBlockFnum(2), 0x1202u);

    Render(*chip, 1);
    for (const FmOperator& op : chip->Channel(2).op) {
        EXPECT_EQ(op.pitch, PitchOf(0x1404));
    }

    for (uint8_t mode : {0x40, 0x80, 0xC0}) {
        SCOPED_TRACE(static_cast<int>(mode));
        chip->WriteRegister(0x27, mode);
        Render(*chip, 1);
        const FmChannel& ch2 = chip->Channel(2);
        EXPECT_EQ(ch2.op[0].pitch, PitchOf(0x1101));
        EXPECT_EQ(ch2.op[1].pitch, PitchOf(0x1202));
        EXPECT_EQ(ch2.op[2].pitch, PitchOf(0x1303));
        EXPECT_EQ(ch2.op[3].pitch, PitchOf(0x1404));
        EXPECT_EQ(ch2.op[0].keyCode, KeyCodeTable[(0x1101 >> 7) & 127]);
    }
}

TEST(ChipRegisters, ChannelsThreeToFiveNeedTheEnableBit)
{
    // After a reset channels 3-5 stay out of mixing until 0x29 bit 7.
    auto chip = MakeChip(44100, false);
    chip->ResetChip();
    LoadPatch(*chip, 4, 7, 0);
    SetNote(*chip, 4, 4, 0x500);
    KeyOn(*chip, 4);
    EXPECT_EQ(PeakOf(Render(*chip, 300), 0), 0);
    chip->WriteRegister(0x29, 0x80);
    EXPECT_GT(PeakOf(Render(*chip, 300), 0), 1000);
}

TEST(ChipRegisters, DisabledChannelThreeIsSilentBesideASoundingChannelTwo)
{
    // Channel 2 sounds left, channel 3 right. With 0x29 bit 7 clear the pair
    // (2, 3) is still computed because channel 2 sounds, but channel 3 must
    // not be heard: the chip that still holds channel 3's note must sound
    // like the one whose channel 3 was released.
    auto build = [](bool holdChannel3) {
        auto chip = MakeChip(44100, false);
        LoadPatch(*chip, 2, 7, 0, 0x7F, 0x80);
        LoadPatch(*chip, 3, 7, 0, 0x7F, 0x40);
        SetNote(*chip, 2, 4, 0x300);
        SetNote(*chip, 3, 4, 0x400);
        KeyOn(*chip, 2);
        KeyOn(*chip, 3);
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

    const uint32_t phaseBefore = held->Channel(3).op[3].phase;
    const auto a = Render(*held, 500);
    const auto b = Render(*released, 500);
    EXPECT_GT(PeakOf(a, 0), 1000);
    EXPECT_EQ(PeakOf(a, 1), 0);
    EXPECT_EQ(a, b);
    EXPECT_NE(held->Channel(3).op[3].phase, phaseBefore);  // computed all the same

    held->WriteRegister(0x29, 0x80);
    EXPECT_GT(PeakOf(Render(*held, 500), 1), 1000);
}

TEST(ChipRegisters, PcmQueueTakesAtMost8192BytesWhileEnabled)
{
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x2A, 0x11);
    EXPECT_EQ(chip->PcmCount(), 0);
    chip->WriteRegister(0x2B, 0x80);
    for (int i = 0; i < 8192; ++i) {
        chip->WriteRegister(0x2A, static_cast<uint8_t>(i));
    }
    chip->WriteRegister(0x2A, 0xEE);  // the 8193rd is lost
    EXPECT_EQ(chip->PcmCount(), 8192);
    EXPECT_EQ(chip->PcmQueueByte(1), 0);
    EXPECT_EQ(chip->PcmQueueByte(8192), 0xFF);
    chip->DiscardPcmQueue();
    EXPECT_EQ(chip->PcmCount(), 0);
    chip->WriteRegister(0x2A, 0x33);
    EXPECT_EQ(chip->PcmQueueByte(1), 0x33);
    chip->WriteRegister(0x2B, 0x7F);
    chip->WriteRegister(0x2A, 0x44);
    EXPECT_EQ(chip->PcmCount(), 1);
    chip->WriteRegister(0x12A, 0x44);  // port 1 has no PCM register
    EXPECT_EQ(chip->PcmCount(), 1);
}

TEST(ChipRegisters, WithoutAQueuePcmWritesAreRefused)
{
    // A chip that was never initialised has no queue.
    auto chip = std::make_unique<FmChip>();
    chip->SetClockAndRate(PlayerClock, 44100, false);
    chip->ResetChip();
    chip->SetPcmGain(0);
    chip->WriteRegister(0x2B, 0x80);
    chip->WriteRegister(0x2A, 0xFF);
    EXPECT_FALSE(chip->HasPcmQueue());
    EXPECT_EQ(chip->PcmCount(), 0);
    const auto out = Render(*chip, 64);
    EXPECT_EQ(out, std::vector<int32_t>(128, 0));
}

TEST(ChipRegisters, LfoRegisterRestartsTheCounterOnlyWhenSwitched)
{
    auto chip = MakeChip(44100, false);
    LoadPatch(*chip, 0, 7, 0, 0x7F, 0xC7);
    KeyOn(*chip, 0);
    chip->WriteRegister(0x22, 0x0B);
    EXPECT_EQ(chip->LfoStep(), static_cast<uint32_t>(LfoSpeedTable[3]));
    Render(*chip, 100);
    const uint32_t count = chip->LfoCount();
    EXPECT_EQ(count, 100u * static_cast<uint32_t>(LfoSpeedTable[3]));

    chip->WriteRegister(0x22, 0x0E);  // bit 3 unchanged: only the speed changes
    EXPECT_EQ(chip->LfoCount(), count);
    EXPECT_EQ(chip->LfoStep(), static_cast<uint32_t>(LfoSpeedTable[6]));
    chip->WriteRegister(0x22, 0x06);
    EXPECT_EQ(chip->LfoCount(), 0u);
    EXPECT_EQ(chip->LfoStep(), 0u);
    Render(*chip, 100);
    EXPECT_EQ(chip->LfoCount(), 0u);

    // Re-clocking re-reads the speed of the rate just built.
    chip->WriteRegister(0x22, 0x0E);
    chip->SetClockAndRate(PlayerClock, 22050, false);
    EXPECT_EQ(chip->LfoStep(), static_cast<uint32_t>(LfoSpeedTable[6]));
    EXPECT_EQ(LfoSpeedTable[6], static_cast<int32_t>(618 * (0.0078 / 9) * 1048576));
}

namespace {

// Records every change of the interrupt line.
class RecordingChip : public FmChip {
public:
    void OnInterruptLine(bool asserted) override { line.push_back(asserted); }
    std::vector<bool> line;
};

}  // namespace

TEST(ChipStatus, FlagsMaskAndInterruptLine)
{
    auto chip = std::make_unique<RecordingChip>();
    chip->Initialize(PlayerClock, 44100, false);
    ASSERT_FALSE(chip->line.empty());
    EXPECT_FALSE(chip->line.back());  // the reset drops the line
    chip->line.clear();

    // Reset: mask 0xE3, interrupt enables 0x1F.
    chip->RaiseStatus(1);
    EXPECT_EQ(chip->Status(), 1);
    chip->RaiseStatus(3);  // one of them already set: nothing
    EXPECT_EQ(chip->Status(), 1);
    chip->WriteRegister(0x27, 0x20);  // clears timer B's flag only
    EXPECT_EQ(chip->Status(), 1);
    chip->WriteRegister(0x27, 0x10);
    EXPECT_EQ(chip->Status(), 0);
    EXPECT_EQ(chip->line, (std::vector<bool>{true, true, false}));

    chip->RaiseStatus(2);
    chip->WriteRegister(0x110, 0x80);
    EXPECT_EQ(chip->Status(), 0);
    EXPECT_EQ(chip->StatusMask(), 0xE3);  // bit 7 set: the mask stays
    EXPECT_EQ(chip->line.back(), false);

    chip->WriteRegister(0x110, 0x03);
    EXPECT_EQ(chip->StatusMask(), 0xFC);
    chip->line.clear();
    chip->RaiseStatus(3);  // both masked
    EXPECT_EQ(chip->Status(), 0);
    EXPECT_EQ(chip->line, (std::vector<bool>{false}));

    // The line follows the interrupt enables of 0x29.
    chip->WriteRegister(0x110, 0x00);
    chip->WriteRegister(0x29, 0x80);
    chip->line.clear();
    chip->RaiseStatus(1);
    EXPECT_EQ(chip->Status(), 1);
    EXPECT_EQ(chip->line, (std::vector<bool>{false}));

    // Port 0's 0x10 is not the status register.
    chip->WriteRegister(0x010, 0x80);
    EXPECT_EQ(chip->Status(), 1);
}
