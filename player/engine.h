// Starting the engine, the same way in every host and tool: the chips'
// clocks, the one-time power-on, and the block every host renders.
//
// Once per process, before the first song: PowerOnEngine() (the Winamp
// shell does it while it loads its settings). Then, per song, as the
// decode thread does: OpenSong (song.h), sampleRate, start, and blocks of
// BlockFrames(rate) stereo frames until the player stops running.
#pragma once

#include <cstdint>

// The clock and rate the FM chip is powered on with, once per process. Each
// song re-clocks it (kFmSongClock), so these only decide the state the chip
// is in before the first song.
constexpr uint32_t kFmPowerOnClock = 7670442;  // Hz
constexpr uint32_t kFmPowerOnRate = 44100;     // Hz

// The clocks every song runs the chips at, Hz. With kFmSongClock the FM
// synthesis runs at kFmSongClock / 72 = 53,266 Hz.
constexpr uint32_t kFmSongClock = 3835221;
constexpr int32_t kPsgSongClock = 3579530;

// The block a host renders between two looks at its requests: 30 ms of
// stereo frames at the output rate, 1440 at 48000 Hz, the highest rate.
constexpr int32_t kBlockMs = 30;
constexpr int32_t kMaxBlockFrames = 1440;

// The longest stretch a tool or page renders in one call when asked to:
// 10 s at 44100 Hz.
constexpr int32_t kMaxCallFrames = 441000;

constexpr int32_t BlockFrames(int32_t rate) {
    return rate * kBlockMs / 1000;
}

// Powers the FM chip on: its PCM queue, the power-on state, every gain at
// 0 dB. False only when the queue cannot be allocated; every host has
// always played on regardless (the chip then refuses PCM samples).
bool PowerOnEngine();
