#include "fm/channel.h"

#include "fm/registers.h"

FmChannel::FmChannel() {
    SetAlgorithm(0);
}

void FmChannel::Reset() {
    for (FmOperator& o : op) {
        o.Reset();
    }
}

void FmChannel::PowerOn() {
    for (FmOperator& o : op) {
        o.PowerOn();
    }
    feedbackShift = 0;
    SetAlgorithm(0);
}

void FmChannel::SetFeedback(int fb) {
    feedbackShift = FeedbackShiftTable[fb & 7];
}

void FmChannel::SetAlgorithm(int a) {
    algorithm = a & 7;
    // The chip drops operator 0's feedback history on every algorithm write.
    op[0].output = 0;
    op[0].previousOutput = 0;
}

void FmChannel::SetFrequency(uint32_t word) {
    for (FmOperator& o : op) {
        o.SetFrequency(word);
    }
}

void FmChannel::SetLfoSensitivity(uint8_t ms) {
    for (FmOperator& o : op) {
        o.SetLfoSensitivity(ms);
    }
}

void FmChannel::ApplyKeyBits(uint8_t data) {
    for (int k = 0; k < 4; ++k) {
        if (fm_reg::KeyOnBit(data, k)) {
            op[k].KeyOn();
        } else {
            op[k].KeyOff();
        }
    }
}

int FmChannel::ApplyParameters() {
    bool sounds = false;
    bool anyAmpLfo = false;
    for (FmOperator& o : op) {
        o.ApplyParameters();
        sounds = sounds || o.envPhase != EnvelopePhase::Off;
        anyAmpLfo = anyAmpLfo || o.ampLfoOn;
    }
    // PMS (bits 0-2) always counts; AMS (bits 4-5) only when some operator
    // has amplitude modulation switched on.
    const uint8_t ms = op[0].lfoSensitivity;
    const bool lfo =
        fm_reg::PitchSensitivity(ms) != 0 || (anyAmpLfo && fm_reg::AmpSensitivity(ms) != 0);
    return (sounds ? 1 : 0) | (lfo ? 2 : 0);
}
