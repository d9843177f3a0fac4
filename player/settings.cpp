#include "player/settings.h"

#include <cstring>

#include "platform/text.h"

PluginSettings settings;

// Names as the settings file stores them; the closing entry's value is what a
// name matching none of them loads as.
const SettingChoice frequencyChoices[] = {
    {"55467:FM", kFrequencyFmCode},
    {"48000", 48000},
    {"44100", 44100},
    {"24000", 24000},
    {"22050", 22050},
    {"11025", 11025},
    {nullptr, kFrequencyFmCode},
};

const SettingChoice priorityChoices[] = {
    {"Highest", 5}, {"Higher", 4}, {"Normal", kDefaultPriority},
    {"Lower", 2},   {"Lowest", 1}, {nullptr, kDefaultPriority},
};

const VolumeKey volumeKeys[] = {
    {&PluginSettings::volumeFm, kDefaultLevel, "VolumeFM"},
    {&PluginSettings::volumeSsg, kDefaultLevel, "VolumeSSG"},
    {&PluginSettings::volumePcm, kDefaultLevel, "VolumePCM"},
    {nullptr, 0, nullptr},
};

int32_t LookupChoiceValue(const SettingChoice* table, const char* text) {
    const SettingChoice* entry = table;
    for (; entry->name != nullptr; ++entry) {
        if (text != nullptr && platform::lstrcmpiA(entry->name, text) == 0) break;
    }
    return entry->value;
}

int32_t FrequencyFromName(const char* name) {
    if (name == nullptr) return 0;
    if (std::strcmp(name, "55555") == 0) return kFrequencyFmCode;
    for (const SettingChoice* c = frequencyChoices; c->name != nullptr; ++c) {
        if (platform::lstrcmpiA(c->name, name) == 0) return c->value;
    }
    return 0;
}

const char* LookupChoiceName(const SettingChoice* table, int32_t value, int fallbackIndex) {
    for (const SettingChoice* entry = table; entry->name != nullptr; ++entry) {
        if (entry->value == value) return entry->name;
    }
    return table[fallbackIndex].name;
}

void ResetSettingsToDefaults() {
    settings.frequency = kDefaultFrequency;
    settings.priority = kDefaultPriority;
    settings.loopCount = kDefaultLoopCount;
    settings.fadeoutTime = kDefaultFadeoutTime;
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row) {
        settings.*(row->field) = row->defaultValue;
    }
}
