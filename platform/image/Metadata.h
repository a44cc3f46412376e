#pragma once
// Image metadata through exiv2: the readable groups for the information pane
// and the raw blocks (Exif, IPTC, XMP, colour profile) that a rewrite carries
// over (platform/image/PictureMetadata).
#include <QByteArray>
#include <QList>
#include <QPair>
#include <QString>

#include <memory>

namespace Exiv2 {
class ExifData;
class Image;
}

namespace lg::image {

class ByteSource;

using MetadataGroups = QList<QPair<QString, QList<QPair<QString, QString>>>>;

struct MetadataRead
{
    MetadataGroups groups;  // "Exif", "TIFF", "GPS", "IPTC" in that order, empty groups left out
    QByteArray exif;        // TIFF-structured Exif block (exifBlock), empty when none
    QByteArray iptc;        // IPTC datasets, empty when none
    QByteArray xmp;         // the XMP packet, empty when none
    QByteArray icc;         // the embedded colour profile, empty when none
};

// Metadata of a file (path) or of a buffer (source in memory); empty when
// exiv2 does not know the format or the file is damaged.
MetadataRead readMetadata(const ByteSource &source, const QString &path);
// The same of an image exiv2 opened and read (readMetadataFrom); throws
// what exiv2 throws.
MetadataRead metadataOf(Exiv2::Image &image);
// The file at path opened by exiv2 and its metadata read; null when exiv2
// does not know the format or the file is damaged.
std::unique_ptr<Exiv2::Image> readMetadataFrom(const QString &path);

// The Exif as a TIFF-structured block with every tag of the picture, however
// large: nothing is dropped to fit the 64 KB of a JPEG segment (a JPEG writer
// drops what does not fit, and a rewrite checks for that). Left out, as in a
// JPEG's Exif: the strip and subdirectory pointers of the first directory and
// the directories of other images in the file (raw sub-images). Empty for no
// Exif; throws what exiv2 throws.
QByteArray exifBlock(const Exiv2::ExifData &exif, bool bigEndian = false);

} // namespace lg::image
