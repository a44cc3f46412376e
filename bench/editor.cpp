// How the editor keeps up with its sliders: a 6000 x 4000 JPEG in the editor,
// 60 steps of each adjustment's slider, each timed from the slider change to
// the new preview painted; the longest stall of the main thread meanwhile; and
// the time of a save (full decode, adjustments, JPEG written) from Save to the
// file on disk. The picture is made once, in the build folder.
//   bench_editor [FILE]
// With FILE, that file is edited instead: after the figures its exposure is
// raised by 0.5 and a JPEG copy is saved beside it through the editor's save
// path ("<name> edited.jpg"), and its path printed as "saved: PATH".
#include "bench/BenchSupport.h"
#include "app/Essentials.h"
#include "app/mainvc.h"
#include "app/Saver.h"
#include "platform/image/ImageSource.h"
#include "viewer/ImageCanvas.h"
#include "viewer/ImageEditWindow.h"
#include "viewer/editImagevc.h"
#include "viewer/viewimagevc.h"
#include "platform/runtime/Heap.h"

#include <QApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QImageReader>
#include <QImageWriter>
#include <QSlider>
#include <QTemporaryDir>
#include <QTimer>

#include <algorithm>
#include <cstdio>
#include <optional>

namespace {

const QSize pictureSize(6000, 4000);

QImage makePicture()
{
    QImage image(pictureSize, QImage::Format_RGB32);
    quint32 seed = 2166136261u;
    for (int y = 0; y < image.height(); ++y) {
        auto *row = reinterpret_cast<QRgb *>(image.scanLine(y));
        const int g = (y * 200) / image.height() + 20;
        for (int x = 0; x < image.width(); ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int grain = int((seed >> 24) & 15) - 8;
            const int r = (x * 220) / image.width();
            const int b = (x + y) / 40 % 200 + 30;
            row[x] = qRgb(std::clamp(r + grain, 0, 255), std::clamp(g + grain, 0, 255), std::clamp(b + grain, 0, 255));
        }
    }
    return image;
}

bool waitFor(const std::function<bool()> &done, int limitMs = 60000)
{
    QElapsedTimer limit;
    limit.start();
    while (!done() && limit.elapsed() < limitMs)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
    return done();
}

// Saves the editor's picture as a JPEG copy at copy through Save, the panel
// answered by the bench; the time from Save to the file on disk (ms), none
// when it was not saved within limitMs.
std::optional<double> timedSaveAsJpeg(editImagevc *editor, const QString &copy, int limitMs)
{
    Saver::setPanelResponderForTesting([copy](const QString &) {
        SaveFormatChoice choice;
        choice.type = lg::ImageFileType::JPEG;
        return std::optional<std::pair<QString, SaveFormatChoice>>(std::make_pair(copy, choice));
    });
    QElapsedTimer saving;
    saving.start();
    editor->btnsave();
    if (!waitFor([&] { return QFileInfo::exists(copy) && !isBusy; }, limitMs))
        return std::nullopt;
    return saving.nsecsElapsed() / 1e6;
}

// The process's resident set now and at its peak (VmRSS, VmHWM), in MB.
std::pair<double, double> residentMegabytes()
{
    QFile status(QStringLiteral("/proc/self/status"));
    double now = 0, peak = 0;
    if (!status.open(QIODevice::ReadOnly))
        return {now, peak};
    for (const QByteArray &line : status.readAll().split('\n')) {
        const QList<QByteArray> parts = line.simplified().split(' ');
        if (parts.size() >= 2 && parts.at(0) == "VmRSS:")
            now = parts.at(1).toDouble() / 1024;
        else if (parts.size() >= 2 && parts.at(0) == "VmHWM:")
            peak = parts.at(1).toDouble() / 1024;
    }
    return {now, peak};
}

// A 50 MP JPEG (8660 x 5774) made now, opened in the editor, turned
// monochrome and saved as a JPEG copy: the save's time and the peak memory of
// the process from the opening on (the peak is reset first where the kernel
// allows it). 0 when it was saved.
int saveLargePicture(editImagevc *editor, const QString &folder)
{
    const QString large = folder + QStringLiteral("/large.jpg");
    const QString copy = folder + QStringLiteral("/large edited.jpg");
    {
        QImage picture(8660, 5774, QImage::Format_RGB32);
        for (int y = 0; y < picture.height(); ++y) {
            auto *row = reinterpret_cast<QRgb *>(picture.scanLine(y));
            for (int x = 0; x < picture.width(); ++x)
                row[x] = qRgb(x * 255 / picture.width(), y * 255 / picture.height(), (x ^ y) & 255);
        }
        QImageWriter writer(large, "jpeg");
        writer.setQuality(85);
        if (!writer.write(picture)) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(large));
            return 1;
        }
    }
    editor->closeEditor();
    QFile::remove(copy);
    QFile clear(QStringLiteral("/proc/self/clear_refs"));
    const bool reset = clear.open(QIODevice::WriteOnly) && clear.write("5") == 1;
    clear.close();
    const double before = residentMegabytes().first;
    viewerItemURL = QUrl::fromLocalFile(large);
    contentHub()->showEditImagevc();
    if (!waitFor([editor] { return editor->isLoaded(); })) {
        std::fprintf(stderr, "the 50 MP picture never loaded\n");
        return 1;
    }
    Adjustments grey;
    grey.monochrome = 1;
    editor->setAdjustments(grey);
    const std::optional<double> saveTime = timedSaveAsJpeg(editor, copy, 120000);
    if (!saveTime) {
        std::fprintf(stderr, "the 50 MP copy was never saved\n");
        return 1;
    }
    const QSize saved = QImageReader(copy).size();
    const double peak = residentMegabytes().second;
    std::printf("50 MP save: %dx%d in %.0f ms\n", saved.width(), saved.height(), *saveTime);
    std::printf("50 MP peak memory: %.0f MB (VmHWM%s; %.0f MB resident before opening)\n", peak,
                reset ? ", reset before opening" : ", whole run", before);
    QFile::remove(copy);
    QFile::remove(large);
    return saved == QSize(8660, 5774) ? 0 : 1;
}

} // namespace

