// The Audacious plug-in inside a real Audacious, headless.
//
// Every test builds a private copy of the player in a temporary folder: the
// audacious binary copied (it finds its plug-ins relative to itself), the
// plug-in under test, Audacious's file-writer output, its playlist formats
// and its game-music input plug-in (which claims .gym too, so every song also
// shows that ours wins), plus a throw-away configuration: 16-bit output, no
// ReplayGain, no software volume, no effects, the file-writer writing WAV
// files into the folder. HOME and the XDG folders point into it, so the
// user's own configuration is never read or written. Sessions that need
// audtool get a D-Bus session bus of their own; every Audacious run is under
// `timeout`, so a hang fails instead of stalling the suite.
//
// What the WAV files are checked against: `tamboril render` with the same
// settings (its checksum over the samples), and, for seeks and level changes
// made while a song plays, the player driven in this process as the plug-in
// drives it.
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "fm/chip.h"
#include "player/engine.h"
#include "player/player.h"
#include "player/settings.h"
#include "player/song.h"
#include "tests/support/bomb_files.h"
#include "tests/support/checksum.h"
#include "tests/support/shared_songs.h"
#include "tests/support/song_builder.h"
#include "tests/support/song_files.h"
#include "tests/support/tool_run.h"

extern char** environ;

namespace fs = std::filesystem;

namespace {

const fs::path kSharedDir = TAMBORIL_SHARED_DIR;
constexpr int kRunTimeoutSeconds = 120;  // one Audacious run, at most

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text)
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

// The name the file-writer gives a song's WAV: the file name without its
// last extension.
std::string WavNameFor(const std::string& song) {
    return fs::path(song).stem().string() + ".wav";
}

struct Wav {
    bool ok = false;
    int rate = 0, channels = 0, bits = 0;
    std::string pcm;  // the data chunk
};

Wav ReadWav(const fs::path& path) {
    Wav wav;
    std::ifstream in(path, std::ios::binary);
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    auto u32 = [&](size_t at) {
        uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes[at + i]);
        return v;
    };
    auto u16 = [&](size_t at) {
        return static_cast<int>(static_cast<unsigned char>(bytes[at]) |
                                static_cast<unsigned char>(bytes[at + 1]) << 8);
    };
    if (bytes.size() < 12 || bytes.compare(0, 4, "RIFF") != 0 || bytes.compare(8, 4, "WAVE") != 0)
        return wav;
    bool haveFormat = false;
    for (size_t at = 12; at + 8 <= bytes.size();) {
        std::string id = bytes.substr(at, 4);
        size_t size = u32(at + 4);
        size_t body = at + 8;
        if (id == "fmt " && body + 16 <= bytes.size()) {
            wav.channels = u16(body + 2);
            wav.rate = static_cast<int>(u32(body + 4));
            wav.bits = u16(body + 14);
            haveFormat = true;
        } else if (id == "data") {
            // A file cut off by a stop holds what was written.
            wav.pcm = bytes.substr(body, std::min(size, bytes.size() - body));
            wav.ok = haveFormat;
            return wav;
        }
        at = body + size + (size & 1);
    }
    return wav;
}

std::vector<int16_t> Samples(const std::string& pcm) {
    std::vector<int16_t> samples(pcm.size() / 2);
    std::memcpy(samples.data(), pcm.data(), samples.size() * 2);
    return samples;
}

// A child process that this test started and alone ends.
class Child {
public:
    explicit Child(const std::string& command) {
        const char* argv[] = {"/bin/sh", "-c", command.c_str(), nullptr};
        if (posix_spawn(&pid_, "/bin/sh", nullptr, nullptr, const_cast<char**>(argv), environ) != 0)
            pid_ = -1;
    }
    ~Child() {
        if (pid_ > 0) {
            kill(pid_, SIGKILL);
            waitpid(pid_, nullptr, 0);
        }
    }
    bool Started() const { return pid_ > 0; }
    // Whether it has ended (it is then reaped).
    bool Ended() {
        int status = 0;
        if (pid_ > 0 && waitpid(pid_, &status, WNOHANG) == pid_) pid_ = -1;
        return pid_ <= 0;
    }
    // Exit status, or -1 when it did not end within `seconds` (it is then
    // killed) or ended by a signal.
    int Wait(int seconds) {
        auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
        while (pid_ > 0) {
            int status = 0;
            if (waitpid(pid_, &status, WNOHANG) == pid_) {
                pid_ = -1;
                return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
            }
            if (std::chrono::steady_clock::now() > end) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
        }
        return -1;
    }

private:
    pid_t pid_ = -1;
};

