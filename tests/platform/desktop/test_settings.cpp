// Saved settings: types through the file, following HOME and XDG_CONFIG_HOME,
// damaged and removed files; and the deployment addresses built on them.
#include "platform/desktop/DeploymentConfig.h"
#include "platform/desktop/Settings.h"
#include "platform/files/names/FileNames.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QJsonDocument>
#include <QJsonObject>

#include <sys/stat.h>

namespace {

QStringList warnings;
QtMessageHandler previousHandler = nullptr;

void collectWarnings(QtMsgType type, const QMessageLogContext &context, const QString &message)
{
    if (type == QtWarningMsg)
        warnings.append(message);
    previousHandler(type, context, message);
}

ino_t inodeOf(const QString &path)
{
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 ? st.st_ino : 0;
}
using lg::test::readAll;

} // namespace

class SettingsTest : public QObject
{
    Q_OBJECT
    QByteArray m_home;
    QByteArray m_configHome;

private Q_SLOTS:
    void init()
    {
        m_home = qgetenv("HOME");
        m_configHome = qgetenv("XDG_CONFIG_HOME");
        QFile::remove(lg::Settings::filePath());
        lg::Settings::reload();
        warnings.clear();
        previousHandler = qInstallMessageHandler(collectWarnings);
    }

    void cleanup()
    {
        qInstallMessageHandler(previousHandler);
        qputenv("HOME", m_home);
        qputenv("XDG_CONFIG_HOME", m_configHome);
        QFile::remove(lg::Settings::filePath());
        lg::Settings::reload();
    }

    void typesSurviveTheFile()
    {
        const QList<std::pair<QString, QVariant>> values{
            {QStringLiteral("count"), 42},
            {QStringLiteral("negative"), -7},
            {QStringLiteral("big"), qint64(1) << 40},
            {QStringLiteral("on"), true},
            {QStringLiteral("off"), false},
            {QStringLiteral("name"), QStringLiteral("Trip")},
            {QStringLiteral("numberText"), QStringLiteral("42")},
            {QStringLiteral("arrPaths"), QStringList{QStringLiteral("/a"), QStringLiteral("/b c")}},
            {QStringLiteral("none"), QStringList()},
            {QStringLiteral("ratio"), 2.5},
            {QStringLiteral("group/inner"), 3},
            {QStringLiteral("geometry"), QByteArray("\x00\x01geometry\xff", 12)},
        };
        for (const auto &[key, value] : values)
            lg::Settings::setValue(key, value);
        lg::Settings::sync();

        // The file holds JSON types, not strings.
        const QJsonObject json = QJsonDocument::fromJson(readAll(lg::Settings::filePath())).object();
        QVERIFY(json.value(QStringLiteral("count")).isDouble());
        QVERIFY(json.value(QStringLiteral("on")).isBool());
        QVERIFY(json.value(QStringLiteral("numberText")).isString());
        QVERIFY(json.value(QStringLiteral("arrPaths")).isArray());

        // Another settings folder holding a copy of the file: read from disk anew.
        const QString elsewhere = lg::test::freshFolder(QStringLiteral("config"));
        QVERIFY(QDir().mkpath(elsewhere + QStringLiteral("/lumengallery")));
        QVERIFY(QFile::copy(lg::Settings::filePath(), elsewhere + QStringLiteral("/lumengallery/lumengallery.json")));
        qputenv("XDG_CONFIG_HOME", QFile::encodeName(elsewhere));
        lg::Settings::reload();
        QCOMPARE(lg::Settings::filePath(), elsewhere + QStringLiteral("/lumengallery/lumengallery.json"));
        for (const auto &[key, value] : values) {
            const QVariant read = lg::Settings::value(key);
            if (value.typeId() != QMetaType::QByteArray)
                QVERIFY2(read.typeId() == value.typeId(), qPrintable(key));
            QVERIFY2(read == value || read.toByteArray() == value.toByteArray(), qPrintable(key));
        }
        QCOMPARE(lg::Settings::stringListValue(QStringLiteral("none")), QStringList());
    }

