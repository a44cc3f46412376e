// The collage screen as a person uses it: the saved image, swapping slotList by
// their handles, the controls, adding and removing photos, and leaving.
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "model/ThumbnailCache.h"
#include "collage/CollageRender.h"
#include "collage/CollageScan.h"
#include "collage/CollageSlots.h"
#include "collage/collagevc.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/files/names/FileNames.h"
#include "sidebar/DropView.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/TestSupport.h"
#include "tests/support/WidgetTesting.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDrag>
#include <QFileInfo>
#include <QLoggingCategory>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>
#include <QSignalSpy>
#include <QSlider>

#include <QSplitter>
#include <QStyleHints>
#include <QToolButton>
#include <fcntl.h>
#include <memory>
#include <unistd.h>

#include <sqlite3.h>

using lg::test::fixtures::near;

namespace {

QImage solid(const QColor &color)
{
    QImage image(400, 300, QImage::Format_RGB32);
    image.fill(color);
    return image;
}

// Draws the photos in list order, one after another.
PhotoPicker inTurn()
{
    auto next = std::make_shared<qsizetype>(0);
    return [next](qsizetype count) { return (*next)++ % count; };
}

void drop(QWidget *target, QMimeData *mime)
{
    QDragEnterEvent enter(QPoint(target->width() / 2, target->height() / 2), Qt::CopyAction, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    QDropEvent event(QPointF(target->width() / 2.0, target->height() / 2.0), Qt::CopyAction, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &event);
}

// A drag released at `at` (window coordinates) as Qt delivers it: to the
// widget there or the nearest parent that takes drops (the window's own drop
// target in the end). What that target did with it.
Qt::DropAction releaseOver(QWidget *window, QPoint at, const QMimeData *mime, Qt::DropActions offered)
{
    QWidget *target = window->childAt(at);
    if (!target)
        target = window;
    while (target && !target->acceptDrops())
        target = target->parentWidget();
    if (!target)
        return Qt::IgnoreAction;
    const QPoint local = target->mapFrom(window, at);
    QDragEnterEvent enter(local, offered, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &enter);
    if (!enter.isAccepted())
        return Qt::IgnoreAction;
    QDropEvent release(QPointF(local), offered, mime, Qt::LeftButton, {});
    QCoreApplication::sendEvent(target, &release);
    return release.isAccepted() ? release.dropAction() : Qt::IgnoreAction;
}

// Presses the slot's handle and moves far enough for a drag.
void dragHandle(collageCellvc *slot)
{
    lg::test::enter(slot, QPointF(5, 5));
    QTest::mousePress(slot->btn, Qt::LeftButton, {}, QPoint(5, 5));
    QMouseEvent move(QEvent::MouseMove, QPointF(40, 40), slot->btn->mapToGlobal(QPointF(40, 40)), Qt::NoButton,
                     Qt::LeftButton, {});
    QCoreApplication::sendEvent(slot->btn, &move);
}

QList<QUrl> shownPhotos(const QList<collageCellvc *> &slotList)
{
    QList<QUrl> urls;
    for (collageCellvc *slot : slotList)
        urls << slot->imgview->imgurl.value_or(QUrl());
    return urls;
}

// A Photos library (the current layout) in folder holding the given files
// under originals/B, one asset each.
QString writePhotosLibrary(const QString &folder, const QList<std::pair<QString, QImage>> &files)
{
    const QString lib = folder + QStringLiteral("/Photos Library.photoslibrary");
    QDir().mkpath(lib + QStringLiteral("/database"));
    sqlite3 *db = nullptr;
    if (sqlite3_open(QFile::encodeName(lib + QStringLiteral("/database/Photos.sqlite")).constData(), &db) != SQLITE_OK)
        return QString();
    sqlite3_exec(db,
                 "CREATE TABLE ZASSET (Z_PK INTEGER PRIMARY KEY, ZUUID VARCHAR, ZDIRECTORY VARCHAR,"
                 " ZFILENAME VARCHAR, ZKIND INTEGER, ZTRASHEDSTATE INTEGER);"
                 "CREATE TABLE ZADDITIONALASSETATTRIBUTES (Z_PK INTEGER PRIMARY KEY, ZASSET INTEGER,"
                 " ZORIGINALFILENAME VARCHAR, ZORIGINALFILESIZE INTEGER);"
                 "CREATE TABLE ZGENERICALBUM (Z_PK INTEGER PRIMARY KEY, ZTITLE VARCHAR, ZKIND INTEGER);"
                 "CREATE TABLE Z_26ASSETS (Z_26ALBUMS INTEGER, Z_3ASSETS INTEGER, Z_FOK_3ASSETS INTEGER);",
                 nullptr, nullptr, nullptr);
    for (qsizetype i = 0; i < files.size(); ++i) {
        sqlite3_stmt *insert = nullptr;
        sqlite3_prepare_v2(db, "INSERT INTO ZASSET VALUES (?, ?, 'B', ?, 0, 0)", -1, &insert, nullptr);
        const QByteArray uuid = "U" + QByteArray::number(i);
        const QByteArray name = files.at(i).first.toUtf8();
        sqlite3_bind_int(insert, 1, int(i + 1));
        sqlite3_bind_text(insert, 2, uuid.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_bind_text(insert, 3, name.constData(), -1, SQLITE_TRANSIENT);
        sqlite3_step(insert);
        sqlite3_finalize(insert);
        QDir().mkpath(lib + QStringLiteral("/originals/B"));
        files.at(i).second.save(lib + QStringLiteral("/originals/B/") + files.at(i).first, "PNG");
    }
    sqlite3_close(db);
    return lib;
}

// The colour in the middle of what the strip shows for row.
QColor stripColor(QAbstractItemModel *strip, int row)
{
    const QIcon icon = strip->index(row, 0).data(Qt::DecorationRole).value<QIcon>();
    const QList<QSize> sizes = icon.availableSizes();
    if (sizes.isEmpty() || sizes.first().width() < 100)
        return QColor();   // the placeholder, not a thumbnail yet
    const QImage image = icon.pixmap(sizes.first()).toImage();
    return image.pixelColor(image.width() / 2, image.height() / 2);
}

} // namespace

class TestCollage : public QObject
{
    Q_OBJECT

    QString m_folder;
    QStringList m_photos;
    const QList<QColor> m_colors{Qt::red, Qt::green, Qt::blue, Qt::yellow};

    collagevc *openCollage(int rows, int columns)
    {
        mainWindowController *window = mainWindow();
        window->setContentViewController(contentHub());
        window->resize(1400, 900);
        window->show();
        collagevc *collage = collageMaker();
        collage->setPhotoPickerForTesting(inTurn());
        contentHub()->showCollagevc();
        DropView::install(window);   // the window's own drop target, as at start-up
        collage->textfieldRows->setText(QString::number(rows));
        collage->controlTextDidChange(collage->textfieldRows);
        collage->textfieldColumn->setText(QString::number(columns));
        collage->controlTextDidChange(collage->textfieldColumn);
        collage->btngrid();
        QCoreApplication::processEvents();
        return collage;
    }

    QList<collageCellvc *> shownSlots(collagevc *collage)
    {
        QList<collageCellvc *> slotList;
        for (collageCellvc *slot : collage->cellSlots()) {
            if (!slot->isHidden())
                slotList << slot;
        }
        return slotList;
    }

private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::setResponder({});
        lg::Alert::clearShownAlerts();
        m_folder = lg::test::freshFolder(QStringLiteral("photos"));
        m_photos.clear();
        for (int i = 0; i < m_colors.size(); ++i)
            m_photos << lg::test::fixtures::writeQtImage(m_folder + QStringLiteral("/p%1.png").arg(i), solid(m_colors.at(i)));
    }
    void cleanupTestCase() { resetSharedState(); }

    // A folder's photos are found by their names' bytes: one whose name is not
    // valid UTF-8 is found as itself beside its look-alike, inside a folder
    // whose name is not valid UTF-8 either.
    void photosAreFoundByTheirNamesBytes()
    {
        const QByteArray folder = lg::FileNames::toNative(m_folder) + "/trip \xe9";
        QCOMPARE(::mkdir(folder.constData(), 0700), 0);
        const QByteArray stray = folder + "/caf\xe9.jpg";
        const auto cleanup = qScopeGuard([folder, stray] {
            ::unlink(stray.constData());
            ::unlink((folder + "/caf\xef\xbf\xbd.jpg").constData());
            ::rmdir(folder.constData());
        });
        for (const QByteArray &name : {stray, folder + "/caf\xef\xbf\xbd.jpg"}) {
            const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
            QVERIFY(fd >= 0);
            ::close(fd);
        }
        const QString folderPath = lg::FileNames::fromNative(folder);
        const QList<QUrl> found = scanCollagePhotos({lg::FileNames::urlOf(folderPath)}, {});
        QCOMPARE(found, (QList<QUrl>{lg::FileNames::urlOf(lg::FileNames::fromNative(stray)),
                                     lg::FileNames::urlOf(folderPath + QStringLiteral("/caf\uFFFD.jpg"))}));
    }

    void savedImageHasTheOutputSizeAndEachPhotoInItsSlot()
    {
        for (const QString &path : std::as_const(m_photos))
            collagePhotoList.append(arrayStruct{QUrl::fromLocalFile(path), false});
        collagevc *collage = openCollage(2, 2);
        collage->btnLandscapeclciked();
        collage->framechangedWithSender(1);
        QCOMPARE(collage->btnSelectsize->text(), QStringLiteral("1024.0 X 768.0 pixel"));
        QCoreApplication::processEvents();
        const QList<collageCellvc *> slotList = shownSlots(collage);
        QCOMPARE(slotList.size(), 4);
        QTRY_VERIFY(std::all_of(slotList.begin(), slotList.end(), [](collageCellvc *s) { return !s->imgview->image().isNull(); }));

        // Through the save panel: the file has the output size, and each
        // slot's centre shows the colour of its own photo.
        const QString target = m_folder + QStringLiteral("/out/collage.png");
        QDir().mkpath(m_folder + QStringLiteral("/out"));
        Saver::setPanelResponderForTesting([target](const QString &name) {
            SaveFormatChoice choice;
            choice.type = lg::ImageFileType::PNG;
            Q_UNUSED(name);
            return std::optional<std::pair<QString, SaveFormatChoice>>({target, choice});
        });
        collage->saver->openAfterSave = false;
        isCollageSaved = false;
        collage->btnsave();
        QTRY_VERIFY(isCollageSaved);
        const QImage saved(target);
        QCOMPARE(saved.size(), QSize(1024, 768));
        const QSizeF canvas(collage->mainCustomBox->size());
        for (collageCellvc *slot : slotList) {
            const QPointF centre = QRectF(slot->geometry()).translated(collage->customview->pos()).center();
            const QPoint at(int(centre.x() * 1024 / canvas.width()), int(centre.y() * 768 / canvas.height()));
            const int index = int(m_photos.indexOf(slot->imgview->imgurl->toLocalFile()));
            QVERIFY2(near(saved.pixel(at), m_colors.at(index), 11), qPrintable(slot->imgview->imgurl->fileName()));
        }

        // A write that fails is reported and leaves the collage unsaved.
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        Saver::setPanelResponderForTesting([this](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(
                {m_folder + QStringLiteral("/gone/x.png"), SaveFormatChoice{lg::ImageFileType::PNG, 0.9, {}}});
        });
        isCollageSaved = false;
        QSignalSpy finished(collage->saver, &Saver::finished);
        collage->btnsave();
        QTRY_COMPARE(finished.count(), 1);
        QVERIFY(!isCollageSaved);
        QVERIFY(!lg::Alert::shownAlerts().isEmpty());
        Saver::setPanelResponderForTesting({});
    }

    // The saved picture comes from the files, cropped and zoomed as the slot
    // shows it: a quadrant picture shows the quarter the framing points at.
    void renderDrawsEachPhotoAsItsSlotFramesIt_data()
    {
        using namespace lg::test::fixtures;
        QTest::addColumn<double>("zoom");
        QTest::addColumn<QPointF>("centre");
        QTest::addColumn<int>("corner");
        QTest::newRow("zoomed on the top left") << 2.0 << QPointF(0.25, 0.25) << int(TopLeft);
        QTest::newRow("zoomed on the bottom right") << 2.0 << QPointF(0.75, 0.75) << int(BottomRight);
        QTest::newRow("out of range is held inside the photo") << 9.0 << QPointF(-3, 0.9) << int(BottomLeft);
    }
    void renderDrawsEachPhotoAsItsSlotFramesIt()
    {
        using namespace lg::test::fixtures;
        QFETCH(double, zoom);
        QFETCH(QPointF, centre);
        QFETCH(int, corner);
        const QImage source = quadrants(QSize(400, 400));
        const QString path = m_folder + QStringLiteral("/quadrants.png");
        QVERIFY(source.save(path));
        CollageSnapshot snap;
        snap.canvas = QSizeF(200, 100);
        snap.background = Qt::black;
        snap.border = Qt::white;
        snap.borderWidth = 0;
        snap.shadow = false;
        snap.slotList = {CollageSlotSnapshot{QRectF(0, 0, 100, 100), path, SlotFraming{zoom, centre}},
                         CollageSlotSnapshot{QRectF(100, 0, 100, 100), m_folder + QStringLiteral("/gone.png"), {}}};
        const QImage out = renderCollage(snap, QSize(400, 200));
        QCOMPARE(out.size(), QSize(400, 200));
        QVERIFY(near(out.pixel(100, 100), quarterColor(source, Corner(corner)), 11));
        QVERIFY(qGray(out.pixel(300, 100)) > 150);   // a vanished file leaves its slot empty
        QVERIFY(renderCollage(snap, QSize(0, 10)).isNull());
        snap.canvas = QSizeF();
        QVERIFY(renderCollage(snap, QSize(400, 200)).isNull());
    }

    void styleSizeAndOrientationControls()
    {
        collagevc *collage = openCollage(2, 2);
        collage->btncenter();
        collage->btnstyle();
        QMenu *menu = collage->findChild<QMenu *>(QStringLiteral("styleMenu"));
        QVERIFY(menu);
        QVERIFY(menu->findChild<QAction *>(QStringLiteral("btncenter"))->isChecked());
        for (QAction *action : menu->actions())
            QVERIFY(!action->icon().isNull());
        QVERIFY(!menu->findChild<QAction *>(QStringLiteral("btngrid"))->isChecked());
        menu->close();
        delete menu;
        collage->btnpile();
        QVERIFY(collage->slider_photoscount->isEnabled());   // Pile leaves the enabling as it was
        collage->btnstyle();
        menu = collage->findChild<QMenu *>(QStringLiteral("styleMenu"));
        for (QAction *action : menu->actions())
            QVERIFY(!action->isChecked());
        delete menu;
        collage->btngrid();
        QVERIFY(!collage->slider_photoscount->isEnabled());
        QVERIFY(collage->sliderRowscount->isEnabled());

        collage->framechangedWithSender(3);
        QCOMPARE(collage->btnSelectsize->text(), QStringLiteral("1440.0 X 1080.0 pixel"));
        collage->btnPortraitclicked();
        QCOMPARE(collage->outputSize(), QSize(1080, 1440));
        const QSize portrait = collage->mainCustomBox->size();
        QVERIFY(qAbs(double(portrait.width()) / portrait.height() - 0.75) < 0.01);
        collage->btnLandscapeclciked();
        QCOMPARE(collage->outputSize(), QSize(1440, 1080));
        collage->framechangedWithSender(99);   // not a size: nothing changes
        QCOMPARE(collageSelectedSize, 3);
    }

    // The strip asks for thumbnails of its own size, whatever the browser
    // cached for the file; and the slots' diagnostic lines are off unless asked for.
    void stripThumbnailsAndSlotLines()
    {
        const QString path = m_photos.at(0);
        const QFileInfo info(path);
        thumbnailCache().insert(ThumbnailKey{path, info.lastModified().toMSecsSinceEpoch(), info.size(), 0},
                                solid(Qt::red).scaled(54, 40));
        collagePhotoList = {arrayStruct{QUrl::fromLocalFile(path), false}};
        collagevc *collage = openCollage(1, 1);
        QCOMPARE(collage->collectionsize, 150.0);
        const QModelIndex item = collage->collectionview->model()->index(0, 0);
        auto side = [&item] {
            const QList<QSize> sizes = item.data(Qt::DecorationRole).value<QIcon>().availableSizes();
            return sizes.isEmpty() ? 0 : std::max(sizes.first().width(), sizes.first().height());
        };
        QTRY_COMPARE(side(), 140);
        const QMargins insets = collage->collectionview->sectionInsets();
        QCOMPARE(insets.top(), 20);
        QVERIFY(insets.left() > 0 && insets.left() == insets.right());
        QVERIFY(collage->collectionview->viewport()->width() >= 150);   // an item is never cut off

        static QStringList *lines = nullptr;
        QStringList captured;
        lines = &captured;
        const QtMessageHandler previous = qInstallMessageHandler([](QtMsgType, const QMessageLogContext &context, const QString &text) {
            if (lines && qstrcmp(context.category, "lumengallery.collage.slots") == 0)
                lines->append(text);
        });
        collage->removeall();
        QVERIFY(captured.isEmpty());
        QLoggingCategory::setFilterRules(QStringLiteral("lumengallery.collage.slots.debug=true"));
        collage->removeall();
        QLoggingCategory::setFilterRules(QString());
        qInstallMessageHandler(previous);
        lines = nullptr;
        const QSizeF area(collage->customview->size());
        QCOMPARE(captured.filter(QStringLiteral("x: ")),
                 QStringList{QStringLiteral("x: 0.0  y: 0.0  width: %1  height: %2")
                                 .arg(collageDecimal(area.width()), collageDecimal(area.height()))});
        QCOMPARE(captured.filter(QStringLiteral("centerpoint   (")).size(), 1);
    }

    void wheelZoomsAndDragPansThePhoto()
    {
        collagePhotoList = {arrayStruct{QUrl::fromLocalFile(m_photos.at(0)), false}};
        collagevc *collage = openCollage(1, 2);
        CollageDropView *view = shownSlots(collage).first()->imgview;
        QTRY_VERIFY(!view->image().isNull());
        isCollageSaved = true;
        const QPointF middle(view->width() / 2.0, view->height() / 2.0);
        QWheelEvent wheel(middle, view->mapToGlobal(middle), QPoint(), QPoint(0, 120), Qt::NoButton, {}, Qt::NoScrollPhase, false);
        QCoreApplication::sendEvent(view, &wheel);
        QVERIFY(qAbs(view->framing.zoom - 1.2) < 1e-9);
        QVERIFY(!isCollageSaved);
        const SlotFraming zoomed = view->framing;
        QTest::mousePress(view, Qt::LeftButton, {}, middle.toPoint());
        QMouseEvent move(QEvent::MouseMove, middle + QPointF(15, 0), view->mapToGlobal(middle + QPointF(15, 0)), Qt::NoButton,
                         Qt::LeftButton, {});
        QCoreApplication::sendEvent(view, &move);
        QTest::mouseRelease(view, Qt::LeftButton, {}, (middle + QPointF(15, 0)).toPoint());
        QVERIFY(view->framing.centre.x() < zoomed.centre.x());
        QCOMPARE(view->framing.zoom, zoomed.zoom);

        // A Pile slot takes its photo's aspect inside its border.
        collage->btnpile();
        QList<collageRotateCellvc *> piles;
        for (CollageSlotBase *slot : allCollageSlots()) {
            if (auto *pile = qobject_cast<collageRotateCellvc *>(slot); pile && !pile->isHidden())
                piles << pile;
        }
        QCOMPARE(piles.size(), collage->imgcount);
        QTRY_VERIFY(!piles.first()->imgview->image().isNull());
        const QRect inner = piles.first()->innerRect();
        QVERIFY(qAbs(double(inner.width()) / inner.height() - 4.0 / 3) < 0.02);
        QCOMPARE(piles.first()->size(), QSize(370, 281));   // 369.56 x 280.67: the photo's shape plus the border
    }

    void handlesSwapSlotsAndAStaleDragLeavesNothingBehind()
    {
        collagePhotoList = {arrayStruct{QUrl::fromLocalFile(m_photos.at(0)), false},
                            arrayStruct{QUrl::fromLocalFile(m_photos.at(1)), false}};
        collagevc *collage = openCollage(1, 2);
        const QList<collageCellvc *> slotList = shownSlots(collage);
        QCOMPARE(slotList.size(), 2);
        const QList<QUrl> before = shownPhotos(slotList);
        QTRY_VERIFY(!slotList.at(0)->imgview->image().isNull());

        // The handle shows on the slot under the pointer, one slot after another.
        for (collageCellvc *slot : slotList) {
            lg::test::enter(slot, QPointF(5, 5));
            QVERIFY(slot->btn->isVisible());
            lg::test::leave(slot);
            QVERIFY(!slot->btn->isVisible());
        }

        // Dropped on the other slot: the two swap; the drag picture is a small
        // copy. The drag offers a copy only, of our own type and the picture:
        // no file that a file manager could move.
        QSize picture;
        Qt::DropActions offered;
        QStringList formats;
        bool withPicture = false;
        draggablebutton::setDragRunnerForTesting([&](QDrag *drag, Qt::DropActions actions) {
            picture = drag->pixmap().size();
            offered = actions;
            formats = drag->mimeData()->formats();
            withPicture = drag->mimeData()->hasImage();
            drop(slotList.at(1)->imgview, drag->mimeData());
            return Qt::CopyAction;
        });
        dragHandle(slotList.at(0));
        QTRY_COMPARE(shownPhotos(slotList), (QList<QUrl>{before.at(1), before.at(0)}));
        QVERIFY(!picture.isEmpty() && picture.width() < 100);
        QCOMPARE(offered, Qt::DropActions(Qt::CopyAction));
        QVERIFY(withPicture);
        QVERIFY(formats.contains(collageSlotMimeType));
        QVERIFY(!formats.contains(QStringLiteral("text/uri-list")));
        QVERIFY(!slotDragSourceURL && !isSlotDragStarted && !slotDropSwapURL);
        QCOMPARE(collagePhotoList.size(), 2);

        // Released outside every slot (beside the canvas, where the window's
        // own drop target gets it): nothing changes, nothing is added or
        // rebuilt; a later drop from the file manager is an ordinary drop,
        // not a swap with the old source.
        QTRY_VERIFY(!slotList.at(0)->imgview->image().isNull());
        mainWindowController *window = mainWindow();
        const QPoint beside = collage->mainbgbox->mapTo(window, QPoint(3, 3));
        QVERIFY(!collage->mainCustomBox->geometry().contains(QPoint(3, 3)));
        isCollageSaved = true;
        const int passes = collage->layoutPassCount;
        QList<Qt::DropAction> outcomes;
        draggablebutton::setDragRunnerForTesting([&](QDrag *drag, Qt::DropActions actions) {
            outcomes << releaseOver(window, beside, drag->mimeData(), actions);
            return outcomes.last();
        });
        dragHandle(slotList.at(0));
        QCOMPARE(outcomes, QList<Qt::DropAction>{Qt::IgnoreAction});
        QVERIFY(!collage->isScanning());
        QCoreApplication::processEvents();
        QCOMPARE(collage->layoutPassCount, passes);
        QVERIFY(isCollageSaved);
        QCOMPARE(collagePhotoList.size(), 2);
        QCOMPARE(shownPhotos(slotList), (QList<QUrl>{before.at(1), before.at(0)}));
        QVERIFY(!slotDragSourceURL && !isSlotDragStarted);
        // The window's drop target leaves our drags alone even when they name files.
        QMimeData named;
        named.setData(collageSlotMimeType, before.at(0).toEncoded());
        named.setUrls({QUrl::fromLocalFile(m_photos.at(3))});
        QCOMPARE(releaseOver(window, beside, &named, Qt::CopyAction), Qt::IgnoreAction);
        QVERIFY(!collage->isScanning());
        QCOMPARE(collagePhotoList.size(), 2);
        auto *mime = new QMimeData;
        mime->setUrls({QUrl::fromLocalFile(m_photos.at(2))});
        drop(slotList.at(1)->imgview, mime);
        delete mime;
        QTRY_COMPARE(shownPhotos(slotList), (QList<QUrl>{before.at(1), QUrl::fromLocalFile(m_photos.at(2))}));
        QCOMPARE(collagePhotoList.size(), 3);

        // A strip drag: our own type only, a copy; a slot takes it, the window does not.
        QAbstractItemModel *strip = collage->collectionview->model();
        QCOMPARE(strip->supportedDragActions(), Qt::DropActions(Qt::CopyAction));
        std::unique_ptr<QMimeData> fromStrip(strip->mimeData({strip->index(0, 0)}));
        QCOMPARE(fromStrip->formats(), QStringList{collagePhotoMimeType});
        QCOMPARE(releaseOver(window, beside, fromStrip.get(), Qt::CopyAction), Qt::IgnoreAction);
        QVERIFY(!collage->isScanning());
        drop(slotList.at(1)->imgview, fromStrip.get());
        QTRY_COMPARE(shownPhotos(slotList), (QList<QUrl>{before.at(1), before.at(0)}));
        QCOMPARE(collagePhotoList.size(), 3);

        // An unreadable picture dropped on a slot leaves it as it was, on
        // screen and in the saved file.
        const QString broken = m_folder + QStringLiteral("/broken.jpg");
        lg::test::writeFile(broken, "not a picture");
        QMimeData file;
        file.setUrls({QUrl::fromLocalFile(broken)});
        drop(slotList.at(1)->imgview, &file);
        QTRY_VERIFY(!slotList.at(1)->imgview->isCheckingDrop());
        QCoreApplication::processEvents();
        QCOMPARE(shownPhotos(slotList), (QList<QUrl>{before.at(1), before.at(0)}));
        QTRY_VERIFY(!slotList.at(1)->imgview->image().isNull());
        const QSize shown = slotList.at(1)->imgview->image().size();
        QCOMPARE(shown.width() * 3, shown.height() * 4);   // the 4:3 photo, not a square file icon
        QStringList saved;
        for (const CollageSlotSnapshot &slot : collage->snapshot().slotList)
            saved << slot.path;
        QCOMPARE(saved, (QStringList{before.at(1).toLocalFile(), before.at(0).toLocalFile()}));
        draggablebutton::setDragRunnerForTesting({});
        QCOMPARE(draggablebutton::dragPicture(QImage(4000, 3000, QImage::Format_RGB32)).size(), QSize(108, 104));
    }

    // A photo dropped on a slot, then the slot's handle dragged onto another
    // slot without the pointer leaving: the handle carries the dropped photo.
    void aHandleDraggedRightAfterADropCarriesTheDroppedPhoto_data()
    {
        QTest::addColumn<bool>("fromStrip");
        QTest::newRow("dropped from the strip") << true;
        QTest::newRow("dropped from the file manager") << false;
    }
    void aHandleDraggedRightAfterADropCarriesTheDroppedPhoto()
    {
        QFETCH(bool, fromStrip);
        for (int i = 0; i < 3; ++i)
            collagePhotoList.append(arrayStruct{QUrl::fromLocalFile(m_photos.at(i)), false});
        collagevc *collage = openCollage(1, 2);
        const QList<collageCellvc *> slotList = shownSlots(collage);
        QCOMPARE(slotList.size(), 2);
        collageCellvc *a = slotList.at(0);
        collageCellvc *b = slotList.at(1);
        const QUrl photoA = QUrl::fromLocalFile(m_photos.at(0));
        const QUrl photoB = QUrl::fromLocalFile(m_photos.at(1));
        const QUrl dropped = QUrl::fromLocalFile(m_photos.at(2));
        QCOMPARE(shownPhotos(slotList), (QList<QUrl>{photoA, photoB}));
        QTRY_VERIFY(!a->imgview->image().isNull() && !b->imgview->image().isNull());

        // The pointer comes into A with a drag and drops a photo there.
        lg::test::enter(a, QPointF(5, 5));
        std::unique_ptr<QMimeData> mime;
        if (fromStrip) {
            QAbstractItemModel *strip = collage->collectionview->model();
            mime.reset(strip->mimeData({strip->index(2, 0)}));
        } else {
            mime = std::make_unique<QMimeData>();
            mime->setUrls({dropped});
        }
        drop(a->imgview, mime.get());
        QTRY_COMPARE(a->imgview->imgurlValue(), dropped);
        QTRY_VERIFY(!a->imgview->image().isNull());
        QVERIFY(near(a->imgview->image().pixel(2, 2), m_colors.at(2), 11));

        // Still inside A: its handle dragged onto B swaps the dropped photo with B's.
        draggablebutton::setDragRunnerForTesting([&](QDrag *drag, Qt::DropActions) {
            drop(b->imgview, drag->mimeData());
            return Qt::CopyAction;
        });
        QTest::mousePress(a->btn, Qt::LeftButton, {}, QPoint(5, 5));
        lg::test::sendMouse(a->btn, QEvent::MouseMove, QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
        QTRY_COMPARE(shownPhotos(slotList), (QList<QUrl>{photoB, dropped}));
        QTRY_VERIFY(near(b->imgview->image().pixel(2, 2), m_colors.at(2), 11));
        QTRY_VERIFY(near(a->imgview->image().pixel(2, 2), m_colors.at(1), 11));
        QCOMPARE(collagePhotoList.size(), 3);

        // A file dropped on A and, before it is shown, A's handle dragged onto
        // B: the swap is the newer change, and the drop does not undo it.
        lg::test::leave(a);
        lg::test::enter(a, QPointF(5, 5));
        QMimeData late;
        late.setUrls({photoA});
        drop(a->imgview, &late);
        QVERIFY(a->imgview->isCheckingDrop());
        QTest::mousePress(a->btn, Qt::LeftButton, {}, QPoint(5, 5));
        lg::test::sendMouse(a->btn, QEvent::MouseMove, QPoint(40, 40), Qt::NoButton, Qt::LeftButton);
        QCOMPARE(shownPhotos(slotList), (QList<QUrl>{dropped, photoB}));
        QTRY_VERIFY(!a->imgview->isCheckingDrop());   // a check that ends takes its photo at once
        QCOMPARE(shownPhotos(slotList), (QList<QUrl>{dropped, photoB}));
        draggablebutton::setDragRunnerForTesting({});
    }

    // Pictures the canvas shows, the strip shows too, at its own smaller size:
    // palette and one-bit PNGs (as a Photos library may hold) among them.
    void theStripShowsEveryPictureTheCanvasShows_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QImage>("picture");
        QImage mono(3000, 2250, QImage::Format_Mono);
        mono.setColorTable({QColor(Qt::red).rgb(), QColor(Qt::white).rgb()});
        mono.fill(0);
        QTest::newRow("one-bit PNG named like a HEIC") << QStringLiteral("BBB2.HEIC.png") << mono;
        QImage palette(3000, 2250, QImage::Format_Indexed8);
        palette.setColorTable({QColor(Qt::blue).rgb(), QColor(Qt::green).rgb(), QColor(Qt::black).rgb()});
        palette.fill(0);
        QTest::newRow("palette PNG") << QStringLiteral("palette.png") << palette;
        QTest::newRow("true-colour PNG") << QStringLiteral("plain.png") << solid(Qt::yellow).scaled(3000, 2250);
    }
    void theStripShowsEveryPictureTheCanvasShows()
    {
        QFETCH(QString, name);
        QFETCH(QImage, picture);
        const QColor colour = picture.pixelColor(0, 0);
        const QString lib = writePhotosLibrary(m_folder, {{name, picture}});
        QVERIFY(!lib.isEmpty());
        QCOMPARE(QImage(lib + QStringLiteral("/originals/B/") + name).format(), picture.format());   // written as it is

        collagevc *collage = openCollage(3, 3);
        lg::Panels::setOpenResponder([lib](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(lib)}; });
        collage->btnAddLibraryButton->click();
        lg::Panels::setOpenResponder({});
        QTRY_COMPARE(collage->collectionview->model()->rowCount(), 1);

        QAbstractItemModel *strip = collage->collectionview->model();
        QTRY_VERIFY(stripColor(strip, 0).isValid());
        QVERIFY2(near(stripColor(strip, 0), colour, 11), qPrintable(stripColor(strip, 0).name()));
        collageCellvc *slot = shownSlots(collage).first();
        QTRY_VERIFY(!slot->imgview->image().isNull());
        const QImage shown = slot->imgview->image();
        QVERIFY(shown.width() < picture.width());   // reduced to the slot, as the strip is
        QVERIFY2(near(shown.pixelColor(shown.width() / 2, shown.height() / 2), colour, 11),
                 qPrintable(shown.pixelColor(shown.width() / 2, shown.height() / 2).name()));
        // And the saved collage.
        const QImage saved = renderCollage(collage->snapshot(), QSize(900, 900));
        const QPointF centre = QRectF(slot->geometry()).translated(collage->customview->pos()).center();
        const QSizeF canvas(collage->mainCustomBox->size());
        const QPoint at(int(centre.x() * 900 / canvas.width()), int(centre.y() * 900 / canvas.height()));
        QVERIFY(near(saved.pixelColor(at), colour, 11));
    }

