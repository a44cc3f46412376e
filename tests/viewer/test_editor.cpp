// The image editor: the adjustments as a pure function on pixels, and the
// editor screen that previews them and saves a new file.
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "outreach/utilityKitvc.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/image/ImageWriter.h"
#include "tests/support/Fixtures.h"
#include "tests/support/Seams.h"
#include "tests/support/TestSupport.h"
#include "viewer/Adjustments.h"
#include "viewer/ImageCanvas.h"
#include "viewer/ImageEditWindow.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QFontMetrics>
#include <QImageReader>
#include <QPushButton>
#include <QSignalSpy>
#include <QSlider>

#include <sys/stat.h>
#include <ctime>
#include <fcntl.h>

Q_DECLARE_METATYPE(Adjustments)

namespace {

// Left half a muted orange, right half a dark blue-grey; a sharp edge between.
QImage sample()
{
    QImage image(64, 32, QImage::Format_RGB32);
    for (int y = 0; y < image.height(); ++y)
        for (int x = 0; x < image.width(); ++x)
            image.setPixel(x, y, x < 32 ? qRgb(180, 120, 80) : qRgb(60, 70, 90));
    return image;
}

int luma(QRgb p)
{
    return (qRed(p) * 2126 + qGreen(p) * 7152 + qBlue(p) * 722) / 10000;
}

int chroma(QRgb p)
{
    return std::max({qRed(p), qGreen(p), qBlue(p)}) - std::min({qRed(p), qGreen(p), qBlue(p)});
}

// The viewer's Edit button on path, with the hub on screen.
editImagevc *openEditor(const QString &path)
{
    viewerItemURL = QUrl::fromLocalFile(path);
    mainvc *hub = contentHub();
    hub->resize(1000, 700);
    hub->show();
    hub->showEditImagevc();
    return editImageController;
}

} // namespace

class EditorTest : public QObject
{
    Q_OBJECT

private Q_SLOTS:
    void init()
    {
        resetSharedState();
        lg::Alert::clearShownAlerts();
    }

    void cleanup()
    {
        editImagevc::setHeldFileLimitForTesting(-1);
        lg::test::resetSeams();
    }

    void adjustmentsMovePixelsTheExpectedWay_data()
    {
        QTest::addColumn<Adjustments>("adjustments");
        QTest::addColumn<QString>("expect");
        const auto with = [](double Adjustments::*field, double value) {
            Adjustments a;
            a.*field = value;
            return a;
        };
        QTest::newRow("exposure +1") << with(&Adjustments::exposure, 1) << QStringLiteral("brighter");
        QTest::newRow("brightness -0.3") << with(&Adjustments::brightness, -0.3) << QStringLiteral("darker");
        QTest::newRow("contrast 1.8") << with(&Adjustments::contrast, 1.8) << QStringLiteral("spread");
        QTest::newRow("saturation 0") << with(&Adjustments::saturation, 0) << QStringLiteral("grey");
        QTest::newRow("saturation 2") << with(&Adjustments::saturation, 2) << QStringLiteral("more colour");
        QTest::newRow("monochrome 1") << with(&Adjustments::monochrome, 1) << QStringLiteral("grey");
        QTest::newRow("sepia 1") << with(&Adjustments::sepia, 1) << QStringLiteral("sepia");
        QTest::newRow("sharpness 1") << with(&Adjustments::sharpness, 1) << QStringLiteral("sharper edge");
    }

