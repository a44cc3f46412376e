#include "app/AppDelegate.h"

#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/LaunchAtLogin.h"
#include "app/Startup.h"
#include "app/mainWindowController.h"
#include "app/preferencesWindowController.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "outreach/Analytics.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/ModuleNotice.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Settings.h"
#include "platform/runtime/Timer.h"
#include "sidebar/DropView.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QApplication>
#include <QCoreApplication>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenu>
#include <QMenuBar>
#include <QPointer>
#include <QProcess>
#include <QUrl>

#include <cstdio>
#include <utility>

using lg::printLine;

namespace {

const QString launchAtLoginKey = QStringLiteral("startstatus");
const QString autoUpdateKey = QStringLiteral("autocheckforupdate");
const QString lastVersionKey = QStringLiteral("lastVersion");

// The Quit shortcut: the desktop's own, and Ctrl+Q where the desktop names
// none (the key theme of some platforms leaves it out).
// The platform's Quit keys, and Ctrl+Q where it has none; read once (the
// event filter asks at every key press).
const QList<QKeySequence> &quitKeys()
{
    static const QList<QKeySequence> keys = [] {
        QList<QKeySequence> bound = QKeySequence::keyBindings(QKeySequence::Quit);
        const QKeySequence ctrlQ(Qt::CTRL | Qt::Key_Q);
        if (!bound.contains(ctrlQ))
            bound.append(ctrlQ);
        return bound;
    }();
    return keys;
}

} // namespace

AppDelegate::AppDelegate(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("AppDelegate"));
    relaunchRunner = [](const QString &program, const QStringList &arguments) {
        return QProcess::startDetached(program, arguments);
    };
    terminator = [] {
        // quit() closes the windows first; a window that refuses (none of
        // ours should once the questions are answered) cannot keep the
        // program running: exit() ends the event loop regardless.
        QCoreApplication::quit();
        QCoreApplication::exit(0);
    };
    fileHandover = new FileHandover(openWithPath, timerForOpenwith, this);
}

AppDelegate::~AppDelegate()
{
    if (updater && updater->delegate() == this)
        updater->setDelegate(nullptr);
}

void AppDelegate::applicationDidFinishLaunching()
{
    appstart = true;

    updater = new lg::Updater(this);
    updater->setAutomaticallyChecksForUpdates(false);
    updater->setAutomaticallyDownloadsUpdates(false);
    // Our updater cannot install by itself: whoever approves a download (an
    // automatic install or the user's answer to a plain check), the restart
    // that installs it is ours.
    updater->setDelegate(this);

    const QUrl appUrl = QUrl::fromLocalFile(QCoreApplication::applicationFilePath());

    bool launchAtLogin = true;
    if (const std::optional<bool> stored = lg::Settings::boolValue(launchAtLoginKey))
        launchAtLogin = *stored;
    else
        lg::Settings::setValue(launchAtLoginKey, true);
    setLaunchAtLogin(launchAtLogin, appUrl);

    loadCampaignAttribution();

    const QString runningVersion = shortVersionString().value_or(QString());
    // Any value under the key marks a later run (the welcome screen stores the
    // Int 1); only an Int skips the welcome screen, below.
    if (lg::Settings::contains(firstRunKey)) {
        const std::optional<int> policy = lg::Settings::intValue(autoUpdateKey);
        if (!policy) {
            lg::Settings::setValue(autoUpdateKey, 1);
            lg::afterDelay(updateCheckDelayMs, this, [this] { autoInstallUpdates(); });
        } else if (*policy == 0) {
            lg::afterDelay(updateCheckDelayMs, this, [this] { checkForUpdate(); });
        } else if (*policy == 1) {
            lg::afterDelay(updateCheckDelayMs, this, [this] { autoInstallUpdates(); });
        }

        if (const std::optional<QString> lastVersion = lg::Settings::stringValue(lastVersionKey)) {
            if (lastVersion->toLower() != runningVersion) {
                const std::optional<int> order = lg::compareVersions(runningVersion, *lastVersion);
                if (order && *order > 0) {
                    lg::Settings::setValue(lastVersionKey, runningVersion);
                    sendAnalyticsEvent(QStringLiteral("updated"), runningVersion);
                }
            }
        }
    } else {
        lg::Settings::setValue(autoUpdateKey, 1);
        lg::Settings::setValue(lastVersionKey, runningVersion);
        sendAnalyticsEvent(QStringLiteral("install"), QStringLiteral("install"));
    }

    mainWindowController *window = mainWindow();
    lg::showModuleProblemsIn(window);
    installMenus(window);
    DropView::install(window);
    // Files that started the application are its first screen: the home
    // screen, which they would replace at once, is not built for them. The
    // window shows at once and they fill it once it is painted.
    const bool filesFirst = lg::Settings::intValue(firstRunKey) && fileHandover->filesWaitForLaunch();
    if (filesFirst) {
        currentScreenMode = ScreenHome;
        window->setResizable(true);
        window->showWindow();
    } else if (lg::Settings::intValue(firstRunKey)) {
        window->showhomevc();
    } else {
        currentScreenMode = ScreenWelcome;
        window->setResizable(false);
        window->setContentViewController(welcomeScreen());
        window->showWindow();
    }
    // Files that started the application take the first screen's place: after
    // the window's first frame when they are that screen, else now.
    if (filesFirst)
        afterFirstFrame(fileHandover, [this] { fileHandover->launchSequenceEnded(); });
    else
        fileHandover->launchSequenceEnded();
}

