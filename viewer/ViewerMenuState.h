#pragma once
// What the viewer's right-click menu offers, worked out from a snapshot of the
// moment it opens: which items exist, which are enabled and which carry a check
// mark. No widgets here; the viewer turns the result into its QMenu
// (ViewerMenu.cpp). Any thread.
#include <QString>

struct ViewerMenuSnapshot
{
    bool busy = false;             // the busy overlay shows or a file operation runs
    bool hasCurrentItem = false;   // the index names an item of the list in use that has a file
    bool currentIsImage = false;
    QString itemExtension;         // the current file's extension, lower-cased
    bool hasFolder = false;        // there is a current folder
    QString folderExtension;       // the current folder's extension, lower-cased
    int screenMode = 2;            // 2 viewer, 3 full-image viewer
    bool slideShowRunning = false;
    int fitStyle = 3;
    bool infoPaneVisible = false;
    int applicationCount = 0;      // applications that can open the current file
    bool nothingShown = false;     // no file on show ("No media files found", or its folder gone)
};

struct ViewerMenuState
{
    bool empty = false;              // no items at all (busy)
    bool closeFullscreen = false;    // "Close Fullscreen view" instead of "Fullscreen view"
    bool fileCommandsEnabled = false;   // reveal, wallpaper, Copy, Copy To: a file is on show
    bool openWithEnabled = false;
    bool trashEnabled = false;       // "Move to Trash" and "Move To.."
    bool propertiesEnabled = false;
    bool rotateEnabled = false;
    bool showTransitions = false;    // the "Slide Show Transitions" item exists
    QString slideShowTitle;
    int checkedFit = 0;              // 1 "Fit to Image", 2 "Fit to View", 3 "Auto Fit", 0 none

    bool operator==(const ViewerMenuState &) const = default;
};

ViewerMenuState viewerMenuState(const ViewerMenuSnapshot &snapshot);
