// What the start does once its first window is up, and nothing of it before:
// the cleanup of what killed runs left, and the word about a move that a quit
// or a kill stopped while it removed its originals.
#include "app/Startup.h"
#include "platform/desktop/Alert.h"
#include "platform/files/Temporaries.h"
#include "platform/files/Journal.h"
#include "platform/files/StoppedMoves.h"
#include "platform/runtime/Timer.h"
#include "tests/support/TestSupport.h"

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
        {
            lg::MoveDeletion note(QStringLiteral("/media/card/Trip"), QStringLiteral("/home/u/Pictures/Trip"));
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
        QVERIFY(shown.text.contains(QStringLiteral("“/media/card/Trip”")));
        QVERIFY(shown.text.contains(QStringLiteral("“/home/u/Pictures/Trip”")));
        QVERIFY(shown.text.contains(QStringLiteral("both places")));

        tellStoppedMoves();   // a later start
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QTRY_VERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
    }
};

LG_TEST(StartupTest)
#include "test_startup.moc"
