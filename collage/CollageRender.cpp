#include "collage/CollageRender.h"

#include "platform/files/names/FileIdentity.h"
#include "platform/image/ImageSource.h"
#include "platform/runtime/Background.h"

#include <QPainter>

namespace {

// The picture one slot draws in the output, at innerPixels; null with
// unreadable set when the slot has a photo and nothing of it can be drawn.
struct SlotPicture
{
    QImage image;
    bool unreadable = false;
};

// Whether the file at the slot's path is still the one its shown picture came from.
bool isShownFile(const CollageSlotSnapshot &slot)
{
    // Read by the path's bytes: never the look-alike's time and size.
    const std::optional<lg::FileIdentity> file = lg::fileIdentityFollowing(slot.path);
    return file && file->modifiedSeconds * 1000 + file->modifiedNanoseconds / 1000000 == slot.shownModified
           && file->size == slot.shownSize;
}

SlotPicture slotPicture(const CollageSlotSnapshot &slot, QSizeF innerPixels)
{
    if (slot.path.isEmpty() || innerPixels.isEmpty())
        return {};
    if (slot.shown.isNull() || isShownFile(slot)) {
        const lg::ImageSource source(slot.path);
        if (const std::optional<QSize> size = source.pixelSize(); size && !size->isEmpty()) {
            const int longest = slotDecodeSize(QSizeF(*size), innerPixels, slot.framing.zoom);
            if (std::optional<QImage> image = source.thumbnail(std::max(longest, 1)); image && !image->isNull())
                return {*image, false};
        }
    }
    if (!slot.shown.isNull())
        return {slot.shown, false};
    return {QImage(), true};
}

} // namespace

QImage renderCollage(const CollageSnapshot &snapshot, const QSize &outputSize, QStringList *unreadable)
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

    const QList<SlotPicture> pictures = lg::mapped(
        snapshot.slotList, [&](const CollageSlotSnapshot &slot) {
            // At quit the rendering is unwanted: nothing more is decoded.
            if (lg::isShuttingDown())
                return SlotPicture{QImage(), true};
            return slotPicture(slot, inner(scaled(slot.frame)).size());
        });
    if (unreadable) {
        for (qsizetype i = 0; i < pictures.size(); ++i) {
            const QString &path = snapshot.slotList.at(i).path;
            if (pictures.at(i).unreadable && !unreadable->contains(path))
                unreadable->append(path);
        }
    }

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
        const QImage &picture = pictures.at(i).image;
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
