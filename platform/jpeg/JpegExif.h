#pragma once
// Exif in a JPEG: which APP1 segments hold it and the orientation it gives the
// picture. The one rule of this program for the probe (what is shown), the
// turn (what it composes with and patches) and every rewrite. Pure; any thread.
#include <QByteArray>
#include <QList>

namespace lg::image {

// Whether the payload of a JPEG APP1 segment (after its length) is an Exif
// block: it opens with "Exif\0\0", and the TIFF structure follows those six
// bytes. Another header such as "Exif\0\xff" is no Exif here, as for exiv2
// and the web browsers.
bool isExifPayload(const QByteArray &app1Payload);
// The orientation of a JPEG: that of the first APP1 segment before its first
// scan that isExifPayload, read by exifOrientation; 1 without one.
// app1Payloads: the payloads of the APP1 segments in file order.
int jpegExifOrientation(const QList<QByteArray> &app1Payloads);

} // namespace lg::image
