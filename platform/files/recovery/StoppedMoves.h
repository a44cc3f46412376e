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
// originals are removed: noted in the journal (in "move-" entries
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
    // The copy stands at the target and its originals are about to be
    // removed: the note says so (a new note renamed over it), so that a start
    // after a kill says the step it stopped at; not synced here: the notes of
    // the moves whose originals go together are synced at once (syncNotes).
    // False when it could not be written; the note still names the move then.
    bool removing();
    // Syncs the notes written so far (their folder).
    static void syncNotes();
    // The delete step ended: the note goes.
    void finish();
    // The delete step was stopped by the quit: the note stays for the next start.
    void keep();

private:
    int m_fd = -1;
    QByteArray m_name;
    QByteArray m_text;
};

struct StoppedMove
{
    QString source, target;   // where they are now (a card back at another place is named there)
    // The source still holds an item: the items are in both places. Otherwise
    // all of them had gone and the move is complete (the empty folders it
    // left were removed, unless emptyFolderLeft).
    bool inBothPlaces = true;
    bool emptyFolderLeft = false;   // the emptied source folder could not be removed
    // The step it stopped at: its originals were being removed; otherwise
    // its copy had been put in place and none of them was removed yet.
    bool removalBegun = true;
    // What is still in the source was compared with the copy, entry by
    // entry and byte for byte, and the copy holds all of it (only then is
    // the copy called whole).
    bool copyWhole = false;
};
// The moves that a quit or a kill stopped in their delete step, as their notes
// say, that are to be told now: those whose items are in both places (the
// source still holds an item, and at the target stands an item other than
// the one a Replace was to replace), and those whose source held nothing but
// empty folders, which are removed here (by handle, each only while it is
// still empty; never across into another disk). Each note goes once read
// (so each move is told once, and one whose copy is not at its target is
// never told), except while the disk of its source or of its target is not
// mounted (an unplugged card): the note stays, as the journal's entries do,
// for at most 30 days, and is read again at a later start, with the disk
// found wherever it is mounted then (known by its volume, so another card at
// its place is not taken for it). What is still in the source is compared
// with the copy, entry by entry and byte for byte (copyWhole). Notes of moves
// still running in other processes stay; a note half written by a process
// killed before it was in place goes; once the quit has begun, the notes not
// yet told stay for the next start. Blocking (it reads the places the notes
// name, which may be a share whose server is away): never on the main thread.
QList<StoppedMove> takeStoppedMoves();

} // namespace lg
