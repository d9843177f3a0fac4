// The shared test songs live beside the checkout (TAMBORIL_SHARED_DIR, by
// default ../shared). A clone on its own has no such folder: a test that
// reads it skips at the point it needs it, saying why, and the rest runs.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <system_error>

// The words "needs the shared test songs" are what scripts/run-all-tests
// counts for its closing skip line.
#define TAMBORIL_NEED_SHARED_SONGS()                                                             \
    do {                                                                                         \
        std::error_code sharedError;                                                             \
        if (!std::filesystem::is_directory(std::filesystem::path(TAMBORIL_SHARED_DIR) / "songs", \
                                           sharedError)) {                                       \
            GTEST_SKIP() << "needs the shared test songs in " << TAMBORIL_SHARED_DIR;            \
        }                                                                                        \
    } while (false)
