// Notes of moves across disks stopped in their delete step, kept in the journal's folder and told once at the next start.
#include "platform/files/StoppedMoves.h"
#include "platform/files/TemporariesShared.h"

#include "platform/files/FileIdentity.h"
#include "platform/files/Removal.h"

#include <algorithm>
#include <optional>
#include <cstring>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace lg {

using namespace temporaries;


namespace {

constexpr char moveHeader[] = "[Lumen Gallery move]";
constexpr char movePrefix[] = "move-";

// before: the inode of what stood at the target when the move began, or
// empty (the inode alone: the disk may come back under another device number).
QByteArray moveText(const QByteArray &source, const QByteArray &target, const QByteArray &before)
{
    QByteArray text = QByteArray(moveHeader) + "\nSource=" + source.toPercentEncoding("/") + "\nTarget="
                      + target.toPercentEncoding("/") + "\n";
    if (!before.isEmpty())
        text += "Before=" + before + "\n";
    return text;
}

QByteArray objectOf(const FileIdentity &id) { return QByteArray::number(id.inode); }

// The items of a stopped move are in both places now: the source is there,
// and at the target stands something other than what stood there before.
bool isInBothPlaces(const QString &source, const QString &target, const QByteArray &before)
{
    const std::optional<FileIdentity> there = fileIdentity(target);
    return fileIdentity(source) && there && (before.isEmpty() || objectOf(*there) != before);
}

} // namespace

MoveDeletion::MoveDeletion(const QString &source, const QString &target)
{
    const int dirFd = openJournalFolder(true);
    if (dirFd < 0)
        return;   // best effort: the move goes on without its note
    const std::optional<FileIdentity> before = fileIdentity(target);
    const QByteArray text = moveText(enc(source), enc(target), before ? objectOf(*before) : QByteArray());
    const QByteArray name = movePrefix + newToken();
    const QByteArray making = '.' + name + ".new";
    const int fd = ::openat(dirFd, making.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size()
        && ::fsync(fd) == 0 && ::renameat(dirFd, making.constData(), dirFd, name.constData()) == 0) {
        m_fd = fd;
        m_name = name;
    } else if (fd >= 0) {
        ::unlinkat(dirFd, making.constData(), 0);
        ::close(fd);
    }
    ::close(dirFd);
}

MoveDeletion::~MoveDeletion() { finish(); }

void MoveDeletion::finish()
{
    if (m_fd < 0)
        return;
    if (const int dirFd = openJournalFolder(false); dirFd >= 0) {
        ::unlinkat(dirFd, m_name.constData(), 0);
        ::close(dirFd);
    }
    ::close(m_fd);
    m_fd = -1;
}

void MoveDeletion::keep()
{
    if (m_fd >= 0)
        ::close(m_fd);   // a dead process's note from now on
    m_fd = -1;
}

QList<StoppedMove> takeStoppedMoves()
{
    QList<StoppedMove> moves;
    const int dirFd = openJournalFolder(false);
    if (dirFd < 0)
        return moves;
    std::vector<QByteArray> names;
    int err = 0;
    const uid_t user = fileSystemUser();
    if (listFolderAt(dirFd, &names, &err)) {
        std::sort(names.begin(), names.end());
        for (const QByteArray &name : names) {
            if (!name.startsWith(movePrefix) || !isToken(name.mid(qsizetype(std::strlen(movePrefix)))))
                continue;
            QByteArray text;
            const int fd = openDeadEntry(dirFd, name, O_RDONLY, user, &text);   // not while its move runs
            if (fd < 0)
                continue;
            const QList<QByteArray> lines = text.split('\n');
            if ((lines.size() == 4 || lines.size() == 5) && lines.at(0) == moveHeader
                && lines.at(1).startsWith("Source=") && lines.at(2).startsWith("Target=")
                && (lines.size() == 4 || lines.at(3).startsWith("Before="))) {
                const QByteArray source = QByteArray::fromPercentEncoding(lines.at(1).mid(7));
                const QByteArray target = QByteArray::fromPercentEncoding(lines.at(2).mid(7));
                const QByteArray before = lines.size() == 5 ? lines.at(3).mid(7) : QByteArray();
                if (source.startsWith('/') && target.startsWith('/')
                    && (before.isEmpty() || isNumberList(before, 1))
                    && text == moveText(source, target, before)
                    && isInBothPlaces(decoded(source), decoded(target), before))
                    moves.append({decoded(source), decoded(target)});
            }
            ::unlinkat(dirFd, name.constData(), 0);   // told once; a damaged note names nothing
            ::close(fd);
        }
    }
    ::close(dirFd);
    return moves;
}


} // namespace lg
