#pragma once
// Notes of moves across disks stopped in their delete step: written in the
// journal's folder (see Journal.h) while a move removes its originals, and
// told once at the next start. Any thread; nothing is shown to the user here.
#include <QByteArray>
#include <QList>
#include <QString>

namespace lg {

// A move across disks while it removes its originals (after its copy was
// made whole): noted, synced, in the journal (in "move-" entries beside the
// folders' ones) and held locked by this process. finish() drops the note; a
// note left by a quit (keep()) or by a kill names a move whose items are now
// in both places, for the next start to tell once.
class MoveDeletion
{
public:
    MoveDeletion() = default;
    MoveDeletion(const QString &source, const QString &target);
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
// say; each note goes once read (so each move is told once). Notes of moves
// still running in other processes stay. Any thread; reads only the journal.
QList<StoppedMove> takeStoppedMoves();

} // namespace lg
