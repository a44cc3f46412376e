#include "viewer/editImagevc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "outreach/utilityKitvc.h"
#include "model/ChosenFiles.h"
#include "model/FileCommandFlow.h"
#include "app/Saver.h"
#include "platform/desktop/Alert.h"
#include "platform/files/names/FileNames.h"
#include "model/ScreenHooks.h"
#include "platform/files/names/FileIdentity.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/image/ImageSource.h"
#include "platform/base/PictureLimits.h"
#include "platform/runtime/Background.h"
#include "viewer/ImageCanvas.h"
#include "viewer/ElidedLabel.h"
#include "viewer/ImageEditWindow.h"
#include "viewer/viewimagevc.h"

#include <QFile>
#include <QFileInfo>
#include <QGuiApplication>
#include <QChildEvent>
#include <QHBoxLayout>
#include <QImageReader>
#include <QLabel>
#include <QPointer>
#include <QPushButton>
#include <QScreen>
#include <QVBoxLayout>

#include <algorithm>
#include <atomic>
#include <limits>
#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

const char *editorStyleSheet = R"css(
#editImagevc { background: #1e1e1e; }
#editorBar { background: #2a2a2a; border-bottom: 1px solid #141414; }
#editorBar QLabel { color: #e6e6e6; font-size: 13px; }
#editorBar QPushButton { color: #e6e6e6; background: #3a3a3a; border: 1px solid #4a4a4a; border-radius: 4px;
                         padding: 3px 12px; }
#editorBar QPushButton:hover { background: #474747; }
#editorBar QPushButton#btnsave { background: @accent; color: #1e1e1e; border: none; }
)css";

struct LoadedPicture
{
    QImage preview;
    QSize pixelSize;
    QByteArray bytes;   // the file as it was read, when it is not too large to hold
    std::optional<lg::FileIdentity> identity;   // of the file the picture was read from
};

// Files up to this size (bytes) are held while they are edited, so that a copy
// can still be saved when the file goes meanwhile.
std::atomic<qint64> heldFileLimit{256 * 1024 * 1024};

// The whole file when it is at most limit bytes; empty when it is larger, or
// when it grew or shrank while it was read, or when it is not a regular file.
// identity: the identity of the file read (also when it is not held).
QByteArray readWholeWithin(const QString &path, qint64 limit, std::optional<lg::FileIdentity> *identity)
{
    // O_NONBLOCK keeps open() from waiting on a FIFO; it has no effect on regular files.
    const int fd = ::open(lg::FileNames::toNative(path).constData(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0)
        return {};
    struct stat st {};
    QFile file;
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)
        || !file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle)) {
        ::close(fd);
        return {};
    }
    *identity = lg::fileIdentityOf(fd);
    const qint64 size = file.size();
    if (size > limit)
        return {};
    // One byte more than expected shows a file that grew; read() reserves what it is asked for.
    const QByteArray bytes = file.read(size + 1);
    if (bytes.size() > limit || bytes.size() != size || file.size() != size)
        return {};
    // Written to while it was read: not the file whose identity was taken.
    if (lg::fileIdentityOf(fd) != *identity)
        return {};
    return bytes;
}

LoadedPicture loadPreview(const QString &path, int side, QSize fit)
{
    LoadedPicture loaded;
    loaded.bytes = readWholeWithin(path, heldFileLimit.load(), &loaded.identity);
    // Held bytes are decoded as they are, so the file is read only once.
    const lg::ImageSource source = loaded.bytes.isEmpty()
                                       ? lg::ImageSource(path)
                                       : lg::ImageSource::fromData(loaded.bytes, QFileInfo(path).suffix());
    if (!source.isValid())
        return {};
    loaded.pixelSize = source.pixelSize().value_or(QSize());
    if (std::optional<QImage> preview = source.thumbnail(side))
        loaded.preview = *preview;
    // Made for the canvas: the preview shows pixel for pixel.
    if (fit.width() > 64 && fit.height() > 64
        && (loaded.preview.width() > fit.width() || loaded.preview.height() > fit.height()))
        loaded.preview = loaded.preview.scaled(fit, Qt::KeepAspectRatio, Qt::SmoothTransformation);
    if (!loaded.pixelSize.isValid())
        loaded.pixelSize = loaded.preview.size();
    return loaded;
}

