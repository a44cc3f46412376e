// Copy, move, rename, duplicate and Replace of one item, never overwriting silently.
#include "platform/files/operations/FileOperations.h"
#include "platform/files/operations/FileOperationsShared.h"
#include "platform/files/names/FileNames.h"

#include "platform/files/operations/CopyEntry.h"
#include "platform/files/names/NumberedNames.h"
#include "platform/files/recovery/StoppedMoves.h"
#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QSet>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <linux/magic.h>
#include <map>
#include <mutex>
#include <sys/stat.h>
#include <sys/statfs.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace lg {

using namespace fileops;

namespace fileops {

void registerTypes()
{
    static std::once_flag once;
    std::call_once(once, [] {
        qRegisterMetaType<lg::FileOpResult>("lg::FileOpResult");
        qRegisterMetaType<QList<lg::FileOpResult>>("QList<lg::FileOpResult>");
    });
}

// Queued signals may carry these before anything here has run.
Q_CONSTRUCTOR_FUNCTION(registerTypes)

QString parentOf(const QString &path)
{
    const int slash = path.lastIndexOf(QLatin1Char('/'));
    if (slash <= 0)
        return QStringLiteral("/");
    return path.left(slash);
}

QString nameOf(const QString &path)
{
    QString p = path;
    while (p.size() > 1 && p.endsWith(QLatin1Char('/')))
        p.chop(1);
    return p.mid(p.lastIndexOf(QLatin1Char('/')) + 1);
}

QString joinPath(const QString &folder, const QString &name)
{
    return folder.endsWith(QLatin1Char('/')) ? folder + name : folder + QLatin1Char('/') + name;
}

bool lstatPath(const QString &path, struct stat *st)
{
    return ::lstat(FileNames::toNative(path).constData(), st) == 0;
}

bool isRealDir(const struct stat &st) { return S_ISDIR(st.st_mode); }

// The same file object (device and inode).
bool sameInode(const struct stat &a, const struct stat &b) { return a.st_dev == b.st_dev && a.st_ino == b.st_ino; }

QString reasonFor(FileOpError error)
{
    switch (error) {
    case FileOpError::None: return {};
    case FileOpError::TargetExists: return QStringLiteral("An item with the same name already exists.");
    case FileOpError::SameFile: return QStringLiteral("An item cannot replace itself.");
    case FileOpError::IntoItself: return QStringLiteral("A folder cannot be put inside itself.");
    case FileOpError::InvalidName: return QStringLiteral("The name is not valid.");
    case FileOpError::SourceMissing: return QStringLiteral("The item does not exist.");
    case FileOpError::NoSpace: return QStringLiteral("There is not enough space.");
    case FileOpError::Denied: return QStringLiteral("Permission denied.");
    case FileOpError::Cancelled: return QStringLiteral("Cancelled.");
    case FileOpError::Other: return QStringLiteral("The operation failed.");
    }
    return {};
}

FileOpResult failure(FileOpError error, const QString &source, const QString &target, const QString &message = {})
{
    FileOpResult r;
    r.error = error;
    r.source = source;
    r.target = target;
    r.message = message.isEmpty() ? reasonFor(error) : message;
    return r;
}

FileOpResult errnoFailure(int err, const QString &source, const QString &target)
{
    if (err == changedWhileCopied)
        return failure(FileOpError::Other, source, target,
                       QStringLiteral("The item changed while it was copied, so the copy was not kept."));
    return failure(errorForErrno(err), source, target, errnoSentence(err));
}

FileOpResult success(const QString &source, const QString &target)
{
    FileOpResult r;
    r.source = source;
    r.target = target;
    return r;
}

// ---- Raw paths ----
// Inside a walk, paths stay the bytes the file system gave, so that a name
// that is not valid UTF-8 is copied, measured and removed as it is.

// Entry names of a folder without "." and ".."; false when it cannot be read.
bool listNames(const QByteArray &folder, std::vector<QByteArray> *names, int *err)
{
    const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) {
        *err = errno;
        return false;
    }
    const bool listed = listFolderAt(fd, names, err);
    ::close(fd);
    return listed;
}

} // namespace fileops

