// Compiled as a test of platform/files/: its tests link that room and below.
#include "platform/desktop/Alert.h"
