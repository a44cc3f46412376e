#include "controls/ZLFlatButton.h"

#include <QEnterEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QPainterPath>
#include <QVariantAnimation>

#include <algorithm>
#include <cmath>

namespace {

// The red an unstyled button shows.
const QColor kSetupRed(255, 59, 48);
// Longest colour animation accepted from a caller.
constexpr double kMaxAnimateSeconds = 60.0;

bool sameColor(const QColor &a, const QColor &b)
{
    if (!a.isValid() || !b.isValid())
        return a.isValid() == b.isValid();
    return a.rgba64() == b.rgba64();
}

// Linear blend; an unset end is the other end made fully transparent, so a
// colour fades in from nothing or out to nothing.
QColor blendColors(const QColor &from, const QColor &to, qreal t)
{
    if (t >= 1.0)
        return to;
    if (!from.isValid() && !to.isValid())
        return QColor();
    QColor a = from, b = to;
    if (!a.isValid()) {
        a = b;
        a.setAlphaF(0);
    }
    if (!b.isValid()) {
        b = a;
        b.setAlphaF(0);
    }
    float ar, ag, ab, aa, br, bg, bb, ba;
    a.getRgbF(&ar, &ag, &ab, &aa);
    b.getRgbF(&br, &bg, &bb, &ba);
    const float f = float(std::clamp<qreal>(t, 0.0, 1.0));
    return QColor::fromRgbF(ar + (br - ar) * f, ag + (bg - ag) * f, ab + (bb - ab) * f, aa + (ba - aa) * f);
}

bool visible(const QColor &color)
{
    return color.isValid() && color.alpha() > 0;
}

} // namespace

ZLFlatButton::ZLFlatButton(QWidget *parent)
    : QAbstractButton(parent)
{
    for (int i = 0; i < 4; ++i) {
        ColorChannel &channel = m_channels[i];
        channel.animation = new QVariantAnimation(this);
        channel.animation->setObjectName(QStringLiteral("colorAnimation%1").arg(i));
        connect(channel.animation, &QVariantAnimation::valueChanged, this, [this, i](const QVariant &value) {
            ColorChannel &c = m_channels[i];
            c.presentation = blendColors(c.from, c.model, value.toReal());
            update();
        });
    }
    setup();
    // Laid out and painted from the current title, image and size each time,
    // so title, font, image and frame changes need no extra step.
}

ZLFlatButton::~ZLFlatButton() = default;

void ZLFlatButton::setup()
{
    // Buttons do not take the keyboard focus from the fields of the window.
    setFocusPolicy(Qt::NoFocus);
    setAttribute(Qt::WA_TransparentForMouseEvents, !isEnabled());
    m_channels[BackgroundColor].model = kSetupRed;
    m_channels[BackgroundColor].presentation = kSetupRed;
    m_alpha = isEnabled() ? 1.0 : 0.5;
}

bool ZLFlatButton::event(QEvent *event)
{
    // Buttons made from a .ui file get their enabled state after construction:
    // the alpha is settled once, when the button is first polished.
    if (event->type() == QEvent::Polish && !m_polished) {
        m_polished = true;
        m_alpha = isEnabled() ? 1.0 : 0.5;
    }
    return QAbstractButton::event(event);
}

void ZLFlatButton::changeEvent(QEvent *event)
{
    // A disabled button is never the target of a click: the click goes to
    // whatever lies behind it.
    if (event->type() == QEvent::EnabledChange)
        setAttribute(Qt::WA_TransparentForMouseEvents, !isEnabled());
    QAbstractButton::changeEvent(event);
}

// ---------------------------------------------------------------- properties

void ZLFlatButton::setState(int state)
{
    m_state = state;
    animateColorWithState(state);
}

void ZLFlatButton::setMomentary(bool momentary)
{
    m_momentary = momentary;
    animateColorWithState(m_state);
}

void ZLFlatButton::setCornerRadius(double radius)
{
    m_cornerRadius = radius;
    update();
}

void ZLFlatButton::setBorderWidth(double width)
{
    m_borderWidth = width;
    update();
}

void ZLFlatButton::setSpacing(double spacing)
{
    m_spacing = spacing;
    updateGeometry();
    update();
}

void ZLFlatButton::setImagePosition(int position)
{
    m_imagePosition = position;
    updateGeometry();
    update();
}

