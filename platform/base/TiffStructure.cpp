// Reading the TIFF structure of TIFF files, camera raw files and Exif blocks.
#include "platform/base/TiffStructure.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace lg::image {

namespace {

bool startsWith(const QByteArray &data, const char *prefix, qsizetype at = 0)
{
    const qsizetype n = qsizetype(std::strlen(prefix));
    return data.size() >= at + n && std::memcmp(data.constData() + at, prefix, size_t(n)) == 0;
}

class TiffReader
{
public:
    TiffReader(ReadAt read, qint64 size) : m_read(std::move(read)), m_size(size) {}

    TiffSummary readFirstDirectory()
    {
        TiffSummary s;
        const QByteArray header = m_read(0, 8);
        if (header.size() < 8)
            return s;
        if (startsWith(header, "II"))
            m_little = true;
        else if (startsWith(header, "MM"))
            m_little = false;
        else
            return s;
        const quint16 magic = u16(header.constData() + 2);
        if (magic == 43) {  // BigTIFF: recognised, read by the decoder itself
            s.ok = true;
            s.bigTiff = true;
            return s;
        }
        if (magic != 42)
            return s;
        m_first = u32(header.constData() + 4);
        Directory d;
        if (!readDirectory(m_first, d))
            return s;
        s.size = d.size;
        s.orientation = (d.orientation >= 1 && d.orientation <= 8) ? d.orientation : 1;
        s.bitsPerSample = d.bitsPerSample > 0 ? d.bitsPerSample : 1;
        s.samples = d.samples > 0 ? d.samples : 1;
        s.photometric = d.photometric;
        s.alpha = d.alpha;
        s.dng = d.dng;
        s.dataEnd = d.dataEnd;
        s.valuesEnd = d.valuesEnd;
        s.ok = true;
        return s;
    }

    // The furthest byte that the directory chain and the sub-directories of
    // its members point at (pixel data and values); -1 when unreadable.
    qint64 everythingEnd()
    {
        if (m_first == 0)
            return -1;
        qint64 end = 0;
        std::vector<quint64> pending {m_first};
        std::vector<quint64> seen;
        while (!pending.empty() && seen.size() < 32) {
            const quint64 offset = pending.back();
            pending.pop_back();
            if (std::find(seen.begin(), seen.end(), offset) != seen.end())
                continue;
            seen.push_back(offset);
            Directory d;
            if (!readDirectory(qint64(offset), d))
                return -1;
            end = std::max({end, d.dataEnd, d.valuesEnd});
            if (d.next != 0)
                pending.push_back(d.next);
            for (quint64 sub : d.subDirectories)
                pending.push_back(sub);
        }
        return end;
    }

    // Only the orientation tag of the first directory.
    int orientationOnly()
    {
        const TiffSummary s = readFirstDirectory();
        return s.ok ? s.orientation : 1;
    }

private:
    struct Directory
    {
        QSize size;
        int orientation = 1;
        int bitsPerSample = 0;
        int samples = 0;
        int photometric = -1;
        bool alpha = false;
        bool dng = false;
        qint64 dataEnd = -1;
        qint64 valuesEnd = 0;
        quint64 next = 0;
        std::vector<quint64> subDirectories;
    };

