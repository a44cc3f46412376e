#pragma once
// The desktop's shared thumbnail cache on disk ($XDG_CACHE_HOME/thumbnails),
// which file managers and other viewers read and write too: PNG files named by
// the MD5 of the file's URI, in normal/ (128 pixels), large/ (256), x-large/
// (512) and xx-large/ (1024), each naming in text chunks the file it shows
// (Thumb::URI) and its modification time in seconds (Thumb::MTime), and here
// also its size in bytes (Thumb::Size). A file that cannot be made into a
// thumbnail gets an entry in fail/lumengallery-<version>/, so it is not tried
// again until it changes.
//
// What is found there is untrusted: a cache file is used only when it is a
// sound PNG no larger (in bytes and in pixels) than its folder allows and it
// names the file, its modification time and (when it holds one) its size; any
// other is ignored as missing. Writes go to a temporary file beside the entry
// (0600, in folders made 0700) renamed into place, so that no reader ever sees
// half a file. A write that fails is reported by its result only, and after
// the first failure no more writes are tried by this store. Files inside the
// thumbnail folder itself are never given a thumbnail.
//
// Every member may be called from any thread at the same time.
#include <QByteArray>
#include <QImage>
#include <QSize>
#include <QString>

#include <atomic>
#include <functional>
#include <optional>

namespace lg {

// What a thumbnail is checked against: the file as it is on disk.
struct FileStamp
{
    qint64 modified = 0;  // st_mtime, whole seconds since the epoch
    qint64 size = -1;     // bytes; -1 unknown (then not compared)
    // The stamp of the file at path now; none when it is not there.
    static std::optional<FileStamp> of(const QString &path);
};

class ThumbnailStore
{
public:
    // $XDG_CACHE_HOME/thumbnails, or ~/.cache/thumbnails without it.
    static QString defaultRoot();
    explicit ThumbnailStore(const QString &root = defaultRoot());

    QString root() const { return m_root; }

    // The pixel size of the smallest folder whose thumbnails show side pixels
    // without enlarging (128, 256, 512 or 1024); 0 above 1024.
    static int folderSideFor(int side);
    // The file's URI as the desktop writes it: file:// and the path with every
    // byte but the unreserved ones and !$&'()*+,/:=@ percent-encoded.
    static QByteArray uriOf(const QString &path);
    // Where the thumbnail of path at folderSide (a value of folderSideFor) lives.
    QString entryPath(const QString &path, int folderSide) const;
    // Where the record of a failed attempt at path's thumbnail lives.
    QString failurePath(const QString &path) const;
    // Whether path lies inside the thumbnail folder (never given a thumbnail).
    bool holds(const QString &path) const;

    // A sound, matching thumbnail of path from the folder for side or a larger
    // one, at the size it is stored; none when there is none.
    std::optional<QImage> find(const QString &path, const FileStamp &stamp, int side) const;
    // Whether an attempt at path's thumbnail failed when the file was as now.
    bool hasFailed(const QString &path, const FileStamp &stamp) const;

    // What is known of the file, written beside its thumbnail.
    struct Details
    {
        QString mimeType;   // empty: not written
        QSize pixelSize;    // of the picture; invalid: not written
    };
    // Writes image (at most folderSide on its longest side) as path's
    // thumbnail in the folder of folderSide. False when it was not written.
    bool save(const QString &path, const FileStamp &stamp, int folderSide, const QImage &image,
              const Details &details = {});
    // Records that path's thumbnail could not be made. False when not written.
    bool saveFailure(const QString &path, const FileStamp &stamp);
    // After the program renamed or moved a file from oldPath to newPath: its
    // entries (that still match stamp) are written anew under the new URI and
    // the old ones removed. False when nothing was carried over.
    bool carryOver(const QString &oldPath, const QString &newPath, const FileStamp &stamp);

    // True once a write failed: no more are tried.
    bool writesStopped() const { return m_writesStopped.load(); }

    // Test seam: called before each write of an entry with its final path; a
    // non-zero errno makes that write fail as if the system had refused it.
    using WriteFault = std::function<int(const QString &entry)>;
    static void setWriteFaultForTesting(WriteFault fault);

    // The largest cache file read, in bytes, for a folder of side pixels: the
    // picture's size uncompressed, four bytes a pixel, and 64 KiB for the rest.
    static qint64 readLimit(int side) { return qint64(side) * side * 4 + 64 * 1024; }

private:
    std::optional<QImage> readEntry(const QString &file, const QByteArray &uri, const FileStamp &stamp,
                                    int side) const;
    bool writeEntry(const QString &file, const QByteArray &png);
    bool makeFolder(const QString &folder);

    QString m_root;
    std::atomic<bool> m_writesStopped{false};
};

} // namespace lg
