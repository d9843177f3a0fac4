// The song formats Tamboril plays, in one list that every host reads: the
// Winamp record's file types and IsOurFile, the tool's help, Audacious's
// extensions, the page's file picker and drop filter. A new format is its
// own files and one row of songFormatTable (formats.cpp).
//
// Each format says:
//   name                 what hosts show for its songs ("GYM sound log")
//   fileTypes            groups of extensions, each with its description, as
//                        Winamp's open dialog lists them; extensions in upper
//                        case, ';' between them ("DRU;GYM_ZIP")
//   nameEndings          names claimed though their extension says otherwise
//                        (".GYM.ZIP": the extension of tune.gym.zip is ZIP)
//   companionExtensions  files read beside a song, never songs themselves
//                        (the ".GYI" info file)
//   recognises           1 when a file's first bytes are this format's
//   load                 the song as a new player of this format, not started
//                        and holding the settings it will play with; null
//                        when it cannot be loaded
//
// Which format reads a file: the first whose recognises takes its bytes;
// failing that, the one that claims its name; failing that, the first in
// the list, GYM, whose logs have no mark of their own and always loaded
// whatever their name (such a file plays for as long as its bytes happen to
// read as commands).
#pragma once

#include <cstdint>

#include "player/player.h"

// A file handed in beside a song's bytes (an info file, say), by name.
struct CompanionFile {
    const char* name;  // the file's name; folders before a '/' or '\' are not looked at
    const uint8_t* bytes;
    uint32_t size;
};

// A song's file as its format's loader gets it.
struct SongSource {
    const char* path;  // the song's path, or its name when it came as bytes
    uint8_t* bytes;    // the whole file, std::malloc'd with kSourceSpare zero bytes
                       //   after it; a loader that keeps the buffer sets this to null
    uint32_t size;     // bytes of the file, the spare ones not counted
    const CompanionFile* companions;  // with bytes: the files beside the song;
                                      //   null: the file system beside `path`
    int32_t companionCount;
    const char* refusal;  // set by a loader that refuses the file: why, in a few
                          //   words for the user ("damaged VGM: ..."); null otherwise
};

// Zero bytes kept after every file's bytes.
constexpr uint32_t kSourceSpare = 1;

// Reads at most `capacity` bytes from the start of the companion `path` of
// `source` (a path built from source.path). Returns the count read, or -1
// when there is no such file. Files handed in are matched by their last
// component, exactly, as a case-sensitive file system would match them.
int32_t ReadCompanionStart(const SongSource& source, const char* path, uint8_t* buffer,
                           int32_t capacity);

struct FileType {
    const char* extensions;   // "GYM", "DRU;GYM_ZIP"
    const char* description;  // "Genecyst sound log file (*.GYM)"
};

struct SongFormat {
    const char* name;
    const char* family;  // the kind of file, as a host lists it ("VGM video game music file")
    bool eightBitText;   // its texts are 8-bit in no stated code page (read as Windows-1252);
                         //   else they are UTF-8
    const FileType* fileTypes;               // ends with {nullptr, nullptr}
    const char* const* nameEndings;          // ends with nullptr
    const char* const* companionExtensions;  // ends with nullptr
    int (*recognises)(const uint8_t* bytes, uint32_t size);
    SongPlayer* (*load)(SongSource* source);
};

// Every format, the catch-all first; ends with nullptr.
extern const SongFormat* const songFormatTable[];

// The format whose file types or name endings claim `path` (any case), or
// null when none does.
const SongFormat* FormatClaimingName(const char* path);

// 1 when a name ending of some format (".GYM.ZIP") ends `path`, in any case.
int ClaimedByNameEnding(const char* path);

// The format that reads a file of this name and these first bytes.
const SongFormat& FormatForFile(const char* path, const uint8_t* bytes, uint32_t size);

// Calls `visit` with each extension of every format's file types, name
// endings (without their first dot: "GYM.ZIP") and, when `companions` is
// set, companion extensions, in list order, upper case and without a dot.
template <typename Visit>
void ForEachExtension(bool companions, Visit visit);

// ---------------------------------------------------------------------------

template <typename Visit>
void ForEachExtension(bool companions, Visit visit) {
    for (const SongFormat* const* f = songFormatTable; *f != nullptr; ++f) {
        const SongFormat& format = **f;
        for (const FileType* type = format.fileTypes; type->extensions != nullptr; ++type) {
            const char* start = type->extensions;
            for (const char* p = start;; ++p) {
                if (*p == ';' || *p == 0) {
                    visit(start, static_cast<int>(p - start));
                    if (*p == 0) break;
                    start = p + 1;
                }
            }
        }
        for (const char* const* ending = format.nameEndings; *ending != nullptr; ++ending) {
            const char* text = **ending == '.' ? *ending + 1 : *ending;
            int length = 0;
            while (text[length] != 0)
                ++length;
            visit(text, length);
        }
        if (!companions) continue;
        for (const char* const* c = format.companionExtensions; *c != nullptr; ++c) {
            int length = 0;
            while ((*c)[length] != 0)
                ++length;
            visit(*c, length);
        }
    }
}
