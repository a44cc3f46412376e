// The save panel: names with the chosen extension, every writable format, the
// hub's overlay while the panel is up, failures reported and never marked saved.
#include "app/Essentials.h"
#include "app/homeVc.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "browser/GridView.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "collage/collagevc.h"
#include "controls/ZLFlatButton.h"
#include "model/FolderMonitor.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Panels.h"
#include "platform/desktop/Paths.h"
#include "platform/desktop/Workspace.h"
#include "tests/support/CaptureStdout.h"
#include "tests/support/Fixtures.h"
#include "tests/support/ScreenModeNames.h"
#include "tests/support/Seams.h"
#include "tests/support/TestSupport.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QLabel>
#include <QLineEdit>
#include <QSignalSpy>
#include <QSplitter>
#include <QStyleHints>
#include <QToolButton>

namespace {

QImage picture(QSize size)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(QColor(200, 30, 30));
    return image;
}

using Answer = std::optional<std::pair<QString, SaveFormatChoice>>;

SaveFormatChoice choiceOf(lg::ImageFileType type)
{
    SaveFormatChoice choice;
    choice.type = type;
    return choice;
}

// The folder the next save panel starts in (the panel is cancelled).
QString saveDirectory(const std::function<void()> &openPanel)
{
    QString asked = QStringLiteral("<no panel>");
    lg::Panels::setSaveResponder([&asked](const lg::SavePanelSpec &spec) {
        asked = spec.directory;
        return QUrl();
    });
    openPanel();
    lg::test::settle();
    // Some callers draw their picture in the background before the panel opens.
    (void)QTest::qWaitFor([&asked] { return asked != QStringLiteral("<no panel>"); }, 5000);
    lg::Panels::setSaveResponder({});
    return asked;
}

} // namespace

class SaverTest : public QObject
{
    Q_OBJECT

    QList<lg::ExternalCall> m_calls;

private Q_SLOTS:
    void init()
    {
        resetSharedState();
        m_calls.clear();
        lg::Workspace::setRunnerForTesting([this](const lg::ExternalCall &call, QString *) {
            m_calls.append(call);
            return true;
        });
        lg::Alert::setResponder([](const lg::AlertSpec &) { return 0; });
        lg::Alert::clearShownAlerts();
    }
    void cleanup() { lg::test::resetSeams(); }
    void cleanupTestCase() { resetSharedState(); }

    void extensionFollowsTheFormat_data()
    {
        QTest::addColumn<QString>("name");
        QTest::addColumn<lg::ImageFileType>("type");
        QTest::addColumn<QString>("expected");
        QTest::newRow("plain") << "Untitled" << lg::ImageFileType::JPEG << "Untitled.jpg";
        QTest::newRow("other image type replaced") << "photo.png" << lg::ImageFileType::JPEG << "photo.jpg";
        QTest::newRow("own spelling kept") << "photo.JPEG" << lg::ImageFileType::JPEG << "photo.JPEG";
        QTest::newRow("non-image dot kept") << "my.trip" << lg::ImageFileType::PNG << "my.trip.png";
        QTest::newRow("dot in folder only") << "/a/b.c/x" << lg::ImageFileType::TIFF << "/a/b.c/x.tiff";
        QTest::newRow("hidden name") << ".pic" << lg::ImageFileType::HEIC << ".pic.heic";
    }
    void extensionFollowsTheFormat()
    {
        QFETCH(QString, name);
        QFETCH(lg::ImageFileType, type);
        QFETCH(QString, expected);
        QCOMPARE(Saver::applyExtension(name, type), expected);
    }

