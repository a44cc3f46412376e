// One-time set-up of the image libraries and the decode size limits.
#include "platform/image/Libraries.h"

#include <QStandardPaths>

#include <exiv2/exiv2.hpp>

#include <mutex>

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

void ensureExiv2()
{
    static std::once_flag once;
    std::call_once(once, [] {
        Exiv2::LogMsg::setLevel(Exiv2::LogMsg::mute);
        Exiv2::XmpParser::initialize();
#ifdef EXV_ENABLE_BMFF
        Exiv2::enableBMFF(true);
#endif
    });
}

bool postscriptReadable()
{
    static const bool readable = !QStandardPaths::findExecutable(QStringLiteral("gs")).isEmpty();
    return readable;
}

} // namespace lg::image
