#include "model/ImageTransforms.h"

#include "platform/runtime/Background.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Pools.h"
#include "platform/files/names/FileNames.h"

#include <QBuffer>
#include <QColorSpace>
#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QPointer>
#include <QTransform>
#include <QtEndian>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>

using lg::printLine;

namespace {

const char *noMatchingExtension = "Did not find any matching path extension to store the image";

// The number of quarter turns counter-clockwise when degrees is a whole
// multiple of 90, else -1.
int quarterTurns(double degrees)
{
    const double quarters = degrees / 90.0;
    const double whole = std::round(quarters);
    if (std::abs(quarters - whole) > 1e-9)
        return -1;
    return int(((long long)(whole) % 4 + 4) % 4);
}

QImage turnedExactly(const QImage &image, int quarterTurnsCounterClockwise)
{
    if (quarterTurnsCounterClockwise == 0)
        return image.copy();
    return lg::turnedImage(image, lg::pictureTurn(-quarterTurnsCounterClockwise));
}

int canvasSide(double value)
{
    return std::max(1, int(std::ceil(value - 1e-6)));
}

// The image turned counter-clockwise by degrees on a canvas that holds the
// whole turned picture (or on its own size when keepSize is set).
QImage drawnTurned(const QImage &image, double degrees, QPainter::CompositionMode mode, bool keepSize)
{
    if (image.isNull())
        return QImage();
    const int turns = keepSize ? -1 : quarterTurns(degrees);
    if (turns >= 0)
        return turnedExactly(image, turns);
    const double radians = degrees * M_PI / 180.0;
    const double w = image.width(), h = image.height();
    const QSize canvas = keepSize ? image.size()
                                  : QSize(canvasSide(w * std::abs(std::cos(radians)) + h * std::abs(std::sin(radians))),
                                          canvasSide(w * std::abs(std::sin(radians)) + h * std::abs(std::cos(radians))));
    QImage out(canvas, QImage::Format_ARGB32_Premultiplied);
    if (out.isNull())
        return QImage();
    out.fill(Qt::transparent);
    out.setColorSpace(image.colorSpace());
    QPainter painter(&out);
    painter.setRenderHint(QPainter::SmoothPixmapTransform, true);
    painter.setRenderHint(QPainter::Antialiasing, true);
    painter.setCompositionMode(mode);
    painter.translate(canvas.width() / 2.0, canvas.height() / 2.0);
    painter.rotate(-degrees);  // the painter turns clockwise for positive angles
    painter.drawImage(QPointF(-w / 2.0, -h / 2.0), image);
    painter.end();
    return out;
}

std::optional<lg::ImageFileType> typeForExtension(const QString &upper)
{
    using T = lg::ImageFileType;
    static const struct
    {
        std::initializer_list<const char *> extensions;
        T type;
    } table[] = {
        {{"JPG", "JPEG", "JPE"}, T::JPEG},
        {{"PNG", "PNGF"}, T::PNG},
        {{"TIFF", "TIF"}, T::TIFF},
        {{"GIFF", "GIF"}, T::GIF},
        {{"PICT", "PIC", "PCT", "X-PICT", "X-MACPICT"}, T::PICT},
        {{"JP2"}, T::JPEG2000},
        {{"QTIF", "QIF"}, T::QuickTimeImage},
        {{"ICNS"}, T::AppleIcon},
        {{"BMPF", "BMP"}, T::BMP},
        {{"ICO"}, T::WindowsIcon},
    };
    for (const auto &row : table)
        for (const char *extension : row.extensions)
            if (upper == QLatin1String(extension))
                return row.type;
    return std::nullopt;
}

QByteArray tiffRepresentation(const QImage &image)
{
    if (image.isNull())
        return {};
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "tiff");
    if (!writer.write(image))
        return {};
    return bytes;
}

} // namespace

QImage rotate(const QImage &image, double degrees)
{
    if (degrees == 0)
        return image;
    return drawnTurned(image, degrees, QPainter::CompositionMode_SourceOver, false);
}

