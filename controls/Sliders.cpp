#include "controls/Sliders.h"

#include <QImage>
#include <QPainter>
#include <QPainterPath>
#include <QStyle>
#include <QStyleOptionSlider>

#include <algorithm>


const QColor &sliderFillBlue()
{
    static const QColor blue(0, 122, 255);
    return blue;
}

// ---------------------------------------------------------------- customSlider

customSlider::customSlider(QWidget *parent)
    : customSlider(Qt::Horizontal, parent)
{
}

customSlider::customSlider(Qt::Orientation orientation, QWidget *parent)
    : QSlider(orientation, parent)
{
}

void customSlider::paintEvent(QPaintEvent *)
{
    // Draw the slider as the style does, then keep only its shape, in white.
    const qreal ratio = devicePixelRatioF();
    QImage image(size() * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        QStyleOptionSlider option;
        initStyleOption(&option);
        option.subControls = QStyle::SC_SliderGroove | QStyle::SC_SliderHandle;
        if (tickPosition() != NoTicks)
            option.subControls |= QStyle::SC_SliderTickmarks;
        style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size())), Qt::white);
    }
    QPainter painter(this);
    painter.drawImage(QPointF(0, 0), image);
}

// ---------------------------------------------------------------- CustomSliderCell

CustomSliderCell::CustomSliderCell(QWidget *parent)
    : CustomSliderCell(Qt::Horizontal, parent)
{
}

CustomSliderCell::CustomSliderCell(Qt::Orientation orientation, QWidget *parent)
    : QSlider(orientation, parent)
{
}

QRectF CustomSliderCell::barRect() const
{
    QStyleOptionSlider option;
    initStyleOption(&option);
    const QRectF groove = style()->subControlRect(QStyle::CC_Slider, &option, QStyle::SC_SliderGroove, this);
    return QRectF(groove.x(), groove.center().y() - kBarHeight / 2, groove.width(), kBarHeight);
}

qreal CustomSliderCell::filledWidth() const
{
    const qreal range = qreal(maximum()) - minimum();
    if (range <= 0)
        return 0;
    const qreal fraction = (qreal(sliderPosition()) - minimum()) / range;
    return std::max<qreal>(0, (width() - kWidthInset) * fraction);
}

void CustomSliderCell::drawRoundedBar(QPainter &painter, const QRectF &bar) const
{
    QPainterPath track;
    track.addRoundedRect(QRectF(bar.x(), bar.y(), bar.width(), kBarHeight), kBarRadius, kBarRadius);
    painter.fillPath(track, Qt::white);
    const qreal filled = filledWidth();
    if (filled > 0) {
        QPainterPath part;
        part.addRoundedRect(QRectF(bar.x(), bar.y(), filled, kBarHeight), kBarRadius, kBarRadius);
        painter.fillPath(part, sliderFillBlue());
    }
}

void CustomSliderCell::paintEvent(QPaintEvent *event)
{
    if (orientation() != Qt::Horizontal) {
        QSlider::paintEvent(event);
        return;
    }
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    drawRoundedBar(painter, barRect());
    QStyleOptionSlider option;
    initStyleOption(&option);
    option.subControls = QStyle::SC_SliderHandle;
    if (tickPosition() != NoTicks)
        option.subControls |= QStyle::SC_SliderTickmarks;
    style()->drawComplexControl(QStyle::CC_Slider, &option, &painter, this);
}
