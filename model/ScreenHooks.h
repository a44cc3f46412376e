#pragma once
// What the model and the controls ask of the screens above them. They name
// no screen (the build links them without the screens), so the application
// fills these hooks when it registers its screens
// (registerMainStoryboardScenes, app/Registry.cpp). Main thread only. A hook
// left empty does nothing: a benchmark or a test that has no screens.
#include <functional>

class QMouseEvent;
class QWidget;

// The content hub's overlay: hidden, dimming the window under a sheet, or
// with the spinner while work runs.
enum class Overlay { Hidden, Sheet, Work };

struct ScreenHooks
{
    // The window that the model's sheets open on (the main window).
    std::function<QWidget *()> sheetParent;
    // The content hub's busy overlay with its spinner, over a background load.
    std::function<void()> showBusyOverlay;
    // Hides it where the hub exists (it is not made for that).
    std::function<void()> hideBusyOverlay;
    // The hub's overlay as asked (showOverlay).
    std::function<void(Overlay overlay)> overlay;
    // The collage maker is left (its picture was saved on the way out).
    std::function<void()> closeCollage;
    // The Photos library's pictures were appended to collagePhotoList: the
    // collage shows its list anew, as unsaved, with nothing chosen.
    std::function<void()> collagePhotosAdded;
    // A double click of the left button in a viewer view.
    std::function<void()> viewerDoubleClicked;
    // A right click on the content area's background (myview).
    std::function<void(QMouseEvent *)> contentRightClicked;
};

ScreenHooks &screenHooks();

// Puts the hub's overlay as asked (hiding it makes no hub). The one way
// every screen and the flow of file commands show and hide it.
void showOverlay(Overlay overlay);
