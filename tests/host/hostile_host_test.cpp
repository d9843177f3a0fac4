// The plug-in under hosts and outputs that hold it to the letter of the
// interface: an output that plays on only while asked for room, one that
// takes no Write above 8,192 bytes, requests made the moment Play returns, a
// setting changed while Play opens the output, visualisations that read 576
// frames, and a host that unloads the module right after Quit.
#include <chrono>
#include <cstdlib>
#include <functional>
#include <random>
#include <thread>

#include "tests/host/shell_fixture.h"
#include "tests/player/play_helpers.h"

#ifndef _WIN32
#include "platform/kernel.h"
#endif

namespace {

using shelltest::CallsOf;
using shelltest::Ini;
using shelltest::ShellTest;
using standin::Call;
using standin::Record;

// What the decode thread should make of a song, rendered by a player of the
// test's own: each block and the position before it. `adjust` changes the
// settings after they are put at their defaults.
struct Reference {
    int32_t rate = 0;
    int32_t frames = 0;  // per block
    std::vector<std::vector<int16_t>> blocks;
    std::vector<int32_t> positionsMs;
};

Reference RenderReference(const std::string& path, const std::function<void()>& adjust) {
    play::ReadyAsTheLoaderLeavesIt();
    adjust();
    Reference ref;
    play::PlayerPtr player = play::Open(path);
    if (!player) return ref;
    ref.rate = play::Begin(player.get());
    ref.frames = ref.rate * 30 / 1000;
    while (player->ops.isRunning(player.get())) {
        ref.positionsMs.push_back(player->ops.positionMs(player.get()));
        ref.blocks.push_back(play::Render(player.get(), ref.frames));
    }
    return ref;
}

bool PlayToTheEnd(const std::string& path) {
    if (standin::Play(path) != 0) return false;
    const bool ended = standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 10000);
    standin::Stop();
    return ended;
}

int EnvCount(const char* name, int fallback) {
    const char* text = std::getenv(name);
    return text != nullptr && std::atoi(text) > 0 ? std::atoi(text) : fallback;
}

// An output that moves on only inside CanWrite: the drain must keep asking,
// or the song never ends.
TEST_F(ShellTest, DrainAsksForRoomUntilPlayedOut) {
    standin::Settings().canWritesToPlayOut = 3;
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    EXPECT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 3000));
    EXPECT_EQ(standin::Count(Call::playedOut), 1);
}

// An output that takes at most 8,192 bytes a Write: a lengthened block goes
// out in frame-aligned pieces, in order, each waited for; a block the DSP
// left alone is one Write.
TEST_F(ShellTest, WritesWithinTheOutputsLimit) {
    const struct {
        const char* frequency;
        standin::Dsp dsp;
        int writesPerBlock;
    } cases[] = {
        {"48000", standin::Dsp::twice, 2},     // 2880 frames: 2048 + 832
        {"55467:FM", standin::Dsp::twice, 2},  // 2646 frames: 2048 + 598
        {"24000", standin::Dsp::twice, 1},     // 1440 frames
        {"48000", standin::Dsp::none, 1},
        {"48000", standin::Dsp::overrun, 2},  // cut to the buffer: 2880 frames
    };
    const std::string song = shelltest::ShortSong();
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.frequency) + (c.dsp == standin::Dsp::twice ? " doubled" : ""));
        LoadWith(Ini(std::string("Frequency=") + c.frequency + "\r\n").c_str());
        standin::Settings().strictWrites = true;
        standin::Settings().dsp = c.dsp;
        ASSERT_TRUE(PlayToTheEnd(song));
        EXPECT_EQ(standin::OversizeWrites(), 0);
        const std::vector<Record> writes = CallsOf(Call::write);
        const size_t blocks = CallsOf(Call::saAddPcm).size();
        EXPECT_EQ(writes.size(), blocks * c.writesPerBlock);
        for (const Record& w : writes) {
            EXPECT_LE(w.a, standin::kMaxWriteBytes);
            EXPECT_EQ(w.a % 4, 0);
        }
        if (c.dsp == standin::Dsp::overrun) continue;  // what lies past the block is not defined
        const int32_t code = LookupChoiceValue(frequencyChoices, c.frequency);
        const Reference ref = RenderReference(song, [code] { settings.frequency = code; });
        std::vector<int16_t> expected;
        for (const std::vector<int16_t>& block : ref.blocks) {
            for (size_t i = 0; i < block.size(); i += 2) {
                const int copies = c.dsp == standin::Dsp::twice ? 2 : 1;
                for (int k = 0; k < copies; ++k)
                    expected.insert(expected.end(), {block[i], block[i + 1]});
            }
        }
        EXPECT_TRUE(standin::Pcm() == expected);
        standin::Unload();
    }
}

// A seek or a pause the host makes the moment Play has returned, before the
// thread has had time to start, is kept every time.
TEST_F(ShellTest, RequestsRightAfterPlayAreKept) {
    LoadWith(Ini("LoopCount=0\r\n").c_str());
    const std::string song = shelltest::LoopingSong();
    const int tries = EnvCount("TAMBORIL_RIGHT_AFTER_PLAY_TRIES", 30);
    int seeksKept = 0, pausesKept = 0;
    for (int i = 0; i < tries; ++i) {
        standin::Clear();
        ASSERT_EQ(standin::Play(song), 0);
        standin::Plugin().SetOutputTime(250);
        if (WaitFor(Call::flush, 1, 1000) && CallsOf(Call::flush)[0].a == 250) ++seeksKept;
        standin::Stop();

        standin::Clear();
        ASSERT_EQ(standin::Play(song), 0);
        standin::Plugin().Pause();
        // Once the thread has rendered, it has long passed its start.
        const bool rendered = WaitFor(Call::saAddPcm, 2, 1000);
        if (rendered && standin::Plugin().IsPaused() == 1) ++pausesKept;
        standin::Stop();
        standin::Plugin().UnPause();
    }
    EXPECT_EQ(seeksKept, tries);
    EXPECT_EQ(pausesKept, tries);
}