// Whether the file at path is still the one the editor read: its identity
// is taken through a final link, as opening path reads it.
ChosenFileState openedFileState(const QString &path, const std::optional<lg::FileIdentity> &opened)
{
    const std::optional<lg::FileIdentity> now = lg::fileIdentityFollowing(path);
    if (!now)
        return ChosenFileState::Gone;
    return opened ? compareChosen(*opened, *now) : ChosenFileState::Same;
}

struct RenderedPicture
{
    QImage image;                                  // null when the picture could not be read
    bool fileGone = false;                         // the file is no longer where it was opened
    // Replaced or Changed: another file, or the file changed, is there now (and was not read).
    ChosenFileState fileRefused = ChosenFileState::Same;
    bool wasHeld = false;                          // the file had been kept while edited
    std::optional<lg::PictureMetadata> metadata;   // taken from the held file when that was decoded
};

// Lets Qt's readers allocate what a picture of pixelSize takes, up to what the
// largest side pictures may have here allows (four bytes a pixel). The limit
// is the whole program's: it is only ever raised, on the main thread, before
// the decode that needs it starts.
void allowDecodeOf(QSize pixelSize)
{
    if (pixelSize.isEmpty())
        return;
    const qint64 side = lg::image::maxPictureSide;
    const qint64 pixels = std::min(qint64(pixelSize.width()) * pixelSize.height(), side * side);
    const qint64 megabytes = (pixels * 4 >> 20) + 1;
    const int current = QImageReader::allocationLimit();
    if (current > 0 && megabytes > current)
        QImageReader::setAllocationLimit(int(std::min<qint64>(megabytes, std::numeric_limits<int>::max())));
}

// The full picture with the adjustments, for the save: always from the
// picture the editor opened. That is the file as it was read when it was held;
// otherwise the file itself, while it is still the one opened (a file that was
// replaced or changed since is not read: its picture is not the one edited).
RenderedPicture renderFull(const QString &path, const QByteArray &held,
                           const std::optional<lg::FileIdentity> &opened, const Adjustments &adjustments)
{
    RenderedPicture out;
    std::optional<QImage> full;
    out.wasHeld = !held.isEmpty();
    if (out.wasHeld) {
        const lg::ImageSource source = lg::ImageSource::fromData(held, QFileInfo(path).suffix());
        full = source.image();
        out.metadata = lg::PictureMetadata::fromProperties(source.properties());
        out.fileGone = !lg::existsOrLink(path);
    } else {
        switch (const ChosenFileState state = openedFileState(path, opened)) {
        case ChosenFileState::Same:
            full = lg::ImageSource(path).image();
            break;
        case ChosenFileState::Gone:
            out.fileGone = true;
            break;
        case ChosenFileState::Replaced:
        case ChosenFileState::Changed:
            out.fileRefused = state;
            break;
        }
    }
    if (full)
        out.image = applyAdjustments(*full, adjustments);
    return out;
}

} // namespace

void editImagevc::setHeldFileLimitForTesting(qint64 bytes)
{
    heldFileLimit = bytes < 0 ? 256 * 1024 * 1024 : bytes;
}

editImagevc::editImagevc(QWidget *parent) : QWidget(parent)
{
    setObjectName(QStringLiteral("editImagevc"));
    buildLayout();
    saver = new Saver(this);
    saver->openAfterSave = false;
    connect(saver, &Saver::saveFailed, this, [this] { m_saveFailed = true; });
    connect(saver, &Saver::finished, this, &editImagevc::saveSheetEnded);
    // Our own save over the opened file: the picture edited is still the one
    // held, so a later save over it is ours to make. (A file too large to hold
    // now holds the edited picture, not the one edited: it stays refused.)
    connect(saver, &Saver::saved, this, [this](const QString &written) {
        if (!m_heldFile.isEmpty() && QFileInfo(written).absoluteFilePath() == QFileInfo(m_path).absoluteFilePath())
            m_openedIdentity = lg::fileIdentityFollowing(m_path);
    });
}

