// The loader: a module is read through the handle held since start, so an
// update while the program runs changes nothing it loads, and a module's load
// holds only that module.
#include "platform/modules/Modules.h"
#include "platform/runtime/Background.h"
#include "tests/platform/modules/ModulesTesting.h"

#include <QSemaphore>
#include <QtTest>

using namespace modulestest;
using lg::image::Module;

class ModulesTest : public QObject
{
    Q_OBJECT

private:
    QString m_folder;
    QString m_heic;

private Q_SLOTS:
    void initTestCase()
    {
        // The build's own modules, for the loads made in this process.
        lg::image::addModuleFolder(realModules);
        m_folder = freshFolder(QStringLiteral("modules"));
        m_heic = writeModuleHeic(m_folder);
    }

    // A package manager renames the new program and modules over the old ones
    // while the program runs, from a terminal in a card's folder that holds a
    // planted module, as does that folder's ../lib/lumengallery.
    void anUpdateWhileRunningChangesNoModuleLoaded()
    {
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        const QString root = freshFolder(QStringLiteral("update"));
        const QString program = installHelper(root, realModules + QStringLiteral("/lumengallery_heif.so"));
        QVERIFY(!program.isEmpty());
        const QString card = QDir(root).filePath(QStringLiteral("card"));
        QVERIFY(makeFolder(card + QStringLiteral("/DCIM")) && makeFolder(card + QStringLiteral("/lib/lumengallery")));
        QVERIFY(copyFile(stubModule("good"), card + QStringLiteral("/DCIM/lumengallery_heif.so")));
        QVERIFY(copyFile(stubModule("good"), card + QStringLiteral("/lib/lumengallery/lumengallery_heif.so")));
        Helper helper;
        QVERIFY(helper.start(program, card + QStringLiteral("/DCIM")));

        QVERIFY(replaceByRename(QStringLiteral(LG_MODULES_HELPER), program));
        QVERIFY(replaceByRename(stubModule("otherbuild"), root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so")));

        // The module of the program's own build, read through the handle held
        // since start (and loaded from a sealed copy of what was read, where
        // the system has them).
        QCOMPARE(joined(helper.ask(QStringLiteral("heif ") + m_heic)), QStringLiteral("heif 64x48"));
        const QStringList mapped = helper.ask(QStringLiteral("maps"));
        QVERIFY(!mapped.isEmpty());
        for (const QString &line : mapped)
            QVERIFY2(line.startsWith(QLatin1String("mapped ") + root + QLatin1String("/lib/lumengallery/lumengallery_heif.so"))
                         || line.startsWith(QLatin1String("mapped /memfd:lumengallery_heif.so")),
                     qPrintable(line));
    }

    // A module's load holds only that module: another loads meanwhile, and a
    // preload returns at once and loads on its own thread.
    void aLoadDoesNotWaitForAnotherModule()
    {
        lg::image::setModuleFoldersForTesting({});
        QSemaphore heifEntered;
        QSemaphore heifMayGoOn;
        lg::image::setModuleLoadHookForTesting([&](Module module) {
            if (module == Module::Heif) {
                heifEntered.release();
                heifMayGoOn.acquire();
            }
        });
        const auto restore = qScopeGuard([&] {
            heifMayGoOn.release(100);
            lg::image::setModuleLoadHookForTesting({});
        });
        QFuture<bool> heif = lg::runOnPool([] { return lg::image::heifModule() != nullptr; });
        QVERIFY(heifEntered.tryAcquire(1, 30000));

        QSemaphore rawLoaded;
        QFuture<void> raw = lg::runOnPool([&rawLoaded] {
            if (lg::image::rawModule())
                rawLoaded.release();
        });
        QVERIFY2(rawLoaded.tryAcquire(1, 30000), "the raw module waited for the HEIC module's load");
        lg::image::preloadModule(Module::Magick);
        lg::image::preloadModule(Module::Heif);   // being loaded: returns at once
        QTRY_VERIFY_WITH_TIMEOUT(lg::image::moduleLoaded(Module::Magick), 60000);
        QVERIFY(!lg::image::moduleLoaded(Module::Heif));

        heifMayGoOn.release();
        QVERIFY(heif.result());
        raw.waitForFinished();
        QVERIFY(lg::image::moduleLoaded(Module::Heif));
    }
};

LG_TEST(ModulesTest)
#include "test_modules.moc"
