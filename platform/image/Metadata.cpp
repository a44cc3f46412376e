#include "platform/image/Metadata.h"

#include "platform/image/ByteSource.h"
#include "platform/image/Libraries.h"

#include <QFile>

#include <exiv2/exiv2.hpp>

#include <algorithm>

namespace lg::image {

namespace {

constexpr int longestValue = 256;

QString groupLabel(const std::string &exivGroup)
{
    if (exivGroup == "Photo")
        return QStringLiteral("Exif");
    if (exivGroup == "Image")
        return QStringLiteral("TIFF");
    if (exivGroup == "GPSInfo")
        return QStringLiteral("GPS");
    return {};
}

bool readable(const Exiv2::Metadatum &datum, const std::string &printed)
{
    if (datum.tagName().rfind("0x", 0) == 0)
        return false;  // a tag exiv2 has no name for
    if (datum.typeId() == Exiv2::undefined && datum.size() > 32)
        return false;  // binary blobs (maker notes, print settings)
    return !printed.empty() && printed.size() <= size_t(longestValue);
}

// Tags of the first directory that describe how the old pixels were stored.
bool isLayoutTag(uint16_t tag)
{
    switch (tag) {
    case 0x00fe: case 0x00ff: case 0x0100: case 0x0101: case 0x0102: case 0x0103: case 0x0106:
    case 0x0111: case 0x0115: case 0x0116: case 0x0117: case 0x011c: case 0x013d: case 0x0142:
    case 0x0143: case 0x0144: case 0x0145: case 0x014a: case 0x0152: case 0x0153: case 0x0201:
    case 0x0202: case 0x0211: case 0x0212: case 0x0213: case 0x02bc: case 0x828d: case 0x828e:
        return true;
    default:
        return tag >= 0xc612 && tag <= 0xc7ff;  // DNG tags
    }
}

} // namespace

MetadataRead readMetadata(const ByteSource &source, const QString &path)
{
    MetadataRead out;
    if (!source.isOpen())
        return out;
    ensureExiv2();
    try {
        Exiv2::Image::AutoPtr image = source.inMemory()
            ? Exiv2::ImageFactory::open(reinterpret_cast<const Exiv2::byte *>(source.memory().constData()),
                                        long(source.size()))
            : Exiv2::ImageFactory::open(std::string(QFile::encodeName(path).constData()), false);
        if (!image.get())
            return out;
        image->readMetadata();
        const Exiv2::ExifData &exif = image->exifData();
        QList<QPair<QString, QString>> exifGroup, tiffGroup, gpsGroup, iptcGroup;
        for (const Exiv2::Exifdatum &datum : exif) {
            const QString label = groupLabel(datum.groupName());
            if (label.isEmpty())
                continue;
            std::string printed;
            try {
                printed = datum.print(&exif);
            } catch (const std::exception &) {
                continue;
            }
            if (!readable(datum, printed))
                continue;
            const QPair<QString, QString> entry(QString::fromStdString(datum.tagName()), QString::fromStdString(printed).trimmed());
            (label == QLatin1String("Exif") ? exifGroup : label == QLatin1String("TIFF") ? tiffGroup : gpsGroup).append(entry);
        }
        const Exiv2::IptcData &iptc = image->iptcData();
        for (const Exiv2::Iptcdatum &datum : iptc) {
            std::string printed;
            try {
                printed = datum.toString();
            } catch (const std::exception &) {
                continue;
            }
            if (!readable(datum, printed))
                continue;
            iptcGroup.append({QString::fromStdString(datum.tagName()), QString::fromStdString(printed).trimmed()});
        }
        const auto add = [&out](const char *name, const QList<QPair<QString, QString>> &entries) {
            if (!entries.isEmpty())
                out.groups.append({QString::fromLatin1(name), entries});
        };
        add("Exif", exifGroup);
        add("TIFF", tiffGroup);
        add("GPS", gpsGroup);
        add("IPTC", iptcGroup);
        if (!exif.empty()) {
            Exiv2::Blob blob;
            Exiv2::ExifParser::encode(blob, Exiv2::littleEndian, exif);
            out.exif = QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
        }
        if (!iptc.empty()) {
            const Exiv2::DataBuf data = Exiv2::IptcParser::encode(iptc);
            out.iptc = QByteArray(reinterpret_cast<const char *>(data.pData_), qsizetype(data.size_));
        }
    } catch (const std::exception &) {
        return MetadataRead {};
    } catch (...) {
        return MetadataRead {};
    }
    return out;
}

QByteArray exifForRewrite(const QByteArray &exif, QSize pixelSize)
{
    if (exif.isEmpty())
        return {};
    ensureExiv2();
    try {
        Exiv2::ExifData data;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            data, reinterpret_cast<const Exiv2::byte *>(exif.constData()), uint32_t(exif.size()));
        for (auto it = data.begin(); it != data.end();) {
            const std::string group = it->groupName();
            const bool keep = (group == "Image" && !isLayoutTag(it->tag())) || group == "Photo" || group == "GPSInfo"
                           || group == "Iop";
            if (!keep || it->key() == "Exif.Photo.MakerNote")
                it = data.erase(it);
            else
                ++it;
        }
        data["Exif.Image.Orientation"] = uint16_t(1);
        if (pixelSize.isValid()) {
            if (data.findKey(Exiv2::ExifKey("Exif.Photo.PixelXDimension")) != data.end())
                data["Exif.Photo.PixelXDimension"] = uint32_t(pixelSize.width());
            if (data.findKey(Exiv2::ExifKey("Exif.Photo.PixelYDimension")) != data.end())
                data["Exif.Photo.PixelYDimension"] = uint32_t(pixelSize.height());
        }
        Exiv2::Blob blob;
        Exiv2::ExifParser::encode(blob, order == Exiv2::invalidByteOrder ? Exiv2::littleEndian : order, data);
        return QByteArray(reinterpret_cast<const char *>(blob.data()), qsizetype(blob.size()));
    } catch (const std::exception &) {
        return {};
    }
}

std::optional<QByteArray> withMetadata(const QByteArray &encoded, const QByteArray &exif, const QByteArray &iptc,
                                       QString *error)
{
    ensureExiv2();
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(encoded.constData()), long(encoded.size()));
        if (!image.get())
            return std::nullopt;
        image->readMetadata();
        Exiv2::ExifData exifData;
        if (!exif.isEmpty())
            Exiv2::ExifParser::decode(exifData, reinterpret_cast<const Exiv2::byte *>(exif.constData()), uint32_t(exif.size()));
        Exiv2::IptcData iptcData;
        if (!iptc.isEmpty())
            Exiv2::IptcParser::decode(iptcData, reinterpret_cast<const Exiv2::byte *>(iptc.constData()), uint32_t(iptc.size()));
        image->setExifData(exifData);
        image->setIptcData(iptcData);
        image->writeMetadata();
        Exiv2::BasicIo &io = image->io();
        io.seek(0, Exiv2::BasicIo::beg);
        const long size = io.size();
        const Exiv2::DataBuf data = io.read(size);
        if (data.size_ != size || size <= 0)
            return std::nullopt;
        return QByteArray(reinterpret_cast<const char *>(data.pData_), qsizetype(data.size_));
    } catch (const std::exception &e) {
        if (error)
            *error = QString::fromLocal8Bit(e.what());
        return std::nullopt;
    }
}

} // namespace lg::image
