// A stand-in for the media player: it loads the plug-in as the player does
// (the real in_dru.dll through LoadLibraryA and GetProcAddress in the win32
// build, the linked shell natively), fills the record's window, instance,
// hooks and output module, and records everything the plug-in does to them.
//
// The output module captures the PCM written. Its knobs: the room CanWrite
// reports, instant or real-time playing, how long IsPlaying stays on after
// the last write, the latency Open reports, Open failing, and a DSP that
// changes the frame count. Every call is logged with its time, arguments and
// the calling thread's priority.
//
// Hostile modes, as outputs and hosts in the field behave: an output that
// plays on only while it is asked for room, one that takes no Write above
// 8,192 bytes, a host that does something of its own inside Open (such as
// an OK on the settings page), and unloading the module after Quit.
//
// The plug-in gets a private folder of its own (its plugin.ini lives there),
// so test programs running side by side do not share settings.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "host/winamp.h"

namespace standin {

enum class Dsp {
    none,      // dsp_isactive() is 0
    halve,     // keeps the first half of the block's frames
    twice,     // doubles every frame: twice the frames
    overrun,   // returns 100 times the frames, more than any buffer holds
    negative,  // returns -5
};

struct Knobs {
    std::atomic<int> canWriteBytes{-1};  // room reported; -1: always enough
    std::atomic<bool> realtime{false};   // plays at the real rate from a 500 ms buffer
    std::atomic<int> drainMs{0};         // instant mode: IsPlaying lasts this long after a write
    std::atomic<int> latencyMs{40};
    std::atomic<bool> openFails{false};
    std::atomic<Dsp> dsp{Dsp::none};
    std::atomic<bool> holdHooks{false};  // the visualisation hook waits while set (10 s at most)
    std::atomic<bool> hookHeld{false};   // set while the hook waits
    // Each record notes its thread's priority (under Wine a round trip to the
    // server on every call, so timings turn it off).
    std::atomic<bool> notePriority{true};
    // Instant mode: once written, the output sounds on until CanWrite has
    // been called this often since the last Write (0: not so).
    std::atomic<int> canWritesToPlayOut{0};
    // CanWrite reports at most 8,192 bytes, and a longer Write is refused:
    // counted, not played.
    std::atomic<bool> strictWrites{false};
    // Called inside the output's Open, after it has been logged.
    std::atomic<void (*)()> onOpen{nullptr};
};

constexpr int kMaxWriteBytes = 8192;  // what the output interface promises
constexpr int kVisFrames = 576;       // what the visualisation hooks read

enum class Call {
    open,
    close,
    write,
    flush,
    outPause,
    outSetVolume,
    outSetPan,
    setInfo,
    savsaInit,
    savsaDeInit,
    saAddPcm,
    vsaAddPcm,
    vsaSetInfo,
    dspDoSamples,
    endOfFile,
    playedOut,  // IsPlaying answered 0 after a Write: the output has played everything
};

struct Record {
    Call call;
    int64_t us;          // microseconds since the host was loaded
    int a, b, c, d;      // the call's integer arguments, in order
    int threadPriority;  // of the calling thread
};

// Loads the plug-in once per process and fills its record, then puts
// `iniText` in place as its plugin.ini (none when null) and calls Init. False
// when the module cannot be loaded or has no export.
bool Load(const char* iniText);
// Calls Init again with whatever plugin.ini now holds.
void Reinit();
// Quit. The module stays loaded; Load calls Init again.
void Unload();
// Quit, then unloads the module at once (win32: FreeLibrary; natively the
// shell stays linked). The next Load loads it afresh.
void UnloadModule();

In_Module& Plugin();
bool Loaded();            // the module is loaded (false after UnloadModule)
HostWindow MainWindow();  // the host's main window, the record's hMainWindow
Knobs& Settings();
std::string IniPath();  // the plug-in's plugin.ini
std::string ReadIni();  // its text, empty when there is none
void WriteIni(const std::string& text);

// The extended file information exports as the player calls them; -1 when
// the module lacks the export.
int ExtendedFileInfoW(const wchar_t* path, const char* field, wchar_t* out, int size);
int ExtendedFileInfo(const char* path, const char* field, char* out, int size);

// Play and Stop as the player calls them; the host notes when a Stop has
// returned, and any Write after that is counted.
int Play(const std::string& path);
void Stop();

std::vector<Record> Calls();
std::vector<int16_t> Pcm();  // every sample written since the last Clear
// The kVisFrames frames SAAddPCMData was given, one entry per call since the
// last Clear.
std::vector<std::vector<int16_t>> VisPcm();
int OversizeWrites();  // Writes refused in strict mode since the last Clear
void Clear();          // forgets calls, PCM and end-of-file messages
int EndOfFiles();      // end-of-file messages the main window got
int WritesAfterStop();
int64_t NowUs();

// Waits until `done` holds, checking every millisecond; false after timeoutMs.
bool WaitUntil(const std::function<bool()>& done, int timeoutMs);
// Counts the log's records of one kind.
int Count(Call call);

}  // namespace standin
