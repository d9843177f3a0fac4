// tamboril render: plays a song exactly as the plug-in's decode thread does
// and writes the PCM to a file.
//
//   tamboril render FILE [-o OUT] [--frequency F] [--loops N] [--fade MS]
//                   [--volume-fm N] [--volume-ssg N] [--volume-pcm N]
//                   [--seek MS] [--checksum] [--quiet]
//
// The FM chip is initialised once as the settings loader does, the song is
// opened, asked for its rate and started, and then rendered in blocks of
// rate x 30 / 1000 stereo frames until it stops running; every block is
// written. --seek does what the decode thread does when a seek arrives during
// the first block: that block is rendered and dropped, the player seeks, and
// the rest is written.
//
// OUT by extension: .wav (16-bit PCM), .flac, .raw (headerless signed 16-bit
// little-endian, left then right), or "-" for raw on standard output. Without
// -o the audio goes to the song's name with ".wav" in the current folder,
// unless --checksum is given, which prints the FNV-1a 64 hash of the rendered
// samples (little-endian int16, left then right) on standard output instead.
//
// Exit status: 0 done, 1 the song (or the output file) cannot be opened, 2 bad
// usage.
#include <sndfile.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "commands.h"
#include "fm/chip.h"
#include "platform/text.h"
#include "player/player.h"
#include "player/settings.h"
#include "player/song.h"

namespace {

// The settings loader's one-time initialisation of the FM chip.
constexpr uint32_t kLoaderClock = 7670442;
constexpr uint32_t kLoaderRate = 44100;

// What the configuration pages allow.
constexpr int kMaxLoops = 255;
constexpr int kMaxFadeMs = 32767;
constexpr int kMinLevel = -20;
constexpr int kMaxLevel = 60;

// The decode thread's block length, ms.
constexpr int32_t kBlockMs = 30;

// Stereo frames converted to little-endian bytes at a time for raw output.
constexpr int32_t kRawChunkFrames = 2048;

constexpr uint64_t kFnvOffset = 0xCBF29CE484222325ull;
constexpr uint64_t kFnvPrime = 0x100000001B3ull;

struct RenderOptions {
    std::string file;
    std::string out;
    std::string frequency = "55467:FM";
    int loops = kDefaultLoopCount;
    int fadeMs = kDefaultFadeoutTime;
    int volumeFm = 0;
    int volumeSsg = 0;
    int volumePcm = 0;
    int seekMs = -1;  // none
    bool checksum = false;
    bool quiet = false;
};

// The Frequency setting's value for one of its names, or for 55555; 0 for
// anything else.
int32_t FrequencyFromName(const std::string& name) {
    if (name == "55555") return kFrequencyFmCode;
    for (const SettingChoice* c = frequencyChoices; c->name != nullptr; ++c) {
        if (platform::lstrcmpiA(c->name, name.c_str()) == 0) return c->value;
    }
    return 0;
}

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

// The song's file name without folder and extension (".gym.zip" counts as
// one), plus ".wav".
std::string DefaultOutput(const std::string& path) {
    size_t slash = path.find_last_of("/\\");
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot > 0) name.erase(dot);
    if (EndsWithNoCase(name, ".gym")) name.erase(name.size() - 4);
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
            info.format = (EndsWithNoCase(out, ".flac") ? SF_FORMAT_FLAC : SF_FORMAT_WAV) | SF_FORMAT_PCM_16;
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
            if (std::fwrite(bytes, 4, static_cast<size_t>(n), raw) != static_cast<size_t>(n)) return false;
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
    uint64_t hash = kFnvOffset;
    int64_t framesWritten = 0;
    int32_t peak = 0;  // largest |sample|

