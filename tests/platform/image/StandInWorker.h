#pragma once
// What the tests of the decode workers share: files marked for the stand-in
// worker (StandInDecoder.cpp says what each mark does), and the program's
// decode settings put back once a test that used workers is done.
#include "platform/image/DecodeWorkers.h"
#include "platform/runtime/Dispatch.h"

#include <QImage>
#include <QImageWriter>
#include <QString>

namespace lg::test {

// A PNG whose first bytes carry what the stand-in worker does with it.
inline QString markedPicture(const QString &folder, const QString &mark)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.setText(QStringLiteral("Comment"), QStringLiteral("standin:") + mark + QLatin1Char('.'));
    const QString path = folder + QLatin1Char('/') + QString(mark).replace(QLatin1Char(' '), QLatin1Char('-')) + QStringLiteral(".png");
    QImageWriter writer(path, "png");
    writer.write(image);
    return path;
}

// Decodes in this process again, with the real clock, worker program and no quit.
inline void decodeInThisProcessAgain()
{
    lg::image::setDecodeClockForTesting({});
    lg::image::setDecodeWorkerProgramForTesting({});
    lg::image::setDecodesInThisProcess(true);
    lg::resetShutdownForTesting();
}

} // namespace lg::test
