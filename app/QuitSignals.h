#pragma once
// Termination signals as a quit: SIGTERM (logout, shutdown, kill), SIGINT
// (Ctrl+C in a terminal) and SIGHUP (the terminal went away) end the
// application through the same path as the Quit command, so the folder list and
// the settings are saved as after a clean quit.
//
// The signal handler only writes the signal's number to a pipe of our own; a
// socket notifier reads it on the main thread, which emits quitRequested. A
// signal that was ignored when the program started (nohup) stays ignored.
//
// A repeated signal (a session that sends SIGTERM again, an impatient Ctrl+C)
// never cuts the shutdown short while it runs: within graceMs of the first
// signal of any handled kind, a repeat asks for the quit again (which changes
// nothing) and the files being written are finished or abandoned cleanly.
// Only a signal that comes later than that takes its default action, so that
// a program stuck for good can still be ended the usual way (SIGKILL always
// can). One object at a time; the destructor puts the previous handlers back,
// unless a signal has asked for the quit: then they stay for the rest of the
// program's teardown, forwarding nothing.
// A signal that arrives before the event loop runs is delivered once it runs.
#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers. isInstalled() is false (and a line is printed)
    // when the pipe cannot be made or another QuitSignals is active.
    // How long after the first signal a repeat still only asks for the quit
    // (ms); well above the longest clean shutdown.
    static constexpr int defaultGraceMs = 10000;

    explicit QuitSignals(QObject *parent = nullptr, int graceMs = defaultGraceMs);
    ~QuitSignals() override;

    bool isInstalled() const { return m_notifier != nullptr; }
    // The signals handled here.
    static const int handledSignals[3];

Q_SIGNALS:
    // On the main thread, once per signal received.
    void quitRequested(int signalNumber);

private:
    void readSignals();
    QSocketNotifier *m_notifier = nullptr;
};