    void typedReadsRefuseOtherTypes()
    {
        lg::Settings::setValue(QStringLiteral("count"), 1);
        lg::Settings::setValue(QStringLiteral("flag"), true);
        lg::Settings::setValue(QStringLiteral("text"), QStringLiteral("1"));
        lg::Settings::setValue(QStringLiteral("ratio"), 1.5);
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("count")), std::nullopt);
        QCOMPARE(lg::Settings::stringValue(QStringLiteral("count")), std::nullopt);
        QCOMPARE(lg::Settings::intValue(QStringLiteral("flag")), std::nullopt);
        QCOMPARE(lg::Settings::intValue(QStringLiteral("text")), std::nullopt);
        QCOMPARE(lg::Settings::intValue(QStringLiteral("ratio")), std::nullopt);
        QCOMPARE(lg::Settings::stringListValue(QStringLiteral("text")), std::nullopt);
        QCOMPARE(lg::Settings::intValue(QStringLiteral("absent")), std::nullopt);
        QVERIFY(!lg::Settings::value(QStringLiteral("absent")).isValid());
        // A whole number is an Int whichever way it was written.
        lg::Settings::setValue(QStringLiteral("whole"), 3.0);
        QCOMPARE(lg::Settings::intValue(QStringLiteral("whole")), 3);
    }

    void writesReplaceTheFileWhole()
    {
        lg::Settings::setValue(QStringLiteral("a"), 1);
        const QString path = lg::Settings::filePath();
        const ino_t before = inodeOf(path);
        QVERIFY(before != 0);
        lg::Settings::setValue(QStringLiteral("b"), 2);
        // A new file renamed over the old one, never the old one rewritten in place.
        QVERIFY(inodeOf(path) != before);
        QCOMPARE(QDir(QFileInfo(path).absolutePath()).entryList(QDir::Files), QStringList{QStringLiteral("lumengallery.json")});
    }

    void followsHomeAfterReload()
    {
        lg::Settings::setValue(QStringLiteral("startstatus"), false);
        const QString otherHome = lg::test::freshFolder(QStringLiteral("home"));
        qputenv("HOME", QFile::encodeName(otherHome));
        qunsetenv("XDG_CONFIG_HOME");
        lg::Settings::reload();
        QCOMPARE(lg::Settings::filePath(), otherHome + QStringLiteral("/.config/lumengallery/lumengallery.json"));
        QVERIFY(!lg::Settings::contains(QStringLiteral("startstatus")));
        lg::Settings::setValue(QStringLiteral("startstatus"), true);
        QVERIFY(QFile::exists(lg::Settings::filePath()));
    }

    void removedFileReadsAsEmpty()
    {
        lg::Settings::setValue(QStringLiteral("lastVersion"), 3);
        QVERIFY(QFile::remove(lg::Settings::filePath()));
        lg::Settings::reload();
        QVERIFY(!lg::Settings::contains(QStringLiteral("lastVersion")));
    }

    void damagedFileReadsAsEmptyAndIsKept()
    {
        const QByteArray damaged("{\"Firstrun\": true, \"arrPaths\": [\"/a\"");
        lg::test::writeFile(lg::Settings::filePath(), damaged);
        lg::Settings::reload();
        QVERIFY(!lg::Settings::contains(QStringLiteral("Firstrun")));
        QCOMPARE(lg::Settings::value(QStringLiteral("arrPaths")), QVariant());
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("Firstrun")), std::nullopt);
        QCOMPARE(warnings.size(), 1);
        QVERIFY(warnings.first().contains(QStringLiteral("unreadable")));

        // The next write starts a valid file; the damaged one is kept beside it.
        lg::Settings::setValue(QStringLiteral("startstatus"), true);
        QCOMPARE(readAll(lg::Settings::filePath() + QStringLiteral(".corrupt")), damaged);
        lg::Settings::reload();
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("startstatus")), true);

        // Valid JSON that is not an object is damaged too.
        lg::test::writeFile(lg::Settings::filePath(), "[1, 2, 3]");
        lg::Settings::reload();
        QVERIFY(!lg::Settings::contains(QStringLiteral("0")));
        QCOMPARE(warnings.size(), 2);
        QFile::remove(lg::Settings::filePath() + QStringLiteral(".corrupt"));
    }

    void deploymentAddressesComeFromTheResource()
    {
        QFile resource(QStringLiteral(":/config/deployment.json"));
        QVERIFY(resource.open(QIODevice::ReadOnly));
        const QJsonObject json = QJsonDocument::fromJson(resource.readAll()).object();
        for (const QString &key : lg::DeploymentConfig::keys()) {
            QVERIFY2(json.contains(key), qPrintable(key));
            QCOMPARE(lg::DeploymentConfig::value(key), json.value(key).toString());
        }
        QCOMPARE(lg::DeploymentConfig::keys().size(), json.size());
    }

    void deploymentAddressesAreOverriddenBySettings()
    {
        const QString key = QStringLiteral("updateFeed");
        const QString resourceValue = lg::DeploymentConfig::value(key);
        lg::Settings::setValue(QStringLiteral("deployment/updateFeed"), QStringLiteral("http://127.0.0.1:8123/appcast.xml"));
        QCOMPARE(lg::DeploymentConfig::value(key), QStringLiteral("http://127.0.0.1:8123/appcast.xml"));
        // An empty override means "do not send", whatever the resource says.
        lg::Settings::setValue(QStringLiteral("deployment/updateFeed"), QString());
        QCOMPARE(lg::DeploymentConfig::value(key), QString());
        lg::Settings::remove(QStringLiteral("deployment/updateFeed"));
        QCOMPARE(lg::DeploymentConfig::value(key), resourceValue);

        QCOMPARE(lg::DeploymentConfig::value(QStringLiteral("noSuchAddress")), QString());
        QCOMPARE(lg::DeploymentConfig::value(QStringLiteral("noSuchAddress")), QString());
        QCOMPARE(warnings.size(), 1);
    }

    // A path saved in the settings file (JSON, which escapes a carried byte)
    // comes back with its bytes.
    void aStoredPathComesBackByItsBytes_data()
    {
        QTest::addColumn<QByteArray>("bytes");
        QTest::newRow("text") << QByteArray("/p/caf\xc3\xa9");
        QTest::newRow("Latin-1") << QByteArray("/p/caf\xe9");
        QTest::newRow("the look-alike") << QByteArray("/p/caf\xef\xbf\xbd");
    }
    void aStoredPathComesBackByItsBytes()
    {
        QFETCH(QByteArray, bytes);
        const QString path = lg::FileNames::fromNative(bytes);
        const QString key = QStringLiteral("tests/storedPath");
        lg::Settings::setValue(key, QStringList{path});
        const QStringList read = lg::Settings::stringListValue(key).value_or(QStringList());
        QCOMPARE(read.size(), 1);
        QCOMPARE(lg::FileNames::toNative(read.first()), bytes);
    }
};

LG_TEST(SettingsTest)
#include "test_settings.moc"
