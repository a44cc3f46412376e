// The desktop's shared thumbnail cache: names, stamps, reading and writing entries.
#include "platform/image/ThumbnailStore.h"

#include "platform/base/LexicalPaths.h"
#include "platform/base/XdgDirectories.h"
#include "platform/files/names/FileNames.h"
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
#include <QRandomGenerator>

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
#include <utility>

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

// The key of a failure record's words: a program's own, as the cache allows.
constexpr const char *failureWordsKey = "X-LumenGallery::Failure";

// Words of a failure record, kept to what shows as one line of text.
QString failureWordsOf(const QString &text)
{
    QString words;
    for (const QChar c : text) {
        if (words.size() >= ThumbnailStore::failureWordsLimit)
            break;
        if (c.isPrint() && c.unicode() < 0x100)
            words += c;
        else if (c.isSpace() && !words.endsWith(QLatin1Char(' ')))
            words += QLatin1Char(' ');
    }
    return words.trimmed();
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

// The whole of the regular file name in the folder open at dirFd, of at most
// limit bytes, read without following a link; none for anything else.
std::optional<QByteArray> readSmallFileAt(int dirFd, const QByteArray &name, qint64 limit)
{
    if (dirFd < 0)
        return std::nullopt;
    const int fd = ::openat(dirFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0)
        return std::nullopt;
    struct stat st{};
    std::optional<QByteArray> bytes;
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size <= limit) {
        QByteArray read(qsizetype(st.st_size), Qt::Uninitialized);
        qsizetype done = 0;
        while (done < read.size()) {
            const ssize_t n = ::pread(fd, read.data() + done, size_t(read.size() - done), off_t(done));
            if (n < 0 && errno == EINTR)
                continue;
            if (n <= 0)
                break;
            done += n;
        }
        if (done == read.size())
            bytes = std::move(read);
    }
    ::close(fd);
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
// Takes dirFd over.
void removeStrayTemporariesIn(int dirFd)
{
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

// A file handle that closes itself.
class Handle
{
public:
    explicit Handle(int fd = -1) : m_fd(fd) {}
    ~Handle()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    Handle(Handle &&other) noexcept : m_fd(std::exchange(other.m_fd, -1)) {}
    Handle &operator=(Handle &&other) noexcept
    {
        std::swap(m_fd, other.m_fd);
        return *this;
    }
    int get() const { return m_fd; }
    bool isOpen() const { return m_fd >= 0; }
    int release() { return std::exchange(m_fd, -1); }

private:
    int m_fd;
};

// A folder (and the folders above it) made where missing, 0700, by its path.
bool makeFolders(const QByteArray &folder)
{
    struct stat st{};
    if (::stat(folder.constData(), &st) == 0) {
        if (S_ISDIR(st.st_mode))
            return true;
        errno = ENOTDIR;
        return false;
    }
    const qsizetype slash = folder.lastIndexOf('/');
    if (slash > 0 && !makeFolders(folder.left(slash)))
        return false;
    return ::mkdir(folder.constData(), 0700) == 0 || errno == EEXIST;
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

ThumbnailStore::Entry ThumbnailStore::entryOf(const QString &path, int folderSide)
{
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path), QCryptographicHash::Md5).toHex();
    return {QByteArray(folderName(folderSide)), md5 + ".png"};
}

ThumbnailStore::Entry ThumbnailStore::failureOf(const QString &path)
{
    const QByteArray md5 = QCryptographicHash::hash(uriOf(path), QCryptographicHash::Md5).toHex();
    return {QByteArrayLiteral("fail/" LG_APPLICATION_NAME "-" LG_VERSION_STRING), md5 + ".png"};
}

int ThumbnailStore::openRoot(bool create) const
{
    const QByteArray root = FileNames::toNative(m_root);
    if (create && !makeFolders(root))
        return -1;
    // The root is where the desktop's setting puts it, a link or not; below
    // it nothing is reached through a link.
    return ::open(root.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
}

int ThumbnailStore::openFolder(const QByteArray &relative, bool create) const
{
    Handle folder(openRoot(create));
    for (const QByteArray &name : relative.split('/')) {
        if (!folder.isOpen())
            return -1;
        if (create && ::mkdirat(folder.get(), name.constData(), 0700) != 0 && errno != EEXIST)
            return -1;
        folder = Handle(::openat(folder.get(), name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
    }
    return folder.release();
}

bool ThumbnailStore::holds(const QString &path) const
{
    const QString clean = LexicalPaths::clean(path);
    if (LexicalPaths::isInside(clean, m_root))
        return true;
    // Reached some other way (a link to the cache or to one of its folders, a
    // mount): known by the identity of a folder above the file. The cache's
    // folders and the file's are looked at every time: a link or a mount may
    // be put in the way, and a folder removed and another made in its place
    // (on the same inode) at any time.
    const QSet<QPair<quint64, quint64>> cacheFolders = folderIdentities();
    if (cacheFolders.isEmpty())
        return false;
    QString above = clean;
    bool ownFolder = true;
    do {
        above = above.left(std::max<qsizetype>(1, above.lastIndexOf(QLatin1Char('/'))));
        struct stat st{};
        if (::stat(FileNames::toNative(above).constData(), &st) != 0) {
            if (ownFolder)
                return false;  // nothing in it can be read
        } else if (cacheFolders.contains({quint64(st.st_dev), quint64(st.st_ino)})) {
            return true;
        }
        ownFolder = false;
    } while (above != QLatin1String("/"));
    return false;
}

QSet<QPair<quint64, quint64>> ThumbnailStore::folderIdentities() const
{
    // The root, its size folders, fail/ and the folder of each program in
    // it; a link in their place is none of them.
    QSet<QPair<quint64, quint64>> identities;
    const Handle root(openRoot(false));
    struct stat st{};
    if (!root.isOpen() || ::fstat(root.get(), &st) != 0)
        return identities;
    identities.insert({quint64(st.st_dev), quint64(st.st_ino)});
    for (const int side : folderSides) {
        if (::fstatat(root.get(), folderName(side), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
            identities.insert({quint64(st.st_dev), quint64(st.st_ino)});
    }
    const int fail = ::openat(root.get(), "fail", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fail < 0)
        return identities;
    DIR *dir = ::fdopendir(fail);
    if (!dir) {
        ::close(fail);
        return identities;
    }
    if (::fstat(fail, &st) == 0)
        identities.insert({quint64(st.st_dev), quint64(st.st_ino)});
    while (const dirent *entry = ::readdir(dir)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0
            && ::fstatat(fail, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode))
            identities.insert({quint64(st.st_dev), quint64(st.st_ino)});
    }
    ::closedir(dir);
    return identities;
}

std::optional<QByteArray> ThumbnailStore::readFile(const Entry &entry, qint64 limit) const
{
    const Handle folder(openFolder(entry.folder, false));
    return readSmallFileAt(folder.get(), entry.name, limit);
}

std::optional<QImage> ThumbnailStore::readEntry(const Entry &entry, const QByteArray &uri, const FileStamp &stamp,
                                                int side) const
{
    std::optional<QByteArray> bytes = readFile(entry, readLimit(side));
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
        if (std::optional<QImage> image = readEntry(entryOf(path, folder), uri, stamp, folder))
            return image;
    }
    return std::nullopt;
}

bool ThumbnailStore::hasFailed(const QString &path, const FileStamp &stamp) const
{
    return failure(path, stamp).has_value();
}

std::optional<QString> ThumbnailStore::failure(const QString &path, const FileStamp &stamp) const
{
    if (holds(path))
        return std::nullopt;
    const std::optional<QImage> record = readEntry(failureOf(path), uriOf(path), stamp, 128);
    if (!record)
        return std::nullopt;
    return failureWordsOf(record->text(QLatin1String(failureWordsKey)));
}

void ThumbnailStore::sweepOnce(const QByteArray &folder, int folderFd)
{
    {
        QMutexLocker lock(&m_sweptLock);
        if (m_swept.contains(folder))
            return;
        m_swept.insert(folder);
    }
    removeStrayTemporariesIn(folderFd >= 0 ? ::dup(folderFd) : openFolder(folder, false));
}

void ThumbnailStore::removeStrayTemporaries()
{
    for (const int side : folderSides)
        sweepOnce(folderName(side), -1);
    sweepOnce(failureOf(QStringLiteral("/")).folder, -1);
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
    return msUntilWritesResume() > 0;
}

qint64 ThumbnailStore::msUntilWritesResume() const
{
    const qint64 stoppedAt = m_writesStoppedAt.load();
    return stoppedAt < 0 ? 0 : std::max<qint64>(0, stoppedAt + writeRetryMs - now());
}

namespace {

// Writes png as name in the folder open at dirFd: into a temporary beside it,
// unique and locked while it is written (a sweep passes over it meanwhile),
// renamed over the name. Returns 0 or the errno of the step that failed.
int writeBeside(int dirFd, const QByteArray &name, const QByteArray &png)
{
    static const char letters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
    QByteArray temporary;
    int fd = -1;
    for (int attempt = 0; fd < 0 && attempt < 100; ++attempt) {
        temporary = name + temporaryInfix;
        for (int i = 0; i < 6; ++i)
            temporary.append(letters[QRandomGenerator::global()->bounded(int(sizeof(letters) - 1))]);
        fd = ::openat(dirFd, temporary.constData(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0 && errno != EEXIST)
            return errno;
    }
    if (fd < 0)
        return EEXIST;
    int error = 0;
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
    if (error == 0 && ::renameat(dirFd, temporary.constData(), dirFd, name.constData()) != 0)
        error = errno;
    if (error != 0)
        ::unlinkat(dirFd, temporary.constData(), 0);
    if (::close(fd) != 0 && error == 0)
        error = errno;
    return error;
}

bool pausesWrites(int error)
{
    return error == ENOSPC || error == EDQUOT || error == EROFS;
}

} // namespace

int ThumbnailStore::writeEntry(const Entry &entry, const QByteArray &png)
{
    if (png.isEmpty())
        return EINVAL;
    int error = injectedFault(m_root + QLatin1Char('/') + QString::fromLatin1(entry.folder + '/' + entry.name));
    if (error != 0)
        return error;
    // Every folder from the root's handle, none through a link: a link in
    // the place of one of the cache's folders fails the write.
    errno = 0;
    const Handle folder(openFolder(entry.folder, true));
    if (!folder.isOpen())
        return errno != 0 ? errno : EIO;
    sweepOnce(entry.folder, folder.get());
    return writeBeside(folder.get(), entry.name, png);
}

bool ThumbnailStore::commit(Waiting waiting)
{
    if (writesStopped()) {
        keep(std::move(waiting));
        return false;
    }
    const int error = writeEntry(waiting.entry, waiting.png);
    // A full or read-only cache takes the writes of the next while with it
    // (they wait, see writeWaiting); any other failure (something planted at
    // the entry's name, a folder that cannot be made) costs only this entry.
    if (pausesWrites(error)) {
        m_writesStoppedAt.store(std::max<qint64>(0, now()));
        keep(std::move(waiting));
    }
    return error == 0;
}

void ThumbnailStore::keep(Waiting waiting)
{
    QMutexLocker lock(&m_waitingLock);
    for (qsizetype i = 0; i < m_waiting.size(); ++i) {
        if (m_waiting.at(i).entry == waiting.entry) {
            m_waitingBytes -= m_waiting.at(i).png.size();
            m_waiting.removeAt(i);
            break;
        }
    }
    // What is past the bound is made again by a later run.
    if (m_waitingBytes + waiting.png.size() > waitingLimitBytes)
        return;
    m_waitingBytes += waiting.png.size();
    m_waiting.append(std::move(waiting));
}

bool ThumbnailStore::hasWaiting() const
{
    QMutexLocker lock(&m_waitingLock);
    return !m_waiting.isEmpty();
}

bool ThumbnailStore::waitingFull() const
{
    QMutexLocker lock(&m_waitingLock);
    return m_waitingBytes >= waitingLimitBytes;
}

int ThumbnailStore::writeWaiting()
{
    int written = 0;
    while (!writesStopped() && !isShuttingDown()) {
        Waiting waiting;
        {
            QMutexLocker lock(&m_waitingLock);
            if (m_waiting.isEmpty())
                break;
            waiting = m_waiting.takeFirst();
            m_waitingBytes -= waiting.png.size();
        }
        // Only for the file as it was made: one changed or gone meanwhile
        // gets its entry when it is shown again.
        const std::optional<FileStamp> stamp = FileStamp::of(waiting.path);
        if (!stamp || stamp->modified != waiting.stamp.modified || stamp->size != waiting.stamp.size
            || holds(waiting.path))
            continue;
        if (commit(std::move(waiting)))
            ++written;
    }
    return written;
}

bool ThumbnailStore::save(const QString &path, const FileStamp &stamp, int folderSide, const QImage &image,
                          const Details &details)
{
    if (holds(path) || folderSideFor(folderSide) != folderSide || image.isNull() || image.width() > folderSide
        || image.height() > folderSide || (writesStopped() && waitingFull()))
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
    return commit({path, stamp, entryOf(path, folderSide), encodePng(image, texts)});
}

bool ThumbnailStore::saveFailure(const QString &path, const FileStamp &stamp, const QString &why)
{
    if (holds(path) || (writesStopped() && waitingFull()))
        return false;
    QImage mark(1, 1, QImage::Format_ARGB32);
    mark.fill(Qt::transparent);
    QList<QPair<QByteArray, QByteArray>> texts = {
        {"Thumb::URI", uriOf(path)},
        {"Thumb::MTime", QByteArray::number(stamp.modified)},
    };
    if (stamp.size >= 0)
        texts.append({"Thumb::Size", QByteArray::number(stamp.size)});
    if (const QString words = failureWordsOf(why); !words.isEmpty())
        texts.append({failureWordsKey, words.toLatin1()});
    texts.append(qMakePair(QByteArray("Software"), QByteArray(LG_DISPLAY_NAME)));
    return commit({path, stamp, failureOf(path), encodePng(mark, texts)});
}

bool ThumbnailStore::removeEntry(const Entry &entry)
{
    const Handle folder(openFolder(entry.folder, false));
    return folder.isOpen() && ::unlinkat(folder.get(), entry.name.constData(), 0) == 0;
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
        const Entry oldEntry = entryOf(oldPath, folder);
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
            removeEntry(oldEntry);
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
    QList<Entry> entries = {failureOf(path)};
    for (const int side : folderSides)
        entries.append(entryOf(path, side));
    bool removed = false;
    for (const Entry &entry : std::as_const(entries)) {
        std::optional<QByteArray> bytes = readFile(entry, readLimit(largestSide));
        if (!bytes || !bytes->startsWith(pngSignature))
            continue;
        QByteArray named = leadingTexts(*bytes).value("Thumb::URI");
        if (named.isEmpty()) {
            QBuffer buffer(&*bytes);
            buffer.open(QIODevice::ReadOnly);
            named = QImageReader(&buffer, "png").text(QStringLiteral("Thumb::URI")).toLatin1();
        }
        if (named == uri && removeEntry(entry))
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
