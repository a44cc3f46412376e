#pragma once
// Which codec modules a file will need, from its extension, as the format
// probe sends files to the decoders: what the screens load ahead of need
// (platform/modules/ModulePreload.h). Any thread; nothing here loads.
#include "platform/modules/Modules.h"

#include <QList>
#include <QString>

namespace lg::image {

// The modules that decode a picture with this lower-cased extension, as the
// probe sends it to them; none for the formats Qt reads itself.
QList<Module> modulesForPictureExtension(const QString &extension);
// The modules a video needs: FFmpeg for its size and frames, Qt Multimedia to play it.
QList<Module> modulesForVideo();

} // namespace lg::image
