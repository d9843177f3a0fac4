// The stand-in host's system side natively: the shell is linked in, the main
// window is the posting twin's sink.
#include <unistd.h>

#include <filesystem>
#include <string>

#include "platform/kernel.h"
#include "tests/host/standin_system.h"

namespace standin {

namespace {

MessageCounter messageCounter = nullptr;
char mainWindow = 0;  // its address stands for the window
std::string modulePath;

void Deliver(platform::WindowHandle window, uint32_t message, uintptr_t wParam, intptr_t lParam) {
    if (window == &mainWindow && message == kEndOfFileMessage && wParam == 0 && lParam == 0 &&
        messageCounter != nullptr) {
        messageCounter();
    }
}

}  // namespace

In_Module* (*LoadModule(const std::string& path, HostInstance* instance))() {
    modulePath = path;
    *instance = const_cast<char*>(modulePath.c_str());
    return winampGetInModule2;
}

void* FindExport(HostInstance, const char* name) {
    const std::string asked(name);
    if (asked == "winampGetExtendedFileInfoW")
        return reinterpret_cast<void*>(winampGetExtendedFileInfoW);
    if (asked == "winampGetExtendedFileInfo")
        return reinterpret_cast<void*>(winampGetExtendedFileInfo);
    return nullptr;
}

void ReleaseModule(HostInstance) {}

HostWindow StartMainWindow(MessageCounter counter) {
    messageCounter = counter;
    platform::SetPostMessageSink(Deliver);
    return &mainWindow;
}

int CurrentThreadPriority() {
    return platform::GetThreadPriority();
}

std::string PreparePluginFolder() {
    std::string folder =
        (std::filesystem::temp_directory_path() / ("tamboril-host-" + std::to_string(getpid())))
            .string();
    std::filesystem::create_directories(folder);
    return folder + "/in_dru.so";
}

}  // namespace standin
