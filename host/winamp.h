// The host's side of the plug-in interface, as the player publishes it: the
// input-module record the plug-in fills and the host completes, and the
// output-module record through which the plug-in writes audio. Every slot is
// 4 bytes in the 32-bit build; every function pointer is cdecl. Window and
// instance handles are opaque here.
//
// In_Module (152 bytes in the 32-bit build)
//   0x00 version           0x100
//   0x04 description       shown in the host's plug-in list
//   0x08 hMainWindow       filled by the host: gets the end-of-file message
//   0x0C hDllInstance      filled by the host
//   0x10 FileExtensions    pairs of "EXT;EXT" and a description, then ""
//   0x14 is_seekable       0x18 UsesOutputPlug
//   0x1C Config(parent)    0x20 About(parent)     0x24 Init()     0x28 Quit()
//   0x2C GetFileInfo(file, title, lengthMs)       0x30 InfoBox(file, parent)
//   0x34 IsOurFile(file)   0x38 Play(file)        0x3C Pause()    0x40 UnPause()
//   0x44 IsPaused()        0x48 Stop()            0x4C GetLength()
//   0x50 GetOutputTime()   0x54 SetOutputTime(ms) 0x58 SetVolume(v) 0x5C SetPan(p)
//   0x60 SAVSAInit(maxLatencyMs, rate)            0x64 SAVSADeInit()
//   0x68 SAAddPCMData(pcm, channels, bits, timestampMs)
//   0x6C SAGetMode()       0x70 SAAdd(data, timestamp, csa)
//   0x74 VSAAddPCMData(pcm, channels, bits, timestampMs)
//   0x78 VSAGetMode(specChannels, waveChannels)   0x7C VSAAdd(data, timestamp)
//   0x80 VSASetInfo(rate, channels)               0x84 dsp_isactive()
//   0x88 dsp_dosamples(samples, frames, bits, channels, rate) -> frames; a DSP
//        may return up to twice the frames it was given
//   0x8C EQSet(on, data[10], preamp)              0x90 SetInfo(bitrate, kHz,
//        channels, synched)                       0x94 outMod
// The host fills 0x08, 0x0C, the hooks 0x60-0x88 and 0x90, and outMod before
// it calls Init.
//
// Out_Module (the host's output plug-in)
//   version (0x10), description, id, hMainWindow, hDllInstance, Config(hwnd),
//   About(hwnd), Init(), Quit(),
//   Open(rate, channels, bits, bufferLenMs, prebufferMs) -> latency ms, < 0 on
//   failure; Close(); Write(buffer, bytes) -> 0; CanWrite() -> bytes that can
//   be written now; IsPlaying() -> non-zero while output still sounds;
//   Pause(flag) -> previous state; SetVolume(v) (-666: leave it); SetPan(p);
//   Flush(ms); GetOutputTime() -> ms heard; GetWrittenTime() -> ms written.
//
// Play returns 0 on success, -1 when the file cannot be played (the host moves
// on to the next playlist entry), and any other value for an error that stops
// the host.
#pragma once

#include <cstddef>
#include <cstdint>

using HostWindow = void*;
using HostInstance = void*;

struct Out_Module {
    int version;
    const char* description;
    int id;
    HostWindow hMainWindow;
    HostInstance hDllInstance;
    void (*Config)(HostWindow parent);
    void (*About)(HostWindow parent);
    void (*Init)();
    void (*Quit)();
    int (*Open)(int rate, int channels, int bits, int bufferLenMs, int prebufferMs);
    void (*Close)();
    int (*Write)(char* buffer, int bytes);
    int (*CanWrite)();
    int (*IsPlaying)();
    int (*Pause)(int pause);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*Flush)(int ms);
    int (*GetOutputTime)();
    int (*GetWrittenTime)();
};

struct In_Module {
    int version;
    const char* description;
    HostWindow hMainWindow;
    HostInstance hDllInstance;
    const char* FileExtensions;
    int is_seekable;
    int UsesOutputPlug;
    void (*Config)(HostWindow parent);
    void (*About)(HostWindow parent);
    void (*Init)();
    void (*Quit)();
    void (*GetFileInfo)(const char* file, char* title, int* lengthMs);
    int (*InfoBox)(const char* file, HostWindow parent);
    int (*IsOurFile)(const char* file);
    int (*Play)(const char* file);
    void (*Pause)();
    void (*UnPause)();
    int (*IsPaused)();
    void (*Stop)();
    int (*GetLength)();
    int (*GetOutputTime)();
    void (*SetOutputTime)(int ms);
    void (*SetVolume)(int volume);
    void (*SetPan)(int pan);
    void (*SAVSAInit)(int maxLatencyMs, int rate);
    void (*SAVSADeInit)();
    void (*SAAddPCMData)(void* pcm, int channels, int bits, int timestampMs);
    int (*SAGetMode)();
    int (*SAAdd)(void* data, int timestamp, int csa);
    void (*VSAAddPCMData)(void* pcm, int channels, int bits, int timestampMs);
    int (*VSAGetMode)(int* specChannels, int* waveChannels);
    int (*VSAAdd)(void* data, int timestamp);
    void (*VSASetInfo)(int rate, int channels);
    int (*dsp_isactive)();
    int (*dsp_dosamples)(short* samples, int frames, int bits, int channels, int rate);
    void (*EQSet)(int on, char data[10], int preamp);
    void (*SetInfo)(int bitrate, int kHz, int channels, int synched);
    Out_Module* outMod;
};

constexpr int kInModuleVersion = 0x100;
constexpr int kOutModuleVersion = 0x10;
constexpr uint32_t kEndOfFileMessage = 0x400 + 2;  // WM_USER + 2, both parameters 0

#if defined(_WIN32) && !defined(_WIN64)
static_assert(sizeof(In_Module) == 152, "the host reads a 152-byte record");
static_assert(offsetof(In_Module, FileExtensions) == 0x10, "slot offsets as published");
static_assert(offsetof(In_Module, Play) == 0x38, "slot offsets as published");
static_assert(offsetof(In_Module, SAVSAInit) == 0x60, "slot offsets as published");
static_assert(offsetof(In_Module, EQSet) == 0x8C, "slot offsets as published");
static_assert(offsetof(In_Module, outMod) == 0x94, "slot offsets as published");
static_assert(sizeof(Out_Module) == 80, "20 slots of 4 bytes");
#define TAMBORIL_EXPORT extern "C" __declspec(dllexport)
#else
#define TAMBORIL_EXPORT extern "C" __attribute__((visibility("default")))
#endif

// The address of the plug-in's one input-module record.
TAMBORIL_EXPORT In_Module* winampGetInModule2();

// Extended file information, which the host asks beside the record, field by
// field ("title", "artist", "album", "year", "genre", "comment",
// "publisher", "length" in ms, "type", "family"), with the file's path wide
// or in the system's code page. Writes the field's text into `ret`, at most
// `retlen` units with the terminator, and returns 1; 0 for a field the file
// does not fill, a file that is not one of the plug-in's, or the empty name.
TAMBORIL_EXPORT int winampGetExtendedFileInfoW(const wchar_t* fn, const char* metadata,
                                               wchar_t* ret, int retlen);
TAMBORIL_EXPORT int winampGetExtendedFileInfo(const char* fn, const char* metadata, char* ret,
                                              int retlen);
