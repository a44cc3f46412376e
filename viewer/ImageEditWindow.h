#pragma once
// The "Image Edit" window: one slider for each adjustment (exposure,
// brightness, contrast, saturation, sharpness, sepia, monochrome) and a reset.
// It only reports the adjustments; the editor previews and saves them. Main thread.
#include "viewer/Adjustments.h"

#include <QList>
#include <QWidget>

class QLabel;
class QSlider;

class ImageEditWindow : public QWidget
{
    Q_OBJECT
public:
    explicit ImageEditWindow(QWidget *parent = nullptr);

    Adjustments adjustments() const { return m_adjustments; }
    // Sets the sliders (no adjustmentsChanged).
    void setAdjustments(const Adjustments &adjustments);
    // The slider of an adjustment by its name ("exposure", "brightness", ...).
    QSlider *slider(const QString &name) const;

    static QString windowTitleText() { return QStringLiteral("Image Edit"); }

Q_SIGNALS:
    void adjustmentsChanged(const Adjustments &adjustments);

private:
    struct Row
    {
        QString name;
        double Adjustments::*field;
        QSlider *slider;
        QLabel *value;
    };
    void sliderMoved(const Row &row);
    void showValue(const Row &row);

    QList<Row> m_rows;
    Adjustments m_adjustments;
    bool m_setting = false;
};
