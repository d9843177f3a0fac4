// The plug-in driven through its record as the media player drives it: what
// the player can observe of playing, stopping, seeking, pausing and file
// information.
#include <chrono>
#include <cstring>
#include <filesystem>
#include <thread>

#include "shared_songs.h"
#include "tests/host/shell_fixture.h"
#include "tests/player/play_helpers.h"

#ifndef _WIN32
#include "platform/kernel.h"
#endif

namespace {

using shelltest::Ini;
using shelltest::ShellTest;
using standin::Call;
using standin::Record;

std::vector<Record> CallsOf(Call call) {
    std::vector<Record> out;
    for (const Record& r : standin::Calls()) {
        if (r.call == call) out.push_back(r);
    }
    return out;
}

int64_t LastTime(Call call) {
    std::vector<Record> all = CallsOf(call);
    return all.empty() ? -1 : all.back().us;
}

TEST_F(ShellTest, RecordAndFileEntryPoints) {
    In_Module& m = standin::Plugin();
    EXPECT_EQ(m.version, 0x100);
    EXPECT_STREQ(m.description, "Tamboril v0.1(test) (x86)");
    EXPECT_EQ(m.is_seekable, 1);
    EXPECT_EQ(m.UsesOutputPlug, 1);
    // Two pairs of extensions and descriptions, then the empty string.
    const char* list = m.FileExtensions;
    const char* expected[] = {"GYM", "Genecyst sound log file (*.GYM)", "DRU;GYM_ZIP",
                              "Compressed GYM (*.DRU;*.GYM_ZIP)", ""};
    for (const char* text : expected) {
        EXPECT_STREQ(list, text);
        list += std::strlen(list) + 1;
    }

    const struct {
        const char* name;
        int ours;
    } names[] = {{"song.gym.zip", 1}, {"C:\\music\\SONG.GYM.ZIP", 1}, {".gym.zip", 1},
                 {"song.zip", 0},     {"song.gym", 0},              {"gym.zip", 0},
                 {nullptr, 0}};
    for (const auto& n : names) EXPECT_EQ(m.IsOurFile(n.name), n.ours) << (n.name ? n.name : "null");
    EXPECT_EQ(m.InfoBox(shelltest::ShortSong().c_str(), nullptr), 0);

    // Title and length of a file; nothing written for one that cannot open.
    char title[2048] = "untouched";
    int length = -7;
    m.GetFileInfo(shelltest::LoopingSong().c_str(), title, &length);
    EXPECT_STREQ(title, "Looping");
    EXPECT_EQ(length, 500);  // 30 frames
    std::strcpy(title, "untouched");
    m.GetFileInfo(TempPath("missing.gym").c_str(), title, &length);
    EXPECT_STREQ(title, "untouched");
    EXPECT_EQ(length, 500);
    m.GetFileInfo(nullptr, nullptr, nullptr);

    // The song in play answers for an empty name, and GetLength gives its
    // length.
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    m.GetFileInfo("", title, &length);
    EXPECT_STREQ(title, "[ short.gym ]");
    EXPECT_EQ(length, 1000);
    EXPECT_EQ(m.GetLength(), 1000);
    m.EQSet(1, title, 3);  // no equaliser: nothing happens
    m.SetVolume(200);
    m.SetPan(-10);
    EXPECT_EQ(CallsOf(Call::outSetVolume).back().a, 200);
    EXPECT_EQ(CallsOf(Call::outSetPan).back().a, -10);
}

// A song that ends by itself: announced, written whole, played out, then one
// end-of-file message; Stop afterwards only closes and tears down.
TEST_F(ShellTest, NaturalEndPlaysOutThenPostsOnce) {
    standin::Settings().drainMs = 150;
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() >= 1; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    EXPECT_EQ(standin::EndOfFiles(), 1);

    std::vector<Record> calls = standin::Calls();
    ASSERT_GE(calls.size(), 6u);
    // Play's announcements, in order: Open, SetInfo, SAVSAInit, VSASetInfo,
    // SetVolume(-666).
    EXPECT_EQ(calls[0].call, Call::open);
    EXPECT_EQ(calls[0].a, 44100);
    EXPECT_EQ(calls[0].b, 2);
    EXPECT_EQ(calls[0].c, 16);
    EXPECT_EQ(calls[0].d, 0);
    EXPECT_EQ(calls[1].call, Call::setInfo);
    EXPECT_EQ(calls[1].a, 0);
    EXPECT_EQ(calls[1].b, 44);
    EXPECT_EQ(calls[2].call, Call::savsaInit);
    EXPECT_EQ(calls[2].a, 40);  // latency first
    EXPECT_EQ(calls[2].b, 44100);
    EXPECT_EQ(calls[3].call, Call::vsaSetInfo);
    EXPECT_EQ(calls[3].a, 44100);  // rate, then channels
    EXPECT_EQ(calls[3].b, 2);
    EXPECT_EQ(calls[4].call, Call::outSetVolume);
    EXPECT_EQ(calls[4].a, -666);

    // 1 s at 44100 Hz is 44100 frames: 34 blocks of 1323 (the last ones
    // silent once the song has ended within the block).
    std::vector<Record> writes = CallsOf(Call::write);
    ASSERT_EQ(writes.size(), 34u);
    for (const Record& w : writes) EXPECT_EQ(w.a, 1323 * 4);
    EXPECT_EQ(standin::Pcm().size(), 34u * 1323 * 2);
    // The message comes after the output has played out.
    EXPECT_GE(LastTime(Call::endOfFile) - writes.back().us, 140000);
    // Visualisation timestamps follow the song position before each block.
    std::vector<Record> sa = CallsOf(Call::saAddPcm);
    ASSERT_EQ(sa.size(), writes.size());
    play::ReadyAsTheLoaderLeavesIt();  // the test's own player reads its own record
    play::PlayerPtr reference = play::Open(shelltest::ShortSong());
    play::Begin(reference.get());
    for (const Record& r : sa) {
        EXPECT_EQ(r.c, reference->ops.positionMs(reference.get()));
        play::Render(reference.get(), 1323);
    }

    const auto before = standin::NowUs();
    standin::Stop();
    EXPECT_LT(standin::NowUs() - before, 250000);
    EXPECT_EQ(standin::Count(Call::close), 1);
    EXPECT_EQ(standin::Count(Call::savsaDeInit), 1);
    EXPECT_EQ(standin::EndOfFiles(), 1);
}

// Stop while the thread renders: no end-of-file message, nothing written
// after Stop returns, the output closed after the thread is gone.
TEST_F(ShellTest, StopWhileRenderingWaitsForTheThread) {
    LoadWith(Ini("LoopCount=0\r\n").c_str());
    standin::Settings().realtime = true;
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(WaitFor(Call::write, 3));
    const auto before = standin::NowUs();
    standin::Stop();
    EXPECT_LT(standin::NowUs() - before, 250000);
    const int64_t closed = LastTime(Call::close);
    EXPECT_GT(closed, LastTime(Call::saAddPcm));
    EXPECT_GT(closed, LastTime(Call::write));
    std::this_thread::sleep_for(std::chrono::milliseconds(60));
    EXPECT_EQ(standin::WritesAfterStop(), 0);
    EXPECT_EQ(standin::EndOfFiles(), 0);
    // A new song plays after it.
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000));
}

