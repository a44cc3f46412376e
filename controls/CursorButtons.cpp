#include "controls/CursorButtons.h"

buttoncursor::buttoncursor(QWidget *parent)
    : QPushButton(parent)
{
}

void buttoncursor::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    setCursor(Qt::PointingHandCursor);
}

void buttoncursor::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    setCursor(Qt::ArrowCursor);
}

cursorButton::cursorButton(QWidget *parent)
    : QPushButton(parent)
{
}

void cursorButton::enterEvent(QEnterEvent *event)
{
    QPushButton::enterEvent(event);
    setCursor(Qt::PointingHandCursor);
}

void cursorButton::leaveEvent(QEvent *event)
{
    QPushButton::leaveEvent(event);
    setCursor(Qt::ArrowCursor);
}
