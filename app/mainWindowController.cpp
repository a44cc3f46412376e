#include "app/mainWindowController.h"

#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "browser/ViewController.h"
#include "collage/collagevc.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Timer.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QCloseEvent>
#include <QMenuBar>
#include <QGuiApplication>
#include <QScreen>
#include <QToolBar>
#include <QWindow>
#include <cstdio>

using lg::printLine;

mainWindowController::mainWindowController(QWidget *parent) : QMainWindow(parent)
{
    setObjectName(QStringLiteral("mainWindowController"));
    setWindowTitle(QStringLiteral("Lumen Gallery"));
    resize(1200, 760);
    setMinimumSize(640, 420);
    m_liveResizeEnd = new lg::Timer(this);
    m_liveResizeEnd->setSingleShot(true);
    m_liveResizeEnd->setInterval(liveResizeSettleMs);
    connect(m_liveResizeEnd, &lg::Timer::timeout, this, [this] {
        m_liveResizing = false;
        windowDidEndLiveResize();
    });
    windowDidLoad();
}

void mainWindowController::windowDidLoad()
{
    // A dark, frameless-looking content area under the system title bar.
    setAutoFillBackground(true);
    QPalette pal = palette();
    pal.setColor(QPalette::Window, QColor(0x1e, 0x1e, 0x1e));
    setPalette(pal);
}

void mainWindowController::setContentViewController(QWidget *content)
{
    QWidget *previous = centralWidget();
    if (previous == content)
        return;
    if (previous) {
        // takeCentralWidget keeps the old screen alive; setCentralWidget would delete it.
        takeCentralWidget();
        previous->hide();
        previous->setParent(nullptr);
    }
    if (content) {
        setCentralWidget(content);
        content->show();
    }
}

QWidget *mainWindowController::contentViewController() const
{
    return centralWidget();
}

void mainWindowController::setResizable(bool resizable)
{
    m_resizable = resizable;
    if (resizable) {
        setMinimumSize(640, 420);
        setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    } else {
        setFixedSize(size());
    }
}

bool mainWindowController::isResizable() const
{
    return m_resizable;
}

void mainWindowController::showWindow()
{
    show();
    raise();
    activateWindow();
}

bool mainWindowController::isInFullScreen() const
{
    // The window state is the truth here; comparing frames with the screen is not.
    return windowState().testFlag(Qt::WindowFullScreen);
}

void mainWindowController::showhomevc()
{
    if (isInFullScreen()) {
        // Leave full screen first; the home screen never shows in it.
        lg::afterDelay(0, this, [this] { showhomevc(); });
        setWindowState(windowState() & ~Qt::WindowFullScreen);
        return;
    }
    currentScreenMode = ScreenHome;
    setContentViewController(homeScreen());
    setResizable(false);
    showWindow();
}

void mainWindowController::windowWillEnterFullScreen()
{
    if (toolbar)
        toolbar->setVisible(false);
}

void mainWindowController::windowDidEnterFullScreen() {}
void mainWindowController::windowWillExitFullScreen() {}

void mainWindowController::windowDidExitFullScreen()
{
    if (toolbar)
        toolbar->setVisible(true);
    if (currentScreenMode == ScreenFullImage)
        imageViewer()->closeViewer();
}

namespace {

// Resizes only tell the screens that exist: making one here would run its
// set-up (which writes the screen mode) before the hub ever showed.
template <typename T>
T *existingScreen(const char *identifier)
{
    return qobject_cast<T *>(lg::ControllerRegistry::existing(QString::fromLatin1(identifier)));
}

} // namespace

void mainWindowController::windowWillStartLiveResize()
{
    ViewController *content = existingScreen<ViewController>("ViewController");
    if (!content)
        return;
    content->isWindowResizing = true;
    if (content->timerResize && content->timerResize->isActive())
        content->timerResize->stop();
}

void mainWindowController::windowDidResize()
{
    if (currentScreenMode == ScreenViewer || currentScreenMode == ScreenFullImage) {
        if (viewimagevc *viewer = existingScreen<viewimagevc>("viewimagevc"))
            viewer->recenterZoom();
    }
}

void mainWindowController::windowDidEndLiveResize()
{
    if (currentScreenMode == ScreenCollage) {
        if (collagevc *collage = existingScreen<collagevc>("collagevc"))
            collage->viewDidResize();
        return;
    }
    if (ViewController *content = existingScreen<ViewController>("ViewController"))
        content->isWindowResizing = false;
    if (currentScreenMode == ScreenViewer || currentScreenMode == ScreenFullImage) {
        if (viewimagevc *viewer = existingScreen<viewimagevc>("viewimagevc"))
            viewer->applyFitStyle();
    }
}

void mainWindowController::windowDidMiniaturize() { printLine("mini"); }
void mainWindowController::windowDidDeminiaturize() { printLine("demini"); }
void mainWindowController::windowDidExpose() { printLine("expose"); }
bool mainWindowController::windowShouldClose() { return true; }
void mainWindowController::resize() {}

void mainWindowController::changeEvent(QEvent *event)
{
    if (event->type() == QEvent::WindowStateChange) {
        const auto *change = static_cast<QWindowStateChangeEvent *>(event);
        const Qt::WindowStates before = change->oldState();
        const Qt::WindowStates now = windowState();
        const bool wasFull = before.testFlag(Qt::WindowFullScreen);
        const bool isFull = now.testFlag(Qt::WindowFullScreen);
        if (!wasFull && isFull) {
            windowWillEnterFullScreen();
            windowDidEnterFullScreen();
        } else if (wasFull && !isFull) {
            windowWillExitFullScreen();
            windowDidExitFullScreen();
        }
        const bool wasMin = before.testFlag(Qt::WindowMinimized);
        const bool isMin = now.testFlag(Qt::WindowMinimized);
        if (!wasMin && isMin)
            windowDidMiniaturize();
        else if (wasMin && !isMin)
            windowDidDeminiaturize();
    }
    QMainWindow::changeEvent(event);
}

void mainWindowController::resizeEvent(QResizeEvent *event)
{
    QMainWindow::resizeEvent(event);
    if (!isVisible())
        return;
    // Linux tells no start or end of a resize by hand: the first size change
    // starts one, and a short quiet spell ends it.
    if (!m_liveResizing) {
        m_liveResizing = true;
        windowWillStartLiveResize();
    }
    windowDidResize();
    m_liveResizeEnd->start();
}

void mainWindowController::closeEvent(QCloseEvent *event)
{
    // Closing the window ends the program: with unsaved changes in the editor
    // or the collage it is the Quit command, which asks first (and quits
    // after the answer).
    QAction *quit = menuBar()->findChild<QAction *>(QStringLiteral("menuItem_quit"));
    if (!lg::isShuttingDown() && quit && AppDelegate::hasUnsavedWorkOnShow()) {
        event->ignore();
        quit->trigger();
        return;
    }
    if (windowShouldClose())
        event->accept();
    else
        event->ignore();
}

void mainWindowController::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (QWindow *handle = windowHandle(); handle && !property("lgExposeWatch").toBool()) {
        handle->installEventFilter(this);
        setProperty("lgExposeWatch", true);
    }
}

bool mainWindowController::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::Expose && watched == windowHandle()) {
        const bool exposed = windowHandle()->isExposed();
        if (exposed && !m_exposed)
            windowDidExpose();
        m_exposed = exposed;
    }
    return QMainWindow::eventFilter(watched, event);
}
