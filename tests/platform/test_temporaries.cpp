// What a copy, a Replace or an image write leaves when its process is killed
// half-way, or while it still runs in another process: the one cleanup touches
// only what a lock proves is ours and no longer in work, removes unfinished
// copies and writes, and brings set-aside items back whole.
#include "platform/FileOperations.h"
#include "platform/ImageWriter.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>

#include <cerrno>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

QStringList hiddenEntries(const QString &folder)
{
    QStringList hidden;
    for (const QString &name : entries(folder))
        if (name.startsWith(QLatin1Char('.')))
            hidden << name;
    return hidden;
}

struct FaultGuard
{
    explicit FaultGuard(lg::FileFaultHook hook) { lg::setFileFaultForTesting(std::move(hook)); }
    ~FaultGuard() { lg::setFileFaultForTesting({}); }
};

// The helper process, stopped inside an operation; killed when it goes.
class StoppedOperation
{
public:
    StoppedOperation(const QStringList &arguments, bool ownPidNamespace = false)
    {
        QString program = QStringLiteral(LG_FILEOPS_HELPER);
        QStringList args = arguments;
        const QString unshare = QStandardPaths::findExecutable(QStringLiteral("unshare"));
        if (ownPidNamespace && !unshare.isEmpty()
            && QProcess::execute(unshare, {QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("true")}) == 0) {
            args.prepend(program);
            args = QStringList{QStringLiteral("--pid"), QStringLiteral("--fork"), QStringLiteral("--kill-child")} + args;
            program = unshare;
        }
        m_process.start(program, args);
        m_stopped = m_process.waitForReadyRead(20000) && m_process.readAll().startsWith("stopped");
    }
    ~StoppedOperation() { kill(); }
    bool stopped() const { return m_stopped; }
    void kill()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(10000);
        }
    }

private:
    QProcess m_process;
    bool m_stopped = false;
};

// True once no lock file in folder is held any more (a killed process's locks go
// with its last file descriptor).
bool locksAreFree(const QString &folder)
{
    for (const QString &name : entries(folder)) {
        if (!name.startsWith(QLatin1String(".lglock-")))
            continue;
        const int fd = ::open(QFile::encodeName(folder + "/" + name).constData(), O_RDONLY | O_CLOEXEC);
        const bool free = fd >= 0 && ::flock(fd, LOCK_EX | LOCK_NB) == 0;
        if (fd >= 0)
            ::close(fd);
        if (!free)
            return false;
    }
    return true;
}

// Makes a temporary in folder, which first cleans it up.
void writeInto(const QString &folder, const QString &name)
{
    const QString source = lg::test::freshFolder(QStringLiteral("trigger ") + name) + QLatin1Char('/') + name;
    lg::test::writeFile(source + QStringLiteral("/t.txt"), "t");
    const lg::FileOpResult r = lg::copyItem(source, folder);   // a folder goes by a named temporary
    QVERIFY2(r.ok(), qPrintable(r.message));
}

} // namespace

class TemporariesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void aCopyInWorkElsewhereIsLeftAndADeadOneRemoved_data()
    {
        QTest::addColumn<bool>("ownPidNamespace");
        QTest::newRow("another process") << false;
        QTest::newRow("another process in its own pid namespace") << true;
    }
    void aCopyInWorkElsewhereIsLeftAndADeadOneRemoved()
    {
        QFETCH(bool, ownPidNamespace);
        const QString root = lg::test::freshFolder(QStringLiteral("live copy"));
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        QDir().mkpath(root + "/dst");
        StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", root + "/dst"}, ownPidNamespace);
        QVERIFY(copying.stopped());
        const QStringList inWork = hiddenEntries(root + "/dst");
        QCOMPARE(inWork.size(), 2);   // the unfinished copy and its lock
        writeInto(root + "/dst", QStringLiteral("G"));
        QCOMPARE(hiddenEntries(root + "/dst"), inWork);
        copying.kill();
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(root + "/dst"), 10000);
        writeInto(root + "/dst", QStringLiteral("H"));
        QCOMPARE(entries(root + "/dst"), (QStringList{"G", "H"}));
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
    }

    void aSetAsideItemComesBackWholeAndIsNeverDeleted_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<bool>("nameTaken");     // the user made a new one meanwhile
        QTest::addColumn<bool>("cannotPutBack"); // e.g. a folder the user may only read
        QTest::addColumn<QString>("expected");   // where the old item is afterwards; empty: where it was set aside
        const QString holiday = QStringLiteral("Holiday photos 2023 - Summer in Tuscany and Umbria (edited)");
        const QString longest = QStringLiteral("Sommer ") + QString(121, QChar(0xE9));   // 249 bytes
        QTest::newRow("name free") << "Album" << false << false << "Album";
        QTest::newRow("name taken") << "Album" << true << false << "Album 2";
        QTest::newRow("cannot be put back") << "Album" << false << true << "";
        QTest::newRow("cannot be put back, name taken") << "Album" << true << true << "";
        QTest::newRow("long name") << holiday << false << false << holiday;
        QTest::newRow("249 bytes") << longest << false << false << longest;
        QTest::newRow("249 bytes, name taken") << longest << true << false << longest + " 2";
    }
    void aSetAsideItemComesBackWholeAndIsNeverDeleted()
    {
        QFETCH(QString, name);
        QFETCH(bool, nameTaken);
        QFETCH(bool, cannotPutBack);
        QFETCH(QString, expected);
        const QString root = lg::test::freshFolder(QStringLiteral("set aside"));
        const QString dst = root + "/dst";
        lg::test::writeFile(root + "/src/" + name + "/new.jpg", "new");
        lg::test::writeFile(dst + "/" + name + "/old.jpg", "the only copy");
        {
            StoppedOperation replacing({QStringLiteral("replace"), root + "/src/" + name, dst});
            QVERIFY(replacing.stopped());
            QVERIFY(!QFileInfo::exists(dst + "/" + name));
            const QStringList aside = hiddenEntries(dst);
            QCOMPARE(aside.size(), 4);   // the new copy, the old item set aside, and their locks
            for (const QString &entry : aside)
                QVERIFY(QFile::encodeName(entry).size() <= 255);
            writeInto(dst, QStringLiteral("G"));   // in work: left alone
            QCOMPARE(hiddenEntries(dst), aside);
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        if (nameTaken)
            lg::test::writeFile(dst + "/" + name + "/mine.jpg", "made meanwhile");
        {
            FaultGuard fault([cannotPutBack](lg::FileStep step, const QString &path) {
                return cannotPutBack && step == lg::FileStep::Rename && path.contains(QLatin1String(".lgold-")) ? EACCES
                                                                                                                : 0;
            });
            writeInto(dst, QStringLiteral("H"));
        }
        if (nameTaken)
            QCOMPARE(lg::test::readAll(dst + "/" + name + "/mine.jpg"), QByteArray("made meanwhile"));
        if (expected.isEmpty()) {
            const QStringList aside = hiddenEntries(dst);
            QCOMPARE(aside.size(), 2);
            bool found = false;
            for (const QString &entry : aside)
                found = found || lg::test::readAll(dst + "/" + entry + "/old.jpg") == "the only copy";
            QVERIFY(found);
            return;
        }
        QCOMPARE(lg::test::readAll(dst + "/" + expected + "/old.jpg"), QByteArray("the only copy"));
        QCOMPARE(hiddenEntries(dst), QStringList{});
    }

    void aKilledImageWriteLeavesNothingForGood_data()
    {
        QTest::addColumn<QString>("name");
        QTest::newRow("photo") << "p.jpg";
        QTest::newRow("251 bytes") << QString(247, QLatin1Char('r')) + ".jpg";
    }
    void aKilledImageWriteLeavesNothingForGood()
    {
        QFETCH(QString, name);
        const QString folder = lg::test::freshFolder(QStringLiteral("killed write"));
        const QString photo = lg::test::writeFile(folder + "/" + name, "old");
        StoppedOperation rotating({QStringLiteral("write"), photo});
        QVERIFY(rotating.stopped());
        const QStringList inWork = hiddenEntries(folder);
        QCOMPARE(inWork.size(), 2);
        for (const QString &entry : inWork)
            QVERIFY(QFile::encodeName(entry).size() <= 255);
        writeInto(folder, QStringLiteral("G"));
        QCOMPARE(hiddenEntries(folder), inWork);
        rotating.kill();
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(folder), 10000);
        writeInto(folder, QStringLiteral("H"));
        QCOMPARE(entries(folder), (QStringList{"G", "H", name}));
        QCOMPARE(lg::test::readAll(photo), QByteArray("old"));
    }

    void namesNearTheLimitAreRewrittenInPlace()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("long rotate"));
        const QString name = QString(247, QLatin1Char('r')) + ".jpg";
        const QString photo = lg::test::writeFile(folder + "/" + name, "old");
        QString error;
        QVERIFY2(lg::ImageWriter::replaceFileContents(photo, "rotated", &error), qPrintable(error));
        QCOMPARE(lg::test::readAll(photo), QByteArray("rotated"));
        QCOMPARE(entries(folder), QStringList{name});
    }
};

LG_TEST(TemporariesTest)
#include "test_temporaries.moc"
