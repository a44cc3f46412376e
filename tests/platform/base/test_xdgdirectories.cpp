// The XDG base directories: one rule for every layer that asks.
#include "platform/base/XdgDirectories.h"
#include "tests/support/ScopedVariable.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFileInfo>

#include <functional>

Q_DECLARE_METATYPE(lg::XdgKind)

using lg::test::ScopedVariable;

class XdgDirectoriesTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    // A relative value would name another folder from every current folder, so
    // the rule ignores it like an empty one (the callers that build on it:
    // tests/platform/desktop/test_paths.cpp).
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
};

LG_TEST(XdgDirectoriesTest)
#include "test_xdgdirectories.moc"
