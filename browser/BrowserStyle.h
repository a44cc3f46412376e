#pragma once
// Colours and small drawings shared by the content browser's views.
#include <QColor>
#include <QIcon>
#include <QRectF>

class QPainter;
class QWidget;

class QLabel;
class Spinner;

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
// The busy state laid over the grid or list while its folder lists: a small
// spinner beside the view's notice, hidden.
Spinner *listingSpinner(QLabel *notice);
// In every view: the spinner while a listing is on its way, else the notice
// when the listing is empty; never the notice for a listing that has not
// arrived. The grid and the list show the one shared listing, so whichever
// asked for it, both learn that it went pending or arrived.
void showListingState();

} // namespace browserstyle
