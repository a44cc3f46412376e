#pragma once
// Files as they were when a command was chosen (or when the viewer showed
// them), and the refusal of a command that finds, when it acts, that the file
// has gone, that another file has taken its name, or that it was changed
// since. Used by the grid's and the list's file commands and by the viewer.
// Any thread; nothing here shows an alert.
#include "platform/files/names/FileIdentity.h"
#include "platform/files/operations/FileOperations.h"

#include <QHash>
#include <QString>
#include <QStringList>

#include <optional>

// The words of a refusal of a file that another one has taken the place of
// since it was shown or chosen.
QString replacedSinceOpenedMessage();
// The words of a refusal of a file that was changed in place since it was shown or chosen.
QString changedSinceOpenedMessage();

// Gone: nothing is at the path. Replaced: another file is there (another
// device, inode or birth time). Changed: the same file, written to in place
// (its size or its times differ).
enum class ChosenFileState { Same, Gone, Replaced, Changed };

// How the file whose identity is now stands to the chosen one: Same, Replaced
// or Changed. A folder is the same folder whatever was added to it or taken
// from it.
ChosenFileState compareChosen(const lg::FileIdentity &chosen, const lg::FileIdentity &now);

// The words of a refusal of a command on path, whose name is not valid UTF-8
// (lg::FileNames): it is named with U+FFFD for each stray byte.
QString nameIsNotTextMessage(const QString &path);

// How the file at path stands to the one whose identity was chosen. A file
// is the same only with every part of its identity unchanged. Without a
// chosen identity, anything at path counts as the same.
ChosenFileState chosenFileState(const QString &path, const std::optional<lg::FileIdentity> &chosen);

// The failure of a command refused for state (not Same): SourceMissing for a
// file that has gone, Other with replacedSinceOpenedMessage() for one replaced
// and changedSinceOpenedMessage() for one changed.
lg::FileOpResult chosenFileRefusal(const QString &path, ChosenFileState state);

// The identities of paths now, for a command chosen now; a path that names
// nothing is left out.
using ChosenIdentities = QHash<QString, lg::FileIdentity>;
ChosenIdentities identitiesOf(const QStringList &paths);

// The refusal of a command on path, when chosen holds path and the file there
// is no longer that one; none when it may be acted on.
std::optional<lg::FileOpResult> refusalIfChanged(const QString &path, const ChosenIdentities &chosen);
