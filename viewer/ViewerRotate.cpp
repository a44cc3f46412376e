// Rotate and flip the shown picture and write it back into its file, in the
// type its extension names, with the file's own metadata and Exif orientation 1
// (writeCGImage: a temporary file renamed over the original, so a failed write
// leaves the original as it was). Where the file cannot be written in place
// (HEIC, WebP, a failed write) the save panel offers a new file named
// "<name> copy". Decoding, turning and writing run on a worker thread; the
// result comes back to the main thread.
#include "viewer/viewimagevc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "model/ImageTransforms.h"
#include "model/Saver.h"
#include "platform/ImageSource.h"
#include "viewer/ViewerCanvas.h"

#include <QFileInfo>
#include <QFutureWatcher>
#include <QPointer>
#include <QtConcurrent>

namespace {

struct TransformOutcome
{
    QImage edited;    // the turned or mirrored picture at full size; null when the file could not be read
    QImage shown;     // the same, scaled to the screen
    bool written = false;
};

TransformOutcome transformed(const QString &path, int quarterTurns, bool horizontal, bool vertical, QSize bound)
{
    TransformOutcome outcome;
    const lg::ImageSource source(path);
    const std::optional<QImage> image = source.image();
    if (!image || image->isNull())
        return outcome;
    outcome.edited = quarterTurns ? rotate(*image, quarterTurns * 90.0) : flipped(*image, horizontal, vertical);
    if (outcome.edited.isNull())
        return outcome;
    outcome.shown = (outcome.edited.width() > bound.width() || outcome.edited.height() > bound.height())
                        ? outcome.edited.scaled(bound, Qt::KeepAspectRatio, Qt::SmoothTransformation)
                        : outcome.edited;
    outcome.written = writeCGImage(outcome.edited, path, source.properties());
    return outcome;
}

} // namespace

void viewimagevc::RotateImageWithSender(int tag)
{
    // The shown file, bound now.
    const std::optional<QUrl> url = currentItemFileURL();
    if (!url)
        return;
    const int quarterTurns = tag == 1 ? 1 : tag == 2 ? 3 : tag == 3 ? 2 : 0;
    if (quarterTurns == 0)
        return;
    transformFile(url->toLocalFile(), quarterTurns, false, false);
}

void viewimagevc::flipImageWithSender(int tag)
{
    const std::optional<QUrl> url = currentItemFileURL();
    if (!url || !url->isLocalFile() || (tag != 1 && tag != 2))
        return;
    transformFile(url->toLocalFile(), 0, tag == 1, tag == 2);
}

void viewimagevc::transformFile(const QString &path, int quarterTurns, bool horizontal, bool vertical)
{
    if (m_transformRunning || path.isEmpty())
        return;
    m_transformRunning = true;
    mainvc *hub = contentHub();
    hub->isonlyalert = false;
    hub->showBusyLoader();
    const QSize bound = decodeBound();
    auto *watcher = new QFutureWatcher<TransformOutcome>(this);
    connect(watcher, &QFutureWatcherBase::finished, this, [this, watcher, path] {
        watcher->deleteLater();
        const TransformOutcome outcome = watcher->result();
        m_transformRunning = false;
        contentHub()->hideBusyLoader();
        commitEditedImage(QUrl::fromLocalFile(path), outcome.edited, outcome.shown, outcome.written);
    });
    watcher->setFuture(QtConcurrent::run(transformed, path, quarterTurns, horizontal, vertical, bound));
}

void viewimagevc::commitEditedImage(const QUrl &url, const QImage &edited, const QImage &shown, bool written)
{
    if (edited.isNull())
        return;  // the file could not be read as a picture: nothing happens
    editedImage = edited;
    const QString path = url.toLocalFile();
    const bool onShow = path == m_shownPath;
    if (written) {
        refreshItemRecord(url);
        if (onShow) {
            imgview->setPicture(shown, edited.size(), path);
            showImageCommonTail();
        }
        updateSidebarPreview();
        return;
    }
    // Not writable in place: preview the change and offer a new file.
    if (onShow) {
        imgview->setPicture(shown, edited.size(), path);
        showImageCommonTail();
    }
    auto *saver = qobject_cast<Saver *>(m_copySaver);
    if (!saver) {
        saver = new Saver(this);
        saver->openAfterSave = false;
        connect(saver, &Saver::finished, this, &viewimagevc::saveCopySheetEnded);
        m_copySaver = saver;
    }
    const QImage picture = edited;
    saver->startFolder = QFileInfo(path).absolutePath();
    saver->showSavePanel(
        [picture](const QSize &size) {
            return size == picture.size() ? picture
                                          : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        },
        edited.size(), QFileInfo(path).completeBaseName() + QStringLiteral(" copy"));
}

void viewimagevc::saveCopySheetEnded(bool saved)
{
    Q_UNUSED(saved);
    // The viewer shows the file on disk again (not the new copy).
    if (viewerItemURL)
        reloadShownImage(*viewerItemURL);
}

void viewimagevc::reloadShownImage(const QUrl &url)
{
    const QString path = url.toLocalFile();
    if (path.isEmpty() || path != m_shownPath)
        return;
    showStill(path);
}

void viewimagevc::refreshItemRecord(const QUrl &url)
{
    // New content, new modification time: the thumbnails are made again.
    for (QVector<InitialDirectory> *list : {&itemList, &searchResults}) {
        for (InitialDirectory &item : *list) {
            if (item.file && item.file->url == url) {
                const bool isImage = item.isImage;
                item = Metadata::init(url);
                item.isImage = isImage;
            }
        }
    }
}
