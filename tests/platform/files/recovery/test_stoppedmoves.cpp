// The notes of moves across disks stopped in their delete step: written
// before the copy stands, told once at the next start and only when true,
// waiting for their card.
#include "tests/platform/files/recovery/LeftoversTesting.h"

#include <memory>

class StoppedMovesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A move across disks stopped in its delete step, by a quit or a kill,
    // is told at the next start, once; one that finished, or that still runs
    // elsewhere, is not. Nothing is deleted for it.
    void aMoveStoppedInItsDeleteStepIsToldOnce_data()
    {
        QTest::addColumn<QString>("stop");
        QTest::newRow("a quit") << "quit";
        QTest::newRow("a kill") << "kill";
        QTest::newRow("none") << "none";
    }
    void aMoveStoppedInItsDeleteStepIsToldOnce()
    {
        QFETCH(QString, stop);
        const QString root = lg::test::freshFolder(QStringLiteral("stopped move ") + stop);
        lg::test::writeFile(root + "/src/F/a.jpg", "a");
        lg::test::writeFile(root + "/src/F/b.jpg", "b");
        QDir().mkpath(root + "/dst");
        (void)lg::takeStoppedMoves();   // what earlier tests' kills left in the midst of moves
        if (stop == QLatin1String("kill")) {
            StoppedOperation moving({QStringLiteral("move"), root + "/src/F", root + "/dst"});
            QVERIFY(moving.stopped());
            QVERIFY(lg::takeStoppedMoves().isEmpty());   // still running
        } else {
            FaultGuard fault([&stop](lg::FileStep step, const QString &) {
                if (step == lg::FileStep::Rename)
                    return EXDEV;
                if (step == lg::FileStep::Remove && stop == QLatin1String("quit") && !lg::isShuttingDown())
                    lg::beginShutdown();
                return 0;
            });
            (void)lg::moveItem(root + "/src/F", root + "/dst");
            lg::resetShutdownForTesting();
        }
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        if (stop == QLatin1String("none")) {
            QCOMPARE(moves.size(), 0);
            QVERIFY(!QFileInfo::exists(root + "/src/F"));
            return;
        }
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.at(0).source, root + "/src/F");
        QCOMPARE(moves.at(0).target, root + "/dst/F");
        QCOMPARE(lg::test::readAll(root + "/src/F/a.jpg"), QByteArray("a"));
        QCOMPARE(lg::test::readAll(root + "/dst/F/a.jpg"), QByteArray("a"));
        QCOMPARE(lg::test::readAll(root + "/dst/F/b.jpg"), QByteArray("b"));
        QVERIFY(lg::takeStoppedMoves().isEmpty());   // told once
    }

    // The note of a move across disks stands before its copy can stand at the
    // target, so no kill leaves both places without it; a start tells a move
    // only when its items are in both places then, never naming what is not
    // there.
    void aStoppedMoveIsNotedBeforeItsCopyStandsAndToldOnlyWhenTrue_data()
    {
        QTest::addColumn<QString>("after");   // what the start finds
        QTest::addColumn<bool>("told");
        QTest::newRow("both places") << "both" << true;
        QTest::newRow("the source gone") << "source gone" << false;
        QTest::newRow("the copy not in place") << "no copy" << false;
        QTest::newRow("the replaced item at the target") << "replaced" << false;
    }
    void aStoppedMoveIsNotedBeforeItsCopyStandsAndToldOnlyWhenTrue()
    {
        QFETCH(QString, after);
        QFETCH(bool, told);
        const QString root = lg::test::freshFolder(QStringLiteral("noted move ") + after);
        const QString source = root + "/src/Clips";
        lg::test::writeFile(source + "/big1.mp4", "new 1");
        lg::test::writeFile(source + "/big2.mp4", "new 2");
        const QString target = root + "/dst/Clips";
        const bool replacing = after == QLatin1String("replaced");
        QDir().mkpath(root + "/dst");
        if (replacing)
            lg::test::writeFile(target + "/big2.mp4", "old");
        const QString journal = journalPath();
        QVERIFY(lg::takeStoppedMoves().isEmpty());
        bool notedBeforePlaced = false;
        {
            FaultGuard fault([&](lg::FileStep step, const QString &path) {
                if (step == lg::FileStep::Rename)
                    return EXDEV;
                if (step == lg::FileStep::FinalRename && path == target) {
                    notedBeforePlaced = moveNotes(journal).size() == 1;
                    if (after != QLatin1String("both") && after != QLatin1String("source gone"))
                        return ECANCELED;   // stopped before the copy stands
                }
                if (step == lg::FileStep::Remove && !lg::isShuttingDown())
                    lg::beginShutdown();
                return 0;
            });
            (void)lg::moveItem(source, root + "/dst", replacing ? lg::ConflictPolicy::Replace : lg::ConflictPolicy::KeepBoth);
            lg::resetShutdownForTesting();
        }
        QVERIFY(notedBeforePlaced);
        if (after == QLatin1String("no copy") || after == QLatin1String("replaced")) {
            // A kill there leaves the note: as that.
            lg::MoveDeletion note(source, target);
            note.keep();
        }
        if (after == QLatin1String("source gone"))
            QVERIFY(QDir(source).removeRecursively());
        QCOMPARE(moveNotes(journal).size(), 1);
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        QCOMPARE(moves.size(), told ? 1 : 0);
        QVERIFY(moveNotes(journal).isEmpty());
        if (replacing)
            QCOMPARE(lg::test::readAll(target + "/big2.mp4"), QByteArray("old"));
        if (after != QLatin1String("source gone"))
            QCOMPARE(lg::test::readAll(source + "/big2.mp4"), QByteArray("new 2"));
    }

    // Where the note cannot be written, the move removes nothing and says why.
    void aMoveWhoseNoteCannotBeWrittenRemovesNothing()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("unnoted move"));
        const QString source = lg::test::writeFile(root + "/src/a.jpg", "a");
        QDir().mkpath(root + "/dst");
        const QString state = qEnvironmentVariable("XDG_STATE_HOME");
        const QString blocked = root + "/state";
        lg::test::writeFile(blocked, "a file where the state folder would be");
        qputenv("XDG_STATE_HOME", QFile::encodeName(blocked));
        const lg::FileOpResult r = [&] {
            FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
            return lg::moveItem(source, root + "/dst");
        }();
        qputenv("XDG_STATE_HOME", QFile::encodeName(state));
        QVERIFY(!r.ok());
        QVERIFY2(r.message.contains(QStringLiteral("was not removed")), qPrintable(r.message));
        QCOMPARE(lg::test::readAll(source), QByteArray("a"));
        QCOMPARE(lg::test::readAll(root + "/dst/a.jpg"), QByteArray("a"));
    }

    // A move stopped in its delete step whose target's card is away at the
    // next start is not forgotten: its note waits for the card, and the
    // start after the card is back, at another place, tells it there.
    void aStoppedMoveWaitsForItsCardAndIsToldOnceItIsBack()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("move to card away"));
        Card card(root + "/card.img");
        if (!card.mountAt(root + "/CARD"))
            QSKIP("This machine does not let the tests mount an ext4 image.");
        lg::test::writeFile(root + "/src/Trip/a.jpg", "a");
        lg::test::writeFile(root + "/src/Trip/b.jpg", "b");
        (void)lg::takeStoppedMoves();   // what earlier tests' kills left
        {
            FaultGuard fault([](lg::FileStep step, const QString &) {
                if (step == lg::FileStep::Rename)
                    return EXDEV;
                if (step == lg::FileStep::Remove && !lg::isShuttingDown())
                    lg::beginShutdown();
                return 0;
            });
            (void)lg::moveItem(root + "/src/Trip", root + "/CARD");
            lg::resetShutdownForTesting();
        }
        QCOMPARE(moveNotes(journalPath()).size(), 1);
        card.unmount();
        QVERIFY(lg::takeStoppedMoves().isEmpty());
        QCOMPARE(moveNotes(journalPath()).size(), 1);   // waits for its card
        QVERIFY(card.mountAt(root + "/CARD1"));
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.at(0).source, root + "/src/Trip");
        QCOMPARE(moves.at(0).target, root + "/CARD1/Trip");
        QVERIFY(moves.at(0).inBothPlaces);
        QVERIFY(moveNotes(journalPath()).isEmpty());
        QCOMPARE(lg::test::readAll(root + "/CARD1/Trip/b.jpg"), QByteArray("b"));
        QCOMPARE(lg::test::readAll(root + "/src/Trip/b.jpg"), QByteArray("b"));
    }

    // A move onto a card (exFAT through FUSE, which cannot refuse to replace)
    // killed once the placeholder that holds its target's name was made,
    // before its copy took the name: after the next start nothing stands at
    // the target nor hidden beside it, the source is whole, and the start
    // says nothing of a copy put in place, whether the notes are read before
    // the card's folder is put right or after.
    void aMoveOntoACardKilledAtItsPlaceholderIsNotToldAsPutInPlace_data()
    {
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("notesFirst");
        QTest::newRow("a folder, the notes read first") << false << true;
        QTest::newRow("a folder, the notes read after") << false << false;
        QTest::newRow("a file, the notes read first") << true << true;
    }
    void aMoveOntoACardKilledAtItsPlaceholderIsNotToldAsPutInPlace()
    {
        QFETCH(bool, file);
        QFETCH(bool, notesFirst);
        const QString root = lg::test::freshFolder(QStringLiteral("move onto card ") + QTest::currentDataTag());
        ExfatCard exfat(root + "/card.exfat", root + "/CARD");
        if (!exfat.mounted())
            QSKIP("exFAT through FUSE (exfatprogs, exfat-fuse) and root are needed");
        (void)lg::takeStoppedMoves();   // what earlier tests' kills left
        const QString source = file ? lg::test::writeFile(root + "/src/clip.mov", "clip")
                                    : QFileInfo(lg::test::writeFile(root + "/src/Trip/a.jpg", "a")).absolutePath();
        const QString dst = root + "/CARD/DCIM";
        QVERIFY(QDir().mkpath(dst));
        {
            StoppedOperation moving({"batch", "move", source, dst, "placeholder"});
            QVERIFY(moving.stopped());
            QVERIFY(QFileInfo::exists(dst + "/" + QFileInfo(source).fileName()));
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
        QList<lg::StoppedMove> moves;
        if (notesFirst)
            moves = lg::takeStoppedMoves();
        lg::cleanFoldersLeftByKilledRuns();
        moves += lg::takeStoppedMoves();
        QCOMPARE(moves.size(), 0);
        QCOMPARE(entries(dst), QStringList{});
        QCOMPARE(lg::test::readAll(file ? source : source + "/a.jpg"), QByteArray(file ? "clip" : "a"));
    }

    // A note of a move onto a card (exFAT through FUSE, where numbers prove
    // nothing) waits while nothing stands at its target. An item put there
    // later, by the user or by another copy even of the same bytes, is never
    // called the move's copy put in place: it is told as an item that may not
    // be the copy, once, and the item and the source stay as they are. A
    // move killed once its copy stood is still told so.
    void aWaitingCardNoteNeverCallsAnItemPutAtItsTargetSinceItsCopy_data()
    {
        QTest::addColumn<QString>("there");   // what stands at the target at the later start
        QTest::newRow("another item") << "other";
        QTest::newRow("the same bytes, by another copy") << "same";
        QTest::newRow("the move's copy, put in place before the kill") << "copy";
    }
    void aWaitingCardNoteNeverCallsAnItemPutAtItsTargetSinceItsCopy()
    {
        QFETCH(QString, there);
        const QString root = lg::test::freshFolder(QStringLiteral("waiting note ") + QTest::currentDataTag());
        const auto card = std::make_unique<CardOfKind>(root, QStringLiteral("exfat-fuse"));
        if (card->path.isEmpty())
            QSKIP(qPrintable(card->why));
        (void)lg::takeStoppedMoves();   // what earlier tests' kills left
        const QStringList earlier = moveNotes(journalPath());   // waiting for cards of earlier tests
        const auto notesNow = [&earlier] {
            QStringList notes = moveNotes(journalPath());
            for (const QString &note : earlier)
                notes.removeOne(note);
            return notes;
        };
        const QString source = lg::test::writeFile(root + "/src/clip.mov", "clip");
        const QString dst = card->path + "/DCIM";
        const QString target = dst + "/clip.mov";
        QVERIFY(QDir().mkpath(dst));
        if (there == QLatin1String("copy")) {
            lg::MoveDeletion note(source, target);
            lg::test::writeFile(target, "clip");
            QVERIFY(note.placed());
            note.keep();   // as a kill before any original went leaves it
        } else {
            {
                StoppedOperation moving({"batch", "move", source, dst, "placeholder"});
                QVERIFY(moving.stopped());
            }
            QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
            lg::cleanFoldersLeftByKilledRuns();
            QVERIFY(lg::takeStoppedMoves().isEmpty());
            QCOMPARE(entries(dst), QStringList{});
            QCOMPARE(notesNow().size(), 1);   // waits for its card
            lg::test::writeFile(target, there == QLatin1String("same") ? "clip" : "the user's own");
        }
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        QCOMPARE(notesNow(), QStringList{});
        QCOMPARE(lg::test::readAll(source), QByteArray("clip"));
        QCOMPARE(lg::test::readAll(target), there == QLatin1String("other") ? QByteArray("the user's own")
                                                                             : QByteArray("clip"));
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.at(0).source, source);
        QCOMPARE(moves.at(0).target, target);
        QVERIFY(!moves.at(0).removalBegun && moves.at(0).inBothPlaces);
        QCOMPARE(moves.at(0).copyPlaced, there == QLatin1String("copy"));
        QCOMPARE(moves.at(0).copyWhole, there != QLatin1String("other"));
        QVERIFY(lg::takeStoppedMoves().isEmpty());   // told once
    }

    // A move stopped after its last item was removed (the source left empty,
    // or holding only empty folders) is complete, and told so: its empty
    // folders go. One whose source still holds an item is in both places.
    void aStoppedMoveWhoseSourceHoldsNoItemIsComplete_data()
    {
        QTest::addColumn<QString>("left");   // what the source holds at the next start
        QTest::addColumn<bool>("inBothPlaces");
        QTest::newRow("an empty folder") << "empty" << false;
        QTest::newRow("only empty folders") << "folders" << false;
        QTest::newRow("a photo deep down") << "photo" << true;
        QTest::newRow("a link") << "link" << true;
    }
    void aStoppedMoveWhoseSourceHoldsNoItemIsComplete()
    {
        QFETCH(QString, left);
        QFETCH(bool, inBothPlaces);
        const QString root = lg::test::freshFolder(QStringLiteral("emptied move ") + left);
        const QString source = root + "/src/Trip";
        const QString target = root + "/dst/Trip";
        lg::test::writeFile(source + "/Day 1/Morning/a.jpg", "a");
        lg::test::writeFile(source + "/Day 2/b.jpg", "b");
        (void)lg::takeStoppedMoves();
        {
            lg::MoveDeletion note(source, target);
            lg::test::writeFile(target + "/Day 1/Morning/a.jpg", "a");   // the copy, in place
            lg::test::writeFile(target + "/Day 2/b.jpg", "b");
            note.keep();   // as a kill in the delete step leaves it
        }
        QVERIFY(QFile::remove(source + "/Day 2/b.jpg"));
        if (left != QLatin1String("photo"))
            QVERIFY(QFile::remove(source + "/Day 1/Morning/a.jpg"));
        if (left == QLatin1String("empty"))
            QVERIFY(QDir(source + "/Day 1").removeRecursively() && QDir().rmdir(source + "/Day 2"));
        if (left == QLatin1String("link"))
            QCOMPARE(::symlink("a.jpg", raw(source + "/Day 1/Morning/a link").constData()), 0);
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.at(0).inBothPlaces, inBothPlaces);
        QVERIFY(!moves.at(0).emptyFolderLeft);
        QCOMPARE(QFileInfo::exists(source), inBothPlaces);
        QCOMPARE(entries(root + "/src"), inBothPlaces ? QStringList{"Trip"} : QStringList{});
        QCOMPARE(lg::test::readAll(target + "/Day 1/Morning/a.jpg"), QByteArray("a"));
        QCOMPARE(lg::test::readAll(target + "/Day 2/b.jpg"), QByteArray("b"));
        QVERIFY(lg::takeStoppedMoves().isEmpty());   // told once
    }

    // A Replace within one disk (a move or a copy, of a folder or of a file,
    // on the computer's disk or on an exFAT card) killed at any step the file
    // layer takes: after the next start's cleanup the target's name holds the
    // old item or the new one, whole; nothing of the program's stays hidden;
    // nothing is lost; and an item under any other name is one the start
    // tells of, in words that name where it is.
    void aReplaceKilledAtAnyStepLeavesNoItemUntold_data()
    {
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QString>("kind");
        QTest::addColumn<bool>("folder");
        for (const char *disk : {"temp", "exfat-fuse"}) {
            QTest::addRow("%s, a folder moved", disk) << disk << "move" << true;
            QTest::addRow("%s, a file moved", disk) << disk << "move" << false;
            QTest::addRow("%s, a folder copied", disk) << disk << "copy" << true;
        }
    }
    void aReplaceKilledAtAnyStepLeavesNoItemUntold()
    {
        QFETCH(QString, disk);
        QFETCH(QString, kind);
        QFETCH(bool, folder);
        const QString root = lg::test::freshFolder(QStringLiteral("replace killed ") + QTest::currentDataTag());
        std::unique_ptr<CardOfKind> card;   // (an optional here trips GCC's -O1 uninitialised-use warning)
        QString top = root;
        if (disk != QLatin1String("temp")) {
            card = std::make_unique<CardOfKind>(root, disk);
            if (card->path.isEmpty())
                QSKIP(qPrintable(card->why));
            top = card->path;
        }
        const QString name = folder ? QStringLiteral("F") : QStringLiteral("F.jpg");
        const auto lay = [&](const QString &at) {
            QDir(at).removeRecursively();
            if (folder) {
                lg::test::writeFile(at + "/src/F/a.jpg", "new a");
                lg::test::writeFile(at + "/src/F/sub/b.jpg", "new b");
                lg::test::writeFile(at + "/dst/F/old.jpg", "old");
            } else {
                lg::test::writeFile(at + "/src/F.jpg", "new");
                lg::test::writeFile(at + "/dst/F.jpg", "old");
            }
        };
        // What an item is: "new", "old", or what else it holds.
        const auto what = [folder](const QString &path) -> QString {
            if (!folder)
                return QString::fromLatin1(lg::test::readAll(path));
            const QStringList held = entries(path);
            if (held == QStringList{"old.jpg"} && lg::test::readAll(path + "/old.jpg") == "old")
                return QStringLiteral("old");
            if (held == QStringList{"a.jpg", "sub"} && lg::test::readAll(path + "/a.jpg") == "new a"
                && lg::test::readAll(path + "/sub/b.jpg") == "new b")
                return QStringLiteral("new");
            return QStringLiteral("partly ") + held.join(QLatin1Char(','));
        };
        const auto helper = [&](int step, const QString &at) {
            QProcess run;
            run.start(QStringLiteral(LG_FILEOPS_HELPER),
                      {"killat", QString::number(step), "replace-" + kind, at + "/src/" + name, at + "/dst"});
            run.waitForFinished(30000);
            return run.readAllStandardOutput();
        };
        (void)lg::takeStoppedReplaces();   // what earlier tests left
        lay(top + "/count");
        const QByteArray counted = helper(0, top + "/count");
        QVERIFY2(counted.startsWith("finished steps "), counted.constData());
        const int steps = counted.mid(15).trimmed().toInt();
        QCOMPARE(what(top + "/count/dst/" + name), QStringLiteral("new"));
        QStringList untold;
        for (int step = 1; step <= steps; ++step) {
            const QString at = top + "/k";
            lay(at);
            helper(step, at);
            lg::cleanFoldersLeftByKilledRuns();
            const QList<lg::StoppedReplace> told = lg::takeStoppedReplaces();
            const QString dst = at + "/dst";
            const QStringList left = entries(dst);
            QVERIFY2(hiddenEntries(dst).isEmpty(), qPrintable(QString::number(step) + ": " + left.join(", ")));
            const QString there = what(dst + "/" + name);
            QVERIFY2(there == QLatin1String("new") || there == QLatin1String("old"),
                     qPrintable(QString::number(step) + ": " + there));
            QStringList others = left;
            others.removeOne(name);
            // On a disk that keeps its numbers the records prove every step:
            // the Replace is finished or undone, never left beside.
            if (disk == QLatin1String("temp"))
                QVERIFY2(others.isEmpty(), qPrintable(QString::number(step) + ": " + others.join(", ")));
            for (const QString &other : others) {
                const auto tells = [&](const lg::StoppedReplace &r) { return r.beside == dst + "/" + other; };
                if (std::none_of(told.cbegin(), told.cend(), tells))
                    untold << QString::number(step) + ": " + other;
            }
            // What is told is so: the item named beside is the one the words
            // call it, and a Replace called finished left the new item in place.
            QVERIFY(told.size() <= 1);
            for (const lg::StoppedReplace &r : told) {
                QCOMPARE(r.target, dst + "/" + name);
                QVERIFY2(r.text.contains(QStringLiteral("“%1”").arg(r.target)), qPrintable(r.text));
                if (r.beside.isEmpty()) {
                    QCOMPARE(there, QStringLiteral("new"));
                    QVERIFY2(r.text.contains(QLatin1String("finished")), qPrintable(r.text));
                    continue;
                }
                QVERIFY2(r.text.contains(QStringLiteral("“%1”").arg(r.beside)), qPrintable(r.text));
                const bool saysNew = r.text.contains(QLatin1String("was not replaced"));
                QCOMPARE(what(r.beside), saysNew ? QStringLiteral("new") : QStringLiteral("old"));
            }
            // Nothing is lost: the new item is at the target or still at its
            // source (a move not yet begun, or a copy).
            const bool newThere = there == QLatin1String("new")
                                  || std::any_of(others.cbegin(), others.cend(),
                                                 [&](const QString &o) { return what(dst + "/" + o) == "new"; });
            QVERIFY2(newThere || what(at + "/src/" + name) == QLatin1String("new"), qPrintable(QString::number(step)));
            if (kind == QLatin1String("copy"))
                QCOMPARE(what(at + "/src/" + name), QStringLiteral("new"));
        }
        QVERIFY2(untold.isEmpty(), qPrintable(QStringLiteral("%1 of %2 kill points: ").arg(untold.size()).arg(steps)
                                              + untold.join(QStringLiteral("; "))));
    }

    // An item set aside by a Replace or a rename that a kill stopped, whose
    // name another item has taken since, stays beside it under a numbered
    // name, and the start says where, once; an item gone again before the
    // start tells it is not named.
    void anItemSetAsideThatCannotGoBackIsToldWhereItIs_data()
    {
        QTest::addColumn<bool>("goneBeforeTold");
        QTest::newRow("told") << false;
        QTest::newRow("gone before it is told") << true;
    }
    void anItemSetAsideThatCannotGoBackIsToldWhereItIs()
    {
        QFETCH(bool, goneBeforeTold);
        const QString root = lg::test::freshFolder(QStringLiteral("set aside ") + QTest::currentDataTag());
        const QString dst = root + "/dst";
        const QByteArray temporary = QByteArray(".F.lgold-") + token;
        lg::test::writeFile(dst + "/" + QString::fromLatin1(temporary) + "/old.jpg", "old");
        lg::test::writeFile(dst + "/F/new.jpg", "new");
        lg::test::writeFile(dst + "/.lglock-" + token, record("old", "F", temporary));
        lg::test::writeFile(journalPath() + "/fedcba9876543210", journalEntry(dst));
        (void)lg::takeStoppedReplaces();   // what earlier tests left
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(entries(dst), (QStringList{"F", "F 2"}));
        QCOMPARE(lg::test::readAll(dst + "/F 2/old.jpg"), QByteArray("old"));
        QCOMPARE(lg::test::readAll(dst + "/F/new.jpg"), QByteArray("new"));
        if (goneBeforeTold)
            QVERIFY(QDir(dst + "/F 2").removeRecursively());
        const QList<lg::StoppedReplace> told = lg::takeStoppedReplaces();
        QCOMPARE(told.size(), goneBeforeTold ? 0 : 1);
        if (!goneBeforeTold) {
            QCOMPARE(told.at(0).target, dst + "/F");
            QCOMPARE(told.at(0).beside, dst + "/F 2");
            QVERIFY2(told.at(0).text.contains(QStringLiteral("“%1/F” ").arg(dst))
                         && told.at(0).text.contains(QStringLiteral("“%1/F 2”").arg(dst)),
                     qPrintable(told.at(0).text));
        }
        QVERIFY(lg::takeStoppedReplaces().isEmpty());   // told once
    }

    // A note that is also another file (a hard link to it) is never obeyed,
    // whole or half written: nothing is told of it, the empty folders of the
    // source it names stay, and neither it nor the file it shares is touched.
    void aMoveNoteWithAnotherNameIsNeverObeyed_data()
    {
        QTest::addColumn<QString>("note");
        QTest::newRow("a note") << "move-0123456789abcdef";
        QTest::newRow("a note half written") << ".move-0123456789abcdef.new";
    }
    void aMoveNoteWithAnotherNameIsNeverObeyed()
    {
        QFETCH(QString, note);
        const QString root = lg::test::freshFolder(QStringLiteral("linked note ") + QTest::currentDataTag());
        const QString source = root + "/src/Trip";
        QVERIFY(QDir().mkpath(source + "/Day 1"));
        lg::test::writeFile(root + "/dst/Trip/a.jpg", "a");
        (void)lg::takeStoppedMoves();   // what earlier tests left
        const QByteArray text = "[Lumen Gallery move]\nSource=" + raw(source).toPercentEncoding("/") + "\nTarget="
                                + raw(root + "/dst/Trip").toPercentEncoding("/") + "\nStep=removing\n";
        QVERIFY(QDir().mkpath(journalPath()));
        const QString other = lg::test::writeFile(QFileInfo(journalPath()).absolutePath() + "/someone's file", text);
        const QString path = journalPath() + "/" + note;
        QCOMPARE(::link(raw(other).constData(), raw(path).constData()), 0);
        const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, raw(path).constData(), anHourAgo, 0), 0);
        QVERIFY(lg::takeStoppedMoves().isEmpty());
        QVERIFY(QFileInfo::exists(source + "/Day 1"));
        QVERIFY(QFileInfo::exists(path));
        QCOMPARE(lg::test::readAll(other), text);
        QFile::remove(path);
        QFile::remove(other);
    }

    void aHalfWrittenMoveNoteGoes_data()
    {
        QTest::addColumn<QString>("note");
        QTest::addColumn<bool>("gone");
        QTest::newRow("left by a kill") << "old" << true;
        QTest::newRow("empty, left by a kill") << "old empty" << true;
        QTest::newRow("being written now") << "new" << false;
        QTest::newRow("held by its writer") << "held" << false;
    }
    void aHalfWrittenMoveNoteGoes()
    {
        QFETCH(QString, note);
        QFETCH(bool, gone);
        const QString root = lg::test::freshFolder(QStringLiteral("half note ") + note);
        QVERIFY(QDir().mkpath(journalPath()));
        const QString path = journalPath() + "/.move-0123456789abcdef.new";
        lg::test::writeFile(path, note.contains(QLatin1String("empty"))
                                      ? QByteArray()
                                      : "[Lumen Gallery move]\nSource=" + raw(root + "/src/F").toPercentEncoding("/") + "\n");
        if (note != QLatin1String("new")) {
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, raw(path).constData(), anHourAgo, 0), 0);
        }
        int held = -1;
        if (note == QLatin1String("held")) {
            held = ::open(raw(path).constData(), O_RDONLY | O_CLOEXEC);
            QVERIFY(held >= 0 && ::flock(held, LOCK_EX) == 0);
        }
        (void)lg::takeStoppedMoves();
        if (held >= 0)
            ::close(held);
        QCOMPARE(QFileInfo::exists(path), !gone);
        QFile::remove(path);
    }
};

LG_TEST(StoppedMovesTest)
#include "test_stoppedmoves.moc"
