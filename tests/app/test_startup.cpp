// What the start does once its first window is up, and nothing of it before:
// the cleanup of what killed runs left, and the word about a move that a quit
// or a kill stopped while it removed its originals, in front of the main
// window. A lost display ends the program as a quit does.
#include "app/Startup.h"
#include "platform/desktop/Alert.h"
#include "platform/files/Temporaries.h"
#include "platform/files/Journal.h"
#include "platform/files/StoppedMoves.h"
#include "platform/runtime/Timer.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QDir>
#include <QMessageBox>
#include <QWidget>

class StartupTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
    }
    void cleanup() { lg::Alert::setResponder({}); }

    void aStoppedMoveIsToldOnceTheFirstWindowIsUpAndOnlyOnce()
    {
        lg::FakeClock clock;   // no fallback delay runs out here
        const QString root = lg::test::freshFolder(QStringLiteral("told once"));
        const QString source = root + QStringLiteral("/card/Trip");
        const QString target = root + QStringLiteral("/Pictures/Trip");
        QVERIFY(QDir().mkpath(source));
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
        tellStoppedMoves(&window);
        const QList<QMessageBox *> boxes = window.findChildren<QMessageBox *>();
        QCOMPARE(boxes.size(), 1);
        QMessageBox *box = boxes.first();
        QVERIFY(box->isVisible());
        QCOMPARE(box->windowModality(), Qt::WindowModal);
        QTRY_COMPARE(QApplication::activeWindow(), static_cast<QWidget *>(box));
        lg::Alert::closeAll();
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
};

LG_TEST(StartupTest)
#include "test_startup.moc"
