#include "player/mixdown.h"

#include <cstring>

#include "fm/chip.h"
#include "fm/registers.h"
#include "fm/wrap.h"
#include "player/settings.h"
#include "psg/psg.h"

namespace {

// Written to the channel control register at every start: channels 3-5
// mixed, every interrupt enabled.
constexpr uint8_t kChannelsAllOn = 0x9F;

constexpr int32_t kFmCodeRate = 44100;     // output rate of the "55467:FM" choice
constexpr int32_t kNoGainApplied = -9999;  // no setting has this value
constexpr int32_t kFadeEnd = 0x4000000;    // 64 half-decibels, 2^20 each
constexpr int32_t kFadeAttenShift = 20;    // fadeAcc -> half-decibels
// kFadeEnd x 100 / 6, truncated: a step lasts 100/6 ms, so this divided by
// the fade time in ms is the step that reaches kFadeEnd in that time.
constexpr int32_t kFadeSpan = 1118481066;
constexpr int32_t kPsgGainShift = 12;  // PsgGainFactor is 4095 at 0 dB

// Static scratch shared by every player; only the playing thread mixes.
int32_t fmScratch[2 * kMaxMixFrames];  // stereo frames, left then right
int16_t psgScratch[kMaxMixFrames];     // mono PSG samples

// The three levels: the user's attenuation, what the player last handed the
// chip, and the chip's setter. Applied in this order: FM, SSG, PCM.
struct GainRoute {
    SettingWord PluginSettings::*setting;
    int32_t SongPlayer::*applied;
    void (FmChip::*setter)(int32_t halfDb);
};

constexpr GainRoute gainRouteTable[] = {
    {&PluginSettings::volumeFm, &SongPlayer::appliedFm, &FmChip::SetFmGain},
    {&PluginSettings::volumeSsg, &SongPlayer::appliedSsg, &FmChip::SetPsgGain},
    {&PluginSettings::volumePcm, &SongPlayer::appliedPcm, &FmChip::SetPcmGain},
};

// The chip's gain for a level: the song's own gain less the user's and the
// fade's attenuation.
int32_t GainFor(const SongPlayer& p, int32_t setting) {
    return WrapAdd(p.boostHalfDb,
                   static_cast<int32_t>(0u - static_cast<uint32_t>(WrapAdd(setting, p.fadeAtten))));
}

int16_t Clamp16(int32_t value) {
    if (value > 32767) return 32767;
    if (value < -32768) return -32768;
    return static_cast<int16_t>(value);
}

void SetGain(SongPlayer& p, const GainRoute& route, int32_t setting) {
    p.*(route.applied) = setting;
    (fmChip.*(route.setter))(GainFor(p, setting));
}

}  // namespace

void PowerOnChips(uint32_t fmClock, int32_t psgClock, int32_t outputRate, int32_t frequencyCode) {
    fmChip.SetClockAndRate(fmClock, static_cast<uint32_t>(outputRate), frequencyCode > kFmCodeRate);
    PsgInit(psgClock, outputRate);
    fmChip.ResetChip();
    fmChip.WriteRegister(fm_reg::kChannelControl, kChannelsAllOn);
}

int32_t TakeFrequency(SongPlayer* p) {
    p->frequencyCode = settings.frequency;
    p->outputRate = p->frequencyCode == kFrequencyFmCode ? kFmCodeRate : p->frequencyCode;
    return p->outputRate;
}

int32_t PrioritySetting(SongPlayer*) {
    return settings.priority;
}

void ResetLevelsAndFade(SongPlayer& p) {
    p.appliedFm = p.appliedSsg = p.appliedPcm = kNoGainApplied;
    p.loopCounter = 0;
    p.fadeAcc = 0;
    p.fadeAtten = 0;
}

void ApplyChangedLevels(SongPlayer& p) {
    for (const GainRoute& route : gainRouteTable) {
        const int32_t setting = settings.*(route.setting);
        if (setting != p.*(route.applied)) SetGain(p, route, setting);
    }
}

bool StepFade(SongPlayer& p) {
    if (p.fadeAcc == 0) return false;
    if (p.fadeAcc > kFadeEnd) return true;
    p.fadeAcc += p.fadeStep;
    p.fadeAtten = p.fadeAcc >> kFadeAttenShift;
    for (const GainRoute& route : gainRouteTable)
        SetGain(p, route, settings.*(route.setting));
    return false;
}

bool ReachedLoopLimit(SongPlayer& p) {
    if (p.loopLimit == 0 || p.fadeAcc != 0 || p.loopCounter < p.loopLimit) return false;
    if (p.fadeMs == 0) return true;
    p.fadeAcc = 1;
    p.fadeStep = kFadeSpan / p.fadeMs;
    return false;
}

int32_t PlayedMs(const SongPlayer& p, int64_t passTicks, int64_t loopTicks, int64_t tickRate,
                 int32_t blockFrames) {
    constexpr int64_t kLongest = INT32_MAX;
    auto toMs = [&](int64_t ticks) {
        const int64_t ms = ticks / tickRate * 1000 + ticks % tickRate * 1000 / tickRate;
        return static_cast<int32_t>(ms < kLongest ? ms : kLongest);
    };
    if (loopTicks <= 0 || p.loopLimit <= 0 || tickRate <= 0 || p.outputRate <= 0 ||
        blockFrames <= 0)
        return toMs(passTicks);
    // Song time at the last jump back; past about 24 days it no longer matters.
    const int64_t most = kLongest * tickRate / 1000;
    const int64_t repeats = p.loopLimit - 1;
    if (repeats > (most - passTicks) / loopTicks) return static_cast<int32_t>(kLongest);
    const int64_t jump = passTicks + repeats * loopTicks;

    // The loop limit is looked at once per block: the fade (or the stop)
    // comes at the end of the block the jump fell in.
    const int64_t jumpFrame = jump * p.outputRate / tickRate;
    const int64_t fadeFrame = (jumpFrame / blockFrames + 1) * blockFrames;
    const int64_t fadeTicks = fadeFrame * tickRate / p.outputRate;
    if (p.fadeMs <= 0) return toMs(fadeTicks);

    // The fade steps each 1/60 s of song time from its start, and the song
    // ends at the step that finds it past its end: the first step lifts the
    // accumulator from 1, so that is step (kFadeEnd - 1) / fadeStep + 2.
    const int64_t step = kFadeSpan / p.fadeMs;
    if (step <= 0) return static_cast<int32_t>(kLongest);
    const int64_t steps = (kFadeEnd - 1) / step + 2;
    const int64_t startStep = fadeTicks * kStepsPerSecond / tickRate;
    return toMs((startStep + steps) * tickRate / kStepsPerSecond);
}

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
