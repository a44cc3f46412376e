#include "tests/support/Fixtures.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QImageWriter>
#include <QPainter>
#include <QRandomGenerator>
#include <QProcess>
#include <QStandardPaths>
#include <QTransform>

#include <exiv2/exiv2.hpp>

namespace lg::test::fixtures {

namespace {

bool ensureFolder(const QString &path)
{
    return QDir().mkpath(QFileInfo(path).absolutePath());
}

QString writeBytes(const QString &path, const QByteArray &bytes)
{
    ensureFolder(path);
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly) || file.write(bytes) != bytes.size())
        return {};
    return path;
}

} // namespace

bool hasTool(const QString &program)
{
    return !QStandardPaths::findExecutable(program).isEmpty();
}

bool run(const QString &program, const QStringList &arguments, QString *error, int timeoutMs)
{
    QProcess process;
    process.setProcessChannelMode(QProcess::SeparateChannels);
    process.start(program, arguments);
    if (!process.waitForStarted(timeoutMs)) {
        if (error)
            *error = process.errorString();
        return false;
    }
    if (!process.waitForFinished(timeoutMs)) {
        process.kill();
        process.waitForFinished();
        if (error)
            *error = QStringLiteral("%1 did not finish").arg(program);
        return false;
    }
    if (error)
        *error = QString::fromLocal8Bit(process.readAllStandardError());
    return process.exitStatus() == QProcess::NormalExit && process.exitCode() == 0;
}

QImage scene(QSize size, int noise)
{
    QImage image(size, QImage::Format_RGB32);
    QPainter painter(&image);
    QLinearGradient sky(0, 0, size.width(), size.height());
    sky.setColorAt(0, QColor(40, 90, 200));
    sky.setColorAt(1, QColor(250, 210, 120));
    painter.fillRect(image.rect(), sky);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setBrush(QColor(30, 140, 60));
    painter.setPen(Qt::NoPen);
    painter.drawEllipse(QRectF(size.width() * 0.1, size.height() * 0.55, size.width() * 0.5, size.height() * 0.6));
    painter.setBrush(QColor(200, 40, 40));
    painter.drawRect(QRectF(size.width() * 0.62, size.height() * 0.2, size.width() * 0.2, size.height() * 0.35));
    painter.end();
    if (noise <= 0)
        return image;
    QRandomGenerator random(7);
    for (int y = 0; y < size.height(); ++y) {
        auto *line = reinterpret_cast<QRgb *>(image.scanLine(y));
        for (int x = 0; x < size.width(); ++x) {
            const int n = int(random.bounded(2 * noise + 1)) - noise;
            const QRgb c = line[x];
            line[x] = qRgb(std::clamp(qRed(c) + n, 0, 255), std::clamp(qGreen(c) + n, 0, 255),
                           std::clamp(qBlue(c) + n, 0, 255));
        }
    }
    return image;
}

QImage quadrants(QSize size, QImage::Format format)
{
    QImage image(size, QImage::Format_RGB32);
    const int hw = size.width() / 2, hh = size.height() / 2;
    QPainter painter(&image);
    painter.fillRect(0, 0, hw, hh, Qt::red);
    painter.fillRect(hw, 0, size.width() - hw, hh, Qt::green);
    painter.fillRect(0, hh, hw, size.height() - hh, Qt::blue);
    painter.fillRect(hw, hh, size.width() - hw, size.height() - hh, Qt::white);
    painter.end();
    return image.convertToFormat(format);
}

QColor quarterColor(const QImage &image, Corner corner)
{
    const int x = (corner == TopLeft || corner == BottomLeft) ? image.width() / 4 : image.width() * 3 / 4;
    const int y = (corner == TopLeft || corner == TopRight) ? image.height() / 4 : image.height() * 3 / 4;
    return image.pixelColor(x, y);
}

bool near(const QColor &a, const QColor &b, int tolerance)
{
    return std::abs(a.red() - b.red()) <= tolerance && std::abs(a.green() - b.green()) <= tolerance
        && std::abs(a.blue() - b.blue()) <= tolerance;
}

