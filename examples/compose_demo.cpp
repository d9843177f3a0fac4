// compose_demo: writes Tamboril's demo song, "First Light", as a ZIP archive
// holding DEMO.GYM and DEMO.GYI (title and loop frame).
//
//   compose_demo [OUT]     default OUT: demo.gym.zip
//
// The song is in A minor at 128.6 beats a minute: a sixteenth note lasts 7
// frames, a bar 112. Four bars of intro, then a 16-bar loop (verse and
// bridge) that the GYI sends back to: 20 bars, 37.3 s a pass.
//
// Voices:
//   FM 1  lead        algorithm 4, detuned pair, vibrato from the LFO
//   FM 2  bass        algorithm 4, plucked
//   FM 3-5 chords     algorithm 4, electric-piano stabs, three-note voicings
//   FM 6  PCM drums   kick and snare streamed through the DAC at 7980 Hz
//   PSG 1 arpeggio    chord tones in sixteenths, each note decaying
//   PSG 2 echo        the arpeggio three sixteenths later, quieter
//   PSG noise         hi-hats on the eighths, an open hat before each bar
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "song_builder.h"

namespace {

// ---------------------------------------------------------------------------
// Time

constexpr int kFramesPerStep = 7;  // one sixteenth note
constexpr int kStepsPerBar = 16;
constexpr int kFramesPerBar = kFramesPerStep * kStepsPerBar;
constexpr int kIntroBars = 4;
constexpr int kBars = 20;
constexpr int kFrames = kBars * kFramesPerBar;
constexpr uint32_t kLoopFrame = kIntroBars * kFramesPerBar;  // markers before bar 5

// ---------------------------------------------------------------------------
// Chips

constexpr double kFmClock = 7670453.0;   // the console's FM master clock, Hz
constexpr double kPsgClock = 3579545.0;  // the PSG's clock, Hz
constexpr int kDacBytesPerFrame = 133;   // 7980 Hz

// Operator register offsets in the order operator 1, 2, 3, 4: the chip keeps
// them at +0, +8, +4, +C.
constexpr uint32_t kOperatorOffsetTable[4] = {0x0, 0x8, 0x4, 0xC};
// Key register channel codes for FM channels 1-6.
constexpr uint8_t kKeyCodeTable[6] = {0, 1, 2, 4, 5, 6};

struct Operator {
    uint8_t detune, multiple, totalLevel, keyScale, attack, decay, sustainRate, sustainLevel,
        release;
};

struct Patch {
    uint8_t algorithm, feedback;
    Operator op[4];  // operators 1-4
};

// (1 -> 2) + (3 -> 4): two carriers.
constexpr Patch kLeadPatch = {4,
                              5,
                              {{0, 1, 28, 1, 31, 6, 2, 3, 6},
                               {3, 1, 14, 1, 28, 4, 1, 2, 7},
                               {0, 2, 40, 1, 31, 8, 3, 4, 6},
                               {7, 1, 18, 1, 28, 4, 1, 2, 7}}};
constexpr Patch kBassPatch = {4,
                              6,
                              {{0, 0, 24, 2, 31, 12, 4, 5, 9},
                               {0, 1, 10, 2, 31, 9, 3, 3, 10},
                               {0, 3, 36, 2, 31, 16, 6, 8, 9},
                               {0, 1, 14, 2, 31, 10, 3, 4, 10}}};
constexpr Patch kPianoPatch = {4,
                               2,
                               {{0, 1, 38, 1, 31, 10, 3, 6, 6},
                                {0, 1, 24, 1, 30, 7, 2, 4, 6},
                                {0, 14, 50, 1, 31, 18, 8, 12, 8},
                                {0, 1, 26, 1, 30, 6, 2, 4, 6}}};

// ---------------------------------------------------------------------------
// Harmony and melody (MIDI note numbers; 69 = A4)

struct Chord {
    int bass;       // root, bass register
    int voices[3];  // for the three chord channels
    int arp[4];     // PSG arpeggio, an octave up
};

constexpr Chord kAm = {45, {57, 60, 64}, {69, 72, 76, 81}};
constexpr Chord kF = {41, {57, 60, 65}, {65, 69, 72, 77}};
constexpr Chord kC = {48, {55, 60, 64}, {67, 72, 76, 79}};
constexpr Chord kG = {43, {55, 59, 62}, {67, 71, 74, 79}};
constexpr Chord kE = {40, {56, 59, 64}, {68, 71, 76, 80}};
constexpr Chord kDm = {38, {57, 62, 65}, {62, 65, 69, 74}};

const Chord* const kProgression[kBars] = {
    &kAm, &kF, &kC, &kG,                         // intro
    &kAm, &kF, &kC, &kG, &kAm, &kF, &kC,  &kE,   // verse
    &kDm, &kG, &kC, &kF, &kDm, &kE, &kAm, &kAm,  // bridge
};

struct Note {
    int bar, step, length, pitch;  // step and length in sixteenths
};

const std::vector<Note> kMelody = {
    {4, 0, 4, 76},   {4, 4, 2, 74},   {4, 6, 2, 72},   {4, 8, 4, 69},   {4, 12, 2, 72},
    {4, 14, 2, 76},  {5, 0, 6, 77},   {5, 6, 2, 76},   {5, 8, 4, 72},   {5, 12, 4, 69},
    {6, 0, 4, 79},   {6, 4, 4, 76},   {6, 8, 2, 72},   {6, 10, 2, 74},  {6, 12, 4, 76},
    {7, 0, 8, 74},   {7, 8, 4, 71},   {7, 12, 4, 67},  {8, 0, 4, 76},   {8, 4, 4, 81},
    {8, 8, 2, 79},   {8, 10, 2, 76},  {8, 12, 4, 72},  {9, 0, 4, 77},   {9, 4, 4, 81},
    {9, 8, 4, 84},   {9, 12, 4, 81},  {10, 0, 6, 79},  {10, 6, 2, 76},  {10, 8, 4, 79},
    {10, 12, 4, 84}, {11, 0, 8, 83},  {11, 8, 8, 80},  {12, 0, 4, 81},  {12, 4, 4, 77},
    {12, 8, 4, 74},  {12, 12, 4, 77}, {13, 0, 6, 79},  {13, 6, 2, 77},  {13, 8, 4, 74},
    {13, 12, 4, 71}, {14, 0, 4, 72},  {14, 4, 4, 76},  {14, 8, 4, 79},  {14, 12, 4, 84},
    {15, 0, 8, 81},  {15, 8, 4, 79},  {15, 12, 4, 77}, {16, 0, 4, 77},  {16, 4, 2, 76},
    {16, 6, 2, 74},  {16, 8, 8, 81},  {17, 0, 4, 80},  {17, 4, 4, 83},  {17, 8, 4, 88},
    {17, 12, 4, 86}, {18, 0, 8, 84},  {18, 8, 4, 83},  {18, 12, 4, 81}, {19, 0, 12, 81},
    {19, 12, 2, 76}, {19, 14, 2, 80},
};

double NoteHz(int pitch) {
    return 440.0 * std::pow(2.0, (pitch - 69) / 12.0);
}

// The FM block/F-number word: F-number = Hz x 144 x 2^(21 - block) / clock,
// with the smallest block that keeps it below 2048.
uint32_t FmWord(int pitch) {
    const double hz = NoteHz(pitch);
    for (uint32_t block = 0; block < 8; ++block) {
        const double fnum = hz * 144.0 * std::pow(2.0, 21.0 - block) / kFmClock;
        if (fnum < 2047.5) return block << 11 | static_cast<uint32_t>(std::lround(fnum));
    }
    return 7u << 11 | 2047u;
}

// The PSG tone period: clock / (32 x Hz), 10 bits.
uint32_t PsgPeriod(int pitch) {
    long period = std::lround(kPsgClock / (32.0 * NoteHz(pitch)));
    return static_cast<uint32_t>(period < 1 ? 1 : (period > 1023 ? 1023 : period));
}

// ---------------------------------------------------------------------------
// Drums: 8-bit unsigned PCM at the DAC rate, 128 = silence

constexpr double kDacRate = kDacBytesPerFrame * 60.0;
constexpr double kPi = 3.14159265358979323846;

std::vector<int> KickSamples() {
    std::vector<int> s;
    double phase = 0;
    const int length = static_cast<int>(kDacRate * 0.16);
    for (int i = 0; i < length; ++i) {
        const double t = i / kDacRate;
        const double hz = 48.0 + 110.0 * std::exp(-t * 28.0);  // pitch drops fast
        phase += 2 * kPi * hz / kDacRate;
        s.push_back(static_cast<int>(std::lround(112.0 * std::exp(-t * 14.0) * std::sin(phase))));
    }
    return s;
}

std::vector<int> SnareSamples() {
    std::vector<int> s;
    uint32_t seed = 0x1234567u;
    double phase = 0;
    const int length = static_cast<int>(kDacRate * 0.15);
    for (int i = 0; i < length; ++i) {
        const double t = i / kDacRate;
        seed = seed * 1664525u + 1013904223u;
        const double noise = static_cast<double>(seed >> 8) / 8388608.0 - 1.0;
        phase += 2 * kPi * 185.0 / kDacRate;
        const double body = std::sin(phase) * std::exp(-t * 30.0);
        s.push_back(
            static_cast<int>(std::lround(70.0 * noise * std::exp(-t * 22.0) + 45.0 * body)));
    }
    return s;
}

// ---------------------------------------------------------------------------
// The score: writes gathered per frame, then emitted frame by frame.

struct Write {
    enum Kind { fm, psg } kind;
    uint32_t address;
    uint8_t data;
};

class Score {
public:
    Score()
        : frames(kFrames),
          dac(static_cast<size_t>(kFrames) * kDacBytesPerFrame, 0),
          dacUsed(kFrames, false) {}

