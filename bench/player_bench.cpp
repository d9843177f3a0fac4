// The whole player's cost, everything included (command interpreter, both
// chips, the final mix), as the decode thread drives it: open the song, ask
// for the rate, start, render blocks of rate x 30 / 1000 frames until it
// stops, with the default LoopCount (2) and FadeoutTime (5000 ms).
// "x_realtime" is seconds of audio per second of CPU time.
//
//   build/<dir>/bench/tamboril_bench_player [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>
#include <vector>

#include <memory>

#include "player/engine.h"
#include "player/session.h"
#include "player/settings.h"

namespace {

std::string SharedPath(const char* relative) {
    return std::string(TAMBORIL_SHARED_DIR) + "/" + relative;
}

void LoadSettings(int32_t frequency) {
    static const bool chipReady = PowerOnEngine();
    (void)chipReady;
    ResetSettingsToDefaults();
    settings.frequency = frequency;
}

// Counts the frames of every block.
class Counter : public BlockHost {
public:
    int32_t TakeBlock(const int16_t*, int32_t count) override {
        written += count;
        return kKeepPlaying;
    }
    int64_t written = 0;
};

// Renders the song once to its end; returns the seconds of audio made.
double PlaySong(const std::string& path) {
    std::unique_ptr<SongSession> song = SongSession::Open(path.c_str());
    if (!song) return 0;
    Counter counter;
    PlayThrough(*song, song->BlockFrames(), counter);
    return static_cast<double>(counter.written) / song->Rate();
}

void WholeSong(benchmark::State& state, const char* song) {
    // The argument indexes the Frequency choices: 0 = "55467:FM" ... 5 = "11025".
    const SettingChoice& choice = frequencyChoices[state.range(0)];
    LoadSettings(choice.value);
    const std::string path = SharedPath(song);
    double seconds = 0;
    for (auto _ : state)
        seconds += PlaySong(path);
    if (seconds == 0) state.SkipWithError(("cannot open " + path).c_str());
    state.SetLabel(choice.name);
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}

void BusySong(benchmark::State& state) {
    WholeSong(state, "songs/song_coral_ascent_gymx.gym");
}
void DenseRealSong(benchmark::State& state) {
    WholeSong(state, "corpus/real/batman_music02.gym");
}
void RealSongWithPcm(benchmark::State& state) {
    WholeSong(state, "corpus/real/lionking_hakuna_matata.gym");
}

// A seek to 60 s in a 102 s song from its start: the first block as the
// decode thread renders it, then the fast-forward.
void Seek60Seconds(benchmark::State& state) {
    LoadSettings(kFrequencyFmCode);
    const std::string path = SharedPath("corpus/real/sforce2_003_town.gym");
    std::unique_ptr<SongSession> song = SongSession::Open(path.c_str());
    if (!song) {
        state.SkipWithError(("cannot open " + path).c_str());
        return;
    }
    const int32_t frames = song->BlockFrames();
    std::vector<int16_t> block(2 * static_cast<size_t>(frames));
    for (auto _ : state) {
        state.PauseTiming();
        song->Start();
        song->Render(block.data(), frames);
        state.ResumeTiming();
        song->Seek(60000);
    }
    if (song->PositionMs() < 60000) state.SkipWithError("the seek did not arrive");
}

}  // namespace

BENCHMARK(BusySong)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(DenseRealSong)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(RealSongWithPcm)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Seek60Seconds)->Unit(benchmark::kMillisecond);
