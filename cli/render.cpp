// tamboril render: plays songs exactly as the plug-in's decode thread does
// and writes the PCM to files.
//
//   tamboril render FILE... [-o OUT] [--frequency F] [--loops N] [--fade MS]
//                   [--volume-fm N] [--volume-ssg N] [--volume-pcm N]
//                   [--block-frames N] [--seek MS [--seek-after N]]
//                   [--checksum] [--quiet]
//
// The FM chip is initialised once as the settings loader does; then, one song
// after another in this one process, as a playlist in the plug-in plays them,
// each song is opened, asked for its rate and started, and rendered in blocks
// of --block-frames stereo frames (default: the host's 30 ms block, rate x 30
// / 1000) until it stops running; every block is written. --seek does what
// the decode thread does when a seek arrives during the first block: that
// block (of --seek-after frames, default one block, at most 441000 = 10 s at
// 44100 Hz) is rendered and dropped, the player seeks, and the rest is
// written.
//
// OUT by extension: .wav (16-bit PCM), .flac, .raw (headerless signed 16-bit
// little-endian, left then right), or "-" for raw on standard output. With
// several songs, or when it is a folder, OUT is a folder (made if need be)
// that gets each song's name with ".wav" ("-2", "-3" ... added to a name
// already used). Without -o each song goes to its name with ".wav" in the
// current folder, unless --checksum is given, which prints the FNV-1a 64 hash
// of the rendered samples (little-endian int16, left then right) on standard
// output instead: the hash alone for one song, else one "hash<TAB>FILE" line
// per song.
//
// Exit status: 0 done, 1 a song (or an output file) could not be opened (the
// other songs are still played), 2 bad usage.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <set>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "platform/text.h"
#include "player/engine.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/song.h"

namespace {

// Stereo frames converted to little-endian bytes at a time for raw output.
constexpr int32_t kRawChunkFrames = 2048;

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

struct RenderOptions {
    std::vector<std::string> files;
    std::string out;
    std::string frequency = LookupChoiceName(frequencyChoices, kDefaultFrequency, 0);
    int loops = kDefaultLoopCount;
    int fadeMs = kDefaultFadeoutTime;
    int volumeFm = kDefaultLevel;
    int volumeSsg = kDefaultLevel;
    int volumePcm = kDefaultLevel;
    int seekMs = -1;          // none
    int blockFrames = 0;      // 0 = the host's block, rate x 30 / 1000
    int seekAfterFrames = 0;  // 0 = one block
    bool checksum = false;
    bool quiet = false;
};

std::string FrequencyNames() {
    std::string names;
    for (const SettingChoice* c = frequencyChoices; c->name != nullptr; ++c) {
        if (!names.empty()) names += ", ";
        names += c->name;
    }
    return names + " (or 55555 for the first)";
}

bool EndsWithNoCase(const std::string& text, const char* suffix) {
    size_t n = std::strlen(suffix);
    return text.size() >= n && platform::lstrcmpiA(text.c_str() + text.size() - n, suffix) == 0;
}

// The song's file name without folder and extension (a name ending that a
// format claims, ".gym.zip", counts as one), plus ".wav".
std::string DefaultOutput(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t cut = name.rfind('.');
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        for (const char* const* ending = (*f)->nameEndings; *ending != nullptr; ++ending) {
            if (EndsWithNoCase(name, *ending)) cut = name.size() - std::strlen(*ending);
        }
    }
    if (cut != std::string::npos && cut > 0) name.erase(cut);
    if (name.empty()) name = "song";
    return name + ".wav";
}

// Where the rendered blocks go: a libsndfile file, a raw stream, or nowhere.
class Sink {
public:
    ~Sink() { Close(); }

