#include "platform/file.h"

#include <windows.h>

#include <cstdlib>
#include <cstring>

namespace platform {
namespace {

// A file just opened, kept when it is a regular disk file; else closed and
// INVALID_HANDLE_VALUE. CreateFile refuses folders unless asked for backup
// semantics.
HANDLE KeepRegular(HANDLE file) {
    if (file == INVALID_HANDLE_VALUE) return file;
    if (GetFileType(file) != FILE_TYPE_DISK) {
        CloseHandle(file);
        return INVALID_HANDLE_VALUE;
    }
    return file;
}

HANDLE OpenRegular(const char* path) {
    return KeepRegular(CreateFileA(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

HANDLE OpenRegularW(const wchar_t* path) {
    return KeepRegular(CreateFileW(path, GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                   OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr));
}

// Bytes asked of one ReadFile call: 1 GiB, so that no single call is larger
// than the POSIX twin's.
constexpr DWORD kReadChunk = 1u << 30;

// Reads until `count` bytes arrived, the file ends or it fails: bytes read.
uint32_t ReadFully(HANDLE file, uint8_t* buffer, uint32_t count) {
    uint32_t done = 0;
    while (done < count) {
        DWORD want = count - done;
        if (want > kReadChunk) want = kReadChunk;
        DWORD got = 0;
        if (!ReadFile(file, buffer + done, want, &got, nullptr) || got == 0) break;
        done += got;
    }
    return done;
}

// ReadWholeFile of a file opened by either kind of path; closes it.
uint8_t* ReadWholeOpenFile(HANDLE file, uint32_t spare, uint32_t limit, uint32_t* size) {
    if (file == INVALID_HANDLE_VALUE) return nullptr;
    LARGE_INTEGER fileSize;
    if (!GetFileSizeEx(file, &fileSize) || fileSize.QuadPart < 0) {
        CloseHandle(file);
        return nullptr;
    }
    uint64_t total = static_cast<uint64_t>(fileSize.QuadPart) + spare;
    if (static_cast<uint64_t>(fileSize.QuadPart) > limit || total > UINT32_MAX ||
        total > SIZE_MAX) {
        CloseHandle(file);
        return nullptr;
    }
    uint32_t dataSize = static_cast<uint32_t>(fileSize.QuadPart);
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(total ? static_cast<size_t>(total) : 1));
    if (!buffer) {
        CloseHandle(file);
        return nullptr;
    }
    uint32_t got = ReadFully(file, buffer, dataSize);
    CloseHandle(file);
    if (got != dataSize) {
        std::free(buffer);
        return nullptr;
    }
    std::memset(buffer + dataSize, 0, spare);
    *size = dataSize;
    return buffer;
}

// ReadFileStart of a file opened by either kind of path; closes it.
int32_t ReadOpenFileStart(HANDLE file, uint8_t* buffer, int32_t capacity) {
    if (file == INVALID_HANDLE_VALUE) return -1;
    uint32_t got = ReadFully(file, buffer, capacity > 0 ? static_cast<uint32_t>(capacity) : 0);
    CloseHandle(file);
    return static_cast<int32_t>(got);
}

}  // namespace

uint8_t* ReadWholeFile(const char* path, uint32_t spare, uint32_t limit, uint32_t* size) {
    return ReadWholeOpenFile(OpenRegular(path), spare, limit, size);
}

int32_t ReadFileStart(const char* path, uint8_t* buffer, int32_t capacity) {
    return ReadOpenFileStart(OpenRegular(path), buffer, capacity);
}

uint8_t* ReadWholeFileW(const wchar_t* path, uint32_t spare, uint32_t limit, uint32_t* size) {
    return ReadWholeOpenFile(OpenRegularW(path), spare, limit, size);
}

int32_t ReadFileStartW(const wchar_t* path, uint8_t* buffer, int32_t capacity) {
    return ReadOpenFileStart(OpenRegularW(path), buffer, capacity);
}

bool FileStampW(const wchar_t* path, FileStamp* stamp) {
    WIN32_FILE_ATTRIBUTE_DATA data;
    if (!GetFileAttributesExW(path, GetFileExInfoStandard, &data)) return false;
    if ((data.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    stamp->size = static_cast<uint64_t>(data.nFileSizeHigh) << 32 | data.nFileSizeLow;
    stamp->writeTime = static_cast<uint64_t>(data.ftLastWriteTime.dwHighDateTime) << 32 |
                       data.ftLastWriteTime.dwLowDateTime;
    return true;
}

}  // namespace platform
