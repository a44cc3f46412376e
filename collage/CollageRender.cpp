#include "collage/CollageRender.h"

#include "platform/ImageSource.h"

#include <QPainter>
#include <QtConcurrent>

namespace {

// Decodes the part of one photo that a slot of innerPixels shows.
QImage slotPicture(const CollageSlotSnapshot &slot, QSizeF innerPixels)
{
    if (slot.path.isEmpty() || innerPixels.isEmpty())
        return QImage();
    const lg::ImageSource source(slot.path);
    const std::optional<QSize> size = source.pixelSize();
    if (!size || size->isEmpty())
        return QImage();
    const int longest = slotDecodeSize(QSizeF(*size), innerPixels, slot.framing.zoom);
    std::optional<QImage> image = source.thumbnail(std::max(longest, 1));
    if (!image || image->isNull())
        return QImage();
    return *image;
}

} // namespace

QImage renderCollage(const CollageSnapshot &snapshot, const QSize &outputSize)
{
    if (outputSize.isEmpty() || snapshot.canvas.isEmpty())
        return QImage();
    const double sx = outputSize.width() / snapshot.canvas.width();
    const double sy = outputSize.height() / snapshot.canvas.height();
    const double border = std::max(0.0, snapshot.borderWidth) * std::min(sx, sy);
    auto scaled = [sx, sy](const QRectF &r) { return QRectF(r.x() * sx, r.y() * sy, r.width() * sx, r.height() * sy); };
    auto inner = [border](const QRectF &r) {
        const double b = std::min(border, std::min(r.width(), r.height()) / 2);
        return r.adjusted(b, b, -b, -b);
    };

    const QList<QImage> pictures = QtConcurrent::blockingMapped<QList<QImage>>(
        snapshot.slotList, [&](const CollageSlotSnapshot &slot) { return slotPicture(slot, inner(scaled(slot.frame)).size()); });

    QImage output(outputSize, QImage::Format_RGB32);
    if (output.isNull())
        return output;
    output.fill(snapshot.background.isValid() ? snapshot.background : QColor(Qt::white));
    QPainter painter(&output);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    if (!snapshot.slotArea.isEmpty())
        painter.setClipRect(scaled(snapshot.slotArea));
    if (snapshot.shadow) {
        // The slots' outlines, blurred by drawing them small and scaling up.
        const double shrink = 8;
        QImage mask((QSizeF(outputSize) / shrink).toSize().expandedTo(QSize(1, 1)), QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        {
            QPainter shadow(&mask);
            shadow.scale(1 / shrink, 1 / shrink);
            for (const CollageSlotSnapshot &slot : snapshot.slotList)
                shadow.fillRect(scaled(slot.frame), QColor(0, 0, 0, 200));
        }
        const QImage soft = mask.scaled(mask.size() / 2, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
                                .scaled(outputSize, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        painter.drawImage(0, 0, soft);
    }
    for (qsizetype i = 0; i < snapshot.slotList.size(); ++i) {
        const QRectF frame = scaled(snapshot.slotList.at(i).frame);
        painter.fillRect(frame, snapshot.border);
        const QRectF target = inner(frame);
        const QImage &picture = pictures.at(i);
        if (picture.isNull()) {
            painter.fillRect(target, QColor(0, 0, 0, 45));
            continue;
        }
        painter.drawImage(target, picture, visibleImageRect(picture.size(), target.size(), snapshot.slotList.at(i).framing));
    }
    return output;
}
