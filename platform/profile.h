// Profile (INI) files, read and written one key at a time, behind a seam. The
// file name is UTF-8; section, key and value texts are in the system's 8-bit
// code page. The win32 build forwards to the wide-character Win32 calls, so
// that a folder named outside the ANSI code page works; the POSIX twin keeps
// the same rules:
//   - "[section]" lines open a section; "key=value" lines inside it hold the
//     keys. Section and key names compare without regard to ASCII case; blanks
//     around names and values are dropped, and a value in matching single or
//     double quotes loses them. Lines may end in LF or CR LF.
//   - GetPrivateProfileStringA copies the key's value, or `defaultText` when
//     the file, section or key is missing, cut to size - 1 characters and
//     NUL-terminated; it returns the count copied.
//   - WritePrivateProfileStringA replaces the key's line in place, adds the
//     key at the end of its section, or adds the section at the end of the
//     file (creating the file); every other line stays as it was. False when
//     the file cannot be written.
#pragma once

#include <cstdint>

namespace platform {

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                  char* buffer, uint32_t size, const char* fileName);
bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName);

}  // namespace platform
