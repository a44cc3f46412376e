// Browsing a large folder in the thumbnail grid, headless.
//
//   bench_browse          generates (once, beside the program) a folder of
//                         10,000 JPEGs of 640x480 and one of 500 JPEGs of
//                         4000x3000, and measures each in a process of its own
//                         (each with no thumbnails on disk yet), then
//                         visits the 500 twice as below
//   bench_browse FOLDER   measures FOLDER
//   bench_browse --hostile  measures a folder of hostile files (HostileFolder.h),
//                         which must be done within 60 s and under 1.5 GB
//   bench_browse --visits [FOLDER]  a user's visits of FOLDER (by default the
//                         500 photos of 12 MP), each in a process of its own
//                         sharing one thumbnail cache on disk, empty at first:
//                         with thumbnails kept in memory only (as without a
//                         disk cache), a first visit, and a second visit with
//                         the page cache dropped (echo 3 >
//                         /proc/sys/vm/drop_caches; where that is not allowed,
//                         the pages of the folder's files and of the cache's
//                         are dropped one file at a time, and it says so)
//   bench_browse --visits-100000  the same for a folder of 100,000 small
//                         photos (made once beside the program): the second
//                         visit must show every thumbnail decoding no picture
//   bench_browse --mixed [ROUNDS]  a mixed folder (made once beside the
//                         program: 50 JPEGs of 12 MP, 10 HEIC of 4000x3000
//                         without embedded thumbnails, 10 PNG of 2592x1944, 5
//                         MP4 of 1080p; a few different pictures of each kind,
//                         linked under several names), cold: ROUNDS (3) first
//                         visits, each in a process of its own with an empty
//                         thumbnail cache and the page cache dropped before
//                         it; prints the medians of the first screen and of
//                         the peak resident memory of the whole visit (the
//                         program and its decode workers summed)
//
// Options before the folder: --cache DIR keeps the thumbnail cache on disk in
// DIR (XDG_CACHE_HOME), --memory-only keeps thumbnails in memory only,
// --decode-limit MB bounds what the thumbnail decodes hold at once otherwise
// than the program does (a large value: no bound, to compare).
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
// the peak resident memory (of the program and its decode workers, summed),
// how many pictures were decoded and how many thumbnails came from the disk
// cache, and when the last thumbnail made was written there. A folder without pictures has an empty first screen.
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "browser/GridView.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "model/DecodeBudget.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "browser/thumbnailvc.h"
#include "bench/HostileFolder.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Heap.h"
#include "platform/image/ThumbnailStore.h"

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

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <dirent.h>
#include <fcntl.h>
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
QImage makePicture(int width, int height, int variation, bool grain = true)
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
    for (int y = 0; grain && y < height; ++y) {
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
QString generatedFolder(const QString &name, int count, int width, int height, bool grain = true)
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
        if (!makePicture(width, height, v, grain).save(source, "JPEG", 88)) {
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

// The mixed folder of --mixed (see above). Made once; kept. HEIC comes from
// heif-enc and the videos from ffmpeg; without them it fails.
QString mixedFolder()
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/browse-mixed-12mp");
    const QString done = folder + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return folder;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder + QStringLiteral("/.sources"));
    const auto fail = [](const QString &what) {
        std::fprintf(stderr, "cannot write %s\n", qPrintable(what));
        std::exit(2);
    };
    const auto run = [&](const QString &program, const QStringList &arguments, const QString &target) {
        QProcess process;
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.start(program, arguments);
        if (!process.waitForFinished(300000) || process.exitCode() != 0 || !QFileInfo::exists(target))
            fail(target);
    };
    // JPEGs: a few different pictures, each linked under several names.
    constexpr int jpegVariations = 5;
    for (int i = 0; i < 50; ++i) {
        const QString source = folder + QStringLiteral("/.sources/photo%1.jpg").arg(i % jpegVariations);
        if (!QFileInfo::exists(source) && !makePicture(4000, 3000, i % jpegVariations).save(source, "JPEG", 88))
            fail(source);
        const QString target = folder + QStringLiteral("/IMG_%1.jpg").arg(i, 4, 10, QLatin1Char('0'));
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0
            && !QFile::copy(source, target))
            fail(target);
    }
    // PNG and HEIC: a few different pictures each (encoding 12 MP HEIC takes
    // a while), each linked under several names.
    constexpr int variations = 4;
    const auto link = [&](const QString &source, const QString &target) {
        if (::link(QFile::encodeName(source).constData(), QFile::encodeName(target).constData()) != 0
            && !QFile::copy(source, target))
            fail(target);
    };
    for (int i = 0; i < 10; ++i) {
        const int v = i % variations;
        const QString png = folder + QStringLiteral("/.sources/png%1.png").arg(v);
        if (!QFileInfo::exists(png) && !makePicture(2592, 1944, 20 + v).save(png, "PNG"))
            fail(png);
        link(png, folder + QStringLiteral("/PNG_%1.png").arg(i, 4, 10, QLatin1Char('0')));
        const QString heic = folder + QStringLiteral("/.sources/heic%1.heic").arg(v);
        if (!QFileInfo::exists(heic)) {
            const QString source = folder + QStringLiteral("/.sources/heic%1.png").arg(v);
            if (!makePicture(4000, 3000, 40 + v).save(source, "PNG"))
                fail(source);
            run(QStringLiteral("heif-enc"), {QStringLiteral("-q"), QStringLiteral("80"), QStringLiteral("-o"), heic, source},
                heic);
        }
        link(heic, folder + QStringLiteral("/HEIC_%1.heic").arg(i, 4, 10, QLatin1Char('0')));
    }
    for (int i = 0; i < 5; ++i) {
        const QString video = folder + QStringLiteral("/MOV_%1.mp4").arg(i, 4, 10, QLatin1Char('0'));
        run(QStringLiteral("ffmpeg"),
            {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
             QStringLiteral("lavfi"), QStringLiteral("-i"),
             QStringLiteral("testsrc2=size=1920x1080:rate=30:duration=3"), QStringLiteral("-c:v"),
             QStringLiteral("libx264"), QStringLiteral("-pix_fmt"), QStringLiteral("yuv420p"), video},
            video);
    }
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
    return folder;
}

