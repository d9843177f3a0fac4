#include "platform/paths.h"

#include <windows.h>

#include <cwchar>

namespace platform {
namespace {

// Winamp's request for the folder of its settings files: WM_USER with
// lParam 1335 answers a wide-character path, 335 one in the ANSI code page;
// a host that knows neither answers 0.
constexpr UINT kHostRequest = WM_USER;
constexpr LPARAM kSettingsFolderWide = 1335;
constexpr LPARAM kSettingsFolderAnsi = 335;

constexpr DWORD kWidePathSize = 32768;

// Wide text as UTF-8 into `buffer`; its length, or 0 when it does not fit.
uint32_t ToUtf8(const wchar_t* text, char* buffer, uint32_t size) {
    const int length =
        WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, static_cast<int>(size), nullptr, nullptr);
    return length > 1 ? static_cast<uint32_t>(length - 1) : 0;
}

bool MakeFolder(const wchar_t* folder) {
    return CreateDirectoryW(folder, nullptr) || GetLastError() == ERROR_ALREADY_EXISTS;
}

// `base` (no separator at its end needed) with `sub` appended as a folder,
// made when missing if `make` is set, as UTF-8 ending in '\'.
uint32_t SubFolder(const wchar_t* base, const wchar_t* sub, bool make, char* buffer,
                   uint32_t size) {
    static wchar_t folder[kWidePathSize];
    const size_t length = std::wcslen(base);
    if (length == 0 || length + std::wcslen(sub) + 3 > kWidePathSize) return 0;
    std::wcscpy(folder, base);
    if (folder[length - 1] != L'\\' && folder[length - 1] != L'/') std::wcscat(folder, L"\\");
    std::wcscat(folder, sub);
    if (make && !MakeFolder(folder)) return 0;
    std::wcscat(folder, L"\\");
    return ToUtf8(folder, buffer, size);
}

}  // namespace

uint32_t ModulePath(InstanceHandle instance, char* buffer, uint32_t size) {
    static wchar_t module[kWidePathSize];
    const DWORD length = GetModuleFileNameW(static_cast<HMODULE>(instance), module, kWidePathSize);
    if (length == 0 || length >= kWidePathSize) return 0;
    static wchar_t full[kWidePathSize];
    const DWORD fullLength = GetFullPathNameW(module, kWidePathSize, full, nullptr);
    if (fullLength == 0 || fullLength >= kWidePathSize) return 0;
    return ToUtf8(full, buffer, size);
}

uint32_t UserSettingsFolder(WindowHandle host, bool make, char* buffer, uint32_t size) {
    HWND window = static_cast<HWND>(host);
    if (window != nullptr && IsWindow(window)) {
        const wchar_t* wide = reinterpret_cast<const wchar_t*>(
            SendMessageW(window, kHostRequest, 0, kSettingsFolderWide));
        if (wide != nullptr && wide[0] != L'\0') {
            const uint32_t length = SubFolder(wide, L"Plugins", make, buffer, size);
            if (length != 0) return length;
        }
        const char* ansi = reinterpret_cast<const char*>(
            SendMessageW(window, kHostRequest, 0, kSettingsFolderAnsi));
        if (ansi != nullptr && ansi[0] != '\0') {
            static wchar_t converted[MAX_PATH * 2];
            if (MultiByteToWideChar(CP_ACP, 0, ansi, -1, converted, MAX_PATH * 2) > 0) {
                const uint32_t length = SubFolder(converted, L"Plugins", make, buffer, size);
                if (length != 0) return length;
            }
        }
    }
    static wchar_t appData[kWidePathSize];
    const DWORD length = GetEnvironmentVariableW(L"APPDATA", appData, kWidePathSize);
    if (length == 0 || length >= kWidePathSize) return 0;
    return SubFolder(appData, L"Tamboril", make, buffer, size);
}

bool FileExists(const char* path) {
    static wchar_t wide[kWidePathSize];
    if (MultiByteToWideChar(CP_UTF8, 0, path, -1, wide, kWidePathSize) == 0) return false;
    const DWORD attributes = GetFileAttributesW(wide);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

}  // namespace platform
