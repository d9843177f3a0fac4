// A VGM file played by this engine and by Debian's libgme side by side, compared
// by loudness over time: for every second, the RMS level of each output in
// dBFS (both channels together, 0 dBFS = a full-scale square wave) and ours
// minus theirs; then a summary: the mean absolute difference of the
// per-second levels, the mean (signed) difference, and the correlation of the
// two loudness curves.
//
//   tamboril_compare_vgm FILE.vgm [SECONDS]
//
// Ours plays as the tool does by default at 44100 Hz: LoopCount 2,
// FadeoutTime 5000 ms. libgme plays at 44100 Hz stereo, its silence skipping
// off (so that both start at time 0), with its fade set to start where ours
// does. Without SECONDS both run for as long as ours plays; a player that
// has stopped counts as silence. libgme does not play DAC streams (commands
// 90-95): expect it quieter where such a song's drums are.
#include <gme/gme.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <vector>

#include "player/engine.h"
#include "player/session.h"
#include "player/settings.h"

namespace {

constexpr int32_t kRate = 44100;
constexpr double kFloorDb = -100.0;    // what digital silence is shown as
constexpr double kSoundingDb = -60.0;  // quieter than this counts as silent

// Interleaved stereo frames.
using Frames = std::vector<int16_t>;

struct Collector : BlockHost {
    Frames* out = nullptr;
    int64_t limit = 0;  // frames; 0 = none
    int32_t TakeBlock(const int16_t* frames, int32_t count) override {
        out->insert(out->end(), frames, frames + 2 * static_cast<size_t>(count));
        if (limit > 0 && static_cast<int64_t>(out->size() / 2) >= limit) return kStopPlaying;
        return kKeepPlaying;
    }
};

// Our render of the song to its end (at most `limitFrames` frames when above
// 0); false when the file does not open.
bool RenderOurs(const char* path, int64_t limitFrames, Frames& out, bool& loops) {
    PowerOnEngine();
    ResetSettingsToDefaults();
    settings.frequency = kRate;
    settings.loopCount = 2;
    settings.fadeoutTime = 5000;
    const char* why = nullptr;
    std::unique_ptr<SongSession> song = SongSession::Open(path, &why);
    if (!song) {
        std::fprintf(stderr, "ours: cannot open %s%s%s\n", path, why ? ": " : "", why ? why : "");
        return false;
    }
    loops = song->Facts().loop != 0;
    Collector host;
    host.out = &out;
    host.limit = limitFrames;
    PlayThrough(*song, song->BlockFrames(), host);
    if (limitFrames > 0 && static_cast<int64_t>(out.size() / 2) > limitFrames)
        out.resize(2 * static_cast<size_t>(limitFrames));
    return true;
}

// libgme's render of `frames` frames, its fade starting at `fadeStartMs`
// (none when negative); `endedMs` receives when it reported its track ended
// (-1 if it did not).
bool RenderTheirs(const char* path, int64_t frames, int32_t fadeStartMs, Frames& out,
                  int32_t& endedMs) {
    Music_Emu* emu = nullptr;
    gme_err_t error = gme_open_file(path, &emu, kRate);
    if (error != nullptr) {
        std::fprintf(stderr, "libgme: cannot open %s: %s\n", path, error);
        return false;
    }
    gme_ignore_silence(emu, 1);
    error = gme_start_track(emu, 0);
    if (error != nullptr) {
        std::fprintf(stderr, "libgme: cannot start %s: %s\n", path, error);
        gme_delete(emu);
        return false;
    }
    if (fadeStartMs >= 0) gme_set_fade(emu, fadeStartMs);
    endedMs = -1;
    out.assign(2 * static_cast<size_t>(frames), 0);
    constexpr int64_t kChunk = 1024;  // frames
    for (int64_t at = 0; at < frames; at += kChunk) {
        const int64_t count = std::min(kChunk, frames - at);
        if (gme_track_ended(emu)) {
            endedMs = static_cast<int32_t>(at * 1000 / kRate);
            break;  // the rest stays silent
        }
        error = gme_play(emu, static_cast<int>(2 * count), out.data() + 2 * at);
        if (error != nullptr) {
            std::fprintf(stderr, "libgme: %s at %.1f s\n", error, static_cast<double>(at) / kRate);
            break;
        }
    }
    gme_delete(emu);
    return true;
}

double RmsDb(const int16_t* samples, size_t count) {
    if (count == 0) return kFloorDb;
    double sum = 0;
    for (size_t i = 0; i < count; ++i)
        sum += static_cast<double>(samples[i]) * samples[i];
    const double rms = std::sqrt(sum / static_cast<double>(count)) / 32768.0;
    if (rms <= 0) return kFloorDb;
    return std::max(kFloorDb, 20.0 * std::log10(rms));
}

int32_t Peak(const Frames& frames) {
    int32_t peak = 0;
    for (int16_t sample : frames)
        peak = std::max(peak, std::abs(static_cast<int32_t>(sample)));
    return peak;
}

// The last frame that is not silence, plus one, in seconds.
double SoundingSeconds(const Frames& frames) {
    size_t end = frames.size();
    while (end > 0 && frames[end - 1] == 0)
        --end;
    return static_cast<double>((end + 1) / 2) / kRate;
}

double Correlation(const std::vector<double>& a, const std::vector<double>& b) {
    const size_t n = a.size();
    if (n < 2) return 0;
    double meanA = 0, meanB = 0;
    for (size_t i = 0; i < n; ++i) {
        meanA += a[i];
        meanB += b[i];
    }
    meanA /= n;
    meanB /= n;
    double cov = 0, varA = 0, varB = 0;
    for (size_t i = 0; i < n; ++i) {
        cov += (a[i] - meanA) * (b[i] - meanB);
        varA += (a[i] - meanA) * (a[i] - meanA);
        varB += (b[i] - meanB) * (b[i] - meanB);
    }
    if (varA <= 0 || varB <= 0) return 0;
    return cov / std::sqrt(varA * varB);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 3) {
        std::fprintf(stderr, "usage: %s FILE.vgm [SECONDS]\n", argv[0]);
        return 2;
    }
    const char* path = argv[1];
    const int64_t askedFrames = argc == 3 ? static_cast<int64_t>(std::atof(argv[2]) * kRate) : 0;

