// Thumbnail speed at the grid's size (256 pixels), on one thread and on all
// cores, next to `djpeg -scale 1/8` and `vipsthumbnail` on the same files.
//
//   bench_thumbnails          uses (and first makes) bench-data/ beside the binary:
//                             100 JPEGs of 4000 x 3000 with Exif, every fourth
//                             stored sideways with orientation 6, and a few HEIC
//                             and DNG files with embedded previews
//   bench_thumbnails FOLDER   uses the pictures in FOLDER instead
//
// With JPEGs it also times the desktop's thumbnail cache on disk: writing and
// reading back 2,000 thumbnails of the grid's size in one folder, one thread.
//
//   bench_thumbnails --hostile  makes, as the grid does, the pixel size and the
//                             thumbnail of every file of a folder of hostile
//                             files (HostileFolder.h) on all cores: it must be
//                             done within 20 s
#include "app/Essentials.h"
#include "bench/HostileFolder.h"
#include "model/FileServices.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ImageSource.h"
#include "platform/image/VideoInfo.h"
#include "platform/image/ImageWriter.h"
#include "platform/image/PropertyTree.h"
#include "platform/image/ThumbnailStore.h"
#include "tests/support/Fixtures.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Heap.h"

#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QImageWriter>
#include <QPainter>
#include <QProcess>
#include <QRandomGenerator>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThread>
#include <QThreadPool>

#include <exiv2/exiv2.hpp>

#include <atomic>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <functional>
#include <mutex>

namespace {

constexpr int gridSize = 256;
constexpr int jpegCount = 100;
constexpr int heicCount = 5;
constexpr int dngCount = 3;
const QSize photoSize(4000, 3000);
const char *dataVersion = "bench-data 1";

void figure(const char *name, double value, const char *unit)
{
    const bool whole = value == std::floor(value) && std::abs(value) < 1e9;
    const QByteArray number = whole ? QByteArray::number(qint64(value)) : QByteArray::number(value, 'f', 2);
    if (unit && *unit)
        std::printf("%s: %s %s\n", name, number.constData(), unit);
    else
        std::printf("%s: %s\n", name, number.constData());
    std::fflush(stdout);
}

// The machine's load when the figures were taken: parallel speed-ups mean
// little on a machine that is busy with other work.
double loadAverage()
{
    QFile file(QStringLiteral("/proc/loadavg"));
    if (!file.open(QIODevice::ReadOnly))
        return -1;
    return file.readAll().split(' ').value(0).toDouble();
}

// Something like a photograph to a JPEG encoder: soft gradients, shapes and
// sensor noise, so that the files have a camera's entropy (3 to 5 MB).
QImage syntheticPhoto(int seed, QSize size)
{
    QRandomGenerator random(quint32(seed) * 7919u + 17u);
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, 0, size.height());
    sky.setColorAt(0, QColor::fromHsv(random.bounded(360), 120, 230));
    sky.setColorAt(1, QColor::fromHsv(random.bounded(360), 160, 90));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < 60; ++i) {
        painter.setBrush(QColor::fromHsv(random.bounded(360), random.bounded(40, 255), random.bounded(40, 255), 180));
        painter.setPen(Qt::NoPen);
        const int w = random.bounded(100, 1400), h = random.bounded(100, 1000);
        painter.drawEllipse(random.bounded(size.width()) - w / 2, random.bounded(size.height()) - h / 2, w, h);
    }
    painter.end();
    quint32 state = quint32(seed) * 2654435761u + 1u;
    for (int y = 0; y < size.height(); ++y) {
        QRgb *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            state = state * 1664525u + 1013904223u;
            const int n = int((state >> 24) & 31) - 16;
            const QRgb p = row[x];
            row[x] = qRgb(std::clamp(qRed(p) + n, 0, 255), std::clamp(qGreen(p) + n, 0, 255), std::clamp(qBlue(p) + n, 0, 255));
        }
    }
    return image;
}

