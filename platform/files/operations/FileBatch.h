#pragma once
// One batch of copies or moves into one folder, from the first pass through the
// answer to the same-name question: the clash rules of every screen live here.
//
// - A clash is a name that the destination held before the batch began. Only
//   such a name is left for the question (policy Refuse), replaced (Replace,
//   once: the next items of that name are numbered) or numbered (KeepBoth).
// - A name that an earlier item of this batch took is never replaced: the item
//   gets the next numbered name, whatever the policy. Nor is an item of this
//   batch that already lies in the destination: answered Replace, the other
//   item of its name gets a numbered name. Names are compared the way the
//   destination compares them ("Photo.jpg" is "photo.jpg" on a vfat card).
// - An item moved into the folder it lies in, answered Make a Copy, stays as it is.
// - Numbered names come from one FreeNameFinder per batch (the folder is listed
//   once), checked against the disk, and claimed without replacing: a name taken
//   meanwhile moves on to the next number.
// - Replace never puts a file over a folder or a folder over a file, and never
//   replaces an item with itself.
// - A file met under several names among the items of the batch (and of its
//   later passes) stays one file with as many names at the destination.
//
// - cancel stops the batch between items, the rest coming back Cancelled; so
//   does quitting (lg::beginShutdown), which also stops the item in hand
//   between its entries (measuring, copying, folder making, removal), what is
//   done staying done: an unfinished copy stays hidden under its lock for the
//   cleanup, and an item whose source was partly removed is in place
//   (Cancelled, itemInPlace).
// - Plain files moved across disks lose their originals in groups, after one
//   sync for the group (MovesToFinish): before any other kind of item, before
//   a source met again, and at the end of run(), cancelled or not.
//
// Keep the batch between the passes (the caller holds it while its question is
// open). run() blocks; call it on one thread at a time, any thread.
#include "platform/files/operations/CopyEntry.h"
#include "platform/files/operations/FileOperations.h"

#include <QHash>
#include <QSet>
#include <QString>
#include <QStringList>
#include <atomic>
#include <optional>

struct stat;

namespace lg {

class FileBatch
{
public:
    // kind is Copy or Move. alsoTaken: names that count as taken for numbered
    // names besides the disk's (the names the user sees listed there).
    FileBatch(FileOpKind kind, const QString &targetFolder, const QStringList &alsoTaken = {});

    struct Outcome
    {
        QList<FileOpResult> results;   // one per item that was tried, in order
        QStringList clashes;           // sources left for the question (Refuse only)
    };
    Outcome run(const QStringList &sources, ConflictPolicy onClash, const std::atomic<bool> *cancel = nullptr);

    FileOpKind kind() const { return m_kind; }
    QString targetFolder() const { return m_folder; }

private:
    FileOpResult transfer(const QString &source, ConflictPolicy policy, const QString &name);
    FileOpResult numbered(const QString &source, bool isFolder);

    QString key(const QString &name) const { return nameKey(name, m_nameCase); }
    bool liesInFolder(const QString &source, const struct stat &st) const;

    FileOpKind m_kind;
    QString m_folder;
    QStringList m_alsoTaken;
    NameCase m_nameCase;
    std::optional<FreeNameFinder> m_names;   // made at the first numbered name
    QSet<QString> m_made;                    // keys of the names this batch put in the folder
    QHash<QString, QString> m_own;           // key of a name -> the batch's item that already holds it there
    CopyContext m_links;                     // the copies of files with several names, for all items
    MovesToFinish m_moves;                   // plain files moved across disks whose originals are still there
};

} // namespace lg
