// Fuzz target: the player. Arbitrary bytes are loaded as a song (as in the
// loader target, an info file may come with it), then played for a short,
// bounded stretch: a few small blocks from the start, a seek to the middle, a
// seek to just before the end so that the loop jump and the fade-out run, and
// a seek back. Any read past a buffer, undefined arithmetic or a render that
// never returns is a finding.
#include <cstdio>

#include "fuzz/fuzz_files.h"
#include "player/engine.h"
#include "player/settings.h"
#include "player/song.h"

namespace {

constexpr int32_t kBlockFrames = 256;  // about 6 ms at 44100 Hz
constexpr int kBlocksPerStretch = 3;

int16_t block[kBlockFrames * 2];

void PlayStretch(GymPlayer* player) {
    for (int i = 0; i < kBlocksPerStretch && player->ops.isRunning(player); ++i) {
        player->ops.render(player, block, kBlockFrames);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PowerOnEngine();
    ResetSettingsToDefaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzfiles::SongParts parts = fuzzfiles::SplitSong(data, size);
    const std::string song = fuzzfiles::Scratch() + "song.gym";
    const std::string info = fuzzfiles::Scratch() + "song.GYI";
    if (!fuzzfiles::WriteBytes(song, parts.song, parts.songSize)) return 0;
    if (parts.info != nullptr) {
        if (!fuzzfiles::WriteBytes(info, parts.info, parts.infoSize)) return 0;
    } else {
        std::remove(info.c_str());
    }

    GymPlayer* player = OpenSong(song.c_str());
    if (player == nullptr) return 0;
    const int32_t lengthMs = SongLengthMs(player);

    // The last byte picks the output rate, the loop count and a fade short
    // enough to end within the stretch, so every setting gets its turn.
    static const int32_t rates[] = {55555, 48000, 44100, 24000, 22050, 11025};
    const uint8_t knobs = size > 0 ? data[size - 1] : 0;
    settings.frequency = rates[knobs % 6];
    settings.loopCount = (knobs >> 3) & 3;
    settings.fadeoutTime = (knobs >> 5) * 4 - 4;  // -4 (none) ... 24 ms

    // As the shell does: the rate is taken (and fixed) before the start.
    player->ops.sampleRate(player);
    player->ops.start(player);
    PlayStretch(player);
    player->ops.seek(player, lengthMs / 2);
    PlayStretch(player);
    player->ops.seek(player, lengthMs - 5);
    PlayStretch(player);
    PlayStretch(player);
    player->ops.seek(player, 17);
    PlayStretch(player);
    player->ops.halt(player);
    player->ops.destroy(player);
    return 0;
}