editImagevc::~editImagevc()
{
    // Pending previews hold a watcher parented here; their results are dropped.
    ++m_loadGeneration;
}

void editImagevc::buildLayout()
{
    setAttribute(Qt::WA_StyledBackground, true);
    setStyleSheet(withAccentColour(QString::fromLatin1(editorStyleSheet)));
    auto *root = new QVBoxLayout(this);
    root->setContentsMargins(0, 0, 0, 0);
    root->setSpacing(0);
    auto *bar = new QWidget(this);
    bar->setObjectName(QStringLiteral("editorBar"));
    bar->setAttribute(Qt::WA_StyledBackground, true);
    bar->setFixedHeight(40);
    auto *row = new QHBoxLayout(bar);
    row->setContentsMargins(10, 0, 10, 0);
    row->setSpacing(8);
    const auto button = [bar](const char *name, const QString &title) {
        auto *b = new QPushButton(title, bar);
        b->setObjectName(QString::fromLatin1(name));
        b->setCursor(Qt::PointingHandCursor);
        b->setFocusPolicy(Qt::NoFocus);
        return b;
    };
    btnExitButton = button("btnExit", QStringLiteral("Exit"));
    btnrefreshButton = button("btnrefresh", QStringLiteral("Revert"));
    btnopenpanelButton = button("btnopenpanel", QStringLiteral("Adjust"));
    btnsaveButton = button("btnsave", QStringLiteral("Save"));
    lblfilename = new ElidedLabel(bar);
    lblfilename->setObjectName(QStringLiteral("lblfilename"));
    lblfilename->setAlignment(Qt::AlignCenter);
    lblfilename->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    row->addWidget(btnExitButton);
    row->addWidget(lblfilename, 1);
    row->addWidget(btnrefreshButton);
    row->addWidget(btnopenpanelButton);
    row->addWidget(btnsaveButton);
    root->addWidget(bar);
    imageview = new ImageCanvas(this);
    root->addWidget(imageview, 1);

    editor = new ImageEditWindow(this);
    editor->hide();
    editor->installEventFilter(this);
    connect(editor, &ImageEditWindow::adjustmentsChanged, this, &editImagevc::setAdjustments);
    connect(imageview, &ImageCanvas::editPanelRequested, this, &editImagevc::openEditWindow);
    connect(btnExitButton, &QPushButton::clicked, this, &editImagevc::btnExit);
    connect(btnrefreshButton, &QPushButton::clicked, this, &editImagevc::btnrefresh);
    connect(btnopenpanelButton, &QPushButton::clicked, this, &editImagevc::btnopenpanelclicked);
    connect(btnsaveButton, &QPushButton::clicked, this, &editImagevc::btnsave);
}

// ---------------------------------------------------------------- loading

