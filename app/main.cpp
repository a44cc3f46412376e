// Lumen Gallery: starts the application and hands it to the application delegate.
#include "app/AppDelegate.h"
#include "app/FileHandover.h"
#include "app/QuitSignals.h"
#include "app/Startup.h"
#include "app/mainWindowController.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Heap.h"
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

#ifdef LG_TEST_HOOKS
// The hooks of the tests that run the program in a child process. They are
// built into lumengallery_testhooks only; the shipped program reads none of
// these variables.
#include "app/Essentials.h"
#include "browser/ItemFileCommands.h"
#include "browser/ItemMenus.h"
#include "browser/ShownItemsModel.h"
#include "platform/desktop/Clipboard.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QMessageBox>
#include <QTimer>
#include <QUrl>

namespace {

void printNow(const QString &line)
{
    std::printf("%s\n", qPrintable(line));
    std::fflush(stdout);
}

// LG_QUIT_AFTER_MS asks for the Quit command that many milliseconds after the
// launch sequence has shown the window, the way the menu item (or its
// shortcut) does.
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

// LG_ASK_FOR_TESTING holds a question's title and its buttons
// ("title|button|*button..."), asked as a sheet on the main window once the
// launch sequence has shown it. The program prints "Asking" once it is shown
// and "Answered <button>" with the answer. Only a button marked with "*"
// acts: answered with it, the question removes the file that
// LG_ASK_ACTS_ON_FOR_TESTING names, as a trash confirmation answered "Yes"
// would. Every other answer leaves the file alone. LG_ANSWER_FOR_TESTING
// names a button that is then clicked, as a person would.
void askLaterForTesting()
{
    const QStringList question = qEnvironmentVariable("LG_ASK_FOR_TESTING").split(QLatin1Char('|'));
    if (question.size() < 2)
        return;
    lg::afterDelay(0, nullptr, [question] {
        lg::AlertSpec spec;
        spec.title = question.first();
        QList<int> acting;
        for (QString button : question.mid(1)) {
            if (button.startsWith(QLatin1Char('*'))) {
                button.remove(0, 1);
                acting.append(int(spec.buttons.size()));
            }
            spec.buttons.append(button);
        }
        const QString target = qEnvironmentVariable("LG_ASK_ACTS_ON_FOR_TESTING");
        auto *window = qobject_cast<QWidget *>(
            lg::ControllerRegistry::existing(QStringLiteral("mainWindowController")));
        lg::Alert::show(window, spec, [spec, acting, target](int button) {
            printNow(QStringLiteral("Answered ") + spec.buttons.value(button));
            if (acting.contains(button) && !target.isEmpty())
                QFile::remove(target);
        });
        printNow(QStringLiteral("Asking"));
        const QString answer = qEnvironmentVariable("LG_ANSWER_FOR_TESTING");
        if (answer.isEmpty())
            return;
        lg::afterDelay(0, nullptr, [answer] {
            for (QWidget *widget : QApplication::topLevelWidgets()) {
                auto *box = qobject_cast<QMessageBox *>(widget);
                if (!box || !box->isVisible())
                    continue;
                for (QAbstractButton *button : box->buttons()) {
                    if (button->text() == answer) {
                        button->click();
                        return;
                    }
                }
            }
        });
    });
}

// A real command that asks a question, given once the launch sequence has
// shown a folder in the grid: LG_PASTE_FOR_TESTING names a file that is
// copied to the clipboard and pasted with the Edit menu's Paste into that
// folder; LG_TRASH_FOR_TESTING set to 1 selects every item of the grid and
// moves them to the Trash. "Asking" is printed once the command asks.
void actLaterForTesting()
{
    const QString source = qEnvironmentVariable("LG_PASTE_FOR_TESTING");
    const bool trash = qEnvironmentVariableIntValue("LG_TRASH_FOR_TESTING") == 1;
    if (source.isEmpty() && !trash)
        return;
    auto *poll = new QTimer(qApp);
    poll->setInterval(20);
    QObject::connect(poll, &QTimer::timeout, poll, [poll, source, trash, acted = false]() mutable {
        if (!acted) {
            auto *window = qobject_cast<mainWindowController *>(
                lg::ControllerRegistry::existing(QStringLiteral("mainWindowController")));
            QAction *paste = window && window->menuBar()
                ? window->menuBar()->findChild<QAction *>(QStringLiteral("menuItem_paste")) : nullptr;
            if (!paste || !currentFolderURL || !window->isVisible() || currentScreenMode != ScreenGrid)
                return;
            const BrowseView grid = gridBrowseView();
            if (trash) {
                if (!grid.view || !grid.model || grid.model->rowCount() == 0)
                    return;
                grid.view->selectAll();
                ItemFileCommands::instance()->trashItems(grid);
            } else {
                lg::Clipboard::writeFiles({QUrl::fromLocalFile(source)});
                paste->trigger();
            }
            acted = true;
        }
        if (lg::Alert::openCount() > 0) {
            printNow(QStringLiteral("Asking"));
            poll->deleteLater();
        }
    });
    poll->start();
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

void startTestHooks()
{
    quitLaterForTesting();
    askLaterForTesting();
    actLaterForTesting();
    pressQuitKeyLaterForTesting();
}

} // namespace
#endif

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
