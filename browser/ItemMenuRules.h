#pragma once
// Which entries of the grid's and the list's context menu are enabled, as a
// pure function of what the menu saw when it was opened: where the click was,
// the selection, the current folder, the clipboard and the information pane.
// No widgets; any thread.
#include <QHash>
#include <QString>
#include <QStringList>

struct ItemMenuSnapshot
{
    bool overItem = false;             // the click was on an item (else empty space)
    int selectedCount = 0;             // items selected once the click has settled the selection
    bool clickedIsImage = false;       // the item under the click is an image (not a video)
    bool hasCurrentFolder = false;     // a folder or a Photos library is the current source
    bool folderIsPhotoLibrary = false; // the current source is a Photos library
    bool clipboardHasMediaFile = false;
    bool infoPaneShown = false;
    bool hasApplications = false;      // "Open with Application" has entries
};

// The object names of the menu's actions, in menu order (separators left out).
// The grid's menu also holds "actionShow"; the list's does not.
QStringList itemMenuActionNames(bool grid);

// Enabled or not, by action object name, for every name of itemMenuActionNames.
QHash<QString, bool> itemMenuEnabling(const ItemMenuSnapshot &snapshot, bool grid);
