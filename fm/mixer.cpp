// FmChip output side: handing the latched frequencies and changed
// parameters to the channels before a mix, the direct and resampling loops
// over the samples render.cpp computes, and the three gain controls. The PCM
// (DAC) queue is in pcm.cpp.
#include <cmath>
#include <cstddef>

#include "fm/chip.h"
#include "fm/tables.h"
#include "fm/wrap.h"

namespace {

constexpr uint32_t kSoundingBits = 0x555;  // PrepareChannels: bit 2i, channel i sounds

using fm_chip::kResamplePhaseStart;
using fm_chip::kResampleUnit;

constexpr uint8_t kPanBoth = 3;

// Resampler weights are in 1/16384 of an output frame (kResampleUnit).
constexpr int kResampleShift = 14;

// Gains come in half-decibel steps, at most +20 (10 dB). At or below
// kGainFloor the FM gain is 0 without computing, and the PSG and PCM gains
// fall off the end of VolumeTable, which is silent as well.
constexpr int32_t kGainCeiling = 20;
constexpr int32_t kGainFloor = -192;
// FM gain: 16384 * 10^(halfDb / 40), 16384 at 0 dB.
constexpr double kFmUnityGain = 16384.0;
constexpr double kDecadesPerHalfDb = 0.025;
// PSG and PCM gains read VolumeTable (1/8-octave steps, about 0.75 dB) and
// scale its 65535 at 0 dB down to 4095.
constexpr int kVolumeGainShift = 4;

bool AllPansBoth(const uint8_t* pan) {
    for (int i = 0; i < 6; ++i) {
        if (pan[i] != kPanBoth) {
            return false;
        }
    }
    return true;
}

// Resampler state, weights in 1/16384 of an output frame (kResampleUnit).
struct Resampler {
    int32_t phase;  // part of the current output frame not yet covered, weight units
    int32_t left;   // carried weighted sum, left, sample x weight
    int32_t right;  // carried weighted sum, right, sample x weight
    int32_t step;   // length of one internal sample, 8193-16383 weight units
};

// How many of the next `frames` output frames the internal samples of one
// render chunk cover, and how many samples those are. A frame ends with the
// sample that brings the phase to 0 or below, so the first n frames take the
// fewest samples s with s x step >= phase + (n - 1) x 16384.
uint32_t FramesInChunk(const Resampler& rs, uint32_t frames, uint32_t& samples) {
    const int32_t chunkLength = static_cast<int32_t>(FmChip::kRenderChunk) * rs.step;
    const uint32_t fit = static_cast<uint32_t>((chunkLength - rs.phase) / kResampleUnit) + 1;
    const uint32_t n = frames < fit ? frames : fit;
    const int32_t covered = rs.phase + static_cast<int32_t>(n - 1) * kResampleUnit;
    samples = static_cast<uint32_t>((covered + rs.step - 1) / rs.step);
    return n;
}

// Each output frame is covered by one or two internal samples, each weighted
// by how much of the frame it covers; the last one's remainder, 16384 - w,
// carries into the next frame. A sample is longer than half a frame, so the
// second sample, when there is one, covers the frame's rest (the phase left
// after the first); without one it adds 0 and the first stays the last. The
// count decides no branch.
void ResampledLoop(const int32_t* xl, const int32_t* xr, Resampler& rs, int32_t* out,
                   uint32_t frames) {
    int32_t phase = rs.phase;
    int32_t left = rs.left;
    int32_t right = rs.right;
    const int32_t step = rs.step;
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t weight = step < phase ? step : phase;
        phase -= step;
        left = WrapAdd(left, WrapMul(weight, xl[0]));
        right = WrapAdd(right, WrapMul(weight, xr[0]));
        const int32_t second = phase > 0 ? 1 : 0;
        const int32_t rest = second != 0 ? phase : 0;
        const int32_t xL = xl[second];
        const int32_t xR = xr[second];
        left = WrapAdd(left, WrapMul(rest, xL));
        right = WrapAdd(right, WrapMul(rest, xR));
        weight = second != 0 ? rest : weight;
        phase = (second != 0 ? phase - step : phase) + kResampleUnit;
        xl += 1 + second;
        xr += 1 + second;
        out[0] = WrapAdd(out[0], left >> kResampleShift);
        out[1] = WrapAdd(out[1], right >> kResampleShift);
        left = WrapMul(kResampleUnit - weight, xL);
        right = WrapMul(kResampleUnit - weight, xR);
    }
    rs.phase = phase;
    rs.left = left;
    rs.right = right;
}

// The same with one sum for both sides (every pan at both sides, so left and
// right are equal); it starts from the mean of the two carried sums.
void ResampledLoopEqualPan(const int32_t* xs, Resampler& rs, int32_t* out, uint32_t frames) {
    int32_t phase = rs.phase;
    int32_t sum = WrapAdd(rs.left, rs.right) / 2;
    const int32_t step = rs.step;
    for (uint32_t f = 0; f < frames; ++f, out += 2) {
        int32_t weight = step < phase ? step : phase;
        phase -= step;
        sum = WrapAdd(sum, WrapMul(weight, xs[0]));
        const int32_t second = phase > 0 ? 1 : 0;
        const int32_t rest = second != 0 ? phase : 0;
        const int32_t x = xs[second];
        sum = WrapAdd(sum, WrapMul(rest, x));
        weight = second != 0 ? rest : weight;
        phase = (second != 0 ? phase - step : phase) + kResampleUnit;
        xs += 1 + second;
        out[0] = WrapAdd(out[0], sum >> kResampleShift);
        out[1] = WrapAdd(out[1], sum >> kResampleShift);
        sum = WrapMul(kResampleUnit - weight, x);
    }
    rs.phase = phase;
    rs.left = sum;
    rs.right = sum;
}

