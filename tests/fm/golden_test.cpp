// Golden renders: fixed register sequences played through the chip at every
// output mode the player uses, hashed and compared with the checksums in
// golden/chip_renders.inc. Any change of a sample anywhere in a render
// changes its hash, so these pin the whole chip bit for bit, and they must
// match in the native, sanitizer and 32-bit Windows builds alike.
//
// To regenerate after an intended change of sound:
//   TAMBORIL_UPDATE_GOLDEN=1 <build>/tests/fm/tamboril_fm_chip_test --gtest_filter='GoldenRender.*'
// prints the table; paste it into golden/chip_renders.inc.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "chip_support.h"
#include "tests/support/checksum.h"

using namespace chiptest;

namespace {

struct GoldenEntry {
    const char* name;
    uint64_t hash;
};

const GoldenEntry GoldenTable[] = {
#include "golden/chip_renders.inc"
};

struct OutputMode {
    const char* name;
    uint32_t rate;
    bool interpolate;
};

const OutputMode ModeTable[] = {
    {"resampled44100", 44100, true}, {"resampled48000", 48000, true}, {"direct44100", 44100, false},
    {"direct22050", 22050, false},   {"direct11025", 11025, false},
};

// FNV-1a, 64 bits, over the samples as little-endian 32-bit words.
uint64_t HashSamples(const std::vector<int32_t>& samples) {
    return support::Fnv1a(samples);
}

// A song: register writes before each 1/60 s frame.
using FrameWriter = void (*)(FmChip& chip, int frame);

struct Scenario {
    const char* name;
    int frames;
    FrameWriter writer;
};

// Operator envelope with some shape: attack, decay to a sustain level, a
// slow sustain slope and a medium release.
void ShapeEnvelope(FmChip& chip, int channel, int op, uint8_t attack, uint8_t decay,
                   uint8_t level) {
    chip.WriteRegister(OperatorAddress(0x50, channel, op), attack);
    chip.WriteRegister(OperatorAddress(0x60, channel, op), decay);
    chip.WriteRegister(OperatorAddress(0x70, channel, op), 0x02);
    chip.WriteRegister(OperatorAddress(0x80, channel, op), level);
}

// Six voices, algorithms 0-5 and later 6-7, feedback, detune, key scaling,
// mixed pans including one channel with no output.
void Algorithms(FmChip& chip, int frame) {
    static const uint8_t PanTable[6] = {0x80, 0x40, 0xC0, 0xC0, 0x00, 0x80};
    static const uint32_t FnumTable[8] = {0x269, 0x28D, 0x2B4, 0x2DE, 0x30A, 0x339, 0x36A, 0x39E};
    if (frame == 0) {
        for (int ch = 0; ch < 6; ++ch) {
            LoadPatch(chip, ch, ch, (ch * 3) % 8, static_cast<uint8_t>(0x14 + 4 * ch),
                      PanTable[ch]);
            for (int op = 0; op < 4; ++op) {
                chip.WriteRegister(OperatorAddress(0x30, ch, op),
                                   static_cast<uint8_t>(((op + ch) % 8) << 4 | (op * 3 + ch) % 16));
                ShapeEnvelope(chip, ch, op, static_cast<uint8_t>(0x40 * (op % 4) | (0x14 + ch)),
                              static_cast<uint8_t>(0x04 + op),
                              static_cast<uint8_t>(0x24 + 0x10 * op + ch));
            }
        }
    }
    if (frame == 45) {
        chip.WriteRegister(0xB0, 0x3E);  // FB 7, algorithm 6
        chip.WriteRegister(0xB1, 0x0F);  // FB 1, algorithm 7
    }
    for (int ch = 0; ch < 6; ++ch) {
        if ((frame + ch) % 12 == 0) {
            KeyOff(chip, ch);
            SetNote(chip, ch, static_cast<uint32_t>(2 + (frame / 12 + ch) % 5),
                    FnumTable[(frame / 6 + ch) % 8]);
            KeyOn(chip, ch);
        } else if ((frame + ch) % 12 == 9) {
            KeyOff(chip, ch);
        }
    }
}

// All pans centred (the shared-sum path), LFO on with changing rate,
// several PMS/AMS settings with amplitude modulation on some operators, and
// new frequencies every frame.
void LfoCentred(FmChip& chip, int frame) {
    if (frame == 0) {
        chip.WriteRegister(0x22, 0x0B);
        for (int ch = 0; ch < 6; ++ch) {
            LoadPatch(chip, ch, (ch + 4) % 8, ch % 8, 0x1C, 0xC0);
            chip.WriteRegister(ChannelAddress(0xB4, ch),
                               static_cast<uint8_t>(0xC0 | (ch % 4) << 4 | (7 - ch)));
            chip.WriteRegister(OperatorAddress(0x60, ch, ch % 4), 0x83);
            SetNote(chip, ch, 3 + ch % 3, 0x280 + 0x20 * static_cast<uint32_t>(ch));
            KeyOn(chip, ch);
        }
    }
    if (frame == 30) {
        chip.WriteRegister(0x22, 0x0E);
    }
    if (frame == 60) {
        chip.WriteRegister(0x22, 0x06);  // off: counter restarts when it returns
    }
    if (frame == 70) {
        chip.WriteRegister(0x22, 0x09);
    }
    for (int ch = 0; ch < 6; ++ch) {
        uint32_t wobble = static_cast<uint32_t>((frame * (ch + 1)) % 24);
        SetNote(chip, ch, 3 + ch % 3, 0x280 + 0x20 * static_cast<uint32_t>(ch) + wobble);
    }
}

// PCM bytes every frame (a varying number, a ramp and a square), channel 5
// routed left, FM voices beside it, gains away from unity, PCM switched off
// and on again.
void Dac(FmChip& chip, int frame) {
    if (frame == 0) {
        chip.SetFmGain(-6);
        chip.SetPcmGain(4);
        chip.WriteRegister(0x2B, 0x80);
        for (int ch = 0; ch < 5; ++ch) {
            LoadPatch(chip, ch, 7 - ch, 2, 0x20, ch % 2 ? 0x40 : 0xC0);
            SetNote(chip, ch, 4, 0x300 + 0x35 * static_cast<uint32_t>(ch));
            KeyOn(chip, ch);
        }
        LoadPatch(chip, 5, 2, 4, 0x20, 0x80);
        SetNote(chip, 5, 5, 0x222);
        KeyOn(chip, 5);
    }
    if (frame == 40) {
        chip.WriteRegister(0x2B, 0x00);
    }
    if (frame == 50) {
        chip.WriteRegister(0x2B, 0x80);
    }
    const int count = (frame * 7) % 41;
    for (int i = 0; i < count; ++i) {
        int value = frame < 25 ? (i * 6) & 0xFF : ((i / 4) % 2 ? 0xD0 : 0x30);
        chip.WriteRegister(0x2A, static_cast<uint8_t>(value));
    }
}

// Channel 2 in special mode with four frequencies, then in CSM mode with
// latched levels and register key-offs; timer writes; a prescaler change.
void CsmSpecial(FmChip& chip, int frame) {
    if (frame == 0) {
        LoadPatch(chip, 2, 7, 3, 0x00, 0xC0);
        LoadPatch(chip, 0, 1, 5, 0x10, 0x80);
        chip.WriteRegister(0xAD, 0x22);
        chip.WriteRegister(0xA9, 0x69);
        chip.WriteRegister(0xAE, 0x1A);
        chip.WriteRegister(0xAA, 0x8D);
        chip.WriteRegister(0xAC, 0x2B);
        chip.WriteRegister(0xA8, 0x0A);
        SetNote(chip, 2, 3, 0x400);
        SetNote(chip, 0, 4, 0x2F0);
        chip.WriteRegister(0x24, 0x12);
        chip.WriteRegister(0x25, 0x03);
        chip.WriteRegister(0x26, 0xC0);
        chip.WriteRegister(0x27, 0x4F);
        KeyOn(chip, 2);
        KeyOn(chip, 0);
    }
    if (frame == 20) {
        chip.WriteRegister(0xAA, 0x40);
    }
    if (frame == 30) {
        chip.WriteRegister(0x27, 0x80);
        chip.WriteRegister(OperatorAddress(0x40, 2, 0), 0x30);  // waits for a key-on
        chip.WriteRegister(OperatorAddress(0x40, 2, 3), 0x08);
        chip.WriteRegister(0x28, 0xF2);  // no key-on in CSM mode
        chip.WriteRegister(0x28, 0x62);  // operators 0 and 3 off
    }
    if (frame == 45) {
        chip.WriteRegister(0x27, 0x40);
        chip.WriteRegister(0x28, 0xF2);  // the latched levels arrive
    }
    if (frame == 60) {
        chip.WriteRegister(0x2F, 0);
    }
    if (frame == 75) {
        chip.WriteRegister(0x2D, 0);
        chip.WriteRegister(0x27, 0x00);
    }
}

// Mutes, an FM fade, and channels 3-5 switched out while channel 2 keeps
// the pair (2, 3) running.
void MutesAndFade(FmChip& chip, int frame) {
    if (frame == 0) {
        for (int ch = 0; ch < 6; ++ch) {
            LoadPatch(chip, ch, ch % 2 ? 4 : 7, 1, 0x18, ch % 3 == 0 ? 0x80 : 0x40);
            SetNote(chip, ch, 4, 0x2A0 + 0x18 * static_cast<uint32_t>(ch));
            KeyOn(chip, ch);
        }
    }
    if (frame == 15) {
        chip.SetMutedChannels(0x05);
    }
    if (frame == 30) {
        chip.SetMutedChannels(0);
        chip.WriteRegister(0x29, 0x1F);
    }
    if (frame == 50) {
        chip.WriteRegister(0x29, 0x9F);
    }
    if (frame >= 60) {
        chip.SetFmGain(-(frame - 60) * 3);
    }
}

const Scenario ScenarioTable[] = {
    {"algorithms", 90, Algorithms},  {"lfo_centred", 90, LfoCentred},  {"dac", 90, Dac},
    {"csm_special", 90, CsmSpecial}, {"mutes_fade", 90, MutesAndFade},
};

// Renders a scenario as the player would: writes, then the frame's share of
// output samples (rate / 60 with the remainder spread over the frames).
std::vector<int32_t> RenderScenario(const Scenario& scenario, const OutputMode& mode) {
    auto chip = MakeChip(mode.rate, mode.interpolate);
    std::vector<int32_t> out;
    for (int frame = 0; frame < scenario.frames; ++frame) {
        scenario.writer(*chip, frame);
        const uint32_t n = mode.rate * static_cast<uint32_t>(frame + 1) / 60 -
                           mode.rate * static_cast<uint32_t>(frame) / 60;
        const auto part = Render(*chip, n);
        out.insert(out.end(), part.begin(), part.end());
    }
    return out;
}

const GoldenEntry* FindGolden(const std::string& name) {
    for (const GoldenEntry& e : GoldenTable) {
        if (name == e.name) {
            return &e;
        }
    }
    return nullptr;
}

}  // namespace

