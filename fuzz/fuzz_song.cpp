// Fuzz target: the player. Arbitrary bytes are opened as a song (as in the
// loader target, an info file may come with it), then played for a short,
// bounded stretch: a few small blocks from the start, a seek to the middle, a
// seek to just before the end so that the loop jump and the fade-out run, and
// a seek back. Any read past a buffer, undefined arithmetic or a render that
// never returns is a finding.
#include <memory>

#include "fuzz/fuzz_files.h"
#include "fuzz/session_checks.h"
#include "player/engine.h"
#include "player/session.h"
#include "player/settings.h"

namespace {

constexpr int32_t kBlockFrames = 256;  // about 6 ms at 44100 Hz
constexpr int kBlocksPerStretch = 3;

int16_t block[kBlockFrames * 2];

void PlayStretch(SongSession& song) {
    for (int i = 0; i < kBlocksPerStretch && song.Running(); ++i) {
        song.Render(block, kBlockFrames);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    PowerOnEngine();
    ResetSettingsToDefaults();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const fuzzfiles::SongParts parts = fuzzfiles::SplitSong(data, size);

    // The last byte picks the output rate, the loop count and a fade short
    // enough to end within the stretch, so every setting gets its turn. The
    // song takes them when it opens.
    static const int32_t rates[] = {55555, 48000, 44100, 24000, 22050, 11025};
    const uint8_t knobs = size > 0 ? data[size - 1] : 0;
    settings.frequency = rates[knobs % 6];
    settings.loopCount = (knobs >> 3) & 3;
    settings.fadeoutTime = (knobs >> 5) * 4 - 4;  // -4 (none) ... 24 ms

    const CompanionFile info = {"song.GYI", parts.info, static_cast<uint32_t>(parts.infoSize)};
    std::unique_ptr<SongSession> song =
        SongSession::OpenBytes("song.gym", parts.song, static_cast<uint32_t>(parts.songSize), &info,
                               parts.info != nullptr ? 1 : 0);
    if (!song) return 0;
    const int32_t lengthMs = song->LengthMs();
    fuzzchecks::CheckWhatTheSongSays(*song);

    song->Start();
    PlayStretch(*song);
    song->Seek(lengthMs / 2);
    PlayStretch(*song);
    song->Seek(song->PlayMs() - 5);  // into the loops and the fade
    PlayStretch(*song);
    PlayStretch(*song);
    song->Seek(17);
    PlayStretch(*song);
    return 0;
}