    // Photos moved away after the canvas showed them: the saved collage is
    // what the canvas shows. Once their pictures are gone too (the collage
    // left and entered again), the save names them and saves nothing.
    void aCollageWhosePhotosMovedAwaySavesWhatTheCanvasShows()
    {
        for (const QString &path : std::as_const(m_photos))
            collagePhotoList.append(arrayStruct{QUrl::fromLocalFile(path), false});
        collagevc *collage = openCollage(2, 2);
        collage->btnLandscapeclciked();
        collage->framechangedWithSender(0);
        const QList<collageCellvc *> slotList = shownSlots(collage);
        QCOMPARE(slotList.size(), 4);
        QTRY_VERIFY(std::all_of(slotList.begin(), slotList.end(), [](collageCellvc *s) { return !s->imgview->image().isNull(); }));
        // A slot may show the strip's thumbnail while its own size is still
        // being decoded: the photos go once the canvas has them all.
        QTRY_VERIFY(!thumbnailCache().isWorking());

        const QString away = lg::test::freshFolder(QStringLiteral("away"));
        for (const QString &path : std::as_const(m_photos))
            QVERIFY(QFile::rename(path, away + QLatin1Char('/') + QFileInfo(path).fileName()));

        const QString target = m_folder + QStringLiteral("/collage.png");
        int panels = 0;
        Saver::setPanelResponderForTesting([&](const QString &) {
            ++panels;
            return std::optional<std::pair<QString, SaveFormatChoice>>({target, SaveFormatChoice{lg::ImageFileType::PNG, 0.9, {}}});
        });
        collage->saver->openAfterSave = false;
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        isCollageSaved = false;
        collage->btnSaveButton->click();
        QTRY_VERIFY(isCollageSaved);
        QCOMPARE(panels, 1);
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        const QImage saved(target);
        QCOMPARE(saved.size(), collage->outputSize());
        const QSizeF canvas(collage->mainCustomBox->size());
        for (collageCellvc *slot : slotList) {
            const QPointF centre = QRectF(slot->geometry()).translated(collage->customview->pos()).center();
            const QPoint at(int(centre.x() * saved.width() / canvas.width()), int(centre.y() * saved.height() / canvas.height()));
            const int index = int(m_photos.indexOf(slot->imgview->imgurl->toLocalFile()));
            QVERIFY2(near(saved.pixel(at), m_colors.at(index), 11), qPrintable(slot->imgview->imgurl->fileName()));
        }

        // Two photos put back; the collage left and entered again: the other
        // two have no picture left anywhere.
        for (int i : {0, 1})
            QVERIFY(QFile::rename(away + QLatin1Char('/') + QFileInfo(m_photos.at(i)).fileName(), m_photos.at(i)));
        contentHub()->closeCollagevc();
        contentHub()->showCollagevc();
        QTRY_VERIFY(!thumbnailCache().isWorking());
        QVERIFY(QFile::remove(target));
        isCollageSaved = false;
        collage->btnSaveButton->click();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        const lg::AlertSpec alert = lg::Alert::shownAlerts().first();
        QCOMPARE(alert.title, QStringLiteral("The collage could not be saved."));
        QCOMPARE(alert.text, collagevc::unreadablePhotosText({m_photos.at(2), m_photos.at(3)}));
        QVERIFY(alert.text.contains(QStringLiteral("\u201Cp2.png\u201D, \u201Cp3.png\u201D")));
        QCOMPARE(panels, 1);   // no panel was offered
        QVERIFY(!isCollageSaved);
        QVERIFY(!QFileInfo::exists(target));
        QTRY_VERIFY(!isBusy);

        // Asked on leaving: "Yes" names them too and the collage stays open, unsaved.
        lg::Alert::clearShownAlerts();
        collage->btnExitButton->click();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 2);
        QCOMPARE(lg::Alert::shownAlerts().last().title, QStringLiteral("The collage could not be saved."));
        QCOMPARE(currentScreenMode, ScreenCollage);
        QVERIFY(!isCollageSaved);
        QCOMPARE(panels, 1);
        QTRY_VERIFY(!isBusy);

