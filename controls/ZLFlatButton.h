#pragma once
// The flat push button of the header bar, the split-pane toggles, the viewer
// and the collage maker. It paints its own background, border, single-colour
// image and title, with separate colours for the off and on states, animated
// colour changes, hover and pressed colours in the off state and a
// pointing-hand cursor over it.
//
// Colours and sizes are set by the screen that hosts the button (all start
// unset: an unset colour is transparent). Until a state colour is first
// applied the background shows red, so an unstyled button stands out.
//
// The image is the button's icon at iconSize(); only its alpha is used, filled
// with the image colour of the moment. A click is reported through
// QAbstractButton::clicked(); it does not change the state, owners set it.
#include <QAbstractButton>
#include <QColor>
#include <QImage>

class QVariantAnimation;

class ZLFlatButton : public QAbstractButton
{
    Q_OBJECT
    Q_PROPERTY(int state READ state WRITE setState)
    Q_PROPERTY(bool momentary READ momentary WRITE setMomentary)
    Q_PROPERTY(double onAnimateDuration READ onAnimateDuration WRITE setOnAnimateDuration)
    Q_PROPERTY(double offAnimateDuration READ offAnimateDuration WRITE setOffAnimateDuration)
    Q_PROPERTY(double cornerRadius READ cornerRadius WRITE setCornerRadius)
    Q_PROPERTY(double borderWidth READ borderWidth WRITE setBorderWidth)
    Q_PROPERTY(double spacing READ spacing WRITE setSpacing)
    Q_PROPERTY(int imagePosition READ imagePosition WRITE setImagePosition)
    Q_PROPERTY(bool imageHugsTitle READ imageHugsTitle WRITE setImageHugsTitle)
    Q_PROPERTY(QColor borderNormalColor READ borderNormalColor WRITE setBorderNormalColor)
    Q_PROPERTY(QColor borderHighlightColor READ borderHighlightColor WRITE setBorderHighlightColor)
    Q_PROPERTY(QColor backgroundNormalColor READ backgroundNormalColor WRITE setBackgroundNormalColor)
    Q_PROPERTY(QColor backgroundHighlightColor READ backgroundHighlightColor WRITE setBackgroundHighlightColor)
    Q_PROPERTY(QColor imageNormalColor READ imageNormalColor WRITE setImageNormalColor)
    Q_PROPERTY(QColor imageHighlightColor READ imageHighlightColor WRITE setImageHighlightColor)
    Q_PROPERTY(QColor titleNormalColor READ titleNormalColor WRITE setTitleNormalColor)
    Q_PROPERTY(QColor titleHighlightColor READ titleHighlightColor WRITE setTitleHighlightColor)
    Q_PROPERTY(QColor _NormalColor READ _NormalColor WRITE set_NormalColor)
    Q_PROPERTY(QColor _HoverColor READ _HoverColor WRITE set_HoverColor)
    Q_PROPERTY(QColor _DownColor READ _DownColor WRITE set_DownColor)
    Q_PROPERTY(QColor _ImageNormalColor READ _ImageNormalColor WRITE set_ImageNormalColor)
    Q_PROPERTY(QColor _ImageHoverColor READ _ImageHoverColor WRITE set_ImageHoverColor)
    Q_PROPERTY(QColor _ImageDownColor READ _ImageDownColor WRITE set_ImageDownColor)
public:
    // Where the image stands relative to the title.
    enum ImagePosition {
        NoImage = 0,
        ImageOnly = 1,
        ImageLeft = 2,
        ImageRight = 3,
        ImageBelow = 4,
        ImageAbove = 5,
        ImageOverlaps = 6,
        ImageLeading = 7,
        ImageTrailing = 8,
    };
    Q_ENUM(ImagePosition)

    // The painted parts whose colour animates.
    enum LayerColor { BorderColor = 0, BackgroundColor, ImageColor, TitleColor };

    explicit ZLFlatButton(QWidget *parent = nullptr);
    ~ZLFlatButton() override;

    // 1 is on; anything else is off.
    int state() const { return m_state; }
    void setState(int state);

    bool momentary() const { return m_momentary; }
    void setMomentary(bool momentary);
    double onAnimateDuration() const { return m_onAnimateDuration; }
    void setOnAnimateDuration(double seconds) { m_onAnimateDuration = seconds; }
    double offAnimateDuration() const { return m_offAnimateDuration; }
    void setOffAnimateDuration(double seconds) { m_offAnimateDuration = seconds; }
    double cornerRadius() const { return m_cornerRadius; }
    void setCornerRadius(double radius);
    double borderWidth() const { return m_borderWidth; }
    void setBorderWidth(double width);
    double spacing() const { return m_spacing; }
    void setSpacing(double spacing);
    int imagePosition() const { return m_imagePosition; }
    void setImagePosition(int position);
    bool imageHugsTitle() const { return m_imageHugsTitle; }
    void setImageHugsTitle(bool hugs);

