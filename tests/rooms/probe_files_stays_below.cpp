// Compiled as a source of platform/files/: its own room, the rooms it links
// and the Qt modules they link are all in sight.
#include "platform/base/LexicalPaths.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Timer.h"

#include <QtConcurrent/QtConcurrent>
#include <QtCore/QString>
#include <QtGui/QImage>

int probeFilesStaysBelow()
{
    return QImage().isNull() ? 1 : 0;
}