    // Opens `out` for `rate`; false (with a message) when it cannot.
    bool Open(const std::string& out, int32_t rate) {
        if (out.empty()) return true;
        if (out == "-") {
            raw = stdout;
            return true;
        }
        if (EndsWithNoCase(out, ".raw")) {
            raw = std::fopen(out.c_str(), "wb");
            ownsRaw = raw != nullptr;
        } else {
            SF_INFO info{};
            info.samplerate = rate;
            info.channels = 2;
            info.format =
                (EndsWithNoCase(out, ".flac") ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
            sound = sf_open(out.c_str(), SFM_WRITE, &info);
        }
        if (raw == nullptr && sound == nullptr) {
            std::fprintf(stderr, "tamboril render: cannot write %s\n", out.c_str());
            return false;
        }
        return true;
    }

    bool Write(const int16_t* frames, int32_t count) {
        if (sound != nullptr) return sf_writef_short(sound, frames, count) == count;
        if (raw == nullptr) return true;
        uint8_t bytes[4 * kRawChunkFrames];
        for (int32_t done = 0; done < count;) {
            int32_t n = std::min<int32_t>(count - done, kRawChunkFrames);
            for (int32_t i = 0; i < 2 * n; ++i) {
                uint16_t v = static_cast<uint16_t>(frames[2 * done + i]);
                bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
                bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
            }
            if (std::fwrite(bytes, 4, static_cast<size_t>(n), raw) != static_cast<size_t>(n))
                return false;
            done += n;
        }
        return true;
    }

    bool Close() {
        bool ok = true;
        if (sound != nullptr) ok = sf_close(sound) == 0;
        if (raw != nullptr) ok = std::fflush(raw) == 0 && ok;
        if (ownsRaw) ok = std::fclose(raw) == 0 && ok;
        sound = nullptr;
        raw = nullptr;
        ownsRaw = false;
        return ok;
    }

private:
    SNDFILE* sound = nullptr;
    FILE* raw = nullptr;
    bool ownsRaw = false;
};

struct Tally {
    bool hashing = false;  // the hash is asked for; it costs two dependent multiplies a sample
    uint64_t hash = kFnvOffset;
    int64_t framesWritten = 0;
    int32_t peak = 0;  // largest |sample|

    void Add(const int16_t* frames, int32_t count) {
        if (hashing) {
            for (int32_t i = 0; i < 2 * count; ++i) {
                uint16_t v = static_cast<uint16_t>(frames[i]);
                hash = (hash ^ (v & 0xFF)) * kFnvPrime;
                hash = (hash ^ (v >> 8)) * kFnvPrime;
            }
        }
        // Apart from the hash, the peak carries only a compare from sample
        // to sample.
        int32_t blockPeak = peak;
        for (int32_t i = 0; i < 2 * count; ++i) {
            blockPeak = std::max(blockPeak, std::abs(static_cast<int32_t>(frames[i])));
        }
        peak = blockPeak;
        framesWritten += count;
    }
};

std::string Clock(double seconds) {
    char text[32];
    int whole = static_cast<int>(seconds);
    std::snprintf(text, sizeof text, "%d:%02d.%d", whole / 60, whole % 60,
                  static_cast<int>((seconds - whole) * 10));
    return text;
}

// The bar fills over the first pass of the song; the loop count goes on from there.
void ShowProgress(const SongSession& song, double songSeconds, double elapsed) {
    const int32_t passMs = song.LengthMs();
    int32_t positionMs = song.PositionMs();
    double position = positionMs / 1000.0;
    double speed = elapsed > 0 ? songSeconds / elapsed : 0;
    constexpr int kBarWidth = 30;
    int filled = passMs > 0 ? static_cast<int>(static_cast<int64_t>(std::min(positionMs, passMs)) *
                                               kBarWidth / passMs)
                            : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r[%s] %s  loops %d  %.0fx ", bar.c_str(), Clock(position).c_str(),
                 song.LoopsDone(), speed);
}

// Takes each block of a song: tallies it, writes it and shows the progress;
// drops the first block and seeks when --seek asks for it.
class RenderHost : public BlockHost {
public:
    RenderHost(const SongSession& song, Sink& sink, bool hashing, bool progress, int32_t seekMs)
        : song_(song), sink_(sink), progress_(progress), seekMs_(seekMs) {
        tally.hashing = hashing;
    }

    int32_t TakeBlock(const int16_t* frames, int32_t count) override {
        if (seekMs_ >= 0) {
            const int32_t target = seekMs_;
            seekMs_ = -1;
            return target;
        }
        loops = std::max(loops, song_.LoopsDone());
        tally.Add(frames, count);
        writeOk = sink_.Write(frames, count) && writeOk;
        if (progress_ && ++blocks_ % 16 == 0) {
            ShowProgress(song_, static_cast<double>(tally.framesWritten) / song_.Rate(), Elapsed());
        }
        return kKeepPlaying;
    }

    double Elapsed() const {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began_).count();
    }

    Tally tally;
    bool writeOk = true;
    int32_t loops = 0;  // the most LoopsDone showed; the song's end clears it

private:
    const SongSession& song_;
    Sink& sink_;
    const bool progress_;
    int32_t seekMs_;  // -1 once the seek is done, or when none is asked for
    int64_t blocks_ = 0;
    const std::chrono::steady_clock::time_point began_ = std::chrono::steady_clock::now();
};

