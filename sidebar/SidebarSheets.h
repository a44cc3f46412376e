#pragma once
// Small helpers shared by the sidebar's command files: the hub's busy overlay
// in its two forms and the diagnostic line. Main thread.
#include "app/mainvc.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"

#include <QString>
#include <cstdio>

namespace sidebarsheets {

inline mainvc *hub()
{
    return qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
}

// The overlay behind a sheet: dimming only.
inline void showSheetOverlay()
{
    if (mainvc *h = hub()) {
        h->isonlyalert = true;
        h->showBusyLoader();
    }
}

// The overlay while work runs: with the spinner.
inline void showWorkOverlay()
{
    if (mainvc *h = hub()) {
        h->isonlyalert = false;
        h->showBusyLoader();
    }
}

inline void hideOverlay()
{
    if (mainvc *h = hub()) {
        h->isonlyalert = false;
        h->hideBusyLoader();
    }
}

using lg::printLine;

} // namespace sidebarsheets
