// One-time set-up of the image libraries.
#include "platform/image/Libraries.h"

#include <QStandardPaths>

namespace lg::image {

bool postscriptReadable()
{
    static const bool readable = !QStandardPaths::findExecutable(QStringLiteral("gs")).isEmpty();
    return readable;
}

} // namespace lg::image
