// The chip's output side: PCM spreading and interpolation, the resampler's
// weights and carries, the FM gain and activity shortcuts, LFO stepping,
// panning and muting, the gain settings, and paths that must agree.
#include <gtest/gtest.h>

#include <climits>
#include <cstdint>
#include <vector>

#include "chip_probe.h"
#include "chip_support.h"
#include "fm/tables.h"

using namespace chiptest;

namespace {

int32_t PcmValue(int byte, int32_t gain) {
    return ((byte - 128) * gain) >> 6;
}

void QueuePcm(FmChip& chip, std::initializer_list<int> bytes) {
    for (int b : bytes) {
        chip.WriteRegister(0x2A, static_cast<uint8_t>(b));
    }
}

// Two channels with different pans and some movement in their envelopes.
void LoadTwoVoices(FmChip& chip, uint8_t pan0, uint8_t pan1) {
    LoadPatch(chip, 0, 4, 5, 0x18, pan0);
    LoadPatch(chip, 1, 0, 6, 0x10, pan1);
    chip.WriteRegister(OperatorAddress(0x60, 0, 3), 0x06);  // decay
    chip.WriteRegister(OperatorAddress(0x80, 0, 3), 0x55);  // sustain level 5
    chip.WriteRegister(OperatorAddress(0x70, 0, 3), 0x03);
    SetNote(chip, 0, 4, 0x28D);
    SetNote(chip, 1, 3, 0x3A1);
    KeyOn(chip, 0);
    KeyOn(chip, 1);
}

}  // namespace

TEST(MixPcm, BytesAreSpreadEvenlyWithoutInterpolation) {
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x2B, 0x80);
    QueuePcm(*chip, {138, 148, 158, 168});
    const auto out = Render(*chip, 735);  // step 356 in 16.16
    struct Span {
        uint32_t first, last;
        int byte;
    };
    for (const Span& s :
         {Span{0, 184, 138}, Span{185, 368, 148}, Span{369, 552, 158}, Span{553, 734, 168}}) {
        for (uint32_t f : {s.first, s.last}) {
            SCOPED_TRACE(f);
            EXPECT_EQ(out[2 * f], PcmValue(s.byte, 4095));
            EXPECT_EQ(out[2 * f + 1], PcmValue(s.byte, 4095));
        }
    }
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 0);
    EXPECT_EQ(FmChipProbe::PcmLast(*chip), PcmValue(168, 4095));

    // Nothing queued: the last value holds, routed by channel 5's pan.
    chip->WriteRegister(0x1B6, 0x80);
    const auto held = Render(*chip, 100);
    for (uint32_t f = 0; f < 100; ++f) {
        ASSERT_EQ(held[2 * f], PcmValue(168, 4095));
        ASSERT_EQ(held[2 * f + 1], 0);
    }

    // More bytes than frames: every frame takes the byte under its position.
    chip->WriteRegister(0x1B6, 0x40);
    chip->SetPcmGain(-2);
    QueuePcm(*chip, {0, 1, 2, 3, 4, 5, 6, 7, 8, 9});
    const auto dense = Render(*chip, 4);  // step 2.5 bytes
    EXPECT_EQ(dense, (std::vector<int32_t>{0, PcmValue(0, 3755), 0, PcmValue(2, 3755), 0,
                                           PcmValue(5, 3755), 0, PcmValue(7, 3755)}));

    // Disabled: nothing added, the queue emptied.
    QueuePcm(*chip, {200, 201});
    chip->WriteRegister(0x2B, 0x00);
    EXPECT_EQ(Render(*chip, 10), std::vector<int32_t>(20, 0));
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 0);
}

