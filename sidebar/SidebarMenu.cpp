#include "sidebar/SidebarMenu.h"

#include "platform/files/names/FileNames.h"

#include "platform/desktop/Paths.h"
#include "sidebar/BaseNode.h"
#include "sidebar/FolderScan.h"

#include <QFileInfo>

SidebarMenuState sidebarMenuState(const SidebarMenuSnapshot &s)
{
    SidebarMenuState state;
    if (s.busy || !s.onRow)
        return state;
    state.showsMenu = true;
    state.showsRemoveBookmark = s.topLevel;
    state.copyTitle = QStringLiteral("Copy");
    if (!s.hasUrl)
        return state;
    state.copyTitle = QStringLiteral("Copy \"%1\"").arg(s.lastPathComponent);
    // A web link or a folder that went missing: only refresh and the bookmarks.
    if (!s.isLocal || !s.exists)
        return state;
    state.openInFileManager = true;
    state.getInfo = true;
    if (s.isLibrary)
        return state;
    state.createNewFolder = true;
    state.copy = true;
    state.paste = s.clipboardHasFiles;
    // Standard folders too, after the question; never the home folder itself.
    state.moveToTrash = !s.isHome;
    return state;
}

SidebarMenuSnapshot sidebarMenuSnapshot(const BaseNode *node, bool topLevel)
{
    SidebarMenuSnapshot s;
    if (!node)
        return s;
    s.onRow = true;
    s.topLevel = topLevel;
    const std::optional<QUrl> url = node->url();
    if (!url)
        return s;
    s.hasUrl = true;
    s.isLocal = url->isLocalFile();
    const QString path = s.isLocal ? lg::LexicalPaths::clean(lg::FileNames::pathOf(*url)) : url->path();
    s.lastPathComponent = s.isLocal ? QFileInfo(path).fileName() : url->fileName();
    if (s.isLocal) {
        s.exists = lg::FileNames::exists(path);
        s.isLibrary = isPhotosLibraryPath(path);
        s.isHome = path == lg::LexicalPaths::clean(lg::Paths::home());
    }
    return s;
}
