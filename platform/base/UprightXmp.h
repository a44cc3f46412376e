#pragma once
// XMP made fit for upright pixels: orientation 1 and the pixel size, as a
// turned or flipped picture is written. The JPEG turn and every rewrite of a
// picture share it. Any thread; exiv2 is set up on first use. A packet that
// cannot be read or written again gives an empty result, never an exception.
#include <QByteArray>
#include <QSize>

namespace Exiv2 {
class XmpData;
}

namespace lg {

// The packet xmp (without its wrapper) fit for upright pixels of pixelSize;
// empty for empty or unreadable input.
QByteArray uprightXmp(const QByteArray &xmp, QSize pixelSize);
// The same on parsed XMP: the orientation and size tags that are there are
// set to orientation 1 and pixelSize (when valid); none is added.
void makeXmpUpright(Exiv2::XmpData &xmp, QSize pixelSize);

} // namespace lg
