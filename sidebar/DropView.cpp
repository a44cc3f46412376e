#include "sidebar/DropView.h"

#include "platform/files/names/FileNames.h"

#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "collage/CollageDrag.h"
#include "collage/collagevc.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/Paths.h"
#include "sidebar/sideMenuvc.h"

#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QMimeData>
#include <QWidget>

#include <cstdio>

const QString DropView::notFolderMessage =
    QStringLiteral("Only folders with images can be added to Lumen Gallery. Kindly drag a folder to view images from.");

namespace {

QStringList droppedPaths(const QMimeData *data)
{
    QStringList paths;
    if (!data || isCollageDrag(data))
        return paths;   // the collage's own drags are for its slots only
    for (const QUrl &url : data->urls()) {
        if (!url.isLocalFile())
            return {};  // only a list of local paths is usable
        paths.append(lg::FileNames::pathOf(url));
    }
    return paths;
}

} // namespace

DropView::DropView(QWidget *window) : QObject(window)
{
    setObjectName(QStringLiteral("DropView"));
    window->setAcceptDrops(true);
    window->installEventFilter(this);
}

DropView *DropView::install(QWidget *window)
{
    if (!window)
        return nullptr;
    if (auto *existing = window->findChild<DropView *>(QString(), Qt::FindDirectChildrenOnly))
        return existing;
    return new DropView(window);
}

bool DropView::draggingEntered(const QMimeData *data)
{
    return !droppedPaths(data).isEmpty();
}

bool DropView::eventFilter(QObject *watched, QEvent *event)
{
    switch (event->type()) {
    case QEvent::DragEnter:
    case QEvent::DragMove: {
        auto *drag = static_cast<QDropEvent *>(event);
        if (draggingEntered(drag->mimeData())) {
            drag->setDropAction(Qt::CopyAction);
            drag->accept();
        } else {
            drag->ignore();
        }
        return true;
    }
    case QEvent::Drop: {
        auto *drop = static_cast<QDropEvent *>(event);
        if (performDragOperation(drop->mimeData())) {
            drop->setDropAction(Qt::CopyAction);
            drop->accept();
        } else {
            drop->ignore();
        }
        return true;
    }
    default:
        return QObject::eventFilter(watched, event);
    }
}

bool DropView::performDragOperation(const QMimeData *data)
{
    return performDragOperation(droppedPaths(data));
}

bool DropView::performDragOperation(const QStringList &paths)
{
    if (paths.isEmpty())
        return false;
    if (currentScreenMode == ScreenCollage) {
        QList<QUrl> urls;
        for (const QString &path : paths)
            urls.append(lg::FileNames::urlOf(path));
        // The collage takes every item, untested.
        if (!QMetaObject::invokeMethod(collageMaker(), "addPhotosInBackground", Q_ARG(QList<QUrl>, urls)))
            std::printf("The collage cannot take dropped files\n");
        return true;
    }

    selectedSourceURLs.clear();
    bool notFolder = false;
    bool refused = false;
    for (const QString &path : paths) {
        const QUrl url = lg::FileNames::urlOf(lg::LexicalPaths::clean(path));
        if (!lg::FileNames::isFolder(path)) {
            notFolder = true;
            continue;
        }
        if (isHiddenURL(url) || !lg::Paths::isInsideHome(path)) {
            refused = true;
            continue;
        }
        selectedSourceURLs.append(url);
    }
    if (!notFolder && !refused) {
        openBrowser();
        return true;
    }

    homeVc *home = homeScreen();
    if (home->blacklayer)
        home->blacklayer->show();
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = refused ? homeVc::rejectionMessage() : notFolderMessage;
    spec.buttons = {QStringLiteral("OK")};
    lg::Alert::show(mainWindow(), spec, [](int) {
        openBrowser();
        if (homeVc *h = qobject_cast<homeVc *>(lg::ControllerRegistry::existing(QStringLiteral("homeVc")));
            h && h->blacklayer)
            h->blacklayer->hide();
    });
    return true;
}

void DropView::openBrowser()
{
    if (selectedSourceURLs.isEmpty())
        return;
    // The same way in as the home screen's: the folders are added and the hub
    // becomes the window's content.
    homeScreen()->enterBrowser();
}