// The most the program and its decode workers held at once, summed: looked
// at every 5 ms on a thread of its own, from when it is made (shared pages
// counted once, lg::image::residentBytesWithWorkers).
class WholePeak
{
public:
    WholePeak()
        : m_thread([this] {
              while (!m_done.load()) {
                  const qint64 now = lg::image::residentBytesWithWorkers();
                  m_peak.store(std::max(m_peak.load(), now));
                  std::this_thread::sleep_for(std::chrono::milliseconds(5));
              }
          })
    {
    }
    ~WholePeak()
    {
        m_done = true;
        m_thread.join();
    }
    double megabytes() const { return double(m_peak.load()) / 1048576.0; }

private:
    std::atomic<bool> m_done {false};
    std::atomic<qint64> m_peak {0};
    std::thread m_thread;
};

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

int measure(const QString &folder, bool memoryOnly)
{
    const WholePeak wholePeak;
    if (memoryOnly)
        thumbnailCache().setStore(nullptr);
    if (const qint64 limit = qEnvironmentVariableIntValue("LG_BENCH_DECODE_LIMIT_MB"); limit > 0)
        thumbnailCache().setDecodeLimitForTesting(limit << 20);
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
    const double firstScreenPeak = std::max(peakResidentMB(), wholePeak.megabytes());

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
    // What was made is on disk before the program ends (a quit drops the
    // writes not started yet).
    waitUntil([&] { return !thumbnailCache().isWriting(); }, 1800000);
    const double written = double(clock.nsecsElapsed()) / 1e6;

    std::printf("folder: %s\n", qPrintable(folder));
    printValue("items", model->rowCount(), "items");
    printValue("first screen", firstScreen, "ms");
    printValue("all cached", cached, "ms");
    printValue("thumbnails made", made.count(), "items");
    printValue("longest stall", std::max(loadingStall, scrollStall), "ms");
    printValue("longest stall while loading", loadingStall, "ms");
    printValue("longest stall while scrolling", scrollStall, "ms");
    printValue("scroll to bottom", scrollTime, "ms");
    printValue("peak memory at first screen", firstScreenPeak, "MB");
    printValue("peak memory", std::max(peakResidentMB(), wholePeak.megabytes()), "MB");
    printValue("peak memory of the program alone", peakResidentMB(), "MB");
    printValue("cached decoded", double(thumbnailCache().decodedBytes()) / 1048576.0, "MB");
    printValue("cached compressed", double(thumbnailCache().storedBytes()) / 1048576.0, "MB");
    printValue("pictures decoded", thumbnailCache().decodeCount(), "pictures");
    printValue("decode memory held at once", double(thumbnailCache().decodeBudget().peakHeld()) / 1048576.0, "MB");
    printValue("thumbnails from disk", thumbnailCache().diskHitCount(), "thumbnails");
    if (const auto store = thumbnailCache().store())
        printValue("all written to disk", written, store->writesStopped() ? "ms (writing failed)" : "ms");
    else
        std::printf("thumbnails on disk: none (memory only)\n");
    return 0;
}

