#pragma once
// The saved collage: drawn from the photos' files at the output size, or from
// the pictures the slots show where a file has moved away or changed, from a
// snapshot of the canvas taken on the main thread. Any thread.
#include "collage/CollageLayout.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>
#include <QStringList>

struct CollageSlotSnapshot
{
    QRectF frame;          // in canvas points, top-left origin
    QString path;          // empty: an empty slot
    SlotFraming framing;
    // The picture the slot shows, when it was made from the file at path,
    // and that file's modification time (ms since the epoch) and size then.
    QImage shown{};
    qint64 shownModified = -1;
    qint64 shownSize = -1;
};

struct CollageSnapshot
{
    QSizeF canvas;         // points
    QRectF slotArea;       // the part of the canvas the slots are clipped to
    QColor background;
    QColor border;
    double borderWidth = 7;  // points
    bool shadow = true;
    QList<CollageSlotSnapshot> slotList;   // painted in this order
};

// The canvas at outputSize pixels: background, then each slot with its border,
// shadow and photo. A photo is decoded afresh at the size it takes in the
// output (in parallel) while its file is the one the slot shows; otherwise
// (moved away, changed, unreadable) the slot's shown picture is drawn. A slot
// with neither leaves its slot empty and its path is added to *unreadable
// (once). An empty canvas or output size gives a null image.
QImage renderCollage(const CollageSnapshot &snapshot, const QSize &outputSize, QStringList *unreadable = nullptr);

// A soft copy of mask: drawn small and scaled up smoothly, which spreads its
// edges over about radius pixels. For drop shadows. Any thread.
QImage softened(const QImage &mask, double radius);
