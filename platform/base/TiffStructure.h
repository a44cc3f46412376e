#pragma once
// The TIFF structure as TIFF files, camera raw files and Exif blocks hold it:
// the first directory's claims, the furthest byte the directories point at,
// the Exif orientation and the sizes of field types. Pure reading of bytes
// handed in; any thread. Anything cut short or malformed reads as not ok (or
// orientation 1, end -1), never past the bytes given.
#include <QByteArray>
#include <QSize>

#include <functional>

namespace lg::image {

// Unsigned integers stored big-endian (be) or little-endian (le) at p.
inline quint16 be16(const char *p) { return quint16((uchar(p[0]) << 8) | uchar(p[1])); }
inline quint32 be32(const char *p) { return (quint32(uchar(p[0])) << 24) | (quint32(uchar(p[1])) << 16) | (quint32(uchar(p[2])) << 8) | uchar(p[3]); }
inline quint16 le16(const char *p) { return quint16(uchar(p[0]) | (uchar(p[1]) << 8)); }
inline quint32 le32(const char *p) { return quint32(uchar(p[0])) | (quint32(uchar(p[1])) << 8) | (quint32(uchar(p[2])) << 16) | (quint32(uchar(p[3])) << 24); }

struct TiffSummary
{
    bool ok = false;
    bool bigTiff = false;
    QSize size;
    int orientation = 1;
    int bitsPerSample = 0;
    int samples = 0;
    int photometric = -1;
    bool alpha = false;
    bool dng = false;
    qint64 dataEnd = -1;   // end of the first image's strips or tiles; -1 when none declared
    qint64 valuesEnd = 0;  // end of the first directory's values
};

// Reads length bytes at offset; fewer (or none) where the bytes end.
using ReadAt = std::function<QByteArray(qint64 offset, qint64 length)>;

// What the first directory of the TIFF structure of size bytes says.
TiffSummary readTiffFirstDirectory(const ReadAt &read, qint64 size);
// The furthest byte that the directory chain and the sub-directories of its
// members point at (pixel data and values); -1 when unreadable.
qint64 tiffEverythingEnd(const ReadAt &read, qint64 size);

// The Exif orientation stored in a TIFF structure (Exif block or TIFF file),
// 1 when absent or unreadable.
int exifOrientation(const QByteArray &tiff);

// How many bytes one value of a TIFF (and Exif) field type takes; 0 for a
// type the format does not define.
int tiffTypeSize(int type);

} // namespace lg::image
