#include "model/FileServices.h"

#include "platform/image/ImageSource.h"
#include "platform/files/names/FileNames.h"
#include "platform/desktop/Paths.h"
#include "platform/image/VideoInfo.h"
#include "platform/runtime/Console.h"

#include <QDebug>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <dirent.h>
#include <sys/stat.h>

using lg::printLine;

namespace {

// The largest side of the thumbnails that the list and the grid show for videos.
constexpr int mediaThumbnailSize = 150;

// The text that the diagnostic lines show for an image.
QString imageDescription(const QImage &image)
{
    QString text;
    QDebug(&text).nospace() << image;
    return text;
}

// A caller's pixel size as a whole number of pixels, at least one.
int pixelSizeFrom(double maxPixelSize)
{
    constexpr double largest = 1 << 20;
    if (!(maxPixelSize >= 1.0))  // also catches NaN
        return 1;
    return int(std::lround(std::min(maxPixelSize, largest)));
}

// The folder path as the prefix of its entries: one separator at the end.
QString entryPrefix(const QString &folderPath)
{
    qsizetype end = folderPath.size();
    while (end > 0 && folderPath.at(end - 1) == QLatin1Char('/'))
        --end;
    return folderPath.left(end) + QLatin1Char('/');
}

QString cacheFile(const char *name)
{
    return lg::Paths::cache() + QLatin1Char('/') + QLatin1String(name);
}

} // namespace

std::optional<QStringList> directoryContents(const QString &folderPath)
{
    const QByteArray encoded = lg::FileNames::toNative(folderPath);
    if (encoded.isEmpty())
        return std::nullopt;
    DIR *dir = ::opendir(encoded.constData());
    if (!dir)
        return std::nullopt;

    const QString prefix = entryPrefix(folderPath);
    QStringList paths;
    for (;;) {
        errno = 0;
        const dirent *entry = ::readdir(dir);
        if (!entry) {
            if (errno != 0) {
                // A listing that broke off halfway is no listing.
                ::closedir(dir);
                return std::nullopt;
            }
            break;
        }
        const char *name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0')))
            continue;
        // A name that is not valid UTF-8 keeps its bytes (see FileNames).
        paths.append(prefix + lg::FileNames::fromNative(QByteArray(name)));
    }
    ::closedir(dir);
    return paths;
}

std::optional<QImage> thumbnailForImageURL(const QUrl &url, double maxPixelSize)
{
    // The image source reads a name that is not UTF-8 by its bytes.
    const QString path = lg::FileNames::pathOf(url);
    if (path.isEmpty())
        return std::nullopt;
    const lg::ImageSource source(path);
    if (!source.isValid() || source.type().isEmpty())
        return std::nullopt;
    return thumbnailFromImageSource(source, maxPixelSize);
}

std::optional<QImage> thumbnailFromImageSource(const lg::ImageSource &source, double maxPixelSize)
{
    return thumbnailFromImageSource(source, maxPixelSize, lg::ThumbnailUse::Shown);
}

std::optional<QImage> thumbnailFromImageSource(const lg::ImageSource &source, double maxPixelSize, lg::ThumbnailUse use)
{
    std::optional<QImage> thumbnail = source.thumbnail(pixelSizeFrom(maxPixelSize), use);
    if (!thumbnail || thumbnail->isNull())
        return std::nullopt;
    // One image pixel per point.
    thumbnail->setDevicePixelRatio(1.0);
    return thumbnail;
}

std::optional<QImage> videoThumbnail(const QUrl &url)
{
    // The video readers know a file by a text name only, which for a name
    // that is not UTF-8 is its look-alike's: no frame then.
    const QString path = lg::FileNames::pathOf(url);
    if (path.isEmpty() || lg::FileNames::hasRawBytes(path))
        return std::nullopt;
    std::optional<QImage> frame = lg::VideoInfo::firstFrame(path, 0);
    if (!frame || frame->isNull())
        return std::nullopt;
    frame->setDevicePixelRatio(1.0);
    printLine(imageDescription(*frame));
    return frame;
}

std::optional<QImage> mediaThumbnail(const QUrl &url)
{
    return mediaThumbnail(url, mediaThumbnailSize, nullptr);
}

std::optional<QImage> mediaThumbnail(const QUrl &url, int frameSide, QImage *frameOut)
{
    return mediaThumbnail(url, frameSide, frameOut, {}, nullptr);
}

std::optional<QImage> mediaThumbnail(const QUrl &url, int frameSide, QImage *frameOut, const lg::DecodeTerms &terms,
                                     lg::DecodeReport *report)
{
    if (report)
        *report = {};
    // The frame comes reduced from the decoder: a large video never turns into
    // a full-size picture here. Small frames keep their size.
    // The video readers know a file by a text name only, which for a name
    // that is not UTF-8 is its look-alike's: no frame then.
    const QString path = lg::FileNames::pathOf(url);
    if (path.isEmpty() || lg::FileNames::hasRawBytes(path))
        return std::nullopt;
    std::optional<QImage> frame = lg::VideoInfo::firstFrame(path, std::max(frameSide, mediaThumbnailSize), terms, report);
    if (!frame || frame->isNull())
        return std::nullopt;
    frame->setDevicePixelRatio(1.0);
    if (frameOut)
        *frameOut = *frame;
    printLine(imageDescription(*frame));
    QImage thumbnail = *frame;
    if (std::max(frame->width(), frame->height()) > mediaThumbnailSize)
        thumbnail = frame->scaled(mediaThumbnailSize, mediaThumbnailSize, Qt::KeepAspectRatio,
                                  Qt::SmoothTransformation);
    if (thumbnail.isNull())
        return std::nullopt;
    thumbnail.setDevicePixelRatio(1.0);
    printLine(imageDescription(thumbnail));
    return thumbnail;
}

QString humanReadableSize(double bytes)
{
    if (!(bytes >= 0))  // negative counts, and NaN, count as nothing
        bytes = 0;
    if (bytes < 1000)
        return QString::asprintf("%lu bytes", static_cast<unsigned long>(bytes));
    float value = float(bytes / 1000.0);
    if (value < 1000)
        return QString::asprintf("%.1f KB", double(value));
    value /= 1000;
    if (value < 1000)
        return QString::asprintf("%.1f MB", double(value));
    value /= 1000;
    if (value < 1000)
        return QString::asprintf("%.1f GB", double(value));
    value /= 1000;
    return QString::asprintf("%.1f TB", double(value));
}

std::optional<bool> isAliasFile(const QString &path)
{
    const QByteArray encoded = lg::FileNames::toNative(path);
    struct stat st {};
    if (encoded.isEmpty() || ::lstat(encoded.constData(), &st) != 0)
        return std::nullopt;
    return S_ISLNK(st.st_mode);
}

QString cacheDatabasePath()
{
    return cacheFile("TempLG.sqlite");
}

QString cacheDatabaseWalPath()
{
    return cacheFile("TempLG.sqlite-wal");
}

QString cacheDatabaseShmPath()
{
    return cacheFile("TempLG.sqlite-shm");
}

QString cacheDatabaseLockPath()
{
    static const QString path = cacheFile("TempLG.sqlite.lock");
    return path;
}
