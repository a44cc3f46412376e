// What a copy, a Replace or an image write leaves when its process is killed
// half-way, or while it still runs in another process: the one cleanup touches
// only what a lock proves is ours and no longer in work, removes unfinished
// copies and writes, and brings set-aside items back whole. Lock records planted
// by anyone else (an archive, a sync client, another user of a shared folder)
// are left alone with all they name.
#include "platform/files/names/FileIdentity.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/files/recovery/FolderRecords.h"
#include "platform/files/recovery/Temporaries.h"
#include "platform/files/recovery/Journal.h"
#include "platform/files/recovery/Removal.h"
#include "platform/files/recovery/StoppedMoves.h"
#include "platform/files/operations/Trash.h"
#include "platform/runtime/Dispatch.h"
#include "tests/platform/files/FileTesting.h"
#include "tests/support/TestSupport.h"

#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QScopeGuard>
#include <QStandardPaths>

#include <atomic>
#include <cstdlib>

#include <cerrno>
#include <fcntl.h>
#include <grp.h>
#include <optional>
#include <sys/file.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

using lg::test::entries;
using lg::test::FaultGuard;

namespace {

QStringList hiddenEntries(const QString &folder)
{
    QStringList hidden;
    for (const QString &name : entries(folder))
        if (name.startsWith(QLatin1Char('.')))
            hidden << name;
    return hidden;
}

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

QByteArray raw(const QString &path) { return QFile::encodeName(path); }

constexpr char token[] = "0123456789abcdef";

// A lock record as this program writes it (name and temporary given as they
// stand in the file, percent-encoded).
QByteArray record(const QByteArray &kind, const QByteArray &name, const QByteArray &temporary)
{
    return "[Lumen Gallery temporary]\nKind=" + kind + "\nName=" + name + "\nTemporary=" + temporary + "\n";
}

// What another user plants: a folder, a file (with its bytes) or a link (to
// data); or what they move: path renamed to data.
struct Plant
{
    enum Kind { Folder, File, Link, Rename } kind;
    QByteArray path;
    QByteArray data;
};

// Makes plants in a child process that runs as uid and gid 65534 ("nobody").
// 0 when all were made; 77 when no other user can be played here.
int plantAsAnotherUser(const std::vector<Plant> &plants)
{
    const pid_t child = ::fork();
    if (child < 0)
        return 77;
    if (child == 0) {
        // Only system calls from here on: the parent has other threads.
        if (::setgroups(0, nullptr) != 0 || ::setgid(65534) != 0 || ::setuid(65534) != 0)
            ::_exit(77);
        for (const Plant &plant : plants) {
            bool made = false;
            if (plant.kind == Plant::Folder) {
                made = ::mkdir(plant.path.constData(), 0755) == 0;
            } else if (plant.kind == Plant::Link) {
                made = ::symlink(plant.data.constData(), plant.path.constData()) == 0;
            } else if (plant.kind == Plant::Rename) {
                made = ::rename(plant.path.constData(), plant.data.constData()) == 0;
            } else {
                const int fd = ::open(plant.path.constData(), O_WRONLY | O_CREAT | O_EXCL, 0644);
                made = fd >= 0 && ::write(fd, plant.data.constData(), size_t(plant.data.size())) == plant.data.size();
                if (fd >= 0)
                    ::close(fd);
            }
            if (!made)
                ::_exit(1);
        }
        ::_exit(0);
    }
    int status = 0;
    if (::waitpid(child, &status, 0) != child || !WIFEXITED(status))
        return 1;
    return WEXITSTATUS(status);
}

// Lets every user through the folders above path (the private HOME is 0700).
void openTheWayTo(const QString &path)
{
    for (QString up = QFileInfo(path).absolutePath(); up != QLatin1String("/") && !up.isEmpty();
         up = QFileInfo(up).absolutePath()) {
        struct stat st;
        if (::stat(raw(up).constData(), &st) == 0)
            ::chmod(raw(up).constData(), (st.st_mode & 07777) | 0011);
    }
}

// The one hidden entry of folder whose name holds part; empty when none.
QString hiddenWith(const QString &folder, const QString &part)
{
    for (const QString &name : hiddenEntries(folder))
        if (name.contains(part))
            return name;
    return {};
}

// The folders the journal's entries name (in the user's state folder).
QStringList journalFolders()
{
    const QString journal = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries");
    QStringList folders;
    for (const QString &name : entries(journal)) {
        const QList<QByteArray> lines = lg::test::readAll(journal + "/" + name).split('\n');
        if (lines.size() > 1 && lines.at(1).startsWith("Folder="))
            folders << QDir::cleanPath(QFile::decodeName(QByteArray::fromPercentEncoding(lines.at(1).mid(7))));
    }
    return folders;
}

// The journal's folder, and the file of its entry that names folder; empty when none.
QString journalPath() { return qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries"); }
QString journalEntryFor(const QString &folder)
{
    for (const QString &name : entries(journalPath())) {
        const QList<QByteArray> lines = lg::test::readAll(journalPath() + "/" + name).split('\n');
        if (lines.size() > 1 && lines.at(1) == "Folder=" + raw(folder).toPercentEncoding("/"))
            return journalPath() + "/" + name;
    }
    return {};
}

// An entry of the journal as a dead process left it, naming folder on disk
// (empty: as an older version wrote it, without its disk), missing since then.
QByteArray journalEntry(const QString &folder, const QByteArray &disk = {}, qint64 missingSince = 0)
{
    QByteArray text = "[Lumen Gallery folder]\nFolder=" + raw(folder).toPercentEncoding("/") + "\n" + disk;
    if (missingSince > 0)
        text += "Missing=" + QByteArray::number(missingSince) + "\n";
    return text;
}

// A mount of a folder over another for the guard's life, where the machine
// lets this process mount (root).
struct BindMount
{
    BindMount(const QString &from, const QString &at)
        : m_from(from), m_at(at)
    {
        mount();
    }
    ~BindMount() { unmount(); }
    bool mount()
    {
        m_mounted = ::geteuid() == 0
                    && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("--bind"), m_from, m_at}) == 0;
        return m_mounted;
    }
    void unmount()
    {
        if (m_mounted)
            QProcess::execute(QStringLiteral("umount"), {m_at});
        m_mounted = false;
    }
    bool mounted() const { return m_mounted; }
    QString m_from, m_at;
    bool m_mounted = false;
};