void AppDelegate::checkForUpdate()
{
    if (!updater)
        return;
    updater->setAutomaticallyChecksForUpdates(true);
    updater->checkForUpdatesInBackground();
}

void AppDelegate::autoInstallUpdates()
{
    if (!updater)
        return;
    updater->setDelegate(this);
    updater->setAutomaticallyChecksForUpdates(true);
    updater->setAutomaticallyDownloadsUpdates(true);
    updater->checkForUpdatesInBackground();
}

void AppDelegate::willDownloadUpdate(lg::Updater *, const lg::AppcastItem &, QNetworkRequest &)
{
    printLine(QStringLiteral("download hoga"));
}

void AppDelegate::didDownloadUpdate(lg::Updater *, const lg::AppcastItem &, const QString &)
{
    lg::afterDelay(terminateDelayMs, this, [this] { callTerminate(); });
    printLine(QStringLiteral("download hua"));
}

void AppDelegate::callTerminate()
{
    m_relaunchPending = true;
    terminate();
}

void AppDelegate::relaunchIfPending()
{
    if (!m_relaunchPending)
        return;
    m_relaunchPending = false;
    lg::Settings::sync();
    const QString program = QCoreApplication::applicationFilePath();
    if (!relaunchRunner || !relaunchRunner(program, QStringList()))
        printLine(QStringLiteral("Could not start the application again: ") + program);
}

void AppDelegate::terminate()
{
    if (m_quitting)
        return;
    // The open question answers for this quit too: a second Ctrl+Q never
    // drops the unsaved work it asks about. (A signal quits through quitNow.)
    if (m_askingToSave)
        return;
    QPointer<AppDelegate> self(this);
    const auto answered = [self](bool mayGoOn) {
        if (!self)
            return;
        self->m_askingToSave = false;
        if (mayGoOn)
            self->quitNow();
    };
    editImagevc *editor = editImageController;
    if (editor && editor->selfViewVisible && editor->isLoaded() && editor->hasUnsavedChanges()) {
        m_askingToSave = true;
        editor->askToSaveChanges(answered);
        return;
    }
    if (collagevc *collage = shownCollageWithUnsavedChanges()) {
        m_askingToSave = true;
        collage->askToSaveChanges(answered);
        return;
    }
    quitNow();
}

bool AppDelegate::hasUnsavedWorkOnShow()
{
    const editImagevc *editor = editImageController;
    return (editor && editor->selfViewVisible && editor->isLoaded() && editor->hasUnsavedChanges())
           || shownCollageWithUnsavedChanges();
}

collagevc *AppDelegate::shownCollageWithUnsavedChanges()
{
    if (currentScreenMode != ScreenCollage || !collagevc::hasUnsavedChanges())
        return nullptr;
    return qobject_cast<collagevc *>(lg::ControllerRegistry::existing(QStringLiteral("collagevc")));
}

void AppDelegate::quitNow()
{
    if (std::exchange(m_quitting, true))
        return;
    m_askingToSave = false;
    // From the request on nothing new is done: what would still be handed to
    // the main thread or the pool is dropped, and every answer is "do nothing".
    lg::beginShutdown();
    lg::Alert::answerAllForQuit();
    lg::Panels::answerAllForQuit();
    if (terminator)
        terminator();
}

bool AppDelegate::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress && watched->isWidgetType()) {
        const auto *key = static_cast<QKeyEvent *>(event);
        const QKeySequence pressed(key->keyCombination());
        if (quitKeys().contains(pressed)) {
            if (!key->isAutoRepeat())
                terminate();
            return true;
        }
    }
    return QObject::eventFilter(watched, event);
}

void AppDelegate::applicationDidBecomeActive()
{
    printLine(QStringLiteral("active"));
}

