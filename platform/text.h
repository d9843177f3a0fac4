// Text services of the system's 8-bit code page and its wide text, behind a
// seam so that the core never includes windows.h. The win32 build forwards
// to the Win32 calls of the same names; the POSIX build treats text as
// single-byte ASCII for the first three, and takes UTF-8 as its 8-bit code
// page and UTF-32 as its wide text for the conversions.
//
//   CharNextA       the next character of NUL-terminated text; at the
//                   terminator it stays there
//   IsDBCSLeadByte  nonzero when the byte starts a two-byte character of the
//                   code page (never on POSIX)
//   lstrcmpiA       compares two NUL-terminated texts without regard to case:
//                   <0, 0 or >0 (POSIX: ASCII letters only)
//
// Conversions write at most `capacity` units into `out`, the terminator
// included, cut only between characters, and return the units written before
// the terminator; with `capacity` 0 nothing is written. A character the
// target lacks becomes the code page's default character ('?'); a malformed
// one in the source becomes U+FFFD on the way.
#pragma once

#include <cstdint>

namespace platform {

const char* CharNextA(const char* text);
int IsDBCSLeadByte(uint8_t testChar);
int lstrcmpiA(const char* first, const char* second);

// Code pages WideToCodePage writes: the system's ANSI code page, and
// Windows-1252 whatever the system's (the GYM texts' own bytes, as the song
// loader reads them). POSIX writes UTF-8 for either.
constexpr uint32_t kAnsiCodePage = 0;
constexpr uint32_t kWindows1252 = 1252;

// Wide text (UTF-16 on Windows, UTF-32 on POSIX) to 8-bit text.
uint32_t WideToCodePage(const wchar_t* text, uint32_t codePage, char* out, uint32_t capacity);
// UTF-8 text to the ANSI code page.
uint32_t Utf8ToAnsi(const char* text, char* out, uint32_t capacity);
// Text in the ANSI code page (a path, say) to wide text, whole: false, with
// `out` empty, when it does not fit.
bool AnsiToWide(const char* text, wchar_t* out, uint32_t capacity);

// Whether the resource loader, asked on the calling thread for the dialog
// template `dialogId` of the module `instance`, takes its Japanese version:
// the choice that decides a dialog's language (Windows picks it by the
// thread's language). Never on POSIX, which has no resources.
bool DialogTemplateIsJapanese(void* instance, int dialogId);

}  // namespace platform
