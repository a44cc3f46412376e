#include "platform/base/IsoBoxes.h"

#include <algorithm>

namespace lg::image {

quint64 IsoReader::number(int width)
{
    if (width < 0 || width > 8 || at + width > end) {
        ok = false;
        return 0;
    }
    quint64 value = 0;
    for (int i = 0; i < width; ++i)
        value = (value << 8) | quint8(bytes[at + i]);
    at += width;
    return value;
}

void IsoReader::skip(qsizetype count)
{
    if (count < 0 || at + count > end)
        ok = false;
    else
        at += count;
}

std::optional<IsoBox> isoBoxAt(const QByteArray &bytes, qsizetype from, qint64 end)
{
    if (from < 0 || from + 8 > end)
        return std::nullopt;
    IsoReader read{bytes, from, qsizetype(std::min<qint64>(end, bytes.size()))};
    quint64 size = read.number(4);
    read.skip(4);
    if (size == 1)
        size = read.number(8);
    else if (size == 0)
        size = quint64(end - from);
    if (!read.ok || size < quint64(read.at - from) || size > quint64(end - from))
        return std::nullopt;
    return IsoBox{bytes.mid(from + 4, 4), read.at, from + qint64(size)};
}

QList<IsoBox> isoBoxesIn(const QByteArray &bytes, qsizetype from, qsizetype end)
{
    QList<IsoBox> boxes;
    end = std::min(end, bytes.size());
    while (const std::optional<IsoBox> box = isoBoxAt(bytes, from, end)) {
        boxes.append(*box);
        from = qsizetype(box->end);
    }
    return boxes;
}

} // namespace lg::image
