// The plug-in shell's pieces, as the record's entry points and each other see
// them. Everything here is process-wide: the host loads one instance of the
// plug-in and plays one song at a time.
//
//   plugin.cpp          the record, the export, Init/Quit, file information
//                       and the pass-through entry points
//   file_info.cpp       the extended file information exports and their
//                       records of the last few files
//   playback.cpp        Play, Stop, Pause, seeking, and the decode thread
//   settings_store.cpp  plugin.ini beside the library
//   dialogs (Win32)     Config, About and the file-information box
#pragma once

#include <cstdint>

#include "host/winamp.h"
#include "platform/kernel.h"

// The record the export hands out.
extern In_Module inModule;

constexpr int kPathSize = 260;  // paths and the settings path, terminator included

// --- file information (plugin.cpp) -------------------------------------------
void GetFileInfo(const char* file, char* title, int* lengthMs);

// --- extended file information (file_info.cpp) -------------------------------
// Whether the dialogs open in Japanese on the calling thread: their templates
// come in English and Japanese, and the resource loader picks one by the
// thread's language.
bool SheetLanguageIsJapanese();

// --- playback (playback.cpp) ---------------------------------------------------
// The decode thread's event, auto-reset: a request is pending. Null when its
// creation failed, and after Quit.
extern platform::Handle wakeEvent;

// The song last given to Play (empty before the first). Read and written only
// while holding the file-information word (AcquireInfo/ReleaseInfo).
extern char currentFile[kPathSize];
extern volatile int32_t songLengthMs;

void AcquireInfo();
void ReleaseInfo();

int Play(const char* file);
void Stop();
// Asks the decode thread to stop, if one runs, and waits until it has ended
// and its handle is closed (also one that ended by itself). The output is
// left as it is. Stop and Quit both end with no thread of the library left.
void EndDecodeThread();
void Pause();
void UnPause();
int IsPaused();
int GetOutputTime();
void SetOutputTime(int ms);

// --- settings (settings_store.cpp) -------------------------------------------
extern platform::InstanceHandle dllInstance;  // the library, for dialog resources
extern char iniPath[kPathSize];               // empty when the path did not fit
// PlayVgm: 1 (the default) lists VGM and VGZ among the record's file types;
// 0 leaves them to another plug-in, from the host's next start. Written by
// LoadSettings, read by Init.
extern int32_t playVgm;
// TagLanguage: which fields the extended file information gives where a song
// has them in both languages. kTagsEnglish, kTagsJapanese, or kTagsAsSheet
// (the default): the language the dialogs open in. Written by LoadSettings.
constexpr int32_t kTagsEnglish = 0;
constexpr int32_t kTagsJapanese = 1;
constexpr int32_t kTagsAsSheet = 2;
extern volatile int32_t tagLanguage;

constexpr const char* kSettingsSection = "Tamboril";

// Finds plugin.ini beside the library, initialises the FM chip, reads every
// key and writes them all back in their canonical form.
void LoadSettings(platform::InstanceHandle instance);
// Frequency, Priority, LoopCount, FadeoutTime from the record, PlayVgm and
// TagLanguage.
void SaveMainSettings();
// VolumeFM, VolumeSSG, VolumePCM from the record.
void SaveVolumeSettings();
int32_t ReadIntSetting(const char* key, int32_t defaultValue);
void WriteIntSetting(const char* key, int32_t value);

// Decimal text to a number as atoi reads it (leading blanks, optional sign,
// digits up to the first other character; none gives 0), saturating at the
// 32-bit limits instead of overflowing.
int32_t TextToInt(const char* text);

// --- dialogs -----------------------------------------------------------------
void Config(HostWindow parent);
void About(HostWindow parent);
// The file-information box of the song at `file`, modal over `parent`; none
// when the file cannot be opened as a song (the host says so itself).
void SongInfoBox(const char* file, HostWindow parent);
