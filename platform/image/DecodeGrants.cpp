// What a decode is granted beyond its prediction, and its one retry.
#include "platform/image/DecodeGrants.h"

#include "platform/image/DecodeWorkers.h"

namespace lg::image {

qint64 grantBeyond(GrantBeyond kind, qint64 predicted)
{
    const qint64 grant = kind == GrantBeyond::Picture
        ? viewerDecodeGrant()
        : thumbnailsWholeBytes - residentBytesWithWorkers() - workerGrantSlack;
    return grant > predicted ? grant : 0;
}

std::optional<QImage> grantedDecode(const GrantedDecode &decode, qint64 predicted, GrantBeyond kind,
                                    DecodeTerms terms, DecodeReport *report, const std::function<bool()> &beforeRetry)
{
    DecodeReport made;
    DecodeReport &ended = report ? *report : made;
    std::optional<QImage> image = decode(terms, &ended);
    if (ended.end != DecodeEnd::OverGrant)
        return image;
    if (beforeRetry && !beforeRetry()) {
        ended = {DecodeEnd::Stopped, QString()};
        return std::nullopt;
    }
    const qint64 grant = grantBeyond(kind, predicted);
    if (grant <= 0)
        return std::nullopt;
    terms.grantBytes = grant;
    return decode(terms, &ended);
}

} // namespace lg::image
