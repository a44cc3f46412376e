#pragma once
// Internal to Alert and Panels: shows their dialogs without a nested event loop,
// delivers responders' answers, closes everything on reset, and answers
// everything with its do-nothing answer at quit.
#include <QList>
#include <QPointer>
#include <functional>

class QDialog;
class QWidget;

namespace lg::detail {

class DialogTracker
{
public:
    // What a dialog or a delivery answers at quit (the alert's do-nothing
    // button, a cancelled panel); empty: nothing is called at quit.
    using QuitAnswer = std::function<void()>;

    // Window-modal over parent with open(), or application-modal with show()
    // when there is no parent; kept for closeAll() and answerAllForQuit().
    // Once the shutdown has begun the dialog is not shown: it is deleted and
    // quitAnswer runs queued instead.
    void present(QWidget *parent, QDialog *dialog, QuitAnswer quitAnswer = {});
    // Runs fn queued on the main thread, unless closeAll() comes first; runs
    // quitAnswer instead when the shutdown has begun by then.
    void deliver(std::function<void()> fn, QuitAnswer quitAnswer = {});
    // Closes the open dialogs without emitting their finished() (so without
    // their callbacks) and drops the deliveries not yet run.
    void closeAll();
    // Closes the open dialogs and takes the deliveries not yet run, then calls
    // the quit answer of each (in the order they were shown or queued). Main
    // thread; called once the shutdown has begun.
    void answerAllForQuit();
    // The number of dialogs shown and not yet closed.
    int openCount() const;

private:
    struct Open
    {
        QPointer<QDialog> dialog;
        QuitAnswer quitAnswer;
    };
    struct Pending
    {
        quint64 id = 0;
        QuitAnswer quitAnswer;
    };
    // Empties the open list, closing each dialog without its callback; returns
    // the entries whose dialog was still open and unanswered.
    QList<Open> takeAndCloseOpen();
    QList<Open> m_open;
    QList<Pending> m_pending;
    quint64 m_generation = 0;
    quint64 m_nextId = 0;
};

} // namespace lg::detail
