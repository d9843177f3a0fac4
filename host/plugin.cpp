// The input-module record and its export, start-up and shut-down, and the
// file-information and pass-through entry points.
#include <cstring>
#include <memory>

#include "host/shell.h"
#include "platform/text.h"
#include "player/formats.h"
#include "player/session.h"
#include "player/song.h"
#include "player/vgm.h"

namespace {

volatile int32_t infoFree = 1;  // 1 while no GetFileInfo runs

// The record's file types: each format's pairs of extension list and filter
// description, then an empty string. Names a format claims by their ending
// (".GYM.ZIP") are claimed by IsOurFile instead.
char fileTypeList[1024];

// Fills fileTypeList from the format list, without `left` (may be null); a
// pair that would not fit is left out with those after it.
const char* FileTypeList(const SongFormat* left) {
    size_t used = 0;
    std::memset(fileTypeList, 0, sizeof fileTypeList);
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        if (*f == left) continue;
        for (const FileType* type = (*f)->fileTypes; type->extensions != nullptr; ++type) {
            const size_t extensions = std::strlen(type->extensions) + 1;
            const size_t description = std::strlen(type->description) + 1;
            if (used + extensions + description + 1 > sizeof fileTypeList) return fileTypeList;
            std::memcpy(fileTypeList + used, type->extensions, extensions);
            std::memcpy(fileTypeList + used + extensions, type->description, description);
            used += extensions + description;
        }
    }
    return fileTypeList;
}

// The host reads the file types once Init has returned.
void Init() {
    wakeEvent = platform::CreateEventA(false, false);
    LoadSettings(inModule.hDllInstance);
    inModule.FileExtensions = FileTypeList(playVgm != 0 ? nullptr : &vgmFormat);
}

// A host may unload the library right after Quit: a song still in play
// (Quit without Stop) has its thread ended first.
void Quit() {
    EndDecodeThread();
    if (wakeEvent != nullptr) platform::CloseHandle(wakeEvent);
    wakeEvent = nullptr;
}

// The host shows its own message for a file that cannot be read: the box
// then stays away, and the answer is 0 either way.
int InfoBox(const char* file, HostWindow parent) {
    SongInfoBox(file, parent);
    return 0;
}

int IsOurFile(const char* file) {
    return ClaimedByNameEnding(file);
}

int GetLength() {
    return platform::AtomicRead(&songLengthMs);
}

void SetVolume(int volume) {
    if (inModule.outMod != nullptr) inModule.outMod->SetVolume(volume);
}

void SetPan(int pan) {
    if (inModule.outMod != nullptr) inModule.outMod->SetPan(pan);
}

// There is no equaliser.
void EQSet(int, char[10], int) {}

}  // namespace

void AcquireInfo() {
    while (platform::AtomicExchange(&infoFree, 0) != 1)
        platform::Sleep(10);
}

void ReleaseInfo() {
    platform::AtomicExchange(&infoFree, 1);
}

// Title and length of `file`, or of the song in play when `file` is null or
// empty. A file that cannot be opened (missing, unreadable, or a song over
// the size limit) gets its file name as the title and length 0, so the
// playlist shows what it is and no stale text; with no file at all (empty,
// and nothing played yet) nothing is written.
//
// The title is 8-bit text for the host: a GYM song's as its file has it, a
// VGM song's (UTF-8 from its tag) in the system's code page, a file's name
// as the host gave it.
void GetFileInfo(const char* file, char* title, int* lengthMs) {
    AcquireInfo();
    // The song in play keeps the length of the settings it opened with.
    const bool inPlay = file == nullptr || file[0] == '\0';
    if (inPlay) file = currentFile;
    if (std::unique_ptr<SongSession> session = SongSession::Open(file)) {
        const char* own = session->Facts().title;
        if (title != nullptr && !session->Format().eightBitText && own[0] != '\0') {
            platform::Utf8ToAnsi(own, title, kTitleSize);
        } else if (title != nullptr) {
            std::memcpy(title, session->Title(), kTitleSize);
        }
        if (lengthMs != nullptr)
            *lengthMs = inPlay ? platform::AtomicRead(&songLengthMs) : session->PlayMs();
    } else if (file[0] != '\0') {
        if (title != nullptr) {
            const char* name = PathFileName(file);
            size_t used = 0;
            while (name[used] != '\0' && used < kTitleSize - 1) {
                title[used] = name[used];
                ++used;
            }
            title[used] = '\0';
        }
        if (lengthMs != nullptr) *lengthMs = 0;
    }
    ReleaseInfo();
}

In_Module inModule = {
    kInModuleVersion,
    "Tamboril v0.1(test) (x86)",
    nullptr,  // hMainWindow
    nullptr,  // hDllInstance
    FileTypeList(nullptr),
    1,  // is_seekable
    1,  // UsesOutputPlug
    Config,
    About,
    Init,
    Quit,
    GetFileInfo,
    InfoBox,
    IsOurFile,
    Play,
    Pause,
    UnPause,
    IsPaused,
    Stop,
    GetLength,
    GetOutputTime,
    SetOutputTime,
    SetVolume,
    SetPan,
    nullptr,
    nullptr,
    nullptr,
    nullptr,
    nullptr,  // SAVSAInit ... SAAdd
    nullptr,
    nullptr,
    nullptr,
    nullptr,  // VSAAddPCMData ... VSASetInfo
    nullptr,
    nullptr,  // dsp_isactive, dsp_dosamples
    EQSet,
    nullptr,  // SetInfo
    nullptr,  // outMod
};

In_Module* winampGetInModule2() {
    return &inModule;
}
