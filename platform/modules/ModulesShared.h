#pragma once
// What the files of the modules room share (not for use outside it): the
// facts of each module, and why one is not used.
#include "platform/modules/Modules.h"

#include <QByteArray>

#include <cstddef>

namespace lg::image {

constexpr int moduleCount = 5;

struct ModuleFacts
{
    const char *file;
    const char *entryPoint;
    const char *library;   // what it wraps, for the log
    const char *name;      // the module, as the window names it
    const char *title;     // what cannot be shown without it
};

const ModuleFacts &factsOf(Module module);

// Why a module is not used, for the words in the window. ChangedAfterBuild:
// its code is the build's while what else it loads is not (its links were
// rewritten); ChangedWhileRead: the file changed while it was read;
// NowhereToRun: the system runs code neither from memory files nor from any
// folder a copy may be kept in.
enum class Refusal {
    None, Missing, Untrusted, Elsewhere, LinkLoop, TooManyLinks, Damaged, ChangedAfterBuild, ChangedWhileRead,
    OtherBuild, Unloadable, NowhereToRun
};

// The bytes of the file open as fd, which is size bytes long; false when it
// cannot be read whole or is not that long.
bool readWhole(int fd, qint64 size, QByteArray *into);

} // namespace lg::image
