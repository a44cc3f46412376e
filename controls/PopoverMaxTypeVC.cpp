#include "controls/PopoverMaxTypeVC.h"

#include <QGuiApplication>
#include <QHBoxLayout>
#include <QPainter>
#include <QPainterPath>
#include <QPropertyAnimation>
#include <QScreen>

#include <algorithm>

namespace {
// The one dark look: a dark bubble with a light hairline and light text.
const QColor kBubbleColor(0x33, 0x33, 0x33);
const QColor kBubbleBorder(255, 255, 255, 48);
const QColor kTextColor(0xe6, 0xe6, 0xe6);
constexpr int kFadeMs = 150;
constexpr int kHorizontalPadding = 10;
constexpr int kVerticalPadding = 6;
}

PopoverMaxTypeVC::PopoverMaxTypeVC(QWidget *parent)
    : QWidget(parent, Qt::ToolTip | Qt::FramelessWindowHint | Qt::WindowDoesNotAcceptFocus
                          | Qt::WindowTransparentForInput)
    , m_fade(new QPropertyAnimation(this, "windowOpacity", this))
{
    setObjectName(QStringLiteral("PopoverMaxTypeVC"));
    setAttribute(Qt::WA_ShowWithoutActivating);

    auto *label = new QLabel(this);
    label->setObjectName(QStringLiteral("message"));
    label->setTextFormat(Qt::PlainText);
    label->setWordWrap(false);
    label->setAlignment(Qt::AlignCenter);
    QPalette palette = label->palette();
    palette.setColor(QPalette::WindowText, kTextColor);
    label->setPalette(palette);
    message = label;

    auto *layout = new QHBoxLayout(this);
    layout->setSizeConstraint(QLayout::SetFixedSize);
    layout->addWidget(label);
    updateMargins();

    m_fade->setDuration(kFadeMs);
    m_fade->setStartValue(0.0);
    m_fade->setEndValue(1.0);
}

PopoverMaxTypeVC::~PopoverMaxTypeVC() = default;

void PopoverMaxTypeVC::updateMargins()
{
    int left = kHorizontalPadding, right = kHorizontalPadding;
    int top = kVerticalPadding, bottom = kVerticalPadding;
    // Room for the arrow on the side that faces the anchor.
    switch (m_edge) {
    case Qt::BottomEdge: top += kArrowLength; break;
    case Qt::TopEdge: bottom += kArrowLength; break;
    case Qt::RightEdge: left += kArrowLength; break;
    case Qt::LeftEdge: right += kArrowLength; break;
    }
    if (QLayout *l = layout())
        l->setContentsMargins(left, top, right, bottom);
}

Qt::Edge PopoverMaxTypeVC::screenEdge(RectEdge edge)
{
    switch (edge) {
    case MinXEdge: return Qt::LeftEdge;
    case MinYEdge: return Qt::TopEdge;
    case MaxXEdge: return Qt::RightEdge;
    case MaxYEdge: return Qt::BottomEdge;
    }
    return Qt::TopEdge;
}

void PopoverMaxTypeVC::showHint(const QString &text, QWidget *anchor, Qt::Edge preferredEdge)
{
    messageValue = text;
    showRelativeToRect(anchor->rect(), anchor, preferredEdge);
    if (message)
        message->setText(messageValue);
}

bool PopoverMaxTypeVC::showHintFor(QWidget *area, HintTable hints)
{
    for (const auto &[control, text] : hints) {
        if (!control || control != area)
            continue;
        showHint(QString::fromLatin1(text), control, MinYEdge);
        return true;
    }
    return false;
}

void PopoverMaxTypeVC::showRelativeToRect(const QRect &rect, QWidget *positioningView, Qt::Edge preferredEdge)
{
    if (!positioningView)
        return;
    m_anchor = QRect(positioningView->mapToGlobal(rect.topLeft()), rect.size());
    m_preferredEdge = preferredEdge;
    m_edge = preferredEdge;
    updateMargins();
    if (QLayout *l = layout())
        l->activate();
    adjustSize();
    reposition();
    if (m_animates && !isVisible()) {
        setWindowOpacity(0.0);
        show();
        m_fade->start();
    } else {
        m_fade->stop();
        setWindowOpacity(1.0);
        show();
    }
}

