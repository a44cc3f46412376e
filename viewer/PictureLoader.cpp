#include "viewer/PictureLoader.h"

#include "model/ThumbnailCache.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Pools.h"
#include "platform/image/DecodeGrants.h"
#include "platform/image/DecodeWait.h"
#include "platform/image/ImageSource.h"

#include <QHashFunctions>
#include <QMetaObject>
#include <QPointer>
#include <QThreadPool>

#include <algorithm>
#include <cmath>
#include <sys/stat.h>

size_t qHash(const PictureKey &key, size_t seed)
{
    return qHashMulti(seed, key.path, key.modified, key.size, key.bound.width(), key.bound.height());
}

namespace {

qint64 bytesOf(const DecodedPicture &picture)
{
    return std::max<qint64>(256, picture.image.sizeInBytes());
}

} // namespace

PictureLoader::PictureLoader(QObject *parent) : QObject(parent)
{
    m_pool = lg::pools::viewerPictures(this);  // waited for at quit, before the windows go
}

PictureLoader::~PictureLoader()
{
    // A decode waited for past its time ends with the loader.
    for (const std::shared_ptr<lg::image::DecodeWait> &wait : std::as_const(m_waits))
        wait->stop();
    m_pool->clear();
    m_pool->waitForDone();
}

PictureKey PictureLoader::keyFor(const QString &path, QSize bound)
{
    PictureKey key;
    key.path = path;
    key.bound = bound;
    // By the path's exact bytes: a name that is not valid UTF-8 is never read
    // as its look-alike's.
    struct stat st {};
    if (!path.isEmpty() && ::stat(lg::FileNames::toNative(path).constData(), &st) == 0) {
        key.modified = qint64(st.st_mtim.tv_sec) * 1000 + st.st_mtim.tv_nsec / 1000000;
        key.size = st.st_size;
    }
    return key;
}

int PictureLoader::snappedToReducedDecode(int maxSide, int longSide)
{
    // JPEG decodes at 1/2, 1/4 and 1/8 of the size for a fraction of the work;
    // a wanted size a little above one of them would cost the next larger
    // decode and a smooth reduction. Within 5% (the margin under which the
    // canvas asks for no sharper picture) the reduced size is taken.
    if (maxSide <= 0)
        return maxSide;
    for (int denominator : {2, 4, 8}) {
        const int reduced = (longSide + denominator - 1) / denominator;
        if (maxSide > reduced && maxSide <= reduced * 1.05)
            return reduced;
    }
    return maxSide;
}

DecodedPicture PictureLoader::decode(const PictureKey &key, const std::shared_ptr<lg::image::DecodeWait> &wait)
{
    DecodedPicture picture;
    const lg::ImageSource source = lg::ImageSource(key.path);
    const std::optional<QSize> size = source.pixelSize();
    if (!size || size->isEmpty())
        return picture;
    picture.pixelSize = *size;
    // A header that claims more than the file's bytes can hold (the judgement
    // of a turn) is refused before a row is read: a small file may claim a
    // picture whose rows take many seconds to go through, even reduced.
    picture.refusal = source.claimRefusal();
    if (!picture.refusal.isEmpty()) {
        qWarning("The picture was not decoded: %s", qPrintable(picture.refusal));
        return picture;
    }
    int maxSide = 0;
    if (!key.bound.isEmpty()) {
        const double scale = std::min({double(key.bound.width()) / size->width(),
                                       double(key.bound.height()) / size->height(), 1.0});
        if (scale < 1.0)
            maxSide = std::max(1, int(std::ceil(std::max(size->width(), size->height()) * scale)));
        maxSide = snappedToReducedDecode(maxSide, std::max(size->width(), size->height()));
    }
    // Granted its prediction, and where that falls short, once more what the
    // viewer's one picture may hold.
    const lg::image::GrantedDecode decode = [&](const lg::DecodeTerms &terms, lg::DecodeReport *made) {
        return source.thumbnail(maxSide, lg::ThumbnailUse::Shown, terms, made);
    };
    lg::DecodeTerms terms;
    terms.wait = wait;
    lg::DecodeReport report;
    std::optional<QImage> image = lg::image::grantedDecode(decode, source.thumbnailDecodeBytes(maxSide),
                                                           lg::image::GrantBeyond::Picture, terms, &report);
    if (!report.words.isEmpty())
        qWarning("The picture was not decoded: %s", qPrintable(report.words));
    if (!image || image->isNull())
        return picture;
    // Ready to paint: the formats the painter draws fastest.
    const QImage::Format format =
        image->hasAlphaChannel() ? QImage::Format_ARGB32_Premultiplied : QImage::Format_RGB32;
    picture.image = image->format() == format ? std::move(*image) : image->convertToFormat(format);
    return picture;
}

