// FmChip output side: preparing the channels for a stretch of samples, the
// per-sample loop (LFO, channel pairs, pan, gain), the direct and resampling
// mixers, the PCM (DAC) queue and the three gain controls.
#include <cmath>
#include <cstddef>

#include "fm/chip.h"
#include "fm/tables.h"

namespace {

// Activity mask: two bits per channel, channel i at bits 2i (it sounds) and
// 2i + 1 (it needs the LFO form).
constexpr uint32_t SoundingBits = 0x555;
constexpr uint32_t LfoBits = 0xAAA;
constexpr uint32_t Pair01Bits = 0x005;
constexpr uint32_t Pair23Bits = 0x050;
constexpr uint32_t Pair45Bits = 0x500;

using fm_chip::LfoOnBit;
using fm_chip::PcmZeroLevel;
using fm_chip::ResamplePhaseStart;
using fm_chip::ResampleUnit;

constexpr uint8_t ChannelsThreeToFiveOn = 0x80;  // register 0x29
constexpr uint8_t SpecialModeBits = 0xC0;        // register 0x27: special or CSM
constexpr uint8_t PanLeft = 2;
constexpr uint8_t PanRight = 1;
constexpr uint8_t PanBoth = 3;

// The LFO position is bits 20-27 of its counter.
constexpr uint32_t LfoPositionShift = 20;
// Channel sums are on the operators' 28-bit scale; dropping 15 bits leaves
// room for the gain multiplier (16384 = 0 dB).
constexpr int ChannelSumShift = 15;
constexpr int FmGainShift = 14;
// Resampler weights are in 1/16384 of an output frame (ResampleUnit).
constexpr int ResampleShift = 14;

constexpr int PcmGainShift = 6;
constexpr int PcmPositionShift = 16;  // PCM read position, 16.16 fixed point

// Gains come in half-decibel steps, at most +20 (10 dB). At or below
// GainFloor the FM gain is 0 without computing, and the PSG and PCM gains
// fall off the end of VolumeTable, which is silent as well.
constexpr int32_t GainCeiling = 20;
constexpr int32_t GainFloor = -192;
// FM gain: 16384 * 10^(halfDb / 40), 16384 at 0 dB.
constexpr double FmUnityGain = 16384.0;
constexpr double DecadesPerHalfDb = 0.025;
// PSG and PCM gains read VolumeTable (1/8-octave steps, about 0.75 dB) and
// scale its 65535 at 0 dB down to 4095.
constexpr int VolumeGainShift = 4;

inline int32_t WrapAdd(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) + static_cast<uint32_t>(b));
}

inline int32_t WrapMul(int32_t a, int32_t b)
{
    return static_cast<int32_t>(static_cast<uint32_t>(a) * static_cast<uint32_t>(b));
}

inline int32_t ApplyFmGain(int32_t channelSum, int32_t gain)
{
    return WrapMul(channelSum >> ChannelSumShift, gain) >> FmGainShift;
}

// Renders one internal sample of the channels C... (whole pairs) side by
// side, operator by operator: operator 0 of every channel, then operator 1
// of every channel, and so on, each channel adding its sample to its
// accumulator. The channels share nothing but the LFO position, so this is
// the same as rendering the pairs one after the other (RenderPair,
// RenderPairWithLfo); side by side, the channels' independent chains of
// table lookups overlap in the processor instead of waiting on each other.
// On the LFO path the operators' LFO values are recomputed only when the
// LFO position has moved (every few samples); `lfo` holds them in between.
template <bool Lfo, int... C>
void RenderSideBySide(FmChannel* channels, int32_t* const* route, fm_render::ChannelLfo* lfo, bool lfoMoved)
{
    using namespace fm_render;
    if (Lfo && lfoMoved) {
        (LfoValuesAt(channels[C], lfoPosition, lfo[C]), ...);
    }
    int32_t nodes[6][4];
    ((nodes[C][0] = FeedbackSample<Lfo>(channels[C], lfo[C]), nodes[C][1] = nodes[C][2] = nodes[C][3] = 0), ...);
    (RouteOperator<Lfo, 1>(channels[C], nodes[C], lfo[C]), ...);
    (RouteOperator<Lfo, 2>(channels[C], nodes[C], lfo[C]), ...);
    int32_t sample[6];
    ((sample[C] = ChannelSample<Lfo>(channels[C], nodes[C], lfo[C])), ...);
    (Accumulate(*route[C], sample[C]), ...);
}

