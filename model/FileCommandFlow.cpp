// The one flow of a file command: choice, questions, check, run, settle, words.
#include "model/FileCommandFlow.h"

#include "model/CommandSettle.h"
#include "platform/files/names/FileNames.h"
#include "platform/files/names/FolderEntries.h"
#include "platform/files/operations/Trash.h"
#include "platform/runtime/Background.h"
#include "platform/runtime/Console.h"
#include "platform/runtime/Dispatch.h"

#include <QCoreApplication>
#include <QSet>

#include <fcntl.h>
#include <sys/stat.h>
#include <memory>
#include <unistd.h>

namespace {

QString folderOf(const QString &path)
{
    const qsizetype slash = path.lastIndexOf(QLatin1Char('/'));
    return slash > 0 ? path.left(slash) : QStringLiteral("/");
}

QString nameOf(const QString &path)
{
    return path.mid(path.lastIndexOf(QLatin1Char('/')) + 1);
}

// The same file object (device, inode, birth time and type), whatever was
// done to it since.
bool sameFileObject(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    return chosen.sameObject(now) && chosen.birthSeconds == now.birthSeconds
        && chosen.birthNanoseconds == now.birthNanoseconds && chosen.type == now.type;
}

// The same file as chosen, but for what a rename did to it (the inode change
// time moves with a rename, nothing else does).
bool sameButRenamed(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    lg::FileIdentity renamed = now;
    renamed.changedSeconds = chosen.changedSeconds;
    renamed.changedNanoseconds = chosen.changedNanoseconds;
    return renamed == chosen;
}

// The one name in folder under which the chosen file object lies now; none
// when it is not there, or is there under more than one name.
std::optional<QString> renamedWithin(const QString &folder, const lg::FileIdentity &chosen)
{
    std::optional<QString> found;
    bool twice = false;
    const bool read = lg::forEachFolderEntry(folder, [&](const lg::FolderEntry &entry) {
        if (entry.inode != chosen.inode)
            return;   // read without a stat: most entries are other files
        const std::optional<lg::FileIdentity> now = lg::fileIdentityAt(entry.folderFd, entry.name);
        if (!now || !sameFileObject(chosen, *now))
            return;
        twice = found.has_value();
        found = folder + QLatin1Char('/') + lg::FileNames::fromNative(QByteArray(entry.name));
    });
    return !read || twice ? std::nullopt : found;
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

void addClashes(FileCommandPass &pass, const QStringList &clashed, const QString &folder,
                const QHash<QString, ChosenItem> &items)
{
    for (const QString &source : clashed) {
        const QString target = targetIn(folder, source);
        pass.clashes.append({items.value(source, ChosenItem{source, lg::fileIdentity(source)}), target,
                             lg::fileIdentity(target)});
    }
}

} // namespace

ChosenItems chooseItems(const QStringList &paths, bool refuseRawNames)
{
    ChosenItems chosen;
    chosen.items.reserve(paths.size());
    for (const QString &path : paths) {
        if (refuseRawNames && lg::FileNames::hasRawBytes(path)) {
            lg::FileOpResult refused;
            refused.error = lg::FileOpError::Other;
            refused.source = path;
            refused.message = lg::FileNames::notTextMessage(path);
            chosen.refused.append(refused);
            continue;
        }
        chosen.items.append({path, lg::fileIdentity(path)});
    }
    return chosen;
}

SourceNow sourceNow(const ChosenItem &chosen, const QString &goneMessage)
{
    const ChosenFileState state = chosenFileState(chosen.path, chosen.identity);
    if (state == ChosenFileState::Same)
        return {chosen, std::nullopt};
    if (state == ChosenFileState::Gone && chosen.identity) {
        // Renamed within its folder: followed while nothing else changed, and
        // refused under its new name when it was written to as well.
        if (const std::optional<QString> renamed = renamedWithin(folderOf(chosen.path), *chosen.identity)) {
            const std::optional<lg::FileIdentity> now = lg::fileIdentity(*renamed);
            if (now && (sameButRenamed(*chosen.identity, *now) || now->type == S_IFDIR))
                return {{*renamed, now}, std::nullopt};
            return {{*renamed, now}, chosenFileRefusal(*renamed, ChosenFileState::Changed)};
        }
    }
    lg::FileOpResult refusal = chosenFileRefusal(chosen.path, state);
    if (state == ChosenFileState::Gone && !goneMessage.isEmpty())
        refusal.message = goneMessage;
    return {chosen, refusal};
}

QString targetIn(const QString &folder, const QString &source)
{
    return folder + QLatin1Char('/') + nameOf(source);
}

FileCommandPass runTransferPass(lg::FileBatch &batch, const QList<Clash> &items, lg::ConflictPolicy onClash,
                                bool first, const QString &goneMessage)
{
    FileCommandPass pass;
    const QString folder = batch.targetFolder();
    if (first) {
        // The first pass: nothing is asked about yet, the items run together
        // (the batch keeps apart the names they share).
        QStringList sources;
        QHash<QString, ChosenItem> now;
        for (const Clash &item : items) {
            const SourceNow checked = sourceNow(item.source, goneMessage);
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
        const SourceNow checked = sourceNow(item.source, goneMessage);
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
            } else if (!item.targetIdentity || compareChosen(*item.targetIdentity, *held) != ChosenFileState::Same) {
                pass.clashes.append({checked.item, target, held});   // asked about again
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

FileCommandPass runTrashPass(const QList<ChosenItem> &items, const QString &goneMessage)
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
            if (result.error == lg::FileOpError::SourceMissing && !goneMessage.isEmpty())
                result.message = goneMessage;
            pass.results.append(result);
            continue;
        }
        const SourceNow checked = sourceNow(item, goneMessage);
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

std::optional<lg::AlertSpec> commandAlert(const QList<lg::FileOpResult> &told, lg::FileOpKind kind)
{
    QList<lg::FileOpResult> shown;
    shown.reserve(told.size());
    for (lg::FileOpResult result : told) {
        // Said with U+FFFD for each byte of a name that is not valid UTF-8.
        result.source = lg::FileNames::shown(result.source);
        result.target = lg::FileNames::shown(result.target);
        if (!result.ok())
            lg::printLine(QStringLiteral("Error: ") + result.source + QStringLiteral(": ") + result.message);
        shown.append(result);
    }
    const std::optional<lg::BatchSummary> summary = lg::batchSummary(shown, kind);
    if (!summary)
        return std::nullopt;
    lg::AlertSpec spec;
    spec.title = summary->title;
    spec.text = summary->text;
    spec.buttons = {QStringLiteral("OK")};
    spec.style = summary->informational ? lg::AlertSpec::Style::Informational : lg::AlertSpec::Style::Warning;
    return spec;
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
        tell(m_request.chosen.refused, [self] {
            if (self->m_request.chosen.items.isEmpty())
                self->end();
            else
                self->confirm();
        });
    }

private:
    bool alive() const { return m_screen.owner && !lg::isShuttingDown(); }

    QWidget *window() const { return m_screen.window ? m_screen.window() : nullptr; }

    void ask(const lg::AlertSpec &spec, std::function<void(int)> answered)
    {
        if (m_screen.asking)
            m_screen.asking();
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
    void tell(const QList<lg::FileOpResult> &told, std::function<void()> then)
    {
        const std::optional<lg::AlertSpec> spec = commandAlert(told, m_request.kind);
        if (!spec || !alive()) {
            if (alive())
                then();
            else
                end();
            return;
        }
        ask(*spec, [then = std::move(then)](int) { then(); });
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
            items.append({item, {}, std::nullopt});
        run(items, m_request.firstPass, true);
    }

    void run(const QList<Clash> &items, lg::ConflictPolicy policy, bool first = false)
    {
        if (m_screen.working)
            m_screen.working();
        auto self = shared_from_this();
        const lg::FileOpKind kind = m_request.kind;
        const QString gone = m_request.goneMessage;
        const std::shared_ptr<lg::FileBatch> batch = m_batch;
        const auto alsoOffThread = m_screen.alsoOffThread;
        // Back to the application, not to the screen: the command ends (and
        // says so to the screen) even when the screen has gone meanwhile.
        lg::runThenCallback(
            QCoreApplication::instance(),
            [kind, items, policy, first, gone, batch, alsoOffThread] {
                std::pair<FileCommandPass, std::any> out;
                if (kind == lg::FileOpKind::Trash) {
                    QList<ChosenItem> chosen;
                    for (const Clash &item : items)
                        chosen.append(item.source);
                    out.first = runTrashPass(chosen, gone);
                } else {
                    out.first = runTransferPass(*batch, items, policy, first, gone);
                }
                if (alsoOffThread)
                    out.second = alsoOffThread(out.first.results);
                return out;
            },
            [self](const std::pair<FileCommandPass, std::any> &out) { self->ran(out.first, out.second); });
    }

    void ran(const FileCommandPass &pass, const std::any &extra)
    {
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
        tell(told, [self, clashes] {
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
        spec.style = lg::AlertSpec::Style::Informational;
        spec.title = QStringLiteral("File already exists");
        const QString opening = m_request.clashSubject + QStringLiteral(" with the same name already exists in the ")
                              + m_request.clashPlace + QStringLiteral(". ");
        if (replace) {
            spec.text = opening + QStringLiteral("Do you want to replace it with the one you have selected?");
            spec.buttons = {QStringLiteral("Replace"), QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
        } else {
            spec.text = opening + QStringLiteral("Do you want to make a copy of the one you have selected?");
            spec.buttons = {QStringLiteral("Make a Copy"), QStringLiteral("Stop")};
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
