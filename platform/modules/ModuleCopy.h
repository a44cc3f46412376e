#pragma once
// Loading the bytes of a module that were checked, and only those
// (room-internal). The bytes are put in a sealed memory file, which nothing can
// change once sealed, and loaded from it by the name /proc/<pid>/fd/<n>, which
// a debugger or profiler in another process can open while the program runs
// (/proc/self/... would name their own handles there).
//
// Where the system refuses to run code from memory files (vm.memfd_noexec=2, a
// seccomp filter, a security policy), and only there, the bytes are written to
// a file in a folder only the program's user may change (under
// $XDG_RUNTIME_DIR, else the cache folder), read back and compared with what
// was checked, and that file is loaded; the log says so once. The module file
// itself is never loaded: bytes written to it after the check never run.
//
// Any thread; the caller holds the module's lock. Every symbol is resolved at
// load, so a library that lacks one fails the load instead of a call; such a
// failure is a refusal, never a reason to load another way.
#include "platform/modules/Modules.h"

#include <QByteArray>
#include <QString>

namespace lg::image {

// The loaded library, or null with error set. digest: the bytes' loaded
// digest (names the file copy); fileName: the module's file name.
void *loadCheckedModule(const QByteArray &bytes, const QByteArray &digest, const char *fileName, QString *error);

} // namespace lg::image
