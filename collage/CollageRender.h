#pragma once
// The saved collage: drawn from the photos' files at the output size, from a
// snapshot of the canvas taken on the main thread. Any thread.
#include "collage/CollageLayout.h"

#include <QColor>
#include <QImage>
#include <QList>
#include <QRectF>
#include <QSize>
#include <QString>

struct CollageSlotSnapshot
{
    QRectF frame;          // in canvas points, top-left origin
    QString path;          // empty: an empty slot
    SlotFraming framing;
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
// shadow and photo (decoded at the size it takes in the output, in parallel).
// A photo that cannot be read leaves its slot empty. An empty canvas or
// output size gives a null image.
QImage renderCollage(const CollageSnapshot &snapshot, const QSize &outputSize);

// A soft copy of mask: drawn small and scaled up smoothly, which spreads its
// edges over about radius pixels. For drop shadows. Any thread.
QImage softened(const QImage &mask, double radius);
