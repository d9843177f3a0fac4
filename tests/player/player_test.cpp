// The player driven through its operations: frame timing and releases,
// looping, the fade-out, levels, the final mix, seeking, chunking, and songs
// that must end by themselves.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "play_helpers.h"
#include "shared_songs.h"
#include "tests/fm/chip_probe.h"

namespace {

using play::PlayerPtr;

// PSG writes for tone 0 at period 1: a steady level of about half the
// voice's level, never 0 while the voice sounds.
constexpr uint8_t kTonePeriodLatch = 0x81;
constexpr uint8_t kTonePeriodData = 0x00;
constexpr uint8_t kVoiceFull = 0x90;
constexpr uint8_t kVoiceQuiet = 0x96;  // attenuation 6
constexpr uint8_t kVoiceOff = 0x9F;

class PlayerTest : public testing::Test {
protected:
    void SetUp() override {
        play::PowerOnChips();
        ResetSettingsToDefaults();
    }
};

SongBuilder& SteadyTone(SongBuilder& song) {
    return song.Psg(kTonePeriodLatch).Psg(kTonePeriodData);
}

int32_t Frames(const std::vector<int16_t>& samples) {
    return static_cast<int32_t>(samples.size() / 2);
}

// Index of the first frame whose left sample is 0 (or the frame count).
int32_t FirstSilentFrame(const std::vector<int16_t>& s, int32_t from = 0) {
    for (int32_t i = from; i < Frames(s); ++i)
        if (s[2 * i] == 0) return i;
    return Frames(s);
}

int32_t FirstSoundingFrame(const std::vector<int16_t>& s, int32_t from = 0) {
    for (int32_t i = from; i < Frames(s); ++i)
        if (s[2 * i] != 0) return i;
    return Frames(s);
}

// Mean of |left| over frames [from, from + count).
double MeanLevel(const std::vector<int16_t>& s, int32_t from, int32_t count) {
    double total = 0;
    for (int32_t i = from; i < from + count; ++i)
        total += std::abs(s[2 * i]);
    return total / count;
}

// Renders one frame per call and records frameCount after each: which
// marker's release each output frame belongs to.
std::vector<int32_t> FrameCountPerSample(GymPlayer* player, int32_t frames) {
    std::vector<int32_t> counts;
    int16_t frame[2];
    for (int32_t i = 0; i < frames && player->ops.isRunning(player); ++i) {
        player->ops.render(player, frame, 1);
        counts.push_back(player->frameCount);
    }
    return counts;
}

// Lengths of the runs of equal values.
std::vector<int32_t> RunLengths(const std::vector<int32_t>& values) {
    std::vector<int32_t> runs;
    for (size_t i = 0; i < values.size(); ++i) {
        if (i == 0 || values[i] != values[i - 1]) runs.push_back(0);
        ++runs.back();
    }
    return runs;
}

// ---------------------------------------------------------------------------
// Frame timing

TEST_F(PlayerTest, ThreeMarkersRenderThreeFramesThenEnd) {
    SongBuilder song;
    SteadyTone(song).Psg(kVoiceFull).Frame(3);
    PlayerPtr player = play::OpenBytes(song.Bytes());
    ASSERT_TRUE(player);
    EXPECT_EQ(play::Begin(player.get()), 44100);
    EXPECT_EQ(player->ops.isRunning(player.get()), 1);

    std::vector<int16_t> first = play::Render(player.get(), 1323);
    EXPECT_EQ(player->ops.isRunning(player.get()), 1);
    std::vector<int16_t> second = play::Render(player.get(), 1323);
    EXPECT_EQ(player->ops.isRunning(player.get()), 0) << "the stream ended inside the second block";
    play::Append(first, second);
    EXPECT_EQ(FirstSilentFrame(first), 2205);
    EXPECT_EQ(FirstSoundingFrame(first, 2205), 2646)
        << "after the end the block is filled with silence";
    for (int32_t i = 0; i < 2205; ++i)
        ASSERT_EQ(first[2 * i], first[2 * i + 1]) << "PSG goes to both sides";

    // Position: the first release comes at the second marker; the third is
    // read once the first frame is done.
    player->ops.start(player.get());
    play::Render(player.get(), 1);
    EXPECT_EQ(player->ops.positionMs(player.get()), 33);
    play::Render(player.get(), 735);
    EXPECT_EQ(player->ops.positionMs(player.get()), 50);
    play::Render(player.get(), 2000);
    EXPECT_EQ(player->ops.isRunning(player.get()), 0);
    EXPECT_EQ(player->ops.positionMs(player.get()), 0);
    std::vector<int16_t> after = play::Render(player.get(), 100);
    EXPECT_EQ(FirstSoundingFrame(after), 100) << "a halted player renders silence";
}

TEST_F(PlayerTest, LeftoverSixtiethsAddASampleAt22050) {
    settings.frequency = 22050;
    SongBuilder markers;
    SteadyTone(markers).Psg(kVoiceFull).Frame(8);
    PlayerPtr player = play::OpenBytes(markers.Bytes());
    ASSERT_EQ(play::Begin(player.get()), 22050);
    EXPECT_EQ(player->samplesPerFrame, 367);
    EXPECT_EQ(player->sampleRemainder, 30);
    std::vector<int32_t> runs = RunLengths(FrameCountPerSample(player.get(), 3000));
    // Markers release one frame late: first release at marker 2, the first
    // extra sample with marker 3, then one with every second marker.
    ASSERT_GE(runs.size(), 5u);
    EXPECT_EQ(std::vector<int32_t>(runs.begin(), runs.begin() + 5),
              (std::vector<int32_t>{367, 368, 367, 368, 367}));

    // With a timer-reset write after each marker the held frame is released
    // right there, one marker earlier.
    SongBuilder timed;
    SteadyTone(timed).Psg(kVoiceFull);
    for (int i = 0; i < 8; ++i)
        timed.Frame().Fm(0x27, 0x15);
    player = play::OpenBytes(timed.Bytes());
    play::Begin(player.get());
    runs = RunLengths(FrameCountPerSample(player.get(), 3000));
    ASSERT_GE(runs.size(), 5u);
    EXPECT_EQ(std::vector<int32_t>(runs.begin(), runs.begin() + 5),
              (std::vector<int32_t>{367, 367, 368, 367, 368}));
}

TEST_F(PlayerTest, TimerResetBitsReleaseTheHeldFrame) {
    // Frames are released before the writes that follow the release point,
    // so the voice turning on after the release is heard one frame later
    // with 0x15 (bit 4) than with 0x05 (no reset bit).
    auto silentFrames = [](uint8_t timerWrite) {
        SongBuilder song;
        SteadyTone(song).Frame(2).Fm(0x27, timerWrite).Psg(kVoiceFull).Frame();
        PlayerPtr player = play::OpenBytes(song.Bytes());
        play::Begin(player.get());
        std::vector<int16_t> s = play::Render(player.get(), 4000);
        EXPECT_EQ(player->ops.isRunning(player.get()), 0);
        EXPECT_EQ(FirstSilentFrame(s, FirstSoundingFrame(s)), 2205) << "three frames in all";
        return FirstSoundingFrame(s);
    };
    EXPECT_EQ(silentFrames(0x15), 1470);
    EXPECT_EQ(silentFrames(0x25), 1470);
    EXPECT_EQ(silentFrames(0x05), 735);
    EXPECT_EQ(silentFrames(0xC5), 735);
}

TEST_F(PlayerTest, StreamsWithoutFramesEndAtOnce) {
    SongBuilder writes;
    SteadyTone(writes).Psg(kVoiceFull).Fm(0x28, 0xF0).Fm(0x1A4, 0x22);
    for (const std::vector<uint8_t>& bytes :
         {writes.Bytes(), std::vector<uint8_t>{0x04, 0x00, 0x00}}) {
        PlayerPtr player = play::OpenBytes(bytes);
        ASSERT_TRUE(player);
        play::Begin(player.get());
        std::vector<int16_t> s = play::Render(player.get(), 1323);
        EXPECT_EQ(FirstSoundingFrame(s), 1323);
        EXPECT_EQ(player->ops.isRunning(player.get()), 0);
    }
}

// ---------------------------------------------------------------------------
// Looping and the fade-out

// 00 A 00 B 00 with the loop at marker 2: passes after the first play B and
// its frame only.
std::vector<uint8_t> TwoPartSong() {
    SongBuilder song;
    SteadyTone(song).Frame().Psg(kVoiceFull).Frame().Psg(kVoiceQuiet).Frame();
    return song.Bytes();
}

TEST_F(PlayerTest, LoopsForEverWithLoopCountZero) {
    settings.loopCount = 0;
    PlayerPtr player = play::OpenLooped(TwoPartSong(), 2);
    ASSERT_EQ(player->loopFrame, 2u);
    play::Begin(player.get());
    std::vector<int16_t> s = play::Render(player.get(), 3 * 735);
    EXPECT_EQ(player->ops.loopsDone(player.get()), 0);
    EXPECT_GT(MeanLevel(s, 0, 735), 3500);
    EXPECT_LT(MeanLevel(s, 735, 1470), 1500);
    for (int pass = 1; pass <= 60; ++pass) {
        s = play::Render(player.get(), 735);
        ASSERT_EQ(player->ops.loopsDone(player.get()), pass);
        ASSERT_EQ(player->ops.isRunning(player.get()), 1);
        ASSERT_LT(MeanLevel(s, 0, 735), 1500) << "every pass plays B";
        ASSERT_EQ(FirstSilentFrame(s), 735);
    }
    EXPECT_EQ(player->fadeAcc, 0);
}

TEST_F(PlayerTest, LoopLimitWithoutFadeHaltsAfterAFullBuffer) {
    settings.loopCount = 2;
    settings.fadeoutTime = 0;
    PlayerPtr player = play::OpenLooped(TwoPartSong(), 2);
    play::Begin(player.get());
    play::Render(player.get(), 4 * 735);  // first pass and one repeat
    EXPECT_EQ(player->ops.loopsDone(player.get()), 1);
    EXPECT_EQ(player->ops.isRunning(player.get()), 1);
    std::vector<int16_t> s = play::Render(player.get(), 1000);  // second jump in here
    EXPECT_EQ(FirstSilentFrame(s), 1000) << "the call that reached the limit fills its buffer";
    EXPECT_EQ(player->ops.isRunning(player.get()), 0);

    // A negative fade-out time counts as none.
    settings.fadeoutTime = -5;
    player = play::OpenLooped(TwoPartSong(), 2);
    play::Begin(player.get());
    play::Render(player.get(), 5 * 735);
    EXPECT_EQ(player->ops.isRunning(player.get()), 0);
    EXPECT_EQ(player->fadeAcc, 0);

    // A song plays with the settings it opened with, also after a restart by
    // a seek back; changed ones wait for the next song.
    settings.fadeoutTime = 0;
    player = play::OpenLooped(TwoPartSong(), 2);
    settings.loopCount = 0;
    settings.fadeoutTime = 5000;
    play::Begin(player.get());
    play::Render(player.get(), 4 * 735);
    player->ops.seek(player.get(), 0);
    play::Render(player.get(), 5 * 735);
    EXPECT_EQ(player->ops.isRunning(player.get()), 0);
    EXPECT_EQ(player->fadeAcc, 0);
}

struct FadeTrace {
    int32_t fadeStep = 0;
    std::vector<int32_t> accs;     // fadeAcc after each step, in order
    std::vector<int32_t> factors;  // PSG gain factor after each step
    int32_t markers = 0;           // markers read while fading, the last included
    std::vector<int16_t> samples;  // all output from the fade's start
};

// Plays TwoPartSong with loopCount 1 and the given fade, one frame per call,
// and records the fade from its start to the end of the song.
FadeTrace TraceFade(int32_t fadeMs) {
    settings.loopCount = 1;
    settings.fadeoutTime = fadeMs;
    PlayerPtr player = play::OpenLooped(TwoPartSong(), 2);
    play::Begin(player.get());
    FadeTrace trace;
    int16_t frame[2];
    while (player->fadeAcc == 0 && player->ops.isRunning(player.get()))
        player->ops.render(player.get(), frame, 1);
    trace.fadeStep = player->fadeStep;
    int32_t lastFrameCount = player->frameCount;
    int32_t lastAcc = player->fadeAcc;
    while (player->ops.isRunning(player.get())) {
        player->ops.render(player.get(), frame, 1);
        trace.samples.insert(trace.samples.end(), frame, frame + 2);
        if (!player->ops.isRunning(player.get())) {
            ++trace.markers;  // the marker that ended the song
            break;
        }
        trace.markers += player->frameCount - lastFrameCount;
        lastFrameCount = player->frameCount;
        if (player->fadeAcc != lastAcc) {
            lastAcc = player->fadeAcc;
            trace.accs.push_back(player->fadeAcc);
            trace.factors.push_back(fmChip.PsgGainFactor());
            EXPECT_EQ(player->fadeAtten, player->fadeAcc >> 20);
        }
    }
    return trace;
}

TEST_F(PlayerTest, FadeOutLengths) {
    FadeTrace five = TraceFade(5000);
    EXPECT_EQ(five.fadeStep, 223696);
    ASSERT_EQ(five.accs.size(), 301u);
    EXPECT_EQ(five.accs[299], 67108801);
    EXPECT_EQ(five.accs[299] >> 20, 63);
    EXPECT_EQ(five.accs[300], 67332497);
    EXPECT_EQ(five.markers, 302) << "the 302nd marker of the fade ends the song";
    EXPECT_NEAR(Frames(five.samples), 301 * 735, 735);

    FadeTrace one = TraceFade(1000);
    EXPECT_EQ(one.fadeStep, 1118481);
    EXPECT_EQ(one.accs.size(), 61u);
    EXPECT_EQ(one.markers, 62);

    // 50 ms: 1 + 3 x 22369621 lands exactly on 0x4000000, which is not yet
    // above it, so the fade takes one more step.
    FadeTrace exact = TraceFade(50);
    EXPECT_EQ(exact.fadeStep, 22369621);
    ASSERT_EQ(exact.accs.size(), 4u);
    EXPECT_EQ(exact.accs[2], 0x4000000);
    EXPECT_EQ(exact.markers, 5);

    // The gains go down step by step, about 32 dB in all.
    for (size_t i = 1; i < five.factors.size(); ++i)
        ASSERT_LE(five.factors[i], five.factors[i - 1]);
    EXPECT_LT(five.factors.back(), 4095 / 30);
    EXPECT_GT(MeanLevel(five.samples, 0, 735),
              30 * MeanLevel(five.samples, Frames(five.samples) - 735, 735));
}

TEST_F(PlayerTest, LevelChangesApplyAtTheNextRenderAndAddToTheFade) {
    settings.loopCount = 1;
    settings.fadeoutTime = 1000;
    PlayerPtr player = play::OpenLooped(TwoPartSong(), 2);
    play::Begin(player.get());
    std::vector<int16_t> loud = play::Render(player.get(), 600);
    EXPECT_EQ(fmChip.PsgGainFactor(), 4095);

    settings.volumeSsg = 12;  // 6 dB quieter
    EXPECT_EQ(fmChip.PsgGainFactor(), 4095) << "nothing changes between renders";
    std::vector<int16_t> quiet = play::Render(player.get(), 100);
    EXPECT_EQ(player->appliedSsg, 12);
    EXPECT_NEAR(fmChip.PsgGainFactor(), 4095 / 2, 60);
    EXPECT_NEAR(MeanLevel(quiet, 0, 100), MeanLevel(loud, 0, 600) / 2, 150);

    while (player->fadeAtten < 10 && player->ops.isRunning(player.get()))
        play::Render(player.get(), 100);
    ASSERT_EQ(player->ops.isRunning(player.get()), 1);
    const int32_t atten = player->fadeAtten;
    const int32_t psgFactor = fmChip.PsgGainFactor();
    const int32_t fmGain = FmChipProbe::FmGain(fmChip);
    settings.volumeFm = 4;
    play::Render(player.get(), 10);  // within one frame: the fade does not step
    ASSERT_EQ(player->fadeAtten, atten);
    EXPECT_LT(FmChipProbe::FmGain(fmChip), fmGain);
    EXPECT_EQ(fmChip.PsgGainFactor(), psgFactor) << "an unchanged level is not set again";

    // The chip got minus (setting + fade attenuation) for both.
    const int32_t fmAfterChange = FmChipProbe::FmGain(fmChip);
    fmChip.SetFmGain(-(4 + atten));
    EXPECT_EQ(FmChipProbe::FmGain(fmChip), fmAfterChange);
    fmChip.SetPsgGain(-(12 + atten));
    EXPECT_EQ(fmChip.PsgGainFactor(), psgFactor);
}

TEST_F(PlayerTest, LoopPointsThatCannotLoop) {
    // Loop frame past the last marker, or at the last marker with nothing
    // but writes (or nothing) after it: the song plays once and ends.
    struct Case {
        std::vector<uint8_t> stream;
        uint32_t loopFrame;
    };
    SongBuilder tail;
    SteadyTone(tail).Psg(kVoiceFull).Frame(5).Psg(kVoiceQuiet).Fm(0x28, 0x00);
    SongBuilder bare;
    SteadyTone(bare).Psg(kVoiceFull).Frame(5);
    for (const Case& c : {Case{tail.Bytes(), 5}, Case{bare.Bytes(), 5}, Case{bare.Bytes(), 6},
                          Case{bare.Bytes(), 900}}) {
        PlayerPtr player = play::OpenLooped(c.stream, c.loopFrame);
        play::Begin(player.get());
        std::vector<int16_t> s = play::RenderToEnd(player.get(), 1323, 50);
        EXPECT_EQ(player->ops.isRunning(player.get()), 0) << "loop frame " << c.loopFrame;
        EXPECT_EQ(FirstSilentFrame(s), 5 * 735);
    }
    TAMBORIL_NEED_SHARED_SONGS();
    for (const char* name :
         {"songs/probe_loop_region_empty.gym", "songs/probe_loop_region_no_marker.gym",
          "songs/probe_loop_beyond_end.gym"}) {
        PlayerPtr player = play::Open(play::SharedPath(name));
        ASSERT_TRUE(player) << name;
        play::Begin(player.get());
        int32_t blocks = 0;
        while (player->ops.isRunning(player.get()) && blocks < 500) {
            play::Render(player.get(), 1323);
            ASSERT_EQ(player->ops.loopsDone(player.get()), 0) << name;
            ++blocks;
        }
        EXPECT_EQ(player->ops.isRunning(player.get()), 0) << name;
        EXPECT_EQ(blocks, 90 * 735 / 1323 + 1) << name;
    }

    // Loop frame 1 really loops: it repeats all after the first marker.
    PlayerPtr player = play::Open(play::SharedPath("songs/probe_loop_frame_1.gym"));
    play::Begin(player.get());
    play::RenderToEnd(player.get(), 1323, 2000);
    EXPECT_EQ(player->ops.isRunning(player.get()), 0);
}

// ---------------------------------------------------------------------------
// Mixing

TEST_F(PlayerTest, PsgScaleAndClamps) {
    // A voice held high at full level: 8191 x 4095 >> 12 = 8189, both sides.
    SongBuilder song;
    song.Psg(0x8F).Psg(0x3F).Psg(kVoiceFull).Frame(2);
    PlayerPtr player = play::OpenBytes(song.Bytes());
    play::Begin(player.get());
    std::vector<int16_t> s = play::Render(player.get(), 100);
    EXPECT_EQ(s[2 * 50], 8189);
    EXPECT_EQ(s[2 * 50 + 1], 8189);

    // Everything at full volume runs past both ends and is held there.
    TAMBORIL_NEED_SHARED_SONGS();
    player = play::Open(play::SharedPath("songs/probe_mix_everything_full_volume.gym"));
    ASSERT_TRUE(player);
    play::Begin(player.get());
    s = play::RenderToEnd(player.get(), 1323);
    auto [low, high] = std::minmax_element(s.begin(), s.end());
    EXPECT_EQ(*high, 32767);
    EXPECT_EQ(*low, -32768);
    EXPECT_GT(std::count(s.begin(), s.end(), 32767), 100) << "held at the top, not wrapped";
}

TEST_F(PlayerTest, RatesAndInterpolation) {
    const struct {
        int32_t frequency, rate;
        bool interpolating;
    } cases[] = {{kFrequencyFmCode, 44100, true}, {48000, 48000, true},  {44100, 44100, false},
                 {24000, 24000, false},           {22050, 22050, false}, {11025, 11025, false}};
    SongBuilder song;
    song.Frame(2);
    PlayerPtr player = play::OpenBytes(song.Bytes());
    for (auto c : cases) {
        settings.frequency = c.frequency;
        EXPECT_EQ(play::Begin(player.get()), c.rate);
        EXPECT_EQ(player->frequencyCode, c.frequency);
        EXPECT_EQ(FmChipProbe::Interpolating(fmChip), c.interpolating) << c.frequency;
        EXPECT_EQ(psgChip.rate, c.rate);
        EXPECT_EQ(player->samplesPerFrame * 60 + player->sampleRemainder, c.rate);
    }
    settings.priority = 5;
    EXPECT_EQ(player->ops.threadPriority(player.get()), 5);
}

// ---------------------------------------------------------------------------
// Seeking, and renders that must agree

// 40 frames of set-up with nothing sounding (patch, periods, loud levels
// held back), then 80 frames of FM notes and PSG tones changing every few
// frames, no PCM. Seeking into the silent part must give exactly what
// playing through gives from there on.
std::vector<uint8_t> LateStartSong() {
    SongBuilder song;
    song.Fm(0xB0, 0x07).Fm(0xB4, 0xC0);  // channel 0: algorithm 7, both sides
    for (uint32_t op : {0x0u, 0x4u, 0x8u, 0xCu}) {
        song.Fm(0x30 + op, 0x01)
            .Fm(0x40 + op, 0x20)
            .Fm(0x50 + op, 0x1F)
            .Fm(0x60 + op, 0x05)
            .Fm(0x70 + op, 0x02)
            .Fm(0x80 + op, 0x27);
    }
    song.Psg(0xA5).Psg(0x0A).Psg(0xC8).Psg(0x12).Psg(0xE4);
    for (int f = 0; f < 40; ++f) {
        song.Fm(0xA4, static_cast<uint8_t>(0x20 + (f & 3))).Fm(0xA0, static_cast<uint8_t>(f * 7));
        song.Frame();
    }
    for (int f = 0; f < 80; ++f) {
        if (f % 6 == 0)
            song.Fm(0x28, 0x00)
                .Fm(0xA4, 0x22)
                .Fm(0xA0, static_cast<uint8_t>(0x40 + f))
                .Fm(0x28, 0xF0);
        if (f % 4 == 0)
            song.Psg(0xB0 | (f / 4 % 8)).Psg(0xA3).Psg(static_cast<uint8_t>(0x08 + f / 4));
        if (f % 8 == 4) song.Psg(0xF2).Psg(0xE5);
        if (f % 8 == 6) song.Psg(0xFF);
        song.Frame();
    }
    return song.Bytes();
}

// The frame index at which the release of marker `marker` starts when the
// song plays through from the start.
int32_t ReleaseStart(GymPlayer* player, int32_t marker) {
    player->ops.start(player);
    std::vector<int32_t> counts = FrameCountPerSample(player, 1000000);
    auto at =
        std::find_if(counts.begin(), counts.end(), [marker](int32_t c) { return c >= marker; });
    return static_cast<int32_t>(at - counts.begin());
}

TEST_F(PlayerTest, SeekAgreesWithPlayingThrough) {
    for (int32_t frequency : {kFrequencyFmCode, 44100, 22050}) {
        settings.frequency = frequency;
        PlayerPtr player = play::OpenBytes(LateStartSong());
        const int32_t rate = player->ops.sampleRate(player.get());
        const int32_t block = BlockFrames(rate);

        // After the seek both sides render one frame per call: a silent PSG
        // voice's counter moves by whole calls, so its phase when it comes
        // back depends on where calls are cut, and the two must be cut alike.
        play::PowerOnChips();
        player->ops.start(player.get());
        std::vector<int16_t> through = play::RenderToEnd(player.get(), 1, 1000000);

        for (int32_t ms : {0, 1, 100, 400, 650}) {
            // The fast-forward stops at the first release that reaches the
            // target; play resumes with the next marker's release.
            const int32_t marker = std::max<int32_t>(2, (ms * 6 + 99) / 100) + 1;
            const int32_t skipped = ReleaseStart(player.get(), marker);

            play::PowerOnChips();
            player->ops.start(player.get());
            play::Render(player.get(), block);  // the block a seek arrives in
            player->ops.seek(player.get(), ms);
            EXPECT_EQ(player->ops.positionMs(player.get()), (marker - 1) * 100 / 6) << ms;
            std::vector<int16_t> sought = play::RenderToEnd(player.get(), 1, 1000000);
            // Both end with the song, then fill their last block with silence.
            const size_t common =
                std::min(through.size() - 2 * static_cast<size_t>(skipped), sought.size());
            ASSERT_GE(common, 2u * 80 * static_cast<size_t>(player->samplesPerFrame));
            ASSERT_TRUE(
                std::equal(sought.begin(), sought.begin() + common, through.begin() + 2 * skipped))
                << "seek to " << ms << " ms at " << frequency;
        }
        EXPECT_GT(MeanLevel(through, FirstSoundingFrame(through), 20000), 500)
            << "the fixture makes sound";
    }
}

TEST_F(PlayerTest, SeekBackwardsRestartsAndForwardFollowsLoops) {
    settings.loopCount = 3;
    PlayerPtr player = play::OpenLooped(TwoPartSong(), 2);
    play::Begin(player.get());
    play::Render(player.get(), 2000);
    EXPECT_EQ(player->ops.positionMs(player.get()), 50);

    // Back to 0: start over; the writes up to the first release are applied
    // and that release's frame is dropped, so B is heard at once.
    player->ops.seek(player.get(), 0);
    EXPECT_EQ(player->ops.positionMs(player.get()), 33);
    EXPECT_EQ(player->ops.loopsDone(player.get()), 0);
    std::vector<int16_t> s = play::Render(player.get(), 735);
    EXPECT_LT(MeanLevel(s, 0, 735), 1500);

    // Forward past the loop point: each pass is one frame, so 100 ms (six
    // markers) means three jumps and the loop limit: the fade starts at once.
    player->ops.seek(player.get(), 100);
    EXPECT_EQ(player->ops.positionMs(player.get()), 100);
    EXPECT_EQ(player->ops.loopsDone(player.get()), 3);
    EXPECT_EQ(player->fadeAcc, 1);
    EXPECT_EQ(player->ops.isRunning(player.get()), 1);

    // To or past the end of a song that does not loop: the player halts.
    SongBuilder song;
    SteadyTone(song).Psg(kVoiceFull).Frame(30);
    player = play::OpenBytes(song.Bytes());
    play::Begin(player.get());
    player->ops.seek(player.get(), 5000);
    EXPECT_EQ(player->ops.isRunning(player.get()), 0);
    s = play::Render(player.get(), 200);
    EXPECT_EQ(FirstSoundingFrame(s), 200);
}

TEST_F(PlayerTest, OneLargeRenderMatchesManySmallOnes) {
    // The same samples however the calls split the frames (a real song with
    // FM and PSG, played through the resampler).
    TAMBORIL_NEED_SHARED_SONGS();
    const std::string path = play::SharedPath("corpus/real/sforce2_027_goddess_mitula.gym");
    PlayerPtr player = play::Open(path);
    ASSERT_TRUE(player);
    play::Begin(player.get());
    std::vector<int16_t> whole = play::Render(player.get(), 44100 * 20);

    play::PowerOnChips();
    player->ops.start(player.get());
    std::vector<int16_t> pieces;
    const int32_t sizes[] = {1, 734, 736, 7, 1323, 2000, 3, 5000};
    for (size_t i = 0; Frames(pieces) < 44100 * 20; ++i) {
        int32_t n = std::min<int32_t>(sizes[i % 8], 44100 * 20 - Frames(pieces));
        play::Append(pieces, play::Render(player.get(), n));
    }
    EXPECT_TRUE(pieces == whole);
    EXPECT_GT(MeanLevel(whole, 0, 44100 * 20), 100);
}

// ---------------------------------------------------------------------------
// Damaged songs

TEST_F(PlayerTest, DamagedSongsEndByThemselves) {
    TAMBORIL_NEED_SHARED_SONGS();
    int opened = 0;
    for (const std::string& path : support::DamagedFiles()) {
        PlayerPtr player = play::Open(path);
        if (!player) continue;  // refused by the loader
        ++opened;
        play::Begin(player.get());
        int32_t blocks = 0;
        while (player->ops.isRunning(player.get()) && blocks < 20000) {
            play::Render(player.get(), 1323);
            ++blocks;
        }
        EXPECT_EQ(player->ops.isRunning(player.get()), 0) << path;
    }
    EXPECT_GT(opened, 10);
}

// ---------------------------------------------------------------------------
// The demo song

TEST_F(PlayerTest, DemoSongPlaysThroughItsLoopsWithoutGapsOrClipping) {
    const std::string path = std::string(TAMBORIL_SOURCE_DIR) + "/examples/demo.gym.zip";
    char title[kTitleSize];
    int32_t lengthMs = 0;
    ASSERT_EQ(GetSongInfo(path.c_str(), title, &lengthMs), 1);  // the length that plays
    EXPECT_STREQ(title, "Tamboril - First Light");

    PlayerPtr player = play::Open(path);
    ASSERT_TRUE(player);
    EXPECT_EQ(player->loopFrame, 448u);
    const int32_t passMs = SongLengthMs(player.get());
    EXPECT_GE(passMs, 30000);
    EXPECT_LE(passMs, 60000);
    play::Begin(player.get());
    int32_t loops = 0;
    std::vector<int16_t> s;
    while (player->ops.isRunning(player.get())) {
        play::Append(s, play::Render(player.get(), 1323));
        loops = std::max(loops, player->ops.loopsDone(player.get()));
    }
    EXPECT_EQ(loops, 2);
    // One pass, one more of the loop, five seconds of fade: what the length
    // says, to within the block the song ends in.
    EXPECT_NEAR(Frames(s) / 44100.0, passMs / 1000.0 + (passMs - 448 * 100 / 6) / 1000.0 + 5.0,
                0.1);
    const int64_t playedMs = static_cast<int64_t>(Frames(s)) * 1000 / 44100;
    EXPECT_LE(lengthMs, playedMs);
    EXPECT_GE(lengthMs, playedMs - kBlockMs);
    auto [low, high] = std::minmax_element(s.begin(), s.end());
    EXPECT_LT(*high, 32767);
    EXPECT_GT(*low, -32768);
    EXPECT_GT(std::max(*high, static_cast<int16_t>(-*low)), 16000);
    // Every half second up to the fade carries sound.
    const int32_t beforeFade = Frames(s) - 5 * 44100;
    for (int32_t at = 0; at + 22050 <= beforeFade; at += 22050)
        ASSERT_GT(MeanLevel(s, at, 22050), 1000) << at;
}

// The length a song says it plays, against what plays in the host's blocks,
// and a seek near its end, for looping and ending songs at several settings.
TEST_F(PlayerTest, LengthThatPlaysMatchesTheRenderAndSeeksLandInIt) {
    const std::string demo = std::string(TAMBORIL_SOURCE_DIR) + "/examples/demo.gym.zip";
    SongBuilder ends;  // a song that does not loop: one pass whatever the settings
    SteadyTone(ends).Psg(kVoiceFull).Frame(90);
    const std::string once = TempPath("once.gym");
    ASSERT_TRUE(WriteFileBytes(once, ends.Bytes()));
    const struct {
        const std::string* path;
        int32_t loops, fadeMs, frequency, seekBackMs;
    } cases[] = {
        {&demo, 1, 0, 22050, 700},   {&demo, 2, 5000, 44100, 2000}, {&demo, 3, 1234, 48000, 900},
        {&demo, 1, 777, 11025, 300}, {&once, 3, 5000, 44100, 400},
    };
    for (const auto& c : cases) {
        settings.loopCount = c.loops;
        settings.fadeoutTime = c.fadeMs;
        settings.frequency = c.frequency;
        play::SessionPtr song = play::OpenSession(*c.path);
        ASSERT_TRUE(song);
        const std::string what = *c.path + " loops " + std::to_string(c.loops) + " fade " +
                                 std::to_string(c.fadeMs) + " at " + std::to_string(c.frequency);
        const int64_t playedMs =
            static_cast<int64_t>(Frames(play::PlayToEnd(*song, song->BlockFrames()))) * 1000 /
            song->Rate();
        EXPECT_LE(song->PlayMs(), playedMs) << what;
        EXPECT_GE(song->PlayMs(), playedMs - kBlockMs) << what;
        if (*c.path == once) {
            EXPECT_EQ(song->PlayMs(), song->LengthMs()) << what;
        }

        // What is left after a seek near the end, the fade included.
        song->Start();
        song->Seek(song->PlayMs() - c.seekBackMs);
        std::vector<int16_t> block(2 * static_cast<size_t>(song->BlockFrames()));
        int64_t restFrames = 0;
        while (song->Running()) {
            song->Render(block.data(), song->BlockFrames());
            restFrames += song->BlockFrames();
        }
        EXPECT_NEAR(restFrames * 1000 / song->Rate(), c.seekBackMs, 2 * kBlockMs) << what;
    }
}

// ---------------------------------------------------------------------------
// Settings tables

TEST(SettingsTables, ChoicesAndVolumeRows) {
    EXPECT_EQ(LookupChoiceValue(frequencyChoices, "55467:fm"), kFrequencyFmCode);
    EXPECT_EQ(LookupChoiceValue(frequencyChoices, "11025"), 11025);
    EXPECT_EQ(LookupChoiceValue(frequencyChoices, "96000"), kFrequencyFmCode);
    EXPECT_EQ(LookupChoiceValue(priorityChoices, "HIGHEST"), 5);
    EXPECT_EQ(LookupChoiceValue(priorityChoices, "Lower"), 2);
    EXPECT_EQ(LookupChoiceValue(priorityChoices, "Highestt"), 3);
    EXPECT_STREQ(LookupChoiceName(frequencyChoices, 44100, 0), "44100");
    EXPECT_STREQ(LookupChoiceName(frequencyChoices, 96000, 0), "55467:FM");
    EXPECT_STREQ(LookupChoiceName(priorityChoices, 4, 2), "Higher");
    EXPECT_STREQ(LookupChoiceName(priorityChoices, 9, 2), "Normal");

    // Each mixer row reaches its own field.
    const struct {
        const char* key;
        const SettingWord* field;
    } rows[] = {{"VolumeFM", &settings.volumeFm},
                {"VolumeSSG", &settings.volumeSsg},
                {"VolumePCM", &settings.volumePcm}};
    int i = 0;
    for (const VolumeKey* row = volumeKeys; row->key != nullptr && i < 3; ++row, ++i) {
        EXPECT_STREQ(row->key, rows[i].key);
        EXPECT_EQ(&(settings.*(row->field)), rows[i].field);
    }
    EXPECT_EQ(i, 3);
    EXPECT_EQ(volumeKeys[3].key, nullptr);
}

}  // namespace
