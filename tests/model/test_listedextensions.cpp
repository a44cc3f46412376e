// The program's extension lists against the decoders: every listed picture
// extension is read or knowingly shown with its file-type icon, and every
// listed video container gives its size and first frame.
#include "model/SharedState.h"
#include "platform/image/ImageSource.h"
#include "platform/image/VideoInfo.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"

#include <QDir>
#include <QFile>
#include <QHash>
#include <QtTest>

using namespace lg::test;
using namespace lg::test::fixtures;

class ListedExtensionsTest : public QObject
{
    Q_OBJECT

    QList<Fixture> m_set;

    QString fixture(const QString &name) const
    {
        for (const Fixture &f : m_set)
            if (f.name == name)
                return f.path;
        return {};
    }

private Q_SLOTS:
    void initTestCase()
    {
        m_set = imageFormatSet(freshFolder(QStringLiteral("formats")));
        QVERIFY(m_set.size() >= 12);  // the Qt formats alone give that many
    }

    // Each entry of the program's image-extension list is either read (a
    // fixture of that kind, renamed, gives a thumbnail) or knowingly shown
    // with the file-type icon.
    void listedExtensionsAreReadOrKnowinglyNot()
    {
        const QHash<QString, QString> readAs = {
            {"jpeg", "jpeg"}, {"jpg", "jpeg"}, {"jpe", "jpeg"}, {"mpo", "mpo"}, {"png", "png"}, {"tga", "tga2"},
            {"pict", "pict"}, {"pct", "pict"}, {"pic", "pict"}, {"tiff", "tiff"}, {"tif", "tiff"}, {"jp2", "jp2"},
            {"jpf", "jp2"}, {"jpx", "jp2"}, {"j2k", "j2k"}, {"j2c", "j2k"}, {"gif", "gif"}, {"GIF", "gif"},
            {"bmp", "bmp"}, {"fax", "fax"}, {"hdr", "hdr"}, {"rad", "hdr"}, {"rgbe", "hdr"}, {"xyze", "hdr"},
            {"icns", "icns"}, {"ico", "ico"}, {"openexr", "exr"}, {"exr", "exr"}, {"psd", "psd"}, {"psb", "psb"},
            {"pntg", "pntg"}, {"sgi", "sgi"}, {"xbm", "xbm"}, {"heic", "heic"}, {"pbm", "pbm"},
            // Camera raw names: LibRaw tells the maker's format by content.
            {"dng", "dng"}, {"mos", "dng"}, {"cr2", "dng"}, {"fff", "dng"}, {"nef", "dng"}, {"nrw", "dng"},
            {"pef", "dng"}, {"sr2", "dng"}, {"srf", "dng"}, {"3fr", "dng"}, {"arw", "dng"}, {"crw", "dng"},
            {"dcr", "dng"}, {"erf", "dng"}, {"iiq", "dng"}, {"kdc", "dng"}, {"mdc", "dng"}, {"mef", "dng"},
            {"mrw", "dng"}, {"orf", "dng"}, {"raf", "dng"}, {"rwl", "dng"}, {"srw", "dng"}};
        // No reader here: PostScript needs ghostscript (absent, and barred by
        // ImageMagick's policy), FlashPix, Collada scenes and QuickTime images
        // have no library, and this LibRaw has no Sigma X3F nor GoPro decoder.
        const QStringList iconOnly = {"AI", "eps", "ps", "fpx", "dae", "qtif", "x3f", "gpr"};
        QCOMPARE(imageExtensions.size(), 67);
        const QString folder = freshFolder(QStringLiteral("listed"));
        for (const QString &extension : imageExtensions) {
            if (iconOnly.contains(extension))
                continue;
            QVERIFY2(readAs.contains(extension), qPrintable(extension));
            const QString source = fixture(readAs.value(extension));
            if (source.isEmpty())
                continue;  // its tool is missing here
            const QString copy = QDir(folder).filePath(QStringLiteral("picture.") + extension);
            QFile::remove(copy);
            QVERIFY(QFile::copy(source, copy));
            QVERIFY2(lg::ImageSource(copy).thumbnail(16).has_value(), qPrintable(extension));
        }
    }

