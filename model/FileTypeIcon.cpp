#include "model/FileTypeIcon.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QHash>
#include <QIcon>
#include <QMimeDatabase>
#include <QPixmap>

QImage fileTypeIconImage(const QString &path, int side)
{
    // One icon per type and size: a folder of broken files asks for the same
    // few icons again and again, and drawing one costs milliseconds.
    static QHash<QString, QImage> made;
    const QMimeType type = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension);
    const QString key = type.name() + QLatin1Char('/') + QString::number(side);
    if (const auto found = made.constFind(key); found != made.constEnd())
        return *found;
    static QFileIconProvider provider;
    const QIcon icon = provider.icon(QFileInfo(path));
    const QImage image = icon.isNull() ? QImage() : icon.pixmap(QSize(side, side)).toImage();
    if (image.isNull())
        return image;   // e.g. a file gone meanwhile: not kept for its type
    if (made.size() > 256)
        made.clear();
    made.insert(key, image);
    return image;
}
