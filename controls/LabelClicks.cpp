#include "controls/LabelClicks.h"

#include <QAbstractButton>
#include <QLabel>
#include <QMouseEvent>
#include <QPointer>

namespace {

class LabelClickForwarder : public QObject
{
public:
    LabelClickForwarder(QLabel *label, QAbstractButton *button) : QObject(label), m_button(button) {}

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::MouseButtonRelease)
            return false;
        auto *mouse = static_cast<QMouseEvent *>(event);
        auto *label = static_cast<QWidget *>(watched);
        if (mouse->button() == Qt::LeftButton && label->rect().contains(mouse->position().toPoint()) && m_button
            && m_button->isEnabled())
            m_button->click();
        return false;
    }

private:
    QPointer<QAbstractButton> m_button;
};

} // namespace

void forwardLabelClicks(QLabel *label, QAbstractButton *button)
{
    if (!label || !button)
        return;
    label->setCursor(Qt::PointingHandCursor);
    label->installEventFilter(new LabelClickForwarder(label, button));
}
