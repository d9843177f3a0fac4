// plugin.ini: section "Tamboril", nine keys. Every load writes all keys
// straight back, so after one start the file holds each of them in its
// canonical form. Other sections of the file are left alone.
//
// The file lives beside the library. Where that folder cannot be written (a
// standard user's C:\Program Files), the write-back at load fails, and the
// settings move to a file of the user's own: plugin.ini in the host's
// settings folder's Plugins subfolder, or in %APPDATA%\Tamboril. Once that
// file exists it is the one read and written at every later start. Paths
// are UTF-8 (platform/paths.h).
#include <cstdio>
#include <cstring>

#include "host/shell.h"
#include "platform/paths.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "player/engine.h"
#include "player/settings.h"

platform::InstanceHandle dllInstance = nullptr;
char iniPath[kPathSize] = "";
int32_t playVgm = 1;
volatile int32_t tagLanguage = kTagsAsSheet;

namespace {

constexpr char kSettingsFile[] = "plugin.ini";
constexpr uint32_t kIntTextSize = 128;

// Set when a write of the settings file fails.
bool writeFailed = false;

// `folder` (ending in a separator, `folderLength` bytes) with plugin.ini
// appended into iniPath; empty when it does not fit in kPathSize bytes.
void UseSettingsFolder(const char* folder, size_t folderLength) {
    iniPath[0] = '\0';
    if (folderLength + sizeof kSettingsFile > kPathSize) return;
    std::memcpy(iniPath, folder, folderLength);
    std::memcpy(iniPath + folderLength, kSettingsFile, sizeof kSettingsFile);
}

// plugin.ini in the library's folder, or empty when that path does not fit
// in kPathSize bytes: then nothing is read or written.
void LocateSettingsFile(platform::InstanceHandle instance) {
    iniPath[0] = '\0';
    char full[kPathSize];
    const uint32_t fullLength = platform::ModulePath(instance, full, kPathSize);
    if (fullLength == 0) return;
    // UTF-8: no byte of a longer character is taken for a separator.
    size_t folderLength = 0;
    for (size_t i = 0; i < fullLength; ++i) {
        if (full[i] == '\\' || full[i] == '/') folderLength = i + 1;
    }
    UseSettingsFolder(full, folderLength);
}

// The user's own plugin.ini, its folder made when `make` is set; false when
// there is no such place.
bool LocateUserSettingsFile(bool make, char* path) {
    char folder[kPathSize];
    const uint32_t length =
        platform::UserSettingsFolder(inModule.hMainWindow, make, folder, kPathSize);
    if (length == 0 || length + sizeof kSettingsFile > kPathSize) return false;
    std::memcpy(path, folder, length);
    std::memcpy(path + length, kSettingsFile, sizeof kSettingsFile);
    return true;
}

bool HaveSettingsFile() {
    return iniPath[0] != '\0';
}

void ReadTextSetting(const char* key, const char* defaultText, char* text, uint32_t size) {
    platform::GetPrivateProfileStringA(kSettingsSection, key, defaultText, text, size, iniPath);
}

void WriteTextSetting(const char* key, const char* text) {
    if (!HaveSettingsFile()) return;
    if (!platform::WritePrivateProfileStringA(kSettingsSection, key, text, iniPath))
        writeFailed = true;
}

}  // namespace

int32_t TextToInt(const char* text) {
    const char* c = text;
    while (*c == ' ' || (*c >= '\t' && *c <= '\r'))
        ++c;
    bool negative = false;
    if (*c == '+' || *c == '-') negative = *c++ == '-';
    int64_t value = 0;
    for (; *c >= '0' && *c <= '9'; ++c) {
        if (value <= INT64_C(2147483648)) value = value * 10 + (*c - '0');
    }
    if (negative) value = -value;
    if (value > INT32_MAX) return INT32_MAX;
    if (value < INT32_MIN) return INT32_MIN;
    return static_cast<int32_t>(value);
}

int32_t ReadIntSetting(const char* key, int32_t defaultValue) {
    if (!HaveSettingsFile()) return defaultValue;
    char defaultText[16];
    std::snprintf(defaultText, sizeof defaultText, "%d", static_cast<int>(defaultValue));
    char text[kIntTextSize];
    ReadTextSetting(key, defaultText, text, sizeof text);
    return TextToInt(text);
}

void WriteIntSetting(const char* key, int32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "%d", static_cast<int>(value));
    WriteTextSetting(key, text);
}

void SaveMainSettings() {
    WriteTextSetting("Frequency", LookupChoiceName(frequencyChoices, settings.frequency, 0));
    WriteTextSetting("Priority", LookupChoiceName(priorityChoices, settings.priority, 2));
    WriteIntSetting("LoopCount", settings.loopCount);
    WriteIntSetting("FadeoutTime", settings.fadeoutTime);
    WriteIntSetting("PlayVgm", playVgm);
    WriteIntSetting("TagLanguage", tagLanguage);
}

void SaveVolumeSettings() {
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row) {
        WriteIntSetting(row->key, settings.*(row->field));
    }
}

// Reads every key from iniPath into the record.
void ReadAllSettings() {
    char text[kPathSize];
    ReadTextSetting("Frequency", frequencyChoices[0].name, text, sizeof text);
    settings.frequency = LookupChoiceValue(frequencyChoices, text);
    ReadTextSetting("Priority", priorityChoices[2].name, text, sizeof text);
    settings.priority = LookupChoiceValue(priorityChoices, text);
    settings.loopCount = ReadIntSetting("LoopCount", kDefaultLoopCount);
    settings.fadeoutTime = ReadIntSetting("FadeoutTime", kDefaultFadeoutTime);
    playVgm = ReadIntSetting("PlayVgm", 1) != 0 ? 1 : 0;
    const int32_t language = ReadIntSetting("TagLanguage", kTagsAsSheet);
    platform::AtomicExchange(&tagLanguage, language >= kTagsEnglish && language <= kTagsAsSheet
                                               ? language
                                               : kTagsAsSheet);
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row) {
        settings.*(row->field) = ReadIntSetting(row->key, row->defaultValue);
    }
}

void LoadSettings(platform::InstanceHandle instance) {
    dllInstance = instance;
    LocateSettingsFile(instance);
    PowerOnEngine();

    if (!HaveSettingsFile()) {
        ResetSettingsToDefaults();
        playVgm = 1;
        platform::AtomicExchange(&tagLanguage, kTagsAsSheet);
        return;
    }
    // The user's own file, once there, holds the settings.
    char userPath[kPathSize];
    if (LocateUserSettingsFile(false, userPath) && platform::FileExists(userPath))
        std::memcpy(iniPath, userPath, kPathSize);

    ReadAllSettings();
    writeFailed = false;
    SaveMainSettings();
    SaveVolumeSettings();
    // The folder beside the library cannot be written: from now on the
    // settings live in the user's own file.
    if (writeFailed && LocateUserSettingsFile(true, userPath) &&
        std::strcmp(iniPath, userPath) != 0) {
        std::memcpy(iniPath, userPath, kPathSize);
        writeFailed = false;
        SaveMainSettings();
        SaveVolumeSettings();
    }
}