bool addExif(const QString &path, int orientation, int index)
{
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        exif["Exif.Image.Make"] = "Lumen";
        exif["Exif.Image.Model"] = "Bench Camera";
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
        exif["Exif.Photo.DateTimeOriginal"] = QStringLiteral("2022:03:%1 10:%2:00").arg(1 + index % 28, 2, 10, QLatin1Char('0'))
                                                  .arg(index % 60, 2, 10, QLatin1Char('0')).toStdString();
        exif["Exif.Photo.ExposureTime"] = Exiv2::URationalValue(Exiv2::URational(1, 125));
        exif["Exif.Photo.FNumber"] = Exiv2::URationalValue(Exiv2::URational(28, 10));
        exif["Exif.Photo.ISOSpeedRatings"] = uint16_t(200);
        image->writeMetadata();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

QByteArray jpegBytes(const QImage &image, int quality)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(quality);
    writer.write(image);
    return bytes;
}

bool makeData(const QString &folder)
{
    QDir().mkpath(folder);
    std::fprintf(stderr, "making the benchmark pictures in %s (once)...\n", qPrintable(folder));
    std::atomic<bool> ok {true};
    QList<int> jobs;
    for (int i = 0; i < jpegCount + heicCount + dngCount; ++i)
        jobs << i;
    lg::forEachChunk(jobs.size(), 1, [&](qsizetype at, qsizetype) {
        const int i = jobs.at(at);
        const QDir dir(folder);
        if (i < jpegCount) {
            // Every fourth photo is stored sideways, as cameras held upright do.
            const int orientation = i % 4 == 3 ? 6 : 1;
            const QString path = dir.filePath(QStringLiteral("photo-%1.jpg").arg(i, 3, 10, QLatin1Char('0')));
            QFile file(path);
            if (!file.open(QIODevice::WriteOnly) || file.write(jpegBytes(syntheticPhoto(i, photoSize), 90)) <= 0) {
                ok = false;
                return;
            }
            file.close();
            if (!addExif(path, orientation, i))
                ok = false;
        } else if (i < jpegCount + heicCount) {
            const QString path = dir.filePath(QStringLiteral("photo-%1.heic").arg(i - jpegCount));
            // Written like a phone's: with a small embedded thumbnail.
            if (!lg::ImageWriter::write(syntheticPhoto(i, photoSize), path, lg::ImageFileType::HEIC))
                ok = false;
        } else {
            const QImage scene = syntheticPhoto(i, photoSize);
            lg::test::fixtures::DngSpec spec;
            spec.picture = scene;
            spec.previewSize = QSize(1024, 768);
            spec.previewJpeg = jpegBytes(scene.scaled(spec.previewSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 85);
            const QString path = dir.filePath(QStringLiteral("photo-%1.dng").arg(i - jpegCount - heicCount));
            QFile file(path);
            const QByteArray dng = lg::test::fixtures::buildDng(spec);  // the header-only part of the fixtures
            if (!file.open(QIODevice::WriteOnly) || file.write(dng) != dng.size())
                ok = false;
        }
    });
    if (!ok)
        return false;
    QFile marker(QDir(folder).filePath(QStringLiteral("complete")));
    return marker.open(QIODevice::WriteOnly) && marker.write(dataVersion) > 0;
}

bool dataComplete(const QString &folder)
{
    QFile marker(QDir(folder).filePath(QStringLiteral("complete")));
    return marker.open(QIODevice::ReadOnly) && marker.readAll() == dataVersion;
}

double cpuMs()
{
    timespec t {};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) * 1e3 + double(t.tv_nsec) / 1e6;
}

