#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "platform/text.h"

namespace platform {
namespace {

// Opens a regular file for reading: a descriptor, or -1.
int OpenRegular(const char* path, struct stat* info) {
    int fd = open(path, O_RDONLY);
    if (fd < 0) return -1;
    if (fstat(fd, info) != 0 || !S_ISREG(info->st_mode)) {
        close(fd);
        return -1;
    }
    return fd;
}

// Bytes asked of one read call: 1 GiB, well inside what read() can report in
// its signed result on a 32-bit system.
constexpr uint64_t kReadChunk = 1u << 30;

// Reads until `count` bytes arrived, the file ends or it fails: bytes read.
uint64_t ReadFully(int fd, uint8_t* buffer, uint64_t count) {
    uint64_t done = 0;
    while (done < count) {
        uint64_t want = count - done;
        if (want > kReadChunk) want = kReadChunk;
        ssize_t got = read(fd, buffer + done, static_cast<size_t>(want));
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) break;
        done += static_cast<uint64_t>(got);
    }
    return done;
}

// The UTF-8 form of a wide path, std::malloc'd; null when out of memory.
char* NarrowPath(const wchar_t* path) {
    const size_t capacity = 4 * std::wcslen(path) + 1;  // 4 bytes at most a character
    char* narrow = static_cast<char*>(std::malloc(capacity));
    if (narrow != nullptr)
        WideToCodePage(path, kAnsiCodePage, narrow, static_cast<uint32_t>(capacity));
    return narrow;
}

}  // namespace

uint8_t* ReadWholeFile(const char* path, uint32_t spare, uint32_t limit, uint32_t* size) {
    struct stat info;
    int fd = OpenRegular(path, &info);
    if (fd < 0) return nullptr;
    uint64_t fileSize = static_cast<uint64_t>(info.st_size);
    uint64_t total = fileSize + spare;
    if (fileSize > limit || total > UINT32_MAX || total > SIZE_MAX) {
        close(fd);
        return nullptr;
    }
    uint8_t* buffer = static_cast<uint8_t*>(std::malloc(total ? static_cast<size_t>(total) : 1));
    if (!buffer) {
        close(fd);
        return nullptr;
    }
    uint64_t got = ReadFully(fd, buffer, fileSize);
    close(fd);
    if (got != fileSize) {
        std::free(buffer);
        return nullptr;
    }
    std::memset(buffer + fileSize, 0, spare);
    *size = static_cast<uint32_t>(fileSize);
    return buffer;
}

int32_t ReadFileStart(const char* path, uint8_t* buffer, int32_t capacity) {
    struct stat info;
    int fd = OpenRegular(path, &info);
    if (fd < 0) return -1;
    uint64_t got = ReadFully(fd, buffer, capacity > 0 ? static_cast<uint64_t>(capacity) : 0);
    close(fd);
    return static_cast<int32_t>(got);
}

uint8_t* ReadWholeFileW(const wchar_t* path, uint32_t spare, uint32_t limit, uint32_t* size) {
    char* narrow = NarrowPath(path);
    if (narrow == nullptr) return nullptr;
    uint8_t* bytes = ReadWholeFile(narrow, spare, limit, size);
    std::free(narrow);
    return bytes;
}

int32_t ReadFileStartW(const wchar_t* path, uint8_t* buffer, int32_t capacity) {
    char* narrow = NarrowPath(path);
    if (narrow == nullptr) return -1;
    const int32_t got = ReadFileStart(narrow, buffer, capacity);
    std::free(narrow);
    return got;
}

bool FileStampW(const wchar_t* path, FileStamp* stamp) {
    char* narrow = NarrowPath(path);
    if (narrow == nullptr) return false;
    struct stat info;
    const bool regular = stat(narrow, &info) == 0 && S_ISREG(info.st_mode);
    std::free(narrow);
    if (!regular) return false;
    stamp->size = static_cast<uint64_t>(info.st_size);
    stamp->writeTime = static_cast<uint64_t>(info.st_mtim.tv_sec) * 1000000000u +
                       static_cast<uint64_t>(info.st_mtim.tv_nsec);
    return true;
}

}  // namespace platform
