#pragma once
// Loading the bytes of a module that were checked, and only those
// (room-internal). The bytes are put in a sealed memory file, which nothing can
// change once sealed, with every byte of the pages the loader maps that the
// check did not cover set to zero, and loaded from it by the name
// /proc/<pid>/fd/<n>, the pid being the one /proc itself shows (in a pid
// namespace that sees another's /proc, getpid() names another process): that
// name is opened and checked to be the sealed memory file before anything is
// loaded from it.
//
// Debuggers, profilers and crash reports: the module's bytes, as read, are
// kept in a file of a folder only the program's user may change
// ($XDG_RUNTIME_DIR/lumengallery-modules/<build>, else
// ~/.cache/lumengallery/modules/<build>), and the dynamic loader's record of the
// module names that file, so that gdb reading a core after the process is
// gone finds its symbols and unwinds through it. Each copy is named by its
// digest and never removed: other processes of the program may have loaded it.
//
// Where the system refuses to run code from memory files (vm.memfd_noexec=2, a
// seccomp filter, a security policy) or /proc gives the memory file no name,
// and only there, the bytes to load are written to a file in the first of
// those folders that allows running code, read back and compared, and that
// file is loaded; the log says so once. The module file itself is never
// loaded: bytes written to it after the check never run.
//
// Any thread; the caller holds the module's lock. Every symbol is resolved at
// load, so a library that lacks one fails the load instead of a call; such a
// failure is a refusal, never a reason to load another way.
#include "platform/modules/ModulesShared.h"

#include <QByteArray>
#include <QString>

namespace lg::image {

struct CheckedLoad
{
    void *library = nullptr;
    Refusal refusal = Refusal::None;   // Unloadable or NowhereToRun when library is null
    QString error;
};

// Loads bytes, whose loaded digest is digest, as the module file fileName.
CheckedLoad loadCheckedModule(const QByteArray &bytes, const QByteArray &digest, const char *fileName);

// Whether this system runs code from memory files (a probe of one page).
bool memoryFilesRunCode();

} // namespace lg::image