    void Fm(int frame, uint32_t address, uint8_t data) {
        At(frame).push_back({Write::fm, address, data});
    }
    void Psg(int frame, uint8_t data) { At(frame).push_back({Write::psg, 0, data}); }

    // Channel 0-5: port and register base of its channel-addressed registers.
    static uint32_t Base(int channel) {
        return (channel >= 3 ? 0x100 : 0) + static_cast<uint32_t>(channel % 3);
    }

    void SetPatch(int frame, int channel, const Patch& patch, uint8_t panAmsPms) {
        const uint32_t base = Base(channel);
        for (int i = 0; i < 4; ++i) {
            const Operator& op = patch.op[i];
            const uint32_t slot = base + kOperatorOffsetTable[i];
            Fm(frame, 0x30 + slot, static_cast<uint8_t>(op.detune << 4 | op.multiple));
            Fm(frame, 0x40 + slot, op.totalLevel);
            Fm(frame, 0x50 + slot, static_cast<uint8_t>(op.keyScale << 6 | op.attack));
            Fm(frame, 0x60 + slot, op.decay);
            Fm(frame, 0x70 + slot, op.sustainRate);
            Fm(frame, 0x80 + slot, static_cast<uint8_t>(op.sustainLevel << 4 | op.release));
            Fm(frame, 0x90 + slot, 0);
        }
        Fm(frame, 0xB0 + base, static_cast<uint8_t>(patch.feedback << 3 | patch.algorithm));
        Fm(frame, 0xB4 + base, panAmsPms);
    }

