// The plug-in's waits and costs as the host sees them, through the stand-in
// host on the native shell. Times are wall-clock milliseconds per call
// (manual time); "x_realtime" is seconds of audio per second.
//
//   build/native/bench/tamboril_bench_shell
#include <benchmark/benchmark.h>

#include <string>

#include "bench/shell_timings.h"

namespace {

std::string Song() {
    return std::string(TAMBORIL_SHARED_DIR) + "/corpus/real/lionking_hakuna_matata.gym";
}

void Report(benchmark::State& state, double (*measure)(const std::string&)) {
    for (auto _ : state)
        state.SetIterationTime(measure(Song()) / 1000);
}

void BM_InitMs(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(shellbench::LoadAndInitMs() / 1000);
}
void BM_PlayToFirstWrite(benchmark::State& state) {
    Report(state, shellbench::PlayToFirstWriteMs);
}
void BM_StopWhileRendering(benchmark::State& state) {
    Report(state, shellbench::StopWhileRenderingMs);
}
void BM_SeekToFlush(benchmark::State& state) {
    for (auto _ : state)
        state.SetIterationTime(shellbench::SeekToFlushMs(Song(), 60000) / 1000);
}
void BM_RealtimeCoreShare(benchmark::State& state) {
    double share = 0;
    for (auto _ : state)
        share = shellbench::RealtimeCoreShare(Song(), 10.0);
    state.counters["core_percent"] = 100 * share;
}
void BM_RenderThroughPlugin(benchmark::State& state) {
    double speed = 0;
    for (auto _ : state)
        speed = shellbench::RenderSpeed(Song());
    state.counters["x_realtime"] = speed;
}
void BM_RenderDirect(benchmark::State& state) {
    double speed = 0;
    for (auto _ : state)
        speed = shellbench::DirectRenderSpeed(Song());
    state.counters["x_realtime"] = speed;
}

// The extended file information of dense 4 MiB and 64 MiB logs: the first
// field (the file read and opened) and the next (from the kept record).
void BM_ExtendedInfoFirstField(benchmark::State& state) {
    const std::string song = shellbench::DenseSong(static_cast<int>(state.range(0)));
    for (auto _ : state)
        state.SetIterationTime(shellbench::ExtendedInfoFirstFieldMs(song) / 1000);
}
void BM_ExtendedInfoNextField(benchmark::State& state) {
    const std::string song = shellbench::DenseSong(4);
    shellbench::ExtendedInfoFirstFieldMs(song);
    for (auto _ : state)
        state.SetIterationTime(shellbench::ExtendedInfoNextFieldMs(song) / 1000);
}

BENCHMARK(BM_ExtendedInfoFirstField)
    ->Arg(4)
    ->Arg(64)
    ->UseManualTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(10);
BENCHMARK(BM_ExtendedInfoNextField)
    ->UseManualTime()
    ->Unit(benchmark::kMicrosecond)
    ->Iterations(100);
BENCHMARK(BM_InitMs)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_PlayToFirstWrite)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_StopWhileRendering)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_SeekToFlush)->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(20);
BENCHMARK(BM_RealtimeCoreShare)->Unit(benchmark::kMillisecond)->Iterations(1);
BENCHMARK(BM_RenderThroughPlugin)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK(BM_RenderDirect)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
