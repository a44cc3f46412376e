// The thumbnail grid and the list: the row arithmetic of the layout, the zoom
// bands, thumbnails made in the background and cached by file state, the
// cells' texts, selection and double clicks.
#include "tests/browser/BrowserFixtures.h"
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "app/preferencesWindowController.h"
#include "browser/GridView.h"
#include "browser/ItemEditing.h"
#include "browser/ItemMenus.h"
#include "browser/ListTableView.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/desktop/NotificationHub.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenTesting.h"
#include "tests/support/TestSupport.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QAbstractItemModelTester>
#include <QApplication>
#include <QDrag>
#include <QPainter>
#include <QLabel>
#include <QLineEdit>
#include <QScopeGuard>
#include <QScrollBar>
#include <QSignalSpy>
#include <QSlider>
#include <QSplitter>
#include <QStandardItemModel>
#include <QStyleHints>
#include <QToolButton>
#include <utime.h>

using namespace browsertest;

namespace {

void setModified(const QString &path, qint64 secondsSinceEpoch)
{
    struct utimbuf times {};
    times.actime = time_t(secondsSinceEpoch);
    times.modtime = time_t(secondsSinceEpoch);
    QCOMPARE(::utime(QFile::encodeName(path).constData(), &times), 0);
}



} // namespace

class TestGrid : public QObject
{
    Q_OBJECT
private Q_SLOTS:
    void init()
    {
        resetSharedState();
        thumbnailCache().setLimits(ThumbnailCache::defaultDecodedBytes, ThumbnailCache::defaultStoredBytes);
    }
    void cleanupTestCase() { resetSharedState(); }

    void exactlyNItemsFitInARowAtAnyWidth_data()
    {
        QTest::addColumn<double>("width");
        QTest::addColumn<int>("n");
        for (double width : {320.0, 641.0, 1000.0, 1917.0, 2560.0})
            for (int n = 2; n <= 7; ++n)
                QTest::addRow("%g px, %d per row", width, n) << width << n;
    }

    void exactlyNItemsFitInARowAtAnyWidth()
    {
        QFETCH(double, width);
        QFETCH(int, n);
        const GridMetrics m = GridMetrics::forWidth(width, n);
        QCOMPARE(m.columns, n);
        QVERIFY(qFuzzyCompare(m.side, width / (n + 1)));
        QVERIFY(qFuzzyCompare(m.inset, m.side / n));
        QVERIFY(n * m.side + 2 * m.inset <= width + 1e-9);
        QVERIFY((n + 1) * m.side + 2 * m.inset > width);
        // Rows: the item after the last of a row starts the next one.
        QCOMPARE(m.itemRect(n - 1).top(), m.itemRect(0).top());
        QVERIFY(m.itemRect(n).top() > m.itemRect(n - 1).bottom());
        QVERIFY(m.itemRect(n - 1).right() <= width - m.inset + 1e-6);
        QCOMPARE(m.indexAt(m.itemRect(n + 1).center(), 100), n + 1);
        QCOMPARE(m.rowsFor(2 * n + 1), 3);
        QCOMPARE(m.indexAt(QPointF(1, 1), 10), -1);  // in the inset
    }

    void theSliderBandsAndZoomButtonsChooseItemsPerRow()
    {
        const QList<QPair<int, double>> bands{{100, 3}, {81, 3}, {80, 4}, {61, 4}, {60, 5}, {41, 5},
                                              {40, 6}, {21, 6}, {20, 7}, {0, 7}, {-1, 4.5}};
        for (const auto &[value, perRow] : bands)
            QCOMPARE(thumbnailvc::itemsPerRowForSliderValue(value, 4.5), perRow);

        thumbnailvc *grid = thumbnailGrid();
        QCOMPARE(grid->numberofitemsinOneRow, 5.0);
        grid->slider->setValue(90);
        grid->btnzoomin();
        QCOMPARE(grid->slider->value(), 100);
        QCOMPARE(grid->numberofitemsinOneRow, 3.0);
        grid->slider->setValue(10);
        grid->btnzoomout();
        QCOMPARE(grid->slider->value(), 0);
        QCOMPARE(grid->numberofitemsinOneRow, 7.0);

        // The view lays them out n to a row and keeps n when it is resized.
        itemList.clear();
        for (int i = 0; i < 40; ++i)
            itemList.append(entry(QStringLiteral("%1.jpg").arg(i)));
        grid->reloadCollectionView();
        grid->resize(900, 600);
        grid->show();
        QVERIFY(QTest::qWaitForWindowExposed(grid));
        for (int width : {900, 613, 1400}) {
            grid->resize(width, 600);
            QCoreApplication::processEvents();
            GridView *view = grid->collectionview;
            const QAbstractItemModel *model = view->model();
            QCOMPARE(view->visualRect(model->index(6, 0)).top(), view->visualRect(model->index(0, 0)).top());
            QVERIFY(view->visualRect(model->index(7, 0)).top() > view->visualRect(model->index(6, 0)).bottom());
            QCOMPARE(grid->space, view->metrics().inset);
        }
    }

