// The shared test songs by folder: the good songs and real logs every sweep
// plays, and the damaged ones. Paths are full and sorted; a folder that is
// not there lists nothing (TAMBORIL_NEED_SHARED_SONGS says why a test
// skips).
#pragma once

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

namespace support {

// `root` is the shared folder the tests read; a sweep that names its tests
// after the songs lists the configured one, so that the names stay the same
// when the environment points the tests elsewhere.
inline std::string SharedPath(const std::string& relative,
                              const std::string& root = TAMBORIL_SHARED_DIR) {
    return root + "/" + relative;
}

// A listed path as it stands below the shared folder ("songs/a.gym"), as
// the golden tables name songs.
inline std::string BelowShared(const std::string& path,
                               const std::string& root = TAMBORIL_SHARED_DIR) {
    const std::string shared = root + "/";
    return path.compare(0, shared.size(), shared) == 0 ? path.substr(shared.size()) : path;
}

// A name a host hands the plug-in as a song: .gym, .gym.zip, .gym_zip, .dru,
// .vgm or .vgz, in any case. Info files (.GYI), the manifest and notes are
// not.
inline bool IsSongName(const std::string& name) {
    std::string lower = name;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    for (const char* suffix : {".gym", ".gym.zip", ".gym_zip", ".dru", ".vgm", ".vgz"}) {
        const std::string ending(suffix);
        if (lower.size() > ending.size() &&
            lower.compare(lower.size() - ending.size(), ending.size(), ending) == 0) {
            return true;
        }
    }
    return false;
}

// Every file of a folder below the shared one, or only the songs.
inline std::vector<std::string> FilesIn(const std::string& relativeFolder, bool songsOnly,
                                        const std::string& root = TAMBORIL_SHARED_DIR) {
    std::vector<std::string> files;
    std::error_code error;
    for (const auto& entry :
         std::filesystem::directory_iterator(SharedPath(relativeFolder, root), error)) {
        if (!entry.is_regular_file()) continue;
        if (songsOnly && !IsSongName(entry.path().filename().string())) continue;
        // Joined with '/' on every system, so that paths compare as written.
        files.push_back(SharedPath(relativeFolder, root) + "/" + entry.path().filename().string());
    }
    std::sort(files.begin(), files.end());
    return files;
}

// The good songs (songs/, outside bad/) and the real logs (corpus/real/).
inline std::vector<std::string> SharedSongs(const std::string& root = TAMBORIL_SHARED_DIR) {
    std::vector<std::string> songs = FilesIn("songs", true, root);
    const std::vector<std::string> real = FilesIn("corpus/real", true, root);
    songs.insert(songs.end(), real.begin(), real.end());
    std::sort(songs.begin(), songs.end());
    return songs;
}

// The real VGM files (corpus/vgm/), which the hosts' sweeps play beside the
// GYM songs.
inline std::vector<std::string> SharedVgmSongs(const std::string& root = TAMBORIL_SHARED_DIR) {
    return FilesIn("corpus/vgm", true, root);
}

// Songs that come in several containers, below the shared folder: a ZIP as
// .dru and as .gym.zip, a GYMX file stored and compressed, and a plain log
// with an info file. The loader gives every form of a row the same command
// stream and loop (SongForms.EveryContainerLoadsTheSameSong), so a sweep that
// plays songs needs only the first form of each row. (The plain log without
// an info file has no loop: another song to the player.)
constexpr int kContainerForms = 5;
constexpr const char* kContainerFormsTable[][kContainerForms] = {
    {"songs/song_coral_ascent.dru", "songs/song_coral_ascent.gym.zip",
     "songs/song_coral_ascent_gymx.gym", "songs/song_coral_ascent_gymx_zlib.gym",
     "songs/song_coral_ascent_sidecar.gym"},
    {"songs/song_neon_harbor.dru", "songs/song_neon_harbor.gym.zip",
     "songs/song_neon_harbor_gymx.gym", "songs/song_neon_harbor_gymx_zlib.gym",
     "songs/song_neon_harbor_sidecar.gym"},
};

// `songs` without the forms after the first of each row above.
inline std::vector<std::string> OneFormEach(const std::vector<std::string>& songs,
                                            const std::string& root = TAMBORIL_SHARED_DIR) {
    std::vector<std::string> kept;
    for (const std::string& song : songs) {
        bool laterForm = false;
        for (const auto& row : kContainerFormsTable) {
            for (int form = 1; form < kContainerForms; ++form) {
                laterForm = laterForm || BelowShared(song, root) == row[form];
            }
        }
        if (!laterForm) kept.push_back(song);
    }
    return kept;
}

// The damaged songs of songs/bad.
inline std::vector<std::string> DamagedSongs() {
    return FilesIn("songs/bad", true);
}

// Every file of songs/bad, info files included, for what opens anything a
// host may hand it.
inline std::vector<std::string> DamagedFiles() {
    return FilesIn("songs/bad", false);
}

}  // namespace support
