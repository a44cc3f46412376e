// Exif in a JPEG: the APP1 rule and the picture's orientation.
#include "platform/jpeg/JpegExif.h"

#include "platform/base/TiffStructure.h"

#include <QByteArrayView>

namespace lg::image {

bool isExifPayload(const QByteArray &app1Payload)
{
    return app1Payload.startsWith(QByteArrayView("Exif\0\0", 6));
}

int jpegExifOrientation(const QList<QByteArray> &app1Payloads)
{
    for (const QByteArray &payload : app1Payloads)
        if (isExifPayload(payload))
            return exifOrientation(payload.mid(6));
    return 1;
}

} // namespace lg::image
