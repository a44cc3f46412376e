#pragma once
// Stateless services for single files: folder listings, thumbnails of images
// and videos, byte counts for people, the alias test and the location of the
// private copy of the Photos library database. Every function may be called
// from any thread; each returns a new value owned by the caller.
#include <QImage>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <optional>

namespace lg {
class ImageSource;
enum class ThumbnailUse;
struct DecodeTerms;
struct DecodeReport;
}

// The full paths of a folder's entries (not recursive, hidden entries included,
// "." and ".." left out) in the order the file system gives them; none when the
// folder cannot be read. An empty folder gives an empty list.
std::optional<QStringList> directoryContents(const QString &folderPath);

// A thumbnail of the image file whose largest side is at most maxPixelSize,
// with the orientation applied; none when the file is not an image.
std::optional<QImage> thumbnailForImageURL(const QUrl &url, double maxPixelSize);

// The thumbnail of the source's first image, at most maxPixelSize on its
// largest side, with the orientation applied; none when it cannot be made.
// use: what it is for (lg::ThumbnailUse; shown, unless said).
std::optional<QImage> thumbnailFromImageSource(const lg::ImageSource &source, double maxPixelSize);
std::optional<QImage> thumbnailFromImageSource(const lg::ImageSource &source, double maxPixelSize, lg::ThumbnailUse use);

// The first frame of a video at its full size (rotation applied); prints the
// frame's description. None, printing nothing, when no frame can be read.
std::optional<QImage> videoThumbnail(const QUrl &url);

// The first frame of a video reduced to at most 150 pixels on its largest side;
// prints the frame's and the thumbnail's descriptions.
std::optional<QImage> mediaThumbnail(const QUrl &url);
// The same, from a frame decoded at up to frameSide pixels (at least 150) on
// its largest side, which is handed back in frame when asked for.
std::optional<QImage> mediaThumbnail(const QUrl &url, int frameSide, QImage *frame);
// The same, decoded within terms; report says how the decode ended.
std::optional<QImage> mediaThumbnail(const QUrl &url, int frameSide, QImage *frame, const lg::DecodeTerms &terms,
                                     lg::DecodeReport *report);

// A byte count in decimal units: "999 bytes", "1.0 KB", "12.3 MB", "1.0 GB", "1.0 TB".
QString humanReadableSize(double bytes);

// True when the path is a symbolic link, false for anything else; none when the
// path's own attributes cannot be read.
std::optional<bool> isAliasFile(const QString &path);

// The private copy of the Photos library database, in the application's cache folder.
QString cacheDatabasePath();      // .../TempLG.sqlite
QString cacheDatabaseWalPath();   // .../TempLG.sqlite-wal
QString cacheDatabaseShmPath();   // .../TempLG.sqlite-shm
QString cacheDatabaseLockPath();  // .../TempLG.sqlite.lock, fixed at first use
