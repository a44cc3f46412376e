#pragma once
// Turning, mirroring and writing images: the viewer's rotate, flip and save,
// and the image source that the video thumbnail goes through. Every transform
// returns a new image and leaves its source alone. Angles are in degrees; the
// turning direction is given for each function as seen on screen.
#include "platform/image/ImageSource.h"
#include "platform/image/ImageWriter.h"
#include "platform/jpeg/JpegTurn.h"

#include <QByteArray>
#include <QThreadPool>
#include <QImage>
#include <QString>
#include <QUrl>
#include <optional>

// Turned counter-clockwise (clockwise for a negative angle) on a canvas that
// just holds the turned picture: w·|cos a| + h·|sin a| by w·|sin a| + h·|cos a|;
// the corners outside the picture are transparent. An angle of 0 returns the
// image itself; a null image gives a null image.
QImage rotate(const QImage &image, double degrees);

// Mirrored left to right and/or top to bottom; with both false, a plain copy.
QImage flipped(const QImage &image, bool horizontally, bool vertically);

// Whether the picture file at path may be rewritten in place: it holds a single
// image (no pages, frames, animated PNG or multi-picture JPEG index), its
// content (as the content probe recognises it) is the type its extension
// names, and its permission bits let this user write it (checked on the bits,
// as the superuser passes every access check).
bool canRewriteInPlace(const QString &path, const lg::ImageSource &source);
// Why a write in place failed, in the words that follow "cannot be written in
// place: ", for the system's error (errno) the writer reported ("the folder is
// read-only", "permission denied", "the disk is full", ...); "it could not be
// written" where no reason is known (0, or an error without words of its own).
QString inPlaceWriteFailure(int errorNumber);
// Why the file at path may not be rewritten in place, in words that follow
// "cannot be written in place: " ("you do not have permission to change it",
// "this system has no writer for HEIC pictures"); empty when it may.
QString inPlaceRefusal(const QString &path, const lg::ImageSource &source);

// How turnPictureFile went.
struct TurnedFile
{
    bool readable = false;  // the file could be read as a picture; nothing happened otherwise
    bool written = false;   // the file now holds the turned picture
    QSize pixelSize;        // of the turned picture
    QImage picture;         // the turned picture at full size; null after a lossless turn that was written
    QImage preview;         // the turned picture reduced to fit previewBound
    QByteArray jpeg;        // not written, a JPEG: the turned file's content, made as in place, for a JPEG copy
    QString error;          // not readable: why the picture was refused (its header claims more than may be decoded)
    QString notInPlace;     // readable, not written: why (inPlaceRefusal's words, or the write's error, and what a
                            // JPEG turn could not keep right)
};

// Turns and/or mirrors the picture file at path as seen on screen and writes it
// back in place where it may (canRewriteInPlace, a type writeCGImage writes):
// a JPEG without loss, its blocks moved where its size allows, else by its
// orientation tag with the compressed picture untouched (lg::turnJpeg; a
// damaged one is refused and goes to a copy), others decoded, turned and written with all their
// metadata and their own encoding. Not written: picture holds the result for
// a copy (and jpeg, for a JPEG). shownPicture, the picture as shown now
// (upright, before the turn), makes the preview without decoding the file
// again; with an empty previewBound no preview is made. A header claiming a
// size that cannot be decoded here, or more than the file's bytes can hold, is
// refused before anything is decoded (error says why, and is printed). Any thread.
TurnedFile turnPictureFile(const QString &path, lg::PictureTurn turn, QSize previewBound,
                           const QImage &shownPicture = QImage());

// The thread the viewer's turns run on: made on the first call (the viewer
// makes it when it appears), kept while the application runs, and woken at
// once with a small turn (lg::warmUpJpegTurns), so that the first turn a
// person asks for pays no thread start nor library set-up. Main thread; the
// pool belongs to the application and is drained when it ends.
QThreadPool *pictureTurnPool();

// Writes the image in the type that the path's extension names (JPG, JPEG, JPE;
// PNG, PNGF; TIFF, TIF; GIFF, GIF; PICT, PIC, PCT, X-PICT, X-MACPICT; JP2; QTIF,
// QIF; ICNS; BMPF, BMP; ICO, in any case), replacing the file at path in one
// step. The properties' metadata (Exif with the maker note, IPTC, XMP, colour
// profile; the file's extended attributes) is carried over with the orientation
// set to 1, and the write fails rather than lose it; an existing file that
// canRewriteInPlace refuses is not written. Prints "Did not find any matching
// path extension to store the image" and returns false, leaving any file at path untouched, when
// the extension names no type or the type cannot be written here; a write that
// fails also returns false and leaves the old file as it was.
bool writeCGImage(const QImage &image, const QString &path, const lg::ImageProperties &properties);

// An image source over the image's TIFF encoding; none for a null image.
std::optional<lg::ImageSource> CGImagesource(const QImage &image);

// Turned counter-clockwise about its centre on a canvas holding the whole
// turned picture (drawn, source-over). 0 gives a copy.
QImage rotated(const QImage &image, double degrees);

// Turned counter-clockwise about its centre inside its own size; the corners
// that leave the rectangle are cut off.
QImage rotatedNormal(const QImage &image, double degrees);

// Turned clockwise on a canvas holding the whole turned picture; none for a null image.
std::optional<QImage> imageRotatedwith_Ikimageview2(const QImage &image, double degrees);

// How NSImage-style write treats an existing file. Writes always go through a
// temporary file that is renamed over the target.
enum class DataWritingOptions { none, atomic, withoutOverwriting };

// Encodes the image in the given type with the compression factor (0..1, for
// lossy types) and writes it to the file URL. False, printing the reason, when
// no data can be made or the write fails (withoutOverwriting: also when a file
// is there). The dots-per-inch value has no effect on the output.
bool write(const QImage &image, const QUrl &url, DataWritingOptions options, lg::ImageFileType type,
           float compressFactor, double dpiValue);

// The "Rotated" set of image operations.
struct Rotated
{
    // rotateImagedByDegrees with the image.
    static QImage imageRotated(const QImage &image, float degrees);
    // A 32-bit RGBA bitmap (premultiplied, width × 4 bytes a row) of the image;
    // none when the image has no pixels.
    static std::optional<QImage> bitmapImageRepresentation(const QImage &image);
    // The bitmap above, encoded as PNG and read back; none when that fails.
    static std::optional<QImage> toCGImageRef(const QImage &image);
    // Turned clockwise on a canvas holding the whole turned picture (copy
    // compositing); 0 returns the image itself.
    static QImage rotateImagedByDegrees(float degrees, const QImage &image);
};

class ImageHelperMethods
{
public:
    // The content of a PICT file; none when the file is not a PICT image.
    // Logs "my image data size is %ld" with the length (0 for none).
    static std::optional<QByteArray> getPICTRepData(const QString &path);
    // Mirrored top to bottom when allowFlip is set, else a copy.
    static QImage flipImageVertically(const QImage &image, bool allowFlip);
    // Mirrored left to right when allowFlip is set, else a copy.
    static QImage flipImageHorizontally(const QImage &image, bool allowFlip);
};
