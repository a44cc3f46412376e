#pragma once
// The editor's adjustments as a value, and the pure function that applies them
// to pixels. The preview runs it on a screen-size copy and the save on the full
// picture, so both show the same result. No widgets; any thread; the source
// image is never changed.
#include <QImage>

struct Adjustments
{
    double exposure = 0;     // stops, -2..2: each stop doubles the light
    double brightness = 0;   // -1..1, added to every channel
    double contrast = 1;     // 0.25..2, the spread around mid-grey
    double saturation = 1;   // 0..2; 0 is grey
    double sharpness = 0;    // 0..2, unsharp-mask strength
    double sepia = 0;        // 0..1, blend towards a sepia tone
    double monochrome = 0;   // 0..1, blend towards grey

    bool isIdentity() const { return *this == Adjustments(); }
    bool operator==(const Adjustments &) const = default;
};

// The adjusted picture, in Format_ARGB32 or Format_RGB32 (alpha kept). An
// identity adjustment returns the source itself.
QImage applyAdjustments(const QImage &source, const Adjustments &adjustments);
