// The plug-in's waits and costs under Wine, where Google Benchmark is not
// built: the same measurements as tamboril_bench_shell, each repeated, with
// the median, minimum and maximum printed.
//
//   wine build/win32/bench/tamboril_shell_timings.exe SONG
#include <algorithm>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/shell_timings.h"

namespace {

void Print(const char* name, const char* unit, int runs, const std::function<double()>& measure) {
    std::vector<double> values;
    for (int i = 0; i < runs; ++i) values.push_back(measure());
    std::sort(values.begin(), values.end());
    std::printf("%-24s median %9.3f  min %9.3f  max %9.3f %s (%d runs)\n", name, values[values.size() / 2],
                values.front(), values.back(), unit, runs);
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tamboril_shell_timings SONG\n");
        return 2;
    }
    const std::string song = argv[1];
    Print("load + Init", "ms", 1, [] { return shellbench::LoadAndInitMs(); });
    Print("Init again", "ms", 20, [] { return shellbench::LoadAndInitMs(); });
    Print("Play -> first Write", "ms", 20, [&] { return shellbench::PlayToFirstWriteMs(song); });
    Print("Stop while rendering", "ms", 20, [&] { return shellbench::StopWhileRenderingMs(song); });
    Print("seek -> Flush", "ms", 20, [&] { return shellbench::SeekToFlushMs(song, 60000); });
    Print("real-time core share", "%", 1, [&] { return 100 * shellbench::RealtimeCoreShare(song, 10.0); });
    Print("render via plug-in", "x real time", 3, [&] { return shellbench::RenderSpeed(song); });
    Print("render direct", "x real time", 3, [&] { return shellbench::DirectRenderSpeed(song); });
    return 0;
}
