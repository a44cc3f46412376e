#pragma once
// Main-thread and background work, and the end of both at quit.
//
// Callable from any thread unless said otherwise. What is meant for the main
// thread only ever runs there: with no application object (before it is made,
// or while it is being destroyed) or once the shutdown has begun, what is
// handed to the main thread is dropped, never run on the caller's thread.
//
// At quit the main thread calls beginShutdown(), as soon as the quit is asked
// for (before the open questions are answered as doing nothing, see
// Alert::answerAllForQuit): from then on onMain drops what it is given, work
// handed to a pool through lg::runThenCallback (Background.h) that has not
// started is dropped, a wait on a Completion ends, and long background loops
// see isShuttingDown() and stop at their next look. No background work may
// wait for the main thread without looking at isShuttingDown() meanwhile: the
// main thread no longer serves it. Once the event loop has ended, main() calls
// drainBackgroundWork(), which runs the stop steps registered with onShutdown
// and waits for the shared pool and every registered pool, before the widgets
// and the application object go.
#include <QObject>

#include <atomic>
#include <functional>

class QThreadPool;

namespace lg {

// Queues fn onto the main thread (runs later even when called from it).
// Dropped when there is no application object or the shutdown has begun,
// also when that happens while fn waits in the queue.
void onMain(std::function<void()> fn);
// Runs fn on the main thread and waits for it; runs it at once when already
// there. Dropped (returning at once) off the main thread when there is no
// application object or the shutdown has begun: the main thread no longer
// takes work then, and may be waiting for the caller.
// Never call it from work that the main thread waits on.
void onMainAndWait(std::function<void()> fn);
// Calls fn after ms on the context's thread (the main thread for widgets and
// controllers; with no context, on the main thread), through lg::Timer so tests
// advance it with a FakeClock; nothing happens when context is destroyed first.
// May be called from any thread.
void afterDelay(int ms, const QObject *context, std::function<void()> fn);
// True on the thread that started the program (the application's thread).
bool isMainThread();

// ---- The end of the program ----

// The program is quitting: work handed to the main thread, or to a pool and
// not started yet, is dropped from now on, and every wait on a Completion
// ends. Main thread; idempotent.
void beginShutdown();
// True once the shutdown has begun: a long background loop checks it at each
// step and stops, its result unwanted.
bool isShuttingDown();
// A pool of its own whose work drainBackgroundWork waits for too. The pool
// leaves the list when it is destroyed; registering it twice counts once.
void registerPool(QThreadPool *pool);
// A stop step for work that is neither on the shared pool nor a registered
// one (a thread of its own): drainBackgroundWork calls stopAndWait on the main
// thread, which makes the work stop and waits until it has. Nothing runs when
// context is destroyed first. Main thread.
void onShutdown(const QObject *context, std::function<void()> stopAndWait);
// Main thread, once the event loop has ended and before the widgets and the
// application object go: begins the shutdown if it has not begun, runs the
// stop steps and waits until the shared pool and every registered pool are
// idle. Returns how long that took (ms).
qint64 drainBackgroundWork();
// Tests: undoes beginShutdown and forgets the stop steps.
void resetShutdownForTesting();

// ---- Waiting for another thread ----

// Something one thread waits for and another says is done, once. The wait
// ends as soon as it is done or the shutdown begins, whichever comes first,
// without looking again now and then. Any thread.
class Completion
{
public:
    // Done: every wait on it ends. Idempotent.
    void complete();
    // Waits until it is done, the shutdown has begun or ms have passed
    // (negative: no limit); true when it is done.
    bool wait(int ms = -1) const;

private:
    std::atomic<bool> m_complete{false};
};

} // namespace lg