TEST(MixPcm, InterpolationStartsFromTheCarriedByte) {
    auto chip = MakeChip(44100, true);
    chip->WriteRegister(0x2B, 0x80);
    QueuePcm(*chip, {138, 148, 158, 168});
    const auto out = Render(*chip, 735);
    EXPECT_EQ(out[0], 0);                              // byte 0 is the zero level after a reset
    EXPECT_EQ(out[2 * 184], PcmValue(128 + 9, 4095));  // (10 * 65504) >> 16 = 9
    EXPECT_EQ(out[2 * 185], PcmValue(138, 4095));      // position 65860: just past byte 1
    for (uint32_t f = 1; f < 735; ++f) {
        ASSERT_GE(out[2 * f], out[2 * f - 2]) << f;
    }
    EXPECT_LT(out[2 * 734], PcmValue(168, 4095));
    EXPECT_EQ(FmChipProbe::PcmQueueByte(*chip, 0), 168);

    QueuePcm(*chip, {100, 100});
    const auto next = Render(*chip, 100);
    EXPECT_EQ(next[0], PcmValue(168, 4095));
    EXPECT_EQ(next[1], PcmValue(168, 4095));
    EXPECT_EQ(FmChipProbe::PcmQueueByte(*chip, 0), 100);
}

namespace {

// One stretch of PCM: its length, the bytes queued for it, and how the calls
// split it (the parts add up to the length or run past it).
struct PcmStretchCase {
    bool interpolate;
    uint32_t frames;
    int bytes;
    std::vector<uint32_t> parts;
};

// The stretch, then a short one to show what carries over, mixed in the
// given parts after BeginPcmStretch, or in one call per stretch when `parts`
// is empty.
std::vector<int32_t> MixStretches(const PcmStretchCase& c, bool split) {
    auto chip = MakeChip(44100, c.interpolate);
    chip->WriteRegister(0x2B, 0x80);
    chip->WriteRegister(0x1B6, 0x80);  // channel 5 left only: the sides differ
    for (int i = 0; i < c.bytes; ++i) {
        chip->WriteRegister(0x2A, static_cast<uint8_t>((i * 37 + 11) & 0xFF));
    }
    std::vector<int32_t> out;
    if (split) {
        chip->BeginPcmStretch(c.frames);
        for (uint32_t n : c.parts) {
            const auto part = Render(*chip, n);
            out.insert(out.end(), part.begin(), part.end());
        }
    } else {
        uint32_t total = 0;
        for (uint32_t n : c.parts)
            total += n;
        out = Render(*chip, c.frames);
        if (total > c.frames) {
            const auto rest = Render(*chip, total - c.frames);  // a stretch with nothing queued
            out.insert(out.end(), rest.begin(), rest.end());
        }
    }
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 0);
    EXPECT_EQ(FmChipProbe::PcmStretchLeft(*chip), 0u);
    QueuePcm(*chip, {250, 5, 128});
    const auto next = Render(*chip, 9);
    out.insert(out.end(), next.begin(), next.end());
    return out;
}

}  // namespace

// A stretch mixed in many calls sounds as one call over all of it (the
// original, unsplit algorithm, pinned above), with or without interpolation,
// and leaves the same byte to carry into the next stretch.
TEST(MixPcm, AStretchSoundsTheSameHoweverTheCallsSplitIt) {
    std::vector<uint32_t> ones(183, 1);
    const PcmStretchCase cases[] = {
        {false, 735, 4, {100, 300, 335}},
        {true, 735, 4, {1, 1, 733}},
        {true, 367, 30, {7, 7, 7, 346}},
        {false, 800, 8192, {661, 139}},
        {true, 800, 8192, {661, 139}},
        {true, 735, 1000, {1323}},   // one call past the stretch's end
        {false, 183, 0, {50, 133}},  // nothing queued: the last value holds
        {true, 183, 57, ones},
        {false, 368, 367, {4096}},
    };
    for (const PcmStretchCase& c : cases) {
        SCOPED_TRACE(testing::Message()
                     << c.frames << " frames, " << c.bytes << " bytes, interpolate "
                     << c.interpolate << ", " << c.parts.size() << " parts");
        const auto whole = MixStretches(c, false);
        const auto split = MixStretches(c, true);
        ASSERT_EQ(whole.size(), split.size());
        EXPECT_EQ(whole, split);
    }
}

