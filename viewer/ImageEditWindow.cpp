#include "viewer/ImageEditWindow.h"

#include "model/SharedState.h"

#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSlider>
#include <QVBoxLayout>

#include <cmath>

namespace {
// Sliders hold hundredths.
constexpr double sliderScale = 100.0;

const char *editStyleSheet = R"css(
ImageEditWindow { background: #262626; }
QLabel { color: #dcdcdc; font-size: 12px; }
QLabel#valueLabel { color: #a0a0a0; min-width: 36px; }
QSlider::groove:horizontal { height: 4px; background: #4d4d4d; border-radius: 2px; }
QSlider::sub-page:horizontal { background: @accent; border-radius: 2px; }
QSlider::handle:horizontal { width: 12px; margin: -5px 0; border-radius: 6px; background: #ededed; }
QPushButton { color: #e6e6e6; background: #3a3a3a; border: 1px solid #4a4a4a; border-radius: 4px; padding: 4px 14px; }
QPushButton:hover { background: #474747; }
)css";
}

ImageEditWindow::ImageEditWindow(QWidget *parent) : QWidget(parent, Qt::Tool)
{
    setObjectName(QStringLiteral("ImageEditWindow"));
    setWindowTitle(windowTitleText());
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(withAccentColour(QString::fromLatin1(editStyleSheet)));

    struct Spec
    {
        const char *name;
        const char *title;
        double Adjustments::*field;
        double minimum, maximum;
    };
    const Spec specs[] = {
        {"exposure", "Exposure", &Adjustments::exposure, -2.0, 2.0},
        {"brightness", "Brightness", &Adjustments::brightness, -1.0, 1.0},
        {"contrast", "Contrast", &Adjustments::contrast, 0.25, 2.0},
        {"saturation", "Saturation", &Adjustments::saturation, 0.0, 2.0},
        {"sharpness", "Sharpness", &Adjustments::sharpness, 0.0, 2.0},
        {"sepia", "Sepia", &Adjustments::sepia, 0.0, 1.0},
        {"monochrome", "Monochrome", &Adjustments::monochrome, 0.0, 1.0},
    };
    auto *layout = new QVBoxLayout(this);
    layout->setContentsMargins(14, 12, 14, 12);
    auto *grid = new QGridLayout;
    grid->setHorizontalSpacing(10);
    grid->setVerticalSpacing(8);
    int line = 0;
    for (const Spec &spec : specs) {
        auto *title = new QLabel(QString::fromLatin1(spec.title), this);
        auto *slider = new QSlider(Qt::Horizontal, this);
        slider->setObjectName(QString::fromLatin1(spec.name) + QStringLiteral("Slider"));
        slider->setRange(int(std::lround(spec.minimum * sliderScale)), int(std::lround(spec.maximum * sliderScale)));
        slider->setValue(int(std::lround(m_adjustments.*(spec.field) * sliderScale)));
        slider->setMinimumWidth(200);
        auto *value = new QLabel(this);
        value->setObjectName(QStringLiteral("valueLabel"));
        value->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
        grid->addWidget(title, line, 0);
        grid->addWidget(slider, line, 1);
        grid->addWidget(value, line, 2);
        m_rows.append({QString::fromLatin1(spec.name), spec.field, slider, value});
        ++line;
    }
    for (const Row &row : std::as_const(m_rows)) {
        showValue(row);
        connect(row.slider, &QSlider::valueChanged, this, [this, row] { sliderMoved(row); });
    }
    layout->addLayout(grid);
    auto *reset = new QPushButton(QStringLiteral("Reset"), this);
    reset->setObjectName(QStringLiteral("resetButton"));
    connect(reset, &QPushButton::clicked, this, [this] {
        setAdjustments(Adjustments());
        Q_EMIT adjustmentsChanged(m_adjustments);
    });
    auto *buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(reset);
    layout->addLayout(buttons);
    adjustSize();
}

QSlider *ImageEditWindow::slider(const QString &name) const
{
    for (const Row &row : m_rows)
        if (row.name == name)
            return row.slider;
    return nullptr;
}

void ImageEditWindow::setAdjustments(const Adjustments &adjustments)
{
    m_adjustments = adjustments;
    m_setting = true;
    for (const Row &row : std::as_const(m_rows)) {
        row.slider->setValue(int(std::lround(m_adjustments.*(row.field) * sliderScale)));
        showValue(row);
    }
    m_setting = false;
}

void ImageEditWindow::sliderMoved(const Row &row)
{
    m_adjustments.*(row.field) = row.slider->value() / sliderScale;
    showValue(row);
    if (!m_setting)
        Q_EMIT adjustmentsChanged(m_adjustments);
}

void ImageEditWindow::showValue(const Row &row)
{
    row.value->setText(QString::number(row.slider->value() / sliderScale, 'f', 2));
}
