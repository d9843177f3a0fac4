// One song as every host plays it, whatever its format: the DLL's decode
// thread, the tool, the Audacious plug-in and the page all open, start,
// render, seek and end songs through a SongSession, and ask it the song's
// title and length.
//
// Opening reads the file once, picks its format from the format list
// (formats.h) and has that format load it. The session then holds what the
// song plays with, copied from the settings at that moment: the output rate
// (Frequency), the loop count and the fade-out time. Every start of the
// song, a seek back included, uses those copies; changed settings apply from
// the next song. The three levels are the exception: a playing song takes
// them at its next Render, so a change on the settings page is heard at
// once.
//
// A host plays a song thus (PlayThrough does it for hosts that need nothing
// between the blocks but a look at their own requests):
//   session = SongSession::Open(path)      the rate is known from here on
//   session->Start()
//   while (session->Running())
//       session->Render(block, frames)     then write, or obey a stop or seek
//
// The chips are process-wide: only one session plays at a time, and only on
// one thread. Opening and the questions about a song touch no chip, so
// sessions may be opened, asked and closed on any thread meanwhile.
#pragma once

#include <cstdint>
#include <memory>

#include "player/formats.h"
#include "player/player.h"

class SongSession {
public:
    // The song at `path` (8-bit, NUL-terminated), not started; null when the
    // file cannot be read or its format cannot load it (a song over the size
    // limit among them). `why` (may be null) then receives the format's word
    // on why it refused the file, when it gave one (a static text).
    static std::unique_ptr<SongSession> Open(const char* path, const char** why = nullptr);

    // The same from a file's bytes: `name` stands for its path (the title
    // when the song has none, the names of its companions), `companions` are
    // the files beside it (its ".GYI", say), matched by name.
    static std::unique_ptr<SongSession> OpenBytes(const char* name, const uint8_t* bytes,
                                                  uint32_t size, const CompanionFile* companions,
                                                  int32_t companionCount,
                                                  const char** why = nullptr);

    ~SongSession();
    SongSession(const SongSession&) = delete;
    SongSession& operator=(const SongSession&) = delete;

    // --- what the song is -----------------------------------------------------
    const SongFormat& Format() const { return *format_; }
    // Title, length of one pass, form and loop point, as its loader found them.
    SongFacts Facts() const { return facts_; }
    // The song's title, or "[ name ]" with the file's name when it has none;
    // at most kTitleSize - 1 bytes.
    const char* Title() const { return title_; }
    // The same as UTF-8, for hosts that show Unicode: a format's 8-bit text,
    // and any name that is not UTF-8, read as Windows-1252.
    const char* TitleUtf8() const { return titleUtf8_; }
    int32_t LengthMs() const { return facts_.lengthMs; }
    // What plays, in ms, with the settings copied when the song opened: the
    // loops the loop count asks and the fade included (one pass when the
    // song does not loop or loops for ever). Hosts show this as the length.
    int32_t PlayMs() const { return facts_.playMs; }
    // Every tag the file carries, UTF-8.
    const SongTags& Tags() const { return player_->tags; }

    // --- playing it -------------------------------------------------------------
    // Output rate in Hz, fixed when the song opened.
    int32_t Rate() const { return rate_; }
    // The host's block at that rate: 30 ms of stereo frames.
    int32_t BlockFrames() const;
    // The decode thread's priority, 1 (lowest) ... 5 (highest).
    int32_t ThreadPriority() const;
    // Powers both chips on afresh and starts from the beginning.
    void Start();
    // Fills exactly `frames` 16-bit stereo frames (left, right); silence once
    // the song has ended.
    void Render(int16_t* buffer, int32_t frames);
    // Moves to `ms` (restarting first when it lies behind); what the chips
    // were given on the way is not played.
    void Seek(int32_t ms);
    // Song time reached, in ms; jumps back to the loop point; whether the song
    // plays on (from Start until it ends, fades out or halts).
    int32_t PositionMs() const;
    int32_t LoopsDone() const;
    bool Running() const;

    // The format's player, for tests and the tool's closer looks.
    SongPlayer* Player() const { return player_; }

private:
    SongSession(const SongFormat& format, SongPlayer* player, const char* path);
    static std::unique_ptr<SongSession> Load(SongSource* source, const char** why);

    const SongFormat* format_;
    SongPlayer* player_;  // owned: destroyed through its own operations
    int32_t rate_;        // Hz
    SongFacts facts_;     // asked once, when the song opened: they do not change
    char title_[kTitleSize];
    char titleUtf8_[3 * kTitleSize];
};

// What a host does with each block PlayThrough renders.
class BlockHost {
public:
    // After a block: kKeepPlaying (the host has taken it), kStopPlaying, or a
    // position in ms to seek to (the block is dropped).
    static constexpr int32_t kKeepPlaying = -1;
    static constexpr int32_t kStopPlaying = -2;
    virtual int32_t TakeBlock(const int16_t* frames, int32_t count) = 0;

protected:
    ~BlockHost() = default;
};

// Starts `session` and hands `host` blocks of `blockFrames` frames until the
// song ends or the host stops it. The first block has `firstFrames` frames
// instead when that is above 0 (the tool drops a first block of the size it
// is told before it seeks). False when the block cannot be allocated.
bool PlayThrough(SongSession& session, int32_t blockFrames, BlockHost& host,
                 int32_t firstFrames = 0);

// Title and length of the song at `path` without keeping it: 1 if it could be
// opened, else 0 with neither output touched. `title` (may be null) receives
// at least kTitleSize bytes: SongSession::Title. `lengthMs` (may be null)
// receives the length that plays (SongSession::PlayMs).
int GetSongInfo(const char* path, char* title, int32_t* lengthMs);