namespace {

// ---- Renames ----
// rename() that never replaces.
int renameNoReplaceRaw(const QByteArray &f, const QByteArray &t)
{
    int err = injectedFileFault(FileStep::NoReplaceRename, decodedPath(t));
    if (!err) {
        if (::renameat2(AT_FDCWD, f.constData(), AT_FDCWD, t.constData(), RENAME_NOREPLACE) == 0)
            return 0;
        err = errno;
    }
    if (err != EINVAL && err != ENOSYS && err != EOPNOTSUPP)
        return err;
    return renameWithoutReplacingRaw(f, t);
}

int renameNoReplace(const QString &from, const QString &to) { return renameNoReplaceRaw(FileNames::toNative(from), FileNames::toNative(to)); }

// What a copy must match (bytes of regular files, number of entries).
// Incomplete when the program quit before it was all measured.
struct TreeSize
{
    qint64 bytes = 0;
    qint64 entries = 0;
    bool complete = true;
    bool sameShape(const TreeSize &other) const
    {
        return complete && other.complete && bytes == other.bytes && entries == other.entries;
    }
};

void measureInto(const QByteArray &path, TreeSize *size)
{
    if (isShuttingDown()) {
        size->complete = false;
        return;
    }
    injectedFileFault(FileStep::Measure, decodedPath(path));
    struct stat st;
    if (::lstat(path.constData(), &st) != 0)
        return;
    ++size->entries;
    if (S_ISREG(st.st_mode))
        size->bytes += st.st_size;
    if (isRealDir(st)) {
        std::vector<QByteArray> names;
        int err = 0;
        if (listNames(path, &names, &err)) {
            for (const QByteArray &name : names) {
                measureInto(joinRawPath(path, name), size);
                if (!size->complete)
                    return;
            }
        }
    }
}

TreeSize measureTree(const QByteArray &path)
{
    TreeSize size;
    measureInto(path, &size);
    return size;
}

// The shape of what was copied, as recorded.
TreeSize shapeOf(const CopiedEntries &copied)
{
    TreeSize size;
    size.entries = copied.size();
    for (const FileIdentity &entry : copied)
        size.bytes += entry.type == S_IFREG ? entry.size : 0;
    return size;
}

// ---- Putting a new item in place ----
// What of a replaced item could not be removed.
struct Leftover
{
    QString path;    // the replaced item, under the name it has now
    QString where;   // the first place inside it that could not go
    int error = 0;
    QStringList mountPoints;   // every mount point left in place inside it
    bool isEmpty() const { return path.isEmpty(); }
};

// Swaps from (an item beside to, under a temporary name that fromOwner holds)
// with the item at to in one step, and removes the old item, now at from.
// Where the file system cannot swap, the old item is set aside first.
// *leftover says what of the old item could not be removed.
int swapInPlace(const QString &from, TemporaryOwner *fromOwner, const QString &to, Leftover *leftover)
{
    QString replaced = from;
    TemporaryOwner aside;
    int swapped = injectedFileFault(FileStep::Swap, to);
    errno = 0;
    if (!swapped && fromOwner && !fromOwner->recordExchangeWith(to))
        return errno ? errno : EIO;   // nothing was exchanged
    if (!swapped
        && ::renameat2(AT_FDCWD, FileNames::toNative(from).constData(), AT_FDCWD, FileNames::toNative(to).constData(), RENAME_EXCHANGE) != 0)
        swapped = errno;
    if (swapped) {
        if (swapped != EINVAL && swapped != ENOSYS && swapped != EOPNOTSUPP)
            return swapped;
        // A file system that cannot swap: the old item goes aside first, under
        // a lock that brings it back should this process be killed meanwhile.
        // The incoming item's record no longer names it: put back, it would be
        // the very item named again, and whether the cleanup finished the
        // Replace would hang on the order it reads the two records in.
        if (fromOwner)
            fromOwner->forgetExchange();
        int err = 0;
        aside = TemporaryOwner::setAside(to, &err);
        if (!aside.isValid())
            return err;
        replaced = aside.path();
        err = injectedFileFault(FileStep::FinalRename, to);
        if (!err)
            err = renameNoReplace(from, to);
        if (err) {
            if (renameNoReplace(replaced, to) != 0)
                *leftover = {replaced, replaced, err, {}};   // left under its lock: the cleanup brings it back
            return err;
        }
        aside.setKind(TemporaryKind::Copy);   // replaced as asked: what is left of it goes
    } else {
        injectedFileFault(FileStep::Exchanged, to);
        if (fromOwner)
            fromOwner->exchanged();   // the old item now stands under from's name
    }
    // Replaced as asked: a quit from here on still removes it, within the bound.
    const RemovalResult removed = removeMadeByThisRunReporting(replaced);
    if (removed.error)
        *leftover = {replaced, removed.failedAt, removed.error, removed.mountPoints};
    return 0;
}

// Renames from to to. Without replacing, a taken name gives EEXIST. When
// replacing, a file goes over a file by one rename; otherwise the two are
// swapped in one step, so that the target is never missing, and the old item
// is removed. fromBeside: from is a temporary beside to already (a copy);
// otherwise from first moves beside to, under a hidden locked name, so that
// the old item never appears in from's folder (which others may read).
// *leftover says what of the old item could not be removed, or, on a failure,
// where the item is when it could not go back. holder, when from is its
// temporary, records the old item as what it holds once they are swapped.
int putInPlace(const QString &from, const QString &to, bool replacing, bool fromBeside, Leftover *leftover,
               TemporaryOwner *holder = nullptr)
{
    struct stat old;
    if (!replacing || !lstatPath(to, &old)) {
        if (const int injected = injectedFileFault(FileStep::FinalRename, to))
            return injected;
        return renameNoReplace(from, to);
    }
    struct stat incoming;
    if (!lstatPath(from, &incoming))
        return errno;
    if (const int injected = injectedFileFault(FileStep::FinalRename, to))
        return injected;
    if (!isRealDir(old) && !isRealDir(incoming))
        return ::rename(FileNames::toNative(from).constData(), FileNames::toNative(to).constData()) == 0 ? 0 : errno;
    if (fromBeside)
        return swapInPlace(from, holder, to, leftover);
    int err = 0;
    // The record names the incoming item before it moves: a kill right after
    // the rename finds it and puts it beside the target.
    TemporaryOwner incomingOwner = TemporaryOwner::claim(to, TemporaryKind::SetAside, &err, from);
    if (!incomingOwner.isValid())
        return err;
    const QString beside = incomingOwner.path();
    if ((err = renameNoReplace(from, beside)) != 0)
        return err;   // EXDEV too: the caller copies instead
    err = swapInPlace(beside, &incomingOwner, to, leftover);
    if (err && existsOrLink(beside) && renameNoReplace(beside, from) != 0) {
        incomingOwner.forgetExchange();   // failed, not killed: the cleanup puts it beside to, never in its place
        if (leftover->isEmpty())
            *leftover = {beside, beside, err, {}};   // under its lock
    }
    return err;
}

// ---- Shared checks of copy and move ----
struct Plan
{
    QString source;
    QString target;
    bool replacing = false;
    bool sourceIsDir = false;
    struct stat sourceStat {};
};

std::optional<FileOpResult> plan(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                                 const QString &targetName, Plan *p)
{
    const QString name = targetName.isEmpty() ? nameOf(source) : targetName;
    p->source = source;
    p->target = joinPath(targetFolder, name);
    if (!isValidFileName(name))
        return failure(FileOpError::InvalidName, source, p->target);
    if (!lstatPath(source, &p->sourceStat)) {
        const int err = errno;
        if (const QString unreadable = unreadableNameMessage(source); !unreadable.isEmpty())
            return failure(FileOpError::InvalidName, source, p->target, unreadable);
        return errnoFailure(err, source, p->target);
    }
    p->sourceIsDir = isRealDir(p->sourceStat);
    struct stat folder;
    if (::stat(FileNames::toNative(targetFolder).constData(), &folder) != 0 || !S_ISDIR(folder.st_mode)) {
        if (const QString unreadable = unreadableNameMessage(targetFolder); !unreadable.isEmpty())
            return failure(FileOpError::InvalidName, source, p->target, unreadable);
        return failure(FileOpError::Other, source, p->target,
                       QStringLiteral("The folder “%1” does not exist.").arg(targetFolder));
    }
    if (p->sourceIsDir && isInsideCanonical(targetFolder, source))
        return failure(FileOpError::IntoItself, source, p->target);
    struct stat existing;
    if (!lstatPath(p->target, &existing)
        || (removeLeftPlaceholder(FileNames::toNative(p->target)) && !lstatPath(p->target, &existing)))
        return std::nullopt;
    switch (onConflict) {
    case ConflictPolicy::Refuse:
        return failure(FileOpError::TargetExists, source, p->target);
    case ConflictPolicy::KeepBoth: {
        NameNumbering numbering;
        numbering.isFolder = p->sourceIsDir;
        p->target = joinPath(targetFolder, freeName(targetFolder, name, numbering));
        return std::nullopt;
    }
    case ConflictPolicy::Replace:
        if (sameInode(existing, p->sourceStat) || isSameFile(source, p->target))
            return failure(FileOpError::SameFile, source, p->target);
        if (isRealDir(existing) && isInsideCanonical(source, p->target))
            return failure(FileOpError::IntoItself, source, p->target);
        p->replacing = true;
        return std::nullopt;
    }
    return std::nullopt;
}

// The item is in place; a replaced item that could not be removed entirely is
// told, and a file system mounted inside it is named as left in place.
FileOpResult placed(const Plan &p, const Leftover &leftover)
{
    FileOpResult r = success(p.source, p.target);
    if (!leftover.isEmpty()) {
        QString text = QStringLiteral("The item is in place, but the one it replaced could not be removed entirely: "
                                      "what is left of it is at “%1”.").arg(leftover.path);
        QStringList points;
        for (const QString &point : leftover.mountPoints)
            points.append(QStringLiteral("“%1”").arg(point));
        if (points.isEmpty() && leftover.error == EBUSY)
            points.append(QStringLiteral("“%1”").arg(leftover.where));
        if (!points.isEmpty())
            text += (points.size() == 1 ? QStringLiteral(" %1 was left in place: %2.")
                                        : QStringLiteral(" %1 were left in place: %2."))
                        .arg(points.join(QStringLiteral(", ")), removalReason(EBUSY));
        r = failure(FileOpError::Other, p.source, p.target, text);
        r.itemInPlace = true;
    }
    return r;
}

// "“a”, “b”, “c” and 4 more": the first few of count entries.
QString someNamed(const QStringList &names, qint64 count)
{
    constexpr qsizetype shown = 3;
    QStringList quoted;
    for (const QString &name : names.mid(0, shown))
        quoted.append(QStringLiteral("“%1”").arg(name));
    const qint64 more = count - quoted.size();
    if (more > 0)
        return QStringLiteral("%1 and %2 more").arg(quoted.join(QStringLiteral(", "))).arg(more);
    if (quoted.size() > 1)
        return QStringLiteral("%1 and %2").arg(quoted.mid(0, quoted.size() - 1).join(QStringLiteral(", ")),
                                               quoted.last());
    return quoted.value(0);
}

// The entries below the item's top (the top as "") by the item's name and their path in it.
QStringList namedInItem(const QString &item, const QStringList &relative)
{
    QStringList names;
    for (const QString &entry : relative)
        names.append(entry.isEmpty() ? nameOf(item) : nameOf(item) + QLatin1Char('/') + entry);
    return names;
}

// The paths below the item's top of entries given by their path at target.
QStringList belowTarget(const Plan &p, const QStringList &paths)
{
    QStringList relative;
    for (const QString &path : paths)
        relative.append(path == p.target ? QString() : path.mid(p.target.size() + 1));
    return relative;
}

// What the result says of the attributes, hard links and permissions the
// target could not hold (r's lists).
QString notKeptText(const Plan &p, const FileOpResult &r)
{
    const QStringList attributes = belowTarget(p, r.attributesNotKept), links = belowTarget(p, r.linksNotKept),
                      permissions = belowTarget(p, r.permissionsNotKept),
                      changed = belowTarget(p, r.linksNotKeptAfterChange);
    QStringList sentences;
    if (!attributes.isEmpty()) {
        const QStringList named = namedInItem(p.target, attributes);
        sentences.append(QStringLiteral("The extended attributes (tags, comments, ratings, ACLs) of %1 could not be "
                                        "kept: the file system of “%2” cannot hold them.")
                             .arg(someNamed(named, named.size()), parentOf(p.target)));
    }
    if (!links.isEmpty()) {
        const QStringList named = namedInItem(p.target, links);
        sentences.append(QStringLiteral("The hard links of %1 could not be kept: the file system of “%2” cannot make "
                                        "them, so each is a separate file.")
                             .arg(someNamed(named, named.size()), parentOf(p.target)));
    }
    if (!changed.isEmpty()) {
        const QStringList named = namedInItem(p.target, changed);
        sentences.append(QStringLiteral("The hard links of %1 could not be kept: the file changed after its other "
                                        "names were copied, so each is a separate file.")
                             .arg(someNamed(named, named.size())));
    }
    if (!permissions.isEmpty()) {
        const QStringList named = namedInItem(p.target, permissions);
        sentences.append(QStringLiteral("The permissions of %1 could not be kept: the file system of “%2” refused "
                                        "them.")
                             .arg(someNamed(named, named.size()), parentOf(p.target)));
    }
    return sentences.join(QLatin1Char(' '));
}

// "“:”, “?” or a newline": the characters of name that a card refuses, as
// they are called.
QString refusedCharactersText(const QByteArray &name)
{
    QStringList said;
    for (const char c : charactersACardRefuses(name)) {
        const QString word = c == '\t'   ? QStringLiteral("a tab")
                             : c == '\n' ? QStringLiteral("a newline")
                             : c == '\r' ? QStringLiteral("a carriage return")
                             : (static_cast<unsigned char>(c) < 0x20 || c == 0x7f)
                                 ? QStringLiteral("a control character")
                                 : QStringLiteral("“%1”").arg(QLatin1Char(c));
        if (!said.contains(word))
            said.append(word);
    }
    if (said.size() < 2)
        return said.value(0);
    return QStringLiteral("%1 or %2").arg(said.mid(0, said.size() - 1).join(QStringLiteral(", ")), said.last());
}

// Why the target could not hold an entry of the item p copies: a clause.
QString refusalReason(const RefusedEntry &entry, const Plan &p)
{
    const QString folder = parentOf(p.target);
    switch (entry.why) {
    case EntryRefusal::Name: {
        const QByteArray name = entry.relative.isEmpty() ? FileNames::toNative(nameOf(p.target))
                                                         : entry.relative.mid(entry.relative.lastIndexOf('/') + 1);
        const QString characters = refusedCharactersText(name);
        const bool utf8 = QUtf8StringView(name).isValidUtf8();
        if (!utf8 && characters.isEmpty())
            return QStringLiteral("the file system of “%1” does not accept a name that is not valid UTF-8 text")
                .arg(folder);
        return QStringLiteral("the file system of “%1” does not accept %2 in a name%3")
            .arg(folder, characters, utf8 ? QString() : QStringLiteral(", nor a name that is not valid UTF-8 text"));
    }
    case EntryRefusal::CaseTaken:
        return QStringLiteral("the file system of “%1” does not tell upper from lower case, and %2 has that name there")
            .arg(folder, entry.takenBy.isEmpty()
                             ? QStringLiteral("another entry of its folder")
                             : QStringLiteral("“%1”").arg(namedInItem(p.source, {decodedPath(entry.takenBy)}).value(0)));
    case EntryRefusal::Link:
        return QStringLiteral("the file system of “%1” cannot hold symbolic links").arg(folder);
    case EntryRefusal::Device: return QStringLiteral("devices are not copied");
    case EntryRefusal::Pipe: return QStringLiteral("named pipes are not copied");
    case EntryRefusal::Socket: return QStringLiteral("sockets are not copied");
    }
    return {};
}

// What the target could not hold of an item: the entries (by path below the
// item's top), which were not copied (or moved: they stay in the source),
// each reason said once.
QString refusedEntriesText(const Plan &p, const QList<RefusedEntry> &refused, bool moved)
{
    std::map<QString, QStringList> byReason;
    for (const RefusedEntry &entry : refused)
        byReason[refusalReason(entry, p)].append(decodedPath(entry.relative));
    QStringList sentences;
    for (const auto &[reason, entries] : byReason) {
        const QStringList named = namedInItem(p.source, entries);
        const bool one = named.size() == 1;
        const QString done = !moved ? QStringLiteral("could not be copied")
                             : one  ? QStringLiteral("could not be moved and stays where it was")
                                    : QStringLiteral("could not be moved and stay where they were");
        sentences.append(QStringLiteral("%1 %2: %3.").arg(someNamed(named, named.size()), done, reason));
    }
    return sentences.join(QLatin1Char(' '));
}

// What the target could not hold of an item copied, by the entries' paths
// below the item's top.
struct NotKept
{
    QList<QByteArray> attributes, links, permissions, linksChanged;
    QList<RefusedEntry> entriesRefused;
    void clear()
    {
        attributes.clear();
        links.clear();
        permissions.clear();
        linksChanged.clear();
        entriesRefused.clear();
    }
    void collectFrom(CopyContext &ctx)
    {
        ctx.attributesNotKept = &attributes;
        ctx.linksNotKept = &links;
        ctx.permissionsNotKept = &permissions;
        ctx.linksChanged = &linksChanged;
        ctx.entriesRefused = &entriesRefused;
    }
};

// The result of a copy that arrived whole but for what notKept names: a
// success (or the failure it is) whose message names them. Entries the
// target could not hold make it a failure of an item that is in place.
FileOpResult withNotKept(FileOpResult r, const Plan &p, const NotKept &notKept)
{
    if (notKept.attributes.isEmpty() && notKept.links.isEmpty() && notKept.permissions.isEmpty()
        && notKept.linksChanged.isEmpty() && notKept.entriesRefused.isEmpty())
        return r;
    const auto atTarget = [&p](const QList<QByteArray> &entries, QStringList *paths) {
        for (const QByteArray &entry : entries)
            paths->append(entry.isEmpty() ? p.target : p.target + QLatin1Char('/') + decodedPath(entry));
    };
    atTarget(notKept.attributes, &r.attributesNotKept);
    atTarget(notKept.links, &r.linksNotKept);
    atTarget(notKept.permissions, &r.permissionsNotKept);
    atTarget(notKept.linksChanged, &r.linksNotKeptAfterChange);
    QString text = notKeptText(p, r);
    if (!notKept.entriesRefused.isEmpty() && r.arrived()) {
        for (const RefusedEntry &entry : notKept.entriesRefused)
            r.entriesRefused.append(p.source + QLatin1Char('/') + decodedPath(entry.relative));
        const QString said = refusedEntriesText(p, notKept.entriesRefused, false)
                             + QStringLiteral(" The rest of “%1” was copied.").arg(nameOf(p.target));
        text = text.isEmpty() ? said : said + QLatin1Char(' ') + text;
        if (r.ok()) {
            r.error = FileOpError::Other;
            r.itemInPlace = true;
            r.message = text;
            return r;
        }
    }
    r.message = r.ok() ? text : r.message + QLatin1Char(' ') + text;
    return r;
}

// The failure of a copy that stopped with err: where the target cannot hold
// the item itself (its name, a symbolic link), in words that say so.
FileOpResult copyFailure(int err, const Plan &p, CopyContext &ctx)
{
    const std::optional<RefusedEntry> refused =
        refusalOf(err, FileNames::toNative(p.source), FileNames::toNative(p.target), {}, ctx);
    if (!refused)
        return errnoFailure(err, p.source, p.target);
    QString reason = refusalReason(*refused, p) + QLatin1Char('.');
    reason[0] = reason.at(0).toUpper();
    return failure(refused->why == EntryRefusal::Name ? FileOpError::InvalidName : FileOpError::Other, p.source,
                   p.target, reason);
}

// Copies p.source beside p.target and puts it in place.
// A context for one item that holds the command's links (moved in, never
// copied: a batch of thousands of linked files copies no map per item).
CopyContext borrowLinks(CopyContext &shared)
{
    std::map<std::pair<dev_t, ino_t>, CopyContext::LinkedCopy> links;
    links.swap(shared.linkedFiles);
    CopyContext ctx = shared;
    ctx.linkedFiles.swap(links);
    return ctx;
}

// The copies of files with several names that this item made are shared with
// the items after it (shared.linkedFiles), under the names they have once the
// item is in place; those of a copy that was removed again are dropped.
FileOpResult copyPlanned(const Plan &p, CopyContext &shared, bool verify, QList<RefusedEntry> *refused = nullptr)
{
    NotKept notKept;
    CopyContext ctx = borrowLinks(shared);
    QByteArray unfinished;   // where this item's copies are while it is not in place
    const auto giveBack = qScopeGuard([&] {
        if (!unfinished.isEmpty())
            std::erase_if(ctx.linkedFiles, [&unfinished](const auto &entry) {
                const QByteArray &path = entry.second.path;
                return isAtOrUnder(path, unfinished);
            });
        shared.linkedFiles.swap(ctx.linkedFiles);
        shared.kinds.swap(ctx.kinds);
    });
    notKept.collectFrom(ctx);
    if (!p.replacing && S_ISREG(p.sourceStat.st_mode)) {
        const int err = copyFileUnnamed(FileNames::toNative(p.source), p.sourceStat, FileNames::toNative(p.target), ctx, verify);
        if (err != ENOTSUP)
            return err ? copyFailure(err, p, ctx) : withNotKept(success(p.source, p.target), p, notKept);
    }
    int err = 0;
    TemporaryOwner owner;
    QString temporary;
    for (int attempt = 0; attempt < 5; ++attempt) {
        owner = TemporaryOwner::claim(p.target, TemporaryKind::Copy, &err);
        if (!owner.isValid())   // its hidden name holds the item's: a card may refuse that
            return copyFailure(refusedNameOr(err, FileNames::toNative(p.target), ctx), p, ctx);
        temporary = owner.path();
        unfinished = FileNames::toNative(temporary);
        ctx.onMade = [&owner](int fd) { owner.recordMade(fd); };
        notKept.clear();
        err = copyEntry(FileNames::toNative(p.source), FileNames::toNative(temporary), ctx);
        ctx.onMade = nullptr;
        if (err != EEXIST || owner.isMade())
            break;
        owner.dropClaim();   // its name was taken meanwhile (and is not ours to remove): another one
    }
    if (!owner.isValid())
        return copyFailure(refusedNameOr(err, FileNames::toNative(p.target), ctx), p, ctx);
    if (!err && verify) {
        // The copy holds all that was copied (or, unrecorded, all the source holds).
        const TreeSize copy = measureTree(FileNames::toNative(temporary));
        if (!copy.complete)
            err = ECANCELED;
        else if (!copy.sameShape(ctx.copied ? shapeOf(*ctx.copied) : measureTree(FileNames::toNative(p.source))))
            err = isShuttingDown() ? ECANCELED : EIO;
    }
    Leftover leftover;
    if (!err && (err = putInPlace(temporary, p.target, p.replacing, true, &leftover, &owner)) != 0)
        err = refusedNameOr(err, FileNames::toNative(p.target), ctx);
    if (err) {
        QString failedAt;
        FileOpResult r = copyFailure(err, p, ctx);
        if (owner.isMade() && removeMadeByThisRun(temporary, &failedAt) != 0)
            r.message += QStringLiteral(" The unfinished copy could not be removed: it is left at “%1”.").arg(temporary);
        if (!leftover.isEmpty())
            r.message += QStringLiteral(" The item it was to replace is at “%1” and goes back under its name the "
                                        "next time this folder is written.").arg(leftover.path);
        return r;
    }
    linkedCopiesMoved(ctx, unfinished, FileNames::toNative(p.target));
    unfinished.clear();
    if (refused)
        *refused = notKept.entriesRefused;
    return withNotKept(placed(p, leftover), p, notKept);
}

FileOpResult copyOnce(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    Plan p;
    if (auto refused = plan(source, targetFolder, onConflict, targetName, &p))
        return *refused;
    return copyPlanned(p, ctx, false);
}

// A folder moves to another parent only when it may be written (its ".."
// changes): a read-only folder is opened up for the move and closed again.
// A kill before its mode is back leaves a record that the cleanup sets it back by.
int moveReadOnlyFolder(const Plan &p, Leftover *leftover)
{
    const mode_t mode = p.sourceStat.st_mode & 07777;
    OpenedUpFolder opened = OpenedUpFolder::record(FileNames::toNative(p.source), p.sourceStat, mode | S_IWUSR,
                                                   FileNames::toNative(QDir::cleanPath(QDir(p.target).absolutePath())));
    if (::chmod(FileNames::toNative(p.source).constData(), mode | S_IWUSR) != 0)
        return EACCES;
    const int err = putInPlace(p.source, p.target, p.replacing, false, leftover);
    ::chmod(FileNames::toNative(err ? p.source : p.target).constData(), mode);
    return err;
}

} // namespace

