// The size limits of decoded pictures.
#include "platform/base/PictureLimits.h"

namespace lg::image {

QString claimText(QSize size)
{
    return QStringLiteral("The picture claims %1 \u00D7 %2 pixels").arg(size.width()).arg(size.height());
}

QString sizeClaimRefusal(QSize size, bool heldToAllocation)
{
    if (size.width() > maxPictureSide || size.height() > maxPictureSide)
        return QStringLiteral("%1, more than the %2 a side that pictures may have here.").arg(claimText(size)).arg(maxPictureSide);
    const qint64 limit = qint64(decodeBudgetMegabytes) << 20;
    if (heldToAllocation && qint64(size.width()) * size.height() * 4 > limit)
        return QStringLiteral("%1, more than the %2 MB a decoded picture may take here.")
            .arg(claimText(size)).arg(decodeBudgetMegabytes);
    return {};
}

} // namespace lg::image
