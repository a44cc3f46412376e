// Limits against misbehaving neighbours: the folder monitor and a file opened
// without a change, launch at login next to another copy's entry, and the
// single-instance socket under many connections and large messages.
#include "app/FileHandover.h"
#include "app/LaunchAtLogin.h"
#include "model/FolderMonitor.h"
#include "platform/desktop/Paths.h"
#include "platform/runtime/Timer.h"
#include "tests/model/CaptureStdout.h"
#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QFile>
#include <QLocalSocket>
#include <QSignalSpy>
#include <QtTest>

#include <algorithm>
#include <memory>
#include <vector>

using lg::test::settle;

class HardeningTest : public QObject
{
    Q_OBJECT
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
        settle();
        QCOMPARE(calls, 0);

        // A new file: seen when it appears, and again once its writing ends.
        QFile created(folder + QStringLiteral("/new.jpg"));
        QVERIFY(created.open(QIODevice::WriteOnly));
        settle();
        QCOMPARE(calls, 1);
        created.write("data");
        created.flush();
        settle();
        QCOMPARE(calls, 1);
        created.close();
        settle();
        QCOMPARE(calls, 2);
    }

    void launchAtLoginLeavesAnotherCopysEntryAlone()
    {
        const QByteArray foreignText = "[Desktop Entry]\nType=Application\nExec=\"/opt/elsewhere/lumengallery\"\n";
        const QString foreign = lg::test::writeFile(lg::Paths::autostart() + QStringLiteral("/lumengallery.desktop"), foreignText);
        const QUrl app = QUrl::fromLocalFile(QCoreApplication::applicationFilePath());
        QVERIFY(LaunchOnStartup::entryFileName(QStringLiteral("/opt/elsewhere/lumengallery")) != LaunchOnStartup::entryFileName());

        setLaunchAtLogin(true, app);
        QCOMPARE(lg::test::readAll(foreign), foreignText);
        const std::optional<QString> ours = loginItemReferences(app).existingItem;
        QVERIFY(ours && *ours != foreign);
        QCOMPARE(LaunchOnStartup::programOfEntry(*ours), std::optional<QString>(QCoreApplication::applicationFilePath()));

        setLaunchAtLogin(false, app);
        QVERIFY(!QFile::exists(*ours));
        QCOMPARE(lg::test::readAll(foreign), foreignText);

        // An entry of ours from an earlier version, under the plain name, is still found.
        QVERIFY(QFile::remove(foreign));
        lg::test::writeFile(foreign, "[Desktop Entry]\nType=Application\nExec=" + QFile::encodeName(LaunchOnStartup::execValue(app.toLocalFile())) + "\n");
        QCOMPARE(loginItemReferences(app).existingItem, std::optional<QString>(foreign));
        setLaunchAtLogin(false, app);
        QVERIFY(!QFile::exists(foreign));
    }

    void instanceSocketLimitsConnectionsAndBytes()
    {
        lg::FakeClock clock;
        const QString path = lg::test::freshFolder(QStringLiteral("run")) + QStringLiteral("/lumengallery-limits");
        InstanceChannel channel;
        QVERIFY(channel.listen(path));
        lg::test::CaptureStdout capture;  // the lines about turned-away starts

        std::vector<std::unique_ptr<QLocalSocket>> idle;
        for (int i = 0; i < InstanceChannel::maxConnections + 4; ++i) {
            idle.push_back(std::make_unique<QLocalSocket>());
            idle.back()->connectToServer(path);
        }
        QTRY_COMPARE(channel.connectionCount(), InstanceChannel::maxConnections);
        // The rest are turned away.
        QTRY_VERIFY(std::count_if(idle.begin(), idle.end(), [](const auto &socket) {
                        return socket->state() == QLocalSocket::UnconnectedState;
                    }) == 4);
        QCOMPARE(channel.connectionCount(), InstanceChannel::maxConnections);
        // Those that say nothing are dropped in time.
        clock.advance(InstanceChannel::connectionTimeoutMs);
        settle();
        QCOMPARE(channel.connectionCount(), 0);
        idle.clear();

        // Three large messages at once: the third would pass the limit of bytes held.
        std::vector<std::unique_ptr<QLocalSocket>> large;
        for (int i = 0; i < 3; ++i) {
            large.push_back(std::make_unique<QLocalSocket>());
            large.back()->connectToServer(path);
            large.back()->write(QByteArray(3 * 1024 * 1024 + 512 * 1024, 'x'));
        }
        QTRY_VERIFY(std::all_of(large.begin(), large.end(), [](const auto &socket) {
            return socket->bytesToWrite() == 0 || socket->state() == QLocalSocket::UnconnectedState;
        }));
        settle();
        QCOMPARE(channel.connectionCount(), 2);
        QVERIFY(channel.bytesInFlight() <= InstanceChannel::maxBytesInFlight);
        large.clear();
        settle();
        QCOMPARE(channel.bytesInFlight(), 0);
        QCOMPARE(channel.connectionCount(), 0);
        capture.finish();

        // A well-behaved start still gets through.
        QSignalSpy activation(&channel, &InstanceChannel::activationRequested);
        QVERIFY(InstanceChannel::forwardToRunningInstance({}, path));
        QTRY_COMPARE(activation.count(), 1);
    }
};

LG_TEST(HardeningTest)
#include "test_hardening.moc"
