#pragma once
// Activity indicators for work without a measurable amount: the switchable
// base IndeterminateAnimation and the Spinner, a ring of small bars ("stars")
// whose brightness falls off around the ring and which turns one star spacing
// at a time, so that the brightest star seems to walk round the circle.
//
// A stopped spinner keeps no timer running. The turning runs on lg::Timer, so
// tests drive it with lg::FakeClock.
#include "controls/ProgressViews.h"

#include <QSizeF>
#include <QVector>

namespace lg {
class Timer;
}

class IndeterminateAnimation : public BaseView
{
    Q_OBJECT
    Q_PROPERTY(bool displayAfterAnimationEnds READ displayAfterAnimationEnds WRITE setDisplayAfterAnimationEnds)
public:
    explicit IndeterminateAnimation(QWidget *parent = nullptr);

    bool displayAfterAnimationEnds() const { return m_displayAfterAnimationEnds; }
    void setDisplayAfterAnimationEnds(bool display);

    // The switch: true shows the view and starts the animation, false stops it
    // and hides the view (unless displayAfterAnimationEnds). Assigning the
    // value it already has does nothing. It records only what was assigned:
    // startAnimation()/stopAnimation() called directly leave it as it is.
    bool animate() const { return m_animate; }
    void setAnimate(bool animate);

    virtual void startAnimation();
    virtual void stopAnimation();

protected:
    IndeterminateAnimation(QWidget *parent, DeferConfigure);

private:
    bool m_displayAfterAnimationEnds = false;
    bool m_animate = false;
};

// One star of the ring, in placement order.
struct SpinnerStar
{
    double angle = 0;      // degrees round the ring, 0 at the top
    double rotation = 0;   // radians: angle, negated for a clockwise spinner
    float opacity = 1.0f;  // (360 - angle) / 360
};

// The placement shared by drawing and animation: one star (and one value of
// the turning animation) every 360 / starCount whole degrees, from 0 while the
// angle stays below 360. starCount is limited to 1...360 first.
QVector<SpinnerStar> spinnerStarLayout(qint64 starCount, bool clockwise);

class Spinner : public IndeterminateAnimation
{
    Q_OBJECT
    Q_PROPERTY(QSizeF starSize READ starSize WRITE setStarSize)
    Q_PROPERTY(bool roundedCorners READ roundedCorners WRITE setRoundedCorners)
    Q_PROPERTY(qreal distance READ distance WRITE setDistance)
    Q_PROPERTY(qlonglong starCount READ starCount WRITE setStarCount)
    Q_PROPERTY(double duration READ duration WRITE setDuration)
    Q_PROPERTY(bool clockwise READ clockwise WRITE setClockwise)
public:
    // Limits applied to values from callers.
    static constexpr qint64 kMinStarCount = 1;
    static constexpr qint64 kMaxStarCount = 360;
    static constexpr qreal kMaxStarExtent = 10000.0;  // star width, height and |distance|
    static constexpr double kMinDuration = 0.001;     // seconds of one turn
    static constexpr double kMaxDuration = 86400.0;
    // The turning never repaints more often than this (about 60 per second).
    static constexpr int kMinTickMs = 16;

    explicit Spinner(QWidget *parent = nullptr);
    ~Spinner() override;

    QSizeF starSize() const { return m_starSize; }
    void setStarSize(const QSizeF &size);
    bool roundedCorners() const { return m_roundedCorners; }
    void setRoundedCorners(bool rounded);
    qreal distance() const { return m_distance; }
    void setDistance(qreal distance);
    qint64 starCount() const { return m_starCount; }
    void setStarCount(qint64 count);
    // Seconds of one full turn; a new value applies from the next start.
    double duration() const { return m_duration; }
    void setDuration(double seconds);
    bool clockwise() const { return m_clockwise; }
    void setClockwise(bool clockwise);

    // The stars as last built.
    const QVector<SpinnerStar> &starList() const { return m_starList; }
    // The container's present turn, in radians (counter-clockwise positive);
    // 0 while stopped.
    double containerRotation() const { return m_containerRotation; }
    bool isAnimating() const { return m_running; }

    void configureLayers() override;
    void notifyViewRedesigned() override;
    void startAnimation() override;
    void stopAnimation() override;

protected:
    Spinner(QWidget *parent, DeferConfigure);
    void paintEvent(QPaintEvent *event) override;

private:
    void tick();

    QVector<SpinnerStar> m_starList;
    QVector<double> m_animationValues;
    lg::Timer *m_timer = nullptr;
    QSizeF m_starSize{6.0, 15.0};
    bool m_roundedCorners = true;
    qreal m_distance = 20.0;
    qint64 m_starCount = 10;
    double m_duration = 1.0;
    bool m_clockwise = false;

    // The running copy, taken when the animation starts.
    bool m_running = false;
    QVector<double> m_runValues;
    double m_runDurationMs = 1000.0;
    double m_elapsedMs = 0.0;
    int m_stepIndex = 0;
    int m_tickMs = kMinTickMs;
    double m_containerRotation = 0.0;
};
