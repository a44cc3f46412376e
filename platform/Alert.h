#pragma once
// Alerts and sheets: window-modal message boxes with fixed texts and buttons,
// shown with open() (never a nested event loop) and answered through a callback.
// Without a parent the alert is application-modal. Tests install a responder that
// answers instead of a person; nothing is then shown. Main thread; a call from
// another thread is passed to the main thread.
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

    static void setResponder(Responder responder);  // empty clears it
    // Alerts shown since the responder was set, for tests to check texts.
    static QList<AlertSpec> shownAlerts();
    static void clearShownAlerts();
    // Closes every open alert without calling its callback (used on reset); a
    // responder's answer not yet delivered is dropped too.
    static void closeAll();
};

} // namespace lg
