// The desktop's shared thumbnail cache: names, stamps, reading and writing entries.
#include "platform/image/ThumbnailStore.h"

#include "platform/desktop/Paths.h"

#include "Version.h"

#include <QBuffer>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QHash>
#include <QMutex>

#include <array>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {

constexpr int largestSide = 1024;
constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";

QMutex faultLock;
ThumbnailStore::WriteFault &writeFault()
{
    static ThumbnailStore::WriteFault fault;
    return fault;
}

int injectedFault(const QString &entry)
{
    QMutexLocker lock(&faultLock);
    return writeFault() ? writeFault()(entry) : 0;
}

const char *folderName(int side)
{
    switch (side) {
    case 128:
        return "normal";
    case 256:
        return "large";
    case 512:
        return "x-large";
    default:
        return "xx-large";
    }
}

quint32 crc32(const char *data, qsizetype size, quint32 crc = 0)
{
    static const std::array<quint32, 256> table = [] {
        std::array<quint32, 256> t{};
        for (quint32 n = 0; n < 256; ++n) {
            quint32 c = n;
            for (int k = 0; k < 8; ++k)
                c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    crc = ~crc;
    for (qsizetype i = 0; i < size; ++i)
        crc = table[(crc ^ quint8(data[i])) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

void appendBigEndian(QByteArray &bytes, quint32 value)
{
    bytes.append(char(value >> 24)).append(char(value >> 16)).append(char(value >> 8)).append(char(value));
}

// A tEXt chunk: keyword, a zero byte, the Latin-1 text. Readers of the shared
// cache look for these uncompressed chunks only.
QByteArray textChunk(const QByteArray &key, const QByteArray &value)
{
    QByteArray body = "tEXt" + key + '\0' + value;
    QByteArray chunk;
    appendBigEndian(chunk, quint32(body.size() - 4));
    chunk += body;
    appendBigEndian(chunk, crc32(body.constData(), body.size()));
    return chunk;
}

// image as PNG with the given text chunks right after the header, or empty.
QByteArray encodePng(const QImage &image, const QList<QPair<QByteArray, QByteArray>> &texts)
{
    // The same pixels without the picture's own texts.
    QImage plain(image.constBits(), image.width(), image.height(), image.bytesPerLine(), image.format());
    plain.setColorTable(image.colorTable());
    QByteArray png;
    QBuffer buffer(&png);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "png");
    // zlib level 1: about 40 % quicker to write than the default level, for
    // files some 20 % larger.
    writer.setQuality(85);
    if (!writer.write(plain) || !png.startsWith(pngSignature))
        return {};
    // The signature (8 bytes) and the IHDR chunk (4 length, 4 type, 13 data, 4 CRC).
    constexpr qsizetype afterHeader = 8 + 25;
    if (png.size() < afterHeader || png.mid(12, 4) != "IHDR")
        return {};
    QByteArray chunks;
    for (const auto &[key, value] : texts)
        chunks += textChunk(key, value);
    png.insert(afterHeader, chunks);
    return png;
}

// The uncompressed text chunks ahead of the pixels, keyword to text. (Qt's
// readers give such keywords before decoding only as one description, split
// at the first colon, which "Thumb::URI" has.)
QHash<QByteArray, QByteArray> leadingTexts(const QByteArray &png)
{
    QHash<QByteArray, QByteArray> texts;
    qsizetype at = 8;
    while (at + 12 <= png.size()) {
        const auto *p = reinterpret_cast<const uchar *>(png.constData() + at);
        const quint32 length = quint32(p[0]) << 24 | quint32(p[1]) << 16 | quint32(p[2]) << 8 | quint32(p[3]);
        if (length > quint64(png.size() - at - 12))
            break;
        const QByteArrayView type(png.constData() + at + 4, 4);
        if (type == "IDAT")
            break;
        if (type == "tEXt") {
            const QByteArray body = png.mid(at + 8, length);
            const qsizetype nul = body.indexOf('\0');
            if (nul > 0 && !texts.contains(body.left(nul)))  // the first of a keyword counts
                texts.insert(body.left(nul), body.mid(nul + 1));
        }
        at += 12 + qsizetype(length);
    }
    return texts;
}

// The whole of a regular file of at most limit bytes, read without following
// a link; none for anything else.
std::optional<QByteArray> readSmallFile(const QString &file, qint64 limit)
{
    const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limit) {
        ::close(fd);
        return std::nullopt;
    }
    QByteArray bytes(qsizetype(st.st_size), Qt::Uninitialized);
    qsizetype done = 0;
    while (done < bytes.size()) {
        const ssize_t n = ::read(fd, bytes.data() + done, size_t(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    ::close(fd);
    if (done != bytes.size())
        return std::nullopt;
    return bytes;
}

} // namespace

std::optional<FileStamp> FileStamp::of(const QString &path)
{
    struct stat st{};
    if (path.isEmpty() || ::stat(QFile::encodeName(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{qint64(st.st_mtim.tv_sec), qint64(st.st_size)};
}

QString ThumbnailStore::defaultRoot()
{
    QString cache = qEnvironmentVariable("XDG_CACHE_HOME");
    if (cache.isEmpty() || !QDir::isAbsolutePath(cache))
        cache = QDir::homePath() + QStringLiteral("/.cache");
    return Paths::clean(cache + QStringLiteral("/thumbnails"));
}

ThumbnailStore::ThumbnailStore(const QString &root) : m_root(Paths::clean(root)) {}

int ThumbnailStore::folderSideFor(int side)
{
    for (int folder = 128; folder <= largestSide; folder *= 2) {
        if (side <= folder)
            return folder;
    }
    return 0;
}

QByteArray ThumbnailStore::uriOf(const QString &path)
{
    const QByteArray bytes = QFile::encodeName(Paths::clean(path));
    QByteArray uri = "file://";
    uri.reserve(7 + bytes.size() * 3);
    static const char hex[] = "0123456789ABCDEF";
    for (const char c : bytes) {
        const auto u = quint8(c);
        const bool keep = (u >= 'a' && u <= 'z') || (u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9')
            || std::strchr("-._~!$&'()*+,/:=@", c) != nullptr;
        if (keep && u != 0) {
            uri.append(c);
        } else {
            uri.append('%').append(hex[u >> 4]).append(hex[u & 15]);
        }
    }
    return uri;
}

QString ThumbnailStore::entryPath(const QString &path, int folderSide) const
{
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path), QCryptographicHash::Md5).toHex();
    return m_root + QLatin1Char('/') + QLatin1String(folderName(folderSide)) + QLatin1Char('/')
        + QString::fromLatin1(md5) + QStringLiteral(".png");
}

QString ThumbnailStore::failurePath(const QString &path) const
{
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path), QCryptographicHash::Md5).toHex();
    return m_root + QStringLiteral("/fail/" LG_APPLICATION_NAME "-" LG_VERSION_STRING "/") + QString::fromLatin1(md5)
        + QStringLiteral(".png");
}

bool ThumbnailStore::holds(const QString &path) const
{
    return Paths::isInside(path, m_root);
}

std::optional<QImage> ThumbnailStore::readEntry(const QString &file, const QByteArray &uri, const FileStamp &stamp,
                                                int side) const
{
    std::optional<QByteArray> bytes = readSmallFile(file, readLimit(side));
    if (!bytes || !bytes->startsWith(pngSignature))
        return std::nullopt;
    QBuffer buffer(&*bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "png");
    // The size its header claims bounds what is allocated: checked before any
    // pixel is decoded. (Qt's allocation limit is process-wide: left alone.)
    const QSize size = reader.size();
    if (size.isEmpty() || size.width() > side || size.height() > side)
        return std::nullopt;
    auto matches = [&](auto text) {
        if (text("Thumb::URI") != QLatin1String(uri))
            return false;
        bool ok = false;
        if (text("Thumb::MTime").toLongLong(&ok) != stamp.modified || !ok)
            return false;
        const QString sizeText = text("Thumb::Size");
        if (sizeText.isEmpty() || stamp.size < 0)
            return true;
        return sizeText.toLongLong(&ok) == stamp.size && ok;
    };
    // The text chunks come before the pixels as a rule: a stale entry is then
    // told without decoding it. Otherwise they are read with the pixels.
    const QHash<QByteArray, QByteArray> leading = leadingTexts(*bytes);
    const bool textFirst = leading.contains("Thumb::URI");
    if (textFirst && !matches([&](const char *key) { return QString::fromLatin1(leading.value(key)); }))
        return std::nullopt;
    QImage image;
    if (!reader.read(&image) || image.isNull() || image.size() != size)
        return std::nullopt;
    if (!textFirst && !matches([&](const char *key) { return image.text(QLatin1String(key)); }))
        return std::nullopt;
    return image;
}

std::optional<QImage> ThumbnailStore::find(const QString &path, const FileStamp &stamp, int side) const
{
    if (holds(path))
        return std::nullopt;
    const QByteArray uri = uriOf(path);
    for (int folder = folderSideFor(side); folder > 0 && folder <= largestSide; folder *= 2) {
        if (std::optional<QImage> image = readEntry(entryPath(path, folder), uri, stamp, folder))
            return image;
    }
    return std::nullopt;
}

bool ThumbnailStore::hasFailed(const QString &path, const FileStamp &stamp) const
{
    return !holds(path) && readEntry(failurePath(path), uriOf(path), stamp, 128).has_value();
}

bool ThumbnailStore::makeFolder(const QString &folder)
{
    // The thumbnail folders are the user's alone; those already there are
    // left as they are.
    if (QFileInfo(folder).isDir())
        return true;
    const QString parent = QFileInfo(folder).path();
    if (parent != folder && !makeFolder(parent))
        return false;
    return ::mkdir(QFile::encodeName(folder).constData(), 0700) == 0 || errno == EEXIST;
}

bool ThumbnailStore::writeEntry(const QString &file, const QByteArray &png)
{
    if (m_writesStopped.load() || png.isEmpty())
        return false;
    const QString folder = QFileInfo(file).path();
    bool written = false;
    const int fault = injectedFault(file);
    if (fault == 0 && makeFolder(folder)) {
        // A temporary beside the entry, unique to this process and thread.
        QByteArray temporary = QFile::encodeName(file) + ".lumengallery-XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd >= 0) {
            bool ok = ::fchmod(fd, 0600) == 0;
            qsizetype done = 0;
            while (ok && done < png.size()) {
                const ssize_t n = ::write(fd, png.constData() + done, size_t(png.size() - done));
                if (n < 0 && errno == EINTR)
                    continue;
                ok = n > 0;
                done += std::max<ssize_t>(n, 0);
            }
            ok = ::close(fd) == 0 && ok;
            ok = ok && ::rename(temporary.constData(), QFile::encodeName(file).constData()) == 0;
            if (!ok)
                ::unlink(temporary.constData());
            written = ok;
        }
    }
    if (!written)
        m_writesStopped.store(true);
    return written;
}

bool ThumbnailStore::save(const QString &path, const FileStamp &stamp, int folderSide, const QImage &image,
                          const Details &details)
{
    if (m_writesStopped.load() || holds(path) || folderSideFor(folderSide) != folderSide || image.isNull()
        || image.width() > folderSide || image.height() > folderSide)
        return false;
    QList<QPair<QByteArray, QByteArray>> texts = {
        {"Thumb::URI", uriOf(path)},
        {"Thumb::MTime", QByteArray::number(stamp.modified)},
    };
    if (stamp.size >= 0)
        texts.append({"Thumb::Size", QByteArray::number(stamp.size)});
    if (!details.mimeType.isEmpty())
        texts.append({"Thumb::Mimetype", details.mimeType.toLatin1()});
    if (details.pixelSize.isValid()) {
        texts.append({"Thumb::Image::Width", QByteArray::number(details.pixelSize.width())});
        texts.append({"Thumb::Image::Height", QByteArray::number(details.pixelSize.height())});
    }
    texts.append(qMakePair(QByteArray("Software"), QByteArray(LG_DISPLAY_NAME)));
    return writeEntry(entryPath(path, folderSide), encodePng(image, texts));
}

bool ThumbnailStore::saveFailure(const QString &path, const FileStamp &stamp)
{
    if (m_writesStopped.load() || holds(path))
        return false;
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    QList<QPair<QByteArray, QByteArray>> texts = {
        {"Thumb::URI", uriOf(path)},
        {"Thumb::MTime", QByteArray::number(stamp.modified)},
    };
    if (stamp.size >= 0)
        texts.append({"Thumb::Size", QByteArray::number(stamp.size)});
    texts.append(qMakePair(QByteArray("Software"), QByteArray(LG_DISPLAY_NAME)));
    return writeEntry(failurePath(path), encodePng(mark, texts));
}

bool ThumbnailStore::carryOver(const QString &oldPath, const QString &newPath, const FileStamp &stamp)
{
    if (holds(oldPath) || holds(newPath) || Paths::clean(oldPath) == Paths::clean(newPath))
        return false;
    bool carried = false;
    const QByteArray oldUri = uriOf(oldPath);
    for (int folder = 128; folder <= largestSide; folder *= 2) {
        const QString oldEntry = entryPath(oldPath, folder);
        std::optional<QImage> image = readEntry(oldEntry, oldUri, stamp, folder);
        if (!image)
            continue;
        Details details;
        details.mimeType = image->text(QStringLiteral("Thumb::Mimetype"));
        details.pixelSize = QSize(image->text(QStringLiteral("Thumb::Image::Width")).toInt(),
                                  image->text(QStringLiteral("Thumb::Image::Height")).toInt());
        if (details.pixelSize.isEmpty())
            details.pixelSize = QSize();
        if (!save(newPath, stamp, folder, *image, details))
            return carried;
        ::unlink(QFile::encodeName(oldEntry).constData());
        carried = true;
    }
    return carried;
}

void ThumbnailStore::setWriteFaultForTesting(WriteFault fault)
{
    QMutexLocker lock(&faultLock);
    writeFault() = std::move(fault);
}

} // namespace lg
