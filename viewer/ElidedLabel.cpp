#include "viewer/ElidedLabel.h"

#include <QEvent>
#include <QFontMetrics>

#include <algorithm>

ElidedLabel::ElidedLabel(QWidget *parent) : QLabel(parent)
{
    setTextFormat(Qt::PlainText);
    setWordWrap(false);
}

void ElidedLabel::setText(const QString &text)
{
    m_fullText = text;
    elide();
}

void ElidedLabel::elide()
{
    const int width = std::max(0, contentsRect().width() - 2 * std::max(0, margin()));
    const QString shown = fontMetrics().elidedText(m_fullText, Qt::ElideMiddle, width);
    if (shown != QLabel::text())
        QLabel::setText(shown);
}

void ElidedLabel::resizeEvent(QResizeEvent *event)
{
    QLabel::resizeEvent(event);
    elide();
}

void ElidedLabel::changeEvent(QEvent *event)
{
    QLabel::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange)
        elide();
}
