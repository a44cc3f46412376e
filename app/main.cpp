// Lumen Gallery: starts the application and hands it to the application delegate.
#include "app/AppDelegate.h"
#include "app/FileHandover.h"
#include "app/QuitSignals.h"
#include "app/Startup.h"
#include "app/mainWindowController.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/desktop/Panels.h"

#include "Version.h"

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QIcon>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMenuBar>
#include <QStringList>

#include <cstdio>

namespace {

// Tests that end the application at a chosen moment: LG_QUIT_AFTER_MS asks for
// the Quit command that many milliseconds after the launch sequence has shown
// the window, the way the menu item (or its shortcut) does.
void quitLaterForTesting()
{
    bool given = false;
    const int ms = qEnvironmentVariableIntValue("LG_QUIT_AFTER_MS", &given);
    if (!given || ms < 0)
        return;
    lg::afterDelay(ms, nullptr, [] {
        auto *window = qobject_cast<mainWindowController *>(
            lg::ControllerRegistry::existing(QStringLiteral("mainWindowController")));
        QAction *quit = window && window->menuBar()
            ? window->menuBar()->findChild<QAction *>(QStringLiteral("menuItem_quit")) : nullptr;
        if (quit)
            quit->trigger();
        else
            QCoreApplication::quit();
    });
}

// Tests of a quit while a question is open: LG_ASK_FOR_TESTING holds a
// question's title and its buttons ("title|button|button..."), asked as a
// sheet on the main window once the launch sequence has shown it. The program
// prints "Asking" once it is shown and "Answered <button>" with the answer;
// any answer but the do-nothing one removes the file LG_ASK_ACTS_ON_FOR_TESTING
// names, as a trash confirmation answered "Yes" would.
void askLaterForTesting()
{
    const QStringList question = qEnvironmentVariable("LG_ASK_FOR_TESTING").split(QLatin1Char('|'));
    if (question.size() < 2)
        return;
    lg::afterDelay(0, nullptr, [question] {
        lg::AlertSpec spec;
        spec.title = question.first();
        spec.buttons = question.mid(1);
        const QString target = qEnvironmentVariable("LG_ASK_ACTS_ON_FOR_TESTING");
        const int doNothing = lg::Alert::doNothingIndex(spec);
        auto *window = qobject_cast<QWidget *>(
            lg::ControllerRegistry::existing(QStringLiteral("mainWindowController")));
        lg::Alert::show(window, spec, [spec, target, doNothing](int button) {
            std::printf("Answered %s\n", qPrintable(spec.buttons.value(button)));
            std::fflush(stdout);
            if (button != doNothing && !target.isEmpty())
                QFile::remove(target);
        });
        std::printf("Asking\n");
        std::fflush(stdout);
    });
}

// LG_PRESS_QUIT_KEY_AFTER_MS presses the Quit shortcut (Ctrl+Q) that many
// milliseconds after the launch, in the window that has the focus then.
void pressQuitKeyLaterForTesting()
{
    bool given = false;
    const int ms = qEnvironmentVariableIntValue("LG_PRESS_QUIT_KEY_AFTER_MS", &given);
    if (!given || ms < 0)
        return;
    lg::afterDelay(ms, nullptr, [] {
        QWidget *target = QApplication::activeModalWidget();
        if (!target)
            target = QApplication::focusWidget();
        if (!target)
            target = QApplication::activeWindow();
        if (!target)
            return;
        if (QWidget *focus = target->focusWidget())
            target = focus;
        QKeyEvent press(QEvent::KeyPress, Qt::Key_Q, Qt::ControlModifier);
        QKeyEvent release(QEvent::KeyRelease, Qt::Key_Q, Qt::ControlModifier);
        QCoreApplication::sendEvent(target, &press);
        QCoreApplication::sendEvent(target, &release);
    });
}

} // namespace

int main(int argc, char **argv)
{
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral(LG_APPLICATION_NAME));
    QApplication::setApplicationDisplayName(QStringLiteral(LG_DISPLAY_NAME));
    QApplication::setApplicationVersion(QStringLiteral(LG_VERSION_STRING));
    QApplication::setDesktopFileName(QStringLiteral(LG_APPLICATION_NAME));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/images/lumengallery.svg")));
    applyApplicationLook();

    // Files and folders named on the command line (the desktop file's %F) are the
    // ones handed over to open.
    QStringList paths;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (const QString &argument : arguments) {
        if (argument.startsWith(QLatin1Char('-')))
            continue;
        const QFileInfo info(argument);
        if (info.exists())
            paths.append(info.absoluteFilePath());
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

    // The launch sequence runs once the event loop is up, as the platform's
    // did-finish-launching does; files named at launch reach the delegate first.
    scheduleLaunch(delegate, paths);
    quitLaterForTesting();
    askLaterForTesting();
    pressQuitKeyLaterForTesting();

    const int status = app.exec();
    // Nothing of the background work may outlive the event loop: it ends (or
    // stops early) and is waited for before the delegate, the windows and the
    // application object go.
    lg::drainBackgroundWork();
    instance.stopListening();
    delegate.relaunchIfPending();
    return status;
}