    void containersOfTheVideoList_data()
    {
        QTest::addColumn<QString>("extension");
        QTest::addColumn<QString>("graph");
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QSize>("size");  // invalid: no picture expected
        const QString small = redThenBlue(QStringLiteral("64x48"));
        const QString mpegRate = redThenBlue(QStringLiteral("64x48"), QStringLiteral("25"));
        const QString cif = redThenBlue(QStringLiteral("176x144"));
        const QString pal = redThenBlue(QStringLiteral("720x576"), QStringLiteral("25"), QStringLiteral("0.4"));
        const QStringList mpeg4 {"-c:v", "mpeg4"};
        QTest::newRow("mpeg") << "mpeg" << mpegRate << QStringList {"-c:v", "mpeg1video", "-f", "mpeg"} << QSize(64, 48);
        QTest::newRow("mpeg-4") << "mpeg-4" << small << (mpeg4 + QStringList {"-f", "mp4"}) << QSize(64, 48);
        QTest::newRow("avc") << "avc" << small << QStringList {"-c:v", "libx264", "-pix_fmt", "yuv420p", "-f", "h264"} << QSize(64, 48);
        QTest::newRow("mp4") << "mp4" << small << QStringList {"-c:v", "libx264", "-pix_fmt", "yuv420p"} << QSize(64, 48);
        QTest::newRow("divx") << "divx" << small << (mpeg4 + QStringList {"-vtag", "DIVX", "-f", "avi"}) << QSize(64, 48);
        QTest::newRow("mov") << "mov" << small << (mpeg4 + QStringList {"-f", "mov"}) << QSize(64, 48);
        QTest::newRow("xvid") << "xvid" << small << (mpeg4 + QStringList {"-vtag", "XVID", "-f", "avi"}) << QSize(64, 48);
        QTest::newRow("mpg") << "mpg" << mpegRate << QStringList {"-c:v", "mpeg2video", "-f", "mpeg"} << QSize(64, 48);
        QTest::newRow("avi") << "avi" << small << QStringList {"-c:v", "mjpeg", "-f", "avi"} << QSize(64, 48);
        QTest::newRow("webm") << "webm" << small << QStringList {"-c:v", "libvpx", "-f", "webm"} << QSize(64, 48);
        QTest::newRow("dv") << "dv" << pal << QStringList {"-c:v", "dvvideo", "-pix_fmt", "yuv420p", "-f", "dv"} << QSize(720, 576);
        QTest::newRow("3gp") << "3gp" << cif << QStringList {"-c:v", "h263", "-f", "3gp"} << QSize(176, 144);
        QTest::newRow("3pp2") << "3pp2" << cif << QStringList {"-c:v", "h263", "-f", "3g2"} << QSize(176, 144);
        QTest::newRow("mpeg-2") << "mpeg-2" << mpegRate << QStringList {"-c:v", "mpeg2video", "-f", "vob"} << QSize(64, 48);
        QTest::newRow("flv") << "flv" << small << QStringList {"-c:v", "flv", "-f", "flv"} << QSize(64, 48);
        // MPEG audio holds no picture.
        QTest::newRow("mpa") << "mpa" << QStringLiteral("sine=frequency=440:duration=1") << QStringList {"-c:a", "mp2", "-f", "mp2"}
                             << QSize();
    }

    void containersOfTheVideoList()
    {
        QFETCH(QString, extension);
        QFETCH(QString, graph);
        QFETCH(QStringList, arguments);
        QFETCH(QSize, size);
        QVERIFY(videoExtensions.contains(extension));
        const QString path = writeVideo(QDir(freshFolder(QStringLiteral("list"))).filePath(QStringLiteral("v.") + extension), graph,
                                        arguments);
        QVERIFY(!path.isEmpty());
        const std::optional<lg::VideoProbe> probe = lg::VideoInfo::probe(path);
        const std::optional<QImage> frame = lg::VideoInfo::firstFrame(path, 150);
        if (!size.isValid()) {
            QVERIFY(!probe);
            QVERIFY(!frame);
            return;
        }
        QVERIFY(probe);
        QCOMPARE(probe->size, size);
        QVERIFY(frame);
        QCOMPARE(std::max(frame->width(), frame->height()), std::min(150, std::max(size.width(), size.height())));
        QVERIFY(near(frame->pixelColor(frame->width() / 2, frame->height() / 2), Qt::red, 64));
    }
};

LG_TEST(ListedExtensionsTest)
#include "test_listedextensions.moc"