    void writesEveryOfferedFormat_data()
    {
        QTest::addColumn<lg::ImageFileType>("type");
        QTest::addColumn<QString>("compression");
        for (lg::ImageFileType type : SaveOptionsAccessory::offeredTypes()) {
            if (type == lg::ImageFileType::TIFF) {
                for (const char *c : {"none", "lzw", "deflate", "packbits"})
                    QTest::addRow("TIFF %s", c) << type << QString::fromLatin1(c);
            } else {
                QTest::newRow(qPrintable(SaveOptionsAccessory::displayName(type))) << type << QString();
            }
        }
    }
    void writesEveryOfferedFormat()
    {
        QFETCH(lg::ImageFileType, type);
        QFETCH(QString, compression);
        SaveFormatChoice choice = choiceOf(type);
        choice.quality = 0.5;
        choice.tiffCompression = compression;
        const QString path = Saver::applyExtension(lg::test::freshFolder(QStringLiteral("formats")) + "/out", type);
        QString error;
        QVERIFY2(Saver::writeImage(picture(QSize(40, 30)), path, choice, &error), qPrintable(error));
        QVERIFY(QFileInfo(path).size() > 0);
        QImageReader reader(path);
        // Icons are resized to icon sides; Qt reads TGA only with the 2.0 footer.
        if (reader.canRead() && type != lg::ImageFileType::AppleIcon && type != lg::ImageFileType::WindowsIcon
            && type != lg::ImageFileType::TGA)
            QCOMPARE(reader.size(), QSize(40, 30));
    }

