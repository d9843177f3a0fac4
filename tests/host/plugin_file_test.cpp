// The plug-in file as Windows sees it: its version block, read back with the
// version-information calls.
#include <windows.h>

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::string Value(const std::vector<char>& block, const char* name) {
    char* text = nullptr;
    UINT length = 0;
    const std::string path = std::string("\\StringFileInfo\\000004b0\\") + name;
    if (!VerQueryValueA(block.data(), path.c_str(), reinterpret_cast<void**>(&text), &length)) {
        return "(missing)";
    }
    return length > 0 ? std::string(text) : std::string();
}

TEST(PluginFile, VersionBlock) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeA(TAMBORIL_PLUGIN_DLL, &ignored);
    ASSERT_GT(size, 0u);
    std::vector<char> block(size);
    ASSERT_TRUE(GetFileVersionInfoA(TAMBORIL_PLUGIN_DLL, 0, size, block.data()));

    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\", reinterpret_cast<void**>(&fixed), &length));
    EXPECT_EQ(fixed->dwFileVersionMS, 0u);
    EXPECT_EQ(fixed->dwFileVersionLS, 1u);
    EXPECT_EQ(fixed->dwProductVersionMS, 0u);
    EXPECT_EQ(fixed->dwProductVersionLS, 1u);
    EXPECT_EQ(fixed->dwFileType, static_cast<DWORD>(VFT_DLL));
    EXPECT_EQ(fixed->dwFileOS, static_cast<DWORD>(VOS__WINDOWS32));

    const struct {
        const char* name;
        const char* value;
    } strings[] = {
        {"FileVersion", "0, 0, 0, 1"},
        {"ProductVersion", "0, 0, 0, 1"},
        {"ProductName", "Tamboril"},
        {"FileDescription", "Tamboril / WINAMP plugin for DRU sound files"},
        {"InternalName", "IN_DRU"},
        {"OriginalFilename", "IN_DRU.DLL"},
        {"Comments", ""},
        {"LegalTrademarks", ""},
        {"PrivateBuild", ""},
        {"SpecialBuild", ""},
    };
    for (const auto& s : strings)
        EXPECT_EQ(Value(block, s.name), s.value) << s.name;

    // One translation: neutral language, Unicode.
    WORD* translation = nullptr;
    ASSERT_TRUE(VerQueryValueA(block.data(), "\\VarFileInfo\\Translation",
                               reinterpret_cast<void**>(&translation), &length));
    ASSERT_EQ(length, 4u);
    EXPECT_EQ(translation[0], 0x0000);
    EXPECT_EQ(translation[1], 1200);
}

}  // namespace
