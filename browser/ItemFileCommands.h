#pragma once
// The file commands of the content browser: Duplicate, Move to Trash, Move To,
// Copy To, paste from the clipboard, files dropped from other programs, and the
// same-name sheet ("Replace", "Make a Copy", "Stop") that settles clashes.
//
// A command turns the selection (or the clipboard, or the drop) into file
// paths on the main thread when it is chosen, before any question or panel
// (a reload meanwhile changes nothing), then runs the file work on a
// background thread through the file-operations and Trash layers behind the
// hub's busy overlay, with the folder monitor stopped. The result comes back on
// the main thread: the visible view reloads, the monitor restarts, items that
// failed are summed up in one alert, and clashes go to the same-name sheet.
// Entry points are main thread only.
#include "model/ChosenFiles.h"
#include "model/CommandSettle.h"
#include "platform/files/FileBatch.h"
#include "platform/files/FileOperations.h"

#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QUrl>
#include <functional>
#include <memory>

struct BrowseView;
class QWidget;

// How a batch treats a name the destination held before the batch began (the
// batch's rules are lg::FileBatch's: items of the batch never replace each other).
enum class ClashMode {
    Collect,    // leave the item for the same-name sheet
    Replace,    // replace the target (never the source itself, never a folder)
    MakeCopy,   // the first free numbered name ("photo 2.jpg")
};

enum class TransferKind { Copy, Move, Trash };

struct TransferOutcome
{
    QList<lg::FileOpResult> results;   // one per item that was tried
    QStringList clashes;               // sources whose name is taken at the target (Collect)
    std::shared_ptr<lg::FileBatch> batch;   // goes on with the answer to the clashes
};

// The file work of one batch; any thread, blocking. listedNames are names that
// count as taken besides the disk's (the current listing), compared ignoring
// case. batch: the batch of the first pass, for the answer to its clashes.
// chosen: the identities the sources had when the command was chosen; a
// source that is no longer that file is refused (chosenFileRefusal), checked
// just before it is acted on.
TransferOutcome runTransfer(TransferKind kind, const QStringList &sources, const QString &targetFolder,
                            ClashMode mode, const QStringList &listedNames = {},
                            std::shared_ptr<lg::FileBatch> batch = {}, const ChosenIdentities &chosen = {});

// The command kind settled for a transfer kind.
FileCommand commandOf(TransferKind kind);
// The results worth telling the user about (failuresToTell): a clash is
// settled by the sheet and is no result.
QList<lg::FileOpResult> reportableFailures(const QList<lg::FileOpResult> &results,
                                           TransferKind kind = TransferKind::Copy);

class ItemFileCommands : public QObject
{
    Q_OBJECT
public:
    // A path whose name is not valid UTF-8 is refused, said in the window
    // (what the name is and what to do); true then, and the caller does nothing.
    bool sayNameIsNotText(const QString &path);
    explicit ItemFileCommands(QObject *parent = nullptr);

    // The instance of the content controller.
    static ItemFileCommands *instance();

    void duplicateItems(const BrowseView &view);
    // Asks first; on "Yes" the files selected when it was chosen go to the Trash.
    void trashItems(const BrowseView &view);
    void moveItemsTo(const BrowseView &view);
    void copyItemsTo(const BrowseView &view);
    // The clipboard's media files into the current folder (moved when cut).
    void pasteItems();
    // Files dropped on the grid or the list from outside. True when the drop is
    // taken; false (no message) when it is refused.
    bool acceptDrop(const QList<QUrl> &urls);

    // Runs a batch behind the overlay; then the common ending, with clashes
    // going to the same-name sheet for targetFolder. fromClipboard: the sources
    // were copied or cut (a source gone meanwhile is said in those words).
    // chosen: as runTransfer's. Public for the benchmark.
    void runBatch(TransferKind kind, const QStringList &sources, const QString &targetFolder, ClashMode mode,
                  bool currentFolderSheet, std::function<void()> done = {},
                  std::shared_ptr<lg::FileBatch> batch = {}, bool fromClipboard = false,
                  const ChosenIdentities &chosen = {});

    // The same-name sheet for the pending clashes.
    void alertSameFile();

Q_SIGNALS:
    // A batch has finished and its ending has run (tests wait for it).
    void batchFinished();

private:
    void finishBatch(TransferOutcome outcome, TransferKind kind, const QString &targetFolder,
                     bool currentFolderSheet, bool fromClipboard, const std::function<void()> &done,
                     const ChosenIdentities &chosen);
    // The questions of a drop (the search one, then Copy or Move), the overlay up.
    void askAboutDrop(const QStringList &sources, const QString &targetFolder);
    void showCopyOrMoveAlert(const QStringList &sources, const QString &targetFolder);
    void chooseAndTransfer(const BrowseView &view, bool move);
    // Says refused (commands refused before they began) in one alert, then
    // goes on with then; then at once when nothing was refused.
    // "Move to Trash?" for paths, then the batch for those still as chosen.
    void askAboutTrash(const QStringList &paths, const ChosenIdentities &chosen);
    // The folder panel of Move To (move) or Copy To, then the batch for paths.
    void chooseDestinationFor(const QStringList &paths, bool move, const ChosenIdentities &identities);
    void sayRefusedThen(const QList<lg::FileOpResult> &refused, std::function<void()> then);
    QWidget *window() const;

    // The pending clashes of the last batch.
    QStringList m_pending;
    std::shared_ptr<lg::FileBatch> m_pendingBatch;
    QString m_pendingFolder;
    TransferKind m_pendingKind = TransferKind::Copy;
    bool m_pendingCurrentFolder = true;
    bool m_pendingFromClipboard = false;
    ChosenIdentities m_pendingChosen;
    int m_generation = 0;
};
