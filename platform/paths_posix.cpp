#include "platform/paths.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <string>

namespace platform {
namespace {

uint32_t CopyIfFits(const std::string& text, char* buffer, uint32_t size) {
    if (text.empty() || text.size() + 1 > size) return 0;
    std::memcpy(buffer, text.c_str(), text.size() + 1);
    return static_cast<uint32_t>(text.size());
}

bool MakeFolder(const std::string& folder) {
    return mkdir(folder.c_str(), 0755) == 0 || errno == EEXIST;
}

}  // namespace

uint32_t ModulePath(InstanceHandle instance, char* buffer, uint32_t size) {
    char module[4096];
    const uint32_t length = GetModuleFileNameA(instance, module, sizeof module);
    if (length == 0 || length >= sizeof module) return 0;
    char full[4096];
    const uint32_t fullLength = GetFullPathNameA(module, sizeof full, full);
    if (fullLength == 0 || fullLength >= sizeof full) return 0;
    return CopyIfFits(full, buffer, size);
}

uint32_t UserSettingsFolder(WindowHandle, bool make, char* buffer, uint32_t size) {
    std::string base;
    const char* config = std::getenv("XDG_CONFIG_HOME");
    const char* home = std::getenv("HOME");
    if (config != nullptr && config[0] == '/') {
        base = config;
    } else if (home != nullptr && home[0] == '/') {
        base = std::string(home) + "/.config";
        if (make && !MakeFolder(base)) return 0;
    } else {
        return 0;
    }
    while (base.size() > 1 && base.back() == '/')
        base.pop_back();
    const std::string folder = base + "/tamboril";
    if (make && !MakeFolder(folder)) return 0;
    return CopyIfFits(folder + "/", buffer, size);
}

bool FileExists(const char* path) {
    struct stat info;
    return stat(path, &info) == 0 && S_ISREG(info.st_mode);
}

}  // namespace platform
