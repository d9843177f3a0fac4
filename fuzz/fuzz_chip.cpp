// Fuzz target: arbitrary bytes as a stream of FM register writes and mixes.
// Each record is three bytes: port and mix-length selector, address, data.
// Exercises every register of both ports, CSM and special modes, PCM queue
// overflow, the resampler at every rate and the gain setters at extremes.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "fm/chip.h"
#include "player/engine.h"

namespace {

FmChip chip;
int32_t mixBuffer[64 * 2];

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) return 0;
    static const uint32_t rates[] = {44100, 48000, 44100, 24000, 22050, 11025, 96000, 8000};
    const uint8_t mode = data[0];
    chip.Initialize(kFmPowerOnClock, kFmPowerOnRate, true);
    chip.SetClockAndRate(kFmSongClock, rates[mode & 7], (mode & 8) != 0);
    chip.ResetChip();
    chip.SetFmGain(static_cast<int8_t>(data[1]));
    chip.SetPsgGain(static_cast<int8_t>(data[1]) * 300);
    chip.SetPcmGain(-static_cast<int8_t>(data[1]));

    for (size_t i = 2; i + 3 <= size; i += 3) {
        const uint8_t control = data[i];
        const uint32_t address = ((control & 1u) << 8) | data[i + 1];
        chip.WriteRegister(address, data[i + 2]);
        if (control & 0x80) {
            // Short renders (1 to 64 frames) keep the target fast.
            const uint32_t frames = ((control & 0x7Eu) >> 1) + 1;
            std::memset(mixBuffer, 0, sizeof mixBuffer);
            chip.MixInto(mixBuffer, frames);
        }
    }
    return 0;
}