QImage storedForOrientation(const QImage &upright, int orientation)
{
    // Orientations 6 and 8 undo each other; the others undo themselves.
    switch (orientation) {
    case 2: return upright.mirrored(true, false);
    case 3: return upright.mirrored(true, true);
    case 4: return upright.mirrored(false, true);
    case 5: return upright.transformed(QTransform(0, 1, 1, 0, 0, 0));        // transpose
    case 6: return upright.transformed(QTransform().rotate(270));            // stored turned left
    case 7: return upright.transformed(QTransform(0, -1, -1, 0, 0, 0));      // transverse
    case 8: return upright.transformed(QTransform().rotate(90));             // stored turned right
    default: return upright;
    }
}

QString writeQtImage(const QString &path, const QImage &image, const char *format, int quality)
{
    ensureFolder(path);
    QImageWriter writer(path, format ? QByteArray(format) : QByteArray());
    if (quality >= 0)
        writer.setQuality(quality);
    return writer.write(image) ? path : QString();
}

QString standInPicture(const QString &folder, const QString &mark)
{
    QImage image(16, 16, QImage::Format_RGB32);
    image.fill(Qt::blue);
    image.setText(QStringLiteral("Comment"), QStringLiteral("standin:") + mark + QLatin1Char('.'));
    return writeQtImage(folder + QLatin1Char('/') + QString(mark).replace(QLatin1Char(' '), QLatin1Char('-'))
                            + QStringLiteral(".png"),
                        image, "png");
}

bool setExifOrientation(const QString &path, int orientation)
{
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
        image->writeMetadata();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

bool setMetadata(const QString &path, const QList<QPair<QString, QString>> &values)
{
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        for (const auto &[key, value] : values) {
            const std::string k = key.toStdString(), v = value.toStdString();
            if (key.startsWith(QLatin1String("Exif.")))
                image->exifData()[k] = v;
            else if (key.startsWith(QLatin1String("Iptc.")))
                image->iptcData()[k] = v;
            else
                image->xmpData()[k] = v;
        }
        image->writeMetadata();
        return true;
    } catch (const std::exception &) {
        return false;
    }
}

QString metadataValue(const QString &path, const QString &key)
{
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        const std::string k = key.toStdString();
        if (key.startsWith(QLatin1String("Exif."))) {
            const auto it = image->exifData().findKey(Exiv2::ExifKey(k));
            return it == image->exifData().end() ? QString() : QString::fromStdString(it->toString());
        }
        if (key.startsWith(QLatin1String("Iptc."))) {
            const auto it = image->iptcData().findKey(Exiv2::IptcKey(k));
            return it == image->iptcData().end() ? QString() : QString::fromStdString(it->toString());
        }
        const auto it = image->xmpData().findKey(Exiv2::XmpKey(k));
        return it == image->xmpData().end() ? QString() : QString::fromStdString(it->toString());
    } catch (const std::exception &) {
        return {};
    }
}

QString writeJpeg(const QString &path, const QImage &storedPixels, int orientation, int quality)
{
    if (writeQtImage(path, storedPixels, "jpeg", quality).isEmpty())
        return {};
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(QFile::encodeName(path).toStdString());
        image->readMetadata();
        Exiv2::ExifData &exif = image->exifData();
        exif["Exif.Image.Make"] = "Lumen";
        exif["Exif.Image.Model"] = "Test Camera";
        exif["Exif.Image.Orientation"] = uint16_t(orientation);
        exif["Exif.Photo.DateTimeOriginal"] = "2021:06:05 14:30:00";
        exif["Exif.Photo.PixelXDimension"] = uint32_t(storedPixels.width());
        exif["Exif.Photo.PixelYDimension"] = uint32_t(storedPixels.height());
        exif["Exif.GPSInfo.GPSLatitudeRef"] = "N";
        exif["Exif.GPSInfo.GPSLatitude"] = "52/1 31/1 0/1";
        image->iptcData()["Iptc.Application2.Caption"] = "A test picture";
        image->writeMetadata();
    } catch (const std::exception &) {
        return {};
    }
    return path;
}

