// FM channel: one voice of four operators, the routing that connects them
// according to one of eight algorithms, and operator 0's feedback onto
// itself. Panning is the chip's business: the channel only adds its sample to
// the accumulator the chip hands it.
//
// Registers the chip decodes into channel operations:
//   B0  --xxx---  feedback FB (0-7)        SetFeedback, then
//       -----xxx  algorithm (0-7)          SetAlgorithm (clears the feedback history)
//   B4  --xx-xxx  AMS, PMS                 SetLfoSensitivity (whole byte to all operators)
//   28  xxxx----  key bits, operator 3 ... 0   ApplyKeyBits
//   A0/A4         block / F-number word    SetFrequency (handed over by the mixer)
//
// Operator k takes its registers from offset +0, +8, +4, +12 for k = 0, 1, 2,
// 3; operator 0 has the feedback and operator 3 is always a carrier.
//
// Routing is data. Four nodes carry the sums of one sample: node 0 holds
// operator 0's sample (algorithms 1, 2 and 7 add more to it); nodes 1 ... 3
// start each sample at 0. Each of operators 1 ... 3 reads one node as its
// modulation input (times 8); operators 1 and 2 add their sample to a node;
// the channel's sample is operator 3's plus one node. A node nothing wrote
// reads 0, so an operator fed from it is unmodulated. Rows of
// AlgorithmRoutingTable, "a -> b" meaning a modulates b, "+" a sum:
//   0: 0 -> 1 -> 2 -> 3
//   1: (0 + 1) -> 2 -> 3
//   2: (0 + (1 -> 2)) -> 3
//   3: ((0 -> 1) + 2) -> 3
//   4: (0 -> 1) + (2 -> 3)
//   5: 0 -> each of 1, 2, 3; out 1 + 2 + 3
//   6: (0 -> 1) + 2 + 3
//   7: 0 + 1 + 2 + 3
//
// The channel's sample is a signed 32-bit value, at most 4 * 268435455 in
// magnitude (algorithm 7).
#pragma once

#include <cstdint>

#include "fm/operator.h"
#include "fm/tables.h"

struct FmChannel {
    int32_t feedbackShift = 0;  // right shift of operator 0's feedback sum (FeedbackShiftTable)
    // The four nodes live for one sample only, as locals of the renderer.
    int32_t operatorInput[3] = {};   // node read as modulation by operators 1, 2, 3
    int32_t operatorOutput[3] = {};  // node receiving operator 1's, operator 2's sample;
                                     // node added to operator 3's sample
    FmOperator op[4];           // operators 0 ... 3 (key-bit order)

    // Operators at power-on, algorithm 0; feedbackShift stays 0 until the
    // first feedback/algorithm write.
    FmChannel();

    // Resets the four operators; routing, feedback and parameters stay.
    void Reset();

    // As constructed: algorithm 0, no feedback, operators powered on (their
    // mutes kept).
    void PowerOn();

    // fb 0 ... 7 (masked).
    void SetFeedback(int fb);

    // a 0 ... 7 (masked): routes the operators by AlgorithmRoutingTable row a
    // and clears operator 0's feedback history, even when a is unchanged.
    void SetAlgorithm(int a);

    // Block/F-number word for all four operators.
    void SetFrequency(uint32_t word);

    // Whole B4 data byte for all four operators.
    void SetLfoSensitivity(uint8_t ms);

    // Bit 4 + k keys operator k on, a clear bit keys it off, k = 0 ... 3 in order.
    void ApplyKeyBits(uint8_t data);

    // Applies the operators' changed parameters and returns the activity for
    // the block that follows: bit 0 = some envelope is not Off (the channel
    // sounds); bit 1 = the channel needs the LFO form (operator 0's
    // sensitivity has PMS set, or AMS set while some operator has
    // amplitude modulation on).
    int ApplyParameters();
};