TEST(GoldenRender, EveryScenarioAtEveryOutputMode) {
    const bool update = std::getenv("TAMBORIL_UPDATE_GOLDEN") != nullptr;
    size_t compared = 0;
    for (const Scenario& scenario : ScenarioTable) {
        for (const OutputMode& mode : ModeTable) {
            const std::string name = std::string(scenario.name) + "/" + mode.name;
            const std::vector<int32_t> samples = RenderScenario(scenario, mode);
            const uint64_t hash = HashSamples(samples);
            if (update) {
                std::printf("{\"%s\", 0x%016llXull},\n", name.c_str(),
                            static_cast<unsigned long long>(hash));
                continue;
            }
            SCOPED_TRACE(name);
            EXPECT_GT(PeakOf(samples, 0), 1000);
            const GoldenEntry* golden = FindGolden(name);
            ASSERT_NE(golden, nullptr) << "no checksum for " << name;
            EXPECT_EQ(hash, golden->hash);
            ++compared;
        }
    }
    if (update) {
        GTEST_SKIP() << "printed the golden table instead of comparing";
    }
    EXPECT_EQ(compared, sizeof(GoldenTable) / sizeof(GoldenTable[0]));
}

TEST(GoldenRender, HashIsFnv1a64OverLittleEndianWords) {
    EXPECT_EQ(HashSamples({}), 0xCBF29CE484222325ull);
    // FNV-1a of the bytes 61 00 00 00 ("a" and three zero bytes).
    EXPECT_EQ(HashSamples({0x61}), 0xAC804B820E4FE984ull);
}