    void adjustmentsMovePixelsTheExpectedWay()
    {
        QFETCH(Adjustments, adjustments);
        QFETCH(QString, expect);
        const QImage source = sample();
        const QImage before = source.copy();
        const QImage out = applyAdjustments(source, adjustments);
        QCOMPARE(source, before);   // the source is left alone
        QCOMPARE(out.size(), source.size());
        const QRgb warm = out.pixel(8, 16), cool = out.pixel(56, 16);
        const QRgb warm0 = source.pixel(8, 16), cool0 = source.pixel(56, 16);
        if (expect == QLatin1String("brighter"))
            QVERIFY(luma(warm) > luma(warm0) + 30 && luma(cool) > luma(cool0) + 30);
        else if (expect == QLatin1String("darker"))
            QVERIFY(luma(warm) < luma(warm0) - 30 && luma(cool) < luma(cool0) - 30);
        else if (expect == QLatin1String("spread"))
            QVERIFY(luma(warm) - luma(cool) > luma(warm0) - luma(cool0) + 20);
        else if (expect == QLatin1String("grey"))
            QVERIFY(chroma(warm) <= 2 && chroma(cool) <= 2);
        else if (expect == QLatin1String("more colour"))
            QVERIFY(chroma(warm) > chroma(warm0) + 30);
        else if (expect == QLatin1String("sepia"))
            QVERIFY(qRed(cool) > qGreen(cool) && qGreen(cool) > qBlue(cool));
        else if (expect == QLatin1String("sharper edge"))
            QVERIFY(luma(out.pixel(31, 16)) > luma(warm0) && luma(out.pixel(32, 16)) < luma(cool0));
        // No change: the very same picture.
        QCOMPARE(applyAdjustments(source, Adjustments()), source);
    }

