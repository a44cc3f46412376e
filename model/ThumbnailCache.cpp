#include "model/ThumbnailCache.h"

#include "model/SharedState.h"
#include "model/FileTypeIcon.h"
#include "model/DecodeBudget.h"

#include "model/FileServices.h"
#include "model/MediaRecords.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"
#include "platform/runtime/Pools.h"
#include "platform/runtime/Timer.h"
#include "platform/image/DecodeGrants.h"
#include "platform/image/DecodeWorkers.h"
#include "platform/image/ImageSource.h"
#include "platform/image/ThumbnailStore.h"
#include "platform/image/VideoInfo.h"

#include <QBuffer>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QIcon>
#include <QImageWriter>
#include <QMimeDatabase>
#include <QThreadPool>

#include <algorithm>
#include <functional>
#include <cerrno>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// A compressed thumbnail decoded (the compressed tier holds JPEG, or PNG for
// pictures with transparency), ready to paint.
QImage decompress(const QByteArray &bytes)
{
    return ThumbnailCache::paintReady(QImage::fromData(bytes, bytes.startsWith("\x89PNG") ? "png" : "jpeg"));
}

// Lowers the calling thread's scheduling priority, once: work made ahead of
// need leaves the processor to the window first. On Linux the nice value is
// the thread's own (QThread's LowPriority changes nothing there).
void yieldToTheWindow()
{
    thread_local bool lowered = false;
    if (lowered)
        return;
    lowered = true;
    const id_t thread = id_t(::gettid());
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, thread);
    if (errno == 0)
        ::setpriority(PRIO_PROCESS, thread, std::min(19, nice + 10));
}

// The longest side of the video frames that mediaThumbnail makes.
constexpr int videoThumbnailSide = 150;
// The largest folder of the disk cache that thumbnails made here are kept in
// (large/); larger ones made by other programs are read all the same.
constexpr int keptSideLimit = 256;

// image reduced to at most side pixels on its longest side (never enlarged).
QImage fitted(const QImage &image, int side)
{
    if (side <= 0 || std::max(image.width(), image.height()) <= side)
        return image;
    return image.scaled(side, side, Qt::KeepAspectRatio, Qt::SmoothTransformation);
}

// What a background worker made of one thumbnail request.
struct Made
{
    QImage shown;           // at most the requested size; null: no picture
    bool decoded = false;   // the file itself was decoded (nothing usable on disk)
    // What is written to disk once shown was delivered.
    int folderSide = 0;     // 0: nothing
    lg::FileStamp stamp;
    QImage stored;          // null: a failure record, when failed is set
    bool failed = false;
    QString why;            // of a failure record: how the decode ended, when it said
    lg::ThumbnailStore::Details details;
};


using WorkerDecode = lg::image::GrantedDecode;

// What decode makes, granted its prediction (predicted bytes) and held
// within budget (urgent: wanted now). A decode that needs more than its
// prediction is tried once more, alone, within what the program and its
// workers may hold in all (lg::image::grantedDecode). report says how the
// last decode ended. Any thread.
std::optional<QImage> budgetedDecode(qint64 predicted, const WorkerDecode &decode, DecodeBudget::Hold &hold,
                                     DecodeBudget *budget, bool urgent, lg::DecodeReport *report)
{
    if (!hold.take(predicted, urgent)) {
        *report = {lg::DecodeEnd::Stopped, QString()};
        return std::nullopt;
    }
    lg::DecodeTerms terms;
    terms.timeLimitMs = lg::image::thumbnailDecodeTimeLimitMs;
    // Alone: nothing else is decoded meanwhile.
    const auto alone = [&] {
        hold.release();
        return hold.take(std::max(budget ? budget->limit() : 0, predicted), urgent);
    };
    return lg::image::grantedDecode(decode, predicted, lg::image::GrantBeyond::WithinWhole, terms, report, alone);
}

