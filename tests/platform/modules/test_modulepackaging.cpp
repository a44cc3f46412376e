// Modules installed as packages install them: by cmake (with umask 002, as
// built or stripped) and stripped or split as distributions do, every kind of
// file still shows.
#include "platform/modules/Modules.h"
#include "tests/platform/modules/ModulesTesting.h"

#include <QRegularExpression>
#include <QtTest>

#include <grp.h>
#include <sys/stat.h>

using namespace modulestest;
using lg::image::Module;

class ModulePackagingTest : public QObject
{
    Q_OBJECT

private:
    QString m_folder;
    QString m_heic;
    QString m_video;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = freshFolder(QStringLiteral("modules"));
        m_heic = writeModuleHeic(m_folder);
        m_video = writeModuleVideo(m_folder);
    }

    // What cmake installs loads, as the build made it or stripped: a package
    // installed with umask 002 (folders drwxrwxr-x, as on systems that give
    // each user a group of their own) shows HEIC, camera raw, PSD, JPEG 2000
    // and HDR pictures and reads and plays videos.
    void anInstalledCopyShowsEveryKind_data()
    {
        QTest::addColumn<bool>("stripped");
        QTest::newRow("as built") << false;
        QTest::newRow("cmake --install --strip") << true;
    }

    void anInstalledCopyShowsEveryKind()
    {
        QFETCH(bool, stripped);
        const QString prefix = freshFolder(QStringLiteral("installed")) + QStringLiteral("/usr");
        QProcess install;
        install.setProcessChannelMode(QProcess::MergedChannels);
        install.start(QStringLiteral("/bin/sh"),
                      {QStringLiteral("-c"),
                       QStringLiteral("umask 002 && exec \"$0\" --install \"$1\" --prefix \"$2\" ") + (stripped ? QStringLiteral("--strip") : QString()),
                       QStringLiteral(LG_CMAKE_COMMAND), QStringLiteral(LG_BUILD_TREE), prefix});
        QVERIFY(install.waitForFinished(240000));
        QVERIFY2(install.exitStatus() == QProcess::NormalExit && install.exitCode() == 0,
                 install.readAll().constData());
        const QString modules = prefix + QStringLiteral("/lib/lumengallery");
        struct stat st = {};
        QCOMPARE(::stat(QFile::encodeName(modules).constData(), &st), 0);
        QCOMPARE(int(st.st_mode & 07777), 0775);
        for (Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video, Module::Player}) {
            const QString name = lg::image::moduleFileName(module);
            const QByteArray installed = readAll(modules + QLatin1Char('/') + name);
            const QByteArray built = readAll(realModules + QLatin1Char('/') + name);
            if (stripped)
                QVERIFY2(installed.size() < built.size(), qPrintable(name + QStringLiteral(" was not stripped")));
            else
                QVERIFY2(installed == built, qPrintable(name + QStringLiteral(" was changed by the install")));
        }
        // Group root, or the user's own: on this machine nobody else may be in it.
        if (const struct group *group = ::getgrgid(st.st_gid); !group || group->gr_mem[0])
            QSKIP("the install's group has members here: the folders are rightly refused");

        const QString program = prefix + QStringLiteral("/bin/moduleshelper");
        QVERIFY(copyFile(QStringLiteral(LG_MODULES_HELPER), program));
        const QString pictures = freshFolder(QStringLiteral("kinds"));
        QStringList shown;
        for (const Fixture &fixture : imageFormatSet(pictures))
            if (QStringList {QStringLiteral("heic"), QStringLiteral("dng"), QStringLiteral("psd"), QStringLiteral("jp2"),
                             QStringLiteral("hdr")}.contains(fixture.name))
                shown << fixture.path;
        QVERIFY2(shown.size() >= 3, qPrintable(shown.join(QLatin1Char(' '))));
        Helper helper;
        QVERIFY(helper.start(program, prefix));
        for (const QString &picture : std::as_const(shown)) {
            const QString said = joined(helper.ask(QStringLiteral("show ") + picture));
            QVERIFY2(QRegularExpression(QStringLiteral("^show [1-9][0-9]*x[1-9][0-9]*$")).match(said).hasMatch(),
                     qPrintable(picture + QStringLiteral(": ") + said));
        }
        if (!m_video.isEmpty())
            QCOMPARE(joined(helper.ask(QStringLiteral("video ") + m_video)), QStringLiteral("video 64x48"));
        QCOMPARE(joined(helper.ask(QStringLiteral("player"))), QStringLiteral("player ready"));
        // Mapped from the installed files, or from sealed copies of what was
        // read from them.
        for (const QString &line : helper.ask(QStringLiteral("maps")))
            QVERIFY2(line.startsWith(QLatin1String("mapped ") + modules)
                         || line.startsWith(QLatin1String("mapped /memfd:lumengallery_")),
                     qPrintable(line));
    }

    // A module stripped or split as distributions do still loads: the
    // program knows it by what is loaded and run.
    void aStrippedModuleStillLoads_data()
    {
        QTest::addColumn<QStringList>("commands");   // run on the file MODULE, in order
        QTest::newRow("dh_strip") << QStringList {
            QStringLiteral("objcopy --only-keep-debug MODULE MODULE.debug"),
            QStringLiteral("strip --remove-section=.comment --remove-section=.note --strip-unneeded MODULE"),
            QStringLiteral("objcopy --add-gnu-debuglink=MODULE.debug MODULE")};
        QTest::newRow("strip --strip-all") << QStringList {QStringLiteral("strip --strip-all MODULE")};
    }

    void aStrippedModuleStillLoads()
    {
        QFETCH(QStringList, commands);
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        const QString root = freshFolder(QStringLiteral("stripped"));
        const QString program = installHelper(root, realModules + QStringLiteral("/lumengallery_heif.so"));
        QVERIFY(!program.isEmpty());
        const QString installed = root + QStringLiteral("/lib/lumengallery/lumengallery_heif.so");
        for (const QString &command : std::as_const(commands)) {
            QStringList words = command.split(QLatin1Char(' '));
            for (QString &word : words)
                word.replace(QStringLiteral("MODULE"), installed);
            const QString tool = words.takeFirst();
            QString error;
            QVERIFY2(run(tool, words, &error), qPrintable(error));
        }
        QVERIFY(readAll(installed) != readAll(realModules + QStringLiteral("/lumengallery_heif.so")));
        Helper helper;
        QVERIFY(helper.start(program, root));
        QCOMPARE(joined(helper.ask(QStringLiteral("heif ") + m_heic)), QStringLiteral("heif 64x48"));
    }
};

LG_TEST(ModulePackagingTest)
#include "test_modulepackaging.moc"