// A move across disks whose copy is in place and whose original is still to go.
struct MovesToFinish::Move
{
    Plan p;
    std::unique_ptr<MoveDeletion> deletion;
    CopiedEntries copiedEntries;   // what each entry was when it was copied
    FileOpResult copied;
    QList<RefusedEntry> refusedEntries;   // not copied, so they stay
    // The original, held while it waits: a card's FUSE driver gives a file a
    // new number once the kernel has let go of it (as it may under memory
    // pressure), and the file would no longer be known as the one copied.
    int held = -1;
    Move() = default;
    Move(const Move &) = delete;
    Move &operator=(const Move &) = delete;
    ~Move()
    {
        if (held >= 0)
            ::close(held);
    }
};

namespace {

// Removes a move's original, its copy on disk and its note saying so; the
// move's result, with what stayed.
FileOpResult removeOriginal(MovesToFinish::Move &move, CopyContext &ctx)
{
    const Plan &p = move.p;
    MoveDeletion &deletion = *move.deletion;
    FileOpResult &copied = move.copied;
    const QList<RefusedEntry> &refusedEntries = move.refusedEntries;
    const RemovalResult removed = removeTreeReporting(p.source, &move.copiedEntries);
    linkedNamesRemoved(ctx, removed.unlinkedNames);   // what later names of those files must show
    if (removed.error == ECANCELED && isShuttingDown())
        deletion.keep();   // stopped by the quit: the next start tells
    else
        deletion.finish();
    if (!removed.error && !removed.kept)
        return copied;
    // Entries the target could not hold were not copied, so they stay: said
    // as such, never as arrived or changed meanwhile.
    QStringList refused, otherKeptEntries;
    for (const RefusedEntry &entry : std::as_const(refusedEntries))
        refused.append(decodedPath(entry.relative));
    for (const QString &entry : std::as_const(removed.keptEntries))
        if (!refused.contains(entry))
            otherKeptEntries.append(entry);
    const qint64 otherKept = std::max<qint64>(0, removed.kept - refused.size());
    copied.itemInPlace = true;
    QStringList sentences;
    if (!refused.isEmpty())
        sentences.append(refusedEntriesText(p, refusedEntries, true));
    if (removed.error) {
        copied.error = errorForErrno(removed.error);
        if (copied.error == FileOpError::SourceMissing || copied.error == FileOpError::TargetExists)
            copied.error = FileOpError::Other;
        sentences.prepend(QStringLiteral("The item was copied to “%1”, but the original could not be removed "
                                         "entirely: “%2” is left (%3).")
                              .arg(p.target, removed.failedAt, removalReason(removed.error)));
    } else if (otherKept > 0) {
        copied.error = FileOpError::Other;
        const QString stayed =
            otherKept == 1 ? QStringLiteral("1 item that arrived or changed while it was moved stayed")
                           : QStringLiteral("%1 items that arrived or changed while they were moved stayed")
                                 .arg(otherKept);
        sentences.prepend(
            QStringLiteral("The item was not wholly moved: %1 in “%2”: %3. The copy is at “%4”; where an item of the "
                           "same name is there too, that copy is the older one.")
                .arg(stayed, p.sourceIsDir ? p.source : parentOf(p.source),
                     someNamed(namedInItem(p.source, otherKeptEntries), otherKept), p.target));
    } else {
        copied.error = FileOpError::Other;
        sentences.append(QStringLiteral("The rest of “%1” was moved.").arg(nameOf(p.target)));
    }
    if (copied.hasNotKept())
        sentences.append(notKeptText(p, copied));
    copied.message = sentences.join(QLatin1Char(' '));
    return copied;
}

QList<FileOpResult> finishMoves(const std::vector<MovesToFinish::Move *> &moves, CopyContext &ctx);

FileOpResult moveOnce(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName, CopyContext &ctx)
{
    // Made a copy of in the folder it lies in, a move changes nothing.
    struct stat here, there;
    if (onConflict == ConflictPolicy::KeepBoth && (targetName.isEmpty() || targetName == nameOf(source))
        && lstatPath(source, &here) && ::stat(FileNames::toNative(parentOf(source)).constData(), &here) == 0
        && ::stat(FileNames::toNative(targetFolder).constData(), &there) == 0 && sameInode(here, there))
        return success(source, source);
    Plan p;
    if (auto refused = plan(source, targetFolder, onConflict, targetName, &p))
        return *refused;
    Leftover leftover;
    int err = injectedFileFault(FileStep::Rename, source);
    if (!err)
        err = putInPlace(p.source, p.target, p.replacing, false, &leftover);
    if (err == EACCES && p.sourceIsDir && !(p.sourceStat.st_mode & S_IWUSR))
        err = moveReadOnlyFolder(p, &leftover);
    if (!err)
        return placed(p, leftover);
    if (err != EXDEV) {
        FileOpResult r = errnoFailure(err, p.source, p.target);
        if (!leftover.isEmpty())
            r.message += QStringLiteral(" The item is at “%1” and goes beside “%2” the next time that folder is "
                                        "written.").arg(leftover.path, p.target);
        return r;
    }
    // Another file system: copy, check the copy, and only then delete the
    // source, entry by entry, each only while it is still what was copied.
    // The note that the move may stop with its items in both places is
    // written before the copy can stand at the target; without it nothing is
    // removed (a kill could otherwise leave both places unexplained).
    auto move = std::make_unique<MovesToFinish::Move>();
    move->p = p;
    move->deletion = std::make_unique<MoveDeletion>(p.source, p.target);
    CopyContext syncing = borrowLinks(ctx);
    syncing.syncFiles = true;
    syncing.copied = &move->copiedEntries;
    move->copied = copyPlanned(p, syncing, true, &move->refusedEntries);
    ctx.linkedFiles.swap(syncing.linkedFiles);
    ctx.kinds.swap(syncing.kinds);
    FileOpResult &copied = move->copied;
    if (!copied.ok() && !copied.itemInPlace)
        return copied;
    if (!move->deletion->isNoted()) {
        copied.itemInPlace = true;
        copied.error = FileOpError::Other;
        copied.message = QStringLiteral("The item was copied to “%1”, but the original was not removed: the "
                                        "program could not note the move in its state folder. “%2” is still there.")
                             .arg(p.target, p.source);
        return copied;
    }
    move->deletion->placed();   // the note says the copy stands: a card's target is known by it
    // A plain file of one name waits for the others of its batch (a later
    // name of a file or a folder holding one is never copied before the
    // originals before it are gone: the batch finishes them first).
    if (ctx.movesToFinish && S_ISREG(p.sourceStat.st_mode) && p.sourceStat.st_nlink == 1 && !p.replacing) {
        const FileOpResult waiting = copied;
        move->held = ::open(FileNames::toNative(p.source).constData(), O_PATH | O_NOFOLLOW | O_CLOEXEC);
        ctx.movesToFinish->add(std::move(move));
        return waiting;
    }
    return finishMoves({move.get()}, ctx).constFirst();
}

// The moves' copies are on disk, data and names, before any of their
// originals goes: each file's data was synced before it took its name, and
// the folders that name them are synced here, once for them all (a power
// loss must never find an original gone and its copy not there). Their notes
// then say that the originals are being removed, synced once together: a kill
// needs no sync (what was written stays in the page cache), and a note a power
// loss undoes leaves at worst an item in both places that is not told, never
// a lost one. Each original is then removed while it is still what was copied.
QList<FileOpResult> finishMoves(const std::vector<MovesToFinish::Move *> &moves, CopyContext &ctx)
{
    QList<FileOpResult> results;
    QSet<QByteArray> folders;
    int syncErr = 0;
    for (const MovesToFinish::Move *move : moves) {
        const QByteArray folder = FileNames::toNative(parentOf(move->p.target));
        if (folders.contains(folder))
            continue;
        folders.insert(folder);
        if (const int injected = injectedFileFault(FileStep::Sync, parentOf(move->p.target))) {
            syncErr = injected;
            continue;
        }
        const int fd = ::open(folder.constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd < 0) {
            ::sync();   // a folder that may be written but not read: the whole system, seldom
            continue;
        }
        if (::fsync(fd) != 0 && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP)
            syncErr = errno;
        ::close(fd);
    }
    for (MovesToFinish::Move *move : moves) {
        if (syncErr) {
            FileOpResult &copied = move->copied;
            copied.itemInPlace = true;
            copied.error = FileOpError::Other;
            copied.message = QStringLiteral("The item was copied to “%1”, but the original was not removed: the "
                                            "copy could not be written to disk (%2). “%3” is still there.")
                                 .arg(move->p.target, removalReason(syncErr), move->p.source);
            move->deletion->finish();
            continue;
        }
        move->deletion->removing();   // the note says the step: the originals are being removed
    }
    if (!syncErr)
        MoveDeletion::syncNotes();
    for (MovesToFinish::Move *move : moves)
        results.append(syncErr ? move->copied : removeOriginal(*move, ctx));
    return results;
}

// A numbered name taken by someone else between the check and the claim (made
// with O_EXCL, RENAME_NOREPLACE or a link, which never replace) is numbered
// again, from the disk, until a free one is claimed.
template <typename Step>
FileOpResult withRetries(Step step, ConflictPolicy onConflict)
{
    FileOpResult r = step();
    for (int attempt = 0; attempt < 1000 && onConflict == ConflictPolicy::KeepBoth
                          && r.error == FileOpError::TargetExists; ++attempt)
        r = step();
    return r;
}

// A copy or a move of one item (kind is Copy or Move).
FileOpResult transfer(FileOpKind kind, const QString &source, const QString &targetFolder,
                      ConflictPolicy onConflict, const QString &targetName, CopyContext &ctx)
{
    const auto once = kind == FileOpKind::Move ? moveOnce : copyOnce;
    return withRetries([&] { return once(source, targetFolder, onConflict, targetName, ctx); }, onConflict);
}


} // namespace

