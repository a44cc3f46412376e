// The desktop's shared thumbnail cache: names, stamps, reading and writing entries.
#include "platform/image/ThumbnailStore.h"

#include "platform/base/LexicalPaths.h"
#include "platform/base/XdgDirectories.h"
#include "platform/files/FileNames.h"
#include "platform/image/ByteSource.h"
#include "platform/runtime/Dispatch.h"

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
#include <cctype>
#include <cerrno>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace lg {

namespace {

constexpr int largestSide = 1024;
constexpr char pngSignature[] = "\x89PNG\r\n\x1a\n";
// Between an entry's name and the six characters mkostemp adds: the name of a
// temporary being written.
constexpr char temporaryInfix[] = ".lumengallery-";
// The size folders, the smallest first.
constexpr int folderSides[] = {128, 256, 512, 1024};

// When this process started, near enough: the time its libraries were set up.
const qint64 processStart = qint64(::time(nullptr));

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
    const image::ByteSource source = image::ByteSource::openNative(lg::FileNames::toNative(file), false);
    if (!source.isOpen() || source.size() > limit)
        return std::nullopt;
    QByteArray bytes = source.read(0, source.size());
    if (bytes.size() != source.size())
        return std::nullopt;
    return bytes;
}

// Whether name is that of a temporary this program writes beside an entry:
// "<32 hex digits>.png.lumengallery-" and six letters or digits.
bool isTemporaryName(const char *name)
{
    const qsizetype length = qsizetype(std::strlen(name));
    constexpr qsizetype infix = sizeof(temporaryInfix) - 1;
    if (length != 32 + 4 + infix + 6)
        return false;
    for (int i = 0; i < 32; ++i) {
        if (!std::isxdigit(uchar(name[i])) || std::isupper(uchar(name[i])))
            return false;
    }
    if (std::memcmp(name + 32, ".png", 4) != 0 || std::memcmp(name + 36, temporaryInfix, infix) != 0)
        return false;
    for (qsizetype i = 36 + infix; i < length; ++i) {
        if (!std::isalnum(uchar(name[i])))
            return false;
    }
    return true;
}

// Removes from folder the temporaries left by writes that never finished: by
// their name, a regular file of this user made before this process started,
// and not locked (a live writer holds its lock until the rename).
void removeStrayTemporariesIn(const QString &folder)
{
    const int dirFd
        = ::open(lg::FileNames::toNative(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (dirFd < 0)
        return;
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (isShuttingDown())
            break;
        if (!isTemporaryName(entry->d_name))
            continue;
        const int fd = ::openat(dirFd, entry->d_name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
        if (fd < 0)
            continue;
        struct stat st{};
        struct stat named{};
        if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_uid == ::geteuid()
            && qint64(st.st_mtim.tv_sec) < processStart && ::flock(fd, LOCK_EX | LOCK_NB) == 0
            && ::fstatat(dirFd, entry->d_name, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == st.st_dev
            && named.st_ino == st.st_ino) {
            ::unlinkat(dirFd, entry->d_name, 0);
        }
        ::close(fd);
    }
    ::closedir(dir);
}

} // namespace

std::optional<FileStamp> FileStamp::of(const QString &path)
{
    struct stat st{};
    if (path.isEmpty() || ::stat(FileNames::toNative(path).constData(), &st) != 0)
        return std::nullopt;
    return FileStamp{qint64(st.st_mtim.tv_sec), qint64(st.st_size)};
}

QString ThumbnailStore::defaultRoot()
{
    return LexicalPaths::clean(xdgBaseDirectory(XdgKind::Cache) + QStringLiteral("/thumbnails"));
}

ThumbnailStore::ThumbnailStore(const QString &root) : m_root(LexicalPaths::clean(root)) {}

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
    const QByteArray bytes = FileNames::toNative(LexicalPaths::clean(path));
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
    const QString clean = LexicalPaths::clean(path);
    if (LexicalPaths::isInside(clean, m_root))
        return true;
    // Reached some other way (a link to the cache or to one of its folders, a
    // mount): known by the identity of a folder above the file. The folder is
    // looked at every time, as a link or a mount may be put in its way at any
    // time; what is remembered is what a folder (by its identity) is.
    const QString folder = clean.left(std::max<qsizetype>(1, clean.lastIndexOf(QLatin1Char('/'))));
    struct stat st{};
    if (::stat(FileNames::toNative(folder).constData(), &st) != 0)
        return false;  // nothing in it can be read
    const QPair<quint64, quint64> identity{quint64(st.st_dev), quint64(st.st_ino)};
    struct stat rootStat{};
    const QPair<quint64, quint64> root = ::stat(lg::FileNames::toNative(m_root).constData(), &rootStat) == 0
        ? QPair<quint64, quint64>{quint64(rootStat.st_dev), quint64(rootStat.st_ino)}
        : QPair<quint64, quint64>{0, 0};
    {
        QMutexLocker lock(&m_heldLock);
        if (root != m_heldRoot) {
            // Another cache folder (made anew, or moved): nothing known holds.
            m_heldFolders.clear();
            m_heldRoot = root;
        }
        const auto known = m_heldFolders.constFind(identity);
        if (known != m_heldFolders.constEnd())
            return *known;
    }
    const QSet<QPair<quint64, quint64>> cacheFolders = folderIdentities();
    bool held = cacheFolders.contains(identity);
    QString above = folder;
    while (!held && above != QLatin1String("/")) {
        above = above.left(std::max<qsizetype>(1, above.lastIndexOf(QLatin1Char('/'))));
        held = ::stat(FileNames::toNative(above).constData(), &st) == 0
            && cacheFolders.contains({quint64(st.st_dev), quint64(st.st_ino)});
    }
    QMutexLocker lock(&m_heldLock);
    if (m_heldFolders.size() > 4096)
        m_heldFolders.clear();
    m_heldFolders.insert(identity, held);
    return held;
}

