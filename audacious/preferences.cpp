// The settings in Audacious's configuration and the preferences page. The page
// is made of Audacious's own preference widgets, so the GTK and the Qt
// interface both draw it; every change is stored in the configuration at once.
// play() copies the settings into the settings record when a song starts and
// the levels again before every block, so levels are heard at once and the
// rest with the next song, as on Windows.
#include <libaudcore/i18n.h>
#include <libaudcore/runtime.h>

#include <cstdio>
#include <cstring>
#include <mutex>

#include "audacious/tamboril_audacious.h"
#include "player/engine.h"
#include "player/settings.h"

namespace tamboril_audacious {

namespace {

constexpr const char kFrequencyKey[] = "Frequency";
constexpr const char kLoopCountKey[] = "LoopCount";
constexpr const char kFadeoutTimeKey[] = "FadeoutTime";

// The configuration's defaults, as the settings loader writes a fresh
// plugin.ini: key and value, pairs of them, closed by null. Filled once from
// the player's defaults, before Audacious is handed them.
constexpr int kNumberTextSize = 16;
constexpr int kConfigKeyCount = 6;
char defaultNumberText[kConfigKeyCount][kNumberTextSize];
const char* configDefaults[2 * kConfigKeyCount + 1];

std::once_flag engineOnce;

const ComboItem frequencyItems[] = {
    ComboItem(N_("55467:FM (44100 Hz, FM at its own rate)"), "55467:FM"),
    ComboItem("48000", "48000"),
    ComboItem("44100", "44100"),
    ComboItem("24000", "24000"),
    ComboItem("22050", "22050"),
    ComboItem("11025", "11025"),
};

const PreferencesWidget mixerWidgets[] = {
    WidgetSpin(N_("FM:"), WidgetInt(kConfigSection, "VolumeFM"),
               {kLowestLevel, kHighestLevel, 1, N_("half-dB quieter")}),
    WidgetSpin(N_("SSG:"), WidgetInt(kConfigSection, "VolumeSSG"),
               {kLowestLevel, kHighestLevel, 1, N_("half-dB quieter")}),
    WidgetSpin(N_("PCM:"), WidgetInt(kConfigSection, "VolumePCM"),
               {kLowestLevel, kHighestLevel, 1, N_("half-dB quieter")}),
};

const PreferencesWidget pageWidgets[] = {
    WidgetLabel(N_("<b>Playback</b>")),
    WidgetCombo(N_("Frequency (Hz):"), WidgetString(kConfigSection, kFrequencyKey),
                {{frequencyItems}, nullptr}),
    WidgetSpin(N_("Loop count:"), WidgetInt(kConfigSection, kLoopCountKey),
               {0, kMaxLoopCount, 1, N_("times back to the loop point")}),
    WidgetSpin(N_("Fade-out time:"), WidgetInt(kConfigSection, kFadeoutTimeKey),
               {0, kMaxFadeoutTime, 100, N_("ms")}),
    WidgetLabel(N_("These take effect with the next song.")),
    WidgetLabel(N_("<b>Mixer</b>")),
    WidgetTable({{mixerWidgets}}),
    WidgetLabel(N_("Levels take effect at once.")),
};

void FillConfigDefaults() {
    int pair = 0;
    auto add = [&pair](const char* key, const char* value) {
        configDefaults[2 * pair] = key;
        configDefaults[2 * pair + 1] = value;
        ++pair;
    };
    auto addNumber = [&pair, &add](const char* key, int32_t value) {
        std::snprintf(defaultNumberText[pair], kNumberTextSize, "%d", static_cast<int>(value));
        add(key, defaultNumberText[pair]);
    };
    add(kFrequencyKey, LookupChoiceName(frequencyChoices, kDefaultFrequency, 0));
    addNumber(kLoopCountKey, kDefaultLoopCount);
    addNumber(kFadeoutTimeKey, kDefaultFadeoutTime);
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row)
        addNumber(row->key, row->defaultValue);
    configDefaults[2 * pair] = nullptr;
}

void InitializeEngine() {
    PowerOnEngine();
    FillConfigDefaults();
    aud_config_set_defaults(kConfigSection, configDefaults);
    ResetSettingsToDefaults();
    LoadSettingsFromConfig();
}

}  // namespace

void EnsureEngineReady() {
    std::call_once(engineOnce, InitializeEngine);
}

void LoadSettingsFromConfig() {
    String stored = aud_get_str(kConfigSection, kFrequencyKey);
    const char* frequencyText = stored ? static_cast<const char*>(stored) : "";
    settings.frequency = LookupChoiceValue(frequencyChoices, frequencyText);
    const char* canonical = LookupChoiceName(frequencyChoices, settings.frequency, 0);
    if (std::strcmp(frequencyText, canonical) != 0)
        aud_set_str(kConfigSection, kFrequencyKey, canonical);
    settings.loopCount = aud_get_int(kConfigSection, kLoopCountKey);
    settings.fadeoutTime = aud_get_int(kConfigSection, kFadeoutTimeKey);
    LoadLevelsFromConfig();
}

void LoadLevelsFromConfig() {
    for (const VolumeKey* row = volumeKeys; row->key != nullptr; ++row) {
        settings.*(row->field) = aud_get_int(kConfigSection, row->key);
    }
}

const PluginPreferences preferences = {{pageWidgets}, EnsureEngineReady, nullptr, nullptr};

}  // namespace tamboril_audacious
