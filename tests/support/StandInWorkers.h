#pragma once
// Decodes in the tests' stand-in worker (tests/platform/image/StandInDecoder.cpp)
// and back, for a test's init() and cleanup(), and the marked files that tell
// the stand-in what to do with them. Main thread.
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Dispatch.h"
#include "tests/support/TestSupport.h"

#include <QByteArray>
#include <QImage>
#include <QImageWriter>
#include <QString>

namespace lg::test {

// Decodes go to stand-in workers from here on.
inline void decodeInStandInWorkers()
{
    lg::image::setDecodesInThisProcess(false);
    lg::image::setDecodeWorkerProgramForTesting(QStringLiteral(LG_STANDIN_DECODER));
}

// Back to decodes in this process, on the real clock, with no quit begun.
inline void decodeHereAgain()
{
    lg::image::setDecodeClockForTesting({});
    lg::image::setDecodeWorkerProgramForTesting({});
    lg::image::setDecodesInThisProcess(true);
    lg::resetShutdownForTesting();
}

// A GIF of an 8 x 8 screen with no frame, in folder, whose comment is the
// stand-in's mark ("hang", "allocate 400", ...); named after the mark.
inline QString markedGif(const QString &folder, const QString &mark)
{
    const QByteArray comment = "standin:" + mark.toLatin1() + '.';
    QByteArray gif("GIF89a\x08\x00\x08\x00\x00\x00\x00", 13);
    gif += "\x21\xFE" + QByteArray(1, char(comment.size())) + comment + QByteArray(1, '\0') + ";";
    return writeFile(folder + QLatin1Char('/') + QString(mark).replace(QLatin1Char(' '), QLatin1Char('-'))
                         + QStringLiteral(".gif"),
                     gif);
}

// A PNG of 16 x 16, in folder, whose comment is the stand-in's mark; named
// after the mark.
inline QString markedPicture(const QString &folder, const QString &mark)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.setText(QStringLiteral("Comment"), QStringLiteral("standin:") + mark + QLatin1Char('.'));
    const QString path = folder + QLatin1Char('/') + QString(mark).replace(QLatin1Char(' '), QLatin1Char('-'))
                         + QStringLiteral(".png");
    QImageWriter writer(path, "png");
    writer.write(image);
    return path;
}

} // namespace lg::test
