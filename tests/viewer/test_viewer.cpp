// The viewer screen: showing items, navigation, the full-image layout, the
// hover controls, zoom and fit, the slideshow and the reload of the folder;
// its context menu and commands: rotate and flip written back into the file,
// the save panel where it cannot be, Move to Trash, Move To and Copy To; the
// moving pictures: animated GIFs, videos (with the slideshow waiting for them)
// and the slideshow's transitions.
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/InfoPane.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "model/FolderMonitor.h"
#include "platform/desktop/Paths.h"
#include "platform/files/operations/Trash.h"
#include "sidebar/sideMenuvc.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/files/names/FileIdentity.h"
#include "model/ThumbnailCache.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/image/ThumbnailStore.h"
#include "platform/image/ImageSource.h"
#include "platform/image/ImageWriter.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Workspace.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenTesting.h"
#include "tests/support/Seams.h"
#include "viewer/ViewerMenuState.h"
#include "controls/CursorButtons.h"
#include "controls/PopoverMaxTypeVC.h"
#include "controls/ZLFlatButton.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/runtime/Timer.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"
#include "tests/viewer/ViewerFixtures.h"
#include "viewer/AnimatedImage.h"
#include "viewer/SlideTransition.h"
#include "viewer/editImagevc.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/viewimagevc.h"

#include <QAbstractButton>
#include <QAction>
#include <QApplication>
#include <QBuffer>
#include <QClipboard>
#include <QDir>
#include <QFontMetrics>
#include <QFrame>
#include <QGuiApplication>
#include <QImageReader>
#include <QLabel>
#include "viewer/VideoPlayer.h"
#include <QLineEdit>
#include <QMenu>
#include <QScopeGuard>
#include <QMessageBox>
#include <QMimeData>
#include <QMouseEvent>
#include <QPushButton>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QStandardItemModel>
#include <QPainter>
#include <QStyleHints>
#include <QToolButton>
#include <QVariantAnimation>
#include <QVideoFrame>
#include <QVideoSink>
#include <QVideoWidget>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <memory>
#include <sys/stat.h>
#include <sys/xattr.h>

Q_DECLARE_METATYPE(ViewerMenuSnapshot)

using namespace viewertest;
using namespace lg::test::fixtures;
namespace fx = lg::test::fixtures;

namespace {

// The message box shown now whose text begins with start; none when there is none.
QMessageBox *openBox(const QString &start)
{
    for (QWidget *widget : QApplication::topLevelWidgets()) {
        auto *box = qobject_cast<QMessageBox *>(widget);
        if (box && box->isVisible() && box->text().startsWith(start))
            return box;
    }
    return nullptr;
}


// Three small pictures in a fresh folder: red, green, blue.
QVector<InitialDirectory> threePictures(const QString &folderName = QStringLiteral("pictures"))
{
    const QString folder = lg::test::freshFolder(folderName);
    QVector<InitialDirectory> items;
    const QList<QColor> colors = {Qt::red, Qt::green, Qt::blue};
    for (int i = 0; i < 3; ++i)
        items << itemFor(writePicture(folder + QStringLiteral("/p%1.png").arg(i), QSize(400, 300), colors.at(i)), true);
    return items;
}

QString nameOf(const InitialDirectory &item)
{
    return item.file ? item.file->url.fileName() : QString();
}


// n small PNGs p0.png ... in a fresh folder, listed as the current folder.
QStringList listedPictures(int n, const QString &name = QStringLiteral("listed"))
{
    const QString folder = lg::test::freshFolder(name);
    QStringList paths;
    for (int i = 0; i < n; ++i) {
        paths << writeQtImage(folder + QStringLiteral("/p%1.png").arg(i), quadrants(QSize(40, 30)));
        itemList << itemFor(paths.last(), true);
    }
    currentFolderURL = QUrl::fromLocalFile(folder);
    return paths;
}

viewimagevc *viewerOn(int index, QSize size = QSize(800, 600))
{
    selectedItemIndex = index;
    viewimagevc *viewer = imageViewer();
    viewer->resize(size);
    viewer->show();
    return viewer;
}

QAction *menuAction(viewimagevc *viewer, const char *name)
{
    return viewer->imgviewMenu->findChild<QAction *>(QString::fromLatin1(name));
}

QString exifValue(const lg::ImageProperties &properties, const QString &key)
{
    for (const auto &group : properties.groups)
        for (const auto &entry : group.second)
            if (group.first == QLatin1String("Exif") && entry.first == key)
                return entry.second;
    return QString();
}


// A GIF of solid frames, each with its delay in hundredths of a second.
QString writeGif(const QString &path, const QList<std::pair<QString, int>> &frames)
{
    QStringList arguments;
    for (const auto &[color, delay] : frames)
        arguments << QStringLiteral("-delay") << QString::number(delay) << QStringLiteral("-size")
                  << QStringLiteral("8x8") << QStringLiteral("xc:") + color;
    arguments << QStringLiteral("-loop") << QStringLiteral("0") << path;
    return fx::run(QStringLiteral("convert"), arguments) ? path : QString();
}

QColor colorOf(const QImage &image)
{
    return image.isNull() ? QColor() : image.pixelColor(image.width() / 2, image.height() / 2);
}



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

// A small JPEG whose frame header claims 30000 x 30000 pixels.
QByteArray lyingJpeg()
{
    QByteArray bytes = encoded(QSize(64, 48), "JPEG");
    const qsizetype frame = bytes.indexOf(QByteArray("\xff\xc0", 2));
    const quint16 side = qToBigEndian<quint16>(30000);
    bytes.replace(frame + 5, 2, reinterpret_cast<const char *>(&side), 2);
    bytes.replace(frame + 7, 2, reinterpret_cast<const char *>(&side), 2);
    return bytes;
}

// Pictures of the given names in a fresh folder, each its own colour, listed
// as the current folder in name order; their paths.
QStringList listedPhotos(const QString &folderName, const QStringList &names)
{
    const QString folder = lg::test::freshFolder(folderName);
    const QList<QColor> colors = {Qt::red, Qt::green, Qt::blue, Qt::yellow, Qt::magenta};
    QStringList paths;
    for (int i = 0; i < names.size(); ++i) {
        QImage picture = lg::test::fixtures::quadrants(QSize(400, 300));
        picture.setPixelColor(0, 0, colors.at(i % colors.size()));
        paths << lg::test::fixtures::writeJpeg(folder + QLatin1Char('/') + names.at(i), picture);
        itemList << Metadata::init(QUrl::fromLocalFile(paths.last()));
        itemList.last().isImage = true;
    }
    currentFolderURL = QUrl::fromLocalFile(folder);
    return paths;
}

// Another program puts the file at from in place of the one at over: by a
// plain rename, or as a file manager's Replace does (a copy written beside,
// then renamed over).
void replaceFromOutside(const QString &from, const QString &over, bool copyThenRename)
{
    if (copyThenRename) {
        const QString beside = over + QStringLiteral(".part");
        lg::test::writeFile(beside, lg::test::readAll(from));
        QVERIFY(std::rename(QFile::encodeName(beside).constData(), QFile::encodeName(over).constData()) == 0);
    } else {
        QVERIFY(std::rename(QFile::encodeName(from).constData(), QFile::encodeName(over).constData()) == 0);
    }
}

} // namespace

class ViewerTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        resetSharedState();
        viewerItemURL.reset();
        minimizedWhileViewing = false;
        currentScreenMode = ScreenViewer;
        lg::Alert::clearShownAlerts();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
    }

    void cleanup()
    {
        if (auto *viewer = qobject_cast<viewimagevc *>(lg::ControllerRegistry::existing(QStringLiteral("viewimagevc"))))
            viewer->hide();
        lg::test::resetSeams();
    }

    void opensTheSelectedItemWithinTheList()
    {
        itemList = threePictures();
        for (const int start : {-1, 3, 17}) {
            selectedItemIndex = start;
            viewimagevc *viewer = imageViewer();
            viewer->openSelectedItem();
            QCOMPARE(selectedItemIndex, 0);
            QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p0.png"));
        }
        // Appearing opens the item and shows its file name.
        selectedItemIndex = 1;
        viewimagevc *viewer = shownViewer();
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p1.png"));
        QCOMPARE(viewerItemURL, itemList.at(1).file->url);
        QTRY_VERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->imgview->pixelSize(), QSize(400, 300));
        QVERIFY(viewer->box_nofilefound->isHidden());

        // An empty list shows the no-file box; an empty search hides the picture.
        viewer->hide();
        itemList.clear();
        viewer->show();
        QVERIFY(!viewer->box_nofilefound->isHidden());
        QVERIFY(viewer->boxForImgview->isHidden());
        viewer->hide();
        itemList = threePictures(QStringLiteral("again"));
        isSearchActive = true;
        viewer->show();
        QVERIFY(viewer->boxForImgview->isHidden());
        QVERIFY(viewer->avKitPlayer->isHidden());
    }

    void showItemChoosesTheKindByExtensionAndFlag()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("kinds"));
        itemList = threePictures(QStringLiteral("kinds-pictures"));
        viewimagevc *viewer = shownViewer();

        // Not a media file: an empty picture area, no image.
        const QString text = lg::test::writeFile(folder + QStringLiteral("/notes.txt"), "hello");
        viewer->showItem(QUrl::fromLocalFile(text), false);
        QVERIFY(!viewer->imgview->isHidden());
        QVERIFY(!viewer->imgview->hasImage());
        QVERIFY(viewer->avKitPlayer->isHidden());
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("notes.txt"));
        QCOMPARE(viewerItemURL, QUrl::fromLocalFile(text));

        // A GIF by its extension, whatever its flag says, in any case.
        const QString gif = folder + QStringLiteral("/ANIM.GIF");
        QVERIFY(QFile::copy(itemList.at(0).file->url.toLocalFile(), gif));
        viewer->showItem(QUrl::fromLocalFile(gif), false);
        QCOMPARE(viewer->animatedImage()->path(), gif);
        QVERIFY(viewer->avKitPlayer->isHidden());

        // Text named like a video never reaches the player: its type icon shows.
        const QString fake = lg::test::writeFile(folder + QStringLiteral("/fake.mov"), "not really a video");
        viewer->showItem(QUrl::fromLocalFile(fake), std::nullopt);
        QTRY_COMPARE(viewer->playerItem, QUrl::fromLocalFile(fake));
        QVERIFY(viewer->videoPlayer == nullptr);
        QVERIFY(viewer->avKitPlayer->isHidden());
        QVERIFY(!viewer->imgview->isHidden());

        // A video: the player is made and the picture hidden.
        const QString video = lg::test::fixtures::writeVideo(folder + QStringLiteral("/clip.mov"), QStringLiteral("color=c=red:s=64x48:d=1"));
        QVERIFY(!video.isEmpty());
        viewer->showItem(QUrl::fromLocalFile(video), std::nullopt);
        QTRY_VERIFY(viewer->videoPlayer != nullptr);
        QVERIFY(!viewer->avKitPlayer->isHidden());
        QVERIFY(viewer->boxForImgview->isHidden());
        QCOMPARE(viewer->playerItem, QUrl::fromLocalFile(video));

        // No URL: everything hidden, the rest kept.
        viewer->showItem(std::nullopt, true);
        QVERIFY(viewer->avKitPlayer->isHidden());
        QVERIFY(viewer->boxForImgview->isHidden());
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("clip.mov"));
        QCOMPARE(viewerItemURL, QUrl::fromLocalFile(video));

        // An unreadable image: no image, the name shows.
        const QString broken = lg::test::writeFile(folder + QStringLiteral("/broken.jpg"), "garbage");
        viewer->showItem(QUrl::fromLocalFile(broken), true);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("broken.jpg"));
        QTRY_VERIFY(!viewer->pictureLoader()->isPending(PictureLoader::keyFor(broken, viewer->decodeBound())));
        QVERIFY(!viewer->imgview->hasImage());
    }

    void nextAndPreviousWrapAround()
    {
        itemList = threePictures();
        selectedItemIndex = 2;
        viewimagevc *viewer = shownViewer();
        viewer->showNextItem();
        QCOMPARE(selectedItemIndex, 0);
        QCOMPARE(viewer->lblfilename->text(), nameOf(itemList.at(0)));
        viewer->showPreviousItem();
        QCOMPARE(selectedItemIndex, 2);
        QCOMPARE(viewer->lblfilename->text(), nameOf(itemList.at(2)));
        viewer->btnleft();
        QCOMPARE(selectedItemIndex, 1);

        // A single item shows itself again.
        itemList = {itemList.at(1)};
        selectedItemIndex = 0;
        viewer->showNextItem();
        QCOMPARE(selectedItemIndex, 0);
        QCOMPARE(viewer->lblfilename->text(), nameOf(itemList.at(0)));
    }

    void navigationUsesTheSearchResults()
    {
        const QVector<InitialDirectory> all = threePictures();
        itemList = all;
        searchResults = {all.at(0), all.at(2)};
        isSearchActive = true;
        selectedItemIndex = 1;
        viewimagevc *viewer = shownViewer();
        QCOMPARE(viewer->lblfilename->text(), nameOf(all.at(2)));
        viewer->showNextItem();
        QCOMPARE(selectedItemIndex, 0);
        QCOMPARE(viewerItemURL, all.at(0).file->url);
        viewer->showPreviousItem();
        QCOMPARE(selectedItemIndex, 1);
        QCOMPARE(viewerItemURL, all.at(2).file->url);
    }

    void emptyFilteredAndStaleListsAreSafe()
    {
        itemList = threePictures();
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();

        // A search without results: stepping does nothing and stops a slideshow.
        isSearchActive = true;
        searchResults.clear();
        viewer->toggleSlideShow();
        viewer->showNextItem();
        viewer->showPreviousItem();
        QCOMPARE(selectedItemIndex, 0);
        QVERIFY(!viewer->isSlideShowRunning);

        // An index past the end of a list that shrank: stepping starts at an end.
        isSearchActive = false;
        selectedItemIndex = 7;
        viewer->showNextItem();
        QCOMPARE(selectedItemIndex, 0);
        selectedItemIndex = 7;
        viewer->showPreviousItem();
        QCOMPARE(selectedItemIndex, 2);

        // An empty list: the buttons hide the picture and show nothing else.
        const QUrl shown = *viewerItemURL;
        itemList.clear();
        selectedItemIndex = 1;
        viewer->btnright();
        viewer->btnleft();
        viewer->rightSwipe();
        QCOMPARE(selectedItemIndex, 1);
        QCOMPARE(viewerItemURL, shown);
        QVERIFY(viewer->boxForImgview->isHidden());
        // The slideshow button needs items; the menu command starts it and the
        // first step stops it again.
        viewer->btnslideshow();
        QVERIFY(!viewer->isSlideShowRunning);
        viewer->slideShowClicked();
        QVERIFY(viewer->isSlideShowRunning);
        viewer->autoplaycall();
        QVERIFY(!viewer->isSlideShowRunning);
        viewer->copyCurrentItemToPasteboard();

        // An item without metadata shows nothing.
        itemList = {InitialDirectory()};
        selectedItemIndex = 0;
        viewer->openSelectedItem();
        QVERIFY(viewer->boxForImgview->isHidden());
        QVERIFY(viewer->avKitPlayer->isHidden());
    }

    void neighboursAreReadyBeforeTheyAreAskedFor()
    {
        itemList = threePictures();
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        const QSize bound = viewer->decodeBound();
        const auto preloaded = [&](int index) {
            return viewer->pictureLoader()
                ->cached(PictureLoader::keyFor(itemList.at(index).file->url.toLocalFile(), bound))
                .has_value();
        };
        QTRY_VERIFY(preloaded(1) && preloaded(2));
        // Next shows the neighbour at once, decoded and fitted.
        viewer->btnright();
        QVERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->imgview->pictureKey(), itemList.at(1).file->url.toLocalFile());
        QCOMPARE(viewer->imgview->currentImage().pixel(10, 10), QColor(Qt::green).rgb());

        // A changed file is decoded again (its key changes with the file).
        const QString path = itemList.at(2).file->url.toLocalFile();
        const PictureKey before = PictureLoader::keyFor(path, bound);
        writePicture(path, QSize(200, 100), Qt::yellow);
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QVERIFY(file.setFileTime(QDateTime::currentDateTime().addSecs(60), QFileDevice::FileModificationTime));
        file.close();
        QVERIFY(!(PictureLoader::keyFor(path, bound) == before));
        viewer->showNextItem();
        QTRY_VERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->imgview->pixelSize(), QSize(200, 100));
    }

    void actualSizeBringsTheFullResolution()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("large"));
        QImage large(3000, 2000, QImage::Format_RGB32);
        large.fill(Qt::darkCyan);
        QVERIFY(large.save(folder + QStringLiteral("/large.jpg"), "jpeg", 80));
        itemList = {itemFor(folder + QStringLiteral("/large.jpg"), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        // Decoded for the screen first, then sharper once one image pixel shows as one.
        QVERIFY(viewer->imgview->currentImage().width() < 3000);
        QCOMPARE(viewer->imgview->pixelSize(), QSize(3000, 2000));
        viewer->setImage_fittoImage();
        QTRY_COMPARE(viewer->imgview->currentImage().width(), 3000);

        // Dragging the magnified picture pans it with the pointer (the edges are the zoom model's).
        const ZoomModel &model = viewer->scrollview->model();
        const QPointF start = model.origin();
        QTest::mousePress(viewer->imgview, Qt::LeftButton, Qt::NoModifier, QPoint(300, 300));
        QTest::mouseMove(viewer->imgview, QPoint(250, 280));
        QCOMPARE(model.origin(), start + QPointF(50, 20) / model.magnification());
        QTest::mouseRelease(viewer->imgview, Qt::LeftButton, Qt::NoModifier, QPoint(250, 280));
    }

    void pictureLoaderDecodesWithinItsBoundAndForgetsTheOldest()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("loader"));
        const QString path = writePicture(folder + QStringLiteral("/wide.png"), QSize(800, 400), Qt::cyan);
        const DecodedPicture bounded = PictureLoader::decode(PictureLoader::keyFor(path, QSize(200, 200)));
        QCOMPARE(bounded.pixelSize, QSize(800, 400));
        QCOMPARE(bounded.image.size(), QSize(200, 100));
        const DecodedPicture full = PictureLoader::decode(PictureLoader::keyFor(path, QSize()));
        QCOMPARE(full.image.size(), QSize(800, 400));
        QVERIFY(!PictureLoader::decode(PictureLoader::keyFor(folder + QStringLiteral("/gone.png"), QSize())).ok());

        PictureLoader loader;
        loader.setCapacity(300 * 1024);   // room for one 800 x 400 picture at most
        const PictureKey a = PictureLoader::keyFor(path, QSize());
        const PictureKey b = PictureLoader::keyFor(path, QSize(100, 100));
        loader.request(a);
        loader.request(a);
        QVERIFY(loader.isPending(a));
        QTRY_VERIFY(loader.cached(a).has_value());
        loader.request(b);
        QTRY_VERIFY(loader.cached(b).has_value());
        QVERIFY(!loader.cached(a).has_value());
        QVERIFY(loader.usedBytes() <= 300 * 1024);
    }

    void fitStylesAndZoomControls()
    {
        itemList = threePictures();
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        const QSizeF view = viewer->scrollview->model().viewSize();
        QVERIFY(view.width() > 400 && view.height() > 300);

        viewer->setImage_fittoView();
        QCOMPARE(viewer->fitStyle, viewimagevc::viewfit);
        const double filled = viewer->filledImageSize().width() / 400.0;
        QVERIFY(std::abs(viewer->magnification() - filled) < 1e-3);
        QVERIFY(std::abs(viewer->sliderValue() - filled) < 1e-3);
        viewer->setImage_fittoImage();
        QCOMPARE(viewer->magnification(), 1.0);

        // The buttons step by one and stop at the slider's ends.
        viewer->btnzoominClicked();
        QVERIFY(viewer->imageManuallyZoomedByUser);
        QCOMPARE(viewer->magnification(), 2.0);
        for (int i = 0; i < 40; ++i)
            viewer->btnzoominClicked();
        QCOMPARE(viewer->magnification(), viewimagevc::maximumMagnification);
        QCOMPARE(viewer->sliderValue(), viewimagevc::maximumMagnification);
        for (int i = 0; i < 40; ++i)
            viewer->btnzoomoutClicked();
        QCOMPARE(viewer->magnification(), viewimagevc::minimumMagnification);
        viewer->slider->setValue(3500);
        QCOMPARE(viewer->magnification(), 3.5);
        // A hand-chosen zoom survives a re-fit; a fit style clears it.
        viewer->applyFitStyle();
        QCOMPARE(viewer->magnification(), 3.5);
        viewer->setImage_autoFit();
        QVERIFY(!viewer->imageManuallyZoomedByUser);
        QCOMPARE(viewer->magnification(), 1.0);

        // The wheel zooms a small picture in whole steps, and not during a slideshow.
        viewer->wheelZoom(1.0, QPointF(10, 10));
        QCOMPARE(viewer->magnification(), 2.0);
        QCOMPARE(viewer->scrollup, std::optional<bool>(true));
        viewer->wheelZoom(0.0, QPointF(10, 10));
        QCOMPARE(viewer->magnification(), 1.0);
        // Through the scroll view: the end of a gesture, which scrolls nothing, does not zoom out.
        viewer->wheelZoom(1.0, QPointF(10, 10));
        QWheelEvent end(QPointF(20, 20), viewer->scrollview->mapToGlobal(QPointF(20, 20)), QPoint(), QPoint(),
                        Qt::NoButton, Qt::NoModifier, Qt::ScrollEnd, false);
        QCoreApplication::sendEvent(viewer->scrollview, &end);
        QCOMPARE(viewer->magnification(), 2.0);
        viewer->wheelZoom(0.0, QPointF(10, 10));
        viewer->toggleSlideShow();
        QVERIFY(!viewer->slider->isEnabled());
        viewer->wheelZoom(1.0, QPointF(10, 10));
        QCOMPARE(viewer->magnification(), 1.0);
        viewer->toggleSlideShow();
        QVERIFY(viewer->slider->isEnabled());

        // Every newly shown image starts fitted.
        viewer->btnzoominClicked();
        viewer->showNextItem();
        QTRY_VERIFY(viewer->imgview->hasImage());
        QVERIFY(!viewer->imageManuallyZoomedByUser);
        QCOMPARE(viewer->magnification(), 1.0);
    }

    void controlBarHidesAfterFourSecondsOfStillness()
    {
        lg::FakeClock clock;
        itemList = threePictures();
        viewimagevc *viewer = shownViewer();
        QCOMPARE(viewer->bottomBoxAlpha(), 1.0);
        QVERIFY(!viewer->timer);

        const auto move = [&] {
            QMouseEvent event(QEvent::MouseMove, QPointF(50, 50), QPointF(50, 50), Qt::NoButton, Qt::NoButton,
                              Qt::NoModifier);
            QCoreApplication::sendEvent(viewer->imgview, &event);
        };
        move();
        QVERIFY(viewer->timer && viewer->timer->isActive());
        clock.advance(3999);
        QCOMPARE(viewer->bottomBoxAlpha(), 1.0);
        clock.advance(1);
        QCOMPARE(viewer->bottomBoxAlpha(), 0.0);
        // Resting on the bar keeps it; leaving it hides it at once, and
        // movement over the picture shows it again.
        QEvent enter(QEvent::Enter);
        QCoreApplication::sendEvent(viewer->bottom_box, &enter);
        QCOMPARE(viewer->bottomBoxAlpha(), 1.0);
        clock.advance(10000);
        QCOMPARE(viewer->bottomBoxAlpha(), 1.0);
        QEvent leave(QEvent::Leave);
        QCoreApplication::sendEvent(viewer->bottom_box, &leave);
        QCOMPARE(viewer->bottomBoxAlpha(), 0.0);
        move();
        QCOMPARE(viewer->bottomBoxAlpha(), 1.0);
    }

    void slideshowStepsOnTheClock()
    {
        lg::FakeClock clock;
        itemList = threePictures();
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QCOMPARE(viewer->escapeButton(), viewer->btnCLoseviewImage);

        viewer->btnslideshow();
        QVERIFY(viewer->isSlideShowRunning);
        QCOMPARE(viewer->escapeButton(), viewer->btnslideShow);
        QVERIFY(!viewer->btnzoomin->isEnabled() && !viewer->btnZoomout->isEnabled());
        QList<int> seen;
        for (int i = 0; i < 4; ++i) {
            clock.advance(3000);
            seen << selectedItemIndex;
        }
        QCOMPARE(seen, (QList<int> {1, 2, 0, 1}));

        // A speed chosen while running counts from the choice.
        clock.advance(1000);
        QMenu *speeds = viewer->menuplaySpeed();
        const QList<QAction *> items = speeds->actions();
        QVERIFY(items.at(2)->isChecked());
        items.at(6)->trigger();
        QCOMPARE(viewer->selectedTimeIntervel, 8);
        clock.advance(7999);
        QCOMPARE(selectedItemIndex, 1);
        clock.advance(1);
        QCOMPARE(selectedItemIndex, 2);
        delete speeds;

        // The next button restarts the interval; the previous button does not.
        clock.advance(5000);
        viewer->btnright();
        QCOMPARE(selectedItemIndex, 0);
        clock.advance(7999);
        QCOMPARE(selectedItemIndex, 0);
        clock.advance(1);
        QCOMPARE(selectedItemIndex, 1);
        clock.advance(5000);
        viewer->btnleft();
        QCOMPARE(selectedItemIndex, 0);
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);

        // Stopping: no more steps, Escape closes again, the zoom comes back.
        viewer->toggleSlideShow();
        QVERIFY(!viewer->isSlideShowRunning);
        QCOMPARE(viewer->escapeButton(), viewer->btnCLoseviewImage);
        QVERIFY(viewer->slider->isEnabled());
        clock.advance(60000);
        QCOMPARE(selectedItemIndex, 1);
        // A speed chosen while stopped waits for the next start.
        viewer->selectedTimeIntervel = 2;
        viewer->toggleSlideShow();
        clock.advance(2000);
        QCOMPARE(selectedItemIndex, 2);
    }

    void slideshowStartsOnRequestAndStopsWhenTheViewerGoes()
    {
        lg::FakeClock clock;
        itemList = threePictures();
        selectedItemIndex = 0;
        startSlideshow = true;
        viewimagevc *viewer = shownViewer();
        QVERIFY(viewer->isSlideShowRunning);
        QVERIFY(!startSlideshow);
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);

        // Taken off the screen: it stops and no step comes any more.
        viewer->hide();
        QVERIFY(!viewer->isSlideShowRunning);
        clock.advance(30000);
        QCOMPARE(selectedItemIndex, 1);
        // A second opening does not start it again.
        viewer->show();
        QVERIFY(!viewer->isSlideShowRunning);
    }

    void fullImageLayoutEntersAndCloses()
    {
        itemList = threePictures();
        selectedItemIndex = 1;
        viewimagevc *viewer = shownViewer();
        QObject observer;
        int backPosts = 0;
        lg::NotificationHub::instance().observe(QStringLiteral("backtofiles"), &observer,
                                                [&](const QVariant &) { ++backPosts; });

        viewer->enterFullImageLayout();
        QVERIFY(viewer->titlebox->isHidden());
        QVERIFY(!viewer->btnCLoseviewImage->isHidden());
        QCOMPARE(viewer->escapeButton(), viewer->btnCLoseviewImage);
        QCOMPARE(viewer->boxForImgview->height(), viewer->boxbg->height());

        // Entered from the viewer: closing returns to it, same item.
        currentScreenMode = ScreenFullImage;
        fullImageReturnStyle = viewerStyle;
        viewer->btnCloseViewedImage();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenViewer);
        QCOMPARE(backPosts, 0);
        QCOMPARE(selectedItemIndex, 1);
        QVERIFY(!viewer->titlebox->isHidden());
        QVERIFY(viewer->btnCLoseviewImage->isHidden());
        QCOMPARE(viewer->boxForImgview->height(), viewer->boxbg->height() - 35);

        // Entered from the list: closing leaves the viewer and stops the video.
        viewer->enterFullImageLayout();
        currentScreenMode = ScreenFullImage;
        fullImageReturnStyle = listStyle;
        auto *player = VideoPlayer::create(nullptr, viewer);
        QVERIFY(player);
        viewer->videoPlayer = player;
        viewer->closeViewer();
        QCOMPARE(backPosts, 1);
        QCOMPARE(viewer->videoPlayer, nullptr);

        // Back: video released, then "backtofiles".
        viewer->videoPlayer = player;
        viewer->btnbackClicked();
        QCOMPARE(backPosts, 2);
        QCOMPARE(viewer->videoPlayer, nullptr);
    }

    void editButtonWaitsForTheSlideshow()
    {
        itemList = threePictures();
        viewimagevc *viewer = shownViewer();
        viewer->toggleSlideShow();
        viewer->btneditclicked();
        QVERIFY(!lg::ControllerRegistry::existing(QStringLiteral("mainvc")));
        QVERIFY(!editImageController);
        viewer->toggleSlideShow();
        viewer->btneditclicked();
        QVERIFY(editImageController);
    }

    void reloadListsTheWatchedFolder()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("watched"));
        writePicture(folder + QStringLiteral("/a.jpg"), QSize(40, 30), Qt::red);
        lg::test::writeFile(folder + QStringLiteral("/b.mov"), "movie");
        lg::test::writeFile(folder + QStringLiteral("/c.txt"), "text");
        lg::test::writeFile(folder + QStringLiteral("/d.ai"), "illustration");
        QDir().mkpath(folder + QStringLiteral("/sub.jpg"));
        currentFolderURL = QUrl::fromLocalFile(folder);
        itemList = threePictures();
        viewimagevc *viewer = imageViewer();

        // While a file operation runs, nothing happens.
        isFileOperationRunning = true;
        viewer->reloadItems();
        QTest::qWait(50);
        QCOMPARE(itemList.size(), 3);
        isFileOperationRunning = false;

        viewer->reloadItems();
        QTRY_COMPARE(itemList.size(), 2);
        QStringList names;
        for (const InitialDirectory &item : std::as_const(itemList))
            names << nameOf(item) + (item.isImage ? QStringLiteral(":image") : QStringLiteral(":video"));
        names.sort();
        QCOMPARE(names, (QStringList {"a.jpg:image", "b.mov:video"}));
        QVERIFY(viewer->box_nofilefound->isHidden());

        // An emptied folder shows the no-file box.
        for (const char *name : {"a.jpg", "b.mov"})
            QVERIFY(QFile::remove(folder + QLatin1Char('/') + QLatin1String(name)));
        viewer->reloadItems();
        QTRY_VERIFY(itemList.isEmpty());
        QVERIFY(!viewer->box_nofilefound->isHidden());
        // No current folder: nothing happens.
        currentFolderURL.reset();
        itemList = threePictures(QStringLiteral("kept"));
        viewer->reloadItems();
        QTest::qWait(50);
        QCOMPARE(itemList.size(), 3);
    }

    void menuStateFollowsTheSnapshot_data()
    {
        QTest::addColumn<ViewerMenuSnapshot>("snapshot");
        QTest::addColumn<bool>("rotate");
        QTest::addColumn<bool>("trash");
        QTest::addColumn<bool>("properties");
        QTest::addColumn<bool>("transitions");
        ViewerMenuSnapshot image;
        image.hasCurrentItem = image.currentIsImage = image.hasFolder = true;
        image.itemExtension = QStringLiteral("jpg");
        QTest::newRow("image") << image << true << true << true << false;
        ViewerMenuSnapshot gif = image;
        gif.itemExtension = QStringLiteral("gif");
        QTest::newRow("gif") << gif << false << true << true << false;
        ViewerMenuSnapshot video = image;
        video.currentIsImage = false;
        video.itemExtension = QStringLiteral("mp4");
        QTest::newRow("video") << video << false << true << true << false;
        ViewerMenuSnapshot library = image;
        library.folderExtension = QStringLiteral("photoslibrary");
        QTest::newRow("Photos library item") << library << false << false << true << false;
        ViewerMenuSnapshot slideshow = image;
        slideshow.slideShowRunning = true;
        QTest::newRow("slideshow") << slideshow << false << true << true << true;
        ViewerMenuSnapshot fullImage = image;
        fullImage.screenMode = ScreenFullImage;
        QTest::newRow("full-image layout") << fullImage << true << true << false << false;
        ViewerMenuSnapshot opened = image;
        opened.hasFolder = false;
        opened.infoPaneVisible = true;
        QTest::newRow("no folder, pane shown") << opened << true << false << false << false;
    }

    void menuStateFollowsTheSnapshot()
    {
        QFETCH(ViewerMenuSnapshot, snapshot);
        QFETCH(bool, rotate);
        QFETCH(bool, trash);
        QFETCH(bool, properties);
        QFETCH(bool, transitions);
        const ViewerMenuState state = viewerMenuState(snapshot);
        QCOMPARE(state.rotateEnabled, rotate);
        QCOMPARE(state.trashEnabled, trash);
        QCOMPARE(state.propertiesEnabled, properties);
        QCOMPARE(state.showTransitions, transitions);
        QCOMPARE(state.closeFullscreen, snapshot.screenMode == ScreenFullImage);
        QCOMPARE(state.slideShowTitle, snapshot.slideShowRunning ? QStringLiteral("Stop Slide Show")
                                                                 : QStringLiteral("Start Slide Show"));
        snapshot.busy = true;
        QVERIFY(viewerMenuState(snapshot).empty);
    }

    void menuIsBuiltFromTheShownItem()
    {
        // The snapshot comes from the shown item: a GIF cannot be turned, a busy screen has no menu.
        listedPictures(1);
        itemList << itemFor(lg::test::writeFile(QFileInfo(itemList.at(0).file->url.toLocalFile()).absolutePath()
                                                + QStringLiteral("/anim.GIF")), true);
        viewimagevc *viewer = viewerOn(0);
        viewer->rebuildContextMenu();
        QVERIFY(menuAction(viewer, "rotateMenu")->isEnabled());
        selectedItemIndex = 1;
        viewer->openSelectedItem();
        viewer->rebuildContextMenu();
        QVERIFY(!menuAction(viewer, "rotateMenu")->isEnabled());
        isBusy = true;
        viewer->rebuildContextMenu();
        QVERIFY(viewer->imgviewMenu->isEmpty());
        isBusy = false;
    }

    void rotateLeftWritesTheFileInPlace_data()
    {
        QTest::addColumn<int>("orientation");
        QTest::newRow("upright") << 1;
        QTest::newRow("stored turned, Exif orientation 6") << 6;
    }

    void rotateLeftWritesTheFileInPlace()
    {
        QFETCH(int, orientation);
        const QString folder = lg::test::freshFolder(QStringLiteral("turn"));
        const QString path = writeJpeg(folder + QStringLiteral("/photo.jpg"),
                                       storedForOrientation(quadrants(QSize(400, 300)), orientation), orientation);
        QVERIFY(!path.isEmpty());
        itemList << itemFor(path, true);
        currentFolderURL = QUrl::fromLocalFile(folder);
        viewimagevc *viewer = viewerOn(0);
        // An index outside the list turns nothing.
        const QByteArray before = lg::test::readAll(path);
        selectedItemIndex = 4;
        viewer->RotateImageWithSender(1);
        QVERIFY(!viewer->isTransformRunning());
        QCOMPARE(lg::test::readAll(path), before);
        selectedItemIndex = 0;
        viewer->RotateImageWithSender(1);
        QTRY_VERIFY(!viewer->isTransformRunning());
        const lg::ImageSource written(path);
        const QImage turned = written.image().value_or(QImage());
        QCOMPARE(turned.size(), QSize(300, 400));
        // Counter-clockwise: the top right corner comes to the top left.
        QVERIFY(near(quarterColor(turned, TopLeft), Qt::green));
        QVERIFY(near(quarterColor(turned, TopRight), Qt::white));
        QVERIFY(near(quarterColor(turned, BottomLeft), Qt::red));
        QVERIFY(near(quarterColor(turned, BottomRight), Qt::blue));
        QCOMPARE(written.properties().orientation, 1);
        QCOMPARE(exifValue(written.properties(), QStringLiteral("DateTimeOriginal")),
                 QStringLiteral("2021:06:05 14:30:00"));
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        // The list's record follows the new file.
        QCOMPARE(itemList.at(0).file->Modifieddate, QFileInfo(path).lastModified());
    }

    void turnsAndMirrorsOnPixels_data()
    {
        QTest::addColumn<bool>("flip");
        QTest::addColumn<int>("tag");
        QTest::addColumn<QList<QColor>>("corners");   // top left, top right, bottom left, bottom right
        QTest::newRow("right 90") << false << 2 << QList<QColor>{Qt::blue, Qt::red, Qt::white, Qt::green};
        QTest::newRow("180") << false << 3 << QList<QColor>{Qt::white, Qt::blue, Qt::green, Qt::red};
        QTest::newRow("horizontal flip") << true << 1 << QList<QColor>{Qt::green, Qt::red, Qt::white, Qt::blue};
        QTest::newRow("vertical flip") << true << 2 << QList<QColor>{Qt::blue, Qt::white, Qt::red, Qt::green};
    }

    void turnsAndMirrorsOnPixels()
    {
        QFETCH(bool, flip);
        QFETCH(int, tag);
        QFETCH(QList<QColor>, corners);
        const QStringList paths = listedPictures(1);
        viewimagevc *viewer = viewerOn(0);
        if (flip)
            viewer->flipImageWithSender(tag);
        else
            viewer->RotateImageWithSender(tag);
        QTRY_VERIFY(!viewer->isTransformRunning());
        const QImage result(paths.first());
        const Corner order[] = {TopLeft, TopRight, BottomLeft, BottomRight};
        for (int i = 0; i < 4; ++i)
            QVERIFY2(near(quarterColor(result, order[i]), corners.at(i)), qPrintable(QString::number(i)));
    }

    void unwritableFilesGoToTheSavePanel_data()
    {
        QTest::addColumn<QString>("kind");
        QTest::newRow("WebP") << QStringLiteral("webp");
        QTest::newRow("failed JPEG write") << QStringLiteral("jpg");
    }

    void unwritableFilesGoToTheSavePanel()
    {
        QFETCH(QString, kind);
        const QString folder = lg::test::freshFolder(QStringLiteral("unwritable"));
        const QString path = writeQtImage(folder + QStringLiteral("/beach.") + kind, quadrants(QSize(40, 30)));
        QVERIFY(!path.isEmpty());
        if (kind == QLatin1String("jpg"))
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });
        const QByteArray before = lg::test::readAll(path);
        itemList << itemFor(path, true);
        currentFolderURL = QUrl::fromLocalFile(folder);
        QString proposed;
        Saver::setPanelResponderForTesting([&proposed](const QString &name) {
            proposed = name;
            return std::optional<std::pair<QString, SaveFormatChoice>>();
        });
        viewimagevc *viewer = viewerOn(0);
        viewer->RotateImageWithSender(1);
        QTRY_COMPARE(proposed, QStringLiteral("beach copy"));
        QTRY_VERIFY(!isBusy);
        QCOMPARE(lg::test::readAll(path), before);
        if (kind == QLatin1String("jpg"))
            return;
        // Saved: a new file in the chosen format; the original stays as it was.
        const QString copy = folder + QStringLiteral("/beach copy.png");
        Saver::setPanelResponderForTesting([copy](const QString &) {
            SaveFormatChoice choice;
            choice.type = lg::ImageFileType::PNG;
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, choice));
        });
        viewer->RotateImageWithSender(1);
        QTRY_VERIFY(QFileInfo::exists(copy));
        QCOMPARE(QImage(copy).size(), QSize(30, 40));
        QCOMPARE(lg::test::readAll(path), before);
    }

    void trashShowsTheNextItem_data()
    {
        QTest::addColumn<bool>("search");
        QTest::newRow("listing") << false;
        QTest::newRow("search results") << true;
    }

    void trashShowsTheNextItem()
    {
        QFETCH(bool, search);
        const QStringList paths = listedPictures(5);
        if (search) {
            isSearchActive = true;
            searchResults = itemList;
        }
        viewimagevc *viewer = viewerOn(2);
        viewer->deleteItem_menu();
        QTRY_VERIFY(!QFileInfo::exists(paths.at(2)));
        QCOMPARE(lg::Alert::shownAlerts().first().buttons, (QStringList{"Yes", "No"}));
        QTRY_COMPARE(activeItemList().size(), 4);   // once the work is back from the pool
        QCOMPARE(itemList.size(), 4);
        QCOMPARE(selectedItemIndex, 2);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p3.png"));
        QVERIFY(!isBusy);
        // "No" changes nothing.
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
        viewer->deleteItem_menu();
        QTRY_VERIFY(!isBusy);
        QVERIFY(QFileInfo::exists(paths.at(3)));
    }

    // The trash question acts on the file as it was when the command was
    // chosen: one written anew in place meanwhile stays, also where the viewer
    // has already followed it and shows its new content.
    void aFileChangedWhileTheTrashQuestionIsOpenStays()
    {
        const QStringList paths = listedPictures(3);
        viewimagevc *viewer = viewerOn(1);
        const std::optional<lg::FileIdentity> shown = viewer->shownFileIdentity();
        QVERIFY(shown);
        lg::Alert::setResponder({});   // a real question, open until answered
        viewer->deleteItem_menu();
        QTRY_VERIFY(openBox(QStringLiteral("Are you sure")));
        // Another program writes the picture anew, in the same file.
        QBuffer png;
        png.open(QIODevice::WriteOnly);
        QVERIFY(quadrants(QSize(36, 48)).save(&png, "PNG"));
        QFile file(paths.at(1));
        QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
        QCOMPARE(file.write(png.data()), png.data().size());
        file.close();
        QVERIFY(lg::fileIdentity(paths.at(1))->sameObject(*shown));
        viewer->reloadItems();
        QTRY_VERIFY(viewer->shownFileIdentity() && !(*viewer->shownFileIdentity() == *shown));
        QMessageBox *question = openBox(QStringLiteral("Are you sure"));
        QVERIFY(question);
        question->buttons().first()->click();   // Yes
        QTRY_VERIFY(openBox(QStringLiteral("Some items could not be processed.")));
        QVERIFY(openBox(QStringLiteral("Some items could not be processed."))->informativeText().contains(
            QStringLiteral("changed since it was opened")));
        QVERIFY(QFileInfo::exists(paths.at(1)));
        openBox(QStringLiteral("Some items could not be processed."))->buttons().first()->click();
    }

    // Another program renames the shown file while the trash question is
    // open: once the viewer shows it under its new name, Yes trashes it there.
    // A file also written to meanwhile stays, refused as changed.
    void theTrashQuestionFollowsAFileRenamedWhileItIsOpen_data()
    {
        QTest::addColumn<bool>("rewritten");
        QTest::newRow("renamed") << false;
        QTest::newRow("renamed and written anew") << true;
    }
    void theTrashQuestionFollowsAFileRenamedWhileItIsOpen()
    {
        QFETCH(bool, rewritten);
        const QStringList paths = listedPictures(3);
        const QString renamed = QFileInfo(paths.at(1)).absolutePath() + QStringLiteral("/p1b.png");
        viewimagevc *viewer = viewerOn(1);
        lg::Alert::setResponder({});   // a real question, open until answered
        viewer->deleteItem_menu();
        QTRY_VERIFY(openBox(QStringLiteral("Are you sure")));
        QVERIFY(QFile::rename(paths.at(1), renamed));
        if (rewritten) {
            QFile file(renamed);
            QVERIFY(file.open(QIODevice::Append));
            QCOMPARE(file.write("tail", 4), 4);
        }
        viewer->reloadItems();
        QTRY_COMPARE(viewer->lblfilename->text(), QStringLiteral("p1b.png"));
        openBox(QStringLiteral("Are you sure"))->buttons().first()->click();   // Yes
        if (!rewritten) {
            QTRY_VERIFY(!QFileInfo::exists(renamed));
            QVERIFY(!openBox(QStringLiteral("Some items could not be processed.")));
            QTRY_COMPARE(viewer->lblfilename->text(), QStringLiteral("p2.png"));
            QVERIFY(QFileInfo::exists(paths.at(0)) && QFileInfo::exists(paths.at(2)));
            return;
        }
        QTRY_VERIFY(openBox(QStringLiteral("Some items could not be processed.")));
        QMessageBox *refusal = openBox(QStringLiteral("Some items could not be processed."));
        QVERIFY2(refusal->informativeText().contains(QStringLiteral("\u201Cp1b.png\u201D"))
                     && refusal->informativeText().contains(QStringLiteral("changed since it was opened")),
                 qPrintable(refusal->informativeText()));
        QVERIFY(QFileInfo::exists(renamed));
        refusal->buttons().first()->click();
    }

    void commandsActOnTheShownFileAfterAReload()
    {
        const QStringList paths = listedPictures(3);
        const QString folder = QFileInfo(paths.first()).absolutePath();
        viewimagevc *viewer = viewerOn(1);
        // Another program adds a file that sorts first; the folder reloads.
        const QString added = writeQtImage(folder + QStringLiteral("/a.png"), quadrants(QSize(40, 30)));
        viewer->reloadItems();
        QTRY_COMPARE(itemList.size(), 4);
        viewer->deleteItem_menu();
        QTRY_VERIFY(!QFileInfo::exists(paths.at(1)));
        QVERIFY(QFileInfo::exists(paths.at(0)) && QFileInfo::exists(added));
        QTRY_COMPARE(viewer->lblfilename->text(), QStringLiteral("p2.png"));   // the Trash settles off the main thread

        // The shown file is deleted from outside: once the folder is listed
        // again the viewer moves on, round to the first as p2 was the last,
        // and the commands act on the file now shown.
        QVERIFY(QFile::remove(paths.at(2)));
        viewer->reloadItems();
        QTRY_COMPARE(itemList.size(), 2);
        QTRY_COMPARE(viewer->lblfilename->text(), QStringLiteral("a.png"));
        QCOMPARE(selectedItemIndex, 0);
        QVERIFY(viewer->box_nofilefound->isHidden());
        lg::Alert::clearShownAlerts();
        copiedURLs.clear();
        viewer->rebuildContextMenu();
        QVERIFY(menuAction(viewer, "rotateMenu")->isEnabled());
        viewer->copyCurrentItemToPasteboard();
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        QCOMPARE(copiedURLs, QList<QUrl>{QUrl::fromLocalFile(added)});
    }

    // Another program moves the shown file to another folder: until the
    // folder is listed again, the commands say it is no longer there and
    // touch nothing.
    void commandsOnAFileThatWentOutsideSayItIsNoLongerThere_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("reloaded");   // the folder watch has listed the folder again
        for (const char *name : {"menuShowinFinder", "SetWallpaper", "copyItem_menu", "itemCopyTO_menu",
                                 "deleteItem_menu", "itemMoveTO_menu", "rotateLeft90", "flipVertical", "btneditImage"})
            QTest::addRow("%s, before the reload", name) << QString::fromLatin1(name) << false;
    }
    void commandsOnAFileThatWentOutsideSayItIsNoLongerThere()
    {
        QFETCH(QString, command);
        QFETCH(bool, reloaded);
        const QStringList paths = listedPictures(3);
        const QString target = lg::test::freshFolder(QStringLiteral("goneTarget"));
        QVERIFY(QDir().mkpath(QFileInfo(paths.at(1)).absolutePath() + QStringLiteral("/elsewhere")));
        const QString renamed = QFileInfo(paths.at(1)).absolutePath() + QStringLiteral("/elsewhere/p1.png");
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(target)}; });
        QStringList desktopCommands;
        lg::Workspace::setRunnerForTesting([&desktopCommands](const lg::ExternalCall &call, QString *) {
            desktopCommands << call.program;
            return true;
        });
        viewimagevc *viewer = viewerOn(1);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p1.png"));
        // Another program moves the shown file away.
        QVERIFY(QFile::rename(paths.at(1), renamed));
        const QByteArray content = lg::test::readAll(renamed);
        if (reloaded) {
            viewer->reloadItems();
            QTRY_COMPARE(selectedItemIndex, -1);
        }
        copiedURLs.clear();
        if (command == QLatin1String("btneditImage")) {
            viewer->btneditImage->click();
            QVERIFY(!editImageController || !editImageController->isVisible());
        } else {
            viewer->menuWillOpen();
            QAction *action = menuAction(viewer, command.toLatin1().constData());
            QVERIFY(action && action->isEnabled());
            action->trigger();
        }
        QTRY_VERIFY(!isBusy);
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.first().title, QStringLiteral("Some items could not be processed."));
        QCOMPARE(said.first().text, QStringLiteral("1 item could not be processed. \u201Cp1.png\u201D: The item is no "
                                                   "longer where it was opened from."));
        // The picture stays; nothing was done to any file.
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p1.png"));
        QVERIFY(!viewer->imgview->isHidden());
        QCOMPARE(lg::test::readAll(renamed), content);
        QVERIFY(QDir(target).isEmpty());
        QVERIFY(copiedURLs.isEmpty());
        QVERIFY(desktopCommands.isEmpty());
        QCOMPARE(itemList.size(), 3);
        lg::Workspace::setRunnerForTesting({});
    }

    // Another program renames the shown file within its folder, and changes
    // nothing else: before the folder is listed again, the commands that act
    // on the file find it under its new name, as the Trash does (the rewrites
    // of the picture in place do not: they say it is no longer there).
    void commandsFollowAShownFileRenamedWithinItsFolder_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *name : {"menuShowinFinder", "SetWallpaper", "copyItem_menu", "itemCopyTO_menu",
                                 "itemMoveTO_menu", "deleteItem_menu"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void commandsFollowAShownFileRenamedWithinItsFolder()
    {
        QFETCH(QString, command);
        const QStringList paths = listedPictures(3);
        const QString target = lg::test::freshFolder(QStringLiteral("followTarget"));
        const QString renamed = QFileInfo(paths.at(1)).absolutePath() + QStringLiteral("/renamed.png");
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(target)}; });
        QStringList handedOver;
        lg::Workspace::setRunnerForTesting([&handedOver](const lg::ExternalCall &call, QString *) {
            handedOver << call.arguments.join(u' ');
            for (const QVariant &argument : call.dbusArguments)
                handedOver << argument.toStringList().join(u' ') + argument.toString();
            return true;
        });
        lg::Workspace::setDesktopForTesting(QStringLiteral("GNOME"));
        const auto restore = qScopeGuard([] {
            lg::Workspace::setRunnerForTesting({});
            lg::Workspace::setDesktopForTesting(std::nullopt);
        });
        viewimagevc *viewer = viewerOn(1);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p1.png"));
        QVERIFY(QFile::rename(paths.at(1), renamed));
        const QByteArray content = lg::test::readAll(renamed);
        copiedURLs.clear();
        lg::Alert::clearShownAlerts();
        viewer->menuWillOpen();
        QAction *action = menuAction(viewer, command.toLatin1().constData());
        QVERIFY(action && action->isEnabled());
        action->trigger();
        QTRY_VERIFY(!isBusy && !isFileOperationRunning);
        for (const lg::AlertSpec &said : lg::Alert::shownAlerts())
            QVERIFY2(said.title != QLatin1String("Some items could not be processed."), qPrintable(said.text));
        if (command == QLatin1String("copyItem_menu")) {
            QCOMPARE(copiedURLs, QList<QUrl>{QUrl::fromLocalFile(renamed)});
        } else if (command == QLatin1String("itemCopyTO_menu")) {
            QTRY_COMPARE(lg::test::readAll(target + QStringLiteral("/renamed.png")), content);
            QVERIFY(QFileInfo::exists(renamed));
        } else if (command == QLatin1String("itemMoveTO_menu")) {
            QTRY_COMPARE(lg::test::readAll(target + QStringLiteral("/renamed.png")), content);
            QVERIFY(!QFileInfo::exists(renamed));
            QTRY_COMPARE(itemList.size(), 2);   // it has left the viewer
        } else if (command == QLatin1String("deleteItem_menu")) {
            QTRY_VERIFY(!QFileInfo::exists(renamed));
            QCOMPARE(lg::test::readAll(lg::trashFolderFor(renamed) + QStringLiteral("/files/renamed.png")), content);
            QTRY_COMPARE(itemList.size(), 2);
        } else {
            QVERIFY(!handedOver.isEmpty());
            QVERIFY2(handedOver.join(u'\n').contains(QStringLiteral("renamed.png")), qPrintable(handedOver.join(u'\n')));
        }
    }

    // Once the folder watch has listed the folder again, the viewer shows the
    // renamed file under its new name and the commands act on it there.
    void commandsOnAFileRenamedOutsideActOnItsNewName_data()
    {
        QTest::addColumn<QString>("command");
        for (const char *name : {"menuShowinFinder", "copyItem_menu", "itemCopyTO_menu", "rotateLeft90"})
            QTest::newRow(name) << QString::fromLatin1(name);
    }
    void commandsOnAFileRenamedOutsideActOnItsNewName()
    {
        QFETCH(QString, command);
        const QStringList paths = listedPictures(3);
        const QString target = lg::test::freshFolder(QStringLiteral("renamedTarget"));
        const QString renamed = QFileInfo(paths.at(1)).absolutePath() + QStringLiteral("/renamed.png");
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(target)}; });
        QStringList desktopCommands;
        lg::Workspace::setRunnerForTesting([&desktopCommands](const lg::ExternalCall &call, QString *) {
            desktopCommands << call.program;
            return true;
        });
        const auto restore = qScopeGuard([] { lg::Workspace::setRunnerForTesting({}); });
        viewimagevc *viewer = viewerOn(1);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("p1.png"));
        QVERIFY(QFile::rename(paths.at(1), renamed));
        viewer->reloadItems();
        QTRY_COMPARE(viewer->lblfilename->text(), QStringLiteral("renamed.png"));
        QVERIFY(selectedItemIndex >= 0);
        QCOMPARE(itemList.at(selectedItemIndex).file->url, QUrl::fromLocalFile(renamed));
        copiedURLs.clear();
        viewer->menuWillOpen();
        QAction *action = menuAction(viewer, command.toLatin1().constData());
        QVERIFY(action && action->isEnabled());
        action->trigger();
        QTRY_VERIFY(!isBusy && !viewer->isTransformRunning());
        QVERIFY2(lg::Alert::shownAlerts().isEmpty(), qPrintable(lg::Alert::shownAlerts().value(0).text));
        if (command == QLatin1String("copyItem_menu"))
            QCOMPARE(copiedURLs, QList<QUrl>{QUrl::fromLocalFile(renamed)});
        else if (command == QLatin1String("itemCopyTO_menu"))
            QTRY_VERIFY(QFileInfo::exists(target + QStringLiteral("/renamed.png")));
        else if (command == QLatin1String("rotateLeft90"))
            QCOMPARE(QImage(renamed).size(), QImage(paths.at(0)).size().transposed());
        else
            QVERIFY(!desktopCommands.isEmpty());
    }

    void theLastFileGoingEmptiesTheViewerThePreviewAndThePane()
    {
        const QStringList paths = listedPictures(1);
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        InfoPane::instance()->fillForPath(paths.first());
        QTRY_VERIFY(InfoPane::instance()->model()->rowCount() > 0);
        QVERIFY(QFile::remove(paths.first()));
        viewer->reloadItems();   // as the folder watch does
        QTRY_VERIFY(itemList.isEmpty());
        QVERIFY(!viewer->box_nofilefound->isHidden());
        QVERIFY(viewer->imgview->isHidden() && viewer->boxForImgview->isHidden());
        QCOMPARE(viewer->lblfilename->text(), QString());
        QVERIFY(sidebarController()->imgviewThumbnail->pixmap().isNull());
        QTRY_COMPARE(InfoPane::instance()->model()->rowCount(), 0);
        // Nothing is on show: the commands have nothing to act on, and say nothing.
        viewer->copyCurrentItemToPasteboard();
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
    }

    void moveAndCopyToAnswerTheSameNameSheet_data()
    {
        QTest::addColumn<bool>("copy");
        QTest::addColumn<bool>("ownFolder");
        QTest::addColumn<int>("answer");          // -1: no conflict
        QTest::addColumn<QStringList>("buttons");
        QTest::addColumn<QStringList>("destination");   // the names there afterwards
        QTest::addColumn<bool>("sourceStays");
        const QStringList three{"Replace", "Make a Copy", "Stop"};
        QTest::newRow("move, free name") << false << false << -1 << QStringList() << QStringList{"p1.png"} << false;
        QTest::newRow("move, Replace") << false << false << 0 << three << QStringList{"p1.png"} << false;
        QTest::newRow("move, Make a Copy") << false << false << 1 << three << QStringList{"p1 2.png", "p1.png"}
                                           << false;
        QTest::newRow("move, Stop") << false << false << 2 << three << QStringList{"p1.png"} << true;
        QTest::newRow("copy, Replace") << true << false << 0 << three << QStringList{"p1.png"} << true;
        QTest::newRow("copy into its own folder") << true << true << 0 << QStringList{"Make a Copy", "Stop"}
                                                  << QStringList{"p0.png", "p1 2.png", "p1.png", "p2.png"} << true;
        QTest::newRow("move into its own folder") << false << true << -1 << QStringList()
                                                  << QStringList{"p0.png", "p1.png", "p2.png"} << true;
    }

    void moveAndCopyToAnswerTheSameNameSheet()
    {
        QFETCH(bool, copy);
        QFETCH(bool, ownFolder);
        QFETCH(int, answer);
        QFETCH(QStringList, buttons);
        QFETCH(QStringList, destination);
        QFETCH(bool, sourceStays);
        const QStringList paths = listedPictures(3);
        const QString source = paths.at(1);
        const QString folder = ownFolder ? QFileInfo(source).absolutePath() : lg::test::freshFolder(QStringLiteral("to"));
        const QByteArray occupant("occupant");
        if (!ownFolder && answer >= 0)
            lg::test::writeFile(folder + QStringLiteral("/p1.png"), occupant);
        lg::Panels::setOpenResponder([folder](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(folder)}; });
        lg::Alert::setResponder([answer](const lg::AlertSpec &) { return answer; });
        const QByteArray content = lg::test::readAll(source);
        viewimagevc *viewer = viewerOn(1);
        if (copy)
            viewer->itemCopyTO_menu();
        else
            viewer->itemMoveTO_menu();
        QTRY_VERIFY(!isBusy);
        QTRY_COMPARE(QDir(folder).entryList(QDir::Files, QDir::Name), destination);
        if (answer >= 0)
            QCOMPARE(lg::Alert::shownAlerts().value(0).buttons, buttons);
        QCOMPARE(QFileInfo::exists(source), sourceStays);
        const bool stopped = answer == int(buttons.size()) - 1;
        if (!ownFolder && answer >= 0)
            QCOMPARE(lg::test::readAll(folder + QStringLiteral("/p1.png")), stopped || answer == 1 ? occupant : content);
        // A move takes the item out of the viewer, which shows the next one.
        const bool moved = !copy && !sourceStays;
        QCOMPARE(itemList.size(), moved ? 2 : 3);
        QCOMPARE(viewer->lblfilename->text(), moved ? QStringLiteral("p2.png") : QStringLiteral("p1.png"));
    }

    // A move or a trash that arrives but for the tags the target cannot hold:
    // the alert names them, the item leaves the viewer, which shows the next
    // one, and its thumbnails follow it or go.
    void aMoveOrTrashThatArrivesButForItsTagsTakesTheItemOut_data()
    {
        QTest::addColumn<bool>("trash");
        QTest::newRow("moved onto a card") << false;
        QTest::newRow("put in a Trash on another disk") << true;
    }
    void aMoveOrTrashThatArrivesButForItsTagsTakesTheItemOut()
    {
        QFETCH(bool, trash);
        const QStringList paths = listedPictures(3, QStringLiteral("tagged"));
        const QString source = paths.at(1);
        if (::setxattr(QFile::encodeName(source).constData(), "user.xdg.tags", "beach", 5, 0) != 0)
            QSKIP("this file system holds no user attributes");
        const std::optional<lg::FileStamp> stamp = lg::FileStamp::of(source);
        QVERIFY(stamp && thumbnailCache().store());
        QImage image(16, 12, QImage::Format_RGB32);
        image.fill(Qt::darkCyan);
        QVERIFY(thumbnailCache().store()->save(source, *stamp, 256, image));
        const QString card = lg::test::freshFolder(QStringLiteral("card"));
        lg::setFileFaultForTesting([](lg::FileStep step, const QString &) {
            return step == lg::FileStep::Rename ? EXDEV : step == lg::FileStep::CopyAttributes ? EOPNOTSUPP : 0;
        });
        const auto clearFault = qScopeGuard([] { lg::setFileFaultForTesting({}); });
        lg::Panels::setOpenResponder([card](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(card)}; });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        viewimagevc *viewer = viewerOn(1);
        if (trash)
            viewer->deleteItem_menu();
        else
            viewer->itemMoveTO_menu();
        QTRY_VERIFY(!isBusy && !QFileInfo::exists(source));
        QTRY_COMPARE(viewer->lblfilename->text(), QStringLiteral("p2.png"));
        QCOMPARE(itemList.size(), 2);
        // Said as what happened: the item went, without its tags.
        const lg::AlertSpec said = lg::Alert::shownAlerts().last();
        QCOMPARE(said.title, trash ? QStringLiteral("The item was put in the Trash, but some of what it held could not be kept.")
                                   : QStringLiteral("The item was moved, but some of what it held could not be kept."));
        QCOMPARE(said.style, lg::AlertSpec::Style::Informational);
        QVERIFY2(said.text.startsWith(QStringLiteral("“p1.png”: ")) && said.text.contains(QStringLiteral("could not be kept"))
                     && !said.text.contains(QStringLiteral("could not be processed")),
                 qPrintable(said.text));
        QTRY_VERIFY(!thumbnailCache().isWriting());
        QVERIFY(!QFileInfo::exists(thumbnailCache().store()->entryPath(source, 256)));
        if (!trash)
            QVERIFY(thumbnailCache().store()->find(card + QStringLiteral("/p1.png"), *stamp, 200));
    }

    void gifFramesKeepTheirOwnDelays()
    {
        if (!fx::hasTool(QStringLiteral("convert")))
            QSKIP("ImageMagick's convert is not installed");
        const QString folder = lg::test::freshFolder(QStringLiteral("gifs"));
        const QString path = writeGif(folder + QStringLiteral("/ANIM.GIF"), {{"red", 10}, {"lime", 30}, {"blue", 0}});
        QVERIFY(!path.isEmpty());

        const AnimatedImage::Frames frames = AnimatedImage::readFrames(path);
        QCOMPARE(frames.images.size(), 3);
        QCOMPARE(frames.delaysMs, (QList<int> {100, 300, 50}));
        QCOMPARE(frames.totalSeconds, 0.45f);

        // Twenty frames without delays last a second.
        QList<std::pair<QString, int>> twenty;
        for (int i = 0; i < 20; ++i)
            twenty.append({i % 2 ? QStringLiteral("white") : QStringLiteral("black"), 0});
        const QString still = writeGif(folder + QStringLiteral("/twenty.gif"), twenty);
        QCOMPARE(AnimatedImage::readFrames(still).totalSeconds, 1.0f);
        // Not a GIF by its name, or not readable: no frames.
        QVERIFY(AnimatedImage::readFrames(writePicture(folder + QStringLiteral("/a.png"), {8, 8}, Qt::red)).images.isEmpty());
        QVERIFY(AnimatedImage::readFrames(lg::test::writeFile(folder + QStringLiteral("/bad.gif"), "nope")).images.isEmpty());

        // In the viewer, driven by the clock.
        lg::FakeClock clock;
        itemList = {itemFor(path, true), itemFor(folder + QStringLiteral("/a.png"), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->imgview->pixelSize(), QSize(8, 8));
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::red));
        clock.advance(99);
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::red));
        clock.advance(1);
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::green));
        clock.advance(299);
        QCOMPARE(viewer->animatedImage()->currentFrame(), 1);
        clock.advance(1);
        QCOMPARE(colorOf(viewer->imgview->currentImage()), QColor(Qt::blue));
        clock.advance(50);
        QCOMPARE(viewer->animatedImage()->currentFrame(), 0);

        // Showing another picture stops the animation.
        viewer->showNextItem();
        QVERIFY(!viewer->animatedImage()->isRunning());
    }

    void slideshowWaitsForTheEndOfAVideo()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("videos"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/clip.mp4"), QStringLiteral("color=c=red:s=64x48:d=0.6"),
                                            {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-pix_fmt"),
                                             QStringLiteral("yuv420p")});
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        lg::FakeClock clock;
        itemList = {itemFor(writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::blue), true),
                    itemFor(clip, false),
                    itemFor(writePicture(folder + QStringLiteral("/b.png"), {64, 48}, Qt::green), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        int frames = 0;
        QColor firstFrame;
        QObject receiver;   // the connection ends with the test
        QObject::connect(qobject_cast<QVideoWidget *>(viewer->avKitPlayer->videoView())->videoSink(), &QVideoSink::videoFrameChanged, &receiver,
                         [&](const QVideoFrame &frame) {
                             if (frames++ == 0)
                                 firstFrame = colorOf(frame.toImage());
                         });
        viewer->toggleSlideShow();
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);
        QVERIFY(!viewer->timerAutoplay->isActive());
        QTRY_VERIFY(viewer->videoPlayer);
        clock.advance(60000);
        QCOMPARE(selectedItemIndex, 1);

        // The end of the video restarts the interval.
        VideoPlayer *player = viewer->videoPlayer;
        QTRY_VERIFY_WITH_TIMEOUT(player->mediaStatus() == VideoPlayer::EndOfMedia ||
                                     player->mediaStatus() == VideoPlayer::InvalidMedia,
                                 15000);
        if (player->mediaStatus() == VideoPlayer::InvalidMedia)
            QSKIP("this system cannot play the generated clip");
        QVERIFY(viewer->timerAutoplay->isActive());
        QVERIFY(frames > 0);
        QVERIFY(fx::near(firstFrame, Qt::red));
        clock.advance(2999);
        QCOMPARE(selectedItemIndex, 1);
        clock.advance(1);
        QCOMPARE(selectedItemIndex, 2);
    }

    void aVideoThatCannotPlayDoesNotStallTheSlideshow()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("broken"));
        lg::FakeClock clock;
        itemList = {itemFor(writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::blue), true),
                    itemFor(lg::test::writeFile(folder + QStringLiteral("/broken.mp4"), QByteArray(4000, 'z')), false),
                    itemFor(lg::test::writeFile(folder + QStringLiteral("/vanished.mov"), "soon gone"), false),
                    itemFor(writePicture(folder + QStringLiteral("/b.png"), {64, 48}, Qt::green), true)};
        QVERIFY(itemList.at(2).file);
        QVERIFY(QFile::remove(folder + QStringLiteral("/vanished.mov")));
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        viewer->toggleSlideShow();
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->timerAutoplay->isActive(), 15000);
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 2);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->timerAutoplay->isActive(), 15000);
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 3);
    }

    void aHiddenVideoNeverPlaysOn()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("hidden"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/long.mp4"), QStringLiteral("color=c=blue:s=64x48:d=20"),
                                            {QStringLiteral("-c:v"), QStringLiteral("mpeg4"), QStringLiteral("-r"),
                                             QStringLiteral("5")});
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        itemList = {itemFor(clip, false), itemFor(writePicture(folder + QStringLiteral("/a.png"), {64, 48}, Qt::red), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->videoPlayer);
        QPointer<VideoPlayer> player = viewer->videoPlayer;
        QTRY_COMPARE_WITH_TIMEOUT(player->playbackState(), VideoPlayer::PlayingState, 10000);

        // Taken off the screen: paused.
        viewer->hide();
        QVERIFY(player->playbackState() != VideoPlayer::PlayingState);

        // Opened while off the screen (a list refresh does that): not started.
        viewer->openSelectedItem();
        QTRY_VERIFY(viewer->videoPlayer && viewer->videoPlayer != player);
        player = viewer->videoPlayer;
        QTest::qWait(300);
        QVERIFY(player->playbackState() != VideoPlayer::PlayingState);

        // On screen again it plays; a picture shown in its place stops it.
        viewer->show();
        QTRY_VERIFY(viewer->videoPlayer);
        player = viewer->videoPlayer;
        QTRY_COMPARE_WITH_TIMEOUT(player->playbackState(), VideoPlayer::PlayingState, 10000);
        viewer->showItem(itemList.at(1).file->url, true);
        QVERIFY(player.isNull() || player->playbackState() != VideoPlayer::PlayingState);
    }

    void slideshowImagesArriveWithTheChosenTransition()
    {
        if (!fx::hasTool(QStringLiteral("convert")))
            QSKIP("ImageMagick's convert is not installed");
        const QString folder = lg::test::freshFolder(QStringLiteral("transitions"));
        lg::FakeClock clock;
        itemList = {itemFor(writePicture(folder + QStringLiteral("/a.png"), {300, 200}, Qt::red), true),
                    itemFor(writePicture(folder + QStringLiteral("/b.png"), {300, 200}, Qt::blue), true),
                    itemFor(writeGif(folder + QStringLiteral("/c.gif"), {{"green", 10}, {"white", 10}}), true)};
        selectedItemIndex = 0;
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY(viewer->imgview->hasImage());
        const QString next = itemList.at(1).file->url.toLocalFile();
        QTRY_VERIFY(viewer->pictureLoader()->cached(PictureLoader::keyFor(next, viewer->decodeBound())).has_value());

        // Without a slideshow, no transition.
        viewer->showNextItem();
        QVERIFY(!viewer->transitionView->isRunning());
        viewer->showPreviousItem();

        viewer->pushFromTop();
        viewer->toggleSlideShow();
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 1);
        QVERIFY(viewer->transitionView->isRunning());
        QCOMPARE(viewer->transitionView->kind(), 2);
        QCOMPARE(viewer->transitionView->direction(), 3);
        // Half way, the new picture covers the top half.
        viewer->transitionView->animation()->setCurrentTime(250);
        const QImage shot = viewer->transitionView->grab().toImage();
        // (The 200 px high pictures stand in the middle: the new one's lower
        // half lies at the top, the old one's upper half at the bottom.)
        QVERIFY(fx::near(shot.pixelColor(shot.width() / 2, 50), Qt::blue, 24));
        QVERIFY(fx::near(shot.pixelColor(shot.width() / 2, shot.height() - 50), Qt::red, 24));
        QTRY_VERIFY(!viewer->transitionView->isRunning());
        QVERIFY(viewer->transitionView->isHidden());

        // An animated image arrives without one.
        clock.advance(3000);
        QCOMPARE(selectedItemIndex, 2);
        QVERIFY(!viewer->transitionView->isRunning());
        viewer->toggleSlideShow();
    }

    void theViewerTakesTheKeysAndStepsWithTheArrows()
    {
        currentScreenMode = ScreenGrid;
        lg::test::showHub();
        const QString folder = lg::test::freshFolder(QStringLiteral("keys"));
        for (const char *name : {"a.jpg", "b.jpg", "c.jpg"})
            lg::test::fixtures::writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), QImage(8, 8, QImage::Format_RGB32));
        QVERIFY(lg::test::reloadGrid(folder));
        QCOMPARE(itemList.size(), 3);
        GridView *view = thumbnailGrid()->collectionview;
        view->setFocus();
        selectedItemIndex = 0;
        contentController()->viewimage();
        viewimagevc *viewer = imageViewer();
        QTRY_VERIFY(viewer->isVisible());
        QTRY_VERIFY(viewer->hasFocus());
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Right);
        QCOMPARE(selectedItemIndex, 1);
        QCOMPARE(currentScreenMode, ScreenViewer);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QTest::keyClick(QApplication::focusWidget(), Qt::Key_Left);
        QCOMPARE(selectedItemIndex, 2);
        contentController()->buttonbackClicked();
    }

    void theEditCaptionWithAVideoAlertsOverTheViewer()
    {
        currentScreenMode = ScreenGrid;
        lg::test::showHub();
        const QString video = lg::test::writeFile(lg::test::freshFolder(QStringLiteral("video")) + "/clip.mp4");
        viewerItemURL = QUrl::fromLocalFile(video);
        viewimagevc *viewer = imageViewer();
        QSignalSpy edits(viewer->btneditImage, &QAbstractButton::clicked);
        QTest::mouseClick(viewer->btneditlabel, Qt::LeftButton);
        QCOMPARE(edits.count(), 1);
        QCOMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("This Image can not be edited."));
        QVERIFY(!editImageController || !editImageController->isVisible());
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

    // A turn of a file whose header claims more than may be decoded is refused
    // before anything is decoded, and the viewer says why; the file stays.
    void aTurnOfALyingHeaderSaysWhy()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("lying"));
        const QString path = lg::test::writeFile(folder + QStringLiteral("/claims.jpg"), lyingJpeg());
        const QByteArray before = lg::test::readAll(path);
        itemList = {Metadata::init(QUrl::fromLocalFile(path))};
        itemList[0].isImage = true;
        currentFolderURL = QUrl::fromLocalFile(folder);
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY_WITH_TIMEOUT(viewer->imgview->pictureKey() == path, 8000);
        viewer->RotateImageWithSender(2);
        QTRY_VERIFY(!isBusy && !viewer->isTransformRunning() && !lg::Alert::shownAlerts().isEmpty());
        const lg::AlertSpec said = lg::Alert::shownAlerts().last();
        QCOMPARE(said.title, QStringLiteral("Some items could not be processed."));
        QVERIFY2(said.text.contains(QStringLiteral("The picture claims 30000 × 30000 pixels")), qPrintable(said.text));
        QCOMPARE(lg::test::readAll(path), before);
    }

    // Viewing IMG_2009, another program puts the IMG_2010 photo in its place:
    // until the viewer shows the new picture no command acts on it, each says
    // the file was replaced, and the disk stays as it was.
    void commandsRefuseAFileThatTookTheShownName_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("copyThenRename");
        QTest::addColumn<bool>("whileAsked");   // replaced while the question or the panel is open
        for (const char *command : {"rotateRight90", "flipHorizontal", "deleteItem_menu", "itemMoveTO_menu"}) {
            QTest::addRow("%s, renamed over", command) << QString::fromLatin1(command) << false << false;
            QTest::addRow("%s, copied beside and renamed over", command) << QString::fromLatin1(command) << true << false;
        }
        QTest::newRow("deleteItem_menu, renamed over while asked") << "deleteItem_menu" << false << true;
        QTest::newRow("itemMoveTO_menu, copied over while choosing") << "itemMoveTO_menu" << true << true;
    }
    void commandsRefuseAFileThatTookTheShownName()
    {
        // Nothing of the earlier cases in the Trash: what lands there now is this case's.
        QDir(qEnvironmentVariable("XDG_DATA_HOME") + QStringLiteral("/Trash")).removeRecursively();
        QFETCH(QString, command);
        QFETCH(bool, copyThenRename);
        QFETCH(bool, whileAsked);
        const QStringList paths = listedPhotos(QStringLiteral("replaced"),
                                               {QStringLiteral("IMG_2009.jpg"), QStringLiteral("IMG_2010.jpg")});
        const QString shown = paths.at(0), other = paths.at(1);
        const QString target = lg::test::freshFolder(QStringLiteral("replacedTarget"));
        const QByteArray otherPhoto = lg::test::readAll(other);
        const auto replace = [=] { replaceFromOutside(other, shown, copyThenRename); };
        lg::Panels::setOpenResponder([=](const lg::OpenPanelSpec &) {
            if (whileAsked)
                replace();
            return QList<QUrl>{QUrl::fromLocalFile(target)};
        });
        lg::Alert::setResponder([=](const lg::AlertSpec &spec) {
            if (whileAsked && spec.buttons.value(0) == QLatin1String("Yes"))
                replace();
            return 0;
        });
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        if (!whileAsked) {
            // The command comes before the folder watch's reload has shown the new picture.
            replace();
        }
        viewer->menuWillOpen();
        QAction *action = viewer->imgviewMenu->findChild<QAction *>(command);
        QVERIFY(action && action->isEnabled());
        action->trigger();
        QTRY_VERIFY(!isBusy && !viewer->isTransformRunning() && !lg::Alert::shownAlerts().isEmpty());
        QTest::qWait(50);
        const lg::AlertSpec said = lg::Alert::shownAlerts().last();
        QCOMPARE(said.title, QStringLiteral("Some items could not be processed."));
        QCOMPARE(said.text, QStringLiteral("1 item could not be processed. \u201CIMG_2009.jpg\u201D: The item was "
                                           "replaced since it was opened."));
        // The other photo is where it now is, untouched; nothing went to the Trash or elsewhere.
        QCOMPARE(lg::test::readAll(shown), otherPhoto);
        QVERIFY(QDir(target).isEmpty());
        const QDir trash(lg::trashFolderFor(shown) + QStringLiteral("/files"));
        QVERIFY(!trash.exists() || trash.isEmpty());
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("IMG_2009.jpg"));
    }

    // Another program changes the shown file without a new name: in place
    // (same inode, an Orientation tag or bytes written, a later modification
    // time), or by deleting it and writing it again (ext4 often hands the
    // same inode back). A turn is refused and the file stays as written.
    void aTurnRefusesAFileChangedOrWrittenAgain_data()
    {
        QTest::addColumn<QString>("how");
        QTest::newRow("orientation changed in place") << "orientation";
        QTest::newRow("bytes changed in place") << "bytes";
        QTest::newRow("deleted and written again") << "rewritten";
    }
    void aTurnRefusesAFileChangedOrWrittenAgain()
    {
        QFETCH(QString, how);
        const QStringList paths = listedPhotos(QStringLiteral("changedInPlace"), {QStringLiteral("IMG_2009.jpg")});
        const QString shown = paths.first();
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        const QByteArray original = lg::test::readAll(shown);
        const quint64 inode = lg::fileIdentity(shown)->inode;
        if (how == QLatin1String("rewritten")) {
            QVERIFY(QFile::remove(shown));
            lg::test::writeFile(shown, original);
        } else {
            QFile file(shown);
            QVERIFY(file.open(QIODevice::ReadWrite));
            if (how == QLatin1String("orientation")) {
                // The Orientation entry (1) of the Exif block becomes 6, as a tag editor writes it in place.
                const QByteArray bigEndian("\x01\x12\x00\x03\x00\x00\x00\x01\x00\x01", 10);
                const QByteArray littleEndian("\x12\x01\x03\x00\x01\x00\x00\x00\x01\x00", 10);
                qsizetype at = original.indexOf(bigEndian);
                const bool big = at >= 0;
                if (!big)
                    at = original.indexOf(littleEndian);
                QVERIFY(at > 0);
                file.seek(at + 8);
                file.write(big ? QByteArray("\x00\x06", 2) : QByteArray("\x06\x00", 2));
            } else {
                file.seek(file.size() - 6);
                file.write("\x11\x22\x33\x44");
            }
            file.close();
            const struct timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 5, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(shown).constData(), later, 0) == 0);
            QCOMPARE(lg::fileIdentity(shown)->inode, inode);
        }
        const QByteArray onDisk = lg::test::readAll(shown);
        // Changed in place is the same file; written again is another one,
        // unless the file system hands back the inode and keeps no birth time.
        const lg::FileIdentity now = *lg::fileIdentity(shown);
        const bool sameFile = how != QLatin1String("rewritten") || (now.inode == inode && now.birthSeconds == 0);
        viewer->RotateImageWithSender(2);
        QTRY_VERIFY(!isBusy && !viewer->isTransformRunning() && !lg::Alert::shownAlerts().isEmpty());
        QCOMPARE(lg::Alert::shownAlerts().last().text,
                 QStringLiteral("1 item could not be processed. \u201CIMG_2009.jpg\u201D: The item was %1 "
                                "since it was opened.").arg(sameFile ? "changed" : "replaced"));
        QCOMPARE(lg::test::readAll(shown), onDisk);
    }

    // Another program writes a new picture over the shown name (a rename, or
    // new bytes into the same file): once the folder watch reloads, the
    // viewer shows the new picture with the zoom and place it had, and the
    // commands act on it.
    void theViewerFollowsAShownFileChangedOnDisk_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<bool>("fullImage");   // the full image layout, reloaded by the hub's folder watch
        QTest::newRow("renamed over") << false << false;
        QTest::newRow("written in place") << true << false;
        QTest::newRow("renamed over, full image") << false << true;
    }
    void theViewerFollowsAShownFileChangedOnDisk()
    {
        QFETCH(bool, inPlace);
        QFETCH(bool, fullImage);
        const QStringList paths = listedPhotos(QStringLiteral("follow"), {QStringLiteral("IMG_2009.jpg")});
        const QString shown = paths.first();
        QImage wide(600, 200, QImage::Format_RGB32);
        wide.fill(Qt::blue);
        const QString other = lg::test::fixtures::writeJpeg(lg::test::freshFolder(QStringLiteral("followOther"))
                                                                + QStringLiteral("/new.jpg"), wide);
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        viewer->btnzoomin->click();
        viewer->btnzoomin->click();
        viewer->scrollview->model().scrollTo(QPointF(40, 30));
        const double magnification = viewer->magnification();
        const QPointF origin = viewer->scrollview->model().origin();
        const int fit = viewer->fitStyle;
        if (inPlace) {
            QFile file(shown);
            QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
            file.write(lg::test::readAll(other));
            file.close();
        } else {
            QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(shown).constData()) == 0);
        }
        if (fullImage) {
            mainvc *hub = contentHub();
            currentScreenMode = ScreenFullImage;
            hub->reloaddata();   // as the folder watch does
        } else {
            viewer->reloadItems();   // as the folder watch does
        }
        QTRY_COMPARE_WITH_TIMEOUT(viewer->imgview->pixelSize(), QSize(600, 200), 8000);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("IMG_2009.jpg"));
        QCOMPARE(viewer->magnification(), magnification);
        QCOMPARE(viewer->scrollview->model().origin(), origin);
        QCOMPARE(viewer->fitStyle, fit);
        const QRgb shownColour = viewer->imgview->currentImage().pixel(viewer->imgview->currentImage().rect().center());
        QVERIFY2(qBlue(shownColour) > 200 && qRed(shownColour) < 60, qPrintable(QString::number(shownColour, 16)));
        // Commands act on the new picture.
        viewer->RotateImageWithSender(2);
        QTRY_VERIFY(!isBusy && !viewer->isTransformRunning());
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        QImageReader turned(shown);   // 200 rows are not whole blocks: the turn may be in the tag
        turned.setAutoTransform(true);
        QCOMPARE(turned.read().size(), QSize(200, 600));
    }

    // The viewer's own rewrite takes the name over: the written file is the
    // one on show, whether turned in place or saved from the panel over itself.
    void theViewersOwnRewriteStaysTheShownFile_data()
    {
        QTest::addColumn<bool>("throughThePanel");
        QTest::newRow("turned in place, twice") << false;
        QTest::newRow("saved from the panel over itself") << true;
    }
    void theViewersOwnRewriteStaysTheShownFile()
    {
        QFETCH(bool, throughThePanel);
        const QStringList paths = listedPhotos(QStringLiteral("ownRewrite"), {QStringLiteral("IMG_2009.jpg")});
        const QString shown = paths.first();
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        if (throughThePanel) {
            // The write in place fails; the panel's answer is the file itself.
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });
            Saver::setPanelResponderForTesting([shown](const QString &) {
                lg::ImageWriter::setCommitHookForTesting({});
                return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(shown, SaveFormatChoice()));
            });
            const QByteArray before = lg::test::readAll(shown);
            viewer->RotateImageWithSender(2);
            QTRY_VERIFY(lg::test::readAll(shown) != before);
            QTRY_VERIFY(!isBusy);
        } else {
            viewer->RotateImageWithSender(2);
            QTRY_VERIFY(!viewer->isTransformRunning());
        }
        viewer->RotateImageWithSender(2);
        QTRY_VERIFY(!viewer->isTransformRunning());
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        QCOMPARE(QImage(shown).size(), QSize(400, 300));   // two quarter turns
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });   // "No"
        viewer->deleteItem_menu();
        QTRY_VERIFY(!isBusy);
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().buttons, (QStringList{"Yes", "No"}));
    }

    // A turn that cannot be written in place opens the save panel, whose
    // message line says so and why, in the system's words where it gave a
    // reason (a JPEG turned without loss, and a PNG written anew); the file
    // stays as it was.
    void aTurnNotWrittenInPlaceSaysWhyInThePanel_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("how");      // "read-only file", "stopped" (no reason given), "errno" at the rename, "no writer"
        QTest::addColumn<int>("errorNumber");
        QTest::addColumn<QString>("why");
        QTest::newRow("no permission on the file") << "IMG_2009.jpg" << "read-only file" << 0
                                                   << QStringLiteral("you do not have permission to change it. Save");
        QTest::newRow("the write stopped, no reason known") << "IMG_2009.jpg" << "stopped" << 0
                                                            << QStringLiteral("it could not be written. Save");
        QTest::newRow("read-only folder") << "IMG_2009.jpg" << "errno" << int(EROFS)
                                          << QStringLiteral("the folder is read-only. Save");
        QTest::newRow("permission denied") << "IMG_2009.jpg" << "errno" << int(EACCES)
                                           << QStringLiteral("permission denied. Save");
        QTest::newRow("operation not permitted") << "IMG_2009.jpg" << "errno" << int(EPERM)
                                                 << QStringLiteral("permission denied. Save");
        QTest::newRow("disk full, PNG") << "IMG_2009.png" << "errno" << int(ENOSPC)
                                        << QStringLiteral("the disk is full. Save");
        QTest::newRow("read-only folder, PNG") << "IMG_2009.png" << "errno" << int(EROFS)
                                               << QStringLiteral("the folder is read-only. Save");
        QTest::newRow("an error without words of its own") << "IMG_2009.jpg" << "errno" << int(EXDEV)
                                                           << QStringLiteral("it could not be written. Save");
        QTest::newRow("no writer for the type, HEIC") << "phone.heic" << "no writer" << 0
                                                      << QStringLiteral("this system has no writer for HEIC pictures. Save");
    }
    void aTurnNotWrittenInPlaceSaysWhyInThePanel()
    {
        QFETCH(QString, name);
        QFETCH(QString, how);
        QFETCH(int, errorNumber);
        QFETCH(QString, why);
        const QStringList paths = listedPhotos(QStringLiteral("notInPlace"), {name});
        const QString shown = paths.first();
        if (name.endsWith(QLatin1String(".png"))) {
            QVERIFY(QFile::remove(shown));
            QVERIFY(lg::test::fixtures::quadrants(QSize(400, 300)).save(shown, "PNG"));
        } else if (name.endsWith(QLatin1String(".heic"))) {
            QVERIFY(QFile::remove(shown));
            QVERIFY(!lg::test::fixtures::writeHeic(shown, lg::test::fixtures::quadrants(QSize(400, 300))).isEmpty());
        }
        if (how == QLatin1String("read-only file"))
            QVERIFY(QFile::setPermissions(shown, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        else if (how == QLatin1String("stopped"))
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });
        else if (how == QLatin1String("errno"))
            lg::setFileFaultForTesting([errorNumber](lg::FileStep step, const QString &) {
                return step == lg::FileStep::FinalRename ? errorNumber : 0;
            });
        const QByteArray before = lg::test::readAll(shown);
        QString said;
        lg::Panels::setSaveResponder([&said](const lg::SavePanelSpec &spec) {
            said = spec.message;
            return QUrl();
        });
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        viewer->RotateImageWithSender(2);
        QTRY_VERIFY(!said.isEmpty() && !isBusy);
        lg::Panels::setSaveResponder({});
        lg::setFileFaultForTesting({});
        QVERIFY2(said.startsWith(QStringLiteral("\u201C%1\u201D cannot be written in place: ").arg(name)), qPrintable(said));
        QVERIFY2(said.contains(why), qPrintable(said));
        QCOMPARE(lg::test::readAll(shown), before);
        // Nothing of the attempt is left beside the file.
        QCOMPARE(QDir(QFileInfo(shown).absolutePath()).entryList(QDir::Files | QDir::Hidden), QStringList{name});
    }

    // A turn changes the picture only: the zoom, the scroll position and the fit stay.
    void aTurnKeepsTheZoomAndTheFit_data()
    {
        QTest::addColumn<bool>("zoomedIn");
        QTest::newRow("zoomed in twice") << true;
        QTest::newRow("fitted to the view") << false;
    }
    void aTurnKeepsTheZoomAndTheFit()
    {
        QFETCH(bool, zoomedIn);
        const QStringList paths = listedPhotos(QStringLiteral("zoomTurn"), {QStringLiteral("IMG_2009.jpg")});
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        if (zoomedIn) {
            viewer->btnzoomin->click();
            viewer->btnzoomin->click();
            viewer->scrollview->model().scrollTo(QPointF(120, 90));
        } else {
            viewer->setImage_fittoView();
        }
        const double magnification = viewer->magnification();
        const QPointF origin = viewer->scrollview->model().origin();
        const int fit = viewer->fitStyle;
        QVERIFY(magnification > 1.5);
        viewer->menuWillOpen();
        QAction *rotateLeft = viewer->imgviewMenu->findChild<QAction *>(QStringLiteral("rotateLeft90"));
        QVERIFY(rotateLeft && rotateLeft->isEnabled());
        rotateLeft->trigger();
        QTRY_VERIFY(!viewer->isTransformRunning());
        QCOMPARE(QImage(paths.first()).size(), QSize(300, 400));
        QCOMPARE(viewer->imgview->pixelSize(), QSize(300, 400));
        QCOMPARE(viewer->magnification(), magnification);
        QCOMPARE(viewer->sliderValue(), magnification);
        QCOMPARE(viewer->scrollview->model().origin(), origin);
        QCOMPARE(viewer->fitStyle, fit);
        QCOMPARE(viewer->imageManuallyZoomedByUser, zoomedIn);
        // The next item is fitted again, as every newly shown one is.
        viewer->showNextItem();
        QTRY_VERIFY(viewer->imgview->hasImage());
        if (zoomedIn)
            QCOMPARE(viewer->magnification(), 1.0);
    }

    // IMG_2008 on show is moved out of the folder by another program while a
    // photo that sorts first arrives: the viewer goes on to the photo that
    // stood after it (round to the start), not to the first one, and steps
    // on plainly from there, however often the folder is listed again.
    void nextAndPreviousGoOnFromAShownFileThatLeft_data()
    {
        QTest::addColumn<QStringList>("alsoRemoved");
        QTest::addColumn<int>("reloads");
        QTest::addColumn<QString>("expected");
        QTest::newRow("next") << QStringList() << 1 << "IMG_2009.jpg";
        QTest::newRow("next, after two reloads") << QStringList() << 2 << "IMG_2009.jpg";
        QTest::newRow("the one after gone too: round to the start") << QStringList{"IMG_2009.jpg"} << 1
                                                                     << "IMG_2006.jpg";
    }
    void nextAndPreviousGoOnFromAShownFileThatLeft()
    {
        QFETCH(QStringList, alsoRemoved);
        QFETCH(int, reloads);
        QFETCH(QString, expected);
        const QStringList paths = listedPhotos(QStringLiteral("left"), {"IMG_2006.jpg", "IMG_2007.jpg", "IMG_2008.jpg",
                                                                        "IMG_2009.jpg"});
        const QString folder = QFileInfo(paths.first()).absolutePath();
        viewimagevc *viewer = viewerOn(2);
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("IMG_2008.jpg"));
        const QString elsewhere = lg::test::freshFolder(QStringLiteral("leftElsewhere")) + QStringLiteral("/IMG_2008.jpg");
        QVERIFY(QFile::rename(paths.at(2), elsewhere));
        QVERIFY(QFile::copy(elsewhere, folder + QStringLiteral("/Holiday.jpg")));
        for (const QString &name : alsoRemoved)
            QVERIFY(QFile::remove(folder + QLatin1Char('/') + name));
        for (int i = 0; i < reloads; ++i) {
            viewer->reloadItems();
            QTRY_COMPARE(itemList.value(0).file->url.fileName(), QStringLiteral("Holiday.jpg"));
            QCOMPARE(itemList.size(), 4 - alsoRemoved.size());
            QTRY_COMPARE(viewer->lblfilename->text(), expected);
        }
        QCOMPARE(itemList.at(selectedItemIndex).file->url.fileName(), expected);
        // From there on, plain stepping.
        const int at = selectedItemIndex;
        viewer->showNextItem();
        QCOMPARE(selectedItemIndex, (at + 1) % int(itemList.size()));
    }

    // Another program deletes the shown photo, or moves it out of the folder:
    // as soon as the folder watch reports it the viewer moves on to the photo
    // that stood after it (round to the first after the last), or to "No
    // media files found" when it was the only one. Renamed within the folder,
    // it is still there: the viewer stays on it under its new name, and its
    // commands act on it there.
    void aShownFileThatLeftGivesWayOnTheFolderWatch_data()
    {
        QTest::addColumn<int>("shown");
        QTest::addColumn<QString>("how");
        QTest::addColumn<int>("photos");
        QTest::addColumn<QString>("expected");   // the name shown after; empty: no media files
        QTest::newRow("deleted") << 1 << "deleted" << 3 << "IMG_2003.jpg";
        QTest::newRow("deleted, the last") << 2 << "deleted" << 3 << "IMG_2001.jpg";
        QTest::newRow("moved out of the folder") << 0 << "moved out" << 3 << "IMG_2002.jpg";
        QTest::newRow("deleted, the only one") << 0 << "deleted" << 1 << "";
        QTest::newRow("renamed within the folder") << 1 << "renamed" << 3 << "Holiday.jpg";
    }
    void aShownFileThatLeftGivesWayOnTheFolderWatch()
    {
        QFETCH(int, shown);
        QFETCH(QString, how);
        QFETCH(int, photos);
        QFETCH(QString, expected);
        mainvc *hub = contentHub();   // made first: its content starts on the grid
        currentScreenMode = ScreenViewer;
        const QStringList names = QStringList{"IMG_2001.jpg", "IMG_2002.jpg", "IMG_2003.jpg"}.mid(0, photos);
        const QStringList paths = listedPhotos(QStringLiteral("leaves"), names);
        const QString folder = QFileInfo(paths.first()).absolutePath();
        viewimagevc *viewer = viewerOn(shown);
        QTRY_VERIFY(viewer->imgview->hasImage());
        QCOMPARE(viewer->lblfilename->text(), names.at(shown));
        hub->startMonitorWithSender();
        QVERIFY(hub->monitor && hub->monitor->isValid());
        if (how == QLatin1String("deleted")) {
            QVERIFY(QFile::remove(paths.at(shown)));
        } else if (how == QLatin1String("moved out")) {
            const QString elsewhere = lg::test::freshFolder(QStringLiteral("leavesElsewhere"));
            QVERIFY(QFile::rename(paths.at(shown), elsewhere + QLatin1Char('/') + names.at(shown)));
        } else {
            QVERIFY(QFile::rename(paths.at(shown), folder + QStringLiteral("/Holiday.jpg")));
        }
        // The watch reports, the hub reloads once the folder is quiet, the viewer follows.
        const auto listed = [](const QString &name) {
            return std::any_of(itemList.cbegin(), itemList.cend(), [&name](const InitialDirectory &item) {
                return item.file && item.file->url.fileName() == name;
            });
        };
        QTRY_VERIFY_WITH_TIMEOUT(!listed(names.at(shown)) && !hub->timerReload->isActive(), 5000);
        QCOMPARE(listed(QStringLiteral("Holiday.jpg")), how == QLatin1String("renamed"));
        if (expected.isEmpty()) {
            QTRY_VERIFY_WITH_TIMEOUT(!viewer->box_nofilefound->isHidden(), 2000);
            QVERIFY(viewer->imgview->isHidden());
            QVERIFY(!viewer->btneditImage->isEnabled());
        } else {
            QTRY_COMPARE_WITH_TIMEOUT(viewer->lblfilename->text(), expected, 2000);
            QVERIFY(viewer->box_nofilefound->isHidden());
            QTRY_VERIFY(viewer->imgview->hasImage());
            // The commands act on the photo now shown.
            QVERIFY(selectedItemIndex >= 0 && selectedItemIndex < itemList.size());
            QCOMPARE(itemList.at(selectedItemIndex).file->url.fileName(), expected);
            viewer->menuWillOpen();
            QAction *rotate = viewer->imgviewMenu->findChild<QAction *>(QStringLiteral("rotateMenu"));
            QVERIFY(rotate && rotate->isEnabled());
            if (how == QLatin1String("renamed")) {
                // Trashed under its new name, with no word of a file that left.
                viewer->alertforDeleteImage();
                QTRY_VERIFY_WITH_TIMEOUT(!QFileInfo::exists(folder + QStringLiteral("/Holiday.jpg")), 5000);
                QVERIFY2(lg::Alert::shownAlerts().size() <= 1, "only the question is asked");
                for (const lg::AlertSpec &alert : lg::Alert::shownAlerts())
                    QVERIFY2(!alert.text.contains(QStringLiteral("no longer")), qPrintable(alert.text));
            }
        }
        hub->stopMonitorWithSender();
    }

    // The shown folder renamed ("mv Trip Trip2023") or removed: once the
    // folder watch reloads, "No media files found" shows and nothing is
    // offered to act on; Edit opens no editor, not even on a photo of another
    // folder edited earlier, and the editor never shows that photo's name.
    void aShownFolderRenamedOrRemovedLeavesNothingToActOn_data()
    {
        QTest::addColumn<bool>("removed");
        QTest::newRow("renamed") << false;
        QTest::newRow("removed") << true;
    }
    void aShownFolderRenamedOrRemovedLeavesNothingToActOn()
    {
        QFETCH(bool, removed);
        const QString earlier = lg::test::fixtures::writeJpeg(lg::test::freshFolder(QStringLiteral("Earlier"))
                                                                  + QStringLiteral("/IMG_0001.jpg"),
                                                              lg::test::fixtures::quadrants(QSize(40, 30)));
        mainvc *hub = contentHub();
        hub->resize(1000, 700);
        viewerItemURL = QUrl::fromLocalFile(earlier);
        hub->showEditImagevc();
        QTRY_VERIFY(editImageController->isLoaded());
        editImageController->closeEditor();

        const QStringList paths = listedPhotos(QStringLiteral("Trip"), {QStringLiteral("IMG_2009.jpg"),
                                                                        QStringLiteral("IMG_2010.jpg")});
        const QString folder = QFileInfo(paths.first()).absolutePath();
        viewimagevc *viewer = viewerOn(0);
        QTRY_VERIFY(viewer->imgview->hasImage());
        QVERIFY(viewer->btneditImage->isEnabled());
        if (removed)
            QVERIFY(QDir(folder).removeRecursively());
        else
            QVERIFY(QDir().rename(folder, folder + QStringLiteral("2023")));
        viewer->reloadItems();   // as the folder watch does
        QTRY_VERIFY(!viewer->box_nofilefound->isHidden());
        QVERIFY(!viewer->btneditImage->isEnabled());
        QVERIFY(!viewer->btneditlabel->isEnabled());   // the word looks disabled too
        viewer->menuWillOpen();
        for (const char *name : {"menuShowinFinder", "SetWallpaper", "copyItem_menu", "deleteItem_menu",
                                 "itemMoveTO_menu", "itemCopyTO_menu", "rotateMenu", "openWithApplication"}) {
            QAction *action = viewer->imgviewMenu->findChild<QAction *>(QString::fromLatin1(name));
            QVERIFY2(action && !action->isEnabled(), name);
        }
        viewer->showEditview();
        QTest::qWait(50);
        QVERIFY(!editImageController->selfViewVisible);
        // Whatever opens the editor now finds no file, and shows no name of another.
        lg::Alert::setResponder([](const lg::AlertSpec &) { return -1; });
        editImageController->loadImage();
        QCOMPARE(editImageController->lblfilename->text(), QString());
        QCOMPARE(lg::Alert::shownAlerts().last().title, QStringLiteral("This Image can not be edited."));
        hub->hide();
    }

    // A name longer than the title shows its start and its extension, "…" between.
    void aLongNameIsCutInTheMiddle()
    {
        const QString name = QStringLiteral("Summer_holiday_at_the_lake_with_the_whole_family_and_friends_"
                                            "2021-06-05_14-30-00_final_export.jpg");
        listedPhotos(QStringLiteral("longName"), {name});
        viewimagevc *viewer = viewerOn(0, QSize(520, 400));
        QTRY_VERIFY(viewer->imgview->hasImage());
        const auto shownFits = [viewer](const QString &text) {
            return QFontMetrics(viewer->lblfilename->font()).horizontalAdvance(text)
                   <= viewer->lblfilename->contentsRect().width();
        };
        QString shown = viewer->lblfilename->text();
        QVERIFY2(shown.startsWith(QStringLiteral("Summer_holiday")), qPrintable(shown));
        QVERIFY2(shown.endsWith(QStringLiteral("_export.jpg")), qPrintable(shown));
        QCOMPARE(shown.count(QChar(0x2026)), 1);
        QVERIFY(shown.length() < name.length());
        QVERIFY(shownFits(shown));
        // Wider: cut again, showing more; wide enough: the whole name.
        viewer->resize(760, 400);
        QTRY_VERIFY(viewer->lblfilename->text().length() > shown.length());
        shown = viewer->lblfilename->text();
        QVERIFY(shown.endsWith(QStringLiteral(".jpg")) && shownFits(shown));
        viewer->resize(1600, 400);
        QTRY_COMPARE(viewer->lblfilename->text(), name);
        // A short name shows whole.
        viewer->resize(520, 400);
        viewer->lblfilename->setText(QStringLiteral("IMG_2009.jpg"));
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("IMG_2009.jpg"));
    }
};

LG_TEST(ViewerTest)
#include "test_viewer.moc"
