// How the viewer's "Rotate Right 90°" (or "Horizontal Flip") fares on real files:
//   bench_rotate FILE... [--turns N] [--flip]
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
#include "model/Saver.h"
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
#include <QTimer>

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

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    bench::prepareScreens(home);
    QApplication app(argc, argv);
    std::setvbuf(stdout, nullptr, _IOLBF, 0);   // each figure out as soon as it is known

    QStringList files;
    int turns = 1;
    bool flip = false;
    const QStringList arguments = QCoreApplication::arguments().mid(1);
    for (int i = 0; i < arguments.size(); ++i) {
        if (arguments.at(i) == QLatin1String("--turns") && i + 1 < arguments.size())
            turns = std::max(1, arguments.at(++i).toInt());
        else if (arguments.at(i) == QLatin1String("--flip"))
            flip = true;
        else
            files << QFileInfo(arguments.at(i)).absoluteFilePath();
    }
    if (files.isEmpty()) {
        std::fprintf(stderr, "usage: bench_rotate FILE... [--turns N] [--flip]\n");
        return 2;
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
        for (int i = 0; i < turns; ++i) {
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
