// XMP made fit for upright pixels.
#include "platform/base/UprightXmp.h"

#include "platform/base/Exiv2Setup.h"

#include <exiv2/exiv2.hpp>

#include <string>

namespace lg {

void makeXmpUpright(Exiv2::XmpData &xmp, QSize pixelSize)
{
    const auto update = [&xmp](const char *key, long value) {
        const auto it = xmp.findKey(Exiv2::XmpKey(key));
        if (it != xmp.end())
            it->setValue(std::to_string(value));
    };
    update("Xmp.tiff.Orientation", 1);
    if (pixelSize.isValid()) {
        update("Xmp.exif.PixelXDimension", pixelSize.width());
        update("Xmp.exif.PixelYDimension", pixelSize.height());
        update("Xmp.tiff.ImageWidth", pixelSize.width());
        update("Xmp.tiff.ImageLength", pixelSize.height());
    }
}

QByteArray uprightXmp(const QByteArray &xmp, QSize pixelSize)
{
    if (xmp.isEmpty())
        return {};
    image::ensureExiv2();
    try {
        Exiv2::XmpData data;
        if (Exiv2::XmpParser::decode(data, xmp.toStdString()) != 0)
            return {};
        makeXmpUpright(data, pixelSize);
        std::string packet;
        if (Exiv2::XmpParser::encode(packet, data, Exiv2::XmpParser::omitPacketWrapper) != 0)
            return {};
        return QByteArray::fromStdString(packet);
    } catch (...) {
        return {};
    }
}

} // namespace lg
