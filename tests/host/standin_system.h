// What the stand-in host needs from the system it runs on: loading the
// plug-in module, a main window that counts end-of-file messages, and the
// calling thread's priority.
#pragma once

#include <string>

#include "host/winamp.h"

namespace standin {

using MessageCounter = void (*)();

// Loads the module at `path` and returns its winampGetInModule2, filling
// `*instance`; null when either fails. Natively, the linked shell's export,
// and `*instance` is `path` itself (the shell reads it as its own path).
In_Module* (*LoadModule(const std::string& path, HostInstance* instance))();
// The module's export `name`, or null (natively the linked shell's function
// of that name, for the extended file information exports).
void* FindExport(HostInstance instance, const char* name);
// Unloads what LoadModule loaded (natively nothing: the shell is linked).
void ReleaseModule(HostInstance instance);
// A main window whose end-of-file messages call `counter` (win32: a real
// window on a thread of its own with a message loop).
HostWindow StartMainWindow(MessageCounter counter);
int CurrentThreadPriority();
// Where the plug-in lives for this test program: a private folder, and the
// module's path there (the win32 build copies the real DLL into it).
std::string PreparePluginFolder();

}  // namespace standin
