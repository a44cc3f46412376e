// The hooks of the tests that run the program in a child process. This file
// is built into lumengallery_testhooks only; the shipped program has none of
// them and reads none of these variables. Everything here runs on the main
// thread, once the event loop is up; a hook whose variable is unset does nothing.
#include "app/TestHooks.h"

#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "browser/ItemFileCommands.h"
#include "browser/ItemMenus.h"
#include "browser/ShownItemsModel.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Dispatch.h"

#include <QAbstractButton>
#include <QAbstractItemView>
#include <QAction>
#include <QApplication>
#include <QFile>
#include <QKeyEvent>
#include <QMenuBar>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>
#include <QUrl>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>

using lg::printLine;

namespace {

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
            printLine(QStringLiteral("Answered ") + spec.buttons.value(button));
            if (acting.contains(button) && !target.isEmpty())
                QFile::remove(target);
        });
        printLine(QStringLiteral("Asking"));
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
            printLine(QStringLiteral("Asking"));
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

// LG_STALL_COPY_FOR_TESTING set to 1 holds every copy at its data step,
// its unfinished copy made, until the quit (as a large file would): the
// program prints "Copying" once it holds one.
void stallCopiesForTesting()
{
    if (qEnvironmentVariableIntValue("LG_STALL_COPY_FOR_TESTING") != 1)
        return;
    lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
        if (step != lg::FileStep::CopyData)
            return 0;
        printLine(QStringLiteral("Copying"));
        while (!lg::isShuttingDown())
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        return ECANCELED;
    });
}

} // namespace

void startTestHooks()
{
    stallCopiesForTesting();
    quitLaterForTesting();
    askLaterForTesting();
    actLaterForTesting();
    pressQuitKeyLaterForTesting();
}
