#pragma once
// Image metadata through exiv2: the readable groups for the information pane,
// the raw Exif and IPTC blocks that a rewrite carries over, and the carrying
// over itself.
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <optional>

namespace lg::image {

class ByteSource;

using MetadataGroups = QList<QPair<QString, QList<QPair<QString, QString>>>>;

struct MetadataRead
{
    MetadataGroups groups;  // "Exif", "TIFF", "GPS", "IPTC" in that order, empty groups left out
    QByteArray exif;        // TIFF-structured Exif block, empty when none
    QByteArray iptc;        // IPTC datasets, empty when none
};

// Metadata of a file (path) or of a buffer (source in memory); empty when
// exiv2 does not know the format or the file is damaged.
MetadataRead readMetadata(const ByteSource &source, const QString &path);

// An Exif block fit for a rewritten image of the given pixel size: orientation
// 1, no embedded thumbnail, no maker note, no tags that describe the old pixel
// layout. Empty when exif is empty or unreadable.
QByteArray exifForRewrite(const QByteArray &exif, QSize pixelSize);

// The encoded image with the Exif and IPTC blocks written into it (JPEG, PNG,
// TIFF, JPEG 2000). None when exiv2 cannot write them into that format.
std::optional<QByteArray> withMetadata(const QByteArray &encoded, const QByteArray &exif, const QByteArray &iptc,
                                       QString *error);

} // namespace lg::image
