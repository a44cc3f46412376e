// The open questions and panels, so a quit can answer them with their do-nothing button.
#include "platform/desktop/DialogTracker.h"

#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QDialog>

#include <algorithm>
#include <utility>

namespace lg::detail {

namespace {

// Queued on the main thread even once the shutdown has begun (which onMain
// would drop): a quit answer still reaches a flow that waits for it, as long
// as the event loop turns once more.
void queueOnMain(std::function<void()> fn)
{
    if (QCoreApplication *app = QCoreApplication::instance())
        QMetaObject::invokeMethod(app, std::move(fn), Qt::QueuedConnection);
}

} // namespace

void DialogTracker::present(QWidget *parent, QDialog *dialog, QuitAnswer quitAnswer)
{
    if (isShuttingDown()) {
        // Nothing is asked once the program is quitting.
        QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
        dialog->deleteLater();
        if (quitAnswer)
            queueOnMain(std::move(quitAnswer));
        return;
    }
    m_open.removeIf([](const Open &open) { return open.dialog.isNull(); });
    m_open.append({dialog, std::move(quitAnswer)});
    if (parent) {
        dialog->open();
    } else {
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
    }
}

void DialogTracker::deliver(std::function<void()> fn, QuitAnswer quitAnswer)
{
    const quint64 id = ++m_nextId;
    m_pending.append({id, std::move(quitAnswer)});
    queueOnMain([this, id, generation = m_generation, fn = std::move(fn)] {
        if (generation != m_generation)
            return;
        const auto at = std::find_if(m_pending.begin(), m_pending.end(),
                                     [id](const Pending &pending) { return pending.id == id; });
        if (at == m_pending.end())
            return;   // answered at quit already
        const QuitAnswer quitAnswer = std::move(at->quitAnswer);
        m_pending.erase(at);
        if (!isShuttingDown())
            fn();
        else if (quitAnswer)
            quitAnswer();
    });
}

QList<DialogTracker::Open> DialogTracker::takeAndCloseOpen()
{
    QList<Open> closed;
    for (const Open &entry : std::exchange(m_open, {})) {
        if (!entry.dialog)
            continue;
        // A dialog being answered right now is hidden already and still
        // delivering that answer: it is not answered a second time.
        const bool answered = entry.dialog->isHidden();
        QObject::disconnect(entry.dialog, &QDialog::finished, nullptr, nullptr);
        entry.dialog->hide();
        entry.dialog->deleteLater();
        if (!answered)
            closed.append(entry);
    }
    return closed;
}

void DialogTracker::closeAll()
{
    ++m_generation;
    m_pending.clear();
    takeAndCloseOpen();
}

void DialogTracker::answerAllForQuit()
{
    QList<QuitAnswer> answers;
    for (const Open &entry : takeAndCloseOpen())
        answers.append(entry.quitAnswer);
    for (const Pending &pending : std::exchange(m_pending, {}))
        answers.append(pending.quitAnswer);
    // Called only once the tracker's lists are settled: an answer may show
    // another dialog (which is then answered at once, see present()).
    for (const QuitAnswer &answer : std::as_const(answers)) {
        if (answer)
            answer();
    }
}

int DialogTracker::openCount() const
{
    int count = 0;
    for (const Open &entry : m_open)
        count += entry.dialog ? 1 : 0;
    return count;
}

} // namespace lg::detail