    void editorPreviewsAndSavesANewFile()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("edit"));
        const QString path = lg::test::fixtures::writeJpeg(folder + QStringLiteral("/photo.jpg"),
                                                           lg::test::fixtures::storedForOrientation(sample(), 6), 6);
        QVERIFY(lg::test::fixtures::setMetadata(path, {{"Xmp.xmp.Rating", "3"}, {"Xmp.dc.subject", "market"}}));
        const QByteArray original = lg::test::readAll(path);
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY(editor->isLoaded());
        QTRY_VERIFY(editor->editor->isVisible());
        QCOMPARE(editor->editor->windowTitle(), QStringLiteral("Image Edit"));
        const int before = luma(editor->imageview->image().pixel(8, 8));

        QSlider *exposure = editor->editor->slider(QStringLiteral("exposure"));
        QSignalSpy previews(editor, &editImagevc::previewShown);
        for (int value = 10; value <= 100; value += 10)   // a drag: ten moves before the first preview is back
            exposure->setValue(value);
        QTRY_COMPARE(editor->shownAdjustments().exposure, 1.0);
        QCOMPARE(previews.count(), 2);   // the first move, then one for the newest position
        QVERIFY(luma(editor->imageview->image().pixel(8, 8)) > before + 30);

        const QString copy = folder + QStringLiteral("/edited.png");
        QString proposed;
        Saver::setPanelResponderForTesting([&](const QString &name) {
            proposed = name;
            SaveFormatChoice choice;
            choice.type = lg::ImageFileType::PNG;
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, choice));
        });
        editor->btnsave();
        QTRY_VERIFY(QFileInfo::exists(copy) && !isBusy);
        QCOMPARE(proposed, QStringLiteral("photo"));
        QCOMPARE(editor->saver->startFolder, QFileInfo(path).absolutePath());
        const QImage saved(copy);
        QCOMPARE(saved.size(), QSize(64, 32));
        QVERIFY(luma(saved.pixel(8, 8)) > luma(sample().pixel(8, 8)) + 30);
        QCOMPARE(lg::test::readAll(path), original);
        QVERIFY(!editor->hasUnsavedChanges());
        // The copy carries the source's own metadata, fit for its upright pixels.
        const auto expectSourceMetadata = [](const QString &file) {
            using lg::test::fixtures::metadataValue;
            QCOMPARE(metadataValue(file, QStringLiteral("Exif.Image.Make")), QStringLiteral("Lumen"));
            QCOMPARE(metadataValue(file, QStringLiteral("Exif.Photo.DateTimeOriginal")), QStringLiteral("2021:06:05 14:30:00"));
            QCOMPARE(metadataValue(file, QStringLiteral("Exif.GPSInfo.GPSLatitudeRef")), QStringLiteral("N"));
            QCOMPARE(metadataValue(file, QStringLiteral("Exif.Image.Orientation")), QStringLiteral("1"));
            QCOMPARE(metadataValue(file, QStringLiteral("Exif.Photo.PixelXDimension")), QStringLiteral("64"));
            QCOMPARE(metadataValue(file, QStringLiteral("Iptc.Application2.Caption")), QStringLiteral("A test picture"));
            QCOMPARE(metadataValue(file, QStringLiteral("Xmp.xmp.Rating")), QStringLiteral("3"));
            QCOMPARE(metadataValue(file, QStringLiteral("Xmp.dc.subject")), QStringLiteral("market"));
        };
        expectSourceMetadata(copy);
        if (QTest::currentTestFailed())
            return;

        // "Replace" over the source itself, in its own format: its metadata is still whole.
        Saver::setPanelResponderForTesting([path](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(path, SaveFormatChoice()));
        });
        editor->btnsave();
        QTRY_VERIFY(lg::test::readAll(path) != original && !isBusy);
        QCOMPARE(QImage(path).size(), QSize(64, 32));
        expectSourceMetadata(path);
        if (QTest::currentTestFailed())
            return;
        const QByteArray replaced = lg::test::readAll(path);

        // Leaving with new, unsaved changes asks first; "No" discards and closes.
        exposure->setValue(50);
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 1; });
        editor->btnExit();
        QTRY_VERIFY(!editor->editor->isVisible());
        QCOMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("Save changes?"));
        QVERIFY(!editor->isLoaded());
        QCOMPARE(lg::test::readAll(path), replaced);
        contentHub()->hide();
    }

    void aFileMovedAwayWhileEditedIsStillSavedAsACopy()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("movedaway"));
        const QString elsewhere = lg::test::freshFolder(QStringLiteral("movedawayTo"));
        const QString path = lg::test::fixtures::writeJpeg(folder + QStringLiteral("/photo.jpg"),
                                                           lg::test::fixtures::storedForOrientation(sample(), 6), 6);
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY(editor->isLoaded());
        editor->editor->slider(QStringLiteral("exposure"))->setValue(100);
        QTRY_COMPARE(editor->shownAdjustments().exposure, 1.0);
        auto *save = editor->findChild<QPushButton *>(QStringLiteral("btnsave"));
        QVERIFY(save);
        const QString copy = folder + QStringLiteral("/edited.jpg");
        Saver::setPanelResponderForTesting([copy](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, SaveFormatChoice()));
        });

        // Another program moves the photo away; the picture being edited is saved whole.
        QVERIFY(QFile::rename(path, elsewhere + QStringLiteral("/photo.jpg")));
        save->click();
        QTRY_VERIFY(QFileInfo::exists(copy) && !isBusy);
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        const QImage saved(copy);
        QCOMPARE(saved.size(), QSize(64, 32));
        QVERIFY(luma(saved.pixel(8, 8)) > luma(sample().pixel(8, 8)) + 30);
        QCOMPARE(lg::test::fixtures::metadataValue(copy, QStringLiteral("Exif.Image.Make")), QStringLiteral("Lumen"));
        QVERIFY(!editor->hasUnsavedChanges());

        // Held no longer (a file too large to keep): the message names the cause, nothing is written.
        QVERIFY(QFile::rename(elsewhere + QStringLiteral("/photo.jpg"), path));
        editImagevc::setHeldFileLimitForTesting(0);
        editor->btnrefresh();
        QTRY_VERIFY(editor->isLoaded());
        editor->editor->slider(QStringLiteral("exposure"))->setValue(50);
        QVERIFY(QFile::remove(path));
        QVERIFY(QFile::remove(copy));
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        save->click();
        QTRY_COMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("The picture could not be saved."));
        QCOMPARE(lg::Alert::shownAlerts().first().text,
                 QStringLiteral("\u201Cphoto.jpg\u201D is no longer where it was opened from, and it was too large to "
                                "keep while it was edited."));
        QTRY_VERIFY(!isBusy);
        QVERIFY(!QFileInfo::exists(copy));
        QVERIFY(editor->hasUnsavedChanges());
        contentHub()->hide();
    }

    // Monochrome set, then another program writes a green square over the
    // name (a rename over it, or bytes changed in place). A copy is the
    // edited photo in monochrome, never the square; a save over the name
    // itself is refused and the square stays, as is a save of a photo too
    // large to keep that can no longer be read as it was opened.
    void theSavedPictureIsThePictureEdited_data()
    {
        QTest::addColumn<bool>("inPlace");
        QTest::addColumn<bool>("overTheName");
        QTest::addColumn<bool>("held");
        QTest::newRow("renamed over, saved as a copy") << false << false << true;
        QTest::newRow("renamed over, saved over the name") << false << true << true;
        QTest::newRow("changed in place, saved over the name") << true << true << true;
        QTest::newRow("renamed over, too large to keep, saved as a copy") << false << false << false;
    }
    void theSavedPictureIsThePictureEdited()
    {
        QFETCH(bool, inPlace);
        QFETCH(bool, overTheName);
        QFETCH(bool, held);
        const QString folder = lg::test::freshFolder(QStringLiteral("writtenOver"));
        const QString path = lg::test::fixtures::writeJpeg(folder + QStringLiteral("/photo.jpg"), sample());
        QImage square(40, 40, QImage::Format_RGB32);
        square.fill(qRgb(20, 200, 40));
        const QString other = lg::test::fixtures::writeJpeg(lg::test::freshFolder(QStringLiteral("writtenOverOther"))
                                                                + QStringLiteral("/square.jpg"), square);
        if (!held)
            editImagevc::setHeldFileLimitForTesting(0);
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY(editor->isLoaded());
        editor->editor->slider(QStringLiteral("monochrome"))->setValue(editor->editor->slider(QStringLiteral("monochrome"))->maximum());
        QTRY_VERIFY(editor->shownAdjustments().monochrome > 0.9);
        if (inPlace) {
            QFile file(path);
            QVERIFY(file.open(QIODevice::ReadWrite));
            file.seek(file.size() - 6);
            file.write("\x11\x22\x33\x44");
            file.close();
            const struct timespec later[2] = {{0, UTIME_OMIT}, {std::time(nullptr) + 5, 0}};
            QVERIFY(::utimensat(AT_FDCWD, QFile::encodeName(path).constData(), later, 0) == 0);
        } else {
            QVERIFY(std::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData()) == 0);
        }
        const QByteArray onDisk = lg::test::readAll(path);
        const QString copy = folder + QStringLiteral("/edited.jpg");
        const QString target = overTheName ? path : copy;
        Saver::setPanelResponderForTesting([target](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(target, SaveFormatChoice()));
        });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        editor->btnsave();
        QTRY_VERIFY((QFileInfo::exists(copy) || !lg::Alert::shownAlerts().isEmpty()) && !isBusy);
        if (overTheName || !held) {
            QCOMPARE(lg::Alert::shownAlerts().size(), 1);
            QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("Some items could not be processed."));
            QCOMPARE(lg::Alert::shownAlerts().first().text,
                     QStringLiteral("1 item could not be processed. \u201Cphoto.jpg\u201D: The item was %1 since "
                                    "it was opened.").arg(inPlace ? "changed" : "replaced"));
            QCOMPARE(lg::test::readAll(path), onDisk);
            QVERIFY(!QFileInfo::exists(copy));
            QVERIFY(editor->hasUnsavedChanges());
        } else {
            QVERIFY(lg::Alert::shownAlerts().isEmpty());
            const QImage saved(copy);
            QCOMPARE(saved.size(), QSize(64, 32));
            QVERIFY(chroma(saved.pixel(8, 16)) <= 6 && chroma(saved.pixel(56, 16)) <= 6);
            QVERIFY(luma(saved.pixel(8, 16)) > luma(saved.pixel(56, 16)) + 30);
        }
        contentHub()->hide();
    }

    // Saving over the opened file, then again after another change, writes
    // both times: our own save is not another program's. A photo opened
    // through a link is saved through it the same way.
    void ourOwnSaveOverTheOpenedFileCanBeRepeated_data()
    {
        QTest::addColumn<bool>("throughALink");
        QTest::newRow("a plain file") << false;
        QTest::newRow("through a link") << true;
    }
    void ourOwnSaveOverTheOpenedFileCanBeRepeated()
    {
        QFETCH(bool, throughALink);
        const QString folder = lg::test::freshFolder(QStringLiteral("savedTwice"));
        QString path = folder + QStringLiteral("/photo.jpg");
        QString real = path;
        if (throughALink) {
            real = lg::test::freshFolder(QStringLiteral("savedTwiceReal")) + QStringLiteral("/photo.jpg");
            QVERIFY(QFile::link(real, path));
        }
        lg::test::fixtures::writeJpeg(real, sample());
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY(editor->isLoaded());
        Saver::setPanelResponderForTesting([path](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(path, SaveFormatChoice()));
        });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });   // Replace
        QSlider *monochrome = editor->editor->slider(QStringLiteral("monochrome"));
        for (const int value : {monochrome->maximum(), monochrome->maximum() / 2}) {
            const QByteArray before = lg::test::readAll(real);
            monochrome->setValue(value);
            QTRY_VERIFY(editor->hasUnsavedChanges());
            editor->btnsave();
            QTRY_VERIFY((lg::test::readAll(real) != before || !lg::Alert::shownAlerts().isEmpty()) && !isBusy);
            QCOMPARE(lg::Alert::shownAlerts().value(0).text, QString());
            QVERIFY(!editor->hasUnsavedChanges());
        }
        QCOMPARE(QFileInfo(path).isSymLink(), throughALink);
        contentHub()->hide();
    }

    // A 35 MP JPEG, more than Qt's readers take by default (four bytes a
    // pixel over 128 MB), is edited and saved whole.
    void aPictureLargerThanTheReadersDefaultIsSaved()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("large"));
        QImage large(7000, 5000, QImage::Format_RGB32);
        large.fill(qRgb(180, 120, 80));
        const QString path = lg::test::fixtures::writeJpeg(folder + QStringLiteral("/large.jpg"), large, 1, 50);
        large = QImage();
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY_WITH_TIMEOUT(editor->isLoaded(), 20000);
        QVERIFY(lg::Alert::shownAlerts().isEmpty());
        editor->editor->slider(QStringLiteral("monochrome"))->setValue(editor->editor->slider(QStringLiteral("monochrome"))->maximum());
        QTRY_VERIFY(editor->shownAdjustments().monochrome > 0.9);
        const QString copy = folder + QStringLiteral("/edited.jpg");
        Saver::setPanelResponderForTesting([copy](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, SaveFormatChoice()));
        });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        editor->btnsave();
        QTRY_VERIFY_WITH_TIMEOUT((QFileInfo::exists(copy) || !lg::Alert::shownAlerts().isEmpty()) && !isBusy, 30000);
        QCOMPARE(lg::Alert::shownAlerts().value(0).text, QString());
        QImageReader saved(copy);
        QCOMPARE(saved.size(), QSize(7000, 5000));
        saved.setScaledSize(QSize(700, 500));
        const QImage small = saved.read();
        QVERIFY(chroma(small.pixel(350, 250)) <= 6);
        contentHub()->hide();
    }

    // A long name is cut in the middle, as the viewer's title is; the
    // floating "Image Edit" window goes while "More Apps" covers the editor
    // and comes back after.
    void theTitleIsCutInTheMiddleAndTheEditWindowFollowsTheScreen()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("title"));
        const QString name = QStringLiteral("Summer_holiday_at_the_lake_with_the_whole_family_and_friends_"
                                            "2021-06-05_14-30-00_final_export_for_printing_and_sharing.jpg");
        const QString path = lg::test::fixtures::writeJpeg(folder + QLatin1Char('/') + name, sample());
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY(editor->isLoaded());
        QTRY_VERIFY(editor->editor->isVisible());
        const QString shown = editor->lblfilename->text();
        QVERIFY2(shown.startsWith(QStringLiteral("Summer_holiday")) && shown.endsWith(QStringLiteral("sharing.jpg")),
                 qPrintable(shown));
        QCOMPARE(shown.count(QChar(0x2026)), 1);
        QVERIFY(QFontMetrics(editor->lblfilename->font()).horizontalAdvance(shown)
                <= editor->lblfilename->contentsRect().width());

        mainvc *hub = contentHub();
        hub->btnUtilityKit();
        auto *panel = hub->findChild<utilityKitvc *>();
        QVERIFY(panel && panel->isVisible());
        QTRY_VERIFY(!editor->editor->isVisible());
        panel->btnclose();
        QTRY_VERIFY(!panel->isVisible());
        QTRY_VERIFY(editor->editor->isVisible());
        editor->closeEditor();
        QVERIFY(!editor->editor->isVisible());
        hub->hide();
    }

    void aLinkWhoseTargetWentIsStillSavedFromTheHeldFile()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("linked"));
        const QString target = lg::test::fixtures::writeJpeg(folder + QStringLiteral("/target.jpg"),
                                                             lg::test::fixtures::storedForOrientation(sample(), 6), 6);
        const QString link = folder + QStringLiteral("/photo.jpg");
        QVERIFY(QFile::link(target, link));
        editImagevc *editor = openEditor(link);
        QTRY_VERIFY(editor->isLoaded());
        editor->editor->slider(QStringLiteral("exposure"))->setValue(100);
        QTRY_COMPARE(editor->shownAdjustments().exposure, 1.0);
        const QString copy = folder + QStringLiteral("/edited.jpg");
        Saver::setPanelResponderForTesting([copy](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, SaveFormatChoice()));
        });

        // The link stays where it was, but what it points to has gone.
        QVERIFY(QFile::remove(target));
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        editor->btnsave();
        QTRY_VERIFY((QFileInfo::exists(copy) || !lg::Alert::shownAlerts().isEmpty()) && !isBusy);
        QCOMPARE(lg::Alert::shownAlerts().value(0).text, QString());
        QVERIFY(!editor->hasUnsavedChanges());
        const QImage saved(copy);
        QCOMPARE(saved.size(), QSize(64, 32));
        QVERIFY(luma(saved.pixel(8, 8)) > luma(sample().pixel(8, 8)) + 30);
        QCOMPARE(lg::test::fixtures::metadataValue(copy, QStringLiteral("Exif.Image.Make")), QStringLiteral("Lumen"));
        contentHub()->hide();
    }

    // Leaving with changes, "Save changes?" then "Yes": a saved copy or a
    // cancelled panel closes the editor; a write that failed leaves it open
    // with its edits, under the message that says why.
    void leavingThroughSaveChangesClosesUnlessTheWriteFailed_data()
    {
        QTest::addColumn<QString>("outcome");
        QTest::newRow("saved") << QStringLiteral("saved");
        QTest::newRow("cancelled") << QStringLiteral("cancelled");
        QTest::newRow("write failed") << QStringLiteral("failed");
        QTest::newRow("folder gone") << QStringLiteral("vanished");
    }
    void leavingThroughSaveChangesClosesUnlessTheWriteFailed()
    {
        QFETCH(QString, outcome);
        const QString folder = lg::test::freshFolder(QStringLiteral("leaving"));
        const QString path = lg::test::fixtures::writeJpeg(folder + QStringLiteral("/photo.jpg"), sample());
        editImagevc *editor = openEditor(path);
        QTRY_VERIFY(editor->isLoaded());
        editor->editor->slider(QStringLiteral("exposure"))->setValue(100);
        QTRY_COMPARE(editor->shownAdjustments().exposure, 1.0);
        const QString copy = outcome == QLatin1String("vanished") ? folder + QStringLiteral("/gone/edited.jpg")
                                                                   : folder + QStringLiteral("/edited.jpg");
        Saver::setPanelResponderForTesting([copy, outcome](const QString &) {
            return outcome == QLatin1String("cancelled")
                       ? std::optional<std::pair<QString, SaveFormatChoice>>()
                       : std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, SaveFormatChoice()));
        });
        if (outcome == QLatin1String("failed"))
            lg::ImageWriter::setCommitHookForTesting([](const QString &) { return false; });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });   // "Yes", then "OK"
        editor->btnExit();
        QTRY_VERIFY(!isBusy && (!editor->isLoaded() || lg::Alert::shownAlerts().size() == 2));
        QTest::qWait(50);
        QCOMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("Save changes?"));
        if (outcome == QLatin1String("saved") || outcome == QLatin1String("cancelled")) {
            QCOMPARE(lg::Alert::shownAlerts().size(), 1);
            QVERIFY(!editor->isLoaded());
            QCOMPARE(QFileInfo::exists(copy), outcome == QLatin1String("saved"));
            contentHub()->hide();
            return;
        }
        QCOMPARE(lg::Alert::shownAlerts().size(), 2);
        QCOMPARE(lg::Alert::shownAlerts().at(1).title, QStringLiteral("The picture could not be saved."));
        QVERIFY(!lg::Alert::shownAlerts().at(1).text.isEmpty());
        QVERIFY(!QFileInfo::exists(copy));
        // Still open, with its edits: the user can save elsewhere.
        QVERIFY(editor->isLoaded() && editor->isVisible());
        QCOMPARE(editor->adjustments().exposure, 1.0);
        QVERIFY(editor->hasUnsavedChanges());
        QVERIFY(!editor->savepanel_CallFromexit);
        lg::ImageWriter::setCommitHookForTesting({});
        const QString elsewhere = folder + QStringLiteral("/elsewhere.jpg");
        Saver::setPanelResponderForTesting([elsewhere](const QString &) {
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(elsewhere, SaveFormatChoice()));
        });
        editor->btnExit();
        QTRY_VERIFY(!editor->isLoaded());
        QVERIFY(QFileInfo::exists(elsewhere));
        contentHub()->hide();
    }

    // What cannot be read as a picture is refused at once, never waited on.
    void whatIsNoPictureCannotBeEdited_data()
    {
        QTest::addColumn<bool>("pipe");
        QTest::newRow("not a picture") << false;
        QTest::newRow("a pipe named as a picture") << true;
    }

    void whatIsNoPictureCannotBeEdited()
    {
        QFETCH(bool, pipe);
        const QString path = lg::test::freshFolder(QStringLiteral("bad")) + (pipe ? QStringLiteral("/pipe.jpg")
                                                                                 : QStringLiteral("/bad.jpg"));
        if (pipe)
            QVERIFY(::mkfifo(QFile::encodeName(path).constData(), 0600) == 0);
        else
            lg::test::writeFile(path, QByteArray("not a picture"));
        viewerItemURL = QUrl::fromLocalFile(path);
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        contentHub()->showEditImagevc();
        QTRY_COMPARE(lg::Alert::shownAlerts().value(0).title, QStringLiteral("This Image can not be edited."));
        QTRY_VERIFY(!isBusy);
        QVERIFY(!editImageController->isLoaded());
    }
};

LG_TEST(EditorTest)
#include "test_editor.moc"
