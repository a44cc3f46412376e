// The files as chosen, what a folder held, and how they stand when a command acts.
#include "model/ChosenFiles.h"

#include "platform/files/names/FileNames.h"
#include "platform/files/names/FolderEntries.h"

#include <QMimeData>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <utility>
#include <vector>

namespace {

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : QStringLiteral("/");
}

// The same file object (device, inode, birth time and type), whatever was
// done to it since.
bool sameFileObject(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    return chosen.sameObject(now) && chosen.birthSeconds == now.birthSeconds
        && chosen.birthNanoseconds == now.birthNanoseconds && chosen.type == now.type;
}

// The same file as chosen, but for what a rename did to it (the inode change
// time moves with a rename, nothing else does).
bool sameButRenamed(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    lg::FileIdentity renamed = now;
    renamed.changedSeconds = chosen.changedSeconds;
    renamed.changedNanoseconds = chosen.changedNanoseconds;
    return renamed == chosen;
}

// The one name in folder under which the chosen file object lies now; none
// when it is not there, or is there under more than one name.
std::optional<QString> renamedWithin(const QString &folder, const lg::FileIdentity &chosen)
{
    std::optional<QString> found;
    bool twice = false;
    const bool read = lg::forEachFolderEntry(folder, [&](const lg::FolderEntry &entry) {
        if (entry.inode != chosen.inode)
            return;   // read without a stat: most entries are other files
        const std::optional<lg::FileIdentity> now = lg::fileIdentityAt(entry.folderFd, entry.name);
        if (!now || !sameFileObject(chosen, *now))
            return;
        twice = twice || found.has_value();
        found = folder + QLatin1Char('/') + lg::FileNames::fromNative(QByteArray(entry.name));
    });
    return !read || twice ? std::nullopt : found;
}

// A folder and the descriptor it was opened by.
struct OpenFolder
{
    int fd;
    QByteArray path;   // inside the folder read, "" for itself
};

const QString dragFormat = QStringLiteral("application/x-lumengallery-drag");

struct DragMark
{
    quint64 token = 0;
    QList<ChosenItem> items;
};

DragMark &latestDrag()
{
    static DragMark mark;
    return mark;
}

} // namespace

QString replacedSinceOpenedMessage()
{
    return QStringLiteral("The item was replaced since it was opened.");
}

QString changedSinceOpenedMessage()
{
    return QStringLiteral("The item was changed since it was opened.");
}

QString goneMessage(ChosenWhen when)
{
    switch (when) {
    case ChosenWhen::Shown:
        break;
    case ChosenWhen::Chosen:
        return QStringLiteral("The item is no longer where it was when it was chosen.");
    case ChosenWhen::CopiedOrCut:
        return QStringLiteral("The item is no longer where it was copied or cut from.");
    case ChosenWhen::ForTrash:
        return QStringLiteral("The item no longer exists.");
    }
    return QStringLiteral("The item is no longer where it was opened from.");
}

QString tooManyToCheckMessage()
{
    return QStringLiteral("The folder holds more than %1 items, too many to be checked before it is acted on.")
        .arg(folderContentsBound);
}

ChosenFileState compareChosen(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    if (!sameFileObject(chosen, now))
        return ChosenFileState::Replaced;
    if (chosen.type == S_IFDIR)
        return ChosenFileState::Same;
    return chosen == now ? ChosenFileState::Same : ChosenFileState::Changed;
}

ChosenFileState chosenFileState(const QString &path, const std::optional<lg::FileIdentity> &chosen)
{
    const std::optional<lg::FileIdentity> now = lg::fileIdentity(path);
    if (!now) {
        return lg::existsOrLink(path) ? ChosenFileState::Same : ChosenFileState::Gone;
    }
    return chosen ? compareChosen(*chosen, *now) : ChosenFileState::Same;
}

lg::FileOpResult chosenFileRefusal(const QString &path, ChosenFileState state, ChosenWhen when)
{
    lg::FileOpResult failed;
    failed.source = path;
    if (state == ChosenFileState::Gone) {
        failed.error = lg::FileOpError::SourceMissing;
        failed.message = goneMessage(when);
    } else {
        failed.error = lg::FileOpError::Other;
        failed.message = state == ChosenFileState::Changed ? changedSinceOpenedMessage() : replacedSinceOpenedMessage();
    }
    return failed;
}

