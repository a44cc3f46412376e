#pragma once
// Loading codec modules ahead of need and off the main thread, so that no
// screen waits while a module's libraries are mapped (Qt Multimedia maps some
// two hundred): the modules a folder's files will need are loaded in the
// background once its first screen is drawn, and a screen that needs a module
// now loads it on a worker and shows its placeholder meanwhile.
//
// Any thread may call. loadModule() loads on the calling thread (a worker's
// call; on the main thread it would hold the window); loadInBackground() never
// waits. A module that cannot be loaded is refused as Modules.h says, once; the
// calls here then report it as not usable and try nothing more. Which modules a
// file needs is the image room's (platform/image/ModulesForFiles.h).
#include "platform/modules/Modules.h"

#include <QList>

namespace lg::image {

// Loads module unless it is loaded already; whether it can be used. The load
// and what it remembers of a refusal are the loader's (Modules.h).
bool loadModule(Module module);
// Starts loading those of modules not loaded or tried yet, each on a thread
// of its own (preloadModule), and returns at once.
void loadInBackground(const QList<Module> &modules);

} // namespace lg::image