QString convert(const QString &source, const QString &target, const QStringList &arguments)
{
    if (!hasTool(QStringLiteral("convert")))
        return {};
    // The target may name ImageMagick's coder first ("PSB:/path/file.psb").
    const qsizetype colon = target.indexOf(QLatin1Char(':'));
    const QString path = colon > 0 && !target.left(colon).contains(QLatin1Char('/')) ? target.mid(colon + 1) : target;
    if (QFileInfo(path).isRelative())
        return {};
    ensureFolder(path);
    QString error;
    if (!run(QStringLiteral("convert"), QStringList {source} + arguments + QStringList {target}, &error)) {
        qWarning("convert %s failed: %s", qPrintable(target), qPrintable(error));
        return {};
    }
    return QFileInfo::exists(path) ? path : QString();
}

QString writeHeic(const QString &path, const QImage &image, int thumbnailSide, const QStringList &options)
{
    if (!hasTool(QStringLiteral("heif-enc")))
        return {};
    const QString png = path + QStringLiteral(".source.png");
    if (writeQtImage(png, image, "png").isEmpty())
        return {};
    QStringList arguments {QStringLiteral("-q"), QStringLiteral("90"), QStringLiteral("-o"), path};
    if (thumbnailSide > 0)
        arguments += {QStringLiteral("-t"), QString::number(thumbnailSide)};
    arguments += options;
    arguments += png;
    QString error;
    const bool ok = run(QStringLiteral("heif-enc"), arguments, &error);
    QFile::remove(png);
    if (!ok) {
        qWarning("heif-enc failed: %s", qPrintable(error));
        return {};
    }
    return path;
}

namespace {

QByteArray be(quint64 value, int bytes)
{
    QByteArray out(bytes, '\0');
    for (int i = bytes - 1; i >= 0; --i, value >>= 8)
        out[i] = char(value & 0xff);
    return out;
}

quint64 readBe(const QByteArray &bytes, qsizetype at, int count)
{
    quint64 value = 0;
    for (int i = 0; i < count && at + i < bytes.size(); ++i)
        value = (value << 8) | uchar(bytes[at + i]);
    return value;
}

QByteArray box(const char *type, const QByteArray &payload)
{
    return be(quint64(payload.size()) + 8, 4) + QByteArray(type, 4) + payload;
}

QByteArray fullBox(const char *type, int version, int flags, const QByteArray &payload)
{
    return box(type, be(quint64(version), 1) + be(quint64(flags), 3) + payload);
}

// The boxes in bytes[begin, end): type and where each starts and ends.
struct FoundBox
{
    QByteArray type;
    qsizetype start, payload, end;
};
QList<FoundBox> boxesOf(const QByteArray &bytes, qsizetype begin, qsizetype end)
{
    QList<FoundBox> found;
    for (qsizetype at = begin; at + 8 <= end;) {
        const qsizetype length = qsizetype(readBe(bytes, at, 4));
        if (length < 8 || at + length > end)
            break;
        found.append({bytes.mid(at + 4, 4), at, at + 8, at + length});
        at += length;
    }
    return found;
}

// The hvcC box and the coded data of a one-picture HEIC written by heif-enc.
bool hevcOf(const QByteArray &file, QByteArray *hvcC, QByteArray *data)
{
    for (const FoundBox &top : boxesOf(file, 0, file.size())) {
        if (top.type != "meta")
            continue;
        for (const FoundBox &b : boxesOf(file, top.payload + 4, top.end)) {
            if (b.type == "iprp") {
                for (const FoundBox &c : boxesOf(file, b.payload, b.end))
                    if (c.type == "ipco")
                        for (const FoundBox &p : boxesOf(file, c.payload, c.end))
                            if (p.type == "hvcC")
                                *hvcC = file.mid(p.start, p.end - p.start);
            } else if (b.type == "iloc") {
                const int version = uchar(file[b.payload]);
                qsizetype at = b.payload + 4;
                const int offsetSize = uchar(file[at]) >> 4, lengthSize = uchar(file[at]) & 15;
                const int baseSize = uchar(file[at + 1]) >> 4;
                at += 2;
                const int count = int(readBe(file, at, version < 2 ? 2 : 4));
                at += version < 2 ? 2 : 4;
                for (int i = 0; i < count; ++i) {
                    at += version < 2 ? 2 : 4;
                    if (version == 1)
                        at += 2;
                    at += 2;
                    const quint64 base = readBe(file, at, baseSize);
                    at += baseSize;
                    const int extents = int(readBe(file, at, 2));
                    at += 2;
                    for (int x = 0; x < extents; ++x) {
                        const quint64 offset = readBe(file, at, offsetSize);
                        const quint64 length = readBe(file, at + offsetSize, lengthSize);
                        at += offsetSize + lengthSize;
                        data->append(file.mid(qsizetype(base + offset), qsizetype(length)));
                    }
                }
            }
        }
    }
    return !hvcC->isEmpty() && !data->isEmpty();
}

} // namespace

