// The viewer's file actions on the shown file: how a command finds it,
// reveal, open with, desktop picture, copy, properties, background colour,
// and the file's leaving the viewer; Move to Trash, Move To and Copy To are
// ViewerFileCommands', through the flow of file commands. Main thread.
#include "viewer/viewimagevc.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/DestinationChooser.h"
#include "model/ChosenFiles.h"
#include "model/CommandSettle.h"
#include "model/ScreenHooks.h"
#include "browser/Listing.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/ControllerRegistry.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Dispatch.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/desktop/Workspace.h"
#include "sidebar/sideMenuvc.h"
#include "viewer/SlideTransition.h"
#include "viewer/ViewerCanvas.h"
#include "viewer/ViewerFileCommands.h"

#include <QColorDialog>
#include <QDir>
#include <QFileInfo>
#include <QFrame>
#include <QPointer>
#include <QSplitter>

#include <algorithm>
#include <cstdio>
#include <utility>

using lg::printLine;

namespace {

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

std::optional<ChosenItem> viewimagevc::shownFileAsChosen()
{
    const std::optional<QUrl> url = currentItemFileURL();
    if (!url) {
        shownFileOrSayItIsGone();   // says why, where there is a reason to say
        return std::nullopt;
    }
    const QString path = pathOf(url);
    if (sayNameIsNotText(path))
        return std::nullopt;
    // Followed to its new name when it was renamed within its folder and
    // nothing else changed, as every file command finds its file.
    const SourceNow now = sourceNow({path, identityShownFor(path), std::nullopt}, ChosenWhen::Shown);
    if (now.refusal) {
        tellFileCommand(window(), {*now.refusal}, std::nullopt);
        return std::nullopt;
    }
    return now.item;
}

bool viewimagevc::sayNameIsNotText(const QString &path)
{
    if (!lg::FileNames::hasRawBytes(path))
        return false;
    sayItemWasRefused(path, lg::FileNames::notTextMessage(path));
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
    tellFileCommand(window(), {chosenFileRefusal(path, state)}, std::nullopt);
}

void viewimagevc::sayItemWasRefused(const QString &path, const QString &reason)
{
    lg::FileOpResult refused;
    refused.error = lg::FileOpError::Other;
    refused.source = path;
    refused.message = reason;
    tellFileCommand(window(), {refused}, std::nullopt);
}

// ---------------------------------------------------------------- desktop

void viewimagevc::menuShowinFinder()
{
    if (const std::optional<ChosenItem> shown = shownFileAsChosen())
        lg::Workspace::showInFileManager({shown->path}, window());
}

void viewimagevc::menufullscreenPlay()
{
    contentHub()->btnfullimage();
}

void viewimagevc::openwithApplicationWithSender(int tag)
{
    if (tag < 0 || tag >= recommendedAppIds.size())
        return;
    const std::optional<ChosenItem> shown = shownFileAsChosen();
    if (!shown)
        return;
    QString error;
    if (!lg::Workspace::openWith(recommendedAppIds.at(tag), {shown->path}, &error))
        printLine(error);
}

void viewimagevc::SetWallpaper()
{
    const std::optional<ChosenItem> shown = shownFileAsChosen();
    if (!shown)
        return;
    QString error;
    if (!lg::Workspace::setDesktopPicture(shown->path, &error)) {
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
    lg::AlertSpec question;
    question.style = lg::AlertSpec::Style::Informational;
    question.title = QStringLiteral("Are you sure you want to delete the selected file? The selected file will be "
                                    "physically deleted and moved to trash.");
    question.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    m_fileCommands->trashShownFile(question);
}

void viewimagevc::endAlertSheet()
{
    showOverlay(Overlay::Hidden);
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
    m_fileCommands->moveOrCopyShownFile(QStringLiteral("Move"), false);
}

void viewimagevc::itemCopyTO_menu()
{
    m_fileCommands->moveOrCopyShownFile(QStringLiteral("Copy"), true);
}
