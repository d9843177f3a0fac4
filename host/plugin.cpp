// The input-module record, the one export, start-up and shut-down, and the
// file-information and pass-through entry points.
#include "host/shell.h"
#include "player/song.h"

namespace {

volatile int32_t infoFree = 1;  // 1 while no GetFileInfo runs

// Two pairs of extension list and filter description, then an empty string.
// Names ending ".GYM.ZIP" are claimed by IsOurFile instead.
const char kFileExtensions[] =
    "GYM\0Genecyst sound log file (*.GYM)\0"
    "DRU;GYM_ZIP\0Compressed GYM (*.DRU;*.GYM_ZIP)\0";

void Init() {
    wakeEvent = platform::CreateEventA(false, false);
    LoadSettings(inModule.hDllInstance);
}

// A host may unload the library right after Quit: a song still in play
// (Quit without Stop) has its thread ended first.
void Quit() {
    EndDecodeThread();
    if (wakeEvent != nullptr) platform::CloseHandle(wakeEvent);
    wakeEvent = nullptr;
}

int InfoBox(const char*, HostWindow) {
    return 0;
}

int IsOurFile(const char* file) {
    return MatchesArchiveSuffix(file);
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
void GetFileInfo(const char* file, char* title, int* lengthMs) {
    AcquireInfo();
    if (file == nullptr || file[0] == '\0') file = currentFile;
    int32_t length = 0;
    if (GetSongInfo(file, title, &length)) {
        if (lengthMs != nullptr) *lengthMs = length;
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
    kFileExtensions,
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