QString writeHeicGrid(const QString &path, const QImage &image, QSize tile, QSize claimedTiles)
{
    const int columns = (image.width() + tile.width() - 1) / tile.width();
    const int rows = (image.height() + tile.height() - 1) / tile.height();
    const int tileCount = claimedTiles.isEmpty() ? columns * rows : 1;
    const QSize layout = claimedTiles.isEmpty() ? QSize(columns, rows) : claimedTiles;
    const QSize output = claimedTiles.isEmpty() ? image.size()
                                                : QSize(layout.width() * tile.width(), layout.height() * tile.height());
    // Item 1 the grid, 2.. the tiles.
    HeicItem grid;
    grid.id = 1;
    grid.type = "grid";
    grid.ispe = output;
    grid.extents = {heicGridData(layout, output)};
    QList<HeicItem> items;
    for (int i = 0; i < tileCount; ++i) {
        QImage piece(tile, QImage::Format_RGB32);
        piece.fill(Qt::black);
        QPainter painter(&piece);
        painter.drawImage(QPoint(0, 0), image, QRect(QPoint((i % columns) * tile.width(), (i / columns) * tile.height()), tile));
        painter.end();
        const HevcStream stream = encodeHevc(QFileInfo(path).absolutePath(), piece);
        if (stream.isEmpty())
            return {};
        HeicItem item;
        item.id = quint32(i + 2);
        item.ispe = tile;
        item.hvcC = stream.hvcC;
        item.extents = {stream.data};
        items.append(item);
    }
    for (int r = 0; r < layout.width() * layout.height(); ++r)
        grid.sources.append(quint32(claimedTiles.isEmpty() ? r + 2 : 2));
    items.prepend(grid);
    return writeBytes(path, buildHeic(1, items));
}

HevcStream encodeHevc(const QString &folder, const QImage &image)
{
    static int made = 0;
    const QString path = QDir(folder).filePath(QStringLiteral("stream-%1.heic").arg(++made));
    HevcStream stream;
    if (writeHeic(path, image).isEmpty())
        return stream;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly) && !hevcOf(file.readAll(), &stream.hvcC, &stream.data))
        stream = {};
    file.close();
    QFile::remove(path);
    return stream;
}

QByteArray hevcUnit(int type, const QByteArray &payload)
{
    const QByteArray unit = be(quint64(type << 1), 1) + be(1, 1) + payload;
    return be(quint64(unit.size()), 4) + unit;
}

QByteArray heicGridData(QSize layout, QSize output)
{
    return be(0, 1) + be(0, 1) + be(quint64(layout.height() - 1), 1) + be(quint64(layout.width() - 1), 1)
        + be(quint64(output.width()), 2) + be(quint64(output.height()), 2);
}

