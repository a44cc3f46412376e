// Recognising a picture by its content and reading its header's claims.
#include "platform/image/FormatProbe.h"

#include "platform/base/IsoBoxes.h"
#include "platform/base/TiffStructure.h"
#include "platform/image/ByteSource.h"
#include "platform/jpeg/JpegExif.h"
#include "platform/jpeg/JpegSegments.h"

#include <QStringList>
#include <QStandardPaths>


#include <algorithm>
#include <limits>
#include <cstring>
#include <vector>

namespace lg::image {

namespace {

constexpr qint64 headLength = 64 * 1024;
constexpr qint64 wholeFileLimit = 64 * 1024 * 1024;  // formats walked in memory (GIF)
constexpr qint64 jpegEndSearchBytes = 1024 * 1024;     // the tail searched for a JPEG's end
constexpr qint64 jpegScanSearchBytes = 32 * 1024 * 1024;  // and the scan data searched before trailing data
constexpr qint64 jpegLargestFile = 256LL * 1024 * 1024;   // larger: its end must lie within that search
constexpr qint64 jpegHeaderLimit = 64 * 1024 * 1024;      // the segments before the first scan, at most

// Bytes of the source, served from the head when they lie in it.
class Bytes
{
public:
    Bytes(const ByteSource &source) : m_source(source), m_head(source.read(0, headLength)) {}
    qint64 size() const { return m_source.size(); }
    const QByteArray &head() const { return m_head; }
    QByteArray at(qint64 offset, qint64 length) const
    {
        if (offset < 0 || length <= 0)
            return {};
        if (offset + length <= m_head.size())
            return m_head.mid(offset, length);
        return m_source.read(offset, length);
    }
    const ByteSource &source() const { return m_source; }

private:
    const ByteSource &m_source;
    QByteArray m_head;
};

bool startsWith(const QByteArray &data, const char *prefix, qsizetype at = 0)
{
    const qsizetype n = qsizetype(std::strlen(prefix));
    return data.size() >= at + n && std::memcmp(data.constData() + at, prefix, size_t(n)) == 0;
}

bool startsWithBytes(const QByteArray &data, std::initializer_list<int> bytes, qsizetype at = 0)
{
    if (data.size() < at + qsizetype(bytes.size()))
        return false;
    qsizetype i = at;
    for (int b : bytes)
        if (uchar(data[i++]) != uchar(b))
            return false;
    return true;
}

QString tiffColorModel(int photometric)
{
    switch (photometric) {
    case 0: case 1: return QStringLiteral("Gray");
    case 5: return QStringLiteral("CMYK");
    case 8: case 9: case 10: return QStringLiteral("Lab");
    default: return QStringLiteral("RGB");
    }
}

// ---- JPEG ----

void probeJpeg(const Bytes &bytes, Probe &p)
{
    p.decoder = Decoder::Qt;
    p.qtFormat = "jpeg";
    p.type = QStringLiteral("jpeg");
    const qint64 size = bytes.size();
    // The segments up to the first scan, read by the one JPEG reader (stray
    // bytes between segments passed over as libjpeg passes them), from the
    // file's first bytes, four times more each round until they hold the
    // first scan's header.
    jpeg::Reading reading;
    for (qint64 length = headLength;; length *= 4) {
        const qint64 taken = std::min(length, size);
        reading = jpeg::read(taken <= bytes.head().size() ? bytes.head().left(taken) : bytes.at(0, taken), jpeg::ReadTo::FirstScan);
        if (reading.scanReached || reading.imageEnd >= 0 || taken >= size || taken >= jpegHeaderLimit)
            break;
    }
    if (!reading.scanReached || !reading.frame || reading.frame->size.isEmpty()) {
        p.damaged = true;
        return;
    }
    const jpeg::Frame &frame = *reading.frame;
    p.depth = frame.precision;
    p.storedSize = frame.size;
    const qsizetype components = frame.sampling.size();
    p.colorModel = components == 1 ? QStringLiteral("Gray") : components == 4 ? QStringLiteral("CMYK") : QStringLiteral("RGB");
    QList<QByteArray> app1;
    for (const jpeg::Segment &segment : reading.metadata)
        if (segment.marker == 0xe1)
            app1.append(segment.payload);
    p.orientation = jpegExifOrientation(app1);
    if (frame.progressive()) {
        // libjpeg's whole-picture coefficient arrays: each component's blocks
        // rounded up to its own factors, 64 coefficients of two bytes a block.
        const QSize mcu = frame.mcuInBlocks();
        const auto ceilDiv = [](qint64 a, qint64 b) { return (a + b - 1) / b; };
        qint64 blocks = 0;
        for (const auto &[h, v] : frame.sampling) {
            const int hf = frame.sampling.size() > 1 ? h : 1, vf = frame.sampling.size() > 1 ? v : 1;
            const qint64 across = ceilDiv(ceilDiv(qint64(frame.size.width()) * hf, mcu.width()), 8);
            const qint64 down = ceilDiv(ceilDiv(qint64(frame.size.height()) * vf, mcu.height()), 8);
            blocks += ceilDiv(across, hf) * hf * ceilDiv(down, vf) * vf;
        }
        p.jpegCoefficientBytes = blocks * 64 * 2;
    }
    const qint64 scanStart = reading.firstScanData;
    // A whole JPEG ends with EOI after its scans. Look near the end of the file,
    // then a bounded way into the scan data, for files that carry trailing data
    // (a phone's motion photo); never through the whole of a huge file. A huge
    // file whose end is found only at its far end is not taken either: the
    // decoder would read all of it.
    const auto containsEoi = [](const QByteArray &data) {
        return data.contains(QByteArrayView("\xFF\xD9", 2));
    };
    const qint64 tailStart = std::max(scanStart, size - jpegEndSearchBytes);
    bool found = containsEoi(bytes.at(tailStart, size - tailStart)) && size <= jpegLargestFile;
    constexpr qint64 chunk = 1 << 20;
    const qint64 searchEnd = std::min(tailStart, scanStart + jpegScanSearchBytes);
    for (qint64 at = scanStart; at < searchEnd && !found; at += chunk) {
        // One byte of overlap catches a marker split across chunks.
        found = containsEoi(bytes.at(at, std::min(chunk + 1, size - at)));
    }
    if (!found) {
        p.damaged = true;
        return;
    }
    p.headerKnown = true;
}

// ---- PNG ----

void probePng(const Bytes &bytes, Probe &p)
{
    p.decoder = Decoder::Qt;
    p.qtFormat = "png";
    p.type = QStringLiteral("png");
    const qint64 size = bytes.size();
    const QByteArray ihdr = bytes.at(8, 25);
    if (ihdr.size() < 25 || !startsWith(ihdr, "IHDR", 4) || be32(ihdr.constData()) != 13) {
        p.damaged = true;
        return;
    }
    const quint32 width = be32(ihdr.constData() + 8);
    const quint32 height = be32(ihdr.constData() + 12);
    const int bitDepth = uchar(ihdr[16]);
    const int colorType = uchar(ihdr[17]);
    if (width == 0 || height == 0 || width > INT32_MAX || height > INT32_MAX) {
        p.damaged = true;
        return;
    }
    p.storedSize = QSize(int(width), int(height));
    p.depth = colorType == 3 ? 8 : bitDepth;
    p.colorModel = (colorType == 0 || colorType == 4) ? QStringLiteral("Gray") : QStringLiteral("RGB");
    p.hasAlpha = colorType == 4 || colorType == 6;

    static const QByteArray iend = QByteArray::fromHex("0000000049454e44ae426082");
    const bool endsWithIend = bytes.at(size - 12, 12) == iend;
    qint64 pos = 8;
    bool seenData = false;
    while (true) {
        const QByteArray chunk = bytes.at(pos, 8);
        if (chunk.size() < 8) {
            p.damaged = true;
            return;
        }
        const qint64 length = be32(chunk.constData());
        const QByteArray type = chunk.mid(4, 4);
        if (length > INT32_MAX || pos + 12 + length > size) {
            p.damaged = true;
            return;
        }
        if (type == "IDAT") {
            seenData = true;
            // The end chunk in its place at the end: the file is whole.
            if (endsWithIend)
                break;
        } else if (type == "eXIf" && !seenData) {
            p.orientation = exifOrientation(bytes.at(pos + 8, length));
        } else if (type == "tRNS") {
            p.hasAlpha = true;
        } else if (type == "IEND") {
            if (!seenData) {
                p.damaged = true;
                return;
            }
            break;
        }
        pos += 12 + length;
    }
    p.headerKnown = true;
}

// ---- GIF ----

void probeGif(const Bytes &bytes, Probe &p)
{
    p.decoder = Decoder::Qt;
    p.qtFormat = "gif";
    p.type = QStringLiteral("gif");
    // The blocks are walked through a window of the file, never the whole of
    // it in memory; of a larger file, its first part only (decoding it whole
    // would read every byte, whatever it holds).
    const qint64 size = std::min(bytes.size(), wholeFileLimit);
    constexpr qint64 windowBytes = 256 * 1024;
    QByteArray window;
    qint64 windowStart = -1;
    // The byte at pos, or -1 past the end.
    const auto byte = [&](qint64 pos) -> int {
        if (pos < 0 || pos >= size)
            return -1;
        if (windowStart < 0 || pos < windowStart || pos >= windowStart + window.size()) {
            windowStart = pos;
            window = bytes.at(pos, std::min(windowBytes, size - pos));
            if (window.isEmpty())
                return -1;
        }
        return uchar(window[pos - windowStart]);
    };
    const auto le16At = [&](qint64 pos) { return std::max(0, byte(pos)) | (std::max(0, byte(pos + 1)) << 8); };
    if (size < 13) {
        p.damaged = true;
        return;
    }
    p.storedSize = QSize(le16At(6), le16At(8));
    qint64 pos = 13;
    const int packed = byte(10);
    if (packed & 0x80)
        pos += 3 * (qint64(1) << ((packed & 7) + 1));
    const auto skipSubBlocks = [&](qint64 at) -> qint64 {
        while (at < size) {
            const int n = byte(at);
            if (n < 0)
                return -1;
            at += 1 + n;
            if (n == 0)
                return at <= size ? at : -1;
        }
        return -1;
    };
    int frames = 0;
    bool transparent = false;
    while (pos < size) {
        const int block = byte(pos);
        if (block == 0x3B)
            break;
        if (block == 0x21) {
            if (pos + 2 > size)
                break;
            const int label = byte(pos + 1);
            if (label == 0xF9 && frames == 0 && pos + 4 < size)
                transparent = (byte(pos + 3) & 1) != 0;
            const qint64 next = skipSubBlocks(pos + 2);
            if (next < 0)
                break;
            pos = next;
        } else if (block == 0x2C) {
            if (pos + 10 > size)
                break;
            if (frames == 0 && p.storedSize.isEmpty())
                p.storedSize = QSize(le16At(pos + 5), le16At(pos + 7));
            const int local = byte(pos + 9);
            qint64 at = pos + 10;
            if (local & 0x80)
                at += 3 * (qint64(1) << ((local & 7) + 1));
            at += 1;  // LZW minimum code size
            if (at > size)
                break;
            const qint64 next = skipSubBlocks(at);
            if (next < 0)
                break;
            ++frames;
            pos = next;
        } else {
            break;
        }
    }
    if (frames == 0 || p.storedSize.isEmpty()) {
        p.damaged = true;
        return;
    }
    p.frameCount = frames;
    p.depth = 8;
    p.colorModel = QStringLiteral("RGB");
    p.hasAlpha = transparent;
    p.headerKnown = true;
}

// ---- WebP ----

void probeWebp(const Bytes &bytes, Probe &p)
{
    p.decoder = Decoder::Qt;
    p.qtFormat = "webp";
    p.type = QStringLiteral("webp");
    const QByteArray head = bytes.head();
    const qint64 riffEnd = qint64(le32(head.constData() + 4)) + 8;
    if (riffEnd > bytes.size()) {
        p.damaged = true;
        return;
    }
    qint64 pos = 12;
    int frames = 0;
    bool haveSize = false;
    while (pos + 8 <= riffEnd) {
        const QByteArray chunk = bytes.at(pos, 8);
        if (chunk.size() < 8)
            break;
        const qint64 length = le32(chunk.constData() + 4);
        const QByteArray type = chunk.left(4);
        if (pos + 8 + length > riffEnd) {
            p.damaged = true;
            return;
        }
        if (type == "VP8X") {
            const QByteArray x = bytes.at(pos + 8, 10);
            if (x.size() == 10) {
                p.hasAlpha = (uchar(x[0]) & 0x10) != 0;
                const int w = 1 + int(uchar(x[4]) | (uchar(x[5]) << 8) | (uchar(x[6]) << 16));
                const int h = 1 + int(uchar(x[7]) | (uchar(x[8]) << 8) | (uchar(x[9]) << 16));
                p.storedSize = QSize(w, h);
                haveSize = true;
            }
        } else if (type == "VP8 " && !haveSize) {
            const QByteArray v = bytes.at(pos + 8, 10);
            if (v.size() == 10 && startsWithBytes(v, {0x9d, 0x01, 0x2a}, 3)) {
                p.storedSize = QSize(le16(v.constData() + 6) & 0x3fff, le16(v.constData() + 8) & 0x3fff);
                haveSize = true;
            }
        } else if (type == "VP8L" && !haveSize) {
            const QByteArray v = bytes.at(pos + 8, 5);
            if (v.size() == 5 && uchar(v[0]) == 0x2f) {
                const quint32 bits = le32(v.constData() + 1);
                p.storedSize = QSize(int(bits & 0x3fff) + 1, int((bits >> 14) & 0x3fff) + 1);
                p.hasAlpha = ((bits >> 28) & 1) != 0;
                haveSize = true;
            }
        } else if (type == "EXIF") {
            QByteArray exif = bytes.at(pos + 8, length);
            if (startsWith(exif, "Exif"))
                exif = exif.mid(6);
            p.orientation = exifOrientation(exif);
        } else if (type == "ANMF") {
            ++frames;
        }
        pos += 8 + length + (length & 1);
    }
    if (!haveSize || p.storedSize.isEmpty()) {
        p.damaged = true;
        return;
    }
    p.frameCount = std::max(1, frames);
    p.depth = 8;
    p.colorModel = QStringLiteral("RGB");
    p.headerKnown = true;
}

// ---- BMP ----

void probeBmp(const Bytes &bytes, Probe &p)
{
    p.decoder = Decoder::Qt;
    p.qtFormat = "bmp";
    p.type = QStringLiteral("bmp");
    const QByteArray h = bytes.at(0, 70);
    if (h.size() < 26) {
        p.damaged = true;
        return;
    }
    const qint64 dataOffset = le32(h.constData() + 10);
    const quint32 dib = le32(h.constData() + 14);
    qint64 width = 0, height = 0;
    int bpp = 0;
    quint32 compression = 0;
    if (dib == 12) {
        width = le16(h.constData() + 18);
        height = le16(h.constData() + 20);
        bpp = le16(h.constData() + 24);
    } else if (dib >= 40 && h.size() >= 34) {
        width = qint32(le32(h.constData() + 18));
        height = qint32(le32(h.constData() + 22));
        bpp = le16(h.constData() + 28);
        compression = le32(h.constData() + 30);
        if (dib >= 56 && h.size() >= 70 && compression == 3)
            p.hasAlpha = le32(h.constData() + 66) != 0;
    } else {
        p.damaged = true;
        return;
    }
    height = std::abs(height);
    if (width <= 0 || height == 0 || width > 65535 || height > 65535) {
        p.damaged = true;
        return;
    }
    p.storedSize = QSize(int(width), int(height));
    p.depth = 8;
    p.colorModel = QStringLiteral("RGB");
    if (compression == 0 || compression == 3) {
        const qint64 stride = ((width * bpp + 31) / 32) * 4;
        if (dataOffset + stride * height > bytes.size()) {
            p.damaged = true;
            return;
        }
        p.headerKnown = true;
    }
}

// ---- TIFF and camera raw ----

void probeTiff(const Bytes &bytes, Probe &p, const QString &extension)
{
    const ReadAt read = [&bytes](qint64 o, qint64 n) { return bytes.at(o, n); };
    const TiffSummary s = readTiffFirstDirectory(read, bytes.size());
    const QByteArray head = bytes.head();
    const bool cr2 = startsWith(head, "CR", 8);
    if (s.dng || cr2 || isRawExtension(extension)) {
        p.decoder = Decoder::Raw;
        p.type = QStringLiteral("raw");
        // Camera files are TIFF structures too: everything they point at must be there.
        const qint64 end = s.ok && !s.bigTiff ? tiffEverythingEnd(read, bytes.size()) : -1;
        p.damaged = end < 0 || end > bytes.size();
        p.rawByName = !s.dng && !cr2;
        return;
    }
    p.decoder = Decoder::Qt;
    p.qtFormat = "tiff";
    p.type = QStringLiteral("tiff");
    if (!s.ok) {
        p.damaged = true;
        return;
    }
    if (s.bigTiff)
        return;  // decoding decides
    if (s.size.isEmpty() || s.dataEnd < 0 || s.dataEnd > bytes.size() || s.valuesEnd > bytes.size()) {
        p.damaged = true;
        return;
    }
    p.storedSize = s.size;
    p.orientation = s.orientation;
    p.depth = s.bitsPerSample;
    p.colorModel = tiffColorModel(s.photometric);
    p.hasAlpha = s.alpha;
    p.headerKnown = true;
}

bool isTiffHeader(const QByteArray &head)
{
    return startsWithBytes(head, {'I', 'I', 42, 0}) || startsWithBytes(head, {'M', 'M', 0, 42})
        || startsWithBytes(head, {'I', 'I', 43, 0}) || startsWithBytes(head, {'M', 'M', 0, 43});
}

bool isRawSignature(const QByteArray &head)
{
    return startsWith(head, "FUJIFILM") || startsWithBytes(head, {0, 'M', 'R', 'M'})
        || startsWith(head, "IIRO") || startsWith(head, "IIRS") || startsWith(head, "MMOR")
        || startsWithBytes(head, {'I', 'I', 'U', 0}) || startsWith(head, "FOVb")
        || (startsWithBytes(head, {'I', 'I', 0x1a, 0, 0, 0}) && startsWith(head, "HEAPCCDR", 6));
}

// An ISO base media file whose major brand libheif decodes: HEIC ("heic",
// "heix") or AVIF. Other brands (image sequences, "mif1" alone) are not
// pictures read here.
bool isHeifSignature(const QByteArray &head)
{
    // The head is the start of the file: its first box may reach past it.
    const std::optional<IsoBox> first = isoBoxAt(head, 0, std::numeric_limits<qint64>::max());
    if (!first || first->type != "ftyp" || first->body + 4 > head.size())
        return false;
    const QByteArray brand = head.mid(first->body, 4);
    return brand == "heic" || brand == "heix" || brand == "avif";
}

// ---- the signature-less formats ----

bool looksLikeTga(const QByteArray &h)
{
    if (h.size() < 18)
        return false;
    const int mapType = uchar(h[1]);
    const int imageType = uchar(h[2]);
    const int depth = uchar(h[16]);
    const int width = le16(h.constData() + 12);
    const int height = le16(h.constData() + 14);
    const bool typeOk = imageType == 1 || imageType == 2 || imageType == 3 || imageType == 9 || imageType == 10 || imageType == 11;
    const bool depthOk = depth == 8 || depth == 15 || depth == 16 || depth == 24 || depth == 32;
    return (mapType == 0 || mapType == 1) && typeOk && depthOk && width > 0 && height > 0;
}

bool pictVersionAt(const QByteArray &h, qsizetype at)
{
    return startsWithBytes(h, {0x00, 0x11, 0x02, 0xFF}, at) || startsWithBytes(h, {0x11, 0x01}, at);
}

bool isPnm(const QByteArray &h)
{
    return h.size() >= 3 && h[0] == 'P' && h[1] >= '1' && h[1] <= '6'
        && (h[2] == ' ' || h[2] == '\n' || h[2] == '\r' || h[2] == '\t' || h[2] == '#');
}

bool isXbm(const QByteArray &h)
{
    const QByteArray start = h.left(1024);
    return start.trimmed().startsWith("#define") && start.contains("_width");
}

bool isSvg(const QByteArray &h)
{
    QByteArray start = h.left(4096).trimmed();
    if (start.startsWith("\xEF\xBB\xBF"))
        start = start.mid(3);
    return (start.startsWith("<?xml") || start.startsWith("<svg") || start.startsWith("<!DOCTYPE svg")
            || start.startsWith("<!--"))
        && start.contains("<svg");
}

// An XBM file holds its width, height and all the bytes they call for.
bool xbmComplete(const ByteSource &source)
{
    const QByteArray text = source.readAll(16 * 1024 * 1024);
    if (text.isEmpty())
        return false;
    const auto defined = [&text](const char *suffix) -> qint64 {
        const qsizetype at = text.indexOf(suffix);
        if (at < 0)
            return -1;
        qsizetype pos = at + qsizetype(std::strlen(suffix));
        while (pos < text.size() && (text[pos] == ' ' || text[pos] == '\t'))
            ++pos;
        qint64 value = 0;
        int digits = 0;
        while (pos < text.size() && text[pos] >= '0' && text[pos] <= '9' && digits < 9) {
            value = value * 10 + (text[pos++] - '0');
            ++digits;
        }
        return digits > 0 ? value : -1;
    };
    const qint64 width = defined("_width"), height = defined("_height");
    if (width <= 0 || height <= 0)
        return false;
    const qint64 needed = (width + 7) / 8 * height;
    const qsizetype open = text.indexOf('{');
    const qsizetype close = text.lastIndexOf('}');
    if (open < 0 || close < open)
        return false;
    return text.mid(open, close - open).count("0x") + text.mid(open, close - open).count("0X") >= needed;
}

// A Photoshop file's sections and merged image data lie inside the file.
bool psdComplete(const ByteSource &source, QSize *size)
{
    const qint64 total = source.size();
    const QByteArray h = source.read(0, 26);
    if (h.size() < 26)
        return false;
    const bool big = be16(h.constData() + 4) == 2;
    const qint64 channels = be16(h.constData() + 12);
    const qint64 height = be32(h.constData() + 14);
    const qint64 width = be32(h.constData() + 18);
    const int depth = be16(h.constData() + 22);
    if (channels < 1 || channels > 56 || width < 1 || height < 1 || width > 300000 || height > 300000
        || (depth != 1 && depth != 8 && depth != 16 && depth != 32))
        return false;
    *size = QSize(int(width), int(height));
    qint64 pos = 26;
    for (int section = 0; section < 3; ++section) {
        const bool wide = big && section == 2;
        const QByteArray length = source.read(pos, wide ? 8 : 4);
        if (length.size() < (wide ? 8 : 4))
            return false;
        const qint64 n = wide ? (qint64(be32(length.constData())) << 32) | be32(length.constData() + 4) : be32(length.constData());
        pos += (wide ? 8 : 4) + n;
        if (n < 0 || pos > total)
            return false;
    }
    const QByteArray compression = source.read(pos, 2);
    if (compression.size() < 2)
        return false;
    pos += 2;
    const int method = be16(compression.constData());
    const qint64 rowBytes = depth == 1 ? (width + 7) / 8 : width * (depth / 8);
    if (method == 0)
        return pos + rowBytes * height * channels <= total;
    if (method == 1) {
        const qint64 rows = height * channels;
        const int entry = big ? 4 : 2;
        const QByteArray table = source.read(pos, rows * entry);
        if (table.size() < rows * entry)
            return false;
        qint64 data = 0;
        for (qint64 i = 0; i < rows; ++i)
            data += big ? be32(table.constData() + i * 4) : be16(table.constData() + i * 2);
        return pos + rows * entry + data <= total;
    }
    return pos < total;  // zip: ImageMagick checks the stream
}

// MacPaint pixels: 720 rows of 72 bytes in PackBits runs, all present.
bool macPaintComplete(const ByteSource &source, qint64 start)
{
    const QByteArray data = source.read(start, source.size() - start);
    qint64 produced = 0;
    qsizetype at = 0;
    while (produced < 720 * 72) {
        if (at >= data.size())
            return false;
        const int n = uchar(data[at++]);
        if (n < 128) {
            produced += n + 1;
            at += n + 1;
        } else if (n > 128) {
            produced += 257 - n;
            at += 1;
        }
        if (at > data.size())
            return false;
    }
    return true;
}

// SGI: verbatim rows, or run-length rows whose tables point inside the file.
bool sgiComplete(const ByteSource &source, QSize *size)
{
    const QByteArray h = source.read(0, 512);
    if (h.size() < 512)
        return false;
    const int storage = uchar(h[2]);
    const int bytesPerChannel = uchar(h[3]);
    const qint64 width = be16(h.constData() + 6), height = be16(h.constData() + 8);
    qint64 channels = be16(h.constData() + 10);
    const int dimension = be16(h.constData() + 4);
    if (dimension < 3)
        channels = 1;
    if (width < 1 || height < 1 || channels < 1 || (bytesPerChannel != 1 && bytesPerChannel != 2))
        return false;
    *size = QSize(int(width), int(height));
    if (storage == 0)
        return 512 + width * height * channels * bytesPerChannel <= source.size();
    const qint64 rows = height * channels;
    const QByteArray tables = source.read(512, rows * 8);
    if (tables.size() < rows * 8)
        return false;
    for (qint64 i = 0; i < rows; ++i) {
        const qint64 start = be32(tables.constData() + i * 4);
        const qint64 length = be32(tables.constData() + (rows + i) * 4);
        if (start + length > source.size())
            return false;
    }
    return true;
}

// OpenEXR (scan lines): the last chunk that the offset table names lies inside the file.
bool exrComplete(const ByteSource &source, QSize *size)
{
    const QByteArray head = source.read(0, 64 * 1024);
    qsizetype pos = 8;
    int compression = -1;
    qint64 yMin = 0, yMax = -1, xMin = 0, xMax = -1;
    bool tiled = false;
    while (true) {
        const qsizetype nameEnd = head.indexOf('\0', pos);
        if (nameEnd < 0)
            return false;
        if (nameEnd == pos) {  // the empty name ends the header
            pos += 1;
            break;
        }
        const QByteArray name = head.mid(pos, nameEnd - pos);
        const qsizetype typeEnd = head.indexOf('\0', nameEnd + 1);
        if (typeEnd < 0 || typeEnd + 5 > head.size())
            return false;
        const qint64 length = le32(head.constData() + typeEnd + 1);
        const qsizetype value = typeEnd + 5;
        if (length < 0 || value + length > head.size())
            return false;
        if (name == "compression" && length >= 1)
            compression = uchar(head[value]);
        else if (name == "dataWindow" && length >= 16) {
            xMin = qint32(le32(head.constData() + value));
            yMin = qint32(le32(head.constData() + value + 4));
            xMax = qint32(le32(head.constData() + value + 8));
            yMax = qint32(le32(head.constData() + value + 12));
        } else if (name == "tiles")
            tiled = true;
        pos = value + length;
    }
    if (xMax < xMin || yMax < yMin)
        return false;
    *size = QSize(int(xMax - xMin + 1), int(yMax - yMin + 1));
    if (tiled || (uchar(head[5]) & 0x12))
        return pos < source.size();  // tiled or multi-part: OpenEXR checks it
    int linesPerChunk;
    switch (compression) {
    case 0: case 1: case 2: linesPerChunk = 1; break;
    case 3: case 5: linesPerChunk = 16; break;
    case 4: case 6: case 7: case 8: linesPerChunk = 32; break;
    case 9: linesPerChunk = 256; break;
    default: return false;
    }
    const qint64 chunks = (yMax - yMin + linesPerChunk) / linesPerChunk;
    const QByteArray table = source.read(pos, chunks * 8);
    if (table.size() < chunks * 8)
        return false;
    qint64 last = 0;
    for (qint64 i = 0; i < chunks; ++i) {
        const qint64 offset = qint64(le32(table.constData() + i * 8)) | (qint64(le32(table.constData() + i * 8 + 4)) << 32);
        if (offset <= 0 || offset >= source.size())
            return false;
        last = std::max(last, offset);
    }
    const QByteArray chunk = source.read(last, 8);
    return chunk.size() == 8 && last + 8 + qint64(le32(chunk.constData() + 4)) <= source.size();
}

} // namespace

bool isRawExtension(const QString &e)
{
    static const QStringList raw = {
        QStringLiteral("dng"), QStringLiteral("mos"), QStringLiteral("cr2"), QStringLiteral("cr3"), QStringLiteral("fff"),
        QStringLiteral("nef"), QStringLiteral("nrw"), QStringLiteral("pef"), QStringLiteral("sr2"), QStringLiteral("srf"),
        QStringLiteral("3fr"), QStringLiteral("arw"), QStringLiteral("crw"), QStringLiteral("dcr"), QStringLiteral("erf"),
        QStringLiteral("gpr"), QStringLiteral("iiq"), QStringLiteral("kdc"), QStringLiteral("mdc"), QStringLiteral("mef"),
        QStringLiteral("mrw"), QStringLiteral("orf"), QStringLiteral("raf"), QStringLiteral("rwl"), QStringLiteral("srw"),
        QStringLiteral("x3f"), QStringLiteral("rw2"), QStringLiteral("raw"), QStringLiteral("k25"), QStringLiteral("dcs")};
    return raw.contains(e);
}

namespace {

// JPEG, PNG, GIF, WebP, TIFF, camera raw and HEIF, known by their first bytes.
// False when none of them matched; p is then untouched.
bool probePhotoFormats(const Bytes &bytes, const QString &ext, Probe &p)
{
    const QByteArray &h = bytes.head();
    if (startsWithBytes(h, {0xFF, 0xD8, 0xFF})) {
        probeJpeg(bytes, p);
    } else if (startsWithBytes(h, {0x89, 'P', 'N', 'G', 0x0D, 0x0A, 0x1A, 0x0A})) {
        probePng(bytes, p);
    } else if (startsWith(h, "GIF87a") || startsWith(h, "GIF89a")) {
        probeGif(bytes, p);
    } else if (startsWith(h, "RIFF") && startsWith(h, "WEBP", 8) && h.size() >= 16) {
        probeWebp(bytes, p);
    } else if (isTiffHeader(h)) {
        probeTiff(bytes, p, ext);
    } else if (isRawSignature(h)) {
        p.decoder = Decoder::Raw;
        p.type = QStringLiteral("raw");
    } else if (isHeifSignature(h)) {
        p.decoder = Decoder::Heif;
        const QByteArray brand = h.mid(8, 4);
        p.type = brand.startsWith("avi") ? QStringLiteral("avif")
               : (brand == "mif1" || brand == "msf1") ? QStringLiteral("heif") : QStringLiteral("heic");
    } else {
        return false;
    }
    return true;
}

// PSD, SGI, Radiance HDR, OpenEXR and JPEG 2000, known by their first bytes; ImageMagick reads them.
// False when none of them matched; p is then untouched.
bool probeMagickSignatures(const ByteSource &source, const Bytes &bytes, Probe &p)
{
    const QByteArray &h = bytes.head();
    if (startsWith(h, "8BPS") && h.size() >= 6 && (h[5] == 1 || h[5] == 2)) {
        p.decoder = Decoder::Magick;
        p.magick = "PSD";
        p.type = h[5] == 2 ? QStringLiteral("psb") : QStringLiteral("psd");
        p.damaged = !psdComplete(source, &p.storedSize);
    } else if (startsWithBytes(h, {0x01, 0xDA}) && h.size() >= 4 && (h[2] == 0 || h[2] == 1)) {
        p.decoder = Decoder::Magick;
        p.magick = "SGI";
        p.type = QStringLiteral("sgi");
        p.damaged = !sgiComplete(source, &p.storedSize);
    } else if (startsWith(h, "#?RADIANCE") || startsWith(h, "#?RGBE") || startsWith(h, "#?XYZE")) {
        p.decoder = Decoder::Magick;
        p.magick = "HDR";
        p.type = QStringLiteral("hdr");
    } else if (startsWithBytes(h, {0x76, 0x2F, 0x31, 0x01})) {
        p.decoder = Decoder::Magick;
        p.magick = "EXR";
        p.type = QStringLiteral("exr");
        p.damaged = !exrComplete(source, &p.storedSize);
    } else if (startsWithBytes(h, {0x00, 0x00, 0x00, 0x0C, 'j', 'P', ' ', ' ', 0x0D, 0x0A, 0x87, 0x0A})) {
        p.decoder = Decoder::Magick;
        p.magick = "JP2";
        p.type = QStringLiteral("jp2");
    } else if (startsWithBytes(h, {0xFF, 0x4F, 0xFF, 0x51})) {
        p.decoder = Decoder::Magick;
        p.magick = "J2K";
        p.type = QStringLiteral("jp2");
    } else {
        return false;
    }
    return true;
}

// ICNS, ICO and CUR, BMP, PNM, XBM and SVG, known by their first bytes; Qt reads them.
// False when none of them matched; p is then untouched.
bool probeQtSignatures(const ByteSource &source, const Bytes &bytes, Probe &p)
{
    const QByteArray &h = bytes.head();
    if (startsWith(h, "icns")) {
        p.decoder = Decoder::Qt;
        p.qtFormat = "icns";
        p.type = QStringLiteral("icns");
    } else if ((startsWithBytes(h, {0, 0, 1, 0}) || startsWithBytes(h, {0, 0, 2, 0})) && h.size() >= 6
               && le16(h.constData() + 4) > 0) {
        p.decoder = Decoder::Qt;
        p.qtFormat = h[2] == 1 ? "ico" : "cur";
        p.type = QStringLiteral("ico");
    } else if (startsWith(h, "BM") && h.size() >= 18) {
        probeBmp(bytes, p);
    } else if (isPnm(h)) {
        p.decoder = Decoder::Qt;
        p.qtFormat = "pbm";
        p.type = QStringLiteral("pbm");
    } else if (isXbm(h)) {
        p.decoder = Decoder::Qt;
        p.qtFormat = "xbm";
        p.type = QStringLiteral("xbm");
        p.damaged = !xbmComplete(source);
    } else if (isSvg(h)) {
        p.decoder = Decoder::Qt;
        p.qtFormat = "svg";
        p.type = QStringLiteral("svg");
    } else {
        return false;
    }
    return true;
}

// True when ImageMagick may hand PostScript-like files to ghostscript here.
bool postscriptReadable()
{
    static const bool readable = !QStandardPaths::findExecutable(QStringLiteral("gs")).isEmpty();
    return readable;
}

// PostScript and PDF, PICT, TGA and MacPaint, where the name may decide, and camera raw known by its name only.
// False when none of them matched; p is then untouched.
bool probeLegacyFormats(const ByteSource &source, const Bytes &bytes, const QString &ext, Probe &p)
{
    const QByteArray &h = bytes.head();
    const qint64 size = source.size();
    if ((startsWith(h, "%!PS") || startsWithBytes(h, {0xC5, 0xD0, 0xD3, 0xC6}) || startsWith(h, "%PDF"))
               && postscriptReadable()) {
        p.decoder = Decoder::Magick;
        if (startsWith(h, "%PDF"))
            p.magick = "PDF";
        else if (h[0] != '%' || h.left(40).contains("EPSF"))
            p.magick = "EPS";
        else
            p.magick = "PS";
        p.type = QString::fromLatin1(QByteArray(p.magick.c_str()).toLower());
    } else if (pictVersionAt(h, 522) && size > 530) {
        p.decoder = Decoder::Magick;
        p.magick = "PICT";
        p.type = QStringLiteral("pict");
    } else if (pictVersionAt(h, 10) && size > 18
               && (ext == QLatin1String("pict") || ext == QLatin1String("pct") || ext == QLatin1String("pic"))) {
        p.decoder = Decoder::Magick;
        p.magick = "PICT";
        p.magickPadding = 512;
        p.type = QStringLiteral("pict");
    } else if (looksLikeTga(h)
               && ((size > 44 && startsWith(bytes.at(size - 18, 18), "TRUEVISION-XFILE.")) || ext == QLatin1String("tga")
                   || ext == QLatin1String("icb") || ext == QLatin1String("vda") || ext == QLatin1String("vst"))) {
        // Recognised by its version 2 footer, else by its name. ImageMagick reads
        // it: Qt 6.4's reader ignores the row order and turns most files upside down.
        p.decoder = Decoder::Magick;
        p.magick = "TGA";
        p.type = QStringLiteral("tga");
    } else if ((ext == QLatin1String("pntg") || ext == QLatin1String("mac")) || startsWith(h, "PNTG", 65)) {
        // MacPaint: a 512-byte header starting with version 0, 2 or 3, often
        // wrapped in a 128-byte MacBinary header.
        const qint64 skip = startsWith(h, "PNTG", 65) ? 128 : 0;
        if (size >= skip + 512 + 720 * 2 && startsWithBytes(h, {0, 0, 0}, skip) && h.size() > skip + 3
            && (h[skip + 3] == 0 || h[skip + 3] == 2 || h[skip + 3] == 3)) {
            p.decoder = Decoder::Magick;
            p.magick = "MAC";
            p.magickOffset = skip;
            p.type = QStringLiteral("macpaint");
            p.damaged = !macPaintComplete(source, skip + 512);
        }
    } else if (isRawExtension(ext)) {
        // Camera formats without a signature of their own; LibRaw decides.
        p.decoder = Decoder::Raw;
        p.type = QStringLiteral("raw");
    } else {
        return false;
    }
    return true;
}

} // namespace

Probe probeFormat(const ByteSource &source, const QString &extensionHint)
{
    Probe p;
    if (!source.isOpen() || source.size() == 0)
        return p;
    const QString ext = extensionHint.toLower();
    const Bytes bytes(source);
    if (!probePhotoFormats(bytes, ext, p) && !probeMagickSignatures(source, bytes, p)
        && !probeQtSignatures(source, bytes, p))
        probeLegacyFormats(source, bytes, ext, p);
    return p;
}

} // namespace lg::image
