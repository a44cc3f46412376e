#pragma once
// One-time set-up of the image libraries. The size limits the decoders share
// (platform/base/PictureLimits.h) and the set-up of exiv2
// (platform/base/Exiv2Setup.h) stand below this room, where the JPEG room
// reaches them too. Each function may be called from any thread, any number
// of times; the set-up itself runs once.
#include "platform/base/Exiv2Setup.h"
#include "platform/base/PictureLimits.h"

#include <QSize>
#include <QString>

namespace lg::image {

// True when ImageMagick may hand PostScript-like files to ghostscript here.
bool postscriptReadable();

} // namespace lg::image
