#include "platform/ImageWriter.h"

#include "platform/FileOperations.h"
#include "platform/ImageSource.h"
#include "platform/image/Decoders.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>

#include <cerrno>
#include <cmath>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {

std::mutex hookMutex;
ImageWriter::CommitHook commitHook;

struct Encoding
{
    enum Library { Qt, Heif, Magick, None } library = None;
    const char *format = "";  // Qt format or ImageMagick coder
};

Encoding encodingFor(ImageFileType type)
{
    switch (type) {
    case ImageFileType::JPEG: return {Encoding::Qt, "jpeg"};
    case ImageFileType::PNG: return {Encoding::Qt, "png"};
    case ImageFileType::TIFF: return {Encoding::Qt, "tiff"};
    case ImageFileType::BMP: return {Encoding::Qt, "bmp"};
    case ImageFileType::WindowsIcon: return {Encoding::Qt, "ico"};
    case ImageFileType::AppleIcon: return {Encoding::Qt, "icns"};
    case ImageFileType::GIF: return {Encoding::Magick, "GIF"};
    case ImageFileType::PICT: return {Encoding::Magick, "PICT"};
    case ImageFileType::JPEG2000: return {Encoding::Magick, "JP2"};
    case ImageFileType::TGA: return {Encoding::Magick, "TGA"};
    case ImageFileType::HEIC: return {Encoding::Heif, "heic"};
    case ImageFileType::QuickTimeImage: return {};  // nothing here writes QuickTime images
    }
    return {};
}

bool carriesMetadata(ImageFileType type)
{
    return type == ImageFileType::JPEG || type == ImageFileType::PNG || type == ImageFileType::TIFF
        || type == ImageFileType::JPEG2000;
}

bool setError(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return false;
}

