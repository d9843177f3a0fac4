#include "platform/text.h"

#include <cwchar>

namespace platform {
namespace {

constexpr uint32_t kReplacement = 0xFFFD;

// Bytes of `code` in UTF-8 into `bytes` (4 at most); a value that is no
// Unicode scalar is written as U+FFFD.
int EncodeUtf8(uint32_t code, char* bytes) {
    if (code > 0x10FFFF || (code >= 0xD800 && code < 0xE000)) code = kReplacement;
    if (code < 0x80) {
        bytes[0] = static_cast<char>(code);
        return 1;
    }
    if (code < 0x800) {
        bytes[0] = static_cast<char>(0xC0 | code >> 6);
        bytes[1] = static_cast<char>(0x80 | (code & 0x3F));
        return 2;
    }
    if (code < 0x10000) {
        bytes[0] = static_cast<char>(0xE0 | code >> 12);
        bytes[1] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
        bytes[2] = static_cast<char>(0x80 | (code & 0x3F));
        return 3;
    }
    bytes[0] = static_cast<char>(0xF0 | code >> 18);
    bytes[1] = static_cast<char>(0x80 | (code >> 12 & 0x3F));
    bytes[2] = static_cast<char>(0x80 | (code >> 6 & 0x3F));
    bytes[3] = static_cast<char>(0x80 | (code & 0x3F));
    return 4;
}

// The character at `*at` of UTF-8 text, advancing past it; a malformed byte
// reads as U+FFFD and is passed alone.
uint32_t DecodeUtf8(const unsigned char** at) {
    const unsigned char* p = *at;
    const int length = p[0] < 0x80                   ? 1
                       : p[0] >= 0xF0 && p[0] < 0xF5 ? 4
                       : p[0] >= 0xE0 && p[0] < 0xF0 ? 3
                       : p[0] >= 0xC2 && p[0] < 0xE0 ? 2
                                                     : 0;
    uint32_t code = length == 1 ? p[0] : p[0] & (0x7F >> length);
    for (int i = 1; i < length; ++i) {
        if ((p[i] & 0xC0) != 0x80) {
            *at += 1;
            return kReplacement;
        }
        code = code << 6 | (p[i] & 0x3F);
    }
    static const uint32_t least[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (length == 0 || code < least[length] || code > 0x10FFFF ||
        (code >= 0xD800 && code < 0xE000)) {
        *at += 1;
        return kReplacement;
    }
    *at += length;
    return code;
}

// Appends `code` as UTF-8 to `out` (`used` bytes of `capacity`, room for the
// terminator kept): false, with nothing written, when it does not fit.
bool AppendEncoded(uint32_t code, char* out, uint32_t* used, uint32_t capacity) {
    char bytes[4];
    const int count = EncodeUtf8(code, bytes);
    if (*used + count + 1 > capacity) return false;
    for (int i = 0; i < count; ++i)
        out[(*used)++] = bytes[i];
    return true;
}

}  // namespace

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

uint32_t WideToCodePage(const wchar_t* text, uint32_t, char* out, uint32_t capacity) {
    if (capacity == 0) return 0;
    uint32_t used = 0;
    for (const wchar_t* c = text;
         *c != 0 && AppendEncoded(static_cast<uint32_t>(*c), out, &used, capacity); ++c) {
    }
    out[used] = 0;
    return used;
}

uint32_t Utf8ToAnsi(const char* text, char* out, uint32_t capacity) {
    if (capacity == 0) return 0;
    uint32_t used = 0;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (*at != 0 && AppendEncoded(DecodeUtf8(&at), out, &used, capacity)) {
    }
    out[used] = 0;
    return used;
}

bool AnsiToWide(const char* text, wchar_t* out, uint32_t capacity) {
    if (capacity == 0) return false;
    uint32_t used = 0;
    const unsigned char* at = reinterpret_cast<const unsigned char*>(text);
    while (*at != 0) {
        if (used + 2 > capacity) {
            out[0] = 0;
            return false;
        }
        out[used++] = static_cast<wchar_t>(DecodeUtf8(&at));
    }
    out[used] = 0;
    return true;
}

bool DialogTemplateIsJapanese(void*, int) {
    return false;
}

}  // namespace platform
