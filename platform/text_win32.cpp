#include "platform/text.h"

#include <windows.h>

#include <cstdlib>

namespace platform {
namespace {

// Keeps the whole characters of `whole` (text of code page `codePage`) that
// fit in `capacity` bytes with the terminator.
uint32_t KeepWholeCharacters(const char* whole, uint32_t codePage, char* out, uint32_t capacity) {
    uint32_t used = 0;
    for (const char* c = whole; *c != 0;) {
        const char* next = CharNextExA(static_cast<WORD>(codePage), c, 0);
        if (next == c) break;
        const uint32_t count = static_cast<uint32_t>(next - c);
        if (used + count + 1 > capacity) break;
        for (uint32_t i = 0; i < count; ++i)
            out[used++] = c[i];
        c = next;
    }
    out[used] = 0;
    return used;
}

}  // namespace

const char* CharNextA(const char* text) {
    return ::CharNextA(text);
}

int IsDBCSLeadByte(uint8_t testChar) {
    return ::IsDBCSLeadByte(testChar) ? 1 : 0;
}

int lstrcmpiA(const char* first, const char* second) {
    return ::lstrcmpiA(first, second);
}

// The system converts only into a buffer that holds all of the text: the
// whole text first, then what fits.
uint32_t WideToCodePage(const wchar_t* text, uint32_t codePage, char* out, uint32_t capacity) {
    if (capacity == 0) return 0;
    out[0] = 0;
    const UINT page = codePage == kAnsiCodePage ? CP_ACP : codePage;
    const int needed = WideCharToMultiByte(page, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (needed <= 0) return 0;
    char* whole = static_cast<char*>(std::malloc(static_cast<size_t>(needed)));
    if (whole == nullptr) return 0;
    uint32_t used = 0;
    if (WideCharToMultiByte(page, 0, text, -1, whole, needed, nullptr, nullptr) == needed)
        used = KeepWholeCharacters(whole, page, out, capacity);
    std::free(whole);
    return used;
}

uint32_t Utf8ToAnsi(const char* text, char* out, uint32_t capacity) {
    if (capacity == 0) return 0;
    out[0] = 0;
    const int needed = MultiByteToWideChar(CP_UTF8, 0, text, -1, nullptr, 0);
    if (needed <= 0) return 0;
    wchar_t* wide = static_cast<wchar_t*>(std::malloc(sizeof(wchar_t) * needed));
    if (wide == nullptr) return 0;
    uint32_t used = 0;
    if (MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, needed) == needed)
        used = WideToCodePage(wide, kAnsiCodePage, out, capacity);
    std::free(wide);
    return used;
}

bool AnsiToWide(const char* text, wchar_t* out, uint32_t capacity) {
    if (capacity == 0) return false;
    if (MultiByteToWideChar(CP_ACP, 0, text, -1, out, static_cast<int>(capacity)) > 0) return true;
    out[0] = 0;
    return false;
}

// A dialog is made from the template FindResource picks for the thread; the
// Japanese one is picked when that is the very resource asked for by its
// language.
bool DialogTemplateIsJapanese(void* instance, int dialogId) {
    HMODULE module = static_cast<HMODULE>(instance);
    if (module == nullptr) return false;
    LPCSTR dialogType = MAKEINTRESOURCEA(5);  // RT_DIALOG, whatever UNICODE says
    HRSRC picked = FindResourceA(module, MAKEINTRESOURCEA(dialogId), dialogType);
    HRSRC japanese = FindResourceExA(module, dialogType, MAKEINTRESOURCEA(dialogId),
                                     MAKELANGID(LANG_JAPANESE, SUBLANG_DEFAULT));
    if (picked == nullptr || japanese == nullptr) return false;
    return LoadResource(module, picked) == LoadResource(module, japanese);
}

}  // namespace platform
