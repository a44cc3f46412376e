// Browsing a large folder in the thumbnail grid, headless.
//
//   bench_browse          generates (once, beside the program) a folder of
//                         10,000 JPEGs of 640x480 and one of 500 JPEGs of
//                         4000x3000, and measures each in a process of its own
//   bench_browse FOLDER   measures FOLDER
//   bench_browse --hostile  measures a folder of hostile files (HostileFolder.h),
//                         which must be done within 60 s and under 1.5 GB
//
// For a folder it prints the time from selecting it (currentFolderURL and the
// grid's reload) to the first screen painted with all its thumbnails, the time
// until every item's thumbnail was made once and the cache has no more work
// (the cache's byte limits hold some tens of thousands of thumbnails, so in a
// larger folder the first ones are gone again before the last are made; should
// the cache go quiet for a second with items never made, that ends it too, and
// "thumbnails made" tells how many were), the longest main-thread stall while
// loading and while scrolling from top to bottom (a page at a time, or a fixed
// number of steps spread over a larger folder; a timer records event-loop lag),
// and the peak resident memory. A folder without pictures has an empty first
// screen.
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "browser/GridView.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "browser/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "bench/HostileFolder.h"
#include "platform/Dispatch.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <unistd.h>
#include <vector>

namespace {

using bench::StallMeter;

void printValue(const char *name, double value, const char *unit)
{
    std::printf("%s: %.0f %s\n", name, value, unit);
    std::fflush(stdout);
}

// A photo-like picture: a gradient sky, hills and some texture, so that it
// compresses like a photograph.
QImage makePicture(int width, int height, int variation)
{
    QImage image(width, height, QImage::Format_RGB32);
    QPainter p(&image);
    QLinearGradient sky(0, 0, 0, height);
    sky.setColorAt(0, QColor::fromHsv((variation * 37) % 360, 120, 230));
    sky.setColorAt(1, QColor::fromHsv((variation * 37 + 40) % 360, 90, 120));
    p.fillRect(image.rect(), sky);
    QRandomGenerator random(quint32(variation + 1));
    p.setPen(Qt::NoPen);
    for (int i = 0; i < 60; ++i) {
        p.setBrush(QColor::fromHsv(int(random.bounded(360)), 80 + int(random.bounded(150)),
                                   60 + int(random.bounded(180)), 160));
        const int r = int(random.bounded(width / 6)) + width / 40;
        p.drawEllipse(QPoint(int(random.bounded(width)), int(random.bounded(height))), r, r / 2 + 1);
    }
    p.end();
    // Grain, as a camera gives.
    for (int y = 0; y < height; ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < width; ++x) {
            const int n = int(random.bounded(24)) - 12;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                           std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return image;
}

// count JPEGs of width x height in folder: a few different pictures, each
// linked (or copied) under many names. Made once; kept.
QString generatedFolder(const QString &name, int count, int width, int height)
{
    const QString folder = QCoreApplication::applicationDirPath() + QLatin1Char('/') + name;
    const QString done = folder + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return folder;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + QStringLiteral("/.sources"));
    constexpr int variations = 8;
    QStringList sources;
    for (int v = 0; v < variations; ++v) {
        const QString source = folder + QStringLiteral("/.sources/picture%1.jpg").arg(v);
        if (!makePicture(width, height, v).save(source, "JPEG", 88)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(source));
            std::exit(2);
        }
        sources.append(source);
    }
    for (int i = 0; i < count; ++i) {
        const QString source = sources.at(i % variations);
        const QString target = folder + QStringLiteral("/IMG_%1.jpg").arg(i, 5, 10, QLatin1Char('0'));
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0
            && !QFile::copy(source, target)) {
            std::fprintf(stderr, "cannot write %s\n", qPrintable(target));
            std::exit(2);
        }
    }
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
    return folder;
}

double peakResidentMB()
{
    QFile status(QStringLiteral("/proc/self/status"));
    if (!status.open(QIODevice::ReadOnly))
        return 0;
    for (const QByteArray &line : status.readAll().split('\n')) {
        if (line.startsWith("VmHWM:"))
            return line.mid(6).trimmed().split(' ').first().toDouble() / 1024.0;
    }
    return 0;
}


