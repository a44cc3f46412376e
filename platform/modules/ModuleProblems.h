#pragma once
// The words the window says about a module that cannot be used (room-internal).
// Any thread.
#include "platform/modules/ModulesShared.h"

namespace lg::image {

// What the window says of module, refused for refusal; updatedSinceStart: the
// program was replaced on disk since it started.
ModuleProblem problemFor(Module module, Refusal refusal, bool updatedSinceStart);

} // namespace lg::image
