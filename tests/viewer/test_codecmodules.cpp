// A codec module that cannot be loaded leaves its files unread, with one line
// in the log for each module, instead of failing the program: the decoders,
// the writers, the video probe and the viewer's player all go on without it,
// and read again once the modules can be found.
#include "controls/ClickViews.h"
#include "platform/image/Decoders.h"
#include "platform/image/ImageSource.h"
#include "platform/image/VideoInfo.h"
#include "platform/modules/Modules.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WarningLog.h"
#include "viewer/VideoPlayer.h"

#include <QDir>
#include <QRegularExpression>
#include <QtTest>

using namespace lg::test;
using namespace lg::test::fixtures;
using lg::image::Module;

class CodecModulesTest : public QObject
{
    Q_OBJECT

private:
    QString m_folder;
    QString m_heic;
    QString m_dng;
    QString m_video;

private Q_SLOTS:
    void initTestCase()
    {
        m_folder = freshFolder(QStringLiteral("modules"));
        m_heic = writeModuleHeic(m_folder);
        m_dng = writeModuleDng(m_folder);
        m_video = writeModuleVideo(m_folder);
    }

    void aModuleThatCannotBeLoadedLeavesItsFilesUnread_data()
    {
        QTest::addColumn<QByteArray>("moduleContent");   // empty: no module file at all
        QTest::addColumn<QString>("reason");
        QTest::newRow("missing") << QByteArray() << QStringLiteral("is not in");
        QTest::newRow("damaged") << QByteArray("not a shared object\n").repeated(50) << QString();
    }

    void aModuleThatCannotBeLoadedLeavesItsFilesUnread()
    {
        QFETCH(QByteArray, moduleContent);
        QFETCH(QString, reason);
        const QString folder = freshFolder(QStringLiteral("no-modules-") + QString::fromLatin1(QTest::currentDataTag()));
        if (!moduleContent.isEmpty())
            for (Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video, Module::Player})
                writeFile(QDir(folder).filePath(lg::image::moduleFileName(module)), moduleContent);
        lg::image::setModuleFoldersForTesting({folder});
        const auto restore = qScopeGuard([] { lg::image::setModuleFoldersForTesting({}); });
        WarningLog log;

        if (!m_heic.isEmpty()) {
            const lg::ImageSource heic(m_heic);
            QVERIFY(!heic.thumbnail(32));
            QVERIFY(!heic.image());
            QVERIFY(!lg::ImageSource(m_heic).thumbnail(64));   // asked again: no second attempt
        }
        QVERIFY(!lg::ImageSource(m_dng).image());
        QString error;
        QVERIFY(!lg::image::encodeHeic(quadrants(QSize(8, 8)), 80, {}, {}, {}, &error));
        QVERIFY2(error.contains(QLatin1String("libheif")), qPrintable(error));
        QVERIFY(!lg::image::encodeWithMagick(quadrants(QSize(8, 8)), "TGA", -1, &error));
        QVERIFY2(error.contains(QLatin1String("ImageMagick")), qPrintable(error));
        if (!m_video.isEmpty()) {
            QVERIFY(!lg::VideoInfo::probe(m_video));
            QVERIFY(!lg::VideoInfo::firstFrame(m_video, 32));
        }
        QObject owner;
        QCOMPARE(VideoPlayer::create(nullptr, &owner), nullptr);
        myplayerview view;
        QCOMPARE(view.videoView(), nullptr);

        // One line for each module, saying which library and why.
        QStringList libraries;
        for (const QString &line : log.lines()) {
            const QRegularExpressionMatch match =
                QRegularExpression(QStringLiteral("^Cannot load the (.+) module, so files that need \\1 are not read: ")).match(line);
            QVERIFY2(match.hasMatch(), qPrintable(line));
            QVERIFY2(line.contains(reason), qPrintable(line));
            libraries << match.captured(1);
        }
        libraries.sort();
        // The first refusal has every module checked: FFmpeg's too, video or not.
        QStringList expected = {QStringLiteral("FFmpeg"), QStringLiteral("ImageMagick"), QStringLiteral("LibRaw"),
                                QStringLiteral("Qt Multimedia"), QStringLiteral("libheif")};
        expected.sort();
        QCOMPARE(libraries, expected);

        // Once the modules can be found, the same files read again.
        lg::image::setModuleFoldersForTesting({});
        QVERIFY(lg::ImageSource(m_dng).image());
        if (!m_video.isEmpty())
            QVERIFY(lg::VideoInfo::probe(m_video));
    }
};

LG_TEST(CodecModulesTest)
#include "test_codecmodules.moc"
