// The engine as the web page's WebAssembly module sees it: a handful of plain
// C functions over the loader and the player's operations, driven from
// JavaScript exactly as the native tool drives them (chip initialised once,
// then per song: open, sampleRate, start, blocks until it stops running).
//
// Songs reach the loader as files of the module's in-memory file system, so
// archives, GYMX headers and info files beside a song are read by the same
// code as on the desktop. Every call runs on the one thread of the module's
// instance (the page, the audio worklet or a worker each own one instance).
#include <cstdint>
#include <cstring>

#include "player/engine.h"
#include "player/player.h"
#include "player/settings.h"
#include "player/song.h"
#include "platform/text.h"

extern "C" {

// Powers the engine on once and puts every setting at its default.
// 1 on success, 0 when the chip could not allocate its queue.
int32_t TamborilInit() {
    ResetSettingsToDefaults();
    return PowerOnEngine() ? 1 : 0;
}

// The bounds the page checks its options against, the tool's own: 0 the
// most loops, 1 the longest fade-out (ms), 2 the lowest and 3 the highest
// level (half-decibels), 4 the longest block (frames).
int32_t TamborilLimit(int32_t which) {
    static const int32_t kLimitTable[] = {kMaxLoopCount, kMaxFadeoutTime, kLowestLevel,
                                          kSilentLevel, kMaxCallFrames};
    return which >= 0 && which < 5 ? kLimitTable[which] : 0;
}

// The Frequency setting's value for one of its names (any case), or for
// "55555"; 0 for anything else.
int32_t TamborilFrequencyFromName(const char* name) {
    if (std::strcmp(name, "55555") == 0) return kFrequencyFmCode;
    for (const SettingChoice* c = frequencyChoices; c->name != nullptr; ++c) {
        if (platform::lstrcmpiA(c->name, name) == 0) return c->value;
    }
    return 0;
}

// Settings read when a song starts (frequency by sampleRate, the others by
// start).
void TamborilSetSettings(int32_t frequency, int32_t loopCount, int32_t fadeoutMs) {
    settings.frequency = frequency;
    settings.loopCount = loopCount;
    settings.fadeoutTime = fadeoutMs;
}

// Levels in half-decibels of attenuation; a playing song takes them at its
// next block.
void TamborilSetLevels(int32_t fm, int32_t psg, int32_t pcm) {
    settings.volumeFm = fm;
    settings.volumeSsg = psg;
    settings.volumePcm = pcm;
}

// What `tamboril info` shows of the file at `path`: 1 with the title
// (kTitleSize bytes), length, loop frame and form (the SongForm's number)
// filled in, 0 when it cannot be opened.
int32_t TamborilInfo(const char* path, char* title, int32_t* lengthMs, uint32_t* loopFrame,
                     int32_t* form) {
    SongForm songForm = SongForm::plain;
    GymPlayer* player = OpenSongWithForm(path, &songForm);
    if (player == nullptr) return 0;
    *loopFrame = player->loopFrame;
    DestroyPlayer(player);
    if (GetSongInfo(path, title, lengthMs) != 1) return 0;
    *form = static_cast<int32_t>(songForm);
    return 1;
}

// Loads a song; null when it cannot be.
GymPlayer* TamborilOpen(const char* path) {
    return OpenSong(path);
}

// The output rate for the current Frequency setting.
int32_t TamborilSampleRate(GymPlayer* player) {
    return player->ops.sampleRate(player);
}

// The output rate for the current Frequency setting, then a start from the
// beginning. Returns the rate.
int32_t TamborilStart(GymPlayer* player) {
    const int32_t rate = player->ops.sampleRate(player);
    player->ops.start(player);
    return rate;
}

// Stereo frames in one host block at `rate`.
int32_t TamborilBlockFrames(int32_t rate) {
    return BlockFrames(rate);
}

void TamborilRender(GymPlayer* player, int16_t* buffer, int32_t frames) {
    player->ops.render(player, buffer, frames);
}

void TamborilSeek(GymPlayer* player, int32_t ms) {
    player->ops.seek(player, ms);
}
int32_t TamborilPositionMs(GymPlayer* player) {
    return player->ops.positionMs(player);
}
int32_t TamborilLoopsDone(GymPlayer* player) {
    return player->ops.loopsDone(player);
}
int32_t TamborilIsRunning(GymPlayer* player) {
    return player->ops.isRunning(player);
}
int32_t TamborilLengthMs(GymPlayer* player) {
    return SongLengthMs(player);
}

// Halts the song and frees the player.
void TamborilClose(GymPlayer* player) {
    if (player == nullptr) return;
    player->ops.halt(player);
    player->ops.destroy(player);
}

}  // extern "C"