// Milliseconds per file for our thumbnail on the given number of threads
// (wall clock), with the processor time per file in *cpu.
double thumbnailsMs(const QStringList &files, int threads, int *made, double *cpu = nullptr)
{
    std::atomic<int> count {0};
    QElapsedTimer timer;
    const double cpuStart = cpuMs();
    timer.start();
    if (threads == 1) {
        for (const QString &path : files)
            if (lg::ImageSource(path).thumbnail(gridSize))
                ++count;
    } else {
        QThreadPool pool;
        pool.setMaxThreadCount(threads);
        lg::forEachChunk(files.size(), 1, [&count, &files](qsizetype at, qsizetype) {
            const QString &path = files.at(at);
            if (lg::ImageSource(path).thumbnail(gridSize))
                ++count;
        }, &pool);
    }
    const double ms = double(timer.nsecsElapsed()) / 1e6;
    if (made)
        *made = count;
    if (cpu)
        *cpu = files.isEmpty() ? 0 : (cpuMs() - cpuStart) / files.size();
    return files.isEmpty() ? 0 : ms / files.size();
}

// Milliseconds per file for a command run on each file in turn.
double commandMs(const QString &program, const QStringList &files, const std::function<QStringList(const QString &)> &arguments)
{
    QElapsedTimer timer;
    timer.start();
    for (const QString &path : files) {
        QProcess process;
        process.setStandardOutputFile(QProcess::nullDevice());
        process.setStandardErrorFile(QProcess::nullDevice());
        process.start(program, arguments(path));
        if (!process.waitForFinished(120000) || process.exitCode() != 0)
            return -1;
    }
    return files.isEmpty() ? 0 : double(timer.nsecsElapsed()) / 1e6 / files.size();
}

void warmCache(const QStringList &files)
{
    for (const QString &path : files) {
        QFile file(path);
        if (file.open(QIODevice::ReadOnly))
            while (!file.read(1 << 20).isEmpty()) {
            }
    }
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

// What the grid asks of each file: its pixel size and its thumbnail (images at
// the grid's size, videos through their first frame).
int hostileRun(const QString &folder)
{
    QStringList files;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files | QDir::System, QDir::Name))
        files << info.absoluteFilePath();
    std::atomic<int> made {0};
    std::mutex slowestMutex;
    qint64 slowest = 0;
    QString slowestName;
    QElapsedTimer timer;
    timer.start();
    QThreadPool pool;
    pool.setMaxThreadCount(QThread::idealThreadCount());
    lg::forEachChunk(files.size(), 1, [&](qsizetype at, qsizetype) {
        const QString &path = files.at(at);
        QElapsedTimer own;
        own.start();
        const QString extension = QFileInfo(path).suffix().toLower();
        const QUrl url = QUrl::fromLocalFile(path);
        std::optional<QImage> thumbnail;
        if (imageExtensions.contains(extension)) {
            (void)lg::ImageSource(path).pixelSize();
            thumbnail = thumbnailForImageURL(url, gridSize);
        } else if (videoExtensions.contains(extension)) {
            (void)lg::VideoInfo::probe(path);
            thumbnail = mediaThumbnail(url);
        }
        if (thumbnail)
            ++made;
        const qint64 ms = own.elapsed();
        std::lock_guard<std::mutex> lock(slowestMutex);
        if (ms > slowest) {
            slowest = ms;
            slowestName = QFileInfo(path).fileName();
        }
    }, &pool);
    std::fflush(stdout);
    figure("hostile_files", files.size(), "count");
    figure("hostile_thumbnails_made", made, "count");
    figure("hostile_total", double(timer.elapsed()), "ms");
    std::printf("hostile_slowest_file_name: %s\n", qPrintable(slowestName));
    figure("hostile_slowest_file", double(slowest), "ms");
    figure("hostile_peak_memory", std::round(peakResidentMB()), "MB");
    return 0;
}

} // namespace

