// The sidebar's walks of the disk (the count before an add, the scan of a
// folder's tree after a refresh, a move or a drop) look at the quit between
// folders: once the shutdown has begun they end at their next folder, also
// while an add is paused by its stop question, so a quit never waits for them.
#include "app/Essentials.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "sidebar/FolderScan.h"
#include "sidebar/sideMenuvc.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFuture>
#include <atomic>

namespace {

// A tree of parents x children folders; returns its root.
QString makeTree(const QString &name, int parents, int children)
{
    const QString root = lg::test::freshFolder(name);
    for (int p = 0; p < parents; ++p) {
        for (int c = 0; c < children; ++c)
            QDir().mkpath(root + QStringLiteral("/p%1/c%2").arg(p, 3, 10, QLatin1Char('0')).arg(c));
    }
    return root;
}

} // namespace

class TestScanGate : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void cleanup()
    {
        stopAddingFolders = false;
        lg::resetShutdownForTesting();
    }

    // The tree scan stops at the folder after the quit: what it recorded
    // stays, the rest is not walked.
    void theTreeScanEndsAtTheNextFolderAfterTheQuit()
    {
        const QString root = makeTree(QStringLiteral("scan-tree"), 40, 25);   // 1,040 folders
        FolderRecord record = FolderRecord::make(QUrl::fromLocalFile(root));
        int seen = 0;
        ScanContext context;
        context.progress = [&seen](const QUrl &, bool) {
            if (++seen == 100)
                lg::beginShutdown();
        };
        sideMenuvc::scanFolderTree(root, record, context);
        QCOMPARE(seen, 100);
        QVERIFY(record.descendantCount() <= 100);

        // Walked in full without a quit.
        lg::resetShutdownForTesting();
        FolderRecord whole = FolderRecord::make(QUrl::fromLocalFile(root));
        ScanContext plain;
        sideMenuvc::scanFolderTree(root, whole, plain);
        QCOMPARE(whole.descendantCount(), 40 + 40 * 25);
    }

    void theCountEndsAtTheNextFolderAfterTheQuit()
    {
        const QString root = makeTree(QStringLiteral("count-tree"), 30, 20);
        const ScanControl control;
        QCOMPARE(countSubfolders(root, control).value_or(-1), 30 + 30 * 20);
        lg::beginShutdown();
        QCOMPARE(countSubfolders(root, control).value_or(-1), 0);
    }

    // A rescan on the shared pool while an add is paused by its stop
    // question: it waits for the answer, but not past the quit, so the wait
    // for the pool at the end of the program ends.
    void aPausedScanOnThePoolEndsAtTheQuit()
    {
        const QString root = makeTree(QStringLiteral("paused-tree"), 3, 3);
        stopAddingFolders = true;
        std::atomic<int> seen{0};
        QFuture<int> scan = lg::runOnPool([root, &seen] {
            FolderRecord record = FolderRecord::make(QUrl::fromLocalFile(root));
            ScanContext context;
            context.progress = [&seen](const QUrl &, bool) { ++seen; };
            sideMenuvc::scanFolderTree(root, record, context);
            return record.descendantCount();
        });
        QTest::qWait(3 * ScanControl::pollIntervalMs);
        QVERIFY(!scan.isFinished());   // paused, as it should be
        QCOMPARE(seen.load(), 0);
        lg::beginShutdown();
        QTRY_VERIFY_WITH_TIMEOUT(scan.isFinished(), 2000);
        QCOMPARE(scan.result(), 0);
        QVERIFY(lg::drainBackgroundWork() < 2000);
    }
};

LG_TEST(TestScanGate)
#include "test_scangate.moc"
