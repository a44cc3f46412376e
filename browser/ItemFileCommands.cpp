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
#include "platform/desktop/Alert.h"
#include "platform/desktop/Clipboard.h"
#include "platform/files/FileNames.h"
#include "platform/runtime/Background.h"
#include "platform/files/FileOperations.h"
#include "platform/files/Trash.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLineEdit>
#include <QPointer>
#include <QSet>
#include <QTextStream>

#include <sys/stat.h>

namespace {

lg::FileOpResult failed(lg::FileOpError error, const QString &source, const QString &target, const QString &message)
{
    lg::FileOpResult result;
    result.error = error;
    result.source = source;
    result.target = target;
    result.message = message;
    return result;
}

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

QString folderOf(const QString &path)
{
    return QFileInfo(path).absolutePath();
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

void showAlertForm()
{
    mainvc *hub = contentHub();
    hub->isonlyalert = true;
    hub->showBusyLoader();
}

// The refusal of a command on path, whose name is not valid UTF-8 (given by
// its exact bytes): no command acts on it (the file layers would act on the
// look-alike whose name holds U+FFFD).
lg::FileOpResult nameIsNotText(const QString &path)
{
    return failed(lg::FileOpError::Other, lg::FileNames::shown(path), {}, lg::FileNames::notTextMessage(path));
}

// The paths of the selected items a command acts on; those whose names are
// not valid UTF-8 are left out and go to *refused.
QStringList chosenPaths(const BrowseView &view, QList<lg::FileOpResult> *refused)
{
    QStringList paths;
    for (int row : itemmenus::selectedRows(view)) {
        const InitialDirectory *item = view.model ? view.model->entry(row) : nullptr;
        if (item && item->file && lg::FileNames::hasRawBytes(lg::FileNames::pathOf(item->file->url))) {
            refused->append(nameIsNotText(lg::FileNames::pathOf(item->file->url)));
            continue;
        }
        if (const QString path = item ? item->commandPath() : QString(); !path.isEmpty())
            paths.append(path);
    }
    return paths;
}

} // namespace

TransferOutcome runTransfer(TransferKind kind, const QStringList &sources, const QString &targetFolder,
                            ClashMode mode, const QStringList &listedNames, std::shared_ptr<lg::FileBatch> batch,
                            const ChosenIdentities &chosen)
{
    TransferOutcome out;
    if (kind == TransferKind::Trash) {
        // Each item is checked right before it goes; the batch stops between
        // items at quit: what went stays in the Trash, the rest comes back Cancelled.
        out.results = lg::moveAllToTrash(sources, nullptr, [&chosen](const QString &source) {
            return refusalIfChanged(source, chosen);
        });
        for (lg::FileOpResult &result : out.results)
            if (result.error == lg::FileOpError::SourceMissing)
                result.message = QStringLiteral("The item no longer exists.");
        return out;
    }
    // Sources that are no longer the files chosen stay out of the batch.
    QStringList still;
    still.reserve(sources.size());
    for (const QString &source : sources) {
        if (std::optional<lg::FileOpResult> refused = refusalIfChanged(source, chosen))
            out.results.append(*refused);
        else
            still.append(source);
    }
    const lg::FileOpKind batchKind = kind == TransferKind::Copy ? lg::FileOpKind::Copy : lg::FileOpKind::Move;
    if (!batch || batch->kind() != batchKind || batch->targetFolder() != targetFolder)
        batch = std::make_shared<lg::FileBatch>(batchKind, targetFolder, listedNames);
    const lg::ConflictPolicy onClash = mode == ClashMode::Collect   ? lg::ConflictPolicy::Refuse
                                       : mode == ClashMode::Replace ? lg::ConflictPolicy::Replace
                                                                    : lg::ConflictPolicy::KeepBoth;
    lg::FileBatch::Outcome done = batch->run(still, onClash);
    out.results.append(done.results);
    out.clashes = std::move(done.clashes);
    out.batch = std::move(batch);
    return out;
}

FileCommand commandOf(TransferKind kind)
{
    return kind == TransferKind::Move    ? FileCommand::Move
           : kind == TransferKind::Trash ? FileCommand::Trash
                                         : FileCommand::Copy;
}

QList<lg::FileOpResult> reportableFailures(const QList<lg::FileOpResult> &results, TransferKind kind)
{
    return failuresToTell(commandOf(kind), results);
}

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

void ItemFileCommands::runBatch(TransferKind kind, const QStringList &sources, const QString &targetFolder,
                                ClashMode mode, bool currentFolderSheet, std::function<void()> done,
                                std::shared_ptr<lg::FileBatch> batch, bool fromClipboard,
                                const ChosenIdentities &chosen)
{
    mainvc *hub = contentHub();
    hub->isonlyalert = false;
    hub->showBusyLoader();
    isFileOperationRunning = true;
    hub->stopMonitorWithSender();
    // Names listed in the current folder count as taken for its numbered copies.
    QStringList listed;
    if (kind != TransferKind::Trash && !batch && currentFolderSheet && sameFolder(targetFolder, currentFolderPath()))
        for (const InitialDirectory &item : std::as_const(itemList))
            if (item.file)
                listed.append(item.file->url.fileName());
    const int generation = ++m_generation;
    QPointer<ItemFileCommands> self(this);
    // Back to the application, not to this object: the running flag is
    // cleared even when the commands have gone meanwhile.
    lg::runThenCallback(
        QCoreApplication::instance(),
        [kind, sources, targetFolder, mode, listed, batch = std::move(batch), chosen] {
            return runTransfer(kind, sources, targetFolder, mode, listed, batch, chosen);
        },
        [self, kind, targetFolder, currentFolderSheet, fromClipboard, generation, done = std::move(done),
         chosen](const TransferOutcome &outcome) {
            if (!self || generation != self->m_generation) {
                isFileOperationRunning = false;
                return;
            }
            self->finishBatch(outcome, kind, targetFolder, currentFolderSheet, fromClipboard, done, chosen);
        });
}

void ItemFileCommands::finishBatch(TransferOutcome outcome, TransferKind kind, const QString &targetFolder,
                                   bool currentFolderSheet, bool fromClipboard, const std::function<void()> &done,
                                   const ChosenIdentities &chosen)
{
    isFileOperationRunning = false;
    // An item that went while a question or the folder panel was open stays
    // where it went: the user is told, in the words of where it came from.
    const QString missing = fromClipboard ? QStringLiteral("The item is no longer where it was copied or cut from.")
                                          : QStringLiteral("The item is no longer where it was when it was chosen.");
    for (lg::FileOpResult &result : outcome.results)
        if (result.error == lg::FileOpError::SourceMissing && kind != TransferKind::Trash)
            result.message = missing;
    const QList<lg::FileOpResult> told = settleCommand(commandOf(kind), outcome.results);
    int succeeded = 0;
    for (const lg::FileOpResult &result : outcome.results) {
        if (result.ok())
            ++succeeded;
        else
            print(QStringLiteral("Error: ") + result.source + QStringLiteral(": ") + result.message);
    }
    print(QString::number(succeeded));
    reloadShownBrowseView();
    mainvc *hub = contentHub();
    hub->startMonitorWithSender();

    m_pending = outcome.clashes;
    m_pendingBatch = outcome.batch;
    m_pendingFolder = targetFolder;
    m_pendingKind = kind;
    m_pendingCurrentFolder = currentFolderSheet;
    m_pendingFromClipboard = fromClipboard;
    m_pendingChosen = chosen;
    QPointer<ItemFileCommands> self(this);
    const auto next = [self, done] {
        if (self && !self->m_pending.isEmpty())
            self->alertSameFile();
        else
            contentHub()->hideBusyLoader();
        if (done)
            done();
        if (self)
            Q_EMIT self->batchFinished();
    };
    const lg::FileOpKind batchKind = kind == TransferKind::Move    ? lg::FileOpKind::Move
                                     : kind == TransferKind::Trash ? lg::FileOpKind::Trash
                                                                   : lg::FileOpKind::Copy;
    if (const std::optional<lg::BatchSummary> summary =
            lg::batchSummary(told, batchKind)) {
        showAlertForm();
        lg::AlertSpec spec;
        spec.title = summary->title;
        spec.text = summary->text;
        spec.buttons = {QStringLiteral("OK")};
        if (summary->informational)
            spec.style = lg::AlertSpec::Style::Informational;
        lg::Alert::show(window(), spec, [next](int) {
            contentHub()->isonlyalert = false;
            next();
        });
    } else {
        next();
    }
}

void ItemFileCommands::alertSameFile()
{
    if (m_pending.isEmpty())
        return;
    showAlertForm();
    // Replace is not offered when every clashing item would replace itself.
    bool offerReplace = false;
    for (const QString &source : std::as_const(m_pending))
        if (!sameFolder(folderOf(source), m_pendingFolder))
            offerReplace = true;
    const QString where = m_pendingCurrentFolder ? QStringLiteral("current folder") : QStringLiteral("destination folder");
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("File already exists");
    if (offerReplace) {
        spec.text = QStringLiteral("A file with the same name already exists in the ") + where
            + QStringLiteral(". Do you want to replace it with the one you have selected?");
        spec.buttons = {QStringLiteral("Replace"), QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
    } else {
        spec.text = QStringLiteral("A file with the same name already exists in the ") + where
            + QStringLiteral(". Do you want to make a copy of the one you have selected?");
        spec.buttons = {QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
    }
    const QStringList pending = m_pending;
    const QString folder = m_pendingFolder;
    const TransferKind kind = m_pendingKind;
    const bool currentFolderSheet = m_pendingCurrentFolder;
    const bool fromClipboard = m_pendingFromClipboard;
    const std::shared_ptr<lg::FileBatch> batch = m_pendingBatch;
    const ChosenIdentities chosen = m_pendingChosen;
    QPointer<ItemFileCommands> self(this);
    lg::Alert::show(window(), spec, [self, offerReplace, pending, folder, kind, currentFolderSheet, fromClipboard,
                                     batch, chosen](int button) {
        contentHub()->isonlyalert = false;
        const int choice = offerReplace ? button : button + 1;   // 0 Replace, 1 Make a Copy, 2 Stop
        if (!self || choice < 0 || choice > 1) {
            contentHub()->hideBusyLoader();
            return;
        }
        self->runBatch(kind, pending, folder, choice == 0 ? ClashMode::Replace : ClashMode::MakeCopy,
                       currentFolderSheet, {}, batch, fromClipboard, chosen);
    });
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
    QList<lg::FileOpResult> refused;
    const QStringList paths = chosenPaths(view, &refused);
    QPointer<ItemFileCommands> self(this);
    sayRefusedThen(refused, [self, paths, folder] {
        if (self && !paths.isEmpty())
            self->runBatch(TransferKind::Copy, paths, folder, ClashMode::MakeCopy, true);
    });
}

bool ItemFileCommands::sayNameIsNotText(const QString &path)
{
    if (!lg::FileNames::hasRawBytes(path))
        return false;
    sayRefusedThen({nameIsNotText(path)}, [] {});
    return true;
}

void ItemFileCommands::sayRefusedThen(const QList<lg::FileOpResult> &refused, std::function<void()> then)
{
    const std::optional<lg::FailureSummary> summary = lg::failureSummary(refused);
    if (!summary) {
        then();
        return;
    }
    for (const lg::FileOpResult &result : refused)
        print(QStringLiteral("Error: ") + result.source + QStringLiteral(": ") + result.message);
    showAlertForm();
    lg::Alert::show(window(), {summary->title, summary->text, {QStringLiteral("OK")}, lg::AlertSpec::Style::Warning},
                    [then = std::move(then)](int) {
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        hub->hideBusyLoader();
        then();
    });
}

void ItemFileCommands::trashItems(const BrowseView &view)
{
    if (isFileOperationRunning)
        return;
    // The files chosen now: a reload while the question is open changes nothing.
    // Those that would be refused are said first, and not asked about.
    QList<lg::FileOpResult> refused;
    const QStringList paths = chosenPaths(view, &refused);
    // ... and as they are now: one replaced or changed meanwhile is not trashed.
    const ChosenIdentities chosen = identitiesOf(paths);
    if (refused.isEmpty()) {
        askAboutTrash(paths, chosen);
        return;
    }
    QPointer<ItemFileCommands> self(this);
    sayRefusedThen(refused, [self, paths, chosen] {
        if (self && !paths.isEmpty() && !isFileOperationRunning)
            self->askAboutTrash(paths, chosen);
    });
}

void ItemFileCommands::askAboutTrash(const QStringList &paths, const ChosenIdentities &chosen)
{
    showAlertForm();
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("Are you sure you want to delete the selected files? All the files will be physically "
                                "deleted and moved to trash.");
    spec.buttons = {QStringLiteral("Yes"), QStringLiteral("No")};
    QPointer<ItemFileCommands> self(this);
    lg::Alert::show(window(), spec, [self, paths, chosen](int button) {
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        hub->hideBusyLoader();
        if (!self || button != 0)
            return;
        if (!paths.isEmpty())
            self->runBatch(TransferKind::Trash, paths, QString(), ClashMode::Collect, true, {}, {}, false, chosen);
    });
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
    QList<lg::FileOpResult> refused;
    const QStringList paths = chosenPaths(view, &refused);
    const ChosenIdentities identities = identitiesOf(paths);
    QPointer<ItemFileCommands> self(this);
    if (!refused.isEmpty()) {
        // Said first; the panel follows for the others.
        sayRefusedThen(refused, [self, paths, move, identities] {
            if (self && !paths.isEmpty() && !isFileOperationRunning)
                self->chooseDestinationFor(paths, move, identities);
        });
        return;
    }
    chooseDestinationFor(paths, move, identities);
}

void ItemFileCommands::chooseDestinationFor(const QStringList &paths, bool move, const ChosenIdentities &identities)
{
    showAlertForm();
    QPointer<ItemFileCommands> self(this);
    chooseDestinationFolder(window(), move ? QStringLiteral("Move") : QStringLiteral("Copy"),
                            [self, paths, move, identities](std::optional<QUrl> chosen) {
        if (!chosen)
            return;   // the chooser has put the overlay away
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        if (!self) {
            hub->hideBusyLoader();
            return;
        }
        const QString destination = lg::FileNames::pathOf(*chosen);
        if (destination.isEmpty() || !lg::FileNames::isFolder(destination)) {
            hub->hideBusyLoader();
            return;
        }
        if (isPhotoLibraryImportTarget(chosen)) {
            hub->hideBusyLoader();
            refusePhotoLibraryImport(self->window());
            return;
        }
        if (move && sameFolder(destination, currentFolderPath())) {
            hub->hideBusyLoader();
            return;
        }
        if (paths.isEmpty()) {
            hub->hideBusyLoader();
            return;
        }
        self->runBatch(move ? TransferKind::Move : TransferKind::Copy, paths, destination, ClashMode::Collect, false,
                       {}, {}, false, identities);
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
    QList<lg::FileOpResult> gone;
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
    if (sources.isEmpty() && gone.isEmpty())
        return;
    // Items that have gone since they were copied or cut (a file manager may
    // have moved them already) are said in one alert; the rest are pasted.
    for (const QString &source : std::as_const(sources))
        if (!lg::existsOrLink(source))
            gone.append(failed(lg::FileOpError::SourceMissing, source, {},
                               QStringLiteral("The item is no longer where it was copied or cut from.")));
    const TransferKind kind = clip.cut ? TransferKind::Move : TransferKind::Copy;
    const std::optional<lg::FailureSummary> summary = lg::failureSummary(gone);
    if (!summary) {
        runBatch(kind, sources, folder, ClashMode::Collect, true, {}, {}, true);
        return;
    }
    for (const lg::FileOpResult &result : std::as_const(gone)) {
        print(QStringLiteral("Error: ") + result.source + QStringLiteral(": ") + result.message);
        sources.removeOne(result.source);
    }
    showAlertForm();
    QPointer<ItemFileCommands> self(this);
    lg::Alert::show(window(), {summary->title, summary->text, {QStringLiteral("OK")}, lg::AlertSpec::Style::Warning},
                    [self, kind, sources, folder](int) {
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        hub->hideBusyLoader();
        if (self && !sources.isEmpty())
            self->runBatch(kind, sources, folder, ClashMode::Collect, true, {}, {}, true);
    });
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
    showAlertForm();
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
                contentHub()->isonlyalert = false;
                contentHub()->hideBusyLoader();
                return;
            }
            self->askAboutDrop(files, destination);
        });
    return true;
}

void ItemFileCommands::askAboutDrop(const QStringList &collected, const QString &destination)
{
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
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        hub->hideBusyLoader();
        if (!self || button != 1)
            return;
        contentController()->searchField->clear();
        showAlertForm();
        self->showCopyOrMoveAlert(collected, destination);
    });
}

void ItemFileCommands::showCopyOrMoveAlert(const QStringList &sources, const QString &targetFolder)
{
    lg::AlertSpec spec;
    spec.style = lg::AlertSpec::Style::Informational;
    spec.title = QStringLiteral("You are draggng and dropping files to the seleced folder. Do you want to Copy or "
                                "Move these files?");
    spec.buttons = {QStringLiteral("Copy"), QStringLiteral("Move"), QStringLiteral("Cancel")};
    QPointer<ItemFileCommands> self(this);
    lg::Alert::show(window(), spec, [self, sources, targetFolder](int button) {
        mainvc *hub = contentHub();
        hub->isonlyalert = false;
        hub->hideBusyLoader();
        if (!self || (button != 0 && button != 1))
            return;
        self->runBatch(button == 0 ? TransferKind::Copy : TransferKind::Move, sources, targetFolder,
                       ClashMode::Collect, true);
    });
}
