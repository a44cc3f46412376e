// Rotate and flip the shown picture and write it back into its file, in the
// type its extension names, keeping all it held: metadata (Exif orientation 1),
// colour profile, extended attributes, permissions. JPEGs are turned without
// loss where their size allows. Where the file cannot be rewritten in place
// (HEIC, WebP, several pages or frames, no write permission, a failed write)
// the save panel offers a new file named "<name> copy"; a JPEG copy is the
// file turned the same way as in place. Reading, turning and writing run on a
// worker thread; the result comes back to the main thread.
#include "viewer/viewimagevc.h"
#include "model/ScreenHooks.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "model/ChosenFiles.h"
#include "model/ImageTransforms.h"
#include "app/Saver.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/runtime/Background.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/ViewerRotate.h"
#include "viewer/ViewerZoom.h"

#include <QFileInfo>
#include <QPointer>

namespace {

// A turn of the file on show, made only while it is still that file.
struct CheckedTurn
{
    ChosenFileState state = ChosenFileState::Same;
    TurnedFile turned;
    std::optional<lg::FileIdentity> written;   // of the file written in place
};

} // namespace

void viewimagevc::RotateImageWithSender(int tag)
{
    const int quarterTurns = tag == 1 ? 1 : tag == 2 ? 3 : tag == 3 ? 2 : 0;
    if (quarterTurns == 0)
        return;
    // The shown file, bound now.
    const std::optional<QUrl> url = shownFileOrSayItIsGone();
    if (!url)
        return;
    m_rotate->turn(lg::FileNames::pathOf(*url), quarterTurns, false, false);
}

void viewimagevc::flipImageWithSender(int tag)
{
    if (tag != 1 && tag != 2)
        return;
    const std::optional<QUrl> url = shownFileOrSayItIsGone();
    if (!url || !url->isLocalFile())
        return;
    m_rotate->turn(lg::FileNames::pathOf(*url), 0, tag == 1, tag == 2);
}

void viewimagevc::saveCopySheetEnded(bool saved)
{
    Q_UNUSED(saved);
    // The viewer shows the file on disk again (not the new copy).
    if (viewerItemURL)
        reloadShownImage(*viewerItemURL);
}

void viewimagevc::commitEditedImage(const QUrl &url, const QImage &edited, const QImage &shown, QSize pixelSize,
                                    bool written, const QByteArray &preparedJpeg, const QString &notInPlace)
{
    m_rotate->commit(url, edited, shown, pixelSize, written, preparedJpeg, notInPlace);
}

bool viewimagevc::isTransformRunning() const
{
    return m_rotate->isRunning();
}

void viewimagevc::reloadShownImage(const QUrl &url)
{
    const QString path = lg::FileNames::pathOf(url);
    if (path.isEmpty() || path != m_shownPath)
        return;
    showStill(path);
}

ViewerRotate::ViewerRotate(viewimagevc *viewer) : QObject(viewer), m_viewer(viewer) {}

