#pragma once
// Notes of moves across disks stopped before they finished: written in the
// journal's folder (see Journal.h) before a move's copy can stand at its
// target, and told once at the next start when the move's items are then in
// both places. Any thread; nothing is shown to the user here.
#include <QByteArray>
#include <QList>
#include <QString>

namespace lg {

// A move across disks from before its copy is put at the target until its
// originals are removed: noted, synced, in the journal (in "move-" entries
// beside the folders' ones) and held locked by this process, so that no kill
// leaves the items in both places without it. The note names the item that
// stood at the target before (a Replace), so that a start after a kill that
// came before the copy was in place does not take that item for the copy.
// finish() drops the note; a note left by a quit (keep()) or by a kill is
// read at the next start. isNoted() is false when the note could not be
// written (the journal's folder cannot be): the caller then removes nothing.
class MoveDeletion
{
public:
    MoveDeletion() = default;
    MoveDeletion(const QString &source, const QString &target);
    bool isNoted() const { return m_fd >= 0; }
    MoveDeletion(const MoveDeletion &) = delete;
    MoveDeletion &operator=(const MoveDeletion &) = delete;
    ~MoveDeletion();   // as finish(), unless keep() was called
    // The delete step ended: the note goes.
    void finish();
    // The delete step was stopped by the quit: the note stays for the next start.
    void keep();

private:
    int m_fd = -1;
    QByteArray m_name;
};

struct StoppedMove
{
    QString source, target;
};
// The moves that a quit or a kill stopped in their delete step, as their notes
// say, whose items are in both places now: the source is there, and so is an
// item at the target other than the one a Replace was to replace. Each note
// goes once read (so each move is told once, and one whose items are not in
// both places is never told). Notes of moves still running in other processes
// stay. Any thread.
QList<StoppedMove> takeStoppedMoves();

} // namespace lg