// Requests made while the thread waits for room, seen together.
TEST_F(ShellTest, RequestsBeforeTheThreadLooks) {
    const struct {
        const char* what;
        std::vector<int> seeks;  // SetOutputTime targets, in order
        bool stop;               // then Stop
        int flushes;
        int flushTarget;
    } cases[] = {
        {"two seeks: one flush and one seek, to the second target", {300, 500}, false, 1, 500},
        {"seek then stop: a stop without seeking", {300}, true, 0, 0},
        {"a backward seek restarts the song", {0}, false, 1, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        LoadWith(Ini("LoopCount=0\r\n").c_str());
        ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
        ASSERT_TRUE(WaitFor(Call::write, c.seeks.back() == 0 ? 5 : 1));
        // The thread is held in the visualisation hook while the requests
        // are made, so it sees them together.
        standin::Settings().holdHooks = true;
        ASSERT_TRUE(standin::WaitUntil([] { return standin::Settings().hookHeld.load(); }, 5000));
        standin::Clear();
        for (int target : c.seeks) standin::Plugin().SetOutputTime(target);
        standin::Settings().holdHooks = false;
        if (c.stop) standin::Stop();
        if (!c.stop) {
            ASSERT_TRUE(WaitFor(Call::flush, 1));
            ASSERT_TRUE(standin::WaitUntil([] { return LastTime(Call::saAddPcm) > LastTime(Call::flush); }, 5000));
        }
        standin::Stop();  // the test's own player shares the chips natively
        std::vector<Record> flushes = CallsOf(Call::flush);
        ASSERT_EQ(static_cast<int>(flushes.size()), c.flushes);
        if (c.flushes == 1) {
            EXPECT_EQ(flushes[0].a, c.flushTarget);
            // The first block after the flush starts at the target.
            int next = -1;
            for (const Record& r : CallsOf(Call::saAddPcm)) {
                if (r.us > flushes[0].us) {
                    next = r.c;
                    break;
                }
            }
            play::ReadyAsTheLoaderLeavesIt();
            settings.loopCount = 0;
            play::PlayerPtr reference = play::Open(shelltest::LoopingSong());
            play::Begin(reference.get());
            reference->ops.seek(reference.get(), c.flushTarget);
            EXPECT_EQ(next, reference->ops.positionMs(reference.get()));
        }
        EXPECT_EQ(standin::EndOfFiles(), 0);
        standin::Stop();
        standin::Unload();
    }
}

// A seek while the output plays out the end: the thread ends as on a stop.
TEST_F(ShellTest, SeekDuringTheDrainEndsWithoutMessage) {
    standin::Settings().drainMs = 3000;
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    ASSERT_TRUE(WaitFor(Call::write, 34));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    standin::Plugin().SetOutputTime(0);
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    const auto before = standin::NowUs();
    standin::Stop();  // the thread is gone already: returns at once
    EXPECT_LT(standin::NowUs() - before, 250000);
    EXPECT_EQ(standin::Count(Call::flush), 0);
    EXPECT_EQ(standin::EndOfFiles(), 0);
}

TEST_F(ShellTest, PlayWhilePlayingAndPauseState) {
    LoadWith(Ini("LoopCount=0\r\n").c_str());
    standin::Settings().realtime = true;
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(WaitFor(Call::write, 1));
    standin::Plugin().Pause();
    EXPECT_EQ(standin::Plugin().IsPaused(), 1);
    EXPECT_EQ(CallsOf(Call::outPause).back().a, 1);
    // A second Play changes nothing: no new Open, the song goes on.
    EXPECT_EQ(standin::Play(shelltest::ShortSong()), 1);
    EXPECT_EQ(standin::Count(Call::open), 1);
    const int writes = standin::Count(Call::write);
    ASSERT_TRUE(WaitFor(Call::write, writes + 2));
    EXPECT_EQ(standin::Plugin().GetOutputTime() >= 0, true);
    standin::Stop();
    // A new thread starts unpaused.
    EXPECT_EQ(standin::Plugin().IsPaused(), 1);
    standin::Clear();
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(WaitFor(Call::saAddPcm, 1));
    EXPECT_EQ(standin::Plugin().IsPaused(), 0);
    standin::Plugin().UnPause();
    EXPECT_EQ(CallsOf(Call::outPause).back().a, 0);
}

// Songs that cannot be played: -1 at once, nothing opened or announced, and
// the next good song plays.
TEST_F(ShellTest, UnplayableFilesAreRefused) {
    const std::string tooLong = TempDir() + std::string(300, 'a') + ".gym";
    const std::vector<std::string> paths = {
        TempPath("missing.gym"),
        TempDir(),  // a folder
        "",
        tooLong,
        std::string(TAMBORIL_SHARED_DIR) + "/songs/bad/gymx_short_header.gym",
    };
    for (const std::string& path : paths) {
        SCOPED_TRACE(path.substr(0, 80));
        standin::Clear();
        EXPECT_EQ(standin::Play(path), -1);
        EXPECT_EQ(standin::Count(Call::open), 0);
        EXPECT_EQ(standin::Count(Call::setInfo), 0);
        EXPECT_EQ(standin::Count(Call::savsaInit), 0);
    }
    EXPECT_EQ(standin::Plugin().Play(nullptr), -1);
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000));
}

