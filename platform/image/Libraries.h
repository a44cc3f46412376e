#pragma once
// One-time set-up of the image libraries, and the size limits the decoders
// share. Each function may be called from any thread, any number of times;
// the set-up itself runs once.
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

// exiv2: XMP toolkit initialised before threads use it, BMFF (HEIC) metadata
// enabled, library warnings silenced.
void ensureExiv2();
// True when ImageMagick may hand PostScript-like files to ghostscript here.
bool postscriptReadable();

} // namespace lg::image