    bool readDirectory(qint64 offset, Directory &d)
    {
        if (offset < 8 || offset + 2 > m_size)
            return false;
        const QByteArray countBytes = m_read(offset, 2);
        if (countBytes.size() < 2)
            return false;
        const int count = u16(countBytes.constData());
        if (count == 0 || count > 4096)
            return false;
        const QByteArray entries = m_read(offset + 2, qint64(count) * 12 + 4);
        if (entries.size() < qint64(count) * 12 + 4)
            return false;
        d.valuesEnd = offset + 2 + qint64(count) * 12 + 4;
        d.next = u32(entries.constData() + qint64(count) * 12);
        std::vector<quint64> stripOffsets, stripCounts, tileOffsets, tileCounts;
        int extraSamples = 0;
        int firstExtra = -1;
        for (int i = 0; i < count; ++i) {
            const char *e = entries.constData() + i * 12;
            const qint64 bytes = qint64(tiffTypeSize(u16(e + 2))) * u32(e + 4);
            if (bytes > 4)
                d.valuesEnd = std::max(d.valuesEnd, qint64(u32(e + 8)) + bytes);
            switch (u16(e)) {
            case 256: d.size.setWidth(int(std::min<quint64>(first(e), INT32_MAX))); break;
            case 257: d.size.setHeight(int(std::min<quint64>(first(e), INT32_MAX))); break;
            case 258: d.bitsPerSample = int(first(e)); break;
            case 262: d.photometric = int(first(e)); break;
            case 273: stripOffsets = values(e); break;
            case 274: d.orientation = int(first(e)); break;
            case 277: d.samples = int(first(e)); break;
            case 279: stripCounts = values(e); break;
            case 324: tileOffsets = values(e); break;
            case 325: tileCounts = values(e); break;
            case 330: d.subDirectories = values(e); break;
            case 338: {
                const auto v = values(e);
                extraSamples = int(v.size());
                firstExtra = v.empty() ? -1 : int(v.front());
                break;
            }
            case 50706: d.dng = true; break;
            default: break;
            }
        }
        d.alpha = extraSamples > 0 && (firstExtra == 1 || firstExtra == 2);
        const auto extent = [](const std::vector<quint64> &offsets, const std::vector<quint64> &counts) -> qint64 {
            if (offsets.empty() || offsets.size() != counts.size())
                return -1;
            quint64 end = 0;
            for (size_t i = 0; i < offsets.size(); ++i)
                end = std::max(end, offsets[i] + counts[i]);
            return qint64(std::min<quint64>(end, quint64(INT64_MAX / 2)));
        };
        d.dataEnd = std::max(extent(stripOffsets, stripCounts), extent(tileOffsets, tileCounts));
        return true;
    }

    quint16 u16(const char *p) const { return m_little ? le16(p) : be16(p); }
    quint32 u32(const char *p) const { return m_little ? le32(p) : be32(p); }

    std::vector<quint64> values(const char *entry) const
    {
        std::vector<quint64> out;
        const int type = u16(entry + 2);
        const quint32 count = u32(entry + 4);
        const int width = (type == 3 || type == 8) ? 2 : (type == 4 || type == 9 || type == 13) ? 4 : (type == 1) ? 1 : 0;
        if (width == 0 || count == 0 || count > (1u << 22))
            return out;
        const qint64 bytes = qint64(count) * width;
        QByteArray data;
        if (bytes <= 4) {
            data = QByteArray(entry + 8, 4);
        } else {
            data = m_read(u32(entry + 8), bytes);
            if (data.size() < bytes)
                return out;
        }
        out.reserve(count);
        for (quint32 i = 0; i < count; ++i) {
            const char *p = data.constData() + qint64(i) * width;
            out.push_back(width == 2 ? u16(p) : width == 4 ? u32(p) : uchar(*p));
        }
        return out;
    }

    quint64 first(const char *entry) const
    {
        const std::vector<quint64> v = values(entry);
        return v.empty() ? 0 : v.front();
    }

    ReadAt m_read;
    qint64 m_size;
    bool m_little = true;
    quint64 m_first = 0;
};

} // namespace

TiffSummary readTiffFirstDirectory(const ReadAt &read, qint64 size)
{
    return TiffReader(read, size).readFirstDirectory();
}

qint64 tiffEverythingEnd(const ReadAt &read, qint64 size)
{
    TiffReader reader(read, size);
    return reader.readFirstDirectory().ok ? reader.everythingEnd() : -1;
}

int tiffTypeSize(int type)
{
    switch (type) {
    case 1: case 2: case 6: case 7: return 1;
    case 3: case 8: return 2;
    case 4: case 9: case 11: case 13: return 4;
    case 5: case 10: case 12: return 8;
    default: return 0;
    }
}

int exifOrientation(const QByteArray &tiff)
{
    if (tiff.size() < 8)
        return 1;
    TiffReader reader([&tiff](qint64 o, qint64 n) { return o >= 0 && o < tiff.size() ? tiff.mid(o, n) : QByteArray(); },
                      tiff.size());
    return reader.orientationOnly();
}

} // namespace lg::image
