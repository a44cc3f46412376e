// What a copy, a Replace or an image write leaves when its process is killed
// half-way, or while it still runs in another process: the one cleanup touches
// only what a lock proves is ours and no longer in work, removes unfinished
// copies and writes, and brings set-aside items back whole. Lock records planted
// by anyone else (an archive, a sync client, another user of a shared folder)
// are left alone with all they name.
#include "tests/platform/files/recovery/LeftoversTesting.h"

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
        const QString controls = QStringLiteral("Tab\there\nnew line\x01");
        QTest::newRow("control bytes") << controls << false << false << controls;
        QTest::newRow("control bytes, name taken") << controls << true << false << controls + " 2";
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

    // A folder Replace killed right after the exchange: the temporary holds
    // the replaced folder by then, which goes, since the new one stands in
    // its place; put back instead where something else came to that name.
    void aFolderReplacedJustBeforeAKillGoesOnceTheNewOneIsInPlace_data()
    {
        QTest::addColumn<QString>("road");
        QTest::addColumn<bool>("targetChanged");
        QTest::newRow("move on one disk") << "move" << false;
        QTest::newRow("copy") << "copy" << false;
        QTest::newRow("move, the new one moved away meanwhile") << "move" << true;
        QTest::newRow("copy, the new one moved away meanwhile") << "copy" << true;
    }
    void aFolderReplacedJustBeforeAKillGoesOnceTheNewOneIsInPlace()
    {
        QFETCH(QString, road);
        QFETCH(bool, targetChanged);
        const QString root = lg::test::freshFolder(QStringLiteral("exchanged"));
        const QString dst = root + "/dst";
        lg::test::writeFile(root + "/src/F/new.jpg", "new");
        lg::test::writeFile(dst + "/F/old.jpg", "old");
        {
            StoppedOperation replacing({QStringLiteral("exchange"), road, root + "/src/F", dst});
            QVERIFY(replacing.stopped());
            QCOMPARE(lg::test::readAll(dst + "/F/new.jpg"), QByteArray("new"));
            QCOMPARE(hiddenEntries(dst).size(), 2);   // the replaced folder and its lock
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        if (targetChanged)
            QVERIFY(QDir().rename(dst + "/F", root + "/elsewhere"));
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(dst), QStringList{});
        if (targetChanged) {
            QCOMPARE(lg::test::readAll(dst + "/F/old.jpg"), QByteArray("old"));   // never deleted
            QCOMPARE(lg::test::readAll(root + "/elsewhere/new.jpg"), QByteArray("new"));
        } else {
            QCOMPARE(entries(dst), QStringList{"F"});
            QCOMPARE(entries(dst + "/F"), QStringList{"new.jpg"});
        }
    }

    // A folder moved with Replace and killed once it was brought beside its
    // target loses nothing, and the target's own folder goes back under its
    // name. A record acts on nothing outside its own folder: a folder brought beside
    // its target from another folder stays, whole, in the target's folder
    // under the next free name, and the target keeps its own.
    void aMovedFolderKilledBesideItsTargetStaysWholeBesideIt()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("brought"));
        const QString dst = root + "/dst";
        lg::test::writeFile(root + "/src/AX/new.jpg", "moved");
        lg::test::writeFile(dst + "/AX/old.jpg", "the only copy");
        {
            StoppedOperation moving({QStringLiteral("bring"), root + "/src/AX", dst});
            QVERIFY(moving.stopped());
            QVERIFY(!QFileInfo::exists(root + "/src/AX"));
            QVERIFY(!QFileInfo::exists(dst + "/AX"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(entries(dst), (QStringList{"AX", "AX 2"}));
        QCOMPARE(lg::test::readAll(dst + "/AX/old.jpg"), QByteArray("the only copy"));
        QCOMPARE(lg::test::readAll(dst + "/AX 2/new.jpg"), QByteArray("moved"));
        QCOMPARE(entries(root + "/src"), QStringList{});
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

    // A lock record is the program's own only when it is byte for byte what
    // the program writes; anything else, and whatever it names, is left alone:
    // nothing is removed, renamed or entered. The first rows are records the
    // program writes, which are cleaned up.
    void aLockRecordCountsOnlyWhenItIsExactlyWhatTheProgramWrites_data()
    {
        QTest::addColumn<QByteArray>("lockToken");
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<QStringList>("planted");   // files, with their folders, holding "the user's"
        QTest::addColumn<bool>("cleaned");
        QTest::addColumn<QStringList>("after");     // when cleaned: what else is in the folder then
        QTest::addColumn<QStringList>("kept");      // when cleaned: files that still hold "the user's"
        const QByteArray t = token;
        const QByteArray album = record("copy", "Album", ".Album.lgcopy-" + t);
        const QString albumCopy = QStringLiteral(".Album.lgcopy-") + token + "/a.jpg";
        const auto ours = [&](const char *row, const QByteArray &text, const QStringList &planted,
                              const QStringList &after, const QStringList &kept) {
            QTest::newRow(row) << t << text << planted << true << after << kept;
        };
        const auto notOurs = [](const char *row, const QByteArray &lockToken, const QByteArray &text,
                                const QStringList &planted) {
            QTest::newRow(row) << lockToken << text << planted << false << QStringList() << QStringList();
        };
        ours("ours: an unfinished copy", album, {albumCopy}, {}, {});
        ours("ours: an unfinished write", record("write", "p.jpg", ".p.jpg.lgwrite-" + t),
             {".p.jpg.lgwrite-" + QString::fromLatin1(t), "p.jpg"}, {"p.jpg"}, {"p.jpg"});
        ours("ours: an item set aside", record("old", "Album", ".Album.lgold-" + t),
             {".Album.lgold-" + QString::fromLatin1(t) + "/a.jpg"}, {"Album"}, {"Album/a.jpg"});
        ours("ours: an encoded name", record("copy", "My%20caf%C3%A9.jpg", ".My%20caf%C3%A9.jpg.lgcopy-" + t),
             {QStringLiteral(".My café.jpg.lgcopy-") + token}, {}, {});
        ours("ours: a name holding control bytes", record("copy", "a%0Ab%09c", ".a%0Ab%09c.lgcopy-" + t),
             {".a\nb\tc.lgcopy-" + QString::fromLatin1(t)}, {}, {});

        notOurs("a NUL cuts the temporary to .picasa.ini", t, record("copy", "x", ".picasa.ini%00-" + t),
                {".picasa.ini"});
        notOurs("a NUL cuts the temporary to a hidden folder", t, record("copy", "x", ".thumbnails%00-" + t),
                {".thumbnails/normal/a.png"});
        notOurs("a NUL cuts the temporary to .", t, record("copy", "x", ".%00-" + t), {"photo.jpg", "sub/a.jpg"});
        notOurs("a NUL cuts the temporary to ..", t, record("copy", "x", "..%00-" + t), {"photo.jpg"});
        notOurs("kind old naming .private.jpg", t, record("old", "private.jpg", ".private.jpg%00-" + t),
                {".private.jpg"});
        notOurs("a plain hidden file named like a token", t, record("copy", "backup", ".backup-" + t),
                {".backup-" + QString::fromLatin1(t)});
        notOurs("the name .", t, record("copy", ".", "..lgcopy-" + t), {"..lgcopy-" + QString::fromLatin1(t) + "/a.jpg"});
        notOurs("the name ..", t, record("old", "..", "...lgold-" + t), {"...lgold-" + QString::fromLatin1(t) + "/a.jpg"});
        notOurs("an empty name", t, record("copy", "", "..lgcopy-" + t), {"..lgcopy-" + QString::fromLatin1(t) + "/a.jpg"});
        notOurs("a name holding a slash", t, record("old", "sub%2Fa.jpg", ".sub%2Fa.jpg.lgold-" + t), {"sub/a.jpg"});
        const QByteArray tooLong(300, 'x');
        const QString tooLongTemporary = "." + QString(230, QLatin1Char('x')) + ".lgcopy-" + QString::fromLatin1(t);
        notOurs("a name longer than a name can be", t, record("copy", tooLong, raw(tooLongTemporary)), {tooLongTemporary});
        notOurs("an upper-case token", "0123456789ABCDEF", record("copy", "p.jpg", ".p.jpg.lgcopy-0123456789ABCDEF"),
                {".p.jpg.lgcopy-0123456789ABCDEF"});
        notOurs("a token of another lock", t, record("copy", "p.jpg", ".p.jpg.lgcopy-fedcba9876543210"),
                {".p.jpg.lgcopy-fedcba9876543210"});
        notOurs("a short token", "0123456789abcde", record("copy", "p.jpg", ".p.jpg.lgcopy-0123456789abcde"),
                {".p.jpg.lgcopy-0123456789abcde"});
        notOurs("a temporary not made from the name", t, record("copy", "p.jpg", ".q.jpg.lgcopy-" + t),
                {".q.jpg.lgcopy-" + QString::fromLatin1(t)});
        notOurs("a temporary of another kind", t, record("copy", "Album", ".Album.lgold-" + t),
                {".Album.lgold-" + QString::fromLatin1(t) + "/only copy.jpg"});
        notOurs("a kind the program does not write", t, record("move", "p.jpg", ".p.jpg.lgmove-" + t),
                {".p.jpg.lgmove-" + QString::fromLatin1(t)});
        notOurs("lower-case escapes", t, record("copy", "caf%c3%a9.jpg", ".caf%c3%a9.jpg.lgcopy-" + t),
                {QStringLiteral(".café.jpg.lgcopy-") + token});
        notOurs("an escape where none is written", t, record("copy", "%70.jpg", ".%70.jpg.lgcopy-" + t),
                {".p.jpg.lgcopy-" + QString::fromLatin1(t)});
        notOurs("an extra field", t, album + "Owner=me\n", {albumCopy});
        notOurs("a blank line after the record", t, album + "\n", {albumCopy});
        notOurs("lines ending in CR LF", t, QByteArray(album).replace("\n", "\r\n"), {albumCopy});
        notOurs("a record without its last line end", t, album.chopped(1), {albumCopy});
        notOurs("a record cut in a field", t, album.left(50), {albumCopy});
        notOurs("another header", t, QByteArray(album).replace("temporary]", "temporary] "), {albumCopy});
        notOurs("an empty lock file", t, QByteArray(), {albumCopy});
    }
    void aLockRecordCountsOnlyWhenItIsExactlyWhatTheProgramWrites()
    {
        QFETCH(QByteArray, lockToken);
        QFETCH(QByteArray, text);
        QFETCH(QStringList, planted);
        QFETCH(bool, cleaned);
        QFETCH(QStringList, after);
        QFETCH(QStringList, kept);
        const QString folder = lg::test::freshFolder(QStringLiteral("records"));
        for (const QString &path : planted)
            lg::test::writeFile(folder + "/" + path, "the user's");
        const QString lock = lg::test::writeFile(folder + "/.lglock-" + QString::fromLatin1(lockToken), text);
        const QStringList before = entries(folder);
        QStringList acted;
        {
            FaultGuard fault([&acted](lg::FileStep step, const QString &path) {
                if (step == lg::FileStep::Remove || step == lg::FileStep::EnterFolder || step == lg::FileStep::Rename)
                    acted << path;
                return 0;
            });
            writeInto(folder, QStringLiteral("N"));
        }
        QStringList expected = cleaned ? after : before;
        expected << "N";
        expected.sort();
        QCOMPARE(entries(folder), expected);
        for (const QString &path : cleaned ? kept : planted)
            QCOMPARE(lg::test::readAll(folder + "/" + path), QByteArray("the user's"));
        if (!cleaned) {
            QCOMPARE(acted, QStringList{});
            QCOMPARE(lg::test::readAll(lock), text);
        }
    }

    // In a folder every user may write to (sticky, like /tmp), another user
    // plants a record that is exactly what the program writes, and a
    // "temporary" holding a link to the user's pictures: the cleanup touches
    // neither another user's lock nor another user's temporary.
    void anotherUsersRecordsInASharedFolderAreLeftAlone_data()
    {
        QTest::addColumn<bool>("lockTheirs");
        QTest::addColumn<bool>("temporaryTheirs");
        QTest::newRow("lock and temporary another user's") << true << true;
        QTest::newRow("lock another user's") << true << false;
        QTest::newRow("temporary another user's") << false << true;
    }
    void anotherUsersRecordsInASharedFolderAreLeftAlone()
    {
        QFETCH(bool, lockTheirs);
        QFETCH(bool, temporaryTheirs);
        if (::geteuid() != 0)
            QSKIP("Planting files as another user needs root");
        const QString shared = lg::test::freshFolder(QStringLiteral("shared")) + "/tmp";
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(raw(shared).constData(), 01777), 0);
        openTheWayTo(shared);
        const QString pictures = lg::test::freshFolder(QStringLiteral("Pictures"));
        for (int i = 1; i <= 20; ++i)
            lg::test::writeFile(pictures + QStringLiteral("/IMG_%1.jpg").arg(i), "the user's");
        const QString lock = shared + "/.lglock-" + token;
        const QString temporary = shared + "/.F.lgcopy-" + token;
        const QByteArray text = record("copy", "F", QByteArray(".F.lgcopy-") + token);

        std::vector<Plant> theirs;
        if (lockTheirs)
            theirs.push_back({Plant::File, raw(lock), text});
        else
            lg::test::writeFile(lock, text);
        const std::vector<Plant> inTemporary{{Plant::Folder, raw(temporary), {}},
                                             {Plant::Folder, raw(temporary + "/sub"), {}},
                                             {Plant::File, raw(temporary + "/sub/IMG_1.jpg"), "theirs"},
                                             {Plant::Link, raw(temporary + "/Pictures"), raw(pictures)}};
        if (temporaryTheirs) {
            theirs.insert(theirs.end(), inTemporary.cbegin(), inTemporary.cend());
        } else {
            lg::test::writeFile(temporary + "/sub/IMG_1.jpg", "theirs");
            QVERIFY(QFile::link(pictures, temporary + "/Pictures"));
        }
        const int planted = plantAsAnotherUser(theirs);
        if (planted == 77)
            QSKIP("Another user cannot be played here");
        QCOMPARE(planted, 0);

        writeInto(shared, QStringLiteral("G"));
        QCOMPARE(lg::test::readAll(lock), text);
        QCOMPARE(lg::test::readAll(temporary + "/sub/IMG_1.jpg"), QByteArray("theirs"));
        QVERIFY(QFileInfo(temporary + "/Pictures").isSymLink());
        for (int i = 1; i <= 20; ++i)
            QCOMPARE(lg::test::readAll(pictures + QStringLiteral("/IMG_%1.jpg").arg(i)), QByteArray("the user's"));
    }

    // In a folder others may write to (world-writable without the sticky bit,
    // or writable by a group the other user is in), another user moves a killed
    // run's temporary away and renames the user's folder Keep/ to the name the
    // stale record names: the cleanup neither removes it nor puts it anywhere,
    // whether the record says what was made or (an older record) says nothing.
    void anItemRenamedOntoAStaleTemporaryIsLeftAlone_data()
    {
        QTest::addColumn<QString>("left");   // "copy", "replace" (a killed helper) or "old record"
        QTest::addColumn<bool>("groupWritable");
        QTest::newRow("a killed copy, world-writable") << "copy" << false;
        QTest::newRow("a killed Replace, world-writable") << "replace" << false;
        QTest::newRow("a killed copy, group-writable") << "copy" << true;
        QTest::newRow("a record without identity, world-writable") << "old record" << false;
        QTest::newRow("a record without identity, group-writable") << "old record" << true;
    }
    void anItemRenamedOntoAStaleTemporaryIsLeftAlone()
    {
        QFETCH(QString, left);
        QFETCH(bool, groupWritable);
        if (::geteuid() != 0)
            QSKIP("Moving files as another user needs root");
        const QString root = lg::test::freshFolder(QStringLiteral("swapped onto"));
        const QString shared = root + "/shared";
        QVERIFY(QDir().mkpath(shared));
        openTheWayTo(shared);
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        if (left == "replace")
            lg::test::writeFile(shared + "/F/old.jpg", "old");
        lg::test::writeFile(shared + "/Keep/photo.jpg", "the user's");
        QString temporary;
        if (left == "old record") {
            temporary = QStringLiteral(".F.lgcopy-") + token;
            lg::test::writeFile(shared + "/.lglock-" + token, record("copy", "F", raw(temporary)));
            QVERIFY(QDir().mkpath(shared + "/" + temporary));
        } else {
            StoppedOperation stopped({left, root + "/src/F", shared});
            QVERIFY(stopped.stopped());
            stopped.kill();
            QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(shared), 10000);
            temporary = hiddenWith(shared, left == "copy" ? QStringLiteral(".lgcopy-") : QStringLiteral(".lgold-"));
        }
        QVERIFY(!temporary.isEmpty());
        QCOMPARE(::chown(raw(shared).constData(), 0, groupWritable ? 65534 : 0), 0);
        QCOMPARE(::chmod(raw(shared).constData(), groupWritable ? 0775 : 0777), 0);
        const int moved = plantAsAnotherUser({{Plant::Rename, raw(shared + "/" + temporary), raw(shared + "/moved")},
                                              {Plant::Rename, raw(shared + "/Keep"), raw(shared + "/" + temporary)}});
        if (moved == 77)
            QSKIP("Another user cannot be played here");
        QCOMPARE(moved, 0);
        writeInto(shared, QStringLiteral("G"));
        QCOMPARE(lg::test::readAll(shared + "/" + temporary + "/photo.jpg"), QByteArray("the user's"));
        QCOMPARE(entries(shared + "/" + temporary), QStringList{"photo.jpg"});
        QVERIFY(!QFileInfo::exists(shared + "/F/photo.jpg"));
    }

    // Another user takes the temporary's name the moment its lock appears: the
    // copy goes on under another name, what they made is left alone, and no
    // lock stays behind.
    void aTakenTemporaryNameIsGivenUpForAnother_data()
    {
        QTest::addColumn<bool>("replacing");
        QTest::newRow("copy") << false;
        QTest::newRow("Replace") << true;
    }
    void aTakenTemporaryNameIsGivenUpForAnother()
    {
        QFETCH(bool, replacing);
        if (::geteuid() != 0)
            QSKIP("Planting files as another user needs root");
        const QString root = lg::test::freshFolder(QStringLiteral("squatted"));
        const QString shared = root + "/shared";
        QVERIFY(QDir().mkpath(shared));
        QCOMPARE(::chmod(raw(shared).constData(), 01777), 0);
        openTheWayTo(shared);
        lg::test::writeFile(root + "/src/F/a.jpg", "new");
        if (replacing)
            lg::test::writeFile(shared + "/F/a.jpg", "old");
        QString squatted;
        int planted = 0;
        lg::FileOpResult r;
        {
            FaultGuard fault([&](lg::FileStep step, const QString &path) {
                if (step == lg::FileStep::MakeFolder && squatted.isEmpty()
                    && QFileInfo(path).fileName().contains(QLatin1String(".lgcopy-"))) {
                    squatted = QFileInfo(path).fileName();
                    planted = plantAsAnotherUser({{Plant::Folder, raw(path), {}}});
                }
                return 0;
            });
            r = lg::copyItem(root + "/src/F", shared,
                             replacing ? lg::ConflictPolicy::Replace : lg::ConflictPolicy::Refuse);
        }
        if (planted == 77)
            QSKIP("Another user cannot be played here");
        QCOMPARE(planted, 0);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(lg::test::readAll(shared + "/F/a.jpg"), QByteArray("new"));
        QCOMPARE(entries(shared), (QStringList{squatted, "F"}));
        QCOMPARE(QFileInfo(shared + "/" + squatted).ownerId(), 65534u);
    }

    // An item set aside under a name that is not UTF-8 goes back, its name
    // taken, under a numbered name that keeps the name's bytes.
    void aNumberedPutBackKeepsTheNamesBytes()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("raw name"));
        const QByteArray f = raw(folder);
        const QByteArray name = "Caf\xe9";
        const QByteArray aside = "." + name + ".lgold-" + token;
        QCOMPARE(::mkdir(f + "/" + name, 0755), 0);
        QCOMPARE(::mkdir(f + "/" + aside, 0755), 0);
        const int fd = ::open(f + "/" + aside + "/a.jpg", O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        lg::test::writeFile(folder + "/.lglock-" + token,
                            record("old", "Caf%E9", ".Caf%E9.lgold-" + QByteArray(token)));
        writeInto(folder, QStringLiteral("N"));
        struct stat st;
        QCOMPARE(::lstat(f + "/" + name + " 2/a.jpg", &st), 0);
        QCOMPARE(::lstat(f + "/" + aside, &st), -1);
    }

    // With a lock held elsewhere (a live copy in another process) and one of
    // this process's own in a folder full of names that look like locks, later
    // writes there do not read the folder again; the dead copy still goes at
    // the next write once its process is gone.
    void aFolderIsReadForLeftoversOnce()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("many locks"));
        const QString folder = root + "/dst";
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        QVERIFY(QDir().mkpath(folder));
        openTheWayTo(folder);
        QCOMPARE(::chmod(raw(folder).constData(), 01777), 0);
        std::vector<Plant> plants;
        for (int i = 0; i < 20000; ++i)
            plants.push_back(
                {Plant::File, raw(folder + QStringLiteral("/.lglock-%1").arg(i, 16, 16, QLatin1Char('0'))), "x"});
        if (plantAsAnotherUser(plants) != 0) {
            for (const Plant &plant : plants)
                lg::test::writeFile(QFile::decodeName(plant.path), plant.data);
        }
        StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", folder});
        QVERIFY(copying.stopped());
        lg::TemporaryOwner own = lg::TemporaryOwner::claim(folder + "/Held", lg::TemporaryKind::Copy);
        QVERIFY(own.isValid());
        const quint64 before = lg::leftoverScansForTesting();
        for (int i = 0; i < 20; ++i) {
            // Another spelling of the same folder.
            lg::TemporaryFile file = lg::createTemporaryFile(folder + "/./p.jpg");
            QVERIFY(file.fd >= 0);
            ::close(file.fd);
            QCOMPARE(::unlink(raw(file.path).constData()), 0);
        }
        QCOMPARE(lg::leftoverScansForTesting(), before);
        own = lg::TemporaryOwner();
        copying.kill();
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(folder), 10000);
        lg::TemporaryFile file = lg::createTemporaryFile(folder + "/p.jpg");
        QVERIFY(file.fd >= 0);
        ::close(file.fd);
        ::unlink(raw(file.path).constData());
        QCOMPARE(hiddenWith(folder, QStringLiteral(".lgcopy-")), QString());
        QCOMPARE(lg::leftoverScansForTesting(), before);
    }

    // An empty lock, as a kill between making a lock and writing its record
    // leaves, goes once it is older than this process and nobody holds it;
    // one made just now or held is left alone (its maker is about to write).
    void anEmptyLockLeftByAKillGoes_data()
    {
        QTest::addColumn<QString>("lock");
        QTest::addColumn<bool>("gone");
        QTest::newRow("older, free") << "older" << true;
        QTest::newRow("made just now") << "new" << false;
        QTest::newRow("older, held") << "held" << false;
        QTest::newRow("older, not empty") << "text" << false;
    }
    void anEmptyLockLeftByAKillGoes()
    {
        QFETCH(QString, lock);
        QFETCH(bool, gone);
        const QString folder = lg::test::freshFolder(QStringLiteral("empty lock ") + lock);
        const QString path = lg::test::writeFile(folder + "/.lglock-" + token,
                                                 lock == QLatin1String("text") ? "x" : "");
        if (lock != QLatin1String("new")) {
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, raw(path).constData(), anHourAgo, 0), 0);
        }
        const int held = lock == QLatin1String("held") ? ::open(raw(path).constData(), O_RDONLY | O_CLOEXEC) : -1;
        if (held >= 0)
            QCOMPARE(::flock(held, LOCK_EX), 0);
        writeInto(folder, QStringLiteral("N"));
        if (held >= 0)
            ::close(held);
        const QStringList expected = gone ? QStringList{"N"} : QStringList{".lglock-" + QString::fromLatin1(token), "N"};
        QCOMPARE(entries(folder), expected);
    }

    // A quit during a folder copy, or during the copy of a move across disks,
    // leaves neither the hidden copy nor its lock: what this run made goes
    // before the process ends. A tree too big to go within the quit's bound
    // is left under its lock, and the next look at the folder removes it.
    void aQuitDuringAFolderCopyLeavesNoHiddenCopy_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("tooBig");
        QTest::newRow("a copy") << false << false;
        QTest::newRow("a move across disks") << true << false;
        QTest::newRow("a copy too big to remove in time") << false << true;
    }
    void aQuitDuringAFolderCopyLeavesNoHiddenCopy()
    {
        QFETCH(bool, move);
        QFETCH(bool, tooBig);
        const QString root = lg::test::freshFolder(QStringLiteral("quit in copy ") + QTest::currentDataTag());
        for (int i = 0; i < 6; ++i)
            lg::test::writeFile(root + QStringLiteral("/src/Trip/Day %1/p%1.jpg").arg(i), QByteArray(1000, 'p'));
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        std::atomic<qint64> now{0};
        lg::setRemovalClockForTesting([&now] { return now.load(); });
        const auto clockBack = qScopeGuard([] { lg::setRemovalClockForTesting({}); });
        int copied = 0;
        lg::FileOpResult r;
        {
            FaultGuard fault([&](lg::FileStep step, const QString &) {
                if (step == lg::FileStep::Rename && move)
                    return EXDEV;
                if (step == lg::FileStep::CopyData && ++copied == 4 && !lg::isShuttingDown())
                    lg::beginShutdown();   // Ctrl+Q, a window close, SIGTERM or a lost display
                if (step == lg::FileStep::Remove && tooBig && lg::isShuttingDown())
                    now += 150;   // each entry takes long: the bound is reached at the fourth
                return 0;
            });
            r = move ? lg::moveItem(root + "/src/Trip", dst) : lg::copyItem(root + "/src/Trip", dst);
        }
        lg::resetShutdownForTesting();
        QCOMPARE(r.error, lg::FileOpError::Cancelled);
        QVERIFY(!QFileInfo::exists(dst + "/Trip"));
        for (int i = 0; i < 6; ++i)
            QCOMPARE(lg::test::readAll(root + QStringLiteral("/src/Trip/Day %1/p%1.jpg").arg(i)).size(), 1000);
        if (tooBig) {
            QCOMPARE(hiddenEntries(dst).size(), 2);   // the rest of the copy and its lock
            writeInto(dst, QStringLiteral("N"));
        }
        QCOMPARE(hiddenEntries(dst), QStringList{});
    }

    // A record is never written over in place (a FUSE FAT driver puts a write
    // at offset 0 of an existing file at its end): every later record of a
    // temporary's lock, a placeholder's record, a journal entry marked
    // missing and a stopped move's note is a new file renamed over the old
    // one, which is left as it was; nothing is left beside it.
    void aRecordIsNeverWrittenOverInPlace_data()
    {
        QTest::addColumn<QString>("record");
        QTest::newRow("a temporary's lock") << "lock";
        QTest::newRow("a placeholder's record") << "placeholder";
        QTest::newRow("a stopped move's note") << "note";
        QTest::newRow("a journal entry marked missing") << "entry";
    }
    void aRecordIsNeverWrittenOverInPlace()
    {
        QFETCH(QString, record);
        const QString root = lg::test::freshFolder(QStringLiteral("renamed over ") + record);
        const QString folder = root + "/dst";
        QVERIFY(QDir().mkpath(folder));
        // The one record file in dir whose name starts with prefix.
        const auto recordIn = [](const QString &dir, const QString &prefix) {
            QStringList found;
            for (const QString &name : entries(dir))
                if (name.startsWith(prefix))
                    found << dir + "/" + name;
            return found;
        };
        lg::TemporaryOwner owner;
        lg::PlaceholderRecord placeholder;
        std::optional<lg::MoveDeletion> note;
        QString path;
        if (record == QLatin1String("lock")) {
            owner = lg::TemporaryOwner::claim(folder + "/T", lg::TemporaryKind::Copy);
            QVERIFY(owner.isValid());
            QCOMPARE(recordIn(folder, ".lglock-").size(), 1);
            path = recordIn(folder, ".lglock-").first();
        } else if (record == QLatin1String("placeholder")) {
            placeholder = lg::PlaceholderRecord::before(raw(root + "/src/T"), raw(folder + "/T"));
            QCOMPARE(recordIn(folder, ".lglock-").size(), 1);
            path = recordIn(folder, ".lglock-").first();
        } else if (record == QLatin1String("note")) {
            note.emplace(root + "/src/T", folder + "/T");
            QVERIFY(note->isNoted());
            QCOMPARE(moveNotes(journalPath()).size(), 1);
            path = journalPath() + "/" + moveNotes(journalPath()).first();
        } else {
            // A dead process's entry of a folder on a disk that is not mounted now.
            path = lg::test::writeFile(journalPath() + "/00000000000000aa",
                                       journalEntry(folder + "/gone", "Disk=/nowhere\nDevice=0:99999\nRoot=/\n"));
        }
        const QByteArray before = lg::test::readAll(path);
        QVERIFY(!before.isEmpty());
        const int old = ::open(raw(path).constData(), O_RDONLY | O_CLOEXEC);
        QVERIFY(old >= 0);
        const auto closeOld = qScopeGuard([old] { ::close(old); });
        if (record == QLatin1String("lock")) {
            const int fd = ::open(raw(owner.path()).constData(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
            QVERIFY(fd >= 0);
            QVERIFY(owner.recordMade(fd));
            ::close(fd);
        } else if (record == QLatin1String("placeholder")) {
            QVERIFY(QDir().mkpath(folder + "/T"));
            struct stat made;
            QCOMPARE(::lstat(raw(folder + "/T").constData(), &made), 0);
            placeholder.made(made);
        } else if (record == QLatin1String("note")) {
            QVERIFY(note->removing());
        } else {
            lg::cleanFoldersLeftByKilledRuns();
        }
        // The old file holds its old record, whole; the name holds the new one.
        QByteArray kept(before.size() + 64, '\0');
        const ssize_t n = ::pread(old, kept.data(), size_t(kept.size()), 0);
        QCOMPARE(kept.left(qsizetype(n)), before);
        const QByteArray after = lg::test::readAll(path);
        QVERIFY(after.startsWith(before));
        QVERIFY(after.size() > before.size());
        const QStringList beside = record == QLatin1String("note") || record == QLatin1String("entry")
                                       ? QStringList(entries(journalPath()))
                                       : entries(folder);
        for (const QString &name : beside)
            QVERIFY2(!name.endsWith(QLatin1String(".new")), qPrintable(name));
        if (note) {
            note->finish();
        } else if (record == QLatin1String("entry")) {
            QFile::remove(path);
        } else if (record == QLatin1String("lock")) {
            QFile::remove(owner.path());
            owner = lg::TemporaryOwner();
        } else {
            placeholder.done();
        }
        QDir(folder + "/T").removeRecursively();
    }

    // A new record that a kill left before it was renamed over its lock
    // (".lglock-<token>.new") goes at the next look at its folder when it is
    // exactly a record of ours; anything else under such a name stays.
    void aNewRecordLeftByAKillGoes_data()
    {
        QTest::addColumn<QByteArray>("text");
        QTest::addColumn<bool>("gone");
        QTest::newRow("a temporary's record") << record("copy", "T", ".T.lgcopy-" + QByteArray(token)) << true;
        QTest::newRow("a placeholder's record") << QByteArray("[Lumen Gallery placeholder]\nName=T\n") << true;
        QTest::newRow("empty") << QByteArray() << true;
        QTest::newRow("not ours") << QByteArray("my notes\n") << false;
    }
    void aNewRecordLeftByAKillGoes()
    {
        QFETCH(QByteArray, text);
        QFETCH(bool, gone);
        const QString root = lg::test::freshFolder(QStringLiteral("new record ") + QTest::currentDataTag());
        const QString folder = root + "/dst";
        const QString path = lg::test::writeFile(folder + "/.lglock-" + QString::fromLatin1(token) + ".new", text);
        const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, raw(path).constData(), anHourAgo, 0), 0);
        writeInto(folder, QStringLiteral("N"));
        QCOMPARE(QFileInfo::exists(path), !gone);
    }

    // A Replace that the quit reaches at or after its swap leaves no hidden
    // folder: the old one, replaced as asked, is removed before the process
    // ends, as an unfinished copy is, and the new one stands in its place.
    void aReplaceQuitAtItsSwapLeavesNoHiddenFolder_data()
    {
        QTest::addColumn<bool>("canSwap");
        QTest::newRow("swapped in one step") << true;
        QTest::newRow("on a disk that cannot swap") << false;
    }
    void aReplaceQuitAtItsSwapLeavesNoHiddenFolder()
    {
        QFETCH(bool, canSwap);
        const QString root = lg::test::freshFolder(QStringLiteral("replace quit ") + QTest::currentDataTag());
        for (int i = 0; i < 4; ++i) {
            lg::test::writeFile(root + QStringLiteral("/src/F/n%1.jpg").arg(i), "new");
            lg::test::writeFile(root + QStringLiteral("/dst/F/Day %1/o%1.jpg").arg(i), "old");
        }
        const QString dst = root + "/dst";
        lg::setRemovalClockForTesting([] { return qint64(0); });   // the bound is never reached
        const auto clockBack = qScopeGuard([] { lg::setRemovalClockForTesting({}); });
        lg::FileOpResult r;
        {
            FaultGuard fault([canSwap](lg::FileStep step, const QString &) {
                if (step == lg::FileStep::Swap && !canSwap)
                    return EINVAL;
                if ((step == lg::FileStep::Exchanged || (step == lg::FileStep::FinalRename && !canSwap))
                    && !lg::isShuttingDown())
                    lg::beginShutdown();   // Ctrl+Q, a window close, SIGTERM or a lost display
                return 0;
            });
            r = lg::copyItem(root + "/src/F", dst, lg::ConflictPolicy::Replace);
        }
        lg::resetShutdownForTesting();
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(entries(dst + "/F"), (QStringList{"n0.jpg", "n1.jpg", "n2.jpg", "n3.jpg"}));
        QCOMPARE(hiddenEntries(dst), QStringList{});
    }
    // A card's driver numbers its device and folders the same way each time
    // it is mounted: a card put back, after a kill left a copy half made on
    // it elsewhere, is read anew before the first write into a folder this
    // process read before, and what the kill left goes.
    void aCardPutBackIsReadAnewBeforeTheFirstWrite()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("card put back"));
        ExfatCard card(root + "/card.exfat");
        if (!card.mountAt(root + "/CARD"))
            QSKIP("exFAT through FUSE (exfatprogs, exfat-fuse) and root are needed");
        const QString dst = root + "/CARD/DCIM";
        QVERIFY(QDir().mkpath(dst));
        writeInto(dst, QStringLiteral("first"));   // read here, before the card goes
        card.unmount();
        QVERIFY(card.mountAt(root + "/OTHER"));
        const QString source = lg::test::writeFile(root + "/src/IMG_1.jpg", QByteArray(50000, 'j'));
        {
            StoppedOperation copying({"batch", "copy", source, root + "/OTHER/DCIM", "data"});
            QVERIFY(copying.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(root + "/OTHER/DCIM"), 10000);
        QCOMPARE(hiddenEntries(root + "/OTHER/DCIM").size(), 2);
        card.unmount();
        QVERIFY(card.mountAt(root + "/CARD"));
        writeInto(dst, QStringLiteral("second"));
        QCOMPARE(hiddenEntries(dst), QStringList{});
        QCOMPARE(entries(dst), (QStringList{"first", "second"}));
    }
};

LG_TEST(TemporariesTest)
#include "test_temporaries.moc"
