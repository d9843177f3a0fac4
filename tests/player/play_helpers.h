// Helpers for driving players the way the decode thread does: open, ask for
// the rate, start, render blocks; plus fixture files and checksums.
#pragma once

#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "fm/chip.h"
#include "player/player.h"
#include "player/settings.h"
#include "player/song.h"
#include "psg/psg.h"
#include "song_builder.h"

namespace play {

struct PlayerDeleter {
    void operator()(GymPlayer* player) const {
        if (player != nullptr) player->ops.destroy(player);
    }
};
using PlayerPtr = std::unique_ptr<GymPlayer, PlayerDeleter>;

// Puts both chips in the state they have right after the library loads and
// the settings loader has run: the FM chip constructed anew and initialised
// as the loader does, the PSG zeroed. Some state (the FM resampler, operator
// key flags, the noise feedback) deliberately carries over from one song to
// the next; renders that must match a fresh process start from here.
inline void PowerOnChips() {
    fmChip.~FmChip();
    new (&fmChip) FmChip();
    fmChip.Initialize(7670442, 44100, true);
    psgChip = PsgChip{};
}

inline PlayerPtr Open(const std::string& path) { return PlayerPtr(OpenSong(path.c_str())); }

// Writes `bytes` to a fresh temp file called `name` and opens it.
inline PlayerPtr OpenBytes(const std::vector<uint8_t>& bytes, const std::string& name = "song.gym") {
    std::string path = TempDir() + name;
    if (!WriteFileBytes(path, bytes)) return nullptr;
    return Open(path);
}

// A plain stream behind a GYMX header carrying `loopFrame`.
inline PlayerPtr OpenLooped(const std::vector<uint8_t>& stream, uint32_t loopFrame) {
    return OpenBytes(MakeGymx(stream, "", "", loopFrame, false), "looped.gym");
}

inline std::string SharedPath(const std::string& relative) {
    return std::string(TAMBORIL_SHARED_DIR) + "/" + relative;
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
inline std::vector<int16_t> RenderToEnd(GymPlayer* player, int32_t blockFrames, int64_t maxBlocks = 100000) {
    std::vector<int16_t> all;
    for (int64_t b = 0; b < maxBlocks && player->ops.isRunning(player); ++b) {
        Append(all, Render(player, blockFrames));
    }
    return all;
}

// FNV-1a 64 over the samples as little-endian 16-bit values, left then right.
inline uint64_t Fnv1a(const std::vector<int16_t>& samples) {
    uint64_t hash = 0xCBF29CE484222325ull;
    for (int16_t s : samples) {
        uint16_t v = static_cast<uint16_t>(s);
        hash = (hash ^ (v & 0xFF)) * 0x100000001B3ull;
        hash = (hash ^ (v >> 8)) * 0x100000001B3ull;
    }
    return hash;
}

}  // namespace play
