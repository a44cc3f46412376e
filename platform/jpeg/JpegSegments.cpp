// The markers and segments of a JPEG file, and the Exif orientation writer.
#include "platform/jpeg/JpegSegments.h"

#include "platform/base/Exiv2Setup.h"
#include "platform/base/UprightXmp.h"
#include "platform/base/TiffStructure.h"
#include "platform/jpeg/JpegExif.h"

#include <QCryptographicHash>
#include <QRegularExpression>

#include <exiv2/exiv2.hpp>

#include <algorithm>
#include <cstring>
#include <vector>

namespace lg::jpeg {

namespace {

constexpr qsizetype maxPayload = 65533;  // a segment's length field counts itself
constexpr qsizetype maxExifBlock = maxPayload - 6;  // after "Exif\0\0"
const QByteArray xmpSignature("http://ns.adobe.com/xap/1.0/\0", 29);
const QByteArray extendedXmpSignature("http://ns.adobe.com/xmp/extension/\0", 35);
const QByteArray mpfSignature("MPF\0", 4);
const QByteArray adobeSignature("Adobe", 5);

inline unsigned at(const QByteArray &b, qsizetype i)
{
    return static_cast<unsigned char>(b[i]);
}

bool isMetadataMarker(unsigned marker)
{
    return (marker >= 0xe0 && marker <= 0xef) || marker == 0xfe;
}

// ---- TIFF-structured blocks ----

class Tiff
{
public:
    explicit Tiff(QByteArray &bytes) : m_b(bytes)
    {
        if (m_b.size() < 8)
            return;
        if (m_b.startsWith("II"))
            m_little = true;
        else if (m_b.startsWith("MM"))
            m_little = false;
        else
            return;
        m_ok = u16(2) == 42;
    }
    bool ok() const { return m_ok; }
    bool in(qsizetype offset, qsizetype length) const { return offset >= 0 && length >= 0 && offset + length <= m_b.size(); }
    quint32 u16(qsizetype o) const
    {
        return m_little ? at(m_b, o) | (at(m_b, o + 1) << 8) : (at(m_b, o) << 8) | at(m_b, o + 1);
    }
    quint32 u32(qsizetype o) const
    {
        return m_little ? u16(o) | (u16(o + 2) << 16) : (u16(o) << 16) | u16(o + 2);
    }
    void put16(qsizetype o, quint32 v)
    {
        if (m_little) { m_b[o] = char(v & 0xff); m_b[o + 1] = char((v >> 8) & 0xff); }
        else { m_b[o] = char((v >> 8) & 0xff); m_b[o + 1] = char(v & 0xff); }
    }
    void put32(qsizetype o, quint32 v)
    {
        if (m_little) { put16(o, v & 0xffff); put16(o + 2, v >> 16); }
        else { put16(o, v >> 16); put16(o + 2, v & 0xffff); }
    }
    // Entry positions of the directory at offset; empty when it does not fit.
    QList<qsizetype> entries(qsizetype ifd) const
    {
        QList<qsizetype> list;
        if (!in(ifd, 2))
            return list;
        const qsizetype count = u16(ifd);
        if (!in(ifd + 2, count * 12 + 4))
            return list;
        for (qsizetype i = 0; i < count; ++i)
            list.append(ifd + 2 + i * 12);
        return list;
    }
    qsizetype nextIfdField(qsizetype ifd) const { return ifd + 2 + qsizetype(u16(ifd)) * 12; }
    quint32 tag(qsizetype entry) const { return u16(entry); }
    quint32 type(qsizetype entry) const { return u16(entry + 2); }
    quint32 count(qsizetype entry) const { return u32(entry + 4); }
    // A single whole number of 0 or more, as stored in the entry: SHORT or
    // LONG, or SSHORT or SLONG, which exiftool, exiv2 and PIL read alike.
    std::optional<quint32> number(qsizetype entry) const
    {
        if (count(entry) != 1)
            return std::nullopt;
        switch (type(entry)) {
        case 3: return u16(entry + 8);
        case 4: return u32(entry + 8);
        case 8: if (const quint32 v = u16(entry + 8); v <= 0x7fff) return v; break;
        case 9: if (const quint32 v = u32(entry + 8); v <= 0x7fffffff) return v; break;
        default: break;
        }
        return std::nullopt;
    }
    // Whether the entry holds a number (see number) and value fits its type.
    bool fits(qsizetype entry, quint32 value) const
    {
        const quint32 type = this->type(entry);
        return number(entry) && value <= (type == 3 ? 0xffff : type == 8 ? 0x7fff : type == 9 ? 0x7fffffff : 0xffffffff);
    }
    // Writes value where it fits; elsewhere nothing.
    void setNumber(qsizetype entry, quint32 value)
    {
        if (!fits(entry, value))
            return;
        if (type(entry) == 3 || type(entry) == 8)
            put16(entry + 8, value);
        else
            put32(entry + 8, value);
    }
    // The entry made one SHORT holding value, whatever it held before (a
    // value stored out of line is left where it was, no longer pointed at).
    void setSingleShort(qsizetype entry, quint32 value)
    {
        put16(entry + 2, 3);
        put32(entry + 4, 1);
        put16(entry + 8, value);
        put16(entry + 10, 0);
    }
    // How many bytes the entry's value takes (held in the entry itself when 4 or fewer).
    qint64 valueBytes(qsizetype entry) const { return qint64(image::tiffTypeSize(int(type(entry)))) * qint64(count(entry)); }

private:
    QByteArray &m_b;
    bool m_little = true;
    bool m_ok = false;
};

// The byte ranges [first, second) of a TIFF-structured block that its
// directories reachable from the first one take up: the header, each
// directory's entries, and each value stored out of line (a maker note's
// among them). A thumbnail's JPEG is pointed at, not a value: it is not here.
QList<QPair<qint64, qint64>> structureRanges(const Tiff &t)
{
    QList<QPair<qint64, qint64>> ranges {{0, 8}};
    QList<qsizetype> pending {qsizetype(t.u32(4))}, seen;
    while (!pending.isEmpty() && seen.size() < 64) {
        const qsizetype ifd = pending.takeFirst();
        const QList<qsizetype> entries = t.entries(ifd);
        if (ifd == 0 || seen.contains(ifd) || entries.isEmpty())
            continue;
        seen.append(ifd);
        const qsizetype next = t.nextIfdField(ifd);
        ranges.append({ifd, next + 4});
        if (const quint32 following = t.u32(next); following != 0 && seen.size() == 1)
            pending.append(qsizetype(following));  // the first directory's successor: the thumbnail's
        for (const qsizetype entry : entries) {
            const qint64 bytes = t.valueBytes(entry);
            const qint64 at = bytes > 4 ? qint64(t.u32(entry + 8)) : -1;
            if (bytes > 4)
                ranges.append({at, at + bytes});
            // Directories that entries point at: Exif, GPS, interoperability, sub-images.
            const quint32 tag = t.tag(entry);
            if ((tag == 0x8769 || tag == 0x8825 || tag == 0xa005 || tag == 0x014a)
                && (t.type(entry) == 4 || t.type(entry) == 13)) {
                if (bytes <= 4)
                    pending.append(qsizetype(t.u32(entry + 8)));
                else
                    for (qint64 i = 0; i < qint64(t.count(entry)) && i < 16 && t.in(at + i * 4, 4); ++i)
                        pending.append(qsizetype(t.u32(at + i * 4)));
            }
        }
    }
    return ranges;
}

} // namespace

QSize Frame::mcuInBlocks() const
{
    int maxH = 1, maxV = 1;
    if (sampling.size() > 1)
        for (const auto &[h, v] : sampling) {
            maxH = std::max(maxH, h);
            maxV = std::max(maxV, v);
        }
    return QSize(maxH, maxV);
}

qint64 Frame::blocks() const
{
    // Each component covers the picture at its factors over the largest (a
    // lone component covers it whole, whatever its factors say), in blocks
    // as libjpeg counts them: no padding to whole MCUs.
    int maxH = 1, maxV = 1;
    for (const auto &[h, v] : sampling) {
        maxH = std::max(maxH, h);
        maxV = std::max(maxV, v);
    }
    const auto ceilDiv = [](qint64 a, qint64 b) { return (a + b - 1) / b; };
    qint64 count = 0;
    for (const auto &[h, v] : sampling)
        count += ceilDiv(qint64(size.width()) * h, qint64(maxH) * 8) * ceilDiv(qint64(size.height()) * v, qint64(maxV) * 8);
    return count;
}

namespace {

// The scan data from at: counts what codes blocks into count (up to enough)
// and gives where the marker that ends it starts, or size when none does.
qsizetype scanData(const unsigned char *bytes, qsizetype size, qsizetype at, qint64 &count, qint64 enough)
{
    while (at < size && count < enough) {
        const void *found = std::memchr(bytes + at, 0xff, size_t(size - at));
        const qsizetype ff = found ? static_cast<const unsigned char *>(found) - bytes : size;
        count += ff - at;
        if (ff + 1 >= size)
            return size;
        const unsigned char next = bytes[ff + 1];
        if (next == 0x00) {
            ++count;  // a stuffed 0xFF data byte
            at = ff + 2;
        } else if (next >= 0xd0 && next <= 0xd7) {
            at = ff + 2;  // restart marker
        } else if (next == 0xff) {
            at = ff + 1;  // fill byte before a marker
        } else {
            return ff;
        }
    }
    return std::min(at, size);
}

void readFrame(const unsigned char *payload, qsizetype length, unsigned char marker, Reading &reading)
{
    if (length < 6)
        return;
    Frame frame;
    frame.marker = marker;
    frame.precision = payload[0];
    frame.size = QSize((payload[3] << 8) | payload[4], (payload[1] << 8) | payload[2]);
    const int components = payload[5];
    for (int c = 0; c < components && 6 + 3 * c + 3 <= length; ++c) {
        const int factors = payload[7 + 3 * c];
        frame.sampling.append({std::max(1, factors >> 4), std::max(1, factors & 15)});
    }
    reading.frame = frame;
}

void readQuantization(const unsigned char *payload, qsizetype length, Reading &reading)
{
    qsizetype p = 0;
    while (p < length) {
        const int precision = payload[p] >> 4, id = payload[p] & 15;
        const qsizetype tableBytes = 64 * (precision ? 2 : 1);
        if (p + 1 + tableBytes > length)
            return;
        if (id == 0) {
            std::array<int, 64> table {};
            for (int k = 0; k < 64; ++k)
                table[size_t(k)] = precision ? (payload[p + 1 + 2 * k] << 8) | payload[p + 2 + 2 * k] : payload[p + 1 + k];
            reading.luminanceTable = table;
        }
        p += 1 + tableBytes;
    }
}

} // namespace

Reading read(const QByteArray &jpeg, ReadTo to, qint64 enoughEntropyBytes)
{
    Reading reading;
    const auto *bytes = reinterpret_cast<const unsigned char *>(jpeg.constData());
    const qsizetype size = jpeg.size();
    if (size < 4 || bytes[0] != 0xff || bytes[1] != 0xd8)
        return reading;
    qsizetype p = 2;
    while (p + 1 < size && reading.entropyCodedBytes < enoughEntropyBytes) {
        if (bytes[p] != 0xff || bytes[p + 1] == 0x00) {
            // Stray bytes (a stuffed zero among them), as libjpeg passes them over.
            const qsizetype from = p;
            p += bytes[p] == 0xff ? 2 : 1;
            while (p + 1 < size && (bytes[p] != 0xff || bytes[p + 1] == 0x00))
                p += bytes[p] == 0xff ? 2 : 1;
            reading.strayBytes += p - from;
            continue;
        }
        const unsigned marker = bytes[p + 1];
        if (marker == 0xff) {
            ++p;  // fill byte
            continue;
        }
        if (marker == 0xd9) {
            reading.imageEnd = p + 2;
            break;
        }
        if (marker == 0x01 || (marker >= 0xd0 && marker <= 0xd8)) {
            p += 2;
            continue;
        }
        if (p + 4 > size) {
            reading.cutShort = true;
            break;
        }
        const qsizetype length = qsizetype(bytes[p + 2] << 8) | bytes[p + 3];
        if (length < 2 || p + 2 + length > size) {
            reading.cutShort = true;
            break;
        }
        const unsigned char *payload = bytes + p + 4;
        const qsizetype payloadLength = length - 2;
        if (isMetadataMarker(marker)) {
            if (reading.scanReached)
                reading.metadataAmongScans = true;
            else
                reading.metadata.append({static_cast<unsigned char>(marker), jpeg.mid(p + 4, payloadLength), p});
        } else if (reading.bodyStart < 0) {
            reading.bodyStart = p;
        }
        if (marker >= 0xc0 && marker <= 0xcf && marker != 0xc4 && marker != 0xc8 && marker != 0xcc && !reading.frame) {
            readFrame(payload, payloadLength, static_cast<unsigned char>(marker), reading);
            // A bit a block: what the claim needs to be backed.
            if (to == ReadTo::FrameBacked && reading.frame)
                enoughEntropyBytes = std::min(enoughEntropyBytes, std::max<qint64>(1, (reading.frame->blocks() + 7) / 8));
        } else if (marker == 0xc4)
            reading.huffmanTables.append({p + 4, payloadLength});
        else if (marker == 0xdb && !reading.scanReached)
            readQuantization(payload, payloadLength, reading);
        p += 2 + length;
        if (marker == 0xda) {
            if (!reading.scanReached)
                reading.firstScanData = p;
            reading.scanReached = true;
            if (to == ReadTo::FirstScan)
                break;
            p = scanData(bytes, size, p, reading.entropyCodedBytes, enoughEntropyBytes);
        }
    }
    return reading;
}

namespace {

std::optional<Layout> parsed(const QByteArray &jpeg, bool headerOnly)
{
    const Reading reading = read(jpeg, headerOnly ? ReadTo::FirstScan : ReadTo::End);
    // Stray bytes would be lost in a rewrite; metadata between the scans has
    // no place to go back to: such a file is not taken apart.
    if (reading.bodyStart < 0 || reading.cutShort || reading.strayBytes > 0 || reading.metadataAmongScans)
        return std::nullopt;
    if (headerOnly ? !reading.scanReached : reading.imageEnd < 0)
        return std::nullopt;
    return Layout {reading.metadata, reading.bodyStart, headerOnly ? -1 : reading.imageEnd};
}

} // namespace

std::optional<Layout> parse(const QByteArray &jpeg)
{
    return parsed(jpeg, false);
}

QList<Segment> headerSegments(const QByteArray &jpegStart)
{
    const std::optional<Layout> layout = parsed(jpegStart, true);
    return layout ? layout->metadata : QList<Segment>();
}

std::optional<QByteArray> assemble(const QList<Segment> &metadata, const QByteArray &body, const QByteArray &trailing)
{
    const std::optional<Layout> own = parse(body);
    if (!own)
        return std::nullopt;
    QList<Segment> segments = metadata;
    for (const Segment &segment : own->metadata) {
        if (segment.marker != 0xee || !segment.payload.startsWith(adobeSignature))
            continue;
        // The colour transform of the pixels written: it replaces the old one.
        bool replaced = false;
        for (Segment &old : segments)
            if (old.marker == 0xee && old.payload.startsWith(adobeSignature)) {
                old = segment;
                replaced = true;
                break;
            }
        if (!replaced)
            segments.append(segment);
    }
    QByteArray out;
    qsizetype size = 2 + (own->imageEnd - own->bodyStart) + trailing.size();
    for (const Segment &segment : segments) {
        if (segment.payload.size() > maxPayload)
            return std::nullopt;
        size += segment.payload.size() + 4;
    }
    out.reserve(size);
    out.append(char(0xff)).append(char(0xd8));
    for (const Segment &segment : segments)
        out.append(segmentBytes(segment.marker, segment.payload));
    // The body's own metadata segments may sit between its tables: leave them out.
    qsizetype p = own->bodyStart;
    for (const Segment &segment : own->metadata) {
        if (segment.position < p)
            continue;
        out.append(body.constData() + p, segment.position - p);
        p = segment.position + segment.payload.size() + 4;
    }
    out.append(body.constData() + p, own->imageEnd - p);
    out.append(trailing);
    return out;
}

bool isExif(const Segment &segment)
{
    return segment.marker == 0xe1 && image::isExifPayload(segment.payload);
}

QByteArray segmentBytes(unsigned char marker, const QByteArray &payload)
{
    QByteArray out;
    out.reserve(payload.size() + 4);
    out.append(char(0xff)).append(char(marker));
    const qsizetype length = payload.size() + 2;
    out.append(char((length >> 8) & 0xff)).append(char(length & 0xff));
    out.append(payload);
    return out;
}

bool isXmp(const Segment &segment)
{
    return segment.marker == 0xe1 && segment.payload.startsWith(xmpSignature);
}

bool isExtendedXmp(const Segment &segment)
{
    return segment.marker == 0xe1 && segment.payload.startsWith(extendedXmpSignature);
}

bool isMpf(const Segment &segment)
{
    return segment.marker == 0xe2 && segment.payload.startsWith(mpfSignature);
}

bool patchMpfIndex(QByteArray &jpeg, qsizetype imageEnd, qsizetype oldPosition, qsizetype oldImageEnd)
{
    const std::optional<Layout> layout = parse(jpeg);
    if (!layout)
        return false;
    for (const Segment &segment : layout->metadata) {
        if (!isMpf(segment))
            continue;
        // Offsets count from the MPF header, right after "MPF\0".
        const qsizetype header = segment.position + 4 + 4, oldHeader = oldPosition + 4 + 4;
        QByteArray tiff = segment.payload.mid(4);
        Tiff t(tiff);
        if (!t.ok())
            return false;
        const QList<qsizetype> entries = t.entries(t.u32(4));
        const bool listsPictures = std::any_of(entries.cbegin(), entries.cend(),
                                               [&t](qsizetype entry) { return t.tag(entry) == 0xb002; });
        if (!listsPictures)
            return true;  // an index without entries points nowhere
        const QList<QPair<qint64, qint64>> taken = structureRanges(t);
        for (const qsizetype entry : entries) {
            if (t.tag(entry) != 0xb002 || t.type(entry) != 7)
                continue;
            const qsizetype count = t.count(entry) / 16, table = t.u32(entry + 8);
            if (count == 0 || !t.in(table, count * 16))
                return false;
            // The table is this entry's value: one that shares bytes with a
            // directory or another value cannot be written without them.
            const qint64 tableEnd = qint64(table) + qint64(t.count(entry));
            const bool overlaps = std::any_of(taken.cbegin(), taken.cend(), [table, tableEnd](const QPair<qint64, qint64> &r) {
                return !(r.first == table && r.second == tableEnd) && r.first < tableEnd && table < r.second;
            });
            if (overlaps)
                return false;
            for (qsizetype i = 0; i < count; ++i) {
                const qsizetype e = table + i * 16;
                const qsizetype offset = t.u32(e + 8);
                if (offset == 0) {
                    t.put32(e + 4, quint32(imageEnd));  // the first picture: its new size
                    continue;
                }
                const qsizetype at = oldHeader + offset - oldImageEnd + imageEnd;
                if (oldHeader + offset < oldImageEnd || at - header <= 0)
                    return false;
                t.put32(e + 8, quint32(at - header));
            }
            std::memcpy(jpeg.data() + header, tiff.constData(), size_t(tiff.size()));
            return true;
        }
    }
    return false;
}

bool patchExif(QByteArray &tiffBytes, QSize pixelSize, const ThumbnailMaker &thumbnail, bool *thumbnailDropped)
{
    if (thumbnailDropped)
        *thumbnailDropped = false;
    Tiff t(tiffBytes);
    if (!t.ok())
        return false;
    const qsizetype ifd0 = t.u32(4);
    const QList<qsizetype> first = t.entries(ifd0);
    if (first.isEmpty())
        return false;
    for (const qsizetype entry : first) {
        switch (t.tag(entry)) {
        case 0x0112: t.setSingleShort(entry, 1); break;
        case 0x0100: if (t.number(entry)) t.setNumber(entry, quint32(pixelSize.width())); break;
        case 0x0101: if (t.number(entry)) t.setNumber(entry, quint32(pixelSize.height())); break;
        case 0x8769:
            if (const std::optional<quint32> exifIfd = t.number(entry)) {
                for (const qsizetype e : t.entries(*exifIfd)) {
                    if (t.tag(e) == 0xa002)
                        t.setNumber(e, quint32(pixelSize.width()));
                    else if (t.tag(e) == 0xa003)
                        t.setNumber(e, quint32(pixelSize.height()));
                }
            }
            break;
        default: break;
        }
    }
    // The thumbnail directory: its JPEG is replaced where it lies, never larger.
    const qsizetype nextField = t.nextIfdField(ifd0);
    const qsizetype ifd1 = t.u32(nextField);
    if (ifd1 == 0)
        return true;
    // Only the thumbnail goes: its directory is no longer linked, so that no
    // reader shows its old pixels beside the turned picture.
    const auto drop = [&t, nextField, thumbnailDropped] {
        t.put32(nextField, 0);
        if (thumbnailDropped)
            *thumbnailDropped = true;
        return true;
    };
    qsizetype offsetEntry = -1, lengthEntry = -1;
    bool strips = false;
    for (const qsizetype entry : t.entries(ifd1)) {
        const quint32 tag = t.tag(entry);
        if (tag == 0x0201)
            offsetEntry = entry;
        else if (tag == 0x0202)
            lengthEntry = entry;
        else if (tag == 0x0112)
            t.setSingleShort(entry, 1);
        else if (tag == 0x0111 || tag == 0x0117 || tag == 0x0144 || tag == 0x0145)
            strips = true;  // uncompressed (or TIFF-coded) pixels: nothing here turns them
    }
    if (strips)
        return drop();
    if (offsetEntry < 0 && lengthEntry < 0)
        return true;  // no thumbnail's pixels: nothing shows the old way round
    const std::optional<quint32> statedOffset = offsetEntry < 0 ? std::nullopt : t.number(offsetEntry);
    const std::optional<quint32> statedLength = lengthEntry < 0 ? std::nullopt : t.number(lengthEntry);
    if (!statedOffset || !statedLength || *statedLength == 0)
        return drop();  // a thumbnail that cannot be read here is not left unturned
    const qsizetype offset = qsizetype(*statedOffset), length = qsizetype(*statedLength);
    // A stated length that reaches into a directory or another tag's value
    // would have that overwritten, and one that runs past the block's end
    // cannot be turned where it lies: such a thumbnail goes, its bytes untouched.
    const QList<QPair<qint64, qint64>> taken = structureRanges(t);
    const bool overlaps = !t.in(offset, length)
                       || std::any_of(taken.cbegin(), taken.cend(), [offset, length](const QPair<qint64, qint64> &r) {
                              return r.first < offset + length && offset < r.second;
                          });
    // Where a larger thumbnail goes: where the old one starts, when nothing
    // but zeros follows it (it ends the block, as it mostly does), else after
    // the block's end; the block grows to what its segment holds at most.
    const qsizetype end = offset + length;
    const bool endsTheBlock = !overlaps
                           && std::all_of(tiffBytes.cbegin() + end, tiffBytes.cend(), [](char c) { return c == 0; })
                           && std::none_of(taken.cbegin(), taken.cend(), [offset](const QPair<qint64, qint64> &r) { return r.second > offset; });
    const qsizetype appendAt = tiffBytes.size() + (tiffBytes.size() & 1);
    const qsizetype room = std::max(length, maxExifBlock - (endsTheBlock ? offset : appendAt));
    const QByteArray made = overlaps || !thumbnail ? QByteArray() : thumbnail(tiffBytes.mid(offset, length), room);
    const qsizetype at = made.size() <= length ? offset : endsTheBlock ? offset : appendAt;
    const bool placed = !made.isEmpty() && made.size() <= room && t.fits(offsetEntry, quint32(at))
                     && t.fits(lengthEntry, quint32(made.size()));
    if (!placed)
        return drop();
    if (at == offset && made.size() <= length) {
        std::memcpy(tiffBytes.data() + offset, made.constData(), size_t(made.size()));
        std::memset(tiffBytes.data() + offset + made.size(), 0, size_t(length - made.size()));
    } else {
        if (at != offset)
            std::memset(tiffBytes.data() + offset, 0, size_t(length));  // the old thumbnail's bytes, no longer pointed at
        tiffBytes.resize(at, '\0');  // cut where the old one started, or padded to an even offset
        tiffBytes.append(made);
    }
    t.setNumber(offsetEntry, quint32(at));
    t.setNumber(lengthEntry, quint32(made.size()));
    return true;
}

std::optional<int> exifThumbnailOrientation(const QByteArray &tiffBytes)
{
    QByteArray copy = tiffBytes;  // Tiff reads through a reference it may write to
    Tiff t(copy);
    if (!t.ok())
        return std::nullopt;
    const qsizetype ifd0 = t.u32(4);
    if (t.entries(ifd0).isEmpty())
        return std::nullopt;
    const qsizetype ifd1 = t.u32(t.nextIfdField(ifd0));
    if (ifd1 == 0)
        return std::nullopt;
    for (const qsizetype entry : t.entries(ifd1))
        if (t.tag(entry) == 0x0112)
            if (const std::optional<quint32> value = t.number(entry); value && *value >= 1 && *value <= 8)
                return int(*value);
    return std::nullopt;
}

bool setExifOrientation(QByteArray &tiffBytes, int orientation, int thumbnailOrientation)
{
    Tiff t(tiffBytes);
    if (!t.ok())
        return false;
    const qsizetype ifd0 = t.u32(4);
    const QList<qsizetype> first = t.entries(ifd0);
    if (first.isEmpty())
        return false;
    // The thumbnail's own orientation, where it states one.
    if (const qsizetype ifd1 = t.u32(t.nextIfdField(ifd0)); ifd1 != 0)
        for (const qsizetype entry : t.entries(ifd1))
            if (t.tag(entry) == 0x0112)
                t.setSingleShort(entry, quint32(thumbnailOrientation > 0 ? thumbnailOrientation : orientation));
    // Every entry that states it (a file may list it twice; readers differ on which counts).
    bool stated = false;
    for (const qsizetype entry : first)
        if (t.tag(entry) == 0x0112) {
            t.setSingleShort(entry, quint32(orientation));
            stated = true;
        }
    if (stated)
        return true;
    // No orientation entry: the first directory is written again after the
    // block's end with one more entry, in tag order, and the header points at
    // it. Nothing else moves, so every offset in the block stays right.
    const qsizetype count = qsizetype(first.size());
    qsizetype at = tiffBytes.size() + (tiffBytes.size() & 1);
    tiffBytes.resize(at + 2 + (count + 1) * 12 + 4, '\0');
    Tiff grown(tiffBytes);
    grown.put16(at, quint32(count + 1));
    qsizetype out = at + 2;
    bool placed = false;
    for (const qsizetype entry : first) {
        if (!placed && grown.tag(entry) > 0x0112) {
            grown.put16(out, 0x0112);
            grown.setSingleShort(out, quint32(orientation));
            out += 12;
            placed = true;
        }
        std::memmove(tiffBytes.data() + out, tiffBytes.constData() + entry, 12);
        out += 12;
    }
    if (!placed) {
        grown.put16(out, 0x0112);
        grown.setSingleShort(out, quint32(orientation));
        out += 12;
    }
    grown.put32(out, grown.u32(grown.nextIfdField(ifd0)));
    grown.put32(4, quint32(at));
    return true;
}

QByteArray newExifBlock(const NewExif &exif)
{
    // Big-endian ("MM"): the first directory at 8, the Exif directory after
    // it, then the two resolutions' values.
    constexpr quint32 ifd0 = 8, ifd0Entries = 6, exifIfd = ifd0 + 2 + ifd0Entries * 12 + 4, exifEntries = 6;
    constexpr quint32 values = exifIfd + 2 + exifEntries * 12 + 4;
    QByteArray bytes(qsizetype(values + 16), '\0');
    bytes[0] = 'M';
    bytes[1] = 'M';
    Tiff t(bytes);
    t.put16(2, 42);
    t.put32(4, ifd0);
    const auto entry = [&t](quint32 at, quint32 tag, quint32 type, quint32 count) {
        t.put16(at, tag);
        t.put16(at + 2, type);
        t.put32(at + 4, count);
        return at + 8;  // where the value or its offset goes
    };
    t.put16(ifd0, ifd0Entries);
    quint32 e = ifd0 + 2;
    t.put16(entry(e, 0x0112, 3, 1), quint32(exif.orientation));
    t.put32(entry(e += 12, 0x011a, 5, 1), values);         // XResolution
    t.put32(entry(e += 12, 0x011b, 5, 1), values + 8);     // YResolution
    t.put16(entry(e += 12, 0x0128, 3, 1), quint32(exif.resolutionUnit));
    t.put16(entry(e += 12, 0x0213, 3, 1), 1);              // YCbCrPositioning: centred
    t.put32(entry(e += 12, 0x8769, 4, 1), exifIfd);
    t.put32(e + 12, 0);                                     // no further directory
    // The Exif directory, in tag order: what the Exif standard asks of every
    // JPEG's (versions, how the components are stored, colour space, the
    // compressed picture's dimensions).
    t.put16(exifIfd, exifEntries);
    e = exifIfd + 2;
    bytes.replace(entry(e, 0x9000, 7, 4), 4, "0232");      // ExifVersion
    // ComponentsConfiguration: Y, Cb, Cr (a grey picture: Y only).
    bytes.replace(entry(e += 12, 0x9101, 7, 4), 4, exif.components == 1 ? QByteArray("\1\0\0\0", 4) : QByteArray("\1\2\3\0", 4));
    bytes.replace(entry(e += 12, 0xa000, 7, 4), 4, "0100"); // FlashpixVersion
    // ColorSpace: sRGB, or uncalibrated where an embedded profile tells the colours.
    t.put16(entry(e += 12, 0xa001, 3, 1), exif.hasColourProfile ? 0xffff : 1);
    t.put32(entry(e += 12, 0xa002, 4, 1), quint32(std::max(0, exif.pixelSize.width())));   // PixelXDimension
    t.put32(entry(e += 12, 0xa003, 4, 1), quint32(std::max(0, exif.pixelSize.height())));  // PixelYDimension
    t.put32(e + 12, 0);
    t.put32(values, exif.xResolution);
    t.put32(values + 4, 1);
    t.put32(values + 8, exif.yResolution);
    t.put32(values + 12, 1);
    return bytes;
}

QByteArray xmpPacketWithOrientation(const QByteArray &packet, int orientation)
{
    QString text = QString::fromUtf8(packet);
    if (text.toUtf8() != packet)
        return packet;  // not clean UTF-8: a patch would change other bytes too
    static const QList<QRegularExpression> patterns = {
        QRegularExpression(QStringLiteral("\\btiff:Orientation\\s*=\\s*[\"']([^\"']*)[\"']")),
        QRegularExpression(QStringLiteral("<tiff:Orientation>([^<]*)</tiff:Orientation>"))};
    bool changed = false;
    for (const QRegularExpression &pattern : patterns)
        for (QRegularExpressionMatchIterator it = pattern.globalMatch(text); it.hasNext();) {
            const QRegularExpressionMatch match = it.next();
            // One digit stays one digit: the packet keeps its size.
            if (match.capturedLength(1) == 1) {
                text[match.capturedStart(1)] = QChar(char16_t(u'0' + orientation));
                changed = true;
            }
        }
    return changed ? text.toUtf8() : packet;
}

QByteArray uprightXmpPacket(const QByteArray &packet, QSize pixelSize)
{
    QString text = QString::fromUtf8(packet);
    if (text.toUtf8() != packet) {
        // Not clean UTF-8: written anew rather than patched (which would change other bytes too).
        const QByteArray rewritten = uprightXmp(packet, pixelSize);
        return rewritten.isEmpty() ? packet : rewritten;
    }
    const qsizetype before = packet.size();
    // Each value of the property, as an attribute or as an element, becomes value.
    const auto set = [&text](const QString &property, const QString &value) {
        const QString name = QRegularExpression::escape(property);
        for (const QString &pattern : {QStringLiteral("\\b%1\\s*=\\s*[\"']([^\"']*)[\"']"), QStringLiteral("<%1>([^<]*)</%1>")}) {
            const QRegularExpression expression(pattern.arg(name));
            QString out;
            qsizetype done = 0;
            for (QRegularExpressionMatchIterator it = expression.globalMatch(text); it.hasNext();) {
                const QRegularExpressionMatch match = it.next();
                out += QStringView(text).mid(done, match.capturedStart(1) - done);
                out += value;
                done = match.capturedEnd(1);
            }
            if (done > 0)
                text = out + text.mid(done);
        }
    };
    set(QStringLiteral("tiff:Orientation"), QStringLiteral("1"));
    if (pixelSize.isValid()) {
        set(QStringLiteral("exif:PixelXDimension"), QString::number(pixelSize.width()));
        set(QStringLiteral("exif:PixelYDimension"), QString::number(pixelSize.height()));
        set(QStringLiteral("tiff:ImageWidth"), QString::number(pixelSize.width()));
        set(QStringLiteral("tiff:ImageLength"), QString::number(pixelSize.height()));
    }
    QByteArray out = text.toUtf8();
    if (out == packet)
        return packet;
    // Padding (the white space before the packet's end) gives way to a longer value.
    const qsizetype grown = out.size() - before;
    const qsizetype end = out.lastIndexOf("<?xpacket end");
    if (grown > 0 && end > 0) {
        // One line break stays between the padding and the packet's end.
        const qsizetype last = out[end - 1] == '\n' ? end - 1 : end;
        qsizetype spaces = 0;
        while (spaces < grown && last - spaces - 1 > 0 && QByteArrayView(" \n\r\t").contains(out[last - spaces - 1]))
            ++spaces;
        out.remove(last - spaces, spaces);
    }
    return out;
}

std::optional<QList<Segment>> xmpSegments(const QByteArray &packet)
{
    if (packet.size() + xmpSignature.size() <= maxPayload)
        return QList<Segment> {{0xe1, xmpSignature + packet}};
    // The whole packet goes into the extended part, without its wrapper.
    QByteArray whole = packet;
    static const QRegularExpression wrapper(QStringLiteral("<\\?xpacket[^>]*\\?>"));
    whole = QString::fromUtf8(whole).remove(wrapper).trimmed().toUtf8();
    if (!whole.contains("<x:xmpmeta") && !whole.contains("<rdf:RDF"))
        return std::nullopt;
    const QByteArray guid = QCryptographicHash::hash(whole, QCryptographicHash::Md5).toHex().toUpper();
    const QByteArray main = QByteArrayLiteral("<?xpacket begin=\"\xef\xbb\xbf\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
                                              "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
                                              " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n"
                                              "  <rdf:Description rdf:about=\"\"\n"
                                              "    xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\"\n"
                                              "   xmpNote:HasExtendedXMP=\"")
                           + guid + QByteArrayLiteral("\"/>\n </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>");
    QList<Segment> segments {{0xe1, xmpSignature + main}};
    constexpr qsizetype chunk = 65000;
    const quint32 total = quint32(whole.size());
    for (qsizetype offset = 0; offset < whole.size(); offset += chunk) {
        QByteArray payload = extendedXmpSignature + guid;
        for (quint32 v : {total, quint32(offset)})
            payload.append(char(v >> 24)).append(char((v >> 16) & 0xff)).append(char((v >> 8) & 0xff)).append(char(v & 0xff));
        payload.append(whole.mid(offset, chunk));
        segments.append({0xe1, payload});
    }
    return segments;
}

QList<QByteArray> missingExifTags(const QByteArray &beforeTiff, const QByteArray &afterTiff, bool thumbnailDropped)
{
    QList<QByteArray> missing;
    if (beforeTiff.isEmpty())
        return missing;
    image::ensureExiv2();
    try {
        Exiv2::ExifData before, after;
        Exiv2::ExifParser::decode(before, reinterpret_cast<const Exiv2::byte *>(beforeTiff.constData()),
                                  uint32_t(beforeTiff.size()));
        if (!afterTiff.isEmpty())
            Exiv2::ExifParser::decode(after, reinterpret_cast<const Exiv2::byte *>(afterTiff.constData()),
                                      uint32_t(afterTiff.size()));
        // What a turn changes: the orientation (made one value 1), the pixel
        // dimensions and the thumbnail's place and length. Where the
        // directories and the maker note lie is no value of its own: what
        // lies there is compared tag by tag.
        const auto changedByTurn = [](const std::string &key) {
            return key == "Exif.Image.ExifTag" || key == "Exif.Image.GPSTag" || key == "Exif.Photo.InteroperabilityTag"
                || key == "Exif.MakerNote.Offset" || key == "Exif.Image.Orientation" || key == "Exif.Thumbnail.Orientation"
                || key == "Exif.Image.ImageWidth" || key == "Exif.Image.ImageLength"
                || key == "Exif.Photo.PixelXDimension" || key == "Exif.Photo.PixelYDimension"
                || key == "Exif.Thumbnail.JPEGInterchangeFormat" || key == "Exif.Thumbnail.JPEGInterchangeFormatLength";
        };
        const auto bytesOf = [](const Exiv2::Exifdatum &datum) {
            std::vector<Exiv2::byte> bytes(datum.size());
            if (!bytes.empty())
                datum.copy(bytes.data(), Exiv2::littleEndian);
            return bytes;
        };
        for (const Exiv2::Exifdatum &datum : before) {
            if (thumbnailDropped && datum.groupName() == "Thumbnail")
                continue;
            const std::string key = datum.key();
            const auto it = after.findKey(Exiv2::ExifKey(key));
            if (it != after.end() && changedByTurn(key))
                continue;
            if (it == after.end() || it->typeId() != datum.typeId() || it->count() != datum.count()
                || bytesOf(*it) != bytesOf(datum))
                missing.append(QByteArray::fromStdString(key));
        }
    } catch (...) {
        missing.append(QByteArrayLiteral("Exif"));
    }
    return missing;
}

} // namespace lg::jpeg
