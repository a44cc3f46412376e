#pragma once
// Thumbnails of PNG and TIFF pictures too large to decode whole here (more
// than Qt's readers allocate for one picture): their rows are read a band at
// a time and averaged over blocks on the way, so what is held is the reduced
// picture, a band of rows and the reader's own buffers, never the picture.
// Any thread; damaged data gives none, and so does a read the quit ends.
#include <QImage>
#include <QSize>

#include <optional>

namespace lg::image {

class ByteSource;

// The picture reduced to at most maxSide on its longest side (stored pixels,
// as stored). None for a PNG that is interlaced or a TIFF whose strips or
// tiles are larger than reducedReadChunkBytes, and for damaged data.
std::optional<QImage> readPngReduced(const ByteSource &source, int maxSide);
std::optional<QImage> readTiffReduced(const ByteSource &source, int maxSide);

// The most a TIFF's strip or tile may decode to (and its coded bytes take) for
// it to be read this way.
constexpr qint64 reducedReadChunkBytes = 16LL << 20;
// The most bytes such a read holds for a picture of size stored.
qint64 reducedReadBytes(QSize stored, int maxSide);

} // namespace lg::image