    void aThumbnailAppearsWhenMadeAndAChangedFileGetsANewOne()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("thumbs"));
        const QString photo = writeJpeg(folder + QStringLiteral("/photo.jpg"), 400, 300);
        setModified(photo, 1'600'000'000);
        lg::test::writeFile(folder + QStringLiteral("/broken.jpg"), QByteArray("\xff\xd8 not really", 13));
        currentFolderURL = QUrl::fromLocalFile(folder);
        thumbnailvc *grid = thumbnailGrid();
        grid->firsttime = false;
        contentController()->SortName();  // broken.jpg, photo.jpg
        ShownItemsModel *model = grid->itemsModel();
        QAbstractItemModelTester tester(model, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QSignalSpy reset(model, &QAbstractItemModel::modelReset);
        QVERIFY(reloadAndWait(grid));
        QCOMPARE(reset.count(), 1);
        QCOMPARE(model->rowCount(), 2);

        QSignalSpy changed(model, &QAbstractItemModel::dataChanged);
        model->requestWork(0, 1, false);
        QTRY_VERIFY(!thumbnailCache().isWorking());
        QVERIFY(changed.count() >= 2);
        const QImage first = model->data(model->index(1, 0), ShownItemsModel::ThumbnailRole).value<QImage>();
        QCOMPARE(first.size(), QSize(200, 150));
        QVERIFY(!model->data(model->index(1, 0), ShownItemsModel::PendingRole).toBool());
        // A file without a picture gets the icon of its type, kept like a thumbnail.
        QVERIFY(!model->data(model->index(0, 0), ShownItemsModel::ThumbnailRole).value<QImage>().isNull());

        // Rewritten: another modification time and size, so another thumbnail.
        writeJpeg(photo, 300, 600, Qt::blue);
        setModified(photo, 1'600'000'100);
        QVERIFY(reloadAndWait(grid));
        QVERIFY(model->data(model->index(1, 0), ShownItemsModel::PendingRole).toBool());
        QVERIFY(model->data(model->index(1, 0), ShownItemsModel::ThumbnailRole).isNull());
        model->requestWork(0, 1, false);
        QTRY_VERIFY(!thumbnailCache().isWorking());
        const QImage second = model->data(model->index(1, 0), ShownItemsModel::ThumbnailRole).value<QImage>();
        QCOMPARE(second.size(), QSize(100, 200));

        // The list shares the cache: no second thumbnail is made.
        contentController()->showListView();
        ShownItemsModel *rows = listController()->itemsModel();
        QAbstractItemModelTester rowsTester(rows, QAbstractItemModelTester::FailureReportingMode::QtTest);
        QVERIFY(reloadAndWait(listController()));
        QCOMPARE(rows->data(rows->index(1, 0), ShownItemsModel::ThumbnailRole).value<QImage>().size(),
                 QSize(100, 200));
    }

    void theCacheIsBoundedInBytesAndKeepsCompressedCopies()
    {
        ThumbnailCache cache;
        QImage image(100, 100, QImage::Format_RGB32);
        image.fill(Qt::green);
        cache.setLimits(image.sizeInBytes() * 2, 1 << 20);
        const ThumbnailKey a{QStringLiteral("/a.jpg"), 1, 1};
        const ThumbnailKey b{QStringLiteral("/b.jpg"), 1, 1};
        const ThumbnailKey c{QStringLiteral("/c.jpg"), 1, 1};
        cache.insert(a, image);
        cache.insert(b, image);
        QVERIFY(cache.thumbnail(a));  // a is now the most recently used
        cache.insert(c, image);
        QCOMPARE(cache.decodedCount(), 2);
        QVERIFY(cache.decodedBytes() <= image.sizeInBytes() * 2);
        QCOMPARE(cache.storedCount(), 3);  // b survives compressed
        const std::optional<QImage> b2 = cache.thumbnail(b);
        QVERIFY(b2);
        QCOMPARE(b2->size(), QSize(100, 100));
        QVERIFY(!cache.contains(ThumbnailKey{QStringLiteral("/b.jpg"), 2, 1}));  // other modification time
        cache.clear();
        QVERIFY(!cache.contains(a));
    }

    void thumbnailsComeReadyToPaintFromEitherTier()
    {
        // Handed out as the views paint them, never converted there: RGB32, or
        // premultiplied ARGB32 with transparency, with the colours kept.
        ThumbnailCache cache;
        QImage clear(40, 30, QImage::Format_ARGB32);
        clear.fill(QColor(255, 0, 0, 128));
        QImage gray(40, 30, QImage::Format_Grayscale8);
        gray.fill(200);
        const ThumbnailKey clearKey{QStringLiteral("/clear.png"), 1, 1};
        const ThumbnailKey grayKey{QStringLiteral("/gray.jpg"), 1, 1};
        cache.insert(clearKey, clear);
        cache.insert(grayKey, gray);
        auto check = [&](const char *tier) {
            const std::optional<QImage> a = cache.thumbnail(clearKey);
            const std::optional<QImage> b = cache.thumbnail(grayKey);
            QVERIFY2(a && b, tier);
            QVERIFY2(a->format() == QImage::Format_ARGB32_Premultiplied, tier);
            QVERIFY2(b->format() == QImage::Format_RGB32, tier);
            const QColor red = a->pixelColor(20, 15);
            QVERIFY2(red.red() >= 250 && red.green() <= 4 && std::abs(red.alpha() - 128) <= 2, tier);
            QVERIFY2(std::abs(qGray(b->pixel(20, 15)) - 200) <= 3, tier);
        };
        check("decoded");

        // Only compressed: decoded in the background when wanted now, and
        // the same when taken from there.
        cache.setLimits(0, 1 << 20);
        QCOMPARE(cache.decodedCount(), 0);
        cache.setLimits(1 << 20, 1 << 20);
        QObject client;
        QSignalSpy ready(&cache, &ThumbnailCache::thumbnailReady);
        cache.request(&client,
                      {ThumbnailRequest{clearKey, true, 200, true}, ThumbnailRequest{grayKey, true, 200, true}});
        QTRY_VERIFY(!cache.isWorking());
        QCOMPARE(ready.count(), 2);
        QCOMPARE(cache.decodedCount(), 2);
        check("unpacked");
    }

    void cellTextsFollowTheInfoLineAndTheColumns()
    {
        InitialDirectory photo = entry(QStringLiteral("photo.jpeg"), 2048,
                                       QDateTime(QDate(2024, 3, 7), QTime(12, 0), Qt::LocalTime));
        InitialDirectory clip = entry(QStringLiteral("clip.mov"), 999, QDateTime(QDate(2023, 12, 31), QTime(9, 0)),
                                      false);
        const PixelInfo imagePixels{QSize(4000, 3000), std::nullopt};
        const PixelInfo videoPixels{std::nullopt, QSizeF(1080, 1920)};

        QCOMPARE(ShownItemsModel::gridInfoLine(photo, std::nullopt), QStringLiteral("2.0 KB"));
        infoLineMode = 1;
        QCOMPARE(ShownItemsModel::gridInfoLine(photo, imagePixels), QStringLiteral("4000*3000"));
        QCOMPARE(ShownItemsModel::gridInfoLine(clip, videoPixels), QStringLiteral("1080.0*1920.0"));
        QCOMPARE(ShownItemsModel::gridInfoLine(clip, PixelInfo{}), QString());
        infoLineMode = 2;
        QCOMPARE(ShownItemsModel::gridInfoLine(photo, std::nullopt), QStringLiteral("07-03-24"));
        QCOMPARE(ShownItemsModel::gridInfoLine(InitialDirectory{}, std::nullopt), QString());

        using M = ShownItemsModel;
        QCOMPARE(M::listText(M::NameColumn, photo, std::nullopt), QStringLiteral("photo.jpeg"));
        QCOMPARE(M::listText(M::WidthColumn, photo, imagePixels), QStringLiteral("4000"));
        // The list shows a video's pixels as a picture's: "1920", not "1920.0".
        QCOMPARE(M::listText(M::HeightColumn, clip, videoPixels), QStringLiteral("1920"));
        QCOMPARE(M::listText(M::WidthColumn, clip, PixelInfo{std::nullopt, QSizeF(640.5, 360)}), QStringLiteral("640.5"));
        QCOMPARE(M::listText(M::WidthColumn, clip, PixelInfo{}), QString());
        QCOMPARE(M::listText(M::SizeColumn, clip, std::nullopt), QStringLiteral("999 bytes"));
        QCOMPARE(M::listText(M::KindColumn, photo, std::nullopt), QStringLiteral("JPEG image"));
        QCOMPARE(M::listText(M::KindColumn, clip, std::nullopt), QStringLiteral("MOV video"));
        QCOMPARE(M::listText(M::CreatedColumn, clip, std::nullopt), QStringLiteral("31-12-23"));
        QCOMPARE(M::listText(M::SizeColumn, InitialDirectory{}, std::nullopt), QString());
        QCOMPARE(M::videoDimension(1920.5), QStringLiteral("1920.5"));
    }

    // A name that holds a newline or another control character shows whole,
    // on its one line, each such character as its visible symbol, in the
    // grid and in the list.
    void aNameIsShownOnOneLine_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<QString>("shown");
        QTest::newRow("plain") << "IMG_2001.jpg" << "IMG_2001.jpg";
        QTest::newRow("a newline") << "two\nlines.jpg" << "two\u240Alines.jpg";
        QTest::newRow("a carriage return and a tab") << "a\r\tb.jpg" << "a\u240D\u2409b.jpg";
        QTest::newRow("a line separator") << "a\u2028b.jpg" << "a\u2424b.jpg";
        QTest::newRow("delete") << "a\x7F.jpg" << "a\u2421.jpg";
        QTest::newRow("a replacement character stays") << "caf\uFFFD.jpg" << "caf\uFFFD.jpg";
    }
    void aNameIsShownOnOneLine()
    {
        QFETCH(QString, name);
        QFETCH(QString, shown);
        // As the grid paints it: the same as the name of its symbols.
        QStandardItemModel model(2, 1);
        model.setData(model.index(0, 0), name);
        model.setData(model.index(1, 0), shown);
        GridItemDelegate delegate;
        QStyleOptionViewItem option;
        option.rect = QRect(0, 0, 240, 200);
        option.font = QApplication::font();
        option.fontMetrics = QFontMetrics(option.font);
        option.palette = QApplication::palette();
        QImage painted[2];
        for (int row = 0; row < 2; ++row) {
            painted[row] = QImage(option.rect.size(), QImage::Format_ARGB32);
            painted[row].fill(Qt::black);
            QPainter painter(&painted[row]);
            delegate.paint(&painter, option, model.index(row, 0));
        }
        QVERIFY(painted[0] == painted[1]);
        QCOMPARE(GridItemDelegate::oneLineName(name), shown);
        // The list's name column paints it the same way.
        ListNameDelegate listDelegate;
        option.rect = QRect(0, 0, 400, 30);
        for (int row = 0; row < 2; ++row) {
            painted[row] = QImage(option.rect.size(), QImage::Format_ARGB32);
            painted[row].fill(Qt::gray);   // the list's text takes the palette's colour
            QPainter painter(&painted[row]);
            listDelegate.paint(&painter, option, model.index(row, 0));
        }
        QVERIFY(painted[0] == painted[1]);
    }

    void pixelSizesComeFromTheHeaderInTheBackground()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("pixels"));
        writeJpeg(folder + QStringLiteral("/wide.jpg"), 320, 200);
        currentFolderURL = QUrl::fromLocalFile(folder);
        listVc *list = listController();
        QVERIFY(reloadAndWait(list));
        ShownItemsModel *rows = list->itemsModel();
        QCOMPARE(rows->data(rows->index(0, M_width()), Qt::DisplayRole).toString(), QString());
        rows->requestWork(0, 0, true);
        QTRY_COMPARE(rows->data(rows->index(0, M_width()), Qt::DisplayRole).toString(), QStringLiteral("320"));
        QCOMPARE(rows->data(rows->index(0, M_width() + 1), Qt::DisplayRole).toString(), QStringLiteral("200"));
    }

    void selectionAndDoubleClicks()
    {
        itemList = {entry("a.jpg"), entry("b.jpg"), entry("c.jpg"), entry("d.jpg")};
        ViewController *content = contentController();
        content->resize(1000, 700);
        content->show();
        QVERIFY(QTest::qWaitForWindowExposed(content));
        thumbnailvc *grid = thumbnailGrid();
        grid->reloadCollectionView();
        QCoreApplication::processEvents();
        GridView *view = grid->collectionview;
        int opened = 0;
        QObject guard;
        lg::NotificationHub::instance().observe(QStringLiteral("viewimage"), &guard,
                                                 [&](const QVariant &) { ++opened; });

        // A right click goes through the content area and selects the item under it,
        // unless the busy overlay shows.
        const QPoint second = view->visualRect(view->model()->index(1, 0)).center();
        isBusy = true;
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, second);
        QCOMPARE(selectedItemIndex, 0);
        isBusy = false;
        QTest::mouseClick(view->viewport(), Qt::RightButton, {}, second);
        QCOMPARE(selectedItemIndex, 1);
        QCOMPARE(grid->menuClickedRow, 1);

        const QPoint third = view->visualRect(view->model()->index(2, 0)).center();
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, third);
        QCOMPARE(selectedItemIndex, 2);
        QTest::mouseDClick(view->viewport(), Qt::LeftButton, {}, third);
        QCOMPARE(opened, 1);
        QCOMPARE(ScreenMode(currentScreenMode), ScreenViewer);

        // An index out of range selects nothing when the grid is shown again.
        content->showThumbnailView();
        view->clearSelection();
        selectedItemIndex = 9;
        grid->selectCurrentItem();
        QVERIFY(view->selectionModel()->selectedIndexes().isEmpty());

        // The list: a double click on empty space opens the viewer too; a
        // search numbers the rows among the results.
        content->showListView();
        content->searchField->setText(QStringLiteral("c"));
        listVc *list = listController();
        QCoreApplication::processEvents();
        QCOMPARE(list->itemsModel()->rowCount(), 1);
        const QPoint row0 = list->tblview->visualRect(list->itemsModel()->index(0, 1)).center();
        QTest::mouseClick(list->tblview->viewport(), Qt::LeftButton, {}, row0);
        QCOMPARE(selectedItemIndex, 0);
        QTest::mouseClick(list->tblview->viewport(), Qt::LeftButton, {}, QPoint(10, 300));  // below the rows
        QCOMPARE(selectedItemIndex, 0);
        QTest::mouseDClick(list->tblview->viewport(), Qt::LeftButton, {}, QPoint(10, 300));
        QCOMPARE(opened, 2);
    }

