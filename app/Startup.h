#pragma once
// The start of the application, shared by main() and the tests: the one look
// every window inherits, and the order in which files named at launch and the
// launch sequence reach the application delegate. Main thread only.
#include <QStringList>

#include <functional>

class AppDelegate;
class QObject;
class QWidget;

// Sets the Fusion style with the dark palette on the application (and on
// tooltips), so that every window, standard dialog, menu and tooltip made
// afterwards draws light text on a dark ground.
// Call once, after the QApplication exists and before any window is made.
void applyApplicationLook();

// Queues the start for when the event loop runs: the files named at launch are
// handed over first (the launch sequence has not begun, so they count as the
// reason the application was started), then the launch sequence runs.
void scheduleLaunch(AppDelegate &delegate, const QStringList &paths);

// Runs work once the first window of the application has been exposed and
// painted, so that what the first screen does not need (starting workers,
// tidying after earlier runs) never delays it; or after latestMs when no
// window shows by then. Nothing runs once context is gone (a quit before).
void afterFirstFrame(QObject *context, std::function<void()> work, int latestMs = 3000);

// Once the first window has been drawn (or, with none, after a moment): the
// cleanup of what killed runs left starts on a thread of its own, and a move
// that a quit or a kill stopped in its delete step is told (tellStoppedMoves),
// then and whenever a disk is mounted (a card its note waits for, back), and
// a Replace a kill stopped whenever the cleanup has settled one.
// Nothing of it runs before the first window.
void afterFirstWindow();

// One alert per Replace within one disk that a kill stopped, once the
// cleanup has settled it, saying what stands where now, names included (see
// takeStoppedReplaces); and one per move that a quit or a kill stopped after
// its copy was put in place (see takeStoppedMoves): it names the move, the step it stopped at
// (before any original was removed, or while they were being removed) and
// says what is so now: that its items are in both places (the copy called
// whole only when compared with what is still in the source) or, where the
// source held nothing but empty folders, that the move is complete. The notes
// and the places they name are read on a thread of their own that nothing
// waits for (a hung share holds up only that thread, never the window or a
// quit); the alerts come back to the main thread. Each such move is told once,
// as a sheet on window (the main window when none is given; nothing when the
// window given is gone by then): the window is raised first, then the sheet
// is shown in front of it. Returns at once.
void tellStoppedMoves(QWidget *window = nullptr);
// A reading of the notes started above is still going.
bool isReadingStoppedMovesForTesting();

// A lost display (a logout, the X server gone, xkill) ends the program the
// way SIGTERM does, with the same exit status (0): Qt's X11 plugin says that
// its connection broke and calls exit(1) at once, from the main thread's event
// processing; the end is taken over right when it says so, runs cleanEnd (the
// steps of a quit: the shutdown begins, open questions are answered as doing
// nothing, the folder list is saved, the background work stops and is waited
// for) and ends the process. Any other exit() from the main thread while the
// guard lives at least begins the shutdown, so that background work stops at
// its next look. One guard at a time, made in main() once the delegate exists;
// it is done with when main() returns.
class EndOnLostDisplay
{
public:
    explicit EndOnLostDisplay(std::function<void()> cleanEnd);
    ~EndOnLostDisplay();
    EndOnLostDisplay(const EndOnLostDisplay &) = delete;
    EndOnLostDisplay &operator=(const EndOnLostDisplay &) = delete;
    // What ends the program once the clean end has run (tests replace it).
    static void setEndForTesting(std::function<void(int status)> end);
};
