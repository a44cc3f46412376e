// The one settle after a file command: thumbnails and what is told.
#include "model/CommandSettle.h"

#include "model/SharedState.h"
#include "model/ThumbnailCache.h"

QList<ThumbnailChange> thumbnailChanges(lg::FileOpKind command, const QList<lg::FileOpResult> &results)
{
    QList<ThumbnailChange> changes;
    if (command == lg::FileOpKind::Copy)
        return changes;
    const ThumbnailChange::Kind kind =
        command == lg::FileOpKind::Trash ? ThumbnailChange::Removed : ThumbnailChange::Moved;
    for (const lg::FileOpResult &result : results)
        if (result.arrived())
            changes.append({kind, result.source, result.target});
    return changes;
}

QList<lg::FileOpResult> failuresToTell(lg::FileOpKind command, const QList<lg::FileOpResult> &results)
{
    QList<lg::FileOpResult> told;
    for (const lg::FileOpResult &result : results) {
        if (result.ok() && !result.hasNotKept())
            continue;
        const bool ontoItself = result.error == lg::FileOpError::SameFile
                             && (command == lg::FileOpKind::Copy || command == lg::FileOpKind::Move);
        const bool alreadyGone = result.error == lg::FileOpError::SourceMissing && command == lg::FileOpKind::Trash;
        if (!ontoItself && !alreadyGone)
            told.append(result);
    }
    return told;
}

QList<lg::FileOpResult> settleCommand(lg::FileOpKind command, const QList<lg::FileOpResult> &results,
                                      ThumbnailCache &cache)
{
    for (const ThumbnailChange &change : thumbnailChanges(command, results)) {
        if (change.kind == ThumbnailChange::Moved)
            cache.fileMoved(change.from, change.to);
        else
            cache.fileRemoved(change.from, change.to);
    }
    return failuresToTell(command, results);
}

QList<lg::FileOpResult> settleCommand(lg::FileOpKind command, const QList<lg::FileOpResult> &results)
{
    return settleCommand(command, results, thumbnailCache());
}
