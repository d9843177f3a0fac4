// The plug-in driven through its record as the media player drives it: what
// the player can observe of playing, stopping, seeking, pausing and file
// information.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <thread>

#include "shared_songs.h"
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
    // Pairs of extensions and descriptions, then the empty string.
    const char* list = m.FileExtensions;
    const char* expected[] = {"GYM",
                              "Genecyst sound log file (*.GYM)",
                              "DRU;GYM_ZIP",
                              "Compressed GYM (*.DRU;*.GYM_ZIP)",
                              "VGM;VGZ",
                              "Video game music file (*.VGM;*.VGZ)",
                              ""};
    for (const char* text : expected) {
        EXPECT_STREQ(list, text);
        list += std::strlen(list) + 1;
    }

    const struct {
        const char* name;
        int ours;
    } names[] = {{"song.gym.zip", 1}, {"C:\\music\\SONG.GYM.ZIP", 1},
                 {".gym.zip", 1},     {"song.zip", 0},
                 {"song.gym", 0},     {"gym.zip", 0},
                 {nullptr, 0}};
    for (const auto& n : names)
        EXPECT_EQ(m.IsOurFile(n.name), n.ours) << (n.name ? n.name : "null");
    // A file that cannot be read gets no box (the box itself is the dialog
    // tests' business: it waits for OK).
    EXPECT_EQ(m.InfoBox((shelltest::ShortSong() + ".missing").c_str(), nullptr), 0);

    // Title and length of a file: the length plays, as written (within a 30 ms
    // block); the file's name and length 0 for one that cannot open.
    char title[2048] = "untouched";
    int length = -7;
    m.GetFileInfo(shelltest::LoopingSong().c_str(), title, &length);
    EXPECT_STREQ(title, "Looping");
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 30000));
    standin::Stop();
    EXPECT_NEAR(length, standin::Pcm().size() / 2 * 1000 / 44100, 30);
    std::strcpy(title, "untouched");
    m.GetFileInfo(TempPath("missing.gym").c_str(), title, &length);
    EXPECT_STREQ(title, "missing.gym");
    EXPECT_EQ(length, 0);
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
    for (const Record& w : writes)
        EXPECT_EQ(w.a, 1323 * 4);
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