// The picture at path, opened once what a library's read of its header
// holds fits within the hold's budget (urgent: wanted now), which is free
// again once it is open; none when the wait ended at quit. Any thread.
std::optional<lg::ImageSource> openedWithinBudget(const QString &path, DecodeBudget::Hold &hold, bool urgent)
{
    if (const qint64 bytes = lg::ImageSource::openingProbeBytes(path); bytes > 0 && !hold.take(bytes, urgent))
        return std::nullopt;
    const lg::ImageSource source(path);
    hold.release();
    return source;
}

// A picture's thumbnail by budgetedDecode.
std::optional<QImage> budgetedThumbnail(const lg::ImageSource &source, int side, lg::ThumbnailUse use,
                                        DecodeBudget::Hold &hold, DecodeBudget *budget, bool urgent,
                                        lg::DecodeReport *report)
{
    const WorkerDecode decode = [&](const lg::DecodeTerms &terms, lg::DecodeReport *made) {
        return source.thumbnail(side, use, terms, made);
    };
    return budgetedDecode(source.thumbnailDecodeBytes(side, use), decode, hold, budget, urgent, report);
}

// Whether what a decode's end says is the file's own: a failure to record.
// A decode ended by the quit, or that found no worker, is tried another time.
bool endedByTheFile(const lg::DecodeReport &report)
{
    return report.end != lg::DecodeEnd::Stopped && report.end != lg::DecodeEnd::Unavailable;
}

// The thumbnail of request: from the disk cache when it holds a sound one for
// the file as it is, else decoded, once what the decode holds fits within
// budget (urgent: wanted now). Any thread.
Made makeThumbnail(const ThumbnailRequest &request, const lg::ThumbnailStore *store, DecodeBudget *budget,
                   bool urgent)
{
    Made made;
    const QString &path = request.key.path;
    const int shownSide = request.isImage ? request.maxPixelSize : videoThumbnailSide;
    int folderSide = store && !store->holds(path) ? lg::ThumbnailStore::folderSideFor(shownSide) : 0;
    std::optional<lg::FileStamp> stamp;
    if (folderSide > 0) {
        // The file as it is now, by its length in bytes (the listing's size is
        // what it takes on disk): the stamp every program compares.
        stamp = lg::FileStamp::of(path);
        if (!stamp)
            folderSide = 0;
    }
    if (folderSide > 0) {
        if (std::optional<QImage> found = store->find(path, *stamp, shownSide)) {
            made.shown = fitted(*found, shownSide);
            return made;
        }
        if (store->hasFailed(path, *stamp))
            return made;
    }

    made.decoded = true;
    // Thumbnails of the grid's and the list's sizes are made at the size of
    // their folder and kept there. Larger copies (the collage's slots) would
    // cost a larger decode than asked for: they are made at the size asked
    // for and kept in memory only.
    const bool keep = folderSide > 0 && folderSide <= keptSideLimit;
    std::optional<QImage> image;
    QImage stored;  // what is kept on disk; null: image itself
    const QUrl url = lg::FileNames::urlOf(path);
    // Held until the decode and what it made are gone (the source below
    // keeps a picture decoded whole until it goes).
    DecodeBudget::Hold hold(budget);
    const auto nothing = [] {
        Made none;
        none.decoded = true;
        return none;
    };
    if (!request.isImage && lg::FileNames::hasRawBytes(path)) {
        // The video readers know the file by a name that is text only, which
        // would be a look-alike's: its file type's icon stands in.
        folderSide = 0;
    } else if (!request.isImage) {
        // The entry kept is made from a frame at its folder's size, not from
        // the smaller copy shown.
        QImage frame;
        lg::DecodeReport report;
        const WorkerDecode decode = [&](const lg::DecodeTerms &terms, lg::DecodeReport *made) {
            return mediaThumbnail(url, keep ? folderSide : 0, keep ? &frame : nullptr, terms, made);
        };
        image = budgetedDecode(lg::VideoInfo::firstFrameDecodeBytes, decode, hold, budget, urgent, &report);
        if (!endedByTheFile(report))
            return nothing();   // the quit, or no worker: tried again another time
        if (!report.words.isEmpty())
            lg::printLine(QStringLiteral("No thumbnail of %1: %2.").arg(path, report.words));
        made.why = report.words;
        if (image && keep)
            stored = fitted(frame, folderSide);
    } else {
        // Kept: made at the size of the folder it is kept in, shown reduced.
        // Kept in the cache: a much larger picture may be decoded without
        // the filters its reduction undoes (never what is shown at its size).
        const std::optional<lg::ImageSource> opened = openedWithinBudget(path, hold, urgent);
        if (!opened)
            return nothing();   // the quit
        const lg::ImageSource &source = *opened;
        const int side = keep ? folderSide : request.maxPixelSize;
        const lg::ThumbnailUse use = keep ? lg::ThumbnailUse::Cached : lg::ThumbnailUse::Shown;
        lg::DecodeReport report;
        image = budgetedThumbnail(source, side, use, hold, budget, urgent, &report);
        if (!endedByTheFile(report))
            return nothing();   // the quit, or no worker: tried again another time
        if (!report.words.isEmpty())
            lg::printLine(QStringLiteral("No thumbnail of %1: %2.").arg(path, report.words));
        made.why = report.words;
        if (image && (image->isNull() || source.type().isEmpty()))
            image.reset();
        if (image) {
            image->setDevicePixelRatio(1.0);
            if (keep)
                made.details.pixelSize = source.pixelSize().value_or(QSize());
        }
    }
    if (image && !image->isNull())
        made.shown = fitted(*image, shownSide);
    if (folderSide > 0) {
        made.folderSide = folderSide;
        made.stamp = *stamp;
        if (!made.shown.isNull() && keep) {
            made.stored = stored.isNull() ? *image : stored;
        } else if (!made.shown.isNull()) {
            made.folderSide = 0;
        } else {
            // Recorded only while the file is still the one tried: one that
            // went or changed meanwhile is tried again.
            const std::optional<lg::FileStamp> now = lg::FileStamp::of(path);
            made.failed = now && now->modified == stamp->modified && now->size == stamp->size;
            if (!made.failed)
                made.folderSide = 0;
        }
    }
    return made;
}

