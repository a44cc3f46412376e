#pragma once
// Scroll views of the program's dark-blue look, and a scroll area that keeps a
// document smaller than the visible area centred.
#include <QMarginsF>
#include <QScrollArea>
#include <QScrollBar>

class QAbstractScrollArea;

// A thin rounded knob on a clear track, in scrollerKnobColor. The scroller is
// 15 px thick and has no arrow buttons; the knob is 9 px thick, 3 px from the
// left edge of a vertical scroller or 4 px from the top of a horizontal one.
// No knob shows while there is nothing to scroll.
class CustomScroller : public QScrollBar
{
    Q_OBJECT
public:
    static constexpr int kScrollerWidth = 15;
    static constexpr qreal kVerticalKnobOffset = 3.0;
    static constexpr qreal kHorizontalKnobOffset = 4.0;
    static constexpr qreal kKnobThickness = 9.0;
    static constexpr qreal kKnobRadius = 5.0;

    explicit CustomScroller(Qt::Orientation orientation, QWidget *parent = nullptr);
    explicit CustomScroller(QWidget *parent = nullptr);

    // The knob's rectangle as drawn; empty when no knob shows.
    QRectF knobRect() const;

protected:
    void paintEvent(QPaintEvent *event) override;
    void drawKnob(class QPainter &painter) const;
};

// A scroll area with CustomScrollers whose corner between the two scrollers
// is painted in scrollCornerColor (it shows only while both scrollers do).
class ThemedScrollView : public QScrollArea
{
    Q_OBJECT
public:
    explicit ThemedScrollView(QWidget *parent = nullptr);

    // Gives any scroll area the same scrollers and corner.
    static void applyTheme(QAbstractScrollArea *area);
};

// A scroll area that centres a document smaller than the visible area and
// otherwise scrolls it normally, stopping at its edges, content insets
// included. The document is the scroll area's widget() and keeps its size.
class CenteringClipView : public QScrollArea
{
    Q_OBJECT
public:
    explicit CenteringClipView(QWidget *parent = nullptr);

    // Extra room around the document that can be scrolled into view.
    QMarginsF contentInsets() const { return m_contentInsets; }
    void setContentInsets(const QMarginsF &insets);

    // The visible rectangle, in the document's coordinates, that a proposed
    // one becomes: centred on each axis where it is larger than the document
    // with its insets, kept inside it where it is smaller, edges on whole
    // device pixels. Without a document the proposal comes back unchanged.
    QRectF constrainBoundsRect(const QRectF &proposed) const;


protected:
    void resizeEvent(QResizeEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void scrollContentsBy(int dx, int dy) override;
    bool event(QEvent *event) override;
    bool eventFilter(QObject *object, QEvent *event) override;

private:
    QRectF documentArea() const;
    void updateRanges();
    void placeDocument();

    QMarginsF m_contentInsets;
    QRectF m_bounds;
    bool m_placing = false;
};
