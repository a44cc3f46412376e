// Paths by their bytes inside the file layer: the folder that holds a path
// (one rule for every caller), and a folder and a name joined.
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
};

LG_TEST(RawPathsTest)
#include "test_rawpaths.moc"
