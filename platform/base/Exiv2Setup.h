#pragma once
// The one-time set-up of exiv2 that every reader and writer of metadata asks
// for before it uses the library. Any thread may call it, any number of
// times; the set-up itself runs once and cannot fail.

namespace lg::image {

// exiv2: XMP toolkit initialised before threads use it, BMFF (HEIC) metadata
// enabled, library warnings silenced.
void ensureExiv2();

} // namespace lg::image
