// Builds without a window system have no configuration pages, no about box
// and no file-information box: the native shell is driven by tests and other hosts, which edit the
// settings record themselves.
#include "host/shell.h"

void Config(HostWindow) {}

void About(HostWindow) {}

void SongInfoBox(const char*, HostWindow) {}
