// The plug-in's waits and costs under Wine, where Google Benchmark is not
// built: the same measurements as tamboril_bench_shell, each repeated, with
// the median, minimum and maximum printed.
//
//   wine build/win32/tamboril_shell_timings.exe SONG [DLL]
//
// With DLL (for example the stripped library of `make dist`), also the time
// a host takes to load that file and call its Init, without the stand-in
// host's own set-up.
#include <windows.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <functional>
#include <string>
#include <vector>

#include "bench/shell_timings.h"
#include "host/winamp.h"

namespace {

void Print(const char* name, const char* unit, int runs, const std::function<double()>& measure) {
    std::vector<double> values;
    for (int i = 0; i < runs; ++i)
        values.push_back(measure());
    std::sort(values.begin(), values.end());
    std::printf("%-24s median %9.3f  min %9.3f  max %9.3f %s (%d runs)\n", name,
                values[values.size() / 2], values.front(), values.back(), unit, runs);
}

// LoadLibraryA, the export, and Init, as a host starts a plug-in; the
// plug-in is then let go again, so every run is a first load.
double LoadLibraryAndInitMs(const char* dll) {
    const auto start = std::chrono::steady_clock::now();
    HMODULE module = LoadLibraryA(dll);
    if (module == nullptr) return -1;
    auto get = reinterpret_cast<In_Module* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "winampGetInModule2")));
    In_Module* record = get != nullptr ? get() : nullptr;
    if (record == nullptr) {
        FreeLibrary(module);
        return -1;
    }
    record->hMainWindow = nullptr;
    record->hDllInstance = module;
    record->Init();
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count();
    record->Quit();
    FreeLibrary(module);
    return ms;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: tamboril_shell_timings SONG [DLL]\n");
        return 2;
    }
    const std::string song = argv[1];
    if (argc > 2) {
        const char* dll = argv[2];
        Print("LoadLibrary + Init", "ms", 10, [dll] { return LoadLibraryAndInitMs(dll); });
    }
    Print("load + Init", "ms", 1, [] { return shellbench::LoadAndInitMs(); });
    Print("Init again", "ms", 20, [] { return shellbench::LoadAndInitMs(); });
    Print("Play -> first Write", "ms", 20, [&] { return shellbench::PlayToFirstWriteMs(song); });
    Print("Stop while rendering", "ms", 20, [&] { return shellbench::StopWhileRenderingMs(song); });
    Print("seek -> Flush", "ms", 20, [&] { return shellbench::SeekToFlushMs(song, 60000); });
    Print("real-time core share", "%", 1,
          [&] { return 100 * shellbench::RealtimeCoreShare(song, 10.0); });
    Print("render via plug-in", "x real time", 3, [&] { return shellbench::RenderSpeed(song); });
    Print("render direct", "x real time", 3, [&] { return shellbench::DirectRenderSpeed(song); });
    for (int megabytes : {4, 64}) {
        const std::string dense = shellbench::DenseSong(megabytes);
        const std::string name = "ext. info, " + std::to_string(megabytes) + " MiB";
        Print(name.c_str(), "ms", 5, [&] { return shellbench::ExtendedInfoFirstFieldMs(dense); });
        Print("  next field", "ms", 20, [&] { return shellbench::ExtendedInfoNextFieldMs(dense); });
    }
    return 0;
}
