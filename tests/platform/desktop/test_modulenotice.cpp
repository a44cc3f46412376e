// The window's notice about codec modules that cannot be used: once, every
// kind refused at once in one alert, and a problem found while that alert is
// open said after it, in an alert of its own.
#include "platform/desktop/Alert.h"
#include "platform/desktop/ModuleNotice.h"
#include "platform/image/ImageSource.h"
#include "platform/modules/Modules.h"
#include "platform/runtime/Background.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QtTest>

using namespace lg::test;
using namespace lg::test::fixtures;
using lg::image::Module;

namespace {

const QString realModules = QStringLiteral(LG_REAL_MODULES);

QString stubModule(const char *variant)
{
    return QStringLiteral(LG_STUB_MODULES "/%1/lumengallery_heif.so").arg(QLatin1String(variant));
}

bool copyFile(const QString &from, const QString &to)
{
    QFile::remove(to);
    return QFile::copy(from, to) && QFile::setPermissions(to, QFile::Permissions(0x7755));
}

} // namespace

class ModuleNoticeTest : public QObject
{
    Q_OBJECT

private:
    QString m_dng;

private Q_SLOTS:
    void initTestCase()
    {
        m_dng = writeModuleDng(freshFolder(QStringLiteral("modules")));
    }

    // The window says once which files cannot be shown, and why: every kind
    // refused at once in one alert that names each, however many modules are
    // asked for, in whatever order and on whatever threads.
    void theWindowSaysOnceWhatCannotBeShown_data()
    {
        QTest::addColumn<QStringList>("present");   // module files in the folder
        QTest::addColumn<QString>("title");
        QTest::addColumn<QString>("text");
        QStringList allButRaw;
        for (Module module : {Module::Heif, Module::Magick, Module::Video, Module::Player})
            allButRaw << lg::image::moduleFileName(module);
        QTest::newRow("one kind") << allButRaw << QStringLiteral("Camera raw pictures cannot be shown")
                                  << QStringLiteral("The camera raw module of this version is missing. Reinstalling Lumen Gallery may help.");
        QTest::newRow("every kind")
            << QStringList() << QStringLiteral("Some kinds of files cannot be shown")
            << QStringLiteral("HEIC and AVIF pictures cannot be shown. The HEIC module of this version is missing.\n\n"
                              "Camera raw pictures cannot be shown. The camera raw module of this version is missing.\n\n"
                              "PSD, JPEG 2000, HDR and other less common pictures cannot be shown. The ImageMagick module "
                              "of this version is missing.\n\n"
                              "Videos cannot be shown. The video module of this version is missing.\n\n"
                              "Videos cannot be played. The video player module of this version is missing.\n\n"
                              "Reinstalling Lumen Gallery may help.");
    }

    void theWindowSaysOnceWhatCannotBeShown()
    {
        QFETCH(QStringList, present);
        QFETCH(QString, title);
        QFETCH(QString, text);
        const QString folder = freshFolder(QStringLiteral("some-modules"));
        for (const QString &name : std::as_const(present))
            QVERIFY(copyFile(realModules + QLatin1Char('/') + name, folder + QLatin1Char('/') + name));
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
        QWidget window;
        lg::showModuleProblemsIn(&window);
        lg::image::setModuleFoldersForTesting({folder});
        const auto restore = qScopeGuard([] {
            lg::image::setModuleProblemHandler({});
            lg::image::setModuleFoldersForTesting({});
            lg::Alert::setResponder({});
        });

        QVERIFY(!lg::ImageSource(m_dng).image());
        QVERIFY(!lg::ImageSource(m_dng).thumbnail(20));
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec said = lg::Alert::shownAlerts().constFirst();
        QCOMPARE(said.title, title);
        QCOMPARE(said.text, text);

        // Asked again, for the other kinds, and from other threads: nothing more is said.
        QVERIFY(!lg::ImageSource(m_dng).image());
        lg::forEachChunk(4, 1, [this](qsizetype, qsizetype) { lg::ImageSource(m_dng).thumbnail(20); });
        lg::image::heifModule();
        lg::image::preloadModule(Module::Video);
        lg::image::preloadModule(Module::Player);
        lg::image::magickModule();
        QTRY_VERIFY(lg::image::moduleLoaded(Module::Player) || !lg::image::moduleError(Module::Player).isEmpty());
        QTRY_VERIFY(lg::image::moduleLoaded(Module::Video) || !lg::image::moduleError(Module::Video).isEmpty());
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
    }

    // A module refused while the alert about others is open is said once that
    // alert is gone, answered or closed without an answer (a reset), in an
    // alert of its own, never stacked on it.
    void aProblemFoundWhileTheAlertIsOpenWaitsForIt_data()
    {
        QTest::addColumn<bool>("answered");
        QTest::newRow("answered") << true;
        QTest::newRow("closed without an answer") << false;
    }

    void aProblemFoundWhileTheAlertIsOpenWaitsForIt()
    {
        QFETCH(bool, answered);
        // The HEIC module needs a symbol nobody has: it passes every check and
        // fails only when it is loaded, after the other modules were refused.
        const QString folder = freshFolder(QStringLiteral("late-problem"));
        QVERIFY(copyFile(stubModule("missingsymbol"), folder + QStringLiteral("/lumengallery_heif.so")));
        lg::image::acceptModuleForTesting(QStringLiteral("lumengallery_heif.so"), readAll(stubModule("missingsymbol")));
        lg::Alert::setResponder({});
        QWidget window;
        window.show();
        lg::showModuleProblemsIn(&window);
        lg::image::setModuleFoldersForTesting({folder});
        const auto restore = qScopeGuard([] {
            lg::image::setModuleProblemHandler({});
            lg::image::setModuleFoldersForTesting({});
            lg::Alert::closeAll();
        });
        const auto openAlerts = [] {
            QList<QMessageBox *> boxes;
            for (QWidget *widget : QApplication::topLevelWidgets())
                if (auto *box = qobject_cast<QMessageBox *>(widget); box && box->isVisible())
                    boxes << box;
            return boxes;
        };

        QVERIFY(!lg::ImageSource(m_dng).image());
        QTRY_COMPARE(openAlerts().size(), 1);
        QCOMPARE(openAlerts().constFirst()->text(), QStringLiteral("Some kinds of files cannot be shown"));
        QVERIFY(!lg::image::heifModule());
        QVERIFY(lg::image::moduleError(Module::Heif).contains(QLatin1String("lumengallery_function_nobody_defines")));
        QCoreApplication::processEvents();
        QCoreApplication::processEvents();
        QCOMPARE(openAlerts().size(), 1);

        if (answered)
            openAlerts().constFirst()->buttons().constFirst()->click();
        else
            lg::Alert::closeAll();
        QTRY_COMPARE(openAlerts().size(), 1);
        QCOMPARE(openAlerts().constFirst()->text(), QStringLiteral("HEIC and AVIF pictures cannot be shown"));
        QTRY_COMPARE(lg::Alert::openCount(), 1);
    }
};

LG_TEST(ModuleNoticeTest)
#include "test_modulenotice.moc"
