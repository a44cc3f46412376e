// The viewer's file actions on the shown file: reveal, open with, desktop
// picture, copy, Move to Trash after its question, properties, background
// colour, and Move To / Copy To a chosen folder with the same-name sheet.
// Copying, moving and trashing go through the file layers (platform/); the
// work runs off the main thread where it may take long (a one-item FileBatch), and
// every path ends with the overlay hidden. Main thread.
#include "viewer/viewimagevc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "model/ChosenFiles.h"
#include "model/CommandSettle.h"
#include "browser/Listing.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/FileBatch.h"
#include "platform/files/FileOperations.h"
#include "platform/desktop/Panels.h"
#include "platform/files/Trash.h"
#include "platform/desktop/Workspace.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/SlideTransition.h"
#include "viewer/ViewerCanvas.h"

#include <QColorDialog>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QPointer>
#include <QSplitter>

#include <cstdio>
#include <utility>

using lg::printLine;

namespace {

void reportFailure(QWidget *parent, lg::FileOpResult result)
{
    // Said with U+FFFD for each byte of a name that is not valid UTF-8.
    result.source = lg::FileNames::shown(result.source);
    printLine(QStringLiteral("Error: %1 (%2)").arg(result.message, result.source));
    if (const std::optional<lg::FailureSummary> summary = lg::failureSummary({result}))
        lg::Alert::show(parent, {summary->title, summary->text, {QStringLiteral("OK")}, lg::AlertSpec::Style::Warning});
}

// An item that arrived without something it held: said, as information.
void reportNotKept(QWidget *parent, lg::FileOpResult result, lg::FileOpKind kind)
{
    result.source = lg::FileNames::shown(result.source);
    printLine(result.message);
    if (const std::optional<lg::BatchSummary> summary = lg::batchSummary({result}, kind))
        lg::Alert::show(parent, {summary->title, summary->text, {QStringLiteral("OK")},
                                 lg::AlertSpec::Style::Informational});
}

ViewController *existingContent()
{
    return qobject_cast<ViewController *>(lg::ControllerRegistry::existing(QStringLiteral("ViewController")));
}

// The path of url by its exact bytes (lg::FileNames).
QString pathOf(const std::optional<QUrl> &url)
{
    return url ? lg::FileNames::pathOf(*url) : QString();
}

// Removes the entry of url from list; its index, or -1.
int removeEntry(QVector<InitialDirectory> &list, const QUrl &url)
{
    for (int i = 0; i < list.size(); ++i) {
        if (list.at(i).file && list.at(i).file->url == url) {
            list.removeAt(i);
            return i;
        }
    }
    return -1;
}

} // namespace

std::optional<QUrl> viewimagevc::shownFileOrSayItIsGone()
{
    const std::optional<QUrl> url = currentItemFileURL();
    if (url && sayNameIsNotText(pathOf(url)))
        return std::nullopt;
    if (url && isStillTheShownFile(pathOf(url)))
        return url;
    // The picture stays on screen; its file was renamed, moved, deleted or
    // written over by another program since it was shown. (A stale index
    // alone does nothing.)
    if (!url && viewerItemURL && viewerItemURL->isLocalFile()
        && shownFileState(pathOf(viewerItemURL)) != ChosenFileState::Same)
        isStillTheShownFile(pathOf(viewerItemURL));
    return std::nullopt;
}

bool viewimagevc::sayNameIsNotText(const QString &path)
{
    if (!lg::FileNames::hasRawBytes(path))
        return false;
    sayItemWasRefused(path, nameIsNotTextMessage(path));
    return true;
}

std::optional<lg::FileIdentity> viewimagevc::identityShownFor(const QString &path) const
{
    return path == m_shownPath ? m_shownIdentity : std::nullopt;
}

ChosenFileState viewimagevc::shownFileState(const QString &path) const
{
    return chosenFileState(path, identityShownFor(path));
}

bool viewimagevc::isStillTheShownFile(const QString &path)
{
    const ChosenFileState state = shownFileState(path);
    if (state == ChosenFileState::Same)
        return true;
    sayItemIsNotTheShownFile(path, state);
    return false;
}

void viewimagevc::sayItemIsNotTheShownFile(const QString &path, ChosenFileState state)
{
    reportFailure(window(), chosenFileRefusal(path, state));
}

