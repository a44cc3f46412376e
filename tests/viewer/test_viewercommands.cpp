// The viewer's context menu and its commands: file actions, Move To and Copy
// To with the same-name sheet, rotate and flip written back into the file, and
// the save panel where the file cannot be written in place.
#include "app/Essentials.h"
#include "model/Saver.h"
#include "platform/Alert.h"
#include "platform/ControllerRegistry.h"
#include "platform/ImageSource.h"
#include "platform/ImageWriter.h"
#include "platform/Panels.h"
#include "tests/support/Fixtures.h"
#include "tests/support/TestSupport.h"
#include "viewer/ViewerFixtures.h"
#include "viewer/ViewerMenuState.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QDir>
#include <QLabel>
#include <QMenu>

Q_DECLARE_METATYPE(ViewerMenuSnapshot)

using namespace lg::test::fixtures;
using viewertest::itemFor;

namespace {

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

viewimagevc *viewerOn(int index)
{
    selectedItemIndex = index;
    viewimagevc *viewer = imageViewer();
    viewer->resize(800, 600);
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

} // namespace

class ViewerCommandsTest : public QObject
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
        Saver::setPanelResponderForTesting({});
        lg::Panels::setOpenResponder({});
        lg::ImageWriter::setCommitHookForTesting({});
        lg::Alert::setResponder({});
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
        QCOMPARE(activeItemList().size(), 4);
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
};

LG_TEST(ViewerCommandsTest)
#include "test_viewercommands.moc"
