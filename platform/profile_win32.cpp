#include "platform/profile.h"

#include <windows.h>

namespace platform {
namespace {

constexpr int kWidePathSize = 32768;
constexpr int kTextSize = 4096;

// The file name (UTF-8) and the texts (ANSI code page, as the file holds
// them) for the wide-character calls.
bool Widen(const char* text, UINT codePage, wchar_t* wide, int size) {
    return MultiByteToWideChar(codePage, 0, text, -1, wide, size) > 0;
}

}  // namespace

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                  char* buffer, uint32_t size, const char* fileName) {
    static wchar_t file[kWidePathSize];
    wchar_t wideSection[kTextSize], wideKey[kTextSize], wideDefault[kTextSize], value[kTextSize];
    if (size == 0) return 0;
    if (!Widen(fileName, CP_UTF8, file, kWidePathSize) ||
        !Widen(section, CP_ACP, wideSection, kTextSize) ||
        !Widen(key, CP_ACP, wideKey, kTextSize) ||
        !Widen(defaultText, CP_ACP, wideDefault, kTextSize)) {
        buffer[0] = '\0';
        return 0;
    }
    ::GetPrivateProfileStringW(wideSection, wideKey, wideDefault, value, kTextSize, file);
    int length =
        WideCharToMultiByte(CP_ACP, 0, value, -1, buffer, static_cast<int>(size), nullptr, nullptr);
    if (length == 0) {
        // Cut to fit, as the 8-bit call does.
        static char whole[kTextSize * 2];
        WideCharToMultiByte(CP_ACP, 0, value, -1, whole, sizeof whole, nullptr, nullptr);
        lstrcpynA(buffer, whole, static_cast<int>(size));
        return static_cast<uint32_t>(lstrlenA(buffer));
    }
    return static_cast<uint32_t>(length - 1);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    static wchar_t file[kWidePathSize];
    wchar_t wideSection[kTextSize], wideKey[kTextSize], wideValue[kTextSize];
    if (!Widen(fileName, CP_UTF8, file, kWidePathSize) ||
        !Widen(section, CP_ACP, wideSection, kTextSize) ||
        !Widen(key, CP_ACP, wideKey, kTextSize) || !Widen(value, CP_ACP, wideValue, kTextSize))
        return false;
    return ::WritePrivateProfileStringW(wideSection, wideKey, wideValue, file) != 0;
}

}  // namespace platform
