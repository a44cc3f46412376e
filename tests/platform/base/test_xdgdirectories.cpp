// The XDG base directories: one rule for every layer that asks.
#include "platform/base/XdgDirectories.h"
#include "platform/desktop/Paths.h"
#include "platform/image/ThumbnailStore.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

Q_DECLARE_METATYPE(lg::XdgKind)

namespace {

// Sets a variable for the life of the object and puts the old value back.
class ScopedVariable
{
public:
    ScopedVariable(const char *name, const QByteArray &value) : m_name(name), m_saved(qgetenv(name)), m_was(qEnvironmentVariableIsSet(name))
    {
        qputenv(name, value);
    }
    ~ScopedVariable()
    {
        if (m_was)
            qputenv(m_name, m_saved);
        else
            qunsetenv(m_name);
    }

private:
    const char *m_name;
    QByteArray m_saved;
    bool m_was;
};

} // namespace

class XdgDirectoriesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A relative value would name another folder from every current folder, so
    // the rule ignores it like an empty one; the callers that build on the
    // rule (the program's own folders, the thumbnail cache) follow it.
    void onlyAnAbsoluteValueCounts_data()
    {
        QTest::addColumn<lg::XdgKind>("kind");
        QTest::addColumn<QByteArray>("variable");
        QTest::addColumn<QString>("fallback");
        QTest::newRow("data") << lg::XdgKind::Data << QByteArray("XDG_DATA_HOME") << QStringLiteral("/.local/share");
        QTest::newRow("config") << lg::XdgKind::Config << QByteArray("XDG_CONFIG_HOME") << QStringLiteral("/.config");
        QTest::newRow("cache") << lg::XdgKind::Cache << QByteArray("XDG_CACHE_HOME") << QStringLiteral("/.cache");
        QTest::newRow("state") << lg::XdgKind::State << QByteArray("XDG_STATE_HOME") << QStringLiteral("/.local/state");
    }

    void onlyAnAbsoluteValueCounts()
    {
        QFETCH(lg::XdgKind, kind);
        QFETCH(QByteArray, variable);
        QFETCH(QString, fallback);
        const QString home = QDir::cleanPath(QDir::homePath());
        const QString absolute = lg::test::freshFolder(QStringLiteral("xdg-") + QString::fromLatin1(variable));
        {
            ScopedVariable set(variable.constData(), QFile::encodeName(absolute) + "/");
            QCOMPARE(lg::xdgBaseDirectory(kind), absolute);
        }
        for (const QByteArray &ignored : {QByteArray("relative/folder"), QByteArray("./here"), QByteArray()}) {
            ScopedVariable set(variable.constData(), ignored);
            QCOMPARE(lg::xdgBaseDirectory(kind), home + fallback);
        }
    }

    void theProgramsFoldersIgnoreARelativeValue()
    {
        const QString home = lg::Paths::home();
        const QString previous = QDir::currentPath();
        QVERIFY(QDir::setCurrent(lg::test::freshFolder(QStringLiteral("current"))));
        {
            ScopedVariable data("XDG_DATA_HOME", "share");
            ScopedVariable config("XDG_CONFIG_HOME", "config");
            ScopedVariable cache("XDG_CACHE_HOME", "cache");
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

LG_TEST(XdgDirectoriesTest)
#include "test_xdgdirectories.moc"
