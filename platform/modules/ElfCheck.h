#pragma once
// The checks of a module file as an ELF shared object of this machine that
// loads safely, read through its handle before any of its code runs
// (room-internal). Any thread.
#include <QByteArray>
#include <QString>

namespace lg::image {

// Why the file open as fd cannot be a module of this machine that loads
// safely (empty when it can): its header, and every segment and section it
// maps or names, must lie within the file. Fills buildId from its build note.
QString elfDamage(int fd, QByteArray *buildId);

} // namespace lg::image
