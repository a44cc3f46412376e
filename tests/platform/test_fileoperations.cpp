// Copy, move, replace, numbered names and the batch runner, on real temporary folders.
#include "platform/FileOperations.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSignalSpy>

#include <cerrno>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Names in a folder, hidden ones too (leftovers of a failed step would show here).
QStringList entries(const QString &folder)
{
    QStringList names = QDir(folder).entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot);
    names.sort();
    return names;
}

struct FaultGuard
{
    explicit FaultGuard(lg::FileFaultHook hook) { lg::setFileFaultForTesting(std::move(hook)); }
    ~FaultGuard() { lg::setFileFaultForTesting({}); }
};

} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void freeNameNumbersLikeFileManagers_data()
    {
        QTest::addColumn<QStringList>("existing");   // "x/" a folder, "@x" a dangling link
        QTest::addColumn<QString>("name");
        QTest::addColumn<int>("first");
        QTest::addColumn<bool>("isFolder");
        QTest::addColumn<bool>("plainFirst");
        QTest::addColumn<QStringList>("alsoTaken");
        QTest::addColumn<QString>("expected");
        const QStringList none;
        QTest::newRow("free name kept") << none << "a.jpg" << 2 << false << true << none << "a.jpg";
        QTest::newRow("file") << QStringList{"photo.jpg"} << "photo.jpg" << 2 << false << true << none << "photo 2.jpg";
        QTest::newRow("last dot") << QStringList{"archive.tar.gz"} << "archive.tar.gz" << 2 << false << true << none
                                  << "archive.tar 2.gz";
        QTest::newRow("no extension") << QStringList{"notes"} << "notes" << 2 << false << true << none << "notes 2";
        QTest::newRow("folder whole") << QStringList{"My.Photos/"} << "My.Photos" << 2 << true << true << none
                                      << "My.Photos 2";
        QTest::newRow("leading dot only") << QStringList{".hidden"} << ".hidden" << 2 << false << true << none
                                          << ".hidden 2";
        QTest::newRow("taken in other case") << QStringList{"A.jpg", "A 2.JPG"} << "A.jpg" << 2 << false << true
                                             << none << "A 3.jpg";
        QTest::newRow("dangling link is taken") << QStringList{"@b.txt"} << "b.txt" << 2 << false << true << none
                                                << "b 2.txt";
        QTest::newRow("also taken") << QStringList{"p.png"} << "p.png" << 2 << false << true
                                    << QStringList{"P 2.png"} << "p 3.png";
        QTest::newRow("sidebar folder from 0") << QStringList{"Untitled Folder/"} << "Untitled Folder" << 0 << true
                                               << true << none << "Untitled Folder 0";
        QTest::newRow("numbered at once") << none << "Holiday" << 2 << true << false << none << "Holiday 2";
    }
    void freeNameNumbersLikeFileManagers()
    {
        QFETCH(QStringList, existing);
        QFETCH(QString, name);
        QFETCH(int, first);
        QFETCH(bool, isFolder);
        QFETCH(bool, plainFirst);
        QFETCH(QStringList, alsoTaken);
        QFETCH(QString, expected);
        const QString folder = lg::test::freshFolder(QStringLiteral("names"));
        for (const QString &entry : existing) {
            if (entry.endsWith(QLatin1Char('/')))
                QVERIFY(QDir(folder).mkdir(entry.chopped(1)));
            else if (entry.startsWith(QLatin1Char('@')))
                QVERIFY(QFile::link(folder + "/gone", folder + "/" + entry.mid(1)));
            else
                lg::test::writeFile(folder + "/" + entry);
        }
        lg::NameNumbering numbering;
        numbering.firstNumber = first;
        numbering.isFolder = isFolder;
        numbering.tryPlainNameFirst = plainFirst;
        QCOMPARE(lg::freeName(folder, name, numbering, alsoTaken), expected);
    }

    void namesAndPathsAreComparedSafely()
    {
        for (const char *bad : {"", ".", "..", "a/b"})
            QVERIFY2(!lg::isValidFileName(QString::fromLatin1(bad)), bad);
        QVERIFY(!lg::isValidFileName(QStringLiteral("a") + QChar(0)));
        QVERIFY(lg::isValidFileName(QStringLiteral("...")));

        const QString root = lg::test::freshFolder(QStringLiteral("compare"));
        QDir(root).mkpath(QStringLiteral("Trip/inner"));
        QDir(root).mkpath(QStringLiteral("Trip 2"));
        QVERIFY(QFile::link(root + "/Trip", root + "/alias"));
        QVERIFY(lg::isInsideCanonical(root + "/Trip/inner", root + "/Trip"));
        QVERIFY(lg::isInsideCanonical(root + "/Trip", root + "/Trip"));
        QVERIFY(!lg::isInsideCanonical(root + "/Trip 2", root + "/Trip"));
        QVERIFY(lg::isInsideCanonical(root + "/alias/inner/not yet", root + "/Trip"));
        QVERIFY(!lg::isInsideCanonical(root + "/Trip", root + "/Trip/inner"));

        const QString file = lg::test::writeFile(root + "/f.txt");
        QVERIFY(::link(QFile::encodeName(file).constData(), QFile::encodeName(root + "/hard.txt").constData()) == 0);
        QVERIFY(lg::isSameFile(file, root + "/hard.txt"));
        QVERIFY(lg::isSameFile(root + "/alias", root + "/Trip"));
        QVERIFY(!lg::isSameFile(file, root + "/missing"));
    }

    void refusalsLeaveEverythingAsItWas_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<QString>("source");        // relative to the root
        QTest::addColumn<QString>("targetFolder");
        QTest::addColumn<QString>("targetName");
        QTest::addColumn<int>("policy");
        QTest::addColumn<lg::FileOpError>("error");
        const int refuse = int(lg::ConflictPolicy::Refuse), replace = int(lg::ConflictPolicy::Replace);
        for (bool move : {false, true}) {
            const char *k = move ? "move" : "copy";
            QTest::addRow("%s file onto itself", k) << move << "A/f.txt" << "A" << "" << replace
                                                    << lg::FileOpError::SameFile;
            QTest::addRow("%s taken name", k) << move << "A/f.txt" << "B" << "" << refuse
                                              << lg::FileOpError::TargetExists;
            QTest::addRow("%s folder into its sub-folder", k) << move << "A" << "A/sub" << "" << refuse
                                                              << lg::FileOpError::IntoItself;
            QTest::addRow("%s folder into itself", k) << move << "A" << "A" << "" << refuse
                                                      << lg::FileOpError::IntoItself;
            QTest::addRow("%s replacing the folder that holds it", k)
                << move << "A/sub/A" << "." << "" << replace << lg::FileOpError::IntoItself;
            QTest::addRow("%s bad name", k) << move << "A/f.txt" << "B" << ".." << refuse
                                            << lg::FileOpError::InvalidName;
            QTest::addRow("%s missing source", k) << move << "A/none" << "B" << "" << refuse
                                                  << lg::FileOpError::SourceMissing;
            QTest::addRow("%s missing target folder", k) << move << "A/f.txt" << "none" << "" << refuse
                                                         << lg::FileOpError::Other;
        }
    }
    void refusalsLeaveEverythingAsItWas()
    {
        QFETCH(bool, move);
        QFETCH(QString, source);
        QFETCH(QString, targetFolder);
        QFETCH(QString, targetName);
        QFETCH(int, policy);
        QFETCH(lg::FileOpError, error);
        const QString root = lg::test::freshFolder(QStringLiteral("refuse"));
        lg::test::writeFile(root + "/A/f.txt", "source");
        lg::test::writeFile(root + "/A/sub/A/deep.txt", "deep");
        lg::test::writeFile(root + "/B/f.txt", "taken");
        const auto snapshot = [&] {
            QStringList all;
            QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
            while (it.hasNext()) {
                const QString p = it.next();
                all << p + "=" + (QFileInfo(p).isFile() ? QString::fromUtf8(readAll(p)) : QString());
            }
            all.sort();
            return all;
        };
        const QStringList before = snapshot();
        const QString folder = QDir::cleanPath(root + "/" + targetFolder);
        const auto policyValue = lg::ConflictPolicy(policy);
        const lg::FileOpResult r = move ? lg::moveItem(root + "/" + source, folder, policyValue, targetName)
                                        : lg::copyItem(root + "/" + source, folder, policyValue, targetName);
        QCOMPARE(r.error, error);
        QVERIFY(!r.message.isEmpty());
        QCOMPARE(snapshot(), before);
    }

    void conflictsAreNumberedOrReplaced_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("policy");
        QTest::addColumn<bool>("failFinalRename");   // the old item must survive whole
        QTest::addColumn<QString>("expectedName");
        const int keepBoth = int(lg::ConflictPolicy::KeepBoth), replace = int(lg::ConflictPolicy::Replace);
        for (bool move : {false, true})
            for (bool folder : {false, true}) {
                const char *k = move ? "move" : "copy";
                const char *what = folder ? "folder" : "file";
                QTest::addRow("%s %s keep both", k, what) << move << folder << keepBoth << false
                                                          << (folder ? "item.d 2" : "item 2.d");
                QTest::addRow("%s %s replace", k, what) << move << folder << replace << false << "item.d";
                QTest::addRow("%s %s replace failing", k, what) << move << folder << replace << true << "item.d";
            }
    }
    void conflictsAreNumberedOrReplaced()
    {
        QFETCH(bool, move);
        QFETCH(bool, folder);
        QFETCH(int, policy);
        QFETCH(bool, failFinalRename);
        QFETCH(QString, expectedName);
        const QString root = lg::test::freshFolder(QStringLiteral("conflict"));
        const QString src = root + "/src/item.d", dst = root + "/dst/item.d";
        lg::test::writeFile(folder ? src + "/a" : src, "new");
        lg::test::writeFile(folder ? dst + "/a" : dst, "old");
        if (folder)
            lg::test::writeFile(dst + "/b", "old b");
        ::chmod(QFile::encodeName(src).constData(), folder ? 0750 : 0640);
        FaultGuard fault([failFinalRename](lg::FileStep step, const QString &) {
            return failFinalRename && step == lg::FileStep::FinalRename ? EIO : 0;
        });
        const lg::FileOpResult r = move ? lg::moveItem(src, root + "/dst", lg::ConflictPolicy(policy))
                                        : lg::copyItem(src, root + "/dst", lg::ConflictPolicy(policy));
        QStringList expected{expectedName, QStringLiteral("item.d")};
        expected.removeDuplicates();
        expected.sort();
        QCOMPARE(entries(root + "/dst"), expected);   // no leftovers beside the target
        if (failFinalRename) {
            QCOMPARE(r.error, lg::FileOpError::Other);
            QCOMPARE(readAll(folder ? dst + "/a" : dst), QByteArray("old"));
            if (folder)
                QCOMPARE(readAll(dst + "/b"), QByteArray("old b"));
            QCOMPARE(readAll(folder ? src + "/a" : src), QByteArray("new"));
            return;
        }
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(r.target, root + "/dst/" + expectedName);
        QCOMPARE(readAll(folder ? r.target + "/a" : r.target), QByteArray("new"));
        struct stat st;
        QCOMPARE(::stat(QFile::encodeName(r.target).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 0777), folder ? 0750 : 0640);
        QCOMPARE(QFileInfo::exists(src), !move);
        if (policy == int(lg::ConflictPolicy::Replace) && folder)
            QVERIFY(!QFileInfo::exists(dst + "/b"));
    }

    void moveAcrossFileSystemsDeletesOnlyAfterACompleteCopy_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<int>("copyFault");   // errno injected into the data copy, 0 none
        QTest::addColumn<lg::FileOpError>("error");
        QTest::newRow("file") << false << 0 << lg::FileOpError::None;
        QTest::newRow("folder") << true << 0 << lg::FileOpError::None;
        QTest::newRow("file, disk full") << false << ENOSPC << lg::FileOpError::NoSpace;
        QTest::newRow("folder, disk full") << true << ENOSPC << lg::FileOpError::NoSpace;
    }
    void moveAcrossFileSystemsDeletesOnlyAfterACompleteCopy()
    {
        QFETCH(bool, folder);
        QFETCH(int, copyFault);
        QFETCH(lg::FileOpError, error);
        const QString root = lg::test::freshFolder(QStringLiteral("exdev"));
        const QString src = root + "/src/item";
        lg::test::writeFile(folder ? src + "/inner/a.bin" : src, QByteArray(300000, 'z'));
        if (folder)
            QVERIFY(QFile::link(QStringLiteral("inner/a.bin"), src + "/link"));
        QDir().mkpath(root + "/dst");
        QStringList steps;
        FaultGuard fault([&steps, copyFault](lg::FileStep step, const QString &) {
            steps << QString::number(int(step));
            if (step == lg::FileStep::Rename)
                return EXDEV;
            return step == lg::FileStep::CopyData ? copyFault : 0;
        });
        const lg::FileOpResult r = lg::moveItem(src, root + "/dst");
        QCOMPARE(r.error, error);
        if (copyFault) {
            QVERIFY(QFileInfo::exists(folder ? src + "/inner/a.bin" : src));
            QVERIFY(entries(root + "/dst").isEmpty());
            return;
        }
        const QString moved = root + "/dst/item";
        QCOMPARE(readAll(folder ? moved + "/inner/a.bin" : moved), QByteArray(300000, 'z'));
        if (folder)
            QCOMPARE(QFileInfo(moved + "/link").symLinkTarget(), moved + "/inner/a.bin");
        QVERIFY(!QFileInfo::exists(src));
        const qsizetype placed = steps.indexOf(QString::number(int(lg::FileStep::FinalRename)));
        const qsizetype removed = steps.indexOf(QString::number(int(lg::FileStep::Remove)));
        QVERIFY(placed >= 0 && removed > placed);
    }

    void moveToARealTmpfsCopiesAndDeletes()
    {
        const QString mountPoint = lg::test::freshFolder(QStringLiteral("tmpfs"));
        if (::mount("lgtest", QFile::encodeName(mountPoint).constData(), "tmpfs", 0, "size=4m") != 0)
            QSKIP("tmpfs cannot be mounted here");
        const QString src = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("tmpfs-src")) + "/f.txt", "data");
        const QDateTime modified = QDateTime::currentDateTime().addDays(-3);
        { QFile f(src); f.open(QIODevice::ReadWrite); f.setFileTime(modified, QFileDevice::FileModificationTime); }
        const lg::FileOpResult r = lg::moveItem(src, mountPoint);
        const QByteArray moved = readAll(mountPoint + "/f.txt");
        const QDateTime movedTime = QFileInfo(mountPoint + "/f.txt").lastModified();
        ::umount(QFile::encodeName(mountPoint).constData());
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(moved, QByteArray("data"));
        QCOMPARE(movedTime.toSecsSinceEpoch(), modified.toSecsSinceEpoch());
        QVERIFY(!QFileInfo::exists(src));
    }

    void linksAreCopiedAsLinks()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("links"));
        lg::test::writeFile(root + "/outside/big.txt", "outside");
        lg::test::writeFile(root + "/tree/.hidden", "h");
        QVERIFY(QFile::link(root + "/outside", root + "/tree/toOutside"));
        QVERIFY(QFile::link(QStringLiteral("nowhere"), root + "/tree/dangling"));
        QDir().mkpath(root + "/copy");
        const lg::FileOpResult r = lg::copyItem(root + "/tree", root + "/copy");
        QVERIFY2(r.ok(), qPrintable(r.message));
        const QFileInfo link(root + "/copy/tree/toOutside");
        QVERIFY(link.isSymLink());
        QCOMPARE(link.symLinkTarget(), root + "/outside");
        QVERIFY(QFileInfo(root + "/copy/tree/dangling").isSymLink());
        QCOMPARE(readAll(root + "/copy/tree/.hidden"), QByteArray("h"));
        QCOMPARE(entries(root + "/outside"), QStringList{QStringLiteral("big.txt")});
    }

    void renameAndNewFolderNeverReplace()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("rename"));
        const QString a = lg::test::writeFile(root + "/a.txt", "a");
        lg::test::writeFile(root + "/b.txt", "b");
        QCOMPARE(lg::renameItem(a, QStringLiteral("b.txt")).error, lg::FileOpError::TargetExists);
        QCOMPARE(lg::renameItem(a, QStringLiteral("x/y")).error, lg::FileOpError::InvalidName);
        const lg::FileOpResult renamed = lg::renameItem(a, QStringLiteral("c.txt"));
        QVERIFY(renamed.ok());
        QCOMPARE(renamed.target, root + "/c.txt");
        QCOMPARE(readAll(root + "/b.txt"), QByteArray("b"));
        QVERIFY(lg::createFolder(root, QStringLiteral("New")).ok());
        QCOMPARE(lg::createFolder(root, QStringLiteral("New")).error, lg::FileOpError::TargetExists);
        QCOMPARE(lg::createFolder(root, QStringLiteral("")).error, lg::FileOpError::InvalidName);
    }

    void batchReportsProgressPerItemAndOneSummary()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("batch"));
        QList<lg::FileOpItem> items;
        for (int i = 0; i < 3; ++i)
            items.append({lg::test::writeFile(root + QStringLiteral("/src/f%1").arg(i), QByteArray(1000, 'x')),
                          root + "/dst", QString(), lg::ConflictPolicy::Refuse});
        items.append({root + "/src/missing", root + "/dst", QString(), lg::ConflictPolicy::Refuse});
        QDir().mkpath(root + "/dst");

        auto *operation = new lg::FileOperation(lg::FileOpKind::Copy, items);
        QSignalSpy progress(operation, &lg::FileOperation::progress);
        QSignalSpy finished(operation, &lg::FileOperation::finished);
        operation->start();
        QVERIFY(finished.wait(10000));
        const auto results = finished.first().first().value<QList<lg::FileOpResult>>();
        QCOMPARE(results.size(), 4);
        QVERIFY(results[0].ok() && results[2].ok());
        QCOMPARE(results[3].error, lg::FileOpError::SourceMissing);
        QVERIFY(!progress.isEmpty());
        const auto last = progress.last().first().value<lg::FileOpProgress>();
        QCOMPARE(last.itemsDone, 4);
        QCOMPARE(last.bytesDone, 3000);
        QCOMPARE(last.bytesTotal, 3000);
        const auto summary = lg::failureSummary(results);
        QVERIFY(summary);
        QCOMPARE(summary->title, QStringLiteral("Some items could not be processed."));
        QVERIFY(summary->text.startsWith(QStringLiteral("1 item could not be processed.")));
        QVERIFY(summary->text.contains(QStringLiteral("missing")));

        const std::atomic<bool> cancelled{true};
        const auto none = lg::FileOperation::runNow(lg::FileOpKind::Move, items, &cancelled);
        QCOMPARE(none.size(), 4);
        for (const lg::FileOpResult &r : none)
            QCOMPARE(r.error, lg::FileOpError::Cancelled);
        QVERIFY(!lg::failureSummary(none));
        QVERIFY(QFileInfo::exists(items[0].source));
    }
};

LG_TEST(FileOperationsTest)
#include "test_fileoperations.moc"
