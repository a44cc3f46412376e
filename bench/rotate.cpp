// How the viewer's "Rotate Right 90°" (or "Horizontal Flip") fares on real files:
//   bench_rotate [FILE...] [--turns N] [--flip] [--camera]
// With --camera (or no FILE) it also makes a camera's JPEG of its own, 4032 x
// 3024 at quality 92 with the standard tables, Exif with a maker note and a
// 160 x 120 thumbnail, turns it at least 4 times and prints the line
// "camera turn ratio to jpegtran: R" (the median of ours over jpegtran's),
// and the run's first turn apart: "first turn time: N ms" and "first turn
// ratio to jpegtran: R" (over jpegtran's median).
// Each FILE is turned right (with --flip: mirrored left to right) N times
// (default 1) through the viewer's own rotate and flip path, written in place
// where it can be; a save-copy sheet is answered with "<name> copy.<ext>"
// beside the file. Per file it prints how the file was written ("in place",
// "copy" or "nothing"), the median time of a turn (from the command to the
// turned picture back in the viewer) and, for JPEGs, the median time of
// `jpegtran -rotate 90 -copy all` (`-flip horizontal` with --flip) on a copy of
// the same file, its turns taken in turn with ours, and ours over jpegtran's.
// jpegtran is given `-optimize` (and `-progressive`) where the file's Huffman
// tables are its own, as ours then are too; the line names the options. For a
// JPEG it also prints how it was turned ("blocks moved", "by its orientation
// tag", or both over several turns) and its size after the turns against the
// original's.
// The files are changed: run it on copies.
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "app/Saver.h"
#include "platform/jpeg/JpegEntropy.h"
#include "platform/jpeg/JpegSegments.h"
#include "platform/image/ImageSource.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/viewimagevc.h"

#include <QApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QThreadPool>
#include <QPainter>
#include <QTimer>

#include <exiv2/exiv2.hpp>
#include <turbojpeg.h>

#include <algorithm>
#include <optional>
#include <cstdio>

