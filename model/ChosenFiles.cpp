#include "model/ChosenFiles.h"

#include "platform/files/names/FileNames.h"

#include <fcntl.h>
#include <sys/stat.h>

QString replacedSinceOpenedMessage()
{
    return QStringLiteral("The item was replaced since it was opened.");
}

QString changedSinceOpenedMessage()
{
    return QStringLiteral("The item was changed since it was opened.");
}

ChosenFileState compareChosen(const lg::FileIdentity &chosen, const lg::FileIdentity &now)
{
    if (!chosen.sameObject(now) || chosen.birthSeconds != now.birthSeconds
        || chosen.birthNanoseconds != now.birthNanoseconds || chosen.type != now.type)
        return ChosenFileState::Replaced;
    if (chosen.type == S_IFDIR)
        return ChosenFileState::Same;
    return chosen == now ? ChosenFileState::Same : ChosenFileState::Changed;
}

QString nameIsNotTextMessage(const QString &path)
{
    return lg::FileNames::notTextMessage(path);
}

ChosenFileState chosenFileState(const QString &path, const std::optional<lg::FileIdentity> &chosen)
{
    const std::optional<lg::FileIdentity> now = lg::fileIdentity(path);
    if (!now) {
        return lg::existsOrLink(path) ? ChosenFileState::Same : ChosenFileState::Gone;
    }
    return chosen ? compareChosen(*chosen, *now) : ChosenFileState::Same;
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
        failed.message = state == ChosenFileState::Changed ? changedSinceOpenedMessage() : replacedSinceOpenedMessage();
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