// Which rows have had their thumbnail made (or found impossible to make) at
// least once since the folder was chosen, counted as the cache reports them:
// a bit a row, so that the bench adds next to nothing to the memory it
// measures, and constant work on the main thread per thumbnail.
class MadeRows : public QObject
{
public:
    explicit MadeRows(ShownItemsModel *model) : m_model(model)
    {
        connect(&thumbnailCache(), &ThumbnailCache::thumbnailReady, this, &MadeRows::arrived);
        connect(model, &QAbstractItemModel::modelReset, this, &MadeRows::reset);
        reset();
    }
    int count() const { return m_count; }
    bool complete() const { return m_model->rowCount() > 0 && m_count >= m_model->rowCount(); }
    // Counts as made the rows whose thumbnail the cache holds now (those made
    // before a reset of the rows). Goes over every row: not while measuring.
    void addCached()
    {
        for (int row = 0; row < m_model->rowCount(); ++row) {
            const ThumbnailKey key = m_model->keyAt(row);
            if (thumbnailCache().contains(key) || thumbnailCache().hasFailed(key))
                mark(row);
        }
    }

private:
    void mark(int row)
    {
        if (row < 0 || row >= int(m_made.size()) || m_made[size_t(row)])
            return;
        m_made[size_t(row)] = true;
        ++m_count;
    }
    void arrived(const ThumbnailKey &key)
    {
        const int row = m_model->rowOfPath(key.path);
        if (row >= 0 && m_model->keyAt(row) == key)
            mark(row);
    }
    // The rows are new; the count starts over (see addCached).
    void reset()
    {
        m_made.assign(size_t(m_model->rowCount()), false);
        m_count = 0;
    }

    ShownItemsModel *m_model;
    std::vector<bool> m_made;
    int m_count = 0;
};

bool waitUntil(const std::function<bool()> &condition, int timeoutMs)
{
    QElapsedTimer timer;
    timer.start();
    while (!condition()) {
        if (timer.elapsed() > timeoutMs)
            return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 5);
    }
    return true;
}

