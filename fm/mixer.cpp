// FmChip output side: preparing the channels for a stretch of samples, the
// per-sample loop (LFO, channel pairs, pan, gain), the direct and resampling
// mixers, the PCM (DAC) queue and the three gain controls.
#include <cmath>

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

constexpr uint8_t LfoOnBit = 0x08;      // register 0x22
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
// Resampler weights are in 1/16384 of an output frame.
constexpr int32_t ResampleUnit = 16384;
constexpr int ResampleShift = 14;
constexpr int32_t ResamplePhaseStart = 0x3FFF;

constexpr int32_t PcmZeroLevel = 128;
constexpr int PcmGainShift = 6;
constexpr int PcmPositionShift = 16;  // PCM read position, 16.16 fixed point

// FM gain: 16384 at 0 dB, half-decibel steps, at most +10 dB; at or below
// this many half-decibels it is 0 without computing.
constexpr int32_t GainCeiling = 20;
constexpr int32_t GainFloor = -192;
constexpr double FmUnityGain = 16384.0;
constexpr double DecadesPerHalfDb = 0.025;
// PSG and PCM gains read VolumeTable (1/8-octave steps, about 0.75 dB) and
// scale its 65535 at 0 dB to 4095.
constexpr int32_t VolumeTableEnd = 128;

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

// The per-sample loop's state, copied in from the chip before a stretch and
// the LFO counter copied back after it.
class InternalSampler {
public:
    InternalSampler(FmChannel* channels, uint32_t mask, uint32_t lfoCount, uint32_t lfoStep,
                    int32_t gain, const uint8_t* pan, bool channelsThreeToFive)
        : lfoCount(lfoCount), channels(channels), mask(mask), lfoStep(lfoStep), gain(gain)
    {
        for (int i = 0; i < 6; ++i) {
            route[i] = &acc[pan[i]];
        }
        // A channel left out of mixing may still be computed beside its pair
        // partner; its sample then goes to the accumulator nobody hears.
        if (!channelsThreeToFive) {
            route[3] = &acc[0];
        }
    }
    InternalSampler(const InternalSampler&) = delete;
    InternalSampler& operator=(const InternalSampler&) = delete;

    // One internal sample, left and right, after the FM gain.
    template <bool Lfo>
    void Next(int32_t& left, int32_t& right)
    {
        RenderChannels<Lfo>();
        left = ApplyFmGain(WrapAdd(acc[PanLeft], acc[PanBoth]), gain);
        right = ApplyFmGain(WrapAdd(acc[PanRight], acc[PanBoth]), gain);
    }

    // With every pan at both sides only the shared accumulator carries sound.
    template <bool Lfo>
    int32_t NextEqualPan()
    {
        RenderChannels<Lfo>();
        return ApplyFmGain(acc[PanBoth], gain);
    }

    uint32_t lfoCount;  // LFO phase, position in bits 20-27

private:
    template <bool Lfo>
    void RenderChannels()
    {
        if (Lfo) {
            lfoPosition = static_cast<int32_t>((lfoCount >> LfoPositionShift) & 255);
            lfoCount += lfoStep;
        }
        acc[1] = acc[2] = acc[3] = 0;
        // A pair is computed whole when either of its channels sounds.
        if (mask & Pair01Bits) {
            RenderPairOf<Lfo>(&channels[0], *route[0], *route[1]);
        }
        if (mask & Pair23Bits) {
            RenderPairOf<Lfo>(&channels[2], *route[2], *route[3]);
        }
        if (mask & Pair45Bits) {
            RenderPairOf<Lfo>(&channels[4], *route[4], *route[5]);
        }
    }

    template <bool Lfo>
    static void RenderPairOf(FmChannel* first, int32_t& accA, int32_t& accB)
    {
        if (Lfo) {
            RenderPairWithLfo(first, accA, accB);
        } else {
            RenderPair(first, accA, accB);
        }
    }

    FmChannel* channels;
    uint32_t mask;
    uint32_t lfoStep;
    int32_t gain;       // FM multiplier, 16384 = 0 dB
    int32_t acc[4] = {};  // by pan: 3 both sides, 2 left, 1 right, 0 never heard
    int32_t* route[6];  // the accumulator each channel adds to
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

template <bool Lfo>
void DirectLoop(InternalSampler& sampler, int32_t* out, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t left, right;
        sampler.Next<Lfo>(left, right);
        out[0] = WrapAdd(out[0], left);
        out[1] = WrapAdd(out[1], right);
    }
}

