// How fast the viewer shows the next picture: the time from "next" to the
// new picture painted, over 20 JPEGs of 6000 x 4000, with the neighbours
// decoded ahead (as the viewer does) and without (every picture decoded when
// asked for). Also the time from a double-click in the grid of that folder to
// the picture painted (cold), and djpeg's time to decode the same file at a
// quarter of its size, for comparison. The pictures are made once, in the
// build folder.
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "browser/GridView.h"
#include "browser/Listing.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/viewimagevc.h"
#include "platform/runtime/Background.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImage>
#include <QImageWriter>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace {

constexpr int pictureCount = 20;
const QSize pictureSize(6000, 4000);

// A photograph-like picture: soft gradients with some grain, different for each index.
QImage makePicture(int index)
{
    QImage image(pictureSize, QImage::Format_RGB32);
    quint32 seed = 2166136261u ^ quint32(index * 7919);
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int g = (y * 200) / image.height() + 20;
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int((seed >> 24) & 15) - 8;
            const int r = ((x * 220) / image.width() + index * 11) % 256;
            const int b = ((x + y) / 40 + index * 29) % 200 + 30;
            row[x] = qRgb(std::clamp(r + grain, 0, 255), std::clamp(g + grain, 0, 255), std::clamp(b + grain, 0, 255));
        }
    }
    return image;
}

QStringList ensurePictures(const QString &folder)
{
    QDir().mkpath(folder);
    QStringList paths;
    for (int i = 0; i < pictureCount; ++i)
        paths << folder + QStringLiteral("/photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
    QList<int> missing;
    for (int i = 0; i < pictureCount; ++i) {
        if (!QFileInfo::exists(paths.at(i)))
            missing << i;
    }
    if (!missing.isEmpty()) {
        std::printf("making %d pictures of %dx%d in %s\n", int(missing.size()), pictureSize.width(),
                    pictureSize.height(), qPrintable(folder));
        std::fflush(stdout);
        lg::forEachChunk(missing.size(), 1, [&](qsizetype at, qsizetype) {
            const int i = missing.at(at);
            const QString temporary = paths.at(i) + QStringLiteral(".part");
            QImageWriter writer(temporary, "jpeg");
            writer.setQuality(90);
            if (writer.write(makePicture(i)))
                QFile::rename(temporary, paths.at(i));
        });
    }
    return paths;
}

// Runs the event loop until the viewer reports the awaited picture painted.
bool waitUntilPainted(const bool *painted)
{
    QElapsedTimer limit;
    limit.start();
    while (!*painted && limit.elapsed() < 20000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    return *painted;
}

} // namespace

int main(int argc, char **argv)
{
    // The viewer touches no setting, but the program's folders stay out of the real home.
    QTemporaryDir home;
    bench::prepareScreens(home);
    QApplication app(argc, argv);

    const QStringList paths = ensurePictures(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-viewer-jpegs"));
    for (const QString &path : paths) {
        if (!QFileInfo::exists(path)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
        InitialDirectory item = Metadata::init(QUrl::fromLocalFile(path));
        item.isImage = true;
        itemList.append(item);
    }

    // A double-click in the grid of the folder, nothing decoded yet.
    const int openedRow = 3;
    QString expected = paths.at(openedRow);
    bool painted = false;
    ViewController *content = contentController();
    content->resize(1600, 1040);
    currentFolderURL = QUrl::fromLocalFile(QFileInfo(paths.first()).absolutePath());
    content->show();
    {
        thumbnailvc *grid = thumbnailGrid();
        bool listed = false;
        QObject::connect(grid, &thumbnailvc::reloadFinished, grid, [&] { listed = true; });
        grid->refreshData();
        waitUntilPainted(&listed);
        thumbnailCache().clear();
    }
    viewimagevc *viewer = imageViewer();
    QObject::connect(viewer->imgview, &ViewerImageView::painted, viewer,
                     [&](const QString &key, bool placeholder) {
                         if (!placeholder && key == expected)
                             painted = true;
                     });
    selectedItemIndex = openedRow;
    QElapsedTimer openClock;
    openClock.start();
    Q_EMIT thumbnailGrid()->collectionview->itemDoubleClicked(openedRow);
    if (!waitUntilPainted(&painted)) {
        std::fprintf(stderr, "the picture opened from the grid never showed\n");
        return 1;
    }
    const double openFromGrid = openClock.nsecsElapsed() / 1e6;
    std::printf("decoded for the screen at: %dx%d of %dx%d\n", viewer->imgview->currentImage().width(),
                viewer->imgview->currentImage().height(), pictureSize.width(), pictureSize.height());

    const auto step = [&](QList<double> &times, bool preloaded) {
        const int next = (selectedItemIndex + 1) % int(paths.size());
        if (preloaded) {
            // What the viewer does between two clicks: the neighbours are decoded.
            const PictureKey key = PictureLoader::keyFor(paths.at(next), viewer->decodeBound());
            QElapsedTimer limit;
            limit.start();
            while (!viewer->pictureLoader()->cached(key) && limit.elapsed() < 20000)
                QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        } else {
            viewer->pictureLoader()->waitForIdle();
            QCoreApplication::processEvents();
            viewer->pictureLoader()->clear();
        }
        expected = paths.at(next);
        painted = false;
        QElapsedTimer clock;
        clock.start();
        viewer->btnright();
        if (!waitUntilPainted(&painted))
            return false;
        times << clock.nsecsElapsed() / 1e6;
        return true;
    };

    QList<double> preloaded;
    for (int i = 0; i < pictureCount; ++i) {
        if (!step(preloaded, true)) {
            std::fprintf(stderr, "a preloaded picture never showed\n");
            return 1;
        }
    }
    viewer->setPreloadingEnabled(false);
    QList<double> cold;
    for (int i = 0; i < pictureCount; ++i) {
        if (!step(cold, false)) {
            std::fprintf(stderr, "a picture never showed\n");
            return 1;
        }
    }

    // djpeg at a quarter of the size, best of three (its start-up included).
    double djpeg = -1;
    const QString djpegProgram = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
    if (!djpegProgram.isEmpty()) {
        for (int i = 0; i < 3; ++i) {
            QProcess process;
            QElapsedTimer clock;
            clock.start();
            process.start(djpegProgram, {QStringLiteral("-scale"), QStringLiteral("1/4"), QStringLiteral("-outfile"),
                                         QStringLiteral("/dev/null"), paths.at(openedRow)});
            if (!process.waitForFinished(20000) || process.exitCode() != 0)
                break;
            const double ms = clock.nsecsElapsed() / 1e6;
            djpeg = djpeg < 0 ? ms : std::min(djpeg, ms);
        }
    }

    std::printf("open from grid: %.0f ms\n", openFromGrid);
    if (djpeg >= 0)
        std::printf("djpeg scale 1/4: %.0f ms\n", djpeg);
    else
        std::printf("djpeg scale 1/4: not available\n");
    std::printf("preloaded median: %.1f ms\n", bench::median(preloaded));
    std::printf("preloaded worst: %.1f ms\n", *std::max_element(preloaded.begin(), preloaded.end()));
    std::printf("cold median: %.1f ms\n", bench::median(cold));
    std::printf("cold worst: %.1f ms\n", *std::max_element(cold.begin(), cold.end()));
    if (djpeg > 0)
        std::printf("cold median / djpeg scale 1/4: %.2f\n", bench::median(cold) / djpeg);
    content->hide();
    return 0;
}