using ChannelRenderer = void (*)(FmChannel* channels, int32_t* const* route, fm_render::ChannelLfo* lfo,
                                 bool lfoMoved);

// No pair active: MixInto does not mix FM then, so this is never called.
void RenderNoChannels(FmChannel*, int32_t* const*, fm_render::ChannelLfo*, bool)
{
}

// The renderer for a set of active pairs: bit 0 pair (0, 1), bit 1 pair
// (2, 3), bit 2 pair (4, 5). A pair is always rendered whole.
template <bool Lfo>
ChannelRenderer RendererFor(uint32_t pairs)
{
    static constexpr ChannelRenderer RendererTable[8] = {
        RenderNoChannels,
        RenderSideBySide<Lfo, 0, 1>,
        RenderSideBySide<Lfo, 2, 3>,
        RenderSideBySide<Lfo, 0, 1, 2, 3>,
        RenderSideBySide<Lfo, 4, 5>,
        RenderSideBySide<Lfo, 0, 1, 4, 5>,
        RenderSideBySide<Lfo, 2, 3, 4, 5>,
        RenderSideBySide<Lfo, 0, 1, 2, 3, 4, 5>,
    };
    return RendererTable[pairs & 7];
}

// The per-sample loop's state, copied in from the chip before a stretch and
// the LFO counter copied back after it.
class InternalSampler {
public:
    InternalSampler(FmChannel* channels, uint32_t mask, uint32_t lfoCount, uint32_t lfoStep,
                    int32_t gain, const uint8_t* pan, bool channelsThreeToFive)
        : lfoCount(lfoCount), channels(channels), lfoStep(lfoStep), gain(gain)
    {
        for (int i = 0; i < 6; ++i) {
            route[i] = &acc[pan[i]];
        }
        // A channel left out of mixing may still be computed beside its pair
        // partner; its sample then goes to the accumulator nobody hears.
        if (!channelsThreeToFive) {
            route[3] = &acc[0];
        }
        // A pair is computed whole when either of its channels sounds.
        const uint32_t pairs = ((mask & Pair01Bits) ? 1 : 0) | ((mask & Pair23Bits) ? 2 : 0) |
                               ((mask & Pair45Bits) ? 4 : 0);
        lfo = (mask & LfoBits) != 0;
        render = lfo ? RendererFor<true>(pairs) : RendererFor<false>(pairs);
    }
    InternalSampler(const InternalSampler&) = delete;
    InternalSampler& operator=(const InternalSampler&) = delete;

    // One internal sample, left and right, after the FM gain.
    void Next(int32_t& left, int32_t& right)
    {
        RenderChannels();
        left = ApplyFmGain(WrapAdd(acc[PanLeft], acc[PanBoth]), gain);
        right = ApplyFmGain(WrapAdd(acc[PanRight], acc[PanBoth]), gain);
    }

    // With every pan at both sides only the shared accumulator carries sound.
    int32_t NextEqualPan()
    {
        RenderChannels();
        return ApplyFmGain(acc[PanBoth], gain);
    }

    uint32_t lfoCount;  // LFO phase, position in bits 20-27

private:
    void RenderChannels()
    {
        // On the LFO path the LFO moves once per internal sample and every
        // rendered channel takes the LFO form.
        bool lfoMoved = false;
        if (lfo) {
            const int32_t position = static_cast<int32_t>((lfoCount >> LfoPositionShift) & 255);
            lfoMoved = position != lfoValuesPosition;
            lfoValuesPosition = position;
            lfoPosition = position;
            lfoCount += lfoStep;
        }
        acc[1] = acc[2] = acc[3] = 0;
        render(channels, route, lfoValues, lfoMoved);
    }

