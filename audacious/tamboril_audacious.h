// Tamboril as an Audacious 4.2 input plug-in: the player's settings kept in
// Audacious's own configuration, and the preferences page that edits them.
//
// Configuration section "tamboril", with the keys of plugin.ini:
//   Frequency    one of the six Frequency names ("55467:FM", "48000", "44100",
//                "24000", "22050", "11025"); default "55467:FM"; any other
//                text loads as "55467:FM" and is written back as that
//   LoopCount    default 2      (the page offers 0 ... 255)
//   FadeoutTime  default 5000   ms (the page offers 0 ... 32767)
//   VolumeFM, VolumeSSG, VolumePCM
//                default 0      half-decibels of attenuation (the page offers
//                               -20 ... 60)
// As on Windows, a load takes integers as stored, without a range test. The
// Priority key has no meaning here: the decode thread is Audacious's.
#pragma once

#include <libaudcore/preferences.h>

namespace tamboril_audacious {

constexpr const char kConfigSection[] = "tamboril";

// Once per process: the FM chip's one-time initialisation (as the settings
// loader does on Windows) and the configuration defaults. Safe to call from
// any thread, any number of times.
void EnsureEngineReady();

// Copies every key of the section into the process-wide settings record.
// Frequency text that names no choice is written back in its canonical form.
void LoadSettingsFromConfig();

// Copies only the three levels; play() calls it before every block.
void LoadLevelsFromConfig();

extern const PluginPreferences preferences;

}  // namespace tamboril_audacious
