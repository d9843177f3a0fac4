// The platform seam: text stepping and comparison, and bounded file reading,
// the same on POSIX and Win32.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "platform/file.h"
#include "platform/text.h"
#include "song_builder.h"

TEST(PlatformText, CharNextStepsAndStopsAtTheEnd) {
    const char text[] = "ab";
    EXPECT_EQ(platform::CharNextA(text), text + 1);
    EXPECT_EQ(platform::CharNextA(text + 1), text + 2);
    EXPECT_EQ(platform::CharNextA(text + 2), text + 2);
    for (int byte = 0; byte < 0x80; ++byte)
        EXPECT_EQ(platform::IsDBCSLeadByte(static_cast<uint8_t>(byte)), 0) << byte;
}

TEST(PlatformText, CompareIgnoresCaseOnly) {
    EXPECT_EQ(platform::lstrcmpiA("GYM", "gym"), 0);
    EXPECT_EQ(platform::lstrcmpiA(".Gym.Zip", ".GYM.ZIP"), 0);
    EXPECT_EQ(platform::lstrcmpiA("", ""), 0);
    EXPECT_NE(platform::lstrcmpiA("GYM", "GYI"), 0);
    EXPECT_NE(platform::lstrcmpiA("GYM", "GYMX"), 0);
    EXPECT_NE(platform::lstrcmpiA("GY", "GYM"), 0);
    EXPECT_LT(platform::lstrcmpiA("abc", "ABD"), 0);
    EXPECT_GT(platform::lstrcmpiA("abd", "ABC"), 0);
    EXPECT_LT(platform::lstrcmpiA("ab", "abc"), 0);
}

TEST(PlatformFile, WholeFileWithZeroedSpareBytes) {
    std::string path = TempPath("whole.bin");
    std::vector<uint8_t> bytes = {1, 2, 3, 0xFF, 0};
    ASSERT_TRUE(WriteFileBytes(path, bytes));
    uint32_t size = 99;
    uint8_t* buffer = platform::ReadWholeFile(path.c_str(), 8, 5, &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 5u);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 5), bytes);
    for (int i = 5; i < 13; ++i)
        EXPECT_EQ(buffer[i], 0) << i;
    std::free(buffer);

    std::string empty = TempPath("empty.bin");
    ASSERT_TRUE(WriteFileBytes(empty, {}));
    buffer = platform::ReadWholeFile(empty.c_str(), 1, 0, &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 0u);
    EXPECT_EQ(buffer[0], 0);
    std::free(buffer);
}

// A file over the limit is refused by its size, before any of it is read:
// a sparse file of 3 GiB is refused at once, one byte over is refused, the
// limit itself is read.
TEST(PlatformFile, FilesOverTheLimitAreNotRead) {
    std::string path = TempPath("limit.bin");
    ASSERT_TRUE(WriteFileBytes(path, std::vector<uint8_t>(1000, 0x42)));
    uint32_t size = 99;
    EXPECT_EQ(platform::ReadWholeFile(path.c_str(), 1, 999, &size), nullptr);
    EXPECT_EQ(size, 99u);
    uint8_t* buffer = platform::ReadWholeFile(path.c_str(), 1, 1000, &size);
    ASSERT_NE(buffer, nullptr);
    EXPECT_EQ(size, 1000u);
    std::free(buffer);

    std::string huge = TempPath("huge.bin");
    std::error_code error;
    ASSERT_TRUE(WriteFileBytes(huge, {}));
    std::filesystem::resize_file(huge, uint64_t{3} << 30, error);
    ASSERT_FALSE(error) << error.message();
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(platform::ReadWholeFile(huge.c_str(), 1, 64u << 20, &size), nullptr);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(100));
    std::filesystem::remove(huge, error);
}

TEST(PlatformFile, FoldersAndMissingFilesDoNotRead) {
    std::string dir = TempDir();
    for (const std::string& path :
         {dir, dir.substr(0, dir.size() - 1), dir + "missing", std::string()}) {
        uint32_t size = 99;
        EXPECT_EQ(platform::ReadWholeFile(path.c_str(), 1, UINT32_MAX, &size), nullptr) << path;
        EXPECT_EQ(size, 99u) << path;
        uint8_t buffer[4];
        EXPECT_EQ(platform::ReadFileStart(path.c_str(), buffer, sizeof buffer), -1) << path;
    }
}

TEST(PlatformFile, StartOfFileIsBounded) {
    std::string path = TempPath("start.bin");
    std::vector<uint8_t> bytes(300);
    for (size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(WriteFileBytes(path, bytes));

    uint8_t buffer[280];
    buffer[272] = 0xAA;
    EXPECT_EQ(platform::ReadFileStart(path.c_str(), buffer, 272), 272);
    EXPECT_EQ(std::vector<uint8_t>(buffer, buffer + 272),
              std::vector<uint8_t>(bytes.begin(), bytes.begin() + 272));
    EXPECT_EQ(buffer[272], 0xAA);

    ASSERT_TRUE(WriteFileBytes(path, {9, 8, 7}));
    EXPECT_EQ(platform::ReadFileStart(path.c_str(), buffer, 272), 3);
    EXPECT_EQ(buffer[2], 7);
    EXPECT_EQ(platform::ReadFileStart(path.c_str(), buffer, 0), 0);
}
