#include "fm/operator.h"

#include "fm/registers.h"

namespace {

// Attenuation ceiling in envelope units: 1023 is silence.
constexpr int32_t kMaxAttenuation = 1023;

// A phase's end level beyond every real level, for phases that end only by
// running off the bottom (sustain, release) or never (off).
constexpr uint32_t kEnvelopeFloor = 1024;

// Rates at or above this are instant: an attack jumps to full level, a
// release to silence.
constexpr uint32_t kInstantRate = 62;

}  // namespace

FmOperator::FmOperator() {
    // The member initialisers give the zero fields, row 0 of both LFO tables
    // and the zero rates; what follows is the power-on state proper.
    envOutput = kMaxAttenuation;
    totalLevelLatch = 127;
    totalLevel = 127;
    EnterEnvelopePhase(EnvelopePhase::Off);
    envCounter = 0;
    phase = 0;
    previousOutput = 0;
    output = 0;
    paramsChanged = true;
}

void FmOperator::SetDetuneMultiple(uint8_t data) {
    detuneRow = fm_reg::Detune(data) * 32u;
    multiple = fm_reg::Multiple(data);
    paramsChanged = true;
}

void FmOperator::SetTotalLevel(uint8_t data, bool latchOnly) {
    totalLevelLatch = fm_reg::TotalLevel(data);
    if (!latchOnly) {
        totalLevel = totalLevelLatch;
        paramsChanged = true;
    }
}

void FmOperator::SetKeyScaleAttack(uint8_t data) {
    keyScale = fm_reg::KeyScale(data);
    attackRate = fm_reg::AttackRate(data) * 2u;
    paramsChanged = true;
}

void FmOperator::SetAmDecay(uint8_t data) {
    decayRate = fm_reg::DecayRate(data) * 2u;
    ampLfoOn = fm_reg::AmOn(data);
    paramsChanged = true;
}

void FmOperator::SetSustainRate(uint8_t data) {
    sustainRate = fm_reg::SustainRate(data) * 2u;
    paramsChanged = true;
}

void FmOperator::SetSustainLevelRelease(uint8_t data) {
    sustainLevel = SustainLevelTable[fm_reg::SustainLevel(data)];
    releaseRate = fm_reg::ReleaseRate(data) * 4u + 2u;
    paramsChanged = true;
}

void FmOperator::SetSsgEg(uint8_t data) {
    // The SSG-type envelope is kept for completeness; nothing plays it.
    ssgEg = fm_reg::SsgEg(data);
}

void FmOperator::SetFrequency(uint32_t word) {
    pitch = fm_reg::Fnumber(word) << fm_reg::Block(word);
    keyCode = KeyCodeTable[fm_reg::KeyCodeIndex(word)];
    paramsChanged = true;
}

void FmOperator::SetLfoSensitivity(uint8_t ms) {
    lfoSensitivity = ms;
    paramsChanged = true;
}

void FmOperator::SetMuted(bool flag) {
    muted = flag;
    paramsChanged = true;
}

uint32_t FmOperator::ScaledRate(uint32_t rate) const {
    if (rate == 0) {
        return 0;
    }
    uint32_t scaled = rate + static_cast<uint32_t>(keyScaleRate);
    return scaled < 63u ? scaled : 63u;
}

void FmOperator::ApplyParameters() {
    if (!paramsChanged) {
        return;
    }
    paramsChanged = false;

    // Detune shifts the pitch before the multiple; both wrap.
    uint32_t detune =
        static_cast<uint32_t>(static_cast<int32_t>(DetuneTable[detuneRow / 32u][keyCode]));
    phaseStep = (pitch + detune) * MultipleTable[multiple];
    pitchLfoScale = phaseStep >> 11;

    keyScaleRate = static_cast<int32_t>(keyCode >> (3u - keyScale));
    totalLevelOut = muted ? kMaxAttenuation : static_cast<int32_t>(totalLevel) * 8;

    // The current phase picks up the new key scaling at once.
    switch (envPhase) {
        case EnvelopePhase::Attack:
            SelectEnvelopeRate(ScaledRate(attackRate));
            break;
        case EnvelopePhase::Decay:
            SelectEnvelopeRate(ScaledRate(decayRate));
            envEnd = sustainLevel * 8u;
            break;
        case EnvelopePhase::Sustain:
            SelectEnvelopeRate(ScaledRate(sustainRate));
            break;
        case EnvelopePhase::Release: {
            uint32_t rate = releaseRate + static_cast<uint32_t>(keyScaleRate);
            SelectEnvelopeRate(rate < 63u ? rate : 63u);
            break;
        }
        default:
            break;
    }

    int32_t attenuation = envLevel + totalLevelOut;
    envOutput = (attenuation < kMaxAttenuation ? attenuation : kMaxAttenuation) * 2;

    ampLfoRow = AmpLfoTable[ampLfoOn ? fm_reg::AmpSensitivity(lfoSensitivity) : 0u];
    pitchLfoRow = PitchLfoTable[fm_reg::PitchSensitivity(lfoSensitivity)];
}

