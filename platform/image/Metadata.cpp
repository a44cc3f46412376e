// Image metadata through exiv2.
#include "platform/image/Metadata.h"

#include "platform/image/ByteSource.h"
#include "platform/base/Exiv2Setup.h"
#include "platform/files/names/FileNames.h"

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

} // namespace

QByteArray exifBlock(const Exiv2::ExifData &exif, bool bigEndian)
{
    if (exif.empty())
        return {};
    Exiv2::ExifData kept = exif;
    static const char *const pointerKeys[] = {
        "Exif.Image.PhotometricInterpretation", "Exif.Image.StripOffsets", "Exif.Image.RowsPerStrip",
        "Exif.Image.StripByteCounts", "Exif.Image.JPEGInterchangeFormat", "Exif.Image.JPEGInterchangeFormatLength",
        "Exif.Image.SubIFDs"};
    for (const char *key : pointerKeys) {
        const auto it = kept.findKey(Exiv2::ExifKey(key));
        if (it != kept.end())
            kept.erase(it);
    }
    static const char *const otherImages[] = {"SubImage1", "SubImage2", "SubImage3", "SubImage4", "SubImage5",
                                              "SubImage6", "SubImage7", "SubImage8", "SubImage9", "SubThumb1",
                                              "PanasonicRaw", "Image2", "Image3"};
    for (auto it = kept.begin(); it != kept.end();) {
        const std::string group = it->groupName();
        if (std::any_of(std::begin(otherImages), std::end(otherImages), [&group](const char *g) { return group == g; }))
            it = kept.erase(it);
        else
            ++it;
    }
    // The TIFF encoder has no size limit (ExifParser::encode cuts at 64 KB).
    Exiv2::MemIo io;
    Exiv2::TiffParser::encode(io, nullptr, 0, bigEndian ? Exiv2::bigEndian : Exiv2::littleEndian, kept,
                              Exiv2::IptcData(), Exiv2::XmpData());
    if (io.size() <= 0)
        return {};
    return QByteArray(reinterpret_cast<const char *>(io.mmap()), qsizetype(io.size()));
}

std::unique_ptr<Exiv2::Image> readMetadataFrom(const QString &path)
{
    ensureExiv2();
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(std::string(lg::FileNames::toNative(path).constData()), false);
        if (!image.get())
            return nullptr;
        image->readMetadata();
        return std::unique_ptr<Exiv2::Image>(image.release());
    } catch (...) {
        return nullptr;
    }
}

MetadataRead readMetadata(const ByteSource &source, const QString &path)
{
    if (!source.isOpen())
        return {};
    if (!source.inMemory()) {
        const std::unique_ptr<Exiv2::Image> image = readMetadataFrom(path);
        try {
            return image ? metadataOf(*image) : MetadataRead {};
        } catch (...) {
            return {};
        }
    }
    ensureExiv2();
    try {
        Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
            reinterpret_cast<const Exiv2::byte *>(source.memory().constData()), long(source.size()));
        if (!image.get())
            return {};
        image->readMetadata();
        return metadataOf(*image);
    } catch (...) {
        return {};
    }
}

MetadataRead metadataOf(Exiv2::Image &image)
{
    MetadataRead out;
    const Exiv2::ExifData &exif = image.exifData();
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
    const Exiv2::IptcData &iptc = image.iptcData();
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
    out.exif = exifBlock(exif);
    if (!iptc.empty()) {
        const Exiv2::DataBuf data = Exiv2::IptcParser::encode(iptc);
        out.iptc = QByteArray(reinterpret_cast<const char *>(data.pData_), qsizetype(data.size_));
    }
    out.xmp = QByteArray::fromStdString(image.xmpPacket());
    if (image.iccProfileDefined())
        out.icc = QByteArray(reinterpret_cast<const char *>(image.iccProfile()->pData_),
                             qsizetype(image.iccProfile()->size_));
    return out;
}

} // namespace lg::image
