// Carrying a picture's metadata (Exif, IPTC, XMP, profile) across a rewrite.
#include "platform/image/PictureMetadata.h"

#include "platform/base/UprightXmp.h"
#include "platform/image/ImageSource.h"
#include "platform/jpeg/JpegSegments.h"
#include "platform/base/Exiv2Setup.h"
#include "platform/image/Metadata.h"
#include "platform/files/names/FileNames.h"

#include <QBuffer>
#include <QFile>
#include <QImageWriter>

#include <exiv2/exiv2.hpp>

#include <cerrno>
#include <cstring>
#include <string>
#include <sys/xattr.h>

namespace lg {

namespace {

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

// Tags of a TIFF's first directory that describe the picture, not its storage.
bool isDescriptiveTag(uint16_t tag)
{
    switch (tag) {
    case 0x010d: case 0x010e: case 0x010f: case 0x0110: case 0x0112: case 0x0131: case 0x0132: case 0x013b:
    case 0x8298: case 0x83bb: case 0x8769: case 0x8825:
        return true;
    default:
        return false;
    }
}

// The groups that describe the picture rather than other images in the file
// (thumbnail, sub-images of raw files), the maker note's among them.
bool isPictureGroup(const std::string &group)
{
    return group == "Image" || group == "Photo" || group == "GPSInfo" || group == "Iop" || group == "MakerNote"
        || Exiv2::ExifTags::isMakerGroup(group);
}

constexpr int thumbnailSide = 160;

QByteArray thumbnailJpeg(const QImage &source)
{
    if (source.isNull())
        return {};
    // A quick reduction first: a 24-megapixel picture is not smoothed whole for 160 pixels.
    QImage small = source;
    if (std::max(small.width(), small.height()) > thumbnailSide * 4)
        small = small.scaled(thumbnailSide * 4, thumbnailSide * 4, Qt::KeepAspectRatio, Qt::FastTransformation);
    small = small.scaled(thumbnailSide, thumbnailSide, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    QImageWriter writer(&buffer, "jpeg");
    writer.setQuality(85);
    if (!writer.write(small.convertToFormat(QImage::Format_RGB32)))
        return {};
    return bytes;
}

void makeExifUpright(Exiv2::ExifData &data, QSize pixelSize, const QImage &thumbnailSource, MetadataContainer container)
{
    if (data.empty())
        return;
    const bool hadThumbnail = Exiv2::ExifThumbC(data).copy().size_ > 0;
    for (auto it = data.begin(); it != data.end();) {
        const std::string group = it->groupName();
        if (!isPictureGroup(group) || (group == "Image" && isLayoutTag(it->tag())))
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
    if (hadThumbnail && container == MetadataContainer::Plain) {
        const QByteArray jpeg = thumbnailJpeg(thumbnailSource);
        // The thumbnail only where the block still fits a JPEG segment with it:
        // no tag is dropped to make room for it.
        Exiv2::ExifThumb(data).erase();
        constexpr qsizetype room = 65533 - 6 - 1024;  // the segment, less "Exif\0\0" and the thumbnail's directory
        if (!jpeg.isEmpty() && image::exifBlock(data).size() + jpeg.size() <= room)
            Exiv2::ExifThumb(data).setJpegThumbnail(reinterpret_cast<const Exiv2::byte *>(jpeg.constData()),
                                                    long(jpeg.size()));
    }
}

Exiv2::Image::AutoPtr openBuffer(const QByteArray &encoded)
{
    image::ensureExiv2();
    Exiv2::Image::AutoPtr image = Exiv2::ImageFactory::open(
        reinterpret_cast<const Exiv2::byte *>(encoded.constData()), long(encoded.size()));
    if (image.get())
        image->readMetadata();
    return image;
}

std::optional<QByteArray> contentsOf(Exiv2::Image &image)
{
    Exiv2::BasicIo &io = image.io();
    io.seek(0, Exiv2::BasicIo::beg);
    const long size = io.size();
    const Exiv2::DataBuf data = io.read(size);
    if (data.size_ != size || size <= 0)
        return std::nullopt;
    return QByteArray(reinterpret_cast<const char *>(data.pData_), qsizetype(data.size_));
}

MetadataContainer containerOf(const Exiv2::Image &image)
{
    return image.mimeType() == "image/tiff" ? MetadataContainer::Tiff : MetadataContainer::Plain;
}

std::optional<QByteArray> failed(QString *error, const QString &text)
{
    if (error)
        *error = text;
    return std::nullopt;
}

} // namespace

PictureMetadata PictureMetadata::fromProperties(const ImageProperties &properties)
{
    return {properties.exif, properties.iptc, properties.xmp, properties.icc, QString()};
}

PictureMetadata PictureMetadata::read(const QString &path)
{
    PictureMetadata metadata = fromProperties(ImageSource(path).properties());
    metadata.file = path;
    return metadata;
}

namespace {

// The encoded picture's metadata read, changed by edit and written back.
template<typename Edit>
std::optional<QByteArray> rewrittenMetadata(const QByteArray &encoded, QString *error, Edit edit)
{
    try {
        Exiv2::Image::AutoPtr image = openBuffer(encoded);
        if (!image.get())
            return failed(error, QStringLiteral("Metadata cannot be written into this kind of file."));
        edit(*image);
        image->writeMetadata();
        return contentsOf(*image);
    } catch (const std::exception &e) {
        return failed(error, QString::fromLocal8Bit(e.what()));
    } catch (...) {
        return failed(error, QStringLiteral("The metadata could not be written."));
    }
}

} // namespace

std::optional<QByteArray> withPictureMetadata(const QByteArray &encoded, const PictureMetadata &metadata,
                                              QSize pixelSize, const QImage &thumbnailSource, QString *error)
{
    // An XMP packet too large for one JPEG segment goes into extended XMP, which exiv2 does not write.
    std::string largeXmp;
    std::optional<QByteArray> bytes = rewrittenMetadata(encoded, error, [&](Exiv2::Image &image) {
        if (!metadata.exif.isEmpty()) {
            Exiv2::ExifData exif;
            Exiv2::ExifParser::decode(exif, reinterpret_cast<const Exiv2::byte *>(metadata.exif.constData()),
                                      uint32_t(metadata.exif.size()));
            makeExifUpright(exif, pixelSize, thumbnailSource, containerOf(image));
            image.setExifData(exif);
        }
        if (!metadata.iptc.isEmpty()) {
            Exiv2::IptcData iptc;
            Exiv2::IptcParser::decode(iptc, reinterpret_cast<const Exiv2::byte *>(metadata.iptc.constData()),
                                      uint32_t(metadata.iptc.size()));
            image.setIptcData(iptc);
        }
        if (!metadata.xmp.isEmpty()) {
            Exiv2::XmpData xmp;
            if (Exiv2::XmpParser::decode(xmp, metadata.xmp.toStdString()) == 0) {
                makeXmpUpright(xmp, pixelSize);
                std::string packet;
                if (image.mimeType() == "image/jpeg" && Exiv2::XmpParser::encode(packet, xmp) == 0
                    && packet.size() + 29 > 65533)
                    largeXmp = packet;
                else
                    image.setXmpData(xmp);
            }
        }
        if (!metadata.icc.isEmpty() && !image.iccProfileDefined()) {
            Exiv2::DataBuf icc(reinterpret_cast<const Exiv2::byte *>(metadata.icc.constData()), long(metadata.icc.size()));
            image.setIccProfile(icc, false);
        }
    });
    if (!bytes || largeXmp.empty())
        return bytes;
    const std::optional<jpeg::Layout> layout = jpeg::parse(*bytes);
    const std::optional<QList<jpeg::Segment>> xmp = jpeg::xmpSegments(QByteArray::fromStdString(largeXmp));
    if (!layout || !xmp)
        return failed(error, QStringLiteral("The XMP packet could not be written."));
    QList<jpeg::Segment> segments = layout->metadata;
    qsizetype at = 0;  // after the JFIF and Exif segments
    while (at < segments.size() && (segments.at(at).marker == 0xe0 || jpeg::isExif(segments.at(at))))
        ++at;
    for (const jpeg::Segment &segment : *xmp)
        segments.insert(at++, segment);
    std::optional<QByteArray> out = jpeg::assemble(segments, *bytes, bytes->mid(layout->imageEnd));
    if (!out)
        return failed(error, QStringLiteral("The XMP packet could not be written."));
    return out;
}

namespace {

// Tags whose value is where something lies in the block (a directory, the
// maker note), which a block laid out anew changes: what lies there is
// compared tag by tag.
bool isPlaceTag(const std::string &key)
{
    return key == "Exif.Image.ExifTag" || key == "Exif.Image.GPSTag" || key == "Exif.Photo.InteroperabilityTag"
        || key == "Exif.MakerNote.Offset" || key == "Exif.MakerNote.ByteOrder";
}

// The XMP keys whose values the written packet lacks or holds otherwise
// (made fit for the new pixels first).
QStringList changedXmp(Exiv2::XmpData wanted, QSize pixelSize, const Exiv2::XmpData &written)
{
    makeXmpUpright(wanted, pixelSize);
    QStringList changed;
    for (const Exiv2::Xmpdatum &datum : wanted) {
        const auto it = written.findKey(Exiv2::XmpKey(datum.key()));
        if (it == written.end() || it->toString() != datum.toString())
            changed.append(QString::fromStdString(datum.key()));
    }
    return changed;
}

// The XMP of the encoded picture, a JPEG's extended XMP joined in (exiv2
// reads only the main packet, which points at it).
Exiv2::XmpData writtenXmp(const QByteArray &encoded, const Exiv2::Image &image)
{
    Exiv2::XmpData xmp = image.xmpData();
    const std::optional<jpeg::Layout> layout = image.mimeType() == "image/jpeg" ? jpeg::parse(encoded) : std::nullopt;
    if (!layout)
        return xmp;
    QByteArray whole;
    constexpr qsizetype header = 35 + 32 + 8;  // signature, GUID, full length and this part's offset
    for (const jpeg::Segment &segment : layout->metadata) {
        if (!jpeg::isExtendedXmp(segment) || segment.payload.size() < header)
            continue;
        const auto u32 = [&segment](qsizetype at) {
            quint32 v = 0;
            for (int i = 0; i < 4; ++i)
                v = (v << 8) | quint8(segment.payload[at + i]);
            return v;
        };
        const quint32 total = u32(67), offset = u32(71);
        const QByteArray part = segment.payload.mid(header);
        if (total > quint32(64) << 20 || quint64(offset) + quint64(part.size()) > total)
            continue;
        if (whole.size() < qsizetype(total))
            whole.resize(total, ' ');
        std::memcpy(whole.data() + offset, part.constData(), size_t(part.size()));
    }
    Exiv2::XmpData extended;
    if (!whole.isEmpty() && Exiv2::XmpParser::decode(extended, whole.toStdString()) == 0)
        for (const Exiv2::Xmpdatum &datum : extended)
            if (xmp.findKey(Exiv2::XmpKey(datum.key())) == xmp.end())
                xmp.add(datum);
    return xmp;
}

// The IPTC datasets (key and value; a key may repeat) that the written data lacks.
QStringList changedIptc(const Exiv2::IptcData &wanted, const Exiv2::IptcData &written)
{
    QList<std::pair<std::string, std::string>> held;
    for (const Exiv2::Iptcdatum &datum : written)
        held.append({datum.key(), datum.toString()});
    QStringList changed;
    for (const Exiv2::Iptcdatum &datum : wanted) {
        const qsizetype at = held.indexOf(std::pair<std::string, std::string>(datum.key(), datum.toString()));
        if (at < 0)
            changed.append(QString::fromStdString(datum.key()));
        else
            held.removeAt(at);
    }
    return changed;
}

} // namespace

QString lostMetadata(const PictureMetadata &metadata, QSize pixelSize, const QByteArray &encoded)
{
    Exiv2::ExifData wanted;
    Exiv2::XmpData wantedXmp;
    Exiv2::IptcData wantedIptc;
    bool wantsXmp = !metadata.xmp.isEmpty(), wantsIptc = !metadata.iptc.isEmpty();
    try {
        if (!metadata.file.isEmpty()) {
            // The source's own metadata, read anew: what went missing on the way
            // to the writer shows as lost.
            image::ensureExiv2();
            Exiv2::Image::AutoPtr source
                = Exiv2::ImageFactory::open(std::string(lg::FileNames::toNative(metadata.file).constData()));
            if (!source.get())
                return QStringLiteral("the original's metadata cannot be read");
            source->readMetadata();
            wanted = source->exifData();
            wantedXmp = source->xmpData();
            wantedIptc = source->iptcData();
            wantsXmp = wantsXmp || !source->xmpPacket().empty() || !source->xmpData().empty();
            wantsIptc = wantsIptc || !source->iptcData().empty();
        } else if (!metadata.exif.isEmpty()) {
            image::ensureExiv2();
            Exiv2::ExifParser::decode(wanted, reinterpret_cast<const Exiv2::byte *>(metadata.exif.constData()),
                                      uint32_t(metadata.exif.size()));
        }
        // What was handed over stands where the file has none.
        if (wantedXmp.empty() && !metadata.xmp.isEmpty()) {
            image::ensureExiv2();
            Exiv2::XmpParser::decode(wantedXmp, metadata.xmp.toStdString());
        }
        if (wantedIptc.empty() && !metadata.iptc.isEmpty())
            Exiv2::IptcParser::decode(wantedIptc, reinterpret_cast<const Exiv2::byte *>(metadata.iptc.constData()),
                                      uint32_t(metadata.iptc.size()));
    } catch (...) {
        return QStringLiteral("the original's metadata cannot be read");
    }
    if (wanted.empty() && !wantsXmp && !wantsIptc)
        return {};
    QStringList lost;
    try {
        Exiv2::Image::AutoPtr image = openBuffer(encoded);
        if (!image.get())
            return QStringLiteral("the written file cannot be read");
        if (!wanted.empty()) {
            const MetadataContainer container = containerOf(*image);
            makeExifUpright(wanted, pixelSize, QImage(), container);
            const Exiv2::ExifData &written = image->exifData();
            for (const Exiv2::Exifdatum &datum : wanted) {
                if (datum.groupName() == "Thumbnail")
                    continue;  // made anew from the new pixels
                // A TIFF's first directory describes its own pages: the writer sets those tags.
                if (container == MetadataContainer::Tiff && datum.groupName() == "Image" && !isDescriptiveTag(datum.tag()))
                    continue;
                const auto it = written.findKey(Exiv2::ExifKey(datum.key()));
                if (it == written.end() || it->count() != datum.count()
                    || (!isPlaceTag(datum.key()) && it->toString() != datum.toString()))
                    lost.append(QString::fromStdString(datum.key()));
            }
        }
        if (wantsXmp && image->xmpPacket().empty() && image->xmpData().empty())
            lost.append(QStringLiteral("XMP"));
        else if (wantsXmp)
            lost.append(changedXmp(wantedXmp, pixelSize, writtenXmp(encoded, *image)));
        if (wantsIptc && image->iptcData().empty())
            lost.append(QStringLiteral("IPTC"));
        else if (wantsIptc)
            lost.append(changedIptc(wantedIptc, image->iptcData()));
    } catch (...) {
        return QStringLiteral("the written file cannot be read");
    }
    return lost.join(QStringLiteral(", "));
}

QByteArray uprightExif(const QByteArray &exif, QSize pixelSize, MetadataContainer container)
{
    if (exif.isEmpty())
        return {};
    image::ensureExiv2();
    try {
        Exiv2::ExifData data;
        const Exiv2::ByteOrder order = Exiv2::ExifParser::decode(
            data, reinterpret_cast<const Exiv2::byte *>(exif.constData()), uint32_t(exif.size()));
        makeExifUpright(data, pixelSize, QImage(), container);
        return image::exifBlock(data, order == Exiv2::bigEndian);
    } catch (...) {
        return {};
    }
}

ExtendedAttributes readExtendedAttributes(const QString &path)
{
    const QByteArray native = lg::FileNames::toNative(path);
    QByteArray names;
    for (int attempt = 0; attempt < 3; ++attempt) {
        const ssize_t size = ::listxattr(native.constData(), nullptr, 0);
        if (size <= 0)
            return {};
        names.resize(size);
        const ssize_t got = ::listxattr(native.constData(), names.data(), size_t(size));
        if (got >= 0) {
            names.resize(got);
            break;
        }
        if (errno != ERANGE)
            return {};
        names.clear();  // grew meanwhile: ask again
    }
    ExtendedAttributes attributes;
    for (const QByteArray &name : names.split('\0')) {
        if (name.isEmpty())
            continue;
        const ssize_t size = ::getxattr(native.constData(), name.constData(), nullptr, 0);
        if (size < 0)
            continue;
        QByteArray value(size, Qt::Uninitialized);
        const ssize_t got = size ? ::getxattr(native.constData(), name.constData(), value.data(), size_t(size)) : 0;
        if (got < 0)
            continue;
        value.resize(got);
        attributes.append({name, value});
    }
    return attributes;
}

bool writeExtendedAttributes(int fd, const ExtendedAttributes &attributes, QString *error)
{
    for (const auto &[name, value] : attributes) {
        // Integrity hashes and signatures of the old content would not match
        // the new one (and could make it unreadable where they are enforced).
        if (name == "security.ima" || name == "security.evm")
            continue;
        if (::fsetxattr(fd, name.constData(), value.constData(), size_t(value.size()), 0) == 0)
            continue;
        const int reason = errno;
        // The file's own tags and its access list must stay; what belongs to the
        // system or a security module is set only where this process may.
        const bool required = name.startsWith("user.") || name == "system.posix_acl_access"
                              || name == "system.nfs4_acl";
        if (!required && (reason == EPERM || reason == EACCES || reason == ENOTSUP || reason == EOPNOTSUPP))
            continue;
        if (error)
            *error = QStringLiteral("Cannot keep the attribute %1: %2")
                         .arg(QString::fromUtf8(name), QString::fromLocal8Bit(std::strerror(reason)));
        return false;
    }
    return true;
}

} // namespace lg
