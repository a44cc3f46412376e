#pragma once
// How the C library's heap gives back the memory of decoded pictures. Thumbnail
// and viewer workers decode into buffers of megabytes, many threads at once.
// glibc hands out blocks that large as mappings of their own only until the
// first one is freed; from then on it raises that threshold to the freed
// size and serves later ones from per-thread arenas, which keep much of what
// is freed (the first screen of a folder of mixed pictures and videos then
// peaked half as high again). With the threshold fixed, every picture buffer
// is mapped on its own and given back when freed.
//
// main() calls tuneHeapForPictures() once at start, before the first worker
// (benchmarks that stand for the program do too). With another C library it
// does nothing, and pictures take more memory; nothing fails.
#include <cstddef>

namespace lg {

// Blocks of at least this many bytes are mapped on their own: decoded
// photographs and video frames; the grid's thumbnails mostly stay below it.
constexpr std::size_t pictureBlockBytes = 256 * 1024;

void tuneHeapForPictures();

} // namespace lg
