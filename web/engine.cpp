// The engine as the web page's WebAssembly module sees it: a handful of plain
// C functions over the song session and the format list, driven from
// JavaScript exactly as the native tool drives them (engine powered on once,
// then per song: settings, open, start, blocks until it stops running).
//
// Songs come in as bytes, with the files that were dropped or chosen beside
// them (info files) handed in by name, so archives, GYMX headers and info
// files are read by the same code as on the desktop. Every call runs on the
// one thread of the module's instance (the page, the audio worklet or a
// worker each own one instance). Each function below is marked for export
// here, so that the module offers exactly what this file declares.
#include <emscripten/emscripten.h>

#include <cstddef>
#include <cstdint>
#include <string>

#include "player/engine.h"
#include "player/formats.h"
#include "player/session.h"
#include "player/settings.h"
#include "player/song.h"
#include "player/tags.h"

// JavaScript lays these records out itself: the page's facts of a song are
// five 32-bit words, a file beside a song three.
struct PageFacts {
    const char* title;  // 8-bit, as SongSession::Title gives it
    int32_t lengthMs;   // one pass
    const char* form;
    uint32_t loop;   // the loop point, 0 = the song does not loop
    int32_t playMs;  // what plays with the settings the session copied
};
static_assert(sizeof(PageFacts) == 20 && offsetof(PageFacts, lengthMs) == 4 &&
                  offsetof(PageFacts, form) == 8 && offsetof(PageFacts, loop) == 12 &&
                  offsetof(PageFacts, playMs) == 16,
              "the page reads a song's facts as five 32-bit words");
static_assert(sizeof(CompanionFile) == 12 && offsetof(CompanionFile, bytes) == 4 &&
                  offsetof(CompanionFile, size) == 8,
              "the page writes CompanionFile as three 32-bit words");

namespace {

// Appends the entries of a null-ended list, ';' between them.
void AppendList(std::string& text, const char* const* list) {
    for (const char* const* entry = list; *entry != nullptr; ++entry) {
        if (entry != list) text += ';';
        text += *entry;
    }
}

}  // namespace

extern "C" {

// Powers the engine on once and puts every setting at its default.
// 1 on success, 0 when the chip could not allocate its queue.
EMSCRIPTEN_KEEPALIVE int32_t TamborilInit() {
    ResetSettingsToDefaults();
    return PowerOnEngine() ? 1 : 0;
}

// The bounds the page checks its options against, the tool's own: 0 the
// most loops, 1 the longest fade-out (ms), 2 the lowest and 3 the highest
// level (half-decibels), 4 the longest block (frames).
EMSCRIPTEN_KEEPALIVE int32_t TamborilLimit(int32_t which) {
    static const int32_t kLimitTable[] = {kMaxLoopCount, kMaxFadeoutTime, kLowestLevel,
                                          kSilentLevel, kMaxCallFrames};
    return which >= 0 && which < 5 ? kLimitTable[which] : 0;
}

// The Frequency setting's value for one of its names (any case), or for
// "55555"; 0 for anything else.
EMSCRIPTEN_KEEPALIVE int32_t TamborilFrequencyFromName(const char* name) {
    return FrequencyFromName(name);
}

// The name of the Frequency choice at `index` ("55467:FM", "48000" ...);
// null past the last.
EMSCRIPTEN_KEEPALIVE const char* TamborilFrequencyName(int32_t index) {
    for (const SettingChoice* c = frequencyChoices; c->name != nullptr; ++c, --index) {
        if (index == 0) return c->name;
    }
    return nullptr;
}

// The format list as text, a line a format: its name, its extensions, its
// name endings and its companion extensions, tab-separated, the entries of
// each ';'-separated ("GYM sound log\tGYM;DRU;GYM_ZIP\t.GYM.ZIP\tGYI\n").
EMSCRIPTEN_KEEPALIVE const char* TamborilFormatList() {
    static std::string text;
    if (!text.empty()) return text.c_str();
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        text += (*f)->name;
        text += '\t';
        for (const FileType* type = (*f)->fileTypes; type->extensions != nullptr; ++type) {
            if (type != (*f)->fileTypes) text += ';';
            text += type->extensions;
        }
        text += '\t';
        AppendList(text, (*f)->nameEndings);
        text += '\t';
        AppendList(text, (*f)->companionExtensions);
        text += '\n';
    }
    return text.c_str();
}

