#pragma once
// What the collage's own drags carry. A slot's handle and the photo strip
// offer only the copy action and only these types (a slot adds its picture
// for other programs), never file addresses: released over a file manager
// they can neither move nor copy the user's file, and the window's own drop
// target can tell them apart and leave them alone. Any thread.
#include <QList>
#include <QMimeData>
#include <QString>
#include <QUrl>

// A drag that started on a slot's handle; the data is the slot's photo URL.
inline const QString collageSlotMimeType = QStringLiteral("application/x-lumengallery-collage-slot");
// A drag out of the photo strip; the data is the photos' URLs, one a line.
inline const QString collagePhotoMimeType = QStringLiteral("application/x-lumengallery-collage-photo");

// Whether the drag is one of the collage's own.
inline bool isCollageDrag(const QMimeData *data)
{
    return data && (data->hasFormat(collageSlotMimeType) || data->hasFormat(collagePhotoMimeType));
}

// The URLs a strip drag carries.
inline QList<QUrl> collageDraggedPhotos(const QMimeData *data)
{
    QList<QUrl> urls;
    if (!data)
        return urls;
    for (const QByteArray &line : data->data(collagePhotoMimeType).split('\n')) {
        if (!line.isEmpty())
            urls.append(QUrl::fromEncoded(line));
    }
    return urls;
}