void viewimagevc::sayItemWasRefused(const QString &path, const QString &reason)
{
    lg::FileOpResult refused;
    refused.error = lg::FileOpError::Other;
    refused.source = path;
    refused.message = reason;
    reportFailure(window(), refused);
}

// ---------------------------------------------------------------- desktop

void viewimagevc::menuShowinFinder()
{
    const QString path = pathOf(shownFileOrSayItIsGone());
    if (!path.isEmpty())
        lg::Workspace::showInFileManager({path}, window());
}

void viewimagevc::menufullscreenPlay()
{
    contentHub()->btnfullimage();
}

void viewimagevc::openwithApplicationWithSender(int tag)
{
    if (tag < 0 || tag >= recommendedAppIds.size())
        return;
    const QString path = pathOf(shownFileOrSayItIsGone());
    if (path.isEmpty())
        return;
    QString error;
    if (!lg::Workspace::openWith(recommendedAppIds.at(tag), {path}, &error))
        printLine(error);
}

void viewimagevc::SetWallpaper()
{
    const QString path = pathOf(shownFileOrSayItIsGone());
    if (path.isEmpty())
        return;
    QString error;
    if (!lg::Workspace::setDesktopPicture(path, &error)) {
        printLine(error);
        lg::Alert::inform(window(), QStringLiteral("The desktop picture could not be set."), error);
    }
}

void viewimagevc::copyItem_menu()
{
    copyCurrentItemToPasteboard();
}

// ---------------------------------------------------------------- Move to Trash

void viewimagevc::deleteItem_menu()
{
    alertforDeleteImage();
}

void viewimagevc::alertforDeleteImage()
{
    const std::optional<QUrl> url = shownFileOrSayItIsGone();
    if (!url)
        return;
    m_pendingSource = pathOf(url);
    m_pendingIdentity = identityShownFor(m_pendingSource);
    mainvc *hub = contentHub();
    hub->isonlyalert = true;
    hub->showBusyLoader();
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("Are you sure you want to delete the selected file? The selected file will be "
                                "physically deleted and moved to trash.");
    spec.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QPointer<viewimagevc> self(this);
    lg::Alert::show(window(), spec, [self](int button) {
        if (!self)
            return;
        if (button == 0)
            self->btnDeleteImage_alert();
        else
            self->btnDeleteImage_cancelalert();
    });
}

void viewimagevc::btnDeleteImage_alert()
{
    contentHub()->isonlyalert = false;
    trashCurrentItem();
    contentHub()->hideBusyLoader();
}

void viewimagevc::btnDeleteImage_cancelalert()
{
    m_pendingSource.clear();
    m_pendingIdentity.reset();
    endAlertSheet();
}

void viewimagevc::endAlertSheet()
{
    mainvc *hub = contentHub();
    hub->isonlyalert = false;
    hub->hideBusyLoader();
}

void viewimagevc::trashCurrentItem()
{
    // The file asked about, even if the list was reloaded meanwhile.
    QString path = std::exchange(m_pendingSource, QString());
    std::optional<lg::FileIdentity> chosen = std::exchange(m_pendingIdentity, std::nullopt);
    if (path.isEmpty()) {
        path = pathOf(currentItemFileURL());
        chosen = identityShownFor(path);
    }
    if (path.isEmpty())
        return;
    // Gone, replaced or changed from outside while the question was open,
    // even where the viewer has shown the new picture meanwhile.
    if (const ChosenFileState state = chosenFileState(path, chosen); state != ChosenFileState::Same) {
        sayItemIsNotTheShownFile(path, state);
        return;
    }
    const lg::FileOpResult result = lg::moveToTrash(path);
    // In the Trash, perhaps but for what the alert names, its thumbnails gone.
    for (const lg::FileOpResult &told : settleCommand(FileCommand::Trash, {result})) {
        if (!told.ok())
            reportFailure(window(), told);
        else
            reportNotKept(window(), told, lg::FileOpKind::Trash);
    }
    // The file leaves the viewer once it has left its place, or was already gone.
    if (!result.arrived() && result.error != lg::FileOpError::SourceMissing)
        return;
    if (!lg::existsOrLink(path))
        removeItemFromViewer(lg::FileNames::urlOf(path));
}

