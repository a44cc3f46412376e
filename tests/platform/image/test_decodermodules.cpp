// The codec modules as the decoders meet them: a folder of common pictures
// maps none of the heavy libraries, each heavy format opens its own module
// when first needed (once, whichever threads ask), and the program itself
// links none of them.
#include "platform/image/ImageSource.h"
#include "platform/image/VideoInfo.h"
#include "platform/modules/Modules.h"
#include "platform/runtime/Background.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WarningLog.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QtTest>

using namespace lg::test;
using namespace lg::test::fixtures;
using lg::image::Module;

namespace {

const QStringList heavyLibraries = {QStringLiteral("libMagick"), QStringLiteral("libraw"), QStringLiteral("libheif"),
                                    QStringLiteral("libavformat"), QStringLiteral("libavcodec"),
                                    QStringLiteral("libffmpegthumbnailer"), QStringLiteral("libQt6Multimedia")};

// The heavy libraries this process has mapped.
QStringList mappedHeavyLibraries()
{
    QFile maps(QStringLiteral("/proc/self/maps"));
    if (!maps.open(QIODevice::ReadOnly))
        return {QStringLiteral("(no /proc/self/maps)")};
    const QString text = QString::fromLocal8Bit(maps.readAll());
    QStringList found;
    for (const QString &name : heavyLibraries)
        if (text.contains(QLatin1Char('/') + name))
            found << name;
    return found;
}

bool mapped(const QString &library)
{
    return mappedHeavyLibraries().contains(library);
}

} // namespace

class DecoderModulesTest : public QObject
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

    // Runs first: nothing before it has needed a module.
    void commonPicturesLoadNoModule()
    {
        const QString jpeg = writeJpeg(QDir(m_folder).filePath(QStringLiteral("a.jpg")), quadrants(QSize(64, 48)), 6);
        const QString png = writeQtImage(QDir(m_folder).filePath(QStringLiteral("b.png")), quadrants(QSize(64, 48)));
        const QString bmp = writeQtImage(QDir(m_folder).filePath(QStringLiteral("c.bmp")), quadrants(QSize(64, 48)));
        for (const QString &path : {jpeg, png, bmp}) {
            const lg::ImageSource source(path);
            QVERIFY2(source.isValid(), qPrintable(path));
            QVERIFY(source.thumbnail(32));
            QVERIFY(source.pixelSize());
            source.properties();
        }
        for (Module module : {Module::Heif, Module::Raw, Module::Magick, Module::Video, Module::Player})
            QVERIFY2(!lg::image::moduleLoaded(module), qPrintable(lg::image::moduleFileName(module)));
        QCOMPARE(mappedHeavyLibraries(), QStringList());
    }

    void eachHeavyFormatLoadsItsOwnModule()
    {
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        const lg::ImageSource heic(m_heic);
        QCOMPARE(heic.thumbnail(32)->size(), QSize(32, 24));
        QVERIFY(lg::image::moduleLoaded(Module::Heif) && mapped(QStringLiteral("libheif")));
        QVERIFY(!lg::image::moduleLoaded(Module::Magick) && !mapped(QStringLiteral("libMagick")));

        QVERIFY(!m_dng.isEmpty());
        const lg::ImageSource raw(m_dng);
        QCOMPARE(raw.thumbnail(20)->size(), QSize(20, 13));   // from the embedded preview, through our JPEG path
        QCOMPARE(raw.image()->size(), QSize(60, 40));          // developed
        QVERIFY(lg::image::moduleLoaded(Module::Raw) && mapped(QStringLiteral("libraw")));

        if (m_video.isEmpty())
            QSKIP("ffmpeg is not installed");
        QCOMPARE(lg::VideoInfo::probe(m_video)->size, QSize(64, 48));
        QVERIFY(lg::image::moduleLoaded(Module::Video) && mapped(QStringLiteral("libavformat")));
        // The player is the viewer's alone.
        QVERIFY(!lg::image::moduleLoaded(Module::Player) && !mapped(QStringLiteral("libQt6Multimedia")));
    }

    void threadsAskingAtOnceShareOneLoad()
    {
        if (m_heic.isEmpty())
            QSKIP("heif-enc is not installed");
        lg::image::setModuleFoldersForTesting({});   // forgotten: the next ask loads again
        QVERIFY(!lg::image::moduleLoaded(Module::Heif));
        const QByteArray bytes = readAll(m_heic);
        WarningLog log;
        const QList<QSize> sizes = lg::mapped(QList<int>(16, 0), [bytes](int) {
            const std::optional<QImage> image = lg::ImageSource::fromData(bytes).thumbnail(16);
            return image ? image->size() : QSize();
        });
        QCOMPARE(sizes, QList<QSize>(16, QSize(16, 12)));
        QCOMPARE(log.lines(), QStringList());
        QVERIFY(lg::image::moduleLoaded(Module::Heif));
    }

    void theProgramLinksNoneOfTheHeavyLibraries()
    {
        QProcess ldd;
        ldd.start(QStringLiteral("ldd"), {QStringLiteral(LG_PROGRAM)});
        QVERIFY(ldd.waitForFinished(30000));
        const QString listed = QString::fromLocal8Bit(ldd.readAllStandardOutput());
        QVERIFY2(listed.contains(QLatin1String("libQt6Widgets")), qPrintable(listed));
        for (const QString &name : heavyLibraries)
            QVERIFY2(!listed.contains(name), qPrintable(name));
        // Nor libtiff (with the five libraries it needs), which only a TIFF
        // too large for Qt's readers needs: it is opened then, never at start.
        QVERIFY2(!listed.contains(QLatin1String("libtiff")), qPrintable(listed));
    }
};

LG_TEST(DecoderModulesTest)
#include "test_decodermodules.moc"