    QColor borderNormalColor() const { return m_borderNormalColor; }
    void setBorderNormalColor(const QColor &color);
    QColor borderHighlightColor() const { return m_borderHighlightColor; }
    void setBorderHighlightColor(const QColor &color);
    QColor backgroundNormalColor() const { return m_backgroundNormalColor; }
    void setBackgroundNormalColor(const QColor &color);
    QColor backgroundHighlightColor() const { return m_backgroundHighlightColor; }
    void setBackgroundHighlightColor(const QColor &color);
    QColor imageNormalColor() const { return m_imageNormalColor; }
    void setImageNormalColor(const QColor &color);
    QColor imageHighlightColor() const { return m_imageHighlightColor; }
    void setImageHighlightColor(const QColor &color);
    QColor titleNormalColor() const { return m_titleNormalColor; }
    void setTitleNormalColor(const QColor &color);
    QColor titleHighlightColor() const { return m_titleHighlightColor; }
    void setTitleHighlightColor(const QColor &color);

    // Off-state background and image colours with the pointer outside, over
    // and pressing the button. Setting them only stores them.
    QColor _NormalColor() const { return m_NormalColor; }
    void set_NormalColor(const QColor &color) { m_NormalColor = color; }
    QColor _HoverColor() const { return m_HoverColor; }
    void set_HoverColor(const QColor &color) { m_HoverColor = color; }
    QColor _DownColor() const { return m_DownColor; }
    void set_DownColor(const QColor &color) { m_DownColor = color; }
    QColor _ImageNormalColor() const { return m_ImageNormalColor; }
    void set_ImageNormalColor(const QColor &color) { m_ImageNormalColor = color; }
    QColor _ImageHoverColor() const { return m_ImageHoverColor; }
    void set_ImageHoverColor(const QColor &color) { m_ImageHoverColor = color; }
    QColor _ImageDownColor() const { return m_ImageDownColor; }
    void set_ImageDownColor(const QColor &color) { m_ImageDownColor = color; }
    // Sets _NormalColor, _HoverColor and _DownColor, in that order.
    void initializeButtonColor(const QColor &normal, const QColor &hover, const QColor &down);

    // A press began on the button and has not ended.
    bool mouseDown() const { return m_mouseDown; }
    void setMouseDown(bool down) { m_mouseDown = down; }

    // Brings every colour to the state's colours: the on colours for state 1,
    // the normal colours otherwise, each animated over the state's duration.
    void animateColorWithState(int state);
    // Animates one painted part to color over duration seconds (at once for
    // 0); nothing happens when it already has that colour.
    void animateLayer(LayerColor part, const QColor &color, double duration);
    // Ends every colour animation: each part shows its target colour at once.
    void removeAllAnimations();

    // The colour a part is painted in now, and the colour it is heading for.
    QColor presentedColor(LayerColor part) const;
    QColor layerColor(LayerColor part) const;
    // Where the title is painted; empty when the button shows no title.
    QRectF titleLayerRect() const;

    QSize sizeHint() const override;

protected:
    bool event(QEvent *event) override;
    void paintEvent(QPaintEvent *event) override;
    void changeEvent(QEvent *event) override;
    void enterEvent(QEnterEvent *event) override;
    void leaveEvent(QEvent *event) override;
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;

private:
    struct ColorChannel
    {
        QColor model;         // the colour set last
        QColor presentation;  // the colour on screen
        QColor from;
        QVariantAnimation *animation = nullptr;
    };

    void setup();
    void pointerEntered();
    void pointerExited();
    void layoutParts(QRectF *imageRect, QRectF *titleRect) const;
    QImage tintedImage(const QColor &tint) const;

    ColorChannel m_channels[4];
    qreal m_alpha = 1.0;
    bool m_polished = false;
    bool m_pointerInside = false;
    bool m_mouseDown = false;

    int m_state = 0;
    bool m_momentary = false;
    double m_onAnimateDuration = 0;
    double m_offAnimateDuration = 0;
    double m_cornerRadius = 0;
    double m_borderWidth = 0;
    double m_spacing = 0;
    int m_imagePosition = NoImage;
    bool m_imageHugsTitle = false;

    QColor m_borderNormalColor, m_borderHighlightColor;
    QColor m_backgroundNormalColor, m_backgroundHighlightColor;
    QColor m_imageNormalColor, m_imageHighlightColor;
    QColor m_titleNormalColor, m_titleHighlightColor;
    QColor m_NormalColor, m_HoverColor, m_DownColor;
    QColor m_ImageNormalColor, m_ImageHoverColor, m_ImageDownColor;

    mutable QImage m_tintCache;
    mutable QColor m_tintCacheColor;
    mutable qint64 m_tintCacheKey = 0;
    mutable QSize m_tintCacheSize;
    mutable qreal m_tintCacheRatio = 0;
};