void viewimagevc::removeItemFromViewer(const QUrl &removed)
{
    // The file is gone from disk: it leaves the search results and the listing.
    QVector<InitialDirectory> &inUse = activeItemList();
    const int index = removeEntry(inUse, removed);
    if (isSearchActive)
        removeEntry(itemList, removed);
    if (index >= 0)
        selectedItemIndex = index;
    if (itemList.isEmpty()) {
        showNoFiles();
        showNoCurrentItem();
    } else {
        openSelectedItem();
        updateSidebarPreview();
    }
    if (ViewController *content = existingContent())
        content->updateItemCountLabel();
}

// ---------------------------------------------------------------- properties and colour

void viewimagevc::showProperty_menu()
{
    ViewController *content = existingContent();
    if (!content || !content->splitview || content->splitview->count() < 2)
        return;
    if (!content->splitview->widget(1)->isHidden())
        return;
    content->toggleInfoPane();
    lg::afterDelay(0, this, [this] { resize(); });
    if (currentScreenMode == ScreenViewer || currentScreenMode == ScreenFullImage)
        lg::afterDelay(100, this, [this] { resizeViewimage(); });
}

void viewimagevc::changeImageviewBGColor()
{
    auto *panel = findChild<QColorDialog *>(QStringLiteral("colorPanel"));
    if (!panel) {
        panel = new QColorDialog(this);
        panel->setObjectName(QStringLiteral("colorPanel"));
        panel->setWindowTitle(QStringLiteral("Background Color"));
        panel->setOption(QColorDialog::ShowAlphaChannel, true);
        panel->setOption(QColorDialog::NoButtons, true);
        connect(panel, &QColorDialog::currentColorChanged, this, &viewimagevc::changeColor1);
    }
    panel->setCurrentColor(imgview->backgroundColor());
    panel->show();
    panel->raise();
    panel->activateWindow();
}

void viewimagevc::changeColor1(const QColor &color)
{
    if (!color.isValid())
        return;
    boxForImgview->setStyleSheet(QStringLiteral("#boxForImgview { background: rgba(%1, %2, %3, %4); border: none; }")
                                     .arg(color.red())
                                     .arg(color.green())
                                     .arg(color.blue())
                                     .arg(color.alpha()));
    imgview->setBackgroundColor(color);
    transitionView->setBackgroundColor(color);
}

// ---------------------------------------------------------------- Move To and Copy To

void viewimagevc::itemMoveTO_menu()
{
    chooseDestinationFolder(QStringLiteral("Move"), false);
}

void viewimagevc::itemCopyTO_menu()
{
    chooseDestinationFolder(QStringLiteral("Copy"), true);
}

void viewimagevc::chooseDestinationFolder(const QString &prompt, bool copy)
{
    const QString source = pathOf(shownFileOrSayItIsGone());
    if (source.isEmpty())
        return;
    const std::optional<lg::FileIdentity> chosen = identityShownFor(source);
    mainvc *hub = contentHub();
    hub->isonlyalert = true;
    hub->showBusyLoader();
    lg::OpenPanelSpec spec;
    spec.title = prompt;
    spec.prompt = prompt;
    spec.chooseFiles = false;
    spec.chooseDirectories = true;
    spec.directory = QFileInfo(source).absolutePath();
    QPointer<viewimagevc> self(this);
    lg::Panels::open(window(), spec, [self, source, chosen, copy](const QList<QUrl> &urls) {
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        if (!self || urls.isEmpty() || !urls.first().isLocalFile()) {
            hub->hideBusyLoader();
            return;
        }
        const QString folder = lg::FileNames::pathOf(urls.first());
        // A folder whose name is not valid UTF-8 is refused as its items are.
        if (self->sayNameIsNotText(folder)) {
            hub->hideBusyLoader();
            return;
        }
        // Into its own folder: nothing to move.
        if (!copy && lg::isSameFile(folder, QFileInfo(source).absolutePath())) {
            hub->hideBusyLoader();
            return;
        }
        // Gone, replaced or changed while the panel was open.
        if (const ChosenFileState state = chosenFileState(source, chosen); state != ChosenFileState::Same) {
            hub->hideBusyLoader();
            self->sayItemIsNotTheShownFile(source, state);
            return;
        }
        hub->showBusyLoader();
        self->runMoveOrCopy(copy, source, chosen, folder, int(lg::ConflictPolicy::Refuse));
    });
}

