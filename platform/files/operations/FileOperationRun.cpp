// The one alert that sums up a batch's results.
#include "platform/files/operations/FileOperations.h"
#include "platform/files/operations/FileOperationsShared.h"

#include <QStringList>

namespace lg {

using namespace fileops;

std::optional<FailureSummary> failureSummary(const QList<FileOpResult> &results)
{
    QList<const FileOpResult *> failed;
    for (const FileOpResult &r : results) {
        if (!r.ok() && r.error != FileOpError::Cancelled)
            failed.append(&r);
    }
    if (failed.isEmpty())
        return std::nullopt;
    const auto reason = [](const FileOpResult *r) { return QStringLiteral("“%1”: %2").arg(nameOf(r->source), r->message); };
    FailureSummary summary;
    summary.title = QStringLiteral("Some items could not be processed.");
    if (failed.size() == 1) {
        summary.text = QStringLiteral("1 item could not be processed. %1").arg(reason(failed.first()));
        return summary;
    }
    QStringList lines{QStringLiteral("%1 items could not be processed.").arg(failed.size())};
    for (const FileOpResult *r : failed.mid(0, maxFailuresNamed))
        lines.append(reason(r));
    if (failed.size() > maxFailuresNamed)
        lines.append(QStringLiteral("And %1 more.").arg(failed.size() - maxFailuresNamed));
    summary.text = lines.join(QLatin1Char('\n'));
    return summary;
}

std::optional<BatchSummary> batchSummary(const QList<FileOpResult> &results, FileOpKind kind)
{
    QList<const FileOpResult *> notKept;
    for (const FileOpResult &r : results)
        if (r.ok() && r.hasNotKept())
            notKept.append(&r);
    const std::optional<FailureSummary> failed = failureSummary(results);
    if (!failed && notKept.isEmpty())
        return std::nullopt;
    const bool one = notKept.size() == 1;
    const QString done = kind == FileOpKind::Move    ? QStringLiteral("moved")
                         : kind == FileOpKind::Trash ? QStringLiteral("put in the Trash")
                                                     : QStringLiteral("copied");
    QStringList lines;
    for (const FileOpResult *r : notKept.mid(0, maxFailuresNamed))
        lines.append(QStringLiteral("“%1”: %2").arg(nameOf(r->source), r->message));
    if (notKept.size() > maxFailuresNamed)
        lines.append(QStringLiteral("And %1 more.").arg(notKept.size() - maxFailuresNamed));
    BatchSummary summary;
    if (failed) {
        summary.title = failed->title;
        summary.text = failed->text;
        if (!notKept.isEmpty())
            summary.text += QStringLiteral("\n%1 %2, but some of what %3 held could not be kept.\n")
                                .arg(one ? QStringLiteral("1 item was") : QStringLiteral("%1 items were").arg(notKept.size()),
                                     done, one ? QStringLiteral("it") : QStringLiteral("they"))
                            + lines.join(QLatin1Char('\n'));
        return summary;
    }
    summary.informational = true;
    summary.title = one ? QStringLiteral("The item was %1, but some of what it held could not be kept.").arg(done)
                        : QStringLiteral("The items were %1, but some of what they held could not be kept.").arg(done);
    summary.text = lines.join(QLatin1Char('\n'));
    return summary;
}

} // namespace lg