void editImagevc::loadImage()
{
    selfViewVisible = true;
    const quint64 generation = ++m_loadGeneration;
    m_previewSource = QImage();
    m_heldFile.clear();
    m_openedIdentity.reset();
    m_saving = false;
    firstimage = QImage();
    m_adjustments = m_shownAdjustments = m_savedAdjustments = Adjustments();
    editor->setAdjustments(m_adjustments);
    imageview->clear();
    // No title of a file edited earlier.
    m_path.clear();
    lblfilename->setText(QString());
    if (!viewerItemURL || !viewerItemURL->isLocalFile()) {
        alertImagenotsupported();
        return;
    }
    // A name that is not valid UTF-8 is not opened: the picture is read and
    // written back by its name as text, which names the look-alike whose name
    // holds U+FFFD.
    const QString path = lg::FileNames::pathOf(*viewerItemURL);
    if (lg::FileNames::hasRawBytes(path)) {
        std::printf("%s\n", lg::FileNames::notTextMessage(path).toLocal8Bit().constData());
        std::fflush(stdout);
        alertImagenotsupported();
        return;
    }
    m_path = path;
    lblfilename->setText(QFileInfo(m_path).fileName());
    const auto done = [this, generation](const LoadedPicture &result) {
        if (generation != m_loadGeneration)
            return;
        const LoadedPicture &loaded = result;
        if (loaded.preview.isNull() || loaded.pixelSize.isEmpty()) {
            Q_EMIT loadFinished(false);
            alertImagenotsupported();
            return;
        }
        m_heldFile = loaded.bytes;
        m_openedIdentity = loaded.identity;
        m_previewSource = loaded.preview.convertToFormat(
            loaded.preview.hasAlphaChannel() ? QImage::Format_ARGB32 : QImage::Format_RGB32);
        m_pixelSize = loaded.pixelSize;
        firstimage = m_previewSource;
        imageview->setImage(m_previewSource, m_pixelSize, ++m_previewTicket);
        Q_EMIT previewShown();
        Q_EMIT loadFinished(true);
        // As a double click on the picture does: the adjustments window opens.
        imageview->simulateMouseDown();
    };
    const QSize fit = (QSizeF(imageview->size()) * imageview->devicePixelRatioF()).toSize();
    lg::runThenCallback(this, [path = m_path, fit] { return loadPreview(path, previewSide, fit); }, done);
}

void editImagevc::showEvent(QShowEvent *event)
{
    QWidget::showEvent(event);
    watchCoveringScreens();
    updateEditWindowShown();
}

void editImagevc::hideEvent(QHideEvent *event)
{
    QWidget::hideEvent(event);
    updateEditWindowShown();
}

bool editImagevc::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == editor && event->type() == QEvent::Close) {
        m_editWindowWanted = false;   // closed by the user: it stays closed
    } else if (event->type() == QEvent::ChildAdded) {
        // A screen that can be laid over the editor, made after it.
        if (auto *panel = qobject_cast<utilityKitvc *>(static_cast<QChildEvent *>(event)->child())) {
            panel->installEventFilter(this);
            m_covers.append(panel);
        }
    } else if ((event->type() == QEvent::Show || event->type() == QEvent::Hide) && watched->isWidgetType()) {
        if (m_covers.contains(QPointer<QWidget>(static_cast<QWidget *>(watched))))
            updateEditWindowShown();
    }
    return QWidget::eventFilter(watched, event);
}

void editImagevc::watchCoveringScreens()
{
    if (m_watchingCovers)
        return;
    QWidget *hub = contentHub();
    if (!hub)
        return;
    m_watchingCovers = true;
    hub->installEventFilter(this);
    for (utilityKitvc *panel : hub->findChildren<utilityKitvc *>(QString(), Qt::FindDirectChildrenOnly)) {
        panel->installEventFilter(this);
        m_covers.append(panel);
    }
}

void editImagevc::updateEditWindowShown()
{
    bool covered = !isVisible();
    for (const QPointer<QWidget> &cover : std::as_const(m_covers))
        if (cover && cover->isVisible() && cover->parentWidget() && cover->parentWidget()->isAncestorOf(this))
            covered = true;
    if (covered) {
        if (editor->isVisible())
            editor->hide();
    } else if (m_editWindowWanted && isLoaded() && !editor->isVisible()) {
        editor->show();
        editor->raise();
    }
}

void editImagevc::openEditWindow()
{
    if (!isLoaded())
        return;
    m_editWindowWanted = true;
    if (!editor->isVisible()) {
        editor->adjustSize();
        const QPoint corner = mapToGlobal(QPoint(width() - editor->width() - 24, 64));
        editor->move(corner);
    }
    editor->show();
    editor->raise();
}

// ---------------------------------------------------------------- previews

void editImagevc::setAdjustments(const Adjustments &adjustments)
{
    m_adjustments = adjustments;
    if (editor->adjustments() != adjustments)
        editor->setAdjustments(adjustments);
    schedulePreview();
}

