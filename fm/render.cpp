// The path of one FM sample, from the chip's state to the stereo pair the
// mixer resamples, top to bottom in the order the chip works:
//
//   1. the LFO step: the LFO position of this sample, then the counter moves;
//   2. the envelope ticks of the channel's four operators (at most one
//      envelope step per operator and sample; one compare per sample and
//      pair of channels, against the first sample on which the pair's next
//      step falls, counted ahead, finds whether any envelope steps here);
//      then per operator in routing order: the phase (step plus pitch
//      modulation), the log-sine lookup at phase plus modulation input, the
//      level lookup at log-sine plus envelope plus amplitude modulation;
//      operator 0 takes its own last two samples as input (feedback);
//   3. the routing: which operator's sample modulates which, and which are
//      summed, by the channel's algorithm;
//   4. the channel sum;
//   5. the pan: the sum joins the accumulator of its pan setting;
//   6. the gain: left and right are both-sides plus one side, scaled.
//
// Channels are rendered two at a time over the whole stretch, sample by
// sample. Operator 0 of a channel waits on its own last sample, but not on
// the other channel's, so the processor overlaps the two; the algorithm,
// fixed for the stretch, costs one well-predicted branch per channel and
// sample. The channels share nothing but the LFO position, which each pair
// works out from the same counter, so their order changes no bit.
//
// Everything wraps at 32 bits; right shifts of signed values are arithmetic.
#include "fm/render.h"

#include <cstring>

#include "fm/chip.h"
#include "fm/registers.h"
#include "fm/tables.h"
#include "fm/wrap.h"

