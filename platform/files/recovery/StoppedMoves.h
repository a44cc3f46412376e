#pragma once
// Notes of moves across disks stopped before they finished: written in the
// journal's folder (see Journal.h) before a move's copy can stand at its
// target, and told once at the next start when the move's items are then in
// both places. Beside them, the notes of Replaces within one disk that a kill
// stopped, written by the cleanup that settles them and told once. Any
// thread; nothing is shown to the user here.
#include <QByteArray>
#include <QList>
#include <QString>

#include <functional>

class QObject;

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
    // The copy stands at the target, none of its originals removed yet: the
    // note says so (a new note renamed over it, not synced), so that a start
    // after a kill takes what stands at a card's target for the copy only
    // then (a card's numbers identify nothing). False when it could not be
    // written.
    bool placed();
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
    bool noteStep(const char *step);
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
    // What stands at the target is known to be its copy. Otherwise (a card,
    // whose note was written before the copy was noted in place) it may be
    // an item put there since: none of the originals was removed then.
    bool copyPlaced = true;
    // What is still in the source was compared with the copy, entry by
    // entry and byte for byte, and the copy holds all of it (only then is
    // the copy called whole).
    bool copyWhole = false;
};
// The moves that a quit or a kill stopped in their delete step, as their notes
// say, that are to be told now: those whose items are in both places (the
// source still holds an item, and at the target stands an item other than
// the one a Replace was to replace; on a card, copyPlaced only where the note
// says the copy was put in place), and those whose source held nothing but
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

// A Replace within one disk that a kill stopped, as the cleanup of what
// killed runs left (Journal.h, Temporaries.h) settled it: finished where its
// record proves what was to be replaced, else with the item that could not
// take its name beside it under a numbered name.
struct StoppedReplace
{
    QString target;   // the item that was being replaced, by its path
    QString beside;   // the item left under another name, by its path; empty when finished
    QString text;     // what stands where now, in words
};
// The Replaces that the cleanup settled since, to be told now, each once:
// told only while what the note names stands there (a note whose item has
// gone meanwhile goes untold), and kept while its folder is not there (an
// unplugged card), for at most 30 days. A note still being settled by another
// thread or process, or one that is not exactly as written (another name
// too, another user's), is left alone. Blocking: never on the main thread.
QList<StoppedReplace> takeStoppedReplaces();
// Main thread: fn runs on the main thread each time the cleanup has noted a
// stopped Replace to be told, while context lives.
void onStoppedReplaceNoted(const QObject *context, std::function<void()> fn);

namespace temporaries {

// What the cleanup did with a Replace a kill stopped.
enum class ReplaceSettled {
    Finished,     // the new item stands under the target's name, the old one was removed
    NewBeside,    // the new item could not take the name: it stands under another
    OldBeside,    // an item set aside could not go back under its name: it stands under another
};
// The note of one such Replace in the journal's folder ("replace-<token>",
// the token of the lock that recorded it), written and synced before the
// step it names and held (locked) until done(), so that it is never read
// half true; the cleanup that a kill stops before done() writes it anew.
class ReplaceNote
{
public:
    ReplaceNote(const QByteArray &folder, const QByteArray &name, const QByteArray &token);
    ~ReplaceNote();
    ReplaceNote(const ReplaceNote &) = delete;
    ReplaceNote &operator=(const ReplaceNote &) = delete;
    // The note says settled, with the item under the name at (a name in the
    // folder); a new note renamed over the one before. False when it cannot
    // be written.
    bool write(ReplaceSettled settled, const QByteArray &at);
    // What it says is so: it is let go, to be told.
    void done();
    // Nothing is to be told: it goes.
    void drop();

private:
    QByteArray m_folder, m_name, m_file;
    int m_fd = -1;
};

} // namespace temporaries

} // namespace lg
