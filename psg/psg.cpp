#include "psg/psg.h"

PsgChip psgChip;

namespace {

// One line per field reader, its field drawn beside it (the formatter would make three).
// clang-format off
// Data port fields
constexpr uint8_t kLatchFlag = 0x80;                       // 1rrr dddd: latch byte
int32_t LatchRegister(uint8_t b) { return (b >> 4) & 7; }  // -rrr ----
int32_t LatchLow(uint8_t b) { return b & 0x0F; }           // ---- dddd
int32_t DataHigh(uint8_t b) { return (b & 0x3F) << 4; }    // --dd dddd -> bits 4-9

// Register file fields
constexpr int32_t kNoiseControl = 6;
constexpr int32_t kTone2Period = 4;
constexpr int32_t kPeriodLowMask = 0x00F;                          // bits the latch byte sets
constexpr int32_t kPeriodHighMask = 0x3F0;                         // bits the data byte sets
int32_t NoiseShiftMode(int32_t control) { return control & 3; }    // ---- --mm
bool NoiseIsWhite(int32_t control) { return (control & 4) != 0; }  // ---- -w--
constexpr int32_t kNoiseFollowsTone2 = 3;

bool IsTonePeriod(int32_t r) { return (r & 1) == 0 && r != kNoiseControl; }
bool IsAttenuation(int32_t r) { return (r & 1) != 0; }
// clang-format on

constexpr int32_t kWhiteFeedback = 0x12000;    // taps at bits 16 and 13
constexpr int32_t kPeriodicFeedback = 0x8000;  // one tap: a 15-bit rotation
constexpr int32_t kNoiseSeed = 0xF35;          // shift register after a reload

constexpr int32_t kSampleTime = 65536;      // one output sample, time units
constexpr uint32_t kSumLimit = 0x7FFF0000;  // level-time sum clamp
constexpr int32_t kSilent = 15;             // attenuation that mutes a voice
constexpr int32_t kMixStretch = 1024;       // samples mixed voice by voice at a time

// Full level and the 2 dB step between attenuation values.
constexpr double kFullLevel = 10922.0;
constexpr double kStepFactor = 0.7943282345944098;  // 10^(-0.1)

// A tone voice flips every register x 16 clocks; register 0 counts as 1.
void UpdateTonePeriod(PsgChip& chip, int32_t r) {
    int32_t voice = r >> 1;
    int32_t value = chip.registers[r];
    chip.period[voice] = chip.tick * (value == 0 ? 1 : value);
    if (r == kTone2Period && NoiseShiftMode(chip.registers[kNoiseControl]) == kNoiseFollowsTone2) {
        chip.period[kPsgNoiseVoice] = 2 * chip.period[2];
    }
}

// Noise control shifts every 512 << mode clocks (tick x 32, 64, 128), or once
// per full cycle of tone 2 (two of its half-periods).
void UpdateNoiseControl(PsgChip& chip) {
    int32_t control = chip.registers[kNoiseControl];
    chip.feedback = NoiseIsWhite(control) ? kWhiteFeedback : kPeriodicFeedback;
    int32_t mode = NoiseShiftMode(control);
    if (mode == kNoiseFollowsTone2) {
        chip.period[kPsgNoiseVoice] = 2 * chip.period[2];
    } else {
        chip.period[kPsgNoiseVoice] = chip.tick << (mode + 5);
    }
    chip.shiftRegister = kNoiseSeed;
    chip.output[kPsgNoiseVoice] = 1;
}

// Time units of one sample during which a square voice was high. The counter
// may run out up to twice inside one sample (periods shorter than a sample);
// two flips leave the output as it was and add one period of high time.
int32_t StepTone(int32_t& counter, int32_t& output, int32_t period) {
    int32_t high = output ? counter : 0;
    counter -= kSampleTime;
    while (counter <= 0) {
        counter += period;
        if (counter > 0) {
            output ^= 1;
            if (output) high += period;
            break;
        }
        counter += period;
        high += period;
        if (counter > 0) break;
    }
    if (output) high -= counter;
    return high;
}

// Time units of one sample during which the noise voice was high; the
// register shifts each time the counter runs out.
int32_t StepNoise(PsgChip& chip) {
    int32_t counter = chip.counter[kPsgNoiseVoice];
    int32_t output = chip.output[kPsgNoiseVoice];
    int32_t period = chip.period[kPsgNoiseVoice];
    uint32_t shift = static_cast<uint32_t>(chip.shiftRegister);
    const uint32_t feedback = static_cast<uint32_t>(chip.feedback);
    int32_t high = 0;
    int32_t remaining = kSampleTime;
    while (remaining > 0) {
        int32_t step = counter < remaining ? counter : remaining;
        if (output) high += counter;
        counter -= step;
        if (counter <= 0) {
            if (shift & 1) shift ^= feedback;
            shift >>= 1;
            output = static_cast<int32_t>(shift & 1);
            counter += period;
            if (output) high += period;
        }
        if (output) high -= counter;
        remaining -= step;
    }
    chip.counter[kPsgNoiseVoice] = counter;
    chip.output[kPsgNoiseVoice] = output;
    chip.shiftRegister = static_cast<int32_t>(shift);
    return high;
}

}  // namespace

