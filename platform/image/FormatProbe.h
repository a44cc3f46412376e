#pragma once
// Recognises an image by its content and reads what its header says, without
// decoding pixels. The extension (or a caller's hint) only breaks ties between
// formats that have no signature of their own (TGA, MacPaint, raw fax, camera
// raw files in plain TIFF clothing).
#include <QByteArray>
#include <QList>
#include <QSize>
#include <QString>
#include <functional>
#include <string>

namespace lg::image {

class ByteSource;

enum class Decoder { None, Qt, Heif, Raw, Magick };

struct Probe
{
    Decoder decoder = Decoder::None;
    QByteArray qtFormat;        // Decoder::Qt: the Qt reader's format name
    std::string magick;         // Decoder::Magick (or the fallback of Qt): coder name
    qint64 magickOffset = 0;    // bytes to skip before handing the data to ImageMagick
    qint64 magickPadding = 0;   // zero bytes to put before it (PICT without its 512-byte header)
    QString type;               // "jpeg", "png", ..., empty when not recognised

    // Filled when the header could be read without decoding; otherwise the
    // image is decoded once to learn its size and to see that it is whole.
    bool headerKnown = false;
    QSize storedSize;           // as stored, before orientation
    int orientation = 1;        // Exif orientation 1..8 of the stored pixels
    int depth = 0;
    QString colorModel;
    bool hasAlpha = false;
    int frameCount = 1;
    bool damaged = false;       // the structure is cut short or broken
    bool rawByName = false;     // plain TIFF content taken for camera raw by its extension
};

// Recognises the content of source; extension is the lower-cased file
// extension or the caller's format hint (may be empty).
Probe probeFormat(const ByteSource &source, const QString &extension);

// The Exif orientation stored in a TIFF structure (Exif block or TIFF file),
// 1 when absent or unreadable.
int exifOrientation(const QByteArray &tiff);

// Whether the payload of a JPEG APP1 segment (after its length) is an Exif
// block: it opens with "Exif\0\0", and the TIFF structure follows those six
// bytes. The one rule of this program, for the probe (what is shown), the turn
// (what it composes with and patches) and every rewrite; another header such
// as "Exif\0\xff" is no Exif here, as for exiv2 and the web browsers.
bool isExifPayload(const QByteArray &app1Payload);
// The orientation of a JPEG: that of the first APP1 segment before its first
// scan that isExifPayload, read by exifOrientation; 1 without one.
// app1Payloads: the payloads of the APP1 segments in file order.
int jpegExifOrientation(const QList<QByteArray> &app1Payloads);

// True for the extensions of camera raw files.
bool isRawExtension(const QString &extension);

// How many bytes one value of a TIFF (and Exif) field type takes; 0 for a
// type the format does not define.
int tiffTypeSize(int type);

} // namespace lg::image