// Windows icons hold at most 256 pixels a side.
QImage windowsIconSized(const QImage &image)
{
    if (image.width() <= 256 && image.height() <= 256)
        return image;
    return image.scaled(256, 256, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// Apple icons are squares of 16 to 1024 pixels, a power of two a side: the
// picture is centred on a clear square of the largest such side it fills.
QImage appleIconSized(const QImage &image)
{
    int side = 16;
    while (side * 2 <= std::min(1024, std::max(image.width(), image.height())))
        side *= 2;
    QImage icon(side, side, QImage::Format_ARGB32);
    icon.fill(Qt::transparent);
    const QImage scaled = image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QPainter painter(&icon);
    painter.drawImage((side - scaled.width()) / 2, (side - scaled.height()) / 2, scaled);
    painter.end();
    return icon;
}

} // namespace

ImageWriteOptions ImageWriteOptions::fromProperties(const ImageProperties &properties)
{
    ImageWriteOptions options;
    options.metadata = PictureMetadata::fromProperties(properties);
    if (properties.compressionQuality)
        options.quality = *properties.compressionQuality;
    return options;
}

bool ImageWriter::canWrite(ImageFileType type)
{
    const Encoding encoding = encodingFor(type);
    if (encoding.library == Encoding::Qt)
        return QImageWriter::supportedImageFormats().contains(encoding.format);
    return encoding.library != Encoding::None;
}

QString ImageWriter::preferredExtension(ImageFileType type)
{
    switch (type) {
    case ImageFileType::JPEG: return QStringLiteral("jpg");
    case ImageFileType::PNG: return QStringLiteral("png");
    case ImageFileType::TIFF: return QStringLiteral("tiff");
    case ImageFileType::GIF: return QStringLiteral("gif");
    case ImageFileType::PICT: return QStringLiteral("pict");
    case ImageFileType::JPEG2000: return QStringLiteral("jp2");
    case ImageFileType::QuickTimeImage: return QStringLiteral("qtif");
    case ImageFileType::AppleIcon: return QStringLiteral("icns");
    case ImageFileType::BMP: return QStringLiteral("bmp");
    case ImageFileType::WindowsIcon: return QStringLiteral("ico");
    case ImageFileType::HEIC: return QStringLiteral("heic");
    case ImageFileType::TGA: return QStringLiteral("tga");
    }
    return {};
}

std::optional<QByteArray> ImageWriter::encode(const QImage &image, ImageFileType type, const ImageWriteOptions &options,
                                              QString *error)
{
    if (image.isNull() || image.width() <= 0 || image.height() <= 0) {
        setError(error, QStringLiteral("There is no image to write."));
        return std::nullopt;
    }
    const Encoding encoding = encodingFor(type);
    const int quality = options.quality < 0 ? -1 : int(std::lround(std::min(options.quality, 1.0) * 100));
    const PictureMetadata &metadata = options.metadata;
    QImage tagged = image;
    if (!metadata.icc.isEmpty() && !image.colorSpace().isValid()) {
        // The pixels are in the profile's colour space: Qt's writers embed it.
        const QColorSpace space = QColorSpace::fromIccProfile(metadata.icc);
        if (space.isValid())
            tagged.setColorSpace(space);
    }

    std::optional<QByteArray> bytes;
    switch (encoding.library) {
    case Encoding::None:
        setError(error, QStringLiteral("Images of this type cannot be written here."));
        return std::nullopt;
    case Encoding::Qt: {
        QByteArray data;
        QBuffer buffer(&data);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter writer(&buffer, encoding.format);
        if (type == ImageFileType::JPEG)
            writer.setQuality(quality < 0 ? 90 : quality);
        QImage pixels = type == ImageFileType::WindowsIcon ? windowsIconSized(tagged)
                      : type == ImageFileType::AppleIcon ? appleIconSized(tagged) : tagged;
        if (type == ImageFileType::JPEG && pixels.hasAlphaChannel()) {
            // JPEG holds no transparency: put the picture on white, not on black.
            QImage flat(pixels.size(), QImage::Format_RGB32);
            flat.fill(Qt::white);
            flat.setColorSpace(pixels.colorSpace());
            QPainter painter(&flat);
            painter.drawImage(0, 0, pixels);
            painter.end();
            pixels = flat;
        }
        if (!writer.write(pixels) || data.isEmpty()) {
            setError(error, writer.errorString());
            return std::nullopt;
        }
        bytes = std::move(data);
        break;
    }
    case Encoding::Heif:
        bytes = image::encodeHeic(tagged, quality < 0 ? 85 : quality,
                                  uprightExif(metadata.exif, image.size(), MetadataContainer::Plain),
                                  uprightXmp(metadata.xmp, image.size()), metadata.icc, error);
        break;
    case Encoding::Magick:
        bytes = image::encodeWithMagick(image, encoding.format, quality, error);
        break;
    }
    if (!bytes)
        return std::nullopt;
    if (carriesMetadata(type) && !metadata.isEmpty()) {
        QString reason;
        if (std::optional<QByteArray> withMetadata = withPictureMetadata(*bytes, metadata, image.size(), image, &reason))
            bytes = std::move(withMetadata);
        else if (options.keepAllMetadata) {
            setError(error, QStringLiteral("The metadata could not be kept: %1").arg(reason));
            return std::nullopt;
        }
    }
    return bytes;
}

namespace {

// The path that a chain of symbolic links ends at (the path itself when it is
// no link); a link to a file that does not exist yet ends at that file's name.
// False for a loop or a chain longer than the system follows.
bool resolveLinks(const QString &path, QString *target)
{
    constexpr int maxLinks = 40;  // what the kernel follows (ELOOP beyond)
    QString current = QFileInfo(path).absoluteFilePath();
    for (int step = 0; step <= maxLinks; ++step) {
        const QFileInfo info(current);
        if (!info.isSymLink()) {
            // The folders on the way may be links too: name the file by its real folder.
            const QString folder = QFileInfo(info.absolutePath()).canonicalFilePath();
            *target = folder.isEmpty() ? current : QDir(folder).filePath(info.fileName());
            return true;
        }
        const QString linked = info.symLinkTarget();  // absolute, one step
        if (linked.isEmpty())
            return false;
        current = linked;
    }
    return false;
}

} // namespace

bool ImageWriter::write(const QImage &image, const QString &path, ImageFileType type, const ImageWriteOptions &options,
                        QString *error)
{
    const std::optional<QByteArray> bytes = encode(image, type, options, error);
    if (!bytes)
        return false;
    return replaceFileContents(path, *bytes, error);
}

bool ImageWriter::replaceFileContents(const QString &path, const QByteArray &bytes, QString *error)
{
    if (path.isEmpty())
        return setError(error, QStringLiteral("No file name was given."));
    // Write through symbolic links to the file they end at, as an in-place save
    // would: every link of a chain stays a link.
    QString target;
    if (!resolveLinks(path, &target))
        return setError(error, QStringLiteral("Cannot write %1: too many levels of symbolic links.").arg(path));
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir())
        return setError(error, QStringLiteral("A folder has that name."));
    const QString folder = targetInfo.absolutePath();
    // A hidden temporary beside the target, locked while this write lives (the
    // file layer's cleanup removes it should the process be killed).
    const lg::TemporaryFile temporaryFile = lg::createTemporaryFile(target);
    const int fd = temporaryFile.fd;
    if (fd < 0)
        return setError(error, QStringLiteral("Cannot write in %1: %2").arg(folder, QString::fromLocal8Bit(std::strerror(temporaryFile.error))));
    const QByteArray pattern = QFile::encodeName(temporaryFile.path);
    const QString temporary = QFile::decodeName(pattern);
    const auto abandon = [&](const QString &text) {
        ::close(fd);
        ::unlink(pattern.constData());
        return setError(error, text);
    };
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandon(QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
        }
        data += n;
        left -= n;
    }
    // The new file gets the old one's extended attributes (set while the new
    // file is still writable), permissions and owner, or the usual permissions
    // for a new file.
    struct stat old {};
    const QByteArray nativeTarget = QFile::encodeName(target);
    if (::stat(nativeTarget.constData(), &old) == 0) {
        QString reason;
        if (!writeExtendedAttributes(fd, readExtendedAttributes(target), &reason))
            return abandon(QStringLiteral("Cannot write %1: %2").arg(path, reason));
        ::fchmod(fd, old.st_mode & 07777);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only the owner's own files can keep their owner; that is fine.
        }
    } else {
        const mode_t mask = ::umask(0);
        ::umask(mask);
        ::fchmod(fd, 0666 & ~mask);
    }
    if (::fsync(fd) != 0)
        return abandon(QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    if (::close(fd) != 0) {
        ::unlink(pattern.constData());
        return setError(error, QStringLiteral("Cannot write %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(errno))));
    }
    CommitHook hook;
    {
        std::lock_guard<std::mutex> lock(hookMutex);
        hook = commitHook;
    }
    if (hook && !hook(temporary)) {
        ::unlink(pattern.constData());
        return setError(error, QStringLiteral("Cannot write %1: the write was stopped.").arg(path));
    }
    if (::rename(pattern.constData(), nativeTarget.constData()) != 0) {
        const int saved = errno;
        ::unlink(pattern.constData());
        return setError(error, QStringLiteral("Cannot replace %1: %2").arg(path, QString::fromLocal8Bit(std::strerror(saved))));
    }
    return true;
}

void ImageWriter::setCommitHookForTesting(CommitHook hook)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    commitHook = std::move(hook);
}

} // namespace lg
