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
    const double corner = slotCornerRadius * std::min(sx, sy);
    if (snapshot.shadow) {
        QImage mask(outputSize, QImage::Format_ARGB32_Premultiplied);
        mask.fill(Qt::transparent);
        {
            QPainter shadow(&mask);
            shadow.setRenderHint(QPainter::Antialiasing);
            shadow.setPen(Qt::NoPen);
            shadow.setBrush(QColor(0, 0, 0, 200));
            for (const CollageSlotSnapshot &slot : snapshot.slotList)
                shadow.drawRoundedRect(scaled(slot.frame), corner, corner);
        }
        painter.drawImage(0, 0, softened(mask, 16));
    }
    for (qsizetype i = 0; i < snapshot.slotList.size(); ++i) {
        const QRectF frame = scaled(snapshot.slotList.at(i).frame);
        painter.setPen(Qt::NoPen);
        painter.setBrush(snapshot.border);
        painter.drawRoundedRect(frame, corner, corner);
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

QImage softened(const QImage &mask, double radius)
{
    if (mask.isNull() || radius < 1)
        return mask;
    const QSize small = (QSizeF(mask.size()) / radius).toSize().expandedTo(QSize(1, 1));
    return mask.scaled(small, Qt::IgnoreAspectRatio, Qt::SmoothTransformation)
        .scaled(mask.size(), Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}
