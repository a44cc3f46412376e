#pragma once
// Termination signals as a quit: SIGTERM (logout, shutdown, kill), SIGINT
// (Ctrl+C in a terminal) and SIGHUP (the terminal went away) end the
// application through the same path as the Quit command, so the folder list and
// the settings are saved as after a clean quit.
//
// The signal handler only writes the signal's number to a pipe of our own; a
// socket notifier reads it on the main thread, which emits quitRequested. A
// signal that was ignored when the program started (nohup) stays ignored; a
// second signal of a kind takes its default action, so a program stuck before
// its quit still ends. One object at a time; the destructor puts the previous
// handlers back. A signal that arrives before the event loop runs is delivered
// once it runs.
#include <QObject>

class QSocketNotifier;

class QuitSignals : public QObject
{
    Q_OBJECT
public:
    // Installs the handlers. isInstalled() is false (and a line is printed)
    // when the pipe cannot be made or another QuitSignals is active.
    explicit QuitSignals(QObject *parent = nullptr);
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
