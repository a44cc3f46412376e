// Writing a picture by type, into a temporary beside the target and renamed over it.
#include "platform/image/ImageWriter.h"

#include "platform/files/operations/FileOperations.h"
#include "platform/image/ImageSource.h"
#include "platform/image/Decoders.h"
#include "platform/files/names/FileNames.h"

#include <QBuffer>
#include <QColorSpace>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QtEndian>


#include <algorithm>
#include <array>
#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {

std::mutex hookMutex;
ImageWriter::CommitHook commitHook;

// The process's umask, from the "Umask:" line of /proc/self/status, which
// reads it without touching it; none where that cannot be read.
std::optional<mode_t> umaskFromProc()
{
    const int fd = ::open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    char text[8192];
    size_t length = 0;
    for (ssize_t n; length < sizeof text - 1 && (n = ::read(fd, text + length, sizeof text - 1 - length)) != 0;) {
        if (n < 0) {
            if (errno == EINTR)
                continue;
            break;
        }
        length += size_t(n);
    }
    ::close(fd);
    text[length] = '\0';
    const char *line = std::strstr(text, "\nUmask:");
    if (!line)
        return std::nullopt;
    char *end = nullptr;
    const unsigned long mask = std::strtoul(line + 7, &end, 8);
    if (end == line + 7 || mask > 0777)
        return std::nullopt;
    return mode_t(mask);
}

// The umask the program started with, read once as it starts and never set
// afterwards: a umask(0) on one thread would give folders and files that
// other threads make meanwhile no mask at all. Only where /proc cannot be
// read is it learnt by setting it and back, here, while static objects are
// made and no thread but the first runs yet.
mode_t umaskAtStart()
{
    if (const std::optional<mode_t> mask = umaskFromProc())
        return *mask;
    const mode_t mask = ::umask(0);
    ::umask(mask);
    return mask;
}
const mode_t startUmask = umaskAtStart();

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

// A TIFF of the image compressed as the TIFF tags compression and predictor
// say: Deflate, PackBits, and LZW for the other compressions.
std::optional<QByteArray> encodedTiff(const QImage &image, int compression, int predictor, QString *error)
{
    const image::TiffCompression method = compression == 8 || compression == 32946 ? image::TiffCompression::Deflate
                                        : compression == 32773                  ? image::TiffCompression::PackBits
                                                                                : image::TiffCompression::Lzw;
    return image::encodeTiffWithMagick(image, method, predictor, error);
}

// ---- PNG chunks ----

