// Well-known folders and whether a path is inside the home folder.
#include "platform/desktop/Paths.h"
#include "platform/image/ThumbnailStore.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

class PathsTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void insideHome()
    {
        const QString home = lg::Paths::home();
        QCOMPARE(home, QFileInfo(QDir::homePath()).canonicalFilePath());
        QVERIFY(lg::Paths::isInsideHome(home));
        QVERIFY(lg::Paths::isInsideHome(home + QStringLiteral("/Pictures/a.jpg")));
        QVERIFY(!lg::Paths::isInsideHome(home + QStringLiteral("2/a.jpg")));
        QVERIFY(!lg::Paths::isInsideHome(QStringLiteral("/")));

        // A link to the home folder from outside leads inside it.
        const QString link = QDir::tempPath() + QStringLiteral("/lg-home-link-") + QString::number(QCoreApplication::applicationPid());
        QVERIFY(QFile::link(home, link));
        const bool viaLink = lg::Paths::isInsideHome(link + QStringLiteral("/Pictures"));
        QFile::remove(link);
        QVERIFY(viaLink);
    }

    void applicationFoldersFollowXdgAndAreMade()
    {
        const QString home = lg::Paths::home();
        QCOMPARE(lg::Paths::config(), home + QStringLiteral("/.config/lumengallery"));
        QCOMPARE(lg::Paths::autostart(), home + QStringLiteral("/.config/autostart"));
        QCOMPARE(lg::Paths::pictures(), home + QStringLiteral("/Pictures"));
        QCOMPARE(lg::Paths::defaultPhotosLibrary(), home + QStringLiteral("/Pictures/Photos Library.photoslibrary"));

        QVERIFY(!QFileInfo::exists(home + QStringLiteral("/.cache/lumengallery")));
        QCOMPARE(lg::Paths::cache(), home + QStringLiteral("/.cache/lumengallery"));
        QVERIFY(QFileInfo(lg::Paths::cache()).isDir());
        QCOMPARE(lg::Paths::appData(), home + QStringLiteral("/.local/share/lumengallery"));
        QVERIFY(QFileInfo(lg::Paths::appData()).isDir());
    }

    void dataHomeIsMadeWhenMissing()
    {
        // QFile::moveToTrash needs it to exist.
        const QByteArray saved = qgetenv("XDG_DATA_HOME");
        const QString missing = lg::test::homeFolder() + QStringLiteral("/fresh-data/share");
        qputenv("XDG_DATA_HOME", QFile::encodeName(missing));
        QCOMPARE(lg::Paths::dataHome(), missing);
        QVERIFY(QFileInfo(missing).isDir());
        qputenv("XDG_DATA_HOME", saved);
    }

    // The program's own folders and the thumbnail cache follow the XDG rule:
    // a relative value counts as none.
    void theProgramsFoldersIgnoreARelativeValue()
    {
        const QString home = lg::Paths::home();
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(lg::test::freshFolder(QStringLiteral("current"))));
        {
            lg::test::ScopedVariable data("XDG_DATA_HOME", "share");
            lg::test::ScopedVariable config("XDG_CONFIG_HOME", "config");
            lg::test::ScopedVariable cache("XDG_CACHE_HOME", "cache");
            QCOMPARE(lg::Paths::dataHome(), home + QStringLiteral("/.local/share"));
            QCOMPARE(lg::Paths::appData(), home + QStringLiteral("/.local/share/lumengallery"));
            QCOMPARE(lg::Paths::config(), home + QStringLiteral("/.config/lumengallery"));
            QCOMPARE(lg::Paths::autostart(), home + QStringLiteral("/.config/autostart"));
            QCOMPARE(lg::Paths::cache(), home + QStringLiteral("/.cache/lumengallery"));
            QCOMPARE(lg::ThumbnailStore::defaultRoot(), home + QStringLiteral("/.cache/thumbnails"));
        }
        QVERIFY(QDir::setCurrent(previous));
        QVERIFY(!QFileInfo::exists(lg::test::homeFolder() + QStringLiteral("/current/share")));
    }
};

LG_TEST(PathsTest)
#include "test_paths.moc"