// Writes and reads back count thumbnails made of pictures through a thumbnail
// cache on disk in a temporary folder, on one thread.
// What the information pane and the list read of each file, one after the
// other, on one thread: the header alone (the pixel size), and the whole
// property tree (and that read in this process, without a worker). ms a
// file, the best of three rounds.
void propertyFigures(const char *kind, const QStringList &files)
{
    if (files.isEmpty())
        return;
    const auto best = [&files](const std::function<void(const QString &)> &read) {
        double fastest = 0;
        for (int round = 0; round < 3; ++round) {
            QElapsedTimer timer;
            timer.start();
            for (const QString &path : files)
                read(path);
            const double ms = double(timer.nsecsElapsed()) / 1e6 / files.size();
            fastest = round == 0 ? ms : std::min(fastest, ms);
        }
        return fastest;
    };
    const QByteArray name(kind);
    figure((name + "_pixel_size").constData(), best([](const QString &path) { (void)lg::ImageSource(path).pixelSize(); }), "ms/file");
    figure((name + "_property_tree").constData(), best([](const QString &path) { (void)lg::readPropertyTree(path); }), "ms/file");
    // The same read in this process, as it would be without decode workers.
    lg::image::setDecodesInThisProcess(true);
    figure((name + "_property_tree_in_program").constData(),
           best([](const QString &path) { (void)lg::readPropertyTree(path); }), "ms/file");
    lg::image::setDecodesInThisProcess(false);
}

void diskCacheFigures(const QStringList &pictures)
{
    QList<QImage> thumbnails;
    for (const QString &path : pictures.mid(0, 20)) {
        if (const std::optional<QImage> image = lg::ImageSource(path).thumbnail(gridSize))
            thumbnails.append(*image);
    }
    if (thumbnails.isEmpty())
        return;
    QTemporaryDir dir;
    lg::ThumbnailStore store(dir.path() + QStringLiteral("/thumbnails"));
    constexpr int count = 2000;
    auto name = [](int i) { return QStringLiteral("/bench/photo %1.jpg").arg(i); };
    QElapsedTimer timer;
    timer.start();
    for (int i = 0; i < count; ++i)
        (void)store.save(name(i), lg::FileStamp{i, i}, gridSize, thumbnails.at(i % thumbnails.size()));
    figure("disk_cache_write", double(timer.nsecsElapsed()) / 1e6 / count, "ms/thumbnail");
    qint64 bytes = 0;
    for (int i = 0; i < count; ++i)
        bytes += QFileInfo(store.entryPath(name(i), gridSize)).size();
    figure("disk_cache_file", double(bytes) / count / 1024, "KiB/thumbnail");
    timer.start();
    int found = 0;
    for (int i = 0; i < count; ++i)
        found += store.find(name(i), lg::FileStamp{i, i}, 200) ? 1 : 0;
    figure("disk_cache_read", double(timer.nsecsElapsed()) / 1e6 / count, "ms/thumbnail");
    figure("disk_cache_found", found, "count");
}

