// Compiled as a source of model/: its own room and the platform's rooms are
// in sight.
#include "model/SharedState.h"
#include "platform/desktop/Alert.h"
#include "platform/files/operations/FileBatch.h"
