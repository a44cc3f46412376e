// The viewer on files whose names are not valid UTF-8 (from a card written by
// another system), beside a look-alike whose name holds U+FFFD where the other
// has its stray byte: each shows its own picture (its type's icon for a
// video), its name with a replacement character, and no command acts on the
// look-alike in its place.
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "controls/CursorButtons.h"
#include "controls/ZLFlatButton.h"
#include "browser/Listing.h"
#include "platform/desktop/Alert.h"
#include "platform/files/names/FileNames.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Workspace.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/operations/Trash.h"
#include "platform/runtime/ControllerRegistry.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Seams.h"
#include "tests/support/TestSupport.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/editImagevc.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/viewimagevc.h"

#include <QAction>
#include <QClipboard>
#include <QDir>
#include <QGuiApplication>
#include <QIcon>
#include <QLabel>
#include <QMenu>
#include <QMimeData>
#include <QScopeGuard>

#include <cstdio>
#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

namespace fx = lg::test::fixtures;

namespace {

// The look-alike of "bad\xff.jpg": what Qt's own file classes make of that name.
const QByteArray strayName("bad\xff.jpg");
const QByteArray lookAlikeName("bad\xef\xbf\xbd.jpg");

// The folders the tests made; see removeStrayNames.
QStringList &madeFolders()
{
    static QStringList folders;
    return folders;
}

QString freshFolder(const QString &name)
{
    madeFolders() << lg::test::freshFolder(name);
    return madeFolders().last();
}

// Removes the entries of the made folders whose names are not valid UTF-8,
// which Qt's own removal of the temporary home cannot name.
void removeStrayNames()
{
    for (const QString &folder : std::as_const(madeFolders())) {
        DIR *dir = ::opendir(QFile::encodeName(folder).constData());
        if (!dir)
            continue;
        while (const dirent *entry = ::readdir(dir)) {
            if (lg::FileNames::hasRawBytes(lg::FileNames::fromNative(entry->d_name)))
                ::unlinkat(::dirfd(dir), entry->d_name, 0);
        }
        ::closedir(dir);
    }
    madeFolders().clear();
}

QByteArray folderBytes(const QString &folder)
{
    return QFile::encodeName(folder) + '/';
}

// Moves the file at path to the name given as bytes in the same folder.
bool renameTo(const QString &path, const QByteArray &name)
{
    const QByteArray from = QFile::encodeName(path);
    const QByteArray to = folderBytes(QFileInfo(path).absolutePath()) + name;
    return !path.isEmpty() && std::rename(from.constData(), to.constData()) == 0;
}

QByteArray contentOf(const QString &folder, const QByteArray &name)
{
    std::FILE *stream = std::fopen(QByteArray(folderBytes(folder) + name).constData(), "rb");
    if (!stream)
        return QByteArray();
    QByteArray bytes;
    char buffer[65536];
    for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, stream)) > 0;)
        bytes.append(buffer, qsizetype(n));
    std::fclose(stream);
    return bytes;
}

// A picture of one colour, under a name given as bytes.
bool writePicture(const QString &folder, const QByteArray &name, const QColor &colour)
{
    QImage image(1600, 1200, QImage::Format_RGB32);
    image.fill(colour);
    const QByteArray format = name.endsWith(".png") ? "PNG" : "JPEG";
    const QString plain = folder + QStringLiteral("/plain.") + QString::fromLatin1(format).toLower();
    if (!image.save(plain, format.constData(), 90))
        return false;
    if (name.endsWith(".gif")) {
        const QString gif = fx::convert(plain, folder + QStringLiteral("/plain.gif"));
        QFile::remove(plain);
        return renameTo(gif, name);
    }
    return renameTo(plain, name);
}

// The folder listed as the program lists it, the viewer on the file named
// name; that file's index, or -1.
int listAndSelect(const QString &folder, const QByteArray &name)
{
    itemList = mediaItemsInFolder(folder);
    currentFolderURL = QUrl::fromLocalFile(folder);
    for (int i = 0; i < itemList.size(); ++i) {
        if (lg::FileNames::toNative(lg::FileNames::pathOf(*itemList.at(i).url)) == folderBytes(folder) + name)
            return selectedItemIndex = i;
    }
    return -1;
}

viewimagevc *shownViewer()
{
    viewimagevc *viewer = imageViewer();
    viewer->resize(800, 600);
    viewer->show();
    return viewer;
}

bool isColour(const QImage &image, const QColor &colour)
{
    const QColor c = image.pixelColor(image.rect().center());
    return qAbs(c.red() - colour.red()) < 40 && qAbs(c.green() - colour.green()) < 40
           && qAbs(c.blue() - colour.blue()) < 40;
}

} // namespace

