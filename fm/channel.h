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
// Routing: `algorithm` picks the row of AlgorithmRoutingTable that the
// renderer (fm/render.cpp) follows; the rows, each with its graph drawn
// beside it, are in fm/tables.h.
//
// The channel's sample is a signed 32-bit value, at most 4 * 268435455 in
// magnitude (algorithm 7).
#pragma once

#include <cstdint>

#include "fm/operator.h"
#include "fm/tables.h"

struct FmChannel {
    int32_t feedbackShift = 0;  // right shift of operator 0's feedback sum (FeedbackShiftTable)
    int32_t algorithm = 0;      // 0 ... 7, the routing the renderer follows
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

    // a 0 ... 7 (masked): sets `algorithm`, which routes the operators by
    // AlgorithmRoutingTable row a, and clears operator 0's feedback history,
    // even when a is unchanged.
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
