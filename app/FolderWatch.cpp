// The hub's watch on the current folder: a change reloads the visible view once
// the folder has been quiet for a moment, so a burst of changes costs one reload.
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/BrowserStyle.h"
#include "browser/ItemMenus.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "model/FolderMonitor.h"
#include "platform/runtime/Console.h"
#include "sidebar/sideMenuvc.h"
#include "platform/runtime/Timer.h"
#include "viewer/viewimagevc.h"
#include "platform/files/names/FileNames.h"

#include <QFileInfo>

#include <cstdio>

using lg::printLine;

void mainvc::scheduleReload()
{
    // A restart pushes the pending reload back; meanwhile the views show that
    // their listing is on its way.
    timerReload->start(reloadDelayMs);
    browserstyle::showListingState();
}

void mainvc::startMonitorWithSender(QObject *)
{
    monitor.reset();
    if (!currentFolderURL || !currentFolderURL->isLocalFile())
        return;
    const QString path = lg::FileNames::pathOf(*currentFolderURL);
    if (!lg::FileNames::exists(path))
        return;
    if (QFileInfo(path).suffix().toLower() == QLatin1String("photoslibrary")) {
        // A Photos library is read from its database, not watched: load it once.
        scheduleReload();
        return;
    }
    monitor = std::make_unique<FolderMonitor>(*currentFolderURL, [this] {
        printLine(QStringLiteral("Found change"));
        scheduleReload();
    });
    // Renamed, moved or removed by another program: the sidebar follows.
    monitor->setFolderLeftHandler([url = *currentFolderURL] {
        if (sideMenuvc *sidebar = sidebarController())
            sidebar->folderLeftItsPlace(url);
    });
    printLine(QStringLiteral("Monitoring ") + currentFolderURL->toString());
}

void mainvc::stopMonitorWithSender(QObject *)
{
    monitor.reset();
}

void mainvc::reloaddata()
{
    printLine(QStringLiteral("reload change"));
    browserstyle::showListingState();
    if (currentScreenMode == ScreenViewer || currentScreenMode == ScreenFullImage)
        imageViewer()->reloadItems();
    else
        reloadShownBrowseView();
}
