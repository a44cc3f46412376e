#pragma once
// The viewer's picture: a magnifying scroll view (scrollimage) whose clip
// view (DraggableClipView) pans by dragging, around the image view that
// draws the picture (ViewerImageView). The geometry lives in the scroll
// view's ZoomModel; the widgets only feed it and paint from it.
#include "controls/ClickViews.h"
#include "viewer/ZoomModel.h"

#include <QImage>
#include <QString>
#include <QWidget>

class DraggableClipView;
class ViewerImageView;

// The magnifying scroll view. The wheel never scrolls it: each wheel event is
// handed to the viewer's zoom (wheelZoomRequested).
class scrollimage : public QWidget
{
    Q_OBJECT
public:
    explicit scrollimage(QWidget *parent = nullptr);

    ZoomModel &model() { return m_model; }
    const ZoomModel &model() const { return m_model; }
    DraggableClipView *clipView() const { return m_clip; }

    double magnification() const { return m_model.magnification(); }
    void setMagnification(double magnification);
    void setMagnification(double magnification, QPointF documentAnchor);
    void recenter();
    // Repaints after a change made to the model directly.
    void modelChanged();

Q_SIGNALS:
    // A wheel event: its vertical delta and the pointer in this view's coordinates.
    void wheelZoomRequested(double delta, QPointF point);
    // The magnification or the scroll position changed.
    void geometryChanged();

protected:
    void wheelEvent(QWheelEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    ZoomModel m_model;
    DraggableClipView *m_clip = nullptr;
};

// The clip view: a press and drag pans the magnified picture, within its edges.
class DraggableClipView : public QWidget
{
    Q_OBJECT
public:
    explicit DraggableClipView(scrollimage *scrollView);

    ViewerImageView *documentView() const { return m_document; }
    void setDocumentView(ViewerImageView *view);

protected:
    void mousePressEvent(QMouseEvent *event) override;
    void mouseMoveEvent(QMouseEvent *event) override;
    void mouseReleaseEvent(QMouseEvent *event) override;
    void resizeEvent(QResizeEvent *event) override;

private:
    scrollimage *m_scroll = nullptr;
    ViewerImageView *m_document = nullptr;
};

// The image view: draws the picture proportionally scaled down into itself,
// magnified and scrolled as the scroll view's model says. It holds the image
// decoded for the screen; the model holds the image's own pixel size, which
// all the arithmetic uses. A double click leaves the viewer (MyImageView).
class ViewerImageView : public MyImageView
{
    Q_OBJECT
public:
    explicit ViewerImageView(scrollimage *scrollView, QWidget *parent = nullptr);

    // The picture of key (a file path), pixelSize its own size; image may be
    // smaller (decoded for the screen).
    void setPicture(const QImage &image, QSize pixelSize, const QString &key);
    // A stand-in shown while the picture is decoded; not an image for the
    // zoom arithmetic.
    void setPlaceholder(const QImage &image, QSize pixelSize, const QString &key);
    // The same picture at a higher resolution (ignored for another key).
    void upgradePicture(const QImage &image, const QString &key);
    // The next frame of an animated picture (same size).
    void setFrame(const QImage &frame);
    void clearPicture();

    bool hasImage() const { return m_hasImage; }
    bool isPlaceholder() const { return m_placeholder; }
    QString pictureKey() const { return m_key; }
    const QImage &currentImage() const { return m_image; }
    QSize pixelSize() const { return m_pixelSize; }
    // Whether the picture shows with fewer pixels than the screen has for it
    // (a higher resolution decode would look sharper).
    bool wantsMoreResolution() const;

    void setBackgroundColor(const QColor &color);
    QColor backgroundColor() const { return m_background; }

Q_SIGNALS:
    // A paint of the view showed the picture of key (placeholder or not).
    void painted(const QString &key, bool placeholder);

protected:
    void paintEvent(QPaintEvent *event) override;

private:
    scrollimage *m_scroll = nullptr;
    QImage m_image;
    QSize m_pixelSize;
    QString m_key;
    bool m_hasImage = false;
    bool m_placeholder = false;
    QColor m_background;
};
