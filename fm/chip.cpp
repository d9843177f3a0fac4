// FmChip setup, reset, register decoding, timers and status. The mixing side
// of the chip is in mixer.cpp.
#include "fm/chip.h"

#include <new>

#include "fm/registers.h"
#include "fm/tables.h"

FmChip fmChip;

namespace {

// The chip computes one sample every 12 cycles of its prescaled clock.
constexpr uint32_t kCyclesPerChipSample = 12;
// Clock divisor of each prescaler setting (registers 0x2D, 0x2E, 0x2F).
constexpr uint32_t PrescalerDivisorTable[3] = {6, 3, 2};
// With interpolation the search for the synthesis rate starts from the
// default prescaler's chip rate, clock / (6 * 12) once halved.
constexpr uint32_t kInterpolationClockDivisor = 36;

using fm_chip::kPcmZeroLevel;
using fm_chip::kResampleUnit;

// One internal sample must cover more than half an output frame and less
// than a whole one.
constexpr uint32_t kResampleStepMax = kResampleUnit - 1;
constexpr uint32_t kResampleStepMin = kResampleUnit / 2;

// Byte 0 of the queue carries the previous mix's last byte over.
constexpr int32_t kPcmQueueLimit = FmChip::kPcmQueueSize - 1;

int32_t LfoStepFor(uint8_t control) {
    return fm_reg::LfoOn(control) ? LfoSpeedTable[fm_reg::LfoRate(control)] : 0;
}

}  // namespace

// ---------------------------------------------------------------------------
// Timer part

void ChipTimer::ResetChip() {
    ResetTimers();
}

ChipTimer::~ChipTimer() = default;

void ChipTimer::ResetTimers() {
    status = 0;
    SelectPrescaler(0);
}

void ChipTimer::SelectPrescaler(uint8_t index) {
    if (index == prescaler) {
        return;
    }
    prescaler = index;
    uint32_t fmClock = clock / PrescalerDivisorTable[index];
    uint32_t chipRate = fmClock / kCyclesPerChipSample;
    // A zero synthesis rate only comes from a zero output rate; the ratio
    // then stays 0 and every phase and envelope stands still.
    rateRatio = synthesisRate == 0 ? 0 : (chipRate * 256 + synthesisRate / 2) / synthesisRate;
    SetRateRatio(rateRatio);
}

// ---------------------------------------------------------------------------
// Setup

FmChip::FmChip() : csmChannel(&channels[2]) {
    // The channels have constructed their operators and selected algorithm 0;
    // the resampler starts empty with a whole output frame to cover.
    BuildSynthesisTables();
}

FmChip::~FmChip() = default;

bool FmChip::Initialize(uint32_t newClock, uint32_t rate, bool newInterpolate) {
    SetClockAndRate(newClock, rate, newInterpolate);
    uint8_t current = prescaler;
    prescaler = 255;
    SelectPrescaler(current);
    if (!pcmQueue) {
        pcmQueue.reset(new (std::nothrow) uint8_t[kPcmQueueSize]());
        pcmFrames.reset(new (std::nothrow) uint32_t[kPcmQueueSize]());
        if (!pcmQueue || !pcmFrames) {
            pcmQueue.reset();
            pcmFrames.reset();
            return false;
        }
    }
    ResetChip();
    SetFmGain(0);
    SetPsgGain(0);
    SetPcmGain(0);
    SetMutedChannels(0);
    return true;
}

bool FmChip::SetClockAndRate(uint32_t newClock, uint32_t rate, bool newInterpolate) {
    interpolate = newInterpolate;
    uint32_t rateHz = rate;
    if (interpolate) {
        // Halve the chip rate until one internal sample covers more than
        // half an output frame.
        uint32_t d = newClock / kInterpolationClockDivisor;
        uint32_t r = 0;
        do {
            d >>= 1;
            if (d == 0) {
                // No rate to resample from (a clock below 72 Hz or a zero
                // output rate): run the channels at the output rate.
                interpolate = false;
                break;
            }
            r = rate * kResampleUnit / d;
            resampleStep = static_cast<int32_t>(r);
            if (r > kResampleStepMax) {
                interpolate = false;
            }
        } while (r <= kResampleStepMin);
        // An output rate at or above the halved chip rate cannot be reached
        // by down-sampling; the channels then run at the output rate so that
        // the pitch stays right.
        if (interpolate) {
            rateHz = d;
        }
    }
    clock = newClock;
    synthesisRate = rateHz;

    uint8_t current = prescaler;
    prescaler = 255;
    if (current != 255) {
        SelectPrescaler(current);
    }
    lfoStep = static_cast<uint32_t>(LfoStepFor(lfoControl));
    return true;
}

