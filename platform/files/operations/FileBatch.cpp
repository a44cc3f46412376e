// The clash rules of a batch of items: what Replace may replace, numbered names within the batch.
#include "platform/files/operations/FileBatch.h"
#include "platform/files/operations/FileOperationsShared.h"
#include "platform/files/names/FileNames.h"

#include "platform/runtime/Dispatch.h"

#include <QFile>

#include <sys/stat.h>

namespace lg {

using fileops::lstatPath;
using fileops::nameOf;

namespace {

FileOpResult refused(FileOpError error, const QString &source, const QString &target, const QString &message)
{
    FileOpResult r;
    r.error = error;
    r.source = source;
    r.target = target;
    r.message = message;
    return r;
}

} // namespace

FileBatch::FileBatch(FileOpKind kind, const QString &targetFolder, const QStringList &alsoTaken)
    : m_kind(kind), m_folder(targetFolder), m_alsoTaken(alsoTaken), m_nameCase(nameCaseOf(targetFolder))
{
}

// True when source is the entry of its own name in the destination (not
// merely a hard link to it from another folder).
bool FileBatch::liesInFolder(const QString &source, const struct stat &st) const
{
    struct stat entry, folder, parent;
    if (!lstatPath(m_folder + QLatin1Char('/') + nameOf(source), &entry) || entry.st_dev != st.st_dev
        || entry.st_ino != st.st_ino)
        return false;
    const QString parentPath = source.left(qMax<qsizetype>(source.lastIndexOf(QLatin1Char('/')), 1));
    return ::stat(lg::FileNames::toNative(m_folder).constData(), &folder) == 0
           && ::stat(lg::FileNames::toNative(parentPath).constData(), &parent) == 0 && folder.st_dev == parent.st_dev
           && folder.st_ino == parent.st_ino;
}

FileOpResult FileBatch::transfer(const QString &source, ConflictPolicy policy, const QString &name)
{
    FileOpResult r = transferItem(m_kind, source, m_folder, policy, name, m_links);
    if (r.arrived())
        m_made.insert(key(nameOf(r.target)));
    return r;
}

FileOpResult FileBatch::numbered(const QString &source, bool isFolder)
{
    if (!m_names) {
        m_names.emplace(m_folder);
        for (const QString &name : std::as_const(m_alsoTaken))
            m_names->addTaken(name);
    }
    NameNumbering numbering;
    numbering.isFolder = isFolder;
    numbering.tryPlainNameFirst = false;
    // A numbered name taken by someone else between the check and the claim
    // (which never replaces) moves on to the next number.
    FileOpResult r;
    for (int attempt = 0; attempt < 1000; ++attempt) {
        r = transfer(source, ConflictPolicy::Refuse, m_names->take(nameOf(source), numbering));
        if (r.error != FileOpError::TargetExists)
            break;
    }
    return r;
}

FileBatch::Outcome FileBatch::run(const QStringList &sources, ConflictPolicy onClash, const std::atomic<bool> *cancel)
{
    Outcome out;
    m_links.movesToFinish = m_kind == FileOpKind::Move ? &m_moves : nullptr;
    // The originals of the moves held go; each move's result takes the place
    // of the one given when its copy was in place.
    const auto finishMoves = [this, &out] {
        for (const FileOpResult &done : m_moves.finish())
            for (qsizetype i = out.results.size() - 1; i >= 0; --i)
                if (out.results.at(i).source == done.source && out.results.at(i).target == done.target) {
                    out.results[i] = done;
                    break;
                }
    };
    // The batch's items that already lie in the destination hold their names
    // for the whole batch: no other item replaces them.
    for (const QString &source : sources) {
        if ((cancel && cancel->load()) || isShuttingDown())
            break;   // every item comes back Cancelled below
        struct stat st;
        if (lstatPath(source, &st) && liesInFolder(source, st))
            m_own.insert(key(nameOf(source)), source);
    }
    for (const QString &source : sources) {
        const QString name = nameOf(source);
        const QString target = m_folder + QLatin1Char('/') + name;
        if ((cancel && cancel->load()) || isShuttingDown()) {
            out.results.append(refused(FileOpError::Cancelled, source, target, QStringLiteral("Cancelled.")));
            continue;
        }
        if (m_moves.isFull() || m_moves.holds(source))
            finishMoves();
        struct stat st;
        if (!lstatPath(source, &st)) {
            const QString unreadable = unreadableNameMessage(source);
            out.results.append(unreadable.isEmpty()
                                   ? refused(FileOpError::SourceMissing, source, target,
                                             QStringLiteral("The item no longer exists."))
                                   : refused(FileOpError::InvalidName, source, target, unreadable));
            continue;
        }
        // A folder may hold a file held, and another name of a file may be one held.
        if (!m_moves.isEmpty() && (!S_ISREG(st.st_mode) || st.st_nlink != 1))
            finishMoves();
        const bool isFolder = S_ISDIR(st.st_mode);
        struct stat existing;
        if (!lstatPath(target, &existing)) {
            const FileOpResult r = transfer(source, ConflictPolicy::Refuse, {});
            if (r.error != FileOpError::TargetExists) {
                out.results.append(r);
                continue;
            }
            if (!lstatPath(target, &existing)) {   // refused for another reason
                out.results.append(r);
                continue;
            }
            // Taken meanwhile, by someone else: a clash like any other.
        }
        if (m_made.contains(key(name))) {
            out.results.append(numbered(source, isFolder));   // never replace an item of this batch
            continue;
        }
        const QString ownItem = m_own.value(key(name));
        const bool itself = ownItem == source;
        if (itself && m_kind == FileOpKind::Move && onClash == ConflictPolicy::KeepBoth) {
            FileOpResult unchanged;   // already where it is to go
            unchanged.source = unchanged.target = source;
            out.results.append(unchanged);
            continue;
        }
        switch (onClash) {
        case ConflictPolicy::Refuse:
            out.clashes.append(source);
            break;
        case ConflictPolicy::KeepBoth:
            out.results.append(numbered(source, isFolder));
            break;
        case ConflictPolicy::Replace:
            if (!ownItem.isEmpty() && !itself)   // an item of this batch holds the name
                out.results.append(numbered(source, isFolder));
            else if (S_ISDIR(existing.st_mode) != isFolder && !(existing.st_dev == st.st_dev && existing.st_ino == st.st_ino))
                out.results.append(refused(FileOpError::Other, source, target,
                                           isFolder ? QStringLiteral("A file with the same name is in the way.")
                                                    : QStringLiteral("A folder with the same name is in the way.")));
            else
                out.results.append(transfer(source, ConflictPolicy::Replace, {}));
            break;
        }
    }
    finishMoves();
    m_links.movesToFinish = nullptr;
    return out;
}

} // namespace lg
