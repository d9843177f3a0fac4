// The whole player's cost, everything included (command interpreter, both
// chips, the final mix), as the decode thread drives it: open the song, ask
// for the rate, start, render blocks of rate x 30 / 1000 frames until it
// stops, with the default LoopCount (2) and FadeoutTime (5000 ms).
// "x_realtime" is seconds of audio per second of CPU time.
//
// The VGM player is held to the GYM player's pace on the same music: the
// Lion King log with its DAC stream, once as GYM and once as a VGM whose DAC
// bytes sit in a data block played by 8n commands (RealSongWithPcm and
// RealSongWithPcmAsVgm; the VGM should keep at least 90 % of the GYM's
// x_realtime). The real VGM rips of the shared corpus give the rest.
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
#include "player/song.h"
#ifdef TAMBORIL_BENCH_VGM_WRITER
#include "tests/support/vgm_writer.h"
#endif

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

// Renders the session's song once to its end; returns the seconds of audio
// made.
double PlaySession(std::unique_ptr<SongSession> song) {
    if (!song) return 0;
    Counter counter;
    PlayThrough(*song, song->BlockFrames(), counter);
    return static_cast<double>(counter.written) / song->Rate();
}

double PlaySong(const std::string& path) {
    return PlaySession(SongSession::Open(path.c_str()));
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

#ifdef TAMBORIL_BENCH_VGM_WRITER
// The GYM song at `path` written as a VGM whose DAC bytes all stand in one
// data block, each write an 8n; empty when the song does not open.
std::vector<uint8_t> GymAsBankedVgm(const std::string& path) {
    GymPlayer* player = OpenSong(path.c_str());
    if (player == nullptr) return {};
    const uint8_t* end = player->image;
    while (CommandLength(*end) != 0)
        end += CommandLength(*end);
    const std::vector<uint8_t> commands(static_cast<const uint8_t*>(player->image), end);
    GymConversion conversion;
    conversion.loopFrame = player->loopFrame;
    conversion.dac = DacForm::bank;
    DestroyPlayer(player);
    return VgmFromGym(commands, conversion).Bytes();
}

// As WholeSong, the song opened from bytes made once beforehand (not timed).
void WholeSongFromBytes(benchmark::State& state, const char* name,
                        const std::vector<uint8_t>& bytes) {
    const SettingChoice& choice = frequencyChoices[state.range(0)];
    LoadSettings(choice.value);
    double seconds = 0;
    for (auto _ : state)
        seconds += PlaySession(SongSession::OpenBytes(
            name, bytes.data(), static_cast<uint32_t>(bytes.size()), nullptr, 0));
    if (seconds == 0) state.SkipWithError((std::string("cannot open ") + name).c_str());
    state.SetLabel(choice.name);
    state.counters["x_realtime"] = benchmark::Counter(seconds, benchmark::Counter::kIsRate);
}
#endif

void BusySong(benchmark::State& state) {
    WholeSong(state, "songs/song_coral_ascent_gymx.gym");
}
void DenseRealSong(benchmark::State& state) {
    WholeSong(state, "corpus/real/batman_music02.gym");
}
void RealSongWithPcm(benchmark::State& state) {
    WholeSong(state, "corpus/real/lionking_hakuna_matata.gym");
}
#ifdef TAMBORIL_BENCH_VGM_WRITER
void RealSongWithPcmAsVgm(benchmark::State& state) {
    static const std::vector<uint8_t> bytes =
        GymAsBankedVgm(SharedPath("corpus/real/lionking_hakuna_matata.gym"));
    WholeSongFromBytes(state, "lionking.vgm", bytes);
}
#endif

// Real VGM rips: PCM from a data block by 8n and E0 (sonic2emerald), DAC
// streams (sonic1, city_lights_act_2, the latter at 50 Hz), no PCM at all
// (fatality, a 2.7 s jingle).
void VgmBankPcm(benchmark::State& state) {
    WholeSong(state, "corpus/vgm/sonic2emerald.vgm");
}
void VgmStreams(benchmark::State& state) {
    WholeSong(state, "corpus/vgm/sonic1.vgm");
}
void VgmStreams50Hz(benchmark::State& state) {
    WholeSong(state, "corpus/vgm/city_lights_act_2.vgm");
}
void VgmNoPcm(benchmark::State& state) {
    WholeSong(state, "corpus/vgm/fatality.vgm");
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
#ifdef TAMBORIL_BENCH_VGM_WRITER
BENCHMARK(RealSongWithPcmAsVgm)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
#endif
BENCHMARK(VgmBankPcm)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(VgmStreams)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(VgmStreams50Hz)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(VgmNoPcm)->Arg(0)->Arg(2)->Unit(benchmark::kMillisecond);
BENCHMARK(Seek60Seconds)->Unit(benchmark::kMillisecond);
