// The FM channels' per-sample path over a stretch of samples (fm/render.cpp).
#pragma once

#include <cstdint>

#include "fm/channel.h"

// Adds `count` samples of channels[0 ... n - 1] to their accumulators, channel
// j's to sums[j][0 ... count - 1] (the additions wrap; two channels may share
// an accumulator). n is 2, 4 or 6: channels are computed in whole pairs.
// With withLfo every operator is modulated at the LFO position of each
// sample, bits 20-27 of a counter that starts at lfoCount and moves by
// lfoStep per sample; the caller moves its own counter by count x lfoStep
// afterwards. The channels' parameters must have been applied
// (FmChannel::ApplyParameters); phases, envelopes and the feedback history
// run on.
void RenderChannels(FmChannel* const* channels, int32_t* const* sums, int n, bool withLfo,
                    uint32_t lfoCount, uint32_t lfoStep, uint32_t count);