QByteArray buildHeic(quint32 primary, const QList<HeicItem> &items)
{
    // The properties, each item's own, and which item has which.
    QByteArray ipco, ipma, iinf, iref;
    int properties = 0;
    for (const HeicItem &item : items) {
        QByteArray associations;
        const auto add = [&](const QByteArray &property, bool essential) {
            ipco += property;
            associations += be(quint64((essential ? 0x8000 : 0) | ++properties), 2);
        };
        if (!item.hvcC.isEmpty())
            add(item.hvcC, true);
        if (!item.ispe.isEmpty())
            add(fullBox("ispe", 0, 0, be(quint64(item.ispe.width()), 4) + be(quint64(item.ispe.height()), 4)), false);
        if (item.alphaOf)
            add(fullBox("auxC", 0, 0, QByteArray("urn:mpeg:hevc:2015:auxid:1") + '\0'), true);
        if (item.depthOf)
            add(fullBox("auxC", 0, 0, QByteArray("urn:mpeg:hevc:2015:auxid:2") + '\0'), true);
        if (!item.clap.isEmpty()) {
            add(box("clap", be(quint64(item.clap.width()), 4) + be(1, 4) + be(quint64(item.clap.height()), 4) + be(1, 4)
                                + be(0, 4) + be(1, 4) + be(0, 4) + be(1, 4)),
                true);
        }
        ipma += be(item.id, 2) + be(quint64(associations.size() / 2), 1) + associations;
        const bool hidden = item.alphaOf || item.depthOf
            || std::any_of(items.begin(), items.end(), [&](const HeicItem &other) { return other.sources.contains(item.id); });
        iinf += fullBox("infe", 2, hidden ? 1 : 0, be(item.id, 2) + be(0, 2) + item.type.left(4) + QByteArray(1, '\0'));
        if (!item.sources.isEmpty()) {
            QByteArray dimg = be(item.id, 2) + be(quint64(item.sources.size()), 2);
            for (const quint32 source : item.sources)
                dimg += be(source, 2);
            iref += box("dimg", dimg);
        }
        if (const quint32 of = item.alphaOf ? item.alphaOf : item.depthOf)
            iref += box("auxl", be(item.id, 2) + be(1, 2) + be(of, 2));
        if (item.thumbnailOf)
            iref += box("thmb", be(item.id, 2) + be(1, 2) + be(item.thumbnailOf, 2));
    }
    // Coded data in the media data, a derived picture's in idat; an extent
    // after the first stands behind a gap.
    constexpr int gap = 16;
    const auto metaWith = [&](quint64 mdatData, QByteArray *mdat) {
        QByteArray iloc = be(0x44, 1) + be(0, 1) + be(quint64(items.size()), 2);
        QByteArray idat;
        quint64 offset = mdatData;
        for (const HeicItem &item : items) {
            const bool inIdat = item.hvcC.isEmpty();
            iloc += be(item.id, 2) + be(inIdat ? 1 : 0, 2) + be(0, 2) + be(quint64(item.extents.size()), 2);
            for (qsizetype x = 0; x < item.extents.size(); ++x) {
                const QByteArray &extent = item.extents[x];
                if (inIdat) {
                    iloc += be(quint64(idat.size()), 4) + be(quint64(extent.size()), 4);
                    idat += extent;
                    continue;
                }
                if (x > 0) {
                    offset += gap;
                    *mdat += QByteArray(gap, '\0');
                }
                iloc += be(offset, 4) + be(quint64(extent.size()), 4);
                offset += quint64(extent.size());
                *mdat += extent;
            }
        }
        return fullBox("meta", 0, 0,
                       fullBox("hdlr", 0, 0, be(0, 4) + QByteArray("pict") + be(0, 12) + QByteArray(1, '\0'))
                           + fullBox("pitm", 0, 0, be(primary, 2)) + fullBox("iloc", 1, 0, iloc)
                           + fullBox("iinf", 0, 0, be(quint64(items.size()), 2) + iinf)
                           + (iref.isEmpty() ? QByteArray() : fullBox("iref", 0, 0, iref))
                           + box("iprp", box("ipco", ipco) + fullBox("ipma", 0, 1, be(quint64(items.size()), 4) + ipma))
                           + (idat.isEmpty() ? QByteArray() : box("idat", idat)));
    };
    const QByteArray ftyp = box("ftyp", QByteArray("heic") + be(0, 4) + QByteArray("mif1heic"));
    QByteArray mdat;
    const qsizetype metaSize = metaWith(0, &mdat).size();
    mdat.clear();
    const QByteArray meta = metaWith(quint64(ftyp.size() + metaSize + 8), &mdat);
    return ftyp + meta + box("mdat", mdat);
}

