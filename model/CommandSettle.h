#pragma once
// What follows a file command once its results are in, for every screen
// alike: the thumbnails on disk go with what was moved, renamed or trashed,
// and the failures worth telling the user are picked by one rule. The
// screens only show what it returns. Main thread (the thumbnail cache's).
#include "platform/files/operations/FileOperations.h"

#include <QList>
#include <QString>

class ThumbnailCache;

// The commands are lg::FileOpKind's: Copy, Move (a rename is a move within its
// folder) and Trash.

// What a result does to the thumbnails of its source.
struct ThumbnailChange
{
    enum Kind { Moved, Removed };
    Kind kind = Moved;
    QString from;
    QString to;   // the new place; for Removed, where it is in the Trash
    bool operator==(const ThumbnailChange &) const = default;
};

// Every item that arrived (done, or done but for what its failure names)
// takes its thumbnails along when moved or renamed, and drops them when
// trashed; a copy leaves them, as does an item that did not arrive.
QList<ThumbnailChange> thumbnailChanges(lg::FileOpKind command, const QList<lg::FileOpResult> &results);

// The results to tell, in order: every failure, and every item that arrived
// without something it held; but not a copy or move of an item onto itself
// (it is where it was asked to be), nor an item to be trashed that was
// already gone.
QList<lg::FileOpResult> failuresToTell(lg::FileOpKind command, const QList<lg::FileOpResult> &results);

// Applies thumbnailChanges to cache and returns failuresToTell.
QList<lg::FileOpResult> settleCommand(lg::FileOpKind command, const QList<lg::FileOpResult> &results,
                                      ThumbnailCache &cache);
// The same with the program's thumbnail cache.
QList<lg::FileOpResult> settleCommand(lg::FileOpKind command, const QList<lg::FileOpResult> &results);
