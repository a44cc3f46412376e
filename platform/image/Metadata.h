#pragma once
// Image metadata through exiv2: the readable groups for the information pane
// and the raw blocks (Exif, IPTC, XMP, colour profile) that a rewrite carries
// over (platform/PictureMetadata).
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

namespace lg::image {

class ByteSource;

using MetadataGroups = QList<QPair<QString, QList<QPair<QString, QString>>>>;

struct MetadataRead
{
    MetadataGroups groups;  // "Exif", "TIFF", "GPS", "IPTC" in that order, empty groups left out
    QByteArray exif;        // TIFF-structured Exif block, empty when none
    QByteArray iptc;        // IPTC datasets, empty when none
    QByteArray xmp;         // the XMP packet, empty when none
    QByteArray icc;         // the embedded colour profile, empty when none
};

// Metadata of a file (path) or of a buffer (source in memory); empty when
// exiv2 does not know the format or the file is damaged.
MetadataRead readMetadata(const ByteSource &source, const QString &path);

} // namespace lg::image