// Writes what makeThumbnail left to write. Any thread.
void writeMade(lg::ThumbnailStore &store, const QString &path, const Made &made)
{
    // While writes are stopped the store keeps what is saved for later.
    if (made.folderSide == 0)
        return;
    if (made.failed)
        (void)store.saveFailure(path, made.stamp, made.why);
    else if (!made.stored.isNull()) {
        lg::ThumbnailStore::Details details = made.details;
        details.mimeType = QMimeDatabase().mimeTypeForFile(path, QMimeDatabase::MatchExtension).name();
        (void)store.save(path, made.stamp, made.folderSide, made.stored, details);
    }
}

} // namespace

size_t qHash(const ThumbnailKey &key, size_t seed)
{
    return qHashMulti(seed, key.path, key.modified, key.size, key.rendition);
}

ThumbnailKey thumbnailKeyFor(const InitialDirectory &item)
{
    ThumbnailKey key;
    // By the file's exact bytes: a name that is not valid UTF-8 never shares
    // a key with a look-alike.
    if (item.url)
        key.path = lg::FileNames::pathOf(*item.url);
    if (item.file) {
        key.modified = item.file->Modifieddate.isValid() ? item.file->Modifieddate.toMSecsSinceEpoch() : -1;
        key.size = qint64(item.file->size);
    }
    return key;
}

ThumbnailCache &ThumbnailCache::shared()
{
    // Made on first use and kept to the end of the program, so that work still
    // running at exit never reports to a deleted object.
    static ThumbnailCache *cache = new ThumbnailCache;
    return *cache;
}

