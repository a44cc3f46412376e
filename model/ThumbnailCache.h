#pragma once
// The thumbnails and pixel sizes of media files, shared by the grid, the list,
// the viewer and the collage.
//
// Thumbnails are made on background threads, the most wanted first, as many
// at once as the bytes their decodes hold allow (DecodeBudget), and kept
// in two least-recently-used tiers bounded in bytes: decoded images ready to
// paint, and the same images compressed, so that a large folder stays cached
// without holding every thumbnail decoded. An entry is keyed by the file's
// path, modification time and size: a changed file gets a new thumbnail.
//
// Behind the two tiers lies the desktop's shared thumbnail cache on disk
// (lg::ThumbnailStore): a thumbnail found there, made by this program or
// another, is used as it is (scaled down to the size asked for) and no
// picture is decoded; only what is missing or stale is decoded, and written
// there afterwards on a thread of its own, once it has been delivered (copies
// larger than 256 pixels, the collage's, are read from there but made at the
// size asked for and kept in memory only). A file that could not be made
// into a thumbnail is recorded there and gets its file type's icon at once
// until it changes. A write that fails changes nothing shown; a full or
// read-only cache stops the writing for a while (lg::ThumbnailStore), and
// what was made meanwhile is written once it resumes. A video's entry
// is made from its frame at the folder's size, not from the smaller copy
// shown. Files are keyed by their exact bytes (see lg::FileNames).
//
// Everything here is called on the main thread; results come back on it.
#include <QByteArray>
#include <QCache>
#include <QHash>
#include <QImage>
#include <QObject>
#include <QPointer>
#include <QSet>
#include <QSize>
#include <QSizeF>
#include <QString>
#include <QVector>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>

class DecodeBudget;
class QThreadPool;
namespace lg {
class ImageSource;
class ThumbnailStore;
class Timer;
}
struct InitialDirectory;

// Which file, in which state, a thumbnail belongs to.
struct ThumbnailKey
{
    QString path;
    qint64 modified = -1;   // modification time, ms since the epoch; -1 unknown
    qint64 size = -1;       // bytes; -1 unknown
    // 0: the browser's thumbnail; otherwise a larger copy of at most this many
    // pixels on its longest side (the collage's slots), kept apart from it.
    int rendition = 0;

    friend bool operator==(const ThumbnailKey &a, const ThumbnailKey &b)
    {
        return a.modified == b.modified && a.size == b.size && a.rendition == b.rendition && a.path == b.path;
    }
};
size_t qHash(const ThumbnailKey &key, size_t seed = 0);

// The key of a listed item: its file's path with the modification time and
// size read when the folder was listed.
ThumbnailKey thumbnailKeyFor(const InitialDirectory &item);

// What a file tells about its pixel size, read from its header, never by
// decoding it: the oriented size of an image, or the displayed size of a video.
struct PixelInfo
{
    std::optional<QSize> imageSize;
    std::optional<QSizeF> videoSize;
};

// One piece of background work that a view asks for.
struct ThumbnailRequest
{
    ThumbnailKey key;
    bool isImage = true;     // false: a video, whose first frame is used
    int maxPixelSize = 200;  // longest side of an image thumbnail
    bool visible = false;    // on screen or about to be: kept decoded, not only compressed
};

class ThumbnailCache : public QObject
{
    Q_OBJECT
public:
    // The application's one cache (the thumbnailCache of the shared state).
    static ThumbnailCache &shared();

    explicit ThumbnailCache(QObject *parent = nullptr);
    ~ThumbnailCache() override;