    // A note from `frame` for `length` frames: frequency, key-on, key-off.
    // The key-off lands one frame before the next note may start.
    void FmNote(int frame, int length, int channel, int pitch) {
        const uint32_t base = Base(channel);
        const uint32_t word = FmWord(pitch);
        Fm(frame, 0xA4 + base, static_cast<uint8_t>(word >> 8));
        Fm(frame, 0xA0 + base, static_cast<uint8_t>(word & 0xFF));
        Fm(frame, 0x28, static_cast<uint8_t>(0xF0 | kKeyCodeTable[channel]));
        KeyOff(frame + length - 1, channel);
    }

    void KeyOff(int frame, int channel) {
        if (frame < kFrames)
            At(frame).insert(At(frame).begin(), {Write::fm, 0x28, kKeyCodeTable[channel]});
    }

    // A PSG tone note on voice 0-2 with a decaying attenuation, one step
    // per `decayFrames` frames, from `attenuation` until silent or `length`.
    void PsgNote(int frame, int length, int voice, int pitch, int attenuation, int decayFrames) {
        const uint32_t period = PsgPeriod(pitch);
        const uint8_t latch = static_cast<uint8_t>(0x80 | voice << 5);
        Psg(frame, static_cast<uint8_t>(latch | (period & 0x0F)));
        Psg(frame, static_cast<uint8_t>(period >> 4));
        for (int f = 0; f < length && frame + f < kFrames; ++f) {
            const int level = attenuation + f / decayFrames;
            Psg(frame + f, static_cast<uint8_t>(latch | 0x10 | (level > 15 ? 15 : level)));
        }
        if (frame + length < kFrames) Psg(frame + length, static_cast<uint8_t>(latch | 0x1F));
    }

