// The preferences window: its checkboxes and saved settings, the autostart entry
// behind launch at login, and the about tab.
#include "app/AboutPane.h"
#include "app/Essentials.h"
#include "app/LaunchAtLogin.h"
#include "app/preferencesWindowController.h"
#include "tests/browser/BrowserFixtures.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/ItemMenus.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "platform/desktop/Clipboard.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Settings.h"
#include "tests/support/TestSupport.h"

#include <QApplication>
#include <QCheckBox>
#include <QDesktopServices>
#include <QDir>
#include <QDrag>
#include <QFile>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QStandardItemModel>

class UrlCatcher : public QObject
{
    Q_OBJECT
public:
    QList<QUrl> opened;
public Q_SLOTS:
    void open(const QUrl &url) { opened.append(url); }
};

class TestPreferences : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void initTestCase()
    {
        m_version = QCoreApplication::applicationVersion();
        QDesktopServices::setUrlHandler(QStringLiteral("https"), &m_catcher, "open");
    }
    void init()
    {
        resetSharedState();
        QFile::remove(lg::Settings::filePath());
        lg::Settings::reload();
        QDir(lg::Paths::autostart()).removeRecursively();
        m_catcher.opened.clear();
    }
    void cleanupTestCase()
    {
        QDesktopServices::unsetUrlHandler(QStringLiteral("https"));
        QCoreApplication::setApplicationVersion(m_version);
        resetSharedState();
    }

    void installCheckboxFollowsTheSetting_data()
    {
        QTest::addColumn<QVariant>("stored");
        QTest::addColumn<bool>("checked");
        QTest::newRow("0") << QVariant(0) << false;
        QTest::newRow("1") << QVariant(1) << true;
        QTest::newRow("2 keeps the default") << QVariant(2) << true;
        QTest::newRow("absent keeps the default") << QVariant() << true;
    }
    void installCheckboxFollowsTheSetting()
    {
        QFETCH(QVariant, stored);
        QFETCH(bool, checked);
        if (stored.isValid())
            lg::Settings::setValue(QStringLiteral("autocheckforupdate"), stored);
        settingsVc *settings = preferencesWindow()->tabView->settings;
        QCOMPARE(settings->checkbox_installupdate->isChecked(), checked);

        settings->checkbox_installupdate->setChecked(false);
        settings->checkbox_installupdate->click();
        QCOMPARE(lg::Settings::intValue(QStringLiteral("autocheckforupdate")), std::optional<int>(1));
        settings->checkbox_installupdate->click();
        QCOMPARE(lg::Settings::intValue(QStringLiteral("autocheckforupdate")), std::optional<int>(0));
    }

    void launchCheckboxWritesAndRemovesTheEntry()
    {
        lg::Settings::setValue(QStringLiteral("startstatus"), false);
        const QString other = lg::test::writeFile(lg::Paths::autostart() + QStringLiteral("/other.desktop"),
                                                  "[Desktop Entry]\nType=Application\nExec=other\n");
        settingsVc *settings = preferencesWindow()->tabView->settings;
        QVERIFY(!settings->checkbox_launchauto->isChecked());

        settings->checkbox_launchauto->click();
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("startstatus")), std::optional<bool>(true));
        QCOMPARE(LaunchOnStartup::programOfEntry(LaunchOnStartup::entryPath()),
                 std::optional<QString>(QCoreApplication::applicationFilePath()));

        settings->checkbox_launchauto->click();
        QCOMPARE(lg::Settings::boolValue(QStringLiteral("startstatus")), std::optional<bool>(false));
        QVERIFY(!QFile::exists(LaunchOnStartup::entryPath()));
        QVERIFY(QFile::exists(other));
    }

    void autostartEntryIsAddedOnceAndOnlyOursIsRemoved()
    {
        const QUrl app = QUrl::fromLocalFile(QCoreApplication::applicationFilePath());
        setLaunchAtLogin(true, app);
        QFile entry(LaunchOnStartup::entryPath());
        QVERIFY(entry.open(QIODevice::ReadOnly));
        const QByteArray first = entry.readAll();
        entry.close();
        QVERIFY(first.startsWith("[Desktop Entry]\n"));
        QVERIFY(first.contains("\nType=Application\n"));
        setLaunchAtLogin(true, app);
        QCOMPARE(QDir(lg::Paths::autostart()).entryList(QDir::Files | QDir::Hidden).size(), 1);

        // Turning it off twice is harmless.
        setLaunchAtLogin(false, app);
        setLaunchAtLogin(false, app);
        QVERIFY(!QFile::exists(LaunchOnStartup::entryPath()));
    }

    void execValueSurvivesAwkwardPaths_data()
    {
        QTest::addColumn<QString>("program");
        QTest::newRow("plain") << "/usr/bin/lumengallery";
        QTest::newRow("blank") << "/home/a b/Lumen Gallery/lumengallery";
        QTest::newRow("shell characters") << "/tmp/$HOME `x` \"q\" 'a';&|<>*?#()~/lg";
        QTest::newRow("backslash and percent") << "/tmp/back\\slash/100%/%f/lg";
    }
    void execValueSurvivesAwkwardPaths()
    {
        QFETCH(QString, program);
        const QString value = LaunchOnStartup::execValue(program);
        QVERIFY(value.startsWith(QLatin1Char('"')));
        QCOMPARE(LaunchOnStartup::programOfExecValue(value), std::optional<QString>(program));
        // The unquoted form, as other programs write it.
        QCOMPARE(LaunchOnStartup::programOfExecValue(QStringLiteral("/usr/bin/lg %U")),
                 std::optional<QString>(QStringLiteral("/usr/bin/lg")));
    }

private:
    QString m_version;
    UrlCatcher m_catcher;

private Q_SLOTS:
    void escapeAndCtrlWClosePreferences_data()
    {
        QTest::addColumn<int>("key");
        QTest::addColumn<int>("modifiers");
        QTest::newRow("Escape") << int(Qt::Key_Escape) << int(Qt::NoModifier);
        QTest::newRow("Ctrl+W") << int(Qt::Key_W) << int(Qt::ControlModifier);
    }
    void escapeAndCtrlWClosePreferences()
    {
        QFETCH(int, key);
        QFETCH(int, modifiers);
        preferencesWindowController *window = preferencesWindow();
        window->showWindow();
        QVERIFY(QTest::qWaitForWindowActive(window));
        QTest::keyClick(QApplication::focusWidget() ? QApplication::focusWidget() : window, Qt::Key(key),
                        Qt::KeyboardModifiers(modifiers));
        QVERIFY(!window->isVisible());
    }
};

LG_TEST(TestPreferences)
#include "test_preferences.moc"
