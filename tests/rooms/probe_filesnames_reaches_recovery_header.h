#pragma once
// A header of platform/files/names/ that no source includes: compiled on its
// own within its sub-room, it reaches the sub-room after it.
#include "platform/files/recovery/Journal.h"
