// The viewer's zoom: slider, buttons, wheel and fit styles, fed to ZoomModel.
#include "viewer/ViewerZoom.h"

#include "viewer/ViewerCanvas.h"
#include "viewer/ZoomModel.h"
#include "viewer/viewimagevc.h"

#include <QSlider>

#include <algorithm>
#include <cmath>

ViewerZoom::ViewerZoom(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer) {}

double ViewerZoom::sliderValue() const
{
    return double(float(double(m_viewer->slider->value()) / sliderScale));
}

void ViewerZoom::setSliderValue(double value)
{
    const double clamped = std::isfinite(value) ? std::clamp(value, viewimagevc::minimumMagnification,
                                                             viewimagevc::maximumMagnification)
                                                : viewimagevc::minimumMagnification;
    m_settingSlider = true;
    m_viewer->slider->setValue(int(std::lround(clamped * sliderScale)));
    m_settingSlider = false;
}

void ViewerZoom::sliderMoved()
{
    if (!m_settingSlider)
        m_viewer->sliderChanged();
}

void ViewerZoom::apply(double magnification)
{
    m_viewer->scrollview->setMagnification(magnification);
}

void ViewerZoom::applySlider()
{
    m_viewer->imageManuallyZoomedByUser = true;
    apply(sliderValue());
}

void ViewerZoom::stepBy(double steps)
{
    m_viewer->imageManuallyZoomedByUser = true;
    setSliderValue(sliderValue() + steps);
    apply(sliderValue());
}

void ViewerZoom::wheel(double delta, QPointF point)
{
    if (m_viewer->isSlideShowRunning)
        return;
    m_viewer->imageManuallyZoomedByUser = true;
    m_viewer->scrollup = delta > 0;
    if (!m_viewer->imgview->hasImage())
        return;
    scrollimage *scroll = m_viewer->scrollview;
    scroll->model().applyWheel(delta, point);
    scroll->modelChanged();
    setSliderValue(scroll->magnification());
}

void ViewerZoom::fit(int style)
{
    if (style != viewimagevc::imageFit && style != viewimagevc::viewfit && style != viewimagevc::autoFit)
        return;
    m_viewer->fitStyle = style;
    m_viewer->imageManuallyZoomedByUser = false;
    if (style == viewimagevc::autoFit) {
        setSliderValue(1.0);
    } else {
        if (!m_viewer->imgview->hasImage())
            return;
        const ZoomModel &model = m_viewer->scrollview->model();
        setSliderValue(style == viewimagevc::imageFit ? model.fitToImageMagnification()
                                                      : model.fitToViewMagnification());
    }
    apply(sliderValue());
}

void ViewerZoom::refit()
{
    if (m_viewer->imageManuallyZoomedByUser || m_viewer->scrollview->isHidden())
        return;
    fit(m_viewer->fitStyle);
}

void ViewerZoom::fitNewPicture()
{
    if (m_kept)
        return;
    apply(1.0);
    fit(m_viewer->fitStyle);
}

void ViewerZoom::recenter()
{
    scrollimage *scroll = m_viewer->scrollview;
    if (scroll->isHidden() && scroll->magnification() <= 1.0)
        return;
    scroll->recenter();
}
