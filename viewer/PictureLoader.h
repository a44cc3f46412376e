#pragma once
// Decodes the viewer's pictures on background threads and keeps the last
// few, so that the next and the previous image are ready before they are
// asked for. A picture is decoded to fit a bound (the screen) unless the full
// resolution is asked for; it is keyed by the file's path, modification time
// and size, so a changed file is decoded again. A path may carry the bytes of
// a name that is not valid UTF-8 (lg::FileNames): the file is read by them.
//
// A decode of the picture on show (showing()) that runs past its time keeps
// running while the window offers to keep waiting for it (waitOffered);
// keepWaiting() gives it its time again, stopWaiting(), moving to another
// picture, the quit or the loader's end ends its worker at once. A decode of
// any other picture ends at its time.
//
// Main thread only; results come back on it through ready().
#include <QHash>
#include <QImage>
#include <QList>
#include <QObject>
#include <QSet>
#include <QSize>
#include <QString>

#include <memory>
#include <optional>

class QThreadPool;

namespace lg::image {
class DecodeWait;
}

struct PictureKey
{
    QString path;
    qint64 modified = -1;   // ms since the epoch; -1 when the file cannot be read
    qint64 size = -1;
    QSize bound;            // what the picture is decoded to fit; empty: full size

    friend bool operator==(const PictureKey &a, const PictureKey &b)
    {
        return a.modified == b.modified && a.size == b.size && a.bound == b.bound && a.path == b.path;
    }
};
size_t qHash(const PictureKey &key, size_t seed = 0);

// A decoded picture: the image (empty when the file could not be decoded)
// and the picture's own oriented pixel size. refusal says why nothing was
// decoded when the header claims more than may be decoded (as a turn says it).
struct DecodedPicture
{
    QImage image;
    QSize pixelSize;
    QString refusal;
    bool ok() const { return !image.isNull(); }
};

class PictureLoader : public QObject
{
    Q_OBJECT
public:
    explicit PictureLoader(QObject *parent = nullptr);
    ~PictureLoader() override;

    // The key of the file at path, read from the disk now.
    static PictureKey keyFor(const QString &path, QSize bound);
    // Decodes the file of key on the calling thread (any thread); with wait,
    // a decode past its time waits for the word of wait (image/DecodeWait.h).
    static DecodedPicture decode(const PictureKey &key, const std::shared_ptr<lg::image::DecodeWait> &wait = {});
    // The long side to decode for a wanted maxSide of a picture whose long side
    // is longSide: a reduced-decode size (1/2, 1/4, 1/8) when maxSide is at
    // most 5% above it, else maxSide.
    static int snappedToReducedDecode(int maxSide, int longSide);

    std::optional<DecodedPicture> cached(const PictureKey &key);
    bool isPending(const PictureKey &key) const { return m_pending.contains(key); }
    // Starts decoding key in the background unless it is cached or on its way;
    // a higher priority runs first.
    void request(const PictureKey &key, int priority = 0);
    // Keeps at most this many bytes of pictures (the least recently used go).
    void setCapacity(qint64 bytes);
    qint64 usedBytes() const { return m_used; }
    int count() const { return int(m_entries.size()); }
    // Forgets every picture; decodes on their way are dropped when they arrive.
    void clear();
    // Waits until no decode runs any more (tests and benchmarks).
    void waitForIdle();

    // The picture on show is the file at path: a decode of it past its time is
    // offered to be waited for; one waited for of another picture is ended.
    void showing(const QString &path);
    // The word on the offer for key's decode: its time starts again, or its
    // worker is ended at once.
    void keepWaiting(const PictureKey &key);
    void stopWaiting(const PictureKey &key);

Q_SIGNALS:
    // key's picture is in the cache now (decoded or failed).
    void ready(const PictureKey &key);
    // key's decode, of the picture on show, runs past its time: the window
    // offers to keep waiting for it or to stop it.
    void waitOffered(const PictureKey &key);
    // The offer for key's decode is over (answered, or the decode ended).
    void waitOver(const PictureKey &key);

private:
    void overdue(const PictureKey &key);
    void endOffer();

    void store(const PictureKey &key, const DecodedPicture &picture);
    void trim();

    QThreadPool *m_pool = nullptr;
    QHash<PictureKey, DecodedPicture> m_entries;
    QList<PictureKey> m_recent;   // least recently used first
    QSet<PictureKey> m_pending;
    QHash<PictureKey, std::shared_ptr<lg::image::DecodeWait>> m_waits;   // of the decodes under way
    QSet<PictureKey> m_waitedFor;            // decodes offered to be waited for
    std::optional<PictureKey> m_offered;     // the one offered now
    QString m_showing;
    qint64 m_used = 0;
    qint64 m_capacity = 256LL * 1024 * 1024;
    quint64 m_generation = 0;
};
