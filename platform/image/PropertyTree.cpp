// The information pane's property tree of an image file.
#include "platform/image/PropertyTree.h"

#include "platform/files/names/FileNames.h"
#include "platform/image/ImageSource.h"
#include "platform/image/PropertyProbe.h"
#include "platform/base/Exiv2Setup.h"
#include "platform/base/IsoBoxes.h"
#include "platform/base/TiffStructure.h"
#include "platform/image/VideoInfo.h"

#include <QDateTime>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QStringList>

#include <exiv2/exiv2.hpp>

#include <array>
#include <cmath>

namespace lg {

namespace {

// group, key, source. Sources: "header:..." the decoders' header read;
// "Exif..."/"Iptc..." an exiv2 key; "jfif:", "png:", "gif:" the file's blocks.
constexpr std::array vocabulary{
    PropertyKey{"", "FileSize", "header:file size in bytes"},
    PropertyKey{"", "PixelWidth", "header:stored width"},
    PropertyKey{"", "PixelHeight", "header:stored height"},
    PropertyKey{"", "DPIWidth", "Exif.Image.XResolution (inch units) or JFIF density"},
    PropertyKey{"", "DPIHeight", "Exif.Image.YResolution (inch units) or JFIF density"},
    PropertyKey{"", "Depth", "header:bits per sample"},
    PropertyKey{"", "ColorModel", "header:RGB, Gray, CMYK, ..."},
    PropertyKey{"", "HasAlpha", "header:1 when there is an alpha channel, else 0"},
    PropertyKey{"", "Orientation", "header:Exif orientation 1..8"},
    PropertyKey{"", "Duration", "video:seconds"},
    PropertyKey{"", "Codec", "video:the picture's codec, as FFmpeg names it"},
    PropertyKey{"", "CreationDate", "video:the container's creation time, local time"},

    PropertyKey{"{Exif}", "ExposureTime", "Exif.Photo.ExposureTime"},
    PropertyKey{"{Exif}", "FNumber", "Exif.Photo.FNumber"},
    PropertyKey{"{Exif}", "ExposureProgram", "Exif.Photo.ExposureProgram"},
    PropertyKey{"{Exif}", "ISOSpeedRatings", "Exif.Photo.ISOSpeedRatings"},
    PropertyKey{"{Exif}", "ExifVersion", "Exif.Photo.ExifVersion"},
    PropertyKey{"{Exif}", "DateTimeOriginal", "Exif.Photo.DateTimeOriginal"},
    PropertyKey{"{Exif}", "DateTimeDigitized", "Exif.Photo.DateTimeDigitized"},
    PropertyKey{"{Exif}", "ComponentsConfiguration", "Exif.Photo.ComponentsConfiguration"},
    PropertyKey{"{Exif}", "ShutterSpeedValue", "Exif.Photo.ShutterSpeedValue"},
    PropertyKey{"{Exif}", "ApertureValue", "Exif.Photo.ApertureValue"},
    PropertyKey{"{Exif}", "BrightnessValue", "Exif.Photo.BrightnessValue"},
    PropertyKey{"{Exif}", "ExposureBiasValue", "Exif.Photo.ExposureBiasValue"},
    PropertyKey{"{Exif}", "MaxApertureValue", "Exif.Photo.MaxApertureValue"},
    PropertyKey{"{Exif}", "SubjectDistance", "Exif.Photo.SubjectDistance"},
    PropertyKey{"{Exif}", "MeteringMode", "Exif.Photo.MeteringMode"},
    PropertyKey{"{Exif}", "LightSource", "Exif.Photo.LightSource"},
    PropertyKey{"{Exif}", "Flash", "Exif.Photo.Flash"},
    PropertyKey{"{Exif}", "FocalLength", "Exif.Photo.FocalLength"},
    PropertyKey{"{Exif}", "SubjectArea", "Exif.Photo.SubjectArea"},
    PropertyKey{"{Exif}", "UserComment", "Exif.Photo.UserComment"},
    PropertyKey{"{Exif}", "SubsecTimeOriginal", "Exif.Photo.SubSecTimeOriginal"},
    PropertyKey{"{Exif}", "SubsecTimeDigitized", "Exif.Photo.SubSecTimeDigitized"},
    PropertyKey{"{Exif}", "FlashPixVersion", "Exif.Photo.FlashpixVersion"},
    PropertyKey{"{Exif}", "ColorSpace", "Exif.Photo.ColorSpace"},
    PropertyKey{"{Exif}", "PixelXDimension", "Exif.Photo.PixelXDimension"},
    PropertyKey{"{Exif}", "PixelYDimension", "Exif.Photo.PixelYDimension"},
    PropertyKey{"{Exif}", "SensingMethod", "Exif.Photo.SensingMethod"},
    PropertyKey{"{Exif}", "SceneType", "Exif.Photo.SceneType"},
    PropertyKey{"{Exif}", "ExposureMode", "Exif.Photo.ExposureMode"},
    PropertyKey{"{Exif}", "WhiteBalance", "Exif.Photo.WhiteBalance"},
    PropertyKey{"{Exif}", "DigitalZoomRatio", "Exif.Photo.DigitalZoomRatio"},
    PropertyKey{"{Exif}", "FocalLenIn35mmFilm", "Exif.Photo.FocalLengthIn35mmFilm"},
    PropertyKey{"{Exif}", "SceneCaptureType", "Exif.Photo.SceneCaptureType"},
    PropertyKey{"{Exif}", "Contrast", "Exif.Photo.Contrast"},
    PropertyKey{"{Exif}", "Saturation", "Exif.Photo.Saturation"},
    PropertyKey{"{Exif}", "Sharpness", "Exif.Photo.Sharpness"},
    PropertyKey{"{Exif}", "BodySerialNumber", "Exif.Photo.BodySerialNumber"},
    PropertyKey{"{Exif}", "LensSpecification", "Exif.Photo.LensSpecification"},
    PropertyKey{"{Exif}", "LensMake", "Exif.Photo.LensMake"},
    PropertyKey{"{Exif}", "LensModel", "Exif.Photo.LensModel"},

    PropertyKey{"{TIFF}", "Make", "Exif.Image.Make"},
    PropertyKey{"{TIFF}", "Model", "Exif.Image.Model"},
    PropertyKey{"{TIFF}", "Orientation", "Exif.Image.Orientation"},
    PropertyKey{"{TIFF}", "XResolution", "Exif.Image.XResolution"},
    PropertyKey{"{TIFF}", "YResolution", "Exif.Image.YResolution"},
    PropertyKey{"{TIFF}", "ResolutionUnit", "Exif.Image.ResolutionUnit"},
    PropertyKey{"{TIFF}", "Software", "Exif.Image.Software"},
    PropertyKey{"{TIFF}", "DateTime", "Exif.Image.DateTime"},
    PropertyKey{"{TIFF}", "Artist", "Exif.Image.Artist"},
    PropertyKey{"{TIFF}", "Copyright", "Exif.Image.Copyright"},
    PropertyKey{"{TIFF}", "ImageDescription", "Exif.Image.ImageDescription"},
    PropertyKey{"{TIFF}", "HostComputer", "Exif.Image.HostComputer"},

    PropertyKey{"{GPS}", "GPSVersion", "Exif.GPSInfo.GPSVersionID"},
    PropertyKey{"{GPS}", "LatitudeRef", "Exif.GPSInfo.GPSLatitudeRef"},
    PropertyKey{"{GPS}", "Latitude", "Exif.GPSInfo.GPSLatitude (decimal degrees)"},
    PropertyKey{"{GPS}", "LongitudeRef", "Exif.GPSInfo.GPSLongitudeRef"},
    PropertyKey{"{GPS}", "Longitude", "Exif.GPSInfo.GPSLongitude (decimal degrees)"},
    PropertyKey{"{GPS}", "AltitudeRef", "Exif.GPSInfo.GPSAltitudeRef"},
    PropertyKey{"{GPS}", "Altitude", "Exif.GPSInfo.GPSAltitude"},
    PropertyKey{"{GPS}", "TimeStamp", "Exif.GPSInfo.GPSTimeStamp (HH:mm:ss)"},
    PropertyKey{"{GPS}", "DateStamp", "Exif.GPSInfo.GPSDateStamp"},
    PropertyKey{"{GPS}", "SpeedRef", "Exif.GPSInfo.GPSSpeedRef"},
    PropertyKey{"{GPS}", "Speed", "Exif.GPSInfo.GPSSpeed"},
    PropertyKey{"{GPS}", "ImgDirectionRef", "Exif.GPSInfo.GPSImgDirectionRef"},
    PropertyKey{"{GPS}", "ImgDirection", "Exif.GPSInfo.GPSImgDirection"},
    PropertyKey{"{GPS}", "DestBearingRef", "Exif.GPSInfo.GPSDestBearingRef"},
    PropertyKey{"{GPS}", "DestBearing", "Exif.GPSInfo.GPSDestBearing"},
    PropertyKey{"{GPS}", "HPositioningError", "Exif.GPSInfo.GPSHPositioningError"},
    PropertyKey{"{GPS}", "MapDatum", "Exif.GPSInfo.GPSMapDatum"},

    PropertyKey{"{IPTC}", "ObjectName", "Iptc.Application2.ObjectName"},
    PropertyKey{"{IPTC}", "Keywords", "Iptc.Application2.Keywords (all, joined)"},
    PropertyKey{"{IPTC}", "Caption/Abstract", "Iptc.Application2.Caption"},
    PropertyKey{"{IPTC}", "Headline", "Iptc.Application2.Headline"},
    PropertyKey{"{IPTC}", "By-line", "Iptc.Application2.Byline"},
    PropertyKey{"{IPTC}", "Credit", "Iptc.Application2.Credit"},
    PropertyKey{"{IPTC}", "Source", "Iptc.Application2.Source"},
    PropertyKey{"{IPTC}", "CopyrightNotice", "Iptc.Application2.Copyright"},
    PropertyKey{"{IPTC}", "City", "Iptc.Application2.City"},
    PropertyKey{"{IPTC}", "Province/State", "Iptc.Application2.ProvinceState"},
    PropertyKey{"{IPTC}", "Country/PrimaryLocationName", "Iptc.Application2.CountryName"},
    PropertyKey{"{IPTC}", "DateCreated", "Iptc.Application2.DateCreated"},
    PropertyKey{"{IPTC}", "TimeCreated", "Iptc.Application2.TimeCreated"},

    PropertyKey{"{JFIF}", "JFIFVersion", "jfif:APP0 version, major,minor"},
    PropertyKey{"{JFIF}", "DensityUnit", "jfif:0 none, 1 per inch, 2 per cm"},
    PropertyKey{"{JFIF}", "XDensity", "jfif:horizontal density"},
    PropertyKey{"{JFIF}", "YDensity", "jfif:vertical density"},

    PropertyKey{"{PNG}", "InterlaceType", "png:IHDR interlace method"},
    PropertyKey{"{PNG}", "XPixelsPerMeter", "png:pHYs (unit metre)"},
    PropertyKey{"{PNG}", "YPixelsPerMeter", "png:pHYs (unit metre)"},
    PropertyKey{"{PNG}", "Gamma", "png:gAMA / 100000"},
    PropertyKey{"{PNG}", "Title", "png:tEXt/iTXt Title"},
    PropertyKey{"{PNG}", "Author", "png:tEXt/iTXt Author"},
    PropertyKey{"{PNG}", "Description", "png:tEXt/iTXt Description"},
    PropertyKey{"{PNG}", "Copyright", "png:tEXt/iTXt Copyright"},
    PropertyKey{"{PNG}", "CreationTime", "png:tEXt/iTXt Creation Time"},
    PropertyKey{"{PNG}", "Software", "png:tEXt/iTXt Software"},
    PropertyKey{"{PNG}", "Comment", "png:tEXt/iTXt Comment"},

    PropertyKey{"{GIF}", "HasGlobalColorMap", "gif:logical screen flag, 1 or 0"},
    PropertyKey{"{GIF}", "LoopCount", "gif:NETSCAPE2.0 loop count (0 forever)"},
    PropertyKey{"{GIF}", "DelayTime", "gif:first frame's delay in seconds"},
};

constexpr qint64 headerBytes = 4 * 1024 * 1024;

QString number(double value)
{
    if (!std::isfinite(value))
        return {};
    return QString::number(value, 'g', QLocale::FloatingPointShortest);
}

QString exivText(const std::string &text)
{
    // Texts are stored padded with NULs and blanks by some cameras.
    QString out = QString::fromUtf8(text.c_str());
    return out.trimmed();
}

// "0231" gives 2,3,1; "0100" gives 1,0.
QString versionText(const Exiv2::Value &value)
{
    std::string digits;
    for (long i = 0; i < value.count() && i < 4; ++i) {
        const long v = value.toLong(i);
        if (v < '0' || v > '9')
            return {};
        digits.push_back(char(v));
    }
    if (digits.size() != 4)
        return {};
    QStringList parts{QString::number((digits[0] - '0') * 10 + (digits[1] - '0')), QString::number(digits[2] - '0')};
    if (digits[3] != '0')
        parts.append(QString::number(digits[3] - '0'));
    return parts.join(QLatin1Char(','));
}

QString degreesText(const Exiv2::Value &value)
{
    if (value.count() < 3)
        return {};
    double degrees = 0;
    for (int i = 0; i < 3; ++i) {
        const Exiv2::Rational r = value.toRational(i);
        if (r.second == 0)
            return {};
        degrees += double(r.first) / double(r.second) / std::pow(60.0, i);
    }
    return number(degrees);
}

QString timeText(const Exiv2::Value &value)
{
    if (value.count() < 3)
        return {};
    double parts[3] = {};
    for (int i = 0; i < 3; ++i) {
        const Exiv2::Rational r = value.toRational(i);
        if (r.second == 0)
            return {};
        parts[i] = double(r.first) / double(r.second);
    }
    const double seconds = parts[2];
    const QString secondsText = seconds == std::floor(seconds) ? QStringLiteral("%1").arg(int(seconds), 2, 10, QLatin1Char('0'))
                                                              : QStringLiteral("%1").arg(seconds, 5, 'f', 2, QLatin1Char('0'));
    return QStringLiteral("%1:%2:").arg(int(parts[0]), 2, 10, QLatin1Char('0')).arg(int(parts[1]), 2, 10, QLatin1Char('0'))
        + secondsText;
}

QString valueText(const QString &key, const Exiv2::Metadatum &datum, const Exiv2::ExifData *exif)
{
    const Exiv2::Value &value = datum.value();
    if (key == QLatin1String("ExifVersion") || key == QLatin1String("FlashPixVersion"))
        return versionText(value);
    if (key == QLatin1String("Latitude") || key == QLatin1String("Longitude"))
        return degreesText(value);
    if (key == QLatin1String("TimeStamp"))
        return timeText(value);
    if (key == QLatin1String("UserComment"))
        return exivText(datum.print(exif));
    switch (value.typeId()) {
    case Exiv2::asciiString:
    case Exiv2::string:
    case Exiv2::date:
    case Exiv2::time:
    case Exiv2::comment:
    case Exiv2::xmpText:
        return exivText(value.toString());
    case Exiv2::unsignedRational:
    case Exiv2::signedRational:
    case Exiv2::tiffFloat:
    case Exiv2::tiffDouble: {
        if (value.count() > 64)
            return {};
        QStringList parts;
        for (long i = 0; i < value.count(); ++i) {
            if (value.typeId() == Exiv2::unsignedRational || value.typeId() == Exiv2::signedRational) {
                const Exiv2::Rational r = value.toRational(i);
                if (r.second == 0)
                    return {};
                parts.append(number(double(r.first) / double(r.second)));
            } else {
                parts.append(number(double(value.toFloat(i))));
            }
        }
        return parts.join(QLatin1Char(','));
    }
    default: {
        // Integers, bytes and undefined bytes: each element as a number.
        if (value.count() > 64)
            return {};
        QStringList parts;
        for (long i = 0; i < value.count(); ++i)
            parts.append(QString::number(value.toLong(i)));
        return parts.join(QLatin1Char(','));
    }
    }
}

using Values = QList<QPair<QString, QString>>;   // key, value of one group
using image::IsoBox;
using image::isoBoxAt;
using image::isoBoxesIn;
using image::IsoReader;

// The TIFF structure of the Exif item of a HEIF file (HEIC, AVIF), found
// through the item table (iinf) and the item locations (iloc) of its meta
// box; empty when there is none. Exiv2 of some versions misses it where the
// locations have a base offset, as libheif writes them.
QByteArray heifExif(const QString &path)
{
    constexpr qint64 largestMeta = 16 * 1024 * 1024;
    constexpr quint64 largestExif = 16 * 1024 * 1024;
    QFile file(path);
    if (!file.open(QIODevice::ReadOnly))
        return {};
    const QByteArray start = file.read(32);
    if (start.mid(4, 4) != "ftyp")
        return {};
    // The top-level boxes, read by their headers only.
    QByteArray meta;
    for (qint64 at = 0; at + 8 <= file.size();) {
        if (!file.seek(at))
            return {};
        const std::optional<IsoBox> box = isoBoxAt(file.read(16), 0, file.size() - at);
        if (!box)
            return {};
        if (box->type == "meta") {
            if (box->end > largestMeta || !file.seek(at + box->body))
                return {};
            meta = file.read(box->end - box->body);
            break;
        }
        at += box->end;
    }
    if (meta.size() < 4)
        return {};
    // meta is a full box: its version and flags come first.
    const QList<IsoBox> children = isoBoxesIn(meta, 4, meta.size());
    std::optional<quint64> exifItem;
    for (const IsoBox &box : children) {
        if (box.type != "iinf")
            continue;
        IsoReader read{meta, box.body, box.end};
        const int version = int(read.number(1));
        read.skip(3);
        read.number(version == 0 ? 2 : 4);   // the count; the boxes that follow tell it
        if (!read.ok)
            return {};
        for (const IsoBox &entry : isoBoxesIn(meta, read.at, box.end)) {
            if (entry.type != "infe")
                continue;
            IsoReader info{meta, entry.body, entry.end};
            const int infoVersion = int(info.number(1));
            info.skip(3);
            if (infoVersion < 2)
                continue;
            const quint64 id = info.number(infoVersion == 2 ? 2 : 4);
            info.skip(2);   // protection index
            if (info.ok && info.at + 4 <= info.end && meta.mid(info.at, 4) == "Exif") {
                exifItem = id;
                break;
            }
        }
    }
    if (!exifItem)
        return {};
    QByteArray idat;
    for (const IsoBox &box : children)
        if (box.type == "idat")
            idat = meta.mid(box.body, box.end - box.body);
    QByteArray payload;
    for (const IsoBox &box : children) {
        if (box.type != "iloc")
            continue;
        IsoReader read{meta, box.body, box.end};
        const int version = int(read.number(1));
        read.skip(3);
        const quint64 sizes = read.number(2);
        const int offsetSize = int(sizes >> 12), lengthSize = int((sizes >> 8) & 15), baseSize = int((sizes >> 4) & 15);
        const int indexSize = version == 1 || version == 2 ? int(sizes & 15) : 0;
        const quint64 count = read.number(version < 2 ? 2 : 4);
        for (quint64 item = 0; read.ok && item < count; ++item) {
            const quint64 id = read.number(version < 2 ? 2 : 4);
            const int method = version == 1 || version == 2 ? int(read.number(2) & 15) : 0;
            read.skip(2);   // data reference index
            const quint64 base = read.number(baseSize);
            const quint64 extents = read.number(2);
            for (quint64 e = 0; read.ok && e < extents; ++e) {
                read.number(indexSize);
                const quint64 offset = read.number(offsetSize);
                const quint64 length = read.number(lengthSize);
                if (!read.ok || id != *exifItem)
                    continue;
                if (length == 0 || length > largestExif || quint64(payload.size()) + length > largestExif)
                    return {};
                if (method == 0) {
                    if (!file.seek(qint64(base + offset)))
                        return {};
                    const QByteArray part = file.read(qint64(length));
                    if (quint64(part.size()) != length)
                        return {};
                    payload += part;
                } else if (method == 1 && base + offset + length <= quint64(idat.size())) {
                    payload += idat.mid(qsizetype(base + offset), qsizetype(length));
                } else {
                    return {};
                }
            }
        }
    }
    // The item starts with the offset of the TIFF header within what follows
    // ("Exif\0\0" before it, as a rule).
    IsoReader read{payload, 0, payload.size()};
    const quint64 tiffAt = read.number(4);
    if (!read.ok || tiffAt > quint64(payload.size() - 4))
        return {};
    const QByteArray tiff = payload.mid(qsizetype(4 + tiffAt));
    return tiff.startsWith(QByteArray("II*\0", 4)) || tiff.startsWith(QByteArray("MM\0*", 4)) ? tiff : QByteArray();
}

// image: the file at path as exiv2 read it (null: exiv2 could not).
void addExiv2Groups(Exiv2::Image *image, const QString &path, QHash<QString, Values> &groups, std::optional<double> *dpi)
{
    image::ensureExiv2();
    try {
        Exiv2::ExifData heif;
        const Exiv2::IptcData noIptc;
        if (!image || image->exifData().empty()) {
            const QByteArray tiff = heifExif(path);
            if (!tiff.isEmpty())
                Exiv2::ExifParser::decode(heif, reinterpret_cast<const Exiv2::byte *>(tiff.constData()),
                                          uint32_t(tiff.size()));
        }
        if (!image && heif.empty())
            return;
        const Exiv2::ExifData &exif = heif.empty() ? image->exifData() : heif;
        const Exiv2::IptcData &iptc = image ? image->iptcData() : noIptc;
        for (const PropertyKey &entry : vocabulary) {
            const std::string source(entry.source);
            const QString group = QString::fromLatin1(entry.group);
            const QString key = QString::fromLatin1(entry.key);
            const std::string exivKey = source.substr(0, source.find(' '));
            QString text;
            try {
                if (source.rfind("Exif.", 0) == 0) {
                    const auto found = exif.findKey(Exiv2::ExifKey(exivKey));
                    if (found != exif.end())
                        text = valueText(key, *found, &exif);
                } else if (source.rfind("Iptc.", 0) == 0) {
                    QStringList all;
                    for (const Exiv2::Iptcdatum &datum : iptc)
                        if (datum.key() == exivKey)
                            all.append(exivText(datum.toString()));
                    text = all.join(QLatin1Char(','));
                } else {
                    continue;
                }
            } catch (const std::exception &) {
                continue;
            }
            if (text.isEmpty() || text.size() > 1024)
                continue;
            groups[group].append({key, text});
        }
        const auto xres = exif.findKey(Exiv2::ExifKey("Exif.Image.XResolution"));
        const auto yres = exif.findKey(Exiv2::ExifKey("Exif.Image.YResolution"));
        const auto unit = exif.findKey(Exiv2::ExifKey("Exif.Image.ResolutionUnit"));
        const bool inches = unit == exif.end() || unit->toLong() == 2;
        if (inches && xres != exif.end() && yres != exif.end()) {
            const Exiv2::Rational x = xres->toRational(), y = yres->toRational();
            if (x.second != 0 && y.second != 0) {
                dpi[0] = double(x.first) / double(x.second);
                dpi[1] = double(y.first) / double(y.second);
            }
        }
    } catch (...) {
        return;
    }
}

void addJfif(const QByteArray &b, Values &out, std::optional<double> *dpi)
{
    // SOI, then APP0 "JFIF\0" version(2) units(1) xdensity(2) ydensity(2).
    if (b.size() < 18 || quint8(b[0]) != 0xff || quint8(b[1]) != 0xd8 || quint8(b[2]) != 0xff
        || quint8(b[3]) != 0xe0 || b.mid(6, 5) != QByteArray("JFIF\0", 5))
        return;
    const int units = quint8(b[13]);
    const int x = image::be16(b.constData() + 14), y = image::be16(b.constData() + 16);
    out.append({QStringLiteral("JFIFVersion"), QStringLiteral("%1,%2").arg(quint8(b[11])).arg(quint8(b[12]))});
    out.append({QStringLiteral("DensityUnit"), QString::number(units)});
    out.append({QStringLiteral("XDensity"), QString::number(x)});
    out.append({QStringLiteral("YDensity"), QString::number(y)});
    if (units == 1 && !dpi[0]) {
        dpi[0] = x;
        dpi[1] = y;
    }
}

void addPng(const QByteArray &b, Values &out)
{
    if (!b.startsWith(QByteArray("\x89PNG\r\n\x1a\n", 8)))
        return;
    QHash<QString, QString> values;
    static const QHash<QString, QString> textKeys{
        {QStringLiteral("Title"), QStringLiteral("Title")},       {QStringLiteral("Author"), QStringLiteral("Author")},
        {QStringLiteral("Description"), QStringLiteral("Description")},
        {QStringLiteral("Copyright"), QStringLiteral("Copyright")},
        {QStringLiteral("Creation Time"), QStringLiteral("CreationTime")},
        {QStringLiteral("Software"), QStringLiteral("Software")}, {QStringLiteral("Comment"), QStringLiteral("Comment")}};
    qsizetype at = 8;
    while (at + 12 <= b.size()) {
        const quint32 length = image::be32(b.constData() + at);
        const QByteArray type = b.mid(at + 4, 4);
        if (length > quint32(b.size()) || at + 12 + qsizetype(length) > b.size())
            break;
        const QByteArray data = b.mid(at + 8, qsizetype(length));
        if (type == "IHDR" && data.size() >= 13)
            values.insert(QStringLiteral("InterlaceType"), QString::number(quint8(data[12])));
        else if (type == "pHYs" && data.size() >= 9 && quint8(data[8]) == 1) {
            values.insert(QStringLiteral("XPixelsPerMeter"), QString::number(image::be32(data.constData())));
            values.insert(QStringLiteral("YPixelsPerMeter"), QString::number(image::be32(data.constData() + 4)));
        } else if (type == "gAMA" && data.size() >= 4) {
            values.insert(QStringLiteral("Gamma"), number(image::be32(data.constData()) / 100000.0));
        } else if (type == "tEXt" || type == "iTXt") {
            const qsizetype nul = data.indexOf('\0');
            if (nul > 0) {
                const QString keyword = QString::fromLatin1(data.left(nul));
                QString text;
                if (type == "tEXt") {
                    text = QString::fromLatin1(data.mid(nul + 1));
                } else if (nul + 2 < data.size() && data[nul + 1] == 0) {
                    // Uncompressed iTXt: flag, method, language\0, translated keyword\0, text.
                    const qsizetype language = data.indexOf('\0', nul + 3);
                    const qsizetype translated = language < 0 ? -1 : data.indexOf('\0', language + 1);
                    if (translated >= 0)
                        text = QString::fromUtf8(data.mid(translated + 1));
                }
                if (textKeys.contains(keyword) && !text.isEmpty() && text.size() <= 1024)
                    values.insert(textKeys.value(keyword), text.trimmed());
            }
        } else if (type == "IDAT" || type == "IEND") {
            break;
        }
        at += 12 + qsizetype(length);
    }
    for (const PropertyKey &entry : vocabulary)
        if (qstrcmp(entry.group, "{PNG}") == 0 && values.contains(QString::fromLatin1(entry.key)))
            out.append({QString::fromLatin1(entry.key), values.value(QString::fromLatin1(entry.key))});
}

void addGif(const QByteArray &b, Values &out)
{
    if (b.size() < 13 || !(b.startsWith("GIF87a") || b.startsWith("GIF89a")))
        return;
    out.append({QStringLiteral("HasGlobalColorMap"), QString::number((quint8(b[10]) & 0x80) ? 1 : 0)});
    const qsizetype netscape = b.indexOf("NETSCAPE2.0");
    if (netscape > 0 && netscape + 15 < b.size() && quint8(b[netscape + 11]) == 3 && quint8(b[netscape + 12]) == 1)
        out.append({QStringLiteral("LoopCount"), QString::number(image::le16(b.constData() + netscape + 13))});
    const qsizetype control = b.indexOf(QByteArray("\x21\xf9\x04", 3));
    if (control > 0 && control + 6 < b.size())
        out.append({QStringLiteral("DelayTime"), number(image::le16(b.constData() + control + 4) / 100.0)});
}

} // namespace

QList<PropertyKey> propertyVocabulary()
{
    return QList<PropertyKey>(vocabulary.begin(), vocabulary.end());
}

namespace image {

PaneValues readPaneValues(const QString &path)
{
    return paneValuesOf(readMetadataFrom(path).get(), path);
}

PaneValues paneValuesOf(Exiv2::Image *image, const QString &path)
{
    QHash<QString, Values> groups;
    std::optional<double> dpi[2];
    addExiv2Groups(image, path, groups, dpi);
    PaneValues values;
    for (const PropertyKey &entry : vocabulary) {
        const QString group = QString::fromLatin1(entry.group);
        if (groups.contains(group) && (values.groups.isEmpty() || values.groups.last().first != group))
            values.groups.append({group, groups.value(group)});
    }
    values.dpiWidth = dpi[0];
    values.dpiHeight = dpi[1];
    return values;
}

} // namespace image

namespace {

PropertyNode leafNode(const QString &key, const QString &value)
{
    PropertyNode node;
    node.key = key;
    node.label = key;
    node.value = value;
    return node;
}

// What a video holds: its size, its picture's size as shown, duration, codec
// and the creation time its container records.
std::optional<QList<PropertyNode>> videoTree(const QString &path)
{
    const std::optional<VideoProbe> video = VideoInfo::probe(path);
    if (!video)
        return std::nullopt;
    QList<PropertyNode> tree;
    tree.append(leafNode(QStringLiteral("FileSize"), QString::number(QFileInfo(path).size())));
    tree.append(leafNode(QStringLiteral("PixelWidth"), QString::number(video->size.width())));
    tree.append(leafNode(QStringLiteral("PixelHeight"), QString::number(video->size.height())));
    if (video->durationSeconds > 0)
        tree.append(leafNode(QStringLiteral("Duration"), number(std::round(video->durationSeconds * 1000) / 1000)));
    if (!video->codec.isEmpty())
        tree.append(leafNode(QStringLiteral("Codec"), video->codec));
    if (!video->creationTime.isEmpty()) {
        const QDateTime created = QDateTime::fromString(video->creationTime, Qt::ISODateWithMs);
        tree.append(leafNode(QStringLiteral("CreationDate"),
                             created.isValid() ? created.toLocalTime().toString(QStringLiteral("yyyy-MM-dd HH:mm:ss"))
                                               : video->creationTime));
    }
    return tree;
}

} // namespace

std::optional<QList<PropertyNode>> readPropertyTree(const QString &path)
{
    // What the libraries read of it, in one request: the header, the metadata, the pane's values.
    const ImageSource source = image::readingAhead(path, image::ProbePart::Metadata | image::ProbePart::PaneValues);
    const std::optional<QSize> oriented = source.pixelSize();
    if (!source.isValid() || !oriented)
        return videoTree(path);
    const ImageProperties facts = source.properties();
    // The stored size: a quarter-turned orientation swaps it back.
    const QSize stored = facts.orientation >= 5 && facts.orientation <= 8 ? oriented->transposed() : *oriented;

    QByteArray head;
    QFile file(path);
    if (file.open(QIODevice::ReadOnly))
        head = file.read(headerBytes);

    const image::PaneValues pane = image::probedFacts(source, quint32(image::ProbePart::PaneValues)).pane;
    QHash<QString, Values> groups;
    for (const auto &[group, values] : pane.groups)
        groups.insert(group, values);
    std::optional<double> dpi[2] = {pane.dpiWidth, pane.dpiHeight};
    addJfif(head, groups[QStringLiteral("{JFIF}")], dpi);
    addPng(head, groups[QStringLiteral("{PNG}")]);
    addGif(head, groups[QStringLiteral("{GIF}")]);

    QHash<QString, QString> top;
    top.insert(QStringLiteral("FileSize"), QString::number(QFileInfo(path).size()));
    top.insert(QStringLiteral("PixelWidth"), QString::number(stored.width()));
    top.insert(QStringLiteral("PixelHeight"), QString::number(stored.height()));
    if (dpi[0] && dpi[1]) {
        top.insert(QStringLiteral("DPIWidth"), number(*dpi[0]));
        top.insert(QStringLiteral("DPIHeight"), number(*dpi[1]));
    }
    if (facts.depth > 0)
        top.insert(QStringLiteral("Depth"), QString::number(facts.depth));
    if (!facts.colorModel.isEmpty())
        top.insert(QStringLiteral("ColorModel"), facts.colorModel);
    top.insert(QStringLiteral("HasAlpha"), QString::number(facts.hasAlpha ? 1 : 0));
    top.insert(QStringLiteral("Orientation"), QString::number(facts.orientation));

    QList<PropertyNode> tree;
    const auto leaf = leafNode;
    QString lastGroup;
    for (const PropertyKey &entry : vocabulary) {
        const QString group = QString::fromLatin1(entry.group);
        const QString key = QString::fromLatin1(entry.key);
        if (group.isEmpty()) {
            if (top.contains(key))
                tree.append(leaf(key, top.value(key)));
            continue;
        }
        if (group == lastGroup)
            continue;
        lastGroup = group;
        const Values &values = groups.value(group);
        if (values.isEmpty())
            continue;
        PropertyNode node;
        node.key = group;
        node.label = QString(group).remove(QLatin1Char('{')).remove(QLatin1Char('}'));
        for (const auto &[key2, value] : values)
            node.children.append(leaf(key2, value));
        tree.append(node);
    }
    return tree;
}

} // namespace lg
