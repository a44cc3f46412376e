// The one flow of a file command: choice, questions, check, run, settle, words.
#include "model/FileCommandFlow.h"

#include "model/CommandSettle.h"
#include "model/ScreenHooks.h"
#include "model/SharedState.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/operations/Trash.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QSet>

#include <sys/stat.h>
#include <algorithm>
#include <memory>

namespace {

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

lg::FileOpResult cancelled(const QString &source, const QString &target = {})
{
    lg::FileOpResult result;
    result.error = lg::FileOpError::Cancelled;
    result.source = source;
    result.target = target;
    result.message = QStringLiteral("Cancelled.");
    return result;
}

// The clash of source with target, as the target is now (what a folder holds too).
Clash clashNow(const ChosenItem &source, const QString &target)
{
    Clash clash{source, target, lg::fileIdentity(target), std::nullopt};
    if (clash.targetIdentity && clash.targetIdentity->type == S_IFDIR)
        clash.targetHeld = folderContents(target);
    return clash;
}

void addClashes(FileCommandPass &pass, const QStringList &clashed, const QString &folder,
                const QHash<QString, ChosenItem> &items)
{
    for (const QString &source : clashed)
        pass.clashes.append(
            clashNow(items.value(source, ChosenItem{source, lg::fileIdentity(source), std::nullopt}),
                     targetIn(folder, source)));
}

// Whether the target of clash holds now what it held when the question was
// put: the same file, and for a folder every entry below it the same.
bool targetAsAsked(const Clash &clash, const lg::FileIdentity &now, const QString &target)
{
    if (!clash.targetIdentity || compareChosen(*clash.targetIdentity, now) != ChosenFileState::Same)
        return false;
    if (now.type != S_IFDIR)
        return true;
    const std::optional<FolderContents> held = folderContents(target);
    return clash.targetHeld && held && holdsTheSame(*clash.targetHeld, *held);
}

} // namespace

QString targetIn(const QString &folder, const QString &source)
{
    return folder + QLatin1Char('/') + nameOf(source);
}

FileCommandPass runTransferPass(lg::FileBatch &batch, const QList<Clash> &items, lg::ConflictPolicy onClash,
                                bool first, ChosenWhen when)
{
    FileCommandPass pass;
    const QString folder = batch.targetFolder();
    if (first) {
        // The first pass: nothing is asked about yet, the items run together
        // (the batch keeps apart the names they share).
        QStringList sources;
        QHash<QString, ChosenItem> now;
        for (const Clash &item : items) {
            const SourceNow checked = sourceNow(item.source, when);
            if (checked.refusal) {
                pass.refused.append(*checked.refusal);
                continue;
            }
            sources.append(checked.item.path);
            now.insert(checked.item.path, checked.item);
        }
        lg::FileBatch::Outcome done = batch.run(sources, onClash);
        pass.results = std::move(done.results);
        addClashes(pass, done.clashes, folder, now);
        return pass;
    }
    // An answer: each item on its own, checked right before it is acted on.
    // What an earlier item of this answer put in the folder is the batch's
    // own: its rules number the next item of that name, never replace it.
    QSet<QString> madeHere;
    for (const Clash &item : items) {
        if (lg::isShuttingDown()) {
            pass.results.append(cancelled(item.source.path, item.target));
            continue;
        }
        const SourceNow checked = sourceNow(item.source, when);
        if (checked.refusal) {
            pass.refused.append(*checked.refusal);
            continue;
        }
        lg::ConflictPolicy policy = onClash;
        if (onClash == lg::ConflictPolicy::Replace) {
            // Replace covers what the target held when the question was put.
            const QString target = targetIn(folder, checked.item.path);
            const std::optional<lg::FileIdentity> held = lg::fileIdentity(target);
            if (madeHere.contains(target)) {
                // the batch's own name: numbered by its rules
            } else if (target != item.target || !held) {
                policy = lg::ConflictPolicy::Refuse;   // another name, or nothing there: taken as it comes
            } else if (item.targetHeld && !item.targetHeld->complete) {
                lg::FileOpResult refused;
                refused.error = lg::FileOpError::Other;
                refused.source = checked.item.path;
                refused.target = target;
                refused.message = tooManyToCheckMessage();
                pass.refused.append(refused);
                continue;
            } else if (!targetAsAsked(item, *held, target)) {
                pass.clashes.append(clashNow(checked.item, target));   // asked about again
                continue;
            }
        }
        lg::FileBatch::Outcome done = batch.run({checked.item.path}, policy);
        for (const lg::FileOpResult &result : std::as_const(done.results))
            if (result.arrived())
                madeHere.insert(result.target);
        pass.results.append(done.results);
        addClashes(pass, done.clashes, folder, {{checked.item.path, checked.item}});
    }
    return pass;
}

