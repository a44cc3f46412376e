// How fast the viewer's animated GIF is ready to play: the frames a second
// decoded and handed to the viewer for a GIF of 100 frames of 640 x 480
// (ffmpeg's test pattern), in decode workers as the program does and in this
// process for comparison, and the memory the program and its workers hold
// meanwhile. The GIF is made once, in the build folder.
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Background.h"
#include "viewer/AnimatedImage.h"

#include <QCoreApplication>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QProcess>

#include <algorithm>
#include <cstdio>

namespace {

constexpr int rounds = 5;

QString ensureGif(const QString &folder)
{
    QDir().mkpath(folder);
    const QString path = folder + QStringLiteral("/pattern.gif");
    if (QFileInfo::exists(path))
        return path;
    const QStringList arguments {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-f"), QStringLiteral("lavfi"),
                                 QStringLiteral("-i"), QStringLiteral("testsrc=s=640x480:r=10:d=10"),
                                 QStringLiteral("-y"), path};
    if (QProcess::execute(QStringLiteral("ffmpeg"), arguments) != 0)
        return {};
    return path;
}

// The best of the rounds, in frames a second; frames the count of one.
double framesPerSecond(const QString &path, int *frames, qint64 *peak)
{
    double best = 0;
    for (int round = 0; round < rounds; ++round) {
        QElapsedTimer clock;
        clock.start();
        const AnimatedImage::Frames read = AnimatedImage::readFrames(path);
        const qint64 ms = std::max<qint64>(1, clock.elapsed());
        *frames = int(read.images.size());
        *peak = std::max(*peak, lg::image::residentBytesWithWorkers());
        best = std::max(best, read.images.size() * 1000.0 / double(ms));
    }
    return best;
}

} // namespace

int main(int argc, char **argv)
{
    QCoreApplication application(argc, argv);
    const QString path = ensureGif(QCoreApplication::applicationDirPath() + QStringLiteral("/bench-animation"));
    if (path.isEmpty()) {
        std::printf("ffmpeg could not make the GIF\n");
        return 1;
    }
    for (const bool here : {true, false}) {
        lg::image::setDecodesInThisProcess(here);
        int frames = 0;
        qint64 peak = 0;
        const double fps = framesPerSecond(path, &frames, &peak);
        std::printf("%-20s %3d frames  %7.1f frames/s  peak %lld MB (program and workers)\n",
                    here ? "in this process" : "in decode workers", frames, fps, peak >> 20);
    }
    lg::image::endIdleDecodeWorkers();
    return 0;
}
