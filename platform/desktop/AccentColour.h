#pragma once
// The accent colour of the program's one look (orange), named once for the
// platform's own drawing (the alert badge) and for every screen, which reach
// it as accentOrange() (model/SharedState.h). Any thread.
#include <QColor>

namespace lg {

inline QColor accentColour()
{
    return QColor(244, 155, 0);
}

} // namespace lg
