// The settings in Audacious's configuration and the preferences page. The page
// is made of Audacious's own preference widgets, so the GTK and the Qt
// interface both draw it; every change is stored in the configuration at once.
// play() copies the settings into the settings record when a song starts and
// the levels again before every block, so levels are heard at once and the
// rest with the next song, as on Windows.
#include <libaudcore/i18n.h>
#include <libaudcore/runtime.h>

#include <cstring>
#include <mutex>

#include "audacious/tamboril_audacious.h"
#include "fm/chip.h"
#include "player/settings.h"

namespace tamboril_audacious {

namespace {

// The settings loader's one-time initialisation of the FM chip.
constexpr uint32_t kLoaderClock = 7670442;
constexpr uint32_t kLoaderRate = 44100;

constexpr const char kFrequencyKey[] = "Frequency";
constexpr const char kLoopCountKey[] = "LoopCount";
constexpr const char kFadeoutTimeKey[] = "FadeoutTime";

// Written as the settings loader writes a fresh plugin.ini. The level keys
// come from volumeKeys, whose defaults are all 0.
const char* const kConfigDefaults[] = {
    kFrequencyKey, "55467:FM",
    kLoopCountKey, "2",
    kFadeoutTimeKey, "5000",
    "VolumeFM", "0",
    "VolumeSSG", "0",
    "VolumePCM", "0",
    nullptr,
};

// What the Windows pages allow: the loop count's and fade-out time's spins,
// and the mixer spins (a typed level may lie outside, but not here).
constexpr int kMaxLoopCount = 255;
constexpr int kMaxFadeoutTime = 32767;
constexpr int kMinLevel = -20;
constexpr int kMaxLevel = 60;

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
               {kMinLevel, kMaxLevel, 1, N_("half-dB quieter")}),
    WidgetSpin(N_("SSG:"), WidgetInt(kConfigSection, "VolumeSSG"),
               {kMinLevel, kMaxLevel, 1, N_("half-dB quieter")}),
    WidgetSpin(N_("PCM:"), WidgetInt(kConfigSection, "VolumePCM"),
               {kMinLevel, kMaxLevel, 1, N_("half-dB quieter")}),
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

void InitializeEngine() {
    fmChip.Initialize(kLoaderClock, kLoaderRate, true);
    aud_config_set_defaults(kConfigSection, kConfigDefaults);
    ResetSettingsToDefaults();
    LoadSettingsFromConfig();
}

}  // namespace

void EnsureEngineReady() { std::call_once(engineOnce, InitializeEngine); }

void LoadSettingsFromConfig() {
    String stored = aud_get_str(kConfigSection, kFrequencyKey);
    const char* frequencyText = stored ? static_cast<const char*>(stored) : "";
    settings.frequency = LookupChoiceValue(frequencyChoices, frequencyText);
    const char* canonical = LookupChoiceName(frequencyChoices, settings.frequency, 0);
    if (std::strcmp(frequencyText, canonical) != 0) aud_set_str(kConfigSection, kFrequencyKey, canonical);
    settings.loopCount = aud_get_int(kConfigSection, kLoopCountKey);
    settings.fadeoutTime = aud_get_int(kConfigSection, kFadeoutTimeKey);
    LoadLevelsFromConfig();
}

void LoadLevelsFromConfig() {
    for (const VolumeKey* row = volumeKeys; row->control != 0; ++row) {
        settings.*(row->field) = aud_get_int(kConfigSection, row->key);
    }
}

const PluginPreferences preferences = {{pageWidgets}, EnsureEngineReady, nullptr, nullptr};

}  // namespace tamboril_audacious
