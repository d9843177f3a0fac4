// What a song's file says about it, for hosts to show: one record for every
// format, its texts in UTF-8.
//
// Where the texts come from:
//   GYM   the GYMX header's fields (song at byte 4, game at 36, publisher at
//         68, emulator at 100, dumper at 132, each 32 bytes; comment at 164,
//         256 bytes; each ends at its first zero byte) and the info file's
//         title, which stands for the song's. These texts are 8-bit in no
//         stated code page: they are read as Windows-1252.
//   VGM   the GD3 tag's eleven UTF-16 strings: track, game, system and
//         author in English and in Japanese, date, ripper and notes.
// A field the file does not fill is empty.
#pragma once

#include <cstddef>
#include <cstdint>

// The fields, in the order the tool's tab-separated lines give them.
enum SongTag : int {
    kTagTrack,  // GYM: the song (or the info file's title); VGM: the track
    kTagGame,
    kTagSystem,     // VGM only
    kTagAuthor,     // VGM only
    kTagDate,       // VGM only, as the tag writes it ("1994", "17/10/1994")
    kTagPublisher,  // GYM only
    kTagDumper,     // GYM: the dumper; VGM: the ripper
    kTagComment,    // GYM: the comment; VGM: the notes
    kTagTrackJa,    // VGM only: the Japanese track, game, system and author
    kTagGameJa,
    kTagSystemJa,
    kTagAuthorJa,
    kTagEmulator,  // GYM only: the emulator that logged the song
    kTagCount,
};

// Bytes kept of one field, terminator included: a longer text is cut after
// its last whole character that fits.
constexpr size_t kTagSize = 1024;

struct SongTags {
    char text[kTagCount][kTagSize];  // UTF-8, NUL-terminated
};

// The field's name as the tool and the information box label it in English
// ("Track", "Game (Japanese)").
const char* TagLabel(SongTag tag);

// The Japanese field that stands beside `tag` (kTagGameJa for kTagGame), or
// kTagCount for a field that has none.
SongTag JapaneseTwin(SongTag tag);

// The first four-digit year in `date` ("1994", "1991/09", "17/10/1994") into
// `year` (5 bytes); false, with `year` empty, when there is none.
bool YearOf(const char* date, char* year);

// Appends `code` (a Unicode scalar value) to the UTF-8 text `text` of `used`
// bytes that has room for `capacity` bytes with its terminator; a character
// that does not fit is left out whole. Returns the new length.
size_t AppendUtf8(char* text, size_t used, size_t capacity, uint32_t code);

// `count` bytes of Windows-1252 text (to their first NUL) as UTF-8 into `text`
// of `capacity` bytes.
void Windows1252ToUtf8(const uint8_t* bytes, size_t count, char* text, size_t capacity);

// The next character of UTF-8 text at `*at` (advancing it), or 0 at the
// terminator; a malformed byte reads as U+FFFD.
uint32_t NextUtf8(const char** at);