void FmChip::ResetChip() {
    // A song must sound the same whatever played before it, so the reset
    // starts from the state the chip was built with: keys up, every operator
    // parameter and derived value as at power-on, the frequency latches 0
    // (else the zero writes below would rebuild each word from the old high
    // byte), the resampler empty.
    for (FmChannel& channel : channels) {
        channel.PowerOn();
    }
    for (int i = 0; i < 6; ++i) {
        fnumHigh[i] = 0;
        blockFnum[i] = 0;
    }
    for (int i = 0; i < 3; ++i) {
        slotFnumHigh[i] = 0;
        slotBlockFnum[i] = 0;
    }
    resamplePhase = fm_chip::kResamplePhaseStart;
    resampleLeft = 0;
    resampleRight = 0;

    // Every register zeroed, in ascending order within each range; 0x28-0x2F
    // are not written (the PCM state is cleared below, the prescaler by the
    // timer reset).
    struct Range {
        uint32_t first, last;
    };
    static constexpr Range ResetRangeTable[] = {
        {0x020, 0x027}, {0x030, 0x0BF}, {0x130, 0x1BF}, {0x100, 0x10F}, {0x010, 0x01F},
    };
    for (const Range& range : ResetRangeTable) {
        for (uint32_t address = range.first; address <= range.last; ++address) {
            WriteRegister(address, 0);
        }
    }
    ResetTimers();
    for (uint8_t& p : pan) {
        p = 3;
    }
    // The channel reset comes after the register writes, so its total level
    // of 127 wins over the zeros just written.
    for (FmChannel& channel : channels) {
        channel.Reset();
    }
    reg29 = 0x1F;
    statusMask = 0xE3;
    lfoCount = 0;
    lfoStep = 0;
    if (pcmQueue) {
        pcmQueue[0] = kPcmZeroLevel;
    }
    pcmCount = 0;
    pcmLast = 0;
    pcmEnabled = 0;
    pcmStretchLeft = 0;
    pcmPosition = 0;
    pcmStep = 0;
    pcmTimed = false;
    pcmFrameDone = 0;
    pcmNext = 1;
    OnInterruptLine((statusMask & fm_reg::InterruptEnables(reg29) & status) != 0);
}

// ---------------------------------------------------------------------------
// Status and interrupt line

void FmChip::RaiseStatus(uint8_t bits) {
    if (status & bits) {
        return;
    }
    status |= bits & statusMask;
    OnInterruptLine((statusMask & fm_reg::InterruptEnables(reg29) & status) != 0);
}

void FmChip::ClearStatus(uint8_t bits) {
    status &= static_cast<uint8_t>(~bits);
    OnInterruptLine((status & statusMask & fm_reg::InterruptEnables(reg29)) != 0);
}

void FmChip::OnInterruptLine(bool) {}

// ---------------------------------------------------------------------------
// Register decoding

