// How the collage maker copes with large photos: fills a Grid collage with the
// photos of FOLDER (default: 20 generated JPEGs of 6000 x 4000), drags the
// margin slider through 30 values, then saves at the largest output size.
//
//   bench_collage [FOLDER]
//
// Prints the time until every slot shows its picture, the longest the main
// thread went without handling events while filling and dragging, the time of
// the save, the peak memory of the process and the saved size.
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "app/mainWindowController.h"
#include "app/mainvc.h"
#include "model/ThumbnailCache.h"
#include "collage/CollageSlots.h"
#include "collage/collagevc.h"
#include "app/Saver.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Heap.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QLinearGradient>
#include <QPainter>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace {

using bench::StallMeter;

constexpr int pictureCount = 20;
const QSize pictureSize(6000, 4000);

QImage makePicture(int index)
{
    QImage image(pictureSize, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient gradient(0, 0, pictureSize.width(), pictureSize.height());
    gradient.setColorAt(0, QColor::fromHsv((index * 37) % 360, 160, 230));
    gradient.setColorAt(1, QColor::fromHsv((index * 37 + 120) % 360, 200, 90));
    painter.fillRect(image.rect(), gradient);
    painter.setPen(Qt::NoPen);
    for (int i = 0; i < 12; ++i) {
        painter.setBrush(QColor::fromHsv((index * 53 + i * 29) % 360, 120, 200, 150));
        painter.drawEllipse(QPointF((i * 977 + index * 311) % 6000, (i * 631 + index * 173) % 4000), 600, 450);
    }
    return image;
}

QString ensurePictures(const QString &folder)
{
    QDir().mkpath(folder);
    QList<int> missing;
    for (int i = 0; i < pictureCount; ++i) {
        if (!QFileInfo::exists(folder + QStringLiteral("/photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'))))
            missing << i;
    }
    if (!missing.isEmpty()) {
        std::printf("making %d pictures of %dx%d in %s\n", int(missing.size()), pictureSize.width(),
                    pictureSize.height(), qPrintable(folder));
        std::fflush(stdout);
        lg::forEachChunk(missing.size(), 1, [&](qsizetype at, qsizetype) {
            const int i = missing.at(at);
            const QString path = folder + QStringLiteral("/photo%1.jpg").arg(i, 2, 10, QLatin1Char('0'));
            QImageWriter writer(path + QStringLiteral(".part"), "jpeg");
            writer.setQuality(90);
            if (writer.write(makePicture(i)))
                QFile::rename(path + QStringLiteral(".part"), path);
        });
    }
    return folder;
}

// Starts the peak memory over (making the pictures is not the collage's work).
void resetPeakMemory()
{
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    if (clear.open(QIODevice::WriteOnly))
        clear.write("5");
}

long peakMemoryMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return -1;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toLong() / 1024;
    }
    return -1;
}

void runFor(int ms)
{
    QElapsedTimer clock;
    clock.start();
    while (clock.elapsed() < ms)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
}

bool runUntil(const std::function<bool()> &done, int limitMs = 120000)
{
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    return done();
}

bool slotsShowPictures(collagevc *collage)
{
    for (collageCellvc *slot : collage->cellSlots()) {
        if (!slot->isHidden() && slot->imgview->imgurl && slot->imgview->image().isNull())
            return false;
    }
    return !thumbnailCache().isWorking();
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    qputenv("HOME", home.path().toLocal8Bit());
    bench::usePrivateFolders(home);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    lg::tuneHeapForPictures();   // as the program's main() does
    QApplication app(argc, argv);

    const QString folder = argc > 1 ? QString::fromLocal8Bit(argv[1])
                                    : ensurePictures(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-collage-jpegs"));
    if (!QFileInfo(folder).isDir()) {
        std::fprintf(stderr, "not a folder: %s\n", qPrintable(folder));
        return 1;
    }
    resetPeakMemory();

    mainWindowController *window = mainWindow();
    window->setContentViewController(contentHub());
    window->resize(1400, 900);
    window->show();
    collagevc *collage = collageMaker();
    contentHub()->showCollagevc();
    runFor(200);

    StallMeter stalls;
    stalls.start();
    QElapsedTimer clock;
    clock.start();
    bool added = false;
    QObject::connect(collage, &collagevc::photosAdded, [&added] { added = true; });
    collage->addPhotosInBackground({QUrl::fromLocalFile(folder)});
    runUntil([&added] { return added; });
    collage->btngrid();
    runUntil([collage] { return slotsShowPictures(collage); });
    const qint64 layoutMs = clock.elapsed();

    // The margin slider dragged through 30 values, one event a frame.
    QSlider *margin = collage->sliderMargin;
    margin->setSliderDown(true);
    for (int value = 1; value <= 30; ++value) {
        margin->setValue(value);
        runFor(16);
    }
    margin->setSliderDown(false);
    runUntil([collage] { return !isBusy && slotsShowPictures(collage); });
    stalls.stop();

    // Saved at the largest output size, landscape.
    collage->btnLandscapeclciked();
    collage->framechangedWithSender(int(collageSizes.size()) - 1);
    runUntil([collage] { return slotsShowPictures(collage); });
    const QString target = home.path() + QStringLiteral("/collage.jpg");
    Saver::setPanelResponderForTesting([target](const QString &) {
        return std::optional<std::pair<QString, SaveFormatChoice>>({target, SaveFormatChoice{}});
    });
    collage->saver->openAfterSave = false;
    bool finished = false;
    QObject::connect(collage->saver, &Saver::finished, [&finished] { finished = true; });
    clock.restart();
    collage->btnsave();
    runUntil([&finished] { return finished; });
    const qint64 saveMs = clock.elapsed();
    const QSize saved = QImageReader(target).size();

    std::printf("layout time: %lld ms\n", static_cast<long long>(layoutMs));
    std::printf("longest stall: %lld ms\n", static_cast<long long>(stalls.longest()));
    std::printf("longest main-thread work: %lld ms\n", static_cast<long long>(stalls.longestCpu()));
    std::printf("save time: %lld ms\n", static_cast<long long>(saveMs));
    std::printf("peak memory: %ld MB\n", peakMemoryMB());
    std::printf("saved: %dx%d\n", saved.width(), saved.height());
    std::fflush(stdout);
    return saved.isValid() ? 0 : 1;
}
