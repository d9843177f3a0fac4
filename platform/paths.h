// Where the plug-in's settings file lives, behind a seam. Paths here are
// UTF-8 on every system: the win32 build converts them for the
// wide-character calls, so that folders named outside the ANSI code page
// work too.
//
//   ModulePath(instance, buffer, size)
//       the module's full path; its length, or 0 on failure or when it does
//       not fit in size - 1 bytes. POSIX: a non-null instance is the module's
//       path as text (made absolute), null the running program.
//   UserSettingsFolder(host, make, buffer, size)
//       the folder for this user's settings of the plug-in, made when
//       missing if `make` is set, ending in a separator: the "Plugins" subfolder of the
//       folder the host's window names for settings files (Winamp's
//       settings-folder request), else the "Tamboril" subfolder of the
//       user's application data folder (POSIX: $XDG_CONFIG_HOME/tamboril/,
//       or $HOME/.config/tamboril/). Its length, or 0 when none can be had,
//       made (when asked) or fitted in size - 1 bytes.
//   FileExists(path)
//       true when a file (not a folder) is there.
#pragma once

#include <cstdint>

#include "platform/kernel.h"

namespace platform {

uint32_t ModulePath(InstanceHandle instance, char* buffer, uint32_t size);
uint32_t UserSettingsFolder(WindowHandle host, bool make, char* buffer, uint32_t size);
bool FileExists(const char* path);

}  // namespace platform
