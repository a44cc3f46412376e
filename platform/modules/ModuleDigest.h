#pragma once
// What the build recorded of the codec modules it made (room-internal): the
// digest of what the loader maps of each and of its code (LoadedDigest.h), and
// the size of the largest module file. Any thread.
#include <QByteArray>

#include <vector>

namespace lg::image {

// The digests the build recorded for the module file called file.
std::vector<QByteArray> builtDigests(const char *file);
// The digests of their code alone (codeDigest), for the words about a module
// whose code is the build's while what else it loads is not.
std::vector<QByteArray> builtCodeDigests(const char *file);
// The size in bytes of the largest module file the build made: a larger one
// is none of them, stripped or not, and is refused without being read.
qint64 largestBuiltModuleSize();

} // namespace lg::image
