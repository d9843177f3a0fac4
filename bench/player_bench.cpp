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

#include "player/engine.h"
#include "player/player.h"
#include "player/settings.h"
#include "player/song.h"

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

// Renders the song once to its end; returns the seconds of audio made.
double PlaySong(const std::string& path, std::vector<int16_t>& block) {
    GymPlayer* player = OpenSong(path.c_str());
    if (player == nullptr) return 0;
    const int32_t rate = player->ops.sampleRate(player);
    const int32_t frames = BlockFrames(rate);
    block.resize(2 * static_cast<size_t>(frames));
    player->ops.start(player);
    int64_t written = 0;
    while (player->ops.isRunning(player)) {
        player->ops.render(player, block.data(), frames);
        written += frames;
    }
    player->ops.halt(player);
    player->ops.destroy(player);
    return static_cast<double>(written) / rate;
}

void WholeSong(benchmark::State& state, const char* song) {
    // The argument indexes the Frequency choices: 0 = "55467:FM" ... 5 = "11025".
    const SettingChoice& choice = frequencyChoices[state.range(0)];
    LoadSettings(choice.value);
    const std::string path = SharedPath(song);
    std::vector<int16_t> block;
    double seconds = 0;
    for (auto _ : state)
        seconds += PlaySong(path, block);
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
    GymPlayer* player = OpenSong(path.c_str());
    if (player == nullptr) {
        state.SkipWithError(("cannot open " + path).c_str());
        return;
    }
    const int32_t frames = BlockFrames(player->ops.sampleRate(player));
    std::vector<int16_t> block(2 * static_cast<size_t>(frames));
    for (auto _ : state) {
        state.PauseTiming();
        player->ops.start(player);
        player->ops.render(player, block.data(), frames);
        state.ResumeTiming();
        player->ops.seek(player, 60000);
    }
    if (player->ops.positionMs(player) < 60000) state.SkipWithError("the seek did not arrive");
    player->ops.destroy(player);
}

}  // namespace

BENCHMARK(BusySong)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(DenseRealSong)->DenseRange(0, 5)->Unit(benchmark::kMillisecond);
BENCHMARK(RealSongWithPcm)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Seek60Seconds)->Unit(benchmark::kMillisecond);