std::optional<FolderContents> folderContents(const QString &path, qsizetype bound)
{
    const int top = ::open(lg::FileNames::toNative(path).constData(),
                           O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (top < 0)
        return std::nullopt;
    const std::optional<lg::FileIdentity> topIdentity = lg::fileIdentityOf(top);
    if (!topIdentity) {
        ::close(top);
        return std::nullopt;
    }
    FolderContents contents;
    std::vector<OpenFolder> pending{{top, QByteArray()}};
    while (!pending.empty()) {
        const OpenFolder folder = pending.back();
        pending.pop_back();
        const bool read = lg::forEachEntryOf(folder.fd, [&](const lg::FolderEntry &entry) {
            if (contents.entries.size() >= bound) {
                contents.complete = false;
                return false;
            }
            const QByteArray name(entry.name);
            const QByteArray inside = folder.path.isEmpty() ? name : folder.path + '/' + name;
            const std::optional<lg::FileIdentity> identity = lg::fileIdentityAt(folder.fd, entry.name);
            if (!identity) {
                contents.complete = false;   // gone while read, or unreadable: not known
                return true;
            }
            contents.entries.insert(inside, *identity);
            // Down into folders of the same file system, never through a link.
            if (identity->type == S_IFDIR && identity->device == topIdentity->device) {
                const int below = ::openat(folder.fd, entry.name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
                if (below >= 0)
                    pending.push_back({below, inside});
                else
                    contents.complete = false;
            }
            return true;
        });
        ::close(folder.fd);
        if (!read)
            contents.complete = false;
        if (!contents.complete && contents.entries.size() >= bound)
            break;
    }
    for (const OpenFolder &left : pending)
        ::close(left.fd);
    return contents;
}

bool holdsTheSame(const FolderContents &held, const FolderContents &now)
{
    if (!held.complete || !now.complete || held.entries.size() != now.entries.size())
        return false;
    for (auto it = held.entries.cbegin(); it != held.entries.cend(); ++it) {
        const auto found = now.entries.constFind(it.key());
        if (found == now.entries.cend() || compareChosen(it.value(), found.value()) != ChosenFileState::Same)
            return false;
    }
    return true;
}

ChosenItems chooseItems(const QStringList &paths, bool refuseRawNames)
{
    ChosenItems chosen;
    chosen.items.reserve(paths.size());
    for (const QString &path : paths) {
        if (refuseRawNames && lg::FileNames::hasRawBytes(path)) {
            lg::FileOpResult refused;
            refused.error = lg::FileOpError::Other;
            refused.source = path;
            refused.message = lg::FileNames::notTextMessage(path);
            chosen.refused.append(refused);
            continue;
        }
        chosen.items.append({path, lg::fileIdentity(path), std::nullopt});
    }
    return chosen;
}

SourceNow sourceNow(const ChosenItem &chosen, ChosenWhen when)
{
    // A folder chosen with what it held holds that still, wherever it is now.
    const auto checkHeld = [&chosen](SourceNow found) {
        if (found.refusal || !chosen.held)
            return found;
        const std::optional<FolderContents> now = folderContents(found.item.path);
        if (now && holdsTheSame(*chosen.held, *now))
            return found;
        found.refusal = chosenFileRefusal(found.item.path, ChosenFileState::Changed);
        if (!chosen.held->complete || (now && !now->complete))
            found.refusal->message = tooManyToCheckMessage();
        return found;
    };
    const ChosenFileState state = chosenFileState(chosen.path, chosen.identity);
    if (state == ChosenFileState::Same)
        return checkHeld({chosen, std::nullopt});
    if (state == ChosenFileState::Gone && chosen.identity) {
        // Renamed within its folder: followed while nothing else changed, and
        // refused under its new name when it was written to as well.
        if (const std::optional<QString> renamed = renamedWithin(folderOf(chosen.path), *chosen.identity)) {
            const std::optional<lg::FileIdentity> now = lg::fileIdentity(*renamed);
            ChosenItem moved{*renamed, now, chosen.held};
            if (now && (sameButRenamed(*chosen.identity, *now) || now->type == S_IFDIR))
                return checkHeld({moved, std::nullopt});
            return {moved, chosenFileRefusal(*renamed, ChosenFileState::Changed)};
        }
    }
    return {chosen, chosenFileRefusal(chosen.path, state, when)};
}

void markDraggedItems(QMimeData *data, const ChosenItems &chosen)
{
    DragMark &mark = latestDrag();
    ++mark.token;
    mark.items = chosen.items;
    data->setData(dragFormat, QByteArray::number(mark.token));
}

std::optional<QList<ChosenItem>> draggedItems(const QMimeData *data)
{
    const DragMark &mark = latestDrag();
    if (!data || !data->hasFormat(dragFormat) || mark.token == 0
        || data->data(dragFormat) != QByteArray::number(mark.token))
        return std::nullopt;
    return mark.items;
}
