// The stand-in host's system side on Windows: the real DLL, a real window.
#include <windows.h>

#include <filesystem>
#include <string>

#include "tests/host/standin_system.h"

namespace standin {

namespace {

MessageCounter messageCounter = nullptr;
HANDLE windowReady = nullptr;
HWND mainWindow = nullptr;

LRESULT CALLBACK MainWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == kEndOfFileMessage && wParam == 0 && lParam == 0 && messageCounter != nullptr) {
        messageCounter();
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

DWORD WINAPI MainWindowThread(LPVOID) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = MainWindowProc;
    windowClass.hInstance = GetModuleHandleA(nullptr);
    windowClass.lpszClassName = "TamborilStandInHost";
    RegisterClassA(&windowClass);
    mainWindow = CreateWindowA("TamborilStandInHost", "stand-in host", WS_OVERLAPPEDWINDOW, 0, 0,
                               320, 200, nullptr, nullptr, windowClass.hInstance, nullptr);
    SetEvent(windowReady);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    return 0;
}

}  // namespace

In_Module* (*LoadModule(const std::string& path, HostInstance* instance))() {
    HMODULE module = LoadLibraryA(path.c_str());
    if (module == nullptr) return nullptr;
    *instance = module;
    return reinterpret_cast<In_Module* (*)()>(
        reinterpret_cast<void*>(GetProcAddress(module, "winampGetInModule2")));
}

void* FindExport(HostInstance instance, const char* name) {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(instance), name));
}

void ReleaseModule(HostInstance instance) {
    FreeLibrary(static_cast<HMODULE>(instance));
}

HostWindow StartMainWindow(MessageCounter counter) {
    messageCounter = counter;
    windowReady = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE thread = CreateThread(nullptr, 0, MainWindowThread, nullptr, 0, nullptr);
    if (thread == nullptr) return nullptr;
    CloseHandle(thread);
    WaitForSingleObject(windowReady, 10000);
    return mainWindow;
}

int CurrentThreadPriority() {
    return GetThreadPriority(GetCurrentThread());
}

std::string PreparePluginFolder() {
    char temp[MAX_PATH];
    GetTempPathA(sizeof temp, temp);
    std::string folder =
        std::string(temp) + "tamboril-host-" + std::to_string(GetCurrentProcessId());
    std::filesystem::create_directories(folder);
    std::string module = folder + "\\in_dru.dll";
    CopyFileA(TAMBORIL_PLUGIN_DLL, module.c_str(), FALSE);
    return module;
}

}  // namespace standin
