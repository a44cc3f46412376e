#pragma once
// A rename that never replaces, where the file system lacks RENAME_NOREPLACE.
// Any thread.
#include <QByteArray>

namespace lg {

// A rename that cannot replace where the file system lacks RENAME_NOREPLACE
// (a link for a file, a fresh placeholder for a folder); EEXIST when the name
// is taken. Raw paths; any thread.
int renameWithoutReplacingRaw(const QByteArray &from, const QByteArray &to);

// Moves what the folder from holds into the folder to, on one disk, without
// renaming any folder: a file or a link by a rename onto a name still free
// there, a folder made anew there (or one already there) and filled the same
// way, given its mode and times, and its emptied self removed. 0 or the
// first errno value; what moved stays moved.
int moveEntriesInto(const QByteArray &from, const QByteArray &to);

// Fills the placeholder folder to with what the folder from holds
// (moveEntriesInto), then removes the emptied from; only then the marker
// (a card's placeholder's, in to; may be empty) goes, so a kill before leaves
// it to show that the filling is not finished, and to gets from's mode and
// times. 0 or the first errno value; what moved stays moved.
int fillPlaceholder(const QByteArray &from, const QByteArray &to, const QByteArray &marker);

} // namespace lg
