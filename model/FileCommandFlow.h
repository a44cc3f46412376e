#pragma once
// The flow of a file command, written once for every screen: the items as
// chosen (by identity), a question asked first where the command has one, the
// same-name question and what its answer covers, the check right before
// acting, the run, the settle and the words. A screen hands over its items
// and its part (where the alerts go, what it shows around the work, how it
// brings itself in line with the disk); the steps are the flow's, so a screen
// cannot leave one out.
//
// An answer covers the items as they were when it was asked: a source that
// is no longer the file chosen is refused (one renamed within its folder,
// nothing else having changed, is followed to its new name), and a target
// that changed after the same-name question was asked is never replaced: it
// is asked about again. A folder is asked about with every entry below it
// (model/ChosenFiles.h): one that gained, lost or changed an entry is asked
// about again, or, to be trashed, refused. Every refusal is said in the
// window, in the one alert after the run.
//
// Entry points are main thread only; the file work runs on the pool, and the
// flow ends quietly when the screen's owner object goes or the quit begins.
#include "model/ChosenFiles.h"
#include "platform/desktop/Alert.h"
#include "platform/files/operations/FileBatch.h"
#include "platform/files/operations/FileOperations.h"

#include <QList>
#include <QObject>
#include <QPointer>
#include <QString>
#include <QStringList>

#include <any>
#include <functional>
#include <optional>

class QWidget;

// The target of source in folder (the name the batch first tries).
QString targetIn(const QString &folder, const QString &source);

// An item left for the same-name question, with what its target held when
// the question was put (none: nothing, or it could not be read).
struct Clash
{
    ChosenItem source;
    QString target;
    std::optional<lg::FileIdentity> targetIdentity;
    std::optional<FolderContents> targetHeld = std::nullopt;   // for a folder: what it held
};

// What one pass gives back: a result per item tried, the refusals of the
// check right before acting, and the clashes.
struct FileCommandPass
{
    QList<lg::FileOpResult> results;   // the file layers' results
    QList<lg::FileOpResult> refused;   // items found not to be as chosen: never acted on, always told
    QList<Clash> clashes;
};

// One pass of a Copy or Move with onClash (blocking, any thread). Every item
// is checked right before it is acted on (sourceNow). In the first pass
// (first) the items run together through batch; an answer runs them one by
// one. With Replace, each item's
// target is compared with what it held when the question was asked
// (clash.targetIdentity, and for a folder every entry below it): a target
// that changed or came since is not replaced but left for the question
// again; one that went is taken without replacing; a folder too large to be
// checked is refused. Names the batch's clash rules put aside come back as
// clashes, what their targets hold read at once.
FileCommandPass runTransferPass(lg::FileBatch &batch, const QList<Clash> &items, lg::ConflictPolicy onClash,
                                bool first, ChosenWhen when = ChosenWhen::Shown);
// Move to Trash for each item in order, each checked right before it goes; at
// the quit the items not started come back Cancelled (blocking, any thread).
// An item that had gone already when it was chosen (no identity) is trashed
// as asked: SourceMissing, which is not told. A folder chosen with what it
// held goes only while it holds that.
FileCommandPass runTrashPass(const QList<ChosenItem> &items, ChosenWhen when = ChosenWhen::Shown);

// Whether the same-name question offers Replace: not when every clash's
// target is the source itself.
bool offersReplace(const QList<Clash> &clashes);

// What the command of kind says, as one alert: the refusals and failures in
// one warning (lg::batchSummary), or the items that arrived without something
// they held as information; none when there is nothing to tell. Without a
// kind, told holds refusals of a command that never began. Each refusal and
// failure is also printed, "Error: <path>: <reason>".
std::optional<lg::AlertSpec> commandAlert(const QList<lg::FileOpResult> &told,
                                          std::optional<lg::FileOpKind> kind = std::nullopt);

// Says commandAlert(told, kind) in the window over the dimmed overlay, then
// calls then (at once when there is nothing to say). The one way a file
// command's words reach the window. Main thread.
void tellFileCommand(QWidget *window, const QList<lg::FileOpResult> &told, std::optional<lg::FileOpKind> kind,
                     std::function<void()> then = {});

// What a screen asks for.
struct FileCommandRequest
{
    lg::FileOpKind kind = lg::FileOpKind::Copy;
    ChosenItems chosen;
    QString targetFolder;      // Copy and Move
    QStringList listedNames;   // names that count as taken besides the disk's
    // The same-name question: "<clashSubject> with the same name already
    // exists in the <clashPlace>. ..."
    QString clashSubject = QStringLiteral("A file");
    QString clashPlace = QStringLiteral("destination folder");
    // When the items were chosen, for the words of one that has gone since.
    ChosenWhen chosenWhen = ChosenWhen::Chosen;
    // A question asked before anything is done (Move to Trash's); its first
    // button goes on, any other ends the command.
    std::optional<lg::AlertSpec> confirmation;
    // The same-name question in the screen's own words (none: the words
    // above); its buttons stand for Replace, Make a Copy and Stop, in that
    // order, and without Replace where it is not offered.
    std::optional<lg::AlertSpec> clashQuestion;
    // What the first run does with a name the destination holds: Refuse
    // leaves it for the same-name question; KeepBoth (Duplicate) numbers it.
    lg::ConflictPolicy firstPass = lg::ConflictPolicy::Refuse;
};

// The screen's part. Every member may be empty but owner. The flow itself
// dims the window under its questions and alerts, shows the spinner while it
// runs, hides the overlay at the end (ScreenHooks), and holds
// isFileOperationRunning while the disk work runs.
struct FileCommandScreen
{
    QPointer<QObject> owner;   // the command ends, silently, when it goes
    std::function<QWidget *()> window;   // the parent of the questions and alerts
    std::function<void()> working;       // a run is about to start
    // After each run, on the pool: what the screen needs read from the disk
    // about the results (it gets it back in settled).
    std::function<std::any(const QList<lg::FileOpResult> &results)> alsoOffThread;
    // After each run, on the main thread, the thumbnails already settled:
    // the screen brings itself in line with the disk. results: the file
    // layers' results, then the refusals of the check.
    std::function<void(const QList<lg::FileOpResult> &results, const std::any &extra)> settled;
    // After each run's words, once the same-name question (if any) is up or
    // the command has ended.
    std::function<void()> passDone;
    // The command is over: nothing more is asked or shown. Called in every
    // case, also when owner has gone (it must not assume it is there).
    std::function<void()> ended;
};

// Runs the command: the refusals of the choice are said, what the folders
// to be trashed hold is read (off the main thread), the confirmation asked, the items run, the same-name question asked (and asked again for
// what changed meanwhile), the results settled and told.
void runFileCommand(FileCommandScreen screen, FileCommandRequest request);
