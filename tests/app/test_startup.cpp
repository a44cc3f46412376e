// What the start does once its first window is up, and nothing of it before:
// the cleanup of what killed runs left, and the word about a move that a quit
// or a kill stopped while it removed its originals, in front of the main
// window. A lost display ends the program as a quit does.
#include "app/Startup.h"
#include "app/AppDelegate.h"
#include "app/Essentials.h"
#include "app/FileHandover.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/splitvc.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "outreach/StartupVc.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Settings.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/Journal.h"
#include "platform/files/recovery/StoppedMoves.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"
#include "sidebar/DropView.h"
#include "tests/support/LoopbackServer.h"
#include "tests/support/Seams.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"
#include "viewer/viewimagevc.h"

#include <QAbstractButton>
#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFileDialog>
#include <QFile>
#include <QProcess>
#include <QFileInfo>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QResizeEvent>
#include <QScopeGuard>
#include <QSplitter>
#include <QToolTip>
#include <QWidget>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <unistd.h>

namespace {

// A few rounds of the event loop, never waiting.
void settleEvents()
{
    for (int i = 0; i < 3; ++i)
        QCoreApplication::processEvents(QEventLoop::AllEvents);
}

// Shows window, and once it is drawn runs the start's work after it (the
// clock's fallback delay run out): false when it never showed.
bool startAfterTheWindowIsDrawn(QWidget &window, lg::FakeClock &clock)
{
    window.resize(200, 100);
    window.show();
    if (!QTest::qWaitForWindowExposed(&window))
        return false;
    afterFirstWindow();
    clock.advance(3000);
    return true;
}

} // namespace

class StartupTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
    }
    void cleanup() { lg::test::resetSeams(); }

    void aStoppedMoveIsToldOnceTheFirstWindowIsUpAndOnlyOnce()
    {
        lg::FakeClock clock;   // no fallback delay runs out here
        const QString root = lg::test::freshFolder(QStringLiteral("told once"));
        const QString source = root + QStringLiteral("/card/Trip");
        const QString target = root + QStringLiteral("/Pictures/Trip");
        lg::test::writeFile(source + QStringLiteral("/a.jpg"), "a");   // not yet removed
        {
            lg::MoveDeletion note(source, target);
            QVERIFY(QDir().mkpath(target));   // the copy, put in place after the note
            note.keep();   // as a quit leaves it
        }
        const quint64 scans = lg::leftoverScansForTesting();
        afterFirstWindow();
        for (int i = 0; i < 5; ++i)
            QCoreApplication::processEvents();
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        QVERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
        QCOMPARE(lg::leftoverScansForTesting(), scans);

        QWidget window;
        window.resize(200, 100);
        window.show();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec shown = lg::Alert::shownAlerts().first();
        QCOMPARE(shown.title, QStringLiteral("A move was stopped before it finished."));
        QVERIFY(shown.text.contains(QStringLiteral("“%1”").arg(source)));
        QVERIFY(shown.text.contains(QStringLiteral("“%1”").arg(target)));
        QVERIFY(shown.text.contains(QStringLiteral("both places")));

        tellStoppedMoves();   // a later start
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QTRY_VERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
    }

    // The word about a stopped move is a sheet on the main window, in front
    // and active, not a window of its own behind it.
    void aStoppedMoveComesAsASheetInFrontOfTheMainWindow()
    {
        lg::Alert::setResponder({});
        const QString root = lg::test::freshFolder(QStringLiteral("in front"));
        QVERIFY(QDir().mkpath(root + QStringLiteral("/card/Trip")));
        {
            lg::MoveDeletion note(root + QStringLiteral("/card/Trip"), root + QStringLiteral("/Trip"));
            QVERIFY(QDir().mkpath(root + QStringLiteral("/Trip")));
            note.keep();
        }
        QWidget window;
        window.resize(400, 300);
        window.show();
        QWidget other;   // another window of the program, active before
        other.show();
        other.activateWindow();
        QTRY_COMPARE(QApplication::activeWindow(), &other);
        tellStoppedMoves(&window);   // read off the main thread, told on it
        QTRY_COMPARE(window.findChildren<QMessageBox *>().size(), 1);
        const QList<QMessageBox *> boxes = window.findChildren<QMessageBox *>();
        QMessageBox *box = boxes.first();
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(box));
        lg::Alert::closeAll();
    }

    // The start says what is so: both places only while the source still
    // holds an item, else that the move is complete. Without a window manager
    // the window raised last is on top, so the main window is raised first
    // and its sheet shown after it, never the other way round.
    void aStoppedMoveIsToldAsItIsInASheetShownAfterTheWindowIsRaised_data()
    {
        QTest::addColumn<bool>("itemLeft");
        QTest::newRow("a photo not yet removed") << true;
        QTest::newRow("only empty folders left") << false;
    }
    void aStoppedMoveIsToldAsItIsInASheetShownAfterTheWindowIsRaised()
    {
        QFETCH(bool, itemLeft);
        lg::Alert::setResponder({});
        const QString root = lg::test::freshFolder(QStringLiteral("told as it is ") + QTest::currentDataTag());
        const QString source = root + QStringLiteral("/Src/Trip");
        const QString target = root + QStringLiteral("/Pictures/Trip");
        QVERIFY(QDir().mkpath(source + QStringLiteral("/Day 1")));
        if (itemLeft)
            lg::test::writeFile(source + QStringLiteral("/Day 1/a.jpg"), "a");
        {
            lg::MoveDeletion note(source, target);
            lg::test::writeFile(target + QStringLiteral("/Day 1/a.jpg"), "a");
            note.keep();
        }
        QWidget window;
        window.resize(400, 300);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        // The order in which the window is raised and the sheet shown.
        struct Order : QObject
        {
            QWidget *window = nullptr;
            QStringList seen;
            bool eventFilter(QObject *watched, QEvent *event) override
            {
                if (watched == window && event->type() == QEvent::ZOrderChange)
                    seen << QStringLiteral("window raised");
                else if (qobject_cast<QMessageBox *>(watched) && event->type() == QEvent::Show)
                    seen << QStringLiteral("sheet shown");
                return false;
            }
        } order;
        order.window = &window;
        qApp->installEventFilter(&order);
        tellStoppedMoves(&window);
        QTRY_COMPARE(window.findChildren<QMessageBox *>().size(), 1);
        qApp->removeEventFilter(&order);
        const QList<QMessageBox *> boxes = window.findChildren<QMessageBox *>();
        const QString text = boxes.first()->informativeText().remove(QChar(0x200B));
        lg::Alert::closeAll();
        QVERIFY2(order.seen.contains(QStringLiteral("sheet shown")), qPrintable(order.seen.join(QLatin1String(", "))));
        QVERIFY2(order.seen.lastIndexOf(QStringLiteral("window raised")) < order.seen.indexOf(QStringLiteral("sheet shown")),
                 qPrintable(order.seen.join(QLatin1String(", "))));
        QCOMPARE(text.contains(QStringLiteral("both places")), itemLeft);
        QCOMPARE(text.contains(QStringLiteral("the move is complete")), !itemLeft);
        QCOMPARE(QFileInfo::exists(source), itemLeft);
        QCOMPARE(lg::test::readAll(target + QStringLiteral("/Day 1/a.jpg")), QByteArray("a"));
    }

    // The word about a stopped move says the step it stopped at, and calls
    // the copy whole only once what is still in the source was compared with
    // it, byte for byte.
    void aStoppedMoveIsToldWithItsStepAndWholeOnlyWhenCompared_data()
    {
        QTest::addColumn<bool>("removing");   // the delete step had begun
        QTest::addColumn<QString>("copy");    // "same", "other bytes" or "a file missing"
        QTest::newRow("copy in place, nothing removed yet") << false << "same";
        QTest::newRow("originals being removed") << true << "same";
        QTest::newRow("a copy of other bytes") << true << "other bytes";
        QTest::newRow("a file missing from the copy") << false << "a file missing";
    }
    void aStoppedMoveIsToldWithItsStepAndWholeOnlyWhenCompared()
    {
        QFETCH(bool, removing);
        QFETCH(QString, copy);
        const QString root = lg::test::freshFolder(QStringLiteral("step ") + QTest::currentDataTag());
        const QString source = root + QStringLiteral("/card/Trip");
        const QString target = root + QStringLiteral("/Pictures/Trip");
        lg::test::writeFile(source + QStringLiteral("/Day 1/a.jpg"), "photo a");
        lg::test::writeFile(source + QStringLiteral("/b.jpg"), "photo b");
        {
            lg::MoveDeletion note(source, target);
            lg::test::writeFile(target + QStringLiteral("/Day 1/a.jpg"),
                                copy == QLatin1String("other bytes") ? "photo A" : "photo a");
            if (copy != QLatin1String("a file missing"))
                lg::test::writeFile(target + QStringLiteral("/b.jpg"), "photo b");
            if (removing)
                QVERIFY(note.removing());
            note.keep();
        }
        QWidget window;
        window.resize(200, 100);
        window.show();
        tellStoppedMoves(&window);
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const QString text = lg::Alert::shownAlerts().first().text;
        QVERIFY2(text.contains(QStringLiteral("both places")), qPrintable(text));
        QCOMPARE(text.contains(QStringLiteral("stopped while the originals were being removed")), removing);
        QCOMPARE(text.contains(QStringLiteral("stopped after its copy was put in place, before any of the originals "
                                              "was removed")),
                 !removing);
        QCOMPARE(text.contains(QStringLiteral("the copy in “%1” is whole").arg(target)), copy == QLatin1String("same"));
        QCOMPARE(text.contains(QStringLiteral("is not the same as what is still in “%1”").arg(source)),
                 copy != QLatin1String("same"));
        QTRY_VERIFY(!isReadingStoppedMovesForTesting());
    }

    // The notes of stopped moves and the places they name are read off the
    // main thread: a place that never answers (a hung share) holds neither
    // the window nor the quit, which ends at once; the note stays for the
    // next start.
    void aHungPlaceHoldsNeitherTheWindowNorTheQuit()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("hung place"));
        const QString source = root + QStringLiteral("/share/Trip");
        const QString target = root + QStringLiteral("/Pictures/Trip");
        lg::test::writeFile(source + QStringLiteral("/a.jpg"), "a");
        {
            lg::MoveDeletion note(source, target);
            lg::test::writeFile(target + QStringLiteral("/a.jpg"), "a");
            note.keep();
        }
        // The mount table, read to find the note's places, never answers
        // until let go (a safety limit ends the wait where it is read on the
        // main thread, which nothing else could let go).
        struct Hang
        {
            std::mutex mutex;
            std::condition_variable letGo;
            bool released = false;
            std::atomic<bool> blocked{false}, timedOut{false};
        };
        auto hang = std::make_shared<Hang>();
        lg::setFileFaultForTesting([hang](lg::FileStep step, const QString &) {
            if (step != lg::FileStep::MountTable)
                return 0;
            hang->blocked = true;
            std::unique_lock<std::mutex> lock(hang->mutex);
            if (!hang->letGo.wait_for(lock, std::chrono::seconds(3), [&hang] { return hang->released; }))
                hang->timedOut = true;
            return 0;
        });
        const auto letGo = qScopeGuard([hang] {
            {
                std::lock_guard<std::mutex> lock(hang->mutex);
                hang->released = true;
            }
            hang->letGo.notify_all();
            QTRY_VERIFY(!isReadingStoppedMovesForTesting());
            lg::setFileFaultForTesting({});
            lg::resetShutdownForTesting();
        });
        QWidget window;
        window.resize(200, 100);
        window.show();
        tellStoppedMoves(&window);
        QTRY_VERIFY(hang->blocked.load());
        QVERIFY(!hang->timedOut);   // the window went on while the place hung
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        lg::beginShutdown();
        QElapsedTimer quit;
        quit.start();
        lg::drainBackgroundWork();
        QVERIFY(quit.elapsed() < 1000);
        QVERIFY(!hang->timedOut);
        {
            std::lock_guard<std::mutex> lock(hang->mutex);
            hang->released = true;
        }
        hang->letGo.notify_all();
        QTRY_VERIFY(!isReadingStoppedMovesForTesting());
        QVERIFY(lg::Alert::shownAlerts().isEmpty());   // nothing is shown once the quit has begun
        const QDir journal(qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries"));
        bool noted = false;
        for (const QString &name : journal.entryList(QDir::Files)) {
            if (name.startsWith(QLatin1String("move-")))
                noted = QFile::remove(journal.filePath(name));   // told at the next start, not by the tests after
        }
        QVERIFY(noted);
    }

    // A move stopped while the card of its target is away is told neither
    // then nor never: its note waits, and the move is told once the card is
    // back, at another place, while the program runs.
    void aStoppedMoveIsToldWhenItsCardComesBackWhileTheProgramRuns()
    {
        lg::FakeClock clock;   // no fallback delay runs out here
        const QString root = lg::test::freshFolder(QStringLiteral("card comes back"));
        const QString image = root + QStringLiteral("/card.img");
        {
            QFile sized(image);
            QVERIFY(sized.open(QIODevice::WriteOnly) && sized.resize(16 << 20));
        }
        const QString card = root + QStringLiteral("/CARD");
        const QString later = root + QStringLiteral("/CARD1");
        QVERIFY(QDir().mkpath(card) && QDir().mkpath(later));
        const auto mountAt = [&image](const QString &at) {
            return QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), image, at}) == 0;
        };
        if (::geteuid() != 0 || QProcess::execute(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), image}) != 0
            || !mountAt(card))
            QSKIP("This machine does not let the tests mount an ext4 image.");
        QString mounted = card;
        const auto unmount = qScopeGuard([&mounted] {
            if (!mounted.isEmpty())
                QProcess::execute(QStringLiteral("umount"), {mounted});
        });
        const QString source = root + QStringLiteral("/Pictures/Trip");
        lg::test::writeFile(source + QStringLiteral("/a.jpg"), "a");
        {
            lg::MoveDeletion note(source, card + QStringLiteral("/Trip"));
            lg::test::writeFile(card + QStringLiteral("/Trip/a.jpg"), "a");   // the copy, in place
            note.keep();
        }
        QCOMPARE(QProcess::execute(QStringLiteral("umount"), {card}), 0);
        mounted.clear();
        QWidget window;
        QVERIFY(startAfterTheWindowIsDrawn(window, clock));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());   // its card is away
        QTRY_VERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
        QVERIFY(mountAt(later));
        mounted = later;
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec shown = lg::Alert::shownAlerts().first();
        QVERIFY2(shown.text.contains(QStringLiteral("“%1/Trip”").arg(later)), qPrintable(shown.text));
        QVERIFY(shown.text.contains(QStringLiteral("both places")));
        QTRY_VERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
    }

    // A folder Replace within one disk killed once the new folder stood
    // hidden beside the old one is told once the start's cleanup has settled
    // it, in a sheet that names what stands where: finished where its record
    // names the very folder it was to replace, else with the new folder
    // beside the old one under a numbered name.
    void aReplaceStoppedByAKillIsToldOnceTheCleanupHasSettledIt_data()
    {
        QTest::addColumn<bool>("recorded");   // the record names the folder to be replaced
        QTest::newRow("finished") << true;
        QTest::newRow("beside") << false;
    }
    void aReplaceStoppedByAKillIsToldOnceTheCleanupHasSettledIt()
    {
        QFETCH(bool, recorded);
        lg::FakeClock clock;   // no fallback delay runs out here
        const QString root = lg::test::freshFolder(QStringLiteral("replace told ") + QTest::currentDataTag());
        const QString dst = root + QStringLiteral("/Pictures");
        const QByteArray token = "0123456789abcdef";
        const QString hidden = dst + QStringLiteral("/.Trip.lgold-") + QString::fromLatin1(token);
        lg::test::writeFile(dst + QStringLiteral("/Trip/old.jpg"), "old");
        lg::test::writeFile(hidden + QStringLiteral("/new.jpg"), "new");
        const auto identity = [](const QString &path) {
            const std::optional<lg::FileIdentity> id = lg::fileIdentity(path);
            return id ? QByteArray::number(id->device) + ':' + QByteArray::number(id->inode) + ':'
                            + QByteArray::number(id->type)
                      : QByteArray();
        };
        QByteArray record = "[Lumen Gallery temporary]\nKind=old\nName=Trip\nTemporary=.Trip.lgold-" + token
                            + "\nMade=" + identity(hidden) + "\nBrought=1\n";
        if (recorded)
            record += "Replaced=" + identity(dst + QStringLiteral("/Trip")) + "\n";
        lg::test::writeFile(dst + QStringLiteral("/.lglock-") + QString::fromLatin1(token), record);
        const QString journal = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries");
        lg::test::writeFile(journal + QStringLiteral("/fedcba9876543210"),
                            "[Lumen Gallery folder]\nFolder=" + QFile::encodeName(dst).toPercentEncoding("/") + "\n");
        QWidget window;
        QVERIFY(startAfterTheWindowIsDrawn(window, clock));
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec shown = lg::Alert::shownAlerts().first();
        QCOMPARE(shown.title, QStringLiteral("A replace was stopped before it finished."));
        QVERIFY2(shown.text.contains(QStringLiteral("“%1/Trip”").arg(dst)), qPrintable(shown.text));
        if (recorded) {
            QVERIFY2(shown.text.contains(QStringLiteral("finished")), qPrintable(shown.text));
            QCOMPARE(QDir(dst).entryList(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot), QStringList{"Trip"});
            QCOMPARE(lg::test::readAll(dst + QStringLiteral("/Trip/new.jpg")), QByteArray("new"));
        } else {
            QVERIFY2(shown.text.contains(QStringLiteral("“%1/Trip 2”").arg(dst)), qPrintable(shown.text));
            QCOMPARE(lg::test::readAll(dst + QStringLiteral("/Trip/old.jpg")), QByteArray("old"));
            QCOMPARE(lg::test::readAll(dst + QStringLiteral("/Trip 2/new.jpg")), QByteArray("new"));
        }
        QTRY_VERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
        tellStoppedMoves();   // a later start
        QTRY_VERIFY(!isReadingStoppedMovesForTesting());
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
    }

    // Qt's X11 plugin says its connection broke and then exits with 1: the
    // guard ends the program there as a quit does, with 0; any other
    // message changes nothing.
    void aLostDisplayEndsTheProgramAsAQuitDoes_data()
    {
        QTest::addColumn<QString>("message");
        QTest::addColumn<bool>("ends");
        QTest::newRow("the connection broke")
            << QStringLiteral("The X11 connection broke (error 1). Did the X11 server die?") << true;
        QTest::newRow("another warning") << QStringLiteral("QWidget::setMinimumSize: negative size") << false;
    }
    void aLostDisplayEndsTheProgramAsAQuitDoes()
    {
        QFETCH(QString, message);
        QFETCH(bool, ends);
        int cleanEnds = 0;
        int status = -1;
        {
            EndOnLostDisplay guard([&cleanEnds] { ++cleanEnds; });
            EndOnLostDisplay::setEndForTesting([&status](int code) { status = code; });
            qWarning("%s", qPrintable(message));
            EndOnLostDisplay::setEndForTesting({});
        }
        QCOMPARE(cleanEnds, ends ? 1 : 0);
        QCOMPARE(status, ends ? 0 : -1);
        // Once main() is done with the guard, the message ends nothing here.
        qWarning("%s", qPrintable(message));
        QCOMPARE(cleanEnds, ends ? 1 : 0);
    }

    void everyDialogDrawsLightTextOnDark_data()
    {
        QTest::addColumn<QString>("kind");
        for (const char *kind : {"message box", "file chooser", "colour panel", "menu", "main window"})
            QTest::newRow(kind) << QString::fromLatin1(kind);
    }
    void everyDialogDrawsLightTextOnDark()
    {
        resetSharedState();
        lg::Alert::setResponder({});
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        QFETCH(QString, kind);
        applyApplicationLook();
        QFileDialog chooser;
        chooser.setOption(QFileDialog::DontUseNativeDialog);
        QMessageBox alert;
        QColorDialog colours;
        QMenu menu;
        const QHash<QString, QWidget *> widgets{{"message box", &alert}, {"file chooser", &chooser},
                                                {"colour panel", &colours}, {"menu", &menu}, {"main window", mainWindow()}};
        const QPalette pal = widgets.value(kind)->palette();
        for (auto [ground, ink] : {std::pair{QPalette::Window, QPalette::WindowText},
                                   std::pair{QPalette::Base, QPalette::Text},
                                   std::pair{QPalette::Button, QPalette::ButtonText}}) {
            QVERIFY2(pal.color(ground).lightnessF() < 0.3, qPrintable(pal.color(ground).name()));
            QVERIFY2(pal.color(ink).lightnessF() > 0.7, qPrintable(pal.color(ink).name()));
        }
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipBase).lightnessF() < 0.3);
        QVERIFY(QToolTip::palette().color(QPalette::ToolTipText).lightnessF() > 0.7);
    }

    // The alert's icon and the hover hints are drawn in the dark look too.
    void alertIconsAndHintsAreDark_data()
    {
        QTest::addColumn<int>("style");
        QTest::newRow("informational") << int(lg::AlertSpec::Style::Informational);
        QTest::newRow("warning") << int(lg::AlertSpec::Style::Warning);
        QTest::newRow("critical") << int(lg::AlertSpec::Style::Critical);
    }
    void alertIconsAndHintsAreDark()
    {
        resetSharedState();
        lg::Alert::setResponder({});
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        QFETCH(int, style);
        applyApplicationLook();
        QWidget window;
        window.resize(640, 420);
        window.show();
        lg::Alert::show(&window, {QStringLiteral("Title"), QString(), {}, lg::AlertSpec::Style(style)});
        auto *box = window.findChild<QMessageBox *>();
        QVERIFY(box);
        const QImage icon = box->iconPixmap().toImage();
        QVERIFY(!icon.isNull());
        // Nothing light but the text: no white highlights or light grounds.
        int light = 0;
        for (int y = 0; y < icon.height(); ++y)
            for (int x = 0; x < icon.width(); ++x)
                if (QColor c = icon.pixelColor(x, y); c.alpha() > 128 && c.lightnessF() > 0.8)
                    ++light;
        QCOMPARE(light, 0);
        lg::Alert::closeAll();

        PopoverMaxTypeVC hint;
        hint.setAnimates(false);
        hint.showHint(QStringLiteral("Add folders"), &window, Qt::BottomEdge);
        const QImage drawn = hint.grab().toImage();
        QVERIFY(QColor(drawn.pixel(drawn.width() / 2, drawn.height() - 4)).lightnessF() < 0.3);
        QVERIFY(hint.message->palette().color(QPalette::WindowText).lightnessF() > 0.7);
    }

    // Each of the program's alert texts, shown over the main window at its
    // minimum size: the sheet stays inside the window, its text wraps inside the
    // sheet and the whole of it shows.
    void alertTextsFitTheirSheetAtTheSmallestWindow_data()
    {
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QTest::addColumn<QStringList>("buttons");
        const QStringList ok{QStringLiteral("OK")}, yesNo{QStringLiteral("Yes"), QStringLiteral("No")};
        const QStringList clash{QStringLiteral("Replace"), QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
        const QString none;
        QTest::newRow("folder to Trash") << QStringLiteral("Are you sure you want to move the selected Folder to Trash? All the items from within the folder will be deleted.") << none << yesNo;
        QTest::newRow("sub-folder") << QStringLiteral("Sub-folder cannot be removed") << QStringLiteral("The selected folder is not a Parent folder and cannot be removed from this tree structure. You can only remove the bookmarks you have added.") << ok;
        QTest::newRow("remove bookmark") << QStringLiteral("Remove bookmark?") << QStringLiteral("Are you sure you want to remove the selected bookmark?") << QStringList{QStringLiteral("OK"), QStringLiteral("Cancel")};
        QTest::newRow("name taken") << QStringLiteral("The name \u201CSummer holidays in the mountains, day trips\u201D is already taken. Please choose a different name.") << none << ok;
        QTest::newRow("rename error") << QStringLiteral("An error occurred while renaming file.") << none << ok;
        QTest::newRow("system folder") << QStringLiteral("You cannot rename System folders!") << none << ok;
        QTest::newRow("move folder") << QStringLiteral("Moving a folder into another folder will physically move the folder and all its contents to the destination folder. Are you sure you want to move the selected folder?") << none << yesNo;
        QTest::newRow("folder exists") << QStringLiteral("A folder with the same name already exists in the destination folder. Do you want to overwrite the destination folder?") << none << QStringList{QStringLiteral("Replace"), QStringLiteral("Keep both"), QStringLiteral("Cancel")};
        QTest::newRow("move items") << QStringLiteral("Are you sure you want to move the selected items to the destination folder?") << none << yesNo;
        QTest::newRow("file exists") << QStringLiteral("File already exists") << QStringLiteral("A file or folder with the same name already exists in the destination folder. Do you want to replace it with the one you have selected?") << clash;
        QTest::newRow("delete files") << QStringLiteral("Are you sure you want to delete the selected files? All the files will be physically deleted and moved to trash.") << none << yesNo;
        QTest::newRow("search results") << QStringLiteral("Adding new files to the current folder will remove the Search results. Do you want to continue?") << none << QStringList{QStringLiteral("No"), QStringLiteral("Yes")};
        QTest::newRow("copy or move") << QStringLiteral("You are draggng and dropping files to the seleced folder. Do you want to Copy or Move these files?") << none << QStringList{QStringLiteral("Copy"), QStringLiteral("Move"), QStringLiteral("Cancel")};
        QTest::newRow("outside home") << homeVc::rejectionMessage() << none << ok;
        QTest::newRow("stop adding") << QStringLiteral("Are you sure you want to Stop importing folders to view photos and videos?") << none << yesNo;
        QTest::newRow("already added") << QStringLiteral("Some of the folders can not be added because they are already added to the bookmark list.") << none << ok;
        QTest::newRow("not a folder") << DropView::notFolderMessage << none << ok;
        QTest::newRow("delete file") << QStringLiteral("Are you sure you want to delete the selected file? The selected file will be physically deleted and moved to trash.") << none << yesNo;
        QTest::newRow("save edit") << QStringLiteral("Save changes?") << QStringLiteral("Do you want to save a copy of this image with the changes you have selected?") << yesNo;
        QTest::newRow("collage") << QStringLiteral("Do you want to save the changes?") << QStringLiteral("Your changes will be lost if you don\u2019t save them.") << yesNo;
        QTest::newRow("Photos running") << QStringLiteral("Photos App is running.") << QStringLiteral("Please quit Photos App to continue adding Photos Library.") << QStringList{QStringLiteral("Quit & Retry"), QStringLiteral("Skip Photos Library")};
        QTest::newRow("Photos import") << QStringLiteral("Photos library import is not available") << QStringLiteral("Files cannot be imported into a Photos library on this system.") << ok;
        QTest::newRow("failed items") << QStringLiteral("Some items could not be processed.") << QStringLiteral("3 items could not be processed.\n\u201CIMG_20240612_184512_panorama_stitched_final.jpg\u201D: The item is no longer where it was copied or cut from.\n\u201CIMG_20240612_184513.jpg\u201D: Permission denied.\n\u201CTrip\u201D: The item was not wholly moved: 2 items that arrived or changed while they were moved stayed in \u201C/home/someone/Pictures/Trip\u201D: \u201CTrip/IMG_0001.jpg\u201D and \u201CTrip/IMG_0002.jpg\u201D. The copy is at \u201C/media/card/Trip\u201D; where an item of the same name is there too, that copy is the older one.") << ok;
        QTest::newRow("no file manager") << QStringLiteral("\u201CA folder with a rather long name for its photos\u201D could not be shown in the File Manager.") << QStringLiteral("No file manager is installed.") << ok;
        QTest::newRow("a path without blanks") << QStringLiteral("The picture could not be saved.") << QStringLiteral("/home/someone/Pictures/Holidays/2024/Mountains/IMG_20240612_184512_panorama_stitched.jpg: No space left on device") << ok;
    }
    void alertTextsFitTheirSheetAtTheSmallestWindow()
    {
        resetSharedState();
        lg::Alert::setResponder({});
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        QFETCH(QString, title);
        QFETCH(QString, text);
        QFETCH(QStringList, buttons);
        applyApplicationLook();
        mainWindowController *window = mainWindow();
        window->resize(window->minimumSize());
        window->show();
        QVERIFY(QTest::qWaitForWindowExposed(window));
        lg::Alert::show(window, {title, text, buttons, lg::AlertSpec::Style::Informational});
        QMessageBox *box = window->findChild<QMessageBox *>();
        QVERIFY(box);
        QTRY_VERIFY(box->isVisible());
        QTest::qWait(50);   // the layout requests that follow the showing
        QVERIFY2(box->width() <= window->width() && box->height() <= window->height(),
                 qPrintable(QStringLiteral("%1 x %2").arg(box->width()).arg(box->height())));
        const QRect sheet = box->rect();
        for (auto [name, wanted] : {std::pair{"qt_msgbox_label", title}, std::pair{"qt_msgbox_informativelabel", text}}) {
            if (wanted.isEmpty())
                continue;
            auto *label = box->findChild<QLabel *>(QLatin1String(name));
            QVERIFY(label && label->isVisible());
            QCOMPARE(label->text().remove(QChar(0x200B)), wanted);   // all of it, nothing elided
            QVERIFY2(sheet.contains(label->geometry()), name);
            // Wrapped at the label's width, the text is no wider than the label
            // and no taller than it.
            const QRect needed = label->fontMetrics().boundingRect(QRect(0, 0, label->contentsRect().width(), 100000),
                                                                  Qt::TextWordWrap, label->text());
            QVERIFY2(needed.width() <= label->contentsRect().width(), name);
            QVERIFY2(needed.height() <= label->contentsRect().height(),
                     qPrintable(QStringLiteral("%1: %2 of %3 px shown").arg(QLatin1String(name))
                                    .arg(label->contentsRect().height()).arg(needed.height())));
        }
        for (QAbstractButton *button : box->buttons())
            QVERIFY2(sheet.contains(QRect(button->mapTo(box, QPoint()), button->size())), qPrintable(button->text()));
        lg::Alert::closeAll();
    }

    void filesNamedAtLaunchTakeThePlaceOfTheHomeScreen()
    {
        resetSharedState();
        lg::Alert::setResponder({});
        const auto hideWindow = qScopeGuard([] {
            mainWindow()->setWindowState(Qt::WindowNoState);
            mainWindow()->hide();
        });
        // A later run (the welcome screen was passed) started with a file.
        lg::Settings::setValue(firstRunKey, 1);
        lg::Settings::setValue(QStringLiteral("startstatus"), false);
        lg::Settings::setValue(QStringLiteral("autocheckforupdate"), 2);
        const QString file =
            lg::test::writeFile(lg::test::freshFolder(QStringLiteral("launch")) + QStringLiteral("/a.jpg"));
        lg::FakeClock clock;
        AppDelegate delegate;
        QStringList handedOver;
        delegate.fileHandover->handOver = [&](const QStringList &paths) { handedOver += paths; };

        scheduleLaunch(delegate, {file});
        settleEvents();
        QVERIFY(delegate.appstart);
        // The hub takes the home screen's place at once, without waiting for
        // the batch to close.
        QCOMPARE(handedOver, QStringList{file});
        QCOMPARE(mainWindow()->contentViewController(), static_cast<QWidget *>(contentHub()));
        QVERIFY(mainWindow()->isVisible());
        QCOMPARE(ScreenMode(currentScreenMode), ScreenGrid);
        clock.advance(0);  // the home screen never appeared: nothing hides the window
        QVERIFY(!openedFromFinder);
        QVERIFY(mainWindow()->isVisible());

        clock.advance(FileHandover::batchDelayMs);
        QCOMPARE(handedOver, QStringList{file});
        QVERIFY(mainWindow()->isVisible());

        // The home screen shown later (the sidebar emptied) stays up.
        mainWindow()->showhomevc();
        clock.advance(0);
        QVERIFY(mainWindow()->isVisible());
    }
};

LG_TEST(StartupTest)
#include "test_startup.moc"
