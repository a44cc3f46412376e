// The one main() of every test program: a private HOME and XDG folders, the
// offscreen platform unless one is given, then the registered test classes.
// Built with LG_TEST_WIDGETS it makes a QApplication, else a QGuiApplication;
// with LG_MODULE_BUILD_DIR it finds the codec modules there and decodes in the
// test's own process (lg::image::setDecodesInThisProcess) unless a test asks.
#include "tests/support/TestSupport.h"

#ifdef LG_MODULE_BUILD_DIR
#include "platform/image/DecodeWorkers.h"
#include "platform/modules/Modules.h"
#endif

#ifdef LG_TEST_WIDGETS
#include <QApplication>
using TestApplication = QApplication;
#else
#include <QGuiApplication>
using TestApplication = QGuiApplication;
#endif
#include <QDir>
#include <QTemporaryDir>
#include <QtTest>

#include <cstdlib>
#include <memory>
#include <utility>
#include <vector>

namespace {
std::vector<std::pair<const char *, lg::test::TestFactory>> &registry()
{
    static std::vector<std::pair<const char *, lg::test::TestFactory>> tests;
    return tests;
}
}

int lg::test::registerTest(const char *name, TestFactory factory)
{
    registry().emplace_back(name, std::move(factory));
    return int(registry().size());
}

int main(int argc, char **argv)
{
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/lumengallery-test-XXXXXX"));
    if (!home.isValid())
        return 2;
    const QByteArray root = QDir(home.path()).canonicalPath().toLocal8Bit();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    setenv("XDG_STATE_HOME", (root + "/.local/state").constData(), 1);
    setenv("XDG_RUNTIME_DIR", (root + "/.runtime").constData(), 1);
    unsetenv("XDG_CONFIG_DIRS");
    for (const char *sub : {"/.config", "/.cache", "/.local/share", "/.local/state", "/Pictures"})
        QDir().mkpath(QString::fromLocal8Bit(root + sub));
    QDir().mkpath(QString::fromLocal8Bit(root + "/.runtime"));
    QFile::setPermissions(QString::fromLocal8Bit(root + "/.runtime"),
                          QFileDevice::ReadOwner | QFileDevice::WriteOwner | QFileDevice::ExeOwner);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);

#ifdef LG_MODULE_BUILD_DIR
    // The codec modules are built beside the program, not beside the tests.
    lg::image::addModuleFolder(QStringLiteral(LG_MODULE_BUILD_DIR));
    // Decodes run here unless a test asks for the workers (their own tests,
    // and those that make thumbnails through them end to end).
    lg::image::setDecodesInThisProcess(true);
#endif

    TestApplication app(argc, argv);
    TestApplication::setApplicationName(QStringLiteral("lumengallery"));
    TestApplication::setOrganizationName(QString());

    int failures = 0;
    for (auto &[name, factory] : registry()) {
        std::unique_ptr<QObject> test(factory());
        failures += QTest::qExec(test.get(), argc, argv);
    }
    return failures == 0 ? 0 : 1;
}
