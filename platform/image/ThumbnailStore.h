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
// half a file; the temporaries of writes that never finished (the program was
// killed) are removed at the first write to their folder. The cache's own
// folders are reached from the root's handle, never through a link: a link in
// the place of large/ or fail/<program>/ fails the writes meant for it, and
// nothing is read, written or removed through it. A write that fails is
// reported by its result only; once the cache is full or read-only no more
// writes are tried by this store for a while (writeRetryMs): what is saved
// meanwhile, and the write that found it full, wait (up to waitingLimitBytes)
// for writeWaiting(); any other failure costs that entry alone. Files inside
// the thumbnail folders are never given a thumbnail, however they are
// reached: the folders are known by their device and inode, looked at on
// every call (never remembered: a folder removed and another made on its
// inode is told apart).
//
// Every member may be called from any thread at the same time.
#include <QByteArray>
#include <QImage>
#include <QList>
#include <QMutex>
#include <QSet>
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
    // Whether path lies inside the thumbnail folder or one of its size folders
    // (never given a thumbnail), also when it is reached through a link or
    // another mount: the folders are known by their device and inode.
    bool holds(const QString &path) const;

    // A sound, matching thumbnail of path from the folder for side or a larger
    // one, at the size it is stored; none when there is none.
    std::optional<QImage> find(const QString &path, const FileStamp &stamp, int side) const;
    // Whether an attempt at path's thumbnail failed when the file was as now.
    bool hasFailed(const QString &path, const FileStamp &stamp) const;
    // Why, as the record of that attempt says (empty: it says not); none when
    // there is no such record. A record may be another program's: only its
    // printable characters are kept, at most failureWordsLimit of them.
    std::optional<QString> failure(const QString &path, const FileStamp &stamp) const;
    static constexpr int failureWordsLimit = 200;

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
    // Records that path's thumbnail could not be made, and why (words for a
    // person, in Latin-1, cut to failureWordsLimit characters; empty: none).
    // False when not written.
    bool saveFailure(const QString &path, const FileStamp &stamp, const QString &why = {});
    // After the program renamed or moved a file from oldPath to newPath: its
    // entries (that still match stamp) are written anew under the new URI and
    // the old ones removed, unless something is still at oldPath (a move not
    // wholly done). False when nothing was carried over.
    bool carryOver(const QString &oldPath, const QString &newPath, const FileStamp &stamp);

    // After the program deleted or trashed the file at path: its entries in
    // every size folder and its failure record go (those naming it only).
    // False when there were none.
    bool remove(const QString &path);
    // Calls visit with the path relative to folder of every file inside it, at
    // any depth, following no link; stops at quit. A name that is not valid
    // UTF-8 comes with its bytes carried (FileNames), so that it names that
    // file and no other.
    static void forEachFileUnder(const QString &folder, const std::function<void(const QString &)> &visit);

    // Removes what writes that never finished left in the cache's folders
    // (each folder once a store; a write does the same for its own folder).
    void removeStrayTemporaries();

    // True while no writes are tried: for writeRetryMs after a write found the
    // cache full or read-only.
    bool writesStopped() const;
    // How long writes stay stopped, in ms of the clock below; 0 when they
    // are not.
    qint64 msUntilWritesResume() const;
    // Whether entries saved while writes were stopped wait to be written.
    bool hasWaiting() const;
    // Writes what waits, each entry only while its file is as when it was
    // saved; stops when writes stop again (the rest waits on) and at quit.
    // Returns how many were written. Nothing while writes are stopped.
    int writeWaiting();
    // The most bytes of encoded entries kept waiting; later ones are dropped.
    static constexpr qint64 waitingLimitBytes = 16LL * 1024 * 1024;
    static constexpr qint64 writeRetryMs = 60 * 1000;
    // The clock the pause of writes is measured by, in ms (tests); none: the
    // system's monotonic clock. Set before the store is used.
    void setClockForTesting(std::function<qint64()> msNow) { m_clock = std::move(msNow); }

    // Test seam: called before each write of an entry with its final path; a
    // non-zero errno makes that write fail as if the system had refused it.
    using WriteFault = std::function<int(const QString &entry)>;
    static void setWriteFaultForTesting(WriteFault fault);

    // The largest cache file read, in bytes, for a folder of side pixels: the
    // picture's size uncompressed, four bytes a pixel, and 64 KiB for the rest.
    static qint64 readLimit(int side) { return qint64(side) * side * 4 + 64 * 1024; }

private:
    // Where an entry lives: its folder relative to the root, and its name.
    struct Entry
    {
        QByteArray folder;
        QByteArray name;
        bool operator==(const Entry &) const = default;
    };
    // An entry saved while writes were stopped.
    struct Waiting
    {
        QString path;
        FileStamp stamp;
        Entry entry;
        QByteArray png;
    };
    static Entry entryOf(const QString &path, int folderSide);
    static Entry failureOf(const QString &path);
    // Handles (to close) of the root, made when create is set, and of a folder
    // below it reached without following links; -1 with errno set.
    int openRoot(bool create) const;
    int openFolder(const QByteArray &relative, bool create) const;
    std::optional<QByteArray> readFile(const Entry &entry, qint64 limit) const;
    std::optional<QImage> readEntry(const Entry &entry, const QByteArray &uri, const FileStamp &stamp,
                                    int side) const;
    // 0, or the errno of the step that failed.
    int writeEntry(const Entry &entry, const QByteArray &png);
    bool removeEntry(const Entry &entry);
    // Writes, or keeps for later while writes are stopped.
    bool commit(Waiting waiting);
    void keep(Waiting waiting);
    bool waitingFull() const;
    // folderFd: the folder's handle when open, or -1.
    void sweepOnce(const QByteArray &folder, int folderFd);
    QSet<QPair<quint64, quint64>> folderIdentities() const;

    QString m_root;
    qint64 now() const;
    // When writes stopped (now()), or none.
    std::atomic<qint64> m_writesStoppedAt{-1};
    std::function<qint64()> m_clock;
    QMutex m_sweptLock;
    QSet<QByteArray> m_swept;  // folders rid of stray temporaries
    mutable QMutex m_waitingLock;
    QList<Waiting> m_waiting;  // the first saved first
    qint64 m_waitingBytes = 0;
};

} // namespace lg