class ViewerFileNamesTest : public QObject
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
        lg::test::resetSeams();
        removeStrayNames();
    }

    // Each file of a folder that holds names with stray bytes and the
    // look-alike of one shows its own picture, its name with U+FFFD.
    void aPictureIsShownAsItself_data()
    {
        QTest::addColumn<QByteArray>("name");
        QTest::addColumn<QColor>("colour");
        QTest::newRow("stray byte, a look-alike beside it") << strayName << QColor(Qt::red);
        QTest::newRow("the look-alike") << lookAlikeName << QColor(Qt::blue);
        QTest::newRow("Latin-1 letter") << QByteArray("caf\xe9.jpg") << QColor(Qt::green);
        QTest::newRow("a PNG") << QByteArray("\x80.png") << QColor(Qt::yellow);
        QTest::newRow("a GIF") << QByteArray("anim\xff.gif") << QColor(Qt::magenta);
    }
    void aPictureIsShownAsItself()
    {
        QFETCH(QByteArray, name);
        QFETCH(QColor, colour);
        const QString folder = freshFolder(QStringLiteral("card"));
        QVERIFY(writePicture(folder, strayName, Qt::red));
        QVERIFY(writePicture(folder, lookAlikeName, Qt::blue));
        QVERIFY(writePicture(folder, "caf\xe9.jpg", Qt::green));
        QVERIFY(writePicture(folder, "\x80.png", Qt::yellow));
        if (name.endsWith(".gif")) {
            if (!fx::hasTool(QStringLiteral("convert")))
                QSKIP("ImageMagick's convert is not installed");
            QVERIFY(writePicture(folder, name, colour));
        }
        QVERIFY(listAndSelect(folder, name) >= 0);

        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY_WITH_TIMEOUT(viewer->imgview->hasImage() && !viewer->imgview->isPlaceholder(), 8000);
        QVERIFY2(isColour(viewer->imgview->currentImage(), colour),
                 qPrintable(viewer->imgview->currentImage().pixelColor(viewer->imgview->currentImage().rect().center()).name()));
        QCOMPARE(viewer->imgview->pixelSize(), QSize(1600, 1200));
        // The sidebar's preview of the chosen item is of the same file.
        sideMenuvc *sidebar = sidebarController();
        sidebar->resize(250, 600);
        sidebar->show();
        sidebar->updatePreviewThumbnail();
        QTRY_VERIFY_WITH_TIMEOUT(!sidebar->imgviewThumbnail->pixmap().isNull(), 8000);
        QVERIFY(isColour(sidebar->imgviewThumbnail->pixmap().toImage(), colour));
        sidebar->hide();
        const QString shownName = lg::FileNames::shown(lg::FileNames::fromNative(name));
        QCOMPARE(viewer->lblfilename->text(), shownName);
        // Zoomed in, the sharper decode of the full picture is of the same file.
        if (!name.endsWith(".gif")) {
            QVERIFY(viewer->imgview->currentImage().width() < 1600);
            for (int i = 0; i < 4; ++i)
                viewer->btnzoomin->click();
            QTRY_COMPARE_WITH_TIMEOUT(viewer->imgview->currentImage().width(), 1600, 8000);
            QVERIFY(isColour(viewer->imgview->currentImage(), colour));
        }
        // A reload of the folder keeps it on show as it is.
        viewer->reloadItems();
        QTRY_VERIFY(selectedItemIndex >= 0);
        QCOMPARE(lg::FileNames::toNative(lg::FileNames::pathOf(*itemList.at(selectedItemIndex).url)),
                 folderBytes(folder) + name);
        QCOMPARE(viewer->lblfilename->text(), shownName);
        QVERIFY(isColour(viewer->imgview->currentImage(), colour));
    }

    // Every command on the shown file refuses a name that is not valid UTF-8,
    // saying why; neither it nor its look-alike is touched, moved, copied or
    // handed to another program.
    void commandsRefuseANameThatIsNotUtf8_data()
    {
        QTest::addColumn<QString>("command");
        QTest::addColumn<bool>("lookAlike");
        for (const char *command : {"rotateRight90", "flipHorizontal", "deleteItem_menu", "itemMoveTO_menu",
                                    "itemCopyTO_menu", "copyItem_menu", "menuShowinFinder", "SetWallpaper",
                                    "btneditImage"})
            QTest::addRow("%s, a look-alike beside it", command) << QString::fromLatin1(command) << true;
        QTest::newRow("rotateRight90, alone") << "rotateRight90" << false;
        QTest::newRow("deleteItem_menu, alone") << "deleteItem_menu" << false;
    }
    void commandsRefuseANameThatIsNotUtf8()
    {
        QFETCH(QString, command);
        QFETCH(bool, lookAlike);
        const QString folder = freshFolder(QStringLiteral("refused"));
        const QString target = lg::test::freshFolder(QStringLiteral("refusedTarget"));
        QVERIFY(writePicture(folder, strayName, Qt::red));
        if (lookAlike)
            QVERIFY(writePicture(folder, lookAlikeName, Qt::blue));
        const QByteArray stray = contentOf(folder, strayName);
        const QByteArray other = contentOf(folder, lookAlikeName);
        lg::Panels::setOpenResponder([target](const lg::OpenPanelSpec &) { return QList<QUrl>{QUrl::fromLocalFile(target)}; });
        QStringList desktopCalls;
        lg::Workspace::setRunnerForTesting([&desktopCalls](const lg::ExternalCall &call, QString *) {
            desktopCalls << call.program;
            return true;
        });
        QVERIFY(listAndSelect(folder, strayName) >= 0);
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY_WITH_TIMEOUT(viewer->imgview->hasImage() && !viewer->imgview->isPlaceholder(), 8000);
        QGuiApplication::clipboard()->clear();
        copiedURLs.clear();

        if (command == QLatin1String("btneditImage")) {
            viewer->btneditImage->click();
            QTest::qWait(50);
            QVERIFY(!editImageController || !editImageController->selfViewVisible);
        } else {
            viewer->menuWillOpen();
            QAction *action = viewer->imgviewMenu->findChild<QAction *>(command);
            QVERIFY(action && action->isEnabled());
            action->trigger();
        }
        QTRY_VERIFY(!isBusy && !viewer->isTransformRunning());
        QTest::qWait(50);
        const QList<lg::AlertSpec> said = lg::Alert::shownAlerts();
        QCOMPARE(said.size(), 1);
        QCOMPARE(said.first().title, QStringLiteral("Some items could not be processed."));
        QVERIFY2(said.first().text.startsWith(QStringLiteral("1 item could not be processed. \u201Cbad\uFFFD.jpg\u201D: "))
                     && said.first().text.contains(QStringLiteral("not valid UTF-8")),
                 qPrintable(said.first().text));
        // Both files are as they were, where they were; nothing left the folder.
        QCOMPARE(contentOf(folder, strayName), stray);
        QCOMPARE(contentOf(folder, lookAlikeName), other);
        QVERIFY(QDir(target).isEmpty());
        const QDir trash(lg::trashFolderFor(folder) + QStringLiteral("/files"));
        QVERIFY(!trash.exists() || trash.isEmpty());
        QVERIFY(desktopCalls.isEmpty());
        QVERIFY(copiedURLs.isEmpty());
        const QMimeData *clip = QGuiApplication::clipboard()->mimeData();
        QVERIFY(!clip || clip->urls().isEmpty());
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("bad\uFFFD.jpg"));
    }

    // The editor, opened on such a file however it is reached, refuses it
    // rather than edit and save its look-alike.
    void theEditorRefusesANameThatIsNotUtf8()
    {
        const QString folder = freshFolder(QStringLiteral("edited"));
        QVERIFY(writePicture(folder, strayName, Qt::red));
        QVERIFY(writePicture(folder, lookAlikeName, Qt::blue));
        QVERIFY(listAndSelect(folder, strayName) >= 0);
        viewerItemURL = itemList.at(selectedItemIndex).url;
        mainvc *hub = contentHub();
        hub->resize(1000, 700);
        hub->showEditImagevc();
        QTRY_VERIFY(!lg::Alert::shownAlerts().isEmpty());
        QCOMPARE(lg::Alert::shownAlerts().last().title, QStringLiteral("This Image can not be edited."));
        QVERIFY(!editImageController->isLoaded());
        QCOMPARE(editImageController->lblfilename->text(), QString());
        hub->hide();
    }

    // Another program deletes the shown file or writes a new picture under its
    // name, its look-alike staying as it was: once the folder watch reloads,
    // the viewer moves on from the deleted file, or shows the new picture.
    void theViewerFollowsItsOwnFileNotTheLookAlike_data()
    {
        QTest::addColumn<bool>("deleted");
        QTest::newRow("deleted") << true;
        QTest::newRow("written over") << false;
    }
    void theViewerFollowsItsOwnFileNotTheLookAlike()
    {
        QFETCH(bool, deleted);
        const QString folder = freshFolder(QStringLiteral("followed"));
        QVERIFY(writePicture(folder, strayName, Qt::red));
        QVERIFY(writePicture(folder, lookAlikeName, Qt::blue));
        QVERIFY(writePicture(folder, "later.jpg", Qt::yellow));
        QVERIFY(listAndSelect(folder, strayName) >= 0);
        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY_WITH_TIMEOUT(viewer->imgview->hasImage() && !viewer->imgview->isPlaceholder(), 8000);
        const QByteArray stray = folderBytes(folder) + strayName;
        if (deleted) {
            QCOMPARE(::unlink(stray.constData()), 0);
        } else {
            QVERIFY(writePicture(folder, "new.jpg", Qt::green));
            QCOMPARE(std::rename(QByteArray(folderBytes(folder) + "new.jpg").constData(), stray.constData()), 0);
        }
        viewer->reloadItems();   // as the folder watch does
        if (deleted) {
            // On to a file that is there, shown as itself.
            QTRY_VERIFY(viewerItemURL && lg::FileNames::toNative(lg::FileNames::pathOf(*viewerItemURL)) != stray);
            const QByteArray now = lg::FileNames::toNative(lg::FileNames::pathOf(*viewerItemURL));
            QTRY_VERIFY(viewer->imgview->hasImage() && !viewer->imgview->isPlaceholder());
            QVERIFY(isColour(viewer->imgview->currentImage(), now.endsWith("later.jpg") ? QColor(Qt::yellow)
                                                                                    : QColor(Qt::blue)));
        } else {
            QTRY_VERIFY_WITH_TIMEOUT(isColour(viewer->imgview->currentImage(), Qt::green), 8000);
            QCOMPARE(lg::FileNames::toNative(lg::FileNames::pathOf(*viewerItemURL)), stray);
            // The new file is the one commands would now check against.
            QCOMPARE(viewer->shownFileIdentity()->inode,
                     lg::fileIdentityAt(AT_FDCWD, stray.constData())->inode);
        }
        QCOMPARE(contentOf(folder, lookAlikeName).isEmpty(), false);
    }

    // A video whose name is not valid UTF-8 shows its type's icon, never the
    // look-alike's video, and never an empty view when it has none beside it.
    void aVideoIsShownByItsTypeIcon_data()
    {
        QTest::addColumn<bool>("lookAlike");
        // Alone first: the icon of a type is drawn once, then kept.
        QTest::newRow("alone, without an icon theme") << false;
        QTest::newRow("a look-alike beside it") << true;
    }
    void aVideoIsShownByItsTypeIcon()
    {
        QFETCH(bool, lookAlike);
        // Without a theme that has the type's icon, Qt's file icons come only
        // for files it can look at, which this one is not.
        const QString theme = QIcon::themeName();
        const QString fallback = QIcon::fallbackThemeName();
        QIcon::setThemeName(QStringLiteral("lumengallery-no-such-theme"));
        QIcon::setFallbackThemeName(QStringLiteral("lumengallery-no-such-theme"));
        const auto restore = qScopeGuard([&] {
            QIcon::setThemeName(theme);
            QIcon::setFallbackThemeName(fallback);
        });
        const QString folder = freshFolder(QStringLiteral("clips"));
        const QString clip = fx::writeVideo(folder + QStringLiteral("/plain.mp4"), QStringLiteral("color=c=blue:s=64x48:d=1"));
        if (clip.isEmpty())
            QSKIP("ffmpeg is not installed");
        if (lookAlike) {
            QVERIFY(renameTo(clip, "clip\xef\xbf\xbd.mp4"));
            QVERIFY(fx::writeVideo(folder + QStringLiteral("/plain.mp4"), QStringLiteral("color=c=red:s=64x48:d=1")) == clip);
        }
        QVERIFY(renameTo(clip, "clip\xff.mp4"));
        QVERIFY(listAndSelect(folder, "clip\xff.mp4") >= 0);

        viewimagevc *viewer = shownViewer();
        QTRY_VERIFY_WITH_TIMEOUT(viewer->imgview->isPlaceholder(), 8000);
        QVERIFY(!viewer->imgview->isHidden() && viewer->avKitPlayer->isHidden());
        QVERIFY(!viewer->imgview->currentImage().isNull());
        QCOMPARE(viewer->lblfilename->text(), QStringLiteral("clip\uFFFD.mp4"));
        QTest::qWait(300);
        QVERIFY(viewer->avKitPlayer->isHidden());
    }
};

LG_TEST(ViewerFileNamesTest)
#include "test_viewerfilenames.moc"
