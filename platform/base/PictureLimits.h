#pragma once
// The size limits that every decoder and the JPEG turn share: how large a
// picture may claim to be before anything is decoded. Pure rules on numbers;
// any thread may call them.
#include <QSize>
#include <QString>

namespace lg::image {

// The longest side, in pixels, of a picture the decoders here take
// (ImageMagick's width and height limits, libheif's size limit); a picture
// whose header claims more is refused before anything is decoded.
constexpr int maxPictureSide = 32768;
// What one decoded picture may take when its claim cannot be judged by its
// bytes (MB, four bytes a pixel): Qt's readers' own default. It stays fixed
// when the editor lets the readers allocate more for a large picture it saves.
constexpr int decodeBudgetMegabytes = 128;

// Why a picture whose header claims size is not decoded here, naming the
// claim: a side longer than maxPictureSide or, with heldToAllocation, more
// pixels than a decoded picture may take (decodeBudgetMegabytes). Empty when
// it may be decoded. claimText names the claim alone, for other reasons.
QString sizeClaimRefusal(QSize size, bool heldToAllocation);
QString claimText(QSize size);

} // namespace lg::image
