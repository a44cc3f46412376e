#pragma once
// Which entries of the sidebar's context menu are offered and enabled, worked
// out from a snapshot of the clicked row, the clipboard and the busy state.
// No widgets here: the sidebar fills the snapshot, builds the menu from the
// result, and tests check the rules row by row. Any thread.
#include <QString>

class BaseNode;

struct SidebarMenuSnapshot
{
    bool onRow = false;              // the click was on a row
    bool topLevel = false;           // the row is a top-level node (a bookmark)
    bool hasUrl = false;             // the node stands for something
    bool isLocal = false;            // ... on this disk
    bool exists = false;             // ... and it is there
    bool isLibrary = false;          // a Photos library package
    bool isHome = false;             // the home folder itself
    bool busy = false;               // the busy overlay shows
    bool clipboardHasFiles = false;
    QString lastPathComponent;
};

struct SidebarMenuState
{
    bool showsMenu = false;          // false: no menu at all
    bool showsRemoveBookmark = false;
    bool openInFileManager = false;
    bool createNewFolder = false;
    bool moveToTrash = false;
    bool copy = false;
    bool paste = false;
    bool getInfo = false;
    QString copyTitle;               // "Copy" or Copy "name"
    bool operator==(const SidebarMenuState &) const = default;
};

SidebarMenuState sidebarMenuState(const SidebarMenuSnapshot &snapshot);

// The snapshot of a node (nullptr: no row); the caller adds busy and the clipboard.
SidebarMenuSnapshot sidebarMenuSnapshot(const BaseNode *node, bool topLevel);
