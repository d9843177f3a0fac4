// Where the settings live when the plug-in's folder cannot be written: the
// write-back at load fails, the settings move to the user's own plugin.ini,
// changes made there survive a restart, and plugin.ini beside the library is
// still the one used wherever it can be written.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>

#include "song_builder.h"

namespace {

// The value of `key` in the text of a plugin.ini, or "(none)".
std::string KeyIn(const std::string& text, const std::string& key) {
    const size_t at = text.find("\n" + key + "=");
    if (at == std::string::npos) return "(none)";
    const size_t start = at + key.size() + 2;
    return text.substr(start, text.find_first_of("\r\n", start) - start);
}

const char* const kAllKeysTable[] = {"Frequency", "Priority",  "LoopCount", "FadeoutTime",
                                     "VolumeFM",  "VolumeSSG", "VolumePCM"};

}  // namespace

#ifndef _WIN32
#include <sched.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include "host/shell.h"
#include "player/settings.h"

namespace {

std::string ReadText(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::stringstream text;
    text << file.rdbuf();
    return text.str();
}

// Makes `folder` read-only for this process, root included: a read-only bind
// mount in a mount namespace of its own, or, for a standard user, its mode.
// False when the folder can still be written.
bool MakeReadOnly(const std::string& folder) {
    if (geteuid() == 0) {
        if (unshare(CLONE_NEWNS) != 0 ||
            mount("none", "/", nullptr, MS_REC | MS_PRIVATE, nullptr) != 0 ||
            mount(folder.c_str(), folder.c_str(), nullptr, MS_BIND, nullptr) != 0 ||
            mount(nullptr, folder.c_str(), nullptr, MS_REMOUNT | MS_BIND | MS_RDONLY, nullptr) != 0)
            return false;
    } else if (chmod(folder.c_str(), 0555) != 0) {
        return false;
    }
    const std::string probe = folder + "probe";
    std::FILE* file = std::fopen(probe.c_str(), "w");
    if (file == nullptr) return true;
    std::fclose(file);
    std::remove(probe.c_str());
    return false;
}

TEST(SettingsHome, ReadOnlyPluginFolderKeepsChangesForTheUser) {
    const std::string home = TempDir();
    setenv("XDG_CONFIG_HOME", home.c_str(), 1);
    const std::string userFile = home + "tamboril/plugin.ini";
    const std::string folder = TempDir();
    std::string module = folder + "in_dru.so";
    const std::string beside = folder + "plugin.ini";

    // Writable: plugin.ini beside the library, nothing of the user's.
    ASSERT_TRUE(WriteFileBytes(beside, {'[', 'T', 'a', 'm', 'b', 'o', 'r', 'i', 'l', ']', '\n', 'L',
                                        'o', 'o', 'p', 'C', 'o', 'u', 'n', 't', '=', '5', '\n'}));
    LoadSettings(module.data());
    EXPECT_EQ(std::string(iniPath), beside);
    EXPECT_EQ(settings.loopCount, 5);
    EXPECT_EQ(KeyIn(ReadText(beside), "FadeoutTime"), "5000") << "written back";
    EXPECT_FALSE(std::ifstream(userFile).good());

    if (!MakeReadOnly(folder)) GTEST_SKIP() << "cannot make " << folder << " read-only here";
    // Read-only: what was there is read, and written to the user's file.
    settings.loopCount = 0;
    LoadSettings(module.data());
    EXPECT_EQ(std::string(iniPath), userFile);
    EXPECT_EQ(settings.loopCount, 5);
    const std::string moved = ReadText(userFile);
    for (const char* key : kAllKeysTable)
        EXPECT_NE(KeyIn(moved, key), "(none)") << key;
    EXPECT_EQ(KeyIn(moved, "LoopCount"), "5");

    // A change on the property sheet, then a restart: still there.
    settings.loopCount = 9;
    settings.volumeFm = 12;
    SaveMainSettings();
    SaveVolumeSettings();
    ResetSettingsToDefaults();
    LoadSettings(module.data());
    EXPECT_EQ(settings.loopCount, 9);
    EXPECT_EQ(settings.volumeFm, 12);
    EXPECT_EQ(KeyIn(ReadText(beside), "LoopCount"), "5") << "the read-only file is untouched";
}

}  // namespace
#endif

#ifdef _WIN32
#include <windows.h>

#include "host/winamp.h"

namespace {

std::wstring Wide(const std::string& text, UINT codePage = CP_UTF8) {
    std::wstring wide(text.size() + 1, L'\0');
    const int length =
        MultiByteToWideChar(codePage, 0, text.c_str(), -1, &wide[0], static_cast<int>(wide.size()));
    wide.resize(length > 0 ? length - 1 : 0);
    return wide;
}

std::string ReadWide(const std::wstring& path) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                              nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return "";
    std::string text(65536, '\0');
    DWORD got = 0;
    ReadFile(file, &text[0], static_cast<DWORD>(text.size()), &got, nullptr);
    CloseHandle(file);
    text.resize(got);
    return text;
}

bool WriteWide(const std::wstring& path, const std::string& text) {
    HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                    put == text.size();
    CloseHandle(file);
    return ok;
}