void ZLFlatButton::setImageHugsTitle(bool hugs)
{
    m_imageHugsTitle = hugs;
    update();
}

#define LG_STATE_COLOR_SETTER(setter, member) \
    void ZLFlatButton::setter(const QColor &color) \
    { \
        member = color; \
        animateColorWithState(m_state); \
    }
LG_STATE_COLOR_SETTER(setBorderNormalColor, m_borderNormalColor)
LG_STATE_COLOR_SETTER(setBorderHighlightColor, m_borderHighlightColor)
LG_STATE_COLOR_SETTER(setBackgroundNormalColor, m_backgroundNormalColor)
LG_STATE_COLOR_SETTER(setBackgroundHighlightColor, m_backgroundHighlightColor)
LG_STATE_COLOR_SETTER(setImageNormalColor, m_imageNormalColor)
LG_STATE_COLOR_SETTER(setImageHighlightColor, m_imageHighlightColor)
LG_STATE_COLOR_SETTER(setTitleNormalColor, m_titleNormalColor)
LG_STATE_COLOR_SETTER(setTitleHighlightColor, m_titleHighlightColor)
#undef LG_STATE_COLOR_SETTER

void ZLFlatButton::initializeButtonColor(const QColor &normal, const QColor &hover, const QColor &down)
{
    set_NormalColor(normal);
    set_HoverColor(hover);
    set_DownColor(down);
}

// ---------------------------------------------------------------- colour animation

void ZLFlatButton::animateColorWithState(int state)
{
    // A part whose colour is already heading for its target keeps going; a
    // part with a new target turns there from the colour on screen.
    const bool on = state == 1;
    const double duration = on ? m_onAnimateDuration : m_offAnimateDuration;
    animateLayer(BorderColor, on ? m_borderHighlightColor : m_borderNormalColor, duration);
    animateLayer(BackgroundColor, on ? m_backgroundHighlightColor : m_backgroundNormalColor, duration);
    animateLayer(ImageColor, on ? m_imageHighlightColor : m_imageNormalColor, duration);
    animateLayer(TitleColor, on ? m_titleHighlightColor : m_titleNormalColor, duration);
}

void ZLFlatButton::animateLayer(LayerColor part, const QColor &color, double duration)
{
    ColorChannel &channel = m_channels[part];
    if (sameColor(channel.model, color))
        return;
    channel.animation->stop();
    // An interrupted change goes on from the colour on screen.
    channel.from = channel.presentation;
    channel.model = color;
    const int ms = (duration > 0) ? int(std::lround(std::min(duration, kMaxAnimateSeconds) * 1000.0)) : 0;
    if (ms <= 0 || sameColor(channel.from, color)) {
        channel.presentation = color;
        update();
        return;
    }
    channel.animation->setDuration(ms);
    channel.animation->setStartValue(0.0);
    channel.animation->setEndValue(1.0);
    channel.animation->start();
}

void ZLFlatButton::removeAllAnimations()
{
    for (ColorChannel &channel : m_channels) {
        channel.animation->stop();
        channel.presentation = channel.model;
    }
    update();
}

QColor ZLFlatButton::presentedColor(LayerColor part) const
{
    return m_channels[part].presentation;
}

QColor ZLFlatButton::layerColor(LayerColor part) const
{
    return m_channels[part].model;
}

// ---------------------------------------------------------------- pointer

void ZLFlatButton::pointerEntered()
{
    m_pointerInside = true;
    setCursor(Qt::PointingHandCursor);
    setBackgroundNormalColor(m_HoverColor);
    setImageNormalColor(m_ImageHoverColor);
}

void ZLFlatButton::pointerExited()
{
    m_pointerInside = false;
    setCursor(Qt::ArrowCursor);
    m_mouseDown = false;
    setBackgroundNormalColor(m_NormalColor);
    setImageNormalColor(m_ImageNormalColor);
}

void ZLFlatButton::enterEvent(QEnterEvent *)
{
    if (!m_pointerInside)
        pointerEntered();
}

void ZLFlatButton::leaveEvent(QEvent *)
{
    if (m_pointerInside)
        pointerExited();
}

