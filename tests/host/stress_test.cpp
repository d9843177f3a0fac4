// Seeded random sequences of host calls from several threads at once: Play of
// good, damaged and missing files, Stop (also two at once), Pause and
// UnPause, SetOutputTime, GetFileInfo, Play while playing. Each sequence
// runs between Init and Quit, as a host session does. Nothing may crash or
// hang, every call comes back within a second, nothing is written after a
// Stop has returned, and each natural end posts exactly one end-of-file
// message while an interrupted song posts none. A natural end is seen at the
// output: the drain found it played out (IsPlaying answered 0), and nothing
// but a message may follow that.
//
// TAMBORIL_STRESS_SEQUENCES sets how many sequences run (default: a short
// form for every test run).
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <random>
#include <thread>

#include "tests/host/shell_fixture.h"

namespace {

using shelltest::ShellTest;

int SequenceCount() {
    const char* text = std::getenv("TAMBORIL_STRESS_SEQUENCES");
    return text != nullptr ? std::atoi(text) : 12;
}

struct Songs {
    std::vector<std::string> paths;
};

Songs MakeSongs() {
    Songs songs;
    songs.paths.push_back(shelltest::ShortSong());
    songs.paths.push_back(shelltest::LoopingSong());
    songs.paths.push_back(shelltest::SongFile("tiny.gym", shelltest::ToneStream(3)));
    songs.paths.push_back(shelltest::SongFile("cut.gym", {0x00, 0x03, 0x9F, 0x00, 0x01, 0x28}));
    songs.paths.push_back(TempPath("missing.gym"));
    songs.paths.push_back(TempDir());
    songs.paths.push_back("");
    songs.paths.push_back(std::string(TAMBORIL_SHARED_DIR) + "/songs/bad/gymx_short_header.gym");
    return songs;
}

// One host thread's share of a sequence: `steps` random calls.
void HostThread(uint32_t seed, int steps, const Songs& songs, std::atomic<int64_t>* slowest,
                std::atomic<int>* started) {
    std::mt19937 random(seed);
    In_Module& m = standin::Plugin();
    for (int i = 0; i < steps; ++i) {
        const auto before = std::chrono::steady_clock::now();
        const std::string& song = songs.paths[random() % songs.paths.size()];
        switch (random() % 9) {
            case 0:
            case 1:
                *started += standin::Play(song) == 0 ? 1 : 0;
                break;
            case 2:
                m.Stop();
                break;
            case 3:
                m.Pause();
                break;
            case 4:
                m.UnPause();
                break;
            case 5:
                m.SetOutputTime(static_cast<int>(random() % 3000));
                break;
            case 6: {
                char title[2048];
                int length = 0;
                m.GetFileInfo(random() % 2 ? song.c_str() : "", title, &length);
                break;
            }
            case 7:
                m.IsPaused();
                m.GetLength();
                m.GetOutputTime();
                break;
            case 8:
                std::this_thread::sleep_for(std::chrono::milliseconds(random() % 40));
                break;
        }
        const int64_t ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                               std::chrono::steady_clock::now() - before)
                               .count();
        int64_t seen = slowest->load();
        while (ms > seen && !slowest->compare_exchange_weak(seen, ms)) {
        }
    }
}

TEST_F(ShellTest, RandomHostCallsFromSeveralThreads) {
    const Songs songs = MakeSongs();
    const int sequences = SequenceCount();
    std::atomic<int64_t> slowest{0};
    int naturalEnds = 0;
    int messages = 0;
    std::atomic<int> started{0};
    for (int s = 0; s < sequences; ++s) {
        SCOPED_TRACE("sequence " + std::to_string(s));
        LoadWith(shelltest::Ini(s % 2 ? "LoopCount=1\r\nFadeoutTime=200\r\n" : "").c_str());
        standin::Settings().realtime = s % 3 == 0;
        standin::Settings().drainMs = s % 4 * 10;
        std::vector<std::thread> threads;
        for (int t = 0; t < 3; ++t) {
            threads.emplace_back(HostThread, static_cast<uint32_t>(s * 7919 + t), 12,
                                 std::cref(songs), &slowest, &started);
        }
        for (std::thread& t : threads)
            t.join();
        // The last word: a stop (the only one that marks the host's side),
        // after which nothing is written. Messages are posted, so they may
        // arrive a little later (win32); none may come beyond one per end.
        standin::Stop();
        const int ends = standin::Count(standin::Call::playedOut);
        standin::WaitUntil([ends] { return standin::EndOfFiles() >= ends; }, 2000);
        std::this_thread::sleep_for(std::chrono::milliseconds(30));
        EXPECT_EQ(standin::EndOfFiles(), ends);
        EXPECT_EQ(standin::WritesAfterStop(), 0);
        naturalEnds += ends;
        messages += standin::EndOfFiles();
        standin::Unload();
    }
    EXPECT_LT(slowest.load(), shelltest::kReturnMs);
    // The tiny song among the choices ends by itself in every run.
    EXPECT_GT(naturalEnds, 0);
    EXPECT_LE(naturalEnds, started.load());
    std::printf(
        "%d sequences, %d songs started, %d natural ends, %d messages, slowest call %lld ms\n",
        sequences, started.load(), naturalEnds, messages, static_cast<long long>(slowest.load()));
}

// A natural end posts exactly one message, whatever other threads ask about
// files meanwhile.
TEST_F(ShellTest, OneMessagePerNaturalEnd) {
    const std::string song = shelltest::SongFile("tiny.gym", shelltest::ToneStream(3));
    for (int round = 0; round < 20; ++round) {
        ASSERT_EQ(standin::Play(song), 0);
        std::thread asker([&] {
            char title[2048];
            int length;
            for (int i = 0; i < 5; ++i)
                standin::Plugin().GetFileInfo(song.c_str(), title, &length);
        });
        const bool ended =
            standin::WaitUntil([&] { return standin::EndOfFiles() == round + 1; }, 5000);
        asker.join();
        ASSERT_TRUE(ended);
        standin::Stop();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    EXPECT_EQ(standin::EndOfFiles(), 20);
}

}  // namespace