quint32 crc32Of(const QByteArray &bytes)
{
    static const auto table = [] {
        std::array<quint32, 256> t {};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xedb88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    quint32 c = 0xffffffffu;
    for (const char byte : bytes)
        c = table[(c ^ quint8(byte)) & 0xff] ^ (c >> 8);
    return c ^ 0xffffffffu;
}

struct PngChunk
{
    QByteArray type;
    QByteArray data;
};

// The whole chunks of PNG bytes from offset from on.
QList<PngChunk> pngChunksOf(const QByteArray &bytes, qsizetype from)
{
    QList<PngChunk> chunks;
    qsizetype at = from;
    while (at + 12 <= bytes.size()) {
        const qsizetype length = qFromBigEndian<quint32>(bytes.constData() + at);
        if (length < 0 || at + 12 + length > bytes.size())
            break;
        chunks.append({bytes.mid(at + 4, 4), bytes.mid(at + 8, length)});
        at += 12 + length;
    }
    return chunks;
}

QByteArray pngChunkBytes(const PngChunk &chunk)
{
    QByteArray out(4, Qt::Uninitialized);
    qToBigEndian<quint32>(quint32(chunk.data.size()), out.data());
    const QByteArray typed = chunk.type + chunk.data;
    out += typed;
    QByteArray crc(4, Qt::Uninitialized);
    qToBigEndian<quint32>(crc32Of(typed), crc.data());
    return out + crc;
}

bool isColourChunk(const QByteArray &type)
{
    return type == "gAMA" || type == "cHRM" || type == "sRGB" || type == "iCCP";
}

// The background colour of a source of colour type fromType and fromDepth in
// the terms of a picture of toType and toDepth; empty when it has none there.
QByteArray convertedBackground(const QByteArray &bKGD, int fromType, int fromDepth, const QByteArray &palette, int toType,
                               int toDepth)
{
    QList<int> rgb;  // samples at fromDepth
    if (fromType == 3) {
        const int index = bKGD.isEmpty() ? -1 : quint8(bKGD[0]);
        if (index < 0 || (index + 1) * 3 > palette.size())
            return {};
        rgb = {quint8(palette[index * 3]), quint8(palette[index * 3 + 1]), quint8(palette[index * 3 + 2])};
        fromDepth = 8;
    } else if ((fromType == 0 || fromType == 4) && bKGD.size() == 2) {
        const int grey = qFromBigEndian<quint16>(bKGD.constData());
        rgb = {grey, grey, grey};
    } else if ((fromType == 2 || fromType == 6) && bKGD.size() == 6) {
        for (int i = 0; i < 3; ++i)
            rgb.append(qFromBigEndian<quint16>(bKGD.constData() + 2 * i));
    } else {
        return {};
    }
    const auto scaled = [fromDepth, toDepth](int v) {
        const int fromMax = (1 << fromDepth) - 1, toMax = (1 << toDepth) - 1;
        return quint16((qint64(v) * toMax + fromMax / 2) / fromMax);
    };
    QByteArray out;
    const auto put = [&out](quint16 v) { out.append(char(v >> 8)).append(char(v & 0xff)); };
    if (toType == 2 || toType == 6) {
        for (int v : rgb)
            put(scaled(v));
    } else if ((toType == 0 || toType == 4) && rgb[0] == rgb[1] && rgb[1] == rgb[2]) {
        put(scaled(rgb[0]));
    } else {
        return {};
    }
    return out;
}

// The new PNG with the source's colour chunks in place of the encoder's own
// (where the source has any) and its background colour and significant bits
// where they still describe the new pixels.
QByteArray withColourChunks(const QByteArray &png, const QByteArray &sourceChunks)
{
    const QList<PngChunk> source = pngChunksOf(sourceChunks, 0);
    QList<PngChunk> chunks = pngChunksOf(png, 8);
    if (source.isEmpty() || source.first().type != "IHDR" || source.first().data.size() < 13 || chunks.isEmpty()
        || chunks.first().type != "IHDR" || chunks.first().data.size() < 13)
        return png;
    const int fromDepth = quint8(source.first().data[8]), fromType = quint8(source.first().data[9]);
    const int toDepth = quint8(chunks.first().data[8]), toType = quint8(chunks.first().data[9]);
    QByteArray palette;
    for (const PngChunk &chunk : source)
        if (chunk.type == "PLTE")
            palette = chunk.data;
    QList<PngChunk> colour, background;
    for (const PngChunk &chunk : source) {
        if (isColourChunk(chunk.type))
            colour.append(chunk);
        else if (chunk.type == "sBIT" && fromType == toType && fromDepth == toDepth)
            colour.append(chunk);
        else if (chunk.type == "bKGD") {
            const QByteArray value = fromType == toType && fromDepth == toDepth && toType != 3
                                         ? chunk.data
                                         : convertedBackground(chunk.data, fromType, fromDepth, palette, toType, toDepth);
            if (!value.isEmpty())
                background.append({chunk.type, value});
        }
    }
    if (colour.isEmpty() && background.isEmpty())
        return png;
    const bool replaceColour = std::any_of(colour.cbegin(), colour.cend(), [](const PngChunk &c) { return isColourChunk(c.type); });
    QByteArray out = png.left(8);
    bool colourPlaced = false, backgroundPlaced = false;
    for (const PngChunk &chunk : chunks) {
        if ((replaceColour && isColourChunk(chunk.type)) || (!colour.isEmpty() && chunk.type == "sBIT")
            || (!background.isEmpty() && chunk.type == "bKGD"))
            continue;
        if (!colourPlaced && (chunk.type == "PLTE" || chunk.type == "IDAT")) {
            for (const PngChunk &c : colour)
                out += pngChunkBytes(c);
            colourPlaced = true;
        }
        if (!backgroundPlaced && chunk.type == "IDAT") {
            for (const PngChunk &c : background)
                out += pngChunkBytes(c);
            backgroundPlaced = true;
        }
        out += pngChunkBytes(chunk);
    }
    return out;
}

} // namespace

