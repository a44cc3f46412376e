// Compiled as a source of platform/files/: the screens stand above it.
#include "app/Essentials.h"
