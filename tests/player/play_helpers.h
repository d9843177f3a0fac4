// Helpers for driving players the way the decode thread does: open, ask for
// the rate, start, render blocks; plus fixture files and checksums.
#pragma once

#include <algorithm>
#include <cctype>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fm/chip.h"
#include "player/engine.h"
#include "player/player.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/song.h"
#include "psg/psg.h"
#include "song_builder.h"
#include "tests/support/checksum.h"
#include "tests/support/song_files.h"

namespace play {

struct PlayerDeleter {
    void operator()(GymPlayer* player) const {
        if (player != nullptr) player->ops.destroy(player);
    }
};
using PlayerPtr = std::unique_ptr<GymPlayer, PlayerDeleter>;

// Puts both chips in the state they have right after the library loads and
// the settings loader has run: the FM chip constructed anew and initialised
// as the loader does, the PSG zeroed. A song's start powers the chips on as
// well; this also undoes what a test did to them directly.
inline void PowerOnChips() {
    fmChip.~FmChip();
    new (&fmChip) FmChip();
    PowerOnEngine();
    psgChip = PsgChip{};
}

// The settings record at its defaults and the FM chip initialised as the
// settings loader leaves them, for a player of the test's own that must
// sound as the plug-in does. (Natively the test shares the plug-in's chip;
// nothing may be playing.)
inline void ReadyAsTheLoaderLeavesIt() {
    static const bool chipReady = PowerOnEngine();
    (void)chipReady;
    ResetSettingsToDefaults();
}

inline PlayerPtr Open(const std::string& path) {
    return PlayerPtr(OpenSong(path.c_str()));
}

// Writes `bytes` to a fresh temp file called `name` and opens it.
inline PlayerPtr OpenBytes(const std::vector<uint8_t>& bytes,
                           const std::string& name = "song.gym") {
    std::string path = TempDir() + name;
    if (!WriteFileBytes(path, bytes)) return nullptr;
    return Open(path);
}

// A plain stream behind a GYMX header carrying `loopFrame`.
inline PlayerPtr OpenLooped(const std::vector<uint8_t>& stream, uint32_t loopFrame) {
    return OpenBytes(MakeGymx(stream, "", "", loopFrame, false), "looped.gym");
}

using support::Fnv1a;
using support::SharedPath;

using SessionPtr = std::unique_ptr<SongSession>;

inline SessionPtr OpenSession(const std::string& path) {
    return SongSession::Open(path.c_str());
}

// Starts the song and renders it in blocks of `blockFrames` until it ends,
// as the decode thread does; every block is kept.
inline std::vector<int16_t> PlayToEnd(SongSession& song, int32_t blockFrames) {
    std::vector<int16_t> all;
    std::vector<int16_t> block(2 * static_cast<size_t>(blockFrames));
    song.Start();
    while (song.Running()) {
        song.Render(block.data(), blockFrames);
        all.insert(all.end(), block.begin(), block.end());
    }
    return all;
}

// sampleRate then start, as the decode thread does; returns the rate.
inline int32_t Begin(GymPlayer* player) {
    int32_t rate = player->ops.sampleRate(player);
    player->ops.start(player);
    return rate;
}

inline std::vector<int16_t> Render(GymPlayer* player, int32_t frames) {
    std::vector<int16_t> out(2 * static_cast<size_t>(frames), 0x5A5A);
    player->ops.render(player, out.data(), frames);
    return out;
}

inline void Append(std::vector<int16_t>& to, const std::vector<int16_t>& more) {
    to.insert(to.end(), more.begin(), more.end());
}

// Renders in blocks of `blockFrames` until the player stops; every block is
// kept, as the decode thread writes every block. Stops after `maxBlocks`.
inline std::vector<int16_t> RenderToEnd(GymPlayer* player, int32_t blockFrames,
                                        int64_t maxBlocks = 100000) {
    std::vector<int16_t> all;
    for (int64_t b = 0; b < maxBlocks && player->ops.isRunning(player); ++b) {
        Append(all, Render(player, blockFrames));
    }
    return all;
}

// The lengths of the stretches the player renders from start to end, one per
// release of the interpreter, found by a quick pass with every level at its
// floor: each stretch is opened by a one-frame render and the rest of it is
// rendered in one call, so the loop-and-fade check falls where it would fall
// with one call per stretch. The chips are powered on before and after.
inline std::vector<int32_t> StretchLengths(const std::string& path, const char* frequency) {
    PowerOnChips();
    ResetSettingsToDefaults();
    settings.frequency = LookupChoiceValue(frequencyChoices, frequency);
    settings.volumeFm = 192;
    settings.volumeSsg = 192;
    settings.volumePcm = 192;
    std::vector<int32_t> lengths;
    PlayerPtr player = Open(path);
    if (player) {
        Begin(player.get());
        std::vector<int16_t> block;
        while (player->ops.isRunning(player.get())) {
            const int32_t pending = player->state->pendingSamples;
            const int32_t n = pending > 0 ? pending : 1;
            block.resize(2 * static_cast<size_t>(n));
            player->ops.render(player.get(), block.data(), n);
            if (pending == 0 && player->ops.isRunning(player.get()))
                lengths.push_back(player->state->pendingSamples + 1);
        }
    }
    player.reset();
    PowerOnChips();
    ResetSettingsToDefaults();
    return lengths;
}

// Renders one whole stretch per call (lengths from StretchLengths), then
// single frames until the player stops, at most `maxFrames` in all.
inline std::vector<int16_t> RenderStretches(GymPlayer* player, const std::vector<int32_t>& lengths,
                                            int64_t maxFrames) {
    std::vector<int16_t> all;
    int64_t frames = 0;
    for (int32_t n : lengths) {
        if (frames >= maxFrames || !player->ops.isRunning(player)) return all;
        Append(all, Render(player, n));
        frames += n;
    }
    while (frames < maxFrames && player->ops.isRunning(player)) {
        Append(all, Render(player, 1));
        ++frames;
    }
    return all;
}

}  // namespace play
