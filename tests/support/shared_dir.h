// The folder of shared test songs, given to every test program ahead of its
// own sources: the folder the build was configured with, or the one the
// environment variable TAMBORIL_SHARED_DIR names when it is set and not
// empty. scripts/run-all-tests points it at an empty folder once, so that a
// test that needs the songs and forgets to skip without them fails there.
//
// It also gives each test process a private, empty place for the settings
// file of the user's own, where the plug-in moves its settings when the
// folder beside it cannot be written: a test never reads or leaves one in the
// real home (or in the Wine prefix's application data), where it would be
// read by every later test.
#pragma once

#include <cstdlib>
#include <filesystem>
#include <string>
#include <system_error>

#ifdef _WIN32
#include <process.h>
#include <stdlib.h>
#else
#include <unistd.h>
#endif

struct TamborilPrivateUserSettings {
    std::filesystem::path folder;
    TamborilPrivateUserSettings() {
        std::error_code error;
#ifdef _WIN32
        const long id = static_cast<long>(_getpid());
#else
        const long id = static_cast<long>(getpid());
#endif
        folder =
            std::filesystem::temp_directory_path(error) / ("tamboril-user-" + std::to_string(id));
        std::filesystem::create_directories(folder, error);
#ifdef _WIN32
        _wputenv((L"APPDATA=" + folder.wstring()).c_str());
#else
        setenv("XDG_CONFIG_HOME", folder.string().c_str(), 1);
#endif
    }
    ~TamborilPrivateUserSettings() {
        std::error_code error;
        std::filesystem::remove_all(folder, error);
    }
};
inline TamborilPrivateUserSettings tamborilPrivateUserSettings;

inline const char* TamborilSharedDir() {
    const char* chosen = std::getenv("TAMBORIL_SHARED_DIR");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : TAMBORIL_SHARED_DIR_BUILT;
}

#define TAMBORIL_SHARED_DIR (TamborilSharedDir())
