// Compiled as a source of model/: from the build's generated folder, the
// build's own way of showing app/ to the rooms that link it.
#include "../fences/see/app/app/Essentials.h"
