// Compiled as a source of platform/files/: the desktop room stands above it.
#include "platform/desktop/AccentColour.h"
