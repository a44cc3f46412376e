#include "browser/ItemFileCommands.h"

#include "app/Essentials.h"
#include "app/mainvc.h"
#include "browser/DestinationChooser.h"
#include "browser/ItemMenus.h"
#include "browser/Listing.h"
#include "browser/ShownItemsModel.h"
#include "model/ThumbnailCache.h"
#include "browser/ViewController.h"
#include "browser/listVc.h"
#include "browser/thumbnailvc.h"
#include "model/PhotoLibraryImport.h"
#include "model/ScreenHooks.h"
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/names/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/files/operations/FileOperations.h"
#include "platform/files/operations/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QSet>
#include <QTextStream>

#include <sys/stat.h>

namespace {

bool isMediaFilePath(const QString &path)
{
    const QString name = QFileInfo(path).fileName();
    return mediaExtensions.contains(pathExtensionOf(name).toLower()) && !lg::FileNames::isFolder(path);
}

// A folder (or a link to one); one stat, without QFileInfo's caching.
bool isFolderPath(const QString &path)
{
    struct stat st {};
    return ::stat(lg::FileNames::toNative(path).constData(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool sameFolder(const QString &a, const QString &b)
{
    return QDir::cleanPath(a) == QDir::cleanPath(b) || lg::isSameFile(a, b);
}

QString currentFolderPath()
{
    return currentFolderURL && currentFolderURL->isLocalFile() ? lg::FileNames::pathOf(*currentFolderURL) : QString();
}

void print(const QString &line)
{
    QTextStream(stdout) << line << Qt::endl;
}

// The selected items a command acts on, as they are now; those whose names
// are not valid UTF-8 go to refused (the file layers would act on the
// look-alike whose name holds U+FFFD).
ChosenItems chosenItems(const BrowseView &view)
{
    QStringList paths;
    for (int row : itemmenus::selectedRows(view)) {
        const InitialDirectory *item = view.model ? view.model->entry(row) : nullptr;
        if (item && item->file && lg::FileNames::hasRawBytes(lg::FileNames::pathOf(item->file->url))) {
            paths.append(lg::FileNames::pathOf(item->file->url));
            continue;
        }
        if (const QString path = item ? item->commandPath() : QString(); !path.isEmpty())
            paths.append(path);
    }
    return chooseItems(paths);
}

} // namespace

// ---------------------------------------------------------------- commands

ItemFileCommands::ItemFileCommands(QObject *parent) : QObject(parent)
{
    setObjectName(QStringLiteral("itemFileCommands"));
}

ItemFileCommands *ItemFileCommands::instance()
{
    ViewController *content = contentController();
    auto *commands = content->findChild<ItemFileCommands *>(QString(), Qt::FindDirectChildrenOnly);
    return commands ? commands : new ItemFileCommands(content);
}

QWidget *ItemFileCommands::window() const
{
    return contentController()->window();
}

void ItemFileCommands::runCommand(FileCommandRequest request, bool currentFolderSheet)
{
    // Names listed in the current folder count as taken for its numbered copies.
    if (request.kind != lg::FileOpKind::Trash && currentFolderSheet
        && sameFolder(request.targetFolder, currentFolderPath()))
        for (const InitialDirectory &item : std::as_const(itemList))
            if (item.file)
                request.listedNames.append(item.file->url.fileName());
    request.clashPlace = currentFolderSheet ? QStringLiteral("current folder") : QStringLiteral("destination folder");
    FileCommandScreen screen;
    screen.owner = this;
    screen.window = [] { return contentController()->window(); };
    screen.working = [] { contentHub()->stopMonitorWithSender(); };
    screen.settled = [](const QList<lg::FileOpResult> &results, const std::any &) {
        int succeeded = 0;
        for (const lg::FileOpResult &result : results)
            succeeded += result.ok() ? 1 : 0;
        print(QString::number(succeeded));
        reloadShownBrowseView();
        contentHub()->startMonitorWithSender();
    };
    QPointer<ItemFileCommands> self(this);
    screen.passDone = [self] {
        if (self)
            Q_EMIT self->batchFinished();
    };
    runFileCommand(std::move(screen), std::move(request));
}

void ItemFileCommands::duplicateItems(const BrowseView &view)
{
    const QString folder = currentFolderPath();
    if (folder.isEmpty() || isFileOperationRunning)
        return;
    if (isPhotoLibraryImportTarget(currentFolderURL)) {
        refusePhotoLibraryImport(window());
        return;
    }
    FileCommandRequest request;
    request.kind = lg::FileOpKind::Copy;
    request.chosen = chosenItems(view);
    request.targetFolder = folder;
    request.chosenWhen = ChosenWhen::Chosen;
    // A duplicate never replaces: every copy gets the next free numbered name.
    request.firstPass = lg::ConflictPolicy::KeepBoth;
    runCommand(std::move(request), true);
}

bool ItemFileCommands::sayNameIsNotText(const QString &path)
{
    if (!lg::FileNames::hasRawBytes(path))
        return false;
    tellFileCommand(window(), chooseItems({path}).refused, std::nullopt);
    return true;
}

void ItemFileCommands::trashItems(const BrowseView &view)
{
    if (isFileOperationRunning)
        return;
    // The files chosen now: a reload while the question is open changes
    // nothing. Those that would be refused are said first, and not asked about.
    FileCommandRequest request;
    request.kind = lg::FileOpKind::Trash;
    request.chosen = chosenItems(view);
    request.chosenWhen = ChosenWhen::ForTrash;
    lg::AlertSpec question;
    question.style = lg::AlertSpec::Style::Informational;
    question.title = QStringLiteral("Are you sure you want to delete the selected files? All the files will be "
                                    "physically deleted and moved to trash.");
    question.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    request.confirmation = question;
    runCommand(std::move(request), true);
}

void ItemFileCommands::moveItemsTo(const BrowseView &view)
{
    chooseAndTransfer(view, true);
}

void ItemFileCommands::copyItemsTo(const BrowseView &view)
{
    chooseAndTransfer(view, false);
}

void ItemFileCommands::chooseAndTransfer(const BrowseView &view, bool move)
{
    if (isFileOperationRunning)
        return;
    // The files chosen now: a reload while the panel is open changes nothing.
    ChosenItems chosen = chosenItems(view);
    const QList<lg::FileOpResult> refused = std::exchange(chosen.refused, {});
    QPointer<ItemFileCommands> self(this);
    // The refusals are said first; the panel follows for the others.
    tellFileCommand(window(), refused, std::nullopt, [self, chosen, move] {
        if (self && !chosen.items.isEmpty() && !isFileOperationRunning)
            self->chooseDestinationFor(chosen, move);
    });
}

void ItemFileCommands::chooseDestinationFor(const ChosenItems &chosen, bool move)
{
    showOverlay(Overlay::Sheet);
    QPointer<ItemFileCommands> self(this);
    chooseDestinationFolder(window(), move ? QStringLiteral("Move") : QStringLiteral("Copy"), QString(),
                            [self, chosen, move](std::optional<QString> destination) {
        if (!destination)
            return;   // the chooser has put the overlay away
        if (!self || destination->isEmpty() || !lg::FileNames::isFolder(*destination)
            || (move && sameFolder(*destination, currentFolderPath()))) {
            showOverlay(Overlay::Hidden);
            return;
        }
        if (isPhotoLibraryImportTarget(lg::FileNames::urlOf(*destination))) {
            showOverlay(Overlay::Hidden);
            refusePhotoLibraryImport(self->window());
            return;
        }
        FileCommandRequest request;
        request.kind = move ? lg::FileOpKind::Move : lg::FileOpKind::Copy;
        request.chosen = chosen;
        request.targetFolder = *destination;
        request.chosenWhen = ChosenWhen::Chosen;
        self->runCommand(std::move(request), false);
    });
}

void ItemFileCommands::pasteItems()
{
    importQueue.clear();
    const QString folder = currentFolderPath();
    if (folder.isEmpty() || isFileOperationRunning)
        return;
    const lg::FileClip clip = lg::Clipboard::readFiles();
    QStringList sources;
    for (const QUrl &url : clip.urls) {
        // By the exact bytes: a name that is not valid UTF-8 is pasted as
        // itself, never taken for its look-alike.
        const QString path = lg::FileNames::pathOf(url);
        if (!url.isLocalFile() || !isMediaFilePath(path))
            continue;
        sources.append(path);
    }
    if (isPhotoLibraryImportTarget(currentFolderURL)) {
        if (!sources.isEmpty())
            refusePhotoLibraryImport(window());
        return;
    }
    if (sources.isEmpty())
        return;
    // Items that have gone since they were copied or cut (a file manager may
    // have moved them already) are said in one alert; the rest are pasted.
    FileCommandRequest request;
    request.kind = clip.cut ? lg::FileOpKind::Move : lg::FileOpKind::Copy;
    request.chosen = chooseItems(sources, false);
    for (qsizetype i = request.chosen.items.size() - 1; i >= 0; --i) {
        const ChosenItem &item = request.chosen.items.at(i);
        if (item.identity || lg::existsOrLink(item.path))
            continue;
        lg::FileOpResult missing;
        missing.error = lg::FileOpError::SourceMissing;
        missing.source = item.path;
        missing.message = goneMessage(ChosenWhen::CopiedOrCut);
        request.chosen.refused.prepend(missing);
        request.chosen.items.removeAt(i);
    }
    request.targetFolder = folder;
    request.chosenWhen = ChosenWhen::CopiedOrCut;
    runCommand(std::move(request), true);
}

bool ItemFileCommands::acceptDrop(const QList<QUrl> &urls)
{
    if (isBusy || isFileOperationRunning)
        return false;
    const QString destination = currentFolderPath();   // captured now, at drop time
    if (destination.isEmpty())
        return false;
    bool accepted = true;
    QStringList collected;
    collected.reserve(urls.size());
    // A drop of thousands of files is checked here by name only (and one look
    // at the disk per folder the files come from).
    const QString cleanDestination = QDir::cleanPath(destination);
    const QSet<QString> extensions(mediaExtensions.cbegin(), mediaExtensions.cend());
    QString lastOtherFolder;   // a folder found not to be the destination
    for (const QUrl &url : urls) {
        if (!url.isLocalFile())
            continue;
        const QString path = QDir::cleanPath(lg::FileNames::pathOf(url));
        const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
        const QString folder = slash > 0 ? path.left(slash) : QStringLiteral("/");
        if (folder == cleanDestination || (folder != lastOtherFolder && sameFolder(folder, destination))) {
            accepted = false;   // from the current folder: items are never reordered
            continue;
        }
        lastOtherFolder = folder;
        if (!extensions.contains(pathExtensionOf(path.mid(slash + 1)).toLower()))
            continue;
        collected.append(path);
    }
    if (isPhotoLibraryImportTarget(currentFolderURL)) {
        if (accepted && !collected.isEmpty())
            refusePhotoLibraryImport(window());
        return false;
    }
    if (!accepted || collected.isEmpty())
        return accepted;
    showOverlay(Overlay::Sheet);
    // Folders named like media files are passed over: that look at the disk
    // is taken off the main thread, and the question follows it. It comes
    // back to the application, not to this object: the busy loader goes
    // even when the commands have gone meanwhile.
    QPointer<ItemFileCommands> self(this);
    lg::runThenCallback(
        QCoreApplication::instance(),
        [collected] {
            QStringList files;
            files.reserve(collected.size());
            for (const QString &path : collected)
                if (!isFolderPath(path))
                    files.append(path);
            return files;
        },
        [self, destination](const QStringList &files) {
            if (!self || files.isEmpty()) {
                showOverlay(Overlay::Hidden);
                return;
            }
            self->askAboutDrop(files, destination);
        });
    return true;
}

void ItemFileCommands::askAboutDrop(const QStringList &dropped, const QString &destination)
{
    // The files as they are when dropped: the answers cover these.
    const ChosenItems collected = chooseItems(dropped, false);
    if (!isSearchActive) {
        showCopyOrMoveAlert(collected, destination);
        return;
    }
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("Adding new files to the current folder will remove the Search results. Do you want "
                                "to continue?");
    spec.buttons = {QStringLiteral("No"), QStringLiteral("Yes")};
    QPointer<ItemFileCommands> self(this);
    lg::Alert::show(window(), spec, [self, collected, destination](int button) {
        showOverlay(Overlay::Hidden);
        if (!self || button != 1)
            return;
        contentController()->searchField->clear();
        showOverlay(Overlay::Sheet);
        self->showCopyOrMoveAlert(collected, destination);
    });
}

void ItemFileCommands::showCopyOrMoveAlert(const ChosenItems &sources, const QString &targetFolder)
{
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("You are draggng and dropping files to the seleced folder. Do you want to Copy or "
                                "Move these files?");
    spec.buttons = {QStringLiteral("Copy"), QStringLiteral("Move"), QStringLiteral("Cancel")};
    QPointer<ItemFileCommands> self(this);
    lg::Alert::show(window(), spec, [self, sources, targetFolder](int button) {
        showOverlay(Overlay::Hidden);
        if (!self || (button != 0 && button != 1))
            return;
        FileCommandRequest request;
        request.kind = button == 0 ? lg::FileOpKind::Copy : lg::FileOpKind::Move;
        request.chosen = sources;
        request.targetFolder = targetFolder;
        request.chosenWhen = ChosenWhen::Chosen;
        self->runCommand(std::move(request), true);
    });
}
