// Compiled as a source of platform/files/names/: the sub-room of what a
// stopped command left stands after it, however its header is named.
#include <platform/files/recovery/Journal.h>