private:
    static int M_width() { return ShownItemsModel::WidthColumn; }

private Q_SLOTS:
    // Only a click on the name of an item already selected in a view that had
    // the keyboard renames; any other click just selects, so Copy copies.
    void aClickRenamesOnlyTheNameInAFocusedGrid_data()
    {
        QTest::addColumn<bool>("focusedBefore");
        QTest::addColumn<bool>("onName");
        QTest::addColumn<bool>("renames");
        QTest::newRow("first click from the sidebar") << false << true << false;
        QTest::newRow("on the picture") << true << false << false;
        QTest::newRow("on the name") << true << true << true;
    }
    void aClickRenamesOnlyTheNameInAFocusedGrid()
    {
        QFETCH(bool, focusedBefore);
        QFETCH(bool, onName);
        QFETCH(bool, renames);
        lg::test::showHub();
        const QString folder = lg::test::freshFolder(QStringLiteral("click"));
        lg::test::fixtures::writeJpeg(folder + "/a.jpg", QImage(8, 8, QImage::Format_RGB32));
        lg::test::fixtures::writeJpeg(folder + "/b.jpg", QImage(8, 8, QImage::Format_RGB32));
        QVERIFY(lg::test::reloadGrid(folder));
        thumbnailvc *grid = thumbnailGrid();
        GridView *view = grid->collectionview;
        const QModelIndex first = view->model()->index(0, 0);
        view->selectionModel()->setCurrentIndex(first, QItemSelectionModel::ClearAndSelect);
        QApplication::styleHints()->setMouseDoubleClickInterval(1);
        view->clearFocus();
        if (focusedBefore)
            view->setFocus(Qt::OtherFocusReason);
        const QRect item = view->visualRect(first);
        const QFontMetrics font(view->font());
        const int nameMiddle = item.bottom() - std::max(3, int(item.width() * 0.04)) - font.height() * 85 / 100
            - font.height() / 2 - 2;
        const QPoint at = onName ? QPoint(item.center().x(), nameMiddle) : item.center();
        if (!focusedBefore) // the press moves the keyboard here, as a real click does
            view->setFocus(Qt::MouseFocusReason);
        QTest::mouseClick(view->viewport(), Qt::LeftButton, {}, at);
        QApplication::styleHints()->setMouseDoubleClickInterval(400);
        if (renames) {
            QTRY_VERIFY(view->findChild<QLineEdit *>(QStringLiteral("renameEditor")));
            QTest::keyClick(view->findChild<QLineEdit *>(QStringLiteral("renameEditor")), Qt::Key_Escape);
            return;
        }
        QVERIFY(!(view->editTriggers() & QAbstractItemView::SelectedClicked));
        QVERIFY(view->selectionModel()->isSelected(first));
    }

    void gridPressesDragItemsOrSpanTheBandAndTheSelectionFollowsItsFile()
    {
        setListingBudget(1000);
        const auto restore = qScopeGuard([] {
            setItemDragRunnerForTesting({});
            setListingBudget(10);
        });
        const QString folder = lg::test::freshFolder(QStringLiteral("walk"));
        for (const char *name : {"b.jpg", "c.jpg", "d.jpg"})
            writeJpeg(folder + QLatin1Char('/') + QLatin1String(name), 8, 8);
        currentFolderURL = QUrl::fromLocalFile(folder);
        shownContent();
        thumbnailvc *grid = thumbnailGrid();
        QVERIFY(reloadAndWait(grid));
        GridView *view = grid->collectionview;
        QWidget *port = view->viewport();
        view->setCurrentIndex(view->model()->index(0, 0));

        QList<QList<QUrl>> drags;
        setItemDragRunnerForTesting([&drags](QDrag *drag) {
            drags.append(lg::Clipboard::readFiles(drag->mimeData()).urls);
            return Qt::CopyAction;
        });
        const auto pressAndDrag = [&](QPoint from) {
            const QPoint to = from + QPoint(QApplication::startDragDistance() + 8, 4);
            QTest::mousePress(port, Qt::LeftButton, {}, from);
            QTest::mouseMove(port, to);
            QTest::mouseRelease(port, Qt::LeftButton, {}, to);
        };
        // An item not selected before the press leaves at once, alone.
        pressAndDrag(view->visualRect(view->model()->index(2, 0)).center());
        QCOMPARE(drags, QList<QList<QUrl>>{{QUrl::fromLocalFile(folder + QStringLiteral("/d.jpg"))}});
        QCOMPARE(selectedItemIndex, 2);
        // Empty space starts no drag.
        pressAndDrag(QPoint(port->width() - 4, port->height() - 4));
        QCOMPARE(drags.size(), 1);

        // The info line changes; the selection stays.
        view->setCurrentIndex(view->model()->index(1, 0));
        itemmenus::setInfoLineMode(1);
        QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList{view->model()->index(1, 0)});
        QCOMPARE(selectedItemIndex, 1);
        itemmenus::setInfoLineMode(0);

        // The current item renamed to sort last stays current after the reload.
        const QModelIndex first = view->model()->index(0, 0);
        view->setCurrentIndex(first);
        QCOMPARE(selectedItemIndex, 0);
        view->edit(first);
        auto *editor = view->findChild<QLineEdit *>(QStringLiteral("renameEditor"));
        QVERIFY(editor);
        editor->setText(QStringLiteral("z.jpg"));
        QTest::keyClick(editor, Qt::Key_Return);
        QTRY_VERIFY(QFileInfo::exists(folder + QStringLiteral("/z.jpg")));   // committed when the queue runs
        QVERIFY(reloadAndWait(grid));
        QCOMPARE(selectedItemIndex, 2);
        QCOMPARE(view->selectionModel()->selectedIndexes(), QModelIndexList{view->model()->index(2, 0)});
    }
};

LG_TEST(TestGrid)
#include "test_grid.moc"