        // Put back, the collage saves from the files again.
        for (int i : {2, 3})
            QVERIFY(QFile::rename(away + QLatin1Char('/') + QFileInfo(m_photos.at(i)).fileName(), m_photos.at(i)));
        collage->btnSaveButton->click();
        QTRY_VERIFY(isCollageSaved);
        QCOMPARE(panels, 2);
        QVERIFY(!QImage(target).isNull());
        Saver::setPanelResponderForTesting({});

        // Many at once: the first five by name, the rest counted.
        QStringList many;
        for (int i = 1; i <= 7; ++i)
            many << QStringLiteral("/gone/p%1.png").arg(i);
        QVERIFY(collagevc::unreadablePhotosText(many).contains(QStringLiteral("\u201Cp5.png\u201D and 2 more.")));
        QVERIFY(collagevc::unreadablePhotosText({many.first()}).startsWith(QStringLiteral("The photo \u201Cp1.png\u201D could not be read.")));
    }

    void controlsStayLinkedAndRefuseOutOfRange()
    {
        collagevc *collage = openCollage(3, 3);
        QLineEdit *rows = collage->textfieldRows;
        auto type = [&](const QString &text) {
            rows->setText(text);
            Q_EMIT rows->textEdited(text);
        };
        type(QStringLiteral("+4"));
        QCOMPARE(collage->row, 4);
        QCOMPARE(collage->sliderRowscount->value(), 4);
        QCOMPARE(collage->stepperRowscount->integerValue(), 4);
        QTRY_COMPARE(shownSlots(collage).size(), 12);
        for (const QString &refused : {QStringLiteral("4.5"), QStringLiteral("4a"), QStringLiteral(" 4")}) {
            isCollageSaved = true;
            type(refused);
            QCOMPARE(collage->row, 4);
            QVERIFY(isCollageSaved);
        }
        type(QStringLiteral("11"));   // one over the maximum
        QCOMPARE(collage->row, 4);
        QVERIFY(!isCollageSaved);   // a refused number still marks the collage changed
        type(QStringLiteral("10"));   // the maximum itself is taken
        QCOMPARE(collage->row, 10);
        type(QStringLiteral("4"));
        collage->controlTextDidEndEditing(rows);
        QCOMPARE(rows->text(), QStringLiteral("4"));

        // A press and release without a drag rebuilds once and reloads nothing.
        const int passes = collage->layoutPassCount;
        QSlider *photos = collage->sliderRowscount;
        photos->setSliderDown(true);
        photos->setSliderDown(false);
        QCoreApplication::processEvents();
        QCOMPARE(collage->layoutPassCount, passes + 1);
        QVERIFY(!isBusy);

        // Thirty margin values while dragging: at most one rebuild waits at a time.
        QSlider *margin = collage->sliderMargin;
        margin->setSliderDown(true);
        const int before = collage->layoutPassCount;
        for (int m = 1; m <= 30; ++m)
            margin->setValue(m);
        QCoreApplication::processEvents();
        QCOMPARE(collage->layoutPassCount, before + 1);
        QCOMPARE(collage->customview->x(), 30);
        QCOMPARE(collage->textfieldmargin->text(), QStringLiteral("30.0"));
        margin->setSliderDown(false);
        QVERIFY(isBusy);   // every slot reloads behind the overlay
        QTRY_VERIFY(!isBusy);

        // The border stepper refits the slotList without a rebuild.
        const int passesBefore = collage->layoutPassCount;
        collage->stepperBorderwidth->stepBy(1);
        QCOMPARE(collageBorderWidth, 8);
        QCOMPARE(collage->textfieldBorder->text(), QStringLiteral("8"));
        QCOMPARE(shownSlots(collage).first()->imgview->x(), 8);
        QCOMPARE(collage->layoutPassCount, passesBefore);
    }

    void addingAFolderTreeKeepsNameOrderAndSkipsHiddenAndDuplicates()
    {
        const QString root = lg::test::freshFolder(QStringLiteral("tree"));
        for (const QString &name : {QStringLiteral("c.GIF"), QStringLiteral("a.JPG"), QStringLiteral("b.gif"),
                                    QStringLiteral("d.ai"), QStringLiteral("e.AI"), QStringLiteral("notes.txt"),
                                    QStringLiteral("noext"), QStringLiteral(".hidden/x.jpg"), QStringLiteral(".y.png"),
                                    QStringLiteral("sub/IMG_10.jpg"), QStringLiteral("sub/IMG_2.jpg"),
                                    QStringLiteral("sub/deeper/z.png")})
            lg::test::writeFile(root + QLatin1Char('/') + name);
        const QUrl known = QUrl::fromLocalFile(root + QStringLiteral("/b.gif"));
        collagePhotoList = {arrayStruct{known, false}};
        collagevc *collage = openCollage(2, 2);
        QAbstractItemModelTester tester(collage->collectionview->model(), QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy added(collage, &collagevc::photosAdded);
        isCollageSaved = true;
        // As the window's drop target hands dropped items over: by name.
        const QList<QUrl> dropped{QUrl::fromLocalFile(root), known, QUrl::fromLocalFile(root + QStringLiteral("/missing.jpeg"))};
        QVERIFY(QMetaObject::invokeMethod(collage, "addPhotosInBackground", Q_ARG(QList<QUrl>, dropped)));
        QTRY_COMPARE(added.count(), 1);
        QStringList names;
        for (const arrayStruct &entry : std::as_const(collagePhotoList))
            names << entry.url->toLocalFile().mid(root.size() + 1);
        QCOMPARE(names, (QStringList{QStringLiteral("b.gif"), QStringLiteral("a.JPG"), QStringLiteral("c.GIF"),
                                     QStringLiteral("sub/deeper/z.png"), QStringLiteral("sub/IMG_2.jpg"),
                                     QStringLiteral("sub/IMG_10.jpg"), QStringLiteral("missing.jpeg")}));
        QCOMPARE(collage->collectionview->model()->rowCount(), names.size());
        QVERIFY(!isCollageSaved);
        QVERIFY(!collage->btnremove->isEnabled());
    }

    void removingPhotosEmptiesTheirSlots()
    {
        for (int i = 0; i < 3; ++i)
            collagePhotoList.append(arrayStruct{QUrl::fromLocalFile(m_photos.at(i)), false});
        collagevc *collage = openCollage(1, 3);
        QCOMPARE(shownPhotos(shownSlots(collage)).size(), 3);
        QItemSelectionModel *selection = collage->collectionview->selectionModel();
        auto *model = collage->collectionview->model();

        // "No" changes nothing.
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
        selection->select(model->index(0, 0), QItemSelectionModel::Select);
        selection->select(model->index(2, 0), QItemSelectionModel::Select);
        QVERIFY(collage->btnremove->isEnabled());
        collage->btnremove->click();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(collagePhotoList.size(), 3);

        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        collage->btnremove->click();
        QTRY_COMPARE(collagePhotoList.size(), 1);
        QCOMPARE(*collagePhotoList.first().url, QUrl::fromLocalFile(m_photos.at(1)));
        for (const QUrl &url : shownPhotos(shownSlots(collage)))
            QCOMPARE(url, QUrl::fromLocalFile(m_photos.at(1)));
        QVERIFY(!collage->btnremove->isEnabled());
        QVERIFY(!isCollageSaved);
    }

    void leavingWithChangesAsksFirst()
    {
        mainvc *hub = contentHub();
        currentScreenMode = ScreenList;
        collagevc *collage = openCollage(1, 2);
        // Nothing to lose: leaves at once.
        collage->btnexit();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        collagePhotoList = {arrayStruct{QUrl::fromLocalFile(m_photos.at(0)), false}};
        hub->showCollagevc();
        collage->removeall();
        isCollageSaved = false;
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
        collage->btnexit();
        QTRY_COMPARE(ScreenMode(currentScreenMode), ScreenList);
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QVERIFY(isCollageSaved);
        // Leaving dropped the pictures; entering again decodes them anew.
        collageCellvc *slot = shownSlots(collage).first();
        QVERIFY(slot->imgview->image().isNull());
        hub->showCollagevc();
        QTRY_VERIFY(!slot->imgview->image().isNull());
        collage->btnexit();
        QCOMPARE(ScreenMode(currentScreenMode), ScreenList);
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);

        // "Yes", then a save that fails: the collage stays open and unsaved.
        hub->showCollagevc();
        isCollageSaved = false;
        lg::Alert::clearShownAlerts();
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        Saver::setPanelResponderForTesting([this](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(
                {m_folder + QStringLiteral("/gone/x.png"), SaveFormatChoice{lg::ImageFileType::PNG, 0.9, {}}});
        });
        QSignalSpy finished(collage->saver, &Saver::finished);
        collage->btnexit();
        QTRY_COMPARE(finished.count(), 1);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenCollage);
        QVERIFY(!isCollageSaved);
        QVERIFY(!isBusy);
        QCOMPARE(lg::Alert::shownAlerts().size(), 2);
        QCOMPARE(lg::Alert::shownAlerts().last().title, QStringLiteral("The picture could not be saved."));

        // "Yes", then Cancel in the save panel: the collage still closes, unsaved.
        isCollageSaved = false;
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        Saver::setPanelResponderForTesting([](const QString &) { return std::optional<std::pair<QString, SaveFormatChoice>>(); });
        collage->btnexit();
        QTRY_COMPARE(ScreenMode(currentScreenMode), ScreenList);
        QVERIFY(!isCollageSaved);
        QVERIFY(!isBusy);
        Saver::setPanelResponderForTesting({});
    }

    void leavingTheCollageReloadsAndWatchesTheFolder()
    {
        mainvc *hub = contentHub();
        currentFolderURL = QUrl::fromLocalFile(lg::test::freshFolder(QStringLiteral("shown")));
        currentScreenMode = ScreenGrid;
        hub->btncollage->click();
        hub->stopMonitorWithSender();

        lg::test::CaptureStdout capture;
        hub->closeCollagevc();
        const QByteArray out = capture.finish();
        QVERIFY(out.contains("reload change\n"));
        QVERIFY(hub->monitor && hub->monitor->isValid());
    }
};

LG_TEST(TestCollage)
#include "test_collage.moc"
