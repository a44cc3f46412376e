#include "sidebar/FolderScan.h"

#include "app/Essentials.h"
#include "model/NameOrder.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/names/FolderEntries.h"
#include "platform/runtime/Dispatch.h"
#include "sidebar/sideMenuvc.h"

#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>

std::atomic<bool> addingFoldersCancelled{false};
std::atomic<bool> isSidebarTreeUpdating{false};

namespace {

// One folder as read from the disk: its identity and the entries that are
// folders or symbolic links to folders, in name order (compareNames).
struct Entry
{
    QString name;
    bool hidden = false;
    bool linkToFolder = false;  // a symbolic link whose target is a folder
};

struct Listing
{
    bool ok = false;
    dev_t device = 0;
    ino_t inode = 0;
    std::vector<Entry> folders;
};

struct FolderId
{
    dev_t device;
    ino_t inode;
    bool operator==(const FolderId &other) const { return device == other.device && inode == other.inode; }
};

// Reads a folder. Regular files are passed over by their directory-entry type,
// without a stat of their own; symbolic links are looked through only when
// followLinks is set (to tell links to folders from other links).
Listing readFolder(const QString &path, bool followLinks)
{
    Listing listing;
    struct stat self;
    listing.ok = lg::forEachFolderEntry(path, [&](const lg::FolderEntry &entry) {
        const char *name = entry.name;
        unsigned char type = entry.type;
        if (type == DT_UNKNOWN) {
            struct stat st;
            if (::fstatat(entry.folderFd, name, &st, AT_SYMLINK_NOFOLLOW) != 0)
                return;  // vanished meanwhile
            type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
        }
        if (type == DT_DIR) {
            listing.folders.push_back({lg::FileNames::fromNative(QByteArray(name)), name[0] == '.', false});
        } else if (type == DT_LNK && followLinks) {
            struct stat target;
            if (::fstatat(entry.folderFd, name, &target, 0) == 0 && S_ISDIR(target.st_mode))
                listing.folders.push_back({lg::FileNames::fromNative(QByteArray(name)), name[0] == '.', true});
        }
    }, &self);
    if (!listing.ok)
        return listing;
    listing.device = self.st_dev;
    listing.inode = self.st_ino;
    // Shown by name, as the folder listing is (the file system gives hash order).
    std::stable_sort(listing.folders.begin(), listing.folders.end(),
                     [](const Entry &a, const Entry &b) { return compareNames(a.name, b.name) < 0; });
    return listing;
}

QString childPath(const QString &parent, const QString &name)
{
    if (parent.endsWith(QLatin1Char('/')))
        return parent + name;
    return parent + QLatin1Char('/') + name;
}

// A folder path as the scans use it: absolute, without a trailing separator.
QString scanPath(const QString &path)
{
    QString cleaned = path;
    while (cleaned.size() > 1 && cleaned.endsWith(QLatin1Char('/')))
        cleaned.chop(1);
    return cleaned;
}

} // namespace

// ---------------------------------------------------------------- FolderRecord

FolderRecord FolderRecord::make(const QUrl &folder)
{
    FolderRecord record;
    record.url1 = folder;
    // The title a person reads: a byte that is not UTF-8 shows as U+FFFD.
    record.name = lg::FileNames::shown(QFileInfo(scanPath(lg::FileNames::pathOf(folder))).fileName());
    return record;
}

int FolderRecord::descendantCount() const
{
    int count = 0;
    std::vector<const FolderRecord *> pending{this};
    while (!pending.empty()) {
        const FolderRecord *record = pending.back();
        pending.pop_back();
        count += int(record->arrpath.size());
        for (const FolderRecord &child : record->arrpath)
            pending.push_back(&child);
    }
    return count;
}

// ---------------------------------------------------------------- FolderListings

void FolderListings::store(const QString &folderPath, const QStringList &subfolderNames)
{
    m_listings.insert(folderPath, subfolderNames);
}

const QStringList *FolderListings::find(const QString &folderPath) const
{
    const auto it = m_listings.constFind(folderPath);
    return it == m_listings.constEnd() ? nullptr : &*it;
}

// ---------------------------------------------------------------- ScanControl

bool ScanControl::aborted() const
{
    return (m_abort && m_abort->load()) || lg::isShuttingDown();
}

