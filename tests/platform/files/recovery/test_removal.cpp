// Every removal — the cleanup of a stale temporary, Replace's removal of the old
// item, the delete step of a move across disks, a Trash by copy — on real
// folders that change under it: a folder swapped for a link or another folder
// is never followed, and a mount point is left in place, the top of what is
// removed included.
#include "platform/files/operations/FileOperations.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/operations/Trash.h"
#include "tests/platform/files/recovery/FileTesting.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QThread>

#include <algorithm>
#include <memory>

#include <cerrno>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using lg::test::entries;
using lg::test::FaultGuard;

namespace {

QByteArray raw(const QString &path) { return QFile::encodeName(path); }

constexpr char token[] = "0123456789abcdef";

// A stale temporary of a killed copy of F into folder: its lock file, with
// the record the program writes, and the temporary's path (not made yet).
QString plantStaleCopy(const QString &folder)
{
    lg::test::writeFile(folder + "/.lglock-" + token,
                        QByteArray("[Lumen Gallery temporary]\nKind=copy\nName=F\nTemporary=.F.lgcopy-") + token + "\n");
    return folder + "/.F.lgcopy-" + token;
}

QString lockOf(const QString &folder) { return folder + "/.lglock-" + token; }

// Makes a temporary in folder, which first cleans it up.
void writeInto(const QString &folder)
{
    const QString source = lg::test::freshFolder(QStringLiteral("trigger")) + "/N";
    lg::test::writeFile(source + "/n.jpg", "n");
    const lg::FileOpResult r = lg::copyItem(source, folder);
    QVERIFY2(r.ok(), qPrintable(r.message));
}

QStringList pictureNames()
{
    QStringList names;
    for (int i = 1; i <= 20; ++i)
        names << QStringLiteral("IMG_%1.jpg").arg(i);
    return names;
}

} // namespace

class RemovalTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // The item removed holds a folder "sub" with the same names as the user's
    // Pictures; the moment the removal reaches sub, it is swapped for a link to
    // Pictures (or for Pictures itself). Not one of the user's files may go.
    void aFolderSwappedDuringARemovalIsNeverFollowed_data()
    {
        QTest::addColumn<QString>("removal");
        QTest::addColumn<QString>("swap");
        for (const char *removal : {"cleanup", "replace", "move across disks", "trash by copy"}) {
            for (const char *swap : {"link before entering", "folder before entering", "link while inside"})
                QTest::addRow("%s, %s", removal, swap) << QString::fromLatin1(removal) << QString::fromLatin1(swap);
        }
    }
    void aFolderSwappedDuringARemovalIsNeverFollowed()
    {
        QFETCH(QString, removal);
        QFETCH(QString, swap);
        const QString root = lg::test::freshFolder(QStringLiteral("swapped"));
        const QString pictures = root + "/Pictures";
        for (const QString &name : pictureNames())
            lg::test::writeFile(pictures + "/" + name, "the user's");
        QDir().mkpath(root + "/dst");
        QString doomed = root + "/src/F";
        if (removal == "cleanup")
            doomed = plantStaleCopy(root + "/dst");
        else if (removal == "replace")
            lg::test::writeFile(root + "/src/F/new.jpg", "new");
        const QString old = removal == "replace" ? root + "/dst/F" : doomed;
        for (const QString &name : pictureNames())
            lg::test::writeFile(old + "/sub/" + name, "to be removed");
        lg::test::writeFile(old + "/top.jpg", "to be removed");

        bool swapped = false;
        QString picturesNow = pictures;
        const bool across = removal == "move across disks" || removal == "trash by copy";
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (across && step == lg::FileStep::Rename)
                return EXDEV;
            const bool reached = swap == "link while inside"
                                     ? step == lg::FileStep::Remove && path.contains(QLatin1String("/sub/"))
                                     : step == lg::FileStep::EnterFolder && path.endsWith(QLatin1String("/sub"));
            if (swapped || !reached)
                return 0;
            swapped = true;
            const QString sub = path.endsWith(QLatin1String("/sub")) ? path : QFileInfo(path).absolutePath();
            if (::rename(raw(sub).constData(), raw(root + "/moved away").constData()) != 0)
                return 0;
            if (swap == "folder before entering" && ::rename(raw(pictures).constData(), raw(sub).constData()) == 0)
                picturesNow = sub;
            else
                ::symlink(raw(pictures).constData(), raw(sub).constData());
            return 0;
        });
        lg::FileOpResult r;
        if (removal == "cleanup")
            writeInto(root + "/dst");
        else if (removal == "replace")
            r = lg::copyItem(root + "/src/F", root + "/dst", lg::ConflictPolicy::Replace);
        else if (removal == "move across disks")
            r = lg::moveItem(root + "/src/F", root + "/dst");
        else
            r = lg::moveToTrash(root + "/src/F");
        lg::setFileFaultForTesting({});

        QVERIFY(swapped);
        for (const QString &name : pictureNames())
            QCOMPARE(lg::test::readAll(picturesNow + "/" + name), QByteArray("the user's"));
        QCOMPARE(entries(picturesNow), [] { QStringList n = pictureNames(); n.sort(); return n; }());
        if (removal == "cleanup") {
            QVERIFY(QFileInfo::exists(lockOf(root + "/dst")));   // something is left under it
        } else {
            QVERIFY(!r.ok() && r.itemInPlace);
            QVERIFY2(r.message.contains(QLatin1String("/sub")) || r.message.contains(QLatin1String("/.F.lgcopy-")),
                     qPrintable(r.message));
        }
    }

    // A stale temporary that is itself a mount point, or a folder moved across
    // disks that is one: the mounted folder keeps all it holds.
    void aMountPointAtTheTopOfARemovalIsLeftInPlace_data()
    {
        QTest::addColumn<QString>("removal");
        QTest::addColumn<QString>("mountKind");
        QTest::newRow("stale temporary, tmpfs") << "cleanup" << "tmpfs";
        QTest::newRow("stale temporary, bind mount") << "cleanup" << "bind";
        QTest::newRow("move across disks, tmpfs") << "move" << "tmpfs";
        QTest::newRow("move across disks, bind mount") << "move" << "bind";
    }
    void aMountPointAtTheTopOfARemovalIsLeftInPlace()
    {
        QFETCH(QString, removal);
        QFETCH(QString, mountKind);
        const QString root = lg::test::freshFolder(QStringLiteral("mount top"));
        QDir().mkpath(root + "/dst");
        const QString top = removal == "cleanup" ? plantStaleCopy(root + "/dst") : root + "/src/F";
        QDir().mkpath(top);
        const QString card = lg::test::writeFile(root + "/card/photo.jpg", "on the card");
        const int mounted = mountKind == "bind"
                                ? ::mount(raw(root + "/card").constData(), raw(top).constData(), nullptr, MS_BIND, nullptr)
                                : ::mount("lgcard", raw(top).constData(), "tmpfs", 0, "size=1m");
        if (mounted != 0)
            QSKIP("Mounting is not allowed here");
        const auto unmount = qScopeGuard([top] { ::umount2(raw(top).constData(), MNT_DETACH); });
        if (mountKind == "tmpfs")
            lg::test::writeFile(top + "/photo.jpg", "on the card");

        lg::FileOpResult r;
        if (removal == "cleanup") {
            writeInto(root + "/dst");
            QVERIFY(QFileInfo::exists(lockOf(root + "/dst")));
        } else {
            FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
            r = lg::moveItem(top, root + "/dst");
            QVERIFY(!r.ok() && r.itemInPlace);
            QVERIFY2(r.message.contains(top) && r.message.contains(lg::removalReason(EBUSY)), qPrintable(r.message));
            QCOMPARE(lg::test::readAll(root + "/dst/F/photo.jpg"), QByteArray("on the card"));
        }
        QCOMPARE(lg::test::readAll(top + "/photo.jpg"), QByteArray("on the card"));
        QCOMPARE(lg::test::readAll(card), QByteArray("on the card"));
        QString reason;   // told before a Trash by copy
        QCOMPARE(lg::canRemove(top, &reason), EBUSY);
        QVERIFY2(reason.contains(top), qPrintable(reason));
    }

    // Folders of ours that we may not read or write (a camera card copied
    // with its modes) are opened up and removed; with another user's folder
    // inside, that folder stays and is named.
    void foldersOfOursAreOpenedUpAndOthersAreLeft_data()
    {
        QTest::addColumn<int>("mode");
        QTest::addColumn<bool>("ours");
        QTest::newRow("no permissions") << 0000 << true;
        QTest::newRow("write and search only") << 0300 << true;
        QTest::newRow("read only") << 0555 << true;
        QTest::newRow("another user's, read only") << 0555 << false;
    }
    void foldersOfOursAreOpenedUpAndOthersAreLeft()
    {
        QFETCH(int, mode);
        QFETCH(bool, ours);
        if (::geteuid() != 0)
            QSKIP("Playing an ordinary user needs root");
        const QString root = lg::test::freshFolder(QStringLiteral("modes"));
        const QString locked = root + "/Album/locked";
        lg::test::writeFile(locked + "/a.jpg", "a");
        lg::test::writeFile(locked + "/deeper/b.jpg", "b");
        lg::test::handOver(root);
        if (!ours)
            ::lchown(raw(locked).constData(), 0, 0);
        ::chmod(raw(locked).constData(), mode_t(mode));
        QString failedAt, reason;
        int checked = 0, removed = 0;
        {
            lg::test::AsOrdinaryUser user;
            checked = lg::canRemove(root + "/Album", &reason);
            removed = lg::removeTree(root + "/Album", &failedAt);
        }
        ::chmod(raw(locked).constData(), 0755);
        if (ours) {
            QCOMPARE(checked, 0);
            QCOMPARE(removed, 0);
            QCOMPARE(entries(root), QStringList{});
        } else {
            QCOMPARE(checked, EACCES);
            QVERIFY2(reason.contains(locked), qPrintable(reason));
            QCOMPARE(removed, EACCES);
            QCOMPARE(failedAt.left(locked.size()), locked);
            QCOMPARE(lg::test::readAll(locked + "/a.jpg"), QByteArray("a"));
        }
    }

    // Folders nested deeper than any path can name (made by relative steps)
    // end the removal with a reason instead of running the stack out; a tree
    // within the limit still goes whole.
    void aTreeTooDeepToWalkIsLeftWithAReason_data()
    {
        QTest::addColumn<int>("levels");
        QTest::addColumn<bool>("removable");
        QTest::newRow("1,500 levels") << 1500 << true;
        QTest::newRow("3,000 levels") << 3000 << false;
    }
    void aTreeTooDeepToWalkIsLeftWithAReason()
    {
        QFETCH(int, levels);
        QFETCH(bool, removable);
        const QString root = lg::test::freshFolder(QStringLiteral("deep"));
        QVERIFY(QDir().mkpath(root + "/Album"));
        int fd = ::open(raw(root + "/Album").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        QVERIFY(fd >= 0);
        for (int i = 0; i < levels; ++i) {
            QCOMPARE(::mkdirat(fd, "d", 0755), 0);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
            QVERIFY(fd >= 0);
        }
        ::close(::openat(fd, "bottom.jpg", O_WRONLY | O_CREAT | O_CLOEXEC, 0644));
        ::close(fd);
        QString failedAt, reason;
        const int checked = lg::canRemove(root + "/Album", &reason);
        const int removed = lg::removeTree(root + "/Album", &failedAt);
        if (removable) {
            QCOMPARE(checked, 0);
            QCOMPARE(removed, 0);
            QCOMPARE(entries(root), QStringList{});
        } else {
            QCOMPARE(checked, lg::tooDeepToRemove);
            QVERIFY2(reason.contains(QLatin1String("too many folders deep")), qPrintable(reason));
            QCOMPARE(removed, lg::tooDeepToRemove);
            QCOMPARE(entries(root), QStringList{QStringLiteral("Album")});
        }
    }

    // A removal as deep as it goes walks a stack of its own: a thread with a
    // 512 KB stack removes (and checks) 2,048 nested folders.
    void aDeepRemovalNeedsLittleOfItsThreadsStack()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("deep stack"));
        QVERIFY(QDir().mkpath(root + "/Album"));
        int fd = ::open(raw(root + "/Album").constData(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        for (int i = 0; i < 2047; ++i) {   // with Album, 2,048 folders
            QCOMPARE(::mkdirat(fd, "d", 0755), 0);
            const int next = ::openat(fd, "d", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
            ::close(fd);
            fd = next;
            QVERIFY(fd >= 0);
        }
        ::close(fd);
        int checked = -1, removed = -1;
        std::unique_ptr<QThread> thread(QThread::create([&] {
            checked = lg::canRemove(root + "/Album");
            removed = lg::removeTree(root + "/Album");
        }));
        thread->setStackSize(512 * 1024);
        thread->start();
        QVERIFY(thread->wait(60000));
        QCOMPARE(checked, 0);
        QCOMPARE(removed, 0);
        QCOMPARE(entries(root), QStringList{});
    }

    // Where the kernel cannot tell a mount's top, a removal (or a check) of
    // many folders reads the mount table once, and still leaves a bind mount
    // of the same disk in place.
    void theMountTableIsReadOncePerRemoval()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("mount table"));
        for (int i = 0; i < 60; ++i)
            QVERIFY(QDir().mkpath(root + QStringLiteral("/Album/%1/inner").arg(i)));
        const QString bound = root + "/Album/30/inner";
        const QString elsewhere = lg::test::writeFile(root + "/elsewhere/photo.jpg", "kept");
        const bool mounted = ::mount(raw(root + "/elsewhere").constData(), raw(bound).constData(), nullptr, MS_BIND,
                                     nullptr) == 0;
        const auto unmount = qScopeGuard([&] {
            if (mounted)
                ::umount2(raw(bound).constData(), MNT_DETACH);
        });
        int reads = 0;
        FaultGuard fault([&reads](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::MountTable)
                ++reads;
            return step == lg::FileStep::MountFlag ? ENOSYS : 0;
        });
        QString reason;
        QCOMPARE(lg::canRemove(root + "/Album", &reason), mounted ? EBUSY : 0);
        QVERIFY(reads <= 1);
        reads = 0;
        const lg::RemovalResult r = lg::removeTreeReporting(root + "/Album");
        QCOMPARE(reads, 1);
        if (mounted) {
            QCOMPARE(r.error, EBUSY);
            QCOMPARE(r.mountPoints, QStringList{bound});
            QCOMPARE(lg::test::readAll(bound + "/photo.jpg"), QByteArray("kept"));
            QCOMPARE(entries(root + "/Album"), QStringList{"30"});
        } else {
            QCOMPARE(r.error, 0);
        }
        QCOMPARE(lg::test::readAll(elsewhere), QByteArray("kept"));
    }

    // Out of file handles, the check says no, and why, instead of yes.
    void theCheckSaysNoWhenOutOfFileHandles()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("no handles"));
        QVERIFY(QDir().mkpath(root + "/Album/a/b/c/d"));
        lg::test::writeFile(root + "/Album/a/b/c/d/photo.jpg", "p");
        struct rlimit limit;
        QCOMPARE(::getrlimit(RLIMIT_NOFILE, &limit), 0);
        const rlim_t lowered = std::min<rlim_t>(limit.rlim_cur, 512);
        std::vector<int> held;
        int err = 0;
        QString reason;
        {
            struct rlimit low = limit;
            low.rlim_cur = lowered;
            QCOMPARE(::setrlimit(RLIMIT_NOFILE, &low), 0);
            const auto restore = qScopeGuard([&] {
                for (const int fd : held)
                    ::close(fd);
                ::setrlimit(RLIMIT_NOFILE, &limit);
            });
            for (int fd; (fd = ::open("/dev/null", O_RDONLY | O_CLOEXEC)) >= 0;)
                held.push_back(fd);
            for (int i = 0; i < 3 && !held.empty(); ++i) {   // room for the top and one folder, not all
                ::close(held.back());
                held.pop_back();
            }
            err = lg::canRemove(root + "/Album", &reason);
        }
        QVERIFY2(err == EMFILE || err == ENFILE, qPrintable(QString::number(err) + reason));
        QVERIFY2(reason.contains(root + "/Album"), qPrintable(reason));
        QCOMPARE(lg::canRemove(root + "/Album"), 0);
    }

    // Folders a removal opened up and could not remove get their modes back.
    void foldersOpenedUpAndNotRemovedGetTheirModesBack()
    {
        if (::geteuid() != 0)
            QSKIP("Playing an ordinary user needs root");
        const QString root = lg::test::freshFolder(QStringLiteral("modes back"));
        lg::test::writeFile(root + "/Album/locked/stuck.jpg", "stuck");
        lg::test::writeFile(root + "/Album/locked/gone.jpg", "gone");
        lg::test::writeFile(root + "/Album/open/gone.jpg", "gone");
        lg::test::handOver(root);
        ::chmod(raw(root + "/Album/locked").constData(), 0555);
        ::chmod(raw(root + "/Album/open").constData(), 0555);
        ::chmod(raw(root + "/Album").constData(), 0500);
        int removed = 0;
        {
            FaultGuard fault([](lg::FileStep step, const QString &path) {
                return step == lg::FileStep::Remove && path.endsWith(QLatin1String("/stuck.jpg")) ? EIO : 0;
            });
            lg::test::AsOrdinaryUser user;
            removed = lg::removeTree(root + "/Album");
        }
        QCOMPARE(removed, EIO);
        const auto modeOf = [](const QString &path) {
            struct stat st;
            return ::lstat(raw(path).constData(), &st) == 0 ? int(st.st_mode & 07777) : -1;
        };
        QCOMPARE(modeOf(root + "/Album"), 0500);
        QCOMPARE(modeOf(root + "/Album/locked"), 0555);
        QCOMPARE(entries(root + "/Album"), QStringList{"locked"});
        QCOMPARE(entries(root + "/Album/locked"), QStringList{"stuck.jpg"});
        ::chmod(raw(root + "/Album").constData(), 0755);
        ::chmod(raw(root + "/Album/locked").constData(), 0755);
    }
};

LG_TEST(RemovalTest)
#include "test_removal.moc"
