// Compiled as a source of model/: the controls stand above it.
#include "controls/ZLFlatButton.h"
