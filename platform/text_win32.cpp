#include "platform/text.h"

#include <windows.h>

namespace platform {

const char* CharNextA(const char* text) {
    return ::CharNextA(text);
}

int IsDBCSLeadByte(uint8_t testChar) {
    return ::IsDBCSLeadByte(testChar) ? 1 : 0;
}

int lstrcmpiA(const char* first, const char* second) {
    return ::lstrcmpiA(first, second);
}

}  // namespace platform
