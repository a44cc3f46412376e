// Lumen Gallery: starts the application and hands it to the application delegate.
#include "app/AppDelegate.h"
#include "app/FileHandover.h"
#include "app/QuitSignals.h"
#include "app/Startup.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Heap.h"
#include "platform/desktop/Panels.h"
#include "platform/files/names/FileNames.h"

#include "Version.h"

#ifdef LG_TEST_HOOKS
#include "app/TestHooks.h"
#endif

#include <QApplication>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QStringList>


int main(int argc, char **argv)
{
    // Before the first thread: decoded pictures go back to the system when freed.
    lg::tuneHeapForPictures();
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(LG_APPLICATION_NAME));
    QApplication::setApplicationDisplayName(QStringLiteral(LG_DISPLAY_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LG_VERSION_STRING));
    QApplication::setDesktopFileName(QStringLiteral(LG_APPLICATION_NAME));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/lumengallery.svg")));
    applyApplicationLook();

    // Files and folders named on the command line (the desktop file's %F) are the
    // ones handed over to open, read by their bytes (QApplication has taken its
    // own options out of argv): a name that is not UTF-8 is never its look-alike.
    QStringList paths;
    for (int i = 1; i < argc; ++i) {
        const QString argument = lg::FileNames::fromNative(QByteArray(argv[i]));
        if (argument.isEmpty() || argument.startsWith(QLatin1Char('-')))
            continue;
        const QString path = QDir::cleanPath(QDir::current().absoluteFilePath(argument));
        if (lg::FileNames::exists(path))
            paths.append(path);
    }

    // One running instance per user: a later start hands its files over and ends.
    InstanceChannel instance;
    if (instance.claim(paths) == InstanceChannel::Role::Secondary)
        return 0;

    AppDelegate delegate;
    // Logout, shutdown, Ctrl+C and a closed terminal quit as the Quit command
    // does, except that nothing is asked: open questions are answered with
    // their do-nothing button, and the folder list and the settings are saved.
    QuitSignals quitSignals;
    QObject::connect(&quitSignals, &QuitSignals::quitRequested, &delegate, [&delegate] { delegate.quitNow(); });
    QObject::connect(&instance, &InstanceChannel::filesReceived, &delegate,
                     [&delegate](const QStringList &received) { delegate.application_openFiles(received); });
    QObject::connect(&instance, &InstanceChannel::activationRequested, &delegate,
                     [&delegate] { delegate.menuItem_showWindow(); });
    QObject::connect(&app, &QGuiApplication::applicationStateChanged, &delegate, [&delegate](Qt::ApplicationState state) {
        if (state == Qt::ApplicationActive)
            delegate.applicationDidBecomeActive();
    });
    // At quit the background work is told to stop (what it would still hand
    // to the main thread is dropped) while the folder list is saved.
    // A quit that did not come through the delegate (the last window closed)
    // answers the open questions here.
    QObject::connect(&app, &QCoreApplication::aboutToQuit, &delegate, [&delegate] {
        lg::beginShutdown();
        lg::Alert::answerAllForQuit();
        lg::Panels::answerAllForQuit();
        delegate.applicationWillTerminate();
    });

    // A lost display ends the program as SIGTERM does, with what follows the
    // event loop run at once (Qt ends the process right after).
    EndOnLostDisplay lostDisplay([&delegate, &instance] {
        lg::beginShutdown();
        lg::Alert::answerAllForQuit();
        lg::Panels::answerAllForQuit();
        delegate.applicationWillTerminate();
        lg::drainBackgroundWork();
        instance.stopListening();
    });

    // The launch sequence runs once the event loop is up, as the platform's
    // did-finish-launching does; files named at launch reach the delegate first.
    scheduleLaunch(delegate, paths);
#ifdef LG_TEST_HOOKS
    startTestHooks();
#endif

    const int status = app.exec();
    // Nothing of the background work may outlive the event loop: it ends (or
    // stops early) and is waited for before the delegate, the windows and the
    // application object go.
    lg::drainBackgroundWork();
    instance.stopListening();
    delegate.relaunchIfPending();
    return status;
}
