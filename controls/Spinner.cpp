#include "controls/Spinner.h"

#include "platform/runtime/Timer.h"

#include <QPainter>
#include <QPainterPath>

#include <algorithm>
#include <cmath>
#include <numbers>

// ---------------------------------------------------------------- IndeterminateAnimation

IndeterminateAnimation::IndeterminateAnimation(QWidget *parent)
    : IndeterminateAnimation(parent, DeferConfigure{})
{
    configureLayers();
}

IndeterminateAnimation::IndeterminateAnimation(QWidget *parent, DeferConfigure)
    : BaseView(parent, DeferConfigure{})
{
}

void IndeterminateAnimation::setDisplayAfterAnimationEnds(bool display)
{
    m_displayAfterAnimationEnds = display;
}

void IndeterminateAnimation::setAnimate(bool animate)
{
    const bool old = m_animate;
    m_animate = animate;
    if (animate == old)
        return;
    if (animate) {
        setHidden(false);
        startAnimation();
    } else {
        if (!m_displayAfterAnimationEnds)
            setHidden(true);
        stopAnimation();
    }
}

void IndeterminateAnimation::startAnimation()
{
}

void IndeterminateAnimation::stopAnimation()
{
}

// ---------------------------------------------------------------- star layout

QVector<SpinnerStar> spinnerStarLayout(qint64 starCount, bool clockwise)
{
    const qint64 count = std::clamp(starCount, Spinner::kMinStarCount, Spinner::kMaxStarCount);
    const int step = int(360 / count);  // whole degrees, the remainder dropped
    QVector<SpinnerStar> stars;
    stars.reserve(int(360 / step) + 1);
    double angle = 0.0;
    do {
        SpinnerStar star;
        star.angle = angle;
        star.rotation = angle * std::numbers::pi / 180.0;
        if (clockwise)
            star.rotation = -star.rotation;
        star.opacity = float(360.0 - angle) / 360.0f;
        stars.append(star);
        angle += step;
    } while (angle < 360.0);
    return stars;
}

// ---------------------------------------------------------------- Spinner

Spinner::Spinner(QWidget *parent)
    : Spinner(parent, DeferConfigure{})
{
    configureLayers();
}

Spinner::Spinner(QWidget *parent, DeferConfigure)
    : IndeterminateAnimation(parent, DeferConfigure{})
    , m_timer(new lg::Timer(this))
{
    m_timer->setSingleShot(false);
    connect(m_timer, &lg::Timer::timeout, this, &Spinner::tick);
}

Spinner::~Spinner() = default;

void Spinner::configureLayers()
{
    IndeterminateAnimation::configureLayers();
    m_containerRotation = 0.0;
    update();
}

void Spinner::notifyViewRedesigned()
{
    IndeterminateAnimation::notifyViewRedesigned();
    m_starList = spinnerStarLayout(m_starCount, m_clockwise);
    m_animationValues.clear();
    m_animationValues.reserve(m_starList.size());
    for (const SpinnerStar &star : std::as_const(m_starList))
        m_animationValues.append(star.rotation);
    update();
}

namespace {
qreal limitExtent(qreal value, qreal low, qreal high)
{
    if (std::isnan(value))
        return 0.0;
    return std::clamp(value, low, high);
}
} // namespace

void Spinner::setStarSize(const QSizeF &size)
{
    m_starSize = QSizeF(limitExtent(size.width(), 0.0, kMaxStarExtent), limitExtent(size.height(), 0.0, kMaxStarExtent));
    notifyViewRedesigned();
}

void Spinner::setRoundedCorners(bool rounded)
{
    m_roundedCorners = rounded;
    notifyViewRedesigned();
}

void Spinner::setDistance(qreal distance)
{
    m_distance = limitExtent(distance, -kMaxStarExtent, kMaxStarExtent);
    notifyViewRedesigned();
}

void Spinner::setStarCount(qint64 count)
{
    m_starCount = std::clamp(count, kMinStarCount, kMaxStarCount);
    notifyViewRedesigned();
}

void Spinner::setDuration(double seconds)
{
    // Only the next start picks the new duration up.
    m_duration = std::isnan(seconds) ? 1.0 : std::clamp(seconds, kMinDuration, kMaxDuration);
}

void Spinner::setClockwise(bool clockwise)
{
    m_clockwise = clockwise;
    notifyViewRedesigned();
}

void Spinner::startAnimation()
{
    // Starting again restarts the cycle from its first value, with the stars'
    // angles and the duration as they are now.
    m_running = true;
    m_runValues = m_animationValues;
    m_runDurationMs = m_duration * 1000.0;
    m_elapsedMs = 0.0;
    m_stepIndex = 0;
    m_containerRotation = m_runValues.isEmpty() ? 0.0 : m_runValues.first();
    const int count = int(m_runValues.size());
    if (count > 1) {
        const double stepMs = m_runDurationMs / count;
        m_tickMs = std::max(kMinTickMs, int(std::lround(stepMs)));
        m_timer->start(m_tickMs);
    } else {
        // A single value never turns: nothing to tick for.
        m_timer->stop();
    }
    update();
}

void Spinner::stopAnimation()
{
    m_running = false;
    m_timer->stop();
    m_runValues.clear();
    m_containerRotation = 0.0;
    update();
}

void Spinner::tick()
{
    const int count = int(m_runValues.size());
    if (!m_running || count < 2) {
        m_timer->stop();
        return;
    }
    const double stepMs = m_runDurationMs / count;
    int index;
    if (stepMs >= kMinTickMs) {
        // One tick per step.
        index = (m_stepIndex + 1) % count;
    } else {
        // Steps shorter than a tick: show the step that is due now.
        m_elapsedMs = std::fmod(m_elapsedMs + m_tickMs, m_runDurationMs);
        index = std::min(count - 1, int(m_elapsedMs / stepMs));
    }
    m_stepIndex = index;
    const double rotation = m_runValues.at(index);
    if (rotation != m_containerRotation) {
        m_containerRotation = rotation;
        update();
    }
}

void Spinner::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    paintBacking(painter);

    const QColor color = foreground();
    if (!color.isValid() || m_starList.isEmpty())
        return;

    // The container turns about the view's centre, counter-clockwise for a
    // positive angle. The stars sit round a point taken from the width alone,
    // half the width above the bottom edge.
    const qreal w = width();
    const QPointF containerCentre(w * 0.5, height() * 0.5);
    const QPointF ringCentre(w * 0.5, height() - w * 0.5);
    painter.translate(containerCentre);
    painter.rotate(-m_containerRotation * 180.0 / std::numbers::pi);
    painter.translate(-containerCentre);

    const qreal sw = m_starSize.width();
    const qreal sh = m_starSize.height();
    if (sw <= 0 || sh <= 0)
        return;
    const qreal radius = m_roundedCorners ? sw * 0.5 : 0.0;
    // Each star stands on the ring's centre, pushed `distance` outward along
    // its own axis, and is turned clockwise by its rotation.
    QPainterPath starPath;
    starPath.addRoundedRect(QRectF(-sw * 0.5, -m_distance - sh, sw, sh), radius, radius);
    for (const SpinnerStar &star : std::as_const(m_starList)) {
        painter.save();
        painter.translate(ringCentre);
        painter.rotate(star.rotation * 180.0 / std::numbers::pi);
        painter.setOpacity(star.opacity);
        painter.fillPath(starPath, color);
        painter.restore();
    }
}
