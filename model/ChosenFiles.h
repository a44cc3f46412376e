#pragma once
// Files as the user chose them (for a command, in a drag, or as the viewer
// shows them), and how they stand when a command comes to act on them: the
// same file, one that has gone, another file that has taken its name, or the
// same file changed since. A folder is chosen with what it held where that
// matters (a folder replaced or put in the Trash), and counts as changed when
// an entry anywhere below it came, went or changed.
//
// Any thread, but for the marks of a drag (main thread); nothing here shows
// an alert. A folder that holds more than folderContentsBound entries is not
// read to its end: it cannot be vouched for, and is refused.
#include "platform/files/names/FileIdentity.h"
#include "platform/files/operations/FileOperations.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <QStringList>

#include <optional>

class QMimeData;

// The words of a refusal of a file that another one has taken the place of
// since it was shown or chosen.
QString replacedSinceOpenedMessage();
// The words of a refusal of a file that was changed in place since it was shown or chosen.
QString changedSinceOpenedMessage();

// When the file was chosen, for the words of one that has gone since: shown
// in the viewer, chosen for a command, copied or cut to the clipboard, or
// chosen for the Trash.
enum class ChosenWhen { Shown, Chosen, CopiedOrCut, ForTrash };
QString goneMessage(ChosenWhen when);

// Gone: nothing is at the path. Replaced: another file is there (another
// device, inode or birth time). Changed: the same file, written to in place
// (its size or its times differ), or a folder whose entries differ from what
// it held when chosen.
enum class ChosenFileState { Same, Gone, Replaced, Changed };

// How the file whose identity is now stands to the chosen one: Same, Replaced
// or Changed. A folder by its identity alone is the same folder whatever was
// added to it or taken from it (FolderContents says what it held).
ChosenFileState compareChosen(const lg::FileIdentity &chosen, const lg::FileIdentity &now);

// How the file at path stands to the one whose identity was chosen. A file
// is the same only with every part of its identity unchanged. Without a
// chosen identity, anything at path counts as the same.
ChosenFileState chosenFileState(const QString &path, const std::optional<lg::FileIdentity> &chosen);

// The failure of a command refused for state (not Same): SourceMissing with
// goneMessage(when) for a file that has gone, Other with
// replacedSinceOpenedMessage() for one replaced and
// changedSinceOpenedMessage() for one changed.
lg::FileOpResult chosenFileRefusal(const QString &path, ChosenFileState state, ChosenWhen when = ChosenWhen::Shown);

// ---------------------------------------------------------------- what a folder held

// The most entries, at every depth, that a folder is read for.
inline constexpr qsizetype folderContentsBound = 100000;

// What a folder held: every entry below it, by its path inside the folder (by
// its bytes), with its identity. complete is false when the folder held more
// than the bound, or a folder below it could not be read: it is not known then.
struct FolderContents
{
    QHash<QByteArray, lg::FileIdentity> entries;
    bool complete = true;
};

// What the folder at path holds now, read by handle without following links
// and without entering another file system; none when path is no folder.
std::optional<FolderContents> folderContents(const QString &path, qsizetype bound = folderContentsBound);

// Whether now holds what held did: the same names, each the same entry
// (compareChosen), and both read to their end.
bool holdsTheSame(const FolderContents &held, const FolderContents &now);

// The words of a refusal of a folder too large to be checked before acting.
QString tooManyToCheckMessage();

// ---------------------------------------------------------------- the files as chosen

// A file as the user chose it: its path (by its bytes, lg::FileNames), its
// identity then (none: nothing was there), and for a folder whose contents
// matter, what it held then.
struct ChosenItem
{
    QString path;
    std::optional<lg::FileIdentity> identity;
    std::optional<FolderContents> held = std::nullopt;
};

// The items a command will act on, each with its identity now, and the
// refusals of the paths no command acts on: with refuseRawNames, a name that
// is not valid UTF-8 (said with its reason; the screens that act on such a
// name by its bytes pass false). Any thread.
struct ChosenItems
{
    QList<ChosenItem> items;
    QList<lg::FileOpResult> refused;
};
ChosenItems chooseItems(const QStringList &paths, bool refuseRawNames = true);

// The path at which the chosen file is now, or the refusal to act on it: the
// chosen path when the file there is still the one chosen; its new name when
// it was renamed within its folder (found by its device, inode and birth
// time; a file found under two names is not guessed at) and nothing else
// changed, refused as changed under that name when it was written to too;
// otherwise chosenFileRefusal's words. A folder chosen with what it held is
// refused as changed when it holds anything else now. Any thread.
struct SourceNow
{
    ChosenItem item;                        // where and what it is now
    std::optional<lg::FileOpResult> refusal;
};
SourceNow sourceNow(const ChosenItem &chosen, ChosenWhen when = ChosenWhen::Shown);

// ---------------------------------------------------------------- a drag of this program's files

// Marks data, the drag of this program's files, with the files as chosen when
// the drag starts; draggedItems gives them back for a drop of that data (the
// latest drag only), none for data from elsewhere. Main thread.
void markDraggedItems(QMimeData *data, const ChosenItems &chosen);
std::optional<QList<ChosenItem>> draggedItems(const QMimeData *data);