std::optional<DecodedPicture> PictureLoader::cached(const PictureKey &key)
{
    const auto found = m_entries.constFind(key);
    if (found == m_entries.constEnd())
        return std::nullopt;
    m_recent.removeOne(key);
    m_recent.append(key);
    return *found;
}

void PictureLoader::request(const PictureKey &key, int priority)
{
    if (key.path.isEmpty() || m_entries.contains(key) || m_pending.contains(key))
        return;
    m_pending.insert(key);
    const quint64 generation = m_generation;
    QPointer<PictureLoader> self(this);
    // Told on the thread that waits for the worker: answered on this one.
    const auto wait = std::make_shared<lg::image::DecodeWait>([self, key] {
        QMetaObject::invokeMethod(
            self.data(),
            [self, key] {
                if (!self.isNull())
                    self->overdue(key);
            },
            Qt::QueuedConnection);
    });
    m_waits.insert(key, wait);
    m_pool->start(
        [self, key, generation, wait] {
            DecodedPicture picture = decode(key, wait);
            if (self.isNull())
                return;
            QMetaObject::invokeMethod(
                self.data(),
                [self, key, generation, picture = std::move(picture)] {
                    if (self.isNull())
                        return;
                    self->m_pending.remove(key);
                    self->m_waits.remove(key);
                    self->m_waitedFor.remove(key);
                    if (self->m_offered == key)
                        self->endOffer();
                    if (generation != self->m_generation)
                        return;
                    self->store(key, picture);
                    Q_EMIT self->ready(key);
                },
                Qt::QueuedConnection);
        },
        priority);
}

void PictureLoader::setCapacity(qint64 bytes)
{
    m_capacity = std::max<qint64>(0, bytes);
    trim();
}

void PictureLoader::clear()
{
    ++m_generation;
    m_entries.clear();
    m_recent.clear();
    m_pending.clear();
    m_used = 0;
}

void PictureLoader::waitForIdle()
{
    m_pool->waitForDone();
}

void PictureLoader::showing(const QString &path)
{
    m_showing = path;
    // Moving on ends what was waited for past its time.
    for (const PictureKey &key : QSet<PictureKey>(m_waitedFor)) {
        if (key.path != path)
            stopWaiting(key);
    }
}

void PictureLoader::overdue(const PictureKey &key)
{
    const std::shared_ptr<lg::image::DecodeWait> wait = m_waits.value(key);
    if (!wait)
        return;
    // Only the picture on show is waited for, one decode at a time; any other
    // ends at its time.
    if (key.path != m_showing || (m_offered && *m_offered != key)) {
        wait->stop();
        return;
    }
    m_waitedFor.insert(key);
    m_offered = key;
    Q_EMIT waitOffered(key);
}

void PictureLoader::keepWaiting(const PictureKey &key)
{
    if (const std::shared_ptr<lg::image::DecodeWait> wait = m_waits.value(key))
        wait->keepWaiting();
    if (m_offered == key)
        endOffer();
}

void PictureLoader::stopWaiting(const PictureKey &key)
{
    if (const std::shared_ptr<lg::image::DecodeWait> wait = m_waits.value(key))
        wait->stop();
    m_waitedFor.remove(key);
    if (m_offered == key)
        endOffer();
}

void PictureLoader::endOffer()
{
    const PictureKey key = *m_offered;
    m_offered.reset();
    Q_EMIT waitOver(key);
}

void PictureLoader::store(const PictureKey &key, const DecodedPicture &picture)
{
    if (const auto old = m_entries.constFind(key); old != m_entries.constEnd()) {
        m_used -= bytesOf(*old);
        m_recent.removeOne(key);
    }
    m_entries.insert(key, picture);
    m_recent.append(key);
    m_used += bytesOf(picture);
    trim();
}

void PictureLoader::trim()
{
    // The newest entry always stays, however large.
    while (m_used > m_capacity && m_recent.size() > 1) {
        const PictureKey oldest = m_recent.takeFirst();
        m_used -= bytesOf(m_entries.value(oldest));
        m_entries.remove(oldest);
    }
}