// A private D-Bus session bus for audtool, ended by its process id.
class SessionBus {
public:
    SessionBus() {
        ToolRun run = RunCommand("dbus-daemon --session --fork --print-address=1 --print-pid=1");
        std::istringstream lines(run.out);
        std::string pid;
        std::getline(lines, address_);
        std::getline(lines, pid);
        pid_ = std::atoi(pid.c_str());
    }
    ~SessionBus() {
        if (pid_ > 0) kill(pid_, SIGTERM);
    }
    bool Ok() const { return pid_ > 0 && !address_.empty(); }
    const std::string& Address() const { return address_; }

private:
    std::string address_;
    pid_t pid_ = 0;
};

// The private copy of Audacious with its configuration, in a new temporary
// folder that goes when the object does.
class PrivateAudacious {
public:
    explicit PrivateAudacious(const std::map<std::string, std::string>& tamborilKeys = {}) {
        char pattern[] = "/tmp/tamboril-audacious-XXXXXX";
        root_ = mkdtemp(pattern);
        fs::path binary = AUDACIOUS_BINARY;
        fs::path pluginDir = TAMBORIL_AUDACIOUS_PLUGIN_DIR;
        // The binary looks for plug-ins at the same place relative to itself.
        fs::path tree = root_ / "tree";
        fs::path relative = pluginDir.lexically_relative(binary.parent_path().parent_path());
        binary_ = tree / "bin" / "audacious";
        plugins_ = tree / relative;
        fs::create_directories(binary_.parent_path());
        fs::copy_file(binary, binary_);
        for (const char* kind : {"Input", "Output", "Container"})
            fs::create_directories(plugins_ / kind);
        fs::create_symlink(TAMBORIL_AUDACIOUS_PLUGIN, plugins_ / "Input" / "tamboril.so");
        if (fs::exists(pluginDir / "Input" / "console.so"))
            fs::create_symlink(pluginDir / "Input" / "console.so",
                               plugins_ / "Input" / "console.so");
        fs::create_symlink(pluginDir / "Output" / "filewriter.so",
                           plugins_ / "Output" / "filewriter.so");
        for (const auto& entry : fs::directory_iterator(pluginDir / "Container"))
            fs::create_symlink(entry.path(), plugins_ / "Container" / entry.path().filename());

        for (const char* dir : {"config/audacious", "data", "cache", "home", "out"})
            fs::create_directories(root_ / dir);
        // Without a complete registry entry for the file-writer Audacious
        // probes for a sound card and hangs.
        std::ofstream registry(root_ / "config/audacious/plugin-registry");
        registry
            << "format 11\noutput " << (plugins_ / "Output/filewriter.so").string()
            << "\nstamp 1\nversion 48\nflags 0\nname FileWriter Plugin\ndomain audacious-plugins\n"
               "priority 10\nabout 1\nconfig 1\nenabled 1\n";
        std::ofstream config(ConfigFile());
        config << "[audacious]\noutput_bit_depth=16\nenable_replay_gain=FALSE\nsoftware_volume_"
                  "control=FALSE\n"
                  "soft_clipping=FALSE\nequalizer_active=FALSE\noutput_buffer_size=100\n\n"
               << "[filewriter]\nfileext=0\nfile_path=file://" << Out().string()
               << "\nsave_original=FALSE\nfilenamefromtags=FALSE\n";
        if (!tamborilKeys.empty()) {
            config << "\n[tamboril]\n";
            for (const auto& [key, value] : tamborilKeys)
                config << key << "=" << value << "\n";
        }
    }
    ~PrivateAudacious() {
        std::error_code ignored;
        fs::remove_all(root_, ignored);
    }

    fs::path Out() const { return root_ / "out"; }
    fs::path ConfigFile() const { return root_ / "config/audacious/config"; }
    fs::path Log() const { return root_ / "audacious.log"; }

    // The environment of every run: private folders, no display, and the
    // given bus or none.
    std::string Environment(const std::string& bus = "") const {
        std::string env = "env -u DISPLAY -u WAYLAND_DISPLAY -u DBUS_SESSION_BUS_ADDRESS";
        env += " HOME=" + Quote(root_ / "home") + " XDG_CONFIG_HOME=" + Quote(root_ / "config") +
               " XDG_DATA_HOME=" + Quote(root_ / "data") +
               " XDG_CACHE_HOME=" + Quote(root_ / "cache");
        if (!bus.empty()) env += " DBUS_SESSION_BUS_ADDRESS=" + Quote(bus);
        return env;
    }

