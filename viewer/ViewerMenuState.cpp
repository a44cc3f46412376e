#include "viewer/ViewerMenuState.h"

ViewerMenuState viewerMenuState(const ViewerMenuSnapshot &s)
{
    ViewerMenuState state;
    if (s.busy) {
        state.empty = true;
        return state;
    }
    const bool inLibrary = s.folderExtension == QLatin1String("photoslibrary");
    state.closeFullscreen = s.screenMode == 3;
    state.fileCommandsEnabled = !s.nothingShown;
    state.openWithEnabled = s.hasCurrentItem && s.applicationCount > 0 && !s.nothingShown;
    state.trashEnabled = s.hasFolder && !inLibrary && !s.nothingShown;
    state.propertiesEnabled = !s.infoPaneVisible && s.screenMode != 3;
    // Only still pictures on disk turn: not animations, not videos.
    state.rotateEnabled = !s.slideShowRunning && !inLibrary && s.hasCurrentItem && s.currentIsImage
                          && s.itemExtension != QLatin1String("gif") && !s.nothingShown;
    state.showTransitions = s.slideShowRunning;
    state.slideShowTitle = s.slideShowRunning ? QStringLiteral("Stop Slide Show") : QStringLiteral("Start Slide Show");
    state.checkedFit = (s.fitStyle >= 1 && s.fitStyle <= 3) ? s.fitStyle : 0;
    return state;
}
