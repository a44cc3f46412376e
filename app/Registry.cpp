// The scenes of the main window: each controller is made once, on first use,
// from the factory registered under its class name.
#include "app/Essentials.h"

#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/preferencesWindowController.h"
#include "app/splitvc.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "outreach/StartupVc.h"
#include "outreach/utilityKitvc.h"
#include "model/PhotosLibrary.h"
#include "model/ScreenHooks.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Panels.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/VideoPlayer.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QPointer>

namespace {

template <typename T>
void registerScene()
{
    lg::ControllerRegistry::registerFactory(QString::fromLatin1(T::staticMetaObject.className()),
                                            [] { return new T; });
}

// What the model and the controls ask of the screens (model/ScreenHooks.h).
void installScreenHooks()
{
    ScreenHooks &hooks = screenHooks();
    hooks.sheetParent = [] { return static_cast<QWidget *>(mainWindow()); };
    hooks.showBusyOverlay = [] { contentHub()->showBusyLoader(); };
    hooks.hideBusyOverlay = [] {
        if (auto *hub = qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc"))))
            hub->hideBusyLoader();
    };
    hooks.overlay = [](Overlay overlay) {
        // Hiding makes no hub: where there is none, there is nothing to hide.
        mainvc *hub = overlay == Overlay::Hidden
                          ? qobject_cast<mainvc *>(lg::ControllerRegistry::existing(QStringLiteral("mainvc")))
                          : contentHub();
        if (!hub)
            return;
        hub->isonlyalert = overlay == Overlay::Sheet;
        if (overlay == Overlay::Hidden)
            hub->hideBusyLoader();
        else
            hub->showBusyLoader();
    };
    hooks.closeCollage = [] { contentHub()->closeCollagevc(); };
    hooks.collagePhotosAdded = [] {
        collagevc *collage = collageMaker();
        if (collage->collectionview)
            collage->collectionview->reset();
        isCollageSaved = false;
        if (collage->btnremove)
            collage->btnremove->setEnabled(false);
        collage->removeall();
    };
    // The full-image viewer closes; the viewer goes back to the files, its
    // video paused.
    hooks.viewerDoubleClicked = [] {
        if (currentScreenMode == ScreenFullImage) {
            imageViewer()->closeViewer();
            return;
        }
        viewimagevc *viewer = imageViewer();
        if (viewer->videoPlayer) {
            viewer->videoPlayer->pause();
            viewer->videoPlayer = nullptr;
        }
        lg::NotificationHub::instance().post(QStringLiteral("backtofiles"));
    };
    hooks.contentRightClicked = [](QMouseEvent *event) {
        if (currentScreenMode == ScreenList)
            listController()->handleRightMouseDown(event);
        else if (currentScreenMode == ScreenGrid)
            thumbnailGrid()->handleRightMouseDown(event);
    };
}

// Filled before main(): the model and the controls reach the screens from the
// first call on, also in a program that makes its screens later.
[[maybe_unused]] const bool screenHooksInstalled = (installScreenHooks(), true);

} // namespace

editImagevc *editImageController = nullptr;

void registerMainStoryboardScenes()
{
    static bool registered = false;
    if (registered)
        return;
    registered = true;
    registerScene<sideMenuvc>();
    registerScene<ViewController>();
    registerScene<thumbnailvc>();
    registerScene<viewimagevc>();
    registerScene<listVc>();
    registerScene<mainWindowController>();
    registerScene<splitvc>();
    registerScene<collagevc>();
    registerScene<mainvc>();
    registerScene<homeVc>();
    registerScene<StartupVc>();
    registerScene<utilityKitvc>();
    registerScene<preferencesWindowController>();
    registerScene<editImagevc>();
}

#define LG_REGISTRY_ACCESSOR(function, Class) \
    Class *function() { return instantiateMainStoryboardController<Class>(QStringLiteral(#Class)); }

LG_REGISTRY_ACCESSOR(sidebarController, sideMenuvc)
LG_REGISTRY_ACCESSOR(contentController, ViewController)
LG_REGISTRY_ACCESSOR(thumbnailGrid, thumbnailvc)
LG_REGISTRY_ACCESSOR(imageViewer, viewimagevc)
LG_REGISTRY_ACCESSOR(listController, listVc)
LG_REGISTRY_ACCESSOR(mainWindow, mainWindowController)
LG_REGISTRY_ACCESSOR(splitController, splitvc)
LG_REGISTRY_ACCESSOR(collageMaker, collagevc)
LG_REGISTRY_ACCESSOR(contentHub, mainvc)
LG_REGISTRY_ACCESSOR(homeScreen, homeVc)
LG_REGISTRY_ACCESSOR(welcomeScreen, StartupVc)
LG_REGISTRY_ACCESSOR(promotionPanel, utilityKitvc)
LG_REGISTRY_ACCESSOR(preferencesWindow, preferencesWindowController)

void resetSharedState()
{
    lg::Alert::closeAll();
    lg::Panels::closeAll();
    if (lg::isShuttingDown())   // a test that quit
        lg::resetShutdownForTesting();
    lg::ControllerRegistry::reset();
    editImageController = nullptr;

    setSharedStateToStart();
    thumbnailCache().clear();
    addingFoldersCancelled = false;
    isSidebarTreeUpdating = false;
    sideMenuvc::folderRecordedHook = {};
    currentContentView = nullptr;
    collageSlotList.clear();
    resetPhotosLibraryState();
}
