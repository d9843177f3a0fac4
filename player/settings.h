// The user's settings, one process-wide record. Each field is one aligned
// 32-bit word, written whole by the configuration pages and read by the player
// without a lock. Before the settings are loaded every field is 0; the
// defaults below are those a load gives when the file says nothing.
//
//   frequency    output rate in Hz, or 55555 for "55467:FM" (plays at 44100 Hz
//                with the FM synthesis resampled); default 55555
//   priority     decode-thread priority 1 (lowest) ... 5 (highest); default 3
//   loopCount    jumps back to the loop point before the fade; 0 = for ever;
//                default 2
//   fadeoutTime  fade-out length in ms; default 5000
//   volumeFm, volumeSsg, volumePcm
//                attenuations in half-decibels, positive is quieter; default 0
#pragma once

#include <atomic>
#include <cstdint>

// One setting: a single aligned 32-bit word, stored and loaded whole. The
// configuration pages write it on the UI thread while the decode thread reads
// it; relaxed atomics make that a plain word access without a data race.
class SettingWord {
public:
    constexpr SettingWord(int32_t value = 0) : word_(value) {}
    SettingWord(const SettingWord&) = delete;
    SettingWord& operator=(const SettingWord&) = delete;

    operator int32_t() const { return word_.load(std::memory_order_relaxed); }
    SettingWord& operator=(int32_t value) {
        word_.store(value, std::memory_order_relaxed);
        return *this;
    }

private:
    std::atomic<int32_t> word_;
};

static_assert(sizeof(SettingWord) == 4 && alignof(SettingWord) == 4,
              "a setting is one aligned 32-bit word");
static_assert(std::atomic<int32_t>::is_always_lock_free, "settings are plain word accesses");

struct PluginSettings {
    SettingWord frequency;
    SettingWord priority;
    SettingWord loopCount;
    SettingWord fadeoutTime;
    SettingWord volumeFm;
    SettingWord volumeSsg;
    SettingWord volumePcm;
};

extern PluginSettings settings;

// A named value of a text-valued key. A table ends with an entry whose name is
// null; its value is what a text matching no entry yields.
struct SettingChoice {
    const char* name;
    int32_t value;
};

constexpr int32_t kFrequencyFmCode = 55555;  // "55467:FM": 44100 Hz, FM resampled

// Defaults a load gives for keys the file lacks.
constexpr int32_t kDefaultFrequency = kFrequencyFmCode;
constexpr int32_t kDefaultPriority = 3;        // "Normal"
constexpr int32_t kDefaultLoopCount = 2;       // jumps back before the fade
constexpr int32_t kDefaultFadeoutTime = 5000;  // ms
constexpr int32_t kDefaultLevel = 0;           // half-decibels, each of the three

// What the configuration pages offer: the loop count and fade-out time from
// 0, the levels from kLowestLevel to kHighestLevel half-decibels. A load
// takes a stored value as it is, without these bounds.
constexpr int32_t kMaxLoopCount = 255;
constexpr int32_t kMaxFadeoutTime = 32767;  // ms
constexpr int32_t kLowestLevel = -20;
constexpr int32_t kHighestLevel = 60;
// A typed level may go past what the pages' spins offer: 192 half-decibels
// of attenuation is where every gain reaches 0, so that a part can be heard
// alone. The tool and the web page accept levels up to it.
constexpr int32_t kSilentLevel = 192;

extern const SettingChoice frequencyChoices[];  // "55467:FM", "48000", ... "11025"
extern const SettingChoice priorityChoices[];   // "Highest" ... "Lowest"

// One row per mixer level, in the order FM, SSG, PCM: the field, the default
// and the key. Ends with a row whose key is null.
struct VolumeKey {
    SettingWord PluginSettings::*field;
    int32_t defaultValue;
    const char* key;
};

extern const VolumeKey volumeKeys[];

// The value of the first entry whose name equals `text` ignoring case, or the
// closing entry's value when none does.
int32_t LookupChoiceValue(const SettingChoice* table, const char* text);

// The Frequency setting's value for one of its names (any case), or for
// "55555" (the code the settings file stores for "55467:FM"); 0 for anything
// else, null included. The tool's option and the page's field take these.
int32_t FrequencyFromName(const char* name);

// The name of the first entry whose value is `value`, or the name of the entry
// at `fallbackIndex` (0 for frequencies, 2 for priorities) when none is.
const char* LookupChoiceName(const SettingChoice* table, int32_t value, int fallbackIndex);

// Puts every field at the default a load of an empty settings file gives.
void ResetSettingsToDefaults();
