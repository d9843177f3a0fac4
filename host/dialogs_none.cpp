// Builds without a window system have no configuration pages and no about
// box: the native shell is driven by tests and other hosts, which edit the
// settings record themselves.
#include "host/shell.h"

void Config(HostWindow) {}

void About(HostWindow) {}