FileOpError errorForErrno(int err)
{
    switch (err) {
    case 0: return FileOpError::None;
    case ENOENT: return FileOpError::SourceMissing;
    case ENOSPC:
    case EDQUOT: return FileOpError::NoSpace;
    case EACCES:
    case EPERM:
    case EROFS: return FileOpError::Denied;
    case EEXIST:
    case ENOTEMPTY: return FileOpError::TargetExists;
    case ECANCELED: return FileOpError::Cancelled;
    default: return FileOpError::Other;
    }
}


// ---- Single items ----
FileOpResult copyItem(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName)
{
    CopyContext ctx;
    return transfer(FileOpKind::Copy, source, targetFolder, onConflict, targetName, ctx);
}

FileOpResult moveItem(const QString &source, const QString &targetFolder, ConflictPolicy onConflict,
                      const QString &targetName)
{
    CopyContext ctx;
    return transfer(FileOpKind::Move, source, targetFolder, onConflict, targetName, ctx);
}

FileOpResult transferItem(FileOpKind kind, const QString &source, const QString &targetFolder,
                          ConflictPolicy onConflict, const QString &targetName, CopyContext &links)
{
    return transfer(kind == FileOpKind::Move ? FileOpKind::Move : FileOpKind::Copy, source, targetFolder, onConflict,
                    targetName, links);
}