QByteArray withIspe(const QByteArray &heic, QSize size)
{
    QByteArray bytes = heic;
    for (qsizetype at = bytes.indexOf("ispe"); at >= 4; at = bytes.indexOf("ispe", at + 4)) {
        if (at + 16 > bytes.size())
            break;
        bytes.replace(at + 8, 8, be(quint64(size.width()), 4) + be(quint64(size.height()), 4));
    }
    return bytes;
}

QString writeMacPaint(const QString &path, const QImage &image)
{
    const QImage page = image.scaled(576, 720, Qt::IgnoreAspectRatio).convertToFormat(QImage::Format_Grayscale8);
    QByteArray bytes(512, 0);
    bytes[3] = 2;  // version 2: patterns follow
    for (int y = 0; y < 720; ++y) {
        QByteArray row(72, 0);
        const uchar *line = page.constScanLine(y);
        for (int x = 0; x < 576; ++x)
            if (line[x] < 200)  // red, blue and black turn black; green and white stay white
                row[x / 8] = char(uchar(row[x / 8]) | (0x80 >> (x % 8)));
        bytes += char(71);  // one literal run of 72 bytes
        bytes += row;
    }
    return writeBytes(path, bytes);
}

QString writeFlic(const QString &path, QSize size, const QList<QColor> &frames, bool classic)
{
    using detail::le16;
    using detail::le32;
    QByteArray body;
    for (const QColor &colour : frames) {
        // Palette: entry 1 is the frame's colour; every pixel uses it.
        QByteArray palette = le16(1) + QByteArray(1, 0) + QByteArray(1, 0);
        for (int i = 0; i < 256; ++i) {
            const QColor c = i == 1 ? colour : QColor(Qt::black);
            const int scale = classic ? 4 : 1;  // classic files hold 6-bit colours
            palette += char(c.red() / scale);
            palette += char(c.green() / scale);
            palette += char(c.blue() / scale);
        }
        const QByteArray colourChunk = le32(quint32(6 + palette.size())) + le16(classic ? 11 : 4) + palette;
        QByteArray pixels(size.width() * size.height(), 1);
        QByteArray copyChunk = le32(quint32(6 + pixels.size())) + le16(16) + pixels;
        if (copyChunk.size() & 1)
            copyChunk += char(0);
        const QByteArray chunks = colourChunk + copyChunk;
        body += le32(quint32(16 + chunks.size())) + le16(0xF1FA) + le16(2) + QByteArray(8, 0) + chunks;
    }
    QByteArray header = le32(quint32(128 + body.size())) + le16(classic ? 0xAF11 : 0xAF12) + le16(quint16(frames.size()))
                      + le16(quint16(size.width())) + le16(quint16(size.height())) + le16(8) + le16(3);
    header += classic ? le16(5) + QByteArray(2, 0) : le32(100);
    header.resize(128, 0);
    if (!classic) {
        std::memcpy(header.data() + 80, detail::le32(128).constData(), 4);  // first frame
    }
    return writeBytes(path, header + body);
}

QString writeVideo(const QString &path, const QString &lavfiGraph, const QStringList &outputArguments)
{
    if (!hasTool(QStringLiteral("ffmpeg")))
        return {};
    ensureFolder(path);
    QStringList arguments {QStringLiteral("-v"), QStringLiteral("error"), QStringLiteral("-y"), QStringLiteral("-f"),
                           QStringLiteral("lavfi"), QStringLiteral("-i"), lavfiGraph};
    arguments += outputArguments;
    arguments += path;
    QString error;
    if (!run(QStringLiteral("ffmpeg"), arguments, &error)) {
        qWarning("ffmpeg %s failed: %s", qPrintable(path), qPrintable(error));
        return {};
    }
    return path;
}

