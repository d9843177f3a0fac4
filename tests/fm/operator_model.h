// A plain per-sample model of one operator, written the slow and obvious way
// (the counter ticked every sample, the LFO values worked out every sample),
// for checking the renderer in fm/render.cpp against.
#pragma once

#include <cstdint>

#include "fm/operator.h"
#include "fm/tables.h"

namespace opmodel {

// The envelope tick: count down, step when the counter was at most the step.
inline void Tick(FmOperator& op) {
    uint32_t before = op.envCounter;
    op.envCounter = before - op.envCounterStep;
    if (before <= op.envCounterStep) {
        op.StepEnvelope();
    }
}

// One sample of the operator for a modulation input in phase units, at LFO
// position `position` when `lfo` is set.
inline int32_t Sample(FmOperator& op, uint32_t modulation, int32_t position = 0, bool lfo = false) {
    Tick(op);
    uint32_t step = op.phaseStep;
    uint32_t attenuation = static_cast<uint32_t>(op.envOutput);
    if (lfo) {
        uint32_t product = op.pitchLfoScale * static_cast<uint32_t>(op.pitchLfoRow[position]);
        step += static_cast<uint32_t>(static_cast<int32_t>(product) >> 5);
        attenuation += static_cast<uint32_t>(op.ampLfoRow[position]);
    }
    op.phase += step;
    return LevelTable[static_cast<uint32_t>(LogSineTable[((modulation + op.phase) >> 19) & 1023]) +
                      attenuation];
}

// Operator 0: its last two samples, summed, shifted left 2 and right by the
// feedback shift, are its input; the new sample becomes `output`.
inline int32_t FeedbackSample(FmOperator& op, int32_t feedbackShift, int32_t position = 0,
                              bool lfo = false) {
    uint32_t sum = (static_cast<uint32_t>(op.output) + static_cast<uint32_t>(op.previousOutput))
                   << 2;
    uint32_t modulation = static_cast<uint32_t>(static_cast<int32_t>(sum) >> feedbackShift);
    // The tick comes first in the real order; it does not touch the history.
    int32_t s = Sample(op, modulation, position, lfo);
    op.previousOutput = op.output;
    op.output = s;
    return s;
}

}  // namespace opmodel
