#pragma once
// Files shown from outside the sidebar's folders: those chosen in the media
// files panel (btnfocus) and those handed over by the command line or another
// program (app/FileHandover). A file whose folder the tree has selects that
// folder, the file focused once it is listed; the others are listed under the
// "Opened with" entry at the top level, made when first needed. Folders handed
// over are sources of their own: added, or selected when the tree has them.
// Only media files are listed; a name that is not valid UTF-8 is kept by its
// bytes (lg::FileNames). Main thread; it lives as long as its sidebar.
#include "sidebar/BaseNode.h"
#include "sidebar/SidebarTreeModel.h"

#include <QList>
#include <QObject>
#include <QStringList>
#include <QUrl>

#include <optional>

class sideMenuvc;

class SidebarOpenedFiles : public QObject
{
    Q_OBJECT
public:
    explicit SidebarOpenedFiles(sideMenuvc *sidebar);

    // The media files panel; the files chosen are shown (showChosen).
    void chooseFilesToShow();
    // See the sideMenuvc methods showChosenFiles and revealFolderOfFile.
    void showChosen(const QList<QUrl> &urls);
    void reveal(const QStringList &paths);
    // The top-level "Opened with" entry; none when absent.
    std::optional<IndexPath> openedWithNode() const;

private:
    // Selects the "Opened with" entry, made first when absent.
    void showOpenedWithNode();

    sideMenuvc *m_sidebar;
};
