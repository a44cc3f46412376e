// Watching a folder: which changes are seen, bursts, stop, start and release.
// inotify queues an event before the changing call returns, so one pass of the
// event loop after a change delivers it; no waiting is needed.
#include "model/FileServices.h"
#include "model/FolderMonitor.h"
#include "model/MediaRecords.h"
#include "platform/desktop/Paths.h"
#include "platform/runtime/Timer.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <sys/stat.h>
#include <vector>

namespace {

using lg::test::settle;

// The number of inotify watches of this process on the folder's inode.
int watchesOn(const QString &folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(folder).constData(), &st) != 0)
        return -1;
    const QByteArray inode = " ino:" + QByteArray::number(qulonglong(st.st_ino), 16) + ' ';
    int count = 0;
    QDirIterator it(QStringLiteral("/proc/self/fdinfo"), QDir::Files);
    while (it.hasNext()) {
        QFile info(it.next());
        if (!info.open(QIODevice::ReadOnly))
            continue;
        for (const QByteArray &line : info.readAll().split('\n'))
            if (line.startsWith("inotify wd:") && line.contains(inode))
                ++count;
    }
    return count;
}

int openDescriptors()
{
    return int(QDir(QStringLiteral("/proc/self/fd")).entryList(QDir::AllEntries | QDir::NoDotAndDotDot).size());
}

void append(const QString &path, const QByteArray &bytes)
{
    QFile file(path);
    if (!file.open(QIODevice::Append))
        qFatal("cannot append to %s", qPrintable(path));
    file.write(bytes);
}

} // namespace

class FolderMonitorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void seesChangesOfTheEntries()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("watched"));
        const QString outside = lg::test::freshFolder(QStringLiteral("outside"));
        lg::test::writeFile(folder + QStringLiteral("/existing.jpg"));
        lg::test::writeFile(outside + QStringLiteral("/incoming.png"));

        int calls = 0;
        lg::test::CaptureStdout capture;
        FolderMonitor monitor(QUrl::fromLocalFile(folder), [&calls] { ++calls; });
        QCOMPARE(capture.finish(), QByteArray());  // the owner prints what it watches
        QVERIFY(monitor.isValid());
        QCOMPARE(monitor.state(), FolderMonitor::State::on);

        const std::vector<std::pair<const char *, std::function<bool()>>> changes = {
            {"create", [&] { lg::test::writeFile(folder + QStringLiteral("/new.jpg")); return true; }},
            {"write", [&] { append(folder + QStringLiteral("/existing.jpg"), "more"); return true; }},
            {"rename", [&] { return QFile::rename(folder + QStringLiteral("/new.jpg"), folder + QStringLiteral("/renamed.jpg")); }},
            {"move in", [&] { return QFile::rename(outside + QStringLiteral("/incoming.png"), folder + QStringLiteral("/incoming.png")); }},
            {"move out", [&] { return QFile::rename(folder + QStringLiteral("/incoming.png"), outside + QStringLiteral("/incoming.png")); }},
            {"delete", [&] { return QFile::remove(folder + QStringLiteral("/renamed.jpg")); }},
            {"new folder", [&] { return QDir(folder).mkdir(QStringLiteral("sub")); }},
            {"remove folder", [&] { return QDir(folder).rmdir(QStringLiteral("sub")); }},
        };
        for (const auto &[name, change] : changes) {
            calls = 0;
            QVERIFY2(change(), name);
            settle();
            QVERIFY2(calls >= 1, name);
        }
    }

    void ignoresReadingAndSubFolders()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("quiet"));
        const QString photo = lg::test::writeFile(folder + QStringLiteral("/photo.jpg"), "not really");
        const QString inner = lg::test::writeFile(folder + QStringLiteral("/sub/inner.jpg"));

        int calls = 0;
        FolderMonitor monitor(QUrl::fromLocalFile(folder), [&calls] { ++calls; });

        // What a reload does to the folder must not trigger another reload.
        QFile file(photo);
        QVERIFY(file.open(QIODevice::ReadOnly));
        file.readAll();
        file.close();
        QVERIFY(directoryContents(folder).has_value());
        QVERIFY(Metadata::init(QUrl::fromLocalFile(photo)).file.has_value());
        thumbnailForImageURL(QUrl::fromLocalFile(photo), 150);
        // Only the folder's own entries are watched.
        append(inner, "changed");
        lg::test::writeFile(folder + QStringLiteral("/sub/added.jpg"));
        QVERIFY(QFile::remove(inner));
        settle();
        QCOMPARE(calls, 0);
    }

    void burstComesTogether()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("burst"));
        int calls = 0;
        FolderMonitor monitor(QUrl::fromLocalFile(folder), [&calls] { ++calls; });

        for (int i = 0; i < 200; ++i)
            lg::test::writeFile(folder + QStringLiteral("/img_%1.jpg").arg(i), QByteArray(100, 'p'));
        settle();
        // Everything that waited is taken at once.
        QCOMPARE(calls, 1);

        calls = 0;
        for (int i = 0; i < 200; ++i)
            QFile::remove(folder + QStringLiteral("/img_%1.jpg").arg(i));
        settle();
        QCOMPARE(calls, 1);
    }

    void twoMonitorsOnOneFolder()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("twice"));
        int first = 0, second = 0;
        FolderMonitor a(QUrl::fromLocalFile(folder), [&first] { ++first; });
        FolderMonitor b(QUrl::fromLocalFile(folder), [&second] { ++second; });
        QCOMPARE(watchesOn(folder), 2);
        lg::test::writeFile(folder + QStringLiteral("/x.png"));
        settle();
        QCOMPARE(first, 1);
        QCOMPARE(second, 1);
    }

    void stopStartAndRelease()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("lifecycle"));
        const int descriptorsBefore = openDescriptors();
        int calls = 0;
        auto monitor = std::make_unique<FolderMonitor>(QUrl::fromLocalFile(folder), [&calls] { ++calls; });
        QCOMPARE(watchesOn(folder), 1);

        monitor->stop();
        QCOMPARE(monitor->state(), FolderMonitor::State::off);
        QCOMPARE(watchesOn(folder), 0);
        QCOMPARE(openDescriptors(), descriptorsBefore);
        lg::test::writeFile(folder + QStringLiteral("/while-stopped.jpg"));
        settle();
        QCOMPARE(calls, 0);
        monitor->stop();  // nothing
        QCOMPARE(monitor->state(), FolderMonitor::State::off);

        monitor->start();
        monitor->start();  // nothing: still one watch
        QCOMPARE(monitor->state(), FolderMonitor::State::on);
        QCOMPARE(watchesOn(folder), 1);
        lg::test::writeFile(folder + QStringLiteral("/after-start.jpg"));
        settle();
        QCOMPARE(calls, 1);

        // A change that is pending when the monitor goes is not delivered.
        lg::test::writeFile(folder + QStringLiteral("/pending.jpg"));
        monitor.reset();
        QCOMPARE(watchesOn(folder), 0);
        settle();
        QCOMPARE(calls, 1);
        lg::test::writeFile(folder + QStringLiteral("/after-release.jpg"));
        settle();
        QCOMPARE(calls, 1);
        QCOMPARE(openDescriptors(), descriptorsBefore);

        // Released while stopped.
        auto stopped = std::make_unique<FolderMonitor>(QUrl::fromLocalFile(folder), [&calls] { ++calls; });
        stopped->stop();
        stopped.reset();
        QCOMPARE(openDescriptors(), descriptorsBefore);
    }

    void handlerMayReleaseTheMonitor()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("selfrelease"));
        int calls = 0;
        std::unique_ptr<FolderMonitor> monitor;
        monitor = std::make_unique<FolderMonitor>(QUrl::fromLocalFile(folder), [&] {
            ++calls;
            monitor.reset();
        });
        lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        settle();
        QCOMPARE(calls, 1);
        QVERIFY(!monitor);
        lg::test::writeFile(folder + QStringLiteral("/b.jpg"));
        settle();
        QCOMPARE(calls, 1);
        QCOMPARE(watchesOn(folder), 0);
    }

    void folderThatCannotBeWatched()
    {
        const QString base = lg::test::freshFolder(QStringLiteral("unwatchable"));
        const QString file = lg::test::writeFile(base + QStringLiteral("/plain.jpg"));
        const int descriptorsBefore = openDescriptors();
        int calls = 0;

        for (const QUrl &url : {QUrl::fromLocalFile(base + QStringLiteral("/vanished")), QUrl::fromLocalFile(file),
                                QUrl(QStringLiteral("https://example.com/folder")), QUrl()}) {
            lg::test::CaptureStdout capture;
            auto monitor = std::make_unique<FolderMonitor>(url, [&calls] { ++calls; });
            const bool valid = monitor->isValid();
            monitor->stop();
            monitor->start();  // tries again, and says so again
            const QByteArray printed = capture.finish();
            QVERIFY(!valid);
            QVERIFY(!monitor->isValid());
            QCOMPARE(lineCount(printed), 2);
            QVERIFY2(printed.startsWith("Cannot monitor folder"), printed.constData());
            QCOMPARE(openDescriptors(), descriptorsBefore);
            monitor.reset();
        }
        QCOMPARE(watchesOn(file), 0);
        QCOMPARE(calls, 0);
    }

    void watchedFolderRemoved()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("doomed"));
        lg::test::writeFile(folder + QStringLiteral("/a.jpg"));
        const int descriptorsBefore = openDescriptors();
        int calls = 0;
        auto monitor = std::make_unique<FolderMonitor>(QUrl::fromLocalFile(folder), [&calls] { ++calls; });
        QVERIFY(QDir(folder).removeRecursively());
        settle();
        QVERIFY(calls >= 1);  // its file went
        QVERIFY(!monitor->isValid());
        monitor.reset();
        settle();
        QCOMPARE(openDescriptors(), descriptorsBefore);
    }

    // The watched folder itself renamed, or removed while empty: what its path lists changed.
    void theWatchedFolderRenamedOrRemovedIsReported_data()
    {
        QTest::addColumn<bool>("renamed");
        QTest::newRow("renamed") << true;
        QTest::newRow("removed while empty") << false;
    }
    void theWatchedFolderRenamedOrRemovedIsReported()
    {
        QFETCH(bool, renamed);
        const QString folder = lg::test::freshFolder(QStringLiteral("Trip"));
        int calls = 0;
        int left = 0;
        auto monitor = std::make_unique<FolderMonitor>(QUrl::fromLocalFile(folder), [&calls] { ++calls; });
        monitor->setFolderLeftHandler([&left, &calls] {
            QCOMPARE(calls, 1);   // after the change itself
            ++left;
        });
        QVERIFY(monitor->isValid());
        // A change inside is not the folder leaving.
        lg::test::writeFile(folder + QStringLiteral("/IMG_0001.jpg"));
        settle();
        QCOMPARE(calls, 1);
        QCOMPARE(left, 0);
        calls = 0;
        if (renamed) {
            QVERIFY(QDir().rename(folder, folder + QStringLiteral("2023")));
        } else {
            QVERIFY(QFile::remove(folder + QStringLiteral("/IMG_0001.jpg")));
            settle();
            calls = 0;
            QVERIFY(QDir().rmdir(folder));
        }
        settle();
        QCOMPARE(calls, 1);
        QCOMPARE(left, 1);
        monitor.reset();
    }

private:
    static int lineCount(const QByteArray &text) { return int(text.count('\n')); }

private Q_SLOTS:
    void monitorReportsWritesThatChangeSomething()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("watched"));
        const QString photo = lg::test::writeFile(folder + QStringLiteral("/photo.jpg"), "pixels");
        int calls = 0;
        FolderMonitor monitor(QUrl::fromLocalFile(folder), [&calls] { ++calls; });

        QFile unchanged(photo);
        QVERIFY(unchanged.open(QIODevice::ReadWrite));
        unchanged.close();
        lg::test::settle();
        QCOMPARE(calls, 0);

        // A new file: seen when it appears, and again once its writing ends.
        QFile created(folder + QStringLiteral("/new.jpg"));
        QVERIFY(created.open(QIODevice::WriteOnly));
        lg::test::settle();
        QCOMPARE(calls, 1);
        created.write("data");
        created.flush();
        lg::test::settle();
        QCOMPARE(calls, 1);
        created.close();
        lg::test::settle();
        QCOMPARE(calls, 2);
    }
};

LG_TEST(FolderMonitorTest)
#include "test_foldermonitor.moc"
