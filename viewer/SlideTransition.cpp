#include "viewer/SlideTransition.h"

#include <QPaintEvent>
#include <QPainter>
#include <QVariantAnimation>

#include <algorithm>

#include <algorithm>

namespace slidetransition {

Frame frameAt(int kind, int direction, qreal progress, const QSizeF &size)
{
    const qreal p = std::clamp<qreal>(progress, 0, 1);
    const QRectF whole(QPointF(0, 0), size);
    // The way the pictures move: away from the side the transition comes from.
    QPointF travel(size.width(), 0);
    switch (direction) {
    case FromRight:
        travel = QPointF(-size.width(), 0);
        break;
    case FromTop:
        travel = QPointF(0, size.height());
        break;
    case FromBottom:
        travel = QPointF(0, -size.height());
        break;
    default:
        break;
    }
    Frame frame;
    frame.outgoing = whole;
    frame.incoming = whole;
    switch (kind) {
    case Push:
        frame.incoming.translate(-travel * (1 - p));
        frame.outgoing.translate(travel * p);
        break;
    case Reveal:
        frame.outgoing.translate(travel * p);
        frame.incomingOnTop = false;
        break;
    case MoveIn:
        frame.incoming.translate(-travel * (1 - p));
        break;
    default:  // fade
        frame.incomingOpacity = p;
        break;
    }
    return frame;
}

QEasingCurve easeInEaseOut()
{
    QEasingCurve curve(QEasingCurve::BezierSpline);
    curve.addCubicBezierSegment(QPointF(0.42, 0.0), QPointF(0.58, 1.0), QPointF(1.0, 1.0));
    return curve;
}

} // namespace slidetransition

SlideTransitionView::SlideTransitionView(QWidget *parent) : QWidget(parent), m_background(0x1e, 0x1e, 0x1e)
{
    setObjectName(QStringLiteral("transitionView"));
    setAttribute(Qt::WA_TransparentForMouseEvents, true);
    setAttribute(Qt::WA_OpaquePaintEvent, true);
    hide();
    m_animation = new QVariantAnimation(this);
    m_animation->setStartValue(0.0);
    m_animation->setEndValue(1.0);
    m_animation->setDuration(slidetransition::durationMs);
    m_animation->setEasingCurve(slidetransition::easeInEaseOut());
    connect(m_animation, &QVariantAnimation::valueChanged, this, [this](const QVariant &value) {
        m_progress = value.toReal();
        update();
    });
    connect(m_animation, &QVariantAnimation::finished, this, [this] { finish(); });
}

void SlideTransitionView::hold(const QPixmap &outgoing)
{
    m_animation->stop();
    m_outgoing = outgoing;
    m_incoming = QPixmap();
    m_progress = 0;
    m_holding = true;
    show();
    raise();
    update();
}

void SlideTransitionView::run(const QPixmap &incoming, int kind, int direction)
{
    run(m_outgoing, incoming, kind, direction);
}

void SlideTransitionView::run(const QPixmap &outgoing, const QPixmap &incoming, int kind, int direction)
{
    m_animation->stop();
    m_outgoing = outgoing;
    m_incoming = incoming;
    m_kind = kind;
    m_direction = direction;
    m_progress = 0;
    m_holding = false;
    show();
    raise();
    m_animation->setCurrentTime(0);
    m_animation->start();
    update();
}

void SlideTransitionView::finish()
{
    if (m_animation->state() != QAbstractAnimation::Stopped)
        m_animation->stop();
    m_holding = false;
    m_outgoing = QPixmap();
    m_incoming = QPixmap();
    hide();
}

bool SlideTransitionView::isRunning() const
{
    return m_animation->state() == QAbstractAnimation::Running;
}

void SlideTransitionView::paintEvent(QPaintEvent *event)
{
    QPainter painter(this);
    painter.fillRect(event->rect(), m_background);
    if (m_holding) {
        if (!m_outgoing.isNull())
            painter.drawPixmap(QRectF(rect()), m_outgoing, QRectF(m_outgoing.rect()));
        return;
    }
    const slidetransition::Frame frame = slidetransition::frameAt(m_kind, m_direction, m_progress, QSizeF(size()));
    const auto drawOutgoing = [&] {
        if (!m_outgoing.isNull())
            painter.drawPixmap(frame.outgoing, m_outgoing, QRectF(m_outgoing.rect()));
    };
    const auto drawIncoming = [&] {
        if (m_incoming.isNull())
            return;
        painter.setOpacity(frame.incomingOpacity);
        painter.drawPixmap(frame.incoming, m_incoming, QRectF(m_incoming.rect()));
        painter.setOpacity(1.0);
    };
    if (frame.incomingOnTop) {
        drawOutgoing();
        drawIncoming();
    } else {
        drawIncoming();
        drawOutgoing();
    }
}