// A card: an ext4 image of its own, mounted (through a loop device) at one
// place or another, where the machine lets this process mount.
struct Card
{
    explicit Card(const QString &image) : m_image(image)
    {
        const int fd = ::open(raw(image).constData(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
        m_made = fd >= 0 && ::ftruncate(fd, 16 << 20) == 0;
        if (fd >= 0)
            ::close(fd);
        m_made = m_made && ::geteuid() == 0
                 && QProcess::execute(QStringLiteral("mkfs.ext4"), {QStringLiteral("-q"), image}) == 0;
    }
    ~Card() { unmount(); }
    bool mountAt(const QString &at)
    {
        QDir().mkpath(at);
        if (m_made && QProcess::execute(QStringLiteral("mount"), {QStringLiteral("-o"), QStringLiteral("loop"), m_image, at}) == 0)
            m_at = at;
        return !m_at.isEmpty();
    }
    void unmount()
    {
        if (!m_at.isEmpty())
            QProcess::execute(QStringLiteral("umount"), {m_at});
        m_at.clear();
    }
    QString m_image, m_at;
    bool m_made = false;
};

// An exFAT card (an image through a loop device of its own, mounted through
// FUSE at one place or another) for the guard's life, where the machine has
// the tools and lets this process mount.
struct ExfatCard
{
    explicit ExfatCard(const QString &image)
    {
        m_fuse = QStandardPaths::findExecutable(QStringLiteral("mount.exfat-fuse"), {"/usr/sbin", "/sbin", "/usr/bin"});
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.exfat"), {"/usr/sbin", "/sbin", "/usr/bin"});
        QFile sized(image);
        if (mkfs.isEmpty() || m_fuse.isEmpty() || ::geteuid() != 0 || !sized.open(QIODevice::WriteOnly)
            || !sized.resize(8 << 20))
            return;
        sized.close();
        QProcess format;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.start(mkfs, {image});
        QProcess loop;
        if (format.waitForFinished(10000) && format.exitCode() == 0)
            loop.start(QStringLiteral("losetup"), {"-f", "--show", image});
        if (loop.waitForFinished(10000) && loop.exitCode() == 0)
            m_device = QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed();
    }
    ExfatCard(const QString &image, const QString &at) : ExfatCard(image) { mountAt(at); }
    ~ExfatCard()
    {
        unmount();
        if (!m_device.isEmpty())
            QProcess::execute(QStringLiteral("losetup"), {"-d", m_device});
    }
    bool mountAt(const QString &at)
    {
        QDir().mkpath(at);
        if (!m_device.isEmpty() && QProcess::execute(m_fuse, {m_device, at}) == 0)
            m_at = at;
        return mounted();
    }
    void unmount()
    {
        if (!m_at.isEmpty())
            ::umount2(QFile::encodeName(m_at).constData(), MNT_DETACH);
        m_at.clear();
    }
    bool mounted() const { return !m_at.isEmpty(); }
    QString m_fuse, m_device, m_at;
};

// The names of the notes of stopped moves in the journal's folder.
QStringList moveNotes(const QString &journal)
{
    QStringList notes;
    for (const QString &name : entries(journal))
        if (name.startsWith(QLatin1String("move-")))
            notes << name;
    return notes;
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

    void onlyAJournalEntryExactlyAsWrittenNamesAFolder()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("journal"));
        const QString journal = qEnvironmentVariable("XDG_STATE_HOME") + QStringLiteral("/lumengallery/temporaries");
        QVERIFY(QDir().mkpath(journal));
        const QByteArray temporary = QByteArray(".F.lgcopy-") + token;
        const QStringList folders{"good", "relative", "extra line", "CR LF", "link", "not a token", "NUL"};
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
        QCOMPARE(lg::test::readAll(root + "/elsewhere"), entry("link"));
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
        const QString lock = lg::test::writeFile(folder + "/.lglock-" + QString::fromLatin1(recordToken), text);
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
                           && change != QLatin1String("wider") && change != QLatin1String("path");
        QCOMPARE(QFileInfo::exists(lock), !exact);
        ::chmod(raw(item).constData(), 0755);
    }