int32_t PsgInit(int32_t clock, int32_t rate) {
    PsgChip& chip = psgChip;
    chip.rate = rate;
    SetTick(clock);
    BuildLevels();
    for (int32_t v = 0; v < kPsgVoices; ++v)
        chip.amplitude[v] = 0;
    chip.latched = 0;
    for (int32_t r = 0; r < kPsgRegisters; ++r)
        chip.registers[r] = IsAttenuation(r) ? kSilent : 0;
    for (int32_t v = 0; v < kPsgVoices; ++v) {
        chip.output[v] = 0;
        chip.counter[v] = chip.tick;
        chip.period[v] = chip.tick;
    }
    chip.shiftRegister = kNoiseSeed;
    chip.feedback = 0;
    chip.output[kPsgNoiseVoice] = 1;
    return 0;
}

void PsgWrite(uint8_t data) {
    PsgChip& chip = psgChip;
    if (data & kLatchFlag) {
        int32_t r = LatchRegister(data);
        chip.latched = r;
        chip.registers[r] = (chip.registers[r] & kPeriodHighMask) | LatchLow(data);
        if (IsTonePeriod(r)) {
            UpdateTonePeriod(chip, r);
        } else if (IsAttenuation(r)) {
            chip.amplitude[r >> 1] = chip.levels[LatchLow(data)];
        } else {
            UpdateNoiseControl(chip);
        }
        return;
    }
    // Attenuation and noise control take their value from the latch alone.
    int32_t r = chip.latched;
    if (!IsTonePeriod(r)) return;
    chip.registers[r] = DataHigh(data) | (chip.registers[r] & kPeriodLowMask);
    UpdateTonePeriod(chip, r);
}

void PsgMix(int16_t* buffer, int32_t count) {
    PsgChip& chip = psgChip;
    // A silent voice is not stepped: it neither flips nor shifts its noise
    // register during this call. A counter that would run out inside the call
    // is pushed past its end and so comes out unchanged; a longer one is
    // counted down by the call's length. span fits for count below 32768.
    const int32_t span = count * kSampleTime;
    bool sounding[kPsgVoices];
    for (int32_t v = 0; v < kPsgVoices; ++v) {
        sounding[v] = chip.amplitude[v] != 0;
        if (!sounding[v] && chip.counter[v] > span) chip.counter[v] -= span;
    }

    // Voice by voice over a stretch of samples: each voice keeps its counter
    // and output in registers for the whole stretch, and the level-time
    // sums (wrapping, so the order of the voices changes nothing) are
    // clamped once all four have added.
    uint32_t sum[kMixStretch];
    for (int32_t done = 0; done < count; done += kMixStretch) {
        const int32_t n = count - done < kMixStretch ? count - done : kMixStretch;
        for (int32_t i = 0; i < n; ++i)
            sum[i] = 0;
        for (int32_t v = 0; v < 3; ++v) {
            if (!sounding[v]) continue;  // silent: not stepped (above)
            int32_t counter = chip.counter[v];
            int32_t output = chip.output[v];
            const int32_t period = chip.period[v];
            const uint32_t amplitude = static_cast<uint32_t>(chip.amplitude[v]);
            for (int32_t i = 0; i < n; ++i) {
                sum[i] += amplitude * static_cast<uint32_t>(StepTone(counter, output, period));
            }
            chip.counter[v] = counter;
            chip.output[v] = output;
        }
        if (sounding[kPsgNoiseVoice]) {
            const uint32_t amplitude = static_cast<uint32_t>(chip.amplitude[kPsgNoiseVoice]);
            for (int32_t i = 0; i < n; ++i) {
                sum[i] += amplitude * static_cast<uint32_t>(StepNoise(chip));
            }
        }
        int16_t* out = buffer + done;
        for (int32_t i = 0; i < n; ++i) {
            const uint32_t clamped = sum[i] > kSumLimit ? kSumLimit : sum[i];
            out[i] = static_cast<int16_t>(((clamped >> 16) * 3) >> 2);
        }
    }
}

// tick = rate x 2^20 / clock: 16 input clocks in 1/65536 of a sample.
void SetTick(int32_t clock) {
    PsgChip& chip = psgChip;
    chip.tick = static_cast<int32_t>(static_cast<double>(chip.rate) * 1048576.0 / clock);
}

// level[k] = trunc(10922 x 10^(-k/10)) for k = 0 ... 14, stepping the factor
// in double precision; level[15] = 0.
void BuildLevels() {
    PsgChip& chip = psgChip;
    double x = kFullLevel;
    for (int32_t k = 0; k < kSilent; ++k) {
        chip.levels[k] = static_cast<int32_t>(x);
        x *= kStepFactor;
    }
    chip.levels[kSilent] = 0;
}