void ViewerRotate::turn(const QString &path, int quarterTurns, bool horizontal, bool vertical)
{
    viewimagevc &v = *m_viewer;
    if (m_running || path.isEmpty())
        return;
    m_running = true;
    // The preview is made from the picture on screen where it is this file's, whole.
    const bool onShow = path == v.m_shownPath;
    const QSize bound = onShow ? v.decodeBound() : QSize();
    const QImage shownPicture = onShow && v.imgview->hasImage() && !v.imgview->isPlaceholder()
                                        && v.imgview->pictureKey() == path && !v.imgview->wantsMoreResolution()
                                    ? v.imgview->currentImage() : QImage();
    // quarterTurns counts counter-clockwise.
    const lg::PictureTurn turn = lg::pictureTurn(-quarterTurns, horizontal, vertical);
    // The file is checked again on the worker, just before it is read: still
    // the one on show. After an in-place write the new file is the one on show.
    const std::optional<lg::FileIdentity> expected = path == v.m_shownPath ? v.m_shownIdentity : std::nullopt;
    const auto done = [this, path](const CheckedTurn &result) {
        viewimagevc &v = *m_viewer;
        const CheckedTurn checked = result;
        m_running = false;
        showOverlay(Overlay::Hidden);
        if (checked.state != ChosenFileState::Same) {
            v.sayItemIsNotTheShownFile(path, checked.state);
            return;
        }
        const TurnedFile &outcome = checked.turned;
        if (outcome.written && path == v.m_shownPath)
            v.m_shownIdentity = checked.written;
        if (!outcome.readable && !outcome.error.isEmpty())
            v.sayItemWasRefused(path, outcome.error);   // e.g. a header that claims more than may be decoded
        if (outcome.readable)
            v.commitEditedImage(lg::FileNames::urlOf(path), outcome.picture, outcome.preview, outcome.pixelSize,
                              outcome.written, outcome.jpeg, outcome.notInPlace);
    };
    lg::runThenCallback(this, [path, turn, bound, shownPicture, expected] {
        CheckedTurn checked;
        if (expected) {
            checked.state = chosenFileState(path, expected);
            if (checked.state != ChosenFileState::Same)
                return checked;
        }
        checked.turned = turnPictureFile(path, turn, bound, shownPicture);
        if (checked.turned.written)
            checked.written = lg::fileIdentity(path);
        return checked;
    }, done, pictureTurnPool());
    // Shown while the turn already runs: the worker never waits for the main thread.
    showOverlay(Overlay::Work);
}

void ViewerRotate::commit(const QUrl &url, const QImage &edited, const QImage &shown, QSize pixelSize, bool written,
                          const QByteArray &preparedJpeg, const QString &notInPlace)
{
    viewimagevc &v = *m_viewer;
    // After a lossless turn the full picture is not decoded: edited is null then.
    v.editedImage = edited;
    const QString path = lg::FileNames::pathOf(url);
    const bool onShow = path == v.m_shownPath;
    if (written) {
        refreshItemRecord(url);
        if (onShow)
            showTurnedPicture(shown, pixelSize, path);
        v.updateSidebarPreview();
        return;
    }
    if (edited.isNull())
        return;
    // Not writable in place: preview the change and offer a new file.
    if (onShow)
        showTurnedPicture(shown, pixelSize, path);
    Saver *saver = m_copySaver;
    if (!saver) {
        saver = new Saver(&v);
        saver->openAfterSave = false;
        connect(saver, &Saver::finished, &v, [viewer = m_viewer](bool saved) { viewer->saveCopySheetEnded(saved); });
        // A copy saved over the shown file itself: the written file is the one on show.
        connect(saver, &Saver::saved, &v, [viewer = m_viewer](const QString &written) {
            if (written == viewer->m_shownPath)
                viewer->m_shownIdentity = lg::fileIdentity(written);
        });
        m_copySaver = saver;
    }
    const QImage picture = edited;
    saver->startFolder = QFileInfo(path).absolutePath();
    saver->metadataSource = path;
    saver->preparedJpeg = preparedJpeg;
    saver->panelMessage = QStringLiteral("\u201C%1\u201D cannot be written in place: %2. Save the turned picture as a new file.")
                              .arg(QFileInfo(path).fileName(),
                                   notInPlace.isEmpty() ? QStringLiteral("it could not be written") : notInPlace);
    saver->showSavePanel(
        [picture](const QSize &size) {
            return size == picture.size() ? picture
                                          : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
        },
        edited.size(), QFileInfo(path).completeBaseName() + QStringLiteral(" copy"));
}

void ViewerRotate::showTurnedPicture(const QImage &picture, QSize pixelSize, const QString &path)
{
    viewimagevc &v = *m_viewer;
    // Only the picture changes: the magnification, the scroll position and the
    // fit style stay as they were, also when the file is shown again after the
    // save panel, until another item is shown.
    v.m_zoom->keep(true);
    v.imgview->setPicture(picture, pixelSize, path);
    v.requestFullResolutionIfNeeded();
}

void ViewerRotate::refreshItemRecord(const QUrl &url)
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