TEST(MixPcm, DiscardEndsTheStretch) {
    auto chip = MakeChip(44100, false);
    chip->WriteRegister(0x2B, 0x80);
    QueuePcm(*chip, {138, 148, 158, 168});
    chip->BeginPcmStretch(735);
    const auto first = Render(*chip, 300);  // frames 0-184 byte 1, 185-299 byte 2
    EXPECT_EQ(first[2 * 299], PcmValue(148, 4095));
    chip->DiscardPcmQueue();
    EXPECT_EQ(FmChipProbe::PcmStretchLeft(*chip), 0u);
    EXPECT_EQ(FmChipProbe::PcmCount(*chip), 0);
    // What follows is a stretch of its own with nothing queued: the last value.
    const auto rest = Render(*chip, 435);
    EXPECT_EQ(rest[0], PcmValue(148, 4095));
    EXPECT_EQ(rest[2 * 434], PcmValue(148, 4095));
}

namespace {

// Internal samples of a chip rendered directly at the synthesis rate: the
// values the resampler must weight.
struct InternalSamples {
    std::vector<int64_t> left, right;
};

InternalSamples DirectAt53266(void (*setup)(FmChip&), uint32_t count,
                              void (*between)(FmChip&) = nullptr, uint32_t split = 0) {
    auto chip = MakeChip(53266, false);
    EXPECT_EQ(chip->RateRatio(), 256u);
    setup(*chip);
    std::vector<int32_t> out;
    if (between) {
        out = Render(*chip, split);
        between(*chip);
    }
    const auto rest = Render(*chip, count - static_cast<uint32_t>(out.size() / 2));
    out.insert(out.end(), rest.begin(), rest.end());
    InternalSamples x;
    for (uint32_t i = 0; i < count; ++i) {
        x.left.push_back(out[2 * i]);
        x.right.push_back(out[2 * i + 1]);
    }
    return x;
}

void MixedPans(FmChip& chip) {
    LoadTwoVoices(chip, 0x80, 0xC0);
}

void CentredPans(FmChip& chip) {
    LoadTwoVoices(chip, 0xC0, 0xC0);
}

void CentreChannelZero(FmChip& chip) {
    chip.WriteRegister(0xB4, 0xC0);
}

}  // namespace

TEST(MixResampled, WeightsAndCarriesAt44100From53266) {
    const InternalSamples x = DirectAt53266(MixedPans, 8);
    ASSERT_NE(x.left[1], x.right[1]);
    auto chip = MakeChip(44100, true);
    ASSERT_EQ(FmChipProbe::ResampleStep(*chip), 13564);
    MixedPans(*chip);

    // The first frame: weights 13564 and 2819; 13565 times the second
    // sample carries over, and 5639 of the next frame is left to cover.
    const auto first = Render(*chip, 1);
    EXPECT_EQ(first[0], (13564 * x.left[0] + 2819 * x.left[1]) >> 14);
    EXPECT_EQ(first[1], (13564 * x.right[0] + 2819 * x.right[1]) >> 14);
    EXPECT_EQ(FmChipProbe::ResamplePhase(*chip), 5639);
    EXPECT_EQ(FmChipProbe::ResampleLeft(*chip), 13565 * x.left[1]);
    EXPECT_EQ(FmChipProbe::ResampleRight(*chip), 13565 * x.right[1]);

    // The carry crosses calls; frame 4 takes two new samples.
    const auto more = Render(*chip, 4);
    const int64_t expectedLeft[4] = {
        (13565 * x.left[1] + 5639 * x.left[2]) >> 14,
        (10745 * x.left[2] + 8459 * x.left[3]) >> 14,
        (7925 * x.left[3] + 11279 * x.left[4]) >> 14,
        (5105 * x.left[4] + 13564 * x.left[5] + 535 * x.left[6]) >> 14,
    };
    for (int f = 0; f < 4; ++f) {
        EXPECT_EQ(more[2 * f], expectedLeft[f]) << f;
    }
    EXPECT_EQ(more[7], (5105 * x.right[4] + 13564 * x.right[5] + 535 * x.right[6]) >> 14);
    EXPECT_EQ(FmChipProbe::ResamplePhase(*chip), 16384 - 13029);
}

