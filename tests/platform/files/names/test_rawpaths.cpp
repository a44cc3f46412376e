// Paths by their bytes inside the file layer: the folder that holds a path
// (one rule for every caller), a folder and a name joined, and whether a path
// lies inside a folder (the journal's mounts, a copy's unfinished entries).
#include "platform/files/names/RawPaths.h"
#include "tests/support/TestSupport.h"

class RawPathsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void folderOfIsTheFolderThatHoldsThePath_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("folder");
        QTest::newRow("an item in a folder") << QByteArray("/a/b/c.jpg") << QByteArray("/a/b");
        QTest::newRow("an item at the top") << QByteArray("/c.jpg") << QByteArray("/");
        QTest::newRow("the root") << QByteArray("/") << QByteArray("/");
        QTest::newRow("a bare name") << QByteArray("c.jpg") << QByteArray(".");
        QTest::newRow("a relative path") << QByteArray("a/c.jpg") << QByteArray("a");
        QTest::newRow("a name that is not UTF-8") << QByteArray("/a/\xff/b") << QByteArray("/a/\xff");
    }

    void folderOfIsTheFolderThatHoldsThePath()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, folder);
        QCOMPARE(lg::folderOf(path), folder);
    }

    void joinRawPutsOneSeparator_data()
    {
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<QByteArray>("joined");
        QTest::newRow("a folder") << QByteArray("/a") << QByteArray("/a/n");
        QTest::newRow("a folder with its separator") << QByteArray("/a/") << QByteArray("/a/n");
        QTest::newRow("the root") << QByteArray("/") << QByteArray("/n");
    }

    void joinRawPutsOneSeparator()
    {
        QFETCH(QByteArray, folder);
        QFETCH(QByteArray, joined);
        QCOMPARE(lg::joinRaw(folder, "n"), joined);
    }

    void isAtOrUnderGoesByWholeComponents_data()
    {
        QTest::addColumn<QByteArray>("path");
        QTest::addColumn<QByteArray>("folder");
        QTest::addColumn<bool>("inside");
        QTest::newRow("the folder itself") << QByteArray("/media/card") << QByteArray("/media/card") << true;
        QTest::newRow("an item in it") << QByteArray("/media/card/DCIM/a.jpg") << QByteArray("/media/card") << true;
        QTest::newRow("a folder whose name goes on") << QByteArray("/media/card2/a.jpg") << QByteArray("/media/card") << false;
        QTest::newRow("Trip 2 is not inside Trip") << QByteArray("/p/Trip 2") << QByteArray("/p/Trip") << false;
        QTest::newRow("the folder above") << QByteArray("/media") << QByteArray("/media/card") << false;
        QTest::newRow("the root holds all") << QByteArray("/media/card") << QByteArray("/") << true;
        QTest::newRow("by the bytes") << QByteArray("/a/\xff/b") << QByteArray("/a/\xff") << true;
        QTest::newRow("a look-alike is another name") << QByteArray("/a/\xef\xbf\xbd/b") << QByteArray("/a/\xff") << false;
        QTest::newRow("nothing is cleaned") << QByteArray("/a/b/../c") << QByteArray("/a/c") << false;
    }

    void isAtOrUnderGoesByWholeComponents()
    {
        QFETCH(QByteArray, path);
        QFETCH(QByteArray, folder);
        QFETCH(bool, inside);
        QCOMPARE(lg::isAtOrUnder(path, folder), inside);
    }
};

LG_TEST(RawPathsTest)
#include "test_rawpaths.moc"
