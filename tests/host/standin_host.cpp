#include "tests/host/standin_host.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <mutex>
#include <sstream>
#include <thread>

#include "tests/host/standin_system.h"

namespace standin {

namespace {

using Clock = std::chrono::steady_clock;

constexpr int kBufferMs = 500;         // what a real-time output holds
constexpr int kInstantRoom = 1 << 20;  // "always enough" for any block

std::mutex lock;  // guards everything below
Clock::time_point loadTime = Clock::now();
std::vector<Record> calls;
std::vector<int16_t> pcm;
std::vector<std::vector<int16_t>> visPcm;
int endOfFiles = 0;
int writesAfterStop = 0;
int oversizeWrites = 0;
int canWritesSinceWrite = 0;
bool stopReturned = false;

// The output's state.
int outputRate = 44100;
int64_t writtenBytes = 0;     // since Open or the last Flush
Clock::time_point playStart;  // when the bytes since the last Flush began to play
Clock::time_point lastWrite;
int flushBaseMs = 0;

Knobs knobs;
In_Module* plugin = nullptr;  // null before the first Load and after UnloadModule
HostInstance moduleInstance = nullptr;
HostWindow mainWindow = nullptr;
std::string modulePath;
std::string iniPath;
bool initialised = false;  // Init called and no Quit since

int64_t SinceLoadUs(Clock::time_point t) {
    return std::chrono::duration_cast<std::chrono::microseconds>(t - loadTime).count();
}

void Log(Call call, int a = 0, int b = 0, int c = 0, int d = 0) {
    const int priority = knobs.notePriority.load() ? CurrentThreadPriority() : 0;
    std::lock_guard<std::mutex> hold(lock);
    calls.push_back({call, SinceLoadUs(Clock::now()), a, b, c, d, priority});
}

int64_t BytesPerSecond() {
    return int64_t{4} * outputRate;
}

// Bytes of the current stretch that have been heard (call with the lock).
int64_t PlayedBytes(Clock::time_point now) {
    if (!knobs.realtime.load()) return writtenBytes;
    const int64_t us =
        std::chrono::duration_cast<std::chrono::microseconds>(now - playStart).count();
    const int64_t played = us * BytesPerSecond() / 1000000 / 4 * 4;
    return played < writtenBytes ? played : writtenBytes;
}

// --- the output module -----------------------------------------------------

int OutOpen(int rate, int channels, int bits, int bufferLenMs, int prebufferMs) {
    Log(Call::open, rate, channels, bits, bufferLenMs + prebufferMs);
    if (void (*hook)() = knobs.onOpen.load()) hook();
    if (knobs.openFails.load()) return -1;
    std::lock_guard<std::mutex> hold(lock);
    outputRate = rate;
    writtenBytes = 0;
    flushBaseMs = 0;
    playStart = lastWrite = Clock::now();
    return knobs.latencyMs.load();
}

void OutClose() {
    Log(Call::close);
}

int OutWrite(char* buffer, int bytes) {
    Log(Call::write, bytes);
    std::lock_guard<std::mutex> hold(lock);
    if (stopReturned) ++writesAfterStop;
    if (knobs.strictWrites.load() && bytes > kMaxWriteBytes) {
        ++oversizeWrites;
        return 0;
    }
    canWritesSinceWrite = 0;
    const int16_t* samples = reinterpret_cast<const int16_t*>(buffer);
    pcm.insert(pcm.end(), samples, samples + bytes / 2);
    const Clock::time_point now = Clock::now();
    if (knobs.realtime.load() && PlayedBytes(now) == writtenBytes) {
        // An underrun: playing resumes with these bytes.
        playStart = now - std::chrono::microseconds(writtenBytes * 1000000 / BytesPerSecond());
    }
    writtenBytes += bytes;
    lastWrite = now;
    return 0;
}

int OutCanWrite() {
    const int knob = knobs.canWriteBytes.load();
    std::lock_guard<std::mutex> hold(lock);
    ++canWritesSinceWrite;
    int64_t room = kInstantRoom;
    if (knobs.realtime.load()) {
        const int64_t held = writtenBytes - PlayedBytes(Clock::now());
        room = BytesPerSecond() * kBufferMs / 1000 - held;
        if (room < 0) room = 0;
    }
    if (knob >= 0 && knob < room) room = knob;
    if (knobs.strictWrites.load() && room > kMaxWriteBytes) room = kMaxWriteBytes;
    return static_cast<int>(room);
}

int OutIsPlaying() {
    int playing = 0;
    {
        std::lock_guard<std::mutex> hold(lock);
        const Clock::time_point now = Clock::now();
        if (knobs.realtime.load()) {
            playing = PlayedBytes(now) < writtenBytes ? 1 : 0;
        } else {
            playing = now - lastWrite < std::chrono::milliseconds(knobs.drainMs.load()) ||
                      canWritesSinceWrite < knobs.canWritesToPlayOut.load();
        }
    }
    if (playing == 0) Log(Call::playedOut);
    return playing;
}

int OutPause(int pause) {
    Log(Call::outPause, pause);
    return 0;
}

void OutSetVolume(int volume) {
    Log(Call::outSetVolume, volume);
}
void OutSetPan(int pan) {
    Log(Call::outSetPan, pan);
}

void OutFlush(int ms) {
    Log(Call::flush, ms);
    std::lock_guard<std::mutex> hold(lock);
    flushBaseMs = ms;
    writtenBytes = 0;
    playStart = Clock::now();
}

int OutGetOutputTime() {
    std::lock_guard<std::mutex> hold(lock);
    return flushBaseMs + static_cast<int>(PlayedBytes(Clock::now()) * 1000 / BytesPerSecond());
}

int OutGetWrittenTime() {
    std::lock_guard<std::mutex> hold(lock);
    return flushBaseMs + static_cast<int>(writtenBytes * 1000 / BytesPerSecond());
}

void OutNothing(HostWindow) {}
void OutNoCall() {}

Out_Module output = {
    kOutModuleVersion, "stand-in output", 1,           nullptr,          nullptr,
    OutNothing,        OutNothing,        OutNoCall,   OutNoCall,        OutOpen,
    OutClose,          OutWrite,          OutCanWrite, OutIsPlaying,     OutPause,
    OutSetVolume,      OutSetPan,         OutFlush,    OutGetOutputTime, OutGetWrittenTime,
};

// --- the host's hooks ----------------------------------------------------------

void HookSetInfo(int bitrate, int kHz, int channels, int synched) {
    Log(Call::setInfo, bitrate, kHz, channels, synched);
}
void HookSAVSAInit(int latency, int rate) {
    Log(Call::savsaInit, latency, rate);
}
void HookSAVSADeInit() {
    Log(Call::savsaDeInit);
}
void HookSAAddPCMData(void* data, int channels, int bits, int timestamp) {
    Log(Call::saAddPcm, channels, bits, timestamp);
    {
        const int16_t* samples = static_cast<const int16_t*>(data);
        std::lock_guard<std::mutex> hold(lock);
        visPcm.emplace_back(samples, samples + 2 * kVisFrames);
    }
    for (int waited = 0; knobs.holdHooks.load() && waited < 10000; waited += 1) {
        knobs.hookHeld = true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    knobs.hookHeld = false;
}
void HookVSAAddPCMData(void*, int channels, int bits, int timestamp) {
    Log(Call::vsaAddPcm, channels, bits, timestamp);
}
void HookVSASetInfo(int rate, int channels) {
    Log(Call::vsaSetInfo, rate, channels);
}
int HookSAGetMode() {
    return 0;
}
int HookSAAdd(void*, int, int) {
    return 0;
}
int HookVSAGetMode(int* spectrum, int* wave) {
    *spectrum = *wave = 0;
    return 0;
}
int HookVSAAdd(void*, int) {
    return 0;
}
int HookDspIsActive() {
    return knobs.dsp.load() != Dsp::none ? 1 : 0;
}

int HookDspDoSamples(short* samples, int frames, int bits, int channels, int rate) {
    Log(Call::dspDoSamples, frames, bits, channels, rate);
    switch (knobs.dsp.load()) {
        case Dsp::halve:
            return frames / 2;
        case Dsp::twice:
            for (int i = frames - 1; i >= 0; --i) {
                for (int side = 0; side < 2; ++side) {
                    samples[4 * i + 2 + side] = samples[4 * i + side] = samples[2 * i + side];
                }
            }
            return 2 * frames;
        case Dsp::overrun:
            return 100 * frames;
        case Dsp::negative:
            return -5;
        case Dsp::none:
            break;
    }
    return frames;
}

void CountEndOfFile() {
    Log(Call::endOfFile);
    std::lock_guard<std::mutex> hold(lock);
    ++endOfFiles;
}

}  // namespace

bool Load(const char* iniText) {
    if (plugin == nullptr) {
        if (modulePath.empty()) modulePath = PreparePluginFolder();
        HostInstance instance = nullptr;
        In_Module* (*get)() = LoadModule(modulePath, &instance);
        if (get == nullptr) return false;
        plugin = get();
        if (plugin == nullptr) return false;
        moduleInstance = instance;
        if (mainWindow == nullptr) mainWindow = StartMainWindow(CountEndOfFile);
        plugin->hMainWindow = mainWindow;
        plugin->hDllInstance = instance;
        plugin->SAVSAInit = HookSAVSAInit;
        plugin->SAVSADeInit = HookSAVSADeInit;
        plugin->SAAddPCMData = HookSAAddPCMData;
        plugin->SAGetMode = HookSAGetMode;
        plugin->SAAdd = HookSAAdd;
        plugin->VSAAddPCMData = HookVSAAddPCMData;
        plugin->VSAGetMode = HookVSAGetMode;
        plugin->VSAAdd = HookVSAAdd;
        plugin->VSASetInfo = HookVSASetInfo;
        plugin->dsp_isactive = HookDspIsActive;
        plugin->dsp_dosamples = HookDspDoSamples;
        plugin->SetInfo = HookSetInfo;
        plugin->outMod = &output;
        output.hMainWindow = plugin->hMainWindow;
        iniPath = modulePath.substr(0, modulePath.find_last_of("/\\") + 1) + "plugin.ini";
    }
    Unload();
    std::remove(iniPath.c_str());
    if (iniText != nullptr) WriteIni(iniText);
    plugin->Init();
    initialised = true;
    return true;
}

void Reinit() {
    Unload();
    plugin->Init();
    initialised = true;
}

void Unload() {
    if (plugin != nullptr && initialised) plugin->Quit();
    initialised = false;
}

void UnloadModule() {
    Unload();
    if (plugin == nullptr) return;
    ReleaseModule(moduleInstance);
    plugin = nullptr;
    moduleInstance = nullptr;
}

In_Module& Plugin() {
    return *plugin;
}
bool Loaded() {
    return plugin != nullptr;
}
HostWindow MainWindow() {
    return mainWindow;
}
Knobs& Settings() {
    return knobs;
}
std::string IniPath() {
    return iniPath;
}

std::string ReadIni() {
    std::ifstream file(iniPath, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

void WriteIni(const std::string& text) {
    std::ofstream file(iniPath, std::ios::binary | std::ios::trunc);
    file << text;
}

int ExtendedFileInfoW(const wchar_t* path, const char* field, wchar_t* out, int size) {
    using Export = int (*)(const wchar_t*, const char*, wchar_t*, int);
    Export get = reinterpret_cast<Export>(FindExport(moduleInstance, "winampGetExtendedFileInfoW"));
    return get != nullptr ? get(path, field, out, size) : -1;
}

int ExtendedFileInfo(const char* path, const char* field, char* out, int size) {
    using Export = int (*)(const char*, const char*, char*, int);
    Export get = reinterpret_cast<Export>(FindExport(moduleInstance, "winampGetExtendedFileInfo"));
    return get != nullptr ? get(path, field, out, size) : -1;
}

int Play(const std::string& path) {
    {
        std::lock_guard<std::mutex> hold(lock);
        stopReturned = false;
    }
    return plugin->Play(path.c_str());
}

void Stop() {
    if (plugin != nullptr) plugin->Stop();
    std::lock_guard<std::mutex> hold(lock);
    stopReturned = true;
}

std::vector<Record> Calls() {
    std::lock_guard<std::mutex> hold(lock);
    return calls;
}

std::vector<int16_t> Pcm() {
    std::lock_guard<std::mutex> hold(lock);
    return pcm;
}

void Clear() {
    std::lock_guard<std::mutex> hold(lock);
    calls.clear();
    pcm.clear();
    visPcm.clear();
    endOfFiles = 0;
    writesAfterStop = 0;
    oversizeWrites = 0;
}

std::vector<std::vector<int16_t>> VisPcm() {
    std::lock_guard<std::mutex> hold(lock);
    return visPcm;
}

int OversizeWrites() {
    std::lock_guard<std::mutex> hold(lock);
    return oversizeWrites;
}

int EndOfFiles() {
    std::lock_guard<std::mutex> hold(lock);
    return endOfFiles;
}

int WritesAfterStop() {
    std::lock_guard<std::mutex> hold(lock);
    return writesAfterStop;
}

int64_t NowUs() {
    return SinceLoadUs(Clock::now());
}

bool WaitUntil(const std::function<bool()>& done, int timeoutMs) {
    const Clock::time_point end = Clock::now() + std::chrono::milliseconds(timeoutMs);
    while (!done()) {
        if (Clock::now() > end) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
}

int Count(Call call) {
    std::lock_guard<std::mutex> hold(lock);
    int count = 0;
    for (const Record& record : calls)
        count += record.call == call ? 1 : 0;
    return count;
}

}  // namespace standin