    FmChannel* channels;     // the chip's six channels
    ChannelRenderer render;  // the active pairs, with or without LFO
    bool lfo;                // the LFO path: some channel needs the LFO
    int32_t lfoValuesPosition = -1;      // LFO position lfoValues hold; -1 = none yet
    fm_render::ChannelLfo lfoValues[6];  // per channel and operator, at lfoValuesPosition
    uint32_t lfoStep;        // added to lfoCount per internal sample on the LFO path
    int32_t gain;            // FM multiplier, 16384 = 0 dB
    int32_t acc[4] = {};     // by pan: 3 both sides, 2 left, 1 right, 0 never heard
    int32_t* route[6];       // the accumulator each channel adds to
};

bool AllPansBoth(const uint8_t* pan)
{
    for (int i = 0; i < 6; ++i) {
        if (pan[i] != PanBoth) {
            return false;
        }
    }
    return true;
}

void DirectLoop(InternalSampler& sampler, int32_t* out, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t left, right;
        sampler.Next(left, right);
        out[0] = WrapAdd(out[0], left);
        out[1] = WrapAdd(out[1], right);
    }
}

void DirectLoopEqualPan(InternalSampler& sampler, int32_t* out, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t x = sampler.NextEqualPan();
        out[0] = WrapAdd(out[0], x);
        out[1] = WrapAdd(out[1], x);
    }
}

// Resampler state, weights in 1/16384 of an output frame (ResampleUnit).
struct Resampler {
    int32_t phase;  // part of the current output frame not yet covered, weight units
    int32_t left;   // carried weighted sum, left, sample x weight
    int32_t right;  // carried weighted sum, right, sample x weight
    int32_t step;   // length of one internal sample, 8193-16383 weight units
};

// Each output frame is covered by one or two internal samples, each weighted
// by how much of the frame it covers; the last one's remainder, 16384 - w,
// carries into the next frame.
void ResampledLoop(InternalSampler& sampler, Resampler& rs, int32_t* out, uint32_t frames)
{
    int32_t phase = rs.phase;
    int32_t left = rs.left;
    int32_t right = rs.right;
    const int32_t step = rs.step;
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t weight, xL, xR;
        do {
            sampler.Next(xL, xR);
            weight = step < phase ? step : phase;
            phase -= step;
            left = WrapAdd(left, WrapMul(weight, xL));
            right = WrapAdd(right, WrapMul(weight, xR));
        } while (phase > 0);
        out[0] = WrapAdd(out[0], left >> ResampleShift);
        out[1] = WrapAdd(out[1], right >> ResampleShift);
        phase += ResampleUnit;
        left = WrapMul(ResampleUnit - weight, xL);
        right = WrapMul(ResampleUnit - weight, xR);
    }
    rs.phase = phase;
    rs.left = left;
    rs.right = right;
}

// The same with one sum for both sides; it starts from the mean of the two
// carried sums.
void ResampledLoopEqualPan(InternalSampler& sampler, Resampler& rs, int32_t* out, uint32_t frames)
{
    int32_t phase = rs.phase;
    int32_t sum = WrapAdd(rs.left, rs.right) / 2;
    const int32_t step = rs.step;
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t weight, x;
        do {
            x = sampler.NextEqualPan();
            weight = step < phase ? step : phase;
            phase -= step;
            sum = WrapAdd(sum, WrapMul(weight, x));
        } while (phase > 0);
        out[0] = WrapAdd(out[0], sum >> ResampleShift);
        out[1] = WrapAdd(out[1], sum >> ResampleShift);
        phase += ResampleUnit;
        sum = WrapMul(ResampleUnit - weight, x);
    }
    rs.phase = phase;
    rs.left = sum;
    rs.right = sum;
}

// Half-decibels -> PSG/PCM multiplier, 4095 at 0 dB.
int32_t VolumeGain(int32_t halfDb)
{
    // Absurd attenuations count as the floor, which is already silent.
    if (halfDb < GainFloor) {
        halfDb = GainFloor;
    }
    if (halfDb > GainCeiling) {
        halfDb = GainCeiling;
    }
    // Three half-decibels are about two 1/8-octave steps; the quotient
    // truncates toward zero.
    int32_t index = (-2 * halfDb) / 3;
    if (index > VolumeTableLast) {
        return 0;
    }
    return VolumeTable[index] >> VolumeGainShift;
}

}  // namespace

