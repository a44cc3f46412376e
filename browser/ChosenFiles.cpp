#include "browser/ChosenFiles.h"

#include <sys/stat.h>

namespace {

// A folder keeps its identity while entries come and go in it.
bool sameChosen(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    if (chosen.type == S_IFDIR && now.type == S_IFDIR)
        return chosen.sameObject(now) && chosen.birthSeconds == now.birthSeconds
               && chosen.birthNanoseconds == now.birthNanoseconds;
    return chosen == now;
}

} // namespace

QString replacedSinceOpenedMessage()
{
    return QStringLiteral("The item was replaced since it was opened.");
}

ChosenFileState chosenFileState(const QString &path, const std::optional<lg::FileIdentity> &chosen)
{
    const std::optional<lg::FileIdentity> now = lg::fileIdentity(path);
    if (!now)
        return lg::existsOrLink(path) ? ChosenFileState::Same : ChosenFileState::Gone;
    if (chosen && !sameChosen(*chosen, *now))
        return ChosenFileState::Replaced;
    return ChosenFileState::Same;
}

lg::FileOpResult chosenFileRefusal(const QString &path, ChosenFileState state)
{
    lg::FileOpResult failed;
    failed.source = path;
    if (state == ChosenFileState::Gone) {
        failed.error = lg::FileOpError::SourceMissing;
        failed.message = QStringLiteral("The item is no longer where it was opened from.");
    } else {
        failed.error = lg::FileOpError::Other;
        failed.message = replacedSinceOpenedMessage();
    }
    return failed;
}

ChosenIdentities identitiesOf(const QStringList &paths)
{
    ChosenIdentities identities;
    identities.reserve(paths.size());
    for (const QString &path : paths)
        if (const std::optional<lg::FileIdentity> identity = lg::fileIdentity(path))
            identities.insert(path, *identity);
    return identities;
}

std::optional<lg::FileOpResult> refusalIfChanged(const QString &path, const ChosenIdentities &chosen)
{
    const auto found = chosen.constFind(path);
    if (found == chosen.cend())
        return std::nullopt;
    const ChosenFileState state = chosenFileState(path, *found);
    if (state == ChosenFileState::Same)
        return std::nullopt;
    return chosenFileRefusal(path, state);
}
