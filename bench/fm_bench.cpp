// The FM chip's cost, as multiples of real time ("x_realtime": seconds of
// audio rendered per second of CPU). One iteration is one second of audio:
// 60 frames, each a MixInto of 1/60 s with register writes before it, as the
// song player drives the chip.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstring>
#include <memory>
#include <vector>

#include "fm/chip.h"
#include "player/engine.h"

namespace {

constexpr int kFramesPerSecond = 60;

uint32_t ChannelAddress(uint32_t base, int channel) {
    return (channel >= 3 ? 0x100u : 0u) + base + static_cast<uint32_t>(channel % 3);
}

std::unique_ptr<FmChip> MakeChip(uint32_t rate, bool interpolate) {
    auto chip = std::make_unique<FmChip>();
    chip->Initialize(kFmSongClock, rate, interpolate);
    chip->WriteRegister(0x29, 0x9F);
    return chip;
}

// Six held voices: every operator sounding (instant attack, no decay), each
// channel with its own algorithm and feedback, amplitude modulation on, pitch
// and amplitude sensitivity set, pans left, right and centre.
void LoadBusyVoices(FmChip& chip) {
    static const uint8_t PanTable[6] = {0x80, 0x40, 0xC0, 0xC0, 0x80, 0x40};
    chip.WriteRegister(0x22, 0x0B);
    for (int ch = 0; ch < 6; ++ch) {
        for (uint32_t offset = 0; offset < 16; offset += 4) {
            chip.WriteRegister(ChannelAddress(0x30, ch) + offset,
                               static_cast<uint8_t>(0x11 + offset / 4));
            chip.WriteRegister(ChannelAddress(0x40, ch) + offset, offset == 12 ? 0x00 : 0x20);
            chip.WriteRegister(ChannelAddress(0x50, ch) + offset, 0x1F);
            chip.WriteRegister(ChannelAddress(0x60, ch) + offset, 0x80);
            chip.WriteRegister(ChannelAddress(0x70, ch) + offset, 0x00);
            chip.WriteRegister(ChannelAddress(0x80, ch) + offset, 0x0F);
        }
        chip.WriteRegister(ChannelAddress(0xB0, ch),
                           static_cast<uint8_t>((ch + 2) << 3 | (ch + 1)));
        chip.WriteRegister(ChannelAddress(0xB4, ch),
                           static_cast<uint8_t>(PanTable[ch] | 0x20 | (ch + 1)));
        chip.WriteRegister(0x28, static_cast<uint8_t>(0xF0 | (ch >= 3 ? ch + 1 : ch)));
    }
}

void WriteFrequencies(FmChip& chip, int frame) {
    for (int ch = 0; ch < 6; ++ch) {
        uint32_t fnum = 0x280 + static_cast<uint32_t>(ch * 0x30 + (frame * 7) % 40);
        chip.WriteRegister(ChannelAddress(0xA4, ch), static_cast<uint8_t>(4 << 3 | fnum >> 8));
        chip.WriteRegister(ChannelAddress(0xA0, ch), static_cast<uint8_t>(fnum & 0xFF));
    }
}

void RunSeconds(benchmark::State& state, uint32_t rate, bool interpolate, bool busy) {
    auto chip = MakeChip(rate, interpolate);
    if (busy) {
        LoadBusyVoices(*chip);
    }
    std::vector<int32_t> buffer(2 * (rate / kFramesPerSecond + 1));
    for (auto _ : state) {
        for (int frame = 0; frame < kFramesPerSecond; ++frame) {
            if (busy) {
                WriteFrequencies(*chip, frame);
            }
            const uint32_t frames = rate * static_cast<uint32_t>(frame + 1) / kFramesPerSecond -
                                    rate * static_cast<uint32_t>(frame) / kFramesPerSecond;
            std::memset(buffer.data(), 0, buffer.size() * sizeof(int32_t));
            chip->MixInto(buffer.data(), frames);
            benchmark::DoNotOptimize(buffer.data());
        }
        benchmark::ClobberMemory();
    }
    state.counters["x_realtime"] =
        benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}

void BusyResampled44100(benchmark::State& state) {
    RunSeconds(state, 44100, true, true);
}
void BusyResampled48000(benchmark::State& state) {
    RunSeconds(state, 48000, true, true);
}
void BusyDirect44100(benchmark::State& state) {
    RunSeconds(state, 44100, false, true);
}
void BusyDirect22050(benchmark::State& state) {
    RunSeconds(state, 22050, false, true);
}
void IdleResampled44100(benchmark::State& state) {
    RunSeconds(state, 44100, true, false);
}

}  // namespace

BENCHMARK(BusyResampled44100)->Unit(benchmark::kMillisecond);
BENCHMARK(BusyResampled48000)->Unit(benchmark::kMillisecond);
BENCHMARK(BusyDirect44100)->Unit(benchmark::kMillisecond);
BENCHMARK(BusyDirect22050)->Unit(benchmark::kMillisecond);
BENCHMARK(IdleResampled44100)->Unit(benchmark::kMicrosecond);