QImage flipped(const QImage &image, bool horizontally, bool vertically)
{
    if (!horizontally && !vertically)
        return image.copy();
    return image.mirrored(horizontally, vertically);
}

namespace {

// Whether the permission bits let this process write the file: the bits of the
// owner, the group or others, whichever applies; any write bit for the superuser.
bool permissionBitsGrantWrite(const struct stat &info)
{
    const uid_t user = ::geteuid();
    if (user == 0)
        return (info.st_mode & (S_IWUSR | S_IWGRP | S_IWOTH)) != 0;
    if (info.st_uid == user)
        return (info.st_mode & S_IWUSR) != 0;
    bool inGroup = info.st_gid == ::getegid();
    if (!inGroup) {
        gid_t groups[256];
        const int count = ::getgroups(256, groups);
        for (int i = 0; i < count && !inGroup; ++i)
            inGroup = groups[i] == info.st_gid;
    }
    return (info.st_mode & (inGroup ? S_IWGRP : S_IWOTH)) != 0;
}

QImage fitted(const QImage &image, QSize bound)
{
    if (image.isNull() || bound.isEmpty() || (image.width() <= bound.width() && image.height() <= bound.height()))
        return image;
    return image.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

std::optional<lg::ImageFileType> typeForPath(const QString &path)
{
    return typeForExtension(QFileInfo(path).suffix().toUpper());
}

} // namespace

namespace {

// Whether the PNG file is animated (APNG): an acTL chunk before its picture
// data. Qt reads such files as one still, so the frame count does not tell.
bool isAnimatedPng(QFile &file)
{
    if (!file.seek(0) || file.read(8) != QByteArray("\x89PNG\r\n\x1a\n", 8))
        return false;
    qint64 at = 8;
    while (file.seek(at)) {
        const QByteArray head = file.read(8);
        if (head.size() < 8)
            return false;
        const quint32 length = qFromBigEndian<quint32>(head.constData());
        const QByteArray type = head.mid(4);
        if (type == "acTL")
            return true;
        if (type == "IDAT" || type == "IEND")
            return false;
        at += 12 + qint64(length);
    }
    return false;
}

// Whether the file holds more than one picture: pages, frames, or an
// animation or picture index the image source does not count.
bool holdsSeveralPictures(const QString &path, const lg::ImageSource &source)
{
    if (source.frameCount() > 1)
        return true;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    if (isAnimatedPng(file))
        return true;
    // The MPF index of a multi-picture JPEG lies among the segments before its
    // first scan, which large XMP extensions can push past any fixed length.
    file.seek(0);
    if (file.peek(2) != QByteArrayLiteral("\xff\xd8"))
        return false;
    return lg::jpegHoldsSeveralImages(file.readAll());
}

} // namespace

namespace {

// The content type (as the image source names it, from the content probe)
// that a file of the type must hold; empty for a type no probe names.
QLatin1String contentTypeOf(lg::ImageFileType type)
{
    using T = lg::ImageFileType;
    switch (type) {
    case T::JPEG: return QLatin1String("jpeg");
    case T::PNG: return QLatin1String("png");
    case T::TIFF: return QLatin1String("tiff");
    case T::GIF: return QLatin1String("gif");
    case T::PICT: return QLatin1String("pict");
    case T::JPEG2000: return QLatin1String("jp2");
    case T::AppleIcon: return QLatin1String("icns");
    case T::BMP: return QLatin1String("bmp");
    case T::WindowsIcon: return QLatin1String("ico");
    case T::HEIC: return QLatin1String("heic");
    case T::TGA: return QLatin1String("tga");
    case T::QuickTimeImage: break;
    }
    return QLatin1String();
}

// Whether the file holds a picture of another type than its extension names
// (a PNG named .jpg, a JPEG named .png): written as the extension's type, it
// would lose what its own type holds.
bool contentDiffersFromName(const QString &path, const lg::ImageSource &source)
{
    const std::optional<lg::ImageFileType> named = typeForPath(path);
    const QString held = source.type();
    return named && !held.isEmpty() && held != contentTypeOf(*named);
}

} // namespace

QString inPlaceRefusal(const QString &path, const lg::ImageSource &source)
{
    struct stat info {};
    if (::stat(lg::FileNames::toNative(path).constData(), &info) != 0 || !S_ISREG(info.st_mode))
        return QStringLiteral("it is not a plain file");
    if (!permissionBitsGrantWrite(info))
        return QStringLiteral("you do not have permission to change it");
    if (contentDiffersFromName(path, source))
        return QStringLiteral("it holds another type of picture than its name says");
    if (holdsSeveralPictures(path, source))
        return QStringLiteral("it holds several pictures");
    if (const std::optional<lg::ImageFileType> named = typeForPath(path); !named || !lg::ImageWriter::canWrite(*named)) {
        const QString suffix = QFileInfo(path).suffix();
        return suffix.isEmpty() ? QStringLiteral("this system has no writer for its type")
                                : QStringLiteral("this system has no writer for %1 pictures").arg(suffix.toUpper());
    }
    return {};
}

bool canRewriteInPlace(const QString &path, const lg::ImageSource &source)
{
    return inPlaceRefusal(path, source).isEmpty();
}

QString inPlaceWriteFailure(int errorNumber)
{
    switch (errorNumber) {
    case EROFS:
        return QStringLiteral("the folder is read-only");
    case EACCES:
    case EPERM:
        return QStringLiteral("permission denied");
    case ENOSPC:
        return QStringLiteral("the disk is full");
    case EDQUOT:
        return QStringLiteral("the disk quota is used up");
    case EFBIG:
        return QStringLiteral("it would be too large for the disk");
    case EIO:
        return QStringLiteral("the disk reported an error");
    case ENOENT:
        return QStringLiteral("its folder is no longer there");
    case EBUSY:
    case ETXTBSY:
        return QStringLiteral("it is in use");
    case ENAMETOOLONG:
        return QStringLiteral("its name is too long");
    case ELOOP:
        return QStringLiteral("it is reached through too many links");
    default:
        return QStringLiteral("it could not be written");
    }
}

namespace {

// writeCGImage; with metadataSource, the file the properties were read from
// (still as it was), the written file is checked against what that file holds.
bool writePicture(const QImage &image, const QString &path, const lg::ImageProperties &properties,
                  const QString &metadataSource, QString *failure = nullptr, int *errorNumber = nullptr)
{
    const std::optional<lg::ImageFileType> type = typeForPath(path);
    if (!type || !lg::ImageWriter::canWrite(*type)) {
        printLine(noMatchingExtension);
        return false;
    }
    if (QFileInfo::exists(path) && !canRewriteInPlace(path, lg::ImageSource(path))) {
        qWarning("The image was not saved: %s holds several images or may not be written.", qPrintable(path));
        return false;
    }
    lg::ImageWriteOptions options = lg::ImageWriteOptions::fromProperties(properties);
    options.keepAllMetadata = true;
    // A rewrite keeps how the file stored its pixels (TIFF compression, PNG colour chunks).
    options.source = lg::SourceEncoding::read(path);
    options.metadata.file = metadataSource;
    QString error;
    if (!lg::ImageWriter::write(image, path, *type, options, &error, errorNumber)) {
        qWarning("The image was not saved: %s", qPrintable(error));
        if (failure)
            *failure = error;
        return false;
    }
    return true;
}

} // namespace

namespace {

TurnedFile refused(TurnedFile out, const QString &reason)
{
    qWarning("The image was not turned: %s", qPrintable(reason));
    out.error = reason;
    return out;
}

} // namespace

TurnedFile turnPictureFile(const QString &path, lg::PictureTurn turn, QSize previewBound, const QImage &shownPicture)
{
    TurnedFile out;
    const lg::ImageSource source(path);
    if (!source.isValid())
        return out;
    out.notInPlace = inPlaceRefusal(path, source);
    bool inPlace = out.notInPlace.isEmpty();
    // A JPEG under another name is turned all the same, for its copy only.
    if (source.type() == QLatin1String("jpeg")) {
        if (inPlace && typeForPath(path) != lg::ImageFileType::JPEG)
            out.notInPlace = QStringLiteral("it holds another type of picture than its name says");
        inPlace = out.notInPlace.isEmpty();
        QFile file(path);
        const QByteArray jpeg = file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
        // The preview comes from the picture on screen, else it is decoded while the blocks are turned.
        const int side = std::max(previewBound.width(), previewBound.height());
        QFuture<std::optional<QImage>> decoded;
        if (shownPicture.isNull() && side > 0)
            decoded = lg::runOnPool([source, side] { return source.thumbnail(side); });
        // Made the same way whether it goes over the file or into a copy. The
        // turn judges the header's size claim before anything is decoded or
        // transformed: one that claims more than the file holds is refused.
        QString claimRefusal, why;
        std::optional<lg::TurnedJpeg> turned = lg::turnJpeg(jpeg, turn, &why, &claimRefusal);
        if (!claimRefusal.isEmpty())
            return refused(out, claimRefusal);
        if (turned) {
            const std::optional<QImage> upright = !shownPicture.isNull() ? std::optional<QImage>(shownPicture)
                                                : decoded.isValid()      ? decoded.result()
                                                                         : std::nullopt;
            out.readable = true;
            out.pixelSize = turned->pixelSize;
            // What the turn could not keep right is never written over the file:
            // it is said with the reason for the copy.
            if (!turned->note.isEmpty()) {
                out.notInPlace = inPlace ? turned->note : out.notInPlace + QStringLiteral("; ") + turned->note;
                inPlace = false;
            }
            QString writeError;
            int writeErrno = 0;
            out.written = inPlace && lg::ImageWriter::replaceFileContents(path, turned->bytes, &writeError, &writeErrno);
            if (inPlace && !out.written) {
                // The writer's sentence goes to the log; the panel's line says it in words that fit.
                qWarning("The turned picture was not written in place: %s", qPrintable(writeError));
                out.notInPlace = inPlaceWriteFailure(writeErrno);
            }
            if (!out.written || (!upright && side > 0))
                out.picture = lg::ImageSource::fromData(turned->bytes, QStringLiteral("jpeg")).image().value_or(QImage());
            if (!out.written)
                out.jpeg = std::move(turned->bytes);
            // Reduced before it is turned: the picture on screen may be the whole picture.
            out.preview = upright ? lg::turnedImage(fitted(*upright, lg::turnedSize(previewBound, turn)), turn)
                                  : fitted(out.picture, previewBound);
            return out;
        }
        if (decoded.isValid())
            decoded.waitForFinished();
        // Encoded again over the file, it would lose what the turn keeps (the
        // bytes after the picture, extended XMP, other segments): the turned
        // picture goes into a copy, and the file stays as it is.
        if (inPlace)
            out.notInPlace = why.startsWith(QLatin1String("The picture data is damaged"))
                                 ? QStringLiteral("its picture data is damaged")
                                 : QStringLiteral("written again it would lose part of what it holds");
        inPlace = false;
    }
    if (const QString refusal = source.decodeRefusal(); !refusal.isEmpty())
        return refused(out, refusal);
    const std::optional<QImage> image = source.image();
    if (!image || image->isNull())
        return out;
    out.readable = true;
    out.picture = lg::turnedImage(*image, turn);
    out.pixelSize = out.picture.size();
    out.preview = fitted(out.picture, previewBound);
    if (inPlace) {
        int writeErrno = 0;
        out.written = writePicture(out.picture, path, source.properties(), path, nullptr, &writeErrno);   // its error goes to the log
        if (!out.written)
            out.notInPlace = inPlaceWriteFailure(writeErrno);
    }
    return out;
}

QThreadPool *pictureTurnPool()
{
    static QPointer<QThreadPool> warmed;
    QThreadPool *pool = lg::pools::pictureTurns();
    if (warmed != pool) {
        warmed = pool;
        pool->start([] { lg::warmUpJpegTurns(); });
    }
    return pool;
}

bool writeCGImage(const QImage &image, const QString &path, const lg::ImageProperties &properties)
{
    return writePicture(image, path, properties, QString());
}

std::optional<lg::ImageSource> CGImagesource(const QImage &image)
{
    const QByteArray tiff = tiffRepresentation(image);
    if (tiff.isEmpty())
        return std::nullopt;
    return lg::ImageSource::fromData(tiff, QStringLiteral("tiff"));
}

QImage rotated(const QImage &image, double degrees)
{
    return drawnTurned(image, degrees, QPainter::CompositionMode_SourceOver, false);
}

QImage rotatedNormal(const QImage &image, double degrees)
{
    return drawnTurned(image, degrees, QPainter::CompositionMode_SourceOver, true);
}

std::optional<QImage> imageRotatedwith_Ikimageview2(const QImage &image, double degrees)
{
    if (image.isNull())
        return std::nullopt;
    const QImage out = drawnTurned(image, -degrees, QPainter::CompositionMode_SourceOver, false);
    if (out.isNull())
        return std::nullopt;
    return out;
}

bool write(const QImage &image, const QUrl &url, DataWritingOptions options, lg::ImageFileType type,
           float compressFactor, double dpiValue)
{
    Q_UNUSED(dpiValue);
    const auto fail = [](const QString &text) {
        printLine(qPrintable(text));
        return false;
    };
    if (!url.isLocalFile())
        return fail(QStringLiteral("The location is not a file: %1").arg(url.toString()));
    const QString path = lg::FileNames::pathOf(url);
    const std::optional<QImage> bitmap = Rotated::bitmapImageRepresentation(image);
    if (!bitmap)
        return fail(QStringLiteral("There is no image to write."));
    lg::ImageWriteOptions writeOptions;
    writeOptions.quality = double(compressFactor);
    QString error;
    const std::optional<QByteArray> data = lg::ImageWriter::encode(*bitmap, type, writeOptions, &error);
    if (!data)
        return fail(error);
    if (options == DataWritingOptions::withoutOverwriting && QFileInfo::exists(path))
        return fail(QStringLiteral("The file %1 already exists.").arg(path));
    if (!lg::ImageWriter::replaceFileContents(path, *data, &error))
        return fail(error);
    return true;
}

QImage Rotated::imageRotated(const QImage &image, float degrees)
{
    return rotateImagedByDegrees(degrees, image);
}

std::optional<QImage> Rotated::bitmapImageRepresentation(const QImage &image)
{
    if (image.width() <= 0 || image.height() <= 0)
        return std::nullopt;
    QImage bitmap(image.size(), QImage::Format_RGBA8888_Premultiplied);
    if (bitmap.isNull())
        return std::nullopt;
    bitmap.fill(Qt::transparent);
    QPainter painter(&bitmap);
    painter.save();
    painter.setCompositionMode(QPainter::CompositionMode_Source);
    painter.drawImage(0, 0, image);
    painter.restore();
    painter.end();
    return bitmap;
}

std::optional<QImage> Rotated::toCGImageRef(const QImage &image)
{
    const std::optional<QImage> bitmap = bitmapImageRepresentation(image);
    if (!bitmap)
        return std::nullopt;
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    if (!writer.write(*bitmap))
        return std::nullopt;
    return lg::ImageSource::fromData(png, QStringLiteral("png")).image();
}

QImage Rotated::rotateImagedByDegrees(float degrees, const QImage &image)
{
    if (degrees == 0)
        return image;
    return drawnTurned(image, -double(degrees), QPainter::CompositionMode_Source, false);
}

std::optional<QByteArray> ImageHelperMethods::getPICTRepData(const QString &path)
{
    std::optional<QByteArray> data;
    if (lg::ImageSource(path).type() == QLatin1String("pict")) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            data = file.readAll();
    }
    std::fprintf(stderr, "my image data size is %ld\n", long(data ? data->size() : 0));
    return data;
}

QImage ImageHelperMethods::flipImageVertically(const QImage &image, bool allowFlip)
{
    return allowFlip ? image.mirrored(false, true) : image.copy();
}

QImage ImageHelperMethods::flipImageHorizontally(const QImage &image, bool allowFlip)
{
    return allowFlip ? image.mirrored(true, false) : image.copy();
}