// Plays one song from start to end into `out` (empty: nowhere). Returns the
// exit status for this song and sets `hash` to its checksum (when
// options.checksum asks for one).
int RenderSong(const RenderOptions& options, const std::string& file, const std::string& out,
               uint64_t& hash) {
    const char* why = nullptr;
    std::unique_ptr<SongSession> song = SongSession::Open(file.c_str(), &why);
    if (!song) {
        PrintCannotOpen("tamboril render", file, why);
        return kExitCannotOpen;
    }
    const int32_t rate = song->Rate();
    const int32_t blockFrames = options.blockFrames > 0 ? options.blockFrames : song->BlockFrames();
    const int32_t seekAfterFrames =
        options.seekAfterFrames > 0 ? options.seekAfterFrames : blockFrames;

    Sink sink;
    if (!sink.Open(out, rate)) return kExitCannotOpen;

    const bool progress = !options.quiet && isatty(STDERR_FILENO);
    RenderHost host(*song, sink, options.checksum, progress, options.seekMs);
    const bool played =
        PlayThrough(*song, blockFrames, host, options.seekMs >= 0 ? seekAfterFrames : 0);
    song.reset();
    const bool writeOk = sink.Close() && host.writeOk && played;
    const double elapsed = host.Elapsed();

    if (progress) std::fprintf(stderr, "\r%*s\r", 60, "");
    if (!writeOk) {
        std::fprintf(stderr, "tamboril render: writing %s failed\n", out.c_str());
        return kExitCannotOpen;
    }
    const Tally& tally = host.tally;
    hash = tally.hash;
    if (!options.quiet) {
        double seconds = static_cast<double>(tally.framesWritten) / rate;
        double peakDb = tally.peak > 0 ? 20.0 * std::log10(tally.peak / 32768.0) : -INFINITY;
        std::fprintf(
            stderr,
            "%s: %lld frames at %d Hz, %s, loops done %d, peak %d (%.1f dBFS), %.0fx real time\n",
            out.empty() ? file.c_str() : out.c_str(), static_cast<long long>(tally.framesWritten),
            rate, Clock(seconds).c_str(), host.loops, tally.peak, peakDb,
            elapsed > 0 ? seconds / elapsed : 0.0);
    }
    return kExitDone;
}

// Output paths, one per song: OUT itself for one song, else names in the
// folder OUT (or the current folder), each used once.
std::vector<std::string> OutputPaths(const RenderOptions& options, bool intoFolder) {
    std::vector<std::string> paths;
    if (!intoFolder) {
        paths.push_back(options.out.empty() && !options.checksum ? DefaultOutput(options.files[0])
                                                                 : options.out);
        return paths;
    }
    const bool nowhere = options.out.empty() && options.checksum;
    std::string folder = options.out;
    if (!folder.empty() && folder.back() != '/') folder += '/';
    std::set<std::string> used;
    for (const std::string& file : options.files) {
        if (nowhere) {
            paths.emplace_back();
            continue;
        }
        const std::string name = DefaultOutput(file);
        std::string unique = name;
        for (int n = 2; !used.insert(unique).second; ++n) {
            unique = name.substr(0, name.size() - 4) + "-" + std::to_string(n) + ".wav";
        }
        paths.push_back(folder + unique);
    }
    return paths;
}

int Render(const RenderOptions& options) {
    PowerOnEngine();
    ResetSettingsToDefaults();
    settings.frequency = FrequencyFromName(options.frequency.c_str());
    settings.loopCount = options.loops;
    settings.fadeoutTime = options.fadeMs;
    settings.volumeFm = options.volumeFm;
    settings.volumeSsg = options.volumeSsg;
    settings.volumePcm = options.volumePcm;

    if (options.checksum && options.out == "-") {
        std::fprintf(
            stderr,
            "tamboril render: --checksum prints on standard output; it cannot go with -o -\n");
        return kExitUsage;
    }
    std::error_code error;
    const bool intoFolder =
        options.files.size() > 1 ||
        (!options.out.empty() && std::filesystem::is_directory(options.out, error));
    if (intoFolder && options.out == "-") {
        std::fprintf(stderr, "tamboril render: with several songs -o names a folder, not -\n");
        return kExitUsage;
    }
    if (intoFolder && !options.out.empty() && !std::filesystem::is_directory(options.out, error) &&
        !std::filesystem::create_directories(options.out, error)) {
        std::fprintf(stderr, "tamboril render: cannot make the folder %s\n", options.out.c_str());
        return kExitCannotOpen;
    }
    const std::string& out = options.out;
    if (!intoFolder && !out.empty() && out != "-" && !EndsWithNoCase(out, ".wav") &&
        !EndsWithNoCase(out, ".flac") && !EndsWithNoCase(out, ".raw")) {
        std::fprintf(stderr,
                     "tamboril render: %s: the output must end in .wav, .flac or .raw, or be -\n",
                     out.c_str());
        return kExitUsage;
    }

    const std::vector<std::string> outputs = OutputPaths(options, intoFolder);
    int status = kExitDone;
    for (size_t i = 0; i < options.files.size(); ++i) {
        uint64_t hash = 0;
        const int songStatus = RenderSong(options, options.files[i], outputs[i], hash);
        if (songStatus != kExitDone) {
            status = songStatus;
            continue;
        }
        if (options.checksum && options.files.size() == 1) {
            std::printf("%016llx\n", static_cast<unsigned long long>(hash));
        } else if (options.checksum) {
            std::printf("%016llx\t%s\n", static_cast<unsigned long long>(hash),
                        options.files[i].c_str());
        }
    }
    std::fflush(stdout);
    return status;
}

}  // namespace

