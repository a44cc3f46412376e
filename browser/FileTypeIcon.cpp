#include "browser/FileTypeIcon.h"

#include <QFileIconProvider>
#include <QFileInfo>
#include <QIcon>
#include <QPixmap>

QImage fileTypeIconImage(const QString &path, int side)
{
    static QFileIconProvider provider;
    const QIcon icon = provider.icon(QFileInfo(path));
    if (icon.isNull())
        return QImage();
    return icon.pixmap(QSize(side, side)).toImage();
}