bool setMp4Rotation(const QString &path, int clockwiseDegrees)
{
    QFile file(path);
    if (!file.open(QIODevice::ReadWrite))
        return false;
    QByteArray bytes = file.readAll();
    // The first track header with a picture size is the video's.
    qsizetype at = 0;
    while ((at = bytes.indexOf("tkhd", at)) > 4) {
        const qsizetype box = at - 4;
        const int version = uchar(bytes[box + 8]);
        const qsizetype matrix = box + (version == 1 ? 60 : 48);
        if (matrix + 44 > bytes.size())
            return false;
        const quint32 width = qFromBigEndian<quint32>(bytes.constData() + matrix + 36);
        if (width == 0) {
            at += 4;
            continue;
        }
        const qint32 one = 0x10000;
        qint32 a = one, b = 0, c = 0, d = one;
        switch (clockwiseDegrees) {
        case 90: a = 0; b = one; c = -one; d = 0; break;
        case 180: a = -one; d = -one; break;
        case 270: a = 0; b = -one; c = one; d = 0; break;
        default: break;
        }
        const qint32 values[9] = {a, b, 0, c, d, 0, 0, 0, 0x40000000};
        for (int i = 0; i < 9; ++i)
            qToBigEndian(values[i], bytes.data() + matrix + 4 * i);
        file.seek(0);
        return file.write(bytes) == bytes.size();
    }
    return false;
}

QString writeDng(const QString &path, const DngSpec &spec)
{
    return writeBytes(path, buildDng(spec));
}

