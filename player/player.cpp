// The player's operations: the command interpreter, frame timing, looping,
// the fade-out, seeking and the final mix of FM and PSG into 16-bit stereo.
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
#include "player/settings.h"
#include "player/song.h"
#include "psg/psg.h"

namespace {

// Written to the channel control register at every start: channels 3-5
// mixed, every interrupt enabled.
constexpr uint8_t kChannelsAllOn = 0x9F;

constexpr int32_t kFrameRate = 60;         // frames per second of song
constexpr int32_t kFmCodeRate = 44100;     // output rate of the "55467:FM" choice
constexpr int32_t kNoGainApplied = -9999;  // no setting has this value
constexpr int32_t kFadeEnd = 0x4000000;    // 64 half-decibels, 2^20 each
constexpr int32_t kFadeAttenShift = 20;    // fadeAcc -> half-decibels
// kFadeEnd x 100 / 6, truncated: a frame lasts 100/6 ms, so this divided by
// the fade time in ms is the step per frame that reaches kFadeEnd in that time.
constexpr int32_t kFadeSpan = 1118481066;
constexpr int32_t kPsgGainShift = 12;  // PsgGainFactor is 4095 at 0 dB
constexpr int32_t kEnded = -1;         // pendingSamples once the song ended

// Static scratch shared by every player; only the decode thread mixes. A
// chunk never holds more than one frame's samples plus two.
constexpr int32_t kFmScratchFrames = 192000;
constexpr int32_t kPsgScratchSamples = 96000;
int32_t fmScratch[2 * kFmScratchFrames];  // stereo frames, left then right
int16_t psgScratch[kPsgScratchSamples];   // mono PSG samples

// The three levels: the user's attenuation, what the player last handed the
// chip, and the chip's setter. Applied in this order: FM, SSG, PCM.
struct GainRoute {
    SettingWord PluginSettings::*setting;
    int32_t GymPlayer::*applied;
    void (FmChip::*setter)(int32_t halfDb);
};

constexpr GainRoute gainRouteTable[] = {
    {&PluginSettings::volumeFm, &GymPlayer::appliedFm, &FmChip::SetFmGain},
    {&PluginSettings::volumeSsg, &GymPlayer::appliedSsg, &FmChip::SetPsgGain},
    {&PluginSettings::volumePcm, &GymPlayer::appliedPcm, &FmChip::SetPcmGain},
};

// Frames x 100 / 6: song time in ms, in 32 bits.
int32_t FramesToMs(int32_t frames) {
    return WrapMul(frames, 100) / 6;
}

// Whether `frames` frame markers cover `ms` milliseconds.
bool Reached(int32_t frames, int32_t ms) {
    return WrapMul(frames, 100) >= WrapMul(ms, 6);
}

// The chip's gain for a level: minus (user attenuation + fade attenuation).
int32_t GainFor(int32_t setting, int32_t fadeAtten) {
    return static_cast<int32_t>(0u - static_cast<uint32_t>(WrapAdd(setting, fadeAtten)));
}

int16_t Clamp16(int32_t value) {
    if (value > 32767) return 32767;
    if (value < -32768) return -32768;
    return static_cast<int16_t>(value);
}

void SetGain(GymPlayer& p, const GainRoute& route, int32_t setting) {
    p.*(route.applied) = setting;
    (fmChip.*(route.setter))(GainFor(setting, p.fadeAtten));
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

    if (p.fadeAcc != 0) {
        if (p.fadeAcc > kFadeEnd) {
            p.pendingSamples = kEnded;  // the frame just released is not played
            return;
        }
        p.fadeAcc += p.fadeStep;
        p.fadeAtten = p.fadeAcc >> kFadeAttenShift;
        for (const GainRoute& route : gainRouteTable)
            SetGain(p, route, settings.*(route.setting));
    }
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

// Renders n frames of both chips into `out` (16-bit stereo), n at most one
// frame's samples plus two.
void MixChunk(int16_t* out, int32_t n) {
    std::memset(fmScratch, 0, sizeof(int32_t) * 2 * static_cast<size_t>(n));
    PsgMix(psgScratch, n);
    fmChip.MixInto(fmScratch, static_cast<uint32_t>(n));
    const int32_t factor = fmChip.PsgGainFactor();
    for (int32_t i = 0; i < n; ++i) {
        int32_t psg = WrapMul(psgScratch[i], factor) >> kPsgGainShift;
        out[2 * i] = Clamp16(WrapAdd(fmScratch[2 * i], psg));
        out[2 * i + 1] = Clamp16(WrapAdd(fmScratch[2 * i + 1], psg));
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
    p.appliedFm = p.appliedSsg = p.appliedPcm = kNoGainApplied;
    p.loopCounter = 0;
    p.fadeAcc = 0;
    fmChip.SetClockAndRate(kFmSongClock, static_cast<uint32_t>(p.outputRate),
                           p.frequencyCode > kFmCodeRate);
    PsgInit(kPsgSongClock, p.outputRate);
    p.fadeAtten = 0;
    p.frameCount = p.pendingSamples = p.remainderAcc = p.heldSamples = 0;
    p.samplesPerFrame = p.outputRate / kFrameRate;
    p.sampleRemainder = p.outputRate % kFrameRate;
    p.readPos = p.image;
    p.running = 1;
    fmChip.ResetChip();
    fmChip.WriteRegister(fm_reg::kChannelControl, kChannelsAllOn);
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

    if (buffer != nullptr) {
        for (const GainRoute& route : gainRouteTable) {
            int32_t setting = settings.*(route.setting);
            if (setting != p.*(route.applied)) SetGain(p, route, setting);
        }
    }

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
            if (Reached(p.frameCount, count)) break;
            continue;
        }
        // The chip spreads the stretch's PCM bytes over all of it, so a
        // stretch sounds the same however the calls split it.
        if (opensStretch) fmChip.BeginPcmStretch(static_cast<uint32_t>(p.pendingSamples));
        int32_t n = p.pendingSamples < count ? p.pendingSamples : count;
        p.pendingSamples -= n;
        count -= n;
        MixChunk(buffer, n);
        buffer += 2 * n;
    }

    // The loop limit is looked at once per call: the fade starts (or, without
    // a fade, the song stops) at the end of the call that reached it.
    if (p.loopLimit != 0 && p.fadeAcc == 0 && p.loopCounter >= p.loopLimit) {
        if (p.fadeMs != 0) {
            p.fadeAcc = 1;
            p.fadeStep = kFadeSpan / p.fadeMs;
        } else {
            Halt(player);
        }
    }
}

int32_t SampleRate(SongPlayer* player) {
    GymPlayer& p = Gym(player);
    p.frequencyCode = settings.frequency;
    p.outputRate = p.frequencyCode == kFrequencyFmCode ? kFmCodeRate : p.frequencyCode;
    return p.outputRate;
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

int32_t ThreadPriority(SongPlayer*) {
    return settings.priority;
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
    facts->lengthMs = SongLengthMs(&p);
    facts->form = FormName(p.form);
    facts->loop = p.loopFrame;
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
    Start,           // start
    Render,          // render
    SampleRate,      // sampleRate
    Halt,            // halt
    Destroy,         // destroy
    Seek,            // seek
    PositionMs,      // positionMs
    ThreadPriority,  // threadPriority
    LoopsDone,       // loopsDone
    IsRunning,       // isRunning
    Describe,        // describe
};