ThumbnailCache::ThumbnailCache(QObject *parent) : QObject(parent)
{
    m_decoded.setMaxCost(defaultDecodedBytes);
    m_stored.setMaxCost(defaultStoredBytes);
    // Leave the main thread a core of its own where there are several. What
    // is made ahead of need runs on threads of its own at a lower priority,
    // which leave the processor to the window and to what is wanted now. At
    // quit the work under way ends before the windows go; what has not
    // started yet passes at once.
    m_pool = lg::pools::thumbnailsNow(this);
    m_laterPool = lg::pools::thumbnailsAhead(this);
    m_writePool = lg::pools::thumbnailWrites(this);
    m_decodeBudget = std::make_shared<DecodeBudget>(defaultDecodeBytes);
    m_store = std::make_shared<lg::ThumbnailStore>();
    // What writes cut short by an earlier run left behind goes first.
    ++m_pendingWrites;
    writeAfterwards(m_store, [store = m_store] { store->removeStrayTemporaries(); }, false);
    m_writesResume = new lg::Timer(this);
    m_writesResume->setSingleShot(true);
    connect(m_writesResume, &lg::Timer::timeout, this, &ThumbnailCache::writeWaiting);
}

ThumbnailCache::~ThumbnailCache()
{
    ++m_generation;
    m_queues.clear();
    m_decodeBudget->close();
    m_pool->waitForDone();
    m_laterPool->waitForDone();
    m_writePool->waitForDone();
}

std::optional<QImage> ThumbnailCache::decodedWithinBudget(const QString &path, int maxSide) const
{
    const std::shared_ptr<DecodeBudget> budget = m_decodeBudget;
    DecodeBudget::Hold hold(budget.get());
    const std::optional<lg::ImageSource> source = openedWithinBudget(path, hold, true);
    if (!source)
        return std::nullopt;
    lg::DecodeReport report;
    std::optional<QImage> image = budgetedThumbnail(*source, maxSide, lg::ThumbnailUse::Shown, hold, budget.get(), true, &report);
    if (!image || image->isNull())
        return std::nullopt;
    return image;
}

void ThumbnailCache::setDecodeLimitForTesting(qint64 bytes)
{
    // Work already running keeps the budget it holds from.
    m_decodeBudget = std::make_shared<DecodeBudget>(bytes);
}

void ThumbnailCache::setLimits(qint64 decodedBytes, qint64 storedBytes)
{
    m_decoded.setMaxCost(std::max<qint64>(0, decodedBytes));
    m_stored.setMaxCost(std::max<qint64>(0, storedBytes));
}

std::optional<QImage> ThumbnailCache::thumbnail(const ThumbnailKey &key)
{
    if (const QImage *image = m_decoded.object(key))
        return *image;
    const QByteArray *bytes = m_stored.object(key);
    if (!bytes)
        return std::nullopt;
    if (!mayUnpackNow()) {
        // Too many to decode in one go (a fast scroll over a large folder):
        // the rest are decoded in the background and reported when ready.
        if (!m_unpacking.contains(key)) {
            m_unpacking.insert(key);
            m_unpackQueue.append(key);
            schedule();
        }
        return std::nullopt;
    }
    QElapsedTimer timer;
    timer.start();
    QImage image = decompress(*bytes);
    m_unpackSpentNs += timer.nsecsElapsed();
    if (image.isNull()) {
        m_stored.remove(key);
        return std::nullopt;
    }
    m_decoded.insert(key, new QImage(image), image.sizeInBytes());
    return image;
}

bool ThumbnailCache::mayUnpackNow()
{
    // At most 4 ms of decoding in any 16 ms: the thumbnails near the screen
    // are decoded in the background ahead of their paint, this is for the
    // few that are not ready yet.
    static QElapsedTimer clock;
    if (!clock.isValid())
        clock.start();
    const qint64 now = clock.nsecsElapsed();
    if (now - m_unpackWindowStart > 16'000'000) {
        m_unpackWindowStart = now;
        m_unpackSpentNs = 0;
    }
    return m_unpackSpentNs < 4'000'000;
}

bool ThumbnailCache::contains(const ThumbnailKey &key) const
{
    return m_decoded.contains(key) || m_stored.contains(key);
}

