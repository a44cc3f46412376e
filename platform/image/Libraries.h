#pragma once
// One-time set-up of the image libraries. Each function may be called from any
// thread, any number of times; the set-up itself runs once.
namespace lg::image {

// The longest side, in pixels, of a picture the decoders here take
// (ImageMagick's width and height limits, libheif's size limit); a picture
// whose header claims more is refused before anything is decoded.
constexpr int maxPictureSide = 32768;

// exiv2: XMP toolkit initialised before threads use it, BMFF (HEIC) metadata
// enabled, library warnings silenced.
void ensureExiv2();
// ImageMagick: initialised, with resource limits and one thread per operation
// (the callers already decode on many threads).
void ensureMagick();
// libheif: plugins loaded.
void ensureHeif();
// FFmpeg: log output silenced (damaged files are expected input here).
void ensureAv();
// True when ImageMagick may hand PostScript-like files to ghostscript here.
bool postscriptReadable();

} // namespace lg::image