void ZLFlatButton::mousePressEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    if (!m_pointerInside) {
        m_pointerInside = true;
        setCursor(Qt::PointingHandCursor);
    }
    if (isEnabled())
        m_mouseDown = true;
    setBackgroundNormalColor(m_DownColor);
    setImageNormalColor(m_ImageDownColor);
    event->accept();
}

void ZLFlatButton::mouseMoveEvent(QMouseEvent *event)
{
    // While a press is held the pointer is grabbed: leaving and coming back
    // are followed here.
    const bool inside = rect().contains(event->position().toPoint());
    if (inside != m_pointerInside) {
        if (inside)
            pointerEntered();
        else
            pointerExited();
    }
    event->accept();
}

void ZLFlatButton::mouseReleaseEvent(QMouseEvent *event)
{
    if (event->button() != Qt::LeftButton) {
        event->ignore();
        return;
    }
    event->accept();
    if (!rect().contains(event->position().toPoint())) {
        if (m_pointerInside)
            pointerExited();
        m_mouseDown = false;
        return;
    }
    if (!m_mouseDown)
        return;
    m_mouseDown = false;
    setBackgroundNormalColor(m_HoverColor);
    setImageNormalColor(m_ImageHoverColor);
    Q_EMIT clicked(isChecked());
}

// ---------------------------------------------------------------- layout and painting

void ZLFlatButton::layoutParts(QRectF *imageRect, QRectF *titleRect) const
{
    const qreal W = width();
    const qreal H = height();
    const bool hasIcon = !icon().isNull();
    const qreal iw = hasIcon ? iconSize().width() : 0.0;
    const qreal ih = hasIcon ? iconSize().height() : 0.0;
    const QFontMetricsF metrics(font());
    const QString title = text();
    const qreal tw = metrics.horizontalAdvance(title);
    const qreal th = metrics.height();
    const qreal S = m_spacing;
    const bool hug = m_imageHugsTitle;

    if (imageRect) {
        *imageRect = QRectF();
        if (hasIcon && m_imagePosition != NoImage) {
            qreal x = 0, y = 0;
            switch (m_imagePosition) {
            case ImageOnly:
            case ImageOverlaps:
                x = (W - iw) / 2;
                y = (H - ih) / 2;
                break;
            case ImageLeft:
            case ImageLeading:
                x = hug ? (W - iw - tw) / 2 - S : S;
                y = (H - ih) / 2;
                break;
            case ImageRight:
            case ImageTrailing:
                x = hug ? (W - iw + tw) / 2 + S : W - iw - S;
                y = (H - ih) / 2;
                break;
            case ImageBelow:
                x = (W - iw) / 2;
                y = hug ? (H - ih + th) / 2 + S : H - ih - S;
                break;
            case ImageAbove:
                x = (W - iw) / 2;
                y = hug ? (H - ih - th) / 2 - S : S;
                break;
            default:
                break;
            }
            *imageRect = QRectF(std::round(x), std::round(y), iw, ih);
        }
    }

    if (titleRect) {
        *titleRect = QRectF();
        if (!title.isNull() && m_imagePosition != ImageOnly) {
            qreal x = 0, y = 0;
            switch (m_imagePosition) {
            case NoImage:
            case ImageOverlaps:
                x = (W - tw) / 2;
                y = (H - th) / 2;
                break;
            case ImageLeft:
            case ImageLeading:
                x = hug ? (W + iw - tw) / 2 + S : W - tw - S;
                y = (H - th) / 2;
                break;
            case ImageRight:
            case ImageTrailing:
                x = hug ? (W - iw - tw) / 2 - S : S;
                y = (H - th) / 2;
                break;
            case ImageBelow:
                x = (W - tw) / 2;
                y = hug ? (H - ih - th) / 2 - S : S;
                break;
            case ImageAbove:
                x = (W - tw) / 2;
                y = hug ? (H + ih - th) / 2 + S : H - th - S;
                break;
            default:
                break;
            }
            *titleRect = QRectF(std::round(x), std::round(y), std::ceil(tw), std::ceil(th));
        }
    }
}

QRectF ZLFlatButton::titleLayerRect() const
{
    QRectF r;
    layoutParts(nullptr, &r);
    return r;
}