// Drops the cached pages of every file under folder (not following links);
// returns how many files. Without the right to drop the whole page cache
// this is what a second visit after a restart finds: nothing of it in memory.
int dropPagesUnder(const QString &folder)
{
    int files = 0;
    DIR *dir = ::opendir(QFile::encodeName(folder).constData());
    if (!dir)
        return 0;
    while (const dirent *entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (name == "." || name == "..")
            continue;
        const QString path = folder + QLatin1Char('/') + QFile::decodeName(name);
        if (entry->d_type == DT_DIR) {
            files += dropPagesUnder(path);
            continue;
        }
        const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
        if (fd < 0)
            continue;
        ::posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        ::close(fd);
        ++files;
    }
    ::closedir(dir);
    return files;
}

// Empties the page cache, or else drops the pages of the folder's files and
// of the thumbnail cache's; says which it did.
QString dropPageCache(const QString &folder, const QString &cache)
{
    ::sync();
    QFile control(QStringLiteral("/proc/sys/vm/drop_caches"));
    if (control.open(QIODevice::WriteOnly) && control.write("3\n") == 2 && control.flush())
        return QStringLiteral("page cache dropped");
    const QString why = control.errorString();
    const int files = dropPagesUnder(folder) + dropPagesUnder(cache);
    return QStringLiteral("page cache could not be dropped (%1): the pages of %2 files of the folder and the "
                          "thumbnail cache were dropped instead")
        .arg(why)
        .arg(files);
}

// The value printed on the line "name: value unit" of output; -1 when missing.
double valueOf(const QByteArray &output, const char *name)
{
    const QByteArray prefix = QByteArray(name) + ": ";
    for (const QByteArray &line : output.split('\n')) {
        if (line.startsWith(prefix))
            return line.mid(prefix.size()).split(' ').first().toDouble();
    }
    return -1;
}

// Runs this program on folder in a process of its own with the options given;
// its output is passed on and returned.
QByteArray runChild(const QStringList &arguments, int &status)
{
    QProcess child;
    child.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    child.start(QCoreApplication::applicationFilePath(), arguments);
    child.waitForFinished(-1);
    const QByteArray output = child.readAllStandardOutput();
    std::fwrite(output.constData(), 1, size_t(output.size()), stdout);
    std::fflush(stdout);
    status |= child.exitStatus() == QProcess::NormalExit ? child.exitCode() : 1;
    return output;
}

// A user's visits of folder, sharing one thumbnail cache on disk (see above).
// expectAll: the second visit must have made every thumbnail without decoding.
int visits(const QString &folder, const QString &label, bool expectAll)
{
    QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/lumengallery-bench-cache-XXXXXX"));
    int status = 0;
    std::printf("== %s, thumbnails in memory only\n", qPrintable(label));
    const QByteArray memory = runChild({QStringLiteral("--memory-only"), folder}, status);
    std::printf("== %s, first visit (no thumbnails on disk)\n", qPrintable(label));
    const QByteArray first = runChild({QStringLiteral("--cache"), cache.path(), folder}, status);
    const QString dropped = dropPageCache(folder, cache.path());
    std::printf("== %s, second visit (%s)\n", qPrintable(label), qPrintable(dropped));
    const QByteArray second = runChild({QStringLiteral("--cache"), cache.path(), folder}, status);

    std::printf("%s: first screen, thumbnails in memory only: %.0f ms (%.0f pictures decoded)\n", qPrintable(label),
                valueOf(memory, "first screen"), valueOf(memory, "pictures decoded"));
    std::printf("%s: first screen, first visit: %.0f ms (%.0f pictures decoded)\n", qPrintable(label),
                valueOf(first, "first screen"), valueOf(first, "pictures decoded"));
    std::printf("%s: first screen, second visit: %.0f ms (%.0f pictures decoded, %.0f thumbnails from disk, "
                "%.0f of %.0f items made; %s)\n",
                qPrintable(label), valueOf(second, "first screen"), valueOf(second, "pictures decoded"),
                valueOf(second, "thumbnails from disk"), valueOf(second, "thumbnails made"), valueOf(second, "items"),
                qPrintable(dropped.left(dropped.indexOf(QLatin1Char(':')) < 0 ? dropped.size() : dropped.indexOf(QLatin1Char(':')))));
    std::fflush(stdout);
    if (expectAll && (valueOf(second, "pictures decoded") != 0 || valueOf(second, "thumbnails made") != valueOf(second, "items"))) {
        std::fprintf(stderr, "the second visit decoded pictures or left thumbnails unmade\n");
        status |= 1;
    }
    return status;
}

