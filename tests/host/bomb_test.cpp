// Song bombs through the plug-in as the host meets them: Play refuses each
// at once with -1, and GetFileInfo gives the file's name and length 0.
#include <chrono>
#include <string>

#include "bomb_files.h"
#include "tests/host/shell_fixture.h"

namespace {

using shelltest::ShellTest;

TEST_F(ShellTest, SongBombsAreRefusedAtOnce) {
    for (const BombFile& bomb : WriteBombFiles(TempDir())) {
        if (!bomb.refused) continue;  // it loads, at its stated size
        SCOPED_TRACE(bomb.what);
        // The one stating the limit inflates that much, twice, before it
        // fails; every other is refused by what it states.
        const bool inflates = bomb.what.find("stating the limit") != std::string::npos;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(standin::Play(bomb.path), -1);
        const auto took = std::chrono::steady_clock::now() - start;
        EXPECT_LT(took, std::chrono::milliseconds(inflates ? 3000 : 1000));
        EXPECT_EQ(standin::Count(standin::Call::open), 0);

        char title[2048] = "untouched";
        int length = -7;
        standin::Plugin().GetFileInfo(bomb.path.c_str(), title, &length);
        const std::string name = bomb.path.substr(bomb.path.find_last_of("/\\") + 1);
        EXPECT_EQ(std::string(title), name);
        EXPECT_EQ(length, 0);
    }
}

}  // namespace