// ---------------------------------------------------------------------------
// Preparation

void FmChip::HandFrequencies()
{
    static constexpr int PlainChannels[] = {0, 1, 3, 4, 5};
    for (int i : PlainChannels) {
        channels[i].SetFrequency(blockFnum[i]);
    }
    if ((mode & SpecialModeBits) == 0) {
        csmChannel->SetFrequency(blockFnum[2]);
    } else {
        // Special mode: operators 0, 1, 2 take 0xA9, 0xAA, 0xA8 (with their
        // high bytes), operator 3 the channel's own word.
        csmChannel->op[0].SetFrequency(slotBlockFnum[1]);
        csmChannel->op[1].SetFrequency(slotBlockFnum[2]);
        csmChannel->op[2].SetFrequency(slotBlockFnum[0]);
        csmChannel->op[3].SetFrequency(blockFnum[2]);
    }
}

uint32_t FmChip::PrepareChannels()
{
    uint32_t mask = 0;
    for (int i = 2; i >= 0; --i) {
        mask |= static_cast<uint32_t>(channels[i].ApplyParameters()) << (2 * i);
    }
    // Channels 3-5 left out of mixing are not prepared and report nothing.
    if (reg29 & ChannelsThreeToFiveOn) {
        for (int i = 5; i >= 3; --i) {
            mask |= static_cast<uint32_t>(channels[i].ApplyParameters()) << (2 * i);
        }
    }
    return mask;
}

// ---------------------------------------------------------------------------
// Mixing

void FmChip::MixInto(int32_t* buffer, uint32_t frames)
{
    // With the FM gain at 0 nothing of FM is computed: envelopes and the LFO
    // stand still until the gain is raised again.
    if (fmGain > 0) {
        HandFrequencies();
        uint32_t mask = PrepareChannels();
        if (!(lfoControl & LfoOnBit)) {
            mask &= SoundingBits;
        }
        if ((mask & SoundingBits) == 0) {
            // Nothing sounds: skip the channels and start the resampler afresh.
            resamplePhase = ResamplePhaseStart;
            resampleLeft = 0;
            resampleRight = 0;
        } else if (interpolate) {
            MixResampled(buffer, frames, mask);
        } else {
            MixDirect(buffer, frames, mask);
        }
    }
    MixPcm(buffer, frames);
}

void FmChip::MixDirect(int32_t* buffer, uint32_t frames, uint32_t mask)
{
    InternalSampler sampler(channels, mask, lfoCount, lfoStep, fmGain, pan,
                            (reg29 & ChannelsThreeToFiveOn) != 0);
    if (AllPansBoth(pan)) {
        DirectLoopEqualPan(sampler, buffer, frames);
    } else {
        DirectLoop(sampler, buffer, frames);
    }
    lfoCount = sampler.lfoCount;
}

void FmChip::MixResampled(int32_t* buffer, uint32_t frames, uint32_t mask)
{
    InternalSampler sampler(channels, mask, lfoCount, lfoStep, fmGain, pan,
                            (reg29 & ChannelsThreeToFiveOn) != 0);
    Resampler rs = {resamplePhase, resampleLeft, resampleRight, resampleStep};
    if (AllPansBoth(pan)) {
        ResampledLoopEqualPan(sampler, rs, buffer, frames);
    } else {
        ResampledLoop(sampler, rs, buffer, frames);
    }
    resamplePhase = rs.phase;
    resampleLeft = rs.left;
    resampleRight = rs.right;
    lfoCount = sampler.lfoCount;
}

// PCM (DAC): the bytes queued for a stretch are spread evenly over all of
// its frames, however many calls render them, and routed by channel 5's pan;
// frames after the last byte (only when nothing was queued) hold the last
// value. A call that nobody announced as part of a stretch is a stretch of
// its own, and so is any part of a call that runs past the announced one.

void FmChip::BeginPcmStretch(uint32_t frames)
{
    pcmStretchLeft = frames;
    pcmPosition = 0;
    // The step is found once, so that the position runs on evenly from call
    // to call; the bytes never reach the end before the stretch's last frame
    // (step x (frames - 1) < end).
    pcmStep = frames == 0 ? 0 : (static_cast<uint32_t>(pcmCount) << PcmPositionShift) / frames;
}

