#pragma once
// A folder of files made to hurt a photo browser, for bench_browse --hostile
// and bench_thumbnails --hostile: decompression bombs, pictures named like
// videos, huge sparse files (20 GB each on paper, a few kilobytes on disk), a
// FIFO, empty and cut files, and a few ordinary photos. Made once beside the
// benchmark program and kept.
#include <QBuffer>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImage>
#include <QPainter>

#include <cstdio>
#include <sys/stat.h>
#include <unistd.h>
#include <zlib.h>

namespace bench {

inline QByteArray be32(quint32 v)
{
    const char bytes[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
    return QByteArray(bytes, 4);
}

inline void appendPngChunk(QByteArray &png, const char *type, const QByteArray &data)
{
    const QByteArray body = QByteArray(type) + data;
    png += be32(quint32(data.size())) + body
        + be32(quint32(crc32(0, reinterpret_cast<const Bytef *>(body.constData()), uInt(body.size()))));
}

// A real PNG of side x side black RGB pixels: under a megabyte on disk,
// side * side * 3 bytes decoded.
inline QByteArray pngBomb(quint32 side)
{
    QByteArray png("\x89PNG\r\n\x1a\n", 8);
    appendPngChunk(png, "IHDR", be32(side) + be32(side) + QByteArray("\x08\x02\0\0\0", 5));
    z_stream stream {};
    deflateInit(&stream, 9);
    const QByteArray row(int(side) * 3 + 1, '\0');  // filter byte 0, then the pixels
    QByteArray compressed;
    QByteArray out(1 << 16, '\0');
    for (quint32 y = 0; y <= side; ++y) {
        const bool last = y == side;
        stream.next_in = reinterpret_cast<Bytef *>(const_cast<char *>(row.constData()));
        stream.avail_in = last ? 0 : uInt(row.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            deflate(&stream, last ? Z_FINISH : Z_NO_FLUSH);
            compressed.append(out.constData(), out.size() - int(stream.avail_out));
        } while (stream.avail_out == 0);
    }
    deflateEnd(&stream);
    appendPngChunk(png, "IDAT", compressed);
    appendPngChunk(png, "IEND", QByteArray());
    return png;
}

inline QByteArray jpegOf(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    image.save(&buffer, "JPEG", 85);
    return bytes;
}

// A baseline JPEG whose frame header claims width x height.
inline QByteArray jpegClaiming(quint16 width, quint16 height)
{
    QImage small(64, 64, QImage::Format_RGB32);
    small.fill(Qt::gray);
    QByteArray jpeg = jpegOf(small);
    for (int i = 2; i + 9 < jpeg.size(); ++i) {
        if (uchar(jpeg[i]) == 0xFF && uchar(jpeg[i + 1]) == 0xC0) {
            jpeg[i + 5] = char(height >> 8);
            jpeg[i + 6] = char(height);
            jpeg[i + 7] = char(width >> 8);
            jpeg[i + 8] = char(width);
            break;
        }
    }
    return jpeg;
}

inline bool writeBytes(const QString &path, const QByteArray &bytes, qint64 sparseSize = 0)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return false;
    return sparseSize <= 0 || file.resize(sparseSize);
}

inline QString hostileFolder()
{
    const QString folder = QCoreApplication::applicationDirPath() + QStringLiteral("/bench-hostile");
    const QString done = folder + QStringLiteral("/.complete");
    if (QFileInfo::exists(done))
        return folder;
    QDir(folder).removeRecursively();
    QDir().mkpath(folder);
    const auto at = [&folder](const char *name) { return folder + QLatin1Char('/') + QLatin1String(name); };
    constexpr qint64 twentyGB = 20LL * 1024 * 1024 * 1024;
    bool ok = true;

    // Pictures named like videos: 768 MB each when decoded.
    const QByteArray bomb = pngBomb(16000);
    for (int i = 1; i <= 6; ++i)
        ok &= writeBytes(folder + QStringLiteral("/holiday-%1.mp4").arg(i), bomb);
    ok &= writeBytes(at("holiday.mov"), bomb);
    ok &= writeBytes(at("bomb.png"), bomb);
    ok &= writeBytes(at("bomb-jpeg-named.jpg"), bomb);
    // A JPEG that claims 65500 x 65500 pixels.
    ok &= writeBytes(at("claims-huge.jpg"), jpegClaiming(65500, 65500));
    ok &= writeBytes(at("claims-huge.mp4"), jpegClaiming(65500, 65500));
    // Huge sparse files: a JPEG with no end, one with its end 20 GB on, and zeros.
    QImage photo(640, 480, QImage::Format_RGB32);
    photo.fill(Qt::darkCyan);
    const QByteArray jpeg = jpegOf(photo);
    ok &= writeBytes(at("sparse-no-end.jpg"), jpeg.chopped(2), twentyGB);
    {
        ok &= writeBytes(at("sparse-end-far.jpg"), jpeg.chopped(2), twentyGB - 2);
        QFile file(at("sparse-end-far.jpg"));
        ok &= file.open(QIODevice::Append) && file.write("\xFF\xD9", 2) == 2;
    }
    ok &= writeBytes(at("sparse-zeros.mp4"), QByteArray(), twentyGB);
    ok &= writeBytes(at("sparse-zeros.heic"), QByteArray(), twentyGB);
    ok &= writeBytes(at("sparse-zeros.gif"), QByteArray("GIF89a"), twentyGB);
    // Empty, cut and mislabelled files, and a FIFO named like a picture.
    ok &= writeBytes(at("empty.jpg"), QByteArray());
    ok &= writeBytes(at("cut.jpg"), jpeg.left(jpeg.size() / 2));
    ok &= writeBytes(at("text.mov"), "Not a video.\n");
    ok &= ::mkfifo(QFile::encodeName(at("pipe.jpg")).constData(), 0600) == 0;
    // Ordinary photos.
    for (int i = 0; i < 10; ++i) {
        QImage picture(1600, 1200, QImage::Format_RGB32);
        picture.fill(QColor::fromHsv(i * 36, 160, 200));
        QPainter(&picture).fillRect(200, 200, 800, 600, Qt::white);
        ok &= writeBytes(folder + QStringLiteral("/photo-%1.jpg").arg(i), jpegOf(picture));
    }
    if (!ok) {
        std::fprintf(stderr, "cannot make the hostile folder in %s\n", qPrintable(folder));
        std::exit(2);
    }
    QFile marker(done);
    marker.open(QIODevice::WriteOnly);
    return folder;
}

} // namespace bench
