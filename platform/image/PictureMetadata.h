#pragma once
// What a picture file holds besides its pixels, and the carrying of it into a
// file written anew: Exif (with the maker note and GPS), IPTC, XMP and the
// colour profile, through exiv2; and the file's extended attributes: the user
// namespace, where file managers keep tags and ratings, the POSIX access list
// (system.posix_acl_access) and whatever else the file system lists.
//
// Metadata carried into new pixels is made fit for them: Exif and XMP
// orientation 1, the pixel dimensions of the new picture, an Exif thumbnail
// made from the new pixels (dropped when none is given), and nothing that
// describes how the old pixels were stored. Any thread; nothing here throws.
#include "platform/base/UprightXmp.h"

#include <QByteArray>
#include <QImage>
#include <QList>
#include <QPair>
#include <QSize>
#include <QString>
#include <optional>

namespace lg {

struct ImageProperties;

struct PictureMetadata
{
    QByteArray exif;  // TIFF-structured Exif block, maker note included, every tag however large
    QByteArray iptc;  // IPTC datasets
    QByteArray xmp;   // the XMP packet
    QByteArray icc;   // the embedded colour profile
    // The file it was read from, empty when none: a rewrite of that file checks
    // what it wrote against the file itself (lostMetadata).
    QString file;

    bool isEmpty() const { return exif.isEmpty() && iptc.isEmpty() && xmp.isEmpty() && icc.isEmpty(); }
    static PictureMetadata fromProperties(const ImageProperties &properties);
    // The metadata of the picture file at path (file set); empty when it has none or is no picture.
    static PictureMetadata read(const QString &path);
};

// Which kind of container the metadata goes into: a TIFF file keeps its own
// layout tags and holds no Exif thumbnail (a second directory is a second page).
enum class MetadataContainer { Plain, Tiff };

// The encoded picture with metadata written into it, fit for upright pixels of
// pixelSize (thumbnailSource: the new pixels, for a new Exif thumbnail where
// the old file had one). A colour profile that the encoded picture already
// carries is kept; an XMP packet too large for one JPEG segment is written as
// extended XMP. None, with the reason, when exiv2 cannot write the format.
std::optional<QByteArray> withPictureMetadata(const QByteArray &encoded, const PictureMetadata &metadata,
                                              QSize pixelSize, const QImage &thumbnailSource, QString *error);

// What of the metadata (made fit for upright pixels of pixelSize) the encoded
// picture does not hold, or holds with another value: the Exif, XMP and IPTC
// keys, or "XMP", "IPTC" where all of it went, comma-separated; empty when it
// holds all (the Exif thumbnail, made anew, is not counted, nor where the
// directories lie). Where the
// metadata names its file, the Exif is read anew from there, whole as the file
// holds it, and the file's XMP and IPTC count too; a file that cannot be read
// is named as the loss.
QString lostMetadata(const PictureMetadata &metadata, QSize pixelSize, const QByteArray &encoded);

// An Exif block fit for upright pixels of pixelSize; empty for empty input.
// (The XMP packet: uprightXmp, platform/base/UprightXmp.h.)
QByteArray uprightExif(const QByteArray &exif, QSize pixelSize, MetadataContainer container);

// Extended attributes, name and value.
using ExtendedAttributes = QList<QPair<QByteArray, QByteArray>>;
// Those of the file at path (links followed), every namespace this process may
// read; empty when it has none or the file system keeps none.
ExtendedAttributes readExtendedAttributes(const QString &path);
// Sets them on the open file; false, with the reason, when a user attribute or
// the access list cannot be set (others the system refuses are left out).
bool writeExtendedAttributes(int fd, const ExtendedAttributes &attributes, QString *error);

} // namespace lg
