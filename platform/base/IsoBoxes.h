#pragma once
// The boxes of ISO base media files (HEIC, AVIF, MP4): their headers and the
// big-endian numbers inside them. Pure reading of bytes, never past the bytes
// given; what does not fit is no box. Any thread.
#include <QByteArray>
#include <QList>
#include <QtGlobal>

#include <optional>

namespace lg::image {

// Reads big-endian numbers from bytes between at and end, failing (ok false)
// rather than reading past end.
struct IsoReader
{
    const QByteArray &bytes;
    qsizetype at = 0;
    qsizetype end = 0;
    bool ok = true;

    // The next width bytes (0..8) as a number; 0 and ok false past end.
    quint64 number(int width);
    void skip(qsizetype count);
};

struct IsoBox
{
    QByteArray type;
    qint64 body = 0;   // where its content starts
    qint64 end = 0;    // where the next box starts
};

// The box whose header starts at from in bytes, in a stream that ends at end
// (a size of 0 runs to it; end may lie past bytes when only the header was
// read); none when the header is cut short or the box would reach past end.
std::optional<IsoBox> isoBoxAt(const QByteArray &bytes, qsizetype from, qint64 end);
// The boxes between from and end of bytes; stops at the first one that does
// not fit.
QList<IsoBox> isoBoxesIn(const QByteArray &bytes, qsizetype from, qsizetype end);

} // namespace lg::image
