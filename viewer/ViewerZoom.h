#pragma once
// The viewer's zoom: the zoom slider and buttons, the wheel, and the three fit
// styles applied to the picture on show. The arithmetic (what a fit or a
// wheel step asks for, the pan and the centring) is ZoomModel's, held by the
// viewer's scroll view; this part feeds it and keeps the slider in step. The
// fit style and whether the user zoomed by hand stay with the viewer
// (fitStyle, imageManuallyZoomedByUser), where the window reads them. Main
// thread; it lives as long as its viewer.
#include <QObject>
#include <QPointF>

class viewimagevc;

class ViewerZoom : public QObject
{
    Q_OBJECT
public:
    // The slider holds the magnification in thousandths.
    static constexpr int sliderScale = 1000;

    explicit ViewerZoom(viewimagevc *viewer);

    // The slider's value as a magnification (single precision, as shown), and
    // setting it (clamped to the slider's range) without it counting as a move.
    double sliderValue() const;
    void setSliderValue(double value);
    // The slider moved: its value is applied unless this part set it.
    void sliderMoved();
    // The magnification the slider shows, applied by hand.
    void applySlider();
    // The slider by steps whole magnifications (below 0 out), applied by hand.
    void stepBy(double steps);
    // A wheel event of vertical delta with the pointer at point (scroll view coordinates).
    void wheel(double delta, QPointF point);
    // Fits the picture in style (viewimagevc::imageFit, viewfit or autoFit),
    // which becomes the fit style.
    void fit(int style);
    // The fit style again, unless the user zoomed by hand or no picture shows.
    void refit();
    // A picture was put on show: magnification 1 and the fit style, unless
    // the zoom is kept.
    void fitNewPicture();
    // While kept, a new picture of the item on show (turned, or shown again
    // after it changed on disk) keeps the magnification, the place and the
    // fit; showing another item ends it.
    void keep(bool kept) { m_kept = kept; }
    // The zoomed picture centred in the view again.
    void recenter();

private:
    void apply(double magnification);

    viewimagevc *m_viewer;
    bool m_settingSlider = false;
    bool m_kept = false;
};