// Cold first visits of the mixed folder (see above), each in a process of its own.
int mixedVisits(int rounds)
{
    const QString folder = mixedFolder();
    int status = 0;
    QList<double> firstScreens, peaks, firstScreenPeaks, held;
    for (int round = 0; round < rounds; ++round) {
        QTemporaryDir cache(QDir::tempPath() + QStringLiteral("/lumengallery-bench-cache-XXXXXX"));
        const QString dropped = dropPageCache(folder, cache.path());
        std::printf("== mixed folder, round %d (%s)\n", round + 1, qPrintable(dropped));
        const QByteArray output = runChild({QStringLiteral("--cache"), cache.path(), folder}, status);
        firstScreens << valueOf(output, "first screen");
        peaks << valueOf(output, "peak memory");
        firstScreenPeaks << valueOf(output, "peak memory at first screen");
        held << valueOf(output, "decode memory held at once");
    }
    printValue("mixed first screen", bench::median(firstScreens), "ms");
    printValue("mixed peak memory at first screen", bench::median(firstScreenPeaks), "MB");
    printValue("mixed peak memory", bench::median(peaks), "MB");
    printValue("mixed decode memory held at once", bench::median(held), "MB");
    return status;
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
    // --cache DIR and --memory-only come before the folder.
    int next = 1;
    bool memoryOnly = false;
    for (; next < argc; ++next) {
        if (qstrcmp(argv[next], "--cache") == 0 && next + 1 < argc)
            setenv("XDG_CACHE_HOME", argv[++next], 1);
        else if (qstrcmp(argv[next], "--memory-only") == 0)
            memoryOnly = true;
        else if (qstrcmp(argv[next], "--decode-limit") == 0 && next + 1 < argc)
            setenv("LG_BENCH_DECODE_LIMIT_MB", argv[++next], 1);  // the children's too
        else
            break;
    }
    // As the program's main() does.
    lg::tuneHeapForPictures();
    QApplication app(argc, argv);

    const auto large = [] { return generatedFolder(QStringLiteral("browse-500-large"), 500, 4000, 3000); };
    if (next < argc && qstrcmp(argv[next], "--visits") == 0) {
        const QString folder = next + 1 < argc ? QFileInfo(QString::fromLocal8Bit(argv[next + 1])).absoluteFilePath()
                                               : large();
        return visits(folder, next + 1 < argc ? folder : QStringLiteral("500 photos of 12 MP"), true);
    }
    if (next < argc && qstrcmp(argv[next], "--mixed") == 0)
        return mixedVisits(next + 1 < argc ? std::max(1, std::atoi(argv[next + 1])) : 3);
    if (next < argc && qstrcmp(argv[next], "--visits-100000") == 0) {
        // Small photos without grain: their thumbnails on disk take some
        // kilobytes each.
        return visits(generatedFolder(QStringLiteral("browse-100000"), 100000, 240, 180, false),
                      QStringLiteral("100,000 small photos"), true);
    }
    if (next < argc) {
        const int status = measure(qstrcmp(argv[next], "--hostile") == 0
                                       ? bench::hostileFolder()
                                       : QFileInfo(QString::fromLocal8Bit(argv[next])).absoluteFilePath(),
                                   memoryOnly);
        // What is still under way ends before the application object goes.
        lg::drainBackgroundWork();
        return status;
    }

    const QStringList folders = {
        generatedFolder(QStringLiteral("browse-10000"), 10000, 640, 480),
        large(),
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
    status |= visits(large(), QStringLiteral("500 photos of 12 MP"), true);
    return status;
}