namespace {

bool waitFor(const std::function<bool()> &done, int limitMs = 120000)
{
    QElapsedTimer limit;
    limit.start();
    // Sleeps until something happens: no spinning beside the worker being timed.
    QTimer wake;
    wake.start(50);
    while (!done() && limit.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::WaitForMoreEvents);
    return done();
}

QByteArray readFile(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// The compressed picture of a JPEG (tables, frame, scans); empty when it is none.
QByteArray pictureData(const QByteArray &jpeg)
{
    const std::optional<lg::jpeg::Layout> layout = lg::jpeg::parse(jpeg);
    return layout ? jpeg.mid(layout->bodyStart, layout->imageEnd - layout->bodyStart) : QByteArray();
}

QByteArray digest(const QString &path)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    QCryptographicHash hash(QCryptographicHash::Sha1);
    hash.addData(&file);
    return hash.result();
}

// The format a copy is written in: the file's own where it can be written, else PNG.
SaveFormatChoice copyFormat(const QString &extension)
{
    SaveFormatChoice choice;
    choice.type = lg::ImageFileType::PNG;
    for (lg::ImageFileType type : SaveOptionsAccessory::offeredTypes())
        if (Saver::applyExtension(QStringLiteral("x.") + extension, type) == QStringLiteral("x.") + extension)
            choice.type = type;
    return choice;
}

// jpegtran turning a copy of a JPEG right, one turn a call, timed with its start-up.
class Jpegtran
{
public:
    Jpegtran(const QString &program, const QString &path, bool flip, const QStringList &options)
        : m_program(program), m_flip(flip), m_options(options)
    {
        m_input = m_dir.filePath(QStringLiteral("in.jpg"));
        m_ready = !program.isEmpty() && QFile::copy(path, m_input);
    }
    bool ready() const { return m_ready; }
    // Milliseconds; negative when jpegtran failed.
    double turn()
    {
        const QString output = m_dir.filePath(QStringLiteral("out.jpg"));
        QElapsedTimer clock;
        clock.start();
        QProcess process;
        const QStringList operation = m_flip ? QStringList {QStringLiteral("-flip"), QStringLiteral("horizontal")}
                                             : QStringList {QStringLiteral("-rotate"), QStringLiteral("90")};
        process.start(m_program, operation + m_options + QStringList {QStringLiteral("-copy"), QStringLiteral("all"),
                                                          QStringLiteral("-outfile"), output, m_input});
        if (!process.waitForFinished(120000) || process.exitCode() != 0)
            return -1;
        const double ms = clock.nsecsElapsed() / 1e6;
        QFile::remove(m_input);
        QFile::rename(output, m_input);
        return ms;
    }

private:
    QString m_program;
    bool m_flip = false;
    QStringList m_options;
    QTemporaryDir m_dir;
    QString m_input;
    bool m_ready = false;
};

// A camera's JPEG: 4032 x 3024, 4:2:0 at quality 92 with the standard
// tables, shading, edges and sensor noise, and Exif with a maker note and a
// 160 x 120 thumbnail at quality 80. Written to path; false when it cannot be.
bool writeCameraJpeg(const QString &path)
{
    const QSize size(4032, 3024);
    QImage picture(size, QImage::Format_RGBX8888);
    {
        QPainter painter(&picture);
        QLinearGradient sky(0, 0, size.width(), size.height());
        sky.setColorAt(0, QColor(40, 90, 200));
        sky.setColorAt(1, QColor(250, 210, 120));
        painter.fillRect(picture.rect(), sky);
        painter.setRenderHint(QPainter::Antialiasing);
        painter.setPen(Qt::NoPen);
        painter.setBrush(QColor(30, 140, 60));
        painter.drawEllipse(QRectF(400, 1600, 2000, 1800));
        painter.setBrush(QColor(200, 40, 40));
        painter.drawRect(QRectF(2500, 600, 800, 1000));
    }
    quint32 seed = 12345;
    for (int y = 0; y < size.height(); ++y) {
        uchar *row = picture.scanLine(y);
        for (int x = 0; x < size.width() * 4; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x] = uchar(std::clamp(int(row[x]) + int(seed >> 28) - 8, 0, 255));
        }
    }
    const auto encode = [](const QImage &image, int quality) {
        tjhandle handle = tjInitCompress();
        unsigned char *out = nullptr;
        unsigned long bytes = 0;
        const int failed = tjCompress2(handle, image.constBits(), image.width(), int(image.bytesPerLine()), image.height(),
                                       TJPF_RGBX, &out, &bytes, TJSAMP_420, quality, 0);
        QByteArray jpeg = failed ? QByteArray() : QByteArray(reinterpret_cast<const char *>(out), qsizetype(bytes));
        tjFree(out);
        tjDestroy(handle);
        return jpeg;
    };
    const QByteArray main = encode(picture, 92);
    const QByteArray thumbnail = encode(picture.scaled(160, 120, Qt::IgnoreAspectRatio, Qt::SmoothTransformation), 80);
    if (main.isEmpty() || thumbnail.isEmpty())
        return false;
    Exiv2::ExifData exif;
    exif["Exif.Image.Make"] = "Lumen";
    exif["Exif.Image.Model"] = "Bench Camera";
    exif["Exif.Image.Orientation"] = uint16_t(1);
    exif["Exif.Photo.PixelXDimension"] = uint32_t(size.width());
    exif["Exif.Photo.PixelYDimension"] = uint32_t(size.height());
    exif["Exif.Photo.DateTimeOriginal"] = "2024:05:06 07:08:09";
    std::string note(30000, '\0');
    for (size_t i = 0; i < note.size(); ++i)
        note[i] = char('a' + i % 26);
    Exiv2::DataValue makerNote(Exiv2::undefined);
    makerNote.read(reinterpret_cast<const Exiv2::byte *>(note.data()), long(note.size()), Exiv2::invalidByteOrder);
    exif.add(Exiv2::ExifKey("Exif.Photo.MakerNote"), &makerNote);
    Exiv2::ExifThumb(exif).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(thumbnail.constData()), long(thumbnail.size()));
    Exiv2::Blob blob;
    Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
    const QByteArray payload = QByteArray("Exif\0\0", 6) + QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    QByteArray segment("\xff\xe1", 2);
    segment.append(char((payload.size() + 2) >> 8)).append(char((payload.size() + 2) & 0xff)).append(payload);
    // After the start of image, in place of TurboJPEG's JFIF segment.
    const qsizetype jfifEnd = 4 + ((uchar(main[4]) << 8) | uchar(main[5]));
    QFile file(path);
    return file.open(QIODevice::WriteOnly) && file.write(main.left(2) + segment + main.mid(jfifEnd)) > 0;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    bench::prepareScreens(home);
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);   // each figure out as soon as it is known

    QStringList files;
    int turns = 1;
    bool flip = false, camera = false;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--turns") && i + 1 < arguments.size())
            turns = std::max(1, arguments.at(++i).toInt());
        else if (arguments.at(i) == QLatin1String("--flip"))
            flip = true;
        else if (arguments.at(i) == QLatin1String("--camera"))
            camera = true;
        else
            files << QFileInfo(arguments.at(i)).absoluteFilePath();
    }
    QTemporaryDir cameraFolder;
    QString cameraPath;
    if (camera || files.isEmpty()) {
        cameraPath = cameraFolder.filePath(QStringLiteral("camera.jpg"));
        if (!writeCameraJpeg(cameraPath)) {
            std::fprintf(stderr, "the camera's JPEG could not be made\n");
            return 2;
        }
        files << cameraPath;
    }
    const QString jpegtran = QStandardPaths::findExecutable(QStringLiteral("jpegtran"));

    viewimagevc *viewer = imageViewer();
    viewer->resize(1600, 1000);
    viewer->show();
    int status = 0;
    for (const QString &path : files) {
        std::printf("file: %s\n", qPrintable(path));
        if (!QFileInfo(path).isFile()) {
            std::printf("written: nothing\n");
            status = 1;
            continue;
        }
        const QFileInfo info(path);
        const QString copy = info.absolutePath() + QLatin1Char('/') + info.completeBaseName() + QStringLiteral(" copy.")
                           + info.suffix();
        bool copyAsked = false;
        Saver::setPanelResponderForTesting([&](const QString &) {
            copyAsked = true;
            return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, copyFormat(info.suffix())));
        });
        InitialDirectory item = Metadata::init(QUrl::fromLocalFile(path));
        item.isImage = true;
        itemList = {item};
        currentFolderURL = QUrl::fromLocalFile(info.absolutePath());
        selectedItemIndex = 0;
        // Shown in the viewer first, as a person turns what they look at.
        viewer->showItem(item.file->url, true);
        if (!waitFor([viewer, path] {
                return viewer->imgview->hasImage() && !viewer->imgview->isPlaceholder()
                    && viewer->imgview->pictureKey() == path;
            }, 30000))
            std::fprintf(stderr, "%s did not show; turned all the same\n", qPrintable(path));
        // jpegtran's turns alternate with ours, so that both meet the same load on the machine.
        std::optional<Jpegtran> reference;
        QStringList referenceOptions;
        if (lg::ImageSource(path).type() == QLatin1String("jpeg")) {
            QFile file(path);
            const lg::jpeg::EntropyCoding coding = file.open(QIODevice::ReadOnly) ? lg::jpeg::entropyCoding(file.readAll())
                                                                                   : lg::jpeg::EntropyCoding::Standard;
            if (coding != lg::jpeg::EntropyCoding::Standard)
                referenceOptions << QStringLiteral("-optimize");
            if (coding == lg::jpeg::EntropyCoding::Progressive)
                referenceOptions << QStringLiteral("-progressive");
            reference.emplace(jpegtran, path, flip, referenceOptions);
        }
        QList<double> times, referenceTimes;
        bool inPlace = true;
        const bool isJpeg = reference.has_value();
        const qint64 originalSize = QFileInfo(path).size();
        bool movedBlocks = false, byTag = false;
        const int fileTurns = path == cameraPath ? std::max(turns, 4) : turns;
        for (int i = 0; i < fileTurns; ++i) {
            const QByteArray before = digest(path);
            const QByteArray picture = isJpeg ? pictureData(readFile(path)) : QByteArray();
            // The viewer's own work in the background (the sharper copy, neighbours, the
            // sidebar's preview of the last turn) is done first.
            for (int settle = 0; settle < 3; ++settle) {
                viewer->pictureLoader()->waitForIdle();
                QThreadPool::globalInstance()->waitForDone();
                QCoreApplication::processEvents();
            }
            if (reference && reference->ready())
                referenceTimes << reference->turn();
            QElapsedTimer clock;
            clock.start();
            if (flip)
                viewer->flipImageWithSender(1);
            else
                viewer->RotateImageWithSender(2);
            if (!waitFor([viewer] { return !viewer->isTransformRunning() && !isBusy; })) {
                std::fprintf(stderr, "the turn of %s never ended\n", qPrintable(path));
                return 1;
            }
            times << clock.nsecsElapsed() / 1e6;
            inPlace = inPlace && !copyAsked && digest(path) != before;
            if (isJpeg && inPlace)
                (pictureData(readFile(path)) == picture ? byTag : movedBlocks) = true;
        }
        if (inPlace)
            std::printf("written: in place\n");
        else if (copyAsked && QFileInfo::exists(Saver::applyExtension(copy, copyFormat(info.suffix()).type)))
            std::printf("written: copy\n");
        else
            std::printf("written: nothing\n");
        if (isJpeg && inPlace) {
            std::printf("turned: %s\n", movedBlocks && byTag ? "blocks moved and by its orientation tag"
                                        : byTag               ? "by its orientation tag"
                                                              : "blocks moved");
            const qint64 size = QFileInfo(path).size();
            std::printf("size: %lld bytes, original %lld bytes (%+.2f%%)\n", (long long)size, (long long)originalSize,
                        100.0 * double(size - originalSize) / double(originalSize));
        }
        std::printf("%s time: %.0f ms\n", flip ? "flip" : "rotate", bench::median(times));
        if (!referenceTimes.isEmpty()) {
            const QString name = (QStringList {QStringLiteral("jpegtran")} + referenceOptions).join(QLatin1Char(' '));
            const double ours = bench::median(times), theirs = bench::median(referenceTimes);
            std::printf("%s time: %.0f ms\n", qPrintable(name), theirs);
            if (theirs > 0)
                std::printf("%s / %s: %.2fx\n", flip ? "flip" : "rotate", qPrintable(name), ours / theirs);
            if (theirs > 0 && path == cameraPath) {
                std::printf("camera turn ratio to jpegtran: %.2f\n", ours / theirs);
                // The first turn in a freshly opened viewer, against jpegtran's median:
                // what a person waits for the first time.
                std::printf("first turn time: %.0f ms\n", times.first());
                std::printf("first turn ratio to jpegtran: %.2f\n", times.first() / theirs);
            }
        }
    }
    Saver::setPanelResponderForTesting({});
    // The viewer's decoding of the last result ends before the application does.
    viewer->pictureLoader()->waitForIdle();
    QThreadPool::globalInstance()->waitForDone();
    QCoreApplication::processEvents();
    viewer->hide();
    return status;
}
