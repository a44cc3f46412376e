// Compiled as a source of platform/runtime/: the files room stands above it,
// its sub-rooms too.
#include "platform/files/names/FileNames.h"
