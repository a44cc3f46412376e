#pragma once
// Helpers for tests that drive and look at widgets: events sent straight to a
// widget (no window system needed) and its painting read back as pixels.
// Main thread only.
#include <QCoreApplication>
#include <QEnterEvent>
#include <QImage>
#include <QMouseEvent>
#include <QWidget>

#include <cstdlib>

namespace lg::test {

// What the widget paints, as 32-bit ARGB.
inline QImage render(QWidget *widget)
{
    return widget->grab().toImage().convertToFormat(QImage::Format_ARGB32);
}

// Sum of the channel differences (0 for the same colour, 765 at most).
inline int colorDistance(const QColor &a, const QColor &b)
{
    return std::abs(a.red() - b.red()) + std::abs(a.green() - b.green()) + std::abs(a.blue() - b.blue());
}

inline void enter(QWidget *widget, QPointF pos = QPointF(2, 2))
{
    QEnterEvent event(pos, widget->mapToGlobal(pos), widget->mapToGlobal(pos));
    QCoreApplication::sendEvent(widget, &event);
}

inline void leave(QWidget *widget)
{
    QEvent event(QEvent::Leave);
    QCoreApplication::sendEvent(widget, &event);
}

// A press, release, move or double click at pos; button is the one that changed.
inline void sendMouse(QWidget *widget, QEvent::Type type, QPoint pos, Qt::MouseButton button,
                      Qt::MouseButtons buttons)
{
    QMouseEvent event(type, QPointF(pos), widget->mapToGlobal(QPointF(pos)), button, buttons, Qt::NoModifier);
    QCoreApplication::sendEvent(widget, &event);
}

} // namespace lg::test
