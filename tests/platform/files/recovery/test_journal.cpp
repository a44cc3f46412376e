// The journal of folders that hold temporaries: what a killed run left is put
// right at the next start, a folder missing then (an unplugged card, a share
// not mounted yet) is looked at again when it comes back, and only an entry
// exactly as the program writes it names a folder.
#include "tests/platform/files/recovery/LeftoversTesting.h"

class JournalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A copy, a Replace's set-aside and a Move to Trash by copy killed half-way
    // are put right when the program starts again, without any later write in
    // their folders, and the journal then names those folders no more.
    void whatAKilledRunLeftIsPutRightAtTheNextStart()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("killed runs"));
        const QString dst = root + "/dst";
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        lg::test::writeFile(root + "/src/G/new.jpg", "new");
        lg::test::writeFile(dst + "/G/old.jpg", "the only copy");
        lg::test::writeFile(root + "/trashed/T/clip.mov", QByteArray(10000, 't'));
        lg::test::writeFile(dst + "/.lglock-" + token, "not a record of ours");
        const QString trash = QDir::cleanPath(lg::trashFolderFor(root + "/trashed/T"));
        {
            StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", dst});
            StoppedOperation replacing({QStringLiteral("replace"), root + "/src/G", dst});
            StoppedOperation trashing({QStringLiteral("trash"), root + "/trashed/T"});
            QVERIFY(copying.stopped() && replacing.stopped() && trashing.stopped());
            QVERIFY(!QFileInfo::exists(dst + "/G"));
            QVERIFY(QFileInfo::exists(trash + "/info/T.trashinfo"));
            QCOMPARE(hiddenEntries(trash + "/files").size(), 2);   // the unfinished copy and its lock
            const QStringList journal = journalFolders();
            QVERIFY(journal.contains(dst));
            QVERIFY(journal.contains(trash + "/files"));
            lg::cleanFoldersLeftByKilledRuns();   // still running: left alone, and so is the journal
            QCOMPARE(hiddenEntries(trash + "/files").size(), 2);
            QVERIFY(!QFileInfo::exists(dst + "/G"));
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst) && locksAreFree(trash + "/files"), 10000);
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(entries(dst), (QStringList{".lglock-" + QString::fromLatin1(token), "G"}));
        QCOMPARE(lg::test::readAll(dst + "/G/old.jpg"), QByteArray("the only copy"));
        QCOMPARE(entries(trash + "/files"), QStringList{});
        QVERIFY(!QFileInfo::exists(trash + "/info/T.trashinfo"));
        QCOMPARE(lg::test::readAll(root + "/trashed/T/clip.mov").size(), 10000);
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
        const QStringList journal = journalFolders();
        QVERIFY(!journal.contains(dst));
        QVERIFY(!journal.contains(trash + "/files"));
    }

    // The journal is read as untrusted input: only an entry exactly as the
    // program writes it, a plain file under a token's name, names a folder to
    // clean; anything else names nothing, and its folder is not entered.
    // A folder missing at start (an unplugged card, a disk mounted elsewhere,
    // a share not mounted yet) is looked at again at a later start or when a
    // disk is mounted, and what a killed copy left there then goes.
    void aFolderMissingAtStartIsLookedAtAgainWhenItComesBack_data()
    {
        QTest::addColumn<QString>("away");
        QTest::newRow("a disk unmounted") << "unmounted";
        QTest::newRow("a disk recorded where none is mounted now") << "recorded";
        QTest::newRow("an entry that does not name its disk") << "older";
    }
    void aFolderMissingAtStartIsLookedAtAgainWhenItComesBack()
    {
        QFETCH(QString, away);
        const QString root = lg::test::freshFolder(QStringLiteral("missing ") + away);
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        QDir().mkpath(root + "/disk/dst");
        QDir().mkpath(root + "/card");
        const bool unmounted = away == QLatin1String("unmounted");
        // A disk of its own: one bind-mounted from the disk of the tests would
        // still be there, under its first place, once unmounted.
        Card card(root + "/card.img");
        if (unmounted && !card.mountAt(root + "/card"))
            QSKIP("This machine does not let the tests mount a disk.");
        const QString dst = unmounted ? root + "/card/dst" : root + "/disk/dst";
        QDir().mkpath(dst);
        {
            StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", dst});
            QVERIFY(copying.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        QCOMPARE(hiddenEntries(dst).size(), 2);
        const QString entry = journalEntryFor(dst);
        QVERIFY(!entry.isEmpty());
        QVERIFY(lg::test::readAll(entry).contains("\nDisk="));
        if (away == QLatin1String("recorded"))
            lg::test::writeFile(entry, journalEntry(dst, "Disk=" + raw(root + "/card").toPercentEncoding("/")
                                                             + "\nDevice=0:99999\nRoot=/\n"));
        else if (away == QLatin1String("older"))
            lg::test::writeFile(entry, journalEntry(dst));
        // Away: at the next start the folder is missing; its entry stays.
        if (unmounted)
            card.unmount();
        else
            QVERIFY(QDir().rename(root + "/disk", root + "/away"));
        lg::cleanFoldersLeftByKilledRuns();
        QVERIFY(journalFolders().contains(dst));
        lg::cleanFoldersLeftByKilledRuns();
        QVERIFY(journalFolders().contains(dst));
        if (unmounted) {
            // Back: the mount is seen and the folder looked at, with no start.
            lg::startCleaningFoldersLeftByKilledRuns();
            QTRY_VERIFY(!lg::isCleaningFoldersLeftByKilledRunsForTesting());
            QVERIFY(journalFolders().contains(dst));
            QVERIFY(card.mountAt(root + "/card"));
            QTRY_VERIFY_WITH_TIMEOUT(hiddenEntries(dst).isEmpty(), 10000);
            QTRY_VERIFY(!journalFolders().contains(dst));
        } else {
            QVERIFY(QDir().rename(root + "/away", root + "/disk"));
            lg::cleanFoldersLeftByKilledRuns();
            // A folder of that name on another disk than the one recorded
            // does not stand for it: it is not touched, and the entry waits
            // for its own disk.
            QCOMPARE(hiddenEntries(dst).isEmpty(), away != QLatin1String("recorded"));
            QCOMPARE(journalFolders().contains(dst), away == QLatin1String("recorded"));
            if (const QString left = journalEntryFor(dst); !left.isEmpty())
                QFile::remove(left);
        }
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
    }

    // An entry goes when its folder is gone while its disk is there, or once
    // the folder has been missing for 30 days; until then it stays.
    void aMissingFolderIsForgottenOnlyWhenItsDiskIsThereOrAfterThirtyDays_data()
    {
        QTest::addColumn<bool>("diskThere");
        QTest::addColumn<int>("missingDays");   // 0: found missing now
        QTest::addColumn<bool>("forgotten");
        QTest::newRow("gone, its disk there") << true << 0 << true;
        QTest::newRow("missing, its disk away") << false << 0 << false;
        QTest::newRow("missing 29 days") << false << 29 << false;
        QTest::newRow("missing 31 days") << false << 31 << true;
    }
    void aMissingFolderIsForgottenOnlyWhenItsDiskIsThereOrAfterThirtyDays()
    {
        QFETCH(bool, diskThere);
        QFETCH(int, missingDays);
        QFETCH(bool, forgotten);
        const QString root = lg::test::freshFolder(QStringLiteral("forgotten"));
        const QString folder = root + "/gone";
        QDir().mkpath(folder);
        // The disk of the folder's parent, as the program records it.
        lg::test::writeFile(folder + "/t/t.txt", "t");
        const lg::FileOpResult r = lg::copyItem(folder + "/t", root);
        QVERIFY(r.ok());
        QByteArray disk;
        for (const QByteArray &line : lg::test::readAll(journalEntryFor(root)).split('\n'))
            if (line.startsWith("Disk=") || line.startsWith("Device=") || line.startsWith("Root="))
                disk += line + "\n";
        QVERIFY(!disk.isEmpty());
        if (!diskThere)
            disk = "Disk=" + raw(root).toPercentEncoding("/") + "\nDevice=0:99999\nRoot=/\n";
        QVERIFY(QDir(folder).removeRecursively());
        const qint64 since = missingDays ? QDateTime::currentSecsSinceEpoch() - qint64(missingDays) * 24 * 3600 : 0;
        lg::test::writeFile(journalPath() + "/0123456789abcdef", journalEntry(folder, disk, since));
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(!journalFolders().contains(folder), forgotten);
        if (!forgotten) {
            const QByteArray text = lg::test::readAll(journalEntryFor(folder));
            QVERIFY2(text.contains("\nMissing="), text.constData());   // since when, for the 30 days
            QFile::remove(journalEntryFor(folder));
        }
    }

    // The cleanup at start never holds a quit, not even while the open of a
    // folder the journal names blocks; its entry stays for the next start.
    void aQuitEndsWhileTheCleanupIsStuckInAFolder()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("stuck"));
        QDir().mkpath(root + "/share");
        const QString entry = journalPath() + "/0123456789abcdef";
        lg::test::writeFile(entry, journalEntry(root + "/share"));
        QProcess quitting;
        quitting.start(QStringLiteral(LG_FILEOPS_HELPER), {QStringLiteral("quit")});
        QVERIFY(quitting.waitForReadyRead(20000));
        QVERIFY(quitting.readAll().startsWith("stopped"));
        QElapsedTimer quit;
        quit.start();
        const bool ended = quitting.waitForFinished(5000);
        const qint64 took = quit.elapsed();
        if (!ended)
            quitting.kill();
        QVERIFY2(ended && took < 1000, qPrintable(QStringLiteral("the quit took %1 ms").arg(took)));
        QCOMPARE(quitting.exitStatus(), QProcess::NormalExit);
        QCOMPARE(quitting.exitCode(), 0);
        QVERIFY(QFileInfo::exists(entry));
        QFile::remove(entry);
    }

    // However the process ends (exit() from any frame, as Qt's X11 plugin
    // does when the display is lost), the journal keeps the entry of a folder
    // that still holds a temporary, and the next start removes what is there;
    // the entry of a folder left clean goes with the process.
    void anExitKeepsTheEntryOfAFolderWhileItsTemporaryIsThere_data()
    {
        QTest::addColumn<bool>("inUse");
        QTest::newRow("a temporary in use") << true;
        QTest::newRow("nothing of ours left") << false;
    }
    void anExitKeepsTheEntryOfAFolderWhileItsTemporaryIsThere()
    {
        QFETCH(bool, inUse);
        const QString folder = lg::test::freshFolder(QStringLiteral("exit ") + QString::fromLatin1(QTest::currentDataTag()));
        // A process of its own: a fork of this one could hang in its allocator
        // under the sanitizers, whose locks other threads may hold at the fork.
        QProcess ending;
        ending.start(QStringLiteral(LG_FILEOPS_HELPER),
                     {QStringLiteral("exit"), folder + "/big.mov", inUse ? QStringLiteral("in use") : QStringLiteral("done")});
        QVERIFY(ending.waitForFinished(20000));
        QCOMPARE(ending.exitStatus(), QProcess::NormalExit);
        QCOMPARE(ending.exitCode(), 1);
        QCOMPARE(hiddenEntries(folder).size(), inUse ? 2 : 0);
        QCOMPARE(journalFolders().contains(folder), inUse);
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(folder), QStringList{});
        QVERIFY(!journalFolders().contains(folder));
    }

    // A folder whose open blocks in the kernel (a share whose server is away)
    // holds up only itself: another folder's leftovers go meanwhile, and so
    // do those on a disk mounted later; the blocked one is settled once it
    // answers.
    void aBlockedFolderHoldsUpOnlyItself()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("blocked"));
        const QString hung = root + "/a share";
        QDir().mkpath(hung);
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        QDir().mkpath(root + "/home/dst");
        Card card(root + "/card.img");
        const bool hasCard = card.mountAt(root + "/card");
        const QString home = root + "/home/dst";
        const QString later = root + "/card/dst";
        if (hasCard)
            QDir().mkpath(later);
        {
            StoppedOperation toHome({QStringLiteral("copy"), root + "/src/F", home});
            StoppedOperation toCard({QStringLiteral("copy"), root + "/src/F", hasCard ? later : home + "2"});
            QVERIFY(toHome.stopped() && toCard.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(home), 10000);
        if (hasCard) {
            QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(later), 10000);
            card.unmount();
        }
        QCOMPARE(hiddenEntries(home).size(), 2);
        lg::test::writeFile(journalPath() + "/0123456789abcdef", journalEntry(hung));
        std::atomic<bool> blocked{false}, answer{false};
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::OpenFolder && path == hung) {
                blocked = true;
                while (!answer)
                    ::usleep(1000);   // in the kernel, as far as the cleanup can tell
            }
            return 0;
        });
        lg::startCleaningFoldersLeftByKilledRuns();
        QTRY_VERIFY(blocked.load());
        QTRY_VERIFY_WITH_TIMEOUT(hiddenEntries(home).isEmpty(), 10000);
        QTRY_VERIFY(!journalFolders().contains(home));
        if (hasCard) {
            QVERIFY(card.mountAt(root + "/card"));
            QTRY_VERIFY_WITH_TIMEOUT(hiddenEntries(later).isEmpty(), 10000);
            QTRY_VERIFY(!journalFolders().contains(later));
        }
        QVERIFY(journalFolders().contains(hung));
        answer = true;
        QTRY_VERIFY_WITH_TIMEOUT(!lg::isCleaningFoldersLeftByKilledRunsForTesting(), 10000);
        QVERIFY(!journalFolders().contains(hung));
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
    }

    // A card that comes back at another place (its first place taken) is
    // found there by its file system: what a killed copy left on it goes, and
    // its entry is settled rather than kept as missing.
    void aCardBackAtAnotherPlaceIsCleanedThere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a folder of the disk, mounted") << "bind";
        QTest::newRow("an ext4 card") << "ext4";
    }
    void aCardBackAtAnotherPlaceIsCleanedThere()
    {
        QFETCH(QString, kind);
        const QString root = lg::test::freshFolder(QStringLiteral("card back ") + kind);
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        QDir().mkpath(root + "/disk");
        QDir().mkpath(root + "/CARD");
        QDir().mkpath(root + "/CARD1");
        BindMount bind(root + "/disk", root + "/CARD");
        Card ext4(root + "/card.img");
        if (kind == QLatin1String("bind")) {
            bind.unmount();
            if (!bind.mount())
                QSKIP("This machine does not let the tests mount a folder.");
        } else if (!ext4.mountAt(root + "/CARD")) {
            QSKIP("This machine does not let the tests mount an ext4 image.");
        }
        const QString dst = root + "/CARD/Trip";
        QVERIFY(QDir().mkpath(dst));
        {
            StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", dst});
            QVERIFY(copying.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        QVERIFY(lg::test::readAll(journalEntryFor(dst)).contains("\nVolume="));
        // Unplugged, then back at another place.
        if (kind == QLatin1String("bind")) {
            bind.unmount();
            bind.m_at = root + "/CARD1";
            QVERIFY(bind.mount());
        } else {
            ext4.unmount();
            QVERIFY(ext4.mountAt(root + "/CARD1"));
        }
        const QString now = root + "/CARD1/Trip";
        QCOMPARE(hiddenEntries(now).size(), 2);
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(now), QStringList{});
        QVERIFY(!journalFolders().contains(dst));
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
    }

    void onlyAJournalEntryExactlyAsWrittenNamesAFolder()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("journal"));
        const QString journal = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries");
        QVERIFY(QDir().mkpath(journal));
        const QByteArray temporary = QByteArray(".F.lgcopy-") + token;
        const QStringList folders{"good", "relative", "extra line", "CR LF", "link", "not a token", "NUL",
                                   "hard link"};
        for (const QString &folder : folders) {
            lg::test::writeFile(root + "/" + folder + "/.lglock-" + token, record("copy", "F", temporary));
            lg::test::writeFile(root + "/" + folder + "/" + QString::fromLatin1(temporary) + "/a.jpg", "partial");
        }
        const auto entry = [&root](const QString &folder) {
            return "[Lumen Gallery folder]\nFolder=" + raw(root + "/" + folder).toPercentEncoding("/") + "\n";
        };
        lg::test::writeFile(journal + "/0123456789abcdef", entry("good"));
        lg::test::writeFile(journal + "/1111111111111111", "[Lumen Gallery folder]\nFolder=relative\n");
        lg::test::writeFile(journal + "/2222222222222222", entry("extra line") + "Extra=1\n");
        lg::test::writeFile(journal + "/3333333333333333", entry("CR LF").replace("\n", "\r\n"));
        lg::test::writeFile(root + "/elsewhere", entry("link"));
        QVERIFY(QFile::link(root + "/elsewhere", journal + "/4444444444444444"));
        // Someone's file under a second name, as an entry or as one half written.
        lg::test::writeFile(journal + "/../linked", entry("hard link"));
        QCOMPARE(::link(raw(journal + "/../linked").constData(), raw(journal + "/6666666666666666").constData()), 0);
        QCOMPARE(::link(raw(journal + "/../linked").constData(),
                        raw(journal + "/.7777777777777777.new").constData()), 0);
        const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, raw(journal + "/../linked").constData(), anHourAgo, 0), 0);
        lg::test::writeFile(journal + "/not-a-token", entry("not a token"));
        lg::test::writeFile(journal + "/5555555555555555", entry("NUL").replace("NUL", "NUL%00/../good"));
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(entries(root + "/good"), QStringList{});
        for (const QString &folder : folders.mid(1))
            QCOMPARE(hiddenEntries(root + "/" + folder).size(), 2);
        const QStringList left = entries(journal);
        for (const char *gone : {"0123456789abcdef", "1111111111111111", "2222222222222222", "3333333333333333",
                                 "5555555555555555"})
            QVERIFY2(!left.contains(QLatin1String(gone)), gone);
        QVERIFY(left.contains(QStringLiteral("4444444444444444")));
        QVERIFY(left.contains(QStringLiteral("not-a-token")));
        QVERIFY(left.contains(QStringLiteral("6666666666666666")));
        QVERIFY(left.contains(QStringLiteral(".7777777777777777.new")));
        QCOMPARE(lg::test::readAll(journal + "/../linked"), entry("hard link"));
        for (const char *linked : {"/6666666666666666", "/.7777777777777777.new", "/../linked"})
            QFile::remove(journal + linked);
        QCOMPARE(lg::test::readAll(root + "/elsewhere"), entry("link"));
    }

    // Sixteen folders that never answer (shares whose server stopped) hold
    // none of the others: a folder whose cleanup has not answered for a few
    // seconds no longer counts against the limit of folders cleaned at once,
    // so the home folder's leftovers go all the same.
    void sixteenHungFoldersHoldNoOther()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("sixteen hung"));
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        const QString home = root + "/zz home/dst";   // after the shares in the journal's order
        QDir().mkpath(home);
        {
            StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", home});
            QVERIFY(copying.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(home), 10000);
        QCOMPARE(hiddenEntries(home).size(), 2);
        QStringList hung;
        for (int i = 0; i < 16; ++i) {
            hung << root + QStringLiteral("/share %1").arg(i, 2, 10, QLatin1Char('0'));
            QDir().mkpath(hung.last());
            lg::test::writeFile(journalPath() + QStringLiteral("/feed0000000000%1").arg(i, 2, 16, QLatin1Char('0')),
                                journalEntry(hung.last()));
        }
        std::atomic<qint64> now{0};
        std::atomic<int> blocked{0};
        std::atomic<bool> answer{false};
        lg::setFolderCleanupClockForTesting([&now] { return now.load(); });
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::OpenFolder && hung.contains(path)) {
                ++blocked;
                while (!answer)
                    ::usleep(1000);   // in the kernel, as far as the cleanup can tell
            }
            return 0;
        });
        const auto release = qScopeGuard([&] {
            answer = true;
            QElapsedTimer waited;
            waited.start();
            while (lg::isCleaningFoldersLeftByKilledRunsForTesting() && waited.elapsed() < 10000)
                QTest::qWait(10);
            lg::setFolderCleanupClockForTesting({});
        });
        lg::startCleaningFoldersLeftByKilledRuns();
        QTRY_COMPARE_WITH_TIMEOUT(blocked.load(), 16, 10000);
        now += 5000;   // none of them has answered for five seconds
        QTRY_VERIFY_WITH_TIMEOUT(hiddenEntries(home).isEmpty(), 10000);
        QTRY_VERIFY(!journalFolders().contains(home));
        QCOMPARE(blocked.load(), 16);
        answer = true;
        QTRY_VERIFY_WITH_TIMEOUT(!lg::isCleaningFoldersLeftByKilledRunsForTesting(), 10000);
        for (const QString &share : hung)
            QVERIFY(!journalFolders().contains(share));
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
    }

    // A card is known by its volume, not by where it is mounted: card B, of
    // the same make, mounted where card A was, is not taken for A; nor is a
    // copy of A (its volume is A's: on a card, what is A's is known by the
    // tokens of its records, which the journal lists). What a kill left on A
    // (a hidden copy, a Replace's item set aside, the journal's entries of
    // their folders, a stopped move's note) waits for A, and B's folders are
    // not touched; once A is back, its folders are put right and the move
    // told.
    void aSecondCardAtTheSamePlaceIsNotTakenForTheFirst_data()
    {
        QTest::addColumn<bool>("exfat");
        QTest::addColumn<bool>("copyOfFirst");
        QTest::newRow("ext4") << false << false;
        QTest::newRow("exFAT through FUSE") << true << false;
        QTest::newRow("exFAT through FUSE, a copy of the first card") << true << true;
    }
    void aSecondCardAtTheSamePlaceIsNotTakenForTheFirst()
    {
        QFETCH(bool, exfat);
        QFETCH(bool, copyOfFirst);
        const QString root = lg::test::freshFolder(QStringLiteral("second card ") + QTest::currentDataTag());
        Card first(root + "/a.img"), second(root + "/b.img");
        ExfatCard firstExfat(root + "/a.exfat");
        // As dd copies it, before anything is written to the first.
        std::optional<ExfatCard> secondExfat;
        if (copyOfFirst)
            secondExfat.emplace(root + "/b.exfat", firstExfat);
        else
            secondExfat.emplace(root + "/b.exfat");
        const QString card = root + "/CARD";
        const auto mountFirst = [&] { return exfat ? firstExfat.mountAt(card) : first.mountAt(card); };
        const auto mountSecond = [&] { return exfat ? secondExfat->mountAt(card) : second.mountAt(card); };
        const auto unmountFirst = [&] { exfat ? firstExfat.unmount() : first.unmount(); };
        const auto unmountSecond = [&] { exfat ? secondExfat->unmount() : second.unmount(); };
        if (!mountFirst())
            QSKIP("This machine does not let the tests mount such a card.");
        (void)lg::takeStoppedMoves();   // what earlier tests' kills left
        const QString dst = card + "/dst";
        lg::test::writeFile(root + "/src/F/big.mov", QByteArray(10000, 'v'));
        QVERIFY(QDir().mkpath(dst));
        {
            StoppedOperation copying({QStringLiteral("copy"), root + "/src/F", dst});
            QVERIFY(copying.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        QCOMPARE(hiddenEntries(dst).size(), 2);
        // A Replace of the card's album, killed once the user's own is set aside.
        const QString album = card + "/Album";
        lg::test::writeFile(album + "/F/photo.jpg", "the user's photo");
        lg::test::writeFile(root + "/new/F/other.jpg", "another");
        {
            StoppedOperation replacing({"batch", "copy-replace", root + "/new/F", album, "setaside"});
            QVERIFY(replacing.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(album), 10000);
        QVERIFY(!QFileInfo::exists(album + "/F"));
        const QString source = root + "/Pictures/Trip";
        lg::test::writeFile(source + "/a.jpg", "a");
        {
            lg::MoveDeletion note(source, card + "/Trip");
            lg::test::writeFile(card + "/Trip/a.jpg", "a");   // the copy, in place
            QVERIFY(note.removing());
            note.keep();
        }
        unmountFirst();
        QVERIFY(mountSecond());
        lg::test::writeFile(dst + "/B.jpg", "card B's own");
        lg::cleanFoldersLeftByKilledRuns();
        QVERIFY(journalFolders().contains(dst));
        QVERIFY(journalFolders().contains(album));
        QCOMPARE(entries(dst), QStringList{"B.jpg"});
        QVERIFY(lg::takeStoppedMoves().isEmpty());
        QCOMPARE(moveNotes(journalPath()).size(), 1);   // it waits for card A
        unmountSecond();
        QVERIFY(mountFirst());
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(dst), QStringList{});
        QVERIFY(!journalFolders().contains(dst));
        QCOMPARE(hiddenEntries(album), QStringList{});
        QCOMPARE(lg::test::readAll(album + "/F/photo.jpg"), QByteArray("the user's photo"));
        // (This process's own entry of it stays while the process lives: its
        // Replace was undone by a rename through a placeholder there.)
        QVERIFY(!journalFolders(JournalEntries::LeftByEndedRuns).contains(album));
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.first().target, card + "/Trip");
        QVERIFY(moves.first().copyWhole);
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
    }

    // On a card whose folders everyone may write (exFAT mounted without a
    // umask: folders 0777), a copy killed while its data was being written
    // leaves, after the card was out and back and the next start, nothing
    // hidden: its partial copy, its lock and a new record half written
    // beside the lock go, as the program's own names that its journal lists,
    // whatever the folder's mode; the journal's entry goes only then. The
    // card's folder as the user's own (0755) alike.
    void aCopyKilledOnACardLeavesNothingHiddenWhateverItsFoldersModes_data()
    {
        QTest::addColumn<QString>("options");
        QTest::addColumn<int>("mode");
        QTest::newRow("everyone may write") << "umask=0" << 0777;
        QTest::newRow("the user's own") << "umask=022" << 0755;
    }
    void aCopyKilledOnACardLeavesNothingHiddenWhateverItsFoldersModes()
    {
        QFETCH(QString, options);
        QFETCH(int, mode);
        const QString root = lg::test::freshFolder(QStringLiteral("open card ") + QTest::currentDataTag());
        const QString card = root + "/CARD";
        ExfatCard exfat(root + "/card.exfat");
        if (!exfat.mountAt(card, options))
            QSKIP("This machine does not let the tests mount such a card.");
        const QString dst = card + "/DCIM";
        QVERIFY(QDir().mkpath(dst));
        struct stat st;
        QCOMPARE(::stat(raw(dst).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
        const QString source = lg::test::writeFile(root + "/src/IMG_1.jpg", QByteArray(100000, 'j'));
        {
            StoppedOperation copying({"batch", "copy", source, dst, "data"});
            QVERIFY(copying.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        const QString lock = hiddenWith(dst, QStringLiteral(".lglock-"));
        QVERIFY(!hiddenWith(dst, QStringLiteral(".IMG_1.jpg.lgcopy-")).isEmpty());
        // Killed as its record was being written anew: the new one beside the lock.
        QVERIFY(QFile::copy(dst + "/" + lock, dst + "/" + lock + ".new"));
        const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, raw(dst + "/" + lock + ".new").constData(), anHourAgo, 0), 0);
        QCOMPARE(hiddenEntries(dst).size(), 3);
        exfat.unmount();
        QVERIFY(exfat.mountAt(card, options));
        // Written first once the card is back: the driver gives them the
        // numbers that the copy and its lock had.
        for (const char *name : {"/a.jpg", "/b.jpg", "/c.jpg"})
            lg::test::writeFile(card + name, "the card's own");
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(dst), QStringList{});
        QVERIFY(!journalFolders().contains(dst));
        QCOMPARE(lg::test::readAll(source).size(), 100000);
    }
};

LG_TEST(JournalTest)
#include "test_journal.moc"
