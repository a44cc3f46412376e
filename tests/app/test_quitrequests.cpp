// The Quit command from wherever it is given: Ctrl+Q in an alert or a panel
// quits as it does in the main window, and with unsaved changes in the image
// editor the Quit command and the main window's close button ask "Save
// changes?" first, while a termination signal quits without asking.
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "collage/collagevc.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/runtime/Dispatch.h"
#include "platform/image/ImageWriter.h"
#include "platform/desktop/Panels.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/Seams.h"
#include "tests/support/TestSupport.h"
#include "viewer/ImageEditWindow.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QFileDialog>
#include <QMenuBar>
#include <QMessageBox>
#include <QSlider>

#include <memory>
#include <optional>

namespace {

template <typename T>
QList<T *> visibleTopLevels()
{
    QList<T *> found;
    for (QWidget *w : QApplication::topLevelWidgets()) {
        if (auto *typed = qobject_cast<T *>(w); typed && typed->isVisible())
            found.append(typed);
    }
    return found;
}

// The main window with the application's menus, on screen, and a delegate
// whose quit is only counted.
struct QuittingApp
{
    AppDelegate delegate;
    int quits = 0;
    mainWindowController *window = nullptr;

    QuittingApp()
    {
        delegate.terminator = [this] { ++quits; };
        window = mainWindow();
        delegate.installMenus(window);
        window->setContentViewController(contentHub());
        window->resize(1000, 700);
        window->show();
        window->activateWindow();
    }
    QAction *quitAction() const { return window->menuBar()->findChild<QAction *>(QStringLiteral("menuItem_quit")); }
};

// The editor on a small photo, with one slider moved: unsaved changes.
editImagevc *editWithChanges(const QString &path)
{
    QImage picture(64, 32, QImage::Format_RGB32);
    picture.fill(QColor(180, 120, 80));
    lg::test::fixtures::writeJpeg(path, picture);
    viewerItemURL = QUrl::fromLocalFile(path);
    contentHub()->showEditImagevc();
    editImagevc *editor = editImageController;
    if (!QTest::qWaitFor([editor] { return editor->isLoaded(); }, 10000))
        return nullptr;
    editor->editor->slider(QStringLiteral("exposure"))->setValue(100);
    return QTest::qWaitFor([editor] { return editor->hasUnsavedChanges(); }, 5000) ? editor : nullptr;
}

// The collage on show with two photos placed and not saved.
collagevc *collageWithChanges(const QString &folder)
{
    collagePhotoList.clear();
    for (const QColor color : {QColor(Qt::red), QColor(Qt::blue)}) {
        QImage picture(24, 16, QImage::Format_RGB32);
        picture.fill(color);
        const QString path = folder + QStringLiteral("/%1.png").arg(color.name().mid(1));
        if (!picture.save(path))
            return nullptr;
        collagePhotoList.append(arrayStruct{QUrl::fromLocalFile(path), false});
    }
    currentScreenMode = ScreenGrid;
    collagevc *collage = collageMaker();
    contentHub()->showCollagevc();
    collage->saver->openAfterSave = false;
    isCollageSaved = false;
    return currentScreenMode == ScreenCollage ? collage : nullptr;
}

} // namespace