int measure(const QString &folder)
{
    // The sidebar is there before a folder is chosen in the program: made
    // here, not during the first reload.
    sidebarController();
    ViewController *content = contentController();
    content->resize(1200, 800);
    content->show();
    waitUntil([&] { return content->isVisible(); }, 2000);
    thumbnailvc *grid = thumbnailGrid();
    GridView *view = grid->collectionview;
    ShownItemsModel *model = grid->itemsModel();
    QCoreApplication::processEvents();

    MadeRows made(model);
    StallMeter stall;
    stall.start();
    QElapsedTimer clock;
    clock.start();
    // When the cache last ran out of work, for the time at which caching ended.
    double idleAt = 0;
    QObject idleWatch;
    QObject::connect(&thumbnailCache(), &ThumbnailCache::idle, &idleWatch,
                     [&] { idleAt = double(clock.nsecsElapsed()) / 1e6; });
    currentFolderURL = QUrl::fromLocalFile(folder);
    grid->refreshData();

    // The first screen: the folder's listing shown and painted with all its
    // thumbnails; a folder without pictures paints an empty one.
    double firstScreen = -1;
    const int paintsBefore = view->paintCount();
    if (!waitUntil([&] {
            return !isListingPending() && model->showsActiveList() && view->paintCount() > paintsBefore
                && view->lastPaintPending() == 0;
        }, 120000)) {
        std::fprintf(stderr, "the first screen never finished\n");
        return 1;
    }
    firstScreen = double(clock.nsecsElapsed()) / 1e6;

    // Done once every row was made and the cache has nothing left to do, or
    // once it has had nothing to do for a second (rows it was never asked for).
    constexpr double quietMs = 1000;
    double quietSince = -1;
    auto allCached = [&] {
        if (thumbnailCache().isWorking()) {
            quietSince = -1;
            return false;
        }
        if (made.complete())
            return true;
        const double now = double(clock.nsecsElapsed()) / 1e6;
        if (quietSince < 0)
            quietSince = now;
        return now - quietSince >= quietMs;
    };
    if (!waitUntil(allCached, 1800000)) {
        std::fprintf(stderr, "caching never finished\n");
        return 1;
    }
    // The cache may have gone quiet before the first screen was painted.
    const double cached = std::max(firstScreen, idleAt > 0 ? idleAt : double(clock.nsecsElapsed()) / 1e6);
    const double loadingStall = stall.stop();
    if (!made.complete())
        made.addCached();

    // From top to bottom, a step every 16 ms: a page at a time, or in a
    // folder of more than scrollSteps pages that many steps spread evenly over
    // it, so that any folder is scrolled in a few seconds.
    constexpr int scrollSteps = 200;
    stall.start();
    QScrollBar *bar = view->verticalScrollBar();
    bar->setValue(0);
    const int stride = std::max(bar->pageStep(), int((qint64(bar->maximum()) + scrollSteps - 1) / scrollSteps));
    QElapsedTimer scrollClock;
    scrollClock.start();
    QTimer step;
    step.setInterval(16);
    QObject::connect(&step, &QTimer::timeout, [&] { bar->setValue(bar->value() + stride); });
    step.start();
    waitUntil([&] { return bar->value() >= bar->maximum(); }, 600000);
    step.stop();
    waitUntil([&] { return view->lastPaintPending() == 0 && !thumbnailCache().isWorking(); }, 60000);
    const double scrollStall = stall.stop();
    const double scrollTime = double(scrollClock.nsecsElapsed()) / 1e6;

    std::printf("folder: %s\n", qPrintable(folder));
    printValue("items", model->rowCount(), "items");
    printValue("first screen", firstScreen, "ms");
    printValue("all cached", cached, "ms");
    printValue("thumbnails made", made.count(), "items");
    printValue("longest stall", std::max(loadingStall, scrollStall), "ms");
    printValue("longest stall while loading", loadingStall, "ms");
    printValue("longest stall while scrolling", scrollStall, "ms");
    printValue("scroll to bottom", scrollTime, "ms");
    printValue("peak memory", peakResidentMB(), "MB");
    printValue("cached decoded", double(thumbnailCache().decodedBytes()) / 1048576.0, "MB");
    printValue("cached compressed", double(thumbnailCache().storedBytes()) / 1048576.0, "MB");
    return 0;
}

} // namespace

int main(int argc, char **argv)
{
    // Nothing of the user's: a private home for whatever the program would save.
    QTemporaryDir home(QDir::tempPath() + QStringLiteral("/lumengallery-bench-XXXXXX"));
    const QByteArray root = home.path().toLocal8Bit();
    setenv("HOME", root.constData(), 1);
    setenv("XDG_CONFIG_HOME", (root + "/.config").constData(), 1);
    setenv("XDG_CACHE_HOME", (root + "/.cache").constData(), 1);
    setenv("XDG_DATA_HOME", (root + "/.local/share").constData(), 1);
    if (!qEnvironmentVariableIsSet("QT_QPA_PLATFORM"))
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);

    if (argc > 1) {
        const int status = measure(qstrcmp(argv[1], "--hostile") == 0
                                       ? bench::hostileFolder()
                                       : QFileInfo(QString::fromLocal8Bit(argv[1])).absoluteFilePath());
        // What is still under way ends before the application object goes.
        lg::drainBackgroundWork();
        return status;
    }

    const QStringList folders = {
        generatedFolder(QStringLiteral("browse-10000"), 10000, 640, 480),
        generatedFolder(QStringLiteral("browse-500-large"), 500, 4000, 3000),
    };
    int status = 0;
    for (const QString &folder : folders) {
        // Each folder in a fresh process, so that its peak memory is its own.
        QProcess child;
        child.setProcessChannelMode(QProcess::ForwardedChannels);
        child.start(QCoreApplication::applicationFilePath(), {folder});
        child.waitForFinished(-1);
        status |= child.exitCode();
    }
    return status;
}