template <bool Lfo>
void DirectLoopEqualPan(InternalSampler& sampler, int32_t* out, uint32_t frames)
{
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t x = sampler.NextEqualPan<Lfo>();
        out[0] = WrapAdd(out[0], x);
        out[1] = WrapAdd(out[1], x);
    }
}

// Resampler state; sums carry weight x sample (weights in 1/16384 frame).
struct Resampler {
    int32_t phase;  // part of the current output frame not yet covered
    int32_t left;
    int32_t right;
    int32_t step;   // length of one internal sample, 8193-16383
};

// Each output frame is covered by one or two internal samples, each weighted
// by how much of the frame it covers; the last one's remainder, 16384 - w,
// carries into the next frame.
template <bool Lfo>
void ResampledLoop(InternalSampler& sampler, Resampler& rs, int32_t* out, uint32_t frames)
{
    int32_t phase = rs.phase;
    int32_t left = rs.left;
    int32_t right = rs.right;
    const int32_t step = rs.step;
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t weight, xL, xR;
        do {
            sampler.Next<Lfo>(xL, xR);
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
template <bool Lfo>
void ResampledLoopEqualPan(InternalSampler& sampler, Resampler& rs, int32_t* out, uint32_t frames)
{
    int32_t phase = rs.phase;
    int32_t sum = WrapAdd(rs.left, rs.right) / 2;
    const int32_t step = rs.step;
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t weight, x;
        do {
            x = sampler.NextEqualPan<Lfo>();
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
    int32_t index = (-2 * halfDb) / 3;
    if (index >= VolumeTableEnd) {
        return 0;
    }
    return static_cast<int32_t>((static_cast<uint32_t>(VolumeTable[index]) * 256u) >> 12);
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
    const bool lfo = (mask & LfoBits) != 0;
    if (AllPansBoth(pan)) {
        lfo ? DirectLoopEqualPan<true>(sampler, buffer, frames)
            : DirectLoopEqualPan<false>(sampler, buffer, frames);
    } else {
        lfo ? DirectLoop<true>(sampler, buffer, frames) : DirectLoop<false>(sampler, buffer, frames);
    }
    lfoCount = sampler.lfoCount;
}

void FmChip::MixResampled(int32_t* buffer, uint32_t frames, uint32_t mask)
{
    InternalSampler sampler(channels, mask, lfoCount, lfoStep, fmGain, pan,
                            (reg29 & ChannelsThreeToFiveOn) != 0);
    Resampler rs = {resamplePhase, resampleLeft, resampleRight, resampleStep};
    const bool lfo = (mask & LfoBits) != 0;
    if (AllPansBoth(pan)) {
        lfo ? ResampledLoopEqualPan<true>(sampler, rs, buffer, frames)
            : ResampledLoopEqualPan<false>(sampler, rs, buffer, frames);
    } else {
        lfo ? ResampledLoop<true>(sampler, rs, buffer, frames)
            : ResampledLoop<false>(sampler, rs, buffer, frames);
    }
    resamplePhase = rs.phase;
    resampleLeft = rs.left;
    resampleRight = rs.right;
    lfoCount = sampler.lfoCount;
}

// The PCM bytes queued since the last mix are spread evenly over this
// stretch and routed by channel 5's pan; frames after the last byte (only
// when nothing was queued) hold the last value.
void FmChip::MixPcm(int32_t* buffer, uint32_t frames)
{
    if (pcmEnabled == 0 || frames == 0 || !pcmQueue) {
        pcmCount = 0;
        return;
    }
    const bool toLeft = (pan[5] & PanLeft) != 0;
    const bool toRight = (pan[5] & PanRight) != 0;
    const uint8_t* queue = pcmQueue.get();
    int32_t* out = buffer;
    uint32_t f = 0;
    if (pcmCount != 0) {
        const uint32_t end = static_cast<uint32_t>(pcmCount) << PcmPositionShift;
        const uint32_t step = end / frames;
        for (uint32_t p = 0; p < end && f < frames; ++f, p += step, out += 2) {
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
        if (interpolate) {
            pcmQueue[0] = pcmQueue[pcmCount];
        }
    }
    for (; f < frames; ++f, out += 2) {
        if (toLeft) {
            out[0] = WrapAdd(out[0], pcmLast);
        }
        if (toRight) {
            out[1] = WrapAdd(out[1], pcmLast);
        }
    }
    pcmCount = 0;
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