void FmChip::WriteRegister(uint32_t address, uint8_t data) {
    using namespace fm_reg;
    address &= kAddressMask;
    const uint32_t port = Port(address);
    const uint32_t reg = Register(address);
    const uint32_t low = ChannelLow(reg);
    // The channel a channel-addressed register reaches; low bits 3 reach none.
    const int ch = static_cast<int>(low + port * 3);

    if (reg >= kFirstOperatorRegister && reg <= kLastOperatorRegister) {
        if (low != kNoChannel) {
            WriteOperatorRegister(channels[ch], reg, data);
        }
        return;
    }
    if (reg >= kFirstChannelRegister && reg <= kLastChannelRegister) {
        if (low == kNoChannel) {
            return;
        }
        switch (ChannelGroup(reg)) {
            case kFrequencyLow:  // latches the waiting high byte
                blockFnum[ch] = FrequencyWord(fnumHigh[ch], data);
                break;
            case kFrequencyHigh:  // waits for the low byte
                fnumHigh[ch] = data;
                break;
            case kSlotFrequencyLow:  // channel 2's operators, port 0 only
                if (port == 0) {
                    slotBlockFnum[low] = FrequencyWord(slotFnumHigh[low], data);
                }
                break;
            case kSlotFrequencyHigh:
                if (port == 0) {
                    slotFnumHigh[low] = data;
                }
                break;
            case kFeedbackAlgorithm:
                channels[ch].SetFeedback(Feedback(data));
                channels[ch].SetAlgorithm(Algorithm(data));
                break;
            case kPanLfoSensitivity:
                pan[ch] = fm_reg::Pan(data);
                channels[ch].SetLfoSensitivity(data);
                break;
        }
        return;
    }
    if (port == 1) {
        if (reg == kStatusControl) {
            if (ClearsAllStatus(data)) {
                status = 0;
                OnInterruptLine(false);
            } else {
                statusMask = static_cast<uint8_t>(~StatusHold(data));
            }
        }
        return;
    }

    switch (reg) {
        case kLfoControl:
            if (LfoOn(data) != LfoOn(lfoControl)) {
                lfoCount = 0;
            }
            lfoControl = data;
            lfoStep = static_cast<uint32_t>(LfoStepFor(data));
            break;
        case kModeControl:
            mode = data;
            if (ClearsTimerAFlag(data)) {
                ClearStatus(1);
            }
            if (ClearsTimerBFlag(data)) {
                ClearStatus(2);
            }
            break;
        case kKeyControl:
            WriteKey(data);
            break;
        case kChannelControl:
            reg29 = data;
            break;
        case kPcmData:  // dropped when PCM is off, the queue is full or missing
            if (pcmEnabled != 0 && pcmCount < kPcmQueueLimit && pcmQueue) {
                ++pcmCount;
                pcmQueue[pcmCount] = data;
            }
            break;
        case kPcmControl:
            pcmEnabled = PcmOn(data) ? 0x80 : 0;
            break;
        case kPrescaler0:
        case kPrescaler0 + 1:
        case kPrescaler2:
            SelectPrescaler(static_cast<uint8_t>(reg - kPrescaler0));
            break;
        default:  // timers 0x24-0x26 and unassigned addresses
            break;
    }
}

void FmChip::WriteOperatorRegister(FmChannel& channel, uint32_t address, uint8_t data) {
    using namespace fm_reg;
    FmOperator& op = channel.op[OperatorSlotMap[OperatorOffset(address)]];
    switch (Group(address)) {
        case kDetuneMultiple:
            op.SetDetuneMultiple(data);
            break;
        case kTotalLevel:
            // In CSM mode channel 2's levels wait for the next key-on.
            op.SetTotalLevel(data, CsmMode() && &channel == csmChannel);
            break;
        case kKeyScaleAttack:
            op.SetKeyScaleAttack(data);
            break;
        case kAmDecay:
            op.SetAmDecay(data);
            break;
        case kSustainRate:
            op.SetSustainRate(data);
            break;
        case kSustainLevelRelease:
            op.SetSustainLevelRelease(data);
            break;
        case kSsgEg:
            op.SetSsgEg(data);
            break;
        default:
            break;
    }
}

void FmChip::WriteKey(uint8_t data) {
    const int index = fm_reg::KeyChannel(data);
    if (index < 0) {
        return;
    }
    FmChannel& channel = channels[index];
    if (CsmMode() && &channel == csmChannel) {
        // In CSM mode channel 2 is keyed on by the timer alone; the register
        // can only key its operators off.
        for (int k = 0; k < 4; ++k) {
            if (!fm_reg::KeyOnBit(data, k)) {
                channel.op[k].KeyOff();
            }
        }
        return;
    }
    channel.ApplyKeyBits(data);
}