TEST_F(ShellTest, OutputThatWillNotOpen) {
    standin::Settings().openFails = true;
    EXPECT_EQ(standin::Play(shelltest::ShortSong()), 1);
    EXPECT_EQ(standin::Count(Call::setInfo), 0);
    EXPECT_EQ(standin::Count(Call::savsaInit), 0);
    standin::Settings().openFails = false;
    EXPECT_EQ(standin::Play(shelltest::ShortSong()), 0);
}

#ifndef _WIN32
// When no decode thread can start, everything Play did is undone.
TEST_F(ShellTest, NoThreadUndoesThePlay) {
    platform::FailThreadStarts(true);
    EXPECT_EQ(standin::Play(shelltest::ShortSong()), 1);
    platform::FailThreadStarts(false);
    EXPECT_EQ(standin::Count(Call::open), 1);
    EXPECT_EQ(standin::Count(Call::close), 1);
    EXPECT_EQ(standin::Count(Call::savsaDeInit), 1);
    EXPECT_EQ(standin::Play(shelltest::ShortSong()), 0);
}
#endif

// Block sizes and thread priorities follow the settings; a DSP's frame count
// decides what is waited for and written, within the buffer and at most
// 8,192 bytes a Write.
TEST_F(ShellTest, BlocksPrioritiesAndDsp) {
    const struct {
        const char* frequency;
        const char* priority;
        standin::Dsp dsp;
        int rate, frames, priority_, written;
    } cases[] = {
        {"55467:FM", "Normal", standin::Dsp::none, 44100, 1323, 0, 1323},
        {"48000", "Highest", standin::Dsp::none, 48000, 1440, 2, 1440},
        {"44100", "Higher", standin::Dsp::halve, 44100, 1323, 1, 661},
        {"24000", "Lower", standin::Dsp::twice, 24000, 720, -1, 1440},
        {"22050", "Lowest", standin::Dsp::none, 22050, 661, -2, 661},
        {"11025", "normal", standin::Dsp::twice, 11025, 330, 0, 660},
        {"48000", "Normal", standin::Dsp::overrun, 48000, 1440, 0, 2048},  // of 2880, in two Writes
        {"11025", "Normal", standin::Dsp::negative, 11025, 330, 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(std::string(c.frequency) + " " + c.priority);
        LoadWith(Ini(std::string("Frequency=") + c.frequency + "\r\nPriority=" + c.priority + "\r\n").c_str());
        standin::Settings().dsp = c.dsp;
        ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
        ASSERT_TRUE(WaitFor(Call::write, 2));
        standin::Stop();
        EXPECT_EQ(CallsOf(Call::open)[0].a, c.rate);
        const Record sa = CallsOf(Call::saAddPcm)[0];
        EXPECT_EQ(sa.threadPriority, c.priority_);
        const Record w = CallsOf(Call::write)[0];
        EXPECT_EQ(w.a, 4 * c.written);
        if (c.dsp != standin::Dsp::none) {
            const Record d = CallsOf(Call::dspDoSamples)[0];
            EXPECT_EQ(d.a, c.frames);
            EXPECT_EQ(d.d, c.rate);
        }
        if (c.dsp == standin::Dsp::twice) {
            // Every frame doubled, and the second block follows the first.
            std::vector<int16_t> pcm = standin::Pcm();
            ASSERT_GE(pcm.size(), 4u * c.frames);
            for (int i = 0; i < c.frames; i += 97) {
                EXPECT_EQ(pcm[4 * i], pcm[4 * i + 2]);
                EXPECT_EQ(pcm[4 * i + 1], pcm[4 * i + 3]);
            }
        }
        standin::Unload();
    }
}

// The host's bitrate field counts the jumps back to the loop point.
TEST_F(ShellTest, LoopsShownInTheBitrateField) {
    LoadWith(Ini("LoopCount=3\r\nFadeoutTime=100\r\n").c_str());
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000));
    std::vector<int> shown;
    for (const Record& r : CallsOf(Call::setInfo)) shown.push_back(r.a);
    EXPECT_EQ(shown, (std::vector<int>{0, 0, 1, 2, 3}));  // Play's, then the thread's
}

