#include "platform/DialogTracker.h"

#include "platform/Dispatch.h"

#include <QDialog>

#include <utility>

namespace lg::detail {

void DialogTracker::present(QWidget *parent, QDialog *dialog)
{
    m_open.removeAll(nullptr);
    m_open.append(dialog);
    if (parent) {
        dialog->open();
    } else {
        dialog->setWindowModality(Qt::ApplicationModal);
        dialog->show();
    }
}

void DialogTracker::deliver(std::function<void()> fn)
{
    onMain([this, generation = m_generation, fn = std::move(fn)] {
        if (generation == m_generation)
            fn();
    });
}

void DialogTracker::closeAll()
{
    ++m_generation;
    const QList<QPointer<QDialog>> open = std::exchange(m_open, {});
    for (const QPointer<QDialog> &dialog : open) {
        if (!dialog)
            continue;
        QObject::disconnect(dialog, &QDialog::finished, nullptr, nullptr);
        dialog->hide();
        dialog->deleteLater();
    }
}

} // namespace lg::detail
