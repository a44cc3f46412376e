#pragma once
// The controller registry, which makes each screen on first use, over the
// application-wide state below the screens (model/SharedState.h). Main thread
// only.
#include "model/SharedState.h"

#include <QList>
#include <QString>

class QWidget;
class sideMenuvc;
class ViewController;
class thumbnailvc;
class viewimagevc;
class listVc;
class mainWindowController;
class splitvc;
class collagevc;
class mainvc;
class homeVc;
class StartupVc;
class utilityKitvc;
class preferencesWindowController;
class editImagevc;

// The empty class whose file holds the shared state.
class Essentials
{
};

// ---- Controller registry: one instance of each, made on first use ----
sideMenuvc *sidebarController();
ViewController *contentController();
thumbnailvc *thumbnailGrid();
viewimagevc *imageViewer();
listVc *listController();
mainWindowController *mainWindow();
splitvc *splitController();
collagevc *collageMaker();
mainvc *contentHub();
homeVc *homeScreen();
StartupVc *welcomeScreen();
utilityKitvc *promotionPanel();
preferencesWindowController *preferencesWindow();
// The editor, made by the hub the first time it opens; nullptr until then.
extern editImagevc *editImageController;

// ---- Shared state that names widgets ----
extern QWidget *currentContentView;
extern QList<QWidget *> collageSlotList;   // the collage's slot views, in order
// Embeds view in container with zero margins on every edge.
void pinViewToContainerEdges(QWidget *container, QWidget *view);

// Makes the controller registered under identifier and checks its class.
template <typename T>
T *instantiateMainStoryboardController(const QString &identifier);

// Registers the factories of every scene; called once before the first use.
void registerMainStoryboardScenes();

// Puts every piece of shared state back to its start value and deletes the
// controllers (tests call it between cases).
void resetSharedState();

// ---- template definition ----
#include "platform/runtime/ControllerRegistry.h"
template <typename T>
T *instantiateMainStoryboardController(const QString &identifier)
{
    registerMainStoryboardScenes();
    return lg::ControllerRegistry::instance<T>(identifier);
}
