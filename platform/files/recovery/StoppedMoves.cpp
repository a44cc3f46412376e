// Notes of moves across disks stopped in their delete step, kept in the journal's folder and told once at the next start.
#include "platform/files/recovery/StoppedMoves.h"
#include "platform/files/recovery/JournalShared.h"
#include "platform/files/recovery/TemporariesShared.h"

#include "platform/files/names/FileIdentity.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/recovery/FileFaults.h"
#include "platform/files/recovery/FolderRecords.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/runtime/Dispatch.h"

#include <QDateTime>
#include <QPointer>

#include <algorithm>
#include <optional>
#include <cerrno>
#include <climits>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <mutex>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#ifndef STATX_ATTR_MOUNT_ROOT
#define STATX_ATTR_MOUNT_ROOT 0x00002000
#endif

namespace lg {

using namespace temporaries;


namespace {

constexpr char moveHeader[] = "[Lumen Gallery move]";
constexpr char movePrefix[] = "move-";
constexpr qint64 awayDays = 30;   // a note whose disk has been away this long goes
constexpr int maxFolderDepth = 256;   // deeper than this, a folder counts as holding an item

// What a note says: the source and the target; before, the inode of what
// stood at the target when the move began, or empty (the inode alone: the
// disk may come back under another device number); and the disks of the two
// (see diskFieldOf), empty in notes of older versions.
struct MoveNote
{
    QByteArray source, target, before, sourceDisk, targetDisk;
    bool placed = false;     // its copy had been put in place ("Step=placed")
    bool removing = false;   // its delete step had begun ("Step=removing")
};
constexpr char placedStep[] = "Step=placed";
constexpr char removingStep[] = "Step=removing";

QByteArray moveText(const MoveNote &note)
{
    QByteArray text = QByteArray(moveHeader) + "\nSource=" + note.source.toPercentEncoding("/") + "\nTarget="
                      + note.target.toPercentEncoding("/") + "\n";
    if (!note.before.isEmpty())
        text += "Before=" + note.before + "\n";
    if (!note.sourceDisk.isEmpty())
        text += "SourceDisk=" + note.sourceDisk + "\n";
    if (!note.targetDisk.isEmpty())
        text += "TargetDisk=" + note.targetDisk + "\n";
    if (note.placed)
        text += QByteArray(placedStep) + "\n";
    if (note.removing)
        text += QByteArray(removingStep) + "\n";
    return text;
}

// The note, when text is byte for byte what MoveDeletion writes.
std::optional<MoveNote> parseMoveNote(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() < 4 || lines.size() > 8 || lines.at(0) != moveHeader || !lines.at(1).startsWith("Source=")
        || !lines.at(2).startsWith("Target="))
        return std::nullopt;
    MoveNote note;
    note.source = QByteArray::fromPercentEncoding(lines.at(1).mid(7));
    note.target = QByteArray::fromPercentEncoding(lines.at(2).mid(7));
    for (qsizetype i = 3; i + 1 < lines.size(); ++i) {
        const QByteArray &line = lines.at(i);
        if (note.placed || note.removing)
            return std::nullopt;   // the step comes last, alone
        if (line == placedStep)
            note.placed = true;
        else if (line == removingStep)
            note.removing = true;
        else if (line.startsWith("Before=") && note.sourceDisk.isEmpty() && note.targetDisk.isEmpty())
            note.before = line.mid(7);
        else if (line.startsWith("SourceDisk=") && note.targetDisk.isEmpty())
            note.sourceDisk = line.mid(11);
        else if (line.startsWith("TargetDisk="))
            note.targetDisk = line.mid(11);
        else
            return std::nullopt;
    }
    if (!note.source.startsWith('/') || !note.target.startsWith('/')
        || (!note.before.isEmpty() && !isNumberList(note.before, 1))
        || (!note.sourceDisk.isEmpty() && !isDiskField(note.sourceDisk))
        || (!note.targetDisk.isEmpty() && !isDiskField(note.targetDisk)) || text != moveText(note))
        return std::nullopt;
    return note;
}

QByteArray objectOf(const FileIdentity &id) { return QByteArray::number(id.inode); }

// The folder name in parentFd is the top of a mount (a bind mount of the same
// disk too, where the kernel can tell).
bool isMountTopAt(int parentFd, const QByteArray &name)
{
    struct statx sx;
    return ::statx(parentFd, name.constData(), AT_SYMLINK_NOFOLLOW | AT_NO_AUTOMOUNT, STATX_TYPE, &sx) == 0
           && (sx.stx_attributes_mask & STATX_ATTR_MOUNT_ROOT) && (sx.stx_attributes & STATX_ATTR_MOUNT_ROOT);
}

// The folder name in parentFd (examined as st) holds something other than
// folders: a file, a link, another disk mounted inside, or what cannot be
// read. Walks by handle, never following a link.
bool holdsAnItemAt(int parentFd, const QByteArray &name, const struct stat &st, int depth)
{
    if (!S_ISDIR(st.st_mode) || (depth > 0 && isMountTopAt(parentFd, name)))
        return true;
    if (depth >= maxFolderDepth)
        return true;
    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return true;
    struct stat opened;
    std::vector<QByteArray> names;
    int err = 0;
    bool holds = ::fstat(fd, &opened) != 0 || opened.st_dev != st.st_dev || opened.st_ino != st.st_ino
                 || !listFolderAt(fd, &names, &err);
    for (const QByteArray &child : names) {
        struct stat childStat;
        if (holds)
            break;
        holds = ::fstatat(fd, child.constData(), &childStat, AT_SYMLINK_NOFOLLOW) != 0
                || childStat.st_dev != st.st_dev || holdsAnItemAt(fd, child, childStat, depth + 1);
    }
    ::close(fd);
    return holds;
}

// Removes the folder name in parentFd and the folders in it, each only while
// it is empty and on the disk of the folder above it (device dev).
void removeEmptyFoldersAt(int parentFd, const QByteArray &name, dev_t dev, int depth)
{
    struct stat st;
    if (depth >= maxFolderDepth || ::fstatat(parentFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0
        || !S_ISDIR(st.st_mode) || st.st_dev != dev || isMountTopAt(parentFd, name))
        return;
    const int fd = ::openat(parentFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (fd < 0)
        return;
    struct stat opened;
    std::vector<QByteArray> names;
    int err = 0;
    if (::fstat(fd, &opened) == 0 && opened.st_dev == st.st_dev && opened.st_ino == st.st_ino
        && listFolderAt(fd, &names, &err)) {
        for (const QByteArray &child : names)
            removeEmptyFoldersAt(fd, child, dev, depth + 1);
    }
    ::close(fd);
    ::unlinkat(parentFd, name.constData(), AT_REMOVEDIR);   // only while empty
}

// What a stopped move whose source is at source now left there.
enum class SourceNow { Gone, HoldsAnItem, OnlyEmptyFolders };

SourceNow sourceNow(const QByteArray &source)
{
    QByteArray path = source;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const QByteArray name = path.mid(path.lastIndexOf('/') + 1);
    const int parentFd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd < 0)
        return errno == ENOENT ? SourceNow::Gone : SourceNow::HoldsAnItem;
    struct stat examined;
    SourceNow now = SourceNow::Gone;
    if (::fstatat(parentFd, name.constData(), &examined, AT_SYMLINK_NOFOLLOW) == 0)
        now = holdsAnItemAt(parentFd, name, examined, 0) ? SourceNow::HoldsAnItem : SourceNow::OnlyEmptyFolders;
    else if (errno != ENOENT)
        now = SourceNow::HoldsAnItem;
    ::close(parentFd);
    return now;
}

// A stopped move whose source (now at source) held only empty folders: they
// go. False when the source holds an item after all.
bool finishEmptiedMove(const QByteArray &source, bool *emptyFolderLeft)
{
    QByteArray path = source;
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    const int parentFd = ::open(folderOf(path).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (parentFd >= 0) {
        struct stat parent;
        if (::fstat(parentFd, &parent) == 0)
            removeEmptyFoldersAt(parentFd, path.mid(path.lastIndexOf('/') + 1), parent.st_dev, 0);
        ::close(parentFd);
    }
    // Whatever arrived meanwhile stays, and is told.
    const SourceNow now = sourceNow(path);
    *emptyFolderLeft = now == SourceNow::OnlyEmptyFolders;
    return now != SourceNow::HoldsAnItem;
}

// How what is still at a source compares with the copy at its target.
enum class Comparison { Same, Differs, Stopped };

// The bytes of the files open as a and b (both of size) are the same.
Comparison sameBytes(int a, int b, qint64 size)
{
    constexpr qint64 chunk = 1 << 16;
    std::vector<char> left(size_t(std::min(size, chunk))), right(left.size());
    for (qint64 at = 0; at < size;) {
        if (isShuttingDown())
            return Comparison::Stopped;
        const size_t want = size_t(std::min(chunk, size - at));
        if (::pread(a, left.data(), want, at) != ssize_t(want) || ::pread(b, right.data(), want, at) != ssize_t(want)
            || std::memcmp(left.data(), right.data(), want) != 0)
            return Comparison::Differs;
        at += qint64(want);
    }
    return Comparison::Same;
}

// The entry name of the folder open as fromFd (examined as st) has its like at
// toName in the folder open as toFd: a folder holding the like of all it
// holds, a file of the same size and bytes, a link to the same place. What the
// target holds beyond (what was removed from the source already) does not
// count. Walks by handle, never following a link.
Comparison compareAt(int fromFd, const QByteArray &name, int toFd, const QByteArray &toName, const struct stat &st,
                     int depth)
{
    if (isShuttingDown())
        return Comparison::Stopped;
    struct stat there;
    if (depth >= maxFolderDepth || ::fstatat(toFd, toName.constData(), &there, AT_SYMLINK_NOFOLLOW) != 0
        || (st.st_mode & S_IFMT) != (there.st_mode & S_IFMT))
        return Comparison::Differs;
    if (S_ISLNK(st.st_mode)) {
        char a[PATH_MAX], b[PATH_MAX];
        const ssize_t n = ::readlinkat(fromFd, name.constData(), a, sizeof a);
        const ssize_t m = ::readlinkat(toFd, toName.constData(), b, sizeof b);
        return n >= 0 && n == m && std::memcmp(a, b, size_t(n)) == 0 ? Comparison::Same : Comparison::Differs;
    }
    if (S_ISREG(st.st_mode)) {
        if (st.st_size != there.st_size)
            return Comparison::Differs;
        const int a = ::openat(fromFd, name.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        const int b = ::openat(toFd, toName.constData(), O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_NONBLOCK);
        const Comparison same = a >= 0 && b >= 0 ? sameBytes(a, b, qint64(st.st_size)) : Comparison::Differs;
        if (a >= 0)
            ::close(a);
        if (b >= 0)
            ::close(b);
        return same;
    }
    if (!S_ISDIR(st.st_mode))
        return Comparison::Same;   // a device or a pipe: its like is there
    const int from = ::openat(fromFd, name.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    const int to = ::openat(toFd, toName.constData(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    std::vector<QByteArray> names;
    int err = 0;
    Comparison result = from >= 0 && to >= 0 && listFolderAt(from, &names, &err) ? Comparison::Same : Comparison::Differs;
    for (const QByteArray &child : names) {
        struct stat childStat;
        if (result != Comparison::Same)
            break;
        result = ::fstatat(from, child.constData(), &childStat, AT_SYMLINK_NOFOLLOW) != 0
                     ? Comparison::Differs
                     : compareAt(from, child, to, child, childStat, depth + 1);
    }
    if (from >= 0)
        ::close(from);
    if (to >= 0)
        ::close(to);
    return result;
}

// What is still at source compared with the copy at target.
Comparison compareWithCopy(const QByteArray &source, const QByteArray &target)
{
    const QByteArray name = source.mid(source.lastIndexOf('/') + 1);
    const QByteArray targetName = target.mid(target.lastIndexOf('/') + 1);
    const int fromFd = ::open(folderOf(source).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    const int toFd = ::open(folderOf(target).constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    Comparison result = Comparison::Differs;
    struct stat st;
    if (fromFd >= 0 && toFd >= 0 && ::fstatat(fromFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
        result = compareAt(fromFd, name, toFd, targetName, st, 0);
    if (fromFd >= 0)
        ::close(fromFd);
    if (toFd >= 0)
        ::close(toFd);
    return result;
}

} // namespace

MoveDeletion::MoveDeletion(const QString &source, const QString &target)
{
    const int dirFd = openJournalFolder(true);
    if (dirFd < 0)
        return;   // best effort: the move goes on without its note
    const std::optional<FileIdentity> before = fileIdentity(target);
    MoveNote note;
    note.source = FileNames::toNative(source);
    note.target = FileNames::toNative(target);
    note.before = before ? objectOf(*before) : QByteArray();
    note.sourceDisk = diskFieldOf(folderOf(note.source));
    note.targetDisk = diskFieldOf(folderOf(note.target));
    const QByteArray text = moveText(note);
    m_text = text;
    const QByteArray name = movePrefix + newToken();
    const QByteArray making = '.' + name + ".new";
    // Written whole under another name and renamed into place, not synced: a
    // kill leaves it whole or not at all (the page cache outlives the process),
    // and it is in place before the copy can be. It is synced with the step
    // that comes before any original goes (removing, syncNotes); one that a
    // power loss undoes before then names a move that removed nothing yet.
    const int fd = ::openat(dirFd, making.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd >= 0 && ::flock(fd, LOCK_EX) == 0 && ::write(fd, text.constData(), size_t(text.size())) == text.size()
        && ::renameat(dirFd, making.constData(), dirFd, name.constData()) == 0) {
        m_fd = fd;
        m_name = name;
    } else if (fd >= 0) {
        ::unlinkat(dirFd, making.constData(), 0);
        ::close(fd);
    }
    ::close(dirFd);
}

MoveDeletion::~MoveDeletion() { finish(); }

bool MoveDeletion::placed() { return noteStep(placedStep); }

bool MoveDeletion::removing() { return noteStep(removingStep); }

bool MoveDeletion::noteStep(const char *step)
{
    if (m_fd < 0)
        return false;
    const int dirFd = openJournalFolder(false);
    if (dirFd < 0)
        return false;
    // A new note renamed over the old one: a kill meanwhile leaves one of the two, whole.
    const QByteArray text = m_text + step + '\n';
    const bool written = replaceRecordFile(dirFd, m_name, '.' + m_name + ".new", &m_fd, text, false);
    ::close(dirFd);
    return written;
}

void MoveDeletion::syncNotes()
{
    // The folder holds the notes' names; their few bytes were written before
    // they were renamed into place. A power loss that undoes some of them
    // leaves at worst moves in both places that the next start does not tell.
    if (injectedFileFault(FileStep::Sync, FileNames::fromNative(journalFolder())) != 0)
        return;
    if (const int dirFd = openJournalFolder(false); dirFd >= 0) {
        ::fsync(dirFd);
        ::close(dirFd);
    }
}

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

namespace {

// A note being written (".move-<token>.new") that a process killed before it
// was in place left: its move had not begun to copy, so it names nothing to
// tell. It goes once it is older than this process (a newer one may be a
// live writer's, between its open and its lock) and nobody holds it.
void removeHalfWrittenNote(int dirFd, const QByteArray &name, uid_t user)
{
    struct stat st;
    if (::fstatat(dirFd, name.constData(), &st, AT_SYMLINK_NOFOLLOW) != 0 || !isOlderThanThisProcess(st.st_mtim))
        return;
    QByteArray text;
    const int fd = openDeadEntry(dirFd, name, O_RDONLY, user, &text);
    if (fd < 0)
        return;
    ::unlinkat(dirFd, name.constData(), 0);
    ::close(fd);
}

// The move a note names, as it is to be told now; none when it is not to be
// told. *away says that the disk of its source or target is not mounted.
// path without the slashes it may end with.
QByteArray trimmed(QByteArray path)
{
    while (path.size() > 1 && path.endsWith('/'))
        path.chop(1);
    return path;
}

// path lies on a disk whose driver numbers its files afresh (a card), told
// by the nearest folder above it that is there.
bool isOnCard(QByteArray path)
{
    for (path = folderOf(path); path.startsWith('/'); path = folderOf(path)) {
        const int fd = ::open(path.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) {
            const bool onCard = numbersFilesPerMount(fd);
            ::close(fd);
            return onCard;
        }
        if (path == "/")
            break;
    }
    return false;
}

// *stopped says that the quit stopped the look (the note stays then).
std::optional<StoppedMove> moveToTell(const MoveNote &note, bool *away, bool *stopped)
{
    const std::optional<QByteArray> source = whereOnDiskNow(note.source, note.sourceDisk);
    const std::optional<QByteArray> target = whereOnDiskNow(note.target, note.targetDisk);
    *away = !source || !target;
    if (*away)
        return std::nullopt;
    // The copy stands at the target: something other than what stood there
    // before, and not the placeholder that was to hold its name.
    const std::optional<FileIdentity> there = fileIdentity(FileNames::fromNative(*target));
    if (!there || looksLikePlaceholder(*target)) {
        // On a card none stands where another card of the same volume (a copy
        // of it) is mounted in its place: the note waits for the card.
        *away = isOnCard(*target);
        return std::nullopt;
    }
    if (!note.before.isEmpty() && objectOf(*there) == note.before)
        return std::nullopt;
    StoppedMove move{FileNames::fromNative(*source), FileNames::fromNative(*target)};
    move.removalBegun = note.removing;
    // On a card no number tells one item from another: what stands at the
    // target is taken for the copy only where the note says the copy was put
    // there. Else it may be an item put there since, while the note waited
    // for its card, and no original was removed yet: told as what it is only
    // while the source still holds an item, and nothing is removed for it.
    move.copyPlaced = note.placed || note.removing || !isOnCard(*target);
    const SourceNow left = sourceNow(*source);
    if (!move.copyPlaced && left != SourceNow::HoldsAnItem)
        return std::nullopt;
    switch (left) {
    case SourceNow::Gone:
        return std::nullopt;
    case SourceNow::HoldsAnItem: {
        // "Whole" is said only of a copy compared with what is still in the source.
        const Comparison compared = compareWithCopy(trimmed(*source), trimmed(*target));
        if (compared == Comparison::Stopped) {
            *stopped = true;
            return std::nullopt;
        }
        move.copyWhole = compared == Comparison::Same;
        return move;
    }
    case SourceNow::OnlyEmptyFolders:
        move.inBothPlaces = !finishEmptiedMove(*source, &move.emptyFolderLeft);
        return move;
    }
    return std::nullopt;
}

} // namespace

namespace {

// What reading one note decided: it waits for its disk, or the quit stopped
// the reading (the note stays then, and the notes after it are not read).
struct NoteRead
{
    bool away = false;
    bool stopped = false;
};

// Reads the notes named prefix + a token in the journal's folder, in name
// order: each one the user's own, of one name, that no living process holds,
// is handed to read, and goes once read unless its disk is away (then it
// waits for at most awayDays since it was written). A note half written by a
// process killed before it was in place goes.
void readDeadNotes(const char *prefix, const std::function<NoteRead(const QByteArray &text)> &read)
{
    const int dirFd = openJournalFolder(false);
    if (dirFd < 0)
        return;
    std::vector<QByteArray> names;
    int err = 0;
    const uid_t user = fileSystemUser();
    const qint64 now = QDateTime::currentSecsSinceEpoch();
    const qsizetype length = qsizetype(std::strlen(prefix));
    if (listFolderAt(dirFd, &names, &err)) {
        std::sort(names.begin(), names.end());
        for (const QByteArray &name : names) {
            if (name.startsWith('.') && name.endsWith(".new") && name.mid(1).startsWith(prefix)
                && isToken(name.mid(1 + length, name.size() - 5 - length))) {
                removeHalfWrittenNote(dirFd, name, user);
                continue;
            }
            if (!name.startsWith(prefix) || !isToken(name.mid(length)))
                continue;
            QByteArray text;
            const int fd = openDeadEntry(dirFd, name, O_RDONLY, user, &text);   // not while its writer lives
            if (fd < 0)
                continue;
            const NoteRead done = read(text);
            if (done.stopped || isShuttingDown()) {   // the quit: the note is read again at the next start
                ::close(fd);
                break;
            }
            struct stat st;
            const bool tooOld = ::fstat(fd, &st) == 0 && now - qint64(st.st_mtim.tv_sec) > awayDays * 24 * 3600;
            if (!done.away || tooOld)
                ::unlinkat(dirFd, name.constData(), 0);   // told once; a damaged note names nothing
            ::close(fd);
        }
    }
    ::close(dirFd);
}

} // namespace

QList<StoppedMove> takeStoppedMoves()
{
    QList<StoppedMove> moves;
    readDeadNotes(movePrefix, [&moves](const QByteArray &text) {
        NoteRead done;
        if (const std::optional<MoveNote> note = parseMoveNote(text)) {
            if (const std::optional<StoppedMove> move = moveToTell(*note, &done.away, &done.stopped))
                moves.append(*move);
        }
        return done;
    });
    return moves;
}

namespace {

constexpr char replaceHeader[] = "[Lumen Gallery replace]";
constexpr char replacePrefix[] = "replace-";

const char *settledTag(ReplaceSettled settled)
{
    switch (settled) {
    case ReplaceSettled::Finished: return "finished";
    case ReplaceSettled::NewBeside: return "new";
    case ReplaceSettled::OldBeside: return "old";
    }
    return "finished";
}

// What a Replace's note says: the folder, the target's name, what was done
// and the name the item it tells of stands under.
struct ReplaceText
{
    QByteArray folder, name, at;
    ReplaceSettled settled = ReplaceSettled::Finished;
};

QByteArray replaceText(const ReplaceText &note)
{
    return QByteArray(replaceHeader) + "\nFolder=" + note.folder.toPercentEncoding("/") + "\nName="
           + note.name.toPercentEncoding() + "\nSettled=" + settledTag(note.settled) + "\nAt="
           + note.at.toPercentEncoding() + "\n";
}

// The note, when text is byte for byte what ReplaceNote writes.
std::optional<ReplaceText> parseReplaceNote(const QByteArray &text)
{
    const QList<QByteArray> lines = text.split('\n');
    if (lines.size() != 6 || lines.at(0) != replaceHeader || !lines.at(1).startsWith("Folder=")
        || !lines.at(2).startsWith("Name=") || !lines.at(3).startsWith("Settled=") || !lines.at(4).startsWith("At="))
        return std::nullopt;
    ReplaceText note;
    note.folder = QByteArray::fromPercentEncoding(lines.at(1).mid(7));
    note.name = QByteArray::fromPercentEncoding(lines.at(2).mid(5));
    note.at = QByteArray::fromPercentEncoding(lines.at(4).mid(3));
    bool known = false;
    for (const ReplaceSettled settled :
         {ReplaceSettled::Finished, ReplaceSettled::NewBeside, ReplaceSettled::OldBeside}) {
        if (lines.at(3).mid(8) == settledTag(settled)) {
            note.settled = settled;
            known = true;
        }
    }
    if (!known || !note.folder.startsWith('/') || note.folder.contains('\0') || !isOneName(note.name)
        || !isOneName(note.at) || text != replaceText(note))
        return std::nullopt;
    return note;
}

// What the start says of a Replace the cleanup settled: only what is so.
StoppedReplace replaceToTell(const ReplaceText &note)
{
    StoppedReplace told;
    told.target = FileNames::fromNative(joinRaw(note.folder, note.name));
    if (note.settled == ReplaceSettled::Finished) {
        told.text = QStringLiteral("Replacing “%1” was stopped before it was done, and was finished at this start: the "
                                   "item chosen to replace it stands at “%1”, and the item it replaced was removed.")
                        .arg(told.target);
        return told;
    }
    told.beside = FileNames::fromNative(joinRaw(note.folder, note.at));
    told.text = note.settled == ReplaceSettled::NewBeside
                    ? QStringLiteral("Replacing “%1” was stopped before the item chosen to replace it took its place: "
                                     "that item is now at “%2”, and “%1” was not replaced.")
                    : QStringLiteral("The item that was at “%1” had been set aside to be replaced or renamed when the "
                                     "program was stopped. It could not go back under its name, where another item "
                                     "stands now: it is now at “%2”.");
    told.text = told.text.arg(told.target, told.beside);
    return told;
}

// Who is to hear of a Replace noted (onStoppedReplaceNoted).
struct ReplaceListeners
{
    std::mutex mutex;
    std::vector<std::pair<QPointer<QObject>, std::function<void()>>> listeners;
};
ReplaceListeners &g_replaceListeners = *new ReplaceListeners;   // never destroyed: cleanup threads may outlive main()

void replaceNoted()
{
    std::lock_guard<std::mutex> lock(g_replaceListeners.mutex);
    for (const auto &[context, fn] : g_replaceListeners.listeners)
        if (context)
            onMain([context = context, fn = fn] {
                if (context && !isShuttingDown())
                    fn();
            });
}

} // namespace

namespace temporaries {

ReplaceNote::ReplaceNote(const QByteArray &folder, const QByteArray &name, const QByteArray &token)
    : m_folder(folder), m_name(name), m_file(replacePrefix + token)
{
}

ReplaceNote::~ReplaceNote()
{
    if (m_fd >= 0)
        ::close(m_fd);   // a note not done with is written anew by the cleanup that settles its Replace
}

bool ReplaceNote::write(ReplaceSettled settled, const QByteArray &at)
{
    const int dirFd = openJournalFolder(true);
    if (dirFd < 0)
        return false;
    const QByteArray text = replaceText({m_folder, m_name, at, settled});
    const QByteArray making = '.' + m_file + ".new";
    bool written = false;
    if (m_fd >= 0) {
        written = replaceRecordFile(dirFd, m_file, making, &m_fd, text);
    } else {
        // Over a note of the same Replace that a cleanup killed before it
        // was done left, whole: a kill meanwhile leaves one of the two.
        const int fd = ::openat(dirFd, making.constData(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        written = fd >= 0 && ::flock(fd, LOCK_EX) == 0
                  && ::write(fd, text.constData(), size_t(text.size())) == text.size() && ::fsync(fd) == 0
                  && ::renameat(dirFd, making.constData(), dirFd, m_file.constData()) == 0;
        if (written) {
            m_fd = fd;
        } else if (fd >= 0) {
            ::unlinkat(dirFd, making.constData(), 0);
            ::close(fd);
        }
    }
    ::close(dirFd);
    return written;
}

void ReplaceNote::done()
{
    if (m_fd < 0)
        return;
    ::close(m_fd);
    m_fd = -1;
    replaceNoted();
}

void ReplaceNote::drop()
{
    if (m_fd < 0)
        return;
    if (const int dirFd = openJournalFolder(false); dirFd >= 0) {
        ::unlinkat(dirFd, m_file.constData(), 0);
        ::close(dirFd);
    }
    ::close(m_fd);
    m_fd = -1;
}

} // namespace temporaries

QList<StoppedReplace> takeStoppedReplaces()
{
    QList<StoppedReplace> replaces;
    readDeadNotes(replacePrefix, [&replaces](const QByteArray &text) {
        NoteRead done;
        const std::optional<ReplaceText> note = parseReplaceNote(text);
        if (!note)
            return done;
        // Told only while the item it names stands there.
        const int folderFd = ::open(note->folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (folderFd < 0) {
            done.away = errno == ENOENT || errno == ENOTDIR;   // an unplugged card: the note waits
            return done;
        }
        struct stat st;
        const QByteArray &named = note->settled == ReplaceSettled::Finished ? note->name : note->at;
        if (::fstatat(folderFd, named.constData(), &st, AT_SYMLINK_NOFOLLOW) == 0)
            replaces.append(replaceToTell(*note));
        ::close(folderFd);
        return done;
    });
    return replaces;
}

void onStoppedReplaceNoted(const QObject *context, std::function<void()> fn)
{
    if (!context)
        return;
    std::lock_guard<std::mutex> lock(g_replaceListeners.mutex);
    g_replaceListeners.listeners.emplace_back(const_cast<QObject *>(context), std::move(fn));
}

} // namespace lg