// Both pair renderers advance channels first[0] and first[1] by one sample,
// operator by operator side by side, and add the first channel's sample to
// accA and the second's to accB (the two may be the same accumulator; the
// additions wrap). The LFO form modulates pitch and amplitude of all eight
// operators at lfoPosition.
namespace fm_render {

// The LFO values of a channel's four operators at one LFO position; the
// plain form ignores them.
using ChannelLfo = FmOperator::LfoValues[4];

inline void LfoValuesAt(const FmChannel& ch, int32_t position, ChannelLfo& lfo) {
    for (int k = 0; k < 4; ++k) {
        lfo[k] = ch.op[k].LfoValuesAt(position);
    }
}

template <bool withLfo>
inline int32_t OperatorSample(FmOperator& op, int32_t nodeValue, const FmOperator::LfoValues& lfo) {
    uint32_t modulation = static_cast<uint32_t>(nodeValue) << 3;
    if (withLfo) {
        return op.RenderWithLfoValues(modulation, lfo);
    }
    return op.Render(modulation);
}

template <bool withLfo>
inline int32_t FeedbackSample(FmChannel& ch, const ChannelLfo& lfo) {
    if (withLfo) {
        return ch.op[0].RenderFeedbackWithLfoValues(ch.feedbackShift, lfo[0]);
    }
    return ch.op[0].RenderFeedback(ch.feedbackShift);
}

// Operator k (1 or 2) of one channel: read its input node, add its sample
// to its output node.
template <bool withLfo, int k>
inline void RouteOperator(FmChannel& ch, int32_t* nodes, const ChannelLfo& lfo) {
    int32_t sample = OperatorSample<withLfo>(ch.op[k], nodes[ch.operatorInput[k - 1]], lfo[k]);
    nodes[ch.operatorOutput[k - 1]] += sample;
}

// Operator 3 of one channel: its sample plus the output node.
template <bool withLfo>
inline int32_t ChannelSample(FmChannel& ch, const int32_t* nodes, const ChannelLfo& lfo) {
    int32_t sample = OperatorSample<withLfo>(ch.op[3], nodes[ch.operatorInput[2]], lfo[3]);
    return sample + nodes[ch.operatorOutput[2]];
}

inline void Accumulate(int32_t& acc, int32_t sample) {
    acc = static_cast<int32_t>(static_cast<uint32_t>(acc) + static_cast<uint32_t>(sample));
}

// The nodes are locals rather than channel fields: they live for one sample
// only, and writes to a local cannot alias the operator state, so the
// compiler keeps what it has loaded instead of reading it again.
template <bool withLfo>
inline void RenderPairOf(FmChannel* first, int32_t& accA, int32_t& accB) {
    FmChannel& a = first[0];
    FmChannel& b = first[1];
    ChannelLfo lfoA;
    ChannelLfo lfoB;
    int32_t nodesA[4];
    int32_t nodesB[4];

    if (withLfo) {
        LfoValuesAt(a, lfoPosition, lfoA);
        LfoValuesAt(b, lfoPosition, lfoB);
    }

    nodesA[0] = FeedbackSample<withLfo>(a, lfoA);
    nodesB[0] = FeedbackSample<withLfo>(b, lfoB);
    nodesA[1] = nodesA[2] = nodesA[3] = 0;
    nodesB[1] = nodesB[2] = nodesB[3] = 0;

    RouteOperator<withLfo, 1>(a, nodesA, lfoA);
    RouteOperator<withLfo, 1>(b, nodesB, lfoB);

    RouteOperator<withLfo, 2>(a, nodesA, lfoA);
    RouteOperator<withLfo, 2>(b, nodesB, lfoB);

    int32_t sampleA = ChannelSample<withLfo>(a, nodesA, lfoA);
    int32_t sampleB = ChannelSample<withLfo>(b, nodesB, lfoB);

    Accumulate(accA, sampleA);
    Accumulate(accB, sampleB);
}

}  // namespace fm_render

inline void RenderPair(FmChannel* first, int32_t& accA, int32_t& accB) {
    fm_render::RenderPairOf<false>(first, accA, accB);
}

inline void RenderPairWithLfo(FmChannel* first, int32_t& accA, int32_t& accB) {
    fm_render::RenderPairOf<true>(first, accA, accB);
}
