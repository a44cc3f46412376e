// A folder's entries by the bytes of their names, and a folder that cannot be read.
#include "platform/files/names/FileNames.h"
#include "platform/files/names/FolderEntries.h"
#include "tests/support/TestSupport.h"

#include <QFile>
#include <QMap>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A file made by the bytes of its path.
bool touch(const QByteArray &path)
{
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    return fd >= 0 && ::close(fd) == 0;
}

struct Seen
{
    unsigned char type = 0;
    ino_t inode = 0;
    bool reachable = false;   // the handle finds the entry by its name
};

} // namespace

class FolderEntriesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // Every entry but "." and "..", hidden ones too, by its exact bytes, with
    // what the listing says of it and a handle that finds it.
    void entriesComeByTheirBytes()
    {
        const QByteArray base = QFile::encodeName(lg::test::freshFolder(QStringLiteral("entries")));
        const QByteArray folder = base + "/caf\xe9";   // not UTF-8 itself
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        QVERIFY(touch(folder + "/plain.jpg"));
        QVERIFY(touch(folder + "/.hidden"));
        QVERIFY(touch(folder + "/bad\xff.jpg"));
        QCOMPARE(::mkdir((folder + "/Sub").constData(), 0700), 0);
        QCOMPARE(::symlink("Sub", (folder + "/link").constData()), 0);
        // The look-alike of the folder's name holds nothing of it.
        QCOMPARE(::mkdir((base + "/caf\xef\xbf\xbd").constData(), 0700), 0);

        QMap<QByteArray, Seen> seen;
        struct stat self {};
        QVERIFY(lg::forEachFolderEntry(lg::FileNames::fromNative(folder), [&](const lg::FolderEntry &entry) {
            struct stat st {};
            seen.insert(entry.name, {entry.type, entry.inode,
                                     ::fstatat(entry.folderFd, entry.name, &st, AT_SYMLINK_NOFOLLOW) == 0
                                         && st.st_ino == entry.inode});
        }, &self));
        QCOMPARE(seen.keys(), (QList<QByteArray>{".hidden", "Sub", "bad\xff.jpg", "link", "plain.jpg"}));
        for (auto it = seen.cbegin(); it != seen.cend(); ++it) {
            QVERIFY2(it->reachable, it.key().constData());
            struct stat st {};
            QCOMPARE(::lstat((folder + '/' + it.key()).constData(), &st), 0);
            QCOMPARE(it->inode, st.st_ino);
            // The type is the listing's, or unknown where the file system keeps none.
            const unsigned char type = S_ISDIR(st.st_mode) ? DT_DIR : S_ISLNK(st.st_mode) ? DT_LNK : DT_REG;
            QVERIFY2(it->type == type || it->type == DT_UNKNOWN, it.key().constData());
        }
        struct stat folderStat {};
        QCOMPARE(::stat(folder.constData(), &folderStat), 0);
        QCOMPARE(self.st_ino, folderStat.st_ino);
        QCOMPARE(self.st_dev, folderStat.st_dev);
    }

    void aFolderIsReachedByItsPath_data()
    {
        QTest::addColumn<QByteArray>("path");   // within a fresh folder holding a.jpg, Sub/ and link -> Sub
        QTest::addColumn<bool>("read");
        QTest::addColumn<int>("entries");
        QTest::newRow("the folder") << QByteArray(".") << true << 3;
        QTest::newRow("a link to a folder") << QByteArray("link") << true << 1;
        QTest::newRow("an empty folder") << QByteArray("Sub/Empty") << true << 0;
        QTest::newRow("gone") << QByteArray("Gone") << false << 0;
        QTest::newRow("a file") << QByteArray("a.jpg") << false << 0;
        QTest::newRow("a look-alike of a name that is not UTF-8") << QByteArray("Sub/caf\xef\xbf\xbd") << false << 0;
    }
    void aFolderIsReachedByItsPath()
    {
        QFETCH(QByteArray, path);
        QFETCH(bool, read);
        QFETCH(int, entries);
        const QByteArray base = QFile::encodeName(lg::test::freshFolder(QStringLiteral("reached")));
        QVERIFY(touch(base + "/a.jpg"));
        QCOMPARE(::mkdir((base + "/Sub").constData(), 0700), 0);
        QCOMPARE(::mkdir((base + "/Sub/Empty").constData(), 0700), 0);
        QCOMPARE(::mkdir((base + "/Sub/caf\xe9").constData(), 0700), 0);
        QCOMPARE(::symlink("Sub/Empty", (base + "/link").constData()), 0);
        QCOMPARE(::mkdir((base + "/Sub/Empty/inside").constData(), 0700), 0);
        if (path == "Sub/Empty")
            QCOMPARE(::rmdir((base + "/Sub/Empty/inside").constData()), 0);

        int count = 0;
        struct stat self {};
        QCOMPARE(lg::forEachFolderEntry(lg::FileNames::fromNative(base + '/' + path),
                                        [&](const lg::FolderEntry &) { ++count; }, &self),
                 read);
        QCOMPARE(count, entries);
    }
};

LG_TEST(FolderEntriesTest)
#include "test_folderentries.moc"