    void refusesWhatCannotBeWritten()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("refused"));
        QString error;
        if (!lg::ImageWriter::canWrite(lg::ImageFileType::QuickTimeImage)) {
            QVERIFY(!SaveOptionsAccessory::offeredTypes().contains(lg::ImageFileType::QuickTimeImage));
            QVERIFY(!Saver::writeImage(picture(QSize(8, 8)), folder + "/q.qtif",
                                       choiceOf(lg::ImageFileType::QuickTimeImage), &error));
            QVERIFY(error.contains(QStringLiteral("cannot be written")));
        }
        SaveFormatChoice tiff = choiceOf(lg::ImageFileType::TIFF);
        tiff.tiffCompression = QStringLiteral("jbig");
        QVERIFY(!Saver::writeImage(picture(QSize(8, 8)), folder + "/t.tiff", tiff, &error));
        QVERIFY(!Saver::writeImage(QImage(), folder + "/e.png", choiceOf(lg::ImageFileType::PNG), &error));
        QVERIFY(QDir(folder).isEmpty(QDir::AllEntries | QDir::Hidden | QDir::NoDotAndDotDot));
    }

    void savingShowsTheOverlayWritesAndOpens()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("save"));
        mainvc *hub = contentHub();
        QString proposed;
        bool dimmedDuringPanel = false;
        Saver::setPanelResponderForTesting([&](const QString &name) -> Answer {
            proposed = name;
            dimmedDuringPanel = hub->isonlyalert && isBusy;
            return std::make_pair(folder + "/collage", choiceOf(lg::ImageFileType::PNG));
        });
        QWidget view;
        view.resize(60, 40);
        view.setAutoFillBackground(true);
        QPalette palette = view.palette();
        palette.setColor(QPalette::Window, QColor(0, 0, 255));
        view.setPalette(palette);

        Saver saver;
        QSignalSpy saved(&saver, &Saver::saved);
        QSignalSpy finished(&saver, &Saver::finished);
        saver.showSavePanel(&view, 120, 80);
        QCOMPARE(saverOutputSize, std::optional<QSizeF>(QSizeF(120, 80)));
        QVERIFY(finished.wait(5000));
        QCOMPARE(proposed, QStringLiteral("Untitled"));
        QVERIFY(dimmedDuringPanel);
        QVERIFY(!hub->isonlyalert);
        QVERIFY(!isBusy);
        QCOMPARE(finished.first().first().toBool(), true);
        const QString path = folder + "/collage.png";
        QCOMPARE(saved.size(), 1);
        QCOMPARE(saved.first().first().toString(), path);
        const QImage written(path);
        QCOMPARE(written.size(), QSize(120, 80));
        QCOMPARE(written.pixelColor(119, 79), QColor(0, 0, 255));
        QVERIFY(isCollageSaved);
        QCOMPARE(m_calls.size(), 1);
        QCOMPARE(m_calls.first().arguments, QStringList{QUrl::fromLocalFile(path).toString()});
        QVERIFY(lg::Alert::shownAlerts().isEmpty());

        // Saved, but nothing opens it: said once, and the save still counts.
        lg::Workspace::setRunnerForTesting([](const lg::ExternalCall &, QString *error) {
            *error = QStringLiteral("no handler");
            return false;
        });
        isCollageSaved = false;
        QVERIFY(QFile::remove(path));
        saver.showSavePanel(&view, 12, 8);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.last().first().toBool(), true);
        QVERIFY(isCollageSaved);
        QCOMPARE(lg::Alert::shownAlerts().size(), 1);
        QCOMPARE(lg::Alert::shownAlerts().first().title, QStringLiteral("The saved picture could not be opened."));
        QCOMPARE(lg::Alert::shownAlerts().first().text, QStringLiteral("“collage.png” was saved, but no application could open it."));
    }

    // A copy of a turned JPEG saved as JPEG at its own size is the turned file
    // made without loss, byte for byte; another format or size is rendered.
    void aPreparedJpegIsWrittenAsItIs_data()
    {
        QTest::addColumn<lg::ImageFileType>("type");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<bool>("asItIs");
        QTest::newRow("JPEG, own size") << lg::ImageFileType::JPEG << QSize(32, 24) << true;
        QTest::newRow("JPEG, another size") << lg::ImageFileType::JPEG << QSize(16, 12) << false;
        QTest::newRow("PNG") << lg::ImageFileType::PNG << QSize(32, 24) << false;
    }
    void aPreparedJpegIsWrittenAsItIs()
    {
        QFETCH(lg::ImageFileType, type);
        QFETCH(QSize, size);
        QFETCH(bool, asItIs);
        const QString folder = lg::test::freshFolder(QStringLiteral("prepared"));
        QByteArray prepared;
        {
            QBuffer buffer(&prepared);
            buffer.open(QIODevice::WriteOnly);
            QImageWriter writer(&buffer, "jpeg");
            writer.setQuality(97);
            QVERIFY(writer.write(picture(QSize(32, 24))));
        }
        prepared += "video after the end";
        Saver::setPanelResponderForTesting([&](const QString &) -> Answer {
            return std::make_pair(folder + "/copy", choiceOf(type));
        });
        Saver saver;
        saver.openAfterSave = false;
        saver.preparedJpeg = prepared;
        QSignalSpy finished(&saver, &Saver::finished);
        saver.showSavePanel([](const QSize &s) { return picture(s); }, size);
        QVERIFY(finished.wait(5000));
        QVERIFY(finished.first().first().toBool());
        const QString path = Saver::applyExtension(folder + "/copy", type);
        QCOMPARE(lg::test::readAll(path) == prepared, asItIs);
        QCOMPARE(QImageReader(path).size(), size);
    }

    // The panel's JPEG quality starts at the quality the source was written at.
    void theQualityStartsAtTheSources()
    {
        const QString folder = lg::test::freshFolder(QStringLiteral("quality"));
        const QString source = folder + "/q.jpg";
        {
            QImageWriter writer(source, "jpeg");
            writer.setQuality(97);
            QVERIFY(writer.write(picture(QSize(16, 16))));
        }
        double offered = -1;
        lg::Panels::setSaveResponder([&](const lg::SavePanelSpec &spec) {
            if (auto *accessory = qobject_cast<SaveOptionsAccessory *>(spec.accessory))
                offered = accessory->choice().quality;
            return QUrl();
        });
        Saver saver;
        QSignalSpy finished(&saver, &Saver::finished);
        saver.metadataSource = source;
        saver.showSavePanel([](const QSize &s) { return picture(s); }, QSize(16, 16));
        QVERIFY(finished.wait(5000));
        QCOMPARE(offered, 0.97);
        saver.metadataSource = lg::test::writeFile(folder + "/not.jpg", "not a picture");
        saver.showSavePanel([](const QSize &s) { return picture(s); }, QSize(16, 16));
        QVERIFY(finished.wait(5000));
        QCOMPARE(offered, 0.9);
        lg::Panels::setSaveResponder({});
    }

    void failuresAreReportedAndNothingIsMarkedSaved_data()
    {
        QTest::addColumn<QString>("where");        // relative to a fresh folder
        QTest::addColumn<lg::ImageFileType>("type");
        QTest::addColumn<QSize>("size");
        QTest::addColumn<QString>("title");
        QTest::addColumn<bool>("leaves");   // when asked for on leaving the collage
        const QString failed = QStringLiteral("The picture could not be saved.");
        QTest::newRow("cancelled") << "" << lg::ImageFileType::PNG << QSize(10, 10) << "" << true;
        QTest::newRow("missing folder") << "gone/x" << lg::ImageFileType::PNG << QSize(10, 10) << failed << false;
        QTest::newRow("unwritable format") << "q" << lg::ImageFileType::QuickTimeImage << QSize(10, 10) << failed << false;
        QTest::newRow("empty rendering") << "x" << lg::ImageFileType::PNG << QSize(0, 10) << failed << false;
        QTest::newRow("taken once the extension is added")
            << "taken" << lg::ImageFileType::JPEG << QSize(10, 10) << "“taken.jpg” already exists. Do you want to replace it?"
            << true;
    }
    void failuresAreReportedAndNothingIsMarkedSaved()
    {
        QFETCH(QString, where);
        QFETCH(lg::ImageFileType, type);
        QFETCH(QSize, size);
        QFETCH(QString, title);
        QFETCH(bool, leaves);
        const QString folder = lg::test::freshFolder(QStringLiteral("fail"));
        lg::test::writeFile(folder + "/taken.jpg", "keep me");
        lg::Alert::setResponder([](const lg::AlertSpec &spec) { return std::max(0, int(spec.buttons.size()) - 1); });  // Cancel / OK
        Saver::setPanelResponderForTesting([&](const QString &) -> Answer {
            if (where.isEmpty())
                return std::nullopt;
            return std::make_pair(folder + "/" + where, choiceOf(type));
        });
        contentHub();   // made first: it starts in the grid
        currentScreenMode = ScreenCollage;
        previousScreenMode = ScreenGrid;
        Saver saver;
        saver.callFromExit = true;
        QSignalSpy saved(&saver, &Saver::saved);
        QSignalSpy finished(&saver, &Saver::finished);
        saver.showSavePanel([](const QSize &s) { return s.isEmpty() ? QImage() : picture(s); }, size);
        QVERIFY(finished.wait(5000));
        QCOMPARE(finished.first().first().toBool(), false);
        QVERIFY(saved.isEmpty());
        QVERIFY(!isCollageSaved);
        QVERIFY(m_calls.isEmpty());
        QCOMPARE(lg::Alert::shownAlerts().size(), title.isEmpty() ? 0 : 1);
        if (!title.isEmpty())
            QCOMPARE(lg::Alert::shownAlerts().first().title, title);
        QCOMPARE(QFile(folder + "/taken.jpg").size(), 7);
        // Cancelled, the leaving goes on; failed, the collage stays open and unsaved.
        QCOMPARE(ScreenMode(currentScreenMode), leaves ? ScreenGrid : ScreenCollage);
        QVERIFY(!contentHub()->isonlyalert);
        QVERIFY(!isBusy);
    }

    void savePanelsStartWhereTheCallerSays()
    {
        QDir(lg::Paths::pictures()).removeRecursively();  // the home folder stands in for it
        const QString folder = lg::test::freshFolder(QStringLiteral("saving"));
        const QString home = lg::Paths::home();
        Saver saver;
        const auto open = [&saver] { saver.showSavePanel([](const QSize &) { return QImage(); }, QSize(4, 4)); };
        saver.startFolder = folder;
        QCOMPARE(saveDirectory(open), folder);
        saver.startFolder = folder + QStringLiteral("/gone");
        QCOMPARE(saveDirectory(open), home);

        // The collage saves into the current folder.
        currentFolderURL = QUrl::fromLocalFile(folder);
        QCOMPARE(saveDirectory([] { collageMaker()->btnsave(); }), folder);
    }
};

LG_TEST(SaverTest)
#include "test_saver.moc"
