#pragma once
// The stand-in for a media file that has no picture to show (damaged, empty, or
// not what its name says): the desktop's icon for its file type. Main thread
// only (the icon theme is not thread-safe).
#include <QImage>
#include <QString>

// The file-type icon of path at side x side pixels; a null image when the
// desktop offers none.
QImage fileTypeIconImage(const QString &path, int side = 128);
