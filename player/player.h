// The per-song player: one heap record created by OpenSong (song.h), driven
// only through its table of operations and freed by its own destroy.
//
// Operations, in slot order (each takes the player first):
//   start          powers both chips on afresh and resets the playback state
//                  for a pass from the beginning, so that every start (a
//                  later song, a seek back) sounds like the first after
//                  loading; needs a prior sampleRate
//   render         with a buffer: fills exactly `count` 16-bit stereo frames
//                  (left, right); without one: fast-forwards until the
//                  position reaches `count` ms
//   sampleRate     copies the Frequency setting and returns the output rate
//   halt           stops the song: no read position, not running
//   destroy        frees the image and the player
//   seek           moves to `ms` by fast-forward (restarting if it lies
//                  behind the current position)
//   positionMs     frame markers interpreted, in ms (frames * 100 / 6)
//   threadPriority the Priority setting, 1 (lowest) ... 5 (highest)
//   loopsDone      jumps back to the loop point since start
//   isRunning      1 from start until the song ends or halts
#pragma once

#include <cstdint>

struct GymPlayer;

struct PlayerOps {
    void (*start)(GymPlayer* player);
    void (*render)(GymPlayer* player, int16_t* buffer, int32_t count);
    int32_t (*sampleRate)(GymPlayer* player);
    void (*halt)(GymPlayer* player);
    void (*destroy)(GymPlayer* player);
    void (*seek)(GymPlayer* player, int32_t ms);
    int32_t (*positionMs)(GymPlayer* player);
    int32_t (*threadPriority)(GymPlayer* player);
    int32_t (*loopsDone)(GymPlayer* player);
    int32_t (*isRunning)(GymPlayer* player);
};

constexpr int kTitleSize = 260;  // title and path buffers, terminator included

struct GymPlayer {
    PlayerOps ops;     // this player's operations, copied from GymPlayerOps
    GymPlayer* state;  // the record holding the fields below: the player itself

    // Looping and fading
    int32_t loopCounter;    // jumps back to the loop point since start
    int32_t loopLimit;      // LoopCount setting copied at start; 0 = loop for ever
    int32_t frequencyCode;  // Frequency setting copied by sampleRate (Hz, or 55555)
    int32_t fadeAcc;        // fade accumulator, 2^20 per half-decibel; 0 = not fading
    int32_t fadeMs;         // FadeoutTime setting copied at start, ms
    int32_t fadeAtten;      // fadeAcc >> 20, half-decibels taken off every gain
    int32_t appliedFm;      // volume settings last handed to the chip, half-decibels;
    int32_t appliedSsg;     //   -9999 after start so that the first render applies them
    int32_t appliedPcm;

    // The song
    char title[kTitleSize];  // NUL-terminated; empty when nothing gave a title
    uint8_t* image;          // owned command stream, always ended by 0xFF
    const uint8_t* readPos;  // next command; null when not started or halted
    const uint8_t* loopPos;  // byte after marker number loopFrame; null until seen
    uint32_t loopFrame;      // frame marker the song loops back to; 0 = no loop

    // Frame timing
    int32_t frameCount;       // frame markers interpreted since start
    int32_t samplesPerFrame;  // outputRate / 60
    int32_t sampleRemainder;  // outputRate % 60, sixtieths of a sample per frame
    int32_t pendingSamples;   // samples to render before the next command; -1 = ended
    int32_t remainderAcc;     // accumulated sampleRemainder, sixtieths of a sample
    int32_t heldSamples;      // samples of the frame held back until its release
    int32_t outputRate;       // Hz
    int32_t fadeStep;         // added to fadeAcc at each frame marker while fading
    int32_t running;          // 1 from start until the song ends or halts
};

// The one operations record every player carries a copy of.
extern const PlayerOps GymPlayerOps;
