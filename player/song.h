// GYM song files and loading: turns a file's bytes into a GymPlayer that owns
// the song's command stream (the GYM row of the format list, formats.h, and
// OpenSong for a path), and the name helpers every format uses.
//
// Three forms are read. Every path is first tried as a ZIP archive, whatever
// its name; a file that is not one is read whole as a log, and a log that
// begins with "GYMX" has its 428-byte header taken off.
//
// GYM command stream (no header, no length, no checksum):
//   00          frame marker: 1/60 s ends here
//   01 rr dd    FM port 0 register rr <- dd   (chip address 0x000-0x0FF)
//   02 rr dd    FM port 1 register rr <- dd   (chip address 0x100-0x1FF)
//   03 dd       PSG data port <- dd
//   04-FF       end of stream; nothing after it is read
// A command whose operand bytes would run past the end of the data is the end
// of the stream too: the loader cuts the data where that command begins.
//
// GYMX header, 428 bytes, integers little-endian:
//   0    4    magic "GYMX"
//   4    32   title, second part ("[ ... ]"); to the first NUL or all 32 bytes
//   36   32   title, first part; to the first NUL or all 32 bytes
//   68   32   publisher
//   100  32   emulator
//   132  32   dumper
//   164  256  comment
//             (these four and the title's two parts are the song's tags,
//             tags.h, each to its first NUL)
//   420  4    loop frame, 0 = no loop
//   424  4    unpacked body size; 0 = body stored, else one zlib stream that
//             inflates to exactly this many bytes (at most)
//   428  ..   body
// A file with the magic but fewer than 428 bytes does not load.
//
// Info file (".GYI" beside the song, or a "GYI" entry in the archive): only
// its first 272 bytes are read.
//   line 1  title: bytes up to the first NUL, CR or LF; cut at 259 bytes
//   then at most one CR and after it at most one LF are skipped
//   line 2  loop frame: the run of ASCII digits that starts right there (no
//           sign, no blanks); none when no digit stands there; numbers above
//           4294967295 count as 4294967295
//
// ZIP archive: the song is the first entry, in directory order, whose name has
// the extension GYM in any case; the info the first with extension GYI. Names
// of 260 bytes or more match nothing. An entry whose stated size is more than
// its compressed data could hold (stored: not equal to it; deflated: more than
// 1032 times it) is not read.
//
// Title and loop frame sources, strongest first: the sidecar info file, the
// archive's info entry, the GYMX header (which fills only what is still empty
// or 0).
//
// Memory: the player is allocated with std::calloc and its image with
// std::malloc; DestroyPlayer frees both with std::free.
#pragma once

#include <cstddef>
#include <cstdint>

#include "player/player.h"

// Bytes of an info file that are read.
constexpr int kInfoReadSize = 272;

// The largest song the loader takes, in command bytes after any GYMX header
// is taken off and any packing undone. The densest logs stream the DAC, three
// bytes for every sample it plays: 64 MiB holds over 16 minutes of that at
// 22,050 samples a second besides the FM and PSG writes, while the longest
// real logs, DAC and all, stay well below 20 MiB. The song stays in memory
// for as long as it plays, in a 32-bit host whose address space may not
// have a free block much larger than this, and a title lookup can load a
// second song beside it. A file, an archive's song entry or a GYMX body
// larger than this is refused by its stated size before anything of it is
// read or inflated.
constexpr uint32_t kSongSizeLimit = 64u << 20;

// The largest file read at all: a song of the limit's size with room for a
// GYMX header or an archive's other entries and records around it.
constexpr uint32_t kSongFileLimit = kSongSizeLimit + (1u << 20);

// Command bytes of the stream, as mapped above.
constexpr uint8_t kCommandFrame = 0x00;    // 00
constexpr uint8_t kCommandFmPort0 = 0x01;  // 01 rr dd
constexpr uint8_t kCommandFmPort1 = 0x02;  // 02 rr dd
constexpr uint8_t kCommandPsg = 0x03;      // 03 dd

// Bytes taken by the command that starts with `command`, operands included;
// 0 for the end of stream (04-FF).
constexpr uint32_t CommandLength(uint8_t command) {
    switch (command) {
        case kCommandFrame:
            return 1;
        case kCommandFmPort0:
        case kCommandFmPort1:
            return 3;
        case kCommandPsg:
            return 2;
        default:
            return 0;
    }
}

struct SongFormat;

// The GYM format's row of the format list (formats.h): plain logs, GYMX files
// and ZIP archives, with their info files.
extern const SongFormat gymFormat;

// Loads the song at `path` (8-bit, NUL-terminated) into a new player that is
// not started (no read position, no frames, nothing pending, no loops, not
// running), with its operations copied from GymPlayerOps. Null on failure,
// with everything it allocated freed. A song larger than kSongSizeLimit is
// a failure: a file larger than kSongFileLimit, an archive whose song entry
// states a larger size (the archive is not then read as a plain log), a
// GYMX header stating a larger body.
GymPlayer* OpenSong(const char* path);

// OpenSong that also reports the form through `form` (may be null) on success.
// Both copy the loop count and fade-out time as the song session does.
GymPlayer* OpenSongWithForm(const char* path, SongForm* form);

// Frees the player's image (if any) and the player. Null is ignored. This is
// what the `destroy` operation does.
void DestroyPlayer(GymPlayer* player);

// A title of two parts as every form shows it: 'first [ second ]',
// '[ second ]' or 'first' (either may be empty), cut at kTitleSize - 1 bytes
// into `title` (kTitleSize bytes).
void JoinTitle(const char* first, const char* second, char* title);

// The last component of `path`: what follows its last '/', '\' or ':'.
const char* PathFileName(const char* path);

// One pass through the image, in ms: frame markers x 100 / 6, truncated.
int32_t SongLengthMs(const GymPlayer* player);
// The frame markers of one pass.
uint32_t SongFrames(const GymPlayer* player);

// 1 when `name` (may be null) ends in ".GYM.ZIP" in any case, else 0.
int MatchesArchiveSuffix(const char* name);

// Reads the info file beside `path` (its extension replaced by ".GYI", then,
// if that cannot be read, ".gyi") and lets it override `title` (kTitleSize
// bytes) and, when it gives one, `*loopFrame`. Nothing changes when there is
// no such file or its path does not fit in kTitleSize bytes.
void ReadInfoSidecar(const char* path, uint32_t* loopFrame, char* title);

// Parses the first `count` bytes of an info file (count <= kInfoReadSize):
// replaces `title` (kTitleSize bytes) with line 1, and `*loopFrame` with line
// 2's number when line 2 begins with a digit.
void ParseInfoText(const uint8_t* text, int32_t count, uint32_t* loopFrame, char* title);

// 1 when the last component of `name` has an extension equal to `extension`
// (given without its dot) in any case, else 0. dir/tune.gym has "gym";
// tune.gym.bak and a.b/tune have not.
int HasExtension(const char* name, const char* extension);

// Copies `path` into `destination` (`capacity` bytes) without its extension:
// the last '.' after the last '/', '\' or ':' and what follows it go. Returns
// false, with `destination` empty, when the result does not fit.
bool StripExtension(char* destination, const char* path, size_t capacity = kTitleSize);