void AppDelegate::applicationWillTerminate()
{
    FileHandover::applicationWillTerminate();
}

void AppDelegate::application_openFiles(const QStringList &paths)
{
    fileHandover->application_openFiles(paths, appstart);
}

void AppDelegate::openWithFinder_menu()
{
    fileHandover->openWithFinder_menu();
}

void AppDelegate::menuItem_copy()
{
    switch (currentScreenMode) {
    case ScreenGrid:
        thumbnailGrid()->copyItem_menu();
        break;
    case ScreenList:
        listController()->copyItem_menu();
        break;
    case ScreenViewer:
    case ScreenFullImage:
        imageViewer()->copyCurrentItemToPasteboard();
        break;
    default:
        break;
    }
}

void AppDelegate::menuItem_paste()
{
    if (currentScreenMode == ScreenGrid || currentScreenMode == ScreenList)
        contentController()->pasteItems();
}

void AppDelegate::menuItem_showWindow()
{
    mainWindowController *window = mainWindow();
    window->setVisible(true);
    window->raise();
    window->activateWindow();
}

void AppDelegate::showPreferences()
{
    preferencesTabIndex = 0;
    preferencesWindow()->showWindow();
}

void AppDelegate::menu_Showaboutus()
{
    preferencesTabIndex = 1;
    preferencesWindow()->showWindow();
}

void AppDelegate::installMenus(mainWindowController *window)
{
    QMenuBar *bar = window->menuBar();
    if (bar->findChild<QAction *>(QStringLiteral("menuItem_copy")))
        return;  // already there
    bar->setStyleSheet(withAccentColour(QStringLiteral(
        "QMenuBar { background-color: #252525; color: #e6e6e6; border-bottom: 1px solid #303030; }"
        "QMenuBar::item { background: transparent; padding: 4px 10px; }"
        "QMenuBar::item:selected { background-color: #3a3a3a; }"
        "QMenu { background-color: #2b2b2b; color: #e6e6e6; border: 1px solid #3a3a3a; }"
        "QMenu::item { padding: 5px 24px 5px 18px; }"
        "QMenu::item:selected { background-color: @accent; color: #1e1e1e; }"
        "QMenu::item:disabled { color: #777777; }"
        "QMenu::separator { height: 1px; background: #3a3a3a; margin: 4px 8px; }")));

    auto addAction = [this](QMenu *menu, const QString &name, const QString &title, void (AppDelegate::*slot)(),
                            const QKeySequence &shortcut = QKeySequence()) {
        QAction *action = menu->addAction(title);
        action->setObjectName(name);
        if (!shortcut.isEmpty())
            action->setShortcut(shortcut);
        connect(action, &QAction::triggered, this, slot);
        return action;
    };

    QMenu *appMenu = bar->addMenu(QStringLiteral("Lumen Gallery"));
    appMenu->setObjectName(QStringLiteral("menuApplication"));
    addAction(appMenu, QStringLiteral("menu_Showaboutus"), QStringLiteral("About Lumen Gallery"),
              &AppDelegate::menu_Showaboutus);
    appMenu->addSeparator();
    addAction(appMenu, QStringLiteral("showPreferences"), QStringLiteral("Preferences…"), &AppDelegate::showPreferences,
              QKeySequence(Qt::CTRL | Qt::Key_Comma));
    appMenu->addSeparator();
    addAction(appMenu, QStringLiteral("menuItem_showWindow"), QStringLiteral("Show Window"),
              &AppDelegate::menuItem_showWindow);
    appMenu->addSeparator();
    QAction *quit = addAction(appMenu, QStringLiteral("menuItem_quit"), QStringLiteral("Quit Lumen Gallery"),
                              &AppDelegate::terminate);
    quit->setShortcuts(quitKeys());
    // A held Ctrl+Q asks once: a repeat would answer the question it asked.
    quit->setAutoRepeat(false);
    // In the main window the shortcut triggers the action; every other window
    // (or the main window under a sheet) gets the key itself, taken here.
    if (!std::exchange(m_quitKeyEverywhere, true))
        qApp->installEventFilter(this);

    QMenu *editMenu = bar->addMenu(QStringLiteral("Edit"));
    editMenu->setObjectName(QStringLiteral("menuEdit"));
    addAction(editMenu, QStringLiteral("menuItem_copy"), QStringLiteral("Copy"), &AppDelegate::menuItem_copy,
              QKeySequence::Copy);
    addAction(editMenu, QStringLiteral("menuItem_paste"), QStringLiteral("Paste"), &AppDelegate::menuItem_paste,
              QKeySequence::Paste);
}