void FmChip::MixPcm(int32_t* buffer, uint32_t frames)
{
    if (frames == 0 && pcmStretchLeft == 0) {
        pcmCount = 0;
        return;
    }
    while (frames != 0) {
        if (pcmStretchLeft == 0) {
            BeginPcmStretch(frames);
        }
        const uint32_t n = frames < pcmStretchLeft ? frames : pcmStretchLeft;
        MixPcmFrames(buffer, n);
        pcmStretchLeft -= n;
        if (pcmStretchLeft == 0) {
            EndPcmStretch();
        }
        buffer += 2 * static_cast<size_t>(n);
        frames -= n;
    }
}

// The next `frames` frames of the open stretch.
void FmChip::MixPcmFrames(int32_t* buffer, uint32_t frames)
{
    if (pcmEnabled == 0 || !pcmQueue) {
        pcmCount = 0;
        return;
    }
    const bool toLeft = (pan[5] & PanLeft) != 0;
    const bool toRight = (pan[5] & PanRight) != 0;
    const uint8_t* queue = pcmQueue.get();
    const uint32_t end = static_cast<uint32_t>(pcmCount) << PcmPositionShift;
    const uint32_t step = pcmStep;
    uint32_t p = pcmPosition;
    int32_t* out = buffer;
    uint32_t f = 0;
    for (; p < end && f < frames; ++f, p += step, out += 2) {
        const uint32_t index = p >> PcmPositionShift;
        int32_t v;
        if (interpolate) {
            // Linear interpolation from the byte before; byte 0 is the
            // previous stretch's last byte.
            const int32_t a = queue[index];
            const int32_t b = queue[index + 1];
            const int32_t fraction = static_cast<int32_t>(p & 0xFFFF);
            v = (((b - a) * fraction) >> PcmPositionShift) + a - PcmZeroLevel;
        } else {
            v = queue[index + 1] - PcmZeroLevel;
        }
        v = WrapMul(v, pcmGain) >> PcmGainShift;
        pcmLast = v;
        if (toLeft) {
            out[0] = WrapAdd(out[0], v);
        }
        if (toRight) {
            out[1] = WrapAdd(out[1], v);
        }
    }
    pcmPosition = p;
    for (; f < frames; ++f, out += 2) {
        if (toLeft) {
            out[0] = WrapAdd(out[0], pcmLast);
        }
        if (toRight) {
            out[1] = WrapAdd(out[1], pcmLast);
        }
    }
}

// After a stretch's last frame: with interpolation its last byte becomes
// the left neighbour of the next stretch's first; the queue empties.
void FmChip::EndPcmStretch()
{
    if (interpolate && pcmEnabled != 0 && pcmQueue && pcmCount != 0) {
        pcmQueue[0] = pcmQueue[pcmCount];
    }
    pcmCount = 0;
    pcmStretchLeft = 0;
    pcmPosition = 0;
}

void FmChip::DiscardPcmQueue()
{
    pcmCount = 0;
    pcmStretchLeft = 0;
    pcmPosition = 0;
}

// ---------------------------------------------------------------------------
// Gains and mutes

void FmChip::SetFmGain(int32_t halfDb)
{
    if (halfDb >= GainCeiling) {
        halfDb = GainCeiling;
    } else if (halfDb <= GainFloor) {
        fmGain = 0;
        return;
    }
    fmGain = static_cast<int32_t>(FmUnityGain * std::pow(10.0, halfDb * DecadesPerHalfDb));
}

void FmChip::SetPsgGain(int32_t halfDb)
{
    psgGain = VolumeGain(halfDb);
}

void FmChip::SetPcmGain(int32_t halfDb)
{
    pcmGain = VolumeGain(halfDb);
}

void FmChip::SetMutedChannels(uint32_t mask)
{
    for (int i = 0; i < 6; ++i) {
        const bool muted = ((mask >> i) & 1) != 0;
        for (FmOperator& op : channels[i].op) {
            op.SetMuted(muted);
        }
    }
}