QImage ZLFlatButton::tintedImage(const QColor &tint) const
{
    const QSize size = iconSize();
    const qreal ratio = devicePixelRatioF();
    const qint64 key = icon().cacheKey();
    if (!m_tintCache.isNull() && m_tintCacheKey == key && m_tintCacheSize == size && m_tintCacheRatio == ratio
        && sameColor(m_tintCacheColor, tint))
        return m_tintCache;

    QImage image(size * ratio, QImage::Format_ARGB32_Premultiplied);
    image.setDevicePixelRatio(ratio);
    image.fill(Qt::transparent);
    {
        QPainter painter(&image);
        const QPixmap pixmap = icon().pixmap(size, ratio);
        painter.drawPixmap(QRectF(QPointF(0, 0), QSizeF(size)), pixmap, QRectF(pixmap.rect()));
        // Only the image's alpha shows, filled with the tint.
        painter.setCompositionMode(QPainter::CompositionMode_SourceIn);
        painter.fillRect(QRectF(QPointF(0, 0), QSizeF(size)), tint);
    }
    m_tintCache = image;
    m_tintCacheKey = key;
    m_tintCacheSize = size;
    m_tintCacheRatio = ratio;
    m_tintCacheColor = tint;
    return image;
}

void ZLFlatButton::paintEvent(QPaintEvent *)
{
    QPainter painter(this);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);
    painter.setOpacity(m_alpha);

    const QRectF bounds(rect());
    const qreal radius = std::max(0.0, m_cornerRadius);
    QPainterPath shape;
    shape.addRoundedRect(bounds, radius, radius);
    if (radius > 0)
        painter.setClipPath(shape);

    const QColor background = m_channels[BackgroundColor].presentation;
    if (visible(background))
        painter.fillPath(shape, background);

    QRectF imageRect, titleRect;
    layoutParts(&imageRect, &titleRect);
    const QColor tint = m_channels[ImageColor].presentation;
    if (!imageRect.isEmpty() && visible(tint))
        painter.drawImage(imageRect, tintedImage(tint));

    const QColor titleColor = m_channels[TitleColor].presentation;
    if (!titleRect.isNull() && visible(titleColor)) {
        painter.setFont(font());
        painter.setPen(titleColor);
        painter.drawText(titleRect, Qt::AlignLeft | Qt::AlignTop | Qt::TextSingleLine, text());
    }

    // The border lies inside the bounds, above image and title.
    const QColor border = m_channels[BorderColor].presentation;
    if (visible(border) && m_borderWidth > 0) {
        const qreal half = m_borderWidth / 2;
        const QRectF inner = bounds.adjusted(half, half, -half, -half);
        if (inner.width() > 0 && inner.height() > 0) {
            QPainterPath outline;
            const qreal r = std::max(0.0, radius - half);
            outline.addRoundedRect(inner, r, r);
            painter.strokePath(outline, QPen(border, m_borderWidth));
        }
    }
}

QSize ZLFlatButton::sizeHint() const
{
    const QFontMetricsF metrics(font());
    const bool image = !icon().isNull() && m_imagePosition != NoImage;
    const bool title = !text().isEmpty() && m_imagePosition != ImageOnly;
    const QSizeF imageSize = image ? QSizeF(iconSize()) : QSizeF(0, 0);
    const QSizeF titleSize = title ? QSizeF(metrics.horizontalAdvance(text()), metrics.height()) : QSizeF(0, 0);
    const qreal gap = (image && title) ? 2 * m_spacing : 0;
    const bool stacked = m_imagePosition == ImageAbove || m_imagePosition == ImageBelow;
    qreal w, h;
    if (stacked) {
        w = std::max(imageSize.width(), titleSize.width());
        h = imageSize.height() + titleSize.height() + gap;
    } else if (m_imagePosition == ImageOverlaps) {
        w = std::max(imageSize.width(), titleSize.width());
        h = std::max(imageSize.height(), titleSize.height());
    } else {
        w = imageSize.width() + titleSize.width() + gap;
        h = std::max(imageSize.height(), titleSize.height());
    }
    const qreal margin = 2 * std::max(0.0, m_spacing);
    constexpr qreal largest = QWIDGETSIZE_MAX;
    auto whole = [=](qreal v) { return int(std::ceil(std::isfinite(v) ? std::clamp<qreal>(v, 0, largest) : largest)); };
    return QSize(whole(w + margin), whole(std::max<qreal>(h + margin, 22)));
}
