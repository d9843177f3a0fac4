// FmChip PCM (DAC) output: the queue of bytes written to register 0x2A and
// the stretches they are spread over.
#include <cstddef>

#include "fm/chip.h"
#include "fm/wrap.h"

namespace {

using fm_chip::kPcmZeroLevel;

constexpr int kPcmGainShift = 6;
constexpr int kPcmPositionShift = 16;  // PCM read position, 16.16 fixed point
constexpr uint32_t kPcmFractionMask = 0xFFFF;
constexpr uint8_t kPanLeft = 2;
constexpr uint8_t kPanRight = 1;
constexpr int32_t kPcmQueueLimit = FmChip::kPcmQueueSize - 1;  // bytes a stretch holds

}  // namespace

// PCM (DAC): the bytes queued for a stretch are spread evenly over all of
// its frames, however many calls render them, and routed by channel 5's pan;
// frames after the last byte (only when nothing was queued) hold the last
// value. A call that nobody announced as part of a stretch is a stretch of
// its own, and so is any part of a call that runs past the announced one.

void FmChip::BeginPcmStretch(uint32_t frames) {
    pcmStretchLeft = frames;
    pcmPosition = 0;
    pcmFrameDone = 0;
    pcmNext = 1;
    // The step is found once, so that the position runs on evenly from call
    // to call; the bytes never reach the end before the stretch's last frame
    // (step x (frames - 1) < end).
    pcmStep = frames == 0 ? 0 : (static_cast<uint32_t>(pcmCount) << kPcmPositionShift) / frames;
}

void FmChip::MixPcm(int32_t* buffer, uint32_t frames) {
    if (frames == 0 && pcmStretchLeft == 0) {
        pcmCount = 0;
        return;
    }
    while (frames != 0) {
        if (pcmStretchLeft == 0) {
            BeginPcmStretch(frames);
        }
        const uint32_t n = frames < pcmStretchLeft ? frames : pcmStretchLeft;
        MixPcmFrames(buffer, n);
        pcmStretchLeft -= n;
        if (pcmStretchLeft == 0) {
            EndPcmStretch();
        }
        buffer += 2 * static_cast<size_t>(n);
        frames -= n;
    }
}

// Timed bytes (QueuePcmAt) go into the same queue as register writes, each
// with the frame of the stretch it is heard from; such a stretch plays every
// byte at its frame and holds it to the next, as the DAC itself holds what it
// was given last. A byte is dropped, as a register write would be, when PCM
// is off or the queue is full.
void FmChip::QueuePcmAt(uint32_t frame, uint8_t data) {
    if (pcmEnabled == 0 || pcmCount >= kPcmQueueLimit || !pcmQueue) {
        return;
    }
    ++pcmCount;
    pcmQueue[pcmCount] = data;
    pcmFrames[pcmCount] = frame;
    pcmTimed = true;
}

// The next `frames` frames of the open stretch.
void FmChip::MixPcmFrames(int32_t* buffer, uint32_t frames) {
    if (pcmEnabled == 0 || !pcmQueue) {
        pcmCount = 0;
        return;
    }
    if (pcmTimed) {
        MixTimedPcmFrames(buffer, frames);
        return;
    }
    const bool toLeft = (pan[5] & kPanLeft) != 0;
    const bool toRight = (pan[5] & kPanRight) != 0;
    const uint8_t* queue = pcmQueue.get();
    const uint32_t end = static_cast<uint32_t>(pcmCount) << kPcmPositionShift;
    const uint32_t step = pcmStep;
    uint32_t p = pcmPosition;
    int32_t* out = buffer;
    uint32_t f = 0;
    for (; p < end && f < frames; ++f, p += step, out += 2) {
        const uint32_t index = p >> kPcmPositionShift;
        int32_t v;
        if (interpolate) {
            // Linear interpolation from the byte before; byte 0 is the
            // previous stretch's last byte.
            const int32_t a = queue[index];
            const int32_t b = queue[index + 1];
            const int32_t fraction = static_cast<int32_t>(p & kPcmFractionMask);
            v = (((b - a) * fraction) >> kPcmPositionShift) + a - kPcmZeroLevel;
        } else {
            v = queue[index + 1] - kPcmZeroLevel;
        }
        v = WrapMul(v, pcmGain) >> kPcmGainShift;
        pcmLast = v;
        if (toLeft) {
            out[0] = WrapAdd(out[0], v);
        }
        if (toRight) {
            out[1] = WrapAdd(out[1], v);
        }
    }
    pcmPosition = p;
    for (; f < frames; ++f, out += 2) {
        if (toLeft) {
            out[0] = WrapAdd(out[0], pcmLast);
        }
        if (toRight) {
            out[1] = WrapAdd(out[1], pcmLast);
        }
    }
}

// The next `frames` frames of a timed stretch: runs of one held value, each
// ending where the next byte is heard.
void FmChip::MixTimedPcmFrames(int32_t* buffer, uint32_t frames) {
    const bool toLeft = (pan[5] & kPanLeft) != 0;
    const bool toRight = (pan[5] & kPanRight) != 0;
    const uint8_t* queue = pcmQueue.get();
    const uint32_t* at = pcmFrames.get();
    const int32_t count = pcmCount;
    int32_t next = pcmNext;
    int32_t v = pcmLast;
    uint32_t f = pcmFrameDone;
    const uint32_t end = f + frames;
    int32_t* out = buffer;
    while (f < end) {
        while (next <= count && at[next] <= f) {
            v = WrapMul(queue[next] - kPcmZeroLevel, pcmGain) >> kPcmGainShift;
            ++next;
        }
        const uint32_t runEnd = next <= count && at[next] < end ? at[next] : end;
        for (; f < runEnd; ++f, out += 2) {
            if (toLeft) {
                out[0] = WrapAdd(out[0], v);
            }
            if (toRight) {
                out[1] = WrapAdd(out[1], v);
            }
        }
    }
    pcmLast = v;
    pcmNext = next;
    pcmFrameDone = f;
}

// After a stretch's last frame: with interpolation its last byte becomes
// the left neighbour of the next stretch's first; the queue empties.
void FmChip::EndPcmStretch() {
    if (interpolate && pcmEnabled != 0 && pcmQueue && pcmCount != 0) {
        pcmQueue[0] = pcmQueue[pcmCount];
    }
    // Timed bytes placed at or past the stretch's end are heard from the next
    // one on: the last of them is what the DAC then holds.
    if (pcmTimed && pcmEnabled != 0 && pcmQueue && pcmNext <= pcmCount) {
        pcmLast = WrapMul(pcmQueue[pcmCount] - kPcmZeroLevel, pcmGain) >> kPcmGainShift;
    }
    pcmCount = 0;
    pcmStretchLeft = 0;
    pcmPosition = 0;
    pcmTimed = false;
}

void FmChip::DiscardPcmQueue() {
    pcmCount = 0;
    pcmStretchLeft = 0;
    pcmPosition = 0;
    pcmTimed = false;
}
