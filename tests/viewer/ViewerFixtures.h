#pragma once
// Shared by the viewer tests: solid pictures on disk, list items for them and
// the viewer on screen at a size where a 400 x 300 picture fits. Main thread.
#include "app/Essentials.h"
#include "viewer/viewimagevc.h"

#include <QColor>
#include <QDir>
#include <QFileInfo>
#include <QImage>

namespace viewertest {

// A picture of one colour; empty when it could not be written.
inline QString writePicture(const QString &path, QSize size, const QColor &color)
{
    QImage image(size, QImage::Format_RGB32);
    image.fill(color);
    QDir().mkpath(QFileInfo(path).absolutePath());
    return image.save(path) ? path : QString();
}

inline InitialDirectory itemFor(const QString &path, bool isImage)
{
    InitialDirectory item = Metadata::init(QUrl::fromLocalFile(path));
    item.isImage = isImage;
    return item;
}

inline viewimagevc *shownViewer()
{
    viewimagevc *viewer = imageViewer();
    viewer->resize(900, 700);
    viewer->show();
    return viewer;
}

} // namespace viewertest
