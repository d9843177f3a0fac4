#include "platform/profile.h"

#include <windows.h>

namespace platform {

uint32_t GetPrivateProfileStringA(const char* section, const char* key, const char* defaultText,
                                  char* buffer, uint32_t size, const char* fileName) {
    return ::GetPrivateProfileStringA(section, key, defaultText, buffer, size, fileName);
}

bool WritePrivateProfileStringA(const char* section, const char* key, const char* value,
                                const char* fileName) {
    return ::WritePrivateProfileStringA(section, key, value, fileName) != 0;
}

}  // namespace platform