    // What the decodes of pictures and videos running at once may hold, in
    // bytes (see DecodeBudget): threads are many, large pictures few. Two
    // 12 MP HEIC pictures fit (each decodes on several threads of its own
    // and holds some 60 MB, predicted at 69), with camera JPEGs, decoded
    // reduced, beside them.
    static constexpr qint64 defaultDecodeBytes = 160LL * 1024 * 1024;
    const DecodeBudget &decodeBudget() const { return *m_decodeBudget; }
    // The thumbnail of the picture at path, at most maxSide on its longest
    // side, decoded within the budget as the cache's own are, wanted now (the
    // sidebar's preview); none when it has none. Any thread but the main one:
    // it waits for room.
    std::optional<QImage> decodedWithinBudget(const QString &path, int maxSide) const;
    // A budget of bytes instead (tests); set while no work runs.
    void setDecodeLimitForTesting(qint64 bytes);

    // Byte limits of the decoded and the compressed tier.
    void setLimits(qint64 decodedBytes, qint64 storedBytes);
    static constexpr qint64 defaultDecodedBytes = 128LL * 1024 * 1024;
    static constexpr qint64 defaultStoredBytes = 192LL * 1024 * 1024;

    // The thumbnail of key, or none. A hit counts as a use; a thumbnail found
    // only compressed is decoded here (it is small) and kept decoded again.
    std::optional<QImage> thumbnail(const ThumbnailKey &key);
    // Whether key has a thumbnail in either tier (not counted as a use).
    bool contains(const ThumbnailKey &key) const;
    // Stores a thumbnail made elsewhere (for example a file-type icon).
    void insert(const ThumbnailKey &key, const QImage &image);
    // Whether making key's thumbnail failed and no icon could stand in for it.
    bool hasFailed(const ThumbnailKey &key) const { return m_failed.contains(key); }

    std::optional<PixelInfo> pixelInfo(const ThumbnailKey &key) const;

    // How soon a request is wanted: what is on screen now, or the rest of a
    // folder, made once nothing is wanted now.
    enum Urgency { Now, Later };
    // Asks for thumbnails and pixel sizes to be made in the background, in the
    // order given, replacing what this client asked for before with the same
    // urgency. Entries already at hand are skipped when their turn comes, but
    // those wanted now and kept only compressed are decoded in the background
    // then. Work already running goes on.
    void request(const QObject *client, const QVector<ThumbnailRequest> &thumbnails,
                 const QVector<ThumbnailRequest> &pixelInfos = {}, Urgency urgency = Now);
    // Forgets what client asked for (work already running goes on).
    void cancel(const QObject *client);
    // True while background work runs or waits.
    bool isWorking() const;

    // The thumbnail cache on disk: by default the desktop's (found when the
    // cache is made); none keeps thumbnails in memory only. Work already
    // running keeps the store it started with.
    void setStore(std::shared_ptr<lg::ThumbnailStore> store);
    std::shared_ptr<lg::ThumbnailStore> store() const { return m_store; }
    // After the program itself renamed or moved the file or folder oldPath to
    // newPath: the thumbnails on disk of the file, or of the files inside the
    // folder, move along, in the background (what is still at the old place,
    // a move not wholly done, keeps its own).
    void fileMoved(const QString &oldPath, const QString &newPath);
    // After the program itself deleted or trashed the file or folder oldPath
    // (now at whereNow in the Trash; empty when it is gone): its thumbnails on
    // disk in every size, and those of the files inside it, are removed in the
    // background (those of what is still there, a trash not wholly done, stay).
    void fileRemoved(const QString &oldPath, const QString &whereNow = {});
    // Thumbnails made by decoding their file, and found on disk (or recorded
    // there as impossible to make), since the cache was made.
    int decodeCount() const { return m_decodeCount; }
    int diskHitCount() const { return m_diskHitCount; }
    // True while thumbnails made are still being written to disk.
    bool isWriting() const { return m_pendingWrites.load() > 0; }

    // Empties both tiers and the pixel sizes and drops all waiting work;
    // results of work that was running are thrown away.
    void clear();

    int decodedCount() const { return int(m_decoded.count()); }
    int storedCount() const { return int(m_stored.count()); }
    qint64 decodedBytes() const { return m_decoded.totalCost(); }
    qint64 storedBytes() const { return m_stored.totalCost(); }

