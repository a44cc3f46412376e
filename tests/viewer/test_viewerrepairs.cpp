// Repairs in the viewer: a file with no picture to show (damaged, empty, fake,
// a decompression-bomb header, a broken video) shows its file-type icon, and
// the next and previous buttons go on from it.
#include "app/Essentials.h"
#include "platform/ControllerRegistry.h"
#include "tests/support/TestSupport.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/viewimagevc.h"

#include <QBuffer>
#include <QtEndian>

namespace {

QByteArray encoded(QSize size, const char *format)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(Qt::darkCyan);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, format);
    return bytes;
}

// A small PNG whose header claims 60000 x 60000 pixels.
QByteArray bombHeader()
{
    QByteArray bytes = encoded(QSize(4, 4), "PNG");
    const quint32 side = qToBigEndian<quint32>(60000);
    bytes.replace(16, 4, reinterpret_cast<const char *>(&side), 4);
    bytes.replace(20, 4, reinterpret_cast<const char *>(&side), 4);
    return bytes;
}

} // namespace

class ViewerRepairsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init() { resetSharedState(); currentScreenMode = ScreenViewer; }
    void cleanup()
    {
        if (auto *viewer = qobject_cast<viewimagevc *>(lg::ControllerRegistry::existing(QStringLiteral("viewimagevc"))))
            viewer->hide();
    }

    void aFileWithoutAPictureShowsItsTypeIcon_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QByteArray>("bytes");
        QTest::addColumn<bool>("isImage");
        QTest::newRow("truncated") << "truncated.jpg" << encoded(QSize(64, 48), "JPEG").left(40) << true;
        QTest::newRow("empty") << "empty.png" << QByteArray() << true;
        QTest::newRow("fake") << "fake.jpg" << QByteArray("not a picture at all") << true;
        QTest::newRow("bomb header") << "bomb.png" << bombHeader() << true;
        QTest::newRow("broken gif") << "broken.gif" << QByteArray("GIF89a") << true;
        QTest::newRow("broken video") << "broken.mp4" << QByteArray(4096, 'v') << false;
    }
    void aFileWithoutAPictureShowsItsTypeIcon()
    {
        QFETCH(QString, name);
        QFETCH(QByteArray, bytes);
        QFETCH(bool, isImage);
        const QString folder = lg::test::freshFolder(QStringLiteral("broken"));
        const QString good = folder + QStringLiteral("/good.png");
        lg::test::writeFile(good, encoded(QSize(300, 200), "PNG"));
        const QString broken = lg::test::writeFile(folder + QLatin1Char('/') + name, bytes);
        itemList = {Metadata::init(QUrl::fromLocalFile(good)), Metadata::init(QUrl::fromLocalFile(broken))};
        itemList[0].isImage = true;
        itemList[1].isImage = isImage;
        selectedItemIndex = 1;

        viewimagevc *viewer = imageViewer();
        viewer->resize(800, 600);
        viewer->show();
        QTRY_VERIFY_WITH_TIMEOUT(viewer->imgview->isPlaceholder(), 8000);
        QVERIFY(!viewer->imgview->isHidden() && viewer->avKitPlayer->isHidden());
        QVERIFY(!viewer->imgview->currentImage().isNull());
        QCOMPARE(viewer->imgview->pictureKey(), broken);

        viewer->showNextItem();
        QCOMPARE(selectedItemIndex, 0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->imgview->pixelSize(), QSize(300, 200));
    }
};

LG_TEST(ViewerRepairsTest)
#include "test_viewerrepairs.moc"