// Settings a session copies as it opens: set them before opening.
EMSCRIPTEN_KEEPALIVE void TamborilSetSettings(int32_t frequency, int32_t loopCount,
                                              int32_t fadeoutMs) {
    settings.frequency = frequency;
    settings.loopCount = loopCount;
    settings.fadeoutTime = fadeoutMs;
}

// Levels in half-decibels of attenuation; a playing song takes them at its
// next block.
EMSCRIPTEN_KEEPALIVE void TamborilSetLevels(int32_t fm, int32_t psg, int32_t pcm) {
    settings.volumeFm = fm;
    settings.volumeSsg = psg;
    settings.volumePcm = pcm;
}

// The song in `size` bytes, named `name`, with `count` files beside it; not
// started. Null when it cannot be loaded. Nothing handed in is kept.
EMSCRIPTEN_KEEPALIVE SongSession* TamborilOpen(const char* name, const uint8_t* bytes,
                                               uint32_t size, const CompanionFile* companions,
                                               int32_t count) {
    return SongSession::OpenBytes(name, bytes, size, companions, count).release();
}

// Halts the song and frees the session.
EMSCRIPTEN_KEEPALIVE void TamborilClose(SongSession* session) {
    delete session;
}

// What `tamboril info` shows of the song, into `facts`: its title as the
// tool takes it (8-bit; "[ name ]" when it has none), length of one pass, form, loop point and the
// length that plays. The texts last as long as the session.
EMSCRIPTEN_KEEPALIVE void TamborilInfo(const SongSession* session, PageFacts* facts) {
    const SongFacts found = session->Facts();
    facts->title = session->Title();
    facts->lengthMs = found.lengthMs;
    facts->form = found.form;
    facts->loop = found.loop;
    facts->playMs = session->PlayMs();
}

// The title as UTF-8 (SongSession::TitleUtf8). Lasts as long as the session.
EMSCRIPTEN_KEEPALIVE const char* TamborilTitle(const SongSession* session) {
    return session->TitleUtf8();
}

// One of the song's tags (UTF-8, empty when the file does not fill it), in
// the order of SongTag; null past the last. Lasts as long as the session.
EMSCRIPTEN_KEEPALIVE const char* TamborilTag(const SongSession* session, int32_t index) {
    if (index < 0 || index >= kTagCount) return nullptr;
    return session->Tags().text[index];
}

EMSCRIPTEN_KEEPALIVE int32_t TamborilLengthMs(const SongSession* session) {
    return session->LengthMs();
}

EMSCRIPTEN_KEEPALIVE int32_t TamborilPlayMs(const SongSession* session) {
    return session->PlayMs();
}

// The output rate, fixed as the song opened.
EMSCRIPTEN_KEEPALIVE int32_t TamborilSampleRate(const SongSession* session) {
    return session->Rate();
}

// Stereo frames in one host block at the song's rate.
EMSCRIPTEN_KEEPALIVE int32_t TamborilBlockFrames(const SongSession* session) {
    return session->BlockFrames();
}

EMSCRIPTEN_KEEPALIVE void TamborilStart(SongSession* session) {
    session->Start();
}

EMSCRIPTEN_KEEPALIVE void TamborilRender(SongSession* session, int16_t* buffer, int32_t frames) {
    session->Render(buffer, frames);
}

EMSCRIPTEN_KEEPALIVE void TamborilSeek(SongSession* session, int32_t ms) {
    session->Seek(ms);
}

EMSCRIPTEN_KEEPALIVE int32_t TamborilPositionMs(const SongSession* session) {
    return session->PositionMs();
}

EMSCRIPTEN_KEEPALIVE int32_t TamborilLoopsDone(const SongSession* session) {
    return session->LoopsDone();
}

EMSCRIPTEN_KEEPALIVE int32_t TamborilIsRunning(const SongSession* session) {
    return session->Running() ? 1 : 0;
}

}  // extern "C"