SourceEncoding SourceEncoding::read(const QString &path)
{
    SourceEncoding encoding;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return encoding;
    const QByteArray head = file.read(8);
    if (head == QByteArray("\x89PNG\r\n\x1a\n", 8)) {
        // The chunks up to the picture data; a colour profile is the largest of them.
        QByteArray chunks;
        while (chunks.size() < (qsizetype(64) << 20)) {
            const QByteArray lengthAndType = file.read(8);
            if (lengthAndType.size() < 8 || lengthAndType.mid(4) == "IDAT")
                break;
            const qint64 length = qFromBigEndian<quint32>(lengthAndType.constData());
            const QByteArray rest = file.read(length + 4);
            if (rest.size() != length + 4)
                break;
            chunks += lengthAndType + rest;
        }
        encoding.pngChunks = chunks;
    } else if (head.startsWith("II*\0") || head.startsWith("MM\0*")) {
        const bool little = head.startsWith("II");
        const auto u16 = [little](const char *p) { return little ? qFromLittleEndian<quint16>(p) : qFromBigEndian<quint16>(p); };
        const auto u32 = [little](const char *p) { return little ? qFromLittleEndian<quint32>(p) : qFromBigEndian<quint32>(p); };
        if (file.seek(u32(head.constData() + 4))) {
            const QByteArray count = file.read(2);
            const QByteArray entries = count.size() == 2 ? file.read(qint64(u16(count.constData())) * 12) : QByteArray();
            for (qsizetype e = 0; e + 12 <= entries.size(); e += 12) {
                if (u16(entries.constData() + e + 2) != 3)
                    continue;
                if (u16(entries.constData() + e) == 259)
                    encoding.tiffCompression = u16(entries.constData() + e + 8);
                else if (u16(entries.constData() + e) == 317)
                    encoding.tiffPredictor = u16(entries.constData() + e + 8);
            }
            if (!entries.isEmpty() && encoding.tiffCompression == 0)
                encoding.tiffCompression = 1;  // no tag: uncompressed
        }
    }
    return encoding;
}

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
    // A rewritten TIFF stays compressed as it was (with its predictor), through
    // ImageMagick: LZW, Deflate, PackBits, and LZW for the compressions no
    // library here writes; uncompressed stays so, through Qt.
    const int tiffCompression = type == ImageFileType::TIFF ? options.source.tiffCompression : 0;
    const bool magickTiff = tiffCompression > 1;
    switch (magickTiff ? Encoding::Magick : encoding.library) {
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
        bytes = magickTiff ? encodedTiff(tagged, tiffCompression, options.source.tiffPredictor, error)
                           : image::encodeWithMagick(image, encoding.format, quality, error);
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
    if (type == ImageFileType::PNG && !options.source.pngChunks.isEmpty())
        bytes = withColourChunks(*bytes, options.source.pngChunks);
    if (carriesMetadata(type) && options.keepAllMetadata) {
        const QString lost = lostMetadata(metadata, image.size(), *bytes);
        if (!lost.isEmpty()) {
            setError(error, QStringLiteral("The metadata could not be kept: %1").arg(lost));
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
                        QString *error, int *errorNumber)
{
    if (errorNumber)
        *errorNumber = 0;
    const std::optional<QByteArray> bytes = encode(image, type, options, error);
    if (!bytes)
        return false;
    return replaceFileContents(path, *bytes, error, errorNumber);
}

bool ImageWriter::replaceFileContents(const QString &path, const QByteArray &bytes, QString *error, int *errorNumber)
{
    const auto failedWith = [errorNumber, error](int number, const QString &text) {
        if (errorNumber)
            *errorNumber = number;
        return setError(error, text);
    };
    if (errorNumber)
        *errorNumber = 0;
    if (path.isEmpty())
        return setError(error, QStringLiteral("No file name was given."));
    // Write through symbolic links to the file they end at, as an in-place save
    // would: every link of a chain stays a link.
    QString target;
    if (!resolveLinks(path, &target))
        return failedWith(ELOOP, QStringLiteral("Cannot write %1: too many levels of symbolic links.").arg(path));
    const QFileInfo targetInfo(target);
    if (targetInfo.isDir())
        return failedWith(EISDIR, QStringLiteral("A folder has that name."));
    const QString folder = targetInfo.absolutePath();
    // A hidden temporary beside the target, locked while this write lives (the
    // file layer's cleanup removes it should the process be killed).
    const lg::TemporaryFile temporaryFile = lg::createTemporaryFile(target);
    const int fd = temporaryFile.fd;
    if (fd < 0)
        return failedWith(temporaryFile.error,
                          QStringLiteral("Cannot write in %1: %2").arg(folder, errnoClause(temporaryFile.error)));
    const QByteArray pattern = lg::FileNames::toNative(temporaryFile.path);
    const QString temporary = lg::FileNames::fromNative(pattern);
    const auto abandon = [&](int number, const QString &reason) {
        ::close(fd);
        ::unlink(pattern.constData());
        return failedWith(number, QStringLiteral("Cannot write %1: %2").arg(path, reason));
    };
    const auto abandonFor = [&](int number) { return abandon(number, errnoClause(number)); };
    const char *data = bytes.constData();
    qint64 left = bytes.size();
    while (left > 0) {
        const ssize_t n = ::write(fd, data, size_t(left));
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return abandonFor(errno);
        }
        data += n;
        left -= n;
    }
    // The new file gets the old one's extended attributes (set while the new
    // file is still writable), permissions and owner, or the usual permissions
    // for a new file.
    struct stat old {};
    const QByteArray nativeTarget = lg::FileNames::toNative(target);
    if (::stat(nativeTarget.constData(), &old) == 0) {
        QString reason;
        if (!writeExtendedAttributes(fd, readExtendedAttributes(target), &reason))
            return abandon(0, reason);
        if (::fchmod(fd, old.st_mode & 07777) != 0)
            return abandonFor(errno);
        if (::fchown(fd, old.st_uid, old.st_gid) != 0) {
            // Only the owner's own files can keep their owner; that is fine.
        }
    } else {
        ::fchmod(fd, 0666 & ~startUmask);
    }
    if (::fsync(fd) != 0)
        return abandonFor(errno);
    if (::close(fd) != 0) {
        const int saved = errno;
        ::unlink(pattern.constData());
        return failedWith(saved, QStringLiteral("Cannot write %1: %2").arg(path, errnoClause(saved)));
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
    int renamed = injectedFileFault(FileStep::FinalRename, target);
    if (renamed == 0 && ::rename(pattern.constData(), nativeTarget.constData()) != 0)
        renamed = errno;
    if (renamed != 0) {
        ::unlink(pattern.constData());
        return failedWith(renamed, QStringLiteral("Cannot replace %1: %2").arg(path, errnoClause(renamed)));
    }
    return true;
}

void ImageWriter::setCommitHookForTesting(CommitHook hook)
{
    std::lock_guard<std::mutex> lock(hookMutex);
    commitHook = std::move(hook);
}

} // namespace lg