    // On a disk that keeps no modes and cannot refuse to replace (exFAT through
    // FUSE), a move or a copy killed right after the placeholder that holds its
    // target's name was made leaves nothing at the target after the next start
    // (nor the copy's temporary); an item that did arrive there stays.
    void aPlaceholderOnADiskWithoutModesGoesAfterAKill_data()
    {
        QTest::addColumn<bool>("file");
        QTest::addColumn<bool>("copy");
        QTest::addColumn<bool>("arrived");   // the rename happened after all
        QTest::newRow("a folder") << false << false << false;
        QTest::newRow("a file") << true << false << false;
        QTest::newRow("a copied folder") << false << true << false;
        QTest::newRow("a copied file") << true << true << false;
        QTest::newRow("a folder that arrived") << false << false << true;
    }
    void aPlaceholderOnADiskWithoutModesGoesAfterAKill()
    {
        QFETCH(bool, file);
        QFETCH(bool, copy);
        QFETCH(bool, arrived);
        const QString mkfs = QStandardPaths::findExecutable(QStringLiteral("mkfs.exfat"), {"/usr/sbin", "/sbin", "/usr/bin"});
        const QString fuse = QStandardPaths::findExecutable(QStringLiteral("mount.exfat-fuse"), {"/usr/sbin", "/sbin", "/usr/bin"});
        if (mkfs.isEmpty() || fuse.isEmpty() || ::geteuid() != 0)
            QSKIP("exFAT through FUSE (exfatprogs, exfat-fuse) and root are needed");
        const QString root = lg::test::freshFolder(QStringLiteral("exfat ") + QTest::currentDataTag());
        const QString image = root + "/card.img";
        const QString card = root + "/card";
        QDir().mkpath(card);
        {
            QFile sized(image);
            QVERIFY(sized.open(QIODevice::WriteOnly) && sized.resize(8 << 20));
        }
        QProcess format;
        format.setStandardOutputFile(QProcess::nullDevice());
        format.start(mkfs, {image});
        QProcess loop;
        if (format.waitForFinished(10000) && format.exitCode() == 0)
            loop.start(QStringLiteral("losetup"), {"-f", "--show", image});
        if (!loop.waitForFinished(10000) || loop.exitCode() != 0)
            QSKIP("No exFAT image can be made here");
        const QString device = QString::fromLocal8Bit(loop.readAllStandardOutput()).trimmed();
        const auto detach = qScopeGuard([device] { QProcess::execute(QStringLiteral("losetup"), {"-d", device}); });
        if (QProcess::execute(fuse, {device, card}) != 0)
            QSKIP("An exFAT image cannot be mounted here");
        const auto unmount = qScopeGuard([card] { ::umount2(raw(card).constData(), MNT_DETACH); });
        const QString source = file ? lg::test::writeFile(card + "/src/clip.mov", "clip")
                                    : QFileInfo(lg::test::writeFile(card + "/src/Album/a.jpg", "a")).absolutePath();
        const QString target = card + "/dst/" + QFileInfo(source).fileName();
        QDir().mkpath(card + "/dst");
        {
            StoppedOperation moving(copy ? QStringList{"placeholder", source, card + "/dst", "copy"}
                                         : QStringList{"placeholder", source, card + "/dst"});
            QVERIFY(moving.stopped());
            QVERIFY(QFileInfo::exists(target));
            QVERIFY(QFileInfo::exists(source));
        }
        if (arrived) {
            QVERIFY(QDir().rmdir(target));
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

    // A card is known by its volume, not by where it is mounted: card B, of
    // the same make, mounted where card A was, is not taken for A. What a
    // kill left on A (a hidden copy and the journal's entry of its folder, a
    // stopped move's note) waits for A, and B's folder is not touched; once
    // A is back, its folder is put right and the move told.
    void aSecondCardAtTheSamePlaceIsNotTakenForTheFirst_data()
    {
        QTest::addColumn<bool>("exfat");
        QTest::newRow("ext4") << false;
        QTest::newRow("exFAT through FUSE") << true;
    }
    void aSecondCardAtTheSamePlaceIsNotTakenForTheFirst()
    {
        QFETCH(bool, exfat);
        const QString root = lg::test::freshFolder(QStringLiteral("second card ") + QTest::currentDataTag());
        Card first(root + "/a.img"), second(root + "/b.img");
        ExfatCard firstExfat(root + "/a.exfat"), secondExfat(root + "/b.exfat");
        const QString card = root + "/CARD";
        const auto mountFirst = [&] { return exfat ? firstExfat.mountAt(card) : first.mountAt(card); };
        const auto mountSecond = [&] { return exfat ? secondExfat.mountAt(card) : second.mountAt(card); };
        const auto unmountFirst = [&] { exfat ? firstExfat.unmount() : first.unmount(); };
        const auto unmountSecond = [&] { exfat ? secondExfat.unmount() : second.unmount(); };
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
        QCOMPARE(entries(dst), QStringList{"B.jpg"});
        QVERIFY(lg::takeStoppedMoves().isEmpty());
        QCOMPARE(moveNotes(journalPath()).size(), 1);   // it waits for card A
        unmountSecond();
        QVERIFY(mountFirst());
        lg::cleanFoldersLeftByKilledRuns();
        QCOMPARE(hiddenEntries(dst), QStringList{});
        QVERIFY(!journalFolders().contains(dst));
        const QList<lg::StoppedMove> moves = lg::takeStoppedMoves();
        QCOMPARE(moves.size(), 1);
        QCOMPARE(moves.first().target, card + "/Trip");
        QVERIFY(moves.first().copyWhole);
        QCOMPARE(lg::test::readAll(root + "/src/F/big.mov").size(), 10000);
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
        else if (planted == QLatin1String("identity"))
            text += "Made=" + QByteArray::number(quint64(st.st_dev)) + ":" + QByteArray::number(quint64(st.st_ino) + 1)
                    + ":" + QByteArray::number(st.st_mode & S_IFMT) + "\nMode=" + QByteArray::number(st.st_mode & 07777)
                    + "\n";
        lg::test::writeFile(card + "/.lglock-" + QString::fromLatin1(token), text);
        writeInto(card, QStringLiteral("N"));   // the folder is read before its first temporary
        QVERIFY(QFileInfo::exists(item));
        QCOMPARE(lg::test::readAll(card + "/src/" + name), QByteArray("elsewhere"));
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

LG_TEST(TemporariesTest)
#include "test_temporaries.moc"