    // A hi-hat: white noise at the highest shift rate, fading out.
    void Hat(int frame, const std::vector<int>& levels) {
        Psg(frame, 0xE4);
        for (size_t f = 0; f < levels.size() && frame + static_cast<int>(f) < kFrames; ++f)
            Psg(frame + static_cast<int>(f), static_cast<uint8_t>(0xF0 | levels[f]));
        if (frame + static_cast<int>(levels.size()) < kFrames)
            Psg(frame + static_cast<int>(levels.size()), 0xFF);
    }

    void Drum(int frame, const std::vector<int>& samples) {
        const size_t start = static_cast<size_t>(frame) * kDacBytesPerFrame;
        for (size_t i = 0; i < samples.size() && start + i < dac.size(); ++i) {
            dac[start + i] += samples[i];
            dacUsed[(start + i) / kDacBytesPerFrame] = true;
        }
    }

    // The command stream. A frame with drum sound streams all its DAC bytes;
    // other frames write none and the DAC holds its last byte, the centre.
    std::vector<uint8_t> Stream() const {
        SongBuilder song;
        for (int f = 0; f < kFrames; ++f) {
            for (const Write& w : frames[static_cast<size_t>(f)]) {
                if (w.kind == Write::fm)
                    song.Fm(w.address, w.data);
                else
                    song.Psg(w.data);
            }
            if (dacUsed[static_cast<size_t>(f)]) {
                const bool lastOfHit = f + 1 >= kFrames || !dacUsed[static_cast<size_t>(f) + 1];
                for (int i = 0; i < kDacBytesPerFrame; ++i) {
                    int v = dac[static_cast<size_t>(f) * kDacBytesPerFrame + i] + 128;
                    if (lastOfHit && i == kDacBytesPerFrame - 1) v = 128;
                    song.Fm(0x2A, static_cast<uint8_t>(v < 0 ? 0 : (v > 255 ? 255 : v)));
                }
            }
            song.Frame();
        }
        return song.Bytes();
    }

private:
    std::vector<Write>& At(int frame) { return frames[static_cast<size_t>(frame)]; }