void PopoverMaxTypeVC::reposition()
{
    if (m_anchor.isNull() || m_repositioning)
        return;
    m_repositioning = true;
    const QSize size = this->size();
    QScreen *screen = QGuiApplication::screenAt(m_anchor.center());
    if (!screen)
        screen = QGuiApplication::primaryScreen();
    const QRect area = screen ? screen->availableGeometry() : QRect(QPoint(0, 0), QSize(1 << 20, 1 << 20));

    auto placeOn = [&](Qt::Edge edge) {
        switch (edge) {
        case Qt::TopEdge:
            return QPoint(m_anchor.center().x() - size.width() / 2, m_anchor.top() - size.height());
        case Qt::BottomEdge:
            return QPoint(m_anchor.center().x() - size.width() / 2, m_anchor.bottom() + 1);
        case Qt::LeftEdge:
            return QPoint(m_anchor.left() - size.width(), m_anchor.center().y() - size.height() / 2);
        case Qt::RightEdge:
            return QPoint(m_anchor.right() + 1, m_anchor.center().y() - size.height() / 2);
        }
        return QPoint();
    };
    auto fits = [&](Qt::Edge edge) {
        const QRect r(placeOn(edge), size);
        switch (edge) {
        case Qt::TopEdge: return r.top() >= area.top();
        case Qt::BottomEdge: return r.bottom() <= area.bottom();
        case Qt::LeftEdge: return r.left() >= area.left();
        case Qt::RightEdge: return r.right() <= area.right();
        }
        return true;
    };
    auto opposite = [](Qt::Edge edge) {
        switch (edge) {
        case Qt::TopEdge: return Qt::BottomEdge;
        case Qt::BottomEdge: return Qt::TopEdge;
        case Qt::LeftEdge: return Qt::RightEdge;
        case Qt::RightEdge: return Qt::LeftEdge;
        }
        return edge;
    };

    Qt::Edge edge = m_preferredEdge;
    if (!fits(edge) && fits(opposite(edge)))
        edge = opposite(edge);
    if (edge != m_edge) {
        m_edge = edge;
        updateMargins();
        if (QLayout *l = layout())
            l->activate();
        adjustSize();
    }
    const QSize finalSize = this->size();
    QPoint pos = placeOn(edge);
    // Slide along the anchor's side to stay on the screen.
    if (edge == Qt::TopEdge || edge == Qt::BottomEdge)
        pos.setX(std::clamp(pos.x(), area.left(), std::max(area.left(), area.right() - finalSize.width() + 1)));
    else
        pos.setY(std::clamp(pos.y(), area.top(), std::max(area.top(), area.bottom() - finalSize.height() + 1)));
    move(pos);

    // The arrow points at the anchor's middle, kept clear of the corners.
    const bool horizontal = edge == Qt::TopEdge || edge == Qt::BottomEdge;
    const qreal along = horizontal ? m_anchor.center().x() + 0.5 - pos.x() : m_anchor.center().y() + 0.5 - pos.y();
    const qreal extent = horizontal ? finalSize.width() : finalSize.height();
    const qreal margin = kCornerRadius + kArrowWidth / 2.0;
    m_arrowCentre = extent > 2 * margin ? std::clamp(along, margin, extent - margin) : extent / 2;

    setMask(QRegion(bubblePath().toFillPolygon().toPolygon()));
    update();
    m_repositioning = false;
}

QPainterPath PopoverMaxTypeVC::bubblePath() const
{
    QRectF body = QRectF(rect()).adjusted(0.5, 0.5, -0.5, -0.5);
    switch (m_edge) {
    case Qt::BottomEdge: body.setTop(body.top() + kArrowLength); break;
    case Qt::TopEdge: body.setBottom(body.bottom() - kArrowLength); break;
    case Qt::RightEdge: body.setLeft(body.left() + kArrowLength); break;
    case Qt::LeftEdge: body.setRight(body.right() - kArrowLength); break;
    }
    QPainterPath path;
    path.addRoundedRect(body, kCornerRadius, kCornerRadius);
    QPainterPath arrow;
    const qreal half = kArrowWidth / 2.0;
    switch (m_edge) {
    case Qt::BottomEdge:
        arrow.moveTo(m_arrowCentre - half, body.top() + 1);
        arrow.lineTo(m_arrowCentre, 0.5);
        arrow.lineTo(m_arrowCentre + half, body.top() + 1);
        break;
    case Qt::TopEdge:
        arrow.moveTo(m_arrowCentre - half, body.bottom() - 1);
        arrow.lineTo(m_arrowCentre, height() - 0.5);
        arrow.lineTo(m_arrowCentre + half, body.bottom() - 1);
        break;
    case Qt::RightEdge:
        arrow.moveTo(body.left() + 1, m_arrowCentre - half);
        arrow.lineTo(0.5, m_arrowCentre);
        arrow.lineTo(body.left() + 1, m_arrowCentre + half);
        break;
    case Qt::LeftEdge:
        arrow.moveTo(body.right() - 1, m_arrowCentre - half);
        arrow.lineTo(width() - 0.5, m_arrowCentre);
        arrow.lineTo(body.right() - 1, m_arrowCentre + half);
        break;
    }
    arrow.closeSubpath();
    return path.united(arrow);
}

void PopoverMaxTypeVC::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    // The host fills the text after showing: keep the arrow on the anchor.
    if (!m_anchor.isNull())
        reposition();
}

void PopoverMaxTypeVC::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    const QPainterPath path = bubblePath();
    painter.fillPath(path, kBubbleColor);
    painter.strokePath(path, QPen(kBubbleBorder, 1.0));
}
