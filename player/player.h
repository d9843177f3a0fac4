// The per-song player of one format: a heap record made by its format's
// loader (formats.h), driven only through its table of operations and freed
// by its own destroy. Every format's player starts with SongPlayer; the GYM
// player (GymPlayer, below) is the first of them. Hosts drive players
// through a song session (session.h), not directly.
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
//   destroy        frees the song and the player
//   seek           moves to `ms` by fast-forward (restarting if it lies
//                  behind the current position)
//   positionMs     song time interpreted since start, in ms
//   threadPriority the Priority setting, 1 (lowest) ... 5 (highest)
//   loopsDone      jumps back to the loop point since start
//   isRunning      1 from start until the song ends or halts
//   describe       what the loader found: title, one pass's length, the
//                  form it was read in, the loop point, and the length that
//                  plays with the copied settings
#pragma once

#include <cstdint>

#include "player/tags.h"

struct SongPlayer;

constexpr int kTitleSize = 260;  // title and path buffers, terminator included

// What a format's loader found in a song, for hosts to show.
struct SongFacts {
    const char* title;    // the song's own title, NUL-terminated; empty when it has none
    int32_t lengthMs;     // one pass through the song, loops and fade not counted
    const char* form;     // how the file was read, as the tool shows it ("GYMX zlib")
    uint32_t loop;        // where the song loops back to, in 60 Hz frames of song time
                          //   (GYM: the frame marker's number); 0 = it does not loop
    int32_t playMs;       // what plays with the settings copied at load: up to the end, the
                          //   jumps back the loop count asks and the fade; one pass for a
                          //   song that does not loop or loops for ever (see PlayedMs)
    uint32_t fmClockHz;   // the clock the song feeds the FM chip, Hz; 0 = it has no FM chip
    uint32_t psgClockHz;  // the same for the PSG
};

struct PlayerOps {
    void (*start)(SongPlayer* player);
    void (*render)(SongPlayer* player, int16_t* buffer, int32_t count);
    int32_t (*sampleRate)(SongPlayer* player);
    void (*halt)(SongPlayer* player);
    void (*destroy)(SongPlayer* player);
    void (*seek)(SongPlayer* player, int32_t ms);
    int32_t (*positionMs)(SongPlayer* player);
    int32_t (*threadPriority)(SongPlayer* player);
    int32_t (*loopsDone)(SongPlayer* player);
    int32_t (*isRunning)(SongPlayer* player);
    void (*describe)(SongPlayer* player, SongFacts* facts);
};

// The part every format's player shares.
struct SongPlayer {
    PlayerOps ops;  // this player's operations, copied from its format's record

    // Copied from the settings when the song is loaded: every start of this
    // song, a seek back included, plays with them; new settings apply from
    // the next song.
    int32_t loopLimit;      // LoopCount; 0 = loop for ever
    int32_t fadeMs;         // FadeoutTime, ms; a negative setting (an edited file) counts as 0
    int32_t boostHalfDb;    // the song's own gain on every part, half-decibels; 0 for GYM
    int32_t frequencyCode;  // Frequency setting copied by sampleRate (Hz, or 55555)
    int32_t outputRate;     // Hz, from frequencyCode

    // Looping and fading
    int32_t loopCounter;  // jumps back to the loop point since start
    int32_t fadeAcc;      // fade accumulator, 2^20 per half-decibel; 0 = not fading
    int32_t fadeStep;     // added to fadeAcc at each step (1/60 s of song) while fading
    int32_t fadeAtten;    // fadeAcc >> 20, half-decibels taken off every gain
    int32_t appliedFm;    // volume settings last handed to the chip, half-decibels;
    int32_t appliedSsg;   //   -9999 after start so that the first render applies them
    int32_t appliedPcm;

    SongTags tags;  // filled by the loader
};

// Copies LoopCount and FadeoutTime into a player its loader has just made.
void TakePlaySettings(SongPlayer* player);

// The form a GYM song was read in.
enum class SongForm {
    plain,     // a bare command stream
    gymx,      // GYMX header, stored body
    gymxZlib,  // GYMX header, zlib body
    archive,   // the log entry of a ZIP archive (in any of the forms above)
};

struct GymPlayer : SongPlayer {
    GymPlayer* state;  // the record holding the fields below: the player itself

    // The song
    char title[kTitleSize];  // NUL-terminated; empty when nothing gave a title
    uint8_t* image;          // owned command stream, always ended by 0xFF
    const uint8_t* readPos;  // next command; null when not started or halted
    const uint8_t* loopPos;  // byte after marker number loopFrame; null until seen
    uint32_t loopFrame;      // frame marker the song loops back to; 0 = no loop
    SongForm form;           // how the file was read

    // Frame timing
    int32_t frameCount;       // frame markers interpreted since start
    int32_t samplesPerFrame;  // outputRate / 60
    int32_t sampleRemainder;  // outputRate % 60, sixtieths of a sample per frame
    int32_t pendingSamples;   // samples to render before the next command; -1 = ended
    int32_t remainderAcc;     // accumulated sampleRemainder, sixtieths of a sample
    int32_t heldSamples;      // samples of the frame held back until its release
    int32_t running;          // 1 from start until the song ends or halts
};

// The one operations record every player carries a copy of.
extern const PlayerOps GymPlayerOps;
