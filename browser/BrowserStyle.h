#pragma once
// Colours and small drawings shared by the content browser's views.
#include <QColor>
#include <QIcon>
#include <QRectF>

class QPainter;
class QWidget;

class QLabel;

namespace browserstyle {

QColor background();          // the content area
QColor titleBar();            // the title bar over it
QColor text();
QColor secondaryText();
QColor gridSelection();       // a selected grid item
QColor listSelection();       // a selected list row

// The stand-in picture of an item whose thumbnail is not there (yet): a
// framed landscape, drawn in rect.
void drawPreviewIcon(QPainter &painter, const QRectF &rect, const QColor &color);
// Icons of the title bar: "grid", "list", "viewer", "sort", "zoomin", "zoomout".
QIcon icon(const QString &name);
// Dark colours for a widget and its children.
void applyDarkPalette(QWidget *widget);
// The "No media files found" notice laid over an empty grid or list, hidden.
QLabel *noFilesNotice(QWidget *parent);

} // namespace browserstyle
