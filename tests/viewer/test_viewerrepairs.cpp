// Repairs in the viewer: a file with no picture to show (damaged, empty, fake,
// a decompression-bomb header, a broken video) shows its file-type icon, and
// the next and previous buttons go on from it; commands refuse a file that
// took the shown one's name; a turn keeps the zoom; next and previous go on
// from a shown file that left the folder; a long name is cut in the middle.
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "controls/CursorButtons.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "model/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/files/FileIdentity.h"
#include "platform/files/FileOperations.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Timer.h"
#include "platform/image/ImageWriter.h"
#include "platform/desktop/Panels.h"
#include "platform/files/Trash.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QBuffer>
#include <QDir>
#include <QFontMetrics>
#include <QImageReader>
#include <QLabel>
#include <QPushButton>
#include <QMenu>
#include <QSlider>
#include <QtEndian>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>

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

viewimagevc *viewerOn(int index, QSize size = QSize(800, 600))
{
    selectedItemIndex = index;
    viewimagevc *viewer = imageViewer();
    viewer->resize(size);
    viewer->show();
    return viewer;
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

class ViewerRepairsTest : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        viewerItemURL.reset();
        currentScreenMode = ScreenViewer;
        lg::Alert::clearShownAlerts();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
    }
    void cleanup()
    {
        if (auto *viewer = qobject_cast<viewimagevc *>(lg::ControllerRegistry::existing(QStringLiteral("viewimagevc"))))
            viewer->hide();
        lg::Panels::setOpenResponder({});
        lg::ImageWriter::setCommitHookForTesting({});
        lg::setFileFaultForTesting({});
        Saver::setPanelResponderForTesting({});
        lg::Alert::setResponder({});
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
        QTest::addColumn<QString>("how");      // "read-only file", "stopped" (no reason given), or an errno at the rename
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
        }
        if (how == QLatin1String("read-only file"))
            QVERIFY(QFile::setPermissions(shown, QFileDevice::ReadOwner | QFileDevice::ReadGroup | QFileDevice::ReadOther));
        else if (how == QLatin1String("stopped"))
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });
        else
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

LG_TEST(ViewerRepairsTest)
#include "test_viewerrepairs.moc"