TEST(MixResampled, EqualPansShareOneSumStartingFromTheMean) {
    // Frame 0 with mixed pans leaves different carried sums; once every pan
    // is centred, the next frame starts from their mean.
    const InternalSamples x = DirectAt53266(MixedPans, 4, CentreChannelZero, 2);
    auto chip = MakeChip(44100, true);
    MixedPans(*chip);
    Render(*chip, 1);
    const int32_t carriedLeft = FmChipProbe::ResampleLeft(*chip);
    const int32_t carriedRight = FmChipProbe::ResampleRight(*chip);
    ASSERT_NE(carriedLeft, carriedRight);

    CentreChannelZero(*chip);
    const auto out = Render(*chip, 2);
    const int64_t mean = (static_cast<int64_t>(carriedLeft) + carriedRight) / 2;
    ASSERT_EQ(x.left[2], x.right[2]);
    EXPECT_EQ(out[0], (mean + 5639 * x.left[2]) >> 14);
    EXPECT_EQ(out[1], out[0]);
    EXPECT_EQ(out[2], (10745 * x.left[2] + 8459 * x.left[3]) >> 14);
    EXPECT_EQ(out[3], out[2]);
    EXPECT_EQ(FmChipProbe::ResampleLeft(*chip), FmChipProbe::ResampleRight(*chip));
    EXPECT_EQ(FmChipProbe::ResampleLeft(*chip), 7925 * x.left[3]);
}

TEST(MixResampled, EqualPanAndGeneralPathsAgreeFromAFreshStart) {
    // A silent channel with an off-centre pan sends the chip down the
    // general path; the sound must be the same as on the shared-sum path.
    for (bool interpolate : {false, true}) {
        SCOPED_TRACE(interpolate);
        auto shared = MakeChip(44100, interpolate);
        auto general = MakeChip(44100, interpolate);
        CentredPans(*shared);
        CentredPans(*general);
        general->WriteRegister(0x1B5, 0x80);
        for (auto* chip : {shared.get(), general.get()}) {
            chip->WriteRegister(0x22, 0x0D);
            chip->WriteRegister(0xB4, 0xF6);
            chip->WriteRegister(OperatorAddress(0x60, 0, 1), 0x85);
        }
        const auto a = Render(*shared, 2000);
        const auto b = Render(*general, 2000);
        EXPECT_GT(PeakOf(a, 0), 1000);
        EXPECT_EQ(a, b);
    }
}

TEST(MixInto, OneLargeMixEqualsManySmallOnes) {
    struct Mode {
        uint32_t rate;
        bool interpolate;
        uint8_t pan0;
    };
    const Mode modes[] = {
        {44100, true, 0x80}, {44100, true, 0xC0}, {48000, true, 0x40}, {22050, false, 0x80}};
    for (const Mode& m : modes) {
        SCOPED_TRACE(testing::Message() << m.rate << " " << m.interpolate << " " << int(m.pan0));
        auto whole = MakeChip(m.rate, m.interpolate);
        auto pieces = MakeChip(m.rate, m.interpolate);
        for (auto* chip : {whole.get(), pieces.get()}) {
            LoadTwoVoices(*chip, m.pan0, 0xC0);
            chip->WriteRegister(0x22, 0x0C);
            chip->WriteRegister(0xB5, 0xC5);
        }
        const uint32_t total = 3000;
        const auto expected = Render(*whole, total);
        std::vector<int32_t> got;
        static const uint32_t ChunkTable[] = {1, 2, 3, 5, 8, 13, 21, 34, 55, 89, 144, 233};
        uint32_t done = 0;
        for (int i = 0; done < total; ++i) {
            uint32_t n = ChunkTable[i % 12];
            n = n < total - done ? n : total - done;
            const auto part = Render(*pieces, n);
            got.insert(got.end(), part.begin(), part.end());
            done += n;
        }
        EXPECT_GT(PeakOf(expected, 1), 1000);
        EXPECT_EQ(got, expected);
        EXPECT_EQ(FmChipProbe::LfoCount(*whole), FmChipProbe::LfoCount(*pieces));
        EXPECT_EQ(FmChipProbe::ResamplePhase(*whole), FmChipProbe::ResamplePhase(*pieces));
    }
}

