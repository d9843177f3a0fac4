// What the fuzz targets share: a private scratch folder for the files an
// input becomes, and the split of an input into a song and its info file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

namespace fuzzfiles {

const std::string& Scratch();

// Empties and removes the scratch folder (it holds files only).
inline void RemoveScratch() {
    const std::string& folder = Scratch();
    if (DIR* dir = opendir(folder.c_str())) {
        while (const dirent* entry = readdir(dir)) {
            if (entry->d_name[0] != '.') unlink((folder + entry->d_name).c_str());
        }
        closedir(dir);
    }
    rmdir(folder.c_str());
}

// A folder of this process's own, ending in '/': in memory (/dev/shm) when
// the machine has it, since every input is written there at least once.
// It goes when the process exits normally.
inline const std::string& Scratch() {
    static const std::string folder = [] {
        const char* base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
        std::string path = std::string(base) + "/tamboril-fuzz-" + std::to_string(getpid()) + "/";
        mkdir(path.c_str(), 0700);
        return path;
    }();
    // Registered once the name is there, so that it runs before the name goes.
    static const bool removedAtExit = std::atexit(RemoveScratch) == 0;
    (void)removedAtExit;
    return folder;
}

// Writes the bytes to `path`, replacing it; true when all of them went out.
inline bool WriteBytes(const std::string& path, const uint8_t* data, size_t size) {
    FILE* file = std::fopen(path.c_str(), "wb");
    if (file == nullptr) return false;
    const bool whole = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && whole;
}

// A song input, and the info file that goes beside it.
//
// A song file never starts with a byte of 0x80 or above that a host would
// take for something to play, so that bit of the first byte picks the form of
// the input: clear, the input is the song alone; set, the next byte is the
// length of the info text that follows, and the rest is the song.
struct SongParts {
    const uint8_t* song;
    size_t songSize;
    const uint8_t* info;  // null when the input carries no info file
    size_t infoSize;
};

inline SongParts SplitSong(const uint8_t* data, size_t size) {
    if (size < 2 || (data[0] & 0x80) == 0) return {data, size, nullptr, 0};
    size_t infoSize = data[1];
    if (infoSize > size - 2) infoSize = size - 2;
    return {data + 2 + infoSize, size - 2 - infoSize, data + 2, infoSize};
}

}  // namespace fuzzfiles
