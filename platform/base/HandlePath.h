#pragma once
// The path by which the kernel reaches what this process holds open:
// "/proc/self/fd/<fd>". Any thread; it leads somewhere only where /proc is
// mounted (check with access() where that matters). Inline, so the codec
// modules that build ByteSource.cpp need nothing more.
#include <QByteArray>

namespace lg {

inline QByteArray handlePath(int fd) { return "/proc/self/fd/" + QByteArray::number(fd); }

} // namespace lg