void FmOperator::SelectEnvelopeRate(uint32_t rate) {
    envCounterStep = EnvelopeRateTable[rate];
    // Fast rates steepen the attack curve and speed up the other phases.
    int32_t shift = 15 - static_cast<int32_t>(rate / 4u);
    if (shift < 1) {
        shift = 1;
    } else if (shift > 4) {
        shift = 4;
    }
    attackShift = shift;
    envIncrement = 16 >> shift;
}

void FmOperator::EnterEnvelopePhase(EnvelopePhase newPhase) {
    // Each case may fall through to the phase that replaces it.
    switch (newPhase) {
        case EnvelopePhase::Attack:
            totalLevel = totalLevelLatch;
            if (attackRate + static_cast<uint32_t>(keyScaleRate) < kInstantRate) {
                // The attack starts from whatever level the envelope is at.
                SelectEnvelopeRate(
                    attackRate == 0 ? 0u : attackRate + static_cast<uint32_t>(keyScaleRate));
                envPhase = EnvelopePhase::Attack;
                return;
            }
            [[fallthrough]];
        case EnvelopePhase::Decay:
            if (sustainLevel != 0) {
                envLevel = 0;
                envEnd = sustainLevel * 8u;
                SelectEnvelopeRate(ScaledRate(decayRate));
                envPhase = EnvelopePhase::Decay;
                return;
            }
            [[fallthrough]];
        case EnvelopePhase::Sustain:
            envEnd = kEnvelopeFloor;
            envLevel = sustainLevel * 8;
            SelectEnvelopeRate(ScaledRate(sustainRate));
            envPhase = EnvelopePhase::Sustain;
            return;
        case EnvelopePhase::Release:
            if (envPhase == EnvelopePhase::Attack ||
                (envLevel < static_cast<int32_t>(kEnvelopeFloor) &&
                 envPhase != EnvelopePhase::Off)) {
                envEnd = kEnvelopeFloor;
                uint32_t rate = releaseRate + static_cast<uint32_t>(keyScaleRate);
                SelectEnvelopeRate(rate < 63u ? rate : 63u);
                envPhase = EnvelopePhase::Release;
                return;
            }
            [[fallthrough]];
        default:
            envEnd = kEnvelopeFloor;
            envLevel = kMaxAttenuation;
            SelectEnvelopeRate(0);
            envPhase = EnvelopePhase::Off;
            return;
    }
}

void FmOperator::AdvanceEnvelopePhase() {
    switch (envPhase) {
        case EnvelopePhase::Attack:
            EnterEnvelopePhase(EnvelopePhase::Decay);
            break;
        case EnvelopePhase::Decay:
            EnterEnvelopePhase(EnvelopePhase::Sustain);
            break;
        case EnvelopePhase::Sustain:
            // A sustain only ends at the floor, so the release entry finds the
            // level there and goes on to Off.
            EnterEnvelopePhase(EnvelopePhase::Release);
            break;
        default:
            EnterEnvelopePhase(EnvelopePhase::Off);
            break;
    }
}

void FmOperator::KeyOn() {
    if (keyOn) {
        return;
    }
    keyOn = true;
    if (envPhase == EnvelopePhase::Release || envPhase == EnvelopePhase::Off) {
        EnterEnvelopePhase(EnvelopePhase::Attack);
        previousOutput = 0;
        output = 0;
        phase = 0;
    }
}

void FmOperator::KeyOff() {
    if (!keyOn) {
        return;
    }
    keyOn = false;
    bool instant = releaseRate + static_cast<uint32_t>(keyScaleRate) >= kInstantRate;
    EnterEnvelopePhase(instant ? EnvelopePhase::Off : EnvelopePhase::Release);
}

void FmOperator::PowerOn() {
    const bool keepMuted = muted;
    *this = FmOperator();
    muted = keepMuted;
}

void FmOperator::Reset() {
    envOutput = kMaxAttenuation;
    totalLevelLatch = 127;
    totalLevel = 127;
    EnterEnvelopePhase(EnvelopePhase::Off);
    paramsChanged = true;
    envCounter = 0;
    phase = 0;
    previousOutput = 0;
    output = 0;
}
