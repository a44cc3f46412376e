#pragma once
// A header of model/ included only from a room above: the source beside it
// does not include it, so it is compiled on its own within its room.
#include "app/Essentials.h"