QSet<QPair<quint64, quint64>> ThumbnailStore::folderIdentities() const
{
    // The root, its size folders, fail/ and the folder of each program in it.
    QStringList folders = {m_root, m_root + QStringLiteral("/fail")};
    for (const int side : folderSides)
        folders.append(m_root + QLatin1Char('/') + QLatin1String(folderName(side)));
    const QByteArray fail = lg::FileNames::toNative(m_root + QStringLiteral("/fail"));
    if (DIR *dir = ::opendir(fail.constData())) {
        while (const dirent *entry = ::readdir(dir)) {
            if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0)
                folders.append(lg::FileNames::fromNative(fail + '/' + entry->d_name));
        }
        ::closedir(dir);
    }
    QSet<QPair<quint64, quint64>> identities;
    for (const QString &folder : std::as_const(folders)) {
        struct stat st{};
        if (::stat(lg::FileNames::toNative(folder).constData(), &st) == 0 && S_ISDIR(st.st_mode))
            identities.insert({quint64(st.st_dev), quint64(st.st_ino)});
    }
    return identities;
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
    return ::mkdir(lg::FileNames::toNative(folder).constData(), 0700) == 0 || errno == EEXIST;
}

void ThumbnailStore::sweepOnce(const QString &folder)
{
    {
        QMutexLocker lock(&m_sweptLock);
        if (m_swept.contains(folder))
            return;
        m_swept.insert(folder);
    }
    removeStrayTemporariesIn(folder);
}

void ThumbnailStore::removeStrayTemporaries()
{
    for (const int side : folderSides)
        sweepOnce(m_root + QLatin1Char('/') + QLatin1String(folderName(side)));
    sweepOnce(QFileInfo(failurePath(QStringLiteral("/"))).path());
}

