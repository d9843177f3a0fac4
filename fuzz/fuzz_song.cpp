// Fuzz target: arbitrary bytes as a song file. Loads them through the same
// path a host uses (archive first, then GYMX or plain), asks for the title and
// length, then plays a bounded stretch with a seek back and forth. Any read
// past a buffer, undefined arithmetic or a render that never returns is a
// finding.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

#include <unistd.h>

#include "fm/chip.h"
#include "player/settings.h"
#include "player/song.h"

namespace {

// At most this many 30 ms blocks are rendered per input (about 1 s of song).
constexpr int kMaxBlocks = 30;

const std::string& InputPath() {
    static const std::string path = [] {
        char name[64];
        std::snprintf(name, sizeof name, "/tmp/tamboril-fuzz-%ld.gym", static_cast<long>(getpid()));
        return std::string(name);
    }();
    return path;
}

bool WriteInput(const uint8_t* data, size_t size) {
    FILE* file = std::fopen(InputPath().c_str(), "wb");
    if (file == nullptr) return false;
    const bool whole = std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && whole;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fmChip.Initialize(7670442, 44100, true);
    ResetSettingsToDefaults();
    settings.fadeoutTime = 500;  // keep the fade short so a looping song ends
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (!WriteInput(data, size)) return 0;

    char title[kTitleSize];
    int32_t lengthMs = 0;
    GetSongInfo(InputPath().c_str(), title, &lengthMs);

    GymPlayer* player = OpenSong(InputPath().c_str());
    if (player == nullptr) return 0;

    // The first input byte picks the output rate, so every rate gets its turn.
    static const int32_t rates[] = {55555, 48000, 44100, 24000, 22050, 11025};
    settings.frequency = rates[size > 0 ? data[0] % 6 : 0];

    static int16_t block[1440 * 2];
    const int32_t frames = player->ops.sampleRate(player) * 30 / 1000;
    player->ops.start(player);
    for (int i = 0; i < kMaxBlocks && player->ops.isRunning(player); ++i) {
        player->ops.render(player, block, frames);
        if (i == kMaxBlocks / 3) player->ops.seek(player, lengthMs / 2 + 1000);
        if (i == kMaxBlocks / 2) player->ops.seek(player, 100);
    }
    player->ops.halt(player);
    player->ops.destroy(player);
    return 0;
}
