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
    // A JPEG whose decoder keeps every coefficient of the picture, whatever
    // the size it decodes at (progressive coding): their bytes, two a
    // coefficient, each component padded to whole MCUs. 0 for other JPEGs.
    qint64 jpegCoefficientBytes = 0;
    bool damaged = false;       // the structure is cut short or broken
    bool rawByName = false;     // plain TIFF content taken for camera raw by its extension
};

// Recognises the content of source; extension is the lower-cased file
// extension or the caller's format hint (may be empty).
Probe probeFormat(const ByteSource &source, const QString &extension);

// True for the extensions of camera raw files.
bool isRawExtension(const QString &extension);

} // namespace lg::image