FileCommandPass runTrashPass(const QList<ChosenItem> &items, ChosenWhen when)
{
    FileCommandPass pass;
    for (const ChosenItem &item : items) {
        if (lg::isShuttingDown()) {
            pass.results.append(cancelled(item.path));
            continue;
        }
        if (!item.identity) {
            // Nothing was there when it was chosen: what was asked is so
            // already, which the settle does not tell.
            lg::FileOpResult result = lg::moveToTrash(item.path);
            if (result.error == lg::FileOpError::SourceMissing)
                result.message = goneMessage(when);
            pass.results.append(result);
            continue;
        }
        const SourceNow checked = sourceNow(item, when);
        if (checked.refusal)
            pass.refused.append(*checked.refusal);
        else
            pass.results.append(lg::moveToTrash(checked.item.path));
    }
    return pass;
}

bool offersReplace(const QList<Clash> &clashes)
{
    for (const Clash &clash : clashes) {
        const bool itself = clash.source.identity && clash.targetIdentity
                         && clash.source.identity->sameObject(*clash.targetIdentity);
        if (!itself)
            return true;
    }
    return false;
}

std::optional<lg::AlertSpec> commandAlert(const QList<lg::FileOpResult> &told, std::optional<lg::FileOpKind> kind)
{
    QList<lg::FileOpResult> shown;
    shown.reserve(told.size());
    for (lg::FileOpResult result : told) {
        // Said with U+FFFD for each byte of a name that is not valid UTF-8.
        result.source = lg::FileNames::shown(result.source);
        result.target = lg::FileNames::shown(result.target);
        if (!result.ok())
            lg::printLine(QStringLiteral("Error: ") + result.source + QStringLiteral(": ") + result.message);
        else if (!kind)
            continue;   // refusals only: nothing was done that could be told
        shown.append(result);
    }
    // The kind names only what arrived without all it held; refusals alone
    // are words of failure, whatever the command.
    const std::optional<lg::BatchSummary> summary = lg::batchSummary(shown, kind.value_or(lg::FileOpKind::Copy));
    if (!summary)
        return std::nullopt;
    lg::AlertSpec spec;
    spec.title = summary->title;
    spec.text = summary->text;
    spec.buttons = {QStringLiteral("OK")};
    spec.style = summary->informational ? lg::AlertSpec::Style::Informational : lg::AlertSpec::Style::Warning;
    return spec;
}

void tellFileCommand(QWidget *window, const QList<lg::FileOpResult> &told, std::optional<lg::FileOpKind> kind,
                     std::function<void()> then)
{
    const std::optional<lg::AlertSpec> spec = commandAlert(told, kind);
    if (!spec) {
        if (then)
            then();
        return;
    }
    showOverlay(Overlay::Sheet);
    lg::Alert::show(window, *spec, [then = std::move(then)](int) {
        showOverlay(Overlay::Hidden);
        if (then)
            then();
    });
}

// ---------------------------------------------------------------- the flow

namespace {

class Flow : public std::enable_shared_from_this<Flow>
{
public:
    Flow(FileCommandScreen screen, FileCommandRequest request)
        : m_screen(std::move(screen)), m_request(std::move(request))
    {
        if (m_request.kind != lg::FileOpKind::Trash)
            m_batch = std::make_shared<lg::FileBatch>(m_request.kind, m_request.targetFolder, m_request.listedNames);
    }

    void start()
    {
        auto self = shared_from_this();
        tell(m_request.chosen.refused, std::nullopt, [self] {
            if (self->m_request.chosen.items.isEmpty())
                self->end();
            else
                self->readWhatFoldersHold();
        });
    }

private:
    bool alive() const { return m_screen.owner && !lg::isShuttingDown(); }

    QWidget *window() const { return m_screen.window ? m_screen.window() : nullptr; }

    void ask(const lg::AlertSpec &spec, std::function<void(int)> answered)
    {
        showOverlay(Overlay::Sheet);
        auto self = shared_from_this();
        lg::Alert::show(window(), spec, [self, answered = std::move(answered)](int button) {
            if (!self->alive()) {
                self->end();
                return;
            }
            answered(button);
        });
    }

    // Says told in one alert, then goes on; at once when there is nothing to say.
    void tell(const QList<lg::FileOpResult> &told, std::optional<lg::FileOpKind> kind, std::function<void()> then)
    {
        const std::optional<lg::AlertSpec> spec = commandAlert(told, kind);
        if (!spec || !alive()) {
            if (alive())
                then();
            else
                end();
            return;
        }
        ask(*spec, [then = std::move(then)](int) { then(); });
    }

    // A folder to be trashed goes with what it holds when the question is
    // put: that is read first, off the main thread.
    void readWhatFoldersHold()
    {
        const auto isFolder = [](const ChosenItem &item) {
            return item.identity && item.identity->type == S_IFDIR && !item.held;
        };
        const QList<ChosenItem> &items = m_request.chosen.items;
        if (m_request.kind != lg::FileOpKind::Trash || std::none_of(items.cbegin(), items.cend(), isFolder)) {
            confirm();
            return;
        }
        // Read on the pool, behind the spinner: the command is under way.
        showOverlay(Overlay::Work);
        isFileOperationRunning = true;
        auto self = shared_from_this();
        lg::runThenCallback(
            QCoreApplication::instance(),
            [items, isFolder] {
                QList<ChosenItem> read = items;
                for (ChosenItem &item : read)
                    if (isFolder(item) && !lg::isShuttingDown())
                        item.held = folderContents(item.path);
                return read;
            },
            [self](const QList<ChosenItem> &read) {
                isFileOperationRunning = false;
                if (!self->alive()) {
                    self->end();
                    return;
                }
                self->m_request.chosen.items = read;
                self->confirm();
            });
    }