qint64 ThumbnailStore::now() const
{
    if (m_clock)
        return m_clock();
    struct timespec ts{};
    ::clock_gettime(CLOCK_MONOTONIC, &ts);
    return qint64(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

bool ThumbnailStore::writesStopped() const
{
    const qint64 stoppedAt = m_writesStoppedAt.load();
    return stoppedAt >= 0 && now() - stoppedAt < writeRetryMs;
}

bool ThumbnailStore::writeEntry(const QString &file, const QByteArray &png)
{
    if (writesStopped() || png.isEmpty())
        return false;
    const QString folder = QFileInfo(file).path();
    int error = injectedFault(file);
    errno = 0;
    if (error == 0 && !makeFolder(folder))
        error = errno != 0 ? errno : EIO;
    if (error == 0)
        sweepOnce(folder);
    if (error == 0) {
        // A temporary beside the entry, unique to this process and thread,
        // locked while it is written: a sweep passes over it meanwhile.
        QByteArray temporary = lg::FileNames::toNative(file) + temporaryInfix + "XXXXXX";
        const int fd = ::mkostemp(temporary.data(), O_CLOEXEC);
        if (fd < 0) {
            error = errno;
        } else {
            ::flock(fd, LOCK_EX | LOCK_NB);
            if (::fchmod(fd, 0600) != 0)
                error = errno;
            qsizetype done = 0;
            while (error == 0 && done < png.size()) {
                const ssize_t n = ::write(fd, png.constData() + done, size_t(png.size() - done));
                if (n < 0 && errno == EINTR)
                    continue;
                if (n <= 0)
                    error = n < 0 ? errno : EIO;
                else
                    done += n;
            }
            if (error == 0 && ::rename(temporary.constData(), lg::FileNames::toNative(file).constData()) != 0)
                error = errno;
            if (error != 0)
                ::unlink(temporary.constData());
            if (::close(fd) != 0 && error == 0)
                error = errno;
        }
    }
    // A full or read-only cache takes the writes of the next while with it;
    // any other failure (something planted at the entry's name, a folder that
    // cannot be made) costs only this entry.
    if (error == ENOSPC || error == EDQUOT || error == EROFS)
        m_writesStoppedAt.store(std::max<qint64>(0, now()));
    return error == 0;
}

bool ThumbnailStore::save(const QString &path, const FileStamp &stamp, int folderSide, const QImage &image,
                          const Details &details)
{
    if (writesStopped() || holds(path) || folderSideFor(folderSide) != folderSide || image.isNull()
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
    if (writesStopped() || holds(path))
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
    if (holds(oldPath) || holds(newPath) || LexicalPaths::clean(oldPath) == LexicalPaths::clean(newPath))
        return false;
    bool carried = false;
    const QByteArray oldUri = uriOf(oldPath);
    // A move not wholly done leaves the source in place: its entries stay.
    struct stat still;
    const bool oldStays = ::lstat(FileNames::toNative(oldPath).constData(), &still) == 0;
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
        if (!oldStays)
            ::unlink(lg::FileNames::toNative(oldEntry).constData());
        carried = true;
    }
    return carried;
}

bool ThumbnailStore::remove(const QString &path)
{
    if (holds(path))
        return false;
    // Only what names the file: an entry of another URI (a collision of the
    // hash) or anything that is not a cache file stays.
    const QByteArray uri = uriOf(path);
    QStringList entries = {failurePath(path)};
    for (const int side : folderSides)
        entries.append(entryPath(path, side));
    bool removed = false;
    for (const QString &entry : std::as_const(entries)) {
        std::optional<QByteArray> bytes = readSmallFile(entry, readLimit(largestSide));
        if (!bytes || !bytes->startsWith(pngSignature))
            continue;
        QByteArray named = leadingTexts(*bytes).value("Thumb::URI");
        if (named.isEmpty()) {
            QBuffer buffer(&*bytes);
            buffer.open(QIODevice::ReadOnly);
            named = QImageReader(&buffer, "png").text(QStringLiteral("Thumb::URI")).toLatin1();
        }
        if (named == uri && ::unlink(lg::FileNames::toNative(entry).constData()) == 0)
            removed = true;
    }
    return removed;
}

namespace {

// Calls visit with prefix and the name of every entry of the folder open at
// dirFd that is neither a folder nor a link, and goes into each folder, by
// handle; takes dirFd over.
void visitFilesIn(int dirFd, const QString &prefix, const std::function<void(const QString &)> &visit, int depth)
{
    DIR *dir = ::fdopendir(dirFd);
    if (!dir) {
        ::close(dirFd);
        return;
    }
    while (const dirent *entry = ::readdir(dir)) {
        if (isShuttingDown())
            break;
        if (std::strcmp(entry->d_name, ".") == 0 || std::strcmp(entry->d_name, "..") == 0)
            continue;
        struct stat st{};
        if (::fstatat(::dirfd(dir), entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0 || S_ISLNK(st.st_mode))
            continue;
        const QString relative = prefix + FileNames::fromNative(QByteArray(entry->d_name));
        if (!S_ISDIR(st.st_mode)) {
            visit(relative);
        } else if (depth < 256) {
            const int child = ::openat(::dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (child >= 0)
                visitFilesIn(child, relative + QLatin1Char('/'), visit, depth + 1);
        }
    }
    ::closedir(dir);
}

} // namespace

void ThumbnailStore::forEachFileUnder(const QString &folder, const std::function<void(const QString &)> &visit)
{
    // Links are not followed: what a link leads to is not inside the folder.
    const int fd = ::open(FileNames::toNative(folder).constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd >= 0)
        visitFilesIn(fd, QString(), visit, 0);
}

void ThumbnailStore::setWriteFaultForTesting(WriteFault fault)
{
    QMutexLocker lock(&faultLock);
    writeFault() = std::move(fault);
}

} // namespace lg
