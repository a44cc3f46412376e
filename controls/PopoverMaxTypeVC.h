#pragma once
// A small popover that shows one line of text next to a control, for hover
// hints. The host stores the text in messageValue, shows the popover next to
// the control and then puts messageValue into the message label; the bubble
// follows the text's size and keeps pointing at the control.
#include <QLabel>
#include <QPointer>
#include <QString>
#include <QWidget>

#include <initializer_list>
#include <utility>

class QPropertyAnimation;

class PopoverMaxTypeVC : public QWidget
{
    Q_OBJECT
public:
    explicit PopoverMaxTypeVC(QWidget *parent = nullptr);
    ~PopoverMaxTypeVC() override;

    // The label of the popover (weak: gone when the popover is).
    QPointer<QLabel> message;
    // The text to show, set by the host.
    QString messageValue;

    // Whether showing fades in (0.15 s) or appears at once.
    bool animates() const { return m_animates; }
    void setAnimates(bool animates) { m_animates = animates; }

    // Shows the popover beside rect (in positioningView's coordinates), on the
    // preferred side of it when there is room on the screen, else on the
    // opposite side, with its arrow pointing at the middle of rect.
    void showRelativeToRect(const QRect &rect, QWidget *positioningView, Qt::Edge preferredEdge);
    // A hover hint: shows text beside the whole of anchor.
    void showHint(const QString &text, QWidget *anchor, Qt::Edge preferredEdge);

    // A side of a rectangle by its coordinate, as the screens name it. The
    // anchors are controls, whose y grows downward: the minimum y is the top.
    enum RectEdge { MinXEdge = 0, MinYEdge = 1, MaxXEdge = 2, MaxYEdge = 3 };
    // The one mapping of those sides to the screen's.
    static Qt::Edge screenEdge(RectEdge edge);
    void showRelativeToRect(const QRect &rect, QWidget *positioningView, RectEdge preferredEdge)
    {
        showRelativeToRect(rect, positioningView, screenEdge(preferredEdge));
    }
    void showHint(const QString &text, QWidget *anchor, RectEdge preferredEdge)
    {
        showHint(text, anchor, screenEdge(preferredEdge));
    }
    // The hover hints of a screen, one table: shows the text paired with area
    // beside it (above, where there is room). False, showing nothing, when
    // area has no hint; a null control in the table never matches.
    using HintTable = std::initializer_list<std::pair<QWidget *, const char *>>;
    bool showHintFor(QWidget *area, HintTable hints);

    // The side of rect the popover stands on while shown.
    Qt::Edge shownEdge() const { return m_edge; }

    static constexpr int kArrowLength = 8;
    static constexpr int kArrowWidth = 16;
    static constexpr qreal kCornerRadius = 6.0;

protected:
    void paintEvent(QPaintEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    void reposition();
    void updateMargins();
    QPainterPath bubblePath() const;

    QRect m_anchor;
    Qt::Edge m_preferredEdge = Qt::BottomEdge;
    Qt::Edge m_edge = Qt::BottomEdge;
    qreal m_arrowCentre = 0;  // along the arrow's edge, in the popover
    bool m_animates = true;
    bool m_repositioning = false;
    QPropertyAnimation *m_fade = nullptr;
};