    void Add(const int16_t* frames, int32_t count) {
        for (int32_t i = 0; i < 2 * count; ++i) {
            uint16_t v = static_cast<uint16_t>(frames[i]);
            hash = (hash ^ (v & 0xFF)) * kFnvPrime;
            hash = (hash ^ (v >> 8)) * kFnvPrime;
            peak = std::max(peak, std::abs(static_cast<int32_t>(frames[i])));
        }
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
void ShowProgress(GymPlayer* player, int32_t passMs, double songSeconds, double elapsed) {
    int32_t positionMs = player->ops.positionMs(player);
    double position = positionMs / 1000.0;
    double speed = elapsed > 0 ? songSeconds / elapsed : 0;
    constexpr int kBarWidth = 30;
    int filled = passMs > 0 ? static_cast<int>(static_cast<int64_t>(std::min(positionMs, passMs)) * kBarWidth / passMs) : 0;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(kBarWidth, '.');
    std::fprintf(stderr, "\r[%s] %s  loops %d  %.0fx ", bar.c_str(), Clock(position).c_str(),
                 player->ops.loopsDone(player), speed);
}

int Render(const RenderOptions& options) {
    fmChip.Initialize(kLoaderClock, kLoaderRate, true);
    ResetSettingsToDefaults();
    settings.frequency = FrequencyFromName(options.frequency);
    settings.loopCount = options.loops;
    settings.fadeoutTime = options.fadeMs;
    settings.volumeFm = options.volumeFm;
    settings.volumeSsg = options.volumeSsg;
    settings.volumePcm = options.volumePcm;

    if (options.checksum && options.out == "-") {
        std::fprintf(stderr, "tamboril render: --checksum prints on standard output; it cannot go with -o -\n");
        return kExitUsage;
    }
    std::string out = options.out;
    if (out.empty() && !options.checksum) out = DefaultOutput(options.file);
    if (!out.empty() && out != "-" && !EndsWithNoCase(out, ".wav") && !EndsWithNoCase(out, ".flac") &&
        !EndsWithNoCase(out, ".raw")) {
        std::fprintf(stderr, "tamboril render: %s: the output must end in .wav, .flac or .raw, or be -\n",
                     out.c_str());
        return kExitUsage;
    }

    GymPlayer* player = OpenSong(options.file.c_str());
    if (player == nullptr) {
        std::fprintf(stderr, "tamboril render: cannot open %s\n", options.file.c_str());
        return kExitCannotOpen;
    }
    const PlayerOps& ops = player->ops;
    const int32_t rate = ops.sampleRate(player);
    const int32_t blockFrames = rate * kBlockMs / 1000;
    const int32_t passMs = SongLengthMs(player);
    std::vector<int16_t> block(2 * static_cast<size_t>(blockFrames));

    Sink sink;
    if (!sink.Open(out, rate)) {
        ops.destroy(player);
        return kExitCannotOpen;
    }

    const bool progress = !options.quiet && isatty(STDERR_FILENO);
    const auto began = std::chrono::steady_clock::now();
    auto elapsedSince = [&began] {
        return std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count();
    };

    ops.start(player);
    if (options.seekMs >= 0 && ops.isRunning(player)) {
        ops.render(player, block.data(), blockFrames);
        ops.seek(player, options.seekMs);
    }

    Tally tally;
    bool writeOk = true;
    int64_t blocks = 0;
    int32_t loops = 0;  // the most loopsDone showed; halting clears it
    while (ops.isRunning(player)) {
        ops.render(player, block.data(), blockFrames);
        loops = std::max(loops, ops.loopsDone(player));
        tally.Add(block.data(), blockFrames);
        writeOk = sink.Write(block.data(), blockFrames) && writeOk;
        if (progress && ++blocks % 16 == 0) {
            ShowProgress(player, passMs, static_cast<double>(tally.framesWritten) / rate, elapsedSince());
        }
    }
    ops.halt(player);
    ops.destroy(player);
    writeOk = sink.Close() && writeOk;
    const double elapsed = elapsedSince();

    if (progress) std::fprintf(stderr, "\r%*s\r", 60, "");
    if (!writeOk) {
        std::fprintf(stderr, "tamboril render: writing %s failed\n", out.c_str());
        return kExitCannotOpen;
    }
    if (options.checksum) std::printf("%016llx\n", static_cast<unsigned long long>(tally.hash));
    if (!options.quiet) {
        double seconds = static_cast<double>(tally.framesWritten) / rate;
        double peakDb = tally.peak > 0 ? 20.0 * std::log10(tally.peak / 32768.0) : -INFINITY;
        std::fprintf(stderr,
                     "%s: %lld frames at %d Hz, %s, loops done %d, peak %d (%.1f dBFS), %.0fx real time\n",
                     out.empty() ? options.file.c_str() : out.c_str(),
                     static_cast<long long>(tally.framesWritten), rate, Clock(seconds).c_str(), loops,
                     tally.peak, peakDb, elapsed > 0 ? seconds / elapsed : 0.0);
    }
    std::fflush(stdout);
    return kExitDone;
}

}  // namespace

void AddRenderCommand(CLI::App& app, int& status) {
    auto options = std::make_shared<RenderOptions>();
    CLI::App* render = app.add_subcommand("render", "Render a song to a WAV, FLAC or raw file as the plug-in plays it");
    render->add_option("FILE", options->file, "Song file (.gym, .dru, .gym_zip, .gym.zip)")->required();
    render->add_option("-o,--output", options->out,
                       "Output: .wav, .flac, .raw, or - for raw on standard output (default: the song's name with .wav)");
    render->add_option("--frequency", options->frequency, "Output frequency: " + FrequencyNames())
        ->check(CLI::Validator(
            [](std::string& value) {
                return FrequencyFromName(value) != 0 ? std::string() : "not a frequency choice: " + FrequencyNames();
            },
            "FREQUENCY"));
    render->add_option("--loops", options->loops, "Jumps back to the loop point before the fade (0 = for ever: a looping song never ends)")
        ->check(CLI::Range(0, kMaxLoops));
    render->add_option("--fade", options->fadeMs, "Fade-out time in ms (0 = stop at once)")
        ->check(CLI::Range(0, kMaxFadeMs));
    render->add_option("--volume-fm", options->volumeFm, "FM attenuation in half-decibels")
        ->check(CLI::Range(kMinLevel, kMaxLevel));
    render->add_option("--volume-ssg", options->volumeSsg, "PSG attenuation in half-decibels")
        ->check(CLI::Range(kMinLevel, kMaxLevel));
    render->add_option("--volume-pcm", options->volumePcm, "PCM (DAC) attenuation in half-decibels")
        ->check(CLI::Range(kMinLevel, kMaxLevel));
    render->add_option("--seek", options->seekMs, "Seek to this position (ms) during the first block")
        ->check(CLI::NonNegativeNumber);
    render->add_flag("--checksum", options->checksum,
                     "Print the FNV-1a 64 hash of the rendered samples (writes no file unless -o is given)");
    render->add_flag("-q,--quiet", options->quiet, "Print nothing but errors");
    render->callback([options, &status]() { status = Render(*options); });
}