TEST(MixInto, ZeroFmGainFreezesTheChannelsButNotThePcm) {
    auto chip = MakeChip(44100, true);
    LoadTwoVoices(*chip, 0xC0, 0xC0);
    Render(*chip, 100);
    chip->SetFmGain(-169);
    ASSERT_EQ(FmChipProbe::FmGain(*chip), 0);
    chip->WriteRegister(0x2B, 0x80);
    QueuePcm(*chip, {140});
    const FmOperator before = FmChipProbe::Channel(*chip, 0).op[3];
    const int32_t phase = FmChipProbe::ResamplePhase(*chip);

    EXPECT_GT(PeakOf(Render(*chip, 200), 0), 0);  // interpolating up from the zero level
    QueuePcm(*chip, {140, 140});
    const auto out = Render(*chip, 200);
    for (int32_t v : out) {
        ASSERT_EQ(v, PcmValue(140, 4095));
    }
    const FmOperator& after = FmChipProbe::Channel(*chip, 0).op[3];
    EXPECT_EQ(after.phase, before.phase);
    EXPECT_EQ(after.envLevel, before.envLevel);
    EXPECT_EQ(after.envCounter, before.envCounter);
    EXPECT_EQ(FmChipProbe::ResamplePhase(*chip), phase);

    chip->SetFmGain(0);
    EXPECT_GT(PeakOf(Render(*chip, 200), 0), 1000);
    EXPECT_NE(FmChipProbe::Channel(*chip, 0).op[3].phase, before.phase);
}

TEST(MixInto, SilentChipAddsNothingAndRestartsTheResampler) {
    auto chip = MakeChip(48000, true);
    LoadPatch(*chip, 0, 4, 5, 0x18, 0x80);
    LoadPatch(*chip, 1, 0, 6, 0x10, 0x40);
    SetNote(*chip, 0, 4, 0x28D);
    SetNote(*chip, 1, 3, 0x3A1);
    KeyOn(*chip, 0);
    KeyOn(*chip, 1);
    Render(*chip, 100);
    ASSERT_NE(FmChipProbe::ResamplePhase(*chip), 0x3FFF);
    ASSERT_NE(FmChipProbe::ResampleLeft(*chip), 0);

    KeyOff(*chip, 0);  // release rate 15: Off at once
    KeyOff(*chip, 1);
    std::vector<int32_t> buffer(200, 7);
    chip->MixInto(buffer.data(), 100);
    EXPECT_EQ(buffer, std::vector<int32_t>(200, 7));
    EXPECT_EQ(FmChipProbe::ResamplePhase(*chip), 0x3FFF);
    EXPECT_EQ(FmChipProbe::ResampleLeft(*chip), 0);
    EXPECT_EQ(FmChipProbe::ResampleRight(*chip), 0);
}

