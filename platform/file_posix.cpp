#include "platform/file.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

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

}  // namespace platform
