#pragma once
// The fixed colours of the small custom views, made once on first use.
#include <QColor>

// The square between a vertical and a horizontal scroller.
const QColor &scrollCornerColor();
// The knob of CustomScroller.
const QColor &scrollerKnobColor();
// The fill of a selected row.
const QColor &rowSelectionColor();