TEST(MixInto, LfoRunsOnlyWhileSomeChannelNeedsIt) {
    auto chip = MakeChip(44100, false);
    LoadPatch(*chip, 0, 7, 0, 0x7F, 0xF0);  // AMS 3, PMS 0, no operator with AM on
    KeyOn(*chip, 0);
    chip->WriteRegister(0x22, 0x0F);
    Render(*chip, 300);
    EXPECT_EQ(FmChipProbe::LfoCount(*chip), 0u);

    // AM switched on for one operator: the channel now needs the LFO.
    chip->WriteRegister(OperatorAddress(0x60, 0, 2), 0x80);
    Render(*chip, 300);
    EXPECT_EQ(FmChipProbe::LfoCount(*chip), 300u * static_cast<uint32_t>(LfoSpeedTable[7]));

    // With the LFO switched off the sensitivity is ignored.
    chip->WriteRegister(0x22, 0x07);
    chip->WriteRegister(0xB4, 0xF7);
    Render(*chip, 300);
    EXPECT_EQ(FmChipProbe::LfoCount(*chip), 0u);
}

TEST(MixInto, PanZeroIsComputedButNotHeardAndMutesSilenceTheirChannel) {
    auto chip = MakeChip(44100, false);
    LoadPatch(*chip, 4, 7, 0, 0x7F, 0x00);
    SetNote(*chip, 4, 4, 0x300);
    KeyOn(*chip, 4);
    const auto silent = Render(*chip, 300);
    EXPECT_EQ(silent, std::vector<int32_t>(600, 0));
    EXPECT_NE(FmChipProbe::Channel(*chip, 4).op[3].phase, 0u);

    // Channel 0 left, channel 1 right; muting channel 0 leaves the right
    // side as it was and the left side at most one step from zero.
    auto build = [](uint32_t muteMask) {
        auto chip = MakeChip(44100, false);
        LoadTwoVoices(*chip, 0x80, 0x40);
        chip->SetMutedChannels(muteMask);
        return chip;
    };
    auto open = build(0);
    auto muted = build(0x01);
    const auto a = Render(*open, 500);
    const auto b = Render(*muted, 500);
    EXPECT_GT(PeakOf(a, 0), 1000);
    EXPECT_LE(PeakOf(b, 0), 1);
    for (size_t i = 1; i < a.size(); i += 2) {
        ASSERT_EQ(a[i], b[i]) << i;
    }
    muted->SetMutedChannels(0x20);
    for (int ch = 0; ch < 6; ++ch) {
        for (const FmOperator& op : FmChipProbe::Channel(*muted, ch).op) {
            EXPECT_EQ(op.muted, ch == 5);
        }
    }
    EXPECT_GT(PeakOf(Render(*muted, 500), 0), 1000);
}

TEST(Gains, HalfDecibelStepsToMultipliers) {
    struct Case {
        int32_t halfDb;
        int32_t fm;
        int32_t volume;
    };
    const Case cases[] = {
        {INT32_MAX, 51810, 12633},
        {21, 51810, 12633},
        {20, 51810, 12633},
        {10, 29135, 6888},
        {1, 17354, 4095},
        {0, 16384, 4095},
        {-1, 15467, 4095},
        {-2, 14602, 3755},
        {-20, 5181, 1327},
        {-143, 4, 1},
        {-144, 4, 0},
        {-168, 1, 0},
        {-169, 0, 0},
        {-191, 0, 0},
        {-192, 0, 0},
        {-193, 0, 0},
        {INT32_MIN, 0, 0},
    };
    FmChip chip;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.halfDb);
        chip.SetFmGain(c.halfDb);
        chip.SetPsgGain(c.halfDb);
        chip.SetPcmGain(c.halfDb);
        EXPECT_EQ(FmChipProbe::FmGain(chip), c.fm);
        EXPECT_EQ(chip.PsgGainFactor(), c.volume);
        EXPECT_EQ(FmChipProbe::PcmGain(chip), c.volume);
    }
    // The three are independent.
    chip.SetPsgGain(-2);
    chip.SetPcmGain(10);
    chip.SetFmGain(1);
    EXPECT_EQ(chip.PsgGainFactor(), 3755);
    EXPECT_EQ(FmChipProbe::PcmGain(chip), 6888);
    EXPECT_EQ(FmChipProbe::FmGain(chip), 17354);
}