int main(int argc, char **argv)
{
    QTemporaryDir home;
    bench::prepareScreens(home);
    lg::tuneHeapForPictures();   // as the program's main() does
    QApplication app(argc, argv);

    const QStringList arguments = QCoreApplication::arguments();
    const QString given = arguments.size() > 1 ? QFileInfo(arguments.at(1)).absoluteFilePath() : QString();
    if (!given.isEmpty() && !QFileInfo(given).isFile()) {
        std::fprintf(stderr, "no such file: %s\n", qPrintable(given));
        return 1;
    }
    const QString folder = given.isEmpty() ? QCoreApplication::applicationDirPath() + QStringLiteral("/bench-editor")
                                           : QFileInfo(given).absolutePath();
    QDir().mkpath(folder);
    const QString path = given.isEmpty() ? folder + QStringLiteral("/photo.jpg") : given;
    if (!QFileInfo::exists(path)) {
        QImageWriter writer(path, "jpeg");
        writer.setQuality(90);
        if (!writer.write(makePicture())) {
            std::fprintf(stderr, "could not write %s\n", qPrintable(path));
            return 1;
        }
    }

    viewerItemURL = QUrl::fromLocalFile(path);
    mainvc *hub = contentHub();
    hub->resize(1600, 1000);
    hub->show();
    QElapsedTimer loading;
    loading.start();
    hub->showEditImagevc();
    editImagevc *editor = editImageController;
    if (!waitFor([editor] { return editor->isLoaded(); })) {
        std::fprintf(stderr, "the picture never loaded\n");
        return 1;
    }
    std::printf("load time: %.0f ms\n", loading.nsecsElapsed() / 1e6);

    QList<double> times;
    bool current = false;
    QObject::connect(editor->imageview, &ImageCanvas::painted, editor, [&] {
        current = editor->shownAdjustments() == editor->adjustments();
    });

    // The main thread's longest gap between two ticks of a 2 ms timer.
    QElapsedTimer tick;
    double longestStall = 0;
    QTimer watchdog;
    watchdog.setInterval(2);
    QObject::connect(&watchdog, &QTimer::timeout, [&] {
        const double gap = tick.nsecsElapsed() / 1e6 - 2.0;
        if (gap > 20 && qEnvironmentVariableIsSet("LG_BENCH_TRACE"))
            std::printf("stall %.1f ms at step %d\n", gap, int(times.size()));
        longestStall = std::max(longestStall, gap);
        tick.restart();
    });
    tick.start();
    watchdog.start();

    for (const char *name : {"exposure", "brightness", "contrast", "saturation", "sharpness", "sepia", "monochrome"}) {
        QSlider *slider = editor->editor->slider(QString::fromLatin1(name));
        const int low = slider->minimum(), high = slider->maximum();
        for (int step = 1; step <= 60; ++step) {
            current = false;
            QElapsedTimer clock;
            clock.start();
            slider->setValue(low + (high - low) * step / 60);
            if (!waitFor([&] { return current; }, 20000)) {
                std::fprintf(stderr, "a preview never showed (%s)\n", name);
                return 1;
            }
            times << clock.nsecsElapsed() / 1e6;
        }
    }
    watchdog.stop();

    const QString copy = given.isEmpty() ? folder + QStringLiteral("/edited.jpg")
                                         : folder + QLatin1Char('/') + QFileInfo(given).completeBaseName()
                                               + QStringLiteral(" edited.jpg");
    QFile::remove(copy);
    if (!given.isEmpty()) {
        Adjustments raised;
        raised.exposure = 0.5;
        editor->setAdjustments(raised);
    }
    const std::optional<double> saveTime = timedSaveAsJpeg(editor, copy, 60000);
    if (!saveTime) {
        std::fprintf(stderr, "the copy was never saved\n");
        return 1;
    }

    const QSize fullSize = lg::ImageSource(path).pixelSize().value_or(pictureSize);
    std::printf("preview size: %dx%d of %dx%d\n", editor->imageview->image().width(),
                editor->imageview->image().height(), fullSize.width(), fullSize.height());
    std::printf("preview median: %.1f ms\n", bench::median(times));
    std::printf("preview worst: %.1f ms\n", *std::max_element(times.begin(), times.end()));
    std::printf("longest stall: %.1f ms\n", longestStall);
    std::printf("save time: %.0f ms\n", *saveTime);
    if (given.isEmpty())
        QFile::remove(copy);
    else
        std::printf("saved: %s\n", qPrintable(copy));
    return given.isEmpty() ? saveLargePicture(editor, folder) : 0;
}
