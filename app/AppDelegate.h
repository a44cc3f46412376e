#pragma once
// The application delegate: the launch sequence (updater, launch at login,
// attribution, first-run bookkeeping, update checks, analytics, the first
// screen), the application and Edit menus, and the restart after an update.
#include "platform/desktop/Updater.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <functional>

class FileHandover;
class collagevc;
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
    // Ends the event loop (whatever window would refuse to close);
    // QCoreApplication::quit and exit unless replaced.
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

    // The Quit command (its menu item, Ctrl+Q from any window) and the main
    // window's close button when that ends the program. With unsaved changes
    // in the image editor it first asks "Save changes?" as the editor's Exit
    // does, and in the collage "Do you want to save the changes?" as its exit
    // button does: "Yes" saves and then quits (a failed or cancelled save
    // cancels the quit), "No" quits. A quit asked for while that question (or
    // the save panel it led to) is open changes nothing: that answer decides.
    void terminate();
    // The editor or the collage is on show with changes not saved: a quit asks first.
    static bool hasUnsavedWorkOnShow();
    // Quits asking nothing (a termination signal cannot ask; the end of
    // terminate): the shutdown begins (nothing handed to the main thread or
    // the pool runs from then on), every open question is closed as its
    // do-nothing answer and every open panel as cancelled, then the
    // terminator ends the event loop. Later calls do nothing.
    void quitNow();
    // True while terminate waits for the answer to "Save changes?".
    bool isAskingBeforeQuit() const { return m_askingToSave; }

protected:
    // Ctrl+Q in any window of the program (an alert, a panel, the
    // preferences) is the Quit command, as it is in the main window.
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    static collagevc *shownCollageWithUnsavedChanges();
    bool m_relaunchPending = false;
    bool m_quitKeyEverywhere = false;
    bool m_quitting = false;
    bool m_askingToSave = false;
};
