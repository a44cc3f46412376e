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
    transformFile(lg::FileNames::pathOf(*url), quarterTurns, false, false);
}

void viewimagevc::flipImageWithSender(int tag)
{
    if (tag != 1 && tag != 2)
        return;
    const std::optional<QUrl> url = shownFileOrSayItIsGone();
    if (!url || !url->isLocalFile())
        return;
    transformFile(lg::FileNames::pathOf(*url), 0, tag == 1, tag == 2);
}

void viewimagevc::transformFile(const QString &path, int quarterTurns, bool horizontal, bool vertical)
{
    if (m_transformRunning || path.isEmpty())
        return;
    m_transformRunning = true;
    // The preview is made from the picture on screen where it is this file's, whole.
    const bool onShow = path == m_shownPath;
    const QSize bound = onShow ? decodeBound() : QSize();
    const QImage shownPicture = onShow && imgview->hasImage() && !imgview->isPlaceholder()
                                        && imgview->pictureKey() == path && !imgview->wantsMoreResolution()
                                    ? imgview->currentImage() : QImage();
    // quarterTurns counts counter-clockwise.
    const lg::PictureTurn turn = lg::pictureTurn(-quarterTurns, horizontal, vertical);
    // The file is checked again on the worker, just before it is read: still
    // the one on show. After an in-place write the new file is the one on show.
    const std::optional<lg::FileIdentity> expected = path == m_shownPath ? m_shownIdentity : std::nullopt;
    const auto done = [this, path](const CheckedTurn &result) {
        const CheckedTurn checked = result;
        m_transformRunning = false;
        showOverlay(Overlay::Hidden);
        if (checked.state != ChosenFileState::Same) {
            sayItemIsNotTheShownFile(path, checked.state);
            return;
        }
        const TurnedFile &outcome = checked.turned;
        if (outcome.written && path == m_shownPath)
            m_shownIdentity = checked.written;
        if (!outcome.readable && !outcome.error.isEmpty())
            sayItemWasRefused(path, outcome.error);   // e.g. a header that claims more than may be decoded
        if (outcome.readable)
            commitEditedImage(lg::FileNames::urlOf(path), outcome.picture, outcome.preview, outcome.pixelSize,
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

void viewimagevc::commitEditedImage(const QUrl &url, const QImage &edited, const QImage &shown, QSize pixelSize,
                                    bool written, const QByteArray &preparedJpeg, const QString &notInPlace)
{
    // After a lossless turn the full picture is not decoded: edited is null then.
    editedImage = edited;
    const QString path = lg::FileNames::pathOf(url);
    const bool onShow = path == m_shownPath;
    if (written) {
        refreshItemRecord(url);
        if (onShow)
            showTurnedPicture(shown, pixelSize, path);
        updateSidebarPreview();
        return;
    }
    if (edited.isNull())
        return;
    // Not writable in place: preview the change and offer a new file.
    if (onShow)
        showTurnedPicture(shown, pixelSize, path);
    auto *saver = qobject_cast<Saver *>(m_copySaver);
    if (!saver) {
        saver = new Saver(this);
        saver->openAfterSave = false;
        connect(saver, &Saver::finished, this, &viewimagevc::saveCopySheetEnded);
        // A copy saved over the shown file itself: the written file is the one on show.
        connect(saver, &Saver::saved, this, [this](const QString &written) {
            if (written == m_shownPath)
                m_shownIdentity = lg::fileIdentity(written);
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

void viewimagevc::showTurnedPicture(const QImage &picture, QSize pixelSize, const QString &path)
{
    // Only the picture changes: the magnification, the scroll position and the
    // fit style stay as they were, also when the file is shown again after the
    // save panel, until another item is shown.
    m_zoom->keep(true);
    imgview->setPicture(picture, pixelSize, path);
    requestFullResolutionIfNeeded();
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
    const QString path = lg::FileNames::pathOf(url);
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
