// Copy, move, replace, numbered names, batches and the Trash, on real temporary folders.
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/FileBatch.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/files/operations/Trash.h"
#include "tests/platform/files/recovery/FileTesting.h"
#include "tests/platform/files/recovery/CardTesting.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QDirIterator>
#include <QMap>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>
#include <QUtf8StringView>
#include <algorithm>
#include <cerrno>
#include <optional>
#include <dirent.h>
#include <fcntl.h>
#include <sys/fsuid.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/xattr.h>
#include <unistd.h>

using lg::test::entries;
using lg::test::FaultGuard;

namespace {

QByteArray readAll(const QString &path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray("<missing>");
}

// Names in a folder, hidden ones too (leftovers of a failed step would show here).
QByteArray raw(const QString &path) { return QFile::encodeName(path); }

// A process id that nothing uses now (a child that has ended).
pid_t deadProcess()
{
    const pid_t child = ::fork();
    if (child == 0)
        ::_exit(0);
    ::waitpid(child, nullptr, 0);
    return child;
}

QString homeTrash() { return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash"); }


// ---- Extended attributes ----
using AttributeMap = QMap<QByteArray, QByteArray>;

// Every extended attribute of path (a link not followed), by name.
AttributeMap attributesOf(const QString &path)
{
    AttributeMap map;
    QByteArray names(65536, '\0');
    const ssize_t n = ::llistxattr(raw(path).constData(), names.data(), size_t(names.size()));
    for (const QByteArray &name : names.left(qMax<qsizetype>(n, 0)).split('\0')) {
        if (name.isEmpty())
            continue;
        QByteArray value(65536, '\0');
        const ssize_t size = ::lgetxattr(raw(path).constData(), name.constData(), value.data(), size_t(value.size()));
        map.insert(name, value.left(qMax<qsizetype>(size, 0)));
    }
    return map;
}

bool setAttribute(const QString &path, const char *name, const QByteArray &value)
{
    return ::lsetxattr(raw(path).constData(), name, value.constData(), size_t(value.size()), 0) == 0;
}

// A POSIX ACL as the kernel keeps it in system.posix_acl_access and
// system.posix_acl_default: the owner, one more user (read only), the
// group, the mask and the others.
QByteArray aclGrantingRead(uid_t user)
{
    QByteArray acl;
    const auto u32 = [&acl](quint32 v) { for (int i = 0; i < 4; ++i) acl.append(char((v >> (8 * i)) & 0xff)); };
    const auto entry = [&](quint16 tag, quint16 perm, quint32 id) {
        acl.append(char(tag & 0xff)).append(char(tag >> 8)).append(char(perm & 0xff)).append(char(perm >> 8));
        u32(id);
    };
    u32(2);   // version
    entry(0x01, 6, 0xffffffffu);   // owner
    entry(0x02, 4, user);          // the other user
    entry(0x04, 4, 0xffffffffu);   // group
    entry(0x10, 4, 0xffffffffu);   // mask
    entry(0x20, 4, 0xffffffffu);   // others
    return acl;
}

// An album as photo tools and file managers leave it: tags, a comment, a
// rating and an origin in user.* attributes, an ACL, a default ACL on a
// folder, a trusted.* attribute, and one photo under two names. False when
// this file system cannot hold them.
bool makeTaggedAlbum(const QString &album)
{
    lg::test::writeFile(album + "/a.jpg", QByteArray(70000, 'a'));
    lg::test::writeFile(album + "/sub/c.jpg", "no attributes of its own");
    if (::link(raw(album + "/a.jpg").constData(), raw(album + "/sub/b.jpg").constData()) != 0)
        return false;
    const QString a = album + "/a.jpg";
    return setAttribute(a, "user.xdg.tags", "beach,2024") && setAttribute(a, "user.xdg.comment", "sunset")
           && setAttribute(a, "user.baloo.rating", "8") && setAttribute(a, "user.xdg.origin.url", "https://example.org/a")
           && setAttribute(a, "trusted.lg.note", "kept by root") && setAttribute(a, "system.posix_acl_access", aclGrantingRead(lg::test::nobody))
           && setAttribute(album + "/sub", "user.xdg.comment", "trip")
           && setAttribute(album + "/sub", "system.posix_acl_default", aclGrantingRead(lg::test::nobody))
           && setAttribute(album, "user.xdg.tags", "album");
}

// The attributes of every entry below folder, by path below it.
QMap<QString, AttributeMap> treeAttributes(const QString &folder)
{
    QMap<QString, AttributeMap> map{{QString(), attributesOf(folder)}};
    QDirIterator it(folder, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        map.insert(path.mid(folder.size() + 1), attributesOf(path));
    }
    return map;
}

ino_t inodeOf(const QString &path)
{
    struct stat st;
    return ::lstat(raw(path).constData(), &st) == 0 ? st.st_ino : 0;
}

// The bytes this thread has read so far (read, pread, sendfile and
// copy_file_range alike); -1 where the kernel does not count them.
qint64 bytesReadByThisThread()
{
    QFile io(QStringLiteral("/proc/thread-self/io"));
    if (!io.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : io.readAll().split('\n'))
        if (line.startsWith("rchar:"))
            return line.mid(6).trimmed().toLongLong();
    return -1;
}

// The kind of file system the copies see, for the guard's life.
struct FileSystemKindGuard
{
    explicit FileSystemKindGuard(lg::FileSystemKindHook hook) { lg::setFileSystemKindForTesting(std::move(hook)); }
    ~FileSystemKindGuard() { lg::setFileSystemKindForTesting({}); }
    FileSystemKindGuard(const FileSystemKindGuard &) = delete;
    FileSystemKindGuard &operator=(const FileSystemKindGuard &) = delete;
};

// How many entries folder holds, by their bytes (QDir leaves out a name that
// is not UTF-8).
int rawEntryCount(const QString &folder)
{
    DIR *dir = ::opendir(raw(folder).constData());
    int count = 0;
    while (dir && ::readdir(dir))
        ++count;
    if (dir)
        ::closedir(dir);
    return std::max(0, count - 2);
}

// Makes a file of one byte under a name of raw bytes in folder.
bool makeRawFile(const QString &folder, const QByteArray &name)
{
    const int fd = ::open((raw(folder) + '/' + name).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
    return fd >= 0 && ::write(fd, "r", 1) == 1 && ::close(fd) == 0;
}

// A tmpfs mounted on a fresh folder for a test's life (another file system
// than the test's own): empty when the machine refuses the mount.
struct OtherDisk
{
    explicit OtherDisk(const QString &name)
    {
        const QString folder = lg::test::freshFolder(name);
        if (::mount("lgdisk", raw(folder).constData(), "tmpfs", 0, "size=8m") == 0)
            top = folder;
    }
    ~OtherDisk()
    {
        if (!top.isEmpty())
            ::umount2(raw(top).constData(), MNT_DETACH);
    }
    OtherDisk(const OtherDisk &) = delete;
    OtherDisk &operator=(const OtherDisk &) = delete;
    QString top;
};
} // namespace

class FileOperationsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A path that carries a name's stray bytes reaches the disk by those bytes:
    // the file layer never takes it for the look-alike whose name holds U+FFFD.
    void aNameThatIsNotUtf8IsNeverItsLookAlike()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("rawnames"));
        const QByteArray base = QFile::encodeName(folder) + '/';
        const auto write = [](const QByteArray &path, const QByteArray &bytes) {
            const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            const bool done = fd >= 0 && ::write(fd, bytes.constData(), size_t(bytes.size())) == bytes.size();
            if (fd >= 0)
                ::close(fd);
            return done;
        };
        const QString stray = lg::FileNames::fromNative(base + "bad\xff.jpg");
        const QString lookAlike = lg::FileNames::fromNative(base + "bad\xef\xbf\xbd.jpg");
        QVERIFY(write(base + "bad\xef\xbf\xbd.jpg", "the look-alike"));
        // Only the look-alike is there: the stray-byte name names nothing.
        QVERIFY(!lg::existsOrLink(stray));
        QVERIFY(!lg::fileIdentity(stray));
        QVERIFY(lg::fileIdentity(lookAlike));
        QVERIFY(write(base + "bad\xff.jpg", "the stray one, longer"));
        const std::optional<lg::FileIdentity> strayIdentity = lg::fileIdentity(stray);
        QVERIFY(strayIdentity);
        QVERIFY(!strayIdentity->sameObject(*lg::fileIdentity(lookAlike)));
        QCOMPARE(strayIdentity->size, qint64(21));
        // A move acts on the file named, and leaves the look-alike alone.
        const QString target = lg::test::freshFolder(QStringLiteral("rawnamesTarget"));
        const lg::FileOpResult moved = lg::moveItem(stray, target);
        QVERIFY2(moved.ok(), qPrintable(moved.message));
        struct stat st{};
        QCOMPARE(::lstat((QFile::encodeName(target) + "/bad\xff.jpg").constData(), &st), 0);
        QCOMPARE(qint64(st.st_size), qint64(21));
        QCOMPARE(::lstat((base + "bad\xef\xbf\xbd.jpg").constData(), &st), 0);
        QCOMPARE(qint64(st.st_size), qint64(14));
        QVERIFY(!lg::existsOrLink(stray));
        ::unlink((QFile::encodeName(target) + "/bad\xff.jpg").constData());
    }

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

    void anythingAtAPathCountsAsThereEvenALinkToNothing()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("there"));
        const QString file = lg::test::writeFile(root + "/f.txt");
        QVERIFY(QFile::link(QStringLiteral("nowhere"), root + "/dangling"));
        QVERIFY(QFile::link(root + "/f.txt", root + "/alias"));
        QVERIFY(lg::existsOrLink(file));
        QVERIFY(lg::existsOrLink(root));
        QVERIFY(lg::existsOrLink(root + "/alias"));
        QVERIFY(lg::existsOrLink(root + "/dangling"));
        QVERIFY(!lg::existsOrLink(root + "/missing"));
        QVERIFY(!lg::existsOrLink(QString()));
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

    // Quitting abandons the copy in hand (the source stays; what was made of
    // it is hidden under its lock, for the cleanup at the next write there,
    // since removing a large unfinished copy would hold the quit up) and runs
    // no further item of a batch.
    void quittingAbandonsTheCopyInHandAndTheRest()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("quitting"));
        const QString src = root + "/src/item", second = root + "/src/second";
        lg::test::writeFile(src + "/inner/a.bin", QByteArray(300000, 'z'));
        lg::test::writeFile(second, "second");
        QDir().mkpath(root + "/dst");
        FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
        lg::beginShutdown();
        const auto restore = qScopeGuard([] { lg::resetShutdownForTesting(); });
        const lg::FileOpResult moved = lg::moveItem(src, root + "/dst");
        QVERIFY(!moved.ok());
        QCOMPARE(readAll(src + "/inner/a.bin"), QByteArray(300000, 'z'));
        const auto visible = [&] {
            QStringList names = entries(root + "/dst");
            names.removeIf([](const QString &name) { return name.startsWith(QLatin1Char('.')); });
            return names;
        };
        QCOMPARE(visible(), QStringList{});
        const QList<lg::FileOpResult> batch =
            lg::FileBatch(lg::FileOpKind::Copy, root + "/dst").run({src, second}, lg::ConflictPolicy::Refuse).results;
        QCOMPARE(batch.size(), 2);
        for (const lg::FileOpResult &r : batch)
            QCOMPARE(r.error, lg::FileOpError::Cancelled);
        QCOMPARE(visible(), QStringList{});
        // The next write there removes what the quit left.
        lg::resetShutdownForTesting();
        QVERIFY(lg::copyItem(src, root + "/dst").ok());
        QCOMPARE(entries(root + "/dst"), QStringList{"item"});
    }

    // A sync client or a camera import writes into the folder while a move
    // across disks (or a Trash by copy) deletes its source: what arrived or
    // changed after its copy stays where it is, and the item is told as not
    // wholly moved; what is still as copied goes.
    void theDeleteStepOfAMoveAcrossDisksKeepsWhatArrivedOrChanged_data()
    {
        QTest::addColumn<bool>("trash");
        QTest::newRow("move") << false;
        QTest::newRow("trash by copy") << true;
    }
    void theDeleteStepOfAMoveAcrossDisksKeepsWhatArrivedOrChanged()
    {
        QFETCH(bool, trash);
        const QString root = lg::test::freshFolder(QStringLiteral("writer"));
        const QString src = root + "/card/Card";
        const QStringList copiedNames{"a.jpg", "b.jpg", "sub1/c.jpg", "sub1/d.jpg", "sub2/e.jpg", "sub2/deep/f.jpg"};
        for (const QString &name : copiedNames)
            lg::test::writeFile(src + "/" + name, name.toUtf8());
        // Old times, so that an edit shows in the modification time however fast it comes.
        QDirIterator all(src, QDir::AllEntries | QDir::NoDotAndDotDot, QDirIterator::Subdirectories);
        const struct timespec old[2] = {{1500000000, 0}, {1500000000, 0}};
        while (all.hasNext())
            ::utimensat(AT_FDCWD, raw(all.next()).constData(), old, AT_SYMLINK_NOFOLLOW);
        QDir().mkpath(root + "/dst");

        // The writer: started by the delete step's first look at the source.
        const QStringList arrived{"sub1/new.jpg", "sub2/deep/new.jpg", "late/x.jpg", "n.jpg"};
        const QStringList edited{"b.jpg", "sub2/e.jpg"};   // same size, and longer
        bool wrote = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            if (step == lg::FileStep::Remove && path == src && !wrote) {
                wrote = true;
                for (const QString &name : arrived)
                    lg::test::writeFile(src + "/" + name, "arrived");
                lg::test::writeFile(src + "/b.jpg", "B.JPG");
                lg::test::writeFile(src + "/sub2/e.jpg", "edited and longer");
            }
            if (step == lg::FileStep::Remove && path == src + "/sub1/c.jpg")   // sub1 is listed already
                lg::test::writeFile(src + "/sub1/later.jpg", "arrived");
            return 0;
        });
        const lg::FileOpResult r = trash ? lg::moveToTrash(src) : lg::moveItem(src, root + "/dst");
        QVERIFY(wrote);
        QVERIFY(!r.ok());
        QVERIFY(r.itemInPlace);
        // 3 files arrived, the folder "late", 2 edits, and sub1 (which holds a
        // file that arrived after it was listed).
        QVERIFY2(r.message.contains(QLatin1String("not wholly moved: 7 items")), qPrintable(r.message));
        // A few of them by name, then how many more, and which copy is the older one.
        const QStringList stayed{"sub1/new.jpg", "sub2/deep/new.jpg", "late", "n.jpg", "b.jpg", "sub2/e.jpg",
                                 "sub1/later.jpg"};
        const qsizetype named = std::count_if(stayed.cbegin(), stayed.cend(), [&r](const QString &name) {
            return r.message.contains("“Card/" + name + "”");
        });
        QCOMPARE(named, 3);
        QVERIFY2(r.message.contains(QLatin1String(" and 4 more.")) && r.message.contains(QLatin1String("the older one")),
                 qPrintable(r.message));
        for (const QString &name : arrived + QStringList{"sub1/later.jpg"})
            QCOMPARE(readAll(src + "/" + name), QByteArray("arrived"));
        QCOMPARE(readAll(src + "/b.jpg"), QByteArray("B.JPG"));
        QCOMPARE(readAll(src + "/sub2/e.jpg"), QByteArray("edited and longer"));
        for (const QString &name : copiedNames) {
            QCOMPARE(readAll(r.target + "/" + name), name.toUtf8());
            QCOMPARE(QFileInfo::exists(src + "/" + name), edited.contains(name));
        }
        QVERIFY(!QFileInfo::exists(src + "/sub1/c.jpg"));
    }

    // Move with Replace of a folder: the replaced folder never shows in the
    // source's folder (which others may read), not even while it is removed.
    void aFolderReplacedByAMoveNeverShowsInTheSourcesFolder_data()
    {
        QTest::addColumn<bool>("canSwap");
        QTest::newRow("swap in one step") << true;
        QTest::newRow("file system that cannot swap") << false;
    }
    void aFolderReplacedByAMoveNeverShowsInTheSourcesFolder()
    {
        QFETCH(bool, canSwap);
        const QString root = lg::test::freshFolder(QStringLiteral("replace shared"));
        const QString shared = root + "/tmp", home = root + "/home";
        lg::test::writeFile(shared + "/F/new.jpg", "new");
        for (int i = 0; i < 20; ++i)
            lg::test::writeFile(home + QStringLiteral("/F/private %1.jpg").arg(i), "private");
        QStringList seen;
        int looks = 0;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Remove || step == lg::FileStep::EnterFolder) {
                ++looks;
                for (const QString &name : entries(shared))
                    seen << name;
                if (path.startsWith(shared + "/"))
                    seen << path;
            }
            return step == lg::FileStep::Swap && !canSwap ? EINVAL : 0;
        });
        const lg::FileOpResult r = lg::moveItem(shared + "/F", home, lg::ConflictPolicy::Replace);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(looks > 20);
        QCOMPARE(seen, QStringList{});
        QCOMPARE(entries(shared), QStringList{});
        QCOMPARE(entries(home), QStringList{"F"});
        QCOMPARE(entries(home + "/F"), QStringList{"new.jpg"});
    }

    // Where renames cannot refuse a taken name by themselves (NFS, CIFS, some
    // FUSE), a name taken by another client at the last moment is never replaced.
    void withoutNoReplaceRenamesANameTakenMeanwhileIsKept_data()
    {
        QTest::addColumn<bool>("folder");
        QTest::addColumn<QString>("taken");   // what the other client makes at the name: "", "file", "folder"
        QTest::newRow("file, name free") << false << "";
        QTest::newRow("file, a file arrives") << false << "file";
        QTest::newRow("folder, name free") << true << "";
        QTest::newRow("folder, a file arrives") << true << "file";
        QTest::newRow("folder, an empty folder arrives") << true << "folder";
    }
    void withoutNoReplaceRenamesANameTakenMeanwhileIsKept()
    {
        QFETCH(bool, folder);
        QFETCH(QString, taken);
        const QString root = lg::test::freshFolder(QStringLiteral("noreplace"));
        const QString item = root + "/src/item", target = root + "/dst/item";
        lg::test::writeFile(folder ? item + "/a.jpg" : item, "mine");
        QDir().mkpath(root + "/dst");
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::NoReplaceRename)
                return EINVAL;
            if (step == lg::FileStep::NoReplaceFallback && path == target && !taken.isEmpty()) {
                if (taken == "file")
                    lg::test::writeFile(target, "theirs");
                else
                    QDir().mkpath(target);
            }
            return 0;
        });
        const lg::FileOpResult moved = lg::moveItem(item, root + "/dst");
        QCOMPARE(readAll(folder ? item + "/a.jpg" : item), taken.isEmpty() ? QByteArray("<missing>") : QByteArray("mine"));
        if (taken.isEmpty()) {
            QVERIFY2(moved.ok(), qPrintable(moved.message));
            QCOMPARE(readAll(folder ? target + "/a.jpg" : target), QByteArray("mine"));
            QCOMPARE(entries(root + "/src"), QStringList{});
        } else {
            QCOMPARE(moved.error, lg::FileOpError::TargetExists);
            if (taken == "file")
                QCOMPARE(readAll(target), QByteArray("theirs"));
            else
                QCOMPARE(entries(target), QStringList{});
        }
        QCOMPARE(entries(root + "/dst"), QStringList{"item"});
        // A rename in place takes the same road.
        const lg::FileOpResult renamed = lg::renameItem(root + "/dst/item", QStringLiteral("renamed"));
        QVERIFY2(renamed.ok(), qPrintable(renamed.message));
        QCOMPARE(entries(root + "/dst"), QStringList{"renamed"});
    }

    // A quit during a long move across disks stops each long loop (measuring,
    // folder making, the delete step) at its next item: what is done stays
    // done, nothing is lost, and the item comes back Cancelled.
    void quittingStopsMeasuringFolderMakingAndRemovalBetweenItems_data()
    {
        QTest::addColumn<lg::FileStep>("phase");
        QTest::newRow("measuring") << lg::FileStep::Measure;
        QTest::newRow("folder making") << lg::FileStep::MakeFolder;
        QTest::newRow("removal") << lg::FileStep::Remove;
    }
    void quittingStopsMeasuringFolderMakingAndRemovalBetweenItems()
    {
        QFETCH(lg::FileStep, phase);
        const QString root = lg::test::freshFolder(QStringLiteral("quit loops"));
        const QString src = root + "/src/Tree";
        QStringList names;
        for (int i = 0; i < 300; ++i) {
            names << QStringLiteral("%1").arg(i, 3, 10, QLatin1Char('0'));
            QVERIFY(QDir().mkpath(src + "/" + names.last()));
        }
        QDir().mkpath(root + "/dst");
        std::atomic<int> steps = 0, afterQuit = 0;
        FaultGuard fault([&](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            if (step == phase) {
                if (lg::isShuttingDown())
                    ++afterQuit;
                else if (++steps == 20)
                    lg::beginShutdown();
            }
            return 0;
        });
        const auto restore = qScopeGuard([] { lg::resetShutdownForTesting(); });
        QFuture<QList<lg::FileOpResult>> running = lg::runOnPool([&] {
            return lg::FileBatch(lg::FileOpKind::Move, root + "/dst").run({src}, lg::ConflictPolicy::Refuse).results;
        });
        running.waitForFinished();
        const QList<lg::FileOpResult> results = running.result();
        QCOMPARE(steps.load(), 20);
        QCOMPARE(afterQuit.load(), 0);
        QCOMPARE(results.size(), 1);
        QCOMPARE(results.first().error, lg::FileOpError::Cancelled);
        // Every folder is in the source or, once the copy was whole, in the copy.
        const QStringList inSource = entries(src), inCopy = entries(root + "/dst/Tree");
        if (phase == lg::FileStep::Remove) {
            QVERIFY(results.first().itemInPlace);
            QCOMPARE(inCopy, names);
            QVERIFY(inSource.size() > 250);
        } else {
            QCOMPARE(inSource, names);
            QCOMPARE(inCopy, QStringList{});
        }
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

    // A batch runs off the main thread, as a file command's does, and its
    // failures come to one summary.
    void aBatchOffTheMainThreadSumsUpItsFailures()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("batch"));
        QStringList items;
        for (int i = 0; i < 3; ++i)
            items.append(lg::test::writeFile(root + QStringLiteral("/src/f%1").arg(i), QByteArray(1000, 'x')));
        items.append(root + "/src/missing");
        QDir().mkpath(root + "/dst");

        std::optional<QList<lg::FileOpResult>> ran;
        lg::runThenCallback(
            this,
            [items, root] {
                return lg::FileBatch(lg::FileOpKind::Copy, root + "/dst").run(items, lg::ConflictPolicy::Refuse);
            },
            [&](const lg::FileBatch::Outcome &outcome) { ran = outcome.results; });
        QTRY_VERIFY_WITH_TIMEOUT(ran.has_value(), 10000);
        const QList<lg::FileOpResult> results = *ran;
        QCOMPARE(results.size(), 4);
        QVERIFY(results[0].ok() && results[2].ok());
        QCOMPARE(results[3].error, lg::FileOpError::SourceMissing);
        QCOMPARE(entries(root + "/dst"), (QStringList{"f0", "f1", "f2"}));
        const auto summary = lg::failureSummary(results);
        QVERIFY(summary);
        QCOMPARE(summary->title, QStringLiteral("Some items could not be processed."));
        QVERIFY(summary->text.startsWith(QStringLiteral("1 item could not be processed.")));
        QVERIFY(summary->text.contains(QStringLiteral("missing")));

        const std::atomic<bool> cancelled{true};
        const auto none =
            lg::FileBatch(lg::FileOpKind::Move, root + "/dst").run(items, lg::ConflictPolicy::Refuse, &cancelled).results;
        QCOMPARE(none.size(), 4);
        for (const lg::FileOpResult &r : none)
            QCOMPARE(r.error, lg::FileOpError::Cancelled);
        QVERIFY(!lg::failureSummary(none));
        QVERIFY(QFileInfo::exists(items[0]));
    }

    // ---- Batches: the clash rules ----
    void aBatchReplacesOnlyWhatTheDestinationHeldBefore_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("folders");
        QTest::addColumn<int>("answer");
        QTest::addColumn<QStringList>("expected");   // name=content, in name order
        const int replace = int(lg::ConflictPolicy::Replace), keepBoth = int(lg::ConflictPolicy::KeepBoth);
        for (bool move : {false, true})
            for (bool folders : {false, true}) {
                const char *k = move ? "move" : "copy";
                const char *what = folders ? "folders" : "files";
                const QString x = folders ? "x" : "x.jpg", x2 = folders ? "x 2" : "x 2.jpg",
                              x3 = folders ? "x 3" : "x 3.jpg";
                const QString y = folders ? "y" : "y.jpg", y2 = folders ? "y 2" : "y 2.jpg";
                QTest::addRow("%s %s, replace", k, what) << move << folders << replace
                    << QStringList{x + "=A x", x2 + "=B x", y + "=A y", y2 + "=B y"};
                QTest::addRow("%s %s, make a copy", k, what) << move << folders << keepBoth
                    << QStringList{x + "=old", x2 + "=A x", x3 + "=B x", y + "=A y", y2 + "=B y"};
            }
    }
    void aBatchReplacesOnlyWhatTheDestinationHeldBefore()
    {
        QFETCH(bool, move);
        QFETCH(bool, folders);
        QFETCH(int, answer);
        QFETCH(QStringList, expected);
        const QString root = lg::test::freshFolder(QStringLiteral("batch clash"));
        const auto make = [folders](const QString &path, const QByteArray &content) {
            lg::test::writeFile(folders ? path + "/f" : path, content);
        };
        const QString ext = folders ? QString() : QStringLiteral(".jpg");
        make(root + "/dst/x" + ext, "old");
        QStringList sources;
        for (const QString from : {"A", "B"})
            for (const QString name : {"x", "y"}) {
                sources << root + "/" + from + "/" + name + ext;
                make(sources.last(), (from + " " + name).toUtf8());
            }
        lg::FileBatch batch(move ? lg::FileOpKind::Move : lg::FileOpKind::Copy, root + "/dst");
        const lg::FileBatch::Outcome first = batch.run(sources, lg::ConflictPolicy::Refuse);
        // Only the names the destination held are asked about; B's y is numbered at once.
        QCOMPARE(first.clashes, (QStringList{sources[0], sources[2]}));
        QCOMPARE(first.results.size(), 2);
        const lg::FileBatch::Outcome second = batch.run(first.clashes, lg::ConflictPolicy(answer));
        QCOMPARE(second.results.size(), 2);
        for (const lg::FileOpResult &r : first.results + second.results)
            QVERIFY2(r.ok(), qPrintable(r.message));
        QStringList found;
        for (const QString &name : entries(root + "/dst"))
            found << name + "=" + QString::fromUtf8(readAll(root + "/dst/" + name + (folders ? "/f" : "")));
        found.sort();
        expected.sort();
        QCOMPARE(found, expected);
        QCOMPARE(QFileInfo::exists(sources[1]), !move);
    }

    // ---- The Trash ----
    void trashClaimsNamesWithoutListingAndKeepsThemShort()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("trash names"));
        // A name of 250 bytes: its .trashinfo would pass 255 unless the name shrinks.
        const QString longName = QString(246, QLatin1Char('n')) + QStringLiteral(".jpg");
        const QString first = lg::test::writeFile(folder + "/" + longName, "one");
        const QString second = lg::test::writeFile(folder + "/other/" + longName, "two");
        // A stray item in files/ without its .trashinfo keeps its name.
        QVERIFY(QDir().mkpath(homeTrash() + "/files"));
        lg::test::writeFile(homeTrash() + "/files/stray.txt", "stray");
        const QString stray = lg::test::writeFile(folder + "/stray.txt", "mine");
        for (const QString &path : {first, second, stray}) {
            const lg::FileOpResult r = lg::moveToTrash(path);
            QVERIFY2(r.ok(), qPrintable(r.message));
            const QString name = QFileInfo(r.target).fileName();
            QVERIFY(raw(name).size() + 10 <= 255);
            QCOMPARE(lg::readTrashInfo(homeTrash() + "/info/" + name + ".trashinfo")->originalPath, path);
            QVERIFY(!QFileInfo::exists(path));
        }
        QCOMPARE(readAll(homeTrash() + "/files/stray.txt"), QByteArray("stray"));
        QVERIFY(QFileInfo::exists(homeTrash() + "/files/stray 2.txt"));
    }

    void linksToTheHomeFolderOrTheRootAreTrashedAsLinks()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("links to home"));
        QVERIFY(QFile::link(QDir::homePath(), folder + "/home"));
        QVERIFY(QFile::link(QStringLiteral("/"), folder + "/root"));
        for (const char *name : {"home", "root"}) {
            const lg::FileOpResult r = lg::moveToTrash(folder + "/" + name);
            QVERIFY2(r.ok(), qPrintable(r.message));
            QVERIFY(QFileInfo(r.target).isSymLink());
        }
        QVERIFY(QFileInfo(QDir::homePath()).isDir());
        QCOMPARE(lg::moveToTrash(QDir::homePath()).error, lg::FileOpError::Denied);
    }

    void readOnlyFoldersTrashAndReplaceLikeAnyOther()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("read only"));
        lg::test::writeFile(root + "/RO/inner/photo.jpg", "ro");
        lg::test::writeFile(root + "/src/F/new.jpg", "new");
        lg::test::writeFile(root + "/dst/F/locked/old.jpg", "old");
        lg::test::writeFile(root + "/card/DCIM/IMG_1.jpg", "card");
        QDir().mkpath(root + "/copies");
        QVERIFY(QDir().mkpath(homeTrash() + "/files") && QDir().mkpath(homeTrash() + "/info"));
        lg::test::handOver(homeTrash());
        lg::test::handOver(root);
        for (const QString &path : {root + "/RO/inner/photo.jpg", root + "/dst/F/locked/old.jpg"})
            ::chmod(raw(path).constData(), 0444);
        for (const QString &path : {root + "/RO/inner", root + "/RO", root + "/dst/F/locked", root + "/card/DCIM"})
            ::chmod(raw(path).constData(), 0555);
        lg::FileOpResult trashed, replaced, cardCopy;
        {
            lg::test::AsOrdinaryUser user;
            trashed = lg::moveToTrash(root + "/RO");
            replaced = lg::moveItem(root + "/src/F", root + "/dst", lg::ConflictPolicy::Replace);
            // A failed copy of a camera card's read-only folders leaves nothing behind.
            FaultGuard fault([](lg::FileStep step, const QString &) {
                return step == lg::FileStep::FinalRename ? EIO : 0;
            });
            cardCopy = lg::copyItem(root + "/card", root + "/copies");
        }
        QVERIFY(!cardCopy.ok());
        QCOMPARE(entries(root + "/copies"), QStringList{});
        QVERIFY2(trashed.ok(), qPrintable(trashed.message));
        QCOMPARE(readAll(trashed.target + "/inner/photo.jpg"), QByteArray("ro"));
        QVERIFY2(replaced.ok(), qPrintable(replaced.message));
        QCOMPARE(entries(root + "/dst"), QStringList{QStringLiteral("F")});   // nothing hidden is left
        QCOMPARE(entries(root + "/src"), QStringList{});
        QCOMPARE(readAll(root + "/dst/F/new.jpg"), QByteArray("new"));
    }

    void trashByCopyRefusesWhatCannotBeRemovedAndKeepsTheInformation()
    {
        // Nothing copied when the item cannot be removed: a read-only mount
        // without a Trash of its own.
        const QString top = lg::test::freshFolder(QStringLiteral("ro mount"));
        if (::mount("lgro", raw(top).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("tmpfs cannot be mounted here");
        lg::test::writeFile(top + "/photo.jpg", "p");
        const int remounted = ::mount("lgro", raw(top).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr);
        const lg::FileOpResult refused = lg::moveToTrash(top + "/photo.jpg");
        const bool kept = QFileInfo::exists(top + "/photo.jpg");
        ::umount(raw(top).constData());
        QCOMPARE(remounted, 0);
        QCOMPARE(refused.error, lg::FileOpError::Denied);
        QVERIFY2(refused.message.contains(QStringLiteral("Nothing was changed")), qPrintable(refused.message));
        QVERIFY(kept);
        QVERIFY(!QFileInfo::exists(homeTrash() + "/files/photo.jpg"));
        QVERIFY(!QFileInfo::exists(homeTrash() + "/info/photo.jpg.trashinfo"));

        // Removal failing part-way after the copy: the Trash still lists the copy.
        const QString folder = lg::test::freshFolder(QStringLiteral("by copy")) + "/Album";
        lg::test::writeFile(folder + "/a.jpg", "a");
        lg::test::writeFile(folder + "/b.jpg", "b");
        FaultGuard fault([](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            return step == lg::FileStep::Remove && path.endsWith(QLatin1String("Album/b.jpg")) ? EIO : 0;
        });
        const lg::FileOpResult partly = lg::moveToTrash(folder);
        QVERIFY(!partly.ok() && partly.itemInPlace);
        QVERIFY2(partly.message.contains(folder + "/b.jpg"), qPrintable(partly.message));
        QCOMPARE(lg::readTrashInfo(homeTrash() + "/info/Album.trashinfo")->originalPath, folder);
        QCOMPARE(readAll(partly.target + "/a.jpg"), QByteArray("a"));
        QCOMPARE(readAll(partly.target + "/b.jpg"), QByteArray("b"));
    }

    // ---- Keeping files whole ----
    void aMoveAcrossFileSystemsKeepsASourceThatChanged()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("changing"));
        const QString src = lg::test::writeFile(root + "/src/video.mov", QByteArray(100000, 'v'));
        QDir().mkpath(root + "/dst");
        FaultGuard fault([src](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            if (step == lg::FileStep::CopyData && path == src) {   // still being written
                QFile more(src);
                more.open(QIODevice::Append);
                more.write(QByteArray(5000, 'w'));
            }
            return 0;
        });
        const lg::FileOpResult r = lg::moveItem(src, root + "/dst");
        QVERIFY(!r.ok());
        QCOMPARE(readAll(src).size(), 105000);
        QVERIFY(r.message.contains(QStringLiteral("changed")));
    }

    // A batch's moves across disks take each original away only once its copy
    // is on disk, name and all: each copy's bytes, then the folder that names
    // the copies, synced before the first original goes. That folder and the
    // moves' notes are synced once for the group, not once an item. Where the
    // folder cannot be synced, every original stays where it was.
    void aBatchOfMovesAcrossDisksRemovesOriginalsOnlyOnceTheirCopiesAreOnDisk()
    {
        for (const int folderSyncFails : {0, EIO}) {
            const QString root = lg::test::freshFolder(QStringLiteral("synced moves"));
            const QString dst = root + "/dst";
            QDir().mkpath(dst);
            QStringList sources;
            for (int i = 0; i < 4; ++i)
                sources.append(lg::test::writeFile(root + QStringLiteral("/card/IMG_%1.JPG").arg(i),
                                                   QByteArray(3000 + i, 'p')));
            QStringList steps;   // "sync PATH" and "remove PATH", in the order they came
            FaultGuard fault([&](lg::FileStep step, const QString &path) {
                if (step == lg::FileStep::Rename)
                    return EXDEV;
                if (step == lg::FileStep::Sync) {
                    steps.append("sync " + path);
                    return path == dst ? folderSyncFails : 0;
                }
                if (step == lg::FileStep::Remove)
                    steps.append("remove " + path);
                return 0;
            });
            const QList<lg::FileOpResult> moved =
                lg::FileBatch(lg::FileOpKind::Move, dst).run(sources, lg::ConflictPolicy::Refuse).results;
            QCOMPARE(moved.size(), sources.size());
            const qsizetype folderSynced = steps.indexOf("sync " + dst);
            QVERIFY2(folderSynced >= 0, qPrintable(steps.join('\n')));
            QCOMPARE(steps.count("sync " + dst), 1);
            for (qsizetype i = 0; i < sources.size(); ++i) {
                const QString copy = dst + '/' + QFileInfo(sources[i]).fileName();
                QCOMPARE(readAll(copy).size(), 3000 + i);
                const qsizetype copySynced = steps.indexOf("sync " + copy);
                QVERIFY2(copySynced >= 0 && copySynced < folderSynced, qPrintable(steps.join('\n')));
                if (folderSyncFails) {
                    QVERIFY(!moved[i].ok() && moved[i].itemInPlace);
                    QVERIFY2(moved[i].message.contains("the original was not removed"), qPrintable(moved[i].message));
                    QVERIFY(QFileInfo::exists(sources[i]));
                    QVERIFY(!steps.contains("remove " + sources[i]));
                } else {
                    QVERIFY2(moved[i].ok(), qPrintable(moved[i].message));
                    QVERIFY(!QFileInfo::exists(sources[i]));
                    QVERIFY2(steps.indexOf("remove " + sources[i]) > folderSynced, qPrintable(steps.join('\n')));
                }
            }
            // Besides the copies and their folder, only the notes' folder, once.
            const qsizetype records = std::count_if(steps.cbegin(), steps.cend(), [&dst](const QString &s) {
                return s.startsWith("sync ") && s != "sync " + dst && !s.startsWith("sync " + dst + '/');
            });
            QCOMPARE(records, folderSyncFails ? 0 : 1);
        }
    }

    // A copy or a move carries what desktops keep beside a file's bytes: every
    // extended attribute and ACL of each file and folder, and one file under
    // two names stays one file. Moves and copies go to another file system
    // (a tmpfs) where the machine allows; Duplicate and the Trash by copy stay
    // on the test's own.
    void copiesAndMovesKeepAttributesAclsAndHardLinks_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("wholeAlbum");
        QTest::newRow("move of a file across disks") << "move" << false;
        QTest::newRow("move of a folder across disks") << "move" << true;
        QTest::newRow("paste of a file") << "copy" << false;
        QTest::newRow("paste of a folder") << "copy" << true;
        QTest::newRow("copy to, a batch") << "batch" << true;
        QTest::newRow("duplicate") << "duplicate" << true;
        QTest::newRow("move to trash by copy") << "trash" << true;
    }
    void copiesAndMovesKeepAttributesAclsAndHardLinks()
    {
        QFETCH(QString, operation);
        QFETCH(bool, wholeAlbum);
        const QString album = lg::test::freshFolder(QStringLiteral("tagged")) + "/Album";
        if (!makeTaggedAlbum(album))
            QSKIP("this file system holds no user attributes or ACLs");
        const QString source = wholeAlbum ? album : album + "/a.jpg";
        const auto before = wholeAlbum ? treeAttributes(album) : QMap<QString, AttributeMap>{{{}, attributesOf(source)}};
        QVERIFY(before.value(wholeAlbum ? "a.jpg" : "").contains("user.xdg.tags"));
        const bool acrossDisks = operation == "move" || operation == "copy" || operation == "batch";
        OtherDisk disk(QStringLiteral("other disk"));
        if (acrossDisks && disk.top.isEmpty())
            QSKIP("tmpfs cannot be mounted here");
        std::optional<FaultGuard> fault;
        if (operation == "trash")   // the Trash is on another disk: it takes a copy
            fault.emplace([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });

        lg::FileOpResult r;
        if (operation == "move")
            r = lg::moveItem(source, disk.top);
        else if (operation == "copy")
            r = lg::copyItem(source, disk.top);
        else if (operation == "duplicate")
            r = lg::copyItem(source, QFileInfo(source).absolutePath(), lg::ConflictPolicy::KeepBoth);
        else if (operation == "trash")
            r = lg::moveToTrash(source);
        else {
            lg::FileBatch batch(lg::FileOpKind::Copy, disk.top);
            const lg::FileBatch::Outcome outcome = batch.run({source}, lg::ConflictPolicy::Refuse);
            QCOMPARE(outcome.results.size(), 1);
            r = outcome.results.first();
        }
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(r.attributesNotKept, QStringList{});
        const auto after = wholeAlbum ? treeAttributes(r.target) : QMap<QString, AttributeMap>{{{}, attributesOf(r.target)}};
        QCOMPARE(after.keys(), before.keys());
        for (auto it = before.cbegin(); it != before.cend(); ++it)
            QVERIFY2(after.value(it.key()) == it.value(), qPrintable(it.key() + " lost attributes"));
        if (wholeAlbum) {
            QVERIFY(inodeOf(r.target + "/a.jpg") != 0);
            QCOMPARE(inodeOf(r.target + "/sub/b.jpg"), inodeOf(r.target + "/a.jpg"));
            QCOMPARE(lg::test::readAll(r.target + "/sub/b.jpg"), QByteArray(70000, 'a'));
        }
        QCOMPARE(QFileInfo::exists(source), operation != "move" && operation != "trash");
    }

    // Where the target cannot hold extended attributes (a FAT card, a file
    // system without user.*), the copy goes ahead and the result names what
    // lost them; a move still removes its source. A privileged attribute the
    // process may not set is skipped without a word, as cp -a skips it.
    void attributesTheTargetCannotHoldAreNamedAndTheItemStillArrives_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("refusal");   // the errno of each attribute set
        QTest::addColumn<QStringList>("notKept");
        const QStringList all{"Album", "Album/a.jpg", "Album/sub"};
        QTest::newRow("move across disks onto a card") << "move" << int(EOPNOTSUPP) << all;
        QTest::newRow("paste onto a card") << "copy" << int(EOPNOTSUPP) << all;
        QTest::newRow("trash by copy") << "trash" << int(EOPNOTSUPP) << all;
        QTest::newRow("without privileges: only user attributes count") << "copy" << int(EPERM) << all;
        QTest::newRow("without privileges: trusted only") << "trusted only" << int(EPERM) << QStringList{};
    }
    void attributesTheTargetCannotHoldAreNamedAndTheItemStillArrives()
    {
        QFETCH(QString, operation);
        QFETCH(int, refusal);
        QFETCH(QStringList, notKept);
        const QString root = lg::test::freshFolder(QStringLiteral("no attributes"));
        const QString album = root + "/src/Album";
        if (!makeTaggedAlbum(album))
            QSKIP("this file system holds no user attributes or ACLs");
        QString source = album;
        if (operation == "trusted only") {
            source = lg::test::writeFile(root + "/src/t.jpg", "t");
            QVERIFY(setAttribute(source, "trusted.lg.note", "root only"));
        }
        QDir().mkpath(root + "/card");
        FaultGuard fault([refusal](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename ? EXDEV : step == lg::FileStep::CopyAttributes ? refusal : 0;
        });
        const lg::FileOpResult r = operation == "move"    ? lg::moveItem(source, root + "/card")
                                   : operation == "trash" ? lg::moveToTrash(source)
                                                          : lg::copyItem(source, root + "/card");
        QCOMPARE(QFileInfo::exists(source), operation != "move" && operation != "trash");
        QCOMPARE(lg::test::readAll(r.target + (source == album ? "/sub/b.jpg" : "")),
                 source == album ? QByteArray(70000, 'a') : QByteArray("t"));
        if (notKept.isEmpty()) {
            QVERIFY2(r.ok(), qPrintable(r.message));
            return;
        }
        QVERIFY2(r.ok() && r.arrived(), qPrintable(r.message));   // copied, not failed
        QStringList named = r.attributesNotKept;
        named.sort();
        QStringList expected;
        for (const QString &entry : notKept)
            expected.append(QFileInfo(r.target).absolutePath() + "/" + QFileInfo(r.target).fileName()
                            + entry.mid(QStringLiteral("Album").size()));
        QCOMPARE(named, expected);
        const QString targetName = QFileInfo(r.target).fileName();
        QVERIFY2(r.message.contains(QStringLiteral("could not be kept")) && r.message.contains("“" + targetName + "/a.jpg”"),
                 qPrintable(r.message));
        if (operation == "trash")
            QVERIFY2(r.message.startsWith(QStringLiteral("“Album” was put in the Trash.")), qPrintable(r.message));
        QVERIFY(!lg::failureSummary({r}));
        const auto summary = lg::batchSummary({r}, lg::FileOpKind::Copy);
        QVERIFY(summary && summary->informational && summary->text.contains(QStringLiteral("could not be kept")));
    }

    // Where the target cannot make hard links (a FAT card), a further name of
    // a file becomes a file of its own: the item arrives whole, and the result
    // names each such entry, never silently.
    void hardLinksTheTargetCannotMakeAreNamed_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::newRow("paste onto a card") << "copy";
        QTest::newRow("move across disks onto a card") << "move";
        QTest::newRow("trash by copy") << "trash";
        QTest::newRow("copy to, a batch") << "batch";
    }
    void hardLinksTheTargetCannotMakeAreNamed()
    {
        QFETCH(QString, operation);
        const QString root = lg::test::freshFolder(QStringLiteral("no links"));
        const QString album = root + "/src/Album";
        lg::test::writeFile(album + "/a.jpg", "one photo, three names");
        lg::test::writeFile(album + "/c.jpg", "a name of its own");
        QDir().mkpath(album + "/sub");
        QCOMPARE(::link(raw(album + "/a.jpg").constData(), raw(album + "/sub/b.jpg").constData()), 0);
        QCOMPARE(::link(raw(album + "/a.jpg").constData(), raw(album + "/z.jpg").constData()), 0);
        QDir().mkpath(root + "/card");
        FaultGuard fault([](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename ? EXDEV : step == lg::FileStep::HardLink ? EPERM : 0;
        });
        lg::FileOpResult r;
        if (operation == "move")
            r = lg::moveItem(album, root + "/card");
        else if (operation == "trash")
            r = lg::moveToTrash(album);
        else if (operation == "copy")
            r = lg::copyItem(album, root + "/card");
        else {
            lg::FileBatch batch(lg::FileOpKind::Copy, root + "/card");
            const lg::FileBatch::Outcome outcome = batch.run({album}, lg::ConflictPolicy::Refuse);
            QCOMPARE(outcome.results.size(), 1);
            r = outcome.results.first();
        }
        QCOMPARE(QFileInfo::exists(album), operation == "copy" || operation == "batch");
        QVERIFY2(r.ok() && r.arrived(), qPrintable(r.message));   // copied, not failed
        QCOMPARE(r.attributesNotKept, QStringList{});
        // The names after the first one copied (the walk's order) are named.
        const QStringList names{"a.jpg", "sub/b.jpg", "z.jpg"};
        QCOMPARE(r.linksNotKept.size(), 2);
        for (const QString &path : std::as_const(r.linksNotKept)) {
            QVERIFY2(names.contains(path.mid(r.target.size() + 1)), qPrintable(path));
            QVERIFY2(r.message.contains("“" + QFileInfo(r.target).fileName() + "/" + path.mid(r.target.size() + 1) + "”"),
                     qPrintable(r.message));
        }
        for (const QString &name : names)
            QCOMPARE(lg::test::readAll(r.target + "/" + name), QByteArray("one photo, three names"));
        QVERIFY(inodeOf(r.target + "/sub/b.jpg") != inodeOf(r.target + "/a.jpg"));
        QVERIFY(inodeOf(r.target + "/z.jpg") != inodeOf(r.target + "/a.jpg"));
        QVERIFY2(r.message.contains(QStringLiteral("could not be kept: the file system of")), qPrintable(r.message));
        QVERIFY2(!r.message.contains(QStringLiteral("extended attributes")), qPrintable(r.message));
        if (operation == "trash")
            QVERIFY2(r.message.startsWith(QStringLiteral("“Album” was put in the Trash.")), qPrintable(r.message));
        QVERIFY(!lg::failureSummary({r}));
        const auto summary = lg::batchSummary({r}, lg::FileOpKind::Copy);
        QVERIFY(summary && summary->informational && summary->text.contains(QStringLiteral("could not be kept")));
    }

    // A photo turned in place by a tool that puts its size and modification
    // time back (exiftool -P) between the copy and the delete step of a move
    // across disks stays where it is; the file's identity, which the viewer and
    // the browser compare, changes with it.
    void anEditThatPutsSizeAndDateBackStaysAndChangesTheIdentity_data()
    {
        QTest::addColumn<bool>("inFolder");
        QTest::newRow("a photo") << false;
        QTest::newRow("a photo in a folder") << true;
    }
    void anEditThatPutsSizeAndDateBackStaysAndChangesTheIdentity()
    {
        QFETCH(bool, inFolder);
        const QString root = lg::test::freshFolder(QStringLiteral("exiftool"));
        const QString photo = lg::test::writeFile(root + "/src/Trip/IMG_1.jpg", QByteArray(5000, 'u'));
        lg::test::writeFile(root + "/src/Trip/IMG_2.jpg", "other");
        QDir().mkpath(root + "/dst");
        struct stat original;
        QCOMPARE(::lstat(raw(photo).constData(), &original), 0);
        const auto turnInPlace = [&] {
            const int fd = ::open(raw(photo).constData(), O_WRONLY);
            const QByteArray turned(5000, 't');
            QCOMPARE(::pwrite(fd, turned.constData(), size_t(turned.size()), 0), ssize_t(turned.size()));
            ::close(fd);
            const struct timespec back[2] = {original.st_atim, original.st_mtim};   // touch -d, back
            QCOMPARE(::utimensat(AT_FDCWD, raw(photo).constData(), back, 0), 0);
        };

        const std::optional<lg::FileIdentity> seen = lg::fileIdentity(photo);
        QVERIFY(seen);
        bool turned = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            if (step == lg::FileStep::Remove && !turned && (path == photo || path == root + "/src/Trip")) {
                turned = true;
                turnInPlace();
            }
            return 0;
        });
        const QString source = inFolder ? root + "/src/Trip" : photo;
        const lg::FileOpResult r = lg::moveItem(source, root + "/dst");
        QVERIFY(turned);
        QVERIFY(!r.ok());
        QVERIFY(r.itemInPlace);
        QCOMPARE(lg::test::readAll(photo), QByteArray(5000, 't'));
        QCOMPARE(lg::test::readAll(inFolder ? r.target + "/IMG_1.jpg" : r.target), QByteArray(5000, 'u'));
        QVERIFY2(r.message.contains(inFolder ? QStringLiteral("“Trip/IMG_1.jpg”") : QStringLiteral("“IMG_1.jpg”"))
                     && r.message.contains(QStringLiteral("the older one")),
                 qPrintable(r.message));
        if (inFolder)
            QVERIFY(!QFileInfo::exists(root + "/src/Trip/IMG_2.jpg"));

        const std::optional<lg::FileIdentity> now = lg::fileIdentity(photo);
        QVERIFY(now);
        QCOMPARE(now->size, seen->size);
        QCOMPARE(now->modifiedSeconds, seen->modifiedSeconds);
        QCOMPARE(now->modifiedNanoseconds, seen->modifiedNanoseconds);
        QVERIFY(*now != *seen);
    }

    // After a batch, the alert names every item that failed with its reason,
    // a line each: the first ten, then how many more.
    void theSummaryOfABatchNamesEveryFailedItem()
    {
        QList<lg::FileOpResult> results;
        for (int i = 1; i <= 13; ++i) {
            lg::FileOpResult r;
            r.source = QStringLiteral("/photos/IMG_%1.jpg").arg(i);
            if (i != 2) {
                r.error = lg::FileOpError::Denied;
                r.message = QStringLiteral("reason %1").arg(i);
            }
            results.append(r);
        }
        const auto three = lg::failureSummary(results.mid(0, 4));
        QVERIFY(three);
        QCOMPARE(three->text, QStringLiteral("3 items could not be processed.\n“IMG_1.jpg”: reason 1\n"
                                             "“IMG_3.jpg”: reason 3\n“IMG_4.jpg”: reason 4"));
        const auto many = lg::failureSummary(results);
        QVERIFY(many);
        const QStringList lines = many->text.split(QLatin1Char('\n'));
        QCOMPARE(lines.size(), 12);
        QCOMPARE(lines.first(), QStringLiteral("12 items could not be processed."));
        QCOMPARE(lines.value(10), QStringLiteral("“IMG_11.jpg”: reason 11"));
        QCOMPARE(lines.last(), QStringLiteral("And 2 more."));
    }

    void aSourceSwappedForAPipeIsRefusedAtOnce()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("fifo"));
        const QString src = lg::test::writeFile(root + "/src/p.jpg", "photo");
        QDir().mkpath(root + "/dst");
        FaultGuard fault([src](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::CopyData && path == src) {
                ::unlink(raw(src).constData());
                ::mkfifo(raw(src).constData(), 0644);
            }
            return 0;
        });
        QFuture<lg::FileOpResult> copying = lg::runOnPool([&] { return lg::copyItem(src, root + "/dst"); });
        if (!QTest::qWaitFor([&] { return copying.isFinished(); }, 5000)) {   // a blocked open: give it its end of file
            const int fd = ::open(raw(src).constData(), O_WRONLY | O_NONBLOCK);
            ::close(fd);
        }
        copying.waitForFinished();
        QVERIFY(!copying.result().ok());
        QCOMPARE(entries(root + "/dst"), QStringList{});
    }

    void renameNeverFollowsOrReplacesLinks_data()
    {
        QTest::addColumn<QString>("kind");   // how a.jpg and A.jpg are related
        QTest::newRow("a.jpg links to A.jpg") << "link a";
        QTest::newRow("A.jpg links to a.jpg") << "link A";
        QTest::newRow("hard links") << "hard";
    }
    void renameNeverFollowsOrReplacesLinks()
    {
        QFETCH(QString, kind);
        const QString root = lg::test::freshFolder(QStringLiteral("rename links"));
        const QString a = root + "/a.jpg", upper = root + "/A.jpg";
        lg::test::writeFile(kind == "link a" ? upper : a, "photo");
        if (kind == "link a")
            QVERIFY(QFile::link(QStringLiteral("A.jpg"), a));
        else if (kind == "link A")
            QVERIFY(QFile::link(QStringLiteral("a.jpg"), upper));
        else
            QCOMPARE(::link(raw(a).constData(), raw(upper).constData()), 0);
        QCOMPARE(lg::renameItem(a, QStringLiteral("A.jpg")).error, lg::FileOpError::TargetExists);
        QCOMPARE(entries(root), (QStringList{"A.jpg", "a.jpg"}));
        QCOMPARE(readAll(kind == "link a" ? upper : a), QByteArray("photo"));
        QCOMPARE(QFileInfo(a).isSymLink(), kind == "link a");
        QCOMPARE(QFileInfo(upper).isSymLink(), kind == "link A");
    }

    void replaceSwapsFoldersAndToldWhatItCouldNotRemove()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("swap"));
        lg::test::writeFile(root + "/src/F/new.jpg", "new");
        lg::test::writeFile(root + "/dst/F/old.jpg", "old");
        lg::test::writeFile(root + "/dst/F/stuck.jpg", "stuck");
        bool targetThere = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::FinalRename)
                targetThere = QFileInfo::exists(root + "/dst/F");   // the window in which F is missing
            return step == lg::FileStep::Remove && path.endsWith(QLatin1String("/stuck.jpg")) ? EIO : 0;
        });
        const lg::FileOpResult r = lg::copyItem(root + "/src/F", root + "/dst", lg::ConflictPolicy::Replace);
        QVERIFY(targetThere);
        QVERIFY(!r.ok() && r.itemInPlace);
        QCOMPARE(readAll(root + "/dst/F/new.jpg"), QByteArray("new"));
        // Beside F, what is left, and the lock that lets a later cleanup finish the removal.
        QStringList left = entries(root + "/dst");
        QCOMPARE(left.removeIf([](const QString &name) { return name.startsWith(QLatin1String(".lglock-")); }), 1);
        QCOMPARE(left.size(), 2);
        QVERIFY2(r.message.contains(root + "/dst/" + left.first()), qPrintable(r.message));
        QCOMPARE(readAll(root + "/dst/" + left.first() + "/stuck.jpg"), QByteArray("stuck"));
    }

    // Only what a lock file of ours names is ever cleaned up: a user's files
    // that look like temporaries (of this version or an earlier one), and
    // lock files that are not ours or vouch for another name, are left alone.
    void filesThatOnlyLookLikeTemporariesAreNeverTouched()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("leftovers"));
        const QString dead = QString::number(deadProcess());
        const QStringList users{".photo.jpg.lgcopy-" + dead + "-0", ".photo.jpg.lgcopy-0123456789abcdef",
                                ".G.lgold-" + dead + "-1", ".H.lgold-0123456789abcdef", ".holiday.jpg",
                                ".lglock-00000000000000aa", ".lglock-00000000000000bb", ".x.lgcopy-00000000000000bb"};
        for (const QString &name : users)
            lg::test::writeFile(root + "/" + name + (name.contains(".lgold-") ? "/only copy.jpg" : ""), "the user's");
        // A lock file whose record names a temporary of another token vouches for nothing.
        lg::test::writeFile(root + "/.lglock-00000000000000bb",
                            "[Lumen Gallery temporary]\nKind=copy\nName=x\nTemporary=.photo.jpg.lgcopy-0123456789abcdef\n");
        const QString src = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("leftover src")) + "/N/n.jpg");
        const lg::FileOpResult r = lg::copyItem(QFileInfo(src).absolutePath(), root);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QStringList expected = users;
        expected << "N";
        expected.sort();
        QCOMPARE(entries(root), expected);
        QCOMPARE(readAll(root + "/.photo.jpg.lgcopy-" + dead + "-0"), QByteArray("the user's"));
        QCOMPARE(readAll(root + "/.G.lgold-" + dead + "-1/only copy.jpg"), QByteArray("the user's"));
    }

    // ---- Names ----
    void madeNamesFitAndRawNamesAreCopiedByteForByte()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("raw names"));
        const QString longName = QString(251, QLatin1Char('l')) + QStringLiteral(".jpg");
        lg::test::writeFile(root + "/src/" + longName, "copy");
        lg::test::writeFile(root + "/dst/" + longName, "kept");
        const lg::FileOpResult both = lg::copyItem(root + "/src/" + longName, root + "/dst",
                                                   lg::ConflictPolicy::KeepBoth);
        QVERIFY2(both.ok(), qPrintable(both.message));
        const QByteArray made = raw(QFileInfo(both.target).fileName());
        QVERIFY(made.size() <= 255 && made.endsWith(" 2.jpg"));
        QCOMPARE(readAll(both.target), QByteArray("copy"));

        // A name that is not UTF-8, inside a folder that is copied and moved.
        const QByteArray odd = raw(root + "/src/Album/") + QByteArray("caf\xe9 \xff.jpg");
        lg::test::writeFile(root + "/src/Album/plain.jpg", "plain");
        const int fd = ::open(odd.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        QCOMPARE(::write(fd, "odd", 3), 3);
        ::close(fd);
        QVERIFY2(lg::copyItem(root + "/src/Album", root + "/dst").ok(), "copy");
        FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
        const lg::FileOpResult moved = lg::moveItem(root + "/src/Album", root + "/dst", lg::ConflictPolicy::KeepBoth);
        QVERIFY2(moved.ok(), qPrintable(moved.message));
        for (const QString &album : {root + "/dst/Album", moved.target}) {
            char content[4] = {};
            const int in = ::open((raw(album) + QByteArray("/caf\xe9 \xff.jpg")).constData(), O_RDONLY);
            QVERIFY(in >= 0);
            QCOMPARE(::read(in, content, 3), 3);
            ::close(in);
            QCOMPARE(QByteArray(content), QByteArray("odd"));
            ::unlink((raw(album) + QByteArray("/caf\xe9 \xff.jpg")).constData());   // Qt cannot remove it
        }
        QVERIFY(!QFileInfo::exists(root + "/src/Album"));
    }

    // ---- Other file systems ----
    void removalLeavesAFileSystemMountedInsideInPlace_data()
    {
        QTest::addColumn<QString>("mountKind");
        QTest::addColumn<bool>("move");   // a move across file systems removes the source
        QTest::newRow("replace, tmpfs inside") << "tmpfs" << false;
        QTest::newRow("replace, bind mount of the same disk inside") << "bind" << false;
        QTest::newRow("move away, tmpfs inside") << "tmpfs" << true;
    }
    void removalLeavesAFileSystemMountedInsideInPlace()
    {
        QFETCH(QString, mountKind);
        QFETCH(bool, move);
        const QString root = lg::test::freshFolder(QStringLiteral("mount inside"));
        const QString doomed = move ? root + "/src/F" : root + "/dst/F";
        lg::test::writeFile(root + "/src/F/new.jpg", "new");
        if (!move)
            lg::test::writeFile(root + "/dst/F/old.jpg", "old");
        QDir().mkpath(root + "/dst");
        QDir().mkpath(doomed + "/phone");
        const QString elsewhere = lg::test::writeFile(root + "/elsewhere/photo.jpg", "on the phone");
        const int mounted = mountKind == "bind"
                                ? ::mount(raw(root + "/elsewhere").constData(), raw(doomed + "/phone").constData(),
                                          nullptr, MS_BIND, nullptr)
                                : ::mount("lgphone", raw(doomed + "/phone").constData(), "tmpfs", 0, "size=1m");
        if (mounted != 0)
            QSKIP("Mounting is not allowed here");
        QStringList mountPoints{doomed + "/phone"};
        const auto unmount = qScopeGuard([&mountPoints] {
            for (const QString &point : mountPoints)
                ::umount2(raw(point).constData(), MNT_DETACH);
        });
        if (mountKind != "bind")
            lg::test::writeFile(doomed + "/phone/photo.jpg", "on the phone");

        FaultGuard fault([move](lg::FileStep step, const QString &) {
            return move && step == lg::FileStep::Rename ? EXDEV : 0;
        });
        const lg::FileOpResult r = move ? lg::moveItem(root + "/src/F", root + "/dst")
                                        : lg::copyItem(root + "/src/F", root + "/dst", lg::ConflictPolicy::Replace);
        // Where the mount point is now: still in the source, or in what is left of the replaced folder.
        QString left = doomed + "/phone";
        for (const QString &name : entries(root + "/dst"))
            if (name.startsWith(QLatin1Char('.')) && QFileInfo::exists(root + "/dst/" + name + "/phone"))
                left = root + "/dst/" + name + "/phone";
        mountPoints.prepend(left);
        QVERIFY(!r.ok() && r.itemInPlace);
        QVERIFY2(r.message.contains(left), qPrintable(r.message));
        QCOMPARE(readAll(left + "/photo.jpg"), QByteArray("on the phone"));
        QCOMPARE(readAll(elsewhere), QByteArray("on the phone"));
        QCOMPARE(readAll(root + "/dst/F/new.jpg"), QByteArray("new"));
    }

    // Replace's message names every mount point it left in place.
    void replaceNamesEveryMountPointLeftInPlace()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("mounts inside"));
        lg::test::writeFile(root + "/src/F/new.jpg", "new");
        lg::test::writeFile(root + "/dst/F/old.jpg", "old");
        QStringList points;
        for (const char *name : {"phone", "card", "stick"}) {
            const QString point = root + "/dst/F/" + name;
            QDir().mkpath(point);
            if (::mount("lgmount", raw(point).constData(), "tmpfs", 0, "size=1m") != 0)
                QSKIP("tmpfs cannot be mounted here");
            points << name;
        }
        const auto unmount = qScopeGuard([&] {
            for (const QString &name : entries(root + "/dst"))
                for (const QString &point : points)
                    ::umount2(raw(root + "/dst/" + name + "/" + point).constData(), MNT_DETACH);
        });
        const lg::FileOpResult r = lg::copyItem(root + "/src/F", root + "/dst", lg::ConflictPolicy::Replace);
        QVERIFY(!r.ok() && r.itemInPlace);
        QString left;
        for (const QString &name : entries(root + "/dst"))
            if (name.startsWith(QLatin1String(".F.")))
                left = root + "/dst/" + name;
        QVERIFY(!left.isEmpty());
        for (const QString &point : points)
            QVERIFY2(r.message.contains(QStringLiteral("“%1/%2”").arg(left, point)), qPrintable(r.message));
        QVERIFY2(r.message.contains(QLatin1String("were left in place")), qPrintable(r.message));
        QCOMPARE(readAll(root + "/dst/F/new.jpg"), QByteArray("new"));
    }

    void trashThroughALinkToAnotherDiskUsesTheTrashAtThatDisksTop()
    {
        const QString top = lg::test::freshFolder(QStringLiteral("usb stick"));
        if (::mount("lgusb", raw(top).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("tmpfs cannot be mounted here");
        const auto unmount = qScopeGuard([top] { ::umount2(raw(top).constData(), MNT_DETACH); });
        lg::test::writeFile(top + "/DCIM/100/x.jpg", "from the camera");
        const QString camera = lg::test::freshFolder(QStringLiteral("Pictures")) + "/camera";
        QVERIFY(QFile::link(top + "/DCIM", camera));
        const lg::FileOpResult r = lg::moveToTrash(camera + "/100/x.jpg");
        QVERIFY2(r.ok(), qPrintable(r.message));
        const QString trash = top + "/.Trash-" + QString::number(::getuid());
        QCOMPARE(r.target, trash + "/files/x.jpg");
        QCOMPARE(readAll(r.target), QByteArray("from the camera"));
        QCOMPARE(lg::readTrashInfo(trash + "/info/x.jpg.trashinfo")->originalPath, camera + "/100/x.jpg");
        QCOMPARE(entries(top + "/DCIM"), QStringList{"100"});
    }

    // ---- Batches that hold the destination's own items ----
    void aBatchNeverReplacesItsOwnItemThatLiesInTheDestination_data()
    {
        QTest::addColumn<bool>("move");
        QTest::addColumn<bool>("ownFirst");
        QTest::addColumn<int>("answer");
        const int replace = int(lg::ConflictPolicy::Replace), keepBoth = int(lg::ConflictPolicy::KeepBoth);
        for (bool move : {false, true})
            for (bool ownFirst : {true, false})
                for (int answer : {replace, keepBoth})
                    QTest::addRow("%s, %s first, %s", move ? "move" : "copy", ownFirst ? "D's" : "E's",
                                  answer == replace ? "replace" : "make a copy")
                        << move << ownFirst << answer;
    }
    void aBatchNeverReplacesItsOwnItemThatLiesInTheDestination()
    {
        QFETCH(bool, move);
        QFETCH(bool, ownFirst);
        QFETCH(int, answer);
        const QString root = lg::test::freshFolder(QStringLiteral("own item"));
        const QString own = lg::test::writeFile(root + "/D/x.jpg", "D's");
        const QString other = lg::test::writeFile(root + "/E/x.jpg", "E's");
        lg::FileBatch batch(move ? lg::FileOpKind::Move : lg::FileOpKind::Copy, root + "/D");
        const lg::FileBatch::Outcome first
            = batch.run(ownFirst ? QStringList{own, other} : QStringList{other, own}, lg::ConflictPolicy::Refuse);
        const lg::FileBatch::Outcome second = batch.run(first.clashes, lg::ConflictPolicy(answer));
        const bool copyOfItself = !move && answer == int(lg::ConflictPolicy::KeepBoth);
        QCOMPARE(readAll(own), QByteArray("D's"));
        QCOMPARE(readAll(root + (copyOfItself && ownFirst ? "/D/x 3.jpg" : "/D/x 2.jpg")), QByteArray("E's"));
        QCOMPARE(QFileInfo::exists(other), !move);
        const QStringList expected = copyOfItself ? QStringList{"x 2.jpg", "x 3.jpg", "x.jpg"}
                                                  : QStringList{"x 2.jpg", "x.jpg"};
        QCOMPARE(entries(root + "/D"), expected);
        for (const lg::FileOpResult &r : first.results + second.results)
            QVERIFY2(r.ok() || r.error == lg::FileOpError::SameFile, qPrintable(r.message));
    }

    void aMoveIntoTheFolderItLiesInAnsweredMakeACopyChangesNothing()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("own folder"));
        lg::test::writeFile(root + "/sub/a.jpg", "a");
        const lg::FileOpResult single = lg::moveItem(root + "/sub", root, lg::ConflictPolicy::KeepBoth);
        QVERIFY2(single.ok(), qPrintable(single.message));
        QCOMPARE(single.target, root + "/sub");
        lg::FileBatch batch(lg::FileOpKind::Move, root);
        const lg::FileBatch::Outcome asked = batch.run({root + "/sub"}, lg::ConflictPolicy::Refuse);
        const lg::FileBatch::Outcome answered = batch.run(asked.clashes, lg::ConflictPolicy::KeepBoth);
        for (const lg::FileOpResult &r : asked.results + answered.results)
            QVERIFY2(r.ok() && r.target == root + "/sub", qPrintable(r.message));
        QCOMPARE(entries(root), QStringList{"sub"});
        QCOMPARE(readAll(root + "/sub/a.jpg"), QByteArray("a"));
    }

    void makeACopyFromTwoThreadsAtOnceClaimsEveryNumberOnce()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("two threads"));
        const QString source = lg::test::writeFile(root + "/src/x.jpg", "x");
        lg::test::writeFile(root + "/dst/x.jpg", "old");
        constexpr int copies = 200;
        QFuture<QList<lg::FileOpResult>> items = lg::runOnPool([&] {
            QList<lg::FileOpResult> results;
            for (int i = 0; i < copies; ++i)
                results.append(lg::copyItem(source, root + "/dst", lg::ConflictPolicy::KeepBoth));
            return results;
        });
        QFuture<QList<lg::FileOpResult>> batch = lg::runOnPool([&] {
            lg::FileBatch copying(lg::FileOpKind::Copy, root + "/dst");
            return copying.run(QStringList(copies, source), lg::ConflictPolicy::KeepBoth).results;
        });
        const QList<lg::FileOpResult> results = items.result() + batch.result();
        QCOMPARE(results.size(), 2 * copies);
        for (const lg::FileOpResult &r : results)
            QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(entries(root + "/dst").size(), 2 * copies + 1);
        QCOMPARE(readAll(root + "/dst/x.jpg"), QByteArray("old"));
    }

    // ---- Names on case-insensitive disks ----
    void namesAreComparedTheWayTheDestinationComparesThem_data()
    {
        QTest::addColumn<qint64>("fileSystem");
        QTest::addColumn<QString>("a");
        QTest::addColumn<QString>("b");
        QTest::addColumn<bool>("same");
        const qint64 vfat = 0x4d44, exfat = 0x2011BAB0, ntfs = 0x5346544e, ext4 = 0xEF53, tmpfs = 0x01021994;
        QTest::newRow("vfat, case") << vfat << "Photo.jpg" << "photo.jpg" << true;
        QTest::newRow("vfat, accents") << vfat << "ÉTÉ.JPG" << "été.jpg" << true;
        QTest::newRow("vfat, other names") << vfat << "photo.jpg" << "photo 2.jpg" << false;
        QTest::newRow("exfat, case") << exfat << "IMG_0001.JPG" << "img_0001.jpg" << true;
        QTest::newRow("ntfs, case") << ntfs << "Trip" << "TRIP" << true;
        QTest::newRow("ext4, case") << ext4 << "Photo.jpg" << "photo.jpg" << false;
        QTest::newRow("tmpfs, case") << tmpfs << "Photo.jpg" << "photo.jpg" << false;
        QTest::newRow("ext4, same") << ext4 << "photo.jpg" << "photo.jpg" << true;
    }
    void namesAreComparedTheWayTheDestinationComparesThem()
    {
        QFETCH(qint64, fileSystem);
        QFETCH(QString, a);
        QFETCH(QString, b);
        QFETCH(bool, same);
        const lg::NameCase nameCase = lg::nameCaseForFileSystem(fileSystem);
        QCOMPARE(lg::nameKey(a, nameCase) == lg::nameKey(b, nameCase), same);
    }

    void aBatchIntoAVfatCardKeepsNamesThatDifferOnlyInCase()
    {
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.vfat"),
                                                            {"/usr/sbin", "/sbin", "/usr/bin"});
        if (mkfs.isEmpty())
            QSKIP("mkfs.vfat (dosfstools) is not installed");
        const QString root = lg::test::freshFolder(QStringLiteral("vfat"));
        if (QProcess::execute(mkfs, {"-C", root + "/card.img", "2048"}) != 0)
            QSKIP("mkfs.vfat cannot make an image here");
        QDir().mkpath(root + "/card");
        if (QProcess::execute(QStringLiteral("mount"), {"-o", "loop", root + "/card.img", root + "/card"}) != 0)
            QSKIP("A vfat image cannot be loop-mounted here");
        const auto unmount = qScopeGuard([root] { ::umount2(raw(root + "/card").constData(), MNT_DETACH); });
        QCOMPARE(lg::nameCaseOf(root + "/card"), lg::NameCase::Insensitive);
        const QString upper = lg::test::writeFile(root + "/A/Photo.jpg", "upper");
        const QString lower = lg::test::writeFile(root + "/B/photo.jpg", "lower");
        lg::FileBatch batch(lg::FileOpKind::Copy, root + "/card");
        const lg::FileBatch::Outcome first = batch.run({upper, lower}, lg::ConflictPolicy::Refuse);
        QCOMPARE(first.clashes, QStringList{});
        const lg::FileBatch::Outcome second = batch.run(first.clashes, lg::ConflictPolicy::Replace);
        for (const lg::FileOpResult &r : first.results + second.results)
            QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(entries(root + "/card"), (QStringList{"Photo.jpg", "photo 2.jpg"}));
        QCOMPARE(readAll(root + "/card/Photo.jpg"), QByteArray("upper"));
        QCOMPARE(readAll(root + "/card/photo 2.jpg"), QByteArray("lower"));
    }

    // ---- One command, one file under several names ----
    // Two names of one file chosen as two items of one Copy To, Paste or
    // Move To (across disks), or a folder chosen with another name of a file
    // it holds, stay one file with as many names at the target, as
    // `cp -a a b dst/` and `mv` keep it: in a batch of the screens (whose
    // answer to a clash is a second pass) and in a batch on its own thread.
    void filesChosenUnderSeveralNamesStayOneFile_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("withFolder");
        QTest::addColumn<bool>("screens");
        QTest::newRow("copy to, two names") << "copy" << false << true;
        QTest::newRow("move to across disks, two names") << "move" << false << true;
        QTest::newRow("copy to, a folder and another name of its file") << "copy" << true << true;
        QTest::newRow("move to across disks, a name and the folder") << "move" << true << true;
        QTest::newRow("a batch on its own thread, copy") << "copy" << false << false;
        QTest::newRow("a batch on its own thread, move") << "move" << true << false;
        QTest::newRow("second pass after the clash question") << "clash" << false << true;
    }
    void filesChosenUnderSeveralNamesStayOneFile()
    {
        QFETCH(QString, operation);
        QFETCH(bool, withFolder);
        QFETCH(bool, screens);
        const QString root = lg::test::freshFolder(QStringLiteral("chosen links"));
        const QString first = lg::test::writeFile(root + (withFolder ? "/src/Album/a.jpg" : "/src/a.jpg"),
                                                  QByteArray(9000, 'p'));
        const QString second = root + "/src/b.jpg";
        QCOMPARE(::link(raw(first).constData(), raw(second).constData()), 0);
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        if (operation == "clash")
            lg::test::writeFile(dst + "/b.jpg", "was there before");
        const QString inDst = withFolder ? dst + "/Album/a.jpg" : dst + "/a.jpg";
        // A move goes the way of one across disks: copy, then delete.
        FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
        const lg::FileOpKind kind = operation == "move" ? lg::FileOpKind::Move : lg::FileOpKind::Copy;
        // The folder after the name it holds, so that the later name is the one inside it.
        const QStringList items = withFolder && operation == "move" ? QStringList{second, root + "/src/Album"}
                                  : withFolder                      ? QStringList{root + "/src/Album", second}
                                                                    : QStringList{first, second};
        QList<lg::FileOpResult> results;
        if (screens) {
            lg::FileBatch batch(kind, dst);
            lg::FileBatch::Outcome outcome = batch.run(items, lg::ConflictPolicy::Refuse);
            results = outcome.results;
            if (operation == "clash") {
                QCOMPARE(outcome.clashes, QStringList{second});
                results += batch.run(outcome.clashes, lg::ConflictPolicy::Replace).results;
            }
        } else {
            results = lg::runOnPool([&] {
                return lg::FileBatch(kind, dst).run(items, lg::ConflictPolicy::Refuse).results;
            }).result();
        }
        QCOMPARE(results.size(), 2);
        for (const lg::FileOpResult &r : std::as_const(results))
            QVERIFY2(r.ok() && !r.hasNotKept(), qPrintable(r.message));
        QCOMPARE(readAll(dst + "/b.jpg"), QByteArray(9000, 'p'));
        QCOMPARE(inodeOf(dst + "/b.jpg"), inodeOf(inDst));
        struct stat st;
        QCOMPARE(::lstat(raw(inDst).constData(), &st), 0);
        QCOMPARE(st.st_nlink, nlink_t(2));
        QCOMPARE(QFileInfo::exists(second), kind == lg::FileOpKind::Copy);
        QCOMPARE(QFileInfo::exists(first), kind == lg::FileOpKind::Copy);
        // Nothing hidden stays beside them (a replacing name's temporary, its lock).
        QCOMPARE(entries(dst), withFolder ? (QStringList{"Album", "b.jpg"}) : (QStringList{"a.jpg", "b.jpg"}));
    }

    // The delete step of a move across disks removes the names of a file one
    // by one. An edit that keeps size and date, made through a later name
    // after an earlier one went, keeps that name (and the file) where it is,
    // and the move says so; each unlink of the step's own is no edit.
    void anEditThroughAnotherNameDuringTheDeleteStepStays_data()
    {
        QTest::addColumn<QString>("later");
        QTest::addColumn<bool>("edit");
        QTest::newRow("beside it, edited") << "b.jpg" << true;
        QTest::newRow("in a sub-folder, edited") << "sub/b.jpg" << true;
        QTest::newRow("three names, none edited") << "sub/b.jpg" << false;
    }
    void anEditThroughAnotherNameDuringTheDeleteStepStays()
    {
        QFETCH(QString, later);
        QFETCH(bool, edit);
        const QString root = lg::test::freshFolder(QStringLiteral("edit through a name"));
        const QString album = root + "/src/Album";
        const QString a = lg::test::writeFile(album + "/a.jpg", QByteArray(6000, 'o'));
        lg::test::writeFile(album + "/c.jpg", "other");
        QDir().mkpath(album + "/sub");
        QCOMPARE(::link(raw(a).constData(), raw(album + "/" + later).constData()), 0);
        if (!edit)
            QCOMPARE(::link(raw(a).constData(), raw(album + "/z.jpg").constData()), 0);
        QDir().mkpath(root + "/dst");
        struct stat original;
        QCOMPARE(::lstat(raw(a).constData(), &original), 0);
        const QStringList names = edit ? QStringList{"a.jpg", later} : QStringList{"a.jpg", later, "z.jpg"};
        QStringList reached;
        QString edited;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            const QString name = path.mid(album.size() + 1);
            if (step != lg::FileStep::Remove || !path.startsWith(album + "/") || !names.contains(name))
                return 0;
            reached.append(name);
            if (edit && reached.size() == 2) {   // the first name has gone: an edit through this one
                edited = name;
                const int fd = ::open(raw(path).constData(), O_WRONLY);
                const QByteArray turned(6000, 't');
                const bool written = ::pwrite(fd, turned.constData(), size_t(turned.size()), 0) == turned.size();
                ::close(fd);
                const struct timespec back[2] = {original.st_atim, original.st_mtim};
                if (!written || ::utimensat(AT_FDCWD, raw(path).constData(), back, 0) != 0)
                    edited.clear();
            }
            return 0;
        });
        const lg::FileOpResult r = lg::moveItem(album, root + "/dst");
        QCOMPARE(reached.size(), names.size());
        QCOMPARE(readAll(r.target + "/a.jpg"), QByteArray(6000, 'o'));
        QCOMPARE(inodeOf(r.target + "/" + later), inodeOf(r.target + "/a.jpg"));
        if (!edit) {
            QVERIFY2(r.ok(), qPrintable(r.message));
            QVERIFY(!QFileInfo::exists(album));
            return;
        }
        QVERIFY(!edited.isEmpty());
        QVERIFY(!r.ok());
        QVERIFY(r.itemInPlace);
        QCOMPARE(readAll(album + "/" + edited), QByteArray(6000, 't'));
        QVERIFY2(r.message.contains("“Album/" + edited + "”") && r.message.contains(QStringLiteral("not wholly moved")),
                 qPrintable(r.message));
        QVERIFY(!QFileInfo::exists(album + "/c.jpg"));
    }

    // A sparse file (a disk image, a video being recorded) is copied as its
    // data: its holes stay holes, as cp -a keeps them, also where the disk
    // refuses to set a file's size (then the last byte is written).
    void sparseFilesKeepTheirHoles_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<bool>("endsInHole");
        QTest::addColumn<bool>("refuseTruncate");
        QTest::newRow("copy, ends in a hole") << "copy" << true << false;
        QTest::newRow("copy, ends in data") << "copy" << false << false;
        QTest::newRow("move across disks") << "move" << true << false;
        QTest::newRow("copy of a folder onto a disk that refuses ftruncate") << "folder" << true << true;
        QTest::newRow("copy to a real other disk") << "tmpfs" << true << false;
    }
    void sparseFilesKeepTheirHoles()
    {
        QFETCH(QString, operation);
        QFETCH(bool, endsInHole);
        QFETCH(bool, refuseTruncate);
        const QString root = lg::test::freshFolder(QStringLiteral("sparse"));
        const QString folder = root + "/src/Disk";
        QDir().mkpath(folder);
        const QString image = folder + "/image.raw";
        constexpr qint64 size = qint64(32) << 20;
        {
            const int fd = ::open(raw(image).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            const QByteArray block(4096, 'd');
            for (int i = 0; i < 16; ++i) {
                const qint64 at = endsInHole ? qint64(i) * (qint64(2) << 20) : size - qint64(16 - i) * 4096 * 32;
                QCOMPARE(::pwrite(fd, block.constData(), 4096, off_t(at)), ssize_t(4096));
            }
            QCOMPARE(::ftruncate(fd, off_t(size)), 0);
            ::close(fd);
        }
        struct stat source;
        QCOMPARE(::lstat(raw(image).constData(), &source), 0);
        if (source.st_blocks * 512 >= size / 2)
            QSKIP("this file system keeps no holes");
        const QByteArray bytes = readAll(image);
        OtherDisk disk(QStringLiteral("sparse disk"));
        QString dst = root + "/dst";
        QDir().mkpath(dst);
        if (operation == "tmpfs") {
            if (disk.top.isEmpty())
                QSKIP("tmpfs cannot be mounted here");
            dst = disk.top;
        }
        FaultGuard fault([refuseTruncate](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename                     ? EXDEV
                   : step == lg::FileStep::Truncate && refuseTruncate ? EPERM
                                                                      : 0;
        });
        const lg::FileOpResult r = operation == "move"     ? lg::moveItem(image, dst)
                                   : operation == "folder" ? lg::copyItem(folder, dst)
                                                           : lg::copyItem(image, dst);
        QVERIFY2(r.ok(), qPrintable(r.message));
        const QString copy = operation == "folder" ? r.target + "/image.raw" : r.target;
        struct stat copied;
        QCOMPARE(::lstat(raw(copy).constData(), &copied), 0);
        QCOMPARE(qint64(copied.st_size), size);
        // 16 blocks of data (a file system may round up, and a refused
        // ftruncate costs the block of the last byte): never the 65,536 of a filled file.
        QVERIFY2(copied.st_blocks <= source.st_blocks + 64,
                 qPrintable(QStringLiteral("%1 blocks, the source %2").arg(copied.st_blocks).arg(source.st_blocks)));
        QVERIFY(readAll(copy) == bytes);
        QCOMPARE(QFileInfo::exists(image), operation != "move");
    }

    // A disk that refuses ftruncate and chmod (a FUSE FAT driver) still takes
    // copies and moves whole, as cp -a copies there: the lock of an unfinished
    // copy needs neither, and the permissions it refused are named, as
    // information, never as a failure.
    void aDiskThatRefusesTruncateAndModesStillTakesCopies_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<int>("refusal");
        QTest::newRow("copy of a folder") << "folder" << int(EPERM);
        QTest::newRow("replace of a file") << "replace" << int(EPERM);
        QTest::newRow("move of a folder across disks") << "move" << int(EPERM);
        QTest::newRow("no chmod at all") << "folder" << int(ENOSYS);
    }
    void aDiskThatRefusesTruncateAndModesStillTakesCopies()
    {
        QFETCH(QString, operation);
        QFETCH(int, refusal);
        const QString root = lg::test::freshFolder(QStringLiteral("fusefat"));
        const QString album = root + "/src/Album";
        lg::test::writeFile(album + "/a.jpg", "a");
        lg::test::writeFile(album + "/sub/b.jpg", "b");
        const QString photo = lg::test::writeFile(root + "/src/c.jpg", "new c");
        const QString card = root + "/card";
        lg::test::writeFile(card + "/c.jpg", "old c");
        FaultGuard fault([refusal](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename                                          ? EXDEV
                   : step == lg::FileStep::Truncate || step == lg::FileStep::SetMode ? refusal
                                                                                       : 0;
        });
        const lg::FileOpResult r = operation == "replace" ? lg::copyItem(photo, card, lg::ConflictPolicy::Replace)
                                   : operation == "move"  ? lg::moveItem(album, card)
                                                          : lg::copyItem(album, card);
        QVERIFY2(r.ok(), qPrintable(r.message));
        if (operation == "replace") {
            QCOMPARE(readAll(card + "/c.jpg"), QByteArray("new c"));
            QCOMPARE(r.permissionsNotKept, QStringList{card + "/c.jpg"});
        } else {
            QCOMPARE(readAll(card + "/Album/a.jpg"), QByteArray("a"));
            QCOMPARE(readAll(card + "/Album/sub/b.jpg"), QByteArray("b"));
            QStringList named = r.permissionsNotKept;
            named.sort();
            QCOMPARE(named, (QStringList{card + "/Album", card + "/Album/a.jpg", card + "/Album/sub",
                                         card + "/Album/sub/b.jpg"}));
        }
        QVERIFY2(r.message.contains(QStringLiteral("The permissions of")), qPrintable(r.message));
        // No lock or temporary stays behind.
        QCOMPARE(entries(card), operation == "replace" ? QStringList{"c.jpg"} : (QStringList{"Album", "c.jpg"}));
        QCOMPARE(QFileInfo::exists(album), operation != "move");
    }

    // A later name of a file that an earlier item of the command copied is
    // linked to that copy only while the file is as it was copied. An edit
    // made through that name while another item is copied (its bytes
    // rewritten with size and date put back, an attribute, a mode) arrives
    // as it is, and a move removes the name only once it was copied as it is.
    void anEditThroughALaterNameArrivesAsItIs_data()
    {
        QTest::addColumn<QString>("operation");
        QTest::addColumn<QString>("edit");   // "bytes", "attribute", "mode" or "none"
        QTest::newRow("move, bytes with size and date kept") << "move" << "bytes";
        QTest::newRow("move, an attribute") << "move" << "attribute";
        QTest::newRow("move, a mode") << "move" << "mode";
        QTest::newRow("copy, bytes with size and date kept") << "copy" << "bytes";
        QTest::newRow("move, nothing edited: one file") << "move" << "none";
    }
    void anEditThroughALaterNameArrivesAsItIs()
    {
        QFETCH(QString, operation);
        QFETCH(QString, edit);
        const QString root = lg::test::freshFolder(QStringLiteral("later name ") + QTest::currentDataTag());
        const QString a = lg::test::writeFile(root + "/src/F2/a.jpg", QByteArray(6000, 'o'));
        const QString middle = lg::test::writeFile(root + "/src/M.bin", QByteArray(300000, 'm'));
        const QString later = root + "/src/X.jpg";
        QCOMPARE(::link(raw(a).constData(), raw(later).constData()), 0);
        QCOMPARE(::chmod(raw(a).constData(), 0644), 0);
        if (edit == "attribute" && !setAttribute(a, "user.xdg.tags", "before"))
            QSKIP("this file system keeps no user attributes");
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        struct stat original;
        QCOMPARE(::lstat(raw(a).constData(), &original), 0);
        bool edited = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;   // the move goes the way of one across disks
            if (step != lg::FileStep::CopyData || path != middle || edited || edit == "none")
                return 0;
            // Another program edits X.jpg while M.bin is copied.
            edited = true;
            if (edit == "bytes") {
                const int fd = ::open(raw(later).constData(), O_WRONLY);
                const QByteArray turned(6000, 't');
                edited = fd >= 0 && ::pwrite(fd, turned.constData(), size_t(turned.size()), 0) == turned.size();
                ::close(fd);
                const struct timespec back[2] = {original.st_atim, original.st_mtim};
                edited = edited && ::utimensat(AT_FDCWD, raw(later).constData(), back, 0) == 0;
            } else if (edit == "attribute") {
                edited = setAttribute(later, "user.xdg.tags", "after");
            } else {
                edited = ::chmod(raw(later).constData(), 0600) == 0;
            }
            return 0;
        });
        const lg::FileOpKind kind = operation == "move" ? lg::FileOpKind::Move : lg::FileOpKind::Copy;
        const QList<lg::FileOpResult> results =
            lg::FileBatch(kind, dst).run({root + "/src/F2", middle, later}, lg::ConflictPolicy::Refuse).results;
        QCOMPARE(results.size(), 3);
        for (const lg::FileOpResult &r : results)
            QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(edited, edit != "none");
        struct stat copied;
        QCOMPARE(::lstat(raw(dst + "/X.jpg").constData(), &copied), 0);
        if (edit == "none") {
            QCOMPARE(inodeOf(dst + "/X.jpg"), inodeOf(dst + "/F2/a.jpg"));
            QVERIFY(!QFileInfo::exists(root + "/src/X.jpg"));
            return;
        }
        // What arrived under X.jpg is the file as edited, a file of its own;
        // F2/a.jpg is the file as it was when it was copied.
        QVERIFY(inodeOf(dst + "/X.jpg") != inodeOf(dst + "/F2/a.jpg"));
        QCOMPARE(readAll(dst + "/X.jpg"), QByteArray(6000, edit == "bytes" ? 't' : 'o'));
        QCOMPARE(readAll(dst + "/F2/a.jpg"), QByteArray(6000, 'o'));
        if (edit == "attribute")
            QCOMPARE(attributesOf(dst + "/X.jpg").value("user.xdg.tags"), QByteArray("after"));
        if (edit == "mode")
            QCOMPARE(int(copied.st_mode & 07777), 0600);
        QCOMPARE(QFileInfo::exists(later), kind == lg::FileOpKind::Copy);
    }

    // One batch moves F2/ (a.jpg, a-link.jpg), M.bin, X.jpg and Y.jpg, where
    // a.jpg, a-link.jpg, X.jpg and Y.jpg are four names of one file, across
    // disks; while M.bin is copied the file is edited through X.jpg or Y.jpg.
    // X.jpg and Y.jpg arrive as the file is now, one file with two names (the
    // removal of X.jpg's source never makes Y.jpg look like the older copy),
    // F2's names as it was; X.jpg says its links were not kept, and every
    // source goes only once copied as it is.
    void anEditThroughAFourthNameIsNeverDropped_data()
    {
        QTest::addColumn<QString>("through");   // "X.jpg" or "Y.jpg"
        QTest::addColumn<QString>("edit");      // "bytes", "rewrite", "attribute", "mode" or "date"
        for (const char *through : {"X.jpg", "Y.jpg"})
            for (const char *edit : {"bytes", "rewrite", "attribute", "mode", "date"})
                QTest::addRow("%s through %s", edit, through) << through << edit;
    }
    void anEditThroughAFourthNameIsNeverDropped()
    {
        QFETCH(QString, through);
        QFETCH(QString, edit);
        const QString root = lg::test::freshFolder(QStringLiteral("fourth name ") + QTest::currentDataTag());
        const QString src = root + "/src";
        const QString a = lg::test::writeFile(src + "/F2/a.jpg", QByteArray(6000, 'o'));
        const QString middle = lg::test::writeFile(src + "/M.bin", QByteArray(300000, 'm'));
        for (const QString &name : {src + "/F2/a-link.jpg", src + "/X.jpg", src + "/Y.jpg"})
            QCOMPARE(::link(raw(a).constData(), raw(name).constData()), 0);
        QCOMPARE(::chmod(raw(a).constData(), 0644), 0);
        if (edit == "attribute" && !setAttribute(a, "user.xdg.tags", "before"))
            QSKIP("this file system keeps no user attributes");
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        struct stat original;
        QCOMPARE(::lstat(raw(a).constData(), &original), 0);
        const QString edited = src + "/" + through;
        bool done = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;   // the move goes the way of one across disks
            if (step != lg::FileStep::CopyData || path != middle || done)
                return 0;
            done = true;
            const struct timespec back[2] = {original.st_atim, original.st_mtim};
            if (edit == "bytes" || edit == "rewrite" || edit == "date") {
                // In place, or cut to nothing and written again, size and date put back (touch -r).
                const int fd = ::open(raw(edited).constData(), O_WRONLY | (edit == "rewrite" ? O_TRUNC : 0));
                const QByteArray turned(6000, 't');
                done = fd >= 0 && ::pwrite(fd, turned.constData(), size_t(turned.size()), 0) == turned.size();
                ::close(fd);
                if (edit != "date")
                    done = done && ::utimensat(AT_FDCWD, raw(edited).constData(), back, 0) == 0;
            } else if (edit == "attribute") {
                done = setAttribute(edited, "user.xdg.tags", "after");
            } else {
                done = ::chmod(raw(edited).constData(), 0600) == 0;
            }
            return 0;
        });
        const QList<lg::FileOpResult> results =
            lg::FileBatch(lg::FileOpKind::Move, dst)
                .run({src + "/F2", middle, src + "/X.jpg", src + "/Y.jpg"}, lg::ConflictPolicy::Refuse)
                .results;
        QVERIFY(done);
        QCOMPARE(results.size(), 4);
        for (const lg::FileOpResult &r : results)
            QVERIFY2(r.ok(), qPrintable(r.message));
        // F2's two names: the file as it was, one file.
        QCOMPARE(readAll(dst + "/F2/a.jpg"), QByteArray(6000, 'o'));
        QCOMPARE(inodeOf(dst + "/F2/a-link.jpg"), inodeOf(dst + "/F2/a.jpg"));
        // X.jpg and Y.jpg: the file as edited, one file of its own.
        const QByteArray now(6000, edit == "attribute" || edit == "mode" ? 'o' : 't');
        QCOMPARE(readAll(dst + "/X.jpg"), now);
        QCOMPARE(readAll(dst + "/Y.jpg"), now);
        QCOMPARE(inodeOf(dst + "/Y.jpg"), inodeOf(dst + "/X.jpg"));
        QVERIFY(inodeOf(dst + "/X.jpg") != inodeOf(dst + "/F2/a.jpg"));
        struct stat arrived;
        QCOMPARE(::lstat(raw(dst + "/Y.jpg").constData(), &arrived), 0);
        QCOMPARE(int(arrived.st_mode & 07777), edit == "mode" ? 0600 : 0644);
        if (edit == "attribute")
            QCOMPARE(attributesOf(dst + "/Y.jpg").value("user.xdg.tags"), QByteArray("after"));
        // Said in words: X.jpg is not a name of F2's copy.
        QCOMPARE(results[2].linksNotKeptAfterChange, QStringList{dst + "/X.jpg"});
        QVERIFY2(results[2].message.contains(QStringLiteral("The hard links of “X.jpg” could not be kept: the file "
                                                            "changed")),
                 qPrintable(results[2].message));
        QVERIFY2(!results[3].hasNotKept(), qPrintable(results[3].message));
        const std::optional<lg::BatchSummary> summary = lg::batchSummary(results, lg::FileOpKind::Move);
        QVERIFY(summary && summary->informational);
        QCOMPARE(entries(src), QStringList{});
    }

    // A file that changes while it is copied never arrives as a copy reported
    // done: one that grew, or a sparse file cut short after its first stretch
    // of data (whose end would otherwise come as holes). The copy is refused
    // and leaves nothing at the target; a move keeps its source as it is.
    void aFileThatChangesWhileItIsCopiedIsNeverReportedDone_data()
    {
        QTest::addColumn<QString>("operation");   // "copy", "move" or "folder"
        QTest::addColumn<qint64>("cutTo");        // 0: 1,000 bytes are appended instead
        QTest::newRow("copy, grown") << "copy" << qint64(0);
        QTest::newRow("move, grown") << "move" << qint64(0);
        QTest::newRow("copy of its folder, grown") << "folder" << qint64(0);
        QTest::newRow("copy, cut to 8 MiB") << "copy" << (qint64(8) << 20);
        QTest::newRow("move, cut to 16 MiB + 2 KiB") << "move" << (qint64(16) << 20) + 2048;
        QTest::newRow("copy of its folder, cut to 8 MiB") << "folder" << (qint64(8) << 20);
    }
    void aFileThatChangesWhileItIsCopiedIsNeverReportedDone()
    {
        QFETCH(QString, operation);
        QFETCH(qint64, cutTo);
        const QString root = lg::test::freshFolder(QStringLiteral("changing ") + QTest::currentDataTag());
        const QString folder = root + "/src/Take";
        QDir().mkpath(folder);
        const QString file = folder + "/clip.raw";
        if (cutTo == 0) {
            lg::test::writeFile(file, QByteArray(4000000, 'c'));
        } else {
            // 32 MiB: data at the start and at 16 MiB, holes between and after.
            const int fd = ::open(raw(file).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            const QByteArray block(4096, 'd');
            QCOMPARE(::pwrite(fd, block.constData(), 4096, 0), ssize_t(4096));
            QCOMPARE(::pwrite(fd, block.constData(), 4096, off_t(16) << 20), ssize_t(4096));
            QCOMPARE(::ftruncate(fd, off_t(32) << 20), 0);
            ::close(fd);
            struct stat st;
            QCOMPARE(::lstat(raw(file).constData(), &st), 0);
            if (st.st_blocks * 512 >= st.st_size / 2)
                QSKIP("this file system keeps no holes");
        }
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        bool changed = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            if (step == lg::FileStep::Rename)
                return EXDEV;
            const bool now = cutTo == 0 ? step == lg::FileStep::CopyData && path == file
                                        : step == lg::FileStep::CopiedStretch;
            if (now && !changed) {
                changed = true;
                if (cutTo == 0) {
                    QFile grown(file);
                    changed = grown.open(QIODevice::Append) && grown.write(QByteArray(1000, 'g')) == 1000;
                } else {
                    changed = ::truncate(raw(file).constData(), off_t(cutTo)) == 0;
                }
            }
            return 0;
        });
        const lg::FileOpResult r = operation == "move"     ? lg::moveItem(file, dst)
                                   : operation == "folder" ? lg::copyItem(folder, dst)
                                                           : lg::copyItem(file, dst);
        QVERIFY(changed);
        QVERIFY2(!r.ok() && !r.itemInPlace, qPrintable(r.message));
        QVERIFY2(r.message.contains(QStringLiteral("changed while it was copied")), qPrintable(r.message));
        QCOMPARE(entries(dst), QStringList{});
        QCOMPARE(QFileInfo(file).size(), cutTo == 0 ? qint64(4001000) : cutTo);
    }

    // A driver that refuses a rename onto an empty folder (a FUSE FAT
    // driver: EPERM) still takes folders where it has no rename that
    // refuses to replace: the placeholder is filled with the folder's
    // entries. Where even that is refused, the result says so in words,
    // never with the system's own text, and nothing is left behind.
    void aFolderArrivesWhereARenameOntoItsPlaceholderIsRefused_data()
    {
        QTest::addColumn<QString>("operation");   // "copy", "move" or "move across disks"
        QTest::addColumn<bool>("alwaysRefused");
        QTest::newRow("copy") << "copy" << false;
        QTest::newRow("move") << "move" << false;
        QTest::newRow("move across disks") << "move across disks" << false;
        QTest::newRow("copy, refused each time") << "copy" << true;
        QTest::newRow("move, refused each time") << "move" << true;
    }
    void aFolderArrivesWhereARenameOntoItsPlaceholderIsRefused()
    {
        QFETCH(QString, operation);
        QFETCH(bool, alwaysRefused);
        const QString root = lg::test::freshFolder(QStringLiteral("placeholder refused ") + QTest::currentDataTag());
        const QString album = root + "/src/Album";
        lg::test::writeFile(album + "/a.jpg", "a");
        lg::test::writeFile(album + "/sub/b.jpg", "b");
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        int refusals = 0;
        FaultGuard fault([&](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename && operation == "move across disks")
                return EXDEV;
            if (step == lg::FileStep::NoReplaceRename)
                return EINVAL;   // no RENAME_NOREPLACE: a placeholder holds the name
            if (step == lg::FileStep::PlaceholderRename && (alwaysRefused || refusals == 0)) {
                ++refusals;
                return EPERM;
            }
            return 0;
        });
        const lg::FileOpResult r = operation == "copy" ? lg::copyItem(album, dst) : lg::moveItem(album, dst);
        QVERIFY(refusals > 0);
        QVERIFY2(!r.message.contains(QStringLiteral("not permitted")), qPrintable(r.message));
        if (alwaysRefused) {
            QVERIFY(!r.ok());
            QVERIFY2(r.message.contains(QStringLiteral("The disk refused the change.")), qPrintable(r.message));
            QCOMPARE(entries(dst), QStringList{});
            QCOMPARE(readAll(album + "/sub/b.jpg"), QByteArray("b"));
            return;
        }
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(readAll(dst + "/Album/a.jpg"), QByteArray("a"));
        QCOMPARE(readAll(dst + "/Album/sub/b.jpg"), QByteArray("b"));
        QCOMPARE(entries(dst), QStringList{"Album"});
        QCOMPARE(QFileInfo::exists(album), operation == "copy");
    }

    // On a real FUSE FAT disk (fusefat), which refuses a rename onto an empty
    // folder and loses a folder's contents when it renames the folder, a
    // folder is copied and moved in whole, onto it, on it and back.
    void aFolderIsCopiedOntoAFuseFatDisk()
    {
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.vfat"), {"/usr/sbin", "/sbin", "/usr/bin"});
        const QString fuse = QStandardPaths::findExecutable(QStringLiteral("fusefat"), {"/usr/bin", "/usr/sbin", "/bin"});
        if (mkfs.isEmpty() || fuse.isEmpty())
            QSKIP("FUSE FAT (dosfstools, fusefat) is needed");
        const QString root = lg::test::freshFolder(QStringLiteral("fusefat disk"));
        const QString card = root + "/card";
        QDir().mkpath(card);
        QProcess format;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.start(mkfs, {"-C", root + "/card.img", "4096"});
        if (!format.waitForFinished(10000) || format.exitCode() != 0)
            QSKIP("No FAT image can be made here");
        QProcess mounting;
        mounting.setStandardOutputFile(QProcess::nullDevice());
        mounting.start(fuse, {"-o", "rw+", root + "/card.img", card});
        if (!mounting.waitForFinished(10000) || mounting.exitCode() != 0)
            QSKIP("A FAT image cannot be mounted through FUSE here");
        const auto unmount = qScopeGuard([card] { ::umount2(raw(card).constData(), MNT_DETACH); });
        struct stat top, above;
        if (::stat(raw(card).constData(), &top) != 0 || ::stat(raw(root).constData(), &above) != 0
            || top.st_dev == above.st_dev)
            QSKIP("The FAT image did not mount");
        const QString album = root + "/src/Album";
        lg::test::writeFile(album + "/a.jpg", "a");
        lg::test::writeFile(album + "/sub/b.jpg", "b");
        const QString moved = QFileInfo(lg::test::writeFile(root + "/src/Moved/c.jpg", "c")).absolutePath();
        const lg::FileOpResult copied = lg::copyItem(album, card);
        QVERIFY2(copied.ok(), qPrintable(copied.message));
        // FAT holds no permissions: nothing is said of them.
        QVERIFY2(!copied.hasNotKept() && copied.message.isEmpty(), qPrintable(copied.message));
        QCOMPARE(readAll(card + "/Album/a.jpg"), QByteArray("a"));
        QCOMPARE(readAll(card + "/Album/sub/b.jpg"), QByteArray("b"));
        const lg::FileOpResult there = lg::moveItem(moved, card);
        QVERIFY2(there.ok(), qPrintable(there.message));
        QVERIFY2(!there.hasNotKept(), qPrintable(there.message));
        QCOMPARE(readAll(card + "/Moved/c.jpg"), QByteArray("c"));
        QVERIFY(!QFileInfo::exists(moved));
        QDir().mkpath(card + "/Trip");
        const lg::FileOpResult within = lg::moveItem(card + "/Album", card + "/Trip");
        QVERIFY2(within.ok(), qPrintable(within.message));
        QCOMPARE(readAll(card + "/Trip/Album/sub/b.jpg"), QByteArray("b"));
        QCOMPARE(entries(card), (QStringList{"Moved", "Trip"}));
        QCOMPARE(entries(card + "/Trip"), QStringList{"Album"});
        // And back from it: what the driver tells of a file holds still while it is copied.
        const lg::FileOpResult back = lg::copyItem(card + "/Trip/Album", root);
        QVERIFY2(back.ok(), qPrintable(back.message));
        QCOMPARE(readAll(root + "/Album/sub/b.jpg"), QByteArray("b"));
    }

    // A move off a card deletes each source only while it still has the size
    // and times it was copied with: one that grew or got another date while
    // it was copied is refused (nothing arrives), and one that did so after
    // its copy, before its removal, stays beside a copy of what it was. A
    // rewrite in place at the same size with its date put back is not seen,
    // after the copy or before the removal (the limit `mv` has too): the copy
    // is what was read, and the source goes. On a fusefat card.
    void aMoveFromACardKeepsASourceThatChanged_data()
    {
        QTest::addColumn<QString>("when");     // "while copied", "before removal" or "never"
        QTest::addColumn<QString>("change");   // "grown", "redated" or "rewritten"
        QTest::newRow("grown while it is copied") << "while copied" << "grown";
        QTest::newRow("given another date while it is copied") << "while copied" << "redated";
        QTest::newRow("rewritten, its date put back, while it is copied") << "while copied" << "rewritten";
        QTest::newRow("grown before its removal") << "before removal" << "grown";
        QTest::newRow("given another date before its removal") << "before removal" << "redated";
        QTest::newRow("rewritten, its date put back, before its removal") << "before removal" << "rewritten";
        QTest::newRow("left alone") << "never" << "";
    }
    void aMoveFromACardKeepsASourceThatChanged()
    {
        QFETCH(QString, when);
        QFETCH(QString, change);
        const QString root = lg::test::freshFolder(QStringLiteral("card change ") + QTest::currentDataTag());
        const FuseFatCard card(root, 16384);
        if (card.path.isEmpty())
            QSKIP(qPrintable(card.why));
        constexpr qsizetype size = 3000000;
        const QString clip = lg::test::writeFile(card.path + "/clip.raw", QByteArray(size, 'o'));
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        QByteArray changed(size, 'o');
        bool done = false, changedAsMeant = false;
        FaultGuard fault([&](lg::FileStep step, const QString &path) {
            const bool now = when == "while copied"     ? step == lg::FileStep::CopiedChunk
                             : when == "before removal" ? step == lg::FileStep::Remove && path == clip
                                                        : false;
            if (!now || done)
                return 0;
            done = true;
            struct stat before;
            changedAsMeant = ::stat(raw(clip).constData(), &before) == 0;
            if (change == "grown")
                changed.append('+');
            else if (change == "rewritten")
                changed.fill('t');
            if (change != "redated") {
                const int fd = ::open(raw(clip).constData(), O_WRONLY);
                changedAsMeant = changedAsMeant && fd >= 0
                                 && ::pwrite(fd, changed.constData(), size_t(changed.size()), 0) == changed.size();
                ::close(fd);
            }
            struct timespec times[2] = {before.st_atim, before.st_mtim};
            times[1].tv_sec += change == "redated" ? 100 : 0;
            if (change != "grown")   // the date put back, or another one
                changedAsMeant = changedAsMeant && ::utimensat(AT_FDCWD, raw(clip).constData(), times, 0) == 0;
            return 0;
        });
        lg::FileBatch batch(lg::FileOpKind::Move, dst);
        const lg::FileOpResult r = batch.run({clip}, lg::ConflictPolicy::Refuse).results.value(0);
        QCOMPARE(done, when != "never");
        QCOMPARE(changedAsMeant, when != "never");
        if (when == "never" || change == "rewritten") {
            QVERIFY2(r.ok(), qPrintable(r.message));
            QCOMPARE(readAll(dst + "/clip.raw"), QByteArray(size, 'o'));
            QVERIFY(!QFileInfo::exists(clip));
            return;
        }
        QVERIFY(!r.ok());
        QCOMPARE(readAll(clip), changed);
        if (when == "while copied") {
            QVERIFY2(!r.itemInPlace && r.message.contains(QStringLiteral("changed while it was copied")),
                     qPrintable(r.message));
            QCOMPARE(entries(dst), QStringList{});
        } else {
            QVERIFY2(r.itemInPlace && r.message.contains(QStringLiteral("changed while it was moved stayed")),
                     qPrintable(r.message));
            QCOMPARE(readAll(dst + "/clip.raw"), QByteArray(size, 'o'));
        }
    }

    // A move off a card reads each file once: nothing is read again to check
    // it, after its copy or before its removal, and what arrives is what was
    // read. On fusefat and exFAT (FUSE) cards, and on a disk whose times
    // cannot tell a rewrite (told so here), where a sparse file's holes stay
    // holes, unread, and the further name of a file is linked to its copy.
    void aMoveOffACardReadsEachFileOnce_data()
    {
        QTest::addColumn<QString>("disk");   // a card's kind, or "told"
        QTest::newRow("fusefat") << "fusefat";
        QTest::newRow("exFAT through FUSE") << "exfat-fuse";
        QTest::newRow("a disk whose times cannot tell a rewrite") << "told";
    }
    void aMoveOffACardReadsEachFileOnce()
    {
        QFETCH(QString, disk);
        const QString root = lg::test::freshFolder(QStringLiteral("read once ") + QTest::currentDataTag());
        if (bytesReadByThisThread() < 0)
            QSKIP("The kernel does not count what a thread reads");
        std::optional<CardOfKind> card;
        std::optional<FileSystemKindGuard> kind;
        std::optional<FaultGuard> fault;
        QString from = root + "/src";
        if (disk == "told") {
            kind.emplace([](dev_t) { return lg::FileSystemKind::Fuse; });
            fault.emplace([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
        } else {
            card.emplace(root, disk);
            if (card->path.isEmpty())
                QSKIP(qPrintable(card->why));
            from = card->path;
        }
        const QString album = from + "/DCIM";
        const QByteArray photo(1500000, 'p'), clip(2500000, 'c');
        lg::test::writeFile(album + "/IMG_0001.JPG", photo);
        lg::test::writeFile(album + "/MVI_0002.MP4", clip);
        lg::test::writeFile(album + "/100CARD/IMG_0003.JPG", "small");
        qint64 data = photo.size() + clip.size() + 5;
        QByteArray sparse;
        if (disk == "told") {
            QCOMPARE(::link(raw(album + "/IMG_0001.JPG").constData(), raw(album + "/also.jpg").constData()), 0);
            const int fd = ::open(raw(album + "/sparse.raw").constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
            QVERIFY(fd >= 0);
            const QByteArray block(4096, 'd');
            QCOMPARE(::pwrite(fd, block.constData(), 4096, off_t(1) << 20), ssize_t(4096));
            QCOMPARE(::ftruncate(fd, off_t(3) << 20), 0);
            ::close(fd);
            sparse = QByteArray(3 << 20, '\0').replace(1 << 20, 4096, block);
            data += block.size();
        }
        const QString dst = root + "/dst";
        QDir().mkpath(dst);
        lg::FileBatch batch(lg::FileOpKind::Move, dst);
        const qint64 before = bytesReadByThisThread();
        const lg::FileOpResult r = batch.run({album}, lg::ConflictPolicy::Refuse).results.value(0);
        const qint64 read = bytesReadByThisThread() - before;
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(!QFileInfo::exists(album));
        QCOMPARE(readAll(dst + "/DCIM/IMG_0001.JPG"), photo);
        QCOMPARE(readAll(dst + "/DCIM/MVI_0002.MP4"), clip);
        QCOMPARE(readAll(dst + "/DCIM/100CARD/IMG_0003.JPG"), QByteArray("small"));
        if (disk == "told") {
            QCOMPARE(inodeOf(dst + "/DCIM/also.jpg"), inodeOf(dst + "/DCIM/IMG_0001.JPG"));
            QCOMPARE(readAll(dst + "/DCIM/sparse.raw"), sparse);
        }
        // The files' bytes, and little more (the program's own notes).
        QVERIFY2(read >= data && read < data + (256 << 10),
                 qPrintable(QStringLiteral("%1 bytes read to move %2").arg(read).arg(data)));
    }

    // A card refuses some names (: ? * < > | " \ and control characters;
    // fusefat and the kernel's FAT also bytes that are not UTF-8): a folder
    // copied or moved there arrives with every other entry, each refused one
    // named with why (the characters really in its name),
    // never as "no longer there" or an error number; a move leaves the
    // refused ones where they were. An item whose own name is refused is
    // refused in the same words. A card is never said to have refused
    // permissions, which it cannot hold. On a real fusefat card, and on an
    // exFAT card as exfat-fuse answers (ENOENT, EILSEQ) where none can be had.
    void aNameACardRefusesFailsOnlyItsOwnEntry_data()
    {
        QTest::addColumn<QString>("disk");        // "fusefat" or "exfat-like"
        QTest::addColumn<QString>("operation");   // "copy" or "move"
        QTest::newRow("fusefat, copy") << "fusefat" << "copy";
        QTest::newRow("fusefat, move") << "fusefat" << "move";
        QTest::newRow("exFAT as exfat-fuse answers, copy") << "exfat-like" << "copy";
        QTest::newRow("exFAT as exfat-fuse answers, move") << "exfat-like" << "move";
    }
    void aNameACardRefusesFailsOnlyItsOwnEntry()
    {
        QFETCH(QString, disk);
        QFETCH(QString, operation);
        const QString root = lg::test::freshFolder(QStringLiteral("card names ") + QTest::currentDataTag());
        std::optional<FuseFatCard> fat;
        std::optional<FaultGuard> fault;
        std::optional<FileSystemKindGuard> kind;
        QString card = root + "/card";
        if (disk == "fusefat") {
            fat.emplace(root, 4096);
            if (fat->path.isEmpty())
                QSKIP(qPrintable(fat->why));
        } else {
            // exfat-fuse refuses a name's characters with ENOENT, bytes that
            // are not UTF-8 with EILSEQ, and takes no permissions.
            QDir().mkpath(card);
            kind.emplace([](dev_t) { return lg::FileSystemKind::Card; });
            fault.emplace([&](lg::FileStep step, const QString &path) {
                if (operation == "move" && step == lg::FileStep::Rename)
                    return EXDEV;
                if (!path.startsWith(card))
                    return 0;
                const QByteArray name = lg::FileNames::toNative(path).mid(raw(card).size() + 1);
                const bool refused = name.contains(':') || name.contains('\t');
                if ((step == lg::FileStep::MakeFile || step == lg::FileStep::MakeFolder
                     || step == lg::FileStep::FinalRename)
                    && (refused || !QUtf8StringView(name).isValidUtf8()))
                    return refused ? ENOENT : EILSEQ;
                return step == lg::FileStep::SetMode ? EPERM : 0;
            });
        }
        const QString album = root + "/src/Album";
        for (const char *name : {"a.jpg", "b.jpg", "sub/c.jpg"})
            lg::test::writeFile(album + "/" + name, name);
        for (const QByteArray &name : {QByteArray("x:y.jpg"), QByteArray("tab\tname.jpg"), QByteArray("caf\xe9.jpg")})
            QVERIFY(makeRawFile(album, name));
        const auto unreadable = qScopeGuard([&] { ::unlink((raw(album) + "/caf\xe9.jpg").constData()); });
        QDir().mkpath(album + "/odd:folder");
        const lg::FileOpResult r = operation == "move" ? lg::moveItem(album, card) : lg::copyItem(album, card);
        QVERIFY2(!r.ok() && r.itemInPlace, qPrintable(r.message));
        QCOMPARE(readAll(card + "/Album/a.jpg"), QByteArray("a.jpg"));
        QCOMPARE(readAll(card + "/Album/sub/c.jpg"), QByteArray("sub/c.jpg"));
        QCOMPARE(entries(card + "/Album"), (QStringList{"a.jpg", "b.jpg", "sub"}));
        QStringList refused = r.entriesRefused;
        refused.sort();
        QCOMPARE(refused.size(), 4);
        QCOMPARE(refused.first(), album + "/caf" + lg::FileNames::fromNative("\xe9") + ".jpg");
        for (const char *named : {"“Album/x:y.jpg”", "“Album/odd:folder”", "“Album/tab\tname.jpg”"})
            QVERIFY2(r.message.contains(QString::fromUtf8(named)), qPrintable(r.message));
        QVERIFY2(r.message.contains(QStringLiteral("does not accept “:” in a name")), qPrintable(r.message));
        QVERIFY2(r.message.contains(QStringLiteral("does not accept a tab in a name")), qPrintable(r.message));
        QVERIFY2(r.message.contains(QStringLiteral("does not accept a name that is not valid UTF-8 text")),
                 qPrintable(r.message));
        for (const char *wrong : {"no longer there", "error 84", "ermissions", "arrived or changed"})
            QVERIFY2(!r.message.contains(QLatin1String(wrong)), qPrintable(r.message));
        QCOMPARE(r.permissionsNotKept, QStringList{});
        if (operation == "move") {
            QVERIFY2(r.message.contains(QStringLiteral("could not be moved and stay where they were")),
                     qPrintable(r.message));
            QStringList left = entries(album);
            QCOMPARE(rawEntryCount(album), 4);   // the refused ones, and nothing else
            QVERIFY(left.contains("x:y.jpg") && left.contains("odd:folder"));
        } else {
            QVERIFY2(r.message.contains(QStringLiteral("could not be copied")), qPrintable(r.message));
            QCOMPARE(rawEntryCount(album), 7);
        }
        // An item whose own name the card refuses.
        const QString odd = lg::test::writeFile(root + "/src/when:where.jpg", "w");
        const lg::FileOpResult single = operation == "move" ? lg::moveItem(odd, card) : lg::copyItem(odd, card);
        QCOMPARE(single.error, lg::FileOpError::InvalidName);
        QVERIFY2(single.message == QStringLiteral("The file system of “%1” does not accept “:” in a name.").arg(card),
                 qPrintable(single.message));
        QVERIFY(QFileInfo::exists(odd));
    }

    // A folder copied or moved onto a card arrives but for the entries the
    // card cannot hold, each of which fails alone, named with why: a name that
    // another entry took under another case (the card does not tell upper from
    // lower case), a symbolic link, a named pipe, a newline in a name (called
    // a newline, not a tab); a move leaves them where they were. A link given
    // as an item of its own is refused in the same words. Through FUSE
    // (fusefat, exfat-fuse), and through the kernel's FAT and exFAT drivers
    // where they can be had.
    void whatACardCannotHoldFailsOnlyItsOwnEntry_data()
    {
        QTest::addColumn<QString>("disk");
        QTest::addColumn<QString>("operation");
        for (const char *disk : {"fusefat", "exfat-fuse", "vfat", "exfat"})
            for (const char *operation : {"copy", "move"})
                QTest::addRow("%s, %s", disk, operation) << QString::fromLatin1(disk) << QString::fromLatin1(operation);
    }
    void whatACardCannotHoldFailsOnlyItsOwnEntry()
    {
        QFETCH(QString, disk);
        QFETCH(QString, operation);
        const QString root = lg::test::freshFolder(QStringLiteral("card cannot hold ") + QTest::currentDataTag());
        const CardOfKind card(root, disk);
        if (card.path.isEmpty())
            QSKIP(qPrintable(card.why));
        const QString trip = root + "/src/Trip";
        for (const char *name : {"a.jpg", "Case.jpg", "case.jpg", "sub/IMG_1.JPG", "sub/img_1.jpg", "two\nlines.jpg"})
            lg::test::writeFile(trip + "/" + name, name);
        QCOMPARE(::symlink("a.jpg", raw(trip + "/link.jpg").constData()), 0);
        QCOMPARE(::mkfifo(raw(trip + "/pipe").constData(), 0644), 0);
        const QString looseLink = root + "/src/loose-link";
        QCOMPARE(::symlink("Trip", raw(looseLink).constData()), 0);
        const bool moving = operation == "move";
        lg::FileBatch batch(moving ? lg::FileOpKind::Move : lg::FileOpKind::Copy, card.path);
        const QList<lg::FileOpResult> results = batch.run({trip, looseLink}, lg::ConflictPolicy::Refuse).results;
        QCOMPARE(results.size(), 2);
        const lg::FileOpResult &r = results.first();
        QVERIFY2(!r.ok() && r.itemInPlace, qPrintable(r.message));
        // Of two names that differ only in case, the one copied first arrived.
        const QString copy = card.path + "/Trip";
        const QStringList arrived = entries(copy), arrivedBelow = entries(copy + "/sub");
        QCOMPARE(arrived.size(), 3);
        QVERIFY2(arrived.contains("a.jpg") && arrived.contains("sub"), qPrintable(arrived.join(',')));
        const QString held = arrived.contains("Case.jpg") ? "Case.jpg" : "case.jpg";
        const QString other = held == "Case.jpg" ? "case.jpg" : "Case.jpg";
        QCOMPARE(arrivedBelow.size(), 1);
        const QString heldBelow = "sub/" + arrivedBelow.first();
        const QString otherBelow = heldBelow == "sub/IMG_1.JPG" ? "sub/img_1.jpg" : "sub/IMG_1.JPG";
        for (const QString &name : {QStringLiteral("a.jpg"), held, heldBelow})
            QCOMPARE(readAll(copy + "/" + name), name.toUtf8());
        QStringList refused = r.entriesRefused;
        refused.sort();
        QStringList meant{trip + "/" + other, trip + "/link.jpg", trip + "/pipe", trip + "/" + otherBelow,
                          trip + "/two\nlines.jpg"};
        meant.sort();
        QCOMPARE(refused, meant);
        const QString done = moving ? QStringLiteral("could not be moved and stays where it was")
                                    : QStringLiteral("could not be copied");
        const QString noCase = QStringLiteral("“Trip/%1” %2: the file system of “%3” does not tell upper from lower "
                                              "case, and “Trip/%4” has that name there.");
        for (const QString &said :
             {noCase.arg(other, done, card.path, held), noCase.arg(otherBelow, done, card.path, heldBelow),
              QStringLiteral("“Trip/link.jpg” %1: the file system of “%2” cannot hold symbolic links.")
                  .arg(done, card.path),
              QStringLiteral("“Trip/pipe” %1: named pipes are not copied.").arg(done),
              QStringLiteral("“Trip/two\nlines.jpg” %1: the file system of “%2” does not accept a newline in a name.")
                  .arg(done, card.path),
              QStringLiteral("The rest of “Trip” was %1.").arg(moving ? "moved" : "copied")})
            QVERIFY2(r.message.contains(said), qPrintable(r.message + "\n lacks: " + said));
        for (const char *wrong : {"a tab", "error", "in the way", "no longer there", "arrived or changed"})
            QVERIFY2(!r.message.contains(QLatin1String(wrong)), qPrintable(r.message));
        if (moving) {
            QCOMPARE(rawEntryCount(trip), 5);   // what did not arrive, and nothing else
            QCOMPARE(entries(trip + "/sub"), QStringList{otherBelow.mid(4)});
        } else {
            QCOMPARE(rawEntryCount(trip), 7);
        }
        // A link of its own.
        const lg::FileOpResult &link = results.last();
        QCOMPARE(link.error, lg::FileOpError::Other);
        QCOMPARE(link.message, QStringLiteral("The file system of “%1” cannot hold symbolic links.").arg(card.path));
        struct stat st;
        QVERIFY(::lstat(raw(looseLink).constData(), &st) == 0 && S_ISLNK(st.st_mode));
        QCOMPARE(entries(card.path), QStringList{"Trip"});
    }

    // ---- Names that are not UTF-8 ----
    void anItemWhoseNameIsNotUtf8IsRefusedForThatReason()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("unreadable"));
        QDir().mkpath(root + "/dst");
        const QByteArray rawName("caf\xe9.jpg");
        const int fd = ::open((raw(root) + "/" + rawName).constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
        QVERIFY(fd >= 0);
        ::close(fd);
        const QString path = root + "/" + QFile::decodeName(rawName);   // what a listing hands over
        QVERIFY(!QFileInfo::exists(path));
        lg::FileBatch batch(lg::FileOpKind::Copy, root + "/dst");
        const QList<lg::FileOpResult> results{lg::copyItem(path, root + "/dst"), lg::moveItem(path, root + "/dst"),
                                              lg::moveToTrash(path), lg::renameItem(path, "x.jpg"),
                                              batch.run({path}, lg::ConflictPolicy::Refuse).results.value(0)};
        for (const lg::FileOpResult &r : results) {
            QCOMPARE(r.error, lg::FileOpError::InvalidName);
            QVERIFY2(r.message.contains(QStringLiteral("cannot be read")), qPrintable(r.message));
        }
        QVERIFY(::access((raw(root) + "/" + rawName).constData(), F_OK) == 0);
        QCOMPARE(entries(root + "/dst"), QStringList{});
        // A missing item whose name merely holds the replacement character is missing.
        QCOMPARE(lg::copyItem(root + "/gone\xEF\xBF\xBD.jpg", root + "/dst").error, lg::FileOpError::SourceMissing);
        ::unlink((raw(root) + "/" + rawName).constData());
    }
};

LG_TEST(FileOperationsTest)
#include "test_fileoperations.moc"
