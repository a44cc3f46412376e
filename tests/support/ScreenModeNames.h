#pragma once
// Failures that compare screen modes print their names:
// QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid).
#include "model/SharedState.h"

#include <QtTest>

namespace QTest {
template <>
inline char *toString(const ScreenMode &mode)
{
    static const char *const names[] = {"Grid", "List", "Viewer", "FullImage", "Home", "Welcome", "Collage"};
    return qstrdup(mode <= ScreenCollage ? names[mode] : "?");
}
} // namespace QTest