// The plug-in loaded from `folder` (wide, ending in '\') as a host loads it:
// Init on load, Quit and FreeLibrary on Restart and at the end.
class PluginInFolder {
public:
    PluginInFolder(const std::wstring& folder, HWND host) : folder_(folder), host_(host) {
        Start();
    }
    ~PluginInFolder() { Stop(); }
    bool Loaded() const { return module_ != nullptr; }
    void Restart() {
        Stop();
        Start();
    }

private:
    void Start() {
        module_ = LoadLibraryW((folder_ + L"in_dru.dll").c_str());
        if (module_ == nullptr) return;
        auto get = reinterpret_cast<In_Module* (*)()>(
            reinterpret_cast<void*>(GetProcAddress(module_, "winampGetInModule2")));
        plugin_ = get != nullptr ? get() : nullptr;
        if (plugin_ == nullptr) return;
        plugin_->hMainWindow = host_;
        plugin_->hDllInstance = module_;
        plugin_->Init();
    }
    void Stop() {
        if (plugin_ != nullptr) plugin_->Quit();
        if (module_ != nullptr) FreeLibrary(module_);
        plugin_ = nullptr;
        module_ = nullptr;
    }
    std::wstring folder_;
    HWND host_;
    HMODULE module_ = nullptr;
    In_Module* plugin_ = nullptr;
};

// A host window that names `folder` as its settings folder in answer to the
// settings-folder request (WM_USER, lParam 1335, wide text), as Winamp does.
const wchar_t* hostSettingsFolder = nullptr;

LRESULT CALLBACK HostWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER && lParam == 1335) return reinterpret_cast<LRESULT>(hostSettingsFolder);
    return DefWindowProcW(window, message, wParam, lParam);
}

HWND MakeHostWindow() {
    WNDCLASSW windowClass = {};
    windowClass.lpfnWndProc = HostWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"TamborilSettingsHost";
    RegisterClassW(&windowClass);
    return CreateWindowW(L"TamborilSettingsHost", L"host", WS_OVERLAPPEDWINDOW, 0, 0, 100, 100,
                         nullptr, nullptr, windowClass.hInstance, nullptr);
}

std::wstring FreshFolder(const std::wstring& name) {
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    std::wstring folder =
        std::wstring(temp) + name + std::to_wstring(GetCurrentProcessId()) + L"\\";
    CreateDirectoryW(folder.c_str(), nullptr);
    return folder;
}

// A folder named in Greek and Japanese, outside any one ANSI code page: the
// plug-in finds itself there and writes its plugin.ini beside itself.
TEST(SettingsHome, FolderNamedOutsideTheCodePage) {
    const std::wstring folder =
        FreshFolder(L"tamboril-\u03a9\u03bc\u03ad\u03b3\u03b1-\u65e5\u672c-");
    ASSERT_TRUE(CopyFileW(Wide(TAMBORIL_PLUGIN_DLL, CP_ACP).c_str(),
                          (folder + L"in_dru.dll").c_str(), FALSE));
    ASSERT_TRUE(WriteWide(folder + L"plugin.ini", "[Tamboril]\r\nLoopCount=7\r\n"));
    {
        PluginInFolder plugin(folder, nullptr);
        ASSERT_TRUE(plugin.Loaded());
    }
    const std::string text = ReadWide(folder + L"plugin.ini");
    EXPECT_EQ(KeyIn(text, "LoopCount"), "7") << text;
    for (const char* key : kAllKeysTable)
        EXPECT_NE(KeyIn(text, key), "(none)") << key;
}

// The plug-in's folder mounted read-only (scripts: readonly-folder.sh, which
// names it in TAMBORIL_READONLY_FOLDER and puts LoopCount=5 in its
// plugin.ini): the settings move to %APPDATA%\Tamboril, or to the host's
// settings folder's Plugins subfolder when the host names one, and what is
// there is what the next start reads.
TEST(SettingsHome, ReadOnlyPluginFolderKeepsChangesForTheUser) {
    const char* readOnly = std::getenv("TAMBORIL_READONLY_FOLDER");
    if (readOnly == nullptr)
        GTEST_SKIP() << "run by readonly-folder.sh, which mounts the folder read-only";
    std::string unixFolder = readOnly;
    std::wstring folder = L"Z:" + Wide(unixFolder) + L"\\";
    for (wchar_t& c : folder)
        if (c == L'/') c = L'\\';

    const std::wstring appData = FreshFolder(L"tamboril-appdata-");
    ASSERT_TRUE(SetEnvironmentVariableW(L"APPDATA", appData.c_str()));
    const std::wstring hostFolder = FreshFolder(L"tamboril-host-settings-");
    hostSettingsFolder = hostFolder.c_str();
    HWND host = MakeHostWindow();
    ASSERT_NE(host, nullptr);

    const struct {
        const char* what;
        HWND window;
        std::wstring userFile;
    } cases[] = {
        {"no host window", nullptr, appData + L"Tamboril\\plugin.ini"},
        {"a host naming its settings folder", host, hostFolder + L"Plugins\\plugin.ini"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        PluginInFolder plugin(folder, c.window);
        ASSERT_TRUE(plugin.Loaded());
        const std::string moved = ReadWide(c.userFile);
        EXPECT_EQ(KeyIn(moved, "LoopCount"), "5") << "moved from the read-only file: " << moved;
        for (const char* key : kAllKeysTable)
            EXPECT_NE(KeyIn(moved, key), "(none)") << key;

        // A change saved there is what the next start reads (and writes
        // back): a start that read the read-only file again would put 5 back.
        std::string changed = moved;
        changed.replace(changed.find("LoopCount=5"), 11, "LoopCount=9");
        ASSERT_TRUE(WriteWide(c.userFile, changed));
        plugin.Restart();
        EXPECT_EQ(KeyIn(ReadWide(c.userFile), "LoopCount"), "9");
        EXPECT_EQ(KeyIn(ReadWide(folder + L"plugin.ini"), "LoopCount"), "5");
    }
    DestroyWindow(host);
}

}  // namespace
#endif
