// The records beside temporaries: a folder opened up gets its mode back, a
// placeholder a kill left gives its name back, and a record counts only when
// it is exactly what the program writes and acts only inside its own folder.
#include "tests/platform/files/recovery/LeftoversTesting.h"

class FolderRecordsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Where a file system lacks RENAME_NOREPLACE, a name is held by an empty
    // placeholder of no mode bits before the rename onto it; one a kill left
    // (from before this run) gives its name back: at the target, hidden under
    // a lock beside it, and in a Trash's files/ beside its .trashinfo. The
    // user's own empty folder, or a placeholder made just now, stays.
    void aPlaceholderLeftByAKillGivesItsNameBack_data()
    {
        QTest::addColumn<QString>("where");
        QTest::addColumn<QString>("placeholder");   // "folder", "file", "recent", "user's", "not empty"
        QTest::addColumn<bool>("gone");
        QTest::newRow("a folder's name") << "target" << "folder" << true;
        QTest::newRow("a file's name") << "target" << "file" << true;
        QTest::newRow("a name held just now") << "target" << "recent" << false;
        QTest::newRow("the user's empty folder") << "target" << "user's" << false;
        QTest::newRow("a folder with something in it") << "target" << "not empty" << false;
        QTest::newRow("hidden, under its lock") << "hidden" << "folder" << true;
        QTest::newRow("hidden, held just now") << "hidden" << "recent" << false;
        QTest::newRow("in the Trash") << "trash" << "folder" << true;
        QTest::newRow("in the Trash, held just now") << "trash" << "recent" << false;
    }
    void aPlaceholderLeftByAKillGivesItsNameBack()
    {
        QFETCH(QString, where);
        QFETCH(QString, placeholder);
        QFETCH(bool, gone);
        const QString root = lg::test::freshFolder(QStringLiteral("placeholder ") + where + " " + placeholder);
        const QString name = QStringLiteral("AX ") + where + " " + placeholder;
        const bool file = placeholder == QLatin1String("file");
        const QString source = file ? lg::test::writeFile(root + "/src/" + name, "mine")
                                    : QFileInfo(lg::test::writeFile(root + "/src/" + name + "/a.jpg", "mine")).absolutePath();
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        QString held = dst + "/" + name;
        QString lock;
        if (where == QLatin1String("hidden")) {
            lg::test::writeFile(dst + "/" + name + "/old.jpg", "the only copy");
            const std::optional<lg::FileIdentity> id = lg::fileIdentity(dst + "/" + name);
            QVERIFY(id);
            const QByteArray temporary = "." + raw(name) + ".lgold-" + token;
            held = dst + "/" + QString::fromUtf8(temporary);
            lock = lg::test::writeFile(dst + "/.lglock-" + token,
                                       record("old", raw(name).toPercentEncoding(), temporary.toPercentEncoding())
                                           + "Made=" + QByteArray::number(id->device) + ":"
                                           + QByteArray::number(id->inode) + ":" + QByteArray::number(id->type) + "\n");
        } else if (where == QLatin1String("trash")) {
            const QString trash = QDir::cleanPath(lg::trashFolderFor(source));
            held = trash + "/files/" + name;
            const QString info = lg::test::writeFile(
                trash + "/info/" + name + ".trashinfo",
                "[Trash Info]\nPath=" + raw(source).toPercentEncoding("/")
                    + "\nDeletionDate=2026-01-02T03:04:05\nX-Lumen-Gallery=1\n");
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, raw(info).constData(), anHourAgo, 0), 0);
        }
        if (file)
            lg::test::writeFile(held, QByteArray());
        else
            QVERIFY(QDir().mkpath(held));
        if (placeholder == QLatin1String("not empty"))
            lg::test::writeFile(held + "/kept.txt", "kept");
        QCOMPARE(::chmod(raw(held).constData(), placeholder == QLatin1String("user's") ? 0700 : 0), 0);
        if (placeholder != QLatin1String("recent")) {
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, raw(held).constData(), anHourAgo, 0), 0);
        }
        if (where == QLatin1String("target")) {
            const lg::FileOpResult r = lg::copyItem(source, dst);
            QCOMPARE(r.ok(), gone);
            if (gone)
                QCOMPARE(lg::test::readAll(dst + "/" + name + (file ? "" : "/a.jpg")), QByteArray("mine"));
            else
                QCOMPARE(r.error, lg::FileOpError::TargetExists);
        } else if (where == QLatin1String("hidden")) {
            writeInto(dst, QStringLiteral("N"));
            QCOMPARE(QFileInfo::exists(held), !gone);
            QCOMPARE(QFileInfo::exists(lock), !gone);
            QCOMPARE(lg::test::readAll(dst + "/" + name + "/old.jpg"), QByteArray("the only copy"));
        } else {
            const lg::FileOpResult r = lg::moveToTrash(source);
            QVERIFY2(r.ok(), qPrintable(r.message));
            QCOMPARE(QFileInfo(r.target).fileName(), gone ? name : name + " 2");
        }
        if (!gone)
            ::chmod(raw(held).constData(), 0700);
    }

    // A read-only folder opened up for a move or a removal and left so by a
    // kill gets its own mode back at the next start, as long as it still has
    // exactly the mode it was given; the record goes either way.
    void aFolderOpenedUpGetsItsModeBackAfterAKill_data()
    {
        QTest::addColumn<QString>("how");   // the helper's mode
        QTest::addColumn<int>("mode");
        QTest::addColumn<int>("given");
        QTest::addColumn<int>("meanwhile");   // a mode set after the kill; 0: none
        QTest::newRow("a move") << "readonly" << 0555 << 0755 << 0;
        QTest::newRow("a removal") << "removal" << 0500 << 0700 << 0;
        QTest::newRow("a move, its mode changed since") << "readonly" << 0555 << 0755 << 0750;
    }
    void aFolderOpenedUpGetsItsModeBackAfterAKill()
    {
        QFETCH(QString, how);
        QFETCH(int, mode);
        QFETCH(int, given);
        QFETCH(int, meanwhile);
        const bool asUser = how == QLatin1String("removal");
        if (asUser && ::geteuid() != 0)
            QSKIP("Playing an ordinary user needs root");
        const QString root = lg::test::freshFolder(QStringLiteral("opened up ") + QTest::currentDataTag());
        const QString folder = root + "/src/Locked";
        lg::test::writeFile(folder + "/photo.jpg", "photo");
        QDir().mkpath(root + "/dst");
        // The ordinary user keeps a journal of its own.
        const QByteArray state = qgetenv("XDG_STATE_HOME");
        const auto stateBack = qScopeGuard([state] { qputenv("XDG_STATE_HOME", state); });
        if (asUser) {
            const QString own = root + "/state";
            QDir().mkpath(own);
            qputenv("XDG_STATE_HOME", raw(own));
            lg::test::handOver(root);
        }
        QCOMPARE(::chmod(raw(folder).constData(), mode_t(mode)), 0);
        const auto modeOf = [](const QString &path) {
            struct stat st;
            return ::lstat(raw(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        {
            StoppedOperation opening(asUser ? QStringList{how, folder} : QStringList{how, folder, root + "/dst"});
            QVERIFY(opening.stopped());
            QCOMPARE(modeOf(folder), given);
        }
        if (meanwhile)
            QCOMPARE(::chmod(raw(folder).constData(), mode_t(meanwhile)), 0);
        {
            lg::test::AsOrdinaryUser user(asUser);
            lg::cleanFoldersLeftByKilledRuns();
        }
        QCOMPARE(modeOf(folder), meanwhile ? meanwhile : mode);
        QCOMPARE(entries(root + "/src"), QStringList{"Locked"});   // the record is gone too
        QCOMPARE(lg::test::readAll(folder + "/photo.jpg"), QByteArray("photo"));
        ::chmod(raw(folder).constData(), 0755);
    }

    // The record of a folder opened up, or of a placeholder, counts only when
    // it is exactly as the program writes it and names what stands there: the
    // mode is only ever set back (never widened), and only an empty item that
    // is the placeholder recorded, whose item never left where it came from,
    // goes.
    void recordsOfOpenedFoldersAndPlaceholdersCountOnlyWhenExact_data()
    {
        QTest::addColumn<QString>("kind");     // "opened" or "placeholder"
        QTest::addColumn<QString>("change");   // how the planted record differs from an exact one
        QTest::addColumn<bool>("acted");
        QTest::newRow("opened up, exact") << "opened" << "" << true;
        QTest::newRow("opened up, renamed within its folder") << "opened" << "moved" << true;
        // A record names only what lies in its own folder.
        QTest::newRow("opened up, named by a path") << "opened" << "path" << false;
        QTest::newRow("opened up, a mode wider than the folder's") << "opened" << "wider" << false;
        QTest::newRow("opened up, another folder") << "opened" << "identity" << false;
        QTest::newRow("opened up, an extra line") << "opened" << "extra" << false;
        QTest::newRow("placeholder, exact") << "placeholder" << "" << true;
        QTest::newRow("placeholder, its mode changed since") << "placeholder" << "mode" << false;
        QTest::newRow("placeholder, another item") << "placeholder" << "identity" << false;
        QTest::newRow("placeholder, not empty") << "placeholder" << "full" << false;
        QTest::newRow("placeholder, no identity yet, older") << "placeholder" << "unmade" << true;
        // Older and empty, but with modes a placeholder never has: the user's own.
        QTest::newRow("placeholder, no identity yet, the user's folder") << "placeholder" << "unmade, user's" << false;
        QTest::newRow("placeholder, no identity yet, made just now") << "placeholder" << "recent" << false;
        QTest::newRow("placeholder, lines ending in CR LF") << "placeholder" << "crlf" << false;
        // A copy killed once its temporary was complete: the placeholder's item
        // is that temporary, which the copy's own record removes (whichever of
        // the two locks the folder lists first).
        QTest::newRow("placeholder of a copy") << "placeholder" << "copy" << true;
        QTest::newRow("placeholder of a copy, tokens swapped") << "placeholder" << "copy swapped" << true;
        // A record with another name too is someone's file linked under a
        // lock's name (another user can link the user's writable file so in
        // a shared sticky folder): never obeyed, and left where it is.
        QTest::newRow("opened up, a link to another file") << "opened" << "linked" << false;
        QTest::newRow("placeholder, a link to another file") << "placeholder" << "linked" << false;
        // Another card's record (a copy of the card, the same device number):
        // the volume is compared whatever the device says.
        QTest::newRow("opened up, another card's volume") << "opened" << "volume" << false;
        QTest::newRow("placeholder, another card's volume") << "placeholder" << "volume" << false;
    }
    void recordsOfOpenedFoldersAndPlaceholdersCountOnlyWhenExact()
    {
        QFETCH(QString, kind);
        QFETCH(QString, change);
        QFETCH(bool, acted);
        const QString root = lg::test::freshFolder(QStringLiteral("planted ") + QTest::currentDataTag());
        const QString folder = root + "/dst";
        const QString item = folder + "/T";
        QVERIFY(QDir().mkpath(item));
        if (change == QLatin1String("full"))
            lg::test::writeFile(item + "/kept.jpg", "kept");
        lg::test::writeFile(root + "/src/T/a.jpg", "a");
        // A placeholder is made with no mode bits (where the disk keeps modes).
        const bool asMade = kind == QLatin1String("placeholder")
                            && (change == QLatin1String("unmade") || change == QLatin1String("recent"));
        QCOMPARE(::chmod(raw(item).constData(), asMade ? lg::placeholderMode : 0755), 0);
        if (change != QLatin1String("recent")) {
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QCOMPARE(::utimensat(AT_FDCWD, raw(item).constData(), anHourAgo, 0), 0);
        }
        struct stat st;
        QCOMPARE(::lstat(raw(item).constData(), &st), 0);
        const quint64 inode = quint64(st.st_ino) + (change == QLatin1String("identity") ? 1 : 0);
        const QByteArray identity = QByteArray::number(quint64(st.st_dev)) + ":" + QByteArray::number(inode);
        QByteArray text;
        if (kind == QLatin1String("opened")) {
            const bool moved = change == QLatin1String("moved") || change == QLatin1String("path");
            text = "[Lumen Gallery opened folder]\nName=" + QByteArray(moved ? "Gone" : "T") + "\nFolder=" + identity
                   + "\nMode=" + QByteArray(change == QLatin1String("wider") ? "511" : "365") + "\nGiven=493\n";
            if (change == QLatin1String("volume"))
                text += "Volume=uuid:0000-CA5D\n";
            if (change == QLatin1String("path"))
                text += "MovedTo=" + raw(item).toPercentEncoding("/") + "\n";
        } else {
            text = "[Lumen Gallery placeholder]\nName=T\n";
            if (!change.startsWith(QLatin1String("unmade")) && change != QLatin1String("recent"))
            {
                const std::optional<lg::FileIdentity> id = lg::fileIdentity(item);
                QVERIFY(id);
                text += "Made=" + QByteArray::number(id->device) + ":" + QByteArray::number(inode - st.st_ino + id->inode)
                        + ":" + QByteArray::number(id->type) + "\nMode=" + (change == QLatin1String("mode") ? "448" : "493")
                        + "\n";
                if (change == QLatin1String("volume"))
                    text += "Volume=uuid:0000-CA5D\n";
            }
        }
        if (change == QLatin1String("extra"))
            text += "Extra=1\n";
        if (change == QLatin1String("crlf"))
            text.replace("\n", "\r\n");
        const bool swapped = change == QLatin1String("copy swapped");
        const QByteArray copyToken = swapped ? QByteArray(token) : QByteArray("fedcba9876543210");
        const QByteArray recordToken = swapped ? QByteArray("fedcba9876543210") : QByteArray(token);
        const QString copied = folder + "/.T.lgcopy-" + QString::fromLatin1(copyToken);
        const bool ofACopy = change.startsWith(QLatin1String("copy"));
        if (ofACopy)
            lg::test::writeFile(copied + "/a.jpg", "a");
        const auto writeCopyRecord = [&] {
            const std::optional<lg::FileIdentity> id = lg::fileIdentity(copied);
            QVERIFY(id);
            lg::test::writeFile(folder + "/.lglock-" + QString::fromLatin1(copyToken),
                                record("copy", "T", ".T.lgcopy-" + copyToken) + "Made=" + QByteArray::number(id->device)
                                    + ":" + QByteArray::number(id->inode) + ":" + QByteArray::number(id->type) + "\n");
        };
        if (ofACopy)
            writeCopyRecord();
        const QString lock = folder + "/.lglock-" + QString::fromLatin1(recordToken);
        if (change == QLatin1String("linked")) {
            const QString victims = lg::test::writeFile(folder + "/victim's notes.txt", text);
            QCOMPARE(::link(raw(victims).constData(), raw(lock).constData()), 0);
        } else {
            lg::test::writeFile(lock, text);
        }
        writeInto(folder, QStringLiteral("N"));   // the folder is read before its first temporary
        if (ofACopy)
            QCOMPARE(entries(folder), QStringList{"N"});
        if (kind == QLatin1String("opened")) {
            QCOMPARE(::lstat(raw(item).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 07777), acted ? 0555 : 0755);
        } else {
            QCOMPARE(QFileInfo::exists(item), !acted);
        }
        // An exact record goes whatever it found; anything else is not ours and stays.
        const bool exact = change != QLatin1String("extra") && change != QLatin1String("crlf")
                           && change != QLatin1String("wider") && change != QLatin1String("path")
                           && change != QLatin1String("linked");
        QCOMPARE(QFileInfo::exists(lock), !exact);
        ::chmod(raw(item).constData(), 0755);
    }

    // Thousands of records in one folder (a card others wrote to, a shared
    // folder) cost the first write into it a look at each, no more: the
    // folder is listed once for all the records that name a folder that is
    // no longer under its name, and its volume is read once.
    void manyRecordsInOneFolderCostTheFirstWriteOneLookEach()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("many records")) + "/dst";
        QVERIFY(QDir().mkpath(folder));
        struct stat st;
        QCOMPARE(::lstat(raw(folder).constData(), &st), 0);
        constexpr int records = 4000;
        QElapsedTimer planting;   // the yardstick: a busy machine slows both alike
        planting.start();
        for (int i = 0; i < records; ++i) {
            // Folders opened up and renamed since (each sends the cleanup
            // looking beyond its own name), and placeholders of another volume.
            const QByteArray identity = QByteArray::number(quint64(st.st_dev)) + ":" + QByteArray::number(1000000000 + i);
            const QByteArray text = i % 2 == 0
                ? "[Lumen Gallery opened folder]\nName=Gone-" + QByteArray::number(i) + "\nFolder=" + identity
                      + "\nMode=365\nGiven=493\n"
                : "[Lumen Gallery placeholder]\nName=Gone-" + QByteArray::number(i) + "\nMade=" + identity
                      + ":16384\nMode=0\nVolume=uuid:0000-CA5D\n";
            lg::test::writeFile(folder + "/.lglock-" + QString::number(0x1000000000000000ull + quint64(i), 16), text);
        }
        const qint64 planted = planting.elapsed();
        QElapsedTimer timer;
        timer.start();
        writeInto(folder, QStringLiteral("N"));   // the folder is read before its first temporary
        const qint64 elapsed = timer.elapsed();
        qInfo("%d records: written in %lld ms, the first write took %lld ms", records, planted, elapsed);
        QCOMPARE(entries(folder), QStringList{"N"});   // each exact record went
        // A look at each is of the order of writing each; a listing of the
        // folder for each is thousands of times that.
        QVERIFY2(elapsed < 4 * planted + 1000, qPrintable(QStringLiteral("%1 ms").arg(elapsed)));
    }

    // On a disk that keeps no modes and cannot refuse to replace (exFAT through
    // FUSE), a move or a copy killed right after the placeholder that holds its
    // target's name was made leaves nothing at the target after the next start
    // (nor the copy's temporary), also once the card was out and back (its
    // driver numbers its files anew then), while the card's own empty folder
    // stays; an item that did arrive there stays.
    void aPlaceholderOnADiskWithoutModesGoesAfterAKill_data()
    {
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("copy");
        QTest::addColumn<bool>("arrived");   // the rename happened after all
        QTest::addColumn<bool>("putBack");   // the card was out and back before the start
        QTest::newRow("a folder") << false << false << false << false;
        QTest::newRow("a file") << true << false << false << false;
        QTest::newRow("a copied folder") << false << true << false << false;
        QTest::newRow("a copied file") << true << true << false << false;
        QTest::newRow("a folder that arrived") << false << false << true << false;
        QTest::newRow("a folder, the card out and back") << false << false << false << true;
        QTest::newRow("a file, the card out and back") << true << false << false << true;
        QTest::newRow("a copied folder, the card out and back") << false << true << false << true;
    }
    void aPlaceholderOnADiskWithoutModesGoesAfterAKill()
    {
        QFETCH(bool, file);
        QFETCH(bool, copy);
        QFETCH(bool, arrived);
        QFETCH(bool, putBack);
        const QString root = lg::test::freshFolder(QStringLiteral("exfat ") + QTest::currentDataTag());
        const QString card = root + "/card";
        ExfatCard exfat(root + "/card.img", card);
        if (!exfat.mounted())
            QSKIP("exFAT through FUSE (exfatprogs, exfat-fuse) and root are needed");
        const QString source = file ? lg::test::writeFile(card + "/src/clip.mov", "clip")
                                    : QFileInfo(lg::test::writeFile(card + "/src/Album/a.jpg", "a")).absolutePath();
        const QString target = card + "/dst/" + QFileInfo(source).fileName();
        QDir().mkpath(card + "/dst");
        {
            StoppedOperation moving({"batch", copy ? "copy" : "move", source, card + "/dst", "placeholder"});
            QVERIFY(moving.stopped());
            QVERIFY(QFileInfo::exists(target));
            QVERIFY(QFileInfo::exists(source));
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(card + "/dst"), 10000);
        if (putBack) {
            exfat.unmount();
            QVERIFY(exfat.mountAt(card));
            // The card's own empty folder, looked at first: it may get the
            // number the placeholder had.
            QVERIFY(QDir().mkpath(card + "/dst/Empty"));
        }
        if (arrived) {
            QVERIFY(QDir(target).removeRecursively());   // the placeholder, with what marks it
            QCOMPARE(::rename(raw(source).constData(), raw(target).constData()), 0);
        }
        lg::cleanFoldersLeftByKilledRuns();
        if (arrived) {
            QCOMPARE(lg::test::readAll(target + "/a.jpg"), QByteArray("a"));
        } else {
            QVERIFY(!QFileInfo::exists(target));
            QCOMPARE(lg::test::readAll(file ? source : source + "/a.jpg"), QByteArray(file ? "clip" : "a"));
        }
        QCOMPARE(hiddenEntries(card + "/dst"), QStringList{});
        QCOMPARE(QFileInfo::exists(card + "/dst/Empty"), putBack);
    }

    // The records beside temporaries name the places they need by where
    // those lie on the same volume, not by a path of one mount: a kill on a
    // card that comes back at another place is put right there, as the
    // journal finds it there: a placeholder goes, and a read-only folder
    // opened up gets its mode back, where the move put it or where the user
    // renamed it since.
    void aRecordOnACardBackAtAnotherPlaceIsSettledThere_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("a placeholder of a move") << "placeholder";
        QTest::newRow("a folder opened up and moved") << "moved";
        QTest::newRow("a folder opened up, then renamed by the user") << "renamed";
    }
    void aRecordOnACardBackAtAnotherPlaceIsSettledThere()
    {
        QFETCH(QString, kind);
        const QString root = lg::test::freshFolder(QStringLiteral("record on card ") + kind);
        Card card(root + "/card.img");
        if (!card.mountAt(root + "/CARD"))
            QSKIP("This machine does not let the tests mount an ext4 image.");
        const QString name = kind == QLatin1String("placeholder") ? QStringLiteral("Album") : QStringLiteral("Locked");
        lg::test::writeFile(root + "/CARD/src/" + name + "/a.jpg", "a");
        QDir().mkpath(root + "/CARD/dst");
        const bool placeholder = kind == QLatin1String("placeholder");
        if (!placeholder)
            QCOMPARE(::chmod(raw(root + "/CARD/src/" + name).constData(), 0555), 0);
        {
            StoppedOperation stopped(placeholder ? QStringList{"placeholder", root + "/CARD/src/Album", root + "/CARD/dst", "refused"}
                                                 : QStringList{"readonly", root + "/CARD/src/Locked", root + "/CARD/dst"});
            QVERIFY(stopped.stopped());
        }
        QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(root + "/CARD/dst") && locksAreFree(root + "/CARD/src"), 10000);
        if (kind == QLatin1String("moved"))   // killed right after its rename
            QCOMPARE(::rename(raw(root + "/CARD/src/Locked").constData(), raw(root + "/CARD/dst/Locked").constData()), 0);
        card.unmount();
        QVERIFY(card.mountAt(root + "/CARD1"));
        const QString now = root + "/CARD1";
        if (kind == QLatin1String("renamed"))
            QCOMPARE(::rename(raw(now + "/src/Locked").constData(), raw(now + "/src/Kept").constData()), 0);
        lg::cleanFoldersLeftByKilledRuns();
        const auto modeOf = [](const QString &path) {
            struct stat st;
            return ::lstat(raw(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        if (placeholder) {
            QVERIFY(!QFileInfo::exists(now + "/dst/Album"));
            QCOMPARE(lg::test::readAll(now + "/src/Album/a.jpg"), QByteArray("a"));
        } else {
            const QString folder = kind == QLatin1String("moved") ? now + "/dst/Locked" : now + "/src/Kept";
            QCOMPARE(modeOf(folder), 0555);
            QCOMPARE(lg::test::readAll(folder + "/a.jpg"), QByteArray("a"));
            ::chmod(raw(folder).constData(), 0755);
        }
        QCOMPARE(hiddenEntries(now + "/src"), QStringList{});
        QCOMPARE(hiddenEntries(now + "/dst"), QStringList{});
    }

    // A note of a move half written by a process killed before it was in
    // place names nothing: it goes at the next start, once nobody holds it
    // and it is older than the process that looks; a newer one or one held
    // is left to its writer.
    // A record on a card is input: an "opened folder" record acts only on
    // what lies inside the folder it was written in, on that folder's volume,
    // reached by handle without following a link, and only where that is
    // exactly the folder recorded with the mode recorded. Run as an ordinary
    // user (its own uid, no privilege), planted records that name the user's
    // own folders outside the card by an absolute path, by "..", through a
    // link on the card, or by inode among another folder's entries with a
    // made-up device leave them as they are.
    void aPlantedRecordActsOnlyInsideItsOwnFolder_data()
    {
        QTest::addColumn<QString>("how");
        QTest::addColumn<QString>("named");   // below the test's root
        QTest::addColumn<int>("mode");        // named's mode afterwards
        QTest::newRow("by an absolute path") << "absolute" << "home/Private" << 0700;
        QTest::newRow("by ..") << "up" << "home" << 0755;
        QTest::newRow("through a link on the card") << "link" << "home/Documents" << 0755;
        QTest::newRow("by inode among a folder's entries, a made-up device") << "inode" << "home/Private" << 0700;
        QTest::newRow("its own folder's item, exactly as recorded") << "own" << "card/DCIM/Locked" << 0555;
        QTest::newRow("its own folder's item, a made-up device") << "own, made up" << "card/DCIM/Locked" << 0755;
    }
    void aPlantedRecordActsOnlyInsideItsOwnFolder()
    {
        QFETCH(QString, how);
        QFETCH(QString, named);
        QFETCH(int, mode);
        if (::geteuid() != 0)
            QSKIP("Playing an ordinary user needs root");
        const QString root = lg::test::freshFolder(QStringLiteral("planted outside ") + how);
        const QString card = root + "/card/DCIM";
        for (const QString &folder : {root + "/home/Private", root + "/home/Documents", card + "/Locked"})
            QVERIFY(QDir().mkpath(folder));
        QCOMPARE(::chmod(raw(root + "/home").constData(), 0755), 0);
        QCOMPARE(::chmod(raw(root + "/home/Private").constData(), 0700), 0);
        QCOMPARE(::chmod(raw(root + "/home/Documents").constData(), 0755), 0);
        QCOMPARE(::chmod(raw(card + "/Locked").constData(), 0755), 0);
        QCOMPARE(::symlink("../../home", raw(card + "/away").constData()), 0);
        struct stat st;
        QCOMPARE(::lstat(raw(root + "/" + named).constData(), &st), 0);
        const bool madeUp = how == QLatin1String("inode") || how == QLatin1String("own, made up");
        const bool own = how.startsWith(QLatin1String("own"));
        const QByteArray device = madeUp ? QByteArray("12345") : QByteArray::number(quint64(st.st_dev));
        const QByteArray identity = device + ":" + QByteArray::number(quint64(st.st_ino));
        const int now = int(st.st_mode & 07777);
        // The mode the record says it gave (the one the folder has now) and
        // the narrower one it says the folder had.
        const QByteArray modes = "\nMode=" + QByteArray::number(now == 0700 ? 0 : now == 0755 && !own ? 055 : 0555)
                                 + "\nGiven=" + QByteArray::number(now) + "\n";
        QByteArray text = "[Lumen Gallery opened folder]\nName=" + QByteArray(own ? "Locked" : "Gone")
                          + "\nFolder=" + identity + modes;
        if (how == QLatin1String("absolute"))
            text += "MovedTo=" + raw(root + "/home/Private").toPercentEncoding("/") + "\n";
        else if (how == QLatin1String("up"))
            text += "MovedTo=../../home\n";
        else if (how == QLatin1String("link"))
            text += "MovedTo=away/Documents\n";
        else if (how == QLatin1String("inode"))
            text += "MovedTo=../../home/Nothing\n";
        const QString lock = lg::test::writeFile(card + "/.lglock-" + QString::fromLatin1(token), text);
        lg::test::handOver(root);
        QProcess cleaning;
        cleaning.start(QStringLiteral(LG_FILEOPS_HELPER), {QStringLiteral("cleanas"), card});
        QVERIFY(cleaning.waitForFinished(20000));
        if (cleaning.exitCode() == 77)
            QSKIP("No other user can be played here");
        QCOMPARE(cleaning.exitCode(), 0);
        QCOMPARE(::lstat(raw(root + "/" + named).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), mode);
        for (const QString &folder : {root + "/home", root + "/home/Private", root + "/home/Documents"}) {
            QCOMPARE(::lstat(raw(folder).constData(), &st), 0);
            QCOMPARE(int(st.st_mode & 07777), folder.endsWith(QLatin1String("Private")) ? 0700 : 0755);
        }
        // A record that names anything outside is not ours and stays; an exact one goes.
        QCOMPARE(QFileInfo::exists(lock), !own);
    }

    // On a card that keeps no modes and numbers its files afresh at each
    // mount (exFAT), nothing but the exact identity recorded tells a
    // placeholder from the card's own empty folder or empty file: planted
    // placeholder records (an older version's, one without identity, one
    // naming another item) leave them where they are.
    void placeholderRecordsNeverTakeACardsOwnEmptyItems_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("planted");
        for (const char *name : {"Album", "notes.txt"}) {
            QTest::addRow("%s, an older version's record", name) << QString::fromLatin1(name) << "older";
            QTest::addRow("%s, no identity", name) << QString::fromLatin1(name) << "unmade";
            QTest::addRow("%s, another item", name) << QString::fromLatin1(name) << "identity";
            // The card's driver gave the card's own item the number recorded:
            // on a card no number is an identity.
            QTest::addRow("%s, its very identity", name) << QString::fromLatin1(name) << "exact";
        }
    }
    void placeholderRecordsNeverTakeACardsOwnEmptyItems()
    {
        QFETCH(QString, name);
        QFETCH(QString, planted);
        const QString root = lg::test::freshFolder(QStringLiteral("card's own ") + QTest::currentDataTag());
        const QString card = root + "/card";
        ExfatCard exfat(root + "/card.img", card);
        if (!exfat.mounted())
            QSKIP("exFAT through FUSE (exfatprogs, exfat-fuse) and root are needed");
        const QString item = card + "/" + name;
        if (name.contains(QLatin1Char('.')))
            lg::test::writeFile(item, QByteArray());
        else
            QVERIFY(QDir().mkpath(item));
        lg::test::writeFile(card + "/src/" + name, "elsewhere");
        const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
        QCOMPARE(::utimensat(AT_FDCWD, raw(item).constData(), anHourAgo, 0), 0);
        struct stat st;
        QCOMPARE(::lstat(raw(item).constData(), &st), 0);
        QByteArray text = "[Lumen Gallery placeholder]\nName=" + raw(name) + "\n";
        if (planted == QLatin1String("older"))
            text += "From=" + raw(card + "/src/" + name).toPercentEncoding("/") + "\n";
        else if (planted == QLatin1String("identity") || planted == QLatin1String("exact")) {
            const std::optional<lg::FileIdentity> id = lg::fileIdentity(item);
            QVERIFY(id);
            text += "Made=" + QByteArray::number(id->device) + ":"
                    + QByteArray::number(id->inode + (planted == QLatin1String("exact") ? 0 : 1)) + ":"
                    + QByteArray::number(id->type) + "\nMode=" + QByteArray::number(st.st_mode & 07777) + "\n";
        }
        lg::test::writeFile(card + "/.lglock-" + QString::fromLatin1(token), text);
        writeInto(card, QStringLiteral("N"));   // the folder is read before its first temporary
        QVERIFY(QFileInfo::exists(item));
        QCOMPARE(lg::test::readAll(card + "/src/" + name), QByteArray("elsewhere"));
    }

    // A folder copied or moved onto a card, or moved to the Trash on a card,
    // killed at any step: after the next start's cleanup, the copy stands
    // whole under its name or nothing of it stands, a trashed folder is whole
    // in its place or whole in the Trash (its .trashinfo standing only then),
    // nothing hidden of ours is left, a later kill never leaves less done than
    // an earlier one, and the start tells a stopped move only where its items
    // are in both places then (its copy whole), never a copy or a Move to Trash.
    void aFolderKilledOnItsWayOntoACardIsWholeInOnePlace_data()
    {
        QTest::addColumn<QString>("kind");   // the card's
        QTest::addColumn<QString>("operation");   // "copy", "move" or "trash"
        QTest::newRow("a copy onto FAT through FUSE") << "fusefat" << "copy";
        QTest::newRow("a copy onto exFAT through FUSE") << "exfat-fuse" << "copy";
        QTest::newRow("a move onto FAT through FUSE") << "fusefat" << "move";
        QTest::newRow("to the Trash on FAT through FUSE") << "fusefat" << "trash";
    }
    void aFolderKilledOnItsWayOntoACardIsWholeInOnePlace()
    {
        QFETCH(QString, kind);
        QFETCH(QString, operation);
        const bool trash = operation == QLatin1String("trash"), move = operation == QLatin1String("move");
        const QString root = lg::test::freshFolder(QStringLiteral("killed onto ") + QTest::currentDataTag());
        const CardOfKind card(root, kind, 4096);
        if (card.path.isEmpty())
            QSKIP(qPrintable(card.why));
        const QString dst = card.path + "/DCIM";
        QVERIFY(QDir().mkpath(dst));
        const QString folder = (trash ? dst : root + "/src") + "/F";
        const auto makeFolder = [&folder] {
            for (const char *name : {"a.jpg", "x.jpg", "Day/c.jpg"})
                lg::test::writeFile(folder + "/" + name, QByteArray(name));
        };
        const auto tree = [](const QString &top) {
            QStringList found;
            QDirIterator it(top, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                            QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString path = it.next();
                found << path.mid(top.size() + 1) + "=" + QString::fromLatin1(lg::test::readAll(path));
            }
            found.sort();
            return found;
        };
        makeFolder();
        const QStringList whole = tree(folder);
        const QString trashFolder = card.path + "/.Trash-" + QString::number(::getuid());
        (void)lg::takeStoppedMoves();   // what earlier tests' kills left
        QStringList failed;
        int points = 0, arrivedAt = 0;
        for (int at = 1; at < 400; ++at) {
            QProcess helper;
            helper.start(QStringLiteral(LG_FILEOPS_HELPER),
                         trash ? QStringList{"killat", QString::number(at), "trash", folder}
                               : QStringList{"killat", QString::number(at), operation, folder, dst});
            QVERIFY(helper.waitForFinished(20000));
            const bool finished = helper.readAllStandardOutput().startsWith("finished");
            QTRY_VERIFY_WITH_TIMEOUT(locksAreFree(dst), 10000);
            // The next start comes an hour later: what the kill left is older than it.
            const struct timespec anHourAgo[2] = {{::time(nullptr) - 3600, 0}, {::time(nullptr) - 3600, 0}};
            QDirIterator made(card.path, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                              QDirIterator::Subdirectories);
            while (made.hasNext())
                ::utimensat(AT_FDCWD, raw(made.next()).constData(), anHourAgo, AT_SYMLINK_NOFOLLOW);
            lg::cleanFoldersLeftByKilledRuns();
            const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
            // What stands where, after the start.
            QString wrong;
            const QStringList inPlace = entries(dst), inTrash = entries(trashFolder + "/files");
            const QStringList infos = entries(trashFolder + "/info");
            const bool sourceThere = QFileInfo::exists(folder);
            if (!move && !moves.isEmpty())
                wrong = "a stopped move is told";
            else if (move && inPlace.isEmpty() && (!moves.isEmpty() || tree(folder) != whole))
                wrong = QStringLiteral("no copy, %1 told, the source holding %2")
                            .arg(moves.size())
                            .arg(tree(folder).join(", "));
            else if (move && !inPlace.isEmpty() && sourceThere
                     && (moves.size() != 1 || !moves.at(0).inBothPlaces || !moves.at(0).copyWhole
                         || (tree(folder) != whole && !moves.at(0).removalBegun)))
                wrong = QStringLiteral("in both places, %1 told").arg(moves.size());
            else if (move && !sourceThere && moves.size() == 1 && moves.at(0).inBothPlaces)
                wrong = "told in both places, the source gone";
            else if (!trash && inPlace != QStringList{} && inPlace != QStringList{"F"})
                wrong = "the card holds " + inPlace.join(", ");
            else if (!trash && inPlace == QStringList{"F"} && tree(dst + "/F") != whole)
                wrong = "F holds " + tree(dst + "/F").join(", ");
            else if (trash && inPlace == QStringList{"F"} && (tree(folder) != whole || !inTrash.isEmpty() || !infos.isEmpty()))
                wrong = "F holds " + tree(folder).join(", ") + "; the Trash " + inTrash.join(", ") + "; its info "
                        + infos.join(", ");
            else if (trash && inPlace != QStringList{"F"}
                     && (!inPlace.isEmpty() || inTrash != QStringList{"F"} || tree(trashFolder + "/files/F") != whole
                         || infos != QStringList{"F.trashinfo"}))
                wrong = "the folder holds " + inPlace.join(", ") + "; the Trash " + inTrash.join(", ") + " with "
                        + tree(trashFolder + "/files/F").join(", ") + "; its info " + infos.join(", ");
            // A later kill never leaves less done: once the item stood whole at
            // its target, what a kill leaves is finished there.
            const bool arrived = trash ? inPlace.isEmpty() : inPlace == QStringList{"F"};
            if (!arrived && finished)
                wrong += " (finished, but not at its target)";
            else if (!arrived && arrivedAt > 0)
                wrong += QStringLiteral(" (not at its target, where it stood after a kill at step %1)").arg(arrivedAt);
            if (arrived && arrivedAt == 0)
                arrivedAt = at;
            if (!wrong.isEmpty())
                failed << QStringLiteral("step %1: %2").arg(at).arg(wrong);
            ++points;
            // Back as before for the next kill.
            QDir(dst + "/F").removeRecursively();
            QDir(trashFolder).removeRecursively();
            if (trash || move) {
                QDir(folder).removeRecursively();
                makeFolder();
            }
            // A note whose copy never stood on the card waits for the card
            // (a look-alike may stand in its place): each kill point starts
            // without those of the others.
            for (const QString &note : moveNotes(journalPath()))
                QFile::remove(journalPath() + "/" + note);
            if (finished)
                break;
        }
        QVERIFY2(failed.isEmpty(), qPrintable(QStringLiteral("%1 of %2 kill points: ").arg(failed.size()).arg(points)
                                                 + failed.join(QStringLiteral("\n"))));
    }
};

LG_TEST(FolderRecordsTest)
#include "test_folderrecords.moc"