namespace {
// True when folder holds an entry of exactly this name (not merely one that a
// file system ignoring case finds under it).
bool hasExactEntry(const QString &folder, const QString &name)
{
    std::vector<QByteArray> names;
    int err = 0;
    const QByteArray wanted = FileNames::toNative(name);
    return listNames(FileNames::toNative(folder), &names, &err) && std::find(names.cbegin(), names.cend(), wanted) != names.cend();
}
} // namespace

FileOpResult renameItem(const QString &path, const QString &newName)
{
    const QString target = joinPath(parentOf(path), newName);
    if (!isValidFileName(newName))
        return failure(FileOpError::InvalidName, path, target);
    struct stat st;
    if (!lstatPath(path, &st)) {
        const int err = errno;
        if (const QString unreadable = unreadableNameMessage(path); !unreadable.isEmpty())
            return failure(FileOpError::InvalidName, path, target, unreadable);
        return errnoFailure(err, path, target);
    }
    if (nameOf(path) == newName)
        return success(path, path);
    int err = injectedFileFault(FileStep::Rename, path);
    if (!err)
        err = renameNoReplace(path, target);
    // A change of case only, on a file system that ignores case, finds the
    // item itself under the new name: it goes there by way of a hidden name.
    // Links are never followed, and another entry (a hard link) is never replaced.
    struct stat other;
    if (err == EEXIST && newName.compare(nameOf(path), Qt::CaseInsensitive) == 0 && lstatPath(target, &other)
        && sameInode(other, st) && !hasExactEntry(parentOf(path), newName)) {
        TemporaryOwner owner = TemporaryOwner::setAside(path, &err);
        if (owner.isValid()) {
            const QString aside = owner.path();
            if ((err = renameNoReplace(aside, target)) != 0)
                renameNoReplace(aside, path);   // else the cleanup puts it back
        }
    }
    return err ? errnoFailure(err, path, target) : success(path, target);
}