    Frames ours;
    bool loops = false;
    if (!RenderOurs(path, askedFrames, ours, loops)) return 1;
    const int64_t ourFrames = static_cast<int64_t>(ours.size() / 2);
    const int64_t frames = askedFrames > 0 ? askedFrames : ourFrames;
    // A looping song fades out over its last FadeoutTime.
    const int32_t fadeStartMs = loops ? static_cast<int32_t>(ourFrames * 1000 / kRate) - 5000 : -1;

    Frames theirs;
    int32_t theirEndMs = -1;
    if (!RenderTheirs(path, frames, fadeStartMs, theirs, theirEndMs)) return 1;
    ours.resize(2 * static_cast<size_t>(frames), 0);

    std::printf("%s\n", path);
    std::printf("ours: %.2f s played (%s), last sound at %.2f s, peak %d\n",
                static_cast<double>(ourFrames) / kRate, loops ? "loops 2, fade 5 s" : "no loop",
                SoundingSeconds(ours), Peak(ours));
    std::printf("libgme: ");
    if (fadeStartMs >= 0)
        std::printf("fade from %.1f s, ", fadeStartMs / 1000.0);
    else
        std::printf("no fade, ");
    if (theirEndMs >= 0)
        std::printf("track ended at %.2f s, ", theirEndMs / 1000.0);
    else
        std::printf("still playing at %.2f s, ", static_cast<double>(frames) / kRate);
    std::printf("last sound at %.2f s, peak %d\n", SoundingSeconds(theirs), Peak(theirs));

    std::printf("%6s %9s %9s %8s\n", "second", "ours dB", "gme dB", "diff");
    std::vector<double> ourCurve, theirCurve;
    double absSum = 0, signedSum = 0;
    int32_t sounding = 0, onlyOurs = 0, onlyTheirs = 0;
    double soundingAbsSum = 0, soundingSignedSum = 0;
    for (int64_t start = 0; start < frames; start += kRate) {
        const int64_t count = std::min<int64_t>(kRate, frames - start);
        const double a = RmsDb(ours.data() + 2 * start, 2 * static_cast<size_t>(count));
        const double b = RmsDb(theirs.data() + 2 * start, 2 * static_cast<size_t>(count));
        std::printf("%6lld %9.1f %9.1f %+8.1f\n", static_cast<long long>(start / kRate), a, b,
                    a - b);
        ourCurve.push_back(a);
        theirCurve.push_back(b);
        absSum += std::fabs(a - b);
        signedSum += a - b;
        const bool ourSound = a > kSoundingDb, theirSound = b > kSoundingDb;
        if (ourSound && theirSound) {
            ++sounding;
            soundingAbsSum += std::fabs(a - b);
            soundingSignedSum += a - b;
        } else if (ourSound) {
            ++onlyOurs;
        } else if (theirSound) {
            ++onlyTheirs;
        }
    }
    const size_t windows = ourCurve.size();
    std::printf("summary: %zu windows of 1 s; whole song %.1f dB (ours) %.1f dB (gme)\n", windows,
                RmsDb(ours.data(), ours.size()), RmsDb(theirs.data(), theirs.size()));
    std::printf("summary: mean |diff| %.2f dB, mean diff %+.2f dB, correlation %.3f\n",
                windows ? absSum / windows : 0.0, windows ? signedSum / windows : 0.0,
                Correlation(ourCurve, theirCurve));
    std::printf(
        "summary: both sounding in %d windows: mean |diff| %.2f dB, mean diff %+.2f dB;"
        " only ours %d, only gme %d\n",
        sounding, sounding ? soundingAbsSum / sounding : 0.0,
        sounding ? soundingSignedSum / sounding : 0.0, onlyOurs, onlyTheirs);
    return 0;
}
