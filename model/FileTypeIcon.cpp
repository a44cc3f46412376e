#include "model/FileTypeIcon.h"

#include "platform/desktop/Workspace.h"

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
    const auto drawn = [side](const QIcon &icon) {
        return icon.isNull() ? QImage() : icon.pixmap(QSize(side, side)).toImage();
    };
    QImage image = drawn(lg::Workspace::fileIcon(path));
    // A file the provider cannot look at (gone meanwhile, or a name that is
    // not valid UTF-8, which Qt's file classes cannot open) has its type's
    // icon all the same, or a plain file's: never none.
    const bool looked = !image.isNull();
    if (!looked)
        image = drawn(QIcon::fromTheme(type.iconName(), QIcon::fromTheme(type.genericIconName())));
    if (image.isNull())
        image = drawn(lg::Workspace::plainFileIcon());
    if (image.isNull() || !looked)
        return image;   // not kept for its type: the provider's own may differ
    if (made.size() > 256)
        made.clear();
    made.insert(key, image);
    return image;
}