FileOpResult createFolder(const QString &folder, const QString &name)
{
    const QString target = joinPath(folder, name);
    if (!isValidFileName(name))
        return failure(FileOpError::InvalidName, target, target);
    int err = injectedFileFault(FileStep::MakeFolder, target);
    if (!err && ::mkdir(FileNames::toNative(target).constData(), 0777) != 0)
        err = errno;
    if (err == ENOENT)
        return failure(FileOpError::SourceMissing, target, target,
                       QStringLiteral("The folder “%1” does not exist.").arg(folder));
    return err ? errnoFailure(err, target, target) : success(target, target);
}

// ---- Moves across disks finished together ----
namespace {
// How many plain files, and how many of their bytes, wait at most for their
// originals to go: what a kill may leave in both places.
constexpr size_t movesHeld = 32;
constexpr qint64 bytesHeld = qint64(1) << 30;
} // namespace

MovesToFinish::MovesToFinish() = default;

MovesToFinish::~MovesToFinish()
{
    if (!m_moves.empty())
        finish();
}

bool MovesToFinish::isFull() const { return m_moves.size() >= movesHeld || m_bytes >= bytesHeld; }

bool MovesToFinish::holds(const QString &source) const
{
    return std::any_of(m_moves.cbegin(), m_moves.cend(),
                       [&source](const std::unique_ptr<Move> &move) { return move->p.source == source; });
}

void MovesToFinish::add(std::unique_ptr<Move> move)
{
    m_bytes += qint64(move->p.sourceStat.st_size);
    m_moves.push_back(std::move(move));
}

QList<FileOpResult> MovesToFinish::finish()
{
    std::vector<Move *> moves;
    for (const std::unique_ptr<Move> &move : m_moves)
        moves.push_back(move.get());
    CopyContext noLinks;   // files of one name only: no later name needs what their removal leaves
    QList<FileOpResult> results = moves.empty() ? QList<FileOpResult>() : finishMoves(moves, noLinks);
    m_moves.clear();
    m_bytes = 0;
    return results;
}

} // namespace lg
