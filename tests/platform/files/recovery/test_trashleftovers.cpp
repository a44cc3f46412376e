// What a killed Move to Trash leaves: its .trashinfo goes only while it is
// exactly the one made and names nothing, and gives its name back.
#include "tests/platform/files/recovery/LeftoversTesting.h"

class TrashLeftoversTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The .trashinfo of a Move to Trash by copy killed half-way goes with the
    // unfinished copy only while it is exactly as it was made and no item
    // stands under its name in the Trash.
    void aTrashInfoGoesOnlyWhenItIsExactlyTheOneMade_data()
    {
        QTest::addColumn<QString>("meanwhile");
        QTest::newRow("rewritten") << "rewritten";
        QTest::newRow("an item under its name") << "item";
    }
    void aTrashInfoGoesOnlyWhenItIsExactlyTheOneMade()
    {
        QFETCH(QString, meanwhile);
        const QString root = lg::test::freshFolder(QStringLiteral("trash info"));
        lg::test::writeFile(root + "/U/clip.mov", QByteArray(10000, 't'));
        const QString trash = QDir::cleanPath(lg::trashFolderFor(root + "/U"));
        {
            StoppedOperation trashing({QStringLiteral("trash"), root + "/U"});
            QVERIFY(trashing.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(trash + "/files"), 10000);
        const QString info = trash + "/info/U.trashinfo";
        QByteArray text = lg::test::readAll(info);
        if (meanwhile == "rewritten") {
            text.replace("DeletionDate=", "DeletionDate=1");
            QFile file(info);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(text);
        } else {
            lg::test::writeFile(trash + "/files/U/other.jpg", "another item");
        }
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(trash + "/files"), QStringList{});
        QCOMPARE(lg::test::readAll(info), text);
        QCOMPARE(lg::test::readAll(root + "/U/clip.mov").size(), 10000);
        if (meanwhile == "item")
            QCOMPARE(lg::test::readAll(trash + "/files/U/other.jpg"), QByteArray("another item"));
    }

    // The .trashinfo of a Move to Trash killed before its copy began names
    // nothing; the next item of that name takes the name, not a numbered one.
    // Information made by this run, or written otherwise, stays.
    void anOrphanTrashInfoOfAKilledRunGivesItsNameBack_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("expected");   // the name the next item gets
        QTest::newRow("left by a killed run") << "Killed" << "Killed";
        QTest::newRow("made by this run") << "New" << "New 2";
        QTest::newRow("written otherwise") << "Edited" << "Edited 2";
    }
    void anOrphanTrashInfoOfAKilledRunGivesItsNameBack()
    {
        QFETCH(QString, name);
        QFETCH(QString, expected);
        const QString root = lg::test::freshFolder(QStringLiteral("orphan ") + name);
        lg::test::writeFile(root + "/first/" + name + "/clip.mov", QByteArray(1000, 't'));
        lg::test::writeFile(root + "/second/" + name + "/clip.mov", QByteArray(1000, 's'));
        const QString trash = QDir::cleanPath(lg::trashFolderFor(root + "/first/" + name));
        {
            StoppedOperation trashing({QStringLiteral("trashinfo"), root + "/first/" + name});
            QVERIFY(trashing.stopped());
        }
        const QString info = trash + "/info/" + name + ".trashinfo";
        QVERIFY(QFileInfo::exists(info));
        QVERIFY(!QFileInfo::exists(trash + "/files/" + name));
        if (name == QLatin1String("Edited"))
            lg::test::writeFile(info, lg::test::readAll(info) + "Note=mine\n");
        if (name != QLatin1String("New")) {
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, raw(info).constData(), anHourAgo, 0), 0);
        }
        const lg::FileOpResult r = lg::moveToTrash(root + "/second/" + name);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(QFileInfo(r.target).fileName(), expected);
        QCOMPARE(lg::test::readAll(trash + "/files/" + expected + "/clip.mov"), QByteArray(1000, 's'));
        QVERIFY(lg::test::readAll(trash + "/info/" + expected + ".trashinfo").contains("/second/"));
        QCOMPARE(lg::test::readAll(root + "/first/" + name + "/clip.mov"), QByteArray(1000, 't'));
    }

    // A .trashinfo left by a kill before its item came in (a rename into the
    // home Trash or a disk's, or a Trash by copy before its lock), or left
    // empty by a kill before it was written, goes at the next start, once its
    // maker is gone; the journal then names the Trash no more. One still held
    // by its maker (while a killed one beside it goes), or not as the program
    // wrote it, stays.
    void anOrphanTrashInfoLeftByAKillGoesAtTheNextStart_data()
    {
        QTest::addColumn<QString>("how");      // the helper's mode
        QTest::addColumn<bool>("disk");        // the item lies on a disk with a Trash of its own
        QTest::addColumn<QString>("after");    // "killed", "running" or "edited"
        QTest::addColumn<bool>("gone");
        QTest::newRow("home Trash") << "trashrename" << false << "killed" << true;
        QTest::newRow("a disk's Trash") << "trashrename" << true << "killed" << true;
        QTest::newRow("Trash by copy, before its lock") << "trashinfo" << false << "killed" << true;
        QTest::newRow("home Trash, killed before it was written") << "emptyinfo" << false << "killed" << true;
        QTest::newRow("a disk's Trash, killed before it was written") << "emptyinfo" << true << "killed" << true;
        QTest::newRow("Trash by copy, killed before it was written") << "emptyinfocopy" << false << "killed" << true;
        QTest::newRow("its maker still running") << "trashrename" << false << "running" << false;
        QTest::newRow("empty, its maker still running") << "emptyinfo" << false << "running" << false;
        QTest::newRow("edited since") << "trashrename" << true << "edited" << false;
    }
    void anOrphanTrashInfoLeftByAKillGoesAtTheNextStart()
    {
        QFETCH(QString, how);
        QFETCH(bool, disk);
        QFETCH(QString, after);
        QFETCH(bool, gone);
        const QString root = lg::test::freshFolder(QStringLiteral("orphan info ") + QTest::currentDataTag());
        const QString name = QStringLiteral("Orphan ") + QString::fromLatin1(QTest::currentDataTag());
        const QString top = root + "/disk";
        const QString source = QFileInfo(lg::test::writeFile(top + "/src/" + name + "/clip.mov", "clip")).absolutePath();
        lg::setDiskTopForTesting(disk ? top : QString());
        const auto noDisk = qScopeGuard([] { lg::setDiskTopForTesting({}); });
        const QString trash = QDir::cleanPath(lg::trashFolderFor(source));
        QCOMPARE(trash.startsWith(top), disk);
        const QString info = trash + "/info/" + name + ".trashinfo";
        // What the killed helpers of the tests before this one left is settled
        // first: what stays then is this process's own.
        lg::cleanFoldersLeftByKilledRuns();
        const qsizetype notes = journalFolders().count(trash + "/files");   // this process's own
        const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        StoppedOperation trashing(disk ? QStringList{how, source, top} : QStringList{how, source});
        QVERIFY(trashing.stopped());
        QVERIFY(QFileInfo::exists(info));
        if (how.startsWith(QLatin1String("emptyinfo")))
            QCOMPARE(QFileInfo(info).size(), qint64(0));
        QVERIFY(!QFileInfo::exists(trash + "/files/" + name));
        if (after == QLatin1String("edited"))
            lg::test::writeFile(info, lg::test::readAll(info) + "Note=mine\n");
        QCOMPARE(::utimensat(AT_FDCWD, raw(info).constData(), anHourAgo, 0), 0);
        std::optional<StoppedOperation> killed;   // beside one still running, whose Trash is looked at then
        if (after == QLatin1String("running")) {
            const QString other = QFileInfo(lg::test::writeFile(top + "/src/" + name + " killed/a.mov", "a")).absolutePath();
            killed.emplace(QStringList{how, other});
            QVERIFY(killed->stopped());
            killed->kill();
            const QString otherInfo = trash + "/info/" + name + " killed.trashinfo";
            QCOMPARE(::utimensat(AT_FDCWD, raw(otherInfo).constData(), anHourAgo, 0), 0);
            lg::cleanFoldersLeftByKilledRuns();
            QVERIFY(!QFileInfo::exists(otherInfo));
        } else {
            trashing.kill();
        }
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(QFileInfo::exists(info), !gone);
        QCOMPARE(lg::test::readAll(source + "/clip.mov"), QByteArray("clip"));
        if (gone)
            QCOMPARE(journalFolders().count(trash + "/files"), notes);
    }
};

LG_TEST(TrashLeftoversTest)
#include "test_trashleftovers.moc"
