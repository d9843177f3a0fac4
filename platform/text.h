// Text services of the system's 8-bit code page, behind a seam so that the
// core never includes windows.h. The win32 build forwards to the Win32 calls
// of the same names; the POSIX build treats text as single-byte ASCII.
//
//   CharNextA       the next character of NUL-terminated text; at the
//                   terminator it stays there
//   IsDBCSLeadByte  nonzero when the byte starts a two-byte character of the
//                   code page (never on POSIX)
//   lstrcmpiA       compares two NUL-terminated texts without regard to case:
//                   <0, 0 or >0 (POSIX: ASCII letters only)
#pragma once

#include <cstdint>

namespace platform {

const char* CharNextA(const char* text);
int IsDBCSLeadByte(uint8_t testChar);
int lstrcmpiA(const char* first, const char* second);

}  // namespace platform
