#include "model/MediaRecords.h"

#include "platform/files/names/FileNames.h"

#include <QFile>

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>

QDateTime distantPast()
{
    return QDateTime(QDate(1, 1, 1), QTime(0, 0), Qt::UTC);
}

QString Metadata::debugDescription() const
{
    // The size is always written with a fraction, as a double prints: "4096.0".
    const bool whole = size == double(qint64(size));
    return QStringLiteral("  Size: ") + (whole ? QString::number(size, 'f', 1) : QString::number(size, 'g', 17));
}

QDebug operator<<(QDebug debug, const Metadata &metadata)
{
    QDebugStateSaver saver(debug);
    debug.noquote() << metadata.debugDescription();
    return debug;
}

namespace {

QDateTime fromTimespec(qint64 seconds, qint64 nanoseconds)
{
    return QDateTime::fromMSecsSinceEpoch(seconds * 1000 + nanoseconds / 1000000, Qt::UTC);
}

} // namespace

// Modification time, allocated size and birth time (file systems without one
// leave the birth time unset).
const unsigned Metadata::attributeMask = STATX_MTIME | STATX_BLOCKS | STATX_BTIME;

QString InitialDirectory::path() const
{
    return url ? lg::FileNames::pathOf(*url) : QString();
}

QString InitialDirectory::commandPath() const
{
    if (!url || !url->isLocalFile())
        return QString();
    const QString exact = lg::FileNames::pathOf(*url);
    if (!lg::FileNames::hasRawBytes(exact))
        return exact;
    // The name as text, each stray byte as U+FFFD: the look-alike's name.
    const QString text = lg::FileNames::shown(exact);
    struct stat st {};
    if (::lstat(lg::FileNames::toNative(text).constData(), &st) != 0)
        return text;
    std::printf("%s\n", lg::FileNames::notTextMessage(text).toLocal8Bit().constData());
    std::fflush(stdout);
    return QString();
}

InitialDirectory Metadata::init(const QUrl &fileURL)
{
    // One request for the three values.
    const QByteArray path = lg::FileNames::toNative(lg::FileNames::pathOf(fileURL));
    struct statx sx {};
    const bool read = !path.isEmpty()
        && statx(AT_FDCWD, path.constData(), AT_STATX_SYNC_AS_STAT, attributeMask, &sx) == 0;
    return fromAttributes(fileURL, read ? &sx : nullptr);
}

InitialDirectory Metadata::fromAttributes(const QUrl &fileURL, const struct statx *attributes)
{
    InitialDirectory item;
    item.url = fileURL;
    if (!attributes) {
        std::printf("Error reading file attributes\n");
        std::fflush(stdout);
        return item;
    }
    const struct statx &sx = *attributes;
    Metadata metadata;
    metadata.url = fileURL;
    metadata.Modifieddate = (sx.stx_mask & STATX_MTIME)
        ? fromTimespec(sx.stx_mtime.tv_sec, sx.stx_mtime.tv_nsec) : distantPast();
    metadata.size = (sx.stx_mask & STATX_BLOCKS) ? double(sx.stx_blocks) * 512.0 : 0.0;
    metadata.createdDate = (sx.stx_mask & STATX_BTIME)
        ? fromTimespec(sx.stx_btime.tv_sec, sx.stx_btime.tv_nsec) : distantPast();
    item.file = metadata;
    return item;
}
