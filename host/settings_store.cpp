// plugin.ini beside the library: section "Tamboril", seven keys. Every load
// writes all keys straight back, so after one start the file holds each of
// them in its canonical form. Other sections of the file are left alone.
#include <cstdio>
#include <cstring>

#include "host/shell.h"
#include "platform/profile.h"
#include "platform/text.h"
#include "player/engine.h"
#include "player/settings.h"

platform::InstanceHandle dllInstance = nullptr;
char iniPath[kPathSize] = "";

namespace {

constexpr char kSettingsFile[] = "plugin.ini";
constexpr uint32_t kIntTextSize = 128;

// plugin.ini in the library's folder, or empty when that path does not fit
// in kPathSize bytes: then nothing is read or written.
void LocateSettingsFile(platform::InstanceHandle instance) {
    iniPath[0] = '\0';
    char module[kPathSize];
    const uint32_t moduleLength = platform::GetModuleFileNameA(instance, module, kPathSize);
    if (moduleLength == 0 || moduleLength >= kPathSize) return;
    char full[kPathSize];
    const uint32_t fullLength = platform::GetFullPathNameA(module, kPathSize, full);
    if (fullLength == 0 || fullLength >= kPathSize) return;

    // Cut after the last separator, stepping by characters so that the
    // second byte of a two-byte character is never taken for one.
    const char* afterSeparator = full;
    for (const char* c = full; *c != '\0'; c = platform::CharNextA(c)) {
        if (*c == '\\' || *c == '/') afterSeparator = c + 1;
    }
    const size_t folderLength = static_cast<size_t>(afterSeparator - full);
    if (folderLength + sizeof kSettingsFile > kPathSize) return;
    std::memcpy(iniPath, full, folderLength);
    std::memcpy(iniPath + folderLength, kSettingsFile, sizeof kSettingsFile);
}

bool HaveSettingsFile() { return iniPath[0] != '\0'; }

void ReadTextSetting(const char* key, const char* defaultText, char* text, uint32_t size) {
    platform::GetPrivateProfileStringA(kSettingsSection, key, defaultText, text, size, iniPath);
}

void WriteTextSetting(const char* key, const char* text) {
    if (!HaveSettingsFile()) return;
    platform::WritePrivateProfileStringA(kSettingsSection, key, text, iniPath);
}

}  // namespace

int32_t TextToInt(const char* text) {
    const char* c = text;
    while (*c == ' ' || (*c >= '\t' && *c <= '\r')) ++c;
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
}

void SaveVolumeSettings() {
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row) {
        WriteIntSetting(row->key, settings.*(row->field));
    }
}

void LoadSettings(platform::InstanceHandle instance) {
    dllInstance = instance;
    LocateSettingsFile(instance);
    PowerOnEngine();

    if (!HaveSettingsFile()) {
        ResetSettingsToDefaults();
        return;
    }
    char text[kPathSize];
    ReadTextSetting("Frequency", frequencyChoices[0].name, text, sizeof text);
    settings.frequency = LookupChoiceValue(frequencyChoices, text);
    ReadTextSetting("Priority", priorityChoices[2].name, text, sizeof text);
    settings.priority = LookupChoiceValue(priorityChoices, text);
    settings.loopCount = ReadIntSetting("LoopCount", kDefaultLoopCount);
    settings.fadeoutTime = ReadIntSetting("FadeoutTime", kDefaultFadeoutTime);
    SaveMainSettings();
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row) {
        settings.*(row->field) = ReadIntSetting(row->key, row->defaultValue);
    }
    SaveVolumeSettings();
}
