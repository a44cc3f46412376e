#pragma once
// Helpers for tests that drive the program's screens: the main window shown
// with the content hub, and a folder listed into the grid. Main thread only;
// a failure is reported by QVERIFY in the calling case or by the result.
#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"

#include <QSignalSpy>
#include <QString>
#include <QUrl>
#include <QtTest>

namespace lg::test {

// The main window, active, showing the content hub.
inline void showHub()
{
    mainWindowController *window = mainWindow();
    window->setContentViewController(contentHub());
    window->resize(1100, 700);
    window->show();
    window->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(window));
}

// folder listed as the current folder into the grid; false when the listing
// did not end within ten seconds.
inline bool reloadGrid(const QString &folder)
{
    currentFolderURL = QUrl::fromLocalFile(folder);
    contentController()->showThumbnailView();
    QSignalSpy finished(thumbnailGrid(), &thumbnailvc::reloadFinished);
    thumbnailGrid()->refreshData();
    return !finished.isEmpty() || finished.wait(10000);
}

} // namespace lg::test
