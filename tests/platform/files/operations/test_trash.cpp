// The Trash on other disks as a card or a shared disk brings it (links, folders
// of other users, the shared .Trash), and a batch of items to the Trash at quit.
// Each disk case runs on a tmpfs mount where the machine allows, and on a folder
// standing in for a disk's top folder.
#include "platform/files/operations/Trash.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/operations/FileOperations.h"
#include "tests/platform/files/recovery/FileTesting.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QScopeGuard>
#include <QTest>

#include <cerrno>
#include <memory>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

using lg::test::entries;
using lg::test::FaultGuard;

namespace {

QByteArray raw(const QString &path) { return QFile::encodeName(path); }

QString homeTrash() { return qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash"); }

QString uid() { return QString::number(::getuid()); }

void makeFolder(const QString &path, mode_t mode = 0755)
{
    QVERIFY(QDir().mkpath(path));
    QCOMPARE(::chmod(raw(path).constData(), mode), 0);
}

void link(const QString &target, const QString &at) { QVERIFY(QFile::link(target, at)); }

// Gives path and all below it to another user.
void giveAway(const QString &path)
{
    QCOMPARE(::lchown(raw(path).constData(), lg::test::nobody, lg::test::nobody), 0);
    for (const QString &name : entries(path))
        giveAway(path + QLatin1Char('/') + name);
}

mode_t modeOf(const QString &path)
{
    struct stat st;
    return ::lstat(raw(path).constData(), &st) == 0 ? st.st_mode & 07777 : 0;
}

// A disk's top folder for one case: a tmpfs mounted on a fresh folder, or the
// fresh folder standing in for one. Unmounted or forgotten when it goes.
class Disk
{
public:
    explicit Disk(bool mounted)
        : m_top(lg::test::freshFolder(QStringLiteral("disk"))), m_mounted(mounted)
    {
        if (mounted)
            m_ready = ::mount("lgtrash", raw(m_top).constData(), "tmpfs", 0, "size=2m,mode=0755") == 0;
        else
            lg::setDiskTopForTesting(m_top);
    }
    ~Disk()
    {
        if (m_mounted && m_ready)
            ::umount2(raw(m_top).constData(), MNT_DETACH);
        if (!m_mounted)
            lg::setDiskTopForTesting({});
    }
    Disk(const Disk &) = delete;
    Disk &operator=(const Disk &) = delete;
    bool isReady() const { return !m_mounted || m_ready; }
    QString top() const { return m_top; }

private:
    QString m_top;
    bool m_mounted;
    bool m_ready = false;
};

} // namespace

class TrashTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        // Every case starts from an empty home Trash and no planted folders.
        const QString config = QDir::homePath() + "/.config";
        for (const QString &folder : {homeTrash(), config + "/autostart", config + "/planted"})
            QVERIFY(QDir(folder).removeRecursively());
        QFile::remove(config + "/IMG_0001.desktop.trashinfo");
    }
    void cleanup()
    {
        if (QFileInfo(homeTrash()).isSymLink())
            QFile::remove(homeTrash());
        lg::resetShutdownForTesting();
        lg::setFileFaultForTesting({});
    }

    // ---- The Trash on other disks ----
    void aDisksTrashIsUsedOnlyWhenItsFoldersAreRealAndTheUsers_data()
    {
        QTest::addColumn<bool>("mounted");
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("expected");   // home, own ($topdir/.Trash-$uid) or shared ($topdir/.Trash/$uid)
        QTest::addColumn<QString>("watched");    // a folder that must not receive anything ("~/" is the home)
        const struct
        {
            const char *layout, *expected, *watched;
        } rows[] = {
            {"files and info link into the home", "home", "~/.config/autostart"},
            {"the own Trash is a link into the home", "home", "~/.config/planted/files"},
            {"the own Trash is another user's", "home", ".Trash-U/files"},
            {"the own Trash's files is another user's", "home", ".Trash-U/files"},
            {"the shared Trash's folder is another user's", "own", ".Trash/U/files"},
            {"the shared Trash's folder links to another user's", "own", "theirs/files"},
            {"the shared Trash is a link", "own", "elsewhere"},
            {"the shared Trash has no sticky bit", "own", ".Trash"},
            {"a shared Trash", "shared", ""},
            {"a fresh disk", "own", ""},
        };
        for (bool mounted : {true, false})
            for (const auto &row : rows)
                QTest::addRow("%s, %s", mounted ? "tmpfs" : "stand-in", row.layout)
                    << mounted << QString::fromLatin1(row.layout) << QString::fromLatin1(row.expected)
                    << QString::fromLatin1(row.watched);
    }
    void aDisksTrashIsUsedOnlyWhenItsFoldersAreRealAndTheUsers()
    {
        QFETCH(bool, mounted);
        QFETCH(QString, layout);
        QFETCH(QString, expected);
        QFETCH(QString, watched);
        const Disk disk(mounted);
        if (!disk.isReady())
            QSKIP("tmpfs cannot be mounted here");
        const QString top = disk.top();
        const QString home = QDir::homePath();
        const QString own = top + "/.Trash-" + uid();
        const QString shared = top + "/.Trash/" + uid();
        makeFolder(home + "/.config/autostart");
        if (layout == "files and info link into the home") {
            makeFolder(own, 0700);
            link(home + "/.config/autostart", own + "/files");
            link(home + "/.config", own + "/info");
        } else if (layout == "the own Trash is a link into the home") {
            makeFolder(home + "/.config/planted/files", 0700);
            makeFolder(home + "/.config/planted/info", 0700);
            link(home + "/.config/planted", own);
        } else if (layout == "the own Trash is another user's") {
            makeFolder(own + "/files", 0700);
            makeFolder(own + "/info", 0700);
            giveAway(own);
        } else if (layout == "the own Trash's files is another user's") {
            makeFolder(own + "/files", 0777);
            makeFolder(own + "/info", 0700);
            giveAway(own + "/files");
        } else if (layout == "the shared Trash's folder is another user's") {
            makeFolder(top + "/.Trash", 01777);
            makeFolder(shared + "/files", 0777);
            makeFolder(shared + "/info", 0777);
            giveAway(shared);
        } else if (layout == "the shared Trash's folder links to another user's") {
            makeFolder(top + "/.Trash", 01777);
            makeFolder(top + "/theirs/files", 0777);
            makeFolder(top + "/theirs/info", 0777);
            giveAway(top + "/theirs");
            link(top + "/theirs", shared);
        } else if (layout == "the shared Trash is a link") {
            makeFolder(top + "/elsewhere", 01777);
            link(top + "/elsewhere", top + "/.Trash");
        } else if (layout == "the shared Trash has no sticky bit") {
            makeFolder(top + "/.Trash", 0777);
        } else if (layout == "a shared Trash") {
            makeFolder(top + "/.Trash", 01777);
        }
        watched.replace(QLatin1String(".Trash-U"), ".Trash-" + uid()).replace(QLatin1String(".Trash/U"), ".Trash/" + uid());
        if (!watched.isEmpty())
            watched = watched.startsWith(QLatin1String("~/")) ? home + watched.mid(1) : top + "/" + watched;
        const QStringList watchedBefore = entries(watched);
        const QStringList configBefore = entries(home + "/.config");

        const QString item = lg::test::writeFile(top + "/IMG_0001.desktop", "[Desktop Entry]\nExec=true\n");
        const lg::FileOpResult r = lg::moveToTrash(item);
        QVERIFY2(r.ok(), qPrintable(r.message));

        const QString trash = expected == "home" ? homeTrash() : expected == "own" ? own : shared;
        QCOMPARE(r.target, trash + "/files/IMG_0001.desktop");
        QCOMPARE(lg::test::readAll(r.target), QByteArray("[Desktop Entry]\nExec=true\n"));
        QCOMPARE(lg::readTrashInfo(trash + "/info/IMG_0001.desktop.trashinfo")->originalPath, item);
        QVERIFY(!QFileInfo::exists(item));
        if (!watched.isEmpty())
            QCOMPARE(entries(watched), watchedBefore);
        QCOMPARE(entries(home + "/.config"), configBefore);
        QCOMPARE(entries(home + "/.config/autostart"), QStringList{});
        if (expected != "home") {
            // Made here, for the user alone.
            for (const QString &folder : {trash, trash + "/files", trash + "/info"})
                QCOMPARE(modeOf(folder), mode_t(0700));
            QCOMPARE(QFileInfo(trash).isSymLink(), false);
        }
        if (layout == "the shared Trash has no sticky bit")
            QVERIFY(!QFileInfo::exists(shared));
    }

    void aTrashFolderSwappedForALinkAfterItsCheckReceivesNothingThroughIt_data()
    {
        QTest::addColumn<bool>("mounted");
        QTest::newRow("tmpfs") << true;
        QTest::newRow("stand-in") << false;
    }
    void aTrashFolderSwappedForALinkAfterItsCheckReceivesNothingThroughIt()
    {
        QFETCH(bool, mounted);
        const Disk disk(mounted);
        if (!disk.isReady())
            QSKIP("tmpfs cannot be mounted here");
        const QString autostart = QDir::homePath() + "/.config/autostart";
        makeFolder(autostart);
        const QString files = disk.top() + "/.Trash-" + uid() + "/files";
        const QString item = lg::test::writeFile(disk.top() + "/IMG_0001.desktop", "[Desktop Entry]\n");
        // Just before the item moves, its files/ goes aside and a link takes its name.
        const FaultGuard fault([&](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename && QFileInfo(files).isDir() && !QFileInfo(files).isSymLink()) {
                QDir().rename(files, files + ".checked");
                QFile::link(autostart, files);
            }
            return 0;
        });
        const lg::FileOpResult r = lg::moveToTrash(item);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(entries(autostart), QStringList{});
        QCOMPARE(lg::test::readAll(files + ".checked/IMG_0001.desktop"), QByteArray("[Desktop Entry]\n"));
    }

    void aReadOnlyCardWithACraftedTrashIsRefusedWithTheReasons()
    {
        // Nothing to copy to the home Trash from: the refusal says why the
        // card's own Trash is not used either, and nothing reached the home.
        const Disk disk(true);
        if (!disk.isReady())
            QSKIP("tmpfs cannot be mounted here");
        const QString top = disk.top();
        const QString home = QDir::homePath();
        makeFolder(home + "/.config/autostart");
        const QString own = top + "/.Trash-" + uid();
        makeFolder(own, 0700);
        link(home + "/.config/autostart", own + "/files");
        link(home + "/.config", own + "/info");
        const QString item = lg::test::writeFile(top + "/IMG_0001.desktop", "[Desktop Entry]\n");
        const QStringList configBefore = entries(home + "/.config");
        QCOMPARE(::mount("lgtrash", raw(top).constData(), "tmpfs", MS_REMOUNT | MS_RDONLY, nullptr), 0);
        const lg::FileOpResult r = lg::moveToTrash(item);
        QCOMPARE(r.error, lg::FileOpError::Denied);
        QVERIFY2(r.message.contains(own + "/files” is a link") && r.message.endsWith("Nothing was changed."),
                 qPrintable(r.message));
        QVERIFY(QFileInfo::exists(item));
        QCOMPARE(entries(home + "/.config"), configBefore);
        QCOMPARE(entries(home + "/.config/autostart"), QStringList{});
        QCOMPARE(entries(homeTrash() + "/files"), QStringList{});
    }

    void aDisksTrashThatCannotTakeTheItemByARenameLeavesItToTheHomeTrash()
    {
        const Disk disk(false);
        const QString item = lg::test::writeFile(disk.top() + "/a.jpg", "a");
        const FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
        const lg::FileOpResult r = lg::moveToTrash(item);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(r.target, homeTrash() + "/files/a.jpg");
        QCOMPARE(lg::test::readAll(r.target), QByteArray("a"));
        QCOMPARE(entries(disk.top() + "/.Trash-" + uid() + "/info"), QStringList{});
        QVERIFY(!QFileInfo::exists(item));
    }

    void theHomeTrashIsUsedOnlyThroughRealFolders()
    {
        const QString autostart = QDir::homePath() + "/.config/autostart";
        makeFolder(autostart);
        makeFolder(homeTrash() + "/info", 0700);
        link(autostart, homeTrash() + "/files");
        const QString item = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("home item")) + "/IMG_0001.desktop");
        const lg::FileOpResult r = lg::moveToTrash(item);
        QCOMPARE(r.error, lg::FileOpError::Denied);
        QVERIFY2(r.message.contains(homeTrash() + "/files” is a link"), qPrintable(r.message));
        QVERIFY(QFileInfo::exists(item));
        QCOMPARE(entries(autostart), QStringList{});
        QCOMPARE(entries(homeTrash() + "/info"), QStringList{});
    }

    void aHomeTrashKeptElsewhereThroughTheUsersLinkIsUsed()
    {
        const QString elsewhere = lg::test::freshFolder(QStringLiteral("trash elsewhere"));
        QDir(homeTrash()).removeRecursively();
        link(elsewhere, homeTrash());
        const QString item = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("linked trash")) + "/IMG_0002.jpg");
        const lg::FileOpResult r = lg::moveToTrash(item);
        QVERIFY2(r.ok(), qPrintable(r.message));
        QVERIFY(!QFileInfo::exists(item));
        QCOMPARE(entries(elsewhere + "/files"), QStringList{QStringLiteral("IMG_0002.jpg")});
        QCOMPARE(entries(elsewhere + "/info"), QStringList{QStringLiteral("IMG_0002.jpg.trashinfo")});
    }

    // A home Trash reached through a link into a shared place, where another
    // user made the folders first: the user's item never goes into them.
    void aHomeTrashReachedThroughALinkIsUsedOnlyWhenItsFoldersAreTheUsers_data()
    {
        QTest::addColumn<QString>("layout");
        QTest::addColumn<QString>("reason");   // empty: the Trash is used
        QTest::newRow("the Trash links to another user's folder") << "theirs" << "belongs to another user";
        QTest::newRow("the linked Trash's files are another user's") << "their files" << "/files” belongs to another user";
        QTest::newRow("the linked Trash's info is another user's") << "their info" << "/info” belongs to another user";
        QTest::newRow("the data folder links to another user's Trash") << "data folder" << "/Trash” belongs to another user";
        QTest::newRow("the Trash links to the user's own folders") << "own" << "";
    }
    void aHomeTrashReachedThroughALinkIsUsedOnlyWhenItsFoldersAreTheUsers()
    {
        QFETCH(QString, layout);
        QFETCH(QString, reason);
        const QString shared = lg::test::freshFolder(QStringLiteral("shared place"));
        const QString planted = shared + "/Trash";
        for (const QString &part : {QStringLiteral("/files"), QStringLiteral("/info")})
            makeFolder(planted + part, 0777);
        makeFolder(planted, 0777);
        const QString dataHome = qEnvironmentVariable("XDG_DATA_HOME");
        const auto restore = qScopeGuard([dataHome] { qputenv("XDG_DATA_HOME", dataHome.toLocal8Bit()); });
        QDir(homeTrash()).removeRecursively();
        if (layout == "data folder") {
            const QString linkedData = lg::test::freshFolder(QStringLiteral("linked data")) + "/share";
            link(shared, linkedData);
            qputenv("XDG_DATA_HOME", linkedData.toLocal8Bit());
        } else {
            link(planted, homeTrash());
        }
        if (layout == "theirs" || layout == "data folder")
            giveAway(planted);
        else if (layout == "their files")
            giveAway(planted + "/files");
        else if (layout == "their info")
            giveAway(planted + "/info");
        const QString item = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("to trash")) + "/IMG_0003.jpg");
        const lg::FileOpResult r = lg::moveToTrash(item);
        if (reason.isEmpty()) {
            QVERIFY2(r.ok(), qPrintable(r.message));
            QCOMPARE(entries(planted + "/files"), QStringList{QStringLiteral("IMG_0003.jpg")});
            return;
        }
        QCOMPARE(r.error, lg::FileOpError::Denied);
        QVERIFY2(r.message.contains(reason) && r.message.endsWith("Nothing was changed."), qPrintable(r.message));
        QCOMPARE(lg::test::readAll(item), QByteArray("x"));
        QCOMPARE(entries(planted + "/files"), QStringList{});
        QCOMPARE(entries(planted + "/info"), QStringList{});
    }

    // The same disk mounted twice: the rename into the home Trash says EXDEV.
    // A folder that cannot be removed whole (a disk mounted inside it) is then
    // not copied into the Trash at all.
    void aRenameRefusedAcrossAMountIsCopiedOnlyWhenTheItemCanGoWhole()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("twice mounted")) + "/Album";
        const QString inner = folder + "/card";
        lg::test::writeFile(folder + "/IMG_0001.jpg", "photo");
        makeFolder(inner);
        if (::mount("lginner", raw(inner).constData(), "tmpfs", 0, "size=1m") != 0)
            QSKIP("tmpfs cannot be mounted here");
        lg::test::writeFile(inner + "/IMG_0002.jpg", "on the card");
        const FaultGuard fault([](lg::FileStep step, const QString &) { return step == lg::FileStep::Rename ? EXDEV : 0; });
        const lg::FileOpResult r = lg::moveToTrash(folder);
        ::umount2(raw(inner).constData(), MNT_DETACH);
        QCOMPARE(r.error, lg::FileOpError::Denied);
        QCOMPARE(entries(homeTrash() + "/files"), QStringList{});
        QCOMPARE(entries(homeTrash() + "/info"), QStringList{});
        QCOMPARE(lg::test::readAll(folder + "/IMG_0001.jpg"), QByteArray("photo"));
    }

    void aCopyToTheHomeTrashGoesOnlyIntoTheFolderChecked()
    {
        const QString autostart = QDir::homePath() + "/.config/autostart";
        makeFolder(autostart);
        const QString files = homeTrash() + "/files";
        const QString item = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("by copy")) + "/IMG_0001.desktop");
        // After the check, the rename finds another disk and files/ becomes a link.
        const FaultGuard fault([&](lg::FileStep step, const QString &) {
            if (step != lg::FileStep::Rename)
                return 0;
            if (!QFileInfo(files).isSymLink()) {
                QDir().rename(files, files + ".checked");
                QFile::link(autostart, files);
            }
            return EXDEV;
        });
        const lg::FileOpResult r = lg::moveToTrash(item);
        QCOMPARE(r.error, lg::FileOpError::Denied);
        QVERIFY2(r.message.endsWith("Nothing was changed."), qPrintable(r.message));
        QVERIFY(QFileInfo::exists(item));
        QCOMPARE(entries(autostart), QStringList{});
        QCOMPARE(entries(homeTrash() + "/info"), QStringList{});
    }

    // ---- Batches ----
    void aBatchStopsBetweenItemsAtQuitOrCancel_data()
    {
        QTest::addColumn<bool>("quit");
        QTest::newRow("quit") << true;
        QTest::newRow("cancel") << false;
    }
    void aBatchStopsBetweenItemsAtQuitOrCancel()
    {
        QFETCH(bool, quit);
        const QString folder = lg::test::freshFolder(QStringLiteral("batch"));
        QStringList paths;
        for (int i = 0; i < 6; ++i)
            paths << lg::test::writeFile(folder + QStringLiteral("/%1.jpg").arg(i));
        std::atomic<bool> cancel{false};
        int renames = 0;
        // The stop comes while the second item is in hand: it still goes.
        const FaultGuard fault([&](lg::FileStep step, const QString &) {
            if (step == lg::FileStep::Rename && ++renames == 2) {
                if (quit)
                    lg::beginShutdown();
                else
                    cancel.store(true);
            }
            return 0;
        });
        const QList<lg::FileOpResult> results = lg::moveAllToTrash(paths, &cancel);
        QCOMPARE(results.size(), paths.size());
        for (int i = 0; i < paths.size(); ++i) {
            QCOMPARE(results[i].source, paths[i]);
            QCOMPARE(results[i].error, i < 2 ? lg::FileOpError::None : lg::FileOpError::Cancelled);
            QCOMPARE(QFileInfo::exists(paths[i]), i >= 2);
        }
        QCOMPARE(entries(homeTrash() + "/files").size(), 2);
        QCOMPARE(entries(homeTrash() + "/info").size(), 2);
    }

    void trashWritesInfoThatParsesBack()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("trash me"));
        const QString first = lg::test::writeFile(folder + QStringLiteral("/100% é.txt"), "one");
        const QString second = lg::test::writeFile(folder + QStringLiteral("/other/100% é.txt"), "two");
        const QDateTime before = QDateTime::currentDateTime().addSecs(-1);
        const lg::FileOpResult a = lg::moveToTrash(first);
        const lg::FileOpResult b = lg::moveToTrash(second);
        QVERIFY2(a.ok() && b.ok(), qPrintable(a.message + b.message));
        const QString trash = qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash");
        QCOMPARE(lg::trashFolderFor(folder), trash);
        QCOMPARE(a.target, trash + QStringLiteral("/files/100% é.txt"));
        QCOMPARE(b.target, trash + QStringLiteral("/files/100% é 2.txt"));
        QCOMPARE(lg::test::readAll(b.target), QByteArray("two"));
        QVERIFY(!QFileInfo::exists(first) && !QFileInfo::exists(second));

        const QString infoPath = trash + QStringLiteral("/info/100% é 2.txt.trashinfo");
        const QByteArray raw = lg::test::readAll(infoPath);
        QVERIFY2(raw.startsWith("[Trash Info]\nPath=/"), raw.constData());
        QVERIFY(raw.contains("100%25%20%C3%A9.txt\n"));
        const std::optional<lg::TrashInfo> info = lg::readTrashInfo(infoPath);
        QVERIFY(info);
        QCOMPARE(info->originalPath, second);
        QVERIFY(info->deletionDate >= before && info->deletionDate <= QDateTime::currentDateTime().addSecs(1));
        QVERIFY(!lg::readTrashInfo(first));
    }

    void trashRefusesTheHomeFolderAndKeepsAFailedItem()
    {
        const lg::FileOpResult home = lg::moveToTrash(QDir::homePath());
        QCOMPARE(home.error, lg::FileOpError::Denied);
        QCOMPARE(lg::moveToTrash(QFileInfo(QDir::homePath()).absolutePath()).error, lg::FileOpError::Denied);
        QVERIFY(QFileInfo(QDir::homePath()).isDir());

        const QString file = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("keep")) + "/k.txt");
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename ? EIO : 0;
        });
        const lg::FileOpResult failed = lg::moveToTrash(file);
        lg::setFileFaultForTesting({});
        QVERIFY(!failed.ok());
        QVERIFY(QFileInfo::exists(file));
        const QString info = lg::trashFolderFor(file) + QStringLiteral("/info/k.txt.trashinfo");
        QVERIFY(!QFileInfo::exists(info));
    }

    void trashOnAnotherMountUsesItsOwnFolder()
    {
        const QString top = lg::test::freshFolder(QStringLiteral("mounted"));
        if (::mount("lgtrash", QFile::encodeName(top).constData(), "tmpfs", 0, "size=2m") != 0)
            QSKIP("tmpfs cannot be mounted here");
        const QString file = lg::test::writeFile(top + QStringLiteral("/sub/m.txt"), "m");
        const lg::FileOpResult r = lg::moveToTrash(file);
        const QString expected = top + QStringLiteral("/.Trash-") + QString::number(::getuid());
        const std::optional<lg::TrashInfo> info = lg::readTrashInfo(expected + QStringLiteral("/info/m.txt.trashinfo"));
        const QByteArray content = lg::test::readAll(expected + QStringLiteral("/files/m.txt"));
        ::umount(QFile::encodeName(top).constData());
        QVERIFY2(r.ok(), qPrintable(r.message));
        QCOMPARE(r.target, expected + QStringLiteral("/files/m.txt"));
        QCOMPARE(content, QByteArray("m"));
        QVERIFY(info);
        QCOMPARE(info->originalPath, file);
    }
};

LG_TEST(TrashTest)
#include "test_trash.moc"