#ifndef _WIN32
// A new Frequency chosen while Play opens the output (an OK on the settings
// page from the host's UI thread) waits for the next song: this one renders
// at the rate the output was opened with.
TEST_F(ShellTest, RateChangedDuringPlayWaitsForTheNextSong) {
    standin::Settings().onOpen = +[] { settings.frequency = 11025; };
    const std::string song = shelltest::ShortSong();
    ASSERT_TRUE(PlayToTheEnd(song));
    EXPECT_EQ(settings.frequency, 11025);
    EXPECT_EQ(CallsOf(Call::open)[0].a, 44100);
    for (const Record& r : CallsOf(Call::setInfo))
        EXPECT_EQ(r.b, 44);
    const Reference ref = RenderReference(song, [] {});
    std::vector<int16_t> expected;
    for (const std::vector<int16_t>& block : ref.blocks)
        play::Append(expected, block);
    EXPECT_EQ(standin::Pcm().size(), expected.size());
    EXPECT_TRUE(standin::Pcm() == expected);
}
#endif

// The visualisation reads 576 frames: below that many a block comes with the
// end of the blocks before it (silence before the first), stamped with the
// time of its first frame; larger blocks are given as they are.
TEST_F(ShellTest, VisualisationSeesTheLatestFrames) {
    const std::string song = shelltest::ShortSong();
    for (const char* frequency : {"11025", "22050", "44100"}) {
        SCOPED_TRACE(frequency);
        LoadWith(Ini(std::string("Frequency=") + frequency + "\r\n").c_str());
        ASSERT_TRUE(PlayToTheEnd(song));
        const int32_t code = LookupChoiceValue(frequencyChoices, frequency);
        const Reference ref = RenderReference(song, [code] { settings.frequency = code; });
        const std::vector<std::vector<int16_t>> seen = standin::VisPcm();
        const std::vector<Record> sa = CallsOf(Call::saAddPcm);
        const std::vector<Record> vsa = CallsOf(Call::vsaAddPcm);
        ASSERT_EQ(seen.size(), ref.blocks.size());
        ASSERT_EQ(vsa.size(), ref.blocks.size());
        std::vector<int16_t> history(2 * standin::kVisFrames, 0);
        const int32_t lead = standin::kVisFrames - ref.frames;
        for (size_t b = 0; b < ref.blocks.size(); ++b) {
            play::Append(history, ref.blocks[b]);
            const std::vector<int16_t> expected =
                lead > 0
                    ? std::vector<int16_t>(history.end() - 2 * standin::kVisFrames, history.end())
                    : std::vector<int16_t>(ref.blocks[b].begin(),
                                           ref.blocks[b].begin() + 2 * standin::kVisFrames);
            int32_t stamp = ref.positionsMs[b] - (lead > 0 ? lead * 1000 / ref.rate : 0);
            if (stamp < 0) stamp = 0;
            EXPECT_TRUE(seen[b] == expected) << "block " << b;
            EXPECT_EQ(sa[b].c, stamp) << "block " << b;
            EXPECT_EQ(vsa[b].c, stamp) << "block " << b;
        }
        standin::Unload();
    }
}

// Play, a short wait, then Stop, or Quit alone, or a song that ended by
// itself, and the module unloaded right after Quit, over and over. Under
// Wine the real DLL is freed, so a thread still in it crashes the program;
// natively every thread of the plug-in must be gone once Stop or Quit has
// returned, even a thread slow to leave.
TEST_F(ShellTest, PlayStopQuitUnloadCycles) {
    const int cycles = EnvCount("TAMBORIL_UNLOAD_CYCLES", 24);
#ifndef _WIN32
    platform::SlowThreadExits(3);
#endif
    const std::string looping = shelltest::LoopingSong();
    const std::string tiny = shelltest::SongFile("tiny.gym", shelltest::ToneStream(3));
    std::mt19937 random(15);
    int live = 0, ended = 0;
    for (int i = 0; i < cycles; ++i) {
        LoadWith(Ini("LoopCount=0\r\n").c_str());
        switch (i % 3) {
            case 0:  // Stop while it plays
                ASSERT_EQ(standin::Play(looping), 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
                standin::Stop();
                break;
            case 1:  // Quit while it plays, without a Stop
                ASSERT_EQ(standin::Play(looping), 0);
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 20));
                break;
            case 2:  // a song that ended by itself, no Stop
                ASSERT_EQ(standin::Play(tiny), 0);
                ended +=
                    standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000) ? 1 : 0;
                break;
        }
#ifndef _WIN32
        live += platform::LiveThreads() != 0 && i % 3 == 0 ? 1 : 0;
#endif
        standin::Unload();
#ifndef _WIN32
        live += platform::LiveThreads() != 0 ? 1 : 0;
#endif
        standin::UnloadModule();
    }
    EXPECT_EQ(live, 0);
    EXPECT_EQ(ended, cycles / 3);
    std::printf("%d unload cycles\n", cycles);
}

}  // namespace