// Half-decibels -> PSG/PCM multiplier, 4095 at 0 dB.
int32_t VolumeGain(int32_t halfDb) {
    // Absurd attenuations count as the floor, which is already silent.
    if (halfDb < kGainFloor) {
        halfDb = kGainFloor;
    }
    if (halfDb > kGainCeiling) {
        halfDb = kGainCeiling;
    }
    // Three half-decibels are about two 1/8-octave steps; the quotient
    // truncates toward zero.
    int32_t index = (-2 * halfDb) / 3;
    if (index > kVolumeTableLast) {
        return 0;
    }
    return VolumeTable[index] >> kVolumeGainShift;
}

}  // namespace

// ---------------------------------------------------------------------------
// Preparation

void FmChip::HandFrequencies() {
    static constexpr int kPlainChannels[] = {0, 1, 3, 4, 5};
    for (int i : kPlainChannels) {
        channels[i].SetFrequency(blockFnum[i]);
    }
    if (!fm_reg::SpecialFrequencies(mode)) {
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

uint32_t FmChip::PrepareChannels() {
    uint32_t mask = 0;
    for (int i = 2; i >= 0; --i) {
        mask |= static_cast<uint32_t>(channels[i].ApplyParameters()) << (2 * i);
    }
    // Channels 3-5 left out of mixing are not prepared and report nothing.
    if (fm_reg::ChannelsThreeToFiveOn(reg29)) {
        for (int i = 5; i >= 3; --i) {
            mask |= static_cast<uint32_t>(channels[i].ApplyParameters()) << (2 * i);
        }
    }
    return mask;
}

// ---------------------------------------------------------------------------
// Mixing

void FmChip::MixInto(int32_t* buffer, uint32_t frames) {
    // With the FM gain at 0 nothing of FM is computed: envelopes and the LFO
    // stand still until the gain is raised again.
    if (fmGain > 0) {
        HandFrequencies();
        uint32_t mask = PrepareChannels();
        if (!fm_reg::LfoOn(lfoControl)) {
            mask &= kSoundingBits;
        }
        if ((mask & kSoundingBits) == 0) {
            // Nothing sounds: skip the channels and start the resampler afresh.
            resamplePhase = kResamplePhaseStart;
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

void FmChip::MixDirect(int32_t* buffer, uint32_t frames, uint32_t mask) {
    int32_t left[kRenderChunk];
    int32_t right[kRenderChunk];
    while (frames != 0) {
        const uint32_t n = frames < kRenderChunk ? frames : kRenderChunk;
        RenderSamples(left, right, n, mask);
        for (uint32_t i = 0; i < n; ++i, buffer += 2) {
            buffer[0] = WrapAdd(buffer[0], left[i]);
            buffer[1] = WrapAdd(buffer[1], right[i]);
        }
        frames -= n;
    }
}

void FmChip::MixResampled(int32_t* buffer, uint32_t frames, uint32_t mask) {
    Resampler rs = {resamplePhase, resampleLeft, resampleRight, resampleStep};
    const bool equalPan = AllPansBoth(pan);
    int32_t left[kRenderChunk];
    int32_t right[kRenderChunk];
    while (frames != 0) {
        uint32_t samples = 0;
        const uint32_t n = FramesInChunk(rs, frames, samples);
        RenderSamples(left, right, samples, mask);
        if (equalPan) {
            ResampledLoopEqualPan(left, rs, buffer, n);
        } else {
            ResampledLoop(left, right, rs, buffer, n);
        }
        buffer += 2 * static_cast<size_t>(n);
        frames -= n;
    }
    resamplePhase = rs.phase;
    resampleLeft = rs.left;
    resampleRight = rs.right;
}

// ---------------------------------------------------------------------------
// Gains and mutes

void FmChip::SetFmGain(int32_t halfDb) {
    if (halfDb >= kGainCeiling) {
        halfDb = kGainCeiling;
    } else if (halfDb <= kGainFloor) {
        fmGain = 0;
        return;
    }
    fmGain = static_cast<int32_t>(kFmUnityGain * std::pow(10.0, halfDb * kDecadesPerHalfDb));
}

void FmChip::SetPsgGain(int32_t halfDb) {
    psgGain = VolumeGain(halfDb);
}

void FmChip::SetPcmGain(int32_t halfDb) {
    pcmGain = VolumeGain(halfDb);
}

void FmChip::SetMutedChannels(uint32_t mask) {
    for (int i = 0; i < 6; ++i) {
        const bool muted = ((mask >> i) & 1) != 0;
        for (FmOperator& op : channels[i].op) {
            op.SetMuted(muted);
        }
    }
}
