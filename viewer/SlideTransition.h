#pragma once
// The slideshow's transitions: the outgoing and the incoming picture, each a
// snapshot, painted over the picture area for 0.5 s with an ease-in-ease-out
// timing. Kinds: 1 fade, 2 push, 3 reveal, 4 move in; directions: 1 from the
// left, 2 from the right, 3 from the top, 4 from the bottom. A kind outside
// 1..4 fades; a direction outside 1..4 comes from the left.
#include <QEasingCurve>
#include <QPixmap>
#include <QRectF>
#include <QWidget>

class QVariantAnimation;

namespace slidetransition {

constexpr int durationMs = 500;

enum Kind { Fade = 1, Push = 2, Reveal = 3, MoveIn = 4 };
enum Direction { FromLeft = 1, FromRight = 2, FromTop = 3, FromBottom = 4 };

// Where both pictures stand at one moment, and which one lies on top.
struct Frame
{
    QRectF outgoing;
    QRectF incoming;
    qreal incomingOpacity = 1.0;
    bool incomingOnTop = true;
};

// The frame at progress (0 to 1, already eased) over an area of size.
Frame frameAt(int kind, int direction, qreal progress, const QSizeF &size);
// The timing curve: slow at both ends, as a cubic Bézier (0.42, 0) (0.58, 1).
QEasingCurve easeInEaseOut();

} // namespace slidetransition

// Lies over the picture area while a transition runs and paints it; hidden
// otherwise. Mouse events pass through it.
class SlideTransitionView : public QWidget
{
    Q_OBJECT
public:
    explicit SlideTransitionView(QWidget *parent = nullptr);

    // Holds the outgoing picture until run() (the incoming one is on its way).
    void hold(const QPixmap &outgoing);
    // Runs the transition from what hold() kept (or outgoing) to incoming.
    void run(const QPixmap &outgoing, const QPixmap &incoming, int kind, int direction);
    void run(const QPixmap &incoming, int kind, int direction);
    // Ends a running or held transition at once.
    void finish();

    bool isRunning() const;
    bool isHolding() const { return m_holding; }
    int kind() const { return m_kind; }
    int direction() const { return m_direction; }
    QVariantAnimation *animation() const { return m_animation; }
    void setBackgroundColor(const QColor &color) { m_background = color; }

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    QVariantAnimation *m_animation = nullptr;
    QPixmap m_outgoing;
    QPixmap m_incoming;
    qreal m_progress = 0;
    int m_kind = slidetransition::Fade;
    int m_direction = slidetransition::FromLeft;
    bool m_holding = false;
    QColor m_background;
};