    // The bytes kept for one image in the compressed tier (JPEG, or PNG when
    // the image has transparency). Safe on any thread.
    static QByteArray compress(const QImage &image);
    // image in the form the views paint without converting it, in which every
    // thumbnail is kept and handed out: RGB32, or premultiplied ARGB32 when it
    // has transparency. Safe on any thread.
    static QImage paintReady(const QImage &image);

Q_SIGNALS:
    void thumbnailReady(const ThumbnailKey &key);
    void pixelInfoReady(const ThumbnailKey &key);
    // All waiting work is done.
    void idle();

private:
    enum class JobKind { Thumbnail, PixelInfo, Unpack };
    struct Job
    {
        ThumbnailRequest request;
        JobKind kind = JobKind::Thumbnail;
        Urgency urgency = Now;
    };
    struct Queue
    {
        QPointer<const QObject> client;
        Urgency urgency = Now;
        QVector<Job> jobs;
        qsizetype next = 0;
    };

    void schedule();
    bool takeNextJob(Job &job);
    void start(const Job &job);
    void thumbnailDone(quint64 generation, const ThumbnailRequest &request, const QImage &image,
                       const QByteArray &compressed, bool later, bool decoded);
    // Runs write on the writing thread, or here when that has too much
    // waiting and mayWriteHere; the caller counted it in m_pendingWrites.
    // What store could not write then is tried again once its writes resume.
    // Any thread.
    void writeAfterwards(std::shared_ptr<lg::ThumbnailStore> store, std::function<void()> write, bool mayWriteHere);
    // Arranges the try of what waits in store when its writes resume.
    void writesWait(const std::shared_ptr<lg::ThumbnailStore> &store);
    // Hands what waits in the store to the writing thread.
    void writeWaiting();
    void pixelInfoDone(quint64 generation, const ThumbnailKey &key, const PixelInfo &info, bool later);
    void unpackDone(quint64 generation, const ThumbnailKey &key, const QImage &image);
    // Whether a compressed thumbnail may still be decoded on the main thread
    // in this turn of the event loop (a few milliseconds at most).
    bool mayUnpackNow();
    void storeThumbnail(const ThumbnailKey &key, const QImage &image, const QByteArray &compressed, bool decoded);
    QImage fileTypeIcon(const QString &path) const;

    QCache<ThumbnailKey, QImage> m_decoded;
    QCache<ThumbnailKey, QByteArray> m_stored;
    QHash<ThumbnailKey, PixelInfo> m_pixelInfo;
    QSet<ThumbnailKey> m_failed;
    QSet<ThumbnailKey> m_runningThumbnails;
    QSet<ThumbnailKey> m_runningPixelInfos;
    QSet<ThumbnailKey> m_unpacking;       // compressed thumbnails decoded in the background
    QVector<ThumbnailKey> m_unpackQueue;  // waiting for that, before any other work
    struct
    {
        QImage source;
        QImage image;
        QByteArray compressed;
    } m_lastInserted;  // what insert made of its last picture
    qint64 m_unpackWindowStart = 0;
    qint64 m_unpackSpentNs = 0;
    QVector<Queue> m_queues;  // the most recent request first
    QThreadPool *m_pool = nullptr;
    QThreadPool *m_laterPool = nullptr;  // its threads at a lower priority
    QThreadPool *m_writePool = nullptr;  // one thread at a lower priority: writes to disk
    lg::Timer *m_writesResume = nullptr;  // when the store's stopped writes resume
    std::shared_ptr<lg::ThumbnailStore> m_store;
    std::shared_ptr<DecodeBudget> m_decodeBudget;
    std::atomic<int> m_pendingWrites{0};  // handed to the writing thread, not done yet
    int m_decodeCount = 0;
    int m_diskHitCount = 0;
    int m_running = 0;         // jobs handed to the pool and not back yet
    int m_runningUnpacks = 0;  // of which decoding compressed thumbnails
    int m_runningNow = 0;      // of which others wanted now
    quint64 m_generation = 0;
};
