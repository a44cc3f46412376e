#include "platform/Temporaries.h"

#include "platform/FileOperations.h"
#include "platform/Removal.h"

#include <QFile>
#include <QRandomGenerator>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <mutex>
#include <optional>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lg {

namespace {

QByteArray enc(const QString &path) { return QFile::encodeName(path); }
QString decoded(const QByteArray &path) { return QFile::decodeName(path); }

QByteArray joinRaw(const QByteArray &folder, const QByteArray &name)
{
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

QByteArray folderOf(const QByteArray &path)
{
    const qsizetype slash = path.lastIndexOf('/');
    return slash < 0 ? QByteArray(".") : slash == 0 ? QByteArray("/") : path.left(slash);
}

constexpr char lockPrefix[] = ".lglock-";
constexpr char recordHeader[] = "[Lumen Gallery temporary]";
constexpr int tokenLength = 16;
constexpr int maxRecordBytes = 4096;

const char *kindTag(TemporaryKind kind)
{
    switch (kind) {
    case TemporaryKind::Copy: return "copy";
    case TemporaryKind::Write: return "write";
    case TemporaryKind::SetAside: return "old";
    }
    return "copy";
}

std::optional<TemporaryKind> kindOfTag(const QByteArray &tag)
{
    for (TemporaryKind kind : {TemporaryKind::Copy, TemporaryKind::Write, TemporaryKind::SetAside})
        if (tag == kindTag(kind))
            return kind;
    return std::nullopt;
}

// Exactly 16 lower-case hex digits, as claim() makes them.
bool isToken(const QByteArray &token)
{
    return token.size() == tokenLength
           && std::all_of(token.cbegin(), token.cend(), [](char c) { return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'); });
}

// One name a folder can hold: not empty, ".", "..", nor longer than a name
// may be; no '/', NUL or other control byte.
bool isOneName(const QByteArray &name)
{
    return !name.isEmpty() && name.size() <= 255 && name != "." && name != ".."
           && std::none_of(name.cbegin(), name.cend(), [](char c) { return c == '/' || uchar(c) < 0x20 || uchar(c) == 0x7f; });
}

// What a lock file says, when it is one of ours.
struct LockRecord
{
    TemporaryKind kind = TemporaryKind::Copy;
    QByteArray name;        // the target's whole name
    QByteArray temporary;   // the temporary's name
};

QByteArray recordText(TemporaryKind kind, const QByteArray &name, const QByteArray &temporary)
{
    return QByteArray(recordHeader) + "\nKind=" + kindTag(kind) + "\nName=" + name.toPercentEncoding()
           + "\nTemporary=" + temporary.toPercentEncoding() + "\n";
}

// The hidden name of a temporary: "." + name, cut at a character to fit 255
// bytes, + ".lg<tag>-<token>".
QByteArray temporaryName(const QByteArray &name, TemporaryKind kind, const QByteArray &token)
{
    const QByteArray suffix = QByteArray(".lg") + kindTag(kind) + '-' + token;
    QByteArray stem = name.left(255 - 1 - suffix.size());
    if (stem.size() < name.size())
        while (!stem.isEmpty() && (uchar(name.at(stem.size())) & 0xC0) == 0x80)
            stem.chop(1);   // never cut inside a UTF-8 character
    return '.' + stem + suffix;
}

// The record of the lock file named for token, when text is byte for byte what
// this program writes there: four lines, a kind it writes, one valid name, and
// the temporary made from that kind, name and token. Anything else is not ours.
std::optional<LockRecord> parseRecord(const QByteArray &text, const QByteArray &token)
{
    if (!isToken(token))
        return std::nullopt;
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 5 || !lines.at(1).startsWith("Kind=") || !lines.at(2).startsWith("Name="))
        return std::nullopt;
    const std::optional<TemporaryKind> kind = kindOfTag(lines.at(1).mid(5));
    const QByteArray name = QByteArray::fromPercentEncoding(lines.at(2).mid(5));
    if (!kind || !isOneName(name))
        return std::nullopt;
    LockRecord record{*kind, name, temporaryName(name, *kind, token)};
    if (text != recordText(record.kind, record.name, record.temporary))
        return std::nullopt;
    return record;
}

// rename() within one folder that never replaces; a check and rename where the
// file system lacks RENAME_NOREPLACE.
int renameNoReplaceAt(int folderFd, const QByteArray &from, const QByteArray &to)
{
    if (::renameat2(folderFd, from.constData(), folderFd, to.constData(), RENAME_NOREPLACE) == 0)
        return 0;
    const int err = errno;
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    struct stat st;
    if (::fstatat(folderFd, to.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        return EEXIST;
    return ::renameat(folderFd, from.constData(), folderFd, to.constData()) == 0 ? 0 : errno;
}

// Puts an item that was set aside back under its own name, else under the next
// free numbered name; false (and it stays where it is) when neither can be done.
bool putBack(int folderFd, const QByteArray &folder, const QByteArray &temporary, const QByteArray &name)
{
    if (injectedFileFault(FileStep::Rename, decoded(joinRaw(folder, temporary))) != 0)
        return false;
    int err = renameNoReplaceAt(folderFd, temporary, name);
    if (err != EEXIST)
        return err == 0;
    struct stat st;
    NameNumbering numbering;
    numbering.isFolder = ::fstatat(folderFd, temporary.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0 && S_ISDIR(st.st_mode);
    numbering.tryPlainNameFirst = false;
    FreeNameFinder names(decoded(folder));
    for (int attempt = 0; attempt < 1000 && err == EEXIST; ++attempt)
        err = renameNoReplaceAt(folderFd, temporary, enc(names.take(decoded(name), numbering)));
    return err == 0;
}

// Result of looking at one lock file.
enum class LockState { Held, Done, Kept };

LockState cleanOne(int folderFd, const QByteArray &folder, const QByteArray &lockName, uid_t user)
{
    const QByteArray token = lockName.mid(qsizetype(std::strlen(lockPrefix)));
    if (!isToken(token))
        return LockState::Kept;
    // Looked at before it is opened: another user's lock, or anything but a
    // plain file, is never opened, let alone locked.
    struct stat named, opened;
    if (::fstatat(folderFd, lockName.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0 || !S_ISREG(named.st_mode)
        || named.st_uid != user)
        return LockState::Kept;
    const int fd = ::openat(folderFd, lockName.constData(), O_RDWR | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return LockState::Kept;
    const auto finish = [fd](LockState state) {
        ::close(fd);
        return state;
    };
    if (::fstat(fd, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)
        return finish(LockState::Kept);
    if (::flock(fd, LOCK_EX | LOCK_NB) != 0)
        return finish(errno == EWOULDBLOCK ? LockState::Held : LockState::Kept);
    // Still the file under that name, now that its maker has let go of it.
    if (::fstat(fd, &opened) != 0 || ::fstatat(folderFd, lockName.constData(), &named, AT_SYMLINK_NOFOLLOW) != 0
        || named.st_dev != opened.st_dev || named.st_ino != opened.st_ino || opened.st_size > maxRecordBytes)
        return finish(LockState::Kept);
    QByteArray text(qsizetype(opened.st_size), '\0');
    if (::pread(fd, text.data(), size_t(text.size()), 0) != text.size())
        return finish(LockState::Kept);
    const std::optional<LockRecord> record = parseRecord(text, token);
    if (!record)
        return finish(LockState::Kept);   // not written by us, or not yet
    struct stat st;
    const bool there = ::fstatat(folderFd, record->temporary.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0;
    bool gone = !there && errno == ENOENT;
    if (there && st.st_uid == user) {   // another user's temporary is never touched
        if (record->kind == TemporaryKind::SetAside) {
            gone = putBack(folderFd, folder, record->temporary, record->name);
        } else {
            QByteArray failedAt;
            gone = removeEntryAt(folderFd, folder, record->temporary, &failedAt, user) == 0;
        }
    }
    if (gone)
        ::unlinkat(folderFd, lockName.constData(), 0);
    return finish(gone ? LockState::Done : LockState::Kept);
}

// What killed processes left in folder: see the header. A folder is looked at
// once per process, and again while a lock in it was held.
std::mutex g_cleanedMutex;
QSet<QByteArray> g_cleaned;

void cleanLeftovers(const QByteArray &folder)
{
    {
        std::lock_guard<std::mutex> lock(g_cleanedMutex);
        if (g_cleaned.contains(folder))
            return;
    }
    const int folderFd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderFd < 0)
        return;
    std::vector<QByteArray> names;
    int err = 0;
    bool held = false;
    if (listFolderAt(folderFd, &names, &err)) {
        const uid_t user = fileSystemUser();
        for (const QByteArray &name : names)
            if (name.startsWith(lockPrefix))
                held = cleanOne(folderFd, folder, name, user) == LockState::Held || held;
    }
    ::close(folderFd);
    if (!held) {
        std::lock_guard<std::mutex> lock(g_cleanedMutex);
        g_cleaned.insert(folder);
    }
}

} // namespace

TemporaryOwner::TemporaryOwner(TemporaryOwner &&other) noexcept { *this = std::move(other); }

TemporaryOwner &TemporaryOwner::operator=(TemporaryOwner &&other) noexcept
{
    if (this != &other) {
        release();
        m_lockFd = std::exchange(other.m_lockFd, -1);
        m_lockPath = std::move(other.m_lockPath);
        m_temporary = std::move(other.m_temporary);
        m_targetName = std::move(other.m_targetName);
        m_kind = other.m_kind;
    }
    return *this;
}

TemporaryOwner::~TemporaryOwner() { release(); }

void TemporaryOwner::release()
{
    if (m_lockFd < 0)
        return;
    struct stat st;
    if (::lstat(m_temporary.constData(), &st) != 0 && errno == ENOENT) {
        ::unlink(m_lockPath.constData());
    } else {
        // Something is left: the folder is looked at again by the next cleanup.
        std::lock_guard<std::mutex> lock(g_cleanedMutex);
        g_cleaned.remove(folderOf(m_lockPath));
    }
    ::close(m_lockFd);
    m_lockFd = -1;
}

QString TemporaryOwner::path() const { return decoded(m_temporary); }

bool TemporaryOwner::writeRecord()
{
    const QByteArray text = recordText(m_kind, m_targetName, m_temporary.mid(m_temporary.lastIndexOf('/') + 1));
    return ::ftruncate(m_lockFd, 0) == 0
           && ::pwrite(m_lockFd, text.constData(), size_t(text.size()), 0) == text.size();
}

bool TemporaryOwner::setKind(TemporaryKind kind)
{
    if (m_lockFd < 0)
        return false;
    m_kind = kind;
    return writeRecord();
}

TemporaryOwner TemporaryOwner::claim(const QString &target, TemporaryKind kind, int *error)
{
    QString targetPath = target;
    while (targetPath.size() > 1 && targetPath.endsWith(QLatin1Char('/')))
        targetPath.chop(1);
    const QByteArray rawTarget = enc(targetPath);
    const QByteArray folder = folderOf(rawTarget);
    cleanLeftovers(folder);
    TemporaryOwner owner;
    owner.m_kind = kind;
    owner.m_targetName = rawTarget.mid(rawTarget.lastIndexOf('/') + 1);
    int err = EEXIST;
    for (int attempt = 0; attempt < 100 && err == EEXIST; ++attempt) {
        const QByteArray token = QByteArray::number(QRandomGenerator::system()->generate64(), 16)
                                     .rightJustified(tokenLength, '0');
        const QByteArray lockPath = joinRaw(folder, lockPrefix + token);
        const int fd = ::open(lockPath.constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
        if (fd < 0) {
            err = errno;
            continue;
        }
        // Locked before anything is written: a record is only ever read under the lock.
        if (::flock(fd, LOCK_EX) != 0) {
            err = errno;
            ::unlink(lockPath.constData());
            ::close(fd);
            break;
        }
        owner.m_lockFd = fd;
        owner.m_lockPath = lockPath;
        owner.m_temporary = joinRaw(folder, temporaryName(owner.m_targetName, kind, token));
        struct stat st;
        const bool stray = ::lstat(owner.m_temporary.constData(), &st) == 0;   // that very name: not ours
        errno = 0;
        if (!stray && owner.writeRecord())
            return owner;
        err = stray ? EEXIST : (errno ? errno : EIO);
        ::unlink(lockPath.constData());
        ::close(fd);
        owner.m_lockFd = -1;
    }
    if (error)
        *error = err;
    return {};
}

TemporaryFile createTemporaryFile(const QString &target, TemporaryKind kind)
{
    TemporaryFile file;
    file.owner = TemporaryOwner::claim(target, kind, &file.error);
    if (!file.owner.isValid())
        return file;
    file.path = file.owner.path();
    file.fd = ::open(enc(file.path).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (file.fd < 0)
        file.error = errno;
    return file;
}

} // namespace lg
