// The PCM the plug-in writes to the host's output equals what the native tool
// renders with the same settings, byte for byte: for every shared song (the
// real VGM files among them) at
// every Frequency choice, and with a seek made during the first block. One
// comparison per song and rate: the native build runs the tool itself as a
// separate program; the win32 build checks the real DLL against the same
// player operations compiled into the test, which the golden renders tie to
// the native tool. The sanitizer builds play a seeded sample of the songs.
#include <filesystem>
#include <string>
#include <vector>

#include "sample.h"
#include "shared_songs.h"
#include "tests/host/shell_fixture.h"
#include "tests/player/play_helpers.h"
#ifndef _WIN32
#include <cinttypes>
#include "tool_run.h"
#endif

namespace {

using shelltest::Ini;
using shelltest::ShellTest;
using standin::Call;

constexpr int kSeekMs = 1500;
// Songs a rate plays under a sanitizer.
constexpr size_t kSanitizedSongs = 6;

#ifdef _WIN32
// What the native tool writes for the song: the decode thread's blocks,
// optionally with a seek made during the first one.
std::vector<int16_t> Reference(const std::string& path, int32_t frequency, int seekMs,
                               bool* opens) {
    play::ReadyAsTheLoaderLeavesIt();
    settings.frequency = frequency;
    play::SessionPtr song = play::OpenSession(path);
    *opens = song != nullptr;
    if (!song) return {};
    std::vector<int16_t> all;
    std::vector<int16_t> block(2 * static_cast<size_t>(song->BlockFrames()));
    song->Start();
    if (seekMs >= 0 && song->Running()) {
        song->Render(block.data(), song->BlockFrames());
        song->Seek(seekMs);
    }
    while (song->Running()) {
        song->Render(block.data(), song->BlockFrames());
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}
#else
uint64_t ToolChecksum(const std::string& path, const char* frequency, int seekMs) {
    std::string command = std::string(TAMBORIL_TOOL) + " render --quiet --checksum --frequency " +
                          frequency + (seekMs >= 0 ? " --seek " + std::to_string(seekMs) : "") +
                          " '" + path + "'";
    ToolRun run = RunCommand(command);
    return std::strtoull(run.out.c_str(), nullptr, 16);
}
#endif

class SameBitsFixture : public ShellTest {
protected:
    void CompareEverySong(const char* frequency, int seekMs);
};

class SameBits : public SameBitsFixture, public ::testing::WithParamInterface<const char*> {};

// Plays the song through the plug-in to its natural end (the seek, when one
// is asked for, made while the first block waits for room) and returns what
// was written. `inTime` is false when the plug-in missed one of the waits:
// then the other songs would only wait as long.
std::vector<int16_t> ThroughThePlugin(const std::string& path, int seekMs, int* played,
                                      bool* inTime) {
    *inTime = true;
    standin::Clear();
    standin::Settings().canWriteBytes = seekMs >= 0 ? 0 : -1;
    *played = standin::Play(path);
    if (*played != 0) return {};
    if (seekMs >= 0) {
        *inTime = standin::WaitUntil([] { return standin::Count(Call::saAddPcm) >= 1; }, 5000);
        EXPECT_TRUE(*inTime) << "the first block never reached the visualisation";
        standin::Plugin().SetOutputTime(seekMs);
        // Room comes only once the seek is taken: room given sooner can let
        // the thread write the first block when its poll just missed the
        // wake, and then the seek lands a block late.
        const bool flushed =
            standin::WaitUntil([] { return standin::Count(Call::flush) >= 1; }, 5000);
        EXPECT_TRUE(flushed) << "the seek flushed nothing";
        *inTime = *inTime && flushed;
        standin::Settings().canWriteBytes = -1;
    }
    const bool ended = standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 120000);
    standin::Stop();
    EXPECT_TRUE(ended) << path;
    *inTime = *inTime && ended;
    if (seekMs >= 0) {
        // One Flush, to the seek's target.
        std::vector<int> flushes;
        for (const standin::Record& record : standin::Calls()) {
            if (record.call == Call::flush) flushes.push_back(record.a);
        }
        EXPECT_EQ(flushes, std::vector<int>{seekMs});
    }
    return standin::Pcm();
}

// Every song at the Frequency choice `frequency`, played from the start, or
// with a seek to seekMs made during the first block (-1: none).
void SameBitsFixture::CompareEverySong(const char* frequency, int seekMs) {
    const int32_t code = LookupChoiceValue(frequencyChoices, frequency);
    const std::string sweep =
        std::string("SameBits at ") + frequency + (seekMs >= 0 ? " with a seek" : "");
    std::vector<std::string> all = support::OneFormEach(support::SharedSongs());
    const std::vector<std::string> vgm = support::SharedVgmSongs();
    all.insert(all.end(), vgm.begin(), vgm.end());
    const std::vector<std::string> songs = support::SampleUnderSanitizers(
        all, kSanitizedSongs, sweep, static_cast<uint32_t>(code + (seekMs >= 0 ? 1 : 0)));
    LoadWith(Ini(std::string("Frequency=") + frequency + "\r\n").c_str());
    for (const std::string& song : songs) {
        SCOPED_TRACE(song + (seekMs >= 0 ? " with a seek" : ""));
        int played = 0;
        bool inTime = true;
        const std::vector<int16_t> pcm = ThroughThePlugin(song, seekMs, &played, &inTime);
        if (!inTime) FAIL() << "the plug-in missed a wait; the other songs are left out";
#ifdef _WIN32
        bool opens = false;
        const std::vector<int16_t> expected = Reference(song, code, seekMs, &opens);
        EXPECT_EQ(played, opens ? 0 : -1);
        ASSERT_EQ(pcm.size(), expected.size());
        EXPECT_TRUE(pcm == expected);
#else
        const bool opens = play::OpenSession(song) != nullptr;
        EXPECT_EQ(played, opens ? 0 : -1);
        if (opens) {
            EXPECT_EQ(play::Fnv1a(pcm), ToolChecksum(song, frequency, seekMs));
        }
#endif
    }
}

TEST_P(SameBits, EverySharedSong) {
    TAMBORIL_NEED_SHARED_SONGS();
    CompareEverySong(GetParam(), -1);
}

// The seek at the default choice, a test of its own so that no test runs long.
TEST_F(SameBitsFixture, EverySharedSongWithASeekAtFm55467) {
    TAMBORIL_NEED_SHARED_SONGS();
    CompareEverySong("55467:FM", kSeekMs);
}

INSTANTIATE_TEST_SUITE_P(Frequencies, SameBits,
                         ::testing::Values("55467:FM", "48000", "44100", "24000", "22050", "11025"),
                         [](const ::testing::TestParamInfo<const char*>& info) {
                             std::string name = info.param;
                             return name == "55467:FM" ? std::string("Fm55467") : "Hz" + name;
                         });

}  // namespace
