#pragma once
// Alerts and sheets: window-modal message boxes with fixed texts and buttons,
// shown with open() (never a nested event loop) and answered through a callback.
// Without a parent the alert is application-modal. Tests install a responder that
// answers instead of a person; nothing is then shown. Main thread; a call from
// another thread is passed to the main thread.
//
// A quit never waits for an answer: answerAllForQuit() closes every open alert
// as its do-nothing button (see AlertSpec::doNothingButton), and once the
// shutdown has begun (lg::beginShutdown) every answer, the user's or a
// responder's, arrives as the do-nothing button and no new alert is shown.
#include <QString>
#include <QStringList>
#include <functional>

class QWidget;

namespace lg {

struct AlertSpec
{
    enum class Style { Informational, Warning, Critical };
    QString title;        // the message text (bold line)
    QString text;         // the informative text
    QStringList buttons;  // left to right; the first is the default; empty means "OK".
                          // Escape answers with a "Cancel" button or the only button.
    Style style = Style::Warning;
    // The index of the button that changes nothing: the answer at quit. -1
    // finds it by name: "Cancel", "Stop", "No" or a "Don't ..." button (the
    // last such one), else the only button. An alert without one is closed at
    // quit without its callback.
    int doNothingButton = -1;
};

class Alert
{
public:
    // Index of the pressed button (0 for the first), delivered on the main thread
    // after show() has returned.
    using Callback = std::function<void(int buttonIndex)>;
    using Responder = std::function<int(const AlertSpec &)>;

    static void show(QWidget *parent, const AlertSpec &spec, Callback done = {});
    // Convenience for a one-button "OK" alert.
    static void inform(QWidget *parent, const QString &title, const QString &text = QString(),
                       Callback done = {});

    // The application's active window, which alerts without another parent
    // open on; nullptr when there is none (or no widget application).
    static QWidget *activeWindow();

    static void setResponder(Responder responder);  // empty clears it
    // Alerts shown since the responder was set, for tests to check texts.
    static QList<AlertSpec> shownAlerts();
    static void clearShownAlerts();
    // Closes every open alert without calling its callback (used on reset); a
    // responder's answer not yet delivered is dropped too.
    static void closeAll();

    // The do-nothing button of spec (see AlertSpec::doNothingButton); -1 when
    // it has none.
    static int doNothingIndex(const AlertSpec &spec);
    // At quit, once lg::beginShutdown has run: closes every open alert and
    // takes every responder's answer not yet delivered, and calls their
    // callbacks with the do-nothing button (those without one are not called).
    static void answerAllForQuit();
    // The number of alerts on screen now.
    static int openCount();
};

} // namespace lg
