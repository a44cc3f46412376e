#pragma once
// The digest of a module file, and the sealed memory copy of the bytes it was
// made from (room-internal). Any thread.
#include <QByteArray>

#include <vector>

namespace lg::image {

// What a check read of a module: the SHA-256 of every byte behind its handle
// and, where the system offers sealed memory files, those very bytes in one,
// so that what is loaded is what was hashed, whatever is written to the file
// meanwhile. digest is empty when the file cannot be read whole or is not size
// bytes long; sealed is -1 without a sealed copy (the held handle is loaded).
struct ReadModule
{
    QByteArray digest;
    int sealed = -1;
};

// Reads the file open as fd, which should be size bytes long, whole: its
// digest and, where the system has them, a sealed copy named name.
ReadModule readModule(int fd, quint64 size, const char *name);

// The digests the build recorded for the module file called file.
std::vector<QByteArray> builtDigests(const char *file);

} // namespace lg::image
