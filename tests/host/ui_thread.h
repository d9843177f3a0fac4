// A UI thread of the host's own, as Winamp opens its dialogs on one, and
// the window it shows.
#pragma once

#include <windows.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/host/standin_host.h"

namespace uitest {

constexpr LCID kJapanese = 0x411;

// The top-level window with this caption that the thread owns (tests in
// other processes may show windows of the same name at the same time).
struct WindowSearch {
    const char* caption;
    HWND found;
};

inline BOOL CALLBACK MatchCaption(HWND window, LPARAM parameter) {
    WindowSearch* search = reinterpret_cast<WindowSearch*>(parameter);
    char text[128] = "";
    GetWindowTextA(window, text, sizeof text);
    if (std::string(text) != search->caption) return TRUE;
    search->found = window;
    return FALSE;
}

inline HWND FindThreadWindow(DWORD thread, const char* caption) {
    WindowSearch search = {caption, nullptr};
    EnumThreadWindows(thread, MatchCaption, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

// Runs `show` on a UI thread of its own, as the host does, and finds the
// window with `caption` that it opens.
class UiThread {
public:
    UiThread(const char* caption, bool japanese, void (*show)()) {
        ui = std::thread([this, japanese, show] {
            threadId = GetCurrentThreadId();
            if (japanese) SetThreadLocale(kJapanese);
            show();
        });
        standin::WaitUntil(
            [&] {
                return threadId != 0 && (window = FindThreadWindow(threadId, caption)) != nullptr;
            },
            10000);
        // A window that never came leaves the thread to the process's end
        // rather than hanging the test.
        if (window == nullptr) ui.detach();
    }
    HWND Window() const { return window; }
    void Join() {
        if (ui.joinable()) ui.join();
    }

private:
    std::atomic<DWORD> threadId{0};
    std::thread ui;
    HWND window = nullptr;
};

}  // namespace uitest