bool ScanControl::waitWhilePaused() const
{
    while (stopAddingFolders.load() && !aborted())
        std::this_thread::sleep_for(std::chrono::milliseconds(pollIntervalMs));
    return !aborted();
}

bool ScanControl::checkPoint() const
{
    return waitWhilePaused() && !addingFoldersCancelled.load();
}

bool isPhotosLibraryPath(const QString &path)
{
    return QFileInfo(scanPath(path)).suffix().toLower() == QLatin1String("photoslibrary");
}

// ---------------------------------------------------------------- counting

std::optional<int> countSubfolders(const QString &folderPath, const ScanControl &control, FolderListings *listings)
{
    struct Frame
    {
        QString path;
        FolderId id;
        std::vector<Entry> folders;
        size_t next = 0;
    };
    const QString root = scanPath(folderPath);
    Listing first = readFolder(root, true);
    if (!first.ok)
        return std::nullopt;

    // Depth-first, in listing order, without recursion; the folders of the
    // current branch are known by device and inode so that a loop (a folder
    // mounted inside itself) is not entered again.
    std::vector<Frame> stack;
    auto enter = [&stack, listings](const QString &path, Listing &&listing) {
        if (listings) {
            QStringList names;
            for (const Entry &entry : listing.folders) {
                if (!entry.hidden && !entry.linkToFolder)
                    names.append(entry.name);
            }
            listings->store(path, names);
        }
        stack.push_back({path, {listing.device, listing.inode}, std::move(listing.folders), 0});
    };
    enter(root, std::move(first));

    int count = 0;
    while (!stack.empty()) {
        Frame &frame = stack.back();
        if (frame.next >= frame.folders.size()) {
            stack.pop_back();
            continue;
        }
        const Entry entry = frame.folders[frame.next++];
        if (entry.hidden)
            continue;  // neither counted nor entered
        if (!control.waitWhilePaused())
            return 0;
        if (addingFoldersCancelled.load())
            return 0;
        ++count;
        if (entry.linkToFolder)
            continue;  // links are counted, never followed
        const QString path = childPath(frame.path, entry.name);
        Listing listing = readFolder(path, true);
        if (!listing.ok)
            continue;  // unreadable or vanished: nothing below it counts
        const FolderId id{listing.device, listing.inode};
        bool onBranch = false;
        for (const Frame &open : stack)
            onBranch = onBranch || open.id == id;
        if (onBranch)
            continue;
        enter(path, std::move(listing));  // invalidates frame
    }
    return count;
}

// ---------------------------------------------------------------- recording

namespace {

void scanLevel(const QString &path, FolderRecord &record, ScanContext &context, std::vector<FolderId> &branch)
{
    // The sub-folders to take, in listing order.
    QStringList names;
    if (context.listings) {
        const QStringList *listed = context.listings->find(path);
        if (!listed)
            return;
        names = *listed;
    } else {
        Listing listing = readFolder(path, false);
        if (!listing.ok)
            return;  // unreadable or vanished: no sub-folders
        const FolderId id{listing.device, listing.inode};
        for (const FolderId &open : branch) {
            if (open == id)
                return;
        }
        branch.push_back(id);
        for (const Entry &entry : listing.folders) {
            if (!entry.hidden && !entry.linkToFolder)
                names.append(entry.name);
        }
    }

    int counter = 0;  // the progress of this level
    for (const QString &name : std::as_const(names)) {
        if (!context.control.checkPoint())
            break;
        const QString child = childPath(path, name);
        const QUrl url = lg::FileNames::urlOf(child);
        bool ringMoves = false;
        if (++counter > 5) {
            counter = 0;
            ringMoves = true;
        }
        if (context.progress)
            context.progress(url, ringMoves);
        record.arrpath.push_back(FolderRecord::make(url));
        if (isPhotosLibraryPath(child))
            continue;  // a Photos library is recorded, never entered
        scanLevel(child, record.arrpath.back(), context, branch);
    }
    if (!context.listings)
        branch.pop_back();
}

} // namespace

void sideMenuvc::scanFolderTree(const QString &folderPath, FolderRecord &record, ScanContext &context)
{
    std::vector<FolderId> branch;
    scanLevel(scanPath(folderPath), record, context, branch);
}