// Stop while the thread renders: Stop, made from another host thread while
// the thread is held inside a visualisation hook, does not return and closes
// nothing until the thread is let go; then no end-of-file message, nothing
// written after Stop returns, the output closed after the thread's last call.
TEST_F(ShellTest, StopWhileRenderingWaitsForTheThread) {
    LoadWith(Ini("LoopCount=0\r\n").c_str());
    standin::Settings().realtime = true;
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(WaitFor(Call::write, 3));
    standin::Settings().holdHooks = true;
    ASSERT_TRUE(standin::WaitUntil([] { return standin::Settings().hookHeld.load(); }, 5000));
    std::atomic<bool> stopped{false};
    std::thread host([&] {
        standin::Stop();
        stopped = true;
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(150));
    const bool returnedWhileHeld = stopped.load();
    const int closedWhileHeld = standin::Count(Call::close) + standin::Count(Call::savsaDeInit);
    const auto released = standin::NowUs();
    standin::Settings().holdHooks = false;
    host.join();
    EXPECT_FALSE(returnedWhileHeld);
    EXPECT_EQ(closedWhileHeld, 0);
    EXPECT_GT(LastTime(Call::close), released);
    const int64_t closed = LastTime(Call::close);
    EXPECT_GT(closed, LastTime(Call::saAddPcm));
    EXPECT_GT(closed, LastTime(Call::vsaAddPcm));
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
        for (int target : c.seeks)
            standin::Plugin().SetOutputTime(target);
        standin::Settings().holdHooks = false;
        if (c.stop) standin::Stop();
        if (!c.stop) {
            ASSERT_TRUE(WaitFor(Call::flush, 1));
            ASSERT_TRUE(standin::WaitUntil(
                [] { return LastTime(Call::saAddPcm) > LastTime(Call::flush); }, 5000));
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
        LoadWith(
            Ini(std::string("Frequency=") + c.frequency + "\r\nPriority=" + c.priority + "\r\n")
                .c_str());
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

// Half a second of all three parts at once: an FM note on channel 1 (one
// carrier, algorithm 7), a PSG tone, and DAC bytes on channel 6.
std::vector<uint8_t> ThreePartStream() {
    SongBuilder song;
    song.Fm(0xB0, 0x07).Fm(0xB4, 0xC0).Fm(0x1B6, 0xC0);
    for (uint32_t slot = 0; slot < 4; ++slot) {
        song.Fm(0x30 + 4 * slot, 0x01).Fm(0x40 + 4 * slot, slot == 3 ? 0x00 : 0x7F);
        song.Fm(0x50 + 4 * slot, 0x1F).Fm(0x60 + 4 * slot, 0x00).Fm(0x70 + 4 * slot, 0x00);
        song.Fm(0x80 + 4 * slot, 0x0F);
    }
    song.Fm(0xA4, 0x22).Fm(0xA0, 0x69).Fm(0x28, 0xF0);
    song.Psg(0x8E).Psg(0x0F).Psg(0x90);
    song.Fm(0x2B, 0x80);
    for (int frame = 0; frame < 30; ++frame) {
        for (int i = 0; i < 40; ++i)
            song.Fm(0x2A, static_cast<uint8_t>(i & 8 ? 0xE0 : 0x20));
        song.Frame();
    }
    return song.Bytes();
}

// VolumeFM, VolumeSSG and VolumePCM reach the part each names: what the
// plug-in writes equals the player's render with the same levels set
// directly, and each level changes the sound.
TEST_F(ShellTest, LevelsReachTheirParts) {
    const std::string song = shelltest::SongFile("three_parts.gym", ThreePartStream());
    const struct {
        int fm, ssg, pcm;
    } cases[] = {{0, 0, 0}, {24, 0, 0}, {0, 24, 0}, {0, 0, 24}, {6, 40, 12}};
    std::vector<std::vector<int16_t>> heard;
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.fm) + " " + std::to_string(c.ssg) + " " +
                     std::to_string(c.pcm));
        LoadWith(Ini("VolumeFM=" + std::to_string(c.fm) + "\r\nVolumeSSG=" + std::to_string(c.ssg) +
                     "\r\nVolumePCM=" + std::to_string(c.pcm) + "\r\n")
                     .c_str());
        ASSERT_EQ(standin::Play(song), 0);
        ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000));
        standin::Stop();
        play::ReadyAsTheLoaderLeavesIt();
        settings.volumeFm = c.fm;
        settings.volumeSsg = c.ssg;
        settings.volumePcm = c.pcm;
        play::PlayerPtr reference = play::Open(song);
        const int32_t block = play::Begin(reference.get()) * 30 / 1000;
        heard.push_back(standin::Pcm());
        EXPECT_TRUE(heard.back() == play::RenderToEnd(reference.get(), block));
        standin::Unload();
    }
    for (size_t i = 1; i < heard.size(); ++i)
        EXPECT_FALSE(heard[i] == heard[0]) << i;
}

// The host's bitrate field counts the jumps back to the loop point.
TEST_F(ShellTest, LoopsShownInTheBitrateField) {
    LoadWith(Ini("LoopCount=3\r\nFadeoutTime=100\r\n").c_str());
    ASSERT_EQ(standin::Play(shelltest::LoopingSong()), 0);
    ASSERT_TRUE(standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 5000));
    std::vector<int> shown;
    for (const Record& r : CallsOf(Call::setInfo))
        shown.push_back(r.a);
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
using standin::Call;

// One row of the shared songs' MANIFEST.tsv. Where more than one outcome is
// acceptable the columns list them, separated by "|", paired by position (a
// single title stands for every outcome that plays).
struct ManifestRow {
    std::string file;
    std::vector<std::string> frames;  // a number of frames, or "fail"
    std::vector<std::string> loops;   // the loop frame, 0 for none
    std::vector<std::string> titles;
};

