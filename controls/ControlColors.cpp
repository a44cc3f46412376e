#include "controls/ControlColors.h"

#include "model/SharedState.h"

const QColor &scrollCornerColor()
{
    static const QColor color = makeOpaqueColor(23 / 255.0, 39 / 255.0, 57 / 255.0);
    return color;
}

const QColor &scrollerKnobColor()
{
    static const QColor color = makeOpaqueColor(100 / 255.0, 100 / 255.0, 100 / 255.0);
    return color;
}

const QColor &rowSelectionColor()
{
    static const QColor color = makeOpaqueColor(37 / 255.0, 105 / 255.0, 217 / 255.0);
    return color;
}
