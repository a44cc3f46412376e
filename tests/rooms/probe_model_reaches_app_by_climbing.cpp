// Compiled as a source of model/: a path that climbs out of the folder it
// stands in reaches app/, which stands above it.
#include "../../app/Essentials.h"
