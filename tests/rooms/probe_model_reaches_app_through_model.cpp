// Compiled as a source of model/: its own room's folder, climbed out of,
// leads to app/, which stands above it.
#include "model/../app/Essentials.h"