// A Stop that arrives while another one waits returns at once and closes
// nothing; a host without a main window gets no message and no crash.
TEST_F(ShellTest, SecondStopAndNoMainWindow) {
    LoadWith(Ini("LoopCount=0\r\n").c_str());
    standin::Settings().holdHooks = true;
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(WaitFor(Call::saAddPcm, 1));
    std::thread first([] { standin::Stop(); });
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    const auto before = standin::NowUs();
    standin::Plugin().Stop();
    EXPECT_LT(standin::NowUs() - before, 150000);
    EXPECT_EQ(standin::Count(Call::close), 0);
    standin::Settings().holdHooks = false;
    first.join();
    EXPECT_EQ(standin::Count(Call::close), 1);

    HostWindow window = standin::Plugin().hMainWindow;
    standin::Plugin().hMainWindow = nullptr;
    standin::Unload();
    LoadWith(nullptr);
    ASSERT_EQ(standin::Play(shelltest::ShortSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::Count(Call::write) == 34; }, 5000));
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    standin::Stop();
    standin::Plugin().hMainWindow = window;
    EXPECT_EQ(standin::EndOfFiles(), 0);
}

}  // namespace

namespace {

using shelltest::ShellTest;

// Every damaged song of the shared set: refused with -1 or played to its end
// with one message, and its information asked for without harm.
TEST_F(ShellTest, DamagedSongsThroughThePlugin) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::string folder = std::string(TAMBORIL_SHARED_DIR) + "/songs/bad";
    std::vector<std::string> songs;
    std::error_code error;
    for (const auto& entry : std::filesystem::directory_iterator(folder, error)) {
        songs.push_back(entry.path().string());
    }
    ASSERT_FALSE(songs.empty());
    int ends = 0;
    for (const std::string& song : songs) {
        SCOPED_TRACE(song);
        char title[2048];
        int length = -1;
        standin::Plugin().GetFileInfo(song.c_str(), title, &length);
        const int played = standin::Play(song);
        ASSERT_TRUE(played == 0 || played == -1);
        if (played == 0) {
            ++ends;
            EXPECT_TRUE(standin::WaitUntil([&] { return standin::EndOfFiles() == ends; }, 30000));
        }
        standin::Stop();
    }
    EXPECT_EQ(standin::EndOfFiles(), ends);
}

}  // namespace