std::vector<std::string> SplitText(const std::string& text, char separator) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (;;) {
        const size_t end = text.find(separator, start);
        parts.push_back(
            text.substr(start, end == std::string::npos ? std::string::npos : end - start));
        if (end == std::string::npos) return parts;
        start = end + 1;
    }
}

std::vector<ManifestRow> DamagedSongRows() {
    std::vector<ManifestRow> rows;
    std::ifstream manifest(std::string(TAMBORIL_SHARED_DIR) + "/songs/MANIFEST.tsv");
    std::string line;
    std::getline(manifest, line);  // the heading
    while (std::getline(manifest, line)) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::vector<std::string> columns = SplitText(line, '\t');
        if (columns.size() < 5 || columns[0].rfind("bad/", 0) != 0 || columns[2] == "-") continue;
        rows.push_back({columns[0], SplitText(columns[2], '|'), SplitText(columns[3], '|'),
                        SplitText(columns[4], '|')});
    }
    return rows;
}

// Every damaged song of the shared set through the plug-in, with the outcome
// the manifest gives: refused with -1 (listed by its file name, 0 ms long),
// or played with its title and length, to its end with one
// message, writing exactly what the player renders. The length is what plays
// (one pass for a song that does not loop), as long as what was written,
// within one 30 ms block.
TEST_F(ShellTest, DamagedSongsThroughThePlugin) {
    TAMBORIL_NEED_SHARED_SONGS();
    const std::vector<ManifestRow> rows = DamagedSongRows();
    ASSERT_GE(rows.size(), 20u);
    int refused = 0, played = 0;
    for (const ManifestRow& row : rows) {
        SCOPED_TRACE(row.file);
        const std::string song = std::string(TAMBORIL_SHARED_DIR) + "/songs/" + row.file;
        char title[2048] = "untouched";
        int length = -7;
        standin::Plugin().GetFileInfo(song.c_str(), title, &length);
        standin::Clear();
        const int result = standin::Play(song);
        const bool mayFail =
            std::find(row.frames.begin(), row.frames.end(), "fail") != row.frames.end();
        if (result == -1) {
            ++refused;
            EXPECT_TRUE(mayFail);
            // A file that cannot be opened is listed by its own name, 0 ms long.
            EXPECT_EQ(std::string(title), row.file.substr(row.file.find('/') + 1));
            EXPECT_EQ(length, 0);
            EXPECT_EQ(standin::Count(Call::open), 0);
            continue;
        }
        ASSERT_EQ(result, 0);
        ++played;
        size_t outcome = row.frames.size();
        for (size_t k = 0; k < row.frames.size(); ++k) {
            if (row.frames[k] == "fail") continue;
            const std::string& expectedTitle =
                row.titles.size() == 1 ? row.titles[0] : row.titles[k];
            const std::string& loop = row.loops.size() == 1 ? row.loops[0] : row.loops[k];
            const bool onePass = loop != "0" || length == std::stoi(row.frames[k]) * 100 / 6;
            if (onePass && title == expectedTitle) outcome = k;
        }
        EXPECT_LT(outcome, row.frames.size()) << "title " << title << ", length " << length;
        EXPECT_EQ(standin::Plugin().GetLength(), length);
        const bool ended = standin::WaitUntil([] { return standin::EndOfFiles() == 1; }, 60000);
        standin::Stop();
        EXPECT_TRUE(ended);
        EXPECT_NEAR(length, standin::Pcm().size() / 2 * 1000 / 44100, 30);
        // The player of the test's own, at the same (default) settings.
        play::ReadyAsTheLoaderLeavesIt();
        play::PlayerPtr reference = play::Open(song);
        ASSERT_TRUE(reference != nullptr);
        const int32_t block = play::Begin(reference.get()) * 30 / 1000;
        EXPECT_TRUE(standin::Pcm() == play::RenderToEnd(reference.get(), block));
    }
    EXPECT_GT(refused, 0);
    EXPECT_GT(played, 0);
}

}  // namespace