void ThumbnailCache::insert(const ThumbnailKey &key, const QImage &image)
{
    if (image.isNull())
        return;
    // The same picture again (a file-type icon standing in for many files):
    // converted and compressed once.
    if (m_lastInserted.source.cacheKey() != image.cacheKey()) {
        m_lastInserted.source = image;
        m_lastInserted.image = paintReady(image);
        m_lastInserted.compressed = compress(m_lastInserted.image);
    }
    storeThumbnail(key, m_lastInserted.image, m_lastInserted.compressed, true);
}

QImage ThumbnailCache::paintReady(const QImage &image)
{
    if (image.isNull())
        return image;
    const QImage::Format format =
        image.hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    return image.format() == format ? image : image.convertToFormat(format);
}

std::optional<PixelInfo> ThumbnailCache::pixelInfo(const ThumbnailKey &key) const
{
    const auto found = m_pixelInfo.constFind(key);
    if (found == m_pixelInfo.constEnd())
        return std::nullopt;
    return *found;
}

QByteArray ThumbnailCache::compress(const QImage &image)
{
    QByteArray bytes;
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::WriteOnly);
    const bool alpha = image.hasAlphaChannel();
    QImageWriter writer(&buffer, alpha ? "png" : "jpeg");
    if (!alpha)
        writer.setQuality(90);
    if (!writer.write(image))
        return QByteArray();
    return bytes;
}

void ThumbnailCache::storeThumbnail(const ThumbnailKey &key, const QImage &image, const QByteArray &compressed,
                                    bool decoded)
{
    m_failed.remove(key);
    // Thumbnails made ahead of need are kept compressed only, so that they do
    // not push the ones on screen out of the decoded tier.
    if (decoded || compressed.isEmpty())
        m_decoded.insert(key, new QImage(image), image.sizeInBytes());
    if (!compressed.isEmpty())
        m_stored.insert(key, new QByteArray(compressed), compressed.size());
}

void ThumbnailCache::request(const QObject *client, const QVector<ThumbnailRequest> &thumbnails,
                             const QVector<ThumbnailRequest> &pixelInfos, Urgency urgency)
{
    m_queues.removeIf([client, urgency](const Queue &q) {
        return q.client.isNull() || (q.client == client && q.urgency == urgency);
    });
    Queue queue;
    queue.client = client;
    queue.urgency = urgency;
    queue.jobs.reserve(thumbnails.size() + pixelInfos.size());
    // Pixel sizes are quick header reads: the first ones (on screen: callers
    // list those first) go before the thumbnails, the rest after them. What is
    // at hand already is skipped when its turn comes.
    const qsizetype pixelsFirst = std::min<qsizetype>(pixelInfos.size(), 64);
    for (qsizetype i = 0; i < pixelsFirst; ++i)
        queue.jobs.append(Job{pixelInfos.at(i), JobKind::PixelInfo});
    for (const ThumbnailRequest &r : thumbnails)
        queue.jobs.append(Job{r, JobKind::Thumbnail});
    for (qsizetype i = pixelsFirst; i < pixelInfos.size(); ++i)
        queue.jobs.append(Job{pixelInfos.at(i), JobKind::PixelInfo});
    if (queue.jobs.isEmpty()) {
        schedule();
        return;
    }
    // What is wanted now goes first, the latest request first of all.
    if (urgency == Now)
        m_queues.prepend(std::move(queue));
    else
        m_queues.append(std::move(queue));
    schedule();
}

void ThumbnailCache::cancel(const QObject *client)
{
    m_queues.removeIf([client](const Queue &q) { return q.client.isNull() || q.client == client; });
}

void ThumbnailCache::setStore(std::shared_ptr<lg::ThumbnailStore> store)
{
    m_store = std::move(store);
}