    void confirm()
    {
        if (!m_request.confirmation) {
            firstPass();
            return;
        }
        auto self = shared_from_this();
        ask(*m_request.confirmation, [self](int button) {
            if (button == 0)
                self->firstPass();
            else
                self->end();
        });
    }

    void firstPass()
    {
        QList<Clash> items;
        items.reserve(m_request.chosen.items.size());
        for (const ChosenItem &item : std::as_const(m_request.chosen.items))
            items.append({item, {}, std::nullopt, std::nullopt});
        run(items, m_request.firstPass, true);
    }

    void run(const QList<Clash> &items, lg::ConflictPolicy policy, bool first = false)
    {
        showOverlay(Overlay::Work);
        isFileOperationRunning = true;
        if (m_screen.working)
            m_screen.working();
        auto self = shared_from_this();
        const lg::FileOpKind kind = m_request.kind;
        const ChosenWhen when = m_request.chosenWhen;
        const std::shared_ptr<lg::FileBatch> batch = m_batch;
        const auto alsoOffThread = m_screen.alsoOffThread;
        // Back to the application, not to the screen: the command ends (and
        // says so to the screen) even when the screen has gone meanwhile.
        lg::runThenCallback(
            QCoreApplication::instance(),
            [kind, items, policy, first, when, batch, alsoOffThread] {
                std::pair<FileCommandPass, std::any> out;
                if (kind == lg::FileOpKind::Trash) {
                    QList<ChosenItem> chosen;
                    for (const Clash &item : items)
                        chosen.append(item.source);
                    out.first = runTrashPass(chosen, when);
                } else {
                    out.first = runTransferPass(*batch, items, policy, first, when);
                }
                if (alsoOffThread)
                    out.second = alsoOffThread(out.first.results);
                return out;
            },
            [self](const std::pair<FileCommandPass, std::any> &out) { self->ran(out.first, out.second); });
    }

    void ran(const FileCommandPass &pass, const std::any &extra)
    {
        isFileOperationRunning = false;
        // The thumbnails follow what arrived; then the screen, then the words.
        QList<lg::FileOpResult> told = pass.refused;
        told.append(settleCommand(m_request.kind, pass.results));
        if (!alive()) {
            end();
            return;
        }
        if (m_screen.settled)
            m_screen.settled(pass.results + pass.refused, extra);
        auto self = shared_from_this();
        const QList<Clash> clashes = pass.clashes;
        tell(told, m_request.kind, [self, clashes] {
            if (clashes.isEmpty())
                self->end();
            else
                self->askAboutClashes(clashes);
            if (self->m_screen.passDone)
                self->m_screen.passDone();
        });
    }

    void askAboutClashes(const QList<Clash> &clashes)
    {
        const bool replace = offersReplace(clashes);
        lg::AlertSpec spec;
        if (m_request.clashQuestion) {
            spec = *m_request.clashQuestion;
            if (!replace && !spec.buttons.isEmpty())
                spec.buttons.removeFirst();
        } else {
            spec.style = lg::AlertSpec::Style::Informational;
            spec.title = QStringLiteral("File already exists");
            const QString opening = m_request.clashSubject
                                  + QStringLiteral(" with the same name already exists in the ")
                                  + m_request.clashPlace + QStringLiteral(". ");
            if (replace) {
                spec.text = opening + QStringLiteral("Do you want to replace it with the one you have selected?");
                spec.buttons = {QStringLiteral("Replace"), QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
            } else {
                spec.text = opening + QStringLiteral("Do you want to make a copy of the one you have selected?");
                spec.buttons = {QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
            }
        }
        auto self = shared_from_this();
        ask(spec, [self, replace, clashes](int button) {
            const int answer = replace ? button : button + 1;   // 0 Replace, 1 Make a Copy, 2 Stop
            if (answer == 0)
                self->run(clashes, lg::ConflictPolicy::Replace);
            else if (answer == 1)
                self->run(clashes, lg::ConflictPolicy::KeepBoth);
            else
                self->end();
        });
    }

    void end()
    {
        if (std::exchange(m_ended, true))
            return;
        // Also when the screen has gone: the running flag and the overlay go.
        isFileOperationRunning = false;
        showOverlay(Overlay::Hidden);
        if (m_screen.ended)
            m_screen.ended();
    }

    FileCommandScreen m_screen;
    FileCommandRequest m_request;
    std::shared_ptr<lg::FileBatch> m_batch;
    bool m_ended = false;
};

} // namespace

void runFileCommand(FileCommandScreen screen, FileCommandRequest request)
{
    std::make_shared<Flow>(std::move(screen), std::move(request))->start();
}
