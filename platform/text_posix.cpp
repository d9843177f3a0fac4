#include "platform/text.h"

namespace platform {

const char* CharNextA(const char* text) {
    return *text ? text + 1 : text;
}

int IsDBCSLeadByte(uint8_t) {
    return 0;
}

int lstrcmpiA(const char* first, const char* second) {
    auto lower = [](unsigned char c) { return (c >= 'A' && c <= 'Z') ? c + ('a' - 'A') : c; };
    const unsigned char* a = reinterpret_cast<const unsigned char*>(first);
    const unsigned char* b = reinterpret_cast<const unsigned char*>(second);
    for (;; ++a, ++b) {
        int difference = lower(*a) - lower(*b);
        if (difference != 0 || *a == 0) return difference;
    }
}

}  // namespace platform
