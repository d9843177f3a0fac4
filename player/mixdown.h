// What every format's player does the same way: powering the chips on for a
// start, the three levels with the fade taken off them, the fade's steps,
// the loop limit, and the final mix of FM and PSG into 16-bit stereo. The
// chips and the scratch the mix uses are process-wide; all of this runs on
// the one thread that plays.
#pragma once

#include <cstdint>

#include "player/player.h"

// Frames the mix takes in one call at the most (the PSG renders at most
// 32,767 samples at a time).
constexpr int32_t kMaxMixFrames = 16384;

// Song time of one fade step and of one GYM frame: 1/60 s.
constexpr int32_t kStepsPerSecond = 60;

// Powers both chips on afresh for a start at `outputRate` from the Frequency
// code that chose it: clocks, rates, the power-on state, every channel mixed.
// `fmClock` is the FM engine's (half the chip's input clock).
void PowerOnChips(uint32_t fmClock, int32_t psgClock, int32_t outputRate, int32_t frequencyCode);

// The sampleRate operation of every player: copies the Frequency setting and
// returns the output rate it gives (44100 for "55467:FM").
int32_t TakeFrequency(SongPlayer* player);

// The threadPriority operation of every player: the Priority setting.
int32_t PrioritySetting(SongPlayer* player);

// Puts the loop count, the fade and the applied levels as a start leaves
// them: no jumps, no fade, every level still to be handed to the chip.
void ResetLevelsAndFade(SongPlayer& player);

// Hands the chip every level whose setting changed since it was applied.
void ApplyChangedLevels(SongPlayer& player);

// One step of a running fade (nothing when none runs): true when the fade
// had already come to its end, and the song ends here.
bool StepFade(SongPlayer& player);

// At the end of a render call: when the loop limit is reached and no fade
// runs yet, starts the fade, or, without a fade time, says the song halts.
bool ReachedLoopLimit(SongPlayer& player);

// How long a song plays, in ms, with the loop count and fade `p` copied,
// when a host renders it at its output rate in blocks of `blockFrames`
// frames: up to the end, `p.loopLimit` jumps back to the loop point, then,
// from the end of the block the last jump fell in, the fade (or nothing,
// without a fade time). Song time counts `tickRate` ticks a second; a pass
// lasts `passTicks` and a jump back plays `loopTicks` again. A song that does
// not loop (`loopTicks` 0) or loops for ever plays one pass. At most
// INT32_MAX.
int32_t PlayedMs(const SongPlayer& p, int64_t passTicks, int64_t loopTicks, int64_t tickRate,
                 int32_t blockFrames);

// Mixes `n` frames of both chips (n at most kMaxMixFrames, and at most one
// stretch: the chips change only between calls) into `out`, 16-bit stereo.
void MixChunk(int16_t* out, int32_t n);
