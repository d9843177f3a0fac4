// The folder of shared test songs, given to every test program ahead of its
// own sources: the folder the build was configured with, or the one the
// environment variable TAMBORIL_SHARED_DIR names when it is set and not
// empty. scripts/run-all-tests points it at an empty folder once, so that a
// test that needs the songs and forgets to skip without them fails there.
#pragma once

#include <cstdlib>

inline const char* TamborilSharedDir() {
    const char* chosen = std::getenv("TAMBORIL_SHARED_DIR");
    return chosen != nullptr && chosen[0] != '\0' ? chosen : TAMBORIL_SHARED_DIR_BUILT;
}

#define TAMBORIL_SHARED_DIR (TamborilSharedDir())
