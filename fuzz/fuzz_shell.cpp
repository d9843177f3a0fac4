// Fuzz target: the shell's file entry points, as a host calls them with the
// names in its playlist. The input is used twice: its first line as a file
// name (inside a scratch folder, never climbing out of it), and its bytes as
// a song file under one of the names a host hands over. Each goes through
// IsOurFile, GetFileInfo and Play; a song that plays gets a seek, a pause and
// the information of the song in play, then Stop. The record is the one the
// export hands out, with an output module of our own that takes everything
// at once and no visualisation or DSP hooks.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <string>

#include "fuzz/fuzz_files.h"
#include "host/shell.h"
#include "host/winamp.h"

namespace {

int OutOpen(int, int, int, int, int) {
    return 0;
}
void OutClose() {}
int OutWrite(char*, int) {
    return 0;
}
int OutCanWrite() {
    return 1 << 20;
}
int OutIsPlaying() {
    return 0;
}
int OutPause(int) {
    return 0;
}
void OutSetVolume(int) {}
void OutSetPan(int) {}
void OutFlush(int) {}
int OutTime() {
    return 0;
}

Out_Module output = {kOutModuleVersion, "fuzz output", 0,           nullptr,      nullptr,
                     nullptr,           nullptr,       nullptr,     nullptr,      OutOpen,
                     OutClose,          OutWrite,      OutCanWrite, OutIsPlaying, OutPause,
                     OutSetVolume,      OutSetPan,     OutFlush,    OutTime,      OutTime};

In_Module* plugin = nullptr;

// The names a host may hand over for a song, claimed or not by the shell.
const char* const kSongNames[] = {"tune.gym", "TUNE.GYM.ZIP", "tune.dru", "tune.gym_zip"};

void TryFile(const char* file, int32_t seekMs) {
    plugin->IsOurFile(file);
    char title[kPathSize];
    int lengthMs = -1;
    plugin->GetFileInfo(file, title, &lengthMs);
    if (std::memchr(title, 0, sizeof title) == nullptr && lengthMs != -1) std::abort();
    if (plugin->Play(file) != 0) return;
    plugin->SetOutputTime(seekMs);
    plugin->Pause();
    plugin->UnPause();
    plugin->GetFileInfo(nullptr, title, &lengthMs);
    plugin->GetFileInfo("", nullptr, nullptr);
    plugin->GetOutputTime();
    plugin->GetLength();
    plugin->Stop();
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    static const std::string library = fuzzfiles::Scratch() + "in_dru.so";
    plugin = winampGetInModule2();
    plugin->hDllInstance = const_cast<char*>(library.c_str());
    plugin->outMod = &output;
    plugin->Init();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string folder = fuzzfiles::Scratch();
    const int32_t seekMs = size >= 2 ? data[0] * 40 + data[1] : 0;

    // The first line, kept inside the scratch folder.
    std::string name;
    if (size > 0) {
        const uint8_t* end = std::find_if(data, data + std::min<size_t>(size, 400),
                                          [](uint8_t c) { return c == 0 || c == '\n'; });
        name.assign(reinterpret_cast<const char*>(data), static_cast<size_t>(end - data));
    }
    if (name.find("..") == std::string::npos) TryFile((folder + name).c_str(), seekMs);

    const std::string song = folder + kSongNames[size % 4];
    if (!fuzzfiles::WriteBytes(song, data, size)) return 0;
    TryFile(song.c_str(), seekMs);
    return 0;
}