namespace {

// The LFO position is bits 20-27 of its counter.
constexpr uint32_t kLfoPositionShift = 20;
constexpr uint32_t kLfoPositions = 256;
// The phase's bits 19-28 index the log-sine table.
constexpr uint32_t kPhaseIndexShift = 19;
constexpr uint32_t kPhaseIndexMask = 1023;
// An operator's sample (or a sum of them) becomes a modulation input in
// phase units times 8.
constexpr uint32_t kModulationShift = 3;
// Channel sums are on the operators' 28-bit scale; dropping 15 bits leaves
// room for the gain multiplier (16384 = 0 dB).
constexpr int kChannelSumShift = 15;
constexpr int kFmGainShift = 14;

// Activity mask from PrepareChannels: two bits per channel, channel i at
// bits 2i (it sounds) and 2i + 1 (it needs the LFO form).
constexpr uint32_t kLfoBits = 0xAAA;
constexpr uint32_t kPairSoundingBits = 0x005;  // channels 0 and 1; 4 bits up per pair

constexpr uint8_t kPanLeft = 2;
constexpr uint8_t kPanRight = 1;
constexpr uint8_t kPanBoth = 3;

// The sample of a stretch at which an envelope that does not step in it
// steps: one no stretch reaches.
constexpr uint32_t kNoStep = UINT32_MAX;

// One operator's per-sample state, held in locals over a stretch and written
// back after it.
struct OperatorState {
    uint32_t phase;           // phase units; bits 19-28 index the log-sine table
    uint32_t phaseStep;       // this sample's step, pitch modulation included
    uint32_t nextStep;        // sample of the stretch whose tick steps the envelope, or kNoStep
    uint32_t armedAt;         // sample of the stretch whose tick was the first counted ahead
    uint32_t quietTicks;      // ticks counted ahead from armedAt before the one that steps
    uint32_t envCounter;      // envelope counter as it will stand before that tick
    uint32_t envCounterStep;  // subtracted per tick
    int32_t envOutput;        // envelope output, attenuation index
    uint32_t attenuation;     // envelope output plus amplitude modulation, attenuation index
};

// The envelope counter counts down by its step once per sample, and the
// envelope steps on the tick that finds it at most the step (a counter of
// exactly 0 steps even with a step of 0). Nothing else happens between
// steps, so the renderer counts the ticks still to come instead: with a
// counter C above the step S that is (C - 1) / S ticks, after which the
// counter stands at C - ticks x S. A zero step with a counter above 0 never
// steps (a stretch is far shorter than 2^32 samples). `at` is the sample of
// the stretch whose tick is the first counted.
inline void ArmEnvelope(OperatorState& s, uint32_t counter, uint32_t step, uint32_t at) {
    uint32_t ticks = 0;
    if (counter > step) {
        ticks = step == 0 ? UINT32_MAX : (counter - 1) / step;
    }
    s.armedAt = at;
    s.quietTicks = ticks;
    s.envCounter = counter - ticks * step;
    s.envCounterStep = step;
    s.nextStep = ticks >= kNoStep - at ? kNoStep : at + ticks;
}

// The counter as the operator keeps it after `count` samples: the ticks
// still to come added back.
inline uint32_t EnvelopeCounter(const OperatorState& s, uint32_t count) {
    const uint32_t ticksLeft = s.quietTicks - (count - s.armedAt);
    return s.envCounter + ticksLeft * s.envCounterStep;
}

// Envelope step at sample i of the stretch. The step itself is rare and
// works on the operator, which gets the counter and hands back what the
// step changed.
inline void StepEnvelope(FmOperator& op, OperatorState& s, int32_t lfoAttenuation, uint32_t i) {
    op.envCounter = s.envCounter - s.envCounterStep;
    op.StepEnvelope();
    ArmEnvelope(s, op.envCounter, op.envCounterStep, i + 1);
    s.envOutput = op.envOutput;
    s.attenuation = static_cast<uint32_t>(s.envOutput) + static_cast<uint32_t>(lfoAttenuation);
}

// Phase, log-sine and level: the operator's linear sample for a modulation
// input in phase units.
[[gnu::always_inline]] inline int32_t OperatorOutput(OperatorState& s, uint32_t modulation) {
    s.phase += s.phaseStep;
    const uint32_t index = ((modulation + s.phase) >> kPhaseIndexShift) & kPhaseIndexMask;
    return LevelTable[static_cast<uint32_t>(LogSineTable[index]) + s.attenuation];
}

// Pitch modulation: (phaseStep >> 11) x PitchLfoTable entry >> 5, a wrapping
// signed product with an arithmetic shift.
inline uint32_t PitchLfoOffset(const FmOperator& op, uint32_t position) {
    const uint32_t product = op.pitchLfoScale * static_cast<uint32_t>(op.pitchLfoRow[position]);
    return static_cast<uint32_t>(static_cast<int32_t>(product) >> 5);
}

// Operator 0's feedback input: ((output + previousOutput) << 2) >> shift in
// phase units; the sum and the left shift wrap (a shift of 31 leaves only
// the sign).
inline uint32_t FeedbackInput(int32_t output, int32_t previousOutput, int32_t shift) {
    const uint32_t sum = (static_cast<uint32_t>(output) + static_cast<uint32_t>(previousOutput))
                         << 2;
    return static_cast<uint32_t>(static_cast<int32_t>(sum) >> shift);
}

// One channel's state over a stretch: its operators' per-sample state, the
// feedback history and its feedback shift.
struct ChannelState {
    OperatorState op[4];
    uint32_t
        nextStep;  // first sample of the stretch at which one of its envelopes steps, or kNoStep
    int32_t lfoAttenuation[4];  // AmpLfoTable entry at the current position, per operator
    int32_t output;             // operator 0's last sample
    int32_t previousOutput;     // operator 0's sample before that
    int32_t feedbackShift;      // right shift of operator 0's feedback sum
};

// The first sample of the stretch at which one of the channel's envelopes
// steps, or kNoStep.
uint32_t NextStep(const ChannelState& c) {
    uint32_t next = c.op[0].nextStep;
    for (int k = 1; k < 4; ++k) {
        next = c.op[k].nextStep < next ? c.op[k].nextStep : next;
    }
    return next;
}

// The envelope ticks of a channel's four operators at sample i: every
// operator whose step falls here steps. The operators' envelopes are
// independent of each other and of the samples, so they step together
// before the channel's first operator sounds.
inline void TickEnvelopes(ChannelState& c, FmChannel& channel, uint32_t i) {
    for (int k = 0; k < 4; ++k) {
        if (c.op[k].nextStep == i) {
            StepEnvelope(channel.op[k], c.op[k], c.lfoAttenuation[k], i);
        }
    }
    c.nextStep = NextStep(c);
}

inline void Load(ChannelState& c, const FmChannel& channel) {
    for (int k = 0; k < 4; ++k) {
        const FmOperator& op = channel.op[k];
        c.op[k].phase = op.phase;
        c.op[k].phaseStep = op.phaseStep;
        ArmEnvelope(c.op[k], op.envCounter, op.envCounterStep, 0);
        c.op[k].envOutput = op.envOutput;
        c.op[k].attenuation = static_cast<uint32_t>(op.envOutput);
        c.lfoAttenuation[k] = 0;
    }
    c.output = channel.op[0].output;
    c.previousOutput = channel.op[0].previousOutput;
    c.feedbackShift = channel.feedbackShift;
    c.nextStep = NextStep(c);
}

// The envelope writes its own fields as it steps; phase, counter and the
// feedback history go back here.
inline void Store(const ChannelState& c, FmChannel& channel, uint32_t count) {
    for (int k = 0; k < 4; ++k) {
        channel.op[k].phase = c.op[k].phase;
        channel.op[k].envCounter = EnvelopeCounter(c.op[k], count);
    }
    channel.op[0].output = c.output;
    channel.op[0].previousOutput = c.previousOutput;
}

// The LFO's pitch and amplitude modulation at a new position.
inline void MoveLfo(ChannelState& c, const FmChannel& channel, uint32_t position) {
    for (int k = 0; k < 4; ++k) {
        const FmOperator& op = channel.op[k];
        c.op[k].phaseStep = op.phaseStep + PitchLfoOffset(op, position);
        c.lfoAttenuation[k] = op.ampLfoRow[position];
        c.op[k].attenuation =
            static_cast<uint32_t>(c.op[k].envOutput) + static_cast<uint32_t>(c.lfoAttenuation[k]);
    }
}

// Operator k's sample modulated by `input`, a sample of another operator of
// the channel, or a sum of them (times 8 in phase units).
[[gnu::always_inline]] inline int32_t Modulated(ChannelState& c, int k, int32_t input) {
    return OperatorOutput(c.op[k], static_cast<uint32_t>(input) << kModulationShift);
}

// Operator k's sample unmodulated.
[[gnu::always_inline]] inline int32_t Alone(ChannelState& c, int k) {
    return OperatorOutput(c.op[k], 0);
}

// The channel's sample from operator 0's (o0) and the other three, by row
// `algorithm` of AlgorithmRoutingTable. The row's node numbers are constants
// here, so the nodes become plain locals: a node nothing wrote is a known 0,
// which leaves an operator fed from it unmodulated and a sum with it no
// addition, and what remains is the row's graph and nothing more.
template <int algorithm>
[[gnu::always_inline]] inline int32_t RouteBy(ChannelState& c, int32_t o0) {
    constexpr const uint8_t* row = AlgorithmRoutingTable[algorithm];
    int32_t node[4] = {o0, 0, 0, 0};
    node[row[1]] = WrapAdd(node[row[1]], Modulated(c, 1, node[row[0]]));
    node[row[3]] = WrapAdd(node[row[3]], Modulated(c, 2, node[row[2]]));
    return WrapAdd(Modulated(c, 3, node[row[4]]), node[row[5]]);
}

// The routing of the channel's algorithm, one per case.
[[gnu::always_inline]] inline int32_t Route(ChannelState& c, int algorithm, int32_t o0) {
    switch (algorithm & 7) {
        case 0:
            return RouteBy<0>(c, o0);
        case 1:
            return RouteBy<1>(c, o0);
        case 2:
            return RouteBy<2>(c, o0);
        case 3:
            return RouteBy<3>(c, o0);
        case 4:
            return RouteBy<4>(c, o0);
        case 5:
            return RouteBy<5>(c, o0);
        case 6:
            return RouteBy<6>(c, o0);
        case 7:
            return RouteBy<7>(c, o0);
        default:  // no other (algorithm is 0 ... 7)
            __builtin_unreachable();
    }
}

// One sample of one channel, its envelope ticks taken: operator 0 with its
// feedback, then operators 1-3 by the routing.
[[gnu::always_inline]] inline int32_t ChannelSample(ChannelState& c, int algorithm) {
    // Operator 0, fed back from its own last two samples.
    const uint32_t feedback = FeedbackInput(c.output, c.previousOutput, c.feedbackShift);
    c.previousOutput = c.output;
    c.output = OperatorOutput(c.op[0], feedback);
    // 3. and 4. Operators 1-3 by the routing, into the channel's sum.
    return Route(c, algorithm, c.output);
}

// `count` samples of a pair of channels, each added to its accumulator.
template <bool withLfo>
void RenderPair(FmChannel* const* channel, int32_t* const* sums, uint32_t lfoCount,
                uint32_t lfoStep, uint32_t count) {
    ChannelState a;
    ChannelState b;
    Load(a, *channel[0]);
    Load(b, *channel[1]);
    const int algorithmA = channel[0]->algorithm;
    const int algorithmB = channel[1]->algorithm;
    int32_t* sumA = sums[0];
    int32_t* sumB = sums[1];
    uint32_t lastPosition = kLfoPositions;  // none yet
    // The first sample at which an envelope of either channel steps.
    uint32_t nextStep = a.nextStep < b.nextStep ? a.nextStep : b.nextStep;

    for (uint32_t i = 0; i < count; ++i) {
        // 1. The LFO: its values change only when the position moves.
        if (withLfo) {
            const uint32_t position = (lfoCount >> kLfoPositionShift) & (kLfoPositions - 1);
            lfoCount += lfoStep;
            if (position != lastPosition) {
                lastPosition = position;
                MoveLfo(a, *channel[0], position);
                MoveLfo(b, *channel[1], position);
            }
        }
        // 2. The envelope ticks, on the few samples where some envelope
        // steps.
        if (i == nextStep) {
            if (i == a.nextStep) {
                TickEnvelopes(a, *channel[0], i);
            }
            if (i == b.nextStep) {
                TickEnvelopes(b, *channel[1], i);
            }
            nextStep = a.nextStep < b.nextStep ? a.nextStep : b.nextStep;
        }
        // 3.-4. The channels' samples. 5. Each joins the accumulator of its
        // pan.
        const int32_t sampleA = ChannelSample(a, algorithmA);
        const int32_t sampleB = ChannelSample(b, algorithmB);
        sumA[i] = WrapAdd(sumA[i], sampleA);
        sumB[i] = WrapAdd(sumB[i], sampleB);
    }

    Store(a, *channel[0], count);
    Store(b, *channel[1], count);
}

// 6. Pan and gain.
inline int32_t ApplyFmGain(int32_t channelSum, int32_t gain) {
    return WrapMul(channelSum >> kChannelSumShift, gain) >> kFmGainShift;
}

}  // namespace

