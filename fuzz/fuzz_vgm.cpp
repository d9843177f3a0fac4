// Fuzz target: VGM and VGZ songs. Arbitrary bytes are opened as "song.vgm"
// (read as VGM when they start with "Vgm " or the gzip magic; otherwise as
// the name claims, unless they read as a GYM log), then played for a short,
// bounded stretch as in the player target: a few blocks from the start, a
// seek to the middle, a seek to just before the end so that the loop jump
// and the fade-out run, and a seek back. Any read past a buffer, undefined
// arithmetic or a render that never returns is a finding, and so is a broken
// promise of the session's: a refusal without a reason, a negative length or
// position, a title that does not end within its buffer, another rate than
// the one the song opened with (or one set later), or noise once the song
// has ended.
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/session_checks.h"
#include "player/engine.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/vgm.h"

namespace {

constexpr int32_t kBlockFrames = 256;  // about 6 ms at 44100 Hz
constexpr int kBlocksPerStretch = 3;

int16_t block[kBlockFrames * 2];

void Check(bool holds) {
    if (!holds) std::abort();
}

void PlayStretch(SongSession& song) {
    for (int i = 0; i < kBlocksPerStretch && song.Running(); ++i) {
        song.Render(block, kBlockFrames);
        Check(song.PositionMs() >= 0);
    }
    if (song.Running()) return;
    // Once the song has ended, a block is silence.
    block[0] = 1;
    song.Render(block, kBlockFrames);
    for (int16_t sample : block)
        Check(sample == 0);
}

void SeekTo(SongSession& song, int32_t ms) {
    song.Seek(ms);
    Check(song.PositionMs() >= 0);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PowerOnEngine();
    ResetSettingsToDefaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    // The last byte picks the output rate, the loop count and a fade short
    // enough to end within the stretch, as in the player target. A VGM song
    // reads no byte past its commands and its tag, so the seeds carry this
    // byte at their end. The song takes the settings when it opens.
    static const int32_t rates[] = {kFrequencyFmCode, 48000, 44100, 24000, 22050, 11025};
    const uint8_t knobs = size > 0 ? data[size - 1] : 0;
    const int32_t frequency = rates[knobs % 6];
    settings.frequency = frequency;
    settings.loopCount = (knobs >> 3) & 3;
    settings.fadeoutTime = (knobs >> 5) * 4 - 4;  // -4 (none) ... 24 ms

    const char* why = nullptr;
    const bool asVgm = &FormatForFile("song.vgm", data, static_cast<uint32_t>(size)) == &vgmFormat;
    std::unique_ptr<SongSession> song =
        SongSession::OpenBytes("song.vgm", data, static_cast<uint32_t>(size), nullptr, 0, &why);
    if (!song) {
        // The VGM loader says why it refused a file.
        Check(!asVgm || why != nullptr);
        return 0;
    }
    Check(std::memchr(song->Title(), 0, kTitleSize) != nullptr);
    Check(song->Rate() == (frequency == kFrequencyFmCode ? 44100 : frequency));
    const int32_t lengthMs = song->LengthMs();
    Check(lengthMs >= 0);
    fuzzchecks::CheckWhatTheSongSays(*song);
    // The song plays at the rate it opened with: a rate of 0 set now, which
    // no song could play at, must go unread.
    settings.frequency = 0;

    song->Start();
    PlayStretch(*song);
    SeekTo(*song, lengthMs / 2);
    PlayStretch(*song);
    SeekTo(*song, song->PlayMs() - 5);  // into the loops and the fade
    PlayStretch(*song);
    PlayStretch(*song);
    SeekTo(*song, 17);
    PlayStretch(*song);
    return 0;
}