void PrintCannotOpen(const char* who, const std::string& path, const char* why) {
    if (why != nullptr) {
        std::fprintf(stderr, "%s: cannot open %s: %s\n", who, path.c_str(), why);
    } else {
        std::fprintf(stderr, "%s: cannot open %s (missing, unreadable, or a song over %u MiB)\n",
                     who, path.c_str(), kSongSizeLimit >> 20);
    }
}

std::string SongFileTypes() {
    std::string list;
    ForEachExtension(false, [&list](const char* extension, int length) {
        if (!list.empty()) list += ", ";
        list += '.';
        for (int i = 0; i < length; ++i)
            list += static_cast<char>(std::tolower(static_cast<unsigned char>(extension[i])));
    });
    return list;
}

void AddLoopAndFadeOptions(CLI::App& command, int& loops, int& fadeMs) {
    command
        .add_option("--loops", loops,
                    "Jumps back to the loop point before the fade (0 = for ever: a looping song "
                    "never ends); default " +
                        std::to_string(kDefaultLoopCount))
        ->check(CLI::Range(0, kMaxLoopCount));
    command
        .add_option("--fade", fadeMs,
                    "Fade-out time in ms (0 = stop at once); default " +
                        std::to_string(kDefaultFadeoutTime))
        ->check(CLI::Range(0, kMaxFadeoutTime));
}

void AddRenderCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* render = app.add_subcommand(
        "render", "Render songs to WAV, FLAC or raw files as the plug-in plays them");
    render
        ->add_option("FILE", options->files,
                     "Song files (" + SongFileTypes() +
                         "), played one after another in one process as a playlist")
        ->required();
    render->add_option(
        "-o,--output", options->out,
        "Output: .wav, .flac, .raw, or - for raw on standard output (default: the song's name with "
        ".wav); with several songs, or when it is a folder, a folder that gets each song's name "
        "with "
        ".wav");
    render->add_option("--frequency", options->frequency, "Output frequency: " + FrequencyNames())
        ->check(CLI::Validator(
            [](std::string& value) {
                return FrequencyFromName(value.c_str()) != 0
                           ? std::string()
                           : "not a frequency choice: " + FrequencyNames();
            },
            "FREQUENCY"));
    AddLoopAndFadeOptions(*render, options->loops, options->fadeMs);
    render
        ->add_option("--volume-fm", options->volumeFm,
                     "FM attenuation in half-decibels (192 silences it)")
        ->check(CLI::Range(kLowestLevel, kSilentLevel));
    render
        ->add_option("--volume-ssg", options->volumeSsg,
                     "PSG attenuation in half-decibels (192 silences it)")
        ->check(CLI::Range(kLowestLevel, kSilentLevel));
    render
        ->add_option("--volume-pcm", options->volumePcm,
                     "PCM (DAC) attenuation in half-decibels (192 silences it)")
        ->check(CLI::Range(kLowestLevel, kSilentLevel));
    render
        ->add_option(
            "--block-frames", options->blockFrames,
            "Stereo frames per render call (default: the host's 30 ms block, rate x 30 / 1000: "
            "1323 at "
            "44100 Hz and 55467:FM, 1440 at 48000, 720 at 24000, 661 at 22050, 330 at 11025)")
        ->check(CLI::Range(1, kMaxCallFrames));
    render
        ->add_option("--seek", options->seekMs,
                     "Seek to this position (ms) after the first block, which is rendered and "
                     "dropped as the host "
                     "drops it when it flushes")
        ->check(CLI::NonNegativeNumber);
    render
        ->add_option(
            "--seek-after", options->seekAfterFrames,
            "Frames in that first block, up to 441000 (10 s at 44100 Hz; default: one block)")
        ->check(CLI::Range(1, kMaxCallFrames))
        ->needs("--seek");
    render->add_flag(
        "--checksum", options->checksum,
        "Print the FNV-1a 64 hash of the rendered samples (writes no file unless -o is given)");
    render->add_flag("-q,--quiet", options->quiet, "Print nothing but errors");
    render->callback([options, &status]() { status = Render(*options); });
}
