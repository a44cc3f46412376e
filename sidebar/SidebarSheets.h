#pragma once
// Small helpers shared by the sidebar's command files: the hub's busy overlay
// in its two forms and the diagnostic line. Main thread.
#include "app/mainvc.h"
#include "model/ScreenHooks.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"

#include <QString>
#include <cstdio>

namespace sidebarsheets {

inline mainvc *hub()
{
    return qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
}

// The overlay behind a sheet: dimming only (where the hub is up).
inline void showSheetOverlay()
{
    if (hub())
        showOverlay(Overlay::Sheet);
}

// The overlay while work runs: with the spinner (where the hub is up).
inline void showWorkOverlay()
{
    if (hub())
        showOverlay(Overlay::Work);
}

inline void hideOverlay()
{
    showOverlay(Overlay::Hidden);
}

using lg::printLine;

} // namespace sidebarsheets