int main(int argc, char **argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    lg::tuneHeapForPictures();   // as the program's main() does
    QGuiApplication app(argc, argv);
    const QStringList arguments = app.arguments();
    QString folder;
    if (arguments.size() > 1 && arguments.at(1) == QLatin1String("--hostile"))
        return hostileRun(bench::hostileFolder());
    if (arguments.size() > 1) {
        folder = arguments.at(1);
        if (!QFileInfo(folder).isDir()) {
            std::fprintf(stderr, "%s is not a folder\n", qPrintable(folder));
            return 2;
        }
    } else {
        folder = QDir(QCoreApplication::applicationDirPath()).filePath(QStringLiteral("bench-data"));
        if (!dataComplete(folder) && !makeData(folder)) {
            std::fprintf(stderr, "could not make the benchmark pictures\n");
            return 2;
        }
    }

    QStringList jpegs, heics, raws, others;
    for (const QFileInfo &info : QDir(folder).entryInfoList(QDir::Files, QDir::Name)) {
        const lg::ImageSource source(info.absoluteFilePath());
        const QString type = source.type();
        if (type == QLatin1String("jpeg"))
            jpegs << info.absoluteFilePath();
        else if (type == QLatin1String("heic") || type == QLatin1String("heif") || type == QLatin1String("avif"))
            heics << info.absoluteFilePath();
        else if (type == QLatin1String("raw"))
            raws << info.absoluteFilePath();
        else if (!type.isEmpty())
            others << info.absoluteFilePath();
    }
    warmCache(jpegs + heics + raws + others);
    const int cores = QThread::idealThreadCount();
    figure("cores", cores, "count");
    figure("load_average", loadAverage(), "");
    figure("thumbnail_size", gridSize, "px");

    propertyFigures("jpeg", jpegs);
    propertyFigures("heic", heics);
    propertyFigures("raw", raws);
    if (!jpegs.isEmpty()) {
        figure("jpeg_images", jpegs.size(), "count");
        thumbnailsMs(jpegs.mid(0, 5), 1, nullptr);  // libraries loaded, caches warm
        int made = 0;
        double oneCpu = 0, allCpu = 0;
        const double one = thumbnailsMs(jpegs, 1, &made, &oneCpu);
        figure("jpeg_thumbnails_made", made, "count");
        figure("jpeg_one_thread", one, "ms/image");
        const double all = thumbnailsMs(jpegs, cores, nullptr, &allCpu);
        figure("jpeg_all_cores", all, "ms/image");
        figure("speedup_all_cores", one / all, "x");
        figure("speedup_target", 0.7 * cores, "x");
        // Processor time per picture: equal on one thread and on all means
        // nothing serialises; the wall-clock speed-up then only lacks free cores.
        figure("jpeg_one_thread_cpu", oneCpu, "ms/image");
        figure("jpeg_all_cores_cpu", allCpu, "ms/image");
        diskCacheFigures(jpegs);

        const QString djpeg = QStandardPaths::findExecutable(QStringLiteral("djpeg"));
        const QString vips = QStandardPaths::findExecutable(QStringLiteral("vipsthumbnail"));
        // What starting a process costs, included in both tools' figures.
        const QString trueProgram = QStandardPaths::findExecutable(QStringLiteral("true"));
        if (!trueProgram.isEmpty())
            figure("process_start", commandMs(trueProgram, jpegs.mid(0, 20), [](const QString &) { return QStringList(); }), "ms");
        if (!djpeg.isEmpty()) {
            const double ms = commandMs(djpeg, jpegs, [](const QString &path) {
                return QStringList {QStringLiteral("-scale"), QStringLiteral("1/8"), QStringLiteral("-outfile"), QProcess::nullDevice(), path};
            });
            if (ms > 0) {
                figure("djpeg_scale_1_8", ms, "ms/image");
                figure("ratio to djpeg", one / ms, "");
            }
        }
        if (!vips.isEmpty()) {
            QTemporaryDir out;
            const double ms = commandMs(vips, jpegs, [&out](const QString &path) {
                return QStringList {path, QStringLiteral("-s"), QString::number(gridSize), QStringLiteral("-o"),
                                    out.path() + QStringLiteral("/%s.jpg")};
            });
            if (ms > 0) {
                figure("vipsthumbnail", ms, "ms/image");
                figure("ratio to vipsthumbnail", one / ms, "");
            }
        }
    }
    if (!heics.isEmpty()) {
        figure("heic_images", heics.size(), "count");
        figure("heic_one_thread", thumbnailsMs(heics, 1, nullptr), "ms/image");
        QElapsedTimer timer;
        timer.start();
        for (const QString &path : heics)
            lg::ImageSource(path).image();
        figure("heic_full_decode", double(timer.nsecsElapsed()) / 1e6 / heics.size(), "ms/image");
    }
    if (!raws.isEmpty()) {
        figure("raw_images", raws.size(), "count");
        figure("raw_one_thread", thumbnailsMs(raws, 1, nullptr), "ms/image");
        QElapsedTimer timer;
        timer.start();
        for (const QString &path : raws)
            lg::ImageSource(path).thumbnail(2000);  // larger than the preview: developed
        figure("raw_developed_2000px", double(timer.nsecsElapsed()) / 1e6 / raws.size(), "ms/image");
    }
    if (!others.isEmpty()) {
        figure("other_images", others.size(), "count");
        figure("other_one_thread", thumbnailsMs(others, 1, nullptr), "ms/image");
        figure("other_all_cores", thumbnailsMs(others, cores, nullptr), "ms/image");
    }
    return 0;
}