    std::vector<std::vector<Write>> frames;
    std::vector<int> dac;       // signed PCM, the whole song at the DAC rate
    std::vector<bool> dacUsed;  // per frame: some drum sounds in it
};

constexpr int kLead = 0, kBass = 1, kChord = 2;  // chords on channels 2, 3, 4
constexpr int kArp = 0, kEcho = 1;               // PSG voices

int FrameOf(int bar, int step) {
    return bar * kFramesPerBar + step * kFramesPerStep;
}

void Compose(Score& score) {
    // Set-up: LFO on at rate 3 (about 6 Hz); all channels silent; DAC on
    // channel 6 at the centre; every PSG voice off.
    score.Fm(0, 0x22, 0x0B);
    score.Fm(0, 0x27, 0x00);
    for (int ch = 0; ch < 6; ++ch)
        score.Fm(0, 0x28, kKeyCodeTable[ch]);
    score.SetPatch(0, kLead, kLeadPatch, 0xC2);  // both sides, vibrato depth 2
    score.SetPatch(0, kBass, kBassPatch, 0xC0);
    for (int i = 0; i < 3; ++i)
        score.SetPatch(0, kChord + i, kPianoPatch, i == 0 ? 0x80 : (i == 1 ? 0xC0 : 0x40));
    score.Fm(0, 0x1B6, 0xC0);
    score.Fm(0, 0x2A, 0x80);
    score.Fm(0, 0x2B, 0x80);
    for (uint8_t off : {0x9F, 0xBF, 0xDF, 0xFF})
        score.Psg(0, off);

    const std::vector<int> kick = KickSamples();
    const std::vector<int> snare = SnareSamples();
    const std::vector<int> closedHat = {3, 6, 10};
    const std::vector<int> softHat = {6, 9, 12};
    const std::vector<int> openHat = {3, 4, 5, 6, 7, 8, 10, 12};

    for (int bar = 0; bar < kBars; ++bar) {
        const Chord& chord = *kProgression[bar];
        const bool intro = bar < kIntroBars;
        const bool bridge = bar >= 12;

        // Chords: stabs on 1 and on the "and" of 2, held to the next stab.
        for (int i = 0; i < 3; ++i) {
            score.FmNote(FrameOf(bar, 0), 6 * kFramesPerStep, kChord + i, chord.voices[i]);
            score.FmNote(FrameOf(bar, 6), 10 * kFramesPerStep, kChord + i, chord.voices[i]);
        }

        // Bass: root and octave in a driving eighth/sixteenth figure.
        const int bassSteps[] = {0, 3, 6, 8, 10, 12, 14};
        const int bassUp[] = {0, 0, 12, 0, 0, 12, 0};
        for (int i = 0; i < 7; ++i) {
            if (intro && bar < 2 && (i == 1 || i == 4)) continue;
            score.FmNote(FrameOf(bar, bassSteps[i]), 2 * kFramesPerStep - 2, kBass,
                         chord.bass + bassUp[i]);
        }

        // PSG arpeggio from bar 3 on, with its echo three steps behind.
        if (bar >= 2) {
            for (int step = 0; step < kStepsPerBar; ++step) {
                const int pattern[] = {0, 1, 2, 3, 2, 1};
                const int pitch = chord.arp[pattern[(bar * kStepsPerBar + step) % 6]];
                score.PsgNote(FrameOf(bar, step), kFramesPerStep, kArp, pitch, intro ? 7 : 5, 2);
                const int echoFrame = FrameOf(bar, step) + 3 * kFramesPerStep;
                if (echoFrame < kFrames)
                    score.PsgNote(echoFrame, kFramesPerStep, kEcho, pitch, 10, 3);
            }
        }

        // Hats: closed on the eighths, softer on the sixteenths between in
        // the loop, an open hat on the last eighth of every second bar.
        for (int step = 0; step < kStepsPerBar; step += 2) {
            if (step == 14 && bar % 2 == 1) {
                score.Hat(FrameOf(bar, step), openHat);
            } else {
                score.Hat(FrameOf(bar, step), closedHat);
                if (!intro && step % 4 == 2) score.Hat(FrameOf(bar, step + 1), softHat);
            }
        }

        // Drums: kick on 1 and 3 (and a pickup in the bridge), snare on 2
        // and 4 from bar 3 on; a snare fill closes the loop.
        score.Drum(FrameOf(bar, 0), kick);
        score.Drum(FrameOf(bar, 8), kick);
        if (bridge) score.Drum(FrameOf(bar, 11), kick);
        if (bar >= 2) {
            score.Drum(FrameOf(bar, 4), snare);
            if (bar == kBars - 1) {
                for (int step : {12, 13, 14, 15})
                    score.Drum(FrameOf(bar, step), snare);
            } else {
                score.Drum(FrameOf(bar, 12), snare);
            }
        }
    }

    for (const Note& note : kMelody) {
        score.FmNote(FrameOf(note.bar, note.step), note.length * kFramesPerStep - 1, kLead,
                     note.pitch);
    }
}

}  // namespace

int main(int argc, char** argv) {
    const std::string out = argc > 1 ? argv[1] : "demo.gym.zip";
    Score score;
    Compose(score);
    const std::vector<uint8_t> zip = MakeZip({
        {"DEMO.GYM", score.Stream()},
        {"DEMO.GYI", MakeGyi("Tamboril - First Light", std::to_string(kLoopFrame))},
    });
    if (!WriteFileBytes(out, zip)) {
        std::fprintf(stderr, "compose_demo: cannot write %s\n", out.c_str());
        return 1;
    }
    std::printf("%s: %d frames (%.1f s), loop at frame %u\n", out.c_str(), kFrames, kFrames / 60.0,
                kLoopFrame);
    return 0;
}
