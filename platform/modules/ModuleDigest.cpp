// What the build recorded of the codec modules it made.
#include "platform/modules/ModuleDigest.h"

#include <cstring>

namespace lg::image::built {
// Written once the modules are linked (platform/modules/identity/ModuleDigestTool.cpp).
extern const char *const moduleDigests[][3];
extern const int moduleDigestCount;
extern const long long largestModuleSize;
} // namespace lg::image::built

namespace lg::image {

namespace {

// The column of the digests recorded for file: 1 for what is loaded, 2 for the code.
std::vector<QByteArray> recorded(const char *file, int column)
{
    std::vector<QByteArray> digests;
    for (int i = 0; i < built::moduleDigestCount; ++i)
        if (std::strcmp(built::moduleDigests[i][0], file) == 0)
            digests.push_back(QByteArray::fromHex(built::moduleDigests[i][column]));
    return digests;
}

} // namespace

std::vector<QByteArray> builtDigests(const char *file)
{
    return recorded(file, 1);
}

std::vector<QByteArray> builtCodeDigests(const char *file)
{
    return recorded(file, 2);
}

qint64 largestBuiltModuleSize()
{
    return qint64(built::largestModuleSize);
}

} // namespace lg::image