void viewimagevc::runMoveOrCopy(bool copy, const QString &source, const std::optional<lg::FileIdentity> &chosen,
                                const QString &folder, int policy)
{
    // A batch of one item: the same clash rules as every other screen's.
    auto batch = std::make_shared<lg::FileBatch>(copy ? lg::FileOpKind::Copy : lg::FileOpKind::Move, folder);
    QPointer<viewimagevc> self(this);
    const auto done = [self, copy, source, chosen, folder](const lg::FileBatch::Outcome &outcome) {
        contentHub()->hideBusyLoader();
        if (!self)
            return;
        if (!outcome.clashes.isEmpty()) {
            self->droppedfiles_copy = copy;
            self->outside_DestinationUrl = lg::FileNames::urlOf(folder);
            self->m_pendingSource = source;
            self->m_pendingIdentity = chosen;
            self->alertSameFile_forouside();
            return;
        }
        if (outcome.results.isEmpty())
            return;
        const lg::FileOpResult &result = outcome.results.first();
        // A moved file that arrived (perhaps but for what the alert names)
        // takes its thumbnails along.
        for (const lg::FileOpResult &told : settleCommand(copy ? FileCommand::Copy : FileCommand::Move, {result})) {
            if (!told.ok())
                reportFailure(self->window(), told);
            else
                reportNotKept(self->window(), told, copy ? lg::FileOpKind::Copy : lg::FileOpKind::Move);
        }
        // It leaves the viewer once it has left its place.
        if (result.arrived() && !copy) {
            if (!lg::existsOrLink(source))
                self->removeItemFromViewer(lg::FileNames::urlOf(source));
        }
    };
    lg::runThenCallback(this, [batch, source, policy, chosen] {
        // Checked again just before the batch: still the file chosen.
        if (chosen) {
            if (const ChosenFileState state = chosenFileState(source, chosen); state != ChosenFileState::Same)
                return lg::FileBatch::Outcome{{chosenFileRefusal(source, state)}, {}};
        }
        return batch->run({source}, lg::ConflictPolicy(policy));
    }, done);
}

void viewimagevc::alertSameFile_forouside()
{
    if (!outside_DestinationUrl || m_pendingSource.isEmpty())
        return;
    mainvc *hub = contentHub();
    hub->isonlyalert = true;
    hub->showBusyLoader();
    const QString existing = QDir(pathOf(outside_DestinationUrl)).filePath(QFileInfo(m_pendingSource).fileName());
    // Never offer to replace the file with itself.
    const bool replaceAllowed = !lg::isSameFile(existing, m_pendingSource);
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("File already exists");
    if (replaceAllowed) {
        spec.text = QStringLiteral("A file with the same name already exists in the destination folder. Do you want "
                                   "to replace it with the one you have selected?");
        spec.buttons << QStringLiteral("Replace");
    } else {
        spec.text = QStringLiteral("A file with the same name already exists in the destination folder. Do you want "
                                   "to make a copy of the one you have selected?");
    }
    spec.buttons << QStringLiteral("Make a Copy") << QStringLiteral("Stop");
    QPointer<viewimagevc> self(this);
    lg::Alert::show(window(), spec, [self, replaceAllowed](int button) {
        if (!self)
            return;
        const int answer = replaceAllowed ? button : button + 1;
        if (answer == 0)
            self->btnOverwrite_alert_forouside();
        else if (answer == 1)
            self->btnRename_alert_forouside();
        else
            self->btnCancel_alert_forouside();
    });
}

void viewimagevc::btnOverwrite_alert_forouside()
{
    mainvc *hub = contentHub();
    hub->isonlyalert = false;
    hub->showBusyLoader();
    runMoveOrCopy(droppedfiles_copy, m_pendingSource, m_pendingIdentity, pathOf(outside_DestinationUrl),
                  int(lg::ConflictPolicy::Replace));
}

void viewimagevc::btnRename_alert_forouside()
{
    mainvc *hub = contentHub();
    hub->isonlyalert = false;
    hub->showBusyLoader();
    runMoveOrCopy(droppedfiles_copy, m_pendingSource, m_pendingIdentity, pathOf(outside_DestinationUrl),
                  int(lg::ConflictPolicy::KeepBoth));
}

void viewimagevc::btnCancel_alert_forouside()
{
    endAlertSheet();
}