    // The command line that starts Audacious headless with `options` and
    // `files`, its messages going to Log().
    std::string Command(const std::string& options, const std::vector<std::string>& files,
                        const std::string& bus = "") const {
        std::string command = "exec " + Environment(bus) + " timeout " +
                              std::to_string(kRunTimeoutSeconds) + " " + Quote(binary_) + " -H " +
                              options;
        for (const auto& file : files)
            command += " " + Quote(file);
        return command + " >>" + Quote(Log()) + " 2>&1";
    }

    // Plays `files` as one playlist and quits: the exit status (124 when it
    // hung until the timeout, above 128 when it crashed).
    int PlayAll(const std::vector<std::string>& files) const {
        return RunCommand(Command("-q", files)).status;
    }

    std::string LogText() const {
        std::ifstream in(Log());
        return std::string((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    }

private:
    fs::path root_, binary_, plugins_;
};

// audtool on a bus: its output without the final newline.
std::string Audtool(const std::string& bus, const std::string& arguments) {
    ToolRun run = RunCommand("env -u DISPLAY DBUS_SESSION_BUS_ADDRESS=" + Quote(bus) +
                             " timeout 10 audtool " + arguments + " 2>/dev/null");
    if (!run.out.empty() && run.out.back() == '\n') run.out.pop_back();
    return run.out;
}

// Polls until `done` holds, for at most `seconds`.
template <typename Predicate>
bool WaitFor(Predicate done, int seconds) {
    auto end = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    while (!done()) {
        if (std::chrono::steady_clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    return true;
}

// `tamboril render --checksum` over several songs at once: song -> hash.
// Songs it cannot open are missing from the map.
std::map<std::string, uint64_t> ToolChecksums(const std::vector<std::string>& songs,
                                              const std::string& flags) {
    std::string command = std::string(TAMBORIL_TOOL) + " render --checksum --quiet " + flags;
    for (const auto& song : songs)
        command += " " + Quote(song);
    ToolRun run = RunCommand(command + " 2>/dev/null");
    std::map<std::string, uint64_t> hashes;
    std::istringstream lines(run.out);
    std::string line;
    while (std::getline(lines, line)) {
        size_t tab = line.find('\t');
        if (tab != std::string::npos)
            hashes[line.substr(tab + 1)] = std::strtoull(line.c_str(), nullptr, 16);
    }
    return hashes;
}

// Where a WAV first differs from the tool's raw render of the same song.
std::string FirstDifference(const std::string& song, const std::string& flags,
                            const std::string& pcm) {
    ToolRun run = RunCommand(std::string(TAMBORIL_TOOL) + " render --quiet " + flags + " -o - " +
                             Quote(song));
    size_t frames = std::min(run.out.size(), pcm.size()) / 4;
    for (size_t f = 0; f < frames; ++f) {
        if (run.out.compare(f * 4, 4, pcm, f * 4, 4) != 0)
            return "first different frame " + std::to_string(f) + " of " +
                   std::to_string(pcm.size() / 4) +
                   " (tool: " + std::to_string(run.out.size() / 4) + ")";
    }
    return "frames equal as far as both go: " + std::to_string(pcm.size() / 4) + " in the WAV, " +
           std::to_string(run.out.size() / 4) + " from the tool";
}

// Every song of `songs` played in one session with `keys` must give the WAV
// the tool gives with `toolFlags`, at `rate`. Returns how many were compared.
int ExpectSameBits(const std::vector<std::string>& songs,
                   const std::map<std::string, std::string>& keys, const std::string& toolFlags,
                   int rate) {
    std::map<std::string, std::string> wavFor;
    for (const auto& song : songs) {
        std::string wav = WavNameFor(song);
        for (const auto& [other, name] : wavFor) {
            EXPECT_NE(name, wav) << song << " and " << other << " would share a WAV name";
        }
        wavFor[song] = wav;
    }
    std::map<std::string, uint64_t> expected = ToolChecksums(songs, toolFlags);

    PrivateAudacious audacious(keys);
    EXPECT_EQ(audacious.PlayAll(songs), 0) << audacious.LogText();
    int compared = 0;
    for (const auto& song : songs) {
        SCOPED_TRACE(song);
        auto hash = expected.find(song);
        fs::path wavPath = audacious.Out() / wavFor[song];
        if (hash == expected.end()) {
            // The loader refuses it: Audacious gets an error and writes nothing.
            EXPECT_FALSE(fs::exists(wavPath));
            continue;
        }
        Wav wav = ReadWav(wavPath);
        if (!wav.ok) {
            ADD_FAILURE() << "no WAV from Audacious: " << wavPath << "\n" << audacious.LogText();
            continue;
        }
        EXPECT_EQ(wav.rate, rate);
        EXPECT_EQ(wav.channels, 2);
        EXPECT_EQ(wav.bits, 16);
        if (support::Fnv1a(wav.pcm) == hash->second) {
            ++compared;
        } else {
            ADD_FAILURE() << "PCM differs from tamboril render " << toolFlags << ": "
                          << FirstDifference(song, toolFlags, wav.pcm);
        }
    }
    return compared;
}

// The player driven in this process as the plug-in drives it: settings from
// `keys`-like values, `plan` seeks made after the given numbers of rendered
// blocks (each such block dropped), levels changed after other counts.
struct Event {
    int afterBlocks;  // rendered blocks (the dropped one included) before it
    int seekMs;       // -1: no seek
    int volumeFm;     // used when seekMs is -1
};

void InitializeEngineOnce() {
    static bool done = false;
    if (!done) PowerOnEngine();
    done = true;
}

// The written output after event number `segment` (0: from the start), at
// most `maxFrames` frames.
std::vector<int16_t> ReferenceSegment(const std::string& song, int32_t frequency, int loops,
                                      const std::vector<Event>& plan, size_t segment,
                                      size_t maxFrames) {
    InitializeEngineOnce();
    ResetSettingsToDefaults();
    settings.frequency = frequency;
    settings.loopCount = loops;
    GymPlayer* player = OpenSong(song.c_str());
    std::vector<int16_t> out;
    if (player == nullptr) return out;
    const PlayerOps& ops = player->ops;
    const int32_t frames = BlockFrames(ops.sampleRate(player));
    std::vector<int16_t> block(2 * static_cast<size_t>(frames));
    ops.start(player);
    size_t next = 0;
    int rendered = 0;
    while (ops.isRunning(player) && out.size() < 2 * maxFrames) {
        ops.render(player, block.data(), frames);
        ++rendered;
        const size_t owner = next;  // events after this block do not change it
        bool dropped = false;
        while (next < plan.size() && plan[next].afterBlocks == rendered) {
            if (plan[next].seekMs >= 0) {
                ops.seek(player, plan[next].seekMs);
                dropped = true;
            } else {
                settings.volumeFm = plan[next].volumeFm;
            }
            ++next;
        }
        if (!dropped && owner == segment) out.insert(out.end(), block.begin(), block.end());
        if (next > segment) break;
    }
    ops.halt(player);
    ops.destroy(player);
    if (out.size() > 2 * maxFrames) out.resize(2 * maxFrames);
    return out;
}

size_t CommonFrames(const std::vector<int16_t>& a, size_t aFrom, const std::vector<int16_t>& b) {
    size_t frames = 0;
    while (aFrom + 2 * frames + 1 < a.size() && 2 * frames + 1 < b.size() &&
           a[aFrom + 2 * frames] == b[2 * frames] && a[aFrom + 2 * frames + 1] == b[2 * frames + 1])
        ++frames;
    return frames;
}

// How many blocks the plug-in may have rendered past the last frame Audacious
// kept when it flushed its output for a seek: its buffer (100 ms in the
// private configuration) and the block in hand.
constexpr int kSeekWindowBlocks = 24;

// Explains a WAV made while the events of `kinds` (a seek to seekMs, or with
// seekMs -1 a change of the FM level) reached the plug-in: finds, event by
// event, the block after which it arrived, so that the WAV is the reference's
// first segment up to a cut, then the next segment up to a cut, ..., then the
// last segment to the end of the file. A level change cuts at the end of the
// block it arrived in. At a seek Audacious discards what its output still
// held, so the cut may come a few blocks before the dropped one. Fails the
// test when the WAV cannot be explained this way.
void ExpectExplained(const std::string& song, int32_t frequency, int loops,
                     const std::vector<Event>& kinds, const std::vector<int16_t>& wav,
                     int blockFrames) {
    std::vector<Event> plan;
    size_t at = 0;  // samples of the WAV explained by earlier segments
    std::vector<int16_t> segment =
        ReferenceSegment(song, frequency, loops, plan, 0, wav.size() / 2);
    size_t matched = CommonFrames(wav, at, segment);
    int blocksBefore = 0;  // rendered blocks before this segment's first
    for (size_t e = 0; e < kinds.size(); ++e) {
        SCOPED_TRACE("event " + std::to_string(e));
        const bool seek = kinds[e].seekMs >= 0;
        const int base = blocksBefore + static_cast<int>(matched / blockFrames);
        size_t bestEnd = 0, bestCut = 0, bestCommon = 0;
        int bestBlocks = -1;
        std::vector<int16_t> bestSegment;
        for (int blocks = seek ? base + 1 : base - 2;
             blocks <= (seek ? base + kSeekWindowBlocks : base); ++blocks) {
            if (blocks <= blocksBefore) continue;
            size_t cut = seek ? matched : static_cast<size_t>(blocks - blocksBefore) * blockFrames;
            if (cut > matched) continue;
            std::vector<Event> trial = plan;
            trial.push_back({blocks, kinds[e].seekMs, kinds[e].volumeFm});
            std::vector<int16_t> next = ReferenceSegment(song, frequency, loops, trial,
                                                         trial.size(), (wav.size() - at) / 2 - cut);
            size_t common = CommonFrames(wav, at + 2 * cut, next);
            if (common > 0 && cut + common > bestEnd) {
                bestEnd = cut + common;
                bestCut = cut;
                bestCommon = common;
                bestBlocks = blocks;
                bestSegment = std::move(next);
            }
            if (at + 2 * bestEnd >= wav.size() - 1) break;  // explains the rest of the file
        }
        std::printf("event %zu arrived after block %d, %d past the last frame kept\n", e,
                    bestBlocks, bestBlocks - base);
        ASSERT_GT(bestBlocks, 0) << "nothing after frame " << (at / 2 + matched)
                                 << " matches the player after "
                                 << (seek ? "a seek to " + std::to_string(kinds[e].seekMs) + " ms"
                                          : "a level change");
        plan.push_back({bestBlocks, kinds[e].seekMs, kinds[e].volumeFm});
        at += 2 * bestCut;
        matched = bestCommon;
        blocksBefore = bestBlocks;
        segment = std::move(bestSegment);
    }
    // The stop may cut the last block anywhere.
    EXPECT_EQ(at + 2 * matched, wav.size() - wav.size() % 2)
        << "the WAV goes on differently from frame " << (at / 2 + matched) << " of "
        << wav.size() / 2;
}

class AudaciousTest : public ::testing::Test {
protected:
    void SetUp() override { TAMBORIL_NEED_SHARED_SONGS(); }
};

// Every song, real log and real VGM file, one session, default settings.
TEST_F(AudaciousTest, EverySongGivesTheToolsPcmAtTheDefaults) {
    std::vector<std::string> songs = support::SharedSongs();
    const std::vector<std::string> vgm = support::SharedVgmSongs();
    songs.insert(songs.end(), vgm.begin(), vgm.end());
    ASSERT_GT(songs.size(), 50u);
    int compared = ExpectSameBits(songs, {}, "", 44100);
    EXPECT_EQ(compared, static_cast<int>(songs.size()));
    std::printf("compared %d of %zu songs bit for bit\n", compared, songs.size());
}

// Other settings on a few songs that exercise each part: every Frequency
// choice, loops, fades and levels; a Frequency no choice names plays as
// "55467:FM", as on Windows.
TEST_F(AudaciousTest, SettingsFromTheConfigurationGiveTheToolsPcm) {
    const fs::path songsDir = kSharedDir / "songs";
    const std::vector<std::string> songs = {
        songsDir / "song_neon_harbor.gym.zip",
        songsDir / "probe_gymx_loop100_gyi60.gym",
        songsDir / "probe_psg_noise_modes.gym",
        songsDir / "probe_dac_rates_2k-24k.gym",
        songsDir / "probe_lfo_speeds_0-7_pms7_ams3.gym",
        kSharedDir / "corpus" / "real" / "thunderforce4_stage4.gym",
    };
    struct Row {
        const char* frequency;  // as stored
        const char* toolFrequency;
        int rate, loops, fadeMs, fm, ssg, pcm;
    };
    const Row rows[] = {
        {"48000", "48000", 48000, 1, 1000, 6, -4, 10},
        {"44100", "44100", 44100, 3, 0, 0, 0, 0},
        {"24000", "24000", 24000, 2, 32767, -20, 60, 0},
        {"22050", "22050", 22050, 1, 5000, 0, 12, -6},
        {"11025", "11025", 11025, 2, 2500, 30, 0, 30},
        {"96000", "55467:FM", 44100, 1, 2500, 20, 0, -10},
        {"55467:fm", "55467:FM", 44100, 2, 5000, 0, 0, 0},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string("Frequency=") + row.frequency);
        std::map<std::string, std::string> keys = {
            {"Frequency", row.frequency},
            {"LoopCount", std::to_string(row.loops)},
            {"FadeoutTime", std::to_string(row.fadeMs)},
            {"VolumeFM", std::to_string(row.fm)},
            {"VolumeSSG", std::to_string(row.ssg)},
            {"VolumePCM", std::to_string(row.pcm)},
        };
        std::string flags = std::string("--frequency ") + row.toolFrequency + " --loops " +
                            std::to_string(row.loops) + " --fade " + std::to_string(row.fadeMs) +
                            " --volume-fm " + std::to_string(row.fm) + " --volume-ssg " +
                            std::to_string(row.ssg) + " --volume-pcm " + std::to_string(row.pcm);
        EXPECT_EQ(ExpectSameBits(songs, keys, flags, row.rate), static_cast<int>(songs.size()));
    }
}

// Seeks and a level change sent through audtool while a song plays for ever
// (LoopCount 0), and past one pass with 2 loops: the WAV must be what the
// player gives when the same requests reach it between blocks.
TEST_F(AudaciousTest, SeeksAndLevelsSentWhilePlayingLandWhereThePlayerPutsThem) {
    struct Row {
        const char* song;
        const char* frequency;
        int32_t frequencyValue;
        int blockFrames;
        std::vector<Event> events;  // afterBlocks unused: found from the WAV
        int loops = 0;              // LoopCount
    };
    const Row rows[] = {
        // forward, then back behind the position (the player restarts)
        {"song_coral_ascent.dru",
         "55467:FM",
         kFrequencyFmCode,
         1323,
         {{0, 60000, 0}, {0, 5000, 0}}},
        // past the 64 s of one pass, into the second loop, of 128.8 s that play
        {"song_coral_ascent.dru", "55467:FM", kFrequencyFmCode, 1323, {{0, 100000, 0}}, 2},
        // forward, then a level change, then back
        {"song_neon_harbor_gymx_zlib.gym",
         "22050",
         22050,
         661,
         {{0, 45000, 0}, {0, -1, 40}, {0, 20000, 0}}},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.song);
        std::string song = kSharedDir / "songs" / row.song;
        SessionBus bus;
        ASSERT_TRUE(bus.Ok()) << "no D-Bus session bus";
        PrivateAudacious audacious(
            {{"LoopCount", std::to_string(row.loops)}, {"Frequency", row.frequency}});
        // Audacious can abort as it starts when audtool's first question
        // comes before its main loop is set up (an assertion of its own,
        // "mainloop_type_set"): one that ended before it played is started
        // once more.
        std::unique_ptr<Child> player;
        for (int attempt = 0; attempt < 2; ++attempt) {
            player = std::make_unique<Child>(audacious.Command("", {song}, bus.Address()));
            ASSERT_TRUE(player->Started());
            WaitFor(
                [&] {
                    return player->Ended() ||
                           Audtool(bus.Address(), "playback-status") == "playing";
                },
                20);
            if (!player->Ended()) break;
        }
        ASSERT_EQ(Audtool(bus.Address(), "playback-status"), "playing") << audacious.LogText();
        // Paused at once, so that the first seek lands ahead of the position
        // on any machine; Audacious keeps the seek bar within the length the
        // playlist shows (what plays), so no target lies beyond it.
        Audtool(bus.Address(), "playback-pause");
        bool paused = true;
        for (const Event& event : row.events) {
            if (!paused) std::this_thread::sleep_for(std::chrono::milliseconds(50));
            if (event.seekMs >= 0) {
                Audtool(bus.Address(), "playback-seek " + std::to_string(event.seekMs / 1000));
            } else {
                RunCommand(
                    "env DBUS_SESSION_BUS_ADDRESS=" + Quote(bus.Address()) +
                    " timeout 10 gdbus call --session --dest org.atheme.audacious --object-path "
                    "/org/atheme/audacious --method org.atheme.audacious.ConfigSet tamboril "
                    "VolumeFM " +
                    std::to_string(event.volumeFm) + " >/dev/null");
            }
            if (paused) Audtool(bus.Address(), "playback-pause");
            paused = false;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(60));
        Audtool(bus.Address(), "playback-stop");
        Audtool(bus.Address(), "shutdown");
        ASSERT_EQ(player->Wait(30), 0) << audacious.LogText();

        Wav wav = ReadWav(audacious.Out() / WavNameFor(song));
        ASSERT_TRUE(wav.ok) << audacious.LogText();
        ExpectExplained(song, row.frequencyValue, row.loops, row.events, Samples(wav.pcm),
                        row.blockFrames);
    }
}

// The playlist shows what `tamboril info` finds in every song, damaged ones
// and real VGM files included (the corpus's dates begin with the year);
// songs that cannot be read show no length. Audacious holds the last
// extension of every song's name, in lower case, as one of Tamboril's, so it
// can pick Tamboril by the name alone.
TEST_F(AudaciousTest, PlaylistShowsTheToolsTitlesLengthsAndTags) {
    std::vector<std::string> songs = support::SharedSongs();
    std::vector<std::string> bad = support::DamagedSongs();
    songs.insert(songs.end(), bad.begin(), bad.end());
    const std::vector<std::string> vgm = support::SharedVgmSongs();
    songs.insert(songs.end(), vgm.begin(), vgm.end());

    std::string command = std::string(TAMBORIL_TOOL) + " info --tsv";
    for (const auto& song : songs)
        command += " " + Quote(song);
    ToolRun info = RunCommand(command + " 2>/dev/null");
    std::map<std::string, std::vector<std::string>> expected;  // the info columns by path
    std::istringstream lines(info.out);
    std::string line;
    while (std::getline(lines, line)) {
        std::vector<std::string> fields;
        std::istringstream cells(line + '\t');
        std::string cell;
        while (std::getline(cells, cell, '\t'))
            fields.push_back(cell);
        if (fields.size() == 18) expected[fields[0]] = fields;
    }
    ASSERT_EQ(expected.size(), songs.size());

    SessionBus bus;
    ASSERT_TRUE(bus.Ok()) << "no D-Bus session bus";
    PrivateAudacious audacious;
    Child player(audacious.Command("-e", songs, bus.Address()));
    ASSERT_TRUE(player.Started());
    const std::string count = std::to_string(songs.size());
    ASSERT_TRUE(WaitFor([&] { return Audtool(bus.Address(), "playlist-length") == count; }, 30))
        << audacious.LogText();
    int loaded = 0;
    for (size_t i = 0; i < songs.size(); ++i) {
        SCOPED_TRACE(songs[i]);
        const std::string entry = std::to_string(i + 1);
        EXPECT_EQ(Audtool(bus.Address(), "playlist-song-filename " + entry), songs[i]);
        const std::vector<std::string>& want = expected[songs[i]];
        if (want[2] == "-") {
            EXPECT_EQ(Audtool(bus.Address(), "playlist-tuple-data codec " + entry), "");
            EXPECT_EQ(Audtool(bus.Address(), "playlist-tuple-data length " + entry), "");
            continue;
        }
        // Audacious reads the tags in the background.
        EXPECT_TRUE(WaitFor(
            [&] { return !Audtool(bus.Address(), "playlist-tuple-data codec " + entry).empty(); },
            20));
        EXPECT_EQ(Audtool(bus.Address(), "playlist-tuple-data codec " + entry), want[5])
            << "not read by Tamboril";
        // The song's own title (the track, else the whole title), game, author, comment, year.
        for (const auto& [field, text] :
             std::map<std::string, std::string>{{"title", want[want[6].empty() ? 1 : 6]},
                                                {"album", want[7]},
                                                {"artist", want[9]},
                                                {"comment", want[13]},
                                                {"year", want[10].substr(0, 4)}}) {
            // Audacious shows folder names for an album and artist left empty.
            if (text.empty() && (field == "album" || field == "artist")) continue;
            std::string shown =
                Audtool(bus.Address(), "playlist-tuple-data " + field + " " + entry);
            for (char& c : shown)
                if (c == '\t' || c == '\r' || c == '\n') c = ' ';
            EXPECT_EQ(shown, text) << field;
        }
        EXPECT_EQ(Audtool(bus.Address(), "playlist-song-length-frames " + entry), want[4]);
        ++loaded;
    }
    Audtool(bus.Address(), "shutdown");
    EXPECT_EQ(player.Wait(30), 0) << audacious.LogText();
    // The registry Audacious wrote as it started; Audacious 4.2 files the
    // extensions under "scheme".
    std::ifstream registry(audacious.ConfigFile().parent_path() / "plugin-registry");
    std::set<std::string> extensions;
    bool ours = false;
    for (std::string kind, value; registry >> kind && std::getline(registry >> std::ws, value);) {
        if (value[0] == '/')  // "<type> <path>" starts a plug-in's entry
            ours = kind == "input" && fs::path(value).filename() == "tamboril.so";
        else if (ours && kind == "scheme")
            extensions.insert(value);
    }
    for (std::string song : songs) {
        std::transform(song.begin(), song.end(), song.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        EXPECT_EQ(extensions.count(fs::path(song).extension().string().substr(1)), 1u) << song;
    }
    std::printf("%d of %zu playlist entries with title and length\n", loaded, songs.size());
}

// Damaged songs played one after another: Audacious neither crashes nor
// hangs, and those the loader still reads sound as the tool renders them.
TEST_F(AudaciousTest, DamagedSongsNeitherCrashNorHang) {
    std::vector<std::string> bad = support::DamagedSongs();
    ASSERT_GT(bad.size(), 10u);
    int compared = ExpectSameBits(bad, {}, "", 44100);
    std::printf("%d of %zu damaged songs played, bit for bit\n", compared, bad.size());
    EXPECT_GT(compared, 0);
}

// What one Audacious run cost: its exit status, wall time, and the largest
// resident size of it and what it started.
struct RunCost {
    int status = -1;
    double seconds = 0;
    long maxRssKiB = 0;
};

RunCost MeasuredPlayAll(const PrivateAudacious& audacious, const std::vector<std::string>& files) {
    RunCost cost;
    const std::string command = audacious.Command("-q", files);
    const auto start = std::chrono::steady_clock::now();
    const pid_t child = fork();
    if (child == 0) {
        execl("/bin/sh", "sh", "-c", command.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int wait = 0;
    struct rusage usage = {};
    if (child < 0 || wait4(child, &wait, 0, &usage) != child) return cost;
    cost.seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    cost.status = WIFEXITED(wait) ? WEXITSTATUS(wait) : -1;
    cost.maxRssKiB = usage.ru_maxrss;
    return cost;
}

// Song bombs in a playlist: Audacious finds each unplayable and writes
// nothing for it, in no more time or memory than a run playing one second
// of a short song takes.
TEST(AudaciousBombs, RefusedAsUnplayable) {
    std::vector<std::string> bombs;
    for (const BombFile& bomb : WriteBombFiles(TempDir())) {
        // The one stating the limit inflates that much before it fails.
        if (bomb.refused && bomb.what.find("stating the limit") == std::string::npos)
            bombs.push_back(bomb.path);
    }
    SongBuilder tone;
    tone.Psg(0x8E).Psg(0x0F).Psg(0x90);
    for (int i = 0; i < 60; ++i)
        tone.Frame();
    const std::string tonePath = TempPath("tone.gym");
    ASSERT_TRUE(WriteFileBytes(tonePath, tone.Bytes()));

    PrivateAudacious baseline;
    const RunCost base = MeasuredPlayAll(baseline, {tonePath});
    ASSERT_EQ(base.status, 0) << baseline.LogText();
    ASSERT_TRUE(fs::exists(baseline.Out() / WavNameFor(tonePath))) << baseline.LogText();

    PrivateAudacious audacious;
    const RunCost cost = MeasuredPlayAll(audacious, bombs);
    EXPECT_EQ(cost.status, 0) << audacious.LogText();
    for (const std::string& bomb : bombs)
        EXPECT_FALSE(fs::exists(audacious.Out() / WavNameFor(bomb))) << bomb;
    EXPECT_LT(cost.seconds, base.seconds + 2.0) << base.seconds;
    EXPECT_LT(cost.maxRssKiB, base.maxRssKiB + 32 * 1024)
        << base.maxRssKiB << " KiB for the short song";
    std::printf("%zu bombs: %.2f s, %ld KiB; one short song: %.2f s, %ld KiB\n", bombs.size(),
                cost.seconds, cost.maxRssKiB, base.seconds, base.maxRssKiB);
}

}  // namespace
