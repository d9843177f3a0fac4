#include "player/engine.h"

#include "fm/chip.h"

bool PowerOnEngine() {
    return fmChip.Initialize(kFmPowerOnClock, kFmPowerOnRate, true);
}
