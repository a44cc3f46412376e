#pragma once
// The start of the application, shared by main() and the tests: the one look
// every window inherits, and the order in which files named at launch and the
// launch sequence reach the application delegate. Main thread only.
#include <QStringList>

#include <functional>

class AppDelegate;
class QObject;

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
// that a quit or a kill stopped in its delete step is told (tellStoppedMoves).
// Nothing of it runs before the first window.
void afterFirstWindow();

// One alert per move that a quit or a kill stopped while it removed its
// originals: it names the move and says its items are now in both places.
// Each such move is told once.
void tellStoppedMoves();