void ThumbnailCache::fileMoved(const QString &oldPath, const QString &newPath)
{
    if (!m_store)
        return;
    ++m_pendingWrites;
    writeAfterwards(m_store, [store = m_store, oldPath, newPath] {
        auto carry = [&](const QString &from, const QString &to) {
            if (const std::optional<lg::FileStamp> stamp = lg::FileStamp::of(to))
                (void)store->carryOver(from, to, *stamp);
        };
        // By the path's bytes: a folder whose name is not UTF-8 is itself.
        const QByteArray moved = lg::FileNames::toNative(newPath);
        struct stat st {};
        if (::lstat(moved.constData(), &st) == 0 && S_ISDIR(st.st_mode)) {
            // A folder's thumbnails are those of the files inside it.
            lg::ThumbnailStore::forEachFileUnder(newPath, [&](const QString &relative) {
                carry(oldPath + QLatin1Char('/') + relative, newPath + QLatin1Char('/') + relative);
            });
        } else if (::stat(moved.constData(), &st) == 0 && S_ISREG(st.st_mode)) {
            carry(oldPath, newPath);
        }
    },
                    false);
}

void ThumbnailCache::fileRemoved(const QString &oldPath, const QString &whereNow)
{
    if (!m_store)
        return;
    ++m_pendingWrites;
    writeAfterwards(m_store, [store = m_store, oldPath, whereNow] {
        // What is still there (a trash not wholly done) keeps its entries.
        const auto removeGone = [&store](const QString &path) {
            if (!lg::existsOrLink(path))
                (void)store->remove(path);
        };
        removeGone(oldPath);
        // A folder in the Trash: the entries of the files it held go too.
        struct stat st {};
        if (!whereNow.isEmpty() && ::lstat(lg::FileNames::toNative(whereNow).constData(), &st) == 0
            && S_ISDIR(st.st_mode)) {
            lg::ThumbnailStore::forEachFileUnder(whereNow, [&](const QString &relative) {
                removeGone(oldPath + QLatin1Char('/') + relative);
            });
        }
    },
                    false);
}

void ThumbnailCache::writeAfterwards(std::shared_ptr<lg::ThumbnailStore> store, std::function<void()> write,
                                     bool mayWriteHere)
{
    // Whether what could not be written (writes stopped) waits for a later
    // try, which is then arranged on the main thread.
    const auto afterwards = [this, store] {
        if (store && store->hasWaiting())
            QMetaObject::invokeMethod(this, [this, store] { writesWait(store); }, Qt::QueuedConnection);
    };
    // Past this many waiting, a worker making thumbnails ahead of need writes
    // its own: what waits to be written stays within a few megabytes, and
    // what is wanted now is never held up by writing.
    constexpr int mostWaiting = 64;
    if (mayWriteHere && m_pendingWrites.load() > mostWaiting) {
        if (!lg::isShuttingDown()) {
            write();
            afterwards();
        }
        --m_pendingWrites;
        return;
    }
    m_writePool->start([write = std::move(write), afterwards, this] {
        if (!lg::isShuttingDown()) {
            yieldToTheWindow();
            write();
            afterwards();
        }
        --m_pendingWrites;
    });
}

void ThumbnailCache::writesWait(const std::shared_ptr<lg::ThumbnailStore> &store)
{
    // Tried once the store writes again (a store set since keeps its own).
    if (store != m_store || m_writesResume->isActive())
        return;
    m_writesResume->start(int(std::clamp<qint64>(store->msUntilWritesResume(), 0, lg::ThumbnailStore::writeRetryMs)));
}

void ThumbnailCache::writeWaiting()
{
    if (!m_store || !m_store->hasWaiting())
        return;
    ++m_pendingWrites;
    writeAfterwards(m_store, [store = m_store] { store->writeWaiting(); }, false);
}

bool ThumbnailCache::isWorking() const
{
    return m_running > 0 || !m_queues.isEmpty() || !m_unpackQueue.isEmpty();
}

void ThumbnailCache::clear()
{
    ++m_generation;
    m_queues.clear();
    m_decoded.clear();
    m_stored.clear();
    m_pixelInfo.clear();
    m_failed.clear();
    m_runningThumbnails.clear();
    m_runningPixelInfos.clear();
    m_unpacking.clear();
    m_unpackQueue.clear();
}

