// Starting inputs for the fuzz targets, made with the song builder and the
// VGM writer: every form of song the loaders read and broken ones at their
// edges, FM register streams that reach the timers, CSM and the DAC, and
// settings files from canonical to mangled. Each is a name (a file name) and
// its bytes.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

using Bytes = std::vector<uint8_t>;
using Seeds = std::vector<std::pair<std::string, Bytes>>;

// Song inputs (the loader and player targets): the song alone, or with the
// first byte's top bit set, an info file first (see fuzz_files.h).
Seeds SongSeeds();
// Register streams: mode byte, gain byte, then (control, address, data).
Seeds ChipSeeds();
// plugin.ini texts.
Seeds SettingsSeeds();
// Song inputs and names for the shell's entry points.
Seeds ShellSeeds();
// VGM and VGZ songs, each followed by the byte that picks the settings it
// plays with (see fuzz_vgm.cpp): every command the VGM player reads or
// skips, and files it refuses.
Seeds VgmSeeds();