void RenderChannels(FmChannel* const* channels, int32_t* const* sums, int n, bool withLfo,
                    uint32_t lfoCount, uint32_t lfoStep, uint32_t count) {
    for (int j = 0; j + 1 < n; j += 2) {
        if (withLfo) {
            RenderPair<true>(channels + j, sums + j, lfoCount, lfoStep, count);
        } else {
            RenderPair<false>(channels + j, sums + j, lfoCount, lfoStep, count);
        }
    }
}

void FmChip::RenderSamples(int32_t* left, int32_t* right, uint32_t count, uint32_t mask) {
    // Accumulators by pan: 3 both sides, 2 left, 1 right, 0 never heard.
    int32_t sums[4][kRenderChunk];
    for (int32_t* s : sums) {
        std::memset(s, 0, sizeof(int32_t) * count);
    }

    // A pair is computed whole when either of its channels sounds; a channel
    // left out of mixing (channel 3 beside channel 2) runs into the
    // accumulator nobody hears.
    const bool threeToFive = fm_reg::ChannelsThreeToFiveOn(reg29);
    FmChannel* rendered[6];
    int32_t* route[6];
    int n = 0;
    for (int first = 0; first < 6; first += 2) {
        if ((mask & (kPairSoundingBits << (2 * first))) == 0) {
            continue;
        }
        for (int i = first; i < first + 2; ++i) {
            rendered[n] = &channels[i];
            route[n] = sums[(i >= 3 && !threeToFive) ? 0 : pan[i]];
            ++n;
        }
    }

    // The LFO moves once per sample whenever some prepared channel needs it;
    // every channel rendered then takes the LFO form.
    const bool withLfo = (mask & kLfoBits) != 0;
    RenderChannels(rendered, route, n, withLfo, lfoCount, lfoStep, count);
    if (withLfo) {
        lfoCount += lfoStep * count;
    }

    const int32_t* both = sums[kPanBoth];
    const int32_t* leftOnly = sums[kPanLeft];
    const int32_t* rightOnly = sums[kPanRight];
    for (uint32_t i = 0; i < count; ++i) {
        left[i] = ApplyFmGain(WrapAdd(leftOnly[i], both[i]), fmGain);
        right[i] = ApplyFmGain(WrapAdd(rightOnly[i], both[i]), fmGain);
    }
}
