// The GYM player's operations: the command interpreter, frame timing, the
// loop and seeking; the levels, the fade and the mix are mixdown.cpp's.
//
// Command stream, one command at readPos:
//   00        frame marker
//   01 rr dd  FM port 0 register rr <- dd
//   02 rr dd  FM port 1 register rr <- dd
//   03 dd     PSG data port <- dd
//   04-FF     end of stream (left unconsumed)
// Operand reads stay inside the image: the loader cuts off a command whose
// operands would run past the data and ends every image with 0xFF, so a
// command byte of 1-3 is always followed by its operands.
//
// Frame timing: a frame marker releases the frame held before it and holds
// its own, so samples come out one release late; a register 0x27 write with a
// timer-reset bit releases the held frame early, and the end of the stream
// releases the last one. Each frame lasts outputRate / 60 samples plus one
// whenever the sixtieths left over add up past 60.
#include "player/player.h"

#include <cstring>

#include "fm/chip.h"
#include "fm/registers.h"
#include "fm/wrap.h"
#include "player/engine.h"
#include "player/mixdown.h"
#include "player/settings.h"
#include "player/song.h"
#include "psg/psg.h"

namespace {

constexpr int32_t kFrameRate = kStepsPerSecond;  // frames per second of song
constexpr int32_t kEnded = -1;                   // pendingSamples once the song ended

// Frames x 100 / 6: song time in ms, in 32 bits.
int32_t FramesToMs(int32_t frames) {
    return WrapMul(frames, 100) / 6;
}

// Whether `frames` frame markers cover `ms` milliseconds.
bool Reached(int32_t frames, int32_t ms) {
    return WrapMul(frames, 100) >= WrapMul(ms, 6);
}

// Whether a frame marker comes before the end of the stream from `pos` on.
// The scan steps command by command and stops at the image's final 0xFF.
bool MarkerFollows(const uint8_t* pos) {
    for (;;) {
        if (*pos == kCommandFrame) return true;
        uint32_t length = CommandLength(*pos);
        if (length == 0) return false;
        pos += length;
    }
}

void ReleaseHeld(GymPlayer& p) {
    p.pendingSamples = p.heldSamples;
    p.heldSamples = 0;
}

void FrameMarker(GymPlayer& p) {
    p.pendingSamples = p.heldSamples;
    p.heldSamples = p.samplesPerFrame;
    p.remainderAcc += p.sampleRemainder;
    p.frameCount = WrapAdd(p.frameCount, 1);
    p.readPos += 1;

    // A loop point with no frame marker after it would send the end of the
    // stream back there without ever releasing a frame; such a loop point is
    // ignored and the song ends normally.
    if (p.loopFrame != 0 && p.loopPos == nullptr &&
        static_cast<uint32_t>(p.frameCount) == p.loopFrame && MarkerFollows(p.readPos)) {
        p.loopPos = p.readPos;
    }

    if (StepFade(p)) p.pendingSamples = kEnded;  // the frame just released is not played
}

// The byte stays where it is: after a release it is read again.
void EndOfStream(GymPlayer& p) {
    if (p.heldSamples != 0) {
        ReleaseHeld(p);
    } else if (p.loopFrame != 0 && p.loopPos != nullptr) {
        p.readPos = p.loopPos;
        p.loopCounter = WrapAdd(p.loopCounter, 1);
    } else {
        p.pendingSamples = kEnded;
    }
}

void InterpretCommand(GymPlayer& p) {
    const uint8_t* pos = p.readPos;
    switch (pos[0]) {
        case kCommandFrame:
            FrameMarker(p);
            break;
        case kCommandFmPort0:  // 01 rr dd
            // Either timer flag reset releases the held frame.
            if (pos[1] == fm_reg::kModeControl &&
                (fm_reg::ClearsTimerAFlag(pos[2]) || fm_reg::ClearsTimerBFlag(pos[2])))
                ReleaseHeld(p);
            fmChip.WriteRegister(pos[1], pos[2]);
            p.readPos += 3;
            break;
        case kCommandFmPort1:  // 02 rr dd
            fmChip.WriteRegister(fm_reg::kPort1 + pos[1], pos[2]);
            p.readPos += 3;
            break;
        case kCommandPsg:  // 03 dd
            PsgWrite(pos[1]);
            p.readPos += 2;
            break;
        default:
            EndOfStream(p);
            break;
    }
}

GymPlayer& Gym(SongPlayer* player) {
    return *static_cast<GymPlayer*>(player)->state;
}

void Halt(SongPlayer* player) {
    GymPlayer& p = Gym(player);
    p.loopCounter = 0;
    p.frameCount = 0;
    p.pendingSamples = 0;
    p.remainderAcc = 0;
    p.readPos = nullptr;
    p.running = 0;
}

void Start(SongPlayer* player) {
    GymPlayer& p = Gym(player);
    ResetLevelsAndFade(p);
    p.frameCount = p.pendingSamples = p.remainderAcc = p.heldSamples = 0;
    p.samplesPerFrame = p.outputRate / kFrameRate;
    p.sampleRemainder = p.outputRate % kFrameRate;
    p.readPos = p.image;
    p.running = 1;
    PowerOnChips(kFmSongClock, kPsgSongClock, p.outputRate, p.frequencyCode);
    p.loopPos = nullptr;
}

// With a buffer: fills exactly `count` stereo frames. Without one: drops
// frames until the position reaches `count` ms.
void Render(SongPlayer* player, int16_t* buffer, int32_t count) {
    GymPlayer& p = Gym(player);
    if (buffer != nullptr && count < 0) count = 0;
    if (p.readPos == nullptr) {
        if (buffer != nullptr) std::memset(buffer, 0, 4 * static_cast<size_t>(count));
        return;
    }

    if (buffer != nullptr) ApplyChangedLevels(p);

    for (;;) {
        if (buffer != nullptr && count == 0) break;
        // Each release of the interpreter opens a stretch, which the calls
        // that follow may render in parts.
        const bool opensStretch = p.pendingSamples == 0;
        while (p.pendingSamples == 0)
            InterpretCommand(p);
        if (p.pendingSamples == kEnded) {
            if (buffer != nullptr) std::memset(buffer, 0, 4 * static_cast<size_t>(count));
            Halt(player);
            return;
        }
        while (p.remainderAcc > kFrameRate) {
            p.remainderAcc -= kFrameRate;
            p.pendingSamples += 1;
        }
        if (buffer == nullptr) {
            p.pendingSamples = 0;
            // A seek past the last jump back lands in the fade, or past the end.
            if (ReachedLoopLimit(p)) {
                Halt(player);
                return;
            }
            if (Reached(p.frameCount, count)) break;
            continue;
        }
        // The chip spreads the stretch's PCM bytes over all of it, so a
        // stretch sounds the same however the calls split it.
        if (opensStretch) fmChip.BeginPcmStretch(static_cast<uint32_t>(p.pendingSamples));
        int32_t n = p.pendingSamples < count ? p.pendingSamples : count;
        if (n > kMaxMixFrames) n = kMaxMixFrames;
        p.pendingSamples -= n;
        count -= n;
        MixChunk(buffer, n);
        buffer += 2 * n;
    }

    // The loop limit is looked at once per call: the fade starts (or, without
    // a fade, the song stops) at the end of the call that reached it.
    if (ReachedLoopLimit(p)) Halt(player);
}

// Seeking replays the writes without mixing; the PCM bytes they queued are
// dropped rather than played in a burst.
void Seek(SongPlayer* player, int32_t ms) {
    GymPlayer& p = Gym(player);
    if (WrapMul(p.frameCount, 100) > WrapMul(ms, 6)) Start(player);
    Render(player, nullptr, ms);
    fmChip.DiscardPcmQueue();
}

int32_t PositionMs(SongPlayer* player) {
    return FramesToMs(Gym(player).frameCount);
}

int32_t LoopsDone(SongPlayer* player) {
    return Gym(player).loopCounter;
}

int32_t IsRunning(SongPlayer* player) {
    return Gym(player).running;
}

const char* FormName(SongForm form) {
    switch (form) {
        case SongForm::plain:
            return "plain";
        case SongForm::gymx:
            return "GYMX";
        case SongForm::gymxZlib:
            return "GYMX zlib";
        case SongForm::archive:
            return "archive";
    }
    return "?";
}

void Describe(SongPlayer* player, SongFacts* facts) {
    GymPlayer& p = Gym(player);
    facts->title = p.title;
    const uint32_t frames = SongFrames(&p);
    facts->lengthMs = static_cast<int32_t>(frames * 100u) / 6;
    facts->form = FormName(p.form);
    facts->loop = p.loopFrame;
    // A loop point with no frame marker after it is ignored.
    const uint32_t looped = p.loopFrame != 0 && p.loopFrame < frames ? frames - p.loopFrame : 0;
    facts->playMs = PlayedMs(p, frames, looped, kFrameRate, BlockFrames(p.outputRate));
    facts->fmClockHz = 2 * kFmSongClock;  // the engine runs at half the chip's clock
    facts->psgClockHz = static_cast<uint32_t>(kPsgSongClock);
}

void Destroy(SongPlayer* player) {
    DestroyPlayer(static_cast<GymPlayer*>(player));
}

}  // namespace

void TakePlaySettings(SongPlayer* player) {
    player->loopLimit = settings.loopCount;
    const int32_t fadeoutTime = settings.fadeoutTime;
    player->fadeMs = fadeoutTime < 0 ? 0 : fadeoutTime;
}

const PlayerOps GymPlayerOps = {
    Start,            // start
    Render,           // render
    TakeFrequency,    // sampleRate
    Halt,             // halt
    Destroy,          // destroy
    Seek,             // seek
    PositionMs,       // positionMs
    PrioritySetting,  // threadPriority
    LoopsDone,        // loopsDone
    IsRunning,        // isRunning
    Describe,         // describe
};
