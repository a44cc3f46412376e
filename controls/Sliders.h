#pragma once
// Sliders of the program's look.
#include <QSlider>

class QPainter;

// A slider drawn entirely in white (the platform slider's shapes, filled
// white), for dark backgrounds.
class customSlider : public QSlider
{
    Q_OBJECT
public:
    explicit customSlider(QWidget *parent = nullptr);
    explicit customSlider(Qt::Orientation orientation, QWidget *parent = nullptr);

protected:
    void paintEvent(QPaintEvent *event) override;
};

// A horizontal slider whose bar is a rounded 5 px line: white track, blue
// part from the left up to the value. The knob is the platform's. A vertical
// one draws like a plain QSlider.
class CustomSliderCell : public QSlider
{
    Q_OBJECT
public:
    static constexpr qreal kBarHeight = 5.0;
    static constexpr qreal kBarRadius = 2.5;
    static constexpr qreal kWidthInset = 7.0;

    explicit CustomSliderCell(QWidget *parent = nullptr);
    explicit CustomSliderCell(Qt::Orientation orientation, QWidget *parent = nullptr);

    // The bar rectangle the platform style gives for this slider, 5 px high.
    QRectF barRect() const;
    // The width of the blue part: (slider width - 7) x the value's share of
    // the range; 0 when the range is empty.
    qreal filledWidth() const;
    // Paints the track and the blue part of a bar at barRect's x and y.
    void drawRoundedBar(QPainter &painter, const QRectF &barRect) const;

protected:
    void paintEvent(QPaintEvent *event) override;
};

// The blue of the filled part.
const QColor &sliderFillBlue();