bool ThumbnailCache::takeNextJob(Job &job)
{
    while (!m_unpackQueue.isEmpty()) {
        const ThumbnailKey key = m_unpackQueue.takeFirst();
        if (m_decoded.contains(key) || !m_stored.contains(key)) {
            m_unpacking.remove(key);
            continue;
        }
        job = Job{ThumbnailRequest{key, true, 0, true}, JobKind::Unpack};
        return true;
    }
    // No more jobs at a time than threads; what is wanted now does not wait
    // for work made ahead of need, which runs at a lower priority.
    const int limit = m_pool->maxThreadCount();
    const bool roomNow = m_runningNow < limit;
    const bool roomLater = m_running - m_runningUnpacks < limit;
    for (qsizetype q = 0; q < m_queues.size();) {
        Queue &queue = m_queues[q];
        if (queue.client.isNull()) {
            m_queues.removeAt(q);
            continue;
        }
        if (!(queue.urgency == Now ? roomNow : roomLater)) {
            ++q;
            continue;
        }
        while (queue.next < queue.jobs.size()) {
            const Job &candidate = queue.jobs.at(queue.next++);
            const ThumbnailKey &key = candidate.request.key;
            if (candidate.kind == JobKind::PixelInfo) {
                if (m_pixelInfo.contains(key) || m_runningPixelInfos.contains(key))
                    continue;
            } else if (m_decoded.contains(key) || m_failed.contains(key) || m_runningThumbnails.contains(key)) {
                continue;
            } else if (m_stored.contains(key)) {
                // Made before and kept compressed: what is wanted now is
                // decoded in the background, ahead of its paint, so that the
                // view need not.
                if (queue.urgency != Now || m_unpacking.contains(key))
                    continue;
                m_unpacking.insert(key);
                job = Job{candidate.request, JobKind::Unpack};
                return true;
            }
            job = candidate;
            job.urgency = queue.urgency;
            return true;
        }
        m_queues.removeAt(q);
    }
    return false;
}

void ThumbnailCache::schedule()
{
    // Decoding a compressed thumbnail takes a fraction of a millisecond: those
    // are all handed to the pool at once, ahead of other work, rather than a
    // few at a time with a trip through the main thread after each.
    Job job;
    while (takeNextJob(job))
        start(job);
    if (m_running == 0 && m_queues.isEmpty() && m_unpackQueue.isEmpty())
        Q_EMIT idle();
}

