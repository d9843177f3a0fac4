// Plain file reading for the song loader, behind a seam so that the core never
// includes windows.h. Paths are 8-bit text in the system's code page; '/' and
// (on Win32) '\' both separate folders. Only regular files are read: a path
// that names a folder or a device reads as a file that cannot be opened.
//
// The functions ending in W take a wide path instead: on Windows UTF-16, so
// that any file name opens whatever the code page; on POSIX wchar_t text
// taken as UTF-32 and opened by its UTF-8 form.
#pragma once

#include <cstdint>

namespace platform {

// Reads the whole file at `path` into a new buffer of its size plus `spare`
// bytes, allocated with std::malloc and owned by the caller (std::free); the
// spare bytes are zero. `*size` receives the file's size in bytes. Returns
// null, leaving `*size` alone, when the file cannot be opened, is not a
// regular file, is larger than `limit` bytes (known from its size before
// anything is read or allocated), does not fit in memory, or delivers fewer
// bytes than its size.
uint8_t* ReadWholeFile(const char* path, uint32_t spare, uint32_t limit, uint32_t* size);

// Reads at most `capacity` bytes from the start of the file at `path` into
// `buffer`. Returns the count that arrived before the end of the file or a
// read error (0 for an empty file), or -1 when the file cannot be opened or is
// not a regular file.
int32_t ReadFileStart(const char* path, uint8_t* buffer, int32_t capacity);

uint8_t* ReadWholeFileW(const wchar_t* path, uint32_t spare, uint32_t limit, uint32_t* size);
int32_t ReadFileStartW(const wchar_t* path, uint8_t* buffer, int32_t capacity);

// What tells one state of a file from another: its size and the time of its
// last write.
struct FileStamp {
    uint64_t size;       // bytes
    uint64_t writeTime;  // in the system's own unit (Windows: 100 ns; POSIX: ns)
};

// The stamp of the regular file at `path`; false, leaving `*stamp` alone,
// when there is none there.
bool FileStampW(const wchar_t* path, FileStamp* stamp);

}  // namespace platform
