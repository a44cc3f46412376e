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
// is asked about again. Every refusal is said in the window, in the one
// alert after the run.
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

// A file as the user chose it: its path (by its bytes, lg::FileNames) and its
// identity then (none: nothing was there).
struct ChosenItem
{
    QString path;
    std::optional<lg::FileIdentity> identity;
    bool operator==(const ChosenItem &) const = default;
};

// The items a command will act on, each with its identity now, and the
// refusals of the paths no command acts on: with refuseRawNames, a name that
// is not valid UTF-8 (said with its reason; the screens that act on such a
// name by its bytes pass false). Any thread.
struct ChosenItems
{
    QList<ChosenItem> items;
    QList<lg::FileOpResult> refused;
};
ChosenItems chooseItems(const QStringList &paths, bool refuseRawNames = true);

// The path at which the chosen file is now, or the refusal to act on it: the
// chosen path when the file there is still the one chosen; its new name when
// it was renamed within its folder (found by its device, inode and birth
// time; a file found under two names is not guessed at) and nothing else
// changed, refused as changed under that name when it was written to too;
// otherwise chosenFileRefusal's words, with goneMessage for a file that has
// gone when one is given. Any thread.
struct SourceNow
{
    ChosenItem item;                        // where and what it is now
    std::optional<lg::FileOpResult> refusal;
};
SourceNow sourceNow(const ChosenItem &chosen, const QString &goneMessage = {});

// The target of source in folder (the name the batch first tries).
QString targetIn(const QString &folder, const QString &source);

// An item left for the same-name question, with what its target held when
// the question was put (none: nothing, or it could not be read).
struct Clash
{
    ChosenItem source;
    QString target;
    std::optional<lg::FileIdentity> targetIdentity;
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
// (clash.targetIdentity): a target that changed or came since is not
// replaced but left for the question again; one that went is taken without
// replacing. Names the batch's clash rules put aside come back as clashes,
// their targets' identities read at once.
FileCommandPass runTransferPass(lg::FileBatch &batch, const QList<Clash> &items, lg::ConflictPolicy onClash,
                                bool first, const QString &goneMessage = {});
// Move to Trash for each item in order, each checked right before it goes; at
// the quit the items not started come back Cancelled (blocking, any thread).
// An item that had gone already when it was chosen (no identity) is trashed
// as asked: SourceMissing, which is not told.
FileCommandPass runTrashPass(const QList<ChosenItem> &items, const QString &goneMessage = {});

// Whether the same-name question offers Replace: not when every clash's
// target is the source itself.
bool offersReplace(const QList<Clash> &clashes);

// What the command says, as one alert: the refusals and failures in one
// warning (lg::batchSummary), or the items that arrived without something they
// held as information; none when there is nothing to tell. Each refusal and
// failure is also printed, "Error: <path>: <reason>".
std::optional<lg::AlertSpec> commandAlert(const QList<lg::FileOpResult> &told, lg::FileOpKind kind);

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
    // The words for a source that has gone since it was chosen (empty: the
    // chosen-file refusal's own).
    QString goneMessage;
    // A question asked before anything is done (Move to Trash's); its first
    // button goes on, any other ends the command.
    std::optional<lg::AlertSpec> confirmation;
    // What the first run does with a name the destination holds: Refuse
    // leaves it for the same-name question; KeepBoth (Duplicate) numbers it.
    lg::ConflictPolicy firstPass = lg::ConflictPolicy::Refuse;
};

// The screen's part. Every member may be empty but owner.
struct FileCommandScreen
{
    QPointer<QObject> owner;   // the command ends, silently, when it goes
    std::function<QWidget *()> window;   // the parent of the questions and alerts
    std::function<void()> asking;        // a question or an alert is about to open
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

// Runs the command: the refusals of the choice are said, the confirmation
// asked, the items run, the same-name question asked (and asked again for
// what changed meanwhile), the results settled and told.
void runFileCommand(FileCommandScreen screen, FileCommandRequest request);