QList<Fixture> imageFormatSet(const QString &folder, QSize size)
{
    QList<Fixture> set;
    const QDir dir(folder);
    dir.mkpath(QStringLiteral("."));
    const QImage picture = quadrants(size);
    const auto add = [&set](const QString &name, const QString &path) {
        if (!path.isEmpty())
            set.append({name, path});
    };
    const QString png = writeQtImage(dir.filePath(QStringLiteral("picture.png")), picture, "png");
    add(QStringLiteral("png"), png);
    const QString jpeg = writeJpeg(dir.filePath(QStringLiteral("picture.jpg")), picture);
    add(QStringLiteral("jpeg"), jpeg);
    add(QStringLiteral("bmp"), writeQtImage(dir.filePath(QStringLiteral("picture.bmp")), picture, "bmp"));
    add(QStringLiteral("tiff"), writeQtImage(dir.filePath(QStringLiteral("picture.tiff")), picture, "tiff"));
    add(QStringLiteral("webp"), writeQtImage(dir.filePath(QStringLiteral("picture.webp")), picture, "webp", 90));
    add(QStringLiteral("ico"), writeQtImage(dir.filePath(QStringLiteral("picture.ico")), picture, "ico"));
    if (QImageWriter::supportedImageFormats().contains("icns"))
        add(QStringLiteral("icns"), writeQtImage(dir.filePath(QStringLiteral("picture.icns")), picture.scaled(32, 32), "icns"));
    add(QStringLiteral("xbm"), writeQtImage(dir.filePath(QStringLiteral("picture.xbm")), picture, "xbm"));
    add(QStringLiteral("pbm"), writeQtImage(dir.filePath(QStringLiteral("picture.pbm")), picture, "pbm"));
    add(QStringLiteral("ppm"), writeQtImage(dir.filePath(QStringLiteral("picture.ppm")), picture, "ppm"));
    add(QStringLiteral("svg"),
        writeBytes(dir.filePath(QStringLiteral("picture.svg")),
                   QStringLiteral("<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"%1\" height=\"%2\">"
                                  "<rect width=\"%1\" height=\"%2\" fill=\"red\"/></svg>")
                       .arg(size.width())
                       .arg(size.height())
                       .toUtf8()));
    {
        QFile first(jpeg);
        if (!jpeg.isEmpty() && first.open(QIODevice::ReadOnly)) {
            const QByteArray bytes = first.readAll();
            add(QStringLiteral("mpo"), writeBytes(dir.filePath(QStringLiteral("picture.mpo")), bytes + bytes));
        }
    }
    if (!png.isEmpty()) {
        add(QStringLiteral("gif"), convert(png, dir.filePath(QStringLiteral("picture.gif"))));
        const QString tga = convert(png, dir.filePath(QStringLiteral("picture.tga")));
        add(QStringLiteral("tga"), tga);
        QFile plain(tga);
        if (!tga.isEmpty() && plain.open(QIODevice::ReadOnly)) {
            // The same with the version 2 footer, which Qt's reader looks for.
            const QByteArray footer = QByteArray(8, 0) + QByteArray("TRUEVISION-XFILE.") + QByteArray(1, 0);
            add(QStringLiteral("tga2"), writeBytes(dir.filePath(QStringLiteral("picture-v2.tga")), plain.readAll() + footer));
        }
        add(QStringLiteral("psd"), convert(png, dir.filePath(QStringLiteral("picture.psd"))));
        add(QStringLiteral("psb"), convert(png, QStringLiteral("PSB:") + dir.filePath(QStringLiteral("picture.psb"))));
        add(QStringLiteral("pict"), convert(png, QStringLiteral("PICT:") + dir.filePath(QStringLiteral("picture.pict"))));
        add(QStringLiteral("sgi"), convert(png, QStringLiteral("SGI:") + dir.filePath(QStringLiteral("picture.sgi"))));
        add(QStringLiteral("hdr"), convert(png, QStringLiteral("HDR:") + dir.filePath(QStringLiteral("picture.hdr"))));
        add(QStringLiteral("exr"), convert(png, QStringLiteral("EXR:") + dir.filePath(QStringLiteral("picture.exr"))));
        add(QStringLiteral("jp2"), convert(png, QStringLiteral("JP2:") + dir.filePath(QStringLiteral("picture.jp2"))));
        add(QStringLiteral("j2k"), convert(png, QStringLiteral("J2K:") + dir.filePath(QStringLiteral("picture.j2k"))));
        // Fax files are TIFF class F: one bit a pixel, Group 3 coding.
        add(QStringLiteral("fax"), convert(png, QStringLiteral("TIFF:") + dir.filePath(QStringLiteral("picture.fax")),
                                           {QStringLiteral("-monochrome"), QStringLiteral("-compress"), QStringLiteral("Fax")}));
    }
    add(QStringLiteral("pntg"), writeMacPaint(dir.filePath(QStringLiteral("picture.pntg")), picture));
    add(QStringLiteral("heic"), writeHeic(dir.filePath(QStringLiteral("picture.heic")), picture.scaled(64, 48), 32));
    {
        QByteArray preview;
        QBuffer buffer(&preview);
        buffer.open(QIODevice::WriteOnly);
        QImageWriter(&buffer, "jpeg").write(picture.scaled(size / 2));
        DngSpec spec;
        spec.picture = picture;
        spec.previewJpeg = preview;
        spec.previewSize = size / 2;
        add(QStringLiteral("dng"), writeDng(dir.filePath(QStringLiteral("picture.dng")), spec));
    }
    return set;
}

QString writeModuleHeic(const QString &folder)
{
    if (!hasTool(QStringLiteral("heif-enc")))
        return {};
    return writeHeic(QDir(folder).filePath(QStringLiteral("p.heic")), quadrants(QSize(64, 48)));
}

QString writeModuleDng(const QString &folder)
{
    DngSpec spec;
    spec.picture = quadrants(QSize(60, 40));
    spec.previewSize = QSize(30, 20);
    QFile preview(writeJpeg(QDir(folder).filePath(QStringLiteral("preview.jpg")), spec.picture.scaled(spec.previewSize)));
    if (!preview.open(QIODevice::ReadOnly))
        return {};
    spec.previewJpeg = preview.readAll();
    return writeDng(QDir(folder).filePath(QStringLiteral("r.dng")), spec);
}

QString writeModuleVideo(const QString &folder)
{
    return writeVideo(QDir(folder).filePath(QStringLiteral("v.mp4")), QStringLiteral("color=c=red:s=64x48:d=1"),
                      {QStringLiteral("-c:v"), QStringLiteral("mpeg4")});
}

} // namespace lg::test::fixtures
