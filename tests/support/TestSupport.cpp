#include "tests/support/TestSupport.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QUuid>

namespace lg::test {

QString homeFolder()
{
    return QDir::homePath();
}

QString freshFolder(const QString &name)
{
    const QString path = QDir(homeFolder()).filePath(
        QStringLiteral("work-%1/%2").arg(QUuid::createUuid().toString(QUuid::Id128).left(8), name));
    QDir().mkpath(path);
    return path;
}

QString writeFile(const QString &path, const QByteArray &bytes)
{
    QDir().mkpath(QFileInfo(path).absolutePath());
    QFile f(path);
    if (!f.open(QIODevice::WriteOnly))
        qFatal("cannot write test file %s", qPrintable(path));
    f.write(bytes);
    return path;
}

QByteArray readAll(const QString &path)
{
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void settle()
{
    for (int i = 0; i < 3; ++i) {
        QCoreApplication::processEvents(QEventLoop::AllEvents);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    }
}

} // namespace lg::test
