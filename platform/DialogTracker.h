#pragma once
// Internal to Alert and Panels: shows their dialogs without a nested event loop,
// delivers responders' answers, and closes everything on reset.
#include <QList>
#include <QPointer>
#include <functional>

class QDialog;
class QWidget;

namespace lg::detail {

class DialogTracker
{
public:
    // Window-modal over parent with open(), or application-modal with show()
    // when there is no parent; kept for closeAll().
    void present(QWidget *parent, QDialog *dialog);
    // Runs fn queued on the main thread, unless closeAll() comes first.
    void deliver(std::function<void()> fn);
    // Closes the open dialogs without emitting their finished() (so without
    // their callbacks) and drops the deliveries not yet run.
    void closeAll();

private:
    QList<QPointer<QDialog>> m_open;
    quint64 m_generation = 0;
};

} // namespace lg::detail
