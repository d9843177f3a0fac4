#include "bench/shell_timings.h"

#include <chrono>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <memory>
#include <thread>
#include <vector>

#include "player/engine.h"
#include "player/session.h"
#include "player/settings.h"
#include "tests/host/standin_host.h"

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/resource.h>
#endif

namespace shellbench {

namespace {

using Clock = std::chrono::steady_clock;
using standin::Call;

double MsSince(Clock::time_point start) {
    return std::chrono::duration<double, std::milli>(Clock::now() - start).count();
}

// CPU seconds this process has used, all threads.
double ProcessCpuSeconds() {
#ifdef _WIN32
    FILETIME created, exited, kernel, user;
    GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user);
    auto seconds = [](FILETIME t) {
        return ((static_cast<unsigned long long>(t.dwHighDateTime) << 32) | t.dwLowDateTime) / 1e7;
    };
    return seconds(kernel) + seconds(user);
#else
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_utime.tv_sec + usage.ru_utime.tv_usec / 1e6 + usage.ru_stime.tv_sec +
           usage.ru_stime.tv_usec / 1e6;
#endif
}

bool loaded = false;

void Ready(bool realtime) {
    if (!loaded) {
        standin::Load("[Tamboril]\r\nLoopCount=0\r\n");
        loaded = true;
    }
    standin::Settings().notePriority = false;
    standin::Stop();
    standin::Settings().realtime = realtime;
    standin::Settings().canWriteBytes = -1;
    standin::Clear();
}

}  // namespace

double LoadAndInitMs() {
    const Clock::time_point start = Clock::now();
    if (!loaded) {
        standin::Load("[Tamboril]\r\nLoopCount=0\r\n");
        loaded = true;
    } else {
        standin::Reinit();
    }
    return MsSince(start);
}

double PlayToFirstWriteMs(const std::string& song) {
    Ready(false);
    const Clock::time_point start = Clock::now();
    standin::Play(song);
    standin::WaitUntil([] { return standin::Count(Call::write) > 0; }, 5000);
    const double ms = MsSince(start);
    standin::Stop();
    return ms;
}

double StopWhileRenderingMs(const std::string& song) {
    Ready(false);
    standin::Play(song);
    standin::WaitUntil([] { return standin::Count(Call::write) > 3; }, 5000);
    const Clock::time_point start = Clock::now();
    standin::Stop();
    return MsSince(start);
}

double SeekToFlushMs(const std::string& song, int targetMs) {
    Ready(true);
    standin::Play(song);
    standin::WaitUntil([] { return standin::Count(Call::write) > 3; }, 5000);
    const Clock::time_point start = Clock::now();
    standin::Plugin().SetOutputTime(targetMs);
    standin::WaitUntil([] { return standin::Count(Call::flush) > 0; }, 5000);
    const double ms = MsSince(start);
    standin::Stop();
    return ms;
}

double RealtimeCoreShare(const std::string& song, double seconds) {
    Ready(true);
    standin::Play(song);
    standin::WaitUntil([] { return standin::Count(Call::write) > 0; }, 5000);
    // Steady playing only: the output's 500 ms buffer is filled first.
    std::this_thread::sleep_for(std::chrono::seconds(1));
    const double cpu = ProcessCpuSeconds();
    const Clock::time_point start = Clock::now();
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
    const double share = (ProcessCpuSeconds() - cpu) / (MsSince(start) / 1000);
    standin::Stop();
    return share;
}

double RenderSpeed(const std::string& song) {
    Ready(false);
    standin::Reinit();  // LoopCount=0 would never end: take the defaults
    standin::WriteIni("[Tamboril]\r\n");
    standin::Reinit();
    const Clock::time_point start = Clock::now();
    standin::Play(song);
    standin::WaitUntil([] { return standin::EndOfFiles() > 0; }, 600000);
    const double ms = MsSince(start);
    int rate = 0;
    for (const standin::Record& r : standin::Calls()) {
        if (r.call == Call::open) rate = r.a;
    }
    const double audio = rate > 0 ? standin::Pcm().size() / 2.0 / rate : 0;
    standin::Stop();
    standin::WriteIni("[Tamboril]\r\nLoopCount=0\r\n");
    standin::Reinit();
    return audio / (ms / 1000);
}

double DirectRenderSpeed(const std::string& song) {
    ResetSettingsToDefaults();
    const Clock::time_point start = Clock::now();
    std::unique_ptr<SongSession> session = SongSession::Open(song.c_str());
    if (!session) return 0;
    struct : BlockHost {
        int32_t TakeBlock(const int16_t*, int32_t count) override {
            frames += count;
            return kKeepPlaying;
        }
        double frames = 0;
    } counter;
    PlayThrough(*session, session->BlockFrames(), counter);
    return counter.frames / session->Rate() / (MsSince(start) / 1000);
}

std::string DenseSong(int megabytes) {
    const std::string path = (std::filesystem::temp_directory_path() /
                              ("tamboril-dense-" + std::to_string(megabytes) + ".gym"))
                                 .string();
    std::vector<char> frame;
    for (int sample = 0; sample < 735; ++sample) {
        frame.insert(frame.end(), {1, 0x2A, static_cast<char>(sample & 0x7F)});
    }
    frame.push_back(0);
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    for (size_t written = 0; written + frame.size() < (size_t{1} << 20) * megabytes;
         written += frame.size())
        file.write(frame.data(), static_cast<std::streamsize>(frame.size()));
    return path;
}

double ExtendedInfoFirstFieldMs(const std::string& song) {
    Ready(false);
    std::filesystem::last_write_time(
        song, std::filesystem::last_write_time(song) + std::chrono::seconds(1));
    const std::wstring path(song.begin(), song.end());
    wchar_t field[256];
    const auto start = Clock::now();
    standin::ExtendedFileInfoW(path.c_str(), "length", field, 256);
    return MsSince(start);
}

double ExtendedInfoNextFieldMs(const std::string& song) {
    const std::wstring path(song.begin(), song.end());
    wchar_t field[256];
    const auto start = Clock::now();
    standin::ExtendedFileInfoW(path.c_str(), "title", field, 256);
    return MsSince(start);
}

}  // namespace shellbench
