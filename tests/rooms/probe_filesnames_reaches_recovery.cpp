// Compiled as a source of platform/files/names/: the sub-room of what a
// stopped command left stands after it.
#include "platform/files/recovery/Journal.h"
