#pragma once
// The application delegate: the launch sequence (updater, launch at login,
// attribution, first-run bookkeeping, update checks, analytics, the first
// screen), the application and Edit menus, and the restart after an update.
#include "platform/Updater.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class FileHandover;
class mainWindowController;
namespace lg { class Timer; }

class AppDelegate : public QObject, public lg::UpdaterDelegate
{
    Q_OBJECT
public:
    explicit AppDelegate(QObject *parent = nullptr);
    ~AppDelegate() override;

    // The application's updater, made by the launch sequence.
    lg::Updater *updater = nullptr;
    // Paths handed over on the command line and not yet shown.
    QStringList openWithPath;
    // True once the launch sequence has started.
    bool appstart = false;
    // The pending batch of opened files.
    lg::Timer *timerForOpenwith = nullptr;
    // Batches openWithPath, shows it and saves the roots at quit.
    FileHandover *fileHandover = nullptr;

    // Delay before the update check of a later run, and before the restart that
    // follows a downloaded update.
    static constexpr int updateCheckDelayMs = 5000;
    static constexpr int terminateDelayMs = 5000;

    // Starts a program with arguments, without a shell; true when it started.
    // QProcess::startDetached unless replaced (tests record the call instead).
    using ProcessRunner = std::function<bool(const QString &program, const QStringList &arguments)>;
    ProcessRunner relaunchRunner;
    // Ends the application; QCoreApplication::quit unless replaced.
    std::function<void()> terminator;

    // The launch sequence, run once at start.
    void applicationDidFinishLaunching();

    // A plain background check, with automatic checks turned on.
    void checkForUpdate();
    // Automatic checks and downloads turned on, then a background check.
    void autoInstallUpdates();

    // lg::UpdaterDelegate
    void willDownloadUpdate(lg::Updater *updater, const lg::AppcastItem &item, QNetworkRequest &request) override;
    void didDownloadUpdate(lg::Updater *updater, const lg::AppcastItem &item, const QString &path) override;

    // Ends the application so that it starts again (see relaunchIfPending).
    void callTerminate();
    // After the event loop has ended: starts the application again when
    // callTerminate asked for it. The new instance thus starts only once this one
    // has saved its state.
    void relaunchIfPending();
    bool isRelaunchPending() const { return m_relaunchPending; }

    void applicationDidBecomeActive();
    // Called when the application is about to quit.
    void applicationWillTerminate();
    // Files handed over when the application is started with them.
    void application_openFiles(const QStringList &paths);
    void openWithFinder_menu();

    // Edit > Copy and Edit > Paste, routed by currentScreenMode.
    void menuItem_copy();
    void menuItem_paste();
    void menuItem_showWindow();
    // The preferences window on its settings tab, or on its about tab.
    void showPreferences();
    void menu_Showaboutus();

    // Puts the application and Edit menus on the main window.
    void installMenus(mainWindowController *window);

    // Quits the way the Quit command does (also on a termination signal).
    void terminate();

private:
    bool m_relaunchPending = false;
};
