#pragma once
// What a decode in a worker is granted beyond its prediction. Each decode is
// granted first what its prediction says it holds; one that needs more is
// tried once more with a larger grant, by what it is for: the picture a
// window shows whole (the viewer's, the editor's) may have what the viewer's
// one picture may (viewerDecodeGrant); a thumbnail (the grid's, a collage's)
// what is left of thumbnailsWholeBytes beside what the program and its
// workers hold then, and none when that is no more than its prediction.
//
// Any thread; a decode blocks its caller as the decodes it makes do.
#include "platform/image/ImageSource.h"

#include <QImage>

#include <functional>
#include <optional>

namespace lg::image {

// What the program and its decode workers may hold in all while thumbnails
// are made.
constexpr qint64 thumbnailsWholeBytes = 600LL << 20;

enum class GrantBeyond { Picture, WithinWhole };

// A decode within terms, telling how it ended (report is never null).
using GrantedDecode = std::function<std::optional<QImage>(const DecodeTerms &terms, DecodeReport *report)>;

// The grant of a decode tried once more (0: none larger than predicted).
qint64 grantBeyond(GrantBeyond kind, qint64 predicted);

// decode within terms, granted its prediction (predicted bytes); when it
// needs more, once more granted grantBeyond(kind). beforeRetry, when given,
// is called before that (a thumbnail waits to be alone): false gives up, the
// decode then ending as Stopped. report (when given) says how the last
// decode ended.
std::optional<QImage> grantedDecode(const GrantedDecode &decode, qint64 predicted, GrantBeyond kind,
                                    DecodeTerms terms = {}, DecodeReport *report = nullptr,
                                    const std::function<bool()> &beforeRetry = {});

} // namespace lg::image