void ThumbnailCache::start(const Job &job)
{
    ++m_running;
    const quint64 generation = m_generation;
    const ThumbnailRequest request = job.request;
    if (job.kind == JobKind::Unpack) {
        ++m_runningUnpacks;
        const QByteArray bytes = *m_stored.object(request.key);
        m_pool->start(
            [this, generation, key = request.key, bytes] {
                if (lg::isShuttingDown())
                    return;
                const QImage image = decompress(bytes);
                QMetaObject::invokeMethod(
                    this, [this, generation, key, image] { unpackDone(generation, key, image); },
                    Qt::QueuedConnection);
            },
            1);
        return;
    }
    const bool later = job.urgency == Later;
    QThreadPool *pool = later ? m_laterPool : m_pool;
    if (!later)
        ++m_runningNow;
    if (job.kind == JobKind::PixelInfo) {
        m_runningPixelInfos.insert(request.key);
        pool->start([this, generation, request, later, budget = m_decodeBudget] {
            if (lg::isShuttingDown())
                return;
            if (later)
                yieldToTheWindow();
            PixelInfo info;
            // A video whose name is not valid UTF-8 is not read (see makeThumbnail).
            const bool raw = lg::FileNames::hasRawBytes(request.key.path);
            if (!raw || request.isImage) {
                // Formats whose size is known only by decoding them are
                // decoded whole here, and those a library reads the header
                // of have it read: within the budget, like a thumbnail.
                // (The hold outlives the source, which keeps what it decoded.)
                DecodeBudget::Hold hold(budget.get());
                const std::optional<lg::ImageSource> source = openedWithinBudget(request.key.path, hold, !later);
                if (!source)
                    return;  // the quit
                if (const qint64 bytes = source->pixelSizeDecodeBytes(); bytes > 0 && !hold.take(bytes, !later))
                    return;  // the quit
                info.imageSize = source->pixelSize();
            }
            if (!info.imageSize && !raw) {
                // A video's probe runs in a worker granted its own bytes, held within the budget too.
                DecodeBudget::Hold hold(budget.get());
                if (!hold.take(lg::VideoInfo::probeDecodeBytes, !later))
                    return;  // the quit
                if (const auto video = lg::VideoInfo::probe(request.key.path))
                    info.videoSize = QSizeF(video->size);
            }
            QMetaObject::invokeMethod(
                this,
                [this, generation, key = request.key, info, later] { pixelInfoDone(generation, key, info, later); },
                Qt::QueuedConnection);
        });
        return;
    }
    m_runningThumbnails.insert(request.key);
    pool->start([this, generation, request, later, store = m_store, budget = m_decodeBudget] {
        if (lg::isShuttingDown())
            return;
        if (later)
            yieldToTheWindow();
        Made made = makeThumbnail(request, store.get(), budget.get(), !later);
        QImage image;
        QByteArray compressed;
        if (!made.shown.isNull()) {
            image = paintReady(made.shown);
            compressed = compress(image);
        }
        const bool decoded = made.decoded;
        // Counted as waiting to be written before it is delivered, so that the
        // cache is never seen idle with a write still to come.
        const bool write = made.folderSide > 0 && store;
        if (write)
            ++m_pendingWrites;
        QMetaObject::invokeMethod(
            this,
            [this, generation, request, image, compressed, later, decoded] {
                thumbnailDone(generation, request, image, compressed, later, decoded);
            },
            Qt::QueuedConnection);
        // Written once delivered, never ahead of what is shown.
        if (write)
            writeAfterwards(store, [store, path = request.key.path, made = std::move(made)] { writeMade(*store, path, made); },
                            later);
    });
}

QImage ThumbnailCache::fileTypeIcon(const QString &path) const
{
    return fileTypeIconImage(path);
}

void ThumbnailCache::thumbnailDone(quint64 generation, const ThumbnailRequest &request, const QImage &image,
                                   const QByteArray &compressed, bool later, bool decoded)
{
    --m_running;
    if (!later)
        --m_runningNow;
    ++(decoded ? m_decodeCount : m_diskHitCount);
    if (generation == m_generation) {
        m_runningThumbnails.remove(request.key);
        if (!image.isNull()) {
            storeThumbnail(request.key, image, compressed, request.visible);
        } else {
            // No picture in the file (damaged, empty, not what its name says):
            // the icon of its file type stands in, and is kept like a thumbnail.
            const QImage icon = fileTypeIcon(request.key.path);
            if (!icon.isNull())
                insert(request.key, icon);
            else
                m_failed.insert(request.key);
        }
        Q_EMIT thumbnailReady(request.key);
    }
    schedule();
}

void ThumbnailCache::unpackDone(quint64 generation, const ThumbnailKey &key, const QImage &image)
{
    --m_running;
    --m_runningUnpacks;
    if (generation == m_generation) {
        m_unpacking.remove(key);
        if (!image.isNull()) {
            m_decoded.insert(key, new QImage(image), image.sizeInBytes());
            Q_EMIT thumbnailReady(key);
        }
    }
    schedule();
}

void ThumbnailCache::pixelInfoDone(quint64 generation, const ThumbnailKey &key, const PixelInfo &info, bool later)
{
    --m_running;
    if (!later)
        --m_runningNow;
    if (generation == m_generation) {
        m_runningPixelInfos.remove(key);
        // A few bytes each; a whole run of browsing stays far below this.
        if (m_pixelInfo.size() > 500000)
            m_pixelInfo.clear();
        m_pixelInfo.insert(key, info);
        Q_EMIT pixelInfoReady(key);
    }
    schedule();
}

ThumbnailCache &thumbnailCache()
{
    return ThumbnailCache::shared();
}