class TestQuitRequests : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); }
    void cleanup()
    {
        lg::test::resetSeams();
        resetSharedState();
    }
    void cleanupTestCase() { resetSharedState(); }

    // Ctrl+Q pressed in an alert, in a panel, or in the main window itself
    // quits, and what was open is answered as doing nothing.
    void ctrlQQuitsFromEveryWindow_data()
    {
        QTest::addColumn<QString>("where");
        QTest::newRow("alert") << QStringLiteral("alert");
        QTest::newRow("panel") << QStringLiteral("panel");
        QTest::newRow("main window") << QStringLiteral("main window");
    }
    void ctrlQQuitsFromEveryWindow()
    {
        QFETCH(QString, where);
        QuittingApp app;
        QVERIFY(QTest::qWaitForWindowActive(app.window));
        QList<int> answers;
        std::optional<QUrl> saved;
        QWidget *target = app.window;
        if (where == QLatin1String("alert")) {
            lg::AlertSpec trash;
            trash.title = QStringLiteral("Are you sure you want to delete the selected files?");
            trash.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
            lg::Alert::show(app.window, trash, [&](int button) { answers.append(button); });
            QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
            target = visibleTopLevels<QMessageBox>().first();
        } else if (where == QLatin1String("panel")) {
            lg::SavePanelSpec spec;
            spec.fileName = QStringLiteral("Untitled.jpg");
            lg::Panels::save(app.window, spec, [&](const QUrl &url) { saved = url; });
            QTRY_COMPARE(visibleTopLevels<QFileDialog>().size(), 1);
            target = visibleTopLevels<QFileDialog>().first();
        }
        target->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(target));
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : target;
        QTest::keyClick(focus, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(app.quits, 1);
        if (where == QLatin1String("alert"))
            QCOMPARE(answers, QList<int>{1});
        if (where == QLatin1String("panel"))
            QCOMPARE(saved, std::optional<QUrl>(QUrl()));
        QCOMPARE(lg::Alert::openCount() + lg::Panels::openCount(), 0);
        // A second press while the quit runs changes nothing more.
        QTest::keyClick(app.window, Qt::Key_Q, Qt::ControlModifier);
        QCOMPARE(app.quits, 1);
    }

    // With unsaved changes in the editor, the Quit command and the window's
    // close button ask first: "No" quits, "Yes" quits once the copy is saved,
    // a cancelled or failed save stays with the edits.
    void aQuitWithUnsavedEditsAsksFirst_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("quits");
        QTest::newRow("Quit, No") << QStringLiteral("command") << QStringLiteral("No") << true;
        QTest::newRow("Quit, Yes, saved") << QStringLiteral("command") << QStringLiteral("saved") << true;
        QTest::newRow("Quit, Yes, cancelled") << QStringLiteral("command") << QStringLiteral("cancelled") << false;
        QTest::newRow("Quit, Yes, write failed") << QStringLiteral("command") << QStringLiteral("failed") << false;
        QTest::newRow("close, No") << QStringLiteral("close") << QStringLiteral("No") << true;
        QTest::newRow("close, Yes, cancelled") << QStringLiteral("close") << QStringLiteral("cancelled") << false;
    }
    void aQuitWithUnsavedEditsAsksFirst()
    {
        QFETCH(QString, how);
        QFETCH(QString, answer);
        QFETCH(bool, quits);
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitediting"));
        const QString path = folder + QStringLiteral("/photo.jpg");
        editImagevc *editor = editWithChanges(path);
        QVERIFY(editor);
        const QByteArray original = lg::test::readAll(path);
        const QString copy = folder + QStringLiteral("/edited.jpg");
        lg::Alert::setResponder([answer](const lg::AlertSpec &spec) {
            return spec.title == QLatin1String("Save changes?") && answer == QLatin1String("No") ? 1 : 0;
        });
        Saver::setPanelResponderForTesting([copy, answer](const QString &) {
            return answer == QLatin1String("cancelled")
                       ? std::optional<std::pair<QString, SaveFormatChoice>>()
                       : std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, SaveFormatChoice()));
        });
        if (answer == QLatin1String("failed"))
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });

        if (how == QLatin1String("command"))
            app.quitAction()->trigger();
        else
            app.window->close();
        QCOMPARE(app.quits, 0);   // nothing before the answer
        QTRY_VERIFY(!app.delegate.isAskingBeforeQuit());
        QTRY_VERIFY(!isBusy);
        QCOMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("Save changes?"));
        QCOMPARE(lg::Alert::shownAlerts().value(0).buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
        QCOMPARE(app.quits, quits ? 1 : 0);
        QCOMPARE(QFileInfo::exists(copy), answer == QLatin1String("saved"));
        QCOMPARE(lg::test::readAll(path), original);
        if (!quits) {
            // Still editing, with the edits, and a later quit asks again.
            QVERIFY(editor->isLoaded() && editor->hasUnsavedChanges());
            QVERIFY(app.window->isVisible());
            QVERIFY(!lg::isShuttingDown());
            lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
            app.quitAction()->trigger();
            QTRY_COMPARE(app.quits, 1);
        }
    }

    // With photos placed in the collage and not saved, the Quit command and
    // the window's close ask as the collage's exit button does: "No" quits,
    // "Yes" quits once the collage is saved, a cancelled or failed save stays
    // in the collage with its photos; a termination signal asks nothing.
    void aQuitWithAnUnsavedCollageAsksFirst_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("answer");
        QTest::addColumn<bool>("quits");
        QTest::newRow("Quit, No") << QStringLiteral("command") << QStringLiteral("No") << true;
        QTest::newRow("Quit, Yes, saved") << QStringLiteral("command") << QStringLiteral("saved") << true;
        QTest::newRow("Quit, Yes, cancelled") << QStringLiteral("command") << QStringLiteral("cancelled") << false;
        QTest::newRow("Quit, Yes, write failed") << QStringLiteral("command") << QStringLiteral("failed") << false;
        QTest::newRow("close, Yes, saved") << QStringLiteral("close") << QStringLiteral("saved") << true;
        QTest::newRow("close, Yes, cancelled") << QStringLiteral("close") << QStringLiteral("cancelled") << false;
        QTest::newRow("signal") << QStringLiteral("signal") << QString() << true;
    }
    void aQuitWithAnUnsavedCollageAsksFirst()
    {
        QFETCH(QString, how);
        QFETCH(QString, answer);
        QFETCH(bool, quits);
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitcollage"));
        collagevc *collage = collageWithChanges(folder);
        QVERIFY(collage);
        const QString saved = folder + QStringLiteral("/collage.png");
        lg::Alert::setResponder([answer](const lg::AlertSpec &spec) {
            return spec.title == QLatin1String("Do you want to save the changes?") && answer == QLatin1String("No") ? 1 : 0;
        });
        Saver::setPanelResponderForTesting([saved, answer](const QString &) {
            return answer == QLatin1String("cancelled")
                       ? std::optional<std::pair<QString, SaveFormatChoice>>()
                       : std::optional<std::pair<QString, SaveFormatChoice>>(
                             std::make_pair(saved, SaveFormatChoice{lg::ImageFileType::PNG, 0.9, {}}));
        });
        if (answer == QLatin1String("failed"))
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });

        if (how == QLatin1String("signal")) {
            app.delegate.quitNow();   // what a termination signal does
            QCOMPARE(app.quits, 1);
            QVERIFY(lg::Alert::shownAlerts().isEmpty());
            QCOMPARE(lg::Alert::openCount(), 0);
            return;
        }
        if (how == QLatin1String("command"))
            app.quitAction()->trigger();
        else
            app.window->close();
        QCOMPARE(app.quits, 0);   // nothing before the answer
        QTRY_VERIFY(!app.delegate.isAskingBeforeQuit());
        QTRY_VERIFY(!isBusy);
        QCOMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("Do you want to save the changes?"));
        QCOMPARE(lg::Alert::shownAlerts().value(0).buttons, (QStringList{QStringLiteral("Yes"), QStringLiteral("No")}));
        QCOMPARE(app.quits, quits ? 1 : 0);
        QCOMPARE(QFileInfo::exists(saved), answer == QLatin1String("saved"));
        if (!quits) {
            // Still in the collage with its photos, unsaved; a later quit asks again.
            QCOMPARE(ScreenMode(currentScreenMode), ScreenCollage);
            QCOMPARE(collagePhotoList.size(), 2);
            QVERIFY(!isCollageSaved);
            QVERIFY(app.window->isVisible());
            QVERIFY(!lg::isShuttingDown());
            lg::ImageWriter::setCommitHookForTesting({});
            lg::Alert::clearShownAlerts();
            lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
            app.quitAction()->trigger();
            QTRY_COMPARE(app.quits, 1);
            QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        }
    }

    // Ctrl+Q in the editor while Exit's "Save changes?" or the save panel is
    // open asks nothing more: that question answers for the quit ("No" quits,
    // a cancelled panel stays with the edits), and a second Ctrl+Q changes
    // nothing: the question stays, the edits with it.
    void ctrlQInTheEditorAsksOnceOverItsOwnQuestion_data()
    {
        QTest::addColumn<bool>("panel");       // the save panel is open, else Exit's question
        QTest::addColumn<bool>("pressAgain");  // a second Ctrl+Q, else the open question is answered
        QTest::newRow("Exit's question, Ctrl+Q again") << false << true;
        QTest::newRow("Exit's question, No") << false << false;
        QTest::newRow("save panel, Ctrl+Q again") << true << true;
        QTest::newRow("save panel, cancelled") << true << false;
    }
    void ctrlQInTheEditorAsksOnceOverItsOwnQuestion()
    {
        QFETCH(bool, panel);
        QFETCH(bool, pressAgain);
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitasked"));
        const QString path = folder + QStringLiteral("/photo.jpg");
        editImagevc *editor = editWithChanges(path);
        QVERIFY(editor);
        const QByteArray original = lg::test::readAll(path);
        QWidget *open = nullptr;
        if (panel) {
            editor->btnsave();
            QTRY_COMPARE(visibleTopLevels<QFileDialog>().size(), 1);
            open = visibleTopLevels<QFileDialog>().first();
        } else {
            editor->btnExit();
            QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
            open = visibleTopLevels<QMessageBox>().first();
        }
        const auto pressQuitIn = [](QWidget *window) {
            window->activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(window));
            QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : window;
            QTest::keyClick(focus, Qt::Key_Q, Qt::ControlModifier);
        };
        pressQuitIn(open);
        QTest::qWait(50);
        QCOMPARE(app.quits, 0);
        QVERIFY(app.delegate.isAskingBeforeQuit());
        // Nothing stacked: the one question or panel is all that is open.
        QCOMPARE(visibleTopLevels<QMessageBox>().size(), panel ? 0 : 1);
        QCOMPARE(lg::Alert::openCount(), panel ? 0 : 1);
        QCOMPARE(lg::Panels::openCount(), panel ? 1 : 0);
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        if (pressAgain) {
            pressQuitIn(open);
            QTest::qWait(50);
            QCOMPARE(app.quits, 0);
            QVERIFY(app.delegate.isAskingBeforeQuit());
            QCOMPARE(lg::Alert::openCount() + lg::Panels::openCount(), 1);
            QVERIFY(editor->isLoaded() && editor->hasUnsavedChanges());
            if (panel) {
                qobject_cast<QFileDialog *>(open)->reject();
                QTRY_VERIFY(!app.delegate.isAskingBeforeQuit());
            } else {
                for (QAbstractButton *button : qobject_cast<QMessageBox *>(open)->buttons())
                    if (button->text() == QLatin1String("No"))
                        button->click();
                QTRY_COMPARE(app.quits, 1);
            }
        } else if (panel) {
            qobject_cast<QFileDialog *>(open)->reject();
            QTRY_VERIFY(!app.delegate.isAskingBeforeQuit());
            QTest::qWait(50);
            QCOMPARE(app.quits, 0);
            QVERIFY(editor->isLoaded() && editor->hasUnsavedChanges());
        } else {
            auto *question = qobject_cast<QMessageBox *>(open);
            for (QAbstractButton *button : question->buttons()) {
                if (button->text() == QLatin1String("No"))
                    button->click();
            }
            QTRY_COMPARE(app.quits, 1);
        }
        QTest::qWait(50);
        QCOMPARE(app.quits, !panel ? 1 : 0);
        QCOMPARE(lg::test::readAll(path), original);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("photo.jpg")});
    }

    // The Quit command given while the editor's own save is under way (its
    // panel up, answered by the responder) asks nothing more: the quit waits
    // for that save, and goes on once the copy is written; a cancelled panel
    // keeps the editor and its edits.
    void aQuitDuringTheEditorsSaveWaitsForIt_data()
    {
        QTest::addColumn<bool>("saved");
        QTest::newRow("saved") << true;
        QTest::newRow("cancelled") << false;
    }
    void aQuitDuringTheEditorsSaveWaitsForIt()
    {
        QFETCH(bool, saved);
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitsaving"));
        const QString path = folder + QStringLiteral("/photo.jpg");
        editImagevc *editor = editWithChanges(path);
        QVERIFY(editor);
        const QString copy = folder + QStringLiteral("/edited.jpg");
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        int quitsWhileAsked = -1;
        Saver::setPanelResponderForTesting([&](const QString &) {
            app.quitAction()->trigger();
            quitsWhileAsked = app.quits;
            return saved ? std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, SaveFormatChoice()))
                         : std::optional<std::pair<QString, SaveFormatChoice>>();
        });
        editor->btnsave();
        QTRY_VERIFY(quitsWhileAsked >= 0);
        QCOMPARE(quitsWhileAsked, 0);
        QTRY_VERIFY(!app.delegate.isAskingBeforeQuit() && !isBusy);
        QTest::qWait(50);
        QVERIFY(lg::Alert::shownAlerts().isEmpty());   // no "Save changes?" over the save
        QCOMPARE(app.quits, saved ? 1 : 0);
        QCOMPARE(QFileInfo::exists(copy), saved);
        if (!saved)
            QVERIFY(editor->isLoaded() && editor->hasUnsavedChanges());
    }

    // A second Ctrl+Q while the collage's "Do you want to save the changes?"
    // is open, soon or a while later, leaves the question open and the collage
    // unsaved; the answer then decides ("No" quits).
    void aSecondQuitKeepsTheCollagesQuestion_data()
    {
        QTest::addColumn<int>("laterMs");
        QTest::newRow("0.3 s later") << 300;
        QTest::newRow("1.5 s later") << 1500;
    }
    void aSecondQuitKeepsTheCollagesQuestion()
    {
        QFETCH(int, laterMs);
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitcollagetwice"));
        collagevc *collage = collageWithChanges(folder);
        QVERIFY(collage);
        app.quitAction()->trigger();
        QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
        QMessageBox *question = visibleTopLevels<QMessageBox>().first();
        QCOMPARE(question->text(), QStringLiteral("Do you want to save the changes?"));
        QTest::qWait(laterMs);
        question->activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(question));
        QWidget *focus = QApplication::focusWidget() ? QApplication::focusWidget() : question;
        QTest::keyClick(focus, Qt::Key_Q, Qt::ControlModifier);
        QTest::qWait(50);
        QCOMPARE(app.quits, 0);
        QVERIFY(app.delegate.isAskingBeforeQuit());
        QCOMPARE(visibleTopLevels<QMessageBox>().size(), 1);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenCollage);
        QCOMPARE(collagePhotoList.size(), 2);
        QVERIFY(!isCollageSaved);
        for (QAbstractButton *button : question->buttons())
            if (button->text() == QLatin1String("No"))
                button->click();
        QTRY_COMPARE(app.quits, 1);
    }

    // A termination signal cannot ask: it quits at once, also while the
    // question is open (answered "No", nothing saved). A second Quit command
    // while the question is open leaves it open.
    void aSignalOrASecondQuitDoesNotWaitForTheQuestion()
    {
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitagain"));
        const QString path = folder + QStringLiteral("/photo.jpg");
        editImagevc *editor = editWithChanges(path);
        QVERIFY(editor);
        const QByteArray original = lg::test::readAll(path);
        int panels = 0;
        Saver::setPanelResponderForTesting([&panels](const QString &) {
            ++panels;
            return std::optional<std::pair<QString, SaveFormatChoice>>();
        });

        app.quitAction()->trigger();
        QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
        QVERIFY(app.delegate.isAskingBeforeQuit());
        app.quitAction()->trigger();
        QTest::qWait(50);
        QCOMPARE(app.quits, 0);
        QCOMPARE(lg::Alert::openCount(), 1);
        QVERIFY(editor->isLoaded() && editor->hasUnsavedChanges());
        app.delegate.quitNow();   // what a termination signal does
        QCOMPARE(app.quits, 1);
        QCOMPARE(lg::Alert::openCount(), 0);
        QVERIFY(!editor->isLoaded());   // answered "No": dropped, not saved
        QTest::qWait(50);
        QCOMPARE(panels, 0);
        QCOMPARE(app.quits, 1);
        QCOMPARE(lg::test::readAll(path), original);
        QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{QStringLiteral("photo.jpg")});
        resetSharedState();

        QuittingApp again;
        QVERIFY(editWithChanges(path));
        again.delegate.quitNow();   // what a termination signal does
        QCOMPARE(again.quits, 1);
        QTest::qWait(20);
        QCOMPARE(lg::Alert::openCount(), 0);
        QVERIFY(visibleTopLevels<QMessageBox>().isEmpty());
        QCOMPARE(lg::test::readAll(path), original);
    }

    // An editor save over the original, quit just after "Replace" or while
    // the question is open: the write in hand ends whole (or never starts),
    // nothing is left waiting, and the end-of-program wait for the background
    // work returns at once.
    void aQuitAroundReplaceLeavesNothingWaiting_data()
    {
        QTest::addColumn<bool>("replaced");
        QTest::newRow("just after Replace") << true;
        QTest::newRow("while asked") << false;
    }
    void aQuitAroundReplaceLeavesNothingWaiting()
    {
        QFETCH(bool, replaced);
        QuittingApp app;
        const QString folder = lg::test::freshFolder(QStringLiteral("quitreplace"));
        const QString path = folder + QStringLiteral("/photo.jpg");
        editImagevc *editor = editWithChanges(path);
        QVERIFY(editor);
        const QByteArray original = lg::test::readAll(path);
        // The name typed without its extension: the save asks about "photo.jpg".
        Saver::setPanelResponderForTesting([folder](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(
                std::make_pair(folder + QStringLiteral("/photo"), SaveFormatChoice()));
        });
        editor->btnsave();
        QTRY_COMPARE(visibleTopLevels<QMessageBox>().size(), 1);
        QMessageBox *question = visibleTopLevels<QMessageBox>().first();
        if (replaced) {
            for (QAbstractButton *button : question->buttons()) {
                if (button->text() == QLatin1String("Replace"))
                    button->click();
            }
        }
        app.delegate.quitNow();
        QCOMPARE(app.quits, 1);
        QCOMPARE(lg::Alert::openCount() + lg::Panels::openCount(), 0);
        QVERIFY(lg::drainBackgroundWork() < 5000);
        const QByteArray now = lg::test::readAll(path);
        if (replaced) {
            QVERIFY(now != original);
            QCOMPARE(QImage(path).size(), QSize(64, 32));
        } else {
            QCOMPARE(now, original);
        }
        QCOMPARE(QDir(folder).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("photo.jpg")});
    }
};

LG_TEST(TestQuitRequests)
#include "test_quitrequests.moc"
