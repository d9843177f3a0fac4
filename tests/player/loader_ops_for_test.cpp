// The operations record for the loader tests while the player's own is not
// built: only destroy is filled, the rest are empty slots.
#include "player/player.h"
#include "player/song.h"

const PlayerOps GymPlayerOps = {
    nullptr,        // start
    nullptr,        // render
    nullptr,        // sampleRate
    nullptr,        // halt
    DestroyPlayer,  // destroy
    nullptr,        // seek
    nullptr,        // positionMs
    nullptr,        // threadPriority
    nullptr,        // loopsDone
    nullptr,        // isRunning
};