void editImagevc::schedulePreview()
{
    if (!isLoaded())
        return;
    // One preview at a time; slider moves meanwhile leave one waiting, which
    // takes the newest adjustments when it starts.
    if (m_previewRunning) {
        m_previewWaiting = true;
        return;
    }
    startPreview();
}

void editImagevc::startPreview()
{
    m_previewRunning = true;
    m_previewWaiting = false;
    const Adjustments wanted = m_adjustments;
    const quint64 generation = m_loadGeneration;
    const auto done = [this, wanted, generation](const QImage &result) {
        m_previewRunning = false;
        if (generation != m_loadGeneration)
            return;
        m_shownAdjustments = wanted;
        imageview->updateImage(result, ++m_previewTicket);
        Q_EMIT previewShown();
        if (m_previewWaiting && m_adjustments != m_shownAdjustments)
            startPreview();
        m_previewWaiting = false;
    };
    lg::runThenCallback(this, [source = m_previewSource, wanted] { return applyAdjustments(source, wanted); }, done);
}

// ---------------------------------------------------------------- saving

void editImagevc::btnsave()
{
    showSaveSheet();
}

void editImagevc::showSaveSheet()
{
    if (!isLoaded() || m_rendering)
        return;
    m_rendering = true;
    m_saving = true;
    showOverlay(Overlay::Work);
    const Adjustments wanted = m_adjustments;
    const quint64 generation = m_loadGeneration;
    const auto done = [this, wanted, generation](const RenderedPicture &result) {
        m_rendering = false;
        showOverlay(Overlay::Hidden);
        if (generation != m_loadGeneration) {
            m_saving = false;
            return;
        }
        const RenderedPicture &rendered = result;
        const QImage picture = rendered.image;
        if (picture.isNull()) {
            const QString name = QFileInfo(m_path).fileName();
            QString cause = QStringLiteral("\u201C%1\u201D could not be read.").arg(name);
            if (rendered.fileRefused != ChosenFileState::Same) {
                // Not the picture that was edited: said as the viewer says it, nothing is written.
                m_saveFailed = true;
                if (const std::optional<lg::AlertSpec> refusal =
                        commandAlert({chosenFileRefusal(m_path, rendered.fileRefused)}, lg::FileOpKind::Copy))
                    lg::Alert::show(window(), *refusal);
                saveSheetEnded(false);
                return;
            }
            if (rendered.fileGone && rendered.wasHeld)
                cause = QStringLiteral("\u201C%1\u201D is no longer where it was opened from, and the copy kept "
                                       "while it was edited could not be read.").arg(name);
            else if (rendered.fileGone)
                cause = QStringLiteral("\u201C%1\u201D is no longer where it was opened from, and it was too "
                                       "large to keep while it was edited.").arg(name);
            lg::Alert::inform(window(), QStringLiteral("The picture could not be saved."), cause);
            m_saveFailed = true;
            saveSheetEnded(false);
            return;
        }
        m_renderedAdjustments = wanted;
        saver->imageUTType = QFileInfo(m_path).suffix().toLower();
        saver->startFolder = QFileInfo(m_path).absolutePath();
        saver->metadataSource = m_path;
        saver->metadata = rendered.metadata;
        // A save over the opened file itself is refused once another program
        // has replaced or changed it: the user would lose that file's picture.
        saver->writeGuard = [opened = m_openedIdentity, path = m_path](const QString &target) {
            if (!opened || QFileInfo(target).absoluteFilePath() != QFileInfo(path).absoluteFilePath())
                return QString();
            switch (openedFileState(target, opened)) {
            case ChosenFileState::Replaced:
                return replacedSinceOpenedMessage();
            case ChosenFileState::Changed:
                return changedSinceOpenedMessage();
            case ChosenFileState::Same:
            case ChosenFileState::Gone:
                break;
            }
            return QString();
        };
        saver->showSavePanel(
            [picture](const QSize &size) {
                return size == picture.size() ? picture
                                              : picture.scaled(size, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
            },
            picture.size(), QFileInfo(m_path).completeBaseName());
    };
    allowDecodeOf(m_pixelSize);
    lg::runThenCallback(
        this,
        [path = m_path, held = m_heldFile, opened = m_openedIdentity, wanted] {
            return renderFull(path, held, opened, wanted);
        },
        done);
}

void editImagevc::saveSheetEnded(bool saved)
{
    m_saving = false;
    if (saved)
        m_savedAdjustments = m_renderedAdjustments;
    const bool failed = m_saveFailed;
    m_saveFailed = false;
    if (!savepanel_CallFromexit)
        return;
    if (m_afterSaveQuestion) {
        // Asked for someone else (the quit): only a saved copy lets it go on.
        savepanel_CallFromexit = false;
        const std::function<void(bool)> done = std::exchange(m_afterSaveQuestion, {});
        if (saved && !failed)
            closeEditor();
        done(saved && !failed);
        return;
    }
    savepanel_CallFromexit = false;
    // A save that failed is neither saved nor cancelled: the editor stays
    // open with its edits, under the message that says why.
    if (failed)
        return;
    if (saved)
        closeEditor();
    else
        discardAndClose();
}

// ---------------------------------------------------------------- leaving

void editImagevc::btnExit()
{
    if (isLoaded() && hasUnsavedChanges())
        alertforSaveImage();
    else
        closeEditor();
}

void editImagevc::alertforSaveImage()
{
    showOverlay(Overlay::Sheet);
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("Save changes?");
    spec.text = QStringLiteral("Do you want to save a copy of this image with the changes you have selected?");
    spec.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    m_saveQuestionOpen = true;
    QPointer<editImagevc> self(this);
    lg::Alert::show(window(), spec, [self](int button) {
        if (!self)
            return;
        self->m_saveQuestionOpen = false;
        if (button == 0)
            self->btnYES_savealert();
        else
            self->btnNO_savealert();
    });
}

void editImagevc::btnYES_savealert()
{
    showOverlay(Overlay::Hidden);
    savepanel_CallFromexit = true;
    showSaveSheet();
}

void editImagevc::btnNO_savealert()
{
    showOverlay(Overlay::Hidden);
    discardAndClose();
    if (const std::function<void(bool)> done = std::exchange(m_afterSaveQuestion, {}))
        done(true);
}

void editImagevc::askToSaveChanges(std::function<void(bool mayGoOn)> done)
{
    m_afterSaveQuestion = std::move(done);
    // The user is answering for these edits already: Exit's "Save changes?"
    // or a save under way (its panel, or the write) answers for the quit too.
    if (m_saveQuestionOpen)
        return;
    if (m_saving) {
        savepanel_CallFromexit = true;
        return;
    }
    alertforSaveImage();
}

void editImagevc::alertImagenotsupported()
{
    showOverlay(Overlay::Sheet);
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("This Image can not be edited.");
    spec.buttons = {QStringLiteral("OK")};
    QPointer<editImagevc> self(this);
    lg::Alert::show(window(), spec, [self](int) {
        std::printf("Success\n");
        std::fflush(stdout);
        showOverlay(Overlay::Hidden);
        if (self)
            self->closeEditor();
    });
}

void editImagevc::discardAndClose()
{
    imageview->clear();
    closeEditor();
}

void editImagevc::closeEditor()
{
    selfViewVisible = false;
    ++m_loadGeneration;
    m_editWindowWanted = false;
    editor->hide();
    imageview->clear();
    m_previewSource = QImage();
    m_heldFile.clear();
    m_openedIdentity.reset();
    m_saving = false;
    firstimage = QImage();
    m_adjustments = m_shownAdjustments = m_savedAdjustments = Adjustments();
    editor->setAdjustments(m_adjustments);
    contentHub()->closeEditImagevc();
}

// ---------------------------------------------------------------- other actions

void editImagevc::btnrefresh()
{
    loadImage();
}

void editImagevc::btnopenpanelclicked()
{
    imageview->simulateMouseDown();
}
